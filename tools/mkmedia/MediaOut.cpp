#include "MediaOut.h"

#include <irrlicht.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace mkmedia {

namespace {

void makeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string dir = path.substr(0, slash);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create folder '" + dir + "'");
        }
    }
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

std::string MediaOut::fullPath(const std::string& path) const {
    return root + "/" + path;
}

void MediaOut::writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) const {
    const std::string full = fullPath(path);
    makeParents(full);
    std::ofstream file(full, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write '" + full + "'");
    }
}

void MediaOut::writeText(const std::string& path, const std::string& text) const {
    writeBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void MediaOut::writeImage(const std::string& path, const Image& image, int32_t jpgQuality) const {
    const std::string full = fullPath(path);
    makeParents(full);
    irr::video::IVideoDriver* driver = device->getVideoDriver();
    irr::video::IImage* img = driver->createImage(
        irr::video::ECF_A8R8G8B8, irr::core::dimension2d<irr::u32>(image.width, image.height));
    if (img == nullptr) {
        throw std::runtime_error("cannot make image for '" + full + "'");
    }
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgba[(static_cast<size_t>(y) * image.width + x) * 4];
            img->setPixel(x, y, irr::video::SColor(p[3], p[0], p[1], p[2]));
        }
    }
    const bool ok = driver->writeImageToFile(img, full.c_str(), static_cast<irr::u32>(jpgQuality));
    img->drop();
    if (!ok) {
        throw std::runtime_error("cannot write '" + full + "'");
    }
}

void MediaOut::writeWav(const std::string& path, int32_t sampleRate, int32_t channels,
                        const std::vector<int16_t>& samples) const {
    std::vector<uint8_t> out;
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put32(out, 36 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, static_cast<uint32_t>(channels));
    put32(out, static_cast<uint32_t>(sampleRate));
    put32(out, static_cast<uint32_t>(sampleRate * channels * 2));
    put16(out, static_cast<uint32_t>(channels * 2));
    put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put32(out, dataBytes);
    for (int16_t s : samples) {
        put16(out, static_cast<uint16_t>(s));
    }
    writeBytes(path, out);
}

std::string fixed(double value, int decimals) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.setf(std::ios::fixed);
    text.precision(decimals);
    text << value;
    return text.str();
}

}  // namespace mkmedia

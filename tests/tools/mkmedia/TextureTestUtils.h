// Read-back helpers for the generated textures and terrain: one null device
// for the test program and decoded images with plain pixel access.
#pragma once

#include <irrlicht.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace texturetest {

inline std::string mediaPath(const std::string& relative) {
    return std::string(TARNWELL_MEDIA_DIR) + "/" + relative;
}

// A test name from a media path: "terrain/t33x33.jpg" -> "terrain_t33x33_jpg".
inline std::string testName(const std::string& path) {
    std::string name;
    for (char c : path) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class DeviceHolder {
public:
    DeviceHolder() {
        irr::SIrrlichtCreationParameters params;
        params.DriverType = irr::video::EDT_NULL;
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
    }
    ~DeviceHolder() {
        if (device != nullptr) {
            device->drop();
        }
    }
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    irr::IrrlichtDevice* device = nullptr;
};

inline irr::IrrlichtDevice* nullDevice() {
    static DeviceHolder holder;
    return holder.device;
}

// A decoded image; rows top to bottom.
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    irr::video::ECOLOR_FORMAT format = irr::video::ECF_UNKNOWN;
    std::vector<irr::video::SColor> data;

    irr::video::SColor at(int32_t x, int32_t y) const { return data[static_cast<size_t>(y) * width + x]; }
    bool painted(int32_t x, int32_t y) const { return at(x, y).getAlpha() > 0; }
    bool black(int32_t x, int32_t y) const {
        const irr::video::SColor c = at(x, y);
        return c.getRed() == 0 && c.getGreen() == 0 && c.getBlue() == 0;
    }
};

// Decodes a file of the tree through the engine's own loaders; an empty
// result (width 0) when it cannot be read.
inline Pixels loadPixels(const std::string& relative) {
    Pixels pixels;
    irr::video::IImage* image =
        nullDevice()->getVideoDriver()->createImageFromFile(mediaPath(relative).c_str());
    if (image == nullptr) {
        return pixels;
    }
    pixels.width = static_cast<int32_t>(image->getDimension().Width);
    pixels.height = static_cast<int32_t>(image->getDimension().Height);
    pixels.format = image->getColorFormat();
    pixels.data.reserve(static_cast<size_t>(pixels.width) * pixels.height);
    for (int32_t y = 0; y < pixels.height; ++y) {
        for (int32_t x = 0; x < pixels.width; ++x) {
            pixels.data.push_back(image->getPixel(static_cast<irr::u32>(x), static_cast<irr::u32>(y)));
        }
    }
    image->drop();
    return pixels;
}

}  // namespace texturetest

#include "client/mediamanifest.h"

#include "platform/regularfile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// No file of the media comes near this (the largest is a few hundred
// kilobytes, the manifest a few); it bounds the manifest's own read and the
// generator's, which have no listed size to hold them.
constexpr uint64_t kLargestMediaFile = uint64_t(64) << 20;

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool endsWithNoCase(const std::string& text, const char* suffix) {
    const std::string end(suffix);
    if (text.size() < end.size()) {
        return false;
    }
    return std::equal(
        end.begin(), end.end(), text.end() - static_cast<std::ptrdiff_t>(end.size()),
        [](char lower, char c) { return std::tolower(static_cast<unsigned char>(c)) == lower; });
}

uint32_t bigEndian(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    }
    return value;
}

bool sideFits(uint32_t side) {
    return side >= 1 && side <= MEDIA_MAX_IMAGE_SIDE;
}

bool pngFits(const std::string& bytes) {
    static const char kSignature[] = "\x89PNG\r\n\x1a\n";
    // Signature, then the IHDR chunk: length 13, type, width, height.
    if (bytes.size() < 8 + 8 + 8 || bytes.compare(0, 8, kSignature, 8) != 0) {
        return false;
    }
    return bigEndian(bytes, 8, 4) == 13 && bytes.compare(12, 4, "IHDR") == 0 &&
           sideFits(bigEndian(bytes, 16, 4)) && sideFits(bigEndian(bytes, 20, 4));
}

bool isFrameHeader(uint8_t marker) {
    // SOF0-SOF15 without DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool jpegFits(const std::string& bytes) {
    const size_t size = bytes.size();
    if (size < 4 || static_cast<uint8_t>(bytes[0]) != 0xFF || static_cast<uint8_t>(bytes[1]) != 0xD8 ||
        static_cast<uint8_t>(bytes[size - 2]) != 0xFF || static_cast<uint8_t>(bytes[size - 1]) != 0xD9) {
        return false;
    }
    bool frame = false;
    size_t at = 2;
    // Header segments up to the first scan; each is FF, marker, 16-bit length
    // that counts itself.
    while (at + 4 <= size) {
        if (static_cast<uint8_t>(bytes[at]) != 0xFF) {
            return false;
        }
        const uint8_t marker = static_cast<uint8_t>(bytes[at + 1]);
        if (marker == 0xFF) {
            ++at;  // fill byte
            continue;
        }
        const uint32_t length = bigEndian(bytes, at + 2, 2);
        if (length < 2 || at + 2 + length > size) {
            return false;
        }
        if (isFrameHeader(marker)) {
            // Precision, height, width; a height of 0 would be defined later
            // in the scan, which the loader does not expect.
            if (length < 8 || frame) {
                return false;
            }
            frame = sideFits(bigEndian(bytes, at + 5, 2)) && sideFits(bigEndian(bytes, at + 7, 2));
            if (!frame) {
                return false;
            }
        }
        if (marker == 0xDA) {
            return frame;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace

uint64_t mediaChecksum(const std::string& bytes) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string mediaManifestOf(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> lines;  // sorted by path
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().lexically_relative(root).generic_string();
        if (!entry.is_regular_file() || path == MEDIA_MANIFEST_FILE) {
            continue;
        }
        std::string bytes;
        if (!readRegularFile(entry.path().c_str(), kLargestMediaFile, bytes)) {
            throw std::runtime_error("cannot read '" + entry.path().string() + "'");
        }
        char head[48];
        std::snprintf(head, sizeof(head), "%016llx %llu ",
                      static_cast<unsigned long long>(mediaChecksum(bytes)),
                      static_cast<unsigned long long>(bytes.size()));
        lines[path] = head + path + "\n";
    }
    std::string text;
    for (const auto& line : lines) {
        text += line.second;
    }
    return text;
}

bool mediaImageHeaderFits(const std::string& path, const std::string& bytes) {
    if (endsWithNoCase(path, ".png")) {
        return pngFits(bytes);
    }
    if (endsWithNoCase(path, ".jpg")) {
        return jpegFits(bytes);
    }
    return true;
}

void MediaManifest::read(const std::string& rootPath) {
    std::string text;
    readRegularFile((rootPath + "/" + MEDIA_MANIFEST_FILE).c_str(), kLargestMediaFile, text);
    parse(rootPath, text);
}

void MediaManifest::parse(const std::string& rootPath, const std::string& text) {
    root = rootPath;
    files.clear();
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned long long checksum = 0, size = 0;
        int sizeEnd = 0;
        // Exactly one space on either side of the size.
        if (line.size() > 17 && line[16] == ' ' && line[17] != ' ' &&
            std::sscanf(line.c_str(), "%16llx %llu%n", &checksum, &size, &sizeEnd) == 2 &&
            static_cast<size_t>(sizeEnd) + 1 < line.size() && line[static_cast<size_t>(sizeEnd)] == ' ') {
            files[line.substr(static_cast<size_t>(sizeEnd) + 1)] = Entry{size, checksum};
        }
    }
}

const MediaManifest::Entry* MediaManifest::entryOf(const std::string& path) const {
    const std::string prefix = root + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) {
        return nullptr;
    }
    const auto found = files.find(path.substr(prefix.size()));
    return found != files.end() ? &found->second : nullptr;
}

bool MediaManifest::readIntact(const std::string& path, std::string& bytes) const {
    // The listed size bounds the read: a file that has grown, or never ends,
    // is refused by its size before a byte is read.
    const Entry* entry = entryOf(path);
    return entry != nullptr && readRegularFile(path.c_str(), entry->size, bytes) &&
           bytes.size() == entry->size && entry->checksum == mediaChecksum(bytes) &&
           mediaImageHeaderFits(path, bytes);
}

bool MediaManifest::fileIntact(const std::string& path) const {
    std::string bytes;
    return readIntact(path, bytes);
}

bool MediaManifest::meshIntact(const std::string& path) const {
    std::string text;
    if (!readIntact(path, text)) {
        return false;
    }
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    // The mesh matched its line, so its texture names are the generator's:
    // TextureFilename { "name"; }, in either spelling of the word.
    for (const char* keyword : {"TextureFilename", "TextureFileName"}) {
        for (size_t at = text.find(keyword); at != std::string::npos; at = text.find(keyword, at + 1)) {
            const size_t open = text.find('"', at);
            const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
            if (close == std::string::npos) {
                return false;
            }
            const std::string name = text.substr(open + 1, close - open - 1);
            const std::string inFolder = folder + name.substr(name.find_last_of("/\\") + 1);
            if (!fileIntact(exists(name) ? name : inFolder)) {
                return false;
            }
        }
    }
    return true;
}

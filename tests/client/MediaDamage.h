// Damage done to copies of the generated media, for the checks that must keep
// it from the engine's loaders.
#pragma once

#include "client/mediamanifest.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "FileTestUtils.h"

namespace clienttest {

inline uint32_t crc32(const std::string& bytes, size_t at, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = at; i < at + size; ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// Writes new sides into a PNG's IHDR (with its CRC, so the decoder believes
// it) or a baseline JPEG's frame header, as a header that lies would.
inline void setImageSides(std::string& bytes, bool png, uint32_t width, uint32_t height) {
    const auto put = [&bytes](size_t at, uint32_t value, int digits) {
        for (int i = 0; i < digits; ++i) {
            bytes[at + i] = static_cast<char>(value >> (8 * (digits - 1 - i)));
        }
    };
    if (png) {
        put(16, width, 4);
        put(20, height, 4);
        put(29, crc32(bytes, 12, 17), 4);
        return;
    }
    const size_t frame = bytes.find(std::string("\xFF\xC0\x00\x11", 4));  // baseline, three components
    put(frame + 5, height, 2);
    put(frame + 7, width, 2);
}

// Sides within the decoders' own limits whose pixel buffer, in 32 bits,
// comes out at next to nothing: width * height * 4 (PNG, 32-bit pixels) or
// width * 3 * height (JPEG) is just above 2^32.
constexpr uint32_t kHugePng[] = {2048, 524288};
constexpr uint32_t kHugeJpeg[] = {43691, 32768};

// Lists the tree's files again, as someone who "repaired" the manifest over
// damaged files would.
inline void resealManifest(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<MediaFile> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string path = entry.path().lexically_relative(root).generic_string();
        if (entry.is_regular_file() && path != MEDIA_MANIFEST_FILE) {
            const std::string bytes = testsupport::readFile(entry.path().string());
            files.push_back({path, bytes.size(), mediaChecksum(bytes)});
        }
    }
    testsupport::writeFile(root + "/" + MEDIA_MANIFEST_FILE, formatMediaManifest(files));
}

}  // namespace clienttest

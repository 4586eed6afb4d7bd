// Damage done to copies of the generated media, for the checks that must keep
// it from the engine's loaders.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace clienttest

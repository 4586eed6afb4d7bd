#include "dgHash.h"

#include <cstring>

#include "dgNameDictionary.h"

uint32_t dgHashBytes(const void* buffer, int32_t length, uint32_t seed) {
    return dgHashBytes(static_cast<const char*>(buffer), length, seed);
}

uint32_t dgHashName(const char* text) {
    if (!text) {
        return 0;
    }
    const size_t length = std::strlen(text);
    uint32_t h = 0;
    for (size_t i = 0; i < length; ++i) {
        h = (h << 8) ^ dgHashTable.value[(h >> 24) ^ static_cast<uint8_t>(text[i])];
    }
    dgNameDictionary::instance().record(h, text, length);
    return h;
}

const char* dgNameFromHash(uint32_t hash) {
    return dgNameDictionary::instance().find(hash);
}

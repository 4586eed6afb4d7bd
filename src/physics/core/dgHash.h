// 32-bit table-driven hash of byte strings: class identities, name ids and the
// process-wide name dictionary that turns a name id back into its text.
#pragma once

#include <cstdint>

// Hash table: T[0] = 1, T[1] = 0x2C11F801, T[i+1] = 31415821 * T[i] + 1 (mod 2^32).
struct dgHashTableData {
    uint32_t value[256];
};

constexpr dgHashTableData dgMakeHashTable() {
    dgHashTableData t{};
    t.value[0] = 0x00000001u;
    t.value[1] = 0x2C11F801u;
    for (int i = 1; i < 255; ++i) {
        t.value[i + 1] = 31415821u * t.value[i] + 1u;
    }
    return t;
}

inline constexpr dgHashTableData dgHashTable = dgMakeHashTable();

// Hash of `length` bytes of text starting from `seed`; length <= 0 returns seed.
// constexpr so that class identities are compile-time constants.
constexpr uint32_t dgHashBytes(const char* text, int32_t length, uint32_t seed) {
    uint32_t h = seed;
    for (int32_t i = 0; i < length; ++i) {
        h = (h << 8) ^ dgHashTable.value[(h >> 24) ^ static_cast<uint8_t>(text[i])];
    }
    return h;
}

// Same hash over raw bytes.
uint32_t dgHashBytes(const void* buffer, int32_t length, uint32_t seed);

// Hash of a zero-terminated text (terminator not hashed, seed 0). Compile-time
// counterpart of dgHashName that records nothing.
constexpr uint32_t dgHashConstText(const char* text) {
    uint32_t h = 0;
    for (; *text; ++text) {
        h = (h << 8) ^ dgHashTable.value[(h >> 24) ^ static_cast<uint8_t>(*text)];
    }
    return h;
}

// Longest name the dictionary records, in characters without the terminator.
constexpr int32_t dgNameMaxLength = 7935;

// Hash of a zero-terminated text with seed 0, recording the text in the name
// dictionary so that dgNameFromHash can return it. Null returns 0 and records
// nothing. Names longer than dgNameMaxLength are hashed but not recorded. The
// first text recorded under a hash is kept.
uint32_t dgHashName(const char* text);

// Recorded text of a hash, or null. The pointer stays valid until exit.
const char* dgNameFromHash(uint32_t hash);

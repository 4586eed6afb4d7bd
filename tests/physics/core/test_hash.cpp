#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_map>

#include "dgHash.h"
#include "dgNameDictionary.h"

// Class identities are compile-time constants.
static_assert(dgHashConstText("dgRef") == 0x159CBC8Bu, "dgRef identity");
static_assert(dgHashBytes("dgBaseNode", 10, 0) == 0xB45C97AAu, "dgBaseNode identity");

TEST(Hash, TableFollowsItsRecurrence) {
    EXPECT_EQ(dgHashTable.value[0], 0x00000001u);
    EXPECT_EQ(dgHashTable.value[1], 0x2C11F801u);
    EXPECT_EQ(dgHashTable.value[2], 0xDFD8F60Eu);
    EXPECT_EQ(dgHashTable.value[255], 0xBB9CBE3Bu);
    uint64_t t = 0x2C11F801u;
    for (int i = 2; i < 256; ++i) {
        t = (31415821ull * t + 1) % (1ull << 32);
        ASSERT_EQ(dgHashTable.value[i], uint32_t(t)) << i;
    }
}

TEST(Hash, ClassNamesGiveTheKnownIdentities) {
    const struct {
        const char* text;
        uint32_t hash;
    } cases[] = {{"dgRef", 0x159CBC8Bu},
                 {"dgCollision", 0xA0BE795Au},
                 {"dgConvexCollision", 0x7437FBDDu},
                 {"dgCollisionBox", 0x2FCEA4BCu},
                 {"dgBaseNode", 0xB45C97AAu},
                 {"a", 0xD10F07A1u},
                 {"abc", 0x93748295u}};
    for (const auto& c : cases) {
        const int32_t length = int32_t(std::strlen(c.text));
        EXPECT_EQ(dgHashBytes(c.text, length, 0), c.hash) << c.text;
        EXPECT_EQ(dgHashBytes(static_cast<const void*>(c.text), length, 0), c.hash) << c.text;
        EXPECT_EQ(dgHashConstText(c.text), c.hash) << c.text;
        EXPECT_EQ(dgHashName(c.text), c.hash) << c.text;
    }
    EXPECT_EQ(dgHashBytes("a", 1, 0), dgHashTable.value[0x61]);
}

TEST(Hash, EmptyInputReturnsTheSeed) {
    EXPECT_EQ(dgHashBytes("abc", 0, 0x1234u), 0x1234u);
    EXPECT_EQ(dgHashBytes("abc", -3, 77u), 77u);
    EXPECT_EQ(dgHashConstText(""), 0u);
}

TEST(Hash, BytesAreTakenUnsigned) {
    const unsigned char high[] = {0xFF, 0x80};
    EXPECT_EQ(dgHashBytes(high, 1, 0), dgHashTable.value[0xFF]);
    const uint32_t h = dgHashTable.value[0xFF];
    EXPECT_EQ(dgHashBytes(high, 2, 0), (h << 8) ^ dgHashTable.value[(h >> 24) ^ 0x80]);
    EXPECT_EQ(dgHashName("\xFF\x80"), dgHashBytes(high, 2, 0));
}

// A name is recorded once, under its hash, and found by it; null records
// nothing, the empty text sits under 0, an unknown hash finds nothing.
TEST(NameDictionary, RecordsOnceAndFindsByHash) {
    const uint32_t h = dgHashName("dgTestNameRecordedOnce");
    const char* first = dgNameFromHash(h);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "dgTestNameRecordedOnce");
    std::string copy = "dgTestNameRecordedOnce";
    EXPECT_EQ(dgHashName(copy.c_str()), h);
    EXPECT_EQ(dgNameFromHash(h), first);

    EXPECT_EQ(dgHashName(nullptr), 0u);
    EXPECT_EQ(dgHashName(""), 0u);
    ASSERT_NE(dgNameFromHash(0), nullptr);
    EXPECT_STREQ(dgNameFromHash(0), "");
    const char* text = "never given to the name path";
    EXPECT_EQ(dgNameFromHash(dgHashBytes(text, int32_t(std::strlen(text)), 0)), nullptr);
}

TEST(NameDictionary, LongestNamesFillOnePageEach) {
    dgNameDictionary& dictionary = dgNameDictionary::instance();
    std::string a(dgNameMaxLength, 'a');
    std::string b(dgNameMaxLength, 'b');
    a[0] = 'x';  // a text of its own, not recorded by any other test
    b[0] = 'y';
    const int32_t pages = dictionary.getPageCount();
    const uint32_t ha = dgHashName(a.c_str());
    EXPECT_EQ(dictionary.getRemaining(), 0);
    const int32_t afterFirst = dictionary.getPageCount();
    EXPECT_LE(afterFirst, pages + 1);
    const uint32_t hb = dgHashName(b.c_str());
    EXPECT_EQ(dictionary.getPageCount(), afterFirst + 1);
    EXPECT_EQ(dictionary.getRemaining(), 0);
    EXPECT_EQ(dgNameFromHash(ha), a);
    EXPECT_EQ(dgNameFromHash(hb), b);
    // The next short name starts a page too.
    dgHashName("dgShortNameAfterFullPages");
    EXPECT_EQ(dictionary.getPageCount(), afterFirst + 2);
}

TEST(NameDictionary, OverlongNameIsHashedButNotRecorded) {
    dgNameDictionary& dictionary = dgNameDictionary::instance();
    std::string name(dgNameMaxLength + 1, 'q');
    const int32_t pages = dictionary.getPageCount();
    const int32_t remaining = dictionary.getRemaining();
    const uint32_t h = dgHashName(name.c_str());
    EXPECT_EQ(h, dgHashBytes(name.data(), int32_t(name.size()), 0));
    EXPECT_EQ(dgNameFromHash(h), nullptr);
    EXPECT_EQ(dictionary.getPageCount(), pages);
    EXPECT_EQ(dictionary.getRemaining(), remaining);
}

TEST(NameDictionary, FirstTextRecordedUnderAHashIsKept) {
    // Find two short texts with the same hash.
    std::mt19937 rng(2024);
    std::unordered_map<uint32_t, std::string> seen;
    std::string first, second;
    for (int i = 0; i < 400000 && first.empty(); ++i) {
        std::string text = "dgCol";
        for (int c = 0; c < 6; ++c) {
            text += char('a' + rng() % 26);
        }
        const uint32_t h = dgHashBytes(text.data(), int32_t(text.size()), 0);
        auto it = seen.find(h);
        if (it != seen.end() && it->second != text) {
            first = it->second;
            second = text;
        } else {
            seen.emplace(h, text);
        }
    }
    if (first.empty()) {
        GTEST_SKIP() << "no collision found";
    }
    const uint32_t h = dgHashName(first.c_str());
    EXPECT_EQ(dgHashName(second.c_str()), h);
    EXPECT_EQ(std::string(dgNameFromHash(h)), first);
}

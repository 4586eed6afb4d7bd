#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "dgPoolAllocator.h"

namespace {

// Size word dgMalloc keeps below a block: only the first element of a page
// has the page's block header right below it.
uintptr_t blockSizeWordBelow(const void* element) {
    return static_cast<const uintptr_t*>(element)[-2];
}

}  // namespace

TEST(PoolAllocator, RoundsElementsToSixteenAndFillsPages) {
    dgPoolAllocator* a = dgCreatePoolAllocator(52, 4);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getElementBytes(), 64u);
    EXPECT_EQ(a->getElementsPerPage(), 64);
    EXPECT_EQ(a->getPageBytes(), 4096u);
    EXPECT_EQ(a->getPageAllocBytes(), 4096u);

    dgPoolAllocator* b = dgCreatePoolAllocator(5168, 4);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->getElementBytes(), 5168u);
    EXPECT_EQ(b->getElementsPerPage(), 1);
    EXPECT_EQ(b->getPageAllocBytes(), 5168u);

    dgPoolAllocator* c = dgCreatePoolAllocator(36, 16);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->getElementBytes(), 48u);
    EXPECT_EQ(c->getElementsPerPage(), 341);
    EXPECT_EQ(c->getPageAllocBytes(), 16384u);
    EXPECT_EQ(c->getPageCount(), 0);
}

TEST(PoolAllocator, SixtyFifthElementStartsASecondPage) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(52, 4);
    std::vector<char*> elements;
    for (int i = 0; i < 64; ++i) {
        elements.push_back(static_cast<char*>(pool->alloc(52)));
    }
    EXPECT_EQ(pool->getPageCount(), 1);
    EXPECT_EQ(blockSizeWordBelow(elements[0]), 4096u + dgMallocHeaderBytes);
    for (int i = 1; i < 64; ++i) {
        EXPECT_EQ(elements[i], elements[0] + 64 * i);
    }
    char* next = static_cast<char*>(pool->alloc(52));
    EXPECT_EQ(pool->getPageCount(), 2);
    EXPECT_EQ(blockSizeWordBelow(next), 4096u + dgMallocHeaderBytes);
    EXPECT_TRUE(next < elements[0] || next >= elements[0] + 4096);
    EXPECT_EQ(static_cast<char*>(pool->alloc(52)), next + 64);
    EXPECT_EQ(pool->getInUse(), 66);
}

TEST(PoolAllocator, GivesAllPagesBackWhenEmpty) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(100, 1);
    MemoryBalance hooks;
    std::vector<void*> elements;
    for (int i = 0; i < 200; ++i) {
        elements.push_back(pool->alloc(100));
    }
    EXPECT_GT(pool->getPageCount(), 1);
    EXPECT_GT(hooks.liveBlocks(), 0);
    std::mt19937 rng(3);
    std::shuffle(elements.begin(), elements.end(), rng);
    for (void* e : elements) {
        pool->free(e);
    }
    EXPECT_EQ(pool->getPageCount(), 0);
    EXPECT_EQ(pool->getInUse(), 0);
    EXPECT_EQ(hooks.liveBlocks(), 0);
    EXPECT_EQ(hooks.liveBytes(), 0);
    // A fresh page starts at its first element, not on the old free list.
    void* first = pool->alloc(100);
    EXPECT_EQ(blockSizeWordBelow(first), pool->getPageAllocBytes() + dgMallocHeaderBytes);
    pool->free(first);
}

// Random takes and gives: elements aligned, never handed out twice, and the
// last one given back is the next one taken.
TEST(PoolAllocator, ElementsAreAlignedAndNeverShared) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(40, 2);
    std::mt19937 rng(11);
    std::vector<std::pair<unsigned char*, unsigned char>> live;
    unsigned char* lastFreed = nullptr;
    for (int step = 0; step < 20000; ++step) {
        if (live.empty() || rng() % 3 != 0) {
            unsigned char* e = static_cast<unsigned char*>(pool->alloc(40));
            ASSERT_NE(e, nullptr);
            if (lastFreed) {
                ASSERT_EQ(e, lastFreed);
                lastFreed = nullptr;
            }
            ASSERT_EQ(reinterpret_cast<uintptr_t>(e) & 15, 0u);
            const unsigned char tag = static_cast<unsigned char>(rng());
            std::memset(e, tag, pool->getElementBytes());
            live.emplace_back(e, tag);
        } else {
            const size_t i = rng() % live.size();
            for (uint32_t b = 0; b < pool->getElementBytes(); ++b) {
                ASSERT_EQ(live[i].first[b], live[i].second);
            }
            pool->free(live[i].first);
            lastFreed = live.size() > 1 ? live[i].first : nullptr;
            live[i] = live.back();
            live.pop_back();
        }
        ASSERT_EQ(pool->getInUse(), int32_t(live.size()));
    }
    for (auto& e : live) {
        pool->free(e.first);
    }
    EXPECT_EQ(pool->getPageCount(), 0);
}

TEST(PoolAllocator, FailingHookGivesNullWithoutDamage) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(32, 4);
    MemoryBalance hooks;
    hooks.failAfter(0);
    EXPECT_EQ(pool->alloc(32), nullptr);
    EXPECT_EQ(pool->getInUse(), 0);
    EXPECT_EQ(pool->getPageCount(), 0);
    // The page succeeds but its page node does not.
    hooks.failAfter(1);
    EXPECT_EQ(pool->alloc(32), nullptr);
    EXPECT_EQ(pool->getPageCount(), 0);
    EXPECT_EQ(hooks.liveBlocks(), 0);
    hooks.failAfter(-1);
    void* e = pool->alloc(32);
    EXPECT_NE(e, nullptr);
    EXPECT_EQ(pool->getInUse(), 1);
    pool->free(e);
}

TEST(PoolAllocator, TinyAndHugeElementSizes) {
    dgPoolAllocator* tiny = dgCreatePoolAllocator(0, 4);
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(tiny->getElementBytes(), 16u);
    void* a = tiny->alloc(0);
    void* b = tiny->alloc(0);
    EXPECT_EQ(static_cast<char*>(b) - static_cast<char*>(a), 16);
    tiny->free(a);
    tiny->free(b);
    EXPECT_EQ(dgCreatePoolAllocator(0x80000000u, 4), nullptr);
}

TEST(PoolAllocator, SharedPoolsAreOnePerRoundedSize) {
    dgAllocator* a = dgSharedPoolAllocator(40);
    EXPECT_EQ(a, dgSharedPoolAllocator(48));
    EXPECT_NE(a, dgSharedPoolAllocator(49));
    dgAllocator* big = dgSharedPoolAllocator(20000);
    EXPECT_EQ(big, dgSharedPoolAllocator(19990));
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(static_cast<dgPoolAllocator*>(big)->getElementBytes(), 20000u);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "CountingHooks.h"
#include "dgMemory.h"

namespace {

bool isAligned16(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 15) == 0;
}

const uintptr_t* wordsBelow(const void* block) {
    return static_cast<const uintptr_t*>(block);
}

}  // namespace

TEST(Memory, MallocOfOneAsksHookForHeaderPlusOneAndFreeReturnsIt) {
    MemoryBalance hooks;
    void* block = dgMalloc(1);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(hooks.lastAllocSize(), 33u);
    EXPECT_TRUE(isAligned16(block));
    const uintptr_t hookPointer = reinterpret_cast<uintptr_t>(hooks.lastAllocResult());
    EXPECT_EQ(wordsBelow(block)[-1], hookPointer);
    EXPECT_EQ(wordsBelow(block)[-2], 33u);
    // The block lies inside what the hook returned.
    EXPECT_GE(reinterpret_cast<uintptr_t>(block), hookPointer + 2 * sizeof(uintptr_t));
    EXPECT_LE(reinterpret_cast<uintptr_t>(block) + 1, hookPointer + 33);
    dgFree(block);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(hooks.lastReleasePointer()), hookPointer);
    EXPECT_EQ(hooks.lastReleaseSize(), 33u);
}

// Nothing asked for takes nothing: no block, no hook call.
TEST(Memory, ZeroBytesIsNullAndFreeingNullDoesNothing) {
    CountingHooks hooks;
    EXPECT_EQ(dgMalloc(0), nullptr);
    dgFree(nullptr);
    {
        dgScratchBuffer buffer(0);
        EXPECT_EQ(buffer.getData(), nullptr);
        dgScratchArray<int> empty(0);
        EXPECT_EQ(empty.getData(), nullptr);
        EXPECT_EQ(empty.getCount(), 0);
        dgScratchArray<int> negative(-5);
        EXPECT_EQ(negative.getCount(), 0);
    }
    EXPECT_EQ(hooks.allocCalls(), 0);
    EXPECT_EQ(hooks.releaseCalls(), 0);
}

TEST(Memory, RandomBlocksAreAlignedDisjointAndBalanced) {
    MemoryBalance balance;
    std::mt19937 rng(7);
    std::vector<std::pair<unsigned char*, size_t>> blocks;
    for (int i = 0; i < 2000; ++i) {
        const size_t size = 1 + rng() % 3000;
        unsigned char* p = static_cast<unsigned char*>(dgMalloc(size));
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(isAligned16(p));
        std::memset(p, i & 0xFF, size);
        blocks.emplace_back(p, size);
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        const unsigned char expected = static_cast<unsigned char>(i & 0xFF);
        for (size_t b = 0; b < blocks[i].second; ++b) {
            ASSERT_EQ(blocks[i].first[b], expected);
        }
        dgFree(blocks[i].first);
    }
}

namespace {

// Hooks whose pointers are deliberately off a 16-byte boundary.
uintptr_t g_offset = 0;
void* offsetAllocate(uint32_t size) {
    unsigned char* base = static_cast<unsigned char*>(std::malloc(size + 16));
    return base ? base + g_offset : nullptr;
}
void offsetRelease(void* ptr, uint32_t) {
    std::free(static_cast<unsigned char*>(ptr) - g_offset);
}

}  // namespace

TEST(Memory, MisalignedHookPointersStillGiveAlignedBlocks) {
    dgAllocHook oldAlloc;
    dgReleaseHook oldRelease;
    dgGetAllocatorHooks(&oldAlloc, &oldRelease);
    dgSetAllocatorHooks(offsetAllocate, offsetRelease);
    for (g_offset = 0; g_offset < 16; ++g_offset) {
        void* block = dgMalloc(100);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(isAligned16(block));
        std::memset(block, 0xAB, 100);
        dgFree(block);
    }
    dgSetAllocatorHooks(oldAlloc, oldRelease);
}

// Reallocation keeps what the block held up to the smaller size, under the
// library pair (its own reallocation, large blocks included) and under hooks
// of another kind whose pointers are off a 16-byte boundary; a block that
// cannot be had leaves the old one owned.
TEST(Memory, ReallocKeepsTheBytesItHeldUnderEitherKindOfHooks) {
    dgAllocHook oldAlloc;
    dgReleaseHook oldRelease;
    dgGetAllocatorHooks(&oldAlloc, &oldRelease);
    std::mt19937 rng(11);
    for (const dgAllocHook allocate : {dgAllocHook(nullptr), dgAllocHook(offsetAllocate)}) {
        dgSetAllocatorHooks(allocate, offsetRelease);
        g_offset = allocate ? 5 : 0;
        unsigned char* block = nullptr;
        size_t size = 0;
        for (int step = 0; step < 240; ++step) {
            const size_t wanted = (rng() % 4 == 0) ? (1u << 20) + rng() % (3u << 20) : 1 + rng() % 5000;
            unsigned char* const moved = static_cast<unsigned char*>(dgRealloc(block, wanted));
            ASSERT_TRUE(moved && isAligned16(moved));
            for (size_t b = 0; b < std::min(size, wanted); b += 1 + b / 64) {
                ASSERT_EQ(moved[b], static_cast<unsigned char>(b * 7 + size_t(step))) << b;
            }
            for (size_t b = 0; b < wanted; ++b) {
                moved[b] = static_cast<unsigned char>(b * 7 + size_t(step) + 1);
            }
            block = moved;
            size = wanted;
        }
        dgFree(block);
    }
    dgSetAllocatorHooks(oldAlloc, oldRelease);
    MemoryBalance hooks;
    void* const block = dgMalloc(100);
    hooks.failAfter(0);
    EXPECT_EQ(dgRealloc(block, 200), nullptr);
    dgFree(block);
}

TEST(Memory, FailingHookGivesNullEverywhere) {
    MemoryBalance hooks;
    hooks.failAfter(0);
    EXPECT_EQ(dgMalloc(16), nullptr);
    EXPECT_EQ(dgMemoryCacheAlloc(12345), nullptr);
    EXPECT_EQ(dgDefaultAllocator()->alloc(16), nullptr);
    dgScratchBuffer buffer(64);
    EXPECT_EQ(buffer.getData(), nullptr);
    dgScratchArray<float> array(10);
    EXPECT_EQ(array.getData(), nullptr);
    EXPECT_EQ(array.getCount(), 0);
    dgBlockHolder holder(64);
    EXPECT_EQ(holder.get(), nullptr);
}

TEST(Memory, NullHookInstallsTheLibraryPair) {
    dgAllocHook oldAlloc;
    dgReleaseHook oldRelease;
    dgGetAllocatorHooks(&oldAlloc, &oldRelease);
    dgSetAllocatorHooks(nullptr, offsetRelease);
    dgAllocHook a = nullptr;
    dgReleaseHook r = nullptr;
    dgGetAllocatorHooks(&a, &r);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(r, offsetRelease);
    void* block = dgMalloc(10);
    EXPECT_NE(block, nullptr);
    dgFree(block);
    dgSetAllocatorHooks(oldAlloc, oldRelease);
}

TEST(ScratchArray, ElementsAreContiguousAndCounted) {
    MemoryBalance hooks;
    {
        dgScratchArray<double> array(100);
        ASSERT_EQ(array.getCount(), 100);
        EXPECT_TRUE(isAligned16(array.getData()));
        EXPECT_EQ(hooks.lastAllocSize(), 100 * sizeof(double) + dgMallocHeaderBytes);
        for (int32_t i = 0; i < array.getCount(); ++i) {
            array[i] = i * 0.5;
        }
        for (int32_t i = 0; i < array.getCount(); ++i) {
            EXPECT_EQ(&array[i], array.getData() + i);
            EXPECT_EQ(array[i], i * 0.5);
        }
    }
}

TEST(BlockHolder, MoveTransfersTheBlockAndLeavesNull) {
    MemoryBalance hooks;
    {
        dgBlockHolder a(64);
        void* block = a.get();
        ASSERT_NE(block, nullptr);
        dgBlockHolder b(std::move(a));
        EXPECT_EQ(a.get(), nullptr);
        EXPECT_EQ(b.get(), block);
        dgBlockHolder c(32);
        c = std::move(b);  // c's own block is released
        EXPECT_EQ(c.get(), block);
        EXPECT_EQ(b.get(), nullptr);
        EXPECT_EQ(hooks.liveBlocks(), 1);
        void* detached = c.detach();
        EXPECT_EQ(c.get(), nullptr);
        dgFree(detached);
    }
}

// Blocks of a few sizes taken and given back at random against a model of
// one queue per size: a released block waits in its size's queue, the next
// request of exactly that size takes the oldest one without the hook, a size
// whose queue empties is dropped. The flush gives every waiting block back
// to the hook that made it, exactly once.
TEST(BlockCache, ReusesTheOldestBlockOfTheSameSizeAndFlushesEveryOne) {
    CountingHooks hooks;
    std::mt19937 rng(5);
    const size_t sizes[] = {16, 40, 48, 64, 80, 96, 4000};
    std::map<size_t, std::deque<void*>> waiting;
    std::vector<std::pair<void*, size_t>> held;
    std::map<void*, void*> hookPointerOf;
    for (int step = 0; step < 3000; ++step) {
        if (held.empty() || rng() % 2) {
            const size_t size = sizes[rng() % 7];
            const int64_t calls = hooks.allocCalls();
            void* block = dgMemoryCacheAlloc(size);
            ASSERT_NE(block, nullptr);
            std::deque<void*>& queue = waiting[size];
            if (queue.empty()) {
                ASSERT_EQ(hooks.allocCalls(), calls + 1);
                hookPointerOf[block] = hooks.lastAllocResult();
            } else {
                ASSERT_EQ(block, queue.front());
                ASSERT_EQ(hooks.allocCalls(), calls);
                queue.pop_front();
            }
            held.emplace_back(block, size);
        } else {
            const size_t at = rng() % held.size();
            dgMemoryCacheFree(held[at].first);
            waiting[held[at].second].push_back(held[at].first);
            held[at] = held.back();
            held.pop_back();
        }
        int32_t nonEmpty = 0;
        for (const auto& entry : waiting) {
            ASSERT_EQ(dgMemoryCacheBlockCount(entry.first), int32_t(entry.second.size()));
            nonEmpty += entry.second.empty() ? 0 : 1;
        }
        ASSERT_EQ(dgMemoryCacheSizeCount(), nonEmpty);
    }
    for (const auto& block : held) {
        dgMemoryCacheFree(block.first);
    }
    dgMemoryCacheFlush();
    for (const auto& entry : hookPointerOf) {
        EXPECT_FALSE(hooks.isLive(entry.second));
    }
    EXPECT_EQ(hooks.foreignReleases(), 0);
    EXPECT_EQ(hooks.sizeMismatches(), 0);
    EXPECT_EQ(hooks.liveBlocks(), 0);
    EXPECT_EQ(dgMemoryCacheSizeCount(), 0);
}

TEST(BlockCache, ReturnsBlockToHooksWhenItCannotFileIt) {
    CountingHooks hooks;
    void* a = dgMemoryCacheAlloc(4000);
    ASSERT_NE(a, nullptr);
    void* hookPointer = hooks.lastAllocResult();
    // No memory for tree or list nodes: the block goes straight back.
    hooks.failAfter(0);
    dgMemoryCacheFree(a);
    EXPECT_EQ(dgMemoryCacheBlockCount(4000), 0);
    EXPECT_FALSE(hooks.isLive(hookPointer));
    hooks.failAfter(-1);
}

namespace {

void* g_exitTracked[3];
int g_exitReleased = 0;

void exitRelease(void* ptr, uint32_t) {
    for (void* tracked : g_exitTracked) {
        if (tracked == ptr) {
            ++g_exitReleased;
        }
    }
    std::free(ptr);
}

void* exitAllocate(uint32_t size) {
    return std::malloc(size);
}

void exitCheck() {
    // Runs after the cache's exit handler: every cached block must be back,
    // each exactly once.
    _exit(g_exitReleased == 3 ? 3 : 4);
}

}  // namespace

// Runs in a fresh process: the cache is built here, after the checking
// handler is registered, so the cache's own exit handler runs first.
static void fillCacheAndExit() {
    std::atexit(exitCheck);
    dgSetAllocatorHooks(exitAllocate, exitRelease);
    void* blocks[3] = {dgMemoryCacheAlloc(40), dgMemoryCacheAlloc(40), dgMemoryCacheAlloc(72)};
    for (int i = 0; i < 3; ++i) {
        // The hook's pointer sits in the word below the aligned block, which
        // starts one cache header before the user pointer.
        const char* block = static_cast<const char*>(blocks[i]) - 16;
        g_exitTracked[i] = reinterpret_cast<void*>(reinterpret_cast<const uintptr_t*>(block)[-1]);
    }
    for (void* p : blocks) {
        dgMemoryCacheFree(p);
    }
    std::exit(0);
}

TEST(BlockCacheDeathTest, ExitGivesEveryCachedBlockBack) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(fillCacheAndExit(), ::testing::ExitedWithCode(3), "");
    GTEST_FLAG_SET(death_test_style, style);
}

static void useCacheAfterItsExit() {
    // Runs after the cache's exit handler (registered before the cache was built).
    void* late = dgMemoryCacheAlloc(40);
    dgMemoryCacheFree(late);
    void* p = dgMemoryCacheAlloc(56);
    if (late && p) {
        dgMemoryCacheFree(p);
        _exit(5);
    }
    _exit(6);
}

static void buildCacheAndExit() {
    std::atexit(useCacheAfterItsExit);
    void* early = dgMemoryCacheAlloc(56);
    dgMemoryCacheFree(early);
    std::exit(0);
}

TEST(BlockCacheDeathTest, BlocksReleasedAfterTheCacheExitGoStraightBack) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(buildCacheAndExit(), ::testing::ExitedWithCode(5), "");
    GTEST_FLAG_SET(death_test_style, style);
}

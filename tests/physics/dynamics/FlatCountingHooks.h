// Counting allocation hooks for the tests of the public header, handed to
// dgWorldCreate: they include nothing of the engine but dgPhysics.h.
//
// Blocks from before the hooks came are malloc blocks too, and go back
// uncounted. The engine keeps its shared pools and a block cache for the
// process, so a balance compares the counts after a second run of the same
// work with those after the first.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include "dgPhysics.h"

namespace flatcounting {

struct Counts {
    std::unordered_map<void*, uint32_t> live;
    int64_t liveBytes = 0;
    int64_t allocations = 0;
};

inline Counts& counts() {
    static Counts c;
    return c;
}

inline void* countingAllocate(uint32_t size) {
    void* block = std::malloc(size);
    counts().allocations++;
    if (block) {
        counts().live[block] = size;
        counts().liveBytes += size;
    }
    return block;
}

inline void countingRelease(void* block, uint32_t size) {
    auto found = counts().live.find(block);
    if (found != counts().live.end()) {
        EXPECT_EQ(found->second, size);
        counts().liveBytes -= found->second;
        counts().live.erase(found);
    }
    std::free(block);
}

// Forgets what an earlier test counted: those blocks may since have gone back
// through other hooks, and their addresses been handed out again.
inline void resetCounts() {
    counts().live.clear();
    counts().liveBytes = 0;
    counts().allocations = 0;
}

// Runs `life` on a new world under the counting hooks twice and destroys the
// world after each; the second run must leave the counts where the first
// left them, and must have taken memory (else the check proves nothing). The
// engine's default hooks are back afterwards.
template <typename Life>
void expectWorldBalance(Life life) {
    resetCounts();
    size_t blocks = 0;
    int64_t bytes = 0;
    int64_t allocations = 0;
    for (int32_t run = 0; run < 2; run++) {
        dgWorld* world = dgWorldCreate(countingAllocate, countingRelease);
        ASSERT_NE(world, nullptr);
        life(world);
        dgWorldDestroy(world);
        if (run == 1) {
            EXPECT_EQ(counts().live.size(), blocks);
            EXPECT_EQ(counts().liveBytes, bytes);
            EXPECT_GT(counts().allocations, allocations);
        }
        blocks = counts().live.size();
        bytes = counts().liveBytes;
        allocations = counts().allocations;
    }
    dgWorldDestroy(dgWorldCreate(nullptr, nullptr));
}

}  // namespace flatcounting

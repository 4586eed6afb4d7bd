// Test helper: installs counting allocation hooks through dgSetAllocatorHooks
// for its lifetime and restores the previous pair afterwards.
//
// Blocks are still obtained from malloc/free, so blocks allocated under the
// counting hooks may be released later under any other pair and vice versa.
// Only blocks allocated while the hooks are installed are counted; releases of
// other blocks are forwarded to free() and counted as foreign.
//
// Balance checks: the block cache and pools keep memory by design. A test that
// wants "everything returned" warms up first (so that the pools it uses
// exist), then holds a MemoryBalance (below) for the part that must give every
// block back; expectBalanced() checks the same at any point.
//
// One instance at a time; single-threaded like the engine.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>

#include <gtest/gtest.h>

#include "dgMemory.h"

class CountingHooks {
public:
    explicit CountingHooks(bool flushCache = true) : m_flushed(flushCache) {
        assert(!state().active);
        if (flushCache) {
            dgMemoryCacheFlush();
        }
        State& s = state();
        s = State();
        s.live = new std::unordered_map<void*, uint32_t>();
        s.active = true;
        dgGetAllocatorHooks(&m_previousAlloc, &m_previousRelease);
        dgSetAllocatorHooks(&CountingHooks::allocate, &CountingHooks::release);
    }
    ~CountingHooks() {
        dgSetAllocatorHooks(m_previousAlloc, m_previousRelease);
        State& s = state();
        delete s.live;
        s.live = nullptr;
        s.active = false;
    }
    CountingHooks(const CountingHooks&) = delete;
    CountingHooks& operator=(const CountingHooks&) = delete;

    // Blocks / bytes allocated under these hooks and not yet released.
    int64_t liveBlocks() const { return int64_t(state().live->size()); }
    int64_t liveBytes() const { return state().liveBytes; }
    int64_t allocCalls() const { return state().allocCalls; }
    int64_t releaseCalls() const { return state().releaseCalls; }
    // Releases of pointers these hooks did not hand out (or released twice).
    int64_t foreignReleases() const { return state().foreignReleases; }
    // Releases whose size differed from the size asked of the allocation hook.
    int64_t sizeMismatches() const { return state().sizeMismatches; }
    bool isLive(void* hookPointer) const { return state().live->count(hookPointer) != 0; }

    uint32_t lastAllocSize() const { return state().lastAllocSize; }
    void* lastAllocResult() const { return state().lastAllocResult; }
    void* lastReleasePointer() const { return state().lastReleasePointer; }
    uint32_t lastReleaseSize() const { return state().lastReleaseSize; }

    // The next `successes` allocations succeed, every later one returns null;
    // a negative value never fails.
    void failAfter(int64_t successes) { state().failAfter = successes; }
    // Only the allocation after the next `successes` returns null; the ones
    // before and after it succeed. A negative value never fails.
    void failOnce(int64_t successes) { state().failOnce = successes; }

    // Expects every block these hooks handed out back, each released through
    // them with the size it was asked with. Hooks that began on an empty block
    // cache empty it again and expect no release of a block they did not hand
    // out; the others leave it alone, since it may hold blocks from before.
    void expectBalanced() const {
        if (m_flushed) {
            dgMemoryCacheFlush();
            EXPECT_EQ(foreignReleases(), 0);
        }
        EXPECT_EQ(liveBlocks(), 0);
        EXPECT_EQ(liveBytes(), 0);
        EXPECT_EQ(sizeMismatches(), 0);
    }

private:
    struct State {
        bool active = false;
        std::unordered_map<void*, uint32_t>* live = nullptr;
        int64_t liveBytes = 0;
        int64_t allocCalls = 0;
        int64_t releaseCalls = 0;
        int64_t foreignReleases = 0;
        int64_t sizeMismatches = 0;
        int64_t failAfter = -1;
        int64_t failOnce = -1;
        uint32_t lastAllocSize = 0;
        void* lastAllocResult = nullptr;
        void* lastReleasePointer = nullptr;
        uint32_t lastReleaseSize = 0;
    };

    static State& state() {
        static State s;
        return s;
    }

    static void* allocate(uint32_t size) {
        State& s = state();
        ++s.allocCalls;
        s.lastAllocSize = size;
        void* ptr = nullptr;
        const bool once = (s.failOnce == 0);
        if (s.failOnce >= 0) {
            --s.failOnce;
        }
        if ((s.failAfter != 0) && !once) {
            if (s.failAfter > 0) {
                --s.failAfter;
            }
            ptr = std::malloc(size);
        }
        s.lastAllocResult = ptr;
        if (ptr) {
            (*s.live)[ptr] = size;
            s.liveBytes += size;
        }
        return ptr;
    }

    static void release(void* ptr, uint32_t size) {
        State& s = state();
        ++s.releaseCalls;
        s.lastReleasePointer = ptr;
        s.lastReleaseSize = size;
        auto it = s.live->find(ptr);
        if (it == s.live->end()) {
            ++s.foreignReleases;
        } else {
            if (it->second != size) {
                ++s.sizeMismatches;
            }
            s.liveBytes -= it->second;
            s.live->erase(it);
        }
        std::free(ptr);
    }

    bool m_flushed;
    dgAllocHook m_previousAlloc = nullptr;
    dgReleaseHook m_previousRelease = nullptr;
};

// Counting hooks whose end checks the balance: declared before the objects of a
// test, it outlives them and finds out whether they gave every block back.
class MemoryBalance : public CountingHooks {
public:
    explicit MemoryBalance(bool flushCache = true) : CountingHooks(flushCache) {}
    ~MemoryBalance() { expectBalanced(); }
};

// Runs `work` twice: the first run builds the pools and shared tables that
// stay for the process, the second runs under a MemoryBalance, and must have
// taken memory (else the check proves nothing).
template <typename Work>
void expectBalancedOnSecondRun(Work work) {
    work();
    MemoryBalance balance;
    work();
    EXPECT_GT(balance.allocCalls(), 0);
}

// What the soak programs share, over the public header alone: allocation
// hooks that count the engine's live memory, the watch that tells a leak from
// pools filling, and the finiteness check of a body's state.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "dgPhysics.h"

namespace soak {

// ---- counting hooks, handed to dgWorldCreate ----

struct MemoryCount {
    int64_t liveBlocks = 0;
    int64_t liveBytes = 0;
    int64_t allocations = 0;
};

inline MemoryCount g_memory;

inline void* countingAllocate(uint32_t size) {
    const size_t rounded = (size_t(size) + 15u) & ~size_t(15u);
    void* block = std::aligned_alloc(16, rounded ? rounded : 16u);
    if (block) {
        g_memory.liveBlocks++;
        g_memory.liveBytes += int64_t(size);
        g_memory.allocations++;
    }
    return block;
}

inline void countingRelease(void* block, uint32_t size) {
    if (block) {
        g_memory.liveBlocks--;
        g_memory.liveBytes -= int64_t(size);
        std::free(block);
    }
}

// ---- the memory watch ----

// The first cycle fills the engine's pools. After it, what the engine holds
// at a cycle's end moves up and down by a few pages as contacts come and go,
// and its floor settles within some dozens of cycles; a leak lifts the floor
// without end. So: the lowest live block count of each window of cycles, and
// "growing" once it rose window after window.
class MemoryFloorWatch {
public:
    MemoryFloorWatch(int64_t cyclesPerWindow, int32_t risingWindowsToStop)
        : m_window(cyclesPerWindow), m_limit(risingWindowsToStop) {}

    // Takes the live block count at the end of `cycle` (counted from 1; the
    // first is skipped). True when this cycle closed a window: its first
    // cycle is cycle - window + 1 and its floor windowFloor().
    bool endCycle(int64_t cycle, int64_t liveBlocks) {
        if (cycle <= 1) {
            return false;
        }
        m_floor = std::min(m_floor, liveBlocks);
        if ((cycle - 1) % m_window != 0) {
            return false;
        }
        m_rising = ((m_previous >= 0) && (m_floor > m_previous)) ? m_rising + 1 : 0;
        m_previous = m_floor;
        m_floor = INT64_MAX;
        return true;
    }

    int64_t window() const { return m_window; }
    int64_t windowFloor() const { return m_previous; }
    bool growing() const { return m_rising >= m_limit; }

private:
    int64_t m_window;
    int32_t m_limit;
    int64_t m_floor = INT64_MAX;
    int64_t m_previous = -1;
    int32_t m_rising = 0;
};

// ---- body state ----

inline bool finiteState(const dgBody* body) {
    float matrix[16];
    float v[3];
    float w[3];
    dgBodyGetMatrix(body, matrix);
    dgBodyGetVelocity(body, v);
    dgBodyGetOmega(body, w);
    for (float f : matrix) {
        if (!std::isfinite(f)) {
            return false;
        }
    }
    for (int32_t i = 0; i < 3; i++) {
        if (!std::isfinite(v[i]) || !std::isfinite(w[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace soak

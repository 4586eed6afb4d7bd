// A bullet's flight, lifetime and spin against worked examples. (The
// terrain pass, launch pacing and the muzzle flash are checked through the
// entities themselves.)
#include "client/weaponmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

using irr::core::vector3df;

// 160 u/s moves 3.2 in a 20 ms frame (integers would give 3) and still
// moves in frames under 7 ms; a gun's bullet (5000 ms) flies 800 units at
// most, whatever the frame length, and dies in the frame that ends its life.
TEST(BulletFlight, MovesInFloatsAndStopsWithinItsRange) {
    const vector3df ahead(0, 0, 1);
    const std::pair<uint32_t, float> frames[] = {{20, 3.2f}, {7, 1.12f}, {5, 0.8f}, {1, 0.16f}, {0, 0.0f}};
    for (const auto& [elapsed, moved] : frames) {
        EXPECT_NEAR(bulletAdvance(vector3df(1, 2, 3), ahead, 160, elapsed).Z, 3.0f + moved, 1e-5f) << elapsed;
    }
    for (const uint32_t frame : {20u, 7u, 33u, 1u}) {
        vector3df position;
        int32_t life = 5000;
        while ((life = remainingLifetime(life, frame)) >= 1) {
            position = bulletAdvance(position, ahead, 160, frame);
        }
        EXPECT_LE(position.Z, 800.0f + 0.05f) << frame;  // float sums drift a little
        EXPECT_GT(position.Z, 800.0f - 0.16f * frame - 0.05f) << frame;
    }
    const int32_t lowest = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(remainingLifetime(5000, 0xFFFFFFFFu), lowest);  // saturates, never wraps
    EXPECT_EQ(remainingLifetime(lowest, 1), lowest);
}

// One degree per 10 ms, kept within a turn however long the frame.
TEST(BulletSpin, TurnsOneDegreePerTenMillisecondsWithinOneTurn) {
    EXPECT_FLOAT_EQ(bulletSpin(0.0f, 20), 2.0f);
    EXPECT_FLOAT_EQ(bulletSpin(359.0f, 20), 1.0f);
    EXPECT_FLOAT_EQ(bulletSpin(10.0f, 5), 10.5f);  // integers would stay at 10
    EXPECT_NEAR(bulletSpin(0.0f, 36050), 5.0f, 1e-3f);
    const float stalled = bulletSpin(300.0f, 0xFFFFFFFFu);
    EXPECT_TRUE(stalled >= 0.0f && stalled < 360.0f) << stalled;
}

// The gun's and the launcher's arithmetic against worked examples and
// against flights recomputed in doubles.
#include "client/weaponmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using irr::core::vector3df;

namespace {

vector3df randomUnit(std::mt19937& rng) {
    std::normal_distribution<float> normal;
    vector3df v(normal(rng), normal(rng), normal(rng));
    return v.getLength() > 1e-3f ? v.normalize() : vector3df(0, 0, 1);
}

}  // namespace

TEST(BulletFlight, MovesInFloatsEvenOnShortFrames) {
    const vector3df forward(0, 0, 1);
    struct Row {
        uint32_t elapsed;
        float moved;
    } rows[] = {{20, 3.2f}, {7, 1.12f}, {5, 0.8f}, {1, 0.16f}, {0, 0.0f}};
    for (const Row& row : rows) {
        EXPECT_NEAR(bulletAdvance(vector3df(1, 2, 3), forward, 160, row.elapsed).Z, 3.0f + row.moved, 1e-5f)
            << row.elapsed;
    }
}

// A bullet of the gun (160 u/s, 5000 ms) updated at random frame lengths
// until its life ends: every position is where the same flight in doubles
// is, and it never gets further than 800 units.
TEST(BulletFlight, FollowsTheDoubleFlightAndStopsWithinItsRange) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<uint32_t> frame(0, 60);
    for (int run = 0; run < 2000; ++run) {
        const vector3df direction = randomUnit(rng);
        const vector3df start(float(rng() % 4000) - 2000.0f, -float(rng() % 4000), float(rng() % 4000));
        vector3df position = start;
        double x = start.X, y = start.Y, z = start.Z;
        int32_t life = 5000;
        double flown = 0.0;
        // Float sums drift from the double ones by a few ulps of the
        // coordinates; integer steps would lose 0.2 a frame.
        for (;;) {
            const uint32_t elapsed = frame(rng);
            life = remainingLifetime(life, elapsed);
            if (life < 1) {
                break;
            }
            position = bulletAdvance(position, direction, 160, elapsed);
            const double step = 160.0 * elapsed / 1000.0;
            x += direction.X * step;
            y += direction.Y * step;
            z += direction.Z * step;
            flown += step;
            ASSERT_NEAR(position.X, x, 0.02);
            ASSERT_NEAR(position.Y, y, 0.02);
            ASSERT_NEAR(position.Z, z, 0.02);
        }
        ASSERT_LE(flown, 800.0);
        ASSERT_GT(flown, 800.0 - 160.0 * 60 / 1000.0 - 1e-6);  // the last frame ends it unmoved
    }
}

TEST(BulletFlight, LifetimeSaturatesInsteadOfWrapping) {
    const int32_t lowest = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(remainingLifetime(5000, 20), 4980);
    EXPECT_EQ(remainingLifetime(5000, 5000), 0);
    EXPECT_EQ(remainingLifetime(5000, 0xFFFFFFFFu), lowest);
    EXPECT_EQ(remainingLifetime(lowest, 1), lowest);
}

// One degree per 10 ms, kept within a turn, against the angle summed in
// doubles and reduced once.
TEST(BulletSpin, TurnsOneDegreePerTenMillisecondsWithinOneTurn) {
    EXPECT_FLOAT_EQ(bulletSpin(0.0f, 20), 2.0f);
    EXPECT_FLOAT_EQ(bulletSpin(359.0f, 20), 1.0f);
    EXPECT_FLOAT_EQ(bulletSpin(10.0f, 5), 10.5f);  // integers would stay at 10
    EXPECT_NEAR(bulletSpin(0.0f, 36050), 5.0f, 1e-3f);
    std::mt19937 rng(3);
    float spin = 0.0f;
    double total = 0.0;
    for (int k = 0; k < 100000; ++k) {
        const uint32_t elapsed = rng() % 3 == 0 ? rng() % 100000 : rng() % 40;
        spin = bulletSpin(spin, elapsed);
        total = std::fmod(total + elapsed / 10.0, 360.0);
        ASSERT_GE(spin, 0.0f);
        ASSERT_LE(spin, 360.0f);
        const double apart = std::fabs(spin - total);
        ASSERT_LT(std::min(apart, 360.0 - apart), 0.05) << k;
        spin = float(total);  // no drift between samples
    }
}

// Bullets fly through a point on their line from random distances at random
// frame lengths: the pass is reported after the bullet has crossed the
// point, at most one frame later, and never before.
TEST(BulletTerrainPass, ReportedWithinAFrameAfterCrossingThePoint) {
    std::mt19937 rng(11);
    for (int run = 0; run < 5000; ++run) {
        const vector3df direction = randomUnit(rng);
        const vector3df start(float(rng() % 1000), -float(rng() % 1000), float(rng() % 1000));
        const double ahead = 1.0 + rng() % 99000 / 100.0;
        const vector3df point = start + direction * float(ahead);
        vector3df position = start;
        float last = (point - start).getLength();
        double travelled = 0.0;
        bool crossedBefore = false;
        for (int frame = 0; frame < 100000; ++frame) {
            const uint32_t elapsed = 1 + rng() % 40;
            position = bulletAdvance(position, direction, 160, elapsed);
            travelled += 160.0 * elapsed / 1000.0;
            const TerrainPass pass = bulletTerrainPass(point, position, last);
            // Margins for the float flight's drift from the double one.
            const bool crossed = travelled > ahead + 0.05;
            if (pass.passed) {
                ASSERT_GT(travelled, ahead - 0.05) << run;
                break;
            }
            ASSERT_FALSE(crossedBefore) << run;  // a whole frame past the point
            crossedBefore = crossed;
            last = pass.distance;
        }
    }
}

TEST(LauncherTiming, FirstLaunchAtOnceThenOncePerReload) {
    struct Row {
        bool locked;
        bool hasFired;
        uint32_t now;
        uint32_t last;
        bool expected;
    } rows[] = {
        {false, false, 100000, 0, false},            // not locked yet
        {true, false, 0, 0, true},                   // first launch at clock 0
        {true, false, 1234, 0, true},                //   and early on
        {true, true, 104999, 100000, false},         // reloading
        {true, true, 105000, 100000, true},          // reloaded
        {true, true, 903, 0xFFFFF000u, false},       // across the wrap
        {true, true, 904, 0xFFFFF000u, true},
        {false, true, 200000, 100000, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(launcherMayFire(row.locked, row.hasFired, row.now, row.last, 5000), row.expected)
            << row.now << " " << row.last;
    }
}

TEST(MuzzleFlash, VisibleForFiftyMillisecondsAfterTheLastShot) {
    EXPECT_FALSE(muzzleFlashExpired(100049, 100000));
    EXPECT_TRUE(muzzleFlashExpired(100050, 100000));
    EXPECT_FALSE(muzzleFlashExpired(20, 0xFFFFFFF0u));
    EXPECT_TRUE(muzzleFlashExpired(34, 0xFFFFFFF0u));
    // Toward the centre line, 2.1 ahead: the player's two guns and the launcher.
    EXPECT_EQ(muzzleFlashOffset(vector3df(-1.5f, -1, 3)), vector3df(-1.4f, -1, 5.1f));
    EXPECT_EQ(muzzleFlashOffset(vector3df(1.5f, -1, 3)), vector3df(1.4f, -1, 5.1f));
    EXPECT_EQ(muzzleFlashOffset(vector3df(0, -4, 3)), vector3df(-0.1f, -4, 5.1f));
}

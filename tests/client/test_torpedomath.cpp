// The torpedo's steering and step against worked examples and against the
// same geometry in doubles, with the engine's rotation written out as turns
// about x, then y, then z.
#include "client/torpedomath.h"

#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cmath>
#include <limits>
#include <random>

using irr::core::vector3df;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct D3 {
    double x, y, z;
};
D3 turnX(D3 v, double a) {
    return {v.x, v.y * std::cos(a) - v.z * std::sin(a), v.y * std::sin(a) + v.z * std::cos(a)};
}
D3 turnY(D3 v, double a) {
    return {v.x * std::cos(a) + v.z * std::sin(a), v.y, -v.x * std::sin(a) + v.z * std::cos(a)};
}
D3 turnZ(D3 v, double a) {
    return {v.x * std::cos(a) - v.y * std::sin(a), v.x * std::sin(a) + v.y * std::cos(a), v.z};
}
D3 toWorld(D3 v, const vector3df& r) {
    return turnZ(turnY(turnX(v, r.X * kDeg), r.Y * kDeg), r.Z * kDeg);
}

vector3df randomVector(std::mt19937& rng, float scale) {
    std::uniform_real_distribution<float> u(-scale, scale);
    return vector3df(u(rng), u(rng), u(rng));
}

}  // namespace

// Aims of a torpedo at the origin (turned as given) at targets that stand
// still: x is minus the angle off the nose, z the roll that puts the target
// overhead.
TEST(TorpedoAim, WorkedExamples) {
    struct Row {
        vector3df rotation;
        vector3df target;
        vector3df aim;
    } rows[] = {
        {{0, 0, 0}, {0, 100, 0}, {-90, 0, 0}},     // overhead: pitch only
        {{0, 0, 0}, {100, 0, 0}, {-90, 0, -90}},   // to the right: roll first
        {{0, 0, 0}, {-100, 0, 0}, {-90, 0, 90}},   // to the left
        {{0, 0, 0}, {0, -100, 0}, {-90, 0, 180}},  // below: half a roll
        {{0, 0, 0}, {0, 100, 100}, {-45, 0, 0}},   // up and ahead
        {{0, 0, 90}, {0, 100, 0}, {-90, 0, -90}},  // rolled: world up is its right
    };
    for (const Row& row : rows) {
        const vector3df aim = torpedoAim(vector3df(), row.rotation, row.target, vector3df(), 60.0f);
        EXPECT_NEAR(aim.X, row.aim.X, 1e-3f) << row.target.X << " " << row.target.Y;
        EXPECT_EQ(aim.Y, 0.0f);
        EXPECT_NEAR(aim.Z, row.aim.Z, 1e-3f) << row.target.X << " " << row.target.Y;
    }
}

// Targets still or slower than the torpedo, any attitude: the direction the
// two angles give in the torpedo's own axes (off the nose, then the roll
// from overhead), turned into the world in doubles, is the one along which
// the torpedo at its speed meets the target at some later time.
TEST(TorpedoAim, LeadsItsTargetToAMeetingPoint) {
    std::mt19937 rng(9);
    for (int k = 0; k < 20000; ++k) {
        const vector3df position = randomVector(rng, 3000.0f);
        const vector3df rotation = randomVector(rng, 360.0f);
        const vector3df target = position + randomVector(rng, 300.0f);
        const vector3df velocity = k % 4 == 0 ? vector3df() : randomVector(rng, 20.0f);
        const float speed = 40.0f + float(rng() % 60);
        const vector3df aim = torpedoAim(position, rotation, target, velocity, speed);
        const double off = -aim.X * kDeg;
        const double roll = (aim.Z + 90.0) * kDeg;
        const D3 w = toWorld({std::sin(off) * std::cos(roll), std::sin(off) * std::sin(roll), std::cos(off)},
                             rotation);
        const D3 d = {double(target.X) - position.X, double(target.Y) - position.Y,
                      double(target.Z) - position.Z};
        const D3 u = {velocity.X - w.x * speed, velocity.Y - w.y * speed, velocity.Z - w.z * speed};
        const double t = -(d.x * u.x + d.y * u.y + d.z * u.z) / (u.x * u.x + u.y * u.y + u.z * u.z);
        const D3 miss = {d.x + u.x * t, d.y + u.y * t, d.z + u.z * t};
        ASSERT_GT(t, 0.0) << k;
        ASSERT_LT(std::sqrt(miss.x * miss.x + miss.y * miss.y + miss.z * miss.z),
                  1e-3 * std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z) + 1e-3)
            << k;
    }
}

// A torpedo just launched from a ship at rest has speed 0; with junk or
// huge inputs the angles stay finite and in range too.
TEST(TorpedoAim, AlwaysFiniteWhateverTheInputs) {
    const float inf = std::numeric_limits<float>::infinity();
    const float junk[] = {0.0f, 1.0f, -250.0f, 1e30f, -3e38f, 3e38f, inf, -inf, std::nanf("")};
    std::mt19937 rng(13);
    auto pick = [&] { return junk[rng() % std::size(junk)]; };
    auto pickVector = [&] { return vector3df(pick(), pick(), pick()); };
    for (int k = 0; k < 50000; ++k) {
        const vector3df aim = torpedoAim(pickVector(), pickVector(), pickVector(), pickVector(), pick());
        ASSERT_TRUE(std::isfinite(aim.X) && std::isfinite(aim.Y) && std::isfinite(aim.Z)) << k;
        ASSERT_TRUE(aim.X <= 0.0f && aim.X >= -180.0f && aim.Z > -180.0f && aim.Z <= 180.0f) << k;
    }
    // Speed 0 against a target moving in any direction, and the torpedo at
    // the target itself.
    for (const vector3df& v : {vector3df(), vector3df(0, 0, 5), vector3df(0, 0, -5), vector3df(3, 4, 0)}) {
        const vector3df aim = torpedoAim(vector3df(), vector3df(), vector3df(0, 0, 50), v, 0.0f);
        EXPECT_TRUE(std::isfinite(aim.X) && std::isfinite(aim.Z));
    }
    EXPECT_EQ(torpedoAim(vector3df(5, 5, 5), vector3df(), vector3df(5, 5, 5), vector3df(), 0.0f),
              vector3df());
    // Targets on the nose of any attitude: the direction in own axes may
    // round to just beyond the nose.
    for (int k = 0; k < 20000; ++k) {
        irr::core::matrix4 turn;
        const vector3df rotation = randomVector(rng, 360.0f);
        turn.setRotationDegrees(rotation);
        vector3df ahead(0, 0, 100);
        turn.rotateVect(ahead);
        const vector3df aim =
            torpedoAim(vector3df(1, 2, 3), rotation, vector3df(1, 2, 3) + ahead, vector3df(), 0.0f);
        ASSERT_TRUE(std::isfinite(aim.X) && std::isfinite(aim.Z)) << k;
        ASSERT_GT(aim.X, -0.1f) << k;
    }
}

// Mass 2 and a step of 0.01: full pitch 2 × 0.01 × 1500 = 30, full roll 60.
TEST(TorpedoSteering, RollsFirstAndRestsWithinThreeDegrees) {
    struct Row {
        vector3df aim;
        float pitch;
        float roll;
    } rows[] = {
        {{-90, 0, -90}, 0, -60},                             // 90 degrees to the side: roll only
        {{-90, 0, 90}, 0, 60},      {{-90, 0, 0}, -30, 0},   // overhead: pitch only
        {{-2, 0, 2.9f}, 0, 0},                               // within 3 degrees: nothing
        {{-3, 0, -3}, 0, 0},        {{-5, 0, 20}, -15, 60},  // scaled below 10 degrees
        {{-45, 0, 29.9f}, -30, 60}, {{-45, 0, 30}, 0, 60},   // pitch waits for the roll
        {{4, 0, -5}, 12, -30},
    };
    for (const Row& row : rows) {
        const vector3df turn = torpedoSteering(row.aim, 2.0f, 0.01f, 1500.0f, 3000.0f);
        EXPECT_NEAR(turn.X, row.pitch, 1e-4f) << row.aim.X << " " << row.aim.Z;
        EXPECT_EQ(turn.Y, 0.0f);
        EXPECT_NEAR(turn.Z, row.roll, 1e-4f) << row.aim.X << " " << row.aim.Z;
    }
}

// The thrust goes along the nose and the turn about the torpedo's own axes,
// both in world axes afterwards, each damped: turned to +x, a roll is a spin
// about world x; from rest the speed settles at 9 × 450 / 60 = 67.5.
TEST(TorpedoMotion, ThrustAndTurnActInWorldAxesWithDamping) {
    const vector3df damping(0.95f, 0.5f, 0.0f);
    const TorpedoMotion once =
        torpedoMotionStep(vector3df(0, 90, 0), 2.0f, 0.01f, 450.0f, vector3df(0, 0, 40),
                          TorpedoMotion{vector3df(1, 2, 3), vector3df(4, 6, 8)}, damping, 0.9f);
    EXPECT_TRUE(once.velocity.equals(vector3df((1 + 9) * 0.9f, 2 * 0.9f, 3 * 0.9f), 1e-4f));
    EXPECT_TRUE(once.omega.equals(vector3df((4 + 40) * 0.05f, 6 * 0.5f, 8), 1e-4f));
    const vector3df turned(10, 20, 30);  // any attitude: the thrust stays along the nose
    const D3 nose = toWorld({0, 0, 1}, turned);
    TorpedoMotion run{};
    for (int step = 0; step < 300; ++step) {
        run = torpedoMotionStep(turned, 1.0f, 1.0f / 60.0f, 450.0f, vector3df(), run,
                                vector3df(0.95f, 0.95f, 0.95f), 0.9f);
    }
    EXPECT_TRUE(run.velocity.equals(vector3df(float(nose.x), float(nose.y), float(nose.z)) * 67.5f, 1e-3f));
}

TEST(TorpedoBoost, LastsTheFirstSecondAcrossTheWrap) {
    EXPECT_TRUE(torpedoBoosting(100000, 100000));
    EXPECT_TRUE(torpedoBoosting(100999, 100000));
    EXPECT_FALSE(torpedoBoosting(101000, 100000));
    EXPECT_TRUE(torpedoBoosting(500, 0xFFFFFF00u));
    EXPECT_FALSE(torpedoBoosting(744, 0xFFFFFF00u));
}

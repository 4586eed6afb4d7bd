// The ship's arithmetic without a device: the steering and force step
// against the worked cases and a double-precision reference built from
// elementary rotations, the engine pitch, the gun recoil and the light fade
// against closed forms, the destruction timeline over random frame lengths,
// and the target cycling.
#include "client/engine/RandomSource.h"
#include "client/shipmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using irr::core::vector3df;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- The double-precision reference ----------------------------------------

struct Vec {
    double x = 0, y = 0, z = 0;
};
Vec operator*(const Vec& v, double s) { return {v.x * s, v.y * s, v.z * s}; }
Vec operator+(const Vec& a, const Vec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }

// Column-vector rotation matrices: world = M × ship.
struct Mat {
    double m[3][3] = {};
    Vec operator*(const Vec& v) const {
        return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
    }
    Mat operator*(const Mat& o) const {
        Mat r;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k) r.m[i][j] += m[i][k] * o.m[k][j];
        return r;
    }
};
// Right-handed turns about one axis; the engine turns about x, then y, then z.
Mat turn(int axis, double degrees) {
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    Mat r;
    r.m[axis][axis] = 1;
    r.m[a][a] = c;
    r.m[a][b] = -s;
    r.m[b][a] = s;
    r.m[b][b] = c;
    return r;
}
Mat engineRotation(const vector3df& d) { return turn(2, d.Z) * turn(1, d.Y) * turn(0, d.X); }
Vec vec(const vector3df& v) { return {v.X, v.Y, v.Z}; }

struct Reference {
    Vec force, omega, steering;
    double roll = 0, pitch = 0;
};

double clampTo(double v, double bound) { return std::max(-bound, std::min(bound, v)); }

Reference referenceStep(const ShipForceInput& in) {
    const Mat r = engineRotation(in.rotation);
    const ShipTuning& t = in.tuning;
    const double m = in.mass, dt = in.dt;
    Reference out;
    Vec spin;
    if (in.steering == ShipSteering::PLAYER) {
        out.force = r * vec(in.thrustInput) * (m * dt);
        const Vec right = r * Vec{1, 0, 0}, up = r * Vec{0, 1, 0}, nose = r * Vec{0, 0, 1};
        out.roll = std::atan2(right.y, up.y) * 180 / kPi;
        out.pitch = -std::asin(nose.y) * 180 / kPi;
        double rollShare = clampTo(out.roll / t.rollLimit, 1.5);
        const double pitchShare = clampTo(out.pitch / t.pitchLimit, 1.0);
        Vec s = vec(in.steeringInput);
        if (s.x * pitchShare > 0) s.x *= 1 - std::fabs(pitchShare);
        if (s.z * rollShare > 0) s.z *= 1 - std::fabs(rollShare);
        rollShare = clampTo(rollShare, 1.0);
        if (s.x == 0 && s.z == 0) {
            if (std::fabs(out.roll) > t.rollDeadBand) s.z -= t.rollRate * rollShare * t.rollLevelFactor;
            if (std::fabs(out.pitch) > t.pitchDeadBand) s.x -= t.pitchRate * pitchShare * t.pitchLevelFactor;
        }
        out.steering = s;
        spin = r * s;
        // Toward the lower wing.
        if (std::fabs(out.roll) > 3) spin.y -= std::sin(out.roll * kPi / 180) * std::fabs(rollShare) * t.yawRate;
        spin = spin * (m * dt);
    } else if (in.steering == ShipSteering::LOOP) {
        out.force = r * Vec{0, 0, m * t.maxForwardThrust / 1.5 * dt};
        spin = r * Vec{-t.rollRate / 10 * m * dt, 0, -t.rollRate / 10 * m * dt};
    } else if (in.steering == ShipSteering::TURN) {
        spin = {0, t.yawRate / 10 * m * dt, 0};
    }
    spin = spin * 1e-4;
    const Vec keep{1 - in.damping.X, 1 - in.damping.Y, 1 - in.damping.Z};
    Vec w = vec(in.omega);
    if (in.surfaced) {
        out.force = {0, -5 * m, 0};
        w = w + vec(in.bobbing) + spin * 0.125;
    } else {
        w = w + spin;
    }
    out.omega = {w.x * keep.x, w.y * keep.y, w.z * keep.z};
    if (in.surfaced) out.omega = out.omega + vec(in.bobbing);
    return out;
}

void expectClose(const vector3df& got, const Vec& want, double tolerance, const char* what) {
    const double scale = std::max({1.0, std::fabs(want.x), std::fabs(want.y), std::fabs(want.z)});
    EXPECT_NEAR(got.X, want.x, tolerance * scale) << what;
    EXPECT_NEAR(got.Y, want.y, tolerance * scale) << what;
    EXPECT_NEAR(got.Z, want.z, tolerance * scale) << what;
}

bool allFinite(const ShipForceOutput& out) {
    for (const vector3df& v : {out.force, out.omega, out.steering}) {
        if (!std::isfinite(v.X) || !std::isfinite(v.Y) || !std::isfinite(v.Z)) return false;
    }
    return true;
}

// mass × dt = 10000 and no spin or damping: the new spin is the steering
// in world axes, as the controls' units read.
ShipForceInput playerAt(const vector3df& rotation, const vector3df& steering) {
    ShipForceInput in;
    in.steering = ShipSteering::PLAYER;
    in.rotation = rotation;
    in.steeringInput = steering;
    in.mass = 10000.0f;
    in.dt = 1.0f;
    return in;
}

}  // namespace

TEST(ShipSteering, EnemiesSteerByNameAndThePlayerByInput) {
    EXPECT_EQ(shipSteeringOf(true, "Enemy 2"), ShipSteering::PLAYER);
    EXPECT_EQ(shipSteeringOf(false, "Enemy 2"), ShipSteering::LOOP);
    EXPECT_EQ(shipSteeringOf(false, "Enemy 1"), ShipSteering::TURN);
    EXPECT_EQ(shipSteeringOf(false, "Enemy 3"), ShipSteering::IDLE);
    EXPECT_EQ(shipSteeringOf(false, "enemy 1"), ShipSteering::IDLE);
}

// The worked cases: limits, reversal past the roll limit, levelling, the
// dead bands and the turn toward the bank.
TEST(ShipForceStep, LimitsLevellingAndBankTurnFollowTheWorkedCases) {
    struct Case {
        const char* what;
        vector3df rotation, steering;
        float pitchLevelFactor;
        Vec steeringAfter;  // ship axes
        double yawSpin;     // world y of the new spin
    };
    const double bank20 = -std::sin(20 * kPi / 180) * (20.0 / 60) * 3000;
    const Case cases[] = {
        // Just short of 90: at 90 itself the roll reads 180 or 0 by rounding.
        {"pitched 90, nose-down input ignored", {89.99f, 0, 0}, {4000, 0, 0}, 0, {0, 0, 0}, 0},
        {"pitched 90, nose-up input kept", {89.99f, 0, 0}, {-4000, 0, 0}, 0, {-4000, 0, 0}, 0},
        {"pitched 45, half the input", {45, 0, 0}, {4000, 0, 0}, 0, {2000, 0, 0}, 0},
        {"rolled 60, roll input ignored", {0, 0, 60}, {0, 0, 8000}, 0, {0, 0, 0}, -std::sin(kPi / 3) * 3000},
        {"rolled 75, roll input reversed", {0, 0, 75}, {0, 0, 8000}, 0, {0, 0, -2000}, -std::sin(75 * kPi / 180) * 3000},
        {"rolled 20, hands off: rolls back, yaws left", {0, 0, 20}, {}, 0, {0, 0, -8000 * (20.0 / 60) * 0.25}, bank20},
        {"rolled -20: rolls back, yaws right", {0, 0, -20}, {}, 0, {0, 0, 8000 * (20.0 / 60) * 0.25}, -bank20},
        {"rolled 20 with pitch input: no levelling", {0, 0, 20}, {1, 0, 0}, 0, {1, 0, 0}, bank20},
        {"rolled 2: inside both bands", {0, 0, 2}, {}, 0, {0, 0, 0}, 0},
        {"pitched 30: no pitch levelling by default", {30, 0, 0}, {}, 0, {0, 0, 0}, 0},
        {"pitched 30, factor 0.5: levels", {30, 0, 0}, {}, 0.5f, {-4000 * (30.0 / 90) * 0.5, 0, 0}, 0},
        {"pitched 8, factor 0.5: inside the band", {8, 0, 0}, {}, 0.5f, {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        ShipForceInput in = playerAt(c.rotation, c.steering);
        in.tuning.pitchLevelFactor = c.pitchLevelFactor;
        const ShipForceOutput out = shipForceStep(in);
        EXPECT_NEAR(out.steering.X, c.steeringAfter.x, 0.5) << c.what;
        EXPECT_NEAR(out.steering.Y, c.steeringAfter.y, 0.5) << c.what;
        EXPECT_NEAR(out.steering.Z, c.steeringAfter.z, 0.5) << c.what;
        const Vec expected = engineRotation(c.rotation) * c.steeringAfter;
        EXPECT_NEAR(out.omega.Y, expected.y + c.yawSpin, 0.05) << c.what;
    }
}

// Thousands of random steps of every kind of ship, surfaced or not, against
// the double reference.
// Samples within a hair of a threshold (the bands, the 3-degree bank test,
// the roll's wrap, pitch near straight up or down) are skipped: there float
// and double may fairly take different branches.
TEST(ShipForceStep, MatchesADoublePrecisionReferenceOverRandomStates) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const auto maybeZero = [&](float v) { return rng() % 3 == 0 ? 0.0f : v; };
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        ShipForceInput in;
        in.steering = rng() % 3 == 0 ? static_cast<ShipSteering>(rng() % 4) : ShipSteering::PLAYER;
        in.rotation = vector3df(unit(rng) * 180, unit(rng) * 180, unit(rng) * 180);
        if (rng() % 2) in.rotation *= 0.1f;  // often near level
        in.thrustInput = vector3df(unit(rng) * 50, unit(rng) * 50, unit(rng) * 1000);
        in.steeringInput = vector3df(maybeZero(unit(rng) * 8000), unit(rng) * 3000, maybeZero(unit(rng) * 8000));
        in.mass = 1 + (unit(rng) + 1) * 50;
        in.dt = 0.001f + (unit(rng) + 1) * 0.008f;
        in.tuning.pitchLevelFactor = rng() % 2 ? 0.0f : 0.3f;
        in.omega = vector3df(unit(rng), unit(rng), unit(rng)) * 5;
        in.damping = (vector3df(unit(rng), unit(rng), unit(rng)) + vector3df(1, 1, 1)) * 0.5f;
        in.surfaced = rng() % 5 == 0;
        in.bobbing = vector3df(unit(rng), unit(rng), unit(rng)) * 0.015f;
        const Reference want = referenceStep(in);
        const auto near = [](double v, double edge) { return std::fabs(std::fabs(v) - edge) < 0.05; };
        if (in.steering == ShipSteering::PLAYER &&
            (near(want.roll, 3) || near(want.roll, 180) || near(want.pitch, 10) || std::fabs(want.pitch) > 89)) {
            continue;
        }
        const ShipForceOutput out = shipForceStep(in);
        expectClose(out.force, want.force, 1e-4, "force");
        expectClose(out.omega, want.omega, 1e-4, "spin");
        expectClose(out.steering, want.steering, 1e-4, "steering");
        EXPECT_NEAR(out.attitude.roll, want.roll, 1e-3);
        EXPECT_NEAR(out.attitude.pitch, want.pitch, 1e-3);
        EXPECT_EQ(out.idle, out.force == vector3df());
        if (testing::Test::HasFailure()) {
            ADD_FAILURE() << "sample " << i << " rotation " << in.rotation.X << "," << in.rotation.Y << ","
                          << in.rotation.Z;
            return;
        }
        ++checked;
    }
    EXPECT_GT(checked, 17000);
}

// NaN, infinite and huge values in any input never come out.
TEST(ShipForceStep, NonFiniteAndHugeInputsGiveFiniteForceAndSpin) {
    std::mt19937 rng(99);
    const float bad[] = {kNaN, kInf, -kInf, 3e38f, -3e38f};
    for (int i = 0; i < 5000; ++i) {
        ShipForceInput in = playerAt(vector3df(10, 20, 30), vector3df(100, 200, 300));
        in.steering = static_cast<ShipSteering>(rng() % 4);
        in.thrustInput = vector3df(1, 2, 3);
        in.dt = 1.0f / 60;
        in.mass = 10;
        in.damping = vector3df(0.05f, 0.05f, 0.05f);
        in.surfaced = rng() % 2;
        float* fields[] = {&in.rotation.X, &in.rotation.Z, &in.thrustInput.Y, &in.thrustInput.Z,
                           &in.steeringInput.X, &in.steeringInput.Z, &in.mass, &in.dt,
                           &in.omega.Y, &in.damping.X, &in.bobbing.Z, &in.tuning.rollLimit,
                           &in.tuning.yawRate, &in.tuning.maxForwardThrust};
        const int count = 1 + rng() % 3;
        for (int k = 0; k < count; ++k) *fields[rng() % 14] = bad[rng() % 5];
        const ShipForceOutput out = shipForceStep(in);
        ASSERT_TRUE(allFinite(out)) << "sample " << i;
    }
}

// ---- Engine pitch --------------------------------------------------------------

TEST(EngineFrequency, RisesWithThrustFallsWithoutAndStaysAboveIdle) {
    struct Case {
        int32_t current;
        float thrust, maxForward, dt;
        int32_t expected;
    };
    const Case cases[] = {
        {11000, 1000, 1000, 1 / 60.0f, 11066},  // + int(66.7)
        {15050, 1000, 1000, 1 / 60.0f, 15050},  // past 15000: + 66 - 66
        {12000, 0, 1000, 1 / 60.0f, 11934},     // - int(66.7)
        {11010, 0, 1000, 1 / 60.0f, 11000},     // floor
        {11000, -500, 1000, 1 / 60.0f, 11033},  // reverse counts by size: r = 0.5
        {0, 0, 1000, 1 / 60.0f, 11000},         // a stale channel reads 0
        {13000, 1000, 0, 1 / 60.0f, 12934},     // no forward limit: no ratio
        {13000, kNaN, 1000, 1 / 60.0f, 12934},
        {13000, 1000, 1000, kNaN, 13000},
        {13000, 1e10f, 1e-30f, 1, 11000},       // an infinite ratio counts as none
        {13000, 3e38f, 1, 1, std::numeric_limits<int32_t>::max()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engineFrequency(c.current, c.thrust, c.maxForward, c.dt), c.expected)
            << c.current << " " << c.thrust << " " << c.dt;
    }
    // Held thrust: a rise of a = int(r × 4000 / 60) per step while that stays
    // at or below idle + r × 4000, else a net fall of 66 - a, so the pitch
    // settles in (target - 66, target]; with a = 0 it never rises.
    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        const float ratio = float(rng() % 1000) / 1000.0f;
        int32_t f = 11000;
        for (int step = 0; step < 5000; ++step) f = engineFrequency(f, ratio * 1000, 1000, 1 / 60.0f);
        const int32_t target = 11000 + int32_t(ratio * 4000);
        const int32_t rise = int32_t(ratio * 4000 / 60);
        if (rise == 0) {
            EXPECT_EQ(f, 11000) << ratio;
        } else {
            EXPECT_GT(f, target - 66) << ratio;
            EXPECT_LE(f, target) << ratio;
        }
    }
}

// ---- Cockpit ---------------------------------------------------------------------

TEST(GunRecoil, ReturnsToRestGeometricallyAndNeverPassesIt) {
    for (const float dt : {0.005f, 0.02f, 0.05f}) {
        float z = GUN_RECOIL_Z;
        for (int n = 1; n <= 50; ++n) {
            z = gunRecoilStep(z, dt);
            EXPECT_NEAR(z, 3 - 0.05 * std::pow(1 - 10.0 * dt, n), 1e-6) << dt << " " << n;
        }
    }
    EXPECT_EQ(gunRecoilStep(GUN_RECOIL_Z, 0.25f), GUN_REST_Z);  // 10 × dt > 1 would overshoot
    EXPECT_EQ(gunRecoilStep(kNaN, 0.02f), GUN_REST_Z);
    EXPECT_EQ(gunRecoilStep(2.95f, kInf), GUN_REST_Z);
}

TEST(LightFade, FramesOfTwentyMsFollowTheClosedForms) {
    // Off: 75 frames before 1500 ms; the cockpit light dims for 15 frames,
    // then its red comes back (3.6 in total, capped at 1).
    ShipLights off;
    for (uint32_t t = 0; t < 2000; t += 20) fadeLights(off, false, t);
    EXPECT_NEAR(off.head.r, 0.625 * std::pow(0.95, 75), 1e-6);
    EXPECT_NEAR(off.head.g, 0.75 * std::pow(0.925, 75), 1e-6);
    EXPECT_NEAR(off.head.b, std::pow(0.9, 75), 1e-6);
    EXPECT_FLOAT_EQ(off.cockpit.r, 1.0f);
    EXPECT_NEAR(off.cockpit.g, 192 / 255.0 * std::pow(0.8, 15), 1e-6);
    EXPECT_NEAR(off.cockpit.b, std::pow(0.8, 15), 1e-6);
    EXPECT_EQ(beamColor(off.head), irr::video::SColor(64, 1, 0, 0));  // red 1.7 truncated

    // On from dark: the head light climbs back to its colour and stops
    // there; the cockpit light ends white.
    ShipLights on = off;
    on.head = irr::video::SColorf(0, 0, 0, 1);
    for (uint32_t t = 0; t < 1500; t += 20) fadeLights(on, true, t);
    EXPECT_FLOAT_EQ(on.head.r, 0.625f);
    EXPECT_FLOAT_EQ(on.head.g, 0.75f);
    EXPECT_FLOAT_EQ(on.head.b, 1.0f);
    EXPECT_FLOAT_EQ(on.cockpit.g, 1.0f);
    EXPECT_EQ(beamColor(on.head), irr::video::SColor(64, 80, 96, 128));

    // At exactly 300 ms the cockpit light neither dims nor returns; from
    // 1500 ms on nothing changes.
    ShipLights edge;
    fadeLights(edge, true, 300);
    EXPECT_FLOAT_EQ(edge.cockpit.r, 160 / 255.0f);
    ShipLights late;
    fadeLights(late, false, 1500);
    EXPECT_FLOAT_EQ(late.head.r, 0.625f);
}

// ---- Destruction -----------------------------------------------------------------

namespace {

class CountingSource : public tarnwell::scene::RandomSource {
public:
    irr::u32 next() override { return draws++ * 137u; }
    irr::u32 draws = 0;
};

}  // namespace

// Random frame lengths (1 to 300 ms), starting anywhere on the clock
// including just before its wrap: one begin, one explosion, one break at the
// first frame past 2100 ms when a frame fell in (1900, 2100), else past
// 2500. With a body, small explosions come at the first frame past each due
// time (0, then 200-599 ms further per draw), up to 1900 ms; without, none.
TEST(ShipDestruction, TimelineHoldsForAnyFrameLengths) {
    std::mt19937 rng(5);
    for (int run = 0; run < 500; ++run) {
        const bool hasBody = run % 4 != 0;
        ShipDestruction state;
        CountingSource random;
        const uint32_t start = run % 2 ? 0xFFFFFF00u + uint32_t(run) : uint32_t(rng());
        uint32_t now = start;
        int begins = 0, explosions = 0;
        bool windowHit = false, broken = false;
        uint32_t previous = 0, due = 0, smalls = 0;
        bool previousSmall = false;
        while (!broken) {
            const uint32_t e = now - start;
            ASSERT_LT(e, 3000u);
            windowHit = windowHit || (e > 1900 && e < 2100);
            const uint32_t events = destructionStep(state, now, hasBody, random);
            begins += (events & DESTROY_BEGIN) != 0;
            explosions += (events & DESTROY_SHIP_EXPLOSION) != 0;
            if (events & DESTROY_SMALL_EXPLOSION) {
                EXPECT_LE(e, 1900u);
                EXPECT_GT(e, due);
                // The first frame past it, unless that frame had the one before.
                EXPECT_TRUE(previous <= due || previousSmall) << previous << " " << due;
                due += (smalls++ * 137u) % 400 + 200;
            }
            previousSmall = (events & DESTROY_SMALL_EXPLOSION) != 0;
            if (events & DESTROY_BREAK) {
                broken = true;
                EXPECT_GT(e, windowHit ? 2100u : 2500u);
                EXPECT_LE(previous, windowHit ? 2100u : 2500u);
                EXPECT_EQ(state.phase, 3);
            }
            previous = e;
            now += 1 + rng() % 300;
        }
        EXPECT_EQ(begins, 1);
        EXPECT_EQ(explosions, 1);
        EXPECT_EQ(random.draws, smalls);
        EXPECT_EQ(smalls == 0, !hasBody);
    }
}

// ---- Target selection ------------------------------------------------------------

TEST(TargetSelection, CyclesThroughLiveShipsOnTheRadarAndNeverAShipBeingDestroyed) {
    // The player first, three enemies: player (no target), 1, 2, 3, player.
    std::vector<TargetRecord> ships(4, TargetRecord{true, false, 1000.0f, true});
    ships[0].targeted = true;
    const int32_t cycle[] = {1, 2, 3, 0, 1};
    for (const int32_t expected : cycle) {
        const TargetChoice choice = chooseNextTarget(ships);
        ASSERT_EQ(choice.chosen, expected);
        ships[choice.cleared].targeted = false;
        ships[choice.chosen].targeted = true;
    }

    struct Case {
        const char* what;
        std::vector<TargetRecord> ships;
        int32_t cleared, chosen;
    };
    const TargetRecord live{true, false, 1000, true}, flagged{true, true, 1000, true};
    const TargetRecord zero{true, false, 0, true}, negative{true, false, -50, true};
    const TargetRecord off{true, false, 1000, false}, null{false, false, 1000, true};
    const TargetRecord flaggedDying{true, true, 0, true};
    const Case cases[] = {
        {"one ship: nothing", {flagged}, -1, -1},
        {"none flagged: from the front, never the front", {live, live}, -1, 1},
        {"skips hull 0, negative and off-radar", {flagged, zero, negative, off, live}, 0, 4},
        {"a flagged dying target is left for the next", {live, flaggedDying, zero, live}, 1, 3},
        {"wraps to the front", {live, live, flagged}, 2, 0},
        {"nobody qualifies: flag cleared, no target", {flagged, zero, off}, 0, -1},
        {"null before the flag: nothing", {live, null, flagged}, -1, -1},
        {"null after the start: cleared, stop", {flagged, null, live}, 0, -1},
    };
    for (const Case& c : cases) {
        const TargetChoice choice = chooseNextTarget(c.ships);
        EXPECT_EQ(choice.cleared, c.cleared) << c.what;
        EXPECT_EQ(choice.chosen, c.chosen) << c.what;
    }
}

// The effects' arithmetic without a scene: an effect record's timeline at the
// ages where something changes, the floating particles' range, and the ends
// of every random spread.
#include "client/effectmath.h"

#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cctype>
#include <random>
#include <string>

namespace {

struct TimelineRow {
    const char* what;
    uint32_t start, duration, lifetime;
    bool ring;
    uint32_t age;  // now = start + age, wrapping
    bool endless, grow, fade;
    uint32_t shade;
    bool detach, hide, retire;
};

// Blue impact: 200 ms of emission, 600 ms of life. Debris burst: 500 and
// 1000 with a ring, whose fade runs from 300 to 1100 ms (255 x (1100 - age) /
// 800, truncated) and which would be hidden only after 1100 ms.
// clang-format off
const TimelineRow kTimeline[] = {
    {"impact at the end of emission", 0, 200, 600, false, 200, false, false, false, 0, false, false, false},
    {"impact just after emission", 0, 200, 600, false, 201, false, false, false, 0, true, false, false},
    {"impact at its last life", 0, 200, 600, false, 600, false, false, false, 0, true, false, false},
    {"impact retired", 0, 200, 600, false, 601, false, false, false, 0, true, false, true},
    {"impact across the clock's wrap", 0xFFFFFF00u, 200, 600, false, 601, false, false, false, 0, true, false,
     true},
    {"burst at birth", 5000, 500, 1000, true, 0, false, true, false, 0, false, false, false},
    {"burst before its fade", 5000, 500, 1000, true, 300, false, true, false, 0, false, false, false},
    {"burst starts fading", 5000, 500, 1000, true, 301, false, true, true, 254, false, false, false},
    {"burst at the end of emission", 5000, 500, 1000, true, 500, false, true, true, 191, false, false, false},
    {"burst draining", 5000, 500, 1000, true, 501, false, true, true, 190, true, false, false},
    {"burst at its last life", 5000, 500, 1000, true, 1000, false, true, true, 31, true, false, false},
    {"burst retired, nearly faded", 5000, 500, 1000, true, 1001, false, true, true, 31, true, false, true},
    {"burst ring at its end", 5000, 500, 1000, true, 1099, false, true, true, 0, true, false, true},
    {"burst ring over", 5000, 500, 1000, true, 1100, false, false, false, 0, true, false, true},
    {"burst ring hidden", 5000, 500, 1000, true, 1101, false, false, false, 0, true, true, true},
    // A ring shorter than the fade's lead fades from birth: (800 - 100) / 800.
    {"short ring at birth", 0, 100, 1000, true, 0, false, true, true, 223, false, false, false},
    {"endless trail", 0, 0, 4000, false, 3000000, true, false, false, 0, false, false, false},
    {"stopped trail at its last life", 70, STOPPED_DURATION_MS, 4000, false, 4000, false, false, false, 0, false,
     false, false},
    {"stopped trail retired", 70, STOPPED_DURATION_MS, 4000, false, 4001, false, false, false, 0, false, false,
     true},
};
// clang-format on

class EffectTimeline : public testing::TestWithParam<TimelineRow> {};

TEST_P(EffectTimeline, AgesAsTheRecordTimesSay) {
    const TimelineRow& row = GetParam();
    const EffectFrame frame =
        effectFrame(row.start, row.duration, row.lifetime, row.ring, row.start + row.age);
    EXPECT_EQ(frame.endless, row.endless);
    EXPECT_EQ(frame.growRing, row.grow);
    EXPECT_EQ(frame.fadeRing, row.fade);
    if (row.fade) {
        EXPECT_EQ(frame.ringShade, row.shade);
    }
    EXPECT_EQ(frame.detachEmitter, row.detach);
    EXPECT_EQ(frame.hideRing, row.hide);
    EXPECT_EQ(frame.retire, row.retire);
}

INSTANTIATE_TEST_SUITE_P(Rows, EffectTimeline, testing::ValuesIn(kTimeline),
                         [](const testing::TestParamInfo<TimelineRow>& info) {
                             std::string name = info.param.what;
                             for (char& c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

TEST(CameraParticleRange, ExactlyOneHundredFiftyStaysAndAnyFartherIsPlacedAgain) {
    const irr::core::vector3df player(2560, -3780, 3760);
    EXPECT_TRUE(cameraParticleStaysNear(player + irr::core::vector3df(150, 0, 0), player));
    EXPECT_TRUE(
        cameraParticleStaysNear(player + irr::core::vector3df(90, 0, -120), player));  // 90² + 120² = 150²
    EXPECT_FALSE(cameraParticleStaysNear(player + irr::core::vector3df(150.01f, 0, 0), player));
    EXPECT_FALSE(cameraParticleStaysNear(player + irr::core::vector3df(0, -100, 112), player));  // 150.1
}

struct SpreadRow {
    const char* what;
    irr::core::vector3df (*spread)(irr::u32 r);
    irr::u32 modulus;                // the draws repeat with this period
    irr::core::vector3df low, high;  // at r = 0 and r = modulus - 1
};

// clang-format off
const SpreadRow kSpreads[] = {
    {"camera particle start", [](irr::u32 r) { return cameraParticleStart(r, r, r); }, 2000, {-100, -100, -100},
     {99.9f, 99.9f, 99.9f}},
    {"camera particle ahead", [](irr::u32 r) { return cameraParticleAhead(r, r, r); }, 1000, {-50, -50, 100},
     {49.9f, 49.9f, 149.9f}},
    {"camera particle drift over 2 s", [](irr::u32 r) { return cameraParticleDrift(r, r, r, 2.0f); }, 30,
     {-0.3f, -0.3f, -0.3f}, {0.28f, 0.28f, 0.28f}},
    {"camera particle roll", [](irr::u32 r) { return irr::core::vector3df(cameraParticleRoll(r)); }, 3600,
     {0, 0, 0}, {359.9f, 359.9f, 359.9f}},
    {"debris offset", [](irr::u32 r) { return debrisOffset(r, r, r); }, 10, {-0.5f, -0.5f, -0.5f},
     {0.4f, 0.4f, 0.4f}},
    {"debris impulse", [](irr::u32 r) { return debrisImpulse(r, r, r); }, 1000, {-50, -50, -50},
     {49.9f, 49.9f, 49.9f}},
    {"debris impulse point", [](irr::u32 r) { return debrisImpulseOffset(r, r, r); }, 40, {-2, -2, -2},
     {1.9f, 1.9f, 1.9f}},
    {"ring tilt", [](irr::u32 r) { return ringTilt(r, r); }, 120, {-20, -60, 0}, {-59, 59, 0}},
    {"debris counts", [](irr::u32 r) {
         const DebrisCounts c = debrisCounts(r, r, r);
         return irr::core::vector3df(float(c.first), float(c.second), float(c.third));
     }, 6, {1, 1, 2}, {2, 2, 4}},
};
// clang-format on

class RandomSpread : public testing::TestWithParam<SpreadRow> {};

// The ends the effects promise, and every other draw inside them.
TEST_P(RandomSpread, ReachesBothEndsAndStaysBetween) {
    const SpreadRow& row = GetParam();
    const irr::core::vector3df low = row.spread(0);
    const irr::core::vector3df high = row.spread(row.modulus - 1);
    EXPECT_TRUE(low.equals(row.low, 1e-4f)) << low.X << " " << low.Y << " " << low.Z;
    EXPECT_TRUE(high.equals(row.high, 1e-4f)) << high.X << " " << high.Y << " " << high.Z;
    irr::core::aabbox3df range(row.low);
    range.addInternalPoint(row.high);
    range.MinEdge -= irr::core::vector3df(1e-4f);
    range.MaxEdge += irr::core::vector3df(1e-4f);
    std::mt19937 draws(17);
    for (int i = 0; i < 5000; ++i) {
        const irr::core::vector3df v = row.spread(draws() & 0x7fffffffu);
        ASSERT_TRUE(range.isPointInside(v)) << v.X << " " << v.Y << " " << v.Z;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RandomSpread, testing::ValuesIn(kSpreads));

}  // namespace

// The four affectors against their closed forms over time: no device.
#include "ParticleTestSupport.h"

#include "client/engine/CParticleAttractionAffector.h"
#include "client/engine/CParticleFadeOutAffector.h"
#include "client/engine/CParticleGravityAffector.h"
#include "client/engine/CParticleRotationAffector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

using namespace particletest;
using irr::core::vector3df;
using irr::video::SColor;
namespace ts = tarnwell::scene;

namespace {

SParticle particleAt(const vector3df& pos, const vector3df& vector = vector3df(), u32 startTime = 0,
                     u32 endTime = 100000, SColor color = SColor(255, 255, 255, 255)) {
    return SParticle{pos, vector, startTime, endTime, color, color, vector};
}

struct FadeCase {
    const char* name;
    u32 fadeOutTime;
    SColor start;
    SColor target;
    u32 left;  // ms before the particle's end
    SColor expected;
};

class FadeOut : public testing::TestWithParam<FadeCase> {};

TEST_P(FadeOut, BlendsTowardsTheTargetOverTheLastMilliseconds) {
    const FadeCase& c = GetParam();
    ts::CParticleFadeOutAffector fade(c.target, c.fadeOutTime);
    SParticle p = particleAt(vector3df(), vector3df(), 0, 10000, c.start);
    p.color = SColor(1, 2, 3, 4);  // what the colour was before this call
    fade.affect(10000 - c.left, &p, 1);
    EXPECT_EQ(p.color, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FadeOut,
    testing::Values(FadeCase{"HalfWayToBlackIsHalfTheStartColour", 500, SColor(255, 201, 100, 7),
                             SColor(0, 0, 0, 0), 250, SColor(127, 100, 50, 3)},
                    FadeCase{"AQuarterLeftTowardsWhite", 100, SColor(55, 55, 55, 55),
                             SColor(255, 255, 255, 255), 25, SColor(205, 205, 205, 205)},
                    FadeCase{"MoreTimeLeftKeepsTheColour", 500, SColor(255, 255, 255, 255),
                             SColor(0, 0, 0, 0), 500, SColor(1, 2, 3, 4)},
                    FadeCase{"ZeroTimeFadesOverOneMs", 0, SColor(255, 255, 255, 255), SColor(0, 10, 20, 30),
                             0, SColor(0, 10, 20, 30)},
                    FadeCase{"ZeroTimeLeavesTheLastButOneMs", 0, SColor(255, 255, 255, 255),
                             SColor(0, 0, 0, 0), 1, SColor(1, 2, 3, 4)},
                    // Wrapped time left: the node removes it after this call.
                    FadeCase{"ExpiredParticleKeepsItsColour", 500, SColor(255, 255, 255, 255),
                             SColor(0, 0, 0, 0), static_cast<u32>(-5), SColor(1, 2, 3, 4)}),
    [](const testing::TestParamInfo<FadeCase>& info) { return std::string(info.param.name); });

TEST(FadeOut, EveryChannelMovesSteadilyFromTheStartToTheTarget) {
    SequenceRandom colours(5);
    for (int run = 0; run < 200; ++run) {
        const SColor start(colours.next() & 0xffffffffu);
        const SColor target(colours.next() & 0xffffffffu);
        const u32 fadeTime = 1 + colours.next() % 2000;
        ts::CParticleFadeOutAffector fade(target, fadeTime);
        SParticle p = particleAt(vector3df(), vector3df(), 0, 50000, start);
        u32 previousDistance[4] = {256, 256, 256, 256};
        for (u32 now = 50000 - fadeTime - 3; now <= 50000; ++now) {
            fade.affect(now, &p, 1);
            const u32 got[4] = {p.color.getAlpha(), p.color.getRed(), p.color.getGreen(), p.color.getBlue()};
            const u32 from[4] = {start.getAlpha(), start.getRed(), start.getGreen(), start.getBlue()};
            const u32 to[4] = {target.getAlpha(), target.getRed(), target.getGreen(), target.getBlue()};
            for (int c = 0; c < 4; ++c) {
                ASSERT_GE(got[c], std::min(from[c], to[c]));
                ASSERT_LE(got[c], std::max(from[c], to[c]));
                const u32 distance = got[c] > to[c] ? got[c] - to[c] : to[c] - got[c];
                ASSERT_LE(distance, previousDistance[c]) << "at " << now;
                previousDistance[c] = distance;
            }
        }
        EXPECT_EQ(p.color, target);
    }
}

TEST(Gravity, TakesOverLinearlyUntilTheTimeForceLost) {
    const vector3df start(2, 0, 0.5f);
    const vector3df gravity(0, -4, 0);
    const struct {
        f32 timeForceLost;
        u32 age;
        vector3df expected;
    } cases[] = {{1000, 0, start},
                 {1000, 500, (start + gravity) * 0.5f},
                 {1000, 250, vector3df(1.5f, -1, 0.375f)},
                 {1000, 1000, gravity},
                 {1000, 7000, gravity},
                 // Without a time, or a negative one, the gravity holds from birth.
                 {0, 0, gravity},
                 {0, 30, gravity},
                 {-5, 30, gravity}};
    for (const auto& c : cases) {
        ts::CParticleGravityAffector affector(gravity, 1);
        affector.setTimeForceLost(c.timeForceLost);
        SParticle p = particleAt(vector3df(), start, 3000);
        affector.affect(3000 + c.age, &p, 1);
        EXPECT_TRUE(p.vector.equals(c.expected)) << c.timeForceLost << " " << c.age << ": " << p.vector.X
                                                 << " " << p.vector.Y << " " << p.vector.Z;
    }
}

// Irregular call times, the first only noted.
std::vector<u32> callTimes(u32 seed, u32 count) {
    SequenceRandom steps(seed);
    std::vector<u32> times{400};
    while (times.size() < count) {
        times.push_back(times.back() + 1 + steps.next() % 60);
    }
    return times;
}

TEST(Attraction, MovesAlongTheLineAtItsSpeedFromTheSecondCall) {
    ts::CParticleAttractionAffector affector(vector3df(1, 2, 3), 2.0f, true, true, true);
    const vector3df from(1 + 30, 2 - 40, 3);  // 50 units out
    SParticle p = particleAt(from);
    const std::vector<u32> times = callTimes(11, 200);
    for (u32 now : times) {
        affector.affect(now, &p, 1);
        const double travelled = 2.0 * (now - times.front()) / 1000.0;
        ASSERT_LT(travelled, 50.0);
        const vector3df expected = from + vector3df(-30, 40, 0) * static_cast<f32>(travelled / 50.0);
        ASSERT_TRUE(p.pos.equals(expected, 1e-3f)) << now;
    }
}

TEST(Attraction, KeepsUnaffectedAxesPushesAwayWhenNegativeAndLeavesAParticleOnThePoint) {
    ts::CParticleAttractionAffector keepY(vector3df(), 5.0f, true, false, true);
    ts::CParticleAttractionAffector push(vector3df(), -5.0f, true, true, true);
    SParticle p[3] = {particleAt(vector3df(0, 4, 3)), particleAt(vector3df()),
                      particleAt(vector3df(0, 0, 1))};
    keepY.affect(1000, p, 2);
    keepY.affect(1200, p, 2);
    push.affect(1000, p + 2, 1);
    push.affect(1200, p + 2, 1);
    // One unit towards the origin along (0, -0.8, -0.6), without the Y part.
    EXPECT_TRUE(p[0].pos.equals(vector3df(0, 4, 2.4f))) << p[0].pos.Z;
    EXPECT_EQ(p[1].pos, vector3df());
    EXPECT_TRUE(p[2].pos.equals(vector3df(0, 0, 2)));
}

TEST(Rotation, TurnsAboutThePivotByItsSpeedFromTheSecondCall) {
    const vector3df pivot(1, 0, 1);
    ts::CParticleRotationAffector affector(vector3df(0, 90, 0), pivot);
    SParticle p = particleAt(vector3df(3, 5, 1));
    const std::vector<u32> times = callTimes(12, 200);
    for (u32 now : times) {
        affector.affect(now, &p, 1);
        // Turning X towards Z: (2, 0) from the pivot goes to (2 cos a, 2 sin a).
        const double angle = 90.0 * (now - times.front()) / 1000.0 * M_PI / 180.0;
        const vector3df expected(1 + 2 * std::cos(angle), 5, 1 + 2 * std::sin(angle));
        ASSERT_TRUE(p.pos.equals(expected, 1e-3f)) << now;
    }
}

TEST(Rotation, TurnsAboutXBeforeZ) {
    ts::CParticleRotationAffector affector(vector3df(90, 0, 90), vector3df());
    SParticle p = particleAt(vector3df(0, 1, 0));
    affector.affect(1000, &p, 1);
    affector.affect(2000, &p, 1);
    // About X first carries Y to Z, where the turn about Z leaves it; the
    // other order would end at (-1, 0, 0).
    EXPECT_TRUE(p.pos.equals(vector3df(0, 0, 1), 1e-5f));
}

// Disabled affectors change nothing; enabled again they act at once and do
// not catch up on the time they were off.
struct SwitchCase {
    const char* name;
    std::function<ts::IParticleAffector*()> make;
    SParticle particle;
    std::vector<std::pair<u32, bool>> calls;  // (time, enabled)
    std::function<bool(const SParticle&)> expected;
};

class SwitchedOff : public testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchedOff, ChangesNothingAndResumesWithoutCatchingUp) {
    const SwitchCase& c = GetParam();
    ts::IParticleAffector* affector = c.make();
    EXPECT_TRUE(affector->getEnabled());
    SParticle p = c.particle;
    for (const auto& call : c.calls) {
        affector->setEnabled(call.second);
        affector->affect(call.first, &p, 1);
        if (!call.second) {
            ASSERT_EQ(std::memcmp(&p, &c.particle, sizeof(SParticle)), 0) << call.first;
        }
    }
    EXPECT_TRUE(c.expected(p)) << p.pos.X << " " << p.pos.Y << " " << p.pos.Z;
    affector->drop();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SwitchedOff,
    testing::Values(
        SwitchCase{"FadeOut",
                   [] { return new ts::CParticleFadeOutAffector(SColor(0, 0, 0, 0), 500); },
                   particleAt(vector3df(), vector3df(), 0, 1000, SColor(200, 200, 200, 200)),
                   {{600, false}, {750, false}, {800, true}},
                   [](const SParticle& p) { return p.color == SColor(80, 80, 80, 80); }},
        SwitchCase{"Gravity",
                   [] { return new ts::CParticleGravityAffector(vector3df(0, -2, 0), 1000); },
                   particleAt(vector3df(), vector3df(4, 0, 0), 0),
                   {{500, false}, {500, true}},
                   [](const SParticle& p) { return p.vector.equals(vector3df(2, -1, 0)); }},
        SwitchCase{"Attraction",
                   [] { return new ts::CParticleAttractionAffector(vector3df(), 1.0f, true, true, true); },
                   particleAt(vector3df(10, 0, 0)),
                   {{1000, false}, {2000, false}, {3000, false}, {3500, true}},
                   [](const SParticle& p) { return p.pos.equals(vector3df(9.5f, 0, 0)); }},
        SwitchCase{"Rotation",
                   [] { return new ts::CParticleRotationAffector(vector3df(0, 90, 0), vector3df()); },
                   particleAt(vector3df(1, 0, 0)),
                   {{1000, false}, {2000, false}, {3000, false}, {4000, true}},
                   [](const SParticle& p) { return p.pos.equals(vector3df(0, 0, 1), 1e-5f); }}),
    [](const testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

TEST(AffectorSetters, RefuseNonFiniteValues) {
    const f32 nan = std::nanf("");
    const vector3df bad(0, INFINITY, 0);
    ts::CParticleFadeOutAffector fade(SColor(0), 300);
    fade.setFadeOutTime(nan);
    ts::CParticleGravityAffector gravity(bad, 10);
    gravity.setTimeForceLost(INFINITY);
    ts::CParticleAttractionAffector attraction(vector3df(1, 1, 1), nan, true, true, true);
    attraction.setPoint(bad);
    ts::CParticleRotationAffector rotation(vector3df(nan, 2, 3), vector3df(4, 5, 6));
    rotation.setPivotPoint(bad);
    rotation.setSpeedY(-INFINITY);
    EXPECT_EQ(fade.getFadeOutTime(), 300.0f);
    EXPECT_EQ(gravity.getGravity(), vector3df());
    EXPECT_EQ(gravity.getTimeForceLost(), 10.0f);
    EXPECT_EQ(attraction.getPoint(), vector3df(1, 1, 1));
    EXPECT_EQ(attraction.getSpeed(), 0.0f);
    EXPECT_EQ(rotation.getPivotPoint(), vector3df(4, 5, 6));
    EXPECT_EQ(vector3df(rotation.getSpeedX(), rotation.getSpeedY(), rotation.getSpeedZ()),
              vector3df(0, 2, 3));
}

}  // namespace

// The physics glue's pure rules, without a world or a device: the contact
// rule table, the debug drawing's choice, the box inertia, the level body's
// vertices and the way a ship is put back inside the world box.
#include "client/constants.h"
#include "client/heightmap.h"
#include "client/object.h"
#include "client/physicsrules.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using irr::core::vector3df;

namespace {

// Actions as text, e.g. "B:explode-static", in the order they run.
std::string describe(const ContactActions& actions) {
    const char* names[] = {"explode-static", "explode", "hit", "damage", "sound"};
    std::string text;
    for (int32_t k = 0; k < actions.count; ++k) {
        text += std::string(k > 0 ? " " : "") + (actions.actions[k].object == 0 ? "A:" : "B:") +
                names[static_cast<int32_t>(actions.actions[k].effect)];
    }
    return text;
}

// The game's contact rules for every pair of types (A, B), from the rule
// table: level 0, ship 1, weapon 2, torpedo 3, station 4, trash 5, and
// types the game never gives.
TEST(ContactRules, TableForEveryPairOfTypes) {
    const struct {
        int32_t a;
        int32_t b;
        const char* actions;
    } rules[] = {
        {0, 3, "B:explode-static"}, {3, 0, "A:explode-static"}, {4, 3, "B:explode-static"},
        {3, 4, "A:explode-static"}, {5, 3, "A:hit B:explode"},   {3, 5, "B:hit A:explode"},
        {1, 3, "A:damage B:explode"}, {3, 1, "B:damage A:explode"}, {1, 1, "A:sound B:sound"},
        {1, 4, "A:sound"},          {4, 1, "B:sound"},          {1, 0, "A:sound"},
        {0, 1, "B:sound"},
    };
    for (int32_t a = -1; a <= 6; ++a) {
        for (int32_t b = -1; b <= 6; ++b) {
            std::string expected;
            for (const auto& rule : rules) {
                expected = (rule.a == a && rule.b == b) ? rule.actions : expected;
            }
            EXPECT_EQ(describe(contactRules(a, b)), expected) << a << ", " << b;
        }
    }
    EXPECT_EQ(TORPEDO_HIT_DAMAGE, 600.0f);
}

TEST(DebugDrawing, ModeOneLeavesOutTheLevelModeTwoDrawsAllOthersNothing) {
    for (int32_t mode = -1; mode <= 3; ++mode) {
        for (int32_t type = OBJECT_LEVEL; type <= OBJECT_TRASH; ++type) {
            const bool expected = mode == 2 || (mode == 1 && type != OBJECT_LEVEL);
            EXPECT_EQ(debugDrawShows(mode, type), expected) << mode << ", " << type;
        }
    }
}

// Mass times the sum of the other two squared extents: for the game's ships,
// twelve times the inertia of a solid box.
TEST(BoxInertia, TwelveTimesASolidBoxOfTheShipsSizes) {
    const struct {
        vector3df size;
        float mass;
        vector3df inertia;
    } rows[] = {{{6, 3, 10}, 10, {1090, 1360, 450}},
                {{8, 3, 10}, 30, {3270, 4920, 2190}},
                {{36, 10, 16}, 100, {35600, 155200, 139600}},
                {{0.5f, 0.5f, 2}, 1, {4.25f, 4.25f, 0.5f}},
                {{2.5f, 2.5f, 2.5f}, 1, {12.5f, 12.5f, 12.5f}}};
    for (const auto& row : rows) {
        const vector3df inertia = boxInertia(row.mass, row.size);
        EXPECT_FLOAT_EQ(inertia.X, row.inertia.X);
        EXPECT_FLOAT_EQ(inertia.Y, row.inertia.Y);
        EXPECT_FLOAT_EQ(inertia.Z, row.inertia.Z);
    }
}

// The level body at TERRAIN_POSITION puts the terrain's vertex (i, raw, j)
// where the height map has the ground: (20 i, raw x 0.25 - 12000, 20 j).
TEST(LevelVertex, LandsWhereTheHeightMapHasTheGround) {
    HeightMap map(TARNWELL_MEDIA_DIR "/terrain/map257x257.raw", 16);
    ASSERT_EQ(map.getSize(), 257);
    std::mt19937 random(4);
    for (int32_t n = 0; n < 2000; ++n) {
        const int32_t i = int32_t(random() % 257);
        const int32_t j = int32_t(random() % 257);
        const float raw = (map.getHeight(vector3df(20.0f * i, 0, 20.0f * j)) + 12000.0f) * 4.0f;
        const vector3df placed = levelVertex(vector3df(float(i), raw, float(j))) + TERRAIN_POSITION;
        ASSERT_EQ(placed, vector3df(20.0f * i, map.getHeight(placed), 20.0f * j)) << i << ", " << j;
    }
}

// A box put back lies within the margin inside the world on every axis where
// it fits (the middle otherwise), moved no further than that needs.
TEST(PlaceInsideBox, PutsTheBoxJustInsideAndLeavesAnInsideBoxAlone) {
    const vector3df worldMin(0, -4800, 0);
    const vector3df worldMax(5120, 0, 5120);
    std::mt19937 random(9);
    std::uniform_real_distribution<float> where(-200.0f, 5320.0f);
    std::uniform_real_distribution<float> depth(-5000.0f, 200.0f);
    std::uniform_real_distribution<float> reach(0.1f, 20.0f);
    for (int32_t n = 0; n < 5000; ++n) {
        const vector3df centre(where(random), depth(random), where(random));
        const vector3df below(reach(random), reach(random), reach(random));
        const vector3df above(reach(random), reach(random), reach(random));
        const vector3df put = placeInsideBox(centre, centre - below, centre + above, worldMin, worldMax, 0.5f);
        const float c[3] = {centre.X, centre.Y, centre.Z}, p[3] = {put.X, put.Y, put.Z};
        const float lo[3] = {below.X, below.Y, below.Z}, hi[3] = {above.X, above.Y, above.Z};
        const float wlo[3] = {0, -4800, 0}, whi[3] = {5120, 0, 5120};
        for (int32_t a = 0; a < 3; ++a) {
            const bool inside = c[a] - lo[a] >= wlo[a] + 0.5f && c[a] + hi[a] <= whi[a] - 0.5f;
            ASSERT_TRUE(inside ? p[a] == c[a] : (p[a] - lo[a] >= wlo[a] + 0.49f && p[a] + hi[a] <= whi[a] - 0.49f))
                << n << " axis " << a;
            ASSERT_TRUE(inside || p[a] - lo[a] <= wlo[a] + 0.51f || p[a] + hi[a] >= whi[a] - 0.51f) << "no further";
        }
    }
    const vector3df wide = placeInsideBox(vector3df(1, 2, 3), vector3df(-9000, 1, 2), vector3df(9000, 3, 4),
                                          worldMin, worldMax, 0.5f);
    EXPECT_EQ(wide.X, 2560.0f);
}

TEST(IsFiniteVector, RefusesAnyNonFiniteComponent) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    EXPECT_TRUE(isFiniteVector(vector3df(1e38f, -1e38f, 0)));
    for (float value : bad) {
        EXPECT_FALSE(isFiniteVector(vector3df(value, 0, 0)));
        EXPECT_FALSE(isFiniteVector(vector3df(0, value, 0)));
        EXPECT_FALSE(isFiniteVector(vector3df(0, 0, value)));
    }
}

}  // namespace

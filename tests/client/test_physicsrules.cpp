// The physics glue's pure rules, without a world or a device: the contact
// rule table and the debug drawing's choice. (The inertia, the level body's
// vertices and the world box's rule are checked in a world, test_physics.)
#include "client/object.h"
#include "client/physicsrules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace

// A scripted fight through the whole game on the null driver: the player
// selects Enemy 1 with the target key, fires the guns and two torpedoes at
// it through the controls, and the game's frame loop, physics glue, contact
// rules, entities and effects take it from there until the enemy has burnt,
// broken and been deleted; its debris then sinks. Run under the sanitizer
// build, this is also the check that nothing points at the deleted ship.
#include "GameStateRig.h"

#include "client/globals.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/trash.h"
#include "client/weapon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using clienttest::StateRig;

namespace {

Ship* shipNamed(const std::string& name) {
    const auto found = std::find_if(globals.shipList.begin(), globals.shipList.end(),
                                    [&](Ship* ship) { return ship->getName() == name; });
    return found != globals.shipList.end() ? *found : nullptr;
}

}  // namespace

TEST(Fight, GunsAndTwoTorpedoesDestroyEnemyOneWhoseDebrisSinks) {
    StateRig rig;
    globals.gameState = GS_GAME_RUN;
    ASSERT_TRUE(rig.game.init(L"caption"));
    Ship* enemy = shipNamed("Enemy 1");
    ASSERT_NE(enemy, nullptr);

    // Frames are paced to 20 ms on the scripted clock: 50 a second.
    constexpr int32_t kSecond = 50;
    constexpr int32_t kLimit = 40 * kSecond;
    int32_t launched = 0;
    size_t torpedoes = 0;
    int32_t destroyedAt = -1;
    float lowestHull = 1000.0f;
    float debrisStart = 0.0f;
    float debrisEnd = 0.0f;
    size_t debris = 0;
    const auto meanDebrisHeight = [] {
        float sum = 0.0f;
        for (Trash* piece : globals.trashList) {
            sum += piece->getPosition().Y;
        }
        return globals.trashList.empty() ? 0.0f : sum / float(globals.trashList.size());
    };
    rig.harness.allowFrames(kLimit);
    const int32_t first = rig.harness.framesRun();
    rig.harness.onFrame([&](int32_t frame) {
        const int32_t f = frame - first;
        // The target key acts when released, the torpedo key on its key-down
        // event; the guns fire while their key is held.
        if (f == 1) {
            rig.key(irr::KEY_KEY_T, true);
        } else if (f == 2) {
            rig.key(irr::KEY_KEY_T, false);
        } else if (f == 3) {
            ASSERT_TRUE(enemy->isTargeted());
            rig.key(irr::KEY_SPACE, true);
        } else if (f == 4 || f == 4 + 6 * kSecond) {
            rig.key(irr::KEY_TAB, true);
        } else if (f == 5 || f == 5 + 6 * kSecond) {
            rig.key(irr::KEY_TAB, false);
        } else if (f == 2 * kSecond) {
            rig.key(irr::KEY_SPACE, false);
        }
        // A launch adds one torpedo to the list (an explosion in the same
        // frame as a launch would hide it; the two launches are 6 s apart).
        if (globals.torpedoList.size() > torpedoes) {
            launched += static_cast<int32_t>(globals.torpedoList.size() - torpedoes);
        }
        torpedoes = globals.torpedoList.size();
        if (destroyedAt < 0) {
            // Compared, never followed, once the ship is gone.
            const void* gone = enemy;
            enemy = shipNamed("Enemy 1");
            if (enemy == nullptr) {
                destroyedAt = f;
                debris = globals.trashList.size();
                debrisStart = meanDebrisHeight();
                // Nothing points at the deleted ship: the player moved on to
                // the next target when it began to burn.
                for (Torpedo* torpedo : globals.torpedoList) {
                    EXPECT_NE(static_cast<const void*>(torpedo->getTarget()), gone);
                }
                for (Weapon* weapon : globals.playerShip->getWeapons()) {
                    EXPECT_NE(static_cast<const void*>(weapon->getTarget()), gone);
                }
                EXPECT_TRUE(shipNamed("Enemy 2")->isTargeted());
            } else {
                lowestHull = std::min(lowestHull, enemy->getHull());
            }
        } else if (f == destroyedAt + 8 * kSecond) {
            debrisEnd = meanDebrisHeight();
            globals.gameState = GS_MENU;
        }
    });
    rig.game.run();

    ASSERT_GE(destroyedAt, 0) << "Enemy 1 still stands, hull " << lowestHull;
    EXPECT_EQ(launched, 2);
    // Two torpedoes take 1200, a bullet 50: the enemy went at hull 0 or below
    // and burnt about two seconds before it broke.
    EXPECT_LE(lowestHull, 0.0f);
    EXPECT_GE(destroyedAt, 2 * kSecond);
    // Four to eight pieces, thrown up and out at random and then sinking at
    // the game's 5 units per second squared against their damping.
    EXPECT_GE(debris, 4u);
    EXPECT_LE(debris, 8u);
    EXPECT_LT(debrisEnd, debrisStart - 1.0f);
    rig.expectNothingPerState();
}

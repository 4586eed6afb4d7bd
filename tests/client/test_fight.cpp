// A scripted fight through the whole game on the null driver: the player
// selects Enemy 1 with the target key, fires the guns and two torpedoes at
// it through the controls, and the game's frame loop, physics glue, contact
// rules, entities and effects take it from there until the enemy has burnt,
// broken and been deleted; its debris then sinks. And a targeted ship that
// dies at once under a homing torpedo. Run under the sanitizer build, these
// are also the check that nothing points at a deleted ship.
#include "GameStateRig.h"

#include "client/constants.h"
#include "client/globals.h"
#include "client/hud.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/trash.h"
#include "client/weapon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

using clienttest::StateRig;

namespace {

Ship* shipNamed(const std::string& name) {
    const auto found = std::find_if(globals.shipList.begin(), globals.shipList.end(),
                                    [&](Ship* ship) { return ship->getName() == name; });
    return found != globals.shipList.end() ? *found : nullptr;
}

// One frame f of a script: the key goes down in frame `at` and up in the
// next. The target key acts when released, the torpedo key on its key-down
// event.
void tap(StateRig& rig, irr::EKEY_CODE key, int32_t f, int32_t at) {
    if (f == at) {
        rig.key(key, true);
    } else if (f == at + 1) {
        rig.key(key, false);
    }
}

// A ship that can die on the spot, hull and all: the game's own ships burn
// first, and the burning already moves the player's target on and drops the
// torpedoes' aim, so only a sudden death shows whether the frame loop itself
// lets go of a deleted ship.
class MortalShip : public Ship {
public:
    using Ship::Ship;
    void die() { dead = true; }
};

}  // namespace

// The player targets a fifth ship and launches a torpedo at it; while the
// torpedo homes on it, the launcher is locked on it and the HUD shows it as
// its target, the ship dies. The frame loop deletes it, and nothing keeps
// pointing at it for the seconds of frames that follow (under the sanitizer
// build, nothing follows a pointer to it either).
TEST(Fight, ATargetedShipThatDiesUnderAHomingTorpedoIsForgottenByTheFrameLoop) {
    StateRig rig;
    globals.gameState = GS_GAME_RUN;
    ASSERT_TRUE(rig.game.init(L"caption"));
    // Ahead of the player, above the enemies, within radar range; second in
    // the list, so the target key picks it first.
    MortalShip* mortal = new MortalShip(false, "Enemy 4", L"SX999", L"Scout", irr::core::vector3df(2560, -3740, 4040),
                                        irr::core::vector3df(0, 0, 0), irr::core::vector3df(8, 3, 10), 10.0f, 0.5f,
                                        SCOUT_ANGULAR_DAMPING, ShipTuning{}, MESH_SCOUT);
    globals.shipList.insert(std::next(globals.shipList.begin()), mortal);
    Weapon* launcher = globals.playerShip->getWeapons().back();
    ASSERT_EQ(launcher->getType(), WEAPON_TORPEDO_LAUNCHER);

    constexpr int32_t kSecond = 50;  // frames paced to 20 ms
    int32_t launchedAt = -1;
    int32_t diedAt = -1;
    const void* gone = nullptr;
    rig.harness.allowFrames(30 * kSecond);
    const int32_t first = rig.harness.framesRun();
    const auto pointsAtGone = [&] {
        bool found = launcher->getTarget() == gone || globals.hud->getCurrentTarget() == gone;
        for (Torpedo* torpedo : globals.torpedoList) {
            found = found || torpedo->getTarget() == gone;
        }
        return found;
    };
    rig.harness.onFrame([&](int32_t frame) {
        const int32_t f = frame - first;
        tap(rig, irr::KEY_KEY_T, f, 1);
        if (f == 3) {
            ASSERT_TRUE(mortal->isTargeted());
        }
        tap(rig, irr::KEY_TAB, f, 3);
        if (launchedAt < 0 && !globals.torpedoList.empty()) {
            launchedAt = f;
        }
        if (diedAt < 0 && launchedAt >= 0 && f == launchedAt + 3 * kSecond / 2) {
            // Past its one second of boost: homing.
            ASSERT_EQ(globals.torpedoList.size(), 1u);
            ASSERT_EQ(globals.torpedoList.front()->getTarget(), mortal);
            ASSERT_EQ(launcher->getTarget(), mortal);
            ASSERT_EQ(globals.hud->getCurrentTarget(), mortal);
            gone = mortal;
            mortal->die();
            mortal = nullptr;
            diedAt = f;
        } else if (diedAt >= 0) {
            // Compared, never followed.
            EXPECT_TRUE(std::none_of(globals.shipList.begin(), globals.shipList.end(),
                                     [&](Ship* ship) { return ship == gone; }));
            EXPECT_FALSE(pointsAtGone()) << "frame " << f - diedAt << " after the death";
            if (f == diedAt + 1) {
                // The torpedo flies on into the frames that follow.
                EXPECT_EQ(globals.torpedoList.size(), 1u);
            }
            if (f == diedAt + 3 * kSecond) {
                globals.gameState = GS_MENU;
            }
        }
    });
    rig.game.run();

    ASSERT_GE(launchedAt, 0) << "no torpedo left the launcher";
    ASSERT_GE(diedAt, 0);
    rig.expectNothingPerState();
}

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
        tap(rig, irr::KEY_KEY_T, f, 1);
        tap(rig, irr::KEY_TAB, f, 4);
        tap(rig, irr::KEY_TAB, f, 4 + 6 * kSecond);
        // The guns fire while their key is held.
        if (f == 3) {
            ASSERT_TRUE(enemy->isTargeted());
            rig.key(irr::KEY_SPACE, true);
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

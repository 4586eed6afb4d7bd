// Guns, bullets and the torpedo launcher in a scene on the null driver under
// the scripted clock: launch pacing and locking, the muzzle flash, bullet
// flight and expiry, the terrain pass and the hits, against the sounds and
// effects they ask for.
#include "EntityTestSupport.h"

#include "client/bullet.h"
#include "client/engine/COrientedBillboardSceneNode.h"
#include "client/engine/RawTerrain.h"
#include "client/resourceids.h"
#include "client/station.h"
#include "client/trash.h"
#include "client/weapon.h"

#include <algorithm>
#include <cstdio>
#include <functional>

using entitytest::playsOf;
using entitytest::Scene;
using entitytest::WithBox;
using irr::core::vector3df;

namespace {

const vector3df kLauncherMount(0, -4, 3);
const vector3df kPlayerAt(100, -500, 100);

}  // namespace

class LauncherClock : public testing::TestWithParam<uint32_t> {};

// From any clock reading (0 included): locked only from the update after a
// target was set, the first launch at once, then one per 5000 ms; each
// launch plays the launch sound unplaced and hands the engine channel to a
// torpedo that leaves the muzzle with the ship's velocity.
TEST_P(LauncherClock, LocksAtItsNextUpdateAndLaunchesOncePerReload) {
    Scene scene(GetParam());
    Ship* player = scene.addShip(true, kPlayerAt);
    Ship* enemy = scene.addShip(false, kPlayerAt + vector3df(0, 0, 300));
    Weapon launcher(player, kLauncherMount, WEAPON_TORPEDO_LAUNCHER, 5000, 2000, 30000, 0);
    EXPECT_FALSE(launcher.isLocked());
    launcher.fire();
    EXPECT_TRUE(globals.torpedoList.empty());

    launcher.update();
    launcher.setTarget(enemy);
    EXPECT_FALSE(launcher.isLocked());
    launcher.fire();
    EXPECT_TRUE(globals.torpedoList.empty());
    launcher.update();
    ASSERT_TRUE(launcher.isLocked());
    launcher.fire();
    ASSERT_EQ(globals.torpedoList.size(), 1u);
    Torpedo* first = globals.torpedoList.back();
    EXPECT_EQ(first->getTarget(), enemy);
    EXPECT_EQ(first->getPosition(), kPlayerAt + kLauncherMount);
    EXPECT_EQ(first->getVelocityVector(), player->getVelocity());
    ASSERT_EQ(playsOf(SOUND_TORPEDO_LAUNCH).size(), 1u);
    EXPECT_FALSE(playsOf(SOUND_TORPEDO_LAUNCH)[0].placed);
    ASSERT_EQ(playsOf(SOUND_TORPEDO_ENGINE).size(), 1u);
    EXPECT_EQ(first->getEngineChannel(), playsOf(SOUND_TORPEDO_ENGINE)[0].channel);
    EXPECT_GT(first->getEngineChannel(), 0);

    scene.clock().advance(4999);
    launcher.fire();
    EXPECT_EQ(globals.torpedoList.size(), 1u);
    scene.clock().advance(1);
    launcher.fire();
    EXPECT_EQ(globals.torpedoList.size(), 2u);
    EXPECT_EQ(globals.trackedTorpedo, nullptr);  // set by the launcher's update
    launcher.update();
    EXPECT_EQ(globals.trackedTorpedo, globals.torpedoList.back());

    // A null target unlocks it too; the next launch runs straight.
    launcher.setTarget(nullptr);
    scene.clock().advance(5000);
    launcher.fire();
    EXPECT_EQ(globals.torpedoList.size(), 2u);
    launcher.update();
    launcher.fire();
    ASSERT_EQ(globals.torpedoList.size(), 3u);
    EXPECT_EQ(globals.torpedoList.back()->getTarget(), nullptr);
    EXPECT_EQ(playsOf(SOUND_TORPEDO_LAUNCH).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Starts, LauncherClock, testing::Values(0u, 100000u, 0xFFFFF000u));

// The gun fires from its muzzle 3.1 ahead along the ship's nose; the flash
// shows until 50 ms after the last shot; bullets fly 3.2 per 20 ms frame and
// the gun deletes them when their 5000 ms are over.
TEST(Gun, FiresFlashesAndRetiresItsBullets) {
    Scene scene;
    Ship* player = scene.addShip(true, kPlayerAt, vector3df(0, 90, 0));  // nose along +x
    const vector3df mount(1.5f, -1, 3);
    Weapon gun(player, mount, WEAPON_GUN, 0, 0, 5000, 160);
    EXPECT_TRUE(gun.isLocked());
    gun.update();
    EXPECT_TRUE(gun.getDirection().equals(vector3df(1, 0, 0)));

    gun.fire();
    globals.lastShotTime = scene.clock().getRealTime();  // as the controls note it
    ASSERT_EQ(gun.getBullets().size(), 1u);
    const Bullet* bullet = gun.getBullets().front();
    const vector3df muzzle = kPlayerAt + vector3df(3, -1, -1.5f);  // the mount turned with the ship
    EXPECT_TRUE(bullet->getPosition().equals(muzzle + vector3df(3.1f, 0, 0), 1e-3f));
    ASSERT_EQ(playsOf(SOUND_GUN_SHOT).size(), 1u);
    EXPECT_TRUE(playsOf(SOUND_GUN_SHOT)[0].at.equals(bullet->getPosition(), 1e-3f));
    if (gun.getMuzzleFlash() != nullptr) {
        EXPECT_TRUE(gun.getMuzzleFlash()->isVisible());
        scene.clock().advance(49);
        gun.update();
        EXPECT_TRUE(gun.getMuzzleFlash()->isVisible());
        scene.clock().advance(1);
        gun.update();
        EXPECT_FALSE(gun.getMuzzleFlash()->isVisible());
    }

    const vector3df start = bullet->getPosition();
    const float spinBefore = bullet->getSpin();
    scene.clock().advance(20);
    gun.update();
    EXPECT_NEAR((bullet->getPosition() - start).getLength(), 3.2f, 1e-3f);
    EXPECT_FLOAT_EQ(bullet->getSpin(), spinBefore + 2.0f);
    ASSERT_NE(bullet->getNode(), nullptr);
    EXPECT_EQ(bullet->getNode()->getPosition(), bullet->getPosition());
    EXPECT_FLOAT_EQ(bullet->getNode()->getRollAngle(), bullet->getSpin());
    irr::core::matrix4 view;  // the spin is seen against the player's attitude
    view.setRotationDegrees(player->getRotation());
    EXPECT_TRUE(bullet->getNode()->getOwnUp() && bullet->getNode()->getOrientation().equals(view));

    gun.fire();  // a second bullet, 70 ms younger
    for (int frame = 0; gun.getBullets().size() == 2; ++frame) {
        ASSERT_LT(frame, 300);
        scene.clock().advance(20);
        gun.update();
    }
    ASSERT_EQ(gun.getBullets().size(), 1u);
    const uint32_t firstLived = scene.clock().getRealTime() - 100000;
    EXPECT_TRUE(firstLived >= 5000 && firstLived < 5020) << firstLived;
    for (int frame = 0; frame < 4; ++frame) {
        scene.clock().advance(20);
        gun.update();
    }
    EXPECT_TRUE(gun.getBullets().empty());
    EXPECT_TRUE(scene.effects.named("fire").empty() && scene.effects.named("blue").empty());
}

namespace {

struct GroundShot {
    const char* name;
    vector3df from;
    vector3df toward;
    bool meetsTheRay;  // within the 1000 units of the launch ray
    bool explodes;
};

class BulletGround : public testing::TestWithParam<GroundShot> {};

}  // namespace

// A flat sea floor at y = -100, 1600 units square: a bullet explodes with
// the blue impact only after passing the point its launch ray met, and
// never when the ray met nothing, or met it beyond the bullet's range.
TEST_P(BulletGround, ExplodesOnlyPastTheLaunchRaysPoint) {
    const GroundShot& shot = GetParam();
    Scene scene;
    const int side = 17;
    std::vector<uint16_t> flat(side * side, 100);
    FILE* file = std::fopen("flat17.raw", "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(flat.data(), sizeof(uint16_t), flat.size(), file);
    std::fclose(file);
    irr::scene::ITerrainSceneNode* ground = tarnwell::scene::addRawTerrainSceneNode(
        globals.sceneManager, "flat17.raw", nullptr, -1, vector3df(0, -200, 0), vector3df(),
        vector3df(100, 1, 100), irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
    ASSERT_NE(ground, nullptr);
    irr::scene::ITriangleSelector* selector = globals.sceneManager->createTerrainTriangleSelector(ground, 0);
    ground->setTriangleSelector(selector);
    selector->drop();
    globals.terrainNode = ground;

    const vector3df direction = vector3df(shot.toward).normalize();
    Bullet bullet(shot.from, 5000, nullptr, 160, direction, 1.0f);
    EXPECT_EQ(bullet.hasTerrainHit(), shot.meetsTheRay);
    const float reach = shot.meetsTheRay ? (bullet.getTerrainHitPoint() - shot.from).getLength() : 0.0f;
    uint32_t lived = 0;
    while (!bullet.isDead()) {
        bullet.update(20);
        lived += 20;
    }
    globals.terrainNode = nullptr;
    ASSERT_EQ(scene.effects.named("blue").size(), shot.explodes ? 1u : 0u);
    EXPECT_EQ(playsOf(SOUND_EXPLOSION_SMALL).size(), shot.explodes ? 1u : 0u);
    if (!shot.explodes) {
        EXPECT_EQ(lived, 5000u);
        return;
    }
    EXPECT_NEAR(bullet.getTerrainHitPoint().Y, -100.0f, 1e-2f);
    const float flown = (bullet.getPosition() - shot.from).getLength();
    EXPECT_GT(flown, reach);
    EXPECT_LE(flown, reach + 3.2f + 1e-3f);
    EXPECT_TRUE(scene.effects.named("blue")[0].at.equals(
        bullet.getPosition() - direction * 5.0f + vector3df(0, 2, 0), 1e-3f));
    EXPECT_TRUE(playsOf(SOUND_EXPLOSION_SMALL)[0].at.equals(bullet.getPosition(), 1e-3f));
}

INSTANTIATE_TEST_SUITE_P(
    Shots, BulletGround,
    testing::Values(GroundShot{"Down", {800, -50, 200}, {0, -1, 1}, true, true},
                    GroundShot{"Up", {800, -50, 200}, {0, 1, 1}, false, false},
                    GroundShot{"BeyondRange", {800, -50, 200}, {0, -50, 900}, true, false}),
    [](const testing::TestParamInfo<GroundShot>& info) { return std::string(info.param.name); });

namespace {

// A standing bullet 4 units (2 for debris) left of an entity's centre,
// flying toward it: what it hits, where the fire impact goes and what
// happens to the entity.
struct HitCase {
    const char* name;
    std::function<std::function<bool()>(Scene&, const vector3df&)> place;  // -> the entity's own check
    float standOff;
    bool hits;
    bool impactAtBullet;  // ships: at the bullet; others: one unit back
};

class BulletHits : public testing::TestWithParam<HitCase> {};

const vector3df kTargetAt(300, -400, 300);

}  // namespace

TEST_P(BulletHits, StrikesWhatItMeetsOnce) {
    REQUIRE_CONTAINS();
    const HitCase& hit = GetParam();
    Scene scene;
    const std::function<bool()> struck = hit.place(scene, kTargetAt);
    const vector3df from = kTargetAt - vector3df(hit.standOff, 0, 0);
    Bullet bullet(from, 5000, nullptr, 0, vector3df(1, 0, 0), 1.0f);
    bullet.update(20);
    EXPECT_EQ(bullet.isDead(), hit.hits);
    EXPECT_EQ(struck(), hit.hits);
    ASSERT_EQ(scene.effects.named("fire").size(), hit.hits ? 1u : 0u);
    // The bullet's own bang (a torpedo it hits adds its explosion's).
    const std::vector<entitytest::Play> bangs = playsOf(SOUND_EXPLOSION_SMALL);
    EXPECT_EQ(std::count_if(bangs.begin(), bangs.end(), [&](const entitytest::Play& p) { return p.at == from; }),
              hit.hits ? 1 : 0);
    if (hit.hits) {
        EXPECT_EQ(scene.effects.named("fire")[0].at, hit.impactAtBullet ? from : from - vector3df(1, 0, 0));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entities, BulletHits,
    testing::Values(
        HitCase{"Enemy",
                [](Scene& scene, const vector3df& at) -> std::function<bool()> {
                    Ship* ship = scene.addShip(false, at);
                    return [ship] { return ship->getHull() == 950.0f; };
                },
                4.0f, true, true},
        HitCase{"PlayersOwnShip",
                [](Scene& scene, const vector3df& at) -> std::function<bool()> {
                    Ship* ship = scene.addShip(true, at);
                    return [ship] { return ship->getHull() != 1000.0f; };
                },
                4.0f, false, true},
        HitCase{"Station",
                [](Scene& scene, const vector3df& at) -> std::function<bool()> {
                    globals.stationList.push_back(scene.own(std::make_unique<WithBox<Station>>(
                        4.0f, "X10", at, vector3df(), vector3df(10, 10, 10), MESH_STATION)));
                    return [] { return true; };
                },
                4.0f, true, false},
        HitCase{"Torpedo",
                [](Scene&, const vector3df& at) -> std::function<bool()> {
                    // Off the mesh's rings, where a probe could slip between
                    // two triangles' edges.
                    Torpedo* torpedo = new Torpedo(at + vector3df(0, 0.05f, 0.3f), vector3df(), 30000, MESH_TORPEDO,
                                                   vector3df(0.5f, 0.5f, 2.0f), nullptr, -1);
                    globals.torpedoList.push_back(torpedo);
                    return [torpedo] { return torpedo->hasExploded() && torpedo->isDead(); };
                },
                0.8f, true, false},
        HitCase{"Debris",
                [](Scene& scene, const vector3df& at) -> std::function<bool()> {
                    Trash* piece = scene.own(std::make_unique<WithBox<Trash>>(
                        3.0f, "trash", at, vector3df(), vector3df(2.5f, 2.5f, 2.5f), MESH_TRASH1));
                    globals.trashList.push_back(piece);
                    return [piece] { return piece->isDead(); };
                },
                2.0f, true, false}),
    [](const testing::TestParamInfo<HitCase>& info) { return std::string(info.param.name); });

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

using entitytest::playsOf;
using entitytest::Scene;
using entitytest::WithBox;
using irr::core::vector3df;

namespace {

const vector3df kPlayerAt(100, -500, 100);

}  // namespace

class LauncherClock : public testing::TestWithParam<uint32_t> {};

// From any clock reading (0 included): locked only from the update after a
// target (or none) was set, the first launch at once, then one per 5000 ms;
// each launch plays the launch sound unplaced and hands the engine channel to
// a torpedo that leaves the muzzle with the ship's velocity.
TEST_P(LauncherClock, LocksAtItsNextUpdateAndLaunchesOncePerReload) {
    Scene scene(GetParam());
    Ship* player = scene.addShip(true, kPlayerAt);
    Ship* enemy = scene.addShip(false, kPlayerAt + vector3df(0, 0, 300));
    Weapon launcher(player, vector3df(0, -4, 3), WEAPON_TORPEDO_LAUNCHER, 5000, 2000, 30000, 0);
    const auto launches = [&] {
        launcher.fire();
        return globals.torpedoList.size();
    };
    EXPECT_EQ(launches(), 0u);
    launcher.update();
    launcher.setTarget(enemy);
    EXPECT_FALSE(launcher.isLocked());
    EXPECT_EQ(launches(), 0u);
    launcher.update();
    ASSERT_EQ(launches(), 1u);
    const Torpedo* first = globals.torpedoList.back();
    EXPECT_EQ(first->getTarget(), enemy);
    EXPECT_EQ(first->getPosition(), kPlayerAt + vector3df(0, -4, 3));
    EXPECT_EQ(first->getVelocityVector(), player->getVelocity());
    ASSERT_EQ(playsOf(SOUND_TORPEDO_LAUNCH).size(), 1u);
    EXPECT_FALSE(playsOf(SOUND_TORPEDO_LAUNCH)[0].placed);
    ASSERT_EQ(playsOf(SOUND_TORPEDO_ENGINE).size(), 1u);
    EXPECT_EQ(first->getEngineChannel(), playsOf(SOUND_TORPEDO_ENGINE)[0].channel);

    scene.clock().advance(4999);
    EXPECT_EQ(launches(), 1u);
    scene.clock().advance(1);
    ASSERT_EQ(launches(), 2u);
    EXPECT_EQ(globals.trackedTorpedo, nullptr);  // the launcher's update sets it
    launcher.update();
    EXPECT_EQ(globals.trackedTorpedo, globals.torpedoList.back());

    launcher.setTarget(nullptr);
    scene.clock().advance(5000);
    EXPECT_EQ(launches(), 2u);
    launcher.update();
    ASSERT_EQ(launches(), 3u);
    EXPECT_EQ(globals.torpedoList.back()->getTarget(), nullptr);  // it runs straight
}

INSTANTIATE_TEST_SUITE_P(Starts, LauncherClock, testing::Values(0u, 100000u, 0xFFFFF000u));

// The gun fires 3.1 ahead of its muzzle along the ship's nose; the flash
// (0.1 inboard, 2.1 ahead of the mount) shows until 50 ms after the last
// shot; bullets fly 3.2 and spin 2 degrees per 20 ms frame, facing the
// player's attitude, and the gun deletes them once their 5000 ms are over.
TEST(Gun, FiresFlashesAndRetiresItsBullets) {
    Scene scene;
    Ship* player = scene.addShip(true, kPlayerAt, vector3df(0, 90, 0));  // nose along +x
    Weapon gun(player, vector3df(1.5f, -1, 3), WEAPON_GUN, 0, 0, 5000, 160);
    gun.update();
    EXPECT_TRUE(gun.getDirection().equals(vector3df(1, 0, 0)));
    gun.fire();
    globals.lastShotTime = scene.clock().getRealTime();  // as the controls note it
    ASSERT_EQ(gun.getBullets().size(), 1u);
    const Bullet* bullet = gun.getBullets().front();
    // The mount turned with the ship: (1.5, -1, 3) becomes (3, -1, -1.5).
    EXPECT_TRUE(bullet->getPosition().equals(kPlayerAt + vector3df(6.1f, -1, -1.5f), 1e-3f));
    ASSERT_EQ(playsOf(SOUND_GUN_SHOT).size(), 1u);
    EXPECT_TRUE(playsOf(SOUND_GUN_SHOT)[0].at.equals(bullet->getPosition(), 1e-3f));
    irr::scene::IBillboardSceneNode* flash = gun.getMuzzleFlash();
    ASSERT_NE(flash, nullptr);
    EXPECT_TRUE(flash->getPosition().equals(vector3df(1.4f, -1, 5.1f)));
    for (const uint32_t wait : {49u, 1u}) {
        EXPECT_TRUE(flash->isVisible()) << wait;
        scene.clock().advance(wait);
        gun.update();
    }
    EXPECT_FALSE(flash->isVisible());

    const vector3df start = bullet->getPosition();
    const float spin = bullet->getSpin();
    scene.clock().advance(20);
    gun.update();
    EXPECT_NEAR((bullet->getPosition() - start).getLength(), 3.2f, 1e-3f);
    EXPECT_FLOAT_EQ(bullet->getSpin(), spin + 2.0f);
    ASSERT_NE(bullet->getNode(), nullptr);
    EXPECT_EQ(bullet->getNode()->getPosition(), bullet->getPosition());
    EXPECT_FLOAT_EQ(bullet->getNode()->getRollAngle(), bullet->getSpin());
    irr::core::matrix4 view;
    view.setRotationDegrees(player->getRotation());
    EXPECT_TRUE(bullet->getNode()->getOwnUp() && bullet->getNode()->getOrientation().equals(view));

    gun.fire();  // a second bullet, 70 ms younger
    for (int frame = 0; gun.getBullets().size() == 2; ++frame) {
        ASSERT_LT(frame, 300);
        scene.clock().advance(20);
        gun.update();
    }
    const uint32_t firstLived = scene.clock().getRealTime() - 100000;
    EXPECT_TRUE(firstLived >= 5000 && firstLived < 5020) << firstLived;
    for (int frame = 0; frame < 4; ++frame) {
        scene.clock().advance(20);
        gun.update();
    }
    EXPECT_TRUE(gun.getBullets().empty());
    EXPECT_TRUE(scene.effects.named("addFireImpact").empty() && scene.effects.named("addBlueImpact").empty());
}

namespace {

struct GroundShot {
    const char* name;
    vector3df toward;
    bool meetsTheRay;  // within the 1000 units of the launch ray
    bool explodes;
};

class BulletGround : public testing::TestWithParam<GroundShot> {};

}  // namespace

// A flat sea floor at y = -100, 1600 units square, under a bullet at y = -50:
// it explodes with the blue impact only after passing the point its launch
// ray met; never when the ray met nothing, or met it beyond its range.
TEST_P(BulletGround, ExplodesOnlyPastTheLaunchRaysPoint) {
    const GroundShot& shot = GetParam();
    Scene scene;
    const std::vector<uint16_t> flat(17 * 17, 100);
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

    const vector3df from(800, -50, 200);
    const vector3df direction = vector3df(shot.toward).normalize();
    Bullet bullet(from, 5000, nullptr, 160, direction, 1.0f);
    globals.terrainNode = nullptr;
    ASSERT_EQ(bullet.hasTerrainHit(), shot.meetsTheRay);
    uint32_t lived = 0;
    for (; !bullet.isDead(); lived += 20) {
        bullet.update(20);
    }
    ASSERT_EQ(scene.effects.named("addBlueImpact").size(), shot.explodes ? 1u : 0u);
    ASSERT_EQ(playsOf(SOUND_EXPLOSION_SMALL).size(), shot.explodes ? 1u : 0u);
    if (!shot.explodes) {
        EXPECT_EQ(lived, 5000u);
        return;
    }
    EXPECT_NEAR(bullet.getTerrainHitPoint().Y, -100.0f, 1e-2f);
    const float reach = (bullet.getTerrainHitPoint() - from).getLength();
    const float flown = (bullet.getPosition() - from).getLength();
    EXPECT_TRUE(flown > reach && flown <= reach + 3.201f) << flown << " " << reach;
    EXPECT_TRUE(
        scene.effects.named("addBlueImpact")[0].at.equals(bullet.getPosition() - direction * 5 + vector3df(0, 2, 0)));
    EXPECT_TRUE(playsOf(SOUND_EXPLOSION_SMALL)[0].at.equals(bullet.getPosition()));
}

INSTANTIATE_TEST_SUITE_P(Shots, BulletGround,
                         testing::Values(GroundShot{"Down", {0, -1, 1}, true, true},
                                         GroundShot{"Up", {0, 1, 1}, false, false},
                                         GroundShot{"BeyondRange", {0, -50, 900}, true, false}),
                         [](const testing::TestParamInfo<GroundShot>& info) {
                             return std::string(info.param.name);
                         });

namespace {

enum class Kind { Enemy, Player, Station, Torpedo, Debris };

struct HitCase {
    const char* name;
    Kind kind;
    float standOff;  // the bullet stands this far left of the centre (outside the
                     // station's central tower, 9 units round)
    bool hits;
    bool impactAtBullet;  // ships: at the bullet; the others: one unit back
};

class BulletHits : public testing::TestWithParam<HitCase> {};

}  // namespace

// A standing bullet flying toward an entity's centre: what it strikes, where
// the fire impact and the bang go, and what the entity suffers.
TEST_P(BulletHits, StrikesWhatItMeetsOnce) {
    const HitCase& hit = GetParam();
    Scene scene;
    const vector3df at(300, -400, 300);
    Ship* ship = hit.kind == Kind::Enemy || hit.kind == Kind::Player
                     ? scene.addShip(hit.kind == Kind::Player, at)
                     : nullptr;
    Trash* piece = nullptr;
    Torpedo* torpedo = nullptr;
    if (hit.kind == Kind::Station) {
        globals.stationList.push_back(scene.own(std::make_unique<WithBox<Station>>(
            4.0f, "X10", at, vector3df(), vector3df(10, 10, 10), MESH_STATION)));
    } else if (hit.kind == Kind::Debris) {
        piece = scene.own(std::make_unique<WithBox<Trash>>(3.0f, "trash", at, vector3df(),
                                                           vector3df(2.5f, 2.5f, 2.5f), MESH_TRASH1));
        globals.trashList.push_back(piece);
    } else if (hit.kind == Kind::Torpedo) {
        // Off the mesh's rings, where a probe could slip between two edges.
        torpedo = new Torpedo(at + vector3df(0, 0.05f, 0.3f), vector3df(), 30000, MESH_TORPEDO,
                              vector3df(0.5f, 0.5f, 2.0f), nullptr, -1);
        globals.torpedoList.push_back(torpedo);
    }
    const vector3df from = at - vector3df(hit.standOff, 0, 0);
    Bullet bullet(from, 5000, nullptr, 0, vector3df(1, 0, 0), 1.0f);
    bullet.update(20);
    EXPECT_EQ(bullet.isDead(), hit.hits);
    ASSERT_EQ(scene.effects.named("addFireImpact").size(), hit.hits ? 1u : 0u);
    if (hit.hits) {
        EXPECT_EQ(scene.effects.named("addFireImpact")[0].at, hit.impactAtBullet ? from : from - vector3df(1, 0, 0));
    }
    // The bullet's own bang (a torpedo it hits adds its explosion's).
    const std::vector<entitytest::Play> bangs = playsOf(SOUND_EXPLOSION_SMALL);
    EXPECT_EQ(
        std::count_if(bangs.begin(), bangs.end(), [&](const entitytest::Play& p) { return p.at == from; }),
        hit.hits ? 1 : 0);
    if (ship != nullptr) {
        EXPECT_EQ(ship->getHull(), hit.hits ? 950.0f : 1000.0f);
    }
    EXPECT_TRUE(piece == nullptr || piece->isDead());
    EXPECT_TRUE(torpedo == nullptr || (torpedo->hasExploded() && torpedo->isDead()));
}

INSTANTIATE_TEST_SUITE_P(Entities, BulletHits,
                         testing::Values(HitCase{"Enemy", Kind::Enemy, 4.0f, true, true},
                                         HitCase{"PlayersOwnShip", Kind::Player, 4.0f, false, true},
                                         HitCase{"Station", Kind::Station, 9.5f, true, false},
                                         HitCase{"Torpedo", Kind::Torpedo, 0.8f, true, false},
                                         HitCase{"Debris", Kind::Debris, 2.0f, true, false}),
                         [](const testing::TestParamInfo<HitCase>& info) {
                             return std::string(info.param.name);
                         });

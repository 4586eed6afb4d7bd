// Torpedoes in a scene on the null driver under the scripted clock: their
// camera and trail from launch to deletion, their explosions, their homing
// in a real physics world, and every weapon entity fed with junk numbers.
#include "EntityTestSupport.h"

#include "client/bullet.h"
#include "client/camera.h"
#include "client/engine/Finite.h"
#include "client/physics.h"
#include "client/resourceids.h"
#include "client/weapon.h"
#include "physics/dynamics/dgPhysics.h"

#include <algorithm>
#include <cmath>
#include <limits>

using tarnwell::isFinite;

using entitytest::playsOf;
using entitytest::Scene;
using irr::core::vector3df;

namespace {

const vector3df kLaunch(0, -500, 0);
const vector3df kBodySize(0.5f, 0.5f, 2.0f);

// The game's physics glue over an open world, published for the entities:
// a torpedo made after it gets its body from the glue and is driven by the
// glue's callbacks. Ships made before it have no body.
class TorpedoWorld {
public:
    TorpedoWorld() {
        EXPECT_TRUE(glue.init());
        const float low[3] = {-3000, -3000, -3000};
        const float high[3] = {3000, 3000, 3000};
        dgWorldSetSize(physicsWorld, low, high);
        globals.physics = &glue;
    }
    ~TorpedoWorld() { globals.physics = nullptr; }

    // One 60th of a second of game and physics.
    void step(Scene& scene) {
        scene.clock().advance(17);
        glue.update(1.0f / 60.0f);
    }

    Physics glue;
};

vector3df nose(const vector3df& rotation) {
    irr::core::matrix4 turn;
    turn.setRotationDegrees(rotation);
    vector3df forward(0, 0, 1);
    turn.rotateVect(forward);
    return forward;
}

}  // namespace

// The torpedo camera is active from launch; when the torpedo goes, so does
// its camera node, and the main camera (or none) is the active one again.
TEST(Torpedo, CarriesItsCameraAndTrailUntilDeleted) {
    Scene scene;
    Ship* player = scene.addShip(true, kLaunch, vector3df(10, 30, 0));
    for (const bool withMainCamera : {true, false}) {
        Camera main(-1, 250.0f, 0.75f);
        globals.mainCamera = withMainCamera ? &main : nullptr;
        auto* torpedo = new Torpedo(kLaunch, vector3df(0, 0, 5), 30000, MESH_TORPEDO, kBodySize, nullptr, -1);
        ASSERT_NE(torpedo->getNode(), nullptr);
        EXPECT_NE(torpedo->getNode()->getTriangleSelector(), nullptr);
        EXPECT_EQ(torpedo->getNode()->getAbsolutePosition(), kLaunch);
        EXPECT_EQ(torpedo->getRotation(), player->getRotation());
        const std::vector<RecordingParticleSystem::Call> trail = scene.effects.named("addTorpedoBubbleTrail");
        ASSERT_EQ(trail.size(), 1u);
        EXPECT_TRUE(trail[0].at == vector3df(0, 0, -1.5f) && trail[0].parent == torpedo->getNode());
        EXPECT_EQ(trail[0].id, torpedo->getTrailEffect());
        irr::scene::ICameraSceneNode* eye = torpedo->getCamera()->getNode();
        EXPECT_EQ(globals.sceneManager->getActiveCamera(), eye);

        globals.trackedTorpedo = torpedo;
        eye->grab();
        delete torpedo;
        EXPECT_EQ(globals.sceneManager->getActiveCamera(), withMainCamera ? main.getNode() : nullptr);
        EXPECT_EQ(eye->getParent(), nullptr);  // out of the scene
        eye->drop();
        EXPECT_EQ(globals.trackedTorpedo, nullptr);
        ASSERT_EQ(scene.effects.named("removeEffectsOf").size(), 1u);
        EXPECT_EQ(scene.effects.named("removeEffectsOf")[0].id, trail[0].id);
        scene.effects.calls.clear();
    }
    globals.mainCamera = nullptr;
}

namespace {

struct Cause {
    const char* name;
    void (*happen)(Torpedo&);
    bool staticHit;
};

class TorpedoExplosion : public testing::TestWithParam<Cause> {};

}  // namespace

// Each cause explodes it once: the engine stops, the small explosion sounds
// where it is, the explosion (and for the floor or the station the blue
// impact) shows there; a second cause in the same step adds nothing.
TEST_P(TorpedoExplosion, ExplodesOnceWhateverComesSecond) {
    Scene scene;
    const vector3df at(50, -100, 50);
    const int32_t engine = FSOUND_PlaySound(FSOUND_FREE, entitytest::lookUpSample(SOUND_TORPEDO_ENGINE));
    Torpedo torpedo(at, vector3df(), 30000, MESH_TORPEDO, kBodySize, nullptr, engine);
    torpedo.update(20);
    ASSERT_FALSE(torpedo.isDead());
    GetParam().happen(torpedo);
    EXPECT_TRUE(torpedo.hasExploded() && torpedo.isDead());
    torpedo.explode(false);  // a bullet in the same step
    torpedo.update(20);
    EXPECT_TRUE(torpedo.isDead());
    EXPECT_EQ(torpedo.getEngineChannel(), -1);
    const std::vector<fsound::RecordedCall>& calls = fsound::recording();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [&](const fsound::RecordedCall& c) {
                                return c.op == fsound::Op::StopSound && c.channel == engine;
                            }),
              1);
    ASSERT_EQ(playsOf(SOUND_EXPLOSION_SMALL).size(), 1u);
    const vector3df where = torpedo.getPosition();
    EXPECT_EQ(playsOf(SOUND_EXPLOSION_SMALL)[0].at, where);
    ASSERT_EQ(scene.effects.named("addExplosion").size(), 1u);
    EXPECT_EQ(scene.effects.named("addExplosion")[0].at, where);
    ASSERT_EQ(scene.effects.named("addBlueImpact").size(), GetParam().staticHit ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, TorpedoExplosion,
    testing::Values(Cause{"TheFloorOrTheStation", [](Torpedo& t) { t.explode(true); }, true},
                    Cause{"AShipOrDebris", [](Torpedo& t) { t.explode(false); }, false},
                    Cause{"AboveTheCeiling",
                          [](Torpedo& t) {
                              t.setPosition(vector3df(50, -29.9f, 50));
                              t.update(20);
                          },
                          false},
                    Cause{"EndOfLife", [](Torpedo& t) { t.update(29980); }, false}),
    [](const testing::TestParamInfo<Cause>& info) { return std::string(info.param.name); });

// Launched from rest (speed 0) with a target 300 units to its right: a
// second straight, then it rolls the target overhead before it pitches, and
// it passes within 3 units of the target.
TEST(TorpedoHoming, BoostsRollsFirstThenPitchesOntoItsTarget) {
    Scene scene;
    scene.addShip(true, vector3df(0, -900, 0));
    Ship* target = scene.addShip(false, kLaunch + vector3df(300, 0, 60));
    const int32_t engine = FSOUND_PlaySound(FSOUND_FREE, entitytest::lookUpSample(SOUND_TORPEDO_ENGINE));
    TorpedoWorld world;
    Torpedo torpedo(kLaunch, vector3df(), 30000, MESH_TORPEDO, kBodySize, target, engine);
    int step = 0;
    for (; step < 58; ++step) {
        world.step(scene);
        ASSERT_TRUE(isFinite(torpedo.getAim()));
        ASSERT_TRUE(nose(torpedo.getRotation()).equals(vector3df(0, 0, 1), 1e-4f)) << step;
    }
    EXPECT_NEAR(torpedo.getAim().Z, -90.0f, 5.0f);  // the target lies to the right
    for (;; ++step) {
        ASSERT_LT(step, 200) << "never rolled the target overhead";
        world.step(scene);
        if (std::fabs(torpedo.getAim().Z) < 30.0f) {
            break;  // this step may pitch already
        }
        // Rolling turns it about its nose only.
        ASSERT_TRUE(nose(torpedo.getRotation()).equals(vector3df(0, 0, 1), 1e-3f)) << step;
    }
    float closest = 1e9f;
    for (; step < 60 * 20 && closest > 3.0f; ++step) {
        world.step(scene);
        closest = std::min(closest, (torpedo.getPosition() - target->getPosition()).getLength());
    }
    EXPECT_LE(closest, 3.0f);
    // The engine sound and the camera ride along (from where the step began).
    const std::vector<fsound::RecordedCall>& calls = fsound::recording();
    const auto heard = std::find_if(calls.rbegin(), calls.rend(), [&](const fsound::RecordedCall& c) {
        return c.op == fsound::Op::SetAttributes && c.channel == engine;
    });
    ASSERT_NE(heard, calls.rend());
    EXPECT_LT(torpedo.getPosition().getDistanceFrom(
                  vector3df(heard->position[0], heard->position[1], heard->position[2])),
              1.5f);
    EXPECT_NEAR((torpedo.getCamera()->getNode()->getPosition() - torpedo.getPosition()).getLength(), 2.0f,
                1.5f);
}

// A target whose hull reaches 0 during the boost is dropped at the next
// step, and the torpedo runs on straight.
TEST(TorpedoHoming, DropsADyingTargetEvenWhileBoosting) {
    Scene scene;
    Ship* target = scene.addShip(false, kLaunch + vector3df(300, 0, 60));
    TorpedoWorld world;
    Torpedo torpedo(kLaunch, vector3df(), 30000, MESH_TORPEDO, kBodySize, target, -1);
    world.step(scene);
    EXPECT_EQ(torpedo.getTarget(), target);
    target->damage(1000.0f);
    world.step(scene);
    EXPECT_EQ(torpedo.getTarget(), nullptr);
    for (int step = 0; step < 240; ++step) {
        world.step(scene);
    }
    EXPECT_TRUE(nose(torpedo.getRotation()).equals(vector3df(0, 0, 1), 1e-4f));
}

// NaN, infinities and huge values given to bullets, guns, launchers and
// torpedoes (and their targets): nothing that is not finite reaches the
// body, the scene's nodes, the sound layer or the effects.
TEST(WeaponsBadInput, NothingNonFiniteComesOut) {
    const float nan = std::nanf("");
    const float inf = std::numeric_limits<float>::infinity();
    const vector3df junk[] = {vector3df(nan, 0, 0), vector3df(0, inf, 0), vector3df(-inf, 0, 1),
                              vector3df(3e38f, -3e38f, 3e38f), vector3df(1e30f, 0, -1e30f)};
    Scene scene;
    for (const vector3df& bad : junk) {
        Ship* player = scene.addShip(true, bad, bad);
        Weapon gun(player, vector3df(1.5f, -1, 3), WEAPON_GUN, 0, 0, 5000, 160);
        Weapon launcher(player, bad, WEAPON_TORPEDO_LAUNCHER, 5000, 2000, 30000, 0);
        for (Weapon* weapon : {&launcher, &gun}) {
            weapon->update();
            weapon->fire();
        }
        Bullet fromJunk(bad, 5000, nullptr, 160, vector3df(1, 0, 0), 1.0f);
        Bullet alongJunk(kLaunch, 5000, nullptr, 160, bad, 1.0f);
        Bullet tooFast(kLaunch, 5000, nullptr, std::numeric_limits<int32_t>::max(), vector3df(1e35f, 0, 0),
                       1.0f);
        for (Bullet* bullet : {&fromJunk, &alongJunk, &tooFast}) {
            bullet->update(20);
            bullet->update(0xFFFFFFF0u);
            EXPECT_TRUE(bullet->isDead());
            EXPECT_TRUE(isFinite(bullet->getPosition()) || bullet->getNode() == nullptr);
        }
        if (!isFinite(bad)) {
            EXPECT_EQ(playSoundAt(SOUND_EXPLOSION_SMALL, bad), -1);  // not even unplaced
        }
        Ship* target = scene.addShip(false, bad);
        TorpedoWorld world;
        Torpedo junkPosition(bad, bad, 30000, MESH_TORPEDO, kBodySize, target, -1);
        Torpedo homing(kLaunch, bad, 30000, MESH_TORPEDO, kBodySize, target, -1);
        for (int step = 0; step < 90; ++step) {
            world.step(scene);
        }
        EXPECT_TRUE(isFinite(homing.getAim()));
        float omega[3];
        dgBodyGetOmega(homing.getBody(), omega);
        EXPECT_TRUE(isFinite(homing.getVelocityVector()) && isFinite(vector3df(omega[0], omega[1], omega[2])));
        launcher.update();
        gun.update();
        // The junk ships' own nodes (and what hangs on them) stand where
        // they were put; every other node is finite.
        std::vector<irr::scene::ISceneNode*> nodes = {globals.sceneManager->getRootSceneNode()};
        while (!nodes.empty()) {
            irr::scene::ISceneNode* node = nodes.back();
            nodes.pop_back();
            if (std::any_of(globals.shipList.begin(), globals.shipList.end(),
                            [node](Ship* ship) { return ship->getNode() == node; })) {
                continue;
            }
            EXPECT_TRUE(isFinite(node->getAbsolutePosition())) << bad.X << " " << bad.Y;
            for (irr::scene::ISceneNode* child : node->getChildren()) {
                nodes.push_back(child);
            }
        }
    }
    for (const fsound::RecordedCall& call : fsound::recording()) {
        EXPECT_TRUE(isFinite(vector3df(call.position[0], call.position[1], call.position[2])));
    }
    for (const RecordingParticleSystem::Call& call : scene.effects.calls) {
        EXPECT_TRUE(isFinite(call.at)) << call.what;
    }
}

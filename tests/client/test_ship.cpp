// Ships in the engine's scene under the scripted clock, the recording sound
// layer and a recording effects manager: the content table's four ships, a
// ship without a mesh, the engine switch, lights and cockpit, collision
// sounds, the destruction of a targeted enemy with the pointers others keep
// to it, surfacing, and the force step on a real physics body under bad
// input. Sound needs the samples, which the resources load only with a
// driver that renders to textures: those tests run on OpenGL.
#include "GameLoopHarness.h"
#include "RecordingParticleSystem.h"
#include "ShipTestSupport.h"

#include "client/engine/Finite.h"
#include "client/physics.h"
#include "client/torpedo.h"
#include "client/weapon.h"
#include "physics/dynamics/dgPhysics.h"
#include "platform/sound/fsound.h"
#include "platform/sound/fsound_recording.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

using tarnwell::isFinite;

using irr::core::vector3df;
using shiptest::Fleet;
using shiptest::kFleet;

namespace {

// A device with the media loaded, recording effects and scripted draws.
struct Stage {
    explicit Stage(irr::video::E_DRIVER_TYPE driver = irr::video::EDT_NULL) : harness(driver), scoped(random) {
        harness.loadResources();
        globals.particleSystem = &effects;
    }
    ~Stage() { globals.particleSystem = nullptr; }

    // The sample number the recording gave a file of the media.
    static int32_t sample(const std::string& file) {
        for (const fsound::RecordedCall& call : fsound::recording()) {
            if (call.op == fsound::Op::SampleLoad && call.name.find(file) != std::string::npos) return call.result;
        }
        return -1;
    }
    static std::vector<fsound::RecordedCall> since(size_t mark, fsound::Op op) {
        std::vector<fsound::RecordedCall> out;
        for (size_t i = mark; i < fsound::recording().size(); ++i) {
            if (fsound::recording()[i].op == op) out.push_back(fsound::recording()[i]);
        }
        return out;
    }

    GameLoopHarness harness;
    RecordingParticleSystem effects;
    shiptest::ScriptedRandom random{{7, 3000, 29, 12345}};
    tarnwell::scene::ScopedRandomSource scoped;
};

int countLights(irr::scene::ISceneNode* node) {
    int lights = node->getType() == irr::scene::ESNT_LIGHT ? 1 : 0;
    for (irr::scene::ISceneNode* child : node->getChildren()) lights += countLights(child);
    return lights;
}

irr::video::SColor firstVertexColor(irr::scene::IMesh* mesh) {
    irr::scene::IMeshBuffer* buffer = mesh->getMeshBuffer(0);
    return static_cast<irr::video::S3DVertex*>(buffer->getVertices())->Color;
}

// A physics world of its own with one box body whose force callback is the
// ship's force step, as the glue sets it up. It takes the game's allocator:
// the engine gives blocks back through whatever hooks are current, and glue
// worlds in the same process install the game's.
struct BodyWorld {
    explicit BodyWorld(Ship* ship) {
        world = dgWorldCreate(Physics::allocMemory, Physics::freeMemory);
        dgCollision* box = dgCreateBox(world, 6, 3, 10, nullptr);
        body = dgCreateBody(world, box);
        dgReleaseCollision(world, box);
        dgBodySetMassMatrix(body, 10, 10 * 109, 10 * 136, 10 * 45);
        const float damping[3] = {0.05f, 0.05f, 0.05f};
        dgBodySetAngularDamping(body, damping);
        dgBodySetAutoFreeze(body, 0);
        dgBodySetUserData(body, ship);
        dgBodySetForceAndTorqueCallback(body, [](dgBody* b) {
            static_cast<Ship*>(dgBodyGetUserData(b))->applyForces(dgBodyGetWorld(b), b);
        });
    }
    ~BodyWorld() { dgWorldDestroy(world); }
    vector3df omega() const {
        float w[3];
        dgBodyGetOmega(body, w);
        return {w[0], w[1], w[2]};
    }
    dgWorld* world;
    dgBody* body;
};

}  // namespace

TEST(ShipScene, TheFourShipsOfTheGameStandInTheSceneAndLeaveNothing) {
    Stage stage;
    irr::scene::ISceneNode* root = globals.sceneManager->getRootSceneNode();
    {
        Fleet fleet;
        int index = 0;
        for (Ship* ship : globals.shipList) {
            const shiptest::ShipRow& row = kFleet[index++];
            SCOPED_TRACE(row.name);
            irr::scene::ISceneNode* node = ship->getNode();
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->getPosition(), row.position);
            EXPECT_EQ(node->getRotation(), row.rotation);
            EXPECT_NE(node->getTriangleSelector(), nullptr);
            EXPECT_TRUE(node->getMaterial(0).Lighting && node->getMaterial(0).FogEnable);
            EXPECT_EQ(ship->getBody(), nullptr);  // no physics glue here
            EXPECT_EQ(ship->isTargeted(), row.player);
            // Two trails on the node, behind each side.
            const auto& trails = stage.effects.calls;
            EXPECT_EQ(trails[2 * (index - 1)].at, vector3df(-1.5f, 0, -4));
            EXPECT_EQ(trails[2 * (index - 1) + 1].at, vector3df(1.5f, 0, -4));
            EXPECT_EQ(trails[2 * (index - 1)].parent, node);
            // The beam.
            ASSERT_NE(ship->getBeamMesh(), nullptr);
            EXPECT_EQ(firstVertexColor(ship->getBeamMesh()), irr::video::SColor(64, 80, 96, 96));
            EXPECT_EQ(ship->getCockpitNode() != nullptr, row.player);
            EXPECT_EQ(ship->getHeadLight() != nullptr, row.player);
            EXPECT_EQ(ship->getGunSpeed(), row.player ? 160 : 0);
        }
        Ship* player = globals.playerShip;
        ASSERT_EQ(player->getWeapons().size(), 3u);
        EXPECT_EQ(player->getWeapons().back()->getType(), WEAPON_TORPEDO_LAUNCHER);
        player->addWeapon(7, vector3df());  // no such kind
        EXPECT_EQ(player->getWeapons().size(), 3u);
        for (irr::scene::ISceneNode* part : {player->getCockpitNode(), player->getLeftGunNode()}) {
            EXPECT_EQ(part->getParent(), player->getNode());
            EXPECT_EQ(part->getPosition(), vector3df(0, 0, 3));
        }
        EXPECT_TRUE(player->getCockpitNode()->getMaterial(0).Lighting);
        EXPECT_FALSE(player->getLeftGunNode()->getMaterial(0).Lighting);

        // The player's two lights: with the game's six ship lights, the 8 of
        // fixed-function OpenGL.
        EXPECT_EQ(countLights(root), 2);
        irr::scene::ILightSceneNode* head = player->getHeadLight();
        const irr::video::SLight& spot = head->getLightData();
        EXPECT_EQ(head->getLightType(), irr::video::ELT_SPOT);
        EXPECT_EQ(head->getParent(), root);
        EXPECT_FLOAT_EQ(head->getRadius(), 250);
        EXPECT_FLOAT_EQ(spot.InnerCone, 30);
        EXPECT_FLOAT_EQ(spot.OuterCone, 50);
        EXPECT_FLOAT_EQ(spot.Falloff, 0.5f);
        EXPECT_TRUE(spot.CastShadows);
        EXPECT_EQ(spot.DiffuseColor.toSColor(), irr::video::SColorf(0.625f, 0.75f, 1, 1).toSColor());
        irr::scene::ILightSceneNode* cockpit = player->getCockpitLight();
        EXPECT_EQ(cockpit->getLightType(), irr::video::ELT_POINT);
        EXPECT_FLOAT_EQ(cockpit->getRadius(), 3);
        EXPECT_EQ(cockpit->getLightData().DiffuseColor.toSColor(), irr::video::SColor(255, 160, 192, 255));

        // The cockpit: hidden before the scene is drawn, drawn over it after.
        player->hideCockpit();
        EXPECT_FALSE(player->getCockpitNode()->isVisible() || player->getRightGunNode()->isVisible());
        player->drawCockpit();
        EXPECT_TRUE(player->getCockpitNode()->isVisible() && player->getRightGunNode()->isVisible());
        // Recoil and its way back: 10 × dt of the distance per frame.
        player->recoilLeftGun();
        EXPECT_FLOAT_EQ(player->getLeftGunNode()->getPosition().Z, 2.95f);
        Fleet::frame(stage.harness.clock());
        EXPECT_FLOAT_EQ(player->getLeftGunNode()->getPosition().Z, 2.95f + 0.02f * 0.05f * 10);
        EXPECT_FLOAT_EQ(player->getRightGunNode()->getPosition().Z, 3);
    }
    // Every trail retired, every node gone with its ship.
    EXPECT_EQ(stage.effects.count("removeEffectsOf"), 8);
    EXPECT_EQ(root->getChildren().getSize(), 0u);
}

TEST(ShipScene, AShipWithoutAMeshTouchesNoNodeAndStillLivesAndDies) {
    Stage stage;
    shiptest::ShipRow rows[2] = {kFleet[0], kFleet[1]};
    rows[0].mesh = rows[1].mesh = 999;
    std::unique_ptr<Ship> player(shiptest::makeShip(rows[0]));
    Ship* enemy = shiptest::makeShip(rows[1]);
    for (Ship* ship : {player.get(), enemy}) {
        EXPECT_TRUE(ship->getNode() == nullptr && ship->getBody() == nullptr && ship->getEngineChannel() == -1);
        EXPECT_EQ(ship->getPosition(), ship == enemy ? rows[1].position : rows[0].position);
    }
    EXPECT_TRUE(stage.effects.calls.empty());
    player->recoilLeftGun();
    player->hideCockpit();
    player->drawCockpit();
    player->setLightsOn(false);
    player->applyForces(nullptr, nullptr);
    enemy->damage(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(enemy->getHull(), 1000);
    enemy->damage(1000);
    for (int frame = 0; frame < 200 && !enemy->isDead(); ++frame) {
        stage.harness.clock().advance(20);
        player->update(0.02f);
        enemy->update(0.02f);
    }
    EXPECT_TRUE(enemy->isDead());
    EXPECT_EQ(stage.effects.count("addShipExplosion"), 0);  // nothing to burn on
    EXPECT_EQ(stage.effects.count("addDebrisBurst"), 1);
    delete enemy;
}

// The engine sound: one looping channel at a time, stopped when off and
// with its ship; the pitch follows the thrust on the physics steps.
TEST(ShipSound, OneEngineChannelPitchFollowingThrustAndSparseCollisionSounds) {
    REQUIRE_OPENGL();
    Stage stage(irr::video::EDT_OPENGL);
    const int32_t engine = Stage::sample("3d_gen_engine_scout.wav");
    auto ship = std::unique_ptr<Ship>(shiptest::makeShip(kFleet[0]));
    const int32_t first = ship->getEngineChannel();
    ASSERT_GT(first, 0);
    size_t mark = fsound::recording().size();
    ship->setEngineOn(true);  // already on
    const auto stops = Stage::since(mark, fsound::Op::StopSound);
    const auto plays = Stage::since(mark, fsound::Op::PlaySound);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0].channel, first);
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].sample, engine);
    EXPECT_EQ(ship->getEngineChannel(), plays[0].result);
    EXPECT_TRUE(ship->isEngineOn());

    // The pitch: full thrust for two seconds of 60 Hz steps from idle.
    const int32_t channel = ship->getEngineChannel();
    FSOUND_SetFrequency(channel, ENGINE_IDLE_FREQUENCY);
    BodyWorld physics(ship.get());
    ship->setThrustInput(vector3df(0, 0, 1000));
    for (int step = 0; step < 120; ++step) dgWorldUpdate(physics.world, 1 / 60.0f);
    EXPECT_NEAR(FSOUND_GetFrequency(channel), 15000, 66);
    ship->setThrustInput(vector3df());
    for (int step = 0; step < 30; ++step) dgWorldUpdate(physics.world, 1 / 60.0f);
    EXPECT_NEAR(FSOUND_GetFrequency(channel), 15000 - 30 * 66, 66);

    mark = fsound::recording().size();
    ship->setEngineOn(false);
    ship->setEngineOn(false);
    EXPECT_EQ(Stage::since(mark, fsound::Op::StopSound).size(), 1u);
    EXPECT_EQ(Stage::since(mark, fsound::Op::PlaySound).size(), 0u);
    EXPECT_EQ(ship->getEngineChannel(), -1);
    dgWorldUpdate(physics.world, 1 / 60.0f);  // no engine: no pitch, no placing
    EXPECT_EQ(Stage::since(mark, fsound::Op::SetFrequency).size(), 0u);
    ship->setEngineOn(true);
    const int32_t last = ship->getEngineChannel();
    mark = fsound::recording().size();
    ship.reset();
    const auto atEnd = Stage::since(mark, fsound::Op::StopSound);
    ASSERT_EQ(atEnd.size(), 1u);
    EXPECT_EQ(atEnd[0].channel, last);

    // Collisions: a sound only once more than 500 ms have passed since the
    // last one, its pitch 10000 + a draw % 4000, at the ship. Each row: the
    // ms since the call before, and whether this call plays.
    ship.reset(shiptest::makeShip(kFleet[1]));
    mark = fsound::recording().size();
    const struct {
        uint32_t gap;
        bool plays;
    } calls[] = {{0, true}, {500, false}, {1, true}, {300, false}, {201, true}, {501, true}, {499, false}, {2, true}};
    for (const auto& call : calls) {
        const size_t before = Stage::since(mark, fsound::Op::PlaySound).size();
        stage.harness.clock().advance(call.gap);
        ship->playCollisionSound();
        EXPECT_EQ(Stage::since(mark, fsound::Op::PlaySound).size(), before + (call.plays ? 1 : 0))
            << "after " << call.gap << " ms";
    }
    const auto hits = Stage::since(mark, fsound::Op::PlaySound);
    const auto pitches = Stage::since(mark, fsound::Op::SetFrequency);
    const auto places = Stage::since(mark, fsound::Op::SetAttributes);
    ASSERT_EQ(hits.size(), 5u);
    ASSERT_EQ(pitches.size(), 5u);
    const int32_t draws[] = {7, 3000, 29, 12345, 7};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(hits[i].sample, Stage::sample("3d_collision.wav"));
        EXPECT_EQ(pitches[i].channel, hits[i].result);
        EXPECT_EQ(pitches[i].frequency, 10000 + draws[i] % 4000);
        EXPECT_EQ(places[i].position, (std::array<float, 3>{2560, -3790, 3830}));
    }
}

// Mend of the dangling pointers: a targeted enemy takes exactly 1000 damage
// while a torpedo homes on it; the player's target moves on at once and a
// re-selection during the burning never picks it; the break comes on
// schedule and the frame loop forgets and deletes it; frames go on. Under
// the sanitizer build any pointer left behind shows.
TEST(ShipDestruction, ATargetedEnemyBurnsBreaksAndIsForgottenEverywhere) {
    Stage stage;
    Fleet fleet;
    ScriptedClock& clock = stage.harness.clock();
    Ship* player = globals.playerShip;
    Ship* enemy1 = Fleet::find("Enemy 1");
    Weapon* launcher = player->getWeapons().back();
    player->selectNextTarget();
    ASSERT_TRUE(enemy1->isTargeted());
    EXPECT_EQ(launcher->getTarget(), enemy1);
    globals.torpedoList.push_back(new Torpedo(vector3df(2560, -3700, 3700), vector3df(), 30000, MESH_TORPEDO,
                                              vector3df(0.5f, 0.5f, 2), enemy1, -1));
    // Its own physics body, to see the force step leave the removed trails
    // alone.
    BodyWorld physics(enemy1);
    for (int frame = 0; frame < 3; ++frame) {
        Fleet::frame(clock);
        dgWorldUpdate(physics.world, 1 / 60.0f);
    }
    EXPECT_EQ(stage.effects.count("disableEmitters", enemy1->getLeftTrail()), 3);

    enemy1->damage(600 + 8 * 50);  // a torpedo and eight bullets: hull exactly 0
    const vector3df wreck = enemy1->getPosition();
    const int32_t trails[2] = {enemy1->getLeftTrail(), enemy1->getRightTrail()};
    Fleet::frame(clock);
    const uint32_t start = clock.getRealTime();
    EXPECT_EQ(enemy1->getDestroyPhase(), 1);
    for (int32_t trail : trails) EXPECT_EQ(stage.effects.count("removeEffectsOf", trail), 1);
    EXPECT_FALSE(enemy1->isTargeted());
    EXPECT_TRUE(Fleet::find("Enemy 2")->isTargeted());
    EXPECT_EQ(launcher->getTarget(), Fleet::find("Enemy 2"));
    ASSERT_EQ(stage.effects.count("addShipExplosion"), 1);
    EXPECT_EQ(stage.effects.calls.back().parent, enemy1->getNode());

    uint32_t brokeAt = 0;
    for (int frame = 0; frame < 200 && brokeAt == 0; ++frame) {
        if (frame % 10 == 0 && frame < 30) {
            player->selectNextTarget();
            EXPECT_FALSE(enemy1->isTargeted()) << frame;
        }
        if (frame == 30) {  // aimed at it again by hand: forgetting must clear it
            launcher->setTarget(enemy1);
            globals.lastGunFired = player->getWeapons().front();
        }
        dgWorldUpdate(physics.world, 1 / 60.0f);
        Fleet::frame(clock);
        if (Fleet::find("Enemy 1") == nullptr) brokeAt = clock.getRealTime();
    }
    EXPECT_EQ(stage.effects.count("disableEmitters", trails[0]), 3);  // not one after the removal
    EXPECT_EQ(brokeAt - start, 2120u);
    ASSERT_EQ(stage.effects.count("addDebrisBurst"), 1);
    EXPECT_EQ(stage.effects.calls.back().at, wreck);
    EXPECT_EQ(stage.effects.count("removeEffectsOf"), 2);  // the trails once, not again by the destructor
    ASSERT_EQ(globals.torpedoList.size(), 1u);
    EXPECT_EQ(globals.torpedoList.front()->getTarget(), nullptr);
    EXPECT_EQ(launcher->getTarget(), nullptr);
    EXPECT_EQ(globals.lastGunFired, player->getWeapons().front());
    for (int frame = 0; frame < 50; ++frame) {
        Fleet::frame(clock);
        if (frame % 7 == 0) player->selectNextTarget();
    }
    EXPECT_EQ(globals.shipList.size(), 3u);

    // An enemy at hull 1 lives on; forgetting the player clears the globals.
    Ship* enemy3 = Fleet::find("Enemy 3");
    enemy3->damage(999);
    Fleet::frame(clock);
    EXPECT_EQ(enemy3->getDestroyPhase(), 0);
    forgetShip(player);
    EXPECT_EQ(globals.lastGunFired, nullptr);
    EXPECT_EQ(globals.playerShip, nullptr);
    forgetShip(nullptr);
    for (Torpedo* torpedo : globals.torpedoList) delete torpedo;
    globals.torpedoList.clear();
}

// Lights switch at most every 1500 ms and fade frame by frame; the head
// light rides below and ahead of the ship along its direction.
TEST(ShipLights, SwitchesFadeOverFramesAndTheHeadLightFollows) {
    Stage stage;
    std::unique_ptr<Ship> ship(shiptest::makeShip(kFleet[0]));
    ScriptedClock& clock = stage.harness.clock();
    ship->setLightsOn(false);
    EXPECT_FALSE(ship->isLightsOn());
    clock.advance(1500);
    ship->setLightsOn(true);  // not more than 1500 ms: ignored
    EXPECT_FALSE(ship->isLightsOn());
    clock.advance(1);
    ship->setLightsOn(false);  // accepted: the fade starts again now
    for (int frame = 0; frame < 100; ++frame) {
        ship->update(0.02f);
        clock.advance(20);
    }
    const irr::video::SColorf head = ship->getHeadLight()->getLightData().DiffuseColor;
    EXPECT_NEAR(head.b, std::pow(0.9, 75), 1e-6);  // 75 frames faded, then still
    EXPECT_EQ(ship->getCockpitLight()->getLightData().DiffuseColor.toSColor(),
              ship->getLightColors().cockpit.toSColor());
    EXPECT_EQ(firstVertexColor(ship->getBeamMesh()), beamColor(head));

    ship->setRotation(vector3df(0, 90, 0));
    ship->update(0.02f);
    const vector3df place = ship->getHeadLight()->getPosition() - kFleet[0].position;
    EXPECT_NEAR(place.X, 5, 1e-3);
    EXPECT_NEAR(place.Y, -2, 1e-3);
    EXPECT_NEAR(place.Z, 0, 1e-3);
    EXPECT_NEAR(ship->getDirection().X, 1, 1e-6);
    EXPECT_NEAR(ship->getHeadLight()->getRotation().Y, 90, 1e-3);
}

// Above y = -60 the engine stops and the ship bobs (draws for z, then y,
// then x); below -70 the engine state before surfacing returns.
TEST(ShipSurfacing, LosesItsEngineAboveMinus60AndBobsUntilBelowMinus70) {
    REQUIRE_OPENGL();
    Stage stage(irr::video::EDT_OPENGL);
    std::unique_ptr<Ship> ship(shiptest::makeShip(kFleet[0]));
    BodyWorld physics(ship.get());
    const size_t mark = fsound::recording().size();
    struct Step {
        float y;
        bool surfaced, engineOn;
    };
    const Step steps[] = {{-61, false, true}, {-59, true, false}, {-65, true, false}, {-71, false, true}};
    for (const Step& step : steps) {
        ship->setPosition(vector3df(0, step.y, 0));
        ship->update(0.02f);
        EXPECT_EQ(ship->isSurfaced(), step.surfaced) << step.y;
        EXPECT_EQ(ship->isEngineOn(), step.engineOn) << step.y;
        if (step.y == -59) {
            // Level, no input, no spin: the new spin is the bobbing × (2 - 0.05).
            ship->applyForces(physics.world, physics.body);
            const vector3df bob((29 % 30) / 1000.0f - 0.015f, (3000 % 30) / 1000.0f - 0.015f,
                                (7 % 30) / 1000.0f - 0.015f);
            const vector3df w = physics.omega();
            EXPECT_NEAR(w.X, bob.X * 1.95f, 1e-6);
            EXPECT_NEAR(w.Y, bob.Y * 1.95f, 1e-6);
            EXPECT_NEAR(w.Z, bob.Z * 1.95f, 1e-6);
        }
    }
    EXPECT_EQ(Stage::since(mark, fsound::Op::StopSound).size(), 1u);
    EXPECT_EQ(Stage::since(mark, fsound::Op::PlaySound).size(), 1u);
    ship->setEngineOn(false);  // off before surfacing: stays off after
    for (float y : {-50.0f, -80.0f}) {
        ship->setPosition(vector3df(0, y, 0));
        ship->update(0.02f);
    }
    EXPECT_FALSE(ship->isEngineOn());
}

// Bad input through every door the ship has: NaN and huge thrust,
// steering, rotation and position, over many physics steps of every
// kind of ship. Nothing non-finite reaches the body, the sound layer or a
// node; the trails pause exactly when there is no force.
TEST(ShipForces, NonFiniteAndHugeInputsNeverReachTheBodySoundOrNodes) {
    REQUIRE_OPENGL();
    Stage stage(irr::video::EDT_OPENGL);
    Fleet fleet;
    std::vector<std::unique_ptr<BodyWorld>> bodies;
    for (Ship* ship : globals.shipList) bodies.push_back(std::make_unique<BodyWorld>(ship));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float bad[] = {nan, std::numeric_limits<float>::infinity(), 3e38f, -3e38f, 1e20f};
    std::mt19937 rng(3);
    const size_t mark = fsound::recording().size();
    for (int step = 0; step < 600; ++step) {
        int index = 0;
        for (Ship* ship : globals.shipList) {
            const float v = bad[rng() % 5];
            switch (rng() % 5) {
                case 0: ship->setThrustInput(vector3df(v, 0, v)); break;
                case 1: ship->setSteeringInput(vector3df(v, v, 0)); break;
                case 2: ship->setRotation(vector3df(0, v, 0)); break;
                case 3: ship->setPosition(vector3df(v, -100, 0)); break;
                default:
                    ship->setRotation(vector3df(float(rng() % 360), 0, 30));
                    ship->setPosition(vector3df(0, -100, 0));
                    ship->setThrustInput(vector3df(0, 0, float(rng() % 2) * 1000));
            }
            dgWorldUpdate(bodies[index++]->world, 1 / 60.0f);
        }
        Fleet::frame(stage.harness.clock());
        for (const auto& b : bodies) {
            float force[3], velocity[3];
            dgBodyGetForce(b->body, force);
            dgBodyGetVelocity(b->body, velocity);
            ASSERT_TRUE(isFinite(b->omega()) && isFinite(vector3df(force[0], force[1], force[2])) &&
                        isFinite(vector3df(velocity[0], velocity[1], velocity[2])))
                << step;
        }
        for (Ship* ship : globals.shipList) {
            ASSERT_TRUE(isFinite(ship->getNode()->getPosition()) && isFinite(ship->getNode()->getRotation())) << step;
        }
    }
    for (const fsound::RecordedCall& call : Stage::since(mark, fsound::Op::SetAttributes)) {
        ASSERT_TRUE(std::isfinite(call.position[0]) && std::isfinite(call.position[1]) &&
                    std::isfinite(call.position[2]));
    }
    for (const fsound::RecordedCall& call : Stage::since(mark, fsound::Op::SetFrequency)) {
        ASSERT_GE(call.frequency, ENGINE_IDLE_FREQUENCY);
    }
    // Enemy 3 never pushes: its trails only ever pause; Enemy 2 loops.
    const Ship* enemy3 = Fleet::find("Enemy 3");
    EXPECT_EQ(stage.effects.count("enableEmitters", enemy3->getLeftTrail()), 0);
    EXPECT_EQ(stage.effects.count("disableEmitters", enemy3->getLeftTrail()), 600);
    EXPECT_GT(stage.effects.count("enableEmitters", Fleet::find("Enemy 2")->getRightTrail()), 0);
}

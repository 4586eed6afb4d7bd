// The effects manager on the null device with the generated media and the
// scripted clock: ids, the preset table as built, the records' timeline in
// the scene (emitters, rings, the engine's delete animators), reference
// counts of what the records hold, stopping effects whose carrier goes, the
// floating particles around the player and debris.
#include "GameLoopHarness.h"
#include "RecordingParticleSystem.h"
#include "engine/ParticleTestSupport.h"

#include "client/constants.h"
#include "client/effectmath.h"
#include "client/engine/CParticleSystemSceneNode.h"
#include "client/engine/COrientedBillboardSceneNode.h"
#include "client/engine/MyMaterialD3D9.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/trash.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

namespace {

using irr::core::vector3df;
using irr::video::SColor;
namespace ts = tarnwell::scene;

// Records the debris a burst throws instead of making Trash pieces, which
// need the physics glue.
class DebrisRecordingSystem : public ParticleSystem {
public:
    using ParticleSystem::ParticleSystem;
    void spawnDebris(irr::s32 mesh, const vector3df& at) override { spawned.emplace_back(mesh, at); }
    std::vector<std::pair<irr::s32, vector3df>> spawned;
};

// A ship without a mesh: no node, no body, no sound; only its place counts.
Ship* makeShip(const vector3df& position, const vector3df& rotation) {
    return new Ship(false, "Enemy 1", L"SB373", L"Bomber1", position, rotation, vector3df(8, 3, 10), 30.0f,
                    0.5f, BOMBER1_ANGULAR_DAMPING, ShipTuning(), -1);
}

const ts::SParticle* firstParticle(ts::IParticleSystemSceneNode* node) {
    const auto& particles = static_cast<ts::CParticleSystemSceneNode*>(node)->getParticles();
    return particles.empty() ? nullptr : &particles[0];
}

class Effects : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(harness.device(), nullptr);
        scene = globals.sceneManager;
        // The null driver renders to no texture: the load stops at the
        // render targets, after the meshes and textures the effects use.
        harness.loadResources();
        ASSERT_NE(globals.resources->getMesh(MESH_SHOCKWAVE), nullptr);
        ASSERT_NE(globals.resources->getTexture(TEXTURE_PARTICLE2), nullptr);
        harness.clock().restartTime();
        system = std::make_unique<DebrisRecordingSystem>(globals.resources);
        globals.particleSystem = system.get();
    }
    void TearDown() override {
        for (Trash* piece : globals.trashList) {
            delete piece;
        }
        globals.trashList.clear();
        delete globals.playerShip;
        globals.playerShip = nullptr;
        system.reset();
        globals.particleSystem = nullptr;
        globals.shadersEnabled = false;
        if (scene != nullptr) {
            scene->clear();
        }
    }

    // A frame at `ms` of virtual time since the start: the effects' update
    // with the step since the previous frame, then the scene drawn, where the
    // particle nodes and the engine's animators run.
    void frameAt(uint32_t ms) {
        const uint32_t step = ms - time;
        harness.clock().advance(step);
        time = ms;
        system->update(float(step) / 1000.0f);
        globals.driver->beginScene(true, true, SColor(0));
        scene->drawAll();
        globals.driver->endScene();
    }
    // 20 ms frames up to `ms`, that one included.
    void framesTo(uint32_t ms) {
        while (time + 20 < ms) {
            frameAt(time + 20);
        }
        frameAt(ms);
    }
    const ParticleEffect* newest() const {
        return system->getEffects().empty() ? nullptr : system->getEffects().back();
    }
    irr::scene::ISceneNode* root() const { return scene->getRootSceneNode(); }

    GameLoopHarness harness;
    irr::scene::ISceneManager* scene = nullptr;
    std::unique_ptr<DebrisRecordingSystem> system;
    uint32_t time = 0;
};

TEST_F(Effects, IdsCountFromZeroPerInstanceAndRefusedInputTakesNone) {
    EXPECT_EQ(system->addShipBubbleTrail(vector3df(), nullptr), 0);
    EXPECT_EQ(system->addTorpedoBubbleTrail(vector3df(), nullptr), 1);
    system->addBlueImpact(vector3df(1, 2, 3));
    EXPECT_EQ(system->addDebrisTrail(vector3df(), nullptr), 3);

    // Non-finite input reaches no node and takes no id.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const size_t children = root()->getChildren().size();
    EXPECT_EQ(system->addDebrisTrail(vector3df(nan, 0, 0), nullptr), -1);
    EXPECT_EQ(system->addEffect(vector3df(), irr::core::dimension2df(1, inf), vector3df(), 1, vector3df(), 0,
                                vector3df(), 1, 2, SColor(0), SColor(0), 1, 2, 0, 0, 0, nullptr, nullptr,
                                false, false),
              -1);
    EXPECT_EQ(system->addBoxEffect(vector3df(), irr::core::dimension2df(1, 1),
                                   irr::core::aabbox3df(0, 0, 0, inf, 1, 1), vector3df(), 0, vector3df(), 1,
                                   2, SColor(0), SColor(0), 1, 2, 0, 0, 0, nullptr, nullptr),
              -1);
    system->addPointEffect(vector3df(), irr::core::dimension2df(1, 1), vector3df(0, nan, 0), 1, 2, SColor(0),
                           SColor(0), 1, 2, 0, 0, 0, nullptr);
    system->addExplosion(vector3df(0, 0, -inf));
    system->addDebrisBurst(vector3df(nan, nan, nan));
    system->ParticleSystem::spawnDebris(MESH_TRASH1, vector3df(inf, 0, 0));
    EXPECT_EQ(root()->getChildren().size(), children);
    EXPECT_TRUE(system->spawned.empty());
    EXPECT_TRUE(globals.trashList.empty());
    EXPECT_EQ(system->addDebrisTrail(vector3df(), nullptr), 4);

    // Ids no record has change nothing.
    for (int32_t id : {-1, 2000}) {
        system->removeEffectsOf(id);
        system->enableEmitters(id);
        system->disableEmitters(id);
        system->setEffectVisible(id, false);
    }
    std::vector<int32_t> ids;
    for (const ParticleEffect* effect : system->getEffects()) {
        ids.push_back(effect->stopped || !effect->node->isVisible() ? -1 : effect->id);
    }
    EXPECT_EQ(ids, (std::vector<int32_t>{0, 1, 2, 3, 4}));

    DebrisRecordingSystem second(globals.resources);
    EXPECT_EQ(second.addShipBubbleTrail(vector3df(), nullptr), 0);
}

// 200 ms of emission, retired after 600 ms, the node deleted by the engine
// after 800 ms; the emitter and the node are each held once by the record.
TEST_F(Effects, BlueImpactStopsEmittingThenRetiresThenItsNodeGoes) {
    system->addBlueImpact(vector3df(5, 6, 7));
    const ParticleEffect* effect = newest();
    ASSERT_NE(effect, nullptr);
    ts::IParticleSystemSceneNode* node = effect->node;
    ts::IParticleEmitter* emitter = effect->emitter;
    EXPECT_EQ(node->getParent(), root());
    EXPECT_EQ(node->getReferenceCount(), 2);     // the scene and the record
    EXPECT_EQ(emitter->getReferenceCount(), 2);  // the node and the record
    node->grab();
    emitter->grab();

    framesTo(200);
    EXPECT_EQ(emitter->getReferenceCount(), 3);
    EXPECT_NE(firstParticle(node), nullptr);
    frameAt(201);
    EXPECT_EQ(emitter->getReferenceCount(), 2);  // detached
    framesTo(600);
    EXPECT_EQ(newest(), effect);
    frameAt(601);
    EXPECT_TRUE(system->getEffects().empty());
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    EXPECT_EQ(node->getReferenceCount(), 2);  // the scene and this test
    framesTo(800);
    EXPECT_EQ(node->getParent(), root());
    frameAt(801);
    EXPECT_EQ(node->getParent(), nullptr);
    EXPECT_EQ(node->getReferenceCount(), 1);
    emitter->drop();
    node->drop();
}

// The ring grows 40 a second from 2, fades over 800 ms from 300 ms, and
// goes with its record just after 1000 ms, never hidden before.
TEST_F(Effects, DebrisBurstRingGrowsFadesAndGoesWithTheRecord) {
    globals.playerShip = makeShip(vector3df(), vector3df(10, 80, 0));
    // Tilt draws 5 and 70; counts 1, 0, 2 (2, 1 and 4 pieces); offsets 0.2.
    particletest::ScriptedRandom draws({5, 70, 1, 0, 2, 7});
    ts::ScopedRandomSource scoped(draws);
    const vector3df at(100, -200, 300);
    system->addDebrisBurst(at);
    EXPECT_EQ(draws.draws, 2u + 3u + 7u * 3u);
    const std::vector<irr::s32> meshes = {MESH_TRASH1, MESH_TRASH1, MESH_TRASH2, MESH_TRASH3,
                                          MESH_TRASH3, MESH_TRASH3, MESH_TRASH3};
    ASSERT_EQ(system->spawned.size(), meshes.size());
    for (size_t i = 0; i < meshes.size(); ++i) {
        EXPECT_EQ(system->spawned[i].first, meshes[i]);
        EXPECT_TRUE(system->spawned[i].second.equals(at + vector3df(0.2f, 0.2f, 0.2f)));
    }

    const ParticleEffect* effect = newest();
    ASSERT_NE(effect, nullptr);
    irr::scene::IMeshSceneNode* ring = effect->shockWaveNode;
    ASSERT_NE(ring, nullptr);
    ring->grab();
    // Pitch -(5 % 40 + 20), yaw 70 % 120 - 60 on the player's rotation.
    EXPECT_TRUE(ring->getRotation().equals(vector3df(10 - 25, 80 + 10, 0)));
    EXPECT_TRUE(ring->getPosition().equals(at));
    system->update(std::numeric_limits<float>::quiet_NaN());  // a broken step grows nothing
    EXPECT_TRUE(ring->getScale().equals(vector3df(2, 2, 2)));
    EXPECT_EQ(ring->getMaterial(0).MaterialType, irr::video::EMT_TRANSPARENT_ADD_COLOR);
    EXPECT_FALSE(ring->getMaterial(0).BackfaceCulling);
    irr::scene::IMeshBuffer* buffer = effect->shockWaveMesh->getMeshBuffer(0);
    ASSERT_EQ(buffer->getVertexType(), irr::video::EVT_STANDARD);
    const auto shade = [buffer] {
        return static_cast<irr::video::S3DVertex*>(buffer->getVertices())[0].Color;
    };
    const SColor original = shade();

    framesTo(300);
    EXPECT_NEAR(ring->getScale().X, 2 + 40 * 0.3f, 1e-3f);
    EXPECT_EQ(shade(), original);
    frameAt(320);
    EXPECT_EQ(shade(), SColor(248, 248, 248, 248));  // 255 x 780 / 800
    framesTo(1000);
    EXPECT_NEAR(ring->getScale().Y, 42.0f, 1e-3f);
    EXPECT_EQ(shade(), SColor(31, 31, 31, 31));  // 255 x 100 / 800
    EXPECT_TRUE(ring->isVisible());
    EXPECT_EQ(newest(), effect);
    frameAt(1020);
    EXPECT_TRUE(system->getEffects().empty());
    EXPECT_EQ(ring->getParent(), nullptr);
    EXPECT_EQ(ring->getReferenceCount(), 1);
    ring->drop();
}

// A ship deleted after a stalled frame takes its node, and with it the
// explosion's parent, before the explosion's record retires.
TEST_F(Effects, ShipExplosionOutlivesTheShipNodeThatCarriedIt) {
    irr::scene::ISceneNode* ship = scene->addEmptySceneNode(nullptr, -1);
    ship->setPosition(vector3df(40, 0, 0));
    system->addShipExplosion(ship);
    const ParticleEffect* effect = newest();
    ASSERT_NE(effect, nullptr);
    ts::IParticleSystemSceneNode* node = effect->node;
    EXPECT_EQ(node->getParent(), ship);
    EXPECT_TRUE(node->getPosition().equals(vector3df()));
    framesTo(500);
    ship->remove();
    EXPECT_EQ(node->getParent(), nullptr);
    EXPECT_EQ(node->getReferenceCount(), 1);  // the record's
    frameAt(1900);                            // stalled
    frameAt(2001);
    EXPECT_TRUE(system->getEffects().empty());
}

TEST_F(Effects, RemoveEffectsOfMovesTheTrailToTheRootAndStopsItForGood) {
    irr::scene::ISceneNode* ship = scene->addEmptySceneNode(nullptr, -1);
    ship->setPosition(vector3df(100, -50, 20));
    ship->setRotation(vector3df(0, 90, 0));
    const vector3df offset(1.5f, 0, -4);
    const int32_t id = system->addShipBubbleTrail(offset, ship);
    const ParticleEffect* effect = system->findEffect(id);
    ASSERT_NE(effect, nullptr);
    ts::IParticleSystemSceneNode* node = effect->node;
    ts::IParticleEmitter* emitter = effect->emitter;
    node->grab();

    // The ship switches its trail with its thrust.
    system->disableEmitters(id);
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    system->enableEmitters(id);
    EXPECT_EQ(emitter->getReferenceCount(), 2);
    framesTo(1000);  // endless: never retired
    ASSERT_NE(firstParticle(node), nullptr);

    ship->updateAbsolutePosition();
    vector3df place = offset;
    ship->getAbsoluteTransformation().transformVect(place);
    system->removeEffectsOf(id);
    EXPECT_EQ(node->getParent(), root());
    node->updateAbsolutePosition();
    EXPECT_TRUE(node->getAbsolutePosition().equals(place, 1e-3f));
    EXPECT_TRUE(effect->stopped);
    EXPECT_EQ(effect->startTime, 1000u);
    EXPECT_EQ(effect->duration, STOPPED_DURATION_MS);
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    // The dying ship still switches its trail on; a second stop changes
    // nothing.
    system->enableEmitters(id);
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    frameAt(1500);
    system->removeEffectsOf(id);
    EXPECT_EQ(effect->startTime, 1000u);

    ship->remove();
    frameAt(1520);
    EXPECT_NE(firstParticle(node), nullptr);  // the rest live on in the root
    framesTo(5000);
    EXPECT_EQ(system->findEffect(id), effect);
    EXPECT_EQ(node->getParent(), root());
    frameAt(5001);
    EXPECT_EQ(system->findEffect(id), nullptr);
    EXPECT_EQ(node->getParent(), nullptr);  // the delete animator of the stop
    EXPECT_EQ(node->getReferenceCount(), 1);
    node->drop();
}

TEST_F(Effects, WithoutARingMeshTheEffectShowsWithoutARecord) {
    ResourceHandler empty;
    DebrisRecordingSystem bare(&empty);
    const size_t children = root()->getChildren().size();
    const int32_t id = bare.addEffect(vector3df(), irr::core::dimension2df(8, 8), vector3df(), 3.5f,
                                      vector3df(), 0, vector3df(), 20, 50, SColor(0), SColor(0), 300, 1000, 0,
                                      500, 500, nullptr, nullptr, false, true);
    EXPECT_EQ(id, 0);
    EXPECT_TRUE(bare.getEffects().empty());
    ASSERT_EQ(root()->getChildren().size(), children + 1);
    irr::scene::ISceneNode* node = *root()->getChildren().getLast();
    EXPECT_EQ(node->getReferenceCount(), 1);  // the scene's alone
    EXPECT_EQ(node->getAnimators().size(), 1u);
}

TEST_F(Effects, DestructorLeavesTheEffectsInTheSceneAndTakesThePreloadRing) {
    const size_t before = root()->getChildren().size();
    {
        DebrisRecordingSystem local(globals.resources);
        ASSERT_EQ(root()->getChildren().size(), before + 1);  // the preload ring
        local.addDebrisBurst(vector3df(1, 1, 1));
        local.addShipBubbleTrail(vector3df(), nullptr);
        EXPECT_EQ(root()->getChildren().size(), before + 4);
    }
    // The burst, its ring and the trail stay for the state's clean-up, held
    // by the scene alone.
    ASSERT_EQ(root()->getChildren().size(), before + 3);
    auto child = root()->getChildren().getLast();
    for (int i = 0; i < 3; ++i, --child) {
        EXPECT_EQ((*child)->getReferenceCount(), 1);
    }
}

TEST_F(Effects, SpawnDebrisAppendsAPieceAndPushesIt) {
    particletest::ScriptedRandom draws({3});
    ts::ScopedRandomSource scoped(draws);
    const vector3df at(10, -3800, 20);
    // A mesh the resources lack: a piece without node or body, so no trail.
    system->ParticleSystem::spawnDebris(-1, at);
    ASSERT_EQ(globals.trashList.size(), 1u);
    const Trash* piece = globals.trashList.back();
    EXPECT_EQ(piece->getName(), "trash");
    EXPECT_TRUE(piece->getPosition().equals(at));
    EXPECT_TRUE(piece->getSize().equals(vector3df(2.5f, 2.5f, 2.5f)));
    EXPECT_EQ(piece->getTrailEffect(), -1);
    EXPECT_TRUE(system->getEffects().empty());
    EXPECT_EQ(draws.draws, 6u);  // the push is drawn whether or not it lands
}

TEST_F(Effects, CameraParticlesFloatAroundThePlayerAndComeBackAhead) {
    const vector3df home(2560, -3780, 3760);
    globals.playerShip = makeShip(home, vector3df(0, 90, 0));
    globals.shadersEnabled = true;
    globals.additiveMaterial = registerAdditiveMaterial(globals.driver);
    ASSERT_GT(globals.additiveMaterial, 0);
    {
        particletest::SequenceRandom draws(5);
        ts::ScopedRandomSource scoped(draws);
        system->addCameraParticles();
    }
    const auto& particles = system->getCameraParticles();
    ASSERT_EQ(particles.size(), size_t(CAMERA_PARTICLE_COUNT));
    irr::core::aabbox3df start(home - vector3df(100), home + vector3df(99.91f));
    int firstTexture = 0;
    for (ts::COrientedBillboardSceneNode* particle : particles) {
        EXPECT_TRUE(start.isPointInside(particle->getPosition()));
        EXPECT_TRUE(particle->getOwnUp() && particle->getRollAngle() >= 0 && particle->getRollAngle() < 360);
        vector3df forward(0, 0, 1);
        particle->getOrientation().rotateVect(forward);
        EXPECT_TRUE(forward.equals(vector3df(1, 0, 0), 1e-5f));  // the ship's yaw of 90
        EXPECT_EQ(particle->getSize(), irr::core::dimension2df(0.4f, 0.4f));
        const irr::video::SMaterial& material = particle->getMaterial(0);
        EXPECT_TRUE(material.Lighting && material.FogEnable);
        EXPECT_EQ(material.MaterialType, irr::video::E_MATERIAL_TYPE(globals.additiveMaterial));
        firstTexture += material.getTexture(0) == globals.resources->getTexture(TEXTURE_PARTICLE1);
        EXPECT_TRUE(material.getTexture(0) == globals.resources->getTexture(TEXTURE_PARTICLE1) ||
                    material.getTexture(0) == globals.resources->getTexture(TEXTURE_PARTICLE2));
    }
    EXPECT_TRUE(firstTexture > 100 && firstTexture < 200) << firstTexture;

    // One at exactly 150 units only drifts; one 150.01 away comes back 100
    // to 150 ahead of the ship (its +x), here with every draw 0.
    auto first = particles.begin();
    ts::COrientedBillboardSceneNode* edge = *first;
    ts::COrientedBillboardSceneNode* beyond = *++first;
    edge->setPosition(home + vector3df(150, 0, 0));
    beyond->setPosition(home + vector3df(0, 0, -150.01f));
    {
        particletest::ScriptedRandom zeros({0});
        ts::ScopedRandomSource scoped(zeros);
        system->update(0.5f);
    }
    const vector3df drift(-0.075f, -0.075f, -0.075f);
    EXPECT_TRUE(edge->getPosition().equals(home + vector3df(150, 0, 0) + drift, 1e-3f));
    EXPECT_TRUE(beyond->getPosition().equals(home + vector3df(100, -50, 50) + drift, 1e-3f));

    // Whatever the player does, every particle stays within reach of the
    // farthest place ahead, sqrt(50² + 50² + 150²).
    particletest::SequenceRandom draws(9);
    ts::ScopedRandomSource scoped(draws);
    std::mt19937 moves(3);
    std::uniform_real_distribution<float> step(-6.0f, 6.0f);
    std::uniform_real_distribution<float> turn(-180.0f, 180.0f);
    for (int frame = 0; frame < 200; ++frame) {
        globals.playerShip->setPosition(globals.playerShip->getPosition() +
                                        vector3df(step(moves), step(moves), step(moves)));
        globals.playerShip->setRotation(vector3df(turn(moves), turn(moves), turn(moves)));
        system->update(0.02f);
        for (ts::COrientedBillboardSceneNode* particle : particles) {
            ASSERT_LE(particle->getPosition().getDistanceFrom(globals.playerShip->getPosition()), 165.84f);
        }
    }
}

TEST(RecordingParticleSystem, RecordsTheCallsAndHandsOutTrailIds) {
    RecordingParticleSystem recording;
    ParticleSystem& system = recording;
    system.addFireImpact(vector3df(1, 2, 3));
    EXPECT_EQ(system.addShipBubbleTrail(vector3df(-1.5f, 0, -4), nullptr), 0);
    EXPECT_EQ(system.addDebrisTrail(vector3df(), nullptr), 1);
    system.removeEffectsOf(0);
    ASSERT_EQ(recording.calls.size(), 4u);
    EXPECT_TRUE(recording.named("addShipBubbleTrail").at(0).at.equals(vector3df(-1.5f, 0, -4)));
    EXPECT_EQ(recording.calls.back().what, "removeEffectsOf");
}

// The preset table, row by row.
struct PresetRow {
    const char* name;
    EffectPresetId id;
    void (*build)(ParticleSystem& system, const vector3df& at, irr::scene::ISceneNode* parent);
    bool onParent;  // built on the given node; else at a world position
    bool box;
    float width, height, radius;
    vector3df boxMin, boxMax, direction;
    uint32_t minRate, maxRate;
    SColor minColor, maxColor;
    uint32_t minLife, maxLife, fadeOut, duration;
    irr::s32 texture;
    bool lighting, ring;
};

// clang-format off
const SColor kBubbleMin(0, 0, 10, 50), kBubbleMax(0, 0, 30, 150);
const PresetRow kPresetRows[] = {
    {"BlueImpact", PRESET_BLUE_IMPACT, [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode*) {
         s.addBlueImpact(at);
     }, false, false, 4, 4, 2.0f, {}, {}, {}, 50, 100, SColor(0, 0, 100, 200), SColor(0, 50, 100, 255), 300, 600,
     500, 200, 3, false, false},
    {"FireImpact", PRESET_FIRE_IMPACT, [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode*) {
         s.addFireImpact(at);
     }, false, false, 4, 4, 2.0f, {}, {}, {}, 50, 100, SColor(0, 200, 100, 0), SColor(0, 255, 200, 0), 300, 600,
     500, 250, 3, false, false},
    {"ShipExplosion", PRESET_SHIP_EXPLOSION, [](ParticleSystem& s, const vector3df&, irr::scene::ISceneNode* p) {
         s.addShipExplosion(p);
     }, true, false, 4, 4, 2.5f, {}, {}, {}, 100, 200, SColor(0, 200, 100, 20), SColor(0, 255, 200, 100), 500,
     2000, 1000, 1000, 3, false, false},
    {"DebrisBurst", PRESET_DEBRIS_BURST, [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode*) {
         s.addDebrisBurst(at);
     }, false, false, 8, 8, 3.5f, {}, {}, {}, 20, 50, SColor(0, 200, 100, 20), SColor(0, 255, 200, 100), 300, 1000,
     500, 500, 3, false, true},
    {"Explosion", PRESET_EXPLOSION, [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode*) {
         s.addExplosion(at);
     }, false, false, 2, 2, 1.0f, {}, {}, {}, 20, 50, SColor(0, 200, 100, 0), SColor(0, 255, 200, 0), 600, 1000,
     500, 500, 3, false, false},
    {"ShipBubbleTrail", PRESET_SHIP_BUBBLE_TRAIL,
     [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode* p) { s.addShipBubbleTrail(at, p); }, true,
     false, 0.1f, 0.1f, 0.5f, {}, {}, {}, 50, 100, kBubbleMin, kBubbleMax, 2000, 4000, 1000, 0, 4, true, false},
    {"TorpedoBubbleTrail", PRESET_TORPEDO_BUBBLE_TRAIL,
     [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode* p) { s.addTorpedoBubbleTrail(at, p); },
     true, false, 0.1f, 0.1f, 0.2f, {}, {}, {}, 100, 200, kBubbleMin, kBubbleMax, 2000, 4000, 1000, 0, 4, true,
     false},
    {"BubbleBurst", PRESET_BUBBLE_BURST,
     [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode* p) { s.addBubbleBurst(at, p); }, true,
     false, 0.25f, 0.25f, 2.0f, {}, {}, {0, 0.0025f, 0}, 2000, 4000, kBubbleMin, kBubbleMax, 6000, 12000, 1000,
     200, 4, true, false},
    {"DebrisTrail", PRESET_DEBRIS_TRAIL,
     [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode* p) { s.addDebrisTrail(at, p); }, true,
     false, 0.2f, 0.2f, 1.0f, {}, {}, {}, 50, 100, kBubbleMin, kBubbleMax, 3000, 8000, 3000, 5000, 4, true, false},
    {"AmbientBubbles", PRESET_AMBIENT_BUBBLES,
     [](ParticleSystem& s, const vector3df& at, irr::scene::ISceneNode* p) { s.addAmbientBubbles(at, p); }, true,
     true, 0.2f, 0.2f, 0, {-20, -50, 10}, {20, 0, 150}, {0, 0.005f, 0}, 10, 20, kBubbleMin, kBubbleMax, 3000, 6000,
     1000, 0, 4, false, false},
};
// clang-format on

class PresetTable : public Effects, public testing::WithParamInterface<PresetRow> {};

TEST_P(PresetTable, DataAndBuiltEffectMatchTheTable) {
    const PresetRow& row = GetParam();
    // The quad's size shows only when drawn; the rest shows in the effect.
    const EffectPreset& data = effectPreset(row.id);
    EXPECT_TRUE(data.width == row.width && data.height == row.height);

    irr::scene::ISceneNode* carrier = scene->addEmptySceneNode(nullptr, -1);
    carrier->setPosition(vector3df(7, 8, 9));
    const vector3df at(30, -40, 50);
    globals.additiveMaterial = registerAdditiveMaterial(globals.driver);
    for (bool shaders : {false, true}) {
        globals.shadersEnabled = shaders;
        particletest::ScriptedRandom zeros({0});
        ts::ScopedRandomSource scoped(zeros);
        row.build(*system, at, carrier);
        const ParticleEffect* effect = newest();
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->duration, row.duration);
        EXPECT_EQ(effect->lifetime, row.maxLife);
        EXPECT_EQ(effect->shockWave, row.ring);
        EXPECT_EQ(effect->shockWaveNode != nullptr, row.ring);
        ts::IParticleSystemSceneNode* node = effect->node;
        EXPECT_EQ(node->getParent(), row.onParent ? carrier : root());
        EXPECT_TRUE(node->getPosition().equals(row.id == PRESET_SHIP_EXPLOSION ? vector3df() : at));
        EXPECT_EQ(node->getAnimators().size(), row.duration > 0 ? 1u : 0u);
        const irr::video::SMaterial& material = node->getMaterial(0);
        EXPECT_EQ(material.getTexture(0), globals.resources->getTexture(row.texture));
        EXPECT_EQ(material.Lighting, row.lighting);
        EXPECT_FALSE(material.FogEnable);
        EXPECT_EQ(material.MaterialType, shaders && !row.box
                                             ? irr::video::E_MATERIAL_TYPE(globals.additiveMaterial)
                                             : irr::video::EMT_TRANSPARENT_ADD_COLOR);

        const ts::IParticleEmitter* emitter = effect->emitter;
        EXPECT_TRUE(emitter->getDirection().equals(row.direction));
        EXPECT_EQ(emitter->getMinParticlesPerSecond(), row.minRate);
        EXPECT_EQ(emitter->getMaxParticlesPerSecond(), row.maxRate);
        EXPECT_EQ(emitter->getMinStartColor(), row.minColor);
        EXPECT_EQ(emitter->getMaxStartColor(), row.maxColor);
        if (row.box) {
            const auto* box = dynamic_cast<const ts::IParticleBoxEmitter*>(emitter);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->getBox(), irr::core::aabbox3df(row.boxMin, row.boxMax));
        } else {
            const auto* sphere = dynamic_cast<const ts::IParticleSphereEmitter*>(emitter);
            ASSERT_NE(sphere, nullptr);
            EXPECT_EQ(sphere->getRadius(), row.radius);
            EXPECT_TRUE(sphere->getCenter().equals(vector3df()));
        }

        // With every draw 0 a particle lives the shortest life in the
        // brightest colour, faded by what is left of it against the fade-out
        // time when that is shorter.
        const uint32_t born = time + 102;
        frameAt(time + 1);
        frameAt(born);
        const ts::SParticle* particle = firstParticle(node);
        ASSERT_NE(particle, nullptr);
        EXPECT_EQ(particle->endTime - particle->startTime, row.minLife);
        const float left = row.minLife < row.fadeOut ? float(row.minLife) / float(row.fadeOut) : 1.0f;
        EXPECT_NEAR(particle->color.getRed(), row.maxColor.getRed() * left, 1.0f);
        EXPECT_NEAR(particle->color.getBlue(), row.maxColor.getBlue() * left, 1.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, PresetTable, testing::ValuesIn(kPresetRows),
                         [](const testing::TestParamInfo<PresetRow>& info) { return info.param.name; });

}  // namespace

// The particle node's per-frame rule without a device, then the node itself
// on the engine's null device.
#include "ParticleTestSupport.h"

#include "client/engine/CParticlePointEmitter.h"
#include "client/engine/CParticleSystemSceneNode.h"
#include "client/engine/ParticleSystemUpdate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using namespace particletest;
using irr::core::vector3df;
using irr::video::SColor;
namespace ts = tarnwell::scene;

namespace {

const irr::core::dimension2df kSize(2.0f, 4.0f);

bool run(ts::ParticleSystemState& state, u32 now, ts::IParticleEmitter* emitter,
         const irr::core::matrix4& absolute = irr::core::IdentityMatrix, bool global = true) {
    return ts::updateParticleSystem(state, now, emitter, nullptr, 0, absolute, global, kSize);
}

TEST(ParticleSystemUpdate, FirstRunNotesTheTimeAndRunsWithoutElapsedTimeDoNothing) {
    SequenceRandom random;
    ts::ScopedRandomSource scoped(random);
    ts::CParticlePointEmitter emitter(settings(10, 1000, 5000, 5000, vector3df(0, 0.01f, 0)));
    ts::ParticleSystemState state;
    EXPECT_FALSE(run(state, 100, &emitter));
    EXPECT_FALSE(run(state, 100, &emitter));
    EXPECT_EQ(random.draws, 0u);
    for (u32 now = 120; now < 2000; now += 20) {
        ASSERT_TRUE(run(state, now, &emitter));
        const size_t draws = random.draws;
        const ts::ParticleSystemState before = state;
        for (int again = 0; again < 3; ++again) {
            ASSERT_FALSE(run(state, now, &emitter));
        }
        // No rate drawn, nothing emitted or moved.
        ASSERT_EQ(random.draws, draws);
        ASSERT_EQ(state.particles.size(), before.particles.size());
        ASSERT_EQ(std::memcmp(state.particles.const_pointer(), before.particles.const_pointer(),
                              state.particles.size() * sizeof(SParticle)),
                  0);
    }
    EXPECT_GT(state.particles.size(), 100u);
}

TEST(ParticleSystemUpdate, HoldsAtMost16250Particles) {
    SequenceRandom random;
    ts::ScopedRandomSource scoped(random);
    ts::CParticlePointEmitter emitter(settings(20000, 20000, 100000, 100000));
    ts::ParticleSystemState state;
    for (u32 now : {0u, 1000u, 2000u, 2001u}) {
        run(state, now, &emitter);
    }
    EXPECT_EQ(state.particles.size(), ts::MAX_PARTICLES_PER_SYSTEM);
    EXPECT_EQ(ts::MAX_PARTICLES_PER_SYSTEM * 4, 65000u);
}

TEST(ParticleSystemUpdate, WithoutEmitterParticlesMoveAgeAndLeaveInOrder) {
    ts::ParticleSystemState state;
    const u32 ends[] = {900, 300, 4000, 300, 2500, 1200};
    std::vector<SParticle> born;
    for (u32 i = 0; i < 6; ++i) {
        const vector3df pos(static_cast<f32>(i), 1, -2);
        const vector3df velocity(0.01f * i, -0.02f, 0.003f);
        born.push_back(SParticle{pos, velocity, 0, ends[i], SColor(i), SColor(i), velocity});
        state.particles.push_back(born.back());
    }
    // Irregular runs, and runs at every end time and just after: a particle
    // lives through its end time.
    SequenceRandom steps(4);
    const u32 start = 100;
    run(state, start, nullptr);
    std::set<u32> times;
    for (u32 now = start + 1; now < 4100; now += 1 + steps.next() % 97) {
        times.insert(now);
    }
    for (u32 end : ends) {
        times.insert({end, end + 1});
    }
    for (u32 now : times) {
        run(state, now, nullptr);
        size_t k = 0;
        for (const SParticle& b : born) {
            if (now > b.endTime) {
                continue;
            }
            ASSERT_LT(k, state.particles.size());
            const SParticle& p = state.particles[k++];
            ASSERT_EQ(p.color, b.color) << "order at " << now;
            ASSERT_TRUE(p.pos.equals(b.pos + b.vector * static_cast<f32>(now - start), 1e-3f));
            // The box holds every particle with half the larger size to spare.
            irr::core::aabbox3df inner = state.box;
            inner.MinEdge += vector3df(1.999f, 1.999f, 1.999f);
            inner.MaxEdge -= vector3df(1.999f, 1.999f, 1.999f);
            ASSERT_TRUE(inner.isPointInside(p.pos));
        }
        ASSERT_EQ(k, state.particles.size());
    }
    EXPECT_TRUE(state.particles.empty());
}

TEST(ParticleSystemUpdate, GlobalParticlesStartInWorldSpaceWithTheirStartVelocityTurned) {
    const vector3df direction(0.001f, 0, 0);
    for (const bool global : {true, false}) {
        for (const f32 scale : {1.0f, 2.0f}) {
            ts::CParticlePointEmitter emitter(settings(1, 1, 5000, 5000, direction));
            irr::core::matrix4 absolute;
            absolute.setRotationDegrees(vector3df(0, 90, 0));
            absolute.setTranslation(vector3df(10, 0, 0));
            absolute *= irr::core::matrix4().setScale(vector3df(scale, scale, scale));
            ts::ParticleSystemState state;
            run(state, 0, &emitter, absolute, global);
            run(state, 1001, &emitter, absolute, global);
            ASSERT_EQ(state.particles.size(), 1u);
            const SParticle& p = state.particles[0];
            // Emitted at the node's origin and moved 1001 ms at the unturned
            // velocity.
            EXPECT_TRUE(p.pos.equals((global ? vector3df(10, 0, 0) : vector3df()) + direction * 1001.0f));
            EXPECT_EQ(p.vector, direction);
            // A quarter turn about Y carries +X to -Z; the scale stays out.
            EXPECT_TRUE(p.startVector.equals(vector3df(0, 0, -0.001f)))
                << p.startVector.X << " " << p.startVector.Z;
            irr::core::aabbox3df world = state.box;
            absolute.transformBoxEx(world);
            vector3df inWorld = p.pos;
            if (!global) {
                absolute.transformVect(inWorld);
            }
            EXPECT_TRUE(world.isPointInside(inWorld)) << global << scale;
        }
    }
}

// The node on the null device, its time set by the test.
class ParticleNode : public testing::Test {
protected:
    void SetUp() override {
        device = irr::createDevice(irr::video::EDT_NULL);
        ASSERT_NE(device, nullptr);
        scene = device->getSceneManager();
        scene->addCameraSceneNode(nullptr, vector3df(0, 0, -60), vector3df());
        device->getTimer()->stop();
        device->getTimer()->setTime(0);
    }
    void TearDown() override {
        if (device != nullptr) {
            // The engine's virtual time is one per process.
            device->getTimer()->start();
            device->drop();
        }
    }
    // drawAll `draws` times at one time, returns the triangles of the last.
    u32 frame(u32 now, int draws) {
        device->getTimer()->setTime(now);
        for (int i = 0; i < draws; ++i) {
            device->getVideoDriver()->beginScene();
            scene->drawAll();
            device->getVideoDriver()->endScene();
        }
        return device->getVideoDriver()->getPrimitiveCountDrawn();
    }

    irr::IrrlichtDevice* device = nullptr;
    irr::scene::ISceneManager* scene = nullptr;
};

TEST_F(ParticleNode, SetEmitterKeepsTheAttachedOneAndRemovalDropsEverything) {
    ts::IParticleSystemSceneNode* node = ts::addParticleSystemSceneNode(scene, false);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->getReferenceCount(), 1);
    ts::IParticleEmitter* emitter = node->createSphereEmitter();
    ts::IParticleAffector* affector = node->createFadeOutParticleAffector();
    ASSERT_EQ(emitter->getReferenceCount(), 1);
    node->setEmitter(emitter);
    node->setEmitter(emitter);
    EXPECT_EQ(emitter->getReferenceCount(), 2);
    // The node holds the last reference: setting it again must keep it.
    emitter->drop();
    node->setEmitter(emitter);
    ASSERT_EQ(emitter->getReferenceCount(), 1);
    emitter->grab();
    node->setEmitter(nullptr);
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    node->setEmitter(emitter);

    node->addAffector(affector);
    node->addAffector(nullptr);
    EXPECT_EQ(affector->getReferenceCount(), 2);
    node->removeAllAffectors();
    EXPECT_EQ(affector->getReferenceCount(), 1);
    node->addAffector(affector);
    node->addAffector(affector);
    EXPECT_EQ(affector->getReferenceCount(), 3);
    frame(0, 1);
    frame(500, 1);

    node->remove();
    EXPECT_EQ(emitter->getReferenceCount(), 1);
    EXPECT_EQ(affector->getReferenceCount(), 1);
    emitter->drop();
    affector->drop();
}

// The game draws the scene four times a frame: the particles must come out
// as from one draw a frame, and every draw shows them all.
TEST_F(ParticleNode, FourDrawsAFrameEmitAndMoveAsOne) {
    std::vector<SParticle> results[2];
    for (int drawsPerFrame : {1, 4}) {
        SequenceRandom random(42);
        ts::ScopedRandomSource scoped(random);
        ts::IParticleSystemSceneNode* node = ts::addParticleSystemSceneNode(scene, false);
        ts::IParticleEmitter* emitter =
            node->createSphereEmitter(vector3df(), 5.0f, vector3df(0, 0.01f, 0), 10, 400,
                                      SColor(255, 0, 0, 0), SColor(255, 255, 255, 255), 500, 800);
        node->setEmitter(emitter);
        emitter->drop();
        ts::IParticleAffector* fade = node->createFadeOutParticleAffector();
        node->addAffector(fade);
        fade->drop();
        const auto& particles = static_cast<ts::CParticleSystemSceneNode*>(node)->getParticles();
        for (u32 now = 1000; now < 3000; now += 20) {
            const u32 triangles = frame(now, drawsPerFrame);
            ASSERT_EQ(triangles, 2 * particles.size()) << now;
        }
        ASSERT_GT(particles.size(), 20u);
        results[drawsPerFrame == 4].assign(particles.const_pointer(),
                                           particles.const_pointer() + particles.size());
        node->remove();
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(SParticle)), 0);
}

TEST_F(ParticleNode, DefaultEmitterEmitsOnlyWhileVisibleAndParticlesStillAge) {
    ts::IParticleSystemSceneNode* withDefault = ts::addParticleSystemSceneNode(scene, true);
    ts::IParticleSystemSceneNode* without = ts::addParticleSystemSceneNode(scene, false, nullptr, 7);
    EXPECT_EQ(without->getID(), 7);
    EXPECT_EQ(withDefault->getParent(), scene->getRootSceneNode());
    const auto& emitted = static_cast<ts::CParticleSystemSceneNode*>(withDefault)->getParticles();
    const auto& none = static_cast<ts::CParticleSystemSceneNode*>(without)->getParticles();
    u32 now = 0;
    for (; now <= 3000; now += 20) {
        frame(now, 1);
    }
    // 5 to 10 a second for 3 s, none dead before 2 s of life.
    EXPECT_GE(emitted.size(), 10u);
    EXPECT_LE(emitted.size(), 31u);
    EXPECT_TRUE(none.empty());
    withDefault->setVisible(false);
    u32 count = emitted.size();
    for (; now <= 7100; now += 20) {
        frame(now, 1);
        ASSERT_LE(emitted.size(), count);
        count = emitted.size();
    }
    EXPECT_TRUE(emitted.empty());
}

TEST_F(ParticleNode, BoxWidensByHalfTheParticleSizeAndRefusesNonFiniteSizes) {
    ts::IParticleSystemSceneNode* node =
        ts::addParticleSystemSceneNode(scene, false, nullptr, -1, vector3df(5, 0, 0));
    ts::IParticleEmitter* emitter = node->createPointEmitter(vector3df(), 10, 10);
    node->setEmitter(emitter);
    emitter->drop();
    node->setParticlesAreGlobal(false);
    node->setParticleSize(irr::core::dimension2df(2.0f, 6.0f));
    node->setParticleSize(irr::core::dimension2df(std::nanf(""), 1.0f));
    node->setParticleSize(irr::core::dimension2df(1.0f, INFINITY));
    for (u32 now = 0; now <= 1000; now += 20) {
        frame(now, 1);
    }
    // Every particle at the node's origin: the box is 3 out on each side.
    EXPECT_EQ(node->getBoundingBox(), irr::core::aabbox3df(-3, -3, -3, 3, 3, 3));
    EXPECT_EQ(node->getTransformedBoundingBox(), irr::core::aabbox3df(2, -3, -3, 8, 3, 3));
}

}  // namespace

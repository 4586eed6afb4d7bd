// A particle node at its limit of 16,250 live particles with a fade-out and a
// gravity affector, on the null driver: its per-frame rule, its quads, and a
// whole game frame (one run of the rule and four draws of the scene).
#include "client/engine/CParticleSystemSceneNode.h"

#include <benchmark/benchmark.h>

namespace {

namespace ts = tarnwell::scene;

class FullNode {
public:
    FullNode() {
        device = irr::createDevice(irr::video::EDT_NULL);
        scene = device->getSceneManager();
        scene->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, -150), irr::core::vector3df());
        device->getTimer()->stop();
        node = ts::addParticleSystemSceneNode(scene, false);
        node->setParticleSize(irr::core::dimension2df(2.0f, 2.0f));
        node->setMaterialType(irr::video::EMT_TRANSPARENT_ADD_COLOR);
        // Lives far longer than any run keep the node full.
        const irr::u32 life = 2000000000u;
        ts::IParticleEmitter* fill = node->createSphereEmitter(
            irr::core::vector3df(), 50.0f, irr::core::vector3df(0, 0.001f, 0), 1000000, 1000000,
            irr::video::SColor(255, 0, 10, 50), irr::video::SColor(255, 0, 30, 150), life, life);
        node->setEmitter(fill);
        fill->drop();
        // The first run only notes the time; the second fills the node.
        frame(0, 1);
        frame(20, 1);
        // Then the rate of a steady effect, whose batches the full node turns away.
        ts::IParticleEmitter* steady = node->createSphereEmitter(
            irr::core::vector3df(), 50.0f, irr::core::vector3df(0, 0.001f, 0), 800, 1600,
            irr::video::SColor(255, 0, 10, 50), irr::video::SColor(255, 0, 30, 150), life, life);
        node->setEmitter(steady);
        steady->drop();
        ts::IParticleAffector* fade = node->createFadeOutParticleAffector();
        node->addAffector(fade);
        fade->drop();
        ts::IParticleAffector* gravity =
            node->createGravityAffector(irr::core::vector3df(0, -0.001f, 0), 3000);
        node->addAffector(gravity);
        gravity->drop();
    }
    ~FullNode() {
        // The engine's virtual time is one per process.
        device->getTimer()->start();
        device->drop();
    }

    void frame(irr::u32 now, int draws) {
        device->getTimer()->setTime(now);
        for (int i = 0; i < draws; ++i) {
            device->getVideoDriver()->beginScene();
            scene->drawAll();
            device->getVideoDriver()->endScene();
        }
    }
    irr::u32 live() const { return static_cast<ts::CParticleSystemSceneNode*>(node)->getParticles().size(); }

    irr::IrrlichtDevice* device;
    irr::scene::ISceneManager* scene;
    ts::IParticleSystemSceneNode* node;
};

void BM_ParticleNodeUpdate(benchmark::State& state) {
    FullNode full;
    irr::u32 now = 40;
    for (auto _ : state) {
        full.node->OnAnimate(now += 20);
    }
    state.counters["particles"] = full.live();
}
BENCHMARK(BM_ParticleNodeUpdate)->Unit(benchmark::kMicrosecond);

void BM_ParticleNodeRender(benchmark::State& state) {
    FullNode full;
    full.frame(40, 1);
    for (auto _ : state) {
        full.node->render();
    }
    state.counters["particles"] = full.live();
}
BENCHMARK(BM_ParticleNodeRender)->Unit(benchmark::kMicrosecond);

// The game draws its scene four times a frame: the rule runs in the first.
void BM_ParticleNodeGameFrame(benchmark::State& state) {
    FullNode full;
    irr::u32 now = 40;
    for (auto _ : state) {
        full.frame(now += 20, 4);
    }
    state.counters["particles"] = full.live();
}
BENCHMARK(BM_ParticleNodeGameFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

// The effects manager under a fight's load on the null driver: ten bubble
// trails on moving carriers, twenty impacts kept alive (new ones replace the
// retired), the 300 floating particles around the player. Its update alone,
// and a frame of it with the scene drawn (particle nodes and billboards).
#include "client/constants.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/resourcehandler.h"
#include "client/ship.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using irr::core::vector3df;

class FightEffects {
public:
    FightEffects() {
        // "media/..." resolves to this build's generated tree.
        if (chdir(TARNWELL_BINARY_DIR) != 0) {
            std::abort();
        }
        irr::SIrrlichtCreationParameters params;
        params.DriverType = irr::video::EDT_NULL;
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
        globals.device = device;
        globals.driver = device->getVideoDriver();
        globals.sceneManager = device->getSceneManager();
        timer = device->getTimer();
        timer->stop();
        timer->setTime(0);
        clock = std::make_unique<EngineClock>(timer);
        globals.clock = clock.get();
        // The null driver stops the load at the render targets, after the
        // meshes and textures.
        resources = std::make_unique<ResourceHandler>();
        resources->loadAll();
        globals.resources = resources.get();
        globals.sceneManager->addCameraSceneNode(nullptr, vector3df(2560, -3780, 3700),
                                                 vector3df(2560, -3780, 3760));

        effects = std::make_unique<ParticleSystem>(resources.get());
        globals.particleSystem = effects.get();
        player = std::make_unique<Ship>(false, "Scout", L"SX271", L"Scout", vector3df(2560, -3780, 3760),
                                        vector3df(0, 30, 0), vector3df(6, 3, 10), 10.0f, 0.5f,
                                        SCOUT_ANGULAR_DAMPING, ShipTuning(), -1);
        globals.playerShip = player.get();
        effects->addCameraParticles();
        for (int i = 0; i < 10; ++i) {
            irr::scene::ISceneNode* carrier = globals.sceneManager->addEmptySceneNode();
            carrier->setPosition(vector3df(2500.0f + 12.0f * i, -3780, 3800));
            carriers.push_back(carrier);
            effects->addShipBubbleTrail(vector3df(1.5f, 0, -4), carrier);
        }
    }
    ~FightEffects() {
        effects.reset();
        player.reset();
        globals = GameGlobals{};
        resources.reset();
        // The engine's virtual time is one per process.
        timer->start();
        clock.reset();
        device->drop();
    }

    // One 20 ms frame of the effects: carriers move, retired impacts are
    // replaced, the records age.
    void frame() {
        now += 20;
        timer->setTime(now);
        for (size_t i = 0; i < carriers.size(); ++i) {
            carriers[i]->setPosition(carriers[i]->getPosition() + vector3df(0, 0, 0.3f));
        }
        size_t impacts = 0;
        for (const ParticleEffect* effect : effects->getEffects()) {
            impacts += effect->duration > 0 ? 1 : 0;
        }
        for (; impacts < 20; ++impacts) {
            const vector3df at(2540.0f + float(now % 40), -3790, 3790.0f + float(impacts));
            if (impacts % 2 == 0) {
                effects->addBlueImpact(at);
            } else {
                effects->addFireImpact(at);
            }
        }
        effects->update(0.02f);
    }
    // The scene's part of the frame: the particle nodes run and draw, the
    // engine deletes what its animators say.
    void draw() {
        globals.driver->beginScene(true, true, irr::video::SColor(0));
        globals.sceneManager->drawAll();
        globals.driver->endScene();
    }
    size_t records() const { return effects->getEffects().size(); }

private:
    irr::IrrlichtDevice* device;
    irr::ITimer* timer;
    std::unique_ptr<EngineClock> clock;
    std::unique_ptr<ResourceHandler> resources;
    std::unique_ptr<ParticleSystem> effects;
    std::unique_ptr<Ship> player;
    std::vector<irr::scene::ISceneNode*> carriers;
    irr::u32 now = 0;
};

void BM_EffectsUpdate(benchmark::State& state) {
    FightEffects fight;
    for (int i = 0; i < 100; ++i) {
        fight.frame();
        fight.draw();
    }
    for (auto _ : state) {
        fight.frame();
        state.PauseTiming();
        fight.draw();
        state.ResumeTiming();
    }
    state.counters["records"] = double(fight.records());
}
BENCHMARK(BM_EffectsUpdate)->Unit(benchmark::kMicrosecond);

void BM_EffectsFrameWithScene(benchmark::State& state) {
    FightEffects fight;
    for (int i = 0; i < 100; ++i) {
        fight.frame();
        fight.draw();
    }
    for (auto _ : state) {
        fight.frame();
        fight.draw();
    }
    state.counters["records"] = double(fight.records());
}
BENCHMARK(BM_EffectsFrameWithScene)->Unit(benchmark::kMicrosecond);

}  // namespace

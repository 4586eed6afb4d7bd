// The HUD over the game's opening scene (the four ships, the station, the
// target and a tracked torpedo): its two per-frame drawing passes on the
// null driver and on OpenGL (under a virtual display; skipped without one),
// and on OpenGL the three views that render the scene into textures. The
// aim for the HUD's own work, the two drawing passes and update3D without
// its drawAll, is under 1 ms a frame.
#include "HudScene.h"

#include "client/camera.h"
#include "client/globals.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/torpedo.h"
#include "platform/sound/fsound.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

// A device of the given driver published in globals, run from the build
// folder so that "media/..." is the generated tree, with the resources
// loaded (the null driver stops at the render targets) and the scene built.
class HudBench {
public:
    explicit HudBench(irr::video::E_DRIVER_TYPE type) {
        if (chdir(TARNWELL_BINARY_DIR) != 0) {
            std::abort();
        }
        irr::SIrrlichtCreationParameters params;
        params.DriverType = type;
        params.WindowSize = irr::core::dimension2d<irr::u32>(1024, 768);
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
        // A virtual display now and then refuses a connection right after
        // the previous window closed.
        for (int attempt = 1; device == nullptr && type == irr::video::EDT_OPENGL && attempt < 10;
             ++attempt) {
            usleep(100000);
            device = irr::createDeviceEx(params);
        }
        if (device == nullptr) {
            return;
        }
        globals.device = device;
        globals.driver = device->getVideoDriver();
        globals.sceneManager = device->getSceneManager();
        globals.gui = device->getGUIEnvironment();
        FSOUND_Init(44100, 32, 0);
        resources = std::make_unique<ResourceHandler>();
        globals.resources = resources.get();
        resources->loadAll();
        scene = std::make_unique<clienttest::HudScene>(irr::core::dimension2d<irr::u32>(1024, 768));
        scene->enemies[1]->setTargeted(true);
        scene->launchTorpedo(scene->enemies[0]);
        scene->frame();
        globals.driver->beginScene(true, true, globals.clearColor);
    }
    ~HudBench() {
        if (device == nullptr) {
            return;
        }
        globals.driver->endScene();
        scene.reset();
        resources.reset();
        FSOUND_Close();
        globals = GameGlobals{};
        device->closeDevice();
        device->run();
        device->drop();
    }
    bool ok(benchmark::State& state) const {
        if (device == nullptr) {
            state.SkipWithError("no device (OpenGL needs a display)");
        }
        return device != nullptr;
    }

    irr::IrrlichtDevice* device = nullptr;
    std::unique_ptr<ResourceHandler> resources;
    std::unique_ptr<clienttest::HudScene> scene;
};

void BM_HudDraw(benchmark::State& state) {
    HudBench bench(static_cast<irr::video::E_DRIVER_TYPE>(state.range(0)));
    if (!bench.ok(state)) {
        return;
    }
    for (auto _ : state) {
        bench.scene->hud().draw();
    }
}
BENCHMARK(BM_HudDraw)->Arg(irr::video::EDT_NULL)->Arg(irr::video::EDT_OPENGL)->Unit(benchmark::kMicrosecond);

void BM_HudDrawTargetAndRadar(benchmark::State& state) {
    HudBench bench(static_cast<irr::video::E_DRIVER_TYPE>(state.range(0)));
    if (!bench.ok(state)) {
        return;
    }
    for (auto _ : state) {
        bench.scene->hud().drawTargetAndRadar();
    }
}
BENCHMARK(BM_HudDrawTargetAndRadar)
    ->Arg(irr::video::EDT_NULL)
    ->Arg(irr::video::EDT_OPENGL)
    ->Unit(benchmark::kMicrosecond);

// The views on OpenGL: each is one more drawAll of the whole scene into a
// texture. The torpedo's stand-in has no camera of its own yet, so its view
// is measured as the drawAll it will be: the close camera at the torpedo
// into texture 10.
void BM_HudTorpedoView(benchmark::State& state) {
    HudBench bench(irr::video::EDT_OPENGL);
    if (!bench.ok(state)) {
        return;
    }
    irr::scene::ICameraSceneNode* camera = globals.closeCamera->getNode();
    camera->setPosition(globals.trackedTorpedo->getPosition());
    camera->setTarget(globals.trackedTorpedo->getPosition() + irr::core::vector3df(0, 0, 100));
    camera->setFarValue(250.0f);
    for (auto _ : state) {
        if (globals.trackedTorpedo->getCamera() != nullptr) {
            bench.scene->hud().renderTorpedoView();
            continue;
        }
        globals.driver->setRenderTarget(globals.resources->getTexture(TEXTURE_TORPEDO_CAM), true, true,
                                        globals.clearColor);
        globals.sceneManager->setActiveCamera(camera);
        globals.sceneManager->drawAll();
        globals.driver->setRenderTarget(nullptr, true, true, globals.clearColor);
        globals.sceneManager->setActiveCamera(globals.mainCamera->getNode());
    }
}
BENCHMARK(BM_HudTorpedoView)->Unit(benchmark::kMicrosecond);

void BM_HudUpdate3D(benchmark::State& state) {
    HudBench bench(irr::video::EDT_OPENGL);
    if (!bench.ok(state)) {
        return;
    }
    for (auto _ : state) {
        bench.scene->hud().update3D();
    }
}
BENCHMARK(BM_HudUpdate3D)->Unit(benchmark::kMicrosecond);

void BM_HudTargetView(benchmark::State& state) {
    HudBench bench(irr::video::EDT_OPENGL);
    if (!bench.ok(state)) {
        return;
    }
    for (auto _ : state) {
        bench.scene->hud().renderTargetView();
    }
}
BENCHMARK(BM_HudTargetView)->Unit(benchmark::kMicrosecond);

// What update3D costs beyond its drawAll: the same drawAll from the sonar
// camera into texture 11, without the columns.
void BM_HudSonarDrawAllAlone(benchmark::State& state) {
    HudBench bench(irr::video::EDT_OPENGL);
    if (!bench.ok(state)) {
        return;
    }
    bench.scene->hud().update3D();  // places the sonar camera
    for (auto _ : state) {
        globals.driver->setRenderTarget(globals.resources->getTexture(TEXTURE_SONAR_CAM), true, true,
                                        irr::video::SColor(255, 0, 0, 0));
        globals.sceneManager->setActiveCamera(globals.sonarCamera->getNode());
        globals.sceneManager->drawAll();
        globals.driver->setRenderTarget(nullptr, true, true, globals.clearColor);
        globals.sceneManager->setActiveCamera(globals.mainCamera->getNode());
    }
}
BENCHMARK(BM_HudSonarDrawAllAlone)->Unit(benchmark::kMicrosecond);

}  // namespace

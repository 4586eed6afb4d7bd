// Grass: the game and the menu each grow 25 patches on every entry, and a
// frame rebuilds the quads of the near patches every 50 ms and draws them.
#include "client/engine/CGrassPatchSceneNode.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace gs = tarnwell::scene;
using irr::core::vector3df;

// Rolling ground of the game's 257 x 257 samples, 20 apart.
class RollingHeights : public gs::IHeightSource {
public:
    irr::f32 getHeight(const vector3df& p) override {
        return -4000.0f + 300.0f * std::sin(p.X * 0.003f) * std::cos(p.Z * 0.002f);
    }
    irr::s32 getSize() const override { return 257; }
};

class SlowTide : public gs::ITideGenerator {
public:
    void setAmplitude(irr::f32) override {}
    void setWaveLength(irr::f32) override {}
    irr::core::vector2df getOffset(const vector3df& p, irr::u32 timeMs) override {
        const irr::f32 s = (static_cast<irr::f32>(timeMs) + p.X * 7.0f) / 1000.0f;
        return irr::core::vector2df(8.0f * std::sin(s), 8.0f * std::cos(s * 0.7f));
    }
};

// A device, run from the build folder (no grass files there, so every
// patch grows), with a stopped clock and a main camera.
struct Engine {
    explicit Engine(irr::video::E_DRIVER_TYPE type) {
        if (chdir(TARNWELL_BINARY_DIR) != 0) {
            std::abort();
        }
        irr::SIrrlichtCreationParameters params;
        params.DriverType = type;
        params.WindowSize = irr::core::dimension2d<irr::u32>(1024, 768);
        params.LoggingLevel = irr::ELL_NONE;
        device = irr::createDeviceEx(params);
        if (device == nullptr) {
            return;
        }
        scene = device->getSceneManager();
        driver = device->getVideoDriver();
        device->getTimer()->stop();
        camera = scene->addCameraSceneNode(nullptr, vector3df(0, 0, 0), vector3df(0, 0, 1), -1);
        camera->setFarValue(12000.0f);
        terrain = scene->addEmptySceneNode();
        terrain->setScale(vector3df(20.0f, 0.25f, 20.0f));
    }
    ~Engine() {
        if (device != nullptr) {
            device->drop();
        }
    }
    // The game's 25 patches; the scene holds them.
    std::vector<irr::scene::ISceneNode*> addGamePatches(gs::ITideGenerator* tide) {
        std::vector<irr::scene::ISceneNode*> patches;
        for (irr::s32 i = 0; i < 5; ++i) {
            for (irr::s32 j = 0; j < 5; ++j) {
                gs::CGrassPatchSceneNode* patch = new gs::CGrassPatchSceneNode(
                    false, scene->getRootSceneNode(), scene, -1, irr::core::vector3d<irr::s32>(i, 0, j),
                    "grass", &heights, nullptr, nullptr, terrain, 0.0f, tide);
                patch->setMaterialType(irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
                patch->setMaterialFlag(irr::video::EMF_LIGHTING, false);
                patch->drop();
                patches.push_back(patch);
            }
        }
        return patches;
    }
    void frame(irr::u32 timeMs) {
        device->getTimer()->setTime(timeMs);
        driver->beginScene();
        scene->drawAll();
        driver->endScene();
    }

    irr::IrrlichtDevice* device = nullptr;
    irr::scene::ISceneManager* scene = nullptr;
    irr::video::IVideoDriver* driver = nullptr;
    irr::scene::ICameraSceneNode* camera = nullptr;
    irr::scene::ISceneNode* terrain = nullptr;
    RollingHeights heights;
};

void BM_GrassGrowGamePatches(benchmark::State& state) {
    Engine engine(irr::video::EDT_NULL);
    for (auto _ : state) {
        const std::vector<irr::scene::ISceneNode*> patches = engine.addGamePatches(nullptr);
        state.PauseTiming();
        for (irr::scene::ISceneNode* patch : patches) {
            patch->remove();
        }
        state.ResumeTiming();
    }
    state.SetLabel("25 patches");
}
BENCHMARK(BM_GrassGrowGamePatches)->Unit(benchmark::kMillisecond);

void BM_GrassGrowMenuPatches(benchmark::State& state) {
    Engine engine(irr::video::EDT_NULL);
    irr::video::IImage* image = engine.driver->createImageFromFile("media/terrain/t33x33.jpg");
    irr::scene::ITerrainSceneNode* terrain =
        engine.scene->addTerrainSceneNode("media/terrain/t33x33.jpg", nullptr, -1, vector3df(0, 0, 0),
                                          vector3df(0, 0, 0), vector3df(80, 5, 80));
    if (image == nullptr || terrain == nullptr) {
        state.SkipWithError("no menu terrain: build the media target");
        return;
    }
    std::vector<gs::CGrassPatchSceneNode*> patches;
    for (auto _ : state) {
        for (irr::s32 i = 0; i < 5; ++i) {
            for (irr::s32 j = 0; j < 5; ++j) {
                patches.push_back(new gs::CGrassPatchSceneNode(
                    false, nullptr, engine.scene, -1, irr::core::vector3d<irr::s32>(i, 0, j), "grass", image,
                    image, image, terrain, 0.0f, nullptr));
            }
        }
        state.PauseTiming();
        for (gs::CGrassPatchSceneNode* patch : patches) {
            patch->drop();
        }
        patches.clear();
        state.ResumeTiming();
    }
    image->drop();
    state.SetLabel("25 patches");
}
BENCHMARK(BM_GrassGrowMenuPatches)->Unit(benchmark::kMillisecond);

// One frame of the game's grass, the camera low over the middle patch
// looking along the floor: range(0) = 1 rebuilds the near patches' quads
// (as every 50 ms), 0 draws the cached quads.
void grassFrames(benchmark::State& state, irr::video::E_DRIVER_TYPE type) {
    Engine engine(type);
    if (engine.device == nullptr) {
        state.SkipWithError("no display");
        return;
    }
    SlowTide tide;
    engine.addGamePatches(&tide);
    const vector3df eye(2048.0f, -3600.0f, 1700.0f);
    engine.camera->setPosition(eye);
    engine.camera->setTarget(eye + vector3df(0.0f, -200.0f, 1000.0f));
    const bool rebuild = state.range(0) == 1;
    irr::u32 time = 1000;
    engine.frame(time);
    for (auto _ : state) {
        time += rebuild ? 60 : 0;
        engine.frame(time);
    }
    state.counters["primitives"] = static_cast<double>(engine.driver->getPrimitiveCountDrawn());
}

void BM_GrassFrameNull(benchmark::State& state) {
    grassFrames(state, irr::video::EDT_NULL);
}
BENCHMARK(BM_GrassFrameNull)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_GrassFrameOpenGl(benchmark::State& state) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        state.SkipWithError("no display");
        return;
    }
    grassFrames(state, irr::video::EDT_OPENGL);
}
BENCHMARK(BM_GrassFrameOpenGl)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

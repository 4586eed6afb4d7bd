// Start-up costs of the media: generating the tree, loading every resource
// the null driver can take, and the largest mesh alone.
#include "client/globals.h"
#include "client/resourcehandler.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// The null device published in the global block, run from the build folder
// so that "media/..." resolves to the generated tree.
struct NullEngine {
    NullEngine() {
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
        globals.gui = device->getGUIEnvironment();
    }
    ~NullEngine() {
        globals = GameGlobals{};
        device->drop();
    }
    irr::IrrlichtDevice* device;
};

void BM_GenerateMedia(benchmark::State& state) {
    const std::string command = std::string(MKMEDIA_PATH) + " /tmp/tarnwell-bench-media";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("mkmedia failed");
            break;
        }
    }
    std::system("rm -rf /tmp/tarnwell-bench-media");
}
BENCHMARK(BM_GenerateMedia)->Unit(benchmark::kMillisecond)->Iterations(3);

// Stops at the render targets, which the null driver cannot make: every mesh
// and texture is in by then.
void BM_LoadAllNullDriver(benchmark::State& state) {
    for (auto _ : state) {
        NullEngine engine;
        ResourceHandler resources;
        benchmark::DoNotOptimize(resources.loadAll());
    }
}
BENCHMARK(BM_LoadAllNullDriver)->Unit(benchmark::kMillisecond);

void BM_LoadStationMesh(benchmark::State& state) {
    NullEngine engine;
    irr::scene::ISceneManager* scene = globals.sceneManager;
    for (auto _ : state) {
        irr::scene::IAnimatedMesh* mesh = scene->getMesh("media/mesh/station1/station_01.x");
        benchmark::DoNotOptimize(mesh);
        scene->getMeshCache()->removeMesh(mesh);
    }
}
BENCHMARK(BM_LoadStationMesh)->Unit(benchmark::kMillisecond);

}  // namespace

// The level body is built once per game, while the loading text shows: the
// generated 257 x 257 sea floor, 131,072 triangles, from the terrain node's
// level-0 buffer to the tree collision and the world box. Under a second is
// the aim.
#include "client/constants.h"
#include "client/globals.h"
#include "client/object.h"
#include "client/physics.h"
#include "client/engine/RawTerrain.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>

namespace {

void BM_LevelBodyFromTheGameTerrain(benchmark::State& state) {
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    if (device == nullptr) {
        state.SkipWithError("no null device");
        return;
    }
    device->getLogger()->setLogLevel(irr::ELL_NONE);
    globals.terrainNode = tarnwell::scene::addRawTerrainSceneNode(
        device->getSceneManager(), TARNWELL_BINARY_DIR "/media/terrain/map257x257.raw", nullptr, -1,
        TERRAIN_POSITION, irr::core::vector3df(0.0f, 0.0f, 0.0f),
        irr::core::vector3df(TERRAIN_SCALE_XZ, TERRAIN_SCALE_Y, TERRAIN_SCALE_XZ),
        irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
    if (globals.terrainNode == nullptr) {
        state.SkipWithError("no generated height map");
        device->drop();
        return;
    }
    Object terrain(OBJECT_LEVEL, "Terrain", irr::core::vector3df(1.0f, 1.0f, 1.0f));
    for (auto _ : state) {
        state.PauseTiming();
        auto* physics = new Physics();
        physics->init();
        state.ResumeTiming();
        benchmark::DoNotOptimize(physics->createLevelBody(&terrain));
        state.PauseTiming();
        delete physics;
        state.ResumeTiming();
    }
    globals.terrainNode = nullptr;
    device->drop();
}
BENCHMARK(BM_LevelBodyFromTheGameTerrain)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

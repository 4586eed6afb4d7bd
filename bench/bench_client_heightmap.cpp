// The grass growth asks the height map once per blade, up to 50000 blades a
// patch and 25 patches at a game's start; the HUD asks several times a frame.
#include "client/heightmap.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr int32_t kQueries = 1000000;

// A million queries at points that change every time (no cache hits), on
// the map and around its edges.
void BM_HeightMapMillionQueries(benchmark::State& state) {
    HeightMap map(TARNWELL_BINARY_DIR "/media/terrain/map257x257.raw", 16);
    if (map.getSize() != 257) {
        state.SkipWithError("no generated height map");
        return;
    }
    std::mt19937 random(146);
    std::uniform_real_distribution<float> coordinate(-100.0f, 5220.0f);
    std::vector<irr::core::vector3df> points(4096);
    for (irr::core::vector3df& p : points) {
        p = irr::core::vector3df(coordinate(random), 0.0f, coordinate(random));
    }
    for (auto _ : state) {
        float sum = 0.0f;
        for (int32_t n = 0; n < kQueries; ++n) {
            sum += map.getHeight(points[static_cast<size_t>(n) & 4095]);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kQueries);
}
BENCHMARK(BM_HeightMapMillionQueries)->Unit(benchmark::kMillisecond);

}  // namespace

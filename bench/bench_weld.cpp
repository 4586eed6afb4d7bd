// Welding the shared corners of a triangulated grid: every grid point appears
// in up to six triangles, each copy jittered well inside the tolerance.
#include "dgWeld.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct WeldVertex {
    float x, y, z;
    float u, v;
};

std::vector<WeldVertex> gridTriangleSoup(int32_t vertexCount) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> jitter(-0.0002f, 0.0002f);
    std::vector<WeldVertex> soup;
    soup.reserve(size_t(vertexCount));
    const int32_t side = 1024;
    for (int32_t cell = 0; int32_t(soup.size()) < vertexCount; cell++) {
        const int32_t i = cell % side;
        const int32_t j = cell / side;
        const int32_t corners[6][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}};
        for (const auto& corner : corners) {
            if (int32_t(soup.size()) == vertexCount) {
                break;
            }
            const float x = float(i + corner[0]) * 0.1f;
            const float z = float(j + corner[1]) * 0.1f;
            const float y = 0.5f * float((i + corner[0]) % 7) - 0.3f * float((j + corner[1]) % 5);
            soup.push_back({x + jitter(rng), y + jitter(rng), z + jitter(rng), x, z});
        }
    }
    return soup;
}

void BM_WeldTriangleSoup(benchmark::State& state) {
    const int32_t count = int32_t(state.range(0));
    const std::vector<WeldVertex> pristine = gridTriangleSoup(count);
    std::vector<WeldVertex> vertices;
    std::vector<int32_t> indices(static_cast<size_t>(count));
    int32_t unique = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vertices = pristine;
        state.ResumeTiming();
        unique = dgWeldVertices(vertices.data(), sizeof(WeldVertex), 12, 0, count, indices.data(), 0.001f);
        benchmark::DoNotOptimize(unique);
    }
    state.counters["unique"] = double(unique);
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
}

BENCHMARK(BM_WeldTriangleSoup)->Arg(10000)->Arg(98304)->Arg(150000)->Unit(benchmark::kMillisecond);

}  // namespace

// Half-edge mesh on a 100 x 100 grid (20,000 triangles): building, and
// triangulating the same grid given as quads.
#include <benchmark/benchmark.h>

#include "dgEdgeMesh.h"

#include <cmath>
#include <vector>

namespace {

const int32_t kGrid = 100;

struct GridVertex {
    float x, y, z;
};

std::vector<GridVertex> gridVertices() {
    std::vector<GridVertex> v;
    for (int32_t j = 0; j <= kGrid; ++j) {
        for (int32_t i = 0; i <= kGrid; ++i) {
            v.push_back({float(i), 0.25f * std::sin(0.2f * float(i)) * std::cos(0.3f * float(j)), float(j)});
        }
    }
    return v;
}

int32_t gridCorner(int32_t i, int32_t j) {
    return j * (kGrid + 1) + i;
}

void addGridTriangles(dgEdgeMesh& mesh) {
    mesh.dgEdgeMeshBeginFace();
    for (int32_t j = 0; j < kGrid; ++j) {
        for (int32_t i = 0; i < kGrid; ++i) {
            const int32_t a = gridCorner(i, j);
            const int32_t b = gridCorner(i, j + 1);
            const int32_t c = gridCorner(i + 1, j + 1);
            const int32_t d = gridCorner(i + 1, j);
            mesh.dgEdgeMeshAddTriangle(a, b, c);
            mesh.dgEdgeMeshAddTriangle(a, c, d);
        }
    }
    mesh.dgEdgeMeshEndFace();
}

void addGridQuads(dgEdgeMesh& mesh) {
    mesh.dgEdgeMeshBeginFace();
    for (int32_t j = 0; j < kGrid; ++j) {
        for (int32_t i = 0; i < kGrid; ++i) {
            const int32_t f[4] = {gridCorner(i, j), gridCorner(i, j + 1), gridCorner(i + 1, j + 1),
                                  gridCorner(i + 1, j)};
            mesh.dgEdgeMeshAddFace(4, f);
        }
    }
    mesh.dgEdgeMeshEndFace();
}

void BM_EdgeMeshBuildGrid(benchmark::State& state) {
    for (auto _ : state) {
        dgEdgeMesh mesh;
        addGridTriangles(mesh);
        benchmark::DoNotOptimize(mesh.getEdgeCount());
    }
    state.SetItemsProcessed(state.iterations() * 2 * kGrid * kGrid);
}
BENCHMARK(BM_EdgeMeshBuildGrid)->Unit(benchmark::kMillisecond);

void BM_EdgeMeshTriangulateGrid(benchmark::State& state) {
    const std::vector<GridVertex> v = gridVertices();
    for (auto _ : state) {
        state.PauseTiming();
        dgEdgeMesh mesh;
        addGridQuads(mesh);
        state.ResumeTiming();
        mesh.dgEdgeMeshTriangulate(&v[0].x, sizeof(GridVertex), nullptr);
        benchmark::DoNotOptimize(mesh.getEdgeCount());
        state.PauseTiming();
        mesh.dgEdgeMeshClear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kGrid * kGrid);
}
BENCHMARK(BM_EdgeMeshTriangulateGrid)->Unit(benchmark::kMillisecond);

void BM_EdgeMeshCopyGrid(benchmark::State& state) {
    dgEdgeMesh mesh;
    addGridTriangles(mesh);
    for (auto _ : state) {
        dgEdgeMesh copy(mesh);
        benchmark::DoNotOptimize(copy.getEdgeCount());
    }
    state.SetItemsProcessed(state.iterations() * 2 * kGrid * kGrid);
}
BENCHMARK(BM_EdgeMeshCopyGrid)->Unit(benchmark::kMillisecond);

// --- simplification and optimisation of the grid (added with those passes) ---
// --- end ---

}  // namespace

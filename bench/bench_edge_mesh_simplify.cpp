// Optimisation of a 100 x 100 grid (20,000 triangles): the whole driver as
// the polygon-soup builder runs it, and the quadric simplification alone, on
// a flat patch and on a rolling terrain patch far from the origin.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "dgEdgeMesh.h"

namespace {

constexpr int kCells = 100;

// (kCells + 1)^2 vertices, x, y, z packed; heights from a gentle wave when
// rolling, so that only part of the grid simplifies away.
std::vector<float> makeGridVertices(bool rolling) {
    std::vector<float> vertices;
    vertices.reserve(3 * (kCells + 1) * (kCells + 1));
    const float origin = rolling ? 3000.0f : 0.0f;
    for (int j = 0; j <= kCells; ++j) {
        for (int i = 0; i <= kCells; ++i) {
            vertices.push_back(origin + float(i));
            vertices.push_back(origin + float(j));
            vertices.push_back(rolling ? 2.0f * std::sin(0.15f * float(i)) * std::cos(0.1f * float(j))
                                       : 0.0f);
        }
    }
    return vertices;
}

void buildGrid(dgEdgeMesh& mesh) {
    auto id = [](int i, int j) { return j * (kCells + 1) + i; };
    mesh.dgEdgeMeshBeginFace();
    for (int j = 0; j < kCells; ++j) {
        for (int i = 0; i < kCells; ++i) {
            mesh.dgEdgeMeshAddTriangle(id(i, j), id(i + 1, j), id(i + 1, j + 1));
            mesh.dgEdgeMeshAddTriangle(id(i, j), id(i + 1, j + 1), id(i, j + 1));
        }
    }
    mesh.dgEdgeMeshEndFace();
}

void BM_EdgeMeshOptimizeGrid(benchmark::State& state) {
    const std::vector<float> vertices = makeGridVertices(state.range(0) != 0);
    int32_t faces = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dgEdgeMesh mesh;
        buildGrid(mesh);
        state.ResumeTiming();
        mesh.dgEdgeMeshOptimize(vertices.data(), 12, nullptr);
        state.PauseTiming();
        faces = mesh.dgEdgeMeshFaceCount();
        benchmark::DoNotOptimize(faces);
        state.ResumeTiming();
    }
    state.counters["faces after"] = double(faces);
    state.SetItemsProcessed(state.iterations() * 2 * kCells * kCells);
}
BENCHMARK(BM_EdgeMeshOptimizeGrid)->Arg(0)->Arg(1)->ArgName("rolling")->Unit(benchmark::kMillisecond);

void BM_EdgeMeshSimplifyGrid(benchmark::State& state) {
    const std::vector<float> vertices = makeGridVertices(state.range(0) != 0);
    int32_t edges = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dgEdgeMesh mesh;
        buildGrid(mesh);
        state.ResumeTiming();
        mesh.dgEdgeMeshSimplify(vertices.data(), 12, 0.001f);
        edges = mesh.getEdgeCount();
        benchmark::DoNotOptimize(edges);
    }
    state.counters["half-edges after"] = double(edges);
    state.SetItemsProcessed(state.iterations() * 2 * kCells * kCells);
}
BENCHMARK(BM_EdgeMeshSimplifyGrid)->Arg(0)->Arg(1)->ArgName("rolling")->Unit(benchmark::kMillisecond);

}  // namespace

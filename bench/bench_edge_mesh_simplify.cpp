// Optimisation of a grid of 100 x 100 cells (20,000 triangles) and of the
// game terrain's 256 x 256 (131,072): the whole driver as the polygon-soup
// builder runs it, and the quadric simplification alone, on a flat patch and
// on a rolling terrain patch far from the origin. The optimisation also
// reports the share of the grid's area its faces still cover (1 when none
// is lost).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "dgEdgeMesh.h"

namespace {

// (cells + 1)^2 vertices, x, y, z packed; heights from a gentle wave when
// rolling, so that only part of the grid simplifies away.
std::vector<float> makeGridVertices(int cells, bool rolling) {
    std::vector<float> vertices;
    vertices.reserve(size_t(3 * (cells + 1) * (cells + 1)));
    const float origin = rolling ? 3000.0f : 0.0f;
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            vertices.push_back(origin + float(i));
            vertices.push_back(origin + float(j));
            vertices.push_back(rolling ? 2.0f * std::sin(0.15f * float(i)) * std::cos(0.1f * float(j))
                                       : 0.0f);
        }
    }
    return vertices;
}

void buildGrid(dgEdgeMesh& mesh, int cells) {
    auto id = [cells](int i, int j) { return j * (cells + 1) + i; };
    mesh.dgEdgeMeshBeginFace();
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            mesh.dgEdgeMeshAddTriangle(id(i, j), id(i + 1, j), id(i + 1, j + 1));
            mesh.dgEdgeMeshAddTriangle(id(i, j), id(i + 1, j + 1), id(i, j + 1));
        }
    }
    mesh.dgEdgeMeshEndFace();
}

// Sum of the face areas, each face once.
double faceArea(dgEdgeMesh& mesh, const std::vector<float>& vertices) {
    double area = 0.0;
    const uint32_t stamp = mesh.newStamp();
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if ((edge->m_faceId <= 0) || (edge->m_stamp == stamp)) {
            continue;
        }
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr != edge);
        const dgVector64 n = mesh.dgEdgeMeshFaceNormal64(edge, vertices.data(), 3);
        area += 0.5 * std::sqrt(n.dot(n));
    }
    return area;
}

void BM_EdgeMeshOptimizeGrid(benchmark::State& state) {
    const int cells = int(state.range(1));
    const std::vector<float> vertices = makeGridVertices(cells, state.range(0) != 0);
    int32_t faces = 0;
    double kept = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        dgEdgeMesh mesh;
        buildGrid(mesh, cells);
        const double before = faceArea(mesh, vertices);
        state.ResumeTiming();
        mesh.dgEdgeMeshOptimize(vertices.data(), 12, nullptr);
        state.PauseTiming();
        faces = mesh.dgEdgeMeshFaceCount();
        kept = faceArea(mesh, vertices) / before;
        benchmark::DoNotOptimize(faces);
        state.ResumeTiming();
    }
    state.counters["faces after"] = double(faces);
    state.counters["area kept"] = kept;
    state.SetItemsProcessed(state.iterations() * 2 * cells * cells);
}
BENCHMARK(BM_EdgeMeshOptimizeGrid)
    ->Args({0, 100})
    ->Args({1, 100})
    ->Args({0, 256})
    ->Args({1, 256})
    ->ArgNames({"rolling", "cells"})
    ->Unit(benchmark::kMillisecond);

void BM_EdgeMeshSimplifyGrid(benchmark::State& state) {
    const int cells = 100;
    const std::vector<float> vertices = makeGridVertices(cells, state.range(0) != 0);
    int32_t edges = 0;
    for (auto _ : state) {
        state.PauseTiming();
        dgEdgeMesh mesh;
        buildGrid(mesh, cells);
        state.ResumeTiming();
        mesh.dgEdgeMeshSimplify(vertices.data(), 12, 0.001f);
        edges = mesh.getEdgeCount();
        benchmark::DoNotOptimize(edges);
    }
    state.counters["half-edges after"] = double(edges);
    state.SetItemsProcessed(state.iterations() * 2 * cells * cells);
}
BENCHMARK(BM_EdgeMeshSimplifyGrid)->Arg(0)->Arg(1)->ArgName("rolling")->Unit(benchmark::kMillisecond);

}  // namespace

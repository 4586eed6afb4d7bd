// Convex hull construction from random points in a ball (100, 1,000 and 10,000
// points), in a cube and on a sphere (1,000, 10,000 and 100,000 points), and
// support-vertex queries on a hull of 64 vertices. On the unit sphere the
// hull keeps the points that lie more than the face tolerance above their
// neighbours (about 4,500 of 10,000); on the sphere of radius 50 every point
// is a vertex, and 100,000 points pass the 16-bit counts and are refused.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dgCollisionConvexHull.h"

namespace {

std::vector<float> ballCloud(int32_t count) {
    std::mt19937 rng{uint32_t(count)};
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> cloud;
    while (int32_t(cloud.size()) < 3 * count) {
        const float x = u(rng), y = u(rng), z = u(rng);
        if (x * x + y * y + z * z <= 1.0f) {
            cloud.insert(cloud.end(), {x, y, z});
        }
    }
    return cloud;
}

std::vector<float> cubeCloud(int32_t count) {
    std::mt19937 rng{uint32_t(count) + 1u};
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> cloud;
    for (int32_t i = 0; i < 3 * count; i++) {
        cloud.push_back(u(rng));
    }
    return cloud;
}

// Evenly spread points on a sphere.
std::vector<float> sphereCloud(int32_t count, double radius = 1.0) {
    const double golden = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
    std::vector<float> cloud;
    for (int32_t i = 0; i < count; i++) {
        const double y = 1.0 - (i + 0.5) * 2.0 / count;
        const double r = std::sqrt(1.0 - y * y);
        cloud.insert(cloud.end(), {float(radius * r * std::cos(golden * i)), float(radius * y),
                                   float(radius * r * std::sin(golden * i))});
    }
    return cloud;
}

void buildHulls(benchmark::State& state, const std::vector<float>& cloud) {
    const int32_t count = int32_t(cloud.size() / 3);
    int32_t vertices = 0;
    for (auto _ : state) {
        dgCollisionConvexHull* hull = new dgCollisionConvexHull(1, count, 3 * int32_t(sizeof(float)),
                                                                cloud.data(), dgGetIdentityMatrix());
        vertices = hull->getVertexCount();
        benchmark::DoNotOptimize(vertices);
        hull->release();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
    state.counters["hullVertices"] = double(vertices);
}

void BM_ConvexHullBuild(benchmark::State& state) {
    buildHulls(state, ballCloud(int32_t(state.range(0))));
}
BENCHMARK(BM_ConvexHullBuild)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_ConvexHullBuildCube(benchmark::State& state) {
    buildHulls(state, cubeCloud(int32_t(state.range(0))));
}
BENCHMARK(BM_ConvexHullBuildCube)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ConvexHullBuildSphere(benchmark::State& state) {
    buildHulls(state, sphereCloud(int32_t(state.range(0))));
}
BENCHMARK(BM_ConvexHullBuildSphere)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ConvexHullBuildSphereAllVertices(benchmark::State& state) {
    buildHulls(state, sphereCloud(int32_t(state.range(0)), 50.0));
}
BENCHMARK(BM_ConvexHullBuildSphereAllVertices)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void BM_ConvexHullSupport64(benchmark::State& state) {
    const std::vector<float> cloud = sphereCloud(64);
    dgCollisionConvexHull* hull =
        new dgCollisionConvexHull(1, 64, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix());
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<dgVector> directions;
    for (int32_t i = 0; i < 4096; i++) {
        const dgVector d(g(rng), g(rng), g(rng), 0.0f);
        directions.push_back(d.scale(1.0f / std::sqrt(d % d)));
    }
    size_t next = 0;
    for (auto _ : state) {
        const dgVector s = hull->supportVertex(directions[next]);
        benchmark::DoNotOptimize(s);
        next = (next + 1) & 4095;
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.counters["hullVertices"] = double(hull->getVertexCount());
    hull->release();
}
BENCHMARK(BM_ConvexHullSupport64);

}  // namespace

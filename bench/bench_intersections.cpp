// Throughput of the geometric tests on fixed random inputs.
#include <benchmark/benchmark.h>

#include "dgIntersections.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

const size_t kInputs = 1024;

std::vector<dgVector> randomPoints(size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> uni(-4.0f, 4.0f);
    std::vector<dgVector> points;
    for (size_t i = 0; i < count; ++i) {
        points.emplace_back(uni(gen), uni(gen), uni(gen), 1.0f);
    }
    return points;
}

void BM_ClosestPointsOfSegments(benchmark::State& state) {
    const std::vector<dgVector> pts(randomPoints(kInputs + 3, 1));
    size_t i = 0;
    dgVector p;
    dgVector q;
    for (auto _ : state) {
        dgClosestPointsOfSegments(pts[i], pts[i + 1], pts[i + 2], pts[i + 3], p, q);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(q);
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(BM_ClosestPointsOfSegments);

void BM_ClosestPointOnTriangle(benchmark::State& state) {
    const std::vector<dgVector> pts(randomPoints(kInputs + 3, 2));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dgClosestPointOnTriangle(pts[i], pts[i + 1], pts[i + 2], pts[i + 3]));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(BM_ClosestPointOnTriangle);

void BM_RayFaceTestHexagon(benchmark::State& state) {
    // Regular hexagon in y = 0 facing +y; rays straight down, about half of them hit.
    std::vector<float> xyz;
    const int32_t idx[] = {0, 1, 2, 3, 4, 5};
    for (int k = 0; k < 6; ++k) {
        const float a = -1.0471976f * float(k);
        xyz.insert(xyz.end(), {2.0f * std::cos(a), 0.0f, 2.0f * std::sin(a)});
    }
    std::vector<dgVector> pts(randomPoints(kInputs, 3));
    size_t i = 0;
    float t;
    dgVector n;
    for (auto _ : state) {
        const dgVector& p = pts[i];
        benchmark::DoNotOptimize(dgRayFaceTest(
            dgVector(p.x, 1.0f, p.z, 1.0f), dgVector(p.x, -1.0f, p.z, 1.0f), xyz.data(), 12, idx, 6, t, n));
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(BM_RayFaceTestHexagon);

void BM_ClipSegmentToBox(benchmark::State& state) {
    const std::vector<dgVector> pts(randomPoints(kInputs + 1, 4));
    const dgVector boxMin(-1.0f, -1.0f, -1.0f, 1.0f);
    const dgVector boxMax(1.0f, 1.0f, 1.0f, 1.0f);
    size_t i = 0;
    for (auto _ : state) {
        dgVector p0(pts[i]);
        dgVector p1(pts[i + 1]);
        benchmark::DoNotOptimize(dgClipSegmentToBox(p0, p1, boxMin, boxMax));
        benchmark::DoNotOptimize(p0);
        i = (i + 1) % kInputs;
    }
}
BENCHMARK(BM_ClipSegmentToBox);

}  // namespace

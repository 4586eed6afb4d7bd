// World ray casts through the broad phase (dgBroadPhaseRayCast) over the
// resting scenes S1 (4000 cubes in stacks) and S4 (1764 convex bodies on the
// terrain): the closest hit (the filter answers the hit's parameter, so the
// walk stops at cells beyond it) and every hit along long rays across the
// whole scene (the filter keeps the limit at 1). One ray per iteration, from
// 1024 fixed rays.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "BenchScenes.h"
#include "BenchWorld.h"

namespace {

using namespace benchworld;
using namespace benchscenes;

constexpr int32_t kRays = 1024;

struct RayHits {
    int64_t hits = 0;
};

float closestHit(dgBody*, const float*, uint32_t, void* userData, float t) {
    static_cast<RayHits*>(userData)->hits++;
    return t;
}

float everyHit(dgBody*, const float*, uint32_t, void* userData, float) {
    static_cast<RayHits*>(userData)->hits++;
    return 1.0f;
}

// Built once for all ray benchmarks of the run.
BenchWorld& stacks() {
    static BenchWorld* shared = buildStacks(true, true, 0).release();
    return *shared;
}
BenchWorld& lattice() {
    static BenchWorld* shared = buildLattice(true, 0).release();
    return *shared;
}

struct Ray {
    dgVector p0;
    dgVector p1;
};

void castRays(benchmark::State& state, BenchWorld& scene, const std::vector<Ray>& rays,
              dgWorldRayFilterCallback filter) {
    dgBroadPhase* broadPhase = &scene.world()->m_broadPhase;
    RayHits hits;
    size_t k = 0;
    for (auto _ : state) {
        dgBroadPhaseRayCast(broadPhase, rays[k].p0, rays[k].p1, filter, nullptr, &hits);
        k = (k + 1) % rays.size();
    }
    state.counters["filterCallsPerRay"] = double(hits.hits) / double(state.iterations());
}

// S1: half the rays straight down onto the stacks, half across them at a
// random height and slant.
void BM_WorldRayCastS1Closest(benchmark::State& state) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> across(-21.0f, 21.0f), height(0.0f, 10.0f);
    std::vector<Ray> rays;
    for (int32_t k = 0; k < kRays; k++) {
        if (k & 1) {
            const float x = across(rng);
            const float z = across(rng);
            rays.push_back({dgVector(x, 20.0f, z, 1.0f), dgVector(x, -5.0f, z, 1.0f)});
        } else {
            rays.push_back({dgVector(-30.0f, height(rng), across(rng), 1.0f),
                            dgVector(30.0f, height(rng), across(rng), 1.0f)});
        }
    }
    castRays(state, stacks(), rays, closestHit);
}
BENCHMARK(BM_WorldRayCastS1Closest);

void BM_WorldRayCastS1AllHits(benchmark::State& state) {
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> across(-21.0f, 21.0f), height(0.0f, 10.0f);
    std::vector<Ray> rays;
    for (int32_t k = 0; k < kRays; k++) {
        rays.push_back(
            {dgVector(-30.0f, height(rng), across(rng), 1.0f), dgVector(30.0f, height(rng), across(rng), 1.0f)});
    }
    castRays(state, stacks(), rays, everyHit);
}
BENCHMARK(BM_WorldRayCastS1AllHits);

// S4: slanted rays from 40 m above the lattice down to below the terrain.
void BM_WorldRayCastS4Closest(benchmark::State& state) {
    std::mt19937 rng(47);
    std::uniform_real_distribution<float> around(kTerrainCentre - 80.0f, kTerrainCentre + 80.0f),
        slant(-20.0f, 20.0f);
    std::vector<Ray> rays;
    for (int32_t k = 0; k < kRays; k++) {
        const float x = around(rng);
        const float z = around(rng);
        rays.push_back({dgVector(x, 40.0f, z, 1.0f), dgVector(x + slant(rng), -10.0f, z + slant(rng), 1.0f)});
    }
    castRays(state, lattice(), rays, closestHit);
}
BENCHMARK(BM_WorldRayCastS4Closest);

// S4: rays across the whole terrain through the lattice, low over the ground.
void BM_WorldRayCastS4AllHits(benchmark::State& state) {
    std::mt19937 rng(53);
    std::uniform_real_distribution<float> across(kTerrainCentre - 76.0f, kTerrainCentre + 76.0f),
        height(2.0f, 8.0f);
    std::vector<Ray> rays;
    for (int32_t k = 0; k < kRays; k++) {
        const float y = height(rng);
        if (k & 1) {
            rays.push_back({dgVector(0.0f, y, across(rng), 1.0f), dgVector(300.0f, y, across(rng), 1.0f)});
        } else {
            rays.push_back({dgVector(across(rng), y, 0.0f, 1.0f), dgVector(across(rng), y, 300.0f, 1.0f)});
        }
    }
    castRays(state, lattice(), rays, everyHit);
}
BENCHMARK(BM_WorldRayCastS4AllHits);

}  // namespace

// Support-point queries and ray casts against the box and the sphere: a
// million queries per iteration over a fixed table of random directions and
// segments, so changes to the shapes' math show up here.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dgCollisionBox.h"
#include "dgCollisionSphere.h"

namespace {

constexpr int32_t kQueries = 1 << 20;
constexpr int32_t kTableSize = 4096;

const std::vector<dgVector>& directions() {
    static const std::vector<dgVector> table = [] {
        std::mt19937 rng(1);
        std::normal_distribution<float> g(0.0f, 1.0f);
        std::vector<dgVector> out;
        for (int32_t i = 0; i < kTableSize; i++) {
            dgVector d(g(rng), g(rng), g(rng), 0.0f);
            out.push_back(d.scale(1.0f / std::sqrt(d % d)));
        }
        return out;
    }();
    return table;
}

// Segment ends around a unit-sized shape; about half of them hit it.
const std::vector<dgVector>& segmentEnds() {
    static const std::vector<dgVector> table = [] {
        std::mt19937 rng(2);
        std::uniform_real_distribution<float> u(-3.0f, 3.0f);
        std::vector<dgVector> out;
        for (int32_t i = 0; i < 2 * kTableSize; i++) {
            out.push_back(dgVector(u(rng), u(rng), u(rng), 1.0f));
        }
        return out;
    }();
    return table;
}

dgCollisionBox* makeBox() {
    const float half[3] = {1.0f, 0.75f, 0.5f};
    return new dgCollisionBox(dgShapeSignature(dgShapeBox, half, 3, dgGetIdentityMatrix()), 2.0f, 1.5f, 1.0f,
                              dgGetIdentityMatrix());
}

dgCollisionSphere* makeSphere() {
    const float radius = 1.0f;
    return new dgCollisionSphere(dgShapeSignature(dgShapeSphere, &radius, 1, dgGetIdentityMatrix()), radius,
                                 dgGetIdentityMatrix());
}

void runSupport(benchmark::State& state, const dgConvexCollision& shape) {
    const std::vector<dgVector>& dirs = directions();
    for (auto _ : state) {
        float sum = 0.0f;
        for (int32_t i = 0; i < kQueries; i++) {
            sum += shape.supportVertex(dirs[size_t(i & (kTableSize - 1))]).x;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void runRays(benchmark::State& state, const dgCollision& shape) {
    const std::vector<dgVector>& ends = segmentEnds();
    dgContactPoint contact;
    int64_t hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (int32_t i = 0; i < kQueries; i++) {
            const size_t k = size_t(i & (kTableSize - 1));
            const float t = shape.rayCast(ends[2 * k], ends[2 * k + 1], contact, nullptr, nullptr, nullptr);
            hits += (t <= 1.0f);
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hitRatio"] = double(hits) / double(kQueries);
    state.SetItemsProcessed(int64_t(state.iterations()) * kQueries);
}

void BM_BoxSupportVertex(benchmark::State& state) {
    dgRefHolder<dgCollisionBox> box = dgRefHolder<dgCollisionBox>::adopt(makeBox());
    runSupport(state, *box);
}

void BM_SphereSupportVertex(benchmark::State& state) {
    dgRefHolder<dgCollisionSphere> sphere = dgRefHolder<dgCollisionSphere>::adopt(makeSphere());
    runSupport(state, *sphere);
}

void BM_BoxRayCast(benchmark::State& state) {
    dgRefHolder<dgCollisionBox> box = dgRefHolder<dgCollisionBox>::adopt(makeBox());
    runRays(state, *box);
}

void BM_SphereRayCast(benchmark::State& state) {
    dgRefHolder<dgCollisionSphere> sphere = dgRefHolder<dgCollisionSphere>::adopt(makeSphere());
    runRays(state, *sphere);
}

BENCHMARK(BM_BoxSupportVertex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SphereSupportVertex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxRayCast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SphereRayCast)->Unit(benchmark::kMillisecond);

}  // namespace

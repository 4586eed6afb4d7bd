// Support-point queries and ray casts against the box and the sphere: a
// million queries per iteration over a fixed table of random directions and
// segments, so changes to the shapes' math show up here. Ray casts from about
// 1,000 units away cover the analytic shapes and the general support-function
// cast (the cone).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionCone.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionSphere.h"

namespace {

constexpr int32_t kQueries = 1 << 20;
constexpr int32_t kTableSize = 4096;
// The general cast costs far more than the closed forms.
constexpr int32_t kFarQueries = 1 << 16;

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

// Segments starting about 1,000 units away in random directions and ending
// just past a random point near a unit-sized shape: most of them hit it.
const std::vector<dgVector>& farSegmentEnds() {
    static const std::vector<dgVector> table = [] {
        std::mt19937 rng(3);
        std::normal_distribution<float> g(0.0f, 1.0f);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        std::vector<dgVector> out;
        for (int32_t i = 0; i < kTableSize; i++) {
            dgVector d(g(rng), g(rng), g(rng), 0.0f);
            d = d.scale(1.0f / std::sqrt(d % d));
            const dgVector target(u(rng), u(rng), u(rng), 1.0f);
            out.push_back(target + d.scale(1000.0f));
            out.push_back(target - d.scale(2.0f));
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

void runRays(benchmark::State& state, const dgCollision& shape,
             const std::vector<dgVector>& ends = segmentEnds(), int32_t queries = kQueries) {
    dgContactPoint contact;
    int64_t hits = 0;
    for (auto _ : state) {
        hits = 0;
        for (int32_t i = 0; i < queries; i++) {
            const size_t k = size_t(i & (kTableSize - 1));
            const float t = shape.rayCast(ends[2 * k], ends[2 * k + 1], contact, nullptr, nullptr, nullptr);
            hits += (t <= 1.0f);
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hitRatio"] = double(hits) / double(queries);
    state.SetItemsProcessed(int64_t(state.iterations()) * queries);
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

void BM_BoxRayCastFar(benchmark::State& state) {
    dgRefHolder<dgCollisionBox> box = dgRefHolder<dgCollisionBox>::adopt(makeBox());
    runRays(state, *box, farSegmentEnds(), kFarQueries);
}

void BM_SphereRayCastFar(benchmark::State& state) {
    dgRefHolder<dgCollisionSphere> sphere = dgRefHolder<dgCollisionSphere>::adopt(makeSphere());
    runRays(state, *sphere, farSegmentEnds(), kFarQueries);
}

void BM_CapsuleRayCastFar(benchmark::State& state) {
    const float dims[2] = {0.5f, 1.0f};
    dgRefHolder<dgCollisionCapsule> capsule = dgRefHolder<dgCollisionCapsule>::adopt(new dgCollisionCapsule(
        dgShapeSignature(dgShapeCapsule, dims, 2, dgGetIdentityMatrix()), 0.5f, 2.0f, dgGetIdentityMatrix()));
    runRays(state, *capsule, farSegmentEnds(), kFarQueries);
}

void BM_CylinderRayCastFar(benchmark::State& state) {
    const float dims[2] = {0.75f, 1.0f};
    dgRefHolder<dgCollisionCylinder> cylinder = dgRefHolder<dgCollisionCylinder>::adopt(
        new dgCollisionCylinder(dgShapeSignature(dgShapeCylinder, dims, 2, dgGetIdentityMatrix()), 0.75f,
                                2.0f, dgGetIdentityMatrix()));
    runRays(state, *cylinder, farSegmentEnds(), kFarQueries);
}

// The cone has no closed form: the general support-function cast.
void BM_ConeRayCastFar(benchmark::State& state) {
    const float dims[2] = {0.75f, 1.0f};
    dgRefHolder<dgCollisionCone> cone = dgRefHolder<dgCollisionCone>::adopt(new dgCollisionCone(
        dgShapeSignature(dgShapeCone, dims, 2, dgGetIdentityMatrix()), 0.75f, 2.0f, dgGetIdentityMatrix()));
    runRays(state, *cone, farSegmentEnds(), kFarQueries);
}

BENCHMARK(BM_BoxSupportVertex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SphereSupportVertex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxRayCast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SphereRayCast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoxRayCastFar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SphereRayCastFar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapsuleRayCastFar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CylinderRayCastFar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConeRayCastFar)->Unit(benchmark::kMillisecond);

}  // namespace

// Hierarchies and vehicles: one world step of a 15-part ragdoll falling onto
// the ground and lying there (its parts' update callback counted), and one
// step of scene S8's car at rest and rolling. Aim: a car under 0.05 ms a
// step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "Scenes.h"

namespace {

using namespace scenes;

int64_t g_partReports = 0;

void countPart(dgAssemblyPart*) {
    ++g_partReports;
}

// Pelvis, chest, head; two arms of upper arm, forearm and hand; two legs of
// thigh, shin and foot: 15 parts, limits at their defaults. The
// figure stands 4 m above the ground, limbs hanging.
void buildRagdoll(Scene& scene) {
    const float lo[3] = {-100.0f, -20.0f, -100.0f};
    const float hi[3] = {100.0f, 100.0f, 100.0f};
    scene.world = newWorld(lo, hi, 0.0f, kFriction);
    addGround(scene.world, 0.0f, 0.0f, 0.0f);
    dgCollision* limb = dgCreateCapsule(scene.world, 0.08f, 0.35f, nullptr);
    dgAssembly* doll = dgCreateAssembly(scene.world);
    dgAssemblyBeginBuild(doll);
    dgAssemblySetCallbackA(doll, applyGravity);
    dgAssemblySetCallbackB(doll, countPart);
    const float size[3] = {0.35f, 0.16f, 0.16f};
    // Each part's frame: its x axis along the limb, from the joint outwards.
    auto frame = [](float angle, float x, float y, float z) {
        const float c = std::cos(angle), s = std::sin(angle);
        std::vector<float> m = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1};
        return m;
    };
    std::vector<float> m = frame(1.5708f, 0, 4.0f, 0);
    dgAssemblyPart* pelvis = dgAssemblyAddPart(doll, nullptr, nullptr, 8.0f, m.data(), limb, size);
    m = frame(0.0f, 0.35f, 0, 0);
    dgAssemblyPart* chest = dgAssemblyAddPart(doll, pelvis, nullptr, 8.0f, m.data(), limb, size);
    dgAssemblyAddPart(doll, chest, nullptr, 4.0f, m.data(), limb, size);
    for (float side : {-1.0f, 1.0f}) {
        std::vector<float> shoulder = frame(3.1416f, 0.35f, 0, 0.2f * side);
        dgAssemblyPart* upper = dgAssemblyAddPart(doll, chest, nullptr, 2.0f, shoulder.data(), limb, size);
        dgAssemblyPart* fore = dgAssemblyAddPart(doll, upper, nullptr, 1.5f, m.data(), limb, size);
        dgAssemblyAddPart(doll, fore, nullptr, 0.5f, m.data(), limb, size);
        std::vector<float> hip = frame(3.1416f, 0.0f, 0, 0.12f * side);
        dgAssemblyPart* thigh = dgAssemblyAddPart(doll, pelvis, nullptr, 5.0f, hip.data(), limb, size);
        dgAssemblyPart* shin = dgAssemblyAddPart(doll, thigh, nullptr, 4.0f, m.data(), limb, size);
        dgAssemblyAddPart(doll, shin, nullptr, 1.0f, m.data(), limb, size);
    }
    dgAssemblyEndBuild(doll);
    dgReleaseCollision(scene.world, limb);
}

void BM_RagdollFalling(benchmark::State& state) {
    Scene scene;
    buildRagdoll(scene);
    g_partReports = 0;
    int64_t steps = 0;
    for (auto _ : state) {
        // 600 steps a scene: the fall and then the figure lying still.
        if (steps == 600) {
            state.PauseTiming();
            scene.~Scene();
            new (&scene) Scene();
            buildRagdoll(scene);
            steps = 0;
            state.ResumeTiming();
        }
        dgWorldUpdate(scene.world, kTimeStep);
        ++steps;
    }
    state.counters["part reports/step"] =
        benchmark::Counter(double(g_partReports), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RagdollFalling);

void BM_CarStep(benchmark::State& state) {
    Car car;
    carControls() = CarControls();
    buildCar(car);
    const bool rolling = state.range(0) != 0;
    for (int32_t i = 0; i < 120; ++i) {
        dgWorldUpdate(car.scene.world, kTimeStep);
    }
    if (rolling) {
        carControls().brake = false;
        const float veloc[3] = {10.0f, 0.0f, 0.0f};
        dgBodySetVelocity(car.chassis, veloc);
    }
    int64_t steps = 0;
    for (auto _ : state) {
        dgWorldUpdate(car.scene.world, kTimeStep);
        // Rolling, the car is put back to its start every 20 m.
        if (rolling && (++steps % 120 == 0)) {
            float matrix[16];
            dgBodyGetMatrix(car.chassis, matrix);
            matrix[12] = -200.0f;
            dgBodySetMatrix(car.chassis, matrix);
            const float veloc[3] = {10.0f, 0.0f, 0.0f};
            dgBodySetVelocity(car.chassis, veloc);
        }
    }
}
BENCHMARK(BM_CarStep)->Arg(0)->Arg(1)->ArgName("rolling");

}  // namespace

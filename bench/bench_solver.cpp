// One solver step of whole scenes, per variant: a stack of 10 boxes, a pile
// of 100, a pyramid of 1,000 and 30 lone boxes on a floor box. The scenes
// settle for a few steps first (contacts made, forces warm); their bodies
// never freeze, so every timed step does the same work. Only the solver is
// timed: the force and contact passes around it are the broad phase's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "IslandScene.h"

using namespace islandtest;

namespace {

dgMatrix at(float x, float y, float z) {
    dgMatrix m = dgGetIdentityMatrix();
    m.position = dgVector(x, y, z, 1.0f);
    return m;
}

enum SceneKind { kStack10, kPile100, kPyramid1000, kLone30 };

// Boxes overlap their neighbours below by this much, so the first contact
// pass already finds every support.
constexpr float kOverlap = 0.002f;

std::unique_ptr<Scene> build(SceneKind kind) {
    std::unique_ptr<Scene> scene(new Scene());
    scene->addBox(80.0f, 1.0f, 80.0f, at(0.0f, 0.0f, 0.0f), 0.0f);
    const float base = 1.0f - kOverlap;
    switch (kind) {
        case kStack10:
            for (int32_t i = 0; i < 10; ++i) {
                scene->addBox(1.0f, 1.0f, 1.0f, at(0.0f, base + float(i) * base, 0.0f), 1.0f);
            }
            break;
        case kPile100:
            // Five layers of 4 x 5, each layer shifted by half a box.
            for (int32_t layer = 0; layer < 5; ++layer) {
                const float shift = (layer & 1) ? 0.5f : 0.0f;
                for (int32_t i = 0; i < 20; ++i) {
                    scene->addBox(1.0f, 1.0f, 1.0f,
                                  at(float(i % 4) * 1.05f + shift, base + float(layer) * base,
                                     float(i / 4) * 1.05f + shift),
                                  1.0f);
                }
            }
            break;
        case kPyramid1000: {
            int32_t made = 0;
            for (int32_t layer = 0; made < 1000; ++layer) {
                const int32_t side = 14 - layer;
                for (int32_t i = 0; (i < side * side) && (made < 1000); ++i, ++made) {
                    const float x = float(i % side) + 0.5f * float(layer);
                    const float z = float(i / side) + 0.5f * float(layer);
                    scene->addBox(1.0f, 1.0f, 1.0f, at(x, base + float(layer) * base, z), 1.0f);
                }
            }
            break;
        }
        case kLone30:
            for (int32_t i = 0; i < 30; ++i) {
                scene->addBox(1.0f, 1.0f, 1.0f, at(float(i % 6) * 3.0f, base, float(i / 6) * 3.0f), 1.0f);
            }
            break;
    }
    for (dgBody* body : scene->bodies()) {
        body->m_flags &= ~uint32_t(dgBodyFlagAutoFreeze);
    }
    return scene;
}

void solverStep(benchmark::State& state, SceneKind kind, Variant variant) {
    std::unique_ptr<Scene> scene = build(kind);
    for (int32_t i = 0; i < 10; ++i) {
        scene->step(variant);
    }
    for (auto _ : state) {
        scene->forcePass(kStep);
        scene->contactPass();
        const auto start = std::chrono::steady_clock::now();
        runSolver(scene->world(), variant);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    }
    state.counters["bodies"] = double(scene->bodies().size() - 1);
}

}  // namespace

BENCHMARK_CAPTURE(solverStep, Stack10Scalar, kStack10, Variant::Scalar)->UseManualTime();
BENCHMARK_CAPTURE(solverStep, Stack10Simd, kStack10, Variant::Simd)->UseManualTime();
BENCHMARK_CAPTURE(solverStep, Pile100Scalar, kPile100, Variant::Scalar)->UseManualTime();
BENCHMARK_CAPTURE(solverStep, Pile100Simd, kPile100, Variant::Simd)->UseManualTime();
BENCHMARK_CAPTURE(solverStep, Pyramid1000Scalar, kPyramid1000, Variant::Scalar)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(solverStep, Pyramid1000Simd, kPyramid1000, Variant::Simd)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(solverStep, Lone30Scalar, kLone30, Variant::Scalar)->UseManualTime();
BENCHMARK_CAPTURE(solverStep, Lone30Simd, kLone30, Variant::Simd)->UseManualTime();

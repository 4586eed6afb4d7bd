// The broad-phase update with its contact pass, per step, before the solver
// exists: the resting scenes S1 (4000 cubes in stacks on a ground box) and S4
// (1764 convex bodies on a 20,000-triangle terrain) with every body awake, so
// each step refreshes every box and sweeps every cell; and the incremental
// path, a few scripted bodies moving among the resting (frozen) S1 cubes.
// Each figure is the minimum over 3 runs of a scene; the benchmark's own time
// is the mean step.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchScenes.h"
#include "BenchWorld.h"

namespace {

using namespace benchworld;
using namespace benchscenes;

// The machine and the compiler, in the context every run prints.
const bool g_context = [] {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::string model = "unknown";
    while (std::getline(cpuinfo, line)) {
        if (line.compare(0, 10, "model name") == 0) {
            const size_t colon = line.find(':');
            model = (colon == std::string::npos) ? line : line.substr(colon + 2);
            break;
        }
    }
    benchmark::AddCustomContext("cpu_model", model);
    benchmark::AddCustomContext("compiler", __VERSION__);
    return true;
}();

// Steps of the incremental run (the scenes' 600).
constexpr int32_t kIncrementalSteps = 600;

// Every body stays where it was placed; each step refreshes all of them.
template <class Build>
void restingScene(benchmark::State& state, int32_t steps, const Build& build) {
    StepStats best;
    ContactCount contacts;
    int32_t bodies = 0;
    for (auto _ : state) {
        for (int32_t run = 0; run < kRuns; run++) {
            std::unique_ptr<BenchWorld> scene(build());
            bodies = int32_t(scene->bodies().size());
            StepTimer timer{size_t(steps)};
            for (int32_t s = 0; s < steps; s++) {
                timer.start();
                step(scene->world());
                timer.stop();
            }
            contacts = countContacts(scene->world());
            best.keepMinimum(StepStats::of(timer.times()), run == 0);
        }
        reportStepStats(best, state);
    }
    state.counters["bodies"] = bodies;
    state.counters["steps"] = steps;
    state.counters["contactJoints"] = contacts.joints;
    state.counters["contactPoints"] = contacts.points;
}

// The scenes run 600 steps; S4 runs 120 here to keep the benchmark to
// seconds (every step of a resting scene does the same work).
constexpr int32_t kStepsS1 = 600;
constexpr int32_t kStepsS4 = 120;

void BM_BroadPhaseS1RestingStacks(benchmark::State& state) {
    restingScene(state, kStepsS1, [] { return buildStacks(true, true, 0); });
}
BENCHMARK(BM_BroadPhaseS1RestingStacks)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// The stacks placed exactly as defined: no box overlaps another, so this is
// the refresh and the sweep alone, with no pair reaching the contact pass.
void BM_BroadPhaseS1ExactPlacement(benchmark::State& state) {
    restingScene(state, kStepsS1, [] { return buildStacks(true, false, 0); });
}
BENCHMARK(BM_BroadPhaseS1ExactPlacement)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

void BM_BroadPhaseS4TerrainLattice(benchmark::State& state) {
    restingScene(state, kStepsS4, [] { return buildLattice(true, 0); });
}
BENCHMARK(BM_BroadPhaseS4TerrainLattice)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Four bodies sliding to and fro along the gaps between the S1 stacks at
// 6 m/s, in contact with the stacks on both sides (and the lowest with the
// ground), while the 4000 cubes rest frozen: only the movers are refreshed
// and queued, so the update takes the incremental path. Two spheres of
// radius 0.52 and two boxes 1.04 m across the gap.
constexpr int32_t kMovers = 4;

dgMatrix moverPose(int32_t mover, int32_t stepIndex) {
    const float speed = 6.0f;
    const float span = 2.0f * (-stackCentre(0) + 1.0f);
    // A triangle wave over the grid's length, each mover at its own phase.
    const float travel = std::fmod(speed * kTimeStep * float(stepIndex) + span * 0.25f * float(mover), 2.0f * span);
    const float along = (travel < span) ? travel : 2.0f * span - travel;
    const float lane = stackCentre(3 + 4 * mover) + 1.0f;
    dgMatrix pose(dgGetIdentityMatrix());
    pose.position = dgVector(lane, 0.5f + 3.0f * float(mover), stackCentre(0) - 1.0f + along, 1.0f);
    return pose;
}

void BM_BroadPhaseIncrementalMovers(benchmark::State& state) {
    StepStats best;
    ContactCount contacts;
    for (auto _ : state) {
        for (int32_t run = 0; run < kRuns; run++) {
            std::unique_ptr<BenchWorld> scene(buildStacks(false, true, kMovers));
            dgWorld* world = scene->world();
            dgCollision* sphere = dgCreateSphere(world, 0.52f, 0.52f, 0.52f, nullptr);
            dgCollision* box = dgCreateBox(world, 1.04f, 1.0f, 1.0f, nullptr);
            dgBody* movers[kMovers];
            for (int32_t m = 0; m < kMovers; m++) {
                movers[m] = scene->add((m & 1) ? box : sphere, 1.0f, moverPose(m, 0), world->m_defaultMaterialGroup,
                                       true);
            }
            dgReleaseCollision(world, sphere);
            dgReleaseCollision(world, box);
            StepTimer timer(kIncrementalSteps);
            for (int32_t s = 0; s < kIncrementalSteps; s++) {
                timer.start();
                for (int32_t m = 0; m < kMovers; m++) {
                    dgBodySetMatrixInternal(movers[m], moverPose(m, s));
                }
                step(world);
                timer.stop();
            }
            contacts = countContacts(world);
            best.keepMinimum(StepStats::of(timer.times()), run == 0);
        }
        reportStepStats(best, state);
    }
    state.counters["bodies"] = kStackCubes + 1 + kMovers;
    state.counters["steps"] = kIncrementalSteps;
    state.counters["contactJoints"] = contacts.joints;
    state.counters["contactPoints"] = contacts.points;
}
BENCHMARK(BM_BroadPhaseIncrementalMovers)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

// The lead indicator and every homing torpedo ask for an intercept point
// each frame.
#include "client/utilities.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

struct Shot {
    irr::core::vector3df shooter;
    irr::core::vector3df target;
    irr::core::vector3df velocity;
    float speed;
};

void BM_ComputeInterceptPoint(benchmark::State& state) {
    std::mt19937 random(109);
    std::uniform_real_distribution<float> coordinate(-2000.0f, 2000.0f);
    std::uniform_real_distribution<float> unit(-60.0f, 60.0f);
    std::vector<Shot> shots(1024);
    for (Shot& s : shots) {
        s.shooter = irr::core::vector3df(coordinate(random), coordinate(random), coordinate(random));
        s.target = irr::core::vector3df(coordinate(random), coordinate(random), coordinate(random));
        s.velocity = irr::core::vector3df(unit(random), unit(random), unit(random));
        s.speed = 200.0f;
    }
    size_t i = 0;
    for (auto _ : state) {
        const Shot& s = shots[i++ & 1023];
        benchmark::DoNotOptimize(computeInterceptPoint(s.shooter, s.target, s.velocity, s.speed));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComputeInterceptPoint);

}  // namespace

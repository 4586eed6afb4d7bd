// The ship's force step, run once per ship in every physics step: the
// player's full steering path (attitude, limits, levelling, bank turn) and
// an enemy's loop, over a spread of attitudes.
#include "client/shipmath.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<ShipForceInput> inputs(ShipSteering steering) {
    std::vector<ShipForceInput> all;
    for (int i = 0; i < 64; ++i) {
        ShipForceInput in;
        in.steering = steering;
        in.rotation = irr::core::vector3df(float(i * 7 % 90), float(i * 37 % 360), float(i * 13 % 120) - 60);
        in.thrustInput = irr::core::vector3df(0, 0, 1000);
        in.steeringInput = irr::core::vector3df(i % 3 ? 0.0f : 4000.0f, 0, i % 2 ? 0.0f : -8000.0f);
        in.mass = 10;
        in.dt = 1 / 60.0f;
        in.omega = irr::core::vector3df(0.1f, -0.2f, 0.3f);
        in.damping = irr::core::vector3df(0.05f, 0.05f, 0.05f);
        all.push_back(in);
    }
    return all;
}

void BM_ShipForceStep(benchmark::State& state) {
    const std::vector<ShipForceInput> all = inputs(static_cast<ShipSteering>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(shipForceStep(all[i++ & 63]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ShipForceStep)->Arg(int(ShipSteering::PLAYER))->Arg(int(ShipSteering::LOOP));

}  // namespace

// Thinning contact sets in place: 16 or 64 points reduced to 4, and the
// filter capping 64 points at 16 as the body-pair pass does. Each iteration
// copies the set back first (the copy is part of the figure).
#include <benchmark/benchmark.h>

#include "dgContactReduction.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

// Points over a 2 x 2 patch with near-duplicates, as where a box rests on
// several faces that share edges.
std::vector<dgContactPoint> contactPatch(int32_t count) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> uni(-1.0f, 1.0f);
    std::uniform_real_distribution<float> jitter(-0.003f, 0.003f);
    std::vector<dgContactPoint> records(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        dgContactPoint& c = records[size_t(i)];
        std::memset(&c, 0, sizeof(c));
        if ((i % 4 == 3) && (i > 0)) {
            c.point = records[size_t(i - 1)].point + dgVector(jitter(gen), 0.0f, jitter(gen), 0.0f);
        } else {
            c.point = dgVector(uni(gen), 0.0f, uni(gen), 1.0f);
        }
        c.normal = dgVector(0.0f, 1.0f, 0.0f, 0.0f);
    }
    return records;
}

void BM_ReduceContactsTo4(benchmark::State& state) {
    const int32_t count = int32_t(state.range(0));
    const std::vector<dgContactPoint> input(contactPatch(count));
    std::vector<dgContactPoint> work(input);
    for (auto _ : state) {
        std::memcpy(static_cast<void*>(work.data()), input.data(), input.size() * sizeof(dgContactPoint));
        benchmark::DoNotOptimize(dgWorldReduceContacts(count, work.data(), 4, dgContactReduceTolerance));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReduceContactsTo4)->Arg(16)->Arg(64);

void BM_FilterContactsTo16(benchmark::State& state) {
    const int32_t count = int32_t(state.range(0));
    const std::vector<dgContactPoint> input(contactPatch(count));
    std::vector<dgContactPoint> work(input);
    for (auto _ : state) {
        std::memcpy(static_cast<void*>(work.data()), input.data(), input.size() * sizeof(dgContactPoint));
        benchmark::DoNotOptimize(dgWorldFilterContacts(count, work.data(), 16));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FilterContactsTo16)->Arg(16)->Arg(64);

}  // namespace

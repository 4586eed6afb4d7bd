#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "dgRbTree.h"

namespace {

std::vector<int32_t> randomKeys(int32_t count) {
    std::mt19937 rng(42);
    std::vector<int32_t> keys(count);
    for (auto& k : keys) {
        k = int32_t(rng());
    }
    return keys;
}

void BM_RbTreeInsertFindRemove(benchmark::State& state) {
    const std::vector<int32_t> keys = randomKeys(int32_t(state.range(0)));
    dgRbTree<int32_t, int32_t> tree;
    for (auto _ : state) {
        for (int32_t k : keys) {
            tree.insert(k, k);
        }
        int64_t sum = 0;
        for (int32_t k : keys) {
            auto* node = tree.find(k);
            sum += node ? node->getPayload() : 0;
        }
        benchmark::DoNotOptimize(sum);
        for (int32_t k : keys) {
            tree.removeKey(k);
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()) * 3);
}
BENCHMARK(BM_RbTreeInsertFindRemove)->Arg(1000)->Arg(100000);

void BM_StdMapInsertFindRemove(benchmark::State& state) {
    const std::vector<int32_t> keys = randomKeys(int32_t(state.range(0)));
    std::map<int32_t, int32_t> map;
    for (auto _ : state) {
        for (int32_t k : keys) {
            map.emplace(k, k);
        }
        int64_t sum = 0;
        for (int32_t k : keys) {
            auto it = map.find(k);
            sum += it != map.end() ? it->second : 0;
        }
        benchmark::DoNotOptimize(sum);
        for (int32_t k : keys) {
            map.erase(k);
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()) * 3);
}
BENCHMARK(BM_StdMapInsertFindRemove)->Arg(1000)->Arg(100000);

void BM_RbTreeFind(benchmark::State& state) {
    const std::vector<int32_t> keys = randomKeys(int32_t(state.range(0)));
    dgRbTree<int32_t, int32_t> tree;
    for (int32_t k : keys) {
        tree.insert(k, k);
    }
    for (auto _ : state) {
        int64_t sum = 0;
        for (int32_t k : keys) {
            sum += tree.find(k)->getPayload();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()));
}
BENCHMARK(BM_RbTreeFind)->Arg(100000);

void BM_StdMapFind(benchmark::State& state) {
    const std::vector<int32_t> keys = randomKeys(int32_t(state.range(0)));
    std::map<int32_t, int32_t> map;
    for (int32_t k : keys) {
        map.emplace(k, k);
    }
    for (auto _ : state) {
        int64_t sum = 0;
        for (int32_t k : keys) {
            sum += map.find(k)->second;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(keys.size()));
}
BENCHMARK(BM_StdMapFind)->Arg(100000);

}  // namespace

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "dgMemory.h"
#include "dgPoolAllocator.h"

namespace {

constexpr int kBatch = 1024;

// Allocate a batch of small elements, then free them in reverse: the pattern
// of nodes built and torn down per update.
void BM_PoolAllocFree(benchmark::State& state) {
    dgAllocator* pool = dgSharedPoolAllocator(64);
    std::vector<void*> elements(kBatch);
    // One element stays out so that the pool keeps its pages between batches.
    void* keep = pool->alloc(64);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            elements[i] = pool->alloc(64);
        }
        benchmark::DoNotOptimize(elements.data());
        for (int i = kBatch - 1; i >= 0; --i) {
            pool->free(elements[i]);
        }
    }
    pool->free(keep);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PoolAllocFree);

void BM_MallocFree(benchmark::State& state) {
    std::vector<void*> elements(kBatch);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            elements[i] = std::malloc(64);
        }
        benchmark::DoNotOptimize(elements.data());
        for (int i = kBatch - 1; i >= 0; --i) {
            std::free(elements[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MallocFree);

void BM_DgMallocFree(benchmark::State& state) {
    std::vector<void*> elements(kBatch);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            elements[i] = dgMalloc(64);
        }
        benchmark::DoNotOptimize(elements.data());
        for (int i = kBatch - 1; i >= 0; --i) {
            dgFree(elements[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DgMallocFree);

// Object allocation through the block cache once every size has been seen:
// a tree look-up plus a pool operation per call, no hook calls.
void BM_BlockCacheAllocFree(benchmark::State& state) {
    const size_t sizes[] = {48, 96, 160, 224, 320, 448, 512, 1024};
    std::vector<void*> blocks(kBatch);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            blocks[i] = dgMemoryCacheAlloc(sizes[i & 7]);
        }
        benchmark::DoNotOptimize(blocks.data());
        for (int i = 0; i < kBatch; ++i) {
            dgMemoryCacheFree(blocks[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BlockCacheAllocFree);

}  // namespace

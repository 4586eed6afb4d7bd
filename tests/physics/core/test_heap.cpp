#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

#include "CountingHooks.h"
#include "dgHeap.h"

TEST(Heap, MaxHeapPopsNewestOfEqualKeysFirst) {
    dgMaxHeap<int32_t, float> heap(8);
    heap.push(100, 3.0f);
    heap.push(200, 5.0f);
    heap.push(201, 5.0f);
    heap.push(300, 1.0f);
    std::vector<std::pair<float, int32_t>> popped;
    while (!heap.isEmpty()) {
        popped.emplace_back(heap.getTopKey(), heap.getTopValue());
        heap.pop();
    }
    EXPECT_EQ(popped,
              (std::vector<std::pair<float, int32_t>>{{5.0f, 201}, {5.0f, 200}, {3.0f, 100}, {1.0f, 300}}));
}

namespace {

// Interleaved pushes and pops against a sorted reference, down to empty and
// up to full; checks keys and that each value travels with its key, since
// equal keys may leave in any order the reference does not fix.
template <class Value, class Key, class Heap, class Compare>
void checkAgainstSort(Heap& heap, int32_t capacity, uint32_t seed, Compare nearerTop) {
    std::mt19937 rng(seed);
    std::vector<Key> reference;
    for (int step = 0; step < 20000; ++step) {
        const bool push = reference.empty() || (int32_t(reference.size()) < capacity && rng() % 5 < 3);
        if (push) {
            const Key key = Key(int(rng() % 200) - 100) / Key(4);
            heap.push(Value{int32_t(4 * key), -int32_t(4 * key)}, key);
            reference.push_back(key);
        } else {
            auto best = std::min_element(reference.begin(), reference.end(), nearerTop);
            ASSERT_EQ(heap.getTopKey(), *best);
            ASSERT_EQ(heap.getTopValue().a, int32_t(4 * *best));
            ASSERT_EQ(heap.getTopValue().b, -int32_t(4 * *best));
            reference.erase(best);
            heap.pop();
        }
        ASSERT_EQ(heap.getCount(), int32_t(reference.size()));
        ASSERT_EQ(heap.isEmpty(), reference.empty());
    }
}

struct Pair8 {
    int32_t a;
    int32_t b;
};

}  // namespace

TEST(Heap, RandomPushesAndPopsMatchSortedOrder) {
    {
        dgMaxHeap<Pair8, float> heap(300);
        checkAgainstSort<Pair8, float>(heap, 300, 1, std::greater<float>());
    }
    {
        dgMinHeap<Pair8, float> heap(300);
        checkAgainstSort<Pair8, float>(heap, 300, 2, std::less<float>());
    }
    {
        dgMaxHeap<Pair8, double> heap(1);
        checkAgainstSort<Pair8, double>(heap, 1, 3, std::greater<double>());
    }
    {
        dgMaxHeap<Pair8, double> heap(300);
        checkAgainstSort<Pair8, double>(heap, 300, 4, std::greater<double>());
    }
    {
        dgMinHeap<Pair8, double> heap(300);
        checkAgainstSort<Pair8, double>(heap, 300, 5, std::less<double>());
    }
}

TEST(Heap, BorrowedStorageIsNeitherAllocatedNorFreed) {
    typedef dgMinHeap<int32_t, float> Heap;
    Heap::Entry storage[16];
    MemoryBalance hooks;
    {
        Heap heap(storage, 16);
        EXPECT_EQ(heap.getCapacity(), 16);
        for (int32_t i = 0; i < 16; ++i) {
            heap.push(i, float(16 - i));
        }
        EXPECT_EQ(heap.getTopValue(), 15);
        EXPECT_EQ(&heap.getTop(), &storage[0]);
    }
    {
        dgScratchBuffer buffer(Heap::bytesFor(10));
        const int64_t calls = hooks.allocCalls();
        Heap heap(buffer.getData(), Heap::bytesFor(10));
        EXPECT_EQ(heap.getCapacity(), 10);
        EXPECT_EQ(hooks.allocCalls(), calls);
    }
}

TEST(Heap, OwnedStorageIsReleased) {
    MemoryBalance hooks;
    dgMaxHeap<int32_t, double> heap(50);
    EXPECT_EQ(heap.getCapacity(), 50);
    EXPECT_EQ(hooks.liveBlocks(), 1);
}

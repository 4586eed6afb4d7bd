// Min-heap of (float key, 32-bit value) pairs for the soup build's sorts and
// medians. A pushed pair rises above pairs of equal key; pop moves the last
// pair into the root and sifts it down past the smaller child.
//
// Storage is lent by the caller (capacity = bytes / 8) or allocated here; the
// heap frees it only when it owns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgHeap.h"
#include "dgMemory.h"

class dgFloatKeyHeap : public dgMinHeap<uint32_t, float> {
    typedef dgMinHeap<uint32_t, float> Base;

public:
    static_assert(sizeof(Entry) == 8, "a pair is a float key and a 32-bit value");

    dgFloatKeyHeap(void* storage, size_t storageBytes)
        : Base(storage, storageBytes), m_pairs(static_cast<Entry*>(storage)), m_owned(nullptr) {}
    // Owned storage of `capacity` pairs (capacity 0 when it cannot be had).
    explicit dgFloatKeyHeap(int32_t capacity)
        : dgFloatKeyHeap(OwnedTag(), capacity > 0 ? dgMalloc(bytesFor(capacity)) : nullptr, capacity) {}
    ~dgFloatKeyHeap() { dgFree(m_owned); }
    dgFloatKeyHeap(const dgFloatKeyHeap&) = delete;
    dgFloatKeyHeap& operator=(const dgFloatKeyHeap&) = delete;

    // Pops every pair into the slot freed behind the heap, then reverses:
    // afterwards pair(0) ... pair(n - 1) are in ascending key order and the
    // heap is empty. Returns n.
    int32_t sort() {
        const int32_t count = getCount();
        for (int32_t i = count - 1; i >= 0; --i) {
            const Entry top = getTop();
            pop();
            m_pairs[i] = top;
        }
        for (int32_t i = 0, j = count - 1; i < j; ++i, --j) {
            const Entry swap = m_pairs[i];
            m_pairs[i] = m_pairs[j];
            m_pairs[j] = swap;
        }
        return count;
    }
    // Pair i of the storage; after sort, the i-th smallest.
    const Entry& pair(int32_t i) const { return m_pairs[i]; }

private:
    struct OwnedTag {};
    dgFloatKeyHeap(OwnedTag, void* owned, int32_t capacity)
        : Base(owned, owned ? bytesFor(capacity) : 0), m_pairs(static_cast<Entry*>(owned)), m_owned(owned) {}

    Entry* m_pairs;
    void* m_owned;
};

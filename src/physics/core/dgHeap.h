// Binary heap of (key, value) entries in a fixed array, for work ordered by a
// float or double key. Max-heaps keep the greatest key on top, min-heaps the
// smallest; a pushed entry rises above entries with an equal key.
//
// Storage is either lent by the caller (scratch memory, never freed here) or
// allocated with dgMalloc and released by the destructor. The capacity is
// fixed: callers keep the count below it (checked only by assertions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "dgAssert.h"
#include "dgMemory.h"

enum class dgHeapOrder { max, min };

template <class Value, class Key>
struct dgHeapEntry {
    Key key;
    Value value;
};

template <class Value, class Key, dgHeapOrder Order>
class dgHeap {
    static_assert(std::is_trivially_copyable<Value>::value && std::is_trivially_copyable<Key>::value,
                  "heap entries are moved as raw words");

public:
    typedef dgHeapEntry<Value, Key> Entry;

    // Owned storage for `capacity` entries (capacity 0 if the allocation fails).
    explicit dgHeap(int32_t capacity)
        : m_count(0),
          m_capacity(0),
          m_ownsStorage(1),
          m_entries(capacity > 0 ? static_cast<Entry*>(dgMalloc(size_t(capacity) * sizeof(Entry)))
                                 : nullptr) {
        if (m_entries) {
            m_capacity = capacity;
        }
    }
    // Borrowed storage: `capacity` entries at `storage`, which must outlive the heap.
    dgHeap(Entry* storage, int32_t capacity)
        : m_count(0), m_capacity(capacity), m_ownsStorage(0), m_entries(storage) {}
    // Borrowed raw buffer (e.g. a dgScratchBuffer) of byteCount bytes.
    dgHeap(void* buffer, size_t byteCount)
        : m_count(0),
          m_capacity(int32_t(byteCount / sizeof(Entry))),
          m_ownsStorage(0),
          m_entries(static_cast<Entry*>(buffer)) {}
    ~dgHeap() {
        if (m_ownsStorage) {
            dgFree(m_entries);
        }
    }
    dgHeap(const dgHeap&) = delete;
    dgHeap& operator=(const dgHeap&) = delete;

    // Bytes a borrowed buffer needs for `capacity` entries.
    static constexpr size_t bytesFor(int32_t capacity) { return size_t(capacity) * sizeof(Entry); }

    int32_t getCount() const { return m_count; }
    int32_t getCapacity() const { return m_capacity; }
    bool isEmpty() const { return m_count == 0; }
    void clear() { m_count = 0; }

    // Top entry; valid while the heap is not empty.
    const Entry& getTop() const { return m_entries[0]; }
    Key getTopKey() const { return m_entries[0].key; }
    const Value& getTopValue() const { return m_entries[0].value; }
    // Entries in heap order (index 0 is the top), for scans.
    const Entry& operator[](int32_t i) const { return m_entries[i]; }

    void push(const Value& value, Key key) {
        DG_ASSERT(m_count < m_capacity);
        // 1-based positions: entry i lives at index i - 1, its parent at i / 2.
        int32_t i = ++m_count;
        while (i > 1) {
            const int32_t parent = i >> 1;
            if (!risesAbove(key, m_entries[parent - 1].key)) {
                break;
            }
            m_entries[i - 1] = m_entries[parent - 1];
            i = parent;
        }
        m_entries[i - 1].key = key;
        m_entries[i - 1].value = value;
    }

    void pop() {
        DG_ASSERT(m_count > 0);
        const int32_t count = --m_count;
        const Entry last = m_entries[count];
        if (count <= 1) {
            m_entries[0] = last;
            return;
        }
        int32_t i = 1;
        int32_t child;
        do {
            child = 2 * i;
            if (child < count && before(m_entries[child].key, m_entries[child - 1].key)) {
                ++child;
            }
            if (!before(m_entries[child - 1].key, last.key)) {
                // last is at least as near the top as the better child.
                break;
            }
            m_entries[i - 1] = m_entries[child - 1];
            i = child;
        } while (child <= count / 2);
        m_entries[i - 1] = last;
    }

private:
    // Strictly nearer the top.
    static bool before(Key a, Key b) { return Order == dgHeapOrder::max ? b < a : a < b; }
    // A pushed key passes its parent unless the parent is strictly nearer the top.
    static bool risesAbove(Key key, Key parentKey) { return !before(parentKey, key); }

    int32_t m_count;
    int32_t m_capacity;
    int32_t m_ownsStorage;
    Entry* m_entries;
};

template <class Value, class Key>
using dgMaxHeap = dgHeap<Value, Key, dgHeapOrder::max>;
template <class Value, class Key>
using dgMinHeap = dgHeap<Value, Key, dgHeapOrder::min>;

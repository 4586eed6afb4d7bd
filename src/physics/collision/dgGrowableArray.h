// Array that grows in whole steps of a fixed granularity when an element past
// its capacity is touched. The used count is kept by the owner, not here: the
// array only knows how much storage it has.
//
// Large steps keep reallocation rare for big meshes (a terrain's hundreds of
// thousands of vertices move a handful of times, not once per doubling).
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "dgAssert.h"
#include "dgMemory.h"

template <class T>
class dgGrowableArray {
    static_assert(std::is_trivially_copyable<T>::value, "elements are moved as raw bytes");

public:
    // Step of the polygon soup builder's arrays.
    static constexpr int32_t kDefaultGranularity = 0x40000;

    explicit dgGrowableArray(int32_t granularity = kDefaultGranularity)
        : m_granularity(granularity > 0 ? granularity : 1), m_capacity(0), m_data(nullptr) {}
    ~dgGrowableArray() { dgFree(m_data); }
    dgGrowableArray(const dgGrowableArray&) = delete;
    dgGrowableArray& operator=(const dgGrowableArray&) = delete;

    // Element i, growing the storage to the next multiple of the granularity
    // above i when i is past the end. Allocation is assumed to succeed here;
    // callers that must survive exhaustion reserve first.
    T& operator[](int32_t i) {
        DG_ASSERT(i >= 0);
        if (i >= m_capacity) {
            const bool grown = reserve(i + 1);
            DG_ASSERT(grown);
            (void)grown;
        }
        return m_data[i];
    }
    // Element i of the storage already there; never grows.
    const T& operator[](int32_t i) const {
        DG_ASSERT((i >= 0) && (i < m_capacity));
        return m_data[i];
    }

    // Makes room for count elements (growing to the next multiple of the
    // granularity that holds them). False, nothing changed, when the count is
    // negative, too large for 32-bit sizes or the block cannot be had.
    bool reserve(int64_t count) {
        if (count <= m_capacity) {
            return count >= 0;
        }
        const int64_t steps = (count - 1) / m_granularity + 1;
        const int64_t capacity = steps * m_granularity;
        if (capacity > int64_t(INT32_MAX / int64_t(sizeof(T)))) {
            return false;
        }
        return resize(int32_t(capacity));
    }

    // New storage of exactly capacity elements holding the first
    // min(old, new) elements of the old storage; 0 frees everything. False,
    // nothing changed, when the block cannot be had.
    bool resize(int32_t capacity) {
        if (capacity <= 0) {
            dgFree(m_data);
            m_data = nullptr;
            m_capacity = 0;
            return capacity == 0;
        }
        T* const storage = static_cast<T*>(dgMalloc(size_t(capacity) * sizeof(T)));
        if (!storage) {
            return false;
        }
        const int32_t kept = (capacity < m_capacity) ? capacity : m_capacity;
        if (kept > 0) {
            std::memcpy(static_cast<void*>(storage), m_data, size_t(kept) * sizeof(T));
        }
        dgFree(m_data);
        m_data = storage;
        m_capacity = capacity;
        return true;
    }

    // Exchanges storage (granularities included) with another array.
    void swap(dgGrowableArray& other) {
        const int32_t granularity = m_granularity;
        const int32_t capacity = m_capacity;
        T* const data = m_data;
        m_granularity = other.m_granularity;
        m_capacity = other.m_capacity;
        m_data = other.m_data;
        other.m_granularity = granularity;
        other.m_capacity = capacity;
        other.m_data = data;
    }

    T* getData() { return m_data; }
    const T* getData() const { return m_data; }
    int32_t getCapacity() const { return m_capacity; }
    int32_t getGranularity() const { return m_granularity; }

private:
    int32_t m_granularity;
    int32_t m_capacity;
    T* m_data;
};

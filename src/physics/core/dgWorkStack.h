// Growable stack of trivially copyable entries for the engine's work lists.
//
// It may start on storage lent by the caller (a scratch buffer or a local
// array, possibly none) and moves to a dgMalloc block of twice the size
// whenever it is full; only that block is owned and freed. A growth that
// fails leaves the stack as it was and reports false, so a caller that runs
// out of memory stops instead of writing past its storage.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dgAssert.h"
#include "dgMemory.h"

template <class T>
class dgWorkStack {
    static_assert(std::is_trivially_copyable<T>::value, "entries are moved with plain copies");

public:
    // Starts on `storage` of `capacity` entries (none when storage is null).
    dgWorkStack(T* storage, int32_t capacity)
        : m_data(storage), m_owned(nullptr), m_count(0), m_capacity(storage ? capacity : 0) {}
    // Starts on an owned block of `capacity` entries; check isValid.
    explicit dgWorkStack(int64_t capacity) : m_data(nullptr), m_owned(nullptr), m_count(0), m_capacity(0) {
        reserve(capacity);
    }
    ~dgWorkStack() { dgFree(m_owned); }
    dgWorkStack(const dgWorkStack&) = delete;
    dgWorkStack& operator=(const dgWorkStack&) = delete;

    // False when the owned start block could not be allocated.
    bool isValid() const { return m_data != nullptr; }
    bool push(const T& value) {
        if ((m_count == m_capacity) && !reserve(m_capacity < 64 ? 128 : 2 * int64_t(m_capacity))) {
            return false;
        }
        m_data[m_count++] = value;
        return true;
    }
    T pop() {
        DG_ASSERT(m_count > 0);
        return m_data[--m_count];
    }
    T& operator[](int32_t i) {
        DG_ASSERT((i >= 0) && (i < m_count));
        return m_data[i];
    }
    int32_t getCount() const { return m_count; }
    void clear() { m_count = 0; }

    // Makes room for `capacity` entries in all; false (nothing changed) when
    // the block cannot be had.
    bool reserve(int64_t capacity) {
        if (capacity <= m_capacity) {
            return true;
        }
        if (capacity > int64_t(INT32_MAX / int64_t(sizeof(T)))) {
            return false;
        }
        T* const bigger = static_cast<T*>(dgMalloc(size_t(capacity) * sizeof(T)));
        if (!bigger) {
            return false;
        }
        for (int32_t i = 0; i < m_count; i++) {
            bigger[i] = m_data[i];
        }
        dgFree(m_owned);
        m_owned = bigger;
        m_data = bigger;
        m_capacity = int32_t(capacity);
        return true;
    }

private:
    T* m_data;
    T* m_owned;
    int32_t m_count;
    int32_t m_capacity;
};

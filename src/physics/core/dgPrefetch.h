// Asking for memory ahead of its use. The engine's rings and lists are
// walked node by node, and in a large island each node read waits on memory:
// a walk that knows the nodes a few steps on asks for them now, while it
// works on the current one. A prefetch changes no value read later.
#pragma once

#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>

constexpr size_t dgCacheLine = 64;

// The cache lines of bytes [offset, offset + bytes) of the object at p; a
// null p asks for nothing.
inline void dgPrefetch(const void* p, size_t offset, size_t bytes) {
    if (!p) {
        return;
    }
    // From the line holding the first byte to the one holding the last.
    const uintptr_t start = reinterpret_cast<uintptr_t>(p) + offset;
    const uintptr_t end = start + bytes;
    for (uintptr_t line = start & ~uintptr_t(dgCacheLine - 1); line < end; line += dgCacheLine) {
        _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0);
    }
}

// Every cache line of *p.
template <class T>
inline void dgPrefetchObject(const T* p) {
    dgPrefetch(p, 0, sizeof(T));
}

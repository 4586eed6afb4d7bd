#include "dgMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

void* dgCrtAllocate(uint32_t size) {
    return std::malloc(size);
}

void dgCrtRelease(void* ptr, uint32_t) {
    std::free(ptr);
}

// Constant-initialised, so valid before any static initialiser allocates.
dgAllocHook g_allocHook = dgCrtAllocate;
dgReleaseHook g_releaseHook = dgCrtRelease;

static_assert(dgMallocHeaderBytes - 15 >= 2 * sizeof(uintptr_t),
              "header must hold two words below the block");
static_assert(dgMallocHeaderBytes % 16 == 0, "blocks must stay 16-byte aligned");

}  // namespace

void dgSetAllocatorHooks(dgAllocHook allocate, dgReleaseHook release) {
    if (!allocate || !release) {
        allocate = dgCrtAllocate;
        release = dgCrtRelease;
    }
    g_allocHook = allocate;
    g_releaseHook = release;
}

void dgGetAllocatorHooks(dgAllocHook* allocate, dgReleaseHook* release) {
    if (allocate) {
        *allocate = g_allocHook;
    }
    if (release) {
        *release = g_releaseHook;
    }
}

void* dgMalloc(size_t size) {
    if (size == 0 || size > size_t(UINT32_MAX - dgMallocHeaderBytes)) {
        return nullptr;
    }
    const uint32_t bytes = uint32_t(size) + dgMallocHeaderBytes;
    void* raw = g_allocHook(bytes);
    if (!raw) {
        return nullptr;
    }
    // Rounding down and adding the header keeps the block inside the hook's
    // bytes and leaves at least two words below it.
    const uintptr_t base = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t block = (base & ~uintptr_t(15)) + dgMallocHeaderBytes;
    uintptr_t* words = reinterpret_cast<uintptr_t*>(block);
    words[-1] = base;
    words[-2] = bytes;
    return reinterpret_cast<void*>(block);
}

void dgFree(void* block) {
    if (!block) {
        return;
    }
    const uintptr_t* words = static_cast<const uintptr_t*>(block);
    g_releaseHook(reinterpret_cast<void*>(words[-1]), uint32_t(words[-2]));
}

void* dgRealloc(void* block, size_t size) {
    if (!block) {
        return dgMalloc(size);
    }
    if (size == 0 || size > size_t(UINT32_MAX - dgMallocHeaderBytes)) {
        return nullptr;
    }
    const uintptr_t* const words = static_cast<const uintptr_t*>(block);
    const uintptr_t base = words[-1];
    const size_t lead = reinterpret_cast<uintptr_t>(block) - base;
    const size_t held = size_t(words[-2]) - lead;
    const size_t keep = held < size ? held : size;
    if ((g_allocHook != dgCrtAllocate) || (g_releaseHook != dgCrtRelease)) {
        void* const moved = dgMalloc(size);
        if (moved) {
            std::memcpy(moved, block, keep);
            dgFree(block);
        }
        return moved;
    }
    const uint32_t bytes = uint32_t(size) + dgMallocHeaderBytes;
    void* const raw = std::realloc(reinterpret_cast<void*>(base), bytes);
    if (!raw) {
        return nullptr;
    }
    const uintptr_t rawBase = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t moved = (rawBase & ~uintptr_t(15)) + dgMallocHeaderBytes;
    // The library keeps its own alignment, which need not be the block's.
    if (moved != rawBase + lead) {
        std::memmove(reinterpret_cast<void*>(moved), reinterpret_cast<const void*>(rawBase + lead), keep);
    }
    uintptr_t* const header = reinterpret_cast<uintptr_t*>(moved);
    header[-1] = rawBase;
    header[-2] = bytes;
    return reinterpret_cast<void*>(moved);
}

dgAllocator::~dgAllocator() {}

void* dgAllocator::alloc(size_t size) {
    return dgMalloc(size);
}

void dgAllocator::free(void* block) {
    dgFree(block);
}

void* dgAllocator::operator new(size_t size) noexcept {
    return dgMalloc(size);
}

void dgAllocator::operator delete(void* ptr) noexcept {
    dgFree(ptr);
}

dgAllocator* dgDefaultAllocator() {
    // Stateless, so it is never torn down: exit handlers of pools and
    // containers may still hand nodes back through it.
    alignas(dgAllocator) static unsigned char storage[sizeof(dgAllocator)];
    static dgAllocator* const instance = new (storage) dgAllocator();
    return instance;
}

dgScratchBuffer::dgScratchBuffer(size_t byteCount) : m_data(dgMalloc(byteCount)) {}

dgScratchBuffer::~dgScratchBuffer() {
    dgFree(m_data);
}

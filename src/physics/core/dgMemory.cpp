#include "dgMemory.h"

#include <cstdlib>
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

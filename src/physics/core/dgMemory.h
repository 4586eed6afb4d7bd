// Physics memory: allocation hooks, 16-byte aligned blocks, the allocator
// interface, the size-keyed block cache and scratch storage.
//
// Every byte the physics engine allocates goes through the two process-wide
// hooks below. Nothing here is synchronised: all of it is used from the one
// thread that drives the world.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Allocation hook: returns at least `size` bytes, or null when out of memory.
typedef void* (*dgAllocHook)(uint32_t size);
// Release hook: receives exactly the pointer the allocation hook returned and
// the size that was asked of it.
typedef void (*dgReleaseHook)(void* ptr, uint32_t size);

// Replaces both hooks. If either is null the C library pair (malloc / free) is
// installed for both, since a foreign allocator must never be paired with
// free(). Blocks are released through whatever pair is current when freed, so
// the hooks must be interchangeable for blocks still in use.
void dgSetAllocatorHooks(dgAllocHook allocate, dgReleaseHook release);
// Current pair (never null). Lets a caller restore what it replaced.
void dgGetAllocatorHooks(dgAllocHook* allocate, dgReleaseHook* release);

// Bytes kept in front of every dgMalloc block: the hook's pointer and the byte
// count asked of the hook, each a pointer-sized word just below the block.
// Rounding the hook's pointer down to 16 and adding this leaves room for both.
constexpr uint32_t dgMallocHeaderBytes = ((2 * sizeof(uintptr_t) + 15) & ~uint32_t(15)) + 16;

// Returns a 16-byte aligned block of `size` bytes. Null for size 0, for sizes
// the 32-bit hook cannot express, and when the allocation hook fails.
void* dgMalloc(size_t size);
// Releases a dgMalloc block through the release hook; null is ignored.
void dgFree(void* block);
// Gives a dgMalloc block (or null, which allocates) `size` bytes, keeping
// the first bytes it held up to the smaller size, and releases the old one.
// Under the C library pair the library's own reallocation moves a large
// block's pages rather than copying them, so memory the block held is not
// written for the first time again. Null, with `block` as it was, when the
// new block cannot be had.
void* dgRealloc(void* block, size_t size);

// Allocator interface. The base class hands out dgMalloc blocks. Allocator
// objects themselves live in dgMalloc blocks (class operator new/delete), so
// `delete allocator` gives the object back through the hooks.
class dgAllocator {
public:
    dgAllocator() = default;
    dgAllocator(const dgAllocator&) = delete;
    dgAllocator& operator=(const dgAllocator&) = delete;
    virtual ~dgAllocator();
    // A block of at least `size` bytes, 16-byte aligned, or null.
    virtual void* alloc(size_t size);
    // Returns a block obtained from alloc() of this allocator; null is ignored
    // by the base class.
    virtual void free(void* block);

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* ptr) noexcept;
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}
};

// The process-wide default allocator (plain dgMalloc / dgFree). Built on first
// use and never destroyed, so it stays valid inside every exit handler.
dgAllocator* dgDefaultAllocator();

// Block cache: the allocation of every reference-counted engine object.
// Returns a 16-byte aligned pointer to at least `size` bytes, or null when the
// hooks fail or size exceeds INT32_MAX - 16. A released block is kept and
// handed out again only for a request of exactly the same size, oldest first;
// cached blocks reach the release hook only at exit or through
// dgMemoryCacheFlush. Once the cache's exit handler has run, blocks pass
// straight through to the hooks, so objects released by later exit handlers
// are still freed safely.
void* dgMemoryCacheAlloc(size_t size);
// Returns a pointer from dgMemoryCacheAlloc to the cache; null is ignored.
void dgMemoryCacheFree(void* ptr);
// Gives every cached block back to the release hook now (what the exit handler
// does). Blocks still handed out are untouched.
void dgMemoryCacheFlush();
// Number of distinct sizes that currently have cached blocks.
int32_t dgMemoryCacheSizeCount();
// Number of cached blocks of exactly `size` bytes.
int32_t dgMemoryCacheBlockCount(size_t size);

// One dgMalloc block for the duration of a scope. A byte count of 0 (or a
// failed allocation) leaves the data pointer null.
class dgScratchBuffer {
public:
    explicit dgScratchBuffer(size_t byteCount);
    ~dgScratchBuffer();
    dgScratchBuffer(const dgScratchBuffer&) = delete;
    dgScratchBuffer& operator=(const dgScratchBuffer&) = delete;
    void* getData() const { return m_data; }

private:
    void* m_data;
};

// Scratch array of `count` elements of T in one dgMalloc block. The storage is
// raw: elements are neither constructed nor destroyed, so T must be trivially
// destructible and the caller writes every element before reading it. When
// the allocation fails (or count <= 0) the data is null and the count 0.
template <class T>
class dgScratchArray {
    static_assert(std::is_trivially_destructible<T>::value, "scratch elements are never destroyed");

public:
    explicit dgScratchArray(int32_t count)
        : m_data(count > 0 ? static_cast<T*>(dgMalloc(size_t(count) * sizeof(T))) : nullptr),
          m_count(m_data ? count : 0) {}
    ~dgScratchArray() { dgFree(m_data); }
    dgScratchArray(const dgScratchArray&) = delete;
    dgScratchArray& operator=(const dgScratchArray&) = delete;

    T& operator[](int32_t i) { return m_data[i]; }
    const T& operator[](int32_t i) const { return m_data[i]; }
    T* getData() const { return m_data; }
    int32_t getCount() const { return m_count; }

private:
    T* m_data;
    int32_t m_count;
};

// Owning holder of one dgMalloc block: releases it on destruction; moving
// transfers the block and leaves the source holding null.
class dgBlockHolder {
public:
    dgBlockHolder() noexcept : m_block(nullptr) {}
    // Allocates byteCount bytes (null on 0 or failure).
    explicit dgBlockHolder(size_t byteCount) : m_block(dgMalloc(byteCount)) {}
    ~dgBlockHolder() { dgFree(m_block); }
    dgBlockHolder(dgBlockHolder&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    dgBlockHolder& operator=(dgBlockHolder&& other) noexcept {
        if (this != &other) {
            dgFree(m_block);
            m_block = other.m_block;
            other.m_block = nullptr;
        }
        return *this;
    }
    dgBlockHolder(const dgBlockHolder&) = delete;
    dgBlockHolder& operator=(const dgBlockHolder&) = delete;

    void* get() const { return m_block; }
    // Takes ownership of a dgMalloc block, releasing the one held before.
    void reset(void* block = nullptr) {
        if (block != m_block) {
            dgFree(m_block);
            m_block = block;
        }
    }
    // Gives up ownership without releasing.
    void* detach() {
        void* block = m_block;
        m_block = nullptr;
        return block;
    }

private:
    void* m_block;
};

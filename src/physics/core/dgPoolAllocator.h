// Fixed-size pools: an allocator handing out equal elements carved from
// pages, with a LIFO free list. A pool gives all its pages back as soon as its
// last element is freed, so a pool that is not in use holds no memory.
//
// Ownership: pools are created on demand (usually one per node size, kept in
// a static pointer by its owner) and are never deleted by their owners; a
// process-wide registry deletes every pool at exit. The registry's exit
// handler is registered by the first pool creation; anything that keeps pool
// elements in a static object must create its pool before that object is
// complete (containers do it in their constructors), so that the object is
// torn down before the pools are.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgMemory.h"

struct dgPoolCore;

class dgPoolAllocator : public dgAllocator {
public:
    // Releases every page, the core and (through delete) the pool object.
    ~dgPoolAllocator() override;
    // One element of getElementBytes() bytes, 16-byte aligned; size is ignored.
    // Null only when a new page could not be allocated.
    void* alloc(size_t size) override;
    // Returns one element of this pool (the most recently freed is handed out
    // next). Null is ignored.
    void free(void* element) override;

    // Geometry and state, for diagnostics and tests.
    uint32_t getElementBytes() const;
    int32_t getElementsPerPage() const;
    uint32_t getPageBytes() const;       // kilobytes per page * 1024
    uint32_t getPageAllocBytes() const;  // bytes asked of dgMalloc per page
    int32_t getPageCount() const;
    int32_t getInUse() const;
    // True for the pools handed out by dgSharedPoolAllocator.
    bool isShared() const;

private:
    friend dgPoolAllocator* dgCreatePoolAllocator(uint32_t elementSize, uint32_t kilobytesPerPage);
    friend dgAllocator* dgSharedPoolAllocator(size_t elementSize);
    explicit dgPoolAllocator(dgPoolCore* core) : m_core(core) {}
    dgPoolCore* m_core;
};

// New pool of elements of elementSize bytes (rounded up to 16) with pages of
// kilobytesPerPage KB (a page holds at least one element). Registered for
// deletion at exit. Null if the pool itself cannot be allocated.
dgPoolAllocator* dgCreatePoolAllocator(uint32_t elementSize, uint32_t kilobytesPerPage);

// Pool with 4 KB pages shared by every caller asking for the same element
// size (after rounding to 16), created on first request. Containers take
// their node pools from here. Null only when out of memory.
dgAllocator* dgSharedPoolAllocator(size_t elementSize);

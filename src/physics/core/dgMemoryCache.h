// The block cache behind dgMemoryCacheAlloc / dgMemoryCacheFree: released
// blocks are filed by size and handed out again for a request of exactly the
// same size, oldest first. Cached memory goes back to the hooks only at exit
// (or through flush).
//
// Block layout: a 16-byte header whose first word is the requested size, the
// user pointer 16 bytes into a dgMalloc block, so objects stay 16-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgRbTree.h"
#include "dgRefList.h"

class dgMemoryCache {
public:
    static constexpr uint32_t kHeaderBytes = 16;

    // Built on first use; its exit handler gives every cached block back.
    static dgMemoryCache& instance();
    ~dgMemoryCache();
    dgMemoryCache(const dgMemoryCache&) = delete;
    dgMemoryCache& operator=(const dgMemoryCache&) = delete;

    void* alloc(size_t size);
    void free(void* ptr);
    // Gives every cached block to dgFree, ascending by size, oldest first.
    void flush();

    int32_t getSizeCount() const { return m_sizes.getCount(); }
    int32_t getBlockCount(size_t size) const;

private:
    typedef dgRefList<void*> BlockList;
    typedef dgRbTree<BlockList, int32_t> SizeTree;

    dgMemoryCache();

    SizeTree m_sizes;
    dgAllocator* m_listAllocator;
};

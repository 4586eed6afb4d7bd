#include "dgMemoryCache.h"

#include <cstring>

#include "dgMemory.h"

namespace {

inline char* dgCacheBlockOf(void* ptr) {
    return static_cast<char*>(ptr) - dgMemoryCache::kHeaderBytes;
}

// Set once the cache's exit handler has run. Objects released by exit handlers
// that run later (holders built before the cache) must not touch the torn-down
// tree or its pools: their blocks go straight back to the hooks.
bool g_cacheClosed = false;

void* dgUncachedAlloc(size_t size) {
    if (size > size_t(INT32_MAX) - dgMemoryCache::kHeaderBytes) {
        return nullptr;
    }
    char* block = static_cast<char*>(dgMalloc(size + dgMemoryCache::kHeaderBytes));
    if (!block) {
        return nullptr;
    }
    const uint32_t word = uint32_t(size);
    std::memcpy(block, &word, sizeof(word));
    return block + dgMemoryCache::kHeaderBytes;
}

}  // namespace

dgMemoryCache& dgMemoryCache::instance() {
    // The size tree takes its node pool while this is being built, so the
    // pool registry's exit handler runs after this one.
    static dgMemoryCache cache;
    return cache;
}

// The list-node pool must exist before this object is complete too.
dgMemoryCache::dgMemoryCache()
    : m_sizes(nullptr), m_listAllocator(dgSharedPoolAllocator(sizeof(BlockList::Node))) {}

dgMemoryCache::~dgMemoryCache() {
    flush();
    g_cacheClosed = true;
}

void* dgMemoryCache::alloc(size_t size) {
    // The size doubles as a signed 32-bit tree key.
    if (size > size_t(INT32_MAX) - kHeaderBytes) {
        return nullptr;
    }
    const int32_t key = int32_t(size);
    if (SizeTree::Node* node = m_sizes.find(key)) {
        BlockList& list = node->getPayload();
        BlockList::Node* entry = list.getFirst();
        void* ptr = entry->getValue();
        list.remove(entry);
        if (list.getCount() == 0) {
            m_sizes.remove(node);
        }
        return ptr;
    }
    return dgUncachedAlloc(size);
}

void dgMemoryCache::free(void* ptr) {
    if (!ptr) {
        return;
    }
    uint32_t word;
    std::memcpy(&word, dgCacheBlockOf(ptr), sizeof(word));
    const int32_t key = int32_t(word);
    SizeTree::Node* node = m_sizes.find(key);
    if (!node) {
        node = m_sizes.insert(BlockList(m_listAllocator), key);
    }
    // Without a node to file it in, the block goes straight back.
    if (!node || !node->getPayload().append(ptr)) {
        if (node && node->getPayload().getCount() == 0) {
            m_sizes.remove(node);
        }
        dgFree(dgCacheBlockOf(ptr));
    }
}

void dgMemoryCache::flush() {
    for (SizeTree::Node* node : m_sizes) {
        for (BlockList::Node* entry = node->getPayload().getFirst(); entry; entry = entry->getNext()) {
            dgFree(dgCacheBlockOf(entry->getValue()));
        }
    }
    // Each tree node's destructor empties its list into the list-node pool.
    m_sizes.removeAll();
}

int32_t dgMemoryCache::getBlockCount(size_t size) const {
    if (size > size_t(INT32_MAX)) {
        return 0;
    }
    SizeTree::Node* node = m_sizes.find(int32_t(size));
    return node ? node->getPayload().getCount() : 0;
}

void* dgMemoryCacheAlloc(size_t size) {
    return g_cacheClosed ? dgUncachedAlloc(size) : dgMemoryCache::instance().alloc(size);
}

void dgMemoryCacheFree(void* ptr) {
    if (!ptr) {
        return;
    }
    if (g_cacheClosed) {
        dgFree(dgCacheBlockOf(ptr));
    } else {
        dgMemoryCache::instance().free(ptr);
    }
}

void dgMemoryCacheFlush() {
    if (!g_cacheClosed) {
        dgMemoryCache::instance().flush();
    }
}

int32_t dgMemoryCacheSizeCount() {
    return g_cacheClosed ? 0 : dgMemoryCache::instance().getSizeCount();
}

int32_t dgMemoryCacheBlockCount(size_t size) {
    return g_cacheClosed ? 0 : dgMemoryCache::instance().getBlockCount(size);
}

#include "dgPoolAllocator.h"

#include <cstring>
#include <new>

#include "dgRefList.h"

namespace {

// One page: elements are carved in address order from the block.
struct dgPoolPage {
    int32_t used;
    dgBlockHolder block;

    explicit dgPoolPage(void* memory) : used(0) { block.reset(memory); }
};

}  // namespace

struct dgPoolCore {
    // Page nodes come from the default allocator, never from a pool.
    dgRefList<dgPoolPage> pages;
    int32_t inUse;
    uint32_t pageBytes;
    int32_t elementsPerPage;
    uint32_t elementBytes;
    uint32_t pageAllocBytes;
    void* freeList;
    bool shared;

    dgPoolCore()
        : pages(dgDefaultAllocator()),
          inUse(0),
          pageBytes(0),
          elementsPerPage(0),
          elementBytes(0),
          pageAllocBytes(0),
          freeList(nullptr),
          shared(false) {}
};

namespace {

// Shared pools by element size, in 16-byte steps; larger sizes are found by
// scanning the registry.
constexpr uint32_t kSharedSlots = 512;
dgAllocator* g_sharedPools[kSharedSlots];

class dgPoolRegistry {
public:
    dgPoolRegistry() : m_pools(dgDefaultAllocator()) {}
    ~dgPoolRegistry() {
        for (auto* node = m_pools.getFirst(); node; node = node->getNext()) {
            delete node->getValue();
        }
        m_pools.removeAll();
        std::memset(g_sharedPools, 0, sizeof(g_sharedPools));
    }

    bool add(dgPoolAllocator* pool) { return m_pools.prepend(pool) != nullptr; }

    dgPoolAllocator* findShared(uint32_t elementBytes, uint32_t pageBytes) const;

private:
    dgRefList<dgPoolAllocator*> m_pools;
};

dgPoolRegistry& dgGetPoolRegistry() {
    // Built by the first pool creation; its exit handler therefore runs after
    // those of every object that took a pool while being built.
    static dgPoolRegistry registry;
    return registry;
}

uint32_t dgRoundElementBytes(uint64_t elementSize) {
    // Room for the pointer-sized free-list link in every element.
    if (elementSize < sizeof(void*)) {
        elementSize = sizeof(void*);
    }
    return uint32_t((elementSize + 15) & ~uint64_t(15));
}

}  // namespace

dgPoolAllocator* dgPoolRegistry::findShared(uint32_t elementBytes, uint32_t pageBytes) const {
    for (auto* node = m_pools.getFirst(); node; node = node->getNext()) {
        dgPoolAllocator* pool = node->getValue();
        if (pool->isShared() && pool->getElementBytes() == elementBytes &&
            pool->getPageBytes() == pageBytes) {
            return pool;
        }
    }
    return nullptr;
}

dgPoolAllocator* dgCreatePoolAllocator(uint32_t elementSize, uint32_t kilobytesPerPage) {
    const uint64_t elementBytes = dgRoundElementBytes(elementSize);
    const uint64_t pageBytes = uint64_t(kilobytesPerPage) << 10;
    uint64_t elementsPerPage = pageBytes / elementBytes;
    if (elementsPerPage == 0) {
        elementsPerPage = 1;
    }
    uint64_t pageAllocBytes = elementsPerPage * elementBytes;
    if (pageAllocBytes < pageBytes) {
        pageAllocBytes = pageBytes;
    }
    // dgMalloc takes 32-bit sizes; larger pages could never be allocated.
    if (pageAllocBytes > uint64_t(INT32_MAX)) {
        return nullptr;
    }

    dgPoolRegistry& registry = dgGetPoolRegistry();

    void* coreMemory = dgMalloc(sizeof(dgPoolCore));
    if (!coreMemory) {
        return nullptr;
    }
    dgPoolCore* core = new (coreMemory) dgPoolCore();
    core->elementBytes = uint32_t(elementBytes);
    core->pageBytes = uint32_t(pageBytes);
    core->elementsPerPage = int32_t(elementsPerPage);
    core->pageAllocBytes = uint32_t(pageAllocBytes);

    dgPoolAllocator* pool = new dgPoolAllocator(core);
    if (!pool) {
        core->~dgPoolCore();
        dgFree(core);
        return nullptr;
    }
    if (!registry.add(pool)) {
        delete pool;
        return nullptr;
    }
    return pool;
}

dgAllocator* dgSharedPoolAllocator(size_t elementSize) {
    if (elementSize > size_t(INT32_MAX)) {
        return nullptr;
    }
    const uint32_t elementBytes = dgRoundElementBytes(elementSize);
    const uint32_t slot = elementBytes / 16 - 1;
    if (slot < kSharedSlots) {
        if (!g_sharedPools[slot]) {
            dgPoolAllocator* pool = dgCreatePoolAllocator(elementBytes, 4);
            if (pool) {
                pool->m_core->shared = true;
            }
            g_sharedPools[slot] = pool;
        }
        return g_sharedPools[slot];
    }
    if (dgPoolAllocator* pool = dgGetPoolRegistry().findShared(elementBytes, 4u << 10)) {
        return pool;
    }
    dgPoolAllocator* pool = dgCreatePoolAllocator(elementBytes, 4);
    if (pool) {
        pool->m_core->shared = true;
    }
    return pool;
}

dgPoolAllocator::~dgPoolAllocator() {
    m_core->pages.removeAll();
    m_core->~dgPoolCore();
    dgFree(m_core);
}

void* dgPoolAllocator::alloc(size_t) {
    dgPoolCore& core = *m_core;
    if (void* element = core.freeList) {
        std::memcpy(&core.freeList, element, sizeof(void*));
        ++core.inUse;
        return element;
    }
    dgRefList<dgPoolPage>::Node* page = core.pages.getFirst();
    if (!page || page->getValue().used == core.elementsPerPage) {
        void* memory = dgMalloc(core.pageAllocBytes);
        if (!memory) {
            return nullptr;
        }
        page = core.pages.prepend(memory);
        if (!page) {
            dgFree(memory);
            return nullptr;
        }
    }
    dgPoolPage& current = page->getValue();
    void* element =
        static_cast<char*>(current.block.get()) + size_t(core.elementBytes) * size_t(current.used);
    ++current.used;
    ++core.inUse;
    return element;
}

void dgPoolAllocator::free(void* element) {
    if (!element) {
        return;
    }
    dgPoolCore& core = *m_core;
    std::memcpy(element, &core.freeList, sizeof(void*));
    core.freeList = element;
    if (--core.inUse == 0) {
        // Nothing handed out: give every page back.
        core.pages.removeAll();
        core.freeList = nullptr;
    }
}

uint32_t dgPoolAllocator::getElementBytes() const {
    return m_core->elementBytes;
}
int32_t dgPoolAllocator::getElementsPerPage() const {
    return m_core->elementsPerPage;
}
uint32_t dgPoolAllocator::getPageBytes() const {
    return m_core->pageBytes;
}
uint32_t dgPoolAllocator::getPageAllocBytes() const {
    return m_core->pageAllocBytes;
}
int32_t dgPoolAllocator::getPageCount() const {
    return m_core->pages.getCount();
}
int32_t dgPoolAllocator::getInUse() const {
    return m_core->inUse;
}
bool dgPoolAllocator::isShared() const {
    return m_core->shared;
}

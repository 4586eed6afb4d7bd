// Storage for the world's bodies, joints, contacts and joint links: pages of
// 64 objects of one type, with a free list of returned objects.
//
// Taking an object hands out the most recently returned one first, else the
// next unused slot of the newest page, a new page being added when that one is
// full. Pages are kept until the list is destroyed (with its world), so that
// creation and destruction in the steady state allocate nothing. The list only
// hands out storage: the caller constructs and destroys the objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "dgAssert.h"
#include "dgPoolAllocator.h"

template <class T>
class dgPageList {
public:
    static constexpr int32_t kObjectsPerPage = 64;

    dgPageList() : m_pageCount(0), m_newest(nullptr), m_oldest(nullptr), m_free(nullptr), m_freeCount(0) {
        // Taken now so that the pool outlives every list that uses it.
        pagePool();
    }
    ~dgPageList() { releasePages(); }
    dgPageList(const dgPageList&) = delete;
    dgPageList& operator=(const dgPageList&) = delete;

    // Uninitialised storage for one T, or null when a new page cannot be had.
    void* take() {
        if (m_free) {
            FreeSlot* slot = m_free;
            m_free = slot->next;
            --m_freeCount;
            return slot;
        }
        if (!m_newest || (m_newest->used == kObjectsPerPage)) {
            void* memory = pagePool()->alloc(sizeof(Page));
            if (!memory) {
                return nullptr;
            }
            Page* page = ::new (memory) Page();
            page->older = m_newest;
            page->used = 0;
            if (!m_oldest) {
                m_oldest = page;
            }
            m_newest = page;
            ++m_pageCount;
        }
        return &m_newest->slots[size_t(m_newest->used++) * sizeof(T)];
    }

    // Files the storage of an object already destroyed by its owner; the next
    // take hands it out again. Null is ignored.
    void give(void* storage) {
        if (!storage) {
            return;
        }
        DG_ASSERT(owns(storage));
        FreeSlot* slot = ::new (storage) FreeSlot();
        slot->next = m_free;
        m_free = slot;
        ++m_freeCount;
    }

    int32_t getPageCount() const { return m_pageCount; }
    int32_t getFreeCount() const { return m_freeCount; }
    // Objects handed out and not given back.
    int32_t getInUse() const {
        if (!m_newest) {
            return 0;
        }
        return (m_pageCount - 1) * kObjectsPerPage + m_newest->used - m_freeCount;
    }

    // True when storage is a slot of one of this list's pages.
    bool owns(const void* storage) const {
        const unsigned char* p = static_cast<const unsigned char*>(storage);
        for (const Page* page = m_newest; page; page = page->older) {
            if ((p >= page->slots) && (p < page->slots + sizeof(page->slots))) {
                return ((p - page->slots) % sizeof(T)) == 0;
            }
        }
        return false;
    }

private:
    // A returned object's storage holds the link of the free list.
    struct FreeSlot {
        FreeSlot* next;
    };
    static_assert(sizeof(T) >= sizeof(FreeSlot), "a slot must hold the free-list link");

    struct Page {
        Page* older;
        int32_t used;
        alignas(T) unsigned char slots[kObjectsPerPage * sizeof(T)];
    };
    static_assert(alignof(Page) <= 16, "pool elements are 16-byte aligned");

    // One pool per page size, shared by every world.
    static dgAllocator* pagePool() {
        static dgAllocator* const pool = dgSharedPoolAllocator(sizeof(Page));
        return pool;
    }

    void releasePages() {
        Page* page = m_newest;
        while (page) {
            Page* older = page->older;
            page->~Page();
            pagePool()->free(page);
            page = older;
        }
        m_newest = nullptr;
        m_oldest = nullptr;
        m_pageCount = 0;
        m_free = nullptr;
        m_freeCount = 0;
    }

    int32_t m_pageCount;
    Page* m_newest;
    Page* m_oldest;
    FreeSlot* m_free;
    int32_t m_freeCount;
};

// Storage of one joint class in a world: the world's page list of that class
// (64 joints a page, returned joints reused first), making each joint in its
// slot and unmaking it when it goes back. Every pooled joint class (ball,
// hinge, slider, corkscrew, universal, up-vector) lives in one of these.
#pragma once

#include <cstdint>
#include <new>

#include "dgPageList.h"

template <class T>
class dgJointPool {
public:
    // A joint made by T's default constructor in a free slot; null when no
    // page can be had.
    T* take() {
        void* storage = m_pages.take();
        return storage ? ::new (storage) T() : nullptr;
    }

    // Unmakes the joint and files its slot for the next take. The joint must
    // be detached from its bodies. Null is ignored.
    void give(T* joint) {
        if (!joint) {
            return;
        }
        joint->~T();
        m_pages.give(joint);
    }

    // Joints handed out and not given back.
    int32_t getInUse() const { return m_pages.getInUse(); }
    int32_t getPageCount() const { return m_pages.getPageCount(); }

private:
    dgPageList<T> m_pages;
};

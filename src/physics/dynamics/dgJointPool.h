// Storage of one joint class in a world: the world's page list of that class
// (64 joints a page, returned joints reused first), making each joint in its
// slot and unmaking it when it goes back. Every pooled joint class (ball,
// hinge, slider, corkscrew, universal, up-vector, vehicle) lives in one of
// these.
#pragma once

#include <cstdint>
#include <new>

#include "dgPageList.h"

class dgBody;
class dgConstraint;
class dgWorld;
bool dgWorldAttachConstraint(dgWorld* world, dgConstraint* joint, dgBody* body0, dgBody* body1);
void dgWorldDestroyConstraint(dgWorld* world, dgConstraint* joint);

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

// The one way a pooled joint is made: taken from its pool, attached to its
// bodies, then set up by setup(joint) (its frames from the pivot and pins),
// which answers whether the joint can stand. Null when no slot or no
// attachment can be had (the slot goes back) or the set-up fails (the joint
// is destroyed again, its release undoing what the set-up did).
template <class T, class Setup>
T* dgWorldCreatePooledJoint(dgWorld* world, dgJointPool<T>& pool, dgBody* body0, dgBody* body1, Setup&& setup) {
    T* const joint = pool.take();
    if (!joint) {
        return nullptr;
    }
    if (!dgWorldAttachConstraint(world, joint, body0, body1)) {
        pool.give(joint);
        return nullptr;
    }
    if (!setup(*joint)) {
        dgWorldDestroyConstraint(world, joint);
        return nullptr;
    }
    return joint;
}

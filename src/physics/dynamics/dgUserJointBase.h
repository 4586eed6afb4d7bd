// The base of the application's own joint classes: a two-body joint on the
// heap (allocation hooks, not the world's pages) that attaches itself to its
// bodies when made and frees itself when released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "dgBilateralJoint.h"
#include "dgMemory.h"

class dgWorld;

class dgUserJointBase : public dgBilateralJoint {
public:
    // A T (derived from dgUserJointBase, constructed with world, body0, body1,
    // typeOffset and then args) in a dgMalloc block, attached to its bodies.
    // Null when the block cannot be had or the world refuses the attachment
    // (null body0, body0 == body1, no links); nothing is left behind then.
    template <class T, class... A>
    static T* create(dgWorld* world, dgBody* body0, dgBody* body1, int32_t typeOffset, A&&... args) {
        T* joint = new T(world, body0, body1, typeOffset, std::forward<A>(args)...);
        if (joint && !joint->m_link) {
            delete joint;
            return nullptr;
        }
        return joint;
    }

    // Calls the destructor callback, when one is set, then destroys the joint
    // and frees its block. The joint must be detached from its bodies.
    void release() override;

    static void* operator new(size_t size) noexcept { return dgMalloc(size); }
    static void operator delete(void* block) noexcept { dgFree(block); }
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

protected:
    // reset, type id dgJointTypeDefault + typeOffset, the bodies, island stamp
    // 0, max rows 6, collision state 0, no user data, callback or link; then
    // the world attaches the joint (m_link stays null when it refuses).
    dgUserJointBase(dgWorld* world, dgBody* body0, dgBody* body1, int32_t typeOffset);
    ~dgUserJointBase() override;
};

// Callback types and container types shared by the world, the bodies and the
// collision layer. Every callback is a plain function pointer, called on the
// thread that steps the world.
#pragma once

#include <cstdint>

#include "dgCollision.h"
#include "dgMemory.h"
#include "dgRbTree.h"

class dgBody;
class dgWorld;

// The allocation pair given at world creation (see dgSetAllocatorHooks).
typedef dgAllocHook dgAllocMemoryCallback;
typedef dgReleaseHook dgFreeMemoryCallback;

// Once per step for each awake body, after its force and torque were cleared;
// the callback sets or adds force and torque.
typedef void (*dgBodyForceAndTorqueCallback)(dgBody* body);
// After the step moved an awake body: the body's new matrix, 16 floats in row
// order (rows 0-2 the axes, row 3 the position).
typedef void (*dgBodyTransformCallback)(dgBody* body, const float* matrix);
// When a body enters (state 1) or leaves (state 0) the awake set.
typedef void (*dgBodyActivationCallback)(dgBody* body, uint32_t state);
// When the body is destroyed, before anything else happens to it.
typedef void (*dgBodyDestructorCallback)(dgBody* body);
// For a body found outside the world box, after it was frozen.
typedef void (*dgBodyOutOfBoundsCallback)(dgBody* body);
// Once per body of an iteration.
typedef void (*dgBodyIteratorCallback)(dgBody* body);
// For each body a ray hits closer than the current limit: (body, world-space
// unit normal as three floats, the hit's 32-bit attribute, the caller's user
// data, ray parameter of the hit) -> the new limit.
typedef float (*dgWorldRayFilterCallback)(dgBody* body, const float* normal, uint32_t collisionId,
                                          void* userData, float t);
// Asked before a body's shape is ray cast: (body, shape, user data) -> 0 skips it.
typedef dgCollisionRayPrefilter dgWorldRayPrefilterCallback;

// Body sets of the world keyed by the body's address (the body tree, the
// active-body tree, the vehicle work list). The payload is the body itself.
typedef dgRbTree<dgBody*, uintptr_t> dgBodyTree;

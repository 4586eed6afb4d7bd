// Types shared by the world, the bodies and the collision layer: the
// callback types of the public header and the world's body sets.
#pragma once

#include <cstdint>
#include <type_traits>

#include "dgMemory.h"
#include "dgPhysics.h"
#include "dgRbTree.h"

class dgBody;
class dgWorld;

static_assert(std::is_same<dgAllocMemoryCallback, dgAllocHook>::value &&
                  std::is_same<dgFreeMemoryCallback, dgReleaseHook>::value,
              "the public hooks are the memory layer's");

// The collision layer's name for the ray prefilter.
typedef dgWorldRayPrefilterCallback dgCollisionRayPrefilter;

// Body sets of the world keyed by dgBodyKey (the body tree, the active-body
// tree, the vehicle work list, the deferred bodies). The payload is the body
// itself.
typedef dgRbTree<dgBody*, uintptr_t> dgBodyTree;

// What the collision layer uses of the dynamics layer, and the one header of
// dynamics that collision sources may include (checked by the build's layer
// test): the body record (placement, collision matrix, velocities, box,
// stamps, flags, shape, callbacks), the world record (collision cache, class
// identities, point shape, workspace) and the world services built on them
// (dgCreateSphere, dgWorldCreateConvexModifier, dgBodyUpdateCollisionMatrix
// and the rest declared beside the records).
#pragma once

#include "dgBody.h"
#include "dgWorld.h"

// What the collision layer uses of the dynamics layer, and the one header of
// dynamics that collision sources may include besides the callback types of
// dgPhysicsTypes.h (checked by the build's layer test): the body record
// (placement, collision matrix, velocities, box, stamps, flags, shape, joint
// ring, callbacks), the world record (broad phase, material table, collision
// cache, class identities, point shape, workspace, contact joints), the
// joints and links (dgConstraint, dgContact) and the world services built on
// them (dgCreateSphere, dgBodyUpdateCollisionMatrix, dgNewContact,
// dgWorldAttachConstraint, dgWorldGetJointedBodies and the rest declared
// beside the records).
#pragma once

#include "dgBody.h"
#include "dgConstraint.h"
#include "dgContact.h"
#include "dgWorld.h"

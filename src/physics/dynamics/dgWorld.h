// The physics world: owner of the bodies, joints and contacts, the material
// pairs, the broad phase, the collision cache and the solver workspace.
//
// A world is made by dgWorldCreate in a dgMalloc block and destroyed by
// dgWorldDestroy; it is used from one thread only. Some of its parts arrive
// with later layers of the engine: the places they take in the record are
// marked below.
#pragma once

#include <cstdint>

#include "dgBallJoint.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCollisionCache.h"
#include "dgConstraint.h"
#include "dgContact.h"
#include "dgCorkscrewJoint.h"
#include "dgHingeJoint.h"
#include "dgJointPool.h"
#include "dgMaterialPair.h"
#include "dgPageList.h"
#include "dgPhysics.h"
#include "dgPhysicsTypes.h"
#include "dgSliderJoint.h"
#include "dgUniversalJoint.h"
#include "dgUpVectorJoint.h"
#include "dgVehicleJoint.h"
#include "dgVehicleSet.h"

class dgCollision;
class dgCollisionPoint;
struct dgConstraintSolver;

class dgWorld {
public:
    // Bodies the workspace holds at least; the pair exclusion gathers at most
    // this many jointed bodies.
    static constexpr int32_t kMinWorkspaceBodies = 512;

    // Empty pages, trees and broad phase; the default material group; the
    // solver workspace; class identities copied; the broad phase bound to
    // this world; settings at their defaults (see the fields), SIMD flag from
    // dgCpuHasSimd; and the point shape (radius 1, identity offset, signature
    // 0x12344321) when it can be allocated.
    dgWorld();
    // Releases the point shape, removes every material pair, frees the
    // solver workspace, releases the contact joints left and every page, the
    // collision cache's shapes and the trees. The interface world has
    // destroyed every body before (see dgApiWorld).
    ~dgWorld();
    dgWorld(const dgWorld&) = delete;
    dgWorld& operator=(const dgWorld&) = delete;

    // ---- fields, in record order ----

    // Links that chain joints into their bodies' joint rings.
    dgPageList<dgJointLink> m_linkPages;
    // Bound to this world at construction.
    dgBroadPhase m_broadPhase;

    // Every body of the world; the body count is its node count.
    dgBodyTree m_bodyTree;
    // The awake bodies; a body keeps its node (null while frozen).
    dgBodyTree m_activeBodyTree;
    // Material-pair records keyed by dgMaterialPairKey.
    dgMaterialPairTree m_materialTree;

    // Shared shapes keyed by signature; the factory and the release through
    // the world (dgCollisionCache.h) keep it. Owns one reference of each.
    dgCollisionCache m_collisionCache;

    // Storage of the world's bodies.
    dgPageList<dgBody> m_bodyPages;
    // Contact joints, the list of all of them (each joint keeps its node)
    // and the queue of those found stale in the current step.
    dgPageList<dgContact> m_contactPages;
    dgContactList m_contactList;
    dgContactList m_staleContacts;
    // The pooled joints, one page list each.
    dgJointPool<dgBallJoint> m_ballPool;
    dgJointPool<dgHingeJoint> m_hingePool;
    dgJointPool<dgSliderJoint> m_sliderPool;
    dgJointPool<dgUpVectorJoint> m_upVectorPool;
    dgJointPool<dgCorkscrewJoint> m_corkscrewPool;
    dgJointPool<dgUniversalJoint> m_universalPool;
    dgJointPool<dgVehicleJoint> m_vehiclePool;

    // Compound-pair tree: the vehicle work list of the compound contact path,
    // keyed by body address, consumed at the end of every broad-phase update.
    dgBodyTree m_vehicleWorkList;
    // The vehicle joints, sub-stepped by the solver; empty until vehicles exist.
    dgVehicleSet m_vehicleSet;

    // Step stamp (also the collision stamp and the solver's frame counter):
    // starts at 2, +1 by the broad phase's force pass, +2 by the solver.
    uint64_t m_stepStamp;
    // 1 while a step runs.
    uint32_t m_busy;
    // 0 full iteration count, 1 16 + sqrt(n - 16) passes, k >= 2 at most k.
    int32_t m_solverIterationMode;
    // Handed to the solver each step.
    uint32_t m_solverOption;
    // Class identities of the shape classes, taken at construction.
    uint32_t m_boxClassId;
    uint32_t m_nullClassId;
    uint32_t m_coneClassId;
    uint32_t m_sphereClassId;
    uint32_t m_convexClassId;
    uint32_t m_ellipseClassId;
    uint32_t m_capsuleClassId;
    uint32_t m_cylinderClassId;
    uint32_t m_convexHullClassId;
    uint32_t m_chamferCylinderClassId;
    uint32_t m_convexModifierClassId;
    uint32_t m_compoundClassId;
    uint32_t m_polygonSoupClassId;
    // Number of material groups created.
    uint32_t m_materialGroupCount;
    // Joints attached.
    uint32_t m_jointCount;
    // Bodies alive.
    uint32_t m_bodyCount;
    // Cleared at the start of every step, raised by the solver.
    uint32_t m_stepCounter;
    // Island solves whose forces came out non-finite, since the world was
    // made (dgWorldGetNonFiniteIslandCount).
    uint32_t m_nonFiniteIslands;
    // Group id of the default material group.
    uint32_t m_defaultMaterialGroup;
    // Raised by one for every body created; the new value is the body's serial.
    uint32_t m_bodySerial;
    // Raised by one for every joint attached; the new value is its serial.
    uint64_t m_jointSerial;
    // Seconds of the current (or last) step, and its reciprocal; 0 before the
    // first step.
    float m_timeStep;
    float m_invTimeStep;
    // Copied into every new body: 0.01, 0.01, 0.001, 0.001.
    float m_defaultFreezeThresholds[4];
    // Read by both solvers; never below 0.01.
    float m_solverTolerance;
    // The application's value; the engine never reads it.
    void* m_userData;
    // 1 selects the SIMD solver, 0 the scalar one.
    int32_t m_simdFlag;
    // Called by the broad phase for a body that left the world box; may be null.
    dgBodyOutOfBoundsCallback m_outOfBounds;
    // The solver workspace: a dgMalloc block of at least
    // kMinWorkspaceBodies body pointers, also the contact pass's scratch for
    // jointed bodies and the start of the broad-phase refresh's stack.
    void* m_solverWorkspace;
    // The island solver's workspace (dgConstraintSolver.h); null when it could
    // not be allocated, and then no island is solved.
    dgConstraintSolver* m_solver;
    // The world's point shape for the point-distance query; null when the
    // world has none.
    dgCollisionPoint* m_pointCollision;
};

// dgWorldCreate builds the interface world (dgApiWorld.h) in a dgMalloc
// block; it and dgWorldDestroy are declared in the public header with the
// other world functions (dgWorldGetTimeStep, dgWorldSetSimdMode,
// dgWorldSetOutOfBoundsCallback, dgWorldFreezeBody, dgWorldUnfreezeBody).

// ---- bodies and the step ----

// A new body holding a reference of shape: awake, auto-freeze, equilibrium
// and direct-link bits set; the world's freeze thresholds; damping 0.1045
// (linear and per axis, stored x 0.02); the default material group;
// immovable (mass 2e15, inertia 1e15) until its mass is set; filed in the
// broad phase at the identity matrix. Null without a shape or when storage
// cannot be had (nothing changed then).
dgBody* dgWorldCreateBody(dgWorld* world, dgCollision* shape);

// Moves body to matrix and every body jointed to it (at most 512, see
// dgWorldGetJointedBodies) by the same rigid motion. Each moved body keeps
// its active and auto-freeze bits, enters the active-body tree without an
// activation call, loses the equilibrium bit and stops (velocity and omega
// zero). The out-of-bounds callback is held back meanwhile.
void dgWorldSetBodyMatrix(dgWorld* world, dgBody* body, const dgMatrix& matrix);

// One solver step of timestep seconds (> 0): busy flag, step counter 0,
// 24-bit precision for its duration, time step and its inverse, the broad
// phase's update, then the SIMD or the scalar solver by the SIMD flag.
void dgWorldStep(dgWorld* world, float timestep);

// The flat world functions and shape factories (dgWorldCreate, dgCreateBox
// and the rest) are declared in dgPhysics.h.

// ---- joints ----

// Takes two links from the link pages and makes them a pair (the first for
// body0, the second for body1), records body0, body1 and the first link in the
// joint, clears its island stamp, and puts each link into its body's joint
// ring (at the ring's end). The equilibrium bit of each body becomes
// (inverse mass == 0). Joint count + 1. Refuses (false, nothing changed) a
// null body0, body0 == body1, or links that cannot be allocated.
bool dgWorldAttachConstraint(dgWorld* world, dgConstraint* joint, dgBody* body0, dgBody* body1);

// The first link in body0's ring whose other body is body1; null when none.
// The ring is walked once around.
dgJointLink* dgWorldFindJointLink(dgBody* body0, dgBody* body1);
// The next link after `link`, in the same ring, whose other body is body;
// null when the walk comes back to the ring's head.
dgJointLink* dgWorldFindBodyLink(dgJointLink* link, dgBody* body);

// The bodies tied to body through joints that answer isBilateral (contacts
// do not), directly or through other such bodies, written to out while fewer
// than maxCount are written; body itself is not listed. Returns the count. The
// walk marks the bodies it reaches (dgBody::kJointWalkMark) and clears every
// mark before returning. maxCount below 1 or a null array give 0.
int32_t dgWorldGetJointedBodies(dgBody* body, dgBody** out, int32_t maxCount);

// Takes the joint out of its bodies' rings and destroys it: joint count - 1;
// each body's equilibrium bit becomes (inverse mass == 0) and a frozen body
// with auto-freeze is woken; the links go back to the link pages; the joint's
// release runs (the destructor callback), and a contact goes back to the
// contact pages (a pooled joint gives itself back to its pool in its release,
// a user joint frees itself).
void dgWorldDestroyConstraint(dgWorld* world, dgConstraint* joint);

// Appends a contact joint found stale in this step to the world's queue.
void dgWorldQueueStaleContact(dgWorld* world, dgContact* contact);
// Destroys every queued contact joint (dgWorldDestroyConstraint) and empties
// the queue.
void dgWorldDestroyStaleContacts(dgWorld* world);

// dgWorldUnfreezeBody puts a frozen body into the active-body tree and sets
// its active bit, calling the activation callback with 1 when the bit was
// clear; an awake body is left alone. dgWorldFreezeBody is the reverse (0).

// For each chassis of the world's vehicle work list, its vehicle joint
// gathers its tire contacts; then empties the list (dgVehicleJoint.cpp).
void dgVehicleUpdatePending(dgWorld* world);

// Find-or-insert in a body-keyed world tree: returns the existing node with
// *existed = 1 (nothing inserted), or a new node carrying value with
// *existed = 0; null when the node cannot be allocated. existed may be null.
dgBodyTree::Node* dgTreeNodeInsertByKey(dgBodyTree* tree, dgBody* value, uintptr_t key, int32_t* existed);

// One rigid body of a world: pose, velocities, accumulated force and torque,
// mass and inertia, damping, freeze thresholds, collision shape, callbacks and
// flags.
//
// The body is a plain record. The world takes bodies from its body pages,
// clears the whole element to zero and constructs it there
// (dgBody::createCleared); queries and solvers build zeroed temporaries on the
// stack (dgBody::clear).
// The solver, the broad phase and the contact pipeline read and write the
// fields directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgCollision.h"
#include "dgMatrix.h"
#include "dgPhysicsTypes.h"
#include "dgQuaternion.h"
#include "dgRefList.h"
#include "dgVector.h"

class dgCollision;
class dgWorld;
class dgBroadPhaseCell;
class dgJointLink;
struct dgBroadPhaseAxisEntry;
class dgBody;
class dgAssemblyPart;

// A body's entry in one axis list of its broad-phase cell, and its node in the
// broad phase's queue of moved bodies.
typedef dgRefList<dgBroadPhaseAxisEntry>::Node dgBroadPhaseAxisNode;
typedef dgRefList<dgBody*>::Node dgBroadPhaseQueueNode;

// Bits of dgBody::m_flags.
enum dgBodyFlags : uint32_t {
    // The body is in the world's awake set.
    dgBodyFlagActive = 1u << 0,
    // The rest test may freeze the body.
    dgBodyFlagAutoFreeze = 1u << 1,
    // The body is at rest or immovable.
    dgBodyFlagEquilibrium = 1u << 2,
    // Angular momentum survives a change of the mass matrix and the solver
    // applies the gyroscopic torque.
    dgBodyFlagKeepAngularMomentum = 1u << 3,
    // Pair exclusion looks only at joints that link the two bodies directly
    // (else at the whole jointed group).
    dgBodyFlagDirectLink = 1u << 4,
    // Swept bounding box and the continuous contact path.
    dgBodyFlagContinuous = 1u << 5,
    // The world is destroying the body: a destructor or activation callback
    // that asks for its destruction again is ignored.
    dgBodyFlagDestroying = 1u << 6,
    // A walk or the contact pass has lent the body's collision pointer to an
    // inner shape (dgBodyShapeLend): a new shape waits in m_lentSwap.
    dgBodyFlagShapeLent = 1u << 7,
};

class dgBody {
public:
    // Visit mark of the jointed-body walk: bit 28 of the high word of
    // m_refreshStamp, cleared again before the walk returns.
    static constexpr uint64_t kJointWalkMark = uint64_t(1) << 60;

    // Sets the rotation to the identity quaternion (0, 0, 0, 1) and nothing
    // else: every other field keeps whatever the storage held.
    dgBody();
    // Does nothing; the body owns nothing it would release itself.
    ~dgBody() = default;

    // Clears every byte of storage (at least sizeof(dgBody), aligned for
    // dgBody) and constructs a body there: all fields zero or null, rotation
    // the identity. What the world does with a page element.
    static dgBody* createCleared(void* storage);
    // Zeroes every byte of the body, the rotation included. For temporaries
    // that are then filled field by field.
    void clear();

    // ---- fields, in record order ----

    // World pose of the body's origin (rows 0-2 the axes, row 3 the position).
    // Must stay the first member: a body pointer doubles as a pointer to its
    // matrix. The shapes' face walks receive the body itself and read this
    // through dgPolygonWalkMatrix.
    dgMatrix m_matrix;
    // World matrix of the shape: the shape's offset matrix times m_matrix when
    // the shape has an offset, else m_matrix. Its position row is the shape's
    // centre in world space. Kept by dgBodyUpdateCollisionMatrix.
    dgMatrix m_collisionMatrix;
    // Rotation of m_matrix (x, y, z, w), integrated each step.
    dgQuaternion m_rotation;
    // Linear velocity, world space, units per second.
    dgVector m_veloc;
    // Angular velocity, world space, radians per second.
    dgVector m_omega;
    // Force accumulated for this step (after integration: the linear
    // acceleration).
    dgVector m_force;
    // Torque accumulated for this step (after integration: the angular
    // acceleration).
    dgVector m_torque;
    // Principal inertia Ixx, Iyy, Izz (body axes, clamped) and the mass in w.
    dgVector m_mass;
    // 1/Ixx, 1/Iyy, 1/Izz and 1/mass; all zero for an immovable body.
    dgVector m_invMass;
    // Centre of mass in body space.
    dgVector m_localCentreOfMass;
    // Centre of mass in world space (m_matrix applied to the local one).
    dgVector m_globalCentreOfMass;
    // World-space bounding box of the shape (swept along the motion in
    // continuous mode). Kept by dgBodyUpdateCollisionMatrix.
    dgVector m_minAABB;
    dgVector m_maxAABB;
    // Angular damping coefficient x 0.02 per axis (x, y, z; w unused).
    dgVector m_angularDamping;
    // Ixx, Iyy, Izz and mass as the caller gave them (absolute values), or
    // 1e15 each for an immovable body.
    dgVector m_requestedMass;
    // Force and torque of the last step, copied before integration.
    dgVector m_netForce;
    dgVector m_netTorque;
    // Squared-magnitude bounds of the rest test: acceleration, angular
    // acceleration, speed, angular speed.
    float m_freezeThresholds[4];
    // Linear damping coefficient x 0.02.
    float m_linearDamping;

    // Solver bookkeeping (the island solver may add words here).
    // Step stamp of the island that last solved the body.
    uint64_t m_islandStamp;
    // The body's slot in the island being solved.
    int32_t m_islandSlot;
    // Collision stamp of the broad phase's last force pass over the body; its
    // bit 60 is the jointed-body walk's visit mark (kJointWalkMark).
    uint64_t m_refreshStamp;
    // Stamp of the last broad-phase pair search of the body; 0 when unfiled.
    uint64_t m_pairStamp;

    // The world's body serial at creation, followed by one word kept at 0.
    uint32_t m_serial;
    uint32_t m_serialSpare;
    // Material group id.
    uint32_t m_materialGroupId;
    // Owning world; null for a temporary body.
    dgWorld* m_world;
    // The application's pointer; the engine never reads it (temporary bodies
    // of the shapes' own walks use it for their accumulators).
    void* m_userData;
    // Node in the world's active-body tree; null while the body is frozen.
    dgBodyTree::Node* m_activeNode;
    // The body's shape; the body holds one reference. The compound's walks
    // and contact paths set it to each child in turn and restore it.
    dgCollision* m_collision;
    // The shape given to the body while its collision was lent, with one
    // reference held, until the lend ends and it replaces the body's own
    // shape; null otherwise.
    dgCollision* m_lentSwap;
    // First link of the circular ring of joints attached to the body.
    dgJointLink* m_jointRing;
    // Links of the ring whose joint is not a contact: while 0 the body is
    // tied to nothing, and the pair pass need not walk its contacts to learn
    // so.
    int32_t m_tieCount;
    // Broad-phase cell that holds the body; null while the body is unfiled.
    dgBroadPhaseCell* m_broadPhaseCell;
    // The body's entries in the cell's three axis lists and its node in the
    // broad phase's queue of moved bodies (null while not queued); owned by
    // the broad phase.
    dgBroadPhaseAxisNode* m_axisListNodes[3];
    dgBroadPhaseQueueNode* m_queueNode;
    dgBodyActivationCallback m_activation;
    dgBodyDestructorCallback m_destructor;
    dgBodyTransformCallback m_transform;
    dgBodyForceAndTorqueCallback m_forceAndTorque;
    // dgBodyFlags bits.
    uint32_t m_flags;
    // The body hierarchy part the body stands for; null for other bodies.
    // Written by the part when its assembly's build ends, cleared when either
    // goes first.
    dgAssemblyPart* m_assemblyPart;
};

// The key of a body in the world's body sets: its serial. Walks over those
// sets (the solver's pass over the awake bodies, the force pass, re-filing)
// then follow creation order, the same for the same scene in any world and
// any run, which addresses are not.
inline uintptr_t dgBodyKey(const dgBody* body) {
    return uintptr_t(body->m_serial);
}

static_assert(offsetof(dgBody, m_matrix) == 0, "the body's matrix must be its first member");

// Sets the collision matrix (the shape's offset matrix times the body matrix
// when the shape's flag bit 0 is set, else the body matrix) and the box from
// the shape's calcAABB under it. In continuous mode the box is stretched on
// each axis by the amount the step's predicted displacement
// (timestep x velocity + timestep^2 x inverse mass x force) exceeds 0.3 of
// the box extent. A body filed in the broad phase is then re-filed.
// timestep in seconds. The body must have a shape.
void dgBodyUpdateCollisionMatrix(dgBody* body, float timestep);

// Stores the matrix, derives the rotation and the global centre of mass, then
// updates the collision matrix and box with the world's time step (0 for a
// body without a world).
void dgBodySetMatrixInternal(dgBody* body, const dgMatrix& matrix);

// Casts the world-space segment p0 -> p1 against the body's shape (in the
// shape's space, through the inverse of the collision matrix; the prefilter
// sees the body and the user data). For a hit below `limit` returns
// filter(body, world normal, the hit's 32-bit attribute, userData, t) (t itself
// when there is no filter); otherwise `limit` unchanged.
float dgBodyRayCast(dgBody* body, const dgVector& p0, const dgVector& p1, dgWorldRayFilterCallback filter,
                    void* userData, dgWorldRayPrefilterCallback prefilter, float limit);

// The velocities the body would have after one step of timestep seconds
// under its accumulated force and torque: velocity + timestep x inverse mass
// x force, and omega + timestep x (torque through the inverse inertia in body
// axes), scaled by 0.8 while one step would turn it by more than 45 degrees.
// A non-finite force or torque counts as zero, as in dgBodyIntegrateVelocity.
// Writes only the outputs; the body is not changed. The w components are the
// body's velocity's and omega's.
void dgBodyCalculateNextVelocities(const dgBody* body, float timestep, dgVector& veloc, dgVector& omega);

// Adds the buoyancy of a fluid of the given density, and the fluid's drag, to
// the body's force and torque. The fluid plane comes from the callback (see
// dgCollisionFluidPlaneCallback), gravity in world space. Nothing happens
// for a body of mass at most 0.01 or with at most 0.0001 of its volume
// submerged. Drag: kv = |velocity|^2 x linearViscosity x 100 clamped to
// [1, 10] and kw = |omega|^2 x angularViscosity x 1000 clamped to [0.25, 2],
// applied as -kv x velocity and -kw x omega.
void dgBodyAccumulateBuoyancy(dgBody* body, float density, float linearViscosity, float angularViscosity,
                              const dgVector& gravity, dgCollisionFluidPlaneCallback callback, void* context);

// ---- mass, shape and motion ----
// The flat interface does the clamping and the waking; these are the body's
// own parts of those operations, named apart from the interface's for what
// they do to the record: Store and Read write and read it as given,
// Accumulate adds to the force and torque (dgBodyAccumulateBuoyancy too),
// Apply changes the velocities at once.

// Mass 1e15 or more, or a polygon-soup shape, makes the body immovable: the
// equilibrium bit set, mass and inertia 1e15, every inverse 0, requested
// values 1e15. Otherwise the equilibrium bit is cleared, (Ixx, Iyy, Izz, mass)
// and their reciprocals are stored (all must be positive) and the requested
// values become (requestedIxx, requestedIyy, requestedIzz, mass): what the
// caller asked before clamping. With dgBodyFlagKeepAngularMomentum the
// angular momentum in body axes survives the change of inertia.
void dgBodyStoreMassMatrix(dgBody* body, float mass, float Ixx, float Iyy, float Izz, float requestedIxx,
                           float requestedIyy, float requestedIzz);
// The requested values; all four 0 when the requested mass is above 5e14
// (immovable).
void dgBodyReadMassMatrix(const dgBody* body, float& mass, float& Ixx, float& Iyy, float& Izz);
// 1 / (value + 1e-8) of each requested value.
void dgBodyGetInvMassMatrix(const dgBody* body, float& invMass, float& invIxx, float& invIyy, float& invIzz);

// dgBodySetCollision (public header): takes a reference of the new shape,
// releases the old one through the world's collision cache (after the
// sub-step during an update, dgApiWorld::releaseCollision) and keeps the new
// one. A polygon soup makes the body immovable. The matrix is set again for
// the new shape's box.

// One semi-implicit Euler step of timestep seconds under the accumulated
// force and torque: velocity first, then the centre of mass with the new
// velocity; omega is scaled by 0.8 while one step would turn the body by more
// than 45 degrees, and the rotation advances only above 0.0125 degrees per
// second. Force and torque are left holding the linear and angular
// accelerations. A non-finite force or torque counts as zero for the step;
// a non-finite omega is neither limited nor turns the body.
void dgBodyIntegrateVelocity(dgBody* body, float timestep);
// The solver's step of one moving body: keeps force and torque as the net
// force and torque (non-finite ones as zero), integrates, calls the
// transform callback with the new matrix and updates the collision matrix
// and box.
void dgBodyIntegrateAndNotify(dgBody* body, float timestep);

// Applies the impulse at the world point that changes the velocity of the
// body's material point there by veloc (K^-1 x veloc with K the point's
// inverse effective mass, solved along and across the lever in double so
// that levers of any length stay exact) and clears the equilibrium bit. Does
// nothing for an immovable body; waking it is the world's part.
void dgBodyApplyImpulse(dgBody* body, const dgVector& veloc, const dgVector& point);

// R^T x diag(1/Ixx, 1/Iyy, 1/Izz) x R with R the rotation of the body matrix:
// the inverse inertia in world axes (rows 0-2 w = 0, row 3 (0, 0, 0, 1)).
void dgBodyGetWorldInverseInertia(const dgBody* body, dgMatrix& out);

// Squared-magnitude bounds of the rest test, stored as given.
void dgBodySetFreezeThresholds(dgBody* body, float acceleration, float angularAccel, float speed,
                               float angularSpeed);
// Local centre of mass (x, y, z); the global one follows from the matrix.
void dgBodySetLocalCentreOfMass(dgBody* body, const dgVector& centre);
// Adds x, y, z to the accumulated force or torque.
void dgBodyAccumulateForce(dgBody* body, const dgVector& force);
void dgBodyAccumulateTorque(dgBody* body, const dgVector& torque);
// Coefficients per body axis, stored x 0.02 (the solver damps per step with
// the stored value); the getter returns them / 0.02, w = 0.
void dgBodyStoreAngularDamping(dgBody* body, const dgVector& coefficients);
dgVector dgBodyReadAngularDamping(const dgBody* body);

// The physics engine's public interface: flat functions with the dg prefix
// over opaque handles. A game includes this header and nothing else of the
// engine.
//
// Conventions:
// - Handles: the world (dgWorld), bodies (dgBody), collision shapes
//   (dgCollision), joints (dgConstraint) and, inside the contact callbacks,
//   the contact's material record (dgMaterialPair) and the contact joint
//   (dgContact).
// - Vectors are 3 floats (x, y, z); matrices are 16 floats in row order (rows
//   0-2 the axes, row 3 the position).
// - Booleans and counts are int32_t, material group ids uint32_t. Nothing
//   reports an error: out-of-range arguments are clamped, null handles
//   ignored (getters then give 0).
// - Callbacks run synchronously on the thread that called the function that
//   triggers them, mostly dgWorldUpdate. A body or joint destroyed during an
//   update is destroyed at the end of its sub-step.
#pragma once

#include <cstddef>
#include <cstdint>

class dgWorld;
class dgBody;
class dgCollision;
class dgConstraint;
class dgContact;
struct dgMaterialPair;
struct dgPolygonSoupCollideDesc;
struct dgPolygonSoupRayDesc;

// ---- callback types ----

// Every engine allocation: size in bytes -> 16-byte aligned block.
typedef void* (*dgAllocMemoryCallback)(uint32_t size);
// Every engine release: the block the allocation hook returned, its size.
typedef void (*dgFreeMemoryCallback)(void* block, uint32_t size);

// Once per step for each awake body, after its force and torque were cleared;
// the callback sets or adds force and torque.
typedef void (*dgBodyForceAndTorqueCallback)(dgBody* body);
// After the step moved an awake body: its new matrix (16 floats).
typedef void (*dgBodyTransformCallback)(dgBody* body, const float* matrix);
// When a body enters (state 1) or leaves (state 0) the awake set, and once
// when the callback is set.
typedef void (*dgBodyActivationCallback)(dgBody* body, uint32_t state);
// When the body is destroyed, before anything else happens to it.
typedef void (*dgBodyDestructorCallback)(dgBody* body);
// For a body found outside the world box, after it was frozen.
typedef void (*dgBodyOutOfBoundsCallback)(dgBody* body);
// Once per body of an iteration.
typedef void (*dgBodyIteratorCallback)(dgBody* body);
// Once per polygon of a body's collision, in world space: (body, vertex
// count, packed x, y, z floats, face id (0 from tree collisions)).
typedef void (*dgCollisionPolygonCallback)(const dgBody* body, int32_t vertexCount, const float* vertices,
                                           int32_t faceId);

// Once per touching body pair and step, before contacts are made; 0 ignores
// the pair for this step.
typedef int32_t (*dgMaterialBeginCallback)(dgMaterialPair* material, dgBody* body0, dgBody* body1);
// Once per new contact point; the material then describes that point. 0
// drops the point.
typedef int32_t (*dgMaterialProcessCallback)(dgMaterialPair* material, dgContact* contact);
// Once per pair whose begin callback let it through, after its contacts.
typedef void (*dgMaterialEndCallback)(dgMaterialPair* material);
// Once per child pairing of a compound (and on the mesh path); 0 skips it.
typedef int32_t (*dgMaterialCompoundCallback)(dgMaterialPair* material, dgBody* body0, dgBody* body1);

// For each body a ray hits closer than the current limit: (body, world-space
// unit normal, the hit's 32-bit attribute, user data, ray parameter) -> the
// new limit.
typedef float (*dgWorldRayFilterCallback)(dgBody* body, const float* normal, uint32_t attribute, void* userData,
                                          float t);
// Asked before a body's shape is ray cast: 0 skips it.
typedef uint32_t (*dgWorldRayPrefilterCallback)(const dgBody* body, const dgCollision* shape, void* userData);

// Called for every face a collision query gathers from a tree collision:
// (body owning the tree, the other body, the vertex array, its stride in
// bytes, the face's vertex count, its vertex indices).
typedef void (*dgTreeCollisionCallback)(const dgBody* treeBody, const dgBody* otherBody, const float* vertices,
                                        int32_t strideInBytes, int32_t vertexCount, const int32_t* indices);

// ---- world ----

// ---- materials ----

// ---- collisions ----

// ---- tree collision ----

// ---- queries ----

// ---- bodies ----
// Every function takes and gives the body handle; a null body is ignored and
// its getters give 0 (zeros written through the out-pointers). A call with a
// non-finite value changes nothing. Setters of the matrix, velocity and omega
// do not wake the body. Force and torque set outside the body's force
// callback are cleared by the next step before they act.

// Fluid surface for dgBodyAddBuoyancyForce: (the shape's user id, context,
// the shape's world matrix (16 floats), out plane (a, b, c, d): unit normal
// out of the fluid, points with n.p + d < 0 under it) -> 0 when no plane was
// written, which leaves the whole shape under the fluid.
typedef int32_t (*dgBuoyancyPlaneCallback)(uint32_t collisionId, void* context, const float* globalMatrix,
                                           float* globalPlane);

// A new awake, immovable body of the world at the identity matrix, holding
// its own reference of the collision (the caller still releases its own).
// Null without a world or a collision.
dgBody* dgCreateBody(dgWorld* world, dgCollision* collision);
// Destroys the body, at the end of the sub-step during an update. A body of
// another world is left alone.
void dgDestroyBody(dgWorld* world, dgBody* body);

void dgBodySetUserData(dgBody* body, void* userData);
void* dgBodyGetUserData(const dgBody* body);
dgWorld* dgBodyGetWorld(const dgBody* body);

void dgBodySetTransformCallback(dgBody* body, dgBodyTransformCallback callback);
void dgBodySetForceAndTorqueCallback(dgBody* body, dgBodyForceAndTorqueCallback callback);
dgBodyForceAndTorqueCallback dgBodyGetForceAndTorqueCallback(const dgBody* body);
// A callback is called at once with the body's state (1 awake, 0 frozen).
void dgBodySetActivationCallback(dgBody* body, dgBodyActivationCallback callback);
void dgBodySetDestructorCallback(dgBody* body, dgBodyDestructorCallback callback);

// Absolute values are taken; each inertia is clamped to [0.01, 100] x mass
// and a mass below 0.001 makes the body immovable. The query reports the
// values as given (absolute, unclamped), all 0 for an immovable body; the
// inverse query 1 / (value + 1e-8) of each.
void dgBodySetMassMatrix(dgBody* body, float mass, float Ixx, float Iyy, float Izz);
void dgBodyGetMassMatrix(const dgBody* body, float* mass, float* Ixx, float* Iyy, float* Izz);
void dgBodyGetInverseMassMatrix(const dgBody* body, float* invMass, float* invIxx, float* invIyy, float* invIzz);

// Orthonormalised: row 0 (front) keeps its direction, right =
// normalize(front x row 1) goes to row 2 and up = right x front to row 1;
// row 2 as given is not read. Refused when row 0 is zero or row 1 is zero or
// parallel to it. Velocities are kept.
void dgBodySetMatrix(dgBody* body, const float* matrix);
// Moves the body and the bodies jointed to it by the same rigid motion and
// wakes them.
void dgBodySetMatrixRecursive(dgBody* body, const float* matrix);
void dgBodyGetMatrix(const dgBody* body, float* matrix);

void dgBodySetForce(dgBody* body, const float* force);
void dgBodyAddForce(dgBody* body, const float* force);
void dgBodySetTorque(dgBody* body, const float* torque);
void dgBodyAddTorque(dgBody* body, const float* torque);
// The net force and torque of the last step.
void dgBodyGetForce(const dgBody* body, float* force);
void dgBodyGetTorque(const dgBody* body, float* torque);

// In body space.
void dgBodySetCentreOfMass(dgBody* body, const float* centre);
void dgBodyGetCentreOfMass(const dgBody* body, float* centre);

void dgBodySetVelocity(dgBody* body, const float* velocity);
void dgBodySetOmega(dgBody* body, const float* omega);
void dgBodyGetVelocity(const dgBody* body, float* velocity);
void dgBodyGetOmega(const dgBody* body, float* omega);

// Coefficients clamped to [0, 1]; the body loses that fraction x 0.02 of its
// speed per step.
void dgBodySetLinearDamping(dgBody* body, float coefficient);
float dgBodyGetLinearDamping(const dgBody* body);
void dgBodySetAngularDamping(dgBody* body, const float* coefficients);
void dgBodyGetAngularDamping(const dgBody* body, float* coefficients);

// Rest-test bounds: speed and omega for the accelerations, a tenth of them
// for the speeds, each at least 0.01. The query gives 10 x the speed bounds.
void dgBodySetFreezeThreshold(dgBody* body, float speed, float omega);
void dgBodyGetFreezeThreshold(const dgBody* body, float* speed, float* omega);

void dgBodySetAutoFreeze(dgBody* body, int32_t state);
int32_t dgBodyGetAutoFreeze(const dgBody* body);
void dgBodySetContinuousCollisionMode(dgBody* body, int32_t state);
int32_t dgBodyGetContinuousCollisionMode(const dgBody* body);
void dgBodySetDirectLinkCollisionMode(dgBody* body, int32_t state);
int32_t dgBodyGetDirectLinkCollisionMode(const dgBody* body);
// Angular momentum kept through a mass-matrix change, gyroscopic torque on.
void dgBodySetFlagBit3(dgBody* body, int32_t state);

void dgBodySetMaterialGroupId(dgBody* body, uint32_t groupId);
uint32_t dgBodyGetMaterialGroupId(const dgBody* body);

// Replaces the shape; a polygon soup makes the body immovable. During an
// update the old shape is released after the sub-step, so that a callback
// cannot free a shape the step is using. A null collision is ignored.
void dgBodySetCollision(dgBody* body, dgCollision* collision);
dgCollision* dgBodyGetCollision(const dgBody* body);
// The body's world box.
void dgBodyGetAABB(const dgBody* body, float* boxMin, float* boxMax);

// Wakes a movable body and changes the velocity of its material point at
// `point` (world) by `pointDeltaVeloc`; an immovable body is left alone.
void dgBodyAddImpulse(dgBody* body, const float* pointDeltaVeloc, const float* point);
// Buoyancy and drag of a fluid, added to the force and torque (call it from
// the force callback). gravity: 3 floats; the plane callback may be null.
void dgBodyAddBuoyancyForce(dgBody* body, float fluidDensity, float linearViscosity, float angularViscosity,
                            const float* gravity, dgBuoyancyPlaneCallback planeCallback, void* context);

// Every polygon of the body's shape in world space; a tree collision through
// its faces, other polygon soups not at all.
void dgBodyForEachPolygonDo(const dgBody* body, dgCollisionPolygonCallback callback);

// Angles (x, y, z, radians) of a matrix that rotates about x, then y, then z;
// dgSetEulerAngles builds that matrix, at position 0.
void dgGetEulerAngles(const float* matrix, float* angles);
void dgSetEulerAngles(const float* angles, float* matrix);

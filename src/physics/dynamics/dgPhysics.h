// The physics engine's public interface: flat functions with the dg prefix
// over opaque handles. A game includes this header and nothing else of the
// engine.
//
// Each family below is defined in one file: world, its walks and ray cast
// included (dgPhysicsWorld.cpp); materials and contact callbacks
// (dgPhysicsMaterials.cpp); collisions and queries (dgPhysicsCollision.cpp);
// tree collision (dgPhysicsTreeCollision.cpp); bodies (dgPhysicsBody.cpp);
// joints and user joint rows (dgPhysicsJoints.cpp); body hierarchies
// (dgPhysicsHierarchy.cpp); vehicles (dgPhysicsVehicles.cpp).
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
class dgAssembly;
class dgAssemblyPart;
struct dgVehicleTire;
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

// Joints. A joint's callbacks run inside dgWorldUpdate, on its thread; a
// joint (or body) destroyed from one goes at the end of the sub-step.
//
// What the hinge, slider, corkscrew and universal joints hand their user
// callback for each row it may add along or about the joint's pin (16
// bytes). The joint fills it in; the callback may change the first three.
struct dgJointUserDescriptor {
    // Wanted relative acceleration along the row, in the sense of the joint's
    // own speed (omega about a pin, velocity along one): rad/s^2 or m/s^2.
    // In: 0.
    float m_accel;
    // Lower bound of the row's force (N or N m). In: -1e15, no bound.
    float m_minFriction;
    // Upper bound of the row's force. In: +1e15, no bound.
    float m_maxFriction;
    // The sub-step in seconds; read only.
    float m_timestep;
};
// Once per sub-step while the joint is solved, with its descriptor (for the
// corkscrew and the universal joint the first of two lying one after the
// other: [0] along or about the first pin, [1] about the second). The hinge
// and the slider add their row when the result is not 0; the corkscrew and
// the universal joint read bit 0 for descriptor 0's row and bit 1 for
// descriptor 1's. A row whose bounds were left open is an ordinary row driven
// by m_accel; one whose bounds were narrowed is held within them. A
// descriptor holding a non-finite value, or a minimum above its maximum,
// adds no row.
typedef uint32_t (*dgJointUserCallback)(dgConstraint* joint, dgJointUserDescriptor* desc);
// Once per sub-step while a ball joint is solved, before its rows are built.
typedef void (*dgBallJointCallback)(dgConstraint* joint);
// Once per sub-step while a user joint is solved: the callback adds the
// joint's rows (dgUserJointAdd...) and sets them (dgUserJointSetRow...).
typedef void (*dgUserJointCallback)(dgConstraint* joint);
// When the joint is destroyed (by dgDestroyJoint, with one of its bodies, or
// with the world), once, before it goes.
typedef void (*dgJointDestructorCallback)(dgConstraint* joint);

// Once per part of a body hierarchy whose bodies moved in the sub-step just
// ended, children before their parent.
typedef void (*dgAssemblyUpdateCallback)(dgAssemblyPart* part);
// Once per sub-step of a vehicle, before its tires are solved: the place to
// set torques, brakes, steering and slip values (they are reset before each
// call).
typedef void (*dgVehicleTireCallback)(dgConstraint* vehicle);

// ---- world ----

// Version of the interface: 153.
int32_t dgWorldGetVersion();

// Installs the allocation hooks (both the C runtime's malloc and free when
// either is null) before anything else, creates the world and sets its box to
// (-100, -100, -100)..(100, 100, 100). Null when the world cannot be
// allocated. Every creation replaces the hooks again.
dgWorld* dgWorldCreate(dgAllocMemoryCallback allocate, dgFreeMemoryCallback release);
// Destroys the world and everything in it. Refused during an update of the
// world or a walk over its bodies (from their callbacks). While it runs, the
// callbacks of the bodies it destroys may call in: what an update refuses is
// refused, an update too.
void dgWorldDestroy(dgWorld* world);
// Destroys every body with its joints and sets the world box back to
// (-100, -100, -100)..(100, 100, 100). Refused during an update or a walk.
void dgWorldDestroyAllBodies(dgWorld* world);

// Steps the world by elapsed seconds: clamped to [0.001, 1/60] (NaN and
// negative to 0.001), in equal sub-steps no longer than the maximum sub-step.
// Refused during an update or a walk.
void dgWorldUpdate(dgWorld* world, float elapsed);
// Maximum sub-step = 1 / rate, the rate raised to 59.999996 (so 30 gives
// 1/60) and lowered to 999.99994. A non-finite rate changes nothing.
void dgWorldSetMinimumFrameRate(dgWorld* world, float rate);
// Seconds of the current (or last) sub-step; 0 before the first.
float dgWorldGetTimeStep(const dgWorld* world);
// How many island solves since the world was made came out with a
// non-finite force or torque on one of their bodies (finite input whose
// squares overflow a float, such as a force of 1e38 pulling on a joint).
// Such a body moves on its velocity for that sub-step, with no force at all,
// and the joints of the island whose forces came out non-finite read 0; the count lets a caller
// see that it happened rather than find the bodies hanging still.
int32_t dgWorldGetNonFiniteIslandCount(const dgWorld* world);
// Sets the broad phase's world box (min and max corners, 3 floats each) and
// re-files every body. A degenerate box (an axis whose extent is zero,
// negative or denormal) or a non-finite one changes nothing. Refused during
// an update or a walk.
void dgWorldSetSize(dgWorld* world, const float* minimum, const float* maximum);

// Walks over bodies. A body destroyed (dgDestroyBody) from a walk's callback
// is destroyed when the walk ends and is not visited after the request; a
// shape given back from one (dgBodySetCollision) is released then.
//
// Every body of the world, in the order of the world's body tree.
void dgWorldForEachBodyDo(dgWorld* world, dgBodyIteratorCallback callback);
// Every body whose box overlaps minimum..maximum (3 floats each).
void dgWorldForEachBodyInAABB(dgWorld* world, const float* minimum, const float* maximum,
                              dgBodyIteratorCallback callback);
// Casts the segment p0 -> p1 (3 floats each) through the broad phase; each
// body hit closer than the current limit goes to filter, whose result is the
// new limit. userData goes to both callbacks; prefilter (may be null) is
// asked before a body's shape is cast. Nothing without a filter.
void dgWorldRayCast(dgWorld* world, const float* p0, const float* p1, dgWorldRayFilterCallback filter,
                    void* userData, dgWorldRayPrefilterCallback prefilter);

// Mode 0 selects the scalar solver; any other mode the SIMD solver when the
// processor has SIMD, else the scalar one.
void dgWorldSetSimdMode(dgWorld* world, int32_t mode);
// Stored raised to 0: 0 iterates the solver's full count, 1 uses
// 16 + sqrt(n - 16) passes, k >= 2 at most k passes.
//
// Whatever the mode, an island of n solver rows (about 3 per contact point)
// has a budget of passes over its rows in a step: 64 + 40 sqrt(n), at most
// 2^21 / n (about two million row products) and at least 24. An island the
// solver finishes within the budget, less up to 16 passes kept back (the
// game's islands, a few hundred rows at most, always are), is solved
// exactly as without it. A larger one (a pile or pyramid of hundreds of
// bodies) stops the solver where it is and spends the passes kept back on
// projected Gauss-Seidel sweeps from that point, so its step's time stays
// bounded; its forces are then approximate, as an iterative engine's are.
// The islands of a step share a pool of 2^22 row products: an island of
// more than 127 rows gets no more passes than the pool has left for it (and
// at least 24), so many large islands together stay bounded too.
void dgWorldSetSolverIterationMode(dgWorld* world, int32_t mode);
// Stored and handed to the solver each step.
void dgWorldSetSolverOption(dgWorld* world, int32_t option);
// Called for a body found outside the world box, after it was frozen; null
// removes it.
void dgWorldSetOutOfBoundsCallback(dgWorld* world, dgBodyOutOfBoundsCallback callback);
// Takes the body out of the awake set (activation callback with 0 when it
// was awake). A body of another world is refused.
void dgWorldFreezeBody(dgWorld* world, dgBody* body);
// Wakes the body (activation callback with 1 when it was frozen). A body of
// another world is refused.
void dgWorldUnfreezeBody(dgWorld* world, dgBody* body);
// The caller's value; the engine never reads it.
void dgWorldSetUserData(dgWorld* world, void* userData);
void* dgWorldGetUserData(const dgWorld* world);

// ---- materials ----

// Material groups are small integers. Every pair of groups, a group with
// itself included, has one material-pair record; a new pair starts from the
// defaults: collidable, softness 0.1, elasticity 0.4, static friction 0.9,
// kinetic friction 0.5 (both directions), friction and continuous collision
// on, no user data, no callbacks. Setters given a group id never created
// change nothing.

// The default group's id (0 in a new world).
uint32_t dgMaterialGetDefaultGroupId(const dgWorld* world);
// A new group: id = the current group count, with a pair record for every id
// from 0 to the new one. After 65536 groups the default group's id comes back
// and nothing is made.
uint32_t dgMaterialCreateGroupId(dgWorld* world);
// Removes every pair record and creates the default group again. Refused
// during an update or a walk.
void dgMaterialDestroyAllGroups(dgWorld* world);

// Whether bodies of the two groups collide (state != 0).
void dgMaterialSetDefaultCollidable(dgWorld* world, uint32_t id0, uint32_t id1, int32_t state);
// Both taken as absolute values. Static below 0.01 turns friction off in
// both directions and keeps the coefficients; else static is capped at 2,
// kinetic bounded to [0.01, 2], static raised to kinetic, and both directions
// get the pair.
void dgMaterialSetDefaultFriction(dgWorld* world, uint32_t id0, uint32_t id1, float staticFriction,
                                  float kineticFriction);
// Restitution, clamped to [0.01, 2].
void dgMaterialSetDefaultElasticity(dgWorld* world, uint32_t id0, uint32_t id1, float elasticity);
// Clamped to [0.01, 1].
void dgMaterialSetDefaultSoftness(dgWorld* world, uint32_t id0, uint32_t id1, float softness);
// The pair's user data and its three contact callbacks (each may be null).
void dgMaterialSetCollisionCallback(dgWorld* world, uint32_t id0, uint32_t id1, void* userData,
                                    dgMaterialBeginCallback begin, dgMaterialProcessCallback process,
                                    dgMaterialEndCallback end);
// The callback asked for each child pairing on the compound and mesh paths.
void dgMaterialSetCompoundCallback(dgWorld* world, uint32_t id0, uint32_t id1,
                                   dgMaterialCompoundCallback callback);
void* dgMaterialGetUserData(dgWorld* world, uint32_t id0, uint32_t id1);

// Inside the contact callbacks. The material is the handle the callback was
// given: the pair record in begin and end, the contact point's own copy in
// process, which then describes that point (the contact accessors give 0 for
// a pair record). Directions are 0 or 1; any other is refused. Non-finite
// values change nothing.

void* dgMaterialGetPairUserData(const dgMaterialPair* material);
// Refuses this contact point (the contact merge drops a point that is not
// collidable).
void dgMaterialDisableContact(dgMaterialPair* material);
// The face attribute of the contact (0 between primitives).
uint32_t dgMaterialGetContactAttribute(const dgMaterialPair* material);
// The world's current step, reached through the contact's first body.
float dgMaterialGetContactTimeStep(const dgMaterialPair* material);
// The contact point and its normal (pointing from body1 to body0).
void dgMaterialGetContactPositionAndNormal(const dgMaterialPair* material, float* position, float* normal);
// The two friction directions.
void dgMaterialGetContactTangentDirections(const dgMaterialPair* material, float* dir0, float* dir1);
// The user id of body's shape in this contact when the shape is convex, else 0.
uint32_t dgMaterialGetBodyCollisionId(const dgMaterialPair* material, const dgBody* body);
// Relative velocity at the point (each body's velocity plus its angular
// velocity crossed with the arm from its origin), body1's minus body0's,
// along the normal.
float dgMaterialGetContactNormalSpeed(const dgMaterialPair* material, const dgContact* contact);
// The same along a friction direction, with the opposite sign (body0's minus
// body1's).
float dgMaterialGetContactTangentSpeed(const dgMaterialPair* material, const dgContact* contact,
                                       int32_t direction);
// normal * n + dir0 * t0 + dir1 * t1 from the point's three acceleration
// slots: after the solve they hold its row forces.
void dgMaterialGetContactForce(const dgMaterialPair* material, float* force);
// Clamped to [0.01, 0.7].
void dgMaterialSetContactSoftness(dgMaterialPair* material, float softness);
// Clamped to [0.01, 2].
void dgMaterialSetContactElasticity(dgMaterialPair* material, float elasticity);
// Friction along the direction on (enable != 0) or off.
void dgMaterialSetContactFrictionState(dgMaterialPair* material, int32_t enable, int32_t direction);
// Raised to the direction's kinetic coefficient, then capped at 2.
void dgMaterialSetContactStaticFriction(dgMaterialPair* material, float coefficient, int32_t direction);
// Raised to 0.01, then capped at the direction's static coefficient.
void dgMaterialSetContactKineticFriction(dgMaterialPair* material, float coefficient, int32_t direction);
// Given to the solver for the point's normal row.
void dgMaterialSetContactNormalAcceleration(dgMaterialPair* material, float acceleration);
// Given to the solver for the point's friction row along the direction.
void dgMaterialSetContactTangentAcceleration(dgMaterialPair* material, float acceleration, int32_t direction);
// dir1 = normalize(normal x direction), dir0 = dir1 x normal; ignored when the
// cross product's squared length is not above 1e-6.
void dgMaterialSetContactTangentDirection(dgMaterialPair* material, const float* direction);

// ---- collisions ----

// The records between a polygon-soup shape and its callbacks (a user mesh
// supplies its own callbacks; the tree collision's are built in).
//
// The gathering record: the collide callback receives the query box (soup
// frame) and fills in the faces that overlap it, at most kMaxFaces faces and
// fewer than kMaxIndices indices. Each face is its attribute, its index count
// and its vertex indices into one vertex array (x, y, z floats every
// m_vertexStrideInBytes bytes); the index lists run one after another.
struct dgPolygonSoupCollideDesc {
    static constexpr int32_t kMaxFaces = 2048;
    static constexpr int32_t kMaxIndices = 8192;

    // In: the query box (x, y, z, 1).
    alignas(16) float m_boxMin[4];
    alignas(16) float m_boxMax[4];
    // In: the shape's user data.
    void* m_userData;
    // Out: faces gathered.
    int32_t m_faceCount;
    // Out: the vertex array the indices refer to, and its stride in bytes.
    const float* m_vertexArray;
    int32_t m_vertexStrideInBytes;
    // Out: per face its attribute and index count, then all indices. The
    // engine points them at the storage below before the call; a user mesh
    // may point them at its own arrays instead.
    int32_t* m_faceAttributes;
    int32_t* m_faceIndexCounts;
    int32_t* m_faceIndices;
    // In: the body colliding with the soup's body, and the soup's body.
    const dgBody* m_otherBody;
    const dgBody* m_soupBody;
    // Out: indices gathered.
    int32_t m_indexCount;
    // Engine side: the receiver of a polygon walk; null otherwise.
    dgCollisionPolygonCallback m_polygonCallback;
    int32_t m_attributeStorage[kMaxFaces];
    int32_t m_indexCountStorage[kMaxFaces];
    int32_t m_indexStorage[kMaxIndices];
};

// The ray record: the segment in the soup's frame; on a hit the callback
// writes the face normal and attribute.
struct dgPolygonSoupRayDesc {
    // In: segment start and end (x, y, z, 1).
    alignas(16) float m_p0[4];
    alignas(16) float m_p1[4];
    // Out: the hit face's normal (made unit by the shape).
    alignas(16) float m_normal[4];
    // Out: the hit face's attribute.
    int32_t m_attribute;
    // In: the shape's user data.
    void* m_userData;
};

// Fills the record's outputs with the faces overlapping its box.
typedef void (*dgPolygonSoupCollideCallback)(dgPolygonSoupCollideDesc* desc);
// The hit parameter t of the record's segment: 0 <= t <= 1 is a hit, with the
// record's normal and attribute written; anything above 1 a miss.
typedef float (*dgPolygonSoupRayCastCallback)(dgPolygonSoupRayDesc* desc);
// Releases the shape's user data when the shape is destroyed.
typedef void (*dgPolygonSoupDestroyCallback)(void* userData);

// Shape creation. offsetMatrix: 16 floats, or null for the identity. Every
// creation returns a shape with one reference for the caller, or null when
// it cannot be allocated or an argument is refused (null world, a size or
// offset entry not finite, a negative count); a body given the shape takes a
// reference of its own, so the caller drops its one with dgReleaseCollision
// once it no longer needs the handle. The primitives and hulls go through
// the world's shape cache: equal ones are shared.
dgCollision* dgCreateNull(dgWorld* world);
// Box of those full dimensions.
dgCollision* dgCreateBox(dgWorld* world, float dx, float dy, float dz, const float* offsetMatrix);
// Radii taken as absolute values: a sphere of radius |rx| when |ry| and |rz|
// are each within 1e-5 of it, else an ellipse of the three radii.
dgCollision* dgCreateSphere(dgWorld* world, float rx, float ry, float rz, const float* offsetMatrix);
dgCollision* dgCreateCone(dgWorld* world, float radius, float height, const float* offsetMatrix);
dgCollision* dgCreateCapsule(dgWorld* world, float radius, float height, const float* offsetMatrix);
dgCollision* dgCreateCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix);
dgCollision* dgCreateChamferCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix);
// pointCount points of x, y, z floats at the start of every strideInBytes.
dgCollision* dgCreateConvexHull(dgWorld* world, int32_t pointCount, const float* points,
                                int32_t strideInBytes, const float* offsetMatrix);
// A convex modifier around the convex shape (taking a reference of it), its
// matrix the identity; null for a compound, a polygon soup or the null shape.
dgCollision* dgCreateConvexModifier(dgWorld* world, dgCollision* convexShape);
// The modifier matrix (16 floats); any other shape answers the identity. A
// null shape or output writes nothing.
void dgConvexModifierGetMatrix(const dgCollision* shape, float* matrix);
// Sets the modifier matrix; a singular, mirroring (negative determinant) or
// non-finite matrix, or a shape that is not a modifier, changes nothing: the
// getter still answers the previous matrix.
void dgConvexModifierSetMatrix(dgCollision* shape, const float* matrix);
// A compound of count shapes in order (each taking a reference); null
// entries are skipped. Null for a negative count, or a positive count
// without an array.
dgCollision* dgCreateCompoundCollision(dgWorld* world, int32_t count, dgCollision* const* shapes);
// A polygon-soup shape driven by the caller's callbacks over userData, its
// box minBox..maxBox (3 floats each, either order). The collide callback is
// required; ray and destroy may be null (no ray hits; nothing to release).
// Null for a non-finite box.
dgCollision* dgCreateUserMeshCollision(dgWorld* world, const float* minBox, const float* maxBox,
                                       void* userData, dgPolygonSoupCollideCallback collide,
                                       dgPolygonSoupRayCastCallback rayCast,
                                       dgPolygonSoupDestroyCallback destroy);
// The shape's user id; the setter acts only on convex shapes.
void dgCollisionSetUserId(dgCollision* shape, uint32_t id);
uint32_t dgCollisionGetUserId(const dgCollision* shape);
// Volume of the shape (0 for soups, compounds and the null shape).
float dgConvexCollisionCalculateVolume(const dgCollision* shape);
// Inertia per unit mass about the centre of mass (x, y, z of the diagonal)
// and the centre of mass (x, y, z) in the shape's frame.
void dgConvexCollisionCalculateInertialMatrix(const dgCollision* shape, float* inertia, float* origin);
// Takes the shape out of the world's cache: it is no longer shared with
// later equal creations.
void dgCollisionRemoveFromCache(dgWorld* world, dgCollision* shape);
// Drops one reference through the world's cache. Without a world it only
// drops the reference: a cached shape whose last outside reference goes this
// way stays in its world's cache, shared by later requests, until one of
// their holders releases it through the world or the world is destroyed.
void dgReleaseCollision(dgWorld* world, dgCollision* shape);

// ---- tree collision ----

// Receives one piece of a saved tree, bytes as in memory.
typedef void (*dgSerializeCallback)(void* userData, const void* buffer, uint32_t size);
// Fills buffer with the next size bytes of a saved tree; returns the bytes
// delivered (fewer at the end of the data).
typedef uint32_t (*dgDeserializeCallback)(void* userData, void* buffer, uint32_t size);

// An empty tree collision (a static polygon mesh); callback, when not null,
// sees every face a collision query gathers from it. Null without a world.
dgCollision* dgCreateTreeCollision(dgWorld* world, dgTreeCollisionCallback callback);
// Starts a build: a new builder replaces (and frees) any earlier one.
void dgTreeCollisionBeginBuild(dgCollision* tree);
// Adds one face of vertexCount vertices read every strideInBytes bytes (x, y,
// z floats), its index list 0 .. count - 1. A face with a null array, fewer
// than 3 vertices, a stride below 12 or not a multiple of 4, or a non-finite
// coordinate is dropped; so is any face outside a build.
void dgTreeCollisionAddFace(dgCollision* tree, int32_t vertexCount, const float* vertices,
                            int32_t strideInBytes, int32_t faceAttribute);
// Ends the build (optimise when not 0): the faces replace the tree's mesh and
// the shape's box becomes the mesh's box. Nothing happens outside a build. A
// tree built without faces touches nothing.
void dgTreeCollisionEndBuild(dgCollision* tree, int32_t optimise);
// Writes the tree's mesh through write.
void dgTreeCollisionSerialize(const dgCollision* tree, dgSerializeCallback write, void* userData);
// A tree collision whose mesh is read through read; null (nothing kept) when
// the stream is short or damaged.
dgCollision* dgCreateTreeCollisionFromSerialization(dgWorld* world, dgTreeCollisionCallback callback,
                                                    dgDeserializeCallback read, void* userData);
// The attribute of the face whose index list starts at faceIndices (as the
// tree callback sees it): 0, and nothing written, for a pointer that is not
// inside the tree's own index array.
int32_t dgTreeCollisionGetFaceAttribute(const dgCollision* tree, const int32_t* faceIndices);
void dgTreeCollisionSetFaceAttribute(dgCollision* tree, const int32_t* faceIndices, int32_t attribute);

// ---- queries ----

// Results follow the shapes as given: matrices are world poses of the
// shapes' owners (the shape's offset applied first, as a body does). Points
// and normals come out as 3 floats each. A null or non-finite argument
// writes nothing and answers 0.

// The shape's box (3 floats each) under matrix.
void dgCollisionCalculateAABB(const dgCollision* shape, const float* matrix, float* boxMin, float* boxMax);
// Ray p0 -> p1 in the space the shape's offset places it in: the parameter t
// of the hit (above 1: no hit, also for refused arguments); on a hit the unit
// normal (3 floats, same space) and the face attribute when the outputs are
// not null.
float dgCollisionRayCast(const dgCollision* shape, const float* p0, const float* p1, float* normal,
                         int32_t* attribute);
// Closest point of the shape to point: 1 with contact on the shape and the
// unit normal from it towards the point; 0 when the point touches or lies
// inside.
int32_t dgCollisionPointDistance(dgWorld* world, const float* point, const dgCollision* shape,
                                 const float* matrix, float* contact, float* normal);
// Closest points of two separated shapes: 1 with contactA on A, contactB on B
// and the unit normal from A towards B.
int32_t dgCollisionClosestPoint(dgWorld* world, const dgCollision* shapeA, const float* matrixA,
                                const dgCollision* shapeB, const float* matrixB, float* contactA,
                                float* contactB, float* normal);
// Contacts of two shapes at rest: at most min(maxSize, 128) points, normals
// (3 floats each) and penetrations (1 float each); returns the count.
int32_t dgCollisionCollide(dgWorld* world, int32_t maxSize, const dgCollision* shapeA, const float* matrixA,
                           const dgCollision* shapeB, const float* matrixB, float* contacts, float* normals,
                           float* penetrations);
// Contacts of two shapes moving at constant velocity and omega (3 floats
// each): *timeOfImpact first gets timestep, then the time the contacts were
// found at (1e10 when there are none); outputs as dgCollisionCollide.
int32_t dgCollisionCollideContinuous(dgWorld* world, int32_t maxSize, float timestep,
                                     const dgCollision* shapeA, const float* matrixA, const float* velocityA,
                                     const float* omegaA, const dgCollision* shapeB, const float* matrixB,
                                     const float* velocityB, const float* omegaB, float* timeOfImpact,
                                     float* contacts, float* normals, float* penetrations);

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
// One born outside the world box is frozen, without the out-of-bounds
// callback. Null without a world or a collision.
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
// and a mass below 0.001 (or of 1e15 and above) makes the body immovable; an
// immovable body made movable again is woken. The query reports the
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
// wakes them. The matrix is orthonormalised, or refused, as by
// dgBodySetMatrix.
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
// update or a walk the old shape is released after the sub-step or the walk,
// so that a callback cannot free a shape the step is using. While a face
// walk or the contact pass lends the body an inner shape of a compound or a
// modifier, the new shape takes over when the lend ends (dgBodyGetCollision
// gives it at once). A null collision is ignored, and so is any shape given
// to the chassis of a live vehicle (its tires are part of the chassis' shape).
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
// its faces, other polygon soups not at all. While a compound or a modifier
// hands out the faces of an inner shape, dgBodyGetCollision names that
// shape. A walk like the world's: a body destroyed or a shape swapped from
// the callback goes when the walk ends, and what a walk refuses is refused.
void dgBodyForEachPolygonDo(const dgBody* body, dgCollisionPolygonCallback callback);

// Angles (x, y, z, radians) of a matrix that rotates about x, then y, then z;
// dgSetEulerAngles builds that matrix, at position 0.
void dgGetEulerAngles(const float* matrix, float* angles);
void dgSetEulerAngles(const float* angles, float* matrix);

// ---- joints ----
// "child" is the joint's first body and "parent" its second; a null parent
// joins the child to the static world. A joint is made only from finite
// input, with a child of the world and a parent of the same world that is
// not the child, and a pin that is not zero (null otherwise). A pivot farther
// than 1e6 m from the origin on any axis is out of the scale float rows can
// carry: no joint, and so is a child or parent whose origin lies that far.
// Accelerations a joint's callback asks for (its
// descriptor's, or a user joint row's) are held within +-1e7 m/s^2 (rad/s^2).
// Getters given
// null or a joint of another type give 0 (zeros through the out-pointers);
// setters then change nothing. A reading that comes out non-finite (a body
// whose pose wild forces overflowed) is 0 too. Non-finite values change nothing. Angles are
// in radians, speeds in rad/s or m/s, forces in N; out-pointers take three
// floats. Values called "as of the last solve" were measured when the joint
// last built its rows: a sub-step behind the bodies' present pose.

// Holds a point of the child on one of the parent (the pivot) and leaves
// every rotation free. The joint's pin, about which the twist and around
// which the cone are measured, runs from the child's origin to the pivot
// (the child's x axis when the pivot is at its origin). No limit at first.
dgConstraint* dgCreateBallJoint(dgWorld* world, const float* pivot, dgBody* child, dgBody* parent);
// Limits the ball joint about the unit-scaled pin (x axis when zero): the
// pins of the two bodies may part by at most |coneAngle|, and the child may
// twist about its pin by at most |twistAngle| either way, both measured from
// the bodies' present pose. A limit below one degree is switched off; the
// cone is held within [5, 175] degrees, the twist within [5, 90].
void dgBallSetConeLimits(dgConstraint* joint, const float* pin, float coneAngle, float twistAngle);
void dgBallSetUserCallback(dgConstraint* joint, dgBallJointCallback callback);
// The Euler angles (x about the pin, the twist, first) of the parent's joint
// frame seen from the child's, negated, as of the last solve.
void dgBallGetJointAngle(const dgConstraint* joint, float* angle);
// The child's angular velocity less the parent's, in the child's joint frame.
void dgBallGetJointOmega(const dgConstraint* joint, float* omega);
// The force of the rows that held the pivot together in the last solve, in
// world space (the limit rows' not included).
void dgBallGetJointForce(const dgConstraint* joint, float* force);

// Lets the child and the parent turn about the pin through the pivot.
dgConstraint* dgCreateHingeJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                 dgBody* parent);
// Lets them slide along the pin, without turning.
dgConstraint* dgCreateSliderJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                  dgBody* parent);
// Lets them slide along the pin and turn about it.
dgConstraint* dgCreateCorkscrewJoint(dgWorld* world, const float* pivot, const float* pin, dgBody* child,
                                     dgBody* parent);
// Holds them at the pivot and lets the child turn about pin0 and the parent
// about pin1, the pins kept perpendicular. A pin1 parallel to pin0 is
// replaced by a perpendicular one.
dgConstraint* dgCreateUniversalJoint(dgWorld* world, const float* pivot, const float* pin0, const float* pin1,
                                     dgBody* child, dgBody* parent);
// Keeps the body's axis that lies along the pin now parallel to the pin (a
// world direction), leaving the body free to move and to spin about it. A
// body turned by exactly 180 degrees stays upside down.
dgConstraint* dgCreateUpVectorJoint(dgWorld* world, const float* pin, dgBody* body);
// A new pin: the body's axis turns towards it. A zero pin is refused.
void dgUpVectorSetPin(dgConstraint* joint, const float* pin);
void dgUpVectorGetPin(const dgConstraint* joint, float* pin);

// A joint whose rows callback writes once per sub-step (the dgUserJoint...
// functions below). maxRows is held within [0, 48]; rows past it are
// ignored.
dgConstraint* dgCreateUserJoint(dgWorld* world, int32_t maxRows, dgUserJointCallback callback, dgBody* child,
                                dgBody* parent);

// Destroys the joint (its destructor callback first); during an update at
// the end of the sub-step, once however often it is asked for. A joint of
// another world is left alone. Destroying a body or the world destroys its
// joints.
void dgDestroyJoint(dgWorld* world, dgConstraint* joint);
void dgJointSetUserData(dgConstraint* joint, void* userData);
void* dgJointGetUserData(const dgConstraint* joint);
// Whether the two bodies the joint links may still collide with each other
// (state != 0). 0 for a new joint: bodies whose direct-link mode is on (the
// default) then pass through each other.
void dgJointSetCollisionState(dgConstraint* joint, int32_t state);
int32_t dgJointGetCollisionState(const dgConstraint* joint);
// Stiffness in [0, 1] (values outside are clamped): 1 holds the joint as
// hard as the solver can, lower values let it give. 0.9 for a new joint,
// 0.995 for an up-vector joint.
void dgJointSetStiffness(dgConstraint* joint, float stiffness);
float dgJointGetStiffness(const dgConstraint* joint);
void dgJointSetDestructorCallback(dgConstraint* joint, dgJointDestructorCallback callback);

// The joint-type accessors. Stop functions turn a limit into the
// acceleration a callback puts into its descriptor to stop the joint there:
// 0 at the limit, else a spring towards it (gain 100, and 1600 below a
// hinge's limit) less 1.01 times the speed per step that moves the joint
// away from the limit (a speed back towards the limit is not braked). Used
// with the descriptor's bounds it makes a one-sided stop; the result is in
// the sense of the joint's omega or velocity. A non-finite limit gives 0.

// Angle of the child about the pin against the parent, as of the last
// solve; omega is its rate now (d angle / dt).
void dgHingeSetUserCallback(dgConstraint* joint, dgJointUserCallback callback);
float dgHingeGetJointAngle(const dgConstraint* joint);
float dgHingeGetJointOmega(const dgConstraint* joint);
float dgHingeCalculateStopAlpha(const dgConstraint* joint, const dgJointUserDescriptor* desc, float angle);
// The force that held the hinge in the last solve.
void dgHingeGetJointForce(const dgConstraint* joint, float* force);

// Position of the child's pivot along the pin past the parent's, as of the
// last solve; velocity is its rate now.
void dgSliderSetUserCallback(dgConstraint* joint, dgJointUserCallback callback);
float dgSliderGetJointPosition(const dgConstraint* joint);
float dgSliderGetJointVelocity(const dgConstraint* joint);
float dgSliderCalculateStopAccel(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                 float position);
void dgSliderGetJointForce(const dgConstraint* joint, float* force);

// The slider's position and the hinge's angle in one; descriptor 0 of the
// callback is the row along the pin, descriptor 1 the row about it.
void dgCorkscrewSetUserCallback(dgConstraint* joint, dgJointUserCallback callback);
float dgCorkscrewGetJointAngle(const dgConstraint* joint);
float dgCorkscrewGetJointVelocity(const dgConstraint* joint);
float dgCorkscrewGetJointPosition(const dgConstraint* joint);
float dgCorkscrewGetJointOmega(const dgConstraint* joint);
float dgCorkscrewCalculateStopAccel(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                    float position);
float dgCorkscrewCalculateStopAlpha(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                    float angle);
void dgCorkscrewGetJointForce(const dgConstraint* joint, float* force);

// Angle 0 about pin0 and angle 1 about pin1, as of the last solve; omega 0
// and omega 1 are the child's angular velocity less the parent's along each
// pin now. Angle 0 grows with omega 0, angle 1 with -omega 1. Descriptor 0 of
// the callback is the row about pin0, descriptor 1 the row about pin1; each
// stop function answers in the sense of its own omega.
void dgUniversalSetUserCallback(dgConstraint* joint, dgJointUserCallback callback);
float dgUniversalGetJointAngle0(const dgConstraint* joint);
float dgUniversalGetJointAngle1(const dgConstraint* joint);
float dgUniversalGetJointOmega0(const dgConstraint* joint);
float dgUniversalGetJointOmega1(const dgConstraint* joint);
float dgUniversalCalculateStopAlpha0(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                     float angle);
float dgUniversalCalculateStopAlpha1(const dgConstraint* joint, const dgJointUserDescriptor* desc,
                                     float angle);
void dgUniversalGetJointForce(const dgConstraint* joint, float* force);

// ---- user joint rows ----
// Called from the user joint's callback; elsewhere, and for a row past the
// joint's maximum (or the 48th), they do nothing. Each setter acts on the
// last row added. A row is an acceleration the solver gives the relative
// motion of the two bodies (a positive value moves the child along the
// row's direction, or about its pin, and the parent the other way).

// Drives pivot0 (a world point carried by the child) and pivot1 (carried by
// the parent) together along the direction (scaled to unit length; a zero
// direction, or a pivot beyond 1e6 m on an axis, adds nothing): each step
// the row takes out their speed along it and closes half their distance.
void dgUserJointAddLinearRow(dgConstraint* joint, const float* pivot0, const float* pivot1,
                             const float* direction);
// Drives the rotation about the pin (unit-scaled) by `angle`, the parent's
// frame past the child's: each step the row takes out the turning speed and
// closes half the angle.
void dgUserJointAddAngularRow(dgConstraint* joint, float angle, const float* pin);
// A row of the caller's own: six floats each (linear x, y, z, then angular)
// for the child and the parent, none larger than 1e6 (else no row); it asks
// for no acceleration until one is set.
void dgUserJointAddGeneralRow(dgConstraint* joint, const float* jacobian0, const float* jacobian1);
void dgUserJointSetRowAcceleration(dgConstraint* joint, float acceleration);
// The row's acceleration from a spring and a damper (per unit mass) on its
// error e: the angle of an angular row, pivot1 past pivot0 along a linear
// row's direction, 0 for a general row. The form is the implicit one: with
// e' the error's rate of change, h the sub-step and
// k = h spring + damper, the error is accelerated by
// -(k e' + spring e) / (k h + 1), one implicit Euler step of
// e'' = -spring e - damper e'. Negative values are taken as given.
void dgUserJointSetRowSpringDamperAcceleration(dgConstraint* joint, float spring, float damper);
// The names read backwards, as they always have: the "minimum" friction sets
// the row's upper force bound (value held within [0.05, 1e15]) and the
// "maximum" friction its lower bound (held within [-1e15, -0.05]). Either
// makes the row a bounded one.
void dgUserJointSetRowMinimumFriction(dgConstraint* joint, float value);
void dgUserJointSetRowMaximumFriction(dgConstraint* joint, float value);
// Stiffness in [0, 1] (clamped): the row gives 100 - 99 stiffness times more
// than a rigid one.
void dgUserJointSetRowStiffness(dgConstraint* joint, float stiffness);
// The force the solver gave the row in the last solve; 0 for a row index not
// below the rows of the last call.
float dgUserJointGetRowForce(const dgConstraint* joint, int32_t row);

// ---- body hierarchies ----
// A hierarchy (an assembly) is a tree of parts, each one rigid body joined to
// its parent part by a ball joint with a cone and a twist limit. The tree is
// built between dgAssemblyBeginBuild and dgAssemblyEndBuild; after every
// sub-step in which any of its bodies moved, the update callback is called
// once for each of its parts. Matrices are 16 floats, sizes 3 floats, masses
// in kg. Non-finite input is refused (null, or nothing changed); getters given
// null give 0, null or the identity.
//
// An assembly lives until dgDestroyAssembly, dgWorldDestroyAllBodies or the
// world's destruction, which destroy its parts and their bodies. Destroying
// it from its own update callback takes effect when that walk is over; from
// anywhere else at once (its bodies, during an update, at the end of the
// sub-step, but no callback of theirs reaches the assembly meanwhile). A part
// whose body the caller destroys stays in the tree without a body: its body
// is then null and its matrices the identity.
// What it does not do: parts are not removed one by one, no part is added
// after the build, and a part's body must not be given another force or
// transform callback (the assembly relies on its own).

dgAssembly* dgCreateAssembly(dgWorld* world);
void dgDestroyAssembly(dgWorld* world, dgAssembly* assembly);
// Destroys the previous tree (parts and bodies) and starts an empty one.
// Refused from the assembly's own update callback.
void dgAssemblyBeginBuild(dgAssembly* assembly);
// Hands every part's body to the assembly: its force callback becomes the
// forwarder to callback A, its transform callback the hierarchy's queue, and
// its four freeze thresholds grow 16-fold.
void dgAssemblyEndBuild(dgAssembly* assembly);
// Callback A: the force-and-torque callback of every part's body. Callback
// B: the update callback. Both are taken only while building.
void dgAssemblySetCallbackA(dgAssembly* assembly, dgBodyForceAndTorqueCallback callback);
void dgAssemblySetCallbackB(dgAssembly* assembly, dgAssemblyUpdateCallback callback);
// A new part with its body (inertia of a box of `size` at 0.7 of its mass,
// each axis at least a third of the largest; angular damping 0.15). matrix
// places the part's frame (its origin is the joint point) in its parent's
// frame, or in the world for the root; the body's origin lies at half the
// size's x along the frame's x axis. A part with a parent is joined to it by
// a ball joint at the frame's origin, the cone about the frame's x axis and
// both limits at 90 degrees. Null outside a build, for a parent of another
// assembly, for a second part without a parent (one root per build), for
// non-finite or non-positive mass or size, or when the body cannot be made.
dgAssemblyPart* dgAssemblyAddPart(dgAssembly* assembly, dgAssemblyPart* parent, void* userData, float mass,
                                  const float* matrix, dgCollision* collision, const float* size);
// The first part, children before parents, whose key is `key`; null when
// none or the assembly has no parts.
dgAssemblyPart* dgAssemblyFindPart(const dgAssembly* assembly, uint32_t key);
// New limits of the part's joint measured from the present pose: the cone
// about pin (3 floats, scaled to unit length) from minCone to maxCone, the
// twist up to twist (radians; the cone's half-width held within [5, 175]
// degrees, the twist within [5, 90]). The three trailing words are not read.
// Nothing for the root, a zero or non-finite pin or a non-finite angle.
void dgAssemblyPartSetLimits(dgAssemblyPart* part, const float* pin, float minCone, float maxCone, float twist,
                             int32_t unused0, int32_t unused1, int32_t unused2);
dgBody* dgAssemblyPartGetBody(const dgAssemblyPart* part);
// The user data the part was created with. It takes the part, as it always
// has, not the assembly.
void* dgAssemblyGetUserData(const dgAssemblyPart* part);
// Despite its name it sets the part's search key (dgAssemblyFindPart), not
// its user data.
void dgAssemblyPartSetUserData(dgAssemblyPart* part, uint32_t key);
// The part's frame in the world (the body's matrix moved back by the body's
// offset), and relative to its parent's frame (in the world for the root).
void dgAssemblyPartGetGlobalMatrix(const dgAssemblyPart* part, float* matrix);
void dgAssemblyPartGetLocalMatrix(const dgAssemblyPart* part, float* matrix);

// ---- vehicles ----
// A vehicle joint turns a body (the chassis) into a wheeled vehicle of up to
// 33 tires. Each tire is a rounded cylinder spinning about its pin, hung from
// the chassis on a spring and a damper along the vehicle's up direction. The
// vehicle solves chassis, suspensions, tire spins and tire-ground friction
// itself, at 179 sub-steps a second, and hands the world the resulting force
// and torque on the chassis. Vectors are 3 floats (pins 4), matrices 16
// floats; tire matrices and pins are in the chassis's frame. Non-finite input
// is refused (null, or nothing changed); getters given null give 0.
// What it does not do: tires have no rolling resistance of their own, no
// camber, no differential or gearbox (torque is the caller's per tire), no
// anti-roll bar; two vehicles touching each other collide as plain bodies;
// contacts of tires with other vehicles' chassis are not taken over.

// Makes body the chassis of a new vehicle whose up direction (3 floats, world
// space now, scaled to unit length) is fixed in the chassis. Its collision is
// replaced by a compound holding the old shape (or its children) to which
// the tires are added. Null for a zero or non-finite up, a body that is
// already a chassis, or a body of another world.
dgConstraint* dgCreateVehicle(dgWorld* world, const float* up, dgBody* body);
// A tire at matrix (its steering pivot and rest orientation, chassis space)
// spinning about pin, with mass (kg), width and radius (m), shock (damper,
// N s/m) and spring (N/m), both per kilogram of the suspension's effective
// mass, about the tire's (a 20 kg tire under a quarter of a 1000 kg car
// sags about 14 cm with spring 3000 and settles without ringing with shock
// 400), and suspension length (m, stored, not enforced); absolute values
// are stored. collisionId becomes the tire shape's user id. The matrix is
// made rigid, or refused, by dgBodySetMatrix's rule. Null for the 34th tire,
// non-finite input, a refused matrix, a zero pin, a zero mass, width or
// radius, and for a tire out of the chassis's scale: a width or radius, or a
// distance of its position from the chassis's origin, above the chassis's
// size (the diagonal of the box around the chassis's own shapes and its
// origin, at least 1 m). A chassis that is immovable (mass below 0.001 or of
// 1e15 and above, set before or after) keeps its vehicle, which stands: its
// tires are not solved until the chassis is movable again.
dgVehicleTire* dgVehicleAddTire(dgConstraint* vehicle, const float* matrix, const float* pin, float mass,
                                float width, float radius, float shock, float spring, float length,
                                uint32_t collisionId, void* userData);
void dgVehicleRemoveTire(dgConstraint* vehicle, dgVehicleTire* tire);
// Suspension positions, speeds, spin angles and spin rates back to 0.
void dgVehicleReset(dgConstraint* vehicle);
void dgVehicleSetTireCallback(dgConstraint* vehicle, dgVehicleTireCallback callback);
// The tire's world matrix: steered, spun about its pin and moved along up by
// its suspension position.
void dgVehicleGetTireMatrix(const dgConstraint* vehicle, const dgVehicleTire* tire, float* matrix);
// Turns the tire about up by angle (radians) from its rest orientation.
void dgVehicleSetTireSteerAngle(dgConstraint* vehicle, dgVehicleTire* tire, float angle);
// The tires in the order they were added; next gives null after the last.
dgVehicleTire* dgVehicleGetFirstTire(const dgConstraint* vehicle);
dgVehicleTire* dgVehicleGetNextTire(const dgConstraint* vehicle, const dgVehicleTire* tire);

// Tire accessors. The setters are meant for the tire callback: torque, brake,
// slip limits and slip scales go back to their defaults before each call.
void* dgVehicleTireGetUserData(const dgVehicleTire* tire);
float dgVehicleTireGetSteerAngle(const dgVehicleTire* tire);
// Drive torque about the pin (N m) for this sub-step, held within +-1e7 x the
// tire's inertia (an angular acceleration of 1e7 rad/s^2).
void dgVehicleTireSetTorque(dgVehicleTire* tire, float torque);
// The tire's weight: the chassis's acceleration along up from its applied
// force (N per kg) times the tire's mass, as of the start of the sub-step.
float dgVehicleTireGetLoad(const dgVehicleTire* tire);
// The pin's component of the tire's pin velocity (0: the engine keeps none).
float dgVehicleTireGetPinSpeed(const dgVehicleTire* tire);
// A brake that gives the spin the angular acceleration `acceleration`
// (rad/s^2, usually dgVehicleTireCalculateMaxBrake, held within +-1e7) with a
// torque of at most
// |limit| (N m); a limit of at most 1e-10 brakes nothing.
void dgVehicleTireSetBrake(dgVehicleTire* tire, float acceleration, float limit);
// The acceleration that stops the spin within about one sub-step:
// 0.99 x spin rate / sub-step.
float dgVehicleTireCalculateMaxBrake(const dgVehicleTire* tire);
// Value A: the chassis's velocity along the tire's pin (sideways), negated.
// Value B: along the rolling direction (pin x up), negated. Both measured at
// the start of the last sub-step, m/s.
float dgVehicleTireGetNegValueA(const dgVehicleTire* tire);
float dgVehicleTireGetNegValueB(const dgVehicleTire* tire);
// Slip limit (m/s, held at most 0.5) and slip scale (held at most 1, stored
// as a quarter) of the lateral (A) and longitudinal (B) friction: a contact
// sliding faster than the limit grips with the sliding coefficient, reduced
// by the scale.
void dgVehicleTireSetSlipLimitA(dgVehicleTire* tire, float limit);
void dgVehicleTireSetSlipLimitB(dgVehicleTire* tire, float limit);
void dgVehicleTireSetSlipScaleA(dgVehicleTire* tire, float scale);
void dgVehicleTireSetSlipScaleB(dgVehicleTire* tire, float scale);
// State 0: airborne (no contact in the last sub-step). State 1: longitudinal
// slip (slip limit B reached). State 2: lateral slip (slip limit A reached).
// 1 or 0.
int32_t dgVehicleTireTestState0(const dgVehicleTire* tire);
int32_t dgVehicleTireTestState1(const dgVehicleTire* tire);
int32_t dgVehicleTireTestState2(const dgVehicleTire* tire);

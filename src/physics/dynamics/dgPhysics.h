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
// Sets the modifier matrix; a singular or non-finite matrix, or a shape that
// is not a modifier, changes nothing.
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
// Drops one reference through the world's cache.
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

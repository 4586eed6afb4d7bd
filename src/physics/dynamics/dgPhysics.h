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

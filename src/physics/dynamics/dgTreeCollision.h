// The tree collision: a static polygon mesh (the game's terrain) built face
// by face, stored as a double-plane BSP soup and presented to the engine as a
// polygon-soup shape.
//
// The object is a dgDoublePlaneBSPPolygonSoup that also knows its world, the
// soup builder in use between begin and end build, and the user's per-face
// callback. It answers to the BSP soup's class identity. Callers never hold
// it: they hold the dgCollisionPolygonalSoup that wraps it, whose user data
// is the tree object and whose three callbacks are dgTreeCollisionCollide,
// dgTreeCollisionRayCast and dgTreeCollisionDestroy.
//
// Single-threaded, like the rest of the world.
#pragma once

#include <cstdint>

#include "dgCollisionPolygonalSoup.h"
#include "dgDoublePlaneBSPPolygonSoup.h"
#include "dgPhysicsTypes.h"

class dgBody;
class dgPolygonSoupBuilder;
class dgWorld;

// The per-face callback (dgTreeCollisionCallback) is the public header's: it
// sees every face a collision query gathers, before the face is stored.

class dgTreeCollision : public dgDoublePlaneBSPPolygonSoup {
public:
    dgTreeCollision(dgWorld* world, dgTreeCollisionCallback callback);
    // Frees a builder left by a build that was never ended.
    ~dgTreeCollision() override;

    // The world the tree was created in (not read by the tree itself).
    dgWorld* m_world;
    // The builder between begin and end build; null otherwise. Heap-owned.
    dgPolygonSoupBuilder* m_builder;
    // The user's per-face callback; may be null.
    dgTreeCollisionCallback m_callback;
};

// dgCreateTreeCollision and the build functions are declared in dgPhysics.h.

// A polygon-soup shape over the caller's user data and callbacks (one
// reference for the caller); null when allocation fails.
dgCollision* dgWorldCreatePolygonSoupCollision(void* userData, dgPolygonSoupCollideCallback collide,
                                               dgPolygonSoupRayCastCallback rayCast,
                                               dgPolygonSoupDestroyCallback destroy);

// The shape's collide callback: gathers the faces in the record's box.
void dgTreeCollisionCollide(dgPolygonSoupCollideDesc* desc);
// Per-face step of the gathering (a dgPolygonSoupFaceCallback over the
// record): 0 when the record is full, which ends the query.
int32_t dgTreeCollisionGatherFace(void* desc, const float* vertices, int32_t strideInBytes,
                                  const int32_t* indices, int32_t vertexCount);
// The shape's ray callback: the nearest front-side hit of the record's
// segment, with its unit normal and attribute written when t <= 1; 2.0 when
// nothing is hit.
float dgTreeCollisionRayCast(dgPolygonSoupRayDesc* desc);
// The shape's destroy callback: drops one reference of the tree object.
void dgTreeCollisionDestroy(void* tree);
// The collide callback swapped in for a polygon walk: every face of the soup
// goes to the walk's callback, placed by the soup body's matrix.
void dgTreeCollisionPolygonWalk(dgPolygonSoupCollideDesc* desc);

// dgBodyForEachPolygonDo (public header) walks a tree collision through
// dgTreeCollisionPolygonWalk.

// The world's collision cache and the primitive factory.
//
// Shapes never change once built, so a world shares them: asking twice for
// the same primitive (same type, sizes equal to 1/1024, bit-identical offset
// matrix) gives the same object with one more reference. The cache
// (dgWorld::m_collisionCache) maps a shape's 32-bit signature to the shape and
// owns one reference of every shape it holds; keys are unique.
//
// Every factory call returns a shape carrying one reference for the caller,
// or null when the world is null, the shape cannot be allocated or a size,
// point or offset entry is not finite. Sizes are taken as absolute values.
// The caller gives its reference back with dgWorldReleaseCollision, which
// also takes the shape out of the cache when the cache's reference is the
// last one left. Compound and convex modifier shapes are built directly and
// never enter the cache; they release their children through the world.
//
// Equal signatures do not by themselves mean the same shape: the key is a
// 32-bit hash, and sizes whose value * 1024 leaves the 32-bit range wrap in
// it. On a signature hit the cached shape's own parameters are compared
// with the request (class, sizes or hull points equal to 1/1024 without the
// wrap, bit-identical offset matrix) and it is shared only when they agree.
// Otherwise the new shape is built and handed out uncached: the cache keeps
// one shape per key, and the release tells the two apart by the shape
// itself.
//
// Single-threaded, like the rest of the world.
#pragma once

#include <cstdint>

#include "dgMatrix.h"
#include "dgRbTree.h"

class dgCollision;
class dgWorld;

// The world's shared shapes keyed by signature; the cache owns one reference
// of every shape it holds.
typedef dgRbTree<dgCollision*, uint32_t> dgCollisionCache;

// The one null shape of the world, keyed by the class identity of
// "dgCollisionNull" (which is also its signature).
dgCollision* dgWorldCreateNull(dgWorld* world);
// Box of full sizes dx, dy, dz (key: half sizes).
dgCollision* dgWorldCreateBox(dgWorld* world, float dx, float dy, float dz, const dgMatrix& offsetMatrix);
// Cone along x: base radius, full height (key: radius, half height).
dgCollision* dgWorldCreateCone(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix);
dgCollision* dgWorldCreateSphere(dgWorld* world, float radius, const dgMatrix& offsetMatrix);
// Ellipsoid of the three radii (always an ellipse, even with equal radii).
dgCollision* dgWorldCreateEllipse(dgWorld* world, float rx, float ry, float rz, const dgMatrix& offsetMatrix);
// Capsule, cylinder and chamfer cylinder along x: radius, full height (key:
// radius, half height).
dgCollision* dgWorldCreateCapsule(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix);
dgCollision* dgWorldCreateCylinder(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix);
dgCollision* dgWorldCreateChamferCylinder(dgWorld* world, float radius, float height,
                                          const dgMatrix& offsetMatrix);
// Convex hull of count points, x, y, z floats at the start of every stride
// (in bytes; its remainder modulo 4 is dropped, as the hull does). Null also
// for a negative count or stride, missing points, a point set too large to
// key, or memory running out anywhere in the construction (nothing is then
// cached). Degenerate sets give the (cached) empty hull.
dgCollision* dgWorldCreateConvexHull(dgWorld* world, int32_t count, const float* points,
                                     int32_t strideInBytes, const dgMatrix& offsetMatrix);

// Key of a convex hull: the record {7, dgQuantize of x, y, z of every point,
// the 16 offset-matrix words} hashed over its 4 * (3 * count + 17) bytes.
// False (signature untouched) when the record cannot be built: see
// dgWorldCreateConvexHull.
bool dgConvexHullSignature(int32_t count, const float* points, int32_t strideInBytes,
                           const dgMatrix& offsetMatrix, uint32_t* signature);

// Drops one reference of a shape obtained from the world or held by a
// compound or modifier. At 0 the shape is destroyed. When exactly one
// reference is left and that reference is the cache's (the cache entry under
// the shape's signature holds this very shape), the shape is destroyed and
// its entry removed. Any other shape is left alive with its remaining
// references. Null shapes are ignored; with a null world it is a plain
// release (there is no cache to consult).
void dgWorldReleaseCollision(dgWorld* world, dgCollision* shape);

// Takes the shape out of the cache, dropping the cache's reference (the shape
// lives on for its other holders, and the factory builds a new one next
// time). Nothing happens unless the cache holds this very shape.
void dgWorldRemoveCollisionFromCache(dgWorld* world, dgCollision* shape);

// Find-or-insert of a cache entry: returns the existing node with
// *existed = 1 (nothing inserted, no reference taken), or a new node that
// now owns the caller's reference of the shape with *existed = 0; null when
// the node cannot be allocated. existed may be null.
dgCollisionCache::Node* dgCollisionCacheInsert(dgCollisionCache* cache, uint32_t key, dgCollision* shape,
                                               int32_t* existed);

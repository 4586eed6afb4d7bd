// The empty shape: a body carrying it moves and can be jointed but never
// collides and never reports a ray hit. A convex shape with no vertices and
// no edges, always at the identity offset. The world's shape factory keeps
// one shared instance; contact generation skips any pair with a null shape.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"

class dgCollisionNull : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionNull, dgConvexCollision)

public:
    // Convex base with the identity offset and type 11.
    explicit dgCollisionNull(uint32_t signature);
    ~dgCollisionNull() override;

    // Ignored.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // The single point at the matrix origin: min = max = origin, w = 1.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // No faces; returns 0.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Always kRayMiss; neither the prefilter nor the contact is touched.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // 0.
    float getVolume() const override;
    // Zero inertia and origin (x, y, z; w untouched).
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // The zero vector.
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;
    // The signature given at construction.
    uint32_t calcSignature() const override;
    // Nothing reaches these on a null shape; they answer the zero vector and
    // no points rather than walk an empty polyhedron.
    dgVector supportVertex(const dgVector& direction) const override;
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;
};

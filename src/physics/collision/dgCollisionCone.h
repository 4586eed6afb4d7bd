// The solid right circular cone about the x axis of its offset matrix: the
// base disc of radius r lies in the plane x = -h, the apex at (h, 0, 0), h
// being half the height.
//
// Its coarse polyhedron (an octagonal pyramid: 9 vertices, 32 half-edges)
// seeds the convex base's cached data and serves the plane contour. The
// support vertex is the apex or a base-rim point snapped to the tessellation
// angle step of radius r; the ray cast is the convex base's support-function
// cast. Volume and inertia are integrated over the polygon walk, a pyramid
// over a regular 24-gon, so they come out about 1.1 % below those of the true
// cone (the 24-gon's area is 0.989 of the disc's).
//
// The edge table is shared by the live cones; see dgShapeTables.h. Created by
// the world's shape factory with the signature of {1, r, h, offset matrix};
// storage from the block cache.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The table shared by the live cones.
struct dgConeTables {
    static constexpr int32_t kEdgeCount = 32;
    dgConvexEdge m_edges[kEdgeCount];

    bool build();
};

class dgCollisionCone : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionCone, dgConvexCollision)

public:
    // Base ring points of the coarse polyhedron; vertex kRimPoints is the apex.
    static constexpr int32_t kRimPoints = 8;
    static constexpr int32_t kVertexCount = kRimPoints + 1;
    static constexpr int32_t kEdgeCount = dgConeTables::kEdgeCount;
    // Rim points of the polygon walk.
    static constexpr int32_t kWalkSegments = 24;

    // Radius |radius| and half height |height| / 2, placed by offsetMatrix.
    dgCollisionCone(uint32_t signature, float radius, float height, const dgMatrix& offsetMatrix);
    ~dgCollisionCone() override;

    // Ignored: the bounds follow from the size.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // kWalkSegments side triangles (rim k-1, rim k, apex), then the base
    // polygon (rim kWalkSegments-1 down to 0), placed by offset matrix *
    // matrix, outward, face id 0. Returns the corners reported.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Type 1, radius, half height, offset matrix.
    uint32_t calcSignature() const override;
    // The apex when d.x exceeds the sine of the half angle; otherwise the
    // better of the two base-rim grid points around the direction's azimuth
    // (the first on a tie). w = 1.
    dgVector supportVertex(const dgVector& direction) const override;
    // The convex base's contour of the coarse pyramid, taken in a frame
    // turned about x so that the plane's normal lies in the xy plane (one
    // ring vertex then faces the plane's tilt); directly when |n.x| >= 0.999.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    float getRadius() const { return m_radius; }
    float getHalfHeight() const { return m_height; }
    // r / sqrt(r^2 + (2h)^2); 0 for a cone without size.
    float getSinHalfAngle() const { return m_sinHalfAngle; }
    const dgAngleStep& getAngleStep() const { return m_angleStep; }

    // Number of live cones.
    static int32_t dgConeLiveCount();
    // The shared edge table; null while no cone lives.
    static const dgConvexEdge* dgConeEdgeTable();

protected:
    // Half height h.
    float m_height;
    // Radius r.
    float m_radius;
    // Beyond this x component of a unit direction the apex is the support.
    float m_sinHalfAngle;
    // Tessellation step of radius r.
    dgAngleStep m_angleStep;
    // Vertex k (k < 8) is (-h, r cos(k 45deg), r sin(k 45deg)), vertex 8 the
    // apex; w = 1.
    dgVector m_coneVertices[kVertexCount];

private:
    static dgShapeTables<dgConeTables> s_sharedTables;
};

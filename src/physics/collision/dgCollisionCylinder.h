// The solid circular cylinder of radius r about the x axis of its offset
// matrix, between the end discs at x = -h and x = +h (h half the height).
//
// Its coarse polyhedron (an octagonal prism: 16 vertices, 48 half-edges)
// seeds the convex base's cached data and serves the plane contour. The
// support vertex lies on the rim circles snapped to the tessellation angle
// step, the ray cast is analytic, and volume and inertia are integrated over
// the polygon walk (a 24-sided prism), so they come out about 1.1 % below
// those of the true cylinder.
//
// The edge table is shared by the live cylinders; see dgShapeTables.h.
// Storage from the block cache; created by the world's shape factory.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The table shared by the live cylinders.
struct dgCylinderTables {
    static constexpr int32_t kEdgeCount = 48;
    dgConvexEdge m_edges[kEdgeCount];

    bool build();
};

class dgCollisionCylinder : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionCylinder, dgConvexCollision)

public:
    static constexpr int32_t kVertexCount = 16;
    static constexpr int32_t kEdgeCount = dgCylinderTables::kEdgeCount;
    // Points per rim circle of the polygon walk.
    static constexpr int32_t kWalkSegments = 24;

    // Radius |radius| and half height |height| / 2, placed by offsetMatrix.
    // The factory passes the signature of {5, radius, half height, matrix}.
    dgCollisionCylinder(uint32_t signature, float radius, float height, const dgMatrix& offsetMatrix);
    ~dgCollisionCylinder() override;

    // Ignored: the bounds follow from the size.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // kWalkSegments side quads, then the -x end (a kWalkSegments-gon) and the
    // +x end, placed by offset matrix * body matrix, outward, face id 0. Returns
    // the number of faces reported.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Analytic: the side, then the end discs. A segment starting inside or
    // on the surface misses; one ending exactly on the surface hits at t = 1.
    // Normals are the side's radial direction or (+-1, 0, 0), w = 0.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Type 5, radius, half height, offset matrix.
    uint32_t calcSignature() const override;
    // (+h when d.x > 0 else -h, rim point): the rim point is the better of
    // the two angle-grid points around the direction's azimuth. w = 1.
    dgVector supportVertex(const dgVector& direction) const override;
    // The convex base's contour of the coarse prism, taken in a frame turned
    // about x so that the plane's normal lies in the xy plane (so one prism
    // edge always faces the plane's tilt); directly when |n.x| >= 0.999.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // The exact support without the angle grid: (+-h, r * unit azimuth).
    // w = 1.
    dgVector supportVertexExact(const dgVector& direction) const;

    float getRadius() const { return m_radius; }
    float getHalfHeight() const { return m_height; }
    const dgAngleStep& getAngleStep() const { return m_angleStep; }

    // Number of live cylinders.
    static int32_t dgCylinderLiveCount();
    // The shared edge table; null while no cylinder lives.
    static const dgConvexEdge* dgCylinderEdgeTable();

protected:
    // Half height h.
    float m_height;
    // Radius r.
    float m_radius;
    // Tessellation step of radius r.
    dgAngleStep m_angleStep;
    // Vertex k (k < 8) is (-h, r cos(k 45deg), r sin(k 45deg)), vertex 8 + k
    // the same at +h; w = 1.
    dgVector m_cylinderVertices[kVertexCount];

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    static dgShapeTables<dgCylinderTables> s_sharedTables;
};

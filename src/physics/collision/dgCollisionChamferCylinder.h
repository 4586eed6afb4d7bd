// The chamfer cylinder: a cylinder whose edges are fully rounded, the shape
// of a wheel or tire. It is the set of points within h of a disc of core
// radius rc lying in the plane x = 0 of its offset matrix, centred on the x
// axis: flat discs of radius rc at x = +-h joined by a half torus of tube
// radius h. Overall radius rc + h, overall length 2h along x.
//
// Its coarse polyhedron (5 rings of 8 vertices along the rounded profile,
// 144 half-edges) seeds the convex base's cached data. The support vertex
// lies on the rounded surface at the angle-grid directions nearest the
// query, the ray cast is analytic for the flat discs and the general convex
// cast elsewhere, and volume and inertia are integrated over the polygon walk
// (24 segments around, 12 along the profile), 1.2 % to 3 % below those of
// the true shape (the more, the smaller the core against the rounding).
//
// The vehicle's tire shape derives from this class and overrides calcAABB,
// forEachPolygon, rayCast, supportVertex and calcPlaneIntersection by calling
// the operations of this class (qualified, non-virtually); keep them
// overridable. The edge table and the section directions are shared by the
// live chamfer cylinders (tires included); see dgShapeTables.h. Storage from
// the block cache; created by the world's shape factory.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The tables shared by the live chamfer cylinders.
struct dgChamferCylinderTables {
    static constexpr int32_t kEdgeCount = 144;
    static constexpr int32_t kDirectionCount = 8;
    dgConvexEdge m_edges[kEdgeCount];
    // (0, cos phi, sin phi, 1), phi = k * 6.28318 / 8: the rays that sample a
    // plane section of the core, turned into the plane.
    dgVector m_directions[kDirectionCount];

    bool build();
};

class dgCollisionChamferCylinder : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionChamferCylinder, dgConvexCollision)

public:
    static constexpr int32_t kRingCount = 5;
    static constexpr int32_t kRingPoints = 8;
    static constexpr int32_t kVertexCount = kRingCount * kRingPoints;
    static constexpr int32_t kEdgeCount = dgChamferCylinderTables::kEdgeCount;
    // Polygon walk: points around each profile row, and rows along the
    // rounded profile from x = -h to x = +h.
    static constexpr int32_t kWalkSegments = 24;
    static constexpr int32_t kWalkRows = 13;
    // Section points closer than 1/16 are one.
    static constexpr float kSectionMergeDist2 = 0.00390625f;
    // Core radius used when |radius| - h is not above it.
    static constexpr float kMinCoreRadius = 0.1f;

    // Half height h = |height| / 2; core radius rc = |radius| - h when that
    // exceeds kMinCoreRadius, else kMinCoreRadius. The factory passes the
    // signature of {9, |radius|, h, matrix}.
    dgCollisionChamferCylinder(uint32_t signature, float radius, float height, const dgMatrix& offsetMatrix);
    ~dgCollisionChamferCylinder() override;

    // Ignored: the bounds follow from the size.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // (kWalkRows - 1) * kWalkSegments quads along the rounded profile, then
    // the -x flat face and the +x flat face (kWalkSegments-gons), placed by
    // offset matrix * body matrix, outward, face id 0. Returns the number of faces
    // reported.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Analytic through the flat discs; elsewhere the convex base's general
    // cast on this shape's support (no prefilter asked twice), whose hit and
    // normal are those of the angle-grid surface.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Type 9, |radius| as given, h, offset matrix: the key the factory files
    // the shape under.
    uint32_t calcSignature() const override;
    // Directions within 0.9998 of +-x give the flat face's rim point toward
    // the direction's azimuth ((+-h, 0, rc) for the axis itself). Otherwise the best of the four corners of
    // the angle-grid cell holding the direction, each mapped by surfacePoint. w = 1 (the grid direction's).
    dgVector supportVertex(const dgVector& direction) const override;
    // Points on the boundary of the core cylinder's section by the plane
    // (at most 8, merged closer than 1/16), sampled by rays from a point
    // inside the section; for a plane that misses the core, p itself when it
    // lies within h of the core's rim circle, else nothing.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // The surface point whose outward normal is the unit vector u; w = u.w.
    dgVector surfacePoint(const dgVector& u) const;
    // The exact support of the core cylinder (radius rc, x in [-h, h]):
    // (+h when d.x > 0 else -h, rc * unit azimuth of d), w = 1.
    dgVector coreSupport(const dgVector& direction) const;
    // False when q is not strictly inside the core cylinder. Otherwise writes
    // to out the point where the line from q along d leaves the core and
    // returns true.
    bool clipToCore(const dgVector& q, const dgVector& direction, dgVector& out) const;
    // Moves point onto the plane (unit normal x, y, z; offset w) along the
    // normal; true when it then lies strictly inside the core cylinder.
    bool projectInsideCore(const dgPlane& plane, dgVector& point) const;

    // Half height h, also the radius of the rounding.
    float getHalfHeight() const { return m_height; }
    // Core radius rc.
    float getCoreRadius() const { return m_radius; }
    // |radius| as the shape was asked for.
    float getGivenRadius() const { return m_givenRadius; }
    const dgAngleStep& getAngleStep() const { return m_angleStep; }

    // Number of live chamfer cylinders.
    static int32_t dgChamferCylinderLiveCount();
    // The shared tables; null while no chamfer cylinder lives.
    static const dgConvexEdge* dgChamferCylinderEdgeTable();
    static const dgVector* dgChamferDirections();

protected:
    // Half height h.
    float m_height;
    // Core radius rc.
    float m_radius;
    // Tessellation step of radius rc.
    dgAngleStep m_angleStep;
    // |radius| as given, for the signature.
    float m_givenRadius;
    // Ring m (x = -h cos(m 45deg), radius rc + h sin(m 45deg)), vertex k at
    // azimuth k * 45deg from +z toward +y; w = 1.
    dgVector m_chamferVertices[kVertexCount];

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    static dgShapeTables<dgChamferCylinderTables> s_sharedTables;
};

// The sphere of a given radius centred at the origin of its offset matrix,
// and the base of the ellipse and of the world's point shape.
//
// Its coarse polyhedron (the octahedron subdivided once: 18 vertices, 96
// half-edges) only seeds the convex base's cached data; the queries are
// analytic. The support vertex lies on a latitude/longitude grid of the
// tessellation angle step, the polygon walk is a finer subdivision (512
// triangles), and volume and inertia are integrated over that walk, so they
// come out slightly below those of the true sphere.
//
// The unit vertices and the edge table are shared by the live spheres (the
// ellipse and the point shape count as spheres); see dgShapeTables.h. Storage
// from the block cache; created by the world's shape factory.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The tables shared by the live spheres.
struct dgSphereTables {
    static constexpr int32_t kVertexCount = 18;
    static constexpr int32_t kEdgeCount = 96;
    // Vertices of the unit polyhedron, w = 1.
    dgVector m_unitVertices[kVertexCount];
    dgConvexEdge m_edges[kEdgeCount];

    bool build();
};

class dgCollisionSphere : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionSphere, dgConvexCollision)

public:
    static constexpr int32_t kVertexCount = dgSphereTables::kVertexCount;
    static constexpr int32_t kEdgeCount = dgSphereTables::kEdgeCount;
    // Subdivision level of the polygon walk and the triangles it reports.
    static constexpr int32_t kWalkLevel = 3;
    static constexpr int32_t kWalkTriangles = 8 << (2 * kWalkLevel);

    // The radius is kept as given (the factory passes it positive; 0 or a
    // negative radius gives a degenerate shape).
    dgCollisionSphere(uint32_t signature, float radius, const dgMatrix& offsetMatrix);
    ~dgCollisionSphere() override;

    // Ignored.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // Matrix origin -/+ radius on each axis; w = 1.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // kWalkTriangles triangles of the sphere placed by offset matrix * body matrix,
    // face id 0. Returns the corners reported (3 per triangle).
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Nearest intersection of the segment with the sphere. A segment starting
    // inside, a tangent one, and one reaching the sphere only beyond p1 miss
    // (kRayMiss, contact untouched). On a hit (0 <= t <= 1) the normal is the
    // unit outward normal at the hit point (w = p0.w).
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Type 2, the radius, the offset matrix.
    uint32_t calcSignature() const override;
    // The best of the four corners of the angle-grid cell holding the
    // direction (a unit vector): the support point of the sphere
    // tessellated at the angle step. Directions within 0.9998 of +-x give
    // (+-r, 0, 0) exactly. w = 0.
    dgVector supportVertex(const dgVector& direction) const override;
    // One point: the centre projected onto the plane through point with unit
    // normal (normal * (normal . point), w = normal.w). Returns 1.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // Appends p0, p1, p2 to out at count (adding 3) when level is 0; else
    // splits the spherical triangle by the normalised edge midpoints (each
    // keeping the w of its first point) and recurses on (p0, m01, m20),
    // (p1, m12, m01), (p2, m20, m12), (m01, m12, m20). out must hold
    // 3 * 4^level more vectors.
    static void subdivideTriangle(int32_t level, const dgVector& p0, const dgVector& p1, const dgVector& p2,
                                  int32_t& count, dgVector* out);
    // Corners a, b, c of face `face` (0-7) of the unit octahedron, outward,
    // in the order the polygon walks take them: (+z, +x, +y), (+z, +y, -x),
    // (+z, -x, -y), (+z, -y, +x), (-z, +y, +x), (-z, -x, +y), (-z, -y, -x),
    // (-z, +x, -y); w = 1.
    static void octahedronFace(int32_t face, dgVector& a, dgVector& b, dgVector& c);
    // The support point of a sphere of the given radius about the origin on
    // the angle grid of step `grid` (what supportVertex answers with the
    // shape's own radius and step); the rounded parts of other primitives
    // use it with theirs. w = 0.
    static dgVector gridSupport(const dgVector& direction, float radius, const dgAngleStep& grid);

    float getRadius() const { return m_radius; }
    const dgAngleStep& getAngleStep() const { return m_angleStep; }

    // Number of live spheres (ellipses and point shapes included).
    static int32_t dgSphereLiveCount();
    // The shared tables; null while no sphere lives.
    static const dgVector* dgSphereUnitVertices();
    static const dgConvexEdge* dgSphereEdgeTable();

protected:
    // The polygon walk with a given offset matrix in place of the shape's:
    // the unit-sphere triangles scaled by the radius, placed by offsetMatrix
    // * body matrix. Lets a derived shape deform the walk without touching its
    // own offset.
    int32_t forEachPolygonPlaced(const dgMatrix& offsetMatrix, const dgBody* body,
                                 dgCollisionPolygonCallback callback) const;

    float m_radius;
    // Not used by the sphere.
    float m_spare;
    dgAngleStep m_angleStep;
    dgVector m_sphereVertices[kVertexCount];

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    static dgShapeTables<dgSphereTables> s_sharedTables;
};

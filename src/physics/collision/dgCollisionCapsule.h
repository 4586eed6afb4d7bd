// The capsule about the x axis of its offset matrix: a cylinder of radius r
// between x = -hc and x = +hc closed by two half spheres of radius r centred
// at (+-hc, 0, 0).
//
// Its coarse polyhedron (8 rings of 6 vertices: 48 vertices, 180 half-edges)
// seeds the convex base's cached data and serves the plane contour. The
// support vertex lies on the sphere's angle grid of radius r moved to the end
// the direction points to; the ray cast is analytic. Volume and inertia are
// integrated over the polygon walk (a 16-sided prism closed by the octahedron
// subdivided twice), so they come out a few percent below those of the true
// capsule.
//
// The edge table is shared by the live capsules; see dgShapeTables.h. Created
// by the world's shape factory with the signature of {4, r, |height| / 2,
// offset matrix}; storage from the block cache.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The table shared by the live capsules.
struct dgCapsuleTables {
    static constexpr int32_t kEdgeCount = 180;
    dgConvexEdge m_edges[kEdgeCount];

    bool build();
};

class dgCollisionCapsule : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionCapsule, dgConvexCollision)

public:
    // The coarse polyhedron: kRings rings of kRingPoints vertices, the first
    // kRings / 2 at the -x end from the tip toward the middle, then the +x
    // end from the middle toward the tip.
    static constexpr int32_t kRings = 8;
    static constexpr int32_t kRingPoints = 6;
    static constexpr int32_t kVertexCount = kRings * kRingPoints;
    static constexpr int32_t kEdgeCount = dgCapsuleTables::kEdgeCount;
    // Polygon walk: points per ring of the cylindrical part, subdivision
    // level of the octahedron faces that make the ends, triangles of both
    // ends together.
    static constexpr int32_t kWalkSegments = 16;
    static constexpr int32_t kWalkCapLevel = 2;
    static constexpr int32_t kWalkCapTriangles = 8 << (2 * kWalkCapLevel);
    static constexpr int32_t kWalkRingCorners = 2 * kWalkSegments;
    static constexpr int32_t kWalkCorners = kWalkRingCorners + 3 * kWalkCapTriangles;
    // Shortest half length of the cylindrical part.
    static constexpr float kMinHalfLength = 0.05f;

    // Radius |radius|; half length of the cylindrical part |height| / 2 - r,
    // or kMinHalfLength when that is not above it (the capsule is never
    // shorter than 2 r + 0.1). Placed by offsetMatrix.
    dgCollisionCapsule(uint32_t signature, float radius, float height, const dgMatrix& offsetMatrix);
    ~dgCollisionCapsule() override;

    // Ignored: the bounds follow from the size.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // kWalkSegments side quads of the cylindrical part, then the
    // kWalkCapTriangles triangles of the two ends, placed by offset matrix *
    // matrix, outward, face id 0. Returns the corners reported.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // The walked polyhedron's centroid and inertia per unit volume, as the
    // convex base integrates them, but summed over its prism and its two
    // ends each about a point of its own, so that a thin capsule keeps
    // positive moments.
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // Analytic: the infinite cylinder about x first, then the end sphere on
    // the side where the segment enters it. A segment starting inside or on
    // the surface, a tangent one and one reaching the capsule only beyond p1
    // miss; one ending exactly on the surface hits at t = 1. w of the normal
    // is 0.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Type 4, radius, |height| / 2 as the factory files it, offset matrix.
    uint32_t calcSignature() const override;
    // (+-(hc + r), 0, 0) within 0.9998 of the axis; otherwise the sphere's
    // grid support of radius r moved by +hc when d.x >= 0, else by -hc.
    // w = 1.
    dgVector supportVertex(const dgVector& direction) const override;
    // A plane across the axis (|n.x| >= 0.5) that cuts an end sphere gives
    // one point, the centre of that cut (the +x end first); one that cuts
    // neither gives the convex base's contour of the coarse polyhedron, taken
    // in a frame turned about x so that the normal lies in the xy plane. A
    // plane along the axis gives coreSection.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;
    // The part of the axis segment within r of the plane (unit normal),
    // projected onto it: its two ends, -x first, one point when they meet,
    // none when no axis point is that near. The section of a capsule lying
    // along the plane is the stadium about this segment; its coarse contour
    // is thinner than the contact merge's spacing, and the points it kept of
    // it, off the segment to one side, tipped a resting capsule into a roll.
    int32_t coreSection(const dgVector& normal, const dgVector& point, dgVector* points) const;

    // dgCollisionSphere::subdivideTriangle, with every corner it appends to
    // out written as (r x + shift, r y, r z, w).
    void subdivideCapTriangle(int32_t level, float shift, const dgVector& p0, const dgVector& p1,
                              const dgVector& p2, int32_t& count, dgVector* out) const;

    float getRadius() const { return m_radius; }
    // Half length hc of the cylindrical part.
    float getHalfLength() const { return m_height; }
    // |height| / 2 as the capsule was asked for (before hc is clamped).
    float getGivenHalfHeight() const { return m_halfHeight; }
    const dgAngleStep& getAngleStep() const { return m_angleStep; }

    // Number of live capsules.
    static int32_t dgCapsuleLiveCount();
    // The shared edge table; null while no capsule lives.
    static const dgConvexEdge* dgCapsuleEdgeTable();

protected:
    // Half length hc of the cylindrical part.
    float m_height;
    // Radius r.
    float m_radius;
    // Tessellation step of radius r.
    dgAngleStep m_angleStep;
    // (hc, r), (-hc, r), (hc, -r), (-hc, -r) in x and y, z = w = 0: the axial
    // section's corners; the x of the first two are the end spheres' centres.
    dgVector m_sectionCorners[4];
    dgVector m_capsuleVertices[kVertexCount];
    // |height| / 2, kept for the signature the factory files the capsule
    // under (hc cannot give it back once clamped).
    float m_halfHeight;

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    // The walk's kWalkCorners points placed by matrix, three floats each:
    // the two rings, then the end triangles' corners, octahedron face by
    // face (each face's 3 * kWalkCapTriangles / 8 corners together).
    void walkPoints(const dgMatrix& matrix, float* placed) const;
    // Side quad k of the placed walk points (prev, k, k + N, prev + N with
    // N = kWalkSegments), twelve floats.
    static void sideQuad(const float* placed, int32_t k, float* face);
    // x shift of the end an octahedron face makes: +hc or -hc.
    float capShift(int32_t face) const;
    static dgShapeTables<dgCapsuleTables> s_sharedTables;
};

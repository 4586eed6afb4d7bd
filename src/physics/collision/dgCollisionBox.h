// The rectangular box: the shape of every ship, torpedo, station and debris
// body, and so the most used shape.
//
// A convex shape whose eight corners live inside the object and whose
// half-edge table is shared by all live boxes. Bounds, support vertex, ray
// cast, plane contour and signature are closed forms; volume, inertia, face
// walk and submerged volume are the convex base's.
//
// Corner i: x = +hx when bit 0 of i is clear, -hx when set; y by bit 1; z by
// bit 2. Faces (outward, counter-clockwise from outside): (0 4 5 1) +y,
// (0 1 3 2) +z, (1 5 7 3) -x, (5 4 6 7) -z, (4 0 2 6) +x, (6 2 3 7) -y.
// The shared table lists the 24 half-edges by increasing (destination corner,
// origin corner), so entries 0-11 are the half-edges that end at corners 0-3.
//
// Boxes are created through the world's shape factory, which passes a
// signature computed as calcSignature() does; storage from the block cache.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgShapeTables.h"

// The tables shared by the live boxes.
struct dgBoxTables {
    static constexpr int32_t kEdgeCount = 24;
    dgConvexEdge m_edges[kEdgeCount];

    bool build();
};

class dgCollisionBox : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionBox, dgConvexCollision)

public:
    static constexpr int32_t kVertexCount = 8;
    static constexpr int32_t kEdgeCount = dgBoxTables::kEdgeCount;
    // Points calcPlaneContour can return.
    static constexpr int32_t kMaxContourPoints = 6;

    // Full sizes along x, y, z (half extents |d| / 2) placed by offsetMatrix.
    dgCollisionBox(uint32_t signature, float dx, float dy, float dz, const dgMatrix& offsetMatrix);
    ~dgCollisionBox() override;

    // Ignored: a box's bounds follow from its size.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // Exact box of the rotated extents around the matrix origin; w = 1.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // Slab clipping against the six face planes. The normal is the hit face's
    // outward axis (w = 1). A segment starting inside or on the surface, or
    // lying in a face plane, does not hit; one ending exactly on a face hits
    // at t = 1.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Type 0, the three half extents, the offset matrix.
    uint32_t calcSignature() const override;
    // The corner on the direction's side of each axis (a zero component takes
    // the + side); w = 0.
    dgVector supportVertex(const dgVector& direction) const override;
    // calcPlaneContour of the plane (normal, -(normal . point)).
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // Contour of the box cut by plane (normal x, y, z; d w), in the box's
    // frame: at most kMaxContourPoints points written to points, w = 1.
    // Corners exactly on the plane are contour points: a plane through a
    // face's diagonal gives the true section, one that only touches the box
    // gives the touching face, edge or corner. Returns the count, 0 when the
    // plane misses the box. The points run counter-clockwise seen from the
    // side the normal points to.
    int32_t calcPlaneContour(const dgPlane& plane, dgVector* points) const;

    // (hx, hy, hz, 1).
    const dgVector& getHalfExtents() const { return m_halfExtents; }

    // Number of live boxes.
    static int32_t dgBoxLiveCount();
    // The edge table shared by the live boxes; null while none lives.
    static const dgConvexEdge* dgBoxEdgeTable();

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    dgVector m_halfExtents;
    dgVector m_corners[kVertexCount];

    static dgShapeTables<dgBoxTables> s_sharedTables;
};

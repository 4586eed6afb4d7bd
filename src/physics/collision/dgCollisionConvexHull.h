// Convex hull of an arbitrary point cloud.
//
// The constructor computes the hull of the given points and stores it in the
// convex base's vertex array and half-edge table, so every convex query
// (support vertex, bounds, ray cast, volume, inertia, buoyancy, plane contour,
// the convex contact solver) works on it unchanged. Every face is a triangle;
// coplanar neighbours are not merged.
//
// Construction, in the hull's normalised space:
//  - per axis the cloud is centred on its box and scaled by s (half-size h:
//    s = 1 / (h + 1e-6) when h < 1, 128 / h when h > 128, h otherwise), then
//    snapped down to a grid of 1/2048 and welded with tolerance 0.01;
//  - an initial tetrahedron is searched along the 14 probe directions
//    (dgProbeDirections.h);
//  - every candidate outside the hull waits on the list of the face it lies
//    farthest above; while some face has a candidate more than 0.001 above
//    it, the highest is added: the faces it sees are replaced by a fan of
//    triangles and their candidates move to the fan (or, inside it now, are
//    dropped). In the end every candidate lies within 0.001 of every face.
// All tolerances are in normalised units, so they differ per axis in the
// caller's units: an axis shorter than 2 is stretched to unit half-size (a
// cloud that is merely thin is a thin hull, not a degenerate one), and a point
// within 0.001 of a face in normalised units is not added. The geometric
// decisions are made exactly on the grid coordinates, so coplanar, collinear
// and duplicated points never leave the mesh open or inconsistent. Which of
// several equally valid triangulations of coplanar faces results, and whether
// a point lying on a face or edge of the final hull stays a vertex, depends on
// the order of the points.
//
// Refused input: no points, a negative stride, non-finite coordinates, fewer
// than four welded points, points within tolerance of one point, line or
// plane, or a hull that needs more vertices or half-edges than the base's
// 16-bit counts hold (dgConvexHullMaxEdges; the construction stops as soon as
// the growing hull passes it). The shape is then the empty hull:
// vertex and edge counts 0, null arrays, face count 0, null face array, mass
// and box never computed. Nothing is reported.
//
// Memory running out at any step of the construction also leaves the empty
// hull, marked as incomplete (isOutOfMemory): it is not the hull of those
// points, and the factory hands out null for it instead.
//
// Hulls are created through the world's shape factory, which computes the
// signature from the points and the offset matrix; storage from the block
// cache (dgRef's operator new).
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgRbTree.h"

struct dgEdge;

// Pending faces of a hull under construction: one node per face with a
// candidate more than the face tolerance above it, keyed by a counter taken when the face is made (so
// the same input builds the same hull, bit for bit, wherever the half-edges
// are allocated); the payload is one of its half-edges. Nodes come from the
// shared 4 KB-page pool of their size, made on first use and shared by every
// construction.
typedef dgRbTree<dgEdge*, uint32_t> dgConvexHullFaceTree;
typedef dgConvexHullFaceTree::Node dgConvexHullFaceNode;

// Largest number of half-edges (and of vertices) a hull may have: the convex
// base keeps both counts in 16 bits.
constexpr int32_t dgConvexHullMaxEdges = 65535;

class dgCollisionConvexHull : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionConvexHull, dgConvexCollision)

public:
    // Builds the hull of count points, x, y, z floats at the start of every
    // stride (in bytes; its remainder modulo 4 is dropped); points are read
    // only during the call. The shape keeps signature as given and the offset
    // matrix. Refused input leaves the empty hull (see above).
    dgCollisionConvexHull(uint32_t signature, int32_t count, int32_t strideInBytes, const float* points,
                          const dgMatrix& offsetMatrix);
    // Frees the face array; the base frees the vertex array and edge table.
    ~dgCollisionConvexHull() override;

    // Ignored: the hull's bounds follow from its vertices.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // One triangle per entry of the face array, in order: the vertices of
    // (prev, edge, next) of the entry, placed by offset matrix * body matrix, face
    // id 0 (counter-clockwise seen from outside). Returns the face count.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // The stored signature.
    uint32_t calcSignature() const override;

    // Number of triangles; 0 for the empty hull.
    int32_t getFaceCount() const { return m_faceCount; }
    // True when the construction ran out of memory (the shape is then the
    // empty hull, though the points may have volume).
    bool isOutOfMemory() const { return m_outOfMemory; }
    // One pointer into the edge table per face (a half-edge of that
    // triangle); null for the empty hull. Owned by the shape.
    const dgConvexEdge* const* getFaceArray() const { return m_faceArray; }

private:
    // Computes the hull into the base's arrays and the face array; false (and
    // the shape left empty) when the input is refused or memory runs out.
    bool buildHull(int32_t count, int32_t strideInBytes, const float* points);
    // Face array from the finished edge table.
    bool buildFaceArray();

    int32_t m_faceCount;
    dgConvexEdge** m_faceArray;
    bool m_outOfMemory;
};

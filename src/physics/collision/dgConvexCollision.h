// Base of every convex shape.
//
// The shape is held as a small closed polyhedron: a vertex array and a
// half-edge table. From them the base answers the support vertex (an uphill
// walk over the edges from one of six precomputed extreme edges), the world
// box, the face walk, and the volume, centre of mass and inertia by exact
// integration over the faces of the shape's own (virtual) face walk. The
// general ray cast, submerged volume and plane-intersection contour are
// implemented in dgConvexCollisionQueries.cpp.
//
// Construction: the base constructor leaves the polyhedron empty. A derived
// constructor points m_vertices / m_edges at its data, sets the counts (for
// instance with fillEdgeTable) and finishes with initMassAndBox().
//
// Ownership of the arrays: the convex destructor frees m_vertices and m_edges
// with dgFree when they are not null. Shapes whose arrays live inside the
// object or are shared between instances set both pointers to null in their
// own destructor.
#pragma once

#include <cstdint>

#include "dgCollision.h"
#include "dgVolumeIntegrals.h"

class dgEdgeMesh;

// One half-edge of a convex shape's table.
struct dgConvexEdge {
    // Index of the origin vertex.
    uint32_t m_vertex;
    // Opposite half-edge (its origin is this edge's destination).
    dgConvexEdge* m_twin;
    // Next / previous half-edge around the same face.
    dgConvexEdge* m_next;
    dgConvexEdge* m_prev;
};

// Largest half-edge table a convex shape may hold (the per-call visited
// flags are fixed arrays of this size).
constexpr int32_t dgConvexMaxEdges = 2048;

// Capacity, in points, of the output of calcPlaneIntersection.
constexpr int32_t dgPlaneIntersectionMaxPoints = 64;

// Tessellation step of curved primitives for radius r:
// n = floor(r * 256) kept in [128, 1024], step 6.28318f / n.
float dgCalcAngleStep(float radius);

// Index of the point with the largest x, y, z dot product with direction, among
// count 16-byte points; the first of equal maxima wins; -1 for count <= 0 or
// when no dot product exceeds -1e10.
int32_t dgConvexHullSupportIndex(int32_t count, const dgVector* points, const dgVector& direction);

// The part of a ray's segment that can meet a shape: the segment clipped to
// the shape's local box grown by a margin, in double and once, so that a
// cast's arithmetic runs on points near the shape whatever the distance of
// the caller's start. A parameter on the clipped part maps back to the
// caller's segment with toCaller.
struct dgClippedRay {
    // Clipped ends; an end that needed no clipping is the caller's own vector.
    dgVector p0;
    dgVector p1;
    // The caller's parameters of p0 and of p1 minus that of p0.
    double t0;
    double span;

    // The caller's parameter of a cast's result on the clipped part; a miss
    // (above 1) stays dgCollision::kRayMiss and a hit never passes 1.
    float toCaller(float t) const {
        if (!(t <= 1.0f)) {
            return dgCollision::kRayMiss;
        }
        const float caller = float(t0 + double(t) * span);
        return (caller < 1.0f) ? caller : 1.0f;
    }
};

class dgConvexCollision : public dgCollision {
    DG_DECLARE_CLASS(dgConvexCollision, dgCollision)

public:
    // Order of the six start edges.
    enum dgStartEdge : int32_t {
        dgStartPlusX = 0,
        dgStartMinusX,
        dgStartPlusY,
        dgStartMinusY,
        dgStartPlusZ,
        dgStartMinusZ,
    };

    // dgCollision constructor with the same arguments; then centre of mass
    // (0, 0, 0, 1), both box vectors (0, 0, 0, 1), counts 0, array and start
    // edge pointers null, user id 0.
    dgConvexCollision(uint32_t signature, const dgMatrix& offsetMatrix, uint32_t typeId);
    // Frees the vertex array and edge table with dgFree when not null.
    ~dgConvexCollision() override;

    // ---- dgCollision interface ----
    uint32_t getUserId() const override;
    void setUserId(uint32_t userId) override;
    // Local box (centre and half size) under the matrix; both outputs take the
    // w of the transformed centre (the matrix's position w).
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // Walks the faces of the polyhedron (loops of m_next), vertices placed by
    // offset matrix * body matrix, face id 0. Returns the number of half-edges
    // visited.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // General support-function ray cast (contract of dgCollision::rayCast).
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Volume of the shape's own face walk.
    float getVolume() const override;
    // From the shape's own face walk with the offset applied: the origin is
    // the centroid in the body's frame. Integrated about a point of the
    // shape and shifted to the centroid once, so neither a far placement nor
    // a small size costs precision.
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;

    // ---- appended by the convex shapes ----

    // The vertex farthest along direction (w as stored). Hill climb of at most
    // 128 steps; ties never move the walk.
    virtual dgVector supportVertex(const dgVector& direction) const;
    // Contour of the shape cut by the plane through `point` with normal
    // `normal`, in the shape's local frame. `points` must hold
    // dgPlaneIntersectionMaxPoints points; at most 12 are returned.
    virtual int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                          dgVector* points) const;

    // ---- non-virtual ----

    // The edge leaving the vertex farthest along direction; uphill walk from
    // the first table entry with no step limit (construction only).
    dgConvexEdge* findSupportEdge(const dgVector& direction) const;
    // Integrates the shape's own face walk (virtual forEachPolygon) through a
    // temporary body with identity matrices, so faces carry the offset.
    // Outputs (w = 1), about the body's origin: diagonal sums (T2y + T2z,
    // T2x + T2z, T2x + T2y), products (TPx, TPy, TPz), first moments (T1,
    // doubled). Returns T0.
    float calcVolumeIntegrals(dgVector& diagonalSums, dgVector& products, dgVector& firstMoments) const;
    // True when every face of the closed mesh lies on the inner side of its
    // neighbours' faces, judged with this shape's vertex array. An empty mesh
    // is convex; an open one is not.
    bool isConvexMesh(dgEdgeMesh& mesh) const;

    // Face walk callback of calcVolumeIntegrals: the accumulator is the user
    // data of the walking body.
    static void inertiaFaceCallback(const dgBody* body, int32_t vertexCount, const float* vertices,
                                    int32_t faceId);

    // Fills table[0 .. edge count) from a closed half-edge mesh, numbering the
    // half-edges in edge-tree order (the number is left in each half-edge's
    // user data). Returns the half-edge count, or 0 (nothing written) when it
    // exceeds capacity. The caller sets m_edgeCount / m_vertexCount.
    static int32_t fillEdgeTable(dgEdgeMesh& mesh, dgConvexEdge* table, int32_t capacity);

    // ---- queries implemented in dgConvexCollisionQueries.cpp ----

    // Slab test of the segment against the local box; touching counts.
    bool segmentHitsLocalBox(const dgVector& p0, const dgVector& p1) const;
    // Clips the segment p0 -> p1 to the local box grown by a sixteenth of its
    // largest half size and 1/1024 (so a clipped end lies off the shape even
    // where a grid support leaves the box a little inside the true surface).
    // False when the segment misses that box or an end is not finite.
    bool clipRayToLocalBox(const dgVector& p0, const dgVector& p1, dgClippedRay& ray) const;
    // The caller's result of cast(q0, q1) -> t run on the clipped segment:
    // every shape's rayCast goes through here after its prefilter.
    template <class Cast>
    float castClipped(const dgVector& p0, const dgVector& p1, Cast cast) const {
        dgClippedRay ray;
        if (!clipRayToLocalBox(p0, p1, ray)) {
            return kRayMiss;
        }
        return ray.toCaller(cast(ray.p0, ray.p1));
    }
    // The support-function ray cast proper, on a segment already clipped.
    float castSupportRay(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    // Of the support points along +direction and -direction, the one farther
    // from origin along it (w = 1).
    dgVector widestSupport(const dgVector& direction, const dgVector& origin) const;
    // Grows the ray simplex towards point; returns the face (0-3) whose plane
    // separates point from the simplex on the shape's surface, with its
    // distance, or -1 (distance 0) when point is inside the simplex. When the
    // search runs out of steps it returns its best face with distance 1e10.
    int32_t expandRaySimplex(dgVector* simplex, const dgVector& point, float& distance) const;
    // The part below a local-frame plane: its centroid (x, y, z) and volume
    // (w); the centroid is the origin when nothing is below.
    dgVector calcSubmergedVolumeLocal(const dgPlane& plane) const;
    // Drops the flattest corners of a contour until at most maximum remain.
    static int32_t reducePolygon(int32_t count, const dgVector& normal, dgVector* points, int32_t maximum);

    // ---- read access to the polyhedron ----

    // xyz = centroid in the local frame (offset not applied), w = volume.
    const dgVector& getCentreOfMass() const { return m_centreOfMass; }
    const dgVector* getVertices() const { return m_vertices; }
    const dgConvexEdge* getEdges() const { return m_edges; }
    int32_t getEdgeCount() const { return m_edgeCount; }
    int32_t getVertexCount() const { return m_vertexCount; }
    const dgConvexEdge* getStartEdge(int32_t which) const { return m_startEdges[which]; }
    const dgVector& getBoxHalfSize() const { return m_boxHalfSize; }
    const dgVector& getBoxCentre() const { return m_boxCentre; }

protected:
    // Lends the shape a vertex array and edge table it does not own (the
    // analytic primitives keep their vertices as members and share one edge
    // table per class). A lent polyhedron must be taken back with
    // returnPolyhedron before this base's destructor, which frees what it owns.
    void lendPolyhedron(dgVector* vertices, int32_t vertexCount, dgConvexEdge* edges, int32_t edgeCount) {
        m_vertices = vertices;
        m_edges = edges;
        m_vertexCount = uint16_t(vertexCount);
        m_edgeCount = uint16_t(edgeCount);
    }
    void returnPolyhedron() {
        m_vertices = nullptr;
        m_edges = nullptr;
    }

    // After the arrays and counts are set: volume and centroid of the
    // polyhedron, the six start edges, and the local box from the virtual
    // supportVertex (so a primitive's own support function sets it). False
    // when its scratch memory could not be had: the box and support are set,
    // but the stored volume and centroid are 0.
    bool initMassAndBox();
    // Frees the vertex array and edge table the shape owns and returns the
    // polyhedron, its mass and its box to the state of the constructor.
    void clearPolyhedron();
    // Local box (centre and half size, w 0) from supportBox at the identity.
    void setLocalBox();
    // Box of the shape placed by matrix from six virtual support queries, one
    // each way along every world axis seen in the shape's space: exact for
    // any shape the support describes. Only x, y and z are written.
    void supportBox(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const;
    // True when the local box is small enough that the volume, centre and
    // inertia (per unit volume) of anything inside it, offset applied, are
    // finite floats.
    bool massFitsFloat() const;

    dgVector m_centreOfMass;
    dgVector* m_vertices;
    dgConvexEdge* m_edges;
    dgConvexEdge* m_startEdges[6];
    uint16_t m_edgeCount;
    uint16_t m_vertexCount;
    uint32_t m_userId;
    dgVector m_boxHalfSize;
    dgVector m_boxCentre;
};

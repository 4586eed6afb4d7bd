// The convex-convex solver: closest points of two separated convex shapes,
// the penetration face of two overlapping ones, and the contact manifold cut
// from that face, all on the Minkowski difference of the two shapes taken in
// the frame of the first.
//
// A dgMinkowskiSolver is a work object for one query, built on the caller's
// stack; every array it needs lives inside it and nothing is allocated. Shape
// A is body0's collision and the frame of all work; shape B is body1's (or a
// polygon-soup face placed by the caller). Both must be convex.
//
// Placements must be finite and within dgMinkowskiMaxReach of each other;
// anything else answers "no result" (0, null) without touching the shapes.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"
#include "dgConvexCollision.h"
#include "dgMatrix.h"
#include "dgPlane.h"
#include "dgVector.h"

class dgBody;

// The 14 probe directions of the starting tetrahedron (unit, w = 0).
extern dgVector dgSearchDirections[14];
// Fills dgSearchDirections; the world's constructor calls it. Every call
// writes the same values.
void dgInitSearchDirections();

// Largest coordinate of the placement of B in A's frame the solver accepts:
// beyond it products of coordinates leave the float range.
constexpr float dgMinkowskiMaxReach = 1.0e8f;

// Half-edge of the solver's polytope.
struct dgMinkowskiEdge {
    // Plane slot of the face, or one of the negative marks below.
    int16_t m_face;
    // Start vertex in diff / sum.
    uint16_t m_vertex : 15;
    // A face-heap entry names this record.
    uint16_t m_inHeap : 1;
    dgMinkowskiEdge* m_twin;
    dgMinkowskiEdge* m_next;
    dgMinkowskiEdge* m_prev;

    // m_face of a face deleted by the expansion (0xFFFF as 16 bits).
    static constexpr int16_t kDeleted = -1;
    // m_face of a half-edge collected for removal, or released (0xFFFE).
    static constexpr int16_t kCollected = -2;
};

// A penetration face as the contact cut reads it, copied out of the polytope
// (which the cut's scratch and any later query overwrite): its plane and the
// difference and sum at its three corners, in the face's order.
struct dgMinkowskiContactFace {
    dgPlane plane;
    dgVector diff[3];
    dgVector sum[3];
};

class dgMinkowskiSolver {
public:
    static constexpr int32_t kMaxVertices = 128;
    static constexpr int32_t kMaxPlanes = 128;
    static constexpr int32_t kMaxEdges = 512;
    static constexpr int32_t kHeapCapacity = 256;
    // Room calcPlaneIntersection needs for one contour.
    static constexpr int32_t kContourRoom = dgPlaneIntersectionMaxPoints;

    // A = body0's collision, B = body1's; matrix = B's collision matrix times
    // the inverse of A's.
    dgMinkowskiSolver(dgBody* body0, dgBody* body1);
    // B is a soup face; placement maps A's frame to the soup's frame (body1
    // is the soup body), so matrix is its inverse.
    dgMinkowskiSolver(dgBody* body0, dgBody* body1, dgConvexCollision* collision1, const dgMatrix& placement);

    dgMinkowskiSolver(const dgMinkowskiSolver&) = delete;
    dgMinkowskiSolver& operator=(const dgMinkowskiSolver&) = delete;

    // diff[index] = support of A along direction minus support of B along
    // its negation, sum[index] their sum; direction in A's frame.
    void calcSupportVertex(const dgVector& direction, int32_t index);
    // Builds the starting tetrahedron, then refines: 2 when point lies
    // inside the difference (overlap for the origin), 1 with the separating
    // face in `face` when it lies outside, 0 without an answer.
    int32_t calcSeparatingFace(dgMinkowskiEdge*& face, const dgVector& point);
    // The refinement alone, from the tetrahedron already held; same answers.
    int32_t refineSeparatingFace(dgMinkowskiEdge*& face, const dgVector& point);
    // After calcSeparatingFace answered 2 for the origin: the face of the
    // expanded polytope nearest the origin (its plane d is minus the
    // overlap), or null. At a capacity limit the best face met after the
    // 24th vertex comes back (the last popped face when there is none).
    dgMinkowskiEdge* calcPenetrationFace();

    // ---- contact manifold (dgMinkowskiSolverContacts.cpp) ----

    // Every record written gets point (world), normal (world, unit, from
    // body1 towards body0), userId (zero-extended) and penetration (the
    // overlap less 1/128, never below 0); nothing else. A maximum below 1
    // writes nothing. The cross-sections reuse diff as scratch (A's contour
    // in the first kContourRoom slots, B's in the next), so the polytope is
    // gone afterwards.

    // Overlapping shapes: the contacts of the penetration face; else 0.
    // The same as calcContactFace, then the copy's calcFaceContacts.
    int32_t calcContacts(dgContactPoint* contacts, int32_t userId, int32_t maxCount);
    // Overlapping shapes: their penetration face, copied; false when
    // calcContacts would find no contact before cutting the shapes.
    bool calcContactFace(dgMinkowskiContactFace& face);
    // What every record of a face's cut would carry, known without making
    // the cut: normal and penetration as calcFaceContacts writes them. True
    // when the cut is sure to give at least one record (for a maximum of at
    // least 1); false when only the cut itself can tell, the outputs unset.
    bool faceRecordShape(const dgMinkowskiContactFace& face, dgVector& normal, float& penetration) const;
    // Overlap now: the contacts, timeStep = 0. Apart: the contacts at the
    // time of impact within timeStep (seconds), which is written back; 0
    // when the shapes do not meet within [0, timeStep). A reported time is
    // one where the shapes are within 1/256 of touching and not yet 1/256
    // of travel into each other; a pair that overlaps at the end of the
    // step is not missed.
    int32_t calcContactsContinuous(float& timeStep, dgContactPoint* contacts, int32_t userId, int32_t maxCount);
    // Contacts of the plane midway across a face of the polytope: 0, 1 or
    // the clipped points, at most maxCount. When the two cross-sections do
    // not meet, one record midway between the shapes' deepest points that
    // the face names.
    int32_t calcFaceContacts(const dgMinkowskiEdge* face, int32_t userId, dgContactPoint* contacts,
                             int32_t maxCount);
    // The same of a copied face; its polytope may be gone.
    int32_t calcFaceContacts(const dgMinkowskiContactFace& face, int32_t userId, dgContactPoint* contacts,
                             int32_t maxCount);
    // Contacts with B advanced along the relative velocity u (A's frame) to
    // just past time t, from a face's three diff and sum vertices; the points
    // are moved back by half that advance. body1's collision matrix is moved
    // for the call and always restored.
    int32_t calcContactsAtTime(int32_t userId, dgContactPoint* contacts, int32_t maxCount,
                               const dgVector* faceDiff, const dgVector* faceSum, const dgVector& velocity,
                               float time);

    // ---- debugging ----

    // True when every live half-edge (face >= 0) has a live twin that points
    // back and starts where it ends, belongs to a three-edge face whose links
    // agree, and every live face plane has all live vertices within
    // tolerance below it.
    bool checkPolytope(float tolerance) const;

    // ---- the work state ----

    // Placement of B in A's frame.
    dgMatrix m_matrix;
    // Vertices of the difference (support of A minus support of B) and the
    // sums of the same two points, in A's frame: the point on A is
    // (sum + diff) / 2, the point on B (sum - diff) / 2.
    dgVector m_diff[kMaxVertices];
    dgVector m_sum[kMaxVertices];
    // Face planes of the polytope (unit normal, d = -normal . vertex).
    dgPlane m_planes[kMaxPlanes];
    // Half-edge pool; records 0-11 are the starting tetrahedron.
    dgMinkowskiEdge m_edges[kMaxEdges];
    // Pool records and plane slots handed out so far.
    int32_t m_edgeCount;
    // Vertices in use; in the closest-point search, 4 + the simplex points.
    int32_t m_vertexCount;
    int32_t m_planeCount;
    dgBody* m_body1;
    dgBody* m_body0;
    dgConvexCollision* m_collision1;
    dgConvexCollision* m_collision0;
    // Released plane slots (linked through each slot's first bytes) and
    // half-edges (linked through m_next).
    dgPlane* m_freePlanes;
    dgMinkowskiEdge* m_freeEdges;

private:
    // Lengths of the two free lists.
    int32_t m_freePlaneCount;
    int32_t m_freeEdgeCount;

    struct dgExpansion;
    struct dgSimplexWeights;

    // The cut of a face given as its plane and corners (which may lie in
    // diff: they are read before the contours overwrite it).
    int32_t cutFace(const dgPlane& plane, const dgVector& diff0, const dgVector& diff1, const dgVector& diff2,
                    const dgVector& sum0, const dgVector& sum1, const dgVector& sum2, int32_t userId,
                    dgContactPoint* contacts, int32_t maxCount);

    bool placementUsable() const;
    // refineSeparatingFace past its tests of the tetrahedron, the placement
    // and the point.
    int32_t refine(dgMinkowskiEdge*& face, const dgVector& point);
    void buildTetrahedron();
    void swapVertices(int32_t i, int32_t j);
    void orientTetrahedron();
    // Plane of a face from its three vertices into a free slot; false (face
    // not queued) when the normal degenerates or no slot is left.
    int32_t addFacePlane(dgMinkowskiEdge* edge, bool& valid);
    dgPlane* takePlane();
    void releasePlane(int32_t index);
    dgMinkowskiEdge* takeEdge();
    void releaseEdge(dgMinkowskiEdge* edge);
    int32_t freePlaneCount() const;
    int32_t freeEdgeCount() const;
    bool expand(dgMinkowskiEdge* face, int32_t newVertex, dgExpansion& work, int32_t heapRoom);

    // Simplex reductions of the closest-point search (slots 4 ..).
    void reduceSegment(dgVector& v, dgSimplexWeights& weights);
    void reduceTriangle(dgVector& v, dgSimplexWeights& weights);
    void reduceTetrahedron(dgVector& v, dgSimplexWeights& weights);
    void moveSlot(int32_t from, int32_t to);

    friend int32_t dgClosestPoints(dgBody* body0, dgBody* body1, float* point0, float* point1, float* normal);
};

// Closest points of two separated convex bodies, in world space: 1 with
// point0 on body0's shape, point1 on body1's and the unit normal from point0
// towards point1 (three floats each); 0 for touching or overlapping shapes
// or without convergence, outputs untouched.
int32_t dgClosestPoints(dgBody* body0, dgBody* body1, float* point0, float* point1, float* normal);

// Contacts of two cross-sections in world space, both wound
// counter-clockwise about normal (which points from B towards A): A's
// polygon clips B's, or a segment is clipped by the other's polygon. Points
// within sqrt(0.002) of a record already written are dropped. Each record
// gets point, normal, userId (zero-extended) and penetration. Returns the
// count, at most maxCount (0 for maxCount < 1).
int32_t dgClipContactPolygons(const dgVector& normal, int32_t userId, float penetration, int32_t countA,
                              const dgVector* pointsA, int32_t countB, const dgVector* pointsB,
                              dgContactPoint* contacts, int32_t maxCount);

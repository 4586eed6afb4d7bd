#include "dgCollisionConvexHull.h"

#include <cmath>
#include <cstring>

#include "dgEdgeMesh.h"
#include "dgMathUtils.h"
#include "dgMemory.h"
#include "dgProbeDirections.h"
#include "dgWeld.h"
#include "dgWorkStack.h"

DG_IMPLEMENT_CLASS(dgCollisionConvexHull, dgConvexCollision, "dgCollisionConvexHull");

namespace {

// Normalised coordinates are snapped down to multiples of 1/kGrid.
constexpr float kGrid = 2048.0f;
constexpr float kInvGrid = 1.0f / 2048.0f;
constexpr float kWeldTolerance = 0.01f;
// Seed tetrahedron: squared distance, squared doubled area and six times the
// volume must exceed this (normalised units).
constexpr double kSeedTolerance = 0.01;
// A face is final unless some candidate lies farther above it.
constexpr double kFaceTolerance = 0.001;
// The face tolerance in grid units, as the conflict lists use it.
constexpr double kFaceHeight = kFaceTolerance * 2048.0;
// Conflict heights are evaluated in doubles with an error below 1e-6 grid
// units; within this band of a plane the exact orientation decides.
constexpr double kExactBand = 1.0e-3;
// The normalisation keeps every coordinate within +-16384 (h * h for a
// half-size h <= 128); anything beyond this bound is non-finite input.
constexpr float kMaxNormalised = 32768.0f;

// Half-edge flags kept in the user data word while the hull grows.
constexpr uint64_t kVisited = 1;
constexpr uint64_t kInterior = 2;

// Exact geometry on the grid. A snapped coordinate is k / 2048 with |k| below
// 2^26, so differences fit in 28 bits, cross products of differences in 64
// bits and the orientation determinant in 128. Float or double evaluation of
// the same expressions can disagree about the sign for nearly coplanar
// points, and a visibility test that contradicts itself tears the mesh.
__extension__ typedef __int128 dgWide;

struct dgGridPoint {
    int64_t x;
    int64_t y;
    int64_t z;
};

inline dgGridPoint gridPoint(const dgVector& q) {
    // q * 2048 is an integer held exactly in a float.
    return dgGridPoint{int64_t(q.x * kGrid), int64_t(q.y * kGrid), int64_t(q.z * kGrid)};
}

inline dgGridPoint gridSub(const dgGridPoint& a, const dgGridPoint& b) {
    return dgGridPoint{a.x - b.x, a.y - b.y, a.z - b.z};
}

inline dgGridPoint gridCross(const dgGridPoint& a, const dgGridPoint& b) {
    return dgGridPoint{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline dgWide gridDot(const dgGridPoint& a, const dgGridPoint& b) {
    return dgWide(a.x) * b.x + dgWide(a.y) * b.y + dgWide(a.z) * b.z;
}

inline double gridLength2(const dgGridPoint& a) {
    return double(a.x) * double(a.x) + double(a.y) * double(a.y) + double(a.z) * double(a.z);
}

// ((b - a) x (c - a)) . (p - a): positive when p lies above the plane of the
// counter-clockwise triangle a, b, c.
inline dgWide gridOrientation(const dgGridPoint& a, const dgGridPoint& b, const dgGridPoint& c,
                              const dgGridPoint& p) {
    return gridDot(gridCross(gridSub(b, a), gridSub(c, a)), gridSub(p, a));
}

// A candidate on the grid, kept on the conflict list of the face it lies
// farthest above while it is outside the hull.
struct dgConflictPoint {
    int32_t x;
    int32_t y;
    int32_t z;
    // Next candidate of the same list; -1 ends it.
    int32_t next;
};

// A triangle of the growing hull. Its id (the index of its record, taken from
// a counter when it is made) is stored in the face id of its three
// half-edges and keys it in the pending set, so the order of work depends on
// the input only, never on where the half-edges were allocated.
struct dgHullFace {
    // A half-edge of the triangle while it is on the hull.
    dgEdge* edge;
    // Its node in the pending set; null when not pending.
    dgConvexHullFaceNode* node;
    // First candidate of its conflict list; -1 when none.
    int32_t head;
    // The highest candidate of the list (the first of equal heights to
    // arrive) and its height.
    int32_t apex;
    double apexHeight;
};

// A face's plane as the conflict search uses it: a vertex and the unit normal
// in doubles, in grid units. Heights are compared with the face tolerance
// (2 grid units), far above their rounding error; near 0 the exact
// orientation decides.
struct dgFacePlane {
    double origin[3];
    double normal[3];
    int32_t face;

    double height(double x, double y, double z) const {
        return (x - origin[0]) * normal[0] + (y - origin[1]) * normal[1] + (z - origin[2]) * normal[2];
    }
};

// One construction: the normalised candidates, the growing mesh, the faces
// with their conflict lists and the pending faces (those with a candidate more
// than the face tolerance above them). Everything it holds is released with
// it.
//
// A candidate stays on a list while it is outside the hull: one found inside
// the hull (below every new face of a fan) stays inside as the hull grows. A
// candidate outside by no more than the tolerance waits on a quiet face
// (final unless that changes); when no face is pending any more, each such
// candidate is checked against every face it lies above, and one that lies
// farther above some face than the tolerance makes that face pending again.
// So every candidate ends within the tolerance of every face, as if each face
// had been checked against all of them.
class dgHullBuilder {
public:
    explicit dgHullBuilder(int32_t count)
        : m_count(count),
          m_candidateCount(0),
          m_hullCount(0),
          m_hullEdges(0),
          m_candidates(count),
          m_points(count),
          m_hull(count),
          m_hullGrid(count),
          m_faces(2 * int64_t(count) + 64),
          m_walk(int64_t(count) + 4096),
          m_visible(int64_t(count) + 4096),
          m_interior(256),
          m_spokes(256),
          m_visibleFaces(256),
          m_quiet(256),
          m_planes(256),
          m_anchor(nullptr),
          m_centre(0.0f, 0.0f, 0.0f, 0.0f),
          m_scale(1.0f, 1.0f, 1.0f, 0.0f),
          m_refused(false) {}

    bool isValid() const {
        return m_candidates.getData() && m_points.getData() && m_hull.getData() && m_hullGrid.getData() &&
               m_faces.isValid() && m_walk.isValid() && m_visible.isValid() && m_interior.isValid() &&
               m_spokes.isValid() && m_visibleFaces.isValid() && m_quiet.isValid() && m_planes.isValid();
    }

    // Centres, scales, snaps and welds the input into the candidate array.
    bool normalise(const float* points, int32_t strideInBytes);
    // Finds the seed tetrahedron, puts it in the mesh and hands every
    // remaining candidate to the face it lies farthest above.
    bool seedTetrahedron();
    // Grows the hull until no face has a candidate above it. False when the
    // hull would pass the 16-bit counts (stopped as soon as it does).
    bool expand();
    // The finished hull as a dgMalloc vertex array (de-normalised, w 0) and
    // edge table; the caller takes ownership on success.
    bool emit(dgVector*& vertices, int32_t& vertexCount, dgConvexEdge*& edges, int32_t& edgeCount);
    // After one of the steps above failed: true when the input was refused
    // (no volume, non-finite, past the 16-bit counts, or a mesh that does not
    // close up), false when memory ran out.
    bool refused() const { return m_refused; }

private:
    // Fails the step for a reason of the input, not of memory.
    bool refuse() {
        m_refused = true;
        return false;
    }
    // Moves candidate i to the end of the hull vertex list (seed phase).
    void takeCandidate(int32_t i);
    // Makes a new face record for the triangle of edge.
    bool newFace(dgEdge* edge);
    dgFacePlane planeOf(int32_t face);
    // Puts candidate i on the list of the plane of m_planes it lies farthest
    // above; dropped when it lies above none (inside the hull).
    void attach(int32_t i);
    void addToList(int32_t face, int32_t i, double height);
    // Puts the fan's faces with candidates in the pending set or, when none
    // of them is above the tolerance, on the quiet list.
    bool queueFan();
    bool queueFace(int32_t face);
    // Checks the candidates of the quiet faces against every face they lie
    // above; moved is set when one made a face pending.
    bool settleQuietFaces(bool& moved);
    // Replaces the faces that candidate i sees by a fan around it.
    bool addPoint(dgEdge* face, int32_t i);
    const dgGridPoint& gridOf(const dgEdge* edge) const { return m_hullGrid[edge->m_vertex]; }
    dgWide faceOrientation(const dgEdge* edge, const dgGridPoint& p) const {
        return gridOrientation(gridOf(edge), gridOf(edge->m_next), gridOf(edge->m_prev), p);
    }

    int32_t m_count;
    int32_t m_candidateCount;
    int32_t m_hullCount;
    // Half-edges of the current hull (the cut-out interior pairs excluded).
    int32_t m_hullEdges;
    dgScratchArray<dgVector> m_candidates;
    dgScratchArray<dgConflictPoint> m_points;
    dgScratchArray<dgVector> m_hull;
    dgScratchArray<dgGridPoint> m_hullGrid;
    dgWorkStack<dgHullFace> m_faces;
    dgWorkStack<dgEdge*> m_walk;
    dgWorkStack<dgEdge*> m_visible;
    dgWorkStack<dgEdge*> m_interior;
    dgWorkStack<dgEdge*> m_spokes;
    dgWorkStack<int32_t> m_visibleFaces;
    // Faces whose candidates all lie within the tolerance above them.
    dgWorkStack<int32_t> m_quiet;
    // The faces of the seed tetrahedron or of the latest fan.
    dgWorkStack<dgFacePlane> m_planes;
    // A half-edge known to be on the current hull.
    dgEdge* m_anchor;
    dgVector m_centre;
    dgVector m_scale;
    dgEdgeMesh m_mesh;
    dgConvexHullFaceTree m_pending;
    bool m_refused;
};

bool dgHullBuilder::normalise(const float* points, int32_t strideInBytes) {
    dgVector boxMin;
    dgVector boxMax;
    dgComputeAabb(boxMin, boxMax, points, m_count, strideInBytes);
    for (int32_t axis = 0; axis < 3; axis++) {
        const float h = (boxMax[axis] - boxMin[axis]) * 0.5f;
        m_centre[axis] = (boxMax[axis] + boxMin[axis]) * 0.5f;
        if (h < 1.0f) {
            m_scale[axis] = 1.0f / (h + 1.0e-6f);
        } else if (h > 128.0f) {
            m_scale[axis] = 128.0f / h;
        } else {
            m_scale[axis] = h;
        }
    }

    const char* base = reinterpret_cast<const char*>(points);
    for (int32_t i = 0; i < m_count; i++) {
        const float* p = reinterpret_cast<const float*>(base + size_t(i) * size_t(strideInBytes));
        dgVector& q = m_candidates[i];
        for (int32_t axis = 0; axis < 3; axis++) {
            const float v = std::floor((p[axis] - m_centre[axis]) * m_scale[axis] * kGrid) * kInvGrid;
            // Also false for NaN: non-finite input is refused here.
            if (!(std::fabs(v) <= kMaxNormalised)) {
                return refuse();
            }
            q[axis] = v;
        }
        q.w = 0.0f;
    }

    dgScratchArray<int32_t> indices(m_count);
    if (!indices.getData()) {
        return false;
    }
    const int32_t unique =
        dgWeldVertices(m_candidates.getData(), int32_t(sizeof(dgVector)), 3 * int32_t(sizeof(float)), 0,
                       m_count, indices.getData(), kWeldTolerance);
    for (int32_t i = 0; i < unique; i++) {
        m_candidates[i].w = 0.0f;
    }
    m_candidateCount = unique;
    // Points always weld to at least one: none means the weld's own scratch
    // memory could not be had.
    if (unique == 0) {
        return false;
    }
    return (unique >= 4) ? true : refuse();
}

void dgHullBuilder::takeCandidate(int32_t i) {
    m_hull[m_hullCount] = m_candidates[i];
    m_hullGrid[m_hullCount] = gridPoint(m_candidates[i]);
    m_hullCount++;
    m_candidates[i] = m_candidates[--m_candidateCount];
}

bool dgHullBuilder::newFace(dgEdge* edge) {
    // The record stack stops growing at 2^31 bytes, so ids stay positive.
    const int32_t face = m_faces.getCount();
    if (!m_faces.push(dgHullFace{edge, nullptr, -1, -1, 0.0})) {
        return false;
    }
    edge->m_faceId = face;
    edge->m_next->m_faceId = face;
    edge->m_prev->m_faceId = face;
    return true;
}

dgFacePlane dgHullBuilder::planeOf(int32_t face) {
    const dgEdge* edge = m_faces[face].edge;
    const dgGridPoint& a = gridOf(edge);
    const dgGridPoint n = gridCross(gridSub(gridOf(edge->m_next), a), gridSub(gridOf(edge->m_prev), a));
    const double length2 = gridLength2(n);
    // Seed faces span a volume and a fan triangle's apex lies strictly above
    // the visible face next to its base edge: no face is degenerate.
    DG_ASSERT(length2 > 0.0);
    const double scale = 1.0 / std::sqrt(length2);
    return dgFacePlane{{double(a.x), double(a.y), double(a.z)},
                       {double(n.x) * scale, double(n.y) * scale, double(n.z) * scale},
                       face};
}

void dgHullBuilder::attach(int32_t i) {
    const dgConflictPoint& point = m_points[i];
    const double x = double(point.x);
    const double y = double(point.y);
    const double z = double(point.z);
    double best = -kExactBand;
    int32_t bestPlane = -1;
    const int32_t planeCount = m_planes.getCount();
    for (int32_t k = 0; k < planeCount; k++) {
        const double height = m_planes[k].height(x, y, z);
        if (height > best) {
            best = height;
            bestPlane = k;
        }
    }
    if ((bestPlane >= 0) && (best <= kExactBand)) {
        // Within rounding of the planes: above only where exactly so.
        const dgGridPoint p{point.x, point.y, point.z};
        best = -kExactBand;
        bestPlane = -1;
        for (int32_t k = 0; k < planeCount; k++) {
            const double height = m_planes[k].height(x, y, z);
            if ((height > best) && (faceOrientation(m_faces[m_planes[k].face].edge, p) > 0)) {
                best = height;
                bestPlane = k;
            }
        }
    }
    if (bestPlane >= 0) {
        addToList(m_planes[bestPlane].face, i, best);
    }
}

void dgHullBuilder::addToList(int32_t f, int32_t i, double height) {
    dgHullFace& face = m_faces[f];
    m_points[i].next = face.head;
    face.head = i;
    if ((face.apex < 0) || (height > face.apexHeight)) {
        face.apex = i;
        face.apexHeight = height;
    }
}

bool dgHullBuilder::queueFan() {
    for (int32_t k = 0; k < m_planes.getCount(); k++) {
        if (!queueFace(m_planes[k].face)) {
            return false;
        }
    }
    return true;
}

bool dgHullBuilder::queueFace(int32_t f) {
    dgHullFace& face = m_faces[f];
    if ((face.head < 0) || face.node) {
        return true;
    }
    if (face.apexHeight <= kFaceHeight) {
        return m_quiet.push(f);
    }
    // Ids are never reused, so the key is new.
    face.node = m_pending.insert(face.edge, uint32_t(f));
    return face.node != nullptr;
}

bool dgHullBuilder::settleQuietFaces(bool& moved) {
    moved = false;
    const int32_t quietCount = m_quiet.getCount();
    for (int32_t q = 0; q < quietCount; q++) {
        const int32_t f = m_quiet[q];
        dgHullFace& face = m_faces[f];
        // Replaced since, or made pending by a candidate moved to it.
        if (!face.edge || face.node) {
            continue;
        }
        int32_t i = face.head;
        face.head = -1;
        face.apex = -1;
        while (i >= 0) {
            const int32_t next = m_points[i].next;
            const dgConflictPoint& point = m_points[i];
            const dgGridPoint p{point.x, point.y, point.z};
            const double x = double(point.x);
            const double y = double(point.y);
            const double z = double(point.z);
            // The faces p lies above: a connected region around this one.
            double own = 0.0;
            double best = 0.0;
            int32_t bestFace = -1;
            const uint32_t stamp = m_mesh.newStamp();
            m_walk.clear();
            if (!m_walk.push(face.edge)) {
                return false;
            }
            while (m_walk.getCount()) {
                dgEdge* const edge = m_walk.pop();
                if (edge->m_stamp == stamp) {
                    continue;
                }
                edge->m_stamp = stamp;
                edge->m_next->m_stamp = stamp;
                edge->m_prev->m_stamp = stamp;
                if (faceOrientation(edge, p) <= 0) {
                    // A listed candidate lies strictly above its face.
                    DG_ASSERT(edge->m_faceId != f);
                    continue;
                }
                const double height = planeOf(edge->m_faceId).height(x, y, z);
                if (edge->m_faceId == f) {
                    own = height;
                }
                if ((bestFace < 0) || (height > best)) {
                    best = height;
                    bestFace = edge->m_faceId;
                }
                if (!m_walk.push(edge->m_twin) || !m_walk.push(edge->m_next->m_twin) ||
                    !m_walk.push(edge->m_prev->m_twin)) {
                    return false;
                }
            }
            if ((bestFace >= 0) && (best > kFaceHeight)) {
                addToList(bestFace, i, best);
                moved = true;
                if (!queueFace(bestFace)) {
                    return false;
                }
            } else {
                addToList(f, i, own);
            }
            i = next;
        }
    }
    // Faces still quiet wait for the next check; the rest is pending or gone.
    int32_t kept = 0;
    for (int32_t q = 0; q < quietCount; q++) {
        const int32_t f = m_quiet[q];
        const dgHullFace& face = m_faces[f];
        if (face.edge && !face.node && (face.head >= 0)) {
            m_quiet[kept++] = f;
        }
    }
    while (m_quiet.getCount() > kept) {
        m_quiet.pop();
    }
    return true;
}

bool dgHullBuilder::seedTetrahedron() {
    auto support = [this](int32_t direction) {
        return dgConvexHullSupportIndex(m_candidateCount, m_candidates.getData(),
                                        dgProbeDirections[direction]);
    };
    const double grid2 = double(kGrid) * double(kGrid);

    int32_t direction = 0;
    int32_t index = support(direction);
    if (index < 0) {
        return refuse();
    }
    takeCandidate(index);
    const dgGridPoint a = m_hullGrid[0];

    for (direction++;; direction++) {
        if (direction >= dgProbeDirectionCount || (index = support(direction)) < 0) {
            return refuse();
        }
        const dgGridPoint d = gridSub(gridPoint(m_candidates[index]), a);
        if (gridLength2(d) > kSeedTolerance * grid2) {
            break;
        }
    }
    takeCandidate(index);
    const dgGridPoint ab = gridSub(m_hullGrid[1], a);

    for (direction++;; direction++) {
        if (direction >= dgProbeDirectionCount || (index = support(direction)) < 0) {
            return refuse();
        }
        const dgGridPoint n = gridCross(ab, gridSub(gridPoint(m_candidates[index]), a));
        if (gridLength2(n) > kSeedTolerance * grid2 * grid2) {
            break;
        }
    }
    takeCandidate(index);

    dgWide volume = 0;
    for (direction++;; direction++) {
        if (direction >= dgProbeDirectionCount || (index = support(direction)) < 0) {
            return refuse();
        }
        volume = gridOrientation(a, m_hullGrid[1], m_hullGrid[2], gridPoint(m_candidates[index]));
        if (std::fabs(double(volume)) > kSeedTolerance * grid2 * double(kGrid)) {
            break;
        }
    }
    takeCandidate(index);
    if (volume > 0) {
        // D above the plane of A, B, C: turn the tetrahedron inside out so
        // that every face below is counter-clockwise seen from outside.
        const dgVector q = m_hull[0];
        m_hull[0] = m_hull[1];
        m_hull[1] = q;
        const dgGridPoint g = m_hullGrid[0];
        m_hullGrid[0] = m_hullGrid[1];
        m_hullGrid[1] = g;
    }

    m_mesh.dgEdgeMeshBeginFace();
    dgEdge* faces[4] = {
        m_mesh.dgEdgeMeshAddTriangle(0, 1, 2),
        m_mesh.dgEdgeMeshAddTriangle(0, 2, 3),
        m_mesh.dgEdgeMeshAddTriangle(2, 1, 3),
        m_mesh.dgEdgeMeshAddTriangle(1, 0, 3),
    };
    m_mesh.dgEdgeMeshEndFace();
    m_planes.clear();
    for (int32_t k = 0; k < 4; k++) {
        if (!faces[k] || !faces[k]->m_twin || !newFace(faces[k]) || !m_planes.push(planeOf(k))) {
            return false;
        }
    }
    m_anchor = faces[0];
    m_hullEdges = 12;

    // Every candidate goes to the face it lies farthest above; those inside
    // the tetrahedron are gone.
    for (int32_t i = 0; i < m_candidateCount; i++) {
        const dgGridPoint p = gridPoint(m_candidates[i]);
        m_points[i] = dgConflictPoint{int32_t(p.x), int32_t(p.y), int32_t(p.z), -1};
        attach(i);
    }
    return queueFan();
}

bool dgHullBuilder::expand() {
    for (;;) {
        while (m_pending.getCount()) {
            dgConvexHullFaceNode* node = m_pending.getRoot();
            dgHullFace& face = m_faces[int32_t(node->getKey())];
            DG_ASSERT(face.node == node);
            dgEdge* const edge = face.edge;
            m_pending.remove(node);
            face.node = nullptr;
            // The face's highest candidate becomes the apex.
            if (!addPoint(edge, face.apex)) {
                return false;
            }
        }
        bool moved = false;
        if (!settleQuietFaces(moved)) {
            return false;
        }
        if (!moved) {
            return true;
        }
    }
}

bool dgHullBuilder::addPoint(dgEdge* face, int32_t index) {
    // Every apex is a distinct candidate.
    DG_ASSERT(m_hullCount < m_count);
    if (m_hullCount >= m_count) {
        return refuse();
    }
    const dgConflictPoint& point = m_points[index];
    const dgGridPoint p{point.x, point.y, point.z};
    // Put on the face's list by its height above it.
    DG_ASSERT(faceOrientation(face, p) > 0);

    // Visible region: the faces p lies strictly above, grown from the face
    // over shared edges. Edges shared by two visible faces become interior.
    m_walk.clear();
    m_visible.clear();
    m_interior.clear();
    m_visibleFaces.clear();
    if (!m_walk.push(face)) {
        return false;
    }
    while (m_walk.getCount()) {
        dgEdge* const edge = m_walk.pop();
        if ((edge->m_userData & kVisited) || (faceOrientation(edge, p) <= 0)) {
            continue;
        }
        if (!m_visibleFaces.push(edge->m_faceId)) {
            return false;
        }
        dgEdge* f = edge;
        do {
            f->m_userData |= kVisited;
            if (!m_visible.push(f)) {
                return false;
            }
            dgEdge* const twin = f->m_twin;
            if (!(twin->m_userData & kVisited)) {
                if (!m_walk.push(twin)) {
                    return false;
                }
            } else if (!(twin->m_userData & kInterior)) {
                f->m_userData = kVisited | kInterior;
                twin->m_userData = kVisited | kInterior;
                if (!m_interior.push(f)) {
                    return false;
                }
            }
            f = f->m_next;
        } while (f != edge);
    }

    int32_t boundary = 0;
    dgEdge* start = nullptr;
    for (int32_t i = 0; i < m_visible.getCount(); i++) {
        if (!(m_visible[i]->m_userData & kInterior)) {
            start = start ? start : m_visible[i];
            boundary++;
        }
    }
    // The face itself is visible, and the hull is closed.
    DG_ASSERT(start);
    if (!start) {
        return refuse();
    }
    // The fan replaces the visible triangles by one per horizon edge. A hull
    // past the 16-bit counts is refused now rather than after the rest of it
    // has been built.
    const int64_t hullEdges = int64_t(m_hullEdges) + 3 * (int64_t(boundary) - m_visibleFaces.getCount());
    if (hullEdges > dgConvexHullMaxEdges) {
        return refuse();
    }
    m_hullEdges = int32_t(hullEdges);

    // Cut the interior pairs out; the visible faces become one loop.
    for (int32_t i = 0; i < m_interior.getCount(); i++) {
        m_mesh.dgEdgeMeshDeleteEdge(m_interior[i]);
    }
    for (int32_t i = 0; i < m_visibleFaces.getCount(); i++) {
        dgHullFace& old = m_faces[m_visibleFaces[i]];
        if (old.node) {
            m_pending.remove(old.node);
            old.node = nullptr;
        }
    }

    // The horizon, reusing the walk stack. The region seen from a point
    // outside a convex hull is a disc, bounded by one loop; exact visibility
    // keeps the hull convex, so anything else is a damaged mesh.
    m_walk.clear();
    dgEdge* edge = start;
    do {
        const bool onHorizon = (m_walk.getCount() < boundary) && (edge->m_userData & kVisited) &&
                               !(edge->m_userData & kInterior);
        DG_ASSERT(onHorizon);
        if (!onHorizon) {
            return refuse();
        }
        edge->m_userData &= ~kVisited;
        if (!m_walk.push(edge)) {
            return false;
        }
        edge = edge->m_next;
    } while (edge != start);
    DG_ASSERT(m_walk.getCount() == boundary);
    if (m_walk.getCount() != boundary) {
        return refuse();
    }

    // The fan: one pair of half-edges between the new vertex and each horizon
    // vertex; consecutive triangles are twins along the pair they share.
    const int32_t apex = m_hullCount;
    const int32_t horizonCount = m_walk.getCount();
    m_spokes.clear();
    for (int32_t i = 0; i < horizonCount; i++) {
        const int32_t u = m_walk[i]->m_vertex;
        dgEdge* const out = m_mesh.dgEdgeMeshAddHalfEdge(apex, u);
        dgEdge* const in = out ? m_mesh.dgEdgeMeshAddHalfEdge(u, apex) : nullptr;
        if (!in || !m_spokes.push(out) || !m_spokes.push(in)) {
            return false;
        }
        out->m_twin = in;
        in->m_twin = out;
    }
    m_hull[apex] = m_candidates[index];
    m_hullGrid[apex] = p;
    m_hullCount++;
    m_planes.clear();
    for (int32_t i = 0; i < horizonCount; i++) {
        const int32_t j = (i + 1 < horizonCount) ? i + 1 : 0;
        dgEdge* const h = m_walk[i];
        dgEdge* const out = m_spokes[2 * i];
        dgEdge* const in = m_spokes[2 * j + 1];
        h->m_next = in;
        in->m_prev = h;
        in->m_next = out;
        out->m_prev = in;
        out->m_next = h;
        h->m_prev = out;
        if (!newFace(out) || !m_planes.push(planeOf(out->m_faceId))) {
            return false;
        }
    }

    // The candidates of the replaced faces (the apex was on one of their
    // lists) move to the new triangles; those below all of them are inside
    // the hull.
    for (int32_t k = 0; k < m_visibleFaces.getCount(); k++) {
        dgHullFace& old = m_faces[m_visibleFaces[k]];
        int32_t i = old.head;
        old.head = -1;
        old.apex = -1;
        old.edge = nullptr;
        while (i >= 0) {
            const int32_t next = m_points[i].next;
            if (i != index) {
                attach(i);
            }
            i = next;
        }
    }
    m_anchor = m_spokes[0];
    return queueFan();
}

bool dgHullBuilder::emit(dgVector*& vertices, int32_t& vertexCount, dgConvexEdge*& edges,
                         int32_t& edgeCount) {
    // Number the vertices and half-edges reachable from the hull, one vertex
    // fan at a time.
    dgScratchArray<int32_t> vertexNumber(m_hullCount);
    if (!vertexNumber.getData()) {
        return false;
    }
    for (int32_t i = 0; i < m_hullCount; i++) {
        vertexNumber[i] = -1;
    }
    const uint32_t stamp = m_mesh.newStamp();
    const int32_t meshEdges = m_mesh.getEdgeCount();
    int32_t vertexTotal = 0;
    int32_t edgeTotal = 0;
    m_walk.clear();
    m_visible.clear();
    if (!m_walk.push(m_anchor)) {
        return false;
    }
    while (m_walk.getCount()) {
        dgEdge* const first = m_walk.pop();
        if (first->m_stamp == stamp) {
            continue;
        }
        if (vertexNumber[first->m_vertex] >= 0) {
            return refuse();
        }
        vertexNumber[first->m_vertex] = vertexTotal++;
        dgEdge* edge = first;
        do {
            if ((edge->m_stamp == stamp) || (edgeTotal >= meshEdges)) {
                return refuse();
            }
            edge->m_stamp = stamp;
            edge->m_userData = uint64_t(edgeTotal++);
            if (!m_visible.push(edge) || !m_walk.push(edge->m_twin)) {
                return false;
            }
            edge = edge->m_twin->m_next;
        } while (edge != first);
    }
    if ((edgeTotal < 12) || (edgeTotal > dgConvexHullMaxEdges) || (vertexTotal > dgConvexHullMaxEdges)) {
        return refuse();
    }
    dgBlockHolder vertexBlock(size_t(vertexTotal) * sizeof(dgVector));
    dgBlockHolder edgeBlock(size_t(edgeTotal) * sizeof(dgConvexEdge));
    if (!vertexBlock.get() || !edgeBlock.get()) {
        return false;
    }
    dgVector* const outVertices = static_cast<dgVector*>(vertexBlock.get());
    dgConvexEdge* const outEdges = static_cast<dgConvexEdge*>(edgeBlock.get());
    const dgVector inverseScale(1.0f / m_scale.x, 1.0f / m_scale.y, 1.0f / m_scale.z, 0.0f);
    for (int32_t i = 0; i < m_hullCount; i++) {
        if (vertexNumber[i] < 0) {
            continue;
        }
        const dgVector& q = m_hull[i];
        outVertices[vertexNumber[i]] =
            dgVector(q.x * inverseScale.x + m_centre.x, q.y * inverseScale.y + m_centre.y,
                     q.z * inverseScale.z + m_centre.z, q.w);
    }
    // The links are checked while they are copied: a hull whose triangles do
    // not close up is refused.
    for (int32_t i = 0; i < edgeTotal; i++) {
        const dgEdge* edge = m_visible[i];
        const bool closed = (edge->m_twin->m_stamp == stamp) && (edge->m_next->m_stamp == stamp) &&
                            (edge->m_prev->m_stamp == stamp) && (edge->m_next->m_next->m_next == edge);
        DG_ASSERT(closed);
        if (!closed) {
            return refuse();
        }
        dgConvexEdge& record = outEdges[i];
        record.m_vertex = uint32_t(vertexNumber[edge->m_vertex]);
        record.m_twin = &outEdges[edge->m_twin->m_userData];
        record.m_next = &outEdges[edge->m_next->m_userData];
        record.m_prev = &outEdges[edge->m_prev->m_userData];
    }

    vertices = static_cast<dgVector*>(vertexBlock.detach());
    edges = static_cast<dgConvexEdge*>(edgeBlock.detach());
    vertexCount = vertexTotal;
    edgeCount = edgeTotal;
    return true;
}

}  // namespace

dgCollisionConvexHull::dgCollisionConvexHull(uint32_t signature, int32_t count, int32_t strideInBytes,
                                             const float* points, const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeConvexHull),
      m_faceCount(0),
      m_faceArray(nullptr),
      m_outOfMemory(false) {
    buildHull(count, strideInBytes, points);
}

dgCollisionConvexHull::~dgCollisionConvexHull() {
    if (m_faceArray) {
        dgFree(m_faceArray);
    }
}

bool dgCollisionConvexHull::buildHull(int32_t count, int32_t strideInBytes, const float* points) {
    if ((count < 4) || !points || (strideInBytes < 0)) {
        return false;
    }
    dgVector* vertices = nullptr;
    dgConvexEdge* edges = nullptr;
    int32_t vertexCount = 0;
    int32_t edgeCount = 0;
    {
        dgHullBuilder builder(count);
        if (!builder.isValid()) {
            m_outOfMemory = true;
            return false;
        }
        if (!builder.normalise(points, strideInBytes & ~3) || !builder.seedTetrahedron() || !builder.expand() ||
            !builder.emit(vertices, vertexCount, edges, edgeCount)) {
            m_outOfMemory = !builder.refused();
            return false;
        }
    }
    m_vertices = vertices;
    m_edges = edges;
    m_vertexCount = uint16_t(vertexCount);
    m_edgeCount = uint16_t(edgeCount);
    // Without the memory for its face array or its mass, the hull is left
    // empty and says why, rather than pass for a hull of those points.
    if (!buildFaceArray()) {
        clearPolyhedron();
        m_outOfMemory = true;
        return false;
    }
    if (!initMassAndBox()) {
        dgFree(m_faceArray);
        m_faceArray = nullptr;
        m_faceCount = 0;
        clearPolyhedron();
        m_outOfMemory = true;
        return false;
    }
    // A hull too large for float volumes and inertias is refused like a flat
    // one, rather than answering infinities.
    if (!massFitsFloat()) {
        dgFree(m_faceArray);
        m_faceArray = nullptr;
        m_faceCount = 0;
        clearPolyhedron();
        return false;
    }
    return true;
}

bool dgCollisionConvexHull::buildFaceArray() {
    const int32_t edgeCount = m_edgeCount;
    // Flags and list sized by the table: no fixed limit on the face count.
    dgScratchArray<uint8_t> flags(edgeCount);
    dgScratchArray<dgConvexEdge*> faces(edgeCount);
    if (!flags.getData() || !faces.getData()) {
        return false;
    }
    std::memset(flags.getData(), 0, size_t(edgeCount));
    int32_t faceCount = 0;
    for (int32_t i = 0; i < edgeCount; i++) {
        if (flags[i]) {
            continue;
        }
        dgConvexEdge* const edge = &m_edges[i];
        flags[i] = 1;
        flags[int32_t(edge->m_next - m_edges)] = 1;
        flags[int32_t(edge->m_prev - m_edges)] = 1;
        faces[faceCount++] = edge;
    }
    m_faceArray = static_cast<dgConvexEdge**>(dgMalloc(size_t(faceCount) * sizeof(dgConvexEdge*)));
    if (!m_faceArray) {
        return false;
    }
    std::memcpy(m_faceArray, faces.getData(), size_t(faceCount) * sizeof(dgConvexEdge*));
    m_faceCount = faceCount;
    return true;
}

void dgCollisionConvexHull::setCollisionBBox(const dgVector&, const dgVector&) {}

uint32_t dgCollisionConvexHull::calcSignature() const {
    return m_signature;
}

int32_t dgCollisionConvexHull::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    if (m_faceCount == 0) {
        return 0;
    }
    const dgMatrix global(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    dgScratchArray<float> placed(3 * int32_t(m_vertexCount));
    if (!placed.getData()) {
        return 0;
    }
    global.transformPoints(placed.getData(), 3 * int32_t(sizeof(float)), &m_vertices[0].x,
                           int32_t(sizeof(dgVector)), m_vertexCount);
    for (int32_t i = 0; i < m_faceCount; i++) {
        const dgConvexEdge* const edge = m_faceArray[i];
        const uint32_t corners[3] = {edge->m_prev->m_vertex, edge->m_vertex, edge->m_next->m_vertex};
        float triangle[9];
        for (int32_t k = 0; k < 3; k++) {
            const float* p = &placed[3 * int32_t(corners[k])];
            triangle[3 * k + 0] = p[0];
            triangle[3 * k + 1] = p[1];
            triangle[3 * k + 2] = p[2];
        }
        callback(body, 3, triangle, 0);
    }
    return m_faceCount;
}

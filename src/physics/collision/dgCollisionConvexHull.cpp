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
// A pending face is final unless some candidate lies farther above it.
constexpr double kFaceTolerance = 0.001;
// Candidates this far inside every face of the seed tetrahedron (plane values
// of the unnormalised face normals) are dropped at once.
constexpr double kSeedInsideTolerance = 0.01;
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


// One construction: the normalised candidates, the growing mesh and the
// pending faces. Everything it holds is released with it.
class dgHullBuilder {
public:
    explicit dgHullBuilder(int32_t count)
        : m_count(count),
          m_candidateCount(0),
          m_hullCount(0),
          m_candidates(count),
          m_hull(count),
          m_hullGrid(count),
          m_walk(int64_t(count) + 4096),
          m_visible(int64_t(count) + 4096),
          m_interior(256),
          m_spokes(256),
          m_anchor(nullptr),
          m_centre(0.0f, 0.0f, 0.0f, 0.0f),
          m_scale(1.0f, 1.0f, 1.0f, 0.0f) {}

    bool isValid() const {
        return m_candidates.getData() && m_hull.getData() && m_hullGrid.getData() && m_walk.isValid() &&
               m_visible.isValid() && m_interior.isValid() && m_spokes.isValid();
    }

    // Centres, scales, snaps and welds the input into the candidate array.
    bool normalise(const float* points, int32_t strideInBytes);
    // Finds the seed tetrahedron, puts it in the mesh and the pending set and
    // drops the candidates well inside it.
    bool seedTetrahedron();
    // Grows the hull until no face is pending.
    bool expand();
    // The finished hull as a dgMalloc vertex array (de-normalised, w 0) and
    // edge table; the caller takes ownership on success.
    bool emit(dgVector*& vertices, int32_t& vertexCount, dgConvexEdge*& edges, int32_t& edgeCount);

private:
    // Moves candidate i to the end of the hull vertex list.
    void takeCandidate(int32_t i);
    // Replaces the faces that p sees by a fan around it.
    bool addPoint(dgEdge* face, const dgVector& q, const dgGridPoint& p);
    bool insertPending(dgEdge* edge);
    const dgGridPoint& gridOf(const dgEdge* edge) const { return m_hullGrid[edge->m_vertex]; }
    dgWide faceOrientation(const dgEdge* edge, const dgGridPoint& p) const {
        return gridOrientation(gridOf(edge), gridOf(edge->m_next), gridOf(edge->m_prev), p);
    }

    int32_t m_count;
    int32_t m_candidateCount;
    int32_t m_hullCount;
    dgScratchArray<dgVector> m_candidates;
    dgScratchArray<dgVector> m_hull;
    dgScratchArray<dgGridPoint> m_hullGrid;
    dgWorkStack<dgEdge*> m_walk;
    dgWorkStack<dgEdge*> m_visible;
    dgWorkStack<dgEdge*> m_interior;
    dgWorkStack<dgEdge*> m_spokes;
    // A half-edge known to be on the current hull.
    dgEdge* m_anchor;
    dgVector m_centre;
    dgVector m_scale;
    dgEdgeMesh m_mesh;
    dgConvexHullFaceTree m_pending;
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
                return false;
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
    return unique >= 4;
}

void dgHullBuilder::takeCandidate(int32_t i) {
    m_hull[m_hullCount] = m_candidates[i];
    m_hullGrid[m_hullCount] = gridPoint(m_candidates[i]);
    m_hullCount++;
    m_candidates[i] = m_candidates[--m_candidateCount];
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
        return false;
    }
    takeCandidate(index);
    const dgGridPoint a = m_hullGrid[0];

    for (direction++;; direction++) {
        if (direction >= dgProbeDirectionCount || (index = support(direction)) < 0) {
            return false;
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
            return false;
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
            return false;
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
    for (dgEdge* face : faces) {
        if (!face || !face->m_twin) {
            return false;
        }
    }
    m_anchor = faces[0];

    const double insideLimit = -kSeedInsideTolerance * grid2 * double(kGrid);
    for (int32_t i = 0; i < m_candidateCount;) {
        const dgGridPoint p = gridPoint(m_candidates[i]);
        bool inside = true;
        for (const dgEdge* face : faces) {
            if (!(double(faceOrientation(face, p)) < insideLimit)) {
                inside = false;
                break;
            }
        }
        if (inside) {
            m_candidates[i] = m_candidates[--m_candidateCount];
        } else {
            i++;
        }
    }

    for (dgEdge* face : faces) {
        if (!insertPending(face)) {
            return false;
        }
    }
    return true;
}

bool dgHullBuilder::insertPending(dgEdge* edge) {
    bool present = false;
    // A key already present is not an error; a failed node allocation is.
    return m_pending.insert(edge, uintptr_t(edge), present) != nullptr;
}

bool dgHullBuilder::expand() {
    const float* hullFloats = &m_hull[0].x;
    const int32_t hullStride = int32_t(sizeof(dgVector));
    while (m_pending.getCount()) {
        dgConvexHullFaceNode* node = m_pending.getRoot();
        dgEdge* const face = node->getPayload();
        m_pending.remove(node);

        dgVector normal(m_mesh.dgEdgeMeshFaceNormal(face, hullFloats, hullStride));
        normal = normal.scale(1.0f / std::sqrt((normal % normal) + 1.0e-16f));
        normal.w = 0.0f;
        const int32_t index = dgConvexHullSupportIndex(m_candidateCount, m_candidates.getData(), normal);
        if (index < 0) {
            continue;
        }

        // Distance of the candidate above the face, from the exact determinant.
        const dgGridPoint p = gridPoint(m_candidates[index]);
        const dgGridPoint& a = gridOf(face);
        const dgGridPoint n = gridCross(gridSub(gridOf(face->m_next), a), gridSub(gridOf(face->m_prev), a));
        const dgWide height = gridDot(n, gridSub(p, a));
        if (height <= 0) {
            continue;
        }
        if (!(double(height) > kFaceTolerance * double(kGrid) * std::sqrt(gridLength2(n)))) {
            continue;
        }
        if (!addPoint(face, m_candidates[index], p)) {
            return false;
        }
    }
    return true;
}

bool dgHullBuilder::addPoint(dgEdge* face, const dgVector& q, const dgGridPoint& p) {
    if (m_hullCount >= m_count) {
        return false;
    }

    // Visible region: the faces p lies strictly above, grown from the face
    // over shared edges. Edges shared by two visible faces become interior.
    m_walk.clear();
    m_visible.clear();
    m_interior.clear();
    if (!m_walk.push(face)) {
        return false;
    }
    while (m_walk.getCount()) {
        dgEdge* const edge = m_walk.pop();
        if ((edge->m_userData & kVisited) || (faceOrientation(edge, p) <= 0)) {
            continue;
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

    // Cut the interior pairs out; the visible faces become one loop.
    for (int32_t i = 0; i < m_interior.getCount(); i++) {
        dgEdge* const f = m_interior[i];
        dgEdge* const t = f->m_twin;
        m_pending.removeKey(uintptr_t(f));
        m_pending.removeKey(uintptr_t(t));
        f->m_next->m_prev = t->m_prev;
        f->m_prev->m_next = t->m_next;
        t->m_next->m_prev = f->m_prev;
        t->m_prev->m_next = f->m_next;
    }

    int32_t boundary = 0;
    dgEdge* start = nullptr;
    for (int32_t i = 0; i < m_visible.getCount(); i++) {
        if (!(m_visible[i]->m_userData & kInterior)) {
            start = start ? start : m_visible[i];
            boundary++;
        }
    }
    if (!start) {
        return false;
    }

    // The horizon, reusing the walk stack. A region whose boundary is not
    // one loop would leave a hole: refused rather than built.
    m_walk.clear();
    dgEdge* edge = start;
    do {
        if ((m_walk.getCount() >= boundary) || !(edge->m_userData & kVisited) ||
            (edge->m_userData & kInterior)) {
            return false;
        }
        m_pending.removeKey(uintptr_t(edge));
        edge->m_userData &= ~kVisited;
        if (!m_walk.push(edge)) {
            return false;
        }
        edge = edge->m_next;
    } while (edge != start);
    if (m_walk.getCount() != boundary) {
        return false;
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
    m_hull[apex] = q;
    m_hullGrid[apex] = p;
    m_hullCount++;
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
    }
    for (int32_t i = 0; i < horizonCount; i++) {
        if (!insertPending(m_spokes[2 * i])) {
            return false;
        }
    }
    m_anchor = m_spokes[0];
    return true;
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
            return false;
        }
        vertexNumber[first->m_vertex] = vertexTotal++;
        dgEdge* edge = first;
        do {
            if ((edge->m_stamp == stamp) || (edgeTotal >= meshEdges)) {
                return false;
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
        return false;
    }
    for (int32_t i = 0; i < edgeTotal; i++) {
        const dgEdge* edge = m_visible[i];
        if ((edge->m_twin->m_stamp != stamp) || (edge->m_next->m_stamp != stamp) ||
            (edge->m_prev->m_stamp != stamp) || (edge->m_next->m_next->m_next != edge)) {
            return false;
        }
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
    for (int32_t i = 0; i < edgeTotal; i++) {
        const dgEdge* edge = m_visible[i];
        dgConvexEdge& record = outEdges[edge->m_userData];
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
    : dgConvexCollision(signature, offsetMatrix, dgShapeConvexHull), m_faceCount(0), m_faceArray(nullptr) {
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
        if (!builder.isValid() || !builder.normalise(points, strideInBytes & ~3) ||
            !builder.seedTetrahedron() || !builder.expand() ||
            !builder.emit(vertices, vertexCount, edges, edgeCount)) {
            return false;
        }
    }
    m_vertices = vertices;
    m_edges = edges;
    m_vertexCount = uint16_t(vertexCount);
    m_edgeCount = uint16_t(edgeCount);
    if (!buildFaceArray()) {
        dgFree(m_vertices);
        dgFree(m_edges);
        m_vertices = nullptr;
        m_edges = nullptr;
        m_vertexCount = 0;
        m_edgeCount = 0;
        return false;
    }
    initMassAndBox();
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

int32_t dgCollisionConvexHull::forEachPolygon(const dgMatrix* matrix,
                                              dgCollisionPolygonCallback callback) const {
    if (m_faceCount == 0) {
        return 0;
    }
    const dgMatrix global(m_offsetMatrix.multiply(*matrix));
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
        callback(matrix, 3, triangle, 0);
    }
    return m_faceCount;
}

#include "dgMinkowskiSolver.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgDynamicsServices.h"
#include "dgHeap.h"
#include "dgMath.h"

dgVector dgSearchDirections[14];

void dgInitSearchDirections() {
    static const float kRaw[14][3] = {{1, -1, 1}, {-1, -1, -1}, {1, -1, -1}, {-1, 1, 1}, {1, 1, -1},
                                      {-1, 1, -1}, {-1, -1, 1}, {1, 1, 1},   {0, -1, 0}, {0, 1, 0},
                                      {1, 0, 0},   {-1, 0, 0},  {0, 0, 1},   {0, 0, -1}};
    for (int32_t i = 0; i < 14; i++) {
        const dgVector d(kRaw[i][0], kRaw[i][1], kRaw[i][2], 0.0f);
        dgSearchDirections[i] = d.scale(1.0f / std::sqrt(d % d));
    }
}

namespace {

// Normals this short belong to slivers: never normalised, never queued.
constexpr float kMinNormal2 = 1e-24f;
constexpr int32_t kSeparatingIterations = 128;
constexpr int32_t kClosestIterations = 256;
// The expansion's own stop marks, well inside the pools.
constexpr int32_t kStopVertices = 123;
constexpr int32_t kStopEdges = 502;
constexpr int32_t kStopPlanes = 112;
constexpr int32_t kStopHeap = 232;
// Faces popped before this many vertices exist are not trusted as the best.
constexpr int32_t kBestAfterVertices = 24;
constexpr float kPenetrationTolerance = 1.0f / 2048.0f;

// Faces of the starting tetrahedron: (a, b, c | opposite). Face k uses plane
// slot k and starts at half-edge k.
constexpr int32_t kFaceTable[4][4] = {{0, 1, 2, 3}, {1, 0, 3, 2}, {0, 2, 3, 1}, {2, 1, 3, 0}};

// The starting tetrahedron's half-edges: records 0-3 start faces 0-3, then
// each face's other two in face order. Its topology never changes, so the
// twin of each record (the record running the other way along its edge) is
// worked out once, here, rather than searched for on every query.
struct dgTetrahedronLayout {
    int16_t face[12];
    uint16_t vertex[12];
    int32_t next[12];
    int32_t prev[12];
    int32_t twin[12];
};

constexpr dgTetrahedronLayout makeTetrahedronLayout() {
    dgTetrahedronLayout layout{};
    for (int32_t k = 0; k < 4; k++) {
        const int32_t ring[3] = {k, 4 + 2 * k, 5 + 2 * k};
        for (int32_t j = 0; j < 3; j++) {
            layout.face[ring[j]] = int16_t(k);
            layout.vertex[ring[j]] = uint16_t(kFaceTable[k][j]);
            layout.next[ring[j]] = ring[(j + 1) % 3];
            layout.prev[ring[j]] = ring[(j + 2) % 3];
        }
    }
    for (int32_t i0 = 0; i0 < 12; i0++) {
        layout.twin[i0] = -1;
        for (int32_t i1 = 0; i1 < 12; i1++) {
            if ((layout.vertex[i1] == layout.vertex[layout.next[i0]]) &&
                (layout.vertex[layout.next[i1]] == layout.vertex[i0])) {
                layout.twin[i0] = i1;
                break;
            }
        }
    }
    return layout;
}

constexpr dgTetrahedronLayout kTetrahedron = makeTetrahedronLayout();
constexpr bool everyTwinFound(const dgTetrahedronLayout& layout) {
    for (int32_t i = 0; i < 12; i++) {
        if ((layout.twin[i] < 0) || (layout.twin[layout.twin[i]] != i)) {
            return false;
        }
    }
    return true;
}
static_assert(everyTwinFound(kTetrahedron), "every half-edge of the tetrahedron has a twin pointing back");

bool isFinite(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// dgVector's cross product and dot on packed registers, with its operations
// in its order per lane (the dot summed x + y + z), so with its results; the
// w lane of the cross product is left undefined.
inline __m128 packedCross(__m128 u, __m128 v) {
    const __m128 uYzx = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 uZxy = _mm_shuffle_ps(u, u, _MM_SHUFFLE(3, 1, 0, 2));
    const __m128 vYzx = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 2, 1));
    const __m128 vZxy = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 0, 2));
    return _mm_sub_ps(_mm_mul_ps(uYzx, vZxy), _mm_mul_ps(uZxy, vYzx));
}

inline float packedDot(__m128 u, __m128 v) {
    const __m128 p = _mm_mul_ps(u, v);
    const __m128 y = _mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 z = _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 2, 2, 2));
    return _mm_cvtss_f32(_mm_add_ss(_mm_add_ss(p, y), z));
}

// ((p1 - p0) x (p2 - p0)) . (p3 - p0).
float tetraVolume(const dgVector* p) {
    const __m128 p0 = _mm_load_ps(&p[0].x);
    return packedDot(packedCross(_mm_sub_ps(_mm_load_ps(&p[1].x), p0), _mm_sub_ps(_mm_load_ps(&p[2].x), p0)),
                     _mm_sub_ps(_mm_load_ps(&p[3].x), p0));
}

// Nearest point of triangle abc to the origin by its regions. `kept` lists
// the vertices (0 a, 1 b, 2 c) that carry the point, in the order the
// reduced simplex keeps them, with their weights.
struct dgTriangleRegion {
    dgVector point;
    int32_t kept[3];
    float weights[3];
    int32_t count;
};

void segmentRegion(const dgVector& p, const dgVector& q, int32_t ip, int32_t iq, dgTriangleRegion& out) {
    const dgVector pq(q - p);
    const float t = dgClamp(-(p % pq) / ((pq % pq) + 1e-24f), 0.0f, 1.0f);
    out.point = p + pq.scale(t);
    out.count = 2;
    out.kept[0] = ip;
    out.kept[1] = iq;
    out.weights[0] = 1.0f - t;
    out.weights[1] = t;
}

dgTriangleRegion closestOnTriangle(const dgVector& a, const dgVector& b, const dgVector& c) {
    dgTriangleRegion r;
    const dgVector ab(b - a);
    const dgVector ac(c - a);
    const float d1 = -(ab % a);
    const float d2 = -(ac % a);
    if ((d1 <= 0.0f) && (d2 <= 0.0f)) {
        r.point = a;
        r.count = 1;
        r.kept[0] = 0;
        r.weights[0] = 1.0f;
        return r;
    }
    const float d3 = -(ab % b);
    const float d4 = -(ac % b);
    if ((d3 >= 0.0f) && (d4 <= d3)) {
        r.point = b;
        r.count = 1;
        r.kept[0] = 1;
        r.weights[0] = 1.0f;
        return r;
    }
    const float vc = d1 * d4 - d3 * d2;
    if ((vc <= 0.0f) && (d1 >= 0.0f) && (d3 <= 0.0f)) {
        const float t = d1 / (d1 - d3);
        r.point = a + ab.scale(t);
        r.count = 2;
        r.kept[0] = 0;
        r.kept[1] = 1;
        r.weights[0] = 1.0f - t;
        r.weights[1] = t;
        return r;
    }
    const float d5 = -(ab % c);
    const float d6 = -(ac % c);
    if ((d6 >= 0.0f) && (d5 <= d6)) {
        r.point = c;
        r.count = 1;
        r.kept[0] = 2;
        r.weights[0] = 1.0f;
        return r;
    }
    const float vb = d5 * d2 - d1 * d6;
    if ((vb <= 0.0f) && (d2 >= 0.0f) && (d6 <= 0.0f)) {
        const float t = d2 / (d2 - d6);
        r.point = a + ac.scale(t);
        r.count = 2;
        r.kept[0] = 0;
        r.kept[1] = 2;
        r.weights[0] = 1.0f - t;
        r.weights[1] = t;
        return r;
    }
    const float va = d3 * d6 - d5 * d4;
    if ((va <= 0.0f) && ((d4 - d3) >= 0.0f) && ((d5 - d6) >= 0.0f)) {
        const float t = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        r.point = b + (c - b).scale(t);
        r.count = 2;
        r.kept[0] = 2;
        r.kept[1] = 1;
        r.weights[0] = t;
        r.weights[1] = 1.0f - t;
        return r;
    }
    const float sum = va + vb + vc;
    if (!(sum > 0.0f) || !std::isfinite(sum)) {
        // A sliver the region tests could not place: its nearest edge.
        dgTriangleRegion edge;
        segmentRegion(a, b, 0, 1, r);
        segmentRegion(a, c, 0, 2, edge);
        if ((edge.point % edge.point) < (r.point % r.point)) {
            r = edge;
        }
        segmentRegion(c, b, 2, 1, edge);
        if ((edge.point % edge.point) < (r.point % r.point)) {
            r = edge;
        }
        return r;
    }
    const float inv = 1.0f / sum;
    const float v = vb * inv;
    const float w = vc * inv;
    r.point = a + ab.scale(v) + ac.scale(w);
    r.count = 3;
    r.kept[0] = 0;
    r.kept[1] = 1;
    r.kept[2] = 2;
    r.weights[0] = 1.0f - v - w;
    r.weights[1] = v;
    r.weights[2] = w;
    return r;
}

}  // namespace

// Weights of the simplex points in slots 4 .. vertexCount - 1.
struct dgMinkowskiSolver::dgSimplexWeights {
    float w[4];
};

// Scratch of one penetration search, in the search's frame.
struct dgMinkowskiSolver::dgExpansion {
    typedef dgMaxHeap<dgMinkowskiEdge*, float> Heap;
    Heap::Entry heapStorage[kHeapCapacity];
    dgMinkowskiEdge* stack[kMaxEdges];
    dgMinkowskiEdge* deletedFaces[kMaxPlanes];
    int16_t deletedPlanes[kMaxPlanes];
    dgMinkowskiEdge* collected[kMaxEdges];
    dgMinkowskiEdge* horizon[kMaxEdges];
    dgMinkowskiEdge* loop[kMaxEdges];
    uint8_t marks[kMaxVertices];
    int32_t deletedCount;
    int32_t collectedCount;
    int32_t horizonCount;
};

dgMinkowskiSolver::dgMinkowskiSolver(dgBody* body0, dgBody* body1)
    : m_edgeCount(0),
      m_vertexCount(0),
      m_planeCount(0),
      m_body1(body1),
      m_body0(body0),
      m_collision1(static_cast<dgConvexCollision*>(body1->m_collision)),
      m_collision0(static_cast<dgConvexCollision*>(body0->m_collision)),
      m_freePlanes(nullptr),
      m_freeEdges(nullptr),
      m_freePlaneCount(0),
      m_freeEdgeCount(0) {
    DG_ASSERT(dgRefCast<dgConvexCollision>(body0->m_collision));
    DG_ASSERT(dgRefCast<dgConvexCollision>(body1->m_collision));
    m_matrix = body1->m_collisionMatrix.multiply(body0->m_collisionMatrix.inverse());
}

dgMinkowskiSolver::dgMinkowskiSolver(dgBody* body0, dgBody* body1, dgConvexCollision* collision1,
                                     const dgMatrix& placement)
    : m_matrix(placement.inverse()),
      m_edgeCount(0),
      m_vertexCount(0),
      m_planeCount(0),
      m_body1(body1),
      m_body0(body0),
      m_collision1(collision1),
      m_collision0(static_cast<dgConvexCollision*>(body0->m_collision)),
      m_freePlanes(nullptr),
      m_freeEdges(nullptr),
      m_freePlaneCount(0),
      m_freeEdgeCount(0) {
    DG_ASSERT(dgRefCast<dgConvexCollision>(body0->m_collision));
}

bool dgMinkowskiSolver::placementUsable() const {
    for (int32_t i = 0; i < 3; i++) {
        const dgVector& row = m_matrix[i];
        // A rotation row; anything far from unit size is no placement.
        if (!isFinite(row) || ((row % row) > 16.0f)) {
            return false;
        }
    }
    const dgVector& p = m_matrix.position;
    return isFinite(p) && (std::fabs(p.x) < dgMinkowskiMaxReach) && (std::fabs(p.y) < dgMinkowskiMaxReach) &&
           (std::fabs(p.z) < dgMinkowskiMaxReach);
}

void dgMinkowskiSolver::calcSupportVertex(const dgVector& direction, int32_t index) {
    DG_ASSERT((index >= 0) && (index < kMaxVertices));
    // The solver's innermost step, on packed registers: each lane takes the
    // scalar matrix operations' products and sums in their order (the
    // inverse rotation's dots as x + y + z, the transform's terms front, up,
    // right, position), so the result is theirs to the bit. Lane w is set as
    // they set it: dirB's from direction, diff's and sum's from pA.
    const __m128 xyz = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
    const dgVector pA(m_collision0->supportVertex(direction));
    const __m128 dir = _mm_load_ps(&direction.x);
    const __m128 d = _mm_xor_ps(dir, _mm_set1_ps(-0.0f));
    __m128 c0 = _mm_load_ps(&m_matrix.front.x);
    __m128 c1 = _mm_load_ps(&m_matrix.up.x);
    __m128 c2 = _mm_load_ps(&m_matrix.right.x);
    __m128 c3 = _mm_load_ps(&m_matrix.position.x);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    const __m128 dots = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 0, 0, 0)), c0),
                                              _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(1, 1, 1, 1)), c1)),
                                   _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 2, 2, 2)), c2));
    dgVector dirB;
    _mm_store_ps(&dirB.x, _mm_or_ps(_mm_and_ps(dots, xyz), _mm_andnot_ps(xyz, dir)));
    const dgVector q(m_collision1->supportVertex(dirB));
    const __m128 qv = _mm_load_ps(&q.x);
    const __m128 pB = _mm_add_ps(
        _mm_add_ps(
            _mm_add_ps(
                _mm_mul_ps(_mm_shuffle_ps(qv, qv, _MM_SHUFFLE(0, 0, 0, 0)), _mm_load_ps(&m_matrix.front.x)),
                _mm_mul_ps(_mm_shuffle_ps(qv, qv, _MM_SHUFFLE(1, 1, 1, 1)), _mm_load_ps(&m_matrix.up.x))),
            _mm_mul_ps(_mm_shuffle_ps(qv, qv, _MM_SHUFFLE(2, 2, 2, 2)), _mm_load_ps(&m_matrix.right.x))),
        _mm_load_ps(&m_matrix.position.x));
    const __m128 a = _mm_load_ps(&pA.x);
    const __m128 aw = _mm_andnot_ps(xyz, a);
    _mm_store_ps(&m_diff[index].x, _mm_or_ps(_mm_and_ps(_mm_sub_ps(a, pB), xyz), aw));
    _mm_store_ps(&m_sum[index].x, _mm_or_ps(_mm_and_ps(_mm_add_ps(a, pB), xyz), aw));
}

void dgMinkowskiSolver::swapVertices(int32_t i, int32_t j) {
    const dgVector d(m_diff[i]);
    const dgVector s(m_sum[i]);
    m_diff[i] = m_diff[j];
    m_sum[i] = m_sum[j];
    m_diff[j] = d;
    m_sum[j] = s;
}

void dgMinkowskiSolver::orientTetrahedron() {
    if (tetraVolume(m_diff) > 0.0f) {
        swapVertices(1, 2);
    }
}

void dgMinkowskiSolver::buildTetrahedron() {
    const float kMinEdge2 = 1.0f / 128.0f;
    const float kMinArea2 = 1.0f / 512.0f;
    const float kMinVolume = 1.0f / 512.0f;
    const dgVector* const dirs = dgSearchDirections;

    calcSupportVertex(dirs[0], 0);
    bool done = false;
    int32_t i = 1;
    for (; i < 14; i++) {
        calcSupportVertex(dirs[i], 1);
        const dgVector e1(m_diff[1] - m_diff[0]);
        if ((e1 % e1) > kMinEdge2) {
            i++;
            done = true;
            break;
        }
    }
    if (done) {
        done = false;
        for (; i < 14; i++) {
            calcSupportVertex(dirs[i], 2);
            const dgVector c((m_diff[1] - m_diff[0]).cross(m_diff[2] - m_diff[0]));
            if ((c % c) > kMinArea2) {
                i++;
                done = true;
                break;
            }
        }
    }
    if (done) {
        done = false;
        for (; i < 14; i++) {
            calcSupportVertex(dirs[i], 3);
            if (std::fabs(tetraVolume(m_diff)) > kMinVolume) {
                done = true;
                break;
            }
        }
    }
    if (!done) {
        // Thin or degenerate difference: the widest choice of each vertex in
        // turn over the whole table.
        int32_t best = 1;
        float bestValue = -1.0f;
        for (int32_t k = 1; k < 14; k++) {
            calcSupportVertex(dirs[k], 1);
            const dgVector e1(m_diff[1] - m_diff[0]);
            const float value = e1 % e1;
            if (value > bestValue) {
                bestValue = value;
                best = k;
            }
        }
        calcSupportVertex(dirs[best], 1);
        best = 1;
        bestValue = -1.0f;
        for (int32_t k = 1; k < 14; k++) {
            calcSupportVertex(dirs[k], 2);
            const dgVector c((m_diff[1] - m_diff[0]).cross(m_diff[2] - m_diff[0]));
            const float value = c % c;
            if (value > bestValue) {
                bestValue = value;
                best = k;
            }
        }
        calcSupportVertex(dirs[best], 2);
        best = 1;
        bestValue = -1.0f;
        for (int32_t k = 1; k < 14; k++) {
            calcSupportVertex(dirs[k], 3);
            const float value = std::fabs(tetraVolume(m_diff));
            if (value > bestValue) {
                bestValue = value;
                best = k;
            }
        }
        calcSupportVertex(dirs[best], 3);
    }

    m_vertexCount = 4;
    orientTetrahedron();

    // Unrolled, the table's entries fold into constant offsets.
#pragma GCC unroll 12
    for (int32_t i = 0; i < 12; i++) {
        dgMinkowskiEdge& e = m_edges[i];
        e.m_face = kTetrahedron.face[i];
        e.m_vertex = kTetrahedron.vertex[i];
        e.m_inHeap = 0;
        e.m_next = &m_edges[kTetrahedron.next[i]];
        e.m_prev = &m_edges[kTetrahedron.prev[i]];
        e.m_twin = &m_edges[kTetrahedron.twin[i]];
    }
    m_edgeCount = 12;
    m_planeCount = 0;
}

int32_t dgMinkowskiSolver::calcSeparatingFace(dgMinkowskiEdge*& face, const dgVector& point) {
    m_vertexCount = 0;
    if (!placementUsable()) {
        return 0;
    }
    buildTetrahedron();
    for (int32_t i = 0; i < 4; i++) {
        if (!isFinite(m_diff[i])) {
            return 0;
        }
    }
    // The placement has just passed its test.
    return isFinite(point) ? refine(face, point) : 0;
}

int32_t dgMinkowskiSolver::refineSeparatingFace(dgMinkowskiEdge*& face, const dgVector& point) {
    if ((m_vertexCount < 4) || !placementUsable() || !isFinite(point)) {
        return 0;
    }
    return refine(face, point);
}

int32_t dgMinkowskiSolver::refine(dgMinkowskiEdge*& face, const dgVector& point) {
    dgMinkowskiEdge* chosen = &m_edges[0];
    for (int32_t iteration = 0; iteration < kSeparatingIterations; iteration++) {
        int32_t best = -1;
        float bestDistance = 0.0f;
        dgVector bestNormal(0.0f, 0.0f, 0.0f, 0.0f);
        for (int32_t k = 0; k < 4; k++) {
            const __m128 a = _mm_load_ps(&m_diff[kFaceTable[k][0]].x);
            const __m128 n = packedCross(_mm_sub_ps(_mm_load_ps(&m_diff[kFaceTable[k][1]].x), a),
                                         _mm_sub_ps(_mm_load_ps(&m_diff[kFaceTable[k][2]].x), a));
            const float n2 = packedDot(n, n);
            if (!(n2 > kMinNormal2)) {
                continue;
            }
            const __m128 unit = _mm_mul_ps(n, _mm_set1_ps(1.0f / std::sqrt(n2)));
            const float distance = packedDot(unit, _mm_sub_ps(_mm_load_ps(&point.x), a));
            if (distance > bestDistance) {
                bestDistance = distance;
                best = k;
                _mm_store_ps(&bestNormal.x, unit);
            }
        }
        if (best < 0) {
            return 2;
        }
        chosen = &m_edges[best];
        bestNormal.w = 0.0f;
        calcSupportVertex(bestNormal, 4);
        const dgVector& a = m_diff[kFaceTable[best][0]];
        const float gap = bestNormal % (m_diff[4] - a);
        const float tolerance = (iteration < 17) ? 1e-6f : 1e-4f;
        if (gap < tolerance) {
            face = chosen;
            return 1;
        }
        if (gap < 0.001f) {
            for (int32_t j = 0; j < 4; j++) {
                const dgVector d(m_diff[4] - m_diff[j]);
                if ((d % d) < 1e-6f) {
                    face = chosen;
                    return 1;
                }
            }
        }
        // The support point replaces the vertex behind the face; the face's
        // other two swap so that the faces keep facing out.
        const int32_t opposite = chosen->m_twin->m_prev->m_vertex;
        m_diff[opposite] = m_diff[4];
        m_sum[opposite] = m_sum[4];
        swapVertices(chosen->m_next->m_vertex, chosen->m_prev->m_vertex);
        orientTetrahedron();
    }

    const dgVector& p = m_diff[chosen->m_vertex];
    const dgVector cross((m_diff[chosen->m_next->m_vertex] - p).cross(m_diff[chosen->m_prev->m_vertex] - p));
    const float n2 = cross % cross;
    if (!(n2 > kMinNormal2)) {
        return 0;
    }
    dgVector n(cross.scale(-1.0f / std::sqrt(n2)));
    n.w = 0.0f;
    calcSupportVertex(n, 4);
    if ((n % (m_diff[4] - p)) < 0.001f) {
        face = chosen;
        return 1;
    }
    return 0;
}

dgPlane* dgMinkowskiSolver::takePlane() {
    if (m_freePlanes) {
        dgPlane* plane = m_freePlanes;
        std::memcpy(&m_freePlanes, static_cast<void*>(plane), sizeof(m_freePlanes));
        m_freePlaneCount--;
        return plane;
    }
    if (m_planeCount < kMaxPlanes) {
        return &m_planes[m_planeCount++];
    }
    return nullptr;
}

void dgMinkowskiSolver::releasePlane(int32_t index) {
    DG_ASSERT((index >= 0) && (index < m_planeCount));
    dgPlane* plane = &m_planes[index];
    std::memcpy(static_cast<void*>(plane), &m_freePlanes, sizeof(m_freePlanes));
    m_freePlanes = plane;
    m_freePlaneCount++;
}

dgMinkowskiEdge* dgMinkowskiSolver::takeEdge() {
    if (m_freeEdges) {
        dgMinkowskiEdge* edge = m_freeEdges;
        m_freeEdges = edge->m_next;
        m_freeEdgeCount--;
        return edge;
    }
    if (m_edgeCount < kMaxEdges) {
        return &m_edges[m_edgeCount++];
    }
    return nullptr;
}

void dgMinkowskiSolver::releaseEdge(dgMinkowskiEdge* edge) {
    DG_ASSERT(!edge->m_inHeap);
    edge->m_face = dgMinkowskiEdge::kCollected;
    edge->m_next = m_freeEdges;
    m_freeEdges = edge;
    m_freeEdgeCount++;
}

int32_t dgMinkowskiSolver::addFacePlane(dgMinkowskiEdge* edge, bool& valid) {
    valid = false;
    dgPlane* plane = takePlane();
    if (!plane) {
        return -1;
    }
    const __m128 p0 = _mm_load_ps(&m_diff[edge->m_vertex].x);
    const __m128 n = packedCross(_mm_sub_ps(_mm_load_ps(&m_diff[edge->m_next->m_vertex].x), p0),
                                 _mm_sub_ps(_mm_load_ps(&m_diff[edge->m_prev->m_vertex].x), p0));
    const float n2 = packedDot(n, n);
    if (n2 > kMinNormal2) {
        const __m128 unit = _mm_mul_ps(n, _mm_set1_ps(1.0f / std::sqrt(n2)));
        _mm_store_ps(&plane->x, unit);
        plane->w = -packedDot(unit, p0);
        valid = true;
    } else {
        // Kept in the mesh with its plane through the origin side, never
        // queued: it sees no vertex strongly enough to be deleted for it.
        _mm_store_ps(&plane->x, n);
        plane->w = 0.0f;
    }
    const int16_t index = int16_t(plane - m_planes);
    edge->m_face = index;
    edge->m_next->m_face = index;
    edge->m_prev->m_face = index;
    return index;
}

// One expansion step around the vertex newVertex, seen from face. All checks
// come before the first change: when the visible region is not a disc or
// the pools or the heap cannot take the new cone, the polytope is left as it
// was and false comes back.
bool dgMinkowskiSolver::expand(dgMinkowskiEdge* face, int32_t newVertex, dgExpansion& work, int32_t heapRoom) {
    const dgVector& apex = m_diff[newVertex];
    work.deletedCount = 0;
    work.collectedCount = 0;
    work.horizonCount = 0;
    int32_t stackCount = 0;
    bool ok = true;

    auto deleteFace = [&](dgMinkowskiEdge* e) {
        if (work.deletedCount >= kMaxPlanes) {
            ok = false;
            return;
        }
        DG_ASSERT((e->m_next->m_next->m_next == e) && (e->m_face >= 0));
        work.deletedFaces[work.deletedCount] = e;
        work.deletedPlanes[work.deletedCount] = e->m_face;
        work.deletedCount++;
        dgMinkowskiEdge* x = e;
        for (int32_t j = 0; j < 3; j++) {
            x->m_face = dgMinkowskiEdge::kDeleted;
            work.stack[stackCount++] = x;
            x = x->m_next;
        }
    };

    deleteFace(face);
    while (ok && (stackCount > 0)) {
        dgMinkowskiEdge* x = work.stack[--stackCount];
        if (x->m_face != dgMinkowskiEdge::kDeleted) {
            continue;
        }
        dgMinkowskiEdge* t = x->m_twin;
        if (t->m_face == dgMinkowskiEdge::kDeleted) {
            x->m_face = dgMinkowskiEdge::kCollected;
            t->m_face = dgMinkowskiEdge::kCollected;
            work.collected[work.collectedCount++] = x;
        } else if (t->m_face >= 0) {
            if (m_planes[t->m_face].evaluate(apex) > 0.0f) {
                deleteFace(t);
            } else {
                work.horizon[work.horizonCount++] = x;
            }
        }
    }

    const int32_t horizonCount = work.horizonCount;
    if (ok) {
        // The visible faces must form a disc: Euler characteristic 1 and a
        // boundary that passes each of its vertices once.
        std::memset(work.marks, 0, sizeof(work.marks));
        int32_t vertexCount = 0;
        for (int32_t i = 0; i < work.deletedCount; i++) {
            const dgMinkowskiEdge* x = work.deletedFaces[i];
            for (int32_t j = 0; j < 3; j++) {
                if (!work.marks[x->m_vertex]) {
                    work.marks[x->m_vertex] = 1;
                    vertexCount++;
                }
                x = x->m_next;
            }
        }
        int32_t boundaryVertices = 0;
        for (int32_t i = 0; i < horizonCount; i++) {
            const int32_t v = work.horizon[i]->m_vertex;
            if (work.marks[v] == 1) {
                work.marks[v] = 2;
                boundaryVertices++;
            }
        }
        const int32_t euler = vertexCount - (work.collectedCount + horizonCount) + work.deletedCount;
        ok = (euler == 1) && (boundaryVertices == horizonCount) && (horizonCount >= 3);
    }
    if (ok) {
        int32_t copies = 0;
        for (int32_t i = 0; i < horizonCount; i++) {
            copies += work.horizon[i]->m_inHeap;
        }
        int32_t released = 0;
        for (int32_t i = 0; i < work.collectedCount; i++) {
            released += 2 - work.collected[i]->m_inHeap - work.collected[i]->m_twin->m_inHeap;
        }
        const int32_t planesFree = (kMaxPlanes - m_planeCount) + m_freePlaneCount + work.deletedCount;
        const int32_t edgesFree = (kMaxEdges - m_edgeCount) + m_freeEdgeCount + released;
        ok = (planesFree >= horizonCount) && (edgesFree >= 2 * horizonCount + copies) &&
             (heapRoom >= horizonCount);
    }
    if (!ok) {
        for (int32_t i = 0; i < work.deletedCount; i++) {
            dgMinkowskiEdge* x = work.deletedFaces[i];
            for (int32_t j = 0; j < 3; j++) {
                x->m_face = work.deletedPlanes[i];
                x = x->m_next;
            }
        }
        return false;
    }

    // Commit: nothing below can run out.
    for (int32_t i = 0; i < work.deletedCount; i++) {
        releasePlane(work.deletedPlanes[i]);
    }
    // Unlink each inner pair, merging the loops of its two faces. A record a
    // heap entry still names is left out of the free list for good (its
    // negative face makes the entry a no-op), so no entry ever points at a
    // reused record.
    for (int32_t i = 0; i < work.collectedCount; i++) {
        dgMinkowskiEdge* x = work.collected[i];
        dgMinkowskiEdge* t = x->m_twin;
        dgMinkowskiEdge* a = x->m_prev;
        dgMinkowskiEdge* b = x->m_next;
        dgMinkowskiEdge* c = t->m_prev;
        dgMinkowskiEdge* d = t->m_next;
        if (b == t) {
            a->m_next = d;
            d->m_prev = a;
        } else if (d == x) {
            c->m_next = b;
            b->m_prev = c;
        } else {
            a->m_next = d;
            d->m_prev = a;
            c->m_next = b;
            b->m_prev = c;
        }
        if (!x->m_inHeap) {
            releaseEdge(x);
        }
        if (!t->m_inHeap) {
            releaseEdge(t);
        }
    }

    // The horizon loop, in order; records the heap still names are replaced
    // in the mesh by fresh copies (the heap's entry then finds a deleted
    // face).
    dgMinkowskiEdge* h = work.horizon[0];
    for (int32_t i = 0; i < horizonCount; i++) {
        DG_ASSERT((h->m_face == dgMinkowskiEdge::kDeleted) && (h->m_twin->m_face >= 0));
        work.loop[i] = h;
        h = h->m_next;
    }
    DG_ASSERT(h == work.horizon[0]);
    for (int32_t i = 0; i < horizonCount; i++) {
        dgMinkowskiEdge* old = work.loop[i];
        if (!old->m_inHeap) {
            continue;
        }
        dgMinkowskiEdge* copy = takeEdge();
        DG_ASSERT(copy);
        *copy = *old;
        copy->m_inHeap = 0;
        copy->m_prev->m_next = copy;
        copy->m_next->m_prev = copy;
        copy->m_twin->m_twin = copy;
        work.loop[i] = copy;
    }

    // The cone: face i is (horizon start, horizon end, apex).
    dgMinkowskiEdge* toApex[kMaxEdges];
    dgMinkowskiEdge* fromApex[kMaxEdges];
    for (int32_t i = 0; i < horizonCount; i++) {
        toApex[i] = takeEdge();
        fromApex[i] = takeEdge();
        DG_ASSERT(toApex[i] && fromApex[i]);
    }
    for (int32_t i = 0; i < horizonCount; i++) {
        dgMinkowskiEdge* e = work.loop[i];
        dgMinkowskiEdge* up = toApex[i];
        dgMinkowskiEdge* down = fromApex[i];
        const int32_t next = (i + 1 < horizonCount) ? i + 1 : 0;
        up->m_vertex = work.loop[next]->m_vertex;
        up->m_inHeap = 0;
        down->m_vertex = uint16_t(newVertex);
        down->m_inHeap = 0;
        e->m_next = up;
        up->m_prev = e;
        up->m_next = down;
        down->m_prev = up;
        down->m_next = e;
        e->m_prev = down;
        up->m_twin = fromApex[next];
        fromApex[next]->m_twin = up;
    }
    return true;
}

dgMinkowskiEdge* dgMinkowskiSolver::calcPenetrationFace() {
    if (m_vertexCount < 4) {
        return nullptr;
    }
    m_edgeCount = 12;
    m_planeCount = 0;
    m_freePlanes = nullptr;
    m_freeEdges = nullptr;
    m_freePlaneCount = 0;
    m_freeEdgeCount = 0;

    dgExpansion work;
    dgExpansion::Heap heap(work.heapStorage, kHeapCapacity);
    auto queueFace = [&](dgMinkowskiEdge* e) {
        bool valid;
        const int32_t slot = addFacePlane(e, valid);
        DG_ASSERT(slot >= 0);
        if (valid && (heap.getCount() < kHeapCapacity)) {
            e->m_inHeap = 1;
            heap.push(e, m_planes[slot].w);
        }
    };
    for (int32_t k = 0; k < 4; k++) {
        queueFace(&m_edges[k]);
    }

    // The face a limit answers with: the best face met after the 24th
    // vertex, else the popped face's own.
    bool haveBest = false;
    dgPlane bestPlane(0.0f, 0.0f, 0.0f, -1e10f);
    dgVector bestDiff[3];
    dgVector bestSum[3];
    auto fallback = [&](dgMinkowskiEdge* e, int16_t slot, const dgPlane& ownPlane) {
        dgMinkowskiEdge* ring[3] = {e, e->m_next, e->m_prev};
        if (haveBest) {
            for (int32_t j = 0; j < 3; j++) {
                m_diff[ring[j]->m_vertex] = bestDiff[j];
                m_sum[ring[j]->m_vertex] = bestSum[j];
            }
        }
        m_planes[slot] = haveBest ? bestPlane : ownPlane;
        e->m_face = slot;
        return e;
    };

    while (!heap.isEmpty()) {
        dgMinkowskiEdge* e = heap.getTopValue();
        heap.pop();
        e->m_inHeap = 0;
        if (e->m_face < 0) {
            continue;
        }
        const int16_t slot = e->m_face;
        const dgPlane plane(m_planes[slot]);
        if (m_vertexCount >= kMaxVertices) {
            DG_ASSERT(!"vertex pool passed its stop mark");
            return fallback(e, slot, plane);
        }
        const int32_t index = m_vertexCount;
        calcSupportVertex(dgVector(plane.x, plane.y, plane.z, 0.0f), index);
        const float distance = plane.evaluate(m_diff[index]);
        m_vertexCount++;

        if ((m_vertexCount > kBestAfterVertices) && (plane.w > bestPlane.w) && (plane.w < 0.0f)) {
            haveBest = true;
            bestPlane = plane;
            const dgMinkowskiEdge* ring[3] = {e, e->m_next, e->m_prev};
            for (int32_t j = 0; j < 3; j++) {
                bestDiff[j] = m_diff[ring[j]->m_vertex];
                bestSum[j] = m_sum[ring[j]->m_vertex];
            }
        }
        if ((m_vertexCount > kStopVertices) || (m_edgeCount > kStopEdges) || (m_planeCount > kStopPlanes) ||
            (heap.getCount() > kStopHeap)) {
            return fallback(e, slot, plane);
        }
        if (distance < kPenetrationTolerance) {
            return e;
        }
        if (!isFinite(m_diff[index]) ||
            !expand(e, index, work, kHeapCapacity - heap.getCount())) {
            return fallback(e, slot, plane);
        }
        for (int32_t i = 0; i < work.horizonCount; i++) {
            queueFace(work.loop[i]);
        }
    }
    return nullptr;
}

bool dgMinkowskiSolver::checkPolytope(float tolerance) const {
    for (int32_t i = 0; i < m_edgeCount; i++) {
        const dgMinkowskiEdge& e = m_edges[i];
        if (e.m_face < 0) {
            continue;
        }
        if ((e.m_face >= m_planeCount) || !e.m_twin || (e.m_twin->m_twin != &e) || (e.m_twin->m_face < 0)) {
            return false;
        }
        if ((e.m_twin->m_vertex != e.m_next->m_vertex) || (e.m_next->m_prev != &e) || (e.m_prev->m_next != &e)) {
            return false;
        }
        if ((e.m_next->m_next->m_next != &e) || (e.m_next->m_face != e.m_face) || (e.m_prev->m_face != e.m_face)) {
            return false;
        }
        const dgPlane& plane = m_planes[e.m_face];
        const float n2 = plane % plane;
        if (std::fabs(n2 - 1.0f) > 1e-3f) {
            continue;
        }
        for (int32_t j = 0; j < m_edgeCount; j++) {
            if ((m_edges[j].m_face >= 0) && (plane.evaluate(m_diff[m_edges[j].m_vertex]) > tolerance)) {
                return false;
            }
        }
    }
    return true;
}

void dgMinkowskiSolver::moveSlot(int32_t from, int32_t to) {
    m_diff[to] = m_diff[from];
    m_sum[to] = m_sum[from];
}

void dgMinkowskiSolver::reduceSegment(dgVector& v, dgSimplexWeights& weights) {
    const dgVector& a = m_diff[4];
    const dgVector ab(m_diff[5] - a);
    const float t = -(a % ab) / ((ab % ab) + 1e-24f);
    if (t >= 1.0f) {
        moveSlot(5, 4);
        v = m_diff[4];
        weights.w[0] = 1.0f;
        m_vertexCount = 5;
    } else if (t < 0.0f) {
        v = a;
        weights.w[0] = 1.0f;
        m_vertexCount = 5;
    } else {
        v = a + ab.scale(t);
        weights.w[0] = 1.0f - t;
        weights.w[1] = t;
        m_vertexCount = 6;
    }
}

void dgMinkowskiSolver::reduceTriangle(dgVector& v, dgSimplexWeights& weights) {
    const dgTriangleRegion r = closestOnTriangle(m_diff[4], m_diff[5], m_diff[6]);
    dgVector diff[3];
    dgVector sum[3];
    for (int32_t j = 0; j < r.count; j++) {
        diff[j] = m_diff[4 + r.kept[j]];
        sum[j] = m_sum[4 + r.kept[j]];
    }
    for (int32_t j = 0; j < r.count; j++) {
        m_diff[4 + j] = diff[j];
        m_sum[4 + j] = sum[j];
        weights.w[j] = r.weights[j];
    }
    v = r.point;
    m_vertexCount = 4 + r.count;
}

void dgMinkowskiSolver::reduceTetrahedron(dgVector& v, dgSimplexWeights& weights) {
    const dgVector* const q = &m_diff[4];
    if ((((q[1] - q[0]).cross(q[2] - q[0])) % (q[3] - q[0])) > 0.0f) {
        swapVertices(5, 6);
    }
    int32_t best = -1;
    float bestDist2 = 1e20f;
    for (int32_t k = 0; k < 4; k++) {
        const dgVector& a = q[kFaceTable[k][0]];
        const dgVector& b = q[kFaceTable[k][1]];
        const dgVector& c = q[kFaceTable[k][2]];
        if ((((b - a).cross(c - a)) % a) >= 0.0f) {
            // The origin is not on this face's outer side.
            continue;
        }
        const dgTriangleRegion r = closestOnTriangle(a, b, c);
        const float dist2 = r.point % r.point;
        if (dist2 < bestDist2) {
            bestDist2 = dist2;
            best = k;
        }
    }
    if (best < 0) {
        m_vertexCount = 8;
        return;
    }
    dgVector diff[3];
    dgVector sum[3];
    for (int32_t j = 0; j < 3; j++) {
        diff[j] = m_diff[4 + kFaceTable[best][j]];
        sum[j] = m_sum[4 + kFaceTable[best][j]];
    }
    for (int32_t j = 0; j < 3; j++) {
        m_diff[4 + j] = diff[j];
        m_sum[4 + j] = sum[j];
    }
    reduceTriangle(v, weights);
}

int32_t dgClosestPoints(dgBody* body0, dgBody* body1, float* point0, float* point1, float* normal) {
    dgMinkowskiSolver solver(body0, body1);
    dgMinkowskiEdge* face = nullptr;
    const dgVector origin(0.0f, 0.0f, 0.0f, 1.0f);
    if (solver.calcSeparatingFace(face, origin) != 1) {
        return 0;
    }
    const int32_t corners[3] = {face->m_vertex, face->m_next->m_vertex, face->m_prev->m_vertex};
    for (int32_t j = 0; j < 3; j++) {
        solver.moveSlot(corners[j], 4 + j);
    }
    dgMinkowskiSolver::dgSimplexWeights weights;
    dgVector v;
    solver.reduceTriangle(v, weights);

    dgVector dir(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t iteration = 0; iteration < kClosestIterations; iteration++) {
        if (solver.m_vertexCount >= 8) {
            return 0;
        }
        const float length2 = v % v;
        if (!(length2 > 0.0f) || !std::isfinite(length2)) {
            // Touching (or nothing sensible left): no separation to report.
            return 0;
        }
        const dgVector previous(dir);
        dir = v.scale(-1.0f / std::sqrt(length2));
        dir.w = 0.0f;
        float gap = 0.0f;
        if ((dir % previous) < 0.9995f) {
            const int32_t slot = solver.m_vertexCount;
            solver.calcSupportVertex(dir, slot);
            gap = (solver.m_diff[slot] - v) % dir;
        }
        if (!(gap >= 0.0005f)) {
            break;
        }
        solver.m_vertexCount++;
        switch (solver.m_vertexCount) {
            case 6:
                solver.reduceSegment(v, weights);
                break;
            case 7:
                solver.reduceTriangle(v, weights);
                break;
            default:
                solver.reduceTetrahedron(v, weights);
                break;
        }
    }
    if (solver.m_vertexCount >= 8) {
        return 0;
    }

    dgVector s(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector d(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t j = 4; j < solver.m_vertexCount; j++) {
        s += solver.m_sum[j].scale(weights.w[j - 4]);
        d += solver.m_diff[j].scale(weights.w[j - 4]);
    }
    const dgMatrix& matrix = body0->m_collisionMatrix;
    const dgVector pA(matrix.transformVector((s + d).scale(0.5f)));
    const dgVector pB(matrix.transformVector((s - d).scale(0.5f)));
    const dgVector n(matrix.rotateVector(dir));
    for (int32_t j = 0; j < 3; j++) {
        point0[j] = pA[j];
        point1[j] = pB[j];
        normal[j] = n[j];
    }
    return 1;
}

// Half-edge mesh optimisation: quadric-bounded edge collapse, removal of faces
// without area and merging of coplanar faces into convex polygons.
#include <algorithm>
#include <cmath>
#include <new>

#include "dgAssert.h"
#include "dgEdgeMesh.h"
#include "dgEdgeMeshCensus.h"
#include "dgQuadric.h"
#include "dgRefList.h"

namespace {

// A collapse candidate. The half-edge's user data points to its current
// record; a record whose edge is null is stale and is dropped when popped.
struct dgCollapseRecord {
    dgEdge* m_edge;
};
typedef dgRefList<dgCollapseRecord> dgCollapseRecordList;
typedef dgCollapseRecordList::Node dgCollapseRecordNode;
typedef dgMaxHeap<dgCollapseRecordNode*, double> dgCandidateHeap;

// Keys are 1024 - cost, so the cheapest candidate is on top.
constexpr double kCandidateKeyBase = 1024.0;

dgVector64 dgPoint64(const float* vertices, int32_t strideInFloats, int32_t index) {
    const float* p = vertices + size_t(index) * size_t(strideInFloats);
    return dgVector64(p[0], p[1], p[2], 0.0);
}

// Plane through A, B, C with unit normal (B - A) x (C - A).
dgPlane64 dgFacePlane(const dgVector64& a, const dgVector64& b, const dgVector64& c) {
    dgVector64 n = (b - a).cross(c - a);
    double length = std::sqrt(n.dot(n));
    if (length < 1.0e-12) {
        length = 1.0e-12;
    }
    n = n.scale(1.0 / length);
    return dgPlane64(n, -n.dot(a));
}

// Plane through the edge A->B perpendicular to its face (third vertex C),
// scaled so that its squared value weighs 100 times a face plane's: moving a
// vertex off the outline costs far more than moving it within the surface.
dgPlane64 dgBoundaryPlane(const dgVector64& a, const dgVector64& b, const dgVector64& c) {
    const dgVector64 e = b - a;
    const dgVector64 f = c - a;
    const dgVector64 m = e.cross(f);
    dgVector64 k = m.cross(e);
    double length = std::sqrt(k.dot(k));
    if (length < 1.0e-12) {
        length = 1.0e-12;
    }
    k = k.scale(10.0 / length);
    return dgPlane64(k, -k.dot(a));
}

// Growable heap of collapse candidates. The heap type has a fixed capacity,
// so when it fills up its entries move to a heap on twice the storage.
class dgCandidateQueue {
public:
    explicit dgCandidateQueue(int32_t capacity) : m_active(0), m_heap(nullptr) {
        m_heap = build(0, capacity);
    }
    ~dgCandidateQueue() {
        if (m_heap) {
            m_heap->~dgCandidateHeap();
        }
    }
    dgCandidateQueue(const dgCandidateQueue&) = delete;
    dgCandidateQueue& operator=(const dgCandidateQueue&) = delete;

    bool isEmpty() const { return !m_heap || m_heap->isEmpty(); }
    dgCollapseRecordNode* getTopValue() const { return m_heap->getTopValue(); }
    double getTopKey() const { return m_heap->getTopKey(); }
    void pop() { m_heap->pop(); }

    // False (nothing pushed) only when the storage could not grow.
    bool push(dgCollapseRecordNode* record, double key) {
        if (!m_heap) {
            return false;
        }
        if (m_heap->getCount() == m_heap->getCapacity()) {
            const int64_t wanted = 2 * int64_t(m_heap->getCapacity()) + 16;
            if (wanted > INT32_MAX / int64_t(sizeof(dgCandidateHeap::Entry))) {
                return false;
            }
            const int32_t slot = 1 - m_active;
            dgCandidateHeap* bigger = build(slot, int32_t(wanted));
            if (!bigger) {
                return false;
            }
            for (int32_t i = 0; i < m_heap->getCount(); ++i) {
                bigger->push((*m_heap)[i].value, (*m_heap)[i].key);
            }
            m_heap->~dgCandidateHeap();
            m_storage[m_active].reset();
            m_heap = bigger;
            m_active = slot;
        }
        m_heap->push(record, key);
        return true;
    }

private:
    dgCandidateHeap* build(int32_t slot, int32_t capacity) {
        m_storage[slot].reset(dgMalloc(dgCandidateHeap::bytesFor(capacity)));
        if (!m_storage[slot].get()) {
            return nullptr;
        }
        return new (m_slots[slot])
            dgCandidateHeap(m_storage[slot].get(), dgCandidateHeap::bytesFor(capacity));
    }

    dgBlockHolder m_storage[2];
    alignas(dgCandidateHeap) unsigned char m_slots[2][sizeof(dgCandidateHeap)];
    int32_t m_active;
    dgCandidateHeap* m_heap;
};

}  // namespace

// ---------------------------------------------------------------------------
// Census

dgEdgeMeshCensus::dgEdgeMeshCensus() : loopCount(0), edgeCount(0), fanCount(0), vertexCount(0) {}

dgEdgeMeshCensus::dgEdgeMeshCensus(dgEdgeMesh& mesh)
    : loopCount(0), edgeCount(0), fanCount(0), vertexCount(0) {
    take(mesh);
}

void dgEdgeMeshCensus::take(dgEdgeMesh& mesh) {
    // Flags kept in the stamps while counting.
    constexpr uint32_t kListed = 1;
    constexpr uint32_t kFanCounted = 2;
    constexpr uint32_t kLoopCounted = 4;

    openLoops.removeAll();
    loopCount = 0;
    edgeCount = 0;
    fanCount = 0;
    vertexCount = 0;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        node->getPayload().m_stamp = 0;
    }
    // Walks are bounded so that a mesh with broken links still terminates.
    const int32_t guard = mesh.getEdgeCount() + 1;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        ++edgeCount;
        if (edge->m_vertex + 1 > vertexCount) {
            vertexCount = edge->m_vertex + 1;
        }
        if (!(edge->m_stamp & kLoopCounted)) {
            ++loopCount;
            uint32_t flags = kLoopCounted;
            if (edge->m_faceId < 0) {
                openLoops.append(edge);
                flags |= kListed;
            }
            dgEdge* ptr = edge;
            int32_t steps = 0;
            do {
                ptr->m_stamp |= flags;
                ptr = ptr->m_next;
            } while (ptr && ptr != edge && ++steps < guard);
            // A loop ends where it began, or at a missing link on a mesh not
            // yet closed; the cap only guards a damaged table.
            DG_ASSERT(!ptr || ptr == edge);
        }
        if (!(edge->m_stamp & kFanCounted)) {
            ++fanCount;
            dgEdge* ptr = edge;
            int32_t steps = 0;
            do {
                ptr->m_stamp |= kFanCounted;
                ptr = ptr->m_twin ? ptr->m_twin->m_next : nullptr;
            } while (ptr && ptr != edge && ++steps < guard);
            DG_ASSERT(!ptr || ptr == edge);
        }
    }
    if (mesh.getStamp() < 8) {
        mesh.setStamp(8);
    }
}

// ---------------------------------------------------------------------------
// Driver and degenerate faces

void dgEdgeMesh::dgEdgeMeshOptimize(const float* vertices, int32_t strideInBytes, dgEdgeMesh* leftoverMesh) {
    if (!m_edges.getCount()) {
        return;
    }
    // Faces without area are told by their shape, not by an absolute area:
    // a fine tessellation has every triangle below any fixed area, and
    // deleting them all before the simplification could join them would
    // empty the mesh.
    dgEdgeMeshTriangulate(vertices, strideInBytes, leftoverMesh);
    removeFlatFaces(vertices, strideInBytes, kFlatFaceRatio);
    dgEdgeMeshSimplify(vertices, strideInBytes, 0.001f);
    removeFlatFaces(vertices, strideInBytes, kFlatFaceRatio);
    if (m_edges.getCount()) {
        const int32_t capacity = m_edges.getCount() / 2 + 100;
        dgScratchArray<dgEdge*> stack(capacity);
        dgScratchArray<dgEdge*> interior(capacity);
        dgScratchArray<dgEdge*> groups(capacity);
        // The buffers are outgrown when needed, so a failed scratch
        // allocation only means starting from nothing.
        const int32_t lent = (stack.getData() && interior.getData() && groups.getData()) ? capacity : 0;
        if (dgEdgeMeshMergeCoplanarFaces(vertices, strideInBytes, stack.getData(), interior.getData(),
                                         groups.getData(), lent)) {
            dgEdgeMeshMergeCoplanarFaces(vertices, strideInBytes, stack.getData(), interior.getData(),
                                         groups.getData(), lent);
        }
    }
}

void dgEdgeMesh::dgEdgeMeshRemoveDegenerateFaces(const float* vertices, int32_t strideInBytes,
                                                 float tolerance) {
    // Twice the area against the tolerance: |N|^2 against 4 tolerance^2.
    const double limit = 4.0 * double(tolerance) * double(tolerance);
    deleteFaces(vertices, strideInBytes, [limit](double area2, double) { return area2 < limit; });
}

void dgEdgeMesh::removeFlatFaces(const float* vertices, int32_t strideInBytes, double ratio) {
    // |N| is twice the area, so |N| / L is the face's height across its
    // longest edge L: flat when that height is below ratio x L. Corners that
    // all coincide (L = 0) count as flat.
    const double ratio2 = ratio * ratio;
    deleteFaces(vertices, strideInBytes, [ratio2](double area2, double longest2) {
        return area2 <= ratio2 * longest2 * longest2;
    });
}

template <class Drop>
void dgEdgeMesh::deleteFaces(const float* vertices, int32_t strideInBytes, Drop drop) {
    const int32_t edgeCount = m_edges.getCount();
    if (!edgeCount || !isWalkable()) {
        return;
    }
    const int32_t strideInFloats = strideInBytes / 4;
    const uint32_t stamp = newStamp();
    dgScratchArray<dgEdge*> scratch(edgeCount / 2 + 100);
    dgWorkStack<dgEdge*> faces(scratch.getData(), scratch.getCount());
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp || edge->m_faceId <= 0) {
            continue;
        }
        faces.push(edge);
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr != edge);
    }

    for (int32_t i = 0; i < faces.getCount(); ++i) {
        // A deletion only removes pairs that border holes on both sides, so
        // the half-edges recorded for the other faces survive it.
        dgEdge* edge = faces[i];
        const dgVector64 n = dgEdgeMeshFaceNormal64(edge, vertices, strideInFloats);
        double longest2 = 0.0;
        const dgEdge* ptr = edge;
        do {
            const dgVector64 d = dgPoint64(vertices, strideInFloats, ptr->m_next->m_vertex) -
                                 dgPoint64(vertices, strideInFloats, ptr->m_vertex);
            longest2 = std::max(longest2, d.dot(d));
            ptr = ptr->m_next;
        } while (ptr != edge);
        if (drop(n.x * n.x + n.y * n.y + n.z * n.z, longest2)) {
            dgEdgeMeshDeleteFace(edge);
        }
    }
}

// ---------------------------------------------------------------------------
// Coplanar faces

bool dgEdgeMesh::dgEdgeMeshMergeCoplanarFaces(const float* vertices, int32_t strideInBytes,
                                              dgEdge** stackBuffer, dgEdge** edgeBuffer, dgEdge** groupBuffer,
                                              int32_t bufferCapacity) {
    if (!m_edges.getCount() || !isWalkable()) {
        return false;
    }
    const int32_t strideInFloats = strideInBytes / 4;
    dgWorkStack<dgEdge*> stack(stackBuffer, bufferCapacity);
    dgWorkStack<dgEdge*> interior(edgeBuffer, bufferCapacity);
    dgWorkStack<dgEdge*> groups(groupBuffer, bufferCapacity);

    // Stamps every face reachable from seed whose normal stays within about
    // 0.8 degrees of the seed's and whose corners lie within 0.08 of the seed
    // plane. Returns the number of faces taken. The group's stamp s is odd
    // steps apart from the next group's, leaving s - 1 for the gathering.
    auto growGroup = [&](dgEdge* seed) -> int32_t {
        setStamp(getStamp() + 2);
        const uint32_t s = getStamp();
        const dgVector64 seedArea = dgEdgeMeshFaceNormal64(seed, vertices, strideInFloats);
        const double seedMag2 = seedArea.dot(seedArea);
        if (seedMag2 < double(1.0e-12f)) {
            dgEdge* ptr = seed;
            do {
                ptr->m_stamp = s;
                ptr = ptr->m_next;
            } while (ptr != seed);
            return 1;
        }
        const dgVector64 n = seedArea.scale(1.0 / std::sqrt(seedMag2));
        const double d = -n.dot(dgPoint64(vertices, strideInFloats, seed->m_vertex));

        auto inGroup = [&](const dgEdge* face) {
            const dgVector64 area = dgEdgeMeshFaceNormal64(face, vertices, strideInFloats);
            double mag2 = area.dot(area);
            if (mag2 < 1.0e-12) {
                mag2 = 1.0e-12;
            }
            if (area.dot(n) / std::sqrt(mag2) < double(0.9999f)) {
                return false;
            }
            const dgEdge* ptr = face;
            do {
                const double distance = n.dot(dgPoint64(vertices, strideInFloats, ptr->m_vertex)) + d;
                if (std::fabs(distance) > 0.08) {
                    return false;
                }
                ptr = ptr->m_next;
            } while (ptr != face);
            return true;
        };
        int32_t count = 0;
        stack.clear();
        floodFaces(seed, s, stack, inGroup, [&count](dgEdge*) { ++count; });
        return count;
    };

    // Merging at the corner P of h's origin keeps the joined face clearly
    // convex there: the turn from R (before P) to Y (after P in the face
    // across h) must have a sine above 0.1 about the group's normal.
    auto cornerRefuses = [&](const dgEdge* h, const dgVector& normal) -> bool {
        const dgVector64 p = dgPoint64(vertices, strideInFloats, h->m_vertex);
        const dgVector64 y = dgPoint64(vertices, strideInFloats, h->m_twin->m_next->m_next->m_vertex);
        const dgVector64 r = dgPoint64(vertices, strideInFloats, h->m_prev->m_vertex);
        dgVector64 u = y - p;
        dgVector64 v = r - p;
        const double u2 = u.dot(u);
        const double v2 = v.dot(v);
        if (u2 < 1.0e-12 || v2 < 1.0e-12) {
            return false;
        }
        u = u.scale(1.0 / std::sqrt(u2));
        v = v.scale(1.0 / std::sqrt(v2));
        const dgVector64 n(normal.x, normal.y, normal.z, 0.0);
        return u.cross(v).dot(n) <= double(0.1f);
    };

    const uint32_t firstStamp = newStamp();
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_faceId < 0 || edge->m_stamp >= firstStamp) {
            continue;
        }
        if (growGroup(edge) > 1 && groups.push(edge)) {
            node->addRef();
        }
    }
    if (!groups.getCount()) {
        return false;
    }

    for (int32_t i = 0; i < groups.getCount(); ++i) {
        dgEdge* seed = groups[i];
        dgEdgeNode* seedNode = dgEdgeMeshNodeOf(seed);
        if (seedNode->isLive()) {
            const dgVector64 area = dgEdgeMeshFaceNormal64(seed, vertices, strideInFloats);
            dgVector normal(float(area.x), float(area.y), float(area.z), 0.0f);
            const float mag2 = normal.dot(normal);
            if (mag2 > 0.0f) {
                normal = normal.scale(1.0f / std::sqrt(mag2));
            }

            // Interior edges: both sides carry the group's stamp s; each pair
            // is listed once because a visited loop drops to s - 1.
            const uint32_t s = seed->m_stamp;
            interior.clear();
            stack.clear();
            stack.push(seed);
            while (stack.getCount()) {
                dgEdge* face = stack.pop();
                if (face->m_stamp == s - 1) {
                    continue;
                }
                dgEdge* ptr = face;
                do {
                    if (ptr->m_stamp == s && ptr->m_twin->m_stamp == s) {
                        interior.push(ptr);
                    }
                    ptr->m_stamp = s - 1;
                    if (ptr->m_twin->m_stamp == s) {
                        stack.push(ptr->m_twin);
                    }
                    ptr = ptr->m_next;
                } while (ptr != face);
            }

            for (int32_t j = 0; j < interior.getCount(); ++j) {
                dgEdge* h = interior[j];
                dgEdge* t = h->m_twin;
                if (cornerRefuses(h, normal) || cornerRefuses(t, normal)) {
                    continue;
                }
                // A pair already inside one loop would split it, cutting a
                // hole into the face instead of joining two faces.
                bool sameLoop = false;
                for (dgEdge* ptr = h->m_next; ptr != h; ptr = ptr->m_next) {
                    if (ptr == t) {
                        sameLoop = true;
                        break;
                    }
                }
                if (sameLoop) {
                    continue;
                }
                const int32_t faceId = h->m_faceId;
                dgEdge* survivor = h->m_prev;
                dgEdgeMeshDeleteEdge(h);
                // The joined loop mixes the ids of its two faces; it is one
                // face now and takes one id.
                dgEdge* ptr = survivor;
                do {
                    ptr->m_faceId = faceId;
                    ptr = ptr->m_next;
                } while (ptr != survivor);
            }
        }
        seedNode->release();
    }
    return true;
}

// ---------------------------------------------------------------------------
// Edge collapse

dgEdge* dgEdgeMesh::dgEdgeMeshCollapseEdge(dgEdge* edge) {
    return collapseEdge(edge, false);
}

dgEdge* dgEdgeMesh::collapseEdge(dgEdge* e, bool clearRecords) {
    DG_ASSERT(e);
    if (!e) {
        return nullptr;
    }
    dgEdge* t = e->m_twin;
    if (!t || t == e || t->m_twin != e) {
        return nullptr;
    }
    dgEdge* en = e->m_next;
    dgEdge* ep = e->m_prev;
    dgEdge* tn = t->m_next;
    dgEdge* tp = t->m_prev;
    if (!en || !ep || !tn || !tp || !en->m_twin || !ep->m_twin || !tn->m_twin || !tp->m_twin) {
        return nullptr;
    }
    const int32_t a = e->m_vertex;
    const int32_t b = t->m_vertex;
    if (a == b || en->m_vertex != b || tn->m_vertex != a) {
        return nullptr;
    }
    // Loops of fewer than three half-edges have no corner to spare, and a
    // dangling edge (the pair follows itself in one loop) has no faces to
    // fold: its relinking would lead back into the removed pair.
    if (en == ep || tn == tp || en == t || ep == t) {
        return nullptr;
    }

    // Degenerate neighbourhoods: x is the half-edge leaving b that survives
    // and from which the merged fan is renamed.
    dgEdge* x = tp->m_twin;
    if (x == tn || x == t) {
        return nullptr;
    }
    if (x == en) {
        x = ep->m_twin;
        if (x == tn || x == t) {
            return nullptr;
        }
    }

    const bool eTriangle = en == ep->m_prev;
    const bool tTriangle = tn == tp->m_prev;
    if (eTriangle && (ep->m_vertex == a || ep->m_vertex == b)) {
        return nullptr;
    }
    if (tTriangle && (tp->m_vertex == a || tp->m_vertex == b)) {
        return nullptr;
    }
    // A triangle removed between two holes would leave their half-edges
    // twinned to each other: an edge bordering nothing on either side.
    if (eTriangle && en->m_twin->m_faceId < 0 && ep->m_twin->m_faceId < 0) {
        return nullptr;
    }
    if (tTriangle && tn->m_twin->m_faceId < 0 && tp->m_twin->m_faceId < 0) {
        return nullptr;
    }

    auto step = [](dgEdge* y) -> dgEdge* { return (y && y->m_twin) ? y->m_twin->m_next : nullptr; };
    const int32_t guard = m_edges.getCount() + 1;

    // Neighbour test over the span of a's fan that stays after the collapse:
    // a neighbour w that b already has would get a second edge to b.
    dgEdge* start;
    dgEdge* stop;
    const bool eFace = e->m_faceId >= 0;
    const bool tFace = t->m_faceId >= 0;
    if (eFace && tFace) {
        start = step(tn);
        stop = ep->m_twin;
    } else if (eFace) {
        start = tn;
        stop = ep->m_twin;
    } else if (tFace) {
        start = step(tn);
        stop = e;
    } else {
        start = tn;
        stop = ep->m_twin;
    }
    int32_t steps = 0;
    for (dgEdge* y = start; y != stop; y = step(y)) {
        if (!y || !y->m_twin) {
            return nullptr;
        }
        // start and stop lie on one fan, which closes within the edge count.
        DG_ASSERT(steps < guard);
        if (++steps > guard) {
            return nullptr;
        }
        if (m_edges.find(dgEdgeMeshKey(b, y->m_twin->m_vertex))) {
            return nullptr;
        }
    }
    // The same over the whole fan, for every half-edge that will be re-keyed,
    // in both directions: it also covers loops that are not triangles, whose
    // neighbours the span above assumes to be shared.
    steps = 0;
    for (dgEdge* y = tn; y != e; y = step(y)) {
        if (!y || !y->m_twin || y->m_vertex != a) {
            return nullptr;
        }
        DG_ASSERT(steps < guard);
        if (++steps > guard) {
            return nullptr;
        }
        if (y == tn && tTriangle) {
            continue;
        }
        const int32_t w = y->m_twin->m_vertex;
        dgEdgeNode* forward = m_edges.find(dgEdgeMeshKey(b, w));
        if (forward && !(eTriangle && &forward->getPayload() == en)) {
            return nullptr;
        }
        if (!(eTriangle && y == ep->m_twin) && m_edges.find(dgEdgeMeshKey(w, b))) {
            return nullptr;
        }
    }

    auto dropRecord = [clearRecords](dgEdge* h) {
        if (clearRecords && h->m_userData) {
            reinterpret_cast<dgCollapseRecordNode*>(uintptr_t(h->m_userData))->getValue().m_edge = nullptr;
        }
    };

    if (tTriangle) {
        dgEdge* left = tp->m_twin;
        dgEdge* right = tn->m_twin;
        left->m_twin = right;
        right->m_twin = left;
        dropRecord(tn);
        dropRecord(tp);
        removeEdge(tn);
        removeEdge(tp);
    } else {
        tp->m_next = tn;
        tn->m_prev = tp;
    }
    if (eTriangle) {
        dgEdge* left = en->m_twin;
        dgEdge* right = ep->m_twin;
        left->m_twin = right;
        right->m_twin = left;
        dropRecord(en);
        dropRecord(ep);
        removeEdge(en);
        removeEdge(ep);
    } else {
        ep->m_next = en;
        en->m_prev = ep;
    }
    dropRecord(e);
    dropRecord(t);
    removeEdge(e);
    removeEdge(t);

    // a's and b's fans are one rotation now; everything still filed under a
    // moves to b.
    dgEdge* y = x;
    steps = 0;
    do {
        dgEdge* yt = y->m_twin;
        const int32_t w = yt->m_vertex;
        dgEdgeNode* node = dgEdgeMeshNodeOf(y);
        if (node->getKey() == dgEdgeMeshKey(a, w)) {
            m_edges.replaceKey(node, dgEdgeMeshKey(b, w));
            y->m_vertex = b;
        }
        dgEdgeNode* twinNode = dgEdgeMeshNodeOf(yt);
        if (twinNode->getKey() == dgEdgeMeshKey(w, a)) {
            m_edges.replaceKey(twinNode, dgEdgeMeshKey(w, b));
        }
        y = yt->m_next;
    } while (y != x && ++steps < guard);
    DG_ASSERT(y == x);
    return x;
}

// ---------------------------------------------------------------------------
// Quadric simplification

void dgEdgeMesh::dgEdgeMeshSimplify(const float* vertices, int32_t strideInBytes, float tolerance) {
    const int32_t edgeCount = m_edges.getCount();
    if (!edgeCount || !isWalkable()) {
        return;
    }
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_vertex < 0) {
            return;
        }
    }

    dgEdgeMeshCensus census(*this);
    const int32_t vertexCount = census.vertexCount;
    if (vertexCount > (INT32_MAX - 1536) / 3 || edgeCount > (INT32_MAX / 2 - 16384) / 4) {
        return;
    }
    const int32_t strideInFloats = strideInBytes / 4;

    // Packed copy of the positions: the fold-over and normal tests read them
    // with a stride of three floats.
    dgScratchArray<float> packed(vertexCount * 3);
    dgScratchArray<dgQuadric> quadrics(vertexCount + 512);
    if (!packed.getData() || !quadrics.getData()) {
        return;
    }
    for (int32_t i = 0; i < vertexCount; ++i) {
        const float* p = vertices + size_t(i) * size_t(strideInFloats);
        packed[3 * i + 0] = p[0];
        packed[3 * i + 1] = p[1];
        packed[3 * i + 2] = p[2];
    }
    for (int32_t i = 0; i < quadrics.getCount(); ++i) {
        quadrics[i].clear();
    }
    const float* positions = packed.getData();
    auto point = [positions](int32_t index) { return dgPoint64(positions, 3, index); };

    dgCollapseRecordList records;
    dgCandidateQueue queue(2 * (4 * edgeCount + 16384));

    // Initial quadrics: a face's plane goes to each of its corners, an open
    // edge's boundary plane to both of its ends.
    const uint32_t initialStamp = newStamp();
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == initialStamp) {
            continue;
        }
        if (edge->m_faceId < 1) {
            const dgEdge* across = edge->m_twin;
            const dgPlane64 plane = dgBoundaryPlane(point(across->m_vertex), point(across->m_next->m_vertex),
                                                    point(across->m_prev->m_vertex));
            quadrics[edge->m_vertex].addPlane(plane);
            quadrics[across->m_vertex].addPlane(plane);
            edge->m_stamp = initialStamp;
        } else {
            const dgPlane64 plane = dgFacePlane(point(edge->m_vertex), point(edge->m_next->m_vertex),
                                                point(edge->m_prev->m_vertex));
            dgEdge* ptr = edge;
            do {
                quadrics[ptr->m_vertex].addPlane(plane);
                ptr->m_stamp = initialStamp;
                ptr = ptr->m_next;
            } while (ptr != edge);
        }
    }

    // Quadric of v rebuilt from the faces around it (from a half-edge
    // leaving v); collapses change the faces, so nothing is accumulated.
    auto localQuadric = [&](dgEdge* from) {
        const int32_t v = from->m_vertex;
        dgQuadric& q = quadrics[v];
        q.clear();
        const dgVector64 pv = point(v);
        dgEdge* x = from;
        do {
            if (x->m_faceId > 0) {
                q.addPlane(dgFacePlane(pv, point(x->m_twin->m_vertex), point(x->m_prev->m_vertex)));
            } else {
                q.addPlane(
                    dgBoundaryPlane(pv, point(x->m_twin->m_vertex), point(x->m_twin->m_prev->m_vertex)));
                q.addPlane(dgBoundaryPlane(pv, point(x->m_prev->m_vertex),
                                           point(x->m_prev->m_twin->m_prev->m_vertex)));
            }
            x = x->m_twin->m_next;
        } while (x != from);
    };

    // 1 refuses moving e's origin a onto its destination b, 0 allows it.
    auto penalty = [&](dgEdge* e) -> double {
        dgEdge* t = e->m_twin;
        const dgVector64 pa = point(e->m_vertex);
        const dgVector64 pb = point(t->m_vertex);
        const dgVector64 ab = pb - pa;
        if (ab.dot(ab) < 1.0e-6) {
            return 1.0;
        }

        if (e->m_faceId >= 1 && t->m_faceId >= 1) {
            const dgVector n0 = dgEdgeMeshFaceNormal(e, positions, 12);
            const dgVector n1 = dgEdgeMeshFaceNormal(t, positions, 12);
            const dgVector64 m0(n0.x, n0.y, n0.z, 0.0);
            const dgVector64 m1(n1.x, n1.y, n1.z, 0.0);
            const double mag0 = m0.dot(m0);
            const double mag1 = m1.dot(m1);
            if (mag0 < 1.0e-24 || mag1 < 1.0e-24) {
                return 1.0;
            }
            if (m0.dot(m1) / std::sqrt(mag0 * mag1) < -0.999) {
                return 1.0;
            }
            // An interior edge must not drag a boundary vertex inwards.
            dgEdge* x = e;
            do {
                if (x->m_faceId < 1 || x->m_twin->m_faceId < 1) {
                    return 1.0;
                }
                x = x->m_twin->m_next;
            } while (x != e);
        }

        // Fold-over: every other face at a keeps its orientation and most of
        // its area once a sits at b. The two loops the collapse takes away
        // are told apart by their half-edges arriving at a (t and e.prev),
        // not by face id: the triangles cut from one polygon share its id,
        // and a sibling of e's triangle stays and can fold.
        bool tested = false;
        dgEdge* x = e;
        do {
            const dgEdge* y = x->m_twin;
            const int32_t face = y->m_faceId;
            if (y != t && y != e->m_prev && face >= 0 && y->m_next->m_faceId == face &&
                y->m_prev->m_faceId == face) {
                const dgVector64 w = point(y->m_vertex);
                const dgVector64 q = point(y->m_prev->m_vertex);
                const dgVector64 oldNormal = (w - pa).cross(q - pa);
                const dgVector64 newNormal = (w - pb).cross(q - pb);
                const double oldLength = std::sqrt(oldNormal.dot(oldNormal));
                const double newLength = std::sqrt(newNormal.dot(newNormal));
                if (newNormal.dot(oldNormal) <= newLength * oldLength * (1.0 / 64.0)) {
                    return 1.0;
                }
                if (16.0 * newLength < oldLength) {
                    return 1.0;
                }
                tested = true;
            }
            x = x->m_twin->m_next;
        } while (x != e);
        return tested ? 0.0 : 1.0;
    };

    const double threshold = double(10.0f * tolerance * tolerance);
    // Error of moving e's origin onto its destination.
    auto cost = [&](const dgEdge* e) {
        const dgVector64 target = point(e->m_twin->m_vertex);
        return quadrics[e->m_vertex].evaluate(target.x, target.y, target.z);
    };

    // A new record supersedes the half-edge's previous one, which goes stale.
    auto pushCandidate = [&](dgEdge* e, double value) {
        if (e->m_userData) {
            reinterpret_cast<dgCollapseRecordNode*>(uintptr_t(e->m_userData))->getValue().m_edge = nullptr;
        }
        e->m_userData = 0;
        dgCollapseRecordNode* record = records.append(dgCollapseRecord{e});
        if (!record) {
            return;
        }
        if (!queue.push(record, kCandidateKeyBase - value)) {
            records.remove(record);
            return;
        }
        e->m_userData = uint64_t(uintptr_t(record));
    };
    auto destroyRecord = [&](dgCollapseRecordNode* record) {
        dgEdge* e = record->getValue().m_edge;
        if (e && e->m_userData == uint64_t(uintptr_t(record))) {
            e->m_userData = 0;
        }
        records.remove(record);
    };
    auto reevaluate = [&](dgEdge* e) {
        const double value = cost(e) + penalty(e) * threshold;
        if (value >= threshold) {
            if (e->m_userData) {
                reinterpret_cast<dgCollapseRecordNode*>(uintptr_t(e->m_userData))->getValue().m_edge =
                    nullptr;
            }
            e->m_userData = 0;
        } else {
            pushCandidate(e, value);
        }
    };

    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        node->getPayload().m_userData = 0;
    }
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        const double value = cost(e);
        if (value < threshold) {
            const double total = penalty(e) * threshold + value;
            if (total < threshold) {
                pushCandidate(e, total);
            }
        }
    }

    while (!queue.isEmpty()) {
        dgCollapseRecordNode* record = queue.getTopValue();
        const double pushedCost = kCandidateKeyBase - queue.getTopKey();
        queue.pop();
        dgEdge* e = record->getValue().m_edge;
        destroyRecord(record);
        if (!e) {
            continue;
        }

        localQuadric(e);
        const double value = cost(e) + penalty(e) * threshold;
        // A moved cost means the neighbourhood changed since the push; the
        // candidate comes back when a collapse next to it re-evaluates it. A
        // cost at or above the bound (a penalty that turned to 1) is refused
        // even when the bound is smaller than the staleness margin.
        if (std::fabs(value - pushedCost) >= 1.0e-5 || value >= threshold) {
            continue;
        }
        dgEdge* v = collapseEdge(e, true);
        if (!v) {
            continue;
        }

        localQuadric(v);
        dgEdge* x = v;
        do {
            localQuadric(x->m_twin);
            x = x->m_twin->m_next;
        } while (x != v);

        const uint32_t stamp = newStamp();
        x = v;
        do {
            x->m_stamp = stamp;
            reevaluate(x);
            x = x->m_twin->m_next;
        } while (x != v);
        x = v;
        do {
            dgEdge* first = x->m_twin;
            dgEdge* y = first;
            do {
                if (y->m_stamp != stamp) {
                    y->m_stamp = stamp;
                    reevaluate(y);
                }
                if (y->m_twin->m_stamp != stamp) {
                    y->m_twin->m_stamp = stamp;
                    reevaluate(y->m_twin);
                }
                y = y->m_twin->m_next;
            } while (y != first);
            x = x->m_twin->m_next;
        } while (x != v);
    }
    // Every record left the list when its entry was popped; none remains to
    // point at from the user data.
}

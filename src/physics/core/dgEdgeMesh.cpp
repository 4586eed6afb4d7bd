// Half-edge mesh: structure, building and topological edits.
#include "dgEdgeMesh.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "dgAssert.h"

namespace {

// Allocator lending one static node-sized block, so that the payload offset
// can be measured on a real node without touching the hooks or the pools.
class dgProbeAllocator : public dgAllocator {
public:
    void* alloc(size_t) override { return m_block; }
    void free(void*) override {}

private:
    alignas(16) unsigned char m_block[sizeof(dgEdgeMesh::dgEdgeNode)];
};

ptrdiff_t dgEdgePayloadOffset() {
    static const ptrdiff_t offset = [] {
        static dgProbeAllocator probe;
        dgEdgeMesh::dgEdgeTree tree(&probe);
        dgEdge edge = {};
        dgEdgeMesh::dgEdgeNode* node = tree.insert(edge, int64_t(0));
        return reinterpret_cast<char*>(&node->getPayload()) - reinterpret_cast<char*>(node);
    }();
    return offset;
}

dgEdge dgMakeEdge(int32_t vertex, int32_t faceId, uint64_t userData) {
    dgEdge edge;
    edge.m_userData = userData;
    edge.m_twin = nullptr;
    edge.m_next = nullptr;
    edge.m_prev = nullptr;
    edge.m_stamp = 0;
    edge.m_faceId = faceId;
    edge.m_vertex = vertex;
    return edge;
}

// Destination of a half-edge read from its key (valid without links).
int32_t dgKeyDestination(int64_t key, int32_t origin) {
    return int32_t((uint64_t(key) - uint64_t(int64_t(origin))) >> 32);
}

// Keys of a face must be pairwise distinct; short faces are compared
// directly, long ones sorted.
bool dgKeysDistinct(int64_t* keys, int32_t count) {
    if (count <= 48) {
        for (int32_t i = 1; i < count; ++i) {
            for (int32_t j = 0; j < i; ++j) {
                if (keys[i] == keys[j]) {
                    return false;
                }
            }
        }
        return true;
    }
    std::sort(keys, keys + count);
    for (int32_t i = 1; i < count; ++i) {
        if (keys[i] == keys[i - 1]) {
            return false;
        }
    }
    return true;
}

}  // namespace

dgEdgeMesh::dgEdgeNode* dgEdgeMesh::dgEdgeMeshNodeOf(dgEdge* edge) {
    return reinterpret_cast<dgEdgeNode*>(reinterpret_cast<char*>(edge) - dgEdgePayloadOffset());
}

const dgEdgeMesh::dgEdgeNode* dgEdgeMesh::dgEdgeMeshNodeOf(const dgEdge* edge) {
    return reinterpret_cast<const dgEdgeNode*>(reinterpret_cast<const char*>(edge) - dgEdgePayloadOffset());
}

dgAllocator* dgEdgeMesh::dgEdgeMeshSharedNodePool() {
    static dgAllocator* pool = dgCreatePoolAllocator(uint32_t(sizeof(dgEdgeNode)), 16);
    return pool;
}

dgEdgeMesh::dgEdgeMesh()
    : m_edges(dgEdgeMeshSharedNodePool()), m_stampFloor(0), m_stamp(0), m_faceCounter(0) {}

dgEdgeMesh::dgEdgeMesh(const dgEdgeMesh& source)
    : m_edges(dgEdgeMeshSharedNodePool()), m_stampFloor(0), m_stamp(0), m_faceCounter(0) {
    // Work arrays grow with the longest loop met, so no loop is ever cut short.
    int32_t capacity = 256;
    dgBlockHolder indexBlock(size_t(capacity) * sizeof(int32_t));
    dgBlockHolder dataBlock(size_t(capacity) * sizeof(uint64_t));

    dgEdgeMeshBeginFace();
    for (const dgEdgeNode* node = source.getFirst(); node; node = node->getNext()) {
        const dgEdge* first = &node->getPayload();
        if (first->m_faceId < 0 || m_edges.find(node->getKey())) {
            continue;
        }

        int32_t count = 0;
        const dgEdge* edge = first;
        do {
            if (count == capacity) {
                const int32_t grown = capacity * 2;
                dgBlockHolder moreIndices(size_t(grown) * sizeof(int32_t));
                dgBlockHolder moreData(size_t(grown) * sizeof(uint64_t));
                if (!moreIndices.get() || !moreData.get()) {
                    break;
                }
                memcpy(moreIndices.get(), indexBlock.get(), size_t(count) * sizeof(int32_t));
                memcpy(moreData.get(), dataBlock.get(), size_t(count) * sizeof(uint64_t));
                indexBlock = std::move(moreIndices);
                dataBlock = std::move(moreData);
                capacity = grown;
            }
            static_cast<int32_t*>(indexBlock.get())[count] = edge->m_vertex;
            static_cast<uint64_t*>(dataBlock.get())[count] = edge->m_userData;
            ++count;
            edge = edge->m_next;
        } while (edge && edge != first);
        // An unfinished walk (open links, no memory) adds nothing rather than a
        // truncated face.
        if (edge != first) {
            continue;
        }
        addFaceChecked(count, static_cast<const int32_t*>(indexBlock.get()),
                       static_cast<const uint64_t*>(dataBlock.get()), INT32_MAX);
    }
    dgEdgeMeshEndFace();
}

dgEdgeMesh::~dgEdgeMesh() {
    m_edges.removeAll();
}

bool dgEdgeMesh::setNodeAllocator(dgAllocator* allocator) {
    if (m_edges.getCount() != 0) {
        return false;
    }
    m_edges = dgEdgeTree(allocator ? allocator : dgEdgeMeshSharedNodePool());
    return true;
}

void dgEdgeMesh::dgEdgeMeshClear() {
    m_edges.removeAll();
    m_stampFloor = 0;
    m_stamp = 0;
    m_faceCounter = 0;
}

void dgEdgeMesh::dgEdgeMeshBeginFace() {}

void dgEdgeMesh::dgEdgeMeshEndFace() {
    dgEdgeMeshLinkTwins();
    dgEdgeMeshCloseOpenEdges();
}

dgEdge* dgEdgeMesh::insertEdge(const dgEdge& edge, int64_t key) {
    dgEdgeNode* node = m_edges.insert(edge, key);
    return node ? &node->getPayload() : nullptr;
}

void dgEdgeMesh::removeEdge(dgEdge* edge) {
    m_edges.remove(dgEdgeMeshNodeOf(edge));
}

dgEdge* dgEdgeMesh::dgEdgeMeshAddFace(int32_t count, const int32_t* indices) {
    return addFaceChecked(count, indices, nullptr, kMaxFaceIndices);
}

dgEdge* dgEdgeMesh::dgEdgeMeshAddTriangle(int32_t a, int32_t b, int32_t c) {
    const int32_t indices[3] = {a, b, c};
    return addFaceChecked(3, indices, nullptr, kMaxFaceIndices);
}

dgEdge* dgEdgeMesh::dgEdgeMeshAddFaceWithData(int32_t count, const int32_t* indices,
                                              const uint64_t* userData) {
    return addFaceChecked(count, indices, userData, kMaxFaceIndices);
}

dgEdge* dgEdgeMesh::addFaceChecked(int32_t count, const int32_t* indices, const uint64_t* userData,
                                   int32_t maxCount) {
    // Fewer than three corners has no face, and the validation below would
    // wrap around an empty list.
    if (!indices || count < 3 || count > maxCount || count > INT32_MAX / 2) {
        return nullptr;
    }

    int64_t localKeys[2 * 64];
    dgScratchArray<int64_t> bigKeys(count > 64 ? 2 * count : 0);
    int64_t* keys = localKeys;
    if (count > 64) {
        if (!bigKeys.getData()) {
            return nullptr;
        }
        keys = bigKeys.getData();
    }

    // Validation before anything is inserted, so a refused face changes nothing.
    int32_t prev = indices[count - 1];
    for (int32_t k = 0; k < count; ++k) {
        const int32_t cur = indices[k];
        if (prev == cur || !isVertexIndex(cur)) {
            return nullptr;
        }
        const int64_t forward = dgEdgeMeshKey(prev, cur);
        if (m_edges.find(forward)) {
            return nullptr;
        }
        keys[2 * k] = forward;
        keys[2 * k + 1] = dgEdgeMeshKey(cur, prev);
        prev = cur;
    }
    // A pair of indices following each other twice, in either order, would
    // need one key twice.
    if (!dgKeysDistinct(keys, 2 * count)) {
        return nullptr;
    }

    const int32_t faceId = m_faceCounter + 1;
    const int32_t last = count - 1;
    dgEdge* first = insertEdge(dgMakeEdge(indices[last], faceId, userData ? userData[last] : 0),
                               dgEdgeMeshKey(indices[last], indices[0]));
    if (!first) {
        return nullptr;
    }
    dgEdge* previous = first;
    for (int32_t k = 1; k < count; ++k) {
        dgEdge* edge = insertEdge(dgMakeEdge(indices[k - 1], faceId, userData ? userData[k - 1] : 0),
                                  dgEdgeMeshKey(indices[k - 1], indices[k]));
        if (!edge) {
            // Out of memory half way: take the partial face back out.
            for (dgEdge* undo = previous; undo;) {
                dgEdge* before = undo->m_prev;
                removeEdge(undo);
                undo = before;
            }
            return nullptr;
        }
        previous->m_next = edge;
        edge->m_prev = previous;
        previous = edge;
    }
    previous->m_next = first;
    first->m_prev = previous;
    m_faceCounter = faceId;
    return first->m_next;
}

dgEdge* dgEdgeMesh::dgEdgeMeshFindEdge(int32_t a, int32_t b) const {
    dgEdgeNode* node = m_edges.find(dgEdgeMeshKey(a, b));
    return node ? &node->getPayload() : nullptr;
}

dgEdge* dgEdgeMesh::dgEdgeMeshFindVertexEdge(int32_t v) const {
    // Half-edges arriving at v hold the keys from dgEdgeMeshKey(INT32_MIN, v)
    // to dgEdgeMeshKey(INT32_MAX, v), contiguous in key order.
    const int64_t low = dgEdgeMeshKey(INT32_MIN, v);
    const int64_t high = dgEdgeMeshKey(INT32_MAX, v);
    dgEdgeNode* found = nullptr;
    for (dgEdgeNode* node = m_edges.getRoot(); node;) {
        if (node->getKey() < low) {
            node = node->getRight();
        } else {
            found = node;
            node = node->getLeft();
        }
    }
    // Until the mesh is closed an arriving half-edge may lack its twin; its
    // next then also leaves v.
    for (dgEdgeNode* node = found; node && node->getKey() <= high; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_twin) {
            return edge->m_twin->m_vertex == v ? edge->m_twin : nullptr;
        }
        if (edge->m_next && edge->m_next->m_vertex == v) {
            return edge->m_next;
        }
    }
    return nullptr;
}

dgEdge* dgEdgeMesh::dgEdgeMeshAddHalfEdge(int32_t a, int32_t b) {
    if (!isVertexIndex(a) || !isVertexIndex(b)) {
        return nullptr;
    }
    return insertEdge(dgMakeEdge(a, -1, 0), dgEdgeMeshKey(a, b));
}

bool dgEdgeMesh::dgEdgeMeshLinkTwins() {
    bool closed = true;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_twin) {
            continue;
        }
        const int32_t destination =
            edge->m_next ? edge->m_next->m_vertex : dgKeyDestination(node->getKey(), edge->m_vertex);
        dgEdgeNode* opposite = m_edges.find(dgEdgeMeshKey(destination, edge->m_vertex));
        if (opposite && !opposite->getPayload().m_twin) {
            edge->m_twin = &opposite->getPayload();
            opposite->getPayload().m_twin = edge;
        } else {
            closed = false;
        }
    }
    return closed;
}

void dgEdgeMesh::dgEdgeMeshCloseOpenEdges() {
    const int32_t edgeCount = m_edges.getCount();
    if (edgeCount == 0) {
        return;
    }
    // At most one new half-edge per existing one.
    dgScratchArray<dgEdge*> made(edgeCount);
    if (!made.getData()) {
        return;
    }
    int32_t madeCount = 0;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_twin) {
            continue;
        }
        const int32_t a = edge->m_vertex;
        const int32_t b = edge->m_next ? edge->m_next->m_vertex : dgKeyDestination(node->getKey(), a);
        dgEdge* twin = insertEdge(dgMakeEdge(b, -1, 0), dgEdgeMeshKey(b, a));
        if (!twin) {
            continue;
        }
        twin->m_twin = edge;
        edge->m_twin = twin;
        // At most one per half-edge there was.
        DG_ASSERT(madeCount < made.getCount());
        if (madeCount < made.getCount()) {
            made[madeCount++] = twin;
        }
    }

    // Each new half-edge h (b->a) follows the -1 half-edge arriving at b that
    // is met by rotating about b from h's twin through the faces. No half-edge
    // leads back to h's twin yet (that would be h), so with next and twin
    // one-to-one the rotation ends within the edge count.
    const int32_t guard = m_edges.getCount();
    for (int32_t i = 0; i < madeCount; ++i) {
        dgEdge* h = made[i];
        dgEdge* t = h->m_twin;
        dgEdge* x = t->m_next;
        int32_t steps = 0;
        while (x && x->m_twin && steps < guard) {
            t = x->m_twin;
            x = t->m_next;
            ++steps;
        }
        DG_ASSERT(steps < guard);
        if (x) {
            continue;
        }
        t->m_next = h;
        h->m_prev = t;
    }
}

void dgEdgeMesh::dgEdgeMeshDeleteEdge(dgEdge* edge) {
    DG_ASSERT(edge);
    dgEdge* twin = edge->m_twin;
    if (twin) {
        dgEdge* ep = edge->m_prev;
        dgEdge* en = edge->m_next;
        dgEdge* tp = twin->m_prev;
        dgEdge* tn = twin->m_next;
        if (ep) {
            ep->m_next = tn;
        }
        if (tn) {
            tn->m_prev = ep;
        }
        if (en) {
            en->m_prev = tp;
        }
        if (tp) {
            tp->m_next = en;
        }
        removeEdge(twin);
    } else {
        if (edge->m_prev) {
            edge->m_prev->m_next = edge->m_next;
        }
        if (edge->m_next) {
            edge->m_next->m_prev = edge->m_prev;
        }
    }
    removeEdge(edge);
}

void dgEdgeMesh::dgEdgeMeshDeleteEdge(int32_t a, int32_t b) {
    if (dgEdge* edge = dgEdgeMeshFindEdge(a, b)) {
        dgEdgeMeshDeleteEdge(edge);
    }
}

void dgEdgeMesh::dgEdgeMeshDeleteFace(dgEdge* edge) {
    DG_ASSERT(edge);
    if (edge->m_faceId < 0) {
        return;
    }
    dgScratchArray<dgEdgeNode*> collected(m_edges.getCount());
    if (!collected.getData()) {
        return;
    }
    int32_t count = 0;
    dgEdge* ptr = edge;
    do {
        ptr->m_faceId = -1;
        if (ptr->m_twin && ptr->m_twin->m_faceId < 0) {
            // A loop holds each half-edge once.
            DG_ASSERT(count < collected.getCount());
            if (count < collected.getCount()) {
                dgEdgeNode* node = dgEdgeMeshNodeOf(ptr);
                node->addRef();
                collected[count++] = node;
            }
        }
        ptr = ptr->m_next;
    } while (ptr && ptr != edge);

    for (int32_t i = 0; i < count; ++i) {
        dgEdgeNode* node = collected[i];
        if (node->isInTree()) {
            dgEdgeMeshDeleteEdge(&node->getPayload());
        }
        node->release();
    }
}

dgEdge* dgEdgeMesh::dgEdgeMeshSplitEdge(int32_t m, dgEdge* edge) {
    DG_ASSERT(edge);
    dgEdge* twin = edge->m_twin;
    if (!twin || !edge->m_next || !edge->m_prev || !twin->m_next || !twin->m_prev) {
        return nullptr;
    }
    const int32_t a = edge->m_vertex;
    const int32_t b = twin->m_vertex;
    if (m == a || m == b || !isVertexIndex(m)) {
        return nullptr;
    }
    if (m_edges.find(dgEdgeMeshKey(a, m)) || m_edges.find(dgEdgeMeshKey(m, b)) ||
        m_edges.find(dgEdgeMeshKey(m, a)) || m_edges.find(dgEdgeMeshKey(b, m))) {
        return nullptr;
    }

    // Everything the relinking needs is read while the old pair still exists;
    // its nodes go back to the pool only at the end.
    dgEdge* ep = edge->m_prev;
    dgEdge* en = edge->m_next;
    dgEdge* tp = twin->m_prev;
    dgEdge* tn = twin->m_next;
    const int32_t edgeFace = edge->m_faceId;
    const int32_t twinFace = twin->m_faceId;

    dgEdge* am = insertEdge(dgMakeEdge(a, edgeFace, 0), dgEdgeMeshKey(a, m));
    dgEdge* mb = am ? insertEdge(dgMakeEdge(m, edgeFace, 0), dgEdgeMeshKey(m, b)) : nullptr;
    dgEdge* ma = mb ? insertEdge(dgMakeEdge(m, twinFace, 0), dgEdgeMeshKey(m, a)) : nullptr;
    dgEdge* bm = ma ? insertEdge(dgMakeEdge(b, twinFace, 0), dgEdgeMeshKey(b, m)) : nullptr;
    if (!bm) {
        if (ma) {
            removeEdge(ma);
        }
        if (mb) {
            removeEdge(mb);
        }
        if (am) {
            removeEdge(am);
        }
        return nullptr;
    }

    am->m_twin = ma;
    ma->m_twin = am;
    mb->m_twin = bm;
    bm->m_twin = mb;
    am->m_next = mb;
    mb->m_prev = am;
    bm->m_next = ma;
    ma->m_prev = bm;

    // A dangling edge (a loop running a->b->a) has the pair as its own
    // neighbours; the new half-edges then take the old ones' places.
    dgEdge* beforeAm = (ep == twin) ? ma : ep;
    dgEdge* afterMb = (en == twin) ? bm : en;
    dgEdge* beforeBm = (tp == edge) ? mb : tp;
    dgEdge* afterMa = (tn == edge) ? am : tn;
    am->m_prev = beforeAm;
    beforeAm->m_next = am;
    mb->m_next = afterMb;
    afterMb->m_prev = mb;
    bm->m_prev = beforeBm;
    beforeBm->m_next = bm;
    ma->m_next = afterMa;
    afterMa->m_prev = ma;

    removeEdge(edge);
    removeEdge(twin);
    return bm;
}

dgEdge* dgEdgeMesh::dgEdgeMeshInsertVertex(int32_t m, dgEdge* edge) {
    dgEdge* result = dgEdgeMeshSplitEdge(m, edge);
    if (!result) {
        return nullptr;
    }

    dgEdge* start = result->m_twin;  // m->b: the half-edge before the old edge's next
    dgEdge* x = start;
    // Each cut adds one half-edge to the rotation; the count bounds the walk.
    int32_t guard = 2 * m_edges.getCount() + 8;
    do {
        dgEdge* y = x->m_twin;
        if (y->m_faceId > 0 && y->m_next->m_next->m_next != y) {
            dgEdge* yp = y->m_prev;
            dgEdge* ypp = yp->m_prev;
            dgEdge* yn = y->m_next;
            const int32_t p = yp->m_vertex;
            if (p != m && !m_edges.find(dgEdgeMeshKey(m, p)) && !m_edges.find(dgEdgeMeshKey(p, m))) {
                dgEdge* mp = insertEdge(dgMakeEdge(m, -1, 0), dgEdgeMeshKey(m, p));
                dgEdge* pm = mp ? insertEdge(dgMakeEdge(p, -1, 0), dgEdgeMeshKey(p, m)) : nullptr;
                if (!pm) {
                    if (mp) {
                        removeEdge(mp);
                    }
                } else {
                    mp->m_twin = pm;
                    pm->m_twin = mp;
                    // Triangle (yp, y, mp) is cut off; pm takes its place.
                    y->m_next = mp;
                    mp->m_prev = y;
                    mp->m_next = yp;
                    yp->m_prev = mp;
                    ypp->m_next = pm;
                    pm->m_prev = ypp;
                    pm->m_next = yn;
                    yn->m_prev = pm;
                    pm->m_faceId = y->m_faceId;
                    // The cut-off triangle is a new face and needs its own id.
                    const int32_t faceId = newFaceId();
                    mp->m_faceId = faceId;
                    yp->m_faceId = faceId;
                    y->m_faceId = faceId;
                }
            }
        }
        x = x->m_twin->m_next;
    } while (x != start && --guard > 0);
    DG_ASSERT(x == start);
    return result;
}

int32_t dgEdgeMesh::dgEdgeMeshSetVertexIndex(dgEdge* edge, int32_t index) {
    DG_ASSERT(edge);
    const int32_t old = edge->m_vertex;
    if (old == index || !isVertexIndex(index)) {
        return old;
    }
    // Check every new key first: the tree's key replacement would destroy a
    // node whose new key is taken, leaving dangling links behind.
    dgEdge* x = edge;
    do {
        if (!x->m_twin || !x->m_twin->m_next) {
            return old;
        }
        const int32_t d = x->m_twin->m_vertex;
        if (d == index) {
            return old;
        }
        if (m_edges.find(dgEdgeMeshKey(index, d)) || m_edges.find(dgEdgeMeshKey(d, index))) {
            return old;
        }
        x = x->m_twin->m_next;
    } while (x != edge);

    x = edge;
    do {
        dgEdge* twin = x->m_twin;
        const int32_t d = twin->m_vertex;
        m_edges.replaceKey(dgEdgeMeshNodeOf(x), dgEdgeMeshKey(index, d));
        m_edges.replaceKey(dgEdgeMeshNodeOf(twin), dgEdgeMeshKey(d, index));
        x->m_vertex = index;
        x = twin->m_next;
    } while (x != edge);
    return index;
}

bool dgEdgeMesh::dgEdgeMeshFlipEdge(dgEdge* edge) {
    DG_ASSERT(edge);
    dgEdge* twin = edge->m_twin;
    if (!twin || !edge->m_next || !twin->m_next) {
        return false;
    }
    if (edge->m_next->m_next->m_next != edge || twin->m_next->m_next->m_next != twin) {
        return false;
    }
    // Flipping into a hole would leave a pair with holes on both sides.
    if (edge->m_faceId < 0 || twin->m_faceId < 0) {
        return false;
    }

    dgEdge* bc = edge->m_next;
    dgEdge* ca = edge->m_prev;
    dgEdge* ad = twin->m_next;
    dgEdge* db = twin->m_prev;
    const int32_t c = ca->m_vertex;
    const int32_t d = db->m_vertex;
    if (c == d || m_edges.find(dgEdgeMeshKey(c, d)) || m_edges.find(dgEdgeMeshKey(d, c))) {
        return false;
    }

    const int32_t edgeFace = edge->m_faceId;
    const int32_t twinFace = twin->m_faceId;
    const uint64_t dCorner = db->m_userData;
    const uint64_t cCorner = ca->m_userData;

    m_edges.replaceKey(dgEdgeMeshNodeOf(edge), dgEdgeMeshKey(d, c));
    m_edges.replaceKey(dgEdgeMeshNodeOf(twin), dgEdgeMeshKey(c, d));
    edge->m_vertex = d;
    edge->m_userData = dCorner;
    twin->m_vertex = c;
    twin->m_userData = cCorner;

    // (c, a, d): ca, ad, edge (d->c).
    ca->m_next = ad;
    ad->m_prev = ca;
    ad->m_next = edge;
    edge->m_prev = ad;
    edge->m_next = ca;
    ca->m_prev = edge;
    ca->m_faceId = edgeFace;
    ad->m_faceId = edgeFace;
    // (d, b, c): db, bc, twin (c->d).
    db->m_next = bc;
    bc->m_prev = db;
    bc->m_next = twin;
    twin->m_prev = bc;
    twin->m_next = db;
    db->m_prev = twin;
    db->m_faceId = twinFace;
    bc->m_faceId = twinFace;
    return true;
}

int32_t dgEdgeMesh::dgEdgeMeshVertexCount() const {
    if (!m_edges.getCount()) {
        return 0;
    }
    int32_t largest = INT32_MIN;
    for (const dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        largest = std::max(largest, node->getPayload().m_vertex);
    }
    // Every way in refuses larger indices.
    DG_ASSERT(largest <= kMaxVertexIndex);
    return largest <= kMaxVertexIndex ? largest + 1 : INT32_MAX;
}

int32_t dgEdgeMesh::dgEdgeMeshFaceCount() {
    const uint32_t stamp = newStamp();
    int32_t count = 0;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp) {
            continue;
        }
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr && ptr != edge);
        if (edge->m_faceId >= 0) {
            ++count;
        }
    }
    return count;
}

int32_t dgEdgeMesh::dgEdgeMeshOpenLoopCount() {
    const uint32_t stamp = newStamp();
    int32_t count = 0;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp) {
            continue;
        }
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr && ptr != edge);
        if (edge->m_faceId <= 0) {
            ++count;
        }
    }
    return count;
}

int32_t dgEdgeMesh::dgEdgeMeshPackVertices(float* outVertices, const float* inVertices, int32_t strideBytes) {
    const int32_t edgeCount = m_edges.getCount();
    if (!edgeCount) {
        return 0;
    }
    DG_ASSERT(outVertices && inVertices && (strideBytes >= int32_t(sizeof(float))));
    if (!outVertices || !inVertices || (strideBytes < int32_t(sizeof(float)))) {
        return 0;
    }
    // Re-keying needs every twin; an open mesh is left alone.
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        const dgEdge& edge = node->getPayload();
        if (!edge.m_twin || !edge.m_twin->m_next) {
            return 0;
        }
    }

    // A vertex may have several fans (faces meeting only at it), so the new
    // numbers come from the indices, not from walks round the fans: sorted by
    // index and then by key order, each run of one index starts with that
    // vertex's first appearance.
    struct dgVertexUse {
        int32_t m_vertex;
        int32_t m_order;
    };
    dgScratchArray<dgEdgeNode*> nodes(edgeCount);
    dgScratchArray<dgVertexUse> uses(edgeCount);
    dgScratchArray<int32_t> firstUse(edgeCount);
    if (!nodes.getData() || !uses.getData() || !firstUse.getData()) {
        return 0;
    }
    int32_t listed = 0;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        DG_ASSERT(listed < edgeCount);
        node->addRef();
        nodes[listed] = node;
        uses[listed] = dgVertexUse{node->getPayload().m_vertex, listed};
        firstUse[listed] = -1;
        ++listed;
    }
    dgVertexUse* const usesEnd = uses.getData() + listed;
    std::sort(uses.getData(), usesEnd, [](const dgVertexUse& a, const dgVertexUse& b) {
        return (a.m_vertex < b.m_vertex) || ((a.m_vertex == b.m_vertex) && (a.m_order < b.m_order));
    });
    int32_t distinct = 0;
    for (int32_t i = 0; i < listed; ++i) {
        if (!distinct || (uses[i].m_vertex != uses[distinct - 1].m_vertex)) {
            uses[distinct++] = uses[i];
        }
    }
    for (int32_t k = 0; k < distinct; ++k) {
        firstUse[uses[k].m_order] = k;
    }

    // One record per vertex, in order of first appearance; m_order takes the
    // new index.
    const size_t strideFloats = size_t(strideBytes) / sizeof(float);
    int32_t vertexCount = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t k = firstUse[i];
        if (k < 0) {
            continue;
        }
        memcpy(outVertices + size_t(vertexCount) * strideFloats,
               inVertices + size_t(uses[k].m_vertex) * strideFloats, strideFloats * sizeof(float));
        uses[k].m_order = vertexCount++;
    }
    DG_ASSERT(vertexCount == distinct);
    for (int32_t i = 0; i < listed; ++i) {
        dgEdge* edge = &nodes[i]->getPayload();
        const dgVertexUse* use =
            std::lower_bound(uses.getData(), uses.getData() + distinct, edge->m_vertex,
                             [](const dgVertexUse& a, int32_t vertex) { return a.m_vertex < vertex; });
        DG_ASSERT(use->m_vertex == edge->m_vertex);
        edge->m_vertex = use->m_order;
    }

    // Every half-edge is re-filed under its new key; the extra references keep
    // the nodes alive while the tree lets go of them.
    m_edges.removeAll();
    for (int32_t i = 0; i < listed; ++i) {
        dgEdgeNode* node = nodes[i];
        dgEdge* edge = &node->getPayload();
        node->setLiveFlag();
        m_edges.insertNode(node, dgEdgeMeshKey(edge->m_vertex, edge->m_twin->m_vertex));
        node->release();
    }
    return vertexCount;
}

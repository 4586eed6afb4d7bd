// Half-edge mesh geometry: face area vectors and ear-cutting triangulation.
#include <cmath>
#include <new>
#include <utility>

#include "dgAssert.h"
#include "dgEdgeMesh.h"

namespace {

dgVector dgEarPoint(const float* vertices, int32_t strideInFloats, int32_t index) {
    const float* p = vertices + size_t(index) * size_t(strideInFloats);
    return dgVector(p[0], p[1], p[2], 0.0f);
}

dgVector dgEarUnit(const dgVector& v) {
    float length = std::sqrt(v.dot(v));
    if (length < 1.0e-10f) {
        length = 1.0e-10f;
    }
    return v.scale(1.0f / length);
}

// The diagonal of an ear tipped at h must not exist in either direction:
// adding one half of it and failing on the other would strand a lone
// half-edge in the mesh.
bool dgEarDiagonalFree(const dgEdgeMesh& mesh, const dgEdge* h) {
    const int32_t a = h->m_prev->m_vertex;
    const int32_t c = h->m_next->m_vertex;
    return !mesh.dgEdgeMeshFindEdge(a, c) && !mesh.dgEdgeMeshFindEdge(c, a);
}

}  // namespace

dgVector64 dgEdgeMesh::dgEdgeMeshFaceNormal64(const dgEdge* edge, const float* vertices,
                                              int32_t strideInFloats) const {
    DG_ASSERT(edge && edge->m_next && vertices);
    const size_t stride = size_t(strideInFloats);
    const float* p0f = vertices + size_t(edge->m_vertex) * stride;
    const double x0 = p0f[0];
    const double y0 = p0f[1];
    const double z0 = p0f[2];
    const float* p1f = vertices + size_t(edge->m_next->m_vertex) * stride;
    dgVector64 e1(double(p1f[0]) - x0, double(p1f[1]) - y0, double(p1f[2]) - z0, 0.0);
    dgVector64 normal(0.0, 0.0, 0.0, 0.0);
    for (const dgEdge* h = edge->m_next->m_next; h && h != edge; h = h->m_next) {
        const float* p = vertices + size_t(h->m_vertex) * stride;
        const dgVector64 e2(double(p[0]) - x0, double(p[1]) - y0, double(p[2]) - z0, 0.0);
        normal += e1.cross(e2);
        e1 = e2;
    }
    normal.w = 0.0;
    return normal;
}

dgVector dgEdgeMesh::dgEdgeMeshFaceNormal(const dgEdge* edge, const float* vertices,
                                          int32_t strideInBytes) const {
    const dgVector64 n = dgEdgeMeshFaceNormal64(edge, vertices, strideInBytes / 4);
    return dgVector(float(n.x), float(n.y), float(n.z), 0.0f);
}

void dgEdgeMesh::dgEdgeMeshTriangulate(const float* vertices, int32_t strideInBytes,
                                       dgEdgeMesh* leftoverMesh) {
    const int32_t strideInFloats = strideInBytes / 4;
    const uint32_t stamp = newStamp();

    // One entry per pair of half-edges plus slack; grown when a single loop
    // is longer than that (a mesh that is not closed).
    int32_t capacity = m_edges.getCount() / 2 + 512;
    dgBlockHolder storage(dgEarHeap::bytesFor(capacity));
    if (!storage.get()) {
        return;
    }
    dgEarHeap heap(storage.get(), dgEarHeap::bytesFor(capacity));
    // The leftover copy reuses the heap's storage for a loop's corners.
    static_assert(sizeof(dgEarHeap::Entry) >= sizeof(uint64_t) + sizeof(int32_t),
                  "an ear heap entry holds one corner of a leftover loop");

    dgEdgeNode* node = m_edges.getFirst();
    while (node) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp || edge->m_faceId < 0) {
            node = node->getNext();
            continue;
        }
        int32_t count = 0;
        bool closedLoop = false;
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            ++count;
            ptr = ptr->m_next;
            if (ptr == edge) {
                closedLoop = true;
            }
        } while (ptr && ptr != edge);
        if (!closedLoop || count <= 3) {
            node = node->getNext();
            continue;
        }

        if (count > capacity) {
            const int32_t grown = count + 512;
            dgBlockHolder bigger(dgEarHeap::bytesFor(grown));
            if (!bigger.get()) {
                node = node->getNext();
                continue;
            }
            storage = std::move(bigger);
            capacity = grown;
            heap.~dgEarHeap();
            new (&heap) dgEarHeap(storage.get(), dgEarHeap::bytesFor(capacity));
        }

        dgEdge* rest = dgEdgeMeshTriangulateFace(edge, *this, vertices, strideInFloats, heap);
        heap.clear();
        if (!rest) {
            node = node->getNext();
            continue;
        }

        if (leftoverMesh) {
            uint64_t* corners = static_cast<uint64_t*>(storage.get());
            int32_t* indices = reinterpret_cast<int32_t*>(corners + capacity);
            int32_t n = 0;
            dgEdge* x = rest;
            do {
                indices[n] = x->m_vertex;
                corners[n] = x->m_userData;
                ++n;
                x = x->m_next;
            } while (x != rest && n < capacity);
            // What is left of a loop is shorter than the loop, which fits.
            DG_ASSERT(x == rest);
            leftoverMesh->addFaceChecked(n, indices, corners, INT32_MAX);
        }
        dgEdgeMeshDeleteFace(rest);
        // The deletion may have removed the node the walk stood on; loops
        // already handled carry the stamp and are skipped.
        node = m_edges.getFirst();
    }
}

dgEdge* dgEdgeMesh::dgEdgeMeshTriangulateFace(dgEdge* edge, dgEdgeMesh& mesh, const float* vertices,
                                              int32_t strideInFloats, dgEarHeap& heap) {
    DG_ASSERT(edge && edge->m_next && edge->m_prev);
    dgVector normal = mesh.dgEdgeMeshFaceNormal(edge, vertices, strideInFloats * 4);
    const float mag2 = float(double(normal.x) * double(normal.x) + double(normal.y) * double(normal.y) +
                             double(normal.z) * double(normal.z));
    if (mag2 < float(kMinFaceArea2)) {
        return edge;
    }
    normal = normal.scale(1.0f / std::sqrt(mag2));

    dgEdge* handle = edge;
    while (handle->m_next->m_next->m_next != handle) {
        dgEdge* ear = dgEdgeMeshFindEar(mesh, handle, vertices, strideInFloats, heap, normal);
        heap.clear();
        if (!ear) {
            return handle;
        }
        if (handle == ear || handle == ear->m_prev) {
            handle = ear->m_prev->m_prev;
        }
        // Both halves of the diagonal are checked before either is added.
        if (!dgEarDiagonalFree(mesh, ear)) {
            return handle;
        }

        dgEdge* ep = ear->m_prev;
        dgEdge* epp = ep->m_prev;
        dgEdge* en = ear->m_next;
        const int32_t a = ep->m_vertex;
        const int32_t c = en->m_vertex;
        dgEdge* ca = mesh.dgEdgeMeshAddHalfEdge(c, a);
        if (!ca) {
            return handle;
        }
        dgEdge* ac = mesh.dgEdgeMeshAddHalfEdge(a, c);
        if (!ac) {
            mesh.removeEdge(ca);
            return handle;
        }
        ca->m_stamp = ear->m_stamp;
        ca->m_faceId = ear->m_faceId;
        ca->m_userData = en->m_userData;
        ac->m_stamp = ear->m_stamp;
        ac->m_faceId = ear->m_faceId;
        ac->m_userData = ep->m_userData;
        ca->m_twin = ac;
        ac->m_twin = ca;

        // The ear (ep, ear, ca) closes; ac takes its place in the rest.
        ear->m_next = ca;
        ca->m_prev = ear;
        ca->m_next = ep;
        ep->m_prev = ca;
        epp->m_next = ac;
        ac->m_prev = epp;
        ac->m_next = en;
        en->m_prev = ac;
    }
    return nullptr;
}

dgEdge* dgEdgeMesh::dgEdgeMeshFindEar(dgEdgeMesh& mesh, dgEdge* edge, const float* vertices,
                                      int32_t strideInFloats, dgEarHeap& heap, const dgVector& unitNormal) {
    DG_ASSERT(edge && edge->m_next && edge->m_prev);
    heap.clear();
    dgVector d0 = dgEarUnit(dgEarPoint(vertices, strideInFloats, edge->m_vertex) -
                            dgEarPoint(vertices, strideInFloats, edge->m_prev->m_vertex));
    float smallest = 10.0f;
    dgEdge* h = edge;
    do {
        const dgVector d1 = dgEarUnit(dgEarPoint(vertices, strideInFloats, h->m_next->m_vertex) -
                                      dgEarPoint(vertices, strideInFloats, h->m_vertex));
        const float s = d0.cross(d1).dot(unitNormal);
        if (s >= 0.0f && heap.getCount() < heap.getCapacity()) {
            heap.push(h, s);
        }
        smallest = dgMin(smallest, s);
        d0 = d1;
        h = h->m_next;
    } while (h != edge);

    // Every corner turns clearly: the sharpest one is an ear unless its
    // diagonal is already taken, in which case the full search decides.
    if (smallest > 0.1f && !heap.isEmpty() && dgEarDiagonalFree(mesh, heap.getTopValue())) {
        return heap.getTopValue();
    }

    dgEdge* lastTried = nullptr;
    while (!heap.isEmpty()) {
        h = heap.getTopValue();
        heap.pop();
        lastTried = h;
        if (!dgEarDiagonalFree(mesh, h)) {
            continue;
        }
        if (h->m_next->m_next == h->m_prev) {
            return h;
        }

        const dgVector pa = dgEarPoint(vertices, strideInFloats, h->m_prev->m_vertex);
        const dgVector pb = dgEarPoint(vertices, strideInFloats, h->m_vertex);
        const dgVector pc = dgEarPoint(vertices, strideInFloats, h->m_next->m_vertex);
        const dgVector ab = pb - pa;
        const dgVector bc = pc - pb;
        const dgVector ca = pa - pc;
        bool blocked = false;
        for (const dgEdge* v = h->m_next->m_next; v != h->m_prev; v = v->m_next) {
            const dgVector pv = dgEarPoint(vertices, strideInFloats, v->m_vertex);
            if ((pv - pa).cross(ab).dot(unitNormal) < 0.05f && (pv - pb).cross(bc).dot(unitNormal) < 0.05f &&
                (pv - pc).cross(ca).dot(unitNormal) < 0.05f) {
                blocked = true;
                break;
            }
        }
        if (!blocked) {
            return h;
        }
    }
    return lastTried;
}

// Half-edge mesh repair and toolbox: stitching, small-triangle removal,
// coplanar regions, extraction, reversal, merging, vertex-cache ordering and
// the consistency check.
#include <climits>
#include <cmath>

#include "dgAssert.h"
#include "dgEdgeMesh.h"
#include "dgEdgeMeshCensus.h"
#include "dgRefList.h"

namespace {

const float* dgPointer(const float* vertices, int32_t strideInFloats, int32_t index) {
    return vertices + size_t(index) * size_t(strideInFloats);
}

dgVector64 dgPoint64(const float* vertices, int32_t strideInFloats, int32_t index) {
    const float* p = dgPointer(vertices, strideInFloats, index);
    return dgVector64(p[0], p[1], p[2], 0.0);
}

dgVector64 dgUnitOrSelf(const dgVector64& v) {
    const double mag2 = v.dot(v);
    return mag2 > 1.0e-12 ? v.scale(1.0 / std::sqrt(mag2)) : v;
}

// The sweep keys: entries come out by the smaller end coordinate (pending)
// or the larger one (active), smallest first, from max-heaps.
constexpr double kSweepKeyBase = 12500000.0;

}  // namespace

// ---------------------------------------------------------------------------
// Shared walks

bool dgEdgeMesh::isWalkable() const {
    for (const dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        const dgEdge* edge = &node->getPayload();
        if (!edge->m_twin || !edge->m_next || !edge->m_prev || edge->m_twin == edge) {
            return false;
        }
        if (edge->m_twin->m_twin != edge || edge->m_next->m_prev != edge || edge->m_prev->m_next != edge) {
            return false;
        }
    }
    return true;
}

void dgEdgeMesh::unifyLoopFaceIds() {
    const uint32_t stamp = newStamp();
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp) {
            continue;
        }
        const int32_t faceId = edge->m_faceId;
        dgEdge* ptr = edge;
        do {
            ptr->m_faceId = faceId;
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr && ptr != edge);
    }
}

void dgEdgeMesh::copyLoop(const dgEdge* face, dgEdgeMesh& destination, dgWorkStack<int32_t>& indices) {
    indices.clear();
    int32_t count = 0;
    const dgEdge* ptr = face;
    do {
        indices.push(ptr->m_vertex);
        ++count;
        ptr = ptr->m_next;
    } while (ptr != face);
    // A list cut short by a failed growth adds nothing rather than part of a face.
    if (indices.getCount() == count) {
        destination.addFaceChecked(count, &indices[0], nullptr, INT32_MAX);
    }
}

// ---------------------------------------------------------------------------
// Stitching

void dgEdgeMesh::dgEdgeMeshStitch(const float* vertices, int32_t strideInBytes, float tolerance) {
    if (!m_edges.getCount() || !isWalkable()) {
        return;
    }
    DG_ASSERT(vertices && (strideInBytes >= int32_t(3 * sizeof(float))));
    const int32_t strideInFloats = strideInBytes / 4;

    // Sweep along the axis on which the boundary vertices spread most.
    double sum[3] = {0.0, 0.0, 0.0};
    double sum2[3] = {0.0, 0.0, 0.0};
    int32_t boundaryVertices = 0;
    int32_t openEdges = 0;
    uint32_t stamp = newStamp();
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_faceId < 0) {
            ++openEdges;
        }
        if (edge->m_stamp == stamp || edge->m_faceId >= 1) {
            continue;
        }
        dgEdge* x = edge;
        do {
            x->m_stamp = stamp;
            x = x->m_twin->m_next;
        } while (x != edge);
        const float* p = dgPointer(vertices, strideInFloats, edge->m_vertex);
        for (int32_t i = 0; i < 3; ++i) {
            sum[i] += double(p[i]);
            sum2[i] += double(p[i]) * double(p[i]);
        }
        ++boundaryVertices;
    }
    double spread[3];
    for (int32_t i = 0; i < 3; ++i) {
        spread[i] = double(boundaryVertices) * sum2[i] - sum[i] * sum[i];
    }
    int32_t axis = 0;
    if (spread[1] > spread[0] && spread[1] > spread[2]) {
        axis = 1;
    }
    if (spread[2] > spread[0] && spread[2] > spread[1]) {
        axis = 2;
    }

    double tol = std::fabs(double(tolerance));
    if (tol < 0.0001) {
        tol = 0.0001;
    }
    const double tol2 = tol * tol;
    // Entries further behind than this can no longer match; never less than
    // the tolerance itself, which may exceed the usual half unit.
    const double window = tol > 0.25 ? 2.0 * tol : 0.5;

    auto coordinate = [&](int32_t vertex) {
        return double(dgPointer(vertices, strideInFloats, vertex)[axis]);
    };
    auto lowEnd = [&](const dgEdge* e) {
        const double a = coordinate(e->m_vertex);
        const double b = coordinate(e->m_twin->m_vertex);
        return a < b ? a : b;
    };
    auto highEnd = [&](const dgEdge* e) {
        const double a = coordinate(e->m_vertex);
        const double b = coordinate(e->m_twin->m_vertex);
        return a > b ? a : b;
    };
    auto distance2 = [&](int32_t u, int32_t v) {
        const dgVector64 d = dgPoint64(vertices, strideInFloats, u) - dgPoint64(vertices, strideInFloats, v);
        return d.dot(d);
    };

    // Every open half-edge enters each heap at most once, so both are sized
    // by their count.
    typedef dgMaxHeap<dgEdgeNode*, double> dgSweepHeap;
    const int32_t capacity = (openEdges > boundaryVertices ? openEdges : boundaryVertices) + 1024;
    dgSweepHeap pending(capacity);
    dgSweepHeap active(capacity);
    if (pending.getCapacity() < capacity || active.getCapacity() < capacity) {
        return;
    }

    stamp = newStamp();
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp || edge->m_faceId >= 1) {
            continue;
        }
        dgEdge* x = edge;
        do {
            if (x->m_faceId < 0) {
                dgEdgeNode* xNode = dgEdgeMeshNodeOf(x);
                xNode->addRef();
                pending.push(xNode, kSweepKeyBase - lowEnd(x));
            }
            x->m_stamp = stamp;
            x = x->m_twin->m_next;
        } while (x != edge);
    }

    while (!pending.isEmpty()) {
        dgEdgeNode* node = pending.getTopValue();
        if (node->isLive()) {
            dgEdge* e = &node->getPayload();
            const double low = lowEnd(e);
            while (!active.isEmpty()) {
                dgEdgeNode* top = active.getTopValue();
                if (top->isLive() && kSweepKeyBase - active.getTopKey() >= low - window) {
                    break;
                }
                active.pop();
                top->release();
            }

            const int32_t eo = e->m_vertex;
            const int32_t ed = e->m_twin->m_vertex;
            // A zip of a slit can leave an open edge whose ends carry one
            // index (a loop of its own); it takes no part in further zips
            // and goes with the re-keying below.
            const bool degenerate = eo == ed;
            dgEdge* f = nullptr;
            for (int32_t i = 0; i < active.getCount() && !degenerate; ++i) {
                dgEdgeNode* candidate = active[i].value;
                if (!candidate->isLive()) {
                    continue;
                }
                dgEdge* g = &candidate->getPayload();
                const int32_t go = g->m_vertex;
                const int32_t gd = g->m_twin->m_vertex;
                // Sharing an index the wrong way round would fold e onto
                // itself (it is then shorter than the tolerance).
                if (g == e->m_twin || go == gd || gd == ed || go == eo) {
                    continue;
                }
                if (distance2(eo, gd) <= tol2 && distance2(ed, go) <= tol2) {
                    f = g;
                    break;
                }
            }

            if (f) {
                const int32_t fo = f->m_vertex;
                const int32_t fd = f->m_twin->m_vertex;
                if (fd != eo) {
                    dgEdge* x = f->m_twin;
                    do {
                        x->m_vertex = eo;
                        x = x->m_twin->m_next;
                    } while (x != f->m_twin);
                }
                if (fo != ed) {
                    dgEdge* x = f;
                    do {
                        x->m_vertex = ed;
                        x = x->m_twin->m_next;
                    } while (x != f);
                }
                dgEdge* ep = e->m_prev;
                dgEdge* en = e->m_next;
                dgEdge* fp = f->m_prev;
                dgEdge* fn = f->m_next;
                ep->m_next = fn;
                fn->m_prev = ep;
                en->m_prev = fp;
                fp->m_next = en;
                e->m_twin->m_twin = f->m_twin;
                f->m_twin->m_twin = e->m_twin;
                // Both nodes are held by the heaps and leave the tree only.
                removeEdge(e);
                removeEdge(f);
            } else if (!degenerate) {
                node->addRef();
                active.push(node, kSweepKeyBase - highEnd(e));
            }
        }
        pending.pop();
        node->release();
    }
    while (!active.isEmpty()) {
        dgEdgeNode* top = active.getTopValue();
        active.pop();
        top->release();
    }

    // Re-keying. Every renamed half-edge leaves the tree first and returns
    // under its new key, so a stale key never stands in the way of another
    // half-edge; a key that is really taken twice is a duplicate edge, whose
    // older pair is deleted.
    dgScratchArray<dgEdgeNode*> scratch(m_edges.getCount() + 100);
    dgWorkStack<dgEdgeNode*> listed(scratch.getData(), scratch.getCount());
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        if (node->getKey() != dgEdgeMeshKeyOf(&node->getPayload()) && listed.push(node)) {
            node->addRef();
        }
    }
    bool removedPair = false;
    if (listed.getCount()) {
        for (int32_t i = 0; i < listed.getCount(); ++i) {
            m_edges.remove(listed[i]);
        }
        const uint32_t dropped = newStamp();
        for (int32_t i = 0; i < listed.getCount(); ++i) {
            dgEdgeNode* node = listed[i];
            dgEdge* edge = &node->getPayload();
            if (edge->m_stamp == dropped) {
                continue;
            }
            const int64_t key = dgEdgeMeshKeyOf(edge);
            if (dgEdgeNode* taken = m_edges.find(key)) {
                dgEdge* z = &taken->getPayload();
                dgEdge* zt = z->m_twin;
                z->m_prev->m_next = zt->m_next;
                zt->m_next->m_prev = z->m_prev;
                z->m_next->m_prev = zt->m_prev;
                zt->m_prev->m_next = z->m_next;
                dgEdgeNode* twinNode = dgEdgeMeshNodeOf(zt);
                if (twinNode->isInTree()) {
                    m_edges.remove(twinNode);
                } else {
                    zt->m_stamp = dropped;
                }
                m_edges.remove(taken);
                removedPair = true;
                if (edge->m_stamp == dropped) {
                    continue;
                }
            }
            node->setLiveFlag();
            m_edges.insertNode(node, key);
        }
        for (int32_t i = 0; i < listed.getCount(); ++i) {
            listed[i]->release();
        }
    }

    if (removedPair) {
        unifyLoopFaceIds();
    }

    // Pairs left with holes on both sides carry nothing; nor does a face
    // whose corners were zipped together until two sides were left. With one
    // half-edge per key such a loop is a pair of twins following each other,
    // apart from the rest of the mesh, and deleting the pair removes it.
    dgWorkStack<dgEdge*> bare(nullptr, 0);
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        const bool holes = (edge->m_faceId < 0) && (edge->m_twin->m_faceId < 0);
        const bool twoSided = edge->m_next->m_next == edge;
        DG_ASSERT(!twoSided || (edge->m_next == edge->m_twin));
        if ((holes || (twoSided && (edge->m_next == edge->m_twin))) &&
            (node->getKey() < dgEdgeMeshKeyOf(edge->m_twin))) {
            bare.push(edge);
        }
    }
    for (int32_t i = 0; i < bare.getCount(); ++i) {
        dgEdgeMeshDeleteEdge(bare[i]);
    }
}

// ---------------------------------------------------------------------------
// Small triangles

void dgEdgeMesh::dgEdgeMeshRemoveSmallTriangles(dgEdgeMeshCensus& census, const float* vertices,
                                                int32_t strideInBytes, float tolerance) {
    struct dgVertexPair {
        int32_t m_from;
        int32_t m_to;
    };
    typedef dgMaxHeap<dgVertexPair, float> dgSmallHeap;

    if (m_edges.getCount() && isWalkable()) {
        const int32_t strideInFloats = strideInBytes / 4;
        const float tol2 = tolerance * tolerance;
        auto point = [&](int32_t index) {
            const float* p = dgPointer(vertices, strideInFloats, index);
            return dgVector(p[0], p[1], p[2], 0.0f);
        };
        auto length2 = [&](const dgEdge* e) {
            const dgVector d = point(e->m_twin->m_vertex) - point(e->m_vertex);
            return d.dot(d);
        };

        for (;;) {
            // At most one entry per half-edge, whatever the census says.
            dgSmallHeap heap(m_edges.getCount() + 16);
            if (!heap.getCapacity()) {
                break;
            }
            const uint32_t stamp = newStamp();
            for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
                dgEdge* e = &node->getPayload();
                if (e->m_stamp == stamp || e->m_faceId <= 0) {
                    continue;
                }
                e->m_stamp = stamp;
                e->m_next->m_stamp = stamp;
                e->m_prev->m_stamp = stamp;
                const dgVector a = point(e->m_vertex);
                const dgVector n = (point(e->m_next->m_vertex) - a).cross(point(e->m_prev->m_vertex) - a);
                const float n2 = n.dot(n);
                if (n2 < tol2) {
                    heap.push(dgVertexPair{e->m_vertex, e->m_twin->m_vertex}, tol2 - n2);
                }
            }
            if (heap.isEmpty()) {
                break;
            }

            while (!heap.isEmpty()) {
                const dgVertexPair pair = heap.getTopValue();
                heap.pop();
                dgEdge* h = dgEdgeMeshFindEdge(pair.m_from, pair.m_to);
                if (!h) {
                    continue;
                }
                const float l0 = length2(h);
                const float l1 = length2(h->m_next);
                const float l2 = length2(h->m_prev);
                dgEdge* s = h;
                if (l1 < l0 && l1 < l2) {
                    s = h->m_next;
                } else if (l2 < l0 && l2 < l1) {
                    s = h->m_prev;
                }
                // A refused collapse changes nothing, so the candidates can
                // be read up front.
                dgEdge* const tries[6] = {s,         s->m_twin,        s->m_next, s->m_next->m_twin,
                                          s->m_prev, s->m_prev->m_twin};
                bool collapsed = false;
                for (dgEdge* candidate : tries) {
                    if (dgEdgeMeshCollapseEdge(candidate)) {
                        collapsed = true;
                        break;
                    }
                }
                if (!collapsed) {
                    dgEdgeMeshDeleteFace(s);
                }
            }
        }
    }
    census.take(*this);
}

// ---------------------------------------------------------------------------
// Coplanar regions

void dgEdgeMesh::dgEdgeMeshGetCoplanarFaces(dgRefList<dgEdge*>& outList, dgEdge* seedEdge,
                                            const float* vertices, int32_t strideInBytes,
                                            float minimumCosine) {
    if (!m_edges.getCount() || !seedEdge || !isWalkable()) {
        return;
    }
    dgEdge* seed = seedEdge->m_faceId < 0 ? seedEdge->m_twin : seedEdge;
    const uint32_t stamp = newStamp();

    const dgVector seedArea = dgEdgeMeshFaceNormal(seed, vertices, strideInBytes);
    dgVector64 n(seedArea.x, seedArea.y, seedArea.z, 0.0);
    if (n.dot(n) < 1.0e-12) {
        dgEdge* ptr = seed;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr != seed);
        outList.append(seed);
        return;
    }
    n = n.scale(1.0 / std::sqrt(n.dot(n)));

    dgScratchArray<dgEdge*> scratch(m_edges.getCount() / 2);
    dgWorkStack<dgEdge*> stack(scratch.getData(), scratch.getCount());
    auto withinCone = [&](const dgEdge* face) {
        const dgVector area = dgEdgeMeshFaceNormal(face, vertices, strideInBytes);
        const dgVector64 m = dgUnitOrSelf(dgVector64(area.x, area.y, area.z, 0.0));
        return !(m.dot(n) < double(minimumCosine));
    };
    floodFaces(seed, stamp, stack, withinCone, [&](dgEdge* face) { outList.append(face); });
}

void dgEdgeMesh::dgEdgeMeshCoplanarRegionOutline(dgEdge* seedEdge, dgEdgeMesh& destination,
                                                 const float* vertices, int32_t strideInBytes,
                                                 dgEdge** stackBuffer, int32_t* indexBuffer,
                                                 int32_t bufferCapacity) {
    if (!m_edges.getCount() || !seedEdge || &destination == this || !isWalkable()) {
        return;
    }
    dgEdge* seed = seedEdge->m_faceId < 0 ? seedEdge->m_twin : seedEdge;
    const int32_t strideInFloats = strideInBytes / 4;
    setStamp(getStamp() + 2);
    const uint32_t stamp = getStamp();
    dgWorkStack<dgEdge*> stack(stackBuffer, bufferCapacity);
    dgWorkStack<int32_t> indices(indexBuffer, bufferCapacity);

    auto copyFace = [&](dgEdge* face) { copyLoop(face, destination, indices); };

    const dgVector64 seedArea = dgEdgeMeshFaceNormal64(seed, vertices, strideInFloats);
    const double seedMag2 = seedArea.dot(seedArea);
    if (seedMag2 < 1.0e-12) {
        dgEdge* ptr = seed;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr != seed);
        copyFace(seed);
    } else {
        const dgVector64 n = seedArea.scale(1.0 / std::sqrt(seedMag2));
        auto coplanar = [&](const dgEdge* face) {
            const dgVector64 area = dgEdgeMeshFaceNormal64(face, vertices, strideInFloats);
            double mag2 = area.dot(area);
            if (mag2 < 1.0e-12) {
                mag2 = 1.0e-12;
            }
            return !(area.dot(n) / std::sqrt(mag2) < double(0.9999f));
        };
        floodFaces(seed, stamp, stack, coplanar, copyFace);
    }

    destination.dgEdgeMeshLinkTwins();
    destination.dgEdgeMeshCloseOpenEdges();
    if (!destination.getEdgeCount() || !destination.isWalkable()) {
        return;
    }
    dgScratchArray<dgEdge*> scratch(destination.getEdgeCount() / 2 + 1);
    dgWorkStack<dgEdge*> interior(scratch.getData(), scratch.getCount());
    for (dgEdgeNode* node = destination.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_faceId > 0 && edge->m_twin->m_faceId > 0 &&
            node->getKey() < dgEdgeMeshKeyOf(edge->m_twin)) {
            interior.push(edge);
        }
    }
    for (int32_t i = 0; i < interior.getCount(); ++i) {
        destination.dgEdgeMeshDeleteEdge(interior[i]);
    }
    // The outline loops gather half-edges of several faces.
    destination.unifyLoopFaceIds();
}

// ---------------------------------------------------------------------------
// Faces the ear cutting cannot finish

void dgEdgeMesh::dgEdgeMeshGetNonTriangulableFaces(dgRefList<dgEdge*>& outList, const float* vertices,
                                                   int32_t strideInBytes) {
    if (!m_edges.getCount()) {
        return;
    }
    dgEdgeMesh copy(*this);
    // Room for every corner of the longest loop.
    const int32_t capacity = copy.getEdgeCount() + 16 > 19584 ? copy.getEdgeCount() + 16 : 19584;
    dgEarHeap heap(capacity);
    if (heap.getCapacity() < capacity) {
        return;
    }

    const uint32_t copyStamp = copy.newStamp();
    const uint32_t stamp = newStamp();
    for (dgEdgeNode* node = copy.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == copyStamp || edge->m_faceId < 0) {
            continue;
        }
        int32_t count = 0;
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = copyStamp;
            ++count;
            ptr = ptr->m_next;
        } while (ptr && ptr != edge);
        if (!ptr || count <= 3) {
            continue;
        }

        // Diagonals cut here take the loop's stamp, so the walk skips them.
        dgEdge* rest = dgEdgeMeshTriangulateFace(edge, copy, vertices, strideInBytes / 4, heap);
        heap.clear();
        if (!rest) {
            continue;
        }
        dgEdgeNode* found = m_edges.find(dgEdgeMeshNodeOf(rest)->getKey());
        if (!found || found->getPayload().m_stamp == stamp) {
            continue;
        }
        dgEdge* original = &found->getPayload();
        ptr = original;
        do {
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr && ptr != original);
        outList.append(original);
    }
}

// ---------------------------------------------------------------------------
// Regions, reversal and merging

bool dgEdgeMesh::dgEdgeMeshExtractRegion(dgEdgeMesh& destination) {
    if (!m_edges.getCount() || &destination == this || !isWalkable()) {
        return false;
    }
    if (m_stampFloor <= 0) {
        // A new series: everything stamped so far lies below the floor.
        if (m_stamp >= uint32_t(INT32_MAX) - 1) {
            for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
                node->getPayload().m_stamp = 0;
            }
            m_stamp = 0;
        }
        m_stampFloor = int32_t(m_stamp + 1);
    }
    const uint32_t floor = uint32_t(m_stampFloor);

    dgEdge* seed = nullptr;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp < floor && edge->m_faceId >= 1) {
            seed = edge;
            break;
        }
    }
    if (!seed) {
        m_stampFloor = 0;
        return false;
    }

    const uint32_t stamp = newStamp();
    dgScratchArray<dgEdge*> stackScratch(4096);
    dgWorkStack<dgEdge*> stack(stackScratch.getData(), stackScratch.getCount());
    dgWorkStack<int32_t> indices(nullptr, 0);
    floodFaces(
        seed, stamp, stack, [](const dgEdge*) { return true; },
        [&](dgEdge* face) { copyLoop(face, destination, indices); });
    destination.dgEdgeMeshLinkTwins();
    destination.dgEdgeMeshCloseOpenEdges();
    return true;
}

void dgEdgeMesh::dgEdgeMeshReverseFaces() {
    if (!m_edges.getCount()) {
        return;
    }
    dgEdgeMesh copy(*this);
    dgEdgeMeshClear();

    dgWorkStack<int32_t> indices(nullptr, 0);
    dgWorkStack<uint64_t> corners(nullptr, 0);
    const uint32_t stamp = copy.newStamp();
    for (dgEdgeNode* node = copy.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp || edge->m_faceId < 0) {
            continue;
        }
        indices.clear();
        corners.clear();
        int32_t count = 0;
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            indices.push(ptr->m_vertex);
            corners.push(ptr->m_userData);
            ++count;
            ptr = ptr->m_prev;
        } while (ptr != edge);
        if (indices.getCount() == count && corners.getCount() == count) {
            addFaceChecked(count, &indices[0], &corners[0], INT32_MAX);
        }
    }
    dgEdgeMeshLinkTwins();
    dgEdgeMeshCloseOpenEdges();
}

bool dgEdgeMesh::dgEdgeMeshMerge(dgEdgeMeshCensus& census, float* vertices, int32_t strideInBytes,
                                 int32_t vertexCapacity, dgEdgeMesh& source, const float* sourceVertices,
                                 int32_t sourceStrideInBytes) {
    if (&source == this) {
        return false;
    }
    if (!source.getEdgeCount()) {
        return true;
    }
    if (!source.isWalkable()) {
        return false;
    }
    for (dgEdgeNode* node = source.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_vertex < 0) {
            return false;
        }
    }
    const int32_t strideInFloats = strideInBytes / 4;
    const int32_t sourceStrideInFloats = sourceStrideInBytes / 4;

    dgEdgeMeshCensus sourceCensus(source);
    const int32_t ownCount = dgEdgeMeshVertexCount();
    const int32_t base = census.vertexCount > ownCount ? census.vertexCount : ownCount;
    dgScratchArray<int32_t> remap(sourceCensus.vertexCount);
    if (remap.getCount() < sourceCensus.vertexCount) {
        return false;
    }
    for (int32_t i = 0; i < remap.getCount(); ++i) {
        remap[i] = -1;
    }

    // Each vertex of source becomes one new vertex of this mesh, numbered in
    // key order of first appearance.
    int32_t added = 0;
    uint32_t stamp = source.newStamp();
    for (dgEdgeNode* node = source.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp) {
            continue;
        }
        dgEdge* x = edge;
        do {
            x->m_stamp = stamp;
            x = x->m_twin->m_next;
        } while (x != edge);
        if (remap[edge->m_vertex] < 0) {
            remap[edge->m_vertex] = base + added++;
        }
    }
    // The caller's array must hold the new records: refuse rather than write
    // past its end.
    if (int64_t(base) + int64_t(added) > int64_t(vertexCapacity)) {
        return false;
    }
    for (int32_t i = 0; i < remap.getCount(); ++i) {
        if (remap[i] < 0) {
            continue;
        }
        const float* from = dgPointer(sourceVertices, sourceStrideInFloats, i);
        float* to = vertices + size_t(remap[i]) * size_t(strideInFloats);
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
    }

    const int32_t edgesBefore = m_edges.getCount();
    dgWorkStack<dgEdge*> faces(nullptr, 0);
    dgWorkStack<int32_t> indices(nullptr, 0);
    stamp = source.newStamp();
    for (dgEdgeNode* node = source.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        if (edge->m_stamp == stamp || edge->m_faceId <= 0) {
            continue;
        }
        indices.clear();
        int32_t count = 0;
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            indices.push(remap[ptr->m_vertex]);
            ++count;
            ptr = ptr->m_next;
        } while (ptr != edge);
        if (indices.getCount() != count) {
            continue;
        }
        if (dgEdge* face = addFaceChecked(count, &indices[0], nullptr, INT32_MAX)) {
            faces.push(face);
        }
    }

    for (int32_t i = 0; i < faces.getCount(); ++i) {
        dgEdge* ptr = faces[i];
        do {
            if (!ptr->m_twin) {
                dgEdge* opposite = dgEdgeMeshFindEdge(ptr->m_next->m_vertex, ptr->m_vertex);
                if (opposite && !opposite->m_twin) {
                    ptr->m_twin = opposite;
                    opposite->m_twin = ptr;
                }
            }
            ptr = ptr->m_next;
        } while (ptr != faces[i]);
    }

    // Source's open loops are rebuilt as they were, when every one of their
    // half-edges can be made and has its face half-edge waiting.
    int32_t loopsMade = 0;
    const uint32_t madeStamp = newStamp();
    for (dgRefList<dgEdge*>::Node* item = sourceCensus.openLoops.getFirst(); item; item = item->getNext()) {
        dgEdge* first = item->getValue();
        bool possible = true;
        dgEdge* ptr = first;
        do {
            const int32_t a = remap[ptr->m_vertex];
            const int32_t b = remap[ptr->m_twin->m_vertex];
            dgEdge* twin = dgEdgeMeshFindEdge(b, a);
            if (dgEdgeMeshFindEdge(a, b) || !twin || twin->m_twin) {
                possible = false;
            }
            ptr = ptr->m_next;
        } while (possible && ptr != first);
        if (!possible) {
            continue;
        }

        dgEdge* firstMade = nullptr;
        dgEdge* previous = nullptr;
        ptr = first;
        do {
            const int32_t a = remap[ptr->m_vertex];
            const int32_t b = remap[ptr->m_twin->m_vertex];
            dgEdge* made = dgEdgeMeshAddHalfEdge(a, b);
            if (!made) {
                break;
            }
            dgEdge* twin = dgEdgeMeshFindEdge(b, a);
            made->m_twin = twin;
            twin->m_twin = made;
            made->m_stamp = madeStamp;
            if (previous) {
                previous->m_next = made;
                made->m_prev = previous;
            } else {
                firstMade = made;
            }
            previous = made;
            ptr = ptr->m_next;
        } while (ptr != first);
        if (firstMade) {
            previous->m_next = firstMade;
            firstMade->m_prev = previous;
            census.openLoops.append(firstMade);
            ++loopsMade;
        }
    }

    // Whatever is still open (faces source had that could not be copied)
    // is closed the usual way and its loops are listed too.
    bool open = false;
    for (int32_t i = 0; i < faces.getCount() && !open; ++i) {
        dgEdge* ptr = faces[i];
        do {
            open = open || !ptr->m_twin;
            ptr = ptr->m_next;
        } while (ptr != faces[i]);
    }
    if (open) {
        dgEdgeMeshCloseOpenEdges();
        for (int32_t i = 0; i < faces.getCount(); ++i) {
            dgEdge* ptr = faces[i];
            do {
                dgEdge* hole = ptr->m_twin;
                if (hole && hole->m_faceId < 0 && hole->m_stamp != madeStamp && hole->m_next) {
                    dgEdge* h = hole;
                    do {
                        h->m_stamp = madeStamp;
                        h = h->m_next;
                    } while (h && h != hole);
                    census.openLoops.append(hole);
                    ++loopsMade;
                }
                ptr = ptr->m_next;
            } while (ptr != faces[i]);
        }
    }

    census.loopCount += faces.getCount() + loopsMade;
    census.edgeCount += m_edges.getCount() - edgesBefore;
    census.fanCount += sourceCensus.fanCount;
    census.vertexCount = base + added;
    return true;
}

// ---------------------------------------------------------------------------
// Vertex-cache ordering

int32_t dgEdgeMesh::dgEdgeMeshGetCacheOrderedIndices(int32_t* indicesOut, int32_t capacity) {
    if (!m_edges.getCount() || !indicesOut || !isWalkable()) {
        return 0;
    }
    int32_t needed = 0;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_faceId > 0) {
            ++needed;
        }
    }
    if (needed > capacity) {
        return 0;
    }

    constexpr int32_t kCacheSize = 16;
    dgRbTree<dgEdge*, int32_t> vertexMap;
    for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        dgEdge* edge = &node->getPayload();
        vertexMap.insert(edge, edge->m_vertex);
    }
    dgRefList<dgEdge*> cache;
    const uint32_t stamp = newStamp();

    auto hasFace = [stamp](dgEdge* v) {
        dgEdge* x = v;
        do {
            if (x->m_faceId > 0 && x->m_stamp != stamp) {
                return true;
            }
            x = x->m_twin->m_next;
        } while (x != v);
        return false;
    };
    // Older entries score more, so their faces go out before they drop out
    // of the cache; vertices outside it score nothing.
    auto cacheScore = [&cache](int32_t vertex) {
        int32_t position = 0;
        for (dgRefList<dgEdge*>::Node* item = cache.getFirst(); item; item = item->getNext(), ++position) {
            if (item->getValue()->m_vertex == vertex) {
                return cache.getCount() + 2 - position;
            }
        }
        return 0;
    };
    auto inCache = [&cache](int32_t vertex) {
        for (dgRefList<dgEdge*>::Node* item = cache.getFirst(); item; item = item->getNext()) {
            if (item->getValue()->m_vertex == vertex) {
                return true;
            }
        }
        return false;
    };

    int32_t count = 0;
    for (;;) {
        dgEdge* start = nullptr;
        for (dgRefList<dgEdge*>::Node* item = cache.getFirst(); item && !start; item = item->getNext()) {
            if (hasFace(item->getValue())) {
                start = item->getValue();
            }
        }
        while (!start && vertexMap.getCount()) {
            dgRbTree<dgEdge*, int32_t>::Node* first = vertexMap.getFirst();
            if (hasFace(first->getPayload())) {
                start = first->getPayload();
            } else {
                vertexMap.remove(first);
            }
        }
        if (!start) {
            // Faces no fan reached (a vertex with several fans keeps only one
            // in the map) are written as they come.
            for (dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
                dgEdge* edge = &node->getPayload();
                if (edge->m_faceId <= 0 || edge->m_stamp == stamp) {
                    continue;
                }
                dgEdge* ptr = edge;
                do {
                    DG_ASSERT(count < capacity);
                    indicesOut[count++] = ptr->m_vertex;
                    ptr->m_stamp = stamp;
                    ptr = ptr->m_next;
                } while (ptr != edge);
            }
            break;
        }

        dgEdge* best = nullptr;
        int32_t bestScore = -1;
        dgEdge* x = start;
        do {
            if (x->m_faceId > 0 && x->m_stamp != stamp) {
                const int32_t score = cacheScore(x->m_next->m_vertex) + cacheScore(x->m_prev->m_vertex);
                if (score > bestScore) {
                    bestScore = score;
                    best = x;
                }
            }
            x = x->m_twin->m_next;
        } while (x != start);

        // The start vertex has a face left, so one was chosen; every corner
        // is written once, and they were counted.
        DG_ASSERT(best);
        dgEdge* ptr = best;
        do {
            DG_ASSERT(count < capacity);
            indicesOut[count++] = ptr->m_vertex;
            if (!inCache(ptr->m_vertex)) {
                cache.append(ptr);
                if (cache.getCount() > kCacheSize) {
                    cache.remove(cache.getFirst());
                }
            }
            ptr->m_stamp = stamp;
            ptr = ptr->m_next;
        } while (ptr != best);
    }
    cache.removeAll();
    vertexMap.removeAll();
    return count;
}

// ---------------------------------------------------------------------------
// Consistency check

bool dgEdgeMesh::dgEdgeMeshSanityCheck() const {
    // Every condition is checked per half-edge against its neighbours, which
    // covers the walks without doing them: with next, prev and twin pointing
    // to half-edges of this tree and undoing each other, next is a permutation,
    // so every loop closes, runs back the same way by prev, and shares one
    // face id when each half-edge shares it with its next; likewise a fan
    // closes and keeps one origin when each twin.next keeps it. Loops of three
    // or more half-edges pass whatever their length, and a long loop costs no
    // more than a short one.
    auto isMember = [this](const dgEdge* edge) {
        const dgEdgeNode* node = dgEdgeMeshNodeOf(edge);
        return node->isInTree() && m_edges.find(node->getKey()) == node;
    };

    for (const dgEdgeNode* node = m_edges.getFirst(); node; node = node->getNext()) {
        if (!node->isLive() || !node->isInTree()) {
            return false;
        }
        const dgEdge* edge = &node->getPayload();
        const dgEdge* twin = edge->m_twin;
        const dgEdge* next = edge->m_next;
        const dgEdge* prev = edge->m_prev;
        if (!twin || !next || !prev || twin == edge) {
            return false;
        }
        // A loop needs three sides to bound anything.
        if (next == edge || next->m_next == edge) {
            return false;
        }
        if (!isMember(twin) || !isMember(next) || !isMember(prev)) {
            return false;
        }
        if (twin->m_twin != edge || prev->m_next != edge || next->m_prev != edge) {
            return false;
        }
        if (edge->m_faceId < 0 && twin->m_faceId < 0) {
            return false;
        }
        if (edge->m_stamp > m_stamp) {
            return false;
        }
        if (node->getKey() != dgEdgeMeshKey(edge->m_vertex, twin->m_vertex)) {
            return false;
        }
        // Fan: the next half-edge round the origin leaves the same vertex.
        if (twin->m_next->m_vertex != edge->m_vertex) {
            return false;
        }
        // Loop: one face id, and the destination is where next starts.
        if (next->m_faceId != edge->m_faceId || prev->m_faceId != edge->m_faceId) {
            return false;
        }
        if (next->m_vertex != twin->m_vertex) {
            return false;
        }
    }
    return m_edges.sanityCheck();
}

#include "dgPolygonSoupBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dgArenaAllocator.h"
#include "dgAssert.h"
#include "dgAttributeSet.h"
#include "dgEdgeMesh.h"
#include "dgMathUtils.h"
#include "dgVector.h"
#include "dgWeld.h"

namespace {

const float kShortEdge2 = 1.0e-6f;
const float kCollinearDot = 0.9999f;
const float kConvexCross = 1.0e-5f;
const float kUnitBias = 1.0e-10f;
// One twelfth rounded to float: in close cases the split axis depends on it.
const double kOneTwelfth = 0.0833333358168602;

dgVector dgPointOf(const float* vertices, int32_t index) {
    const float* const p = vertices + size_t(index) * 3;
    return dgVector(p[0], p[1], p[2], 0.0f);
}

dgVector dgUnitOf(const dgVector& d) {
    return d.scale(1.0f / std::sqrt(d % d + kUnitBias));
}

// Unit directions into and out of the corner at the origin of edge.
void dgCornerDirections(const float* vertices, const dgEdge* edge, dgVector& in, dgVector& out) {
    const dgVector p = dgPointOf(vertices, edge->m_vertex);
    in = dgUnitOf(p - dgPointOf(vertices, edge->m_prev->m_vertex));
    out = dgUnitOf(dgPointOf(vertices, edge->m_next->m_vertex) - p);
}

// One face on a scratch mesh whose edge nodes come from a stack arena. The
// clean-up works on the face's own loop by unlinking corners: the mesh is
// only walked from the start edge afterwards and then thrown away, so its
// key tree does not have to follow.
class dgFaceLoop {
public:
    explicit dgFaceLoop(const float* vertices) : m_vertices(vertices), m_start(nullptr), m_count(0) {
        m_mesh.setNodeAllocator(&m_arena);
    }

    // Offers the face; while the mesh refuses it and it has more than three
    // indices, the next occurrence of the first index that repeats is deleted
    // and the face offered again. count and indices follow the deletions.
    bool add(int32_t& count, int32_t* indices) {
        m_mesh.dgEdgeMeshBeginFace();
        dgEdge* edge = m_mesh.dgEdgeMeshAddFace(count, indices);
        while (!edge && (count > 3)) {
            const int32_t repeat = nextRepeat(count, indices);
            if (repeat < 0) {
                break;
            }
            for (int32_t i = repeat + 1; i < count; ++i) {
                indices[i - 1] = indices[i];
            }
            --count;
            edge = m_mesh.dgEdgeMeshAddFace(count, indices);
        }
        m_mesh.dgEdgeMeshEndFace();
        if (!edge) {
            return false;
        }
        m_start = (edge->m_faceId < 0) ? edge->m_twin : edge;
        m_count = count;
        return true;
    }

    // Unlinks the first vertex of every edge shorter than the bound, walking
    // on from the edge after each removal until a full turn finds none.
    void removeShortEdges() {
        dgEdge* edge = m_start;
        int32_t walked = 0;
        while ((m_count > 2) && (walked < m_count)) {
            const dgVector d =
                dgPointOf(m_vertices, edge->m_next->m_vertex) - dgPointOf(m_vertices, edge->m_vertex);
            dgEdge* const next = edge->m_next;
            if (d % d < kShortEdge2) {
                unlink(edge);
                walked = 0;
            } else {
                ++walked;
            }
            edge = next;
        }
    }

    dgVector unitNormal() const {
        const dgVector n = m_mesh.dgEdgeMeshFaceNormal(m_start, m_vertices, 12);
        return n.scale(1.0f / std::sqrt(n % n + kUnitBias));
    }

    // Unlinks corners for which drop(in, out) holds until a full turn finds
    // none or fewer than three vertices are left.
    template <class Drop>
    void removeCorners(Drop drop) {
        dgEdge* edge = m_start;
        int32_t walked = 0;
        while ((m_count >= 3) && (walked < m_count)) {
            dgVector in;
            dgVector out;
            dgCornerDirections(m_vertices, edge, in, out);
            dgEdge* const next = edge->m_next;
            if (drop(in, out)) {
                unlink(edge);
                walked = 0;
            } else {
                ++walked;
            }
            edge = next;
        }
    }

    bool isConvex(const dgVector& normal) const {
        const dgEdge* edge = m_start;
        do {
            dgVector in;
            dgVector out;
            dgCornerDirections(m_vertices, edge, in, out);
            if (in.cross(out) % normal < kConvexCross) {
                return false;
            }
            edge = edge->m_next;
        } while (edge != m_start);
        return true;
    }

    // Edge whose destination is the corner closest to a right angle (the
    // first one on ties).
    const dgEdge* squarestCorner() const {
        const dgEdge* best = m_start;
        float bestValue = 2.0f;
        const dgEdge* edge = m_start;
        do {
            dgVector in;
            dgVector out;
            dgCornerDirections(m_vertices, edge->m_next, in, out);
            const float value = std::fabs(in % out);
            if (value < bestValue) {
                bestValue = value;
                best = edge;
            }
            edge = edge->m_next;
        } while (edge != m_start);
        return best;
    }

    // Writes the loop's indices from start; returns the count.
    int32_t write(const dgEdge* start, int32_t* out) const {
        int32_t count = 0;
        const dgEdge* edge = start;
        do {
            DG_ASSERT(count < m_count);
            out[count++] = edge->m_vertex;
            edge = edge->m_next;
        } while (edge != start);
        return count;
    }

    // Whether a face whose float normal overflowed (coordinates so large
    // that its squared lengths and cross products leave the float range,
    // where the float tests above see neither short edges nor collinear
    // corners) has no area to speak of: measured in double, twice its area
    // is below the convexity bound times its longest edge squared.
    bool flatInDouble() const {
        double n[3] = {0.0, 0.0, 0.0};
        double longest2 = 0.0;
        const dgEdge* edge = m_start;
        do {
            const float* a = m_vertices + size_t(edge->m_vertex) * 3;
            const float* b = m_vertices + size_t(edge->m_next->m_vertex) * 3;
            for (int32_t axis = 0; axis < 3; ++axis) {
                const int32_t j = (axis + 1) % 3, k = (axis + 2) % 3;
                n[axis] += (double(a[j]) - double(b[j])) * (double(a[k]) + double(b[k]));
            }
            const double dx = double(b[0]) - a[0], dy = double(b[1]) - a[1], dz = double(b[2]) - a[2];
            longest2 = std::max(longest2, dx * dx + dy * dy + dz * dz);
            edge = edge->m_next;
        } while (edge != m_start);
        const double area2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        return !(area2 > double(kConvexCross) * double(kConvexCross) * longest2 * longest2);
    }

    const dgEdge* getStart() const { return m_start; }
    int32_t getCount() const { return m_count; }

private:
    void unlink(dgEdge* edge) {
        edge->m_prev->m_next = edge->m_next;
        edge->m_next->m_prev = edge->m_prev;
        if (edge == m_start) {
            m_start = edge->m_next;
        }
        --m_count;
    }

    // Position of the next occurrence of the first index (in order) that
    // occurs again later, or -1.
    static int32_t nextRepeat(int32_t count, const int32_t* indices) {
        dgWorkStack<int64_t> sorted(nullptr, 0);
        if (!sorted.reserve(count)) {
            return -1;
        }
        for (int32_t i = 0; i < count; ++i) {
            sorted.push((int64_t(indices[i]) << 32) | int64_t(i));
        }
        std::sort(&sorted[0], &sorted[0] + count);
        int32_t first = count;
        int32_t repeat = -1;
        for (int32_t i = 1; i < count; ++i) {
            const int64_t a = sorted[i - 1];
            const int64_t b = sorted[i];
            // Sorted by index then position: the first pair of a run is the
            // index's first occurrence and its next one.
            if (((a >> 32) == (b >> 32)) && ((i == 1) || ((sorted[i - 2] >> 32) != (a >> 32)))) {
                const int32_t position = int32_t(a & 0xffffffff);
                if (position < first) {
                    first = position;
                    repeat = int32_t(b & 0xffffffff);
                }
            }
        }
        return repeat;
    }

    const float* m_vertices;
    dgEdge* m_start;
    int32_t m_count;
    // Declared before the mesh: the mesh gives its nodes back on destruction.
    dgArenaAllocator m_arena;
    dgEdgeMesh m_mesh;
};

// Calls piece(count, indices) for the pieces of a convex face of count
// vertices, cut by chords from its first vertex into pieces of at most
// maxVertices (at least 4) vertices; a face that fits is one piece.
template <class Piece>
void dgForEachConvexPiece(int32_t count, const int32_t* indices, int32_t maxVertices, Piece piece) {
    DG_ASSERT(maxVertices >= 4);
    if (count <= maxVertices) {
        piece(count, indices);
        return;
    }
    int32_t local[dgPolygonSoupBuilder::kMaxFaceVertices];
    dgWorkStack<int32_t> buffer(local, dgPolygonSoupBuilder::kMaxFaceVertices);
    if (!buffer.reserve(maxVertices)) {
        return;
    }
    int32_t next = 1;
    for (;;) {
        const int32_t take = std::min(count - next, maxVertices - 1);
        buffer.clear();
        buffer.push(indices[0]);
        for (int32_t i = 0; i < take; ++i) {
            buffer.push(indices[next + i]);
        }
        piece(buffer.getCount(), &buffer[0]);
        if (next + take == count) {
            break;
        }
        // The next piece starts at the chord closing this one.
        next += take - 1;
    }
}

// Unit direction from a to b of the vertex array.
dgVector dgUnitBetween(const float* vertices, int32_t a, int32_t b) {
    return dgUnitOf(dgPointOf(vertices, b) - dgPointOf(vertices, a));
}

bool dgIsCollinearCorner(const float* vertices, int32_t a, int32_t b, int32_t c) {
    return dgUnitBetween(vertices, a, b) % dgUnitBetween(vertices, b, c) > kCollinearDot;
}

// Drops the corners of a loop whose edges run on in the same direction,
// in place; returns the new count.
int32_t dgPruneCollinear(const float* vertices, int32_t count, int32_t* indices) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
        indices[kept++] = indices[i];
        while ((kept >= 3) &&
               dgIsCollinearCorner(vertices, indices[kept - 3], indices[kept - 2], indices[kept - 1])) {
            indices[kept - 2] = indices[kept - 1];
            --kept;
        }
    }
    int32_t first = 0;
    bool changed = true;
    while (changed && (kept - first >= 3)) {
        changed = false;
        if (dgIsCollinearCorner(vertices, indices[kept - 2], indices[kept - 1], indices[first])) {
            --kept;
            changed = true;
        } else if (dgIsCollinearCorner(vertices, indices[kept - 1], indices[first], indices[first + 1])) {
            ++first;
            changed = true;
        }
    }
    for (int32_t i = first; i < kept; ++i) {
        indices[i - first] = indices[i];
    }
    return kept - first;
}

}  // namespace

dgPolygonSoupBuilder::dgPolygonSoupBuilder() : m_faceCount(0), m_indexCount(0), m_vertexCount(0) {}

dgPolygonSoupBuilder::~dgPolygonSoupBuilder() {}

void dgPolygonSoupBuilder::begin() {
    m_faceCount = 0;
    m_indexCount = 0;
    m_vertexCount = 0;
}

bool dgPolygonSoupBuilder::addMesh(const float* vertices, int32_t vertexCount, int32_t strideInBytes,
                                   int32_t faceCount, const int32_t* faceIndexCounts, const int32_t* indices,
                                   const int32_t* faceAttributes, const dgMatrix& matrix) {
    if ((vertexCount < 0) || (faceCount < 0)) {
        return false;
    }
    if ((vertexCount > 0) && (!vertices || (strideInBytes < 12) || (strideInBytes % 4 != 0))) {
        return false;
    }
    if ((faceCount > 0) && (!faceIndexCounts || !faceAttributes)) {
        return false;
    }
    int64_t totalIndices = 0;
    int64_t admittedIndices = 0;
    for (int32_t f = 0; f < faceCount; ++f) {
        if (faceIndexCounts[f] < 0) {
            return false;
        }
        totalIndices += faceIndexCounts[f];
        admittedIndices += std::min(faceIndexCounts[f], kMaxAdmitIndices);
    }
    if ((totalIndices > 0) && !indices) {
        return false;
    }
    if (!m_vertexArray.reserve(int64_t(m_vertexCount) + vertexCount) ||
        !m_indexArray.reserve(int64_t(m_indexCount) + admittedIndices + faceCount) ||
        !m_faceArray.reserve(int64_t(m_faceCount) + faceCount)) {
        return false;
    }

    const int32_t base = m_vertexCount;
    if (vertexCount > 0) {
        matrix.transformPoints(&m_vertexArray[base].m_x, 12, vertices, strideInBytes, vertexCount);
    }

    int32_t localList[kMaxAdmitIndices];
    int32_t localOut[kMaxAdmitIndices];
    int32_t localCounts[kMaxAdmitPieces];
    dgWorkStack<int32_t> outIndices(localOut, kMaxAdmitIndices);
    dgWorkStack<int32_t> outCounts(localCounts, kMaxAdmitPieces);
    const int32_t* faceIndices = indices;
    for (int32_t f = 0; f < faceCount; ++f) {
        const int32_t count = faceIndexCounts[f];
        const int32_t* const source = faceIndices;
        faceIndices += count;
        if (count > kMaxAdmitIndices) {
            continue;
        }
        // Indices outside this call's vertices, or vertices that are not
        // finite (they would poison the weld and every test), drop the face.
        // The index is moved past the earlier vertices only once it is known
        // to be one of this call's, where the sum stays within the vertex
        // array's capacity.
        bool usable = true;
        for (int32_t i = 0; (i < count) && usable; ++i) {
            usable = (source[i] >= 0) && (source[i] < vertexCount);
            if (usable) {
                localList[i] = base + source[i];
                const dgSoupVertex& p = m_vertexArray[localList[i]];
                usable = std::isfinite(p.m_x) && std::isfinite(p.m_y) && std::isfinite(p.m_z);
            }
        }
        if (!usable) {
            continue;
        }
        outIndices.clear();
        outCounts.clear();
        const int32_t pieces = admitFace(count, localList, outIndices, outCounts);
        int32_t read = 0;
        for (int32_t k = 0; k < pieces; ++k) {
            const int32_t n = outCounts[k];
            m_indexArray[m_indexCount++] = faceAttributes[f];
            for (int32_t i = 0; i < n; ++i) {
                m_indexArray[m_indexCount++] = outIndices[read++];
            }
            m_faceArray[m_faceCount++] = n + 1;
        }
    }
    m_vertexCount += vertexCount;
    return true;
}

int32_t dgPolygonSoupBuilder::admitFace(int32_t count, int32_t* indices, dgWorkStack<int32_t>& outIndices,
                                        dgWorkStack<int32_t>& outCounts) {
    const float* const vertices = getVertexData();
    dgFaceLoop loop(vertices);
    if (!loop.add(count, indices)) {
        return 0;
    }
    loop.removeShortEdges();
    const dgVector normal = loop.unitNormal();
    if (!dgIsFinite3(normal) && loop.flatInDouble()) {
        return 0;
    }
    loop.removeCorners([](const dgVector& in, const dgVector& out) { return in % out > kCollinearDot; });
    if (loop.getCount() < 3) {
        return 0;
    }
    const int32_t n = loop.write(loop.getStart(), indices);
    if (loop.isConvex(normal)) {
        for (int32_t i = 0; i < n; ++i) {
            outIndices.push(indices[i]);
        }
        outCounts.push(n);
        return 1;
    }

    // Concave: cut into convex pieces by the mesh optimisation.
    dgEdgeMesh pieces;
    dgEdgeMesh leftover;
    pieces.dgEdgeMeshBeginFace();
    if (!pieces.dgEdgeMeshAddFace(n, indices)) {
        return 0;
    }
    pieces.dgEdgeMeshEndFace();
    pieces.dgEdgeMeshOptimize(vertices, 12, &leftover);
    const uint32_t stamp = pieces.newStamp();
    int32_t written = 0;
    for (dgEdgeMesh::dgEdgeNode* node = pieces.getFirst(); node; node = node->getNext()) {
        dgEdge* const edge = &node->getPayload();
        if ((edge->m_faceId < 0) || (edge->m_stamp == stamp)) {
            continue;
        }
        if (written == kMaxAdmitPieces) {
            return 0;
        }
        int32_t corners = 0;
        dgEdge* ptr = edge;
        do {
            ptr->m_stamp = stamp;
            outIndices.push(ptr->m_vertex);
            ++corners;
            ptr = ptr->m_next;
        } while (ptr != edge);
        outCounts.push(corners);
        ++written;
    }
    return written;
}

int32_t dgPolygonSoupBuilder::cleanFace(int32_t count, int32_t* indices) {
    dgFaceLoop loop(getVertexData());
    if (!loop.add(count, indices)) {
        return 0;
    }
    loop.removeShortEdges();
    const dgVector normal = loop.unitNormal();
    if (!dgIsFinite3(normal) && loop.flatInDouble()) {
        return 0;
    }
    loop.removeCorners([&normal](const dgVector& in, const dgVector& out) {
        return (in % out > kCollinearDot) || (in.cross(out) % normal < kConvexCross);
    });
    if (loop.getCount() < 3) {
        return 0;
    }
    return loop.write(loop.squarestCorner(), indices);
}

void dgPolygonSoupBuilder::end(bool optimise) {
    if (optimise && (m_faceCount > kSplitFaceCount)) {
        split(optimise);
    } else {
        finish(optimise);
    }
}

void dgPolygonSoupBuilder::split(bool optimise) {
    const float* const vertices = getVertexData();
    const int32_t* const faces = m_faceArray.getData();
    const int32_t* const entries = m_indexArray.getData();

    // Spread of the face centres per axis; a face's own extent adds its half
    // extent cubed over twelve, so that long faces favour their axis.
    dgVector64 sum(0.0, 0.0, 0.0, 0.0);
    dgVector64 sumSquares(0.0, 0.0, 0.0, 0.0);
    int32_t read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        dgVector64 minimum(1.0e10, 1.0e10, 1.0e10, 0.0);
        dgVector64 maximum(-1.0e10, -1.0e10, -1.0e10, 0.0);
        for (int32_t i = 1; i < faces[f]; ++i) {
            const float* const p = vertices + size_t(entries[read + i]) * 3;
            for (int32_t axis = 0; axis < 3; ++axis) {
                minimum[axis] = std::min(minimum[axis], double(p[axis]));
                maximum[axis] = std::max(maximum[axis], double(p[axis]));
            }
        }
        const dgVector64 centre = (maximum + minimum).scale(0.5);
        const dgVector64 half = (maximum - minimum).scale(0.5);
        sum += centre;
        sumSquares +=
            centre.compProduct(centre) + half.compProduct(half).compProduct(half).scale(kOneTwelfth);
        read += faces[f];
    }
    const double n = double(m_faceCount);
    const dgVector64 spread = sumSquares.scale(n) - sum.compProduct(sum);
    int32_t axis = 0;
    if ((spread.y > spread.x) && (spread.y > spread.z)) {
        axis = 1;
    }
    if ((spread.z > spread.x) && (spread.z > spread.y)) {
        axis = 2;
    }
    const double splitValue = sum[axis] / n;

    // A face with any vertex above the split value goes up.
    dgScratchArray<uint8_t> upperSide(m_faceCount);
    if (!upperSide.getData()) {
        finish(false);
        return;
    }
    int32_t upperCount = 0;
    read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        bool up = false;
        for (int32_t i = 1; (i < faces[f]) && !up; ++i) {
            up = double(vertices[size_t(entries[read + i]) * 3 + size_t(axis)]) > splitValue;
        }
        upperSide[f] = up ? 1 : 0;
        upperCount += up ? 1 : 0;
        read += faces[f];
    }
    // Every face on one side: splitting again would never end.
    if ((upperCount == 0) || (upperCount == m_faceCount)) {
        finish(false);
        return;
    }

    dgPolygonSoupBuilder lower;
    dgPolygonSoupBuilder upper;
    read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        copyFaceTo(upperSide[f] ? upper : lower, faces[f] - 1, entries + read + 1, entries[read]);
        read += faces[f];
    }
    lower.end(optimise);
    upper.end(optimise);

    begin();
    const dgPolygonSoupBuilder* const halves[2] = {&lower, &upper};
    for (const dgPolygonSoupBuilder* half : halves) {
        const int32_t* const halfFaces = half->m_faceArray.getData();
        const int32_t* const halfEntries = half->m_indexArray.getData();
        read = 0;
        for (int32_t f = 0; f < half->m_faceCount; ++f) {
            half->copyFaceTo(*this, halfFaces[f] - 1, halfEntries + read + 1, halfEntries[read]);
            read += halfFaces[f];
        }
    }
    finish((m_faceCount < kSplitFaceCount) ? optimise : false);
}

void dgPolygonSoupBuilder::dropNonFiniteVertices() {
    int32_t first = 0;
    while ((first < m_vertexCount) && dgIsFinite3(dgPointOf(getVertexData(), first))) {
        ++first;
    }
    if (first == m_vertexCount) {
        return;
    }
    dgScratchArray<int32_t> remap(m_vertexCount);
    if (!remap.getData()) {
        return;
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < m_vertexCount; ++i) {
        if (dgIsFinite3(dgPointOf(getVertexData(), i))) {
            m_vertexArray[kept] = m_vertexArray[i];
            remap[i] = kept++;
        } else {
            remap[i] = 0;
        }
    }
    int32_t* const entries = m_indexArray.getData();
    int32_t read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        for (int32_t i = 1; i < m_faceArray[f]; ++i) {
            entries[read + i] = remap[entries[read + i]];
        }
        read += m_faceArray[f];
    }
    m_vertexCount = kept;
}

void dgPolygonSoupBuilder::finish(bool optimise) {
    dropNonFiniteVertices();
    if (m_faceCount == 0) {
        return;
    }
    dgScratchArray<int32_t> remap(m_vertexCount);
    const int32_t unique = remap.getData() ? dgWeldVertices(m_vertexArray.getData(), 12, 12, 0, m_vertexCount,
                                                            remap.getData(), kWeldTolerance)
                                           : 0;
    if (unique > 0) {
        m_vertexCount = unique;
        int32_t* const entries = m_indexArray.getData();
        int32_t read = 0;
        for (int32_t f = 0; f < m_faceCount; ++f) {
            const int32_t count = m_faceArray[f];
            for (int32_t i = 1; i < count; ++i) {
                entries[read + i] = remap[entries[read + i]];
            }
            read += count;
        }
    }
    packFaces();
    if (optimise) {
        mergeCoplanarFaces();
        packFaces();
    }
}

void dgPolygonSoupBuilder::packFaces() {
    dgGrowableArray<int32_t> faces;
    dgGrowableArray<int32_t> entries;
    if (!faces.reserve(m_faceCount) || !entries.reserve(m_indexCount)) {
        return;
    }
    int32_t faceCount = 0;
    int32_t indexCount = 0;
    int32_t local[kMaxFaceVertices];
    dgWorkStack<int32_t> list(local, kMaxFaceVertices);
    int32_t read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        const int32_t count = m_faceArray[f];
        const int32_t attribute = m_indexArray[read];
        list.clear();
        for (int32_t i = 1; i < count; ++i) {
            list.push(m_indexArray[read + i]);
        }
        read += count;
        if (list.getCount() != count - 1) {
            continue;
        }
        const int32_t kept = cleanFace(count - 1, &list[0]);
        if (kept < 3) {
            continue;
        }
        dgForEachConvexPiece(kept, &list[0], kMaxFaceVertices, [&](int32_t n, const int32_t* piece) {
            entries[indexCount++] = attribute;
            for (int32_t i = 0; i < n; ++i) {
                entries[indexCount++] = piece[i];
            }
            faces[faceCount++] = n + 1;
        });
    }
    m_faceArray.swap(faces);
    m_indexArray.swap(entries);
    m_faceCount = faceCount;
    m_indexCount = indexCount;
}

void dgPolygonSoupBuilder::mergeCoplanarFaces() {
    dgPolygonSoupBuilder result;
    dgPolygonSoupBuilder leftover;
    dgAttributeSet attributes;
    int32_t read = 0;
    for (int32_t f = 0; f < m_faceCount; ++f) {
        const int32_t start = read;
        read += m_faceArray[f];
        bool seen = false;
        attributes.insert(m_indexArray[start], seen);
        if (seen) {
            continue;
        }
        mergeAttributeFaces(result, *this, f, start, leftover);
        // Faces the mesh refused (an edge taken twice) get further passes of
        // their own.
        for (int32_t pass = 0; (pass < kMaxLeftoverPasses) && leftover.m_faceCount; ++pass) {
            dgPolygonSoupBuilder work;
            work.copyFrom(leftover);
            mergeAttributeFaces(result, work, 0, 0, leftover);
            if (leftover.m_faceCount == work.m_faceCount) {
                break;
            }
        }
        // What is still left goes over unmerged rather than being lost.
        int32_t leftoverRead = 0;
        for (int32_t k = 0; k < leftover.m_faceCount; ++k) {
            const int32_t count = leftover.m_faceArray[k];
            leftover.copyFaceTo(result, count - 1, leftover.m_indexArray.getData() + leftoverRead + 1,
                                leftover.m_indexArray[leftoverRead]);
            leftoverRead += count;
        }
        leftover.begin();
    }
    result.end(false);
    swapWith(result);
}

void dgPolygonSoupBuilder::mergeAttributeFaces(dgPolygonSoupBuilder& result,
                                               const dgPolygonSoupBuilder& source, int32_t firstFace,
                                               int32_t indexStart, dgPolygonSoupBuilder& leftover) {
    const int32_t* const faces = source.m_faceArray.getData();
    const int32_t* const entries = source.m_indexArray.getData();
    const int32_t attribute = entries[indexStart];
    leftover.begin();

    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    uint64_t localData[kMaxFaceVertices];
    dgWorkStack<uint64_t> userData(localData, kMaxFaceVertices);
    int32_t read = indexStart;
    for (int32_t f = firstFace; f < source.m_faceCount; ++f) {
        const int32_t count = faces[f] - 1;
        if (entries[read] == attribute) {
            userData.clear();
            for (int32_t i = 0; i < count; ++i) {
                userData.push(uint64_t(int64_t(attribute)));
            }
            if ((userData.getCount() != count) ||
                !mesh.dgEdgeMeshAddFaceWithData(count, entries + read + 1, &userData[0])) {
                source.copyFaceTo(leftover, count, entries + read + 1, attribute);
            }
        }
        read += faces[f];
    }
    leftover.end(false);
    mesh.dgEdgeMeshEndFace();

    const float* const vertices = source.getVertexData();
    dgEdgeMesh rest;
    mesh.dgEdgeMeshOptimize(vertices, 12, &rest);
    rest.dgEdgeMeshEndFace();

    int32_t local[kMaxFaceVertices];
    dgWorkStack<int32_t> loop(local, kMaxFaceVertices);
    dgEdgeMesh* const meshes[2] = {&mesh, &rest};
    for (dgEdgeMesh* current : meshes) {
        const uint32_t stamp = current->newStamp();
        for (dgEdgeMesh::dgEdgeNode* node = current->getFirst(); node; node = node->getNext()) {
            dgEdge* const edge = &node->getPayload();
            if ((edge->m_faceId < 0) || (edge->m_stamp == stamp)) {
                continue;
            }
            loop.clear();
            bool stored = true;
            dgEdge* ptr = edge;
            do {
                ptr->m_stamp = stamp;
                stored = loop.push(ptr->m_vertex) && stored;
                ptr = ptr->m_next;
            } while (ptr != edge);
            if (!stored || (loop.getCount() < 3)) {
                continue;
            }
            int32_t count = loop.getCount();
            // A merged face may be longer than admission takes: drop the
            // corners on straight runs and cut it along chords first.
            if (count > kMaxFaceVertices) {
                count = dgPruneCollinear(vertices, count, &loop[0]);
            }
            if (count < 3) {
                continue;
            }
            dgForEachConvexPiece(count, &loop[0], kMaxFaceVertices, [&](int32_t n, const int32_t* piece) {
                source.copyFaceTo(result, n, piece, attribute);
            });
        }
    }
}

void dgPolygonSoupBuilder::copyFaceTo(dgPolygonSoupBuilder& destination, int32_t count,
                                      const int32_t* vertexIndices, int32_t attribute) const {
    DG_ASSERT(count <= kMaxAdmitIndices);
    float local[3 * kMaxFaceVertices];
    dgWorkStack<float> coordinates(local, 3 * kMaxFaceVertices);
    if (!coordinates.reserve(int64_t(3) * count)) {
        return;
    }
    const float* const vertices = getVertexData();
    for (int32_t i = 0; i < count; ++i) {
        const float* const p = vertices + size_t(vertexIndices[i]) * 3;
        coordinates.push(p[0]);
        coordinates.push(p[1]);
        coordinates.push(p[2]);
    }
    destination.addFace(count ? &coordinates[0] : nullptr, count, attribute);
}

void dgPolygonSoupBuilder::addFace(const float* vertices, int32_t count, int32_t attribute) {
    int32_t local[kMaxFaceVertices];
    dgWorkStack<int32_t> indices(local, kMaxFaceVertices);
    for (int32_t i = 0; i < count; ++i) {
        if (!indices.push(i)) {
            return;
        }
    }
    addMesh(vertices, count, 12, 1, &count, count ? &indices[0] : nullptr, &attribute, dgGetIdentityMatrix());
}

void dgPolygonSoupBuilder::copyFrom(const dgPolygonSoupBuilder& source) {
    begin();
    if (!m_faceArray.reserve(source.m_faceCount) || !m_indexArray.reserve(source.m_indexCount) ||
        !m_vertexArray.reserve(source.m_vertexCount)) {
        return;
    }
    if (source.m_faceCount > 0) {
        std::memcpy(m_faceArray.getData(), source.m_faceArray.getData(),
                    size_t(source.m_faceCount) * sizeof(int32_t));
    }
    if (source.m_indexCount > 0) {
        std::memcpy(m_indexArray.getData(), source.m_indexArray.getData(),
                    size_t(source.m_indexCount) * sizeof(int32_t));
    }
    if (source.m_vertexCount > 0) {
        std::memcpy(static_cast<void*>(m_vertexArray.getData()), source.m_vertexArray.getData(),
                    size_t(source.m_vertexCount) * sizeof(dgSoupVertex));
    }
    m_faceCount = source.m_faceCount;
    m_indexCount = source.m_indexCount;
    m_vertexCount = source.m_vertexCount;
}

void dgPolygonSoupBuilder::swapWith(dgPolygonSoupBuilder& other) {
    std::swap(m_faceCount, other.m_faceCount);
    std::swap(m_indexCount, other.m_indexCount);
    std::swap(m_vertexCount, other.m_vertexCount);
    m_faceArray.swap(other.m_faceArray);
    m_indexArray.swap(other.m_indexArray);
    m_vertexArray.swap(other.m_vertexArray);
}

void dgPolygonSoupBuilder::duplicateSingleFace() {
    if (m_faceCount != 1) {
        return;
    }
    const int32_t count = m_faceArray[0];
    for (int32_t i = 0; i < count; ++i) {
        m_indexArray[count + i] = m_indexArray[i];
    }
    m_faceArray[1] = count;
    m_faceCount = 2;
    m_indexCount += count;
}

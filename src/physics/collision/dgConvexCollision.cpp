#include "dgConvexCollision.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgDynamicsServices.h"
#include "dgEdgeMesh.h"
#include "dgMemory.h"

DG_IMPLEMENT_CLASS(dgConvexCollision, dgCollision, "dgConvexCollision");

namespace {

// Hill-climb budget of the support vertex: enough for any table the shapes
// build, and a hard stop on a damaged one.
constexpr int32_t kSupportSteps = 128;

inline int32_t edgeIndex(const dgConvexEdge* base, const dgConvexEdge* edge) {
    return int32_t(edge - base);
}

}  // namespace

float dgCalcAngleStep(float radius) {
    const float n = std::floor(radius * 256.0f);
    if (n < 128.0f) {
        return 6.28318f / 128.0f;
    }
    if (n <= 1024.0f) {
        return 6.28318f / n;
    }
    return 6.28318f / 1024.0f;
}

dgConvexCollision::dgConvexCollision(uint32_t signature, const dgMatrix& offsetMatrix, uint32_t typeId)
    : dgCollision(signature, offsetMatrix, typeId),
      m_centreOfMass(0.0f, 0.0f, 0.0f, 1.0f),
      m_vertices(nullptr),
      m_edges(nullptr),
      m_startEdges{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
      m_edgeCount(0),
      m_vertexCount(0),
      m_userId(0),
      m_boxHalfSize(0.0f, 0.0f, 0.0f, 1.0f),
      m_boxCentre(0.0f, 0.0f, 0.0f, 1.0f) {}

dgConvexCollision::~dgConvexCollision() {
    if (m_vertices) {
        dgFree(m_vertices);
    }
    if (m_edges) {
        dgFree(m_edges);
    }
}

uint32_t dgConvexCollision::getUserId() const {
    return m_userId;
}

void dgConvexCollision::setUserId(uint32_t userId) {
    m_userId = userId;
}

int32_t dgConvexCollision::fillEdgeTable(dgEdgeMesh& mesh, dgConvexEdge* table, int32_t capacity) {
    const int32_t count = mesh.getEdgeCount();
    if (count > capacity) {
        return 0;
    }
    uint64_t index = 0;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        node->getPayload().m_userData = index++;
    }
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge& edge = node->getPayload();
        dgConvexEdge& entry = table[edge.m_userData];
        entry.m_vertex = uint32_t(edge.m_vertex);
        entry.m_twin = &table[edge.m_twin->m_userData];
        entry.m_next = &table[edge.m_next->m_userData];
        entry.m_prev = &table[edge.m_prev->m_userData];
    }
    return count;
}

bool dgConvexCollision::initMassAndBox() {
    const int32_t edgeCount = m_edgeCount;
    if (edgeCount == 0) {
        // An empty polyhedron (the null shape) has no mass and no extent.
        m_centreOfMass = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        m_boxHalfSize = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        m_boxCentre = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        return true;
    }

    DG_ASSERT(m_vertices && m_edges && (m_vertexCount > 0));

    // Volume and centroid of the coarse polyhedron, integrated about one of
    // its vertices so that a shape far from its frame's origin keeps its
    // precision.
    const dgVector& anchor = m_vertices[m_edges[0].m_vertex];
    dgVolumeIntegrals integrals(anchor);
    dgScratchArray<uint8_t> visited(edgeCount);
    dgScratchArray<dgVector> facePoints(edgeCount);
    // Without scratch memory (a failing allocation hook) the shape keeps its
    // box and support but reports no volume, rather than writing through null.
    const int32_t walked = (visited.getData() && facePoints.getData()) ? edgeCount : 0;
    if (walked) {
        std::memset(visited.getData(), 0, size_t(edgeCount));
    }
    for (int32_t i = 0; i < walked; i++) {
        if (visited[i]) {
            continue;
        }
        int32_t count = 0;
        const dgConvexEdge* edge = &m_edges[i];
        do {
            visited[edgeIndex(m_edges, edge)] = 1;
            facePoints[count++] = m_vertices[edge->m_vertex];
            edge = edge->m_next;
        } while ((edge != &m_edges[i]) && (count < edgeCount));
        // A face loop longer than the table only a damaged table can give.
        DG_ASSERT(edge == &m_edges[i]);
        if (count < 3) {
            continue;
        }
        // Made a unit plane whatever the face's size, in double (the squared
        // normal of a large face leaves the float range): a threshold in
        // absolute units drops every face of a small shape. Only a face
        // without area is left out.
        const dgVector64 p0(facePoints[0] - anchor);
        const dgVector64 e1(dgVector64(facePoints[1] - anchor) - p0);
        const dgVector64 e2(dgVector64(facePoints[2] - anchor) - p0);
        const dgVector64 n(e1.cross(e2));
        const double n2 = n % n;
        if (!(n2 > 0.0) || !std::isfinite(n2)) {
            continue;
        }
        const double scale = 1.0 / std::sqrt(n2);
        const dgPlane plane(float(n.x * scale), float(n.y * scale), float(n.z * scale), float(-(n % p0) * scale));
        integrals.addFace(count, plane, facePoints.getData());
    }
    double centre[3];
    integrals.centroid(centre);
    m_centreOfMass = dgVector(float(centre[0]), float(centre[1]), float(centre[2]), float(integrals.T0));

    // Start edges: a valid table first, so supportVertex never meets a null
    // start while the extremes are being found.
    for (int32_t i = 0; i < 6; i++) {
        m_startEdges[i] = m_edges;
    }
    for (int32_t axis = 0; axis < 3; axis++) {
        dgVector dir(0.0f, 0.0f, 0.0f, 0.0f);
        dir[axis] = 1.0f;
        m_startEdges[2 * axis] = findSupportEdge(dir);
        dir[axis] = -1.0f;
        m_startEdges[2 * axis + 1] = findSupportEdge(dir);
    }

    // Local box from the virtual support function, so a primitive's exact
    // support (rather than its coarse vertex set) bounds it.
    setLocalBox();
    return walked != 0;
}

void dgConvexCollision::clearPolyhedron() {
    if (m_vertices) {
        dgFree(m_vertices);
    }
    if (m_edges) {
        dgFree(m_edges);
    }
    m_vertices = nullptr;
    m_edges = nullptr;
    m_vertexCount = 0;
    m_edgeCount = 0;
    for (int32_t i = 0; i < 6; i++) {
        m_startEdges[i] = nullptr;
    }
    m_centreOfMass = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    m_boxHalfSize = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    m_boxCentre = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
}

void dgConvexCollision::setLocalBox() {
    dgVector boxMin(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector boxMax(0.0f, 0.0f, 0.0f, 0.0f);
    supportBox(dgGetIdentityMatrix(), boxMin, boxMax);
    m_boxHalfSize = (boxMax - boxMin).scale(0.5f);
    m_boxHalfSize.w = 0.0f;
    m_boxCentre = (boxMax + boxMin).scale(0.5f);
    m_boxCentre.w = 0.0f;
}

void dgConvexCollision::supportBox(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    for (int32_t i = 0; i < 3; i++) {
        // World axis i seen in the shape's space: column i of the rotation.
        const dgVector axis(matrix.front[i], matrix.up[i], matrix.right[i], 0.0f);
        const dgVector low(matrix.rotateVector(supportVertex(axis.scale(-1.0f))));
        const dgVector high(matrix.rotateVector(supportVertex(axis)));
        boxMin[i] = low[i] + matrix.position[i];
        boxMax[i] = high[i] + matrix.position[i];
    }
}

bool dgConvexCollision::massFitsFloat() const {
    // Bounds from the local box: the volume is at most the box's, the centre
    // lies in it, and the inertia per unit volume about any point of it is at
    // most its squared diagonal. Offsets only turn and move the shape.
    const double hx = m_boxHalfSize.x;
    const double hy = m_boxHalfSize.y;
    const double hz = m_boxHalfSize.z;
    const dgVector centre(m_offsetMatrix.transformVector(m_boxCentre));
    const double reach = std::fabs(double(centre.x)) + std::fabs(double(centre.y)) +
                         std::fabs(double(centre.z)) + hx + hy + hz;
    const double bounds[3] = {8.0 * hx * hy * hz, 4.0 * (hx * hx + hy * hy + hz * hz), reach};
    for (double bound : bounds) {
        if (!(bound <= double(FLT_MAX))) {
            return false;
        }
    }
    return true;
}

dgConvexEdge* dgConvexCollision::findSupportEdge(const dgVector& direction) const {
    if (m_edgeCount == 0) {
        return nullptr;
    }
    dgConvexEdge* current = m_edges;
    dgConvexEdge* lastMove = current;
    // Heights from the first vertex, as in supportVertex.
    const dgVector origin(m_vertices[current->m_vertex]);
    float best = 0.0f;
    // Every move strictly raises `best` and a full turn around a vertex
    // returns to lastMove, so the walk ends on any closed table; the cap only
    // guards a damaged one.
    const int64_t cap = int64_t(m_edgeCount) * int64_t(m_edgeCount) + 16;
    int64_t step = 0;
    for (; step < cap; step++) {
        dgConvexEdge* neighbour = current->m_twin;
        const float dist = (m_vertices[neighbour->m_vertex] - origin) % direction;
        if (dist > best) {
            current = neighbour;
            lastMove = neighbour;
            best = dist;
        }
        current = current->m_twin->m_next;
        if (current == lastMove) {
            break;
        }
    }
    DG_ASSERT(step < cap);
    return lastMove;
}

dgVector dgConvexCollision::supportVertex(const dgVector& direction) const {
    if (m_edgeCount == 0) {
        return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    const dgConvexEdge* start = m_edges;
    float best = 0.0f;
    if (direction.x > best) {
        start = m_startEdges[dgStartPlusX];
        best = direction.x;
    }
    if (-direction.x > best) {
        start = m_startEdges[dgStartMinusX];
        best = -direction.x;
    }
    if (direction.y > best) {
        start = m_startEdges[dgStartPlusY];
        best = direction.y;
    }
    if (-direction.y > best) {
        start = m_startEdges[dgStartMinusY];
        best = -direction.y;
    }
    if (direction.z > best) {
        start = m_startEdges[dgStartPlusZ];
        best = direction.z;
    }
    if (-direction.z > best) {
        start = m_startEdges[dgStartMinusZ];
        best = -direction.z;
    }

    // Heights are taken from the start vertex rather than the frame's origin:
    // far from the origin a vertex's dot product keeps only the digits of
    // the distance, and a neighbour a little higher (a near-duplicate vertex,
    // often the only way uphill from its twin) rounds to equal and stops the
    // walk at a vertex far below the top.
    const dgVector origin(m_vertices[start->m_vertex]);
    best = 0.0f;
    const dgConvexEdge* edge = start;
    int32_t steps = 0;
    do {
        const dgConvexEdge* neighbour = edge->m_twin;
        const float dist = (m_vertices[neighbour->m_vertex] - origin) % direction;
        if (dist > best) {
            edge = neighbour;
            start = neighbour;
            best = dist;
        }
        edge = edge->m_twin->m_next;
        steps++;
    } while ((edge != start) && (steps < kSupportSteps));
    return m_vertices[start->m_vertex];
}

void dgConvexCollision::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    const dgVector centre(matrix.transformVector(m_boxCentre));
    const dgVector& h = m_boxHalfSize;
    dgVector extent;
    for (int32_t j = 0; j < 3; j++) {
        extent[j] =
            std::fabs(matrix[0][j]) * h.x + std::fabs(matrix[1][j]) * h.y + std::fabs(matrix[2][j]) * h.z;
    }
    extent.w = 0.0f;
    boxMin = dgVector(centre.x - extent.x, centre.y - extent.y, centre.z - extent.z, centre.w);
    boxMax = dgVector(centre.x + extent.x, centre.y + extent.y, centre.z + extent.z, centre.w);
}

int32_t dgConvexCollision::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    const int32_t edgeCount = (m_edgeCount < dgConvexMaxEdges) ? int32_t(m_edgeCount) : dgConvexMaxEdges;
    if (edgeCount == 0) {
        return 0;
    }
    const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));

    // Vertices placed once; a shape with more vertices than the fixed buffer
    // takes them from a scratch block.
    dgVector localBuffer[dgConvexMaxEdges];
    dgScratchArray<dgVector> largeBuffer(m_vertexCount > dgConvexMaxEdges ? int32_t(m_vertexCount) : 0);
    dgVector* placed = largeBuffer.getData() ? largeBuffer.getData() : localBuffer;
    combined.transformPoints(&placed[0].x, int32_t(sizeof(dgVector)), &m_vertices[0].x,
                             int32_t(sizeof(dgVector)), m_vertexCount);

    uint8_t visited[dgConvexMaxEdges];
    std::memset(visited, 0, sizeof(visited));
    float face[3 * dgConvexMaxEdges];
    int32_t walked = 0;
    for (int32_t i = 0; i < edgeCount; i++) {
        if (visited[i]) {
            continue;
        }
        int32_t count = 0;
        const dgConvexEdge* edge = &m_edges[i];
        do {
            const int32_t index = edgeIndex(m_edges, edge);
            if (index < dgConvexMaxEdges) {
                visited[index] = 1;
            }
            const dgVector& p = placed[edge->m_vertex];
            face[3 * count + 0] = p.x;
            face[3 * count + 1] = p.y;
            face[3 * count + 2] = p.z;
            count++;
            edge = edge->m_next;
        } while ((edge != &m_edges[i]) && (count < dgConvexMaxEdges));
        walked += count;
        callback(body, count, face, 0);
    }
    return walked;
}

void dgConvexCollision::inertiaFaceCallback(const dgBody* body, int32_t vertexCount, const float* vertices,
                                            int32_t) {
    DG_ASSERT(body && body->m_userData);
    dgVolumeIntegrals* integrals = static_cast<dgVolumeIntegrals*>(body->m_userData);
    DG_ASSERT(integrals);
    integrals->addFaceWithInertia(vertexCount, vertices);
}

float dgConvexCollision::calcVolumeIntegrals(dgVector& diagonalSums, dgVector& products,
                                             dgVector& firstMoments) const {
    dgVolumeIntegrals integrals;
    // Virtual walk on purpose: a curved primitive's own walk is far finer
    // than the coarse polyhedron its support climbs over, and sets the
    // accuracy of its mass properties.
    integrals.addShapeFaces(*this);

    double first[3];
    double second[3];
    double cross[3];
    integrals.momentsAboutOrigin(first, second, cross);
    diagonalSums = dgVector(float(second[1] + second[2]), float(second[0] + second[2]),
                            float(second[0] + second[1]), 1.0f);
    products = dgVector(float(cross[0]), float(cross[1]), float(cross[2]), 1.0f);
    firstMoments = dgVector(float(first[0]), float(first[1]), float(first[2]), 1.0f);
    return float(integrals.T0);
}

float dgConvexCollision::getVolume() const {
    dgVolumeIntegrals integrals;
    integrals.addShapeFaces(*this);
    return float(integrals.T0);
}

void dgConvexCollision::calcInertia(dgVector& inertia, dgVector& origin) const {
    // About a point of the shape, shifted to the centroid once: the centroid
    // may lie far from the frame's origin and the shape be small.
    dgVolumeIntegrals integrals;
    integrals.addShapeFaces(*this);
    integrals.massProperties(inertia, origin);
}

bool dgConvexCollision::isConvexMesh(dgEdgeMesh& mesh) const {
    const float* vertices = &m_vertices[0].x;
    const int32_t stride = int32_t(sizeof(dgVector));
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge* edge = &node->getPayload();
        if (edge->m_faceId < 0) {
            return false;
        }
        const dgVector normal(mesh.dgEdgeMeshFaceNormal(edge, vertices, stride));
        const dgEdge* e = edge;
        do {
            const dgVector& q = m_vertices[e->m_twin->m_vertex];
            for (const dgEdge* n = e->m_twin->m_next->m_next; n != e->m_twin; n = n->m_next) {
                if (((m_vertices[n->m_vertex] - q) % normal) > 0.0f) {
                    return false;
                }
            }
            e = e->m_next;
        } while (e != edge);
    }
    return true;
}

int32_t dgConvexHullSupportIndex(int32_t count, const dgVector* points, const dgVector& direction) {
    const float dx = direction.x;
    const float dy = direction.y;
    const float dz = direction.z;
    float best = -1.0e10f;
    int32_t index = -1;
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const float d0 = points[i + 0].x * dx + points[i + 0].y * dy + points[i + 0].z * dz;
        const float d1 = points[i + 1].x * dx + points[i + 1].y * dy + points[i + 1].z * dz;
        const float d2 = points[i + 2].x * dx + points[i + 2].y * dy + points[i + 2].z * dz;
        const float d3 = points[i + 3].x * dx + points[i + 3].y * dy + points[i + 3].z * dz;
        if (d0 > best) {
            best = d0;
            index = i;
        }
        if (d1 > best) {
            best = d1;
            index = i + 1;
        }
        if (d2 > best) {
            best = d2;
            index = i + 2;
        }
        if (d3 > best) {
            best = d3;
            index = i + 3;
        }
    }
    for (; i < count; i++) {
        const float d = points[i].x * dx + points[i].y * dy + points[i].z * dz;
        if (d > best) {
            best = d;
            index = i;
        }
    }
    return index;
}

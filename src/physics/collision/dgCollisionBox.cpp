#include "dgCollisionBox.h"

#include <cmath>

#include "dgAssert.h"

DG_IMPLEMENT_CLASS(dgCollisionBox, dgConvexCollision, "dgCollisionBox");

dgShapeTables<dgBoxTables> dgCollisionBox::s_sharedTables;

namespace {

// Squared distance under which two contour points are one.
constexpr float kContourMergeDist2 = 1.0e-8f;

}  // namespace

bool dgBoxTables::build() {
    static const int32_t kFaces[6 * 4] = {
        0, 4, 5, 1,  // +y
        0, 1, 3, 2,  // +z
        1, 5, 7, 3,  // -x
        5, 4, 6, 7,  // -z
        4, 0, 2, 6,  // +x
        6, 2, 3, 7,  // -y
    };
    static const int32_t kFaceIndexCounts[6] = {4, 4, 4, 4, 4, 4};
    return dgBuildShapeEdgeTable(6, kFaceIndexCounts, kFaces, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionBox::dgBoxLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgConvexEdge* dgCollisionBox::dgBoxEdgeTable() {
    const dgBoxTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

dgCollisionBox::dgCollisionBox(uint32_t signature, float dx, float dy, float dz, const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeBox),
      m_halfExtents(std::fabs(dx) * 0.5f, std::fabs(dy) * 0.5f, std::fabs(dz) * 0.5f, 1.0f) {
    for (int32_t i = 0; i < kVertexCount; i++) {
        m_corners[i] = dgVector((i & 1) ? -m_halfExtents.x : m_halfExtents.x,
                                (i & 2) ? -m_halfExtents.y : m_halfExtents.y,
                                (i & 4) ? -m_halfExtents.z : m_halfExtents.z, 1.0f);
    }
    dgBoxTables* tables = s_sharedTables.acquire();
    if (tables) {
        lendPolyhedron(m_corners, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionBox::~dgCollisionBox() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionBox::setCollisionBBox(const dgVector&, const dgVector&) {}

void dgCollisionBox::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    const dgVector& h = m_halfExtents;
    dgVector extent(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t j = 0; j < 3; j++) {
        extent[j] =
            std::fabs(matrix[0][j]) * h.x + std::fabs(matrix[1][j]) * h.y + std::fabs(matrix[2][j]) * h.z;
    }
    const dgVector& origin = matrix.position;
    boxMin = dgVector(origin.x - extent.x, origin.y - extent.y, origin.z - extent.z, 1.0f);
    boxMax = dgVector(origin.x + extent.x, origin.y + extent.y, origin.z + extent.z, 1.0f);
}

float dgCollisionBox::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                              dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionBox::castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const {
    // q0..q1 is the part of the segment not yet cut away; each plane moves
    // q0 forward to where the segment enters its slab or q1 back to where it
    // leaves. Parameters are taken on the caller's p0 and p1, so clipping
    // error does not accumulate into t.
    static const int32_t kAxisOrder[3] = {0, 2, 1};
    dgVector q0(p0);
    dgVector q1(p1);
    float bestT = 0.0f;
    bool hit = false;
    for (int32_t k = 0; k < 3; k++) {
        const int32_t i = kAxisOrder[k];
        const float h = m_halfExtents[i];
        for (int32_t side = 0; side < 2; side++) {
            const float sign = side ? -1.0f : 1.0f;
            const float plane = sign * h;
            // Distances beyond the plane, outward positive.
            const float a = sign * q0[i];
            const float b = sign * q1[i];
            if (a >= h) {
                // Both ends beyond, or the rest of the segment lies in the
                // plane (grazing): no hit. An end exactly on the plane while
                // the start is beyond it is an entry at that end.
                if ((b > h) || (b == h && a == h)) {
                    return kRayMiss;
                }
                // a != b here, hence p1[i] != p0[i]: clipping never changes
                // a coordinate along which the whole segment is constant.
                float t = (plane - p0[i]) / (p1[i] - p0[i]);
                if (t > 1.0f) {
                    t = 1.0f;
                }
                if (t > bestT) {
                    bestT = t;
                    contact.normal = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
                    contact.normal[i] = sign;
                    contact.userId = dgContactUserId(m_userId);
                    hit = true;
                }
                const float f = (plane - q0[i]) / (q1[i] - q0[i]);
                q0 = q0 + (q1 - q0).scale(f);
                q0[i] = plane;
            } else if (b > h) {
                const float f = (plane - q0[i]) / (q1[i] - q0[i]);
                q1 = q0 + (q1 - q0).scale(f);
                q1[i] = plane;
            }
        }
    }
    return hit ? bestT : kRayMiss;
}

uint32_t dgCollisionBox::calcSignature() const {
    const float dimensions[3] = {m_halfExtents.x, m_halfExtents.y, m_halfExtents.z};
    return dgShapeSignature(dgShapeBox, dimensions, 3, m_offsetMatrix);
}

dgVector dgCollisionBox::supportVertex(const dgVector& direction) const {
    return dgVector((direction.x < 0.0f) ? -m_halfExtents.x : m_halfExtents.x,
                    (direction.y < 0.0f) ? -m_halfExtents.y : m_halfExtents.y,
                    (direction.z < 0.0f) ? -m_halfExtents.z : m_halfExtents.z, 0.0f);
}

int32_t dgCollisionBox::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                              dgVector* points) const {
    const dgPlane plane(normal, -(normal % point));
    return calcPlaneContour(plane, points);
}

int32_t dgCollisionBox::calcPlaneContour(const dgPlane& plane, dgVector* points) const {
    const dgConvexEdge* const table = m_edges;
    if (!table) {
        return 0;
    }

    float s[kVertexCount];
    bool anyBelow = false;
    for (int32_t i = 0; i < kVertexCount; i++) {
        s[i] = plane.evaluate(m_corners[i]);
        anyBelow |= (s[i] < 0.0f);
    }
    // A corner exactly on the plane is given to one side, as if the plane had
    // moved a hair: the walk then follows a contour in general position and
    // its crossing points on that corner's edges are the corner itself. While
    // some corner lies strictly below, the corners on the plane go above;
    // otherwise below, so a plane that only touches the box still yields the
    // touching face, edge or corner.
    bool above[kVertexCount];
    for (int32_t i = 0; i < kVertexCount; i++) {
        above[i] = anyBelow ? (s[i] >= 0.0f) : (s[i] > 0.0f);
    }

    // Every split of the corners splits an edge with an end among corners
    // 0-3, i.e. one of the first twelve entries; the full scan only guards the
    // table.
    const dgConvexEdge* start = nullptr;
    for (int32_t i = 0; (i < kEdgeCount) && !start; i++) {
        const dgConvexEdge* edge = &table[i];
        if (above[edge->m_vertex] != above[edge->m_twin->m_vertex]) {
            start = above[edge->m_vertex] ? edge : edge->m_twin;
        }
    }
    if (!start) {
        return 0;
    }

    int32_t count = 0;
    const dgConvexEdge* edge = start;
    // A contour in general position crosses at most six edges; the bound
    // only guards a damaged table.
    int32_t step = 0;
    for (; step < kEdgeCount; step++) {
        // The edge runs from above to below, so the fraction lies in [0, 1]
        // and the denominator is strictly positive.
        const int32_t origin = int32_t(edge->m_vertex);
        const int32_t target = int32_t(edge->m_twin->m_vertex);
        const dgVector& o = m_corners[origin];
        const float f = s[origin] / (s[origin] - s[target]);
        dgVector p(o + (m_corners[target] - o).scale(f));
        p.w = o.w;
        bool keep = (count < kMaxContourPoints);
        if (keep && count > 0) {
            const dgVector delta(p - points[count - 1]);
            keep = (delta % delta) >= kContourMergeDist2;
        }
        if (keep) {
            points[count++] = p;
        }

        const dgConvexEdge* next = edge->m_next;
        while ((next != edge) && !above[next->m_twin->m_vertex]) {
            next = next->m_next;
        }
        if (next == edge) {
            break;
        }
        edge = next->m_twin;
        if (edge == start) {
            break;
        }
    }
    DG_ASSERT(step < kEdgeCount);

    if (count >= 2) {
        const dgVector delta(points[count - 1] - points[0]);
        if ((delta % delta) < kContourMergeDist2) {
            count--;
        }
    }
    return count;
}

#include "dgCollisionSphere.h"

#include <cmath>

#include "dgWeld.h"

DG_IMPLEMENT_CLASS(dgCollisionSphere, dgConvexCollision, "dgCollisionSphere");

dgShapeTables<dgSphereTables> dgCollisionSphere::s_sharedTables;

namespace {

// Directions this close to +-x have no usable azimuth.
constexpr float kPoleCosine = 0.9998f;

dgVector normalised(const dgVector& v) {
    return v.scale(1.0f / std::sqrt(v % v));
}

}  // namespace

void dgCollisionSphere::octahedronFace(int32_t face, dgVector& a, dgVector& b, dgVector& c) {
    static const float kCorners[8][3][3] = {
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},    {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}},
        {{0, 0, 1}, {-1, 0, 0}, {0, -1, 0}},  {{0, 0, 1}, {0, -1, 0}, {1, 0, 0}},
        {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}},   {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
        {{0, 0, -1}, {0, -1, 0}, {-1, 0, 0}}, {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
    };
    a = dgVector::dgVector3(kCorners[face][0]);
    b = dgVector::dgVector3(kCorners[face][1]);
    c = dgVector::dgVector3(kCorners[face][2]);
}

bool dgSphereTables::build() {
    constexpr int32_t kCorners = 3 * 8 * 4;
    dgVector corners[kCorners];
    int32_t count = 0;
    for (int32_t face = 0; face < 8; face++) {
        dgVector a, b, c;
        dgCollisionSphere::octahedronFace(face, a, b, c);
        dgCollisionSphere::subdivideTriangle(1, a, b, c, count, corners);
    }
    int32_t indices[kCorners];
    const int32_t unique = dgWeldVertices(corners, int32_t(sizeof(dgVector)), 12, 0, count, indices, 0.001f);
    if (unique != kVertexCount) {
        return false;
    }
    for (int32_t i = 0; i < kVertexCount; i++) {
        m_unitVertices[i] = corners[i];
    }
    int32_t faceIndexCounts[kCorners / 3];
    for (int32_t& faceCount : faceIndexCounts) {
        faceCount = 3;
    }
    return dgBuildShapeEdgeTable(kCorners / 3, faceIndexCounts, indices, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionSphere::dgSphereLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgVector* dgCollisionSphere::dgSphereUnitVertices() {
    const dgSphereTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_unitVertices : nullptr;
}

const dgConvexEdge* dgCollisionSphere::dgSphereEdgeTable() {
    const dgSphereTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

dgCollisionSphere::dgCollisionSphere(uint32_t signature, float radius, const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeSphere),
      m_radius(radius),
      m_spare(0.0f),
      m_angleStep(radius) {
    dgSphereTables* tables = s_sharedTables.acquire();
    if (tables) {
        for (int32_t i = 0; i < kVertexCount; i++) {
            const dgVector& unit = tables->m_unitVertices[i];
            m_sphereVertices[i] = dgVector(unit.x * radius, unit.y * radius, unit.z * radius, unit.w);
        }
        lendPolyhedron(m_sphereVertices, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionSphere::~dgCollisionSphere() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionSphere::setCollisionBBox(const dgVector&, const dgVector&) {}

void dgCollisionSphere::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    const dgVector& origin = matrix.position;
    boxMin = dgVector(origin.x - m_radius, origin.y - m_radius, origin.z - m_radius, 1.0f);
    boxMax = dgVector(origin.x + m_radius, origin.y + m_radius, origin.z + m_radius, 1.0f);
}

void dgCollisionSphere::subdivideTriangle(int32_t level, const dgVector& p0, const dgVector& p1,
                                          const dgVector& p2, int32_t& count, dgVector* out) {
    if (level <= 0) {
        out[count] = p0;
        out[count + 1] = p1;
        out[count + 2] = p2;
        count += 3;
        return;
    }
    const dgVector m01(normalised(p0 + p1));
    const dgVector m12(normalised(p1 + p2));
    const dgVector m20(normalised(p2 + p0));
    subdivideTriangle(level - 1, p0, m01, m20, count, out);
    subdivideTriangle(level - 1, p1, m12, m01, count, out);
    subdivideTriangle(level - 1, p2, m20, m12, count, out);
    subdivideTriangle(level - 1, m01, m12, m20, count, out);
}

int32_t dgCollisionSphere::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    return forEachPolygonPlaced(m_offsetMatrix, body, callback);
}

int32_t dgCollisionSphere::forEachPolygonPlaced(const dgMatrix& offsetMatrix, const dgBody* body,
                                                dgCollisionPolygonCallback callback) const {
    constexpr int32_t kCorners = 3 * kWalkTriangles;
    dgVector corners[kCorners];
    int32_t count = 0;
    for (int32_t face = 0; face < 8; face++) {
        dgVector a, b, c;
        octahedronFace(face, a, b, c);
        subdivideTriangle(kWalkLevel, a, b, c, count, corners);
    }
    for (int32_t i = 0; i < count; i++) {
        corners[i] = corners[i].scale(m_radius);
    }
    const dgMatrix combined(offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    float placed[3 * kCorners];
    combined.transformPoints(placed, 3 * int32_t(sizeof(float)), &corners[0].x, int32_t(sizeof(dgVector)),
                             count);
    for (int32_t i = 0; i < count; i += 3) {
        callback(body, 3, &placed[3 * i], 0);
    }
    return count;
}

float dgCollisionSphere::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                 dgCollisionRayPrefilter prefilter, const dgBody* body,
                                 void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionSphere::castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const {
    const dgVector d(p1 - p0);
    const float a = d % d;
    const float b = 2.0f * (p0 % d);
    const float c = (p0 % p0) - m_radius * m_radius;
    const float disc = b * b - 4.0f * a * c;
    // A zero-length segment (a = 0) has disc = 0 and misses here.
    if (!(disc > 0.0f) || !(a > 0.0f)) {
        return kRayMiss;
    }
    const float root = std::sqrt(disc);
    const float t0 = (-b - root) / (2.0f * a);
    const float t1 = (root - b) / (2.0f * a);
    const float t = (t0 < t1) ? t0 : t1;
    // Above 1 is a miss by the ray contract, and the normal is written for
    // every hit, t = 1 included. NaN falls through to the miss.
    if (!(t >= 0.0f && t <= 1.0f)) {
        return kRayMiss;
    }
    dgVector n(p0 + d.scale(t));
    float length2 = n % n;
    if (!(length2 > 0.0f)) {
        // A hit at the centre: only a degenerate radius gets here.
        n = d.scale(-1.0f);
        length2 = a;
    }
    contact.normal = n.scale(1.0f / std::sqrt(length2));
    contact.normal.w = p0.w;
    contact.userId = dgContactUserId(m_userId);
    return t;
}

uint32_t dgCollisionSphere::calcSignature() const {
    return dgShapeSignature(dgShapeSphere, &m_radius, 1, m_offsetMatrix);
}

dgVector dgCollisionSphere::supportVertex(const dgVector& direction) const {
    return gridSupport(direction, m_radius, m_angleStep);
}

dgVector dgCollisionSphere::gridSupport(const dgVector& direction, float radius, const dgAngleStep& grid) {
    const float r = radius;
    if (direction.x > kPoleCosine) {
        return dgVector(r, 0.0f, 0.0f, 0.0f);
    }
    if (direction.x < -kPoleCosine) {
        return dgVector(-r, 0.0f, 0.0f, 0.0f);
    }

    dgVector candidates[4];
    grid.gridCell(direction, direction.x, candidates);
    for (int32_t i = 0; i < 4; i++) {
        candidates[i] = candidates[i].scale(r);
    }
    return candidates[dgMax(dgConvexHullSupportIndex(4, candidates, direction), 0)];
}

int32_t dgCollisionSphere::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                 dgVector* points) const {
    points[0] = normal.scale(normal % point);
    return 1;
}

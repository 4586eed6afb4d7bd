#include "dgCollisionCylinder.h"

#include <cmath>

DG_IMPLEMENT_CLASS(dgCollisionCylinder, dgConvexCollision, "dgCollisionCylinder");

dgShapeTables<dgCylinderTables> dgCollisionCylinder::s_sharedTables;

namespace {

// Points per rim of the coarse prism.
constexpr int32_t kRimPoints = dgCollisionCylinder::kVertexCount / 2;
// Below this the ray's quadratic has no usable crossing (tangent or parallel
// to the axis).
constexpr float kMinDiscriminant = 1.0e-8f;
// Normals this close to the axis cut the prism across its ends, where the
// turn about x is not needed (and not defined for the exact axis).
constexpr float kAxialNormal = 0.999f;

}  // namespace

bool dgCylinderTables::build() {
    // Side quads, then the -x end and the +x end, all outward.
    return dgBuildRingEdgeTable(2, kRimPoints, false, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionCylinder::dgCylinderLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgConvexEdge* dgCollisionCylinder::dgCylinderEdgeTable() {
    const dgCylinderTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

dgCollisionCylinder::dgCollisionCylinder(uint32_t signature, float radius, float height,
                                         const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeCylinder),
      m_height(std::fabs(height) * 0.5f),
      m_radius(std::fabs(radius)),
      m_angleStep(std::fabs(radius)) {
    for (int32_t k = 0; k < kRimPoints; k++) {
        const float angle = float(k) * (6.28318f / float(kRimPoints));
        const float y = m_radius * std::cos(angle);
        const float z = m_radius * std::sin(angle);
        m_cylinderVertices[k] = dgVector(-m_height, y, z, 1.0f);
        m_cylinderVertices[k + kRimPoints] = dgVector(m_height, y, z, 1.0f);
    }
    dgCylinderTables* tables = s_sharedTables.acquire();
    if (tables) {
        lendPolyhedron(m_cylinderVertices, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionCylinder::~dgCollisionCylinder() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionCylinder::setCollisionBBox(const dgVector&, const dgVector&) {}

int32_t dgCollisionCylinder::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    constexpr int32_t kRing = kWalkSegments;
    dgVector rings[2 * kRing];
    for (int32_t k = 0; k < kRing; k++) {
        const float angle = float(k) * (6.28318f / float(kRing));
        const float y = m_radius * std::cos(angle);
        const float z = m_radius * std::sin(angle);
        rings[k] = dgVector(-m_height, y, z, 1.0f);
        rings[kRing + k] = dgVector(m_height, y, z, 1.0f);
    }
    const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    float placed[3 * 2 * kRing];
    combined.transformPoints(placed, 3 * int32_t(sizeof(float)), &rings[0].x, int32_t(sizeof(dgVector)),
                             2 * kRing);
    const float* const minus = placed;
    const float* const plus = placed + 3 * kRing;

    auto copyPoint = [](float* dst, const float* src) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    };
    float face[3 * kRing];
    for (int32_t k = 0; k < kRing; k++) {
        const int32_t prev = (k == 0) ? kRing - 1 : k - 1;
        copyPoint(&face[0], &minus[3 * prev]);
        copyPoint(&face[3], &minus[3 * k]);
        copyPoint(&face[6], &plus[3 * k]);
        copyPoint(&face[9], &plus[3 * prev]);
        callback(body, 4, face, 0);
    }
    for (int32_t k = 0; k < kRing; k++) {
        copyPoint(&face[3 * k], &minus[3 * (kRing - 1 - k)]);
    }
    callback(body, kRing, face, 0);
    callback(body, kRing, plus, 0);
    return kRing + 2;
}

float dgCollisionCylinder::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                   dgCollisionRayPrefilter prefilter, const dgBody* body,
                                   void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionCylinder::castSegment(const dgVector& p0, const dgVector& p1,
                                       dgContactPoint& contact) const {
    const float h = m_height;
    const float r2 = m_radius * m_radius;
    const dgVector d(p1 - p0);

    // Entering through the end disc at x = side * h: the segment must come
    // from outside that plane and reach it (ending on it counts), and cross it
    // strictly inside the rim.
    auto endDisc = [&](float side) -> float {
        const float plane = side * h;
        if (!(side * p1.x <= h)) {
            return kRayMiss;
        }
        const float t = (plane - p0.x) / (p1.x - p0.x);
        const float y = p0.y + d.y * t;
        const float z = p0.z + d.z * t;
        if (!(y * y + z * z - r2 < 0.0f) || !(t >= 0.0f && t <= 1.0f)) {
            return kRayMiss;
        }
        contact.normal = dgVector(side, 0.0f, 0.0f, 0.0f);
        contact.userId = dgContactUserId(m_userId);
        return t;
    };

    const float c = p0.y * p0.y + p0.z * p0.z - r2;
    if (c > 0.0f) {
        // Outside the infinite cylinder: find where the segment enters it.
        const float a = d.y * d.y + d.z * d.z;
        const float b = 2.0f * (p0.y * d.y + p0.z * d.z);
        const float disc = b * b - 4.0f * a * c;
        // Also rejects a segment parallel to the axis (a = b = 0) and NaN.
        if (!(disc > kMinDiscriminant)) {
            return kRayMiss;
        }
        // Both roots have the sign of -b (their product c / a is positive):
        // moving away from the axis never enters.
        if (!(b < 0.0f)) {
            return kRayMiss;
        }
        // The smaller root in the form that does not cancel when the segment
        // is nearly tangent.
        const float t = 2.0f * c / (std::sqrt(disc) - b);
        if (!(t <= 1.0f)) {
            return kRayMiss;
        }
        const float qx = p0.x + d.x * t;
        if (qx > h) {
            return endDisc(1.0f);
        }
        if (qx < -h) {
            return endDisc(-1.0f);
        }
        const float qy = p0.y + d.y * t;
        const float qz = p0.z + d.z * t;
        const float length2 = qy * qy + qz * qz;
        if (!(length2 > 0.0f)) {
            // Only a zero radius gets here.
            return kRayMiss;
        }
        const float inv = 1.0f / std::sqrt(length2);
        contact.normal = dgVector(0.0f, qy * inv, qz * inv, 0.0f);
        contact.userId = dgContactUserId(m_userId);
        return t;
    }
    // Within the infinite cylinder: only an end disc can be entered, and only
    // from beyond it.
    if (p0.x > h) {
        return endDisc(1.0f);
    }
    if (p0.x < -h) {
        return endDisc(-1.0f);
    }
    return kRayMiss;
}

uint32_t dgCollisionCylinder::calcSignature() const {
    const float dimensions[2] = {m_radius, m_height};
    return dgShapeSignature(dgShapeCylinder, dimensions, 2, m_offsetMatrix);
}

dgVector dgCollisionCylinder::supportVertex(const dgVector& direction) const {
    const float x = (direction.x > 0.0f) ? m_height : -m_height;
    // Azimuth about x from +z toward +y, snapped down to the grid; the other
    // candidate is one step up.
    float sin0;
    float cos0;
    m_angleStep.cellSinCos(m_angleStep.snappedCell(std::atan2(direction.y, direction.z)), sin0, cos0);
    const float sin1 = sin0 * m_angleStep.m_cos + cos0 * m_angleStep.m_sin;
    const float cos1 = cos0 * m_angleStep.m_cos - sin0 * m_angleStep.m_sin;
    float y = m_radius * sin0;
    float z = m_radius * cos0;
    const float y1 = m_radius * sin1;
    const float z1 = m_radius * cos1;
    if ((direction.y * y1 + direction.z * z1) > (direction.y * y + direction.z * z)) {
        y = y1;
        z = z1;
    }
    return dgVector(x, y, z, 1.0f);
}

dgVector dgCollisionCylinder::supportVertexExact(const dgVector& direction) const {
    const float x = (direction.x > 0.0f) ? m_height : -m_height;
    const float scale =
        m_radius / std::sqrt(direction.y * direction.y + direction.z * direction.z + 1.0e-12f);
    return dgVector(x, direction.y * scale, direction.z * scale, 1.0f);
}

int32_t dgCollisionCylinder::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                   dgVector* points) const {
    const float radial2 = normal.y * normal.y + normal.z * normal.z;
    if ((std::fabs(normal.x) >= kAxialNormal) || !(radial2 > 0.0f)) {
        return dgConvexCollision::calcPlaneIntersection(normal, point, points);
    }
    // Turn about x so that the normal has no z: the prism is then always cut
    // with a vertex toward the plane's tilt, whatever the azimuth.
    const float inv = 1.0f / std::sqrt(radial2);
    const float c = normal.y * inv;
    const float s = normal.z * inv;
    const dgMatrix turn(dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, c, s, 0.0f),
                        dgVector(0.0f, -s, c, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    dgVector localNormal(turn.inverseRotateVector(normal));
    localNormal.w = normal.w;
    const dgVector localPoint(turn.inverseRotateVector(point));
    const int32_t count = dgConvexCollision::calcPlaneIntersection(localNormal, localPoint, points);
    turn.transformPoints(&points[0].x, int32_t(sizeof(dgVector)), &points[0].x, int32_t(sizeof(dgVector)),
                         count);
    return count;
}

#include "dgCollisionCone.h"

#include <cmath>

DG_IMPLEMENT_CLASS(dgCollisionCone, dgConvexCollision, "dgCollisionCone");

dgShapeTables<dgConeTables> dgCollisionCone::s_sharedTables;

namespace {

constexpr int32_t kRimPoints = dgCollisionCone::kRimPoints;
constexpr int32_t kApex = kRimPoints;
// Normals this close to the axis cut the pyramid across its base, where the
// turn about x is not needed (and not defined for the exact axis).
constexpr float kAxialNormal = 0.999f;

}  // namespace

bool dgConeTables::build() {
    // Side triangles (k-1, k, apex), then the base, all outward.
    constexpr int32_t kFaces = kRimPoints + 1;
    int32_t counts[kFaces];
    int32_t indices[3 * kRimPoints + kRimPoints];
    int32_t n = 0;
    for (int32_t k = 0; k < kRimPoints; k++) {
        counts[k] = 3;
        indices[n++] = (k == 0) ? kRimPoints - 1 : k - 1;
        indices[n++] = k;
        indices[n++] = kApex;
    }
    counts[kRimPoints] = kRimPoints;
    for (int32_t k = kRimPoints - 1; k >= 0; k--) {
        indices[n++] = k;
    }
    return dgBuildShapeEdgeTable(kFaces, counts, indices, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionCone::dgConeLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgConvexEdge* dgCollisionCone::dgConeEdgeTable() {
    const dgConeTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

dgCollisionCone::dgCollisionCone(uint32_t signature, float radius, float height, const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeCone),
      m_height(std::fabs(height) * 0.5f),
      m_radius(std::fabs(radius)),
      m_sinHalfAngle(0.0f),
      m_angleStep(std::fabs(radius)) {
    const float slant = std::sqrt(radius * radius + height * height);
    if (slant > 0.0f) {
        m_sinHalfAngle = m_radius / slant;
    }
    for (int32_t k = 0; k < kRimPoints; k++) {
        const float angle = float(k) * (6.28318f / float(kRimPoints));
        m_coneVertices[k] = dgVector(-m_height, m_radius * std::cos(angle), m_radius * std::sin(angle), 1.0f);
    }
    m_coneVertices[kApex] = dgVector(m_height, 0.0f, 0.0f, 1.0f);

    dgConeTables* tables = s_sharedTables.acquire();
    if (tables) {
        lendPolyhedron(m_coneVertices, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionCone::~dgCollisionCone() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionCone::setCollisionBBox(const dgVector&, const dgVector&) {}

uint32_t dgCollisionCone::calcSignature() const {
    const float dimensions[2] = {m_radius, m_height};
    return dgShapeSignature(dgShapeCone, dimensions, 2, m_offsetMatrix);
}

dgVector dgCollisionCone::supportVertex(const dgVector& direction) const {
    // For a unit direction the apex beats every rim point exactly when d.x
    // exceeds the sine of the half angle.
    if (direction.x > m_sinHalfAngle) {
        return dgVector(m_height, 0.0f, 0.0f, 1.0f);
    }
    // Azimuth about x from +z toward +y, snapped down to the grid; the other
    // candidate is one step up.
    float sin0;
    float cos0;
    m_angleStep.cellSinCos(m_angleStep.snappedCell(std::atan2(direction.y, direction.z)), sin0, cos0);
    const float sin1 = sin0 * m_angleStep.m_cos + cos0 * m_angleStep.m_sin;
    const float cos1 = cos0 * m_angleStep.m_cos - sin0 * m_angleStep.m_sin;
    const float y0 = m_radius * sin0;
    const float z0 = m_radius * cos0;
    const float y1 = m_radius * sin1;
    const float z1 = m_radius * cos1;
    if ((direction.y * y1 + direction.z * z1) > (direction.y * y0 + direction.z * z0)) {
        return dgVector(-m_height, y1, z1, 1.0f);
    }
    return dgVector(-m_height, y0, z0, 1.0f);
}

int32_t dgCollisionCone::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                               dgVector* points) const {
    if (std::fabs(normal.x) >= kAxialNormal) {
        return dgConvexCollision::calcPlaneIntersection(normal, point, points);
    }
    // Turn about x so that the normal has no z component and a positive y:
    // the octagon is then cut with one of its vertices facing the tilt, the
    // same for every azimuth of the plane.
    const float radial = std::sqrt(normal.y * normal.y + normal.z * normal.z);
    const float c = normal.y / radial;
    const float s = normal.z / radial;
    const dgMatrix turn(dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, c, s, 0.0f),
                        dgVector(0.0f, -s, c, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    const dgVector turnedNormal(turn.inverseRotateVector(normal));
    const dgVector turnedPoint(turn.inverseRotateVector(point));
    const int32_t count = dgConvexCollision::calcPlaneIntersection(turnedNormal, turnedPoint, points);
    turn.transformPoints(&points[0].x, int32_t(sizeof(dgVector)), &points[0].x, int32_t(sizeof(dgVector)),
                         count);
    return count;
}

int32_t dgCollisionCone::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    // Rim points 0 .. kWalkSegments-1, then the apex.
    dgVector local[kWalkSegments + 1];
    for (int32_t k = 0; k < kWalkSegments; k++) {
        const float angle = float(k) * (6.28318f / float(kWalkSegments));
        local[k] = dgVector(-m_height, m_radius * std::cos(angle), m_radius * std::sin(angle), 1.0f);
    }
    local[kWalkSegments] = dgVector(m_height, 0.0f, 0.0f, 1.0f);
    const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    float placed[3 * (kWalkSegments + 1)];
    combined.transformPoints(placed, 3 * int32_t(sizeof(float)), &local[0].x, int32_t(sizeof(dgVector)),
                             kWalkSegments + 1);

    const float* apex = &placed[3 * kWalkSegments];
    int32_t corners = 0;
    for (int32_t k = 0; k < kWalkSegments; k++) {
        const float* prev = &placed[3 * ((k == 0) ? kWalkSegments - 1 : k - 1)];
        const float* cur = &placed[3 * k];
        const float face[9] = {prev[0], prev[1], prev[2], cur[0], cur[1], cur[2], apex[0], apex[1], apex[2]};
        callback(body, 3, face, 0);
        corners += 3;
    }
    float base[3 * kWalkSegments];
    for (int32_t k = 0; k < kWalkSegments; k++) {
        const float* p = &placed[3 * (kWalkSegments - 1 - k)];
        base[3 * k + 0] = p[0];
        base[3 * k + 1] = p[1];
        base[3 * k + 2] = p[2];
    }
    callback(body, kWalkSegments, base, 0);
    return corners + kWalkSegments;
}

#include "dgCollisionChamferCylinder.h"

#include <cmath>

DG_IMPLEMENT_CLASS(dgCollisionChamferCylinder, dgConvexCollision, "dgCollisionChamferCylinder");

dgShapeTables<dgChamferCylinderTables> dgCollisionChamferCylinder::s_sharedTables;

namespace {

constexpr int32_t kRings = dgCollisionChamferCylinder::kRingCount;
constexpr int32_t kRingPoints = dgCollisionChamferCylinder::kRingPoints;
// Directions this close to +-x have no usable azimuth: the flat face's rim
// point answers for them.
constexpr float kPoleCosine = 0.9998f;
// Profile steps of the coarse rings (pi / 4) and of the walk's rows (pi / 12).
constexpr float kRingProfileStep = 0.7853975f;
constexpr float kWalkProfileStep = 0.2617992f;
// Keeps the azimuth of a direction along the axis finite.
constexpr float kAzimuthGuard = 1.0e-12f;
constexpr float kSurfaceGuard = 1.0e-14f;
// A direction with less than this across the axis runs parallel to it.
constexpr float kAxialDirection2 = 1.0e-10f;
// Normals with more z than this take a different helper axis for the frame
// of the section plane, so the cross product never vanishes.
constexpr float kFrameZLimit = 0.577f;

}  // namespace

bool dgChamferCylinderTables::build() {
    // The ring points turn from +z toward +y, so the tube's faces are the
    // reversed ones.
    for (int32_t k = 0; k < kDirectionCount; k++) {
        const float angle = float(k) * (6.28318f / float(kDirectionCount));
        m_directions[k] = dgVector(0.0f, std::cos(angle), std::sin(angle), 1.0f);
    }
    return dgBuildRingEdgeTable(kRings, kRingPoints, true, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionChamferCylinder::dgChamferCylinderLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgConvexEdge* dgCollisionChamferCylinder::dgChamferCylinderEdgeTable() {
    const dgChamferCylinderTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

const dgVector* dgCollisionChamferCylinder::dgChamferDirections() {
    const dgChamferCylinderTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_directions : nullptr;
}

namespace {

float coreRadiusOf(float radius, float halfHeight) {
    const float core = std::fabs(radius) - halfHeight;
    return (core > dgCollisionChamferCylinder::kMinCoreRadius) ? core
                                                               : dgCollisionChamferCylinder::kMinCoreRadius;
}

}  // namespace

dgCollisionChamferCylinder::dgCollisionChamferCylinder(uint32_t signature, float radius, float height,
                                                       const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeChamferCylinder),
      m_height(std::fabs(height) * 0.5f),
      m_radius(coreRadiusOf(radius, std::fabs(height) * 0.5f)),
      m_angleStep(coreRadiusOf(radius, std::fabs(height) * 0.5f)),
      m_givenRadius(std::fabs(radius)) {
    for (int32_t m = 0; m < kRings; m++) {
        const float theta = float(m) * kRingProfileStep;
        const float x = -m_height * std::cos(theta);
        const float rho = m_radius + m_height * std::sin(theta);
        for (int32_t k = 0; k < kRingPoints; k++) {
            const float phi = float(k) * (6.28318f / float(kRingPoints));
            m_chamferVertices[kRingPoints * m + k] =
                dgVector(x, rho * std::sin(phi), rho * std::cos(phi), 1.0f);
        }
    }
    dgChamferCylinderTables* tables = s_sharedTables.acquire();
    if (tables) {
        lendPolyhedron(m_chamferVertices, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionChamferCylinder::~dgCollisionChamferCylinder() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionChamferCylinder::setCollisionBBox(const dgVector&, const dgVector&) {}

int32_t dgCollisionChamferCylinder::forEachPolygon(const dgBody* body,
                                                   dgCollisionPolygonCallback callback) const {
    constexpr int32_t kRow = kWalkSegments;
    constexpr int32_t kPoints = kWalkRows * kRow;
    dgVector profile[kPoints];
    for (int32_t j = 0; j < kWalkRows; j++) {
        const float theta = float(j) * kWalkProfileStep;
        const float x = -m_height * std::cos(theta);
        const float rho = m_radius + m_height * std::sin(theta);
        for (int32_t k = 0; k < kRow; k++) {
            const float phi = float(k) * (6.28318f / float(kRow));
            profile[kRow * j + k] = dgVector(x, rho * std::sin(phi), rho * std::cos(phi), 1.0f);
        }
    }
    const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    float placed[3 * kPoints];
    combined.transformPoints(placed, 3 * int32_t(sizeof(float)), &profile[0].x, int32_t(sizeof(dgVector)),
                             kPoints);
    auto point = [&placed](int32_t row, int32_t k) { return &placed[3 * (kRow * row + k)]; };
    auto copyPoint = [](float* dst, const float* src) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    };

    float face[3 * kRow];
    int32_t faces = 0;
    for (int32_t j = 0; j < kWalkRows - 1; j++) {
        for (int32_t k = 0; k < kRow; k++) {
            const int32_t prev = (k == 0) ? kRow - 1 : k - 1;
            copyPoint(&face[0], point(j, k));
            copyPoint(&face[3], point(j, prev));
            copyPoint(&face[6], point(j + 1, prev));
            copyPoint(&face[9], point(j + 1, k));
            callback(body, 4, face, 0);
            faces++;
        }
    }
    callback(body, kRow, point(0, 0), 0);
    for (int32_t k = 0; k < kRow; k++) {
        copyPoint(&face[3 * k], point(kWalkRows - 1, kRow - 1 - k));
    }
    callback(body, kRow, face, 0);
    return faces + 2;
}

float dgCollisionChamferCylinder::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                          dgCollisionRayPrefilter prefilter, const dgBody* body,
                                          void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionChamferCylinder::castSegment(const dgVector& p0, const dgVector& p1,
                                              dgContactPoint& contact) const {
    const float h = m_height;
    const float rc2 = m_radius * m_radius;
    // Every point beyond x = +-h is outside, so a segment that comes from
    // there and crosses the plane inside the flat disc enters there first.
    // Ending on the plane counts.
    for (float side = 1.0f; side >= -1.0f; side -= 2.0f) {
        if ((side * p0.x > h) && (side * p1.x <= h)) {
            const float t = (side * h - p0.x) / (p1.x - p0.x);
            const float y = p0.y + (p1.y - p0.y) * t;
            const float z = p0.z + (p1.z - p0.z) * t;
            if ((y * y + z * z < rc2) && (t >= 0.0f) && (t <= 1.0f)) {
                contact.normal = dgVector(side, 0.0f, 0.0f, 0.0f);
                contact.userId = dgContactUserId(m_userId);
                return t;
            }
        }
    }
    return castSupportRay(p0, p1, contact);
}

uint32_t dgCollisionChamferCylinder::calcSignature() const {
    // The factory keys a chamfer cylinder on the radius it was asked for, not
    // on the derived core radius; recomputing must give the same key.
    const float dimensions[2] = {m_givenRadius, m_height};
    return dgShapeSignature(dgShapeChamferCylinder, dimensions, 2, m_offsetMatrix);
}

dgVector dgCollisionChamferCylinder::surfacePoint(const dgVector& u) const {
    const float scale = m_radius / std::sqrt(u.y * u.y + u.z * u.z + kSurfaceGuard);
    return dgVector(m_height * u.x, m_height * u.y + scale * u.y, m_height * u.z + scale * u.z, u.w);
}

dgVector dgCollisionChamferCylinder::coreSupport(const dgVector& direction) const {
    const float x = (direction.x > 0.0f) ? m_height : -m_height;
    const float scale =
        m_radius / std::sqrt(direction.y * direction.y + direction.z * direction.z + kAzimuthGuard);
    return dgVector(x, direction.y * scale, direction.z * scale, 1.0f);
}

dgVector dgCollisionChamferCylinder::supportVertex(const dgVector& direction) const {
    // The grid needs the elevation of the direction, which asin gives only for
    // a unit vector; callers pass unit vectors, but a support point must not
    // depend on the length.
    const float length2 = direction % direction;
    const float sinElevation = (length2 > 0.0f) ? direction.x / std::sqrt(length2) : 0.0f;
    if (std::fabs(sinElevation) > kPoleCosine) {
        // The flat face's rim point toward the direction's azimuth. A fixed
        // rim point would miss the support by up to 4 % of the core radius
        // for directions leaning the other way, and the general ray cast
        // would then take a face inside the shape for its surface.
        const float x = (sinElevation > 0.0f) ? m_height : -m_height;
        const float across2 = direction.y * direction.y + direction.z * direction.z;
        if (!(across2 > 0.0f)) {
            return dgVector(x, 0.0f, m_radius, 1.0f);
        }
        const float scale = m_radius / std::sqrt(across2);
        return dgVector(x, direction.y * scale, direction.z * scale, 1.0f);
    }

    dgVector corners[4];
    m_angleStep.gridCell(direction, sinElevation, corners);
    dgVector candidates[4];
    for (int32_t i = 0; i < 4; i++) {
        candidates[i] = surfacePoint(dgVector(corners[i].x, corners[i].y, corners[i].z, 1.0f));
    }
    return candidates[dgMax(dgConvexHullSupportIndex(4, candidates, direction), 0)];
}

bool dgCollisionChamferCylinder::clipToCore(const dgVector& q, const dgVector& direction,
                                            dgVector& out) const {
    const float h = m_height;
    const float rc2 = m_radius * m_radius;
    if (!((q.x < h) && (q.x > -h) && (q.y * q.y + q.z * q.z < rc2))) {
        return false;
    }
    const dgVector& d = direction;
    // The exit through the end plane x = plane along the line.
    auto toEndPlane = [&](float plane) {
        if (d.x != 0.0f) {
            out = q + d.scale((plane - q.x) / d.x);
        } else {
            out = q;
        }
        out.x = plane;
        out.w = 1.0f;
    };
    const float a = d.y * d.y + d.z * d.z;
    if (a < kAxialDirection2) {
        toEndPlane((d.x >= 0.0f) ? h : -h);
        return true;
    }
    // Leaving the side: the positive root (c < 0 inside), in the form that
    // does not cancel for either sign of b.
    const float b = 2.0f * (q.y * d.y + q.z * d.z);
    const float c = q.y * q.y + q.z * q.z - rc2;
    const float root = std::sqrt(b * b - 4.0f * a * c);
    const float t = (b <= 0.0f) ? (root - b) * 0.5f / a : -2.0f * c / (b + root);
    out = q + d.scale(t);
    out.w = 1.0f;
    if (out.x >= h) {
        toEndPlane(h);
    } else if (out.x <= -h) {
        toEndPlane(-h);
    }
    return true;
}

bool dgCollisionChamferCylinder::projectInsideCore(const dgPlane& plane, dgVector& point) const {
    const float dist = plane.evaluate(point);
    point.x -= plane.x * dist;
    point.y -= plane.y * dist;
    point.z -= plane.z * dist;
    return (point.x > -m_height) && (point.x < m_height) &&
           (point.y * point.y + point.z * point.z < m_radius * m_radius);
}

int32_t dgCollisionChamferCylinder::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                          dgVector* points) const {
    const dgVector n(normal.x, normal.y, normal.z, 0.0f);
    const dgPlane plane(n, -(n % point));
    const dgVector upper(coreSupport(n));
    const dgVector lower(coreSupport(n.scale(-1.0f)));
    const float upperDist = plane.evaluate(upper);
    const float lowerDist = plane.evaluate(lower);

    if (upperDist * lowerDist >= 0.0f) {
        // The plane misses the core: only the rounded rim can touch it, and
        // then the given point is the contact when it lies in the rim.
        const float radial2 = point.y * point.y + point.z * point.z;
        if (radial2 < m_radius * m_radius) {
            return 0;
        }
        const float scale = m_radius / std::sqrt(radial2);
        const dgVector rim(0.0f, point.y * scale, point.z * scale, 0.0f);
        const dgVector offset(point - rim);
        if ((offset % offset) < m_height * m_height) {
            points[0] = point;
            return 1;
        }
        return 0;
    }

    // An orthonormal frame of the plane.
    const dgVector helper =
        (std::fabs(n.z) <= kFrameZLimit) ? dgVector(-n.y, n.x, 0.0f, 0.0f) : dgVector(-n.y, n.z, 0.0f, 0.0f);
    dgVector axis0(n.cross(helper));
    axis0 = axis0.scale(1.0f / std::sqrt(axis0 % axis0));
    const dgVector axis1(n.cross(axis0));

    // A start strictly inside the section: an extreme point of the core
    // pushed onto the plane, when that lands inside. For a deep cut of a long
    // or a flat core both can land outside although the plane cuts the core
    // through; the crossing of the plane with the segment from the core's
    // centre (inside) to the core point on the far side (on the core) then
    // lies strictly inside.
    dgVector start(upper);
    if (!projectInsideCore(plane, start)) {
        start = lower;
        if (!projectInsideCore(plane, start)) {
            const float centreDist = plane.w;
            if (centreDist == 0.0f) {
                start = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
            } else {
                const dgVector& far = (centreDist > 0.0f) ? lower : upper;
                const float farDist = (centreDist > 0.0f) ? lowerDist : upperDist;
                start = far.scale(centreDist / (centreDist - farDist));
                start.w = 1.0f;
            }
        }
    }

    const dgVector* directions =
        s_sharedTables.getTables() ? s_sharedTables.getTables()->m_directions : nullptr;
    if (!directions) {
        return 0;
    }
    auto inPlane = [&](int32_t k) { return axis0.scale(directions[k].y) + axis1.scale(directions[k].z); };
    if (!clipToCore(start, inPlane(0), points[0])) {
        return 0;
    }
    int32_t count = 1;
    for (int32_t k = 1; k < dgChamferCylinderTables::kDirectionCount; k++) {
        dgVector boundary;
        clipToCore(start, inPlane(k), boundary);
        const dgVector step(boundary - points[count - 1]);
        if ((step % step) > kSectionMergeDist2) {
            points[count++] = boundary;
        }
    }
    return count;
}

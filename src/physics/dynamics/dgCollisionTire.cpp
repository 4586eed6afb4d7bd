#include "dgCollisionTire.h"

#include <cmath>

#include "dgMemory.h"

DG_IMPLEMENT_CLASS(dgCollisionTire, dgCollisionChamferCylinder, "dgCollisionTire");

namespace {

constexpr float kLengthGuard = 1.0e-12f;
// Directions closer than this to the axis take the flat face's centre.
constexpr float kRimGuard = 1.0e-6f;
// The tread lies farther than this share of the radius from the axis.
constexpr float kTreadShare = 0.75f;

dgVector stretch(const dgVector& v, const dgVector& s) {
    return dgVector(v.x * s.x, v.y * s.y, v.z * s.z, v.w);
}

}  // namespace

dgCollisionTire::dgCollisionTire(dgWorld* world, dgVehicleTire* tire, float width, float radius,
                                 uint32_t collisionId, const dgMatrix& pose)
    : dgCollisionChamferCylinder(0, 1.0f, 1.0f, dgGetIdentityMatrix()),
      m_scale(std::fabs(width), std::fabs(radius), std::fabs(radius), 0.0f),
      m_invScale(1.0f / std::fabs(width), 1.0f / std::fabs(radius), 1.0f / std::fabs(radius), 0.0f),
      m_world(world),
      m_suspensionOffset(0.0f),
      m_contactDistanceLimit((kTreadShare * std::fabs(radius)) * (kTreadShare * std::fabs(radius))),
      m_contactCount(0),
      m_candidateCount(0),
      m_pairCount(0),
      m_contacts(),
      m_pairs(),
      m_tire(tire) {
    setFlagBits(dgShapeFlagTire);
    setUserId(collisionId);
    // The base measured the unit shape; the stretched one is what collides.
    // Its volume scales with the stretch, its centre stays at the origin.
    setLocalBox();
    m_centreOfMass.w *= m_scale.x * m_scale.y * m_scale.z;
    setPose(pose, dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    // A tire's offset is never taken for the identity: the compound always
    // places it.
    setFlagBits(dgShapeFlagOffset);
}

dgCollisionTire::~dgCollisionTire() = default;

void dgCollisionTire::setPose(const dgMatrix& pose, const dgVector& up) {
    m_offsetMatrix = pose;
    m_offsetMatrix.position = pose.position + up.scale(m_suspensionOffset);
    m_offsetMatrix.position.w = 1.0f;
}

void dgCollisionTire::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    dgConvexCollision::calcAABB(matrix, boxMin, boxMax);
}

int32_t dgCollisionTire::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    // The unit shape's profile rows (as the chamfer cylinder walks them),
    // stretched before they are placed.
    constexpr int32_t kRow = kWalkSegments;
    constexpr int32_t kPoints = kWalkRows * kRow;
    const float step = 3.14159f / float(kWalkRows - 1);
    dgVector profile[kPoints];
    for (int32_t j = 0; j < kWalkRows; j++) {
        const float theta = float(j) * step;
        const float x = -m_height * std::cos(theta);
        const float rho = m_radius + m_height * std::sin(theta);
        for (int32_t k = 0; k < kRow; k++) {
            const float phi = float(k) * (6.28318f / float(kRow));
            profile[kRow * j + k] = stretch(dgVector(x, rho * std::sin(phi), rho * std::cos(phi), 1.0f), m_scale);
            profile[kRow * j + k].w = 1.0f;
        }
    }
    const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
    float placed[3 * kPoints];
    combined.transformPoints(placed, 3 * int32_t(sizeof(float)), &profile[0].x, int32_t(sizeof(dgVector)),
                             kPoints);
    auto point = [&placed](int32_t row, int32_t k) { return &placed[3 * (kRow * row + k)]; };
    float face[3 * kRow];
    auto copyPoint = [&face](int32_t at, const float* src) {
        face[3 * at] = src[0];
        face[3 * at + 1] = src[1];
        face[3 * at + 2] = src[2];
    };
    int32_t faces = 0;
    for (int32_t j = 0; j < kWalkRows - 1; j++) {
        for (int32_t k = 0; k < kRow; k++) {
            const int32_t prev = (k == 0) ? kRow - 1 : k - 1;
            copyPoint(0, point(j, k));
            copyPoint(1, point(j, prev));
            copyPoint(2, point(j + 1, prev));
            copyPoint(3, point(j + 1, k));
            callback(body, 4, face, 0);
            faces++;
        }
    }
    callback(body, kRow, point(0, 0), 0);
    for (int32_t k = 0; k < kRow; k++) {
        copyPoint(k, point(kWalkRows - 1, kRow - 1 - k));
    }
    callback(body, kRow, face, 0);
    return faces + 2;
}

float dgCollisionTire::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                               dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    // Cast on the stretched support itself: a cast in unit space would leave
    // the hit's normal in unit space, off the stretched surface's.
    const float t = castClipped(
        p0, p1, [&](const dgVector& q0, const dgVector& q1) { return castSupportRay(q0, q1, contact); });
    if (t <= 1.0f) {
        contact.userId = dgContactUserId(m_userId);
    }
    return t;
}

dgVector dgCollisionTire::supportVertex(const dgVector& direction) const {
    // The unit shape is a disc of core radius rc swept by a ball of radius h:
    // its support towards the stretched direction e is the disc's rim point
    // towards e plus h e / |e|, exactly and without the angle grid, whose
    // trigonometry would cost the tire, queried in every sub-step, most of
    // its contact time. The two lengths are taken side by side, not one from
    // the other's result: the Minkowski search waits on this call.
    const dgVector e = stretch(direction, m_scale);
    const float length2 = e.dot(e) + kLengthGuard;
    const float across2 = e.y * e.y + e.z * e.z;
    const float ball = m_height / std::sqrt(length2);
    const float rim = (across2 > kRimGuard * kRimGuard * length2) ? m_radius / std::sqrt(across2) : 0.0f;
    const dgVector p(ball * e.x, (rim + ball) * e.y, (rim + ball) * e.z, 1.0f);
    return stretch(p, m_scale);
}

int32_t dgCollisionTire::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                               dgVector* points) const {
    // A plane n.x = n.p in stretched space is (S n).u = (S n).(S^-1 p) in unit
    // space.
    dgVector n = stretch(normal, m_scale);
    n = n.scale(1.0f / std::sqrt(n.dot(n) + kLengthGuard));
    n.w = 0.0f;
    dgVector q = stretch(point, m_invScale);
    q.w = point.w;
    const int32_t count = dgCollisionChamferCylinder::calcPlaneIntersection(n, q, points);
    for (int32_t i = 0; i < count; ++i) {
        const float w = points[i].w;
        points[i] = stretch(points[i], m_scale);
        points[i].w = w;
    }
    return count;
}

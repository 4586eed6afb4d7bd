#include "dgCollisionEllipse.h"

#include <cmath>

DG_IMPLEMENT_CLASS(dgCollisionEllipse, dgCollisionSphere, "dgCollisionEllipse");

namespace {

// The matrix with its rows 0-2 stretched by the radii: it maps the unit
// sphere onto the ellipsoid and then places it as the original did.
dgMatrix stretchRows(const dgMatrix& matrix, float rx, float ry, float rz) {
    return dgMatrix(matrix.front.scale(rx), matrix.up.scale(ry), matrix.right.scale(rz), matrix.position);
}

}  // namespace

dgCollisionEllipse::dgCollisionEllipse(uint32_t signature, float rx, float ry, float rz,
                                       const dgMatrix& offsetMatrix)
    : dgCollisionSphere(signature, 1.0f, offsetMatrix),
      m_rx(std::fabs(rx)),
      m_ry(std::fabs(ry)),
      m_rz(std::fabs(rz)),
      m_invRx(1.0f / std::fabs(rx)),
      m_invRy(1.0f / std::fabs(ry)),
      m_invRz(1.0f / std::fabs(rz)) {
    // The sphere constructor filed the shape as a sphere.
    m_shapeType = dgShapeEllipse;
}

dgCollisionEllipse::~dgCollisionEllipse() {}

void dgCollisionEllipse::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    dgConvexCollision::calcAABB(stretchRows(matrix, m_rx, m_ry, m_rz), boxMin, boxMax);
}

int32_t dgCollisionEllipse::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    // Stretching a copy of the offset, rather than the shape's own, keeps the
    // walk free of side effects on a shape that bodies share.
    return forEachPolygonPlaced(stretchRows(m_offsetMatrix, m_rx, m_ry, m_rz), body, callback);
}

float dgCollisionEllipse::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                  dgCollisionRayPrefilter prefilter, const dgBody* body,
                                  void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    // The division by the radii is linear, so the segment's parameter is the
    // same in both spaces.
    const dgVector q0(p0.x * m_invRx, p0.y * m_invRy, p0.z * m_invRz, 1.0f);
    const dgVector q1(p1.x * m_invRx, p1.y * m_invRy, p1.z * m_invRz, 1.0f);
    const float t = dgCollisionSphere::rayCast(q0, q1, contact, nullptr, nullptr, nullptr);
    if (t <= 1.0f) {
        // The unit sphere's normal u at the hit is not the ellipsoid's: the
        // gradient of sum (x_i / r_i)^2 at the hit point r_i u_i is u_i / r_i.
        const dgVector& u = contact.normal;
        const dgVector n(u.x * m_invRx, u.y * m_invRy, u.z * m_invRz, 0.0f);
        contact.normal = n.scale(1.0f / std::sqrt(n % n));
    }
    return t;
}

dgVector dgCollisionEllipse::calcSubmergedVolume(const dgMatrix& matrix,
                                                 dgCollisionFluidPlaneCallback callback,
                                                 void* context) const {
    // The convex base's procedure would cut the unit sphere the shape is
    // built on with the ellipsoid's plane. Cut it instead with the plane's
    // image under the inverse stretch, and stretch the result back.
    dgPlane plane(0.0f, 1.0f, 0.0f, -1.0e8f);
    if (callback) {
        dgPlane globalPlane(0.0f, 1.0f, 0.0f, -1.0e8f);
        if (callback(m_userId, context, matrix, globalPlane)) {
            plane = matrix.untransformPlane(globalPlane);
        }
    }
    // At the ellipsoid point (rx u.x, ry u.y, rz u.z) the plane's value is
    // (n * radii) . u + d.
    const dgVector stretched(plane.x * m_rx, plane.y * m_ry, plane.z * m_rz, 0.0f);
    const float length2 = stretched % stretched;
    dgPlane unitPlane(plane);
    if (length2 > 0.0f) {
        const float scale = 1.0f / std::sqrt(length2);
        unitPlane = dgPlane(stretched.scale(scale), plane.w * scale);
    }
    const dgVector result(calcSubmergedVolumeLocal(unitPlane));
    const dgVector centroid(
        matrix.transformVector(dgVector(result.x * m_rx, result.y * m_ry, result.z * m_rz, 1.0f)));
    return dgVector(centroid.x, centroid.y, centroid.z, result.w * m_rx * m_ry * m_rz);
}

uint32_t dgCollisionEllipse::calcSignature() const {
    const float radii[3] = {m_rx, m_ry, m_rz};
    return dgShapeSignature(dgShapeEllipse, radii, 3, m_offsetMatrix);
}

dgVector dgCollisionEllipse::supportVertex(const dgVector& direction) const {
    // The support of the stretched sphere along d is the stretch of the unit
    // sphere's support along d * radii.
    dgVector e(direction.x * m_rx, direction.y * m_ry, direction.z * m_rz, 0.0f);
    const float length2 = e % e;
    if (length2 > 0.0f) {
        e = e.scale(1.0f / std::sqrt(length2));
    }
    const dgVector u(dgCollisionSphere::supportVertex(e));
    return dgVector(u.x * m_rx, u.y * m_ry, u.z * m_rz, 1.0f);
}

int32_t dgCollisionEllipse::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                  dgVector* points) const {
    // In the unit sphere's space the plane is m . u = n . p with m = n * radii;
    // the section's centre there is m (n . p) / |m|^2, stretched back.
    const dgVector m(normal.x * m_rx, normal.y * m_ry, normal.z * m_rz, 0.0f);
    const float m2 = m % m;
    const float k = (m2 > 0.0f) ? (normal % point) / m2 : 0.0f;
    points[0] =
        dgVector(k * normal.x * m_rx * m_rx, k * normal.y * m_ry * m_ry, k * normal.z * m_rz * m_rz, 1.0f);
    return 1;
}

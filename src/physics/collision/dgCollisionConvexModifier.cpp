#include "dgCollisionConvexModifier.h"

#include <algorithm>
#include <cmath>

#include "dgAssert.h"
#include "dgDynamicsServices.h"
#include "dgCollisionNull.h"
#include "dgCompoundCollision.h"

DG_IMPLEMENT_CLASS(dgCollisionConvexModifier, dgConvexCollision, "dgCollisionConvexModifier");

namespace {

// A pivot smaller than this first borrows the first row below it with a
// larger entry in its column.
constexpr float kSmallPivot = 0.001f;

// The default fluid plane: far above anything, so the whole shape is below.
const dgPlane kNoFluidPlane(0.0f, 1.0f, 0.0f, -1.0e8f);

// Hands the wrapped shape a plane already in its own space.
int32_t passPlane(uint32_t, void* context, const dgMatrix&, dgPlane& plane) {
    plane = *static_cast<const dgPlane*>(context);
    return 1;
}

// Unit-length copy of v's x, y, z (w = 0); the zero vector stays zero.
// Brought to a largest component of 1 first, so that a direction carried
// through a strong scale neither overflows nor underflows its square.
dgVector normalised(const dgVector& v) {
    const float largest = std::max(std::fabs(v.x), std::max(std::fabs(v.y), std::fabs(v.z)));
    if (!(largest > 0.0f) || !std::isfinite(largest)) {
        return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    const dgVector u(v.scale(1.0f / largest));
    const dgVector n(u.scale(1.0f / std::sqrt(u % u)));
    return dgVector(n.x, n.y, n.z, 0.0f);
}

dgMatrix affinePart(const dgMatrix& m) {
    dgMatrix a(m);
    a.front.w = 0.0f;
    a.up.w = 0.0f;
    a.right.w = 0.0f;
    a.position.w = 1.0f;
    return a;
}

}  // namespace

dgCollisionConvexModifier::dgCollisionConvexModifier(dgConvexCollision* wrapped, dgWorld* world)
    : dgConvexCollision(0u, dgGetIdentityMatrix(), dgShapeConvexModifier),
      m_modifierMatrix(dgGetIdentityMatrix()),
      m_inverseMatrix(dgGetIdentityMatrix()),
      m_world(world),
      m_wrapped(wrapped),
      m_volumeScale(1.0f) {
    DG_ASSERT(m_wrapped);
    m_wrapped->addRef();
    setUserId(m_wrapped->getUserId());
    updateLocalState();
}

dgCollisionConvexModifier::~dgCollisionConvexModifier() {
    if (m_world) {
        // Through the world, so that a wrapped shape held otherwise only by
        // the collision cache leaves the cache with this reference.
        dgWorldReleaseCollision(m_world, m_wrapped);
    } else {
        m_wrapped->release();
    }
    m_wrapped = nullptr;
}

bool dgCollisionConvexModifier::invertAffine(const dgMatrix& m, dgMatrix& inverse, float& determinant) {
    const dgMatrix affine(affinePart(m));
    float a[4][8];
    for (int32_t i = 0; i < 4; i++) {
        for (int32_t j = 0; j < 4; j++) {
            a[i][j] = affine[i][j];
            a[i][4 + j] = (i == j) ? 1.0f : 0.0f;
        }
    }
    float det = 1.0f;
    for (int32_t i = 0; i < 4; i++) {
        if (std::fabs(a[i][i]) < kSmallPivot) {
            // Adding a row keeps the determinant, unlike an exchange.
            for (int32_t j = i + 1; j < 4; j++) {
                if (std::fabs(a[j][i]) > kSmallPivot) {
                    for (int32_t k = 0; k < 8; k++) {
                        a[i][k] += a[j][k];
                    }
                    break;
                }
            }
        }
        const float pivot = a[i][i];
        if (!(pivot != 0.0f) || !std::isfinite(pivot)) {
            return false;
        }
        det *= pivot;
        const float inv = 1.0f / pivot;
        for (int32_t k = 0; k < 8; k++) {
            a[i][k] *= inv;
        }
        a[i][i] = 1.0f;
        for (int32_t j = 0; j < 4; j++) {
            if (j == i) {
                continue;
            }
            const float factor = a[j][i];
            if (factor != 0.0f) {
                for (int32_t k = 0; k < 8; k++) {
                    a[j][k] -= factor * a[i][k];
                }
            }
        }
    }
    dgMatrix result;
    for (int32_t i = 0; i < 4; i++) {
        for (int32_t j = 0; j < 4; j++) {
            if (!std::isfinite(a[i][4 + j])) {
                return false;
            }
            result[i][j] = a[i][4 + j];
        }
    }
    if (!(det != 0.0f) || !std::isfinite(det)) {
        return false;
    }
    inverse = affinePart(result);
    determinant = det;
    return true;
}

void dgCollisionConvexModifier::setModifierMatrix(const dgMatrix& matrix) {
    const dgMatrix affine(affinePart(matrix));
    dgMatrix inverse;
    float determinant = 0.0f;
    // A mirroring matrix turns the wrapped shape inside out: its faces would
    // wind the wrong way round and its volume and mass come out negative.
    if (!invertAffine(affine, inverse, determinant) || !(determinant > 0.0f)) {
        return;
    }
    const dgMatrix savedMatrix(m_modifierMatrix);
    const dgMatrix savedInverse(m_inverseMatrix);
    const float savedScale = m_volumeScale;
    m_modifierMatrix = affine;
    m_inverseMatrix = inverse;
    m_volumeScale = determinant;
    updateLocalState();
    // A deformation whose box no longer bounds a float volume, centre or
    // inertia is refused like a singular one: every later query would
    // answer infinities or NaN.
    if (!massFitsFloat()) {
        m_modifierMatrix = savedMatrix;
        m_inverseMatrix = savedInverse;
        m_volumeScale = savedScale;
        updateLocalState();
    }
}

dgMatrix dgCollisionConvexModifier::getModifierMatrix() const {
    return m_modifierMatrix;
}

void dgCollisionConvexModifier::updateLocalState() {
    setLocalBox();
    const dgVector& inner = m_wrapped->getCentreOfMass();
    const dgVector centre(m_modifierMatrix.transformVector(dgVector(inner.x, inner.y, inner.z, 1.0f)));
    m_centreOfMass = dgVector(centre.x, centre.y, centre.z, inner.w * m_volumeScale);
}

void dgCollisionConvexModifier::setCollisionBBox(const dgVector&, const dgVector&) {}

uint32_t dgCollisionConvexModifier::calcSignature() const {
    return 0u;
}

dgVector dgCollisionConvexModifier::supportVertex(const dgVector& direction) const {
    // A direction maps into the wrapped space by M's transpose (the plane
    // normals do), so the wrapped extreme along it is the extreme of the
    // deformed shape along the direction.
    const dgVector inner(normalised(m_modifierMatrix.inverseRotateVector(direction)));
    return m_modifierMatrix.transformVector(m_wrapped->supportVertex(inner));
}

void dgCollisionConvexModifier::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    supportBox(matrix, boxMin, boxMax);
}

int32_t dgCollisionConvexModifier::forEachPolygon(const dgBody* body,
                                                  dgCollisionPolygonCallback callback) const {
    // The wrapped shape places its faces by its own offset matrix, so M is
    // lent to it as that offset for the length of the walk. This modifier's
    // own offset is the identity unless an enclosing modifier lent it its
    // matrix in the same way: composing with it keeps that outer deformation.
    // The wrapped shape is not const (it was created on the heap); only this
    // walk sees the substitution.
    dgMatrix& wrappedOffset = const_cast<dgMatrix&>(m_wrapped->getOffsetMatrix());
    const dgMatrix savedOffset(wrappedOffset);
    const bool savedOffsetFlag = m_wrapped->hasOffset();
    wrappedOffset = m_modifierMatrix.multiply(m_offsetMatrix);
    m_wrapped->setFlagBits(dgShapeFlagOffset);

    dgBodyShapeLend owner(body);
    owner.lend(m_wrapped);
    const int32_t walked = m_wrapped->forEachPolygon(body, callback);

    wrappedOffset = savedOffset;
    if (!savedOffsetFlag) {
        m_wrapped->clearFlagBits(dgShapeFlagOffset);
    }
    return walked;
}

float dgCollisionConvexModifier::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                         dgCollisionRayPrefilter prefilter, const dgBody* body,
                                         void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionConvexModifier::castSegment(const dgVector& p0, const dgVector& p1,
                                             dgContactPoint& contact) const {
    // Clipped first in this shape's space, so only points near the shape go
    // through the inverse map.
    dgVector local0(m_inverseMatrix.transformVector(p0));
    dgVector local1(m_inverseMatrix.transformVector(p1));
    local0.w = 1.0f;
    local1.w = 1.0f;
    const float t = m_wrapped->rayCast(local0, local1, contact, nullptr, nullptr, nullptr);
    if (t <= 1.0f) {
        // Normals are covectors: they map by the inverse transpose of the
        // linear part, not by M, or a sheared or turned surface reports the
        // undeformed shape's normal.
        contact.normal = normalised(m_inverseMatrix.inverseRotateVector(contact.normal));
        contact.userId = dgContactUserId(m_userId);
    }
    return t;
}

float dgCollisionConvexModifier::getVolume() const {
    return m_wrapped->getVolume() * m_volumeScale;
}

dgVector dgCollisionConvexModifier::calcSubmergedVolume(const dgMatrix& matrix,
                                                        dgCollisionFluidPlaneCallback callback,
                                                        void* context) const {
    bool hasPlane = false;
    dgPlane plane(kNoFluidPlane);
    if (callback) {
        dgPlane globalPlane(kNoFluidPlane);
        if (callback(m_userId, context, matrix, globalPlane)) {
            plane = matrix.untransformPlane(globalPlane);
            hasPlane = true;
        }
    }

    // The wrapped shape answers through its own (virtual) submerged volume,
    // placed at the identity and handed the plane already in its space; a
    // wrapped modifier thus applies its own matrix in turn.
    dgVector local;
    if (hasPlane) {
        // The plane value at p * M is n' . p + d' with n' from M's rows: an
        // exact change of space for any affine M. Rescaled to a unit normal
        // so the wrapped shape's tolerances stay distances.
        dgPlane inner(m_modifierMatrix.untransformPlane(plane));
        const float mag2 = inner % inner;
        if (mag2 > 0.0f) {
            const float scale = 1.0f / std::sqrt(mag2);
            inner = dgPlane(inner.x * scale, inner.y * scale, inner.z * scale, inner.w * scale);
        }
        local = m_wrapped->calcSubmergedVolume(dgGetIdentityMatrix(), passPlane, &inner);
    } else {
        local = m_wrapped->calcSubmergedVolume(dgGetIdentityMatrix(), nullptr, nullptr);
    }

    const dgVector centre(m_modifierMatrix.transformVector(dgVector(local.x, local.y, local.z, 1.0f)));
    const dgVector global(matrix.transformVector(dgVector(centre.x, centre.y, centre.z, 1.0f)));
    return dgVector(global.x, global.y, global.z, local.w * m_volumeScale);
}

int32_t dgCollisionConvexModifier::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                         dgVector* points) const {
    const dgVector innerNormal(normalised(m_modifierMatrix.inverseRotateVector(normal)));
    if (!((innerNormal % innerNormal) > 0.0f)) {
        return 0;
    }
    dgVector innerPoint(m_inverseMatrix.transformVector(point));
    innerPoint.w = 1.0f;
    const int32_t count = m_wrapped->calcPlaneIntersection(innerNormal, innerPoint, points);
    for (int32_t i = 0; i < count; i++) {
        points[i] = m_modifierMatrix.transformVector(points[i]);
    }
    return count;
}

dgCollision* dgWorldCreateConvexModifier(dgWorld* world, dgCollision* shape) {
    dgConvexCollision* convex = dgRefCast<dgConvexCollision>(shape);
    if (!convex || shape->isClass(dgCollisionNull::kClassId) ||
        shape->isClass(dgCompoundCollision::kClassId)) {
        return nullptr;
    }
    return new dgCollisionConvexModifier(convex, world);
}

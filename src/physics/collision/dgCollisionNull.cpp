#include "dgCollisionNull.h"

DG_IMPLEMENT_CLASS(dgCollisionNull, dgConvexCollision, "dgCollisionNull");

dgCollisionNull::dgCollisionNull(uint32_t signature)
    : dgConvexCollision(signature, dgGetIdentityMatrix(), dgShapeNull) {}

dgCollisionNull::~dgCollisionNull() {}

void dgCollisionNull::setCollisionBBox(const dgVector&, const dgVector&) {}

void dgCollisionNull::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    const dgVector& origin = matrix.position;
    boxMin = dgVector(origin.x, origin.y, origin.z, 1.0f);
    boxMax = boxMin;
}

int32_t dgCollisionNull::forEachPolygon(const dgBody*, dgCollisionPolygonCallback) const {
    return 0;
}

float dgCollisionNull::rayCast(const dgVector&, const dgVector&, dgContactPoint&, dgCollisionRayPrefilter,
                               const dgBody*, void*) const {
    return kRayMiss;
}

float dgCollisionNull::getVolume() const {
    return 0.0f;
}

void dgCollisionNull::calcInertia(dgVector& inertia, dgVector& origin) const {
    inertia.x = 0.0f;
    inertia.y = 0.0f;
    inertia.z = 0.0f;
    origin.x = 0.0f;
    origin.y = 0.0f;
    origin.z = 0.0f;
}

dgVector dgCollisionNull::calcSubmergedVolume(const dgMatrix&, dgCollisionFluidPlaneCallback, void*) const {
    return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

uint32_t dgCollisionNull::calcSignature() const {
    return m_signature;
}

dgVector dgCollisionNull::supportVertex(const dgVector&) const {
    return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

int32_t dgCollisionNull::calcPlaneIntersection(const dgVector&, const dgVector&, dgVector*) const {
    return 0;
}

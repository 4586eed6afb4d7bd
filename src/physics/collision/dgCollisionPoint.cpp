#include "dgCollisionPoint.h"

DG_IMPLEMENT_CLASS(dgCollisionPoint, dgCollisionSphere, "dgCollisionSphere");

dgCollisionPoint::dgCollisionPoint(uint32_t signature, float radius, const dgMatrix& offsetMatrix)
    : dgCollisionSphere(signature, radius, offsetMatrix) {}

dgCollisionPoint::~dgCollisionPoint() {}

float dgCollisionPoint::getVolume() const {
    return 0.0f;
}

void dgCollisionPoint::calcInertia(dgVector& inertia, dgVector& origin) const {
    inertia.x = 0.0f;
    inertia.y = 0.0f;
    inertia.z = 0.0f;
    origin.x = 0.0f;
    origin.y = 0.0f;
    origin.z = 0.0f;
}

dgVector dgCollisionPoint::supportVertex(const dgVector&) const {
    return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

// The flat interface's collision family: the shape factories, the shape
// accessors and the shape queries. Everything here converts the interface's
// packed floats into the engine's types and refuses what the engine must not
// see.
#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgCollisionCache.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionNull.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgCompoundCollision.h"
#include "dgPhysics.h"
#include "dgTreeCollision.h"
#include "dgWorldCollisionQueries.h"

namespace {

bool dgFiniteFloats(const float* values, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

// 16 caller floats as a matrix, copied so that they need no alignment; false
// for a null or non-finite one.
bool dgLoadMatrix(const float* floats, dgMatrix& matrix) {
    static_assert(sizeof(dgMatrix) == 16 * sizeof(float), "a matrix is 16 packed floats");
    if (!floats || !dgFiniteFloats(floats, 16)) {
        return false;
    }
    std::memcpy(&matrix, floats, sizeof(dgMatrix));
    return true;
}

// 3 caller floats as a point (w = 1) or a direction (w = 0); false for a null
// or non-finite one.
bool dgLoadVector(const float* floats, float w, dgVector& vector) {
    if (!floats || !dgFiniteFloats(floats, 3)) {
        return false;
    }
    vector = dgVector(floats[0], floats[1], floats[2], w);
    return true;
}

void dgStore3(float* out, const dgVector& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

// The interface's offset: 16 floats, or null for the identity. Copied so that
// the caller's floats need no particular alignment.
dgMatrix dgOffsetFromFloats(const float* offsetMatrix) {
    if (!offsetMatrix) {
        return dgGetIdentityMatrix();
    }
    dgMatrix matrix;
    static_assert(sizeof(dgMatrix) == 16 * sizeof(float), "a matrix is 16 packed floats");
    std::memcpy(&matrix, offsetMatrix, sizeof(dgMatrix));
    return matrix;
}

float dgAbs(float value) {
    return (value < 0.0f) ? -value : value;
}

}  // namespace

// ---- collisions ----

dgCollision* dgCreateNull(dgWorld* world) {
    return dgWorldCreateNull(world);
}

dgCollision* dgCreateBox(dgWorld* world, float dx, float dy, float dz, const float* offsetMatrix) {
    return dgWorldCreateBox(world, dx, dy, dz, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateSphere(dgWorld* world, float rx, float ry, float rz, const float* offsetMatrix) {
    rx = dgAbs(rx);
    ry = dgAbs(ry);
    rz = dgAbs(rz);
    const dgMatrix matrix = dgOffsetFromFloats(offsetMatrix);
    if (dgAbs(rx - ry) < 1e-5f && dgAbs(rx - rz) < 1e-5f) {
        return dgWorldCreateSphere(world, rx, matrix);
    }
    return dgWorldCreateEllipse(world, rx, ry, rz, matrix);
}

dgCollision* dgCreateCone(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCone(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateCapsule(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCapsule(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCylinder(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateChamferCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateChamferCylinder(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateConvexHull(dgWorld* world, int32_t pointCount, const float* points,
                                int32_t strideInBytes, const float* offsetMatrix) {
    return dgWorldCreateConvexHull(world, pointCount, points, strideInBytes,
                                   dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateConvexModifier(dgWorld* world, dgCollision* convexShape) {
    if (!world || !convexShape || !convexShape->isClass(dgConvexCollision::kClassId) ||
        convexShape->isClass(dgCollisionNull::kClassId)) {
        return nullptr;
    }
    return new dgCollisionConvexModifier(static_cast<dgConvexCollision*>(convexShape), world);
}

void dgConvexModifierGetMatrix(const dgCollision* shape, float* matrix) {
    if (!shape || !matrix) {
        return;
    }
    const dgMatrix modifier(shape->getModifierMatrix());
    std::memcpy(matrix, &modifier, sizeof(dgMatrix));
}

void dgConvexModifierSetMatrix(dgCollision* shape, const float* matrix) {
    dgMatrix modifier;
    if (!shape || !dgLoadMatrix(matrix, modifier)) {
        return;
    }
    shape->setModifierMatrix(modifier);
}

dgCollision* dgCreateCompoundCollision(dgWorld* world, int32_t count, dgCollision* const* shapes) {
    if (!world || (count < 0) || ((count > 0) && !shapes)) {
        return nullptr;
    }
    return new dgCompoundCollision(count, shapes, world);
}

dgCollision* dgCreateUserMeshCollision(dgWorld* world, const float* minBox, const float* maxBox,
                                       void* userData, dgPolygonSoupCollideCallback collide,
                                       dgPolygonSoupRayCastCallback rayCast,
                                       dgPolygonSoupDestroyCallback destroy) {
    dgVector boxMin;
    dgVector boxMax;
    if (!world || !collide || !dgLoadVector(minBox, 1.0f, boxMin) || !dgLoadVector(maxBox, 1.0f, boxMax)) {
        return nullptr;
    }
    dgCollision* shape = dgWorldCreatePolygonSoupCollision(userData, collide, rayCast, destroy);
    if (shape) {
        shape->setCollisionBBox(boxMin, boxMax);
    }
    return shape;
}

void dgCollisionSetUserId(dgCollision* shape, uint32_t id) {
    if (shape && shape->isClass(dgConvexCollision::kClassId)) {
        shape->setUserId(id);
    }
}

uint32_t dgCollisionGetUserId(const dgCollision* shape) {
    return shape ? shape->getUserId() : 0u;
}

float dgConvexCollisionCalculateVolume(const dgCollision* shape) {
    return shape ? shape->getVolume() : 0.0f;
}

void dgConvexCollisionCalculateInertialMatrix(const dgCollision* shape, float* inertia, float* origin) {
    if (!shape || !inertia || !origin) {
        return;
    }
    dgVector i(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector o(0.0f, 0.0f, 0.0f, 0.0f);
    shape->calcInertia(i, o);
    dgStore3(inertia, i);
    dgStore3(origin, o);
}

void dgCollisionRemoveFromCache(dgWorld* world, dgCollision* shape) {
    dgWorldRemoveCollisionFromCache(world, shape);
}

void dgReleaseCollision(dgWorld* world, dgCollision* shape) {
    dgWorldReleaseCollision(world, shape);
}

// ---- queries ----

void dgCollisionCalculateAABB(const dgCollision* shape, const float* matrix, float* boxMin, float* boxMax) {
    dgMatrix placement;
    if (!shape || !boxMin || !boxMax || !dgLoadMatrix(matrix, placement)) {
        return;
    }
    dgVector lo(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector hi(0.0f, 0.0f, 0.0f, 0.0f);
    shape->calcAABB(shape->getOffsetMatrix().multiply(placement), lo, hi);
    dgStore3(boxMin, lo);
    dgStore3(boxMax, hi);
}

float dgCollisionRayCast(const dgCollision* shape, const float* p0, const float* p1, float* normal,
                         int32_t* attribute) {
    dgVector q0;
    dgVector q1;
    if (!shape || !dgLoadVector(p0, 1.0f, q0) || !dgLoadVector(p1, 1.0f, q1)) {
        return dgCollision::kRayMiss;
    }
    const dgMatrix& offset = shape->getOffsetMatrix();
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    const float t = shape->rayCast(offset.inverseTransformVector(q0), offset.inverseTransformVector(q1),
                                   contact, nullptr, nullptr, nullptr);
    if (!((t >= 0.0f) && (t <= 1.0f))) {
        return dgCollision::kRayMiss;
    }
    if (normal) {
        dgStore3(normal, offset.rotateVector(contact.normal));
    }
    if (attribute) {
        // The low word of the record is the 32-bit attribute.
        *attribute = int32_t(uint32_t(uint64_t(contact.userId)));
    }
    return t;
}

int32_t dgCollisionPointDistance(dgWorld* world, const float* point, const dgCollision* shape,
                                 const float* matrix, float* contact, float* normal) {
    dgMatrix placement;
    dgVector p;
    if (!world || !shape || !contact || !normal || !dgLoadVector(point, 1.0f, p) ||
        !dgLoadMatrix(matrix, placement)) {
        return 0;
    }
    dgVector c(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector n(0.0f, 0.0f, 0.0f, 0.0f);
    if (!dgWorldCollisionPointDistance(world, &p.x, const_cast<dgCollision*>(shape), placement, c, n)) {
        return 0;
    }
    dgStore3(contact, c);
    dgStore3(normal, n);
    return 1;
}

int32_t dgCollisionClosestPoint(dgWorld* world, const dgCollision* shapeA, const float* matrixA,
                                const dgCollision* shapeB, const float* matrixB, float* contactA,
                                float* contactB, float* normal) {
    dgMatrix placementA;
    dgMatrix placementB;
    if (!world || !shapeA || !shapeB || !contactA || !contactB || !normal ||
        !dgLoadMatrix(matrixA, placementA) || !dgLoadMatrix(matrixB, placementB)) {
        return 0;
    }
    dgVector a(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector b(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector n(0.0f, 0.0f, 0.0f, 0.0f);
    if (!dgWorldCollisionClosestPoints(world, const_cast<dgCollision*>(shapeA), placementA,
                                       const_cast<dgCollision*>(shapeB), placementB, a, b, n)) {
        return 0;
    }
    dgStore3(contactA, a);
    dgStore3(contactB, b);
    dgStore3(normal, n);
    return 1;
}

int32_t dgCollisionCollide(dgWorld* world, int32_t maxSize, const dgCollision* shapeA, const float* matrixA,
                           const dgCollision* shapeB, const float* matrixB, float* contacts, float* normals,
                           float* penetrations) {
    dgMatrix placementA;
    dgMatrix placementB;
    if (!world || (maxSize <= 0) || !shapeA || !shapeB || !contacts || !normals || !penetrations ||
        !dgLoadMatrix(matrixA, placementA) || !dgLoadMatrix(matrixB, placementB)) {
        return 0;
    }
    return dgWorldCollide(world, const_cast<dgCollision*>(shapeA), placementA,
                          const_cast<dgCollision*>(shapeB), placementB, contacts, normals, penetrations,
                          maxSize);
}

int32_t dgCollisionCollideContinuous(dgWorld* world, int32_t maxSize, float timestep,
                                     const dgCollision* shapeA, const float* matrixA, const float* velocityA,
                                     const float* omegaA, const dgCollision* shapeB, const float* matrixB,
                                     const float* velocityB, const float* omegaB, float* timeOfImpact,
                                     float* contacts, float* normals, float* penetrations) {
    dgMatrix placementA;
    dgMatrix placementB;
    dgVector veloc[2];
    dgVector omega[2];
    if (!world || (maxSize < 0) || !std::isfinite(timestep) || !shapeA || !shapeB || !timeOfImpact ||
        !contacts || !normals || !penetrations || !dgLoadMatrix(matrixA, placementA) ||
        !dgLoadMatrix(matrixB, placementB) || !dgLoadVector(velocityA, 0.0f, veloc[0]) ||
        !dgLoadVector(omegaA, 0.0f, omega[0]) || !dgLoadVector(velocityB, 0.0f, veloc[1]) ||
        !dgLoadVector(omegaB, 0.0f, omega[1])) {
        return 0;
    }
    *timeOfImpact = timestep;
    return dgWorldCollideContinuous(world, const_cast<dgCollision*>(shapeA), placementA, veloc[0], omega[0],
                                    const_cast<dgCollision*>(shapeB), placementB, veloc[1], omega[1],
                                    timeOfImpact, contacts, normals, penetrations, maxSize);
}

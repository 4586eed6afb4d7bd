// The body functions of the public header: each finds the body, checks its
// input and reads or writes the body's state with the interface's clamps and
// scalings.
#include <cmath>
#include <cstring>

#include "dgApiWorld.h"
#include "dgAssert.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgConstraint.h"
#include "dgFlatInput.h"
#include "dgMathUtils.h"
#include "dgMatrix.h"
#include "dgPhysics.h"
#include "dgPlane.h"
#include "dgTreeCollision.h"
#include "dgVector.h"
#include "dgWorld.h"

namespace {

// Inertia bounds as multiples of the mass, and the smallest movable mass with
// what a smaller one becomes.
constexpr float kMinInertiaRatio = 0.01f;
constexpr float kMaxInertiaRatio = 100.0f;
constexpr float kMinMass = 0.001f;
constexpr float kTinyMassReplacement = 1.5e15f;
// Damping is kept per step at this fraction of the coefficient.
constexpr float kDampingScale = 0.02f;
// The speed bounds of the rest test are this fraction of the acceleration
// bounds (asked back x 10); no bound goes below kMinFreezeThreshold.
constexpr float kFreezeSpeedRatio = 0.1f;
constexpr float kFreezeQueryScale = 10.0f;
constexpr float kMinFreezeThreshold = 0.01f;

bool finite(float value) {
    return std::isfinite(value);
}

dgVector load3(const float* v, float w) {
    return dgVector(v[0], v[1], v[2], w);
}

void store3(const dgVector& v, float* out) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

void zero3(float* out) {
    if (out) {
        out[0] = out[1] = out[2] = 0.0f;
    }
}

// Writes through each out-pointer that is there.
void storeOut(float* out, float value) {
    if (out) {
        *out = value;
    }
}

// Reads the three floats when body and v are both there and finite.
bool readVector(const dgBody* body, const float* v) {
    return body && v && dgIsFiniteArray(v, 3);
}

void getVector(const dgBody* body, const dgVector dgBody::*field, float* out) {
    if (!out) {
        return;
    }
    if (!body) {
        zero3(out);
        return;
    }
    store3(body->*field, out);
}

float clampUnit(float value) {
    return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

void setFlag(dgBody* body, uint32_t bit, int32_t state) {
    if (!body) {
        return;
    }
    if (state) {
        body->m_flags |= bit;
    } else {
        body->m_flags &= ~bit;
    }
}

int32_t getFlag(const dgBody* body, uint32_t bit) {
    return (body && (body->m_flags & bit)) ? 1 : 0;
}

bool isPolygonSoup(const dgCollision* shape) {
    return shape && shape->isClass(dgCollisionPolygonalSoup::kClassId);
}

// Passes the collision layer's fluid-plane query to the public callback.
struct BuoyancyPlane {
    dgBuoyancyPlaneCallback callback;
    void* context;
};

int32_t buoyancyPlane(uint32_t userId, void* context, const dgMatrix& globalMatrix, dgPlane& plane) {
    const BuoyancyPlane* query = static_cast<const BuoyancyPlane*>(context);
    float out[4] = {plane.x, plane.y, plane.z, plane.w};
    if (!query->callback(userId, query->context, &globalMatrix.front.x, out)) {
        return 0;
    }
    plane = dgPlane(out[0], out[1], out[2], out[3]);
    return 1;
}

}  // namespace

dgBody* dgCreateBody(dgWorld* world, dgCollision* shape) {
    if (!world) {
        return nullptr;
    }
    return dgWorldCreateBody(world, shape);
}

void dgDestroyBody(dgWorld* world, dgBody* body) {
    if (world && body && (body->m_world == world)) {
        dgApiWorldOf(world)->destroyBody(body);
    }
}

void dgBodySetUserData(dgBody* body, void* userData) {
    if (body) {
        body->m_userData = userData;
    }
}

void* dgBodyGetUserData(const dgBody* body) {
    return body ? body->m_userData : nullptr;
}

dgWorld* dgBodyGetWorld(const dgBody* body) {
    return body ? body->m_world : nullptr;
}

void dgBodySetTransformCallback(dgBody* body, dgBodyTransformCallback callback) {
    if (body) {
        body->m_transform = callback;
    }
}

void dgBodySetForceAndTorqueCallback(dgBody* body, dgBodyForceAndTorqueCallback callback) {
    if (body) {
        body->m_forceAndTorque = callback;
    }
}

dgBodyForceAndTorqueCallback dgBodyGetForceAndTorqueCallback(const dgBody* body) {
    return body ? body->m_forceAndTorque : nullptr;
}

void dgBodySetActivationCallback(dgBody* body, dgBodyActivationCallback callback) {
    if (!body) {
        return;
    }
    body->m_activation = callback;
    if (callback) {
        callback(body, (body->m_flags & dgBodyFlagActive) ? 1u : 0u);
    }
}

void dgBodySetDestructorCallback(dgBody* body, dgBodyDestructorCallback callback) {
    if (body) {
        body->m_destructor = callback;
    }
}

void dgBodySetMassMatrix(dgBody* body, float mass, float Ixx, float Iyy, float Izz) {
    if (!body || !finite(mass) || !finite(Ixx) || !finite(Iyy) || !finite(Izz)) {
        return;
    }
    mass = std::fabs(mass);
    const float requested[3] = {std::fabs(Ixx), std::fabs(Iyy), std::fabs(Izz)};
    float clamped[3];
    for (int i = 0; i < 3; ++i) {
        const float low = kMinInertiaRatio * mass;
        const float high = kMaxInertiaRatio * mass;
        clamped[i] = requested[i] < low ? low : (requested[i] > high ? high : requested[i]);
    }
    if (mass < kMinMass) {
        mass = kTinyMassReplacement;
    }
    const bool wasImmovable = (body->m_invMass.w == 0.0f);
    dgBodyStoreMassMatrix(body, mass, clamped[0], clamped[1], clamped[2], requested[0], requested[1],
                          requested[2]);
    // The solver took an immovable body out of the awake set for good: one
    // made movable again must be woken, or it would hang where it stopped.
    if (wasImmovable && (body->m_invMass.w != 0.0f) && body->m_world) {
        dgWorldUnfreezeBody(body->m_world, body);
    }
}

void dgBodyGetMassMatrix(const dgBody* body, float* mass, float* Ixx, float* Iyy, float* Izz) {
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (body) {
        dgBodyReadMassMatrix(body, values[0], values[1], values[2], values[3]);
    }
    storeOut(mass, values[0]);
    storeOut(Ixx, values[1]);
    storeOut(Iyy, values[2]);
    storeOut(Izz, values[3]);
}

void dgBodyGetInverseMassMatrix(const dgBody* body, float* invMass, float* invIxx, float* invIyy, float* invIzz) {
    float values[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (body) {
        dgBodyGetInvMassMatrix(body, values[0], values[1], values[2], values[3]);
    }
    storeOut(invMass, values[0]);
    storeOut(invIxx, values[1]);
    storeOut(invIyy, values[2]);
    storeOut(invIzz, values[3]);
}

void dgBodySetMatrix(dgBody* body, const float* matrix) {
    dgMatrix m;
    if (body && dgFlatOrthonormalMatrix(matrix, m)) {
        dgBodySetMatrixInternal(body, m);
    }
}

// The jointed bodies follow by the motion from the body's matrix to this one,
// which is rigid only because the matrix is.
void dgBodySetMatrixRecursive(dgBody* body, const float* matrix) {
    dgMatrix m;
    if (body && body->m_world && dgFlatOrthonormalMatrix(matrix, m)) {
        dgWorldSetBodyMatrix(body->m_world, body, m);
    }
}

void dgBodyGetMatrix(const dgBody* body, float* matrix) {
    if (!matrix) {
        return;
    }
    if (!body) {
        std::memset(matrix, 0, 16 * sizeof(float));
        return;
    }
    static_assert(sizeof(dgMatrix) == 16 * sizeof(float), "a matrix is 16 packed floats");
    std::memcpy(matrix, &body->m_matrix, sizeof(dgMatrix));
}

void dgBodySetForce(dgBody* body, const float* force) {
    if (readVector(body, force)) {
        body->m_force = load3(force, 1.0f);
    }
}

void dgBodyAddForce(dgBody* body, const float* force) {
    if (readVector(body, force)) {
        dgBodyAccumulateForce(body, load3(force, 0.0f));
    }
}

void dgBodySetTorque(dgBody* body, const float* torque) {
    if (readVector(body, torque)) {
        body->m_torque = load3(torque, 1.0f);
    }
}

void dgBodyAddTorque(dgBody* body, const float* torque) {
    if (readVector(body, torque)) {
        dgBodyAccumulateTorque(body, load3(torque, 0.0f));
    }
}

void dgBodyGetForce(const dgBody* body, float* force) {
    getVector(body, &dgBody::m_netForce, force);
}

void dgBodyGetTorque(const dgBody* body, float* torque) {
    getVector(body, &dgBody::m_netTorque, torque);
}

void dgBodySetCentreOfMass(dgBody* body, const float* centre) {
    if (readVector(body, centre)) {
        dgBodySetLocalCentreOfMass(body, load3(centre, 1.0f));
    }
}

void dgBodyGetCentreOfMass(const dgBody* body, float* centre) {
    getVector(body, &dgBody::m_localCentreOfMass, centre);
}

void dgBodySetVelocity(dgBody* body, const float* velocity) {
    if (readVector(body, velocity)) {
        body->m_veloc = load3(velocity, 1.0f);
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    }
}

void dgBodySetOmega(dgBody* body, const float* omega) {
    if (readVector(body, omega)) {
        body->m_omega = load3(omega, 1.0f);
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    }
}

void dgBodyGetVelocity(const dgBody* body, float* velocity) {
    getVector(body, &dgBody::m_veloc, velocity);
}

void dgBodyGetOmega(const dgBody* body, float* omega) {
    getVector(body, &dgBody::m_omega, omega);
}

void dgBodySetLinearDamping(dgBody* body, float coefficient) {
    if (body && finite(coefficient)) {
        body->m_linearDamping = clampUnit(coefficient) * kDampingScale;
    }
}

float dgBodyGetLinearDamping(const dgBody* body) {
    return body ? body->m_linearDamping / kDampingScale : 0.0f;
}

void dgBodySetAngularDamping(dgBody* body, const float* coefficients) {
    if (readVector(body, coefficients)) {
        dgBodyStoreAngularDamping(body, dgVector(clampUnit(coefficients[0]), clampUnit(coefficients[1]),
                                                 clampUnit(coefficients[2]), 0.0f));
    }
}

void dgBodyGetAngularDamping(const dgBody* body, float* coefficients) {
    if (!coefficients) {
        return;
    }
    if (!body) {
        zero3(coefficients);
        return;
    }
    store3(dgBodyReadAngularDamping(body), coefficients);
}

void dgBodySetFreezeThreshold(dgBody* body, float speed, float omega) {
    if (!body || !finite(speed) || !finite(omega)) {
        return;
    }
    float values[4] = {speed, omega, kFreezeSpeedRatio * speed, kFreezeSpeedRatio * omega};
    for (float& value : values) {
        if (value < kMinFreezeThreshold) {
            value = kMinFreezeThreshold;
        }
    }
    dgBodySetFreezeThresholds(body, values[0], values[1], values[2], values[3]);
}

void dgBodyGetFreezeThreshold(const dgBody* body, float* speed, float* omega) {
    storeOut(speed, body ? kFreezeQueryScale * body->m_freezeThresholds[2] : 0.0f);
    storeOut(omega, body ? kFreezeQueryScale * body->m_freezeThresholds[3] : 0.0f);
}

void dgBodySetAutoFreeze(dgBody* body, int32_t state) {
    setFlag(body, dgBodyFlagAutoFreeze, state);
}

int32_t dgBodyGetAutoFreeze(const dgBody* body) {
    return getFlag(body, dgBodyFlagAutoFreeze);
}

void dgBodySetContinuousCollisionMode(dgBody* body, int32_t state) {
    setFlag(body, dgBodyFlagContinuous, state);
}

int32_t dgBodyGetContinuousCollisionMode(const dgBody* body) {
    return getFlag(body, dgBodyFlagContinuous);
}

void dgBodySetDirectLinkCollisionMode(dgBody* body, int32_t state) {
    setFlag(body, dgBodyFlagDirectLink, state);
}

int32_t dgBodyGetDirectLinkCollisionMode(const dgBody* body) {
    return getFlag(body, dgBodyFlagDirectLink);
}

void dgBodySetFlagBit3(dgBody* body, int32_t state) {
    setFlag(body, dgBodyFlagKeepAngularMomentum, state);
}

void dgBodySetMaterialGroupId(dgBody* body, uint32_t groupId) {
    if (body) {
        body->m_materialGroupId = groupId;
    }
}

uint32_t dgBodyGetMaterialGroupId(const dgBody* body) {
    return body ? body->m_materialGroupId : 0u;
}

namespace {

// Whether a vehicle of the body's world has the body for its chassis.
bool isChassis(const dgBody* body) {
    if (!body->m_world) {
        return false;
    }
    for (auto* node = body->m_world->m_vehicleSet.m_entries.getFirst(); node; node = node->getNext()) {
        if (node->getValue().joint->m_body0 == body) {
            return true;
        }
    }
    return false;
}

}  // namespace

void dgBodySetCollision(dgBody* body, dgCollision* shape) {
    // A vehicle's tires are children of the compound it made its chassis: a
    // shape swapped in would free them under the vehicle.
    if (!body || !shape || isChassis(body)) {
        return;
    }
    // Reference first: the new shape may be the old one.
    shape->addRef();
    if (body->m_flags & dgBodyFlagShapeLent) {
        // The body's collision names a shape it does not own, and a walk is
        // still going over the one it does: the swap waits for the lend to
        // end (dgBodyShapeLend), the last request winning.
        dgCollision* const waiting = body->m_lentSwap;
        body->m_lentSwap = shape;
        if (waiting) {
            if (body->m_world) {
                dgApiWorldOf(body->m_world)->releaseCollision(waiting);
            } else {
                dgWorldReleaseCollision(nullptr, waiting);
            }
        }
        return;
    }
    dgCollision* const old = body->m_collision;
    if (body->m_world) {
        // Every world is the interface world (dgWorldCreate). A callback may
        // swap the shape the step is colliding: the release then waits for
        // the end of the sub-step.
        if (!dgApiWorldOf(body->m_world)->releaseCollision(old)) {
            shape->release();
            return;
        }
    } else {
        dgWorldReleaseCollision(nullptr, old);
    }
    body->m_collision = shape;
    if (isPolygonSoup(shape)) {
        const dgVector mass = body->m_mass;
        const dgVector requested = body->m_requestedMass;
        dgBodyStoreMassMatrix(body, mass.w, mass.x, mass.y, mass.z, requested.x, requested.y, requested.z);
    }
    dgBodySetMatrixInternal(body, body->m_matrix);
}

dgCollision* dgBodyGetCollision(const dgBody* body) {
    if (!body) {
        return nullptr;
    }
    // A shape given while the collision is lent is the body's from the call on.
    return body->m_lentSwap ? body->m_lentSwap : body->m_collision;
}

void dgBodyGetAABB(const dgBody* body, float* boxMin, float* boxMax) {
    getVector(body, &dgBody::m_minAABB, boxMin);
    getVector(body, &dgBody::m_maxAABB, boxMax);
}

void dgBodyAddImpulse(dgBody* body, const float* pointDeltaVeloc, const float* point) {
    if (!readVector(body, pointDeltaVeloc) || !point || !dgIsFiniteArray(point, 3)) {
        return;
    }
    // An immovable body is neither woken nor pushed.
    if (body->m_invMass.w == 0.0f) {
        return;
    }
    if (body->m_world) {
        dgWorldUnfreezeBody(body->m_world, body);
    }
    dgBodyApplyImpulse(body, load3(pointDeltaVeloc, 0.0f), load3(point, 1.0f));
}

void dgBodyAddBuoyancyForce(dgBody* body, float fluidDensity, float linearViscosity, float angularViscosity,
                            const float* gravity, dgBuoyancyPlaneCallback planeCallback, void* context) {
    if (!readVector(body, gravity) || !finite(fluidDensity) || !finite(linearViscosity) ||
        !finite(angularViscosity) || !body->m_collision) {
        return;
    }
    BuoyancyPlane query = {planeCallback, context};
    dgBodyAccumulateBuoyancy(body, fluidDensity, linearViscosity, angularViscosity, load3(gravity, 0.0f),
                             planeCallback ? buoyancyPlane : nullptr, &query);
}

namespace {

void dgWalkBodyPolygons(const dgBody* body, dgCollisionPolygonCallback callback) {
    dgCollision* shape = body->m_collision;
    if (!shape->isClass(dgCollisionPolygonalSoup::kClassId)) {
        shape->forEachPolygon(body, callback);
        return;
    }
    dgCollisionPolygonalSoup* soup = static_cast<dgCollisionPolygonalSoup*>(shape);
    if (soup->getCollideCallback() != dgTreeCollisionCollide) {
        return;
    }
    soup->setCollideCallback(dgTreeCollisionPolygonWalk);
    soup->forEachPolygon(body, callback);
    soup->setCollideCallback(dgTreeCollisionCollide);
}

}  // namespace

void dgBodyForEachPolygonDo(const dgBody* body, dgCollisionPolygonCallback callback) {
    if (!body || !body->m_collision || !callback) {
        return;
    }
    if (!body->m_world) {
        dgWalkBodyPolygons(body, callback);
        return;
    }
    // The callback may destroy the body or give its shape back while the
    // shape is handing out faces: both wait for the walk's end.
    dgApiWalk walk(body->m_world);
    dgWalkBodyPolygons(body, callback);
}

void dgGetEulerAngles(const float* matrix, float* angles) {
    if (!matrix || !angles) {
        return;
    }
    dgMatrix m;
    std::memcpy(&m, matrix, sizeof(dgMatrix));
    dgVector result(0.0f, 0.0f, 0.0f, 0.0f);
    m.getEulerAngles(result);
    store3(result, angles);
}

void dgSetEulerAngles(const float* angles, float* matrix) {
    if (!angles || !matrix) {
        return;
    }
    dgMatrix m = dgRotationMatrixX(angles[0]) * dgRotationMatrixY(angles[1]) * dgRotationMatrixZ(angles[2]);
    m.position = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    std::memcpy(matrix, &m, sizeof(dgMatrix));
}

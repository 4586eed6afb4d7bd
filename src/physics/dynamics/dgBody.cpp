#include "dgBody.h"

#include <cmath>
#include <cstring>
#include <new>

#include "dgCollision.h"
#include "dgCompoundCollision.h"
#include "dgContactPoint.h"
#include "dgWorld.h"

namespace {

// Fraction of the box extent the predicted motion may cover before the box is
// stretched: small steps stay inside the margin and leave the box alone.
constexpr float kContinuousMargin = 0.3f;
// The same for each child box of a compound, which the contact pipeline
// pairs on its own.
constexpr float kCompoundChildMargin = 0.45f;

// One step may turn a body by at most 45 degrees (in the engine's single
// precision degree factor).
constexpr float kMaxStepAngle = 45.0f * 0.017453279f;
constexpr float kOmegaDamp = 0.8f;

constexpr float kMinBuoyantMass = 0.01f;
constexpr float kMinSubmergedVolume = 0.0001f;

// Torque through the inverse principal inertia, taken in body axes.
dgVector angularAcceleration(const dgBody* body) {
    const dgVector local = body->m_matrix.inverseRotateVector(body->m_torque);
    const dgVector scaled(local.x * body->m_invMass.x, local.y * body->m_invMass.y,
                          local.z * body->m_invMass.z, 0.0f);
    return body->m_matrix.rotateVector(scaled);
}

// Widens the box on each axis by the part of the step beyond margin x its
// extent, on the side the step points to.
void stretchBox(dgVector& boxMin, dgVector& boxMax, const dgVector& step, float margin) {
    for (int i = 0; i < 3; ++i) {
        const float allowed = margin * (boxMax[i] - boxMin[i]);
        if (std::fabs(step[i]) > allowed) {
            if (step[i] < 0.0f) {
                boxMin[i] += step[i] + allowed;
            } else {
                boxMax[i] += step[i] - allowed;
            }
        }
    }
}

}  // namespace

dgBody::dgBody() : m_rotation(0.0f, 0.0f, 0.0f, 1.0f) {}

dgBody* dgBody::createCleared(void* storage) {
    std::memset(storage, 0, sizeof(dgBody));
    return ::new (storage) dgBody();
}

void dgBody::clear() {
    std::memset(static_cast<void*>(this), 0, sizeof(dgBody));
}

void dgBodyUpdateCollisionMatrix(dgBody* body, float timestep) {
    const dgCollision* shape = body->m_collision;
    if (shape->hasOffset()) {
        body->m_collisionMatrix = shape->getOffsetMatrix().multiply(body->m_matrix);
    } else {
        body->m_collisionMatrix = body->m_matrix;
    }
    shape->calcAABB(body->m_collisionMatrix, body->m_minAABB, body->m_maxAABB);

    if (body->m_flags & dgBodyFlagContinuous) {
        const float accelScale = timestep * timestep * body->m_invMass.w;
        dgVector step(0.0f, 0.0f, 0.0f, 0.0f);
        for (int i = 0; i < 3; ++i) {
            step[i] = timestep * body->m_veloc[i] + accelScale * body->m_force[i];
        }
        stretchBox(body->m_minAABB, body->m_maxAABB, step, kContinuousMargin);
        if (const dgCompoundCollision* compound = dgRefCast<dgCompoundCollision>(shape)) {
            dgVector* boxes = compound->getChildBoxes();
            for (int32_t i = 0; i < compound->getChildCount(); ++i) {
                stretchBox(boxes[2 * i], boxes[2 * i + 1], step, kCompoundChildMargin);
            }
        }
    }

    if (body->m_broadPhaseCell && body->m_world) {
        dgBroadPhaseMoveBody(&body->m_world->m_broadPhase, body);
    }
}

void dgBodySetMatrixInternal(dgBody* body, const dgMatrix& matrix) {
    body->m_matrix = matrix;
    body->m_rotation = dgQuaternion::fromMatrix(matrix);
    body->m_globalCentreOfMass = matrix.transformVector(body->m_localCentreOfMass);
    // Temporary bodies have no world and so no step to stretch over.
    const float timestep = body->m_world ? body->m_world->m_timeStep : 0.0f;
    dgBodyUpdateCollisionMatrix(body, timestep);
}

float dgBodyRayCast(dgBody* body, const dgVector& p0, const dgVector& p1, dgWorldRayFilterCallback filter,
                    void* userData, dgWorldRayPrefilterCallback prefilter, float limit) {
    const dgMatrix& matrix = body->m_collisionMatrix;
    const dgVector localP0 = matrix.inverseTransformVector(p0);
    const dgVector localP1 = matrix.inverseTransformVector(p1);

    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    const float t = body->m_collision->rayCast(localP0, localP1, contact, prefilter, body, userData);
    if (!(t < limit)) {
        return limit;
    }
    if (!filter) {
        return t;
    }

    dgVector normal = matrix.rotateVector(contact.normal);
    normal.w = 0.0f;
    // The filter sees the 32-bit attribute: the record's high word is always 0.
    const uint32_t attribute = uint32_t(uint64_t(contact.userId));
    return filter(body, &normal.x, attribute, userData, t);
}

void dgBodyCalculateNextVelocities(const dgBody* body, float timestep, dgVector& veloc, dgVector& omega) {
    const float linearScale = timestep * body->m_invMass.w;
    dgVector v = body->m_veloc;
    v.x += linearScale * body->m_force.x;
    v.y += linearScale * body->m_force.y;
    v.z += linearScale * body->m_force.z;

    const dgVector alpha = angularAcceleration(body);
    dgVector w = body->m_omega;
    w.x += timestep * alpha.x;
    w.y += timestep * alpha.y;
    w.z += timestep * alpha.z;

    // A non-finite omega would never fall below the limit: it is left as is.
    const float maxAngle2 = kMaxStepAngle * kMaxStepAngle;
    const float dt2 = timestep * timestep;
    for (float mag2 = w.dot(w); std::isfinite(mag2) && mag2 * dt2 > maxAngle2; mag2 = w.dot(w)) {
        w.x *= kOmegaDamp;
        w.y *= kOmegaDamp;
        w.z *= kOmegaDamp;
    }

    veloc = v;
    omega = w;
}

void dgBodyAddBuoyancyForce(dgBody* body, float density, float linearViscosity, float angularViscosity,
                            const dgVector& gravity, dgCollisionFluidPlaneCallback callback, void* context) {
    if (body->m_mass.w <= kMinBuoyantMass) {
        return;
    }

    const dgVector submerged =
        body->m_collision->calcSubmergedVolume(body->m_collisionMatrix, callback, context);
    const float volume = submerged.w;
    if (volume <= kMinSubmergedVolume) {
        return;
    }

    // Archimedes: the displaced fluid's weight, acting at the submerged
    // centroid.
    const dgVector force = gravity.scale(-volume * density);
    const dgVector arm(submerged.x - body->m_globalCentreOfMass.x, submerged.y - body->m_globalCentreOfMass.y,
                       submerged.z - body->m_globalCentreOfMass.z, 0.0f);
    const dgVector torque = arm.cross(force);

    // Drag grows with the square of the speed but stays within fixed bounds,
    // so a slow body is still damped and a fast one is not stopped dead.
    const float kv = dgClamp(body->m_veloc.dot(body->m_veloc) * linearViscosity * 100.0f, 1.0f, 10.0f);
    const float kw = dgClamp(body->m_omega.dot(body->m_omega) * angularViscosity * 1000.0f, 0.25f, 2.0f);

    body->m_force += force - body->m_veloc.scale(kv);
    body->m_torque += torque - body->m_omega.scale(kw);
}

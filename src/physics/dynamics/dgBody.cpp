#include "dgBody.h"

#include <cmath>
#include <cstring>
#include <new>

#include "dgAssert.h"
#include "dgCollision.h"
#include "dgCollisionPolygonalSoup.h"
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

bool isFinite3(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// A force or torque a callback left non-finite acts as none: one bad
// callback must not poison the body for good.
dgVector finiteOrZero(const dgVector& v) {
    return isFinite3(v) ? v : dgVector(0.0f, 0.0f, 0.0f, v.w);
}

// Torque through the inverse principal inertia, taken in body axes.
dgVector angularAcceleration(const dgBody* body, const dgVector& torque) {
    const dgVector local = body->m_matrix.inverseRotateVector(torque);
    const dgVector scaled(local.x * body->m_invMass.x, local.y * body->m_invMass.y,
                          local.z * body->m_invMass.z, 0.0f);
    return body->m_matrix.rotateVector(scaled);
}

// Scales omega by 0.8 until one step turns by at most 45 degrees. A
// non-finite omega would never get there and is left as it is; a finite one
// whose square overflows still comes down (a few hundred scalings at most).
void limitStepTurn(dgVector& omega, float timestep) {
    const float maxAngle2 = kMaxStepAngle * kMaxStepAngle;
    const float dt2 = timestep * timestep;
    while (isFinite3(omega) && omega.dot(omega) * dt2 > maxAngle2) {
        omega.x *= kOmegaDamp;
        omega.y *= kOmegaDamp;
        omega.z *= kOmegaDamp;
    }
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
    // Cleared after construction: the compiler may drop stores made to the
    // storage before an object's lifetime begins in it.
    dgBody* body = ::new (storage) dgBody();
    const dgQuaternion rotation = body->m_rotation;
    body->clear();
    body->m_rotation = rotation;
    return body;
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
    const dgVector force = finiteOrZero(body->m_force);
    dgVector v = body->m_veloc;
    v.x += linearScale * force.x;
    v.y += linearScale * force.y;
    v.z += linearScale * force.z;

    const dgVector alpha = angularAcceleration(body, finiteOrZero(body->m_torque));
    dgVector w = body->m_omega;
    w.x += timestep * alpha.x;
    w.y += timestep * alpha.y;
    w.z += timestep * alpha.z;
    limitStepTurn(w, timestep);

    veloc = v;
    omega = w;
}

void dgBodyAccumulateBuoyancy(dgBody* body, float density, float linearViscosity, float angularViscosity,
                              const dgVector& gravity, dgCollisionFluidPlaneCallback callback,
                              void* context) {
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

namespace {

// Mass at and above which a body is immovable, and the requested mass above
// which the mass query reports an immovable body as all zeros.
constexpr float kImmovableMass = 1.0e15f;
constexpr float kImmovableQueryMass = 5.0e14f;
// Keeps the inverse mass query finite for a zero request.
constexpr float kInvMassBias = 1.0e-8f;
// Below this angular speed the rotation is not integrated.
constexpr float kMinRotationSpeed = 0.0125f * 0.017453279f;
// Damping is stored pre-scaled so the solver applies it per step as it is.
constexpr float kDampingScale = 0.02f;

bool isPolygonSoup(const dgCollision* shape) {
    return shape && shape->isClass(dgCollisionPolygonalSoup::kClassId);
}

}  // namespace

void dgBodyStoreMassMatrix(dgBody* body, float mass, float Ixx, float Iyy, float Izz, float requestedIxx,
                           float requestedIyy, float requestedIzz) {
    if (isPolygonSoup(body->m_collision) || mass >= kImmovableMass) {
        body->m_flags |= dgBodyFlagEquilibrium;
        body->m_mass = dgVector(kImmovableMass, kImmovableMass, kImmovableMass, kImmovableMass);
        body->m_invMass = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
        body->m_requestedMass = body->m_mass;
        return;
    }
    DG_ASSERT(mass > 0.0f && Ixx > 0.0f && Iyy > 0.0f && Izz > 0.0f);

    body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    const dgVector localOmega = body->m_matrix.inverseRotateVector(body->m_omega);
    const dgVector momentum(localOmega.x * body->m_mass.x, localOmega.y * body->m_mass.y,
                            localOmega.z * body->m_mass.z, 0.0f);
    body->m_mass = dgVector(Ixx, Iyy, Izz, mass);
    body->m_invMass = dgVector(1.0f / Ixx, 1.0f / Iyy, 1.0f / Izz, 1.0f / mass);

    if (body->m_flags & dgBodyFlagKeepAngularMomentum) {
        const dgVector local(momentum.x * body->m_invMass.x, momentum.y * body->m_invMass.y,
                             momentum.z * body->m_invMass.z, 0.0f);
        const float w = body->m_omega.w;
        body->m_omega = body->m_matrix.rotateVector(local);
        body->m_omega.w = w;
    }

    // Immovable masses and polygon soups returned above, so the request is
    // the caller's as it stands.
    body->m_requestedMass = dgVector(requestedIxx, requestedIyy, requestedIzz, mass);
}

void dgBodyReadMassMatrix(const dgBody* body, float& mass, float& Ixx, float& Iyy, float& Izz) {
    const dgVector& requested = body->m_requestedMass;
    if (requested.w > kImmovableQueryMass) {
        mass = Ixx = Iyy = Izz = 0.0f;
        return;
    }
    mass = requested.w;
    Ixx = requested.x;
    Iyy = requested.y;
    Izz = requested.z;
}

void dgBodyGetInvMassMatrix(const dgBody* body, float& invMass, float& invIxx, float& invIyy, float& invIzz) {
    const dgVector& requested = body->m_requestedMass;
    invMass = 1.0f / (requested.w + kInvMassBias);
    invIxx = 1.0f / (requested.x + kInvMassBias);
    invIyy = 1.0f / (requested.y + kInvMassBias);
    invIzz = 1.0f / (requested.z + kInvMassBias);
}

void dgBodyIntegrateVelocity(dgBody* body, float timestep) {
    const dgVector accel = finiteOrZero(body->m_force).scale(body->m_invMass.w);
    body->m_force = accel;
    body->m_veloc += accel.scale(timestep);
    body->m_globalCentreOfMass += body->m_veloc.scale(timestep);

    const dgVector alpha = angularAcceleration(body, finiteOrZero(body->m_torque));
    body->m_torque = dgVector(alpha.x, alpha.y, alpha.z, body->m_torque.w);
    body->m_omega += alpha.scale(timestep);
    limitStepTurn(body->m_omega, timestep);

    const float omega2 = body->m_omega.dot(body->m_omega);
    if (isFinite3(body->m_omega) && omega2 > kMinRotationSpeed * kMinRotationSpeed) {
        const float speed = std::sqrt(omega2);
        const dgVector axis = body->m_omega.scale(1.0f / speed);
        dgQuaternion q = body->m_rotation * dgQuaternion::fromAxisAngle(axis, speed * timestep);
        const float invLength = 1.0f / std::sqrt(q.dot(q));
        q = dgQuaternion(q.x * invLength, q.y * invLength, q.z * invLength, q.w * invLength);
        body->m_rotation = q;
        body->m_matrix = dgMatrix::fromQuaternion(q, body->m_matrix.position);
    }

    const dgVector arm = body->m_matrix.rotateVector(body->m_localCentreOfMass);
    const dgVector& centre = body->m_globalCentreOfMass;
    body->m_matrix.position = dgVector(centre.x - arm.x, centre.y - arm.y, centre.z - arm.z, 1.0f);
}

void dgBodyIntegrateAndNotify(dgBody* body, float timestep) {
    body->m_force = finiteOrZero(body->m_force);
    body->m_torque = finiteOrZero(body->m_torque);
    body->m_netForce = body->m_force;
    body->m_netTorque = body->m_torque;
    dgBodyIntegrateVelocity(body, timestep);
    if (body->m_transform) {
        body->m_transform(body, &body->m_matrix.front.x);
    }
    dgBodyUpdateCollisionMatrix(body, timestep);
}

void dgBodyApplyImpulse(dgBody* body, const dgVector& veloc, const dgVector& point) {
    const float invMass = body->m_invMass.w;
    if (invMass == 0.0f) {
        return;
    }
    const dgVector& com = body->m_globalCentreOfMass;
    const dgVector r(point.x - com.x, point.y - com.y, point.z - com.z, 0.0f);
    dgMatrix invInertia;
    dgBodyGetWorldInverseInertia(body, invInertia);

    // An impulse j at the lever r = L n changes the point's velocity by
    // K j = j / m - r x (W (r x j)). The turning part is always across the
    // lever, so along n K is 1/m and j_n = m (dv . n). Across it, in a unit
    // basis (e1, e2 = n x e1), with w_ab = e_a . W e_b:
    //   K = | 1/m + L^2 w22    -L^2 w12     |
    //       | -L^2 w12         1/m + L^2 w11 |
    // whose determinant 1/m^2 + L^2 (w11 + w22) / m + L^4 (w11 w22 - w12^2)
    // is a sum of terms that are never negative. Built as 1/m I + skew terms,
    // the whole 3 x 3 K loses 1/m against L^2 W in float once the lever is a
    // few hundred units long, and comes out singular.
    const double rx = r.x;
    const double ry = r.y;
    const double rz = r.z;
    const double length2 = rx * rx + ry * ry + rz * rz;
    double n[3] = {1.0, 0.0, 0.0};
    if (length2 > 0.0) {
        const double inv = 1.0 / std::sqrt(length2);
        n[0] = rx * inv;
        n[1] = ry * inv;
        n[2] = rz * inv;
    }
    // e1: n crossed with the world axis it is least aligned with.
    double e1[3];
    if (std::fabs(n[0]) <= std::fabs(n[1]) && std::fabs(n[0]) <= std::fabs(n[2])) {
        e1[0] = 0.0, e1[1] = n[2], e1[2] = -n[1];
    } else if (std::fabs(n[1]) <= std::fabs(n[2])) {
        e1[0] = -n[2], e1[1] = 0.0, e1[2] = n[0];
    } else {
        e1[0] = n[1], e1[1] = -n[0], e1[2] = 0.0;
    }
    const double inv1 = 1.0 / std::sqrt(e1[0] * e1[0] + e1[1] * e1[1] + e1[2] * e1[2]);
    e1[0] *= inv1, e1[1] *= inv1, e1[2] *= inv1;
    const double e2[3] = {n[1] * e1[2] - n[2] * e1[1], n[2] * e1[0] - n[0] * e1[2], n[0] * e1[1] - n[1] * e1[0]};

    auto dot = [](const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; };
    auto inertia = [&invInertia, &dot](const double* a, const double* b) {
        double wb[3];
        for (int i = 0; i < 3; ++i) {
            wb[i] = double(invInertia[i][0]) * b[0] + double(invInertia[i][1]) * b[1] + double(invInertia[i][2]) * b[2];
        }
        return dot(a, wb);
    };
    const double w11 = inertia(e1, e1);
    const double w22 = inertia(e2, e2);
    const double w12 = inertia(e1, e2);
    const double m = 1.0 / double(invMass);
    const double im = double(invMass);
    const double dv[3] = {veloc.x, veloc.y, veloc.z};
    const double along = m * dot(dv, n);
    const double d1 = dot(dv, e1);
    const double d2 = dot(dv, e2);
    const double cross = w11 * w22 - w12 * w12;
    const double det = im * im + length2 * (w11 + w22) * im + length2 * length2 * (cross > 0.0 ? cross : 0.0);
    const double a = ((im + length2 * w11) * d1 + length2 * w12 * d2) / det;
    const double b = (length2 * w12 * d1 + (im + length2 * w22) * d2) / det;
    // Only the part across the lever turns the body: r x j = L (a e2 - b e1),
    // taken from the parts rather than from j itself, whose float rounding
    // along the lever would turn it by as much again as a long lever asks.
    const double length = std::sqrt(length2);
    double turn[3];
    for (int i = 0; i < 3; ++i) {
        turn[i] = length * (a * e2[i] - b * e1[i]);
    }
    dgVector deltaVeloc(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector deltaOmega(0.0f, 0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 3; ++i) {
        deltaVeloc[i] = float((along * n[i] + a * e1[i] + b * e2[i]) * im);
        deltaOmega[i] = float(double(invInertia[i][0]) * turn[0] + double(invInertia[i][1]) * turn[1] +
                              double(invInertia[i][2]) * turn[2]);
    }

    body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    body->m_veloc += deltaVeloc;
    body->m_omega += deltaOmega;
}

void dgBodyGetWorldInverseInertia(const dgBody* body, dgMatrix& out) {
    const dgMatrix& m = body->m_matrix;
    const float inv[3] = {body->m_invMass.x, body->m_invMass.y, body->m_invMass.z};
    for (int i = 0; i < 3; ++i) {
        dgVector row(0.0f, 0.0f, 0.0f, 0.0f);
        for (int a = 0; a < 3; ++a) {
            // Row i of R^T, its entry a scaled by 1/I_a, times R.
            row += m[a].scale(m[a][i] * inv[a]);
        }
        row.w = 0.0f;
        out[i] = row;
    }
    out[3] = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
}

void dgBodySetFreezeThresholds(dgBody* body, float acceleration, float angularAccel, float speed,
                               float angularSpeed) {
    body->m_freezeThresholds[0] = acceleration;
    body->m_freezeThresholds[1] = angularAccel;
    body->m_freezeThresholds[2] = speed;
    body->m_freezeThresholds[3] = angularSpeed;
}

void dgBodySetLocalCentreOfMass(dgBody* body, const dgVector& centre) {
    body->m_localCentreOfMass = dgVector(centre.x, centre.y, centre.z, 1.0f);
    body->m_globalCentreOfMass = body->m_matrix.transformVector(body->m_localCentreOfMass);
}

void dgBodyAccumulateForce(dgBody* body, const dgVector& force) {
    body->m_force += force;
}

void dgBodyAccumulateTorque(dgBody* body, const dgVector& torque) {
    body->m_torque += torque;
}

void dgBodyStoreAngularDamping(dgBody* body, const dgVector& coefficients) {
    body->m_angularDamping = dgVector(coefficients.x * kDampingScale, coefficients.y * kDampingScale,
                                      coefficients.z * kDampingScale, 0.0f);
}

dgVector dgBodyReadAngularDamping(const dgBody* body) {
    const dgVector& d = body->m_angularDamping;
    return dgVector(d.x / kDampingScale, d.y / kDampingScale, d.z / kDampingScale, 0.0f);
}

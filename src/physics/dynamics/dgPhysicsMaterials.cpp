// The public interface's material and contact-callback functions: the
// material groups and the records of their pairs, and what the contact
// callbacks read and write through the material handle they are given.
// Removing every group is refused while an update or a walk holds the world.
#include <cmath>
#include <cstdint>

#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgContact.h"
#include "dgMaterialPair.h"
#include "dgMathUtils.h"
#include "dgPhysics.h"
#include "dgWorld.h"

namespace {

constexpr float kMinCoefficient = 0.01f;
constexpr float kMaxCoefficient = 2.0f;
constexpr float kMaxPairSoftness = 1.0f;
constexpr float kMaxContactSoftness = 0.7f;
// Squared length of normal x direction at or below which a tangent
// direction is ignored.
constexpr float kMinTangentCross2 = 1.0e-6f;

void store3(float* out, const dgVector& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

// lower..upper; NaN is refused by the callers before.
float clamp(float value, float lower, float upper) {
    return (value < lower) ? lower : ((value > upper) ? upper : value);
}

bool validDirection(int32_t direction) {
    return (direction == 0) || (direction == 1);
}

// Velocity of body at point: its velocity plus omega x (point - origin).
dgVector pointVelocity(const dgBody* body, const dgVector& point) {
    const dgVector arm(point.x - body->m_matrix.position.x, point.y - body->m_matrix.position.y,
                       point.z - body->m_matrix.position.z, 0.0f);
    return body->m_veloc + body->m_omega.cross(arm);
}

// body1's velocity at the contact point minus body0's; null when the
// material is not a contact's point.
bool relativeVelocity(const dgMaterialPair* material, const dgContact* contact, dgVector& velocity) {
    if (!material || !contact || !material->body0 || !material->body1) {
        return false;
    }
    velocity =
        pointVelocity(material->body1, material->point) - pointVelocity(material->body0, material->point);
    return true;
}

// The pair record of (id0, id1); null for a null world or a group never
// created (dgWorldGetMaterialPair refuses ids past the group count).
dgMaterialPair* pairOf(dgWorld* world, uint32_t id0, uint32_t id1) {
    return world ? dgWorldGetMaterialPair(world, id0, id1) : nullptr;
}

}  // namespace

// ---- materials ----

uint32_t dgMaterialGetDefaultGroupId(const dgWorld* world) {
    return world ? world->m_defaultMaterialGroup : 0u;
}

uint32_t dgMaterialCreateGroupId(dgWorld* world) {
    // Records live in tree nodes, which an insertion never moves: a callback
    // holding one may create groups.
    return world ? dgWorldCreateMaterialGroup(world) : 0u;
}

void dgMaterialDestroyAllGroups(dgWorld* world) {
    if (!world || dgWorldIsUpdating(world)) {
        return;
    }
    dgMaterialTableReset(world);
}

void dgMaterialSetDefaultCollidable(dgWorld* world, uint32_t id0, uint32_t id1, int32_t state) {
    if (dgMaterialPair* pair = pairOf(world, id0, id1)) {
        if (state) {
            pair->m_flags |= dgMaterialFlagCollidable;
        } else {
            pair->m_flags &= ~uint32_t(dgMaterialFlagCollidable);
        }
    }
}

void dgMaterialSetDefaultFriction(dgWorld* world, uint32_t id0, uint32_t id1, float staticFriction,
                                  float kineticFriction) {
    dgMaterialPair* pair = pairOf(world, id0, id1);
    if (!pair || !std::isfinite(staticFriction) || !std::isfinite(kineticFriction)) {
        return;
    }
    staticFriction = std::fabs(staticFriction);
    kineticFriction = std::fabs(kineticFriction);
    if (staticFriction < kMinCoefficient) {
        pair->m_flags &= ~uint32_t(dgMaterialFlagFriction0 | dgMaterialFlagFriction1);
        return;
    }
    staticFriction = (staticFriction > kMaxCoefficient) ? kMaxCoefficient : staticFriction;
    kineticFriction = clamp(kineticFriction, kMinCoefficient, kMaxCoefficient);
    staticFriction = (staticFriction < kineticFriction) ? kineticFriction : staticFriction;
    pair->m_staticFriction0 = staticFriction;
    pair->m_staticFriction1 = staticFriction;
    pair->m_kineticFriction0 = kineticFriction;
    pair->m_kineticFriction1 = kineticFriction;
}

void dgMaterialSetDefaultElasticity(dgWorld* world, uint32_t id0, uint32_t id1, float elasticity) {
    dgMaterialPair* pair = pairOf(world, id0, id1);
    if (pair && std::isfinite(elasticity)) {
        pair->m_elasticity = clamp(elasticity, kMinCoefficient, kMaxCoefficient);
    }
}

void dgMaterialSetDefaultSoftness(dgWorld* world, uint32_t id0, uint32_t id1, float softness) {
    dgMaterialPair* pair = pairOf(world, id0, id1);
    if (pair && std::isfinite(softness)) {
        pair->m_softness = clamp(softness, kMinCoefficient, kMaxPairSoftness);
    }
}

void dgMaterialSetCollisionCallback(dgWorld* world, uint32_t id0, uint32_t id1, void* userData,
                                    dgMaterialBeginCallback begin, dgMaterialProcessCallback process,
                                    dgMaterialEndCallback end) {
    if (dgMaterialPair* pair = pairOf(world, id0, id1)) {
        pair->m_userData = userData;
        pair->m_begin = begin;
        pair->m_process = process;
        pair->m_end = end;
    }
}

void dgMaterialSetCompoundCallback(dgWorld* world, uint32_t id0, uint32_t id1,
                                   dgMaterialCompoundCallback callback) {
    if (dgMaterialPair* pair = pairOf(world, id0, id1)) {
        pair->m_compound = callback;
    }
}

void* dgMaterialGetUserData(dgWorld* world, uint32_t id0, uint32_t id1) {
    const dgMaterialPair* pair = pairOf(world, id0, id1);
    return pair ? pair->m_userData : nullptr;
}

// ---- inside the contact callbacks ----

void* dgMaterialGetPairUserData(const dgMaterialPair* material) {
    return material ? material->m_userData : nullptr;
}

void dgMaterialDisableContact(dgMaterialPair* material) {
    if (material) {
        material->m_flags &= ~uint32_t(dgMaterialFlagCollidable);
    }
}

uint32_t dgMaterialGetContactAttribute(const dgMaterialPair* material) {
    // The attribute is the low word; the high word is always 0.
    return material ? uint32_t(uint64_t(material->userId)) : 0u;
}

float dgMaterialGetContactTimeStep(const dgMaterialPair* material) {
    if (!material || !material->body0 || !material->body0->m_world) {
        return 0.0f;
    }
    return material->body0->m_world->m_timeStep;
}

void dgMaterialGetContactPositionAndNormal(const dgMaterialPair* material, float* position, float* normal) {
    if (!material) {
        return;
    }
    if (position) {
        store3(position, material->point);
    }
    if (normal) {
        store3(normal, material->normal);
    }
}

void dgMaterialGetContactTangentDirections(const dgMaterialPair* material, float* dir0, float* dir1) {
    if (!material) {
        return;
    }
    if (dir0) {
        store3(dir0, material->m_tangentDir0);
    }
    if (dir1) {
        store3(dir1, material->m_tangentDir1);
    }
}

uint32_t dgMaterialGetBodyCollisionId(const dgMaterialPair* material, const dgBody* body) {
    if (!material || !body || !body->m_world) {
        return 0u;
    }
    const dgCollision* shape = nullptr;
    if (body == material->body0) {
        shape = material->collision0;
    } else if (body == material->body1) {
        shape = material->collision1;
    }
    if (!shape || !shape->isClass(body->m_world->m_convexClassId)) {
        return 0u;
    }
    return shape->getUserId();
}

float dgMaterialGetContactNormalSpeed(const dgMaterialPair* material, const dgContact* contact) {
    dgVector velocity;
    if (!relativeVelocity(material, contact, velocity)) {
        return 0.0f;
    }
    return velocity.dot(material->normal);
}

float dgMaterialGetContactTangentSpeed(const dgMaterialPair* material, const dgContact* contact,
                                       int32_t direction) {
    dgVector velocity;
    if (!validDirection(direction) || !relativeVelocity(material, contact, velocity)) {
        return 0.0f;
    }
    const dgVector& d = direction ? material->m_tangentDir1 : material->m_tangentDir0;
    return -velocity.dot(d);
}

void dgMaterialGetContactForce(const dgMaterialPair* material, float* force) {
    if (!material || !force) {
        return;
    }
    const float n = material->m_normalAcceleration;
    const float t0 = material->m_tangentAcceleration0;
    const float t1 = material->m_tangentAcceleration1;
    const dgVector& normal = material->normal;
    const dgVector& dir0 = material->m_tangentDir0;
    const dgVector& dir1 = material->m_tangentDir1;
    force[0] = normal.x * n + dir0.x * t0 + dir1.x * t1;
    force[1] = normal.y * n + dir0.y * t0 + dir1.y * t1;
    force[2] = normal.z * n + dir0.z * t0 + dir1.z * t1;
}

void dgMaterialSetContactSoftness(dgMaterialPair* material, float softness) {
    if (material && std::isfinite(softness)) {
        material->m_softness = clamp(softness, kMinCoefficient, kMaxContactSoftness);
    }
}

void dgMaterialSetContactElasticity(dgMaterialPair* material, float elasticity) {
    if (material && std::isfinite(elasticity)) {
        material->m_elasticity = clamp(elasticity, kMinCoefficient, kMaxCoefficient);
    }
}

void dgMaterialSetContactFrictionState(dgMaterialPair* material, int32_t enable, int32_t direction) {
    if (!material || !validDirection(direction)) {
        return;
    }
    const uint32_t bit = direction ? dgMaterialFlagFriction1 : dgMaterialFlagFriction0;
    if (enable) {
        material->m_flags |= bit;
    } else {
        material->m_flags &= ~bit;
    }
}

void dgMaterialSetContactStaticFriction(dgMaterialPair* material, float coefficient, int32_t direction) {
    if (!material || !validDirection(direction) || !std::isfinite(coefficient)) {
        return;
    }
    // Bounded by the direction's kinetic coefficient as it stands: the
    // order of the two setters matters.
    float& kinetic = direction ? material->m_kineticFriction1 : material->m_kineticFriction0;
    float& value = direction ? material->m_staticFriction1 : material->m_staticFriction0;
    coefficient = (coefficient < kinetic) ? kinetic : coefficient;
    value = (coefficient > kMaxCoefficient) ? kMaxCoefficient : coefficient;
}

void dgMaterialSetContactKineticFriction(dgMaterialPair* material, float coefficient, int32_t direction) {
    if (!material || !validDirection(direction) || !std::isfinite(coefficient)) {
        return;
    }
    const float staticValue = direction ? material->m_staticFriction1 : material->m_staticFriction0;
    float& value = direction ? material->m_kineticFriction1 : material->m_kineticFriction0;
    coefficient = (coefficient < kMinCoefficient) ? kMinCoefficient : coefficient;
    value = (coefficient > staticValue) ? staticValue : coefficient;
}

void dgMaterialSetContactNormalAcceleration(dgMaterialPair* material, float acceleration) {
    if (material && std::isfinite(acceleration)) {
        material->m_normalAcceleration = acceleration;
        material->m_flags |= dgMaterialFlagNormalAccel;
    }
}

void dgMaterialSetContactTangentAcceleration(dgMaterialPair* material, float acceleration,
                                             int32_t direction) {
    if (!material || !validDirection(direction) || !std::isfinite(acceleration)) {
        return;
    }
    if (direction) {
        material->m_tangentAcceleration1 = acceleration;
        material->m_flags |= dgMaterialFlagTangentAccel1;
    } else {
        material->m_tangentAcceleration0 = acceleration;
        material->m_flags |= dgMaterialFlagTangentAccel0;
    }
}

void dgMaterialSetContactTangentDirection(dgMaterialPair* material, const float* direction) {
    if (!material || !direction || !dgIsFiniteArray(direction, 3)) {
        return;
    }
    const dgVector& n = material->normal;
    const dgVector d(direction[0], direction[1], direction[2], 0.0f);
    dgVector dir1 = n.cross(d);
    dir1.w = 0.0f;
    const float length2 = dir1.dot(dir1);
    if (!(length2 > kMinTangentCross2)) {
        return;
    }
    dir1 = dir1 * (1.0f / std::sqrt(length2));
    dgVector dir0 = dir1.cross(n);
    dir0.w = 0.0f;
    material->m_tangentDir1 = dir1;
    material->m_tangentDir0 = dir0;
}

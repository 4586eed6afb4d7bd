// The body hierarchy functions of the public header: input checked, then
// handed to the assembly (dgAssembly.h) or its parts (dgAssemblyPart.h).
#include <cmath>

#include "dgApiWorld.h"
#include "dgAssembly.h"
#include "dgAssemblyPart.h"
#include "dgBallJoint.h"
#include "dgBody.h"
#include "dgMathUtils.h"
#include "dgPhysics.h"

namespace {

dgAssembly* living(dgAssembly* assembly) {
    return (assembly && dgAssemblyAlive(assembly)) ? assembly : nullptr;
}

void storeMatrix(const dgMatrix& matrix, float* out) {
    if (out) {
        for (int32_t i = 0; i < 4; ++i) {
            for (int32_t j = 0; j < 4; ++j) {
                out[4 * i + j] = matrix[i][j];
            }
        }
    }
}

}  // namespace

dgAssembly* dgCreateAssembly(dgWorld* world) {
    return world ? dgAssemblyCreate(dgApiWorldOf(world)) : nullptr;
}

void dgDestroyAssembly(dgWorld* world, dgAssembly* assembly) {
    if (world && assembly && (assembly->m_world == world)) {
        dgAssemblyDestroy(assembly);
    }
}

void dgAssemblyBeginBuild(dgAssembly* assembly) {
    if (living(assembly)) {
        assembly->beginBuild();
    }
}

void dgAssemblyEndBuild(dgAssembly* assembly) {
    if (living(assembly)) {
        assembly->endBuild();
    }
}

void dgAssemblySetCallbackA(dgAssembly* assembly, dgBodyForceAndTorqueCallback callback) {
    if (living(assembly) && assembly->m_building) {
        assembly->m_forceCallback = callback;
    }
}

void dgAssemblySetCallbackB(dgAssembly* assembly, dgAssemblyUpdateCallback callback) {
    if (living(assembly) && assembly->m_building) {
        assembly->m_updateCallback = callback;
    }
}

dgAssemblyPart* dgAssemblyAddPart(dgAssembly* assembly, dgAssemblyPart* parent, void* userData, float mass,
                                  const float* matrix, dgCollision* collision, const float* size) {
    if (!living(assembly) || !collision || !std::isfinite(mass) || !(mass > 0.0f) || !dgIsFiniteArray(matrix, 16) ||
        !dgIsFiniteArray(size, 3) || !(size[0] > 0.0f) || !(size[1] > 0.0f) || !(size[2] > 0.0f)) {
        return nullptr;
    }
    dgMatrix m;
    for (int32_t i = 0; i < 4; ++i) {
        m[i] = dgVector(matrix[4 * i], matrix[4 * i + 1], matrix[4 * i + 2], matrix[4 * i + 3]);
    }
    return dgAssemblyAddPartChecked(assembly, parent, userData, mass, m, collision, size);
}

dgAssemblyPart* dgAssemblyFindPart(const dgAssembly* assembly, uint32_t key) {
    if (!assembly || !assembly->m_root) {
        return nullptr;
    }
    return static_cast<dgAssemblyPart*>(dgBaseNodeFindByName(assembly->m_root, key));
}

void dgAssemblyPartSetLimits(dgAssemblyPart* part, const float* pin, float minCone, float maxCone, float twist,
                             int32_t, int32_t, int32_t) {
    if (!part || !dgIsFiniteArray(pin, 3) || !std::isfinite(minCone) || !std::isfinite(maxCone) ||
        !std::isfinite(twist)) {
        return;
    }
    dgBallJoint* const joint = part->liveJoint();
    const dgVector axis(pin[0], pin[1], pin[2], 0.0f);
    const float length2 = axis.dot(axis);
    if (!joint || !(length2 > 0.0f) || !std::isfinite(length2)) {
        return;
    }
    joint->setLimits(axis.scale(1.0f / std::sqrt(length2)), minCone, maxCone, twist,
                     dgVector(1.0f, 0.0f, 0.0f, 0.0f));
}

dgBody* dgAssemblyPartGetBody(const dgAssemblyPart* part) {
    return part ? part->m_body : nullptr;
}

void* dgAssemblyGetUserData(const dgAssemblyPart* part) {
    return part ? part->m_userData : nullptr;
}

void dgAssemblyPartSetUserData(dgAssemblyPart* part, uint32_t key) {
    if (part) {
        part->setKey(key);
    }
}

void dgAssemblyPartGetGlobalMatrix(const dgAssemblyPart* part, float* matrix) {
    storeMatrix(part ? part->globalMatrix() : dgGetIdentityMatrix(), matrix);
}

void dgAssemblyPartGetLocalMatrix(const dgAssemblyPart* part, float* matrix) {
    storeMatrix(part ? part->localMatrix() : dgGetIdentityMatrix(), matrix);
}

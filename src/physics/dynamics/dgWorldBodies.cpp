// The world's bodies and its step: creating a body, moving a body with the
// bodies jointed to it, and one solver step.
#include <new>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCollision.h"
#include "dgFpuGuard.h"
#include "dgIslandSolver.h"
#include "dgWorld.h"

namespace {

// A new body does not move under any force until the caller sets its mass.
constexpr float kCreationMass = 2.0e15f;
constexpr float kCreationInertia = 1.0e15f;
// Damping coefficient of a new body, linear and per axis.
constexpr float kCreationDamping = 0.1045f;
// Damping is stored per step of the solver's reference rate.
constexpr float kDampingScale = 0.02f;

constexpr int32_t kMaxJointedBodies = 512;

// Rolls a half-made body back: out of the body tree when it got in, the
// counts restored, its storage back on the pages.
void abandonBody(dgWorld* world, dgBody* body, bool inBodyTree) {
    if (inBodyTree) {
        world->m_bodyTree.removeKey(dgBodyKey(body));
    }
    --world->m_bodyCount;
    --world->m_bodySerial;
    body->~dgBody();
    world->m_bodyPages.give(body);
}

// One body of a recursive move: placed without any activation call, its
// active and auto-freeze bits as they were, awake and at rest.
void placeBody(dgWorld* world, dgBody* body, const dgMatrix& matrix) {
    const dgBodyActivationCallback activation = body->m_activation;
    body->m_activation = nullptr;
    const uint32_t keep = dgBodyFlagActive | dgBodyFlagAutoFreeze;
    const uint32_t kept = body->m_flags & keep;
    dgBodySetMatrixInternal(body, matrix);
    body->m_flags = (body->m_flags & ~keep) | kept;
    body->m_activation = activation;
    if (!body->m_activeNode) {
        body->m_activeNode = dgTreeNodeInsertByKey(&world->m_activeBodyTree, body, dgBodyKey(body), nullptr);
    }
    body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    body->m_veloc = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    body->m_omega = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

}  // namespace

dgBody* dgWorldCreateBody(dgWorld* world, dgCollision* shape) {
    if (!shape) {
        return nullptr;
    }
    void* storage = world->m_bodyPages.take();
    if (!storage) {
        return nullptr;
    }
    dgBody* body = dgBody::createCleared(storage);
    ++world->m_bodyCount;
    ++world->m_bodySerial;
    // The serial is the body's key in the body sets. Only a serial that has
    // wrapped round onto a body still alive is refused.
    body->m_serial = world->m_bodySerial;
    body->m_serialSpare = 0;
    if (!world->m_bodyTree.insert(body, dgBodyKey(body))) {
        abandonBody(world, body, false);
        return nullptr;
    }
    body->m_world = world;
    body->m_flags = dgBodyFlagActive | dgBodyFlagAutoFreeze | dgBodyFlagEquilibrium | dgBodyFlagDirectLink;
    body->m_activeNode = world->m_activeBodyTree.insert(body, dgBodyKey(body));
    if (!body->m_activeNode) {
        abandonBody(world, body, true);
        return nullptr;
    }

    for (int32_t i = 0; i < 4; ++i) {
        body->m_freezeThresholds[i] = world->m_defaultFreezeThresholds[i];
    }
    body->m_linearDamping = kCreationDamping * kDampingScale;
    dgBodyStoreAngularDamping(body, dgVector(kCreationDamping, kCreationDamping, kCreationDamping, 0.0f));
    shape->addRef();
    body->m_collision = shape;
    body->m_materialGroupId = world->m_defaultMaterialGroup;
    dgBodyStoreMassMatrix(body, kCreationMass, kCreationInertia, kCreationInertia, kCreationInertia,
                          kCreationInertia, kCreationInertia, kCreationInertia);
    dgBroadPhaseAddBody(&world->m_broadPhase, body);
    // The caller has not got the body yet: a body born outside the world box
    // is frozen there, but nobody is told, so that no callback sees (or
    // destroys) a body whose creation has not returned.
    const dgBodyOutOfBoundsCallback outOfBounds = world->m_outOfBounds;
    world->m_outOfBounds = nullptr;
    dgBodySetMatrixInternal(body, dgGetIdentityMatrix());
    world->m_outOfBounds = outOfBounds;
    return body;
}

void dgWorldSetBodyMatrix(dgWorld* world, dgBody* body, const dgMatrix& matrix) {
    // Moving bodies one by one may take some out of the world box for a
    // moment: nobody is told.
    const dgBodyOutOfBoundsCallback outOfBounds = world->m_outOfBounds;
    world->m_outOfBounds = nullptr;

    // Not the solver workspace: a force callback may call this while the
    // broad phase keeps its stack there.
    dgBody* jointed[kMaxJointedBodies];
    const int32_t count = dgWorldGetJointedBodies(body, jointed, kMaxJointedBodies);
    const dgMatrix delta = body->m_matrix.inverse().multiply(matrix);

    placeBody(world, body, matrix);
    for (int32_t i = 0; i < count; ++i) {
        placeBody(world, jointed[i], jointed[i]->m_matrix.multiply(delta));
    }
    world->m_outOfBounds = outOfBounds;
}

void dgWorldStep(dgWorld* world, float timestep) {
    DG_ASSERT(timestep > 0.0f);
    world->m_busy = 1;
    world->m_stepCounter = 0;
    {
        dgFpuGuard precision(dgFpuPrecision24);
        world->m_timeStep = timestep;
        world->m_invTimeStep = 1.0f / timestep;
        dgBroadPhaseUpdate(&world->m_broadPhase);
        if (world->m_simdFlag == 1) {
            dgSimdSolverUpdate(world);
        } else {
            dgScalarSolverUpdate(world);
        }
    }
    world->m_busy = 0;
}

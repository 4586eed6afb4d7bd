#include "dgApiWorld.h"

#include <cmath>

#include "dgAssemblyPart.h"
#include "dgAssert.h"
#include "dgBody.h"
#include "dgBroadPhase.h"
#include "dgCollisionCache.h"
#include "dgCollisionPoint.h"
#include "dgConstraint.h"
#include "dgFpuGuard.h"

dgApiWorld::dgApiWorld()
    : dgWorld(),
      m_assemblies(),
      m_deferredBodies(),
      m_deferredJoints(),
      m_deferredShapes(nullptr, 0),
      m_hierarchyUpdates(),
      m_maxSubStep(kMaxUpdateStep),
      m_updating(0) {}

dgApiWorld::~dgApiWorld() {
    DG_ASSERT(!m_updating);
    // Never cleared: the world does not outlive this.
    m_updating = kTearingDown;
    // The hierarchies first: their parts destroy their bodies, which must
    // still be there. Each assembly leaves the update list as it goes.
    dgAssemblyDestroyAll(this);
    m_hierarchyUpdates.removeAll();
    // Deferred objects die with everything else below.
    m_deferredJoints.removeAll();
    m_deferredBodies.removeAll();
    // Every update gives its shapes back before it returns.
    DG_ASSERT(m_deferredShapes.getCount() == 0);
    releaseDeferredCollisions();

    // The core's teardown starts here: the point shape, then every body.
    // Done at this level because a body's destruction looks through the
    // deferred sets, which live no longer than this object.
    if (m_pointCollision) {
        m_pointCollision->release();
        m_pointCollision = nullptr;
    }
    while (dgBodyTree::Node* node = m_bodyTree.getFirst()) {
        dgBody* body = node->getPayload();
        // Only a body whose destruction is under way is marked, and none is
        // at the top level: the loop always makes progress.
        DG_ASSERT(!(body->m_flags & dgBodyFlagDestroying));
        if (body->m_flags & dgBodyFlagDestroying) {
            break;
        }
        destroyBodyNow(body);
    }
    DG_ASSERT(m_bodyCount == 0);
}

void dgApiWorld::update(float timestep) {
    m_updating |= kUpdatingStep;
    dgWorldStep(this, timestep);
    dgWorldUpdateHierarchies(this);
    m_updating &= ~kUpdatingStep;
    destroyDeferred();
    releaseDeferredCollisions();
}

bool dgApiWorld::releaseCollision(dgCollision* shape) {
    if (!shape) {
        return true;
    }
    if (m_updating & kUpdatingStep) {
        return m_deferredShapes.push(shape);
    }
    dgWorldReleaseCollision(this, shape);
    return true;
}

void dgApiWorld::releaseDeferredCollisions() {
    // A shape's destruction may call back into the world; nothing is
    // deferred outside a sub-step, so the stack only shrinks.
    while (m_deferredShapes.getCount()) {
        dgWorldReleaseCollision(this, m_deferredShapes.pop());
    }
}

void dgApiWorld::destroyDeferred() {
    // Each entry leaves its set before it is destroyed; what the destructor
    // callbacks destroy now goes at once and leaves the sets as well.
    while (dgJointTree::Node* node = m_deferredJoints.getFirst()) {
        dgConstraint* joint = node->getPayload();
        m_deferredJoints.remove(node);
        destroyJointNow(joint);
    }
    while (dgBodyTree::Node* node = m_deferredBodies.getFirst()) {
        dgBody* body = node->getPayload();
        m_deferredBodies.remove(node);
        destroyBodyNow(body);
    }
}

void dgApiWorld::destroyBody(dgBody* body) {
    if (body->m_flags & dgBodyFlagDestroying) {
        return;
    }
    if (m_updating & kUpdatingStep) {
        // A second request finds the body already there.
        m_deferredBodies.insert(body, dgBodyKey(body));
        return;
    }
    destroyBodyNow(body);
}

void dgApiWorld::destroyJoint(dgConstraint* joint) {
    if (m_updating & kUpdatingStep) {
        m_deferredJoints.insert(joint, dgJointKey(joint));
        return;
    }
    destroyJointNow(joint);
}

void dgApiWorld::destroyJointNow(dgConstraint* joint) {
    // Detached already: a destructor callback asking again.
    if (!joint->m_link) {
        return;
    }
    m_deferredJoints.removeKey(dgJointKey(joint));
    dgWorldDestroyConstraint(this, joint);
}

void dgApiWorld::destroyBodyNow(dgBody* body) {
    // The mark stops a callback below from starting the destruction over.
    if (body->m_flags & dgBodyFlagDestroying) {
        return;
    }
    body->m_flags |= dgBodyFlagDestroying;
    m_deferredBodies.removeKey(dgBodyKey(body));

    if (body->m_destructor) {
        body->m_destructor(body);
    }
    if (dgAssemblyPart* part = body->m_assemblyPart) {
        body->m_assemblyPart = nullptr;
        dgAssemblyPartBodyGone(part);
    }
    dgBroadPhaseRemoveBody(&m_broadPhase, body);
    --m_bodyCount;
    while (dgJointLink* link = body->m_jointRing) {
        destroyJointNow(link->m_joint);
    }
    if (body->m_activeNode) {
        const bool notify = (body->m_flags & dgBodyFlagActive) && body->m_activation;
        body->m_flags &= ~uint32_t(dgBodyFlagActive);
        if (notify) {
            body->m_activation(body, 0);
        }
        // The callback may have frozen the body itself.
        if (dgBodyTree::Node* node = body->m_activeNode) {
            m_activeBodyTree.remove(node);
            body->m_activeNode = nullptr;
        }
    }
    // The shape goes last: the callbacks above may still read it, move the
    // body or swap it for another, and whichever the body holds now is the
    // one its reference belongs to.
    dgWorldReleaseCollision(this, body->m_collision);
    body->m_collision = nullptr;
    // Only a lend that never ended would leave a swap waiting.
    DG_ASSERT(!body->m_lentSwap);
    dgWorldReleaseCollision(this, body->m_lentSwap);
    body->m_lentSwap = nullptr;
    m_bodyTree.removeKey(dgBodyKey(body));
    body->~dgBody();
    m_bodyPages.give(body);
}

dgApiWalk::dgApiWalk(dgWorld* world) : m_world(dgApiWorldOf(world)), m_saved(m_world->m_updating) {
    m_world->m_updating |= dgApiWorld::kUpdatingStep;
}

dgApiWalk::~dgApiWalk() {
    m_world->m_updating = m_saved;
    if (!(m_saved & dgApiWorld::kUpdatingStep)) {
        m_world->destroyDeferred();
        m_world->releaseDeferredCollisions();
    }
}

bool dgApiWalk::doomed(const dgBody* body) const {
    return m_world->m_deferredBodies.getCount() && m_world->m_deferredBodies.find(dgBodyKey(body));
}

int32_t dgWorldPlanUpdate(float elapsed, float maxSubStep, float* subStep) {
    // The sub-step's length is worked out in the mode every step runs in, not
    // in whatever rounding the caller left (see dgFpuGuard.h).
    dgFpuGuard mode(dgFpuPrecision24);
    // Written so that NaN fails the first test.
    float timestep = elapsed;
    if (!(timestep >= dgApiWorld::kMinUpdateStep)) {
        timestep = dgApiWorld::kMinUpdateStep;
    } else if (timestep > dgApiWorld::kMaxUpdateStep) {
        timestep = dgApiWorld::kMaxUpdateStep;
    }
    // The quotient is rounded to single precision before the ceiling: a
    // quotient a hair above a whole number must not add a sub-step.
    const float quotient = float(double(timestep) / (double(maxSubStep) + 1.0e-10));
    int32_t count = int32_t(std::ceil(quotient));
    // The frame-rate setter keeps the sub-step at 1/1000 or more, so at most
    // 17 sub-steps; the bound only guards a damaged world.
    DG_ASSERT(count >= 1 && count <= 17);
    if (count < 1) {
        count = 1;
    } else if (count > 17) {
        count = 17;
    }
    *subStep = timestep / float(count);
    return count;
}

#include "dgAssembly.h"

#include "dgApiWorld.h"
#include "dgAssemblyPart.h"
#include "dgBallJoint.h"
#include "dgBody.h"

namespace {

// The joint's cone and twist ranges of a new part: a quarter turn each way.
constexpr float kQuarterTurn = 1.570795f;
// Part bodies come to rest at looser thresholds than single bodies: a figure
// lying on the ground keeps twitching in its joints long after it has
// settled to the eye.
constexpr float kPartFreezeScale = 16.0f;

dgAssemblyPart* partOf(dgBaseNode* node) {
    return static_cast<dgAssemblyPart*>(node);
}

// Transform callback of a part body: queues its assembly once per sub-step.
void queueAssembly(dgBody* body, const float*) {
    dgAssemblyPart* const part = body->m_assemblyPart;
    if (!part) {
        return;
    }
    dgAssembly* const assembly = part->m_assembly;
    if (!assembly->m_queued) {
        // Without a node the assembly is not reported this sub-step.
        assembly->m_queued = assembly->m_world->m_hierarchyUpdates.append(assembly);
    }
}

// Force-and-torque callback of a part body.
void forwardForce(dgBody* body) {
    const dgAssemblyPart* const part = body->m_assemblyPart;
    if (part && part->m_assembly->m_forceCallback) {
        part->m_assembly->m_forceCallback(body);
    }
}

}  // namespace

dgAssembly::dgAssembly(dgApiWorld* world)
    : m_world(world),
      m_root(nullptr),
      m_building(false),
      m_forceCallback(nullptr),
      m_updateCallback(nullptr),
      m_queued(nullptr),
      m_node(nullptr),
      m_walking(false),
      m_doomed(false) {}

dgAssembly::~dgAssembly() {
    clear();
}

void dgAssembly::unqueue() {
    if (m_queued) {
        m_world->m_hierarchyUpdates.remove(m_queued);
        m_queued = nullptr;
    }
}

void dgAssembly::clear() {
    unqueue();
    if (dgAssemblyPart* root = m_root) {
        m_root = nullptr;
        root->release();
    }
}

dgAssembly* dgAssemblyCreate(dgApiWorld* world) {
    dgAssemblyList::Node* node = world->m_assemblies.append(world);
    if (!node) {
        return nullptr;
    }
    node->getValue().m_node = node;
    return &node->getValue();
}

void dgAssemblyDestroy(dgAssembly* assembly) {
    // Asked again by a callback of a body its destruction destroys.
    if (!assembly->m_node->isLive()) {
        return;
    }
    if (assembly->m_walking) {
        assembly->m_doomed = true;
        return;
    }
    assembly->m_world->m_assemblies.remove(assembly->m_node);
}

void dgAssemblyDestroyAll(dgApiWorld* world) {
    while (dgAssemblyList::Node* node = world->m_assemblies.getFirst()) {
        world->m_assemblies.remove(node);
    }
}

void dgAssembly::beginBuild() {
    if (m_walking) {
        return;
    }
    m_building = true;
    clear();
}

void dgAssembly::endBuild() {
    if (!m_building) {
        return;
    }
    m_building = false;
    if (!m_root) {
        return;
    }
    for (dgBaseNode* node = dgBaseNodeFirstPostOrder(m_root); node; node = dgBaseNodeNextPostOrder(node)) {
        dgAssemblyPart* const part = partOf(node);
        dgBody* const body = part->m_body;
        if (!body) {
            continue;
        }
        body->m_assemblyPart = part;
        body->m_transform = queueAssembly;
        body->m_forceAndTorque = forwardForce;
        for (float& threshold : body->m_freezeThresholds) {
            threshold *= kPartFreezeScale;
        }
    }
}

dgAssemblyPart* dgAssemblyAddPartChecked(dgAssembly* assembly, dgAssemblyPart* parent, void* userData, float mass,
                                         const dgMatrix& matrix, dgCollision* collision, const float* size) {
    if (!assembly->m_building || (parent && (parent->m_assembly != assembly)) ||
        (parent && !parent->m_body) || (!parent && assembly->m_root)) {
        return nullptr;
    }
    dgAssemblyPart* const part = new dgAssemblyPart(assembly, userData, size[0]);
    if (!part) {
        return nullptr;
    }
    dgBody* const body = dgCreateBody(assembly->m_world, collision);
    if (!body) {
        part->release();
        return nullptr;
    }
    part->m_body = body;
    const dgVector inertia = dgAssemblyPartInertia(mass, size);
    dgBodySetMassMatrix(body, mass, inertia.x, inertia.y, inertia.z);
    dgBodySetForceAndTorqueCallback(body, assembly->m_forceCallback);
    const float damping[3] = {0.15f, 0.15f, 0.15f};
    dgBodySetAngularDamping(body, damping);

    if (parent) {
        dgBaseNodeAttach(part, parent, false);
    } else {
        part->addRef();
        assembly->m_root = part;
    }
    part->release();

    const dgMatrix global = matrix.multiply(parent ? parent->globalMatrix() : dgGetIdentityMatrix());
    part->place(global);
    if (parent) {
        dgBallJoint* const joint = dgWorldCreateBall(assembly->m_world, global.position, parent->m_body, body);
        if (joint) {
            joint->setConeLimitFlag(true);
            joint->setTwistLimitFlag(true);
            joint->setSpareFlag(false);
            joint->setLimits(global.front, -kQuarterTurn, kQuarterTurn, kQuarterTurn, global.right);
        }
        part->m_joint = joint;
    }
    return part;
}

void dgWorldUpdateHierarchies(dgApiWorld* world) {
    // Last queued first; each assembly leaves the list before it is walked,
    // so that whatever its callback does to other assemblies finds the list
    // whole.
    while (dgAssemblyQueue::Node* node = world->m_hierarchyUpdates.getLast()) {
        dgAssembly* const assembly = node->getValue();
        assembly->m_queued = nullptr;
        world->m_hierarchyUpdates.remove(node);
        if (!assembly->m_root || !assembly->m_updateCallback) {
            continue;
        }
        assembly->m_walking = true;
        for (dgBaseNode* part = dgBaseNodeFirstPostOrder(assembly->m_root); part;
             part = dgBaseNodeNextPostOrder(part)) {
            assembly->m_updateCallback(partOf(part));
        }
        assembly->m_walking = false;
        if (assembly->m_doomed) {
            dgAssemblyDestroy(assembly);
        }
    }
}

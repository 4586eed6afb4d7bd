// The vehicle joint's life and its tires (dgVehicleJoint.h), and the
// sub-step that ties the pieces together: the tire contacts
// (dgVehicleTireContacts.cpp), the rows of each tire (dgVehicleRows.cpp) and
// their solve (dgVehicleSolve.cpp). The sub-step solves the chassis, the
// tires and the movable ground they touch, hands the chassis's part to the
// island solver as a force and torque, and writes no rows of its own.
#include "dgVehicleJoint.h"

#include <algorithm>
#include <cmath>

#include "dgApiWorld.h"
#include "dgAssert.h"
#include "dgBody.h"
#include "dgCollisionTire.h"
#include "dgCompoundCollision.h"
#include "dgJointRowBlock.h"
#include "dgVehicleRows.h"
#include "dgVehicleSolve.h"
#include "dgWorld.h"

namespace {

constexpr float kTwoPi = 6.28318f;
constexpr float kDefaultSlipLimit = 0.5f;
// Reactions on movable ground bodies.
constexpr float kReactionStart = 0.1f;
constexpr float kReactionShrink = 0.9f;
constexpr float kReactionLimit = 2000.0f;
constexpr int32_t kReactionSteps = 64;
// The hovering test: every quantity below this share of mass^2.
constexpr float kHoverShare = 0.01f;

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

dgMatrix rotationAbout(const dgVector& unitAxis, float angle, const dgVector& position) {
    return dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(unitAxis, angle), position);
}

}  // namespace

float dgVehicleWrapSpinAngle(float angle, float delta) {
    float wrapped = std::fmod(angle + delta, kTwoPi);
    // fmod keeps the dividend's sign.
    if (wrapped < 0.0f) {
        wrapped += kTwoPi;
    }
    if (!(wrapped < kTwoPi) || !(wrapped >= 0.0f)) {
        wrapped = 0.0f;
    }
    return wrapped;
}

float dgVehicleReactionScale(float linear2, float groundInvMass, float chassisInvMass) {
    float scale = kReactionStart;
    const float limit = kReactionLimit * chassisInvMass * chassisInvMass;
    const float reach = linear2 * groundInvMass * groundInvMass;
    for (int32_t i = 0; (i < kReactionSteps) && (reach * scale * scale > limit); ++i) {
        scale *= kReactionShrink;
    }
    return scale;
}

dgVehicleJoint::dgVehicleJoint()
    : dgConstraint(),
      m_up(0.0f, 1.0f, 0.0f, 1.0f),
      m_tires(),
      m_stepRecord(nullptr),
      m_tireCallback(nullptr),
      m_destructor(nullptr),
      m_invTimestep(0.0f) {
    m_typeId = dgJointTypeVehicle;
    m_maxRows = 0;
}

dgVehicleJoint::~dgVehicleJoint() = default;

void dgVehicleJoint::setDestructorCallback(dgConstraintDestructorCallback callback) {
    m_destructor = callback;
}

dgVehicleJoint* dgVehicleOfChassis(const dgBody* chassis) {
    const dgJointLink* head = chassis->m_jointRing;
    if (!head) {
        return nullptr;
    }
    const dgJointLink* link = head;
    do {
        if ((link->m_joint->m_typeId == dgJointTypeVehicle) && (link->m_joint->m_body0 == chassis)) {
            return static_cast<dgVehicleJoint*>(link->m_joint);
        }
        link = link->m_next;
    } while (link != head);
    return nullptr;
}

namespace {

void gatherOf(dgConstraint* joint) {
    static_cast<dgVehicleJoint*>(joint)->gatherTireContacts();
}

}  // namespace

dgVehicleJoint* dgWorldCreateVehicle(dgWorld* world, const dgVector& upWorld, dgBody* chassis) {
    return dgWorldCreatePooledJoint(world, world->m_vehiclePool, chassis, nullptr, [&](dgVehicleJoint& joint) {
        return joint.setup(upWorld) && world->m_vehicleSet.m_entries.append(dgVehicleSetEntry{&joint, 0, gatherOf});
    });
}

bool dgVehicleJoint::setup(const dgVector& upWorld) {
    dgBody* const chassis = m_body0;
    m_up = dgVehicleAxis(chassis->m_matrix.inverseRotateVector(upWorld));
    m_up.w = 1.0f;
    dgWorld* const world = chassis->m_world;
    dgCollision* const old = chassis->m_collision;
    dgCompoundCollision* compound = nullptr;
    if (old->isClass(dgCompoundCollision::kClassId)) {
        const dgCompoundCollision* source = static_cast<const dgCompoundCollision*>(old);
        dgCollision* children[64];
        const int32_t count = std::min(source->getChildCount(), 64);
        for (int32_t i = 0; i < count; ++i) {
            children[i] = source->getChild(i);
        }
        compound = new dgCompoundCollision(count, children, world);
    } else {
        dgCollision* children[1] = {old};
        compound = new dgCompoundCollision(1, children, world);
    }
    if (!compound) {
        return false;
    }
    compound->setFlagBits(dgShapeFlagVehicle);
    dgBodySetCollision(chassis, compound);
    compound->release();
    return true;
}

void dgVehicleJoint::release() {
    DG_ASSERT(m_body0);
    dgBody* const chassis = m_body0;
    dgWorld* const world = chassis->m_world;
    // Undone before the callback, which may destroy the chassis.
    while (dgVehicleTireList::Node* node = m_tires.getFirst()) {
        removeTire(&node->getValue());
    }
    for (auto* node = world->m_vehicleSet.m_entries.getFirst(); node; node = node->getNext()) {
        if (node->getValue().joint == this) {
            world->m_vehicleSet.m_entries.remove(node);
            break;
        }
    }
    world->m_vehicleWorkList.removeKey(dgBodyKey(chassis));
    if (chassis->m_collision) {
        chassis->m_collision->clearFlagBits(dgShapeFlagVehicle);
    }
    if (m_destructor) {
        m_destructor(this);
    }
    world->m_vehiclePool.give(this);
}

dgVehicleTire* dgVehicleJoint::addTire(const dgMatrix& matrix, const dgVector& pin, float mass, float width,
                                       float radius, float shock, float spring, float length, uint32_t collisionId,
                                       void* userData) {
    if (m_tires.getCount() >= kMaxTires) {
        return nullptr;
    }
    dgVehicleTireList::Node* node = m_tires.append();
    if (!node) {
        return nullptr;
    }
    dgVehicleTire& tire = node->getValue();
    tire.m_node = node;
    tire.m_localMatrix = matrix;
    tire.m_restOrientation = dgQuaternion::fromMatrix(matrix);
    tire.m_pin = dgVehicleUnit(pin);
    tire.m_pin.w = pin.w;
    tire.m_pinVelocity = kZero;
    tire.m_mass = std::fabs(mass);
    tire.m_width = std::fabs(width);
    tire.m_radius = std::fabs(radius);
    tire.m_shock = std::fabs(shock);
    tire.m_spring = std::fabs(spring);
    tire.m_length = std::fabs(length);
    tire.m_collisionId = collisionId;
    tire.m_userData = userData;
    tire.m_vehicle = this;
    tire.m_inertia = tire.m_mass * tire.m_radius * tire.m_radius * 0.4f;
    tire.m_invMass = 1.0f / tire.m_mass;
    tire.m_invInertia = 1.0f / tire.m_inertia;
    tire.m_slipLimitA = kDefaultSlipLimit;
    tire.m_slipLimitB = kDefaultSlipLimit;
    tire.m_airborne = 1;
    dgCompoundCollision* const compound = static_cast<dgCompoundCollision*>(m_body0->m_collision);
    tire.m_shape = new dgCollisionTire(m_body0->m_world, &tire, tire.m_width, tire.m_radius, collisionId,
                                       tirePose(&tire));
    if (!tire.m_shape || !compound->addChild(tire.m_shape)) {
        if (tire.m_shape) {
            tire.m_shape->release();
        }
        m_tires.remove(node);
        return nullptr;
    }
    // The compound holds the shape now.
    tire.m_shape->release();
    refreshTirePoses();
    return &tire;
}

void dgVehicleJoint::removeTire(dgVehicleTire* tire) {
    dgCompoundCollision* const compound = dgRefCast<dgCompoundCollision>(m_body0->m_collision);
    if (compound && tire->m_shape) {
        compound->removeChild(tire->m_shape);
    }
    tire->m_shape = nullptr;
    m_tires.remove(tire->m_node);
    if (m_body0->m_collision) {
        dgBodyUpdateCollisionMatrix(m_body0, m_body0->m_world->m_timeStep);
    }
}

void dgVehicleJoint::reset() {
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        tire.m_suspensionPosition = 0.0f;
        tire.m_spinAngle = 0.0f;
        tire.m_suspensionSpeed = 0.0f;
        tire.m_spinRate = 0.0f;
    }
    refreshTirePoses();
}

void dgVehicleJoint::setSteerAngle(dgVehicleTire* tire, float angle) {
    tire->m_steerAngle = angle;
    const dgMatrix rest = dgMatrix::fromQuaternion(tire->m_restOrientation, dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    const dgMatrix steer = rotationAbout(dgVehicleAxis(m_up), angle, tire->m_localMatrix.position);
    tire->m_localMatrix = rest.multiply(steer);
    refreshTirePoses();
}

dgMatrix dgVehicleJoint::tirePose(const dgVehicleTire* tire) const {
    const dgMatrix spin = rotationAbout(dgVehicleAxis(tire->m_pin), tire->m_spinAngle, dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    dgMatrix pose = spin.multiply(tire->m_localMatrix);
    pose.position = pose.position + dgVehicleAxis(m_up).scale(tire->m_suspensionPosition);
    pose.position.w = 1.0f;
    return pose;
}

dgMatrix dgVehicleJoint::tireMatrix(const dgVehicleTire* tire) const {
    return tirePose(tire).multiply(m_body0->m_matrix);
}

float dgVehicleJoint::maxBrake(const dgVehicleTire* tire) const {
    return 0.99f * m_invTimestep * tire->m_spinRate;
}

void dgVehicleJoint::refreshTirePoses(bool placeBox) {
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        if (tire.m_shape) {
            tire.m_shape->setPose(tirePose(&tire), kZero);
        }
    }
    if (!placeBox) {
        return;
    }
    // The compound keeps its children's placed boxes from its last box
    // query: without this the broad phase would look for the tires where they
    // were.
    dgBodyUpdateCollisionMatrix(m_body0, m_body0->m_world->m_timeStep);
}


void dgVehicleJoint::beginSubStep(const dgVector& globalUp) {
    dgBody* const chassis = m_body0;
    const float upAccel = chassis->m_force.dot(globalUp) * chassis->m_invMass.w;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        tire.m_torque = 0.0f;
        tire.m_slipScaleA = 0.0f;
        tire.m_slipScaleB = 0.0f;
        tire.m_slipLimitA = kDefaultSlipLimit;
        tire.m_slipLimitB = kDefaultSlipLimit;
        tire.m_brakeAccel = 0.0f;
        tire.m_brakeLimit = 0.0f;
        tire.m_weight = upAccel * tire.m_mass;
        const dgVector pin = dgVehicleAxis(chassis->m_matrix.rotateVector(tire.m_localMatrix.rotateVector(tire.m_pin)));
        tire.m_lateralSpeed = chassis->m_veloc.dot(pin);
        tire.m_longitudinalSpeed = chassis->m_veloc.dot(pin.cross(globalUp));
    }
    if (m_tireCallback) {
        m_tireCallback(this);
    }
}

namespace {

// The reactions on movable ground bodies (slots from firstGround on), one
// scale for all.
void applyReactions(const dgVehicleWorkspace& ws, int32_t firstGround, float chassisInvMass) {
    float scale = kReactionStart;
    for (int32_t s = firstGround; s < ws.slotCount; ++s) {
        const dgVehicleSlot& slot = ws.slots[s];
        const float linear2 = slot.sumLinear.dot(slot.sumLinear);
        scale = std::min(scale, dgVehicleReactionScale(linear2, slot.invMass, chassisInvMass));
    }
    for (int32_t s = firstGround; s < ws.slotCount; ++s) {
        const dgVehicleSlot& slot = ws.slots[s];
        slot.body->m_force += slot.sumLinear.scale(scale);
        slot.body->m_torque += slot.sumAngular.scale(scale);
    }
}

}  // namespace

int32_t dgVehicleJoint::submitRows(dgJointRowBlock& block) {
    dgBody* const chassis = m_body0;
    m_stepRecord = &block;
    m_invTimestep = block.invTimestep;
    dgVehicleFrame frame;
    frame.up = dgVehicleAxis(chassis->m_matrix.rotateVector(m_up));
    frame.centre = dgVehicleAxis(chassis->m_globalCentreOfMass);
    frame.h = block.timestep;
    frame.invH = block.invTimestep;
    beginSubStep(frame.up);

    dgVehicleWorkspace ws;
    ws.slotCount = 1;
    ws.rowCount = 0;
    dgVehicleSetupSlot(ws.slots[0], chassis);
    ws.slots[0].accel = chassis->m_force.scale(chassis->m_invMass.w);
    ws.slots[0].alpha = dgVehicleAxis(ws.slots[0].invInertia.rotateVector(dgVehicleAxis(chassis->m_torque)));

    dgVehicleTireRows tireRows[kMaxTires];
    int32_t t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleAxleRows(ws, *this, node->getValue(), frame, tireRows[t]);
    }
    t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleContactRows(ws, node->getValue(), frame, tireRows[t]);
    }
    dgVehicleSolveRows(ws, chassis->m_world);
    dgVehicleRowSums(ws);

    const int32_t firstGround = 1 + m_tires.getCount();
    applyReactions(ws, firstGround, chassis->m_invMass.w);

    // The chassis: what the solve gave it, as a force and torque for the
    // island solver to integrate.
    chassis->m_force = dgVehicleAxis(chassis->m_force) + ws.slots[0].sumLinear;
    chassis->m_torque = dgVehicleAxis(chassis->m_torque) + ws.slots[0].sumAngular;

    // Each slot's acceleration: external plus the rows'.
    for (int32_t s = 0; s < firstGround; ++s) {
        dgVehicleSlot& slot = ws.slots[s];
        slot.sumLinear = slot.accel + slot.sumLinear.scale(slot.invMass);
        slot.sumAngular = slot.alpha + dgVehicleAxis(slot.invInertia.rotateVector(slot.sumAngular));
    }
    t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleIntegrateTire(ws, node->getValue(), frame, tireRows[t]);
    }

    const float mass = chassis->m_mass.w;
    bool airborne = m_tires.getCount() > 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        node->getValue().m_shape->m_contactCount = 0;
        airborne = airborne && node->getValue().m_airborne;
    }
    const float still = kHoverShare * mass * mass;
    if (airborne && (chassis->m_force.dot(chassis->m_force) < still) &&
        (chassis->m_torque.dot(chassis->m_torque) < still) && (chassis->m_veloc.dot(chassis->m_veloc) < still) &&
        (chassis->m_omega.dot(chassis->m_omega) < still)) {
        chassis->m_force = frame.up.scale(-mass);
    }
    // The island integrates a chassis out of equilibrium right after this
    // solve, and that places its box with the new tire poses; one in
    // equilibrium may stay where it is, unplaced.
    refreshTirePoses((chassis->m_flags & dgBodyFlagEquilibrium) != 0);
    m_stepRecord = nullptr;
    return 0;
}

// The vehicle's sub-step.
//
// Bodies of the solve: the chassis (slot 0), one slot per tire, and one per
// movable ground body a tire touches; immovable ground has no slot. A tire's
// slot starts with the velocity of the chassis at its centre plus the
// suspension's speed along up, and the chassis's angular velocity plus the
// spin about its global pin g. Its inertia is the same about every axis.
//
// Rows (J the Jacobian, f the row force, A = J M^-1 J^T, b the relative
// acceleration the row asks for less what the external forces already give):
//  - axle, tire against chassis: point rows along the rolling direction
//    g x up, along g and along up at the tire's centre; angular rows about up
//    and about g x up; with a brake, an angular row about g bounded by the
//    brake's torque. The point rows and the angular rows ask for the
//    acceleration that cancels their relative velocity in one sub-step. The
//    up row (the suspension) is instead held at the spring-damper force
//      f = a / d,  a = -(v (k h + c) + k x) / ((k h + c) h + 1)
//    (x, v the suspension's position and speed, k the spring, c the shock, h
//    the sub-step, d = J M^-1 J^T the row's own inverse mass): the force one
//    implicit Euler step of x'' = -k x - c v asks of the suspension's
//    effective mass, which is about the tire's. The spring and the shock are
//    thus per kilogram of that mass. Being a force, not a constraint, it
//    lets the suspension give under load, so that all four tires of a car
//    keep touching uneven ground instead of the car rocking on a diagonal;
//    with a shock a little under critical for the chassis's share the car
//    settles without ringing.
//  - contact, tire against ground, n pointing into the ground: a normal row
//    along -n with force >= 0 asking for (-1.1 vn + 0.2 max(depth - 0.005,
//    0) / h) / h (vn the approach speed along -n: a tenth of it comes back,
//    and a fifth of the depth past a 5 mm allowance is pushed out per
//    sub-step); while the tire's weight presses along n, friction rows along
//    d1 = g x n (longitudinal) and d2 = d1 x n (lateral) that cancel their
//    sliding speed, bounded by +-mu N. N is the contact's share of the tire's
//    normal force of the last sub-step, at least the tire's own weight along
//    n (so that a tire grips in proportion to the load it carries: weight
//    moves to the front tires under braking). mu is 1.0 while the sliding
//    speed along the row is below its slip limit, else 0.75 less the slip
//    scale (a quarter at most): a sliding tire grips less, and the caller can
//    make it slide more.
// Every diagonal is raised by a thousandth and the bounded system is solved
// by preconditioned conjugate gradients with an active set: a step that
// would carry a free row past a bound stops at the first such bound, the row
// is clamped and the search starts afresh. Passes run while the largest free
// residual exceeds 0.1 x 2^(1/n) m/s^2 (n the world's capped solver
// iteration count; the factor is 1 when the count is not capped: a world
// that spends fewer passes on its own rows accepts a looser vehicle), at most
// floor(sqrt(rows)) + 6 passes.
// The axle rows and the normal rows start from the last sub-step's forces.
#include "dgVehicleJoint.h"

#include <algorithm>
#include <cmath>

#include "dgApiWorld.h"
#include "dgAssert.h"
#include "dgBody.h"
#include "dgCollisionTire.h"
#include "dgCompoundCollision.h"
#include "dgContact.h"
#include "dgJointRowBlock.h"
#include "dgWorld.h"

namespace {

constexpr float kTwoPi = 6.28318f;
constexpr float kMaxRimSpeed = 400.0f;
constexpr float kSpinDecay = 0.9999f;
constexpr float kRowBound = 1.0e15f;
constexpr float kRegulariser = 0.001f;
constexpr float kTolerance = 0.1f;
constexpr float kMinCurvature = 1.0e-16f;
constexpr float kBrakeFloor = 1.0e-10f;
constexpr float kMinFrictionAxis2 = 0.0001f;
constexpr float kRestitution = 1.1f;
constexpr float kPenetrationGain = 0.2f;
constexpr float kPenetrationAllowance = 0.005f;
constexpr float kStaticFriction = 1.0f;
constexpr float kSlidingFriction = 0.75f;
constexpr float kDefaultSlipLimit = 0.5f;
// Reactions on movable ground bodies.
constexpr float kReactionStart = 0.1f;
constexpr float kReactionShrink = 0.9f;
constexpr float kReactionLimit = 2000.0f;
constexpr int32_t kReactionSteps = 64;
// The hovering test: every quantity below this share of mass^2.
constexpr float kHoverShare = 0.01f;

constexpr int32_t kMaxContacts = dgCollisionTire::kMaxContacts;
constexpr int32_t kMaxSlots = 1 + dgVehicleJoint::kMaxTires * (1 + kMaxContacts);
constexpr int32_t kMaxRows = dgVehicleJoint::kMaxTires * (6 + 3 * kMaxContacts);
// Candidates one gathering takes (the contact pass keeps at most 16 points
// a pair; a chassis touches few bodies at once).
constexpr int32_t kMaxCandidates = 512;

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

dgVector axis(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 0.0f);
}

dgVector unit(const dgVector& v) {
    return axis(v).scale(1.0f / std::sqrt(v.dot(v)));
}

struct Slot {
    dgBody* body;
    float invMass;
    dgMatrix invInertia;
    dgVector veloc;
    dgVector omega;
    // External accelerations, and the accumulators of J^T x.
    dgVector accel;
    dgVector alpha;
    dgVector sumLinear;
    dgVector sumAngular;
};

struct Row {
    int32_t a;
    int32_t b;
    dgVector jaLinear;
    dgVector jaAngular;
    dgVector jbLinear;
    dgVector jbAngular;
    float rhs;
    float lower;
    float upper;
    float diagonal;
    float precondition;
    float force;
};

// The solve's workspace, on the stack of the sub-step.
struct Workspace {
    Slot slots[kMaxSlots];
    Row rows[kMaxRows];
    float residual[kMaxRows];
    float direction[kMaxRows];
    float product[kMaxRows];
    float scaled[kMaxRows];
    bool free[kMaxRows];
    int32_t slotCount;
    int32_t rowCount;
};

dgMatrix rotationAbout(const dgVector& unitAxis, float angle, const dgVector& position) {
    return dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(unitAxis, angle), position);
}

void setupSlot(Slot& slot, dgBody* body) {
    slot.body = body;
    slot.invMass = body->m_invMass.w;
    dgBodyGetWorldInverseInertia(body, slot.invInertia);
    slot.veloc = axis(body->m_veloc);
    slot.omega = axis(body->m_omega);
    slot.accel = kZero;
    slot.alpha = kZero;
}

int32_t groundSlot(Workspace& ws, dgBody* body) {
    if (!body || (body->m_invMass.w == 0.0f)) {
        return -1;
    }
    for (int32_t i = 0; i < ws.slotCount; ++i) {
        if (ws.slots[i].body == body) {
            return i;
        }
    }
    if (ws.slotCount >= kMaxSlots) {
        return -2;
    }
    setupSlot(ws.slots[ws.slotCount], body);
    return ws.slotCount++;
}

dgVector pointVelocity(const Slot& slot, const dgVector& r) {
    return slot.veloc + slot.omega.cross(r);
}

// J . (linear, angular) of both ends for the slot vectors given.
float rowDot(const Row& row, const Slot* slots, dgVector Slot::*linear, dgVector Slot::*angular) {
    float value = row.jaLinear.dot(slots[row.a].*linear) + row.jaAngular.dot(slots[row.a].*angular);
    if (row.b >= 0) {
        value += row.jbLinear.dot(slots[row.b].*linear) + row.jbAngular.dot(slots[row.b].*angular);
    }
    return value;
}

// Appends a row between slots a and b (b < 0: immovable); the right-hand
// side is the acceleration asked for less what the external forces give.
Row* addRow(Workspace& ws, int32_t a, int32_t b, const dgVector& jaLinear, const dgVector& jaAngular,
            const dgVector& jbLinear, const dgVector& jbAngular, float accel) {
    if (ws.rowCount >= kMaxRows) {
        return nullptr;
    }
    Row& row = ws.rows[ws.rowCount++];
    row.a = a;
    row.b = b;
    row.jaLinear = jaLinear;
    row.jaAngular = jaAngular;
    row.jbLinear = jbLinear;
    row.jbAngular = jbAngular;
    row.rhs = accel - rowDot(row, ws.slots, &Slot::accel, &Slot::alpha);
    row.lower = -kRowBound;
    row.upper = kRowBound;
    row.force = 0.0f;
    return &row;
}

float relativeVelocity(const Workspace& ws, const Row& row) {
    return rowDot(row, ws.slots, &Slot::veloc, &Slot::omega);
}

// out = A x, through the slots' accumulators.
void multiply(Workspace& ws, const float* x, float* out) {
    for (int32_t s = 0; s < ws.slotCount; ++s) {
        ws.slots[s].sumLinear = kZero;
        ws.slots[s].sumAngular = kZero;
    }
    for (int32_t i = 0; i < ws.rowCount; ++i) {
        const Row& row = ws.rows[i];
        if (x[i] == 0.0f) {
            continue;
        }
        ws.slots[row.a].sumLinear += row.jaLinear.scale(x[i]);
        ws.slots[row.a].sumAngular += row.jaAngular.scale(x[i]);
        if (row.b >= 0) {
            ws.slots[row.b].sumLinear += row.jbLinear.scale(x[i]);
            ws.slots[row.b].sumAngular += row.jbAngular.scale(x[i]);
        }
    }
    for (int32_t s = 0; s < ws.slotCount; ++s) {
        Slot& slot = ws.slots[s];
        slot.sumLinear = slot.sumLinear.scale(slot.invMass);
        slot.sumAngular = axis(slot.invInertia.rotateVector(slot.sumAngular));
    }
    for (int32_t i = 0; i < ws.rowCount; ++i) {
        const Row& row = ws.rows[i];
        out[i] = rowDot(row, ws.slots, &Slot::sumLinear, &Slot::sumAngular) + row.diagonal * kRegulariser * x[i];
    }
}

float rowDiagonal(const Row& row, const Slot* slots) {
    auto part = [](const Slot& slot, const dgVector& linear, const dgVector& angular) {
        return linear.dot(linear) * slot.invMass + angular.dot(axis(slot.invInertia.rotateVector(angular)));
    };
    float d = part(slots[row.a], row.jaLinear, row.jaAngular);
    if (row.b >= 0) {
        d += part(slots[row.b], row.jbLinear, row.jbAngular);
    }
    return d;
}

void solveRows(Workspace& ws, float tolerance) {
    const int32_t n = ws.rowCount;
    for (int32_t i = 0; i < n; ++i) {
        Row& row = ws.rows[i];
        row.diagonal = rowDiagonal(row, ws.slots);
        row.precondition = (row.diagonal > 0.0f) ? 1.0f / ((1.0f + kRegulariser) * row.diagonal) : 0.0f;
        row.force = std::min(std::max(row.force, row.lower), row.upper);
        ws.free[i] = (row.diagonal > 0.0f) && (row.lower < row.upper);
        ws.direction[i] = row.force;
    }
    multiply(ws, ws.direction, ws.product);
    float rz = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        ws.residual[i] = ws.rows[i].rhs - ws.product[i];
        ws.scaled[i] = ws.free[i] ? ws.rows[i].precondition * ws.residual[i] : 0.0f;
        ws.direction[i] = ws.scaled[i];
        rz += ws.residual[i] * ws.scaled[i];
    }
    const int32_t maxPasses = int32_t(std::sqrt(float(n))) + 6;
    float largest = 2.0f * kTolerance;
    for (int32_t pass = 0; (pass < maxPasses) && (largest > tolerance); ++pass) {
        multiply(ws, ws.direction, ws.product);
        float curvature = 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            curvature += ws.direction[i] * ws.product[i];
        }
        float step = rz / std::max(curvature, kMinCurvature);
        int32_t clamped = -1;
        float clampValue = 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            const float p = ws.direction[i];
            if (!ws.free[i] || (p == 0.0f)) {
                continue;
            }
            const Row& row = ws.rows[i];
            const float bound = (p > 0.0f) ? row.upper : row.lower;
            const float reach = (bound - row.force) / p;
            if (reach < step) {
                step = std::max(reach, 0.0f);
                clamped = i;
                clampValue = bound;
            }
        }
        for (int32_t i = 0; i < n; ++i) {
            ws.rows[i].force += step * ws.direction[i];
            ws.residual[i] -= step * ws.product[i];
        }
        if (clamped >= 0) {
            ws.rows[clamped].force = clampValue;
            ws.free[clamped] = false;
        }
        largest = 0.0f;
        float rzNext = 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            ws.scaled[i] = ws.free[i] ? ws.rows[i].precondition * ws.residual[i] : 0.0f;
            rzNext += ws.residual[i] * ws.scaled[i];
            if (ws.free[i]) {
                largest = std::max(largest, std::fabs(ws.residual[i]));
            }
        }
        const float beta = ((clamped < 0) && (rz > 0.0f)) ? rzNext / rz : 0.0f;
        for (int32_t i = 0; i < n; ++i) {
            ws.direction[i] = ws.scaled[i] + beta * (ws.free[i] ? ws.direction[i] : 0.0f);
        }
        rz = rzNext;
    }
}

// Each slot's sums of J^T f over the rows.
void finalAccelerations(Workspace& ws) {
    for (int32_t s = 0; s < ws.slotCount; ++s) {
        ws.slots[s].sumLinear = kZero;
        ws.slots[s].sumAngular = kZero;
    }
    for (int32_t i = 0; i < ws.rowCount; ++i) {
        const Row& row = ws.rows[i];
        ws.slots[row.a].sumLinear += row.jaLinear.scale(row.force);
        ws.slots[row.a].sumAngular += row.jaAngular.scale(row.force);
        if (row.b >= 0) {
            ws.slots[row.b].sumLinear += row.jbLinear.scale(row.force);
            ws.slots[row.b].sumAngular += row.jbAngular.scale(row.force);
        }
    }
}

bool isChassis(const dgBody* body) {
    return body->m_collision && (body->m_collision->getFlags() & dgShapeFlagVehicle);
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
    dgVehicleJoint* joint = world->m_vehiclePool.take();
    if (!joint) {
        return nullptr;
    }
    if (!dgWorldAttachConstraint(world, joint, chassis, nullptr)) {
        world->m_vehiclePool.give(joint);
        return nullptr;
    }
    if (!joint->setup(upWorld) || !world->m_vehicleSet.m_entries.append(dgVehicleSetEntry{joint, 0, gatherOf})) {
        // Detaching calls release, which undoes whatever setup did.
        dgWorldDestroyConstraint(world, joint);
        return nullptr;
    }
    return joint;
}

bool dgVehicleJoint::setup(const dgVector& upWorld) {
    dgBody* const chassis = m_body0;
    m_up = axis(chassis->m_matrix.inverseRotateVector(upWorld));
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
    tire.m_pin = unit(pin);
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
    const dgMatrix steer = rotationAbout(axis(m_up), angle, tire->m_localMatrix.position);
    tire->m_localMatrix = rest.multiply(steer);
    refreshTirePoses();
}

dgMatrix dgVehicleJoint::tirePose(const dgVehicleTire* tire) const {
    const dgMatrix spin = rotationAbout(axis(tire->m_pin), tire->m_spinAngle, dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    dgMatrix pose = spin.multiply(tire->m_localMatrix);
    pose.position = pose.position + axis(m_up).scale(tire->m_suspensionPosition);
    pose.position.w = 1.0f;
    return pose;
}

dgMatrix dgVehicleJoint::tireMatrix(const dgVehicleTire* tire) const {
    return tirePose(tire).multiply(m_body0->m_matrix);
}

float dgVehicleJoint::maxBrake(const dgVehicleTire* tire) const {
    return 0.99f * m_invTimestep * tire->m_spinRate;
}

void dgVehicleJoint::refreshTirePoses() {
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        if (tire.m_shape) {
            tire.m_shape->setPose(tirePose(&tire), kZero);
        }
    }
    // The compound keeps its children's placed boxes from its last box
    // query: without this the broad phase would look for the tires where they
    // were.
    dgBodyUpdateCollisionMatrix(m_body0, m_body0->m_world->m_timeStep);
}

void dgVehicleJoint::gatherTireContacts() {
    dgBody* const chassis = m_body0;
    struct Candidate {
        dgContact* contact;
        dgContactPointList::Node* node;
        dgCollisionTire* shape;
        dgVector direction;
        float key;
    };
    Candidate candidates[kMaxCandidates];
    int32_t count = 0;

    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgCollisionTire* shape = node->getValue().m_shape;
        shape->m_contactCount = 0;
        shape->m_candidateCount = 0;
        shape->m_pairCount = 0;
    }
    if (const dgJointLink* head = chassis->m_jointRing) {
        const dgJointLink* link = head;
        do {
            if (link->m_joint->m_typeId == dgJointTypeContact) {
                dgContact* const contact = static_cast<dgContact*>(link->m_joint);
                const bool chassisFirst = (contact->m_body0 == chassis);
                dgBody* const other = chassisFirst ? contact->m_body1 : contact->m_body0;
                // Vehicle against vehicle stays with the ordinary solver.
                const bool skip = other && (other->m_invMass.w != 0.0f) && isChassis(other);
                dgContactPointList::Node* point = contact->m_points.getFirst();
                for (int32_t i = 0; !skip && point && (i < contact->m_pointCount) && (count < kMaxCandidates);
                     ++i, point = point->getNext()) {
                    const dgMaterialPair& record = point->getValue();
                    dgCollision* const own = chassisFirst ? record.collision0 : record.collision1;
                    if (own && (own->getFlags() & dgShapeFlagTire)) {
                        candidates[count].contact = contact;
                        candidates[count].node = point;
                        candidates[count].shape = static_cast<dgCollisionTire*>(own);
                        // Normals point from body1 towards body0: into the
                        // ground when the chassis is body1.
                        candidates[count].direction =
                            chassisFirst ? axis(record.normal).scale(-1.0f) : axis(record.normal);
                        ++count;
                    }
                }
            }
            link = link->m_next;
        } while (link != head);
    }

    const dgVector globalUp = axis(chassis->m_matrix.rotateVector(m_up));
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        dgCollisionTire* const shape = tire.m_shape;
        const dgMatrix frame = tireMatrix(&tire);
        const dgVector pin = axis(tire.m_pin);
        Candidate* mine[kMaxCandidates];
        int32_t mineCount = 0;
        for (int32_t c = 0; c < count; ++c) {
            Candidate& candidate = candidates[c];
            if (candidate.shape != shape) {
                continue;
            }
            const dgVector local = axis(frame.inverseTransformVector(candidate.node->getValue().point));
            const dgVector radial = local - pin.scale(local.dot(pin));
            const float radial2 = radial.dot(radial) + 1.0e-12f;
            if (radial2 > shape->m_contactDistanceLimit) {
                // On the tread the contact pushes straight towards the axle,
                // whatever the face's own normal says.
                candidate.direction = axis(frame.rotateVector(radial.scale(1.0f / std::sqrt(radial2))));
            }
            candidate.key = -candidate.direction.dot(globalUp);
            // Largest key first, equal keys in the order found.
            int32_t at = mineCount++;
            while ((at > 0) && (mine[at - 1]->key < candidate.key)) {
                mine[at] = mine[at - 1];
                --at;
            }
            mine[at] = &candidate;
        }
        shape->m_candidateCount = mineCount;
        for (int32_t k = 0; (k < mineCount) && (k < kMaxContacts); ++k) {
            const Candidate& candidate = *mine[k];
            const dgMaterialPair& record = candidate.node->getValue();
            dgCollisionTire::Contact& kept = shape->m_contacts[shape->m_contactCount++];
            const bool chassisFirst = (candidate.contact->m_body0 == chassis);
            kept.body0 = chassis;
            kept.body1 = chassisFirst ? candidate.contact->m_body1 : candidate.contact->m_body0;
            kept.point = record.point;
            kept.normal = candidate.direction;
            kept.normal.w = candidate.key;
            kept.penetration = record.penetration;
            bool known = false;
            for (int32_t p = 0; p < shape->m_pairCount; ++p) {
                known = known || (shape->m_pairs[p][1] == kept.body1);
            }
            if (!known) {
                shape->m_pairs[shape->m_pairCount][0] = chassis;
                shape->m_pairs[shape->m_pairCount][1] = kept.body1;
                ++shape->m_pairCount;
            }
        }
    }

    // Every candidate leaves its joint's active points, so that the ordinary
    // solver does not see it; the joint's rows shrink with its points.
    for (int32_t c = 0; c < count; ++c) {
        dgContact* const contact = candidates[c].contact;
        dgContactPointList::Node* last = contact->m_points.getFirst();
        for (int32_t i = 1; i < contact->m_pointCount; ++i) {
            last = last->getNext();
        }
        if (last != candidates[c].node) {
            contact->m_points.moveAfter(candidates[c].node, last);
        }
        --contact->m_pointCount;
        contact->m_maxRows = uint16_t(3 * contact->m_pointCount);
    }
}

int32_t dgVehicleJoint::submitRows(dgJointRowBlock& block) {
    dgBody* const chassis = m_body0;
    dgWorld* const world = chassis->m_world;
    const float h = block.timestep;
    const float invH = block.invTimestep;
    m_stepRecord = &block;
    m_invTimestep = invH;
    const dgVector globalUp = axis(chassis->m_matrix.rotateVector(m_up));
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
        const dgVector pin = axis(chassis->m_matrix.rotateVector(tire.m_localMatrix.rotateVector(tire.m_pin)));
        tire.m_lateralSpeed = chassis->m_veloc.dot(pin);
        tire.m_longitudinalSpeed = chassis->m_veloc.dot(pin.cross(globalUp));
    }
    if (m_tireCallback) {
        m_tireCallback(this);
    }

    Workspace ws;
    ws.slotCount = 1;
    ws.rowCount = 0;
    setupSlot(ws.slots[0], chassis);
    ws.slots[0].accel = chassis->m_force.scale(chassis->m_invMass.w);
    ws.slots[0].alpha = axis(ws.slots[0].invInertia.rotateVector(axis(chassis->m_torque)));
    const dgVector centre = axis(chassis->m_globalCentreOfMass);

    struct TireRows {
        int32_t first;
        int32_t axleRows;
        int32_t contacts;
        int32_t normalRows[kMaxContacts];
        dgVector pin;
        dgVector centre;
    };
    TireRows tireRows[kMaxTires];
    int32_t t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleTire& tire = node->getValue();
        TireRows& info = tireRows[t];
        const dgMatrix& local = tire.m_localMatrix;
        const dgVector g = unit(chassis->m_matrix.rotateVector(local.rotateVector(tire.m_pin)));
        const dgVector c =
            axis(chassis->m_matrix.transformVector(local.position + axis(m_up).scale(tire.m_suspensionPosition)));
        const dgVector r = c - centre;
        info.pin = g;
        info.centre = c;
        tire.m_slot = ws.slotCount++;
        Slot& slot = ws.slots[tire.m_slot];
        slot.body = nullptr;
        slot.invMass = tire.m_invMass;
        slot.invInertia = dgGetIdentityMatrix();
        for (int32_t i = 0; i < 3; ++i) {
            slot.invInertia[i] = slot.invInertia[i].scale(tire.m_invInertia);
        }
        slot.invInertia[3] = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
        slot.veloc = pointVelocity(ws.slots[0], r) + globalUp.scale(tire.m_suspensionSpeed);
        slot.omega = ws.slots[0].omega + g.scale(tire.m_spinRate);
        slot.accel = globalUp.scale(tire.m_weight * tire.m_invMass);
        slot.alpha = g.scale(tire.m_torque * tire.m_invInertia);

        info.first = ws.rowCount;
        const dgVector roll = unit(g.cross(globalUp));
        const dgVector directions[3] = {roll, g, globalUp};
        for (int32_t k = 0; k < 3; ++k) {
            const dgVector& e = directions[k];
            float accel = 0.0f;
            Row probe;
            probe.a = tire.m_slot;
            probe.b = 0;
            probe.jaLinear = e;
            probe.jaAngular = kZero;
            probe.jbLinear = e.scale(-1.0f);
            probe.jbAngular = axis(r.cross(e)).scale(-1.0f);
            const float relative = relativeVelocity(ws, probe);
            if (k == 2) {
                const float damp = tire.m_spring * h + tire.m_shock;
                accel = -(relative * damp + tire.m_spring * tire.m_suspensionPosition) / (damp * h + 1.0f);
            } else {
                accel = -relative * invH;
            }
            Row* row = addRow(ws, probe.a, probe.b, probe.jaLinear, probe.jaAngular, probe.jbLinear,
                              probe.jbAngular, (k == 2) ? 0.0f : accel);
            if (row && (k == 2)) {
                // The suspension row is held at the spring-damper force.
                const float force = accel / rowDiagonal(*row, ws.slots);
                row->lower = force;
                row->upper = force;
            }
        }
        const dgVector turns[2] = {globalUp, roll};
        for (const dgVector& e : turns) {
            Row* row = addRow(ws, tire.m_slot, 0, kZero, e, kZero, e.scale(-1.0f), 0.0f);
            if (row) {
                row->rhs -= relativeVelocity(ws, *row) * invH;
            }
        }
        if (tire.m_brakeLimit > kBrakeFloor) {
            Row* row = addRow(ws, tire.m_slot, 0, kZero, g, kZero, g.scale(-1.0f), -tire.m_brakeAccel);
            if (row) {
                row->lower = -tire.m_brakeLimit;
                row->upper = tire.m_brakeLimit;
            }
        }
        info.axleRows = ws.rowCount - info.first;
        for (int32_t k = 0; k < std::min(info.axleRows, 5); ++k) {
            ws.rows[info.first + k].force = tire.m_axleForces[k];
        }
    }

    t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleTire& tire = node->getValue();
        TireRows& info = tireRows[t];
        const dgCollisionTire* const shape = tire.m_shape;
        tire.m_airborne = 1;
        tire.m_longitudinalSlip = 0;
        tire.m_lateralSlip = 0;
        info.contacts = 0;
        const int32_t contacts = shape->m_contactCount;
        const float share = tire.m_lastNormalForce / float(std::max(contacts, 1));
        for (int32_t k = 0; k < contacts; ++k) {
            const dgCollisionTire::Contact& contact = shape->m_contacts[k];
            const int32_t other = groundSlot(ws, contact.body1);
            if (other < -1) {
                continue;
            }
            const dgVector n = axis(contact.normal);
            const dgVector d = n.scale(-1.0f);
            const dgVector rt = axis(contact.point) - info.centre;
            const dgVector rg = (other >= 0) ? axis(contact.point - ws.slots[other].body->m_globalCentreOfMass) : kZero;
            Row* normal = addRow(ws, tire.m_slot, other, d, rt.cross(d), n, axis(rg.cross(n)), 0.0f);
            if (!normal) {
                break;
            }
            tire.m_airborne = 0;
            info.normalRows[info.contacts++] = int32_t(normal - ws.rows);
            const float approach = relativeVelocity(ws, *normal);
            const float depth = std::max(contact.penetration - kPenetrationAllowance, 0.0f);
            normal->rhs += (-kRestitution * approach + kPenetrationGain * depth * invH) * invH;
            normal->lower = 0.0f;
            normal->force = share;

            const float load = tire.m_weight * globalUp.dot(n);
            const dgVector frictionAxis = axis(info.pin.cross(n));
            if ((load <= 0.0f) || (frictionAxis.dot(frictionAxis) <= kMinFrictionAxis2)) {
                continue;
            }
            const float pressed = std::max(share, load);
            const dgVector d1 = unit(frictionAxis);
            const dgVector d2 = axis(d1.cross(n));
            const dgVector along[2] = {d1, d2};
            for (int32_t j = 0; j < 2; ++j) {
                const dgVector& e = along[j];
                Row* row = addRow(ws, tire.m_slot, other, e, rt.cross(e), e.scale(-1.0f),
                                  axis(rg.cross(e)).scale(-1.0f), 0.0f);
                if (!row) {
                    break;
                }
                const float sliding = relativeVelocity(ws, *row);
                row->rhs -= sliding * invH;
                const bool longitudinal = (j == 0);
                const float limit = longitudinal ? tire.m_slipLimitB : tire.m_slipLimitA;
                const float scale = longitudinal ? tire.m_slipScaleB : tire.m_slipScaleA;
                float mu = kStaticFriction;
                if (std::fabs(sliding) >= limit) {
                    mu = kSlidingFriction - scale;
                    (longitudinal ? tire.m_longitudinalSlip : tire.m_lateralSlip) = 1;
                }
                row->lower = -mu * pressed;
                row->upper = mu * pressed;
            }
        }
    }

    const int32_t iterations = world->m_solverIterationMode;
    const float tolerance = kTolerance * ((iterations >= 2) ? std::pow(2.0f, 1.0f / float(iterations)) : 1.0f);
    if (ws.rowCount > 0) {
        solveRows(ws, tolerance);
    }
    // J^T f of every slot.
    finalAccelerations(ws);

    // Reactions on movable ground bodies, one scale for all.
    const int32_t firstGround = 1 + m_tires.getCount();
    float scale = kReactionStart;
    for (int32_t s = firstGround; s < ws.slotCount; ++s) {
        const Slot& slot = ws.slots[s];
        const float linear2 = slot.sumLinear.dot(slot.sumLinear);
        scale = std::min(scale, dgVehicleReactionScale(linear2, slot.invMass, chassis->m_invMass.w));
    }
    for (int32_t s = firstGround; s < ws.slotCount; ++s) {
        const Slot& slot = ws.slots[s];
        slot.body->m_force += slot.sumLinear.scale(scale);
        slot.body->m_torque += slot.sumAngular.scale(scale);
    }

    // The chassis: what the solve gave it, as a force and torque for the
    // island solver to integrate.
    chassis->m_force = axis(chassis->m_force) + ws.slots[0].sumLinear;
    chassis->m_torque = axis(chassis->m_torque) + ws.slots[0].sumAngular;

    // Each slot's acceleration: external plus the rows'.
    for (int32_t s = 0; s < firstGround; ++s) {
        Slot& slot = ws.slots[s];
        slot.sumLinear = slot.accel + slot.sumLinear.scale(slot.invMass);
        slot.sumAngular = slot.alpha + axis(slot.invInertia.rotateVector(slot.sumAngular));
    }

    t = 0;
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext(), ++t) {
        dgVehicleTire& tire = node->getValue();
        const TireRows& info = tireRows[t];
        const Slot& slot = ws.slots[tire.m_slot];
        const Slot& body = ws.slots[0];
        const dgVector r = info.centre - centre;
        const dgVector chassisAccel = body.sumLinear + body.sumAngular.cross(r);
        const float suspensionAccel = globalUp.dot(slot.sumLinear - chassisAccel);
        tire.m_suspensionSpeed += suspensionAccel * h;
        tire.m_suspensionPosition += tire.m_suspensionSpeed * h;
        const float spinAccel = info.pin.dot(slot.sumAngular - body.sumAngular);
        tire.m_spinRate = (tire.m_spinRate + 0.5f * spinAccel * h) * kSpinDecay;
        if (std::fabs(tire.m_spinRate * tire.m_radius) > kMaxRimSpeed) {
            tire.m_spinRate = std::copysign(kMaxRimSpeed / tire.m_radius, tire.m_spinRate);
        }
        tire.m_spinAngle = dgVehicleWrapSpinAngle(tire.m_spinAngle, h * tire.m_spinRate);
        tire.m_spinRate += 0.5f * spinAccel * h;
        for (int32_t k = 0; k < std::min(info.axleRows, 5); ++k) {
            tire.m_axleForces[k] = ws.rows[info.first + k].force;
        }
        float normalForce = 0.0f;
        for (int32_t k = 0; k < info.contacts; ++k) {
            normalForce += ws.rows[info.normalRows[k]].force;
        }
        tire.m_lastNormalForce = normalForce;
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
        chassis->m_force = globalUp.scale(-mass);
    }
    refreshTirePoses();
    m_stepRecord = nullptr;
    return 0;
}

void dgVehicleUpdatePending(dgWorld* world) {
    for (dgBodyTree::Node* node = world->m_vehicleWorkList.getFirst(); node; node = node->getNext()) {
        if (dgVehicleJoint* vehicle = dgVehicleOfChassis(node->getPayload())) {
            vehicle->gatherTireContacts();
        }
    }
    world->m_vehicleWorkList.removeAll();
}

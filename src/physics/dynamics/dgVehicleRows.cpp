// The vehicle's rows, tire by tire.
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
// The axle rows and the normal rows start from the last sub-step's forces.
#include "dgVehicleRows.h"

#include <algorithm>
#include <cmath>

#include "dgBody.h"
#include "dgCollisionTire.h"

namespace {

constexpr float kMaxRimSpeed = 400.0f;
constexpr float kSpinDecay = 0.9999f;
constexpr float kBrakeFloor = 1.0e-10f;
constexpr float kMinFrictionAxis2 = 0.0001f;
constexpr float kRestitution = 1.1f;
constexpr float kPenetrationGain = 0.2f;
constexpr float kPenetrationAllowance = 0.005f;
constexpr float kStaticFriction = 1.0f;
constexpr float kSlidingFriction = 0.75f;
// Axle rows whose forces the next sub-step starts from.
constexpr int32_t kKeptAxleRows = 5;

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

}  // namespace

void dgVehicleAxleRows(dgVehicleWorkspace& ws, const dgVehicleJoint& vehicle, dgVehicleTire& tire,
                       const dgVehicleFrame& frame, dgVehicleTireRows& info) {
    const dgBody* const chassis = vehicle.m_body0;
    const dgVector& globalUp = frame.up;
    const float h = frame.h;
    const float invH = frame.invH;
    const dgMatrix& local = tire.m_localMatrix;
    const dgVector g = dgVehicleUnit(chassis->m_matrix.rotateVector(local.rotateVector(tire.m_pin)));
    const dgVector c =
        dgVehicleAxis(chassis->m_matrix.transformVector(local.position + dgVehicleAxis(vehicle.m_up).scale(tire.m_suspensionPosition)));
    const dgVector r = c - frame.centre;
    info.pin = g;
    info.centre = c;
    tire.m_slot = ws.slotCount++;
    dgVehicleSlot& slot = ws.slots[tire.m_slot];
    slot.body = nullptr;
    slot.invMass = tire.m_invMass;
    slot.invInertia = dgGetIdentityMatrix();
    for (int32_t i = 0; i < 3; ++i) {
        slot.invInertia[i] = slot.invInertia[i].scale(tire.m_invInertia);
    }
    slot.invInertia[3] = dgVector(0.0f, 0.0f, 0.0f, 1.0f);
    slot.veloc = ws.slots[0].veloc + ws.slots[0].omega.cross(r) + globalUp.scale(tire.m_suspensionSpeed);
    slot.omega = ws.slots[0].omega + g.scale(tire.m_spinRate);
    slot.accel = globalUp.scale(tire.m_weight * tire.m_invMass);
    slot.alpha = g.scale(tire.m_torque * tire.m_invInertia);

    info.first = ws.rowCount;
    const dgVector roll = dgVehicleUnit(g.cross(globalUp));
    const dgVector directions[3] = {roll, g, globalUp};
    for (int32_t k = 0; k < 3; ++k) {
        const dgVector& e = directions[k];
        dgVehicleRow* row = dgVehicleNewRow(ws, tire.m_slot, 0, e, kZero, e.scale(-1.0f),
                                            dgVehicleAxis(r.cross(e)).scale(-1.0f));
        if (!row) {
            continue;
        }
        const float relative = dgVehicleRelativeVelocity(ws, *row);
        const bool suspension = (k == 2);
        float accel = -relative * invH;
        if (suspension) {
            const float damp = tire.m_spring * h + tire.m_shock;
            accel = -(relative * damp + tire.m_spring * tire.m_suspensionPosition) / (damp * h + 1.0f);
        }
        dgVehicleSetRowAccel(ws, *row, suspension ? 0.0f : accel);
        if (suspension) {
            // The suspension row is held at the spring-damper force.
            const float force = accel / dgVehicleRowDiagonal(*row, ws.slots);
            row->lower = force;
            row->upper = force;
        }
    }
    const dgVector turns[2] = {globalUp, roll};
    for (const dgVector& e : turns) {
        dgVehicleRow* row = dgVehicleAddRow(ws, tire.m_slot, 0, kZero, e, kZero, e.scale(-1.0f), 0.0f);
        if (row) {
            row->rhs -= dgVehicleRelativeVelocity(ws, *row) * invH;
        }
    }
    if (tire.m_brakeLimit > kBrakeFloor) {
        dgVehicleRow* row = dgVehicleAddRow(ws, tire.m_slot, 0, kZero, g, kZero, g.scale(-1.0f), -tire.m_brakeAccel);
        if (row) {
            row->lower = -tire.m_brakeLimit;
            row->upper = tire.m_brakeLimit;
        }
    }
    info.axleRows = ws.rowCount - info.first;
    for (int32_t k = 0; k < std::min(info.axleRows, kKeptAxleRows); ++k) {
        ws.rows[info.first + k].force = tire.m_axleForces[k];
    }
}

void dgVehicleContactRows(dgVehicleWorkspace& ws, dgVehicleTire& tire, const dgVehicleFrame& frame,
                          dgVehicleTireRows& info) {
    const dgCollisionTire* const shape = tire.m_shape;
    tire.m_airborne = 1;
    tire.m_longitudinalSlip = 0;
    tire.m_lateralSlip = 0;
    info.contacts = 0;
    const int32_t contacts = shape->m_contactCount;
    const float share = tire.m_lastNormalForce / float(std::max(contacts, 1));
    for (int32_t k = 0; k < contacts; ++k) {
        const dgCollisionTire::Contact& contact = shape->m_contacts[k];
        const int32_t other = dgVehicleGroundSlot(ws, contact.body1);
        if (other < -1) {
            continue;
        }
        const dgVector n = dgVehicleAxis(contact.normal);
        const dgVector d = n.scale(-1.0f);
        const dgVector rt = dgVehicleAxis(contact.point) - info.centre;
        const dgVector rg = (other >= 0) ? dgVehicleAxis(contact.point - ws.slots[other].body->m_globalCentreOfMass) : kZero;
        dgVehicleRow* normal = dgVehicleAddRow(ws, tire.m_slot, other, d, rt.cross(d), n, dgVehicleAxis(rg.cross(n)), 0.0f);
        if (!normal) {
            break;
        }
        tire.m_airborne = 0;
        info.normalRows[info.contacts++] = int32_t(normal - ws.rows);
        const float approach = dgVehicleRelativeVelocity(ws, *normal);
        const float depth = std::max(contact.penetration - kPenetrationAllowance, 0.0f);
        normal->rhs += (-kRestitution * approach + kPenetrationGain * depth * frame.invH) * frame.invH;
        normal->lower = 0.0f;
        normal->force = share;

        const float load = tire.m_weight * frame.up.dot(n);
        const dgVector frictionAxis = dgVehicleAxis(info.pin.cross(n));
        if ((load <= 0.0f) || (frictionAxis.dot(frictionAxis) <= kMinFrictionAxis2)) {
            continue;
        }
        const float pressed = std::max(share, load);
        const dgVector d1 = dgVehicleUnit(frictionAxis);
        const dgVector d2 = dgVehicleAxis(d1.cross(n));
        const dgVector along[2] = {d1, d2};
        for (int32_t j = 0; j < 2; ++j) {
            const dgVector& e = along[j];
            dgVehicleRow* row = dgVehicleAddRow(ws, tire.m_slot, other, e, rt.cross(e), e.scale(-1.0f),
                                                dgVehicleAxis(rg.cross(e)).scale(-1.0f), 0.0f);
            if (!row) {
                break;
            }
            const float sliding = dgVehicleRelativeVelocity(ws, *row);
            row->rhs -= sliding * frame.invH;
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

void dgVehicleIntegrateTire(const dgVehicleWorkspace& ws, dgVehicleTire& tire, const dgVehicleFrame& frame,
                            const dgVehicleTireRows& info) {
    const float h = frame.h;
    const dgVehicleSlot& slot = ws.slots[tire.m_slot];
    const dgVehicleSlot& body = ws.slots[0];
    const dgVector r = info.centre - frame.centre;
    const dgVector chassisAccel = body.sumLinear + body.sumAngular.cross(r);
    const float suspensionAccel = frame.up.dot(slot.sumLinear - chassisAccel);
    tire.m_suspensionSpeed += suspensionAccel * h;
    tire.m_suspensionPosition += tire.m_suspensionSpeed * h;
    const float spinAccel = info.pin.dot(slot.sumAngular - body.sumAngular);
    tire.m_spinRate = (tire.m_spinRate + 0.5f * spinAccel * h) * kSpinDecay;
    if (std::fabs(tire.m_spinRate * tire.m_radius) > kMaxRimSpeed) {
        tire.m_spinRate = std::copysign(kMaxRimSpeed / tire.m_radius, tire.m_spinRate);
    }
    tire.m_spinAngle = dgVehicleWrapSpinAngle(tire.m_spinAngle, h * tire.m_spinRate);
    tire.m_spinRate += 0.5f * spinAccel * h;
    for (int32_t k = 0; k < std::min(info.axleRows, kKeptAxleRows); ++k) {
        tire.m_axleForces[k] = ws.rows[info.first + k].force;
    }
    float normalForce = 0.0f;
    for (int32_t k = 0; k < info.contacts; ++k) {
        normalForce += ws.rows[info.normalRows[k]].force;
    }
    tire.m_lastNormalForce = normalForce;
}

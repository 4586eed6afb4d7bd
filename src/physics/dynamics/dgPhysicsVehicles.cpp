// The vehicle functions of the public header: input checked, then handed to
// the vehicle joint (dgVehicleJoint.h). What changes the chassis's collision
// or the tire list (creation, adding and removing tires) is refused during an
// update: the step is walking both.
#include <algorithm>
#include <cmath>

#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgCollisionTire.h"
#include "dgCompoundCollision.h"
#include "dgFlatInput.h"
#include "dgMathUtils.h"
#include "dgPhysics.h"
#include "dgVehicleJoint.h"

namespace {

constexpr float kMinChassisSize = 1.0f;

dgVehicleJoint* vehicleOf(dgConstraint* joint) {
    return (joint && (joint->m_typeId == dgJointTypeVehicle)) ? static_cast<dgVehicleJoint*>(joint) : nullptr;
}

const dgVehicleJoint* vehicleOf(const dgConstraint* joint) {
    return (joint && (joint->m_typeId == dgJointTypeVehicle)) ? static_cast<const dgVehicleJoint*>(joint)
                                                               : nullptr;
}

// The tire when it belongs to the vehicle.
bool owns(const dgVehicleJoint* vehicle, const dgVehicleTire* tire) {
    return vehicle && tire && (tire->m_vehicle == vehicle);
}

// A unit vector of a finite, non-zero direction.
bool unitOf(const float* v, dgVector& out) {
    if (!dgIsFiniteArray(v, 3)) {
        return false;
    }
    const dgVector d(v[0], v[1], v[2], 0.0f);
    const float length2 = d.dot(d);
    if (!(length2 > 0.0f) || !std::isfinite(length2)) {
        return false;
    }
    out = d.scale(1.0f / std::sqrt(length2));
    return true;
}

// The chassis's own size: the diagonal of the chassis-space box holding its
// shapes (the tires left out) and its origin, at least 1 m. A tire larger
// than that, or placed farther out, is out of the vehicle's scale: it would
// start deep in the ground or far from its chassis, and its rows would ask
// for what float rows cannot carry.
float chassisSize(const dgVehicleJoint* vehicle) {
    const dgCompoundCollision* const compound = dgRefCast<dgCompoundCollision>(vehicle->m_body0->m_collision);
    dgVector low(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector high(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t i = 0; compound && (i < compound->getChildCount()); ++i) {
        const dgCollision* const child = compound->getChild(i);
        if (child->getFlags() & dgShapeFlagTire) {
            continue;
        }
        dgVector childLow, childHigh;
        child->calcAABB(dgGetIdentityMatrix(), childLow, childHigh);
        for (int32_t k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], childLow[k]);
            high[k] = std::max(high[k], childHigh[k]);
        }
    }
    const dgVector diagonal = high - low;
    const float size = std::sqrt(diagonal.x * diagonal.x + diagonal.y * diagonal.y + diagonal.z * diagonal.z);
    return std::isfinite(size) ? std::max(size, kMinChassisSize) : kMinChassisSize;
}

}  // namespace

dgConstraint* dgCreateVehicle(dgWorld* world, const float* up, dgBody* body) {
    dgVector direction;
    if (!world || !body || (body->m_world != world) || dgWorldIsUpdating(world) || !unitOf(up, direction) ||
        (body->m_collision->getFlags() & dgShapeFlagVehicle)) {
        return nullptr;
    }
    return dgWorldCreateVehicle(world, direction, body);
}

dgVehicleTire* dgVehicleAddTire(dgConstraint* joint, const float* matrix, const float* pin, float mass, float width,
                                float radius, float shock, float spring, float length, uint32_t collisionId,
                                void* userData) {
    dgVehicleJoint* const vehicle = vehicleOf(joint);
    const float sizes[6] = {mass, width, radius, shock, spring, length};
    dgVector axle;
    dgMatrix m;
    if (!vehicle || dgWorldIsUpdating(vehicle->m_body0->m_world) || !dgIsFiniteArray(matrix, 16) ||
        !dgFlatOrthonormalMatrix(matrix, m) || !dgIsFiniteArray(sizes, 6) || !unitOf(pin, axle) ||
        !dgIsFiniteArray(pin + 3, 1) || (mass == 0.0f) || (width == 0.0f) || (radius == 0.0f)) {
        return nullptr;
    }
    const float size = chassisSize(vehicle);
    const dgVector place = m.position;
    if ((std::fabs(width) > size) || (std::fabs(radius) > size) ||
        !(std::sqrt(place.x * place.x + place.y * place.y + place.z * place.z) <= size)) {
        return nullptr;
    }
    // A tire spinning about the up direction would have no rolling
    // direction; steering turns about up, so the test holds at any angle.
    const dgVector chassisPin = m.rotateVector(axle);
    const dgVector across = chassisPin.cross(vehicle->m_up);
    if (across.dot(across) < 1.0e-4f * chassisPin.dot(chassisPin)) {
        return nullptr;
    }
    axle.w = pin[3];
    return vehicle->addTire(m, axle, mass, width, radius, shock, spring, length, collisionId, userData);
}

void dgVehicleRemoveTire(dgConstraint* joint, dgVehicleTire* tire) {
    dgVehicleJoint* const vehicle = vehicleOf(joint);
    if (owns(vehicle, tire) && !dgWorldIsUpdating(vehicle->m_body0->m_world)) {
        vehicle->removeTire(tire);
    }
}

void dgVehicleReset(dgConstraint* joint) {
    if (dgVehicleJoint* const vehicle = vehicleOf(joint)) {
        vehicle->reset();
    }
}

void dgVehicleSetTireCallback(dgConstraint* joint, dgVehicleTireCallback callback) {
    if (dgVehicleJoint* const vehicle = vehicleOf(joint)) {
        vehicle->m_tireCallback = callback;
    }
}

void dgVehicleGetTireMatrix(const dgConstraint* joint, const dgVehicleTire* tire, float* matrix) {
    const dgVehicleJoint* const vehicle = vehicleOf(joint);
    if (!matrix) {
        return;
    }
    const dgMatrix m = owns(vehicle, tire) ? vehicle->tireMatrix(tire) : dgGetIdentityMatrix();
    for (int32_t i = 0; i < 4; ++i) {
        for (int32_t j = 0; j < 4; ++j) {
            matrix[4 * i + j] = m[i][j];
        }
    }
}

void dgVehicleSetTireSteerAngle(dgConstraint* joint, dgVehicleTire* tire, float angle) {
    dgVehicleJoint* const vehicle = vehicleOf(joint);
    if (owns(vehicle, tire) && std::isfinite(angle)) {
        vehicle->setSteerAngle(tire, angle);
    }
}

dgVehicleTire* dgVehicleGetFirstTire(const dgConstraint* joint) {
    const dgVehicleJoint* const vehicle = vehicleOf(joint);
    dgVehicleTireList::Node* node = vehicle ? vehicle->m_tires.getFirst() : nullptr;
    return node ? &node->getValue() : nullptr;
}

dgVehicleTire* dgVehicleGetNextTire(const dgConstraint* joint, const dgVehicleTire* tire) {
    const dgVehicleJoint* const vehicle = vehicleOf(joint);
    dgVehicleTireList::Node* node = owns(vehicle, tire) ? tire->m_node->getNext() : nullptr;
    return node ? &node->getValue() : nullptr;
}

void* dgVehicleTireGetUserData(const dgVehicleTire* tire) {
    return tire ? tire->m_userData : nullptr;
}

float dgVehicleTireGetSteerAngle(const dgVehicleTire* tire) {
    return tire ? tire->m_steerAngle : 0.0f;
}

void dgVehicleTireSetTorque(dgVehicleTire* tire, float torque) {
    if (tire && std::isfinite(torque)) {
        const float limit = dgFlatMaxAcceleration * tire->m_inertia;
        tire->m_torque = std::min(std::max(torque, -limit), limit);
    }
}

float dgVehicleTireGetLoad(const dgVehicleTire* tire) {
    return tire ? tire->m_weight : 0.0f;
}

float dgVehicleTireGetPinSpeed(const dgVehicleTire* tire) {
    return tire ? tire->m_pin.dot(tire->m_pinVelocity) : 0.0f;
}

void dgVehicleTireSetBrake(dgVehicleTire* tire, float acceleration, float limit) {
    if (tire && std::isfinite(acceleration) && std::isfinite(limit)) {
        tire->m_brakeAccel = dgFlatClampAcceleration(acceleration);
        tire->m_brakeLimit = std::fabs(limit);
    }
}

float dgVehicleTireCalculateMaxBrake(const dgVehicleTire* tire) {
    return tire ? tire->m_vehicle->maxBrake(tire) : 0.0f;
}

float dgVehicleTireGetNegValueA(const dgVehicleTire* tire) {
    return tire ? -tire->m_lateralSpeed : 0.0f;
}

float dgVehicleTireGetNegValueB(const dgVehicleTire* tire) {
    return tire ? -tire->m_longitudinalSpeed : 0.0f;
}

namespace {

constexpr float kSlipScaleShare = 0.25f;
constexpr float kMaxSlipLimit = 0.5f;

void setScale(dgVehicleTire* tire, float value, float dgVehicleTire::*field) {
    if (tire && std::isfinite(value)) {
        tire->*field = std::min(std::fabs(value), 1.0f) * kSlipScaleShare;
    }
}

void setLimit(dgVehicleTire* tire, float value, float dgVehicleTire::*field) {
    if (tire && std::isfinite(value)) {
        tire->*field = std::min(std::fabs(value), kMaxSlipLimit);
    }
}

}  // namespace

void dgVehicleTireSetSlipLimitA(dgVehicleTire* tire, float limit) {
    setLimit(tire, limit, &dgVehicleTire::m_slipLimitA);
}

void dgVehicleTireSetSlipLimitB(dgVehicleTire* tire, float limit) {
    setLimit(tire, limit, &dgVehicleTire::m_slipLimitB);
}

void dgVehicleTireSetSlipScaleA(dgVehicleTire* tire, float scale) {
    setScale(tire, scale, &dgVehicleTire::m_slipScaleA);
}

void dgVehicleTireSetSlipScaleB(dgVehicleTire* tire, float scale) {
    setScale(tire, scale, &dgVehicleTire::m_slipScaleB);
}

int32_t dgVehicleTireTestState0(const dgVehicleTire* tire) {
    return tire ? int32_t(tire->m_airborne) : 0;
}

int32_t dgVehicleTireTestState1(const dgVehicleTire* tire) {
    return tire ? int32_t(tire->m_longitudinalSlip) : 0;
}

int32_t dgVehicleTireTestState2(const dgVehicleTire* tire) {
    return tire ? int32_t(tire->m_lateralSlip) : 0;
}

// The vehicle's sub-step solve: the body slots (the chassis, one per tire,
// one per movable ground body a tire touches) and the rows between them,
// solved by the island solver's own projected conjugate gradient
// (dgConstraintSolver.h) in a workspace the vehicle set keeps for it. The
// rows themselves are built in dgVehicleRows.cpp.
#pragma once

#include <cmath>
#include <cstdint>

#include "dgCollisionTire.h"
#include "dgMatrix.h"
#include "dgVector.h"
#include "dgVehicleJoint.h"

class dgBody;
class dgWorld;

constexpr int32_t dgVehicleMaxContacts = dgCollisionTire::kMaxContacts;
// The chassis, every tire and every ground body those tires may touch.
constexpr int32_t dgVehicleMaxSlots = 1 + dgVehicleJoint::kMaxTires * (1 + dgVehicleMaxContacts);
// Per tire: five axle rows, a brake row, three rows a contact.
constexpr int32_t dgVehicleMaxRows = dgVehicleJoint::kMaxTires * (6 + 3 * dgVehicleMaxContacts);
// Bounds of a row that has none.
constexpr float dgVehicleRowBound = 1.0e15f;

// v as a direction (w = 0), and scaled to unit length.
inline dgVector dgVehicleAxis(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 0.0f);
}
inline dgVector dgVehicleUnit(const dgVector& v) {
    return dgVehicleAxis(v).scale(1.0f / std::sqrt(v.dot(v)));
}

struct dgVehicleSlot {
    // Null for a tire's slot.
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

// A row between slot a and slot b (b < 0: immovable ground).
struct dgVehicleRow {
    int32_t a;
    int32_t b;
    dgVector jaLinear;
    dgVector jaAngular;
    dgVector jbLinear;
    dgVector jbAngular;
    // The acceleration asked for less what the external forces give.
    float rhs;
    float lower;
    float upper;
    // The start force in, the solved force out.
    float force;
};

// The sub-step's slots and rows (slot 0 the chassis), on its stack.
struct dgVehicleWorkspace {
    dgVehicleSlot slots[dgVehicleMaxSlots];
    dgVehicleRow rows[dgVehicleMaxRows];
    int32_t slotCount;
    int32_t rowCount;
};

// The body's inverse mass, world inverse inertia and velocities; no external
// acceleration.
void dgVehicleSetupSlot(dgVehicleSlot& slot, dgBody* body);
// The slot of a ground body: -1 for none or an immovable one, -2 when the
// slots are full; a movable body gets one the first time.
int32_t dgVehicleGroundSlot(dgVehicleWorkspace& ws, dgBody* body);
// J . (linear, angular) of the row's two ends: each end's two dots summed,
// then the ends. Inline, as the row builders call it for every row they make.
template <dgVector dgVehicleSlot::*Linear, dgVector dgVehicleSlot::*Angular>
inline float dgVehicleRowDot(const dgVehicleRow& row, const dgVehicleSlot* slots) {
    const dgVehicleSlot& a = slots[row.a];
    float value = row.jaLinear.dot(a.*Linear) + row.jaAngular.dot(a.*Angular);
    if (row.b >= 0) {
        const dgVehicleSlot& b = slots[row.b];
        value += row.jbLinear.dot(b.*Linear) + row.jbAngular.dot(b.*Angular);
    }
    return value;
}
// Appends a row (open bounds, start force 0) with no right-hand side yet;
// null when the rows are full.
inline dgVehicleRow* dgVehicleNewRow(dgVehicleWorkspace& ws, int32_t a, int32_t b, const dgVector& jaLinear,
                                     const dgVector& jaAngular, const dgVector& jbLinear,
                                     const dgVector& jbAngular) {
    if (ws.rowCount >= dgVehicleMaxRows) {
        return nullptr;
    }
    dgVehicleRow& row = ws.rows[ws.rowCount++];
    row.a = a;
    row.b = b;
    row.jaLinear = jaLinear;
    row.jaAngular = jaAngular;
    row.jbLinear = jbLinear;
    row.jbAngular = jbAngular;
    row.lower = -dgVehicleRowBound;
    row.upper = dgVehicleRowBound;
    row.force = 0.0f;
    return &row;
}
// The row's right-hand side: accel less what the slots' external
// accelerations give along it.
inline void dgVehicleSetRowAccel(const dgVehicleWorkspace& ws, dgVehicleRow& row, float accel) {
    row.rhs = accel - dgVehicleRowDot<&dgVehicleSlot::accel, &dgVehicleSlot::alpha>(row, ws.slots);
}
// A new row with its right-hand side for accel; null when the rows are full.
inline dgVehicleRow* dgVehicleAddRow(dgVehicleWorkspace& ws, int32_t a, int32_t b, const dgVector& jaLinear,
                                     const dgVector& jaAngular, const dgVector& jbLinear,
                                     const dgVector& jbAngular, float accel) {
    dgVehicleRow* const row = dgVehicleNewRow(ws, a, b, jaLinear, jaAngular, jbLinear, jbAngular);
    if (row) {
        dgVehicleSetRowAccel(ws, *row, accel);
    }
    return row;
}
// J . v of the row's two ends.
inline float dgVehicleRelativeVelocity(const dgVehicleWorkspace& ws, const dgVehicleRow& row) {
    return dgVehicleRowDot<&dgVehicleSlot::veloc, &dgVehicleSlot::omega>(row, ws.slots);
}
// d = J M^-1 J^T of the row.
inline float dgVehicleRowDiagonal(const dgVehicleRow& row, const dgVehicleSlot* slots) {
    auto part = [](const dgVehicleSlot& slot, const dgVector& linear, const dgVector& angular) {
        return linear.dot(linear) * slot.invMass +
               angular.dot(dgVehicleAxis(slot.invInertia.rotateVector(angular)));
    };
    float d = part(slots[row.a], row.jaLinear, row.jaAngular);
    if (row.b >= 0) {
        d += part(slots[row.b], row.jbLinear, row.jbAngular);
    }
    return d;
}
// Solves the rows for their forces (see the file). False, with the forces
// left at their start values, when the world's vehicle workspace cannot be
// had.
bool dgVehicleSolveRows(dgVehicleWorkspace& ws, dgWorld* world);
// Each slot's sumLinear and sumAngular = J^T f over the rows.
void dgVehicleRowSums(dgVehicleWorkspace& ws);

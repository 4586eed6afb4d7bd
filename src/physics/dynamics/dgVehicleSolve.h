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
// Appends a row (open bounds, start force 0) whose right-hand side is accel
// less what the slots' external accelerations give along it; null when the
// rows are full.
dgVehicleRow* dgVehicleAddRow(dgVehicleWorkspace& ws, int32_t a, int32_t b, const dgVector& jaLinear,
                              const dgVector& jaAngular, const dgVector& jbLinear, const dgVector& jbAngular,
                              float accel);
// J . v of the row's two ends.
float dgVehicleRelativeVelocity(const dgVehicleWorkspace& ws, const dgVehicleRow& row);
// d = J M^-1 J^T of the row.
float dgVehicleRowDiagonal(const dgVehicleRow& row, const dgVehicleSlot* slots);
// Solves the rows for their forces (see the file). False, with the forces
// left at their start values, when the world's vehicle workspace cannot be
// had.
bool dgVehicleSolveRows(dgVehicleWorkspace& ws, dgWorld* world);
// Each slot's sumLinear and sumAngular = J^T f over the rows.
void dgVehicleRowSums(dgVehicleWorkspace& ws);

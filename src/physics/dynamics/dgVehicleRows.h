// The rows of one tire in the vehicle's sub-step (the suspension and the axle
// against the chassis, the contacts against the ground) and the tire's
// integration from the solved rows; dgVehicleRows.cpp derives them.
#pragma once

#include <cstdint>

#include "dgVector.h"
#include "dgVehicleSolve.h"

// Where a tire's rows lie in the workspace, and its frame in the sub-step.
struct dgVehicleTireRows {
    int32_t first;
    int32_t axleRows;
    int32_t contacts;
    int32_t normalRows[dgVehicleMaxContacts];
    // The global pin g and the tire's centre (world).
    dgVector pin;
    dgVector centre;
};

// What every row of the sub-step shares: the chassis's up and centre of mass
// (world), the sub-step and its reciprocal.
struct dgVehicleFrame {
    dgVector up;
    dgVector centre;
    float h;
    float invH;
};

// The tire's slot (velocity of the chassis at its centre, its external
// acceleration) and its axle rows: suspension, the two other point rows, the
// two angular rows and the brake; they start from the last sub-step's forces.
void dgVehicleAxleRows(dgVehicleWorkspace& ws, const dgVehicleJoint& vehicle, dgVehicleTire& tire,
                       const dgVehicleFrame& frame, dgVehicleTireRows& info);
// The tire's contact rows (normal, and friction while loaded); sets its
// airborne and slip flags.
void dgVehicleContactRows(dgVehicleWorkspace& ws, dgVehicleTire& tire, const dgVehicleFrame& frame,
                          dgVehicleTireRows& info);
// Advances the tire's suspension and spin by the solved accelerations (the
// slots' sums already turned into accelerations) and keeps its rows' forces
// for the next sub-step.
void dgVehicleIntegrateTire(const dgVehicleWorkspace& ws, dgVehicleTire& tire, const dgVehicleFrame& frame,
                            const dgVehicleTireRows& info);

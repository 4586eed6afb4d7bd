// The world's set of vehicle joints. While it holds any, the solver steps the
// vehicles' islands at the set's own rate before its main pass. A vehicle
// joint enters when it is made and leaves when it is destroyed
// (dgVehicleJoint.h).
#pragma once

#include <cstdint>

#include "dgRefList.h"

class dgConstraint;
struct dgVehicleSolverSpace;

// Gathers the tire contacts of a vehicle joint for the next sub-step.
typedef void (*dgVehicleTireGather)(dgConstraint* vehicle);

struct dgVehicleSetEntry {
    // A joint of type dgJointTypeVehicle.
    dgConstraint* joint;
    // Step stamp of the sub-step that last took the vehicle.
    uint64_t vehicleStamp;
    dgVehicleTireGather gatherTires;
};

class dgVehicleSet {
public:
    // Sub-steps per second.
    static constexpr float kRate = 179.0f;

    bool isEmpty() const { return m_entries.getCount() == 0; }
    // The entry of a vehicle joint of the set, or null.
    dgVehicleSetEntry* find(const dgConstraint* joint) const {
        for (auto* node = m_entries.getFirst(); node; node = node->getNext()) {
            if (node->getValue().joint == joint) {
                return &node->getValue();
            }
        }
        return nullptr;
    }

    // In the set's order.
    dgRefList<dgVehicleSetEntry> m_entries;
    // The vehicles' solve workspace (dgVehicleSolve.h), made by the first
    // sub-step that needs it and kept until dgVehicleSetRelease.
    dgVehicleSolverSpace* m_space = nullptr;
};

// Frees the set's solve workspace (the world's destructor).
void dgVehicleSetRelease(dgVehicleSet& set);

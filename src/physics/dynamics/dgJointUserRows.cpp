#include "dgJointUserRows.h"

#include <cmath>

#include "dgFlatInput.h"
#include "dgJointRows.h"

namespace {

bool usable(const dgJointUserDescriptor& desc) {
    return std::isfinite(desc.m_accel) && std::isfinite(desc.m_minFriction) &&
           std::isfinite(desc.m_maxFriction) && (desc.m_minFriction <= desc.m_maxFriction);
}

// The solver has reset the row's bounds to the open ones; a callback that
// left them open gets an ordinary row.
void bound(dgJointRowBlock& block, int32_t row, const dgJointUserDescriptor& desc) {
    if ((desc.m_minFriction > -dgJointRowMaxBound) || (desc.m_maxFriction < dgJointRowMaxBound)) {
        dgJointRowBound& record = block.bounds[row];
        record.lower = desc.m_minFriction;
        record.upper = desc.m_maxFriction;
        record.normalIndex = dgRowBounded;
    }
}

}  // namespace

dgJointUserDescriptor dgJointOpenDescriptor(float timestep) {
    return dgJointUserDescriptor{0.0f, -dgJointRowMaxBound, dgJointRowMaxBound, timestep};
}

bool dgJointAddUserAngularRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                              const dgVector& pin, float stiffness, const dgJointUserDescriptor& desc,
                              float* forceSlot) {
    if (!usable(desc) || !dgJointAddAngularRow(joint, row, block, pin, stiffness, 0.0f, forceSlot)) {
        return false;
    }
    bound(block, row, desc);
    block.rightHandSides[row] = dgFlatClampAcceleration(desc.m_accel);
    return true;
}

bool dgJointAddUserLinearRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                             const dgVector& direction, const dgPointKinematics& kinematics,
                             const dgJointUserDescriptor& desc, float* forceSlot) {
    if (!usable(desc) || !dgJointAddLinearRow(joint, row, block, direction, kinematics, forceSlot)) {
        return false;
    }
    bound(block, row, desc);
    block.rightHandSides[row] = dgFlatClampAcceleration(desc.m_accel);
    return true;
}

float dgJointStopAcceleration(float c, float limit, float speed, float h, float gainBelow) {
    if (!std::isfinite(c) || !std::isfinite(limit) || !std::isfinite(speed) || !(h > 0.0f) ||
        !std::isfinite(h)) {
        return 0.0f;
    }
    if (c > limit) {
        return (limit - c) * dgJointStopGain - std::fmax(speed, 0.0f) * dgJointStopBrake / h;
    }
    if (c < limit) {
        return (limit - c) * gainBelow - std::fmin(speed, 0.0f) * dgJointStopBrake / h;
    }
    return 0.0f;
}

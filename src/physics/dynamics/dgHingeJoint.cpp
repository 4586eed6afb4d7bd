// Rows of the hinge, with G0 and G1 the joint frames of body0 and body1 in
// world space (row 0 the pin, row 3 the pivot): rows 0-2 hold the pivots
// together along G0's three axes; rows 3 and 4 are angular rows about G0's
// cross axes that keep the pins parallel. The user row turns body0 about
// the pin against body1.
//
// Linear rows holding two points 16 units out along the pins together would
// keep them parallel too, but such a row is a pivot row with a 16-unit
// lever: under a heavy load the solve hands it a share of the pivot's force,
// and the torque that share brings along turns the joint off its pins (a
// chain of light links above a heavy one tears). The angular rows carry no
// force, only the torque that holds the pins.
#include "dgHingeJoint.h"

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgJointUserRows.h"
#include "dgWorld.h"

namespace {

// The hinge's stop spring is this much stiffer below its limit than above.
constexpr float kLowerStopFactor = 16.0f;

}  // namespace

dgHingeJoint::dgHingeJoint() {
    reset();
    m_maxRows = 6;
    m_typeId = dgJointTypeHinge;
    m_angle = 0.0f;
    m_userCallback = nullptr;
}

dgHingeJoint::~dgHingeJoint() = default;

void dgHingeJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_hingePool.give(this);
}

int32_t dgHingeJoint::submitRows(dgJointRowBlock& block) {
    dgMatrix g0;
    dgMatrix g1;
    m_angle = -calculateGlobalMatrices(g0, g1).x;
    dgPointKinematics pivots;
    dgJointPointKinematics(this, g0.position, g1.position, m_stiffness, pivots);
    dgJointAddLinearRow(this, 0, block, g0.front, pivots, &m_rowForces[0]);
    dgJointAddLinearRow(this, 1, block, g0.up, pivots, &m_rowForces[1]);
    dgJointAddLinearRow(this, 2, block, g0.right, pivots, &m_rowForces[2]);
    dgJointAddPinRows(this, 3, block, g0, g1, m_stiffness, &m_rowForces[3]);
    if (!m_userCallback) {
        return 5;
    }
    dgJointUserDescriptor desc(dgJointOpenDescriptor(block.timestep));
    if (!m_userCallback(this, &desc)) {
        return 5;
    }
    return dgJointAddUserAngularRow(this, 5, block, g0.front, m_stiffness, desc, &m_rowForces[5]) ? 6 : 5;
}

float dgHingeJoint::getJointOmega() const {
    return getPinOmega();
}

float dgHingeJoint::calculateStopAlpha(float angle, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(m_angle, angle, getJointOmega(), desc.m_timestep,
                                   kLowerStopFactor * dgJointStopGain);
}

dgVector dgHingeJoint::getJointForce() const {
    const dgMatrix g0(m_localMatrix0.multiply(m_body0->m_matrix));
    const float* f = m_rowForces;
    return g0.front.scale(f[0]) + g0.up.scale(f[1]) + g0.right.scale(f[2]);
}

dgHingeJoint* dgWorldCreateHinge(dgWorld* world, const dgVector& pivot, const dgVector& pin, dgBody* body0,
                                 dgBody* body1) {
    return dgWorldCreatePooledJoint(world, world->m_hingePool, body0, body1, [&](dgHingeJoint& joint) {
        joint.setPinAndPivot(pivot, pin);
        return true;
    });
}

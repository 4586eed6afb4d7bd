// Rows of the corkscrew: the slider's first four (body0's pivot held on
// body1's axis, and the angular rows that keep the pins parallel), without
// the one that stops the turn about the pin. The user rows push body0 along
// the pin and turn it about the pin against body1.
#include "dgCorkscrewJoint.h"

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgJointUserRows.h"
#include "dgSliderJoint.h"
#include "dgWorld.h"

dgCorkscrewJoint::dgCorkscrewJoint() {
    reset();
    m_maxRows = 6;
    m_typeId = dgJointTypeCorkscrew;
    m_angle = 0.0f;
    m_position = 0.0f;
    m_userCallback = nullptr;
}

dgCorkscrewJoint::~dgCorkscrewJoint() = default;

void dgCorkscrewJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_corkscrewPool.give(this);
}

int32_t dgCorkscrewJoint::submitRows(dgJointRowBlock& block) {
    dgMatrix g0;
    dgMatrix g1;
    m_angle = -calculateGlobalMatrices(g0, g1).x;
    const dgSliderAxisPoints points(dgSliderGetAxisPoints(g0, g1));
    m_position = points.position;
    dgPointKinematics axis;
    dgJointPointKinematics(this, g0.position, points.facing, m_stiffness, axis);
    dgJointAddLinearRow(this, 0, block, g0.up, axis, &m_rowForces[0]);
    dgJointAddLinearRow(this, 1, block, g0.right, axis, &m_rowForces[1]);
    dgJointAddPinRows(this, 2, block, g0, g1, m_stiffness, &m_rowForces[2]);
    if (!m_userCallback) {
        return 4;
    }
    dgJointUserDescriptor desc[2] = {dgJointOpenDescriptor(block.timestep),
                                     dgJointOpenDescriptor(block.timestep)};
    const uint32_t wanted = m_userCallback(this, desc);
    int32_t rows = 4;
    if ((wanted & 1u) &&
        dgJointAddUserLinearRow(this, rows, block, g0.front, axis, desc[0], &m_rowForces[rows])) {
        rows++;
    }
    if ((wanted & 2u) &&
        dgJointAddUserAngularRow(this, rows, block, g0.front, m_stiffness, desc[1], &m_rowForces[rows])) {
        rows++;
    }
    return rows;
}

void dgCorkscrewJoint::setUserCallback(dgJointUserCallback callback) {
    m_userCallback = callback;
}

float dgCorkscrewJoint::getJointAngle() const {
    return m_angle;
}

float dgCorkscrewJoint::getJointPosition() const {
    return m_position;
}

float dgCorkscrewJoint::getJointOmega() const {
    return getPinOmega();
}

float dgCorkscrewJoint::getJointVelocity() const {
    return getPinVelocity();
}

float dgCorkscrewJoint::calculateStopAlpha(float angle, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(m_angle, angle, getJointOmega(), desc.m_timestep);
}

float dgCorkscrewJoint::calculateStopAccel(float position, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(m_position, position, getJointVelocity(), desc.m_timestep);
}

dgVector dgCorkscrewJoint::getJointForce() const {
    const dgMatrix g0(m_localMatrix0.multiply(m_body0->m_matrix));
    const float* f = m_rowForces;
    return g0.up.scale(f[0]) + g0.right.scale(f[1]);
}

dgCorkscrewJoint* dgWorldCreateCorkscrew(dgWorld* world, const dgVector& pivot, const dgVector& pin,
                                         dgBody* body0, dgBody* body1) {
    return dgWorldCreatePooledJoint(world, world->m_corkscrewPool, body0, body1, [&](dgCorkscrewJoint& joint) {
        joint.setPinAndPivot(pivot, pin);
        return true;
    });
}

// Rows of the slider, with G0 and G1 the joint frames of body0 and body1 in
// world space (row 0 the pin, row 3 the pivot), P0 G0's pivot and Q the
// point of body1's axis facing P0: rows 0 and 1 hold P0 on body1's axis
// (across the pin, along G0's rows 1 and 2); rows 2 and 3 are angular rows
// about G0's rows 1 and 2 that keep the pins parallel; row 4 is an angular
// row about the pin that stops the turn about it, its error the angle G1's
// row 1 has turned past G0's about the pin. The user row pushes body0 along
// the pin against body1.
//
// The pins are held by angular rows rather than by linear rows at points 16
// units out along them: such a row is an axis row with a 16-unit lever,
// takes a share of the axis rows' load and turns the joint with the torque
// that share brings along, until the pins tilt and the load slides the
// bodies apart along them.
#include "dgSliderJoint.h"

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgJointUserRows.h"
#include "dgWorld.h"

dgSliderAxisPoints dgSliderGetAxisPoints(const dgMatrix& g0, const dgMatrix& g1) {
    dgSliderAxisPoints points;
    points.position = g0.front.dot(g0.position - g1.position);
    dgVector q(g1.position + g1.front.scale(points.position));
    q = q + g1.front.scale((g0.position - q).dot(g1.front));
    points.facing = dgVector(q.x, q.y, q.z, 1.0f);
    return points;
}

dgSliderJoint::dgSliderJoint() {
    reset();
    m_maxRows = 6;
    m_typeId = dgJointTypeSlider;
    m_position = 0.0f;
    m_userCallback = nullptr;
}

dgSliderJoint::~dgSliderJoint() = default;

void dgSliderJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_sliderPool.give(this);
}

int32_t dgSliderJoint::submitRows(dgJointRowBlock& block) {
    dgMatrix g0;
    dgMatrix g1;
    calculateGlobalMatrices(g0, g1);
    const dgSliderAxisPoints points(dgSliderGetAxisPoints(g0, g1));
    m_position = points.position;
    dgPointKinematics axis;
    dgJointPointKinematics(this, g0.position, points.facing, m_stiffness, axis);
    dgJointAddLinearRow(this, 0, block, g0.up, axis, &m_rowForces[0]);
    dgJointAddLinearRow(this, 1, block, g0.right, axis, &m_rowForces[1]);
    dgJointAddPinRows(this, 2, block, g0, g1, m_stiffness, &m_rowForces[2]);
    dgJointAddAngularRow(this, 4, block, g0.front, m_stiffness, g0.up.cross(g1.up).dot(g0.front), &m_rowForces[4]);
    if (!m_userCallback) {
        return 5;
    }
    dgJointUserDescriptor desc(dgJointOpenDescriptor(block.timestep));
    if (!m_userCallback(this, &desc)) {
        return 5;
    }
    return dgJointAddUserLinearRow(this, 5, block, g0.front, axis, desc, &m_rowForces[5]) ? 6 : 5;
}

float dgSliderJoint::getJointVelocity() const {
    return getPinVelocity();
}

float dgSliderJoint::calculateStopAccel(float position, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(m_position, position, getJointVelocity(), desc.m_timestep);
}

dgVector dgSliderJoint::getJointForce() const {
    const dgMatrix g0(m_localMatrix0.multiply(m_body0->m_matrix));
    const float* f = m_rowForces;
    return g0.up.scale(f[0]) + g0.right.scale(f[1]);
}

dgSliderJoint* dgWorldCreateSlider(dgWorld* world, const dgVector& pivot, const dgVector& pin, dgBody* body0,
                                   dgBody* body1) {
    return dgWorldCreatePooledJoint(world, world->m_sliderPool, body0, body1, [&](dgSliderJoint& joint) {
        joint.setPinAndPivot(pivot, pin);
        return true;
    });
}

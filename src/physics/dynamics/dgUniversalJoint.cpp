// Rows of the universal joint, with G0 and G1 the joint frames of body0 and
// body1 in world space, pin0 = G0's row 0, pin1 = G1's row 1, P0 and P1 the
// pivots: rows 0-2 hold the pivots together along pin0, pin1 and
// C = pin0 x pin1 (as it is: across both pins while they are perpendicular);
// row 3 holds a point 16 units out along pin1 on body1 on its twin on body0,
// 16 units out along D = pin1 less its part along pin0, across pin0: that
// keeps pin1 perpendicular to pin0. The user rows turn body0 about each pin
// against body1.
#include "dgUniversalJoint.h"

#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgJointUserRows.h"
#include "dgWorld.h"

namespace {

// How far out along pin1 the second pair of points lies.
constexpr float kLever = 16.0f;
// Squared length of D at or below which pin1 lies along pin0 (the joint torn
// apart): D is then taken from body0's frame, where pin1 belongs.
constexpr float kParallelPins2 = 1.0e-12f;

dgVector pin1Of(const dgMatrix& local1, const dgBody* body1) {
    return body1 ? body1->m_matrix.rotateVector(local1.up) : local1.up;
}

}  // namespace

dgUniversalJoint::dgUniversalJoint() {
    reset();
    m_maxRows = 6;
    m_typeId = dgJointTypeUniversal;
    m_angle0 = 0.0f;
    m_angle1 = 0.0f;
    m_userCallback = nullptr;
}

dgUniversalJoint::~dgUniversalJoint() = default;

void dgUniversalJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_universalPool.give(this);
}

int32_t dgUniversalJoint::submitRows(dgJointRowBlock& block) {
    dgMatrix g0;
    dgMatrix g1;
    calculateGlobalMatrices(g0, g1);
    const dgVector& pin0 = g0.front;
    const dgVector& pin1 = g1.up;
    const dgVector c(pin0.cross(pin1));
    dgVector d(c.cross(pin0));
    const float d2 = d.dot(d);
    d = (d2 > kParallelPins2) ? d.scale(1.0f / std::sqrt(d2)) : g0.up;
    dgPointKinematics pivots;
    dgPointKinematics fars;
    dgJointPointKinematics(this, g0.position, g1.position, m_stiffness, pivots);
    dgJointPointKinematics(this, g0.position + d.scale(kLever), g1.position + pin1.scale(kLever), m_stiffness,
                           fars);
    dgJointAddLinearRow(this, 0, block, pin0, pivots, &m_rowForces[0]);
    dgJointAddLinearRow(this, 1, block, pin1, pivots, &m_rowForces[1]);
    dgJointAddLinearRow(this, 2, block, c, pivots, &m_rowForces[2]);
    dgJointAddLinearRow(this, 3, block, pin0, fars, &m_rowForces[3]);

    const dgVector& e = g0.up;
    const dgVector& f = g1.front;
    m_angle0 = std::atan2(pin0.dot(pin1.cross(e)), e.dot(pin1));
    m_angle1 = std::atan2(pin1.dot(pin0.cross(f)), f.dot(pin0));
    if (!m_userCallback) {
        return 4;
    }
    dgJointUserDescriptor desc[2] = {dgJointOpenDescriptor(block.timestep),
                                     dgJointOpenDescriptor(block.timestep)};
    const uint32_t wanted = m_userCallback(this, desc);
    int32_t rows = 4;
    if ((wanted & 1u) &&
        dgJointAddUserAngularRow(this, rows, block, pin0, m_stiffness, desc[0], &m_rowForces[rows])) {
        rows++;
    }
    if ((wanted & 2u) &&
        dgJointAddUserAngularRow(this, rows, block, pin1, m_stiffness, desc[1], &m_rowForces[rows])) {
        rows++;
    }
    return rows;
}

void dgUniversalJoint::setUserCallback(dgJointUserCallback callback) {
    m_userCallback = callback;
}

float dgUniversalJoint::getJointAngle0() const {
    return m_angle0;
}

float dgUniversalJoint::getJointAngle1() const {
    return m_angle1;
}

float dgUniversalJoint::getJointOmega0() const {
    return getPinOmega();
}

float dgUniversalJoint::getJointOmega1() const {
    const dgVector pin1(pin1Of(m_localMatrix1, m_body1));
    float omega = pin1.dot(m_body0->m_omega);
    if (m_body1) {
        omega -= pin1.dot(m_body1->m_omega);
    }
    return omega;
}

float dgUniversalJoint::calculateStopAlpha0(float angle, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(m_angle0, angle, getJointOmega0(), desc.m_timestep);
}

float dgUniversalJoint::calculateStopAlpha1(float angle, const dgJointUserDescriptor& desc) const {
    return dgJointStopAcceleration(-m_angle1, -angle, getJointOmega1(), desc.m_timestep);
}

dgVector dgUniversalJoint::getJointForce() const {
    dgMatrix g0;
    dgMatrix g1;
    calculateGlobalMatrices(g0, g1);
    const float* f = m_rowForces;
    return g0.front.scale(f[0] + f[3]) + g1.up.scale(f[1]) + g0.front.cross(g1.up).scale(f[2]);
}

dgUniversalJoint* dgWorldCreateUniversal(dgWorld* world, const dgVector& pivot, const dgVector& pin0,
                                         const dgVector& pin1, dgBody* body0, dgBody* body1) {
    return dgWorldCreatePooledJoint(world, world->m_universalPool, body0, body1, [&](dgUniversalJoint& joint) {
        joint.setPivotAndTwoPins(pivot, pin0, pin1);
        return true;
    });
}

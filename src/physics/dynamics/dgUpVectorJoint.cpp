// Rows of the up-vector joint, with a0 the body's axis (G0's row 0) and p the
// pin (G1's row 0), both world space: a = a0 x p has length sin of the angle
// between them and is the axis that turns a0 onto p. Row 0 turns the body
// about a by that angle (asin |a|); row 1 holds it about a x p, the other
// axis across the pin. When a0 lies along p the two rows simply hold the
// body about its own cross axes.
#include "dgUpVectorJoint.h"

#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgWorld.h"

namespace {

// Squared sine below which the axis counts as lying along the pin.
constexpr float kAlignedSine2 = 1.0e-6f;

}  // namespace

dgUpVectorJoint::dgUpVectorJoint() {
    reset();
    setStiffness(kDefaultUpStiffness);
    m_maxRows = 2;
    m_typeId = dgJointTypeUpVector;
}

dgUpVectorJoint::~dgUpVectorJoint() = default;

void dgUpVectorJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_upVectorPool.give(this);
}

bool dgUpVectorJoint::isBilateral() const {
    return false;
}

int32_t dgUpVectorJoint::submitRows(dgJointRowBlock& block) {
    dgMatrix g0;
    dgMatrix g1;
    calculateGlobalMatrices(g0, g1);
    dgVector axis(g0.front.cross(g1.front));
    const float sine2 = axis.dot(axis);
    if (sine2 <= kAlignedSine2) {
        dgJointAddAngularRow(this, 0, block, g0.up, m_stiffness, 0.0f, &m_rowForces[0]);
        dgJointAddAngularRow(this, 1, block, g0.right, m_stiffness, 0.0f, &m_rowForces[1]);
        return 2;
    }
    const float sine = std::sqrt(sine2);
    axis = axis.scale(1.0f / sine);
    dgJointAddAngularRow(this, 0, block, axis, m_stiffness, std::asin(sine), &m_rowForces[0]);
    dgJointAddAngularRow(this, 1, block, axis.cross(g1.front), m_stiffness, 0.0f, &m_rowForces[1]);
    return 2;
}

void dgUpVectorJoint::setPinAndPivot(const dgVector& pin) {
    dgBilateralJoint::setPinAndPivot(m_body0->m_matrix.position, pin);
}

void dgUpVectorJoint::setPin(const dgVector& pin) {
    const float length = std::sqrt(pin.dot(pin));
    m_localMatrix1 = dgMatrixFromDirection(pin.scale(1.0f / length));
}

dgVector dgUpVectorJoint::getPin() const {
    return m_localMatrix1.front;
}

dgUpVectorJoint* dgWorldCreateUpVector(dgWorld* world, const dgVector& pin, dgBody* body) {
    return dgWorldCreatePooledJoint(world, world->m_upVectorPool, body, nullptr, [&](dgUpVectorJoint& joint) {
        joint.setPinAndPivot(pin);
        return true;
    });
}

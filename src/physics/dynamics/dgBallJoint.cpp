// Rows of the ball joint, with G0 and G1 the joint frames of body0 and body1
// in world space (row 0 the pin, row 3 the pivot) and a the Euler angles of
// G1 seen from G0:
// - rows 0-2 hold the pivots together along G0's axes;
// - past the twist limit t (|a.x| > t), one one-sided row at a point Q 16
//   units out along G0's row 1, along +-G0's row 2, turns body0 about the
//   pin back towards the limit: it asks for (16 e + s') / h, with e the
//   excess and s' the speed at Q that carries the twist further (1.1 times
//   it when it is above 0.001);
// - past the cone limit (G0's pin . G1's pin below the cone's cosine), at Q
//   16 units out along G0's pin: an ordinary row along u = G0 pin x G1 pin
//   (normalised) stops the pin sliding round the cone's rim, and a one-sided
//   row along w = u x G0 pin, from G0's pin towards G1's, asks for
//   (16 (angle - limit) + s') / h.
#include "dgBallJoint.h"

#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgWorld.h"

namespace {

// How far out the limit rows' points lie, and their gain on the excess.
constexpr float kLever = 16.0f;
// Squared distance from body0's origin below which the pivot gives no pin.
constexpr float kMinPin2 = 0.001f;
// Squared length of p1 x p0 below which the second pin counts as parallel.
constexpr float kParallelPins2 = 0.001f;
// A speed that carries a limit further is counted 1.1 times above this.
constexpr float kLimitSpeed = 0.001f;
constexpr float kLimitSpeedFactor = 1.1f;
// Floor of the cone's cosine, so that acos stays finite.
constexpr float kMinConeCosine = -0.9999f;
// Squared length of G0 pin x G1 pin at or below which the pins count as
// opposite: the cone rows then take G0's row 1 as u (any axis across the
// pin will do; the cross product gives none).
constexpr float kOppositePins2 = 1.0e-8f;

dgVector axis3(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 0.0f);
}

dgVector unit(const dgVector& v) {
    return axis3(v).scale(1.0f / std::sqrt(v.dot(v)));
}

// The speed at Q along d that carries a limit further, with the margin.
float limitSpeed(const dgVector& d, const dgPointKinematics& q) {
    const float s = d.dot(q.m_veloc1 - q.m_veloc0);
    return (s > kLimitSpeed) ? kLimitSpeedFactor * s : s;
}

void oneSided(dgJointRowBlock& block, int32_t row, float rightHandSide) {
    block.bounds[row].lower = 0.0f;
    block.bounds[row].normalIndex = dgRowOneSided;
    block.rightHandSides[row] = rightHandSide;
}

}  // namespace

dgBallJoint::dgBallJoint() {
    reset();
    m_jointAngles = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    m_userCallback = nullptr;
    m_typeId = dgJointTypeBall;
    m_limitFlags = 0;
    m_maxRows = 6;
    m_coneLimit = kDefaultLimit;
    m_twistLimit = kDefaultLimit;
    m_coneCosine = std::cos(kDefaultLimit);
}

dgBallJoint::~dgBallJoint() = default;

void dgBallJoint::release() {
    DG_ASSERT(m_body0);
    // Read first: the callback may destroy the body.
    dgWorld* world = m_body0->m_world;
    dgBilateralJoint::release();
    world->m_ballPool.give(this);
}

void dgBallJoint::setPivot(const dgVector& pivot) {
    dgVector pin(axis3(pivot - m_body0->m_matrix.position));
    if (pin.dot(pin) < kMinPin2) {
        pin = m_body0->m_matrix.front;
    }
    setPinAndPivot(pivot, pin);
    dgMatrix g0;
    dgMatrix g1;
    calculateGlobalMatrices(g0, g1);
    setLimits(g0.front, -kDefaultLimit, kDefaultLimit, kDefaultLimit, g0.right);
}

void dgBallJoint::setLimits(const dgVector& p0, float minCone, float maxCone, float twist,
                            const dgVector& p1) {
    if (!(p0.dot(p0) > 0.0f)) {
        return;
    }
    const dgMatrix& matrix0 = m_body0->m_matrix;
    const dgVector pivot1(m_body1 ? m_body1->m_matrix.transformVector(m_localMatrix1.position)
                                  : m_localMatrix1.position);
    const dgVector pin(unit(p0));
    dgVector across(axis3(p1).cross(pin));
    if (across.dot(across) < kParallelPins2) {
        across = dgMatrixFromDirection(pin).up;
    }
    dgMatrix local;
    local.front = unit(matrix0.inverseRotateVector(pin));
    local.up = unit(matrix0.inverseRotateVector(across));
    local.right = local.front.cross(local.up);
    const dgVector position(matrix0.inverseTransformVector(pivot1));
    local.position = dgVector(position.x, position.y, position.z, 1.0f);

    m_twistLimit = std::fmin(std::fmax(twist, kMinLimit), kMaxTwist);
    m_coneLimit = std::fmin(std::fmax((maxCone - minCone) * 0.5f, kMinLimit), kMaxCone);
    m_coneCosine = std::cos(m_coneLimit);

    m_localMatrix0 = dgRotationMatrixX((minCone + maxCone) * 0.5f).multiply(local);
    const dgMatrix global(m_localMatrix0.multiply(matrix0));
    m_localMatrix1 = m_body1 ? global.multiply(m_body1->m_matrix.inverse()) : global;
}

int32_t dgBallJoint::submitRows(dgJointRowBlock& block) {
    if (m_userCallback) {
        m_userCallback(this);
    }
    dgMatrix g0;
    dgMatrix g1;
    const dgVector a(calculateGlobalMatrices(g0, g1));
    m_jointAngles = dgVector(-a.x, -a.y, -a.z, a.w);

    dgPointKinematics pivots;
    dgJointPointKinematics(this, g0.position, g1.position, m_stiffness, pivots);
    dgJointAddLinearRow(this, 0, block, g0.front, pivots, &m_rowForces[0]);
    dgJointAddLinearRow(this, 1, block, g0.up, pivots, &m_rowForces[1]);
    dgJointAddLinearRow(this, 2, block, g0.right, pivots, &m_rowForces[2]);
    int32_t n = 3;

    if (m_limitFlags & kTwistLimit) {
        float excess = 0.0f;
        dgVector direction;
        if (a.x > m_twistLimit) {
            direction = g0.right;
            excess = a.x - m_twistLimit;
        } else if (a.x < -m_twistLimit) {
            direction = g0.right.scale(-1.0f);
            excess = -m_twistLimit - a.x;
        }
        if (excess > 0.0f) {
            dgPointKinematics q;
            dgJointPointKinematics(this, g0.position + g0.up.scale(kLever), m_stiffness, q);
            dgJointAddLinearRow(this, n, block, direction, q, &m_rowForces[n]);
            oneSided(block, n, (kLever * excess + limitSpeed(direction, q)) * block.invTimestep);
            n++;
        }
    }

    const float cosine = g0.front.dot(g1.front);
    if ((m_limitFlags & kConeLimit) && (cosine < m_coneCosine)) {
        dgPointKinematics q;
        dgJointPointKinematics(this, g0.position + g0.front.scale(kLever), m_stiffness, q);
        dgVector u(g0.front.cross(g1.front));
        const float u2 = u.dot(u);
        u = (u2 > kOppositePins2) ? u.scale(1.0f / std::sqrt(u2 + 1.0e-8f)) : g0.up;
        dgJointAddLinearRow(this, n, block, u, q, &m_rowForces[n]);
        const dgVector w(u.cross(g0.front));
        const float angle = std::acos(std::fmax(cosine, kMinConeCosine));
        dgJointAddLinearRow(this, n + 1, block, w, q, &m_rowForces[n + 1]);
        oneSided(block, n + 1, (kLever * (angle - m_coneLimit) + limitSpeed(w, q)) * block.invTimestep);
        n += 2;
    }
    return n;
}

void dgBallJoint::setConeLimitFlag(bool on) {
    m_limitFlags = on ? (m_limitFlags | kConeLimit) : (m_limitFlags & ~kConeLimit);
}

void dgBallJoint::setTwistLimitFlag(bool on) {
    m_limitFlags = on ? (m_limitFlags | kTwistLimit) : (m_limitFlags & ~kTwistLimit);
}

void dgBallJoint::setSpareFlag(bool on) {
    m_limitFlags = on ? (m_limitFlags | kSpareFlag) : (m_limitFlags & ~kSpareFlag);
}

int32_t dgBallJoint::getConeLimitFlag() const {
    return (m_limitFlags & kConeLimit) ? 1 : 0;
}

int32_t dgBallJoint::getTwistLimitFlag() const {
    return (m_limitFlags & kTwistLimit) ? 1 : 0;
}

int32_t dgBallJoint::getSpareFlag() const {
    return (m_limitFlags & kSpareFlag) ? 1 : 0;
}

void dgBallJoint::setUserCallback(dgBallJointCallback callback) {
    m_userCallback = callback;
}

dgVector dgBallJoint::getJointAngles() const {
    return m_jointAngles;
}

dgVector dgBallJoint::getJointOmega() const {
    const dgMatrix& matrix0 = m_body0->m_matrix;
    dgVector omega(axis3(m_body0->m_omega));
    if (m_body1) {
        omega = omega - axis3(m_body1->m_omega);
    }
    return dgVector(matrix0.rotateVector(m_localMatrix0.front).dot(omega),
                    matrix0.rotateVector(m_localMatrix0.up).dot(omega),
                    matrix0.rotateVector(m_localMatrix0.right).dot(omega), 1.0f);
}

dgVector dgBallJoint::getJointForce() const {
    const dgMatrix g0(m_localMatrix0.multiply(m_body0->m_matrix));
    const float* f = m_rowForces;
    return g0.front.scale(f[0]) + g0.up.scale(f[1]) + g0.right.scale(f[2]);
}

dgBallJoint* dgWorldCreateBall(dgWorld* world, const dgVector& pivot, dgBody* body0, dgBody* body1) {
    return dgWorldCreatePooledJoint(world, world->m_ballPool, body0, body1, [&](dgBallJoint& joint) {
        joint.setPivot(pivot);
        return true;
    });
}

#include "dgBilateralJoint.h"

#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgMathUtils.h"

namespace {

// Largest |d.z| for which the second frame row is built from d.x and d.y.
constexpr float kDirectionSplit = 0.577f;
// Squared sine of the angle between two pins below which they count as
// parallel.
constexpr float kMinCrossRatio2 = 1.0e-6f;

dgVector normalised(const dgVector& v) {
    const float length = std::sqrt(v.dot(v));
    return dgVector(v.x / length, v.y / length, v.z / length, 0.0f);
}

dgMatrix frameAt(const dgVector& front, const dgVector& up, const dgVector& right, const dgVector& pivot) {
    return dgMatrix(front, up, right, dgVector(pivot.x, pivot.y, pivot.z, 1.0f));
}

}  // namespace

dgMatrix dgMatrixFromDirection(const dgVector& direction) {
    const dgVector front(direction.x, direction.y, direction.z, 0.0f);
    dgVector right;
    if (std::fabs(front.z) <= kDirectionSplit) {
        right = dgVector(-front.x * front.z, -front.y * front.z, front.x * front.x + front.y * front.y, 0.0f);
    } else {
        right = dgVector(-front.z * front.z, -front.y * front.z, front.x * front.z + front.y * front.y, 0.0f);
    }
    right = normalised(right);
    const dgVector up(right.cross(front));
    return dgMatrix(front, up, right, dgVector(0.0f, 0.0f, 0.0f, 1.0f));
}

dgBilateralJoint::dgBilateralJoint() {
    dgBilateralJoint::reset();
}

dgBilateralJoint::~dgBilateralJoint() = default;

void dgBilateralJoint::setDestructorCallback(dgConstraintDestructorCallback callback) {
    m_destructor = callback;
}

float dgBilateralJoint::getStiffness() const {
    return (5.0f - m_stiffness) * 0.25f;
}

void dgBilateralJoint::setStiffness(float stiffness) {
    float s = stiffness;
    if (!(s >= 0.0f)) {
        s = 0.0f;
    } else if (s > 1.0f) {
        s = 1.0f;
    }
    m_stiffness = 5.0f - 4.0f * s;
}

void dgBilateralJoint::reset() {
    resetHeader();
    m_destructor = nullptr;
    m_localMatrix0 = dgGetIdentityMatrix();
    m_localMatrix1 = dgGetIdentityMatrix();
    setStiffness(kDefaultStiffness);
    for (float& force : m_rowForces) {
        force = 0.0f;
    }
}

void dgBilateralJoint::release() {
    if (m_destructor) {
        m_destructor(this);
    }
}

bool dgBilateralJoint::isBilateral() const {
    return true;
}

void dgBilateralJoint::localFrames(const dgMatrix& global, dgMatrix& local0, dgMatrix& local1) const {
    DG_ASSERT(m_body0);
    const dgMatrix& matrix0 = m_body0->m_matrix;
    for (int32_t i = 0; i < 3; ++i) {
        const dgVector axis(matrix0.inverseRotateVector(global[i]));
        local0[i] = dgVector(axis.x, axis.y, axis.z, 0.0f);
    }
    const dgVector pivot(matrix0.inverseTransformVector(global.position));
    local0.position = dgVector(pivot.x, pivot.y, pivot.z, 1.0f);
    if (m_body1) {
        local1 = global.multiply(m_body1->m_matrix.inverse());
    } else {
        local1 = global;
    }
}

void dgBilateralJoint::calculateLocalMatrix(const dgVector& pivot, const dgVector& pin, dgMatrix& local0,
                                            dgMatrix& local1) const {
    dgMatrix global(dgMatrixFromDirection(normalised(pin)));
    global.position = dgVector(pivot.x, pivot.y, pivot.z, 1.0f);
    localFrames(global, local0, local1);
}

void dgBilateralJoint::setPinAndPivot(const dgVector& pivot, const dgVector& pin) {
    calculateLocalMatrix(pivot, pin, m_localMatrix0, m_localMatrix1);
}

void dgBilateralJoint::setPivotAndTwoPins(const dgVector& pivot, const dgVector& pin0, const dgVector& pin1) {
    const dgVector front(normalised(pin0));
    // A pin1 along pin0 (or none) leaves no plane to build the frame in: any
    // axis across pin0 does instead.
    dgVector across(front.cross(pin1));
    if (!(across.dot(across) > kMinCrossRatio2 * pin1.dot(pin1))) {
        across = front.cross(dgMatrixFromDirection(front).up);
    }
    const dgVector right(normalised(across));
    const dgVector up(normalised(right.cross(front)));
    localFrames(frameAt(front, up, right, pivot), m_localMatrix0, m_localMatrix1);
}

dgVector dgBilateralJoint::calculateGlobalMatrices(dgMatrix& global0, dgMatrix& global1) const {
    DG_ASSERT(m_body0);
    global0 = m_localMatrix0.multiply(m_body0->m_matrix);
    global1 = m_body1 ? m_localMatrix1.multiply(m_body1->m_matrix) : m_localMatrix1;
    dgVector angles;
    global1.multiply(global0.inverse()).getEulerAngles(angles);
    // Frames of a body far beyond the scale float rows carry overflow: such a
    // pose has no angle to give, and its joint reads 0 rather than NaN.
    if (!dgIsFinite3(angles)) {
        angles = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    return angles;
}

namespace {

float alongPin(const dgBilateralJoint* joint, const dgVector dgBody::*field) {
    const dgVector pin(joint->m_body0->m_matrix.rotateVector(joint->m_localMatrix0.front));
    float speed = pin.dot(joint->m_body0->*field);
    if (joint->m_body1) {
        speed -= pin.dot(joint->m_body1->*field);
    }
    return speed;
}

}  // namespace

float dgBilateralJoint::getPinVelocity() const {
    return alongPin(this, &dgBody::m_veloc);
}

float dgBilateralJoint::getPinOmega() const {
    return alongPin(this, &dgBody::m_omega);
}

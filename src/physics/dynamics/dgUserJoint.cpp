#include "dgUserJoint.h"

#include <algorithm>
#include <cmath>

#include "dgFlatInput.h"
#include "dgJointRows.h"
#include "dgMathUtils.h"
#include "dgMemory.h"
#include "dgTypes.h"
#include "dgWorld.h"

namespace {

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

// v / |v| with w 0, or false for a zero (or overflowing) length.
bool unitOf(const dgVector& v, dgVector& out) {
    const float length = std::sqrt(v.dot(v));
    if (!(length > 0.0f) || !std::isfinite(length)) {
        return false;
    }
    out = dgVector(v.x / length, v.y / length, v.z / length, 0.0f);
    return true;
}

}  // namespace

dgUserJoint::dgUserJoint(dgWorld* world, dgBody* body0, dgBody* body1, int32_t typeOffset, int32_t maxRows,
                         dgUserJointCallback callback)
    : dgUserJointBase(world, body0, body1, typeOffset),
      m_callback(callback),
      m_rowCount(0),
      m_rowForce(nullptr),
      m_rowBlock(nullptr),
      m_rowAngle(0.0f),
      m_pivot0(kZero),
      m_pivot1(kZero) {
    // The solver's block holds no more rows than this, whatever was asked.
    const int32_t rows = std::min(std::max(maxRows, 0), dgJointRowBlock::kMaxRows);
    m_maxRows = uint16_t(rows);
    if (rows <= kInlineRows) {
        m_rowForce = m_rowForces;
    } else {
        m_rowForce = static_cast<float*>(dgMalloc(size_t(rows) * sizeof(float)));
    }
    if (m_rowForce) {
        std::fill(m_rowForce, m_rowForce + rows, 0.0f);
    }
}

dgUserJoint::~dgUserJoint() {
    if (m_rowForce != m_rowForces) {
        dgFree(m_rowForce);
    }
}

int32_t dgUserJoint::submitRows(dgJointRowBlock& block) {
    m_rowCount = 0;
    if (m_callback) {
        m_rowBlock = &block;
        m_callback(this);
        m_rowBlock = nullptr;
    }
    return m_rowCount;
}

int32_t dgUserJoint::nextRow() const {
    return (m_rowBlock && (m_rowCount < int32_t(m_maxRows))) ? m_rowCount : -1;
}

void dgUserJoint::holdAcceleration(int32_t row) {
    float& acceleration = m_rowBlock->rightHandSides[row];
    acceleration = std::isfinite(acceleration) ? dgFlatClampAcceleration(acceleration) : 0.0f;
}

int32_t dgUserJoint::lastRow() const {
    return (m_rowBlock && (m_rowCount > 0)) ? (m_rowCount - 1) : -1;
}

bool dgUserJoint::addLinearRow(const dgVector& pivot0, const dgVector& pivot1, const dgVector& direction) {
    const int32_t row = nextRow();
    dgVector d;
    if ((row < 0) || !dgFlatWithinScale(&pivot0.x, 3) || !dgFlatWithinScale(&pivot1.x, 3) || !dgIsFinite3(direction) ||
        !unitOf(direction, d)) {
        return false;
    }
    dgPointKinematics kinematics;
    dgJointPointKinematics(this, pivot0, pivot1, m_stiffness, kinematics);
    dgJointAddLinearRow(this, row, *m_rowBlock, d, kinematics, &m_rowForce[row]);
    holdAcceleration(row);
    m_rowAngle = 0.0f;
    m_pivot0 = kinematics.m_point0;
    m_pivot1 = kinematics.m_point1;
    m_rowCount++;
    return true;
}

bool dgUserJoint::addAngularRow(float angle, const dgVector& pin) {
    const int32_t row = nextRow();
    dgVector axis;
    if ((row < 0) || !std::isfinite(angle) || !dgIsFinite3(pin) || !unitOf(pin, axis)) {
        return false;
    }
    dgJointAddAngularRow(this, row, *m_rowBlock, axis, m_stiffness, angle, &m_rowForce[row]);
    holdAcceleration(row);
    m_rowAngle = angle;
    m_pivot0 = kZero;
    m_pivot1 = kZero;
    m_rowCount++;
    return true;
}

bool dgUserJoint::addGeneralRow(const float* jacobian0, const float* jacobian1) {
    const int32_t row = nextRow();
    // A Jacobian's angular part is a lever arm: held to the world's scale.
    if ((row < 0) || !dgFlatWithinScale(jacobian0, 6) || !dgFlatWithinScale(jacobian1, 6)) {
        return false;
    }
    dgJointAddGeneralRow(this, row, *m_rowBlock, jacobian0, jacobian1, &m_rowForce[row]);
    m_rowAngle = 0.0f;
    m_pivot0 = kZero;
    m_pivot1 = kZero;
    m_rowCount++;
    return true;
}

void dgUserJoint::setRowAcceleration(float acceleration) {
    const int32_t row = lastRow();
    if ((row >= 0) && std::isfinite(acceleration)) {
        m_rowBlock->rightHandSides[row] = dgFlatClampAcceleration(acceleration);
    }
}

void dgUserJoint::setRowSpringDamperAcceleration(float spring, float damper) {
    const int32_t row = lastRow();
    if ((row < 0) || !std::isfinite(spring) || !std::isfinite(damper)) {
        return;
    }
    const float* linear0 = m_rowBlock->jacobians[row];
    const float error = m_rowAngle + (m_pivot1.x - m_pivot0.x) * linear0[0] +
                        (m_pivot1.y - m_pivot0.y) * linear0[1] + (m_pivot1.z - m_pivot0.z) * linear0[2];
    const float acceleration = dgJointSpringDamperAcceleration(this, row, *m_rowBlock, error, spring, damper);
    // Huge constants can overflow the implicit form.
    if (std::isfinite(acceleration)) {
        m_rowBlock->rightHandSides[row] = dgFlatClampAcceleration(acceleration);
    }
}

void dgUserJoint::setRowMinimumFriction(float value) {
    const int32_t row = lastRow();
    if ((row >= 0) && std::isfinite(value)) {
        m_rowBlock->bounds[row].upper = dgClamp(value, kMinFriction, dgJointRowMaxBound);
        m_rowBlock->bounds[row].normalIndex = dgRowBounded;
    }
}

void dgUserJoint::setRowMaximumFriction(float value) {
    const int32_t row = lastRow();
    if ((row >= 0) && std::isfinite(value)) {
        m_rowBlock->bounds[row].lower = dgClamp(value, -dgJointRowMaxBound, -kMinFriction);
        m_rowBlock->bounds[row].normalIndex = dgRowBounded;
    }
}

void dgUserJoint::setRowStiffness(float stiffness) {
    const int32_t row = lastRow();
    if ((row >= 0) && std::isfinite(stiffness)) {
        m_rowBlock->regularisers[row] = kSoftRow - (kSoftRow - 1.0f) * dgClamp(stiffness, 0.0f, 1.0f);
    }
}

float dgUserJoint::getRowForce(int32_t row) const {
    return ((row >= 0) && (row < m_rowCount) && m_rowForce) ? m_rowForce[row] : 0.0f;
}

dgUserJoint* dgWorldCreateUserJoint(dgWorld* world, int32_t maxRows, dgUserJointCallback callback,
                                    dgBody* body0, dgBody* body1) {
    dgUserJoint* joint = dgUserJointBase::create<dgUserJoint>(world, body0, body1, 0, maxRows, callback);
    if (joint && !joint->m_rowForce) {
        dgWorldDestroyConstraint(world, joint);
        return nullptr;
    }
    return joint;
}

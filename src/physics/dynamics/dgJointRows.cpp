#include "dgJointRows.h"

#include "dgAssert.h"
#include "dgBody.h"
#include "dgConstraint.h"

namespace {

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

dgVector direction3(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 0.0f);
}

void writePart(float* out, const dgVector& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
    out[3] = 0.0f;
}

void writeJacobian(dgJointRowBlock& block, int32_t row, const dgVector& linear0, const dgVector& angular0,
                   const dgVector& linear1, const dgVector& angular1) {
    float* jacobian = block.jacobians[row];
    writePart(jacobian + 0, linear0);
    writePart(jacobian + 4, angular0);
    writePart(jacobian + 8, linear1);
    writePart(jacobian + 12, angular1);
}

// (k rate + spring error) / (k h + 1) with k = h spring + damper.
float implicitSpring(float h, float error, float rate, float spring, float damper) {
    const float k = h * spring + damper;
    return (k * rate + spring * error) / (k * h + 1.0f);
}

// (rate + s error / h) / h: the acceleration that takes the rate out and
// closes the share s of the error over the step.
float closingAcceleration(float h, float error, float rate) {
    return (rate + dgJointErrorShare * error / h) / h;
}

float dotPart(const float* part, const dgVector& v) {
    return part[0] * v.x + part[1] * v.y + part[2] * v.z;
}

}  // namespace

bool dgJointRowAccepted(const dgConstraint* joint, int32_t row) {
    const bool accepted = (row >= 0) && (row < dgJointRowBlock::kMaxRows) && (row < int32_t(joint->m_maxRows));
    DG_ASSERT(accepted);
    return accepted;
}

void dgJointPointKinematics(const dgConstraint* joint, const dgVector& point0, const dgVector& point1,
                            float stiffness, dgPointKinematics& out) {
    const dgBody* body0 = joint->m_body0;
    const dgBody* body1 = joint->m_body1;
    out.m_point0 = direction3(point0);
    out.m_point1 = direction3(point1);
    out.m_r0 = direction3(point0.sub(body0->m_globalCentreOfMass));
    const dgVector omega0(direction3(body0->m_omega));
    out.m_veloc0 = direction3(body0->m_veloc).add(omega0.cross(out.m_r0));
    out.m_centripetal0 = omega0.cross(omega0.cross(out.m_r0));
    if (body1) {
        out.m_r1 = direction3(point1.sub(body1->m_globalCentreOfMass));
        const dgVector omega1(direction3(body1->m_omega));
        out.m_veloc1 = direction3(body1->m_veloc).add(omega1.cross(out.m_r1));
        out.m_centripetal1 = omega1.cross(omega1.cross(out.m_r1));
    } else {
        out.m_r1 = kZero;
        out.m_veloc1 = kZero;
        out.m_centripetal1 = kZero;
    }
    out.m_stiffness = stiffness;
}

void dgJointPointKinematics(const dgConstraint* joint, const dgVector& point, float stiffness,
                            dgPointKinematics& out) {
    dgJointPointKinematics(joint, point, point, stiffness, out);
}

void dgJointSetLinearJacobian(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                              const dgVector& direction, const dgPointKinematics& kinematics) {
    const dgVector d(direction3(direction));
    if (joint->m_body1) {
        writeJacobian(block, row, d, kinematics.m_r0.cross(d), d.scale(-1.0f), d.cross(kinematics.m_r1));
    } else {
        writeJacobian(block, row, d, kinematics.m_r0.cross(d), kZero, kZero);
    }
}

bool dgJointAddGeneralRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                          const float* jacobian0, const float* jacobian1, float* forceSlot) {
    if (!dgJointRowAccepted(joint, row)) {
        return false;
    }
    writeJacobian(block, row, dgVector(jacobian0[0], jacobian0[1], jacobian0[2], 0.0f),
                  dgVector(jacobian0[3], jacobian0[4], jacobian0[5], 0.0f),
                  dgVector(jacobian1[0], jacobian1[1], jacobian1[2], 0.0f),
                  dgVector(jacobian1[3], jacobian1[4], jacobian1[5], 0.0f));
    block.rightHandSides[row] = 0.0f;
    block.regularisers[row] = 1.0f;
    block.bounds[row].forceSlot = forceSlot;
    return true;
}

bool dgJointAddLinearRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                         const dgVector& direction, const dgPointKinematics& kinematics, float* forceSlot) {
    if (!dgJointRowAccepted(joint, row)) {
        return false;
    }
    dgJointSetLinearJacobian(joint, row, block, direction, kinematics);
    const float error = kinematics.m_point1.sub(kinematics.m_point0).dot(direction);
    const float rate = kinematics.m_veloc1.sub(kinematics.m_veloc0).dot(direction);
    block.rightHandSides[row] = closingAcceleration(block.timestep, error, rate);
    block.regularisers[row] = kinematics.m_stiffness;
    block.bounds[row].forceSlot = forceSlot;
    return true;
}

bool dgJointAddAngularRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block, const dgVector& pin,
                          float stiffness, float angleError, float* forceSlot) {
    if (!dgJointRowAccepted(joint, row)) {
        return false;
    }
    const dgVector axis(direction3(pin));
    float relativeOmega = -axis.dot(joint->m_body0->m_omega);
    if (joint->m_body1) {
        writeJacobian(block, row, kZero, axis, kZero, axis.scale(-1.0f));
        relativeOmega += axis.dot(joint->m_body1->m_omega);
    } else {
        writeJacobian(block, row, kZero, axis, kZero, kZero);
    }
    block.rightHandSides[row] = closingAcceleration(block.timestep, angleError, relativeOmega);
    block.regularisers[row] = stiffness;
    block.bounds[row].forceSlot = forceSlot;
    return true;
}

bool dgJointAddPinRows(const dgConstraint* joint, int32_t row, dgJointRowBlock& block, const dgMatrix& g0,
                       const dgMatrix& g1, float stiffness, float* forceSlots) {
    const dgVector tilt(g0.front.cross(g1.front));
    return dgJointAddAngularRow(joint, row, block, g0.up, stiffness, tilt.dot(g0.up), &forceSlots[0]) &&
           dgJointAddAngularRow(joint, row + 1, block, g0.right, stiffness, tilt.dot(g0.right), &forceSlots[1]);
}

float dgJointSpringDamperAcceleration(const dgConstraint* joint, int32_t row, const dgJointRowBlock& block,
                                      float error, float spring, float damper) {
    DG_ASSERT((row >= 0) && (row < dgJointRowBlock::kMaxRows));
    const float* jacobian = block.jacobians[row];
    const dgBody* body0 = joint->m_body0;
    float approach = dotPart(jacobian + 0, body0->m_veloc) + dotPart(jacobian + 4, body0->m_omega);
    if (joint->m_body1) {
        approach += dotPart(jacobian + 8, joint->m_body1->m_veloc) + dotPart(jacobian + 12, joint->m_body1->m_omega);
    }
    return implicitSpring(block.timestep, error, -approach, spring, damper);
}

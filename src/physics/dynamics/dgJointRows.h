// The row builders every joint class calls from its submitRows, and the point
// kinematics they share with the contact rows.
//
// Sign convention of every row: the Jacobian of a row along direction d is
// (d, r0 x d) for body0 and (-d, d x r1) for body1, so J . velocities is the
// rate at which the point on body0 gains on the point on body1 along d, that
// is minus the rate of the error e = (point on body1 - point on body0) . d.
// A positive right-hand side therefore accelerates body0 along +d and body1
// along -d, closing a positive error: spring terms enter the right-hand side
// with a plus sign.
//
// What a positional row asks for: the step moves each body by h times the
// velocity it ends with, so a row that wants its error e (rate v) gone by a
// share s of it at the end of the step asks for the relative acceleration
//     (v + s e / h) / h,
// which takes the whole rate out and closes s e over the step. The turn of
// the points' paths over the step (the centripetal term) is left to the next
// step's error, measured on the pose it produced. Asked for ahead, the whole
// term moves a point twice the h^2 c / 2 the position step gives it (a
// swinging pivot sits centimetres inside its arc, where the tension works
// on the body), and even half of it, taken with the speeds the step starts
// with, feeds energy into a fast swing; left to the error it costs a swing
// a little energy and a few millimetres. The share is a half: a whole one
// snaps a large error shut with a speed the next step must take out again.
//
// Every builder refuses a row index outside [0, min(kMaxRows, max rows of
// the joint)): the solver resets only the first max-rows bound records, and
// the block holds no more than kMaxRows. A refused row is a broken caller
// (asserted); in release nothing is written and the builder returns false.
#pragma once

#include <cstdint>

#include "dgJointRowBlock.h"
#include "dgMatrix.h"
#include "dgVector.h"

class dgConstraint;

// Share of its error a positional or angular row closes over one step.
constexpr float dgJointErrorShare = 0.5f;
// The open bound the solver resets the bound records to.
constexpr float dgJointRowMaxBound = 1.0e15f;

// A world point on each body of a joint (the same point for a contact) and
// how it moves. All vectors world space, w = 0.
struct dgPointKinematics {
    dgVector m_point0;
    dgVector m_point1;
    // Lever arms from each body's global centre of mass to its point; r1 is
    // zero without body1.
    dgVector m_r0;
    dgVector m_r1;
    // Velocity of each point as part of its body: v + w x r.
    dgVector m_veloc0;
    dgVector m_veloc1;
    // Centripetal acceleration of each point: w x (w x r).
    dgVector m_centripetal0;
    dgVector m_centripetal1;
    // The regulariser a linear row built from this record takes.
    float m_stiffness;
};

// True when row may be written for joint; asserts otherwise.
bool dgJointRowAccepted(const dgConstraint* joint, int32_t row);

// Kinematics of point0 on body0 and point1 on body1 (the static world when
// body1 is null: zero velocity and centripetal term).
void dgJointPointKinematics(const dgConstraint* joint, const dgVector& point0, const dgVector& point1,
                            float stiffness, dgPointKinematics& out);
// The same point on both bodies.
void dgJointPointKinematics(const dgConstraint* joint, const dgVector& point, float stiffness,
                            dgPointKinematics& out);

// Writes row's Jacobian along d: (d, r0 x d) for body0, (-d, d x r1) for body1
// (zero without body1); fourth components 0. No check of the row index.
void dgJointSetLinearJacobian(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                              const dgVector& direction, const dgPointKinematics& kinematics);

// Two six-float Jacobians (linear x, y, z then angular x, y, z) for body0 and
// body1; right-hand side 0, regulariser 1, the given force slot.
bool dgJointAddGeneralRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                          const float* jacobian0, const float* jacobian1, float* forceSlot);

// A positional row along the unit direction d: with e and v the error and
// its rate along d, h the timestep and s = dgJointErrorShare, the
// right-hand side is (v + s e / h) / h. Regulariser: the record's stiffness
// value.
bool dgJointAddLinearRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                         const dgVector& direction, const dgPointKinematics& kinematics, float* forceSlot);

// An angular row about the unit pin: angular parts pin for body0 and -pin for
// body1 (0 without body1). angleError is the angle of body1's frame past
// body0's about the pin; with w = (omega1 - omega0) . pin the right-hand side
// is (w + s angleError / h) / h as for the positional row. Regulariser: the
// stiffness value.
bool dgJointAddAngularRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block, const dgVector& pin,
                          float stiffness, float angleError, float* forceSlot);

// Two angular rows, row and row + 1, about the joint frame g0's rows 1 and 2
// that keep g1's pin (row 0) along g0's: the error about each axis is
// (g0 pin x g1 pin) . axis, the angle g1's pin has turned past g0's about
// it. Force slots forceSlots[0] and forceSlots[1].
bool dgJointAddPinRows(const dgConstraint* joint, int32_t row, dgJointRowBlock& block, const dgMatrix& g0,
                       const dgMatrix& g1, float stiffness, float* forceSlots);

// The acceleration a spring-damper row (already holding its Jacobian) asks
// for: with u = -(J . velocities), the rate of the row's error, h the
// timestep and k = h spring + damper,
//     (k u + spring error) / (k h + 1),
// the implicit-Euler spring. error is in the sense of the linear row's e
// (body1 past body0 along the row). Spring and damper are taken as given.
float dgJointSpringDamperAcceleration(const dgConstraint* joint, int32_t row, const dgJointRowBlock& block,
                                      float error, float spring, float damper);

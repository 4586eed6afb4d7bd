// The arithmetic of the row operations, one struct per variant. The control
// flow (grouping, ratio test, rows leaving the free set) is shared in
// dgSolverRows; these loops are where the variants differ. Both variants
// compute the same operations in the same order; only the summation order of
// reductions may differ (the SIMD one sums four lanes, then the lanes).
#pragma once

#include <algorithm>
#include <cfloat>
#include <cstdint>

#include "dgConstraintSolver.h"

// The end of one row's set-up, alike in both variants: b -= what the bodies'
// force and torque already do along the row; regulariser term r d and
// inverse diagonal 1 / ((1 + r) d) with r = factor x 0.001; both 0 for a row
// whose d is not positive or whose inverse would not be finite (the solve
// leaves it out).
inline void dgSolverFinishRow(dgConstraintSolver* s, int32_t i, float diagonal, float external) {
    s->m_rightHandSide[i] -= external;
    const float r = s->m_regulariser[i] * 0.001f;
    const float denominator = (r + 1.0f) * diagonal;
    float invDiagonal = 0.0f;
    float term = 0.0f;
    if ((diagonal > 0.0f) && (denominator > 0.0f)) {
        invDiagonal = 1.0f / denominator;
        term = r * diagonal;
    }
    if (!(invDiagonal <= FLT_MAX)) {
        invDiagonal = 0.0f;
        term = 0.0f;
    }
    s->m_regulariser[i] = term;
    s->m_invDiagonal[i] = invDiagonal;
}

// The row loops share one pass over the rows where the operations allow it;
// each sum is still taken in the order the separate loops took it (the dot
// of a multiply's input and output is the same sum a dot product over the
// two would give), so fusing changes no result.
struct dgScalarSolverKernels {
    // Mass-weighted Jacobians, inverse diagonal, regulariser term and b of
    // rows [0, n).
    static void setupRows(dgConstraintSolver* solver, int32_t rowCount);
    // y = A x over rows [0, n); returns x . y.
    static float multiply(dgConstraintSolver* solver, int32_t rowCount, const float* x, float* y);
    // residual = b - product; returns the largest |residual|.
    static float residual(dgConstraintSolver* solver, int32_t rowCount);
    // direction = residual x inverse diagonal; returns rho = sum of residual x
    // direction, the largest |residual| in `largest`.
    static float precondition(dgConstraintSolver* solver, int32_t rowCount, float& largest);
    // force += alpha direction, residual -= alpha product; returns the largest
    // |residual|, and in rhoNext the sum of residual x (residual x inverse
    // diagonal) of the new residuals.
    static float step(dgConstraintSolver* solver, int32_t rowCount, float alpha, float& rhoNext);
    // The step, then the direction restarted from the new residuals as
    // precondition makes it; returns its rho, the largest |residual| in
    // `largest`.
    static float stepAndRestart(dgConstraintSolver* solver, int32_t rowCount, float alpha, float& largest);
    // direction = residual x inverse diagonal + beta direction.
    static void direction(dgConstraintSolver* solver, int32_t rowCount, float beta);
    // The ratio test of a step alpha along the direction over rows [0, n),
    // rows in order: a row whose force would pass its bound (direction
    // beyond +-1e-16) cuts alpha to reach it and becomes the limiting row;
    // the test stops at the first alpha below tinyStep. Returns the limiting
    // row (-1 for none) with alpha and its bound in limitValue.
    static int32_t ratioTest(const dgConstraintSolver* solver, int32_t rowCount, float tinyStep, float& alpha,
                             float& limitValue);
    // Projected Gauss-Seidel sweeps over rows [0, n), in row order, from the
    // current forces: each row takes the force that zeroes its residual
    // (through per-slot accumulators of J f kept up to date), clamped to its
    // bounds; a friction row's bounds are its limits scaled from the normal
    // force they were set for (m_frictionThreshold) to its normal row's
    // force now.
    static void projectedSweeps(dgConstraintSolver* solver, int32_t rowCount, int32_t sweeps);
    // Adds f x J of rows [0, n) to the bodies' force and torque.
    static void applyForces(dgConstraintSolver* solver, int32_t rowCount);
};

// The same operations on packed four-float registers.
struct dgSimdSolverKernels {
    static void setupRows(dgConstraintSolver* solver, int32_t rowCount);
    static float multiply(dgConstraintSolver* solver, int32_t rowCount, const float* x, float* y);
    static float residual(dgConstraintSolver* solver, int32_t rowCount);
    static float precondition(dgConstraintSolver* solver, int32_t rowCount, float& largest);
    static float step(dgConstraintSolver* solver, int32_t rowCount, float alpha, float& rhoNext);
    static float stepAndRestart(dgConstraintSolver* solver, int32_t rowCount, float alpha, float& largest);
    static void direction(dgConstraintSolver* solver, int32_t rowCount, float beta);
    static int32_t ratioTest(const dgConstraintSolver* solver, int32_t rowCount, float tinyStep, float& alpha,
                             float& limitValue);
    static void projectedSweeps(dgConstraintSolver* solver, int32_t rowCount, int32_t sweeps);
    static void applyForces(dgConstraintSolver* solver, int32_t rowCount);
};

// What a row's bounds are multiplied by in the projected sweeps, alike in
// both variants: 1, or for a friction row (whose bounds the sweeps' set-up
// made coefficients and whose normal index the normal row's place) the
// normal row's force now.
inline float dgSolverSweepScale(const float* force, const dgJointRowBound& bound) {
    const float normal = std::max(force[std::max(bound.normalIndex, 0)], 0.0f);
    return (bound.normalIndex >= 0) ? normal : 1.0f;
}

// The order of the projected sweeps, alike in both variants: row k of each
// quarter of the rows in turn. Rows next to each other mostly belong to one
// joint and share its bodies, so each waits for the one before; rows a
// quarter apart seldom do, and the processor works on four at once.
template <class F>
inline void dgSolverSweepOrder(int32_t rowCount, F&& f) {
    const int32_t quarter = (rowCount + 3) / 4;
    for (int32_t k = 0; k < quarter; k++) {
        for (int32_t i = k; i < rowCount; i += quarter) {
            f(i);
        }
    }
}

// One row of the ratio test, alike in both variants: true when row i would
// pass a bound at the current alpha, which is then cut to reach it.
inline bool dgSolverRatioRow(const dgConstraintSolver* s, int32_t i, float& alpha, float& limitValue) {
    const float p = s->m_direction[i];
    const float reached = s->m_force[i] + alpha * p;
    const dgJointRowBound& bound = s->m_bounds[i];
    // Both tests are worked out and joined without branching: the sign of a
    // direction is a coin toss to a branch predictor, and a row seldom
    // reaches a bound.
    const bool atLower = (p < -1.0e-16f) & (reached <= bound.lower);
    const bool atUpper = (p > 1.0e-16f) & (reached >= bound.upper);
    if (!(atLower | atUpper)) {
        return false;
    }
    limitValue = atLower ? bound.lower : bound.upper;
    alpha = (limitValue - s->m_force[i]) / p;
    return true;
}

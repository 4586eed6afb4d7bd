// The arithmetic of the row operations, one struct per variant. The control
// flow (grouping, ratio test, rows leaving the free set) is shared in
// dgSolverRows; these loops are where the variants differ. Both variants
// compute the same operations in the same order; only the summation order of
// reductions may differ (the SIMD one sums four lanes, then the lanes).
#pragma once

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

struct dgScalarSolverKernels {
    // Mass-weighted Jacobians, inverse diagonal, regulariser term and b of
    // rows [0, n).
    static void setupRows(dgConstraintSolver* solver, int32_t rowCount);
    // y = A x over rows [0, n).
    static void multiply(dgConstraintSolver* solver, int32_t rowCount, const float* x, float* y);
    // residual = b - product; returns the largest |residual|.
    static float residual(dgConstraintSolver* solver, int32_t rowCount);
    // direction = residual x inverse diagonal; returns rho = sum of residual x
    // direction, the largest |residual| in `largest`.
    static float precondition(dgConstraintSolver* solver, int32_t rowCount, float& largest);
    static float dot(int32_t rowCount, const float* a, const float* b);
    // force += alpha direction, residual -= alpha product; returns the largest
    // |residual|.
    static float step(dgConstraintSolver* solver, int32_t rowCount, float alpha);
    // Sum of residual x (residual x inverse diagonal).
    static float rho(dgConstraintSolver* solver, int32_t rowCount);
    // direction = residual x inverse diagonal + beta direction.
    static void direction(dgConstraintSolver* solver, int32_t rowCount, float beta);
    // Adds f x J of rows [0, n) to the bodies' force and torque.
    static void applyForces(dgConstraintSolver* solver, int32_t rowCount);
};

// The same operations on packed four-float registers.
struct dgSimdSolverKernels {
    static void setupRows(dgConstraintSolver* solver, int32_t rowCount);
    static void multiply(dgConstraintSolver* solver, int32_t rowCount, const float* x, float* y);
    static float residual(dgConstraintSolver* solver, int32_t rowCount);
    static float precondition(dgConstraintSolver* solver, int32_t rowCount, float& largest);
    static float dot(int32_t rowCount, const float* a, const float* b);
    static float step(dgConstraintSolver* solver, int32_t rowCount, float alpha);
    static float rho(dgConstraintSolver* solver, int32_t rowCount);
    static void direction(dgConstraintSolver* solver, int32_t rowCount, float beta);
    static void applyForces(dgConstraintSolver* solver, int32_t rowCount);
};

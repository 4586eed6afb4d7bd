// Row loops of the scalar variant, unrolled by four. Every reduction runs in
// row order, so the unrolling changes no result.
#include <cfloat>
#include <cmath>

#include "dgConstraintSolver.h"
#include "dgSolverKernels.h"

namespace {

template <class F>
inline void forRows(int32_t rowCount, F&& f) {
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        f(i);
        f(i + 1);
        f(i + 2);
        f(i + 3);
    }
    for (; i < rowCount; i++) {
        f(i);
    }
}

}  // namespace

void dgScalarSolverKernels::setupRows(dgConstraintSolver* s, int32_t rowCount) {
    forRows(rowCount, [s](int32_t i) {
        const dgSolverBodyPair pair = s->m_bodyPairs[i];
        const dgBody* const body0 = s->m_bodies[pair.body0];
        const dgBody* const body1 = s->m_bodies[pair.body1];
        const dgSolverJacobian& jacobian = s->m_jacobians[i];
        dgSolverJacobian& weighted = s->m_weightedJacobians[i];
        weighted.linear0 = jacobian.linear0.scale(body0->m_invMass.w);
        weighted.angular0 = s->m_invInertia[pair.body0].rotateVector(jacobian.angular0);
        weighted.linear1 = jacobian.linear1.scale(body1->m_invMass.w);
        weighted.angular1 = s->m_invInertia[pair.body1].rotateVector(jacobian.angular1);

        const float diagonal =
            jacobian.linear0.dot(weighted.linear0) + jacobian.angular0.dot(weighted.angular0) +
            jacobian.linear1.dot(weighted.linear1) + jacobian.angular1.dot(weighted.angular1);
        const float external = weighted.linear0.dot(body0->m_force) + weighted.angular0.dot(body0->m_torque) +
                               weighted.linear1.dot(body1->m_force) + weighted.angular1.dot(body1->m_torque);
        dgSolverFinishRow(s, i, diagonal, external);
    });
}

float dgScalarSolverKernels::multiply(dgConstraintSolver* s, int32_t rowCount, const float* x, float* y) {
    dgVector* const acc = s->m_accumulators;
    const dgVector zero(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t slot = 0; slot < 2 * s->m_bodyCount; slot++) {
        acc[slot] = zero;
    }
    // Over a run of rows of one body pair (a joint's rows follow each other)
    // the four sums are kept in locals, added to in the same order as through
    // the accumulators.
    const dgSolverBodyPair* const pairs = s->m_bodyPairs;
    for (int32_t i = 0; i < rowCount;) {
        const dgSolverBodyPair pair = pairs[i];
        if (pair.body0 == pair.body1) {
            // Both sides on one slot: each side adds to what the other left.
            const dgSolverJacobian& jacobian = s->m_jacobians[i];
            const float f = x[i];
            acc[2 * pair.body0] += jacobian.linear0.scale(f);
            acc[2 * pair.body0 + 1] += jacobian.angular0.scale(f);
            acc[2 * pair.body1] += jacobian.linear1.scale(f);
            acc[2 * pair.body1 + 1] += jacobian.angular1.scale(f);
            i++;
            continue;
        }
        dgVector l0(acc[2 * pair.body0]);
        dgVector a0(acc[2 * pair.body0 + 1]);
        dgVector l1(acc[2 * pair.body1]);
        dgVector a1(acc[2 * pair.body1 + 1]);
        do {
            const dgSolverJacobian& jacobian = s->m_jacobians[i];
            const float f = x[i];
            l0 += jacobian.linear0.scale(f);
            a0 += jacobian.angular0.scale(f);
            l1 += jacobian.linear1.scale(f);
            a1 += jacobian.angular1.scale(f);
            i++;
        } while ((i < rowCount) && (pairs[i].body0 == pair.body0) && (pairs[i].body1 == pair.body1));
        acc[2 * pair.body0] = l0;
        acc[2 * pair.body0 + 1] = a0;
        acc[2 * pair.body1] = l1;
        acc[2 * pair.body1 + 1] = a1;
    }
    float dot = 0.0f;
    forRows(rowCount, [s, acc, x, y, &dot](int32_t i) {
        const dgSolverBodyPair pair = s->m_bodyPairs[i];
        const dgSolverJacobian& weighted = s->m_weightedJacobians[i];
        y[i] = weighted.linear0.dot(acc[2 * pair.body0]) + weighted.angular0.dot(acc[2 * pair.body0 + 1]) +
               weighted.linear1.dot(acc[2 * pair.body1]) + weighted.angular1.dot(acc[2 * pair.body1 + 1]) +
               s->m_regulariser[i] * x[i];
        dot += x[i] * y[i];
    });
    return dot;
}

float dgScalarSolverKernels::residual(dgConstraintSolver* s, int32_t rowCount) {
    float largest = 0.0f;
    forRows(rowCount, [s, &largest](int32_t i) {
        const float r = s->m_rightHandSide[i] - s->m_product[i];
        s->m_residual[i] = r;
        largest = std::fmax(largest, std::fabs(r));
    });
    return largest;
}

float dgScalarSolverKernels::precondition(dgConstraintSolver* s, int32_t rowCount, float& largest) {
    float rho = 0.0f;
    largest = 0.0f;
    forRows(rowCount, [s, &rho, &largest](int32_t i) {
        const float r = s->m_residual[i];
        const float z = r * s->m_invDiagonal[i];
        s->m_direction[i] = z;
        rho += r * z;
        largest = std::fmax(largest, std::fabs(r));
    });
    return rho;
}

float dgScalarSolverKernels::step(dgConstraintSolver* s, int32_t rowCount, float alpha, float& rhoNext) {
    float largest = 0.0f;
    float rho = 0.0f;
    forRows(rowCount, [s, alpha, &largest, &rho](int32_t i) {
        s->m_force[i] += alpha * s->m_direction[i];
        const float r = s->m_residual[i] - alpha * s->m_product[i];
        s->m_residual[i] = r;
        largest = std::fmax(largest, std::fabs(r));
        rho += r * (r * s->m_invDiagonal[i]);
    });
    rhoNext = rho;
    return largest;
}

float dgScalarSolverKernels::stepAndRestart(dgConstraintSolver* s, int32_t rowCount, float alpha, float& largest) {
    float rho = 0.0f;
    largest = 0.0f;
    forRows(rowCount, [s, alpha, &rho, &largest](int32_t i) {
        s->m_force[i] += alpha * s->m_direction[i];
        const float r = s->m_residual[i] - alpha * s->m_product[i];
        s->m_residual[i] = r;
        const float z = r * s->m_invDiagonal[i];
        s->m_direction[i] = z;
        rho += r * z;
        largest = std::fmax(largest, std::fabs(r));
    });
    return rho;
}

int32_t dgScalarSolverKernels::ratioTest(const dgConstraintSolver* s, int32_t rowCount, float tinyStep,
                                         float& alpha, float& limitValue) {
    int32_t limiting = -1;
    for (int32_t i = 0; i < rowCount; i++) {
        if (dgSolverRatioRow(s, i, alpha, limitValue)) {
            limiting = i;
            if (alpha < tinyStep) {
                break;
            }
        }
    }
    return limiting;
}

void dgScalarSolverKernels::direction(dgConstraintSolver* s, int32_t rowCount, float beta) {
    forRows(rowCount, [s, beta](int32_t i) {
        s->m_direction[i] = s->m_residual[i] * s->m_invDiagonal[i] + beta * s->m_direction[i];
    });
}

void dgScalarSolverKernels::projectedSweeps(dgConstraintSolver* s, int32_t rowCount, int32_t sweeps) {
    dgVector* const acc = s->m_accumulators;
    const dgVector zero(0.0f, 0.0f, 0.0f, 0.0f);
    for (int32_t slot = 0; slot < 2 * s->m_bodyCount; slot++) {
        acc[slot] = zero;
    }
    const dgSolverBodyPair* const pairs = s->m_bodyPairs;
    const dgJointRowBound* const bounds = s->m_bounds;
    float* const force = s->m_force;
    // The four accumulators of a row's two slots take f J.
    auto add = [s, acc, pairs](int32_t i, float f) {
        const dgSolverBodyPair pair = pairs[i];
        const dgSolverJacobian& jacobian = s->m_jacobians[i];
        acc[2 * pair.body0] += jacobian.linear0.scale(f);
        acc[2 * pair.body0 + 1] += jacobian.angular0.scale(f);
        acc[2 * pair.body1] += jacobian.linear1.scale(f);
        acc[2 * pair.body1 + 1] += jacobian.angular1.scale(f);
    };
    for (int32_t i = 0; i < rowCount; i++) {
        add(i, force[i]);
    }
    for (int32_t sweep = 0; sweep < sweeps; sweep++) {
        dgSolverSweepOrder(rowCount, [&](int32_t i) {
            const dgSolverBodyPair pair = pairs[i];
            const dgSolverJacobian& w = s->m_weightedJacobians[i];
            const float f = force[i];
            const float y = w.linear0.dot(acc[2 * pair.body0]) + w.angular0.dot(acc[2 * pair.body0 + 1]) +
                            w.linear1.dot(acc[2 * pair.body1]) + w.angular1.dot(acc[2 * pair.body1 + 1]) +
                            s->m_regulariser[i] * f;
            const dgJointRowBound& bound = bounds[i];
            const float scale = dgSolverSweepScale(force, bound);
            const float next =
                std::min(std::max(f + (s->m_rightHandSide[i] - y) * s->m_invDiagonal[i], bound.lower * scale),
                         bound.upper * scale);
            force[i] = next;
            add(i, next - f);
        });
    }
}

void dgScalarSolverKernels::applyForces(dgConstraintSolver* s, int32_t rowCount) {
    forRows(rowCount, [s](int32_t i) {
        const dgSolverBodyPair pair = s->m_bodyPairs[i];
        const dgSolverJacobian& jacobian = s->m_jacobians[i];
        const float f = s->m_force[i];
        dgBody* const body0 = s->m_bodies[pair.body0];
        dgBody* const body1 = s->m_bodies[pair.body1];
        body0->m_force += jacobian.linear0.scale(f);
        body0->m_torque += jacobian.angular0.scale(f);
        body1->m_force += jacobian.linear1.scale(f);
        body1->m_torque += jacobian.angular1.scale(f);
    });
}

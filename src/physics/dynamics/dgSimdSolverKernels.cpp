// Row loops of the SIMD variant. The per-row vectors (force, residual,
// direction, product) go four rows at a time with a scalar tail; a row's
// Jacobian parts are one packed register each. Per element the arithmetic is
// the scalar variant's, in the same order, lane 3 masked where the scalar one
// ignores w; only the sums over rows add four lanes first and then the lanes.
#include <xmmintrin.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dgConstraintSolver.h"
#include "dgSolverKernels.h"

namespace {

struct Masks {
    __m128 xyz;
    __m128 w;
    __m128 abs;
};

__m128 maskFromBits(uint32_t x, uint32_t y, uint32_t z, uint32_t w) {
    const uint32_t bits[4] = {x, y, z, w};
    alignas(16) float lanes[4];
    std::memcpy(lanes, bits, sizeof(lanes));
    return _mm_load_ps(lanes);
}

const Masks& masks() {
    static const Masks m = {maskFromBits(~0u, ~0u, ~0u, 0u), maskFromBits(0u, 0u, 0u, ~0u),
                            maskFromBits(0x7fffffffu, 0x7fffffffu, 0x7fffffffu, 0x7fffffffu)};
    return m;
}

inline __m128 load(const dgVector& v) {
    return _mm_load_ps(&v.x);
}
inline void store(dgVector& v, __m128 a) {
    _mm_store_ps(&v.x, a);
}

inline float lane0(__m128 a) {
    return _mm_cvtss_f32(a);
}

// Adds the lanes in order x, y, z, w, as a scalar sum would.
inline float sumInOrder(__m128 a) {
    const __m128 y = _mm_shuffle_ps(a, a, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 z = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128 w = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 3, 3));
    return lane0(_mm_add_ss(_mm_add_ss(_mm_add_ss(a, y), z), w));
}

// The largest lane.
inline float maxLanes(__m128 a) {
    const __m128 b = _mm_max_ps(a, _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 3, 0, 1)));
    return lane0(_mm_max_ps(b, _mm_shuffle_ps(b, b, _MM_SHUFFLE(1, 0, 3, 2))));
}

// (a0 . b0) + (a1 . b1) + (a2 . b2) + (a3 . b3) over x, y, z: each dot summed
// x + y + z, the four dots summed in order, as the scalar variant does.
inline float fourDots(__m128 a0, __m128 b0, __m128 a1, __m128 b1, __m128 a2, __m128 b2, __m128 a3,
                      __m128 b3) {
    __m128 p0 = _mm_mul_ps(a0, b0);
    __m128 p1 = _mm_mul_ps(a1, b1);
    __m128 p2 = _mm_mul_ps(a2, b2);
    __m128 p3 = _mm_mul_ps(a3, b3);
    _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
    // Lane k now holds dot k: x + y + z (w products left out).
    return sumInOrder(_mm_add_ps(_mm_add_ps(p0, p1), p2));
}

// The inverse inertia applied to v (x, y, z of v; lane 3 set to 1).
inline __m128 rotate(const dgMatrix& m, __m128 v, const Masks& mask) {
    const __m128 x = _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0));
    const __m128 y = _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1));
    const __m128 z = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2));
    const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, load(m.front)), _mm_mul_ps(y, load(m.up))),
                                _mm_mul_ps(z, load(m.right)));
    return _mm_or_ps(_mm_and_ps(r, mask.xyz), _mm_and_ps(_mm_set1_ps(1.0f), mask.w));
}

// v + s a in x, y, z; v's w kept.
inline __m128 addScaled(__m128 v, __m128 a, __m128 s, const Masks& mask) {
    return _mm_or_ps(_mm_and_ps(_mm_add_ps(v, _mm_mul_ps(a, s)), mask.xyz), _mm_and_ps(v, mask.w));
}

}  // namespace

void dgSimdSolverKernels::setupRows(dgConstraintSolver* s, int32_t rowCount) {
    const Masks& mask = masks();
    for (int32_t i = 0; i < rowCount; i++) {
        const dgSolverBodyPair pair = s->m_bodyPairs[i];
        const dgBody* const body0 = s->m_bodies[pair.body0];
        const dgBody* const body1 = s->m_bodies[pair.body1];
        const dgSolverJacobian& jacobian = s->m_jacobians[i];
        dgSolverJacobian& weighted = s->m_weightedJacobians[i];
        const __m128 jl0 = load(jacobian.linear0);
        const __m128 ja0 = load(jacobian.angular0);
        const __m128 jl1 = load(jacobian.linear1);
        const __m128 ja1 = load(jacobian.angular1);
        // Linear parts keep J's w, as the scalar scale does.
        const __m128 wl0 = _mm_or_ps(_mm_and_ps(_mm_mul_ps(jl0, _mm_set1_ps(body0->m_invMass.w)), mask.xyz),
                                     _mm_and_ps(jl0, mask.w));
        const __m128 wa0 = rotate(s->m_invInertia[pair.body0], ja0, mask);
        const __m128 wl1 = _mm_or_ps(_mm_and_ps(_mm_mul_ps(jl1, _mm_set1_ps(body1->m_invMass.w)), mask.xyz),
                                     _mm_and_ps(jl1, mask.w));
        const __m128 wa1 = rotate(s->m_invInertia[pair.body1], ja1, mask);
        store(weighted.linear0, wl0);
        store(weighted.angular0, wa0);
        store(weighted.linear1, wl1);
        store(weighted.angular1, wa1);

        const float diagonal = fourDots(jl0, wl0, ja0, wa0, jl1, wl1, ja1, wa1);
        const float external = fourDots(wl0, load(body0->m_force), wa0, load(body0->m_torque), wl1,
                                        load(body1->m_force), wa1, load(body1->m_torque));
        dgSolverFinishRow(s, i, diagonal, external);
    }
}

namespace {

// The products of one Jacobian part of four rows with its accumulators (the
// slot of the part's body, its linear or angular half), turned so that lane
// r holds row r's dot: x + y + z.
template <dgVector dgSolverJacobian::*Part, int32_t dgSolverBodyPair::*Body, int32_t Angular>
inline __m128 partDots(const dgSolverJacobian* w, const dgSolverBodyPair* q, const dgVector* acc) {
    __m128 p0 = _mm_mul_ps(load(w[0].*Part), load(acc[2 * (q[0].*Body) + Angular]));
    __m128 p1 = _mm_mul_ps(load(w[1].*Part), load(acc[2 * (q[1].*Body) + Angular]));
    __m128 p2 = _mm_mul_ps(load(w[2].*Part), load(acc[2 * (q[2].*Body) + Angular]));
    __m128 p3 = _mm_mul_ps(load(w[3].*Part), load(acc[2 * (q[3].*Body) + Angular]));
    _MM_TRANSPOSE4_PS(p0, p1, p2, p3);
    return _mm_add_ps(_mm_add_ps(p0, p1), p2);
}

// v + s a in every lane. The accumulators' w lanes are never read (the
// products sum x, y and z only), so they need not be kept.
inline __m128 accumulate(__m128 v, __m128 a, __m128 s) {
    return _mm_add_ps(v, _mm_mul_ps(a, s));
}

}  // namespace

float dgSimdSolverKernels::multiply(dgConstraintSolver* s, int32_t rowCount, const float* x, float* y) {
    dgVector* const acc = s->m_accumulators;
    const __m128 zero = _mm_setzero_ps();
    for (int32_t slot = 0; slot < 2 * s->m_bodyCount; slot++) {
        store(acc[slot], zero);
    }
    // A joint's rows follow each other: over a run of rows of one body pair
    // the four sums stay in registers, added to in the same order as through
    // memory (so with the same result) without a store and reload per row.
    const dgSolverBodyPair* const pairs = s->m_bodyPairs;
    for (int32_t i = 0; i < rowCount;) {
        const dgSolverBodyPair pair = pairs[i];
        dgVector& l0 = acc[2 * pair.body0];
        dgVector& a0 = acc[2 * pair.body0 + 1];
        dgVector& l1 = acc[2 * pair.body1];
        dgVector& a1 = acc[2 * pair.body1 + 1];
        if (pair.body0 == pair.body1) {
            // Both sides on one slot: each side adds to what the other left.
            const dgSolverJacobian& jacobian = s->m_jacobians[i];
            const __m128 f = _mm_set1_ps(x[i]);
            store(l0, accumulate(load(l0), load(jacobian.linear0), f));
            store(a0, accumulate(load(a0), load(jacobian.angular0), f));
            store(l1, accumulate(load(l1), load(jacobian.linear1), f));
            store(a1, accumulate(load(a1), load(jacobian.angular1), f));
            i++;
            continue;
        }
        // The static slot weighs nothing: its weighted parts are zero, so
        // what its accumulators gather is only ever multiplied by zero. Its
        // rows add to their moving body alone, and the dots below leave its
        // products out where all four rows have it (adding them changes at
        // most the sign of a zero sum).
        const bool moving1 = pair.body1 != 0;
        __m128 sl0 = load(l0);
        __m128 sa0 = load(a0);
        __m128 sl1 = load(l1);
        __m128 sa1 = load(a1);
        do {
            const dgSolverJacobian& jacobian = s->m_jacobians[i];
            const __m128 f = _mm_set1_ps(x[i]);
            sl0 = accumulate(sl0, load(jacobian.linear0), f);
            sa0 = accumulate(sa0, load(jacobian.angular0), f);
            if (moving1) {
                sl1 = accumulate(sl1, load(jacobian.linear1), f);
                sa1 = accumulate(sa1, load(jacobian.angular1), f);
            }
            i++;
        } while ((i < rowCount) && (pairs[i].body0 == pair.body0) && (pairs[i].body1 == pair.body1));
        store(l0, sl0);
        store(a0, sa0);
        if (moving1) {
            store(l1, sl1);
            store(a1, sa1);
        }
    }
    // Four rows at a time, one row a lane: each part's products of the four
    // rows transposed so that a lane sums x + y + z of its row, the parts
    // then added in order, as fourDots does for one row.
    // Written out row by row and part by part: as loops over parts and rows
    // the compiler kept the products on the stack and branched on the part.
    const dgSolverJacobian* const weighted = s->m_weightedJacobians;
    __m128 dot4 = _mm_setzero_ps();
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        const dgSolverBodyPair* const q = pairs + i;
        const dgSolverJacobian* const w = weighted + i;
        const __m128 linear0 = partDots<&dgSolverJacobian::linear0, &dgSolverBodyPair::body0, 0>(w, q, acc);
        const __m128 angular0 = partDots<&dgSolverJacobian::angular0, &dgSolverBodyPair::body0, 1>(w, q, acc);
        __m128 sum = _mm_add_ps(linear0, angular0);
        if (q[0].body1 | q[1].body1 | q[2].body1 | q[3].body1) {
            const __m128 linear1 = partDots<&dgSolverJacobian::linear1, &dgSolverBodyPair::body1, 0>(w, q, acc);
            const __m128 angular1 = partDots<&dgSolverJacobian::angular1, &dgSolverBodyPair::body1, 1>(w, q, acc);
            sum = _mm_add_ps(_mm_add_ps(sum, linear1), angular1);
        }
        const __m128 x4 = _mm_loadu_ps(x + i);
        const __m128 out = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps(s->m_regulariser + i), x4));
        _mm_storeu_ps(y + i, out);
        dot4 = _mm_add_ps(dot4, _mm_mul_ps(x4, out));
    }
    float dot = sumInOrder(dot4);
    for (; i < rowCount; i++) {
        const dgSolverBodyPair pair = pairs[i];
        const dgSolverJacobian& w = weighted[i];
        y[i] = fourDots(load(w.linear0), load(acc[2 * pair.body0]), load(w.angular0),
                        load(acc[2 * pair.body0 + 1]), load(w.linear1), load(acc[2 * pair.body1]),
                        load(w.angular1), load(acc[2 * pair.body1 + 1])) +
               s->m_regulariser[i] * x[i];
        dot += x[i] * y[i];
    }
    return dot;
}

float dgSimdSolverKernels::residual(dgConstraintSolver* s, int32_t rowCount) {
    const __m128 absMask = masks().abs;
    const float* const b = s->m_rightHandSide;
    const float* const q = s->m_product;
    float* const res = s->m_residual;
    __m128 largest4 = _mm_setzero_ps();
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        const __m128 r = _mm_sub_ps(_mm_loadu_ps(b + i), _mm_loadu_ps(q + i));
        _mm_storeu_ps(res + i, r);
        largest4 = _mm_max_ps(_mm_and_ps(r, absMask), largest4);
    }
    float largest = maxLanes(largest4);
    for (; i < rowCount; i++) {
        const float r = b[i] - q[i];
        res[i] = r;
        const float a = std::fabs(r);
        largest = (a > largest) ? a : largest;
    }
    return largest;
}

float dgSimdSolverKernels::precondition(dgConstraintSolver* s, int32_t rowCount, float& largest) {
    const __m128 absMask = masks().abs;
    const float* const res = s->m_residual;
    const float* const invDiagonal = s->m_invDiagonal;
    float* const p = s->m_direction;
    __m128 rho4 = _mm_setzero_ps();
    __m128 largest4 = _mm_setzero_ps();
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        const __m128 r = _mm_loadu_ps(res + i);
        const __m128 z = _mm_mul_ps(r, _mm_loadu_ps(invDiagonal + i));
        _mm_storeu_ps(p + i, z);
        rho4 = _mm_add_ps(rho4, _mm_mul_ps(r, z));
        largest4 = _mm_max_ps(_mm_and_ps(r, absMask), largest4);
    }
    float rho = sumInOrder(rho4);
    largest = maxLanes(largest4);
    for (; i < rowCount; i++) {
        const float r = res[i];
        const float z = r * invDiagonal[i];
        p[i] = z;
        rho += r * z;
        const float a = std::fabs(r);
        largest = (a > largest) ? a : largest;
    }
    return rho;
}

float dgSimdSolverKernels::step(dgConstraintSolver* s, int32_t rowCount, float alpha, float& rhoNext) {
    const __m128 absMask = masks().abs;
    const __m128 alpha4 = _mm_set1_ps(alpha);
    float* const f = s->m_force;
    float* const res = s->m_residual;
    const float* const p = s->m_direction;
    const float* const q = s->m_product;
    const float* const invDiagonal = s->m_invDiagonal;
    __m128 largest4 = _mm_setzero_ps();
    __m128 rho4 = _mm_setzero_ps();
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        _mm_storeu_ps(f + i, _mm_add_ps(_mm_loadu_ps(f + i), _mm_mul_ps(alpha4, _mm_loadu_ps(p + i))));
        const __m128 r = _mm_sub_ps(_mm_loadu_ps(res + i), _mm_mul_ps(alpha4, _mm_loadu_ps(q + i)));
        _mm_storeu_ps(res + i, r);
        largest4 = _mm_max_ps(_mm_and_ps(r, absMask), largest4);
        rho4 = _mm_add_ps(rho4, _mm_mul_ps(r, _mm_mul_ps(r, _mm_loadu_ps(invDiagonal + i))));
    }
    float largest = maxLanes(largest4);
    float rho = sumInOrder(rho4);
    for (; i < rowCount; i++) {
        f[i] += alpha * p[i];
        const float r = res[i] - alpha * q[i];
        res[i] = r;
        const float a = std::fabs(r);
        largest = (a > largest) ? a : largest;
        rho += r * (r * invDiagonal[i]);
    }
    rhoNext = rho;
    return largest;
}

float dgSimdSolverKernels::stepAndRestart(dgConstraintSolver* s, int32_t rowCount, float alpha, float& largest) {
    const __m128 absMask = masks().abs;
    const __m128 alpha4 = _mm_set1_ps(alpha);
    float* const f = s->m_force;
    float* const res = s->m_residual;
    float* const p = s->m_direction;
    const float* const q = s->m_product;
    const float* const invDiagonal = s->m_invDiagonal;
    __m128 largest4 = _mm_setzero_ps();
    __m128 rho4 = _mm_setzero_ps();
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        _mm_storeu_ps(f + i, _mm_add_ps(_mm_loadu_ps(f + i), _mm_mul_ps(alpha4, _mm_loadu_ps(p + i))));
        const __m128 r = _mm_sub_ps(_mm_loadu_ps(res + i), _mm_mul_ps(alpha4, _mm_loadu_ps(q + i)));
        _mm_storeu_ps(res + i, r);
        const __m128 z = _mm_mul_ps(r, _mm_loadu_ps(invDiagonal + i));
        _mm_storeu_ps(p + i, z);
        rho4 = _mm_add_ps(rho4, _mm_mul_ps(r, z));
        largest4 = _mm_max_ps(_mm_and_ps(r, absMask), largest4);
    }
    float rho = sumInOrder(rho4);
    largest = maxLanes(largest4);
    for (; i < rowCount; i++) {
        f[i] += alpha * p[i];
        const float r = res[i] - alpha * q[i];
        res[i] = r;
        const float z = r * invDiagonal[i];
        p[i] = z;
        rho += r * z;
        const float a = std::fabs(r);
        largest = (a > largest) ? a : largest;
    }
    return rho;
}

int32_t dgSimdSolverKernels::ratioTest(const dgConstraintSolver* s, int32_t rowCount, float tinyStep,
                                       float& alpha, float& limitValue) {
    const float* const p = s->m_direction;
    const float* const f = s->m_force;
    const dgJointRowBound* const bounds = s->m_bounds;
    const __m128 tiny = _mm_set1_ps(1.0e-16f);
    const __m128 negativeTiny = _mm_set1_ps(-1.0e-16f);
    __m128 alpha4 = _mm_set1_ps(alpha);
    int32_t limiting = -1;
    int32_t i = 0;
    // Four rows at once ask only whether any of them reaches a bound at the
    // current alpha; the few groups that do go row by row, as the scalar
    // test does, so the limiting row and alpha are its own.
    for (; i + 4 <= rowCount; i += 4) {
        const __m128 p4 = _mm_loadu_ps(p + i);
        const __m128 reached = _mm_add_ps(_mm_loadu_ps(f + i), _mm_mul_ps(alpha4, p4));
        const __m128 lower =
            _mm_setr_ps(bounds[i].lower, bounds[i + 1].lower, bounds[i + 2].lower, bounds[i + 3].lower);
        const __m128 upper =
            _mm_setr_ps(bounds[i].upper, bounds[i + 1].upper, bounds[i + 2].upper, bounds[i + 3].upper);
        const __m128 atLower = _mm_and_ps(_mm_cmplt_ps(p4, negativeTiny), _mm_cmple_ps(reached, lower));
        const __m128 atUpper = _mm_and_ps(_mm_cmpgt_ps(p4, tiny), _mm_cmpge_ps(reached, upper));
        if (!_mm_movemask_ps(_mm_or_ps(atLower, atUpper))) {
            continue;
        }
        for (int32_t r = i; r < i + 4; r++) {
            if (dgSolverRatioRow(s, r, alpha, limitValue)) {
                limiting = r;
                if (alpha < tinyStep) {
                    return limiting;
                }
            }
        }
        alpha4 = _mm_set1_ps(alpha);
    }
    for (; i < rowCount; i++) {
        if (dgSolverRatioRow(s, i, alpha, limitValue)) {
            limiting = i;
            if (alpha < tinyStep) {
                return limiting;
            }
        }
    }
    return limiting;
}

void dgSimdSolverKernels::direction(dgConstraintSolver* s, int32_t rowCount, float beta) {
    const __m128 beta4 = _mm_set1_ps(beta);
    const float* const res = s->m_residual;
    const float* const invDiagonal = s->m_invDiagonal;
    float* const p = s->m_direction;
    int32_t i = 0;
    for (; i + 4 <= rowCount; i += 4) {
        const __m128 z = _mm_mul_ps(_mm_loadu_ps(res + i), _mm_loadu_ps(invDiagonal + i));
        _mm_storeu_ps(p + i, _mm_add_ps(z, _mm_mul_ps(beta4, _mm_loadu_ps(p + i))));
    }
    for (; i < rowCount; i++) {
        p[i] = res[i] * invDiagonal[i] + beta * p[i];
    }
}

// Rows ahead (in one quarter of the sweep order) whose arrays the projected
// sweeps ask for.
constexpr int32_t kPrefetchRows = 4;

void dgSimdSolverKernels::projectedSweeps(dgConstraintSolver* s, int32_t rowCount, int32_t sweeps) {
    const __m128 xyz = masks().xyz;
    dgVector* const acc = s->m_accumulators;
    const __m128 zero = _mm_setzero_ps();
    for (int32_t slot = 0; slot < 2 * s->m_bodyCount; slot++) {
        store(acc[slot], zero);
    }
    const dgSolverBodyPair* const pairs = s->m_bodyPairs;
    const dgSolverJacobian* const jacobians = s->m_jacobians;
    const dgSolverJacobian* const weighted = s->m_weightedJacobians;
    const dgJointRowBound* const bounds = s->m_bounds;
    const float* const rightHandSide = s->m_rightHandSide;
    const float* const invDiagonal = s->m_invDiagonal;
    const float* const regulariser = s->m_regulariser;
    float* const force = s->m_force;
    // The four accumulators of a row's two slots take f J.
    auto add = [acc, jacobians, pairs](int32_t i, float f) {
        const dgSolverBodyPair pair = pairs[i];
        const dgSolverJacobian& jacobian = jacobians[i];
        const __m128 f4 = _mm_set1_ps(f);
        dgVector& l0 = acc[2 * pair.body0];
        store(l0, accumulate(load(l0), load(jacobian.linear0), f4));
        dgVector& a0 = acc[2 * pair.body0 + 1];
        store(a0, accumulate(load(a0), load(jacobian.angular0), f4));
        dgVector& l1 = acc[2 * pair.body1];
        store(l1, accumulate(load(l1), load(jacobian.linear1), f4));
        dgVector& a1 = acc[2 * pair.body1 + 1];
        store(a1, accumulate(load(a1), load(jacobian.angular1), f4));
    };
    for (int32_t i = 0; i < rowCount; i++) {
        add(i, force[i]);
    }
    // The sweep order walks four places of every row array at once, more
    // streams than the processor follows: the two Jacobians and the bounds of
    // the row kPrefetchRows further on in the same quarter are asked for.
    const int32_t last = rowCount - 1;
    // Without branches on the data: whether a row moves, or is a friction
    // row, is a coin toss to a branch predictor. A row that keeps its force
    // adds zero.
    for (int32_t sweep = 0; sweep < sweeps; sweep++) {
        dgSolverSweepOrder(rowCount, [&](int32_t i) {
            const int32_t ahead = std::min(i + kPrefetchRows, last);
            _mm_prefetch(reinterpret_cast<const char*>(weighted + ahead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(jacobians + ahead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(bounds + ahead), _MM_HINT_T0);
            const dgSolverBodyPair pair = pairs[i];
            const dgSolverJacobian& w = weighted[i];
            const __m128 sum = _mm_add_ps(
                _mm_add_ps(_mm_mul_ps(load(w.linear0), load(acc[2 * pair.body0])),
                           _mm_mul_ps(load(w.angular0), load(acc[2 * pair.body0 + 1]))),
                _mm_add_ps(_mm_mul_ps(load(w.linear1), load(acc[2 * pair.body1])),
                           _mm_mul_ps(load(w.angular1), load(acc[2 * pair.body1 + 1]))));
            const float f = force[i];
            const float y = sumInOrder(_mm_and_ps(sum, xyz)) + regulariser[i] * f;
            const dgJointRowBound& bound = bounds[i];
            const float scale = dgSolverSweepScale(force, bound);
            const float next = std::min(std::max(f + (rightHandSide[i] - y) * invDiagonal[i], bound.lower * scale),
                                        bound.upper * scale);
            force[i] = next;
            add(i, next - f);
        });
    }
}

void dgSimdSolverKernels::applyForces(dgConstraintSolver* s, int32_t rowCount) {
    const Masks& mask = masks();
    for (int32_t i = 0; i < rowCount; i++) {
        const dgSolverBodyPair pair = s->m_bodyPairs[i];
        const dgSolverJacobian& jacobian = s->m_jacobians[i];
        const __m128 f = _mm_set1_ps(s->m_force[i]);
        dgBody* const body0 = s->m_bodies[pair.body0];
        dgBody* const body1 = s->m_bodies[pair.body1];
        store(body0->m_force, addScaled(load(body0->m_force), load(jacobian.linear0), f, mask));
        store(body0->m_torque, addScaled(load(body0->m_torque), load(jacobian.angular0), f, mask));
        store(body1->m_force, addScaled(load(body1->m_force), load(jacobian.linear1), f, mask));
        store(body1->m_torque, addScaled(load(body1->m_torque), load(jacobian.angular1), f, mask));
    }
}

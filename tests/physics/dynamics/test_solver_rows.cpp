#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "dgBody.h"
#include "dgConstraintSolver.h"
#include "dgMatrix.h"

namespace {

// One variant's row operations behind one table, so every suite runs both.
struct Variant {
    const char* name;
    void (*setup)(dgConstraintSolver*, int32_t, int32_t);
    void (*solve)(dgConstraintSolver*);
    int32_t (*gradient)(dgConstraintSolver*, int32_t);
    float (*residual)(dgConstraintSolver*, int32_t);
    void (*swap)(dgConstraintSolver*, int32_t, int32_t);
    void (*swapInTurn)(dgConstraintSolver*, const int32_t*, int32_t, int32_t, int32_t);
    int32_t (*iterations)(const dgConstraintSolver*, int32_t);
    void (*sweeps)(dgConstraintSolver*, int32_t, int32_t);
};

template <class V>
Variant variantOf(const char* name) {
    return {name,
            &V::dgSolverSetupRows,
            &V::dgSolverSolveLcp,
            &V::dgSolverConjugateGradient,
            &V::dgSolverResidual,
            &V::dgSolverSwapRows,
            &V::dgSolverSwapRowsInTurn,
            &V::dgSolverIterationCount,
            &V::dgSolverProjectedSweeps};
}

const Variant kScalar = variantOf<dgScalarSolver>("Scalar");
const Variant kSimd = variantOf<dgSimdSolver>("Simd");

struct SolverDeleter {
    void operator()(dgConstraintSolver* s) const { dgConstraintSolverDestroy(s); }
};
using SolverPtr = std::unique_ptr<dgConstraintSolver, SolverDeleter>;

constexpr float kNoBound = 1.0e15f;

struct TestRow {
    float jacobian[16];
    float lower;
    float upper;
    // Joint-relative for friction rows, as joints write it.
    int32_t normalIndex;
    float rhs;
    float regulariser;
};

struct TestJoint {
    int32_t slot0;
    int32_t slot1;
    std::vector<TestRow> rows;
};

// An island: bodies in slots 1.. (slot 0 is the workspace's static body),
// their inverse inertia, external force and torque, joints, and one force
// slot per island row that lives across solves (the warm start).
struct Problem {
    std::vector<dgBody> bodies;
    std::vector<dgMatrix> invInertia;
    std::vector<dgVector> force;
    std::vector<dgVector> torque;
    std::vector<TestJoint> joints;
    std::vector<float> slots;

    explicit Problem(int32_t dynamicBodies)
        : bodies(size_t(dynamicBodies + 1)),
          invInertia(bodies.size(), dgGetZeroMatrix()),
          force(bodies.size(), dgVector(0, 0, 0, 0)),
          torque(bodies.size(), dgVector(0, 0, 0, 0)) {
        for (dgBody& body : bodies) {
            body.clear();
        }
    }

    // Inverse mass and inverse principal inertia in body axes; the slot's
    // world-space inverse inertia follows from the body's rotation.
    void setBody(int32_t slot, float invMass, const dgVector& invInertiaAxes, const dgMatrix& rotation) {
        dgBody& body = bodies[size_t(slot)];
        body.m_invMass = dgVector(invInertiaAxes.x, invInertiaAxes.y, invInertiaAxes.z, invMass);
        body.m_matrix = rotation;
        dgMatrix m = dgGetZeroMatrix();
        for (int a = 0; a < 3; a++) {
            for (int i = 0; i < 3; i++) {
                for (int j = 0; j < 3; j++) {
                    m[i][j] += invInertiaAxes[a] * rotation[a][i] * rotation[a][j];
                }
            }
        }
        invInertia[size_t(slot)] = m;
    }

    int32_t rowCount() const {
        int32_t n = 0;
        for (const TestJoint& joint : joints) {
            n += int32_t(joint.rows.size());
        }
        return n;
    }

    float invMass(int32_t slot) const { return slot ? bodies[size_t(slot)].m_invMass.w : 0.0f; }
};

// Fills the workspace as the island walk does: bodies, inverse inertia, then
// each joint's rows through the row block (the rows grow the workspace).
void load(dgConstraintSolver* s, Problem& p) {
    ASSERT_TRUE(dgConstraintSolverReserve(s, int32_t(p.bodies.size()), 0, 1));
    s->m_rowCount = 0;
    for (size_t slot = 1; slot < p.bodies.size(); slot++) {
        p.bodies[slot].m_force = p.force[slot];
        p.bodies[slot].m_torque = p.torque[slot];
        s->m_bodies[slot] = &p.bodies[slot];
        s->m_invInertia[slot] = p.invInertia[slot];
    }
    p.slots.resize(size_t(p.rowCount()), 0.0f);
    int32_t row = 0;
    for (const TestJoint& joint : p.joints) {
        for (size_t r = 0; r < joint.rows.size(); r++, row++) {
            const TestRow& in = joint.rows[r];
            std::memcpy(s->m_rowBlock.jacobians[r], in.jacobian, sizeof(in.jacobian));
            s->m_rowBlock.bounds[r] =
                dgJointRowBound{in.lower, in.upper, in.normalIndex, &p.slots[size_t(row)]};
            s->m_rowBlock.rightHandSides[r] = in.rhs;
            s->m_rowBlock.regularisers[r] = in.regulariser;
        }
        const float threshold = s->m_frictionScale / (p.invMass(joint.slot0) + p.invMass(joint.slot1));
        ASSERT_TRUE(
            dgConstraintSolverAppendRows(s, int32_t(joint.rows.size()), joint.slot0, joint.slot1, threshold));
    }
}

// Forces per island row after a solve (0 for rows not applied).
std::vector<float> forcesOf(const dgConstraintSolver* s, int32_t rowCount) {
    std::vector<float> f(size_t(rowCount), 0.0f);
    for (int32_t pos = 0; pos < s->m_rowCount; pos++) {
        f[size_t(s->m_permutation[pos])] = s->m_force[pos];
    }
    return f;
}

// ---- reference: the problem in double precision ----

struct Dense {
    int32_t n = 0;
    std::vector<double> a;  // n x n, with the regulariser
    std::vector<double> b;  // right-hand side less the external forces
    std::vector<double> lower, upper;
    std::vector<int32_t> normal;  // island row of the normal, -1 for others
    std::vector<float> lowerCoef, upperCoef, threshold;
    double at(int32_t i, int32_t j) const { return a[size_t(i * n + j)]; }
};

Dense denseOf(const Problem& p, float frictionScale) {
    Dense d;
    struct Side {
        int32_t slot;
        const float* lin;
        const float* ang;
    };
    std::vector<Side> sides;
    std::vector<const TestRow*> rows;
    for (const TestJoint& joint : p.joints) {
        const int32_t first = int32_t(rows.size());
        for (const TestRow& row : joint.rows) {
            rows.push_back(&row);
            sides.push_back({joint.slot0, row.jacobian, row.jacobian + 4});
            sides.push_back({joint.slot1, row.jacobian + 8, row.jacobian + 12});
            d.lower.push_back(row.normalIndex >= 0 ? 0.0 : row.lower);
            d.upper.push_back(row.normalIndex >= 0 ? 0.0 : row.upper);
            d.normal.push_back(row.normalIndex >= 0 ? first + row.normalIndex : -1);
            d.lowerCoef.push_back(row.lower);
            d.upperCoef.push_back(row.upper);
            d.threshold.push_back(frictionScale / (p.invMass(joint.slot0) + p.invMass(joint.slot1)));
        }
    }
    d.n = int32_t(rows.size());
    // M^-1 J^T of one side: inverse mass times linear, inverse inertia times angular.
    auto weighted = [&](const Side& s, double* out) {
        const dgMatrix& m = p.invInertia[size_t(s.slot)];
        for (int k = 0; k < 3; k++) {
            out[k] = double(p.invMass(s.slot)) * s.lin[k];
            out[3 + k] = double(s.ang[0]) * m[0][k] + double(s.ang[1]) * m[1][k] + double(s.ang[2]) * m[2][k];
        }
    };
    d.a.assign(size_t(d.n * d.n), 0.0);
    d.b.resize(size_t(d.n));
    for (int32_t i = 0; i < d.n; i++) {
        d.b[size_t(i)] = rows[size_t(i)]->rhs;
        for (int side = 0; side < 2; side++) {
            const Side& si = sides[size_t(2 * i + side)];
            double w[6];
            weighted(si, w);
            const dgVector& f = p.force[size_t(si.slot)];
            const dgVector& t = p.torque[size_t(si.slot)];
            d.b[size_t(i)] -= w[0] * f.x + w[1] * f.y + w[2] * f.z + w[3] * t.x + w[4] * t.y + w[5] * t.z;
            for (int32_t j = 0; j < d.n; j++) {
                for (int sj = 0; sj < 2; sj++) {
                    const Side& other = sides[size_t(2 * j + sj)];
                    if (other.slot == si.slot) {
                        for (int k = 0; k < 3; k++) {
                            d.a[size_t(i * d.n + j)] += w[k] * other.lin[k] + w[3 + k] * other.ang[k];
                        }
                    }
                }
            }
        }
    }
    for (int32_t i = 0; i < d.n; i++) {
        d.a[size_t(i * d.n + i)] *= 1.0 + 0.001 * rows[size_t(i)]->regulariser;
    }
    return d;
}

// Solves A x = r over `rows` (A's principal submatrix, positive definite)
// by elimination; false when it is numerically singular.
bool solveOn(const Dense& d, const std::vector<int32_t>& rows, std::vector<double>& r) {
    const size_t k = rows.size();
    std::vector<double> m(k * k);
    for (size_t i = 0; i < k * k; i++) {
        m[i] = d.at(rows[i / k], rows[i % k]);
    }
    for (size_t c = 0; c < k; c++) {
        if (m[c * k + c] < 1e-12) {
            return false;
        }
        for (size_t i = c + 1; i < k; i++) {
            const double factor = m[i * k + c] / m[c * k + c];
            for (size_t j = c; j < k; j++) {
                m[i * k + j] -= factor * m[c * k + j];
            }
            r[i] -= factor * r[c];
        }
    }
    for (size_t c = k; c-- > 0;) {
        for (size_t j = c + 1; j < k; j++) {
            r[c] -= m[c * k + j] * r[j];
        }
        r[c] /= m[c * k + c];
    }
    return true;
}

// Frobenius norm of the inverse of A over `rows`: bounds how far a solution
// can move per unit of residual.
double inverseNorm(const Dense& d, const std::vector<int32_t>& rows) {
    const int32_t k = int32_t(rows.size());
    double sum = 0.0;
    for (int32_t c = 0; c < k; c++) {
        std::vector<double> e(size_t(k), 0.0);
        e[size_t(c)] = 1.0;
        if (!solveOn(d, rows, e)) {
            return 1e30;
        }
        for (double v : e) {
            sum += v * v;
        }
    }
    return std::sqrt(sum);
}

bool finite(double bound) {
    return std::fabs(bound) < 1e14;
}

// The box LCP over `rows` (other rows carry no force) by trying every
// assignment of free / at lower / at upper; the one that violates least.
std::vector<double> enumerateLcp(const Dense& d, const std::vector<int32_t>& rows) {
    const size_t k = rows.size();
    std::vector<int> state(k, 0);
    std::vector<double> best(size_t(d.n), 0.0);
    double bestViolation = 1e300;
    for (;;) {
        std::vector<double> f(size_t(d.n), 0.0);
        std::vector<int32_t> freeRows;
        for (size_t i = 0; i < k; i++) {
            const int32_t r = rows[i];
            f[size_t(r)] = state[i] == 1 ? d.lower[size_t(r)] : (state[i] == 2 ? d.upper[size_t(r)] : 0.0);
            if (state[i] == 0) {
                freeRows.push_back(r);
            }
        }
        std::vector<double> rhs(freeRows.size());
        for (size_t i = 0; i < freeRows.size(); i++) {
            rhs[i] = d.b[size_t(freeRows[i])];
            for (int32_t r : rows) {
                rhs[i] -= d.at(freeRows[i], r) * f[size_t(r)];
            }
        }
        if (solveOn(d, freeRows, rhs)) {
            for (size_t i = 0; i < freeRows.size(); i++) {
                f[size_t(freeRows[i])] = rhs[i];
            }
            double violation = 0.0;
            for (size_t i = 0; i < k; i++) {
                const int32_t r = rows[i];
                double w = d.b[size_t(r)];
                for (int32_t c : rows) {
                    w -= d.at(r, c) * f[size_t(c)];
                }
                violation =
                    std::max({violation, d.lower[size_t(r)] - f[size_t(r)], f[size_t(r)] - d.upper[size_t(r)],
                              state[i] == 1 ? w : 0.0, state[i] == 2 ? -w : 0.0});
            }
            if (violation < bestViolation) {
                bestViolation = violation;
                best = f;
            }
        }
        size_t i = 0;
        for (; i < k; i++) {
            const int32_t r = rows[i];
            do {
                state[i] = (state[i] + 1) % 3;
            } while ((state[i] == 1 && !finite(d.lower[size_t(r)])) ||
                     (state[i] == 2 && !finite(d.upper[size_t(r)])));
            if (state[i] != 0) {
                break;
            }
        }
        if (i == k) {
            return best;
        }
    }
}

// Forces over `rows` against the enumerated solution, and the complementarity
// conditions the solver stops at (largest free residual 0.1). Empty when they
// hold, else what failed.
std::string lcpMismatch(const Dense& d, const std::vector<int32_t>& rows, const std::vector<float>& f) {
    const std::vector<double> reference = enumerateLcp(d, rows);
    const double tolerance = 1.5 * 0.1 * std::sqrt(double(rows.size())) * inverseNorm(d, rows) + 2e-3;
    std::string failed;
    for (int32_t r : rows) {
        const double fr = f[size_t(r)];
        double w = d.b[size_t(r)];
        for (int32_t c : rows) {
            w -= d.at(r, c) * f[size_t(c)];
        }
        const double slack = 1e-5 * (1.0 + std::fabs(fr));
        const bool atLower = fr <= d.lower[size_t(r)] + slack;
        const bool atUpper = fr >= d.upper[size_t(r)] - slack;
        if ((std::fabs(fr - reference[size_t(r)]) > tolerance) || (fr < d.lower[size_t(r)] - slack) ||
            (fr > d.upper[size_t(r)] + slack) || (!atLower && (w < -0.11)) || (!atUpper && (w > 0.11))) {
            failed += "row " + std::to_string(r) + ": f " + std::to_string(fr) + " reference " +
                      std::to_string(reference[size_t(r)]) + " residual " + std::to_string(w) + "; ";
        }
    }
    return failed;
}

float uniform(std::mt19937& rng, float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

TestRow randomRow(std::mt19937& rng, int32_t normalIndex, float lower, float upper, bool secondBody) {
    TestRow row{};
    for (int part = 0; part < 4; part++) {
        for (int k = 0; k < 3; k++) {
            row.jacobian[4 * part + k] = (part < 2 || secondBody) ? uniform(rng, -1.0f, 1.0f) : 0.0f;
        }
    }
    row.lower = lower;
    row.upper = upper;
    row.normalIndex = normalIndex;
    row.rhs = uniform(rng, -40.0f, 40.0f);
    row.regulariser = (rng() % 2) ? 1.0f : uniform(rng, 1.0f, 5.0f);
    return row;
}

// 2 to maxRows rows on 1 to maxBodies bodies: contacts (normal and up to two
// friction rows), ordinary rows, bounded rows, and ordinary rows with finite
// bounds. Small problems only when reasonably conditioned.
Problem randomProblem(std::mt19937& rng, bool friction, int32_t maxBodies = 3, int32_t maxRows = 8) {
    const int32_t minBodies = (maxRows > 8) ? maxRows / 4 : 1;
    for (;;) {
        Problem p(minBodies + int32_t(rng() % uint32_t(maxBodies - minBodies + 1)));
        const int32_t dynamic = int32_t(p.bodies.size()) - 1;
        for (int32_t slot = 1; slot <= dynamic; slot++) {
            const dgMatrix rotation = dgRotationMatrixX(uniform(rng, -3, 3)) *
                                      dgRotationMatrixY(uniform(rng, -3, 3)) *
                                      dgRotationMatrixZ(uniform(rng, -3, 3));
            p.setBody(
                slot, uniform(rng, 0.3f, 2.0f),
                dgVector(uniform(rng, 0.3f, 2.0f), uniform(rng, 0.3f, 2.0f), uniform(rng, 0.3f, 2.0f), 0),
                rotation);
            p.force[size_t(slot)] =
                dgVector(uniform(rng, -5, 5), uniform(rng, -5, 5), uniform(rng, -5, 5), 0);
            p.torque[size_t(slot)] =
                dgVector(uniform(rng, -5, 5), uniform(rng, -5, 5), uniform(rng, -5, 5), 0);
        }
        const int32_t target = 2 + int32_t(rng() % uint32_t(maxRows - 1));
        while (p.rowCount() < target) {
            TestJoint joint;
            joint.slot0 = 1 + int32_t(rng() % uint32_t(dynamic));
            joint.slot1 = int32_t(rng() % uint32_t(dynamic + 1));
            joint.slot1 = (joint.slot1 == joint.slot0) ? 0 : joint.slot1;
            const bool second = joint.slot1 != 0;
            const int kind = int(rng() % 4);
            if (kind == 0) {
                joint.rows.push_back(randomRow(rng, dgRowOneSided, 0.0f, kNoBound, second));
                const float mu = uniform(rng, 0.2f, 0.8f);
                for (int k = friction ? int(rng() % 3) : 0; k > 0; k--) {
                    joint.rows.push_back(randomRow(rng, 0, -mu, mu, second));
                }
            } else if (kind == 1) {
                joint.rows.push_back(randomRow(rng, dgRowOrdinary, -kNoBound, kNoBound, second));
            } else if (kind == 2) {
                joint.rows.push_back(
                    randomRow(rng, dgRowBounded, uniform(rng, -20, 0), uniform(rng, 0, 20), second));
            } else {
                joint.rows.push_back(
                    randomRow(rng, dgRowOrdinary, uniform(rng, -20, -1), uniform(rng, 1, 20), second));
            }
            if (p.rowCount() + int32_t(joint.rows.size()) <= maxRows) {
                p.joints.push_back(joint);
            } else if (p.rowCount() >= 2) {
                break;
            }
        }
        const Dense d = denseOf(p, 0.25f);
        std::vector<int32_t> all(size_t(d.n));
        for (int32_t i = 0; i < d.n; i++) {
            all[size_t(i)] = i;
        }
        if ((p.rowCount() >= 2) && (inverseNorm(d, all) < 5.0)) {
            return p;
        }
    }
}

struct Outcome {
    std::vector<float> forces;
    bool converged;
    // The first solve's forces and slots, from slots of 0.
    std::vector<float> coldForces;
    std::vector<float> coldSlots;
};

// Solves repeatedly, force slots carried over (the warm start of successive
// steps), until the slots stop changing. Checks each time that the bodies
// received f J of every applied row.
Outcome solveToRest(const Variant& v, dgConstraintSolver* s, Problem& p, uint32_t option) {
    s->m_solverOption = option;
    s->m_iterationMode = 0;
    const int32_t n = p.rowCount();
    Outcome out{{}, false, {}, {}};
    for (int call = 0; call < 100; call++) {
        const std::vector<float> before = p.slots;
        load(s, p);
        v.setup(s, s->m_rowCount, int32_t(p.bodies.size()));
        v.solve(s);
        const std::vector<float> f = forcesOf(s, n);
        if (call == 0) {
            out.coldForces = f;
            out.coldSlots = p.slots;
        }
        // Body force and torque, three each per slot, against the sum of f J.
        std::vector<double> expected(p.bodies.size() * 6, 0.0);
        int32_t row = 0;
        for (const TestJoint& joint : p.joints) {
            for (const TestRow& r : joint.rows) {
                for (int k = 0; k < 12; k++) {
                    const int32_t slot = (k < 6) ? joint.slot0 : joint.slot1;
                    expected[size_t(slot * 6 + k % 6)] +=
                        double(f[size_t(row)]) * r.jacobian[4 * (k / 3) + k % 3];
                }
                row++;
            }
        }
        for (size_t slot = 1; slot < p.bodies.size(); slot++) {
            for (int k = 0; k < 3; k++) {
                EXPECT_NEAR(p.bodies[slot].m_force[k] - p.force[slot][k], expected[slot * 6 + size_t(k)],
                            1e-3);
                EXPECT_NEAR(p.bodies[slot].m_torque[k] - p.torque[slot][k],
                            expected[slot * 6 + 3 + size_t(k)], 1e-3);
            }
        }
        out.forces = f;
        if ((call > 0) && (std::memcmp(before.data(), p.slots.data(), before.size() * sizeof(float)) == 0)) {
            out.converged = true;
            return out;
        }
    }
    return out;
}

// The problem one solve poses once the friction limits are known: friction
// rows bounded by the given normal forces (those at or below their threshold
// dropped, and checked to apply nothing), every applied row in `applied`.
Dense withFrictionLimits(Dense d, const std::vector<float>& normalForces, const std::vector<float>& forces,
                         std::vector<int32_t>& applied) {
    applied.clear();
    for (int32_t i = 0; i < d.n; i++) {
        if (d.normal[size_t(i)] < 0) {
            applied.push_back(i);
            continue;
        }
        const float fn = std::max(normalForces[size_t(d.normal[size_t(i)])], 0.0f);
        const float lo = fn * d.lowerCoef[size_t(i)];
        const float hi = fn * d.upperCoef[size_t(i)];
        if (std::min(hi, -lo) <= d.threshold[size_t(i)]) {
            EXPECT_EQ(forces[size_t(i)], 0.0f) << "dropped friction row " << i << " was applied";
        } else {
            d.lower[size_t(i)] = lo;
            d.upper[size_t(i)] = hi;
            applied.push_back(i);
        }
    }
    return d;
}

struct LcpCase {
    const Variant* variant;
    uint32_t option;
};

void PrintTo(const LcpCase& c, std::ostream* os) {
    *os << c.variant->name << " option " << c.option;
}

class BoundedLcp : public ::testing::TestWithParam<LcpCase> {};

// Random islands against the enumerated solution, after one solve from slots
// of 0 (a new contact, a knock) and once the warm start settles. With option 1
// all rows are solved together and the friction limits come from the start
// forces. With option 0 the normal and bounded rows are solved first (their
// force slots hold that solution) and the friction limits come from it; the
// applied forces then solve every applied row, those the first solve left at
// a bound included.
TEST_P(BoundedLcp, MatchesEnumeratedSolution) {
    const LcpCase param = GetParam();
    SolverPtr solver(dgConstraintSolverCreate());
    ASSERT_TRUE(solver);
    std::mt19937 rng(20261209u + param.option);
    int32_t converged = 0;
    const int32_t problems = 400;
    for (int32_t trial = 0; trial < problems; trial++) {
        Problem p = randomProblem(rng, trial % 3 != 0);
        const Outcome out = solveToRest(*param.variant, solver.get(), p, param.option);
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const Dense d = denseOf(p, solver->m_frictionScale);
        std::vector<int32_t> first, applied;
        for (int32_t i = 0; i < d.n; i++) {
            if (d.normal[size_t(i)] < 0) {
                first.push_back(i);
            }
        }
        const std::vector<float> coldStart(out.coldForces.size(), 0.0f);
        const Dense cold =
            withFrictionLimits(d, (param.option == 0) ? out.coldSlots : coldStart, out.coldForces, applied);
        EXPECT_EQ(lcpMismatch(cold, applied, out.coldForces), "") << "first solve from rest";
        if (!out.converged) {
            continue;
        }
        converged++;
        const Dense settled =
            withFrictionLimits(d, (param.option == 0) ? p.slots : out.forces, out.forces, applied);
        EXPECT_EQ(lcpMismatch(settled, applied, out.forces), "");
        if (param.option == 0) {
            EXPECT_EQ(lcpMismatch(d, first, p.slots), "") << "first solve";
        }
        for (int32_t i : applied) {
            if ((param.option != 0) || (d.normal[size_t(i)] >= 0)) {
                EXPECT_EQ(out.forces[size_t(i)], p.slots[size_t(i)]);
            }
        }
    }
    EXPECT_GE(converged, problems * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Variants, BoundedLcp,
                         ::testing::Values(LcpCase{&kScalar, 0}, LcpCase{&kScalar, 1}, LcpCase{&kSimd, 0},
                                           LcpCase{&kSimd, 1}),
                         [](const ::testing::TestParamInfo<LcpCase>& info) {
                             return std::string(info.param.variant->name) + "Option" +
                                    std::to_string(info.param.option);
                         });

void PrintTo(const Variant* v, std::ostream* os) {
    *os << v->name;
}

class ProjectedSweeps : public ::testing::TestWithParam<const Variant*> {};

// The sweeps that finish an island over its pass budget, run long from zero
// forces on random islands, reach the enumerated solution of the problem
// whose friction limits are the coefficients times the final normal forces.
// Friction rows enter as the solve leaves them: limits scaled by a load (1
// here) kept in the threshold, normal index in append order.
TEST_P(ProjectedSweeps, ConvergeToTheSolutionWithFrictionLimitsFromTheNormalForces) {
    SolverPtr solver(dgConstraintSolverCreate());
    ASSERT_TRUE(solver);
    std::mt19937 rng(2626u);
    for (int32_t trial = 0; trial < 300; trial++) {
        Problem p = randomProblem(rng, true);
        load(solver.get(), p);
        dgConstraintSolver* s = solver.get();
        const int32_t n = s->m_rowCount;
        GetParam()->setup(s, n, int32_t(p.bodies.size()));
        for (int32_t i = 0; i < n; i++) {
            s->m_force[i] = 0.0f;
            s->m_permutation[i] = i;
            s->m_inversePermutation[i] = i;
            s->m_frictionThreshold[i] = 1.0f;
        }
        GetParam()->sweeps(s, n, 400);
        const std::vector<float> f(s->m_force, s->m_force + n);
        Dense d = denseOf(p, s->m_frictionScale);
        std::vector<int32_t> all;
        for (int32_t i = 0; i < n; i++) {
            if (d.normal[size_t(i)] >= 0) {
                const double normal = std::max(double(f[size_t(d.normal[size_t(i)])]), 0.0);
                d.lower[size_t(i)] = normal * d.lowerCoef[size_t(i)];
                d.upper[size_t(i)] = normal * d.upperCoef[size_t(i)];
            }
            all.push_back(i);
        }
        EXPECT_EQ(lcpMismatch(d, all, f), "") << "trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, ProjectedSweeps, ::testing::Values(&kScalar, &kSimd),
                         [](const ::testing::TestParamInfo<const Variant*>& info) {
                             return std::string(info.param->name);
                         });

// One body of unit mass and inertia in slot 1; rows along its linear axes.
TestRow axisRow(int axis, int32_t normalIndex, float lower, float upper, float rhs) {
    TestRow row{};
    row.jacobian[axis] = 1.0f;
    row.lower = lower;
    row.upper = upper;
    row.normalIndex = normalIndex;
    row.rhs = rhs;
    row.regulariser = 1.0f;
    return row;
}

Problem unitBody(int32_t extraBodies = 0) {
    Problem p(1 + extraBodies);
    p.setBody(1, 1.0f, dgVector(1, 1, 1, 0), dgGetIdentityMatrix());
    return p;
}

void solveOnce(const Variant& v, dgConstraintSolver* s, Problem& p, uint32_t option) {
    s->m_solverOption = option;
    s->m_iterationMode = 0;
    load(s, p);
    v.setup(s, s->m_rowCount, int32_t(p.bodies.size()));
    v.solve(s);
}

class RowRules : public ::testing::TestWithParam<LcpCase> {};

// A friction row whose normal ends without force (pulled apart, and started
// negative) gets zero limits: it writes and applies nothing.
TEST_P(RowRules, FrictionOfUnloadedNormalIsDropped) {
    SolverPtr solver(dgConstraintSolverCreate());
    Problem p = unitBody();
    p.joints.push_back(
        {1, 0, {axisRow(1, dgRowOneSided, 0.0f, kNoBound, -5.0f), axisRow(0, 0, -0.5f, 0.5f, 4.0f)}});
    p.slots = {-3.0f, 7.0f};
    solveOnce(*GetParam().variant, solver.get(), p, GetParam().option);
    EXPECT_EQ(solver->m_rowCount, 1);
    EXPECT_EQ(p.slots[0], 0.0f);
    EXPECT_EQ(p.slots[1], 7.0f);
    EXPECT_EQ(p.bodies[1].m_force.x, 0.0f);
    EXPECT_EQ(p.bodies[1].m_force.y, 0.0f);
}

// A row with J M^-1 J^T = 0 (only the static side, or an immovable body)
// would give an infinite inverse diagonal and NaN across the island; it takes
// no part: force 0, nothing applied, its friction row dropped.
TEST_P(RowRules, ZeroDiagonalRowTakesNoPart) {
    SolverPtr solver(dgConstraintSolverCreate());
    Problem p = unitBody(1);
    p.setBody(2, 0.0f, dgVector(0, 0, 0, 0), dgGetIdentityMatrix());
    TestRow staticOnly = axisRow(9, dgRowOneSided, 0.0f, kNoBound, 5.0f);
    p.joints.push_back({1, 0, {axisRow(0, dgRowOrdinary, -kNoBound, kNoBound, 3.0f)}});
    p.joints.push_back({1, 0, {staticOnly, axisRow(2, 0, -0.5f, 0.5f, 1.0f)}});
    p.joints.push_back({2, 0, {axisRow(1, dgRowBounded, -4.0f, 4.0f, 2.0f)}});
    p.slots = {0.0f, 6.0f, 4.0f, 8.0f};
    solveOnce(*GetParam().variant, solver.get(), p, GetParam().option);
    EXPECT_EQ(solver->m_rowCount, 1);
    EXPECT_NEAR(p.slots[0], 3.0f / 1.001f, 1e-5f);
    EXPECT_EQ(p.slots[1], 0.0f);
    EXPECT_EQ(p.slots[2], 4.0f);
    EXPECT_EQ(p.slots[3], 0.0f);
    EXPECT_NEAR(p.bodies[1].m_force.x, 3.0f / 1.001f, 1e-5f);
    EXPECT_EQ(p.bodies[1].m_force.y, 0.0f);
    EXPECT_EQ(p.bodies[1].m_force.z, 0.0f);
    EXPECT_EQ(p.bodies[2].m_force.y, 0.0f);
}

// Residuals all at or below 0.0001: no iteration, the start forces stay, even
// one within 1e-5 of its bound that an iteration would snap onto it.
TEST_P(RowRules, SmallResidualsKeepStartForces) {
    SolverPtr solver(dgConstraintSolverCreate());
    Problem p = unitBody();
    const float nearBound = 5.0e-6f;
    p.joints.push_back({1, 0, {axisRow(0, dgRowBounded, 0.0f, 10.0f, 1.001f * nearBound - 5.0e-5f)}});
    p.joints.push_back({1, 0, {axisRow(1, dgRowOrdinary, -kNoBound, kNoBound, 1.001f * 2.0f)}});
    p.slots = {nearBound, 2.0f};
    solveOnce(*GetParam().variant, solver.get(), p, GetParam().option);
    EXPECT_EQ(p.slots[0], nearBound);
    EXPECT_EQ(p.slots[1], 2.0f);
}

INSTANTIATE_TEST_SUITE_P(Variants, RowRules,
                         ::testing::Values(LcpCase{&kScalar, 0}, LcpCase{&kScalar, 1}, LcpCase{&kSimd, 0},
                                           LcpCase{&kSimd, 1}),
                         [](const ::testing::TestParamInfo<LcpCase>& info) {
                             return std::string(info.param.variant->name) + "Option" +
                                    std::to_string(info.param.option);
                         });

// A row whose start force lies within 1e-5 of a bound while its residual
// pushes outwards starts fixed at that bound; otherwise it starts free.
TEST(SolverRows, RowAtBoundStartsFixed) {
    struct Case {
        float force;
        float residual;
        bool fixed;
        float bound;
    };
    const Case cases[] = {{-2.0f + 5e-6f, -0.05f, true, -2.0f}, {-2.0f + 2e-5f, -0.05f, false, 0.0f},
                          {-2.0f + 5e-6f, 0.05f, false, 0.0f},  {2.0f - 5e-6f, 0.05f, true, 2.0f},
                          {2.0f - 5e-6f, -0.05f, false, 0.0f},  {2.0f - 2e-5f, 0.05f, false, 0.0f}};
    for (const Variant* v : {&kScalar, &kSimd}) {
        for (const Case& c : cases) {
            SolverPtr solver(dgConstraintSolverCreate());
            Problem p = unitBody();
            p.joints.push_back({1, 0, {axisRow(0, dgRowBounded, -2.0f, 2.0f, 0.0f)}});
            p.joints.push_back({1, 0, {axisRow(1, dgRowOrdinary, -kNoBound, kNoBound, 0.0f)}});
            load(solver.get(), p);
            v->setup(solver.get(), 2, 2);
            for (int32_t i = 0; i < 2; i++) {
                solver->m_permutation[i] = i;
                solver->m_inversePermutation[i] = i;
            }
            solver->m_force[0] = c.force;
            solver->m_force[1] = 0.0f;
            v->residual(solver.get(), 2);
            solver->m_residual[0] = c.residual;
            const int32_t free = v->gradient(solver.get(), 2);
            SCOPED_TRACE(testing::Message() << v->name << " force " << c.force << " residual " << c.residual);
            EXPECT_EQ(free, c.fixed ? 1 : 2);
            const int32_t at = solver->m_inversePermutation[0];
            EXPECT_EQ(solver->m_force[at], c.fixed ? c.bound : c.force);
            EXPECT_EQ(at, c.fixed ? 1 : 0);
        }
    }
}

TEST(SolverRows, IterationCount) {
    struct Case {
        int32_t mode;
        int32_t rows;
        int32_t count;
    };
    const Case cases[] = {{1, 100, 25}, {5, 100, 5}, {0, 100, 100}, {1, 16, 16},
                          {1, 20, 18},  {1, 10, 10}, {5, 3, 3},     {0, 0, 0}};
    SolverPtr solver(dgConstraintSolverCreate());
    for (const Case& c : cases) {
        solver->m_iterationMode = c.mode;
        EXPECT_EQ(kScalar.iterations(solver.get(), c.rows), c.count)
            << "mode " << c.mode << " rows " << c.rows;
    }
}

// Random swaps, one at a time or noted and carried out in turn, move every
// per-row value with its row and keep the permutation and its inverse exact;
// swaps in turn put the rows where the same swaps one at a time would.
TEST(SolverRows, SwapsKeepPermutations) {
    SolverPtr solver(dgConstraintSolverCreate());
    dgConstraintSolver* s = solver.get();
    float* const arrays[] = {s->m_invDiagonal, s->m_regulariser, s->m_rightHandSide, s->m_frictionThreshold,
                             s->m_force,       s->m_residual,    s->m_direction,     s->m_product};
    const int32_t n = 67;
    for (int32_t i = 0; i < n; i++) {
        s->m_permutation[i] = s->m_inversePermutation[i] = i;
        s->m_bodyPairs[i] = {i, i + 1};
        s->m_jacobians[i].linear0.x = s->m_weightedJacobians[i].angular1.z = float(i);
        s->m_bounds[i] = dgJointRowBound{float(i), float(i + 1), i, nullptr};
        for (int a = 0; a < 8; a++) {
            arrays[a][i] = float(i + 1000 * a);
        }
    }
    auto check = [&] {
        std::vector<bool> seen(size_t(n), false);
        for (int32_t pos = 0; pos < n; pos++) {
            const int32_t row = s->m_permutation[pos];
            ASSERT_TRUE((row >= 0) && (row < n) && !seen[size_t(row)]);
            seen[size_t(row)] = true;
            EXPECT_EQ(s->m_inversePermutation[row], pos);
            EXPECT_EQ(s->m_bodyPairs[pos].body1, row + 1);
            EXPECT_EQ(s->m_jacobians[pos].linear0.x + s->m_weightedJacobians[pos].angular1.z, float(2 * row));
            EXPECT_EQ(s->m_bounds[pos].normalIndex + s->m_bounds[pos].upper, float(2 * row + 1));
            for (int a = 0; a < 8; a++) {
                EXPECT_EQ(arrays[a][pos], float(row + 1000 * a));
            }
        }
    };
    std::mt19937 rng(7);
    for (int32_t swap = 0; swap < 5000; swap++) {
        (swap % 2 ? kScalar : kSimd).swap(s, int32_t(rng() % n), int32_t(rng() % n));
    }
    check();
    for (int32_t round = 0; round < 40; round++) {
        const int32_t step = (round % 4 < 2) ? 1 : -1;
        const int32_t count = int32_t(rng() % uint32_t(n + 1));
        const int32_t partner = (step > 0) ? int32_t(rng() % uint32_t(n - count + 1)) : n - 1 - int32_t(rng() % uint32_t(n - count + 1));
        std::vector<int32_t> expected(s->m_permutation, s->m_permutation + n);
        for (int32_t k = 0; k < count; k++) {
            s->m_moves[k] = int32_t(rng() % n);
            std::swap(expected[size_t(s->m_moves[k])], expected[size_t(partner + k * step)]);
        }
        (round % 2 ? kScalar : kSimd).swapInTurn(s, s->m_moves, count, partner, step);
        EXPECT_EQ(std::vector<int32_t>(s->m_permutation, s->m_permutation + n), expected);
        check();
    }
    // No exchange noted: the partner a pass ends on may stand one past
    // either end of the rows, and nothing moves.
    const std::vector<int32_t> before(s->m_permutation, s->m_permutation + n);
    for (const int32_t partner : {-1, n, s->m_rowCapacity}) {
        kScalar.swapInTurn(s, s->m_moves, 0, partner, -1);
        kSimd.swapInTurn(s, s->m_moves, 0, partner, 1);
    }
    EXPECT_EQ(std::vector<int32_t>(s->m_permutation, s->m_permutation + n), before);
    check();
}

// Islands past 512 slots and 16384 rows grow the workspace (doubling, kept)
// while their rows are appended, keep what was gathered and solve; when the
// block cannot be had the workspace stays as it was and the rows are refused.
TEST(SolverWorkspace, GrowsForLargeIslands) {
    SolverPtr solver(dgConstraintSolverCreate());
    dgConstraintSolver* s = solver.get();
    // Every array starts on a cache line, before and after growing.
    auto expectLineAligned = [s] {
        const void* const arrays[] = {s->m_bodies,        s->m_invInertia,      s->m_bodyPairs,   s->m_jacobians,
                                      s->m_weightedJacobians, s->m_bounds,      s->m_invDiagonal, s->m_regulariser,
                                      s->m_rightHandSide, s->m_frictionThreshold, s->m_force,     s->m_residual,
                                      s->m_direction,     s->m_product,         s->m_permutation, s->m_inversePermutation,
                                      s->m_moves,         s->m_joints};
        for (const void* array : arrays) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(array) % 64, 0u);
        }
    };
    expectLineAligned();
    EXPECT_EQ(s->m_slotCapacity, 512);
    EXPECT_EQ(s->m_rowCapacity, 16384);
    EXPECT_EQ(dgScalarSolverMemorySize(),
              sizeof(dgConstraintSolver) + s->m_blockBytes[0] + s->m_blockBytes[1] + s->m_blockBytes[2]);
    EXPECT_EQ(dgSimdSolverMemorySize(), dgScalarSolverMemorySize());

    // One joint of six rows per body, one along each linear and angular axis.
    const int32_t bodies = 3100;
    Problem p(bodies);
    for (int32_t slot = 1; slot <= bodies; slot++) {
        p.setBody(slot, 1.0f, dgVector(1, 1, 1, 0), dgGetIdentityMatrix());
        TestJoint joint{slot, 0, {}};
        for (int axis = 0; axis < 6; axis++) {
            const float rhs = float((6 * slot + axis) % 13);
            joint.rows.push_back(axisRow(axis + axis / 3, dgRowOrdinary, -kNoBound, kNoBound, rhs));
        }
        p.joints.push_back(joint);
    }
    solveOnce(kScalar, s, p, 0);
    expectLineAligned();
    EXPECT_EQ(s->m_slotCapacity, 4096);
    EXPECT_EQ(s->m_rowCapacity, 32768);
    EXPECT_EQ(s->m_rowCount, 6 * bodies);
    for (int32_t row = 0; row < 6 * bodies; row++) {
        ASSERT_NEAR(p.slots[size_t(row)], float((row + 6) % 13) / 1.001f, 1e-4f) << row;
    }
    EXPECT_EQ(p.bodies[size_t(bodies)].m_torque.z, p.slots[size_t(6 * bodies - 1)]);

    // Each kind grows alone and the others stay where they are: a grown kind
    // keeps its slots, or its rows up to the row count (none when the rows
    // grow before any is made).
    const int32_t rows = s->m_rowCount;
    const std::vector<float> rhs(s->m_rightHandSide, s->m_rightHandSide + rows);
    const std::vector<dgBody*> slots(s->m_bodies, s->m_bodies + bodies + 1);
    const dgSolverJacobian* const jacobians = s->m_jacobians;
    ASSERT_TRUE(dgConstraintSolverReserve(s, 5000, 0, 0));
    EXPECT_EQ(s->m_jacobians, jacobians);
    dgBody** const bodySlots = s->m_bodies;
    for (const int32_t rowCount : {rows, 0}) {
        s->m_rowCount = rowCount;
        ASSERT_TRUE(dgConstraintSolverReserve(s, 0, 2 * s->m_rowCapacity, 0));
        EXPECT_EQ(s->m_bodies, bodySlots);
        EXPECT_EQ(std::vector<dgBody*>(s->m_bodies, s->m_bodies + bodies + 1), slots);
        EXPECT_EQ(std::vector<float>(s->m_rightHandSide, s->m_rightHandSide + rowCount),
                  std::vector<float>(rhs.begin(), rhs.begin() + rowCount));
        expectLineAligned();
    }
    EXPECT_EQ(s->m_rowCapacity, 131072);

    // Refused blocks, with rows to keep and with none.
    CountingHooks hooks;
    const std::vector<void*> blocks(std::begin(s->m_blocks), std::end(s->m_blocks));
    for (const int32_t rowCount : {rows, 0}) {
        s->m_rowCount = rowCount;
        hooks.failAfter(0);
        EXPECT_FALSE(dgConstraintSolverReserve(s, 1, 200000, 1));
        EXPECT_FALSE(dgConstraintSolverReserve(s, 10000, 1, 1));
        EXPECT_FALSE(dgConstraintSolverReserve(s, 1, 1, 100000));
        // Two kinds at once, the second block refused: the first goes back.
        hooks.failAfter(1);
        EXPECT_FALSE(dgConstraintSolverReserve(s, 10000, 200000, 1));
        EXPECT_EQ(hooks.liveBlocks(), 0);
        EXPECT_EQ(std::vector<void*>(std::begin(s->m_blocks), std::end(s->m_blocks)), blocks);
    }
    hooks.failAfter(0);
    EXPECT_EQ(s->m_rowCapacity, 131072);
    EXPECT_EQ(s->m_slotCapacity, 8192);
    s->m_rowCount = s->m_rowCapacity - 10;
    EXPECT_FALSE(dgConstraintSolverAppendRows(s, 48, 1, 0, 1.0f));
    EXPECT_EQ(s->m_rowCount, s->m_rowCapacity - 10);
}

// The row product of both variants, bit for bit, on islands whose rows
// against the static slot carry a Jacobian for the static side too, as
// contacts with the ground do: that side weighs nothing, and the product
// must come out as if it were summed.
TEST(SolverRows, VariantsShareTheProductWithStaticSideJacobians) {
    std::mt19937 rng(17);
    SolverPtr solver(dgConstraintSolverCreate());
    for (int32_t trial = 0; trial < 200; trial++) {
        Problem p = randomProblem(rng, true, 16, 32);
        for (TestJoint& joint : p.joints) {
            for (TestRow& row : joint.rows) {
                for (int k = 8; (k < 16) && (joint.slot1 == 0); k++) {
                    row.jacobian[k] = ((k % 4) == 3) ? 0.0f : uniform(rng, -1.0f, 1.0f);
                }
            }
        }
        std::vector<float> forces(size_t(p.rowCount()));
        for (float& f : forces) {
            f = uniform(rng, -10.0f, 10.0f);
        }
        std::vector<float> products[2];
        for (int variant = 0; variant < 2; variant++) {
            const Variant& v = variant ? kSimd : kScalar;
            load(solver.get(), p);
            v.setup(solver.get(), solver->m_rowCount, int32_t(p.bodies.size()));
            std::copy(forces.begin(), forces.end(), solver->m_force);
            v.residual(solver.get(), solver->m_rowCount);
            products[variant].assign(solver->m_product, solver->m_product + solver->m_rowCount);
        }
        ASSERT_EQ(products[0].size(), forces.size());
        EXPECT_EQ(products[0], products[1]) << "trial " << trial;
    }
}

// Both variants are repeatable bit for bit and agree closely on larger
// islands (three warm-started solves each).
TEST(SolverRows, VariantsAgreeAndRepeat) {
    std::mt19937 rng(99);
    SolverPtr solver(dgConstraintSolverCreate());
    for (int32_t trial = 0; trial < 40; trial++) {
        const Problem problem = randomProblem(rng, true, 16, 32);
        std::vector<float> results[2][2];
        for (int variant = 0; variant < 2; variant++) {
            for (int run = 0; run < 2; run++) {
                Problem p = problem;
                p.slots.assign(size_t(p.rowCount()), 0.0f);
                for (int step = 0; step < 3; step++) {
                    solveOnce(variant ? kSimd : kScalar, solver.get(), p, uint32_t(trial % 2));
                }
                results[variant][run] = forcesOf(solver.get(), p.rowCount());
            }
            EXPECT_EQ(std::memcmp(results[variant][0].data(), results[variant][1].data(),
                                  results[variant][0].size() * sizeof(float)),
                      0);
        }
        for (size_t i = 0; i < results[0][0].size(); i++) {
            EXPECT_NEAR(results[0][0][i], results[1][0][i], 1e-5f * (1.0f + std::fabs(results[0][0][i])))
                << "trial " << trial << " row " << i;
        }
    }
}

}  // namespace

// Row set-up and bounded LCP solve of one island, per variant: a stack of unit
// boxes under gravity, each resting on the one below (the bottom one on the
// static world) through four contact points of a normal and two friction
// rows. Force slots carry over from one iteration to the next, as between
// steps.
#include "dgConstraintSolver.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

struct Stack {
    std::vector<dgBody> bodies;
    std::vector<float> slots;
    int32_t boxes;

    explicit Stack(int32_t count) : bodies(size_t(count + 1)), slots(size_t(count) * 12, 0.0f), boxes(count) {
        for (int32_t slot = 0; slot <= count; slot++) {
            dgBody& body = bodies[size_t(slot)];
            body.clear();
            body.m_invMass = dgVector(6.0f, 6.0f, 6.0f, 1.0f);
            body.m_matrix = dgGetIdentityMatrix();
            body.m_matrix.position = dgVector(0.0f, float(slot) - 0.5f, 0.0f, 1.0f);
        }
    }

    // What the island walk does before the solve: bodies, inverse inertia and
    // each contact's rows through the row block.
    void load(dgConstraintSolver* s) {
        s->m_rowCount = 0;
        dgConstraintSolverReserve(s, boxes + 1, boxes * 12, 1);
        for (int32_t slot = 1; slot <= boxes; slot++) {
            dgBody& body = bodies[size_t(slot)];
            body.m_force = dgVector(0.0f, -9.8f, 0.0f, 0.0f);
            body.m_torque = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
            s->m_bodies[slot] = &body;
            dgMatrix inertia = dgGetIdentityMatrix();
            inertia.front.x = inertia.up.y = inertia.right.z = 6.0f;
            s->m_invInertia[slot] = inertia;
        }
        const dgVector axes[3] = {dgVector(0, 1, 0, 0), dgVector(1, 0, 0, 0), dgVector(0, 0, 1, 0)};
        for (int32_t slot = 1; slot <= boxes; slot++) {
            const dgVector c0 = bodies[size_t(slot)].m_matrix.position;
            const dgVector c1 = (slot > 1) ? bodies[size_t(slot - 1)].m_matrix.position : c0;
            dgJointRowBlock& block = s->m_rowBlock;
            for (int32_t point = 0; point < 4; point++) {
                const dgVector p(c0.x + ((point & 1) ? 0.5f : -0.5f), c0.y - 0.5f,
                                 c0.z + ((point & 2) ? 0.5f : -0.5f), 1.0f);
                const dgVector r0 = p - c0;
                const dgVector r1 = p - c1;
                for (int32_t k = 0; k < 3; k++) {
                    const int32_t row = 3 * point + k;
                    const dgVector& n = axes[k];
                    const dgVector a0 = r0.cross(n);
                    const dgVector a1 = n.cross(r1);
                    const bool second = slot > 1;
                    const float jacobian[16] = {n.x,
                                                n.y,
                                                n.z,
                                                0.0f,
                                                a0.x,
                                                a0.y,
                                                a0.z,
                                                0.0f,
                                                second ? -n.x : 0.0f,
                                                second ? -n.y : 0.0f,
                                                second ? -n.z : 0.0f,
                                                0.0f,
                                                second ? a1.x : 0.0f,
                                                second ? a1.y : 0.0f,
                                                second ? a1.z : 0.0f,
                                                0.0f};
                    for (int32_t j = 0; j < 16; j++) {
                        block.jacobians[row][j] = jacobian[j];
                    }
                    float* const slotForce = &slots[size_t((slot - 1) * 12 + row)];
                    block.bounds[row] = (k == 0) ? dgJointRowBound{0.0f, 1.0e15f, dgRowOneSided, slotForce}
                                                 : dgJointRowBound{-0.6f, 0.6f, 3 * point, slotForce};
                    block.rightHandSides[row] = 0.0f;
                    block.regularisers[row] = 1.0f;
                }
            }
            const float threshold = s->m_frictionScale / (1.0f + ((slot > 1) ? 1.0f : 0.0f));
            dgConstraintSolverAppendRows(s, 12, slot, slot - 1, threshold);
        }
    }
};

template <class Variant>
void benchStack(benchmark::State& state) {
    dgConstraintSolver* const solver = dgConstraintSolverCreate();
    solver->m_iterationMode = 1;
    Stack stack(int32_t(state.range(0)));
    for (auto _ : state) {
        stack.load(solver);
        Variant::dgSolverSetupRows(solver, solver->m_rowCount, stack.boxes + 1);
        Variant::dgSolverSolveLcp(solver);
        benchmark::DoNotOptimize(stack.slots.data());
    }
    dgConstraintSolverDestroy(solver);
}

void BM_SolverRowsScalarStack(benchmark::State& state) {
    benchStack<dgScalarSolver>(state);
}
void BM_SolverRowsSimdStack(benchmark::State& state) {
    benchStack<dgSimdSolver>(state);
}

BENCHMARK(BM_SolverRowsScalarStack)->Arg(10)->Arg(100);
BENCHMARK(BM_SolverRowsSimdStack)->Arg(10)->Arg(100);

}  // namespace

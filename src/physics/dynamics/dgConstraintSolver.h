// The island solver's workspace and its row operations: the rows of an
// island's joints become a bounded linear complementarity problem, solved for
// the row forces with a projected, Jacobi-preconditioned conjugate gradient;
// the forces go back to the joints' force slots and onto the bodies' force and
// torque.
//
// Pass budget. The conjugate gradient fixes one row at a bound per pass and
// then starts its direction afresh, so a settling pile, where thousands of
// rows reach a bound each step, can take thousands of passes over tens of
// thousands of rows: a step's time would grow without bound with its
// island. Each island's solve therefore has a budget of passes (a pass is
// one product with A, or one projected sweep, over the rows solved):
// dgSolverPassBudget(rows) = 64 + 40 sqrt(rows), but at most 2^21 / rows
// (about two million row products; a projected sweep costs a few products),
// and never fewer than 24. An island the conjugate gradient finishes within the budget less
// the sweeps reserved below is solved exactly as without a budget; every
// island of the game and of the scene benchmark's convex scenes (S4, S10,
// S11) is. When the conjugate gradient reaches its share it stops where it
// is, and projected Gauss-Seidel sweeps from that iterate (each row in turn
// to the force that zeroes its residual, clamped to its bounds; friction
// limits follow the current normal forces), which let any number of rows
// reach their bounds in one pass, finish the solve with the passes left:
// min(16, budget / 2) of them at least.
//
// The islands of a step also share a pool of dgSolverStepWork row products:
// a collapsing pile breaks into dozens of mid-sized islands, each within its
// own budget, whose sum could reach ten times one island's two million. An
// island whose whole budget is at most dgSolverWholeWork products (up to 127
// rows: every island of the game) always gets all of it; a larger one gets
// no more passes than the pool has products left for its rows, and at least
// 24 passes, and what its solve took leaves the pool. The pool is filled
// again for the step's main pass and for each vehicle sub-step.
//
// The world owns one workspace. The fixed part (static body, row block,
// settings) is the record itself; the per-slot and per-row arrays are pointers
// into one dgMalloc block sized by the capacities held in the record, each
// array starting on a 64-byte cache line. An
// island that needs more grows the block (capacities double until they fit
// and stay that large); when growing fails the caller leaves out of the step
// what does not fit, so nothing is ever written past the arrays.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgBody.h"
#include "dgJointRowBlock.h"
#include "dgMatrix.h"
#include "dgVector.h"

class dgConstraint;
class dgWorld;

// One row's Jacobian: linear and angular parts for the row's first body, then
// for its second (w components 0).
struct alignas(16) dgSolverJacobian {
    dgVector linear0;
    dgVector angular0;
    dgVector linear1;
    dgVector angular1;
};

static_assert(sizeof(dgSolverJacobian) == 16 * sizeof(float), "a Jacobian is the row block's sixteen floats");

// Island slots of a row's two bodies (slot 0: the static body).
struct dgSolverBodyPair {
    int32_t body0;
    int32_t body1;
};

struct dgConstraintSolver {
    // Capacities of a new workspace: island slots (slot 0 is the static body)
    // and rows; island joints get as many entries as rows.
    static constexpr int32_t kDefaultSlots = 512;
    static constexpr int32_t kDefaultRows = 16384;
    // Growth stops here: beyond it the block could not be expressed to the
    // allocation hook anyway.
    static constexpr int32_t kMaxSlots = 1 << 20;
    static constexpr int32_t kMaxRows = 1 << 22;

    // Every field zero (inverse mass 0), identity rotation; island slot 0.
    dgBody m_staticBody;

    // ---- the arrays: pointers into three blocks, one for the per-slot
    // arrays, one for the per-row arrays and one for the joint list ----
    static constexpr int32_t kArrayBlocks = 3;
    void* m_blocks[kArrayBlocks];
    size_t m_blockBytes[kArrayBlocks];
    int32_t m_slotCapacity;
    int32_t m_rowCapacity;
    int32_t m_jointCapacity;

    // Per island slot. m_bodies[0] is &m_staticBody.
    dgBody** m_bodies;
    // During set-up each slot's world-space inverse inertia; during the solve
    // the same storage holds the per-slot accumulators, m_accumulators[2 s]
    // linear and m_accumulators[2 s + 1] angular for slot s.
    dgMatrix* m_invInertia;
    dgVector* m_accumulators;

    // Per row.
    dgSolverBodyPair* m_bodyPairs;
    dgSolverJacobian* m_jacobians;
    // J scaled by the bodies' inverse mass and inverse inertia.
    dgSolverJacobian* m_weightedJacobians;
    // Normal indices k >= 0 are island rows in append order (the row's place
    // is m_inversePermutation[k]).
    dgJointRowBound* m_bounds;
    // 1 / ((1 + r) d); 0 marks a row whose d = J M^-1 J^T is not positive.
    float* m_invDiagonal;
    // Holds the row's regulariser factor until set-up makes it r x d.
    float* m_regulariser;
    float* m_rightHandSide;
    // Friction rows whose larger limit is at or below this are left out (see
    // m_frictionScale). Once the solve has set a friction row's limits, its
    // entry holds the normal force they were scaled by.
    float* m_frictionThreshold;
    float* m_force;
    float* m_residual;
    float* m_direction;
    float* m_product;
    // m_permutation[row] = the row's index when it was appended;
    // m_inversePermutation is its inverse.
    int32_t* m_permutation;
    int32_t* m_inversePermutation;
    // Scratch of the solve's set-up: the rows its exchanges move, in turn.
    int32_t* m_moves;

    // The island's joints in solve order.
    dgConstraint** m_joints;

    // Filled by each joint in turn.
    dgJointRowBlock m_rowBlock;

    // ---- settings ----
    // 0: as many passes as rows; 1: 16 + sqrt(rows - 16); k >= 2: at most k.
    int32_t m_iterationMode;
    // 0: normal and bounded rows are solved first, friction rows after them
    // with limits from the solved normal forces; otherwise one solve.
    uint32_t m_solverOption;
    // Friction rows whose larger limit is at or below friction scale / (sum of
    // the two bodies' inverse masses) are left out.
    float m_frictionScale;
    int32_t m_bodyCount;
    // Rows of the island; after dgSolverSolveLcp the rows that were applied
    // (dropped rows left out).
    int32_t m_rowCount;
    // Written by dgSolverSolveLcp for the island it solves: its pass budget,
    // the passes it took (never more than the budget), and whether the
    // conjugate gradient reached its share and the projected sweeps ended
    // the solve.
    int32_t m_passBudget;
    int32_t m_passes;
    bool m_overBudget;
    // Row products the step's islands may still take (see the pool above).
    int64_t m_stepWork;
    // Whether the island's last solve left a non-finite force in one of its
    // rows' slots (set back to 0 since).
    bool m_nonFiniteRows;
    dgWorld* m_world;
    float m_timestep;
    float m_invTimestep;
};

// Builds a workspace with the default capacities (static body cleared, slot 0
// pointing at it, settings zero but for friction scale 0.25 and iteration
// mode 0). Null when either allocation fails.
dgConstraintSolver* dgConstraintSolverCreate();
// The same with capacities of its own (each at least 1; as many joints as
// rows), for a workspace that never holds a whole island.
dgConstraintSolver* dgConstraintSolverCreateSized(int32_t slots, int32_t rows);
// Releases the workspace and its arrays; null is ignored.
void dgConstraintSolverDestroy(dgConstraintSolver* solver);
// Makes room for at least `slots` island slots, `rows` rows and `joints`
// island joints. A capacity that is too small doubles until it fits; the
// per-slot and per-joint arrays and rows [0, m_rowCount) keep their contents
// (array pointers change: re-read them).
// False, with the workspace unchanged, when the block cannot be allocated or
// a count is beyond kMaxSlots / kMaxRows; the caller then leaves out what does
// not fit.
bool dgConstraintSolverReserve(dgConstraintSolver* solver, int32_t slots, int32_t rows, int32_t joints);

// Appends the first `count` rows of the row block to the island rows, for
// bodies in island slots slot0 and slot1: Jacobian (w components 0),
// regulariser factor, right-hand side, bound record (a normal index k >= 0
// becomes k + the island row of the block's row 0), friction threshold and
// body pair; m_rowCount grows by count. Grows the workspace when needed;
// false, with nothing appended, when it cannot.
bool dgConstraintSolverAppendRows(dgConstraintSolver* solver, int32_t count, int32_t slot0, int32_t slot1,
                                  float frictionThreshold);

// Bytes a world's workspace takes with the default capacities: the record and
// its array block. Both variants work in the same layout.
size_t dgScalarSolverMemorySize();
size_t dgSimdSolverMemorySize();

// The row operations, over one variant's arithmetic. dgScalarSolver and
// dgSimdSolver run the same operations in the same order; the SIMD one does
// its row loops four rows at a time with packed operations.
//
// The island walk calls dgSolverSetupRows and then dgSolverSolveLcp; the other
// operations are their parts. All take the workspace and work on its first
// rows (rows [0, n) are the ones still free; rows leave by being swapped to
// the end).
template <class Kernels>
struct dgSolverRows {
    // Mass-weighted Jacobians, d = J M^-1 J^T, b -= what the bodies' force
    // and torque already do along the row, regulariser term r d and inverse
    // diagonal 1 / ((1 + r) d) with r = factor x 0.001. A row whose d is not
    // positive (or whose inverse diagonal would not be finite) gets inverse
    // diagonal 0: the solve leaves it out. Slot 0's inverse inertia becomes
    // zero. Stores rowCount and bodyCount in the workspace.
    static void dgSolverSetupRows(dgConstraintSolver* solver, int32_t rowCount, int32_t bodyCount);
    // Solves the workspace's m_rowCount rows, writes the forces to the force
    // slots and applies them. Rows left out (zero diagonal: slot set to 0;
    // friction rows whose limits are at or below their threshold: slot kept)
    // apply nothing; m_rowCount becomes the number of rows applied. No applied
    // row ends fixed at a bound its residual pushes it off (readmitRows).
    static void dgSolverSolveLcp(dgConstraintSolver* solver);
    // Projected conjugate gradient on rows [0, n), whose residuals must be
    // current. Returns the number of rows still free; rows [result, n) were
    // left at a bound.
    static int32_t dgSolverConjugateGradient(dgConstraintSolver* solver, int32_t rowCount);
    // residual = b - A f for rows [0, n); returns the largest |residual|.
    static float dgSolverResidual(dgConstraintSolver* solver, int32_t rowCount);
    // y = A x for rows [0, n) with A = J M^-1 J^T + diag(r d), through the
    // per-slot accumulators (the inverse inertia matrices are gone after it).
    static void dgSolverMultiply(dgConstraintSolver* solver, int32_t rowCount, const float* x, float* y);
    // Exchanges rows i and j in every per-row array and keeps both
    // permutations exact.
    static void dgSolverSwapRows(dgConstraintSolver* solver, int32_t i, int32_t j);
    // Exchanges row moves[k] with row partner + k step for k = 0 .. count-1 in
    // turn, one per-row array at a time, and keeps both permutations exact:
    // the rows of dgSolverSwapRows called in that order, without its reads
    // and writes scattered over every array at once.
    static void dgSolverSwapRowsInTurn(dgConstraintSolver* solver, const int32_t* moves, int32_t count,
                                       int32_t partner, int32_t step);
    // Pass limit of the conjugate gradient for n free rows.
    static int32_t dgSolverIterationCount(const dgConstraintSolver* solver, int32_t rowCount);
    // Projected Gauss-Seidel sweeps over rows [0, n) from their current
    // forces (see the pass budget above); counts them as passes.
    static void dgSolverProjectedSweeps(dgConstraintSolver* solver, int32_t rowCount, int32_t sweeps);
    // Adds f x J of rows [0, m_rowCount) to their bodies' force and torque
    // (the static slot absorbs its share).
    static void dgSolverApplyForces(dgConstraintSolver* solver);

private:
    // Start of the conjugate gradient: rows at a bound whose residual pushes
    // outwards leave the free set; returns the free count, with direction,
    // rho and the largest residual of the rest.
    static int32_t startDirection(dgConstraintSolver* solver, int32_t rowCount, float& rho, float& largest);
    // End of the solve over rows [0, n), of which [freeRows, n) are fixed at a
    // bound: a fixed row whose residual points off its bound by more than the
    // solve's tolerance is freed again and the free rows solved anew, at most
    // a few times.
    static void readmitRows(dgConstraintSolver* solver, int32_t freeRows, int32_t rowCount);
    // The end of dgSolverSolveLcp over the rows still applied.
    static void finish(dgConstraintSolver* solver, int32_t applied, bool staged);
};

// The pass budget of an island's solve over `rows` rows (see above) with
// `workLeft` products left in the step's pool, and the sweeps of it kept for
// the projected finish.
constexpr int64_t dgSolverStepWork = int64_t(1) << 22;
constexpr int64_t dgSolverWholeWork = int64_t(1) << 16;
int32_t dgSolverPassBudget(int32_t rows, int64_t workLeft = dgSolverStepWork);
int32_t dgSolverReservedSweeps(int32_t budget);

struct dgScalarSolverKernels;
struct dgSimdSolverKernels;
using dgScalarSolver = dgSolverRows<dgScalarSolverKernels>;
using dgSimdSolver = dgSolverRows<dgSimdSolverKernels>;

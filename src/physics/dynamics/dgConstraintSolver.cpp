#include "dgConstraintSolver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "dgAssert.h"
#include "dgMemory.h"
#include "dgSolverKernels.h"

namespace {

// Also the index of the kind's block in m_blocks.
enum ArrayCapacity { kPerSlot, kPerRow, kPerJoint };
static_assert(kPerJoint + 1 == dgConstraintSolver::kArrayBlocks, "a block for each capacity kind");

// Every array starts on a cache line: a row's 64-byte Jacobian then takes one
// line instead of two, and the products and sweeps read half the lines.
constexpr size_t kArrayAlignment = 64;
// dgMalloc's blocks are aligned to 16 bytes: this much more gives room to
// start the arrays on a line.
constexpr size_t kAlignmentSlack = kArrayAlignment - 16;

size_t alignUp(size_t bytes) {
    return (bytes + kArrayAlignment - 1) & ~(kArrayAlignment - 1);
}

// Visits every array of the block, as a pointer to its member, in layout
// order with its capacity kind.
template <class F>
void forEachArray(F&& f) {
    f(&dgConstraintSolver::m_bodies, kPerSlot);
    f(&dgConstraintSolver::m_invInertia, kPerSlot);
    f(&dgConstraintSolver::m_bodyPairs, kPerRow);
    f(&dgConstraintSolver::m_jacobians, kPerRow);
    f(&dgConstraintSolver::m_weightedJacobians, kPerRow);
    f(&dgConstraintSolver::m_bounds, kPerRow);
    f(&dgConstraintSolver::m_invDiagonal, kPerRow);
    f(&dgConstraintSolver::m_regulariser, kPerRow);
    f(&dgConstraintSolver::m_rightHandSide, kPerRow);
    f(&dgConstraintSolver::m_frictionThreshold, kPerRow);
    f(&dgConstraintSolver::m_force, kPerRow);
    f(&dgConstraintSolver::m_residual, kPerRow);
    f(&dgConstraintSolver::m_direction, kPerRow);
    f(&dgConstraintSolver::m_product, kPerRow);
    f(&dgConstraintSolver::m_permutation, kPerRow);
    f(&dgConstraintSolver::m_inversePermutation, kPerRow);
    f(&dgConstraintSolver::m_moves, kPerRow);
    f(&dgConstraintSolver::m_joints, kPerJoint);
}

// Visits every per-row array whose entries move with their rows (all but
// the inverse permutation and the exchange scratch).
template <class F>
void forEachRowArray(dgConstraintSolver* s, F&& f) {
    f(s->m_bodyPairs);
    f(s->m_jacobians);
    f(s->m_weightedJacobians);
    f(s->m_bounds);
    f(s->m_invDiagonal);
    f(s->m_regulariser);
    f(s->m_rightHandSide);
    f(s->m_frictionThreshold);
    f(s->m_force);
    f(s->m_residual);
    f(s->m_direction);
    f(s->m_product);
    f(s->m_permutation);
}

// Element type of the array a member points to.
template <class T>
struct ArrayElement;
template <class T>
struct ArrayElement<T * dgConstraintSolver::*> {
    using type = T;
};

// Bytes of the block holding the arrays of one capacity kind, `capacity`
// entries each; each array starts on a cache line.
size_t arrayBlockBytes(ArrayCapacity which, int32_t capacity) {
    size_t bytes = kAlignmentSlack;
    forEachArray([&](auto member, ArrayCapacity kind) {
        using T = typename ArrayElement<decltype(member)>::type;
        if (kind == which) {
            bytes += alignUp(size_t(capacity) * sizeof(T));
        }
    });
    return bytes;
}

// Points the arrays of one kind into `block`, `capacity` entries each, with
// the first `keep` entries of each copied from where they were.
void placeArrays(dgConstraintSolver* s, ArrayCapacity which, char* block, size_t bytes, int32_t capacity,
                 size_t keep) {
    const size_t lead = (kArrayAlignment - (reinterpret_cast<uintptr_t>(block) & (kArrayAlignment - 1))) &
                        (kArrayAlignment - 1);
    DG_ASSERT(lead <= kAlignmentSlack);
    size_t offset = lead;
    forEachArray([&](auto member, ArrayCapacity kind) {
        using T = typename ArrayElement<decltype(member)>::type;
        if (kind != which) {
            return;
        }
        T*& array = s->*member;
        T* const moved = reinterpret_cast<T*>(block + offset);
        if (array && keep) {
            std::memcpy(static_cast<void*>(moved), static_cast<const void*>(array), keep * sizeof(T));
        }
        array = moved;
        offset += alignUp(size_t(capacity) * sizeof(T));
    });
    DG_ASSERT(offset + kAlignmentSlack - lead == bytes);
    (void)bytes;
}

// Moves the arrays whose capacity changes to new blocks of exactly these
// capacities, keeping the contents that fit. False, with nothing changed,
// when a block cannot be had.
//
// Each kind has a block of its own: an island that outgrows its slots then
// moves only the slots' arrays, and the row arrays, many megabytes on a pile
// of thousands of boxes, keep the pages they have. Every page of a new block
// is a page fault the first time it is written, and on a large island one
// step paid for a whole new block's worth of them.
bool moveArrays(dgConstraintSolver* s, int32_t slots, int32_t rows, int32_t joints) {
    const int32_t wanted[dgConstraintSolver::kArrayBlocks] = {slots, rows, joints};
    const int32_t held[dgConstraintSolver::kArrayBlocks] = {s->m_slotCapacity, s->m_rowCapacity,
                                                             s->m_jointCapacity};
    // Rows grown before any is made (an island's room, taken before its
    // joints make their rows) keep nothing: their block is reallocated in
    // place of a new one, and keeps the pages it has. It goes last, the one
    // step that cannot be undone.
    const bool reuseRows = s->m_blocks[kPerRow] && (wanted[kPerRow] != held[kPerRow]) && (s->m_rowCount <= 0);
    char* blocks[dgConstraintSolver::kArrayBlocks] = {};
    size_t bytes[dgConstraintSolver::kArrayBlocks] = {};
    bool failed = false;
    for (int32_t k = 0; (k < dgConstraintSolver::kArrayBlocks) && !failed; ++k) {
        if (s->m_blocks[k] && (wanted[k] == held[k])) {
            continue;
        }
        bytes[k] = arrayBlockBytes(ArrayCapacity(k), wanted[k]);
        if ((k != kPerRow) || !reuseRows) {
            blocks[k] = static_cast<char*>(dgMalloc(bytes[k]));
            failed = !blocks[k];
        }
    }
    if (!failed && reuseRows) {
        blocks[kPerRow] = static_cast<char*>(dgRealloc(s->m_blocks[kPerRow], bytes[kPerRow]));
        failed = !blocks[kPerRow];
        if (!failed) {
            // Released by the reallocation.
            s->m_blocks[kPerRow] = nullptr;
        }
    }
    if (failed) {
        for (char* block : blocks) {
            dgFree(block);
        }
        return false;
    }
    for (int32_t k = 0; k < dgConstraintSolver::kArrayBlocks; ++k) {
        if (!blocks[k]) {
            continue;
        }
        // Entries past the old capacity are written before they are read,
        // and so are the rows past the island's count: copying them would
        // touch the new block's pages for nothing.
        size_t keep = size_t(std::min(held[k], wanted[k]));
        if (k == kPerRow) {
            keep = std::min(keep, size_t(std::max(s->m_rowCount, 0)));
        }
        placeArrays(s, ArrayCapacity(k), blocks[k], bytes[k], wanted[k], keep);
        dgFree(s->m_blocks[k]);
        s->m_blocks[k] = blocks[k];
        s->m_blockBytes[k] = bytes[k];
    }
    s->m_slotCapacity = slots;
    s->m_rowCapacity = rows;
    s->m_jointCapacity = joints;
    s->m_accumulators = reinterpret_cast<dgVector*>(s->m_invInertia);
    s->m_bodies[0] = &s->m_staticBody;
    return true;
}

// Doubles `capacity` until it holds `wanted`.
int32_t grownCapacity(int32_t capacity, int32_t wanted) {
    int64_t grown = std::max(capacity, 1);
    while (grown < wanted) {
        grown *= 2;
    }
    return int32_t(grown);
}

}  // namespace

dgConstraintSolver* dgConstraintSolverCreate() {
    return dgConstraintSolverCreateSized(dgConstraintSolver::kDefaultSlots, dgConstraintSolver::kDefaultRows);
}

dgConstraintSolver* dgConstraintSolverCreateSized(int32_t slots, int32_t rows) {
    void* const storage = dgMalloc(sizeof(dgConstraintSolver));
    if (!storage) {
        return nullptr;
    }
    // Value-initialised: every field zero, then the static body's identity
    // rotation from its constructor.
    dgConstraintSolver* const s = new (storage) dgConstraintSolver();
    s->m_frictionScale = 0.25f;
    // Operations called outside a solve are not budgeted.
    s->m_passBudget = INT32_MAX;
    s->m_stepWork = dgSolverStepWork;
    if (!moveArrays(s, std::max(slots, 1), std::max(rows, 1), std::max(rows, 1))) {
        s->~dgConstraintSolver();
        dgFree(storage);
        return nullptr;
    }
    // A new workspace starts cleared. A grown one leaves what it adds as the
    // allocator gave it: clearing would touch every page of a block twice
    // the island's size in the one step it grew in.
    for (int32_t k = 0; k < dgConstraintSolver::kArrayBlocks; ++k) {
        std::memset(s->m_blocks[k], 0, s->m_blockBytes[k]);
    }
    s->m_bodies[0] = &s->m_staticBody;
    return s;
}

void dgConstraintSolverDestroy(dgConstraintSolver* solver) {
    if (!solver) {
        return;
    }
    for (void* block : solver->m_blocks) {
        dgFree(block);
    }
    solver->~dgConstraintSolver();
    dgFree(solver);
}

bool dgConstraintSolverReserve(dgConstraintSolver* solver, int32_t slots, int32_t rows, int32_t joints) {
    DG_ASSERT(solver && solver->m_blocks[kPerRow]);
    if ((slots <= solver->m_slotCapacity) && (rows <= solver->m_rowCapacity) &&
        (joints <= solver->m_jointCapacity)) {
        return true;
    }
    if ((slots > dgConstraintSolver::kMaxSlots) || (rows > dgConstraintSolver::kMaxRows) ||
        (joints > dgConstraintSolver::kMaxRows)) {
        return false;
    }
    return moveArrays(solver, grownCapacity(solver->m_slotCapacity, slots),
                      grownCapacity(solver->m_rowCapacity, rows),
                      grownCapacity(solver->m_jointCapacity, joints));
}

bool dgConstraintSolverAppendRows(dgConstraintSolver* solver, int32_t count, int32_t slot0, int32_t slot1,
                                  float frictionThreshold) {
    DG_ASSERT((count >= 0) && (count <= dgJointRowBlock::kMaxRows));
    DG_ASSERT((slot0 >= 0) && (slot0 < solver->m_slotCapacity) && (slot1 >= 0) &&
              (slot1 < solver->m_slotCapacity));
    if ((count <= 0) || (count > dgJointRowBlock::kMaxRows)) {
        return count == 0;
    }
    const int32_t first = solver->m_rowCount;
    if (!dgConstraintSolverReserve(solver, 0, first + count, 0)) {
        return false;
    }
    const dgJointRowBlock& block = solver->m_rowBlock;
    for (int32_t r = 0; r < count; r++) {
        const int32_t i = first + r;
        const float* const j = block.jacobians[r];
        dgSolverJacobian& jacobian = solver->m_jacobians[i];
        jacobian.linear0 = dgVector(j[0], j[1], j[2], 0.0f);
        jacobian.angular0 = dgVector(j[4], j[5], j[6], 0.0f);
        jacobian.linear1 = dgVector(j[8], j[9], j[10], 0.0f);
        jacobian.angular1 = dgVector(j[12], j[13], j[14], 0.0f);
        dgJointRowBound& bound = solver->m_bounds[i];
        bound.lower = block.bounds[r].lower;
        bound.upper = block.bounds[r].upper;
        bound.normalIndex = block.bounds[r].normalIndex;
        bound.forceSlot = block.bounds[r].forceSlot;
        DG_ASSERT((bound.normalIndex >= dgRowBounded) && (bound.normalIndex < count));
        if (bound.normalIndex >= 0) {
            bound.normalIndex += first;
        }
        solver->m_regulariser[i] = block.regularisers[r];
        solver->m_rightHandSide[i] = block.rightHandSides[r];
        solver->m_frictionThreshold[i] = frictionThreshold;
        solver->m_bodyPairs[i].body0 = slot0;
        solver->m_bodyPairs[i].body1 = slot1;
    }
    solver->m_rowCount = first + count;
    return true;
}

size_t dgScalarSolverMemorySize() {
    return sizeof(dgConstraintSolver) + arrayBlockBytes(kPerSlot, dgConstraintSolver::kDefaultSlots) +
           arrayBlockBytes(kPerRow, dgConstraintSolver::kDefaultRows) +
           arrayBlockBytes(kPerJoint, dgConstraintSolver::kDefaultRows);
}

size_t dgSimdSolverMemorySize() {
    return dgScalarSolverMemorySize();
}

// ---- row operations ----

namespace {

constexpr float kSkipResidual = 0.0001f;
constexpr float kFreeResidual = 0.1f;
constexpr float kAtBound = 1.0e-5f;
constexpr float kTinyCurvature = 1.0e-16f;
constexpr float kTinyRho = 1.0e-17f;
constexpr float kTinyStep = 1.0e-8f;
// Passes of the final check that puts rows back into the free set.
constexpr int32_t kReadmitPasses = 8;
// The pass budget (see the header): 64 + 40 sqrt(rows), at most this many
// row products, at least 24 passes, of which up to 16 go to the sweeps.
constexpr double kBudgetBase = 64.0;
constexpr double kBudgetPerRoot = 40.0;
constexpr double kBudgetWork = double(1 << 21);
constexpr int32_t kMinBudget = 24;
constexpr int32_t kReservedSweeps = 16;

// Takes one pass of the island's budget for the conjugate gradient and the
// products around it; false, marking the solve over budget, once they have
// had their share.
bool takePass(dgConstraintSolver* solver) {
    const int32_t share = solver->m_passBudget - dgSolverReservedSweeps(solver->m_passBudget);
    if (solver->m_overBudget || (solver->m_passes >= share)) {
        solver->m_overBudget = true;
        return false;
    }
    solver->m_passes++;
    return true;
}

}  // namespace

int32_t dgSolverPassBudget(int32_t rows, int64_t workLeft) {
    const double n = double(std::max(rows, 1));
    double budget = std::min(kBudgetBase + kBudgetPerRoot * std::sqrt(n), kBudgetWork / n);
    if (double(int64_t(budget)) * n > double(dgSolverWholeWork)) {
        budget = std::min(budget, double(std::max(workLeft, int64_t(0))) / n);
    }
    return std::max(int32_t(budget), kMinBudget);
}

int32_t dgSolverReservedSweeps(int32_t budget) {
    return std::min(kReservedSweeps, budget / 2);
}

template <class K>
void dgSolverRows<K>::dgSolverSetupRows(dgConstraintSolver* solver, int32_t rowCount, int32_t bodyCount) {
    DG_ASSERT((rowCount >= 0) && (rowCount <= solver->m_rowCapacity));
    DG_ASSERT((bodyCount >= 1) && (bodyCount <= solver->m_slotCapacity));
    solver->m_rowCount = rowCount;
    solver->m_bodyCount = bodyCount;
    solver->m_invInertia[0] = dgGetZeroMatrix();
    K::setupRows(solver, rowCount);
}

template <class K>
void dgSolverRows<K>::dgSolverMultiply(dgConstraintSolver* solver, int32_t rowCount, const float* x,
                                       float* y) {
    K::multiply(solver, rowCount, x, y);
}

template <class K>
float dgSolverRows<K>::dgSolverResidual(dgConstraintSolver* solver, int32_t rowCount) {
    K::multiply(solver, rowCount, solver->m_force, solver->m_product);
    return K::residual(solver, rowCount);
}

template <class K>
int32_t dgSolverRows<K>::dgSolverIterationCount(const dgConstraintSolver* solver, int32_t rowCount) {
    const int32_t mode = solver->m_iterationMode;
    DG_ASSERT(mode >= 0);
    if (mode == 1) {
        const int32_t extra = int32_t(std::sqrt(float(std::max(rowCount - 16, 0))));
        return std::min(rowCount, 16 + extra);
    }
    if (mode >= 2) {
        return std::min(mode, rowCount);
    }
    return rowCount;
}

template <class K>
void dgSolverRows<K>::dgSolverSwapRows(dgConstraintSolver* solver, int32_t i, int32_t j) {
    DG_ASSERT((i >= 0) && (j >= 0) && (i < solver->m_rowCapacity) && (j < solver->m_rowCapacity));
    if (i == j) {
        return;
    }
    forEachRowArray(solver, [i, j](auto* rows) { std::swap(rows[i], rows[j]); });
    solver->m_inversePermutation[solver->m_permutation[i]] = i;
    solver->m_inversePermutation[solver->m_permutation[j]] = j;
}

namespace {

template <class T>
void swapInTurn(T* rows, const int32_t* moves, int32_t count, int32_t partner, int32_t step) {
    for (int32_t k = 0; k < count; k++, partner += step) {
        std::swap(rows[moves[k]], rows[partner]);
    }
}

}  // namespace

template <class K>
void dgSolverRows<K>::dgSolverSwapRowsInTurn(dgConstraintSolver* solver, const int32_t* moves, int32_t count,
                                             int32_t partner, int32_t step) {
    DG_ASSERT(count >= 0);
    if (count <= 0) {
        // Nothing moved: the partner may stand one past either end of the rows.
        return;
    }
    DG_ASSERT((partner >= 0) && (partner < solver->m_rowCapacity) && (partner + (count - 1) * step >= 0) &&
              (partner + (count - 1) * step < solver->m_rowCapacity));
    forEachRowArray(solver, [=](auto* rows) { swapInTurn(rows, moves, count, partner, step); });
    // Only the rows moved have new places.
    const int32_t* const permutation = solver->m_permutation;
    for (int32_t k = 0; k < count; k++, partner += step) {
        solver->m_inversePermutation[permutation[moves[k]]] = moves[k];
        solver->m_inversePermutation[permutation[partner]] = partner;
    }
}

template <class K>
void dgSolverRows<K>::dgSolverApplyForces(dgConstraintSolver* solver) {
    K::applyForces(solver, solver->m_rowCount);
}

template <class K>
int32_t dgSolverRows<K>::startDirection(dgConstraintSolver* solver, int32_t rowCount, float& rho,
                                        float& largest) {
    int32_t n = rowCount;
    const dgJointRowBound* const bounds = solver->m_bounds;
    float* const force = solver->m_force;
    const float* const residual = solver->m_residual;
    // A row that leaves takes the last free row's place: look at that one next.
    for (int32_t i = 0; i < n;) {
        if ((std::fabs(bounds[i].lower - force[i]) < kAtBound) && (residual[i] < 0.0f)) {
            force[i] = bounds[i].lower;
            n--;
            dgSolverSwapRows(solver, i, n);
        } else if ((std::fabs(bounds[i].upper - force[i]) < kAtBound) && (residual[i] > 0.0f)) {
            force[i] = bounds[i].upper;
            n--;
            dgSolverSwapRows(solver, i, n);
        } else {
            i++;
        }
    }
    rho = K::precondition(solver, n, largest);
    return n;
}

template <class K>
int32_t dgSolverRows<K>::dgSolverConjugateGradient(dgConstraintSolver* solver, int32_t rowCount) {
    DG_ASSERT((rowCount >= 0) && (rowCount <= solver->m_rowCount));
    float rho = 0.0f;
    float largest = 0.0f;
    int32_t n = startDirection(solver, rowCount, rho, largest);
    int32_t limit = dgSolverIterationCount(solver, n);
    // Every pass either counts towards the limit or fixes one more row, so the
    // loop ends; the cap only guards a damaged count.
    int64_t guard = (int64_t(rowCount) + 1) * (int64_t(rowCount) + 1) + 1;
    for (int32_t k = 0; (k < limit) && (largest > kFreeResidual);) {
        DG_ASSERT(guard > 0);
        if (--guard < 0) {
            break;
        }
        if (!takePass(solver)) {
            break;
        }
        float* const force = solver->m_force;
        const float curvature = K::multiply(solver, n, solver->m_direction, solver->m_product);
        float alpha = rho / ((curvature < kTinyCurvature) ? kTinyCurvature : curvature);
        float limitValue = 0.0f;
        const int32_t limiting = K::ratioTest(solver, n, kTinyStep, alpha, limitValue);

        if (limiting < 0) {
            float rhoNext = 0.0f;
            largest = K::step(solver, n, alpha, rhoNext);
            if (largest > kFreeResidual) {
                const float beta = rhoNext / ((rho < kTinyRho) ? kTinyRho : rho);
                K::direction(solver, n, beta);
                rho = rhoNext;
            }
            k++;
        } else if (alpha < kTinyStep) {
            force[limiting] = limitValue;
            n--;
            dgSolverSwapRows(solver, limiting, n);
            n = startDirection(solver, n, rho, largest);
            limit = dgSolverIterationCount(solver, n);
            k = 0;
        } else {
            force[limiting] = limitValue;
            n--;
            dgSolverSwapRows(solver, limiting, n);
            rho = K::stepAndRestart(solver, n, alpha, largest);
            limit = dgSolverIterationCount(solver, n);
            k = 0;
        }
    }
    return n;
}

// The conjugate gradient fixes a row at the bound it reaches and never frees
// it again, and the rows the frictionless first solve left at a bound sit out
// the second: a contact can end the step with no force though the solved
// forces drive its bodies into each other, or a friction row saturated though
// the rest now hold it. Such a row pushes a resting body by its residual
// times the step (up to metres per second after a knock). Every row fixed at
// a bound whose residual points off that bound by more than the solve's own
// tolerance goes back into the free set and the free rows are solved again.
template <class K>
void dgSolverRows<K>::readmitRows(dgConstraintSolver* solver, int32_t freeRows, int32_t rowCount) {
    const dgJointRowBound* const bounds = solver->m_bounds;
    const float* const force = solver->m_force;
    // With no row fixed there is nothing to free (and no product to pay for).
    for (int32_t pass = 0; (pass < kReadmitPasses) && (freeRows < rowCount); pass++) {
        if (!takePass(solver)) {
            return;
        }
        dgSolverResidual(solver, rowCount);
        const float* const residual = solver->m_residual;
        const int32_t fixed = freeRows;
        for (int32_t i = fixed; i < rowCount; i++) {
            const bool canRise = !(std::fabs(bounds[i].upper - force[i]) < kAtBound);
            const bool canFall = !(std::fabs(bounds[i].lower - force[i]) < kAtBound);
            if (((residual[i] > kFreeResidual) && canRise) || ((residual[i] < -kFreeResidual) && canFall)) {
                dgSolverSwapRows(solver, i, freeRows);
                freeRows++;
            }
        }
        if (freeRows == fixed) {
            return;
        }
        freeRows = dgSolverConjugateGradient(solver, freeRows);
    }
}

template <class K>
void dgSolverRows<K>::dgSolverSolveLcp(dgConstraintSolver* solver) {
    const int32_t total = solver->m_rowCount;
    DG_ASSERT((total >= 0) && (total <= solver->m_rowCapacity));
    solver->m_passBudget = dgSolverPassBudget(total, solver->m_stepWork);
    solver->m_passes = 0;
    solver->m_overBudget = false;
    dgJointRowBound* const bounds = solver->m_bounds;
    float* const force = solver->m_force;
    for (int32_t i = 0; i < total; i++) {
        force[i] = bounds[i].forceSlot ? *bounds[i].forceSlot : 0.0f;
        solver->m_permutation[i] = i;
        solver->m_inversePermutation[i] = i;
    }

    // A row with no diagonal (J M^-1 J^T = 0) cannot be solved for: it carries
    // no force and applies nothing. Its place at the end keeps its force 0 for
    // friction rows that name it as their normal.
    int32_t n = total;
    for (int32_t i = 0; i < n;) {
        if (solver->m_invDiagonal[i] == 0.0f) {
            force[i] = 0.0f;
            if (bounds[i].forceSlot) {
                *bounds[i].forceSlot = 0.0f;
            }
            n--;
            dgSolverSwapRows(solver, i, n);
        } else {
            i++;
        }
    }

    // First group: ordinary rows, then one-sided and bounded rows; friction
    // rows stay behind. Each pass exchanges rows i and group in turn, both
    // rising, and looks at a row only before anything moves it: the
    // exchanges are noted and carried out after the pass.
    int32_t* const moves = solver->m_moves;
    int32_t group = 0;
    int32_t moved = 0;
    for (int32_t i = 0; i < n; i++) {
        const int32_t kind = bounds[i].normalIndex;
        DG_ASSERT(kind >= dgRowBounded);
        if ((kind == dgRowOrdinary) || (kind < dgRowBounded)) {
            moves[moved++] = i;
            group++;
        }
    }
    dgSolverSwapRowsInTurn(solver, moves, moved, 0, 1);
    const int32_t oneSided = group;
    moved = 0;
    for (int32_t i = group; i < n; i++) {
        const int32_t kind = bounds[i].normalIndex;
        if (kind == dgRowOneSided) {
            force[i] = std::max(force[i], 0.0f);
            moves[moved++] = i;
            group++;
        } else if (kind == dgRowBounded) {
            force[i] = std::min(std::max(force[i], bounds[i].lower), bounds[i].upper);
            moves[moved++] = i;
            group++;
        }
    }
    dgSolverSwapRowsInTurn(solver, moves, moved, oneSided, 1);

    const bool staged = (solver->m_solverOption == 0);
    bool firstSolved = false;
    int32_t firstFree = group;
    if (staged) {
        if ((group > 0) && takePass(solver) && (dgSolverResidual(solver, group) > kSkipResidual)) {
            firstFree = dgSolverConjugateGradient(solver, group);
            firstSolved = true;
            if (group == n) {
                readmitRows(solver, firstFree, group);
            }
        }
        for (int32_t i = 0; i < group; i++) {
            if (bounds[i].forceSlot) {
                *bounds[i].forceSlot = force[i];
            }
        }
        if (group == n) {
            finish(solver, n, staged);
            return;
        }
    }

    // Friction rows: limits from the normal forces. A dropped row takes the
    // last row's place: look at that one next. Only friction rows move here,
    // so the normal rows' places stay as they are. The exchanges are noted
    // and carried out after the pass: until then the row at i lies at `at`,
    // i itself or the last row's place that the row came from (nothing has
    // touched either yet), and every other row where the places say.
    const int32_t frictionEnd = n;
    moved = 0;
    for (int32_t i = group, at = group; i < n;) {
        const int32_t normal = bounds[at].normalIndex;
        DG_ASSERT((normal >= 0) && (normal < total));
        const int32_t place = ((normal >= 0) && (normal < total)) ? solver->m_inversePermutation[normal] : total;
        const float normalForce = (place < total) ? std::max(force[place], 0.0f) : 0.0f;
        const float lower = normalForce * bounds[at].lower;
        const float upper = normalForce * bounds[at].upper;
        if (std::min(upper, -lower) <= solver->m_frictionThreshold[at]) {
            n--;
            moves[moved++] = i;
            at = n;
        } else {
            bounds[at].lower = lower;
            bounds[at].upper = upper;
            solver->m_frictionThreshold[at] = normalForce;
            force[at] = std::min(std::max(force[at], lower), upper);
            i++;
            at = i;
        }
    }
    dgSolverSwapRowsInTurn(solver, moves, moved, frictionEnd - 1, -1);
    const int32_t applied = n;

    if (!solver->m_overBudget) {
        // Rows the first solve left at a bound keep their force and sit out
        // the second solve (still applied).
        if (firstSolved) {
            for (int32_t i = group - 1; i >= firstFree; i--) {
                n--;
                dgSolverSwapRows(solver, i, n);
            }
        }
        // The rows sitting out still push: their forces count in the
        // residual.
        int32_t freeRows = n;
        if ((n > 0) && takePass(solver)) {
            K::multiply(solver, applied, force, solver->m_product);
            if (K::residual(solver, n) > kSkipResidual) {
                freeRows = dgSolverConjugateGradient(solver, n);
            }
        }
        readmitRows(solver, freeRows, applied);
    }
    finish(solver, applied, staged);
}

// The end of a solve over the rows [0, applied) still applied: an island
// over its budget is finished by the projected sweeps, then the forces go to
// their slots (a staged solve wrote its first group's already, unless the
// sweeps changed them) and onto the bodies.
template <class K>
void dgSolverRows<K>::finish(dgConstraintSolver* solver, int32_t applied, bool staged) {
    const bool swept = solver->m_overBudget;
    if (swept) {
        dgSolverProjectedSweeps(solver, applied, solver->m_passBudget - solver->m_passes);
    }
    const dgJointRowBound* const bounds = solver->m_bounds;
    for (int32_t i = 0; i < applied; i++) {
        if (bounds[i].forceSlot && (swept || !staged || (bounds[i].normalIndex >= 0))) {
            *bounds[i].forceSlot = solver->m_force[i];
        }
    }
    solver->m_rowCount = applied;
    dgSolverApplyForces(solver);
}

template <class K>
void dgSolverRows<K>::dgSolverProjectedSweeps(dgConstraintSolver* solver, int32_t rowCount, int32_t sweeps) {
    DG_ASSERT((rowCount >= 0) && (rowCount <= solver->m_rowCount));
    if ((rowCount <= 0) || (sweeps <= 0)) {
        return;
    }
    // Friction rows: their limits back to coefficients of the normal force
    // they were scaled by, and their normal rows by place.
    dgJointRowBound* const bounds = solver->m_bounds;
    for (int32_t i = 0; i < rowCount; i++) {
        dgJointRowBound& bound = bounds[i];
        if (bound.normalIndex < 0) {
            continue;
        }
        // Below FLT_MIN the reciprocal can overflow, and an infinite
        // coefficient times a zero normal force would be NaN limits.
        const float load = solver->m_frictionThreshold[i];
        const float scale = (load >= FLT_MIN) ? 1.0f / load : 0.0f;
        bound.lower *= scale;
        bound.upper *= scale;
        bound.normalIndex = solver->m_inversePermutation[bound.normalIndex];
    }
    K::projectedSweeps(solver, rowCount, sweeps);
    solver->m_passes += sweeps;
}

template struct dgSolverRows<dgScalarSolverKernels>;
template struct dgSolverRows<dgSimdSolverKernels>;

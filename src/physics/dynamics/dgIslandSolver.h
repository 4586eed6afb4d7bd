// One solver step of a world: islands gathered from the awake bodies through
// their joints and contacts, their rows solved, the bodies integrated and
// tested for rest. Two variants with the same algorithm and constants: SIMD
// (packed SSE arithmetic) and scalar; the world's SIMD flag chooses.
//
// Stamps: the broad phase raises the world's step stamp (the frame counter F)
// by 1 before the solver runs; an island built with stamp F marks its bodies
// and joints with F + 1, integrated bodies carry F + 2 (so the main pass skips
// them for the rest of the step), and the step ends with F += 2.
#pragma once

#include <cstdint>

class dgBody;
class dgConstraint;
class dgWorld;
struct dgConstraintSolver;

void dgSimdSolverUpdate(dgWorld* world);
void dgScalarSolverUpdate(dgWorld* world);

// Visit mark of the reachable-joint walk: bit 28 of the high word of a joint's
// island stamp, cleared again before the walk returns.
constexpr uint64_t dgJointReachableMark = uint64_t(1) << 60;

// Joints reachable from joint through bodies of nonzero inverse mass, joint
// itself first, written to out while fewer than maxCount are written. Returns
// the count. Every mark the walk sets is cleared, also when it stops at
// maxCount.
int32_t dgWorldGetReachableJoints(dgConstraint* joint, dgConstraint** out, int32_t maxCount);

// torque -= R (w' x I w'), w' the angular velocity in body axes, I the
// principal inertia, R the body rotation.
void dgBodyApplyGyroscopicTorque(dgBody* body);
// One step of damping: velocity scaled by 1 - linear damping, and each body
// axis component of omega by 1 - that axis's angular damping.
void dgBodyApplyDamping(dgBody* body);

// The island operations over one variant's row operations (dgScalarSolver or
// dgSimdSolver of dgConstraintSolver.h). Islands that would not fit the
// workspace grow it; what still does not fit is left out of the step.
template <class Rows>
struct dgIslandSolver {
    // The step: vehicle sub-steps, the main pass over the active-body tree,
    // destruction of the stale contacts, frame counter + 2.
    static void update(dgWorld* world);
    // Gathers the island of root with the given stamp (island stamp = stamp +
    // 1) into the workspace, damps its bodies, collects and solves its rows.
    // Returns the island's slot count (slot 0 the static body).
    static int32_t dgSolverBuildIsland(dgConstraintSolver* solver, dgBody* root, uint64_t stamp);
    // Integrates slots 1 .. bodyCount-1 and tests them for rest; true when the
    // whole island may freeze.
    static bool dgSolverIntegrateIsland(dgConstraintSolver* solver, int32_t bodyCount, float timestep);
    // The same with the transform callbacks off.
    static bool dgSolverIntegrateSubStep(dgConstraintSolver* solver, int32_t bodyCount, float timestep);
};

struct dgScalarSolverKernels;
struct dgSimdSolverKernels;
template <class Kernels>
struct dgSolverRows;
using dgScalarIslandSolver = dgIslandSolver<dgSolverRows<dgScalarSolverKernels>>;
using dgSimdIslandSolver = dgIslandSolver<dgSolverRows<dgSimdSolverKernels>>;

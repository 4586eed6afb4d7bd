// The vehicle's rows are solved as an island's are: in a workspace of the
// island solver's own layout (slot 0 the static body, then the vehicle's
// slots through proxy bodies that carry only their inverse mass), set up by
// its row set-up (every diagonal raised by a thousandth) and solved by its
// projected, preconditioned conjugate gradient: a step that would carry a
// free row past a bound stops at the first such bound, the row is clamped
// and the search starts afresh. Rows that cannot move (no diagonal, or held
// at a force, as the suspension is) sit out, their forces counted in the
// others' residuals. Passes run while the largest free residual
// exceeds the island solver's 0.1 m/s^2, at most (floor(sqrt(rows)) + 6) x
// 2^(1/n) passes between restarts (n the world's capped solver iteration
// count; the factor is 1 when the count is not capped), within the island's
// pass budget.
#include "dgVehicleSolve.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "dgBody.h"
#include "dgConstraintSolver.h"
#include "dgMemory.h"
#include "dgWorld.h"

struct dgVehicleSolverSpace {
    dgConstraintSolver* solver;
    // One proxy body per island slot but the static one.
    dgBody* proxies;
};

namespace {

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);
// Island slots: the static body, then the vehicle's.
constexpr int32_t kIslandSlots = 1 + dgVehicleMaxSlots;

dgVehicleSolverSpace* spaceOf(dgWorld* world) {
    dgVehicleSet& set = world->m_vehicleSet;
    if (set.m_space) {
        return set.m_space;
    }
    void* const storage = dgMalloc(sizeof(dgVehicleSolverSpace));
    void* const proxies = dgMalloc(sizeof(dgBody) * size_t(kIslandSlots));
    dgConstraintSolver* const solver = dgConstraintSolverCreateSized(kIslandSlots, dgVehicleMaxRows);
    if (!storage || !proxies || !solver) {
        dgFree(storage);
        dgFree(proxies);
        dgConstraintSolverDestroy(solver);
        return nullptr;
    }
    dgVehicleSolverSpace* const space = ::new (storage) dgVehicleSolverSpace{solver, static_cast<dgBody*>(proxies)};
    for (int32_t i = 0; i < kIslandSlots; ++i) {
        ::new (&space->proxies[i]) dgBody();
    }
    solver->m_world = world;
    set.m_space = space;
    return space;
}

template <class Rows>
void solveWith(dgVehicleWorkspace& ws, dgVehicleSolverSpace& space, int32_t passes) {
    dgConstraintSolver* const s = space.solver;
    const int32_t n = ws.rowCount;
    s->m_bodies[0] = &s->m_staticBody;
    for (int32_t i = 0; i < ws.slotCount; ++i) {
        dgBody& proxy = space.proxies[i];
        proxy.m_invMass = dgVector(0.0f, 0.0f, 0.0f, ws.slots[i].invMass);
        proxy.m_force = kZero;
        proxy.m_torque = kZero;
        s->m_bodies[i + 1] = &proxy;
        s->m_invInertia[i + 1] = ws.slots[i].invInertia;
    }
    for (int32_t i = 0; i < n; ++i) {
        const dgVehicleRow& row = ws.rows[i];
        s->m_bodyPairs[i] = dgSolverBodyPair{row.a + 1, (row.b >= 0) ? row.b + 1 : 0};
        s->m_jacobians[i] = dgSolverJacobian{dgVehicleAxis(row.jaLinear), dgVehicleAxis(row.jaAngular), dgVehicleAxis(row.jbLinear),
                                             dgVehicleAxis(row.jbAngular)};
        s->m_bounds[i] = dgJointRowBound{row.lower, row.upper, dgRowBounded, nullptr};
        s->m_regulariser[i] = 1.0f;
        s->m_rightHandSide[i] = row.rhs;
        s->m_frictionThreshold[i] = 0.0f;
        s->m_force[i] = std::min(std::max(row.force, row.lower), row.upper);
        s->m_permutation[i] = i;
        s->m_inversePermutation[i] = i;
    }
    Rows::dgSolverSetupRows(s, n, ws.slotCount + 1);
    s->m_iterationMode = passes;
    s->m_passBudget = dgSolverPassBudget(n);
    s->m_passes = 0;
    s->m_overBudget = false;

    // Rows that cannot move go to the end: a row with no diagonal carries no
    // force, a row held at one force keeps it.
    int32_t free = n;
    for (int32_t i = 0; i < free;) {
        const bool stuck = (s->m_invDiagonal[i] == 0.0f);
        if (stuck || !(s->m_bounds[i].lower < s->m_bounds[i].upper)) {
            if (stuck) {
                s->m_force[i] = 0.0f;
            }
            --free;
            Rows::dgSolverSwapRows(s, i, free);
        } else {
            ++i;
        }
    }
    // The residuals count what they push with; the search then moves the
    // free rows only.
    if (free > 0) {
        Rows::dgSolverResidual(s, n);
        Rows::dgSolverConjugateGradient(s, free);
    }
    for (int32_t i = 0; i < n; ++i) {
        ws.rows[i].force = s->m_force[s->m_inversePermutation[i]];
    }
}

}  // namespace

void dgVehicleSetRelease(dgVehicleSet& set) {
    dgVehicleSolverSpace* const space = set.m_space;
    if (!space) {
        return;
    }
    for (int32_t i = 0; i < kIslandSlots; ++i) {
        space->proxies[i].~dgBody();
    }
    dgFree(space->proxies);
    dgConstraintSolverDestroy(space->solver);
    space->~dgVehicleSolverSpace();
    dgFree(space);
    set.m_space = nullptr;
}

void dgVehicleSetupSlot(dgVehicleSlot& slot, dgBody* body) {
    slot.body = body;
    slot.invMass = body->m_invMass.w;
    dgBodyGetWorldInverseInertia(body, slot.invInertia);
    slot.veloc = dgVehicleAxis(body->m_veloc);
    slot.omega = dgVehicleAxis(body->m_omega);
    slot.accel = kZero;
    slot.alpha = kZero;
}

int32_t dgVehicleGroundSlot(dgVehicleWorkspace& ws, dgBody* body) {
    if (!body || (body->m_invMass.w == 0.0f)) {
        return -1;
    }
    for (int32_t i = 0; i < ws.slotCount; ++i) {
        if (ws.slots[i].body == body) {
            return i;
        }
    }
    if (ws.slotCount >= dgVehicleMaxSlots) {
        return -2;
    }
    dgVehicleSetupSlot(ws.slots[ws.slotCount], body);
    return ws.slotCount++;
}

bool dgVehicleSolveRows(dgVehicleWorkspace& ws, dgWorld* world) {
    if (ws.rowCount <= 0) {
        return true;
    }
    dgVehicleSolverSpace* const space = spaceOf(world);
    if (!space) {
        return false;
    }
    const int32_t iterations = world->m_solverIterationMode;
    const float factor = (iterations >= 2) ? std::pow(2.0f, 1.0f / float(iterations)) : 1.0f;
    const int32_t passes = int32_t(float(int32_t(std::sqrt(float(ws.rowCount))) + 6) * factor);
    if (world->m_simdFlag == 1) {
        solveWith<dgSimdSolver>(ws, *space, passes);
    } else {
        solveWith<dgScalarSolver>(ws, *space, passes);
    }
    return true;
}

void dgVehicleRowSums(dgVehicleWorkspace& ws) {
    for (int32_t s = 0; s < ws.slotCount; ++s) {
        ws.slots[s].sumLinear = kZero;
        ws.slots[s].sumAngular = kZero;
    }
    // sum += J f on packed registers: x, y and z as the scalar operations
    // take them; w gets nothing added, as += adds none.
    const __m128 xyz = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
    auto add = [xyz](dgVector& sum, const dgVector& j, __m128 f) {
        _mm_store_ps(&sum.x,
                     _mm_add_ps(_mm_load_ps(&sum.x), _mm_and_ps(_mm_mul_ps(_mm_load_ps(&j.x), f), xyz)));
    };
    for (int32_t i = 0; i < ws.rowCount; ++i) {
        const dgVehicleRow& row = ws.rows[i];
        const __m128 f = _mm_set1_ps(row.force);
        add(ws.slots[row.a].sumLinear, row.jaLinear, f);
        add(ws.slots[row.a].sumAngular, row.jaAngular, f);
        if (row.b >= 0) {
            add(ws.slots[row.b].sumLinear, row.jbLinear, f);
            add(ws.slots[row.b].sumAngular, row.jbAngular, f);
        }
    }
}

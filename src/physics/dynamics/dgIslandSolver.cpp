#include "dgIslandSolver.h"

#include <xmmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgBodyPairContacts.h"
#include "dgConstraint.h"
#include "dgConstraintSolver.h"
#include "dgContact.h"
#include "dgJointRows.h"
#include "dgMathUtils.h"
#include "dgPrefetch.h"
#include "dgWorkStack.h"
#include "dgWorld.h"

namespace {

// Rest test: thresholds scale with 1.1^(slots - 1), capped at 5, times 0.2
// for speeds and 12 times that for accelerations; larger islands come to
// rest at looser thresholds.
constexpr double kIslandGrowth = 1.1;
constexpr float kMaxIslandGrowth = 5.0f;
constexpr float kSpeedScale = 0.2f;
constexpr float kAccelScale = 12.0f;
// Joints the vehicle sub-step gathers around one vehicle.
constexpr int32_t kMaxVehicleJoints = 8192;
// Rings the island walk holds before its stack takes memory.
constexpr int32_t kLocalRings = 64;
// The row loop asks for the joint this many places on, and for the bodies and
// first contact point of the one half as far on (whose joint has come in by
// then). The island's bodies, joints and points were last read in the
// ring walk; in a large island they have left the cache since.
constexpr int32_t kJointsAhead = 8;
constexpr int32_t kJointRowsAhead = 4;
// How far a frozen pair's contact point may have drifted on either body and
// still count as in place: this much, plus rounding at its distance from the
// origin.
constexpr float kSleptDrift = 1.0e-3f;
constexpr float kSleptRounding = 8.0f * FLT_EPSILON;

// The SIMD variant runs with flush-to-zero (MXCSR bit 15) and nothing else
// changed; the saved control word comes back on every way out.
class dgFlushToZeroScope {
public:
    dgFlushToZeroScope() : m_saved(_mm_getcsr()) { _mm_setcsr(m_saved | kFlushToZero); }
    ~dgFlushToZeroScope() { _mm_setcsr(m_saved); }
    dgFlushToZeroScope(const dgFlushToZeroScope&) = delete;
    dgFlushToZeroScope& operator=(const dgFlushToZeroScope&) = delete;

private:
    static constexpr unsigned int kFlushToZero = 0x8000u;
    unsigned int m_saved;
};

bool isDynamic(const dgBody* body) {
    return body->m_invMass.w != 0.0f;
}

void setTimestep(dgWorld* world, dgConstraintSolver* solver, float timestep, float invTimestep) {
    world->m_timeStep = timestep;
    world->m_invTimeStep = invTimestep;
    solver->m_timestep = timestep;
    solver->m_invTimestep = invTimestep;
    solver->m_rowBlock.timestep = timestep;
    solver->m_rowBlock.invTimestep = invTimestep;
}

// Gives body the island stamp and the next slot. False, with the body left
// out of the island, when the workspace cannot grow to hold it.
bool takeSlot(dgConstraintSolver* solver, dgBody* body, int32_t& count, uint64_t islandStamp) {
    if ((count >= solver->m_slotCapacity) && !dgConstraintSolverReserve(solver, count + 1, 0, 0)) {
        return false;
    }
    body->m_islandStamp = islandStamp;
    body->m_islandSlot = count;
    solver->m_bodies[count] = body;
    ++count;
    return true;
}

// Puts joint into the island's joint list, vehicle joints in the front part
// in the order found, and adds the most rows it can make to `rows`. False,
// with the joint left out, when the list cannot grow.
bool takeJoint(dgConstraintSolver* solver, dgConstraint* joint, int32_t& count, int32_t& vehicles,
               int64_t& rows, uint64_t islandStamp) {
    if ((count >= solver->m_jointCapacity) && !dgConstraintSolverReserve(solver, 0, 0, count + 1)) {
        return false;
    }
    joint->m_islandStamp = islandStamp;
    rows += std::min(int32_t(joint->m_maxRows), dgJointRowBlock::kMaxRows);
    dgConstraint** joints = solver->m_joints;
    joints[count] = joint;
    if (joint->m_typeId == dgJointTypeVehicle) {
        std::swap(joints[count], joints[vehicles]);
        ++vehicles;
    }
    ++count;
    return true;
}

// The island slot a joint's body contributes through: 0 for the static world
// and immovable bodies. False for a movable body that did not make it into
// this island: the joint then takes no part.
bool jointSlot(const dgBody* body, uint64_t islandStamp, int32_t& slot) {
    if (!body || !isDynamic(body)) {
        slot = 0;
        return true;
    }
    slot = body->m_islandSlot;
    return body->m_islandStamp == islandStamp;
}

// What the row loop reads of a joint first: its bodies' slots, velocities,
// mass and centre of mass, and a contact's first point (dgContactSubmitRows
// asks for each next one as it goes).
void prefetchJointRows(const dgConstraint* joint) {
    for (const dgBody* body : {joint->m_body0, joint->m_body1}) {
        dgPrefetch(body, offsetof(dgBody, m_veloc),
                   offsetof(dgBody, m_globalCentreOfMass) + sizeof(dgVector) - offsetof(dgBody, m_veloc));
        dgPrefetch(body, offsetof(dgBody, m_islandStamp),
                   offsetof(dgBody, m_islandSlot) + sizeof(int32_t) - offsetof(dgBody, m_islandStamp));
    }
    if (joint->m_typeId == dgJointTypeContact) {
        dgPrefetchObject(static_cast<const dgContact*>(joint)->m_points.getFirst());
    }
}

// Awake and movable: the bodies the pair pass looks at.
bool awake(const dgBody* body) {
    return (body->m_flags & dgBodyFlagActive) && isDynamic(body);
}

// The pair pass skips two bodies of which neither is awake: a frozen pair's
// contact is not refreshed because nobody looked, not because the bodies
// parted. While its points still sit where both bodies carry them (neither
// was moved while frozen) it is as good as new, and it must hold: when one
// body of a frozen stack wakes, the island walk takes in the whole stack, and
// every body above a contact dropped here would fall for a step, jolting the
// stack it rested on.
bool sleptInPlace(const dgContact* contact) {
    const dgBody* const body0 = contact->m_body0;
    const dgBody* const body1 = contact->m_body1;
    if (!body0 || !body1 || awake(body0) || awake(body1)) {
        return false;
    }
    const dgContactPointList::Node* node = contact->m_points.getFirst();
    for (int32_t i = 0; (i < contact->m_pointCount) && node; ++i, node = node->getNext()) {
        const dgMaterialPair& point = node->getValue();
        const float reach =
            std::max({std::fabs(point.point.x), std::fabs(point.point.y), std::fabs(point.point.z)});
        const float allowed = kSleptDrift + kSleptRounding * reach;
        const dgVector drift0 = body0->m_matrix.transformVector(point.localPoint0) - point.point;
        const dgVector drift1 = body1->m_matrix.transformVector(point.localPoint1) - point.point;
        if ((drift0.dot(drift0) > allowed * allowed) || (drift1.dot(drift1) > allowed * allowed)) {
            return false;
        }
    }
    return true;
}

// Integrates one body; the sub-steps keep its transform callback quiet.
void integrateBody(dgBody* body, float timestep, bool notify) {
    if (notify) {
        dgBodyIntegrateAndNotify(body, timestep);
        return;
    }
    const dgBodyTransformCallback transform = body->m_transform;
    body->m_transform = nullptr;
    dgBodyIntegrateAndNotify(body, timestep);
    body->m_transform = transform;
}

void setEquilibrium(dgBody* body, bool rest) {
    if (rest) {
        body->m_flags |= dgBodyFlagEquilibrium;
    } else {
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    }
}

// An island whose solve left a non-finite force on a body (finite input
// whose squares overflow) is counted, and its rows' force slots that are not
// finite go back to 0: they are the next solve's start, and would poison
// every step after this one.
void reportNonFinite(dgConstraintSolver* solver) {
    ++solver->m_world->m_nonFiniteIslands;
    for (int32_t i = 0; i < solver->m_rowCount; ++i) {
        float* const slot = solver->m_bounds[i].forceSlot;
        if (slot && !std::isfinite(*slot)) {
            *slot = 0.0f;
        }
    }
}

// A row's force can come out non-finite while every body's stays finite:
// a row the solve dropped after the first group wrote its slot, or one
// whose Jacobian holds nothing on a movable body (a joint measured from a
// body far beyond the scale float rows carry). Its slot is the joint's
// reading and the next solve's start: it goes back to 0, over every row
// submitted (the dropped ones lie past the applied count), and the island
// is counted.
void clearNonFiniteRows(dgConstraintSolver* solver, int32_t submitted) {
    for (int32_t i = 0; i < submitted; ++i) {
        float* const slot = solver->m_bounds[i].forceSlot;
        if (slot && !std::isfinite(*slot)) {
            *slot = 0.0f;
            solver->m_nonFiniteRows = true;
        }
    }
}

// Integration and rest test of slots 1 .. bodyCount-1 (item of both the
// step and the sub-steps).
bool integrateIsland(dgConstraintSolver* solver, int32_t bodyCount, float timestep, bool notify) {
    DG_ASSERT((bodyCount >= 1) && (bodyCount <= solver->m_slotCapacity));
    dgWorld* const world = solver->m_world;
    const float growth = float(std::pow(kIslandGrowth, double(bodyCount - 1)));
    const float speedScale = std::min(growth, kMaxIslandGrowth) * kSpeedScale;
    const float accelScale = kAccelScale * speedScale;
    const uint64_t integratedStamp = world->m_stepStamp + 2;

    bool freeze = true;
    bool poisoned = solver->m_nonFiniteRows;
    for (int32_t i = 1; i < bodyCount; ++i) {
        dgBody* const body = solver->m_bodies[i];
        const float* const threshold = body->m_freezeThresholds;
        poisoned = poisoned || !dgIsFinite3(body->m_force) || !dgIsFinite3(body->m_torque);
        if (!(body->m_flags & dgBodyFlagEquilibrium)) {
            integrateBody(body, timestep, notify);
            // Force and torque now hold the accelerations.
            const bool rest = (body->m_force.dot(body->m_force) < accelScale * threshold[0]) &&
                              (body->m_torque.dot(body->m_torque) < accelScale * threshold[1]) &&
                              (body->m_veloc.dot(body->m_veloc) < speedScale * threshold[2]) &&
                              (body->m_omega.dot(body->m_omega) < speedScale * threshold[3]);
            setEquilibrium(body, rest);
        } else {
            const dgVector accel = body->m_force.scale(body->m_invMass.w);
            const dgVector local = body->m_matrix.inverseRotateVector(body->m_torque);
            const dgVector alpha(local.x * body->m_invMass.x, local.y * body->m_invMass.y,
                                 local.z * body->m_invMass.z, 0.0f);
            const bool rest = (accel.dot(accel) < accelScale * threshold[0]) &&
                              (alpha.dot(alpha) < accelScale * threshold[1]);
            if (!rest) {
                setEquilibrium(body, false);
                integrateBody(body, timestep, notify);
            }
        }
        const uint32_t flags = body->m_flags;
        freeze = freeze && (flags & dgBodyFlagAutoFreeze) && (flags & dgBodyFlagEquilibrium);
        body->m_islandStamp = integratedStamp;
        if (!(flags & dgBodyFlagActive)) {
            if (body->m_activation) {
                body->m_activation(body, 1);
            }
            body->m_flags |= dgBodyFlagActive;
        }
    }

    if (poisoned) {
        reportNonFinite(solver);
    }

    // Only the root stays in the active tree: it gathers the island again.
    for (int32_t i = 2; i < bodyCount; ++i) {
        dgBody* const body = solver->m_bodies[i];
        if (!body->m_activeNode) {
            continue;
        }
        if (body->m_flags & dgBodyFlagAutoFreeze) {
            world->m_activeBodyTree.remove(body->m_activeNode);
            body->m_activeNode = nullptr;
        } else {
            freeze = false;
        }
    }
    return freeze;
}

// Every dynamic body of the island leaves the awake set; the root leaves the
// active tree when it may freeze.
void freezeIsland(dgConstraintSolver* solver, int32_t bodyCount) {
    dgWorld* const world = solver->m_world;
    for (int32_t i = 1; i < bodyCount; ++i) {
        dgBody* const body = solver->m_bodies[i];
        body->m_flags &= ~uint32_t(dgBodyFlagActive);
        if (body->m_activation) {
            body->m_activation(body, 0);
        }
    }
    if (bodyCount > 1) {
        dgBody* const root = solver->m_bodies[1];
        if ((root->m_flags & dgBodyFlagAutoFreeze) && root->m_activeNode) {
            world->m_activeBodyTree.remove(root->m_activeNode);
            root->m_activeNode = nullptr;
        }
    }
}

}  // namespace

int32_t dgWorldGetReachableJoints(dgConstraint* joint, dgConstraint** out, int32_t maxCount) {
    if (!joint || !out || (maxCount < 1)) {
        return 0;
    }
    // The output is the walk's work list: a joint is marked exactly when it
    // is written, so clearing the written ones clears every mark.
    int32_t count = 0;
    joint->m_islandStamp |= dgJointReachableMark;
    out[count++] = joint;
    for (int32_t i = 0; (i < count) && (count < maxCount); ++i) {
        const dgConstraint* const current = out[i];
        dgBody* const bodies[2] = {current->m_body0, current->m_body1};
        for (dgBody* body : bodies) {
            if (!body || !isDynamic(body) || !body->m_jointRing) {
                continue;
            }
            const dgJointLink* const head = body->m_jointRing;
            const dgJointLink* link = head;
            do {
                dgConstraint* const reached = link->m_joint;
                if (!(reached->m_islandStamp & dgJointReachableMark) && (count < maxCount)) {
                    reached->m_islandStamp |= dgJointReachableMark;
                    out[count++] = reached;
                }
                link = link->m_next;
            } while ((link != head) && (count < maxCount));
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        out[i]->m_islandStamp &= ~dgJointReachableMark;
    }
    return count;
}

void dgBodyApplyGyroscopicTorque(dgBody* body) {
    const dgVector omega = body->m_matrix.inverseRotateVector(body->m_omega);
    const dgVector momentum(omega.x * body->m_mass.x, omega.y * body->m_mass.y, omega.z * body->m_mass.z,
                            0.0f);
    const dgVector gyro = body->m_matrix.rotateVector(omega.cross(momentum));
    body->m_torque -= gyro;
}

void dgBodyApplyDamping(dgBody* body) {
    body->m_veloc -= body->m_veloc.scale(body->m_linearDamping);
    dgVector omega = body->m_matrix.inverseRotateVector(body->m_omega);
    omega.x -= omega.x * body->m_angularDamping.x;
    omega.y -= omega.y * body->m_angularDamping.y;
    omega.z -= omega.z * body->m_angularDamping.z;
    const dgVector world = body->m_matrix.rotateVector(omega);
    body->m_omega = dgVector(world.x, world.y, world.z, body->m_omega.w);
}

template <class Rows>
int32_t dgIslandSolver<Rows>::dgSolverBuildIsland(dgConstraintSolver* solver, dgBody* root, uint64_t stamp) {
    const uint64_t islandStamp = stamp + 1;
    dgWorld* const world = solver->m_world;
    solver->m_bodies[0] = &solver->m_staticBody;
    solver->m_rowCount = 0;
    int32_t bodyCount = 1;
    int32_t jointCount = 0;
    int32_t vehicleCount = 0;
    int64_t rowBound = 0;

    if (!root->m_jointRing) {
        takeSlot(solver, root, bodyCount, islandStamp);
    } else {
        dgJointLink* localRings[kLocalRings];
        dgWorkStack<dgJointLink*> rings(localRings, kLocalRings);
        rings.push(root->m_jointRing);
        while (rings.getCount()) {
            dgJointLink* const head = rings.pop();
            dgBody* const own = head->m_body;
            dgJointLink* link = head;
            do {
                if (own->m_islandStamp < islandStamp) {
                    takeSlot(solver, own, bodyCount, islandStamp);
                }
                dgBody* const other = link->getOtherBody();
                // A body solved earlier in this step (stamp above the
                // island's) is not taken again: its joints to this island
                // sit out the step rather than integrate it twice.
                if (other && isDynamic(other) && (other->m_islandStamp < islandStamp)) {
                    // A body the workspace cannot hold stays out (its
                    // joints with this island sit out the step); a ring the
                    // stack cannot hold is not walked, its body still joins.
                    if (takeSlot(solver, other, bodyCount, islandStamp)) {
                        rings.push(other->m_jointRing);
                    }
                }
                dgConstraint* const joint = link->m_joint;
                if (joint->m_typeId == dgJointTypeContact) {
                    dgContact* const contact = static_cast<dgContact*>(joint);
                    if ((contact->m_refreshStamp != stamp) && sleptInPlace(contact)) {
                        contact->m_refreshStamp = stamp;
                    }
                    if (contact->m_refreshStamp != stamp) {
                        // Not refreshed by this step's contact pass: out of
                        // the island, destroyed at the end of the step.
                        contact->m_islandStamp = islandStamp;
                        contact->m_refreshStamp = stamp;
                        contact->m_staleFlag = 1;
                        dgWorldQueueStaleContact(world, contact);
                    }
                }
                if (joint->m_islandStamp != islandStamp) {
                    takeJoint(solver, joint, jointCount, vehicleCount, rowBound, islandStamp);
                }
                link = link->m_next;
            } while (link != head);
        }
    }

    for (int32_t i = 1; i < bodyCount; ++i) {
        dgBody* const body = solver->m_bodies[i];
        if (body->m_flags & dgBodyFlagKeepAngularMomentum) {
            dgBodyApplyGyroscopicTorque(body);
        }
        dgBodyApplyDamping(body);
        dgBodyGetWorldInverseInertia(body, solver->m_invInertia[i]);
    }

    // The rows' room in one move: grown a joint at a time, the workspace
    // would double several times in the step an island first comes
    // together, copying and faulting in each block in turn. A bound the
    // workspace cannot hold leaves the appends to grow it as far as it goes.
    dgConstraintSolverReserve(solver, 0, int32_t(std::min<int64_t>(rowBound, dgConstraintSolver::kMaxRows)), 0);

    dgJointRowBlock& block = solver->m_rowBlock;
    for (int32_t j = 0; j < jointCount; ++j) {
        // The arrays move when the rows grow the workspace: read through the
        // solver each time.
        dgConstraint* const joint = solver->m_joints[j];
        if (j + kJointsAhead < jointCount) {
            // A contact's fields, the most a joint of the island reads here.
            dgPrefetch(solver->m_joints[j + kJointsAhead], 0, sizeof(dgContact));
        }
        if (j + kJointRowsAhead < jointCount) {
            prefetchJointRows(solver->m_joints[j + kJointRowsAhead]);
        }
        int32_t slot0 = 0;
        int32_t slot1 = 0;
        if (!jointSlot(joint->m_body0, islandStamp, slot0) ||
            !jointSlot(joint->m_body1, islandStamp, slot1)) {
            continue;
        }
        // A joint between two immovable bodies (a vehicle whose chassis was
        // made immovable) has nothing to move: it stands, unasked.
        const float invMassSum = solver->m_bodies[slot0]->m_invMass.w + solver->m_bodies[slot1]->m_invMass.w;
        if (!(invMassSum > 0.0f)) {
            continue;
        }
        const int32_t maxRows = std::min(int32_t(joint->m_maxRows), dgJointRowBlock::kMaxRows);
        for (int32_t r = 0; r < maxRows; ++r) {
            dgJointRowBound& bound = block.bounds[r];
            bound.lower = -dgJointRowMaxBound;
            bound.upper = dgJointRowMaxBound;
            bound.normalIndex = dgRowOrdinary;
            bound.forceSlot = nullptr;
        }
        int32_t rows = joint->submitRows(block);
        DG_ASSERT((rows >= 0) && (rows <= maxRows));
        rows = std::max(0, std::min(rows, maxRows));
        const float threshold = solver->m_frictionScale / invMassSum;
        // Rows that cannot be had are left out of this step.
        dgConstraintSolverAppendRows(solver, rows, slot0, slot1, threshold);
    }

    solver->m_nonFiniteRows = false;
    if (solver->m_rowCount > 0) {
        const int32_t submitted = solver->m_rowCount;
        Rows::dgSolverSetupRows(solver, submitted, bodyCount);
        Rows::dgSolverSolveLcp(solver);
        solver->m_stepWork -= int64_t(solver->m_passes) * submitted;
        clearNonFiniteRows(solver, submitted);
    }
    solver->m_bodyCount = bodyCount;
    return bodyCount;
}

template <class Rows>
bool dgIslandSolver<Rows>::dgSolverIntegrateIsland(dgConstraintSolver* solver, int32_t bodyCount,
                                                   float timestep) {
    return integrateIsland(solver, bodyCount, timestep, true);
}

template <class Rows>
bool dgIslandSolver<Rows>::dgSolverIntegrateSubStep(dgConstraintSolver* solver, int32_t bodyCount,
                                                    float timestep) {
    return integrateIsland(solver, bodyCount, timestep, false);
}

namespace {

// The vehicles' islands at the vehicle set's rate: every sub-step but the
// last ends with fresh forces and contacts around each vehicle; the last
// leaves its bodies solved for the rest of the step.
template <class Island>
void vehicleSubSteps(dgWorld* world, dgConstraintSolver* solver, uint64_t stepStamp) {
    dgVehicleSet& set = world->m_vehicleSet;
    const float timestep = world->m_timeStep;
    const float invTimestep = world->m_invTimeStep;
    const int32_t steps = std::max(1, int32_t(std::ceil(dgVehicleSet::kRate * timestep)));
    const float subStep = timestep / float(steps);
    setTimestep(world, solver, subStep, 1.0f / subStep);

    const uint64_t frame = world->m_stepStamp;
    for (int32_t k = 0; k < steps; ++k) {
        const bool last = (k == steps - 1);
        solver->m_stepWork = dgSolverStepWork;
        for (auto* node = set.m_entries.getFirst(); node; node = node->getNext()) {
            dgVehicleSetEntry& entry = node->getValue();
            dgBody* const chassis = entry.joint->m_body0;
            if ((entry.vehicleStamp >= stepStamp) || !(chassis->m_flags & dgBodyFlagActive) || !isDynamic(chassis)) {
                continue;
            }
            const int32_t bodyCount = Island::dgSolverBuildIsland(solver, chassis, frame);
            if (bodyCount > 1) {
                const bool rest = last ? Island::dgSolverIntegrateIsland(solver, bodyCount, subStep)
                                       : Island::dgSolverIntegrateSubStep(solver, bodyCount, subStep);
                if (rest) {
                    freezeIsland(solver, bodyCount);
                }
                if (!last) {
                    for (int32_t i = 1; i < bodyCount; ++i) {
                        dgBody* const body = solver->m_bodies[i];
                        body->m_islandStamp = frame;
                        body->m_force = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
                        body->m_torque = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
                        if (body->m_forceAndTorque) {
                            body->m_forceAndTorque(body);
                        }
                    }
                }
            }
            dgConstraint** const gathered = solver->m_joints;
            const int32_t count = dgWorldGetReachableJoints(
                entry.joint, gathered, std::min(kMaxVehicleJoints, solver->m_jointCapacity));
            // Every contact first: a vehicle gathers its tire contacts from
            // the points just made, wherever its joint stands in the list.
            for (int32_t i = 0; (i < count) && !last; ++i) {
                dgConstraint* const joint = gathered[i];
                joint->m_islandStamp = frame;
                if ((joint->m_typeId == dgJointTypeContact) && joint->m_body1) {
                    dgWorldCollideBodyPair(world, joint->m_body0, joint->m_body1);
                }
            }
            for (int32_t i = 0; i < count; ++i) {
                dgConstraint* const joint = gathered[i];
                dgVehicleSetEntry* const vehicle =
                    (joint->m_typeId == dgJointTypeVehicle) ? set.find(joint) : nullptr;
                if (vehicle) {
                    vehicle->vehicleStamp = stepStamp;
                    if (!last && vehicle->gatherTires) {
                        vehicle->gatherTires(joint);
                    }
                }
            }
        }
        if (!last) {
            for (auto* node = set.m_entries.getFirst(); node; node = node->getNext()) {
                node->getValue().vehicleStamp = frame;
            }
        }
    }
    setTimestep(world, solver, timestep, invTimestep);
}

}  // namespace

template <class Rows>
void dgIslandSolver<Rows>::update(dgWorld* world) {
    dgConstraintSolver* const solver = world->m_solver;
    if (solver) {
        solver->m_staticBody.clear();
        solver->m_staticBody.m_rotation = dgQuaternion(0.0f, 0.0f, 0.0f, 1.0f);
        solver->m_bodies[0] = &solver->m_staticBody;
        solver->m_world = world;
        solver->m_rowBlock.world = world;
        solver->m_iterationMode = world->m_solverIterationMode;
        solver->m_solverOption = world->m_solverOption;
        setTimestep(world, solver, world->m_timeStep, world->m_invTimeStep);

        const uint64_t frame = world->m_stepStamp;
        const uint64_t stepStamp = frame + 1;
        if (!world->m_vehicleSet.isEmpty()) {
            vehicleSubSteps<dgIslandSolver<Rows>>(world, solver, stepStamp);
        }

        solver->m_stepWork = dgSolverStepWork;
        // Callbacks run inside this walk and may take any body out of the
        // tree, the next one included: each visit resumes after the current
        // key instead of from a saved node.
        dgBodyTree& tree = world->m_activeBodyTree;
        for (dgBodyTree::Node* node = tree.getFirst(); node;) {
            dgBody* const body = node->getPayload();
            const uintptr_t key = node->getKey();
            if (!isDynamic(body)) {
                tree.remove(node);
                body->m_activeNode = nullptr;
                if ((body->m_flags & dgBodyFlagActive) && body->m_activation) {
                    body->m_activation(body, 0);
                }
                body->m_flags = (body->m_flags & ~uint32_t(dgBodyFlagActive)) | dgBodyFlagEquilibrium;
            } else if (body->m_islandStamp < stepStamp) {
                const int32_t bodyCount = dgSolverBuildIsland(solver, body, frame);
                if (dgSolverIntegrateIsland(solver, bodyCount, world->m_timeStep)) {
                    freezeIsland(solver, bodyCount);
                }
            }
            node = tree.findGreater(key);
        }
    }
    dgWorldDestroyStaleContacts(world);
    world->m_stepStamp += 2;
}

template struct dgIslandSolver<dgScalarSolver>;
template struct dgIslandSolver<dgSimdSolver>;

void dgSimdSolverUpdate(dgWorld* world) {
    dgFlushToZeroScope flushToZero;
    dgSimdIslandSolver::update(world);
}

void dgScalarSolverUpdate(dgWorld* world) {
    dgScalarIslandSolver::update(world);
}

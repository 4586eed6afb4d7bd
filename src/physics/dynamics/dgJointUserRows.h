// The rows a joint's user callback asks for through its descriptors (a motor,
// a limit or friction along or about the joint's pin), and the stop rule the
// joints' stop accelerations share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgJointRowBlock.h"
#include "dgPhysics.h"
#include "dgVector.h"

class dgConstraint;
struct dgPointKinematics;

// The callbacks of the corkscrew and the universal joint read two
// descriptors one after the other, 16 bytes each.
static_assert(sizeof(dgJointUserDescriptor) == 16 && offsetof(dgJointUserDescriptor, m_timestep) == 12,
              "a descriptor is four floats");

// Spring gain of a stop towards its limit, per unit of excess (1/s^2), and
// the share of the speed away from the limit a stop removes in one step.
constexpr float dgJointStopGain = 100.0f;
constexpr float dgJointStopBrake = 1.01f;

// What a callback is handed: acceleration 0, bounds open (+-1e15), the step.
dgJointUserDescriptor dgJointOpenDescriptor(float timestep);

// Row `row` as the descriptor asks: when its bounds were narrowed (lower
// above -1e15 or upper below +1e15) the row is bounded by them (normal index
// dgRowBounded); an angular row about the unit pin (angle error 0) or a
// linear row along the unit direction at the kinematics' points; then its
// right-hand side becomes the descriptor's acceleration. Writes nothing and
// returns false for a descriptor holding a non-finite value or a lower bound
// above the upper one, so that no such value reaches the solver.
bool dgJointAddUserAngularRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                              const dgVector& pin, float stiffness, const dgJointUserDescriptor& desc,
                              float* forceSlot);
bool dgJointAddUserLinearRow(const dgConstraint* joint, int32_t row, dgJointRowBlock& block,
                             const dgVector& direction, const dgPointKinematics& kinematics,
                             const dgJointUserDescriptor& desc, float* forceSlot);

// The acceleration that stops a joint coordinate c (an angle or a position)
// moving at `speed` at `limit`, over the step h: 0 when c == limit; above the
// limit (limit - c) x dgJointStopGain less dgJointStopBrake x speed / h for a
// speed raised to 0 (only motion further up is braked); below it
// (limit - c) x gainBelow less the same for a speed lowered to 0. 0 for a
// non-finite input or a step that is not positive.
float dgJointStopAcceleration(float c, float limit, float speed, float h, float gainBelow = dgJointStopGain);

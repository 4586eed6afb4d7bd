// The universal joint: holds two bodies together at a common point (the
// pivot) and lets them turn about two axes only, pin0 carried by body0 and
// pin1 carried by body1, the pins kept perpendicular. A user callback may add
// an angular row about each pin (a motor, a limit or friction) through two
// descriptors.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"
#include "dgPhysics.h"

class dgWorld;

class dgUniversalJoint : public dgBilateralJoint {
public:
    // Made in a slot of the world's universal pool: reset, max rows 6, type
    // dgJointTypeUniversal, both angles 0, no callback.
    dgUniversalJoint();
    ~dgUniversalJoint() override;

    // The destructor callback, then back to the world's universal pool.
    void release() override;
    // Four rows hold the pivots together and pin1 across pin0; result bit 0
    // of the callback adds a row about pin0 (descriptor 0), bit 1 one about
    // pin1 (descriptor 1). Rewrites both angles.
    int32_t submitRows(dgJointRowBlock& block) override;

    void setUserCallback(dgJointUserCallback callback);
    // The angles about pin0 and pin1 as of the last submitRows. Angle 0 grows
    // with omega 0, angle 1 with -omega 1.
    float getJointAngle0() const;
    float getJointAngle1() const;
    // (omega0 - omega1) . pin0 and . pin1 (omega1 = 0 without body1), pin0
    // carried by body0 and pin1 by body1 (world space without body1).
    float getJointOmega0() const;
    float getJointOmega1() const;
    // The accelerations that stop each angle at its limit, in the sense of
    // the matching omega (dgJointStopAcceleration; for angle 1, whose omega
    // runs the other way, on the negated angle and limit).
    float calculateStopAlpha0(float angle, const dgJointUserDescriptor& desc) const;
    float calculateStopAlpha1(float angle, const dgJointUserDescriptor& desc) const;
    // The force of the four positional rows in the last solve, world space:
    // each row's force along its own direction.
    dgVector getJointForce() const;

    // ---- fields, in record order (after dgBilateralJoint's) ----

    float m_angle0;
    float m_angle1;
    // Null: four rows.
    dgJointUserCallback m_userCallback;
};

// A universal joint attached to body0 and body1 (null: the static world) at
// pivot with pin0 and pin1 (world space; pin0 must not be zero; a pin1 zero
// or parallel to pin0 is replaced by one across it). Null when the world
// refuses the attachment or has no room.
dgUniversalJoint* dgWorldCreateUniversal(dgWorld* world, const dgVector& pivot, const dgVector& pin0,
                                         const dgVector& pin1, dgBody* body0, dgBody* body1);

// The hinge joint: two bodies turn about one common axis (the pin) through a
// common point (the pivot) and nothing else. A user callback may add a sixth
// row about the pin (a motor, a limit or friction) through a descriptor.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"
#include "dgPhysics.h"

class dgWorld;

class dgHingeJoint : public dgBilateralJoint {
public:
    // Made in a slot of the world's hinge pool: reset, max rows 6, type
    // dgJointTypeHinge, angle 0, no callback.
    dgHingeJoint();
    ~dgHingeJoint() override;

    // The destructor callback, then back to the world's hinge pool.
    void release() override;
    // Five rows hold the pivots together and the pins parallel; a sixth when
    // the user callback asks for it. Rewrites the angle.
    int32_t submitRows(dgJointRowBlock& block) override;

    // (omega0 - omega1) . pin, the pin carried by body0 (omega1 = 0 without
    // body1): the rate of the angle.
    float getJointOmega() const;
    // The acceleration about the pin that stops the hinge at `angle`
    // (dgJointStopAcceleration), with the stored angle, the omega now and the
    // descriptor's step; below the limit the spring is 16 times stiffer.
    float calculateStopAlpha(float angle, const dgJointUserDescriptor& desc) const;
    // The force of the three pivot rows in the last solve, world space (the
    // pin rows are angular and carry none).
    dgVector getJointForce() const;

    // ---- fields, in record order (after dgBilateralJoint's) ----

    // Body0's turn about the pin past body1's, radians, as of the last
    // submitRows.
    float m_angle;
    // Null: five rows.
    dgJointUserCallback m_userCallback;
};

// A hinge attached to body0 and body1 (null: the static world) with its frame
// at pivot about pin (world space; the pin need not be unit, must not be
// zero). Null when the world refuses the attachment or has no room.
dgHingeJoint* dgWorldCreateHinge(dgWorld* world, const dgVector& pivot, const dgVector& pin, dgBody* body0,
                                 dgBody* body1);

// The slider joint: two bodies slide along a common pin without turning. A
// user callback may add a sixth row along the pin (a motor, a limit or
// friction) through a descriptor.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"
#include "dgPhysics.h"

class dgWorld;

class dgSliderJoint : public dgBilateralJoint {
public:
    // Made in a slot of the world's slider pool: reset, max rows 6, type
    // dgJointTypeSlider, position 0, no callback.
    dgSliderJoint();
    ~dgSliderJoint() override;

    // The destructor callback, then back to the world's slider pool.
    void release() override;
    // Five rows keep body1's axis through body0's pivot and the frames from
    // turning; a sixth along the pin when the callback asks for it. Rewrites
    // the position.
    int32_t submitRows(dgJointRowBlock& block) override;

    // (v0 - v1) . pin, the pin carried by body0 (v1 = 0 without body1): the
    // rate of the position.
    float getJointVelocity() const;
    // The acceleration along the pin that stops the slider at `position`
    // (dgJointStopAcceleration, the same gain on both sides).
    float calculateStopAccel(float position, const dgJointUserDescriptor& desc) const;
    // The force of the two axis rows in the last solve, world space (the
    // other three are angular and carry none).
    dgVector getJointForce() const;

    // ---- fields, in record order (after dgBilateralJoint's) ----

    // Body0's pivot past body1's along body0's pin, as of the last
    // submitRows.
    float m_position;
    // Null: five rows.
    dgJointUserCallback m_userCallback;
};

// A slider attached to body0 and body1 (null: the static world), its frame
// at pivot along pin (world space; the pin must not be zero). Null when the
// world refuses the attachment or has no room.
dgSliderJoint* dgWorldCreateSlider(dgWorld* world, const dgVector& pivot, const dgVector& pin, dgBody* body0,
                                   dgBody* body1);

// Where the rows of a slider or a corkscrew join the bodies, from the joint
// frames G0 and G1 in world space (row 0 the pin, row 3 the pivot).
struct dgSliderAxisPoints {
    // G0's pivot past G1's along G0's pin.
    float position;
    // The point of body1's axis (G1's pivot and pin) facing G0's pivot.
    dgVector facing;
};
dgSliderAxisPoints dgSliderGetAxisPoints(const dgMatrix& g0, const dgMatrix& g1);

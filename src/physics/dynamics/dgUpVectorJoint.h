// The up-vector joint: keeps one axis of a single body parallel to a fixed
// world direction (the pin), leaving the body free to move and to spin about
// that direction. It has no second body and does not tie bodies together
// (isBilateral is false), so the walks over jointed bodies pass it by.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"

class dgWorld;

class dgUpVectorJoint : public dgBilateralJoint {
public:
    // The stiffness an up-vector joint starts with (stored 1.02).
    static constexpr float kDefaultUpStiffness = 0.995f;

    // Made in a slot of the world's up-vector pool: reset, stiffness 0.995,
    // max rows 2, type dgJointTypeUpVector.
    dgUpVectorJoint();
    ~dgUpVectorJoint() override;

    // The destructor callback, then back to the world's up-vector pool.
    void release() override;
    bool isBilateral() const override;
    // Two angular rows that turn the body's axis onto the pin. An axis
    // exactly opposite to the pin counts as aligned.
    int32_t submitRows(dgJointRowBlock& block) override;

    // Frames from the body's present position and the pin (world, not zero):
    // the body's axis is the one lying along the pin now.
    void setPinAndPivot(const dgVector& pin);
    // A new pin (world, not zero); the body's axis stays, so the body turns
    // towards the pin.
    void setPin(const dgVector& pin);
    // Row 0 of local frame 1: the unit pin in world space.
    dgVector getPin() const;
};

// An up-vector joint attached to body (body1 null) along pin (world, not
// zero). Null when the world refuses the attachment or has no room.
dgUpVectorJoint* dgWorldCreateUpVector(dgWorld* world, const dgVector& pin, dgBody* body);

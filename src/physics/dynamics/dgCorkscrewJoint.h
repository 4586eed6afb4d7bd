// The corkscrew joint: two bodies slide along a common pin and turn about it.
// A user callback may add a row along the pin and one about it through two
// descriptors.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"
#include "dgPhysics.h"

class dgWorld;

class dgCorkscrewJoint : public dgBilateralJoint {
public:
    // Made in a slot of the world's corkscrew pool: reset, max rows 6, type
    // dgJointTypeCorkscrew, angle and position 0, no callback.
    dgCorkscrewJoint();
    ~dgCorkscrewJoint() override;

    // The destructor callback, then back to the world's corkscrew pool.
    void release() override;
    // Four rows keep body1's axis through body0's pivot and the pins
    // parallel; result bit 0 of the callback adds a row along the pin
    // (descriptor 0), bit 1 one about it (descriptor 1). Rewrites the angle
    // and the position.
    int32_t submitRows(dgJointRowBlock& block) override;

    void setUserCallback(dgJointUserCallback callback);
    float getJointAngle() const;
    float getJointPosition() const;
    // (omega0 - omega1) . pin and (v0 - v1) . pin, the pin carried by body0.
    float getJointOmega() const;
    float getJointVelocity() const;
    // Stop accelerations about and along the pin (dgJointStopAcceleration,
    // the same gain on both sides).
    float calculateStopAlpha(float angle, const dgJointUserDescriptor& desc) const;
    float calculateStopAccel(float position, const dgJointUserDescriptor& desc) const;
    // The force of the two axis rows in the last solve, world space (the pin
    // rows are angular and carry none).
    dgVector getJointForce() const;

    // ---- fields, in record order (after dgBilateralJoint's) ----

    // Body0's turn about the pin past body1's, and its pivot past body1's
    // along the pin, as of the last submitRows.
    float m_angle;
    float m_position;
    // Null: four rows.
    dgJointUserCallback m_userCallback;
};

// A corkscrew attached to body0 and body1 (null: the static world), its
// frame at pivot along pin (world space; the pin must not be zero). Null
// when the world refuses the attachment or has no room.
dgCorkscrewJoint* dgWorldCreateCorkscrew(dgWorld* world, const dgVector& pivot, const dgVector& pin,
                                         dgBody* body0, dgBody* body1);

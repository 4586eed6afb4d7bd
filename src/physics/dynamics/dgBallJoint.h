// The ball-and-socket joint: holds a point of one body on a point of another
// (the pivot) and leaves the three rotations free, optionally within a cone
// about the joint's pin (the pins of the two bodies part by at most the cone
// limit) and a twist range about it. Limit rows are written only while a
// limit is exceeded.
#pragma once

#include <cstdint>

#include "dgBilateralJoint.h"
#include "dgPhysics.h"

class dgWorld;

class dgBallJoint : public dgBilateralJoint {
public:
    // Bits of m_limitFlags.
    static constexpr uint32_t kConeLimit = 1u << 0;
    static constexpr uint32_t kTwistLimit = 1u << 1;
    // Kept for its getter; nothing else reads it.
    static constexpr uint32_t kSpareFlag = 1u << 2;

    // The engine's degree (3.14159 / 180 in single precision) and the bounds
    // of the limits, in radians.
    static constexpr float kDegree = 0.017453279f;
    static constexpr float kMinLimit = 5.0f * kDegree;
    static constexpr float kMaxTwist = 90.0f * kDegree;
    static constexpr float kMaxCone = 175.0f * kDegree;
    // The limits of a new joint: 3.14159 / 2, within both ranges.
    static constexpr float kDefaultLimit = 1.570795f;

    // Made in a slot of the world's ball pool: reset, joint angles 0, no
    // callback, type dgJointTypeBall, no limit, max rows 6.
    dgBallJoint();
    ~dgBallJoint() override;

    // The destructor callback, then back to the world's ball pool.
    void release() override;
    // Calls the user callback, then writes three rows that hold the pivots
    // together, a twist row while the twist is beyond its limit and two cone
    // rows while the pins part by more than the cone limit (3 to 6 rows).
    // Rewrites the joint angles.
    int32_t submitRows(dgJointRowBlock& block) override;

    // Frames at pivot (world) with the pin from body0's origin to the pivot
    // (body0's row 0 when the pivot is at the origin), and the default limits
    // (setLimits with the pin, -+kDefaultLimit and body0's frame's row 2).
    void setPivot(const dgVector& pivot);
    // Rebuilds both frames about the pin p0 (world; refused when zero) with
    // row 1 along p1 x p0 (or an axis across p0 when p1 is nearly parallel to
    // it) turned about p0 by (minCone + maxCone) / 2, body0's pivot moved
    // onto body1's: the present pose becomes the zero pose. The cone limit
    // becomes (maxCone - minCone) / 2 held within [kMinLimit, kMaxCone], the
    // twist limit `twist` held within [kMinLimit, kMaxTwist]. The flags stay.
    void setLimits(const dgVector& p0, float minCone, float maxCone, float twist, const dgVector& p1);

    void setConeLimitFlag(bool on);
    void setTwistLimitFlag(bool on);
    void setSpareFlag(bool on);
    int32_t getConeLimitFlag() const;
    int32_t getTwistLimitFlag() const;
    int32_t getSpareFlag() const;
    void setUserCallback(dgBallJointCallback callback);

    // The joint angles as of the last submitRows.
    dgVector getJointAngles() const;
    // (R0 . dw, R1 . dw, R2 . dw, 1): dw = omega0 - omega1 (omega1 = 0
    // without body1) on the rows of local frame 0 turned into world space.
    dgVector getJointOmega() const;
    // f0 G0 row 0 + f1 G0 row 1 + f2 G0 row 2 with the point rows' forces.
    dgVector getJointForce() const;

    // ---- fields, in record order (after dgBilateralJoint's) ----

    // Minus the Euler angles of G1 seen from G0 (x about the pin, the
    // twist), w 0; rewritten by every submitRows after the callback.
    dgVector m_jointAngles;
    uint32_t m_limitFlags;
    // Half-angle of the cone, radians, within [kMinLimit, kMaxCone].
    float m_coneLimit;
    // Within [kMinLimit, kMaxTwist].
    float m_twistLimit;
    float m_coneCosine;
    // Called with the joint at the start of every submitRows; null: none.
    dgBallJointCallback m_userCallback;
};

// A ball joint attached to body0 and body1 (null: the static world) with its
// frames at pivot (world space). Null when the world refuses the attachment
// or has no room.
dgBallJoint* dgWorldCreateBall(dgWorld* world, const dgVector& pivot, dgBody* body0, dgBody* body1);

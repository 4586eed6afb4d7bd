// The base of the two-body joints (ball, hinge, slider, corkscrew, universal,
// up-vector, user joints): the joint frame held in each body's space, a
// stiffness, the force slots its rows name, and a destructor callback.
#pragma once

#include "dgConstraint.h"
#include "dgMatrix.h"
#include "dgVector.h"

// Frame whose front row is the unit direction d, the other two rows an
// orthonormal completion (front x up = right), fourth components 0, position
// (0, 0, 0, 1).
dgMatrix dgMatrixFromDirection(const dgVector& direction);

class dgBilateralJoint : public dgConstraint {
public:
    // Stiffness a joint starts with.
    static constexpr float kDefaultStiffness = 0.9f;
    static constexpr int32_t kRowForceCount = 6;

    // ---- virtual operations (dgConstraint's slots) ----
    void setDestructorCallback(dgConstraintDestructorCallback callback) override;
    float getStiffness() const override;
    // s below 0 (or NaN) counts as 0, above 1 as 1; stored as 5 - 4 s.
    void setStiffness(float stiffness) override;
    // Header reset, no callback, identity frames, the default stiffness (through
    // the virtual setStiffness) and cleared row forces.
    void reset() override;
    ~dgBilateralJoint() override;
    // Calls the destructor callback, when one is set, with the joint.
    void release() override;
    bool isBilateral() const override;

    // ---- frames ----

    // The frame dgMatrixFromDirection(pin / |pin|) placed at pivot (both world
    // space), expressed in body0's space (local0) and in body1's space
    // (local1; world space when body1 is null). The bodies must be set. A
    // zero pin gives no frame (NaN rows).
    void calculateLocalMatrix(const dgVector& pivot, const dgVector& pin, dgMatrix& local0, dgMatrix& local1) const;
    // calculateLocalMatrix into the joint's own frames.
    void setPinAndPivot(const dgVector& pivot, const dgVector& pin);
    // As setPinAndPivot with the front row pin0 / |pin0| (not zero) and the
    // second row taken from pin1: right = front x pin1 normalised, up =
    // right x front. A pin1 that is zero or within about 0.06 degrees of
    // parallel to pin0 is replaced by dgMatrixFromDirection's up row.
    void setPivotAndTwoPins(const dgVector& pivot, const dgVector& pin0, const dgVector& pin1);
    // The two frames in world space, and the Euler angles (x, y, z, 0) of
    // global1 seen from global0 (global1 x inverse of global0); all 0 when
    // they come out non-finite.
    dgVector calculateGlobalMatrices(dgMatrix& global0, dgMatrix& global1) const;

    // ---- speeds along the pin (row 0 of local frame 0 turned into world
    // space by body0's matrix); body1's part is 0 without body1 ----

    // Linear velocity of body0 less body1's along the pin.
    float getPinVelocity() const;
    // Angular velocity of body0 less body1's along the pin.
    float getPinOmega() const;

    // ---- fields, in record order (after dgConstraint's) ----

    // The joint frame in body0's space: row 0 the pin, row 3 the pivot.
    dgMatrix m_localMatrix0;
    // The same frame in body1's space (world space without body1).
    dgMatrix m_localMatrix1;
    // 5 - 4 s for the user stiffness s: 1.0 rigid, 5.0 softest. The rows take
    // it as their regulariser.
    float m_stiffness;
    // Force slots the rows name; the solver writes each row's force there and
    // starts the next step from it.
    float m_rowForces[kRowForceCount];
    dgConstraintDestructorCallback m_destructor;

protected:
    // dgBilateralJoint::reset.
    dgBilateralJoint();

private:
    // Frame placed at pivot into the two local frames.
    void localFrames(const dgMatrix& global, dgMatrix& local0, dgMatrix& local1) const;
};

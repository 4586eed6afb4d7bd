// The user joint of the public header: a two-body joint whose rows the
// application writes from a callback each time the solver asks for them
// (dgUserJointAdd... and dgUserJointSetRow... act on the joint during that
// callback only). It lives on the heap, not in a pool, and frees itself
// when destroyed.
#pragma once

#include <cstdint>

#include "dgJointRowBlock.h"
#include "dgPhysics.h"
#include "dgUserJointBase.h"
#include "dgVector.h"

class dgWorld;

class dgUserJoint : public dgUserJointBase {
public:
    // Rows whose forces live inside the object; more take a block of their
    // own.
    static constexpr int32_t kInlineRows = kRowForceCount;
    // Regulariser of a user row of stiffness s: kSoftRow - (kSoftRow - 1) s.
    static constexpr float kSoftRow = 100.0f;
    // Least magnitude of the bounds the friction setters store.
    static constexpr float kMinFriction = 0.05f;

    // Type dgJointTypeDefault + typeOffset; maxRows held within
    // [0, dgJointRowBlock::kMaxRows]; row forces cleared (m_rowForce null when
    // their block cannot be had).
    dgUserJoint(dgWorld* world, dgBody* body0, dgBody* body1, int32_t typeOffset, int32_t maxRows,
                dgUserJointCallback callback);
    // Frees the row forces' block, if any.
    ~dgUserJoint() override;

    // Row count 0, the solver's block, the callback; the rows it added.
    int32_t submitRows(dgJointRowBlock& block) override;

    // ---- rows, while the callback runs; false (nothing written) when no
    // row may be added: outside the callback, at the maximum, or for
    // non-finite input ----

    // Linear row along the unit-scaled direction (not zero) between pivot0 on
    // body0 and pivot1 on body1 (world points); the joint's stiffness.
    bool addLinearRow(const dgVector& pivot0, const dgVector& pivot1, const dgVector& direction);
    // Angular row about the unit-scaled pin (not zero) with the angle error;
    // the joint's stiffness.
    bool addAngularRow(float angle, const dgVector& pin);
    // Six floats each: linear x, y, z, angular x, y, z for body0 and body1.
    bool addGeneralRow(const float* jacobian0, const float* jacobian1);

    // ---- the last row added; nothing without one, or for a non-finite
    // value ----

    void setRowAcceleration(float acceleration);
    // dgJointSpringDamperAcceleration on the row's error: the row angle plus
    // (pivot1 - pivot0) along the row's body0 linear part.
    void setRowSpringDamperAcceleration(float spring, float damper);
    // Upper bound = value held within [kMinFriction, 1e15]; bounded row.
    void setRowMinimumFriction(float value);
    // Lower bound = value held within [-1e15, -kMinFriction]; bounded row.
    void setRowMaximumFriction(float value);
    // Regulariser kSoftRow - (kSoftRow - 1) s, s held within [0, 1].
    void setRowStiffness(float stiffness);

    // The force of row in the last solve; 0 unless 0 <= row < m_rowCount.
    float getRowForce(int32_t row) const;

    // ---- fields, in record order (after dgUserJointBase's) ----

    dgUserJointCallback m_callback;
    // Rows added in the current (or last) call.
    int32_t m_rowCount;
    // One float per row (m_maxRows of them): m_rowForces of the base for up
    // to kInlineRows rows, else a dgMalloc block.
    float* m_rowForce;
    // The solver's block while the callback runs; null otherwise.
    dgJointRowBlock* m_rowBlock;
    // The last row's angle error (0 for linear and general rows).
    float m_rowAngle;
    // The last linear row's pivots (zero after an angular or general row).
    dgVector m_pivot0;
    dgVector m_pivot1;

private:
    // The row index the next add may take, or -1.
    int32_t nextRow() const;
    // The last row, or -1.
    int32_t lastRow() const;
    // The row's wanted acceleration held within the flat interface's range
    // (dgFlatInput.h); 0 when it came out non-finite.
    void holdAcceleration(int32_t row);
};

// A user joint of maxRows rows attached to body0 and body1 (null: the
// static world); null when the world refuses the attachment or memory cannot
// be had (nothing left behind).
dgUserJoint* dgWorldCreateUserJoint(dgWorld* world, int32_t maxRows, dgUserJointCallback callback,
                                    dgBody* body0, dgBody* body1);

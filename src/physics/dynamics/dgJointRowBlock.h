// The record a joint fills with its constraint rows each step: one row is one
// scalar constraint on the relative motion of the joint's two bodies (a
// Jacobian, bounds on the row force, the wanted relative acceleration and a
// regulariser factor). The solver keeps one block in its workspace and hands
// it to each joint of an island in turn.
#pragma once

#include <cstdint>

class dgWorld;

// How the solver treats a row, by its bound record's normal index.
enum dgRowKind : int32_t {
    // Start from the stored force; bounds [lower, upper].
    dgRowOrdinary = -1,
    // Contact normal: start force raised to 0 when negative.
    dgRowOneSided = -2,
    // Start force clamped into [lower, upper].
    dgRowBounded = -3,
    // k >= 0: friction row tied to row k of the same joint; lower and upper
    // are coefficients of row k's solved force (raised to 0 when negative).
};

struct dgJointRowBound {
    float lower;
    float upper;
    int32_t normalIndex;
    // Where the solver writes the row's force and reads it back as the next
    // step's start value; null for none.
    float* forceSlot;
};

struct dgJointRowBlock {
    static constexpr int32_t kMaxRows = 48;

    dgWorld* world;
    float timestep;
    float invTimestep;
    // Row i: linear part for body0 (x, y, z, 0), angular part for body0,
    // linear part for body1, angular part for body1.
    float jacobians[kMaxRows][16];
    dgJointRowBound bounds[kMaxRows];
    // Wanted relative acceleration along the row.
    float rightHandSides[kMaxRows];
    // 1.0 for a rigid row; joints put their stiffness value here.
    float regularisers[kMaxRows];
};

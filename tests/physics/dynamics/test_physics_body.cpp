// The body functions of the public header, through that header alone: it
// must compile on its own. What needs a world and a shape is in
// test_physics_body_world.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dgPhysics.h"

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

// A null body is ignored by every setter and every getter answers 0.
TEST(PhysicsBodyNull, SettersIgnoreItAndGettersGiveZero) {
    const float v[3] = {1.0f, 2.0f, 3.0f};
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1};
    int userValue = 0;
    dgBodySetUserData(nullptr, &userValue);
    dgBodySetTransformCallback(nullptr, [](dgBody*, const float*) {});
    dgBodySetForceAndTorqueCallback(nullptr, [](dgBody*) {});
    dgBodySetActivationCallback(nullptr, [](dgBody*, uint32_t) { ADD_FAILURE(); });
    dgBodySetDestructorCallback(nullptr, [](dgBody*) {});
    dgBodySetMassMatrix(nullptr, 1.0f, 1.0f, 1.0f, 1.0f);
    dgBodySetMatrix(nullptr, m);
    dgBodySetMatrixRecursive(nullptr, m);
    dgBodySetForce(nullptr, v);
    dgBodyAddForce(nullptr, v);
    dgBodySetTorque(nullptr, v);
    dgBodyAddTorque(nullptr, v);
    dgBodySetCentreOfMass(nullptr, v);
    dgBodySetVelocity(nullptr, v);
    dgBodySetOmega(nullptr, v);
    dgBodySetLinearDamping(nullptr, 0.5f);
    dgBodySetAngularDamping(nullptr, v);
    dgBodySetFreezeThreshold(nullptr, 1.0f, 1.0f);
    dgBodySetAutoFreeze(nullptr, 1);
    dgBodySetContinuousCollisionMode(nullptr, 1);
    dgBodySetDirectLinkCollisionMode(nullptr, 1);
    dgBodySetFlagBit3(nullptr, 1);
    dgBodySetMaterialGroupId(nullptr, 3);
    dgBodySetCollision(nullptr, nullptr);
    dgBodyAddImpulse(nullptr, v, v);
    dgBodyAddBuoyancyForce(nullptr, 1.0f, 1.0f, 1.0f, v, nullptr, nullptr);
    dgBodyForEachPolygonDo(nullptr, [](const dgBody*, int32_t, const float*, int32_t) { ADD_FAILURE(); });
    dgDestroyBody(nullptr, nullptr);
    EXPECT_EQ(dgCreateBody(nullptr, nullptr), nullptr);

    EXPECT_EQ(dgBodyGetUserData(nullptr), nullptr);
    EXPECT_EQ(dgBodyGetWorld(nullptr), nullptr);
    EXPECT_EQ(dgBodyGetForceAndTorqueCallback(nullptr), nullptr);
    EXPECT_EQ(dgBodyGetCollision(nullptr), nullptr);
    EXPECT_EQ(dgBodyGetLinearDamping(nullptr), 0.0f);
    EXPECT_EQ(dgBodyGetAutoFreeze(nullptr), 0);
    EXPECT_EQ(dgBodyGetContinuousCollisionMode(nullptr), 0);
    EXPECT_EQ(dgBodyGetDirectLinkCollisionMode(nullptr), 0);
    EXPECT_EQ(dgBodyGetMaterialGroupId(nullptr), 0u);

    // Every out-pointer getter writes zeros over a poisoned buffer.
    const std::vector<std::pair<int, std::function<void(float*)>>> outs = {
        {16, [](float* o) { dgBodyGetMatrix(nullptr, o); }},
        {4, [](float* o) { dgBodyGetMassMatrix(nullptr, o, o + 1, o + 2, o + 3); }},
        {4, [](float* o) { dgBodyGetInverseMassMatrix(nullptr, o, o + 1, o + 2, o + 3); }},
        {3, [](float* o) { dgBodyGetForce(nullptr, o); }},
        {3, [](float* o) { dgBodyGetTorque(nullptr, o); }},
        {3, [](float* o) { dgBodyGetCentreOfMass(nullptr, o); }},
        {3, [](float* o) { dgBodyGetVelocity(nullptr, o); }},
        {3, [](float* o) { dgBodyGetOmega(nullptr, o); }},
        {3, [](float* o) { dgBodyGetAngularDamping(nullptr, o); }},
        {2, [](float* o) { dgBodyGetFreezeThreshold(nullptr, o, o + 1); }},
        {6, [](float* o) { dgBodyGetAABB(nullptr, o, o + 3); }},
    };
    for (size_t k = 0; k < outs.size(); ++k) {
        float out[16];
        std::fill(out, out + 16, kNan);
        outs[k].second(out);
        for (int i = 0; i < outs[k].first; ++i) {
            EXPECT_EQ(out[i], 0.0f) << "getter " << k << " entry " << i;
        }
    }
}

// dgSetEulerAngles builds Rx * Ry * Rz at position 0 and dgGetEulerAngles
// gives the angles back away from the gimbal lock.
TEST(PhysicsBodyEuler, AnglesSurviveTheMatrixRoundTrip) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> angle(-3.1f, 3.1f);
    std::uniform_real_distribution<float> pitch(-1.4f, 1.4f);
    for (int n = 0; n < 2000; ++n) {
        const float in[3] = {angle(rng), pitch(rng), angle(rng)};
        float m[16];
        dgSetEulerAngles(in, m);
        for (int row = 0; row < 3; ++row) {
            const float* r = m + 4 * row;
            ASSERT_NEAR(r[0] * r[0] + r[1] * r[1] + r[2] * r[2], 1.0f, 1e-5f);
            ASSERT_EQ(r[3], 0.0f);
        }
        ASSERT_EQ(m[12], 0.0f);
        ASSERT_EQ(m[13], 0.0f);
        ASSERT_EQ(m[14], 0.0f);
        ASSERT_EQ(m[15], 1.0f);
        float out[3];
        dgGetEulerAngles(m, out);
        for (int i = 0; i < 3; ++i) {
            ASSERT_NEAR(out[i], in[i], 2e-3f) << "sample " << n << " axis " << i;
        }
    }
}

}  // namespace

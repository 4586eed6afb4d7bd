// The public interface's world and material functions, reached through the
// public header alone: it must stand by itself.
#include "dgPhysics.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct PhysicsWorld : public ::testing::Test {
    void SetUp() override { world = dgWorldCreate(nullptr, nullptr); }
    void TearDown() override { dgWorldDestroy(world); }
    dgWorld* world = nullptr;
};

// ---- world settings and bad input ----

TEST_F(PhysicsWorld, VersionUserDataAndNullHandles) {
    EXPECT_EQ(dgWorldGetVersion(), 153);
    int value = 0;
    EXPECT_EQ(dgWorldGetUserData(world), nullptr);
    dgWorldSetUserData(world, &value);
    EXPECT_EQ(dgWorldGetUserData(world), &value);

    // Every function takes a null world or material without effect.
    const float box[3] = {1.0f, 1.0f, 1.0f};
    float out[3] = {7.0f, 7.0f, 7.0f};
    dgWorldDestroy(nullptr);
    dgWorldDestroyAllBodies(nullptr);
    dgWorldUpdate(nullptr, 0.01f);
    dgWorldSetMinimumFrameRate(nullptr, 100.0f);
    dgWorldSetSize(nullptr, box, box);
    dgWorldForEachBodyDo(nullptr, [](dgBody*) { FAIL(); });
    dgWorldForEachBodyInAABB(nullptr, box, box, [](dgBody*) { FAIL(); });
    dgWorldRayCast(
        nullptr, box, box, [](dgBody*, const float*, uint32_t, void*, float) { return 0.0f; }, nullptr,
        nullptr);
    dgWorldSetSimdMode(nullptr, 1);
    dgWorldSetSolverIterationMode(nullptr, 1);
    dgWorldSetSolverOption(nullptr, 1);
    dgWorldSetOutOfBoundsCallback(nullptr, nullptr);
    dgWorldFreezeBody(nullptr, nullptr);
    dgWorldUnfreezeBody(world, nullptr);
    dgWorldSetUserData(nullptr, &value);
    EXPECT_EQ(dgWorldGetUserData(nullptr), nullptr);
    EXPECT_EQ(dgWorldGetTimeStep(nullptr), 0.0f);
    EXPECT_EQ(dgMaterialGetDefaultGroupId(nullptr), 0u);
    EXPECT_EQ(dgMaterialCreateGroupId(nullptr), 0u);
    dgMaterialDestroyAllGroups(nullptr);
    dgMaterialSetDefaultCollidable(nullptr, 0, 0, 0);
    dgMaterialSetDefaultFriction(nullptr, 0, 0, 1.0f, 1.0f);
    dgMaterialSetDefaultElasticity(nullptr, 0, 0, 1.0f);
    dgMaterialSetDefaultSoftness(nullptr, 0, 0, 1.0f);
    dgMaterialSetCollisionCallback(nullptr, 0, 0, &value, nullptr, nullptr, nullptr);
    dgMaterialSetCompoundCallback(nullptr, 0, 0, nullptr);
    EXPECT_EQ(dgMaterialGetUserData(nullptr, 0, 0), nullptr);
    EXPECT_EQ(dgMaterialGetPairUserData(nullptr), nullptr);
    dgMaterialDisableContact(nullptr);
    EXPECT_EQ(dgMaterialGetContactAttribute(nullptr), 0u);
    EXPECT_EQ(dgMaterialGetContactTimeStep(nullptr), 0.0f);
    dgMaterialGetContactPositionAndNormal(nullptr, out, out);
    dgMaterialGetContactTangentDirections(nullptr, out, out);
    dgMaterialGetContactForce(nullptr, out);
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_EQ(dgMaterialGetBodyCollisionId(nullptr, nullptr), 0u);
    EXPECT_EQ(dgMaterialGetContactNormalSpeed(nullptr, nullptr), 0.0f);
    EXPECT_EQ(dgMaterialGetContactTangentSpeed(nullptr, nullptr, 0), 0.0f);
    dgMaterialSetContactSoftness(nullptr, 0.5f);
    dgMaterialSetContactElasticity(nullptr, 0.5f);
    dgMaterialSetContactFrictionState(nullptr, 1, 0);
    dgMaterialSetContactStaticFriction(nullptr, 1.0f, 0);
    dgMaterialSetContactKineticFriction(nullptr, 1.0f, 0);
    dgMaterialSetContactNormalAcceleration(nullptr, 1.0f);
    dgMaterialSetContactTangentAcceleration(nullptr, 1.0f, 1);
    dgMaterialSetContactTangentDirection(nullptr, box);
    // The world is untouched.
    EXPECT_EQ(dgWorldGetUserData(world), &value);
    EXPECT_EQ(dgMaterialGetDefaultGroupId(world), 0u);
}

// ---- material groups ----

// Whether the pair (id0, id1) exists, seen through its user data.
bool pairExists(dgWorld* world, uint32_t id0, uint32_t id1) {
    static int marker = 0;
    void* old = dgMaterialGetUserData(world, id0, id1);
    dgMaterialSetCollisionCallback(world, id0, id1, &marker, nullptr, nullptr, nullptr);
    const bool exists = dgMaterialGetUserData(world, id0, id1) == &marker;
    dgMaterialSetCollisionCallback(world, id0, id1, old, nullptr, nullptr, nullptr);
    return exists;
}

TEST_F(PhysicsWorld, GroupsAreNumberedInTurnWithEveryPairAtOnce) {
    EXPECT_EQ(dgMaterialGetDefaultGroupId(world), 0u);
    for (uint32_t id = 1; id <= 4; ++id) {
        EXPECT_EQ(dgMaterialCreateGroupId(world), id);
        for (uint32_t other = 0; other <= id; ++other) {
            EXPECT_TRUE(pairExists(world, id, other)) << id << " " << other;
            EXPECT_TRUE(pairExists(world, other, id)) << id << " " << other;
        }
        EXPECT_FALSE(pairExists(world, id + 1, 0));
    }
    dgMaterialDestroyAllGroups(world);
    EXPECT_TRUE(pairExists(world, 0, 0));
    EXPECT_FALSE(pairExists(world, 1, 0));
    EXPECT_EQ(dgMaterialCreateGroupId(world), 1u);
}

// Unknown ids: a group never created, and ids whose 16-bit key would land on
// another pair's record ((0x10001 << 16) + 0 wraps to the key of (1, 0)).
TEST_F(PhysicsWorld, UnknownGroupIdsChangeNothing) {
    ASSERT_EQ(dgMaterialCreateGroupId(world), 1u);
    int value = 0;
    const uint32_t unknown[][2] = {{2, 0}, {7, 7}, {0x10001u, 0}, {0x10000u, 1}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto& ids : unknown) {
        dgMaterialSetCollisionCallback(world, ids[0], ids[1], &value, nullptr, nullptr, nullptr);
        dgMaterialSetDefaultCollidable(world, ids[0], ids[1], 0);
        dgMaterialSetDefaultFriction(world, ids[0], ids[1], 0.001f, 0.5f);
        dgMaterialSetDefaultElasticity(world, ids[0], ids[1], 1.0f);
        dgMaterialSetDefaultSoftness(world, ids[0], ids[1], 1.0f);
        dgMaterialSetCompoundCallback(world, ids[0], ids[1], nullptr);
        EXPECT_EQ(dgMaterialGetUserData(world, ids[0], ids[1]), nullptr);
    }
    for (uint32_t id0 = 0; id0 < 2; ++id0) {
        for (uint32_t id1 = 0; id1 < 2; ++id1) {
            EXPECT_EQ(dgMaterialGetUserData(world, id0, id1), nullptr);
        }
    }
}

}  // namespace

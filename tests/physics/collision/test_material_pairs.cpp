// The material-pair table: group creation, keys, defaults and lookups.
#include <gtest/gtest.h>

#include <cstddef>

#include "ShapeTestUtils.h"
#include "dgMaterialPair.h"
#include "dgWorld.h"

namespace {

using shapetest::HookGuard;

struct MaterialTable : public ::testing::Test {
    void SetUp() override { world = dgWorldCreate(nullptr, nullptr); }
    void TearDown() override { dgWorldDestroy(world); }
    HookGuard guard;
    dgWorld* world = nullptr;
};

void expectFresh(const dgMaterialPair& pair) {
    EXPECT_EQ(pair.m_flags, 0x47u);
    EXPECT_EQ(pair.m_userData, nullptr);
    EXPECT_EQ(pair.m_begin, nullptr);
    EXPECT_EQ(pair.m_process, nullptr);
    EXPECT_EQ(pair.m_end, nullptr);
    EXPECT_EQ(pair.m_compound, nullptr);
    EXPECT_EQ(pair.m_softness, 0.1f);
    EXPECT_EQ(pair.m_elasticity, 0.4f);
    EXPECT_EQ(pair.m_staticFriction0, 0.9f);
    EXPECT_EQ(pair.m_staticFriction1, 0.9f);
    EXPECT_EQ(pair.m_kineticFriction0, 0.5f);
    EXPECT_EQ(pair.m_kineticFriction1, 0.5f);
    EXPECT_EQ(pair.m_normalAcceleration, 0.0f);
    EXPECT_EQ(pair.m_tangentAcceleration0, 0.0f);
    EXPECT_EQ(pair.m_tangentAcceleration1, 0.0f);
}

int32_t collideAll(dgMaterialPair*, dgBody*, dgBody*) {
    return 1;
}

}  // namespace

TEST_F(MaterialTable, GroupsAddOnePairPerExistingGroupUnderTheKeyFormula) {
    ASSERT_EQ(world->m_materialTree.getCount(), 1);
    // The record begins with a whole contact point, copied member for member.
    dgMaterialPair probe;
    const char* base = reinterpret_cast<const char*>(&probe);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<dgContactPoint*>(&probe)), base);
    EXPECT_GE(size_t(reinterpret_cast<const char*>(&probe.m_tangentDir0) - base), sizeof(dgContactPoint));
    expectFresh(*dgWorldGetMaterialPair(world, 0, 0));
    for (uint32_t g = 1; g < 40; ++g) {
        EXPECT_EQ(dgWorldCreateMaterialGroup(world), g);
    }
    EXPECT_EQ(world->m_materialTree.getCount(), 40 * 41 / 2);
    for (dgMaterialPairTree::Node* node : world->m_materialTree) {
        const uint32_t key = node->getKey();
        const uint32_t high = key >> 16;
        const uint32_t low = key & 0xffffu;
        EXPECT_LE(low, high);
        EXPECT_EQ(dgWorldGetMaterialPair(world, high, low), &node->getPayload());
        EXPECT_EQ(dgWorldGetMaterialPair(world, low, high), &node->getPayload());
        expectFresh(node->getPayload());
    }
    EXPECT_EQ(dgMaterialPairKey(2, 5), 0x50002u);
    EXPECT_EQ(dgMaterialPairKey(5, 2), 0x50002u);
}

// Values set on existing pairs never flow into pairs of later groups; a key
// already present keeps its record.
TEST_F(MaterialTable, NewGroupsStartFromTheDefaultsNotFromExistingPairs) {
    dgMaterialPair* pair00 = dgWorldGetMaterialPair(world, 0, 0);
    pair00->m_elasticity = 1.5f;
    pair00->m_flags = 0;
    pair00->m_begin = collideAll;
    const uint32_t g = dgWorldCreateMaterialGroup(world);
    expectFresh(*dgWorldGetMaterialPair(world, g, 0));
    expectFresh(*dgWorldGetMaterialPair(world, g, g));
    EXPECT_EQ(dgWorldGetMaterialPair(world, 0, 0)->m_elasticity, 1.5f);

    int32_t existed = -1;
    dgMaterialPair other;
    other.m_softness = 0.7f;
    dgMaterialPairInsert(&world->m_materialTree, 0, other, &existed);
    EXPECT_EQ(existed, 1);
    EXPECT_EQ(dgWorldGetMaterialPair(world, 0, 0)->m_softness, 0.1f);
}

// Ids never created find nothing, also where the key formula would alias
// another pair (65536 + 1 aliases (1, 0) and more); the 65,537th group is
// refused.
TEST_F(MaterialTable, UnknownIdsFindNothingAndTheTableStopsAt65536Groups) {
    dgWorldCreateMaterialGroup(world);
    EXPECT_EQ(dgWorldGetMaterialPair(world, 2, 0), nullptr);
    EXPECT_EQ(dgWorldGetMaterialPair(world, 0x10001u, 0), nullptr);
    EXPECT_EQ(dgWorldGetMaterialPair(world, 0xffffffffu, 1), nullptr);

    // The table of 65536 groups would hold two billion pairs: jump the
    // counter to its last id instead.
    world->m_materialGroupCount = 0xffffu;
    EXPECT_EQ(dgWorldCreateMaterialGroup(world), 0xffffu);
    const int32_t pairs = world->m_materialTree.getCount();
    EXPECT_EQ(dgWorldCreateMaterialGroup(world), world->m_defaultMaterialGroup);
    EXPECT_EQ(world->m_materialTree.getCount(), pairs);
    EXPECT_EQ(world->m_materialGroupCount, 0x10000u);
    EXPECT_NE(dgWorldGetMaterialPair(world, 0xffffu, 1), nullptr);
}

TEST_F(MaterialTable, DestroyingAllGroupsLeavesTheDefaultGroupAlone) {
    for (int32_t i = 0; i < 5; ++i) {
        dgWorldCreateMaterialGroup(world);
    }
    dgWorldGetMaterialPair(world, 0, 0)->m_flags = 0;
    dgMaterialDestroyAllGroups(world);
    EXPECT_EQ(world->m_materialGroupCount, 1u);
    EXPECT_EQ(world->m_defaultMaterialGroup, 0u);
    ASSERT_EQ(world->m_materialTree.getCount(), 1);
    // The record begins with a whole contact point, copied member for member.
    dgMaterialPair probe;
    const char* base = reinterpret_cast<const char*>(&probe);
    EXPECT_EQ(reinterpret_cast<const char*>(static_cast<dgContactPoint*>(&probe)), base);
    EXPECT_GE(size_t(reinterpret_cast<const char*>(&probe.m_tangentDir0) - base), sizeof(dgContactPoint));
    expectFresh(*dgWorldGetMaterialPair(world, 0, 0));
    EXPECT_EQ(dgWorldGetMaterialPair(world, 1, 0), nullptr);
}

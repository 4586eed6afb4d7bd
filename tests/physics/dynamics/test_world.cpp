#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "CountingHooks.h"
#include "WorldTestUtils.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgCollisionBox.h"
#include "dgCollisionPoint.h"
#include "dgCollisionSphere.h"
#include "dgConvexCollision.h"
#include "dgCpu.h"
#include "dgHash.h"
#include "dgApiWorld.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

// A shape to hold and release; dgCollisionBox counts its live instances.
dgCollisionBox* newBox() {
    return new dgCollisionBox(0, 1.0f, 2.0f, 3.0f, dgGetIdentityMatrix());
}

// Hooks that count their calls and pass through to malloc / free.
int g_userAllocs = 0;
int g_userReleases = 0;
void* userAllocate(uint32_t size) {
    ++g_userAllocs;
    return std::malloc(size);
}
void userRelease(void* ptr, uint32_t) {
    ++g_userReleases;
    std::free(ptr);
}

void defaultHooks(dgAllocHook* allocate, dgReleaseHook* release) {
    HookGuard guard;
    dgSetAllocatorHooks(nullptr, nullptr);
    dgGetAllocatorHooks(allocate, release);
}

// A first world builds the shared pools its trees take nodes from.
void warmUp() {
    HookGuard guard;
    dgWorldDestroy(dgWorldCreate(nullptr, nullptr));
}

}  // namespace

// Both hooks or neither: a world given one hook alone takes the C runtime's
// pair, so that a block from malloc never reaches a foreign release or the
// reverse. The hooks it takes are installed first, so that its own block
// comes from them, and every block goes back through them.
struct HookCase {
    const char* name;
    dgAllocHook allocate;
    dgReleaseHook release;
    bool used;
};

class WorldHooks : public ::testing::TestWithParam<HookCase> {};

TEST_P(WorldHooks, BothHooksOrNeither) {
    const HookCase& c = GetParam();
    dgAllocHook defaultAllocate;
    dgReleaseHook defaultRelease;
    defaultHooks(&defaultAllocate, &defaultRelease);
    ASSERT_NE(defaultAllocate, &userAllocate);
    warmUp();
    HookGuard guard;
    dgSetAllocatorHooks(userAllocate, userRelease);
    g_userAllocs = 0;
    g_userReleases = 0;
    dgWorld* world = dgWorldCreate(c.allocate, c.release);
    ASSERT_NE(world, nullptr);
    dgAllocHook allocate;
    dgReleaseHook release;
    dgGetAllocatorHooks(&allocate, &release);
    EXPECT_EQ(allocate, c.used ? &userAllocate : defaultAllocate);
    EXPECT_EQ(release, c.used ? &userRelease : defaultRelease);
    dgWorldDestroy(world);
    EXPECT_EQ(g_userAllocs > 0, c.used);
    EXPECT_EQ(g_userReleases, g_userAllocs);
}

INSTANTIATE_TEST_SUITE_P(WorldCreate, WorldHooks,
                         ::testing::Values(HookCase{"both", userAllocate, userRelease, true},
                                           HookCase{"allocateOnly", userAllocate, nullptr, false},
                                           HookCase{"releaseOnly", nullptr, userRelease, false},
                                           HookCase{"neither", nullptr, nullptr, false}),
                         [](const ::testing::TestParamInfo<HookCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(World, StartsWithItsDefaultSettings) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->m_stepStamp, 2u);
    EXPECT_EQ(world->m_busy, 0u);
    EXPECT_EQ(world->m_solverIterationMode, 0);
    EXPECT_EQ(world->m_solverOption, 0u);
    // The default group and its one pair (0, 0).
    EXPECT_EQ(world->m_materialGroupCount, 1u);
    EXPECT_EQ(world->m_materialTree.getCount(), 1);
    EXPECT_EQ(world->m_jointCount, 0u);
    EXPECT_EQ(world->m_bodyCount, 0u);
    EXPECT_EQ(world->m_bodySerial, 0u);
    EXPECT_EQ(world->m_defaultMaterialGroup, 0u);
    EXPECT_EQ(dgWorldGetTimeStep(world), 0.0f);
    EXPECT_EQ(world->m_invTimeStep, 0.0f);
    EXPECT_EQ(world->m_defaultFreezeThresholds[0], 0.01f);
    EXPECT_EQ(world->m_defaultFreezeThresholds[1], 0.01f);
    EXPECT_EQ(world->m_defaultFreezeThresholds[2], 0.001f);
    EXPECT_EQ(world->m_defaultFreezeThresholds[3], 0.001f);
    EXPECT_EQ(world->m_solverTolerance, 0.25f);
    EXPECT_EQ(world->m_outOfBounds, nullptr);
    EXPECT_EQ(world->m_bodyTree.getCount(), 0);
    EXPECT_EQ(world->m_activeBodyTree.getCount(), 0);
    EXPECT_EQ(world->m_collisionCache.getCount(), 0);
    EXPECT_EQ(world->m_vehicleWorkList.getCount(), 0);

    world->m_timeStep = 0.0125f;
    EXPECT_EQ(dgWorldGetTimeStep(world), 0.0125f);
    dgWorldDestroy(world);
}

// The world owns a point shape of its own; without memory for its own block
// there is no world, without memory for the point shape a world without one.
TEST(WorldCreate, OwnsItsPointShapeMemoryPermitting) {
    warmUp();
    for (const int64_t successes : {int64_t(-1), int64_t(0), int64_t(1)}) {
        HookGuard guard;
        MemoryBalance hooks;
        dgAllocHook allocate;
        dgReleaseHook release;
        dgGetAllocatorHooks(&allocate, &release);
        hooks.failAfter(successes);
        dgWorld* world = dgWorldCreate(allocate, release);
        hooks.failAfter(-1);
        if (successes == 0) {
            EXPECT_EQ(world, nullptr);
            continue;
        }
        ASSERT_NE(world, nullptr);
        dgCollisionPoint* point = world->m_pointCollision;
        if (successes == 1) {
            EXPECT_EQ(point, nullptr);
        } else {
            ASSERT_NE(point, nullptr);
            EXPECT_EQ(point->getSignature(), 0x12344321u);
            EXPECT_EQ(point->getRefCount(), 1);
            EXPECT_TRUE(point->isClass(dgCollisionSphere::kClassId));
            EXPECT_FALSE(point->hasOffset());
            EXPECT_EQ(point->getVolume(), 0.0f);
        }
        dgWorldDestroy(world);
    }
}

TEST(World, SimdFlagFollowsTheProcessorAndTheMode) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->m_simdFlag, dgCpuHasSimd());
    dgWorldSetSimdMode(world, 0);
    EXPECT_EQ(world->m_simdFlag, 0);
    dgWorldSetSimdMode(world, 1);
    EXPECT_EQ(world->m_simdFlag, dgCpuHasSimd());
    dgWorldSetSimdMode(world, 0);
    dgWorldSetSimdMode(world, -7);
    EXPECT_EQ(world->m_simdFlag, dgCpuHasSimd());
    dgWorldDestroy(world);
}

TEST(World, ShapeClassIdentitiesAreTheHashesOfTheirNames) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    struct Case {
        uint32_t copy;
        const char* name;
    };
    const Case cases[] = {
        {world->m_boxClassId, "dgCollisionBox"},
        {world->m_nullClassId, "dgCollisionNull"},
        {world->m_coneClassId, "dgCollisionCone"},
        {world->m_sphereClassId, "dgCollisionSphere"},
        {world->m_convexClassId, "dgConvexCollision"},
        {world->m_ellipseClassId, "dgCollisionEllipse"},
        {world->m_capsuleClassId, "dgCollisionCapsule"},
        {world->m_cylinderClassId, "dgCollisionCylinder"},
        {world->m_convexHullClassId, "dgCollisionConvexHull"},
        {world->m_chamferCylinderClassId, "dgCollisionChamferCylinder"},
        {world->m_convexModifierClassId, "dgCollisionConvexModifier"},
        {world->m_compoundClassId, "dgCompoundCollision"},
        {world->m_polygonSoupClassId, "dgCollisionPolygonalSoup"},
    };
    for (const Case& c : cases) {
        const void* bytes = c.name;
        EXPECT_EQ(c.copy, dgHashBytes(bytes, int32_t(std::strlen(c.name)), 0u)) << c.name;
    }
    EXPECT_EQ(world->m_convexClassId, dgConvexCollision::kClassId);
    EXPECT_EQ(world->m_boxClassId, dgCollisionBox::kClassId);
    dgWorldDestroy(world);
}

TEST(World, ReleaseCollisionDropsOneReference) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    const int32_t live = dgCollisionBox::dgBoxLiveCount();
    dgCollisionBox* shape = newBox();
    shape->addRef();
    dgWorldReleaseCollision(world, shape);
    EXPECT_EQ(shape->getRefCount(), 1);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), live + 1);
    dgWorldReleaseCollision(world, shape);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), live);
    dgWorldReleaseCollision(world, nullptr);
    dgWorldDestroy(world);
    dgWorldDestroy(nullptr);
}

TEST(World, DestructionReleasesTheCachedShapes) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    const int32_t live = dgCollisionBox::dgBoxLiveCount();
    dgCollisionBox* held = newBox();
    dgCollisionBox* cachedOnly = newBox();
    // The cache takes a reference of its own; the caller keeps one of `held`.
    held->addRef();
    ASSERT_NE(world->m_collisionCache.insert(held, 11u), nullptr);
    ASSERT_NE(world->m_collisionCache.insert(cachedOnly, 22u), nullptr);
    dgWorldDestroy(world);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), live + 1);
    EXPECT_EQ(held->getRefCount(), 1);
    held->release();
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), live);
}

TEST(World, TreeNodeInsertByKeyKeepsOneEntryPerBody) {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    dgBody bodies[3];
    int32_t existed = -1;
    dgBodyTree::Node* first =
        dgTreeNodeInsertByKey(&world->m_vehicleWorkList, &bodies[1], uintptr_t(&bodies[1]), &existed);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(existed, 0);
    EXPECT_EQ(first->getPayload(), &bodies[1]);
    dgBodyTree::Node* again =
        dgTreeNodeInsertByKey(&world->m_vehicleWorkList, &bodies[1], uintptr_t(&bodies[1]), &existed);
    EXPECT_EQ(again, first);
    EXPECT_EQ(existed, 1);
    for (dgBody& body : bodies) {
        dgTreeNodeInsertByKey(&world->m_vehicleWorkList, &body, uintptr_t(&body), nullptr);
    }
    EXPECT_EQ(world->m_vehicleWorkList.getCount(), 3);
    EXPECT_TRUE(world->m_vehicleWorkList.sanityCheck());
    dgWorldDestroy(world);
}

TEST(WorldMemory, EveryBlockGoesBackOnDestruction) {
    HookGuard guard;
    expectEveryBlockBack([](dgWorld* world) {
        dgCollisionBox* shape = newBox();
        world->m_collisionCache.insert(shape, 5u);
        // Bodies left in the world fill its body and active-body trees.
        for (int32_t i = 0; i < 4; ++i) {
            ASSERT_NE(dgCreateBody(world, shape), nullptr);
        }
        dgWorldDestroy(world);
    });
}

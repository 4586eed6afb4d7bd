#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <map>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgCollision.h"
#include "dgCollisionBox.h"
#include "dgCollisionCache.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"
#include "dgHash.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

// A world on the default hooks for the length of a test.
class WorldFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_world = dgWorldCreate(nullptr, nullptr);
        ASSERT_NE(m_world, nullptr);
    }
    void TearDown() override { dgWorldDestroy(m_world); }

    int32_t cached() const { return m_world->m_collisionCache.getCount(); }

    HookGuard m_guard;
    dgWorld* m_world = nullptr;
};

// The key record written out independently of the shapes: type, each size
// times 1024 truncated toward zero (low 32 bits), the matrix words, zeros.
uint32_t expectedSignature(uint32_t type, std::vector<float> sizes, const dgMatrix& matrix) {
    uint32_t record[32] = {};
    int word = 0;
    record[word++] = type;
    for (float size : sizes) {
        record[word++] = uint32_t(uint64_t(int64_t(double(size) * 1024.0)));
    }
    std::memcpy(&record[word], &matrix, 64);
    return dgHashBytes(record, int32_t(sizeof(record)), 0u);
}

dgMatrix translated(float x, float y, float z) {
    dgMatrix matrix = dgGetIdentityMatrix();
    matrix.position = dgVector(x, y, z, 1.0f);
    return matrix;
}

const float kTetrahedron[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// One shape of every cached kind, each with the caller's reference dropped
// directly so that only the cache holds it.
void fillCacheOnly(dgWorld* world) {
    const dgMatrix& identity = dgGetIdentityMatrix();
    dgCollision* shapes[] = {
        dgWorldCreateBox(world, 1.0f, 1.0f, 1.0f, identity),
        dgWorldCreateSphere(world, 3.0f, identity),
        dgWorldCreateNull(world),
        dgWorldCreateEllipse(world, 1.0f, 2.0f, 3.0f, identity),
        dgWorldCreateCone(world, 1.0f, 2.0f, identity),
        dgWorldCreateCapsule(world, 1.0f, 4.0f, identity),
        dgWorldCreateCylinder(world, 1.0f, 2.0f, identity),
        dgWorldCreateChamferCylinder(world, 1.0f, 0.5f, identity),
        dgWorldCreateConvexHull(world, 4, &kTetrahedron[0][0], 12, identity),
    };
    for (dgCollision* shape : shapes) {
        shape->release();
    }
}

// Everything a test allocates through the world must come back: the pools the
// world's trees and the shapes' builders use exist before counting.
void warmUp() {
    HookGuard guard;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    fillCacheOnly(world);
    dgWorldDestroy(world);
}

}  // namespace

using CollisionCache = WorldFixture;

TEST_F(CollisionCache, EqualRequestsShareOneShape) {
    const dgMatrix offset = translated(0.0f, 1.0f, 0.0f);
    dgCollision* a = dgWorldCreateBox(m_world, 1.0f, 2.0f, 3.0f, offset);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getRefCount(), 2);  // the cache's and the caller's
    dgCollision* b = dgWorldCreateBox(m_world, -1.0f, 2.0f, -3.0f, offset);
    EXPECT_EQ(b, a);
    EXPECT_EQ(a->getRefCount(), 3);
    EXPECT_EQ(cached(), 1);
    // Half sizes 0.5 and 0.5002 both quantise to 512.
    dgCollision* c = dgWorldCreateBox(m_world, 1.0004f, 2.0f, 3.0f, offset);
    EXPECT_EQ(c, a);
    EXPECT_EQ(a->getRefCount(), 4);
    const dgVector& half = static_cast<dgCollisionBox*>(a)->getHalfExtents();
    EXPECT_EQ(half.x, 0.5f);
    EXPECT_EQ(half.z, 1.5f);
    // Another world shares nothing with this one.
    dgWorld* other = dgWorldCreate(nullptr, nullptr);
    dgCollision* elsewhere = dgWorldCreateBox(other, 1.0f, 2.0f, 3.0f, offset);
    EXPECT_NE(elsewhere, a);
    EXPECT_EQ(a->getRefCount(), 4);
    dgWorldReleaseCollision(other, elsewhere);
    dgWorldDestroy(other);
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    for (int i = 0; i < 3; i++) {
        dgWorldReleaseCollision(m_world, a);
    }
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes - 1);
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, DifferentSizesTypesOrOffsetsGiveDifferentShapes) {
    const dgMatrix identity = dgGetIdentityMatrix();
    std::vector<dgCollision*> shapes = {
        dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, identity),
        dgWorldCreateBox(m_world, 1.002f, 1.0f, 1.0f, identity),  // half 0.501 -> 513
        dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, translated(0.0f, 0.0f, 1.0f)),
        dgWorldCreateSphere(m_world, 1.0f, identity),
        dgWorldCreateSphere(m_world, 1.0f, translated(2.0f, 0.0f, 0.0f)),
        dgWorldCreateSphere(m_world, 0.5f, identity),
        dgWorldCreateNull(m_world),
        // The same numbers under other types.
        dgWorldCreateEllipse(m_world, 1.0f, 1.0f, 1.0f, identity),
        dgWorldCreateCone(m_world, 1.0f, 2.0f, identity),
        dgWorldCreateCylinder(m_world, 1.0f, 2.0f, identity),
        dgWorldCreateChamferCylinder(m_world, 1.0f, 2.0f, identity),
        dgWorldCreateCapsule(m_world, 1.0f, 2.0f, identity),
    };
    for (size_t i = 0; i < shapes.size(); i++) {
        ASSERT_NE(shapes[i], nullptr);
        EXPECT_EQ(shapes[i]->getRefCount(), 2) << i;
        for (size_t j = 0; j < i; j++) {
            EXPECT_NE(shapes[i], shapes[j]) << i << " " << j;
        }
    }
    EXPECT_EQ(cached(), int32_t(shapes.size()));
    EXPECT_TRUE(m_world->m_collisionCache.sanityCheck());
    for (dgCollision* shape : shapes) {
        dgWorldReleaseCollision(m_world, shape);
    }
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, KeysAreTheShapesOwnSignatures) {
    const dgMatrix offset = translated(0.25f, -3.0f, 7.5f);
    struct Case {
        dgCollision* shape;
        uint32_t expected;
        uint32_t type;
    };
    const Case cases[] = {
        {dgWorldCreateBox(m_world, -2.0f, 3.0f, 4.5f, offset),
         expectedSignature(0, {1.0f, 1.5f, 2.25f}, offset), 0},
        {dgWorldCreateSphere(m_world, -0.75f, offset), expectedSignature(2, {0.75f}, offset), 2},
        {dgWorldCreateEllipse(m_world, 1.0f, -2.0f, 3.0f, offset),
         expectedSignature(3, {1.0f, 2.0f, 3.0f}, offset), 3},
        {dgWorldCreateCone(m_world, -0.5f, 3.0f, offset), expectedSignature(1, {0.5f, 1.5f}, offset), 1},
        {dgWorldCreateCylinder(m_world, 0.5f, -3.0f, offset), expectedSignature(5, {0.5f, 1.5f}, offset), 5},
        {dgWorldCreateCapsule(m_world, 0.5f, 3.0f, offset), expectedSignature(4, {0.5f, 1.5f}, offset), 4},
        {dgWorldCreateChamferCylinder(m_world, 0.5f, 0.25f, offset),
         expectedSignature(9, {0.5f, 0.125f}, offset), 9},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.shape, nullptr);
        EXPECT_EQ(c.shape->getShapeType(), c.type);
        EXPECT_EQ(c.shape->getSignature(), c.expected);
        EXPECT_EQ(c.shape->calcSignature(), c.expected);
        const dgCollisionCache::Node* node = m_world->m_collisionCache.find(c.expected);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->getPayload(), c.shape);
        dgWorldReleaseCollision(m_world, c.shape);
    }
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, NullShapeIsOnePerWorld) {
    dgCollision* a = dgWorldCreateNull(m_world);
    dgCollision* b = dgCreateNull(m_world);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(a->isClass(dgCollisionNull::kClassId));
    EXPECT_EQ(a->getSignature(), dgCollisionNull::kClassId);
    EXPECT_EQ(a->getRefCount(), 3);
    ASSERT_NE(m_world->m_collisionCache.find(dgCollisionNull::kClassId), nullptr);
    dgReleaseCollision(m_world, a);
    dgReleaseCollision(m_world, b);
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, CreateSpherePicksSphereOrEllipseByTheRadii) {
    struct Case {
        float rx, ry, rz;
        bool sphere;
    };
    const Case cases[] = {
        {1.0f, 1.000001f, 1.0f, true}, {1.0f, 1.1f, 1.0f, false},     {-2.0f, 2.0f, -2.0f, true},
        {1.0f, 1.0f, 1.00002f, false}, {1.0f, 0.999995f, 1.0f, true}, {3.0f, 3.0f, -3.00002f, false},
    };
    for (const Case& c : cases) {
        dgCollision* shape = dgCreateSphere(m_world, c.rx, c.ry, c.rz, nullptr);
        ASSERT_NE(shape, nullptr);
        EXPECT_EQ(shape->getShapeType(), c.sphere ? uint32_t(dgShapeSphere) : uint32_t(dgShapeEllipse))
            << c.rx << " " << c.ry << " " << c.rz;
        EXPECT_EQ(shape->isClass(dgCollisionEllipse::kClassId), !c.sphere);
        if (c.sphere) {
            // The sphere takes |rx|; the other radii only decide the kind.
            const float rx = (c.rx < 0.0f) ? -c.rx : c.rx;
            EXPECT_EQ(shape->getSignature(), expectedSignature(2, {rx}, dgGetIdentityMatrix()));
        }
        dgReleaseCollision(m_world, shape);
    }
    EXPECT_EQ(cached(), 0);
    // Equal radii through the world's ellipse request still give an ellipse,
    // distinct from the sphere of that radius.
    dgCollision* ellipse = dgWorldCreateEllipse(m_world, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix());
    dgCollision* sphere = dgCreateSphere(m_world, 1.0f, 1.0f, 1.0f, nullptr);
    EXPECT_NE(ellipse, sphere);
    EXPECT_EQ(ellipse->getShapeType(), uint32_t(dgShapeEllipse));
    dgReleaseCollision(m_world, ellipse);
    dgReleaseCollision(m_world, sphere);
}

// Compounds and modifiers are built directly: the cache never sees them, and
// their children leave the cache with them when nobody else holds them.
TEST_F(CollisionCache, CompoundsAndModifiersStayOutOfTheCache) {
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    const int32_t spheres = dgCollisionSphere::dgSphereLiveCount();
    dgCollision* children[2] = {dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix()),
                                dgWorldCreateSphere(m_world, 1.0f, translated(2.0f, 0.0f, 0.0f))};
    dgCollision* compound = new dgCompoundCollision(2, children, m_world);
    ASSERT_NE(compound, nullptr);
    dgCollision* modifier = dgWorldCreateConvexModifier(m_world, children[1]);
    ASSERT_NE(modifier, nullptr);
    EXPECT_EQ(cached(), 2);
    for (dgCollision* child : children) {
        dgWorldReleaseCollision(m_world, child);
    }
    for (const dgCollisionCache::Node* node : m_world->m_collisionCache) {
        EXPECT_NE(node->getPayload(), compound);
        EXPECT_NE(node->getPayload(), modifier);
    }
    EXPECT_EQ(cached(), 2);
    EXPECT_EQ(children[1]->getRefCount(), 3);  // cache, compound, modifier
    dgWorldReleaseCollision(m_world, compound);
    EXPECT_EQ(cached(), 1);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
    dgWorldReleaseCollision(m_world, modifier);
    EXPECT_EQ(cached(), 0);
    EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), spheres);
}

TEST_F(CollisionCache, HullsAreSharedByPointsAndOffset) {
    const float cube[8][4] = {{0, 0, 0, 9}, {1, 0, 0, 9}, {0, 1, 0, 9}, {1, 1, 0, 9},
                              {0, 0, 1, 9}, {1, 0, 1, 9}, {0, 1, 1, 9}, {1, 1, 1, 9}};
    float packed[8][3];
    for (int i = 0; i < 8; i++) {
        for (int k = 0; k < 3; k++) {
            packed[i][k] = cube[i][k];
        }
    }
    dgCollision* a = dgWorldCreateConvexHull(m_world, 8, &cube[0][0], 16, dgGetIdentityMatrix());
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->isClass(dgCollisionConvexHull::kClassId));
    EXPECT_EQ(static_cast<dgCollisionConvexHull*>(a)->getFaceCount(), 12);
    EXPECT_EQ(a->getSignature(), a->calcSignature());
    // The same points at another stride are the same hull.
    dgCollision* b = dgCreateConvexHull(m_world, 8, &packed[0][0], 12, nullptr);
    EXPECT_EQ(b, a);
    EXPECT_EQ(a->getRefCount(), 3);
    dgCollision* moved = dgWorldCreateConvexHull(m_world, 8, &cube[0][0], 16, translated(0.0f, 0.0f, 2.0f));
    dgCollision* fewer = dgWorldCreateConvexHull(m_world, 7, &cube[0][0], 16, dgGetIdentityMatrix());
    EXPECT_NE(moved, a);
    EXPECT_NE(fewer, a);
    EXPECT_NE(fewer, moved);
    // A flat cloud gives the empty hull, cached like any other.
    dgCollision* flat = dgWorldCreateConvexHull(m_world, 4, &cube[0][0], 16, dgGetIdentityMatrix());
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(static_cast<dgCollisionConvexHull*>(flat)->getFaceCount(), 0);
    EXPECT_EQ(dgWorldCreateConvexHull(m_world, 4, &cube[0][0], 16, dgGetIdentityMatrix()), flat);
    EXPECT_EQ(cached(), 4);
    // Input that cannot be keyed is refused.
    EXPECT_EQ(dgWorldCreateConvexHull(m_world, -1, &cube[0][0], 16, dgGetIdentityMatrix()), nullptr);
    EXPECT_EQ(dgWorldCreateConvexHull(m_world, 8, &cube[7][0], -16, dgGetIdentityMatrix()), nullptr);
    EXPECT_EQ(dgWorldCreateConvexHull(m_world, 8, nullptr, 16, dgGetIdentityMatrix()), nullptr);
    for (dgCollision* shape : {a, b, moved, fewer, flat, flat}) {
        dgReleaseCollision(m_world, shape);
    }
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, LastReleaseDestroysTheShapeAndItsEntry) {
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    dgCollision* box = dgCreateBox(m_world, 2.0f, 2.0f, 2.0f, nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->getRefCount(), 2);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 1);
    dgReleaseCollision(m_world, box);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
    EXPECT_EQ(cached(), 0);
    // Asked again, the box is built anew.
    box = dgCreateBox(m_world, 2.0f, 2.0f, 2.0f, nullptr);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 1);
    EXPECT_EQ(box->getRefCount(), 2);
    dgReleaseCollision(m_world, box);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
    dgReleaseCollision(m_world, nullptr);
}

TEST_F(CollisionCache, InterfaceOffsetIsSixteenFloats) {
    const float offset[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 4, 5, 1};
    dgCollision* withFloats = dgCreateBox(m_world, 1.0f, 1.0f, 1.0f, offset);
    dgCollision* withMatrix = dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, translated(3.0f, 4.0f, 5.0f));
    EXPECT_EQ(withFloats, withMatrix);
    EXPECT_TRUE(withFloats->hasOffset());
    dgCollision* plain = dgCreateBox(m_world, 1.0f, 1.0f, 1.0f, nullptr);
    EXPECT_NE(plain, withFloats);
    EXPECT_FALSE(plain->hasOffset());
    for (dgCollision* shape : {withFloats, withMatrix, plain}) {
        dgReleaseCollision(m_world, shape);
    }
    EXPECT_EQ(cached(), 0);
}

TEST_F(CollisionCache, RemovedShapeLivesOnForItsHolders) {
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    dgCollision* first = dgWorldCreateBox(m_world, 1.0f, 2.0f, 3.0f, dgGetIdentityMatrix());
    dgWorldRemoveCollisionFromCache(m_world, first);
    EXPECT_EQ(cached(), 0);
    EXPECT_EQ(first->getRefCount(), 1);
    // Removing it twice changes nothing.
    dgCollisionRemoveFromCache(m_world, first);
    EXPECT_EQ(first->getRefCount(), 1);
    dgCollision* second = dgWorldCreateBox(m_world, 1.0f, 2.0f, 3.0f, dgGetIdentityMatrix());
    EXPECT_NE(second, first);
    EXPECT_EQ(second->getSignature(), first->getSignature());
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 2);
    // The first one's last release must neither find nor disturb the second.
    dgWorldReleaseCollision(m_world, first);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 1);
    EXPECT_EQ(second->getRefCount(), 2);
    ASSERT_EQ(cached(), 1);
    EXPECT_EQ(m_world->m_collisionCache.getFirst()->getPayload(), second);
    dgWorldReleaseCollision(m_world, second);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
    EXPECT_EQ(cached(), 0);
}

// A shape built outside the factory (or one whose key collides) shares the
// signature of a cached shape: releasing or "removing" it must leave the
// cached shape, its entry and its count alone.
TEST_F(CollisionCache, UncachedShapeWithACachedSignatureLeavesTheCacheAlone) {
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    dgCollision* cachedBox = dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix());
    dgCollision* holder = cachedBox;  // a second holder of the cached box
    cachedBox->addRef();
    dgCollision* stranger =
        new dgCollisionBox(cachedBox->getSignature(), 5.0f, 5.0f, 5.0f, dgGetIdentityMatrix());
    ASSERT_NE(stranger, nullptr);
    stranger->addRef();

    dgWorldReleaseCollision(m_world, stranger);  // 2 -> 1: not the cache's reference
    EXPECT_EQ(stranger->getRefCount(), 1);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 2);
    dgWorldRemoveCollisionFromCache(m_world, stranger);
    EXPECT_EQ(stranger->getRefCount(), 1);
    ASSERT_EQ(cached(), 1);
    EXPECT_EQ(m_world->m_collisionCache.find(cachedBox->getSignature())->getPayload(), cachedBox);
    EXPECT_EQ(cachedBox->getRefCount(), 3);

    dgWorldReleaseCollision(m_world, stranger);  // 1 -> 0
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 1);
    EXPECT_EQ(cached(), 1);
    // The cached box still serves requests and leaves with its last holder.
    EXPECT_EQ(dgWorldCreateBox(m_world, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix()), cachedBox);
    for (int i = 0; i < 2; i++) {
        dgWorldReleaseCollision(m_world, cachedBox);
    }
    EXPECT_EQ(cached(), 1);
    dgWorldReleaseCollision(m_world, holder);
    EXPECT_EQ(cached(), 0);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
}

TEST(CollisionCacheWorld, DestructionReleasesTheCache) {
    warmUp();
    HookGuard guard;
    MemoryBalance hooks;
    dgAllocHook allocate;
    dgReleaseHook release;
    dgGetAllocatorHooks(&allocate, &release);
    const int32_t boxes = dgCollisionBox::dgBoxLiveCount();
    const int32_t spheres = dgCollisionSphere::dgSphereLiveCount();
    const int32_t cones = dgCollisionCone::dgConeLiveCount();
    const int32_t capsules = dgCollisionCapsule::dgCapsuleLiveCount();
    const int32_t cylinders = dgCollisionCylinder::dgCylinderLiveCount();
    const int32_t chamfers = dgCollisionChamferCylinder::dgChamferCylinderLiveCount();
    dgWorld* world = dgWorldCreate(allocate, release);
    ASSERT_NE(world, nullptr);
    fillCacheOnly(world);
    // Held by the caller as well: outlives the world with one reference.
    dgCollision* kept = dgWorldCreateBox(world, 2.0f, 1.0f, 1.0f, dgGetIdentityMatrix());
    EXPECT_EQ(world->m_collisionCache.getCount(), 10);
    dgWorldDestroy(world);
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes + 1);
    EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), spheres);
    EXPECT_EQ(dgCollisionCone::dgConeLiveCount(), cones);
    EXPECT_EQ(dgCollisionCapsule::dgCapsuleLiveCount(), capsules);
    EXPECT_EQ(dgCollisionCylinder::dgCylinderLiveCount(), cylinders);
    EXPECT_EQ(dgCollisionChamferCylinder::dgChamferCylinderLiveCount(), chamfers);
    EXPECT_EQ(kept->getRefCount(), 1);
    kept->release();
    EXPECT_EQ(dgCollisionBox::dgBoxLiveCount(), boxes);
}

// The factory's own allocations failing: the shape's (null comes back) and
// the cache node's, the last one of a first request (the shape comes back
// uncached with the caller's one reference). Every block comes back.
TEST(CollisionCacheWorld, AllocationFailuresLeaveNothingBehind) {
    warmUp();
    HookGuard guard;
    int64_t callsPerRequest = 0;
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        MemoryBalance hooks;
        dgAllocHook allocate;
        dgReleaseHook release;
        dgGetAllocatorHooks(&allocate, &release);
        dgWorld* world = dgWorldCreate(allocate, release);
        ASSERT_NE(world, nullptr);
        const int64_t before = hooks.allocCalls();
        if (round == 1) {
            hooks.failAfter(0);
        }
        if (round == 2) {
            hooks.failAfter(callsPerRequest - 1);
        }
        dgCollision* box = dgWorldCreateBox(world, 1.0f, 2.0f, 3.0f, dgGetIdentityMatrix());
        hooks.failAfter(-1);
        if (round == 0) {
            callsPerRequest = hooks.allocCalls() - before;
            ASSERT_GE(callsPerRequest, 2);  // at least the shape and the cache node
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(world->m_collisionCache.getCount(), 1);
        } else if (round == 1) {
            EXPECT_EQ(box, nullptr);
            EXPECT_EQ(world->m_collisionCache.getCount(), 0);
        } else {
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(world->m_collisionCache.getCount(), 0);
            EXPECT_EQ(box->getRefCount(), 1);
        }
        if (box) {
            dgWorldReleaseCollision(world, box);
        }
        EXPECT_EQ(world->m_collisionCache.getCount(), 0);
        dgWorldDestroy(world);
    }
}

// A hull request whose allocation fails at any point, the failing one alone
// or it and all that follow: null and nothing cached, or the whole hull
// (a failure it could do without, or the cache node's: then uncached), and
// every block back. The same request with working memory then builds and
// caches the whole hull.
TEST(CollisionCacheWorld, HullRequestOutOfMemoryCachesNothing) {
    std::mt19937 rng(12);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<float> cloud;
    for (int i = 0; i < 60; i++) {
        const float p[3] = {g(rng), g(rng), g(rng)};
        const float scale = 2.0f / std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]) * ((i % 3) ? 1.0f : 0.7f);
        cloud.insert(cloud.end(), {p[0] * scale, p[1] * scale + 3.0f, p[2] * scale});
    }
    warmUp();
    HookGuard guard;
    dgWorld* reference = dgWorldCreate(nullptr, nullptr);
    dgCollisionConvexHull* whole = static_cast<dgCollisionConvexHull*>(
        dgWorldCreateConvexHull(reference, 60, cloud.data(), 12, dgGetIdentityMatrix()));
    ASSERT_GT(whole->getFaceCount(), 0);
    auto isWhole = [&](const dgCollision* shape) {
        const dgCollisionConvexHull* hull = static_cast<const dgCollisionConvexHull*>(shape);
        return (hull->getFaceCount() == whole->getFaceCount()) &&
               (std::memcmp(hull->getVertices(), whole->getVertices(),
                            size_t(whole->getVertexCount()) * sizeof(dgVector)) == 0) &&
               (hull->getCentreOfMass().w == whole->getCentreOfMass().w);
    };
    int32_t failurePoints = 0;
    int32_t nulls = 0;
    for (const bool once : {true, false}) {
        for (int64_t k = 0;; k++) {
            SCOPED_TRACE(testing::Message() << (once ? "only allocation " : "from allocation ") << k);
            MemoryBalance hooks;
            dgAllocHook allocate;
            dgReleaseHook release;
            dgGetAllocatorHooks(&allocate, &release);
            dgWorld* world = dgWorldCreate(allocate, release);
            ASSERT_NE(world, nullptr);
            const int64_t before = hooks.allocCalls();
            once ? hooks.failOnce(k) : hooks.failAfter(k);
            dgCollision* shape = dgWorldCreateConvexHull(world, 60, cloud.data(), 12, dgGetIdentityMatrix());
            hooks.failOnce(-1);
            hooks.failAfter(-1);
            const bool failed = (hooks.allocCalls() - before) > k;
            if (shape) {
                EXPECT_TRUE(isWhole(shape));
                const dgCollisionCache::Node* node = world->m_collisionCache.find(shape->getSignature());
                EXPECT_EQ(shape->getRefCount(), node ? 2 : 1);
                EXPECT_TRUE(!node || (node->getPayload() == shape));
                EXPECT_TRUE(node || failed);
                dgWorldReleaseCollision(world, shape);
            } else {
                EXPECT_TRUE(failed);
                nulls++;
            }
            EXPECT_EQ(world->m_collisionCache.getCount(), 0);
            dgCollision* again = dgWorldCreateConvexHull(world, 60, cloud.data(), 12, dgGetIdentityMatrix());
            ASSERT_NE(again, nullptr);
            EXPECT_TRUE(isWhole(again));
            EXPECT_EQ(world->m_collisionCache.getCount(), 1);
            dgWorldReleaseCollision(world, again);
            dgWorldDestroy(world);
            if (!failed) {
                break;
            }
            failurePoints++;
        }
    }
    EXPECT_GT(nulls, failurePoints / 2);
    dgWorldReleaseCollision(reference, whole);
    dgWorldDestroy(reference);
}

// A random run of requests, releases and removals against a model of who
// holds what: after every step each shape's count is its holders plus the
// cache's one, the cache holds exactly the modelled shapes under their
// signatures, and at the end every block has gone back.
TEST(CollisionCacheWorld, RandomSharingAndReleaseKeepCountsExact) {
    warmUp();
    HookGuard guard;
    MemoryBalance hooks;
    dgAllocHook allocate;
    dgReleaseHook release;
    dgGetAllocatorHooks(&allocate, &release);
    dgWorld* world = dgWorldCreate(allocate, release);
    ASSERT_NE(world, nullptr);

    std::mt19937 rng(1234);
    std::vector<dgCollision*> held;            // one entry per caller reference
    std::map<dgCollision*, bool> live;         // shape -> still in the cache
    std::map<int, dgCollision*> cachedByKind;  // request kind -> cached shape
    auto request = [&](int kind) -> dgCollision* {
        const float size = 0.5f + 0.25f * float(kind % 4);
        if (kind < 4) {
            return dgWorldCreateBox(world, size, 1.0f, -size, dgGetIdentityMatrix());
        }
        if (kind < 8) {
            return dgWorldCreateSphere(world, -size, translated(0.0f, size, 0.0f));
        }
        if (kind == 8) {
            return dgWorldCreateNull(world);
        }
        if (kind == 9) {
            return dgWorldCreateCapsule(world, 0.5f, 3.0f, dgGetIdentityMatrix());
        }
        return dgWorldCreateConvexHull(world, 4, &kTetrahedron[0][0], 12, translated(1.0f, 0.0f, 0.0f));
    };
    for (int step = 0; step < 2000; step++) {
        const int op = int(rng() % 10);
        if (op < 5 || held.empty()) {
            const int kind = int(rng() % 11);
            dgCollision* shape = request(kind);
            ASSERT_NE(shape, nullptr);
            auto it = cachedByKind.find(kind);
            if (it != cachedByKind.end()) {
                ASSERT_EQ(shape, it->second) << step;
            } else {
                cachedByKind[kind] = shape;
                live[shape] = true;
            }
            held.push_back(shape);
        } else {
            const size_t index = rng() % held.size();
            dgCollision* shape = held[index];
            if (op < 9) {
                held.erase(held.begin() + ptrdiff_t(index));
                dgWorldReleaseCollision(world, shape);
            } else {
                dgWorldRemoveCollisionFromCache(world, shape);
                if (live[shape]) {
                    live[shape] = false;
                    for (auto c = cachedByKind.begin(); c != cachedByKind.end(); ++c) {
                        if (c->second == shape) {
                            cachedByKind.erase(c);
                            break;
                        }
                    }
                }
            }
        }
        // Drop the shapes that the model says have no holder left.
        for (auto it = live.begin(); it != live.end();) {
            int32_t holders = 0;
            for (dgCollision* h : held) {
                holders += (h == it->first) ? 1 : 0;
            }
            if (holders == 0) {
                if (it->second) {
                    for (auto c = cachedByKind.begin(); c != cachedByKind.end(); ++c) {
                        if (c->second == it->first) {
                            cachedByKind.erase(c);
                            break;
                        }
                    }
                }
                it = live.erase(it);
                continue;
            }
            ASSERT_EQ(it->first->getRefCount(), holders + (it->second ? 1 : 0)) << step;
            ++it;
        }
        ASSERT_EQ(world->m_collisionCache.getCount(), int32_t(cachedByKind.size())) << step;
        for (const auto& c : cachedByKind) {
            const dgCollisionCache::Node* node = world->m_collisionCache.find(c.second->getSignature());
            ASSERT_NE(node, nullptr);
            ASSERT_EQ(node->getPayload(), c.second);
        }
        ASSERT_TRUE(world->m_collisionCache.sanityCheck());
    }
    for (dgCollision* shape : held) {
        dgWorldReleaseCollision(world, shape);
    }
    EXPECT_EQ(world->m_collisionCache.getCount(), 0);
    dgWorldDestroy(world);
}

TEST(ConvexHullSignature, HashesTypePointsAndMatrix) {
    const float points[4][3] = {{0, 0, 0}, {1, 0, 0}, {0, 2.5f, 0}, {0, 0, -3}};
    const dgMatrix offset = translated(1.0f, 2.0f, 3.0f);
    std::vector<uint32_t> record = {7};
    for (const auto& p : points) {
        for (float v : p) {
            record.push_back(uint32_t(uint64_t(int64_t(double(v) * 1024.0))));
        }
    }
    const size_t matrixAt = record.size();
    record.resize(matrixAt + 16);
    std::memcpy(&record[matrixAt], &offset, 64);
    const uint32_t expected = dgHashBytes(record.data(), int32_t(record.size() * 4), 0u);

    uint32_t signature = 0;
    ASSERT_TRUE(dgConvexHullSignature(4, &points[0][0], 12, offset, &signature));
    EXPECT_EQ(signature, expected);

    // The same points with padding, and a stride whose odd bytes are dropped.
    float padded[4][4];
    for (int i = 0; i < 4; i++) {
        for (int k = 0; k < 3; k++) {
            padded[i][k] = points[i][k];
        }
        padded[i][3] = 99.0f;
    }
    uint32_t paddedSignature = 0;
    ASSERT_TRUE(dgConvexHullSignature(4, &padded[0][0], 16, offset, &paddedSignature));
    EXPECT_EQ(paddedSignature, expected);
    ASSERT_TRUE(dgConvexHullSignature(4, &padded[0][0], 19, offset, &paddedSignature));
    EXPECT_EQ(paddedSignature, expected);

    uint32_t other = 0;
    ASSERT_TRUE(dgConvexHullSignature(4, &points[0][0], 12, dgGetIdentityMatrix(), &other));
    EXPECT_NE(other, expected);
    ASSERT_TRUE(dgConvexHullSignature(3, &points[0][0], 12, offset, &other));
    EXPECT_NE(other, expected);

    // No record for a negative count or missing points.
    signature = 5;
    EXPECT_FALSE(dgConvexHullSignature(-1, &points[0][0], 12, offset, &signature));
    EXPECT_FALSE(dgConvexHullSignature(2, nullptr, 12, offset, &signature));
    EXPECT_FALSE(dgConvexHullSignature(2, &points[0][0], -12, offset, &signature));
    EXPECT_EQ(signature, 5u);
}

namespace {

// The primitive kinds of the factory, with the key sizes as asked and as the
// built shape holds them (absolute values, times `askedScale`: a half where
// the key halves).
struct PrimitiveKind {
    const char* name;
    uint32_t classId;
    int32_t sizeCount;
    dgCollision* (*create)(dgWorld* world, const float* sizes, const dgMatrix& offset);
    float askedScale[3];
    void (*heldKey)(const dgCollision* shape, float* key);

    void askedKey(const float* sizes, float* key) const {
        for (int32_t i = 0; i < sizeCount; i++) {
            key[i] = std::fabs(sizes[i]) * askedScale[i];
        }
    }
};

const PrimitiveKind kPrimitiveKinds[] = {
    {"box", dgCollisionBox::kClassId, 3,
     [](dgWorld* w, const float* s, const dgMatrix& m) { return dgWorldCreateBox(w, s[0], s[1], s[2], m); },
     {0.5f, 0.5f, 0.5f},
     [](const dgCollision* c, float* k) {
         const dgVector& h = static_cast<const dgCollisionBox*>(c)->getHalfExtents();
         k[0] = h.x;
         k[1] = h.y;
         k[2] = h.z;
     }},
    {"sphere", dgCollisionSphere::kClassId, 1,
     [](dgWorld* w, const float* s, const dgMatrix& m) { return dgWorldCreateSphere(w, s[0], m); },
     {1.0f},
     [](const dgCollision* c, float* k) { k[0] = static_cast<const dgCollisionSphere*>(c)->getRadius(); }},
    {"ellipse", dgCollisionEllipse::kClassId, 3,
     [](dgWorld* w, const float* s, const dgMatrix& m) {
         return dgWorldCreateEllipse(w, s[0], s[1], s[2], m);
     },
     {1.0f, 1.0f, 1.0f},
     [](const dgCollision* c, float* k) {
         const dgVector r(static_cast<const dgCollisionEllipse*>(c)->getRadii());
         k[0] = r.x;
         k[1] = r.y;
         k[2] = r.z;
     }},
    {"cone", dgCollisionCone::kClassId, 2,
     [](dgWorld* w, const float* s, const dgMatrix& m) { return dgWorldCreateCone(w, s[0], s[1], m); },
     {1.0f, 0.5f},
     [](const dgCollision* c, float* k) {
         const dgCollisionCone* cone = static_cast<const dgCollisionCone*>(c);
         k[0] = cone->getRadius();
         k[1] = cone->getHalfHeight();
     }},
    {"capsule", dgCollisionCapsule::kClassId, 2,
     [](dgWorld* w, const float* s, const dgMatrix& m) { return dgWorldCreateCapsule(w, s[0], s[1], m); },
     {1.0f, 0.5f},
     [](const dgCollision* c, float* k) {
         const dgCollisionCapsule* capsule = static_cast<const dgCollisionCapsule*>(c);
         k[0] = capsule->getRadius();
         k[1] = capsule->getGivenHalfHeight();
     }},
    {"cylinder", dgCollisionCylinder::kClassId, 2,
     [](dgWorld* w, const float* s, const dgMatrix& m) { return dgWorldCreateCylinder(w, s[0], s[1], m); },
     {1.0f, 0.5f},
     [](const dgCollision* c, float* k) {
         const dgCollisionCylinder* cylinder = static_cast<const dgCollisionCylinder*>(c);
         k[0] = cylinder->getRadius();
         k[1] = cylinder->getHalfHeight();
     }},
    {"chamfer", dgCollisionChamferCylinder::kClassId, 2,
     [](dgWorld* w, const float* s, const dgMatrix& m) {
         return dgWorldCreateChamferCylinder(w, s[0], s[1], m);
     },
     {1.0f, 0.5f},
     [](const dgCollision* c, float* k) {
         const dgCollisionChamferCylinder* chamfer = static_cast<const dgCollisionChamferCylinder*>(c);
         k[0] = chamfer->getGivenRadius();
         k[1] = chamfer->getHalfHeight();
     }},
};

// value x 1024 truncated toward zero, without the key word's 32-bit wrap.
double quantum(float value) {
    return std::trunc(double(value) * 1024.0);
}

// Sizes 2^22 apart quantise to words 2^32 apart: the same key word.
const float kWrap = 4194304.0f;

class CachePrimitive : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        m_world = dgWorldCreate(nullptr, nullptr);
        ASSERT_NE(m_world, nullptr);
    }
    void TearDown() override { dgWorldDestroy(m_world); }
    const PrimitiveKind& kind() const { return kPrimitiveKinds[GetParam()]; }

    HookGuard m_guard;
    dgWorld* m_world = nullptr;
};

std::string kindName(const ::testing::TestParamInfo<int32_t>& info) {
    return kPrimitiveKinds[info.param].name;
}

}  // namespace

TEST_F(CollisionCache, SignatureCollisionGivesTwoShapesWithTheirOwnRadii) {
    const dgMatrix& identity = dgGetIdentityMatrix();
    ASSERT_EQ(expectedSignature(dgShapeSphere, {1.0f}, identity),
              expectedSignature(dgShapeSphere, {1.0f + kWrap}, identity));
    dgCollision* unit = dgWorldCreateSphere(m_world, 1.0f, identity);
    dgCollision* large = dgWorldCreateSphere(m_world, 1.0f + kWrap, identity);
    ASSERT_NE(unit, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_NE(unit, large);
    EXPECT_EQ(static_cast<dgCollisionSphere*>(unit)->getRadius(), 1.0f);
    EXPECT_EQ(static_cast<dgCollisionSphere*>(large)->getRadius(), 1.0f + kWrap);
    // The first keeps the key; the second is handed out on its own.
    EXPECT_EQ(cached(), 1);
    EXPECT_EQ(large->getRefCount(), 1);
    dgCollision* again = dgWorldCreateSphere(m_world, 1.0f, identity);
    EXPECT_EQ(again, unit);
    dgWorldReleaseCollision(m_world, large);
    EXPECT_EQ(cached(), 1);
    dgWorldReleaseCollision(m_world, again);
    dgWorldReleaseCollision(m_world, unit);
    EXPECT_EQ(cached(), 0);

    // Hull points collide the same way.
    float far[4][3];
    std::memcpy(far, kTetrahedron, sizeof(far));
    far[1][0] += kWrap;
    dgCollision* near = dgWorldCreateConvexHull(m_world, 4, &kTetrahedron[0][0], 12, identity);
    dgCollision* stretched = dgWorldCreateConvexHull(m_world, 4, &far[0][0], 12, identity);
    ASSERT_NE(near, nullptr);
    ASSERT_NE(stretched, nullptr);
    EXPECT_EQ(near->getSignature(), stretched->getSignature());
    EXPECT_NE(near, stretched);
    EXPECT_NEAR(near->getVolume(), 1.0f / 6.0f, 1e-3f);
    EXPECT_GT(stretched->getVolume(), 1000.0f);
    dgCollision* nearAgain = dgWorldCreateConvexHull(m_world, 4, &kTetrahedron[0][0], 12, identity);
    EXPECT_EQ(nearAgain, near);
    dgWorldReleaseCollision(m_world, nearAgain);
    dgWorldReleaseCollision(m_world, stretched);
    dgWorldReleaseCollision(m_world, near);
    EXPECT_EQ(cached(), 0);
}

TEST_P(CachePrimitive, NonFiniteSizesOrOffsetAreRefused) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (float value : bad) {
        for (int32_t i = 0; i < kind().sizeCount; i++) {
            float sizes[3] = {1.0f, 1.0f, 1.0f};
            sizes[i] = value;
            EXPECT_EQ(kind().create(m_world, sizes, dgGetIdentityMatrix()), nullptr) << value << " at " << i;
        }
        dgMatrix offset(dgGetIdentityMatrix());
        offset.position.y = value;
        const float sizes[3] = {1.0f, 1.0f, 1.0f};
        EXPECT_EQ(kind().create(m_world, sizes, offset), nullptr) << value;
    }
    EXPECT_EQ(m_world->m_collisionCache.getCount(), 0);
    // A size that quantises as NaN did (to 0) still gets a shape of its own.
    const float tiny[3] = {0.0005f, 0.0005f, 0.0005f};
    dgCollision* shape = kind().create(m_world, tiny, dgGetIdentityMatrix());
    ASSERT_NE(shape, nullptr);
    float held[3];
    kind().heldKey(shape, held);
    float asked[3];
    kind().askedKey(tiny, asked);
    for (int32_t i = 0; i < kind().sizeCount; i++) {
        EXPECT_EQ(held[i], asked[i]);
    }
    dgWorldReleaseCollision(m_world, shape);
}

TEST_P(CachePrimitive, NeverHandsOutAShapeOtherThanAsked) {
    std::mt19937 rng(uint32_t(GetParam()) * 977u + 5u);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const dgMatrix offsets[2] = {dgGetIdentityMatrix(), translated(0.0f, 1.0f, 0.0f)};
    // Sizes drawn to collide: below one key step, a few plain ones, and the
    // same ones 2^22 (one key word wrap) further out.
    auto size = [&]() -> float {
        const uint32_t pick = rng() % 4;
        const float base = (pick == 0) ? 0.002f * unit(rng) : 0.25f * float(1 + rng() % 8);
        const float wrap = (pick == 3) ? kWrap * float(1 + rng() % 2) : 0.0f;
        return ((rng() & 1) ? -1.0f : 1.0f) * (base + wrap);
    };
    std::vector<dgCollision*> held;
    for (int32_t n = 0; n < 1500; n++) {
        const float sizes[3] = {size(), size(), size()};
        const dgMatrix& offset = offsets[rng() % 2];
        dgCollision* shape = kind().create(m_world, sizes, offset);
        ASSERT_NE(shape, nullptr);
        held.push_back(shape);
        ASSERT_EQ(shape->getClassId(), kind().classId);
        ASSERT_EQ(std::memcmp(&shape->getOffsetMatrix(), &offset, sizeof(dgMatrix)), 0) << n;
        float asked[3];
        float own[3];
        kind().askedKey(sizes, asked);
        kind().heldKey(shape, own);
        for (int32_t i = 0; i < kind().sizeCount; i++) {
            ASSERT_EQ(quantum(own[i]), quantum(asked[i])) << n << " size " << i;
        }
    }
    EXPECT_TRUE(m_world->m_collisionCache.sanityCheck());
    for (dgCollision* shape : held) {
        dgWorldReleaseCollision(m_world, shape);
    }
    EXPECT_EQ(m_world->m_collisionCache.getCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CachePrimitive,
                         ::testing::Range(0, int32_t(sizeof(kPrimitiveKinds) / sizeof(kPrimitiveKinds[0]))),
                         kindName);

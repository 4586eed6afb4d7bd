#include <gtest/gtest.h>

#include <cstring>

#include "CountingHooks.h"
#include "dgRef.h"

namespace {

int g_destroyed = 0;

class TestCollision : public dgRef {
    DG_DECLARE_CLASS_NAMED(TestCollision, dgRef, "dgCollision")
    ~TestCollision() override { ++g_destroyed; }
    int m_payload[5] = {};
};

class TestConvex : public TestCollision {
    DG_DECLARE_CLASS_NAMED(TestConvex, TestCollision, "dgConvexCollision")
};

class TestSphere : public TestConvex {
    DG_DECLARE_CLASS_NAMED(TestSphere, TestConvex, "dgCollisionSphere")
};

class TestEllipse : public TestSphere {
    DG_DECLARE_CLASS_NAMED(TestEllipse, TestSphere, "dgCollisionEllipse")
};

class TestBox : public TestConvex {
    DG_DECLARE_CLASS_NAMED(TestBox, TestConvex, "dgCollisionBox")
};

// Declared under its own spelling.
class dgTestNode : public dgRef {
    DG_DECLARE_CLASS(dgTestNode, dgRef)
    dgTestNode() = default;
    dgTestNode(const dgTestNode&) = default;
    dgRef* clone() const override { return new dgTestNode(*this); }
    double m_value = 0;
};

}  // namespace

DG_IMPLEMENT_CLASS(TestEllipse, TestSphere, "dgCollisionEllipse");
DG_IMPLEMENT_CLASS(dgTestNode, dgRef, "dgTestNode");

// Read during static initialisation of this file, before main.
static const uint32_t g_boxIdAtStartup = TestBox::kClassId;

// The reference word: the count in the low byte, the live flag at 256. A
// new object has one reference and is live; the last release destroys it;
// a cleared live flag survives references coming and going.
TEST(Ref, ReferenceWordCountsAndKeepsTheLiveFlag) {
    dgRef* obj = new dgRef();
    ASSERT_NE(obj, nullptr);
    EXPECT_EQ(obj->getRefWord(), 257u);
    EXPECT_EQ(obj->getRefCount(), 1);
    EXPECT_TRUE(obj->isLive());
    EXPECT_EQ(obj->getNameId(), 0u);
    EXPECT_EQ(obj->clone(), nullptr);
    obj->clearLiveFlag();
    obj->addRef();
    EXPECT_EQ(obj->release(), 1);
    EXPECT_FALSE(obj->isLive());
    EXPECT_EQ(obj->getRefWord(), 256u);
    obj->setLiveFlag();
    EXPECT_TRUE(obj->isLive());
    EXPECT_EQ(obj->release(), 0);

    g_destroyed = 0;
    TestCollision* held = new TestCollision();
    held->addRef();
    EXPECT_EQ(held->getRefWord(), 513u);
    EXPECT_EQ(held->release(), 1);
    EXPECT_EQ(g_destroyed, 0);
    EXPECT_EQ(held->release(), 0);
    EXPECT_EQ(g_destroyed, 1);
}

TEST(Ref, SetNameHashesAndRecordsTheText) {
    dgRef* obj = new dgRef();
    obj->setName("dgCollisionBox");
    EXPECT_EQ(obj->getNameId(), 0x2FCEA4BCu);
    EXPECT_STREQ(dgNameFromHash(0x2FCEA4BCu), "dgCollisionBox");
    obj->setName(nullptr);
    EXPECT_EQ(obj->getNameId(), 0u);
    obj->release();
}

TEST(Ref, CopyStartsWithOneReferenceAndKeepsTheName) {
    dgTestNode* original = new dgTestNode();
    original->setName("dgTestCopiedName");
    original->addRef();
    original->addRef();
    original->clearLiveFlag();
    original->m_value = 2.5;
    dgTestNode* copy = static_cast<dgTestNode*>(original->clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getRefWord(), 257u);
    EXPECT_EQ(copy->getNameId(), original->getNameId());
    EXPECT_EQ(copy->m_value, 2.5);
    EXPECT_EQ(original->getRefCount(), 3);
    copy->release();
    while (original->release()) {
    }
}

TEST(Ref, IsClassFollowsTheBaseChain) {
    TestEllipse* ellipse = new TestEllipse();
    EXPECT_EQ(ellipse->getClassId(), dgHashConstText("dgCollisionEllipse"));
    EXPECT_TRUE(ellipse->isClass(dgHashConstText("dgCollisionEllipse")));
    EXPECT_TRUE(ellipse->isClass(dgHashConstText("dgCollisionSphere")));
    EXPECT_TRUE(ellipse->isClass(0x7437FBDDu));
    EXPECT_TRUE(ellipse->isClass(0xA0BE795Au));
    EXPECT_TRUE(ellipse->isClass(0x159CBC8Bu));
    EXPECT_FALSE(ellipse->isClass(0x2FCEA4BCu));
    dgRef* base = ellipse;
    EXPECT_EQ(dgRefCast<TestSphere>(base), ellipse);
    EXPECT_EQ(dgRefCast<TestBox>(base), nullptr);
    EXPECT_EQ(dgRefCast<TestBox>(static_cast<dgRef*>(nullptr)), nullptr);
    base->release();

    dgRef plain;
    EXPECT_EQ(plain.getClassId(), 0x159CBC8Bu);
    EXPECT_TRUE(plain.isClass(dgRef::kClassId));
    EXPECT_FALSE(plain.isClass(TestCollision::kClassId));
    EXPECT_EQ(g_boxIdAtStartup, 0x2FCEA4BCu);
    EXPECT_STREQ(dgTestNode::kClassName, "dgTestNode");
}

TEST(Ref, ObjectsComeFromTheBlockCache) {
    MemoryBalance hooks;
    TestBox* box = new TestBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(box) & 15, 0u);
    EXPECT_EQ(hooks.allocCalls(), 1);
    box->release();
    EXPECT_EQ(dgMemoryCacheBlockCount(sizeof(TestBox)), 1);
    const int64_t calls = hooks.allocCalls();
    TestBox* again = new TestBox();
    EXPECT_EQ(static_cast<void*>(again), static_cast<void*>(box));
    EXPECT_EQ(hooks.allocCalls(), calls);
    again->release();
}

TEST(Ref, FailingAllocationGivesNullWithoutConstructing) {
    CountingHooks hooks;
    g_destroyed = 0;
    hooks.failAfter(0);
    TestCollision* obj = new TestCollision();
    EXPECT_EQ(obj, nullptr);
    hooks.failAfter(-1);
    EXPECT_EQ(g_destroyed, 0);
}

TEST(RefHolder, HoldsOneReferenceAndReleasesOnReassign) {
    g_destroyed = 0;
    TestCollision* a = new TestCollision();
    TestCollision* b = new TestCollision();
    {
        dgRefHolder<TestCollision> holder(a);
        EXPECT_EQ(a->getRefCount(), 2);
        holder = b;
        EXPECT_EQ(a->getRefCount(), 1);
        EXPECT_EQ(b->getRefCount(), 2);
        holder = b;  // same object: must not reach zero on the way
        EXPECT_EQ(b->getRefCount(), 2);
        dgRefHolder<TestCollision> copy(holder);
        EXPECT_EQ(b->getRefCount(), 3);
        dgRefHolder<TestCollision> moved(std::move(copy));
        EXPECT_FALSE(copy);
        EXPECT_EQ(b->getRefCount(), 3);
        EXPECT_EQ(moved.get(), b);
        EXPECT_EQ(moved->getRefCount(), 3);
    }
    EXPECT_EQ(b->getRefCount(), 1);
    a->release();
    b->release();
    EXPECT_EQ(g_destroyed, 2);

    g_destroyed = 0;
    {
        dgRefHolder<TestCollision> owner = dgRefHolder<TestCollision>::adopt(new TestCollision());
        EXPECT_EQ(owner->getRefCount(), 1);
        owner.reset();
        EXPECT_EQ(g_destroyed, 1);
    }
}

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "CountingHooks.h"
#include "dgCollision.h"
#include "dgContactPoint.h"
#include "dgConvexCollision.h"
#include "dgHash.h"

namespace {

// The smallest concrete shape: a box of half extents h, recognised by its own
// class identity, with the signature of the primitives' scheme.
class TestBoxShape : public dgConvexCollision {
    DG_DECLARE_CLASS(TestBoxShape, dgConvexCollision)

public:
    TestBoxShape(uint32_t signature, float hx, float hy, float hz, const dgMatrix& offset)
        : dgConvexCollision(signature, offset, dgShapeBox), m_half{hx, hy, hz} {}
    void setCollisionBBox(const dgVector&, const dgVector&) override {}
    uint32_t calcSignature() const override {
        return dgShapeSignature(dgShapeBox, m_half, 3, m_offsetMatrix);
    }

private:
    float m_half[3];
};

// A non-convex shape, to see the base's defaults.
class TestPlainShape : public dgCollision {
    DG_DECLARE_CLASS(TestPlainShape, dgCollision)

public:
    explicit TestPlainShape(const dgMatrix& offset) : dgCollision(77u, offset, dgShapePolygonSoup) {}
    void setCollisionBBox(const dgVector&, const dgVector&) override {}
    void calcAABB(const dgMatrix& matrix, dgVector& lo, dgVector& hi) const override {
        lo = hi = matrix.position;
    }
    int32_t forEachPolygon(const dgBody*, dgCollisionPolygonCallback) const override { return 0; }
    float rayCast(const dgVector&, const dgVector&, dgContactPoint&, dgCollisionRayPrefilter, const dgBody*,
                  void*) const override {
        return kRayMiss;
    }
    float getVolume() const override { return 0.0f; }
    void calcInertia(dgVector&, dgVector&) const override {}
    dgVector calcSubmergedVolume(const dgMatrix&, dgCollisionFluidPlaneCallback, void*) const override {
        return dgVector(0, 0, 0, 0);
    }
    uint32_t calcSignature() const override { return getSignature(); }
};

uint32_t boxSignature(float hx, float hy, float hz, const dgMatrix& offset) {
    const float half[3] = {hx, hy, hz};
    return dgShapeSignature(dgShapeBox, half, 3, offset);
}

float floatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof(f));
    return f;
}

}  // namespace

TEST(CollisionSignature, QuantiseTruncatesTowardZero) {
    EXPECT_EQ(dgQuantize(1.0f), 1024);
    EXPECT_EQ(dgQuantize(1.0004f), 1024);
    EXPECT_EQ(dgQuantize(1.001f), 1025);
    EXPECT_EQ(dgQuantize(-0.0009f), 0);
    EXPECT_EQ(dgQuantize(-1.001f), -1025);
    // Only the low word of the 64-bit integer is kept.
    EXPECT_EQ(dgQuantize(4194304.0f), 0);  // 2^22 * 2^10 = 2^32
    EXPECT_EQ(dgQuantize(4194305.0f), 1024);
    // Values no integer holds still give a stable word.
    EXPECT_EQ(dgQuantize(floatFromBits(0x7FC00000u)), 0);
    EXPECT_EQ(dgQuantize(1e30f), dgQuantize(1e30f));
}

TEST(CollisionSignature, RecordLayoutAndHash) {
    dgMatrix offset(dgRotationMatrixX(0.3f));
    offset.position = dgVector(1, 2, 3, 1);
    uint32_t record[32];
    std::memset(record, 0, sizeof(record));
    record[0] = 0;
    record[1] = 1024;
    record[2] = 2048;
    record[3] = uint32_t(-3072);
    std::memcpy(&record[4], &offset, 64);
    EXPECT_EQ(boxSignature(1.0f, 2.0f, -3.0f, offset), dgHashBytes(record, 128, 0));
    EXPECT_EQ(dgSignatureHash(record, 128), dgHashBytes(record, 128, 0));
    EXPECT_EQ(sizeof(record), size_t(dgSignatureRecordWords) * sizeof(uint32_t));
}

TEST(CollisionSignature, EqualForEqualQuantisedSizesOnly) {
    const dgMatrix& id = dgGetIdentityMatrix();
    EXPECT_EQ(boxSignature(1.0f, 2.0f, 3.0f, id), boxSignature(1.0004f, 2.0f, 3.0f, id));
    EXPECT_NE(boxSignature(1.0f, 2.0f, 3.0f, id), boxSignature(1.001f, 2.0f, 3.0f, id));
    EXPECT_NE(boxSignature(1.0f, 2.0f, 3.0f, id), boxSignature(2.0f, 1.0f, 3.0f, id));
    // Same dimensions, another type.
    const float half[3] = {1.0f, 2.0f, 3.0f};
    EXPECT_NE(dgShapeSignature(dgShapeBox, half, 3, id), dgShapeSignature(dgShapeEllipse, half, 3, id));
    // The offset matrix counts bit for bit: -0.0 differs from 0.0 here.
    dgMatrix negZero(id);
    negZero.front.y = -0.0f;
    EXPECT_NE(boxSignature(1, 2, 3, id), boxSignature(1, 2, 3, negZero));
    dgMatrix moved(id);
    moved.position.x = 1.0f;
    EXPECT_NE(boxSignature(1, 2, 3, id), boxSignature(1, 2, 3, moved));

    // A shape stores the signature it is given and recomputes the same.
    const uint32_t sig = boxSignature(1.0f, 2.0f, 3.0f, moved);
    dgRefHolder<TestBoxShape> shape = dgRefHolder<TestBoxShape>::adopt(new TestBoxShape(sig, 1, 2, 3, moved));
    EXPECT_EQ(shape->getSignature(), sig);
    EXPECT_EQ(shape->calcSignature(), sig);
    dgRefHolder<TestBoxShape> other =
        dgRefHolder<TestBoxShape>::adopt(new TestBoxShape(12345u, 1, 2, 3, moved));
    EXPECT_EQ(other->getSignature(), 12345u);
}

TEST(CollisionOffset, IdentityTestIsExact) {
    const dgMatrix& id = dgGetIdentityMatrix();
    EXPECT_TRUE(dgCollision::isIdentityOffset(id));

    dgMatrix nearOne(id);
    nearOne.up.y = 0.99999994f;
    EXPECT_FALSE(dgCollision::isIdentityOffset(nearOne));

    dgMatrix negZero(id);
    negZero.right.x = -0.0f;
    negZero.position.z = -0.0f;
    EXPECT_TRUE(dgCollision::isIdentityOffset(negZero));

    dgMatrix wPosition(id);
    wPosition.position.w = 2.0f;
    EXPECT_FALSE(dgCollision::isIdentityOffset(wPosition));

    dgMatrix frontW(id);
    frontW.front.w = 1e-30f;
    EXPECT_FALSE(dgCollision::isIdentityOffset(frontW));
}

TEST(CollisionOffset, FlagBitZeroFollowsTheMatrix) {
    dgMatrix moved(dgGetIdentityMatrix());
    moved.position = dgVector(0, 1, 0, 1);
    dgRefHolder<TestBoxShape> offsetShape =
        dgRefHolder<TestBoxShape>::adopt(new TestBoxShape(1, 1, 1, 1, moved));
    EXPECT_EQ(offsetShape->getFlags(), uint32_t(dgShapeFlagOffset));
    EXPECT_TRUE(offsetShape->hasOffset());
    EXPECT_EQ(std::memcmp(&offsetShape->getOffsetMatrix(), &moved, sizeof(dgMatrix)), 0);

    dgMatrix negZero(dgGetIdentityMatrix());
    negZero.up.z = -0.0f;
    dgRefHolder<TestBoxShape> plain = dgRefHolder<TestBoxShape>::adopt(new TestBoxShape(1, 1, 1, 1, negZero));
    EXPECT_EQ(plain->getFlags(), 0u);
    EXPECT_FALSE(plain->hasOffset());
    // The matrix is kept as given, -0.0 included.
    EXPECT_TRUE(std::signbit(plain->getOffsetMatrix().up.z));

    // Bits the vehicle sets later are independent of bit 0.
    plain->setFlagBits(dgShapeFlagVehicle);
    EXPECT_EQ(plain->getFlags(), uint32_t(dgShapeFlagVehicle));
    plain->clearFlagBits(dgShapeFlagVehicle);
    EXPECT_EQ(plain->getFlags(), 0u);
}

TEST(CollisionClass, IdentitiesAlongTheHierarchy) {
    EXPECT_EQ(dgCollision::kClassId, dgHashConstText("dgCollision"));
    EXPECT_EQ(dgConvexCollision::kClassId, dgHashConstText("dgConvexCollision"));
    EXPECT_NE(dgCollision::kClassId, dgConvexCollision::kClassId);

    dgRefHolder<TestBoxShape> box =
        dgRefHolder<TestBoxShape>::adopt(new TestBoxShape(0, 1, 1, 1, dgGetIdentityMatrix()));
    EXPECT_EQ(box->getClassId(), dgHashConstText("TestBoxShape"));
    EXPECT_TRUE(box->isClass(TestBoxShape::kClassId));
    EXPECT_TRUE(box->isClass(dgConvexCollision::kClassId));
    EXPECT_TRUE(box->isClass(dgCollision::kClassId));
    EXPECT_TRUE(box->isClass(dgRef::kClassId));
    EXPECT_FALSE(box->isClass(dgHashConstText("dgCollisionSphere")));
    EXPECT_FALSE(box->isClass(TestPlainShape::kClassId));
    EXPECT_EQ(box->getShapeType(), uint32_t(dgShapeBox));

    dgRefHolder<TestPlainShape> plain =
        dgRefHolder<TestPlainShape>::adopt(new TestPlainShape(dgGetIdentityMatrix()));
    EXPECT_TRUE(plain->isClass(dgCollision::kClassId));
    EXPECT_TRUE(plain->isClass(dgRef::kClassId));
    EXPECT_FALSE(plain->isClass(dgConvexCollision::kClassId));
    dgCollision* asShape = plain.get();
    EXPECT_EQ(dgRefCast<dgConvexCollision>(asShape), nullptr);
    EXPECT_EQ(dgRefCast<dgConvexCollision>(static_cast<dgCollision*>(box.get())), box.get());
}

TEST(CollisionBase, DefaultsOfTheBase) {
    dgRefHolder<TestPlainShape> plain =
        dgRefHolder<TestPlainShape>::adopt(new TestPlainShape(dgGetIdentityMatrix()));
    EXPECT_EQ(plain->getRefWord(), 257u);
    EXPECT_EQ(plain->getNameId(), 0u);
    EXPECT_EQ(plain->getSignature(), 77u);
    EXPECT_EQ(plain->getShapeType(), uint32_t(dgShapePolygonSoup));
    plain->setUserId(55);
    EXPECT_EQ(plain->getUserId(), 0u);
    dgMatrix m(dgRotationMatrixZ(0.5f));
    plain->setModifierMatrix(m);
    const dgMatrix mm(plain->getModifierMatrix());
    EXPECT_EQ(std::memcmp(&mm, &dgGetIdentityMatrix(), sizeof(dgMatrix)), 0);
    EXPECT_EQ(plain->clone(), nullptr);
}

TEST(CollisionBase, ShapeTypeIds) {
    EXPECT_EQ(dgShapeBox, 0u);
    EXPECT_EQ(dgShapeCone, 1u);
    EXPECT_EQ(dgShapeSphere, 2u);
    EXPECT_EQ(dgShapeEllipse, 3u);
    EXPECT_EQ(dgShapeCapsule, 4u);
    EXPECT_EQ(dgShapeCylinder, 5u);
    EXPECT_EQ(dgShapeCompound, 6u);
    EXPECT_EQ(dgShapeConvexHull, 7u);
    EXPECT_EQ(dgShapeConvexModifier, 8u);
    EXPECT_EQ(dgShapeChamferCylinder, 9u);
    EXPECT_EQ(dgShapePolygonSoup, 10u);
    EXPECT_EQ(dgShapeNull, 11u);
    EXPECT_EQ(dgShapeSoupFace, 12u);
}

TEST(CollisionBase, ShapesComeFromTheBlockCacheAndGoBack) {
    { delete new TestPlainShape(dgGetIdentityMatrix()); }
    MemoryBalance balance;
    TestPlainShape* shape = new TestPlainShape(dgGetIdentityMatrix());
    ASSERT_NE(shape, nullptr);
    EXPECT_EQ(dgMemoryCacheBlockCount(sizeof(TestPlainShape)), 0);
    shape->addRef();
    EXPECT_EQ(shape->release(), 1);
    EXPECT_EQ(shape->release(), 0);
    // The storage went back to the cache, not to the hooks.
    EXPECT_EQ(dgMemoryCacheBlockCount(sizeof(TestPlainShape)), 1);
}

TEST(ContactPoint, UserIdIsZeroExtended) {
    EXPECT_EQ(dgContactUserId(0u), 0);
    EXPECT_EQ(dgContactUserId(7u), 7);
    EXPECT_EQ(dgContactUserId(0x80000001u), int64_t(0x80000001ll));
    EXPECT_EQ(dgContactUserId(0xFFFFFFFFu), int64_t(0xFFFFFFFFll));
    EXPECT_GT(dgContactUserId(0xFFFFFFFFu), 0);
}

TEST(ContactPoint, MembersInRecordOrder) {
    EXPECT_LT(offsetof(dgContactPoint, point), offsetof(dgContactPoint, normal));
    EXPECT_LT(offsetof(dgContactPoint, normal), offsetof(dgContactPoint, localPoint0));
    EXPECT_LT(offsetof(dgContactPoint, localPoint0), offsetof(dgContactPoint, localPoint1));
    EXPECT_LT(offsetof(dgContactPoint, localPoint1), offsetof(dgContactPoint, body0));
    EXPECT_LT(offsetof(dgContactPoint, body0), offsetof(dgContactPoint, body1));
    EXPECT_LT(offsetof(dgContactPoint, body1), offsetof(dgContactPoint, collision0));
    EXPECT_LT(offsetof(dgContactPoint, collision0), offsetof(dgContactPoint, collision1));
    EXPECT_LT(offsetof(dgContactPoint, collision1), offsetof(dgContactPoint, userId));
    EXPECT_LT(offsetof(dgContactPoint, userId), offsetof(dgContactPoint, penetration));
    EXPECT_EQ(sizeof(dgContactPoint::userId), 8u);
}

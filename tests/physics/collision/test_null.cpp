#include <gtest/gtest.h>

#include <cstring>

#include "ShapeTestUtils.h"
#include "dgCollisionNull.h"

namespace {

typedef dgRefHolder<dgCollisionNull> NullHolder;

int32_t g_prefilterCalls = 0;
int32_t g_faceCalls = 0;

uint32_t countingPrefilter(const dgBody*, const dgCollision*, void*) {
    g_prefilterCalls++;
    return 1;
}

void countingFace(const dgBody*, int32_t, const float*, int32_t) {
    g_faceCalls++;
}

int32_t fluidAtZero(uint32_t, void*, const dgMatrix&, dgPlane& plane) {
    plane = dgPlane(0.0f, 1.0f, 0.0f, 0.0f);
    return 1;
}

}  // namespace

TEST(NullShape, HasNoVerticesAndKeepsItsUserId) {
    NullHolder shape = NullHolder::adopt(new dgCollisionNull(0xABCD1234u));
    EXPECT_EQ(shape->getVertexCount(), 0);
    EXPECT_EQ(shape->getEdgeCount(), 0);
    EXPECT_EQ(shape->getVertices(), nullptr);
    EXPECT_EQ(shape->getEdges(), nullptr);
    shape->setUserId(77u);
    EXPECT_EQ(shape->getUserId(), 77u);
}

TEST(NullShape, BoundsAreTheMatrixOrigin) {
    NullHolder shape = NullHolder::adopt(new dgCollisionNull(1u));
    dgMatrix m(dgRotationMatrixY(0.9f));
    m.position = dgVector(3.0f, 4.0f, 5.0f, 0.5f);
    dgVector lo, hi;
    shape->calcAABB(m, lo, hi);
    EXPECT_EQ(lo.x, 3.0f);
    EXPECT_EQ(lo.y, 4.0f);
    EXPECT_EQ(lo.z, 5.0f);
    EXPECT_EQ(lo.w, 1.0f);
    EXPECT_EQ(hi.x, 3.0f);
    EXPECT_EQ(hi.y, 4.0f);
    EXPECT_EQ(hi.z, 5.0f);
    EXPECT_EQ(hi.w, 1.0f);
}

TEST(NullShape, RayNeverHitsAndNeitherPrefilterNorContactIsTouched) {
    NullHolder shape = NullHolder::adopt(new dgCollisionNull(1u));
    dgContactPoint contact;
    std::memset(&contact, 0x3c, sizeof(contact));
    const dgContactPoint before(contact);
    g_prefilterCalls = 0;
    EXPECT_EQ(shape->rayCast(dgVector(-1, 0, 0, 1), dgVector(1, 0, 0, 1), contact, countingPrefilter, nullptr,
                             nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(shape->rayCast(dgVector(0, 0, 0, 1), dgVector(0, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(g_prefilterCalls, 0);
    EXPECT_EQ(std::memcmp(&contact, &before, sizeof(contact)), 0);
}

TEST(NullShape, HasNoFacesMassOrSubmergedPart) {
    NullHolder shape = NullHolder::adopt(new dgCollisionNull(1u));
    g_faceCalls = 0;
    dgBody body(shapetest::placedBody(dgGetIdentityMatrix()));
    EXPECT_EQ(shape->forEachPolygon(&body, countingFace), 0);
    EXPECT_EQ(g_faceCalls, 0);
    EXPECT_EQ(shape->getVolume(), 0.0f);
    dgVector inertia(1, 2, 3, 4), origin(5, 6, 7, 8);
    shape->calcInertia(inertia, origin);
    EXPECT_EQ(inertia.x, 0.0f);
    EXPECT_EQ(inertia.y, 0.0f);
    EXPECT_EQ(inertia.z, 0.0f);
    EXPECT_EQ(inertia.w, 4.0f);
    EXPECT_EQ(origin.x, 0.0f);
    EXPECT_EQ(origin.y, 0.0f);
    EXPECT_EQ(origin.z, 0.0f);
    EXPECT_EQ(origin.w, 8.0f);
    const dgVector submerged(shape->calcSubmergedVolume(dgGetIdentityMatrix(), fluidAtZero, nullptr));
    EXPECT_EQ(submerged.x, 0.0f);
    EXPECT_EQ(submerged.y, 0.0f);
    EXPECT_EQ(submerged.z, 0.0f);
    EXPECT_EQ(submerged.w, 0.0f);
    // Nothing calls these on a null shape; they stay harmless.
    const dgVector support(shape->supportVertex(dgVector(1, 0, 0, 0)));
    EXPECT_EQ(support % support, 0.0f);
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(shape->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 0, 0, 1), points), 0);
    EXPECT_EQ(shape->getModifierMatrix().position.w, 1.0f);
}

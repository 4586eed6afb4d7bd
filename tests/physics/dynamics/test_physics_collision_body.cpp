// The shape queries of the public header place a shape the way a body does:
// a shape's flat box equals its body's box, and its flat ray cast the body's.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ShapeTestUtils.h"
#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgPhysics.h"

namespace {

// An offset turned about all three axes and moved, as 16 floats.
struct Offset {
    float m[16];
    Offset() {
        const dgMatrix matrix(shapetest::turned(0.3f, -0.8f, 1.2f, dgVector(0.4f, -1.5f, 2.0f, 1.0f)));
        std::memcpy(m, &matrix, sizeof(m));
    }
};

typedef dgCollision* (*MakeShape)(dgWorld* world, const float* offset);

struct ShapeCase {
    const char* name;
    MakeShape make;
};

const ShapeCase kShapes[] = {
    {"box", [](dgWorld* w, const float* o) { return dgCreateBox(w, 1.0f, 2.0f, 3.0f, o); }},
    {"ellipse", [](dgWorld* w, const float* o) { return dgCreateSphere(w, 1.0f, 0.5f, 2.0f, o); }},
    {"cone", [](dgWorld* w, const float* o) { return dgCreateCone(w, 0.7f, 2.0f, o); }},
    {"capsule", [](dgWorld* w, const float* o) { return dgCreateCapsule(w, 0.5f, 3.0f, o); }},
    {"chamfer", [](dgWorld* w, const float* o) { return dgCreateChamferCylinder(w, 1.0f, 0.4f, o); }},
    {"hull",
     [](dgWorld* w, const float* o) {
         const float points[] = {0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 1.5f, 1, 1, 1};
         return dgCreateConvexHull(w, 5, points, 12, o);
     }},
    {"compound",
     [](dgWorld* w, const float* o) {
         dgCollision* parts[2] = {dgCreateBox(w, 1, 1, 1, o), dgCreateSphere(w, 0.5f, 0.5f, 0.5f, nullptr)};
         dgCollision* compound = dgCreateCompoundCollision(w, 2, parts);
         dgReleaseCollision(w, parts[0]);
         dgReleaseCollision(w, parts[1]);
         return compound;
     }},
};

class FlatShapeLikeBody : public ::testing::TestWithParam<ShapeCase> {
protected:
    void SetUp() override {
        m_world = dgWorldCreate(nullptr, nullptr);
        ASSERT_NE(m_world, nullptr);
        m_shape = GetParam().make(m_world, m_offset.m);
        ASSERT_NE(m_shape, nullptr);
        m_body = dgCreateBody(m_world, m_shape);
        ASSERT_NE(m_body, nullptr);
    }
    void TearDown() override {
        dgReleaseCollision(m_world, m_shape);
        dgWorldDestroy(m_world);
    }
    Offset m_offset;
    dgWorld* m_world = nullptr;
    dgCollision* m_shape = nullptr;
    dgBody* m_body = nullptr;
};

TEST_P(FlatShapeLikeBody, BoxEqualsTheBodysBox) {
    std::mt19937 rng(7);
    for (int32_t i = 0; i < 200; i++) {
        const dgMatrix pose(shapetest::randomPose(rng, 20.0f));
        float matrix[16];
        std::memcpy(matrix, &pose, sizeof(matrix));
        dgBodySetMatrixRecursive(m_body, matrix);
        // The body keeps the pose orthonormalised again: its own bits.
        dgBodyGetMatrix(m_body, matrix);
        float lo[3], hi[3];
        dgCollisionCalculateAABB(m_shape, matrix, lo, hi);
        const float* bodyLo = &m_body->m_minAABB.x;
        const float* bodyHi = &m_body->m_maxAABB.x;
        for (int32_t k = 0; k < 3; k++) {
            ASSERT_EQ(lo[k], bodyLo[k]) << i << " axis " << k;
            ASSERT_EQ(hi[k], bodyHi[k]) << i << " axis " << k;
        }
    }
}

struct Seen {
    float normal[3];
    uint32_t attribute;
};
float recordHit(dgBody*, const float* normal, uint32_t attribute, void* user, float t) {
    Seen& seen = *static_cast<Seen*>(user);
    std::memcpy(seen.normal, normal, sizeof(seen.normal));
    seen.attribute = attribute;
    return t;
}

// With the body at the identity the world is the shape's placed space: the
// flat cast must find what the body's cast finds.
TEST_P(FlatShapeLikeBody, RayCastEqualsTheBodysCast) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-6.0f, 6.0f);
    std::uniform_real_distribution<float> near(-1.0f, 1.0f);
    dgCollisionSetUserId(m_shape, 0x1234u);
    int32_t hits = 0;
    for (int32_t i = 0; i < 500; i++) {
        const float p0[3] = {u(rng), u(rng), u(rng)};
        // Aimed near the offset's origin, where the shape sits.
        const float p1[3] = {0.4f + 2.0f * near(rng), -1.5f + 2.0f * near(rng), 2.0f + 2.0f * near(rng)};
        float normal[3] = {0, 0, 0};
        int32_t attribute = -1;
        const float t = dgCollisionRayCast(m_shape, p0, p1, normal, &attribute);
        Seen seen{{0, 0, 0}, 0};
        const float bodyT =
            dgBodyRayCast(m_body, dgVector(p0[0], p0[1], p0[2], 1.0f), dgVector(p1[0], p1[1], p1[2], 1.0f),
                          recordHit, &seen, nullptr, 1.1f);
        ASSERT_EQ(t <= 1.0f, bodyT <= 1.0f) << i;
        if (t > 1.0f) {
            continue;
        }
        hits++;
        EXPECT_NEAR(t, bodyT, 1e-5f);
        for (int32_t k = 0; k < 3; k++) {
            EXPECT_NEAR(normal[k], seen.normal[k], 1e-4f);
        }
        EXPECT_EQ(uint32_t(attribute), seen.attribute);
    }
    EXPECT_GT(hits, 40);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FlatShapeLikeBody, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<ShapeCase>& info) { return info.param.name; });

}  // namespace

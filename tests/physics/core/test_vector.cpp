#include <gtest/gtest.h>

#include "dgMath.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

void expectVector(const dgVector& v, float x, float y, float z, float w) {
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
    EXPECT_EQ(v.w, w);
}

}  // namespace

TEST(Vector, TwoOperandOperationsKeepLeftWAndDotIgnoresIt) {
    const dgVector a(1.0f, 2.0f, 3.0f, 7.0f);
    const dgVector b(4.0f, -5.0f, 6.0f, 9.0f);
    expectVector(a.add(b), 5.0f, -3.0f, 9.0f, 7.0f);
    expectVector(a.sub(b), -3.0f, 7.0f, -3.0f, 7.0f);
    expectVector(a.scale(2.0f), 2.0f, 4.0f, 6.0f, 7.0f);
    expectVector(a.cross(b), 2.0f * 6.0f - 3.0f * -5.0f, 3.0f * 4.0f - 1.0f * 6.0f,
                 1.0f * -5.0f - 2.0f * 4.0f, 7.0f);
    expectVector(a + b, 5.0f, -3.0f, 9.0f, 7.0f);
    expectVector(a - b, -3.0f, 7.0f, -3.0f, 7.0f);
    expectVector(a * 2.0f, 2.0f, 4.0f, 6.0f, 7.0f);
    expectVector(a.compProduct(b), 4.0f, -10.0f, 18.0f, 9.0f);

    dgVector c(a);
    c.addInPlace(b);
    expectVector(c, 5.0f, -3.0f, 9.0f, 7.0f);
    // The dot product ignores w; the cross product is right-handed.
    EXPECT_EQ(a.dot(b), 12.0f);
    EXPECT_EQ(a % b, 12.0f);
    const dgVector x(1.0f, 0.0f, 0.0f, 0.0f);
    const dgVector y(0.0f, 1.0f, 0.0f, 0.0f);
    expectVector(x.cross(y), 0.0f, 0.0f, 1.0f, 0.0f);
    expectVector(y.cross(x), 0.0f, 0.0f, -1.0f, 0.0f);
}

TEST(Vector, FactoriesAndIndexedAccess) {
    const float triple[3] = {1.5f, -2.5f, 3.5f};
    expectVector(dgVector::dgVector3(triple), 1.5f, -2.5f, 3.5f, 1.0f);
    expectVector(dgVector::dgVector4(1.0f, 2.0f, 3.0f, 4.0f), 1.0f, 2.0f, 3.0f, 4.0f);

    dgVector v(1.0f, 2.0f, 3.0f, 4.0f);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(v[i], float(i + 1));
    }
    v[2] = 9.0f;
    EXPECT_EQ(v.z, 9.0f);
}

TEST(Vector, ArraysKeepSixteenByteAlignment) {
    dgVector array[3];
    for (const dgVector& v : array) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(&v) % 16, 0u);
    }
    std::vector<dgVector> heap(5);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(heap.data()) % 16, 0u);
}

TEST(Vector64, FollowsTheSameWRules) {
    const dgVector64 a(1.0, 2.0, 3.0, 7.0);
    const dgVector64 b(4.0, -5.0, 6.0, 9.0);
    EXPECT_EQ((a + b).w, 7.0);
    EXPECT_EQ((a - b).w, 7.0);
    EXPECT_EQ(a.cross(b).w, 7.0);
    EXPECT_EQ(a.compProduct(b).w, 9.0);
    EXPECT_EQ(a.compProduct(b).y, -10.0);
    EXPECT_EQ(a.dot(b), 12.0);
    EXPECT_EQ(a.cross(b).x, 27.0);

    const dgVector narrowed(dgVector64(dgVector(1.0f, 2.0f, 3.0f, 4.0f)).toVector());
    expectVector(narrowed, 1.0f, 2.0f, 3.0f, 4.0f);
}

TEST(Plane, NormalAndDistanceGiveSignedDistance) {
    const dgPlane plane(dgVector(0.0f, 1.0f, 0.0f, 5.0f), -2.0f);
    expectVector(plane, 0.0f, 1.0f, 0.0f, -2.0f);
    EXPECT_EQ(plane.evaluate(dgVector(3.0f, 5.0f, 1.0f, 1.0f)), 3.0f);
    EXPECT_EQ(plane.evaluate(dgVector(3.0f, 2.0f, 1.0f, 1.0f)), 0.0f);

    const dgPlane64 plane64(dgVector64(0.0, 0.0, -1.0, 5.0), 4.0);
    EXPECT_EQ(plane64.w, 4.0);
    EXPECT_EQ(plane64.evaluate(dgVector64(7.0, 8.0, 1.0, 1.0)), 3.0);
}

TEST(Scalar, ClampKeepsValueAtEitherEnd) {
    // -0 == +0, so getting -0 back shows the value itself was returned.
    EXPECT_TRUE(std::signbit(dgClamp(-0.0f, -1.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(dgClamp(0.0f, -0.0f, 1.0f)));
    EXPECT_EQ(dgClamp(2.0f, -1.0f, 1.0f), 1.0f);
    EXPECT_EQ(dgClamp(-2.0f, -1.0f, 1.0f), -1.0f);
    EXPECT_EQ(dgClamp(0.25f, -1.0f, 1.0f), 0.25f);
    EXPECT_EQ(dgClamp(NAN, -1.0f, 1.0f), 1.0f);
}

TEST(Scalar, MaxAndMinKeepFirstOnTies) {
    EXPECT_EQ(dgMax(1, 3), 3);
    EXPECT_EQ(dgMin(1, 3), 1);
    EXPECT_TRUE(std::signbit(dgMax(-0.0f, 0.0f)));
    EXPECT_TRUE(std::signbit(dgMin(-0.0f, 0.0f)));
    EXPECT_EQ(dgMax(2.0f, -3.0f, 5.0f), 5.0f);
    EXPECT_EQ(dgMin(2.0f, -3.0f, 5.0f), -3.0f);
    EXPECT_EQ(dgAbs(-4.5f), 4.5f);
}

TEST(Scalar, FastInvSqrtIsAccurate) {
    EXPECT_NEAR(dgFastInvSqrt(4.0f), 0.5f, 1.0e-6f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> exponent(-20.0f, 20.0f);
    for (int i = 0; i < 1000; i++) {
        const float x = std::pow(2.0f, exponent(rng));
        const double exact = 1.0 / std::sqrt(double(x));
        EXPECT_NEAR(dgFastInvSqrt(x) / exact, 1.0, 1.0e-6) << x;
    }
}

TEST(ComputeAabb, MatchesBruteForceForEveryRemainder) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f);
    // Five floats per vertex; a byte stride of 22 is used as 20.
    std::vector<float> data(5 * 13);
    for (float& f : data) {
        f = coord(rng);
    }
    for (int32_t count = 1; count <= 13; count++) {
        dgVector lo;
        dgVector hi;
        dgComputeAabb(lo, hi, data.data(), count, 22);
        for (int j = 0; j < 3; j++) {
            float expectLo = data[size_t(j)];
            float expectHi = data[size_t(j)];
            for (int32_t k = 1; k < count; k++) {
                expectLo = std::min(expectLo, data[size_t(5 * k + j)]);
                expectHi = std::max(expectHi, data[size_t(5 * k + j)]);
            }
            EXPECT_EQ(lo[j], expectLo) << count;
            EXPECT_EQ(hi[j], expectHi) << count;
        }
        EXPECT_EQ(lo.w, 1.0f);
        EXPECT_EQ(hi.w, 1.0f);
    }
}

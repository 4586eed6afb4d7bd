#include <gtest/gtest.h>

#include "TestSupport.h"
#include "dgMath.h"

#include <cmath>
#include <random>

namespace {

const float kPi = float(testsupport::kPi);

void expectNearMatrix(const dgMatrix& m, const dgMatrix& expected, float tol) {
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            EXPECT_NEAR(m[i][j], expected[i][j], tol) << "element " << i << "," << j;
        }
    }
}

void expectNearQuaternion(const dgQuaternion& q, const dgQuaternion& expected, float tol) {
    for (int i = 0; i < 4; i++) {
        EXPECT_NEAR(q[i], expected[i], tol) << "component " << i;
    }
}

// q and -q are the same orientation.
void expectSameRotation(const dgQuaternion& q, const dgQuaternion& expected, float tol) {
    const float sign = (q.dot(expected) < 0.0f) ? -1.0f : 1.0f;
    expectNearQuaternion(dgQuaternion(q.x * sign, q.y * sign, q.z * sign, q.w * sign), expected, tol);
}

dgVector randomAxis(std::mt19937& rng) {
    std::normal_distribution<float> n(0.0f, 1.0f);
    const dgVector v(n(rng), n(rng), n(rng), 0.0f);
    return v.scale(1.0f / std::sqrt(v.dot(v)));
}

dgQuaternion randomRotation(std::mt19937& rng) {
    std::uniform_real_distribution<float> angle(-kPi, kPi);
    return dgQuaternion::fromAxisAngle(randomAxis(rng), angle(rng));
}

const dgVector kOrigin(0.0f, 0.0f, 0.0f, 1.0f);

}  // namespace

TEST(Quaternion, AxisAngleMatchesAxisRotationMatrices) {
    const float a = 0.8f;
    expectNearMatrix(
        dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(dgVector(1.0f, 0.0f, 0.0f, 0.0f), a), kOrigin),
        dgRotationMatrixX(a), 1.0e-6f);
    expectNearMatrix(
        dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(dgVector(0.0f, 1.0f, 0.0f, 0.0f), a), kOrigin),
        dgRotationMatrixY(a), 1.0e-6f);
    expectNearMatrix(
        dgMatrix::fromQuaternion(dgQuaternion::fromAxisAngle(dgVector(0.0f, 0.0f, 1.0f, 0.0f), a), kOrigin),
        dgRotationMatrixZ(a), 1.0e-6f);

    const dgMatrix placed(
        dgMatrix::fromQuaternion(dgQuaternion(0.0f, 0.0f, 0.0f, 1.0f), dgVector(1.0f, 2.0f, 3.0f, 9.0f)));
    EXPECT_EQ(placed.position.x, 1.0f);
    EXPECT_EQ(placed.position.z, 3.0f);
    EXPECT_EQ(placed.position.w, 1.0f);
}

TEST(Quaternion, MatrixRoundTripGivesSameRotation) {
    std::mt19937 rng(41);
    for (int i = 0; i < 500; i++) {
        const dgQuaternion q(randomRotation(rng));
        const dgQuaternion back(dgQuaternion::fromMatrix(dgMatrix::fromQuaternion(q, kOrigin)));
        expectSameRotation(back, q, 2.0e-5f);
    }
    // Half turns have trace -1 and exercise the largest-diagonal branch per axis.
    for (const dgMatrix& m : {dgRotationMatrixX(kPi), dgRotationMatrixY(kPi), dgRotationMatrixZ(kPi)}) {
        expectNearMatrix(dgMatrix::fromQuaternion(dgQuaternion::fromMatrix(m), kOrigin), m, 1.0e-6f);
    }
}

TEST(Quaternion, ZeroTraceTakesTheLargestDiagonalBranch) {
    // A third of a turn about (1, 1, 1): the axes cycle and the trace is exactly 0.
    const dgMatrix cycle(dgVector(0.0f, 1.0f, 0.0f, 0.0f), dgVector(0.0f, 0.0f, 1.0f, 0.0f),
                         dgVector(1.0f, 0.0f, 0.0f, 0.0f), kOrigin);
    const dgQuaternion q(dgQuaternion::fromMatrix(cycle));
    // Both branches give this rotation but with opposite signs: the trace
    // branch would yield x = +0.5, the largest-diagonal branch x = -0.5.
    EXPECT_EQ(q.x, -0.5f);
    expectNearMatrix(dgMatrix::fromQuaternion(q, kOrigin), cycle, 1.0e-6f);
    const dgQuaternion expected(dgQuaternion::fromAxisAngle(
        dgVector(1.0f, 1.0f, 1.0f, 0.0f).scale(1.0f / std::sqrt(3.0f)), 2.0f * kPi / 3.0f));
    expectSameRotation(q, expected, 1.0e-6f);
}

TEST(Quaternion, ProductAppliesLeftOperandFirst) {
    std::mt19937 rng(43);
    for (int i = 0; i < 100; i++) {
        const dgQuaternion q0(randomRotation(rng));
        const dgQuaternion q1(randomRotation(rng));
        expectNearMatrix(dgMatrix::fromQuaternion(q0 * q1, kOrigin),
                         dgMatrix::fromQuaternion(q0, kOrigin) * dgMatrix::fromQuaternion(q1, kOrigin),
                         1.0e-5f);
        expectNearQuaternion(q0 * q0.inverse(), dgQuaternion(0.0f, 0.0f, 0.0f, 1.0f), 1.0e-6f);
    }
}

// Between rotations an angle apart, slerp at t turns by t times the angle
// about the same axis: the endpoints, the middle, and the quarter (where a
// swapped pair of weights shows), from a few degrees to a wide arc.
class QuaternionSlerp : public ::testing::TestWithParam<float> {};

TEST_P(QuaternionSlerp, TurnsByItsShareOfTheArc) {
    const float angle = GetParam() * (kPi / 180.0f);
    std::mt19937 rng(53);
    for (int i = 0; i < 100; i++) {
        const dgQuaternion q0(randomRotation(rng));
        const dgVector axis(randomAxis(rng));
        const dgQuaternion q1(q0 * dgQuaternion::fromAxisAngle(axis, angle));
        for (float t : {0.0f, 0.25f, 0.5f, 1.0f}) {
            SCOPED_TRACE(::testing::Message() << "t " << t);
            expectSameRotation(q0.slerp(q1, t), q0 * dgQuaternion::fromAxisAngle(axis, angle * t), 1.0e-5f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Degrees, QuaternionSlerp, ::testing::Values(5.0f, 15.0f, 25.0f, 114.6f));

TEST(Quaternion, SlerpRenormalisesOnlyShortResults) {
    // Squared length 1.0001: left as it is.
    const float longW = std::sqrt(1.0001f);
    const dgQuaternion longQ(0.0f, 0.0f, 0.0f, longW);
    EXPECT_EQ(longQ.slerp(longQ, 0.5f).w, longW);

    // Squared lengths 0.85 and 0.995: renormalised.
    const float k = std::sqrt(0.995f / 0.85f);
    for (const dgQuaternion& shortQ :
         {dgQuaternion(0.0f, 0.0f, 0.6f, 0.7f), dgQuaternion(0.0f, 0.0f, 0.6f * k, 0.7f * k)}) {
        const dgQuaternion s(shortQ.slerp(shortQ, 0.25f));
        EXPECT_NEAR(s.dot(s), 1.0f, 1.0e-6f);
    }
}

TEST(Quaternion, SlerpBetweenOppositesStaysUnit) {
    std::mt19937 rng(59);
    const dgQuaternion q0(randomRotation(rng));
    const dgQuaternion q1(-q0.x, -q0.y, -q0.z, -q0.w);
    for (int k = 0; k <= 10; k++) {
        const dgQuaternion s(q0.slerp(q1, float(k) * 0.1f));
        EXPECT_NEAR(s.dot(s), 1.0f, 1.0e-5f);
    }
    expectNearQuaternion(q0.slerp(q1, 0.0f), q0, 1.0e-6f);
}

// The average omega from q0 to q0 turned by angle about axis is axis x
// angle / dt; from an orientation to itself (either sign) exactly zero.
TEST(Quaternion, AverageOmegaRecoversAppliedTurn) {
    std::mt19937 rng(67);
    const float dt = 1.0f / 60.0f;
    for (int i = 0; i < 100; i++) {
        const dgQuaternion q0(randomRotation(rng));
        const dgVector axis(randomAxis(rng));
        const float angle = 0.3f;
        const dgVector omega(q0.calcAverageOmega(q0 * dgQuaternion::fromAxisAngle(axis, angle), dt));
        for (int j = 0; j < 3; j++) {
            EXPECT_NEAR(omega[j], axis[j] * angle / dt, 2.0e-3f);
        }
        EXPECT_EQ(omega.w, 1.0f);
        for (const dgQuaternion& same : {q0, dgQuaternion(-q0.x, -q0.y, -q0.z, -q0.w)}) {
            const dgVector none(q0.calcAverageOmega(same, dt));
            ASSERT_EQ(none.x, 0.0f);
            ASSERT_EQ(none.y, 0.0f);
            ASSERT_EQ(none.z, 0.0f);
            ASSERT_EQ(none.w, 0.0f);
        }
    }
}

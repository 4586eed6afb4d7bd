// What the flat interface refuses or holds within range because float rows
// could not carry it, and the count of islands whose solve came out
// non-finite. Each case here once froze a world, threw a car or aborted the
// assertion build. Tire input, refused or made rigid, is test_vehicle.cpp's
// table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "JointRig.h"
#include "VehicleRig.h"
#include "dgMatrix.h"
#include "dgPhysics.h"

namespace {

using vehiclerig::allFinite;
using vehiclerig::carIsFinite;

// ---- an immovable chassis ----

class ImmovableChassis : public ::testing::TestWithParam<float> {};

TEST_P(ImmovableChassis, StandsWhereItIs) {
    vehiclerig::Car car(vehiclerig::Ground::Flat, 1.2f);
    car.step(10);
    const float mass = GetParam();
    dgBodySetMassMatrix(car.chassis, mass, mass, mass, mass);
    float before[16], after[16];
    dgBodyGetMatrix(car.chassis, before);
    car.step(60);
    dgBodyGetMatrix(car.chassis, after);
    EXPECT_TRUE(std::equal(before, before + 16, after));
    EXPECT_TRUE(carIsFinite(car));
    EXPECT_EQ(dgWorldGetNonFiniteIslandCount(car.world), 0);
    // Movable again, it drives as before.
    dgBodySetMassMatrix(car.chassis, vehiclerig::kChassisMass, 600.0f, 1700.0f, 1500.0f);
    car.step(120);
    EXPECT_LT(std::fabs(car.velocity(1)), 0.05f);
    EXPECT_TRUE(carIsFinite(car));
}

INSTANTIATE_TEST_SUITE_P(Masses, ImmovableChassis, ::testing::Values(1.0e-4f, 0.0f, 1.0e20f, 3.0e38f));

// ---- magnitudes ----

class PivotScale : public ::testing::TestWithParam<jointrig::Kind> {};

TEST_P(PivotScale, PivotsNonFiniteOrBeyondTheWorldsScaleMakeNoJoint) {
    jointrig::Rig rig;
    dgBody* child = rig.box(dgGetIdentityMatrix(), 1.0f, testsupport::D3{1, 1, 1}, 9.8);
    const testsupport::D3 pin{0, 0, 1};
    const testsupport::D3 across{1, 0, 0};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const testsupport::D3& far : {testsupport::D3{0, 3e38, 0}, testsupport::D3{0, -2e6, 0},
                                       testsupport::D3{0, 1.5e6, 0}, testsupport::D3{0, nan, 0},
                                       testsupport::D3{inf, 0, 0}}) {
        EXPECT_EQ(jointrig::createJoint(GetParam(), rig.world, far, pin, across, child), nullptr);
    }
    EXPECT_NE(jointrig::createJoint(GetParam(), rig.world, testsupport::D3{0, 9e5, 0}, pin, across, child),
              nullptr);
    // The frames are measured from the bodies' origins: one that far out is
    // beyond the scale too, child or parent.
    dgMatrix far = dgGetIdentityMatrix();
    far.position = dgVector(0.0f, 2.0e6f, 0.0f, 1.0f);
    dgWorldSetSize(rig.world, std::array<float, 3>{-1e7f, -1e7f, -1e7f}.data(),
                   std::array<float, 3>{1e7f, 1e7f, 1e7f}.data());
    dgBody* outer = rig.box(far, 1.0f, testsupport::D3{1, 1, 1}, 9.8);
    EXPECT_EQ(jointrig::createJoint(GetParam(), rig.world, testsupport::D3{0, 0, 0}, pin, across, outer), nullptr);
    EXPECT_EQ(jointrig::createJoint(GetParam(), rig.world, testsupport::D3{0, 0, 0}, pin, across, child, outer),
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PivotScale, ::testing::ValuesIn(jointrig::kKinds), jointrig::kindName);

uint32_t absurdDrive(dgConstraint*, dgJointUserDescriptor* desc) {
    desc->m_accel = 1e20f;
    return 1;
}

void absurdUserRow(dgConstraint* joint) {
    const float pin[3] = {0, 0, 1};
    dgUserJointAddAngularRow(joint, 0.0f, pin);
    dgUserJointSetRowAcceleration(joint, -1e20f);
}

TEST(AbsurdAcceleration, IsHeldWithinRangeAndTheIslandMoves) {
    for (int32_t kind = 0; kind < 2; ++kind) {
        jointrig::Rig rig;
        dgBody* child = rig.box(dgGetIdentityMatrix(), 1.0f, testsupport::D3{1, 0.2, 0.2}, 9.8);
        const float pivot[3] = {-0.5f, 0, 0};
        const float pin[3] = {0, 0, 1};
        dgConstraint* joint = nullptr;
        if (kind == 0) {
            joint = dgCreateHingeJoint(rig.world, pivot, pin, child, nullptr);
            dgHingeSetUserCallback(joint, absurdDrive);
        } else {
            joint = dgCreateUserJoint(rig.world, 1, absurdUserRow, child, nullptr);
        }
        ASSERT_NE(joint, nullptr);
        rig.step(1);
        float omega[3], m[16];
        dgBodyGetOmega(child, omega);
        dgBodyGetMatrix(child, m);
        EXPECT_TRUE(allFinite(omega, 3) && allFinite(m, 16));
        // Driven hard, it turns fast; it does not hang still.
        EXPECT_GT(std::fabs(omega[2]), 1.0f) << kind;
        if (kind == 0) {
            float force[3];
            dgHingeGetJointForce(joint, force);
            EXPECT_TRUE(allFinite(force, 3));
        } else {
            EXPECT_TRUE(std::isfinite(dgUserJointGetRowForce(joint, 0)));
        }
        EXPECT_EQ(dgWorldGetNonFiniteIslandCount(rig.world), 0);
    }
}

// ---- the report ----

TEST(NonFiniteIsland, IsCountedAndItsJointForcesReadZero) {
    jointrig::Rig rig;
    dgBody* child = rig.box(dgGetIdentityMatrix(), 1.0f, testsupport::D3{1, 1, 1}, 9.8);
    dgMatrix apart = dgGetIdentityMatrix();
    apart.position = dgVector(10.0f, 0.0f, 0.0f, 1.0f);
    dgBody* free = rig.box(apart, 1.0f, testsupport::D3{1, 1, 1}, 9.8);
    const float pivot[3] = {0, 2, 0};
    dgConstraint* joint = dgCreateBallJoint(rig.world, pivot, child, nullptr);
    rig.step(1);
    EXPECT_EQ(dgWorldGetNonFiniteIslandCount(rig.world), 0);
    // Finite, but its square is not: the row's residual overflows.
    jointrig::pushOf(child).force = testsupport::D3{3e38, 3e38, 0};
    rig.step(1);
    EXPECT_EQ(dgWorldGetNonFiniteIslandCount(rig.world), 1);
    float force[3];
    dgBallGetJointForce(joint, force);
    EXPECT_TRUE(allFinite(force, 3));
    // The island apart goes on falling.
    EXPECT_LT(jointrig::velocityOf(free).y, -0.3);
    jointrig::pushOf(child).force = testsupport::D3{0, -9.8, 0};
    rig.step(3);
    EXPECT_EQ(dgWorldGetNonFiniteIslandCount(rig.world), 1);
}

}  // namespace

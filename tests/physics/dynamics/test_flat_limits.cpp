// What the flat interface refuses or holds within range because float rows
// could not carry it, and the count of islands whose solve came out
// non-finite. Each case here once froze a world, threw a car or aborted the
// assertion build.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "JointRig.h"
#include "VehicleRig.h"
#include "dgMatrix.h"
#include "dgPhysics.h"
#include "dgVehicleJoint.h"

namespace {

bool finite(const float* v, int32_t count) {
    return std::all_of(v, v + count, [](float x) { return std::isfinite(x); });
}

bool carIsFinite(const vehiclerig::Car& car) {
    float m[16];
    dgBodyGetMatrix(car.chassis, m);
    bool ok = finite(m, 16);
    for (dgVehicleTire* tire : car.tires) {
        dgVehicleGetTireMatrix(car.vehicle, tire, m);
        ok = ok && finite(m, 16);
    }
    return ok;
}

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

// ---- tire matrices ----

struct TireMatrixCase {
    const char* name;
    float rows[12];
    bool accepted;
};

const TireMatrixCase kTireMatrices[] = {
    {"ZeroRotation", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, false},
    {"TwoEqualRows", {0, 0, 1, 0, 0, 0, 1, 0, -1, 0, 0, 0}, false},
    {"ZeroUp", {0, 0, 1, 0, 0, 0, 0, 0, -1, 0, 0, 0}, false},
    // Scaled, sheared and mirrored: made rigid as a body's matrix is.
    {"ScaledAndSheared", {0, 0, 3, 0, 0.5f, 2, 0, 0, 4, 0, 0, 0}, true},
    {"Mirrored", {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0}, true},
};

class TireMatrix : public ::testing::TestWithParam<TireMatrixCase> {};

TEST_P(TireMatrix, IsMadeRigidOrRefusedAndTheCarRests) {
    vehiclerig::Car car(vehiclerig::Ground::Flat, 1.2f);
    dgVehicleRemoveTire(car.vehicle, car.tires[3]);
    float matrix[16] = {0};
    std::copy(GetParam().rows, GetParam().rows + 12, matrix);
    matrix[12] = -1.3f;
    matrix[13] = -0.75f;
    matrix[14] = -0.9f;
    matrix[15] = 1.0f;
    const float pin[4] = {1, 0, 0, 0};
    dgVehicleTire* tire = dgVehicleAddTire(car.vehicle, matrix, pin, vehiclerig::kTireMass, vehiclerig::kTireWidth,
                                           vehiclerig::kTireRadius, vehiclerig::kShock, vehiclerig::kSpring, 0.3f,
                                           0, nullptr);
    ASSERT_EQ(tire != nullptr, GetParam().accepted);
    if (!tire) {
        return;
    }
    car.tires[3] = tire;
    car.step(300);
    float m[16];
    dgVehicleGetTireMatrix(car.vehicle, tire, m);
    ASSERT_TRUE(finite(m, 16));
    for (int32_t i = 0; i < 3; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
            const float dot = m[4 * i] * m[4 * j] + m[4 * i + 1] * m[4 * j + 1] + m[4 * i + 2] * m[4 * j + 2];
            EXPECT_NEAR(dot, (i == j) ? 1.0f : 0.0f, 1e-4f);
        }
    }
    // Right-handed: row 0 x row 1 = row 2.
    EXPECT_NEAR(m[0] * m[5] - m[1] * m[4], m[10], 1e-4f);
    EXPECT_TRUE(carIsFinite(car));
    EXPECT_GT(car.matrix(13), 0.5f);
    EXPECT_LT(car.matrix(13), 1.5f);
    EXPECT_LT(car.speed(), 0.1f);
}

INSTANTIATE_TEST_SUITE_P(Cases, TireMatrix, ::testing::ValuesIn(kTireMatrices),
                         [](const ::testing::TestParamInfo<TireMatrixCase>& info) { return info.param.name; });

// ---- magnitudes ----

// Tire arguments far out of the chassis's scale: position (chassis space),
// radius and width.
struct TireScaleCase {
    const char* name;
    float position[3];
    float radius;
    float width;
};

const TireScaleCase kTireScales[] = {
    {"FarAway", {1e30f, -0.75f, 0.9f}, 0.35f, 0.25f},
    {"BeyondTheWorld", {1.3f, -3e7f, 0.9f}, 0.35f, 0.25f},
    {"RadiusOfAHill", {1.3f, -0.75f, 0.9f}, 100.0f, 0.25f},
    {"WidthOfAField", {1.3f, -0.75f, 0.9f}, 0.35f, 1e9f},
};

class TireScale : public ::testing::TestWithParam<TireScaleCase> {};

TEST_P(TireScale, IsRefused) {
    vehiclerig::Car car(vehiclerig::Ground::Flat, 1.2f);
    const TireScaleCase& c = GetParam();
    const float matrix[16] = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, c.position[0], c.position[1], c.position[2], 1};
    const float pin[4] = {1, 0, 0, 0};
    EXPECT_EQ(dgVehicleAddTire(car.vehicle, matrix, pin, 20, c.width, c.radius, 400, 3000, 0.3f, 0, nullptr),
              nullptr);
    car.step(120);
    EXPECT_LT(car.matrix(13), 1.5f);
    EXPECT_TRUE(carIsFinite(car));
}

INSTANTIATE_TEST_SUITE_P(Cases, TireScale, ::testing::ValuesIn(kTireScales),
                         [](const ::testing::TestParamInfo<TireScaleCase>& info) { return info.param.name; });

class PivotScale : public ::testing::TestWithParam<jointrig::Kind> {};

TEST_P(PivotScale, PivotsBeyondTheWorldsScaleMakeNoJoint) {
    jointrig::Rig rig;
    dgBody* child = rig.box(dgGetIdentityMatrix(), 1.0f, testsupport::D3{1, 1, 1}, 9.8);
    const testsupport::D3 pin{0, 0, 1};
    const testsupport::D3 across{1, 0, 0};
    for (double far : {3e38, -2e6, 1.5e6}) {
        EXPECT_EQ(jointrig::createJoint(GetParam(), rig.world, testsupport::D3{0, far, 0}, pin, across, child),
                  nullptr);
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

INSTANTIATE_TEST_SUITE_P(Kinds, PivotScale,
                         ::testing::Values(jointrig::Kind::Ball, jointrig::Kind::Hinge, jointrig::Kind::Slider,
                                           jointrig::Kind::Corkscrew, jointrig::Kind::Universal),
                         jointrig::kindName);

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
        EXPECT_TRUE(finite(omega, 3) && finite(m, 16));
        // Driven hard, it turns fast; it does not hang still.
        EXPECT_GT(std::fabs(omega[2]), 1.0f) << kind;
        if (kind == 0) {
            float force[3];
            dgHingeGetJointForce(joint, force);
            EXPECT_TRUE(finite(force, 3));
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
    EXPECT_TRUE(finite(force, 3));
    // The island apart goes on falling.
    EXPECT_LT(jointrig::velocityOf(free).y, -0.3);
    jointrig::pushOf(child).force = testsupport::D3{0, -9.8, 0};
    rig.step(3);
    EXPECT_EQ(dgWorldGetNonFiniteIslandCount(rig.world), 1);
}

}  // namespace

// Vehicles: the tire shape against its stretched geometry, the tire records'
// bookkeeping and refused input, and a four-tire car resting, driving,
// braking, sliding and steering on flat, rolling and sloping ground and on
// the game's sea floor, dropped and tumbled.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "FlatFloorCheck.h"
#include "PressedFaceCheck.h"
#include "TestSupport.h"
#include "VehicleRig.h"
#include "dgBody.h"
#include "dgCollisionTire.h"
#include "dgCompoundCollision.h"
#include "dgContact.h"
#include "dgVehicleJoint.h"
#include "dgWorld.h"

namespace {

using namespace vehiclerig;
using testsupport::randomUnit;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- the tire shape ----

struct TireSize {
    float width;
    float radius;
};

class TireShape : public ::testing::TestWithParam<TireSize> {
protected:
    TireShape()
        : shape(new dgCollisionTire(nullptr, nullptr, GetParam().width, GetParam().radius, 7, dgGetIdentityMatrix())) {}
    ~TireShape() override { shape->release(); }
    dgCollisionTire* shape;
};

TEST_P(TireShape, SupportsTheStretchedUnitShape) {
    const TireSize size = GetParam();
    // The unit shape reaches 1 across its axis and 1/2 along it.
    const dgVector up = shape->supportVertex(dgVector(0, 1, 0, 0));
    EXPECT_NEAR(up.y, size.radius, 1e-3f * size.radius);
    EXPECT_NEAR(up.x, 0.0f, 1e-3f);
    const dgVector side = shape->supportVertex(dgVector(1, 0, 0, 0));
    EXPECT_NEAR(side.x, 0.5f * size.width, 1e-3f * size.width);
    // No point of the stretched surface lies farther along any direction
    // than the support point.
    std::mt19937 rng(3);
    dgCollisionChamferCylinder unit(0, 1.0f, 1.0f, dgGetIdentityMatrix());
    const dgVector scale(size.width, size.radius, size.radius, 0.0f);
    for (int32_t n = 0; n < 2000; ++n) {
        const dgVector d = randomUnit(rng);
        const dgVector u = randomUnit(rng);
        const dgVector p = unit.surfacePoint(u);
        const dgVector q(p.x * scale.x, p.y * scale.y, p.z * scale.z, 0.0f);
        EXPECT_GE(shape->supportVertex(d).dot(d), q.dot(d) - 2e-3f * size.radius);
    }
}

TEST_P(TireShape, RaysHitTheStretchedSurfaceWithItsOwnNormal) {
    const TireSize size = GetParam();
    dgContactPoint contact;
    // Along the pin through the centre: the flat face at half the width.
    const float t = shape->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr);
    EXPECT_NEAR(-5.0f + 10.0f * t, -0.5f * size.width, 2e-3f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1e-3f);
    EXPECT_EQ(contact.userId, 7);
    // Any ray into the tire: the hit lies on the surface (the support
    // along the hit's normal reaches it).
    std::mt19937 rng(5);
    for (int32_t n = 0; n < 500; ++n) {
        const dgVector d = randomUnit(rng);
        const dgVector from = d.scale(-4.0f * (size.width + size.radius));
        const dgVector p0(from.x, from.y, from.z, 1.0f);
        const float hit = shape->rayCast(p0, dgVector(0, 0, 0, 1), contact, nullptr, nullptr, nullptr);
        ASSERT_LE(hit, 1.0f);
        const dgVector point = p0.scale(1.0f - hit);
        const dgVector normal(contact.normal.x, contact.normal.y, contact.normal.z, 0.0f);
        EXPECT_NEAR(normal.dot(normal), 1.0f, 1e-3f);
        EXPECT_NEAR(shape->supportVertex(normal).dot(normal), point.dot(normal), 0.03f * size.radius);
    }
}

// The tire meets the sea floor through the convex shapes' soup path: lying
// any way up on the level grid, near cell corners or not, it is pushed along
// the floor's normal by the depth of its lowest point.
TEST_P(TireShape, RestsOnALevelFloorAlongItsNormal) {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgCollision* floor = flatfloor::buildFloor(world);
    const TireSize size = GetParam();
    float worstCos = 1.0f;
    const flatfloor::Placement place{0.05f * std::min(size.width, size.radius), 0.0f, true,
                                     2.0f * size.radius};
    EXPECT_EQ(flatfloor::badPlacements(world, floor, shape, place, 500, 13, worstCos), 0) << worstCos;
    dgReleaseCollision(world, floor);
    dgWorldDestroy(world);
}

// Pressed into a bowed face of the rolling ground anywhere, however shallow,
// the tire is pushed out along about the face's normal by no more than the
// press.
TEST_P(TireShape, PressedIntoARollingGroundFaceGetsAContact) {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgCollision* grid = pressedface::buildRollingGrid(world);
    float worstCos = 1.0f;
    EXPECT_EQ(pressedface::missedPresses(world, grid, shape, 1000, 29, worstCos), 0) << worstCos;
    dgReleaseCollision(world, grid);
    dgWorldDestroy(world);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TireShape,
                         ::testing::Values(TireSize{0.5f, 2.0f}, TireSize{0.25f, 0.35f}, TireSize{1.0f, 1.0f},
                                           TireSize{3.0f, 0.5f}));

// ---- bookkeeping ----

TEST(VehicleTires, ThirtyThreeFitInOrderWithTheirValuesAsAbsolutes) {
    Car car(Ground::Flat, 1.2f);
    for (dgVehicleTire* tire : car.tires) {
        dgVehicleRemoveTire(car.vehicle, tire);
    }
    EXPECT_EQ(dgVehicleGetFirstTire(car.vehicle), nullptr);
    const float matrix[16] = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, -0.75f, 0, 1};
    const float pin[4] = {2, 0, 0, 0};
    std::vector<dgVehicleTire*> made;
    for (int32_t i = 0; i < 33; ++i) {
        made.push_back(dgVehicleAddTire(car.vehicle, matrix, pin, -float(i + 1), -0.3f, -0.4f, -2.0f, -3.0f, -0.5f,
                                        uint32_t(i), reinterpret_cast<void*>(uintptr_t(i + 1))));
        ASSERT_NE(made.back(), nullptr);
    }
    EXPECT_EQ(dgVehicleAddTire(car.vehicle, matrix, pin, 1, 0.3f, 0.4f, 2, 3, 0.5f, 0, nullptr), nullptr);
    int32_t i = 0;
    for (dgVehicleTire* tire = dgVehicleGetFirstTire(car.vehicle); tire;
         tire = dgVehicleGetNextTire(car.vehicle, tire)) {
        ASSERT_EQ(tire, made[size_t(i)]);
        EXPECT_EQ(dgVehicleTireGetUserData(tire), reinterpret_cast<void*>(uintptr_t(i + 1)));
        const float mass = float(i + 1);
        EXPECT_FLOAT_EQ(tire->m_mass, mass);
        EXPECT_FLOAT_EQ(tire->m_spring, 3.0f);
        EXPECT_NEAR(tire->m_inertia, mass * 0.16f * 0.4f, 1e-5f * mass);
        EXPECT_FLOAT_EQ(tire->m_pin.x, 1.0f);
        EXPECT_EQ(tire->m_shape->getUserId(), uint32_t(i));
        ++i;
    }
    EXPECT_EQ(i, 33);
    const dgCompoundCollision* compound = static_cast<const dgCompoundCollision*>(dgBodyGetCollision(car.chassis));
    EXPECT_EQ(compound->getChildCount(), 34);
    car.step(30);
    for (dgVehicleTire* tire : made) {
        dgVehicleRemoveTire(car.vehicle, tire);
    }
    EXPECT_EQ(compound->getChildCount(), 1);
}

// dgVehicleAddTire's arguments as one array: 0-15 the matrix, 16-19 the pin,
// then mass, width, radius, shock, spring, length; here the rig's rear right
// tire.
using TireArgs = std::array<float, 26>;
constexpr TireArgs kRearRight = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, -1.3f, -0.75f, -0.9f, 1,
                                 1, 0, 0, 0, kTireMass, kTireWidth, kTireRadius, kShock, kSpring, 0.3f};

// The rear right tire with its arguments from `first` on replaced by values.
struct TireInput {
    std::string name;
    int32_t first;
    std::vector<float> values;
    bool accepted;
};

void PrintTo(const TireInput& c, std::ostream* os) {
    *os << c.name;
}

std::vector<TireInput> tireInputs() {
    std::vector<TireInput> cases = {
        // Rotations with no direction are refused; scaled, sheared and
        // mirrored ones are made rigid as a body's matrix is.
        {"ZeroRotation", 0, std::vector<float>(12, 0.0f), false},
        {"TwoEqualRows", 4, {0, 0, 1}, false},
        {"ZeroUp", 4, {0, 0, 0}, false},
        {"ScaledAndSheared", 0, {0, 0, 3, 0, 0.5f, 2, 0, 0, 4}, true},
        {"Mirrored", 8, {1}, true},
        // Far out of the chassis's scale: position, width and radius.
        {"FarAway", 12, {1e30f}, false},
        {"BeyondTheWorld", 13, {-3e7f}, false},
        {"WidthOfAField", 21, {1e9f}, false},
        {"RadiusOfAHill", 22, {100.0f}, false},
        // A pin along up could not roll.
        {"PinAlongUp", 16, {0, 1}, false},
    };
    for (int32_t k = 0; k < 26; ++k) {
        const bool nan = (k % 2) != 0;
        cases.push_back(
            {(nan ? "NaNArgument" : "InfArgument") + std::to_string(k), k, {nan ? kNaN : kInf}, false});
    }
    return cases;
}

class VehicleTireInput : public ::testing::TestWithParam<TireInput> {};

// Refused input stores nothing; the tire put back as it was, or the accepted
// one, is rigid and right-handed, and the car rests on it.
TEST_P(VehicleTireInput, IsMadeRigidOrRefusedAndTheCarRests) {
    Car car(Ground::Flat, 1.2f);
    dgVehicleRemoveTire(car.vehicle, car.tires[3]);
    const auto add = [&](const TireArgs& a) {
        return dgVehicleAddTire(car.vehicle, a.data(), a.data() + 16, a[20], a[21], a[22], a[23], a[24],
                                a[25], 0, nullptr);
    };
    TireArgs args = kRearRight;
    std::copy(GetParam().values.begin(), GetParam().values.end(), args.begin() + GetParam().first);
    dgVehicleTire* tire = add(args);
    ASSERT_EQ(tire != nullptr, GetParam().accepted);
    const auto* compound = static_cast<const dgCompoundCollision*>(dgBodyGetCollision(car.chassis));
    EXPECT_EQ(compound->getChildCount(), GetParam().accepted ? 5 : 4);
    car.tires[3] = tire ? tire : add(kRearRight);
    ASSERT_NE(car.tires[3], nullptr);
    car.step(300);
    float m[16];
    dgVehicleGetTireMatrix(car.vehicle, car.tires[3], m);
    ASSERT_TRUE(carIsFinite(car));
    EXPECT_LT(orthonormalError(m), 1e-4);
    // Right-handed: row 0 x row 1 = row 2.
    EXPECT_NEAR(m[0] * m[5] - m[1] * m[4], m[10], 1e-4f);
    EXPECT_GT(car.matrix(13), 0.5f);
    EXPECT_LT(car.matrix(13), 1.5f);
    EXPECT_LT(car.speed(), 0.1f);
}

INSTANTIATE_TEST_SUITE_P(Cases, VehicleTireInput, ::testing::ValuesIn(tireInputs()),
                         [](const ::testing::TestParamInfo<TireInput>& info) { return info.param.name; });

TEST(VehicleTires, SettersRefuseNonFiniteValuesAndClampTheirRanges) {
    Car car(Ground::Flat, 1.2f);
    dgVehicleTire* tire = car.tires[0];
    const float up[3] = {0, kNaN, 0};
    EXPECT_EQ(dgCreateVehicle(car.world, up, car.chassis), nullptr);
    dgVehicleSetTireSteerAngle(car.vehicle, tire, 0.3f);
    dgVehicleSetTireSteerAngle(car.vehicle, tire, kNaN);
    EXPECT_FLOAT_EQ(dgVehicleTireGetSteerAngle(tire), 0.3f);
    dgVehicleTireSetTorque(tire, 5.0f);
    dgVehicleTireSetTorque(tire, kInf);
    EXPECT_FLOAT_EQ(tire->m_torque, 5.0f);
    dgVehicleTireSetBrake(tire, 1.0f, -7.0f);
    EXPECT_FLOAT_EQ(tire->m_brakeLimit, 7.0f);
    dgVehicleTireSetSlipScaleA(tire, -3.0f);
    dgVehicleTireSetSlipLimitB(tire, 2.0f);
    EXPECT_FLOAT_EQ(tire->m_slipScaleA, 0.25f);
    EXPECT_FLOAT_EQ(tire->m_slipLimitB, 0.5f);
}

// ---- pure pieces ----

TEST(VehicleSpin, TheAngleStaysInItsRangeForAnySpin) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> start(0.0f, 6.28318f);
    std::uniform_real_distribution<float> delta(-2000.0f, 2000.0f);
    for (int32_t n = 0; n < 20000; ++n) {
        const float a = start(rng);
        const float d = (n % 3 == 0) ? -std::fabs(delta(rng)) * 1e-6f : delta(rng);
        const float wrapped = dgVehicleWrapSpinAngle(a, d);
        ASSERT_GE(wrapped, 0.0f);
        ASSERT_LT(wrapped, 6.28318f);
        EXPECT_NEAR(std::cos(double(wrapped)), std::cos(double(a) + double(d)), 2e-3);
    }
}

TEST(VehicleReaction, TheScaleEndsEvenForAnImmovableChassis) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> exponent(-6.0f, 6.0f);
    for (int32_t n = 0; n < 5000; ++n) {
        const float linear2 = std::pow(10.0f, exponent(rng));
        const float ground = std::pow(10.0f, exponent(rng));
        const float chassis = (n % 4 == 0) ? 0.0f : std::pow(10.0f, exponent(rng));
        const float s = dgVehicleReactionScale(linear2, ground, chassis);
        // Never below 64 shrinks, never above the start.
        ASSERT_GE(s, 0.1f * std::pow(0.9f, 64.0f) * 0.999f);
        ASSERT_LE(s, 0.1f);
        // Either within the limit or shrunk as far as it may go.
        EXPECT_TRUE((linear2 * ground * ground * s * s <= 2000.0f * chassis * chassis) ||
                    (s <= 0.1f * std::pow(0.9f, 63.0f)));
    }
}

// ---- the car ----

// A car on one ground with one solver variant: resting from a start height
// after settling for some steps, or a recorded run's hash.
struct CarCase {
    Ground ground;
    int32_t simd;
    float height;
    int32_t settle;
    uint64_t hash;
};

void PrintTo(const CarCase& c, std::ostream* os) {
    *os << groundName(c.ground) << (c.simd ? " simd" : " scalar");
}

std::string carCaseName(const ::testing::TestParamInfo<CarCase>& info) {
    return groundName(info.param.ground) + (info.param.simd ? "Simd" : "Scalar");
}

// Braked (on a slope a free car would roll away) and settled from its start
// height: flat ground with either solver variant, rolling ground, a pit of
// the S4 terrain, the game's sea floor.
class CarResting : public ::testing::TestWithParam<CarCase> {};

TEST_P(CarResting, OnItsSpringsWithoutOscillatingEveryTireOnTheGround) {
    const CarCase c = GetParam();
    if ((c.ground == Ground::Game) && seaFloor().empty()) {
        GTEST_SKIP() << "no generated height map";
    }
    Car car(c.ground, c.height);
    dgWorldSetSimdMode(car.world, c.simd);
    controls().brake = true;
    car.step(c.settle);
    // Every tire on the ground after every step: on the rolling ground's
    // bowed faces one tire once read as airborne after every step.
    double sum = 0.0;
    for (int32_t i = 0; i < 300; ++i) {
        car.step();
        sum += double(car.velocity(1)) * car.velocity(1);
        ASSERT_TRUE(carIsFinite(car)) << "step " << i;
        for (dgVehicleTire* tire : car.tires) {
            ASSERT_EQ(dgVehicleTireTestState0(tire), 0) << "step " << i;
        }
    }
    EXPECT_LT(std::sqrt(sum / 300.0), 0.01);
    // Each tire carries its own weight along the chassis's up as its load.
    for (dgVehicleTire* tire : car.tires) {
        EXPECT_NEAR(dgVehicleTireGetLoad(tire), -kGravity * kTireMass * car.matrix(5), 0.5f);
    }
    // On level ground the suspension holds the chassis's quarter share of
    // the weight with the spring-damper force of one implicit Euler step,
    // f = a / d with a = -k x / ((k h + c) h + 1): so x = f d ((k h + c) h +
    // 1) / k, with d the suspension row's J M^-1 J^T worked out here in
    // double from the rig's masses and geometry. The tire sinks into the
    // ground to the contact's 5 mm allowance and no further or less.
    const int32_t subSteps = int32_t(std::ceil(179.0 * kStep));
    const double h = kStep / double(subSteps);
    const double ixx = kChassisMass * (1.5 * 1.5 + 4.0) / 12.0;
    const double izz = kChassisMass * (16.0 + 2.25) / 12.0;
    for (dgVehicleTire* tire : (c.ground == Ground::Flat) ? car.tires : std::vector<dgVehicleTire*>()) {
        const double x = tire->m_localMatrix.position.x;
        const double z = tire->m_localMatrix.position.z;
        // (r x up) I^-1 (r x up), r x up = (-z, 0, x) in the level chassis.
        const double d = 1.0 / kTireMass + 1.0 / kChassisMass + z * z / ixx + x * x / izz;
        const double f = kChassisMass * kGravity / 4.0;
        const double sag = f * d * ((kSpring * h + kShock) * h + 1.0) / kSpring;
        EXPECT_NEAR(tire->m_suspensionPosition, sag, 2e-3);
        EXPECT_NEAR(tire->m_shape->m_contacts[0].penetration, 0.005f, 1e-3f);
    }
    // The tires' contacts left their joints, and the joints' rows with them.
    for (const dgJointLink* link = car.chassis->m_jointRing; link;) {
        if (link->m_joint->m_typeId == dgJointTypeContact) {
            const dgContact* contact = static_cast<const dgContact*>(link->m_joint);
            EXPECT_EQ(contact->m_maxRows, 3 * contact->m_pointCount);
        }
        link = (link->m_next == car.chassis->m_jointRing) ? nullptr : link->m_next;
    }
}

INSTANTIATE_TEST_SUITE_P(Grounds, CarResting,
                         ::testing::Values(CarCase{Ground::Flat, 0, 1.2f, 180, 0},
                                           CarCase{Ground::Flat, 1, 1.2f, 180, 0},
                                           CarCase{Ground::Rolling, 1, 1.2f, 180, 0},
                                           CarCase{Ground::S4, 1, 1.5f, 240, 0},
                                           CarCase{Ground::Game, 1, 1.5f, 240, 0}),
                         carCaseName);

class CarOnGround : public ::testing::TestWithParam<Ground> {};

TEST_P(CarOnGround, AcceleratesBrakesToAStopAndSteers) {
    Car car(GetParam(), 1.2f);
    car.step(60);
    controls().torque = -600.0f;
    car.step(180);
    const float speed = car.velocity(0);
    EXPECT_GT(speed, 3.0f);
    // The side speed read through the tires is the chassis's, negated.
    EXPECT_NEAR(dgVehicleTireGetNegValueB(car.tires[0]), car.velocity(0), 0.5f);
    EXPECT_NEAR(dgVehicleTireGetNegValueA(car.tires[0]), -car.velocity(2), 0.5f);

    // Steering left (about +y) turns the heading towards -z.
    controls().steer = 0.3f;
    car.step(60);
    float heading[16];
    dgBodyGetMatrix(car.chassis, heading);
    EXPECT_LT(heading[2], -0.05f);
    EXPECT_GT(car.speed(), 4.0f);

    controls() = Controls();
    controls().brake = true;
    const float x0 = car.matrix(12);
    const float z0 = car.matrix(14);
    car.step(300);
    EXPECT_LT(car.speed(), 0.05f);
    const float travelled = std::hypot(car.matrix(12) - x0, car.matrix(14) - z0);
    // Locked tires slide on three quarters of the weight at least.
    EXPECT_LT(travelled, speed * speed / (2.0f * 0.7f * kGravity) + 1.0f);
    EXPECT_TRUE(carIsFinite(car));
}

TEST_P(CarOnGround, TireMatricesStayOrthonormalDrivingBackwards) {
    Car car(GetParam(), 1.2f);
    controls().torque = 500.0f;
    for (int32_t i = 0; i < 1500; ++i) {
        car.step();
        for (dgVehicleTire* tire : car.tires) {
            float m[16];
            dgVehicleGetTireMatrix(car.vehicle, tire, m);
            ASSERT_LT(orthonormalError(m), 1e-4);
            ASSERT_GE(tire->m_spinAngle, 0.0f);
            ASSERT_LT(tire->m_spinAngle, 6.28318f);
        }
    }
    EXPECT_LT(car.velocity(0), -3.0f);
    EXPECT_LT(car.tires[2]->m_spinRate, 0.0f + 1e3f);
}

INSTANTIATE_TEST_SUITE_P(Grounds, CarOnGround, ::testing::Values(Ground::Flat, Ground::Rolling),
                         [](const ::testing::TestParamInfo<Ground>& info) { return groundName(info.param); });

// A recorded run: resting, driving, steering and braking, the chassis's and
// the tires' matrices after every step folded into one FNV-1a hash. Work
// that only makes the vehicle's sub-step or the tire contacts cheaper leaves
// every bit of it; a change meant to alter their arithmetic records the run
// afresh.
class CarRecordedRun : public ::testing::TestWithParam<CarCase> {};

TEST_P(CarRecordedRun, RepeatsItsMatricesToTheBit) {
    Car car(GetParam().ground, GetParam().height);
    dgWorldSetSimdMode(car.world, GetParam().simd);
    uint64_t hash = 14695981039346656037ull;
    auto fold = [&hash](const float* m) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m);
        for (size_t i = 0; i < 16 * sizeof(float); ++i) {
            hash = (hash ^ bytes[i]) * 1099511628211ull;
        }
    };
    const Controls phases[4] = {Controls(), Controls{-600.0f, false, 0.0f}, Controls{-600.0f, false, 0.3f},
                                Controls{0.0f, true, 0.0f}};
    for (const Controls& phase : phases) {
        controls() = phase;
        for (int32_t i = 0; i < 60; ++i) {
            car.step();
            float m[16];
            dgBodyGetMatrix(car.chassis, m);
            fold(m);
            for (dgVehicleTire* tire : car.tires) {
                dgVehicleGetTireMatrix(car.vehicle, tire, m);
                fold(m);
            }
        }
    }
    EXPECT_EQ(hash, GetParam().hash) << std::hex << hash;
}

INSTANTIATE_TEST_SUITE_P(Grounds, CarRecordedRun,
                         ::testing::Values(CarCase{Ground::Flat, 1, 1.2f, 0, 0x2b2c2712988dfe79ull},
                                           CarCase{Ground::Flat, 0, 1.2f, 0, 0xf0a301ae656fe9c2ull},
                                           CarCase{Ground::Rolling, 1, 1.2f, 0, 0x0a322d89f2339cbfull}),
                         carCaseName);

// Locked tires sliding along (B) or across (A) the rolling direction: the
// sliding coefficient is 0.75 less the slip scale, so the more the scale, the
// less the car slows.
void lockAndScale(dgConstraint* vehicle) {
    for (dgVehicleTire* tire = dgVehicleGetFirstTire(vehicle); tire; tire = dgVehicleGetNextTire(vehicle, tire)) {
        dgVehicleTireSetBrake(tire, dgVehicleTireCalculateMaxBrake(tire), 3000.0f);
        dgVehicleTireSetSlipScaleA(tire, controls().steer);
        dgVehicleTireSetSlipScaleB(tire, controls().steer);
    }
}

class CarSliding : public ::testing::TestWithParam<int32_t> {};

TEST_P(CarSliding, GripsLessTheLargerItsSlipScale) {
    const bool along = (GetParam() == 0);
    float last = std::numeric_limits<float>::infinity();
    for (float scale : {0.0f, 0.5f, 1.0f}) {
        Car car(Ground::Flat, 1.2f);
        dgVehicleSetTireCallback(car.vehicle, lockAndScale);
        // The slip scale rides in the steer control, which lockAndScale does
        // not steer with.
        controls().steer = scale;
        car.step(120);
        const float veloc[3] = {along ? 8.0f : 0.0f, 0.0f, along ? 0.0f : 8.0f};
        dgBodySetVelocity(car.chassis, veloc);
        car.step(1);
        const float before = car.speed();
        EXPECT_EQ(along ? dgVehicleTireTestState1(car.tires[0]) : dgVehicleTireTestState2(car.tires[0]), 1);
        car.step(30);
        const float slowed = before - car.speed();
        ASSERT_GT(slowed, 0.0f);
        EXPECT_LT(slowed, 0.95f * last) << "scale " << scale;
        last = slowed;
    }
}

INSTANTIATE_TEST_SUITE_P(Directions, CarSliding, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return info.param == 0 ? "Longitudinal" : "Lateral";
                         });

// Braked on a plane of slope angle a, the car holds while tan a stays below
// the static coefficient 1 (45 degrees) and slides down a steeper one.
class CarOnSlope : public ::testing::TestWithParam<float> {};

TEST_P(CarOnSlope, HoldsBrakedBelowFortyFiveDegreesAndSlidesAbove) {
    const float angle = GetParam() * 3.14159265f / 180.0f;
    Car car(Ground::Slope, 1.2f / std::cos(angle), angle);
    controls().brake = true;
    car.step(120);
    const float x0 = car.matrix(12);
    car.step(180);
    const float moved = car.matrix(12) - x0;
    EXPECT_TRUE(carIsFinite(car));
    if (std::tan(angle) < 0.95f) {
        EXPECT_LT(std::fabs(moved), 0.05f);
        EXPECT_LT(car.speed(), 0.02f);
    } else {
        EXPECT_LT(moved, -1.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(Degrees, CarOnSlope, ::testing::Values(10.0f, 25.0f, 40.0f, 50.0f, 60.0f));

// Settled on the game's sea floor (as CarResting leaves it), the car drives
// off over the triangles and stays on them.
TEST(CarOnGameTerrain, DrivesOverTheSeaFloor) {
    const std::vector<uint16_t>& map = seaFloor();
    if (map.empty()) {
        GTEST_SKIP() << "no generated height map";
    }
    Car car(Ground::Game, 1.5f);
    controls().brake = true;
    car.step(540);
    controls() = Controls();
    controls().torque = -600.0f;
    const float x0 = car.matrix(12);
    const float z0 = car.matrix(14);
    for (int32_t i = 0; i < 300; ++i) {
        car.step();
        ASSERT_TRUE(carIsFinite(car));
        const float above = car.matrix(13) - gameterrain::surfaceHeight(map, car.matrix(12), car.matrix(14));
        ASSERT_GT(above, 0.3f) << "step " << i;
        ASSERT_LT(above, 1.6f) << "step " << i;
    }
    EXPECT_GT(std::hypot(car.matrix(12) - x0, car.matrix(14) - z0), 10.0f);
}

TEST(CarMotion, NothingTurnsNonFiniteAfterADropOrATumble) {
    for (int32_t run = 0; run < 2; ++run) {
        Car car(run == 1 ? Ground::S4 : Ground::Flat, 30.0f);
        if (run == 1) {
            const float omega[3] = {4.0f, 2.0f, 7.0f};
            dgBodySetOmega(car.chassis, omega);
        }
        for (int32_t i = 0; i < 600; ++i) {
            car.step();
            ASSERT_TRUE(carIsFinite(car)) << "run " << run << " step " << i;
        }
    }
}

TEST(CarPose, TheChassisBoxFollowsItsTiresAndResetRestoresTheSteeredPose) {
    Car car(Ground::Flat, 1.2f);
    car.step(30);
    dgMatrix tire;
    for (float angle : {0.5f, -0.5f, 1.2f}) {
        dgVehicleSetTireSteerAngle(car.vehicle, car.tires[0], angle);
        dgVehicleGetTireMatrix(car.vehicle, car.tires[0], &tire.front.x);
        float boxMin[3], boxMax[3];
        dgVector low, high;
        car.tires[0]->m_shape->calcAABB(tire, low, high);
        dgBodyGetAABB(car.chassis, boxMin, boxMax);
        for (int32_t k = 0; k < 3; ++k) {
            EXPECT_LE(boxMin[k], low[k] + 1e-4f);
            EXPECT_GE(boxMax[k], high[k] - 1e-4f);
        }
    }
    dgVehicleReset(car.vehicle);
    dgMatrix chassis;
    dgVehicleGetTireMatrix(car.vehicle, car.tires[0], &tire.front.x);
    dgBodyGetMatrix(car.chassis, &chassis.front.x);
    const dgMatrix expected = car.tires[0]->m_localMatrix.multiply(chassis);
    for (int32_t i = 0; i < 4; ++i) {
        for (int32_t j = 0; j < 3; ++j) {
            EXPECT_NEAR(tire[i][j], expected[i][j], 1e-5f);
        }
    }
}

// The tires are children of the chassis' compound: a shape swapped in while
// the vehicle lives would free them under it (the world fuzzer found a tire
// reading a freed shape). Once the vehicle is gone the swap is the body's.
TEST(CarLifetime, TheChassisKeepsItsShapeAndDestroyingTheVehicleOrItsChassisLeavesNothingBehind) {
    for (int32_t way = 0; way < 2; ++way) {
        Car car(Ground::Flat, 1.2f);
        car.step(5);
        const dgCollision* const own = dgBodyGetCollision(car.chassis);
        dgCollision* box = dgCreateBox(car.world, 1.0f, 1.0f, 1.0f, nullptr);
        dgBodySetCollision(car.chassis, box);
        EXPECT_EQ(dgBodyGetCollision(car.chassis), own);
        car.step(15);
        EXPECT_TRUE(carIsFinite(car));
        if (way == 0) {
            dgDestroyJoint(car.world, car.vehicle);
            const dgCollision* shape = dgBodyGetCollision(car.chassis);
            EXPECT_EQ(shape->getFlags() & dgShapeFlagVehicle, 0u);
            EXPECT_EQ(static_cast<const dgCompoundCollision*>(shape)->getChildCount(), 1);
            dgBodySetCollision(car.chassis, box);
            EXPECT_EQ(dgBodyGetCollision(car.chassis), box);
        } else {
            dgDestroyBody(car.world, car.chassis);
        }
        dgReleaseCollision(car.world, box);
        car.step(20);
        EXPECT_TRUE(car.world->m_vehicleSet.isEmpty());
        EXPECT_EQ(car.world->m_vehiclePool.getInUse(), 0);
    }
}

}  // namespace

// The body functions of the public header on bodies of a world, through the
// public header; only the memory balance looks inside the world.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include "dgPhysics.h"
#include "WorldTestUtils.h"

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct World {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ~World() { dgWorldDestroy(world); }

    dgCollision* boxShape(float size) { return dgCreateBox(world, size, size, size, nullptr); }
    // A body of a box shape; the caller's shape reference is given back.
    dgBody* box(float size = 1.0f) {
        dgCollision* shape = boxShape(size);
        dgBody* body = dgCreateBody(world, shape);
        dgReleaseCollision(world, shape);
        return body;
    }
    // A movable box without damping.
    dgBody* movableBox(float mass) {
        dgBody* body = box();
        dgBodySetMassMatrix(body, mass, mass, mass, mass);
        const float none[3] = {0.0f, 0.0f, 0.0f};
        dgBodySetLinearDamping(body, 0.0f);
        dgBodySetAngularDamping(body, none);
        return body;
    }
};

// Asks the activation callback for the body's state: 1 awake, 0 frozen.
int32_t g_state = -1;
int32_t activationState(dgBody* body) {
    g_state = -1;
    dgBodySetActivationCallback(body, [](dgBody*, uint32_t state) { g_state = int32_t(state); });
    dgBodySetActivationCallback(body, nullptr);
    return g_state;
}

// ---- clamps ----

// One clamped setter with the value it is given and what its getter then
// answers. NaN expected: the call changes nothing.
struct ClampCase {
    const char* name;
    std::function<void(dgBody*, float)> set;
    std::function<float(const dgBody*)> get;
    float input;
    float expected;
};

void setAngularDamping(dgBody* body, float value) {
    const float v[3] = {value, value, value};
    dgBodySetAngularDamping(body, v);
}
float angularDampingY(const dgBody* body) {
    float v[3];
    dgBodyGetAngularDamping(body, v);
    EXPECT_EQ(v[0], v[1]);
    EXPECT_EQ(v[2], v[1]);
    return v[1];
}
float freezeSpeed(const dgBody* body) {
    float speed, omega;
    dgBodyGetFreezeThreshold(body, &speed, &omega);
    return speed;
}
float freezeOmega(const dgBody* body) {
    float speed, omega;
    dgBodyGetFreezeThreshold(body, &speed, &omega);
    return omega;
}
float queriedMass(const dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    return mass;
}
float queriedIxx(const dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    return ixx;
}

const auto kLinear = [](dgBody* b, float v) { dgBodySetLinearDamping(b, v); };
const auto kLinearGet = [](const dgBody* b) { return dgBodyGetLinearDamping(b); };
const auto kSpeed = [](dgBody* b, float v) { dgBodySetFreezeThreshold(b, v, 0.5f); };
const auto kOmega = [](dgBody* b, float v) { dgBodySetFreezeThreshold(b, 0.5f, v); };
const auto kMass = [](dgBody* b, float v) { dgBodySetMassMatrix(b, v, v, v, v); };
const auto kIxx = [](dgBody* b, float v) { dgBodySetMassMatrix(b, 10.0f, v, 10.0f, 10.0f); };

class PhysicsBodyClamp : public ::testing::TestWithParam<ClampCase> {};

TEST_P(PhysicsBodyClamp, SetterStoresTheClampedValue) {
    const ClampCase& c = GetParam();
    World w;
    dgBody* body = w.box();
    // Every setter takes 0.5 as it is: the value a refused call keeps.
    c.set(body, 0.5f);
    ASSERT_NEAR(c.get(body), 0.5f, 1e-6f);
    c.set(body, c.input);
    const float expected = std::isnan(c.expected) ? 0.5f : c.expected;
    EXPECT_NEAR(c.get(body), expected, 1e-6f * std::fmax(1.0f, std::fabs(expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Setters, PhysicsBodyClamp,
    ::testing::Values(ClampCase{"LinearDampingBelow", kLinear, kLinearGet, -0.5f, 0.0f},
                      ClampCase{"LinearDampingIn", kLinear, kLinearGet, 0.25f, 0.25f},
                      ClampCase{"LinearDampingAbove", kLinear, kLinearGet, 2.0f, 1.0f},
                      ClampCase{"LinearDampingNan", kLinear, kLinearGet, kNan, kNan},
                      ClampCase{"LinearDampingInfinite", kLinear, kLinearGet, kInf, kNan},
                      ClampCase{"AngularDampingBelow", setAngularDamping, angularDampingY, -3.0f, 0.0f},
                      ClampCase{"AngularDampingIn", setAngularDamping, angularDampingY, 0.05f, 0.05f},
                      ClampCase{"AngularDampingAbove", setAngularDamping, angularDampingY, 1.5f, 1.0f},
                      ClampCase{"AngularDampingNan", setAngularDamping, angularDampingY, kNan, kNan},
                      // The speed bound is a tenth, at least 0.01: asked back x 10.
                      ClampCase{"FreezeSpeedBelow", kSpeed, freezeSpeed, -1.0f, 0.1f},
                      ClampCase{"FreezeSpeedFloored", kSpeed, freezeSpeed, 0.05f, 0.1f},
                      ClampCase{"FreezeSpeedIn", kSpeed, freezeSpeed, 2.0f, 2.0f},
                      ClampCase{"FreezeSpeedNan", kSpeed, freezeSpeed, kNan, kNan},
                      ClampCase{"FreezeOmegaBelow", kOmega, freezeOmega, 0.0f, 0.1f},
                      ClampCase{"FreezeOmegaIn", kOmega, freezeOmega, 7.0f, 7.0f},
                      ClampCase{"FreezeOmegaInfinite", kOmega, freezeOmega, -kInf, kNan},
                      // A mass below 0.001 or from 1e15 up is immovable: queried as 0.
                      ClampCase{"MassBelow", kMass, queriedMass, 0.0005f, 0.0f},
                      ClampCase{"MassNegative", kMass, queriedMass, -10.0f, 10.0f},
                      ClampCase{"MassIn", kMass, queriedMass, 10.0f, 10.0f},
                      ClampCase{"MassAbove", kMass, queriedMass, 1e16f, 0.0f},
                      ClampCase{"MassNan", kMass, queriedMass, kNan, kNan},

                      // The query reports the inertia as asked, unclamped.
                      ClampCase{"InertiaBelow", kIxx, queriedIxx, -0.05f, 0.05f},
                      ClampCase{"InertiaAbove", kIxx, queriedIxx, 2000.0f, 2000.0f},
                      ClampCase{"InertiaNan", kIxx, queriedIxx, kNan, kNan}),
    [](const ::testing::TestParamInfo<ClampCase>& info) { return std::string(info.param.name); });

dgVector g_torque(0.0f, 0.0f, 0.0f, 0.0f);

// The clamped inertia is the one that acts: a unit torque about each axis
// of a 10 kg body given (0.05, 5, 2000) turns it as (0.1, 5, 1000) would.
TEST(PhysicsBodyMass, TheClampedInertiaActs) {
    World w;
    dgBody* body = w.movableBox(10.0f);
    dgBodySetMassMatrix(body, 10.0f, 0.05f, 5.0f, 2000.0f);
    dgBodySetForceAndTorqueCallback(body, [](dgBody* b) {
        const float torque[3] = {1.0f, 1.0f, 1.0f};
        dgBodySetTorque(b, torque);
    });
    dgWorldUpdate(w.world, 1.0f / 60.0f);
    const float dt = dgWorldGetTimeStep(w.world);
    float omega[3];
    dgBodyGetOmega(body, omega);
    const float inertia[3] = {0.1f, 5.0f, 1000.0f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(omega[i], dt / inertia[i], 1e-4f * dt / inertia[i]) << "axis " << i;
    }
    // The inverse query answers for the request; a tiny mass is immovable.
    float inverse[4];
    dgBodyGetInverseMassMatrix(body, &inverse[0], &inverse[1], &inverse[2], &inverse[3]);
    EXPECT_NEAR(inverse[0], 0.1f, 1e-7f);
    EXPECT_NEAR(inverse[1], 1.0f / 0.05f, 1e-3f);
    dgBodySetMassMatrix(body, 0.0005f, 1.0f, 1.0f, 1.0f);
    dgBodyGetInverseMassMatrix(body, &inverse[0], &inverse[1], &inverse[2], &inverse[3]);
    EXPECT_EQ(inverse[0], 1e-15f);
}

// ---- round trips ----

TEST(PhysicsBodyRoundTrip, GettersGiveBackWhatWasSet) {
    World w;
    dgBody* body = w.movableBox(3.0f);
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> value(-100.0f, 100.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto random3 = [&](float* v) {
        for (int i = 0; i < 3; ++i) {
            v[i] = value(rng);
        }
    };
    for (int n = 0; n < 500; ++n) {
        float velocity[3], omega[3], centre[3], damping[3];
        random3(velocity);
        random3(omega);
        random3(centre);
        for (float& d : damping) {
            d = unit(rng);
        }
        const float linear = unit(rng);
        const uint32_t group = uint32_t(rng());
        const int32_t bits = int32_t(rng() & 7u);
        dgBodySetVelocity(body, velocity);
        dgBodySetOmega(body, omega);
        dgBodySetCentreOfMass(body, centre);
        dgBodySetAngularDamping(body, damping);
        dgBodySetLinearDamping(body, linear);
        dgBodySetMaterialGroupId(body, group);
        dgBodySetUserData(body, &velocity[n % 3]);
        dgBodySetAutoFreeze(body, bits & 1);
        dgBodySetContinuousCollisionMode(body, bits & 2);
        dgBodySetDirectLinkCollisionMode(body, bits & 4);

        const auto expect3 = [](void (*get)(const dgBody*, float*), const dgBody* b, const float* v,
                                float tol) {
            float out[3];
            get(b, out);
            for (int i = 0; i < 3; ++i) {
                ASSERT_NEAR(out[i], v[i], tol);
            }
        };
        expect3(dgBodyGetVelocity, body, velocity, 0.0f);
        expect3(dgBodyGetOmega, body, omega, 0.0f);
        expect3(dgBodyGetCentreOfMass, body, centre, 0.0f);
        expect3(dgBodyGetAngularDamping, body, damping, 1e-6f);
        ASSERT_NEAR(dgBodyGetLinearDamping(body), linear, 1e-6f);
        ASSERT_EQ(dgBodyGetMaterialGroupId(body), group);
        ASSERT_EQ(dgBodyGetUserData(body), &velocity[n % 3]);
        ASSERT_EQ(dgBodyGetAutoFreeze(body), bits & 1 ? 1 : 0);
        ASSERT_EQ(dgBodyGetContinuousCollisionMode(body), bits & 2 ? 1 : 0);
        ASSERT_EQ(dgBodyGetDirectLinkCollisionMode(body), bits & 4 ? 1 : 0);
    }
    EXPECT_EQ(dgBodyGetWorld(body), w.world);
    const dgBodyForceAndTorqueCallback callback = [](dgBody*) {};
    dgBodySetForceAndTorqueCallback(body, callback);
    EXPECT_EQ(dgBodyGetForceAndTorqueCallback(body), callback);
}

// ---- the matrix ----

using Matrix = std::array<float, 16>;

Matrix getMatrix(const dgBody* body) {
    Matrix m;
    dgBodyGetMatrix(body, m.data());
    return m;
}

float dot3(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

TEST(PhysicsBodyMatrix, TheIdentityStaysTheIdentity) {
    World w;
    dgBody* body = w.box();
    const Matrix identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    dgBodySetMatrix(body, identity.data());
    EXPECT_EQ(getMatrix(body), identity);
}

// The two setters that take a matrix from the caller, under one rule.
struct MatrixSetter {
    const char* name;
    void (*set)(dgBody*, const float*);
};

const MatrixSetter kMatrixSetters[] = {{"SetMatrix", dgBodySetMatrix},
                                       {"SetMatrixRecursive", dgBodySetMatrixRecursive}};

std::string setterName(const ::testing::TestParamInfo<MatrixSetter>& info) {
    return info.param.name;
}

class PhysicsBodyMatrixRule : public ::testing::TestWithParam<MatrixSetter> {};

// Any scaled and skewed matrix is stored orthonormal and right-handed, with
// row 0's direction, up in the plane of rows 0 and 1 on row 1's side, right
// in row 2, and the position as given. Row 2 is not read.
TEST_P(PhysicsBodyMatrixRule, ScaledSkewedMatricesAreStoredOrthonormal) {
    World w;
    dgBody* body = w.box();
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> value(-10.0f, 10.0f);
    int checked = 0;
    for (int n = 0; n < 2000; ++n) {
        Matrix in;
        for (float& v : in) {
            v = value(rng);
        }
        const float len0 = std::sqrt(dot3(&in[0], &in[0]));
        const float len1 = std::sqrt(dot3(&in[4], &in[4]));
        // Nearly parallel rows lose the up direction to rounding.
        if (len0 < 0.1f || len1 < 0.1f || std::fabs(dot3(&in[0], &in[4])) > 0.99f * len0 * len1) {
            continue;
        }
        ++checked;
        GetParam().set(body, in.data());
        const Matrix m = getMatrix(body);
        const float* front = &m[0];
        const float* up = &m[4];
        const float* right = &m[8];
        for (int i = 0; i < 3; ++i) {
            ASSERT_NEAR(dot3(&m[4 * i], &m[4 * i]), 1.0f, 1e-5f);
            ASSERT_EQ(m[4 * i + 3], 0.0f);
        }
        ASSERT_NEAR(dot3(front, up), 0.0f, 1e-5f);
        ASSERT_NEAR(dot3(front, right), 0.0f, 1e-5f);
        ASSERT_NEAR(dot3(up, right), 0.0f, 1e-5f);
        ASSERT_NEAR(dot3(front, &in[0]), len0, 1e-4f * len0);
        ASSERT_GT(dot3(up, &in[4]), 0.0f);
        ASSERT_NEAR(dot3(right, &in[4]), 0.0f, 1e-4f * len1);
        // right = front x up.
        ASSERT_NEAR(front[1] * up[2] - front[2] * up[1], right[0], 1e-5f);
        ASSERT_NEAR(front[2] * up[0] - front[0] * up[2], right[1], 1e-5f);
        ASSERT_NEAR(front[0] * up[1] - front[1] * up[0], right[2], 1e-5f);
        ASSERT_EQ(m[12], in[12]);
        ASSERT_EQ(m[13], in[13]);
        ASSERT_EQ(m[14], in[14]);
        ASSERT_EQ(m[15], 1.0f);
    }
    EXPECT_GT(checked, 1000);
}

INSTANTIATE_TEST_SUITE_P(Setters, PhysicsBodyMatrixRule, ::testing::ValuesIn(kMatrixSetters), setterName);

struct RefusedMatrix {
    const char* name;
    Matrix matrix;
};

class PhysicsBodyMatrixRefusal : public ::testing::TestWithParam<std::tuple<MatrixSetter, RefusedMatrix>> {};

TEST_P(PhysicsBodyMatrixRefusal, LeavesTheBodyWhereItWas) {
    const MatrixSetter& setter = std::get<0>(GetParam());
    World w;
    dgBody* body = w.box();
    const Matrix start = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    setter.set(body, start.data());
    ASSERT_EQ(getMatrix(body), start);
    setter.set(body, std::get<1>(GetParam()).matrix.data());
    EXPECT_EQ(getMatrix(body), start);
}

const RefusedMatrix kRefusedMatrices[] = {
    {"ZeroFront", {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"ZeroUp", {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"ParallelUp", {2, 1, 0, 0, 4, 2, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"OppositeUp", {0, 0, 3, 0, 0, 0, -1, 0, 1, 0, 0, 0, 5, 5, 5, 1}},
    {"TinyFront", {1e-7f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"NanFront", {kNan, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"InfiniteUp", {1, 0, 0, 0, 0, kInf, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"HugeFront", {3e30f, 3e30f, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 5, 5, 1}},
    {"NanPosition", {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, kNan, 5, 1}},
};

INSTANTIATE_TEST_SUITE_P(BadRows, PhysicsBodyMatrixRefusal,
                         ::testing::Combine(::testing::ValuesIn(kMatrixSetters),
                                            ::testing::ValuesIn(kRefusedMatrices)),
                         [](const ::testing::TestParamInfo<PhysicsBodyMatrixRefusal::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) + std::get<1>(info.param).name;
                         });

// Kept as designed: placing a body neither wakes it nor stops it.
TEST(PhysicsBodyMatrix, DoesNotWakeAndKeepsTheVelocities) {
    World w;
    dgBody* body = w.movableBox(1.0f);
    const float velocity[3] = {1.0f, -2.0f, 3.0f};
    const float omega[3] = {0.5f, 0.25f, -1.0f};
    dgBodySetVelocity(body, velocity);
    dgBodySetOmega(body, omega);
    dgWorldFreezeBody(w.world, body);
    ASSERT_EQ(activationState(body), 0);
    const Matrix moved = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 7, 8, 9, 1};
    dgBodySetMatrix(body, moved.data());
    EXPECT_EQ(getMatrix(body), moved);
    EXPECT_EQ(activationState(body), 0);
    float out[3];
    dgBodyGetVelocity(body, out);
    EXPECT_EQ(out[1], velocity[1]);
    dgBodyGetOmega(body, out);
    EXPECT_EQ(out[2], omega[2]);
    float boxMin[3], boxMax[3];
    dgBodyGetAABB(body, boxMin, boxMax);
    EXPECT_NEAR(boxMin[0], 6.5f, 1e-5f);
    EXPECT_NEAR(boxMax[2], 9.5f, 1e-5f);
}

// ---- callbacks, impulses, damping and forces over a step ----

int32_t g_calls = 0;

TEST(PhysicsBodyActivation, CallbackIsCalledAtOnceWithTheState) {
    World w;
    dgBody* body = w.box();
    g_calls = 0;
    g_state = -1;
    dgBodySetActivationCallback(body, [](dgBody*, uint32_t state) {
        ++g_calls;
        g_state = int32_t(state);
    });
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_state, 1);
    dgWorldFreezeBody(w.world, body);
    EXPECT_EQ(g_calls, 2);
    EXPECT_EQ(g_state, 0);
    EXPECT_EQ(activationState(body), 0);
}

TEST(PhysicsBodyImpulse, WakesAMovableBodyAndLeavesAnImmovableOneAlone) {
    World w;
    dgBody* fixed = w.box();
    dgBody* moving = w.movableBox(2.0f);
    dgWorldFreezeBody(w.world, fixed);
    dgWorldFreezeBody(w.world, moving);
    const float up[3] = {0.0f, 1.0f, 0.0f};
    const float centre[3] = {0.0f, 0.0f, 0.0f};
    dgBodyAddImpulse(fixed, up, centre);
    dgBodyAddImpulse(moving, up, centre);
    EXPECT_EQ(activationState(fixed), 0);
    EXPECT_EQ(activationState(moving), 1);
    float v[3], omega[3];
    dgBodyGetVelocity(fixed, v);
    EXPECT_EQ(v[1], 0.0f);
    dgBodyGetVelocity(moving, v);
    dgBodyGetOmega(moving, omega);
    EXPECT_NEAR(v[1], 1.0f, 1e-6f);
    EXPECT_EQ(omega[0], 0.0f);
    const float nan3[3] = {kNan, 0.0f, 0.0f};
    dgBodyAddImpulse(moving, nan3, centre);
    dgBodyGetVelocity(moving, v);
    EXPECT_NEAR(v[1], 1.0f, 1e-6f);
}

// Kept as designed: damping takes coefficient x 0.02 of the speed per step,
// and a force set outside the force callback is cleared before it acts.
TEST(PhysicsBodyStep, DampingPerStepAndForcesOutsideTheCallbackAreLost) {
    World w;
    dgBody* body = w.movableBox(1.0f);
    dgBodySetAutoFreeze(body, 0);
    const float velocity[3] = {10.0f, 0.0f, 0.0f};
    dgBodySetVelocity(body, velocity);
    dgBodySetLinearDamping(body, 1.0f);
    const float push[3] = {0.0f, 1000.0f, 0.0f};
    dgBodySetForce(body, push);
    dgWorldUpdate(w.world, 1.0f / 60.0f);
    float v[3];
    dgBodyGetVelocity(body, v);
    EXPECT_NEAR(v[0], 9.8f, 1e-5f);
    EXPECT_EQ(v[1], 0.0f);
}

// ---- bodies and worlds ----

int32_t g_destructions = 0;

TEST(PhysicsBodyWorld, CreationNeedsAShapeAndDestructionTheOwnWorld) {
    World a;
    World b;
    dgCollision* shape = a.boxShape(1.0f);
    EXPECT_EQ(dgCreateBody(a.world, nullptr), nullptr);
    dgBody* body = dgCreateBody(a.world, shape);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(dgBodyGetCollision(body), shape);
    dgReleaseCollision(a.world, shape);
    g_destructions = 0;
    dgBodySetDestructorCallback(body, [](dgBody*) { ++g_destructions; });
    dgDestroyBody(b.world, body);
    EXPECT_EQ(g_destructions, 0);
    EXPECT_EQ(dgBodyGetWorld(body), a.world);
    dgDestroyBody(a.world, body);
    EXPECT_EQ(g_destructions, 1);
}

// A body born outside the world box reaches no callback before its creation
// returns: an out-of-bounds callback that destroys what it is given would
// otherwise hand the caller a destroyed body. It is frozen there, and a
// body that later leaves the box is reported as before.
TEST(PhysicsBodyWorld, ABodyBornOutsideTheWorldBoxIsFrozenWithoutACallback) {
    World w;
    const float low[3] = {10.0f, -10.0f, 10.0f};
    const float high[3] = {50.0f, 10.0f, 50.0f};
    dgWorldSetSize(w.world, low, high);
    static dgWorld* s_world;
    s_world = w.world;
    g_destructions = 0;
    g_calls = 0;
    dgWorldSetOutOfBoundsCallback(w.world, [](dgBody* body) {
        ++g_calls;
        dgDestroyBody(s_world, body);
    });
    dgCollision* shape = w.boxShape(1.0f);
    dgBody* body = dgCreateBody(w.world, shape);
    dgReleaseCollision(w.world, shape);
    ASSERT_NE(body, nullptr);
    dgBodySetDestructorCallback(body, [](dgBody*) { ++g_destructions; });
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(dgBodyGetWorld(body), w.world);
    EXPECT_EQ(activationState(body), 0);

    const float inside[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 20, 0, 20, 1};
    dgBodySetMatrix(body, inside);
    dgWorldUnfreezeBody(w.world, body);
    const float outside[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    dgBodySetMatrix(body, outside);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_destructions, 1);
}

// ---- the last callbacks of a body ----

// Every way a body's destruction comes about.
enum class Ending { Destroy, FromItsForceCallback, DestroyAll, WorldDestroy };

struct EndingCase {
    const char* name;
    Ending ending;
};

// The shape the dying body should hold in each callback, and how many of
// its callbacks found it whole.
struct Dying {
    dgCollision* held = nullptr;
    dgCollision* swap = nullptr;
    int32_t destructorsWhole = 0;
    int32_t activationsWhole = 0;
};
Dying g_dying;

// Reads the body's shape and moves the body, which recomputes its box from
// the shape; true when the shape was the one expected.
bool usesItsShape(dgBody* body) {
    dgCollision* shape = dgBodyGetCollision(body);
    if (shape != g_dying.held) {
        return false;
    }
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    matrix[13] += 1.0f;
    dgBodySetMatrix(body, matrix);
    float boxMin[3], boxMax[3];
    dgBodyGetAABB(body, boxMin, boxMax);
    return boxMax[1] - boxMin[1] > 0.5f;
}

class PhysicsBodyEnding : public ::testing::TestWithParam<EndingCase> {};

// The destructor callback, and the activation callback that follows it for
// an awake body, both find the body whole: its shape is still there to read
// and to move with. A shape the destructor callback swaps in is the one the
// activation callback sees, and it goes back with the body; so does every
// block, also when the last callback re-files the world.
TEST_P(PhysicsBodyEnding, LastCallbacksFindTheBodyWhole) {
    const Ending ending = GetParam().ending;
    expectEveryBlockBack([ending](dgWorld* world) {
        g_dying = Dying();
        g_dying.held = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
        g_dying.swap = dgCreateSphere(world, 0.7f, 0.7f, 0.7f, nullptr);
        dgBody* body = dgCreateBody(world, g_dying.held);
        dgBodySetMassMatrix(body, 1.0f, 1.0f, 1.0f, 1.0f);
        dgBodySetAutoFreeze(body, 0);
        dgBodySetDestructorCallback(body, [](dgBody* self) {
            g_dying.destructorsWhole += usesItsShape(self) ? 1 : 0;
            dgBodySetCollision(self, g_dying.swap);
            g_dying.held = g_dying.swap;
        });
        dgBodySetActivationCallback(body, [](dgBody* self, uint32_t state) {
            if (state == 0) {
                g_dying.activationsWhole += usesItsShape(self) ? 1 : 0;
                // Re-filing the world (where it is not refused) leaves the
                // body, already out of the broad phase, out of it.
                const float low[3] = {-80.0f, -80.0f, -80.0f};
                const float high[3] = {80.0f, 80.0f, 80.0f};
                dgWorldSetSize(dgBodyGetWorld(self), low, high);
            }
        });
        dgReleaseCollision(world, g_dying.held);
        // The swap stays the test's until the world is gone.
        dgCollision* const swap = g_dying.swap;
        switch (ending) {
            case Ending::Destroy:
                dgDestroyBody(world, body);
                break;
            case Ending::FromItsForceCallback:
                dgBodySetForceAndTorqueCallback(
                    body, [](dgBody* self) { dgDestroyBody(dgBodyGetWorld(self), self); });
                dgWorldUpdate(world, 1.0f / 60.0f);
                break;
            case Ending::DestroyAll:
                dgWorldDestroyAllBodies(world);
                break;
            case Ending::WorldDestroy:
                break;
        }
        dgWorldDestroy(world);
        dgReleaseCollision(nullptr, swap);
        EXPECT_EQ(g_dying.destructorsWhole, 1);
        EXPECT_EQ(g_dying.activationsWhole, 1);
    });
}

INSTANTIATE_TEST_SUITE_P(PhysicsBodyWorld, PhysicsBodyEnding,
                         ::testing::Values(EndingCase{"destroy", Ending::Destroy},
                                           EndingCase{"fromItsForceCallback", Ending::FromItsForceCallback},
                                           EndingCase{"destroyAll", Ending::DestroyAll},
                                           EndingCase{"worldDestroy", Ending::WorldDestroy}),
                         [](const ::testing::TestParamInfo<EndingCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- shapes swapped by a callback ----

// Where a callback swaps the body's shape: inside a face walk of a compound
// or a modifier (which lend the body their inner shapes meanwhile), inside a
// walk over the world's bodies, from the compound callback of the contact
// pass (which lends the body each child in turn), from another body's force
// callback, and from the process callback of a contact with the very shape
// being swapped out (a one-quad user mesh under a falling box).
enum class SwapFrom {
    CompoundFaces,
    ModifierFaces,
    WorldWalk,
    CompoundContact,
    ForceCallback,
    ProcessCallback
};

struct SwapCase {
    const char* name;
    SwapFrom from;
};

struct Swapping {
    dgBody* body = nullptr;
    dgCollision* replacement = nullptr;
    int32_t swaps = 0;
    bool sawReplacement = false;
    // The user mesh swapped out: gone, and whether already at the swap.
    bool meshDestroyed = false;
    bool meshDestroyedAtSwap = false;
};
Swapping g_swapping;

void swapOnce(dgBody* body) {
    if (g_swapping.swaps++ == 0) {
        dgBodySetCollision(body, g_swapping.replacement);
        g_swapping.sawReplacement = dgBodyGetCollision(body) == g_swapping.replacement;
        g_swapping.meshDestroyedAtSwap = g_swapping.meshDestroyed;
    }
}

// A user mesh whose destruction is recorded; with `quad`, one upward square
// of side 10 at y = 0.
dgCollision* recordedMesh(dgWorld* world, bool quad) {
    g_swapping.meshDestroyed = false;
    const float low[3] = {-5.0f, -0.1f, -5.0f};
    const float high[3] = {5.0f, 0.1f, 5.0f};
    return dgCreateUserMeshCollision(
        world, low, high, nullptr,
        quad ? [](dgPolygonSoupCollideDesc* desc) {
            static float corners[12] = {-5, 0, -5, -5, 0, 5, 5, 0, 5, 5, 0, -5};
            const int32_t indices[4] = {0, 1, 2, 3};
            desc->m_vertexArray = corners;
            desc->m_vertexStrideInBytes = 12;
            desc->m_faceCount = 1;
            desc->m_indexCount = 4;
            desc->m_faceAttributes[0] = 0;
            desc->m_faceIndexCounts[0] = 4;
            std::memcpy(desc->m_faceIndices, indices, sizeof(indices));
        }
             : [](dgPolygonSoupCollideDesc*) {},
        nullptr, [](void*) { g_swapping.meshDestroyed = true; });
}

class PhysicsBodyWalkSwap : public ::testing::TestWithParam<SwapCase> {};

// The swap holds once the walk or the step is over: the body has the new
// shape, every face of the old one was still handed out, the old shape goes
// after the walk or sub-step that may still use it (at once outside one),
// and every reference the lend took goes back, as all memory does with the
// world.
TEST_P(PhysicsBodyWalkSwap, TheNewShapeHoldsOnceTheWalkIsOver) {
    const SwapFrom from = GetParam().from;
    expectEveryBlockBack([from](dgWorld* world) {
        g_swapping = Swapping();
        dgCollision* parts[2] = {dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr),
                                 dgCreateCylinder(world, 0.5f, 1.0f, nullptr)};
        const bool mesh = (from == SwapFrom::WorldWalk) || (from == SwapFrom::ForceCallback) ||
                          (from == SwapFrom::ProcessCallback);
        dgCollision* shape = mesh ? recordedMesh(world, from == SwapFrom::ProcessCallback)
                             : (from == SwapFrom::ModifierFaces) ? dgCreateConvexModifier(world, parts[0])
                                                                 : dgCreateCompoundCollision(world, 2, parts);
        g_swapping.replacement = dgCreateSphere(world, 0.5f, 0.5f, 0.5f, nullptr);
        g_swapping.body = dgCreateBody(world, shape);
        dgBodySetMassMatrix(g_swapping.body, 1.0f, 1.0f, 1.0f, 1.0f);
        dgReleaseCollision(world, shape);
        dgReleaseCollision(world, parts[0]);
        dgReleaseCollision(world, parts[1]);
        int32_t faces = 0;
        static int32_t* s_faces;
        s_faces = &faces;
        switch (from) {
            case SwapFrom::CompoundFaces:
            case SwapFrom::ModifierFaces:
                dgBodyForEachPolygonDo(g_swapping.body,
                                       [](const dgBody* body, int32_t, const float*, int32_t) {
                                           ++*s_faces;
                                           swapOnce(const_cast<dgBody*>(body));
                                       });
                EXPECT_GE(faces, 6);
                break;
            case SwapFrom::WorldWalk:
                dgWorldForEachBodyDo(world, swapOnce);
                break;
            case SwapFrom::CompoundContact: {
                dgBody* floor = dgCreateBody(world, g_swapping.replacement);
                const float below[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.7f, 0, 1};
                dgBodySetMatrix(floor, below);
                const uint32_t group = dgMaterialGetDefaultGroupId(world);
                dgMaterialSetCompoundCallback(world, group, group,
                                              [](dgMaterialPair*, dgBody* a, dgBody* b) -> int32_t {
                                                  swapOnce(a == g_swapping.body ? a : b);
                                                  return 1;
                                              });
                dgWorldUpdate(world, 1.0f / 60.0f);
                break;
            }
            case SwapFrom::ForceCallback:
            case SwapFrom::ProcessCallback: {
                dgCollision* box = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
                dgBody* other = dgCreateBody(world, box);
                dgReleaseCollision(world, box);
                dgBodySetMassMatrix(other, 1.0f, 1.0f, 1.0f, 1.0f);
                const float place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.45f, 0, 1};
                dgBodySetMatrix(other, place);
                const float down[3] = {0.0f, -2.0f, 0.0f};
                dgBodySetVelocity(other, down);
                if (from == SwapFrom::ForceCallback) {
                    dgBodySetForceAndTorqueCallback(other, [](dgBody*) { swapOnce(g_swapping.body); });
                } else {
                    const uint32_t group = dgMaterialGetDefaultGroupId(world);
                    dgMaterialSetCollisionCallback(
                        world, group, group, nullptr, nullptr,
                        [](dgMaterialPair*, dgContact*) -> int32_t {
                            swapOnce(g_swapping.body);
                            return 1;
                        },
                        nullptr);
                }
                for (int32_t i = 0; i < 10; ++i) {
                    dgWorldUpdate(world, 1.0f / 60.0f);
                }
                float matrix[16];
                dgBodyGetMatrix(other, matrix);
                EXPECT_TRUE(std::isfinite(matrix[13]));
                break;
            }
        }
        EXPECT_GT(g_swapping.swaps, 0);
        EXPECT_TRUE(g_swapping.sawReplacement);
        EXPECT_EQ(dgBodyGetCollision(g_swapping.body), g_swapping.replacement);
        if (mesh) {
            EXPECT_FALSE(g_swapping.meshDestroyedAtSwap);
            EXPECT_TRUE(g_swapping.meshDestroyed);
        }
        float boxMin[3], boxMax[3];
        dgBodyGetAABB(g_swapping.body, boxMin, boxMax);
        EXPECT_NEAR(boxMax[0] - boxMin[0], 1.0f, 1e-5f);
        // Outside any walk or update a shape swapped out goes at once.
        dgCollision* again = recordedMesh(world, false);
        dgBodySetCollision(g_swapping.body, again);
        dgReleaseCollision(world, again);
        dgBodySetCollision(g_swapping.body, g_swapping.replacement);
        EXPECT_TRUE(g_swapping.meshDestroyed);
        dgReleaseCollision(world, g_swapping.replacement);
        dgWorldDestroy(world);
    });
}

INSTANTIATE_TEST_SUITE_P(PhysicsBodyWorld, PhysicsBodyWalkSwap,
                         ::testing::Values(SwapCase{"compoundFaces", SwapFrom::CompoundFaces},
                                           SwapCase{"modifierFaces", SwapFrom::ModifierFaces},
                                           SwapCase{"worldWalk", SwapFrom::WorldWalk},
                                           SwapCase{"compoundContact", SwapFrom::CompoundContact},
                                           SwapCase{"forceCallback", SwapFrom::ForceCallback},
                                           SwapCase{"processCallback", SwapFrom::ProcessCallback}),
                         [](const ::testing::TestParamInfo<SwapCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

// Mass matrix, shape replacement, integration and impulses of a body, against
// references computed in double from the body's axes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <random>
#include <string>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionBox.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

using namespace shapetest;

namespace {

const dgVector kZero(0.0f, 0.0f, 0.0f, 0.0f);

// A cleared body holding (not referencing) a unit box at pose.
struct BoxBody {
    explicit BoxBody(const dgMatrix& pose = dgGetIdentityMatrix())
        : shape(new dgCollisionBox(0, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix())),
          body(dgBody::createCleared(storage)) {
        body->m_collision = shape;
        dgBodySetMatrixInternal(body, pose);
    }
    ~BoxBody() { shape->release(); }
    alignas(dgBody) unsigned char storage[sizeof(dgBody)];
    dgCollisionBox* shape;
    dgBody* body;
};

// Mass and principal inertia as given (the clamps are the flat
// interface's, tested there); 1e15 and more is immovable.
void setMass(dgBody* body, float mass, float ixx, float iyy, float izz) {
    dgBodyStoreMassMatrix(body, mass, ixx, iyy, izz, ixx, iyy, izz);
}

// Sum over the body axes of axis * scale_a * (axis . v), in double.
D3 throughAxes(const dgBody* body, const double scale[3], const D3& v) {
    D3 out{0.0, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        const D3 axis = toD3(body->m_matrix[a]);
        out = out + axis * (scale[a] * dot(axis, v));
    }
    return out;
}

void expectNear3(const D3& a, const D3& b, double tol) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

// A new mass matrix takes the body out of rest; with bit 3 it keeps the
// angular momentum, without it the angular velocity.
TEST(BodyMass, Bit3KeepsTheAngularMomentumAcrossAMassChange) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> inertia(0.5f, 20.0f), spin(-5.0f, 5.0f);
    for (int n = 0; n < 1000; ++n) {
        BoxBody t(randomPose(rng, 5.0f));
        const bool keep = (n & 1) != 0;
        t.body->m_flags = keep ? dgBodyFlagKeepAngularMomentum : 0u;
        const double i0[3] = {inertia(rng), inertia(rng), inertia(rng)};
        const double i1[3] = {inertia(rng), inertia(rng), inertia(rng)};
        setMass(t.body, 2.0f, float(i0[0]), float(i0[1]), float(i0[2]));
        t.body->m_omega = dgVector(spin(rng), spin(rng), spin(rng), 0.0f);
        const dgVector omega0 = t.body->m_omega;
        const D3 momentum0 = throughAxes(t.body, i0, toD3(omega0));
        setMass(t.body, 2.0f, float(i1[0]), float(i1[1]), float(i1[2]));
        ASSERT_EQ(t.body->m_flags & dgBodyFlagEquilibrium, 0u);
        if (keep) {
            const D3 momentum1 = throughAxes(t.body, i1, toD3(t.body->m_omega));
            expectNear3(momentum1, momentum0, 1e-4 * (1.0 + length(momentum0)));
        } else {
            ASSERT_EQ(std::memcmp(&t.body->m_omega, &omega0, sizeof(dgVector)), 0);
        }
    }
}

TEST(BodyInertia, WorldInverseInertiaInvertsTheInertiaAlongTheBodyAxes) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> inertia(0.2f, 5.0f);
    for (int n = 0; n < 500; ++n) {
        BoxBody t(randomPose(rng, 5.0f));
        const double i[3] = {inertia(rng), inertia(rng), inertia(rng)};
        setMass(t.body, 1.0f, float(i[0]), float(i[1]), float(i[2]));
        dgMatrix w;
        dgBodyGetWorldInverseInertia(t.body, w);
        for (int c = 0; c < 3; ++c) {
            D3 unit{0.0, 0.0, 0.0};
            unit[c] = 1.0;
            // W applied to the world inertia's column c is unit vector c.
            const D3 column = throughAxes(t.body, i, unit);
            D3 image{0.0, 0.0, 0.0};
            for (int r = 0; r < 3; ++r) {
                image = image + toD3(w[r]) * column[r];
                ASSERT_NEAR(w[c][r], w[r][c], 1e-6f);
            }
            expectNear3(image, unit, 1e-5);
        }
    }
}

TEST(BodyImpulse, ChangesThePointVelocityByTheRequest) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> mass(0.1f, 100.0f), ratio(0.2f, 5.0f), u(-3.0f, 3.0f);
    for (int n = 0; n < 2000; ++n) {
        BoxBody t(randomPose(rng, 5.0f));
        const float m = mass(rng);
        setMass(t.body, m, m * ratio(rng), m * ratio(rng), m * ratio(rng));
        dgBodySetLocalCentreOfMass(t.body, dgVector(u(rng), u(rng), u(rng), 0.0f));
        t.body->m_veloc = dgVector(u(rng), u(rng), u(rng), 0.0f);
        t.body->m_omega = dgVector(u(rng), u(rng), u(rng), 0.0f);
        const dgVector p = t.body->m_globalCentreOfMass + dgVector(u(rng), u(rng), u(rng), 0.0f);
        const dgVector dv(u(rng), u(rng), u(rng), 0.0f);
        const D3 r = toD3(p) - toD3(t.body->m_globalCentreOfMass);
        const D3 before = toD3(t.body->m_veloc) + cross(toD3(t.body->m_omega), r);
        dgBodyApplyImpulse(t.body, dv, p);
        const D3 after = toD3(t.body->m_veloc) + cross(toD3(t.body->m_omega), r);
        expectNear3(after, before + toD3(dv), 2e-4 * (1.0 + length(before)));
        ASSERT_EQ(t.body->m_flags & dgBodyFlagEquilibrium, 0u);
    }

    // Levers up to 2e6 units, masses from 0.001 to 1e6, bodies at rest: the
    // point still gains the request, the part along the lever all through
    // the velocity.
    auto logUniform = [&rng](double low, double high) {
        std::uniform_real_distribution<double> exponent(std::log10(low), std::log10(high));
        return float(std::pow(10.0, exponent(rng)));
    };
    double worst = 0.0;
    for (int n = 0; n < 4000; ++n) {
        BoxBody t(randomPose(rng, 1000.0f));
        const float m = logUniform(0.001, 1.0e6);
        setMass(t.body, m, m * logUniform(0.01, 100.0), m * logUniform(0.01, 100.0),
                m * logUniform(0.01, 100.0));
        const D3 offset = toD3(randomUnit(rng)) * double(logUniform(1.0e-3, 2.0e6));
        const dgVector p =
            t.body->m_globalCentreOfMass + dgVector(float(offset.x), float(offset.y), float(offset.z), 0.0f);
        const dgVector dv(u(rng), u(rng), u(rng), 0.0f);
        const D3 r = toD3(p) - toD3(t.body->m_globalCentreOfMass);
        dgBodyApplyImpulse(t.body, dv, p);
        const D3 v = toD3(t.body->m_veloc);
        const D3 after = v + cross(toD3(t.body->m_omega), r);
        ASSERT_TRUE(std::isfinite(after.x) && std::isfinite(after.y) && std::isfinite(after.z))
            << "mass " << m << ", lever " << length(r);
        worst = std::max(worst, length(after - toD3(dv)) / length(toD3(dv)));
        const D3 along = r * (1.0 / length(r));
        EXPECT_NEAR(dot(v, along), dot(toD3(dv), along), 1e-5 * length(toD3(dv))) << "lever " << length(r);
    }
    EXPECT_LT(worst, 1e-4);

    // At the centre of mass of a 2 kg body: the velocity alone changes.
    BoxBody t;
    setMass(t.body, 2.0f, 1.0f, 1.0f, 1.0f);
    dgBodyApplyImpulse(t.body, dgVector(0.0f, 1.0f, 0.0f, 0.0f), t.body->m_globalCentreOfMass);
    expectNear3(toD3(t.body->m_veloc), D3{0.0, 1.0, 0.0}, 1e-6);
    EXPECT_EQ(std::memcmp(&t.body->m_omega, &kZero, sizeof(dgVector)), 0);

    // A diagonal lever of 14,000 units on a 1000 kg body, where the whole
    // 3 x 3 point matrix comes out singular in float: the velocity takes the
    // request's part along the lever, (0.4, 0.4, 0), and stays finite.
    BoxBody far;
    setMass(far.body, 1000.0f, 1000.0f, 2000.0f, 3000.0f);
    dgBodyApplyImpulse(far.body, dgVector(0.3f, 0.5f, 1.0f, 0.0f), dgVector(1.0e4f, 1.0e4f, 0.0f, 1.0f));
    expectNear3(toD3(far.body->m_veloc), D3{0.4, 0.4, 0.0}, 1e-6);

    // An immovable body takes nothing.
    setMass(t.body, 1.5e15f, 1.0f, 1.0f, 1.0f);
    dgBodyApplyImpulse(t.body, dgVector(0.0f, 1.0f, 0.0f, 0.0f), dgVector(1.0f, 0.0f, 0.0f, 1.0f));
    expectNear3(toD3(t.body->m_veloc), D3{0.0, 1.0, 0.0}, 0.0);
}

namespace {

int g_transformCalls;
const float* g_transformMatrix;

void countTransform(dgBody* body, const float* matrix) {
    ++g_transformCalls;
    g_transformMatrix = matrix;
    EXPECT_EQ(std::memcmp(matrix, &body->m_matrix, sizeof(dgMatrix)), 0);
}

}  // namespace

TEST(BodyIntegrate, FreeFallFollowsSemiImplicitEuler) {
    const dgMatrix pose = turnedAndMoved();
    BoxBody t(pose);
    setMass(t.body, 3.0f, 1.0f, 1.0f, 1.0f);
    dgBodySetLocalCentreOfMass(t.body, dgVector(0.3f, -0.2f, 0.1f, 0.0f));
    t.body->m_transform = countTransform;
    t.body->m_veloc = dgVector(2.0f, 5.0f, -1.0f, 0.0f);
    const D3 v0 = toD3(t.body->m_veloc), c0 = toD3(t.body->m_globalCentreOfMass), g{0.0, -9.8, 0.0};
    const D3 arm = c0 - toD3(pose.position);
    const double dt = 1.0 / 60.0;
    g_transformCalls = 0;
    const int steps = 600;
    for (int n = 1; n <= steps; ++n) {
        t.body->m_force = kZero;
        t.body->m_torque = kZero;
        dgBodyAccumulateForce(t.body, dgVector(0.0f, -9.8f * 3.0f, 0.0f, 0.0f));
        dgBodyIntegrateAndNotify(t.body, float(dt));
        const D3 v = v0 + g * (n * dt);
        const D3 c = c0 + v0 * (n * dt) + g * (dt * dt * n * (n + 1) / 2.0);
        ASSERT_NEAR(t.body->m_veloc.y, v.y, 1e-4 * (1.0 + std::fabs(v.y)));
        expectNear3(toD3(t.body->m_globalCentreOfMass), c, 1e-4 * (1.0 + length(c)));
    }
    // No spin: the axes stay, the origin keeps its offset from the centre.
    for (int a = 0; a < 3; ++a) {
        expectNear3(toD3(t.body->m_matrix[a]), toD3(pose[a]), 1e-6);
    }
    expectNear3(toD3(t.body->m_matrix.position), toD3(t.body->m_globalCentreOfMass) - arm, 1e-4);
    EXPECT_EQ(g_transformCalls, steps);
    EXPECT_EQ(g_transformMatrix, &t.body->m_matrix.front.x);
    EXPECT_FLOAT_EQ(t.body->m_netForce.y, -9.8f * 3.0f);
    EXPECT_FLOAT_EQ(t.body->m_force.y, -9.8f);
}

TEST(BodyIntegrate, TurnsTheAxesAboutOmegaAndNotBelowTheThreshold) {
    std::mt19937 rng(5);
    const float dt = 1.0f / 60.0f;
    for (int n = 0; n < 500; ++n) {
        const dgMatrix pose = randomPose(rng, 5.0f);
        BoxBody t(pose);
        setMass(t.body, 1.0f, 1.0f, 1.0f, 1.0f);
        // Every fifth body spins below 0.0125 degrees per second.
        const float speed = (n % 5 == 0) ? 2e-4f : 0.5f + float(n % 17);
        const dgVector axis = randomUnit(rng);
        t.body->m_omega = axis.scale(speed);
        dgBodyIntegrateVelocity(t.body, dt);
        if (n % 5 == 0) {
            ASSERT_EQ(std::memcmp(&t.body->m_matrix, &pose, sizeof(dgMatrix)), 0);
            continue;
        }
        // Rodrigues about the world axis by speed x dt.
        const D3 k = toD3(axis);
        const double angle = double(speed) * dt, c = std::cos(angle), s = std::sin(angle);
        for (int a = 0; a < 3; ++a) {
            const D3 x = toD3(pose[a]);
            const D3 turned = x * c + cross(k, x) * s + k * (dot(k, x) * (1.0 - c));
            expectNear3(toD3(t.body->m_matrix[a]), turned, 2e-5);
        }
    }

    // 100 rad/s at 1/60 s exceeds 45 degrees per step: four scalings by 0.8.
    BoxBody t;
    setMass(t.body, 1.0f, 1.0f, 1.0f, 1.0f);
    t.body->m_omega = dgVector(100.0f, 0.0f, 0.0f, 0.0f);
    dgBodyIntegrateVelocity(t.body, dt);
    EXPECT_NEAR(t.body->m_omega.x, 40.96f, 1e-3f);
}

namespace {

struct BadInput {
    const char* name;
    dgVector force, torque, omega;
};

void PrintTo(const BadInput& in, std::ostream* os) {
    *os << in.name;
}

class BodyNonFinite : public ::testing::TestWithParam<BadInput> {};

const float kInf = INFINITY;
const float kNan = NAN;

bool isFinite(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

// A non-finite force or torque counts as zero; a non-finite omega ends the
// step limit (the scaling would never end, hence the alarm) and does not turn;
// a finite one is scaled to at most 45 degrees a step. The prediction of the
// next velocities agrees with the step.
TEST_P(BodyNonFinite, StepEndsAndCountsBadForcesAsZero) {
    const BadInput& in = GetParam();
    const dgMatrix pose = turnedAndMoved();
    // `direct` takes the bad values straight into the velocity integration.
    BoxBody bad(pose), direct(pose), ref(pose);
    for (dgBody* b : {bad.body, direct.body, ref.body}) {
        setMass(b, 2.0f, 1.0f, 2.0f, 3.0f);
        b->m_veloc = dgVector(1.0f, 2.0f, 3.0f, 0.0f);
        b->m_omega = in.omega;
    }
    bad.body->m_force = direct.body->m_force = in.force;
    bad.body->m_torque = direct.body->m_torque = in.torque;
    ref.body->m_force = isFinite(in.force) ? in.force : kZero;
    ref.body->m_torque = isFinite(in.torque) ? in.torque : kZero;

    const float dt = 1.0f / 60.0f;
    alarm(10);
    dgVector predictedVeloc, predictedOmega;
    alignas(dgBody) unsigned char before[sizeof(dgBody)];
    std::memcpy(before, static_cast<void*>(bad.body), sizeof(dgBody));
    dgBodyCalculateNextVelocities(bad.body, dt, predictedVeloc, predictedOmega);
    // The prediction leaves the body alone, also where it limits the turn.
    EXPECT_EQ(std::memcmp(before, static_cast<void*>(bad.body), sizeof(dgBody)), 0);
    dgBodyIntegrateAndNotify(bad.body, dt);
    dgBodyIntegrateAndNotify(ref.body, dt);
    dgBodyIntegrateVelocity(direct.body, dt);
    alarm(0);

    for (const dgBody* b : {bad.body, direct.body}) {
        EXPECT_EQ(std::memcmp(&b->m_veloc, &ref.body->m_veloc, sizeof(dgVector)), 0);
        EXPECT_EQ(std::memcmp(&b->m_omega, &ref.body->m_omega, sizeof(dgVector)), 0);
        EXPECT_EQ(std::memcmp(&b->m_matrix, &ref.body->m_matrix, sizeof(dgMatrix)), 0);
    }

    EXPECT_EQ(std::memcmp(&bad.body->m_netForce, &ref.body->m_netForce, sizeof(dgVector)), 0);
    EXPECT_EQ(std::memcmp(&bad.body->m_netTorque, &ref.body->m_netTorque, sizeof(dgVector)), 0);
    expectNear3(toD3(predictedVeloc), toD3(bad.body->m_veloc), 1e-5);
    if (isFinite(in.omega)) {
        EXPECT_LE(bad.body->m_omega.dot(bad.body->m_omega) * dt * dt, 0.7854f * 0.7854f);
        expectNear3(toD3(predictedOmega), toD3(bad.body->m_omega), 1e-4);
    } else {
        // The axes stay; the position moves with the velocity.
        EXPECT_EQ(std::memcmp(&bad.body->m_matrix, &pose, 3 * sizeof(dgVector)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Body, BodyNonFinite,
    ::testing::Values(BadInput{"InfiniteOmega", kZero, kZero, dgVector(kInf, 0.0f, 0.0f, 0.0f)},
                      BadInput{"NanOmega", kZero, kZero, dgVector(0.0f, kNan, 0.0f, 0.0f)},
                      BadInput{"HugeOmega", kZero, kZero, dgVector(1e20f, -1e20f, 0.0f, 0.0f)},
                      // More than 45 degrees a step: scaled down, not infinite.
                      BadInput{"FastOmega", kZero, kZero, dgVector(100.0f, 0.0f, 0.0f, 0.0f)},
                      BadInput{"InfiniteTorque", kZero, dgVector(0.0f, 0.0f, -kInf, 0.0f), kZero},
                      BadInput{"NanTorque", kZero, dgVector(kNan, 1.0f, 0.0f, 0.0f), dgVector(1, 0, 0, 0)},
                      BadInput{"NanForce", dgVector(0.0f, kNan, 0.0f, 0.0f), kZero, kZero},
                      BadInput{"InfiniteForce", dgVector(kInf, 0.0f, 5.0f, 0.0f), dgVector(0, 3, 0, 0),
                               kZero}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST(BodyCollision, SwapsShapesThroughTheCacheAndASoupMakesTheBodyImmovable) {
    HookGuard hooks;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    dgCollision* small = dgWorldCreateBox(world, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix());
    dgCollision* large = dgWorldCreateBox(world, 4.0f, 2.0f, 2.0f, dgGetIdentityMatrix());
    dgCollision* soup = dgCreateTreeCollision(world, nullptr);
    const float face[9] = {0, 0, 0, 1, 0, 0, 0, 0, 1};
    dgTreeCollisionBeginBuild(soup);
    dgTreeCollisionAddFace(soup, 3, face, 12, 1);
    dgTreeCollisionEndBuild(soup, 0);

    alignas(dgBody) unsigned char storage[sizeof(dgBody)];
    dgBody* body = dgBody::createCleared(storage);
    body->m_world = world;
    body->m_matrix = translation(5.0f, 0.0f, 0.0f);
    dgBodySetCollision(body, small);
    setMass(body, 10.0f, 1.0f, 1.0f, 1.0f);
    const int32_t smallRefs = small->getRefCount();
    dgBodySetCollision(body, large);
    EXPECT_EQ(small->getRefCount(), smallRefs - 1);
    EXPECT_NEAR(body->m_minAABB.x, 3.0f, 1e-5f);
    EXPECT_NEAR(body->m_maxAABB.x, 7.0f, 1e-5f);
    EXPECT_EQ(body->m_invMass.w, 0.1f);

    const int32_t soupRefs = soup->getRefCount();
    dgBodySetCollision(body, soup);
    EXPECT_EQ(soup->getRefCount(), soupRefs + 1);
    EXPECT_EQ(body->m_invMass.w, 0.0f);
    EXPECT_NE(body->m_flags & dgBodyFlagEquilibrium, 0u);
    float q[4];
    dgBodyReadMassMatrix(body, q[0], q[1], q[2], q[3]);
    EXPECT_EQ(q[0], 0.0f);

    dgWorldReleaseCollision(world, body->m_collision);
    for (dgCollision* shape : {small, large, soup}) {
        dgWorldReleaseCollision(world, shape);
    }
    dgWorldDestroy(world);
}

// A world for joint tests, built through the public header: box bodies with
// a constant force and torque each (gravity included), no damping, never
// frozen; random frames; and the double-precision state the tests judge
// the joints by (energy, points carried by a body).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "TestSupport.h"
#include "dgMatrix.h"
#include "dgPhysics.h"

namespace jointrig {

using testsupport::D3;

constexpr float kStep = 1.0f / 60.0f;

// What a body's force callback applies (world space).
struct Push {
    D3 force{0, 0, 0};
    D3 torque{0, 0, 0};
};

inline void applyPush(dgBody* body) {
    const Push& push = *static_cast<const Push*>(dgBodyGetUserData(body));
    const float force[3] = {float(push.force.x), float(push.force.y), float(push.force.z)};
    const float torque[3] = {float(push.torque.x), float(push.torque.y), float(push.torque.z)};
    dgBodySetForce(body, force);
    dgBodySetTorque(body, torque);
}

inline D3 d3(const float* v) {
    return D3{v[0], v[1], v[2]};
}

inline D3 unitD3(const D3& v) {
    return v * (1.0 / testsupport::length(v));
}

// A right-handed frame from Euler angles uniform in [-pi, pi].
inline dgMatrix randomRotation(std::mt19937& rng) {
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    const float angles[3] = {angle(rng), angle(rng), angle(rng)};
    dgMatrix m;
    dgSetEulerAngles(angles, &m.front.x);
    return m;
}

// Rotation by angle about the unit axis (row-vector convention: v' = v R).
inline dgMatrix axisRotation(const D3& axis, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double t = 1.0 - c;
    const D3 a = axis;
    dgMatrix m = dgGetIdentityMatrix();
    const double r[3][3] = {{t * a.x * a.x + c, t * a.x * a.y + s * a.z, t * a.x * a.z - s * a.y},
                            {t * a.x * a.y - s * a.z, t * a.y * a.y + c, t * a.y * a.z + s * a.x},
                            {t * a.x * a.z + s * a.y, t * a.y * a.z - s * a.x, t * a.z * a.z + c}};
    for (int32_t i = 0; i < 3; i++) {
        m[i] = dgVector(float(r[i][0]), float(r[i][1]), float(r[i][2]), 0.0f);
    }
    return m;
}

// A horizontal unit direction.
inline D3 randomHorizontal(std::mt19937& rng) {
    std::uniform_real_distribution<double> angle(-testsupport::kPi, testsupport::kPi);
    const double a = angle(rng);
    return D3{std::cos(a), 0.0, std::sin(a)};
}

// A vector as the three floats the public header takes.
struct F3 {
    float v[3];
    explicit F3(const D3& d) : v{float(d.x), float(d.y), float(d.z)} {}
    operator const float*() const { return v; }
};

// The joints made from a pivot and up to two pins.
enum class Kind { Ball, Hinge, Slider, Corkscrew, Universal };
inline constexpr Kind kKinds[] = {Kind::Ball, Kind::Hinge, Kind::Slider, Kind::Corkscrew, Kind::Universal};

inline std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    const char* names[] = {"Ball", "Hinge", "Slider", "Corkscrew", "Universal"};
    return names[int(info.param)];
}

// A joint of the kind at pivot between child and parent (null: the world);
// pin1 is the universal joint's second pin, the ball joint takes no pin.
inline dgConstraint* createJoint(Kind kind, dgWorld* world, const D3& pivot, const D3& pin0, const D3& pin1,
                                 dgBody* child, dgBody* parent = nullptr) {
    const F3 p(pivot);
    const F3 a(pin0);
    switch (kind) {
        case Kind::Ball:
            return dgCreateBallJoint(world, p, child, parent);
        case Kind::Hinge:
            return dgCreateHingeJoint(world, p, a, child, parent);
        case Kind::Slider:
            return dgCreateSliderJoint(world, p, a, child, parent);
        case Kind::Corkscrew:
            return dgCreateCorkscrewJoint(world, p, a, child, parent);
        case Kind::Universal:
            return dgCreateUniversalJoint(world, p, a, F3(pin1), child, parent);
    }
    return nullptr;
}

struct Rig {
    dgWorld* world;
    std::deque<Push> pushes;

    Rig() : world(dgWorldCreate(nullptr, nullptr)) {
        const float lo[3] = {-1000.0f, -1000.0f, -1000.0f};
        const float hi[3] = {1000.0f, 1000.0f, 1000.0f};
        dgWorldSetSize(world, lo, hi);
    }
    ~Rig() { dgWorldDestroy(world); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // A box of the given size and mass at pose, pulled by gravity (m/s^2
    // down) and nothing else until its push is changed.
    dgBody* box(const dgMatrix& pose, float mass, const D3& size, double gravity) {
        dgCollision* shape = dgCreateBox(world, float(size.x), float(size.y), float(size.z), nullptr);
        dgBody* body = dgCreateBody(world, shape);
        dgReleaseCollision(world, shape);
        dgBodySetMatrix(body, &pose.front.x);
        dgBodySetMassMatrix(body, mass, float(mass * (size.y * size.y + size.z * size.z) / 12.0),
                            float(mass * (size.x * size.x + size.z * size.z) / 12.0),
                            float(mass * (size.x * size.x + size.y * size.y) / 12.0));
        dgBodySetLinearDamping(body, 0.0f);
        const float none[3] = {0.0f, 0.0f, 0.0f};
        dgBodySetAngularDamping(body, none);
        dgBodySetAutoFreeze(body, 0);
        pushes.push_back(Push());
        pushes.back().force = D3{0.0, -gravity * mass, 0.0};
        dgBodySetUserData(body, &pushes.back());
        dgBodySetForceAndTorqueCallback(body, applyPush);
        return body;
    }

    void step(int32_t count = 1) {
        for (int32_t i = 0; i < count; i++) {
            dgWorldUpdate(world, kStep);
        }
    }
};

inline Push& pushOf(dgBody* body) {
    return *static_cast<Push*>(dgBodyGetUserData(body));
}

inline dgMatrix matrixOf(const dgBody* body) {
    dgMatrix m;
    dgBodyGetMatrix(body, &m.front.x);
    return m;
}

inline D3 positionOf(const dgBody* body) {
    return testsupport::toD3(matrixOf(body).position);
}

// A point given in the body's space, in world space.
inline D3 carried(const dgBody* body, const D3& local) {
    const dgMatrix m = matrixOf(body);
    return testsupport::toD3(
        m.transformVector(dgVector(float(local.x), float(local.y), float(local.z), 1.0f)));
}

// The world point p in the body's space (to follow it with carried).
inline D3 localOf(const dgBody* body, const D3& p) {
    return testsupport::toD3(
        matrixOf(body).inverseTransformVector(dgVector(float(p.x), float(p.y), float(p.z), 1.0f)));
}

inline D3 velocityOf(const dgBody* body) {
    float v[3];
    dgBodyGetVelocity(body, v);
    return d3(v);
}

inline D3 omegaOf(const dgBody* body) {
    float w[3];
    dgBodyGetOmega(body, w);
    return d3(w);
}

// w . I w in world space, from the body's principal inertia.
inline double spin2(const dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const dgMatrix m = matrixOf(body);
    const D3 w = omegaOf(body);
    const double local[3] = {testsupport::dot(w, testsupport::toD3(m.front)),
                             testsupport::dot(w, testsupport::toD3(m.up)),
                             testsupport::dot(w, testsupport::toD3(m.right))};
    return ixx * local[0] * local[0] + iyy * local[1] * local[1] + izz * local[2] * local[2];
}

// Moment of inertia about the unit world axis through the centre of mass.
inline double inertiaAbout(const dgBody* body, const D3& axis) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const dgMatrix m = matrixOf(body);
    const double c[3] = {testsupport::dot(axis, testsupport::toD3(m.front)),
                         testsupport::dot(axis, testsupport::toD3(m.up)),
                         testsupport::dot(axis, testsupport::toD3(m.right))};
    return ixx * c[0] * c[0] + iyy * c[1] * c[1] + izz * c[2] * c[2];
}

// Kinetic plus potential energy in gravity g (down).
inline double energy(const dgBody* body, double g) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const D3 v = velocityOf(body);
    return 0.5 * mass * testsupport::dot(v, v) + 0.5 * spin2(body) + mass * g * positionOf(body).y;
}

}  // namespace jointrig

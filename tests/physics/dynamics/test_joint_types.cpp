// The joint types through the public header, each against the motion it
// must allow or forbid: pendulums against the closed-form period, drift and
// energy; sliders, corkscrews and up-vector joints under forces; limits and
// motors written in callbacks; a user joint against the hinge it imitates
// and its spring row against a damped spring in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <random>
#include <string>

#include "JointRig.h"
#include "dgHingeJoint.h"

namespace {

using namespace jointrig;
using testsupport::cross;
using testsupport::dot;
using testsupport::kPi;
using testsupport::length;

constexpr double kGravity = 10.0;

// A box hanging at length L below a random pivot, swung by a small angle
// about a random horizontal axis, on a joint that lets it swing about it.
struct Pendulum {
    Rig rig;
    dgBody* bob = nullptr;
    dgConstraint* joint = nullptr;
    D3 pivot;
    D3 axis;
    D3 pivotOnBob;  // in the bob's space
    double arm = 0.0;
    double mass = 0.0;

    Pendulum(Kind kind, std::mt19937& rng, double swing) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        pivot = D3{10.0 * u(rng) - 5.0, 10.0 * u(rng) - 5.0, 10.0 * u(rng) - 5.0};
        axis = randomHorizontal(rng);
        arm = 0.5 + u(rng);
        mass = 0.5 + 4.0 * u(rng);
        const D3 size{0.1 + 0.3 * u(rng), 0.1 + 0.3 * u(rng), 0.1 + 0.3 * u(rng)};
        const dgMatrix turn = axisRotation(axis, swing);
        dgMatrix pose = randomRotation(rng).multiply(turn);
        const dgVector hang = turn.rotateVector(dgVector(0.0f, float(-arm), 0.0f, 0.0f));
        pose.position =
            dgVector(float(pivot.x + hang.x), float(pivot.y + hang.y), float(pivot.z + hang.z), 1.0f);
        bob = rig.box(pose, float(mass), size, kGravity);
        joint = createJoint(kind, rig.world, pivot, axis, cross(D3{0, 1, 0}, axis), bob);
        pivotOnBob = localOf(bob, pivot);
    }

    // The bob's offset from the pivot across the axis, horizontally.
    double sway() const { return dot(positionOf(bob) - pivot, cross(axis, D3{0, -1, 0})); }
    double separation() const { return length(carried(bob, pivotOnBob) - pivot); }
};

class JointPendulum : public ::testing::TestWithParam<Kind> {};

// Small swings of a rigid body: T = 2 pi sqrt((I + m L^2) / (m g L)) with I
// about the axis through the centre of mass.
TEST_P(JointPendulum, SwingsWithTheClosedFormPeriodWithoutDriftOrEnergyGain) {
    std::mt19937 rng(7 + int(GetParam()));
    for (int32_t trial = 0; trial < 6; trial++) {
        Pendulum p(GetParam(), rng, 0.05);
        const double period =
            2.0 * kPi *
            std::sqrt((inertiaAbout(p.bob, p.axis) + p.mass * p.arm * p.arm) / (p.mass * kGravity * p.arm));
        const double e0 = energy(p.bob, kGravity);
        const double swingEnergy = p.mass * kGravity * p.arm * (1.0 - std::cos(0.05));
        double separation = 0.0;
        double gain = 0.0;
        double loss = 0.0;
        double first = -1.0;
        double last = -1.0;
        int32_t crossings = 0;
        double before = p.sway();
        for (int32_t s = 1; s <= 3000; s++) {
            p.rig.step();
            const double now = p.sway();
            if ((before < 0.0) && (now >= 0.0)) {
                last = (s - 1 + before / (before - now)) * kStep;
                first = (first < 0.0) ? last : first;
                crossings++;
            }
            before = now;
            separation = std::max(separation, p.separation());
            gain = std::max(gain, energy(p.bob, kGravity) - e0);
            loss = std::max(loss, e0 - energy(p.bob, kGravity));
        }
        ASSERT_GT(crossings, 10);
        EXPECT_NEAR((last - first) / (crossings - 1), period, 0.015 * period) << trial;
        EXPECT_LT(separation, 1.0e-3) << trial;
        EXPECT_LT(gain, 0.1 * swingEnergy) << trial;
        EXPECT_LT(loss, 0.3 * swingEnergy) << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, JointPendulum, ::testing::Values(Kind::Hinge, Kind::Ball, Kind::Universal),
                         kindName);

// ---- large swings ----

// The energy a step ends with, as the integrator keeps it: the body moves by
// h v over the step with the velocity v it ends with, so its potential is
// taken halfway along that move (y - h v_y / 2). In free fall this sum stays
// exactly constant; at the end of the step itself it would swing by
// m g h v_y / 2 (2 % of m g L on a pendulum released level) however exact
// the joint.
double stepEnergy(const dgBody* body, double g) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    return energy(body, g) - 0.5 * kStep * mass * g * velocityOf(body).y;
}

// A body of random size and mass on a joint to the world at a random pivot,
// its centre at a random arm from the joint's axis and released from rest
// up to level with it: a swing about a level pin for the hinge, the ball
// and the universal joint (the last two also thrown across the swing up to
// 1.5 m/s, so that they swing round the pivot), and about a pin tilted by
// up to 0.3 rad for the corkscrew, which slides down it as well; the slider
// holds the body at its arm from the pin while it slides down. Over 10 s at
// one sub-step the joint must neither add energy (1 % of m g L allowed)
// nor let the body's pivot point, or its point one arm out along the pin,
// leave the joint's axis by a centimetre.
class JointLargeSwing : public ::testing::TestWithParam<Kind> {};

TEST_P(JointLargeSwing, AddsNoEnergyAndStaysOnItsAxis) {
    const Kind kind = GetParam();
    const bool sliding = (kind == Kind::Slider) || (kind == Kind::Corkscrew);
    const bool pinned = (kind != Kind::Ball) && (kind != Kind::Universal);
    std::mt19937 rng(41 + int(kind));
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int32_t trial = 0; trial < 8; trial++) {
        Rig rig;
        const D3 pivot{10.0 * u(rng) - 5.0, 10.0 * u(rng) - 5.0, 10.0 * u(rng) - 5.0};
        const D3 level = randomHorizontal(rng);
        const double tilt = sliding ? 0.6 * u(rng) - 0.3 : 0.0;
        const D3 pin = level * std::cos(tilt) + D3{0, std::sin(tilt), 0};
        const double arm = 0.5 + u(rng);
        const double mass = 0.5 + 4.0 * u(rng);
        const D3 size{0.1 + 0.3 * u(rng), 0.1 + 0.3 * u(rng), 0.1 + 0.3 * u(rng)};
        // Straight below the pin, turned about it by the release angle; the
        // slider's arm points anywhere across its pin.
        const D3 down = unitD3(D3{0, -1, 0} - pin * dot(D3{0, -1, 0}, pin));
        const double release = (kind == Kind::Slider) ? 2.0 * kPi * u(rng) : 0.5 * kPi * u(rng);
        const D3 across = cross(pin, down);
        const D3 centre = pivot + (down * std::cos(release) + across * std::sin(release)) * arm;
        dgMatrix pose = randomRotation(rng);
        pose.position = dgVector(float(centre.x), float(centre.y), float(centre.z), 1.0f);
        dgBody* body = rig.box(pose, float(mass), size, kGravity);
        if (!pinned) {
            dgBodySetVelocity(body, F3(pin * (3.0 * u(rng) - 1.5)));
        }
        ASSERT_NE(createJoint(kind, rig.world, pivot, pin, cross(D3{0, 1, 0}, pin), body), nullptr);
        // How far a point the body carries is from where the joint holds it:
        // its place, or for the sliding joints anywhere on the pin's line.
        const auto offAxis = [&](const D3& local, const D3& place) {
            const D3 off = carried(body, local) - place;
            return sliding ? length(off - pin * dot(off, pin)) : length(off);
        };
        const D3 onPivot = localOf(body, pivot);
        const D3 onPin = localOf(body, pivot + pin * arm);
        const double scale = mass * kGravity * arm;
        const double e0 = stepEnergy(body, kGravity);
        double gain = -1.0e30;
        double apart = 0.0;
        for (int32_t s = 0; s < 600; s++) {
            rig.step();
            gain = std::max(gain, stepEnergy(body, kGravity) - e0);
            apart = std::max(apart, offAxis(onPivot, pivot));
            if (pinned) {
                apart = std::max(apart, offAxis(onPin, pivot + pin * arm));
            }
        }
        EXPECT_LT(gain, 0.01 * scale) << trial;
        EXPECT_LT(apart, 0.01) << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, JointLargeSwing, ::testing::ValuesIn(kKinds), kindName);

// ---- two free bodies ----

// Angular momentum of the body about the world origin.
D3 angularMomentum(const dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const dgMatrix m = matrixOf(body);
    const D3 w = omegaOf(body);
    const D3 axes[3] = {testsupport::toD3(m.front), testsupport::toD3(m.up), testsupport::toD3(m.right)};
    const double inertia[3] = {ixx, iyy, izz};
    D3 spin{0, 0, 0};
    for (int32_t k = 0; k < 3; k++) {
        spin = spin + axes[k] * (inertia[k] * dot(w, axes[k]));
    }
    return spin + cross(positionOf(body), velocityOf(body) * mass);
}

// Two cubes joined by the joint and thrown with random velocities, nothing
// else acting: the joint's forces are equal and opposite, so the pair keeps
// its momentum and, up to the joint's small separation, its angular
// momentum.
class JointPair : public ::testing::TestWithParam<Kind> {};

TEST_P(JointPair, KeepsTheMomentumOfTwoFreeBodies) {
    std::mt19937 rng(23 + int(GetParam()));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t trial = 0; trial < 6; trial++) {
        Rig rig;
        dgBody* bodies[2];
        const D3 centre{5 * u(rng), 5 * u(rng), 5 * u(rng)};
        const D3 offset = testsupport::toD3(testsupport::randomUnit(rng)) * (0.6 + 0.3 * u(rng));
        for (int32_t b = 0; b < 2; b++) {
            dgMatrix pose = randomRotation(rng);
            const D3 at = centre + offset * (b ? 0.5 : -0.5);
            pose.position = dgVector(float(at.x), float(at.y), float(at.z), 1.0f);
            // Cubes: a free cube keeps its angular momentum without the
            // gyroscopic term the bodies leave out.
            const double side = 0.4 + 0.2 * u(rng);
            bodies[b] = rig.box(pose, float(2.5 + 2.0 * u(rng)), D3{side, side, side}, 0.0);
            const float v[3] = {float(u(rng)), float(u(rng)), float(u(rng))};
            const float w[3] = {float(2 * u(rng)), float(2 * u(rng)), float(2 * u(rng))};
            dgBodySetVelocity(bodies[b], v);
            dgBodySetOmega(bodies[b], w);
        }
        const D3 r0 = testsupport::toD3(testsupport::randomUnit(rng));
        const D3 r1 = cross(r0, testsupport::toD3(testsupport::randomUnit(rng)));
        ASSERT_NE(createJoint(GetParam(), rig.world, centre, r0, r1, bodies[0], bodies[1]), nullptr);
        const auto momenta = [&](D3& linear, D3& angular) {
            float mass[2], i[3];
            dgBodyGetMassMatrix(bodies[0], &mass[0], &i[0], &i[1], &i[2]);
            dgBodyGetMassMatrix(bodies[1], &mass[1], &i[0], &i[1], &i[2]);
            linear = velocityOf(bodies[0]) * mass[0] + velocityOf(bodies[1]) * mass[1];
            angular = angularMomentum(bodies[0]) + angularMomentum(bodies[1]);
        };
        D3 linear0, angular0;
        momenta(linear0, angular0);
        double linearDrift = 0.0;
        double angularDrift = 0.0;
        for (int32_t s = 0; s < 240; s++) {
            rig.step();
            D3 linear, angular;
            momenta(linear, angular);
            linearDrift = std::max(linearDrift, length(linear - linear0));
            angularDrift = std::max(angularDrift, length(angular - angular0));
        }
        EXPECT_LT(linearDrift, 1.0e-5 * (1.0 + length(linear0))) << trial;
        EXPECT_LT(angularDrift, 0.015 * length(angular0)) << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, JointPair, ::testing::ValuesIn(kKinds), kindName);

// ---- sliders and corkscrews ----

// A random unit direction across the unit pin.
D3 acrossOf(const D3& pin, std::mt19937& rng) {
    const dgVector r = testsupport::randomUnit(rng);
    return unitD3(cross(pin, testsupport::toD3(r)));
}

// Pushed along its pin and across it, and turned about it and across it, a
// body on a slider moves along the pin only; on a corkscrew it also turns
// about it. The pin runs through the centre of mass, so both motions follow
// from the pushes alone: x = F t^2 / 2m along, w = T t / I about.
TEST(JointSlide, MovesAlongItsPinOnlyAndTheCorkscrewTurnsAboutItToo) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int32_t trial = 0; trial < 8; trial++) {
        const bool corkscrew = (trial % 2) == 1;
        Rig rig;
        dgMatrix pose = randomRotation(rng);
        pose.position =
            dgVector(float(20 * u(rng) - 10), float(20 * u(rng) - 10), float(20 * u(rng) - 10), 1.0f);
        const double mass = 1.0 + 3.0 * u(rng);
        dgBody* body = rig.box(pose, float(mass), D3{0.2 + u(rng), 0.2 + u(rng), 0.2 + u(rng)}, 0.0);
        const D3 pin = testsupport::toD3(testsupport::randomUnit(rng));
        const D3 start = positionOf(body);
        dgConstraint* joint =
            createJoint(corkscrew ? Kind::Corkscrew : Kind::Slider, rig.world, start, pin, pin, body);
        ASSERT_NE(joint, nullptr);
        const double t = 120 * kStep;
        const double inertia = inertiaAbout(body, pin);
        const double along = mass * (1.0 + u(rng));
        // Up to a few turns a second by the end.
        const double about = (5.0 + 10.0 * u(rng)) * inertia / t;
        pushOf(body).force = pin * along + acrossOf(pin, rng) * (10.0 * along);
        pushOf(body).torque = pin * about + acrossOf(pin, rng) * (10.0 * about);
        const dgMatrix frame0 = matrixOf(body);
        rig.step(120);
        const D3 moved = positionOf(body) - start;
        EXPECT_NEAR(dot(moved, pin), 0.5 * along / mass * t * t, 0.02 * 0.5 * along / mass * t * t) << trial;
        EXPECT_LT(length(moved - pin * dot(moved, pin)), 2.0e-3) << trial;
        const float position =
            corkscrew ? dgCorkscrewGetJointPosition(joint) : dgSliderGetJointPosition(joint);
        const float velocity =
            corkscrew ? dgCorkscrewGetJointVelocity(joint) : dgSliderGetJointVelocity(joint);
        // The position is the last solve's: a step behind the body.
        EXPECT_NEAR(position, dot(moved, pin) - dot(velocityOf(body), pin) * kStep, 1.0e-3) << trial;
        EXPECT_NEAR(velocity, dot(velocityOf(body), pin), 1.0e-4) << trial;
        // The body's axes keep their angle to the pin, and turn about it only
        // on the corkscrew.
        const dgMatrix frame1 = matrixOf(body);
        const double spin = corkscrew ? about / inertia * t : 0.0;
        EXPECT_NEAR(dot(omegaOf(body), pin), spin, 0.02 * std::fabs(spin) + 1.0e-3) << trial;
        EXPECT_LT(length(omegaOf(body) - pin * dot(omegaOf(body), pin)), 2.0e-3 + 1.0e-3 * spin) << trial;
        for (int32_t k = 0; k < 3; k++) {
            EXPECT_NEAR(dot(testsupport::toD3(frame1[k]), pin), dot(testsupport::toD3(frame0[k]), pin),
                        2.0e-3);
        }
        if (corkscrew) {
            const double turned = 0.5 * about / inertia * t * t;
            EXPECT_NEAR(dgCorkscrewGetJointAngle(joint), std::remainder(turned, 2.0 * kPi), 0.03 * turned);
            EXPECT_NEAR(dgCorkscrewGetJointOmega(joint), spin, 0.02 * spin);
        }
    }
}

// ---- up-vector joint ----

// A body tilted away from the pin turns back onto it, while it falls freely
// and keeps its spin about the pin; one turned exactly upside down stays so.
TEST(JointUpVector, TurnsATiltedBodyBackOntoThePinAndLeavesItFree) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int32_t trial = 0; trial < 8; trial++) {
        Rig rig;
        dgMatrix pose = randomRotation(rng);
        pose.position = dgVector(0.0f, 50.0f, 0.0f, 1.0f);
        // A cube: its spin about any axis is its angular momentum over one
        // inertia.
        dgBody* body = rig.box(pose, 2.0f, D3{0.5, 0.5, 0.5}, kGravity);
        const D3 pin = testsupport::toD3(testsupport::randomUnit(rng));
        dgConstraint* joint = dgCreateUpVectorJoint(rig.world, F3(pin), body);
        ASSERT_NE(joint, nullptr);
        const D3 axisOnBody = localOf(body, positionOf(body) + pin) - localOf(body, positionOf(body));
        const bool flipped = (trial == 0);
        const double tilt = flipped ? kPi : 0.3 + 1.0 * u(rng);
        dgMatrix turned = pose.multiply(axisRotation(acrossOf(pin, rng), tilt));
        turned.position = pose.position;
        dgBodySetMatrix(body, &turned.front.x);
        const double spin = 1.0 + u(rng);
        dgBodySetOmega(body, F3(pin * spin));
        rig.step(300);
        const D3 axis = carried(body, axisOnBody) - carried(body, D3{0, 0, 0});
        EXPECT_NEAR(dot(axis, pin), flipped ? -1.0 : 1.0, 1.0e-4) << trial;
        EXPECT_NEAR(dot(omegaOf(body), pin), spin, 0.01 * spin) << trial;
        const double t = 300 * kStep;
        EXPECT_NEAR(positionOf(body).y, 50.0 - 0.5 * kGravity * t * t, 0.01 * 0.5 * kGravity * t * t)
            << trial;
        float got[3];
        dgUpVectorGetPin(joint, got);
        EXPECT_NEAR(dot(d3(got), pin), 1.0, 1.0e-6);
    }
}

// ---- limits and motors written in callbacks ----

// A joint to the world at the origin whose callback drives one coordinate
// (an angle or a position): a box of 1 kg at `offset` from the pivot under
// gravity and `torque`.
struct DriveCase {
    const char* name;
    D3 pin0;
    D3 pin1;
    D3 offset;
    D3 torque;
    Kind kind;
    void (*setCallback)(dgConstraint*, dgJointUserCallback);
    float (*value)(const dgConstraint*);
    float (*speed)(const dgConstraint*);
    float (*stop)(const dgConstraint*, const dgJointUserDescriptor*, float);
    // The descriptor (and result bit) of the coordinate's row.
    int32_t slot;
    // d value / dt = sense x speed.
    double sense;
};

std::ostream& operator<<(std::ostream& out, const DriveCase& c) {
    return out << c.name;
}

// A vector of the table below, as a call: the rows stay a few lines each.
D3 vec(double x, double y, double z) {
    return D3{x, y, z};
}

const DriveCase kDrives[] = {
    {"HingeAngle", vec(0, 0, 1), vec(0, 0, 0), vec(1, 0, 0), vec(0, 0, 0), Kind::Hinge,
     dgHingeSetUserCallback, dgHingeGetJointAngle, dgHingeGetJointOmega, dgHingeCalculateStopAlpha, 0, 1.0},
    {"SliderPosition", vec(0, 1, 0), vec(0, 0, 0), vec(0, 0, 0), vec(0, 0, 0), Kind::Slider,
     dgSliderSetUserCallback, dgSliderGetJointPosition, dgSliderGetJointVelocity, dgSliderCalculateStopAccel,
     0, 1.0},
    {"CorkscrewPosition", vec(0, 1, 0), vec(0, 0, 0), vec(0, 0, 0), vec(0, 0, 0), Kind::Corkscrew,
     dgCorkscrewSetUserCallback, dgCorkscrewGetJointPosition, dgCorkscrewGetJointVelocity,
     dgCorkscrewCalculateStopAccel, 0, 1.0},
    {"CorkscrewAngle", vec(0, 1, 0), vec(0, 0, 0), vec(0, 0, 0), vec(0, 0.1, 0), Kind::Corkscrew,
     dgCorkscrewSetUserCallback, dgCorkscrewGetJointAngle, dgCorkscrewGetJointOmega,
     dgCorkscrewCalculateStopAlpha, 1, 1.0},
    {"UniversalAngle0", vec(0, 0, 1), vec(1, 0, 0), vec(1, 0, 0), vec(0, 0, 0), Kind::Universal,
     dgUniversalSetUserCallback, dgUniversalGetJointAngle0, dgUniversalGetJointOmega0,
     dgUniversalCalculateStopAlpha0, 0, 1.0},
    {"UniversalAngle1", vec(1, 0, 0), vec(0, 0, 1), vec(1, 0, 0), vec(0, 0, 0), Kind::Universal,
     dgUniversalSetUserCallback, dgUniversalGetJointAngle1, dgUniversalGetJointOmega1,
     dgUniversalCalculateStopAlpha1, 1, -1.0},
};

// What the callback does: hold the coordinate within [low, high] with the
// stop acceleration, its force one-sided, or drive its speed to target
// within +-force.
struct Drive {
    const DriveCase* c = nullptr;
    bool motor = false;
    double low = 0.0;
    double high = 0.0;
    double target = 0.0;
    // Bound of the motor's force (N or N m).
    double force = 0.0;
};
Drive g_drive;

uint32_t driveCallback(dgConstraint* joint, dgJointUserDescriptor* desc) {
    const DriveCase& c = *g_drive.c;
    dgJointUserDescriptor& d = desc[c.slot];
    if (g_drive.motor) {
        d.m_accel = float((g_drive.target - c.speed(joint)) / d.m_timestep);
        d.m_minFriction = float(-g_drive.force);
        d.m_maxFriction = float(g_drive.force);
        return 1u << c.slot;
    }
    const double value = c.value(joint);
    if ((value >= g_drive.low) && (value <= g_drive.high)) {
        return 0;
    }
    d.m_accel = c.stop(joint, &d, float((value < g_drive.low) ? g_drive.low : g_drive.high));
    (d.m_accel > 0.0f) ? (d.m_minFriction = 0.0f) : (d.m_maxFriction = 0.0f);
    return 1u << c.slot;
}

class JointDrive : public ::testing::TestWithParam<DriveCase> {
protected:
    void SetUp() override {
        const DriveCase& c = GetParam();
        dgMatrix pose = dgGetIdentityMatrix();
        pose.position = dgVector(float(c.offset.x), float(c.offset.y), float(c.offset.z), 1.0f);
        body = rig.box(pose, 1.0f, D3{0.3, 0.3, 0.3}, kGravity);
        pushOf(body).torque = c.torque;
        joint = createJoint(c.kind, rig.world, D3{0, 0, 0}, c.pin0, c.pin1, body);
        ASSERT_NE(joint, nullptr);
        c.setCallback(joint, driveCallback);
        g_drive = Drive();
        g_drive.c = &c;
    }
    Rig rig;
    dgBody* body = nullptr;
    dgConstraint* joint = nullptr;
};

// Gravity or a torque drives each coordinate one way; a band of +-0.4 round
// its start stops it on whichever side it reaches, and never lets it past
// by more than a few hundredths.
TEST_P(JointDrive, LimitWrittenInTheCallbackHoldsTheCoordinate) {
    const DriveCase& c = GetParam();
    rig.step();
    const double start = c.value(joint);
    g_drive.low = start - 0.4;
    g_drive.high = start + 0.4;
    double reach = 0.0;
    for (int32_t s = 0; s < 600; s++) {
        rig.step();
        reach = std::max(reach, std::fabs(c.value(joint) - start));
    }
    EXPECT_GT(reach, 0.38);
    EXPECT_LT(reach, 0.44);
}

// Without gravity: a motor whose force is bounded by the descriptor gets
// nowhere near its speed; with room, it reaches it.
TEST_P(JointDrive, MotorWrittenInTheCallbackReachesItsSpeedWithinItsForce) {
    const DriveCase& c = GetParam();
    pushOf(body) = Push();
    g_drive.motor = true;
    g_drive.target = 1.5;
    g_drive.force = 0.01;
    rig.step(10);
    EXPECT_LT(std::fabs(c.speed(joint)), 0.1 * g_drive.target);
    g_drive.force = 1000.0;
    rig.step(30);
    const double before = c.value(joint);
    rig.step(30);
    EXPECT_NEAR(c.speed(joint), g_drive.target, 0.02 * g_drive.target);
    EXPECT_NEAR(c.value(joint) - before, c.sense * g_drive.target * 30 * kStep,
                0.03 * g_drive.target * 30 * kStep);
}

INSTANTIATE_TEST_SUITE_P(Coordinates, JointDrive, ::testing::ValuesIn(kDrives),
                         [](const ::testing::TestParamInfo<DriveCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- reaction forces ----

// A body held still by a joint to the world, its centre at `offset` from
// the pivot where gravity can turn it about no free axis of the joint.
struct ForceCase {
    const char* name;
    D3 pin0;
    D3 pin1;
    D3 offset;
    Kind kind;
    void (*force)(const dgConstraint*, float*);
};

std::ostream& operator<<(std::ostream& out, const ForceCase& c) {
    return out << c.name;
}

const ForceCase kForces[] = {
    {"Ball", {0, 0, 0}, {0, 0, 0}, {0, -0.7, 0}, Kind::Ball, dgBallGetJointForce},
    {"Hinge", {0, 1, 0}, {0, 0, 0}, {0.6, -0.3, 0.4}, Kind::Hinge, dgHingeGetJointForce},
    {"Slider", {1, 0, 0}, {0, 0, 0}, {0.2, 0.5, -0.6}, Kind::Slider, dgSliderGetJointForce},
    {"Corkscrew", {1, 0, 0}, {0, 0, 0}, {0.8, 0, 0}, Kind::Corkscrew, dgCorkscrewGetJointForce},
    {"Universal", {0, 1, 0}, {1, 0, 0}, {-0.7, 0, 0}, Kind::Universal, dgUniversalGetJointForce},
};

class JointForce : public ::testing::TestWithParam<ForceCase> {};

// At rest, whatever torque the joint carries as well, its force on the body
// is the body's weight upwards. "At rest" is the engine's rest test, which
// leaves the body a speed of millimetres a second that the last solve was
// still damping: hence 2%.
TEST_P(JointForce, HoldingABodyStillIsItsWeight) {
    const ForceCase& c = GetParam();
    Rig rig;
    dgMatrix pose = dgGetIdentityMatrix();
    pose.position = dgVector(float(c.offset.x), float(c.offset.y), float(c.offset.z), 1.0f);
    const float mass = 3.0f;
    dgBody* body = rig.box(pose, mass, D3{0.3, 0.3, 0.3}, kGravity);
    dgConstraint* joint = createJoint(c.kind, rig.world, D3{0, 0, 0}, c.pin0, c.pin1, body);
    ASSERT_NE(joint, nullptr);
    rig.step(120);
    float force[3];
    c.force(joint, force);
    EXPECT_LT(length(d3(force) - D3{0, mass * kGravity, 0}), 0.02 * mass * kGravity)
        << force[0] << " " << force[1] << " " << force[2];
    EXPECT_LT(length(positionOf(body) - c.offset), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Kinds, JointForce, ::testing::ValuesIn(kForces),
                         [](const ::testing::TestParamInfo<ForceCase>& info) {
                             return std::string(info.param.name);
                         });

// The ball joint's cone and twist limits: a bob swung out and spun about its
// rod hard enough to pass both stays within them.
TEST(JointBallLimits, ConeAndTwistHoldTheSwingAndTheSpin) {
    Rig rig;
    dgMatrix pose = dgGetIdentityMatrix();
    pose.position = dgVector(0.0f, -1.0f, 0.0f, 1.0f);
    dgBody* bob = rig.box(pose, 1.0f, D3{0.2, 0.2, 0.2}, kGravity);
    const float pivot[3] = {0.0f, 0.0f, 0.0f};
    dgConstraint* joint = dgCreateBallJoint(rig.world, pivot, bob, nullptr);
    const float down[3] = {0.0f, -1.0f, 0.0f};
    dgBallSetConeLimits(joint, down, 0.4f, 0.3f);
    const float v[3] = {3.0f, 0.0f, 1.0f};
    const float w[3] = {0.0f, 3.0f, 0.0f};
    dgBodySetVelocity(bob, v);
    dgBodySetOmega(bob, w);
    double cone = 0.0;
    double twist = 0.0;
    for (int32_t s = 0; s < 300; s++) {
        rig.step();
        const D3 rod = unitD3(positionOf(bob));
        cone = std::max(cone, std::acos(std::min(1.0, -rod.y)));
        float angles[3];
        dgBallGetJointAngle(joint, angles);
        twist = std::max(twist, double(std::fabs(angles[0])));
    }
    EXPECT_GT(cone, 0.38);
    EXPECT_LT(cone, 0.44);
    EXPECT_GT(twist, 0.28);
    EXPECT_LT(twist, 0.34);
}

// ---- user joints ----

// A hinge written as user rows: a frame at the pivot, pin first, carried by
// the child and fixed in the world; its three axes held together at the
// pivot, and the child's pin kept on the world's by angular rows about the
// two axes across it.
struct UserHinge {
    dgBody* child;
    D3 pivotOnChild;
    D3 axesOnChild[3];
    D3 pivot;
    D3 pin;
};

void addRow(dgConstraint* joint, const D3& p0, const D3& p1, const D3& d) {
    dgUserJointAddLinearRow(joint, F3(p0), F3(p1), F3(d));
}

void userHingeRows(dgConstraint* joint) {
    const UserHinge& h = *static_cast<const UserHinge*>(dgJointGetUserData(joint));
    const D3 origin = carried(h.child, D3{0, 0, 0});
    D3 axes[3];
    for (int32_t k = 0; k < 3; k++) {
        axes[k] = carried(h.child, h.axesOnChild[k]) - origin;
    }
    const D3 p0 = carried(h.child, h.pivotOnChild);
    for (int32_t k = 0; k < 3; k++) {
        addRow(joint, p0, h.pivot, axes[k]);
    }
    const D3 tilt = cross(axes[0], h.pin);
    for (int32_t k = 1; k < 3; k++) {
        dgUserJointAddAngularRow(joint, float(dot(tilt, axes[k])), F3(axes[k]));
    }
}

// Two equal pendulums side by side, one on a hinge, one on a user joint
// writing the hinge's rows, swing alike.
TEST(JointUser, RowsOfAHingeSwingAsTheHingeDoes) {
    std::mt19937 rng(3);
    for (int32_t trial = 0; trial < 4; trial++) {
        Pendulum hinged(Kind::Hinge, rng, 0.8);
        // The same pendulum again, 20 m along the axis.
        const D3 shift = hinged.axis * 20.0;
        dgMatrix pose = matrixOf(hinged.bob);
        pose.position = dgVector(pose.position.x + float(shift.x), pose.position.y + float(shift.y),
                                 pose.position.z + float(shift.z), 1.0f);
        float mass, ixx, iyy, izz;
        dgBodyGetMassMatrix(hinged.bob, &mass, &ixx, &iyy, &izz);
        dgBody* twin = hinged.rig.box(pose, mass, D3{0.2, 0.2, 0.2}, kGravity);
        dgBodySetMassMatrix(twin, mass, ixx, iyy, izz);
        // The hinge's own frame, on the twin.
        const dgMatrix& frame = static_cast<const dgHingeJoint*>(hinged.joint)->m_localMatrix0;
        UserHinge h;
        h.child = twin;
        h.pivot = hinged.pivot + shift;
        h.pin = hinged.axis;
        h.pivotOnChild = testsupport::toD3(frame.position);
        for (int32_t k = 0; k < 3; k++) {
            h.axesOnChild[k] = testsupport::toD3(frame[k]);
        }
        dgConstraint* joint = dgCreateUserJoint(hinged.rig.world, 5, userHingeRows, twin, nullptr);
        ASSERT_NE(joint, nullptr);
        dgJointSetUserData(joint, &h);
        double worst = 0.0;
        for (int32_t s = 0; s < 600; s++) {
            hinged.rig.step();
            worst = std::max(worst, length(positionOf(twin) - shift - positionOf(hinged.bob)));
        }
        EXPECT_LT(worst, 2.0e-4 * hinged.arm) << trial;
        EXPECT_GT(std::fabs(dgUserJointGetRowForce(joint, 1)) + std::fabs(dgUserJointGetRowForce(joint, 2)),
                  0.0f);
    }
}

// A spring row between a body and a world point, no other force: its motion
// along the row is that of a damped spring, x'' = -k x - c x', here
// integrated in double precision by implicit Euler over the same sub-steps
// (1/600 s); the closed form is looser, by that scheme's own damping.
TEST(JointUser, SpringDamperRowFollowsADampedSpring) {
    struct Spring {
        dgBody* body;
        D3 anchor;
        D3 direction;
        float k;
        float c;
    };
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int32_t trial = 0; trial < 6; trial++) {
        Rig rig;
        dgWorldSetMinimumFrameRate(rig.world, 600.0f);
        Spring spring;
        spring.direction = testsupport::toD3(testsupport::randomUnit(rng));
        spring.anchor = D3{10 * u(rng) - 5, 10 * u(rng) - 5, 10 * u(rng) - 5};
        spring.k = float(20.0 + 40.0 * u(rng));
        spring.c = float(2.0 * u(rng));
        const double x0 = 0.5 + u(rng);
        dgMatrix pose = randomRotation(rng);
        const D3 start = spring.anchor + spring.direction * x0;
        pose.position = dgVector(float(start.x), float(start.y), float(start.z), 1.0f);
        spring.body = rig.box(pose, float(1.0 + u(rng)), D3{0.3, 0.3, 0.3}, 0.0);
        dgConstraint* joint = dgCreateUserJoint(
            rig.world, 1,
            [](dgConstraint* j) {
                const Spring& s = *static_cast<const Spring*>(dgJointGetUserData(j));
                addRow(j, positionOf(s.body), s.anchor, s.direction);
                dgUserJointSetRowSpringDamperAcceleration(j, s.k, s.c);
            },
            spring.body, nullptr);
        dgJointSetUserData(joint, &spring);
        const double h = kStep / 10.0;
        double x = x0;
        double v = 0.0;
        const double w = std::sqrt(spring.k - 0.25 * spring.c * spring.c);
        double worst = 0.0;
        double worstExact = 0.0;
        for (int32_t s = 1; s <= 120; s++) {
            rig.step();
            for (int32_t i = 0; i < 10; i++) {
                v = (v - h * spring.k * x) / (1.0 + h * spring.c + h * h * spring.k);
                x += h * v;
            }
            const double t = s * kStep;
            const double exact =
                x0 * std::exp(-0.5 * spring.c * t) * (std::cos(w * t) + 0.5 * spring.c / w * std::sin(w * t));
            const double got = dot(positionOf(spring.body) - spring.anchor, spring.direction);
            worst = std::max(worst, std::fabs(got - x));
            worstExact = std::max(worstExact, std::fabs(got - exact));
        }
        EXPECT_LT(worst, 0.015 * x0) << trial;
        EXPECT_LT(worstExact, 0.1 * x0) << trial;
    }
}

}  // namespace

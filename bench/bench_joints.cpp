// Joints: one joint's row set-up alone, per type, on two bodies in a
// general pose with some motion (the user joint writing a hinge's five rows,
// the hinge, slider, corkscrew and universal joints with a callback that
// adds its rows); and one world step of scene S7's chains per type, light
// and with the 100 kg last link, with their separation after 600 steps as a
// counter. Aims: a 20-link chain under 0.1 ms a step; the heavy chains'
// separation under 1 cm.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "Scenes.h"
#include "dgBallJoint.h"
#include "dgCorkscrewJoint.h"
#include "dgHingeJoint.h"
#include "dgSliderJoint.h"
#include "dgUniversalJoint.h"
#include "dgUpVectorJoint.h"
#include "dgUserJoint.h"
#include "dgWorld.h"

namespace {

enum class Type { Ball, BallLimited, Hinge, HingeMotor, Slider, Corkscrew, Universal, UpVector, User };

uint32_t motor(dgConstraint*, dgJointUserDescriptor* desc) {
    desc[0].m_accel = 1.0f;
    desc[1].m_accel = 1.0f;
    desc[0].m_maxFriction = 10.0f;
    return 3u;
}

void hingeRows(dgConstraint* joint) {
    const float p0[3] = {0.1f, 0.2f, 0.3f};
    const float p1[3] = {0.1f, 0.2f, 0.35f};
    const float axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const float* axis : axes) {
        dgUserJointAddLinearRow(joint, p0, p1, axis);
    }
    const float far0[3] = {16.1f, 0.2f, 0.3f};
    const float far1[3] = {16.1f, 0.25f, 0.3f};
    dgUserJointAddLinearRow(joint, far0, far1, axes[1]);
    dgUserJointAddLinearRow(joint, far0, far1, axes[2]);
}

void rowSetup(benchmark::State& state, Type type) {
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgCollision* box = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
    dgBody* bodies[2];
    for (int32_t i = 0; i < 2; i++) {
        bodies[i] = dgCreateBody(world, box);
        const float angles[3] = {0.3f + float(i), 0.5f, -0.2f};
        float m[16];
        dgSetEulerAngles(angles, m);
        m[12] = float(i);
        m[13] = 0.5f * float(i);
        dgBodySetMatrix(bodies[i], m);
        dgBodySetMassMatrix(bodies[i], 1.0f, 0.2f, 0.3f, 0.4f);
        const float v[3] = {0.5f, -0.2f, float(i)};
        dgBodySetVelocity(bodies[i], v);
        dgBodySetOmega(bodies[i], v);
    }
    dgReleaseCollision(world, box);
    const dgVector pivot(0.5f, 0.25f, 0.0f, 1.0f);
    const dgVector pin0(0.0f, 0.6f, 0.8f, 0.0f);
    const dgVector pin1(1.0f, 0.0f, 0.0f, 0.0f);
    dgConstraint* joint = nullptr;
    switch (type) {
        case Type::Ball:
        case Type::BallLimited: {
            dgBallJoint* ball = dgWorldCreateBall(world, pivot, bodies[0], bodies[1]);
            if (type == Type::BallLimited) {
                // A cone and twist both narrower than the pose: six rows.
                ball->setLimits(pin0, -0.05f, 0.05f, 0.05f, pin1);
                ball->setConeLimitFlag(true);
                ball->setTwistLimitFlag(true);
                const float turned[3] = {1.0f, 0.9f, 0.2f};
                float m[16];
                dgSetEulerAngles(turned, m);
                dgBodySetMatrix(bodies[0], m);
            }
            joint = ball;
            break;
        }
        case Type::Hinge:
        case Type::HingeMotor: {
            dgHingeJoint* hinge = dgWorldCreateHinge(world, pivot, pin0, bodies[0], bodies[1]);
            hinge->m_userCallback = (type == Type::HingeMotor) ? motor : nullptr;
            joint = hinge;
            break;
        }
        case Type::Slider:
            joint = dgWorldCreateSlider(world, pivot, pin0, bodies[0], bodies[1]);
            static_cast<dgSliderJoint*>(joint)->m_userCallback = motor;
            break;
        case Type::Corkscrew:
            joint = dgWorldCreateCorkscrew(world, pivot, pin0, bodies[0], bodies[1]);
            static_cast<dgCorkscrewJoint*>(joint)->m_userCallback = motor;
            break;
        case Type::Universal:
            joint = dgWorldCreateUniversal(world, pivot, pin0, pin1, bodies[0], bodies[1]);
            static_cast<dgUniversalJoint*>(joint)->m_userCallback = motor;
            break;
        case Type::UpVector:
            joint = dgWorldCreateUpVector(world, pin0, bodies[0]);
            break;
        case Type::User:
            joint = dgWorldCreateUserJoint(world, 6, hingeRows, bodies[0], bodies[1]);
            break;
    }
    dgJointRowBlock* block = new dgJointRowBlock();
    block->world = world;
    block->timestep = 1.0f / 60.0f;
    block->invTimestep = 60.0f;
    int32_t rows = 0;
    for (auto _ : state) {
        // As the solver does before each joint.
        for (int32_t r = 0; r < joint->m_maxRows; r++) {
            block->bounds[r] = dgJointRowBound{-1.0e15f, 1.0e15f, dgRowOrdinary, nullptr};
        }
        rows = joint->submitRows(*block);
        benchmark::DoNotOptimize(block->rightHandSides[0]);
        benchmark::ClobberMemory();
    }
    state.counters["rows"] = rows;
    delete block;
    dgWorldDestroy(world);
}

BENCHMARK_CAPTURE(rowSetup, Ball, Type::Ball);
BENCHMARK_CAPTURE(rowSetup, BallConeAndTwist, Type::BallLimited);
BENCHMARK_CAPTURE(rowSetup, Hinge, Type::Hinge);
BENCHMARK_CAPTURE(rowSetup, HingeMotor, Type::HingeMotor);
BENCHMARK_CAPTURE(rowSetup, SliderMotor, Type::Slider);
BENCHMARK_CAPTURE(rowSetup, CorkscrewMotors, Type::Corkscrew);
BENCHMARK_CAPTURE(rowSetup, UniversalMotors, Type::Universal);
BENCHMARK_CAPTURE(rowSetup, UpVector, Type::UpVector);
BENCHMARK_CAPTURE(rowSetup, UserHingeRows, Type::User);

// One update of an S7 chain after `settle` updates; the separation counter
// is the largest joint separation after 600 updates.
void chainStep(benchmark::State& state, scenes::ChainJoint type, float lastMass) {
    scenes::Chain chain;
    scenes::buildChain(chain, type, lastMass);
    int32_t steps = 0;
    for (; steps < 60; steps++) {
        dgWorldUpdate(chain.scene.world, scenes::kTimeStep);
    }
    for (auto _ : state) {
        dgWorldUpdate(chain.scene.world, scenes::kTimeStep);
        steps++;
    }
    for (; steps < scenes::kChainSteps; steps++) {
        dgWorldUpdate(chain.scene.world, scenes::kTimeStep);
    }
    if (steps == scenes::kChainSteps) {
        state.counters["separation_m"] = scenes::chainFigures(chain).separation;
    }
}

BENCHMARK_CAPTURE(chainStep, Ball1kg, scenes::ChainJoint::Ball, 1.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Ball100kg, scenes::ChainJoint::Ball, 100.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Hinge1kg, scenes::ChainJoint::Hinge, 1.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Hinge100kg, scenes::ChainJoint::Hinge, 100.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Slider1kg, scenes::ChainJoint::Slider, 1.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Slider100kg, scenes::ChainJoint::Slider, 100.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Universal1kg, scenes::ChainJoint::Universal, 1.0f)->Iterations(540);
BENCHMARK_CAPTURE(chainStep, Universal100kg, scenes::ChainJoint::Universal, 100.0f)->Iterations(540);

}  // namespace

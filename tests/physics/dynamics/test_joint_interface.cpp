// The joints' public functions at their edges: stop formulas, clamps of the
// limit and row setters, what is refused (non-finite input, handles of the
// wrong type, rows past a user joint's maximum, parallel universal pins),
// and destruction during an update and with bodies and worlds, every
// destructor callback once and every block back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FlatCountingHooks.h"
#include "JointRig.h"
#include "dgBallJoint.h"
#include "dgCorkscrewJoint.h"
#include "dgHingeJoint.h"
#include "dgSliderJoint.h"
#include "dgUniversalJoint.h"
#include "dgUserJoint.h"
#include "dgWorld.h"

namespace {

using namespace jointrig;
using testsupport::cross;
using testsupport::dot;
using testsupport::length;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// ---- every joint type, made the same way ----

enum class Type { Ball, Hinge, Slider, Corkscrew, Universal, UpVector, User };
const Type kTypes[] = {Type::Ball,      Type::Hinge,    Type::Slider, Type::Corkscrew,
                       Type::Universal, Type::UpVector, Type::User};

std::string typeName(const ::testing::TestParamInfo<Type>& info) {
    const char* names[] = {"Ball", "Hinge", "Slider", "Corkscrew", "Universal", "UpVector", "User"};
    return names[int(info.param)];
}

// What the joints' callbacks do, whatever their signature.
std::function<void(dgConstraint*)> g_onStep;

void stepHook(dgConstraint* joint) {
    if (g_onStep) {
        g_onStep(joint);
    }
}
uint32_t stepHookRows(dgConstraint* joint, dgJointUserDescriptor*) {
    stepHook(joint);
    return 0;
}

// A joint of the type between child and parent (null: the world) at pivot,
// its callback (where the type has one) running g_onStep. The first five
// types are the rig's kinds, in its order.
dgConstraint* makeJoint(Type type, dgWorld* world, dgBody* child, dgBody* parent, const float* pivot) {
    const D3 x{1, 0, 0};
    const D3 z{0, 0, 1};
    if (type == Type::UpVector) {
        return dgCreateUpVectorJoint(world, F3(z), child);
    }
    if (type == Type::User) {
        return dgCreateUserJoint(world, 6, stepHook, child, parent);
    }
    const D3 pin0 = (type == Type::Hinge) ? z : x;
    dgConstraint* joint = createJoint(Kind(int(type)), world, d3(pivot), pin0, z, child, parent);
    if (type == Type::Ball) {
        dgBallSetUserCallback(joint, stepHook);
    } else {
        void (*const setCallback[])(dgConstraint*, dgJointUserCallback) = {
            nullptr, dgHingeSetUserCallback, dgSliderSetUserCallback, dgCorkscrewSetUserCallback,
            dgUniversalSetUserCallback};
        setCallback[int(type)](joint, stepHookRows);
    }
    return joint;
}

// The rows the joint writes now, as the solver would ask for them: their
// count, and whether every value of them is finite.
bool rowsFinite(dgConstraint* joint, int32_t* count = nullptr) {
    std::unique_ptr<dgJointRowBlock> block(new dgJointRowBlock());
    block->timestep = kStep;
    block->invTimestep = 1.0f / kStep;
    for (dgJointRowBound& bound : block->bounds) {
        bound = dgJointRowBound{-1.0e15f, 1.0e15f, dgRowOrdinary, nullptr};
    }
    const int32_t rows = joint->submitRows(*block);
    if (count) {
        *count = rows;
    }
    bool finite = true;
    for (int32_t r = 0; r < rows; r++) {
        for (const float v : block->jacobians[r]) {
            finite = finite && std::isfinite(v);
        }
        finite = finite && std::isfinite(block->rightHandSides[r]) && std::isfinite(block->bounds[r].lower) &&
                 std::isfinite(block->bounds[r].upper);
    }
    return finite;
}

// Counts its joint's destructor calls in the int its user data points to.
void countDestruction(dgConstraint* joint) {
    ++*static_cast<int32_t*>(dgJointGetUserData(joint));
}

dgWorld* g_world = nullptr;

struct Counted {
    dgConstraint* joint;
    int32_t destroyed = 0;
};

// Counts c's joint's destructor calls in c.
void watch(Counted& c) {
    dgJointSetUserData(c.joint, &c.destroyed);
    dgJointSetDestructorCallback(c.joint, countDestruction);
}

class JointLife : public ::testing::TestWithParam<Type> {
protected:
    void TearDown() override { g_onStep = nullptr; }

    // Two boxes hanging one under the other, the upper one from the world.
    void build() {
        dgMatrix pose = dgGetIdentityMatrix();
        upper = rig.box(pose, 1.0f, D3{0.4, 0.4, 0.4}, 10.0);
        pose.position.y = -1.0f;
        lower = rig.box(pose, 1.0f, D3{0.4, 0.4, 0.4}, 10.0);
        const float top[3] = {0.0f, 0.5f, 0.0f};
        const float middle[3] = {0.0f, -0.5f, 0.0f};
        first.joint = makeJoint(GetParam(), rig.world, upper, nullptr, top);
        second.joint = makeJoint(GetParam(), rig.world, lower, upper, middle);
        for (Counted* c : {&first, &second}) {
            ASSERT_NE(c->joint, nullptr);
            watch(*c);
        }
    }

    Rig rig;
    dgBody* upper = nullptr;
    dgBody* lower = nullptr;
    Counted first;
    Counted second;
};

// A joint destroyed from a callback during an update (its own, or another
// joint's, twice over) still holds through that sub-step and goes after it,
// its destructor called once; a body destroyed there takes its joints along
// after the sub-step.
class JointLifeInUpdate : public JointLife {};

TEST_P(JointLifeInUpdate, DestroyedFromACallbackGoesAfterTheSubStepOnce) {
    build();
    int32_t called = 0;
    g_onStep = [&](dgConstraint* joint) {
        ++called;
        dgDestroyJoint(rig.world, joint);
        dgDestroyJoint(rig.world, joint == first.joint ? second.joint : first.joint);
        EXPECT_EQ(first.destroyed + second.destroyed, 0);
    };
    rig.step();
    EXPECT_GE(called, 1);
    EXPECT_EQ(first.destroyed, 1);
    EXPECT_EQ(second.destroyed, 1);
    // The bodies are free now: the lower one falls away from the upper.
    g_onStep = nullptr;
    rig.step(30);
    EXPECT_LT(positionOf(upper).y, -1.0);

    Counted third;
    const float top[3] = {0.0f, 0.0f, 0.0f};
    third.joint = makeJoint(GetParam(), rig.world, lower, nullptr, top);
    watch(third);
    g_onStep = [&](dgConstraint*) { dgDestroyBody(rig.world, lower); };
    rig.step();
    EXPECT_EQ(third.destroyed, 1);
}

// Destroying a body, outside an update, destroys its joints first, each
// destructor once even when a destructor asks for the joint or the other
// body again; the world takes the rest along, once each.
TEST_P(JointLife, BodiesAndTheWorldTakeTheirJointsAlongOnce) {
    build();
    rig.step(5);
    g_world = rig.world;
    dgJointSetDestructorCallback(second.joint, [](dgConstraint* joint) {
        countDestruction(joint);
        dgDestroyJoint(g_world, joint);
    });
    dgDestroyBody(rig.world, lower);
    EXPECT_EQ(second.destroyed, 1);
    EXPECT_EQ(first.destroyed, 0);
    rig.step(5);
    dgWorldDestroy(rig.world);
    rig.world = dgWorldCreate(nullptr, nullptr);
    EXPECT_EQ(first.destroyed, 1);
    EXPECT_EQ(second.destroyed, 1);
}

INSTANTIATE_TEST_SUITE_P(Types, JointLife, ::testing::ValuesIn(kTypes), typeName);
// The up-vector joint has no callback.
INSTANTIATE_TEST_SUITE_P(Types, JointLifeInUpdate,
                         ::testing::Values(Type::Ball, Type::Hinge, Type::Slider, Type::Corkscrew,
                                           Type::Universal, Type::User),
                         typeName);

// Every joint type made, stepped, destroyed and left to the world, over and
// over: the world gives back every block it took.
TEST(JointMemory, EveryBlockComesBackWithTheWorld) {
    flatcounting::expectWorldBalance([](dgWorld* world) {
        dgCollision* box = dgCreateBox(world, 0.5f, 0.5f, 0.5f, nullptr);
        std::vector<dgBody*> bodies;
        for (int32_t i = 0; i < 80; i++) {
            dgBody* body = dgCreateBody(world, box);
            const float place[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, float(i - 40), 0, 0, 1};
            dgBodySetMatrix(body, place);
            dgBodySetMassMatrix(body, 1.0f, 0.1f, 0.1f, 0.1f);
            bodies.push_back(body);
        }
        dgReleaseCollision(world, box);
        const float pivot[3] = {0.0f, 0.0f, 0.0f};
        for (int32_t round = 0; round < 3; round++) {
            std::vector<dgConstraint*> joints;
            for (int32_t i = 1; i < 80; i++) {
                joints.push_back(
                    makeJoint(kTypes[i % 7], world, bodies[size_t(i)], bodies[size_t(i - 1)], pivot));
            }
            dgCreateUserJoint(world, 40, nullptr, bodies[0], nullptr);
            dgWorldUpdate(world, kStep);
            for (size_t i = 0; i < joints.size(); i += 2) {
                dgDestroyJoint(world, joints[i]);
            }
        }
    });
}

// ---- stop formulas ----

struct StopCase {
    Type type;
    // 0: the joint's first coordinate (angle, position or angle 0); 1: the
    // corkscrew's angle, the universal joint's angle 1.
    int32_t which;
    float stored;
    float limit;
    float speed;
    float expected;
};

// With h = 0.01: above the limit (limit - c) 100 - max(s, 0) 1.01 / h, below
// it (limit - c) 100 (1600 on the hinge) - min(s, 0) 1.01 / h; the universal
// joint's angle 1 runs against its omega, so its formula is mirrored.
TEST(JointStop, EachJointStopsItsCoordinateByTheSameRule) {
    const StopCase cases[] = {
        {Type::Hinge, 0, 0.5f, 0.3f, 2.0f, -222.0f},     {Type::Hinge, 0, 0.5f, 0.3f, -2.0f, -20.0f},
        {Type::Hinge, 0, 0.1f, 0.3f, -2.0f, 522.0f},     {Type::Hinge, 0, 0.1f, 0.3f, 2.0f, 320.0f},
        {Type::Hinge, 0, 0.3f, 0.3f, 5.0f, 0.0f},        {Type::Slider, 0, 0.1f, 0.3f, -2.0f, 222.0f},
        {Type::Slider, 0, 0.5f, 0.3f, 2.0f, -222.0f},    {Type::Corkscrew, 0, 0.1f, 0.3f, 2.0f, 20.0f},
        {Type::Corkscrew, 1, 0.5f, 0.3f, -2.0f, -20.0f}, {Type::Corkscrew, 1, 0.1f, 0.3f, -2.0f, 222.0f},
        {Type::Universal, 0, 0.1f, 0.3f, -2.0f, 222.0f}, {Type::Universal, 0, 0.5f, 0.3f, 2.0f, -222.0f},
        {Type::Universal, 1, 0.5f, 0.3f, 2.0f, 20.0f},   {Type::Universal, 1, 0.5f, 0.3f, -2.0f, 222.0f},
        {Type::Universal, 1, 0.1f, 0.3f, -2.0f, -20.0f}, {Type::Universal, 1, 0.1f, 0.3f, 2.0f, -222.0f},
        {Type::Universal, 1, 0.3f, 0.3f, 2.0f, 0.0f},
    };
    const dgJointUserDescriptor desc{0.0f, -1.0e15f, 1.0e15f, 0.01f};
    for (const StopCase& c : cases) {
        Rig rig;
        dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 0.0);
        const float pivot[3] = {0.0f, 0.0f, 0.0f};
        dgConstraint* joint = makeJoint(c.type, rig.world, body, nullptr, pivot);
        // The speed along the coordinate's own axis: the hinge's pin is z,
        // the others' x, the universal joint's pin1 z.
        const bool alongZ = (c.type == Type::Hinge) || ((c.type == Type::Universal) && (c.which == 1));
        const float v[3] = {alongZ ? 0.0f : c.speed, 0.0f, alongZ ? c.speed : 0.0f};
        const bool linear = (c.type == Type::Slider) || ((c.type == Type::Corkscrew) && (c.which == 0));
        linear ? dgBodySetVelocity(body, v) : dgBodySetOmega(body, v);
        float got = kNaN;
        switch (c.type) {
            case Type::Hinge:
                static_cast<dgHingeJoint*>(joint)->m_angle = c.stored;
                got = dgHingeCalculateStopAlpha(joint, &desc, c.limit);
                break;
            case Type::Slider:
                static_cast<dgSliderJoint*>(joint)->m_position = c.stored;
                got = dgSliderCalculateStopAccel(joint, &desc, c.limit);
                break;
            case Type::Corkscrew:
                static_cast<dgCorkscrewJoint*>(joint)->m_position = c.stored;
                static_cast<dgCorkscrewJoint*>(joint)->m_angle = c.stored;
                got = c.which ? dgCorkscrewCalculateStopAlpha(joint, &desc, c.limit)
                              : dgCorkscrewCalculateStopAccel(joint, &desc, c.limit);
                break;
            default:
                static_cast<dgUniversalJoint*>(joint)->m_angle0 = c.stored;
                static_cast<dgUniversalJoint*>(joint)->m_angle1 = c.stored;
                got = c.which ? dgUniversalCalculateStopAlpha1(joint, &desc, c.limit)
                              : dgUniversalCalculateStopAlpha0(joint, &desc, c.limit);
                break;
        }
        EXPECT_NEAR(got, c.expected, 1.0e-3f * (1.0f + std::fabs(c.expected)))
            << int(c.type) << " " << c.which << " " << c.stored << " " << c.speed;
        // Refused: no descriptor, a non-finite limit, a step that is none.
        const dgJointUserDescriptor still{0.0f, -1.0e15f, 1.0e15f, 0.0f};
        if (c.type == Type::Hinge) {
            EXPECT_EQ(dgHingeCalculateStopAlpha(joint, nullptr, c.limit), 0.0f);
            EXPECT_EQ(dgHingeCalculateStopAlpha(joint, &desc, kNaN), 0.0f);
            EXPECT_EQ(dgHingeCalculateStopAlpha(joint, &still, c.limit), 0.0f);
        }
    }
}

// ---- limits, stiffness and row setters ----

TEST(JointSettings, LimitsAndStiffnessAreHeldWithinTheirRanges) {
    Rig rig;
    dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 0.0);
    const float pivot[3] = {0.0f, 1.0f, 0.0f};
    dgConstraint* joint = dgCreateBallJoint(rig.world, pivot, body, nullptr);
    const dgBallJoint* ball = static_cast<const dgBallJoint*>(joint);
    EXPECT_FLOAT_EQ(ball->m_coneLimit, 1.570795f);
    EXPECT_FLOAT_EQ(ball->m_twistLimit, 1.570795f);
    EXPECT_NEAR(ball->m_coneCosine, 1.2675908e-06f, 1.0e-9f);
    EXPECT_EQ(ball->m_limitFlags, 0u);
    const float up[3] = {0.0f, 1.0f, 0.0f};
    const struct {
        float cone;
        float twist;
        float coneLimit;
        float twistLimit;
        uint32_t flags;
    } cases[] = {
        {-0.5f, 0.01f, 0.5f, 0.0872664f, dgBallJoint::kConeLimit},
        {0.01f, 2.0f, 0.0872664f, 1.5707952f, dgBallJoint::kTwistLimit},
        {3.1f, -0.3f, 3.0543239f, 0.3f, dgBallJoint::kConeLimit | dgBallJoint::kTwistLimit},
    };
    for (const auto& c : cases) {
        dgBallSetConeLimits(joint, up, c.cone, c.twist);
        EXPECT_NEAR(ball->m_coneLimit, c.coneLimit, 1.0e-6f);
        EXPECT_NEAR(ball->m_twistLimit, c.twistLimit, 1.0e-6f);
        EXPECT_EQ(ball->m_limitFlags, c.flags);
    }
    // A short pin is a direction like any other.
    const float shortPin[3] = {0.04f, 0.0f, 0.0f};
    dgBallSetConeLimits(joint, shortPin, 0.5f, 0.5f);
    for (int32_t k = 0; k < 4; k++) {
        EXPECT_TRUE(
            std::isfinite(ball->m_localMatrix0[k].x + ball->m_localMatrix0[k].y + ball->m_localMatrix0[k].z));
    }
    EXPECT_NEAR(ball->m_localMatrix0.front.x, 1.0f, 1.0e-6f);
    dgBallSetConeLimits(joint, up, 3.1f, -0.3f);
    // Non-finite values change nothing.
    const float bad[3] = {kNaN, 0.0f, 0.0f};
    dgBallSetConeLimits(joint, bad, 0.2f, 0.2f);
    dgBallSetConeLimits(joint, up, kInf, 0.2f);
    EXPECT_NEAR(ball->m_coneLimit, 3.0543239f, 1.0e-6f);

    for (const float s : {0.5f, -3.0f, 2.0f, kNaN, kInf}) {
        dgJointSetStiffness(joint, s);
        const float expected = std::isfinite(s) ? std::fmin(std::fmax(s, 0.0f), 1.0f) : 1.0f;
        EXPECT_FLOAT_EQ(dgJointGetStiffness(joint), expected) << s;
    }
    const float pin[3] = {0.0f, 0.0f, 2.0f};
    dgConstraint* upright = dgCreateUpVectorJoint(rig.world, pin, body);
    EXPECT_NEAR(dgJointGetStiffness(upright), 0.995f, 1.0e-6f);
    const float none[3] = {0.0f, 0.0f, 0.0f};
    dgUpVectorSetPin(upright, bad);
    dgUpVectorSetPin(upright, up);
    dgUpVectorSetPin(upright, none);
    float got[3];
    dgUpVectorGetPin(upright, got);
    EXPECT_FLOAT_EQ(got[1], 1.0f);
}

// A pivot at the child's origin gives the child's x axis as the pin; a cone
// from -0.5 to 1.5 is a cone of 1.0 about a frame turned by 0.5 about the
// pin, both bodies' frames alike, the pin and the pivot kept.
TEST(JointSettings, BallFramesFollowThePivotAndTheConesMiddle) {
    Rig rig;
    dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 0.0);
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    dgBallJoint* ball = static_cast<dgBallJoint*>(dgCreateBallJoint(rig.world, origin, body, nullptr));
    ASSERT_NE(ball, nullptr);
    EXPECT_NEAR(dot(testsupport::toD3(ball->m_localMatrix0.front), D3{1, 0, 0}), 1.0, 1.0e-6);
    const dgVector pin(0.0f, 0.0f, 1.0f, 0.0f);
    const dgVector second(1.0f, 0.0f, 0.0f, 0.0f);
    ball->setLimits(pin, -1.0f, 1.0f, 0.3f, second);
    const dgMatrix even = ball->m_localMatrix0;
    ball->setLimits(pin, -0.5f, 1.5f, 0.3f, second);
    EXPECT_NEAR(ball->m_coneLimit, 1.0f, 1.0e-6f);
    const dgMatrix& turned = ball->m_localMatrix0;
    EXPECT_NEAR(dot(testsupport::toD3(turned.front), testsupport::toD3(even.front)), 1.0, 1.0e-6);
    for (int32_t k = 1; k < 3; k++) {
        EXPECT_NEAR(dot(testsupport::toD3(turned[k]), testsupport::toD3(even[k])), std::cos(0.5), 1.0e-5);
        EXPECT_NEAR(length(testsupport::toD3(turned[k]) - testsupport::toD3(ball->m_localMatrix1[k])), 0.0,
                    1.0e-6);
    }
    EXPECT_NEAR(length(testsupport::toD3(turned.position) - testsupport::toD3(even.position)), 0.0, 1.0e-6);
}

// The row setters act on the last row: stiffness 0.5 gives the regulariser
// 50.5 (2 gives 1, -1 gives 100); the "minimum" friction sets the upper
// bound, at least 0.05, the "maximum" the lower one, at most -0.05.
TEST(JointSettings, UserRowSettersClampAndBoundTheLastRow) {
    struct Seen {
        float regulariser[3];
        dgJointRowBound bound[3];
        float accel;
    } seen{};
    Rig rig;
    dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 0.0);
    dgConstraint* joint = dgCreateUserJoint(
        rig.world, 3,
        [](dgConstraint* j) {
            Seen& s = *static_cast<Seen*>(dgJointGetUserData(j));
            const float pin[3] = {0.0f, 1.0f, 0.0f};
            const float stiffness[3] = {0.5f, 2.0f, -1.0f};
            for (int32_t r = 0; r < 3; r++) {
                dgUserJointAddAngularRow(j, 0.0f, pin);
                dgUserJointSetRowStiffness(j, stiffness[r]);
                dgUserJointSetRowStiffness(j, kNaN);
            }
            dgUserJointSetRowMinimumFriction(j, 0.01f);
            dgUserJointSetRowMaximumFriction(j, 0.0f);
            dgUserJointSetRowAcceleration(j, 3.0f);
            dgUserJointSetRowAcceleration(j, kInf);
            const dgJointRowBlock& block = *static_cast<dgUserJoint*>(j)->m_rowBlock;
            for (int32_t r = 0; r < 3; r++) {
                s.regulariser[r] = block.regularisers[r];
                s.bound[r] = block.bounds[r];
            }
            s.accel = block.rightHandSides[2];
        },
        body, nullptr);
    dgJointSetUserData(joint, &seen);
    rig.step();
    EXPECT_FLOAT_EQ(seen.regulariser[0], 50.5f);
    EXPECT_FLOAT_EQ(seen.regulariser[1], 1.0f);
    EXPECT_FLOAT_EQ(seen.regulariser[2], 100.0f);
    EXPECT_EQ(seen.bound[1].normalIndex, int32_t(dgRowOrdinary));
    EXPECT_EQ(seen.bound[2].normalIndex, int32_t(dgRowBounded));
    EXPECT_FLOAT_EQ(seen.bound[2].upper, 0.05f);
    EXPECT_FLOAT_EQ(seen.bound[2].lower, -0.05f);
    EXPECT_FLOAT_EQ(seen.accel, 3.0f);
    // Outside the callback the setters find no row.
    dgUserJointSetRowAcceleration(joint, 1.0f);
    const float pin[3] = {0.0f, 1.0f, 0.0f};
    dgUserJointAddAngularRow(joint, 0.0f, pin);
    EXPECT_EQ(static_cast<dgUserJoint*>(joint)->m_rowCount, 3);
}

// ---- refusals ----

// A user joint's rows stop at its maximum, which stops at 48, whatever its
// callback adds; rows with non-finite input or a zero direction are not
// added at all. The solver takes what was added.
TEST(JointRefusals, UserRowsStopAtTheMaximumAndRefuseBadInput) {
    Rig rig;
    dgMatrix pose = dgGetIdentityMatrix();
    dgBody* body = rig.box(pose, 1.0f, D3{1, 1, 1}, 10.0);
    const auto overfill = [](dgConstraint* j) {
        const D3 at = positionOf(static_cast<const dgBody*>(dgJointGetUserData(j)));
        const float here[3] = {float(at.x), float(at.y), float(at.z)};
        const float p[3] = {0.0f, 0.0f, 0.0f};
        const float dirs[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        const float bad[3] = {kNaN, 0.0f, 0.0f};
        const float zero[3] = {0.0f, 0.0f, 0.0f};
        dgUserJointAddLinearRow(j, p, p, zero);
        dgUserJointAddLinearRow(j, bad, p, dirs[0]);
        dgUserJointAddAngularRow(j, kInf, dirs[0]);
        const float j0[6] = {kNaN, 0, 0, 0, 0, 0};
        dgUserJointAddGeneralRow(j, j0, j0);
        EXPECT_EQ(static_cast<dgUserJoint*>(j)->m_rowCount, 0);
        for (int32_t r = 0; r < 100; r++) {
            dgUserJointAddLinearRow(j, here, p, dirs[r % 3]);
        }
    };
    for (const int32_t asked : {-5, 4, 6, 7, 100}) {
        dgConstraint* joint = dgCreateUserJoint(rig.world, asked, overfill, body, nullptr);
        dgJointSetUserData(joint, body);
        const int32_t rows = std::min(std::max(asked, 0), 48);
        EXPECT_EQ(int32_t(static_cast<dgUserJoint*>(joint)->m_maxRows), rows);
        rig.step(20);
        EXPECT_EQ(static_cast<dgUserJoint*>(joint)->m_rowCount, rows);
        EXPECT_EQ(dgUserJointGetRowForce(joint, rows), 0.0f);
        EXPECT_EQ(dgUserJointGetRowForce(joint, -1), 0.0f);
        dgDestroyJoint(rig.world, joint);
    }
    // Three rows to the world hold the body's centre there against gravity.
    EXPECT_NEAR(positionOf(body).y, 0.0, 1.0e-3);
}

// Creation refuses non-finite pins (non-finite pivots are test_flat_limits'
// PivotScale), zero pins, bodies of another world, no child, and a child
// that is its own parent; a callback's non-finite descriptor adds no row.
TEST(JointRefusals, NonFiniteOrMismatchedInputMakesNoJoint) {
    Rig rig;
    Rig other;
    dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 10.0);
    dgBody* stranger = other.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 10.0);
    const float ok[3] = {0.0f, 1.0f, 0.0f};
    const float x[3] = {1.0f, 0.0f, 0.0f};
    const float nan[3] = {0.0f, kNaN, 0.0f};
    const float inf[3] = {kInf, 0.0f, 0.0f};
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const float huge[3] = {3.0e30f, 3.0e30f, 0.0f};
    for (const float* bad : {nan, inf}) {
        EXPECT_EQ(dgCreateSliderJoint(rig.world, ok, bad, body, nullptr), nullptr);
        EXPECT_EQ(dgCreateUniversalJoint(rig.world, ok, x, bad, body, nullptr), nullptr);
        EXPECT_EQ(dgCreateUpVectorJoint(rig.world, bad, body), nullptr);
    }
    for (const float* pin : {zero, huge}) {
        EXPECT_EQ(dgCreateHingeJoint(rig.world, ok, pin, body, nullptr), nullptr);
        EXPECT_EQ(dgCreateUniversalJoint(rig.world, ok, pin, x, body, nullptr), nullptr);
        EXPECT_EQ(dgCreateUpVectorJoint(rig.world, pin, body), nullptr);
    }
    EXPECT_EQ(dgCreateHingeJoint(rig.world, ok, x, stranger, nullptr), nullptr);
    EXPECT_EQ(dgCreateHingeJoint(rig.world, ok, x, body, stranger), nullptr);
    EXPECT_EQ(dgCreateHingeJoint(rig.world, ok, x, body, body), nullptr);
    EXPECT_EQ(dgCreateUserJoint(rig.world, 6, nullptr, nullptr, body), nullptr);
    EXPECT_EQ(dgCreateBallJoint(nullptr, ok, body, nullptr), nullptr);
    EXPECT_EQ(rig.world->m_jointCount, 0u);

    // A hinge whose callback asks for a row with a non-finite acceleration
    // or crossed bounds swings as a free pendulum.
    dgConstraint* hinge = dgCreateHingeJoint(rig.world, ok, x, body, nullptr);
    dgHingeSetUserCallback(hinge, [](dgConstraint*, dgJointUserDescriptor* desc) -> uint32_t {
        static int32_t call = 0;
        desc->m_accel = (call % 2) ? kNaN : 0.0f;
        desc->m_minFriction = (call % 2) ? 0.0f : 1.0f;
        desc->m_maxFriction = (call++ % 2) ? 0.0f : -1.0f;
        return 1;
    });
    for (int32_t call = 0; call < 2; call++) {
        int32_t rows = 0;
        EXPECT_TRUE(rowsFinite(hinge, &rows));
        EXPECT_EQ(rows, 5);
    }
    const float push[3] = {0.0f, 0.0f, 2.0f};
    dgBodySetVelocity(body, push);
    rig.step(60);
    EXPECT_NEAR(length(positionOf(body) - D3{0, 1, 0}), 1.0, 0.01);
    EXPECT_GT(std::fabs(dgHingeGetJointAngle(hinge)), 0.1f);
}

// A universal joint given parallel pins (or none for pin1) takes a pin
// across pin0; one whose pins a violent pose lays along each other, like a
// ball joint past its cone whose pins a pose turns exactly opposite, writes
// finite rows and survives.
TEST(JointRefusals, ParallelOrOppositePinsGiveFiniteRows) {
    {
        Rig rig;
        dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{0.2, 0.2, 0.2}, 10.0);
        const float pivot[3] = {0.0f, 1.0f, 0.0f};
        dgConstraint* ball = dgCreateBallJoint(rig.world, pivot, body, nullptr);
        dgBallSetConeLimits(ball, pivot, 0.5f, 0.5f);
        const float flipped[16] = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 2, 0, 1};
        dgBodySetMatrix(body, flipped);
        int32_t rows = 0;
        EXPECT_TRUE(rowsFinite(ball, &rows));
        EXPECT_GE(rows, 5);
        rig.step(60);
        EXPECT_TRUE(std::isfinite(positionOf(body).x + positionOf(body).y + positionOf(body).z));
    }
    const float pins[3][3] = {{1.0f, 0.0f, 0.0f}, {-2.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}};
    for (const float* pin1 : pins) {
        Rig rig;
        dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{0.2, 0.2, 0.2}, 10.0);
        const float pivot[3] = {0.0f, 1.0f, 0.0f};
        const float pin0[3] = {1.0f, 0.0f, 0.0f};
        dgConstraint* joint = dgCreateUniversalJoint(rig.world, pivot, pin0, pin1, body, nullptr);
        ASSERT_NE(joint, nullptr);
        const dgMatrix& frame = static_cast<dgUniversalJoint*>(joint)->m_localMatrix1;
        EXPECT_NEAR(dot(testsupport::toD3(frame.front), testsupport::toD3(frame.up)), 0.0, 1.0e-6);
        EXPECT_NEAR(length(testsupport::toD3(frame.up)), 1.0, 1.0e-6);
        rig.step(30);
        // Turned a quarter about z: the child's pin0 (its x axis) lies exactly
        // along the world's pin1 (y).
        ASSERT_EQ(dot(testsupport::toD3(frame.up), D3{0, 1, 0}), 1.0);
        const float turned[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        dgBodySetMatrix(body, turned);
        EXPECT_TRUE(rowsFinite(joint));
        rig.step(60);
        EXPECT_TRUE(std::isfinite(positionOf(body).x + positionOf(body).y + positionOf(body).z));
        EXPECT_TRUE(std::isfinite(dgUniversalGetJointAngle0(joint) + dgUniversalGetJointAngle1(joint)));
        EXPECT_LT(length(positionOf(body) - D3{0, 1, 0}), 1.5);
    }
}

// Each getter and setter of one type ignores the others' joints and null.
TEST(JointRefusals, AccessorsOfOneTypeIgnoreJointsOfAnother) {
    Rig rig;
    dgBody* body = rig.box(dgGetIdentityMatrix(), 1.0f, D3{1, 1, 1}, 10.0);
    const float pivot[3] = {0.0f, 1.0f, 0.0f};
    std::vector<dgConstraint*> joints;
    for (Type type : kTypes) {
        joints.push_back(makeJoint(type, rig.world, body, nullptr, pivot));
    }
    joints.push_back(nullptr);
    const float pin[3] = {0.0f, 1.0f, 0.0f};
    const dgJointUserDescriptor desc{0.0f, -1.0e15f, 1.0e15f, 0.01f};
    rig.step(10);
    for (size_t i = 0; i < joints.size(); i++) {
        dgConstraint* j = joints[i];
        const Type type = (i < 7) ? kTypes[i] : Type::User;
        const bool null = (j == nullptr);
        float out[3] = {1.0f, 1.0f, 1.0f};
        if (null || (type != Type::Hinge)) {
            dgHingeSetUserCallback(j, nullptr);
            EXPECT_EQ(dgHingeCalculateStopAlpha(j, &desc, 5.0f), 0.0f);
        }
        if (null || (type != Type::Universal)) {
            EXPECT_EQ(dgUniversalGetJointOmega1(j), 0.0f);
            dgUniversalGetJointForce(j, out);
            EXPECT_EQ(out[0] + out[1] + out[2], 0.0f);
        }
        if (null || (type != Type::Ball)) {
            dgBallSetConeLimits(j, pin, 0.5f, 0.5f);
        }
        if (null || (type != Type::User)) {
            dgUserJointAddAngularRow(j, 1.0f, pin);
            EXPECT_EQ(dgUserJointGetRowForce(j, 0), 0.0f);
        }
        if (null || (type != Type::UpVector)) {
            dgUpVectorSetPin(j, pin);
        }
        if (null) {
            EXPECT_EQ(dgJointGetStiffness(j), 0.0f);
            EXPECT_EQ(dgJointGetUserData(j), nullptr);
            dgDestroyJoint(rig.world, j);
        }
    }
    // The ball kept its limits off, and nothing else broke.
    EXPECT_EQ(static_cast<dgBallJoint*>(joints[0])->m_limitFlags, 0u);
    rig.step(10);
    EXPECT_TRUE(std::isfinite(positionOf(body).y));
}

}  // namespace

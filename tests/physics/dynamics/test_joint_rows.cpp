// Two-body joints, user joints, the row builders and the contact rows. Rows
// are judged by what solving one of them alone does to the bodies (a double
// precision reference), not by their arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <string>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgContact.h"
#include "dgJointRows.h"
#include "dgUserJointBase.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

class RowJoint : public dgUserJointBase {
public:
    RowJoint(dgWorld* world, dgBody* body0, dgBody* body1, int32_t offset)
        : dgUserJointBase(world, body0, body1, offset) {}
    int32_t submitRows(dgJointRowBlock&) override { return 0; }
};

dgBody randomBody(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f), inv(0.2f, 2.0f);
    dgBody body(placedBody(randomPose(rng, 3.0f)));
    body.m_invMass = dgVector(inv(rng), inv(rng), inv(rng), inv(rng));
    body.m_globalCentreOfMass = body.m_matrix.transformVector(dgVector(u(rng), u(rng), u(rng), 0.0f));
    body.m_veloc = dgVector(u(rng), u(rng), u(rng), 0.0f).scale(3.0f);
    body.m_omega = dgVector(u(rng), u(rng), u(rng), 0.0f).scale(2.0f);
    return body;
}

D3 part(const float* jacobian, int32_t offset) {
    return D3{jacobian[offset], jacobian[offset + 1], jacobian[offset + 2]};
}

// Accelerations of body0 and body1 (linear, angular) that solve one unbounded
// row alone: J . a = right-hand side. A null body is the static world.
struct Accel {
    D3 linear[2];
    D3 angular[2];
};
Accel solveRow(const dgJointRowBlock& block, int32_t row, const dgBody* b0, const dgBody* b1) {
    const float* j = block.jacobians[row];
    const dgBody* bodies[2] = {b0, b1};
    Accel a{};
    double diagonal = 0.0;
    for (int32_t k = 0; k < 2; ++k) {
        if (bodies[k]) {
            a.linear[k] = part(j, 8 * k) * bodies[k]->m_invMass.w;
            for (int32_t i = 0; i < 3; ++i) {
                const D3 axis = toD3(bodies[k]->m_matrix[i]);
                a.angular[k] = a.angular[k] + axis * (dot(axis, part(j, 8 * k + 4)) * bodies[k]->m_invMass[i]);
            }
            diagonal += dot(part(j, 8 * k), a.linear[k]) + dot(part(j, 8 * k + 4), a.angular[k]);
        }
    }
    const double force = block.rightHandSides[row] / diagonal;
    for (int32_t k = 0; k < 2; ++k) {
        a.linear[k] = a.linear[k] * force;
        a.angular[k] = a.angular[k] * force;
    }
    return a;
}

// Velocity of point p as part of body, or with a given the acceleration the
// forces give it (the centripetal term left out, as the rows leave it);
// zero for the static world.
D3 pointMotion(const dgBody* body, const D3& p, const Accel* a = nullptr, int32_t k = 0) {
    const D3 r = p - (body ? toD3(body->m_globalCentreOfMass) : p);
    const D3 w = body ? toD3(body->m_omega) : D3{0, 0, 0};
    if (!a) {
        return body ? toD3(body->m_veloc) + cross(w, r) : D3{0, 0, 0};
    }
    return body ? a->linear[k] + cross(a->angular[k], r) : D3{0, 0, 0};
}

// A world, a row block and a contact between b0 (above) and b1 (below).
struct Rows : public ::testing::Test {
    Rows() : world(dgWorldCreate(nullptr, nullptr)), block(new dgJointRowBlock()) {
        setStep(0.01f);
        b0 = placedBody(translation(0.0f, 1.0f, 0.0f));
        b1 = placedBody(translation(0.0f, -1.0f, 0.0f));
        b0.m_globalCentreOfMass = b0.m_matrix.position;
        b1.m_globalCentreOfMass = b1.m_matrix.position;
        contact.m_body0 = &b0;
        contact.m_body1 = &b1;
    }
    void setStep(float h) {
        block->timestep = h;
        block->invTimestep = 1.0f / h;
    }
    // Normal up, friction directions x and z; softness 0.1, elasticity 0.4,
    // frictions 0.9 static and 0.5 kinetic.
    dgMaterialPair& addPoint(uint32_t flags, float penetration) {
        dgMaterialPair& p = contact.m_points.append()->getValue();
        p.normal = dgVector(0.0f, 1.0f, 0.0f, 0.0f);
        p.m_tangentDir0 = dgVector(1.0f, 0.0f, 0.0f, 0.0f);
        p.m_tangentDir1 = dgVector(0.0f, 0.0f, 1.0f, 0.0f);
        p.penetration = penetration;
        p.m_flags = flags;
        contact.m_pointCount = contact.m_points.getCount();
        return p;
    }
    ~Rows() override { dgWorldDestroy(world); }
    HookGuard guard;
    dgWorld* world;
    std::unique_ptr<dgJointRowBlock> block;
    dgBody b0, b1;
    dgContact contact;
};

}  // namespace

TEST_F(Rows, UserJointsStartAtDefaultsClampStiffnessAndFreeThemselves) {
    RowJoint* joint = dgUserJointBase::create<RowJoint>(world, &b0, &b1, 3);
    ASSERT_NE(joint, nullptr);
    EXPECT_FLOAT_EQ(joint->getStiffness(), 0.9f);
    EXPECT_FLOAT_EQ(joint->m_stiffness, 1.4f);
    EXPECT_EQ(joint->m_collisionState, 0);
    EXPECT_EQ(joint->m_maxRows, 6);
    EXPECT_EQ(joint->m_typeId, dgJointTypeDefault + 3);
    EXPECT_EQ(dgWorldFindJointLink(&b0, &b1)->m_joint, joint);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float cases[][3] = {{-3.0f, 5.0f, 0.0f}, {2.0f, 1.0f, 1.0f}, {nan, 5.0f, 0.0f}, {0.25f, 4.0f, 0.25f}};
    for (const auto& c : cases) {
        joint->setStiffness(c[0]);
        EXPECT_EQ(joint->m_stiffness, c[1]) << c[0];
        EXPECT_EQ(joint->getStiffness(), c[2]) << c[0];
    }
    {
        // The links come from pages already there: only joint blocks count.
        MemoryBalance balance(false);
        EXPECT_EQ(dgUserJointBase::create<RowJoint>(world, &b0, &b0, 0), nullptr);
        RowJoint* second = dgUserJointBase::create<RowJoint>(world, &b1, nullptr, 0);
        ASSERT_NE(second, nullptr);
        static int32_t destroyed = 0;
        second->setDestructorCallback([](dgConstraint*) { ++destroyed; });
        second->release();
        EXPECT_EQ(destroyed, 1);
    }
    joint->release();
}

// Frames from random pins and poses: orthonormal and right-handed, front on
// the pin, both frames together when made; a turn of body1 about the pin
// reads back as the first relative angle.
TEST_F(Rows, JointFramesFollowThePinAndReportRelativeTurns) {
    RowJoint* joint = dgUserJointBase::create<RowJoint>(world, &b0, &b1, 0);
    ASSERT_NE(joint, nullptr);
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> angle(-1.2f, 1.2f);
    for (int32_t i = 0; i < 500; ++i) {
        joint->m_body1 = (i % 4 == 3) ? nullptr : &b1;
        b0.m_matrix = randomPose(rng, 5.0f);
        b1.m_matrix = randomPose(rng, 5.0f);
        const dgVector pin = (i < 2) ? dgVector(0.0f, 0.0f, i ? -3.0f : 3.0f, 0.0f) : randomUnit(rng).scale(2.5f);
        const dgVector pivot = randomPose(rng, 4.0f).position;
        if (i % 2) {
            joint->setPivotAndTwoPins(pivot, pin, randomUnit(rng));
        } else {
            joint->setPinAndPivot(pivot, pin);
        }
        dgMatrix g0, g1;
        const dgVector still = joint->calculateGlobalMatrices(g0, g1);
        for (int32_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(still[k], 0.0f, 1e-4f);
            EXPECT_NEAR(g0.position[k], pivot[k], 1e-4f);
            EXPECT_NEAR(g0.front[k], toD3(pin)[k] / length(toD3(pin)), 1e-5);
            EXPECT_NEAR(length(toD3(g0[k])), 1.0, 1e-5);
            EXPECT_EQ(g0[k].w, 0.0f);
        }
        EXPECT_NEAR(length(cross(toD3(g0.front), toD3(g0.up)) - toD3(g0.right)), 0.0, 1e-5);
        if (joint->m_body1) {
            const float a = angle(rng);
            b1.m_matrix = b1.m_matrix.multiply(g0.inverse().multiply(dgRotationMatrixX(a)).multiply(g0));
            EXPECT_NEAR(joint->calculateGlobalMatrices(g0, g1).x, a, 1e-4f);
        }
    }
    joint->release();
}

// One positional or angular row solved alone gives the relative acceleration
// that takes the error's rate out and closes half the error over the step
// (an anti-spring would pull the other way), and the spring-damper
// acceleration of a row is the implicit 1500 / 100 spring, for random
// bodies, points and directions, with and without body1.
TEST_F(Rows, LinearAndAngularRowsPullTheErrorBack) {
    setStep(1.0f / 60.0f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const double h = block->timestep, k = 1500.0 * h + 100.0;
    contact.m_maxRows = 2;
    for (int32_t i = 0; i < 2000; ++i) {
        b0 = randomBody(rng);
        b1 = randomBody(rng);
        contact.m_body1 = (i % 3) ? &b1 : nullptr;
        const dgVector p0 = b0.m_globalCentreOfMass.add(dgVector(u(rng), u(rng), u(rng), 0.0f));
        const dgVector p1 = p0.add(dgVector(u(rng), u(rng), u(rng), 0.0f).scale(0.2f));
        const dgVector d = randomUnit(rng);
        const D3 dir = toD3(d), q0 = toD3(p0), q1 = toD3(p1);
        dgPointKinematics kin;
        dgJointPointKinematics(&contact, p0, p1, 0.7f, kin);
        ASSERT_TRUE(dgJointAddLinearRow(&contact, 0, *block, d, kin, nullptr));
        const double e = dot(q1 - q0, dir);
        const double v = dot(pointMotion(contact.m_body1, q1) - pointMotion(&b0, q0), dir);
        const double closing = (v + 0.5 * e / h) / h;
        const double spring = (k * v + 1500.0 * e) / (k * h + 1.0);
        const Accel a = solveRow(*block, 0, &b0, contact.m_body1);
        const double relative = dot(pointMotion(contact.m_body1, q1, &a, 1) - pointMotion(&b0, q0, &a, 0), dir);
        EXPECT_NEAR(relative, -closing, 1e-3 * (1.0 + std::fabs(closing))) << i;
        EXPECT_NEAR(dgJointSpringDamperAcceleration(&contact, 0, *block, float(e), 1500.0f, 100.0f), spring,
                    1e-3 * (1.0 + std::fabs(spring)));
        EXPECT_EQ(block->regularisers[0], 0.7f);

        const float error = u(rng);
        ASSERT_TRUE(dgJointAddAngularRow(&contact, 1, *block, d, 1.4f, error, nullptr));
        const D3 omega1 = contact.m_body1 ? toD3(b1.m_omega) : D3{0, 0, 0};
        const double turn = (dot(omega1 - toD3(b0.m_omega), dir) + 0.5 * error / h) / h;
        const Accel b = solveRow(*block, 1, &b0, contact.m_body1);
        EXPECT_NEAR(dot(b.angular[1] - b.angular[0], dir), -turn, 1e-3 * (1.0 + std::fabs(turn))) << i;
        if (!contact.m_body1) {
            EXPECT_EQ(length(part(block->jacobians[1], 12)), 0.0);
        }
    }
}

namespace {
struct ContactCase {
    const char* name;
    float penetration, approach, slip;  // approach: closing speed along the normal
    uint32_t flags;
    int32_t rows;
    float normalRhsTimesH, frictionBound;
};
void PrintTo(const ContactCase& c, std::ostream* os) {
    *os << c.name;
}
class ContactPointRows : public Rows, public ::testing::WithParamInterface<ContactCase> {};
}  // namespace

TEST_P(ContactPointRows, OnePointRowsFollowTheMaterial) {
    const ContactCase& c = GetParam();
    b1.m_veloc = dgVector(c.slip, c.approach, 0.0f, 0.0f);
    dgMaterialPair& p = addPoint(c.flags, c.penetration);
    p.m_normalAcceleration = 5.0f;
    p.m_tangentAcceleration0 = 7.0f;
    ASSERT_EQ(contact.submitRows(*block), c.rows);
    EXPECT_FLOAT_EQ(block->rightHandSides[0] * block->timestep, c.normalRhsTimesH);
    EXPECT_EQ(block->jacobians[0][1], 1.0f);   // J0 = n
    EXPECT_EQ(block->jacobians[0][9], -1.0f);  // J1 = -n
    if (c.rows > 1) {
        EXPECT_EQ(block->bounds[1].upper, c.frictionBound);
        EXPECT_FLOAT_EQ(block->rightHandSides[1], (c.flags & dgMaterialFlagTangentAccel0) ? 7.0f : c.slip / 0.01f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Material, ContactPointRows,
    ::testing::Values(ContactCase{"deepPenetrationIsCapped", 2.0f, 0.0f, 0.0f, 0x1, 1, 0.5f * 0.1f * 10.0f, 0.0f},
                      ContactCase{"slowApproachNoBounce", 0.0f, 0.0005f, 0.0f, 0x1, 1, 0.0005f, 0.0f},
                      ContactCase{"fastApproachBounces", 0.0f, 0.002f, 0.0f, 0x1, 1, 0.002f * 1.4f, 0.0f},
                      ContactCase{"userNormalAcceleration", 0.0f, 0.0f, 0.0f, 0x21, 1, 5.0f * 0.01f, 0.0f},
                      ContactCase{"bothFrictions", 0.0f, 0.0f, 0.0f, 0x7, 3, 0.0f, 0.9f},
                      ContactCase{"slipAtLimitIsStatic", 0.0f, 0.0f, 0.3f, 0x3, 2, 0.0f, 0.9f},
                      ContactCase{"slipPastLimitIsKinetic", 0.0f, 0.0f, 0.31f, 0x3, 2, 0.0f, 0.5f},
                      ContactCase{"userTangentAcceleration", 0.0f, 0.0f, 0.0f, 0xB, 2, 0.0f, 0.9f}),
    [](const ::testing::TestParamInfo<ContactCase>& info) { return std::string(info.param.name); });

// Points after another joint's rows: every row written carries its own whole
// bound record and regulariser (the solver resets only max-rows records);
// normal rows first, then friction rows in point order.
TEST_F(Rows, EveryContactRowWritesItsWholeBoundRecord) {
    std::mt19937 rng(5);
    float other = 0.0f;
    for (int32_t r = 0; r < dgJointRowBlock::kMaxRows; ++r) {
        block->bounds[r] = dgJointRowBound{-3.0f, 3.0f, 1, &other};
        block->regularisers[r] = 9.0f;
    }
    const uint32_t flags[] = {0x7, 0x1, 0x3, 0x5, 0x7};
    for (int32_t i = 0; i < 5; ++i) {
        addPoint(flags[i], 0.0f).point = randomUnit(rng);
    }
    contact.m_maxRows = 15;
    ASSERT_EQ(contact.submitRows(*block), 11);
    int32_t row = 5, i = 0;
    for (auto* node = contact.m_points.getFirst(); node; node = node->getNext(), ++i) {
        dgMaterialPair& p = node->getValue();
        const dgJointRowBound& normal = block->bounds[i];
        EXPECT_TRUE((normal.lower == 0.0f) && (normal.upper == 1e15f) && (normal.normalIndex == dgRowOneSided));
        EXPECT_EQ(normal.forceSlot, &p.m_normalAcceleration);
        EXPECT_EQ(block->regularisers[i], 1.0f);
        for (int32_t dir = 0; dir < 2; ++dir) {
            if (p.m_flags & (dgMaterialFlagFriction0 << dir)) {
                const dgJointRowBound& f = block->bounds[row];
                EXPECT_EQ(f.normalIndex, i);
                EXPECT_EQ(f.forceSlot, dir ? &p.m_tangentAcceleration1 : &p.m_tangentAcceleration0);
                EXPECT_TRUE(((f.upper == 0.9f) || (f.upper == 0.5f)) && (f.lower == -f.upper));
                EXPECT_EQ(block->regularisers[row++], 1.0f);
            }
        }
    }
    EXPECT_EQ(block->bounds[11].forceSlot, &other);
}

// Rows past the joint's max rows or past the block are refused.
TEST_F(Rows, RowsPastMaxRowsAreRefused) {
    for (int32_t i = 0; i < 17; ++i) {
        addPoint(0x7, 0.0f);
    }
    contact.m_pointCount = 2;
    contact.m_maxRows = 3;
    const float jacobian[6] = {1, 0, 0, 0, 0, 0};
#if defined(DG_ENABLE_ASSERT) && DG_ENABLE_ASSERT
    EXPECT_DEATH(contact.submitRows(*block), "assertion failed");
    contact.m_pointCount = 17;
    contact.m_maxRows = 51;
    EXPECT_DEATH(contact.submitRows(*block), "assertion failed");
    EXPECT_DEATH(dgJointAddGeneralRow(&contact, 48, *block, jacobian, jacobian, nullptr), "assertion failed");
#else
    EXPECT_EQ(contact.submitRows(*block), 3);
    contact.m_pointCount = 17;
    contact.m_maxRows = 51;
    EXPECT_EQ(contact.submitRows(*block), dgJointRowBlock::kMaxRows);
    EXPECT_FALSE(dgJointAddGeneralRow(&contact, 48, *block, jacobian, jacobian, nullptr));
#endif
}

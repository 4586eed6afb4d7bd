#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ContactTestWorld.h"
#include "CountingHooks.h"
#include "dgContactPersistence.h"

namespace {

using namespace contacttest;

// Generated-point stand-in: position, normal (from b towards a), depth,
// stamped with a and b and their shapes as the generators stamp them.
dgContactPoint pointOf(dgBody* a, dgBody* b, const dgVector& p, const dgVector& n, float penetration = 0.0f) {
    dgContactPoint c;
    c.point = dgVector(p.x, p.y, p.z, 1.0f);
    c.normal = dgVector(n.x, n.y, n.z, 0.0f);
    c.body0 = a;
    c.body1 = b;
    c.collision0 = a->m_collision;
    c.collision1 = b->m_collision;
    c.userId = 7;
    c.penetration = penetration;
    return c;
}

// Points on the x axis at 0, 1, 2, ... (distinct places), normal +y.
std::vector<dgContactPoint> row(dgBody* a, dgBody* b, int32_t count, float y = 0.0f) {
    std::vector<dgContactPoint> out;
    for (int32_t i = 0; i < count; ++i) {
        out.push_back(pointOf(a, b, dgVector(float(i), y, 0.0f, 1.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f)));
    }
    return out;
}

void merge(dgWorld* world, dgContact* joint, dgBody* a, dgBody* b, dgMaterialPair* material,
           const std::vector<dgContactPoint>& points) {
    dgWorldProcessContacts(world, joint, a, b, material, int32_t(points.size()), points.data());
}

void expectNear(const dgVector& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// Two boxes of different sizes (so their shapes differ), A above B.
struct PairScene {
    ContactWorld scene;
    dgBody* a;
    dgBody* b;
    dgMaterialPair* material;
    PairScene(float invMassA, float invMassB)
        : a(scene.addBox(1.0f, 1.0f, 1.0f, turned(0.3f, 0.2f, 0.1f, dgVector(0.5f, 1.0f, 0.0f, 1.0f)), invMassA)),
          b(scene.addBox(8.0f, 1.0f, 8.0f, translation(0.0f, -0.5f, 0.0f), invMassB)),
          material(dgWorldGetMaterialPair(scene.world(), 0, 0)) {}
    dgWorld* world() const { return scene.world(); }
};

// ---- orientation: everything stored follows the joint's bodies ----

struct OrientationCase {
    const char* name;
    float invMassA;
    float invMassB;
    // A first merge that makes the joint with the bodies in this order
    // (true: b first); none when the checked merge makes it.
    bool madeBefore;
    bool madeReversed;
    // The checked merge: true passes b first.
    bool reversed;
    // Joint's body0 is a.
    bool body0IsA;
};

class ContactOrientation : public testing::TestWithParam<OrientationCase> {};

TEST_P(ContactOrientation, NormalsPointFromBody1TowardsBody0) {
    const OrientationCase& c = GetParam();
    PairScene s(c.invMassA, c.invMassB);
    if (c.madeBefore) {
        dgBody* first = c.madeReversed ? s.b : s.a;
        dgBody* second = c.madeReversed ? s.a : s.b;
        merge(s.world(), nullptr, first, second, s.material, row(first, second, 2));
    }
    dgBody* first = c.reversed ? s.b : s.a;
    dgBody* second = c.reversed ? s.a : s.b;
    // Normals as a generator gives them: from the second body of the call
    // towards the first.
    const dgVector given = c.reversed ? dgVector(0.0f, -1.0f, 0.0f, 0.0f) : dgVector(0.0f, 1.0f, 0.0f, 0.0f);
    std::vector<dgContactPoint> points;
    for (int32_t i = 0; i < 3; ++i) {
        points.push_back(pointOf(first, second, dgVector(0.1f * float(i), 0.0f, 0.2f * float(i * i), 1.0f), given));
    }
    merge(s.world(), contactOf(s.a, s.b), first, second, s.material, points);

    dgContact* joint = contactOf(s.a, s.b);
    ASSERT_NE(joint, nullptr);
    dgBody* body0 = c.body0IsA ? s.a : s.b;
    dgBody* body1 = c.body0IsA ? s.b : s.a;
    EXPECT_EQ(joint->m_body0, body0);
    EXPECT_EQ(joint->m_body1, body1);
    EXPECT_EQ(joint->m_pointCount, 3);
    EXPECT_EQ(joint->m_maxRows, 9);
    // a lies above b: from b towards a is +y.
    const float up = c.body0IsA ? 1.0f : -1.0f;
    for (dgMaterialPair* p : pointsOf(joint, joint->m_pointCount)) {
        expectNear(p->normal, 0.0f, up, 0.0f);
        EXPECT_EQ(p->body0, body0);
        EXPECT_EQ(p->body1, body1);
        EXPECT_EQ(p->collision0, body0->m_collision);
        EXPECT_EQ(p->collision1, body1->m_collision);
        EXPECT_EQ(p->userId, 7);
        // Local points are the point in each body's own frame.
        expectNear(body0->m_matrix.transformVector(p->localPoint0), p->point.x, p->point.y, p->point.z);
        expectNear(body1->m_matrix.transformVector(p->localPoint1), p->point.x, p->point.y, p->point.z);
        EXPECT_EQ(p->localPoint0.w, 1.0f);
        // Frame: t0, t1 and the normal orthonormal, t1 = n x t0.
        EXPECT_NEAR(p->m_tangentDir0.dot(p->normal), 0.0f, 1e-6f);
        EXPECT_NEAR(p->m_tangentDir0.dot(p->m_tangentDir0), 1.0f, 1e-5f);
        const dgVector t1 = p->normal.cross(p->m_tangentDir0);
        expectNear(p->m_tangentDir1, t1.x, t1.y, t1.z);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Merge, ContactOrientation,
    testing::Values(OrientationCase{"NewJointInCallOrder", 1.0f, 1.0f, false, false, false, true},
                    OrientationCase{"StaticFirstIsSwapped", 0.0f, 1.0f, false, false, false, false},
                    OrientationCase{"StaticSecondKeepsOrder", 1.0f, 0.0f, false, false, false, true},
                    OrientationCase{"ExistingJointCalledReversed", 1.0f, 1.0f, true, false, true, true},
                    OrientationCase{"ExistingJointMadeReversed", 1.0f, 1.0f, true, true, false, false},
                    OrientationCase{"StaticFirstOnExistingJoint", 1.0f, 0.0f, true, false, true, true}),
    [](const testing::TestParamInfo<OrientationCase>& info) { return std::string(info.param.name); });

// ---- refusals ----

struct RefusalCase {
    const char* name;
    // Inactive nodes the joint holds before the checked merge.
    int32_t oldNodes;
    std::vector<int32_t> byAnswer;
    std::vector<int32_t> byFlag;
};

class ContactRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(ContactRefusal, RefusedPointsStayAmongTheInactiveNodes) {
    const RefusalCase& c = GetParam();
    PairScene s(1.0f, 1.0f);
    Script script;
    if (c.oldNodes > 0) {
        // Old nodes far from the new points, all left inactive.
        merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, c.oldNodes, 50.0f));
        script.refuseByAnswer = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        s.material->m_process = &Script::process;
        merge(s.world(), contactOf(s.a, s.b), s.a, s.b, s.material, row(s.a, s.b, c.oldNodes, 50.0f));
        ASSERT_EQ(contactOf(s.a, s.b)->m_pointCount, 0);
    }
    script.processCalls = 0;
    script.refuseByAnswer = c.byAnswer;
    script.refuseByFlag = c.byFlag;
    s.material->m_process = &Script::process;
    const int32_t count = 5;
    merge(s.world(), contactOf(s.a, s.b), s.a, s.b, s.material, row(s.a, s.b, count));

    dgContact* joint = contactOf(s.a, s.b);
    ASSERT_NE(joint, nullptr);
    std::vector<float> accepted;
    for (int32_t i = 0; i < count; ++i) {
        if (!Script::contains(c.byAnswer, i) && !Script::contains(c.byFlag, i)) {
            accepted.insert(accepted.begin(), float(i));
        }
    }
    ASSERT_EQ(joint->m_pointCount, int32_t(accepted.size()));
    EXPECT_EQ(joint->m_maxRows, 3 * accepted.size());
    // The current points, most recently accepted first, are exactly the
    // accepted ones.
    const std::vector<dgMaterialPair*> current = pointsOf(joint, joint->m_pointCount);
    for (size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_EQ(current[i]->point.x, accepted[i]) << "position " << i;
        EXPECT_EQ(current[i]->point.y, 0.0f);
        EXPECT_TRUE(current[i]->m_flags & dgMaterialFlagCollidable);
    }
    EXPECT_LE(joint->m_points.getCount(), c.oldNodes + count);
}

INSTANTIATE_TEST_SUITE_P(
    Merge, ContactRefusal,
    testing::Values(RefusalCase{"NewJointFirstRefused", 0, {0}, {}},
                    RefusalCase{"NewJointLastRefused", 0, {4}, {}},
                    RefusalCase{"NewJointAlternate", 0, {1, 3}, {}},
                    RefusalCase{"NewJointByFlag", 0, {}, {0, 2}},
                    RefusalCase{"NewJointAllRefused", 0, {0, 1, 2}, {3, 4}},
                    RefusalCase{"OldNodesRefused", 6, {0, 2}, {}},
                    RefusalCase{"FewOldNodesThenNewOnesRefused", 2, {3, 4}, {1}},
                    RefusalCase{"OldNodesAllRefused", 6, {0, 1, 2, 3, 4}, {}}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// ---- node reuse ----

TEST(ContactMerge, EachPointTakesTheNearestInactiveNode) {
    PairScene s(1.0f, 1.0f);
    Script script;
    // Six nodes at x = 0 .. 5, none active afterwards.
    merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, 6));
    dgContact* joint = contactOf(s.a, s.b);
    ASSERT_NE(joint, nullptr);
    script.refuseByAnswer = {0, 1, 2, 3, 4, 5};
    s.material->m_process = &Script::process;
    merge(s.world(), joint, s.a, s.b, s.material, row(s.a, s.b, 6));
    ASSERT_EQ(joint->m_pointCount, 0);
    std::vector<dgMaterialPair*> byX(6);
    for (dgMaterialPair* p : pointsOf(joint)) {
        byX[size_t(p->point.x)] = p;
    }
    s.material->m_process = nullptr;

    // Near x = 4, 1, 5, and then halfway between 2 and 3: the tie goes to
    // the node met first from the tail.
    const float xs[4] = {4.05f, 0.95f, 5.1f, 2.5f};
    std::vector<dgContactPoint> points;
    for (float x : xs) {
        points.push_back(pointOf(s.a, s.b, dgVector(x, 0.0f, 0.0f, 1.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f)));
    }
    // Whichever of the nodes at 2 and 3 lies nearer the tail.
    dgMaterialPair* tieWinner = nullptr;
    for (dgContactPointList::Node* n = joint->m_points.getLast(); n; n = n->getPrev()) {
        if (n->getValue().point.x == 2.0f || n->getValue().point.x == 3.0f) {
            tieWinner = &n->getValue();
            break;
        }
    }
    ASSERT_NE(tieWinner, nullptr);

    CountingHooks hooks(false);
    merge(s.world(), joint, s.a, s.b, s.material, points);
    EXPECT_EQ(hooks.allocCalls(), 0);

    EXPECT_EQ(joint->m_points.getCount(), 6);
    ASSERT_EQ(joint->m_pointCount, 4);
    const std::vector<dgMaterialPair*> list = pointsOf(joint);
    EXPECT_EQ(list[0], tieWinner);
    EXPECT_EQ(list[1], byX[5]);
    EXPECT_EQ(list[2], byX[1]);
    EXPECT_EQ(list[3], byX[4]);
    EXPECT_EQ(list[0]->point.x, 2.5f);
    EXPECT_EQ(list[3]->point.x, 4.05f);
}

// ---- friction frame ----

struct FrameCase {
    const char* name;
    dgVector normal;
    // Velocity of body1 (b) relative to a resting body0.
    dgVector velocity1;
    dgVector t0;
    dgVector t1;
};

class ContactFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(ContactFrame, FollowsTheSlideOrAFixedAxis) {
    const FrameCase& c = GetParam();
    PairScene s(1.0f, 1.0f);
    s.b->m_veloc = c.velocity1;
    merge(s.world(), nullptr, s.a, s.b, s.material, {pointOf(s.a, s.b, dgVector(0.5f, 0.5f, 0.0f, 1.0f), c.normal)});
    dgMaterialPair* p = pointsOf(contactOf(s.a, s.b), 1)[0];
    expectNear(p->m_tangentDir0, c.t0.x, c.t0.y, c.t0.z);
    expectNear(p->m_tangentDir1, c.t1.x, c.t1.y, c.t1.z);
}

INSTANTIATE_TEST_SUITE_P(
    Merge, ContactFrame,
    testing::Values(FrameCase{"NormalZ", dgVector(0, 0, 1, 0), dgVector(0, 0, 0, 0), dgVector(-1, 0, 0, 0),
                              dgVector(0, -1, 0, 0)},
                    FrameCase{"NormalY", dgVector(0, 1, 0, 0), dgVector(0, 0, 0, 0), dgVector(0, 0, 1, 0),
                              dgVector(1, 0, 0, 0)},
                    FrameCase{"SlidingAlongX", dgVector(0, 1, 0, 0), dgVector(2, 0, 0, 0), dgVector(1, 0, 0, 0),
                              dgVector(0, 0, -1, 0)},
                    // Speed 0.09: |vt|^2 = 0.0081 is no slide.
                    FrameCase{"CreepingIsNoSlide", dgVector(0, 1, 0, 0), dgVector(0.09f, 0, 0, 0),
                              dgVector(0, 0, 1, 0), dgVector(1, 0, 0, 0)},
                    // Motion along the normal is no slide either.
                    FrameCase{"ApproachingIsNoSlide", dgVector(0, 0, 1, 0), dgVector(0, 0, -3, 0),
                              dgVector(-1, 0, 0, 0), dgVector(0, -1, 0, 0)}),
    [](const testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

TEST(ContactMerge, FrictionFrameIsOrthonormalForAnyNormalAndMotion) {
    PairScene s(1.0f, 1.0f);
    std::mt19937 rng(1234);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::uniform_real_distribution<float> speed(0.0f, 0.3f);
    dgContact* joint = nullptr;
    for (int32_t i = 0; i < 3000; ++i) {
        dgVector n(g(rng), g(rng), g(rng), 0.0f);
        n = n * (1.0f / std::sqrt(n.dot(n)));
        s.b->m_veloc = dgVector(g(rng), g(rng), g(rng), 0.0f) * speed(rng);
        s.a->m_omega = dgVector(g(rng), g(rng), g(rng), 0.0f) * speed(rng);
        const dgVector p(g(rng), g(rng), g(rng), 1.0f);
        const dgContactPoint point = pointOf(s.a, s.b, p, n);
        dgWorldProcessContacts(s.world(), joint, s.a, s.b, s.material, 1, &point);
        joint = contactOf(s.a, s.b);
        const dgMaterialPair* m = pointsOf(joint, 1)[0];
        ASSERT_NEAR(m->m_tangentDir0.dot(m->m_tangentDir0), 1.0f, 1e-4f);
        ASSERT_NEAR(m->m_tangentDir1.dot(m->m_tangentDir1), 1.0f, 1e-4f);
        ASSERT_NEAR(m->m_tangentDir0.dot(n), 0.0f, 1e-4f);
        ASSERT_NEAR(m->m_tangentDir1.dot(n), 0.0f, 1e-4f);
        ASSERT_NEAR(m->m_tangentDir0.dot(m->m_tangentDir1), 0.0f, 1e-4f);
        // Right-handed: t1 = n x t0.
        ASSERT_NEAR(n.cross(m->m_tangentDir0).dot(m->m_tangentDir1), 1.0f, 1e-4f);
        // A fast slide sets the first direction.
        const dgVector r0 = m->point - s.a->m_matrix.position;
        const dgVector v = s.b->m_veloc - (s.a->m_veloc + s.a->m_omega.cross(r0));
        const dgVector vt = v - n * v.dot(n);
        if (vt.dot(vt) > 0.02f) {
            ASSERT_NEAR(vt.dot(m->m_tangentDir0), std::sqrt(vt.dot(vt)), 1e-3f);
        }
    }
    // One node served every merge.
    EXPECT_EQ(joint->m_points.getCount(), 1);
}

// ---- material values ----

// Marks the point as a callback with its own accelerations would.
int32_t giveAccelerations(dgMaterialPair* point, dgContact*) {
    point->m_flags |= dgMaterialFlagTangentAccel0 | dgMaterialFlagTangentAccel1 | dgMaterialFlagNormalAccel;
    point->m_softness = 0.77f;
    return 1;
}

class ContactMaterial : public testing::TestWithParam<bool> {};

TEST_P(ContactMaterial, PointsTakeThePairsValuesAndForgetGivenAccelerations) {
    const bool refresh = GetParam();
    PairScene s(1.0f, 1.0f);
    s.material->m_process = &giveAccelerations;
    merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, 3));
    dgContact* joint = contactOf(s.a, s.b);
    for (dgMaterialPair* p : pointsOf(joint)) {
        ASSERT_EQ(p->m_flags, dgMaterialDefaultFlags | 0x38u);
    }

    int32_t tag = 0;
    s.material->m_process = nullptr;
    s.material->m_userData = &tag;
    s.material->m_softness = 0.2f;
    s.material->m_elasticity = 0.3f;
    s.material->m_staticFriction0 = 1.1f;
    s.material->m_staticFriction1 = 1.2f;
    s.material->m_kineticFriction0 = 0.6f;
    s.material->m_kineticFriction1 = 0.7f;
    // No friction, no continuous: the points keep their own bit 6.
    s.material->m_flags = dgMaterialFlagCollidable;
    s.world()->m_stepStamp = 40;
    if (refresh) {
        dgWorldRefreshContacts(s.world(), joint, s.material, 3);
    } else {
        merge(s.world(), joint, s.a, s.b, s.material, row(s.a, s.b, 3));
    }
    EXPECT_EQ(joint->m_refreshStamp, 40u);
    EXPECT_EQ(joint->m_pointCount, 3);
    for (dgMaterialPair* p : pointsOf(joint)) {
        EXPECT_EQ(p->m_userData, &tag);
        EXPECT_EQ(p->m_softness, 0.2f);
        EXPECT_EQ(p->m_elasticity, 0.3f);
        EXPECT_EQ(p->m_staticFriction0, 1.1f);
        EXPECT_EQ(p->m_staticFriction1, 1.2f);
        EXPECT_EQ(p->m_kineticFriction0, 0.6f);
        EXPECT_EQ(p->m_kineticFriction1, 0.7f);
        EXPECT_EQ(p->m_flags, dgMaterialFlagCollidable | dgMaterialFlagContinuous);
    }
}

INSTANTIATE_TEST_SUITE_P(MergeAndRefresh, ContactMaterial, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Refresh" : "Merge");
                         });

TEST(ContactRefresh, KeepsEveryPointWhateverTheCallbackSays) {
    PairScene s(1.0f, 1.0f);
    merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, 5));
    dgContact* joint = contactOf(s.a, s.b);
    Script script;
    script.refuseByAnswer = {0, 1, 2, 3};
    script.refuseByFlag = {0, 2};
    s.material->m_process = &Script::process;
    dgWorldRefreshContacts(s.world(), joint, s.material, 4);
    EXPECT_EQ(joint->m_pointCount, 4);
    // The callback saw the first four nodes in order, with the joint.
    EXPECT_EQ(script.processed, pointsOf(joint, 4));
    for (dgContact* seen : script.joints) {
        EXPECT_EQ(seen, joint);
    }
}

TEST(ContactMerge, SteadyStateAllocatesNothing) {
    PairScene s(1.0f, 1.0f);
    Script script;
    s.material->m_process = &Script::process;
    // Warm-up: the joint, its nodes and the node pool's page.
    for (int32_t i = 0; i < 3; ++i) {
        merge(s.world(), contactOf(s.a, s.b), s.a, s.b, s.material, row(s.a, s.b, 8));
    }
    dgContact* joint = contactOf(s.a, s.b);
    CountingHooks hooks(false);
    for (int32_t step = 0; step < 50; ++step) {
        // Varying counts and refusals, never more points than the nodes.
        script.processCalls = 0;
        script.refuseByAnswer = {step % 5};
        // Resting on odd steps: the points are kept and refreshed.
        const uint32_t rest = (step & 1) ? uint32_t(dgBodyFlagEquilibrium) : 0u;
        s.a->m_flags = rest;
        s.b->m_flags = rest;
        merge(s.world(), joint, s.a, s.b, s.material, row(s.a, s.b, 4 + step % 5, 0.001f * float(step % 3)));
        dgContact* found = nullptr;
        const int32_t kept = dgWorldReuseContacts(s.a, s.b, &found);
        EXPECT_EQ(found, joint);
        EXPECT_EQ(kept > 0, (step & 1) != 0);
        if (kept > 0) {
            dgWorldRefreshContacts(s.world(), joint, s.material, kept);
        }
    }
    EXPECT_EQ(hooks.allocCalls(), 0);
    EXPECT_EQ(joint->m_points.getCount(), 8);
}

// ---- reuse ----

enum class Layout { spread, line, coincident };

struct ReuseCase {
    const char* name;
    int32_t points;
    Layout layout;
    bool restA;
    bool restB;
    float penetration;
    // Moves a along x after the merge.
    float drift;
    int32_t expected;
};

class ContactReuse : public testing::TestWithParam<ReuseCase> {};

TEST_P(ContactReuse, KeepsOnlyStillTwoDimensionalPatches) {
    const ReuseCase& c = GetParam();
    PairScene s(1.0f, 1.0f);
    std::vector<dgContactPoint> points;
    for (int32_t i = 0; i < c.points; ++i) {
        dgVector p(0.5f, 0.5f, 0.0f, 1.0f);
        if (c.layout == Layout::spread) {
            p = dgVector(0.3f * float(i), 0.5f, 0.2f * float(i * i), 1.0f);
        } else if (c.layout == Layout::line) {
            p = dgVector(0.3f * float(i), 0.5f + 0.1f * float(i), -0.2f * float(i), 1.0f);
        }
        points.push_back(pointOf(s.a, s.b, p, dgVector(0.0f, 1.0f, 0.0f, 0.0f), c.penetration));
    }
    merge(s.world(), nullptr, s.a, s.b, s.material, points);
    dgContact* joint = contactOf(s.a, s.b);
    ASSERT_EQ(joint->m_pointCount, c.points);
    s.a->m_flags = c.restA ? dgBodyFlagEquilibrium : 0u;
    s.b->m_flags = c.restB ? dgBodyFlagEquilibrium : 0u;
    if (c.drift != 0.0f) {
        dgMatrix moved(s.a->m_matrix);
        moved.position.x += c.drift;
        dgBodySetMatrixInternal(s.a, moved);
    }

    dgContact* found = nullptr;
    EXPECT_EQ(dgWorldReuseContacts(s.a, s.b, &found), c.expected);
    EXPECT_EQ(found, joint);
    // Points checked against both bodies move to the middle of their two
    // copies.
    if ((c.expected > 0) && !(c.restA && c.restB)) {
        const std::vector<dgMaterialPair*> kept = pointsOf(joint, c.expected);
        for (int32_t i = 0; i < c.expected; ++i) {
            const dgVector& original = points[size_t(c.expected - 1 - i)].point;
            expectNear(kept[size_t(i)]->point, original.x + 0.5f * c.drift, original.y, original.z, 1e-5f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reuse, ContactReuse,
    testing::Values(ReuseCase{"TwoPointsBothResting", 2, Layout::spread, true, true, 0.0f, 0.0f, 2},
                    ReuseCase{"TwoPointsOneResting", 2, Layout::spread, true, false, 0.0f, 0.0f, 0},
                    ReuseCase{"TwoPointsStill", 2, Layout::spread, false, false, 0.0f, 0.0f, 0},
                    ReuseCase{"ThreeStill", 3, Layout::spread, false, false, 0.0f, 0.0f, 3},
                    ReuseCase{"Penetration0005", 4, Layout::spread, false, false, 0.0005f, 0.0f, 4},
                    ReuseCase{"Penetration0006", 4, Layout::spread, false, false, 0.0006f, 0.0f, 0},
                    ReuseCase{"RestingSkipsTheChecks", 3, Layout::line, true, true, 0.0006f, 0.5f, 3},
                    ReuseCase{"SmallDriftKept", 3, Layout::spread, false, true, 0.0f, 0.0009f, 3},
                    ReuseCase{"LargerDriftRegenerates", 3, Layout::spread, true, false, 0.0f, 0.0011f, 0},
                    ReuseCase{"ThreeOnALine", 3, Layout::line, false, false, 0.0f, 0.0f, 0},
                    ReuseCase{"FiveOnALine", 5, Layout::line, false, false, 0.0f, 0.0f, 0},
                    ReuseCase{"AllCoincident", 4, Layout::coincident, false, false, 0.0f, 0.0f, 0}),
    [](const testing::TestParamInfo<ReuseCase>& info) { return std::string(info.param.name); });

struct RowCountCase {
    const char* name;
    // Points merged (0: a joint attached without any).
    int32_t points;
    // Row count written over the merge's.
    uint16_t rows;
    int32_t expected;
};

class ContactReuseRows : public testing::TestWithParam<RowCountCase> {};

TEST_P(ContactReuseRows, NeverReportsMorePointsThanTheListHolds) {
    const RowCountCase& c = GetParam();
    PairScene s(1.0f, 1.0f);
    dgContact* joint = nullptr;
    if (c.points > 0) {
        merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, c.points));
        joint = contactOf(s.a, s.b);
    } else {
        joint = dgNewContact(s.world());
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), joint, s.a, s.b));
    }
    joint->m_maxRows = c.rows;
    s.a->m_flags |= dgBodyFlagEquilibrium;
    s.b->m_flags |= dgBodyFlagEquilibrium;
    dgContact* found = nullptr;
    const int32_t kept = dgWorldReuseContacts(s.a, s.b, &found);
    EXPECT_EQ(kept, c.expected);
    EXPECT_EQ(found, joint);
    dgWorldRefreshContacts(s.world(), joint, s.material, kept);
    EXPECT_EQ(joint->m_pointCount, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Reuse, ContactReuseRows,
                         testing::Values(RowCountCase{"NewJointWithoutPoints", 0, 3, 0},
                                         RowCountCase{"RowsOfFourPointsOverThree", 3, 12, 3},
                                         RowCountCase{"RowsOfTwoPointsOverOne", 1, 6, 1}),
                         [](const testing::TestParamInfo<RowCountCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ContactReuse, FindsTheContactAmongOtherJoints) {
    PairScene s(1.0f, 1.0f);
    TestJoint hinge;
    ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &hinge, s.a, s.b));
    // Overwritten: only the contact joint counts.
    dgContact* found = reinterpret_cast<dgContact*>(&hinge);
    EXPECT_EQ(dgWorldReuseContacts(s.a, s.b, &found), 0);
    EXPECT_EQ(found, nullptr);
    merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, 2));
    s.a->m_flags |= dgBodyFlagEquilibrium;
    s.b->m_flags |= dgBodyFlagEquilibrium;
    // From either body.
    EXPECT_EQ(dgWorldReuseContacts(s.a, s.b, &found), 2);
    EXPECT_EQ(found, contactOf(s.a, s.b));
    EXPECT_EQ(dgWorldReuseContacts(s.b, s.a, &found), 2);
    EXPECT_EQ(found, contactOf(s.a, s.b));
    detachJoint(s.world(), &hinge);
}

TEST(ContactReuse, VehiclesNeverReuseAndWakeUp) {
    for (int32_t vehicleSide = 0; vehicleSide < 2; ++vehicleSide) {
        PairScene s(1.0f, 1.0f);
        merge(s.world(), nullptr, s.a, s.b, s.material, row(s.a, s.b, 2));
        dgBody* vehicle = vehicleSide ? s.b : s.a;
        dgBody* other = vehicleSide ? s.a : s.b;
        vehicle->m_collision->setFlagBits(dgShapeFlagVehicle);
        s.a->m_flags |= dgBodyFlagEquilibrium;
        s.b->m_flags |= dgBodyFlagEquilibrium;
        dgContact* found = nullptr;
        EXPECT_EQ(dgWorldReuseContacts(s.a, s.b, &found), 0);
        // The joint is still reported, for the merge that follows.
        EXPECT_EQ(found, contactOf(s.a, s.b));
        EXPECT_FALSE(vehicle->m_flags & dgBodyFlagEquilibrium);
        EXPECT_TRUE(other->m_flags & dgBodyFlagEquilibrium);
        vehicle->m_collision->clearFlagBits(dgShapeFlagVehicle);
    }
}

}  // namespace

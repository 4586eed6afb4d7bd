#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "ContactTestWorld.h"
#include "CountingHooks.h"
#include "dgContactPersistence.h"

namespace {

using namespace contacttest;

const dgVector kUp(0.0f, 1.0f, 0.0f, 0.0f);

// A generated point: normal from b towards a, stamped with a, b and their
// shapes as the generators stamp them.
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

// Points at x = 0, 1, 2, ... on the line z = 0, height y.
std::vector<dgContactPoint> row(dgBody* a, dgBody* b, int32_t count, float y = 0.0f) {
    std::vector<dgContactPoint> out;
    for (int32_t i = 0; i < count; ++i) {
        out.push_back(pointOf(a, b, dgVector(float(i), y, 0.0f, 1.0f), kUp));
    }
    return out;
}

void expectNear(const dgVector& v, const dgVector& e, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, e.x, tol);
    EXPECT_NEAR(v.y, e.y, tol);
    EXPECT_NEAR(v.z, e.z, tol);
}

// Two boxes of different sizes (their shapes differ), a above b.
struct Pair {
    ContactWorld scene;
    dgBody* a;
    dgBody* b;
    dgMaterialPair* material;
    Pair(float invMassA = 1.0f, float invMassB = 1.0f)
        : a(scene.addBox(1.0f, 1.0f, 1.0f, turned(0.3f, 0.2f, 0.1f, dgVector(0.5f, 1.0f, 0.0f, 1.0f)), invMassA)),
          b(scene.addBox(8.0f, 1.0f, 8.0f, translation(0.0f, -0.5f, 0.0f), invMassB)),
          material(dgWorldGetMaterialPair(scene.world(), 0, 0)) {}
    dgWorld* world() const { return scene.world(); }
    // Merges into the pair's joint (a new one when there is none).
    dgContact* merge(dgBody* first, dgBody* second, const std::vector<dgContactPoint>& points) {
        dgWorldProcessContacts(world(), contactOf(a, b), first, second, material, int32_t(points.size()),
                               points.data());
        return contactOf(a, b);
    }
    dgContact* merge(const std::vector<dgContactPoint>& points) { return merge(a, b, points); }
};

// ---- everything stored follows the joint's bodies ----

struct OrientationCase {
    const char* name;
    float invMassA;
    float invMassB;
    // 0: the checked merge makes the joint; 1 / 2: an earlier merge made it
    // with a / b first.
    int32_t madeBefore;
    // The checked merge passes b first.
    bool reversed;
    bool body0IsA;
};
void PrintTo(const OrientationCase& c, std::ostream* os) {
    *os << c.name;
}

class ContactOrientation : public testing::TestWithParam<OrientationCase> {};

TEST_P(ContactOrientation, NormalsPointFromBody1TowardsBody0) {
    const OrientationCase& c = GetParam();
    Pair s(c.invMassA, c.invMassB);
    if (c.madeBefore) {
        dgBody* first = (c.madeBefore == 1) ? s.a : s.b;
        dgBody* second = (c.madeBefore == 1) ? s.b : s.a;
        s.merge(first, second, row(first, second, 2));
    }
    dgBody* first = c.reversed ? s.b : s.a;
    dgBody* second = c.reversed ? s.a : s.b;
    // As a generator gives them: from the second body towards the first.
    const dgVector given = kUp * (c.reversed ? -1.0f : 1.0f);
    std::vector<dgContactPoint> points;
    for (int32_t i = 0; i < 3; ++i) {
        points.push_back(pointOf(first, second, dgVector(0.1f * float(i), 0.0f, 0.2f * float(i * i), 1.0f), given));
    }
    dgContact* joint = s.merge(first, second, points);
    ASSERT_NE(joint, nullptr);
    dgBody* body0 = c.body0IsA ? s.a : s.b;
    dgBody* body1 = c.body0IsA ? s.b : s.a;
    EXPECT_EQ(joint->m_body0, body0);
    EXPECT_EQ(joint->m_pointCount, 3);
    EXPECT_EQ(joint->m_maxRows, 9);
    for (dgMaterialPair* p : pointsOf(joint, 3)) {
        // a lies above b.
        expectNear(p->normal, kUp * (c.body0IsA ? 1.0f : -1.0f));
        EXPECT_EQ(p->body0, body0);
        EXPECT_EQ(p->body1, body1);
        EXPECT_EQ(p->collision0, body0->m_collision);
        EXPECT_EQ(p->collision1, body1->m_collision);
        expectNear(body0->m_matrix.transformVector(p->localPoint0), p->point);
        expectNear(body1->m_matrix.transformVector(p->localPoint1), p->point);
        EXPECT_NEAR(p->m_tangentDir0.dot(p->normal), 0.0f, 1e-6f);
        expectNear(p->m_tangentDir1, p->normal.cross(p->m_tangentDir0));
    }
}

INSTANTIATE_TEST_SUITE_P(Merge, ContactOrientation,
                         testing::Values(OrientationCase{"NewJoint", 1, 1, 0, false, true},
                                         OrientationCase{"StaticFirstIsSwapped", 0, 1, 0, false, false},
                                         OrientationCase{"StaticSecond", 1, 0, 0, false, true},
                                         OrientationCase{"JointCalledReversed", 1, 1, 1, true, true},
                                         OrientationCase{"JointMadeReversed", 1, 1, 2, false, false},
                                         OrientationCase{"StaticFirstOnJoint", 1, 0, 1, true, true}),
                         [](const testing::TestParamInfo<OrientationCase>& i) { return i.param.name; });

// ---- refused points ----

struct RefusalCase {
    const char* name;
    // Inactive nodes the joint holds first.
    int32_t oldNodes;
    std::vector<int32_t> byAnswer;
    std::vector<int32_t> byFlag;
};
void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

class ContactRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(ContactRefusal, RefusedPointsStayAmongTheInactiveNodes) {
    const RefusalCase& c = GetParam();
    Pair s;
    Script script;
    s.material->m_process = &Script::process;
    // Every merge starts with all of the joint's nodes inactive.
    if (c.oldNodes > 0) {
        s.merge(row(s.a, s.b, c.oldNodes, 50.0f));
    }
    script.processCalls = 0;
    script.refuseByAnswer = c.byAnswer;
    script.refuseByFlag = c.byFlag;
    dgContact* joint = s.merge(row(s.a, s.b, 5));
    ASSERT_NE(joint, nullptr);
    std::vector<float> accepted;
    for (int32_t i = 0; i < 5; ++i) {
        if (!Script::contains(c.byAnswer, i) && !Script::contains(c.byFlag, i)) {
            accepted.insert(accepted.begin(), float(i));
        }
    }
    ASSERT_EQ(joint->m_pointCount, int32_t(accepted.size()));
    EXPECT_EQ(joint->m_maxRows, 3 * accepted.size());
    // The current points are exactly the accepted ones, latest first.
    const std::vector<dgMaterialPair*> current = pointsOf(joint, joint->m_pointCount);
    for (size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_EQ(current[i]->point.x, accepted[i]) << "position " << i;
        EXPECT_EQ(current[i]->point.y, 0.0f);
    }
    EXPECT_LE(joint->m_points.getCount(), c.oldNodes + 5);
}

INSTANTIATE_TEST_SUITE_P(Merge, ContactRefusal,
                         testing::Values(RefusalCase{"First", 0, {0}, {}}, RefusalCase{"Last", 0, {4}, {}},
                                         RefusalCase{"Alternate", 0, {1, 3}, {}},
                                         RefusalCase{"ByFlag", 0, {}, {0, 2}},
                                         RefusalCase{"All", 0, {0, 1, 2}, {3, 4}},
                                         RefusalCase{"OldNodes", 6, {0, 2}, {}},
                                         RefusalCase{"OldNodesRunOut", 2, {3, 4}, {1}}),
                         [](const testing::TestParamInfo<RefusalCase>& i) { return i.param.name; });

TEST(ContactMerge, EachPointTakesTheNearestInactiveNodeWithoutAllocating) {
    Pair s;
    // Six nodes at x = 0 .. 5, all inactive when the next merge starts.
    dgContact* joint = s.merge(row(s.a, s.b, 6));
    std::vector<dgMaterialPair*> byX(6);
    for (dgMaterialPair* p : pointsOf(joint)) {
        byX[size_t(p->point.x)] = p;
    }
    // The tie at 2.5 goes to the node met first from the tail.
    dgMaterialPair* tieWinner = nullptr;
    for (dgContactPointList::Node* n = joint->m_points.getLast(); n && !tieWinner; n = n->getPrev()) {
        if (n->getValue().point.x == 2.0f || n->getValue().point.x == 3.0f) {
            tieWinner = &n->getValue();
        }
    }
    std::vector<dgContactPoint> points;
    for (float x : {4.05f, 0.95f, 5.1f, 2.5f}) {
        points.push_back(pointOf(s.a, s.b, dgVector(x, 0.0f, 0.0f, 1.0f), kUp));
    }
    CountingHooks hooks(false);
    s.merge(points);
    EXPECT_EQ(hooks.allocCalls(), 0);
    EXPECT_EQ(joint->m_points.getCount(), 6);
    ASSERT_EQ(joint->m_pointCount, 4);
    const std::vector<dgMaterialPair*> expected = {tieWinner, byX[5], byX[1], byX[4]};
    EXPECT_EQ(pointsOf(joint, 4), expected);
    EXPECT_EQ(tieWinner->point.x, 2.5f);
}

// ---- friction frame ----

struct FrameCase {
    const char* name;
    dgVector normal;
    // Velocity of body1 (b) against a resting body0.
    dgVector velocity1;
    dgVector t0;
    dgVector t1;
};
void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << c.name;
}

class ContactFrame : public testing::TestWithParam<FrameCase> {};

TEST_P(ContactFrame, FollowsTheSlideOrAFixedAxis) {
    const FrameCase& c = GetParam();
    Pair s;
    s.b->m_veloc = c.velocity1;
    dgMaterialPair* p = pointsOf(s.merge({pointOf(s.a, s.b, dgVector(0.5f, 0.5f, 0, 1), c.normal)}), 1)[0];
    expectNear(p->m_tangentDir0, c.t0);
    expectNear(p->m_tangentDir1, c.t1);
}

INSTANTIATE_TEST_SUITE_P(
    Merge, ContactFrame,
    testing::Values(FrameCase{"NormalZ", dgVector(0, 0, 1, 0), dgVector(0, 0, 0, 0), dgVector(-1, 0, 0, 0),
                              dgVector(0, -1, 0, 0)},
                    FrameCase{"NormalY", kUp, dgVector(0, 0, 0, 0), dgVector(0, 0, 1, 0), dgVector(1, 0, 0, 0)},
                    FrameCase{"Sliding", kUp, dgVector(2, 0, 0, 0), dgVector(1, 0, 0, 0), dgVector(0, 0, -1, 0)},
                    // |vt|^2 = 0.0081 is no slide, nor is motion along the normal.
                    FrameCase{"Creeping", kUp, dgVector(0.09f, 0, 0, 0), dgVector(0, 0, 1, 0), dgVector(1, 0, 0, 0)},
                    FrameCase{"Approaching", dgVector(0, 0, 1, 0), dgVector(0, 0, -3, 0), dgVector(-1, 0, 0, 0),
                              dgVector(0, -1, 0, 0)}),
    [](const testing::TestParamInfo<FrameCase>& i) { return i.param.name; });

TEST(ContactMerge, FrictionFrameIsRightHandedOrthonormalForAnyNormalAndMotion) {
    Pair s;
    std::mt19937 rng(1234);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::uniform_real_distribution<float> speed(0.0f, 0.3f);
    dgContact* joint = nullptr;
    for (int32_t i = 0; i < 3000; ++i) {
        dgVector n(g(rng), g(rng), g(rng), 0.0f);
        n = n * (1.0f / std::sqrt(n.dot(n)));
        s.b->m_veloc = dgVector(g(rng), g(rng), g(rng), 0.0f) * speed(rng);
        s.a->m_omega = dgVector(g(rng), g(rng), g(rng), 0.0f) * speed(rng);
        joint = s.merge({pointOf(s.a, s.b, dgVector(g(rng), g(rng), g(rng), 1.0f), n)});
        const dgMaterialPair* m = pointsOf(joint, 1)[0];
        const dgVector& t0 = m->m_tangentDir0;
        const dgVector& t1 = m->m_tangentDir1;
        ASSERT_NEAR(t0.dot(t0), 1.0f, 1e-4f);
        ASSERT_NEAR(t0.dot(n), 0.0f, 1e-4f);
        ASSERT_NEAR(n.cross(t0).dot(t1), 1.0f, 1e-4f);
        // A clear slide sets the first direction.
        const dgVector v = s.b->m_veloc - s.a->m_omega.cross(m->point - s.a->m_matrix.position);
        const dgVector vt = v - n * v.dot(n);
        if (vt.dot(vt) > 0.02f) {
            ASSERT_NEAR(vt.dot(t0), std::sqrt(vt.dot(vt)), 1e-3f);
        }
    }
    // One node served every merge.
    EXPECT_EQ(joint->m_points.getCount(), 1);
}

// ---- material values: merge and refresh ----

// Gives accelerations of its own and refuses (which a refresh ignores).
int32_t giveAccelerations(dgMaterialPair* point, dgContact*) {
    point->m_flags |= dgMaterialFlagTangentAccel0 | dgMaterialFlagTangentAccel1 | dgMaterialFlagNormalAccel;
    point->m_softness = 0.77f;
    return 0;
}

class ContactMaterial : public testing::TestWithParam<bool> {};

TEST_P(ContactMaterial, PointsTakeThePairsValuesAndForgetGivenAccelerations) {
    const bool refresh = GetParam();
    Pair s;
    dgContact* joint = s.merge(row(s.a, s.b, 4));
    int32_t tag = 0;
    dgMaterialPair& m = *s.material;
    m.m_userData = &tag;
    m.m_softness = 0.2f;
    m.m_elasticity = 0.3f;
    m.m_staticFriction0 = 1.1f;
    m.m_staticFriction1 = 1.2f;
    m.m_kineticFriction0 = 0.6f;
    m.m_kineticFriction1 = 0.7f;
    // No friction, no continuous: the points keep their own bit 6.
    m.m_flags = dgMaterialFlagCollidable;
    s.world()->m_stepStamp = 40;
    if (refresh) {
        // The callback's refusals do not count here.
        m.m_process = &giveAccelerations;
        dgWorldRefreshContacts(s.world(), joint, s.material, 3);
    } else {
        s.merge(row(s.a, s.b, 3));
    }
    EXPECT_EQ(joint->m_refreshStamp, 40u);
    EXPECT_EQ(joint->m_pointCount, 3);
    for (dgMaterialPair* p : pointsOf(joint, 3)) {
        EXPECT_EQ(p->m_userData, &tag);
        EXPECT_EQ(p->m_elasticity, 0.3f);
        EXPECT_EQ(p->m_staticFriction0, 1.1f);
        EXPECT_EQ(p->m_staticFriction1, 1.2f);
        EXPECT_EQ(p->m_kineticFriction0, 0.6f);
        EXPECT_EQ(p->m_kineticFriction1, 0.7f);
        // The refresh's callback ran after the values were copied.
        EXPECT_EQ(p->m_softness, refresh ? 0.77f : 0.2f);
        EXPECT_EQ(p->m_flags, (refresh ? 0x38u : 0u) | dgMaterialFlagCollidable | dgMaterialFlagContinuous);
    }
    // Given accelerations are forgotten by the next merge.
    m.m_process = nullptr;
    s.merge(row(s.a, s.b, 3));
    EXPECT_EQ(pointsOf(joint, 1)[0]->m_flags, dgMaterialFlagCollidable | dgMaterialFlagContinuous);
}

INSTANTIATE_TEST_SUITE_P(Contact, ContactMaterial, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Refresh" : "Merge"; });

// A refresh copies only when the pair's values differ from the ones it last
// gave the points: a point's softness written here directly (standing for a
// copy not taken) survives exactly when nothing changed and no process
// callback could have touched the points.
int32_t keepPoint(dgMaterialPair*, dgContact*) {
    return 1;
}

TEST(ContactMaterial, RefreshCopiesWhenThePairsValuesChangedOrACallbackRan) {
    Pair s;
    dgContact* joint = s.merge(row(s.a, s.b, 4));
    dgMaterialPair& m = *s.material;
    int32_t tag = 0;
    const std::vector<std::function<void()>> changes = {
        [&] { m.m_userData = &tag; },
        [&] { m.m_softness = 0.25f; },
        [&] { m.m_elasticity = 0.35f; },
        [&] { m.m_staticFriction0 = 1.05f; },
        [&] { m.m_staticFriction1 = 1.15f; },
        [&] { m.m_kineticFriction0 = 0.55f; },
        [&] { m.m_kineticFriction1 = 0.65f; },
        [&] { m.m_flags ^= dgMaterialFlagFriction1; },
        // -0 compares equal to +0 but is another value to copy.
        [&] { m.m_elasticity = 0.0f; },
        [&] { m.m_elasticity = -0.0f; },
    };
    // Refreshes count points after the direct write; true when it copied.
    auto copied = [&](int32_t count) {
        for (dgMaterialPair* p : pointsOf(joint, 4)) {
            p->m_softness = -1.0f;
        }
        dgWorldRefreshContacts(s.world(), joint, s.material, count);
        bool all = true;
        for (dgMaterialPair* p : pointsOf(joint, count)) {
            all = all && (p->m_softness == m.m_softness) && (p->m_elasticity == m.m_elasticity) &&
                  (p->m_userData == m.m_userData);
        }
        return all && (pointsOf(joint, count)[0]->m_softness != -1.0f);
    };
    EXPECT_FALSE(copied(3));
    for (size_t i = 0; i < changes.size(); ++i) {
        changes[i]();
        EXPECT_TRUE(copied(3)) << "change " << i;
        EXPECT_FALSE(copied(3)) << "change " << i;
    }
    // More points than were given the values.
    EXPECT_TRUE(copied(4));
    // A callback may change the points after the copy: the next refresh
    // copies again even once the callback is gone.
    m.m_process = &keepPoint;
    EXPECT_TRUE(copied(4));
    m.m_process = nullptr;
    EXPECT_TRUE(copied(4));
    EXPECT_FALSE(copied(4));
    // A merge gives its points the values too.
    s.merge(row(s.a, s.b, 2));
    EXPECT_FALSE(copied(2));
}

// ---- reuse ----

// spread: over the corners of a's 1 m underside; cluster: a few centimetres
// apart at one corner of it, off one line by more than a centimetre.
enum class Layout { spread, cluster, line, coincident };

struct ReuseCase {
    const char* name;
    // 0: a joint attached without points.
    int32_t points;
    Layout layout;
    bool restA;
    bool restB;
    float penetration;
    // Moves a along x after the merge.
    float drift;
    // Row count written over the merge's (0 keeps it).
    uint16_t rows;
    int32_t expected;
};
void PrintTo(const ReuseCase& c, std::ostream* os) {
    *os << c.name;
}

class ContactReuse : public testing::TestWithParam<ReuseCase> {};

TEST_P(ContactReuse, KeepsOnlyStillTwoDimensionalPatches) {
    const ReuseCase& c = GetParam();
    Pair s;
    // A joint tying the bodies comes first in the rings: reuse looks past it.
    TestJoint hinge;
    ASSERT_TRUE(dgWorldAttachConstraint(s.world(), &hinge, s.a, s.b));
    std::vector<dgContactPoint> points;
    for (int32_t i = 0; i < c.points; ++i) {
        const float f = float(i);
        const float across = float(i % 2);
        const float along = float(i / 2);
        const dgVector p = (c.layout == Layout::spread)    ? dgVector(across, 0.5f, along - 0.5f, 1.0f)
                           : (c.layout == Layout::cluster) ? dgVector(0.04f * across, 0.5f, 0.04f * along, 1.0f)
                           : (c.layout == Layout::line)    ? dgVector(0.3f * f, 0.5f + 0.1f * f, -0.2f * f, 1.0f)
                                                           : dgVector(0.5f, 0.5f, 0.0f, 1.0f);
        points.push_back(pointOf(s.a, s.b, p, kUp, c.penetration));
    }
    dgContact* joint = nullptr;
    if (c.points > 0) {
        joint = s.merge(points);
    } else {
        joint = dgNewContact(s.world());
        ASSERT_TRUE(dgWorldAttachConstraint(s.world(), joint, s.a, s.b));
    }
    if (c.rows) {
        joint->m_maxRows = c.rows;
    }
    s.a->m_flags = c.restA ? dgBodyFlagEquilibrium : 0u;
    s.b->m_flags = c.restB ? dgBodyFlagEquilibrium : 0u;
    if (c.drift != 0.0f) {
        dgMatrix moved(s.a->m_matrix);
        moved.position.x += c.drift;
        dgBodySetMatrixInternal(s.a, moved);
    }
    for (int32_t order = 0; order < 2; ++order) {
        dgContact* found = nullptr;
        EXPECT_EQ(order ? dgWorldReuseContacts(s.b, s.a, &found) : dgWorldReuseContacts(s.a, s.b, &found),
                  c.expected);
        EXPECT_EQ(found, joint);
    }
    // Points checked on both bodies sit between their two copies.
    if ((c.expected > 0) && !(c.restA && c.restB)) {
        const std::vector<dgMaterialPair*> kept = pointsOf(joint, c.expected);
        for (int32_t i = 0; i < c.expected; ++i) {
            const dgVector& original = points[size_t(c.expected - 1 - i)].point;
            expectNear(kept[size_t(i)]->point, original + dgVector(0.5f * c.drift, 0, 0, 0));
        }
    }
    detachJoint(s.world(), &hinge);
}

INSTANTIATE_TEST_SUITE_P(
    Reuse, ContactReuse,
    testing::Values(ReuseCase{"NoPointsButThreeRows", 0, Layout::spread, true, true, 0, 0, 0, 0},
                    ReuseCase{"RowsBeyondTheList", 3, Layout::spread, true, true, 0, 0, 12, 3},
                    ReuseCase{"TwoPointsBothResting", 2, Layout::spread, true, true, 0, 0, 0, 2},
                    ReuseCase{"TwoPointsOneResting", 2, Layout::spread, true, false, 0, 0, 0, 0},
                    ReuseCase{"TwoPointsStill", 2, Layout::spread, false, false, 0, 0, 0, 0},
                    ReuseCase{"ThreeStill", 3, Layout::spread, false, false, 0, 0, 0, 3},
                    ReuseCase{"Penetration0005", 4, Layout::spread, false, false, 0.0005f, 0, 0, 4},
                    ReuseCase{"Penetration0006", 4, Layout::spread, false, false, 0.0006f, 0, 0, 0},
                    ReuseCase{"RestingSkipsTheChecks", 3, Layout::line, true, true, 0.0006f, 0.5f, 0, 3},
                    ReuseCase{"SmallDrift", 3, Layout::spread, false, true, 0, 0.0009f, 0, 3},
                    ReuseCase{"LargerDrift", 3, Layout::spread, true, false, 0, 0.0011f, 0, 0},
                    ReuseCase{"OnALine", 5, Layout::line, false, false, 0, 0, 0, 0},
                    // A body can turn about so small a patch, its far side
                    // going into the other, before any point drifts.
                    ReuseCase{"ClusterAtOneCorner", 4, Layout::cluster, false, false, 0, 0, 0, 0},
                    ReuseCase{"ClusterBothResting", 4, Layout::cluster, true, true, 0, 0, 0, 4},
                    ReuseCase{"AllCoincident", 4, Layout::coincident, false, false, 0, 0, 0, 0}),
    [](const testing::TestParamInfo<ReuseCase>& i) { return i.param.name; });

}  // namespace

// Convex contact dispatch and its closed forms against geometric references:
// sphere pairs, every box-sphere region, box on box through the solver, the
// order of the bodies, the caller's maximum, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
#include "dgCollisionSphere.h"
#include "dgCompoundCollision.h"
#include "dgConvexContacts.h"
#include "dgMinkowskiSolver.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollision> Shape;

constexpr float kSkin = 1.0f / 256.0f;
constexpr float kAllowance = 1.0f / 128.0f;
constexpr float kStep = 1.0f / 60.0f;

Shape boxShape(float x, float y, float z) {
    return Shape::adopt(new dgCollisionBox(0, x, y, z, dgGetIdentityMatrix()));
}
Shape sphereShape(float r) {
    return Shape::adopt(new dgCollisionSphere(0, r, dgGetIdentityMatrix()));
}

dgBody bodyOf(dgCollision* shape, const dgMatrix& pose, uint32_t flags = 0) {
    dgBody body(placedBody(pose));
    body.m_collision = shape;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
    body.m_flags = flags;
    return body;
}

dgMatrix at(const dgMatrix& pose, const D3& local) {
    return translation(float(local.x), float(local.y), float(local.z)).multiply(pose);
}

// Room for `room` records followed by as many pattern bytes as any
// generator could write, so an overrun fails the check instead of the heap.
struct Canaried {
    explicit Canaried(int32_t room) : first(std::max(room, 0)), records(size_t(first + dgConvexContactsMax)) {
        std::memset(static_cast<void*>(records.data()), 0xA5, records.size() * sizeof(dgContactPoint));
    }
    bool intact() const {
        const auto* bytes = reinterpret_cast<const unsigned char*>(records.data() + first);
        return std::all_of(bytes, bytes + dgConvexContactsMax * sizeof(dgContactPoint),
                           [](unsigned char b) { return b == 0xA5; });
    }
    int32_t first;
    std::vector<dgContactPoint> records;
};

void expectSound(const dgContactPoint& c) {
    EXPECT_TRUE(std::isfinite(c.point.x) && std::isfinite(c.point.y) && std::isfinite(c.point.z));
    EXPECT_NEAR(c.normal % c.normal, 1.0f, 1e-4f);
    EXPECT_GE(c.penetration, 0.0f);
    EXPECT_EQ(c.userId, 0);
}

class ContactDispatch : public ::testing::Test {
protected:
    void SetUp() override { dgInitSearchDirections(); }
};

// ---- closed forms ----

struct SpherePairCase {
    float rA, rB;
    D3 offset;  // B's centre from A's, in A's frame
    int32_t count;
    float penetration;
    D3 normal;  // A's frame, or the world's when `world`
    D3 point;   // from A's centre, in the same frame
    bool world;
};

class SpherePairs : public ContactDispatch, public ::testing::WithParamInterface<SpherePairCase> {};

TEST_P(SpherePairs, MatchTheClosedForm) {
    const SpherePairCase& k = GetParam();
    Shape a(sphereShape(k.rA));
    Shape b(sphereShape(k.rB));
    dgBody b0(bodyOf(a.get(), turnedAndMoved()));
    dgBody b1(bodyOf(b.get(), at(turnedAndMoved(), k.offset)));
    dgContactPoint c[1];
    float step = kStep;
    ASSERT_EQ(dgConvexContacts(step, &b0, &b1, c, 1), k.count);
    EXPECT_EQ(step, k.count ? 0.0f : kStep);
    if (k.count) {
        expectSound(c[0]);
        EXPECT_NEAR(c[0].penetration, k.penetration, 1e-6f);
        const dgMatrix frame(
            k.world ? translation(b0.m_matrix.position.x, b0.m_matrix.position.y, b0.m_matrix.position.z)
                    : b0.m_matrix);
        const dgVector n(frame.inverseRotateVector(c[0].normal));
        const dgVector p(frame.inverseTransformVector(c[0].point));
        for (int32_t i = 0; i < 3; i++) {
            EXPECT_NEAR(n[i], k.normal[i], 1e-5);
            EXPECT_NEAR(p[i], k.point[i], 1e-5);
        }
        EXPECT_EQ(c[0].body0, &b0);
        EXPECT_EQ(c[0].collision1, b.get());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpherePairs,
    ::testing::Values(
        SpherePairCase{1, 1, {1.99, 0, 0}, 1, 0.0021875f, {-1, 0, 0}, {1 - 0.0021875 / 2, 0, 0}, false},
        SpherePairCase{1, 1, {1.998, 0, 0}, 0, 0, {}, {}, false},
        SpherePairCase{1, 1, {0, 0, 0}, 1, 0.01f, {0, 1, 0}, {0, 1, 0}, true},
        SpherePairCase{1, 1, {0.005, 0, 0}, 1, 0.01f, {0, 1, 0}, {0, 1, 0}, true},
        SpherePairCase{0.5,
                       2,
                       {0, -2.3, 0},
                       1,
                       0.2f - kAllowance,
                       {0, 1, 0},
                       {0, -0.5 + 0.1 - 0.5 * kAllowance, 0},
                       false}));

// Every one of the 27 regions of the box, at several overlaps, both orders.
class BoxSphereRegions : public ContactDispatch, public ::testing::WithParamInterface<int32_t> {};

TEST_P(BoxSphereRegions, MatchTheNearestFeature) {
    const D3 h{1.0, 0.5, 0.75};
    const double r = 0.4;
    const int32_t side[3] = {GetParam() % 3 - 1, (GetParam() / 3) % 3 - 1, GetParam() / 9 - 1};
    Shape box(boxShape(2.0f, 1.0f, 1.5f));
    Shape ball(sphereShape(float(r)));
    const dgMatrix pose(turnedAndMoved());
    for (double overlap : {0.2, kSkin + 1e-4, kSkin - 1e-4, -0.1}) {
        D3 q{0.3 * h.x, -0.2 * h.y, 0.1 * h.z};
        D3 dir{0, 0, 0};
        for (int32_t k = 0; k < 3; k++) {
            if (side[k]) {
                q[k] = side[k] * h[k];
                dir[k] = side[k];
            }
        }
        const bool inside = length(dir) == 0.0;
        const D3 c = inside ? q : q + dir * ((r - overlap) / length(dir));
        dgBody boxBody(bodyOf(box.get(), pose));
        dgBody ballBody(bodyOf(ball.get(), at(pose, c)));
        dgContactPoint ab[16];
        dgContactPoint ba[16];
        float step = kStep;
        const int32_t count = dgConvexContacts(step, &boxBody, &ballBody, ab, 16);
        ASSERT_EQ(dgConvexContacts(step, &ballBody, &boxBody, ba, 16), count);
        if (inside) {
            EXPECT_GE(count, 1);
        } else {
            // Reference: the nearest box point by clamping.
            D3 near{std::clamp(c.x, -h.x, h.x), std::clamp(c.y, -h.y, h.y), std::clamp(c.z, -h.z, h.z)};
            const double gap = length(near - c) - r;
            ASSERT_EQ(count, gap <= -kSkin ? 1 : 0) << overlap;
            if (count) {
                const D3 n = (near - c) * (1.0 / length(near - c));
                const D3 point = (near + c + n * r) * 0.5;
                const dgVector wn(pose.rotateVector(dgVector(float(n.x), float(n.y), float(n.z), 0)));
                const dgVector wp(
                    pose.transformVector(dgVector(float(point.x), float(point.y), float(point.z), 1)));
                EXPECT_NEAR(ab[0].penetration, std::max(-gap - kAllowance, 0.0), 1e-5);
                for (int32_t i = 0; i < 3; i++) {
                    EXPECT_NEAR(ab[0].normal[i], wn[i], 1e-5);
                    EXPECT_NEAR(ab[0].point[i], wp[i], 1e-5);
                }
            }
        }
        for (int32_t i = 0; i < count; i++) {
            expectSound(ab[i]);
            EXPECT_NEAR(ab[i].normal % ba[i].normal, -1.0f, 1e-5f);
            EXPECT_EQ(ba[i].body0, &ballBody);
            EXPECT_EQ(ba[i].collision1, box.get());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, BoxSphereRegions, ::testing::Range(0, 27));

TEST_F(ContactDispatch, AGapOfExactlyTheSkinTouches) {
    Shape box(boxShape(2, 2, 2));
    Shape ball(sphereShape(0.5f));
    Shape unit(sphereShape(1.0f));
    dgBody b0(bodyOf(box.get(), dgGetIdentityMatrix()));
    dgContactPoint c[1];
    dgBody s0(bodyOf(unit.get(), dgGetIdentityMatrix()));
    dgBody s1(bodyOf(unit.get(), translation(2.0f - kSkin, 0, 0)));
    ASSERT_EQ(dgSphereSphereContacts(&s0, &s1, c, 1), 1);
    EXPECT_EQ(c[0].penetration, 0.0f);
    dgBody touching(bodyOf(ball.get(), translation(-1.5f + kSkin, 0, 0)));
    ASSERT_EQ(dgBoxSphereContacts(&b0, &touching, c, 1), 1);
    EXPECT_EQ(c[0].normal.x, 1.0f);
    EXPECT_EQ(c[0].penetration, 0.0f);
    dgBody apart(bodyOf(ball.get(), translation(std::nextafter(-1.5f + kSkin, -2.0f), 0, 0)));
    EXPECT_EQ(dgBoxSphereContacts(&b0, &apart, c, 1), 0);
}

// ---- the general solver (box on box: the maxima below) ----

// Random overlapping pairs of every kind: sound records, negated normals
// when the bodies swap, the type id (not the class) choosing the routine.
TEST_F(ContactDispatch, SwappedBodiesGiveNegatedNormals) {
    std::vector<Shape> shapes{
        boxShape(1.0f, 0.6f, 1.4f), sphereShape(0.5f),
        Shape::adopt(new dgCollisionEllipse(0, 0.6f, 0.4f, 0.5f, dgGetIdentityMatrix())),
        Shape::adopt(new dgCollisionCapsule(0, 0.3f, 1.2f, dgGetIdentityMatrix()))};
    std::mt19937 rng(7);
    int32_t compared = 0;
    for (int32_t trial = 0; trial < 1600; trial++) {
        dgBody b0(bodyOf(shapes[trial % 4].get(), randomPose(rng, 0.5f)));
        dgBody b1(bodyOf(shapes[(trial / 4) % 4].get(), randomPose(rng, 0.5f)));
        dgContactPoint ab[16];
        dgContactPoint ba[16];
        float step = kStep;
        const int32_t nab = dgConvexContacts(step, &b0, &b1, ab, 16);
        const int32_t nba = dgConvexContacts(step, &b1, &b0, ba, 16);
        for (int32_t i = 0; i < nab; i++) {
            expectSound(ab[i]);
        }
        // Deep overlaps of round shapes have no one clear direction.
        if (nab && nba && (ab[0].penetration > 0.02f) && (ab[0].penetration < 0.3f)) {
            compared++;
            EXPECT_LT(ab[0].normal % ba[0].normal, -0.99f) << trial;
        }
    }
    EXPECT_GT(compared, 300) << compared;
}

TEST_F(ContactDispatch, TypeIdAndContinuousFlagPickTheRoutine) {
    Shape ball(sphereShape(1.0f));
    Shape round(Shape::adopt(new dgCollisionEllipse(0, 1.0f, 1.0f, 1.0f, dgGetIdentityMatrix())));
    const dgMatrix pose(turnedAndMoved());
    struct Case {
        dgCollision* a;
        uint32_t flags1;
        bool closedForm;
    } cases[] = {{ball.get(), 0, true}, {round.get(), 0, false}, {ball.get(), dgBodyFlagContinuous, false}};
    for (const Case& k : cases) {
        dgBody b0(bodyOf(k.a, pose));
        dgBody b1(bodyOf(ball.get(), pose, k.flags1));
        dgContactPoint c[16];
        float step = kStep;
        ASSERT_GE(dgConvexContacts(step, &b0, &b1, c, 16), 1);
        // Concentric spheres: the closed form's fixed 0.01, the solver's full depth.
        EXPECT_EQ(c[0].penetration == 0.01f, k.closedForm);
        EXPECT_EQ(step, 0.0f);
    }
    // A sphere flying into another within the step: the time of impact.
    dgBody b0(bodyOf(ball.get(), translation(-2.5f, 0, 0), dgBodyFlagContinuous));
    b0.m_veloc = dgVector(60.0f, 0, 0, 0);
    dgBody b1(bodyOf(ball.get(), dgGetIdentityMatrix()));
    dgContactPoint c[16];
    float step = kStep;
    ASSERT_GE(dgConvexContacts(step, &b0, &b1, c, 16), 1);
    EXPECT_NEAR(step, 0.5f / 60.0f, 2e-4f);
}

// ---- the caller's maximum and bad input ----

TEST_F(ContactDispatch, EveryGeneratorHonoursTheMaximum) {
    Shape top(boxShape(1, 1, 1));
    Shape floor(boxShape(10, 1, 10));
    Shape ball(sphereShape(0.6f));
    dgBody onTop(bodyOf(top.get(), translation(0, 0.98f, 0)));
    dgBody fast(bodyOf(top.get(), translation(0, 0.98f, 0), dgBodyFlagContinuous));
    dgBody ground(bodyOf(floor.get(), dgGetIdentityMatrix()));
    dgBody ballA(bodyOf(ball.get(), translation(0, 1.0f, 0)));
    dgBody ballB(bodyOf(ball.get(), translation(0, 1.5f, 0)));
    float step = kStep;
    const std::vector<std::pair<int32_t, std::function<int32_t(dgContactPoint*, int32_t)>>> generators{
        {4, [&](dgContactPoint* c, int32_t m) { return dgConvexContacts(step, &onTop, &ground, c, m); }},
        {4, [&](dgContactPoint* c, int32_t m) { return dgConvexContacts(step, &fast, &ground, c, m); }},
        {4, [&](dgContactPoint* c, int32_t m) { return dgConvexConvexContacts(&onTop, &ground, c, m); }},
        {4, [&](dgContactPoint* c,
                int32_t m) { return dgConvexConvexContactsContinuous(step, &onTop, &ground, c, m); }},
        {1, [&](dgContactPoint* c, int32_t m) { return dgBoxSphereContacts(&ground, &ballA, c, m); }},
        {1, [&](dgContactPoint* c, int32_t m) { return dgSphereSphereContacts(&ballA, &ballB, c, m); }}};
    for (size_t g = 0; g < generators.size(); g++) {
        for (int32_t maxCount : {-1, 0, 1, 2, 16}) {
            step = kStep;
            Canaried out(maxCount);
            const int32_t count = generators[g].second(out.records.data(), maxCount);
            EXPECT_EQ(count, std::clamp(maxCount, 0, generators[g].first)) << g << " " << maxCount;
            EXPECT_TRUE(out.intact()) << g << " " << maxCount;
            for (int32_t i = 0; i < count; i++) {
                expectSound(out.records[size_t(i)]);
            }
        }
    }
}

TEST_F(ContactDispatch, BadInputGivesNothing) {
    Shape box(boxShape(1, 1, 1));
    Shape ball(sphereShape(0.6f));
    Shape round(Shape::adopt(new dgCollisionEllipse(0, 0.6f, 0.6f, 0.6f, dgGetIdentityMatrix())));
    Shape none(Shape::adopt(new dgCollisionNull(0)));
    dgCollision* child = box.get();
    Shape compound(Shape::adopt(new dgCompoundCollision(1, &child, nullptr)));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    dgBody boxBody(bodyOf(box.get(), dgGetIdentityMatrix()));
    dgBody ballBody(bodyOf(ball.get(), translation(0.2f, 0.1f, 0)));
    dgBody roundBody(bodyOf(round.get(), dgGetIdentityMatrix()));
    dgBody noneBody(bodyOf(none.get(), dgGetIdentityMatrix(), dgBodyFlagContinuous));
    dgBody compoundBody(bodyOf(compound.get(), dgGetIdentityMatrix()));
    dgBody bare(bodyOf(box.get(), dgGetIdentityMatrix()));
    bare.m_collision = nullptr;
    dgBody nanBody(bodyOf(ball.get(), translation(nan, 0, 0)));
    dgBody infBody(bodyOf(box.get(), dgGetIdentityMatrix(), dgBodyFlagContinuous));
    infBody.m_collisionMatrix.front.x = inf;
    dgBody far0(bodyOf(ball.get(), translation(3e38f, 0, 0)));
    dgBody far1(bodyOf(ball.get(), translation(-3e38f, 0, 0)));
    float step = kStep;
    const std::vector<std::function<int32_t(dgContactPoint*)>> calls{
        [&](dgContactPoint* c) { return dgConvexContacts(step, &noneBody, &boxBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &boxBody, &noneBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexConvexContactsContinuous(step, &boxBody, &noneBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexConvexContacts(&noneBody, &ballBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, nullptr, &boxBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &boxBody, nullptr, c, 16); },
        [&](dgContactPoint*) { return dgConvexContacts(step, &boxBody, &ballBody, nullptr, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &bare, &ballBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &compoundBody, &ballBody, c, 16); },
        [&](dgContactPoint* c) { return dgSphereSphereContacts(&boxBody, &ballBody, c, 16); },
        [&](dgContactPoint* c) { return dgSphereSphereContacts(&roundBody, &ballBody, c, 16); },
        [&](dgContactPoint* c) { return dgBoxSphereContacts(&ballBody, &boxBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &nanBody, &boxBody, c, 16); },
        [&](dgContactPoint* c) { return dgSphereSphereContacts(&ballBody, &nanBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &ballBody, &infBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &infBody, &boxBody, c, 16); },
        [&](dgContactPoint* c) { return dgConvexContacts(step, &far0, &far1, c, 16); }};
    for (size_t i = 0; i < calls.size(); i++) {
        step = kStep;
        Canaried out(0);
        EXPECT_EQ(calls[i](out.records.data()), 0) << i;
        EXPECT_TRUE(out.intact()) << i;
        EXPECT_EQ(step, kStep) << i;
    }
}

}  // namespace

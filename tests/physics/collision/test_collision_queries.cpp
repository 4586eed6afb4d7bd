// The world's shape queries against closed forms (sphere pairs, a point and a
// box, a sphere's time of impact), compounds child by child, the caller's
// maximum with canaries, the order of the pair and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCompoundCollision.h"
#include "dgTreeCollision.h"
#include "dgCollisionPoint.h"
#include "dgWorld.h"
#include "dgWorldCollisionQueries.h"

namespace {

using namespace shapetest;

constexpr float kCanary = -777.0f;
constexpr float kAllowance = 1.0f / 128.0f;
const dgVector kStill(0.0f, 0.0f, 0.0f, 0.0f);

// Output arrays of `room` points with canaries after them (the whole array
// for a room below 1).
struct Outputs {
    explicit Outputs(int32_t room)
        : first(size_t(std::max(room, 0))),
          points(3 * (first + 8), kCanary),
          normals(3 * (first + 8), kCanary),
          depths(first + 8, kCanary) {}
    bool intactFrom(size_t n) const {
        auto clean = [](const std::vector<float>& v, size_t from) {
            return std::all_of(v.begin() + long(from), v.end(), [](float x) { return x == kCanary; });
        };
        return clean(points, 3 * n) && clean(normals, 3 * n) && clean(depths, n);
    }
    dgVector point(int32_t i) const { return dgVector::dgVector3(&points[size_t(3 * i)]); }
    dgVector normal(int32_t i) const { return dgVector::dgVector3(&normals[size_t(3 * i)]); }
    size_t first;
    std::vector<float> points, normals, depths;
};

float distance(const dgVector& a, const dgVector& b) {
    const dgVector d(a - b);
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

class CollisionQueries : public ::testing::Test {
protected:
    void SetUp() override {
        world = dgWorldCreate(nullptr, nullptr);
        sphere = dgCreateSphere(world, 1.0f, 1.0f, 1.0f, nullptr);
        box = dgCreateBox(world, 2.0f, 2.0f, 2.0f, nullptr);
        // Two boxes at x = -3 and +3 and a small sphere above the origin.
        const dgMatrix left(translation(-3.0f, 0.0f, 0.0f)), right(translation(3.0f, 0.0f, 0.0f));
        const dgMatrix up(translation(0.0f, 2.0f, 0.0f));
        children[0] = dgCreateBox(world, 1.0f, 1.0f, 1.0f, &left.front.x);
        children[1] = dgCreateBox(world, 1.0f, 2.0f, 1.0f, &right.front.x);
        children[2] = dgCreateSphere(world, 0.5f, 0.5f, 0.5f, &up.front.x);
        compound = new dgCompoundCollision(3, children, world);
        soup = dgCreateTreeCollision(world, nullptr);
        dgTreeCollisionBeginBuild(soup);
        const float a[9] = {-10, 0, -10, -10, 0, 10, 10, 0, -10}, b[9] = {10, 0, -10, -10, 0, 10, 10, 0, 10};
        dgTreeCollisionAddFace(soup, 3, a, 12, 1);
        dgTreeCollisionAddFace(soup, 3, b, 12, 2);
        dgTreeCollisionEndBuild(soup, 0);
        null = dgCreateNull(world);
    }
    void TearDown() override {
        compound->release();
        for (dgCollision* shape : {sphere, box, children[0], children[1], children[2], soup, null}) {
            dgReleaseCollision(world, shape);
        }
        dgWorldDestroy(world);
    }
    int32_t collide(dgCollision* a, const dgMatrix& ma, dgCollision* b, const dgMatrix& mb, Outputs& out,
                    int32_t maxCount) {
        return dgWorldCollide(world, a, ma, b, mb, out.points.data(), out.normals.data(), out.depths.data(),
                              maxCount);
    }
    int32_t collideMoving(dgCollision* a, const dgMatrix& ma, const dgVector& va, dgCollision* b,
                          const dgMatrix& mb, Outputs& out, int32_t maxCount, float& toi) {
        return dgWorldCollideContinuous(world, a, ma, va, kStill, b, mb, kStill, kStill, &toi, out.points.data(),
                                        out.normals.data(), out.depths.data(), maxCount);
    }

    HookGuard hooks;
    dgWorld* world = nullptr;
    dgCollision* sphere = nullptr;
    dgCollision* box = nullptr;
    dgCollision* children[3] = {};
    dgCompoundCollision* compound = nullptr;
    dgCollision* soup = nullptr;
    dgCollision* null = nullptr;
};

// ---- closed forms ----

TEST_F(CollisionQueries, SeparatedSpheresGiveTheirFacingSurfacePoints) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> gap(0.05f, 20.0f);
    for (int32_t i = 0; i < 1000; i++) {
        const dgMatrix ma(randomPose(rng, 50.0f));
        dgVector u(randomPose(rng, 1.0f).front);
        u.w = 0.0f;
        const float d = 2.0f + gap(rng);
        const dgVector cb(ma.position + u.scale(d));
        const dgMatrix mb(translation(cb.x, cb.y, cb.z));
        dgVector pa, pb, n;
        ASSERT_EQ(dgWorldCollisionClosestPoints(world, sphere, ma, sphere, mb, pa, pb, n), 1);
        // The solver stops within its own tolerances: surface points, the
        // gap and the facing direction, not exact coordinates.
        EXPECT_NEAR(distance(pa, ma.position), 1.0f, 1e-3f);
        EXPECT_NEAR(distance(pb, cb), 1.0f, 1e-3f);
        EXPECT_NEAR(distance(pa, pb), d - 2.0f, 2e-3f + 2e-3f * d);
        EXPECT_NEAR(n % n, 1.0f, 1e-4f);
        EXPECT_GT(n % u, 0.998f);
    }
}

TEST_F(CollisionQueries, OverlappingSpheresGiveOneContactAlongTheirCentres) {
    for (const float d : {0.5f, 1.0f, 1.9f, 1.99f}) {
        Outputs out(4);
        const dgMatrix mb(translation(d, 0.0f, 0.0f));
        ASSERT_EQ(collide(sphere, dgGetIdentityMatrix(), sphere, mb, out, 4), 1) << d;
        EXPECT_NEAR(out.normal(0).x, -1.0f, 1e-5f);
        EXPECT_NEAR(out.depths[0], 2.0f - d - kAllowance, 1e-4f);
        EXPECT_NEAR(std::hypot(out.point(0).y, out.point(0).z), 0.0f, 1e-5f);
        EXPECT_TRUE(out.intactFrom(1));
        // Apart, the closest points are not found.
        dgVector pa, pb, n;
        EXPECT_EQ(dgWorldCollisionClosestPoints(world, sphere, dgGetIdentityMatrix(), sphere, mb, pa, pb, n), 0);
    }
}

TEST_F(CollisionQueries, PointDistanceToATurnedBoxIsTheClampedPoint) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> coord(-4.0f, 4.0f);
    int32_t checked = 0;
    for (int32_t i = 0; i < 2000; i++) {
        const dgMatrix m(randomPose(rng, 30.0f));
        const dgVector local(coord(rng), coord(rng), coord(rng), 1.0f);
        const dgVector clamped(std::clamp(local.x, -1.0f, 1.0f), std::clamp(local.y, -1.0f, 1.0f),
                               std::clamp(local.z, -1.0f, 1.0f), 1.0f);
        const float gap = distance(local, clamped);
        const dgVector p(m.transformVector(local));
        dgVector contact, n;
        const int32_t found = dgWorldCollisionPointDistance(world, &p.x, box, m, contact, n);
        if (gap < 0.01f) {
            continue;
        }
        ASSERT_EQ(found, 1) << i;
        EXPECT_LT(distance(contact, m.transformVector(clamped)), 2e-3f);
        EXPECT_LT(distance(n, (p - contact).scale(1.0f / distance(p, contact))), 2e-3f);
        checked++;
    }
    EXPECT_GT(checked, 1000);
}

TEST_F(CollisionQueries, ContinuousSphereMeetsAtTheAnalyticTimeOrNever) {
    Outputs out(4);
    float toi = 0.0f;
    // Gap 3 closed at 6 per second.
    ASSERT_GE(collideMoving(sphere, translation(-5.0f, 0, 0), dgVector(6.0f, 0, 0, 0), sphere, dgGetIdentityMatrix(),
                            out, 4, toi),
              1);
    EXPECT_NEAR(toi, 0.5f, 0.01f);
    EXPECT_NEAR(out.normal(0).x, -1.0f, 1e-3f);
    // Moving away.
    Outputs none(4);
    EXPECT_EQ(collideMoving(sphere, translation(-5.0f, 0, 0), dgVector(-6.0f, 0, 0, 0), sphere,
                            dgGetIdentityMatrix(), none, 4, toi),
              0);
    EXPECT_EQ(toi, dgWorldQueryNoImpact);
    EXPECT_TRUE(none.intactFrom(0));
}

// ---- compounds and the order of the pair ----

TEST_F(CollisionQueries, CompoundAnswersWithTheNearestChildInEitherOrder) {
    // A unit sphere at (6, 0.2, 0.3) is nearest the right box (faces at x = 3.5).
    const dgMatrix ms(translation(6.0f, 0.2f, 0.3f));
    const dgMatrix mc(turned(0.0f, 0.0f, 0.0f, dgVector(0.0f, 0.0f, 0.0f, 1.0f)));
    dgVector pc, ps, n;
    ASSERT_EQ(dgWorldCollisionClosestPoints(world, compound, mc, sphere, ms, pc, ps, n), 1);
    EXPECT_LT(distance(pc, dgVector(3.5f, 0.2f, 0.3f, 1.0f)), 2e-3f);
    EXPECT_LT(distance(ps, dgVector(5.0f, 0.2f, 0.3f, 1.0f)), 2e-3f);
    EXPECT_NEAR(n.x, 1.0f, 1e-3f);

    dgVector qs, qc, m;
    ASSERT_EQ(dgWorldCollisionClosestPoints(world, sphere, ms, compound, mc, qs, qc, m), 1);
    EXPECT_LT(distance(qs, ps), 1e-5f);
    EXPECT_LT(distance(qc, pc), 1e-5f);
    EXPECT_NEAR(m.x, -1.0f, 1e-3f);

    // Moved above the compound's sphere child, which then is nearest.
    const dgMatrix high(translation(0.0f, 5.0f, 0.0f));
    ASSERT_EQ(dgWorldCollisionClosestPoints(world, compound, mc, sphere, high, pc, ps, n), 1);
    EXPECT_LT(distance(pc, dgVector(0.0f, 2.5f, 0.0f, 1.0f)), 2e-3f);
}

TEST_F(CollisionQueries, CollideKeepsTheOrderItComputedIn) {
    // Sphere resting 0.1 into the compound's right box: as (compound, sphere)
    // in both orders, so the normal points from the sphere into the compound.
    const dgMatrix ms(translation(4.4f, 0.0f, 0.0f));
    for (const bool compoundFirst : {true, false}) {
        Outputs out(16);
        const int32_t k = compoundFirst ? collide(compound, dgGetIdentityMatrix(), sphere, ms, out, 16)
                                        : collide(sphere, ms, compound, dgGetIdentityMatrix(), out, 16);
        ASSERT_EQ(k, 1) << compoundFirst;
        EXPECT_NEAR(out.normal(0).x, -1.0f, 1e-3f);
        EXPECT_NEAR(out.depths[0], 0.1f - kAllowance, 1e-3f);
    }
    // A box half sunk into the soup, soup given first: computed as (box,
    // soup), normals up from the soup into the box.
    Outputs out(16);
    const int32_t k = collide(soup, dgGetIdentityMatrix(), box, translation(0.0f, 0.5f, 0.0f), out, 16);
    ASSERT_GE(k, 1);
    for (int32_t i = 0; i < k; i++) {
        EXPECT_NEAR(out.normal(i).y, 1.0f, 1e-3f);
    }
}

// ---- the caller's maximum ----

struct MaximumCase {
    int32_t maxCount;
    int32_t expected;  // -1: any count from 3 to 128
};

class CollisionQueryMaxima : public CollisionQueries, public ::testing::WithParamInterface<MaximumCase> {};

// A box turned 45 degrees about y on another: an octagon of 8 contacts.
TEST_P(CollisionQueryMaxima, NothingIsWrittenPastTheClampedMaximum) {
    const MaximumCase c = GetParam();
    const dgMatrix top(turned(0.0f, 0.785398f, 0.0f, dgVector(0.0f, 1.9f, 0.0f, 1.0f)));
    const dgMatrix above(turned(0.0f, 0.785398f, 0.0f, dgVector(0.0f, 3.0f, 0.0f, 1.0f)));
    const size_t room = size_t(std::clamp(c.maxCount, 0, dgWorldQueryMaxContacts));
    for (const bool moving : {false, true}) {
        Outputs out(c.maxCount);
        float toi = 0.0f;
        const int32_t k = moving ? collideMoving(box, above, dgVector(0.0f, -4.0f, 0.0f, 0.0f), box,
                                                 dgGetIdentityMatrix(), out, c.maxCount, toi)
                                 : collide(box, top, box, dgGetIdentityMatrix(), out, c.maxCount);
        if (c.expected < 0) {
            EXPECT_GE(k, 3) << moving;
            EXPECT_LE(size_t(k), room);
        } else {
            EXPECT_EQ(k, c.expected) << moving;
        }
        EXPECT_TRUE(out.intactFrom(size_t(k))) << moving;
        EXPECT_TRUE(out.intactFrom(room)) << moving;
        for (int32_t i = 0; i < k; i++) {
            EXPECT_NEAR(out.normal(i).y, 1.0f, 1e-3f);
        }
        if (moving && (k > 0)) {
            EXPECT_NEAR(toi, 0.25f, 0.02f);
        } else if (moving) {
            EXPECT_EQ(toi, dgWorldQueryNoImpact);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Maxima, CollisionQueryMaxima,
                         ::testing::Values(MaximumCase{-1, 0}, MaximumCase{0, 0}, MaximumCase{2, 2},
                                           MaximumCase{3, 3}, MaximumCase{200, -1}));

// ---- bad input ----

TEST_F(CollisionQueries, BadInputGivesNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    dgMatrix nanMatrix(dgGetIdentityMatrix()), infPosition(translation(inf, 0.0f, 0.0f));
    nanMatrix.up.y = nan;
    const dgMatrix id(dgGetIdentityMatrix()), near(translation(0.5f, 0.0f, 0.0f));
    struct Pair {
        dgWorld* w;
        dgCollision* a;
        dgMatrix ma;
        dgCollision* b;
        dgMatrix mb;
    };
    const std::vector<Pair> pairs = {
        {nullptr, sphere, id, sphere, near},     {world, nullptr, id, sphere, near},
        {world, sphere, id, nullptr, near},      {world, soup, id, soup, near},
        {world, null, id, sphere, near},         {world, sphere, id, null, near},
        {world, sphere, nanMatrix, sphere, near},
        {world, box, id, box, infPosition},      {world, compound, nanMatrix, soup, near},
        {world, compound, id, null, translation(3.0f, 0.0f, 0.0f)},
    };
    for (size_t i = 0; i < pairs.size(); i++) {
        const Pair& p = pairs[i];
        Outputs out(8), moving(8);
        float toi = 0.0f;
        dgVector pa(kStill), pb(kStill), n(kStill);
        // Far apart, so closest points would otherwise be found.
        const dgMatrix far(p.mb.multiply(translation(10.0f, 0.0f, 0.0f)));
        EXPECT_EQ(dgWorldCollisionClosestPoints(p.w, p.a, p.ma, p.b, far, pa, pb, n), 0) << i;
        EXPECT_EQ(distance(pa, kStill), 0.0f) << i;
        EXPECT_EQ(dgWorldCollide(p.w, p.a, p.ma, p.b, p.mb, out.points.data(), out.normals.data(),
                                 out.depths.data(), 8),
                  0)
            << i;
        EXPECT_EQ(dgWorldCollideContinuous(p.w, p.a, p.ma, dgVector(-3.0f, 0, 0, 0), kStill, p.b, p.mb, kStill,
                                           kStill, &toi, moving.points.data(), moving.normals.data(),
                                           moving.depths.data(), 8),
                  0)
            << i;
        EXPECT_EQ(toi, dgWorldQueryNoImpact) << i;
        EXPECT_TRUE(out.intactFrom(0) && moving.intactFrom(0)) << i;
    }
    // Closest points walk compounds only: a soup is no list of children, and
    // the null shape is no point.
    dgVector pa(kStill), pb(kStill), n0(kStill);
    EXPECT_EQ(dgWorldCollisionClosestPoints(world, compound, id, soup, translation(0.0f, 20.0f, 0.0f), pa, pb, n0), 0);
    EXPECT_EQ(dgWorldCollisionClosestPoints(world, soup, translation(0.0f, 20.0f, 0.0f), compound, id, pa, pb, n0), 0);
    EXPECT_EQ(dgWorldCollisionClosestPoints(world, compound, id, null, translation(0.0f, 20.0f, 0.0f), pa, pb, n0), 0);
    EXPECT_EQ(distance(pa, kStill) + distance(n0, kStill), 0.0f);
    // Null outputs, a non-finite velocity or point.
    Outputs out(8);
    float toi = 0.0f;
    EXPECT_EQ(dgWorldCollide(world, sphere, id, sphere, near, nullptr, out.normals.data(), out.depths.data(), 8), 0);
    EXPECT_EQ(dgWorldCollideContinuous(world, sphere, id, dgVector(nan, 0, 0, 0), kStill, sphere, near, kStill,
                                       kStill, &toi, out.points.data(), out.normals.data(), out.depths.data(), 8),
              0);
    EXPECT_TRUE(out.intactFrom(0));
    const float badPoint[3] = {nan, 3.0f, 0.0f}, goodPoint[3] = {3.0f, 0.0f, 0.0f};
    dgVector contact, n;
    EXPECT_EQ(dgWorldCollisionPointDistance(world, badPoint, box, id, contact, n), 0);
    EXPECT_EQ(dgWorldCollisionPointDistance(world, nullptr, box, id, contact, n), 0);
    EXPECT_EQ(dgWorldCollisionPointDistance(world, goodPoint, soup, id, contact, n), 0);
    // A world without its point shape.
    dgCollisionPoint* const point = world->m_pointCollision;
    world->m_pointCollision = nullptr;
    EXPECT_EQ(dgWorldCollisionPointDistance(world, goodPoint, box, id, contact, n), 0);
    world->m_pointCollision = point;
    EXPECT_EQ(dgWorldCollisionPointDistance(world, goodPoint, box, id, contact, n), 1);
}

// Temporaries must not depend on what the stack held before: a continuous
// compound query after the stack is filled with NaN patterns still finds the
// box under it at the same time.
__attribute__((noinline)) float dirtyStack() {
    volatile unsigned char junk[64 * 1024];
    for (size_t i = 0; i < sizeof(junk); i++) {
        junk[i] = 0xFF;
    }
    return float(junk[100]);
}

TEST_F(CollisionQueries, TemporaryBodiesAreClearedBeforeUse) {
    float reference = 0.0f;
    int32_t referenceCount = 0;
    for (int32_t pass = 0; pass < 2; pass++) {
        if (pass == 1) {
            ASSERT_EQ(dirtyStack(), 255.0f);
        }
        Outputs out(16);
        float toi = 0.0f;
        const int32_t k = collideMoving(compound, translation(-3.0f, 4.0f, 0.0f), dgVector(0.0f, -4.0f, 0.0f, 0.0f),
                                        box, dgGetIdentityMatrix(), out, 16, toi);
        if (pass == 0) {
            ASSERT_GE(k, 1);
            EXPECT_NEAR(toi, 0.5f, 0.02f);
            reference = toi;
            referenceCount = k;
        } else {
            EXPECT_EQ(k, referenceCount);
            EXPECT_EQ(toi, reference);
        }
    }
}

}  // namespace

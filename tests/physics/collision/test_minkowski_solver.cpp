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
#include "dgCollisionConvexHull.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionSphere.h"
#include "dgMinkowskiSolver.h"
#include "dgWorld.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> ShapeHolder;

ShapeHolder box(float dx, float dy, float dz) {
    return ShapeHolder::adopt(new dgCollisionBox(0, dx, dy, dz, dgGetIdentityMatrix()));
}
ShapeHolder sphere(float r) {
    return ShapeHolder::adopt(new dgCollisionSphere(0, r, dgGetIdentityMatrix()));
}
ShapeHolder ellipse(float rx, float ry, float rz) {
    return ShapeHolder::adopt(new dgCollisionEllipse(0, rx, ry, rz, dgGetIdentityMatrix()));
}
ShapeHolder capsule(float r, float h) {
    return ShapeHolder::adopt(new dgCollisionCapsule(0, r, h, dgGetIdentityMatrix()));
}
ShapeHolder cylinder(float r, float h) {
    return ShapeHolder::adopt(new dgCollisionCylinder(0, r, h, dgGetIdentityMatrix()));
}
// Hull of n random points on the unit sphere, scaled.
ShapeHolder hull(uint32_t seed, int32_t n, float scale) {
    std::mt19937 rng(seed);
    std::vector<float> p;
    for (int32_t i = 0; i < n; i++) {
        const dgVector d(randomUnit(rng));
        p.insert(p.end(), {d.x * scale, d.y * scale, d.z * scale});
    }
    return ShapeHolder::adopt(new dgCollisionConvexHull(0, n, 3 * int32_t(sizeof(float)), p.data(),
                                                        dgGetIdentityMatrix()));
}

// A cleared body holding shape at pose (the body does not reference it).
dgBody bodyOf(dgCollision* shape, const dgMatrix& pose) {
    dgBody body;
    body.clear();
    body.m_collision = shape;
    body.m_matrix = pose;
    dgBodyUpdateCollisionMatrix(&body, 0.0f);
    return body;
}

class MinkowskiTest : public ::testing::Test {
protected:
    void SetUp() override { dgInitSearchDirections(); }
};

// ---- reference geometry, double precision ----

// Signed distance from a point (box's local frame) to a box of half sizes h.
double boxDistance(const D3& p, const D3& h) {
    D3 q{std::fabs(p.x) - h.x, std::fabs(p.y) - h.y, std::fabs(p.z) - h.z};
    const D3 outside{std::max(q.x, 0.0), std::max(q.y, 0.0), std::max(q.z, 0.0)};
    return length(outside) + std::min(std::max(q.x, std::max(q.y, q.z)), 0.0);
}

D3 toLocal(const dgMatrix& m, const D3& p) {
    const D3 d = p - toD3(m.position);
    return D3{dot(d, toD3(m.front)), dot(d, toD3(m.up)), dot(d, toD3(m.right))};
}

// Separating-axis depth of two boxes (half sizes ha, hb): the smallest
// overlap over the 15 axes; negative when some axis separates.
double satDepth(const dgMatrix& ma, const D3& ha, const dgMatrix& mb, const D3& hb) {
    const D3 axesA[3] = {toD3(ma.front), toD3(ma.up), toD3(ma.right)};
    const D3 axesB[3] = {toD3(mb.front), toD3(mb.up), toD3(mb.right)};
    std::vector<D3> axes(axesA, axesA + 3);
    axes.insert(axes.end(), axesB, axesB + 3);
    for (const D3& a : axesA) {
        for (const D3& b : axesB) {
            const D3 c = cross(a, b);
            if (length(c) > 1e-6) {
                axes.push_back(c * (1.0 / length(c)));
            }
        }
    }
    const D3 t = toD3(mb.position) - toD3(ma.position);
    double depth = 1e30;
    for (const D3& axis : axes) {
        double ra = 0.0;
        double rb = 0.0;
        for (int32_t i = 0; i < 3; i++) {
            ra += ha[i] * std::fabs(dot(axesA[i], axis));
            rb += hb[i] * std::fabs(dot(axesB[i], axis));
        }
        depth = std::min(depth, ra + rb - std::fabs(dot(t, axis)));
    }
    return depth;
}

// Points on a box surface: an n x n grid on each face, world space.
std::vector<D3> boxSurface(const dgMatrix& m, const D3& h, int32_t n) {
    std::vector<D3> out;
    for (int32_t axis = 0; axis < 3; axis++) {
        for (int32_t side = -1; side <= 1; side += 2) {
            for (int32_t i = 0; i <= n; i++) {
                for (int32_t j = 0; j <= n; j++) {
                    D3 p{0, 0, 0};
                    p[axis] = side * h[axis];
                    p[(axis + 1) % 3] = h[(axis + 1) % 3] * (2.0 * i / n - 1.0);
                    p[(axis + 2) % 3] = h[(axis + 2) % 3] * (2.0 * j / n - 1.0);
                    out.push_back(toD3(m.transformVector(dgVector(float(p.x), float(p.y), float(p.z), 1.0f))));
                }
            }
        }
    }
    return out;
}

struct ClosestResult {
    int32_t hit;
    D3 p0;
    D3 p1;
    D3 n;
};

ClosestResult closest(dgBody& b0, dgBody& b1) {
    float p0[3] = {0, 0, 0};
    float p1[3] = {0, 0, 0};
    float n[3] = {0, 0, 0};
    ClosestResult r;
    r.hit = dgClosestPoints(&b0, &b1, p0, p1, n);
    r.p0 = D3{p0[0], p0[1], p0[2]};
    r.p1 = D3{p1[0], p1[1], p1[2]};
    r.n = D3{n[0], n[1], n[2]};
    return r;
}

}  // namespace

// ---- search directions ----

TEST_F(MinkowskiTest, WorldConstructorFillsTheSearchDirections) {
    std::memset(static_cast<void*>(dgSearchDirections), 0, sizeof(dgSearchDirections));
    HookGuard guard;
    dgWorldDestroy(dgWorldCreate(nullptr, nullptr));
    const float k = 1.0f / std::sqrt(3.0f);
    EXPECT_NEAR(dgSearchDirections[0].x, k, 1e-6f);
    EXPECT_NEAR(dgSearchDirections[0].y, -k, 1e-6f);
    EXPECT_EQ(dgSearchDirections[8].y, -1.0f);
    EXPECT_EQ(dgSearchDirections[13].z, -1.0f);
    for (const dgVector& d : dgSearchDirections) {
        EXPECT_NEAR(d % d, 1.0f, 1e-6f);
        EXPECT_EQ(d.w, 0.0f);
    }
}

// ---- the edge record ----

TEST(MinkowskiEdge, FaceMarksReadNegative) {
    dgMinkowskiEdge e;
    e.m_face = dgMinkowskiEdge::kDeleted;
    e.m_vertex = 127;
    e.m_inHeap = 1;
    EXPECT_LT(e.m_face, 0);
    EXPECT_EQ(uint16_t(e.m_face), 0xFFFF);
    EXPECT_EQ(uint16_t(dgMinkowskiEdge::kCollected), 0xFFFE);
    EXPECT_EQ(e.m_vertex, 127u);
    EXPECT_EQ(e.m_inHeap, 1u);
}

// ---- closest points against closed forms ----

struct ClosedFormCase {
    const char* name;
    std::function<ShapeHolder()> a;
    std::function<ShapeHolder()> b;
    // Exact distance between the shapes for b's centre at p (a at the
    // origin, both unturned).
    std::function<double(const D3&)> distance;
    D3 place;
};

class ClosedForm : public MinkowskiTest, public ::testing::WithParamInterface<ClosedFormCase> {};

TEST_P(ClosedForm, DistancePointsAndNormalMatch) {
    const ClosedFormCase& c = GetParam();
    ShapeHolder a = c.a();
    ShapeHolder b = c.b();
    std::mt19937 rng(7);
    for (int32_t trial = 0; trial < 200; trial++) {
        // One common rigid motion of the pair leaves the answer unchanged.
        const dgMatrix frame = randomPose(rng, 50.0f);
        dgMatrix poseB = translation(float(c.place.x), float(c.place.y), float(c.place.z));
        dgBody b0 = bodyOf(a.get(), frame);
        dgBody b1 = bodyOf(b.get(), poseB.multiply(frame));
        const ClosestResult r = closest(b0, b1);
        ASSERT_EQ(r.hit, 1) << c.name;
        const double expected = c.distance(c.place);
        const D3 gap = r.p1 - r.p0;
        EXPECT_NEAR(length(gap), expected, 2e-3 + 2e-3 * expected) << c.name;
        EXPECT_NEAR(length(r.n), 1.0, 1e-4);
        EXPECT_GT(dot(gap, r.n), 0.99 * length(gap));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Minkowski, ClosedForm,
    ::testing::Values(
        ClosedFormCase{"CubesThreeApart", [] { return box(1, 1, 1); }, [] { return box(1, 1, 1); },
                       [](const D3& p) { return p.x - 1.0; }, D3{3, 0, 0}},
        ClosedFormCase{"SpherePair", [] { return sphere(1.0f); }, [] { return sphere(0.5f); },
                       [](const D3& p) { return length(p) - 1.5; }, D3{1.2, 2.0, -0.7}},
        ClosedFormCase{"BoxSphereFace", [] { return box(2, 4, 6); }, [] { return sphere(0.5f); },
                       [](const D3& p) { return boxDistance(p, D3{1, 2, 3}) - 0.5; }, D3{0.3, 3.0, -1.0}},
        ClosedFormCase{"BoxSphereEdge", [] { return box(2, 4, 6); }, [] { return sphere(0.5f); },
                       [](const D3& p) { return boxDistance(p, D3{1, 2, 3}) - 0.5; }, D3{2.0, 3.0, 0.5}},
        ClosedFormCase{"BoxSphereCorner", [] { return box(2, 4, 6); }, [] { return sphere(0.5f); },
                       [](const D3& p) { return boxDistance(p, D3{1, 2, 3}) - 0.5; }, D3{2.0, 3.0, -4.0}},
        ClosedFormCase{"CapsuleSphere", [] { return capsule(0.5f, 3.0f); }, [] { return sphere(0.25f); },
                       [](const D3& p) {
                           const D3 q{std::max(-1.0, std::min(1.0, p.x)), 0, 0};
                           return length(p - q) - 0.75;
                       },
                       D3{0.4, 1.5, 0.8}}),
    [](const ::testing::TestParamInfo<ClosedFormCase>& info) { return std::string(info.param.name); });

TEST_F(MinkowskiTest, BoxPairClosestPointsMatchDenseSurfaceSamples) {
    ShapeHolder a = box(1.0f, 2.0f, 0.5f);
    ShapeHolder b = box(1.5f, 0.4f, 1.0f);
    const D3 ha{0.5, 1.0, 0.25};
    const D3 hb{0.75, 0.2, 0.5};
    std::mt19937 rng(11);
    int32_t checked = 0;
    for (int32_t trial = 0; trial < 60; trial++) {
        const dgMatrix m0 = randomPose(rng, 2.0f);
        const dgMatrix m1 = randomPose(rng, 2.0f);
        if (satDepth(m0, ha, m1, hb) > -0.05) {
            continue;
        }
        dgBody b0 = bodyOf(a.get(), m0);
        dgBody b1 = bodyOf(b.get(), m1);
        const ClosestResult r = closest(b0, b1);
        ASSERT_EQ(r.hit, 1);
        // Both points on their surfaces.
        EXPECT_NEAR(boxDistance(toLocal(m0, r.p0), ha), 0.0, 1e-3);
        EXPECT_NEAR(boxDistance(toLocal(m1, r.p1), hb), 0.0, 1e-3);
        // Brute force: the nearest sample of B's surface to A.
        double best = 1e30;
        for (const D3& p : boxSurface(m1, hb, 40)) {
            best = std::min(best, boxDistance(toLocal(m0, p), ha));
        }
        const double d = length(r.p1 - r.p0);
        EXPECT_LE(d, best + 2e-3);
        EXPECT_GE(d, best - 0.03);
        checked++;
    }
    EXPECT_GT(checked, 10);
}

TEST_F(MinkowskiTest, SwappedBodiesNegateTheNormal) {
    ShapeHolder shapes[3] = {box(1, 2, 1), hull(5, 40, 1.0f), cylinder(0.5f, 2.0f)};
    std::mt19937 rng(3);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 300; trial++) {
        dgBody b0 = bodyOf(shapes[trial % 3].get(), randomPose(rng, 3.0f));
        dgBody b1 = bodyOf(shapes[(trial / 3) % 3].get(), randomPose(rng, 3.0f));
        const ClosestResult r = closest(b0, b1);
        const ClosestResult s = closest(b1, b0);
        ASSERT_EQ(r.hit, s.hit);
        if (!r.hit) {
            continue;
        }
        hits++;
        // The search stops once its direction turns by less than acos(0.9995),
        // which bounds its accuracy relative to the distance.
        const double d = length(r.p1 - r.p0);
        EXPECT_NEAR(d, length(s.p1 - s.p0), 5e-3 * (1.0 + d)) << trial;
        EXPECT_LT(dot(r.n, s.n), -0.95);
    }
    EXPECT_GT(hits, 50);
}

TEST_F(MinkowskiTest, OverlapAndTouchingReportNoClosestPoints) {
    ShapeHolder a = box(1, 1, 1);
    dgBody b0 = bodyOf(a.get(), dgGetIdentityMatrix());
    float out[3] = {7, 7, 7};
    // Overlapping, and touching at exactly zero gap.
    for (float x : {0.5f, 1.0f}) {
        dgBody b1 = bodyOf(a.get(), translation(x, 0.2f, 0.0f));
        EXPECT_EQ(dgClosestPoints(&b0, &b1, out, out, out), 0);
        dgMinkowskiSolver solver(&b0, &b1);
        dgMinkowskiEdge* face = nullptr;
        EXPECT_EQ(solver.calcSeparatingFace(face, dgVector(0, 0, 0, 1)), 2);
    }
    EXPECT_EQ(out[0], 7.0f);
}

// ---- penetration face ----

TEST_F(MinkowskiTest, PenetrationDepthOfBoxesMatchesSeparatingAxes) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> size(0.2f, 3.0f);
    int32_t overlapping = 0;
    for (int32_t trial = 0; trial < 2000; trial++) {
        const D3 ha{size(rng) * 0.5, size(rng) * 0.5, size(rng) * 0.5};
        const D3 hb{size(rng) * 0.5, size(rng) * 0.5, size(rng) * 0.5};
        ShapeHolder a = box(float(2 * ha.x), float(2 * ha.y), float(2 * ha.z));
        ShapeHolder b = box(float(2 * hb.x), float(2 * hb.y), float(2 * hb.z));
        const dgMatrix m0 = randomPose(rng, 1.0f);
        const dgMatrix m1 = randomPose(rng, 1.0f);
        const double depth = satDepth(m0, ha, m1, hb);
        dgBody b0 = bodyOf(a.get(), m0);
        dgBody b1 = bodyOf(b.get(), m1);
        dgMinkowskiSolver solver(&b0, &b1);
        dgMinkowskiEdge* face = nullptr;
        const int32_t r = solver.calcSeparatingFace(face, dgVector(0, 0, 0, 1));
        if (depth < -1e-3) {
            EXPECT_EQ(r, 1);
            continue;
        }
        if (depth < 1e-3) {
            continue;
        }
        ASSERT_EQ(r, 2);
        overlapping++;
        const dgMinkowskiEdge* pen = solver.calcPenetrationFace();
        ASSERT_NE(pen, nullptr);
        const dgPlane& plane = solver.m_planes[pen->m_face];
        EXPECT_NEAR(plane % plane, 1.0f, 1e-4f);
        EXPECT_GE(-plane.w, depth - 1.0 / 2048.0 - 1e-4 * (1 + depth));
        EXPECT_LE(-plane.w, depth + 1e-4 * (1 + depth));
        EXPECT_TRUE(solver.checkPolytope(1e-3f));
    }
    EXPECT_GT(overlapping, 500);
}

// Smooth and many-sided shapes drive the expansion to its limits: every
// answer is a finite unit plane at or inside the origin, and the polytope
// stays a closed convex triangle mesh.
TEST_F(MinkowskiTest, ExpansionLimitsGiveAFiniteFace) {
    // Large curved shapes need far more vertices than the pools hold to
    // reach the tolerance.
    ShapeHolder shapes[] = {sphere(40.0f), ellipse(60.0f, 20.0f, 40.0f), capsule(20.0f, 100.0f),
                            hull(9, 200, 50.0f), cylinder(30.0f, 40.0f)};
    const int32_t kinds = int32_t(sizeof(shapes) / sizeof(shapes[0]));
    std::mt19937 rng(33);
    int32_t atLimit = 0;
    for (int32_t trial = 0; trial < 400; trial++) {
        dgBody b0 = bodyOf(shapes[trial % kinds].get(), randomPose(rng, 30.0f));
        dgBody b1 = bodyOf(shapes[(trial / kinds) % kinds].get(), randomPose(rng, 30.0f));
        dgMinkowskiSolver solver(&b0, &b1);
        dgMinkowskiEdge* face = nullptr;
        if (solver.calcSeparatingFace(face, dgVector(0, 0, 0, 1)) != 2) {
            continue;
        }
        const dgMinkowskiEdge* pen = solver.calcPenetrationFace();
        ASSERT_NE(pen, nullptr);
        const dgPlane& plane = solver.m_planes[pen->m_face];
        ASSERT_TRUE(std::isfinite(plane.x) && std::isfinite(plane.y) && std::isfinite(plane.z) &&
                    std::isfinite(plane.w));
        EXPECT_NEAR(plane % plane, 1.0f, 1e-4f);
        EXPECT_LE(plane.w, 1e-5f);
        const bool limit =
            (solver.m_vertexCount > 123) || (solver.m_planeCount > 112) || (solver.m_edgeCount > 502);
        atLimit += limit ? 1 : 0;
        // The answer at a limit rewrites one face with the best one: only
        // the links are checked then.
        EXPECT_TRUE(solver.checkPolytope(limit ? std::numeric_limits<float>::infinity() : 1e-2f));
    }
    EXPECT_GT(atLimit, 0);
}

// ---- bad placements ----

TEST_F(MinkowskiTest, NonFiniteOrFarPlacementsGiveNoAnswer) {
    ShapeHolder a = box(1, 1, 1);
    ShapeHolder s = sphere(1.0f);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f};
    for (float value : bad) {
        for (int32_t row = 0; row < 4; row++) {
            dgMatrix m = translation(0.5f, 0, 0);
            m[row].y = value;
            dgBody b0 = bodyOf(a.get(), dgGetIdentityMatrix());
            dgBody b1 = bodyOf(s.get(), m);
            float out[3] = {7, 7, 7};
            EXPECT_EQ(dgClosestPoints(&b0, &b1, out, out, out), 0);
            EXPECT_EQ(dgClosestPoints(&b1, &b0, out, out, out), 0);
            EXPECT_EQ(out[0], 7.0f);
            dgMinkowskiSolver solver(&b0, &b1);
            dgMinkowskiEdge* face = nullptr;
            EXPECT_EQ(solver.calcSeparatingFace(face, dgVector(0, 0, 0, 1)), 0);
        }
    }
}

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
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
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
ShapeHolder cone(float r, float h) {
    return ShapeHolder::adopt(new dgCollisionCone(0, r, h, dgGetIdentityMatrix()));
}
ShapeHolder chamfer(float r, float h) {
    return ShapeHolder::adopt(new dgCollisionChamferCylinder(0, r, h, dgGetIdentityMatrix()));
}
// Hull of n random points on the unit sphere, scaled.
ShapeHolder hull(uint32_t seed, int32_t n, float scale) {
    std::mt19937 rng(seed);
    std::vector<float> p;
    for (int32_t i = 0; i < n; i++) {
        const dgVector d(randomUnit(rng));
        p.insert(p.end(), {d.x * scale, d.y * scale, d.z * scale});
    }
    return ShapeHolder::adopt(
        new dgCollisionConvexHull(0, n, 3 * int32_t(sizeof(float)), p.data(), dgGetIdentityMatrix()));
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
                    out.push_back(
                        toD3(m.transformVector(dgVector(float(p.x), float(p.y), float(p.z), 1.0f))));
                }
            }
        }
    }
    return out;
}

// A shape at its collision matrix moved by shift, or a point (no shape) at
// the matrix's position: its support along a world direction. The shape's
// own support function defines it (the round shapes are tessellated);
// everything around it is double.
struct Placed {
    const dgConvexCollision* shape;
    dgMatrix matrix;
    D3 shift{0, 0, 0};
    D3 support(const D3& d) const {
        const D3 origin = toD3(matrix.position) + shift;
        if (!shape) {
            return origin;
        }
        const D3 local{dot(d, toD3(matrix.front)), dot(d, toD3(matrix.up)), dot(d, toD3(matrix.right))};
        const double l = length(local);
        const D3 p = toD3(
            shape->supportVertex(dgVector(float(local.x / l), float(local.y / l), float(local.z / l), 0)));
        return origin + toD3(matrix.front) * p.x + toD3(matrix.up) * p.y + toD3(matrix.right) * p.z;
    }
};

// Nearest point of triangle abc to the origin by its regions, with the
// weights of a, b and c.
D3 nearestOnTriangle(const D3& a, const D3& b, const D3& c, double* w) {
    const D3 ab = b - a;
    const D3 ac = c - a;
    const double d1 = -dot(ab, a), d2 = -dot(ac, a), d3 = -dot(ab, b), d4 = -dot(ac, b);
    const double d5 = -dot(ab, c), d6 = -dot(ac, c);
    const double va = d3 * d6 - d5 * d4, vb = d5 * d2 - d1 * d6, vc = d1 * d4 - d3 * d2;
    double v = 0.0;
    double u = 0.0;
    if ((d1 <= 0) && (d2 <= 0)) {
    } else if ((d3 >= 0) && (d4 <= d3)) {
        v = 1.0;
    } else if ((d6 >= 0) && (d5 <= d6)) {
        u = 1.0;
    } else if ((vc <= 0) && (d1 >= 0) && (d3 <= 0)) {
        v = d1 / (d1 - d3);
    } else if ((vb <= 0) && (d2 >= 0) && (d6 <= 0)) {
        u = d2 / (d2 - d6);
    } else if ((va <= 0) && (d4 >= d3) && (d5 >= d6)) {
        u = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        v = 1.0 - u;
    } else {
        v = vb / (va + vb + vc);
        u = vc / (va + vb + vc);
    }
    w[0] = 1.0 - v - u;
    w[1] = v;
    w[2] = u;
    return a + ab * v + ac * u;
}

// Distance between two placed shapes (0 when they overlap) by a descent
// over simplices of the difference.
double referenceDistance(const Placed& a, const Placed& b) {
    static const int32_t kFaces[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    D3 v = toD3(a.matrix.position) + a.shift - toD3(b.matrix.position) - b.shift;
    if (dot(v, v) < 1e-24) {
        v = D3{1, 0, 0};
    }
    D3 simplex[4];
    int32_t count = 0;
    for (int32_t iteration = 0; iteration < 100; iteration++) {
        const D3 w = a.support(v * -1.0) - b.support(v);
        if (dot(v, v) - dot(v, w) <= 1e-12 * dot(v, v)) {
            break;
        }
        simplex[count++] = w;
        while (count < 3) {
            simplex[count++] = w;
        }
        const int32_t faceCount = (count == 4) ? 4 : 1;
        if (count == 4) {
            bool inside = std::fabs(dot(cross(simplex[1] - simplex[0], simplex[2] - simplex[0]),
                                        simplex[3] - simplex[0])) > 1e-15;
            for (const auto& f : kFaces) {
                const D3& p = simplex[f[0]];
                const D3 n = cross(simplex[f[1]] - p, simplex[f[2]] - p);
                inside = inside && (dot(n, simplex[6 - f[0] - f[1] - f[2]] - p) * -dot(n, p) > 0.0);
            }
            if (inside) {
                return 0.0;
            }
        }
        double best = 1e300;
        D3 kept[3];
        int32_t keptCount = 0;
        for (int32_t k = 0; k < faceCount; k++) {
            const int32_t* f = kFaces[k];
            double weights[3];
            const D3 p = nearestOnTriangle(simplex[f[0]], simplex[f[1]], simplex[f[2]], weights);
            if (dot(p, p) < best) {
                best = dot(p, p);
                v = p;
                keptCount = 0;
                for (int32_t i = 0; i < 3; i++) {
                    const D3& q = simplex[f[i]];
                    if ((weights[i] > 0) && ((keptCount == 0) || (length(kept[keptCount - 1] - q) > 1e-15))) {
                        kept[keptCount++] = q;
                    }
                }
            }
        }
        std::copy(kept, kept + keptCount, simplex);
        count = keptCount;
        if (best < 1e-24) {
            return 0.0;
        }
    }
    return length(v);
}

// A convex shape of every kind, with the box and chamfer cylinder sizes that
// once lost their contacts.
std::vector<ShapeHolder> everyKind() {
    return {box(1.0f, 1.5f, 0.7f),
            box(3.0f, 0.1f, 2.0f),
            box(0.1f, 0.1f, 0.1f),
            box(1.27967f, 1.27967f, 1.27967f),
            sphere(0.5f),
            ellipse(0.8f, 0.4f, 0.5f),
            capsule(0.3f, 1.2f),
            cylinder(0.6f, 0.8f),
            cone(0.6f, 1.0f),
            chamfer(0.8f, 0.4f),
            chamfer(0.187697f, 1.14378f),
            hull(5, 20, 0.6f)};
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
                       [](const D3& p) {
                           return boxDistance(p, D3{1, 2, 3}) - 0.5;
                       },
                       D3{0.3, 3.0, -1.0}},
        ClosedFormCase{"BoxSphereEdge", [] { return box(2, 4, 6); }, [] { return sphere(0.5f); },
                       [](const D3& p) {
                           return boxDistance(p, D3{1, 2, 3}) - 0.5;
                       },
                       D3{2.0, 3.0, 0.5}},
        ClosedFormCase{"BoxSphereCorner", [] { return box(2, 4, 6); }, [] { return sphere(0.5f); },
                       [](const D3& p) {
                           return boxDistance(p, D3{1, 2, 3}) - 0.5;
                       },
                       D3{2.0, 3.0, -4.0}},
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
        // The tetrahedron moves vertex contents, never its records.
        EXPECT_EQ(solver.m_edges[0].m_vertex, 0u);
        EXPECT_EQ(solver.m_edges[0].m_next->m_vertex, 1u);
        EXPECT_EQ(solver.m_edges[0].m_prev->m_vertex, 2u);
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
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         1e30f};
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

// ---- contact manifold ----

namespace {

constexpr int32_t kCanaries = 4;
const float kCanaryValue = -12345.0f;

// A contact array with canary records after maxCount.
struct ContactBuffer {
    explicit ContactBuffer(int32_t maxCount) : records(size_t(maxCount + kCanaries)), max(maxCount) {
        for (dgContactPoint& c : records) {
            std::memset(static_cast<void*>(&c), 0, sizeof(c));
            c.penetration = kCanaryValue;
        }
    }
    bool canariesIntact() const {
        for (size_t i = size_t(max); i < records.size(); i++) {
            if (records[i].penetration != kCanaryValue) {
                return false;
            }
        }
        return true;
    }
    std::vector<dgContactPoint> records;
    int32_t max;
};

int32_t contactsOf(dgBody& b0, dgBody& b1, ContactBuffer& buffer, int32_t userId = 0) {
    dgMinkowskiSolver solver(&b0, &b1);
    return solver.calcContacts(buffer.records.data(), userId, buffer.max);
}

}  // namespace

TEST_F(MinkowskiTest, BoxRestingOnBoxGivesItsFourCorners) {
    ShapeHolder small = box(1.0f, 1.0f, 1.0f);
    ShapeHolder large = box(4.0f, 2.0f, 4.0f);
    std::mt19937 rng(5);
    for (int32_t trial = 0; trial < 100; trial++) {
        const dgMatrix frame = randomPose(rng, 100.0f);
        const float yaw = 0.3f * float(trial % 5);
        for (float overlap : {0.05f, 0.004f}) {
            const dgMatrix top = turned(0.0f, yaw, 0.0f, dgVector(0.3f, 1.5f - overlap, -0.2f, 1.0f));
            dgBody b0 = bodyOf(small.get(), top.multiply(frame));
            dgBody b1 = bodyOf(large.get(), frame);
            ContactBuffer buffer(16);
            const int32_t count = contactsOf(b0, b1, buffer, -7);
            ASSERT_EQ(count, 4);
            EXPECT_TRUE(buffer.canariesIntact());
            const D3 up = toD3(frame.up);
            for (int32_t i = 0; i < count; i++) {
                const dgContactPoint& c = buffer.records[size_t(i)];
                EXPECT_GT(dot(toD3(c.normal), up), 0.9999);
                EXPECT_NEAR(c.penetration, std::max(overlap - 1.0f / 128.0f, 0.0f), 2e-4f);
                EXPECT_EQ(c.userId, int64_t(0xFFFFFFF9u));
                // A corner of the small box's lower face, in the contact plane.
                const D3 local = toLocal(b0.m_collisionMatrix, toD3(c.point));
                EXPECT_NEAR(std::fabs(local.x), 0.5, 1e-3);
                EXPECT_NEAR(std::fabs(local.z), 0.5, 1e-3);
                EXPECT_NEAR(local.y, -0.5 + overlap * 0.5, 1e-3);
            }
        }
    }
}

struct FeatureCase {
    const char* name;
    dgMatrix top;
    int32_t expected;
    // Height of the plane midway between the two touching features.
    float middle;
};

class FeatureContacts : public MinkowskiTest, public ::testing::WithParamInterface<FeatureCase> {};

// Edge on face clips the edge to the face (two records); two crossing edges
// meet in one record at the midpoint of their closest points.
TEST_P(FeatureContacts, RecordCountMatchesTheTouchingFeatures) {
    const FeatureCase& c = GetParam();
    ShapeHolder a = box(1.0f, 1.0f, 1.0f);
    ShapeHolder b = box(1.0f, 1.0f, 1.0f);
    dgBody b0 = bodyOf(a.get(), c.top);
    dgBody b1 = bodyOf(b.get(), turned(0.7854f, 0.0f, 0.0f, dgVector(0, 0, 0, 1)));
    if (c.expected == 2) {
        b1 = bodyOf(b.get(), translation(0, 0, 0));
    }
    ContactBuffer buffer(8);
    const int32_t count = contactsOf(b0, b1, buffer);
    EXPECT_EQ(count, c.expected);
    EXPECT_TRUE(buffer.canariesIntact());
    for (int32_t i = 0; i < count; i++) {
        const dgContactPoint& r = buffer.records[size_t(i)];
        EXPECT_GT(r.normal.y, 0.999f);
        EXPECT_NEAR(r.point.y, c.middle, 1e-3f) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Minkowski, FeatureContacts,
    ::testing::Values(
        // A box turned 45 degrees about x stands on its lower edge.
        FeatureCase{"EdgeOnFace", turned(0.7854f, 0.0f, 0.0f, dgVector(0.1f, 0.5f + 0.7071f - 0.03f, 0, 1)),
                    2, 0.5f - 0.015f},
        // Upper edge of the lower box along x, lower edge of the upper box
        // along z.
        FeatureCase{"CrossingEdges",
                    turned(0.7854f, 1.5708f, 0.0f, dgVector(0.05f, 2.0f * 0.7071f - 0.03f, 0.1f, 1)), 1,
                    0.7071f - 0.015f}),
    [](const ::testing::TestParamInfo<FeatureCase>& info) { return std::string(info.param.name); });

// Random overlapping box pairs: the count honours the maximum, records are
// finite with unit normals along a separating-axis minimum, every point lies
// in both boxes within the penetration, and the swapped pair answers the
// opposite normal.
TEST_F(MinkowskiTest, RandomBoxPairContactsLieInBothBoxes) {
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> size(0.3f, 3.0f);
    int32_t made = 0;
    int32_t opposite = 0;
    for (int32_t trial = 0; trial < 3000; trial++) {
        const D3 ha{size(rng) * 0.5, size(rng) * 0.5, size(rng) * 0.5};
        const D3 hb{size(rng) * 0.5, size(rng) * 0.5, size(rng) * 0.5};
        ShapeHolder a = box(float(2 * ha.x), float(2 * ha.y), float(2 * ha.z));
        ShapeHolder b = box(float(2 * hb.x), float(2 * hb.y), float(2 * hb.z));
        const dgMatrix m0 = randomPose(rng, 1.2f);
        const dgMatrix m1 = randomPose(rng, 1.2f);
        const double depth = satDepth(m0, ha, m1, hb);
        dgBody b0 = bodyOf(a.get(), m0);
        dgBody b1 = bodyOf(b.get(), m1);
        const int32_t maxCount = 1 + trial % 6;
        ContactBuffer buffer(maxCount);
        const int32_t count = contactsOf(b0, b1, buffer);
        ASSERT_LE(count, maxCount);
        ASSERT_TRUE(buffer.canariesIntact());
        if (depth < -1e-3) {
            EXPECT_EQ(count, 0);
            continue;
        }
        if (depth < 0.01) {
            continue;
        }
        EXPECT_GT(count, 0) << trial << " depth " << depth;
        made += (count > 0) ? 1 : 0;
        for (int32_t i = 0; i < count; i++) {
            const dgContactPoint& c = buffer.records[size_t(i)];
            ASSERT_TRUE(std::isfinite(c.point.x) && std::isfinite(c.point.y) && std::isfinite(c.point.z));
            EXPECT_NEAR(length(toD3(c.normal)), 1.0, 1e-4);
            EXPECT_NEAR(c.penetration, std::max(depth - 1.0 / 128.0, 0.0), 1e-3 + 1e-4 * depth) << trial;
            const D3 p = toD3(c.point);
            EXPECT_LE(boxDistance(toLocal(m0, p), ha), depth + 2e-3) << trial;
            EXPECT_LE(boxDistance(toLocal(m1, p), hb), depth + 2e-3) << trial;
        }
        ContactBuffer swapped(maxCount);
        if (contactsOf(b1, b0, swapped) > 0) {
            opposite +=
                (dot(toD3(swapped.records[0].normal), toD3(buffer.records[0].normal)) < -0.999) ? 1 : 0;
        }
    }
    EXPECT_GT(made, 1000);
    // Ties between equally deep axes may pick different faces.
    EXPECT_GT(opposite, made * 98 / 100);
}

// Pairs of every kind pushed into each other along a random line, from
// touching (by the reference distance) to half a unit deeper: the closest
// points report the overlap and every pair gets a contact, no deeper than
// the push. A manifold lies within the push of both shapes; a single record
// may be a rounded shape's section point, within the push of that shape.
TEST_F(MinkowskiTest, OverlappingPairsOfEveryKindGetContacts) {
    const std::vector<ShapeHolder> kinds = everyKind();
    std::mt19937 rng(29);
    std::uniform_real_distribution<double> push(1.0 / 256.0, 0.5);
    int32_t lost = 0;
    int32_t tested = 0;
    for (int32_t trial = 0; trial < 2500; trial++) {
        dgConvexCollision* a = kinds[rng() % kinds.size()].get();
        dgConvexCollision* b = kinds[rng() % kinds.size()].get();
        const dgMatrix m0 = randomPose(rng, 2.0f);
        dgMatrix m1 = randomPose(rng, 0.0f);
        const D3 dir = toD3(randomUnit(rng));
        auto placeAt = [&](double along) {
            const D3 p = toD3(m0.position) + dir * along;
            m1.position = dgVector(float(p.x), float(p.y), float(p.z), 1.0f);
        };
        double inside = 0.0;
        double outside = 4.0;
        for (int32_t i = 0; i < 24; i++) {
            placeAt(0.5 * (inside + outside));
            const bool apart = referenceDistance(Placed{a, m0}, Placed{b, m1}) > 0.0;
            (apart ? outside : inside) = 0.5 * (inside + outside);
        }
        // Thin shapes pass through each other: the push must leave B a skin
        // inside on both sides.
        const double depth = push(rng);
        placeAt(outside - depth - 1.0 / 256.0);
        if (referenceDistance(Placed{a, m0}, Placed{b, m1}) > 0.0) {
            continue;
        }
        placeAt(outside - depth);
        dgBody b0 = bodyOf(a, m0);
        dgBody b1 = bodyOf(b, m1);
        float p0[3], p1[3], n[3];
        tested++;
        EXPECT_EQ(dgClosestPoints(&b0, &b1, p0, p1, n), 0) << trial;
        ContactBuffer buffer(16);
        const int32_t count = contactsOf(b0, b1, buffer);
        lost += (count == 0) ? 1 : 0;
        for (int32_t i = 0; i < count; i++) {
            const dgContactPoint& c = buffer.records[size_t(i)];
            EXPECT_NEAR(length(toD3(c.normal)), 1.0, 1e-4);
            EXPECT_LE(c.penetration, depth) << trial;
            dgMatrix at(dgGetIdentityMatrix());
            at.position = c.point;
            const double toA = referenceDistance(Placed{nullptr, at}, Placed{a, m0});
            const double toB = referenceDistance(Placed{nullptr, at}, Placed{b, m1});
            EXPECT_LE((count > 1) ? std::max(toA, toB) : std::min(toA, toB), depth + 1e-3) << trial;
        }
    }
    EXPECT_EQ(lost, 0) << "of " << tested;
}

// The penetration face copied out and cut later gives calcContacts' records
// bit for bit, and where the record shape claims records ahead of the cut,
// the cut gives some and every one carries that normal and penetration.
TEST_F(MinkowskiTest, CopiedFaceCutMatchesTheContactsAndTheirShape) {
    const std::vector<ShapeHolder> kinds = everyKind();
    std::mt19937 rng(31);
    int32_t overlapping = 0;
    int32_t shaped = 0;
    for (int32_t trial = 0; trial < 3000; trial++) {
        dgBody b0 = bodyOf(kinds[rng() % kinds.size()].get(), randomPose(rng, 1.0f));
        dgBody b1 = bodyOf(kinds[rng() % kinds.size()].get(), randomPose(rng, 1.0f));
        ContactBuffer expected(16);
        const int32_t count = contactsOf(b0, b1, expected, 7);
        dgMinkowskiSolver solver(&b0, &b1);
        dgMinkowskiContactFace face;
        if (!solver.calcContactFace(face)) {
            EXPECT_EQ(count, 0) << trial;
            continue;
        }
        overlapping++;
        dgVector normal;
        float penetration = 0.0f;
        const bool sure = solver.faceRecordShape(face, normal, penetration);
        ContactBuffer cut(16);
        ASSERT_EQ(solver.calcFaceContacts(face, 7, cut.records.data(), cut.max), count) << trial;
        EXPECT_TRUE(cut.canariesIntact());
        for (int32_t i = 0; i < count; i++) {
            EXPECT_EQ(
                std::memcmp(&cut.records[size_t(i)], &expected.records[size_t(i)], sizeof(dgContactPoint)), 0)
                << trial;
        }
        if (sure) {
            shaped++;
            EXPECT_GT(count, 0) << trial;
            for (int32_t i = 0; i < count; i++) {
                EXPECT_EQ(std::memcmp(&cut.records[size_t(i)].normal, &normal, sizeof(dgVector)), 0) << trial;
                EXPECT_EQ(std::memcmp(&cut.records[size_t(i)].penetration, &penetration, sizeof(float)), 0)
                    << trial;
            }
        }
    }
    // The draw must reach both kinds of answer to mean anything.
    EXPECT_GT(overlapping, 300);
    EXPECT_GT(shaped, 300);
}

TEST_F(MinkowskiTest, MaximumBelowOneWritesNothing) {
    ShapeHolder a = box(1, 1, 1);
    dgBody b0 = bodyOf(a.get(), translation(0, 0.9f, 0));
    dgBody b1 = bodyOf(a.get(), dgGetIdentityMatrix());
    for (int32_t maxCount : {0, -3}) {
        ContactBuffer buffer(0);
        dgMinkowskiSolver solver(&b0, &b1);
        EXPECT_EQ(solver.calcContacts(buffer.records.data(), 0, maxCount), 0);
        float step = 0.1f;
        EXPECT_EQ(solver.calcContactsContinuous(step, buffer.records.data(), 0, maxCount), 0);
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

TEST_F(MinkowskiTest, NonFinitePlacementsMakeNoContacts) {
    ShapeHolder a = box(1, 1, 1);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         1e30f};
    for (float value : bad) {
        dgMatrix m = translation(0.5f, 0, 0);
        m.position.x = value;
        dgBody b0 = bodyOf(a.get(), dgGetIdentityMatrix());
        dgBody b1 = bodyOf(a.get(), m);
        b0.m_veloc = dgVector(value, 0, 0, 0);
        ContactBuffer buffer(4);
        EXPECT_EQ(contactsOf(b0, b1, buffer), 0);
        dgMinkowskiSolver solver(&b0, &b1);
        float step = 0.1f;
        EXPECT_EQ(solver.calcContactsContinuous(step, buffer.records.data(), 0, 4), 0);
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

// ---- clipping ----

namespace {

// A regular n-gon in the plane z = 0, counter-clockwise about +z.
std::vector<dgVector> regularPolygon(int32_t n, float radius, float phase, float cx, float cy) {
    std::vector<dgVector> out;
    for (int32_t i = 0; i < n; i++) {
        const float a = phase + 6.2831853f * float(i) / float(n);
        out.push_back(dgVector(cx + radius * std::cos(a), cy + radius * std::sin(a), 0.0f, 1.0f));
    }
    return out;
}

bool insideConvex(const std::vector<dgVector>& poly, const dgVector& p, float tolerance) {
    for (size_t i = 0; i < poly.size(); i++) {
        const dgVector& a = poly[(i + poly.size() - 1) % poly.size()];
        const dgVector e(poly[i] - a);
        if ((e.x * (p.y - a.y) - e.y * (p.x - a.x)) < -tolerance * std::sqrt(e % e)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Two 12-gons need up to 24 points a pass and twelve passes: the passes
// stay in bounded scratch, and every record lies in both polygons.
TEST(MinkowskiClip, TwelveGonsClipInsideBoth) {
    const dgVector normal(0, 0, 1, 0);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> u(-0.3f, 0.3f);
    for (int32_t trial = 0; trial < 500; trial++) {
        const std::vector<dgVector> a = regularPolygon(12, 1.0f, u(rng), 0, 0);
        const std::vector<dgVector> b = regularPolygon(12, 1.0f + u(rng), u(rng), u(rng), u(rng));
        const int32_t maxCount = 1 + trial % 40;
        ContactBuffer buffer(maxCount);
        const int32_t count = dgClipContactPolygons(normal, -1, 0.25f, 12, a.data(), 12, b.data(),
                                                    buffer.records.data(), maxCount);
        ASSERT_GT(count, 0);
        ASSERT_LE(count, maxCount);
        ASSERT_TRUE(buffer.canariesIntact());
        for (int32_t i = 0; i < count; i++) {
            const dgContactPoint& c = buffer.records[size_t(i)];
            EXPECT_TRUE(insideConvex(a, c.point, 1e-4f));
            EXPECT_TRUE(insideConvex(b, c.point, 1e-4f));
            EXPECT_EQ(c.userId, int64_t(0xFFFFFFFFu));
            EXPECT_EQ(c.penetration, 0.25f);
            for (int32_t j = 0; j < i; j++) {
                const dgVector d(c.point - buffer.records[size_t(j)].point);
                EXPECT_GE(d % d, 0.002f);
            }
        }
    }
}

// A segment crossing a clip edge at a tiny angle: the crossing must stay on
// the segment whatever the sign of the vanishing denominator.
TEST(MinkowskiClip, TinyDenominatorKeepsItsSign) {
    const dgVector normal(0, 0, 1, 0);
    const std::vector<dgVector> square = {dgVector(10, 0, 0, 1), dgVector(10, 2, 0, 1),
                                          dgVector(-10, 2, 0, 1), dgVector(-10, 0, 0, 1)};
    for (float sign : {1.0f, -1.0f}) {
        // From just inside the bottom edge to just outside it (or back).
        const dgVector inside(0.0f, 1e-12f, 0.0f, 1.0f);
        const dgVector outside(sign * 9.0f, -1e-12f, 0.0f, 1.0f);
        const dgVector segment[2] = {inside, outside};
        ContactBuffer buffer(4);
        const int32_t count =
            dgClipContactPolygons(normal, 0, 0.0f, 4, square.data(), 2, segment, buffer.records.data(), 4);
        ASSERT_EQ(count, 2);
        const float x = buffer.records[1].point.x;
        EXPECT_GE(x * sign, 0.0f);
        EXPECT_LE(x * sign, 9.0f);
        EXPECT_TRUE(buffer.canariesIntact());
    }
}

// ---- continuous contacts ----

namespace {

// Time at which box b, moving at velocity v, first touches box a:
// bisection on the separating-axis depth.
double referenceTimeOfImpact(const dgMatrix& ma, const D3& ha, dgMatrix mb, const D3& hb, const D3& v,
                             double step) {
    const dgVector start(mb.position);
    auto depthAt = [&](double t) {
        mb.position =
            dgVector(float(start.x + v.x * t), float(start.y + v.y * t), float(start.z + v.z * t), 1.0f);
        return satDepth(ma, ha, mb, hb);
    };
    if (depthAt(step) < 0.0) {
        return -1.0;
    }
    double lo = 0.0;
    double hi = step;
    for (int32_t i = 0; i < 60; i++) {
        const double mid = 0.5 * (lo + hi);
        (depthAt(mid) < 0.0 ? lo : hi) = mid;
    }
    return hi;
}

}  // namespace

TEST_F(MinkowskiTest, ContinuousContactsAtTheTimeOfImpact) {
    ShapeHolder small = box(0.5f, 0.5f, 0.5f);
    ShapeHolder wall = box(1.0f, 10.0f, 10.0f);
    const D3 hs{0.25, 0.25, 0.25};
    const D3 hw{0.5, 5.0, 5.0};
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int32_t hits = 0;
    for (int32_t trial = 0; trial < 400; trial++) {
        const dgMatrix mWall = translation(0, 0, 0);
        const dgMatrix mBox =
            randomPose(rng, 0.0f).multiply(translation(-2.0f + 0.5f * u(rng), 2 * u(rng), 2 * u(rng)));
        const float speed = 50.0f;
        dgBody b0 = bodyOf(small.get(), mBox);
        dgBody b1 = bodyOf(wall.get(), mWall);
        b0.m_veloc = dgVector(speed, 5 * u(rng), 0, 0);
        const float step = 1.0f / 30.0f;
        const double reference = referenceTimeOfImpact(mWall, hw, mBox, hs, toD3(b0.m_veloc), step);
        const dgMatrix saved = b1.m_collisionMatrix;
        dgMinkowskiSolver solver(&b0, &b1);
        float timeStep = step;
        ContactBuffer buffer(8);
        const int32_t count = solver.calcContactsContinuous(timeStep, buffer.records.data(), 0, 8);
        EXPECT_EQ(std::memcmp(&saved, &b1.m_collisionMatrix, sizeof(saved)), 0);
        EXPECT_TRUE(buffer.canariesIntact());
        if (reference < 0.0) {
            EXPECT_EQ(count, 0);
            continue;
        }
        ASSERT_GT(count, 0) << trial;
        hits++;
        EXPECT_NEAR(timeStep, reference, 2e-4) << trial;
        // The points lie on the wall's face the box meets, less half the
        // relative displacement to that time (the wall stands still).
        const double shift = 0.5 * b0.m_veloc.x * reference;
        for (int32_t i = 0; i < count; i++) {
            const dgContactPoint& c = buffer.records[size_t(i)];
            EXPECT_NEAR(c.point.x, -0.5 - shift, 0.01) << trial;
            EXPECT_LT(c.normal.x, -0.999f) << trial;
        }
    }
    EXPECT_GT(hits, 100);
}

// Random sweeps of every kind of pair, both bodies moving, 5 to 150 m/s
// relative, against the reference distance along the sweep (convex in time,
// so a golden-section search finds its least value). The tolerance is the
// contact skin, 1/256: contacts are made that far past the time of impact,
// and closed-form pairs touch from that overlap on. A pair that stays more
// than a skin apart gets no contact; one that overlaps over more than a
// skin of its travel, at the end of the step or within it, gets contacts;
// and every reported time is one where the shapes are within a skin of
// touching and not yet a skin of travel into each other.
TEST_F(MinkowskiTest, ContinuousSweepsAgreeWithADoublePrecisionSweep) {
    const std::vector<ShapeHolder> kinds = everyKind();
    const double skin = 1.0 / 256.0;
    const float step = 0.1f;
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int32_t misses = 0, falseContacts = 0, overlapping = 0, missed = 0, contacts = 0, badTimes = 0;
    double worstGap = 0.0;
    for (int32_t trial = 0; trial < 2000; trial++) {
        dgConvexCollision* a = kinds[rng() % kinds.size()].get();
        dgConvexCollision* b = kinds[rng() % kinds.size()].get();
        const dgMatrix m0 = randomPose(rng, 2.0f);
        dgMatrix m1 = randomPose(rng, 0.0f);
        const dgVector v0(randomUnit(rng).scale(10.0f * unit(rng)));
        const dgVector relative(randomUnit(rng).scale(5.0f + 145.0f * unit(rng)));
        // B's path relative to A passes A's centre within 1.5 at some time
        // of the step.
        m1.position =
            m0.position - relative.scale(step * unit(rng)) + randomUnit(rng).scale(1.5f * unit(rng));
        m1.position.w = 1.0f;
        dgBody b0 = bodyOf(a, m0);
        dgBody b1 = bodyOf(b, m1);
        b0.m_veloc = v0;
        b1.m_veloc = v0 + relative;
        const D3 u = toD3(b1.m_veloc) - toD3(b0.m_veloc);
        const double skinTime = skin / length(u);
        auto gapAt = [&](double t) {
            Placed moved{b, b1.m_collisionMatrix, u * t};
            return referenceDistance(Placed{a, b0.m_collisionMatrix}, moved);
        };
        if (gapAt(0.0) < 2.0 * skin) {
            continue;
        }
        const double golden = 0.6180339887;
        double lo = 0.0;
        double hi = step;
        double m = hi - golden * (hi - lo);
        double n = lo + golden * (hi - lo);
        double gm = gapAt(m);
        double gn = gapAt(n);
        for (int32_t i = 0; i < 34; i++) {
            if (gm < gn) {
                hi = n;
                n = m;
                gn = gm;
                m = hi - golden * (hi - lo);
                gm = gapAt(m);
            } else {
                lo = m;
                m = n;
                gm = gn;
                n = lo + golden * (hi - lo);
                gn = gapAt(n);
            }
        }
        const double closest = 0.5 * (lo + hi);
        const double least = gapAt(closest);
        const bool overlapsAtEnd = gapAt(step - skinTime) == 0.0;
        // Where B first touches, when it does, and whether it is a skin of
        // travel inside after that.
        bool overlapsWithin = false;
        if (least == 0.0) {
            double apart = 0.0;
            double touching = closest;
            for (int32_t i = 0; i < 26; i++) {
                (gapAt(0.5 * (apart + touching)) > 0.0 ? apart : touching) = 0.5 * (apart + touching);
            }
            overlapsWithin = (touching + skinTime < step) && (gapAt(touching + skinTime) == 0.0);
        }

        dgMinkowskiSolver solver(&b0, &b1);
        float timeStep = step;
        ContactBuffer buffer(16);
        const int32_t count = solver.calcContactsContinuous(timeStep, buffer.records.data(), 0, 16);
        ASSERT_TRUE(buffer.canariesIntact());
        if (least > skin) {
            misses++;
            falseContacts += (count > 0) ? 1 : 0;
        }
        if (overlapsAtEnd || overlapsWithin) {
            overlapping++;
            missed += (count == 0) ? 1 : 0;
        }
        if (count > 0) {
            contacts++;
            const double gap = gapAt(timeStep);
            const bool late = (timeStep > skinTime) && (gapAt(timeStep - skinTime) == 0.0);
            if ((gap > skin) || late || !(timeStep < step)) {
                badTimes++;
                worstGap = std::max(worstGap, gap);
            }
        }
    }
    EXPECT_EQ(falseContacts, 0) << "of " << misses << " misses";
    EXPECT_EQ(missed, 0) << "of " << overlapping << " overlapping sweeps";
    EXPECT_EQ(badTimes, 0) << "of " << contacts << " times of impact, worst gap " << worstGap;
    EXPECT_GT(misses, 200);
    EXPECT_GT(overlapping, 800);
}

TEST_F(MinkowskiTest, ContinuousRestoresTheMovedMatrixOnEveryPath) {
    ShapeHolder a = box(1, 1, 1);
    struct Path {
        float x;
        float speed;
    };
    // Overlapping, apart and closing, apart and leaving.
    for (const Path& path :
         {Path{0.5f, 10.0f}, Path{-3.0f, 100.0f}, Path{-3.0f, -100.0f}, Path{-3.0f, 1.0f}}) {
        dgBody b0 = bodyOf(a.get(), translation(path.x, 0.1f, 0));
        dgBody b1 = bodyOf(a.get(), dgGetIdentityMatrix());
        b0.m_veloc = dgVector(path.speed, 0, 0, 0);
        const dgMatrix saved0 = b0.m_collisionMatrix;
        const dgMatrix saved1 = b1.m_collisionMatrix;
        dgMinkowskiSolver solver(&b0, &b1);
        float step = 0.1f;
        ContactBuffer buffer(4);
        solver.calcContactsContinuous(step, buffer.records.data(), 0, 4);
        EXPECT_EQ(std::memcmp(&saved0, &b0.m_collisionMatrix, sizeof(saved0)), 0);
        EXPECT_EQ(std::memcmp(&saved1, &b1.m_collisionMatrix, sizeof(saved1)), 0);
    }
}

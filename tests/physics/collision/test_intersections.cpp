#include <gtest/gtest.h>

#include "TestSupport.h"
#include "dgIntersections.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Double-precision references, built differently from the routines under test.
using namespace testsupport;

double clamp01(double t) {
    return std::min(1.0, std::max(0.0, t));
}

double refPointSegment2(const D3& p, const D3& a, const D3& b) {
    const D3 d = b - a;
    const double dd = dot(d, d);
    const D3 q = a + d * (dd > 0.0 ? clamp01(dot(p - a, d) / dd) : 0.0);
    return dot(p - q, p - q);
}

// The minimum of a convex quadratic on the unit square is its free minimum
// when that lies inside, else on one of the four edges.
double refSegmentSegment2(const D3& p0, const D3& p1, const D3& q0, const D3& q1) {
    double best = std::min(std::min(refPointSegment2(p0, q0, q1), refPointSegment2(p1, q0, q1)),
                           std::min(refPointSegment2(q0, p0, p1), refPointSegment2(q1, p0, p1)));
    const D3 d1 = p1 - p0, d2 = q1 - q0, r = p0 - q0;
    const double a = dot(d1, d1), b = dot(d1, d2), c = dot(d1, r), e = dot(d2, d2), f = dot(d2, r);
    const double den = a * e - b * b;
    if (den > 0.0) {
        const double s = (b * f - c * e) / den, t = (a * f - b * c) / den;
        if (s >= 0.0 && s <= 1.0 && t >= 0.0 && t <= 1.0) {
            const D3 g = (p0 + d1 * s) - (q0 + d2 * t);
            best = std::min(best, dot(g, g));
        }
    }
    return best;
}

// Projection inside by edge sides, else the nearest edge.
double refPointTriangle2(const D3& p, const D3& a, const D3& b, const D3& c) {
    const D3 n = cross(b - a, c - a);
    const double nn = dot(n, n);
    if (nn > 0.0) {
        const double h = dot(n, p - a);
        const D3 q = p - n * (h / nn);
        if (dot(cross(b - a, q - a), n) >= 0.0 && dot(cross(c - b, q - b), n) >= 0.0 &&
            dot(cross(a - c, q - c), n) >= 0.0) {
            return h * h / nn;
        }
    }
    return std::min(refPointSegment2(p, a, b),
                    std::min(refPointSegment2(p, b, c), refPointSegment2(p, c, a)));
}

dgVector pt(float x, float y, float z) {
    return dgVector(x, y, z, 1.0f);
}

float dist(const dgVector& a, const dgVector& b) {
    return std::sqrt((a - b) % (a - b));
}

struct Rng {
    std::mt19937 gen{12345u};
    float uni(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(gen); }
    dgVector point(float r) { return pt(uni(-r, r), uni(-r, r), uni(-r, r)); }
    dgVector unit() {
        for (;;) {
            const dgVector v(point(1.0f));
            const float l2 = v % v;
            if (l2 > 0.01f && l2 < 1.0f) {
                return v * (1.0f / std::sqrt(l2));
            }
        }
    }
};

// Segment pairs of every kind: general, crossing, parallel, nearly parallel,
// sharing an end, collinear, zero length; scales from 1e-3 to 1e3.
void randomSegmentPair(Rng& rng, dgVector& p0, dgVector& p1, dgVector& q0, dgVector& q1) {
    const float scale = std::pow(10.0f, float(int(rng.gen() % 7) - 3));
    const dgVector c(rng.point(scale));
    const dgVector u(rng.unit());
    p0 = c + rng.point(scale);
    p1 = c + rng.point(scale);
    q0 = c + rng.point(scale);
    q1 = c + rng.point(scale);
    switch (rng.gen() % 7) {
        case 1: {  // crossing
            const dgVector x(c + rng.point(scale));
            const dgVector v(rng.unit());
            p0 = x - u * rng.uni(0.0f, scale);
            p1 = x + u * rng.uni(0.0f, scale);
            q0 = x - v * rng.uni(0.0f, scale);
            q1 = x + v * rng.uni(0.0f, scale);
            break;
        }
        case 2:  // parallel, possibly offset along the direction
        case 3: {
            const float tilt = (rng.gen() % 2) ? 0.0f : std::pow(10.0f, rng.uni(-7.0f, -2.0f));
            const dgVector v((u + rng.unit() * tilt) * (rng.gen() % 2 ? 1.0f : -1.0f));
            p1 = p0 + u * rng.uni(0.0f, 2.0f * scale);
            q0 = p0 + rng.point(scale);
            q1 = q0 + v * rng.uni(0.0f, 2.0f * scale);
            break;
        }
        case 4:  // shared end
            q0 = p1;
            break;
        case 5:  // collinear
            q0 = p0 + u * rng.uni(-2.0f * scale, 2.0f * scale);
            q1 = p0 + u * rng.uni(-2.0f * scale, 2.0f * scale);
            p1 = p0 + u * rng.uni(-2.0f * scale, 2.0f * scale);
            break;
        case 6:  // zero length
            if (rng.gen() % 2) {
                p1 = p0;
            } else {
                q1 = q0;
            }
            break;
        default:
            break;
    }
}

}  // namespace

// ---- closest points of two segments -------------------------------------

TEST(ClosestPointsOfSegments, CrossingPerpendicularSegmentsMeetAtTheCrossing) {
    dgVector p, q;
    dgClosestPointsOfSegments(pt(-1, 0, 0), pt(1, 0, 0), pt(0.25f, -2, 0), pt(0.25f, 1, 0), p, q);
    EXPECT_EQ(p.x, 0.25f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(q.x, 0.25f);
    EXPECT_EQ(q.y, 0.0f);
    EXPECT_EQ(dist(p, q), 0.0f);
}

TEST(ClosestPointsOfSegments, ParallelSegmentsGiveMidpointsOfTheCommonStretch) {
    dgVector p, q;
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(2, 0, 0), pt(0, 1, 0), pt(2, 1, 0), p, q);
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.y, 1.0f);
    // Reversed and shifted: the middle of the overlap [1, 2], not the two midpoints.
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(2, 0, 0), pt(3, 1, 0), pt(1, 1, 0), p, q);
    EXPECT_FLOAT_EQ(p.x, 1.5f);
    EXPECT_FLOAT_EQ(q.x, 1.5f);
    // Disjoint along the direction: the facing ends.
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(1, 0, 0), pt(5, 1, 0), pt(3, 1, 0), p, q);
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(q.x, 3.0f);
}

TEST(ClosestPointsOfSegments, CornerRegionSolvesBothParametersAgain) {
    // Lines meet at s < 0, t < 0; the answer is q0 against the inside of p.
    dgVector p, q;
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(10, 0, 0), pt(1, 1, 0), pt(3, 2, 0), p, q);
    EXPECT_FLOAT_EQ(p.x, 1.0f);
    EXPECT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.y, 1.0f);
    EXPECT_FLOAT_EQ(dist(p, q), 1.0f);
}

TEST(ClosestPointsOfSegments, ZeroLengthSegments) {
    dgVector p, q;
    dgClosestPointsOfSegments(pt(1, 1, 0), pt(1, 1, 0), pt(0, 0, 0), pt(4, 0, 0), p, q);
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(q.x, 1.0f);
    EXPECT_EQ(q.y, 0.0f);
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(4, 0, 0), pt(5, 1, 0), pt(5, 1, 0), p, q);
    EXPECT_EQ(p.x, 4.0f);
    EXPECT_EQ(q.x, 5.0f);
    dgClosestPointsOfSegments(pt(0, 0, 0), pt(0, 0, 0), pt(0, 3, 0), pt(0, 3, 0), p, q);
    EXPECT_EQ(dist(p, q), 3.0f);
}

TEST(ClosestPointsOfSegments, KeepEachSegmentsW) {
    dgVector p, q;
    dgClosestPointsOfSegments(dgVector(0, 0, 0, 3), pt(2, 0, 0), dgVector(1, -1, 1, 5), pt(1, 1, 1), p, q);
    EXPECT_EQ(p.w, 3.0f);
    EXPECT_EQ(q.w, 5.0f);
}

TEST(ClosestPointsOfSegments, MatchExactMinimumOnRandomPairs) {
    Rng rng;
    for (int i = 0; i < 50000; ++i) {
        dgVector p0, p1, q0, q1, p, q;
        randomSegmentPair(rng, p0, p1, q0, q1);
        dgClosestPointsOfSegments(p0, p1, q0, q1, p, q);
        const float size = std::max(std::max(std::fabs(p0.x), std::fabs(p0.y)), std::fabs(p0.z)) +
                           dist(p0, p1) + dist(q0, q1) + dist(p0, q0);
        const double tol = 4e-6 * size;
        const double ref = std::sqrt(refSegmentSegment2(toD3(p0), toD3(p1), toD3(q0), toD3(q1)));
        ASSERT_NEAR(dist(p, q), ref, tol) << "pair " << i;
        ASSERT_LE(std::sqrt(refPointSegment2(toD3(p), toD3(p0), toD3(p1))), tol) << "pair " << i;
        ASSERT_LE(std::sqrt(refPointSegment2(toD3(q), toD3(q0), toD3(q1))), tol) << "pair " << i;
        // Order of the segments does not matter.
        dgVector p2, q2;
        dgClosestPointsOfSegments(q1, q0, p1, p0, q2, p2);
        ASSERT_NEAR(dist(p2, q2), ref, tol) << "pair " << i;
    }
}

TEST(ClosestPointsOfSegments, MatchSampledMinimum) {
    Rng rng;
    for (int i = 0; i < 300; ++i) {
        dgVector p0, p1, q0, q1, p, q;
        randomSegmentPair(rng, p0, p1, q0, q1);
        dgClosestPointsOfSegments(p0, p1, q0, q1, p, q);
        // Sample p finely; for each sample the best point of q is its clamped foot.
        const D3 a = toD3(p0), d1 = toD3(p1) - a, c = toD3(q0), d2 = toD3(q1) - c;
        const int n = 20000;
        double best = 1e300;
        for (int k = 0; k <= n; ++k) {
            const D3 s = a + d1 * (double(k) / n);
            const double e = dot(d2, d2);
            const D3 g = s - (c + d2 * (e > 0 ? clamp01(dot(s - c, d2) / e) : 0.0));
            best = std::min(best, dot(g, g));
        }
        const double size = std::sqrt(dot(a, a)) + std::sqrt(dot(d1, d1)) + std::sqrt(dot(d2, d2));
        ASSERT_LE(dist(p, q), std::sqrt(best) + 4e-6 * size) << "pair " << i;
        ASSERT_GE(dist(p, q), std::sqrt(best) - std::sqrt(dot(d1, d1)) / n - 4e-6 * size) << "pair " << i;
    }
}

// ---- closest point on a segment -----------------------------------------

TEST(ClosestPointOnSegment, EndsAndFoot) {
    const dgVector a(dgVector(0.1f, 0.2f, 0.3f, 2.0f)), b(pt(1.7f, -0.3f, 0.9f));
    const dgVector beyond(dgClosestPointOnSegment(b + (b - a), a, b));
    EXPECT_EQ(beyond.x, b.x);
    EXPECT_EQ(beyond.y, b.y);
    EXPECT_EQ(beyond.z, b.z);
    EXPECT_EQ(beyond.w, 2.0f);
    const dgVector before(dgClosestPointOnSegment(a - (b - a), a, b));
    EXPECT_EQ(dist(before, a), 0.0f);
    const dgVector foot(dgClosestPointOnSegment(pt(1, 5, 0), pt(0, 0, 0), pt(4, 0, 0)));
    EXPECT_EQ(foot.x, 1.0f);
    EXPECT_EQ(foot.y, 0.0f);
    const dgVector zero(dgClosestPointOnSegment(pt(1, 5, 0), pt(2, 2, 2), pt(2, 2, 2)));
    EXPECT_EQ(dist(zero, pt(2, 2, 2)), 0.0f);
}

TEST(ClosestPointOnSegment, MatchesReferenceOnRandomPoints) {
    Rng rng;
    for (int i = 0; i < 20000; ++i) {
        const dgVector p(rng.point(10)), a(rng.point(10)), b(rng.point(10));
        const dgVector r(dgClosestPointOnSegment(p, a, b));
        ASSERT_NEAR(dist(p, r), std::sqrt(refPointSegment2(toD3(p), toD3(a), toD3(b))), 1e-4);
        ASSERT_LE(refPointSegment2(toD3(r), toD3(a), toD3(b)), 1e-8);
    }
}

// ---- closest point on a triangle and on a polygon ------------------------

TEST(ClosestPointOnTriangle, VertexRegionsAnswerTheVertexExactly) {
    const dgVector a(pt(0, 0, 0)), b(pt(1, 0, 0)), c(pt(0, 1, 0));
    EXPECT_EQ(dist(dgClosestPointOnTriangle(pt(-1, -1, 3), a, b, c), a), 0.0f);
    EXPECT_EQ(dist(dgClosestPointOnTriangle(pt(2, -0.5f, -1), a, b, c), b), 0.0f);
    EXPECT_EQ(dist(dgClosestPointOnTriangle(pt(-0.5f, 2, 1), a, b, c), c), 0.0f);
    const dgVector inside(dgClosestPointOnTriangle(pt(0.25f, 0.25f, 7), a, b, c));
    EXPECT_FLOAT_EQ(inside.x, 0.25f);
    EXPECT_FLOAT_EQ(inside.y, 0.25f);
    EXPECT_EQ(inside.z, 0.0f);
    const dgVector hyp(dgClosestPointOnTriangle(pt(1, 1, 0), a, b, c));
    EXPECT_FLOAT_EQ(hyp.x, 0.5f);
    EXPECT_FLOAT_EQ(hyp.y, 0.5f);
}

TEST(ClosestPointOnTriangle, MatchesReferenceOnRandomTriangles) {
    Rng rng;
    for (int i = 0; i < 30000; ++i) {
        const dgVector a(rng.point(5)), b(rng.point(5));
        dgVector c(rng.point(5));
        if (i % 4 == 0) {  // slivers
            c = a + (b - a) * rng.uni(-1, 2) + rng.point(std::pow(10.0f, rng.uni(-6, -1)));
        }
        const dgVector p(rng.point(8));
        const dgVector r(dgClosestPointOnTriangle(p, a, b, c));
        const double ref = std::sqrt(refPointTriangle2(toD3(p), toD3(a), toD3(b), toD3(c)));
        ASSERT_NEAR(dist(p, r), ref, 2e-4) << "triangle " << i;
        ASSERT_LE(std::sqrt(refPointTriangle2(toD3(r), toD3(a), toD3(b), toD3(c))), 2e-4) << "triangle " << i;
    }
}

TEST(ClosestPointOnTriangle, DegenerateTrianglesAnswerTheirEdges) {
    const dgVector p(pt(1.5f, 1, 0));
    // c between a and b, c beyond b, two equal corners, a single point.
    const dgVector lines[][3] = {{pt(0, 0, 0), pt(4, 0, 0), pt(2, 0, 0)},
                                 {pt(0, 0, 0), pt(1, 0, 0), pt(4, 0, 0)},
                                 {pt(0, 0, 0), pt(0, 0, 0), pt(4, 0, 0)},
                                 {pt(4, 0, 0), pt(0, 0, 0), pt(0, 0, 0)},
                                 {pt(0, 0, 0), pt(4, 0, 0), pt(0, 0, 0)}};
    for (const auto& t : lines) {
        const dgVector r(dgClosestPointOnTriangle(p, t[0], t[1], t[2]));
        EXPECT_FLOAT_EQ(r.x, 1.5f);
        EXPECT_EQ(r.y, 0.0f);
    }
    const dgVector single(pt(2, 2, 2));
    EXPECT_EQ(dist(dgClosestPointOnTriangle(p, single, single, single), single), 0.0f);
}

TEST(ClosestPointOnPolygon, FanOverStridedVerticesAndRadius) {
    // Unit square in the y = 1 plane, stride 20 bytes with padding.
    const float v[] = {9, 9, 9, 9, 9, 0, 1, 0, -1, -1, 1, 1, 0, -1, -1, 1, 1, 1, -1, -1, 0, 1, 1, -1, -1};
    const int32_t idx[] = {1, 2, 3, 4};
    dgVector out(pt(0, 0, 0));
    ASSERT_TRUE(dgClosestPointOnPolygon(pt(0.75f, 3, 0.75f), v, 20, idx, 4, 2.0f, out));
    EXPECT_FLOAT_EQ(out.x, 0.75f);
    EXPECT_FLOAT_EQ(out.y, 1.0f);
    EXPECT_FLOAT_EQ(out.z, 0.75f);
    ASSERT_TRUE(dgClosestPointOnPolygon(pt(2, 1, 0.5f), v, 20, idx, 4, 1.0f, out));
    EXPECT_FLOAT_EQ(out.x, 1.0f);
    EXPECT_FLOAT_EQ(out.z, 0.5f);
    out = pt(7, 7, 7);
    EXPECT_FALSE(dgClosestPointOnPolygon(pt(0.5f, 3, 0.5f), v, 20, idx, 4, 1.99f, out));
    EXPECT_EQ(out.x, 7.0f);
}

TEST(ClosestPointOnPolygon, FewerThanThreeIndicesFailUnlessRadiusIsHuge) {
    const float v[] = {0, 0, 0, 1, 0, 0};
    const int32_t idx[] = {0, 1};
    dgVector out(pt(7, 7, 7));
    EXPECT_FALSE(dgClosestPointOnPolygon(pt(0, 1, 0), v, 12, idx, 2, 1e9f, out));
    EXPECT_EQ(out.x, 7.0f);
    EXPECT_TRUE(dgClosestPointOnPolygon(pt(0, 1, 0), v, 12, idx, 2, 1e10f, out));
    EXPECT_TRUE(std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(out.z));
}

// ---- segment against a face -----------------------------------------------

namespace {

// Convex polygon: corners on a circle at sorted angles, in a random frame.
struct Face {
    std::vector<float> xyz;
    std::vector<int32_t> idx;
    std::vector<float> u2, v2;  // local coordinates of the corners
    dgVector origin, u, v, n;

    dgVector at(float s, float t, float h) const { return origin + u * s + v * t + n * h; }

    // Signed distance of a local point to the outline, positive inside.
    float inside(float s, float t) const {
        float m = 1e30f;
        const size_t k = u2.size();
        for (size_t i = 0; i < k; ++i) {
            const float ex = u2[(i + 1) % k] - u2[i], ey = v2[(i + 1) % k] - v2[i];
            m = std::min(m, (ex * (t - v2[i]) - ey * (s - u2[i])) / std::sqrt(ex * ex + ey * ey));
        }
        return m;
    }
};

Face randomFace(Rng& rng, int corners) {
    Face f;
    f.origin = rng.point(10);
    f.u = rng.unit();
    f.n = f.u.cross(rng.unit());
    f.n = f.n * (1.0f / std::sqrt(f.n % f.n));
    f.v = f.n.cross(f.u);
    // Jittered but well spread, so that the first three corners span the plane.
    const float step = 6.2831853f / float(corners);
    std::vector<float> ang;
    for (int i = 0; i < corners; ++i) {
        ang.push_back(step * (float(i) + rng.uni(-0.3f, 0.3f)));
    }
    const float radius = rng.uni(0.5f, 3);
    for (int i = 0; i < corners; ++i) {
        f.u2.push_back(radius * std::cos(ang[i]));
        f.v2.push_back(radius * std::sin(ang[i]));
        const dgVector c(f.at(f.u2.back(), f.v2.back(), 0));
        f.xyz.insert(f.xyz.end(), {c.x, c.y, c.z});
        f.idx.push_back(i);
    }
    return f;
}

}  // namespace

TEST(RayFaceTest, HitsOnlyFromTheFrontWithinTheSegment) {
    // Triangle in y = 0 whose front faces +y.
    const float v[] = {0, 0, 0, 0, 0, 1, 1, 0, 0};
    const int32_t idx[] = {0, 1, 2};
    float t = -5;
    dgVector n(pt(0, 0, 0));
    ASSERT_TRUE(dgRayFaceTest(pt(0.2f, 2, 0.2f), pt(0.2f, -2, 0.2f), v, 12, idx, 3, t, n));
    EXPECT_FLOAT_EQ(t, 0.5f);
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 1.0f);
    EXPECT_EQ(n.z, 0.0f);
    EXPECT_EQ(n.w, 1.0f);
    // Back side, ending exactly on the face, starting on it, stopping short.
    EXPECT_FALSE(dgRayFaceTest(pt(0.2f, -2, 0.2f), pt(0.2f, 2, 0.2f), v, 12, idx, 3, t, n));
    ASSERT_TRUE(dgRayFaceTest(pt(0.2f, 2, 0.2f), pt(0.2f, 0, 0.2f), v, 12, idx, 3, t, n));
    EXPECT_EQ(t, 1.0f);
    ASSERT_TRUE(dgRayFaceTest(pt(0.2f, 0, 0.2f), pt(0.2f, -2, 0.2f), v, 12, idx, 3, t, n));
    EXPECT_EQ(t, 0.0f);
    t = 9;
    EXPECT_FALSE(dgRayFaceTest(pt(0.2f, 2, 0.2f), pt(0.2f, 0.01f, 0.2f), v, 12, idx, 3, t, n));
    EXPECT_FALSE(dgRayFaceTest(pt(0.2f, 2, 0.2f), pt(0.2f, -2, 0.2f), v, 12, idx, 2, t, n));
    EXPECT_EQ(t, 9.0f);
    // Parallel to the face.
    EXPECT_FALSE(dgRayFaceTest(pt(-1, 0, 0.2f), pt(2, 0, 0.2f), v, 12, idx, 3, t, n));
}

TEST(RayFaceTest, EdgesOfTheFirstFanTriangleCountWithinTolerance) {
    // Quad a b c d in y = 0, front +y; first fan triangle a b c.
    const float v[] = {0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 0};
    const int32_t idx[] = {0, 1, 2, 3};
    float t;
    dgVector n;
    // On the diagonal a-c and on the outer edge a-b.
    EXPECT_TRUE(dgRayFaceTest(pt(0.3f, 1, 0.3f), pt(0.3f, -1, 0.3f), v, 12, idx, 4, t, n));
    EXPECT_TRUE(dgRayFaceTest(pt(0, 1, 0.6f), pt(0, -1, 0.6f), v, 12, idx, 4, t, n));
    EXPECT_TRUE(dgRayFaceTest(pt(-1e-7f, 1, 0.6f), pt(-1e-7f, -1, 0.6f), v, 12, idx, 4, t, n));
    EXPECT_FALSE(dgRayFaceTest(pt(-1e-3f, 1, 0.6f), pt(-1e-3f, -1, 0.6f), v, 12, idx, 4, t, n));
    // Hit in the second fan triangle still reports the first one's normal.
    ASSERT_TRUE(dgRayFaceTest(pt(0.8f, 1, 0.2f), pt(0.8f, -1, 0.2f), v, 12, idx, 4, t, n));
    EXPECT_EQ(n.y, 1.0f);
}

TEST(RayFaceTest, RepeatedCornerInTheFanIsSkipped) {
    const float v[] = {0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 0};
    const int32_t idx[] = {0, 1, 2, 2, 3};
    float t;
    dgVector n;
    EXPECT_TRUE(dgRayFaceTest(pt(0.8f, 1, 0.2f), pt(0.8f, -1, 0.2f), v, 12, idx, 5, t, n));
    EXPECT_FALSE(dgRayFaceTest(pt(1.8f, 1, 0.2f), pt(1.8f, -1, 0.2f), v, 12, idx, 5, t, n));
}

TEST(RayFaceTest, MatchesInsideTestOnRandomConvexFaces) {
    Rng rng;
    int hits = 0;
    for (int i = 0; i < 5000; ++i) {
        const Face f(randomFace(rng, 3 + int(rng.gen() % 7)));
        const float s = rng.uni(-3.5f, 3.5f), w = rng.uni(-3.5f, 3.5f);
        const float margin = f.inside(s, w);
        if (std::fabs(margin) < 1e-3f) {
            continue;
        }
        const float h = rng.uni(0.1f, 5), tau = rng.uni(0.05f, 1.5f);
        const dgVector target(f.at(s, w, 0));
        const dgVector p0(f.at(s + rng.uni(-2, 2), w + rng.uni(-2, 2), h));
        const dgVector p1(p0 + (target - p0) * (1.0f / tau));
        float t = 7;
        dgVector n;
        const bool hit = dgRayFaceTest(p0, p1, f.xyz.data(), 12, f.idx.data(), int32_t(f.idx.size()), t, n);
        ASSERT_EQ(hit, margin > 0 && tau <= 1.0f) << "face " << i;
        if (hit) {
            ++hits;
            EXPECT_NEAR(t, tau, 1e-4f);
            const float len = std::sqrt(n % n);
            EXPECT_NEAR((n % f.n) / len, 1.0f, 1e-4f);
            float tb;
            EXPECT_FALSE(dgRayFaceTest(p1, p0, f.xyz.data(), 12, f.idx.data(), int32_t(f.idx.size()), tb, n));
        }
    }
    EXPECT_GT(hits, 300);
}

TEST(RayHitRecord, CallbacksKeepNearestOrStopAtFirst) {
    // Three parallel unit triangles facing +y at heights 3, 1 and 2.
    const float v[] = {0, 3, 0, 0, 3, 1, 1, 3, 0, 0, 1, 0, 0, 1, 2, 2, 1, 0, 0, 2, 0, 0, 2, 3, 3, 2, 0};
    const int32_t faces[3][3] = {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}};
    const dgVector from(dgVector(0.1f, 4, 0.1f, 5.0f)), to(pt(0.1f, -4, 0.1f));

    dgRayHitRecord closest(from, to);
    EXPECT_EQ(closest.p0.w, 5.0f);
    EXPECT_EQ(closest.normal.y, 1.0f);
    EXPECT_EQ(closest.normal.w, 1.0f);
    EXPECT_FLOAT_EQ(closest.t, 1.1f);
    for (int i = 2; i >= 0; --i) {
        EXPECT_EQ(dgRayHitClosestCallback(&closest, v, 12, faces[i], 3), 1);
    }
    EXPECT_FLOAT_EQ(closest.t, 0.125f);
    EXPECT_FLOAT_EQ(closest.normal.y, 1.0f);  // (0,0,1) x (1,0,0)

    dgRayHitRecord any(from, to);
    EXPECT_EQ(dgRayHitAnyCallback(&any, v, 12, faces[1], 3), 0);
    EXPECT_FLOAT_EQ(any.t, 0.375f);
    EXPECT_EQ(any.normal.y, 1.0f);
    EXPECT_EQ(dgRayHitAnyCallback(&any, v, 12, faces[2], 3), 0);
    EXPECT_FLOAT_EQ(any.t, 0.25f);
    EXPECT_EQ(dgRayHitAnyCallback(&any, v, 12, faces[1], 3), 1);  // farther than the kept hit
    dgRayHitRecord miss(to, from);                                // from behind
    EXPECT_EQ(dgRayHitAnyCallback(&miss, v, 12, faces[0], 3), 1);
    EXPECT_FLOAT_EQ(miss.t, 1.1f);
}

// ---- boxes -----------------------------------------------------------------

TEST(BoxOverlap, TouchingBoxesDoNotOverlap) {
    EXPECT_FALSE(dgBoxOverlap(pt(0, 0, 0), pt(1, 1, 1), pt(1, 1, 1), pt(2, 2, 2)));
    EXPECT_TRUE(dgBoxOverlap(pt(0, 0, 0), pt(1, 1, 1), pt(0.999f, 0.999f, 0.999f), pt(2, 2, 2)));
    EXPECT_FALSE(dgBoxOverlap(pt(0, 0, 0), pt(1, 1, 1), pt(0.5f, 1, 0.5f), pt(2, 2, 2)));
    EXPECT_TRUE(dgBoxOverlap(pt(0, 0, 0), pt(4, 4, 4), pt(1, 1, 1), pt(2, 2, 2)));
}

TEST(BoxOverlap, MatchesIntervalTestOnRandomBoxes) {
    Rng rng;
    for (int i = 0; i < 20000; ++i) {
        // Coarse integer grid so that touching faces are common.
        float mn[2][3], mx[2][3];
        for (int b = 0; b < 2; ++b) {
            for (int k = 0; k < 3; ++k) {
                mn[b][k] = float(rng.gen() % 5);
                mx[b][k] = mn[b][k] + float(1 + rng.gen() % 3);
            }
        }
        bool expect = true;
        for (int k = 0; k < 3; ++k) {
            expect = expect && std::max(mn[0][k], mn[1][k]) < std::min(mx[0][k], mx[1][k]);
        }
        const dgVector a0(pt(mn[0][0], mn[0][1], mn[0][2])), a1(pt(mx[0][0], mx[0][1], mx[0][2]));
        const dgVector b0(pt(mn[1][0], mn[1][1], mn[1][2])), b1(pt(mx[1][0], mx[1][1], mx[1][2]));
        ASSERT_EQ(dgBoxOverlap(a0, a1, b0, b1), expect);
        ASSERT_EQ(dgBoxOverlap(b0, b1, a0, a1), expect);
    }
}

TEST(ClipSegmentToBox, InsideUnchangedThroughClippedMissRejected) {
    const dgVector mn(pt(-1, -1, -1)), mx(pt(1, 1, 1));
    dgVector p0(dgVector(-0.5f, 0.25f, 0.5f, 3.0f)), p1(dgVector(0.5f, -0.25f, 0.1f, 4.0f));
    ASSERT_TRUE(dgClipSegmentToBox(p0, p1, mn, mx));
    EXPECT_EQ(p0.x, -0.5f);
    EXPECT_EQ(p1.z, 0.1f);
    p0 = dgVector(-3, 0.5f, 0, 3.0f);
    p1 = dgVector(3, 0.5f, 0, 4.0f);
    ASSERT_TRUE(dgClipSegmentToBox(p0, p1, mn, mx));
    EXPECT_EQ(p0.x, -1.0f);
    EXPECT_EQ(p1.x, 1.0f);
    EXPECT_EQ(p0.y, 0.5f);
    EXPECT_EQ(p0.w, 3.0f);
    EXPECT_EQ(p1.w, 4.0f);
    // Above the box on y: x and z clip it first, then y rejects it.
    p0 = pt(-3, 2, -3);
    p1 = pt(3, 2, 3);
    EXPECT_FALSE(dgClipSegmentToBox(p0, p1, mn, mx));
    EXPECT_EQ(p0.x, -1.0f);
    EXPECT_EQ(p1.x, 1.0f);
    // Lying in a face plane counts as outside.
    p0 = pt(-3, 1, 0);
    p1 = pt(3, 1, 0);
    EXPECT_FALSE(dgClipSegmentToBox(p0, p1, mn, mx));
}

TEST(ClipSegmentToBox, MatchesSlabClippingOnRandomSegments) {
    Rng rng;
    const dgVector mn(pt(-1, -2, -0.5f)), mx(pt(2, 1, 0.5f));
    int kept = 0;
    for (int i = 0; i < 20000; ++i) {
        dgVector p0(rng.point(4)), p1(rng.point(4));
        const D3 a = toD3(p0), d = toD3(p1) - a;
        double lo = 0, hi = 1;
        const double bmin[3] = {mn.x, mn.y, mn.z}, bmax[3] = {mx.x, mx.y, mx.z};
        const double o[3] = {a.x, a.y, a.z}, dd[3] = {d.x, d.y, d.z};
        for (int k = 0; k < 3; ++k) {
            const double t0 = (bmin[k] - o[k]) / dd[k], t1 = (bmax[k] - o[k]) / dd[k];
            lo = std::max(lo, std::min(t0, t1));
            hi = std::min(hi, std::max(t0, t1));
        }
        if (std::fabs(hi - lo) < 1e-4) {
            continue;
        }
        const bool ok = dgClipSegmentToBox(p0, p1, mn, mx);
        ASSERT_EQ(ok, lo < hi) << "segment " << i;
        if (ok) {
            ++kept;
            // A segment nearly parallel to a face meets it at an ill-conditioned point.
            const double flat = std::min({std::fabs(d.x), std::fabs(d.y), std::fabs(d.z)});
            const double tol = 1e-4 + 1e-6 * std::sqrt(dot(d, d)) / flat;
            const D3 e0 = a + d * lo, e1 = a + d * hi;
            ASSERT_LT(std::sqrt(dot(toD3(p0) - e0, toD3(p0) - e0)), tol) << "segment " << i;
            ASSERT_LT(std::sqrt(dot(toD3(p1) - e1, toD3(p1) - e1)), tol) << "segment " << i;
        }
    }
    EXPECT_GT(kept, 1000);
}

// ---- the tests against each other ------------------------------------------

TEST(Intersections, FaceHitPointIsOnThePolygonAndOnTheSegment) {
    Rng rng;
    for (int i = 0; i < 3000; ++i) {
        const Face f(randomFace(rng, 3 + int(rng.gen() % 6)));
        const dgVector p0(f.at(rng.uni(-2, 2), rng.uni(-2, 2), rng.uni(0.5f, 3)));
        const dgVector p1(f.at(rng.uni(-2, 2), rng.uni(-2, 2), -rng.uni(0.5f, 3)));
        float t;
        dgVector n;
        const int32_t count = int32_t(f.idx.size());
        if (!dgRayFaceTest(p0, p1, f.xyz.data(), 12, f.idx.data(), count, t, n)) {
            // A miss through the plane passes outside the polygon.
            dgVector out;
            const dgVector x(p0 + (p1 - p0) * ((f.origin - p0) % f.n / ((p1 - p0) % f.n)));
            EXPECT_FALSE(dgClosestPointOnPolygon(x, f.xyz.data(), 12, f.idx.data(), count, 1e-5f, out));
            continue;
        }
        const dgVector hit(p0 + (p1 - p0) * t);
        dgVector onFace;
        ASSERT_TRUE(dgClosestPointOnPolygon(hit, f.xyz.data(), 12, f.idx.data(), count, 1e-3f, onFace));
        // The segment passes each edge at most as far as the hit point does.
        dgVector sp, sq;
        for (int32_t k = 0; k < count; ++k) {
            const dgVector a(pt(f.xyz[3 * k], f.xyz[3 * k + 1], f.xyz[3 * k + 2]));
            const int32_t j = (k + 1) % count;
            const dgVector b(pt(f.xyz[3 * j], f.xyz[3 * j + 1], f.xyz[3 * j + 2]));
            dgClosestPointsOfSegments(p0, p1, a, b, sp, sq);
            EXPECT_LE(dist(sp, sq), dist(hit, dgClosestPointOnSegment(hit, a, b)) + 1e-4f);
        }
    }
}

TEST(Intersections, TriangleEdgesMeetAtSharedCornersAndStayInsideTheirBox) {
    Rng rng;
    for (int i = 0; i < 2000; ++i) {
        const dgVector a(rng.point(3)), b(rng.point(3)), c(rng.point(3));
        dgVector p, q;
        dgClosestPointsOfSegments(a, b, b, c, p, q);
        EXPECT_LT(dist(p, q), 1e-5f);
        // A triangle edge clipped to the triangle's box stays whole (up to the open faces).
        const dgVector mn(pt(std::min({a.x, b.x, c.x}) - 0.1f, std::min({a.y, b.y, c.y}) - 0.1f,
                             std::min({a.z, b.z, c.z}) - 0.1f));
        const dgVector mx(pt(std::max({a.x, b.x, c.x}) + 0.1f, std::max({a.y, b.y, c.y}) + 0.1f,
                             std::max({a.z, b.z, c.z}) + 0.1f));
        dgVector e0(a), e1(c);
        ASSERT_TRUE(dgClipSegmentToBox(e0, e1, mn, mx));
        EXPECT_EQ(dist(e0, a), 0.0f);
        EXPECT_EQ(dist(e1, c), 0.0f);
        // A segment's own box overlaps the triangle's box when the segment crosses the triangle.
        const dgVector centre((a + b + c) * (1.0f / 3.0f));
        const dgVector s0(centre + rng.unit()), s1(centre - (s0 - centre));
        const dgVector smn(pt(std::min(s0.x, s1.x), std::min(s0.y, s1.y), std::min(s0.z, s1.z)));
        const dgVector smx(pt(std::max(s0.x, s1.x), std::max(s0.y, s1.y), std::max(s0.z, s1.z)));
        EXPECT_TRUE(dgBoxOverlap(smn, smx, mn, mx));
    }
}

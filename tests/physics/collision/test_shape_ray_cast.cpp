// Ray casts of every convex shape kind against an independent reference:
// rays from 1 to 10,000 units away, aimed at the shape, must agree with a
// double-precision root search on the shape's distance bound, whatever the
// distance of the start. Also the apex of the cone and starts that are not
// finite or are huge.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionConvexModifier.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionSphere.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgConvexCollision> ConvexHolder;

enum class Kind { box, sphere, ellipse, cone, capsule, cylinder, chamfer, hull, modifier };

const Kind kAllKinds[] = {Kind::box,      Kind::sphere,  Kind::ellipse, Kind::cone,    Kind::capsule,
                          Kind::cylinder, Kind::chamfer, Kind::hull,    Kind::modifier};

std::string kindName(const testing::TestParamInfo<Kind>& info) {
    static const char* const names[] = {"Box",      "Sphere",  "Ellipse", "Cone",    "Capsule",
                                        "Cylinder", "Chamfer", "Hull",    "Modifier"};
    return names[int32_t(info.param)];
}

// A bound on the signed distance to the shape's surface: 1-Lipschitz, zero
// on the surface, negative inside. {g <= -e} then lies within every shape that
// is e-close to the true one, and {g <= e} contains it.
typedef std::function<double(const double*)> DistanceBound;

struct TestShape {
    ConvexHolder shape;
    DistanceBound bound;
    // Largest half extent: the scale of every tolerance.
    double size;
};

dgVector point(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 1.0f);
}

double length3(double x, double y, double z) {
    return std::sqrt(x * x + y * y + z * z);
}

double dot3(const double* a, const dgVector& b) {
    return a[0] * b.x + a[1] * b.y + a[2] * b.z;
}

// Convex-hull corners and faces: a box or an octahedron of the given half
// axes along the rows of a random rotation.
TestShape makeHull(std::mt19937& rng, bool octahedron, double ax, double ay, double az) {
    const dgMatrix turn(randomPose(rng, 0.0f));
    const dgVector rows[3] = {turn.front, turn.up, turn.right};
    const double axes[3] = {ax, ay, az};
    std::vector<float> points;
    auto addPoint = [&](double u, double v, double w) {
        const dgVector p(rows[0].scale(float(u)) + rows[1].scale(float(v)) + rows[2].scale(float(w)));
        points.insert(points.end(), {p.x, p.y, p.z});
    };
    if (octahedron) {
        for (int32_t i = 0; i < 3; i++) {
            for (double s = -1.0; s <= 1.0; s += 2.0) {
                double c[3] = {0.0, 0.0, 0.0};
                c[i] = s * axes[i];
                addPoint(c[0], c[1], c[2]);
            }
        }
    } else {
        for (int32_t i = 0; i < 8; i++) {
            addPoint((i & 1) ? -ax : ax, (i & 2) ? -ay : ay, (i & 4) ? -az : az);
        }
    }
    TestShape out;
    out.shape = ConvexHolder::adopt(new dgCollisionConvexHull(0x1234u, int32_t(points.size() / 3),
                                                              3 * int32_t(sizeof(float)), points.data(),
                                                              dgGetIdentityMatrix()));
    out.size = std::max(ax, std::max(ay, az));
    if (octahedron) {
        const double norm = length3(1.0 / ax, 1.0 / ay, 1.0 / az);
        out.bound = [=](const double* p) {
            double sum = 0.0;
            for (int32_t i = 0; i < 3; i++) {
                sum += std::fabs(dot3(p, rows[i])) / axes[i];
            }
            return (sum - 1.0) / norm;
        };
    } else {
        out.bound = [=](const double* p) {
            double g = -1e300;
            for (int32_t i = 0; i < 3; i++) {
                g = std::max(g, std::fabs(dot3(p, rows[i])) - axes[i]);
            }
            return g;
        };
    }
    return out;
}

TestShape makeShape(Kind kind, std::mt19937& rng) {
    std::uniform_real_distribution<float> dim(0.2f, 3.0f);
    const dgMatrix& id = dgGetIdentityMatrix();
    TestShape out;
    switch (kind) {
        case Kind::box: {
            const float d[3] = {dim(rng), dim(rng), dim(rng)};
            out.shape = ConvexHolder::adopt(new dgCollisionBox(1u, d[0], d[1], d[2], id));
            const dgVector h(static_cast<dgCollisionBox*>(out.shape.get())->getHalfExtents());
            out.size = std::max(h.x, std::max(h.y, h.z));
            out.bound = [=](const double* p) {
                return std::max(std::fabs(p[0]) - h.x,
                                std::max(std::fabs(p[1]) - h.y, std::fabs(p[2]) - h.z));
            };
            break;
        }
        case Kind::sphere: {
            const double r = dim(rng);
            out.shape = ConvexHolder::adopt(new dgCollisionSphere(1u, float(r), id));
            out.size = r;
            out.bound = [=](const double* p) { return length3(p[0], p[1], p[2]) - r; };
            break;
        }
        case Kind::ellipse: {
            const double r[3] = {dim(rng), dim(rng), dim(rng)};
            out.shape =
                ConvexHolder::adopt(new dgCollisionEllipse(1u, float(r[0]), float(r[1]), float(r[2]), id));
            const double rmin = std::min(r[0], std::min(r[1], r[2]));
            out.size = std::max(r[0], std::max(r[1], r[2]));
            out.bound = [=](const double* p) {
                return rmin * (length3(p[0] / r[0], p[1] / r[1], p[2] / r[2]) - 1.0);
            };
            break;
        }
        case Kind::cone: {
            auto* cone = new dgCollisionCone(1u, dim(rng), dim(rng), id);
            out.shape = ConvexHolder::adopt(cone);
            const double r = cone->getRadius();
            const double h = cone->getHalfHeight();
            const double slant = length3(r, 2.0 * h, 0.0);
            out.size = std::max(r, h);
            out.bound = [=](const double* p) {
                const double rho = length3(0.0, p[1], p[2]);
                return std::max(-p[0] - h, (2.0 * h * rho + r * (p[0] - h)) / slant);
            };
            break;
        }
        case Kind::capsule: {
            auto* capsule = new dgCollisionCapsule(1u, dim(rng), 2.0f * dim(rng), id);
            out.shape = ConvexHolder::adopt(capsule);
            const double r = capsule->getRadius();
            const double hc = capsule->getHalfLength();
            out.size = r + hc;
            out.bound = [=](const double* p) {
                const double x = std::max(std::fabs(p[0]) - hc, 0.0);
                return length3(x, p[1], p[2]) - r;
            };
            break;
        }
        case Kind::cylinder: {
            auto* cylinder = new dgCollisionCylinder(1u, dim(rng), dim(rng), id);
            out.shape = ConvexHolder::adopt(cylinder);
            const double r = cylinder->getRadius();
            const double h = cylinder->getHalfHeight();
            out.size = std::max(r, h);
            out.bound = [=](const double* p) {
                return std::max(std::fabs(p[0]) - h, length3(0.0, p[1], p[2]) - r);
            };
            break;
        }
        case Kind::chamfer: {
            auto* chamfer = new dgCollisionChamferCylinder(1u, dim(rng), dim(rng), id);
            out.shape = ConvexHolder::adopt(chamfer);
            const double rc = chamfer->getCoreRadius();
            const double h = chamfer->getHalfHeight();
            out.size = rc + h;
            out.bound = [=](const double* p) {
                const double across = std::max(length3(0.0, p[1], p[2]) - rc, 0.0);
                return length3(p[0], across, 0.0) - h;
            };
            break;
        }
        case Kind::hull:
            out = makeHull(rng, (rng() & 1) != 0, dim(rng), dim(rng), dim(rng));
            break;
        case Kind::modifier: {
            // A stretched, turned and moved cone, box or capsule: the bound of
            // the wrapped shape read through the inverse map, scaled by the
            // smallest stretch to stay 1-Lipschitz.
            static const Kind wrappedKinds[] = {Kind::cone, Kind::box, Kind::capsule};
            const TestShape inner = makeShape(wrappedKinds[rng() % 3], rng);
            std::uniform_real_distribution<float> stretch(0.5f, 2.0f);
            const double s[3] = {stretch(rng), stretch(rng), stretch(rng)};
            const dgMatrix pose(randomPose(rng, 2.0f));
            const dgVector rows[3] = {pose.front, pose.up, pose.right};
            const dgMatrix m(rows[0].scale(float(s[0])), rows[1].scale(float(s[1])),
                             rows[2].scale(float(s[2])), pose.position);
            auto* modifier = new dgCollisionConvexModifier(inner.shape.get(), nullptr);
            modifier->setModifierMatrix(m);
            out.shape = ConvexHolder::adopt(modifier);
            const double smin = std::min(s[0], std::min(s[1], s[2]));
            const double smax = std::max(s[0], std::max(s[1], s[2]));
            out.size = inner.size * smax + length3(pose.position.x, pose.position.y, pose.position.z);
            const DistanceBound innerBound = inner.bound;
            const dgVector t(pose.position);
            out.bound = [=](const double* p) {
                const double q[3] = {p[0] - t.x, p[1] - t.y, p[2] - t.z};
                const double w[3] = {dot3(q, rows[0]) / s[0], dot3(q, rows[1]) / s[1],
                                     dot3(q, rows[2]) / s[2]};
                return smin * innerBound(w);
            };
            break;
        }
    }
    return out;
}

// First parameter in [0, 1] at which the segment a + t (b - a) enters
// {bound <= level}, or -1. Convex along the line: the minimum is found by
// golden section, the entry by bisection before it.
double firstEntry(const DistanceBound& bound, const double* a, const double* b, double level) {
    auto at = [&](double t) {
        const double p[3] = {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
        return bound(p);
    };
    if (at(0.0) <= level) {
        return 0.0;
    }
    const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
    double lo = 0.0;
    double hi = 1.0;
    for (int32_t i = 0; i < 90; i++) {
        const double m1 = hi - ratio * (hi - lo);
        const double m2 = lo + ratio * (hi - lo);
        if (at(m1) <= at(m2)) {
            hi = m2;
        } else {
            lo = m1;
        }
    }
    double inside = 0.5 * (lo + hi);
    if (at(inside) > level) {
        if (at(1.0) > level) {
            return -1.0;
        }
        inside = 1.0;
    }
    double outside = 0.0;
    for (int32_t i = 0; i < 70; i++) {
        const double mid = 0.5 * (outside + inside);
        if (at(mid) <= level) {
            inside = mid;
        } else {
            outside = mid;
        }
    }
    return inside;
}

// Geometric slack of the shapes that approximate a curved surface by an
// angle grid or snap hull points, relative to the shape's size.
constexpr double kShapeTolerance = 2e-3;
constexpr uint32_t kUserId = 0x80000005u;

// Checks one ray of local segment p0 -> p1 against the reference; returns
// 1 for a checked hit, 0 otherwise.
int32_t checkRay(const TestShape& s, const dgVector& p0, const dgVector& p1, const std::string& label) {
    char ends[160];
    std::snprintf(ends, sizeof(ends), " (%.9g %.9g %.9g) -> (%.9g %.9g %.9g)", p0.x, p0.y, p0.z, p1.x, p1.y,
                  p1.z);
    const std::string what(label + ends);
    const double a[3] = {p0.x, p0.y, p0.z};
    const double b[3] = {p1.x, p1.y, p1.z};
    const double e = kShapeTolerance * s.size;
    const double length = length3(b[0] - a[0], b[1] - a[1], b[2] - a[2]);
    // The float result itself carries a few units in the last place of t.
    const double slack = 4.0 * std::numeric_limits<float>::epsilon() + e / length;
    dgContactPoint contact;
    contact.normal = dgVector(9.0f, 9.0f, 9.0f, 9.0f);
    contact.userId = -1;
    const float t = s.shape->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
    EXPECT_FALSE(std::isnan(t)) << what;
    if (s.bound(a) < -e) {
        EXPECT_EQ(t, dgCollision::kRayMiss) << what << ": start inside";
        return 0;
    }
    if (s.bound(a) <= e) {
        return 0;
    }
    const double outer = firstEntry(s.bound, a, b, e);
    const double inner = firstEntry(s.bound, a, b, -e);
    if (outer < 0.0) {
        EXPECT_GT(t, 1.0f) << what << ": misses the shape by more than " << e;
        return 0;
    }
    if (inner >= 0.0) {
        EXPECT_LE(t, 1.0f) << what << ": enters the shape at " << inner;
    }
    if (!(t <= 1.0f)) {
        return 0;
    }
    EXPECT_GE(t, outer - slack) << what << ": hit before the surface, expected " << inner;
    if (inner >= 0.0) {
        EXPECT_LE(t, inner + slack) << what << ": hit past the surface, expected " << outer;
    }
    const float n2 = contact.normal % contact.normal;
    EXPECT_NEAR(n2, 1.0f, 1e-4f) << what;
    const dgVector d(p1 - p0);
    EXPECT_LE(contact.normal % d, 0.05f * std::sqrt(d % d)) << what << ": normal along the ray";
    EXPECT_EQ(contact.userId, dgContactUserId(kUserId)) << what;
    return 1;
}

class ShapeRayCast : public testing::TestWithParam<Kind> {};

// Random shapes at random poses, rays from 1 to 10,000 units aimed at points
// of the shape's box or near its extreme points (apexes, rims, corners), some
// ending short of the shape.
TEST_P(ShapeRayCast, FarAndNearStartsAgreeWithTheReference) {
    std::mt19937 rng(1000u + uint32_t(GetParam()));
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int32_t hits = 0;
    int32_t rays = 0;
    for (int32_t shapeIndex = 0; shapeIndex < 32; shapeIndex++) {
        const TestShape s = makeShape(GetParam(), rng);
        s.shape->setUserId(kUserId);
        const dgMatrix pose(randomPose(rng, 100.0f));
        const dgVector centre(s.shape->getBoxCentre());
        const dgVector half(s.shape->getBoxHalfSize());
        for (int32_t i = 0; i < 160; i++, rays++) {
            dgVector target;
            if (i & 1) {
                target = point(centre + dgVector((2.0f * unit(rng) - 1.0f) * 1.2f * half.x,
                                                 (2.0f * unit(rng) - 1.0f) * 1.2f * half.y,
                                                 (2.0f * unit(rng) - 1.0f) * 1.2f * half.z, 0.0f));
            } else {
                target = point(s.shape->supportVertex(randomUnit(rng)) +
                               randomUnit(rng).scale(0.1f * float(s.size)));
            }
            const float distance = std::pow(10.0f, 4.0f * unit(rng));
            const dgVector from(randomUnit(rng));
            const dgVector start(point(target + from.scale(distance)));
            const dgVector end(point(target + from.scale(float(s.size) * (4.0f * unit(rng) - 2.0f))));
            // The caller's world ray, brought into the shape's frame as a body
            // does it.
            const dgVector p0(pose.inverseTransformVector(pose.transformVector(start)));
            const dgVector p1(pose.inverseTransformVector(pose.transformVector(end)));
            hits += checkRay(s, point(p0), point(p1),
                             "shape " + std::to_string(shapeIndex) + " ray " + std::to_string(i) + " from " +
                                 std::to_string(distance));
        }
    }
    EXPECT_GT(hits, rays / 8);
}

// Ends that are not finite report no hit; a huge finite start still finds
// the shape.
TEST_P(ShapeRayCast, NonFiniteStartsMissAndHugeStartsHit) {
    std::mt19937 rng(77u + uint32_t(GetParam()));
    const TestShape s = makeShape(GetParam(), rng);
    s.shape->setUserId(kUserId);
    const dgVector centre(point(s.shape->getBoxCentre()));
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const dgVector bad[] = {dgVector(inf, 0.0f, 0.0f, 1.0f), dgVector(-inf, -inf, 0.5f, 1.0f),
                            dgVector(nan, 0.0f, 0.0f, 1.0f), dgVector(0.0f, nan, inf, 1.0f)};
    dgContactPoint contact;
    for (const dgVector& p : bad) {
        EXPECT_EQ(s.shape->rayCast(p, centre, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
        EXPECT_EQ(s.shape->rayCast(centre + dgVector(0.0f, 0.0f, 100.0f, 0.0f), p, contact, nullptr, nullptr,
                                   nullptr),
                  dgCollision::kRayMiss);
    }
    const float big = std::numeric_limits<float>::max();
    const dgVector huge[] = {dgVector(1e30f, 2e29f, -1e29f, 1.0f), dgVector(-big, 0.0f, 0.0f, 1.0f),
                             dgVector(0.0f, big, big, 1.0f), dgVector(3e20f, -3e20f, 1e20f, 1.0f)};
    for (const dgVector& p : huge) {
        const float t = s.shape->rayCast(p, centre, contact, nullptr, nullptr, nullptr);
        EXPECT_GE(t, 0.0f);
        EXPECT_LE(t, 1.0f);
        // Both ends that far away: where the line passes is beyond the
        // precision of any float arithmetic, but the answer is still a number.
        const float across = s.shape->rayCast(p, centre.scale(2.0f) - p, contact, nullptr, nullptr, nullptr);
        EXPECT_TRUE((across == dgCollision::kRayMiss) || (across >= 0.0f && across <= 1.0f)) << across;
    }
}

INSTANTIATE_TEST_SUITE_P(AllConvexKinds, ShapeRayCast, testing::ValuesIn(kAllKinds), kindName);

// Rays skimming the apex of cones from near and far: a hit must lie on the
// cone, a miss must pass outside it.
TEST(ShapeRayCastApex, RaysAroundTheConeApex) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int32_t shapeIndex = 0; shapeIndex < 16; shapeIndex++) {
        const TestShape s = makeShape(Kind::cone, rng);
        s.shape->setUserId(kUserId);
        const float h = static_cast<dgCollisionCone*>(s.shape.get())->getHalfHeight();
        for (int32_t i = 0; i < 300; i++) {
            const dgVector apex(h, 0.0f, 0.0f, 1.0f);
            const dgVector target(point(apex + randomUnit(rng).scale(0.2f * float(s.size) * unit(rng))));
            const float distance = std::pow(10.0f, 3.0f * unit(rng));
            const dgVector from(randomUnit(rng));
            checkRay(s, point(target + from.scale(distance)), point(target - from.scale(float(s.size))),
                     "cone " + std::to_string(shapeIndex) + " ray " + std::to_string(i));
        }
    }
}

// A turned box hull whose first ray simplex is four corners on one diagonal
// plane of the box, flat but for the rounding of the hull's grid: a point of
// that plane well outside the box lies within rounding of all four face
// planes of the simplex and must not count as inside it.
TEST(ShapeRayCastHull, FlatFirstSimplexDoesNotSwallowOutsidePoints) {
    const float corners[] = {0.855304599f,  -2.76942873f,  0.783948183f, -2.48093367f, 0.549007475f,
                             1.59981656f,   0.855507731f,  -2.0899508f,  -1.97890544f, -2.48073053f,
                             1.22848535f,   -1.16303706f,  2.48073053f,  -1.22848535f, 1.16303706f,
                             -0.855507731f, 2.0899508f,    1.97890544f,  2.48093367f,  -0.549007475f,
                             -1.59981656f,  -0.855304599f, 2.76942873f,  -0.783948183f};
    ConvexHolder hull = ConvexHolder::adopt(
        new dgCollisionConvexHull(1u, 8, 3 * int32_t(sizeof(float)), corners, dgGetIdentityMatrix()));
    dgContactPoint contact;
    EXPECT_EQ(hull->rayCast(dgVector(-1.70127463f, -2.75529146f, 0.673842371f, 1.0f),
                            dgVector(4.44131184f, -0.805324793f, 1.54851401f, 1.0f), contact, nullptr,
                            nullptr, nullptr),
              dgCollision::kRayMiss);
}

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgCollisionChamferCylinder.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionChamferCylinder> ChamferHolder;

// The factory's key: {9, |radius|, |height| / 2, matrix}.
uint32_t factoryKey(float radius, float height, const dgMatrix& offset) {
    const float dims[2] = {std::fabs(radius), std::fabs(height) * 0.5f};
    return dgShapeSignature(dgShapeChamferCylinder, dims, 2, offset);
}

ChamferHolder makeChamfer(float radius, float height, const dgMatrix& offset = dgGetIdentityMatrix()) {
    return ChamferHolder::adopt(
        new dgCollisionChamferCylinder(factoryKey(radius, height, offset), radius, height, offset));
}

// The analytic shape: points within h of the disc of radius rc in x = 0.
struct Analytic {
    double h;
    double rc;

    // Distance from p to the disc, and the disc's closest point.
    double discDistance(const double p[3], double closest[3]) const {
        const double rho = std::sqrt(p[1] * p[1] + p[2] * p[2]);
        const double k = (rho > rc) ? rc / rho : 1.0;
        closest[0] = 0.0;
        closest[1] = p[1] * k;
        closest[2] = p[2] * k;
        const double dx = p[0] - closest[0], dy = p[1] - closest[1], dz = p[2] - closest[2];
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    double excess(const double p[3]) const {
        double c[3];
        return discDistance(p, c) - h;
    }
    void normal(const double p[3], double n[3]) const {
        double c[3];
        const double d = discDistance(p, c);
        for (int32_t j = 0; j < 3; j++) {
            n[j] = (p[j] - c[j]) / d;
        }
    }
    double excess(const dgVector& v) const {
        const double p[3] = {v.x, v.y, v.z};
        return excess(p);
    }
};

// First entry of the segment into the analytic shape. The excess (distance
// to the disc less h) is convex along the segment: find its minimum by
// golden sections, then the first root before it by bisection.
struct RayReference {
    double t = -1.0;
    double minExcess = 0.0;
    bool startInside = false;
    double normal[3] = {0, 0, 0};
};

RayReference referenceCast(const Analytic& shape, const dgVector& p0, const dgVector& p1) {
    RayReference ref;
    const double q[3] = {p0.x, p0.y, p0.z};
    const double d[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
    auto f = [&](double t) {
        const double p[3] = {q[0] + d[0] * t, q[1] + d[1] * t, q[2] + d[2] * t};
        return shape.excess(p);
    };
    if (f(0.0) <= 0.0) {
        ref.startInside = true;
        return ref;
    }
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double a = 0.0, b = 1.0;
    for (int32_t i = 0; i < 200; i++) {
        const double c = b - g * (b - a), e = a + g * (b - a);
        (f(c) < f(e)) ? (b = e) : (a = c);
    }
    const double tMin = 0.5 * (a + b);
    ref.minExcess = std::min(f(tMin), f(1.0));
    const double tLow = (f(1.0) < f(tMin)) ? 1.0 : tMin;
    if (ref.minExcess > 0.0) {
        return ref;
    }
    double lo = 0.0, hi = tLow;
    for (int32_t i = 0; i < 200; i++) {
        const double mid = 0.5 * (lo + hi);
        (f(mid) > 0.0) ? (lo = mid) : (hi = mid);
    }
    ref.t = hi;
    const double p[3] = {q[0] + d[0] * hi, q[1] + d[1] * hi, q[2] + d[2] * hi};
    shape.normal(p, ref.normal);
    return ref;
}

// Volume and second moments of the analytic shape by integrating over the
// radius: at radius rho the shape spans |x| <= X(rho), X = h inside the core
// and sqrt(h^2 - (rho - rc)^2) over the rounded rim.
struct MassReference {
    double volume = 0.0;
    double axial = 0.0;   // inertia per unit mass about x
    double across = 0.0;  // about y (and z)
};

MassReference integrate(double h, double rc) {
    const int32_t steps = 400000;
    const double outer = rc + h;
    const double dr = outer / steps;
    double v = 0.0, rho2 = 0.0, x2 = 0.0;
    for (int32_t i = 0; i < steps; i++) {
        const double rho = (i + 0.5) * dr;
        const double u = rho - rc;
        const double X = (u <= 0.0) ? h : std::sqrt(std::max(0.0, h * h - u * u));
        const double ring = 2.0 * kPi * rho * dr;
        v += ring * 2.0 * X;
        rho2 += ring * 2.0 * X * rho * rho;
        x2 += ring * 2.0 * X * X * X / 3.0;
    }
    MassReference m;
    m.volume = v;
    m.axial = rho2 / v;
    m.across = (x2 + rho2 / 2.0) / v;
    return m;
}

float cast(const dgCollision& shape, const dgVector& p0, const dgVector& p1, dgContactPoint& contact) {
    std::memset(&contact, 0, sizeof(contact));
    return shape.rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
}

// Shaped like the vehicle's tire: no class name of its own, the five
// operations overridden by calling the chamfer cylinder's.
class TireLike : public dgCollisionChamferCylinder {
public:
    TireLike(uint32_t signature, float radius, float height, uint32_t userId)
        : dgCollisionChamferCylinder(signature, radius, height, dgGetIdentityMatrix()) {
        setFlagBits(dgShapeFlagOffset);
        setUserId(userId);
    }
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override {
        calls++;
        dgCollisionChamferCylinder::calcAABB(matrix, boxMin, boxMax);
    }
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override {
        calls++;
        return dgCollisionChamferCylinder::forEachPolygon(body, callback);
    }
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override {
        calls++;
        return dgCollisionChamferCylinder::rayCast(p0, p1, contact, prefilter, body, userData);
    }
    dgVector supportVertex(const dgVector& direction) const override {
        calls++;
        return dgCollisionChamferCylinder::supportVertex(direction);
    }
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override {
        calls++;
        return dgCollisionChamferCylinder::calcPlaneIntersection(normal, point, points);
    }
    mutable int32_t calls = 0;
};

// Checks a plane section: on the plane, on the core's boundary, inside the
// core, consecutive points apart.
void expectSectionOnCore(const dgCollisionChamferCylinder& shape, const dgVector& normal,
                         const dgVector& point, const dgVector* out, int32_t count) {
    const float h = shape.getHalfHeight();
    const float rc = shape.getCoreRadius();
    for (int32_t i = 0; i < count; i++) {
        const dgVector& p = out[i];
        EXPECT_NEAR((p - point) % normal, 0.0f, 1e-5f);
        const float radial = std::sqrt(p.y * p.y + p.z * p.z);
        EXPECT_LE(std::fabs(p.x), h + 1e-5f);
        EXPECT_LE(radial, rc + 1e-5f);
        EXPECT_TRUE(std::fabs(std::fabs(p.x) - h) < 1e-5f || std::fabs(radial - rc) < 1e-5f)
            << p.x << " " << radial;
        if (i > 0) {
            const dgVector step(p - out[i - 1]);
            EXPECT_GT(step % step, dgCollisionChamferCylinder::kSectionMergeDist2);
        }
    }
}

}  // namespace

TEST(ChamferCylinder, SizesGiveHalfHeightAndCoreRadius) {
    ChamferHolder a = makeChamfer(1.0f, 0.5f);
    EXPECT_EQ(a->getHalfHeight(), 0.25f);
    EXPECT_EQ(a->getCoreRadius(), 0.75f);
    EXPECT_EQ(a->getAngleStep().m_step, 6.28318f / 192.0f);
    EXPECT_EQ(a->getShapeType(), uint32_t(dgShapeChamferCylinder));
    // 0.3 - 0.5 is not above 0.1.
    ChamferHolder b = makeChamfer(-0.3f, -1.0f);
    EXPECT_EQ(b->getHalfHeight(), 0.5f);
    EXPECT_EQ(b->getCoreRadius(), 0.1f);
    EXPECT_EQ(b->getAngleStep().m_step, 6.28318f / 128.0f);
    EXPECT_EQ(makeChamfer(0.55f, 1.0f)->getCoreRadius(), 0.1f);
    EXPECT_FLOAT_EQ(makeChamfer(0.65f, 1.0f)->getCoreRadius(), 0.15f);

    // The coarse polyhedron: five rings along the rounded profile.
    ASSERT_EQ(a->getVertexCount(), 40);
    const dgVector* v = a->getVertices();
    const float ringX[5] = {-0.25f, -0.25f * std::sqrt(0.5f), 0.0f, 0.25f * std::sqrt(0.5f), 0.25f};
    const float ringRho[5] = {0.75f, 0.75f + 0.25f * std::sqrt(0.5f), 1.0f, 0.75f + 0.25f * std::sqrt(0.5f),
                              0.75f};
    for (int32_t m = 0; m < 5; m++) {
        for (int32_t k = 0; k < 8; k++) {
            const dgVector& p = v[8 * m + k];
            const float phi = float(k) * (6.28318f / 8.0f);
            EXPECT_NEAR(p.x, ringX[m], 1e-6f);
            EXPECT_NEAR(p.y, ringRho[m] * std::sin(phi), 1e-5f);
            EXPECT_NEAR(p.z, ringRho[m] * std::cos(phi), 1e-5f);
            EXPECT_EQ(p.w, 1.0f);
        }
    }
    // The local box from the support vertex: (h, rc + h, rc + h).
    EXPECT_FLOAT_EQ(a->getBoxHalfSize().x, 0.25f);
    EXPECT_NEAR(a->getBoxHalfSize().y, 1.0f, 1e-4f);
    EXPECT_NEAR(a->getBoxHalfSize().z, 1.0f, 1e-4f);
}

TEST(ChamferCylinder, MassPropertiesMatchAFineIntegrationWithinTheTessellation) {
    struct Case {
        float radius, height;
    };
    for (const Case& c : {Case{1.0f, 0.5f}, Case{0.5f, 0.3f}, Case{2.0f, 1.5f}, Case{0.3f, 1.0f}}) {
        ChamferHolder s = makeChamfer(c.radius, c.height);
        const double h = s->getHalfHeight(), rc = s->getCoreRadius();
        const MassReference ref = integrate(h, rc);
        // The integration against the closed volume (Pappus).
        const double pappus = 2.0 * kPi * rc * rc * h + kPi * kPi * rc * h * h + 4.0 / 3.0 * kPi * h * h * h;
        ASSERT_NEAR(ref.volume, pappus, 1e-6 * pappus);

        // The walked polyhedron exactly: a stack of 24-gon frustums.
        const double sector = 12.0 * std::sin(2.0 * kPi / 24.0);
        double walked = 0.0;
        for (int32_t j = 0; j < 12; j++) {
            const double x0 = -h * std::cos(j * kPi / 12.0), x1 = -h * std::cos((j + 1) * kPi / 12.0);
            const double a0 = sector * std::pow(rc + h * std::sin(j * kPi / 12.0), 2.0);
            const double a1 = sector * std::pow(rc + h * std::sin((j + 1) * kPi / 12.0), 2.0);
            walked += (x1 - x0) / 3.0 * (a0 + a1 + std::sqrt(a0 * a1));
        }
        EXPECT_NEAR(s->getVolume(), walked, 2e-5 * walked);

        // The tessellation (24 around, 12 along the profile) keeps the walk
        // within 3 % below the true shape, the most for a nearly spherical
        // one (small core).
        EXPECT_LT(s->getVolume(), ref.volume);
        EXPECT_NEAR(s->getVolume(), ref.volume, 0.03 * ref.volume);
        dgVector inertia, origin;
        s->calcInertia(inertia, origin);
        EXPECT_NEAR(inertia.x, ref.axial, 0.03 * ref.axial);
        EXPECT_NEAR(inertia.y, ref.across, 0.03 * ref.across);
        EXPECT_NEAR(inertia.z, ref.across, 0.03 * ref.across);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(origin[j], 0.0f, 1e-5f);
        }
    }
}

TEST(ChamferCylinder, PolygonWalkLiesOnTheSurfaceClosedAndOutward) {
    const dgMatrix offset(turned(0.2f, 0.0f, 0.7f, dgVector(0.5f, 0.0f, -1.0f, 1.0f)));
    ChamferHolder s = makeChamfer(1.0f, 0.6f, offset);
    const Analytic shape{s->getHalfHeight(), s->getCoreRadius()};
    const dgMatrix body(turned(-0.4f, 1.3f, 0.0f, dgVector(2.0f, 3.0f, 4.0f, 1.0f)));
    const dgMatrix placement(offset.multiply(body));
    int32_t reported = 0;
    const WalkedFaces faces = walkFaces(*s, body, &reported);
    EXPECT_EQ(size_t(reported), faces.size());
    ASSERT_EQ(faces.size(), size_t(12 * 24 + 2));
    double total[3] = {0, 0, 0};
    for (size_t f = 0; f < faces.size(); f++) {
        const std::vector<dgVector>& pts = faces[f];
        ASSERT_EQ(pts.size(), (f < 12 * 24) ? 4u : 24u);
        dgVector centroid(0, 0, 0, 1);
        double area[3] = {0, 0, 0};
        for (size_t i = 0; i < pts.size(); i++) {
            EXPECT_NEAR(shape.excess(placement.inverseTransformVector(pts[i])), 0.0, 2e-5);
            centroid += pts[i].scale(1.0f / float(pts.size()));
            const dgVector& a = pts[i];
            const dgVector& b = pts[(i + 1) % pts.size()];
            area[0] += double(a.y) * b.z - double(a.z) * b.y;
            area[1] += double(a.z) * b.x - double(a.x) * b.z;
            area[2] += double(a.x) * b.y - double(a.y) * b.x;
        }
        const dgVector out(centroid - placement.position);
        EXPECT_GT(area[0] * out.x + area[1] * out.y + area[2] * out.z, 0.0) << f;
        for (int32_t j = 0; j < 3; j++) {
            total[j] += area[j];
        }
    }
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(total[j], 0.0, 1e-4);
    }
    // The flat faces come last: -x, then +x.
    EXPECT_NEAR(placement.inverseTransformVector(faces[12 * 24][0]).x, -0.3f, 1e-5f);
    EXPECT_NEAR(placement.inverseTransformVector(faces[12 * 24 + 1][0]).x, 0.3f, 1e-5f);
}

TEST(ChamferCylinder, SupportVertexEdgeCases) {
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    dgVector p(s->supportVertex(dgVector(1, 0, 0, 0)));
    EXPECT_EQ(p.x, 0.25f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 0.75f);
    p = s->supportVertex(dgVector(-1, 0, 0, 0));
    EXPECT_EQ(p.x, -0.25f);
    EXPECT_EQ(p.z, 0.75f);
    p = s->supportVertex(dgVector(0, 1, 0, 0));
    EXPECT_NEAR(p.x, 0.0f, 1e-6f);
    EXPECT_NEAR(p.y, 1.0f, 1e-4f);
    EXPECT_NEAR(p.z, 0.0f, 0.02f);
    // Near the pole, the rim point toward the direction's azimuth, not a
    // fixed one.
    const float across = std::sqrt(1.0f - 0.9999f * 0.9999f);
    p = s->supportVertex(dgVector(0.9999f, 0.0f, -across, 0.0f));
    EXPECT_EQ(p.x, 0.25f);
    EXPECT_NEAR(p.y, 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(p.z, -0.75f);
    p = s->supportVertex(dgVector(-0.9999f, -0.6f * across, 0.8f * across, 0.0f));
    EXPECT_EQ(p.x, -0.25f);
    EXPECT_FLOAT_EQ(p.y, -0.45f);
    EXPECT_FLOAT_EQ(p.z, 0.6f);
    // The length of the direction does not matter.
    const dgVector d(0.3f, -0.5f, 0.7f, 0.0f);
    const dgVector unit(d.scale(1.0f / std::sqrt(d % d)));
    const dgVector a(s->supportVertex(unit));
    const dgVector b(s->supportVertex(d.scale(7.0f)));
    EXPECT_NEAR(a.x, b.x, 1e-6f);
    EXPECT_NEAR(a.y, b.y, 1e-6f);
    EXPECT_NEAR(a.z, b.z, 1e-6f);
    // surfacePoint is the point whose outward normal is u.
    const Analytic shape{0.25, 0.75};
    const dgVector q(s->surfacePoint(unit));
    EXPECT_NEAR(shape.excess(q), 0.0, 1e-6);
    const double qp[3] = {q.x, q.y, q.z};
    double n[3];
    shape.normal(qp, n);
    EXPECT_NEAR(n[0], unit.x, 1e-5);
    EXPECT_NEAR(n[1], unit.y, 1e-5);
    EXPECT_NEAR(n[2], unit.z, 1e-5);
    // The core's support.
    const dgVector c(s->coreSupport(dgVector(0.0f, 3.0f, -4.0f, 0.0f)));
    EXPECT_EQ(c.x, -0.25f);
    EXPECT_FLOAT_EQ(c.y, 0.45f);
    EXPECT_FLOAT_EQ(c.z, -0.6f);
}

TEST(ChamferCylinder, SupportVertexAgainstADenseSamplingOfTheSurface) {
    struct Case {
        float radius, height;
    };
    for (const Case& c : {Case{1.0f, 0.5f}, Case{3.0f, 0.8f}, Case{0.4f, 0.4f}}) {
        ChamferHolder s = makeChamfer(c.radius, c.height);
        const float h = s->getHalfHeight(), rc = s->getCoreRadius();
        const Analytic shape{h, rc};
        // The rounded rim and both flat faces.
        std::vector<dgVector> samples;
        const int32_t around = 1024, profile = 180;
        for (int32_t k = 0; k < around; k++) {
            const double phi = 2.0 * kPi * k / around;
            for (int32_t j = 0; j <= profile; j++) {
                const double theta = kPi * j / profile;
                const double rho = rc + h * std::sin(theta);
                samples.push_back(dgVector(float(-h * std::cos(theta)), float(rho * std::sin(phi)),
                                           float(rho * std::cos(phi)), 1.0f));
            }
            for (int32_t j = 0; j < 4; j++) {
                const double rho = rc * j / 4.0;
                samples.push_back(dgVector(h, float(rho * std::sin(phi)), float(rho * std::cos(phi)), 1.0f));
                samples.push_back(dgVector(-h, float(rho * std::sin(phi)), float(rho * std::cos(phi)), 1.0f));
            }
        }
        const float step = s->getAngleStep().m_step;
        const float gridLoss = (h + rc) * (1.0f - std::cos(1.5f * step)) + 1e-5f * (h + rc);
        const float sampleLoss =
            float(h * (1.0 - std::cos(kPi / profile)) + (h + rc) * (1.0 - std::cos(kPi / around))) + 1e-5f;
        std::mt19937 rng(11);
        for (int32_t n = 0; n < 120; n++) {
            dgVector d(randomUnit(rng));
            if (n < 4) {
                // Near the axis, on both sides of the pole threshold.
                const float x = (n < 2) ? 0.9999f : 0.9997f;
                const float side = (n & 1) ? -1.0f : 1.0f;
                d = dgVector(side * x, 0.6f * std::sqrt(1.0f - x * x), -0.8f * std::sqrt(1.0f - x * x), 0.0f);
            }
            float best = -1e30f;
            for (const dgVector& p : samples) {
                best = std::max(best, p % d);
            }
            // Near the poles the flat face's rim point answers, off by the
            // little the rounding leans out.
            const float poleLoss = (std::fabs(d.x) > 0.9998f) ? h * (1.0f - std::fabs(d.x)) : 0.0f;
            const dgVector p(s->supportVertex(d));
            EXPECT_LE(p % d, best + sampleLoss);
            EXPECT_GE(p % d, best - gridLoss - sampleLoss - poleLoss) << n;
            EXPECT_NEAR(shape.excess(p), 0.0, 1e-5 * (h + rc));
        }
    }
}

TEST(ChamferCylinder, RayCastEdgeCases) {
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    s->setUserId(0xFFFFFFFEu);
    dgContactPoint contact;
    // Along the axis onto the flat face.
    EXPECT_FLOAT_EQ(cast(*s, dgVector(1, 0, 0, 1), dgVector(0, 0, 0, 1), contact), 0.75f);
    EXPECT_EQ(contact.normal.x, 1.0f);
    EXPECT_EQ(contact.normal.y, 0.0f);
    EXPECT_EQ(contact.normal.z, 0.0f);
    EXPECT_EQ(contact.userId, int64_t(0xFFFFFFFEu));
    EXPECT_FLOAT_EQ(cast(*s, dgVector(-1, 0.5f, 0.2f, 1), dgVector(1, 0.5f, 0.2f, 1), contact), 0.375f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    // Ending exactly on the flat face.
    EXPECT_EQ(cast(*s, dgVector(1, 0.1f, 0, 1), dgVector(0.25f, 0.1f, 0, 1), contact), 1.0f);
    EXPECT_EQ(contact.normal.x, 1.0f);
    // Across the rounded rim at its widest: the general cast.
    float t = cast(*s, dgVector(0, 3, 0, 1), dgVector(0, -3, 0, 1), contact);
    EXPECT_NEAR(t, 2.0f / 6.0f, 2e-4f);
    EXPECT_NEAR(contact.normal.y, 1.0f, 1e-3f);
    EXPECT_NEAR(std::sqrt(contact.normal % contact.normal), 1.0f, 1e-5f);
    EXPECT_EQ(contact.userId, int64_t(0xFFFFFFFEu));
    // Crossing the plane x = h outside the flat face falls to the general
    // cast, and hits the rounded rim.
    t = cast(*s, dgVector(1, 0.95f, 0, 1), dgVector(-1, 0.95f, 0, 1), contact);
    ASSERT_NE(t, dgCollision::kRayMiss);
    const double x = std::sqrt(0.0625 - 0.2 * 0.2);
    EXPECT_NEAR(t, (1.0 - x) / 2.0, 2e-3);
    EXPECT_NEAR(contact.normal.x, x / 0.25, 0.02);
    EXPECT_NEAR(contact.normal.y, 0.2 / 0.25, 0.02);
    // Starting inside, pointing away, beyond the rim, passing it.
    EXPECT_EQ(cast(*s, dgVector(0, 0.2f, 0, 1), dgVector(3, 0.2f, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*s, dgVector(0, 2, 0, 1), dgVector(0, 4, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*s, dgVector(-3, 1.05f, 0, 1), dgVector(3, 1.05f, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*s, dgVector(0.5f, 3, 0, 1), dgVector(0.5f, -3, 0, 1), contact), dgCollision::kRayMiss);
}

TEST(ChamferCylinder, RayCastsMatchTheAnalyticSurface) {
    ChamferHolder s = makeChamfer(1.0f, 0.6f);
    const Analytic shape{s->getHalfHeight(), s->getCoreRadius()};
    const double outer = shape.rc + shape.h;
    // Within this the grid surface and the true one agree.
    const double surfaceTolerance = outer * (1.0 - std::cos(1.5 * s->getAngleStep().m_step)) + 1e-4;
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> u(-2.5f, 2.5f);
    int32_t flatHits = 0, rimHits = 0, misses = 0;
    for (int32_t n = 0; n < 3000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        const RayReference ref = referenceCast(shape, p0, p1);
        dgContactPoint contact;
        const float t = cast(*s, p0, p1, contact);
        if (ref.startInside) {
            if (shape.excess(p0) < -1e-3) {
                EXPECT_EQ(t, dgCollision::kRayMiss);
            }
            continue;
        }
        const dgVector d(p1 - p0);
        const double length = std::sqrt(d % d);
        if (ref.t < 0.0) {
            // Clear misses only: a grazing one may touch the grid surface.
            if (ref.minExcess > surfaceTolerance) {
                EXPECT_EQ(t, dgCollision::kRayMiss) << n;
                misses++;
            }
            continue;
        }
        // Entries well inside the segment and not grazing.
        double cosIncidence = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            cosIncidence -= ref.normal[j] * d[j] / length;
        }
        if (cosIncidence < 0.2 || (1.0 - ref.t) * length < 0.01 || ref.minExcess > -0.01) {
            continue;
        }
        ASSERT_NE(t, dgCollision::kRayMiss) << n;
        EXPECT_NEAR(t * length, ref.t * length, 3.0 * surfaceTolerance / cosIncidence) << n;
        EXPECT_NEAR(std::sqrt(contact.normal % contact.normal), 1.0f, 1e-5f);
        double agreement = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            agreement += contact.normal[j] * ref.normal[j];
        }
        const bool flat = std::fabs(ref.normal[0]) > 0.999999;
        if (flat) {
            flatHits++;
            EXPECT_NEAR(t, ref.t, 1e-5);
            EXPECT_GT(agreement, 0.999999);
        } else {
            rimHits++;
            EXPECT_GT(agreement, 0.995) << n;
        }
    }
    EXPECT_GT(flatHits, 100);
    EXPECT_GT(rimHits, 300);
    EXPECT_GT(misses, 300);
}

TEST(ChamferCylinder, BoundsUnderRotatedMatricesHoldTheShape) {
    ChamferHolder s = makeChamfer(1.1f, 0.6f);
    const float h = s->getHalfHeight(), rc = s->getCoreRadius();
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> angle(-3.0f, 3.0f);
    for (int32_t n = 0; n < 50; n++) {
        const dgMatrix m(turned(angle(rng), angle(rng), angle(rng), dgVector(-1.0f, 0.5f, 2.0f, 1.0f)));
        dgVector lo, hi;
        s->calcAABB(m, lo, hi);
        for (int32_t j = 0; j < 3; j++) {
            const float extent =
                std::fabs(m[0][j]) * h + (std::fabs(m[1][j]) + std::fabs(m[2][j])) * (h + rc);
            EXPECT_NEAR(hi[j] - m.position[j], extent, 2e-4f);
            EXPECT_NEAR(m.position[j] - lo[j], extent, 2e-4f);
            // The exact extent of the shape: h + rc sqrt(1 - a_j^2).
            const float a = m[0][j];
            const float exact = h + rc * std::sqrt(std::max(0.0f, 1.0f - a * a));
            EXPECT_GE(hi[j] - m.position[j], exact - 2e-4f);
            EXPECT_GE(m.position[j] - lo[j], exact - 2e-4f);
        }
    }
}

TEST(ChamferCylinder, PlaneMissingTheCoreGivesThePointInTheRimOrNothing) {
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    dgVector out[dgPlaneIntersectionMaxPoints];
    const dgVector inRim(0.05f, 0.9f, 0.0f, 1.0f);
    ASSERT_EQ(s->calcPlaneIntersection(dgVector(0, 1, 0, 0), inRim, out), 1);
    EXPECT_EQ(out[0].x, inRim.x);
    EXPECT_EQ(out[0].y, inRim.y);
    EXPECT_EQ(out[0].z, inRim.z);
    // Far outside, or beyond a flat face.
    EXPECT_EQ(s->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 2, 0, 1), out), 0);
    EXPECT_EQ(s->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0.3f, 0, 0, 1), out), 0);
}

TEST(ChamferCylinder, PlaneSectionsLieOnTheCoreBoundary) {
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    dgVector out[dgPlaneIntersectionMaxPoints];
    // Across the axis: eight points on the core's circle.
    dgVector n(1, 0, 0, 0), p(0.1f, 0, 0, 1);
    int32_t count = s->calcPlaneIntersection(n, p, out);
    EXPECT_EQ(count, 8);
    expectSectionOnCore(*s, n, p, out, count);

    std::mt19937 rng(29);
    int32_t full = 0;
    for (int32_t i = 0; i < 300; i++) {
        n = randomUnit(rng);
        p = randomUnit(rng).scale(0.2f);
        p.w = 1.0f;
        count = s->calcPlaneIntersection(n, p, out);
        ASSERT_GE(count, 3) << i;
        ASSERT_LE(count, 8);
        expectSectionOnCore(*s, n, p, out, count);
        full += (count == 8);
    }
    EXPECT_GT(full, 100);
}

TEST(ChamferCylinder, PlaneAlongTheAxisCutsTheCore) {
    // The core's extreme points lie on its end planes for a normal across the
    // axis, and pushed onto the plane they stay there: the section must still
    // be found.
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    dgVector out[dgPlaneIntersectionMaxPoints];
    for (float azimuth : {0.0f, 0.7f, 2.0f}) {
        const dgVector n(0.0f, std::cos(azimuth), std::sin(azimuth), 0.0f);
        const dgVector p(n.scale(0.2f));
        const int32_t count = s->calcPlaneIntersection(n, p, out);
        ASSERT_GE(count, 4) << azimuth;
        expectSectionOnCore(*s, n, p, out, count);
        float minX = 1e9f, maxX = -1e9f;
        for (int32_t i = 0; i < count; i++) {
            minX = std::min(minX, out[i].x);
            maxX = std::max(maxX, out[i].x);
        }
        EXPECT_NEAR(minX, -0.25f, 1e-5f);
        EXPECT_NEAR(maxX, 0.25f, 1e-5f);
    }
}

TEST(ChamferCylinder, DeepCutOfALongOrFlatCoreFindsTheSection) {
    // Both extreme points pushed onto a plane through the middle can leave
    // the core: a long core cut at a slant, and a flat one.
    struct Case {
        float radius, height;
        dgVector normal;
    };
    const Case cases[] = {
        {5.5f, 10.0f, dgVector(0.3f, 0.954f, 0.0f, 0.0f)},
        {1.25f, 0.5f, dgVector(0.6f, 0.0f, 0.8f, 0.0f)},
    };
    for (const Case& c : cases) {
        ChamferHolder s = makeChamfer(c.radius, c.height);
        const dgVector n(c.normal.scale(1.0f / std::sqrt(c.normal % c.normal)));
        const dgVector p(0.0f, 0.0f, 0.0f, 1.0f);
        dgVector out[dgPlaneIntersectionMaxPoints];
        const int32_t count = s->calcPlaneIntersection(n, p, out);
        ASSERT_GE(count, 4) << c.radius;
        expectSectionOnCore(*s, n, p, out, count);
    }
}

TEST(ChamferCylinder, ThinSectionMergesNearbyPoints) {
    ChamferHolder s = makeChamfer(1.0f, 0.5f);
    const dgVector n(dgVector(1, 1, 0, 0).scale(std::sqrt(0.5f)));
    // Just inside the corner where the +x face meets the core's side.
    const dgVector p(dgVector(0.25f, 0.75f, 0.0f, 1.0f) - n.scale(0.03f));
    dgVector out[dgPlaneIntersectionMaxPoints];
    const int32_t count = s->calcPlaneIntersection(n, p, out);
    ASSERT_GE(count, 1);
    EXPECT_LT(count, 8);
    expectSectionOnCore(*s, n, p, out, count);
}

// The shared rim directions; the tables' life and structure are the shape
// kinds' suite's.
TEST(ChamferCylinder, RimDirectionsTurnByEighthsAboutTheAxis) {
    ChamferHolder a = makeChamfer(1.0f, 0.5f);
    const dgVector* d = dgCollisionChamferCylinder::dgChamferDirections();
    ASSERT_NE(d, nullptr);
    for (int32_t k = 0; k < 8; k++) {
        const float phi = float(k) * (6.28318f / 8.0f);
        EXPECT_EQ(d[k].x, 0.0f);
        EXPECT_FLOAT_EQ(d[k].y, std::cos(phi));
        EXPECT_FLOAT_EQ(d[k].z, std::sin(phi));
        EXPECT_EQ(d[k].w, 1.0f);
    }
    // The core radius is clamped: 0.3 and 0.35 give one core (and two keys).
    EXPECT_EQ(makeChamfer(0.3f, 1.0f)->getCoreRadius(), makeChamfer(0.35f, 1.0f)->getCoreRadius());
}

TEST(ChamferCylinder, DerivedTireShapeReusesTheOperations) {
    const float radius = 0.45f, height = 0.2f;
    ChamferHolder plain = makeChamfer(radius, height);
    dgRefHolder<TireLike> tire = dgRefHolder<TireLike>::adopt(
        new TireLike(factoryKey(radius, height, dgGetIdentityMatrix()), radius, height, 0x1234u));
    EXPECT_EQ(dgCollisionChamferCylinder::dgChamferCylinderLiveCount(), 2);
    EXPECT_EQ(tire->getClassId(), dgCollisionChamferCylinder::kClassId);
    EXPECT_TRUE(tire->hasOffset());
    EXPECT_EQ(tire->getUserId(), 0x1234u);
    EXPECT_EQ(tire->calcSignature(), plain->calcSignature());
    const dgCollision* shape = tire.operator->();

    dgVector lo0, hi0, lo1, hi1;
    const dgMatrix m(turned(0.3f, 0.2f, 0.1f, dgVector(1, 2, 3, 1)));
    shape->calcAABB(m, lo0, hi0);
    plain->calcAABB(m, lo1, hi1);
    EXPECT_EQ(std::memcmp(&lo0, &lo1, sizeof(lo0)), 0);
    EXPECT_EQ(std::memcmp(&hi0, &hi1, sizeof(hi0)), 0);
    dgContactPoint c0, c1;
    EXPECT_EQ(cast(*shape, dgVector(0, 2, 0, 1), dgVector(0, -2, 0, 1), c0),
              cast(*plain, dgVector(0, 2, 0, 1), dgVector(0, -2, 0, 1), c1));
    EXPECT_EQ(c0.userId, int64_t(0x1234u));
    const dgVector d(0.2f, 0.5f, -0.3f, 0.0f);
    const dgVector s0(tire->supportVertex(d)), s1(plain->supportVertex(d));
    EXPECT_EQ(std::memcmp(&s0, &s1, sizeof(s0)), 0);
    dgVector out0[dgPlaneIntersectionMaxPoints], out1[dgPlaneIntersectionMaxPoints];
    const int32_t n0 = tire->calcPlaneIntersection(dgVector(0.6f, 0.8f, 0, 0), dgVector(0, 0, 0, 1), out0);
    EXPECT_EQ(n0, plain->calcPlaneIntersection(dgVector(0.6f, 0.8f, 0, 0), dgVector(0, 0, 0, 1), out1));
    int32_t reported = 0;
    EXPECT_EQ(walkFaces(*shape, dgGetIdentityMatrix(), &reported).size(), size_t(12 * 24 + 2));
    EXPECT_EQ(reported, 12 * 24 + 2);
    // Volume and inertia go through the overridden walk.
    EXPECT_NEAR(tire->getVolume(), plain->getVolume(), 1e-7f);
    EXPECT_GE(tire->calls, 6);
    // Another tire weighed and released gives every block back.
    MemoryBalance balance;
    dgRefHolder<TireLike> other = dgRefHolder<TireLike>::adopt(new TireLike(7u, 0.4f, 0.2f, 1u));
    dgVector inertia, origin;
    other->calcInertia(inertia, origin);
    EXPECT_GT(balance.liveBlocks(), 0);
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionCylinder.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionCylinder> CylinderHolder;

// The factory's key: {5, |radius|, |height| / 2, matrix}.
CylinderHolder makeCylinder(float radius, float height, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[2] = {std::fabs(radius), std::fabs(height) * 0.5f};
    return CylinderHolder::adopt(
        new dgCollisionCylinder(dgShapeSignature(dgShapeCylinder, dims, 2, offset), radius, height, offset));
}

// Area vector (twice the area times the unit normal) of a planar polygon.
void areaVector(const std::vector<dgVector>& face, double out[3]) {
    out[0] = out[1] = out[2] = 0.0;
    for (size_t i = 0; i < face.size(); i++) {
        const dgVector& a = face[i];
        const dgVector& b = face[(i + 1) % face.size()];
        out[0] += double(a.y) * b.z - double(a.z) * b.y;
        out[1] += double(a.z) * b.x - double(a.x) * b.z;
        out[2] += double(a.x) * b.y - double(a.y) * b.x;
    }
}

float cast(const dgCollision& shape, const dgVector& p0, const dgVector& p1, dgContactPoint& contact) {
    std::memset(&contact, 0, sizeof(contact));
    return shape.rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
}

// Segment against the solid cylinder by interval clipping in double: the
// parameter where it enters, and the normal there. -1 when it does not enter
// within (0, 1].
struct RayReference {
    double t = -1.0;
    double normal[3] = {0, 0, 0};
    // Distance, in t, between the entry and the nearest competing event
    // (the other constraint's entry, or the exit); small means ambiguous.
    double margin = 0.0;
    bool startInside = false;
};

RayReference referenceCast(double r, double h, const dgVector& p0, const dgVector& p1) {
    RayReference ref;
    const double q[3] = {p0.x, p0.y, p0.z};
    const double d[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
    double lo = -1e30, hi = 1e30, slabLo = -1e30, sideLo = -1e30;
    if (d[0] != 0.0) {
        const double ta = (-h - q[0]) / d[0], tb = (h - q[0]) / d[0];
        slabLo = std::min(ta, tb);
        hi = std::min(hi, std::max(ta, tb));
    } else if (std::fabs(q[0]) > h) {
        return ref;
    }
    const double a = d[1] * d[1] + d[2] * d[2];
    const double b = 2.0 * (q[1] * d[1] + q[2] * d[2]);
    const double c = q[1] * q[1] + q[2] * q[2] - r * r;
    if (a > 0.0) {
        const double disc = b * b - 4.0 * a * c;
        if (disc <= 0.0) {
            return ref;
        }
        sideLo = (-b - std::sqrt(disc)) / (2.0 * a);
        hi = std::min(hi, (-b + std::sqrt(disc)) / (2.0 * a));
    } else if (c > 0.0) {
        return ref;
    }
    lo = std::max(slabLo, sideLo);
    ref.startInside = (lo < 0.0 && hi > 0.0);
    if (lo <= 0.0 || lo > hi || lo > 1.0) {
        return ref;
    }
    ref.t = lo;
    ref.margin = std::min(std::fabs(slabLo - sideLo), hi - lo);
    if (slabLo > sideLo) {
        ref.normal[0] = (d[0] < 0.0) ? 1.0 : -1.0;
    } else {
        const double y = q[1] + d[1] * lo, z = q[2] + d[2] * lo;
        const double len = std::sqrt(y * y + z * z);
        ref.normal[1] = y / len;
        ref.normal[2] = z / len;
    }
    return ref;
}

}  // namespace

TEST(Cylinder, SizesBecomeAbsoluteRadiusAndHalfHeight) {
    CylinderHolder c = makeCylinder(-2.0f, -3.0f);
    EXPECT_EQ(c->getRadius(), 2.0f);
    EXPECT_EQ(c->getHalfHeight(), 1.5f);
    EXPECT_EQ(c->getAngleStep().m_step, 6.28318f / 512.0f);
    EXPECT_EQ(c->getShapeType(), uint32_t(dgShapeCylinder));
    EXPECT_EQ(makeCylinder(0.2f, 1.0f)->getAngleStep().m_step, 6.28318f / 128.0f);
    // The coarse prism: two octagons at x = -+h.
    ASSERT_EQ(c->getVertexCount(), 16);
    const dgVector* v = c->getVertices();
    for (int32_t k = 0; k < 8; k++) {
        const float angle = float(k) * (6.28318f / 8.0f);
        EXPECT_EQ(v[k].x, -1.5f);
        EXPECT_EQ(v[k + 8].x, 1.5f);
        EXPECT_NEAR(v[k].y, 2.0f * std::cos(angle), 1e-6f);
        EXPECT_NEAR(v[k].z, 2.0f * std::sin(angle), 1e-6f);
        EXPECT_EQ(v[k + 8].y, v[k].y);
        EXPECT_EQ(v[k].w, 1.0f);
    }
    // The local box comes from the support vertex.
    EXPECT_FLOAT_EQ(c->getBoxHalfSize().x, 1.5f);
    EXPECT_NEAR(c->getBoxHalfSize().y, 2.0f, 1e-4f);
    EXPECT_NEAR(c->getBoxHalfSize().z, 2.0f, 1e-4f);
    EXPECT_NEAR(c->getBoxCentre().y, 0.0f, 1e-4f);
}

TEST(Cylinder, MassPropertiesAreThoseOfTheTwentyFourSidedPrism) {
    const double theta = 2.0 * kPi / 24.0;
    for (float r : {0.5f, 1.0f, 2.5f}) {
        for (float height : {0.2f, 1.0f, 4.0f}) {
            CylinderHolder c = makeCylinder(r, height);
            const double R = r, H = height;
            // The walked prism exactly.
            const double area = 12.0 * R * R * std::sin(theta);
            const double volume = area * H;
            const double axial = R * R * (2.0 + std::cos(theta)) / 6.0;
            const double across = H * H / 12.0 + axial / 2.0;
            EXPECT_NEAR(c->getVolume(), volume, 1e-5 * volume);
            dgVector inertia, origin;
            c->calcInertia(inertia, origin);
            EXPECT_NEAR(inertia.x, axial, 2e-5 * axial);
            EXPECT_NEAR(inertia.y, across, 2e-5 * across);
            EXPECT_NEAR(inertia.z, across, 2e-5 * across);
            for (int32_t j = 0; j < 3; j++) {
                EXPECT_NEAR(origin[j], 0.0f, 1e-5f * (r + height));
            }
            // The true cylinder within the tessellation: V = pi r^2 H, inertia
            // r^2/2 about the axis and r^2/4 + H^2/12 across it.
            const double trueVolume = kPi * R * R * H;
            EXPECT_LT(c->getVolume(), trueVolume);
            EXPECT_NEAR(c->getVolume(), trueVolume, 0.012 * trueVolume);
            EXPECT_NEAR(inertia.x, R * R / 2.0, 0.012 * R * R / 2.0);
            const double trueAcross = R * R / 4.0 + H * H / 12.0;
            EXPECT_NEAR(inertia.y, trueAcross, 0.012 * trueAcross);
        }
    }
}

TEST(Cylinder, PolygonWalkIsAClosedOutwardPrismPlacedByOffsetAndMatrix) {
    const dgMatrix offset(turned(0.0f, 0.4f, 0.0f, dgVector(0.0f, 1.0f, 0.0f, 1.0f)));
    const float r = 1.5f, h = 0.75f;
    CylinderHolder c = makeCylinder(r, 2.0f * h, offset);
    const dgMatrix body(turned(1.1f, 0.0f, -0.3f, dgVector(5.0f, 6.0f, 7.0f, 1.0f)));
    const dgMatrix placement(offset.multiply(body));
    int32_t reported = 0;
    const WalkedFaces faces = walkFaces(*c, body, &reported);
    EXPECT_EQ(size_t(reported), faces.size());
    ASSERT_EQ(faces.size(), 26u);
    double total[3] = {0, 0, 0};
    for (size_t f = 0; f < faces.size(); f++) {
        EXPECT_EQ(faces[f].size(), (f < 24) ? 4u : 24u);
        dgVector centroid(0, 0, 0, 1);
        for (const dgVector& p : faces[f]) {
            const dgVector local(placement.inverseTransformVector(p));
            const float radial = std::sqrt(local.y * local.y + local.z * local.z);
            EXPECT_NEAR(radial, r, 2e-5f);
            EXPECT_NEAR(std::fabs(local.x), h, 2e-5f);
            centroid += p.scale(1.0f / float(faces[f].size()));
        }
        double area[3];
        areaVector(faces[f], area);
        // Outward: the face's normal points away from the shape's centre.
        const dgVector out(centroid - placement.position);
        EXPECT_GT(area[0] * out.x + area[1] * out.y + area[2] * out.z, 0.0) << f;
        for (int32_t j = 0; j < 3; j++) {
            total[j] += area[j];
        }
    }
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(total[j], 0.0, 1e-4);
    }
    // The ends lie across the axis: -x first, then +x.
    const dgVector minusEnd(placement.inverseTransformVector(faces[24][0]));
    const dgVector plusEnd(placement.inverseTransformVector(faces[25][0]));
    EXPECT_NEAR(minusEnd.x, -h, 1e-5f);
    EXPECT_NEAR(plusEnd.x, h, 1e-5f);
}

TEST(Cylinder, SupportVertexEdgeCases) {
    CylinderHolder c = makeCylinder(2.0f, 3.0f);
    dgVector p(c->supportVertex(dgVector(0.0f, 0.0f, 1.0f, 0.0f)));
    EXPECT_EQ(p.x, -1.5f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 2.0f);
    p = c->supportVertex(dgVector(0.1f, 0.0f, 1.0f, 0.0f));
    EXPECT_EQ(p.x, 1.5f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 2.0f);
    EXPECT_EQ(p.w, 1.0f);
    p = c->supportVertexExact(dgVector(-1.0f, 3.0f, 4.0f, 0.0f));
    EXPECT_EQ(p.x, -1.5f);
    EXPECT_FLOAT_EQ(p.y, 1.2f);
    EXPECT_FLOAT_EQ(p.z, 1.6f);
}

TEST(Cylinder, SupportVertexAgainstADenseSamplingOfTheSurface) {
    for (float r : {0.3f, 1.0f, 3.0f}) {
        const float h = 0.8f;
        CylinderHolder c = makeCylinder(r, 2.0f * h);
        // Both rims, the side and both ends.
        std::vector<dgVector> samples;
        const int32_t around = 2048;
        for (int32_t k = 0; k < around; k++) {
            const double a = 2.0 * kPi * k / around;
            for (int32_t j = 0; j <= 8; j++) {
                const double x = -h + 2.0 * h * j / 8.0;
                samples.push_back(dgVector(float(x), float(r * std::cos(a)), float(r * std::sin(a)), 1.0f));
            }
            for (int32_t j = 0; j < 4; j++) {
                const double rho = r * j / 4.0;
                samples.push_back(dgVector(h, float(rho * std::cos(a)), float(rho * std::sin(a)), 1.0f));
                samples.push_back(dgVector(-h, float(rho * std::cos(a)), float(rho * std::sin(a)), 1.0f));
            }
        }
        const float step = c->getAngleStep().m_step;
        // A grid point misses the azimuth by at most one step.
        const float gridLoss = r * (1.0f - std::cos(step)) + 1e-5f * (r + h);
        const float sampleLoss = r * float(1.0 - std::cos(kPi / around)) + 1e-5f * (r + h);
        std::mt19937 rng(101);
        for (int32_t n = 0; n < 200; n++) {
            const dgVector d(randomUnit(rng));
            float best = -1e30f;
            for (const dgVector& s : samples) {
                best = std::max(best, s % d);
            }
            const dgVector p(c->supportVertex(d));
            EXPECT_LE(p % d, best + sampleLoss);
            EXPECT_GE(p % d, best - gridLoss - sampleLoss);
            // On a rim circle.
            EXPECT_EQ(std::fabs(p.x), h);
            EXPECT_NEAR(std::sqrt(p.y * p.y + p.z * p.z), r, 1e-5f * r);
            const dgVector exact(c->supportVertexExact(d));
            EXPECT_NEAR(exact % d, best, sampleLoss);
        }
    }
}

TEST(Cylinder, RayCastEdgeCases) {
    const float r = 1.0f, h = 2.0f;
    CylinderHolder c = makeCylinder(r, 2.0f * h);
    c->setUserId(0x80000001u);
    dgContactPoint contact;
    // Across the side.
    EXPECT_FLOAT_EQ(cast(*c, dgVector(0, 3 * r, 0, 1), dgVector(0, -3 * r, 0, 1), contact), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(contact.normal.x, 0.0f);
    EXPECT_FLOAT_EQ(contact.normal.y, 1.0f);
    EXPECT_FLOAT_EQ(contact.normal.z, 0.0f);
    EXPECT_EQ(contact.userId, int64_t(0x80000001u));
    // Along the axis onto the end disc.
    EXPECT_FLOAT_EQ(cast(*c, dgVector(2 * h, 0, 0, 1), dgVector(0, 0, 0, 1), contact), 0.5f);
    EXPECT_EQ(contact.normal.x, 1.0f);
    EXPECT_EQ(contact.normal.y, 0.0f);
    EXPECT_FLOAT_EQ(cast(*c, dgVector(-2 * h, 0.5f, 0.5f, 1), dgVector(0, 0.5f, 0.5f, 1), contact), 0.5f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    EXPECT_EQ(contact.userId, int64_t(0x80000001u));
    // From outside the radius into an end disc.
    const float t = cast(*c, dgVector(h + 1.0f, 1.6f, 0, 1), dgVector(h - 1.0f, 0.0f, 0, 1), contact);
    EXPECT_FLOAT_EQ(t, 0.5f);
    EXPECT_EQ(contact.normal.x, 1.0f);
    // Pointing away (both roots negative), starting inside, from inside the
    // axis region but beyond an end going away.
    EXPECT_EQ(cast(*c, dgVector(0, 3, 0, 1), dgVector(0, 6, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(0, 0.5f, 0, 1), dgVector(0, 6, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(0, 0, 0, 1), dgVector(10, 0, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(h + 1, 0, 0, 1), dgVector(h + 3, 0, 0, 1), contact), dgCollision::kRayMiss);
    // Parallel to the axis outside the radius, and through the axis region
    // crossing the end plane outside the rim.
    EXPECT_EQ(cast(*c, dgVector(-10, 1.5f, 0, 1), dgVector(10, 1.5f, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(h + 1, 0.5f, 0, 1), dgVector(h - 1, 1.5f, 3.0f, 1), contact),
              dgCollision::kRayMiss);
    // Parallel to the axis inside the radius: through the end disc.
    EXPECT_FLOAT_EQ(cast(*c, dgVector(-10, 0.9f, 0, 1), dgVector(10, 0.9f, 0, 1), contact), (10 - h) / 20.0f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    // Grazing: tangent to the side, and passing just outside it.
    EXPECT_EQ(cast(*c, dgVector(0, r, -5, 1), dgVector(0, r, 5, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(0, 1.001f * r, -5, 1), dgVector(0, 1.001f * r, 5, 1), contact),
              dgCollision::kRayMiss);
    // Passing just inside it: a hit near the tangent point, normal almost +y.
    const float graze = cast(*c, dgVector(0, 0.999f * r, -5, 1), dgVector(0, 0.999f * r, 5, 1), contact);
    EXPECT_NEAR(graze, (5.0f - std::sqrt(1.0f - 0.999f * 0.999f)) / 10.0f, 1e-5f);
    EXPECT_NEAR(contact.normal.y, 0.999f, 1e-4f);
    // Missing the cylinder beyond an end while crossing the infinite one.
    EXPECT_EQ(cast(*c, dgVector(h + 0.5f, 3, 0, 1), dgVector(h + 0.5f, -3, 0, 1), contact),
              dgCollision::kRayMiss);
    // A zero-length segment.
    EXPECT_EQ(cast(*c, dgVector(0, 3, 0, 1), dgVector(0, 3, 0, 1), contact), dgCollision::kRayMiss);
}

TEST(Cylinder, RayEndingOnTheSurfaceHitsAtOneAndShortOfItMisses) {
    CylinderHolder c = makeCylinder(1.0f, 2.0f);
    dgContactPoint contact;
    EXPECT_EQ(cast(*c, dgVector(0, 3, 0, 1), dgVector(0, 1, 0, 1), contact), 1.0f);
    EXPECT_EQ(contact.normal.y, 1.0f);
    EXPECT_EQ(cast(*c, dgVector(3, 0, 0, 1), dgVector(1, 0, 0, 1), contact), 1.0f);
    EXPECT_EQ(contact.normal.x, 1.0f);
    EXPECT_EQ(cast(*c, dgVector(-3, 0.2f, 0, 1), dgVector(-1, 0.2f, 0, 1), contact), 1.0f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    EXPECT_EQ(cast(*c, dgVector(0, 3, 0, 1), dgVector(0, 1.01f, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*c, dgVector(3, 0, 0, 1), dgVector(1.01f, 0, 0, 1), contact), dgCollision::kRayMiss);
}

TEST(Cylinder, RayCastsMatchIntervalClipping) {
    const float r = 1.2f, h = 0.9f;
    CylinderHolder c = makeCylinder(r, 2.0f * h);
    std::mt19937 rng(57);
    std::uniform_real_distribution<float> u(-3.5f, 3.5f);
    int32_t sideHits = 0, endHits = 0, misses = 0;
    for (int32_t n = 0; n < 20000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        const RayReference ref = referenceCast(r, h, p0, p1);
        dgContactPoint contact;
        const float t = cast(*c, p0, p1, contact);
        if (ref.startInside) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        if (ref.t < 0.0) {
            misses++;
            // Only a segment that a hair larger cylinder would stop may hit.
            if (referenceCast(r * 1.0001, h * 1.0001, p0, p1).t < 0.0) {
                EXPECT_EQ(t, dgCollision::kRayMiss) << n;
            }
            continue;
        }
        // Leave out entries within rounding of an edge, a tangent or p1.
        if (ref.margin < 1e-3 || std::fabs(ref.t - 1.0) < 1e-4) {
            continue;
        }
        ASSERT_NE(t, dgCollision::kRayMiss) << n;
        EXPECT_NEAR(t, ref.t, 2e-5);
        const float length = std::sqrt(contact.normal % contact.normal);
        EXPECT_NEAR(length, 1.0f, 1e-5f);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(contact.normal[j], ref.normal[j], 1e-4);
        }
        (ref.normal[0] != 0.0) ? endHits++ : sideHits++;
    }
    EXPECT_GT(sideHits, 500);
    EXPECT_GT(endHits, 500);
    EXPECT_GT(misses, 500);
}

TEST(Cylinder, BoundsUnderRotatedMatricesHoldTheShape) {
    const float r = 0.7f, h = 1.6f;
    CylinderHolder c = makeCylinder(r, 2.0f * h);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> angle(-3.0f, 3.0f);
    for (int32_t n = 0; n < 50; n++) {
        const dgMatrix m(turned(angle(rng), angle(rng), angle(rng), dgVector(1.0f, -2.0f, 3.0f, 1.0f)));
        dgVector lo, hi;
        c->calcAABB(m, lo, hi);
        EXPECT_EQ(lo.w, 1.0f);
        EXPECT_EQ(hi.w, 1.0f);
        for (int32_t j = 0; j < 3; j++) {
            // The rotated local box (h, r, r) about the matrix origin...
            const float extent =
                std::fabs(m[0][j]) * h + (std::fabs(m[1][j]) + std::fabs(m[2][j])) * c->getBoxHalfSize().y;
            EXPECT_NEAR(hi[j] - m.position[j], extent, 1e-4f);
            EXPECT_NEAR(m.position[j] - lo[j], extent, 1e-4f);
            // ...which holds the cylinder's exact extent h |a_j| + r sqrt(1 - a_j^2).
            const float a = m[0][j];
            const float exact = h * std::fabs(a) + r * std::sqrt(std::max(0.0f, 1.0f - a * a));
            EXPECT_GE(hi[j] - m.position[j], exact - 1e-4f);
            EXPECT_GE(m.position[j] - lo[j], exact - 1e-4f);
        }
    }
}

TEST(Cylinder, PlaneIntersectionCutsTheCoarsePrism) {
    const float r = 1.0f, h = 1.5f;
    CylinderHolder c = makeCylinder(r, 2.0f * h);
    dgVector out[dgPlaneIntersectionMaxPoints];
    // Across the axis: the octagon.
    int32_t count = c->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0.5f, 0, 0, 1), out);
    ASSERT_EQ(count, 8);
    for (int32_t i = 0; i < count; i++) {
        EXPECT_NEAR(out[i].x, 0.5f, 1e-5f);
        EXPECT_NEAR(std::sqrt(out[i].y * out[i].y + out[i].z * out[i].z), r, 1e-5f);
    }
    // Along the axis, at any azimuth: the prism is turned so that a vertex
    // faces the normal, and the section is a rectangle through the full
    // length whose width does not depend on the azimuth.
    for (float azimuth : {0.0f, 0.3f, 1.0f, 2.5f, -2.0f}) {
        const dgVector n(0.0f, std::cos(azimuth), std::sin(azimuth), 0.0f);
        const dgVector p(n.scale(0.5f));
        count = c->calcPlaneIntersection(n, p, out);
        ASSERT_EQ(count, 4) << azimuth;
        float minX = 1e9f, maxX = -1e9f, width = 0.0f;
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((out[i] - p) % n, 0.0f, 1e-5f);
            minX = std::min(minX, out[i].x);
            maxX = std::max(maxX, out[i].x);
            const dgVector across(out[i] - n.scale(out[i] % n));
            width = std::max(width, std::sqrt(across.y * across.y + across.z * across.z));
        }
        EXPECT_NEAR(minX, -h, 1e-5f);
        EXPECT_NEAR(maxX, h, 1e-5f);
        // Half-width of the octagon cut 0.5 from its centre with a vertex
        // (1, 0) facing the normal: the cut crosses the edges from
        // (cos 45, sin 45) to (0, 1) and their mirror images.
        const float s45 = std::sqrt(0.5f);
        const float expected = s45 + (s45 - 0.5f) / s45 * (1.0f - s45);
        EXPECT_NEAR(width, expected, 1e-4f) << azimuth;
    }
    // A tilted plane: every point on the plane and on the prism's surface.
    std::mt19937 rng(77);
    for (int32_t n = 0; n < 200; n++) {
        const dgVector normal(randomUnit(rng));
        const dgVector p(randomUnit(rng).scale(0.4f));
        count = c->calcPlaneIntersection(normal, p, out);
        ASSERT_GE(count, 3);
        ASSERT_LE(count, 12);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((out[i] - p) % normal, 0.0f, 1e-4f);
            EXPECT_LE(std::fabs(out[i].x), h + 1e-4f);
            EXPECT_LE(std::sqrt(out[i].y * out[i].y + out[i].z * out[i].z), r + 1e-4f);
        }
    }
    // A plane beyond the shape.
    EXPECT_EQ(c->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 2, 0, 1), out), 0);
}

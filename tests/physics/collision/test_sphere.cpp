#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionPoint.h"
#include "dgCollisionSphere.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionSphere> SphereHolder;

SphereHolder makeSphere(float radius, const dgMatrix& offset = dgGetIdentityMatrix()) {
    return SphereHolder::adopt(
        new dgCollisionSphere(dgShapeSignature(dgShapeSphere, &radius, 1, offset), radius, offset));
}

// The walked triangles' distances from centre and how far each faces away
// from it (the least of the triple products), with their mass sums.
struct WalkMass : FaceMoments {
    int32_t triangles = 0;
    double minRadius = 1e30;
    double maxRadius = 0.0;
    double minOrientation = 1e30;
};

WalkMass walk(const dgCollision& shape, const dgMatrix& matrix, const dgVector& centre) {
    int32_t corners = 0;
    const WalkedFaces faces = walkFaces(shape, matrix, &corners);
    WalkMass w;
    static_cast<FaceMoments&>(w) = faceMoments(faces);
    for (const std::vector<dgVector>& face : faces) {
        EXPECT_EQ(face.size(), 3u);
        w.triangles++;
        for (const dgVector& p : face) {
            const dgVector d(p - centre);
            w.minRadius = std::min(w.minRadius, std::sqrt(double(d % d)));
            w.maxRadius = std::max(w.maxRadius, std::sqrt(double(d % d)));
        }
        const dgVector n((face[1] - face[0]).cross(face[2] - face[0]));
        w.minOrientation = std::min(w.minOrientation, double(n % (face[0] - centre)));
    }
    EXPECT_EQ(corners, 3 * w.triangles);
    return w;
}

}  // namespace

TEST(Sphere, AngleStepFollowsTheRadius) {
    struct Case {
        float radius;
        float n;
    };
    const Case cases[] = {{0.1f, 128}, {0.4f, 128}, {1.0f, 256}, {2.0f, 512}, {4.0f, 1024}, {10.0f, 1024}};
    for (const Case& c : cases) {
        SphereHolder s = makeSphere(c.radius);
        const dgAngleStep& step = s->getAngleStep();
        EXPECT_EQ(step.m_step, 6.28318f / c.n) << c.radius;
        EXPECT_FLOAT_EQ(step.m_invStep, c.n / 6.28318f);
        EXPECT_FLOAT_EQ(step.m_cos, std::cos(6.28318f / c.n));
        EXPECT_FLOAT_EQ(step.m_sin, std::sin(6.28318f / c.n));
        EXPECT_EQ(s->getRadius(), c.radius);
    }
}

TEST(Sphere, VolumeAndInertiaComeFromThePolygonWalk) {
    for (float r : {0.5f, 1.0f, 3.0f}) {
        SphereHolder s = makeSphere(r);
        const WalkMass w = walk(*s, dgGetIdentityMatrix(), dgVector(0, 0, 0, 1));
        EXPECT_EQ(w.triangles, dgCollisionSphere::kWalkTriangles);
        const double r3 = double(r) * r * r;
        // The 512-triangle walk, not the 32-triangle polyhedron (about 2.94 r^3).
        EXPECT_NEAR(s->getVolume(), w.volume, 1e-5 * r3);
        EXPECT_GT(s->getVolume(), 4.05 * r3);
        EXPECT_LT(s->getVolume(), 4.0 / 3.0 * kPi * r3);
        EXPECT_NEAR(s->getCentreOfMass().w, 2.9428 * r3, 1e-3 * r3);

        dgVector inertia, origin;
        s->calcInertia(inertia, origin);
        const double expected = (w.second[1] + w.second[2]) / w.volume;
        EXPECT_NEAR(inertia.x, expected, 1e-5 * r * r);
        EXPECT_NEAR(inertia.y, (w.second[0] + w.second[2]) / w.volume, 1e-5 * r * r);
        EXPECT_NEAR(inertia.z, (w.second[0] + w.second[1]) / w.volume, 1e-5 * r * r);
        // And within 2 % of the solid sphere's 2/5 r^2.
        EXPECT_NEAR(inertia.x, 0.4 * r * r, 0.02 * 0.4 * r * r);
        EXPECT_NEAR(origin.x, 0.0f, 1e-5f * r);
        EXPECT_NEAR(origin.y, 0.0f, 1e-5f * r);
        EXPECT_NEAR(origin.z, 0.0f, 1e-5f * r);
    }
}

TEST(Sphere, PolygonWalkLiesOnTheSphereOutwardAndPlaced) {
    dgMatrix offset(dgRotationMatrixY(0.3f));
    offset.position = dgVector(0.0f, 1.0f, 0.0f, 1.0f);
    SphereHolder s = makeSphere(2.0f, offset);
    dgMatrix body(dgRotationMatrixX(1.1f));
    body.position = dgVector(5.0f, 6.0f, 7.0f, 1.0f);
    const dgVector centre(offset.multiply(body).position);
    const WalkMass w = walk(*s, body, centre);
    EXPECT_EQ(w.triangles, 512);
    EXPECT_NEAR(w.minRadius, 2.0, 1e-5);
    EXPECT_NEAR(w.maxRadius, 2.0, 1e-5);
    EXPECT_GT(w.minOrientation, 0.0);
}

TEST(Sphere, SupportVertexLiesOnTheAngleGridNearTheAnalyticPoint) {
    for (float r : {0.3f, 1.0f, 5.0f}) {
        SphereHolder s = makeSphere(r);
        const float step = s->getAngleStep().m_step;
        std::mt19937 rng(17);
        for (int32_t n = 0; n < 3000; n++) {
            const dgVector d(randomUnit(rng));
            const dgVector p(s->supportVertex(d));
            EXPECT_NEAR(std::sqrt(p % p), r, 2e-6f * r);
            // Within one grid cell of the exact support point r d.
            const dgVector miss(p - d.scale(r));
            EXPECT_LT(std::sqrt(miss % miss), 1.5f * step * r);
            EXPECT_GE(p % d, r * std::cos(1.5f * step));
            if (std::fabs(d.x) > 0.9998f) {
                continue;
            }
            const double elevation = std::asin(double(p.x) / r) / step;
            EXPECT_NEAR(elevation, std::round(elevation), 1e-3);
            const double azimuth = std::atan2(double(p.y), double(p.z)) / step;
            const double wrapped = azimuth - std::round(azimuth);
            const double turn = (2.0 * kPi / step);
            // atan2 wraps at pi, which the 6.28318 grid does not reach.
            EXPECT_TRUE(std::fabs(wrapped) < 1e-3 ||
                        std::fabs(azimuth + turn - std::round(azimuth + turn)) < 1e-3)
                << azimuth;
        }
    }
}

TEST(Sphere, SupportVertexAtThePoles) {
    SphereHolder s = makeSphere(2.0f);
    const float y = std::sqrt(1.0f - 0.9999f * 0.9999f);
    dgVector p(s->supportVertex(dgVector(0.9999f, y, 0.0f, 0.0f)));
    EXPECT_EQ(p.x, 2.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 0.0f);
    p = s->supportVertex(dgVector(-0.9999f, 0.0f, y, 0.0f));
    EXPECT_EQ(p.x, -2.0f);
    const float y2 = std::sqrt(1.0f - 0.9997f * 0.9997f);
    p = s->supportVertex(dgVector(0.9997f, y2, 0.0f, 0.0f));
    EXPECT_LT(p.x, 2.0f);
    EXPECT_GT(p.y, 0.0f);
    // The zero direction takes the first cell's first corner.
    p = s->supportVertex(dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 2.0f);
}

TEST(Sphere, RayCastsMatchTheQuadratic) {
    const float r = 1.5f;
    SphereHolder s = makeSphere(r);
    s->setUserId(0xFFFFFFFFu);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> u(-4.0f, 4.0f);
    int32_t hits = 0;
    for (int32_t n = 0; n < 5000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        const float t = s->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        double d[3], q[3];
        double a = 0, b = 0, c = -double(r) * r;
        for (int32_t j = 0; j < 3; j++) {
            d[j] = double(p1[j]) - double(p0[j]);
            q[j] = double(p0[j]);
            a += d[j] * d[j];
            b += 2.0 * q[j] * d[j];
            c += q[j] * q[j];
        }
        const double disc = b * b - 4.0 * a * c;
        const double ref = (disc > 0.0) ? (-b - std::sqrt(disc)) / (2.0 * a) : -1.0;
        // Leave out the few segments within rounding of a boundary case:
        // tangent, starting on the surface, ending on it.
        if (std::fabs(disc) < 1e-4 * b * b || std::fabs(c) < 1e-4 || std::fabs(ref - 1.0) < 1e-5) {
            continue;
        }
        if (c < 0.0 || ref < 0.0 || ref > 1.0) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        hits++;
        EXPECT_NEAR(t, ref, 1e-5);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(contact.normal[j], (q[j] + d[j] * ref) / r, 1e-4);
        }
        EXPECT_EQ(contact.userId, int64_t(0xFFFFFFFFu));
    }
    EXPECT_GT(hits, 300);
}

TEST(Sphere, RayCastEdgeCases) {
    SphereHolder s = makeSphere(1.0f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    EXPECT_FLOAT_EQ(
        s->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr), 0.4f);
    EXPECT_FLOAT_EQ(contact.normal.x, -1.0f);
    // Starting inside, tangent, zero length, pointing away.
    EXPECT_EQ(s->rayCast(dgVector(0.2f, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(s->rayCast(dgVector(-5, 1, 0, 1), dgVector(5, 1, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(s->rayCast(dgVector(3, 0, 0, 1), dgVector(3, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(s->rayCast(dgVector(3, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
}

TEST(Sphere, RayEndingOnTheSurfaceHitsAtOneAndShortOfItMisses) {
    SphereHolder s = makeSphere(1.0f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    EXPECT_EQ(s->rayCast(dgVector(-3, 0, 0, 1), dgVector(-1, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              1.0f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    EXPECT_EQ(contact.normal.y, 0.0f);
    EXPECT_EQ(contact.normal.z, 0.0f);

    // Reaching the sphere only beyond p1: a miss, and the contact untouched.
    std::memset(&contact, 0x5a, sizeof(contact));
    const dgContactPoint before(contact);
    EXPECT_EQ(s->rayCast(dgVector(-3, 0, 0, 1), dgVector(-2, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(std::memcmp(&contact, &before, sizeof(contact)), 0);
}

TEST(Sphere, BoundsIgnoreRotation) {
    SphereHolder s = makeSphere(2.5f);
    dgMatrix m(dgRotationMatrixX(0.7f).multiply(dgRotationMatrixY(-1.2f)));
    m.position = dgVector(1.0f, -2.0f, 3.0f, 1.0f);
    dgVector lo, hi;
    s->calcAABB(m, lo, hi);
    EXPECT_EQ(lo.x, -1.5f);
    EXPECT_EQ(lo.y, -4.5f);
    EXPECT_EQ(lo.z, 0.5f);
    EXPECT_EQ(hi.x, 3.5f);
    EXPECT_EQ(hi.y, 0.5f);
    EXPECT_EQ(hi.z, 5.5f);
    EXPECT_EQ(lo.w, 1.0f);
    EXPECT_EQ(hi.w, 1.0f);
}

TEST(Sphere, PlaneIntersectionIsTheProjectedCentre) {
    SphereHolder s = makeSphere(1.0f);
    std::mt19937 rng(31);
    for (int32_t n = 0; n < 100; n++) {
        const dgVector normal(randomUnit(rng));
        const dgVector point(randomUnit(rng).scale(0.5f));
        dgVector out[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(s->calcPlaneIntersection(normal, point, out), 1);
        // On the plane, and on the line through the centre along the normal.
        EXPECT_NEAR((out[0] - point) % normal, 0.0f, 1e-6f);
        const dgVector side(out[0].cross(normal));
        EXPECT_NEAR(side % side, 0.0f, 1e-10f);
    }
}

// The shared unit vertices; the tables' life and structure are the shape
// kinds' suite's.
TEST(Sphere, UnitVerticesScaleByTheRadiusAndHoldTheSixAxisPoints) {
    SphereHolder b = makeSphere(3.0f);
    const dgVector* unit = dgCollisionSphere::dgSphereUnitVertices();
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(b->getVertexCount(), 18);
    int32_t axisPoints = 0;
    for (int32_t i = 0; i < 18; i++) {
        EXPECT_NEAR(unit[i] % unit[i], 1.0f, 1e-6f);
        EXPECT_EQ(b->getVertices()[i].x, unit[i].x * 3.0f);
        axisPoints +=
            (std::fabs(unit[i].x) == 1.0f) + (std::fabs(unit[i].y) == 1.0f) + (std::fabs(unit[i].z) == 1.0f);
    }
    EXPECT_EQ(axisPoints, 6);
}

TEST(PointShape, IsASphereWithoutVolumeOrExtent) {
    dgRefHolder<dgCollisionPoint> point = dgRefHolder<dgCollisionPoint>::adopt(new dgCollisionPoint());
    EXPECT_EQ(point->getRadius(), 1.0f);
    EXPECT_EQ(point->getVolume(), 0.0f);
    dgVector inertia(5, 5, 5, 6), origin(5, 5, 5, 7);
    point->calcInertia(inertia, origin);
    EXPECT_EQ(inertia.x, 0.0f);
    EXPECT_EQ(inertia.y, 0.0f);
    EXPECT_EQ(inertia.z, 0.0f);
    EXPECT_EQ(inertia.w, 6.0f);
    EXPECT_EQ(origin.x, 0.0f);
    EXPECT_EQ(origin.z, 0.0f);
    EXPECT_EQ(origin.w, 7.0f);

    std::mt19937 rng(41);
    for (int32_t n = 0; n < 50; n++) {
        const dgVector p(point->supportVertex(randomUnit(rng)));
        EXPECT_EQ(p.x, 0.0f);
        EXPECT_EQ(p.y, 0.0f);
        EXPECT_EQ(p.z, 0.0f);
    }
    // Everything else is the unit sphere's.
    dgContactPoint contact;
    EXPECT_FLOAT_EQ(
        point->rayCast(dgVector(0, -3, 0, 1), dgVector(0, 3, 0, 1), contact, nullptr, nullptr, nullptr),
        1.0f / 3.0f);
    EXPECT_FLOAT_EQ(contact.normal.y, -1.0f);
    dgVector lo, hi;
    point->calcAABB(translation(1, 1, 1), lo, hi);
    EXPECT_EQ(lo.x, 0.0f);
    EXPECT_EQ(hi.z, 2.0f);
}

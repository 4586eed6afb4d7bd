#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionSphere.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionEllipse> EllipseHolder;
typedef dgRefHolder<dgCollisionSphere> SphereHolder;

// As the world's factory builds it.
EllipseHolder makeEllipse(float rx, float ry, float rz, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float radii[3] = {std::fabs(rx), std::fabs(ry), std::fabs(rz)};
    return EllipseHolder::adopt(
        new dgCollisionEllipse(dgShapeSignature(dgShapeEllipse, radii, 3, offset), rx, ry, rz, offset));
}

SphereHolder makeSphere(float radius) {
    return SphereHolder::adopt(new dgCollisionSphere(
        dgShapeSignature(dgShapeSphere, &radius, 1, dgGetIdentityMatrix()), radius, dgGetIdentityMatrix()));
}

// Points of the ellipsoid surface on a fine latitude/longitude grid.
std::vector<dgVector> sampleSurface(float rx, float ry, float rz) {
    std::vector<dgVector> points;
    const int32_t rings = 150;
    const int32_t segments = 300;
    for (int32_t i = 0; i <= rings; i++) {
        const double b = kPi * (double(i) / rings - 0.5);
        for (int32_t j = 0; j < segments; j++) {
            const double a = 2.0 * kPi * j / segments;
            points.push_back(dgVector(float(rx * std::sin(b)), float(ry * std::cos(b) * std::sin(a)),
                                      float(rz * std::cos(b) * std::cos(a)), 1.0f));
        }
    }
    return points;
}

// Sum of (x_i / r_i)^2: 1 on the surface.
double level(const dgVector& p, float rx, float ry, float rz) {
    const double x = p.x / rx, y = p.y / ry, z = p.z / rz;
    return x * x + y * y + z * z;
}

dgPlane g_fluid;
int32_t fluidPlane(uint32_t, void*, const dgMatrix&, dgPlane& plane) {
    plane = g_fluid;
    return 1;
}

}  // namespace

TEST(Ellipse, IsAUnitSphereFiledAsAnEllipse) {
    const int32_t spheres = dgCollisionSphere::dgSphereLiveCount();
    EllipseHolder e = makeEllipse(1.0f, 2.0f, 3.0f);
    EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), spheres + 1);
    EXPECT_EQ(e->getShapeType(), uint32_t(dgShapeEllipse));
    EXPECT_EQ(e->getRadius(), 1.0f);
    EXPECT_EQ(e->getAngleStep().m_step, 6.28318f / 256.0f);
    // Negative radii describe the same ellipsoid.
    EllipseHolder negative = makeEllipse(-1.0f, 2.0f, -3.0f);
    EXPECT_EQ(negative->getRadii().x, 1.0f);
    EXPECT_EQ(negative->getRadii().z, 3.0f);
    EXPECT_FLOAT_EQ(negative->getInverseRadii().z, 1.0f / 3.0f);
    EXPECT_EQ(negative->getSignature(), e->getSignature());
    EXPECT_NEAR(negative->getVolume(), e->getVolume(), 1e-4f);
}

TEST(Ellipse, SupportVertexIsTheDenseSurfaceExtreme) {
    const float cases[2][3] = {{1.0f, 2.0f, 3.0f}, {0.5f, 3.0f, 1.2f}};
    const float step = 6.28318f / 256.0f;
    std::mt19937 rng(5);
    for (const auto& r : cases) {
        EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
        const std::vector<dgVector> surface = sampleSurface(r[0], r[1], r[2]);
        for (int32_t n = 0; n < 200; n++) {
            const dgVector d(randomUnit(rng));
            const dgVector p(e->supportVertex(d));
            EXPECT_NEAR(level(p, r[0], r[1], r[2]), 1.0, 1e-5);
            EXPECT_EQ(p.w, 1.0f);
            float brute = -1e30f;
            for (const dgVector& q : surface) {
                brute = std::max(brute, q % d);
            }
            // The exact support value is |d * radii|; the grid loses at most
            // a cell's worth of it.
            const dgVector stretched(d.x * r[0], d.y * r[1], d.z * r[2], 0.0f);
            const float exact = std::sqrt(stretched % stretched);
            EXPECT_LE(brute, exact * (1.0f + 1e-5f));
            EXPECT_LE(p % d, exact * (1.0f + 1e-5f));
            EXPECT_GE(p % d, brute - exact * (1.0f - std::cos(1.5f * step)) - 1e-5f);
        }
    }
}

TEST(Ellipse, RoundEllipseUsesTheUnitSphereGrid) {
    // Radius 3 would give a sphere the 768-step grid; the ellipse keeps 256.
    EllipseHolder e = makeEllipse(3.0f, 3.0f, 3.0f);
    SphereHolder unit = makeSphere(1.0f);
    std::mt19937 rng(7);
    for (int32_t n = 0; n < 500; n++) {
        const dgVector d(randomUnit(rng));
        const dgVector p(e->supportVertex(d));
        const dgVector u(unit->supportVertex(d));
        EXPECT_NEAR(p.x, 3.0f * u.x, 1e-5f);
        EXPECT_NEAR(p.y, 3.0f * u.y, 1e-5f);
        EXPECT_NEAR(p.z, 3.0f * u.z, 1e-5f);
    }
    // The zero direction takes the grid's first corner.
    const dgVector p(e->supportVertex(dgVector(0.0f, 0.0f, 0.0f, 0.0f)));
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 3.0f);
}

TEST(Ellipse, RayCastsMatchTheScaledQuadratic) {
    const float r[3] = {1.0f, 2.0f, 0.7f};
    EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
    e->setUserId(0x80000001u);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-4.0f, 4.0f);
    int32_t hits = 0;
    for (int32_t n = 0; n < 5000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        const float t = e->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        double a = 0, b = 0, c = -1.0;
        for (int32_t j = 0; j < 3; j++) {
            const double q = double(p0[j]) / r[j];
            const double d = (double(p1[j]) - double(p0[j])) / r[j];
            a += d * d;
            b += 2.0 * q * d;
            c += q * q;
        }
        const double disc = b * b - 4.0 * a * c;
        const double ref = (disc > 0.0) ? (-b - std::sqrt(disc)) / (2.0 * a) : -1.0;
        if (std::fabs(disc) < 1e-4 * b * b || std::fabs(c) < 1e-4 || std::fabs(ref - 1.0) < 1e-5) {
            continue;
        }
        if (c < 0.0 || ref < 0.0 || ref > 1.0) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        hits++;
        ASSERT_NEAR(t, ref, 1e-5);
        // The ellipsoid's own normal: the gradient of sum (x_i / r_i)^2.
        double g[3], g2 = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            const double hit = double(p0[j]) + (double(p1[j]) - double(p0[j])) * ref;
            g[j] = hit / (double(r[j]) * r[j]);
            g2 += g[j] * g[j];
        }
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(contact.normal[j], g[j] / std::sqrt(g2), 1e-4);
        }
        EXPECT_EQ(contact.userId, int64_t(0x80000001u));
    }
    EXPECT_GT(hits, 300);
}

TEST(Ellipse, RayCastEdgeCases) {
    EllipseHolder e = makeEllipse(2.0f, 1.0f, 0.5f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    // Along the long axis, and across the thin one.
    EXPECT_FLOAT_EQ(
        e->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr), 0.3f);
    EXPECT_FLOAT_EQ(contact.normal.x, -1.0f);
    EXPECT_FLOAT_EQ(
        e->rayCast(dgVector(0, 0, 3, 1), dgVector(0, 0, -3, 1), contact, nullptr, nullptr, nullptr),
        2.5f / 6.0f);
    EXPECT_FLOAT_EQ(contact.normal.z, 1.0f);
    // Oblique hit off the axes: the normal is the ellipsoid's, not the
    // stretched sphere's radial direction.
    const float y = std::sqrt(0.75f);
    EXPECT_NEAR(e->rayCast(dgVector(1, 5, 0, 1), dgVector(1, -5, 0, 1), contact, nullptr, nullptr, nullptr),
                (5.0f - y) / 10.0f, 1e-6f);
    const float nx = 1.0f / 4.0f, ny = y;
    EXPECT_NEAR(contact.normal.x, nx / std::sqrt(nx * nx + ny * ny), 1e-5f);
    EXPECT_NEAR(contact.normal.y, ny / std::sqrt(nx * nx + ny * ny), 1e-5f);
    // Ending exactly on the surface hits at 1.
    EXPECT_EQ(e->rayCast(dgVector(0, 4, 0, 1), dgVector(0, 1, 0, 1), contact, nullptr, nullptr, nullptr),
              1.0f);
    EXPECT_EQ(contact.normal.y, 1.0f);
    // Inside, grazing the long end, parallel to an axis outside, stopping short.
    EXPECT_EQ(e->rayCast(dgVector(1.5f, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(e->rayCast(dgVector(2, -3, 0, 1), dgVector(2, 3, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(
        e->rayCast(dgVector(-5, 0, 0.6f, 1), dgVector(5, 0, 0.6f, 1), contact, nullptr, nullptr, nullptr),
        dgCollision::kRayMiss);
    EXPECT_EQ(e->rayCast(dgVector(-5, 0, 0, 1), dgVector(-2.5f, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
}

TEST(Ellipse, BoundsUnderRotatedMatrices) {
    const float r[3] = {1.0f, 2.0f, 3.0f};
    EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
    dgVector lo, hi;
    e->calcAABB(dgGetIdentityMatrix(), lo, hi);
    for (int32_t j = 0; j < 3; j++) {
        EXPECT_NEAR(lo[j], -r[j], 1e-4f * r[j]);
        EXPECT_NEAR(hi[j], r[j], 1e-4f * r[j]);
    }
    const dgMatrix m(turnedAndMoved());
    e->calcAABB(m, lo, hi);
    const std::vector<dgVector> surface = sampleSurface(r[0], r[1], r[2]);
    dgVector tightLo, tightHi;
    placedBounds(m, surface, tightLo, tightHi);
    for (int32_t j = 0; j < 3; j++) {
        // It holds the ellipsoid, and no more than the box around the rotated
        // box of the radii.
        EXPECT_LE(lo[j], tightLo[j] + 1e-5f);
        EXPECT_GE(hi[j], tightHi[j] - 1e-5f);
        const float boxExtent =
            std::fabs(m[0][j]) * r[0] + std::fabs(m[1][j]) * r[1] + std::fabs(m[2][j]) * r[2];
        EXPECT_GE(lo[j], m.position[j] - boxExtent - 1e-5f);
        EXPECT_LE(hi[j], m.position[j] + boxExtent + 1e-5f);
    }
}

TEST(Ellipse, MassPropertiesAreTheStretchedSphereWalk) {
    // The walk is the unit sphere's stretched linearly, so its volume and
    // second moments follow the unit walk's exactly; that walk is itself a
    // few percent inside the true sphere, which bounds the closed forms.
    SphereHolder unit = makeSphere(1.0f);
    const float unitVolume = unit->getVolume();
    dgVector unitInertia, unitOrigin;
    unit->calcInertia(unitInertia, unitOrigin);
    const float r[3] = {1.0f, 2.0f, 3.0f};
    EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
    const float volume = e->getVolume();
    EXPECT_NEAR(volume, unitVolume * 6.0f, 1e-4f * volume);
    EXPECT_NEAR(volume, 4.0 / 3.0 * kPi * 6.0, 0.035 * volume);
    dgVector inertia, origin;
    e->calcInertia(inertia, origin);
    // Per unit mass the unit walk has the same second moment s = I / 2 about
    // every axis; stretched, I_x = (ry^2 + rz^2) s.
    const float s = unitInertia.x * 0.5f;
    EXPECT_NEAR(inertia.x, (r[1] * r[1] + r[2] * r[2]) * s, 1e-4f * inertia.x);
    EXPECT_NEAR(inertia.y, (r[0] * r[0] + r[2] * r[2]) * s, 1e-4f * inertia.y);
    EXPECT_NEAR(inertia.z, (r[0] * r[0] + r[1] * r[1]) * s, 1e-4f * inertia.z);
    EXPECT_NEAR(inertia.x, (4.0 + 9.0) / 5.0, 0.02 * inertia.x);
    EXPECT_NEAR(inertia.z, (1.0 + 4.0) / 5.0, 0.02 * inertia.z);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-5f);

    // With an offset the centroid moves with it and the inertia about it
    // turns with the offset's rotation.
    dgMatrix offset(dgRotationMatrixZ(0.5f * float(kPi)));
    offset.position = dgVector(2.0f, -1.0f, 0.5f, 1.0f);
    EllipseHolder moved = makeEllipse(r[0], r[1], r[2], offset);
    dgVector movedInertia, movedOrigin;
    moved->calcInertia(movedInertia, movedOrigin);
    EXPECT_NEAR(movedOrigin.x, 2.0f, 1e-4f);
    EXPECT_NEAR(movedOrigin.y, -1.0f, 1e-4f);
    EXPECT_NEAR(movedOrigin.z, 0.5f, 1e-4f);
    EXPECT_NEAR(movedInertia.x, inertia.y, 2e-3f);
    EXPECT_NEAR(movedInertia.y, inertia.x, 2e-3f);
    EXPECT_NEAR(movedInertia.z, inertia.z, 2e-3f);
}

TEST(Ellipse, PolygonWalkLiesOnTheEllipsoidAndLeavesTheOffsetAlone) {
    dgMatrix offset(dgRotationMatrixY(0.3f));
    offset.position = dgVector(0.0f, 1.0f, 0.0f, 1.0f);
    EllipseHolder e = makeEllipse(0.5f, 2.0f, 1.5f, offset);
    dgMatrix before;
    std::memcpy(&before, &e->getOffsetMatrix(), sizeof(before));
    dgMatrix placement(dgRotationMatrixX(1.1f));
    placement.position = dgVector(5.0f, 6.0f, 7.0f, 1.0f);
    // Every triangle on the level set 1 and facing away from the centre.
    const dgMatrix frame(offset.multiply(placement));
    const dgVector radii(e->getRadii());
    int32_t corners = 0;
    const WalkedFaces faces = walkFaces(*e, placement, &corners);
    EXPECT_EQ(faces.size(), size_t(dgCollisionSphere::kWalkTriangles));
    EXPECT_EQ(corners, 3 * int32_t(faces.size()));
    for (const std::vector<dgVector>& face : faces) {
        ASSERT_EQ(face.size(), 3u);
        dgVector local[3];
        for (int32_t i = 0; i < 3; i++) {
            local[i] = frame.inverseTransformVector(face[size_t(i)]);
            EXPECT_LT(std::fabs(level(local[i], radii.x, radii.y, radii.z) - 1.0), 1e-5);
        }
        EXPECT_GT((local[1] - local[0]).cross(local[2] - local[0]) % local[0], 0.0f);
    }
    EXPECT_EQ(std::memcmp(&before, &e->getOffsetMatrix(), sizeof(before)), 0);
}

TEST(Ellipse, PlaneSectionCentre) {
    const float r[3] = {1.0f, 2.0f, 3.0f};
    EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
    std::mt19937 rng(13);
    for (int32_t n = 0; n < 200; n++) {
        const dgVector normal(randomUnit(rng));
        const dgVector point(randomUnit(rng).scale(0.8f));
        dgVector out[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(e->calcPlaneIntersection(normal, point, out), 1);
        const dgVector c(out[0]);
        EXPECT_EQ(c.w, 1.0f);
        // On the plane, and where sum (x_i / r_i)^2 is least over the plane
        // (the centre of its level ellipses there): the gradient is along
        // the normal.
        EXPECT_NEAR((c - point) % normal, 0.0f, 1e-5f);
        const dgVector g(c.x / (r[0] * r[0]), c.y / (r[1] * r[1]), c.z / (r[2] * r[2]), 0.0f);
        const dgVector side(g.cross(normal));
        EXPECT_NEAR(std::sqrt(side % side), 0.0f, 1e-5f);
    }
    dgVector out[dgPlaneIntersectionMaxPoints];
    ASSERT_EQ(e->calcPlaneIntersection(dgVector(0.6f, 0.0f, 0.8f, 0.0f), dgVector(0, 3, 0, 1), out), 1);
    EXPECT_EQ(out[0].x, 0.0f);
    EXPECT_EQ(out[0].y, 0.0f);
    EXPECT_EQ(out[0].z, 0.0f);
}

TEST(Ellipse, SubmergedVolumeOfTheStretchedPolyhedron) {
    const float r[3] = {1.0f, 2.0f, 3.0f};
    EllipseHolder e = makeEllipse(r[0], r[1], r[2]);
    // Volume of the stretched coarse polyhedron, by tetrahedra from the
    // centre over its faces.
    const dgVector* unit = e->getVertices();
    const dgConvexEdge* edges = e->getEdges();
    std::vector<bool> seen(size_t(e->getEdgeCount()), false);
    double polyhedron = 0.0;
    for (int32_t i = 0; i < e->getEdgeCount(); i++) {
        if (seen[size_t(i)]) {
            continue;
        }
        std::vector<dgVector> face;
        const dgConvexEdge* edge = &edges[i];
        do {
            seen[size_t(edge - edges)] = true;
            const dgVector& u = unit[edge->m_vertex];
            face.push_back(dgVector(u.x * r[0], u.y * r[1], u.z * r[2], 1.0f));
            edge = edge->m_next;
        } while (edge != &edges[i]);
        for (size_t k = 1; k + 1 < face.size(); k++) {
            polyhedron += double(face[0] % face[k].cross(face[k + 1])) / 6.0;
        }
    }

    const dgMatrix m(turnedAndMoved());
    const dgVector whole(e->calcSubmergedVolume(m, nullptr, nullptr));
    EXPECT_NEAR(whole.w, polyhedron, 1e-4 * polyhedron);
    EXPECT_NEAR(whole.x, m.position.x, 1e-4f);
    EXPECT_NEAR(whole.y, m.position.y, 1e-4f);
    EXPECT_NEAR(whole.z, m.position.z, 1e-4f);

    // The shape's y = 0 plane halves it by symmetry; its lower half's
    // centroid lies on the shape's -y axis.
    g_fluid = dgPlane(m.up, -(m.up % m.position));
    const dgVector half(e->calcSubmergedVolume(m, fluidPlane, nullptr));
    EXPECT_NEAR(half.w, 0.5 * polyhedron, 1e-4 * polyhedron);
    const dgVector local(m.inverseTransformVector(half));
    EXPECT_NEAR(local.x, 0.0f, 1e-4f);
    EXPECT_LT(local.y, -0.25f * r[1]);
    EXPECT_NEAR(local.z, 0.0f, 1e-4f);

    // A tilted plane and its reverse split the volume and its moment.
    std::mt19937 rng(17);
    for (int32_t n = 0; n < 20; n++) {
        const dgVector normal(randomUnit(rng));
        const float d = std::uniform_real_distribution<float>(-1.5f, 1.5f)(rng) - (normal % m.position);
        g_fluid = dgPlane(normal, d);
        const dgVector below(e->calcSubmergedVolume(m, fluidPlane, nullptr));
        g_fluid = dgPlane(normal.scale(-1.0f), -d);
        const dgVector above(e->calcSubmergedVolume(m, fluidPlane, nullptr));
        EXPECT_NEAR(below.w + above.w, polyhedron, 1e-3 * polyhedron);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(below[j] * below.w + above[j] * above.w, m.position[j] * polyhedron,
                        2e-3 * polyhedron * (1.0 + std::fabs(m.position[j])));
        }
    }
}

// Ellipses and spheres share the sphere's tables: the last of either kind
// takes them (the tables' life per kind is the shape kinds' suite's).
TEST(Ellipse, SphereTablesGoWithTheLastShapeOfEitherKind) {
    ASSERT_EQ(dgCollisionSphere::dgSphereLiveCount(), 0);
    {
        EllipseHolder a = makeEllipse(1.0f, 2.0f, 3.0f);
        {
            SphereHolder s = makeSphere(2.0f);
            EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 2);
        }
        EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 1);
        EXPECT_EQ(a->getEdges(), dgCollisionSphere::dgSphereEdgeTable());
    }
    EXPECT_EQ(dgCollisionSphere::dgSphereLiveCount(), 0);
    EXPECT_EQ(dgCollisionSphere::dgSphereEdgeTable(), nullptr);
}

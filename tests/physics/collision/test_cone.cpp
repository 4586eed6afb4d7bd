#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionCone.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionCone> ConeHolder;

// As the world's factory builds it.
ConeHolder makeCone(float radius, float height, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[2] = {std::fabs(radius), std::fabs(height) * 0.5f};
    return ConeHolder::adopt(
        new dgCollisionCone(dgShapeSignature(dgShapeCone, dims, 2, offset), radius, height, offset));
}

// Points of the cone's surface: the side from the rim to the apex and the
// base disc, on fine grids.
std::vector<dgVector> sampleSurface(float r, float h) {
    std::vector<dgVector> points;
    const int32_t segments = 360;
    for (int32_t j = 0; j < segments; j++) {
        const double a = 2.0 * kPi * j / segments;
        const double c = std::cos(a), s = std::sin(a);
        for (int32_t i = 0; i <= 100; i++) {
            const double f = i / 100.0;
            points.push_back(
                dgVector(float(-h + 2.0 * h * f), float(r * (1.0 - f) * c), float(r * (1.0 - f) * s), 1.0f));
        }
        for (int32_t i = 1; i < 20; i++) {
            const double rho = r * i / 20.0;
            points.push_back(dgVector(-h, float(rho * c), float(rho * s), 1.0f));
        }
    }
    return points;
}

// First entry of the segment p0 + t d (t in [0, 1]) into the solid cone
// {base <= x <= apex, |(y, z)| <= slope (apex - x)}, in double: the nearer
// root of the side's quadratic (the stable pair) or the base plane, whichever
// lies inside the other bound; -1 for none, -2 for a start inside. The
// normal is written for an entry when asked for. Moving the apex and base
// and changing the slope gives cones nested in or around a shape.
double solidConeEntry(const double* p0, const double* d, double apex, double base, double slope,
                      double* normal = nullptr) {
    const double k = slope;
    if ((p0[0] >= base) && (p0[0] <= apex) && (std::hypot(p0[1], p0[2]) <= k * (apex - p0[0]))) {
        return -2.0;
    }
    double best = 2.0;
    double n[3] = {0.0, 0.0, 0.0};
    const double u = apex - p0[0];
    const double a = d[1] * d[1] + d[2] * d[2] - k * k * d[0] * d[0];
    const double b = 2.0 * (p0[1] * d[1] + p0[2] * d[2] + k * k * u * d[0]);
    const double c = p0[1] * p0[1] + p0[2] * p0[2] - k * k * u * u;
    const double disc = b * b - 4.0 * a * c;
    if ((disc >= 0.0) && (a != 0.0)) {
        const double q = -0.5 * (b + std::copysign(std::sqrt(disc), b));
        for (double t : {q / a, (q != 0.0) ? c / q : 2.0}) {
            const double x = p0[0] + d[0] * t;
            if ((t >= 0.0) && (t < best) && (x >= base) && (x <= apex)) {
                best = t;
                const double y = p0[1] + d[1] * t, z = p0[2] + d[2] * t;
                const double rho = std::hypot(y, z);
                n[0] = k, n[1] = y / rho, n[2] = z / rho;
            }
        }
    }
    if (d[0] != 0.0) {
        const double t = (base - p0[0]) / d[0];
        const double rim = k * (apex - base);
        if ((t >= 0.0) && (t < best) && (std::hypot(p0[1] + d[1] * t, p0[2] + d[2] * t) <= rim)) {
            best = t;
            n[0] = -1.0, n[1] = 0.0, n[2] = 0.0;
        }
    }
    if (normal && (best <= 1.0)) {
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int32_t j = 0; j < 3; j++) {
            normal[j] = n[j] / length;
        }
    }
    return (best <= 1.0) ? best : -1.0;
}

// The same for the cone of radius r and half height h about the origin.
double coneEntry(const double* p0, const double* d, double r, double h, double* normal) {
    return solidConeEntry(p0, d, h, -h, r / (2.0 * h), normal);
}

}  // namespace

TEST(Cone, DimensionsAndCoarsePyramid) {
    ConeHolder cone = makeCone(-1.5f, -4.0f);
    EXPECT_EQ(cone->getRadius(), 1.5f);
    EXPECT_EQ(cone->getHalfHeight(), 2.0f);
    EXPECT_FLOAT_EQ(cone->getSinHalfAngle(), 1.5f / std::sqrt(1.5f * 1.5f + 16.0f));
    EXPECT_EQ(cone->getAngleStep().m_step, 6.28318f / 384.0f);
    EXPECT_FLOAT_EQ(makeCone(1.0f, 2.0f)->getSinHalfAngle(), 1.0f / std::sqrt(5.0f));
    EXPECT_EQ(makeCone(1.0f, 0.0f)->getSinHalfAngle(), 1.0f);
    EXPECT_EQ(makeCone(0.0f, 2.0f)->getSinHalfAngle(), 0.0f);
    EXPECT_EQ(makeCone(0.0f, 0.0f)->getSinHalfAngle(), 0.0f);

    ASSERT_EQ(cone->getVertexCount(), 9);
    ASSERT_EQ(cone->getEdgeCount(), 32);
    const dgVector* v = cone->getVertices();
    for (int32_t k = 0; k < 8; k++) {
        EXPECT_EQ(v[k].x, -2.0f);
        EXPECT_NEAR(std::sqrt(v[k].y * v[k].y + v[k].z * v[k].z), 1.5f, 1e-6f);
        EXPECT_NEAR(std::atan2(v[k].z, v[k].y), std::remainder(k * kPi / 4.0, 2.0 * kPi), 1e-5);
    }
    EXPECT_EQ(v[8].x, 2.0f);
    // A closed table of 8 triangles around the apex and one octagon.
    const dgConvexEdge* e = cone->getEdges();
    int32_t triangles = 0, octagons = 0;
    for (int32_t i = 0; i < 32; i++) {
        EXPECT_EQ(e[i].m_twin->m_twin, &e[i]);
        EXPECT_EQ(e[i].m_next->m_prev, &e[i]);
        EXPECT_EQ(e[i].m_next->m_vertex, e[i].m_twin->m_vertex);
        int32_t n = 0;
        const dgConvexEdge* f = &e[i];
        do {
            n++;
            f = f->m_next;
        } while (f != &e[i]);
        triangles += (n == 3);
        octagons += (n == 8);
    }
    EXPECT_EQ(triangles, 8 * 3);
    EXPECT_EQ(octagons, 8);
    // The coarse pyramid's volume: a third of the octagon times the height.
    EXPECT_NEAR(cone->getCentreOfMass().w, 2.0 * 1.5 * 1.5 * std::sqrt(2.0) * 4.0 / 3.0, 1e-4);
    EXPECT_NEAR(cone->getCentreOfMass().x, -1.0f, 1e-5f);
}

TEST(Cone, SupportVertexEdgeCases) {
    ConeHolder cone = makeCone(1.0f, 2.0f);
    dgVector p(cone->supportVertex(dgVector(0.5f, 0.866f, 0.0f, 0.0f)));
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 0.0f);
    EXPECT_EQ(p.w, 1.0f);
    p = cone->supportVertex(dgVector(0.4f, 0.9165f, 0.0f, 0.0f));
    EXPECT_EQ(p.x, -1.0f);
    EXPECT_NEAR(p.y, 1.0f, 1e-4f);
    // On the axis and not toward the apex: the rim point at azimuth 0, the
    // next grid point does not win the tie.
    p = cone->supportVertex(dgVector(-1.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.x, -1.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 1.0f);
    p = cone->supportVertex(dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.z, 1.0f);
}

TEST(Cone, SupportVertexIsTheDenseSurfaceExtreme) {
    const float cases[2][2] = {{1.0f, 2.0f}, {0.4f, 3.0f}};
    std::mt19937 rng(3);
    for (const auto& c : cases) {
        const float r = c[0], h = 0.5f * c[1];
        ConeHolder cone = makeCone(r, c[1]);
        const float step = cone->getAngleStep().m_step;
        const std::vector<dgVector> surface = sampleSurface(r, h);
        for (int32_t n = 0; n < 200; n++) {
            const dgVector d(randomUnit(rng));
            const dgVector p(cone->supportVertex(d));
            const bool apex = (p.x == h && p.y == 0.0f && p.z == 0.0f);
            if (!apex) {
                EXPECT_EQ(p.x, -h);
                EXPECT_NEAR(std::sqrt(p.y * p.y + p.z * p.z), r, 1e-5f * r);
            }
            float brute = -1e30f;
            for (const dgVector& q : surface) {
                brute = std::max(brute, q % d);
            }
            const float radial = std::sqrt(d.y * d.y + d.z * d.z);
            const float exact = std::max(h * d.x, -h * d.x + r * radial);
            EXPECT_LE(brute, exact + 1e-5f);
            EXPECT_LE(p % d, exact + 1e-5f);
            EXPECT_GE(p % d, brute - r * radial * (1.0f - std::cos(step)) - 1e-5f);
        }
    }
}

TEST(Cone, MassPropertiesOfTheWalkedPyramid) {
    // The walk is the pyramid over a regular 24-gon inscribed in the base:
    // exact closed forms for it, and the true cone's within the 24-gon's
    // 1.1 % area deficit.
    const double r = 1.2, height = 3.0, h = 0.5 * height;
    ConeHolder cone = makeCone(float(r), float(height));
    const WalkedFaces faces = walkFaces(*cone, dgGetIdentityMatrix());
    ASSERT_EQ(faces.size(), 25u);
    size_t triangles = 0, largest = 0;
    for (const std::vector<dgVector>& face : faces) {
        triangles += (face.size() == 3);
        largest = std::max(largest, face.size());
    }
    EXPECT_EQ(triangles, 24u);
    EXPECT_EQ(largest, 24u);
    const FaceMoments w = faceMoments(faces);

    const int32_t n = dgCollisionCone::kWalkSegments;
    const double area = 0.5 * n * r * r * std::sin(2.0 * kPi / n);
    // Second moment of the 24-gon about its centre, per unit area.
    const double polar = r * r * (2.0 + std::cos(2.0 * kPi / n)) / 6.0;
    const double volume = area * height / 3.0;
    EXPECT_NEAR(w.volume, volume, 1e-5 * volume);
    EXPECT_NEAR(cone->getVolume(), volume, 1e-4 * volume);
    EXPECT_NEAR(volume, kPi * r * r * height / 3.0, 0.012 * volume);

    dgVector inertia, origin;
    cone->calcInertia(inertia, origin);
    // The centroid lies a quarter of the height above the base.
    EXPECT_NEAR(origin.x, -h + height / 4.0, 1e-4);
    EXPECT_NEAR(origin.y, 0.0, 1e-5);
    EXPECT_NEAR(origin.z, 0.0, 1e-5);
    const double axial = 0.6 * polar;
    const double across = 0.3 * polar + 3.0 / 80.0 * height * height;
    EXPECT_NEAR(inertia.x, axial, 1e-4 * axial);
    EXPECT_NEAR(inertia.y, across, 1e-4 * across);
    EXPECT_NEAR(inertia.z, across, 1e-4 * across);
    EXPECT_NEAR(inertia.x, 0.3 * r * r, 0.012 * axial);
    EXPECT_NEAR(inertia.y, 0.15 * r * r + 3.0 / 80.0 * height * height, 0.012 * across);

    // With an offset the centroid is carried along and the axes turn.
    dgMatrix offset(dgRotationMatrixY(0.5f * float(kPi)));
    offset.position = dgVector(0.0f, 2.0f, -1.0f, 1.0f);
    ConeHolder moved = makeCone(float(r), float(height), offset);
    dgVector movedInertia, movedOrigin;
    moved->calcInertia(movedInertia, movedOrigin);
    const dgVector expected(offset.transformVector(dgVector(float(-h + height / 4.0), 0.0f, 0.0f, 1.0f)));
    EXPECT_NEAR(movedOrigin.x, expected.x, 1e-4f);
    EXPECT_NEAR(movedOrigin.y, expected.y, 1e-4f);
    EXPECT_NEAR(movedOrigin.z, expected.z, 1e-4f);
    EXPECT_NEAR(movedInertia.x, across, 1e-3 * across);
    EXPECT_NEAR(movedInertia.y, across, 1e-3 * across);
    EXPECT_NEAR(movedInertia.z, axial, 1e-3 * axial);
}

TEST(Cone, RayCastsMatchTheAnalyticCone) {
    // The support function describes the cone with its rim tessellated at
    // the angle step, inscribed in the true one: hits agree within that
    // polygon's depth, misses of the true cone are misses.
    const double r = 1.0, h = 1.0;
    ConeHolder cone = makeCone(float(r), float(2.0 * h));
    cone->setUserId(7u);
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    int32_t hits = 0, misses = 0;
    for (int32_t n = 0; n < 3000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        const double q0[3] = {p0.x, p0.y, p0.z};
        const double d[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
        double normal[3], outerNormal[3], innerNormal[3];
        const double ref = coneEntry(q0, d, r, h, normal);
        // The same cone grown and shrunk by a margin decides which segments
        // are clear hits or clear misses.
        const double outer = coneEntry(q0, d, r + 0.01, h + 0.01, outerNormal);
        const double inner = coneEntry(q0, d, r - 0.01, h - 0.01, innerNormal);
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        const float t = cone->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        if (inner == -2.0 || outer == -1.0) {
            // Starting well inside, or clear of the cone.
            EXPECT_EQ(t, dgCollision::kRayMiss);
            misses++;
            continue;
        }
        if (outer == -2.0 || ref < 0.0 || inner < 0.0) {
            // Starting near the surface, or a grazing segment.
            continue;
        }
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double incidence = -(normal[0] * d[0] + normal[1] * d[1] + normal[2] * d[2]) / length;
        const double x = q0[0] + d[0] * ref;
        const double rho = std::hypot(q0[1] + d[1] * ref, q0[2] + d[2] * ref);
        const bool nearEdge = (x < -h + 0.02 && rho > r - 0.02) || (x > h - 0.05);
        if (incidence < 0.2 || ref > 0.999 || nearEdge) {
            continue;
        }
        hits++;
        ASSERT_LE(t, 1.0f);
        EXPECT_NEAR(t * length, ref * length, 1e-3);
        double dot = 0.0, len2 = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            dot += contact.normal[j] * normal[j];
            len2 += double(contact.normal[j]) * contact.normal[j];
        }
        EXPECT_NEAR(len2, 1.0, 1e-5);
        EXPECT_GT(dot, std::cos(cone->getAngleStep().m_step));
        EXPECT_EQ(contact.userId, 7);
    }
    EXPECT_GT(hits, 200);
    EXPECT_GT(misses, 500);
}

// Rays through points near the apex of cones of 0.2 to 30 units, each cast
// both ways, against the closed form in double: a start inside a cone nested
// in the shape misses, a segment clear of a cone around it misses, one that
// enters the nested cone hits between the two entries. The nested cone
// allows for the rim's tessellation and both for 1e-3 of the size.
TEST(Cone, RaysNearTheApexMatchTheClosedFormBothWays) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    auto direction = [&](double* v) {
        double length = 0.0;
        while (length < 1e-6) {
            v[0] = g(rng), v[1] = g(rng), v[2] = g(rng);
            length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        }
        v[0] /= length, v[1] /= length, v[2] /= length;
    };
    int32_t hits = 0, wrong = 0;
    for (int32_t shape = 0; shape < 100; shape++) {
        const float r = float(0.2 * std::exp(unit(rng) * std::log(150.0)));
        const float height = float(0.2 * std::exp(unit(rng) * std::log(150.0)));
        ConeHolder cone = makeCone(r, height);
        const double h = cone->getHalfHeight();
        const double size = std::max(double(r), h);
        const double e = 1e-3 * size;
        const double slope = r / (2.0 * h);
        const double innerSlope = slope * std::cos(cone->getAngleStep().m_step) * (1.0 - 1e-3);
        for (int32_t i = 0; i < 100; i++) {
            double off[3], dir[3];
            direction(off);
            direction(dir);
            const double radius = 0.2 * size * unit(rng);
            const double reach[2] = {size * (0.5 + 2.5 * unit(rng)), -size * (0.5 + 2.5 * unit(rng))};
            float ends[2][3];
            for (int32_t k = 0; k < 2; k++) {
                ends[k][0] = float(h + off[0] * radius + dir[0] * reach[k]);
                ends[k][1] = float(off[1] * radius + dir[1] * reach[k]);
                ends[k][2] = float(off[2] * radius + dir[2] * reach[k]);
            }
            for (int32_t way = 0; way < 2; way++) {
                const float* from = ends[way];
                const float* to = ends[1 - way];
                const double p0[3] = {from[0], from[1], from[2]};
                const double d[3] = {double(to[0]) - from[0], double(to[1]) - from[1], double(to[2]) - from[2]};
                const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                const double outer = solidConeEntry(p0, d, h + e, -h - e, slope * (1.0 + 1e-3));
                const double inner = solidConeEntry(p0, d, h - e, -h + e, innerSlope);
                dgContactPoint contact;
                const float t = cone->rayCast(dgVector(from[0], from[1], from[2], 1.0f),
                                              dgVector(to[0], to[1], to[2], 1.0f), contact, nullptr, nullptr, nullptr);
                bool right = true;
                if ((inner == -2.0) || (outer == -1.0)) {
                    right = (t > 1.0f);
                } else if ((outer >= 0.0) && (inner >= 0.0)) {
                    const double slack = 1e-5 + e / length;
                    right = (t >= outer - slack) && (t <= inner + slack);
                    hits += right;
                }
                if (!right && (++wrong <= 5)) {
                    ADD_FAILURE() << "cone " << r << " x " << height << ": (" << from[0] << ", " << from[1] << ", "
                                  << from[2] << ") -> (" << to[0] << ", " << to[1] << ", " << to[2] << ") t " << t
                                  << ", entries " << outer << " .. " << inner;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "of 20000 rays";
    EXPECT_GT(hits, 5000);
}

TEST(Cone, RayCastsThroughTheBaseTheSideAndFromInside) {
    ConeHolder cone = makeCone(1.0f, 2.0f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    // Along the axis into the base.
    EXPECT_NEAR(
        cone->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr), 0.4f,
        1e-5f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1e-5f);
    // Parallel to the axis within the base radius, and outside it.
    EXPECT_NEAR(
        cone->rayCast(dgVector(-5, 0.5f, 0, 1), dgVector(5, 0.5f, 0, 1), contact, nullptr, nullptr, nullptr),
        0.4f, 1e-5f);
    EXPECT_NEAR(contact.normal.x, -1.0f, 1e-5f);
    EXPECT_EQ(
        cone->rayCast(dgVector(-5, 1.2f, 0, 1), dgVector(5, 1.2f, 0, 1), contact, nullptr, nullptr, nullptr),
        dgCollision::kRayMiss);
    // Across the axis through the side, where the cone's radius is 1/2.
    const float t =
        cone->rayCast(dgVector(0, 5, 0, 1), dgVector(0, -5, 0, 1), contact, nullptr, nullptr, nullptr);
    EXPECT_NEAR(t, 0.45f, 1e-4f);
    // The hit lies on the line between two facets of the tessellated side,
    // whose normals are half a step off the true one either way.
    const float s = 1.0f / std::sqrt(5.0f);
    const float halfStep = 0.5f * cone->getAngleStep().m_step;
    EXPECT_NEAR(contact.normal.x, s, 1e-3f);
    EXPECT_NEAR(contact.normal.y, 2.0f * s, 1e-3f);
    EXPECT_NEAR(std::fabs(contact.normal.z), 2.0f * s * std::sin(halfStep), 1e-3f);
    // Grazing the side line from the rim to the apex, just outside it.
    EXPECT_EQ(cone->rayCast(dgVector(-1, 1.01f, 0, 1), dgVector(1, 0.01f, 0, 1), contact, nullptr, nullptr,
                            nullptr),
              dgCollision::kRayMiss);
    // Starting inside, and stopping short of the base.
    EXPECT_EQ(
        cone->rayCast(dgVector(-0.5f, 0, 0, 1), dgVector(5, 5, 0, 1), contact, nullptr, nullptr, nullptr),
        dgCollision::kRayMiss);
    EXPECT_EQ(
        cone->rayCast(dgVector(-5, 0, 0, 1), dgVector(-1.5f, 0, 0, 1), contact, nullptr, nullptr, nullptr),
        dgCollision::kRayMiss);
}

TEST(Cone, BoundsUnderRotatedMatrices) {
    const float r = 0.8f, h = 1.5f;
    ConeHolder cone = makeCone(r, 2.0f * h);
    const std::vector<dgVector> surface = sampleSurface(r, h);
    const dgMatrix matrices[2] = {dgGetIdentityMatrix(), turnedAndMoved()};
    for (const dgMatrix& m : matrices) {
        dgVector lo, hi;
        cone->calcAABB(m, lo, hi);
        dgVector tightLo, tightHi;
        placedBounds(m, surface, tightLo, tightHi);
        // The grid rim reaches the base circle's extremes within 1e-4.
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_LE(lo[j], tightLo[j] + 1e-4f);
            EXPECT_GE(hi[j], tightHi[j] - 1e-4f);
            // No more than the box around the rotated local box.
            const float extent = std::fabs(m[0][j]) * h + (std::fabs(m[1][j]) + std::fabs(m[2][j])) * r;
            EXPECT_GE(lo[j], m.position[j] - extent - 1e-5f);
            EXPECT_LE(hi[j], m.position[j] + extent + 1e-5f);
        }
    }
}

TEST(Cone, PlaneContourOfTheCoarsePyramid) {
    ConeHolder cone = makeCone(1.0f, 2.0f);
    dgVector out[dgPlaneIntersectionMaxPoints];
    // Across the axis: the octagon as it is, cut at half the radius.
    int32_t count = cone->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0, 0, 0, 1), out);
    ASSERT_EQ(count, 8);
    for (int32_t i = 0; i < count; i++) {
        EXPECT_NEAR(out[i].x, 0.0f, 1e-6f);
        const double azimuth = std::atan2(out[i].z, out[i].y) / (kPi / 4.0);
        EXPECT_NEAR(azimuth, std::round(azimuth), 1e-4);
        // Midpoints of the edges from the rim to the apex.
        EXPECT_NEAR(std::hypot(out[i].y, out[i].z), 0.5f, 1e-5f);
    }
    // Any tilted plane: points on the plane and in the cone; turning the
    // plane about the axis turns the contour with it.
    std::mt19937 rng(29);
    int32_t cut = 0;
    for (int32_t n = 0; n < 200; n++) {
        dgVector normal(randomUnit(rng));
        if (std::fabs(normal.x) >= 0.999f) {
            continue;
        }
        const dgVector point(std::uniform_real_distribution<float>(-0.8f, 0.8f)(rng), 0.0f, 0.0f, 1.0f);
        count = cone->calcPlaneIntersection(normal, point, out);
        ASSERT_LE(count, 12);
        cut += (count >= 3);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((out[i] - point) % normal, 0.0f, 1e-5f);
            EXPECT_GE(out[i].x, -1.0f - 1e-5f);
            EXPECT_LE(std::hypot(out[i].y, out[i].z), 0.5f * (1.0f - out[i].x) + 1e-5f);
        }
        const dgMatrix spin(dgRotationMatrixX(std::uniform_real_distribution<float>(0.0f, 6.0f)(rng)));
        dgVector turned[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(cone->calcPlaneIntersection(spin.rotateVector(normal), spin.transformVector(point), turned),
                  count);
        for (int32_t i = 0; i < count; i++) {
            const dgVector expected(spin.rotateVector(out[i]));
            EXPECT_NEAR(turned[i].x, expected.x, 1e-4f);
            EXPECT_NEAR(turned[i].y, expected.y, 1e-4f);
            EXPECT_NEAR(turned[i].z, expected.z, 1e-4f);
        }
    }
    EXPECT_GT(cut, 100);
    // A tilted plane through the pyramid's middle.
    const dgVector normal(0.5f, 0.866f, 0.0f, 0.0f);
    count = cone->calcPlaneIntersection(normal, dgVector(0, 0, 0, 1), out);
    EXPECT_GE(count, 3);
    for (int32_t i = 0; i < count; i++) {
        EXPECT_NEAR(out[i] % normal, 0.0f, 1e-5f);
    }
    // Planes that miss.
    EXPECT_EQ(cone->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 2, 0, 1), out), 0);
    EXPECT_EQ(cone->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(1.5f, 0, 0, 1), out), 0);
}

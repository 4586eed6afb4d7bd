#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionCapsule.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionCapsule> CapsuleHolder;

// As the world's factory builds it: filed under |radius| and |height| / 2.
CapsuleHolder makeCapsule(float radius, float height, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[2] = {std::fabs(radius), std::fabs(height) * 0.5f};
    return CapsuleHolder::adopt(
        new dgCollisionCapsule(dgShapeSignature(dgShapeCapsule, dims, 2, offset), radius, height, offset));
}

// Distance from p to the capsule's axis segment, less the radius: the
// signed distance to the surface.
double surfaceDistance(const double* p, double hc, double r) {
    const double x = std::max(-hc, std::min(hc, p[0]));
    return std::sqrt((p[0] - x) * (p[0] - x) + p[1] * p[1] + p[2] * p[2]) - r;
}

// Points of the capsule's surface: the side and the two half spheres, on
// fine grids.
std::vector<dgVector> sampleSurface(float hc, float r) {
    std::vector<dgVector> points;
    const int32_t segments = 360;
    for (int32_t j = 0; j < segments; j++) {
        const double a = 2.0 * kPi * j / segments;
        for (int32_t i = 0; i <= 20; i++) {
            points.push_back(dgVector(float(-hc + 2.0 * hc * i / 20.0), float(r * std::cos(a)),
                                      float(r * std::sin(a)), 1.0f));
        }
        for (int32_t i = 1; i <= 90; i++) {
            const double b = 0.5 * kPi * i / 90.0;
            const double x = r * std::sin(b), rho = r * std::cos(b);
            for (double side : {1.0, -1.0}) {
                points.push_back(dgVector(float(side * (hc + x)), float(rho * std::cos(a)),
                                          float(rho * std::sin(a)), 1.0f));
            }
        }
    }
    return points;
}

// First entry, in double, of p0 + t d (t in [0, 1]) into the capsule as the
// union of the finite cylinder and the two end balls: the smallest entry
// parameter over the three convex parts. -1 when none, -2 when p0 is
// inside.
double capsuleEntry(const double* p0, const double* d, double hc, double r) {
    if (surfaceDistance(p0, hc, r) <= 0.0) {
        return -2.0;
    }
    double best = 2.0;
    // Finite cylinder: the infinite one's interval clipped to the slab.
    const double a = d[1] * d[1] + d[2] * d[2];
    const double b = 2.0 * (p0[1] * d[1] + p0[2] * d[2]);
    const double c = p0[1] * p0[1] + p0[2] * p0[2] - r * r;
    const double disc = b * b - 4.0 * a * c;
    if (a > 0.0 && disc > 0.0) {
        double lo = (-b - std::sqrt(disc)) / (2.0 * a), hi = (-b + std::sqrt(disc)) / (2.0 * a);
        if (std::fabs(d[0]) > 0.0) {
            double s0 = (-hc - p0[0]) / d[0], s1 = (hc - p0[0]) / d[0];
            if (s0 > s1) {
                std::swap(s0, s1);
            }
            lo = std::max(lo, s0);
            hi = std::min(hi, s1);
        } else if (std::fabs(p0[0]) > hc) {
            hi = lo - 1.0;
        }
        if (lo <= hi && lo >= 0.0) {
            best = std::min(best, lo);
        }
    }
    for (double e : {hc, -hc}) {
        const double q[3] = {p0[0] - e, p0[1], p0[2]};
        const double aa = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        const double bb = 2.0 * (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]);
        const double cc = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] - r * r;
        const double dd = bb * bb - 4.0 * aa * cc;
        if (dd > 0.0) {
            const double t = (-bb - std::sqrt(dd)) / (2.0 * aa);
            if (t >= 0.0) {
                best = std::min(best, t);
            }
        }
    }
    return (best <= 1.0) ? best : -1.0;
}

float cast(const dgCollisionCapsule& capsule, const dgVector& p0, const dgVector& p1,
           dgContactPoint& contact) {
    return capsule.rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
}

}  // namespace

TEST(Capsule, HalfLengthFollowsTheHeightAndNeverDropsBelowTheMinimum) {
    EXPECT_EQ(makeCapsule(1.0f, 2.0f)->getHalfLength(), 0.05f);
    EXPECT_EQ(makeCapsule(1.0f, 2.1f)->getHalfLength(), 0.05f);
    EXPECT_EQ(makeCapsule(1.0f, 4.0f)->getHalfLength(), 1.0f);
    EXPECT_EQ(makeCapsule(1.0f, 0.5f)->getHalfLength(), 0.05f);
    CapsuleHolder negative = makeCapsule(-0.5f, -3.0f);
    EXPECT_EQ(negative->getRadius(), 0.5f);
    EXPECT_EQ(negative->getHalfLength(), 1.0f);
    EXPECT_EQ(negative->getAngleStep().m_step, 6.28318f / 128.0f);
}

TEST(Capsule, CoarsePolyhedronLiesOnTheSurface) {
    CapsuleHolder capsule = makeCapsule(0.8f, 5.0f);
    const double hc = capsule->getHalfLength(), r = capsule->getRadius();
    ASSERT_EQ(capsule->getVertexCount(), 48);
    ASSERT_EQ(capsule->getEdgeCount(), 180);
    const dgVector* v = capsule->getVertices();
    for (int32_t i = 0; i < 48; i++) {
        const double p[3] = {v[i].x, v[i].y, v[i].z};
        EXPECT_NEAR(surfaceDistance(p, hc, r), 0.0, 1e-5);
        EXPECT_EQ(v[i].w, 1.0f);
        if (i > 0) {
            EXPECT_GE(v[i].x, v[i - 1].x);
        }
    }
    EXPECT_FLOAT_EQ(v[0].x, -float(hc + 0.75 * r));
    EXPECT_FLOAT_EQ(v[47].x, float(hc + 0.75 * r));
    // 42 quads in 7 bands and the two hexagonal tips; every face outward.
    const dgConvexEdge* e = capsule->getEdges();
    int32_t quads = 0, hexagons = 0;
    for (int32_t i = 0; i < 180; i++) {
        EXPECT_EQ(e[i].m_twin->m_twin, &e[i]);
        EXPECT_EQ(e[i].m_next->m_prev, &e[i]);
        EXPECT_EQ(e[i].m_next->m_vertex, e[i].m_twin->m_vertex);
        int32_t n = 0;
        const dgConvexEdge* f = &e[i];
        do {
            n++;
            f = f->m_next;
        } while (f != &e[i]);
        quads += (n == 4);
        hexagons += (n == 6);
        const dgVector& a = v[e[i].m_vertex];
        const dgVector& b = v[e[i].m_next->m_vertex];
        const dgVector& c = v[e[i].m_next->m_next->m_vertex];
        const dgVector normal((b - a).cross(c - a));
        EXPECT_GT(normal % a, 0.0f);
    }
    EXPECT_EQ(quads, 42 * 4);
    EXPECT_EQ(hexagons, 2 * 6);
}

TEST(Capsule, SupportVertexEdgeCases) {
    CapsuleHolder capsule = makeCapsule(1.0f, 4.0f);
    dgVector p(capsule->supportVertex(dgVector(0.0f, 1.0f, 0.0f, 0.0f)));
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_NEAR(p.y, 1.0f, 1e-6f);
    p = capsule->supportVertex(dgVector(0.0f, -1.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.x, 1.0f);
    const float y = std::sqrt(1.0f - 0.9999f * 0.9999f);
    p = capsule->supportVertex(dgVector(0.9999f, y, 0.0f, 0.0f));
    EXPECT_EQ(p.x, 2.0f);
    EXPECT_EQ(p.y, 0.0f);
    EXPECT_EQ(p.z, 0.0f);
    p = capsule->supportVertex(dgVector(-0.9999f, 0.0f, y, 0.0f));
    EXPECT_EQ(p.x, -2.0f);
    EXPECT_EQ(p.z, 0.0f);
    p = capsule->supportVertex(dgVector(-0.3f, 0.0f, -std::sqrt(0.91f), 0.0f));
    EXPECT_LT(p.x, -1.0f);
    EXPECT_LT(p.z, -0.9f);
}

TEST(Capsule, SupportVertexIsTheDenseSurfaceExtreme) {
    const float cases[2][2] = {{1.0f, 4.0f}, {0.3f, 2.0f}};
    std::mt19937 rng(37);
    for (const auto& c : cases) {
        CapsuleHolder capsule = makeCapsule(c[0], c[1]);
        const float hc = capsule->getHalfLength(), r = capsule->getRadius();
        const float step = capsule->getAngleStep().m_step;
        const std::vector<dgVector> surface = sampleSurface(hc, r);
        for (int32_t n = 0; n < 200; n++) {
            const dgVector d(randomUnit(rng));
            const dgVector p(capsule->supportVertex(d));
            const double q[3] = {p.x, p.y, p.z};
            EXPECT_NEAR(surfaceDistance(q, hc, r), 0.0, 2e-6 * (hc + r));
            // On the end the direction points to.
            EXPECT_GE(p.x * (d.x >= 0.0f ? 1.0f : -1.0f), hc - 1e-6f);
            float brute = -1e30f;
            for (const dgVector& s : surface) {
                brute = std::max(brute, s % d);
            }
            const float exact = hc * std::fabs(d.x) + r;
            EXPECT_LE(brute, exact + 1e-5f);
            EXPECT_LE(p % d, exact + 1e-5f);
            EXPECT_GE(p % d, brute - r * (1.0f - std::cos(1.5f * step)) - 1e-5f);
        }
    }
}

TEST(Capsule, MassPropertiesMatchTheWalkAndTheClosedForms) {
    const float radius = 0.6f, height = 3.2f;
    CapsuleHolder capsule = makeCapsule(radius, height);
    const double r = radius, hc = capsule->getHalfLength(), length = 2.0 * hc;
    const WalkedFaces faces = walkFaces(*capsule, dgGetIdentityMatrix());
    int32_t quads = 0, triangles = 0;
    double maxSurfaceError = 0.0;
    for (const std::vector<dgVector>& face : faces) {
        quads += (face.size() == 4);
        triangles += (face.size() == 3);
        for (const dgVector& v : face) {
            const double p[3] = {v.x, v.y, v.z};
            maxSurfaceError = std::max(maxSurfaceError, std::fabs(surfaceDistance(p, hc, r)));
        }
    }
    EXPECT_EQ(quads, dgCollisionCapsule::kWalkSegments);
    EXPECT_EQ(triangles, dgCollisionCapsule::kWalkCapTriangles);
    EXPECT_LT(maxSurfaceError, 1e-5);
    const FaceMoments w = faceMoments(faces);

    // The shape integrates its own walk.
    const float volume = capsule->getVolume();
    EXPECT_NEAR(volume, w.volume, 1e-5 * w.volume);
    dgVector inertia, origin;
    capsule->calcInertia(inertia, origin);
    EXPECT_NEAR(inertia.x, (w.second[1] + w.second[2]) / w.volume, 1e-4 * inertia.x);
    EXPECT_NEAR(inertia.y, (w.second[0] + w.second[2]) / w.volume, 1e-4 * inertia.y);
    EXPECT_NEAR(inertia.z, (w.second[0] + w.second[1]) / w.volume, 1e-4 * inertia.z);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);

    // The true capsule: a cylinder and two half balls, each half ball's
    // inertia about the middle carried over by the parallel-axis theorem
    // from its centroid 3r/8 beyond the end. The walk (a 16-gon prism and
    // the octahedron subdivided twice) lies inside it, a few percent short.
    const double cylinder = kPi * r * r * length;
    const double ball = 4.0 / 3.0 * kPi * r * r * r;
    const double total = cylinder + ball;
    EXPECT_NEAR(volume, total, 0.06 * total);
    EXPECT_LT(volume, total);
    const double halfOffset = hc + 3.0 * r / 8.0;
    const double halfBallAcross = 2.0 * (0.5 * ball) * (83.0 / 320.0 * r * r + halfOffset * halfOffset);
    const double across = (cylinder * (3.0 * r * r + length * length) / 12.0 + halfBallAcross) / total;
    const double axial = (cylinder * 0.5 * r * r + ball * 0.4 * r * r) / total;
    EXPECT_NEAR(inertia.x, axial, 0.04 * axial);
    EXPECT_NEAR(inertia.y, across, 0.04 * across);
    EXPECT_NEAR(inertia.z, across, 0.04 * across);

    // Lengthening the capsule adds exactly a prism over the regular 16-gon:
    // its volume and its polar second moment grow with the length.
    CapsuleHolder longer = makeCapsule(radius, height + 2.0f);
    const double extra = 2.0 * (longer->getHalfLength() - hc);
    const int32_t n = dgCollisionCapsule::kWalkSegments;
    const double area = 0.5 * n * r * r * std::sin(2.0 * kPi / n);
    const double polar = area * r * r * (2.0 + std::cos(2.0 * kPi / n)) / 6.0;
    const double longerVolume = longer->getVolume();
    EXPECT_NEAR(longerVolume - volume, area * extra, 2e-4 * longerVolume);
    dgVector longerInertia, longerOrigin;
    longer->calcInertia(longerInertia, longerOrigin);
    EXPECT_NEAR(longerInertia.x * longerVolume - inertia.x * volume, polar * extra, 2e-4 * longerVolume);
}

TEST(Capsule, RayCastsMatchTheUnionOfItsParts) {
    const float radius = 0.7f;
    CapsuleHolder capsule = makeCapsule(radius, 3.0f);
    const double hc = capsule->getHalfLength(), r = radius;
    capsule->setUserId(0xFFFFFFF0u);
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    int32_t hits = 0, misses = 0, ends = 0;
    for (int32_t n = 0; n < 5000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        const double q0[3] = {p0.x, p0.y, p0.z};
        const double d[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
        const double ref = capsuleEntry(q0, d, hc, r);
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        const float t = cast(*capsule, p0, p1, contact);
        if (std::fabs(surfaceDistance(q0, hc, r)) < 1e-4) {
            continue;
        }
        if (ref < 0.0) {
            // A miss unless the segment grazes the surface or ends on it.
            double closest = 1e30;
            for (int32_t k = 0; k <= 200; k++) {
                const double p[3] = {q0[0] + d[0] * k / 200.0, q0[1] + d[1] * k / 200.0,
                                     q0[2] + d[2] * k / 200.0};
                closest = std::min(closest, surfaceDistance(p, hc, r));
            }
            if (ref == -2.0 || closest > 0.02) {
                EXPECT_EQ(t, dgCollision::kRayMiss);
                misses++;
            }
            continue;
        }
        const double hit[3] = {q0[0] + d[0] * ref, q0[1] + d[1] * ref, q0[2] + d[2] * ref};
        const double x = std::max(-hc, std::min(hc, hit[0]));
        double normal[3] = {hit[0] - x, hit[1], hit[2]};
        const double len = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
        const double dl = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        double incidence = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            normal[j] /= len;
            incidence -= normal[j] * d[j] / dl;
        }
        if (incidence < 0.05 || std::fabs(ref - 1.0) < 1e-5) {
            continue;
        }
        hits++;
        ends += (std::fabs(hit[0]) > hc);
        ASSERT_NEAR(t, ref, 1e-5 / incidence) << n;
        double len2 = 0.0;
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(contact.normal[j], normal[j], 1e-4);
            len2 += double(contact.normal[j]) * contact.normal[j];
        }
        EXPECT_NEAR(len2, 1.0, 1e-5);
        EXPECT_EQ(contact.userId, int64_t(0xFFFFFFF0u));
    }
    EXPECT_GT(hits, 500);
    EXPECT_GT(ends, 100);
    EXPECT_GT(misses, 1000);
}

TEST(Capsule, RayCastsThroughTheSideAndTheRoundedEnds) {
    CapsuleHolder capsule = makeCapsule(1.0f, 4.0f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    // Across the side.
    EXPECT_FLOAT_EQ(cast(*capsule, dgVector(0, 3, 0, 1), dgVector(0, -3, 0, 1), contact), 2.0f / 6.0f);
    EXPECT_FLOAT_EQ(contact.normal.y, 1.0f);
    EXPECT_EQ(contact.normal.x, 0.0f);
    // Along the axis into the +x end, from hc + 2r to the middle.
    EXPECT_FLOAT_EQ(cast(*capsule, dgVector(3, 0, 0, 1), dgVector(0, 0, 0, 1), contact), 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(contact.normal.x, 1.0f);
    // Parallel to the axis within the radius: the rounded end, off its pole.
    const float t = cast(*capsule, dgVector(-5, 0, 0.6f, 1), dgVector(5, 0, 0.6f, 1), contact);
    EXPECT_NEAR(t, (5.0f - 1.0f - 0.8f) / 10.0f, 1e-6f);
    EXPECT_NEAR(contact.normal.x, -0.8f, 1e-6f);
    EXPECT_NEAR(contact.normal.z, 0.6f, 1e-6f);
    // Obliquely into the -x end from outside the cylinder's radius.
    const float s = std::sqrt(0.5f);
    EXPECT_NEAR(cast(*capsule, dgVector(-1 - 3 * s, 3 * s, 0, 1), dgVector(-1, 0, 0, 1), contact),
                2.0f / 3.0f, 1e-6f);
    EXPECT_NEAR(contact.normal.x, -s, 1e-6f);
    EXPECT_NEAR(contact.normal.y, s, 1e-6f);
    // Ending exactly on the side hits at 1.
    EXPECT_EQ(cast(*capsule, dgVector(0.5f, 0, 3, 1), dgVector(0.5f, 0, 1, 1), contact), 1.0f);
    EXPECT_EQ(contact.normal.z, 1.0f);
}

TEST(Capsule, RayCastMisses) {
    CapsuleHolder capsule = makeCapsule(1.0f, 4.0f);
    dgContactPoint contact;
    // From inside: the cylinder part, an end ball, and on the surface.
    EXPECT_EQ(cast(*capsule, dgVector(0.5f, 0.2f, 0, 1), dgVector(5, 5, 5, 1), contact),
              dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(1.5f, 0.2f, 0, 1), dgVector(5, 0, 0, 1), contact),
              dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(0, 1, 0, 1), dgVector(0, 5, 0, 1), contact), dgCollision::kRayMiss);
    // Grazing the side and the pole of an end, parallel outside the radius.
    EXPECT_EQ(cast(*capsule, dgVector(0, 1, -3, 1), dgVector(0, 1, 3, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(2, -3, 0, 1), dgVector(2, 3, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(-5, 1.2f, 0, 1), dgVector(5, 1.2f, 0, 1), contact),
              dgCollision::kRayMiss);
    // Entering the cylinder's radius beyond an end, past the ball's corner.
    EXPECT_EQ(cast(*capsule, dgVector(1.5f, 3, 0.9f, 1), dgVector(1.5f, -3, 0.9f, 1), contact),
              dgCollision::kRayMiss);
    // Stopping short of the side, and of an end ball after entering the
    // cylinder's radius beyond the end: no parameter above 1 comes back.
    EXPECT_EQ(cast(*capsule, dgVector(0, 3, 0, 1), dgVector(0, 1.5f, 0, 1), contact), dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(1.9f, 3, 0, 1), dgVector(1.9f, 0.8f, 0, 1), contact),
              dgCollision::kRayMiss);
    EXPECT_EQ(cast(*capsule, dgVector(4, 0, 0, 1), dgVector(2.5f, 0, 0, 1), contact), dgCollision::kRayMiss);
    // Zero length.
    EXPECT_EQ(cast(*capsule, dgVector(4, 0, 0, 1), dgVector(4, 0, 0, 1), contact), dgCollision::kRayMiss);
}

TEST(Capsule, BoundsUnderRotatedMatrices) {
    CapsuleHolder capsule = makeCapsule(0.7f, 4.0f);
    const float hc = capsule->getHalfLength(), r = capsule->getRadius();
    const std::vector<dgVector> surface = sampleSurface(hc, r);
    const dgMatrix matrices[2] = {dgGetIdentityMatrix(), turnedAndMoved()};
    for (const dgMatrix& m : matrices) {
        dgVector lo, hi;
        capsule->calcAABB(m, lo, hi);
        dgVector tightLo, tightHi;
        placedBounds(m, surface, tightLo, tightHi);
        // The local box comes from the grid support, which can fall short
        // of the round surface by the depth of one grid cell.
        const float cell = r * (1.0f - std::cos(capsule->getAngleStep().m_step));
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_LE(lo[j], tightLo[j] + cell + 1e-5f);
            EXPECT_GE(hi[j], tightHi[j] - cell - 1e-5f);
            // No more than the box around the rotated local box.
            const float extent =
                std::fabs(m[0][j]) * (hc + r) + (std::fabs(m[1][j]) + std::fabs(m[2][j])) * r;
            EXPECT_GE(lo[j], m.position[j] - extent - 1e-5f);
            EXPECT_LE(hi[j], m.position[j] + extent + 1e-5f);
        }
    }
}

TEST(Capsule, PlaneIntersection) {
    CapsuleHolder capsule = makeCapsule(1.0f, 4.0f);
    dgVector out[dgPlaneIntersectionMaxPoints];
    // Across the axis through an end centre: the centre itself.
    ASSERT_EQ(capsule->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(1, 0, 0, 1), out), 1);
    EXPECT_EQ(out[0].x, 1.0f);
    EXPECT_EQ(out[0].y, 0.0f);
    EXPECT_EQ(out[0].z, 0.0f);
    // A tilted plane across the +x ball: the centre of its circle there.
    const dgVector n(0.6f, 0.0f, 0.8f, 0.0f);
    const dgVector p(1.5f, 0.0f, 0.0f, 1.0f);
    ASSERT_EQ(capsule->calcPlaneIntersection(n, p, out), 1);
    const dgVector expected(dgVector(1, 0, 0, 1) + n.scale(0.3f));
    EXPECT_NEAR(out[0].x, expected.x, 1e-6f);
    EXPECT_NEAR(out[0].y, expected.y, 1e-6f);
    EXPECT_NEAR(out[0].z, expected.z, 1e-6f);
    // Only the -x ball is cut.
    ASSERT_EQ(capsule->calcPlaneIntersection(dgVector(-1, 0, 0, 0), dgVector(-1.5f, 0, 0, 1), out), 1);
    EXPECT_FLOAT_EQ(out[0].x, -1.5f);
    // Across the middle of the cylindrical part no ball is cut: the coarse
    // section, a hexagon of the radius, stands for it.
    const int32_t middle = capsule->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(0, 0, 0, 1), out);
    ASSERT_EQ(middle, 6);
    for (int32_t i = 0; i < middle; i++) {
        EXPECT_NEAR(out[i].x, 0.0f, 1e-6f);
        EXPECT_NEAR(std::hypot(out[i].y, out[i].z), 1.0f, 1e-5f);
    }
    // Beyond the tips nothing.
    EXPECT_EQ(capsule->calcPlaneIntersection(dgVector(1, 0, 0, 0), dgVector(2.5f, 0, 0, 1), out), 0);
    EXPECT_EQ(capsule->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 1.5f, 0, 1), out), 0);

    // Along the axis: the coarse contour, on the plane and in the capsule,
    // turning with the plane about the axis. (Contours of more than 12
    // points are thinned by corner area, where rounding can break ties
    // differently; those are left out of the turning check.)
    std::mt19937 rng(53);
    int32_t turnedChecks = 0;
    for (int32_t k = 0; k < 200; k++) {
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        const float axial = 0.9f * (unit(rng) - 0.5f);
        const float azimuth = 6.28318f * unit(rng);
        const float radial = std::sqrt(1.0f - axial * axial);
        const dgVector normal(axial, radial * std::cos(azimuth), radial * std::sin(azimuth), 0.0f);
        const dgVector point(std::uniform_real_distribution<float>(-1.7f, 1.7f)(rng),
                             std::uniform_real_distribution<float>(-0.7f, 0.7f)(rng), 0.0f, 1.0f);
        const int32_t count = capsule->calcPlaneIntersection(normal, point, out);
        ASSERT_GE(count, 3);
        ASSERT_LE(count, 12);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_NEAR((out[i] - point) % normal, 0.0f, 1e-5f);
            const double q[3] = {out[i].x, out[i].y, out[i].z};
            EXPECT_LE(surfaceDistance(q, 1.0, 1.0), 1e-5);
        }
        if (count == 12) {
            continue;
        }
        turnedChecks++;
        const dgMatrix spin(dgRotationMatrixX(std::uniform_real_distribution<float>(0.0f, 6.0f)(rng)));
        dgVector turned[dgPlaneIntersectionMaxPoints];
        ASSERT_EQ(
            capsule->calcPlaneIntersection(spin.rotateVector(normal), spin.transformVector(point), turned),
            count);
        for (int32_t i = 0; i < count; i++) {
            const dgVector e(spin.rotateVector(out[i]));
            EXPECT_NEAR(turned[i].x, e.x, 1e-4f);
            EXPECT_NEAR(turned[i].y, e.y, 1e-4f);
            EXPECT_NEAR(turned[i].z, e.z, 1e-4f);
        }
    }
    EXPECT_GT(turnedChecks, 10);
    // The plane y = 0 cuts the coarse polyhedron along its length.
    const int32_t along = capsule->calcPlaneIntersection(dgVector(0, 1, 0, 0), dgVector(0, 0, 0, 1), out);
    EXPECT_GE(along, 4);
    float minX = 1e30f, maxX = -1e30f;
    for (int32_t i = 0; i < along; i++) {
        EXPECT_NEAR(out[i].y, 0.0f, 1e-6f);
        minX = std::min(minX, out[i].x);
        maxX = std::max(maxX, out[i].x);
    }
    EXPECT_LT(minX, -1.4f);
    EXPECT_GT(maxX, 1.4f);
}

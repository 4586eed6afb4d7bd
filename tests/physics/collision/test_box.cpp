#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgCollisionBox.h"
#include "dgQuaternion.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<dgCollisionBox> BoxHolder;

BoxHolder makeBox(float dx, float dy, float dz, const dgMatrix& offset = dgGetIdentityMatrix()) {
    const float dims[3] = {std::fabs(dx) * 0.5f, std::fabs(dy) * 0.5f, std::fabs(dz) * 0.5f};
    return BoxHolder::adopt(
        new dgCollisionBox(dgShapeSignature(dgShapeBox, dims, 3, offset), dx, dy, dz, offset));
}

dgMatrix randomRotation(std::mt19937& rng, const dgVector& position) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    float q[4] = {g(rng), g(rng), g(rng), g(rng)};
    const float len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    return dgMatrix::fromQuaternion(dgQuaternion(q[0] / len, q[1] / len, q[2] / len, q[3] / len), position);
}

// Independent slab intersection in double precision: the entry parameter of
// a segment that starts outside the box, or -1.
double referenceRay(const dgVector& h, const dgVector& p0, const dgVector& p1, int32_t& axis, double& sign) {
    double tEnter = 0.0;
    double tExit = 1.0;
    axis = -1;
    for (int32_t i = 0; i < 3; i++) {
        const double d = double(p1[i]) - double(p0[i]);
        if (d == 0.0) {
            if (std::fabs(double(p0[i])) > double(h[i])) {
                return -1.0;
            }
            continue;
        }
        double t0 = (-double(h[i]) - double(p0[i])) / d;
        double t1 = (double(h[i]) - double(p0[i])) / d;
        double s = -1.0;
        if (t0 > t1) {
            std::swap(t0, t1);
            s = 1.0;
        }
        if (t0 > tEnter) {
            tEnter = t0;
            axis = i;
            sign = s;
        }
        tExit = std::min(tExit, t1);
    }
    if (axis < 0 || tEnter > tExit) {
        return -1.0;
    }
    return tEnter;
}

// Every point where the plane meets the box's edges: corners on the plane and
// crossings of edges whose ends lie strictly on opposite sides.
std::vector<dgVector> referenceSection(const dgCollisionBox& box, const dgPlane& plane) {
    const dgVector* c = box.getVertices();
    std::vector<dgVector> out;
    auto addUnique = [&out](const dgVector& p) {
        for (const dgVector& q : out) {
            const dgVector d(p - q);
            if ((d % d) < 1e-8f) {
                return;
            }
        }
        out.push_back(p);
    };
    for (int32_t i = 0; i < 8; i++) {
        if (plane.evaluate(c[i]) == 0.0f) {
            addUnique(c[i]);
        }
    }
    for (int32_t i = 0; i < 8; i++) {
        for (int32_t bit = 1; bit < 8; bit <<= 1) {
            const int32_t j = i | bit;
            if (j == i) {
                continue;
            }
            const double si = plane.evaluate(c[i]);
            const double sj = plane.evaluate(c[j]);
            if (si * sj < 0.0) {
                const double f = si / (si - sj);
                addUnique(dgVector(float(c[i].x + (c[j].x - c[i].x) * f),
                                   float(c[i].y + (c[j].y - c[i].y) * f),
                                   float(c[i].z + (c[j].z - c[i].z) * f), 1.0f));
            }
        }
    }
    return out;
}

// The contour is the reference section in a convex, counter-clockwise order
// around the plane normal.
void expectSection(const dgCollisionBox& box, const dgPlane& plane, float tolerance) {
    dgVector points[dgPlaneIntersectionMaxPoints];
    const int32_t count = box.calcPlaneContour(plane, points);
    const std::vector<dgVector> expected = referenceSection(box, plane);
    ASSERT_EQ(count, int32_t(expected.size()));
    for (const dgVector& e : expected) {
        bool found = false;
        for (int32_t i = 0; i < count; i++) {
            const dgVector d(points[i] - e);
            found |= (std::sqrt(d % d) < tolerance);
        }
        EXPECT_TRUE(found) << e.x << " " << e.y << " " << e.z;
    }
    if (count >= 3) {
        for (int32_t i = 0; i < count; i++) {
            const dgVector& a = points[i];
            const dgVector& b = points[(i + 1) % count];
            const dgVector& c = points[(i + 2) % count];
            EXPECT_GT(((b - a).cross(c - b)) % plane, -tolerance) << "corner " << i;
        }
    }
}

}  // namespace

TEST(Box, SizesBecomeAbsoluteHalfExtents) {
    BoxHolder box = makeBox(-2.0f, 4.0f, 6.0f);
    EXPECT_EQ(box->getHalfExtents().x, 1.0f);
    EXPECT_EQ(box->getHalfExtents().y, 2.0f);
    EXPECT_EQ(box->getHalfExtents().z, 3.0f);
    EXPECT_EQ(box->getVertexCount(), 8);
    EXPECT_EQ(box->getEdgeCount(), 24);
    const dgVector* corners = box->getVertices();
    for (int32_t i = 0; i < 8; i++) {
        EXPECT_EQ(corners[i].x, (i & 1) ? -1.0f : 1.0f);
        EXPECT_EQ(corners[i].y, (i & 2) ? -2.0f : 2.0f);
        EXPECT_EQ(corners[i].z, (i & 4) ? -3.0f : 3.0f);
        EXPECT_EQ(corners[i].w, 1.0f);
    }
    EXPECT_EQ(box->getShapeType(), uint32_t(dgShapeBox));
}

TEST(Box, MassPropertiesMatchClosedForms) {
    const float hx = 0.5f, hy = 1.5f, hz = 2.5f;
    BoxHolder box = makeBox(2 * hx, 2 * hy, 2 * hz);
    const float volume = 8 * hx * hy * hz;
    EXPECT_NEAR(box->getVolume(), volume, 1e-4f);
    EXPECT_NEAR(box->getCentreOfMass().w, volume, 1e-4f);
    dgVector inertia(9, 9, 9, 7), origin(9, 9, 9, 7);
    box->calcInertia(inertia, origin);
    EXPECT_NEAR(inertia.x, (hy * hy + hz * hz) / 3.0f, 1e-4f);
    EXPECT_NEAR(inertia.y, (hx * hx + hz * hz) / 3.0f, 1e-4f);
    EXPECT_NEAR(inertia.z, (hx * hx + hy * hy) / 3.0f, 1e-4f);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-5f);
    EXPECT_EQ(inertia.w, 7.0f);
    EXPECT_EQ(origin.w, 7.0f);
}

TEST(Box, SupportVertexIsTheBruteForceExtreme) {
    BoxHolder box = makeBox(1.0f, 3.0f, 5.0f);
    std::mt19937 rng(7);
    for (int32_t n = 0; n < 2000; n++) {
        const dgVector d(randomUnit(rng));
        const dgVector s(box->supportVertex(d));
        float best = -1e30f;
        for (int32_t i = 0; i < 8; i++) {
            best = std::max(best, box->getVertices()[i] % d);
        }
        EXPECT_FLOAT_EQ(s % d, best);
        EXPECT_EQ(std::fabs(s.x), 0.5f);
        EXPECT_EQ(std::fabs(s.y), 1.5f);
        EXPECT_EQ(std::fabs(s.z), 2.5f);
    }
    const dgVector zero(box->supportVertex(dgVector(0.0f, 0.0f, 0.0f, 0.0f)));
    EXPECT_EQ(zero.x, 0.5f);
    EXPECT_EQ(zero.y, 1.5f);
    EXPECT_EQ(zero.z, 2.5f);
    EXPECT_EQ(zero.w, 0.0f);
    // The local box comes from the exact support.
    EXPECT_EQ(box->getBoxHalfSize().z, 2.5f);
    EXPECT_EQ(box->getBoxCentre().x, 0.0f);
}

TEST(Box, BoundsUnderRotatedMatrices) {
    BoxHolder box = makeBox(2.0f, 2.0f, 2.0f);
    dgMatrix turned(dgRotationMatrixY(0.78539816f));
    dgVector lo, hi;
    box->calcAABB(turned, lo, hi);
    EXPECT_NEAR(hi.x, std::sqrt(2.0f), 1e-5f);
    EXPECT_NEAR(hi.y, 1.0f, 1e-6f);
    EXPECT_NEAR(hi.z, std::sqrt(2.0f), 1e-5f);
    EXPECT_NEAR(lo.x, -std::sqrt(2.0f), 1e-5f);

    BoxHolder odd = makeBox(1.0f, 4.0f, 0.5f);
    std::mt19937 rng(11);
    for (int32_t n = 0; n < 200; n++) {
        const dgMatrix m(randomRotation(rng, dgVector(float(n % 7) - 3.0f, 2.0f, -1.5f, 1.0f)));
        odd->calcAABB(m, lo, hi);
        dgVector refLo, refHi;
        m.transformBox(dgVector(-0.5f, -2.0f, -0.25f, 1.0f), dgVector(0.5f, 2.0f, 0.25f, 1.0f), refLo, refHi);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_NEAR(lo[j], refLo[j], 1e-5f);
            EXPECT_NEAR(hi[j], refHi[j], 1e-5f);
        }
        EXPECT_EQ(lo.w, 1.0f);
        EXPECT_EQ(hi.w, 1.0f);
    }
}

TEST(Box, RayCastsFromOutsideMatchTheSlabReference) {
    BoxHolder box = makeBox(2.0f, 3.0f, 1.0f);
    box->setUserId(0x80000005u);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-4.0f, 4.0f);
    int32_t hits = 0;
    for (int32_t n = 0; n < 5000; n++) {
        const dgVector p0(u(rng), u(rng), u(rng), 1.0f);
        const dgVector p1(u(rng), u(rng), u(rng), 1.0f);
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        const float t = box->rayCast(p0, p1, contact, nullptr, nullptr, nullptr);
        int32_t axis;
        double sign = 0.0;
        const double ref = referenceRay(box->getHalfExtents(), p0, p1, axis, sign);
        if (ref < 0.0) {
            EXPECT_EQ(t, dgCollision::kRayMiss);
            continue;
        }
        hits++;
        ASSERT_LE(t, 1.0f);
        EXPECT_NEAR(t, ref, 1e-5);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_EQ(contact.normal[j], (j == axis) ? float(sign) : 0.0f);
        }
        EXPECT_EQ(contact.userId, int64_t(0x80000005u));
    }
    EXPECT_GT(hits, 500);
}

TEST(Box, RayCastEdgeCases) {
    BoxHolder box = makeBox(2.0f, 2.0f, 2.0f);
    dgContactPoint contact;
    std::memset(&contact, 0, sizeof(contact));
    const float t =
        box->rayCast(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr);
    EXPECT_FLOAT_EQ(t, 0.4f);
    EXPECT_EQ(contact.normal.x, -1.0f);
    EXPECT_EQ(contact.normal.y, 0.0f);

    // From inside, or from a face outward: no hit.
    EXPECT_EQ(box->rayCast(dgVector(0, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(box->rayCast(dgVector(0.5f, 0.2f, -0.3f, 1), dgVector(0.1f, 0, 0, 1), contact, nullptr, nullptr,
                           nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(box->rayCast(dgVector(-1, 0, 0, 1), dgVector(5, 0, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    // Crossing the x slab above the box.
    EXPECT_EQ(box->rayCast(dgVector(-5, 3, 0, 1), dgVector(5, 3, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    // Parallel to a face: inside the slab it hits the far side's face, outside
    // it misses.
    EXPECT_FLOAT_EQ(box->rayCast(dgVector(0.3f, 0.9f, 4, 1), dgVector(0.3f, 0.9f, -4, 1), contact, nullptr,
                                 nullptr, nullptr),
                    0.375f);
    EXPECT_EQ(contact.normal.z, 1.0f);
    EXPECT_EQ(box->rayCast(dgVector(0.3f, 1.1f, 4, 1), dgVector(0.3f, 1.1f, -4, 1), contact, nullptr, nullptr,
                           nullptr),
              dgCollision::kRayMiss);
    // Grazing: along a face plane, along an edge.
    EXPECT_EQ(box->rayCast(dgVector(-5, 1, 0, 1), dgVector(5, 1, 0, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    EXPECT_EQ(box->rayCast(dgVector(-5, 1, 1, 1), dgVector(5, 1, 1, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
    // A zero-length segment outside.
    EXPECT_EQ(box->rayCast(dgVector(2, 2, 2, 1), dgVector(2, 2, 2, 1), contact, nullptr, nullptr, nullptr),
              dgCollision::kRayMiss);
}

TEST(Box, RayEndingExactlyOnAFaceHitsAtOneWithItsNormal) {
    BoxHolder box = makeBox(2.0f, 2.0f, 2.0f);
    const dgVector ends[6] = {dgVector(1, 0.25f, 0, 1), dgVector(-1, 0, 0.5f, 1), dgVector(0, 1, 0, 1),
                              dgVector(0.5f, -1, 0, 1), dgVector(0, 0, 1, 1),     dgVector(0, -0.5f, -1, 1)};
    for (const dgVector& end : ends) {
        int32_t axis = 0;
        for (int32_t j = 0; j < 3; j++) {
            if (std::fabs(end[j]) == 1.0f) {
                axis = j;
            }
        }
        dgVector start(end);
        start[axis] = 3.0f * end[axis];
        dgContactPoint contact;
        std::memset(&contact, 0, sizeof(contact));
        EXPECT_EQ(box->rayCast(start, end, contact, nullptr, nullptr, nullptr), 1.0f);
        for (int32_t j = 0; j < 3; j++) {
            EXPECT_EQ(contact.normal[j], (j == axis) ? end[axis] : 0.0f);
        }
        // Stopping short is a miss.
        dgVector shortEnd(end);
        shortEnd[axis] *= 1.001f;
        EXPECT_EQ(box->rayCast(start, shortEnd, contact, nullptr, nullptr, nullptr), dgCollision::kRayMiss);
    }
}

TEST(Box, PlaneContourInGeneralPosition) {
    BoxHolder box = makeBox(2.0f, 3.0f, 5.0f);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.2f, 1.2f);
    int32_t counts[7] = {0};
    for (int32_t n = 0; n < 3000; n++) {
        const dgVector normal(randomUnit(rng));
        const dgVector point(u(rng), u(rng) * 1.5f, u(rng) * 2.5f, 1.0f);
        const dgPlane plane(normal, -(normal % point));
        expectSection(*box, plane, 1e-4f);
        dgVector viaIntersection[dgPlaneIntersectionMaxPoints];
        dgVector viaContour[dgPlaneIntersectionMaxPoints];
        const int32_t count = box->calcPlaneIntersection(normal, point, viaIntersection);
        ASSERT_EQ(count, box->calcPlaneContour(plane, viaContour));
        ASSERT_LE(count, dgCollisionBox::kMaxContourPoints);
        counts[count]++;
    }
    EXPECT_GT(counts[3], 0);
    EXPECT_GT(counts[4], 0);
    EXPECT_GT(counts[5], 0);
    EXPECT_GT(counts[6], 0);
    EXPECT_GT(counts[0], 0);
}

TEST(Box, PlaneContourThroughCorners) {
    BoxHolder box = makeBox(2.0f, 4.0f, 8.0f);
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(box->calcPlaneContour(dgPlane(0, 1, 0, 0), points), 4);
    // Corner 7 (-,-,-) cut off across its three edges.
    EXPECT_EQ(box->calcPlaneContour(dgPlane(-1, -1, -1, -6.5f), points), 3);
    // Through the diagonal of the +z face and the -z face: a rectangle on
    // four corners.
    EXPECT_EQ(box->calcPlaneContour(dgPlane(2, -1, 0, 0), points), 4);
    // Containing a face, touching along an edge, touching at a corner, from
    // either side.
    EXPECT_EQ(box->calcPlaneContour(dgPlane(0, 0, 1, -4), points), 4);
    EXPECT_EQ(box->calcPlaneContour(dgPlane(0, 0, -1, 4), points), 4);
    EXPECT_EQ(box->calcPlaneContour(dgPlane(0, 1, 1, -6), points), 2);
    EXPECT_EQ(box->calcPlaneContour(dgPlane(1, 1, 1, -7), points), 1);
    EXPECT_EQ(box->calcPlaneContour(dgPlane(-1, -1, -1, -7), points), 1);
    EXPECT_EQ(box->calcPlaneContour(dgPlane(1, 1, 1, -7.5f), points), 0);

    // Every plane through three corners, in both orientations, against the
    // exact section (integer corners keep every plane value exact).
    const dgVector* c = box->getVertices();
    for (int32_t i = 0; i < 8; i++) {
        for (int32_t j = i + 1; j < 8; j++) {
            for (int32_t k = j + 1; k < 8; k++) {
                const dgVector n((c[j] - c[i]).cross(c[k] - c[i]));
                if ((n % n) == 0.0f) {
                    continue;
                }
                expectSection(*box, dgPlane(n, -(n % c[i])), 1e-5f);
                expectSection(*box, dgPlane(n.scale(-1.0f), n % c[i]), 1e-5f);
            }
        }
    }
    // Planes through one corner in general directions.
    std::mt19937 rng(9);
    for (int32_t n = 0; n < 500; n++) {
        std::uniform_int_distribution<int32_t> pick(-3, 3);
        const dgVector normal(float(pick(rng)), float(pick(rng)), float(pick(rng)), 0.0f);
        if ((normal % normal) == 0.0f) {
            continue;
        }
        const dgVector& corner = c[n % 8];
        expectSection(*box, dgPlane(normal, -(normal % corner)), 1e-5f);
    }
}

// The shared table's order, which the contact code relies on; its life and
// its closed structure are the shape kinds' suite's.
TEST(Box, EdgeTableRunsByDestinationThenOrigin) {
    BoxHolder box = makeBox(1.0f, 2.0f, 3.0f);
    EXPECT_EQ(dgRefCast<dgCollisionBox>(static_cast<dgRef*>(box.get())), box.get());
    const dgConvexEdge* table = box->getEdges();
    int64_t lastKey = -1;
    for (int32_t i = 0; i < 24; i++) {
        const dgConvexEdge& e = table[i];
        const int64_t key = int64_t(e.m_twin->m_vertex) * 8 + e.m_vertex;
        EXPECT_GT(key, lastKey);
        lastKey = key;
        if (i < 12) {
            EXPECT_LT(e.m_twin->m_vertex, 4u);
        }
    }
}

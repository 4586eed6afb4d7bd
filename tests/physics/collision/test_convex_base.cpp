// The convex base on its own, through polyhedra given by their faces: the
// edge table it builds, its volume integrals and their closed forms, the
// support climb's ties, the angle grid, the convexity test, the segment box
// test and the reduction of long contours. What every convex shape answers
// (support, rays, mass, walk, box, sections, submerged volume) is the shape
// properties' suite's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgCollisionConvexHull.h"
#include "dgConvexCollision.h"
#include "dgEdgeMesh.h"
#include "dgVolumeIntegrals.h"

namespace {

using namespace shapetest;

typedef dgRefHolder<TestHull> HullRef;

HullRef makeBox(float hx, float hy, float hz) {
    return HullRef::adopt(new TestHull(boxCorners(hx, hy, hz), boxFaces()));
}

// Prism along x over a regular polygon of `sides` corners and radius r.
HullRef makePrism(int32_t sides, float hx, float r) {
    std::vector<dgVector> v;
    std::vector<std::vector<int32_t>> f;
    std::vector<int32_t> capPlus, capMinus;
    for (int32_t i = 0; i < sides; i++) {
        const double a = 2.0 * kPi * i / sides;
        v.push_back(dgVector(hx, float(r * std::cos(a)), float(r * std::sin(a)), 1.0f));
        v.push_back(dgVector(-hx, float(r * std::cos(a)), float(r * std::sin(a)), 1.0f));
        const int32_t j = (i + 1) % sides;
        f.push_back({2 * i, 2 * i + 1, 2 * j + 1, 2 * j});
        capPlus.push_back(2 * i);
        capMinus.insert(capMinus.begin(), 2 * i + 1);
    }
    f.push_back(capPlus);
    f.push_back(capMinus);
    return HullRef::adopt(new TestHull(v, f));
}

dgVector unit(const dgVector& v) {
    return v.scale(1.0f / std::sqrt(v % v));
}

}  // namespace

TEST(ConvexBase, EdgeTableIsAClosedHalfEdgeStructure) {
    HullRef box = makeBox(1, 2, 3);
    ASSERT_EQ(box->getEdgeCount(), 24);
    ASSERT_EQ(box->getVertexCount(), 8);
    const dgConvexEdge* edges = box->getEdges();
    for (int32_t i = 0; i < 24; i++) {
        const dgConvexEdge& e = edges[i];
        EXPECT_EQ(e.m_twin->m_twin, &e);
        EXPECT_EQ(e.m_next->m_prev, &e);
        EXPECT_EQ(e.m_prev->m_next, &e);
        EXPECT_EQ(e.m_twin->m_vertex, e.m_next->m_vertex);
        EXPECT_NE(e.m_vertex, e.m_twin->m_vertex);
    }
    // Entries follow the mesh's key order: by destination, then origin.
    for (int32_t i = 1; i < 24; i++) {
        const dgConvexEdge& a = edges[i - 1];
        const dgConvexEdge& b = edges[i];
        const uint64_t ka = (uint64_t(a.m_twin->m_vertex) << 32) + a.m_vertex;
        const uint64_t kb = (uint64_t(b.m_twin->m_vertex) << 32) + b.m_vertex;
        EXPECT_LT(ka, kb);
    }
}

TEST(ConvexBase, TetrahedronMassPropertiesMatchClosedForms) {
    // Tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1), faces outward.
    HullRef tet = HullRef::adopt(
        new TestHull({dgVector(0, 0, 0, 1), dgVector(1, 0, 0, 1), dgVector(0, 1, 0, 1), dgVector(0, 0, 1, 1)},
                     {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}}));
    EXPECT_NEAR(tet->getCentreOfMass().w, 1.0f / 6.0f, 1e-6f);
    EXPECT_NEAR(tet->getCentreOfMass().x, 0.25f, 1e-5f);
    EXPECT_NEAR(tet->getCentreOfMass().y, 0.25f, 1e-5f);
    EXPECT_NEAR(tet->getCentreOfMass().z, 0.25f, 1e-5f);

    dgVector diagonal, products, first;
    EXPECT_NEAR(tet->calcVolumeIntegrals(diagonal, products, first), 1.0f / 6.0f, 1e-6f);
    // Integrals of x^2 over the corner tetrahedron are 1/60 each (T2 keeps
    // them times 3), of xy 1/120 (TP keeps them times 2).
    EXPECT_NEAR(diagonal.x, 2.0f * 3.0f / 60.0f, 1e-6f);
    EXPECT_NEAR(products.x, 2.0f / 120.0f, 1e-6f);
    EXPECT_NEAR(products.y, 2.0f / 120.0f, 1e-6f);
    EXPECT_NEAR(products.z, 2.0f / 120.0f, 1e-6f);
    EXPECT_NEAR(first.x, 2.0f / 24.0f, 1e-6f);
    EXPECT_EQ(diagonal.w, 1.0f);

    dgVector inertia, origin;
    tet->calcInertia(inertia, origin);
    // (2/60) / (1/6) - 2 (1/4)^2
    EXPECT_NEAR(inertia.x, 0.075f, 1e-5f);
    EXPECT_NEAR(inertia.y, 0.075f, 1e-5f);
    EXPECT_NEAR(inertia.z, 0.075f, 1e-5f);
    EXPECT_NEAR(origin.x, 0.25f, 1e-5f);
}

TEST(ConvexBase, TinyVolumeKeepsItsCentroid) {
    // Volume 0.0005 around (1, 0, 0): the stored volume is exact and the
    // centroid is divided by it, not by a floor.
    std::vector<dgVector> corners(boxCorners(0.05f, 0.05f, 0.025f));
    for (dgVector& c : corners) {
        c.x += 1.0f;
    }
    HullRef box = HullRef::adopt(new TestHull(corners, boxFaces()));
    EXPECT_NEAR(box->getCentreOfMass().w, 0.0005f, 1e-8f);
    EXPECT_NEAR(box->getCentreOfMass().x, 1.0f, 1e-5f);
}

TEST(ConvexBase, SupportVertexZeroDirectionAndTies) {
    HullRef box = makeBox(1, 2, 3);
    const dgVector* vertices = box->getVertices();
    const dgVector zero(box->supportVertex(dgVector(0, 0, 0, 0)));
    const dgVector first(vertices[box->getEdges()[0].m_vertex]);
    EXPECT_EQ(std::memcmp(&zero, &first, sizeof(dgVector)), 0);

    // Four corners tie along +x; the walk stays where the +x start edge is.
    const dgVector s(box->supportVertex(dgVector(1, 0, 0, 0)));
    const dgVector start(vertices[box->getStartEdge(dgConvexCollision::dgStartPlusX)->m_vertex]);
    EXPECT_EQ(std::memcmp(&s, &start, sizeof(dgVector)), 0);
    EXPECT_EQ(s.x, 1.0f);
    // The start edges leave the extreme vertices.
    for (int32_t axis = 0; axis < 3; axis++) {
        const float plus = vertices[box->getStartEdge(2 * axis)->m_vertex][axis];
        const float minus = vertices[box->getStartEdge(2 * axis + 1)->m_vertex][axis];
        EXPECT_EQ(plus, float(axis + 1));
        EXPECT_EQ(minus, -float(axis + 1));
    }
}

TEST(ConvexBase, AngleStepFollowsTheRadius) {
    EXPECT_EQ(dgCalcAngleStep(0.1f), 6.28318f / 128.0f);
    EXPECT_EQ(dgCalcAngleStep(0.4f), 6.28318f / 128.0f);
    EXPECT_EQ(dgCalcAngleStep(2.0f), 6.28318f / 512.0f);
    EXPECT_EQ(dgCalcAngleStep(4.0f), 6.28318f / 1024.0f);
    EXPECT_EQ(dgCalcAngleStep(10.0f), 6.28318f / 1024.0f);
    EXPECT_NE(dgCalcAngleStep(10.0f), float(2.0 * 3.14159265358979 / 1024.0));
}

TEST(ConvexBase, ConvexMeshTest) {
    HullRef box = makeBox(1, 1, 1);
    {
        dgEdgeMesh empty;
        EXPECT_TRUE(box->isConvexMesh(empty));
    }
    {
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (const auto& face : boxFaces()) {
            mesh.dgEdgeMeshAddFace(int32_t(face.size()), face.data());
        }
        mesh.dgEdgeMeshEndFace();
        EXPECT_TRUE(box->isConvexMesh(mesh));
    }
    {
        // Five faces: the missing one leaves an open loop.
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (size_t i = 0; i < 5; i++) {
            mesh.dgEdgeMeshAddFace(int32_t(boxFaces()[i].size()), boxFaces()[i].data());
        }
        mesh.dgEdgeMeshEndFace();
        EXPECT_FALSE(box->isConvexMesh(mesh));
    }
    {
        // The box's faces with the +y quad's corner 0 pushed inward: a dent
        // (vertex array of a shape built around it).
        std::vector<dgVector> corners(boxCorners(1, 1, 1));
        corners[0] = dgVector(0.2f, 0.2f, 0.2f, 1.0f);
        std::vector<std::vector<int32_t>> triangles;
        for (const auto& face : boxFaces()) {
            triangles.push_back({face[0], face[1], face[2]});
            triangles.push_back({face[0], face[2], face[3]});
        }
        HullRef dented = HullRef::adopt(new TestHull(corners, triangles));
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (const auto& t : triangles) {
            mesh.dgEdgeMeshAddFace(3, t.data());
        }
        mesh.dgEdgeMeshEndFace();
        EXPECT_FALSE(dented->isConvexMesh(mesh));
    }
}

// The two face integrators agree on the volume and first moments of a
// symmetric hull's faces, which give its centre.
TEST(ConvexBase, VolumeIntegralFacesAgree) {
    std::mt19937 rng(3);
    std::vector<float> cloud;
    // Symmetric about its centre, which is then the centroid.
    for (int32_t i = 0; i < 30; i++) {
        const dgVector d(randomUnit(rng));
        cloud.insert(cloud.end(), {0.5f + 2.0f * d.x, -1.0f + 2.0f * d.y, 2.0f + 2.0f * d.z});
        cloud.insert(cloud.end(), {0.5f - 2.0f * d.x, -1.0f - 2.0f * d.y, 2.0f - 2.0f * d.z});
    }
    dgRefHolder<dgCollisionConvexHull> hull = dgRefHolder<dgCollisionConvexHull>::adopt(
        new dgCollisionConvexHull(1u, 60, 3 * int32_t(sizeof(float)), cloud.data(), dgGetIdentityMatrix()));
    dgVolumeIntegrals first;
    dgVolumeIntegrals second;
    for (int32_t i = 0; i < hull->getFaceCount(); i++) {
        const dgConvexEdge* e = hull->getFaceArray()[i];
        const dgVector pts[3] = {hull->getVertices()[e->m_vertex], hull->getVertices()[e->m_next->m_vertex],
                                 hull->getVertices()[e->m_prev->m_vertex]};
        float packed[9];
        for (int32_t k = 0; k < 3; k++) {
            packed[3 * k + 0] = pts[k].x;
            packed[3 * k + 1] = pts[k].y;
            packed[3 * k + 2] = pts[k].z;
        }
        dgPlane plane(pts[0], pts[1], pts[2]);
        const float s = 1.0f / std::sqrt(plane % plane);
        first.addFace(3, dgPlane(plane.x * s, plane.y * s, plane.z * s, plane.w * s), pts);
        second.addFaceWithInertia(3, packed);
    }
    EXPECT_NEAR(first.T0, second.T0, 1e-4f);
    const float centre[3] = {0.5f, -1.0f, 2.0f};
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_NEAR(first.T1[i], second.T1[i], 1e-3f);
        EXPECT_NEAR(first.T1[i] * 0.5f / first.T0, centre[i], 2e-3f);
    }
}

TEST(ConvexBase, PlaneHelpers) {
    const dgPlane plane(dgVector(0, 1, 0, 1), dgVector(0, 1, 1, 1), dgVector(1, 1, 0, 1));
    EXPECT_EQ(plane.x, 0.0f);
    EXPECT_EQ(plane.y, 1.0f);
    EXPECT_EQ(plane.w, -1.0f);

    std::mt19937 rng(11);
    for (int32_t i = 0; i < 50; i++) {
        const dgMatrix m(randomPose(rng, 3.0f));
        const dgVector n(randomUnit(rng));
        const dgPlane global(n, 0.7f);
        const dgPlane local(m.untransformPlane(global));
        // A local point has the same plane value as its global image.
        const dgVector p(0.3f, -0.4f, 2.0f, 1.0f);
        EXPECT_NEAR(local.evaluate(p), global.evaluate(m.transformVector(p)), 1e-4f);
    }
}

TEST(ConvexBase, EmptyPolyhedronIsHarmless) {
    class Empty : public dgConvexCollision {
    public:
        Empty() : dgConvexCollision(0, dgGetIdentityMatrix(), dgShapeNull) { initMassAndBox(); }
        void setCollisionBBox(const dgVector&, const dgVector&) override {}
        uint32_t calcSignature() const override { return 0; }
    };
    dgRefHolder<Empty> empty = dgRefHolder<Empty>::adopt(new Empty());
    const dgVector s(empty->supportVertex(dgVector(1, 0, 0, 0)));
    EXPECT_EQ(s.x, 0.0f);
    dgBody body(placedBody(dgGetIdentityMatrix()));
    EXPECT_EQ(empty->forEachPolygon(&body, [](const dgBody*, int32_t, const float*, int32_t) {}), 0);
    EXPECT_EQ(empty->getVolume(), 0.0f);
    EXPECT_EQ(empty->findSupportEdge(dgVector(1, 0, 0, 0)), nullptr);
}

TEST(ConvexBase, SegmentBoxTestCountsTouching) {
    HullRef box = makeBox(1, 2, 3);
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(5, 0, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(-1, 0, 0, 1)));
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 0, 0, 1), dgVector(-1.01f, 0, 0, 1)));
    // Along a face plane: touching.
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(-5, 2, 0, 1), dgVector(5, 2, 0, 1)));
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 2.01f, 0, 1), dgVector(5, 2.01f, 0, 1)));
    // Crosses the x slab above the box.
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(-5, 3, 0, 1), dgVector(5, 3, 0, 1)));
    // Diagonal past a corner.
    EXPECT_FALSE(box->segmentHitsLocalBox(dgVector(0, 3.1f, 0, 1), dgVector(2, 1.1f, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(0, 3, 0, 1), dgVector(2, 1, 0, 1)));
    EXPECT_TRUE(box->segmentHitsLocalBox(dgVector(0, 2.9f, 0, 1), dgVector(1.5f, 0.5f, 0, 1)));
}

TEST(ConvexBase, ManySidedPrismIsReducedToTwelveConvexPoints) {
    const int32_t sides = 200;
    HullRef prism = makePrism(sides, 1.0f, 1.0f);
    EXPECT_NEAR(prism->getCentreOfMass().w, 2.0 * sides * std::sin(2.0 * kPi / sides) * 0.5, 1e-3);
    std::mt19937 rng(33);
    for (int32_t trial = 0; trial < 50; trial++) {
        // Across the axis, tilted a little: up to 200 crossings.
        const dgVector n(unit(dgVector(1.0f, 0.2f * randomUnit(rng).y, 0.2f * randomUnit(rng).z, 0)));
        const dgVector q(0.1f * randomUnit(rng).x, 0, 0, 1);
        // Heap storage of exactly the documented size, so a write past it is
        // caught under the address sanitizer.
        std::vector<dgVector> points(dgPlaneIntersectionMaxPoints);
        const int32_t count = prism->calcPlaneIntersection(n, q, points.data());
        ASSERT_EQ(count, 12) << "trial " << trial;
        double winding = 0.0;
        for (int32_t i = 0; i < count; i++) {
            const dgVector& a = points[size_t((i + count - 1) % count)];
            const dgVector& b = points[size_t(i)];
            const dgVector& c = points[size_t((i + 1) % count)];
            EXPECT_NEAR(b % n, q % n, 1e-5f);
            EXPECT_NEAR(b.y * b.y + b.z * b.z, 1.0f, 2e-3f);
            const float turn = (b - a).cross(c - b) % n;
            EXPECT_GT(turn, 0.0f);
            winding += std::atan2(double(turn), double((b - a) % (c - b)));
        }
        EXPECT_NEAR(winding, 2.0 * kPi, 1e-3);
    }
    // Lengthwise: a rectangle.
    dgVector points[dgPlaneIntersectionMaxPoints];
    EXPECT_EQ(prism->calcPlaneIntersection(dgVector(0, 0, 1, 0), dgVector(0, 0, 0.3f, 1), points), 4);
}

TEST(ConvexBase, ReducePolygonDropsFlattestCornersNeverTwoNeighboursInOnePass) {
    // Twelve corners of a regular polygon with a nearly straight extra point
    // in eight of the twelve sides.
    std::vector<dgVector> points;
    std::vector<bool> flat;
    const int32_t corners = 12;
    for (int32_t i = 0; i < corners; i++) {
        const double a0 = 2.0 * kPi * i / corners;
        const double a1 = 2.0 * kPi * (i + 1) / corners;
        points.push_back(dgVector(float(std::cos(a0)), float(std::sin(a0)), 0, 1));
        flat.push_back(false);
        if (i % 3 != 2) {
            // Slightly out of the side, more or less flat.
            const double bulge = 1.0 + 0.002 * (i + 1);
            const double am = 0.5 * (a0 + a1);
            const double rm = std::cos(0.5 * (a1 - a0)) * bulge;
            points.push_back(dgVector(float(rm * std::cos(am)), float(rm * std::sin(am)), 0, 1));
            flat.push_back(true);
        }
    }
    ASSERT_EQ(points.size(), 20u);
    std::vector<dgVector> work(points);
    const int32_t count =
        dgConvexCollision::reducePolygon(int32_t(work.size()), dgVector(0, 0, 1, 0), work.data(), 12);
    ASSERT_EQ(count, 12);
    size_t k = 0;
    for (size_t i = 0; i < points.size(); i++) {
        if (!flat[i]) {
            ASSERT_LT(k, size_t(count));
            EXPECT_EQ(work[k].x, points[i].x);
            EXPECT_EQ(work[k].y, points[i].y);
            k++;
        }
    }

    // Twenty equal corners: one pass can take at most every other one, so the
    // first pass removes 8 that are pairwise apart.
    std::vector<dgVector> ring;
    for (int32_t i = 0; i < 20; i++) {
        const double a = 2.0 * kPi * i / 20;
        ring.push_back(dgVector(float(std::cos(a)), float(std::sin(a)), 0, 1));
    }
    std::vector<dgVector> reduced(ring);
    ASSERT_EQ(dgConvexCollision::reducePolygon(20, dgVector(0, 0, 1, 0), reduced.data(), 12), 12);
    std::vector<bool> kept(20, false);
    size_t r = 0;
    for (int32_t i = 0; i < 20 && r < 12; i++) {
        if (reduced[r].x == ring[size_t(i)].x && reduced[r].y == ring[size_t(i)].y) {
            kept[size_t(i)] = true;
            r++;
        }
    }
    ASSERT_EQ(r, 12u) << "kept points are not an ordered subset";
    for (int32_t i = 0; i < 20; i++) {
        EXPECT_TRUE(kept[size_t(i)] || kept[size_t((i + 1) % 20)]) << "two neighbours removed at " << i;
    }
    // Nothing to do at or below the maximum.
    EXPECT_EQ(dgConvexCollision::reducePolygon(5, dgVector(0, 0, 1, 0), reduced.data(), 12), 5);
}

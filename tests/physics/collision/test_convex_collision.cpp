#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "CountingHooks.h"
#include "ShapeTestUtils.h"
#include "dgBody.h"
#include "dgConvexCollision.h"
#include "dgEdgeMesh.h"
#include "dgMemory.h"
#include "dgVolumeIntegrals.h"

namespace {

using shapetest::randomUnit;

const dgMatrix& identity() {
    return dgGetIdentityMatrix();
}

dgMatrix translation(float x, float y, float z) {
    dgMatrix m(identity());
    m.position = dgVector(x, y, z, 1.0f);
    return m;
}

// A convex polyhedron from explicit vertices and outward faces; owns its
// arrays (dgMalloc), as a convex hull does.
class TestHull : public dgConvexCollision {
    DG_DECLARE_CLASS(TestHull, dgConvexCollision)

public:
    TestHull(const std::vector<dgVector>& vertices, const std::vector<std::vector<int32_t>>& faces,
             const dgMatrix& offset = dgGetIdentityMatrix())
        : dgConvexCollision(0x5151u, offset, dgShapeConvexHull) {
        m_vertexCount = uint16_t(vertices.size());
        m_vertices = static_cast<dgVector*>(dgMalloc(sizeof(dgVector) * vertices.size()));
        for (size_t i = 0; i < vertices.size(); i++) {
            m_vertices[i] = vertices[i];
            m_vertices[i].w = 1.0f;
        }
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (const std::vector<int32_t>& face : faces) {
            mesh.dgEdgeMeshAddFace(int32_t(face.size()), face.data());
        }
        mesh.dgEdgeMeshEndFace();
        const int32_t count = mesh.getEdgeCount();
        m_edges = static_cast<dgConvexEdge*>(dgMalloc(sizeof(dgConvexEdge) * size_t(count)));
        m_edgeCount = uint16_t(fillEdgeTable(mesh, m_edges, count));
        initMassAndBox();
    }

    void setCollisionBBox(const dgVector&, const dgVector&) override {}
    uint32_t calcSignature() const override {
        return dgShapeSignature(getShapeType(), nullptr, 0, m_offsetMatrix);
    }
};

std::vector<dgVector> boxCorners(float hx, float hy, float hz, const dgVector& shift = dgVector(0, 0, 0, 0)) {
    std::vector<dgVector> v;
    for (int32_t i = 0; i < 8; i++) {
        v.push_back(dgVector((i & 1) ? -hx : hx, (i & 2) ? -hy : hy, (i & 4) ? -hz : hz, 1.0f) + shift);
    }
    return v;
}

const std::vector<std::vector<int32_t>>& boxFaces() {
    static const std::vector<std::vector<int32_t>> faces = {{0, 4, 5, 1}, {0, 1, 3, 2}, {1, 5, 7, 3},
                                                            {5, 4, 6, 7}, {4, 0, 2, 6}, {6, 2, 3, 7}};
    return faces;
}

TestHull* makeBox(float hx, float hy, float hz, const dgMatrix& offset = dgGetIdentityMatrix()) {
    return new TestHull(boxCorners(hx, hy, hz), boxFaces(), offset);
}

// Tetrahedron (0,0,0), (a,0,0), (0,a,0), (0,0,a), faces outward.
TestHull* makeCornerTetrahedron(float a) {
    return new TestHull(
        {dgVector(0, 0, 0, 1), dgVector(a, 0, 0, 1), dgVector(0, a, 0, 1), dgVector(0, 0, a, 1)},
        {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
}

dgVector normalise(const dgVector& v) {
    const float s = 1.0f / std::sqrt(v % v);
    return dgVector(v.x * s, v.y * s, v.z * s, v.w);
}

void subdivide(int32_t level, const dgVector& p0, const dgVector& p1, const dgVector& p2,
               std::vector<dgVector>& out) {
    if (level == 0) {
        out.push_back(p0);
        out.push_back(p1);
        out.push_back(p2);
        return;
    }
    const dgVector m01(normalise(p0 + p1));
    const dgVector m12(normalise(p1 + p2));
    const dgVector m20(normalise(p2 + p0));
    subdivide(level - 1, p0, m01, m20, out);
    subdivide(level - 1, p1, m12, m01, out);
    subdivide(level - 1, p2, m20, m12, out);
    subdivide(level - 1, m01, m12, m20, out);
}

// Triangle corners of the unit octahedron subdivided `level` times.
std::vector<dgVector> sphereTriangles(int32_t level) {
    const dgVector px(1, 0, 0, 1), nx(-1, 0, 0, 1), py(0, 1, 0, 1), ny(0, -1, 0, 1), pz(0, 0, 1, 1),
        nz(0, 0, -1, 1);
    const dgVector faces[8][3] = {{pz, px, py}, {pz, py, nx}, {pz, nx, ny}, {pz, ny, px},
                                  {nz, py, px}, {nz, nx, py}, {nz, ny, nx}, {nz, px, ny}};
    std::vector<dgVector> out;
    for (const auto& f : faces) {
        subdivide(level, f[0], f[1], f[2], out);
    }
    return out;
}

// Welds exactly equal corners into a vertex list and triangle index faces.
void weld(const std::vector<dgVector>& corners, float scale, std::vector<dgVector>& vertices,
          std::vector<std::vector<int32_t>>& faces) {
    std::vector<int32_t> index;
    for (const dgVector& c : corners) {
        int32_t found = -1;
        for (size_t j = 0; j < vertices.size(); j++) {
            if (vertices[j].x == c.x * scale && vertices[j].y == c.y * scale &&
                vertices[j].z == c.z * scale) {
                found = int32_t(j);
            }
        }
        if (found < 0) {
            found = int32_t(vertices.size());
            vertices.push_back(dgVector(c.x * scale, c.y * scale, c.z * scale, 1.0f));
        }
        index.push_back(found);
    }
    for (size_t i = 0; i < index.size(); i += 3) {
        faces.push_back({index[i], index[i + 1], index[i + 2]});
    }
}

// A round shape the way the curved primitives are made: a coarse polyhedron
// (18 vertices) for the support climb, and a fine face walk (512 triangles)
// that the mass properties must come from.
class FineSphere : public TestHull {
    DG_DECLARE_CLASS(FineSphere, TestHull)

public:
    explicit FineSphere(const std::vector<dgVector>& v, const std::vector<std::vector<int32_t>>& f,
                        const dgMatrix& offset)
        : TestHull(v, f, offset) {}

    static FineSphere* create(const dgMatrix& offset = dgGetIdentityMatrix()) {
        std::vector<dgVector> v;
        std::vector<std::vector<int32_t>> f;
        weld(sphereTriangles(1), 1.0f, v, f);
        return new FineSphere(v, f, offset);
    }

    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override {
        const dgMatrix combined(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)));
        const std::vector<dgVector> corners(sphereTriangles(3));
        for (size_t i = 0; i < corners.size(); i += 3) {
            float tri[9];
            for (int32_t k = 0; k < 3; k++) {
                const dgVector p(combined.transformVector(corners[i + size_t(k)]));
                tri[3 * k + 0] = p.x;
                tri[3 * k + 1] = p.y;
                tri[3 * k + 2] = p.z;
            }
            callback(body, 3, tri, 0);
        }
        return int32_t(corners.size() / 3);
    }
};

dgMatrix randomRotation(std::mt19937& rng) {
    std::uniform_real_distribution<float> angle(-3.14159f, 3.14159f);
    return dgRotationMatrixX(angle(rng)) * dgRotationMatrixY(angle(rng)) * dgRotationMatrixZ(angle(rng));
}

}  // namespace

TEST(ConvexCollision, EdgeTableIsAClosedHalfEdgeStructure) {
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 2, 3));
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

TEST(ConvexCollision, BoxMassPropertiesMatchClosedForms) {
    const float hx = 1.0f, hy = 2.0f, hz = 3.0f;
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(hx, hy, hz));
    const float volume = 8.0f * hx * hy * hz;
    EXPECT_NEAR(box->getCentreOfMass().w, volume, 1e-4f);
    EXPECT_NEAR(box->getVolume(), volume, 1e-4f);

    dgVector inertia(9, 9, 9, 7.0f), origin(9, 9, 9, 5.0f);
    box->calcInertia(inertia, origin);
    EXPECT_NEAR(inertia.x, (hy * hy + hz * hz) / 3.0f, 1e-4f);
    EXPECT_NEAR(inertia.y, (hx * hx + hz * hz) / 3.0f, 1e-4f);
    EXPECT_NEAR(inertia.z, (hx * hx + hy * hy) / 3.0f, 1e-4f);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-5f);
    // Only x, y, z are written.
    EXPECT_EQ(inertia.w, 7.0f);
    EXPECT_EQ(origin.w, 5.0f);
}

TEST(ConvexCollision, TetrahedronMassPropertiesMatchClosedForms) {
    dgRefHolder<TestHull> tet = dgRefHolder<TestHull>::adopt(makeCornerTetrahedron(1.0f));
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

TEST(ConvexCollision, OffsetMatrixMovesCentreAndTurnsInertia) {
    // Rotating a (1, 2, 3) box a quarter turn about y swaps its x and z axes.
    dgMatrix offset(dgRotationMatrixY(1.5707963f));
    offset.position = dgVector(1.0f, -2.0f, 0.5f, 1.0f);
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 2, 3, offset));
    dgVector inertia, origin;
    box->calcInertia(inertia, origin);
    EXPECT_NEAR(origin.x, 1.0f, 1e-4f);
    EXPECT_NEAR(origin.y, -2.0f, 1e-4f);
    EXPECT_NEAR(origin.z, 0.5f, 1e-4f);
    EXPECT_NEAR(inertia.x, (4.0f + 1.0f) / 3.0f, 1e-3f);
    EXPECT_NEAR(inertia.y, (9.0f + 1.0f) / 3.0f, 1e-3f);
    EXPECT_NEAR(inertia.z, (9.0f + 4.0f) / 3.0f, 1e-3f);
    EXPECT_NEAR(box->getVolume(), 48.0f, 1e-3f);
    // The stored centre stays in the shape's own frame.
    EXPECT_NEAR(box->getCentreOfMass().x, 0.0f, 1e-5f);
}

TEST(ConvexCollision, TinyVolumeKeepsItsCentroid) {
    // Volume 0.0005 around (1, 0, 0): the stored volume is exact and the
    // centroid is divided by it, not by a floor.
    std::vector<dgVector> corners(boxCorners(0.05f, 0.05f, 0.025f, dgVector(1, 0, 0, 0)));
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(new TestHull(corners, boxFaces()));
    EXPECT_NEAR(box->getCentreOfMass().w, 0.0005f, 1e-8f);
    EXPECT_NEAR(box->getCentreOfMass().x, 1.0f, 1e-5f);
}

TEST(ConvexCollision, MassWalkUsesTheShapesOwnFaces) {
    dgRefHolder<FineSphere> sphere = dgRefHolder<FineSphere>::adopt(FineSphere::create());
    // Coarse polyhedron (18 vertices) versus the 512-triangle walk.
    EXPECT_NEAR(sphere->getCentreOfMass().w, 2.94f, 0.01f);
    const float volume = sphere->getVolume();
    EXPECT_NEAR(volume, 4.09f, 0.01f);
    EXPECT_LT(volume, 4.0f * 3.14159265f / 3.0f);
    dgVector inertia, origin;
    sphere->calcInertia(inertia, origin);
    // A solid unit ball has 2/5; the inscribed polyhedron slightly less.
    EXPECT_NEAR(inertia.x, 0.4f, 0.01f);
    EXPECT_NEAR(inertia.x, inertia.y, 1e-4f);
    EXPECT_NEAR(inertia.x, inertia.z, 1e-4f);
}

TEST(ConvexCollision, SupportVertexMatchesBruteForce) {
    std::mt19937 rng(7);
    // An ellipsoid-like polyhedron: 66 vertices, stretched per axis.
    std::vector<dgVector> v;
    std::vector<std::vector<int32_t>> f;
    weld(sphereTriangles(2), 1.0f, v, f);
    for (dgVector& p : v) {
        p = dgVector(p.x * 3.0f, p.y * 0.5f, p.z * 1.5f, 1.0f);
    }
    dgRefHolder<TestHull> hull = dgRefHolder<TestHull>::adopt(new TestHull(v, f));
    ASSERT_EQ(hull->getVertexCount(), 66);
    for (int32_t i = 0; i < 2000; i++) {
        const dgVector d(randomUnit(rng));
        float best = -1e30f;
        for (const dgVector& p : v) {
            best = std::max(best, p % d);
        }
        const dgVector s(hull->supportVertex(d));
        EXPECT_NEAR(s % d, best, 1e-5f) << "direction " << d.x << " " << d.y << " " << d.z;
        EXPECT_EQ(s.w, 1.0f);
    }
}

TEST(ConvexCollision, SupportVertexZeroDirectionAndTies) {
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 2, 3));
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

TEST(ConvexCollision, LocalBoxAndBoundsUnderRotation) {
    dgRefHolder<TestHull> unit = dgRefHolder<TestHull>::adopt(makeBox(1, 1, 1));
    dgMatrix m(dgRotationMatrixY(0.78539816f));
    m.position = dgVector(5, 6, 7, 1);
    dgVector lo, hi;
    unit->calcAABB(m, lo, hi);
    EXPECT_NEAR(hi.x - 5.0f, std::sqrt(2.0f), 1e-5f);
    EXPECT_NEAR(hi.z - 7.0f, std::sqrt(2.0f), 1e-5f);
    EXPECT_NEAR(hi.y - 6.0f, 1.0f, 1e-5f);
    EXPECT_NEAR(lo.x - 5.0f, -std::sqrt(2.0f), 1e-5f);
    EXPECT_EQ(lo.w, 1.0f);
    EXPECT_EQ(hi.w, 1.0f);

    // An off-centre polyhedron under random rotations: exactly the bounds of
    // its transformed corners.
    std::mt19937 rng(3);
    std::vector<dgVector> corners(boxCorners(0.5f, 1.5f, 2.0f, dgVector(1.0f, -3.0f, 0.25f, 0.0f)));
    dgRefHolder<TestHull> hull = dgRefHolder<TestHull>::adopt(new TestHull(corners, boxFaces()));
    EXPECT_NEAR(hull->getBoxCentre().y, -3.0f, 1e-6f);
    EXPECT_EQ(hull->getBoxCentre().w, 0.0f);
    EXPECT_NEAR(hull->getBoxHalfSize().z, 2.0f, 1e-6f);
    for (int32_t i = 0; i < 200; i++) {
        dgMatrix r(randomRotation(rng));
        r.position = dgVector(float(i) * 0.1f, -2.0f, 3.0f, 1.0f);
        hull->calcAABB(r, lo, hi);
        for (int32_t axis = 0; axis < 3; axis++) {
            float mn = 1e30f, mx = -1e30f;
            for (const dgVector& c : corners) {
                const float value = r.transformVector(c)[axis];
                mn = std::min(mn, value);
                mx = std::max(mx, value);
            }
            EXPECT_NEAR(lo[axis], mn, 1e-4f);
            EXPECT_NEAR(hi[axis], mx, 1e-4f);
        }
    }
}

namespace {

struct WalkRecord {
    dgMatrix matrix;
    const dgBody* seen;
    int32_t faces;
    int32_t corners;
    float maxPlaneError;
    dgVector centre;
};

void recordFace(const dgBody* body, int32_t count, const float* points, int32_t faceId) {
    WalkRecord* record = static_cast<WalkRecord*>(body->m_userData);
    record->seen = body;
    record->faces++;
    record->corners += count;
    EXPECT_EQ(faceId, 0);
    // Planar, and the outward normal points away from the shape's centre.
    const dgPlane plane(dgVector::dgVector3(points), dgVector::dgVector3(points + 3),
                        dgVector::dgVector3(points + 6));
    for (int32_t i = 0; i < count; i++) {
        record->maxPlaneError =
            std::max(record->maxPlaneError, std::fabs(plane.evaluate(dgVector::dgVector3(points + 3 * i))));
    }
    EXPECT_LT(plane.evaluate(record->centre), 0.0f);
}

}  // namespace

TEST(ConvexCollision, FaceWalkPlacesFacesByOffsetThenMatrix) {
    const dgMatrix offset(translation(0.0f, 10.0f, 0.0f));
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 2, 3, offset));
    WalkRecord record;
    record.matrix = dgRotationMatrixZ(1.5707963f);
    record.matrix.position = dgVector(100, 0, 0, 1);
    record.seen = nullptr;
    record.faces = 0;
    record.corners = 0;
    record.maxPlaneError = 0.0f;
    // Offset first: (0, 10, 0), then a quarter turn about z maps y to -x.
    record.centre = dgVector(90, 0, 0, 1);
    dgBody body(shapetest::placedBody(record.matrix));
    body.m_userData = &record;
    const int32_t walked = box->forEachPolygon(&body, recordFace);
    EXPECT_EQ(walked, 24);
    EXPECT_EQ(record.faces, 6);
    EXPECT_EQ(record.corners, 24);
    EXPECT_EQ(record.seen, &body);
    EXPECT_LT(record.maxPlaneError, 1e-3f);
}

TEST(ConvexCollision, AngleStepFollowsTheRadius) {
    EXPECT_EQ(dgCalcAngleStep(0.1f), 6.28318f / 128.0f);
    EXPECT_EQ(dgCalcAngleStep(0.4f), 6.28318f / 128.0f);
    EXPECT_EQ(dgCalcAngleStep(2.0f), 6.28318f / 512.0f);
    EXPECT_EQ(dgCalcAngleStep(4.0f), 6.28318f / 1024.0f);
    EXPECT_EQ(dgCalcAngleStep(10.0f), 6.28318f / 1024.0f);
    EXPECT_NE(dgCalcAngleStep(10.0f), float(2.0 * 3.14159265358979 / 1024.0));
}

TEST(ConvexCollision, ConvexMeshTest) {
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 1, 1));
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
        dgRefHolder<TestHull> dented = dgRefHolder<TestHull>::adopt(new TestHull(corners, triangles));
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshBeginFace();
        for (const auto& t : triangles) {
            mesh.dgEdgeMeshAddFace(3, t.data());
        }
        mesh.dgEdgeMeshEndFace();
        EXPECT_FALSE(dented->isConvexMesh(mesh));
    }
}

TEST(ConvexCollision, VolumeIntegralFacesAgree) {
    // The two face integrators agree on volume and first moments.
    std::vector<dgVector> v;
    std::vector<std::vector<int32_t>> f;
    weld(sphereTriangles(1), 2.0f, v, f);
    dgVolumeIntegrals first;
    dgVolumeIntegrals second;
    for (const auto& face : f) {
        dgVector pts[3];
        float packed[9];
        for (int32_t k = 0; k < 3; k++) {
            pts[k] = v[size_t(face[size_t(k)])] + dgVector(0.5f, -1.0f, 2.0f, 0.0f);
            packed[3 * k + 0] = pts[k].x;
            packed[3 * k + 1] = pts[k].y;
            packed[3 * k + 2] = pts[k].z;
        }
        dgPlane plane(pts[0], pts[1], pts[2]);
        const float s = 1.0f / std::sqrt(plane % plane);
        plane = dgPlane(plane.x * s, plane.y * s, plane.z * s, plane.w * s);
        first.addFace(3, plane, pts);
        second.addFaceWithInertia(3, packed);
    }
    EXPECT_NEAR(first.T0, second.T0, 1e-4f);
    for (int32_t i = 0; i < 3; i++) {
        EXPECT_NEAR(first.T1[i], second.T1[i], 1e-3f);
    }
    const float volume = first.T0;
    EXPECT_NEAR(first.T1[0] * 0.5f / volume, 0.5f, 1e-4f);
    EXPECT_NEAR(first.T1[1] * 0.5f / volume, -1.0f, 1e-4f);
    EXPECT_NEAR(first.T1[2] * 0.5f / volume, 2.0f, 1e-4f);
}

TEST(ConvexCollision, PlaneHelpers) {
    const dgPlane plane(dgVector(0, 1, 0, 1), dgVector(0, 1, 1, 1), dgVector(1, 1, 0, 1));
    EXPECT_EQ(plane.x, 0.0f);
    EXPECT_EQ(plane.y, 1.0f);
    EXPECT_EQ(plane.w, -1.0f);

    std::mt19937 rng(11);
    for (int32_t i = 0; i < 50; i++) {
        dgMatrix m(randomRotation(rng));
        m.position = dgVector(1.0f, 2.0f, -3.0f, 1.0f);
        const dgVector n(randomUnit(rng));
        const dgPlane global(n, 0.7f);
        const dgPlane local(m.untransformPlane(global));
        // A local point has the same plane value as its global image.
        const dgVector p(0.3f, -0.4f, 2.0f, 1.0f);
        EXPECT_NEAR(local.evaluate(p), global.evaluate(m.transformVector(p)), 1e-4f);
    }
}

TEST(ConvexCollision, EmptyPolyhedronIsHarmless) {
    class Empty : public dgConvexCollision {
    public:
        Empty() : dgConvexCollision(0, dgGetIdentityMatrix(), dgShapeNull) { initMassAndBox(); }
        void setCollisionBBox(const dgVector&, const dgVector&) override {}
        uint32_t calcSignature() const override { return 0; }
    };
    dgRefHolder<Empty> empty = dgRefHolder<Empty>::adopt(new Empty());
    const dgVector s(empty->supportVertex(dgVector(1, 0, 0, 0)));
    EXPECT_EQ(s.x, 0.0f);
    dgBody body(shapetest::placedBody(dgGetIdentityMatrix()));
    EXPECT_EQ(empty->forEachPolygon(&body, recordFace), 0);
    EXPECT_EQ(empty->getVolume(), 0.0f);
    EXPECT_EQ(empty->findSupportEdge(dgVector(1, 0, 0, 0)), nullptr);
}

TEST(ConvexCollision, ConstructionDefaultsAndUserId) {
    dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 1, 1));
    EXPECT_EQ(box->getUserId(), 0u);
    box->setUserId(0xFEDCBA98u);
    EXPECT_EQ(box->getUserId(), 0xFEDCBA98u);
    EXPECT_EQ(box->getRefWord(), 257u);
    EXPECT_TRUE(box->isClass(dgConvexCollision::kClassId));
    EXPECT_TRUE(box->isClass(dgCollision::kClassId));
    EXPECT_TRUE(box->isClass(dgRef::kClassId));
    EXPECT_EQ(dgConvexCollision::kClassId, dgHashConstText("dgConvexCollision"));
}

TEST(ConvexCollision, AllocationsBalance) {
    {
        // Warm the pools the half-edge mesh uses.
        dgRefHolder<TestHull> warm = dgRefHolder<TestHull>::adopt(makeBox(1, 1, 1));
        warm->getVolume();
    }
    MemoryBalance hooks;
    {
        dgRefHolder<TestHull> box = dgRefHolder<TestHull>::adopt(makeBox(1, 2, 3));
        dgRefHolder<FineSphere> sphere =
            dgRefHolder<FineSphere>::adopt(FineSphere::create(translation(1, 2, 3)));
        dgVector inertia, origin;
        box->calcInertia(inertia, origin);
        sphere->calcInertia(inertia, origin);
        EXPECT_NEAR(origin.y, 2.0f, 1e-4f);
        EXPECT_GT(hooks.liveBlocks(), 0);
    }
}

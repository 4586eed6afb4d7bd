#include "dgEdgeMesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CountingHooks.h"
#include "EdgeMeshTestUtils.h"
#include "TestSupport.h"

namespace {

struct Vertex {
    float x, y, z;
    float pad;  // records wider than x, y, z exercise the stride
};

using testsupport::kPi;

using edgemeshtest::structureFault;

// Polygon in the plane z = 0 (counter-clockwise), optionally carried into a
// tilted plane by a fixed rotation and offset.
struct Polygon {
    std::vector<Vertex> points;
    double area;  // shoelace area in the plane
};

Polygon makePolygon(const std::vector<std::pair<double, double>>& xy, double scale, bool tilt) {
    Polygon poly;
    poly.area = 0.0;
    const size_t n = xy.size();
    for (size_t i = 0; i < n; ++i) {
        const auto& a = xy[i];
        const auto& b = xy[(i + 1) % n];
        poly.area += 0.5 * (a.first * b.second - b.first * a.second);
    }
    poly.area *= scale * scale;
    // Rotation about (1, 1, 1) / sqrt(3) by 40 degrees, then an offset.
    const double c = std::cos(0.7), s = std::sin(0.7), t = 1.0 - c, k = 1.0 / std::sqrt(3.0);
    const double r[3][3] = {{t * k * k + c, t * k * k - s * k, t * k * k + s * k},
                            {t * k * k + s * k, t * k * k + c, t * k * k - s * k},
                            {t * k * k - s * k, t * k * k + s * k, t * k * k + c}};
    for (const auto& p : xy) {
        double v[3] = {p.first * scale, p.second * scale, 0.0};
        if (tilt) {
            const double w[3] = {r[0][0] * v[0] + r[0][1] * v[1], r[1][0] * v[0] + r[1][1] * v[1],
                                 r[2][0] * v[0] + r[2][1] * v[1]};
            v[0] = w[0] + 3.0 * scale;
            v[1] = w[1] - 2.0 * scale;
            v[2] = w[2] + 1.0 * scale;
        }
        poly.points.push_back({float(v[0]), float(v[1]), float(v[2]), -1.0f});
    }
    return poly;
}

std::vector<std::pair<double, double>> lShape() {
    return {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
}

// Comb: a spine along the bottom with `teeth` teeth pointing up, walked
// counter-clockwise from the spine's left end.
std::vector<std::pair<double, double>> comb(int teeth) {
    std::vector<std::pair<double, double>> xy;
    xy.push_back({0, 0});
    xy.push_back({2.0 * teeth - 1.0, 0});
    for (int i = teeth - 1; i >= 0; --i) {
        const double x0 = 2.0 * i;
        xy.push_back({x0 + 1.0, 3.0});
        xy.push_back({x0, 3.0});
        if (i > 0) {
            xy.push_back({x0, 1.0});
            xy.push_back({x0 - 1.0, 1.0});
        }
    }
    return xy;
}

// Rectangle 4 x 2 with extra points along its edges.
std::vector<std::pair<double, double>> collinearRectangle() {
    return {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {4, 1}, {4, 2}, {2, 2}, {0, 2}, {0, 1}};
}

std::vector<std::pair<double, double>> regular(int n, double radius) {
    std::vector<std::pair<double, double>> xy;
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * kPi * i / n;
        xy.push_back({radius * std::cos(a), radius * std::sin(a)});
    }
    return xy;
}

// Five-pointed star, radii 1 and 0.4.
std::vector<std::pair<double, double>> star() {
    std::vector<std::pair<double, double>> xy;
    for (int i = 0; i < 10; ++i) {
        const double a = kPi * i / 5.0 + kPi / 2.0;
        const double r = (i % 2) ? 0.4 : 1.0;
        xy.push_back({r * std::cos(a), r * std::sin(a)});
    }
    return xy;
}

struct TriangulationResult {
    std::string fault;
    int32_t triangles = 0;
    int32_t otherFaces = 0;
    double area = 0.0;
    int32_t misoriented = 0;
    int32_t slivers = 0;
    bool leftover = false;
};

// Checks every face of the mesh after triangulation against the polygon's
// normal: triangles only, all turning the same way, areas summed.
TriangulationResult inspect(dgEdgeMesh& mesh, const std::vector<Vertex>& v, const dgVector64& faceNormal) {
    TriangulationResult r;
    r.fault = structureFault(mesh);
    const double nn = std::sqrt(faceNormal.dot(faceNormal));
    std::set<const dgEdge*> seen;
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        if (e->m_faceId < 0 || seen.count(e)) {
            continue;
        }
        int32_t n = 0;
        const dgEdge* x = e;
        do {
            seen.insert(x);
            ++n;
            x = x->m_next;
        } while (x != e);
        if (n != 3) {
            ++r.otherFaces;
            continue;
        }
        ++r.triangles;
        const dgVector64 t = mesh.dgEdgeMeshFaceNormal64(e, &v[0].x, int32_t(sizeof(Vertex) / 4));
        const double len = std::sqrt(t.dot(t));
        r.area += 0.5 * len;
        // Slivers (three corners on one line, up to rounding) have no
        // direction to agree with; they are counted apart.
        if (len <= 1.0e-5 * nn) {
            ++r.slivers;
        } else if (t.dot(faceNormal) <= 0.999 * len * nn) {
            ++r.misoriented;
        }
    }
    return r;
}

void buildPolygon(dgEdgeMesh& mesh, int32_t n) {
    std::vector<int32_t> idx(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        idx[size_t(i)] = i;
    }
    mesh.dgEdgeMeshBeginFace();
    ASSERT_NE(mesh.dgEdgeMeshAddFace(n, idx.data()), nullptr);
    mesh.dgEdgeMeshEndFace();
}

TriangulationResult triangulatePolygon(const Polygon& poly) {
    dgEdgeMesh mesh;
    const int32_t n = int32_t(poly.points.size());
    buildPolygon(mesh, n);
    const dgVector64 normal = mesh.dgEdgeMeshFaceNormal64(mesh.dgEdgeMeshFindEdge(0, 1), &poly.points[0].x,
                                                          int32_t(sizeof(Vertex) / 4));
    dgEdgeMesh leftover;
    mesh.dgEdgeMeshTriangulate(&poly.points[0].x, sizeof(Vertex), &leftover);
    TriangulationResult r = inspect(mesh, poly.points, normal);
    r.leftover = leftover.getEdgeCount() != 0;
    return r;
}

void expectExact(const std::vector<std::pair<double, double>>& xy, double scale, bool tilt) {
    const Polygon poly = makePolygon(xy, scale, tilt);
    const TriangulationResult r = triangulatePolygon(poly);
    EXPECT_EQ(r.fault, "");
    EXPECT_FALSE(r.leftover);
    EXPECT_EQ(r.otherFaces, 0);
    EXPECT_EQ(r.triangles, int32_t(xy.size()) - 2);
    EXPECT_EQ(r.misoriented, 0);
    EXPECT_NEAR(r.area, poly.area, 1e-5 * poly.area);
}

}  // namespace

TEST(EdgeMeshGeometry, FaceNormalIsTwiceTheAreaAlongTheCounterClockwiseAxis) {
    const Polygon sq = makePolygon({{0, 0}, {3, 0}, {3, 2}, {0, 2}}, 1.0, false);
    dgEdgeMesh mesh;
    buildPolygon(mesh, 4);
    const dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    const dgVector n = mesh.dgEdgeMeshFaceNormal(e, &sq.points[0].x, sizeof(Vertex));
    EXPECT_FLOAT_EQ(n.x, 0.0f);
    EXPECT_FLOAT_EQ(n.y, 0.0f);
    EXPECT_FLOAT_EQ(n.z, 12.0f);
    EXPECT_EQ(n.w, 0.0f);
    // The open loop runs the other way.
    const dgVector back = mesh.dgEdgeMeshFaceNormal(e->m_twin, &sq.points[0].x, sizeof(Vertex));
    EXPECT_FLOAT_EQ(back.z, -12.0f);
    // Any start gives the same vector; a tilted polygon keeps its area.
    const Polygon tilted = makePolygon(star(), 2.0, true);
    dgEdgeMesh starMesh;
    buildPolygon(starMesh, 10);
    const dgVector64 a =
        starMesh.dgEdgeMeshFaceNormal64(starMesh.dgEdgeMeshFindEdge(0, 1), &tilted.points[0].x, 4);
    const dgVector64 b =
        starMesh.dgEdgeMeshFaceNormal64(starMesh.dgEdgeMeshFindEdge(5, 6), &tilted.points[0].x, 4);
    EXPECT_NEAR(0.5 * std::sqrt(a.dot(a)), tilted.area, 1e-5 * tilted.area);
    EXPECT_NEAR(a.x, b.x, 1e-4);
    EXPECT_NEAR(a.y, b.y, 1e-4);
    EXPECT_NEAR(a.z, b.z, 1e-4);
}

TEST(EdgeMeshGeometry, UnitSquareBecomesTwoTrianglesSharingOneDiagonal) {
    const Polygon sq = makePolygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 1.0, false);
    dgEdgeMesh mesh;
    buildPolygon(mesh, 4);
    const int32_t id = mesh.dgEdgeMeshFindEdge(0, 1)->m_faceId;
    mesh.dgEdgeMeshTriangulate(&sq.points[0].x, sizeof(Vertex), nullptr);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), 10);
    int32_t diagonals = 0;
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        if (e->m_faceId >= 0) {
            EXPECT_EQ(e->m_faceId, id);
            EXPECT_EQ(e->m_next->m_next->m_next, e);
            const dgVector n = mesh.dgEdgeMeshFaceNormal(e, &sq.points[0].x, sizeof(Vertex));
            EXPECT_FLOAT_EQ(n.z, 1.0f);  // twice the area of a half square
            EXPECT_EQ(n.x, 0.0f);
            EXPECT_EQ(n.y, 0.0f);
            diagonals += e->m_twin->m_faceId >= 0;
        }
    }
    EXPECT_EQ(diagonals, 2);
}

TEST(EdgeMeshGeometry, RandomStarShapedPolygonsTriangulateExactly) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> radius(0.5, 2.0);
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 4 + int(rng() % 20);
        std::vector<std::pair<double, double>> xy;
        for (int i = 0; i < n; ++i) {
            const double a = 2.0 * kPi * (i + 0.25 * (rng() % 3)) / n;
            const double r = radius(rng) * 4.0;
            xy.push_back({r * std::cos(a), r * std::sin(a)});
        }
        SCOPED_TRACE(trial);
        expectExact(xy, 1.0, trial % 2 == 1);
    }
}

// Each shape flat and tilted from a twentieth of a unit to five thousand.
// From half a unit to a hundred the triangles cover it exactly, all turning
// its way. At thousands of units the cross products of the inside test carry
// rounding noise above its fixed 0.05 margin, so a vertex lying exactly on a
// diagonal can be missed: the cover stays exact and none turns the wrong
// way; at worst one triangle has no area. Below half a unit the margin
// exceeds an ear's doubled area (about 0.01 at a tenth): every vertex counts
// as inside, each search falls back to the least-turning convex corner, and
// concave outlines can get overlapping triangles or leave a piece to the
// leftover mesh. The mesh itself stays consistent; convex outlines are
// unaffected.
TEST(EdgeMeshGeometry, ShapesTriangulateExactlyFromHalfAUnitToAHundred) {
    const std::vector<std::pair<std::string, std::vector<std::pair<double, double>>>> shapes = {
        {"regular", regular(16, 1.0)},
        {"L", lShape()},
        {"collinear", collinearRectangle()},
        {"comb", comb(5)},
        {"star", star()}};
    for (double scale : {0.05, 0.1, 0.2, 0.5, 1.0, 10.0, 100.0, 1000.0, 2000.0, 5000.0}) {
        for (const auto& shape : shapes) {
            for (bool tilt : {false, true}) {
                SCOPED_TRACE(shape.first + " at " + std::to_string(scale) + (tilt ? " tilted" : ""));
                const Polygon poly = makePolygon(shape.second, scale, tilt);
                const TriangulationResult r = triangulatePolygon(poly);
                EXPECT_EQ(r.fault, "");
                EXPECT_EQ(r.otherFaces, 0);
                if ((scale < 0.5) && (shape.first != "regular")) {
                    continue;
                }
                EXPECT_FALSE(r.leftover);
                EXPECT_EQ(r.misoriented, 0);
                EXPECT_NEAR(r.area, poly.area, 1e-5 * poly.area);
                if (scale >= 0.5) {
                    EXPECT_EQ(r.triangles, int32_t(shape.second.size()) - 2);
                    EXPECT_LE(r.slivers, (scale > 100.0) ? 1 : 0);
                }
            }
        }
    }
    expectExact(regular(1024, 100.0), 1.0, false);
}

TEST(EdgeMeshGeometry, TerrainGridOfQuadsTriangulatesEveryCell) {
    // 40 x 40 cells of 75 units (a 3 km square) with gentle relief.
    const int32_t n = 40;
    std::vector<Vertex> v;
    for (int32_t j = 0; j <= n; ++j) {
        for (int32_t i = 0; i <= n; ++i) {
            const float h = 20.0f * std::sin(0.3f * float(i)) * std::cos(0.2f * float(j));
            v.push_back({1000.0f + 75.0f * float(i), h, -1500.0f + 75.0f * float(j), 0.0f});
        }
    }
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t a = j * (n + 1) + i;
            const int32_t f[4] = {a, a + n + 1, a + n + 2, a + 1};  // up is +y
            ASSERT_NE(mesh.dgEdgeMeshAddFace(4, f), nullptr);
        }
    }
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshTriangulate(&v[0].x, sizeof(Vertex), nullptr);
    EXPECT_EQ(structureFault(mesh), "");
    int32_t triangles = 0;
    std::set<const dgEdge*> seen;
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        if (e->m_faceId < 0 || seen.count(e)) {
            continue;
        }
        seen.insert(e);
        seen.insert(e->m_next);
        seen.insert(e->m_prev);
        ASSERT_EQ(e->m_next->m_next->m_next, e);
        EXPECT_GT(mesh.dgEdgeMeshFaceNormal(e, &v[0].x, sizeof(Vertex)).y, 0.0f);
        ++triangles;
    }
    EXPECT_EQ(triangles, 2 * n * n);
}

TEST(EdgeMeshGeometry, CollinearFaceMovesToTheLeftoverMesh) {
    const Polygon line = makePolygon({{0, 0}, {1, 0}, {2, 0}, {3, 0}}, 1.0, true);
    const Polygon sq = makePolygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 1.0, false);
    std::vector<Vertex> v = sq.points;
    v.insert(v.end(), line.points.begin(), line.points.end());
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    const int32_t quad[4] = {0, 1, 2, 3};
    const int32_t flat[4] = {4, 5, 6, 7};
    const uint64_t data[4] = {40, 50, 60, 70};
    mesh.dgEdgeMeshAddFace(4, quad);
    mesh.dgEdgeMeshAddFaceWithData(4, flat, data);
    mesh.dgEdgeMeshEndFace();

    dgEdgeMesh leftover;
    mesh.dgEdgeMeshTriangulate(&v[0].x, sizeof(Vertex), &leftover);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), 10);  // the square's two triangles
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(4, 5), nullptr);
    EXPECT_EQ(leftover.getEdgeCount(), 4);
    dgEdge* moved = leftover.dgEdgeMeshFindEdge(4, 5);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->m_userData, 40u);
    EXPECT_EQ(moved->m_next->m_userData, 50u);

    // Without a leftover mesh the face is simply dropped.
    dgEdgeMesh alone;
    alone.dgEdgeMeshAddFace(4, flat);
    alone.dgEdgeMeshEndFace();
    alone.dgEdgeMeshTriangulate(&v[0].x, sizeof(Vertex), nullptr);
    EXPECT_EQ(alone.getEdgeCount(), 0);
}

TEST(EdgeMeshGeometry, TrianglesAreLeftUntouched) {
    const Polygon tri = makePolygon({{0, 0}, {1, 0}, {0, 1}}, 1.0, false);
    dgEdgeMesh mesh;
    dgEdge* e = mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshEndFace();
    const uint32_t stampBefore = mesh.getStamp();
    mesh.dgEdgeMeshTriangulate(&tri.points[0].x, sizeof(Vertex), nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), 6);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(0, 1), e);
    EXPECT_EQ(e->m_next->m_next->m_next, e);
    EXPECT_EQ(mesh.getStamp(), stampBefore + 1);
    // A zero-area triangle is not the triangulation's business either.
    dgEdgeMesh flat;
    const Polygon line = makePolygon({{0, 0}, {1, 0}, {2, 0}}, 1.0, false);
    flat.dgEdgeMeshAddTriangle(0, 1, 2);
    flat.dgEdgeMeshEndFace();
    flat.dgEdgeMeshTriangulate(&line.points[0].x, sizeof(Vertex), nullptr);
    EXPECT_EQ(flat.getEdgeCount(), 6);
}

TEST(EdgeMeshGeometry, TakenDiagonalIsAvoidedOrFailsCleanly) {
    // Square 0..3 and two far triangles that already own its diagonals.
    std::vector<Vertex> v = makePolygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, 1.0, false).points;
    v.push_back({0.5f, 0.5f, 5.0f, 0.0f});
    v.push_back({0.5f, 0.5f, -5.0f, 0.0f});
    const int32_t quad[4] = {0, 1, 2, 3};

    // Every corner turns clearly, so the quick path would take the sharpest
    // corner; with 2->0 taken the full search picks the other diagonal.
    {
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshAddFace(4, quad);
        mesh.dgEdgeMeshAddTriangle(2, 0, 4);
        mesh.dgEdgeMeshEndFace();
        mesh.dgEdgeMeshTriangulate(&v[0].x, sizeof(Vertex), nullptr);
        EXPECT_EQ(structureFault(mesh), "");
        EXPECT_NE(mesh.dgEdgeMeshFindEdge(1, 3), nullptr);
        EXPECT_EQ(mesh.dgEdgeMeshFindEdge(1, 3)->m_faceId, mesh.dgEdgeMeshFindEdge(0, 1)->m_faceId);
    }
    // Both diagonals taken: the face cannot be cut and leaves whole, without
    // stranding half a diagonal in the mesh.
    {
        dgEdgeMesh mesh;
        mesh.dgEdgeMeshAddFace(4, quad);
        mesh.dgEdgeMeshAddTriangle(2, 0, 4);
        mesh.dgEdgeMeshAddTriangle(1, 3, 5);
        mesh.dgEdgeMeshEndFace();
        const int32_t before = mesh.getEdgeCount();
        dgEdgeMesh leftover;
        mesh.dgEdgeMeshTriangulate(&v[0].x, sizeof(Vertex), &leftover);
        EXPECT_EQ(structureFault(mesh), "");
        EXPECT_EQ(leftover.getEdgeCount(), 4);
        EXPECT_LT(mesh.getEdgeCount(), before);
        EXPECT_EQ(mesh.dgEdgeMeshFindEdge(0, 1), nullptr);
        for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
            EXPECT_NE(node->getPayload().m_next, nullptr);
        }
    }
}

TEST(EdgeMeshGeometry, TriangulateFaceReportsTheRestAndFindEarHonoursTheHeap) {
    const Polygon poly = makePolygon(lShape(), 1.0, false);
    dgEdgeMesh mesh;
    buildPolygon(mesh, 6);
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    const dgVector up(0.0f, 0.0f, 1.0f, 0.0f);
    // The reflex corner (vertex 3 at (1, 1)) is never chosen.
    dgEdgeMesh::dgEarHeap heap(64);
    dgEdge* ear = dgEdgeMesh::dgEdgeMeshFindEar(mesh, e, &poly.points[0].x, 4, heap, up);
    ASSERT_NE(ear, nullptr);
    EXPECT_NE(ear->m_vertex, 3);
    // A heap with no room finds nothing and fails without touching the face.
    dgEdgeMesh::dgEarHeap none(nullptr, 0);
    EXPECT_EQ(dgEdgeMesh::dgEdgeMeshFindEar(mesh, e, &poly.points[0].x, 4, none, up), nullptr);
    EXPECT_NE(dgEdgeMesh::dgEdgeMeshTriangulateFace(e, mesh, &poly.points[0].x, 4, none), nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), 12);
    EXPECT_EQ(dgEdgeMesh::dgEdgeMeshTriangulateFace(e, mesh, &poly.points[0].x, 4, heap), nullptr);
    EXPECT_EQ(heap.getCount(), 0);
    EXPECT_EQ(mesh.getEdgeCount(), 12 + 6);
    EXPECT_EQ(structureFault(mesh), "");
}

TEST(EdgeMeshGeometry, TriangulationReleasesEverythingItTakes) {
    const Polygon poly = makePolygon(comb(6), 1.0, true);
    {
        dgEdgeMesh warm;
        buildPolygon(warm, int32_t(poly.points.size()));
        warm.dgEdgeMeshTriangulate(&poly.points[0].x, sizeof(Vertex), nullptr);
    }
    MemoryBalance balance;
    dgEdgeMesh mesh;
    buildPolygon(mesh, int32_t(poly.points.size()));
    dgEdgeMesh leftover;
    mesh.dgEdgeMeshTriangulate(&poly.points[0].x, sizeof(Vertex), &leftover);
}

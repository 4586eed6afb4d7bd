// Half-edge mesh optimisation: quadric simplification, degenerate faces,
// coplanar merging and the edge collapse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "CountingHooks.h"
#include "EdgeMeshTestUtils.h"
#include "dgEdgeMesh.h"
#include "dgEdgeMeshCensus.h"

namespace {

using namespace edgemeshtest;

// Every corner turns the same way as the area vector.
bool isConvex(const std::vector<const dgEdge*>& loop, const Cloud& cloud) {
    const D3 n = areaVector(loop, cloud);
    const size_t count = loop.size();
    for (size_t i = 0; i < count; ++i) {
        const D3 a = cloud.at(loop[(i + count - 1) % count]->m_vertex);
        const D3 b = cloud.at(loop[i]->m_vertex);
        const D3 c = cloud.at(loop[(i + 1) % count]->m_vertex);
        if (dot(cross(sub(b, a), sub(c, b)), n) <= 0.0) {
            return false;
        }
    }
    return true;
}

// Latitude-longitude sphere of the given radius about the origin, outward.
void addSphere(dgEdgeMesh& mesh, Cloud& cloud, int32_t rings, int32_t segments, double radius) {
    const double pi = 3.14159265358979323846;
    const int32_t top = cloud.add(0, 0, radius);
    const int32_t base = cloud.count();
    for (int32_t r = 1; r < rings; ++r) {
        for (int32_t s = 0; s < segments; ++s) {
            const double polar = pi * r / rings;
            const double azimuth = 2 * pi * s / segments;
            cloud.add(radius * std::sin(polar) * std::cos(azimuth),
                      radius * std::sin(polar) * std::sin(azimuth), radius * std::cos(polar));
        }
    }
    const int32_t bottom = cloud.add(0, 0, -radius);
    auto at = [&](int32_t r, int32_t s) { return base + (r - 1) * segments + (s % segments); };
    for (int32_t s = 0; s < segments; ++s) {
        mesh.dgEdgeMeshAddTriangle(top, at(1, s), at(1, s + 1));
        mesh.dgEdgeMeshAddTriangle(bottom, at(rings - 1, s + 1), at(rings - 1, s));
        for (int32_t r = 1; r + 1 < rings; ++r) {
            mesh.dgEdgeMeshAddTriangle(at(r, s), at(r + 1, s), at(r + 1, s + 1));
            mesh.dgEdgeMeshAddTriangle(at(r, s), at(r + 1, s + 1), at(r, s + 1));
        }
    }
}

double totalArea(const dgEdgeMesh& mesh, const Cloud& cloud) {
    double area = 0.0;
    for (const auto& loop : loops(mesh, true)) {
        const D3 n = areaVector(loop, cloud);
        area += 0.5 * std::sqrt(dot(n, n));
    }
    return area;
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(EdgeMeshCensus, CountsLoopsFansAndOpenLoops) {
    dgEdgeMesh cube;
    Cloud cloud;
    addCube(cube, cloud, 1, 1.0, false);
    cube.dgEdgeMeshEndFace();
    dgEdgeMeshCensus census(cube);
    EXPECT_EQ(census.loopCount, 6);
    EXPECT_EQ(census.edgeCount, 24);
    EXPECT_EQ(census.fanCount, 8);
    EXPECT_EQ(census.vertexCount, 8);
    EXPECT_EQ(census.openLoops.getCount(), 0);
    EXPECT_GE(cube.getStamp(), 8u);
    EXPECT_TRUE(cube.dgEdgeMeshSanityCheck());

    // Two quads side by side: one open loop of six around them.
    dgEdgeMesh strip;
    const int32_t q0[4] = {0, 1, 4, 3};
    const int32_t q1[4] = {1, 2, 5, 4};
    strip.dgEdgeMeshAddFace(4, q0);
    strip.dgEdgeMeshAddFace(4, q1);
    strip.dgEdgeMeshEndFace();
    census.take(strip);
    EXPECT_EQ(census.loopCount, 3);
    EXPECT_EQ(census.edgeCount, 14);
    EXPECT_EQ(census.fanCount, 6);
    EXPECT_EQ(census.vertexCount, 6);
    ASSERT_EQ(census.openLoops.getCount(), 1);
    EXPECT_LT(census.openLoops.getFirst()->getValue()->m_faceId, 0);
}

TEST(EdgeMeshOptimize, EmptyMeshDoesNothing) {
    dgEdgeMesh mesh;
    const float vertices[3] = {0, 0, 0};
    mesh.dgEdgeMeshOptimize(vertices, 12, nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), 0);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
}

// A flat grid becomes a few convex faces over the same square, its corners
// kept, whatever the cell count and scale: small and large shapes, a terrain
// patch thousands of units out, a fine tessellation whose every triangle lies
// below any fixed area (72 x 72 cells of a unit square), quads whose
// triangles share a face id (a collapse must not fold one over its sibling),
// cells too small to merge (a hundredth of a unit). Every vertical ray meets exactly one face: no
// hole, no overlap.
TEST(EdgeMeshOptimize, FlatGridsBecomeFewConvexFacesOverTheSameArea) {
    struct Case {
        int32_t cells;
        double size, ox, oy, z;
        bool quads;
    };
    const Case cases[] = {{4, 0.1, 0, 0, 0, false},        {10, 1.0, 0, 0, 0, false},
                          {20, 100.0, -50, -50, 3, false}, {20, 200.0, 3000, -4000, 120, false},
                          {72, 1.0, 0, 0, 0, false},       {90, 1.25, 0, 0, 0, true},
                          {16, 100.0, 0, 0, 0, true},      {40, 0.01, 0, 0, 0, false},
                          {64, 1280.0, 0, 0, 0, false}};
    std::mt19937 rng(72);
    std::uniform_real_distribution<double> unit(0.001, 0.999);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.cells << " cells over " << c.size << (c.quads ? " as quads" : ""));
        dgEdgeMesh mesh;
        Cloud cloud;
        addGrid(mesh, cloud, c.cells, c.size, c.ox, c.oy, c.z, c.quads);
        mesh.dgEdgeMeshEndFace();
        const std::vector<float> before = cloud.xyz;
        dgEdgeMesh leftover;
        mesh.dgEdgeMeshOptimize(cloud.data(), 12, &leftover);
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        ASSERT_TRUE(linksAgree(mesh));
        EXPECT_EQ(cloud.xyz, before);
        EXPECT_EQ(leftover.getEdgeCount(), 0);
        EXPECT_NEAR(totalArea(mesh, cloud), c.size * c.size, 1e-6 * c.size * c.size);
        const auto faces = loops(mesh, true);
        EXPECT_GE(faces.size(), 1u);
        EXPECT_LE(faces.size(), (c.size > 0.05) ? 4u : size_t(2 * c.cells * c.cells));
        for (const auto& face : faces) {
            EXPECT_TRUE(isConvex(face, cloud));
            EXPECT_GT(areaVector(face, cloud).z, 0.0);
        }
        const int32_t n = c.cells;
        const std::set<int32_t> used = usedVertices(mesh);
        for (int32_t corner : {0, n, n * (n + 1), n * (n + 1) + n}) {
            EXPECT_TRUE(used.count(corner)) << corner;
        }
        for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
            EXPECT_EQ(node->getPayload().m_userData, 0u);
        }
        for (int32_t r = 0; r < 250; ++r) {
            const double x = c.ox + c.size * unit(rng);
            const double y = c.oy + c.size * unit(rng);
            int32_t hits = 0;
            for (const auto& face : faces) {
                bool inside = true;
                for (size_t k = 0; (k < face.size()) && inside; ++k) {
                    const D3 a = cloud.at(face[k]->m_vertex);
                    const D3 b = cloud.at(face[(k + 1) % face.size()]->m_vertex);
                    inside = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x) > 0.0;
                }
                hits += inside ? 1 : 0;
            }
            ASSERT_EQ(hits, 1) << "ray at " << x << ", " << y;
        }
    }
}

TEST(EdgeMeshOptimize, TessellatedCubeStaysClosedWithSixFaces) {
    for (double size : {0.1, 1.0, 100.0}) {
        SCOPED_TRACE(size);
        dgEdgeMesh mesh;
        Cloud cloud;
        addCube(mesh, cloud, 4, size, true);
        mesh.dgEdgeMeshEndFace();
        mesh.dgEdgeMeshOptimize(cloud.data(), 12, nullptr);
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        EXPECT_EQ(openHalfEdges(mesh), 0);
        EXPECT_EQ(euler(mesh), 2);
        const auto faces = loops(mesh, true);
        EXPECT_EQ(faces.size(), 6u);
        for (const auto& face : faces) {
            EXPECT_TRUE(isConvex(face, cloud));
        }
        EXPECT_NEAR(enclosedVolume(mesh, cloud), size * size * size, size * size * size * 1e-5);
        EXPECT_NEAR(totalArea(mesh, cloud), 6 * size * size, size * size * 1e-5);
    }
}

TEST(EdgeMeshSimplify, CurvedClosedMeshStaysClosedWithoutFoldingOver) {
    dgEdgeMesh mesh;
    Cloud cloud;
    addSphere(mesh, cloud, 16, 24, 1.0);
    mesh.dgEdgeMeshEndFace();
    const int32_t edgesBefore = mesh.getEdgeCount();
    const double volumeBefore = enclosedVolume(mesh, cloud);

    mesh.dgEdgeMeshSimplify(cloud.data(), 12, 0.03f);
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_LT(mesh.getEdgeCount(), edgesBefore);
    EXPECT_EQ(openHalfEdges(mesh), 0);
    EXPECT_EQ(euler(mesh), 2);
    for (const auto& face : loops(mesh, true)) {
        const D3 n = areaVector(face, cloud);
        const D3 c = cloud.at(face[0]->m_vertex);
        EXPECT_GT(dot(n, c), 0.0);
    }
    EXPECT_NEAR(enclosedVolume(mesh, cloud), volumeBefore, 0.05 * volumeBefore);
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        EXPECT_EQ(node->getPayload().m_userData, 0u);
    }
}

// The error bound is absolute: the same sphere loses vertices when small and
// none when large.
TEST(EdgeMeshSimplify, ErrorBoundIsAbsolute) {
    int32_t removed[2];
    const double radii[2] = {0.1, 100.0};
    for (int i = 0; i < 2; ++i) {
        dgEdgeMesh mesh;
        Cloud cloud;
        addSphere(mesh, cloud, 16, 24, radii[i]);
        mesh.dgEdgeMeshEndFace();
        const int32_t before = int32_t(usedVertices(mesh).size());
        mesh.dgEdgeMeshSimplify(cloud.data(), 12, 0.001f);
        EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
        EXPECT_EQ(euler(mesh), 2);
        removed[i] = before - int32_t(usedVertices(mesh).size());
    }
    EXPECT_GT(removed[0], 0);
    EXPECT_EQ(removed[1], 0);
}

// A corner vertex p close to vertex 0 could slide into it at almost no cost;
// only an edge of 0.001 or more may be collapsed.
TEST(EdgeMeshSimplify, EdgeShorterThanAThousandthIsNeverCollapsed) {
    for (double px : {0.0005, 0.002}) {
        SCOPED_TRACE(px);
        dgEdgeMesh mesh;
        Cloud cloud{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        const int32_t p = cloud.add(px, 0.0002, 0);
        mesh.dgEdgeMeshAddTriangle(0, p, 3);
        mesh.dgEdgeMeshAddTriangle(p, 1, 2);
        mesh.dgEdgeMeshAddTriangle(p, 2, 3);
        mesh.dgEdgeMeshEndFace();
        mesh.dgEdgeMeshSimplify(cloud.data(), 12, 0.001f);
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        EXPECT_EQ(usedVertices(mesh).count(p), px < 0.001 ? 1u : 0u);
    }
}

// The collinear triangle's half-edges border holes on both sides once it is
// deleted, so they go; the proper triangle across edge 0-1 stays.
TEST(EdgeMeshRemoveDegenerateFaces, DeletesFacesWithoutArea) {
    dgEdgeMesh mesh;
    Cloud cloud{{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, -1, 0}};
    mesh.dgEdgeMeshAddTriangle(0, 3, 1);
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshRemoveDegenerateFaces(cloud.data(), 12, 0.0001f);
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_EQ(mesh.getEdgeCount(), 6);
    EXPECT_EQ(loops(mesh, true).size(), 1u);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(1, 2), nullptr);
}

TEST(EdgeMeshMergeCoplanarFaces, ConvexPairBecomesOneQuadWithOneFaceId) {
    dgEdgeMesh mesh;
    Cloud cloud{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(0, 2, 3);
    mesh.dgEdgeMeshEndFace();
    dgEdge* buffers[3][8];
    EXPECT_TRUE(mesh.dgEdgeMeshMergeCoplanarFaces(cloud.data(), 12, buffers[0], buffers[1], buffers[2], 8));
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    const auto faces = loops(mesh, true);
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_EQ(faces[0].size(), 4u);
    EXPECT_EQ(mesh.getEdgeCount(), 8);
    EXPECT_FALSE(mesh.dgEdgeMeshMergeCoplanarFaces(cloud.data(), 12, buffers[0], buffers[1], buffers[2], 8));
}

TEST(EdgeMeshMergeCoplanarFaces, ConcavePairKeepsItsDiagonal) {
    dgEdgeMesh mesh;
    Cloud cloud;
    cloud.add(0, 0, 0);
    cloud.add(2, 0, 0);
    cloud.add(0.5, 0.5, 0);  // reflex corner of the dart
    cloud.add(0, 2, 0);
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(0, 2, 3);
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshMergeCoplanarFaces(cloud.data(), 12, nullptr, nullptr, nullptr, 0);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_EQ(loops(mesh, true).size(), 2u);
    EXPECT_NE(mesh.dgEdgeMeshFindEdge(0, 2), nullptr);
}

// The pass works the same whether it starts on ample buffers or on none.
TEST(EdgeMeshMergeCoplanarFaces, OutgrowsItsBuffers) {
    std::vector<size_t> faceCounts;
    for (int32_t capacity : {0, 1, 100000}) {
        dgEdgeMesh mesh;
        Cloud cloud;
        addGrid(mesh, cloud, 30, 30.0);
        mesh.dgEdgeMeshEndFace();
        std::vector<dgEdge*> a(capacity + 1), b(capacity + 1), c(capacity + 1);
        // A pass reports groups, not merges: run until the faces stop changing.
        size_t previous = 0;
        for (int32_t pass = 0; pass < 20 && mesh.getEdgeCount() != int32_t(previous); ++pass) {
            previous = size_t(mesh.getEdgeCount());
            mesh.dgEdgeMeshMergeCoplanarFaces(cloud.data(), 12, capacity ? a.data() : nullptr,
                                              capacity ? b.data() : nullptr, capacity ? c.data() : nullptr,
                                              capacity);
        }
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        EXPECT_NEAR(totalArea(mesh, cloud), 900.0, 1e-6);
        for (const auto& face : loops(mesh, true)) {
            EXPECT_TRUE(isConvex(face, cloud));
        }
        faceCounts.push_back(loops(mesh, true).size());
    }
    EXPECT_EQ(faceCounts[0], faceCounts[2]);
    EXPECT_EQ(faceCounts[1], faceCounts[2]);
    EXPECT_LT(faceCounts[2], 1800u);
}

// Both ends of an equator edge of a triangular bipyramid see all three other
// vertices: merging them would give two edges between the same vertices.
TEST(EdgeMeshCollapseEdge, RefusesWhenItWouldDuplicateAnEdge) {
    dgEdgeMesh mesh;
    // 0 top, 1 bottom, 2-4 equator.
    mesh.dgEdgeMeshAddTriangle(0, 2, 3);
    mesh.dgEdgeMeshAddTriangle(0, 3, 4);
    mesh.dgEdgeMeshAddTriangle(0, 4, 2);
    mesh.dgEdgeMeshAddTriangle(1, 3, 2);
    mesh.dgEdgeMeshAddTriangle(1, 4, 3);
    mesh.dgEdgeMeshAddTriangle(1, 2, 4);
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(mesh.dgEdgeMeshCollapseEdge(mesh.dgEdgeMeshFindEdge(2, 3)), nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), 18);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    // An apex into the equator is fine and leaves a closed tetrahedron.
    ASSERT_NE(mesh.dgEdgeMeshCollapseEdge(mesh.dgEdgeMeshFindEdge(0, 2)), nullptr);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_EQ(mesh.getEdgeCount(), 12);
    EXPECT_EQ(openHalfEdges(mesh), 0);
}

// Outside a simplification the user data words are corner attributes, not
// record pointers: a collapse must neither read nor write through them.
TEST(EdgeMeshCollapseEdge, LeavesCornerAttributesAlone) {
    dgEdgeMesh mesh;
    Cloud cloud;
    for (int32_t j = 0; j < 3; ++j) {
        for (int32_t i = 0; i < 3; ++i) {
            cloud.add(i, j, 0);
        }
    }
    std::set<uint64_t> attributes;
    uint64_t next = 0xDEADBEEF00000001ull;
    for (int32_t j = 0; j < 2; ++j) {
        for (int32_t i = 0; i < 2; ++i) {
            const int32_t v = j * 3 + i;
            const int32_t t0[3] = {v, v + 1, v + 4};
            const int32_t t1[3] = {v, v + 4, v + 3};
            const uint64_t d0[3] = {next++, next++, next++};
            const uint64_t d1[3] = {next++, next++, next++};
            mesh.dgEdgeMeshAddFaceWithData(3, t0, d0);
            mesh.dgEdgeMeshAddFaceWithData(3, t1, d1);
            attributes.insert(d0, d0 + 3);
            attributes.insert(d1, d1 + 3);
        }
    }
    mesh.dgEdgeMeshEndFace();
    attributes.insert(0);  // the closing half-edges
    ASSERT_NE(mesh.dgEdgeMeshCollapseEdge(mesh.dgEdgeMeshFindEdge(4, 5)), nullptr);
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        EXPECT_TRUE(attributes.count(node->getPayload().m_userData));
    }
}

TEST(EdgeMeshOptimize, LeavesNothingBehind) {
    // Warm up so that every pool the passes use exists.
    auto run = [] {
        dgEdgeMesh mesh;
        Cloud cloud;
        addGrid(mesh, cloud, 8, 8.0);
        addCube(mesh, cloud, 3, 1.0, false);
        mesh.dgEdgeMeshEndFace();
        dgEdgeMesh leftover;
        mesh.dgEdgeMeshOptimize(cloud.data(), 12, &leftover);
        EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    };
    expectBalancedOnSecondRun(run);
}

// Half-edge mesh repair and toolbox: stitching, small triangles, coplanar
// regions, extraction, reversal, merging, vertex-cache ordering and the
// consistency check.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "dgRefList.h"

namespace {

using namespace edgemeshtest;

// Vertex sequence of a loop rotated to start at its smallest index.
std::vector<int32_t> canonical(const std::vector<int32_t>& face) {
    const auto smallest = std::min_element(face.begin(), face.end());
    std::vector<int32_t> result(smallest, face.end());
    result.insert(result.end(), face.begin(), smallest);
    return result;
}

std::multiset<std::vector<int32_t>> faceSet(const dgEdgeMesh& mesh) {
    std::multiset<std::vector<int32_t>> faces;
    for (const Loop& loop : loops(mesh, true)) {
        std::vector<int32_t> face;
        for (const dgEdge* e : loop) {
            face.push_back(e->m_vertex);
        }
        faces.insert(canonical(face));
    }
    return faces;
}

// Faces as sets of rounded positions, to compare structures whatever the
// surviving indices.
std::multiset<std::vector<std::tuple<long, long, long>>> positionFaces(const dgEdgeMesh& mesh,
                                                                       const Cloud& cloud, double unit) {
    std::multiset<std::vector<std::tuple<long, long, long>>> faces;
    for (const Loop& loop : loops(mesh, true)) {
        std::vector<std::tuple<long, long, long>> face;
        for (const dgEdge* e : loop) {
            const D3 p = cloud.at(e->m_vertex);
            face.emplace_back(std::lround(p.x / unit), std::lround(p.y / unit), std::lround(p.z / unit));
        }
        std::sort(face.begin(), face.end());
        faces.insert(face);
    }
    return faces;
}

dgEdge* findFaceFacing(dgEdgeMesh& mesh, const Cloud& cloud, const D3& direction) {
    for (const Loop& loop : loops(mesh, true)) {
        const D3 n = areaVector(loop, cloud);
        if (dot(n, direction) > 0.999 * std::sqrt(dot(n, n))) {
            return const_cast<dgEdge*>(loop[0]);
        }
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Stitching

// Triangle (0, 1, 2) above the x axis and (3, 4, 5) below it; 3 and 4 are
// the copies of 1 and 0 (at x3, x4 and offset by gap in y).
void addSeamPair(dgEdgeMesh& mesh, Cloud& cloud, float x0, float x1, float x3, float x4, double gap) {
    const double height = double(x1) - double(x0);
    cloud.add(x0, 0, 0);
    cloud.add(x1, 0, 0);
    cloud.add((double(x0) + x1) / 2, height, 0);
    cloud.add(x3, gap, 0);
    cloud.add(x4, gap, 0);
    cloud.add((double(x0) + x1) / 2, -height, 0);
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(3, 4, 5);
    mesh.dgEdgeMeshEndFace();
}

// A seam whose copy lies within the tolerance (never below a ten-thousandth)
// is joined: one shared pair whose faces differ, an open loop of four around
// the two triangles. The smallest tolerance is absolute, finer than a float
// can resolve beyond about a thousand units: seams one rounding step apart at
// terrain coordinates need a larger one.
TEST(EdgeMeshStitch, JoinsSeamsWithinTheTolerance) {
    const float far0 = 4000.0f, far1 = 4010.0f;
    const float far0Up = std::nextafter(far0, 5000.0f), far1Up = std::nextafter(far1, 5000.0f);
    struct Case {
        float x0, x1, x3, x4;
        double gap;
        float tolerance;
        bool joined;
    };
    const Case cases[] = {{0, 1, 1, 0, 0, 0.001f, true},
                          {0, 1, 1, 0, 0.00005, 0, true},
                          {0, 1, 1, 0, 0.0003, 0, false},
                          {far0, far1, far1Up, far0Up, 0, 0, false},
                          {far0, far1, far1Up, far0Up, 0, 0.002f, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x0 << " gap " << c.gap << " tolerance " << c.tolerance);
        dgEdgeMesh mesh;
        Cloud cloud;
        addSeamPair(mesh, cloud, c.x0, c.x1, c.x3, c.x4, c.gap);
        mesh.dgEdgeMeshStitch(cloud.data(), 12, c.tolerance);
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        ASSERT_TRUE(linksAgree(mesh));
        EXPECT_EQ(mesh.getEdgeCount(), c.joined ? 10 : 12);
        if (!c.joined) {
            continue;
        }
        // Which copy of the seam survives depends on the sweep order; the
        // shape does not.
        EXPECT_EQ(usedVertices(mesh).size(), 4u);
        int32_t shared = 0;
        for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
            const dgEdge* e = &node->getPayload();
            if (e->m_faceId > 0 && e->m_twin->m_faceId > 0) {
                ++shared;
                EXPECT_NE(e->m_faceId, e->m_twin->m_faceId);
                EXPECT_LE(std::fabs(cloud.at(e->m_vertex).y + cloud.at(e->m_twin->m_vertex).y), 2.0 * c.gap);
            }
        }
        EXPECT_EQ(shared, 2);
        const std::vector<Loop> all = loops(mesh, false);
        ASSERT_EQ(all.size(), 3u);
        for (const Loop& loop : all) {
            EXPECT_EQ(loop.size(), loop[0]->m_faceId < 0 ? 4u : 3u);
        }
    }
}

// Two halves of a cube, each with its own copy of the seam vertices, come
// back as the closed cube: same faces by position, closed, Euler 2.
TEST(EdgeMeshStitch, SplitCubeClosesAgain) {
    struct Case {
        int32_t k;
        double size;
        D3 offset;
    };
    const Case cases[] = {
        {1, 1.0, {0, 0, 0}}, {3, 0.1, {-0.5, 2, 7}}, {2, 100.0, {0, 0, 0}}, {2, 50.0, {4000, -3000, 200}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Cloud reference;
        dgEdgeMesh whole;
        addCube(whole, reference, c.k, c.size, false, 63, c.offset);
        whole.dgEdgeMeshEndFace();

        dgEdgeMesh mesh;
        Cloud cloud;
        addCube(mesh, cloud, c.k, c.size, false, 1 | 4 | 16, c.offset);
        addCube(mesh, cloud, c.k, c.size, false, 2 | 8 | 32, c.offset);
        mesh.dgEdgeMeshEndFace();
        ASSERT_GT(openHalfEdges(mesh), 0);
        mesh.dgEdgeMeshStitch(cloud.data(), 12, 0.001f);

        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
        ASSERT_TRUE(linksAgree(mesh));
        EXPECT_EQ(openHalfEdges(mesh), 0);
        EXPECT_EQ(mesh.getEdgeCount(), whole.getEdgeCount());
        const int32_t v = int32_t(usedVertices(mesh).size());
        const int32_t f = int32_t(loops(mesh, true).size());
        EXPECT_EQ(v - mesh.getEdgeCount() / 2 + f, 2);
        EXPECT_EQ(v, int32_t(usedVertices(whole).size()));
        const double unit = c.size / c.k / 4;
        EXPECT_EQ(positionFaces(mesh, cloud, unit), positionFaces(whole, reference, unit));
        EXPECT_NEAR(enclosedVolume(mesh, cloud), enclosedVolume(whole, reference),
                    1e-5 * std::fabs(enclosedVolume(whole, reference)));
    }
}

// Zipping a triangle whose two corners coincide leaves its other two sides
// as a loop of two; such a loop bounds nothing and goes, and the check
// refuses it where it is left in place.
TEST(EdgeMeshStitch, FaceCollapsedBelowThreeEdgesIsRemoved) {
    Cloud cloud{{0, 0, 0}, {1, 0, 0}, {1, 0, 0}};
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshStitch(cloud.data(), 12, 0.001f);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    for (const Loop& loop : loops(mesh, false)) {
        EXPECT_GE(loop.size(), 3u);
    }

    dgEdgeMesh twoSided;
    dgEdge* ab = twoSided.dgEdgeMeshAddHalfEdge(0, 1);
    dgEdge* ba = twoSided.dgEdgeMeshAddHalfEdge(1, 0);
    ab->m_twin = ab->m_next = ab->m_prev = ba;
    ba->m_twin = ba->m_next = ba->m_prev = ab;
    ab->m_faceId = ba->m_faceId = 1;
    EXPECT_FALSE(twoSided.dgEdgeMeshSanityCheck());
}

// ---------------------------------------------------------------------------
// Small triangles

TEST(EdgeMeshRemoveSmallTriangles, SliverGoesAndCornerDataIsNeverDereferenced) {
    dgEdgeMesh mesh;
    Cloud cloud{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.5, 0.0001, 0}};
    // Corner attributes that are not pointers; a collapse that took them for
    // simplification records would write through them.
    const int32_t faces[4][3] = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};
    for (const auto& f : faces) {
        const uint64_t data[3] = {0xABCDEF0123456789ull, 0x0000000000000008ull, 0xFFFFFFFFFFFFFFF0ull};
        mesh.dgEdgeMeshAddFaceWithData(3, f, data);
    }
    mesh.dgEdgeMeshEndFace();
    dgEdgeMeshCensus census(mesh);
    mesh.dgEdgeMeshRemoveSmallTriangles(census, cloud.data(), 12, 0.001f);
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());

    double area = 0.0;
    for (const Loop& loop : loops(mesh, true)) {
        const D3 n = areaVector(loop, cloud);
        EXPECT_GE(std::sqrt(dot(n, n)), 0.001);
        area += 0.5 * std::sqrt(dot(n, n));
    }
    EXPECT_NEAR(area, 1.0, 1e-3);
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const uint64_t data = node->getPayload().m_userData;
        EXPECT_TRUE(data == 0 || data == 0xABCDEF0123456789ull || data == 0x8 ||
                    data == 0xFFFFFFFFFFFFFFF0ull);
    }
    // The census describes the mesh as it is now.
    dgEdgeMeshCensus fresh(mesh);
    EXPECT_EQ(census.loopCount, fresh.loopCount);
    EXPECT_EQ(census.edgeCount, mesh.getEdgeCount());
    EXPECT_EQ(census.fanCount, fresh.fanCount);
    EXPECT_EQ(census.openLoops.getCount(), fresh.openLoops.getCount());
}

// ---------------------------------------------------------------------------
// Coplanar regions and faces the triangulation cannot finish

TEST(EdgeMeshCoplanar, RegionOfOneCubeSideAndItsOutline) {
    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 3, 1.0, true);
    mesh.dgEdgeMeshEndFace();
    dgEdge* seed = findFaceFacing(mesh, cloud, {0, 0, 1});
    ASSERT_NE(seed, nullptr);

    dgRefList<dgEdge*> list;
    mesh.dgEdgeMeshGetCoplanarFaces(list, seed, cloud.data(), 12, 0.9999f);
    EXPECT_EQ(list.getCount(), 18);
    // A looser cosine takes the whole cube.
    dgRefList<dgEdge*> all;
    mesh.dgEdgeMeshGetCoplanarFaces(all, seed, cloud.data(), 12, -1.0f);
    EXPECT_EQ(all.getCount(), 108);

    dgEdgeMesh outline;
    mesh.dgEdgeMeshCoplanarRegionOutline(seed, outline, cloud.data(), 12, nullptr, nullptr, 0);
    ASSERT_TRUE(outline.dgEdgeMeshSanityCheck());
    int32_t faceLoops = 0;
    for (const Loop& loop : loops(outline, false)) {
        EXPECT_EQ(loop.size(), 12u);
        if (loop[0]->m_faceId > 0) {
            ++faceLoops;
            EXPECT_NEAR(areaVector(loop, cloud).z, 2.0, 1e-6);
        }
    }
    EXPECT_EQ(faceLoops, 1);
    EXPECT_EQ(outline.getEdgeCount(), 24);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
}

TEST(EdgeMeshCoplanar, NonTriangulableFacesAreReportedAndKept) {
    dgEdgeMesh mesh;
    Cloud cloud{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 2, 0}};
    const int32_t flat[4] = {0, 1, 2, 3};
    const int32_t square[4] = {4, 5, 1, 0};
    const int32_t fine[3] = {4, 6, 5};
    mesh.dgEdgeMeshAddFace(4, flat);
    mesh.dgEdgeMeshAddFace(4, square);
    mesh.dgEdgeMeshAddFace(3, fine);
    mesh.dgEdgeMeshEndFace();
    const auto before = faceSet(mesh);
    dgRefList<dgEdge*> list;
    mesh.dgEdgeMeshGetNonTriangulableFaces(list, cloud.data(), 12);
    ASSERT_EQ(list.getCount(), 1);
    const dgEdge* reported = list.getFirst()->getValue();
    std::set<int32_t> corners;
    const dgEdge* ptr = reported;
    do {
        corners.insert(ptr->m_vertex);
        ptr = ptr->m_next;
    } while (ptr != reported);
    EXPECT_EQ(corners, (std::set<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(faceSet(mesh), before);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
}

// ---------------------------------------------------------------------------
// Extraction, reversal and merging

TEST(EdgeMeshExtractRegion, HandsOutEachConnectedRegionOncePerSeries) {
    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 1, 1.0, false, 63, {0, 0, 0});
    addCube(mesh, cloud, 2, 1.0, true, 63, {5, 0, 0});
    addGrid(mesh, cloud, 2, 1.0, 10, 0);
    mesh.dgEdgeMeshEndFace();
    // Stamps from earlier passes must not hide regions.
    mesh.dgEdgeMeshFaceCount();

    std::vector<int32_t> sizes;
    for (;;) {
        dgEdgeMesh region;
        if (!mesh.dgEdgeMeshExtractRegion(region)) {
            break;
        }
        ASSERT_TRUE(region.dgEdgeMeshSanityCheck());
        sizes.push_back(region.getEdgeCount());
        ASSERT_LE(sizes.size(), 3u);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int32_t>{24, 32, 144}));
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());

    // The next call starts a new series.
    dgEdgeMesh again;
    EXPECT_TRUE(mesh.dgEdgeMeshExtractRegion(again));
    EXPECT_GT(again.getEdgeCount(), 0);
}

TEST(EdgeMeshReverseFaces, TwiceGivesBackTheSameFaces) {
    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 2, 1.0, false);
    addGrid(mesh, cloud, 2, 1.0, 3, 0);
    // One face with corner attributes that must follow their vertices.
    const int32_t tri[3] = {cloud.add(9, 9, 0), cloud.add(10, 9, 0), cloud.add(9, 10, 0)};
    const uint64_t data[3] = {11, 22, 33};
    mesh.dgEdgeMeshAddFaceWithData(3, tri, data);
    mesh.dgEdgeMeshEndFace();
    const auto original = faceSet(mesh);
    const double volume = enclosedVolume(mesh, cloud);

    mesh.dgEdgeMeshReverseFaces();
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_NE(faceSet(mesh), original);
    EXPECT_NEAR(enclosedVolume(mesh, cloud), -volume, 1e-9);
    for (int32_t k = 0; k < 3; ++k) {
        dgEdge* e = mesh.dgEdgeMeshFindEdge(tri[k], tri[(k + 2) % 3]);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_userData, data[k]);
    }

    mesh.dgEdgeMeshReverseFaces();
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    EXPECT_EQ(faceSet(mesh), original);
    for (int32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(mesh.dgEdgeMeshFindEdge(tri[k], tri[(k + 1) % 3])->m_userData, data[k]);
    }
}

TEST(EdgeMeshMerge, AppendsSourceAndKeepsTheCensusCurrent) {
    Cloud sourceCloud;
    dgEdgeMesh source;
    addCube(source, sourceCloud, 1, 2.0, false, 63, {5, 5, 5});
    addGrid(source, sourceCloud, 2, 1.0, -3, -3);  // open: its boundary is rebuilt too
    source.dgEdgeMeshEndFace();

    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 1, 1.0, false);
    mesh.dgEdgeMeshEndFace();
    dgEdgeMeshCensus census(mesh);
    const auto sourceFaces = faceSet(source);

    // Room for the mesh's 8 vertices and the source's 17, plus a guard word.
    std::vector<float> vertices(3 * 26, -1.0f);
    std::copy(cloud.xyz.begin(), cloud.xyz.end(), vertices.begin());
    const std::vector<float> untouched = vertices;

    EXPECT_FALSE(mesh.dgEdgeMeshMerge(census, vertices.data(), 12, 24, source, sourceCloud.data(), 12));
    EXPECT_EQ(vertices, untouched);
    EXPECT_EQ(mesh.getEdgeCount(), 24);
    EXPECT_EQ(census.vertexCount, 8);

    ASSERT_TRUE(mesh.dgEdgeMeshMerge(census, vertices.data(), 12, 25, source, sourceCloud.data(), 12));
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    ASSERT_TRUE(source.dgEdgeMeshSanityCheck());
    EXPECT_EQ(faceSet(source), sourceFaces);
    EXPECT_EQ(vertices[3 * 25], -1.0f);

    dgEdgeMeshCensus fresh(mesh);
    EXPECT_EQ(census.loopCount, fresh.loopCount);
    EXPECT_EQ(census.edgeCount, fresh.edgeCount);
    EXPECT_EQ(census.fanCount, fresh.fanCount);
    EXPECT_EQ(census.vertexCount, fresh.vertexCount);
    EXPECT_EQ(census.openLoops.getCount(), 1);
    EXPECT_EQ(fresh.openLoops.getCount(), 1);
    EXPECT_EQ(loops(mesh, true).size(), 6u + 6u + 8u);

    // The appended vertices are the source's, in some order.
    std::multiset<std::tuple<float, float, float>> copied, original;
    for (int32_t v = 8; v < 25; ++v) {
        copied.emplace(vertices[3 * v], vertices[3 * v + 1], vertices[3 * v + 2]);
    }
    for (int32_t v = 0; v < sourceCloud.count(); ++v) {
        original.emplace(sourceCloud.xyz[3 * v], sourceCloud.xyz[3 * v + 1], sourceCloud.xyz[3 * v + 2]);
    }
    EXPECT_EQ(copied, original);
}

// ---------------------------------------------------------------------------
// Vertex-cache ordering

// Misses of a 16-entry first-in-first-out cache over an index stream.
static int32_t cacheMisses(const std::vector<int32_t>& indices) {
    std::vector<int32_t> cache;
    int32_t misses = 0;
    for (int32_t v : indices) {
        if (std::find(cache.begin(), cache.end(), v) != cache.end()) {
            continue;
        }
        ++misses;
        cache.push_back(v);
        if (cache.size() > 16) {
            cache.erase(cache.begin());
        }
    }
    return misses;
}

TEST(EdgeMeshCacheOrder, WritesEveryFaceExactlyOnce) {
    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 8, 1.0, true);
    addGrid(mesh, cloud, 5, 1.0, 0, 5);
    mesh.dgEdgeMeshEndFace();
    const std::multiset<std::vector<int32_t>> triangles = faceSet(mesh);
    const int32_t corners = 3 * int32_t(triangles.size());

    std::vector<int32_t> indices(corners + 1, -7);
    EXPECT_EQ(mesh.dgEdgeMeshGetCacheOrderedIndices(indices.data(), corners - 1), 0);
    EXPECT_EQ(indices[0], -7);
    ASSERT_EQ(mesh.dgEdgeMeshGetCacheOrderedIndices(indices.data(), corners), corners);
    EXPECT_EQ(indices[corners], -7);
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());

    std::multiset<std::vector<int32_t>> written;
    for (int32_t i = 0; i < corners; i += 3) {
        written.insert(canonical({indices[i], indices[i + 1], indices[i + 2]}));
    }
    EXPECT_EQ(written, triangles);

    // Far fewer misses than the same triangles in a shuffled order.
    std::vector<std::vector<int32_t>> shuffled(triangles.begin(), triangles.end());
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    std::vector<int32_t> shuffledOrder;
    for (const auto& t : shuffled) {
        shuffledOrder.insert(shuffledOrder.end(), t.begin(), t.end());
    }
    indices.pop_back();
    EXPECT_LT(2 * cacheMisses(indices), cacheMisses(shuffledOrder));
}

// ---------------------------------------------------------------------------
// Consistency check

TEST(EdgeMeshSanityCheck, PassesFreshMeshesAndCatchesEdits) {
    dgEdgeMesh empty;
    EXPECT_TRUE(empty.dgEdgeMeshSanityCheck());

    dgEdgeMesh mesh;
    Cloud cloud;
    addCube(mesh, cloud, 2, 1.0, true);
    mesh.dgEdgeMeshEndFace();
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());

    dgEdge* edge = &mesh.getFirst()->getNext()->getPayload();
    const int32_t vertex = edge->m_vertex;
    edge->m_vertex = vertex + 1000;
    EXPECT_FALSE(mesh.dgEdgeMeshSanityCheck());
    edge->m_vertex = vertex;
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());

    dgEdge* next = edge->m_next;
    edge->m_next = next->m_next;
    EXPECT_FALSE(mesh.dgEdgeMeshSanityCheck());
    edge->m_next = next;

    edge->m_stamp = mesh.getStamp() + 1;
    EXPECT_FALSE(mesh.dgEdgeMeshSanityCheck());
    edge->m_stamp = 0;
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
}

// A loop longer than any fixed scratch array still checks out.
TEST(EdgeMeshSanityCheck, HandlesLoopsOfAnyLength) {
    dgEdgeMesh mesh;
    const int32_t quads = 33000;
    for (int32_t i = 0; i < quads; ++i) {
        const int32_t q[4] = {i, i + 1, quads + 2 + i, quads + 1 + i};
        ASSERT_NE(mesh.dgEdgeMeshAddFace(4, q), nullptr);
    }
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(openHalfEdges(mesh), 2 * quads + 2);
    EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
}

// ---------------------------------------------------------------------------
// Random builds and edits, checked after every step.

TEST(EdgeMeshRandom, EveryOperationKeepsTheMeshConsistent) {
    std::mt19937 rng(20240611);
    auto uniform = [&](int32_t n) { return int32_t(rng() % uint32_t(n)); };
    Cloud cloud;
    cloud.xyz.reserve(3 * 200000);
    dgEdgeMesh mesh;

    auto randomEdge = [&]() -> dgEdge* {
        if (!mesh.getEdgeCount()) {
            return nullptr;
        }
        int32_t pick = uniform(mesh.getEdgeCount());
        dgEdgeMesh::dgEdgeNode* node = mesh.getFirst();
        while (pick--) {
            node = node->getNext();
        }
        return &node->getPayload();
    };
    auto rebuild = [&]() {
        mesh.dgEdgeMeshClear();
        const double scale = std::pow(10.0, uniform(4) - 1);  // 0.1 to 100
        switch (uniform(4)) {
            case 0:
                addCube(mesh, cloud, 1 + uniform(3), scale, uniform(2) != 0);
                break;
            case 1:
                addGrid(mesh, cloud, 1 + uniform(5), scale, scale * uniform(3), 0);
                break;
            case 2:
                addCube(mesh, cloud, 1 + uniform(2), scale, false, 1 | 4 | 16);
                addCube(mesh, cloud, 1 + uniform(2), scale, false, 2 | 8 | 32);
                break;
            default: {
                // A soup of random faces over a few points, many refused.
                const int32_t base = cloud.count();
                for (int32_t i = 0; i < 12; ++i) {
                    cloud.add(scale * uniform(5), scale * uniform(5), scale * uniform(2));
                }
                for (int32_t i = 0; i < 20; ++i) {
                    const int32_t n = uniform(5);
                    int32_t face[4];
                    for (int32_t k = 0; k < n && k < 4; ++k) {
                        face[k] = base + uniform(12);
                    }
                    mesh.dgEdgeMeshAddFace(n < 4 ? n : 4, face);
                }
            }
        }
        mesh.dgEdgeMeshEndFace();
    };

    rebuild();
    ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck());
    for (int32_t step = 0; step < 3000; ++step) {
        const int32_t op = uniform(22);
        const float* v = cloud.data();
        switch (op) {
            case 0:
                rebuild();
                break;
            case 1:
                // Flips between two faces; a flip across a hole is not used here.
                if (dgEdge* e = randomEdge()) {
                    if (e->m_faceId >= 0 && e->m_twin->m_faceId >= 0) {
                        mesh.dgEdgeMeshFlipEdge(e);
                    }
                }
                break;
            case 2:
                if (dgEdge* e = randomEdge()) {
                    const D3 a = cloud.at(e->m_vertex);
                    const D3 b = cloud.at(e->m_twin->m_vertex);
                    mesh.dgEdgeMeshSplitEdge(cloud.add((a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2), e);
                }
                break;
            case 3:
                if (dgEdge* e = randomEdge()) {
                    const D3 a = cloud.at(e->m_vertex);
                    const D3 b = cloud.at(e->m_twin->m_vertex);
                    mesh.dgEdgeMeshInsertVertex(cloud.add((a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2),
                                                e);
                }
                break;
            case 4:
                if (dgEdge* e = randomEdge()) {
                    mesh.dgEdgeMeshDeleteFace(e);
                }
                break;
            case 5:
            case 6:
                if (dgEdge* e = randomEdge()) {
                    mesh.dgEdgeMeshCollapseEdge(e);
                }
                break;
            case 7:
                mesh.dgEdgeMeshTriangulate(v, 12, nullptr);
                break;
            case 8:
                mesh.dgEdgeMeshRemoveDegenerateFaces(v, 12, 0.0001f * float(uniform(100)));
                break;
            case 9:
                mesh.dgEdgeMeshSimplify(v, 12, 0.01f * float(uniform(20)));
                break;
            case 10:
                mesh.dgEdgeMeshMergeCoplanarFaces(v, 12, nullptr, nullptr, nullptr, 0);
                break;
            case 11:
                mesh.dgEdgeMeshStitch(v, 12, 0.01f * float(uniform(3)));
                break;
            case 12:
                mesh.dgEdgeMeshReverseFaces();
                break;
            case 13: {
                dgEdgeMeshCensus census(mesh);
                mesh.dgEdgeMeshRemoveSmallTriangles(census, v, 12, 0.05f * float(uniform(4)));
                break;
            }
            case 14: {
                dgEdgeMesh region;
                if (mesh.dgEdgeMeshExtractRegion(region)) {
                    ASSERT_TRUE(region.dgEdgeMeshSanityCheck());
                }
                break;
            }
            case 15: {
                dgEdgeMesh source;
                Cloud sourceCloud;
                addCube(source, sourceCloud, 1 + uniform(2), 1.0, uniform(2) != 0, uint32_t(1 + uniform(63)),
                        {double(uniform(10)), 0, 0});
                source.dgEdgeMeshEndFace();
                dgEdgeMeshCensus census(mesh);
                const int32_t start = std::max(census.vertexCount, cloud.count());
                cloud.xyz.resize(size_t(3 * (start + 200)));
                census.vertexCount = start;
                const int32_t edges = mesh.getEdgeCount();
                if (mesh.dgEdgeMeshMerge(census, cloud.xyz.data(), 12, start + 200, source,
                                         sourceCloud.data(), 12)) {
                    EXPECT_EQ(census.edgeCount, mesh.getEdgeCount());
                    EXPECT_GE(mesh.getEdgeCount(), edges);
                }
                break;
            }
            case 16: {
                std::vector<int32_t> indices(size_t(mesh.getEdgeCount()) + 1);
                mesh.dgEdgeMeshGetCacheOrderedIndices(indices.data(), int32_t(indices.size()));
                break;
            }
            case 17:
                mesh.dgEdgeMeshOptimize(v, 12, nullptr);
                break;
            case 18:
                if (dgEdge* e = randomEdge()) {
                    dgRefList<dgEdge*> list;
                    mesh.dgEdgeMeshGetCoplanarFaces(list, e, v, 12, 0.99f);
                    dgEdgeMesh outline;
                    mesh.dgEdgeMeshCoplanarRegionOutline(e, outline, v, 12, nullptr, nullptr, 0);
                    ASSERT_TRUE(outline.dgEdgeMeshSanityCheck());
                }
                break;
            case 19: {
                dgRefList<dgEdge*> list;
                mesh.dgEdgeMeshGetNonTriangulableFaces(list, v, 12);
                break;
            }
            case 20:
                if (dgEdge* e = randomEdge()) {
                    mesh.dgEdgeMeshSetVertexIndex(e, cloud.add(0, 0, 0));
                }
                break;
            default: {
                // Faces added onto a closed mesh, then closed again.
                const int32_t a = uniform(std::max(1, cloud.count()));
                const int32_t b = uniform(std::max(1, cloud.count()));
                mesh.dgEdgeMeshAddTriangle(a, b, cloud.add(uniform(3), uniform(3), uniform(3)));
                mesh.dgEdgeMeshEndFace();
            }
        }
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck()) << "step " << step << " operation " << op;
        ASSERT_TRUE(linksAgree(mesh)) << "step " << step << " operation " << op;
        if (cloud.count() > 150000) {
            cloud.xyz.clear();
            rebuild();
        }
    }
}

// Random meshes built face by face over a small pool of indices on a coarse
// grid (shared corners, faces meeting at one vertex only, coincident
// positions), stitched or not, then packed into an array of exactly one
// record per distinct index counted here.
TEST(EdgeMeshRandom, PackWritesOneRecordPerDistinctVertex) {
    struct Rec {
        float x, y, z, tag;
    };
    std::mt19937 rng(4242);
    for (int32_t round = 0; round < 3000; ++round) {
        const int32_t pool = 3 + int32_t(rng() % 16);
        std::vector<Rec> in(static_cast<size_t>(pool));
        for (int32_t i = 0; i < pool; ++i) {
            in[size_t(i)] = {float(rng() % 3), float(rng() % 3), float(rng() % 2), float(i)};
        }
        dgEdgeMesh mesh;
        for (int32_t f = int32_t(rng() % 12); f >= 0; --f) {
            int32_t face[5];
            const int32_t count = 3 + int32_t(rng() % 3);
            for (int32_t k = 0; k < count; ++k) {
                face[k] = int32_t(rng() % uint32_t(pool));
            }
            mesh.dgEdgeMeshAddFace(count, face);
        }
        mesh.dgEdgeMeshEndFace();
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck()) << round;
        if (rng() % 2) {
            mesh.dgEdgeMeshStitch(&in[0].x, sizeof(Rec), 0.001f);
            ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck()) << round;
        }

        const std::set<int32_t> used = usedVertices(mesh);
        std::vector<std::pair<const dgEdge*, int32_t>> origins;
        for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
            origins.emplace_back(&node->getPayload(), node->getPayload().m_vertex);
        }
        std::vector<Rec> out(used.size());
        const int32_t packed =
            mesh.dgEdgeMeshPackVertices(reinterpret_cast<float*>(out.data()), &in[0].x, sizeof(Rec));
        ASSERT_EQ(packed, int32_t(used.size())) << round;
        ASSERT_TRUE(mesh.dgEdgeMeshSanityCheck()) << round;
        ASSERT_EQ(mesh.dgEdgeMeshVertexCount(), packed) << round;
        for (const auto& origin : origins) {
            ASSERT_EQ(out[size_t(origin.first->m_vertex)].tag, float(origin.second)) << round;
        }
    }
}

TEST(EdgeMeshRepair, LeavesNothingBehind) {
    auto run = [] {
        dgEdgeMesh mesh;
        Cloud cloud;
        addCube(mesh, cloud, 2, 1.0, false, 1 | 4 | 16);
        addCube(mesh, cloud, 2, 1.0, false, 2 | 8 | 32);
        mesh.dgEdgeMeshEndFace();
        mesh.dgEdgeMeshStitch(cloud.data(), 12, 0.001f);
        dgEdgeMeshCensus census(mesh);
        mesh.dgEdgeMeshRemoveSmallTriangles(census, cloud.data(), 12, 0.001f);
        dgRefList<dgEdge*> list;
        mesh.dgEdgeMeshGetCoplanarFaces(list, &mesh.getFirst()->getPayload(), cloud.data(), 12, 0.9f);
        mesh.dgEdgeMeshGetNonTriangulableFaces(list, cloud.data(), 12);
        dgEdgeMesh outline;
        mesh.dgEdgeMeshCoplanarRegionOutline(&mesh.getFirst()->getPayload(), outline, cloud.data(), 12,
                                             nullptr, nullptr, 0);
        dgEdgeMesh region;
        mesh.dgEdgeMeshExtractRegion(region);
        mesh.dgEdgeMeshReverseFaces();
        std::vector<float> vertices(3 * 200);
        std::copy(cloud.xyz.begin(), cloud.xyz.end(), vertices.begin());
        mesh.dgEdgeMeshMerge(census, vertices.data(), 12, 200, region, cloud.data(), 12);
        std::vector<int32_t> indices(size_t(mesh.getEdgeCount()));
        mesh.dgEdgeMeshGetCacheOrderedIndices(indices.data(), int32_t(indices.size()));
        EXPECT_TRUE(mesh.dgEdgeMeshSanityCheck());
    };
    expectBalancedOnSecondRun(run);
}

// The half-edge mesh's structure: keys, building and closing, the faces it
// refuses, and random edits whose every outcome is predicted from the links
// before it and checked after it.
#include "dgEdgeMesh.h"
#include "dgPoolAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CountingHooks.h"
#include "EdgeMeshTestUtils.h"

namespace {

using namespace edgemeshtest;

const int32_t kCubeFaces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                  {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};

// Adds faces of any lengths; corner k of face f carries 1000 (f + 1) + k + 1.
void addFaces(dgEdgeMesh& mesh, const std::vector<std::vector<int32_t>>& faces) {
    for (size_t f = 0; f < faces.size(); ++f) {
        std::vector<uint64_t> data;
        for (size_t k = 0; k < faces[f].size(); ++k) {
            data.push_back(1000 * (f + 1) + k + 1);
        }
        ASSERT_NE(mesh.dgEdgeMeshAddFaceWithData(int32_t(faces[f].size()), faces[f].data(), data.data()),
                  nullptr)
            << "face " << f;
    }
    mesh.dgEdgeMeshEndFace();
}

std::vector<std::vector<int32_t>> cubeFaces() {
    std::vector<std::vector<int32_t>> faces;
    for (const auto& f : kCubeFaces) {
        faces.emplace_back(f, f + 4);
    }
    return faces;
}

std::vector<std::vector<int32_t>> tetrahedron() {
    return {{0, 1, 2}, {0, 3, 1}, {1, 3, 2}, {2, 3, 0}};
}

// n x n cells, two triangles each; vertex (i, j) is j (n + 1) + i.
std::vector<std::vector<int32_t>> triangleGrid(int32_t n) {
    std::vector<std::vector<int32_t>> faces;
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t a = j * (n + 1) + i;
            faces.push_back({a, a + 1, a + n + 2});
            faces.push_back({a, a + n + 2, a + n + 1});
        }
    }
    return faces;
}

// Every half-edge as (origin, destination) -> (face id, next's destination,
// corner data): what an edit that changes nothing leaves alone.
std::map<std::pair<int32_t, int32_t>, std::tuple<int32_t, int32_t, uint64_t>> snapshot(
    const dgEdgeMesh& mesh) {
    std::map<std::pair<int32_t, int32_t>, std::tuple<int32_t, int32_t, uint64_t>> out;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge& e = node->getPayload();
        out[{e.m_vertex, e.m_twin->m_vertex}] =
            std::make_tuple(e.m_faceId, e.m_next->m_twin->m_vertex, e.m_userData);
    }
    return out;
}

std::vector<int32_t> loopVertices(const dgEdge* e) {
    std::vector<int32_t> v;
    const dgEdge* x = e;
    do {
        v.push_back(x->m_vertex);
        x = x->m_next;
    } while (x != e);
    return v;
}

}  // namespace

TEST(EdgeMesh, KeyIsDestinationHighOriginSignExtendedLow) {
    EXPECT_EQ(dgEdgeMesh::dgEdgeMeshKey(1, 2), (int64_t(2) << 32) + 1);
    EXPECT_EQ(dgEdgeMesh::dgEdgeMeshKey(-1, 2), (int64_t(2) << 32) - 1);
    EXPECT_EQ(dgEdgeMesh::dgEdgeMeshKey(3, -1), -(int64_t(1) << 32) + 3);
    // Key order: by destination, then origin.
    EXPECT_LT(dgEdgeMesh::dgEdgeMeshKey(9, 1), dgEdgeMesh::dgEdgeMeshKey(0, 2));
    EXPECT_LT(dgEdgeMesh::dgEdgeMeshKey(INT32_MAX, 1), dgEdgeMesh::dgEdgeMeshKey(INT32_MIN, 2));
}

// Faces as given (face f numbered f + 1, corners carrying their data), then
// closed: the open rim becomes loops of face id -1, data 0, running opposite
// to their faces. A copy is the same mesh again. -1 expects nothing.
struct BuildCase {
    const char* name;
    std::vector<std::vector<int32_t>> faces;
    bool closedAlready;
    int32_t edges, openLoops, vertexCount, euler;
};

class EdgeMeshBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(EdgeMeshBuild, ClosesOpenEdgesIntoRims) {
    const BuildCase& c = GetParam();
    dgEdgeMesh mesh;
    for (size_t f = 0; f < c.faces.size(); ++f) {
        std::vector<uint64_t> data;
        for (size_t k = 0; k < c.faces[f].size(); ++k) {
            data.push_back(1000 * (f + 1) + k + 1);
        }
        dgEdge* e =
            mesh.dgEdgeMeshAddFaceWithData(int32_t(c.faces[f].size()), c.faces[f].data(), data.data());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->m_vertex, c.faces[f][0]);
        EXPECT_EQ(e->m_twin, nullptr);
    }
    EXPECT_EQ(mesh.dgEdgeMeshLinkTwins(), c.closedAlready);
    mesh.dgEdgeMeshCloseOpenEdges();
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), c.edges);
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), int32_t(c.faces.size()));
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), c.vertexCount);
    if (c.openLoops >= 0) {
        EXPECT_EQ(mesh.dgEdgeMeshOpenLoopCount(), c.openLoops);
        EXPECT_EQ(euler(mesh), c.euler);
    }
    for (size_t f = 0; f < c.faces.size(); ++f) {
        const std::vector<int32_t>& face = c.faces[f];
        for (size_t k = 0; k < face.size(); ++k) {
            const dgEdge* e = mesh.dgEdgeMeshFindEdge(face[k], face[(k + 1) % face.size()]);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->m_faceId, int32_t(f + 1));
            EXPECT_EQ(e->m_userData, 1000 * (f + 1) + k + 1);
            EXPECT_EQ(e->m_twin->m_userData, (e->m_twin->m_faceId < 0) ? 0u : e->m_twin->m_userData);
        }
    }
    // Ending the build again changes nothing; a copy is the same mesh.
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(mesh.getEdgeCount(), c.edges);
    dgEdgeMesh copy(mesh);
    EXPECT_EQ(structureFault(copy), "");
    EXPECT_EQ(copy.getEdgeCount(), c.edges);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EdgeMeshBuild,
    ::testing::Values(
        BuildCase{"CubeOfQuads", cubeFaces(), true, 24, 0, 8, 2},
        BuildCase{"Tetrahedron", tetrahedron(), true, 12, 0, 4, 2},
        BuildCase{"TwoTrianglesSharingAnEdge", {{0, 1, 2}, {1, 0, 3}}, false, 10, 1, 4, 1},
        BuildCase{"StripOfThreeQuads", {{0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}}, false, 20, 1, 8, 1},
        // A vertex may come back in one loop as long as no pair does.
        BuildCase{"LoopThroughAVertexTwice", {{0, 1, 2, 0, 3, 4}}, false, 12, -1, 5, -1},
        BuildCase{"Nothing", {}, true, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<BuildCase>& info) { return std::string(info.param.name); });

TEST(EdgeMesh, RefusedFacesLeaveTheMeshUnchanged) {
    dgEdgeMesh mesh;
    const int32_t tri[3] = {0, 1, 2};
    ASSERT_NE(mesh.dgEdgeMeshAddFace(3, tri), nullptr);
    const int32_t edges = mesh.getEdgeCount();

    const std::vector<std::vector<int32_t>> refused = {{0, 1, 2}, {0, 1, 3}, {5, 6, 5, 7}, {5, 5, 6}, {5, 6},
                                                       {5},       {}};
    for (const auto& face : refused) {
        EXPECT_EQ(mesh.dgEdgeMeshAddFace(int32_t(face.size()), face.data()), nullptr) << face.size();
    }
    const int32_t one[1] = {5};
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(-3, one), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, nullptr), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddTriangle(8, 8, 9), nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), edges);
    EXPECT_EQ(mesh.getFaceCounter(), 1);

    // Length alone refuses nothing: a face of thousands of indices is taken
    // whole; one repeating a pair far apart is caught too.
    std::vector<int32_t> ring(4100);
    for (size_t i = 0; i < ring.size(); ++i) {
        ring[i] = int32_t(100 + i);
    }
    dgEdge* const longFace = mesh.dgEdgeMeshAddFace(int32_t(ring.size()), ring.data());
    ASSERT_NE(longFace, nullptr);
    EXPECT_EQ(loopLength(longFace), int32_t(ring.size()));
    EXPECT_EQ(longFace->m_faceId, 2);
    std::vector<int32_t> longRepeat(200);
    for (size_t i = 0; i < longRepeat.size(); ++i) {
        longRepeat[i] = int32_t(5000 + i);
    }
    longRepeat[150] = 5001;
    longRepeat[151] = 5000;
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(int32_t(longRepeat.size()), longRepeat.data()), nullptr);
    EXPECT_EQ(mesh.getFaceCounter(), 2);
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(structureFault(mesh), "");
}

TEST(EdgeMesh, LoneHalfEdgesAndVertexLookups) {
    dgEdgeMesh mesh;
    EXPECT_EQ(mesh.dgEdgeMeshFindVertexEdge(0), nullptr);
    dgEdge* e = mesh.dgEdgeMeshAddHalfEdge(3, 4);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_faceId, -1);
    EXPECT_EQ(e->m_next, nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(3, 4), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(3, 4), e);
    // A lone half-edge has no next, yet linking reads its destination from
    // its key.
    dgEdge* back = mesh.dgEdgeMeshAddHalfEdge(4, 3);
    EXPECT_TRUE(mesh.dgEdgeMeshLinkTwins());
    EXPECT_EQ(e->m_twin, back);

    // Vertex lookups work before and after the twins are linked.
    dgEdgeMesh open;
    open.dgEdgeMeshAddTriangle(0, 1, 2);
    open.dgEdgeMeshAddTriangle(5, 2, 1);
    for (bool closed : {false, true}) {
        for (int32_t v : {0, 1, 2, 5}) {
            dgEdge* found = open.dgEdgeMeshFindVertexEdge(v);
            ASSERT_NE(found, nullptr) << v;
            EXPECT_EQ(found->m_vertex, v);
        }
        EXPECT_EQ(open.dgEdgeMeshFindVertexEdge(3), nullptr);
        open.dgEdgeMeshEndFace();
        EXPECT_EQ(open.dgEdgeMeshVertexCount(), 6) << closed;
    }
}

TEST(EdgeMesh, DeleteEdgeJoinsTheTwoFacesIntoOneLoop) {
    dgEdgeMesh mesh;
    addFaces(mesh, cubeFaces());
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    dgEdge* survivor = e->m_next;
    mesh.dgEdgeMeshDeleteEdge(e);
    EXPECT_EQ(mesh.getEdgeCount(), 22);
    EXPECT_EQ(loopLength(survivor), 6);
    for (dgEdge* x = survivor->m_next; x != survivor; x = x->m_next) {
        x->m_faceId = survivor->m_faceId;
    }
    EXPECT_EQ(structureFault(mesh), "");
    mesh.dgEdgeMeshDeleteEdge(40, 41);  // absent: nothing happens
    EXPECT_EQ(mesh.getEdgeCount(), 22);
    // Deleting every face empties the mesh.
    while (mesh.getEdgeCount()) {
        dgEdge* face = nullptr;
        for (auto* node = mesh.getFirst(); node && !face; node = node->getNext()) {
            face = (node->getPayload().m_faceId > 0) ? &node->getPayload() : nullptr;
        }
        ASSERT_NE(face, nullptr);
        mesh.dgEdgeMeshDeleteFace(face);
        EXPECT_EQ(structureFault(mesh), "");
    }
}

TEST(EdgeMesh, SplitEdgeOfADanglingEdge) {
    // A face (0, 1, 2, 1) runs out to 2 and back: 1->2 and 2->1 are twins in
    // one loop.
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshDeleteEdge(mesh.dgEdgeMeshFindEdge(2, 0));
    dgEdge* tip = mesh.dgEdgeMeshFindEdge(1, 2);
    ASSERT_EQ(tip->m_next, tip->m_twin);
    ASSERT_NE(mesh.dgEdgeMeshSplitEdge(9, tip), nullptr);
    EXPECT_TRUE(mesh.getEdgeTree().sanityCheck());
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        EXPECT_EQ(e->m_next->m_prev, e);
        EXPECT_EQ(e->m_twin->m_twin, e);
        EXPECT_EQ(e->m_next->m_vertex, e->m_twin->m_vertex);
    }
    // 0->1, 1->9, 9->2, 2->9, 9->1, 1->0
    EXPECT_EQ(loopLength(mesh.dgEdgeMeshFindEdge(1, 9)), 6);
}

// Indices run from 0 to kMaxVertexIndex, so that the vertex count (largest
// index + 1) is representable; every way in refuses the others unchanged.
TEST(EdgeMesh, IndicesTheVertexCountCannotHoldAreRefused) {
    for (const int32_t bad : {INT32_MAX, -1, INT32_MIN}) {
        dgEdgeMesh mesh;
        addFaces(mesh, cubeFaces());
        const auto before = snapshot(mesh);
        const int32_t face[4] = {10, 11, bad, 12};
        EXPECT_EQ(mesh.dgEdgeMeshAddTriangle(10, 11, bad), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddFace(4, face), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(10, bad), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(bad, 10), nullptr) << bad;
        dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
        EXPECT_EQ(mesh.dgEdgeMeshSplitEdge(bad, e), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshInsertVertex(bad, e), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshSetVertexIndex(e, bad), 0) << bad;
        EXPECT_EQ(snapshot(mesh), before) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 8) << bad;
    }
    dgEdgeMesh mesh;
    EXPECT_NE(mesh.dgEdgeMeshAddTriangle(0, 1, dgEdgeMesh::kMaxVertexIndex), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), INT32_MAX);
}

TEST(EdgeMesh, CopyKeepsFacesLongerThanTheAddLimit) {
    // Edits may grow a face past what a caller may add at once: three fan
    // pieces of a 3000-gon whose two chords are then deleted.
    dgEdgeMesh mesh;
    const int32_t n = 3000;
    for (int32_t p = 0; p < 3; ++p) {
        std::vector<int32_t> piece;
        if (p > 0) {
            piece.push_back(0);
        }
        for (int32_t i = p * 1000; i <= std::min((p + 1) * 1000, n - 1); ++i) {
            piece.push_back(i);
        }
        ASSERT_NE(mesh.dgEdgeMeshAddFace(int32_t(piece.size()), piece.data()), nullptr) << p;
    }
    mesh.dgEdgeMeshEndFace();
    dgEdge* keep = mesh.dgEdgeMeshFindEdge(0, 1);
    mesh.dgEdgeMeshDeleteEdge(mesh.dgEdgeMeshFindEdge(1000, 0));
    mesh.dgEdgeMeshDeleteEdge(mesh.dgEdgeMeshFindEdge(2000, 0));
    for (dgEdge* x = keep->m_next; x != keep; x = x->m_next) {
        x->m_faceId = keep->m_faceId;
    }
    ASSERT_EQ(loopLength(keep), n);
    ASSERT_EQ(structureFault(mesh), "");

    dgEdgeMesh copy(mesh);
    EXPECT_EQ(structureFault(copy), "");
    EXPECT_EQ(copy.getEdgeCount(), 2 * n);
    EXPECT_EQ(copy.dgEdgeMeshFaceCount(), 1);
}

// Splits, vertex insertions, flips, renames, face deletions and copies at
// random on a tetrahedron, a cube of quads and an open triangle grid. Before
// each edit its outcome is predicted from the links (refused, or what it
// adds, cuts and moves); after it the mesh must show exactly that, and a
// refused edit must change nothing. New vertices take fresh indices; an end
// of the edge or a neighbour of one is offered too, and must be refused.
TEST(EdgeMesh, RandomEditsDoWhatTheLinksPredict) {
    std::mt19937 rng(1234);
    auto pick = [&rng](int32_t n) { return int32_t(rng() % uint32_t(n)); };
    std::map<std::string, int32_t> seen;
    for (int32_t round = 0; round < 15; ++round) {
        dgEdgeMesh mesh;
        const int32_t shape = round % 3;
        addFaces(mesh, shape == 0 ? tetrahedron() : (shape == 1 ? cubeFaces() : triangleGrid(4)));
        int32_t nextVertex = 100;
        for (int32_t step = 0; step < 120 && mesh.getEdgeCount() > 0; ++step) {
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            std::vector<dgEdge*> all;
            for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
                all.push_back(&node->getPayload());
            }
            dgEdge* const e = all[size_t(pick(int32_t(all.size())))];
            dgEdge* const twin = e->m_twin;
            const int32_t a = e->m_vertex;
            const int32_t b = twin->m_vertex;
            const auto has = [&mesh](int32_t from, int32_t to) {
                return mesh.dgEdgeMeshFindEdge(from, to) != nullptr;
            };
            const int32_t near[4] = {a, b, e->m_next->m_twin->m_vertex, twin->m_next->m_twin->m_vertex};
            const bool fresh = pick(4) != 0;
            const int32_t m = fresh ? nextVertex++ : near[pick(4)];
            const auto before = snapshot(mesh);
            const int32_t edges = mesh.getEdgeCount();
            const int32_t eulerBefore = euler(mesh);
            const int32_t faceCounter = mesh.getFaceCounter();
            const int32_t faces = int32_t(loops(mesh, true).size());
            const int32_t edgeFace = e->m_faceId;
            const int32_t twinFace = twin->m_faceId;
            const int32_t edgeLength = loopLength(e);
            const int32_t twinLength = loopLength(twin);
            // Two simple loops meeting at the edge alone.
            std::vector<int32_t> both = loopVertices(e);
            const std::vector<int32_t> other = loopVertices(twin);
            both.insert(both.end(), other.begin(), other.end());
            const bool twoLoops = std::set<int32_t>(both.begin(), both.end()).size() == both.size() - 2;
            std::string outcome;
            switch (pick(6)) {
                case 0:
                case 1: {
                    const bool insert = (step % 2) != 0;
                    const bool refuse =
                        (m == a) || (m == b) || has(a, m) || has(m, b) || has(m, a) || has(b, m);
                    dgEdge* r = insert ? mesh.dgEdgeMeshInsertVertex(m, e) : mesh.dgEdgeMeshSplitEdge(m, e);
                    outcome = std::string(insert ? "insert" : "split") + (refuse ? " refused" : "");
                    ASSERT_EQ(r == nullptr, refuse);
                    if (refuse) {
                        break;
                    }
                    ASSERT_EQ(r->m_vertex, b);
                    ASSERT_EQ(r->m_twin->m_vertex, m);
                    ASSERT_FALSE(has(a, b));
                    const std::pair<int32_t, int32_t> halves[4] = {{a, m}, {m, b}, {b, m}, {m, a}};
                    for (const auto& half : halves) {
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(half.first, half.second)->m_userData, 0u);
                    }
                    if (!insert) {
                        ASSERT_EQ(mesh.getEdgeCount(), edges + 2);
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(a, m)->m_faceId, edgeFace);
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(m, b)->m_faceId, edgeFace);
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(b, m)->m_faceId, twinFace);
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(m, a)->m_faceId, twinFace);
                        ASSERT_EQ(mesh.getFaceCounter(), faceCounter);
                        if (twoLoops) {
                            ASSERT_EQ(loopLength(r), twinLength + 1);
                            ASSERT_EQ(loopLength(r->m_twin), edgeLength + 1);
                        }
                    } else if (twoLoops) {
                        // Each face beside the new vertex is fanned into
                        // triangles, each cut-off one under a new id.
                        const int32_t cuts =
                            ((edgeFace > 0) ? edgeLength - 2 : 0) + ((twinFace > 0) ? twinLength - 2 : 0);
                        ASSERT_EQ(mesh.getFaceCounter(), faceCounter + cuts);
                        ASSERT_EQ(mesh.getEdgeCount(), edges + 2 + 2 * cuts);
                        const dgEdge* x = r->m_twin;
                        do {
                            ASSERT_TRUE((x->m_faceId < 0) || (loopLength(x) == 3));
                            x = x->m_twin->m_next;
                        } while (x != r->m_twin);
                        ++seen["insert fanned"];
                    }
                    break;
                }
                case 2: {
                    const int32_t c = e->m_prev->m_vertex;
                    const int32_t d = twin->m_prev->m_vertex;
                    const uint64_t cCorner = e->m_prev->m_userData;
                    const uint64_t dCorner = twin->m_prev->m_userData;
                    outcome = ((edgeLength != 3) || (twinLength != 3)) ? "flip refused: not two triangles"
                              : ((edgeFace < 0) || (twinFace < 0))     ? "flip refused: a hole"
                              : ((c == d) || has(c, d) || has(d, c))   ? "flip refused: the diagonal exists"
                                                                       : "flip";
                    ASSERT_EQ(mesh.dgEdgeMeshFlipEdge(e), outcome == "flip");
                    if (outcome == "flip") {
                        ASSERT_FALSE(has(a, b));
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(d, c), e);
                        ASSERT_EQ(e->m_userData, dCorner);
                        ASSERT_EQ(twin->m_userData, cCorner);
                        ASSERT_EQ(loopVertices(e), (std::vector<int32_t>{d, c, a}));
                        ASSERT_EQ(loopVertices(twin), (std::vector<int32_t>{c, d, b}));
                        ASSERT_EQ(e->m_next->m_faceId, edgeFace);
                        ASSERT_EQ(twin->m_next->m_faceId, twinFace);
                        ASSERT_EQ(mesh.getEdgeCount(), edges);
                    }
                    break;
                }
                case 3: {
                    // a's fan takes the new index, refused onto a neighbour or
                    // where a new key is taken.
                    bool refuse = (m == a);
                    std::vector<std::pair<int32_t, int32_t>> fan;
                    const dgEdge* x = e;
                    do {
                        const int32_t to = x->m_twin->m_vertex;
                        refuse = refuse || (to == m) || has(m, to) || has(to, m);
                        fan.emplace_back(to, x->m_faceId);
                        x = x->m_twin->m_next;
                    } while (x != e);
                    outcome = refuse ? "rename refused" : "rename";
                    ASSERT_EQ(mesh.dgEdgeMeshSetVertexIndex(e, m), refuse ? a : m);
                    for (const auto& spoke : fan) {
                        ASSERT_EQ(has(a, spoke.first), refuse);
                        ASSERT_EQ(mesh.dgEdgeMeshFindEdge(refuse ? a : m, spoke.first)->m_faceId,
                                  spoke.second);
                    }
                    break;
                }
                case 4: {
                    // The face becomes a hole; its edges with a hole beyond go.
                    int32_t bare = 0;
                    const dgEdge* x = e;
                    do {
                        bare += (x->m_twin->m_faceId < 0) ? 1 : 0;
                        x = x->m_next;
                    } while (x != e);
                    outcome = (edgeFace < 0) ? "delete refused" : "delete";
                    mesh.dgEdgeMeshDeleteFace(e);
                    if (edgeFace > 0) {
                        ASSERT_EQ(mesh.getEdgeCount(), edges - 2 * bare);
                        ASSERT_EQ(int32_t(loops(mesh, true).size()), faces - 1);
                    }
                    break;
                }
                default: {
                    // A copy rebuilds the faces with their corner data and
                    // fresh ids; its rims are made anew with data 0.
                    dgEdgeMesh copy(mesh);
                    ASSERT_EQ(structureFault(copy), "");
                    ASSERT_EQ(copy.getEdgeCount(), edges);
                    ASSERT_EQ(copy.getFaceCounter(), faces);
                    ASSERT_TRUE(faceIdsUnique(copy));
                    for (const auto& entry : before) {
                        const dgEdge* c = copy.dgEdgeMeshFindEdge(entry.first.first, entry.first.second);
                        ASSERT_NE(c, nullptr);
                        const bool hole = std::get<0>(entry.second) < 0;
                        ASSERT_EQ(c->m_faceId < 0, hole);
                        ASSERT_EQ(c->m_userData, hole ? 0u : std::get<2>(entry.second));
                        if (!hole) {
                            ASSERT_EQ(c->m_next->m_twin->m_vertex, std::get<1>(entry.second));
                        }
                    }
                    outcome = "copy";
                    break;
                }
            }
            ++seen[outcome];
            ASSERT_EQ(structureFault(mesh), "") << outcome;
            ASSERT_TRUE(faceIdsUnique(mesh)) << outcome;
            if ((outcome.find("refused") != std::string::npos) || (outcome == "copy")) {
                ASSERT_EQ(snapshot(mesh), before) << outcome;
            } else if (outcome != "delete") {
                ASSERT_EQ(euler(mesh), eulerBefore) << outcome;
            }
        }
    }
    for (const char* outcome :
         {"split", "split refused", "insert", "insert fanned", "insert refused", "flip",
          "flip refused: not two triangles", "flip refused: a hole", "flip refused: the diagonal exists",
          "rename", "rename refused", "delete", "delete refused", "copy"}) {
        EXPECT_GT(seen[outcome], 0) << outcome << " came up " << seen[outcome] << " times";
    }
}

TEST(EdgeMesh, NodesComeFromTheSharedPoolAndGoBackToIt) {
    auto* pool = static_cast<dgPoolAllocator*>(dgEdgeMesh::dgEdgeMeshSharedNodePool());
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->getPageBytes(), 16u * 1024u);
    EXPECT_GE(pool->getElementBytes(), uint32_t(sizeof(dgEdgeMesh::dgEdgeNode)));
    auto run = [pool] {
        const int32_t inUse = pool->getInUse();
        dgEdgeMesh mesh;
        addFaces(mesh, triangleGrid(30));
        EXPECT_EQ(pool->getInUse(), inUse + mesh.getEdgeCount());
        EXPECT_GT(pool->getPageCount(), 1);
        dgEdgeMesh copy(mesh);
        dgEdgeMesh* heapMesh = new dgEdgeMesh(copy);
        ASSERT_NE(heapMesh, nullptr);
        heapMesh->dgEdgeMeshDeleteFace(heapMesh->dgEdgeMeshFindEdge(0, 1));
        delete heapMesh;
        mesh.dgEdgeMeshClear();
        EXPECT_EQ(mesh.getEdgeCount(), 0);
    };
    const int32_t inUse = pool->getInUse();
    expectBalancedOnSecondRun(run);
    EXPECT_EQ(pool->getInUse(), inUse);

    // The owner may put the nodes on a pool of its own while the mesh is empty.
    dgPoolAllocator* arena = dgCreatePoolAllocator(uint32_t(sizeof(dgEdgeMesh::dgEdgeNode)), 4);
    ASSERT_NE(arena, nullptr);
    {
        dgEdgeMesh mesh;
        ASSERT_TRUE(mesh.setNodeAllocator(arena));
        EXPECT_EQ(mesh.getNodeAllocator(), arena);
        addFaces(mesh, cubeFaces());
        EXPECT_EQ(arena->getInUse(), 24);
        EXPECT_FALSE(mesh.setNodeAllocator(nullptr));
        EXPECT_EQ(structureFault(mesh), "");
    }
    EXPECT_EQ(arena->getInUse(), 0);
}

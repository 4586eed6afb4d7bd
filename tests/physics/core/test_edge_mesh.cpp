#include "dgEdgeMesh.h"
#include "dgPoolAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CountingHooks.h"

namespace {

// Independent structural check of a mesh that should be closed: links,
// keys, loops, the tree itself. Returns an empty string when consistent.
std::string structureFault(dgEdgeMesh& mesh) {
    if (!mesh.getEdgeTree().sanityCheck()) {
        return "tree";
    }
    int32_t visited = 0;
    std::set<const dgEdge*> inLoop;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        ++visited;
        dgEdge* e = &node->getPayload();
        if (!e->m_twin || !e->m_next || !e->m_prev) {
            return "null link at vertex " + std::to_string(e->m_vertex);
        }
        if (e->m_twin->m_twin != e) {
            return "twin";
        }
        if (e->m_next->m_prev != e || e->m_prev->m_next != e) {
            return "next/prev";
        }
        if (e->m_next->m_vertex != e->m_twin->m_vertex) {
            return "destination";
        }
        if (node->getKey() != dgEdgeMesh::dgEdgeMeshKey(e->m_vertex, e->m_twin->m_vertex)) {
            return "key";
        }
        if (dgEdgeMesh::dgEdgeMeshNodeOf(e) != node) {
            return "node of";
        }
        if (e->m_faceId < 0 && e->m_twin->m_faceId < 0) {
            return "pair bordering no face";
        }
        if (!inLoop.insert(e).second) {
            continue;
        }
        int32_t length = 0;
        const dgEdge* x = e;
        do {
            if (x->m_faceId != e->m_faceId) {
                return "mixed face ids in a loop";
            }
            x = x->m_next;
            inLoop.insert(x);
            if (++length > mesh.getEdgeCount()) {
                return "loop does not close";
            }
        } while (x != e);
    }
    if (visited != mesh.getEdgeCount()) {
        return "count";
    }
    return std::string();
}

// Loops of the mesh as (face id, first half-edge in key order).
std::vector<dgEdge*> loops(dgEdgeMesh& mesh) {
    std::vector<dgEdge*> out;
    std::set<const dgEdge*> seen;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        if (seen.count(e)) {
            continue;
        }
        out.push_back(e);
        dgEdge* x = e;
        do {
            seen.insert(x);
            x = x->m_next;
        } while (x != e);
    }
    return out;
}

int32_t loopLength(const dgEdge* e) {
    int32_t n = 0;
    const dgEdge* x = e;
    do {
        ++n;
        x = x->m_next;
    } while (x != e);
    return n;
}

// Every loop with a positive id has an id no other loop has.
bool faceIdsUnique(dgEdgeMesh& mesh) {
    std::set<int32_t> ids;
    for (dgEdge* e : loops(mesh)) {
        if (e->m_faceId > 0 && !ids.insert(e->m_faceId).second) {
            return false;
        }
    }
    return true;
}

int32_t vertexFans(dgEdgeMesh& mesh) {
    std::set<const dgEdge*> seen;
    int32_t fans = 0;
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        if (seen.count(e)) {
            continue;
        }
        ++fans;
        dgEdge* x = e;
        do {
            seen.insert(x);
            x = x->m_twin->m_next;
        } while (x != e);
    }
    return fans;
}

// V - E + F over faces with id >= 0, vertices counted as fans.
int32_t euler(dgEdgeMesh& mesh) {
    int32_t faces = 0;
    for (dgEdge* e : loops(mesh)) {
        faces += e->m_faceId >= 0 ? 1 : 0;
    }
    return vertexFans(mesh) - mesh.getEdgeCount() / 2 + faces;
}

const int32_t kCubeFaces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                  {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};

void buildCube(dgEdgeMesh& mesh, int32_t scale = 1, int32_t offset = 0) {
    mesh.dgEdgeMeshBeginFace();
    for (const auto& face : kCubeFaces) {
        int32_t f[4];
        for (int k = 0; k < 4; ++k) {
            f[k] = face[k] * scale + offset;
        }
        ASSERT_NE(mesh.dgEdgeMeshAddFace(4, f), nullptr);
    }
    mesh.dgEdgeMeshEndFace();
}

// Grid of n x n quads split into triangles, vertices (n+1)^2.
void buildTriangleGrid(dgEdgeMesh& mesh, int32_t n) {
    mesh.dgEdgeMeshBeginFace();
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t a = j * (n + 1) + i;
            const int32_t b = a + 1;
            const int32_t c = a + n + 2;
            const int32_t d = a + n + 1;
            ASSERT_NE(mesh.dgEdgeMeshAddTriangle(a, b, c), nullptr);
            ASSERT_NE(mesh.dgEdgeMeshAddTriangle(a, c, d), nullptr);
        }
    }
    mesh.dgEdgeMeshEndFace();
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

TEST(EdgeMesh, CubeOfQuadsIsClosedWithEulerCharacteristicTwo) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    EXPECT_EQ(mesh.getEdgeCount(), 24);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(euler(mesh), 2);
    EXPECT_EQ(vertexFans(mesh), 8);
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 6);
    EXPECT_EQ(mesh.dgEdgeMeshOpenLoopCount(), 0);
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 8);
    EXPECT_TRUE(mesh.dgEdgeMeshLinkTwins());
    EXPECT_TRUE(faceIdsUnique(mesh));
}

TEST(EdgeMesh, TwoTrianglesShareAnEdgeAndTheirRimBecomesOneOpenLoop) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    const int32_t f0[3] = {0, 1, 2};
    const int32_t f1[3] = {1, 0, 3};
    ASSERT_NE(mesh.dgEdgeMeshAddFace(3, f0), nullptr);
    ASSERT_NE(mesh.dgEdgeMeshAddFace(3, f1), nullptr);
    EXPECT_FALSE(mesh.dgEdgeMeshLinkTwins());
    mesh.dgEdgeMeshCloseOpenEdges();
    EXPECT_EQ(mesh.getEdgeCount(), 10);
    EXPECT_EQ(structureFault(mesh), "");
    dgEdge* e01 = mesh.dgEdgeMeshFindEdge(0, 1);
    ASSERT_NE(e01, nullptr);
    EXPECT_EQ(e01->m_twin, mesh.dgEdgeMeshFindEdge(1, 0));
    int32_t openLoops = 0;
    for (dgEdge* e : loops(mesh)) {
        if (e->m_faceId == -1) {
            ++openLoops;
            EXPECT_EQ(loopLength(e), 4);
            // The rim runs opposite to its faces.
            dgEdge* x = e;
            do {
                EXPECT_GT(x->m_twin->m_faceId, 0);
                EXPECT_EQ(x->m_userData, 0u);
                x = x->m_next;
            } while (x != e);
        }
    }
    EXPECT_EQ(openLoops, 1);
    EXPECT_EQ(mesh.dgEdgeMeshOpenLoopCount(), 1);
}

TEST(EdgeMesh, OpenStripGetsOneOpenLoopAroundIt) {
    // Three quads in a row: rim of 8 edges.
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    for (int32_t i = 0; i < 3; ++i) {
        const int32_t f[4] = {i, i + 1, i + 5, i + 4};
        ASSERT_NE(mesh.dgEdgeMeshAddFace(4, f), nullptr);
    }
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), 2 * 10);
    EXPECT_EQ(mesh.dgEdgeMeshOpenLoopCount(), 1);
    dgEdge* rim = mesh.dgEdgeMeshFindEdge(1, 0);
    ASSERT_NE(rim, nullptr);
    EXPECT_EQ(rim->m_faceId, -1);
    EXPECT_EQ(loopLength(rim), 8);
    EXPECT_EQ(euler(mesh), 1);
}

TEST(EdgeMesh, RefusedFacesLeaveTheMeshUnchanged) {
    dgEdgeMesh mesh;
    const int32_t tri[3] = {0, 1, 2};
    ASSERT_NE(mesh.dgEdgeMeshAddFace(3, tri), nullptr);
    const int32_t edges = mesh.getEdgeCount();

    const int32_t sameDirection[3] = {0, 1, 3};
    const int32_t repeatedPair[4] = {5, 6, 5, 7};
    const int32_t doubled[3] = {5, 5, 6};
    const int32_t two[2] = {5, 6};
    const int32_t one[1] = {5};
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, tri), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, sameDirection), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(4, repeatedPair), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, doubled), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(2, two), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(1, one), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(0, one), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(-3, one), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, nullptr), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddTriangle(8, 8, 9), nullptr);

    EXPECT_EQ(mesh.getEdgeCount(), edges);
    EXPECT_EQ(mesh.getFaceCounter(), 1);

    // Length alone refuses nothing: a face of thousands of indices is taken
    // whole.
    std::vector<int32_t> ring(4100);
    for (size_t i = 0; i < ring.size(); ++i) {
        ring[i] = int32_t(100 + i);
    }
    dgEdge* const longFace = mesh.dgEdgeMeshAddFace(int32_t(ring.size()), ring.data());
    ASSERT_NE(longFace, nullptr);
    EXPECT_EQ(loopLength(longFace), int32_t(ring.size()));
    EXPECT_EQ(mesh.getFaceCounter(), 2);
    // A long face repeating a pair far apart is caught too.
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

TEST(EdgeMesh, VertexMayRepeatInOneLoopWithoutRepeatingAPair) {
    dgEdgeMesh mesh;
    const int32_t f[6] = {0, 1, 2, 0, 3, 4};
    dgEdge* e = mesh.dgEdgeMeshAddFace(6, f);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(loopLength(e), 6);
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), 12);
}

TEST(EdgeMesh, FirstFaceIsNumberedOneAndReturnedFromItsFirstIndex) {
    dgEdgeMesh mesh;
    const int32_t f[4] = {7, 3, 9, 4};
    const uint64_t data[4] = {70, 30, 90, 40};
    dgEdge* e = mesh.dgEdgeMeshAddFaceWithData(4, f, data);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_faceId, 1);
    EXPECT_EQ(e->m_vertex, 7);
    EXPECT_EQ(e->m_next->m_vertex, 3);
    dgEdge* x = e;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(x->m_vertex, f[k]);
        EXPECT_EQ(x->m_userData, data[k]);
        EXPECT_EQ(x->m_twin, nullptr);
        x = x->m_next;
    }
    EXPECT_EQ(x, e);
    const int32_t g[3] = {10, 11, 12};
    EXPECT_EQ(mesh.dgEdgeMeshAddFace(3, g)->m_faceId, 2);
}

TEST(EdgeMesh, AddHalfEdgeRefusesAnExistingKey) {
    dgEdgeMesh mesh;
    dgEdge* e = mesh.dgEdgeMeshAddHalfEdge(3, 4);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_vertex, 3);
    EXPECT_EQ(e->m_faceId, -1);
    EXPECT_EQ(e->m_next, nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(3, 4), nullptr);
    EXPECT_EQ(mesh.getEdgeCount(), 1);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(3, 4), e);
    // A lone half-edge has no next, yet linking reads its destination from
    // its key.
    dgEdge* back = mesh.dgEdgeMeshAddHalfEdge(4, 3);
    EXPECT_TRUE(mesh.dgEdgeMeshLinkTwins());
    EXPECT_EQ(e->m_twin, back);
}

TEST(EdgeMesh, ClosedTetrahedronNeedsNoClosing) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(0, 3, 1);
    mesh.dgEdgeMeshAddTriangle(1, 3, 2);
    mesh.dgEdgeMeshAddTriangle(2, 3, 0);
    EXPECT_TRUE(mesh.dgEdgeMeshLinkTwins());
    mesh.dgEdgeMeshCloseOpenEdges();
    EXPECT_EQ(mesh.getEdgeCount(), 12);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(euler(mesh), 2);
}

TEST(EdgeMesh, EmptyMeshHasNoVerticesFacesOrLoops) {
    dgEdgeMesh mesh;
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 0);
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 0);
    EXPECT_EQ(mesh.dgEdgeMeshFindVertexEdge(0), nullptr);
    mesh.dgEdgeMeshEndFace();
    EXPECT_EQ(mesh.getEdgeCount(), 0);
    dgEdgeMesh copy(mesh);
    EXPECT_EQ(copy.getEdgeCount(), 0);
}

TEST(EdgeMesh, FindVertexEdgeWorksOnOpenAndClosedMeshes) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(5, 2, 1);
    // Not yet closed: twins are null.
    for (int32_t v : {0, 1, 2, 5}) {
        dgEdge* e = mesh.dgEdgeMeshFindVertexEdge(v);
        ASSERT_NE(e, nullptr) << v;
        EXPECT_EQ(e->m_vertex, v);
    }
    EXPECT_EQ(mesh.dgEdgeMeshFindVertexEdge(3), nullptr);
    mesh.dgEdgeMeshEndFace();
    for (int32_t v : {0, 1, 2, 5}) {
        dgEdge* e = mesh.dgEdgeMeshFindVertexEdge(v);
        ASSERT_NE(e, nullptr) << v;
        EXPECT_EQ(e->m_vertex, v);
    }
    EXPECT_EQ(mesh.dgEdgeMeshFindVertexEdge(4), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 6);
}

TEST(EdgeMesh, DeleteEdgeJoinsTheTwoFacesIntoOneLoop) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    const int32_t keep = e->m_twin->m_faceId;
    dgEdge* survivor = e->m_next;
    mesh.dgEdgeMeshDeleteEdge(e);
    EXPECT_EQ(mesh.getEdgeCount(), 22);
    EXPECT_EQ(loopLength(survivor), 6);
    for (dgEdge* x = survivor->m_next; x != survivor; x = x->m_next) {
        x->m_faceId = keep;
    }
    survivor->m_faceId = keep;
    EXPECT_EQ(structureFault(mesh), "");
    mesh.dgEdgeMeshDeleteEdge(40, 41);  // absent: nothing happens
    EXPECT_EQ(mesh.getEdgeCount(), 22);
}

TEST(EdgeMesh, DeletingFacesOpensHolesAndDropsBareEdges) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    dgEdge* top = mesh.dgEdgeMeshFindEdge(4, 5);
    mesh.dgEdgeMeshDeleteFace(top);
    EXPECT_EQ(mesh.getEdgeCount(), 24);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshOpenLoopCount(), 1);
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 5);
    // A neighbour of the hole: its shared edge now borders holes on both sides.
    mesh.dgEdgeMeshDeleteFace(mesh.dgEdgeMeshFindEdge(0, 1));
    EXPECT_EQ(mesh.getEdgeCount(), 22);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 4);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(4, 5), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(5, 4), nullptr);
    // Deleting a hole does nothing.
    dgEdge* rim = mesh.dgEdgeMeshFindEdge(0, 1);
    ASSERT_NE(rim, nullptr);
    ASSERT_LT(rim->m_faceId, 0);
    mesh.dgEdgeMeshDeleteFace(rim);
    EXPECT_EQ(mesh.getEdgeCount(), 22);
    // Deleting everything empties the mesh.
    while (mesh.getEdgeCount()) {
        dgEdge* face = nullptr;
        for (auto* node = mesh.getFirst(); node && !face; node = node->getNext()) {
            if (node->getPayload().m_faceId > 0) {
                face = &node->getPayload();
            }
        }
        ASSERT_NE(face, nullptr);
        mesh.dgEdgeMeshDeleteFace(face);
        EXPECT_EQ(structureFault(mesh), "");
    }
}

TEST(EdgeMesh, SplitEdgeThreadsTheNewVertexIntoBothFaces) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    const int32_t ef = e->m_faceId;
    const int32_t tf = e->m_twin->m_faceId;
    dgEdge* bm = mesh.dgEdgeMeshSplitEdge(8, e);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(bm->m_vertex, 1);
    EXPECT_EQ(bm->m_next->m_vertex, 8);
    EXPECT_EQ(mesh.getEdgeCount(), 26);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(0, 1), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(0, 8)->m_faceId, ef);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(8, 1)->m_faceId, ef);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(1, 8)->m_faceId, tf);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(8, 0)->m_faceId, tf);
    EXPECT_EQ(loopLength(bm), 5);
    EXPECT_EQ(loopLength(bm->m_twin), 5);
    EXPECT_EQ(euler(mesh), 2);
    // Refused: an end of the edge, or a vertex already joined to an end.
    EXPECT_EQ(mesh.dgEdgeMeshSplitEdge(1, bm), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshSplitEdge(3, mesh.dgEdgeMeshFindEdge(1, 2)), nullptr);
    EXPECT_EQ(structureFault(mesh), "");
}

TEST(EdgeMesh, SplitEdgeOfADanglingEdge) {
    // A face (0, 1, 2, 1) runs out to 2 and back: 1->2 and 2->1 are twins in
    // one loop.
    dgEdgeMesh mesh;
    const int32_t f[3] = {0, 1, 2};
    mesh.dgEdgeMeshAddFace(3, f);
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

TEST(EdgeMesh, InsertVertexFansTheFacesAroundItWithNewIds) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    const int32_t lastId = mesh.getFaceCounter();
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    dgEdge* bm = mesh.dgEdgeMeshInsertVertex(8, e);
    ASSERT_NE(bm, nullptr);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_TRUE(faceIdsUnique(mesh));
    EXPECT_EQ(euler(mesh), 2);
    // Two pentagons around 8 became three triangles each.
    dgEdge* x = bm->m_twin;
    int32_t around = 0;
    do {
        EXPECT_EQ(loopLength(x), 3);
        EXPECT_GT(x->m_faceId, 0);
        ++around;
        x = x->m_twin->m_next;
    } while (x != bm->m_twin);
    EXPECT_EQ(around, 6);
    EXPECT_EQ(mesh.getFaceCounter(), lastId + 4);
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 10);
}

TEST(EdgeMesh, InsertVertexIntoTrianglesAndAnOpenBorder) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshAddTriangle(0, 1, 2);
    mesh.dgEdgeMeshAddTriangle(1, 0, 3);
    mesh.dgEdgeMeshEndFace();
    // Shared edge: both neighbours become two triangles.
    ASSERT_NE(mesh.dgEdgeMeshInsertVertex(4, mesh.dgEdgeMeshFindEdge(0, 1)), nullptr);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_TRUE(faceIdsUnique(mesh));
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 4);
    // Border edge: only the face side is cut.
    ASSERT_NE(mesh.dgEdgeMeshInsertVertex(5, mesh.dgEdgeMeshFindEdge(1, 2)), nullptr);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_TRUE(faceIdsUnique(mesh));
    EXPECT_EQ(mesh.dgEdgeMeshFaceCount(), 5);
    for (dgEdge* l : loops(mesh)) {
        if (l->m_faceId > 0) {
            EXPECT_EQ(loopLength(l), 3);
        }
    }
}

TEST(EdgeMesh, FlipEdgeTurnsTheDiagonalOfTwoTriangles) {
    dgEdgeMesh mesh;
    const int32_t t0[3] = {0, 1, 2};
    const int32_t t1[3] = {1, 0, 3};
    const uint64_t d0[3] = {100, 101, 102};
    const uint64_t d1[3] = {201, 200, 203};
    mesh.dgEdgeMeshAddFaceWithData(3, t0, d0);
    mesh.dgEdgeMeshAddFaceWithData(3, t1, d1);
    mesh.dgEdgeMeshEndFace();
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    const int32_t ef = e->m_faceId;
    const int32_t tf = e->m_twin->m_faceId;
    ASSERT_TRUE(mesh.dgEdgeMeshFlipEdge(e));
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(0, 1), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(3, 2), e);
    EXPECT_EQ(e->m_userData, 203u);          // corner at 3
    EXPECT_EQ(e->m_twin->m_userData, 102u);  // corner at 2
    EXPECT_EQ(e->m_faceId, ef);
    EXPECT_EQ(e->m_twin->m_faceId, tf);
    EXPECT_EQ(loopLength(e), 3);
    EXPECT_EQ(e->m_next->m_vertex, 2);
    EXPECT_EQ(e->m_next->m_next->m_vertex, 0);
    EXPECT_EQ(e->m_twin->m_next->m_vertex, 3);
    EXPECT_EQ(e->m_twin->m_next->m_next->m_vertex, 1);
    // Flipping back restores the diagonal.
    ASSERT_TRUE(mesh.dgEdgeMeshFlipEdge(e));
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(1, 0), e);
    EXPECT_EQ(structureFault(mesh), "");
    // A border edge (its twin is the open loop of four) is refused.
    EXPECT_FALSE(mesh.dgEdgeMeshFlipEdge(mesh.dgEdgeMeshFindEdge(1, 2)));
}

TEST(EdgeMesh, FlipEdgeIsRefusedOnQuadsAndExistingDiagonals) {
    dgEdgeMesh cube;
    buildCube(cube);
    EXPECT_FALSE(cube.dgEdgeMeshFlipEdge(cube.dgEdgeMeshFindEdge(0, 1)));
    // Tetrahedron: the flipped diagonal already exists.
    dgEdgeMesh tet;
    tet.dgEdgeMeshAddTriangle(0, 1, 2);
    tet.dgEdgeMeshAddTriangle(0, 3, 1);
    tet.dgEdgeMeshAddTriangle(1, 3, 2);
    tet.dgEdgeMeshAddTriangle(2, 3, 0);
    tet.dgEdgeMeshEndFace();
    EXPECT_FALSE(tet.dgEdgeMeshFlipEdge(tet.dgEdgeMeshFindEdge(0, 1)));
    EXPECT_EQ(structureFault(tet), "");
}

TEST(EdgeMesh, FlipEdgeIsRefusedAcrossATriangularHole) {
    // 2 x 2 grid of triangles, vertex j*3+i, cells split along (i,j)-(i+1,j+1).
    dgEdgeMesh mesh;
    for (int32_t j = 0; j < 2; j++) {
        for (int32_t i = 0; i < 2; i++) {
            const int32_t v = j * 3 + i;
            mesh.dgEdgeMeshAddTriangle(v, v + 1, v + 4);
            mesh.dgEdgeMeshAddTriangle(v, v + 4, v + 3);
        }
    }
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshDeleteFace(mesh.dgEdgeMeshFindEdge(1, 5));
    dgEdge* const edge = mesh.dgEdgeMeshFindEdge(5, 1);
    ASSERT_NE(edge, nullptr);
    EXPECT_FALSE(mesh.dgEdgeMeshFlipEdge(edge));
    EXPECT_EQ(structureFault(mesh), "");
}

TEST(EdgeMesh, SetVertexIndexRenamesAFanAndRekeysIt) {
    dgEdgeMesh mesh;
    buildCube(mesh);
    dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
    EXPECT_EQ(mesh.dgEdgeMeshSetVertexIndex(e, 20), 20);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshFindVertexEdge(0), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshFindEdge(20, 1), e);
    EXPECT_NE(mesh.dgEdgeMeshFindEdge(3, 20), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 21);
    // Renaming onto a neighbour would collide: refused, nothing changes.
    EXPECT_EQ(mesh.dgEdgeMeshSetVertexIndex(e, 1), 20);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.getEdgeCount(), 24);
}

TEST(EdgeMesh, PackVerticesRenumbersDenselyAndMovesRecords) {
    dgEdgeMesh mesh;
    buildCube(mesh, 7, 3);  // indices 3, 10, ..., 52
    struct Rec {
        float x, y, z, tag;
    };
    std::vector<Rec> in(60);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = {float(i), float(i) * 2.0f, -float(i), float(i) + 0.5f};
    }
    std::vector<std::pair<dgEdge*, std::pair<int32_t, int32_t>>> ends;
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        dgEdge* e = &node->getPayload();
        ends.push_back({e, {e->m_vertex, e->m_twin->m_vertex}});
    }
    std::vector<Rec> out(8);
    ASSERT_EQ(mesh.dgEdgeMeshPackVertices(&out[0].x, &in[0].x, sizeof(Rec)), 8);
    EXPECT_EQ(structureFault(mesh), "");
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 8);
    for (const auto& item : ends) {
        const dgEdge* e = item.first;
        ASSERT_GE(e->m_vertex, 0);
        ASSERT_LT(e->m_vertex, 8);
        EXPECT_EQ(out[size_t(e->m_vertex)].tag, in[size_t(item.second.first)].tag);
        EXPECT_EQ(out[size_t(e->m_twin->m_vertex)].x, in[size_t(item.second.second)].x);
    }
}

// Indices run from 0 to kMaxVertexIndex, so that the vertex count (largest
// index + 1) is representable; every way in refuses the others unchanged.
TEST(EdgeMesh, IndicesTheVertexCountCannotHoldAreRefused) {
    for (const int32_t bad : {INT32_MAX, -1, INT32_MIN}) {
        dgEdgeMesh mesh;
        buildCube(mesh);
        const int32_t edges = mesh.getEdgeCount();
        const int32_t face[4] = {10, 11, bad, 12};
        EXPECT_EQ(mesh.dgEdgeMeshAddTriangle(10, 11, bad), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddFace(4, face), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(10, bad), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshAddHalfEdge(bad, 10), nullptr) << bad;
        dgEdge* e = mesh.dgEdgeMeshFindEdge(0, 1);
        EXPECT_EQ(mesh.dgEdgeMeshSplitEdge(bad, e), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshInsertVertex(bad, e), nullptr) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshSetVertexIndex(e, bad), 0) << bad;
        EXPECT_EQ(mesh.getEdgeCount(), edges) << bad;
        EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), 8) << bad;
        EXPECT_EQ(structureFault(mesh), "") << bad;
    }
    dgEdgeMesh mesh;
    EXPECT_NE(mesh.dgEdgeMeshAddTriangle(0, 1, dgEdgeMesh::kMaxVertexIndex), nullptr);
    EXPECT_EQ(mesh.dgEdgeMeshVertexCount(), INT32_MAX);
}

TEST(EdgeMesh, CopyRebuildsEveryFaceWithItsCornersAndFreshIds) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    for (int32_t f = 0; f < 6; ++f) {
        const uint64_t data[4] = {uint64_t(f * 10), uint64_t(f * 10 + 1), uint64_t(f * 10 + 2),
                                  uint64_t(f * 10 + 3)};
        mesh.dgEdgeMeshAddFaceWithData(4, kCubeFaces[f], data);
    }
    mesh.dgEdgeMeshEndFace();
    mesh.dgEdgeMeshDeleteFace(mesh.dgEdgeMeshFindEdge(4, 5));  // an open box

    dgEdgeMesh copy(mesh);
    EXPECT_EQ(structureFault(copy), "");
    EXPECT_EQ(copy.getEdgeCount(), mesh.getEdgeCount());
    EXPECT_EQ(copy.getFaceCounter(), 5);
    EXPECT_TRUE(faceIdsUnique(copy));
    for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge& e = node->getPayload();
        dgEdge* c = copy.dgEdgeMeshFindEdge(e.m_vertex, e.m_twin->m_vertex);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->m_faceId < 0, e.m_faceId < 0);
        // Corners of faces travel; open half-edges are made anew with 0.
        EXPECT_EQ(c->m_userData, e.m_faceId < 0 ? 0u : e.m_userData);
        EXPECT_EQ(c->m_next->m_vertex, e.m_next->m_vertex);
    }
}

TEST(EdgeMesh, CopyKeepsFacesLongerThanTheAddLimit) {
    // Edits may grow a face past what a caller may add at once: three fan
    // pieces of a 3000-gon whose two chords are then deleted.
    dgEdgeMesh mesh;
    const int32_t n = 3000;
    std::vector<int32_t> pieces[3];
    for (int32_t p = 0; p < 3; ++p) {
        if (p > 0) {
            pieces[p].push_back(0);
        }
        for (int32_t i = p * 1000; i <= std::min((p + 1) * 1000, n - 1); ++i) {
            pieces[p].push_back(i);
        }
        ASSERT_NE(mesh.dgEdgeMeshAddFace(int32_t(pieces[p].size()), pieces[p].data()), nullptr) << p;
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

TEST(EdgeMesh, RandomEditsKeepTheStructureConsistent) {
    std::mt19937 rng(1234);
    dgEdgeMesh mesh;
    buildTriangleGrid(mesh, 6);
    int32_t nextVertex = 1000;
    int32_t done[6] = {};
    for (int step = 0; step < 400; ++step) {
        std::vector<dgEdge*> all;
        for (auto* node = mesh.getFirst(); node; node = node->getNext()) {
            all.push_back(&node->getPayload());
        }
        if (all.size() < 12) {
            break;
        }
        dgEdge* e = all[rng() % all.size()];
        const uint32_t op = rng() % 6;
        switch (op) {
            case 0:
                done[op] += mesh.dgEdgeMeshSplitEdge(nextVertex++, e) != nullptr;
                break;
            case 1:
                done[op] += mesh.dgEdgeMeshInsertVertex(nextVertex++, e) != nullptr;
                break;
            case 2:
                done[op] += mesh.dgEdgeMeshFlipEdge(e);
                break;
            case 3:
                done[op] += mesh.dgEdgeMeshSetVertexIndex(e, nextVertex) == nextVertex;
                ++nextVertex;
                break;
            case 4:
                if (rng() % 4 == 0 && e->m_faceId > 0) {
                    mesh.dgEdgeMeshDeleteFace(e);
                    ++done[op];
                }
                break;
            default: {
                ++done[op];
                dgEdgeMesh copy(mesh);
                ASSERT_EQ(structureFault(copy), "") << step;
                ASSERT_EQ(copy.getEdgeCount(), mesh.getEdgeCount()) << step;
                break;
            }
        }
        ASSERT_EQ(structureFault(mesh), "") << "step " << step;
        ASSERT_TRUE(faceIdsUnique(mesh)) << "step " << step;
    }
    for (int op = 0; op < 6; ++op) {
        EXPECT_GT(done[op], 5) << "operation " << op;
    }
}

TEST(EdgeMesh, NodesComeFromTheSharedPoolAndGoBackToIt) {
    auto* pool = static_cast<dgPoolAllocator*>(dgEdgeMesh::dgEdgeMeshSharedNodePool());
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->getPageBytes(), 16u * 1024u);
    EXPECT_GE(pool->getElementBytes(), uint32_t(sizeof(dgEdgeMesh::dgEdgeNode)));
    {
        // Warm up whatever first use creates.
        dgEdgeMesh warm;
        buildCube(warm);
        dgEdgeMesh warmCopy(warm);
    }
    const int32_t inUse = pool->getInUse();
    {
        MemoryBalance balance;
        dgEdgeMesh mesh;
        buildTriangleGrid(mesh, 30);
        EXPECT_EQ(pool->getInUse(), inUse + mesh.getEdgeCount());
        EXPECT_GT(pool->getPageCount(), 1);
        dgEdgeMesh copy(mesh);
        dgEdgeMesh* heapMesh = new dgEdgeMesh(copy);
        ASSERT_NE(heapMesh, nullptr);
        heapMesh->dgEdgeMeshDeleteFace(heapMesh->dgEdgeMeshFindEdge(0, 1));
        delete heapMesh;
        mesh.dgEdgeMeshClear();
        EXPECT_EQ(mesh.getEdgeCount(), 0);
    }
    EXPECT_EQ(pool->getInUse(), inUse);
}

TEST(EdgeMesh, OwnerMayReplaceTheNodeAllocatorWhileEmpty) {
    dgPoolAllocator* arena = dgCreatePoolAllocator(uint32_t(sizeof(dgEdgeMesh::dgEdgeNode)), 4);
    ASSERT_NE(arena, nullptr);
    {
        dgEdgeMesh mesh;
        ASSERT_TRUE(mesh.setNodeAllocator(arena));
        EXPECT_EQ(mesh.getNodeAllocator(), arena);
        buildCube(mesh);
        EXPECT_EQ(arena->getInUse(), 24);
        EXPECT_FALSE(mesh.setNodeAllocator(nullptr));
        EXPECT_EQ(structureFault(mesh), "");
    }
    EXPECT_EQ(arena->getInUse(), 0);
}

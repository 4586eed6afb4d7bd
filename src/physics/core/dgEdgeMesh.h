// Half-edge mesh: polyhedra and polygon sets built from faces of vertex
// indices. Half-edges live in a red-black tree keyed by their two vertex
// indices; positions are never stored here, every geometric operation takes
// the caller's vertex array (floats, x, y, z first in each record) and stride.
//
// Building: construct, dgEdgeMeshBeginFace, add faces, dgEdgeMeshEndFace. After
// dgEdgeMeshEndFace the mesh is closed: every half-edge has a twin with
// twin.twin == itself, next and prev are inverse, following next returns to
// the start, all half-edges of a loop share one face id, and open boundaries
// are loops of face id -1 running opposite to their faces.
//
// Ownership: the mesh owns its tree nodes. A dgEdge pointer handed out stays
// valid until that half-edge is deleted or the mesh is destroyed (rebalancing
// never moves payloads). One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgHeap.h"
#include "dgMemory.h"
#include "dgPlane.h"
#include "dgRbTree.h"
#include "dgVector.h"
#include "dgWorkStack.h"

// One half-edge. The destination is the origin of next (and of twin).
struct dgEdge {
    // Per-corner attribute copied from the face's user data; 0 for half-edges
    // made by dgEdgeMeshAddHalfEdge, by closing open edges or by
    // dgEdgeMeshAddFace. The simplification keeps a work-record pointer here
    // while it runs.
    uint64_t m_userData;
    // Opposite half-edge (same vertices, other direction); null until linked.
    dgEdge* m_twin;
    // Following / preceding half-edge of the same loop.
    dgEdge* m_next;
    dgEdge* m_prev;
    // Traversal stamp: a pass takes a fresh value from the mesh's stamp
    // counter and writes it on what it has visited.
    uint32_t m_stamp;
    // Face bounded by the loop; faces are numbered from 1; -1 borders no face
    // (an open edge or a hole).
    int32_t m_faceId;
    // Index of the origin vertex.
    int32_t m_vertex;
};

// --- simplification, repair and ordering: namespace-scope declarations ---
struct dgEdgeMeshCensus;
template <class T>
class dgRefList;
// --- end ---

class dgEdgeMesh {
public:
    typedef dgRbTree<dgEdge, int64_t> dgEdgeTree;
    typedef dgEdgeTree::Node dgEdgeNode;
    // Float-keyed max-heap of ear candidates used by the triangulation.
    typedef dgMaxHeap<dgEdge*, float> dgEarHeap;

    // Longest face dgEdgeMeshAddFace / dgEdgeMeshAddFaceWithData accept: as
    // long as its list of two keys per index can be counted. The list of a
    // face beyond 64 indices lives in a heap block, so a long face is refused
    // only when that block cannot be had; callers bound their faces
    // themselves.
    static constexpr int32_t kMaxFaceIndices = INT32_MAX / 2;
    // Area-vector squared length below which a face counts as having no area.
    static constexpr double kMinFaceArea2 = 1.0e-12;
    // The optimisation drops a face as having no area when its height across
    // its longest edge is below this fraction of that edge: a sliver, not a
    // small face.
    static constexpr double kFlatFaceRatio = 1.0e-4;
    // Vertex indices run from 0 to this, so that the vertex count (largest
    // index + 1) stays representable. Every way of bringing an index into the
    // mesh refuses the others.
    static constexpr int32_t kMaxVertexIndex = INT32_MAX - 1;
    static bool isVertexIndex(int32_t index) { return (index >= 0) && (index <= kMaxVertexIndex); }

    // Key of the half-edge from origin to destination: (destination << 32) +
    // origin in signed 64-bit arithmetic, origin sign-extended.
    static int64_t dgEdgeMeshKey(int32_t origin, int32_t destination) {
        return int64_t((uint64_t(int64_t(destination)) << 32) + uint64_t(int64_t(origin)));
    }
    // Key under which a linked half-edge belongs: from its origin to its
    // twin's origin (the twin must be set).
    static int64_t dgEdgeMeshKeyOf(const dgEdge* edge) {
        return dgEdgeMeshKey(edge->m_vertex, edge->m_twin->m_vertex);
    }
    // Tree node carrying a half-edge of some mesh.
    static dgEdgeNode* dgEdgeMeshNodeOf(dgEdge* edge);
    static const dgEdgeNode* dgEdgeMeshNodeOf(const dgEdge* edge);
    // The process-wide pool of edge-tree nodes (16 KB pages), made on first
    // use and never released; its pages go back as soon as no node is in use.
    static dgAllocator* dgEdgeMeshSharedNodePool();

    // Empty mesh on the shared node pool, counters 0.
    dgEdgeMesh();
    // Rebuilds the source's faces (face id 0 or more) in key order, renumbering
    // them from 1, and closes the result.
    dgEdgeMesh(const dgEdgeMesh& source);
    dgEdgeMesh& operator=(const dgEdgeMesh&) = delete;
    // Releases every node. Meshes live on the stack, inside other objects or on
    // the heap (operator new / delete below go through dgMalloc / dgFree).
    virtual ~dgEdgeMesh();

    static void* operator new(size_t size) noexcept { return dgMalloc(size); }
    static void operator delete(void* ptr) noexcept { dgFree(ptr); }
    static void* operator new(size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

    // --- tree and counters, for walkers and the other mesh passes ---
    dgEdgeTree& getEdgeTree() { return m_edges; }
    const dgEdgeTree& getEdgeTree() const { return m_edges; }
    // Number of half-edges.
    int32_t getEdgeCount() const { return m_edges.getCount(); }
    // First node in key order (null when empty); continue with node->getNext().
    dgEdgeNode* getFirst() const { return m_edges.getFirst(); }
    dgAllocator* getNodeAllocator() const { return m_edges.getAllocator(); }
    // Replaces the node allocator; refused (false) unless the mesh is empty.
    // The allocator must outlive every node taken from it.
    bool setNodeAllocator(dgAllocator* allocator);
    int32_t getStampFloor() const { return m_stampFloor; }
    void setStampFloor(int32_t floor) { m_stampFloor = floor; }
    uint32_t getStamp() const { return m_stamp; }
    void setStamp(uint32_t stamp) { m_stamp = stamp; }
    // Fresh traversal stamp: increments the counter and returns the new value.
    uint32_t newStamp() { return ++m_stamp; }
    // Last face id given out.
    int32_t getFaceCounter() const { return m_faceCounter; }
    void setFaceCounter(int32_t counter) { m_faceCounter = counter; }
    // Fresh face id: increments the counter and returns the new value.
    int32_t newFaceId() { return ++m_faceCounter; }

    // --- structure and building ---
    // Sets the three counters to 0 and releases every node.
    void dgEdgeMeshClear();
    // Nothing to do; called before the first face by convention.
    void dgEdgeMeshBeginFace();
    // Adds a face of count vertex indices (user data 0). Returns the half-edge
    // from indices[0] to indices[1], or null when the face is refused: fewer
    // than 3 or more than kMaxFaceIndices indices, an index that is not a
    // vertex index (isVertexIndex), two equal consecutive indices, a pair of
    // indices following each other twice (either order), or a directed edge
    // that already exists. A refused face changes nothing.
    dgEdge* dgEdgeMeshAddFace(int32_t count, const int32_t* indices);
    dgEdge* dgEdgeMeshAddTriangle(int32_t a, int32_t b, int32_t c);
    // As dgEdgeMeshAddFace; userData holds one word per index (the corner
    // attribute of the half-edge leaving that index).
    dgEdge* dgEdgeMeshAddFaceWithData(int32_t count, const int32_t* indices, const uint64_t* userData);
    // dgEdgeMeshLinkTwins, then dgEdgeMeshCloseOpenEdges.
    void dgEdgeMeshEndFace();

    // --- queries and edits ---
    // Half-edge from a to b, or null.
    dgEdge* dgEdgeMeshFindEdge(int32_t a, int32_t b) const;
    // A half-edge leaving v (the twin of the first half-edge arriving at v),
    // or null. Safe on meshes that are not closed.
    dgEdge* dgEdgeMeshFindVertexEdge(int32_t v) const;
    // Lone half-edge a->b (face id -1, links null, user data 0); null when the
    // key exists or a or b is not a vertex index.
    dgEdge* dgEdgeMeshAddHalfEdge(int32_t a, int32_t b);
    // Links every twinless half-edge to its opposite when that exists; true
    // when every half-edge then has a twin.
    bool dgEdgeMeshLinkTwins();
    // Gives every twinless half-edge a twin on a face id -1 loop.
    void dgEdgeMeshCloseOpenEdges();
    // Removes a half-edge and its twin (both must be linked), joining the two
    // loops on either side into one; face ids are left to the caller.
    void dgEdgeMeshDeleteEdge(dgEdge* edge);
    // Same for the half-edge from a to b; nothing when absent.
    void dgEdgeMeshDeleteEdge(int32_t a, int32_t b);
    // Turns the face of edge into a hole (face id -1) and removes the edges
    // that then border holes on both sides. Nothing for a negative face id.
    void dgEdgeMeshDeleteFace(dgEdge* edge);
    // Replaces the pair of edge (a->b) by a->m, m->b and their twins through
    // the new vertex index m. Returns b->m, or null (nothing changed) when m is
    // an end of the edge, not a vertex index, or one of the four new keys is
    // taken.
    dgEdge* dgEdgeMeshSplitEdge(int32_t vertex, dgEdge* edge);
    // dgEdgeMeshSplitEdge, then cuts every non-triangular face around the new
    // vertex by a diagonal from it; each cut-off triangle gets a new face id.
    // Returns the half-edge of the split (b->m), or null when the split was
    // refused.
    dgEdge* dgEdgeMeshInsertVertex(int32_t vertex, dgEdge* edge);
    // Renames the origin of every half-edge leaving edge's origin to index and
    // re-keys them and their twins. Returns index; when index is not a vertex
    // index, is a neighbour of that vertex or one of the new keys is taken
    // nothing changes and the old origin is returned.
    int32_t dgEdgeMeshSetVertexIndex(dgEdge* edge, int32_t index);
    // Turns the diagonal shared by two triangles; false (nothing changed)
    // unless both loops are triangles and the new diagonal does not exist.
    bool dgEdgeMeshFlipEdge(dgEdge* edge);
    // Largest origin index plus 1; 0 when empty.
    int32_t dgEdgeMeshVertexCount() const;
    // Loops with face id >= 0 / loops with face id <= 0. Both use a fresh stamp.
    int32_t dgEdgeMeshFaceCount();
    int32_t dgEdgeMeshOpenLoopCount();
    // Renumbers the vertices 0, 1, 2, ... in key order of first appearance and
    // copies each one's record (strideBytes bytes, as 32-bit words) from its
    // old slot in inVertices to its new slot in outVertices (the arrays must
    // not overlap). A vertex is one index, however many fans it has, and is
    // written once: outVertices receives one record per distinct index in
    // use, so room for dgEdgeMeshVertexCount() records always suffices.
    // Returns the number of records written; 0 (nothing changed) when the
    // mesh is empty or not closed.
    int32_t dgEdgeMeshPackVertices(float* outVertices, const float* inVertices, int32_t strideBytes);

    // --- geometry and triangulation ---
    // Area vector of edge's loop in double precision (w = 0): its length is
    // twice the area, its direction the normal of a counter-clockwise loop.
    dgVector64 dgEdgeMeshFaceNormal64(const dgEdge* edge, const float* vertices,
                                      int32_t strideInFloats) const;
    // The same in floats (not normalised); the stride is in bytes.
    dgVector dgEdgeMeshFaceNormal(const dgEdge* edge, const float* vertices, int32_t strideInBytes) const;
    // Triangulates every face by ear cutting. A face that cannot be finished
    // keeps the ears already cut; what is left of it is copied to leftoverMesh
    // (when given) and deleted from this mesh.
    void dgEdgeMeshTriangulate(const float* vertices, int32_t strideInBytes, dgEdgeMesh* leftoverMesh);
    // Triangulates the face of edge in mesh. Null on success, else a half-edge
    // of the untriangulated rest. heap is scratch, left empty; entries beyond
    // its capacity are not considered.
    static dgEdge* dgEdgeMeshTriangulateFace(dgEdge* edge, dgEdgeMesh& mesh, const float* vertices,
                                             int32_t strideInFloats, dgEarHeap& heap);
    // Half-edge whose origin is the tip of the next ear to cut in edge's loop,
    // or null when no corner turns convexly about unitNormal.
    static dgEdge* dgEdgeMeshFindEar(dgEdgeMesh& mesh, dgEdge* edge, const float* vertices,
                                     int32_t strideInFloats, dgEarHeap& heap, const dgVector& unitNormal);

    // --- simplification, repair and ordering (dgEdgeMeshSimplify.cpp, dgEdgeMeshRepair.cpp) ---
    // Geometric passes take the caller's vertex array (floats, x, y, z first in
    // each record) and its stride in bytes; it must hold every index in use.
    // Passes that walk round vertices need a closed mesh (as after
    // dgEdgeMeshEndFace) and do nothing on one whose links do not agree.
    // Vertex positions are never changed.

    // Triangulates (faces that cannot be finished go to leftoverMesh when
    // given), drops faces without area (flatter than kFlatFaceRatio, at any
    // scale), collapses edges under a quadric error bound of 0.001, drops
    // such faces again and merges coplanar faces into convex polygons. The
    // faces left cover what the triangulated faces covered, up to the slivers
    // dropped. Corner user data is 0 afterwards.
    void dgEdgeMeshOptimize(const float* vertices, int32_t strideInBytes, dgEdgeMesh* leftoverMesh);
    // Deletes every face (id > 0) whose area is below tolerance.
    void dgEdgeMeshRemoveDegenerateFaces(const float* vertices, int32_t strideInBytes, float tolerance);
    // Collapses edges whose quadric error stays below 10 x tolerance^2 without
    // folding faces over, re-using existing vertices only. The user data words
    // hold work-record pointers while it runs and are 0 afterwards.
    void dgEdgeMeshSimplify(const float* vertices, int32_t strideInBytes, float tolerance);
    // One pass joining groups of coplanar faces by deleting interior edges
    // wherever the joined face stays convex; each joined loop takes one face
    // id. The three buffers hold bufferCapacity pointers each (half the edge
    // count + 100 is enough for most meshes); they are outgrown into private
    // storage when a pass needs more, and may be null. True when a group of
    // two or more faces was found.
    bool dgEdgeMeshMergeCoplanarFaces(const float* vertices, int32_t strideInBytes, dgEdge** stackBuffer,
                                      dgEdge** edgeBuffer, dgEdge** groupBuffer, int32_t bufferCapacity);
    // Merges edge's origin into its destination. Returns a half-edge leaving
    // the surviving vertex, or null (mesh unchanged) when the collapse would
    // leave a degenerate or inconsistent neighbourhood. User data is left
    // alone: outside a simplification it is the corners' attribute.
    dgEdge* dgEdgeMeshCollapseEdge(dgEdge* edge);

    // Joins open boundary edges whose ends coincide within tolerance (at least
    // 0.0001), renaming the vertices of one side to the other's. A face whose
    // corners are joined until fewer than three sides are left is removed.
    void dgEdgeMeshStitch(const float* vertices, int32_t strideInBytes, float tolerance);
    // Collapses, or failing that deletes, triangles whose doubled area is below
    // tolerance, until none is left; then rebuilds census from the mesh.
    void dgEdgeMeshRemoveSmallTriangles(dgEdgeMeshCensus& census, const float* vertices,
                                        int32_t strideInBytes, float tolerance);
    // Appends one half-edge of each face of the connected region around
    // seedEdge whose unit normal has a dot product of at least minimumCosine
    // with the seed face's normal.
    void dgEdgeMeshGetCoplanarFaces(dgRefList<dgEdge*>& outList, dgEdge* seedEdge, const float* vertices,
                                    int32_t strideInBytes, float minimumCosine);
    // Copies the coplanar region around seedEdge into destination (expected
    // empty) and reduces it there to its outline loops, one face id per loop.
    // The buffers hold bufferCapacity entries each, are outgrown when needed
    // and may be null.
    void dgEdgeMeshCoplanarRegionOutline(dgEdge* seedEdge, dgEdgeMesh& destination, const float* vertices,
                                         int32_t strideInBytes, dgEdge** stackBuffer, int32_t* indexBuffer,
                                         int32_t bufferCapacity);
    // Appends one half-edge of each face that the ear cutting cannot finish
    // (found on a copy, so this mesh keeps its faces).
    void dgEdgeMeshGetNonTriangulableFaces(dgRefList<dgEdge*>& outList, const float* vertices,
                                           int32_t strideInBytes);
    // Copies one connected region of faces (ids >= 1) into destination and
    // closes it. Consecutive calls form a series that hands out each region
    // once: the first call of a series raises the stamp floor above every
    // stamp in use, and the call that finds nothing left returns false and
    // ends the series. Any other pass that stamps the mesh ends it early.
    bool dgEdgeMeshExtractRegion(dgEdgeMesh& destination);
    // Reverses the vertex order of every face (corners keep their user data).
    // Faces are renumbered from 1.
    void dgEdgeMeshReverseFaces();
    // Appends source (its vertices renumbered after census.vertexCount) and
    // copies their x, y, z into vertices, which holds vertexCapacity records.
    // Refused (false, nothing changed) when the new vertices do not fit. The
    // census is this mesh's and is brought up to date; source keeps its faces
    // but its stamps are used.
    bool dgEdgeMeshMerge(dgEdgeMeshCensus& census, float* vertices, int32_t strideInBytes,
                         int32_t vertexCapacity, dgEdgeMesh& source, const float* sourceVertices,
                         int32_t sourceStrideInBytes);
    // Writes the vertex indices of every face (id > 0), face after face, in an
    // order favouring a 16-entry vertex cache. Returns the count written, or 0
    // (nothing written) when capacity is below the number of face corners.
    int32_t dgEdgeMeshGetCacheOrderedIndices(int32_t* indicesOut, int32_t capacity);
    // Full consistency check of links, keys, face ids, stamps and the tree;
    // a loop of fewer than three half-edges fails it.
    bool dgEdgeMeshSanityCheck() const;

private:
    // The collapse behind dgEdgeMeshCollapseEdge. clearRecords is set only by
    // the simplification, whose user data words point to candidate records.
    dgEdge* collapseEdge(dgEdge* edge, bool clearRecords);
    // True when every half-edge has next, prev and twin links that agree, so
    // loops and vertex fans can be walked.
    bool isWalkable() const;
    // Gives every loop the face id of its first half-edge in key order.
    void unifyLoopFaceIds();
    // Deletes every face (id > 0) whose height across its longest edge is
    // below ratio times that edge, whatever the face's size.
    void removeFlatFaces(const float* vertices, int32_t strideInBytes, double ratio);
    // Deletes every face (id > 0) for which drop(|area vector|^2, squared
    // longest edge) holds, on a walkable mesh (dgEdgeMeshSimplify.cpp).
    template <class Drop>
    void deleteFaces(const float* vertices, int32_t strideInBytes, Drop drop);
    // Adds face's loop to destination as a face with user data 0, gathering
    // its indices in indices.
    static void copyLoop(const dgEdge* face, dgEdgeMesh& destination, dgWorkStack<int32_t>& indices);
    // Face flood fill of the region passes, on a walkable mesh: from seed
    // across twins into faces with ids above 0. A popped face already
    // stamped with stamp is skipped, one that accept(face) turns down is left
    // unstamped (another path may reach it again); otherwise its loop is
    // stamped, visit(face) runs and its neighbours not yet stamped are
    // pushed. The stack is the caller's and is left empty.
    template <class Accept, class Visit>
    static void floodFaces(dgEdge* seed, uint32_t stamp, dgWorkStack<dgEdge*>& stack, Accept accept,
                           Visit visit) {
        stack.push(seed);
        while (stack.getCount()) {
            dgEdge* face = stack.pop();
            if ((face->m_stamp == stamp) || !accept(face)) {
                continue;
            }
            dgEdge* ptr = face;
            do {
                ptr->m_stamp = stamp;
                ptr = ptr->m_next;
            } while (ptr != face);
            visit(face);
            ptr = face;
            do {
                if ((ptr->m_twin->m_faceId > 0) && (ptr->m_twin->m_stamp != stamp)) {
                    stack.push(ptr->m_twin);
                }
                ptr = ptr->m_next;
            } while (ptr != face);
        }
    }
    // --- end ---

protected:
    // Face insertion behind dgEdgeMeshAddFaceWithData; maxCount bounds the face
    // length (the copy passes no bound). userData may be null (all 0).
    dgEdge* addFaceChecked(int32_t count, const int32_t* indices, const uint64_t* userData, int32_t maxCount);
    // Inserts a half-edge record under key; null when the key exists.
    dgEdge* insertEdge(const dgEdge& edge, int64_t key);
    // Removes the node of a half-edge from the tree (destroyed unless held).
    void removeEdge(dgEdge* edge);

    dgEdgeTree m_edges;
    // Extraction of regions starts only from faces stamped below this.
    int32_t m_stampFloor;
    // Last stamp given out.
    uint32_t m_stamp;
    // Last face id given out; the next face takes this plus one.
    int32_t m_faceCounter;
};

// The polygon soup of the terrain: a binary tree over the faces in which
// every inner node separates its two groups of faces by two parallel planes
// along one of 24 fixed directions (the left group's largest projection and
// the right group's smallest), and every leaf holds one face.
//
// Face layout in the index array, vertex count n + 3 entries per face:
//   [box-minimum vertex, box-maximum vertex, attribute, v0, ..., v(n-1)]
// The two box vertices are the corners of the face's axis-aligned box, stored
// after the mesh's own vertices. A face is referred to by the position of v0:
// the attribute is at [-1], the box corners at [-3] and [-2].
//
// Saved form (bytes as in memory, each piece written when not empty): vertex
// count, index count, node count (4 bytes each), box minimum and maximum (16
// each), vertices (12 bytes each), indices (4 each), nodes (20 each).
#pragma once

#include <cstdint>

#include "dgPolygonSoupDatabase.h"

// A node of the tree. A child reference with bit 0 set is a leaf:
// ((position of v0) * 128 + vertex count) * 2 + 1; clear, it is an inner
// node: node index * 2.
struct dgBspNode {
    // Smallest projection of the right group's faces on the direction.
    float m_rightMin;
    // Largest projection of the left group's faces on the direction.
    float m_leftMax;
    // Index into dgBspDirections.
    int32_t m_direction;
    uint32_t m_left;
    uint32_t m_right;
};
static_assert(sizeof(dgBspNode) == 20, "a node is five 32-bit words in memory and in the saved form");

// The 24 split directions. The components are the six-decimal 0.707106,
// 0.5 and 0.866025 rather than the nearest floats to the roots, and rows 9
// to 11 repeat rows 6 to 8: saved trees hold planes along exactly these.
constexpr int32_t dgBspDirectionCount = 24;
extern const float dgBspDirections[dgBspDirectionCount][3];

// Largest vertex count a leaf can hold (7 bits).
constexpr int32_t dgBspMaxLeafVertices = 127;
// Index entries (and vertices) a soup may hold: a leaf addresses positions
// below 2^24.
constexpr int32_t dgBspMaxIndexEntries = 1 << 24;
constexpr int32_t dgBspMaxVertices = 1 << 24;

inline uint32_t dgBspMakeLeaf(int32_t position, int32_t vertexCount) {
    return ((uint32_t(position) * 128u + uint32_t(vertexCount)) << 1) | 1u;
}
inline bool dgBspIsLeaf(uint32_t reference) {
    return (reference & 1u) != 0;
}
inline int32_t dgBspLeafCount(uint32_t reference) {
    return int32_t((reference >> 1) & 127u);
}
inline int32_t dgBspLeafPosition(uint32_t reference) {
    return int32_t(reference >> 8);
}
inline uint32_t dgBspMakeNode(int32_t index) {
    return uint32_t(index) * 2u;
}
inline int32_t dgBspNodeIndex(uint32_t reference) {
    return int32_t(reference >> 1);
}

// Projection of (x, y, z) on direction d, the one expression used by the
// build and by both queries, so a point and a face through it agree exactly.
inline float dgBspProject(int32_t d, float x, float y, float z) {
    return dgBspDirections[d][0] * x + dgBspDirections[d][1] * y + dgBspDirections[d][2] * z;
}

class dgDoublePlaneBSPPolygonSoup : public dgPolygonSoupDatabase {
    DG_DECLARE_CLASS(dgDoublePlaneBSPPolygonSoup, dgPolygonSoupDatabase)

public:
    // Empty: no vertices, faces or nodes; box zero.
    dgDoublePlaneBSPPolygonSoup();
    ~dgDoublePlaneBSPPolygonSoup() override;

    void serialize(dgSerializeCallback write, void* userData) const override;
    // Reads the saved form. Counts, child references, leaf positions and
    // every vertex index are checked, and the tree must reach each node once;
    // on any fault (or short data) the soup is left empty and false returned.
    bool deserialize(dgDeserializeCallback read, void* userData) override;
    void getAABB(dgVector& boxMin, dgVector& boxMax) const override;
    // dgBspBoxQuery; nothing on a soup without nodes, an inverted box or NaN.
    void getFacesInAABB(const dgVector& boxMin, const dgVector& boxMax, dgPolygonSoupFaceCallback callback,
                        void* userData) const override;
    // dgBspRayQuery; nothing on a soup without nodes or a non-finite segment.
    void getFacesOnRay(const dgVector& p0, const dgVector& p1, dgPolygonSoupFaceCallback callback,
                       void* userData) const override;

    // Frees everything: the soup is as constructed.
    void clear();

    int32_t getIndexCount() const { return m_indexCount; }
    const int32_t* getIndexArray() const { return m_indexArray; }
    // Nodes in the tree (faces - 1); 0 when nothing was built.
    int32_t getNodeCount() const { return m_nodeCount; }
    const dgBspNode* getNodeArray() const { return m_nodeArray; }
    // Inner nodes on the longest path from the root to a leaf.
    int32_t getTreeDepth() const { return m_treeDepth; }

private:
    friend bool dgBuildBspPolygonSoup(dgDoublePlaneBSPPolygonSoup* soup, int32_t faceCount,
                                      const int32_t* faceArray, int32_t indexCount, const int32_t* indexArray,
                                      int32_t vertexCount, const float* vertexArray);
    friend void dgBspBoxQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& boxMin,
                              const dgVector& boxMax, dgPolygonSoupFaceCallback callback, void* userData);
    friend void dgBspRayQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& p0, const dgVector& p1,
                              dgPolygonSoupFaceCallback callback, void* userData);

    // Walks the tree from the root checking every reference against the
    // arrays; sets the depth. False when a reference is out of range, a node
    // is reached twice or some node is never reached.
    bool checkTree();

    int32_t m_indexCount;
    int32_t* m_indexArray;
    dgBspNode* m_nodeArray;
    int32_t m_nodeCount;
    int32_t m_treeDepth;
    dgVector m_boxMin;
    dgVector m_boxMax;
};

// The box walk: every face whose stored box overlaps [boxMin, boxMax]
// (touching counts) is reported, until the callback answers 0.
void dgBspBoxQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& boxMin, const dgVector& boxMax,
                   dgPolygonSoupFaceCallback callback, void* userData);
// The segment walk: every face in a leaf the segment reaches is reported
// (no per-face test), until the callback answers 0. A segment lying on a
// node's planes reaches the right side.
void dgBspRayQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& p0, const dgVector& p1,
                   dgPolygonSoupFaceCallback callback, void* userData);

#include "dgDoublePlaneBSPPolygonSoup.h"

#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgMathUtils.h"
#include "dgMemory.h"
#include "dgWorkStack.h"

DG_IMPLEMENT_CLASS(dgDoublePlaneBSPPolygonSoup, dgPolygonSoupDatabase, "dgDoublePlaneBSPPolygonSoup");

namespace {

const float s = 0.707106f;
const float h = 0.5f;
const float t = 0.866025f;

// Stack entries a walk keeps on the caller's stack; deeper trees reserve a
// block once, sized from their depth.
constexpr int32_t kLocalStack = 64;

// Bytes of one vertex in the arrays and in the callbacks.
constexpr int32_t kVertexBytes = 3 * int32_t(sizeof(float));

// Reads exactly byteCount bytes (none for 0).
// Pieces never reach 4 GiB: the counts are bounded by dgBspMaxVertices and
// dgBspMaxIndexEntries.
bool dgReadPiece(dgDeserializeCallback read, void* userData, void* buffer, size_t byteCount) {
    DG_ASSERT(byteCount <= UINT32_MAX);
    return (byteCount == 0) || (read(userData, buffer, uint32_t(byteCount)) == byteCount);
}

void dgWritePiece(dgSerializeCallback write, void* userData, const void* buffer, size_t byteCount) {
    DG_ASSERT(byteCount <= UINT32_MAX);
    if (byteCount != 0) {
        write(userData, buffer, uint32_t(byteCount));
    }
}

}  // namespace

const float dgBspDirections[dgBspDirectionCount][3] = {
    {1, 0, 0},  {0, 1, 0},  {0, 0, 1},  {s, s, 0},  {s, 0, s},  {0, s, s},  {s, -s, 0}, {s, 0, -s},
    {0, s, -s}, {s, -s, 0}, {s, 0, -s}, {0, s, -s}, {h, t, 0},  {t, h, 0},  {h, 0, t},  {t, 0, h},
    {0, h, t},  {0, t, h},  {h, -t, 0}, {t, -h, 0}, {h, 0, -t}, {t, 0, -h}, {0, -h, t}, {0, -t, h},
};

dgDoublePlaneBSPPolygonSoup::dgDoublePlaneBSPPolygonSoup()
    : m_indexCount(0),
      m_indexArray(nullptr),
      m_nodeArray(nullptr),
      m_nodeCount(0),
      m_treeDepth(0),
      m_boxMin(0.0f, 0.0f, 0.0f, 0.0f),
      m_boxMax(0.0f, 0.0f, 0.0f, 0.0f) {}

dgDoublePlaneBSPPolygonSoup::~dgDoublePlaneBSPPolygonSoup() {
    clear();
}

void dgDoublePlaneBSPPolygonSoup::clear() {
    dgFree(m_indexArray);
    dgFree(m_nodeArray);
    m_indexArray = nullptr;
    m_nodeArray = nullptr;
    m_indexCount = 0;
    m_nodeCount = 0;
    m_treeDepth = 0;
    m_boxMin = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    m_boxMax = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    m_vertexStride = 0;
    clearVertices();
}

void dgDoublePlaneBSPPolygonSoup::getAABB(dgVector& boxMin, dgVector& boxMax) const {
    boxMin = m_boxMin;
    boxMax = m_boxMax;
}

void dgDoublePlaneBSPPolygonSoup::serialize(dgSerializeCallback write, void* userData) const {
    const int32_t counts[3] = {m_vertexCount, m_indexCount, m_nodeCount};
    for (const int32_t& count : counts) {
        write(userData, &count, sizeof(count));
    }
    write(userData, &m_boxMin, sizeof(m_boxMin));
    write(userData, &m_boxMax, sizeof(m_boxMax));
    dgWritePiece(write, userData, m_vertexArray, size_t(m_vertexCount) * kVertexBytes);
    dgWritePiece(write, userData, m_indexArray, size_t(m_indexCount) * sizeof(int32_t));
    dgWritePiece(write, userData, m_nodeArray, size_t(m_nodeCount) * sizeof(dgBspNode));
}

bool dgDoublePlaneBSPPolygonSoup::deserialize(dgDeserializeCallback read, void* userData) {
    clear();
    int32_t counts[3];
    dgVector box[2];
    for (int32_t& count : counts) {
        if (!dgReadPiece(read, userData, &count, sizeof(count))) {
            return false;
        }
    }
    if (!dgReadPiece(read, userData, &box[0], sizeof(dgVector)) ||
        !dgReadPiece(read, userData, &box[1], sizeof(dgVector))) {
        return false;
    }
    const int32_t vertexCount = counts[0];
    const int32_t indexCount = counts[1];
    const int32_t nodeCount = counts[2];
    // Every face takes at least 6 entries and the tree has one node fewer
    // than faces; these bounds keep a damaged count from costing its claim.
    if ((vertexCount < 0) || (vertexCount > dgBspMaxVertices) || (indexCount < 0) ||
        (indexCount > dgBspMaxIndexEntries) || (nodeCount < 0) || (nodeCount > indexCount / 6)) {
        return false;
    }
    // A soup without a tree holds nothing at all.
    if ((nodeCount == 0) && ((vertexCount != 0) || (indexCount != 0))) {
        return false;
    }
    m_boxMin = box[0];
    m_boxMax = box[1];
    if (nodeCount == 0) {
        return true;
    }

    const size_t vertexBytes = size_t(vertexCount) * kVertexBytes;
    const size_t indexBytes = size_t(indexCount) * sizeof(int32_t);
    const size_t nodeBytes = size_t(nodeCount) * sizeof(dgBspNode);
    m_vertexArray = static_cast<float*>(dgMalloc(vertexBytes));
    m_vertexCount = vertexCount;
    m_indexArray = static_cast<int32_t*>(dgMalloc(indexBytes));
    m_indexCount = indexCount;
    m_nodeArray = static_cast<dgBspNode*>(dgMalloc(nodeBytes));
    m_nodeCount = nodeCount;
    const bool loaded = m_vertexArray && m_indexArray && m_nodeArray &&
                        dgReadPiece(read, userData, m_vertexArray, vertexBytes) &&
                        dgReadPiece(read, userData, m_indexArray, indexBytes) &&
                        dgReadPiece(read, userData, m_nodeArray, nodeBytes) && checkTree();
    if (!loaded) {
        clear();
        return false;
    }
    m_vertexStride = kVertexBytes;
    return true;
}

bool dgDoublePlaneBSPPolygonSoup::checkTree() {
    struct Visit {
        uint32_t reference;
        int32_t depth;
    };
    if ((m_nodeCount <= 0) || !m_nodeArray) {
        return false;
    }
    dgScratchArray<uint8_t> reached(m_nodeCount);
    if (!reached.getData()) {
        return false;
    }
    memset(reached.getData(), 0, size_t(m_nodeCount));
    Visit local[kLocalStack];
    dgWorkStack<Visit> stack(local, kLocalStack);
    stack.push(Visit{dgBspMakeNode(0), 1});
    int32_t nodesReached = 0;
    int32_t depth = 0;
    while (stack.getCount()) {
        const Visit visit = stack.pop();
        const int32_t index = dgBspNodeIndex(visit.reference);
        if ((index >= m_nodeCount) || reached[index]) {
            return false;
        }
        reached[index] = 1;
        ++nodesReached;
        depth = (visit.depth > depth) ? visit.depth : depth;
        const dgBspNode& node = m_nodeArray[index];
        if ((node.m_direction < 0) || (node.m_direction >= dgBspDirectionCount)) {
            return false;
        }
        const uint32_t children[2] = {node.m_left, node.m_right};
        for (const uint32_t child : children) {
            if (!dgBspIsLeaf(child)) {
                if (!stack.push(Visit{child, visit.depth + 1})) {
                    return false;
                }
                continue;
            }
            const int32_t position = dgBspLeafPosition(child);
            const int32_t count = dgBspLeafCount(child);
            if ((count < 3) || (position < 3) || (int64_t(position) + count > m_indexCount)) {
                return false;
            }
            const int32_t* face = m_indexArray + position;
            for (int32_t i = -3; i < count; ++i) {
                if ((i != -1) && ((face[i] < 0) || (face[i] >= m_vertexCount))) {
                    return false;
                }
            }
        }
    }
    m_treeDepth = depth;
    return nodesReached == m_nodeCount;
}

void dgDoublePlaneBSPPolygonSoup::getFacesInAABB(const dgVector& boxMin, const dgVector& boxMax,
                                                 dgPolygonSoupFaceCallback callback, void* userData) const {
    dgBspBoxQuery(*this, boxMin, boxMax, callback, userData);
}

void dgDoublePlaneBSPPolygonSoup::getFacesOnRay(const dgVector& p0, const dgVector& p1,
                                                dgPolygonSoupFaceCallback callback, void* userData) const {
    dgBspRayQuery(*this, p0, p1, callback, userData);
}

void dgBspBoxQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& boxMin, const dgVector& boxMax,
                   dgPolygonSoupFaceCallback callback, void* userData) {
    // Also turns away NaN corners.
    if (!soup.m_nodeArray || !((boxMin.x <= boxMax.x) && (boxMin.y <= boxMax.y) && (boxMin.z <= boxMax.z))) {
        return;
    }
    // The box's extent along a direction is projected when a node first
    // asks for it: a small query meets few of the directions.
    float low[dgBspDirectionCount];
    float high[dgBspDirectionCount];
    uint32_t projected = 0;
    static_assert(dgBspDirectionCount <= 32, "one bit a direction");
    auto project = [&](int32_t d) {
        const float* dir = dgBspDirections[d];
        low[d] = dgBspProject(d, (dir[0] > 0.0f) ? boxMin.x : boxMax.x, (dir[1] > 0.0f) ? boxMin.y : boxMax.y,
                              (dir[2] > 0.0f) ? boxMin.z : boxMax.z);
        high[d] = dgBspProject(d, (dir[0] > 0.0f) ? boxMax.x : boxMin.x,
                               (dir[1] > 0.0f) ? boxMax.y : boxMin.y, (dir[2] > 0.0f) ? boxMax.z : boxMin.z);
        projected |= 1u << d;
    };

    const float* const vertices = soup.m_vertexArray;
    const int32_t* const indices = soup.m_indexArray;
    const dgBspNode* const nodes = soup.m_nodeArray;
    uint32_t local[kLocalStack];
    dgWorkStack<uint32_t> stack(local, kLocalStack);
    // A walk holds at most one pending sibling per level; reserving up front
    // keeps pushes from failing half way.
    if (!stack.reserve(int64_t(soup.m_treeDepth) + 2)) {
        return;
    }
    stack.push(dgBspMakeNode(0));
    while (stack.getCount()) {
        const dgBspNode& node = nodes[dgBspNodeIndex(stack.pop())];
        const int32_t d = node.m_direction;
        DG_ASSERT((d >= 0) && (d < dgBspDirectionCount));
        if (!(projected & (1u << d))) {
            project(d);
        }
        uint32_t visit[2];
        int32_t visitCount = 0;
        if (low[d] < node.m_leftMax) {
            visit[visitCount++] = node.m_left;
        }
        if (high[d] > node.m_rightMin) {
            visit[visitCount++] = node.m_right;
        }
        for (int32_t i = 0; i < visitCount; ++i) {
            const uint32_t child = visit[i];
            if (!dgBspIsLeaf(child)) {
                const bool pushed = stack.push(child);
                DG_ASSERT(pushed);
                if (!pushed) {
                    return;
                }
                continue;
            }
            const int32_t* face = indices + dgBspLeafPosition(child);
            const float* faceMin = vertices + 3 * face[-3];
            const float* faceMax = vertices + 3 * face[-2];
            if (((faceMax[0] - boxMin.x) < 0.0f) || ((boxMax.x - faceMin[0]) < 0.0f) ||
                ((faceMax[1] - boxMin.y) < 0.0f) || ((boxMax.y - faceMin[1]) < 0.0f) ||
                ((faceMax[2] - boxMin.z) < 0.0f) || ((boxMax.z - faceMin[2]) < 0.0f)) {
                continue;
            }
            if (!callback(userData, vertices, kVertexBytes, face, dgBspLeafCount(child))) {
                return;
            }
        }
    }
}

void dgBspRayQuery(const dgDoublePlaneBSPPolygonSoup& soup, const dgVector& p0, const dgVector& p1,
                   dgPolygonSoupFaceCallback callback, void* userData) {
    if (!soup.m_nodeArray || !dgIsFinite3(p0) || !dgIsFinite3(p1)) {
        return;
    }
    float low[dgBspDirectionCount];
    float high[dgBspDirectionCount];
    for (int32_t d = 0; d < dgBspDirectionCount; ++d) {
        const float a = dgBspProject(d, p0.x, p0.y, p0.z);
        const float b = dgBspProject(d, p1.x, p1.y, p1.z);
        low[d] = (a < b) ? a : b;
        high[d] = (a < b) ? b : a;
    }

    const float* const vertices = soup.m_vertexArray;
    const int32_t* const indices = soup.m_indexArray;
    const dgBspNode* const nodes = soup.m_nodeArray;
    uint32_t local[kLocalStack];
    dgWorkStack<uint32_t> stack(local, kLocalStack);
    if (!stack.reserve(int64_t(soup.m_treeDepth) + 2)) {
        return;
    }
    stack.push(dgBspMakeNode(0));
    while (stack.getCount()) {
        const dgBspNode& node = nodes[dgBspNodeIndex(stack.pop())];
        const int32_t d = node.m_direction;
        DG_ASSERT((d >= 0) && (d < dgBspDirectionCount));
        // A segment on the right group's plane (b = 0) still reaches it, so a
        // segment along a seam between two faces finds the right-hand one; on
        // the left group's plane (a = 0) it stays out of the left.
        const float a = low[d] - node.m_leftMax;
        const float b = node.m_rightMin - high[d];
        uint32_t visit[2];
        int32_t visitCount = 0;
        if (b <= 0.0f) {
            visit[visitCount++] = node.m_right;
        }
        if (a < 0.0f) {
            visit[visitCount++] = node.m_left;
        }
        for (int32_t i = 0; i < visitCount; ++i) {
            const uint32_t child = visit[i];
            if (!dgBspIsLeaf(child)) {
                const bool pushed = stack.push(child);
                DG_ASSERT(pushed);
                if (!pushed) {
                    return;
                }
                continue;
            }
            if (!callback(userData, vertices, kVertexBytes, indices + dgBspLeafPosition(child),
                          dgBspLeafCount(child))) {
                return;
            }
        }
    }
}

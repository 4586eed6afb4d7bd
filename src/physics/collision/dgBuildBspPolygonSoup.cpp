#include "dgBuildBspPolygonSoup.h"

#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgFloatKeyHeap.h"
#include "dgMemory.h"
#include "dgWeld.h"
#include "dgWorkStack.h"

namespace {

constexpr int32_t kNoCost = 2147483647;
constexpr int32_t kSmallSplit = 64;
constexpr float kFar = 1.0e20f;
constexpr float kGroupTolerance = 0.0001f;
// Nearly equal box corners are shared. The weld adds its own 1e-4 of slack,
// so a stored box may lie up to about that much inside its face.
constexpr float kCornerWeldTolerance = 1.0e-6f;
constexpr int32_t kVertexBytes = 3 * int32_t(sizeof(float));

inline float dgMaxAlong(const dgBspFaceRecord* record, int32_t d) {
    return record->m_extents[d][1];
}
inline float dgMinAlong(const dgBspFaceRecord* record, int32_t d) {
    return record->m_extents[d][0];
}

inline uint32_t dgLeafOf(const dgBspFaceRecord* record) {
    return dgBspMakeLeaf(record->m_position + 3, record->m_entryCount - 3);
}

// Extra cost of a record of the right group reaching g below the split.
inline int32_t dgStraddleCost(float g) {
    static const float steps[7] = {16.0f, 8.0f, 4.0f, 2.0f, 1.0f, 0.5f, 0.25f};
    for (int32_t i = 0; i < 7; ++i) {
        if (g > steps[i]) {
            return 7 - i;
        }
    }
    return 0;
}

// Moves the records whose maximum along d is at most value to the front, in
// order; returns how many.
int32_t dgPartition(dgBspFaceRecord** records, int32_t count, int32_t d, float value) {
    int32_t left = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (dgMaxAlong(records[i], d) <= value) {
            dgBspFaceRecord* const swap = records[i];
            records[i] = records[left];
            records[left++] = swap;
        }
    }
    return left;
}

// Left count, left maximum and right minimum once the value is chosen. A
// split that leaves one side empty halves the records instead; when all went
// left the value still bounds the left half, tightened on request.
dgBspSplit dgFinishSplit(dgBspFaceRecord** records, int32_t count, int32_t d, float value, bool tighten) {
    dgBspSplit split;
    split.m_direction = d;
    split.m_leftMax = value;
    split.m_leftCount = dgPartition(records, count, d, value);
    if ((split.m_leftCount == 0) || (split.m_leftCount == count)) {
        const bool allLeft = split.m_leftCount == count;
        split.m_leftCount = count / 2;
        if (!allLeft || tighten) {
            split.m_leftMax = -kFar;
            for (int32_t i = 0; i < split.m_leftCount; ++i) {
                split.m_leftMax = dgMax(split.m_leftMax, dgMaxAlong(records[i], d));
            }
        }
    }
    split.m_rightMin = kFar;
    for (int32_t i = split.m_leftCount; i < count; ++i) {
        split.m_rightMin = dgMin(split.m_rightMin, dgMinAlong(records[i], d));
    }
    return split;
}

// The split of records first .. first + count - 1 into node nodeIndex.
struct dgBspBuildTask {
    int32_t nodeIndex;
    int32_t first;
    int32_t count;
    int32_t depth;
};

// Fan pieces of a face of n vertices: v0 and a run of at most 126 of the
// others, each run starting at the last vertex of the previous one.
inline int32_t dgPieceCount(int32_t n) {
    return (n <= dgBspMaxLeafVertices) ? 1
                                       : (n - 2 + (dgBspMaxLeafVertices - 3)) / (dgBspMaxLeafVertices - 2);
}

bool dgFaceUsable(const int32_t* vertexIndices, int32_t n, int32_t vertexCount, const float* vertexArray) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = vertexIndices[i];
        if ((v < 0) || (v >= vertexCount)) {
            return false;
        }
        const float* p = vertexArray + 3 * size_t(v);
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
            return false;
        }
    }
    return true;
}

}  // namespace

void dgBspFaceExtents(dgBspFaceRecord& record, const float* vertices, const int32_t* vertexIndices,
                      int32_t vertexCount, float* boxMin, float* boxMax) {
    for (int32_t d = 0; d < dgBspDirectionCount; ++d) {
        float lo = kFar;
        float hi = -kFar;
        for (int32_t i = 0; i < vertexCount; ++i) {
            const float* v = vertices + 3 * size_t(vertexIndices[i]);
            const float p = dgBspProject(d, v[0], v[1], v[2]);
            lo = (p < lo) ? p : lo;
            hi = (p > hi) ? p : hi;
        }
        record.m_extents[d][0] = lo;
        record.m_extents[d][1] = hi;
    }
    for (int32_t axis = 0; axis < 3; ++axis) {
        boxMin[axis] = record.m_extents[axis][0];
        boxMax[axis] = record.m_extents[axis][1];
    }
}

int32_t dgBspSplitCost(dgBspFaceRecord* const* records, int32_t direction, int32_t count, int32_t bound,
                       float& splitValue) {
    if (count <= 0) {
        return kNoCost;
    }
    dgFloatKeyHeap::Entry local[kSmallSplit];
    dgFloatKeyHeap localHeap(local, sizeof(local));
    dgFloatKeyHeap ownedHeap(count > kSmallSplit ? count : 0);
    dgFloatKeyHeap& heap = (count > kSmallSplit) ? ownedHeap : localHeap;
    if (heap.getCapacity() < count) {
        return kNoCost;
    }
    for (int32_t i = 0; i < count; ++i) {
        heap.push(uint32_t(i), dgMaxAlong(records[i], direction));
    }
    heap.sort();

    int32_t best = kNoCost;
    int32_t i = 0;
    while (i < count) {
        const float k = heap.pair(i).key;
        int32_t j = i + 1;
        while ((j < count) && (heap.pair(j).key <= k + kGroupTolerance)) {
            ++j;
        }
        const int32_t right = count - j;
        int32_t cost = 2 * ((j > right) ? (j - right) : (right - j));
        for (int32_t m = j; (m < count) && (cost <= bound); ++m) {
            const float lo = dgMinAlong(records[heap.pair(m).value], direction);
            if (lo < k) {
                cost += 1 + dgStraddleCost(k - lo);
            }
        }
        if (cost < best) {
            best = cost;
            splitValue = k;
        }
        bound = dgMin(bound, best);
        i = j;
    }
    return best;
}

dgBspSplit dgBspSplitSmall(dgBspFaceRecord** records, int32_t count) {
    int32_t bestCost = kNoCost;
    int32_t bestDirection = 0;
    float bestValue = 0.0f;
    for (int32_t d = 0; d < dgBspDirectionCount; ++d) {
        float value = 0.0f;
        const int32_t cost = dgBspSplitCost(records, d, count, bestCost, value);
        if (cost < bestCost) {
            bestCost = cost;
            bestDirection = d;
            bestValue = value;
        }
    }
    return dgFinishSplit(records, count, bestDirection, bestValue, true);
}

dgBspSplit dgBspSplitLarge(dgBspFaceRecord** records, int32_t count) {
    float sum[3] = {0.0f, 0.0f, 0.0f};
    float sumSquares[3] = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t axis = 0; axis < 3; ++axis) {
            const float centre = 0.5f * (dgMinAlong(records[i], axis) + dgMaxAlong(records[i], axis));
            sum[axis] += centre;
            sumSquares[axis] += centre * centre;
        }
    }
    int32_t axis = 0;
    float bestSpread = -kFar;
    for (int32_t a = 0; a < 3; ++a) {
        const float spread = float(count) * sumSquares[a] - sum[a] * sum[a];
        if (spread > bestSpread) {
            bestSpread = spread;
            axis = a;
        }
    }

    // The (count / 2)-th smallest maximum.
    dgScratchBuffer scratch(size_t(count) * 12 + 1024);
    dgFloatKeyHeap heap(scratch.getData(), scratch.getData() ? size_t(count) * 12 + 1024 : 0);
    float value;
    if (heap.getCapacity() >= count) {
        for (int32_t i = 0; i < count; ++i) {
            heap.push(uint32_t(i), dgMaxAlong(records[i], axis));
        }
        for (int32_t i = 0; i < count / 2 - 1; ++i) {
            heap.pop();
        }
        value = heap.getTopKey();
    } else {
        // Without scratch: any maximum still gives a valid split.
        value = dgMaxAlong(records[0], axis);
    }
    return dgFinishSplit(records, count, axis, value, false);
}

int32_t dgBspBuildNode(dgBspNode* nodes, int32_t nodeIndex, dgBspFaceRecord** records, int32_t count,
                       int32_t& nextFree) {
    DG_ASSERT(count >= 2);
    dgBspBuildTask local[64];
    dgWorkStack<dgBspBuildTask> tasks(local, 64);
    tasks.push(dgBspBuildTask{nodeIndex, 0, count, 1});
    int32_t depth = 0;
    while (tasks.getCount()) {
        const dgBspBuildTask task = tasks.pop();
        depth = dgMax(depth, task.depth);
        dgBspFaceRecord** const group = records + task.first;
        const dgBspSplit split = (task.count < kSmallSplit) ? dgBspSplitSmall(group, task.count)
                                                            : dgBspSplitLarge(group, task.count);
        const int32_t leftCount = split.m_leftCount;
        const int32_t rightCount = task.count - leftCount;
        DG_ASSERT((leftCount >= 1) && (rightCount >= 1));

        dgBspNode& node = nodes[task.nodeIndex];
        node.m_rightMin = split.m_rightMin;
        node.m_leftMax = split.m_leftMax;
        node.m_direction = split.m_direction;
        dgBspBuildTask left{0, task.first, leftCount, task.depth + 1};
        dgBspBuildTask right{0, task.first + leftCount, rightCount, task.depth + 1};
        if (leftCount > 1) {
            left.nodeIndex = nextFree++;
            node.m_left = dgBspMakeNode(left.nodeIndex);
        } else {
            node.m_left = dgLeafOf(group[0]);
        }
        if (rightCount > 1) {
            right.nodeIndex = nextFree++;
            node.m_right = dgBspMakeNode(right.nodeIndex);
        } else {
            node.m_right = dgLeafOf(group[task.count - 1]);
        }
        // The left subtree is built (and numbered) before the right one.
        if (((rightCount > 1) && !tasks.push(right)) || ((leftCount > 1) && !tasks.push(left))) {
            return 0;
        }
    }
    return depth;
}

bool dgBuildBspPolygonSoup(dgDoublePlaneBSPPolygonSoup* soup, int32_t faceCount, const int32_t* faceArray,
                           int32_t indexCount, const int32_t* indexArray, int32_t vertexCount,
                           const float* vertexArray) {
    if (!soup) {
        return false;
    }
    soup->clear();
    if ((faceCount < 0) || (indexCount < 0) || (vertexCount < 0) || ((faceCount > 0) && !faceArray) ||
        ((indexCount > 0) && !indexArray) || ((vertexCount > 0) && !vertexArray)) {
        return false;
    }
    // Every stored face gains two entries; refuse what no leaf could address
    // before reading anything.
    if ((int64_t(indexCount) + 2 * int64_t(faceCount) > dgBspMaxIndexEntries) ||
        (vertexCount > dgBspMaxVertices)) {
        return false;
    }

    // Faces kept (fan pieces counted) and their entries in the soup.
    int64_t read = 0;
    int64_t pieces = 0;
    int64_t entries = 0;
    for (int32_t f = 0; f < faceCount; ++f) {
        const int32_t e = faceArray[f];
        if ((e < 1) || (read + e > indexCount)) {
            return false;
        }
        const int32_t n = e - 1;
        if ((n >= 3) && dgFaceUsable(indexArray + read + 1, n, vertexCount, vertexArray)) {
            const int32_t p = dgPieceCount(n);
            pieces += p;
            // Each cut repeats v0 and one vertex of the outline.
            entries += n + 2 * int64_t(p - 1) + 3 * int64_t(p);
        }
        read += e;
    }
    if ((entries > dgBspMaxIndexEntries) || (pieces < 2)) {
        return false;
    }
    const int32_t storedFaces = int32_t(pieces);
    const int32_t storedEntries = int32_t(entries);
    const int32_t extraVertices = 2 * storedFaces;

    dgScratchArray<float> scratchVertices(3 * (vertexCount + extraVertices));
    dgScratchArray<dgBspFaceRecord> records(storedFaces);
    dgScratchArray<dgBspFaceRecord*> order(storedFaces);
    dgScratchArray<int32_t> remap(extraVertices);
    dgBlockHolder indexBlock(size_t(storedEntries) * sizeof(int32_t));
    dgBlockHolder nodeBlock(size_t(storedFaces - 1) * sizeof(dgBspNode));
    int32_t* const indices = static_cast<int32_t*>(indexBlock.get());
    dgBspNode* const nodes = static_cast<dgBspNode*>(nodeBlock.get());
    if (!scratchVertices.getData() || !records.getData() || !order.getData() || !remap.getData() ||
        !indices || !nodes) {
        return false;
    }
    float* const vertices = scratchVertices.getData();
    if (vertexCount > 0) {
        memcpy(vertices, vertexArray, size_t(vertexCount) * kVertexBytes);
    }

    dgVector boxMin(kFar, kFar, kFar, 0.0f);
    dgVector boxMax(-kFar, -kFar, -kFar, 0.0f);
    for (int32_t v = 0; v < vertexCount; ++v) {
        const float* p = vertexArray + 3 * size_t(v);
        if (std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])) {
            for (int32_t axis = 0; axis < 3; ++axis) {
                boxMin[axis] = dgMin(boxMin[axis], p[axis]);
                boxMax[axis] = dgMax(boxMax[axis], p[axis]);
            }
        }
    }

    // Faces in order, each as [box min, box max, attribute, vertices].
    int32_t write = 0;
    int32_t face = 0;
    read = 0;
    for (int32_t f = 0; f < faceCount; ++f) {
        const int32_t e = faceArray[f];
        const int32_t n = e - 1;
        const int32_t* const source = indexArray + read;
        read += e;
        if ((n < 3) || !dgFaceUsable(source + 1, n, vertexCount, vertexArray)) {
            continue;
        }
        // Run of outline vertices first .. last after v0.
        int32_t first = 1;
        while (first < n - 1) {
            const int32_t last = dgMin(n - 1, first + dgBspMaxLeafVertices - 2);
            const int32_t pieceCount = last - first + 2;
            dgBspFaceRecord& record = records[face];
            record.m_position = write;
            record.m_entryCount = pieceCount + 3;
            order[face] = &record;
            const int32_t corner = vertexCount + 2 * face;
            indices[write] = corner;
            indices[write + 1] = corner + 1;
            indices[write + 2] = source[0];
            indices[write + 3] = source[1];
            memcpy(indices + write + 4, source + 1 + first, size_t(last - first + 1) * sizeof(int32_t));
            dgBspFaceExtents(record, vertices, indices + write + 3, pieceCount, vertices + 3 * size_t(corner),
                             vertices + 3 * size_t(corner + 1));
            write += pieceCount + 3;
            ++face;
            first = last;
        }
    }
    DG_ASSERT((face == storedFaces) && (write == storedEntries));

    int32_t nextFree = 1;
    const int32_t depth = dgBspBuildNode(nodes, 0, order.getData(), storedFaces, nextFree);
    DG_ASSERT((depth == 0) || (nextFree == storedFaces - 1));
    if (depth == 0) {
        return false;
    }

    // Equal box corners are shared.
    float* const corners = vertices + 3 * size_t(vertexCount);
    int32_t unique = dgWeldVertices(corners, kVertexBytes, kVertexBytes, 0, extraVertices, remap.getData(),
                                    kCornerWeldTolerance);
    if (unique <= 0) {
        unique = extraVertices;
        for (int32_t i = 0; i < extraVertices; ++i) {
            remap[i] = i;
        }
    }
    for (int32_t f = 0; f < storedFaces; ++f) {
        int32_t* const entry = indices + records[f].m_position;
        entry[0] = vertexCount + remap[entry[0] - vertexCount];
        entry[1] = vertexCount + remap[entry[1] - vertexCount];
    }
    const int32_t soupVertices = vertexCount + unique;
    if (soupVertices > dgBspMaxVertices) {
        return false;
    }
    float* const soupVertexArray = static_cast<float*>(dgMalloc(size_t(soupVertices) * kVertexBytes));
    if (!soupVertexArray) {
        return false;
    }
    memcpy(soupVertexArray, vertices, size_t(soupVertices) * kVertexBytes);

    soup->m_vertexArray = soupVertexArray;
    soup->m_vertexCount = soupVertices;
    soup->m_vertexStride = kVertexBytes;
    soup->m_indexArray = static_cast<int32_t*>(indexBlock.detach());
    soup->m_indexCount = storedEntries;
    soup->m_nodeArray = static_cast<dgBspNode*>(nodeBlock.detach());
    soup->m_nodeCount = storedFaces - 1;
    soup->m_treeDepth = depth;
    soup->m_boxMin = boxMin;
    soup->m_boxMax = boxMax;
    return true;
}

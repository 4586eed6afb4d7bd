// Building a double-plane BSP soup from the faces of a finished soup builder,
// and the steps of that build.
#pragma once

#include <cstdint>

#include "dgDoublePlaneBSPPolygonSoup.h"

// One face during the build: where its entries start in the soup's index
// array, how many there are (vertex count + 3), and for each of the 24
// directions the smallest and largest projection of its vertices. Directions
// 0, 1 and 2 give its box.
struct dgBspFaceRecord {
    int32_t m_position;
    int32_t m_entryCount;
    float m_extents[dgBspDirectionCount][2];
};

// What a split decides: the first m_leftCount records form the left group,
// whose faces lie at or below m_leftMax along the direction; the rest lie at
// or above m_rightMin.
struct dgBspSplit {
    int32_t m_leftCount;
    int32_t m_direction;
    float m_leftMax;
    float m_rightMin;
};

// Fills the record's extents over the face's vertices (each pair started at
// +1e20 / -1e20) and writes the corners of its box to boxMin and boxMax
// (x, y, z each).
void dgBspFaceExtents(dgBspFaceRecord& record, const float* vertices, const int32_t* vertexIndices,
                      int32_t vertexCount, float* boxMin, float* boxMax);

// Cost of the best split of count records along one direction, and its split
// value. Candidates are the records' maxima in ascending order, records
// within 0.0001 above a candidate joining it; cost = 2 |L - R| plus, for
// each record of the right group straddling the candidate, 1 and a step of
// the straddle distance. Counting stops once the cost exceeds bound.
// 2147483647 for no records.
int32_t dgBspSplitCost(dgBspFaceRecord* const* records, int32_t direction, int32_t count, int32_t bound,
                       float& splitValue);
// The split of fewer than 64 records: the cheapest of the 24 directions.
// Reorders the records so the left group comes first.
dgBspSplit dgBspSplitSmall(dgBspFaceRecord** records, int32_t count);
// The split of 64 records or more: the median of the maxima along the axis
// of largest centre spread. Reorders the records so the left group comes
// first.
dgBspSplit dgBspSplitLarge(dgBspFaceRecord** records, int32_t count);

// Builds the subtree of node `nodeIndex` over count records (at least 2),
// numbering new nodes from nextFree. Both children of a node are numbered
// before either is built, left first, so equal inputs give equal trees. Runs
// on a work stack, however deep the tree. Returns the subtree's depth in
// inner nodes, or 0 when its work stack could not grow.
int32_t dgBspBuildNode(dgBspNode* nodes, int32_t nodeIndex, dgBspFaceRecord** records, int32_t count,
                       int32_t& nextFree);

// Replaces the soup by one built from a builder's arrays: faceArray[f] is the
// entry count of face f (vertex count + 1), indexArray holds per face its
// attribute and then its vertex indices, vertexArray x, y, z per vertex.
//   - Faces of fewer than 3 vertices, with an index outside the vertices or
//     a non-finite vertex are left out; faces beyond 127 vertices (what a leaf
//     holds) are cut into fan pieces sharing their first vertex.
//   - Refused, with the soup left empty: negative counts, a null array for a
//     non-zero count, entry counts below 1 or running past indexCount, and
//     soups beyond 2^24 index entries or vertices (a leaf cannot address
//     more).
// Returns true when a tree was built; with fewer than 2 faces nothing is
// built and the soup stays empty.
bool dgBuildBspPolygonSoup(dgDoublePlaneBSPPolygonSoup* soup, int32_t faceCount, const int32_t* faceArray,
                           int32_t indexCount, const int32_t* indexArray, int32_t vertexCount,
                           const float* vertexArray);

// The same from a finished builder (after end and duplicateSingleFace),
// through its count and array getters.
template <class Builder>
bool dgBuildBspPolygonSoup(dgDoublePlaneBSPPolygonSoup* soup, const Builder& builder) {
    return dgBuildBspPolygonSoup(soup, builder.getFaceCount(), builder.getFaceData(), builder.getIndexCount(),
                                 builder.getIndexData(), builder.getVertexCount(), builder.getVertexData());
}

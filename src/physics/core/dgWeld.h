// Vertex welding: merges the vertices of a strided array that lie within a
// tolerance of each other and compacts the survivors to the front.
//
// Not re-entrant: the sort axis is process-wide state read by the qsort
// comparator, so two welds must not run at the same time (the engine runs on
// one thread).
#pragma once

#include <cstdint>

// A weld (or split-pass call) of more records than this first splits them
// around the mean of the widest axis; at most this many go straight to the
// sorted pass. Vertices on opposite sides of a split are never merged.
constexpr int32_t dgWeldSplitThreshold = 98304;

// Layout of a work record, in 32-bit words: the merged (unique) index, -1 while
// unassigned; the input index of the vertex; then a copy of the vertex's
// strideInBytes/4 words (x, y, z first). A record is strideInBytes/4 + 2 words.
constexpr int32_t dgWeldMergedIndexWord = 0;
constexpr int32_t dgWeldInputIndexWord = 1;
constexpr int32_t dgWeldDataWord = 2;

// Record word (dgWeldDataWord + 0, 1 or 2 for x, y, z) that dgCompareAxis sorts
// on. Set by dgWeldVerticesSorted before it sorts.
extern int32_t dgWeldSortAxisWord;

// Welds vertexCount vertices of strideInBytes bytes each (a multiple of 4, at
// least 12; x, y, z are the first three 32-bit floats). Of each vertex the first
// toleranceBytes/4 words are compared as floats: two vertices match when every
// one differs by less than tolerance + 0.0001; the next exactBytes/4 words must
// be bitwise equal; the remaining words are carried along uncompared (each
// unique vertex keeps those of its group's representative). With fewer than 4
// tolerance bytes the exact words are compared from the first word on.
// On return vertices 0..unique-1 hold the unique vertices (all stride words)
// and outIndices[i] (vertexCount entries) is the unique index of input vertex i.
// Returns the unique count. Returns 0 and touches neither array when
// strideInBytes < 12, toleranceBytes + exactBytes < 12, toleranceBytes +
// exactBytes > strideInBytes, a byte count is negative, vertexCount <= 0, or the
// work records (vertexCount * (strideInBytes + 8) bytes) cannot be allocated.
int32_t dgWeldVertices(void* vertices, int32_t strideInBytes, int32_t toleranceBytes, int32_t exactBytes,
                       int32_t vertexCount, int32_t* outIndices, float tolerance);

// The two passes over count work records of recordWords words (layout above).
// Each returns the unique count of its records, leaves the unique vertex data in
// the data words of its first records and sets every record's merged index
// (relative to the records it was given). The split pass hands at most
// dgWeldSplitThreshold records straight to the sorted pass.
int32_t dgWeldVerticesSplit(int32_t* records, int32_t recordWords, int32_t toleranceWords, int32_t exactWords,
                            int32_t count, float tolerance);
int32_t dgWeldVerticesSorted(int32_t* records, int32_t recordWords, int32_t toleranceWords,
                             int32_t exactWords, int32_t count, float tolerance);

// qsort comparator of two records on the float at word dgWeldSortAxisWord:
// -1 when A's is smaller, 1 when larger, 0 when equal. NaN sorts after every
// number (and equal to NaN) so the order stays total.
int dgCompareAxis(const void* recordA, const void* recordB);

// Collects the faces of a static mesh (the terrain) before it becomes a
// searchable polygon soup. Faces are cleaned as they arrive (repeated
// indices, vanishing edges, collinear corners, concave outlines cut into
// convex pieces); end() welds the vertices, cleans the faces again against
// the welded vertices and, when asked to, merges the faces of each attribute
// into larger convex faces.
//
// After end() every face is convex, has 3 to kMaxFaceVertices vertices and
// carries the 32-bit attribute its caller gave it. The result is read
// straight from the public counts and arrays:
//   m_faceArray[f]     entries of face f in the index array (vertices + 1)
//   m_indexArray       per face: attribute, then its vertex indices in order
//   m_vertexArray      x, y, z of each vertex
// Face f starts at the sum of m_faceArray[0..f-1].
//
// Usage: begin, addMesh any number of times, end, duplicateSingleFace, then
// read. One thread at a time: the edge and attribute node pools are shared.
#pragma once

#include <cstdint>

#include "dgGrowableArray.h"
#include "dgMatrix.h"
#include "dgWorkStack.h"

// One vertex of the builder: 12 bytes.
struct dgSoupVertex {
    float m_x;
    float m_y;
    float m_z;
};
static_assert(sizeof(dgSoupVertex) == 12, "builder vertices are three packed floats");

class dgPolygonSoupBuilder {
public:
    // Largest face leaving end(); larger convex faces are cut into pieces.
    static constexpr int32_t kMaxFaceVertices = 64;
    // Longest index list admission takes, and most convex pieces a face may
    // be cut into at admission; a face beyond either is refused.
    static constexpr int32_t kMaxAdmitIndices = 2048;
    static constexpr int32_t kMaxAdmitPieces = 256;
    // The optimised end splits sets above this many faces and merges sets
    // below it.
    static constexpr int32_t kSplitFaceCount = 4096;
    // Passes over the faces the merge could not take at first.
    static constexpr int32_t kMaxLeftoverPasses = 64;
    static constexpr float kWeldTolerance = 0.001f;

    dgPolygonSoupBuilder();
    ~dgPolygonSoupBuilder();
    dgPolygonSoupBuilder(const dgPolygonSoupBuilder&) = delete;
    dgPolygonSoupBuilder& operator=(const dgPolygonSoupBuilder&) = delete;

    static void* operator new(size_t size) noexcept { return dgMalloc(size); }
    static void operator delete(void* ptr) noexcept { dgFree(ptr); }

    // Empties the counts; the storage stays.
    void begin();
    // Appends vertexCount vertices (three floats every strideInBytes bytes,
    // transformed by matrix) and faceCount faces: face f has
    // faceIndexCounts[f] indices, taken in order from indices, relative to
    // this call's vertices, and the attribute faceAttributes[f]. A face is
    // dropped when an index lies outside this call's vertices, when it has
    // more than kMaxAdmitIndices indices or needs more than kMaxAdmitPieces
    // convex pieces, or when cleaning leaves nothing of it. The whole call is
    // refused (false, nothing changed) for a negative count, a null array
    // that is needed, a stride below 12 or not a multiple of 4, or counts the
    // arrays cannot hold.
    bool addMesh(const float* vertices, int32_t vertexCount, int32_t strideInBytes, int32_t faceCount,
                 const int32_t* faceIndexCounts, const int32_t* indices, const int32_t* faceAttributes,
                 const dgMatrix& matrix);
    // Finishes the faces: weld, clean and, with optimise, merge.
    void end(bool optimise);
    // With exactly one face, appends a copy of it (a soup needs two faces).
    void duplicateSingleFace();

    int32_t getFaceCount() const { return m_faceCount; }
    int32_t getIndexCount() const { return m_indexCount; }
    int32_t getVertexCount() const { return m_vertexCount; }
    const int32_t* getFaceData() const { return m_faceArray.getData(); }
    const int32_t* getIndexData() const { return m_indexArray.getData(); }
    // x, y, z of each vertex, 12 bytes apart.
    const float* getVertexData() const { return reinterpret_cast<const float*>(m_vertexArray.getData()); }

    // --- the result, read by the soup build ---
    int32_t m_faceCount;
    int32_t m_indexCount;
    int32_t m_vertexCount;
    dgGrowableArray<int32_t> m_faceArray;
    dgGrowableArray<int32_t> m_indexArray;
    dgGrowableArray<dgSoupVertex> m_vertexArray;

private:
    // Cleans one face of builder vertex indices (modified in place) into
    // convex faces appended to outIndices with their vertex counts in
    // outCounts. Returns the number of faces (0 when refused).
    int32_t admitFace(int32_t count, int32_t* indices, dgWorkStack<int32_t>& outIndices,
                      dgWorkStack<int32_t>& outCounts);
    // Cleans a face without splitting it: drops collinear and reflex corners
    // and starts it before its squarest corner. Writes the result over
    // indices; returns its vertex count (0 when fewer than 3 are left).
    int32_t cleanFace(int32_t count, int32_t* indices);
    void split(bool optimise);
    void finish(bool optimise);
    // Takes the vertices that are not finite out of the vertex array (no
    // face uses them: addMesh refuses such faces) and renumbers the faces'
    // indices; they would reach the weld and the soup's vertices otherwise.
    void dropNonFiniteVertices();
    void packFaces();
    void mergeCoplanarFaces();
    void mergeAttributeFaces(dgPolygonSoupBuilder& result, const dgPolygonSoupBuilder& source,
                             int32_t firstFace, int32_t indexStart, dgPolygonSoupBuilder& leftover);
    // Adds one face of this builder's vertices (by index) to destination.
    void copyFaceTo(dgPolygonSoupBuilder& destination, int32_t count, const int32_t* vertexIndices,
                    int32_t attribute) const;
    // Adds one face of count vertices (x, y, z, 12 bytes apart) with the
    // identity matrix.
    void addFace(const float* vertices, int32_t count, int32_t attribute);
    // Replaces this builder's counts and arrays by a copy of source's.
    void copyFrom(const dgPolygonSoupBuilder& source);
    void swapWith(dgPolygonSoupBuilder& other);
};

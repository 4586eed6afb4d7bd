// Abstract base of the static, searchable polygon soups (the terrain): a
// vertex array plus the faces overlapping a box, the faces along a segment,
// the soup's box, saving and loading. Faces are one-sided: (v1 - v0) x
// (v2 - v1) points to the walkable side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgPhysics.h"
#include "dgRef.h"
#include "dgVector.h"

// Called for each face a query reaches: the soup's vertices (x, y, z every
// strideBytes bytes, 12 for the soups here), the face's vertex indices and
// their count. indices[-1] is the face's attribute. 0 ends the query at once,
// anything else lets it go on.
typedef int32_t (*dgPolygonSoupFaceCallback)(void* userData, const float* vertices, int32_t strideBytes,
                                             const int32_t* indices, int32_t indexCount);

// The save and load callbacks (dgSerializeCallback, dgDeserializeCallback)
// are the public header's: pieces are sized in uint32_t bytes.

class dgPolygonSoupDatabase : public dgRef {
    DG_DECLARE_CLASS(dgPolygonSoupDatabase, dgRef)

public:
    // Empty: no vertices, stride 0.
    dgPolygonSoupDatabase();
    // Frees the vertex array.
    ~dgPolygonSoupDatabase() override;
    dgPolygonSoupDatabase(const dgPolygonSoupDatabase&) = delete;
    dgPolygonSoupDatabase& operator=(const dgPolygonSoupDatabase&) = delete;

    virtual void serialize(dgSerializeCallback write, void* userData) const = 0;
    // Replaces the soup by the one read; false (and the soup left empty) when
    // the data is short or inconsistent.
    virtual bool deserialize(dgDeserializeCallback read, void* userData) = 0;
    // The box of all vertices; the base has none and leaves both alone.
    virtual void getAABB(dgVector& boxMin, dgVector& boxMax) const;
    // Every face whose box overlaps [boxMin, boxMax] (touching counts) and
    // possibly no other; the base reports nothing.
    virtual void getFacesInAABB(const dgVector& boxMin, const dgVector& boxMax,
                                dgPolygonSoupFaceCallback callback, void* userData) const;
    // Faces the segment p0 p1 may meet; the base reports nothing.
    virtual void getFacesOnRay(const dgVector& p0, const dgVector& p1, dgPolygonSoupFaceCallback callback,
                               void* userData) const;

    // Parameter t of the nearest front-side hit along p0 + t (p1 - p0), or
    // 1.1 when the segment hits nothing.
    float rayHit(const dgVector& p0, const dgVector& p1) const;
    // True when the segment hits any face from its front side.
    bool rayHitAny(const dgVector& p0, const dgVector& p1) const;

    int32_t getVertexCount() const { return m_vertexCount; }
    int32_t getVertexStride() const { return m_vertexStride; }
    const float* getVertexArray() const { return m_vertexArray; }

protected:
    // Frees the vertex array and clears the count.
    void clearVertices();

    int32_t m_vertexCount;
    // Bytes between vertices; informative (queries pass 12).
    int32_t m_vertexStride;
    // x, y, z per vertex; a dgMalloc block, null when there are none.
    float* m_vertexArray;
};

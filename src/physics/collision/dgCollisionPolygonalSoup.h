// The collision shape of static meshes (the game's terrain) and its convex
// face.
//
// The soup shape keeps no faces: it holds a user data pointer and three
// callbacks given at creation. The collide callback gathers the faces that
// overlap a box into a dgPolygonSoupCollideDesc, the ray-cast callback answers
// a dgPolygonSoupRayDesc and the destroy callback releases the user data with
// the shape. The tree collision supplies them over its searchable soup, with
// itself as the user data; the shape only ever calls them.
//
// The shape owns one face object (dgCollisionPolygonalSoup::
// dgCollisionConvexPolygon). The soup contact code loads one gathered face at
// a time into it and treats it as a convex shape. The face object has no
// edge table: the convex base's own queries see an empty polyhedron, and the
// face answers its support, bounds, plane cut and ray cast from the vertices
// of the face loaded last.
//
// Ownership: both are reference counted and come from the block cache. The
// face object lives as long as its soup, which holds its one reference; it
// is shared by every query against the soup (one thread at a time).
#pragma once

#include <cstdint>

#include "dgCollision.h"
#include "dgConvexCollision.h"
#include "dgPlane.h"

// The two records (dgPolygonSoupCollideDesc, dgPolygonSoupRayDesc) and the
// three callback types are the public header's (dgPhysics.h), by way of
// dgCollision.h.

// The record's vectors as the engine's: x, y, z, w.
inline dgVector dgDescVector(const float* v) {
    return dgVector(v[0], v[1], v[2], v[3]);
}
inline void dgSetDescVector(float* out, const dgVector& v) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
    out[3] = v.w;
}

// Outputs of the gathering record emptied (counts, vertex array and stride 0)
// and its three pointers aimed at its own storage. The inputs are left alone.
void dgCollideDescReset(dgPolygonSoupCollideDesc& desc);
// Appends one face (its indices into `vertices`, `strideInBytes` apart) with
// its attribute. Returns 0, storing nothing, when the record already holds
// kMaxFaces faces or the face's indices would bring the index count to
// kMaxIndices: a box query ends there. Otherwise 1. The first face stored
// sets the vertex array and stride.
int32_t dgCollideDescAddFace(dgPolygonSoupCollideDesc& desc, const float* vertices, int32_t strideInBytes,
                             const int32_t* indices, int32_t indexCount, int32_t attribute);
// The step of a polygon walk for one face: the face's vertices placed by the
// soup body's matrix (dgPolygonWalkMatrix) and handed to m_polygonCallback
// with the soup body and the attribute as face id; the face count counts the
// faces walked. Faces of fewer than 3 vertices are skipped. Returns 1 (the
// walk goes on), or 0 when there is no callback or no soup body.
int32_t dgCollideDescWalkFace(dgPolygonSoupCollideDesc& desc, const float* vertices, int32_t strideInBytes,
                              const int32_t* indices, int32_t indexCount, int32_t attribute);

// The point of the solid triangle abc nearest to p by vertex, edge and face
// regions (dgClosestPointOnTriangle); the result takes a's w.
dgVector dgTriangleClosestPoint(const dgVector& p, const dgVector& a, const dgVector& b, const dgVector& c);

// The points where the edges of the indexed polygon cross the plane, walking
// from the edge (last, first) on: an edge from a vertex of value >= 0 to one
// of value <= 0, or from < 0 to >= 0, gives one point (w = 1). Vertex i
// starts at vertices + indices[i] * strideInFloats. `points` must hold
// indexCount points; returns how many were written.
int32_t dgPolygonPlaneCrossings(const float* vertices, const int32_t* indices, int32_t indexCount,
                                int32_t strideInFloats, const dgPlane& plane, dgVector* points);

class dgCollisionPolygonalSoup : public dgCollision {
    DG_DECLARE_CLASS(dgCollisionPolygonalSoup, dgCollision)

public:
    class dgCollisionConvexPolygon;

    // Shape type 10, signature 0, identity offset; the four values stored; the
    // face object made; box at the origin. collide must not be null; the
    // ray-cast and destroy callbacks may be.
    dgCollisionPolygonalSoup(void* userData, dgPolygonSoupCollideCallback collide,
                             dgPolygonSoupRayCastCallback rayCast, dgPolygonSoupDestroyCallback destroy);
    // Releases the face object, then calls the destroy callback with the user
    // data when there is one.
    ~dgCollisionPolygonalSoup() override;

    // Box of the two corners whichever order they come in; the tree collision
    // sets it after its build.
    void setCollisionBBox(const dgVector& p0, const dgVector& p1) override;
    // The low 32 bits of the user data; nothing relies on it (getUserData is
    // the user data).
    uint32_t getUserId() const override;
    // Does nothing.
    void setUserId(uint32_t userId) override;
    // The stored box under the matrix; w = 1.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // Calls the collide callback with a record whose box is the soup's box,
    // whose soup body is `body` and whose polygon callback is `callback`: the
    // interface swaps in a walking collide callback (which calls walkFace for
    // each face) around this call. Returns the faces walked.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Through the ray-cast callback, under the dgCollision contract: a t in
    // [0, 1] is a hit with the callback's normal made unit and its attribute
    // zero-extended; anything else, a non-finite segment, a missing callback
    // or a hit without a usable normal is kRayMiss.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // 0.
    float getVolume() const override;
    // Zero inertia and origin (x, y, z; w untouched).
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // The zero vector: a static mesh displaces nothing.
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;
    // 0.
    uint32_t calcSignature() const override;

    // The one way to run a box gathering: the record's outputs are reset and
    // its user data set to the soup's, then the collide callback fills it. A
    // box that is not finite or is inverted gathers nothing. Returns the face
    // count.
    int32_t gatherFaces(dgPolygonSoupCollideDesc& desc) const;

    void* getUserData() const { return m_userData; }
    dgPolygonSoupCollideCallback getCollideCallback() const { return m_collideCallback; }
    void setCollideCallback(dgPolygonSoupCollideCallback callback) { m_collideCallback = callback; }
    dgPolygonSoupRayCastCallback getRayCastCallback() const { return m_rayCastCallback; }
    dgPolygonSoupDestroyCallback getDestroyCallback() const { return m_destroyCallback; }
    // The face object; null only when its allocation failed.
    dgCollisionConvexPolygon* getFace() const { return m_face; }
    const dgVector& getBoxMin() const { return m_boxMin; }
    const dgVector& getBoxMax() const { return m_boxMax; }

private:
    dgVector m_boxMin;
    dgVector m_boxMax;
    dgVector m_halfSize;
    dgVector m_centre;
    void* m_userData;
    dgPolygonSoupCollideCallback m_collideCallback;
    dgPolygonSoupDestroyCallback m_destroyCallback;
    dgPolygonSoupRayCastCallback m_rayCastCallback;
    dgCollisionConvexPolygon* m_face;
};

// One gathered face presented as a convex shape (shape type 12).
//
// The caller points it at a face with setFace; the loading operations
// (closestPointToPoint, quickTest, quickTestSlab) copy the face into the
// vertex storage and set the face normal, and supportVertex,
// calcPlaneIntersection, calcAABB and rayCast read that storage. A face of
// fewer than 3 or more than kMaxVertices vertices, or one without arrays or
// with a stride below 3 floats, is skipped: the loading operations refuse it
// and the storage is left empty.
class dgCollisionPolygonalSoup::dgCollisionConvexPolygon : public dgConvexCollision {
    DG_DECLARE_CLASS_NAMED(dgCollisionConvexPolygon, dgConvexCollision,
                           "dgCollisionPolygonalSoup::dgCollisionConvexPolygon")

public:
    static constexpr int32_t kMaxVertices = 64;
    static constexpr uint32_t kFaceSignature = 0x12341234u;
    // Half width of quickTestSlab's slab about the face's plane.
    static constexpr float kSlabHalfWidth = 0.1f;

    // Convex base with the face signature, identity offset and type 12;
    // storage zeroed, no face.
    dgCollisionConvexPolygon();
    ~dgCollisionConvexPolygon() override;

    // Ignored.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // Box of the loaded face placed by the matrix (the matrix origin when no
    // face is loaded); w = 1.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // One-sided cast against the loaded face (dgRayFaceTest): a hit has the
    // unit front normal and the shape's user id. No face loaded: kRayMiss.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // 0.
    float getVolume() const override;
    // Zero inertia and origin (x, y, z; w untouched).
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // kFaceSignature.
    uint32_t calcSignature() const override;
    // The stored vertex farthest along direction; the first of equal ones
    // wins. The zero vector when no face is loaded.
    dgVector supportVertex(const dgVector& direction) const override;
    // The loaded face cut by the plane through point with unit normal: the
    // whole face when it is parallel to the plane, else its part on the
    // normal's side projected onto the plane, with the points where its edges
    // cross the plane. At most dgPlaneIntersectionMaxPoints points (w = 1).
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // The face to load next: vertex indices[i] starts at vertices +
    // indices[i] * strideInFloats (the gathering record's stride is in bytes:
    // divide it by sizeof(float)).
    void setFace(const float* vertices, int32_t strideInFloats, const int32_t* indices, int32_t vertexCount);

    // Loads the face; true, with the point of the face nearest to p in out
    // and the face normal set, when that point lies within radius of p.
    // Otherwise false, and neither out nor the face normal changes.
    bool closestPointToPoint(const dgVector& p, float radius, dgVector& out);
    // Loads the face; 0 when the convex (placed by matrix, which carries the
    // soup's directions into the convex's frame) lies wholly behind the
    // face's plane, else 1.
    int32_t quickTest(const dgConvexCollision& convex, const dgMatrix& matrix);
    // Loads the face with its normal reversed; 1 only when the convex reaches
    // into the slab of half width kSlabHalfWidth about the face's plane, at
    // its place or anywhere along sweep (its displacement over the step, in
    // the soup's frame) towards the face's front. Moving away from the front,
    // or coming from behind, the sweep adds nothing: a face has one side.
    int32_t quickTestSlab(const dgConvexCollision& convex, const dgMatrix& matrix,
                          const dgVector& sweep = dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    // Drops the contacts whose normal (in the convex's frame) turns away from
    // the face normal carried by matrix (cosine below 0.1, or not a number):
    // each is overwritten by the last and the count drops. flags[i] of each
    // kept contact is 1 when its cosine is below 0.999, else 0. Returns the
    // remaining count.
    int32_t filterContacts(int32_t count, dgContactPoint* contacts, const dgMatrix& matrix,
                           uint8_t* flags) const;

    // Face unit normal of the last load ((F1 - F0) x (F2 - F1); reversed by
    // quickTestSlab), zero when nothing is loaded.
    const dgVector& getFaceNormal() const { return m_normal; }
    // Vertices of the loaded face (0 when none).
    int32_t getStoredCount() const { return m_storedCount; }
    const dgVector* getStoredVertices() const { return m_localPoly; }

private:
    // Copies the face into the storage (w = 1) and sets the unit normal;
    // false, with the storage emptied, for a face that is skipped.
    bool loadFace();
    // The support point of convex along the soup-frame direction, back in the
    // soup's frame.
    static dgVector convexSupport(const dgConvexCollision& convex, const dgMatrix& matrix,
                                  const dgVector& direction);

    dgVector m_normal;
    dgVector m_localPoly[kMaxVertices];
    // The face set by setFace.
    int32_t m_count;
    int32_t m_stride;
    const int32_t* m_index;
    const float* m_vertex;
    // Vertices in the storage.
    int32_t m_storedCount;
};

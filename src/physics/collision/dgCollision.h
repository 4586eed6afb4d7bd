// Abstract base of every collision shape.
//
// A shape carries its placement inside the body (the offset matrix), a content
// signature by which the world's collision cache finds an equal shape, a type
// id for the contact dispatch and a flag word; the virtual interface below is
// what bodies, the world, the broad phase and the contact code use without
// knowing the kind of shape.
//
// Ownership: shapes are reference counted (dgRef). A shape is born with one
// reference (reference word 257); bodies, the collision cache, compounds and
// modifiers each hold one more. Storage comes from the block cache (dgRef's
// operator new / delete), and the last release() runs the virtual destructor
// and returns the storage there.
//
// Apart from its user id, name id, reference word and (modifier only) the
// modifier matrix a shape is immutable after construction.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"
#include "dgMatrix.h"
#include "dgPhysicsTypes.h"
#include "dgPlane.h"
#include "dgRef.h"
#include "dgVector.h"

class dgBody;
class dgCollision;

// Type id word of a shape; the contact code dispatches on it.
enum dgShapeType : uint32_t {
    dgShapeBox = 0,              // "dgCollisionBox"
    dgShapeCone = 1,             // "dgCollisionCone"
    dgShapeSphere = 2,           // "dgCollisionSphere"
    dgShapeEllipse = 3,          // "dgCollisionEllipse"
    dgShapeCapsule = 4,          // "dgCollisionCapsule"
    dgShapeCylinder = 5,         // "dgCollisionCylinder"
    dgShapeCompound = 6,         // "dgCompoundCollision"
    dgShapeConvexHull = 7,       // "dgCollisionConvexHull"
    dgShapeConvexModifier = 8,   // "dgCollisionConvexModifier"
    dgShapeChamferCylinder = 9,  // "dgCollisionChamferCylinder"
    dgShapePolygonSoup = 10,     // "dgCollisionPolygonalSoup"
    dgShapeNull = 11,            // "dgCollisionNull"
    dgShapeSoupFace = 12,        // "dgCollisionPolygonalSoup::dgCollisionConvexPolygon"
};

// Bits of the shape's flag word.
enum dgShapeFlags : uint32_t {
    // The offset matrix is not the identity: the body multiplies it into its
    // collision matrix.
    dgShapeFlagOffset = 1u << 0,
    // Set by the vehicle on the compound that serves as its chassis.
    dgShapeFlagVehicle = 1u << 1,
    // Set on the vehicle's tire shapes.
    dgShapeFlagTire = 1u << 2,
};

// Face walk callback (dgCollisionPolygonCallback, public header): the body is
// exactly the caller's; while a compound or a modifier walks its inner
// shapes, the body's collision names the shape that owns the face (see
// dgBodyShapeLend). Ray-cast prefilter: dgCollisionRayPrefilter.

// Fluid plane for the submerged volume: (shape user id, context, shape's global
// matrix, out plane) -> nonzero when a plane was written. The plane is global,
// (unit normal pointing out of the fluid, d): points with n.p + d < 0 are
// submerged.
typedef int32_t (*dgCollisionFluidPlaneCallback)(uint32_t userId, void* context, const dgMatrix& globalMatrix,
                                                 dgPlane& plane);

// Words of the signature record of the primitives (128 bytes).
constexpr int32_t dgSignatureRecordWords = 32;

// Quantised dimension for a signature: value * 1024 truncated toward zero to
// a 64-bit integer, low 32 bits kept. NaN gives 0; values beyond the 64-bit
// range saturate.
int32_t dgQuantize(float value);

// Signature of a key record: dgHashBytes(record, byteCount, seed 0).
uint32_t dgSignatureHash(const void* record, int32_t byteCount);

// Signature of a primitive: a zeroed 128-byte record of word 0 = type,
// dgQuantize of each dimension in order, then the 16 offset-matrix floats as
// bit patterns row by row, hashed with dgSignatureHash. dimensionCount at most
// dgSignatureRecordWords - 17. The shape factory uses it before construction;
// the primitives' calcSignature return the same value.
uint32_t dgShapeSignature(uint32_t typeId, const float* dimensions, int32_t dimensionCount,
                          const dgMatrix& offsetMatrix);

class dgCollision : public dgRef {
    DG_DECLARE_CLASS(dgCollision, dgRef)

public:
    // The ray parameter every shape returns for "no hit".
    static constexpr float kRayMiss = 1.2f;

    // One reference, live, unnamed; flag bits 0-2 cleared; signature and type
    // stored unchanged (not recomputed); then setOffsetMatrix.
    dgCollision(uint32_t signature, const dgMatrix& offsetMatrix, uint32_t typeId);
    dgCollision(const dgCollision&) = delete;
    dgCollision& operator=(const dgCollision&) = delete;
    ~dgCollision() override;

    // ---- virtual interface, in slot order after dgRef's ----

    // Explicit bounding box; only the polygon-soup shape keeps one.
    virtual void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) = 0;
    // The application's 32-bit value (convex and soup shapes store it; the
    // base answers 0 and ignores the setter).
    virtual uint32_t getUserId() const;
    virtual void setUserId(uint32_t userId);
    // World-space axis-aligned box of the shape placed by `matrix`, the shape's
    // global matrix with the offset already applied (the body's collision
    // matrix). Both outputs have w = 1 unless the shape documents otherwise.
    virtual void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const = 0;
    // Hands every face to the callback (see dgCollisionPolygonCallback),
    // placed by the body's matrix (dgPolygonWalkMatrix) after the shape's own
    // offset. body must not be null. Returns a shape-specific count (faces or
    // half-edges walked); callers do not depend on it.
    virtual int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const = 0;
    // Ray cast in the shape's local frame; contract binding on every override:
    //  - With a prefilter, prefilter(body, this, userData) is asked first; 0
    //    returns kRayMiss without touching the contact.
    //  - Returns the parameter t of the first hit along p0 + t (p1 - p0). A
    //    hit has 0 <= t <= 1 (t exactly 1 is a hit); any value above 1 is a
    //    miss and kRayMiss is the one returned.
    //  - Whenever the result is a hit, contact.normal holds the unit outward
    //    surface normal at the hit (w unspecified) and contact.userId the
    //    shape's user id, zero-extended (dgContactUserId). On a miss the
    //    contact may have been written or not; callers ignore it.
    virtual float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                          dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const = 0;
    virtual float getVolume() const = 0;
    // Inertia per unit mass about the centre of mass (diagonal, x, y, z) and
    // the centre of mass in the body's frame (x, y, z). w of both untouched.
    virtual void calcInertia(dgVector& inertia, dgVector& origin) const = 0;
    // (world centroid x, y, z; volume w) of the part below the fluid plane;
    // `matrix` is the shape's global matrix. No callback, or one that answers
    // 0, leaves the whole shape submerged.
    virtual dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                         void* context) const = 0;
    // The convex modifier's deforming matrix; every other shape answers the
    // identity and ignores the setter.
    virtual dgMatrix getModifierMatrix() const;
    virtual void setModifierMatrix(const dgMatrix& matrix);
    // Signature recomputed from the current fields (see dgShapeSignature).
    virtual uint32_t calcSignature() const = 0;

    // ---- non-virtual ----

    uint32_t getSignature() const { return m_signature; }
    uint32_t getShapeType() const { return m_shapeType; }
    uint32_t getFlags() const { return m_flags; }
    void setFlagBits(uint32_t mask) { m_flags |= mask; }
    void clearFlagBits(uint32_t mask) { m_flags &= ~mask; }
    // True when flag bit 0 says the offset matrix is not the identity.
    bool hasOffset() const { return (m_flags & dgShapeFlagOffset) != 0; }
    const dgMatrix& getOffsetMatrix() const { return m_offsetMatrix; }

    // The exact identity test of the offset matrix: every diagonal entry bit
    // for bit 1.0f and every off-diagonal entry == 0.0f (-0.0 counts as 0).
    static bool isIdentityOffset(const dgMatrix& matrix);

protected:
    // Copies the matrix and sets flag bit 0 when it is not the identity; no
    // other bit changes. Called only by the constructor.
    void setOffsetMatrix(const dgMatrix& matrix);

    dgMatrix m_offsetMatrix;
    uint32_t m_signature;
    uint32_t m_shapeType;
    uint32_t m_flags;
};

// The placement of a face walk: the walking body's matrix (its first member).
// The one place the shapes read the body of a walk.
const dgMatrix& dgPolygonWalkMatrix(const dgBody* body);

// The one place a walk writes its body's shape. A compound (each child in
// turn) or a modifier (its wrapped shape) lends the walking body the shape
// whose faces it is about to hand out, so that a callback reading the body's
// collision sees the owner of each face; the contact pass lends a compound
// body each child it pairs. The body's own shape is put back when the guard
// goes out of scope. While any guard lends it, the body carries
// dgBodyFlagShapeLent: a shape a callback gives the body meanwhile waits in
// the body (dgBodySetCollision) and replaces the body's own shape when the
// outermost guard ends, so that neither the lent shape nor the one the walk
// is still walking is released from under it. The walk takes its body as
// const because the caller finds it unchanged once the walk returns (but for
// such a swap); the body itself must not be a const object.
class dgBodyShapeLend {
public:
    explicit dgBodyShapeLend(const dgBody* body);
    ~dgBodyShapeLend();
    dgBodyShapeLend(const dgBodyShapeLend&) = delete;
    dgBodyShapeLend& operator=(const dgBodyShapeLend&) = delete;

    // The body's collision names shape until the next lend or the end of the
    // guard.
    void lend(dgCollision* shape);

private:
    dgBody* m_body;
    dgCollision* m_saved;
    // The guard that set the body's lent flag, and so ends the lend.
    bool m_outermost;
};

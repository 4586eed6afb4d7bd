// A convex shape deformed by an affine modifier matrix M (scale, shear,
// rotation, translation) that can be changed at any time without rebuilding
// the wrapped shape.
//
// The modifier has no vertices or edges of its own: every query goes to the
// wrapped shape through M or its inverse. Its local space is M applied to the
// wrapped shape's local space (row-vector convention: a wrapped point p maps
// to p * M); the wrapped shape's own offset matrix plays no part inside the
// modifier. A modifier may wrap another modifier; the matrices then compose,
// inner first.
//
// M is kept affine (rows 0-2 with w = 0, position row with w = 1), invertible
// and orientation-keeping: a mirroring matrix (negative determinant) would
// turn the shape inside out, and is refused like a singular one. A new
// modifier starts with the identity.
//
// Ownership: the modifier holds one reference to the wrapped shape for its
// whole life and drops it through dgWorldReleaseCollision of its world (or
// directly when it has none). Never cached (signature 0). Storage from the
// block cache.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"

class dgWorld;

class dgCollisionConvexModifier : public dgConvexCollision {
    DG_DECLARE_CLASS(dgCollisionConvexModifier, dgConvexCollision)

public:
    // Signature 0, identity offset, type 8; M and its inverse the identity,
    // volume scale 1. Adds a reference to wrapped (which must not be null)
    // and copies its user id. world may be null.
    dgCollisionConvexModifier(dgConvexCollision* wrapped, dgWorld* world);
    // Releases the wrapped shape.
    ~dgCollisionConvexModifier() override;

    // ---- dgCollision interface ----

    // Ignored.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // Exact box of the deformed shape under matrix, from six support queries
    // along the world axes seen in the shape's space; only x, y and z are
    // written.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // The wrapped shape's faces placed by M, then by the body's matrix.
    // For the duration of the walk the body's collision names the wrapped
    // shape and the wrapped shape's offset matrix is replaced by M (times the
    // placement an enclosing modifier gave this one); both are restored
    // afterwards.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // The wrapped shape's ray cast on the segment carried through the
    // inverse; t is unchanged by the affine map. On a hit the normal is the
    // unit outward normal of the deformed surface in the modifier's space
    // (w = 0) and the user id the modifier's.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // The wrapped shape's volume times the volume scale.
    float getVolume() const override;
    // The wrapped shape's submerged part under the plane carried into its
    // space, mapped back through M (centroid) and the volume scale (volume).
    // Without a plane the whole shape is submerged.
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;
    dgMatrix getModifierMatrix() const override;
    // Stores the affine part of matrix as M, with its inverse and
    // determinant. A singular, mirroring (negative determinant) or
    // non-finite matrix, or one that deforms the shape beyond what float
    // volumes, centres and inertias express, is refused and leaves the shape
    // unchanged, its previous matrix in place.
    void setModifierMatrix(const dgMatrix& matrix) override;
    // 0: modifiers are never cached.
    uint32_t calcSignature() const override;

    // ---- dgConvexCollision interface ----

    // M applied to the wrapped shape's support along M's rotation rows dotted
    // with direction, normalised (w = 1).
    dgVector supportVertex(const dgVector& direction) const override;
    // The wrapped shape's contour of the plane carried into its space,
    // mapped back through M. Same capacity contract as the base.
    int32_t calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                  dgVector* points) const override;

    // ---- non-virtual ----

    const dgMatrix& getInverseMatrix() const { return m_inverseMatrix; }
    // Determinant of M.
    float getVolumeScale() const { return m_volumeScale; }
    dgConvexCollision* getWrapped() const { return m_wrapped; }
    dgWorld* getWorld() const { return m_world; }

    // Inverse and determinant of the affine matrix m (its w column is read as
    // (0, 0, 0, 1)) by Gauss-Jordan elimination without row exchanges: a pivot
    // below 0.001 first takes in the first row beneath it whose entry in that
    // column exceeds 0.001. False, outputs untouched, when m is singular or
    // the result is not finite.
    static bool invertAffine(const dgMatrix& m, dgMatrix& inverse, float& determinant);

private:
    // The cast proper, on the part of the segment rayCast clipped to the
    // local box.
    float castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const;
    // Local box and centre of mass of the deformed shape, for the convex
    // base's readers.
    void updateLocalState();

    dgMatrix m_modifierMatrix;
    dgMatrix m_inverseMatrix;
    dgWorld* m_world;
    dgConvexCollision* m_wrapped;
    float m_volumeScale;
};

// A modifier around shape, with the identity matrix, or null when shape is
// not a convex shape or is the null shape (compounds are not convex). Never
// entered in the collision cache; the caller owns the one reference.
dgCollision* dgWorldCreateConvexModifier(dgWorld* world, dgCollision* shape);

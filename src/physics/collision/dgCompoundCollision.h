// A shape made of an ordered list of child shapes, each placed in the
// compound's space by the child's own offset matrix: several convex pieces
// acting as one body's shape. The vehicle uses the compound of its chassis as
// the container of its tires (flag bit 1 set), adding and removing one child
// per tire.
//
// The compound has no geometry of its own; every query loops over the
// children. The contact pipeline recognises a compound by its class identity
// and then works child by child on the per-child global matrices and boxes
// kept here, which calcAABB refreshes.
//
// Ownership: the compound holds one reference to each child and drops it
// through dgWorldReleaseCollision of the world that created it (a compound
// built without a world releases its children directly). Compounds are never
// shared through the collision cache (signature 0). Storage of the object from
// the block cache; the three per-child arrays live in one dgMalloc block of
// capacity x kSlotBytes bytes (matrices, then boxes, then child pointers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgAssert.h"
#include "dgCollision.h"

class dgWorld;

class dgCompoundCollision : public dgCollision {
    DG_DECLARE_CLASS(dgCompoundCollision, dgCollision)

public:
    // Bytes of one child slot: its global matrix, its box (minimum, maximum)
    // and its pointer.
    static constexpr size_t kSlotBytes = sizeof(dgMatrix) + 2 * sizeof(dgVector) + sizeof(dgCollision*);
    // Slots made by the first growth of a compound that has none.
    static constexpr int32_t kFirstCapacity = 4;

    // Signature 0, identity offset, type 6. Takes count children in order,
    // adding one reference to each; null entries are skipped. A negative
    // count or a null array gives an empty compound. When the slot block
    // cannot be allocated the compound starts empty (no reference taken).
    // Each slot starts with the child's offset matrix and the child's box
    // under it, as if the compound stood at the origin. world may be null.
    dgCompoundCollision(int32_t count, dgCollision* const* children, dgWorld* world);
    // Releases every child in index order, then frees the slot block.
    ~dgCompoundCollision() override;

    // ---- dgCollision interface ----

    // Ignored.
    void setCollisionBBox(const dgVector& boxMin, const dgVector& boxMax) override;
    // Union of the children's boxes and the matrix position (so the box
    // always holds the compound's origin); w of both is the position's w.
    // Stores each child's global matrix (child offset x matrix) and box in
    // its slot: the call that refreshes the per-child state.
    void calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const override;
    // The children's faces in order, each placed by its own offset and the
    // body's matrix. The body's collision names the child that owns each
    // face for the duration of that child's walk and is restored afterwards.
    // Returns the sum of the children's results.
    int32_t forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const override;
    // Nearest hit over the children (p0, p1 in the compound's space). The
    // prefilter is asked once per child with the compound as the shape; 0
    // skips that child. On a hit the child's contact record is copied out
    // with its normal rotated into the compound's space (w = 1); on a miss
    // the record is untouched and kRayMiss returned.
    float rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                  dgCollisionRayPrefilter prefilter, const dgBody* body, void* userData) const override;
    // Plain sum of the children's volumes (overlaps count twice).
    float getVolume() const override;
    // Mass properties of the union of the children's faces (overlaps count
    // twice), in the compound's space: inertia per unit mass about the
    // combined centre of mass, and that centre. w of both untouched.
    void calcInertia(dgVector& inertia, dgVector& origin) const override;
    // Volume-weighted centroid and total volume of the children's submerged
    // parts, each child placed by child offset x matrix. (0, 0, 0, 0) with no
    // children.
    dgVector calcSubmergedVolume(const dgMatrix& matrix, dgCollisionFluidPlaneCallback callback,
                                 void* context) const override;
    // 0: compounds are never cached.
    uint32_t calcSignature() const override;

    // ---- children ----

    // Appends child and adds a reference, growing the slot block when full
    // (capacity doubles). Refuses (false, nothing changed) a null child, the
    // compound itself, a child that holds the compound at any depth (through
    // compounds and modifiers; it would close a loop), or a growth that
    // cannot be allocated.
    bool addChild(dgCollision* child);
    // Removes the first slot holding child: releases the compound's reference
    // through the world, then moves the last slot (box, pointer, matrix) into
    // the freed one. False, nothing changed, when child is not held. The
    // capacity never shrinks.
    bool removeChild(dgCollision* child);

    // True when target is shape or lies inside it at any depth, through the
    // children of compounds and the shapes modifiers wrap. *complete is false
    // when the walk ran out of memory before it could decide (the answer is
    // then false). Iterative: the nesting may be deep.
    static bool reaches(const dgCollision* shape, const dgCollision* target, bool* complete);

    int32_t getChildCount() const { return m_count; }
    int32_t getCapacity() const { return m_capacity; }
    // index in [0, getChildCount()).
    dgCollision* getChild(int32_t index) const {
        DG_ASSERT((index >= 0) && (index < m_count));
        return m_children[index];
    }
    // The child's global matrix and box (world minimum, maximum) as left by
    // the last calcAABB.
    const dgMatrix& getChildMatrix(int32_t index) const {
        DG_ASSERT((index >= 0) && (index < m_count));
        return m_matrices[index];
    }
    const dgVector& getChildBoxMin(int32_t index) const {
        DG_ASSERT((index >= 0) && (index < m_count));
        return m_boxes[2 * index];
    }
    const dgVector& getChildBoxMax(int32_t index) const {
        DG_ASSERT((index >= 0) && (index < m_count));
        return m_boxes[2 * index + 1];
    }
    // The flat per-child arrays for the contact pipeline: getChildCount()
    // matrices, and pairs (minimum, maximum) of boxes, which the body's swept
    // bounds may widen.
    dgMatrix* getChildMatrices() const { return m_matrices; }
    dgVector* getChildBoxes() const { return m_boxes; }
    dgWorld* getWorld() const { return m_world; }

private:
    // Moves the used slots into a block of newCapacity slots; false (nothing
    // changed) when it cannot be allocated or expressed.
    bool reserve(int32_t newCapacity);
    // Fills slot index for child with the compound at the origin.
    void initSlot(int32_t index, dgCollision* child);
    // Drops the compound's reference of child through the world.
    void releaseChild(dgCollision* child) const;

    int32_t m_count;
    int32_t m_capacity;
    dgVector* m_boxes;
    dgWorld* m_world;
    dgCollision** m_children;
    // Start of the slot block.
    dgMatrix* m_matrices;
};

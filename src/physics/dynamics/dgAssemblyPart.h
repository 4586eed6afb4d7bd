// One part of a body hierarchy: a node of the assembly's tree standing for
// one rigid body, joined to its parent part's body by a ball joint.
//
// The tree owns its parts (dgBaseNode's references: the first-child and
// next-sibling links, and the assembly's root). A part owns its body: when
// the part goes, its body is destroyed through the world (at the end of the
// sub-step during an update), after the body's links to the part were cut so
// that nothing the world still does with the body reaches the part.
#pragma once

#include <cstdint>

#include "dgBaseNode.h"
#include "dgMatrix.h"
#include "dgVector.h"

class dgAssembly;
class dgBallJoint;
class dgBody;

class dgAssemblyPart : public dgBaseNode {
    DG_DECLARE_CLASS(dgAssemblyPart, dgBaseNode)

public:
    // One reference (the creator's), no body or joint yet; pivot
    // (sizeX / 2, 0, 0, 1).
    dgAssemblyPart(dgAssembly* assembly, void* userData, float sizeX);
    // Cuts the body's links to the part and destroys the body; the children
    // go with dgBaseNode's destructor.
    ~dgAssemblyPart() override;

    // A copy of the node and its subtree sharing body, joint and assembly is
    // not something a hierarchy can use (two parts would own one body):
    // parts are never cloned.
    dgRef* clone() const override { return nullptr; }

    // The part's frame in the world: the body matrix with its position moved
    // back by the body's rotation of the pivot. The identity without a body.
    dgMatrix globalMatrix() const;
    // globalMatrix() x the inverse of the parent's (the identity for the root).
    dgMatrix localMatrix() const;
    // Sets the body's matrix from the part's frame in the world.
    void place(const dgMatrix& global);

    // The search key (dgAssemblyFindPart).
    void setKey(uint32_t key) { setNameId(key); }

    // The part's joint when it is still the ball joint between the parent's
    // body and this part's body (the caller may have destroyed either); null
    // otherwise.
    dgBallJoint* liveJoint() const;

    // ---- fields, in record order (after the node's) ----

    // Where the body's origin lies in the part's own frame, whose origin is
    // the joint point; w = 1.
    dgVector m_pivot;
    // Null once the caller destroyed the body.
    dgBody* m_body;
    dgAssembly* m_assembly;
    // The ball joint to the parent's body; null for the root. Checked by
    // liveJoint before use.
    dgBallJoint* m_joint;
    void* m_userData;
};

// Inertia (Ixx, Iyy, Izz) of a part of mass and size: a box's at 0.7 of its
// mass, the two smaller values raised to at least 0.33 x the largest (a value
// equal to that floor kept).
dgVector dgAssemblyPartInertia(float mass, const float* size);

// The world is destroying the body: the part lets go of it and of the joints
// that go with it (its own and its children's).
void dgAssemblyPartBodyGone(dgAssemblyPart* part);

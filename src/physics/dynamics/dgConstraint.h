// The base of every joint (the contact joint and the two-body joints), and the
// link records that chain a joint into the joint rings of its two bodies.
//
// A joint links body0 (never null) with body1 (null: the static world). The
// world takes joints from its page lists, attaches them to their bodies with
// dgWorldAttachConstraint and destroys them through their release operation.
#pragma once

#include <cstdint>

#include "dgPhysics.h"

class dgBody;
class dgConstraint;
struct dgJointRowBlock;

// Joint type ids. User joints take dgJointTypeDefault plus their type offset.
enum dgJointType : uint16_t {
    dgJointTypeBall = 0,
    dgJointTypeHinge = 1,
    dgJointTypeSlider = 2,
    dgJointTypeContact = 3,
    dgJointTypeUpVector = 4,
    dgJointTypeUniversal = 5,
    dgJointTypeCorkscrew = 6,
    dgJointTypeVehicle = 8,
    dgJointTypeDefault = 9,
};

// Called with the joint when it is destroyed: the public header's
// dgJointDestructorCallback.
typedef dgJointDestructorCallback dgConstraintDestructorCallback;

// One end of a joint: the world takes two from its link pages per joint, one
// for each body. Links of one body form a circular doubly linked ring whose
// head is dgBody::m_jointRing.
class dgJointLink {
public:
    // The other end's body (null when the joint is linked to the world).
    dgBody* getOtherBody() const { return m_partner->m_body; }

    // The link of the same joint at the other body.
    dgJointLink* m_partner;
    dgConstraint* m_joint;
    // The body whose ring holds this link (null for the second link of a
    // joint with the static world: that link is in no ring).
    dgBody* m_body;
    // Neighbours in the ring of m_body.
    dgJointLink* m_next;
    dgJointLink* m_prev;
};

class dgConstraint {
public:
    // ---- virtual operations, in slot order ----
    virtual void setDestructorCallback(dgConstraintDestructorCallback callback) = 0;
    // 1.0 for joints without a stiffness of their own.
    virtual float getStiffness() const;
    // Does nothing for joints without a stiffness of their own.
    virtual void setStiffness(float stiffness);
    // Header reset: bodies, user data and link null, max rows 6, collision
    // state 0, stale flag 0, type dgJointTypeDefault.
    virtual void reset();
    virtual ~dgConstraint();
    // Called when the joint is destroyed.
    virtual void release() = 0;
    // True for joints that tie two bodies together (pair exclusion and the
    // jointed-body walk follow them); false for contacts.
    virtual bool isBilateral() const;
    virtual float queryValue() const;
    // Fills rows 0 .. count-1 of the block for this step and returns count
    // (at most m_maxRows and dgJointRowBlock::kMaxRows). The solver has reset
    // the first m_maxRows bound records before the call.
    virtual int32_t submitRows(dgJointRowBlock& block) = 0;

    // ---- fields, in record order ----
    dgBody* m_body0;
    dgBody* m_body1;
    // The application's value.
    void* m_userData;
    // This joint's link in body0's ring.
    dgJointLink* m_link;
    // Step stamp of the island that last took the joint.
    uint64_t m_islandStamp;
    // Upper bound on the rows the joint writes per step. For a contact joint
    // 3 x its active points (3 when new).
    uint16_t m_maxRows;
    // dgJointType.
    uint16_t m_typeId;
    // 1: the two linked bodies still collide with each other.
    uint8_t m_collisionState;
    // 1 once a contact joint was found stale and queued for destruction.
    uint8_t m_staleFlag;
    // Order of attachment among the world's joints, from 1 (0 until attached):
    // the joint's key in the deferred-destruction set, so that a sub-step's
    // deferred joints go in the same order in every world and run. 64 bits:
    // contacts come and go fast enough to wrap 32.
    uint64_t m_serial;

protected:
    // Header reset; island stamp 0.
    dgConstraint();
    dgConstraint(const dgConstraint&) = delete;
    dgConstraint& operator=(const dgConstraint&) = delete;

    void resetHeader();
};

inline uintptr_t dgJointKey(const dgConstraint* joint) {
    return uintptr_t(joint->m_serial);
}

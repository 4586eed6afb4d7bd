// The contact joint of a pair of touching bodies: the list of the pair's
// contact points, each a dgMaterialPair record holding the point, its normal,
// local positions, friction frame and material values.
//
// The contact pass makes the joint for a pair's first points (dgNewContact),
// links it to both bodies and merges new points into its list step by step;
// list nodes are reused, never removed while the joint lives. The first
// m_pointCount nodes are the current points.
//
// Normals point from body1 towards body0: a positive normal row force pushes
// body0 along the normal and body1 against it.
#pragma once

#include <cstdint>

#include "dgConstraint.h"
#include "dgJointRowBlock.h"
#include "dgMaterialPair.h"
#include "dgRefList.h"

class dgContact;
class dgWorld;

// The contact points of one joint. Nodes come from one pool shared by every
// contact joint (4 KB pages).
typedef dgRefList<dgMaterialPair> dgContactPointList;
// A list of contact joints held by the world (all of them; the stale queue).
typedef dgRefList<dgContact*> dgContactList;

// A pair's material values as the points hold them: user data, the six
// coefficients' bit patterns (softness, elasticity, static and kinetic
// frictions in record order) and the pair's collidable and friction bits.
struct dgContactMaterialCopy {
    void* m_userData;
    uint32_t m_coefficients[6];
    uint32_t m_pairFlags;
};

class dgContact : public dgConstraint {
public:
    // Placed in a slot of the world's contact pages by dgNewContact.
    dgContact();
    // Empties the point list.
    ~dgContact() override;

    // Contacts have no destructor callback: does nothing.
    void setDestructorCallback(dgConstraintDestructorCallback callback) override;
    // Empties the point list and takes the joint out of the world's list of
    // contact joints. The storage stays with the world's contact pages.
    void release() override;
    // dgContactSubmitRows.
    int32_t submitRows(dgJointRowBlock& block) override;

    // ---- fields, in record order (after dgConstraint's) ----
    dgContactPointList m_points;
    // This joint's node in the world's list of contact joints.
    dgContactList::Node* m_worldEntry;
    // Step stamp of the last merge or refresh of the points; 0 when new.
    uint64_t m_refreshStamp;
    // Current points: the first m_pointCount nodes of m_points.
    int32_t m_pointCount;
    // The material values last copied into the first m_materialPoints points
    // with no process callback to change them after; 0 when not known. A
    // refresh finding the pair's values unchanged has nothing to copy, and
    // leaves the points' cache lines alone until the solver reads them.
    dgContactMaterialCopy m_materialCopy;
    int32_t m_materialPoints;
};

// A contact joint from the world's contact pages, entered in the world's list
// of contact joints: type dgJointTypeContact, max rows 3, refresh stamp 0,
// collision state 1, no points. Not yet linked to bodies (the contact pass
// does that with dgWorldAttachConstraint). Null when no page can be had.
dgContact* dgNewContact(dgWorld* world);

struct dgPointKinematics;

// Speed along a friction direction up to which the static coefficient holds.
constexpr float dgContactStaticFrictionSpeed = 0.3f;
// Approach speed above which a contact's normal row adds its restitution.
constexpr float dgContactElasticSpeed = 0.001f;
// Deepest penetration a normal row pushes out, and its gain per softness.
constexpr float dgContactMaxPenetration = 0.5f;
constexpr float dgContactPenetrationGain = 10.0f;

// The rows of the current points: a one-sided normal row per point (rows
// 0 .. n-1, n the point count), then each point's friction rows in point
// order. Returns the row count. Rows stop at the joint's max rows (three per
// point, set by the merge) and at dgJointRowBlock::kMaxRows: a point whose
// normal row does not fit is left out with its friction rows, a friction row
// that does not fit is left out (both asserted).
int32_t dgContactSubmitRows(dgContact* contact, dgJointRowBlock& block);

// Row's Jacobian along direction at the point of kinematics: (d, r0 x d) for
// body0, (-d, d x r1) for body1, fourth components 0.
void dgContactSetJacobian(const dgContact* contact, int32_t row, dgJointRowBlock& block, const dgVector& direction,
                          const dgPointKinematics& kinematics);

// Normal row `normalRow` of point, and its friction rows from row next on.
// Every row written gets its whole bound record and regulariser: the solver
// resets only the first max-rows records, so nothing may be inherited from
// the joint solved before. Returns the next free row.
int32_t dgContactPointRows(dgContact* contact, dgJointRowBlock& block, dgMaterialPair& point, int32_t normalRow,
                           int32_t next);

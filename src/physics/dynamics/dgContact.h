// The contact joint of a pair of touching bodies: the list of the pair's
// contact points, each a dgMaterialPair record holding the point, its normal,
// local positions, friction frame and material values.
//
// The contact pass makes the joint for a pair's first points (dgNewContact),
// links it to both bodies and merges new points into its list step by step;
// list nodes are reused, never removed while the joint lives. The first
// m_pointCount nodes are the current points.
#pragma once

#include <cstdint>

#include "dgConstraint.h"
#include "dgMaterialPair.h"
#include "dgRefList.h"

class dgContact;
class dgWorld;

// The contact points of one joint. Nodes come from one pool shared by every
// contact joint (4 KB pages).
typedef dgRefList<dgMaterialPair> dgContactPointList;
// A list of contact joints held by the world (all of them; the stale queue).
typedef dgRefList<dgContact*> dgContactList;

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

    // ---- fields, in record order (after dgConstraint's) ----
    dgContactPointList m_points;
    // This joint's node in the world's list of contact joints.
    dgContactList::Node* m_worldEntry;
    // Step stamp of the last merge or refresh of the points; 0 when new.
    uint64_t m_refreshStamp;
    // Current points: the first m_pointCount nodes of m_points.
    int32_t m_pointCount;
};

// A contact joint from the world's contact pages, entered in the world's list
// of contact joints: type dgJointTypeContact, max rows 3, refresh stamp 0,
// collision state 1, no points. Not yet linked to bodies (the contact pass
// does that with dgWorldAttachConstraint). Null when no page can be had.
dgContact* dgNewContact(dgWorld* world);

#include "dgContact.h"

#include <cmath>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgJointRows.h"
#include "dgPrefetch.h"
#include "dgWorld.h"

dgContact::dgContact()
    : m_points(), m_worldEntry(nullptr), m_refreshStamp(0), m_pointCount(0), m_materialCopy(), m_materialPoints(0) {}

dgContact::~dgContact() {
    m_points.removeAll();
}

void dgContact::setDestructorCallback(dgConstraintDestructorCallback) {}

void dgContact::release() {
    m_points.removeAll();
    m_pointCount = 0;
    m_materialPoints = 0;
    if (m_worldEntry) {
        dgWorld* world = m_body0->m_world;
        world->m_contactList.remove(m_worldEntry);
        m_worldEntry = nullptr;
    }
}

dgContact* dgNewContact(dgWorld* world) {
    void* storage = world->m_contactPages.take();
    if (!storage) {
        return nullptr;
    }
    dgContact* contact = ::new (storage) dgContact();
    contact->m_worldEntry = world->m_contactList.append(contact);
    contact->reset();
    contact->m_maxRows = 3;
    contact->m_refreshStamp = 0;
    contact->m_collisionState = 1;
    contact->m_typeId = dgJointTypeContact;
    contact->m_pointCount = 0;
    contact->m_materialPoints = 0;
    return contact;
}

int32_t dgContact::submitRows(dgJointRowBlock& block) {
    return dgContactSubmitRows(this, block);
}

namespace {

int32_t rowLimit(const dgContact* contact) {
    return dgMin(int32_t(contact->m_maxRows), dgJointRowBlock::kMaxRows);
}

// A friction row of point along one of its directions, tied to normal row
// normalRow.
void frictionRow(dgContact* contact, dgJointRowBlock& block, int32_t row, int32_t normalRow,
                 const dgPointKinematics& kinematics, const dgVector& direction, bool userAcceleration,
                 float staticFriction, float kineticFriction, float* forceSlot) {
    dgContactSetJacobian(contact, row, block, direction, kinematics);
    const float slip = kinematics.m_veloc1.sub(kinematics.m_veloc0).dot(direction);
    block.rightHandSides[row] = userAcceleration ? *forceSlot : slip * block.invTimestep;
    block.regularisers[row] = 1.0f;
    const float coefficient = (std::fabs(slip) <= dgContactStaticFrictionSpeed) ? staticFriction : kineticFriction;
    dgJointRowBound& bound = block.bounds[row];
    bound.lower = -coefficient;
    bound.upper = coefficient;
    bound.normalIndex = normalRow;
    bound.forceSlot = forceSlot;
}

}  // namespace

void dgContactSetJacobian(const dgContact* contact, int32_t row, dgJointRowBlock& block, const dgVector& direction,
                          const dgPointKinematics& kinematics) {
    dgJointSetLinearJacobian(contact, row, block, direction, kinematics);
}

int32_t dgContactPointRows(dgContact* contact, dgJointRowBlock& block, dgMaterialPair& point, int32_t normalRow,
                           int32_t next) {
    if (!dgJointRowAccepted(contact, normalRow)) {
        return next;
    }
    dgPointKinematics kinematics;
    dgJointPointKinematics(contact, point.point, 1.0f, kinematics);
    const dgVector relativeVeloc(kinematics.m_veloc1.sub(kinematics.m_veloc0));

    dgContactSetJacobian(contact, normalRow, block, point.normal, kinematics);
    const float approach = relativeVeloc.dot(point.normal);
    // The row cancels the approach and asks for a separating speed: the
    // penetration push, or the rebound when that is faster. Adding the two
    // would feed the push into every bounce and a perfectly elastic body
    // would climb higher each time.
    float separation =
        dgMin(point.penetration, dgContactMaxPenetration) * point.m_softness * dgContactPenetrationGain;
    if (approach > dgContactElasticSpeed) {
        separation = dgMax(separation, approach * point.m_elasticity);
    }
    float accel = (approach + separation) * block.invTimestep;
    if (point.m_flags & dgMaterialFlagNormalAccel) {
        accel += point.m_normalAcceleration;
    }
    block.rightHandSides[normalRow] = accel;
    block.regularisers[normalRow] = 1.0f;
    dgJointRowBound& bound = block.bounds[normalRow];
    bound.lower = 0.0f;
    bound.upper = dgJointRowMaxBound;
    bound.normalIndex = dgRowOneSided;
    bound.forceSlot = &point.m_normalAcceleration;

    if ((point.m_flags & dgMaterialFlagFriction0) && dgJointRowAccepted(contact, next)) {
        frictionRow(contact, block, next, normalRow, kinematics, point.m_tangentDir0,
                    (point.m_flags & dgMaterialFlagTangentAccel0) != 0, point.m_staticFriction0,
                    point.m_kineticFriction0, &point.m_tangentAcceleration0);
        ++next;
    }
    if ((point.m_flags & dgMaterialFlagFriction1) && dgJointRowAccepted(contact, next)) {
        frictionRow(contact, block, next, normalRow, kinematics, point.m_tangentDir1,
                    (point.m_flags & dgMaterialFlagTangentAccel1) != 0, point.m_staticFriction1,
                    point.m_kineticFriction1, &point.m_tangentAcceleration1);
        ++next;
    }
    return next;
}

int32_t dgContactSubmitRows(dgContact* contact, dgJointRowBlock& block) {
    const int32_t count = contact->m_pointCount;
    DG_ASSERT(count <= contact->m_points.getCount());
    int32_t next = count;
    dgContactPointList::Node* node = contact->m_points.getFirst();
    for (int32_t i = 0; (i < count) && node; ++i) {
        dgContactPointList::Node* const following = node->getNext();
        // The next point is asked for while this one's rows are made.
        if (i + 1 < count) {
            dgPrefetchObject(following);
        }
        next = dgContactPointRows(contact, block, node->getValue(), i, next);
        node = following;
    }
    return dgMin(next, rowLimit(contact));
}

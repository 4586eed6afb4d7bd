#include "dgContactPersistence.h"

#include <cmath>
#include <cstring>

#include "dgCollision.h"
#include "dgDynamicsServices.h"
#include "dgMaterialPair.h"
#include "dgPrefetch.h"

namespace {

typedef dgContactPointList::Node dgContactNode;

// A point deeper than this is still being pushed apart: regenerate.
constexpr float kRestingPenetration = 0.0005f;
// Squared distance between the two bodies' copies of a point beyond which
// the bodies have slid against each other.
constexpr float kDriftDist2 = 1.0e-6f;
// Squared distance from the line through the patch beyond which a point
// makes the patch two-dimensional.
constexpr float kLineDist2 = 1.0e-4f;
// Share of the smaller body's size a patch must reach off that line. A body
// turning about a patch moves the patch's points by the turn times their
// distance from the axis, and its far side by the turn times its size: about
// a patch this wide it goes at most eight drift allowances (8 mm) into the
// other body before some point drifts, about a few points at one corner by
// decimetres.
constexpr float kPatchWidthShare = 0.25f;
// An inactive node this near (squared) to a new point is taken at once.
constexpr float kSameNodeDist2 = 1.0e-6f;
// Squared sliding speed from which the first friction direction follows the
// slide.
constexpr float kSlideSpeed2 = 0.01f;
// |n.z| above which the fallback friction frame is built off the z axis.
constexpr float kFrameAxisCos = 0.577f;

// The material values and flags every point of the pair starts with: the
// collidable and friction bits follow the pair, the accelerations a callback
// gave last time are forgotten, other bits stay.
constexpr uint32_t kPairFlags = dgMaterialFlagCollidable | dgMaterialFlagFriction0 | dgMaterialFlagFriction1;
constexpr uint32_t kAccelFlags = dgMaterialFlagTangentAccel0 | dgMaterialFlagTangentAccel1 | dgMaterialFlagNormalAccel;

void copyMaterialValues(dgMaterialPair& point, const dgMaterialPair& material) {
    point.m_userData = material.m_userData;
    point.m_softness = material.m_softness;
    point.m_elasticity = material.m_elasticity;
    point.m_staticFriction0 = material.m_staticFriction0;
    point.m_staticFriction1 = material.m_staticFriction1;
    point.m_kineticFriction0 = material.m_kineticFriction0;
    point.m_kineticFriction1 = material.m_kineticFriction1;
    point.m_flags = (point.m_flags & ~(kPairFlags | kAccelFlags)) | (material.m_flags & kPairFlags);
}

// The values copyMaterialValues gives a point, bit for bit.
dgContactMaterialCopy materialCopyOf(const dgMaterialPair& material) {
    dgContactMaterialCopy copy;
    copy.m_userData = material.m_userData;
    const float coefficients[6] = {material.m_softness,        material.m_elasticity,
                                   material.m_staticFriction0, material.m_staticFriction1,
                                   material.m_kineticFriction0, material.m_kineticFriction1};
    static_assert(sizeof(coefficients) == sizeof(copy.m_coefficients), "one bit pattern per coefficient");
    std::memcpy(copy.m_coefficients, coefficients, sizeof(coefficients));
    copy.m_pairFlags = material.m_flags & kPairFlags;
    return copy;
}

bool sameMaterialCopy(const dgContactMaterialCopy& a, const dgContactMaterialCopy& b) {
    return (a.m_userData == b.m_userData) && (a.m_pairFlags == b.m_pairFlags) &&
           (std::memcmp(a.m_coefficients, b.m_coefficients, sizeof(a.m_coefficients)) == 0);
}

// Notes what the joint's first count points were just given; a process
// callback may have changed them since, so with one nothing is noted.
void noteMaterialCopy(dgContact* joint, const dgMaterialPair& material, int32_t count) {
    if (material.m_process) {
        joint->m_materialPoints = 0;
        return;
    }
    joint->m_materialCopy = materialCopyOf(material);
    joint->m_materialPoints = count;
}

bool resting(const dgBody* body) {
    return (body->m_flags & dgBodyFlagEquilibrium) != 0;
}

// Vehicle bodies gather their tire contacts every step: never at rest here.
bool wakeVehicle(dgBody* body) {
    if (body->m_collision && (body->m_collision->getFlags() & dgShapeFlagVehicle)) {
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
        return true;
    }
    return false;
}

// The largest extent of the smaller of the two bodies' boxes: only within
// it can a turning body go into the other.
float smallerSize(const dgBody* a, const dgBody* b) {
    auto size = [](const dgBody* body) {
        const dgVector extent = body->m_maxAABB - body->m_minAABB;
        return dgMax(extent.x, dgMax(extent.y, extent.z));
    };
    return dgMin(size(a), size(b));
}

// True when every one of the first count points lies within sqrt(lineDist2)
// of one line (coincident points included).
bool collinear(const dgContactNode* first, int32_t count, float lineDist2) {
    const dgVector p0 = first->getValue().point;
    float farDist2 = 0.0f;
    dgVector far = p0;
    const dgContactNode* node = first->getNext();
    for (int32_t i = 1; i < count; ++i, node = node->getNext()) {
        const dgVector d = node->getValue().point - p0;
        const float dist2 = d.dot(d);
        if (dist2 > farDist2) {
            farDist2 = dist2;
            far = node->getValue().point;
        }
    }
    if (farDist2 == 0.0f) {
        // All at one place: no line to measure against.
        return true;
    }
    const dgVector axis = far - p0;
    const float invAxis2 = 1.0f / farDist2;
    node = first->getNext();
    for (int32_t i = 1; i < count; ++i, node = node->getNext()) {
        const dgVector d = node->getValue().point - p0;
        const dgVector offLine = d - axis * (d.dot(axis) * invAxis2);
        if (offLine.dot(offLine) > lineDist2) {
            return false;
        }
    }
    return true;
}

// The first friction direction: along the slide when the bodies slide,
// otherwise a fixed direction across the normal.
dgVector frictionDirection(const dgVector& normal, const dgBody* body0, const dgBody* body1, const dgVector& r0,
                           const dgVector& r1) {
    const dgVector v0 = body0->m_veloc + body0->m_omega.cross(r0);
    const dgVector v1 = body1->m_veloc + body1->m_omega.cross(r1);
    const dgVector v = v1 - v0;
    const dgVector slide = v - normal * v.dot(normal);
    const float slide2 = slide.dot(slide);
    if (slide2 > kSlideSpeed2) {
        const dgVector dir = slide * (1.0f / std::sqrt(slide2));
        return dgVector(dir.x, dir.y, dir.z, 0.0f);
    }
    const float c = (std::fabs(normal.z) > kFrameAxisCos) ? normal.z : normal.x;
    const dgVector across = normal.cross(dgVector(-normal.y, c, 0.0f, 0.0f));
    const dgVector dir = across * (1.0f / std::sqrt(across.dot(across)));
    return dgVector(dir.x, dir.y, dir.z, 0.0f);
}

// The inactive node (among the last inactiveCount) nearest to p, searched
// from the tail; stops at the first one close enough to be the same point.
dgContactNode* nearestInactive(const dgContactPointList& list, int32_t inactiveCount, const dgVector& p) {
    dgContactNode* best = nullptr;
    float bestDist2 = 0.0f;
    dgContactNode* node = list.getLast();
    for (int32_t i = 0; i < inactiveCount; ++i, node = node->getPrev()) {
        const dgVector d = node->getValue().point - p;
        const float dist2 = d.dot(d);
        if (!best || (dist2 < bestDist2)) {
            best = node;
            bestDist2 = dist2;
            if (bestDist2 < kSameNodeDist2) {
                break;
            }
        }
    }
    return best;
}

// A new joint for the pair, linked to both bodies; null when there is no
// room for it.
dgContact* newPairContact(dgWorld* world, dgBody* body0, dgBody* body1) {
    dgContact* joint = dgNewContact(world);
    if (!joint) {
        return nullptr;
    }
    if (!dgWorldAttachConstraint(world, joint, body0, body1)) {
        // Back to the pages as dgNewContact found them.
        world->m_contactList.remove(joint->m_worldEntry);
        joint->m_worldEntry = nullptr;
        joint->~dgContact();
        world->m_contactPages.give(joint);
        return nullptr;
    }
    return joint;
}

// The pair's contact joint, null when it has none. A pair has at most one,
// linked into both bodies' rings; the ground's ring holds a link for every
// body touching it, so both rings are walked side by side and the search ends
// with the shorter.
dgContact* pairContact(const dgBody* a, const dgBody* b) {
    const dgJointLink* const headA = a->m_jointRing;
    const dgJointLink* const headB = b->m_jointRing;
    if (!headA || !headB) {
        return nullptr;
    }
    auto contactWith = [](const dgJointLink* link, const dgBody* other) {
        return (link->getOtherBody() == other) && (link->m_joint->m_typeId == dgJointTypeContact);
    };
    const dgJointLink* linkA = headA;
    const dgJointLink* linkB = headB;
    do {
        if (contactWith(linkA, b)) {
            return static_cast<dgContact*>(linkA->m_joint);
        }
        if (contactWith(linkB, a)) {
            return static_cast<dgContact*>(linkB->m_joint);
        }
        linkA = linkA->m_next;
        linkB = linkB->m_next;
    } while ((linkA != headA) && (linkB != headB));
    return nullptr;
}

}  // namespace

int32_t dgWorldReuseContacts(dgBody* a, dgBody* b, dgContact** outJoint) {
    DG_ASSERT(a && b && outJoint);
    dgContact* const joint = pairContact(a, b);
    *outJoint = joint;

    const bool vehicleA = wakeVehicle(a);
    const bool vehicleB = wakeVehicle(b);
    if (vehicleA || vehicleB || !joint) {
        return 0;
    }

    const dgContactPointList& list = joint->m_points;
    // The row count may say more than the list holds (3 rows for a joint
    // that never kept a point).
    int32_t count = int32_t(joint->m_maxRows) / dgContactRowsPerPoint;
    if (count > list.getCount()) {
        count = list.getCount();
    }
    const bool bothResting = resting(a) && resting(b);
    if ((joint->m_maxRows < 3 * dgContactRowsPerPoint) || !count) {
        return bothResting ? count : 0;
    }
    if (bothResting) {
        return count;
    }

    const dgMatrix& matrix0 = joint->m_body0->m_matrix;
    const dgMatrix& matrix1 = joint->m_body1->m_matrix;
    dgContactNode* node = list.getFirst();
    for (int32_t i = 0; i < count; ++i, node = node->getNext()) {
        dgMaterialPair& point = node->getValue();
        if (point.penetration > kRestingPenetration) {
            return 0;
        }
        const dgVector p0 = matrix0.transformVector(point.localPoint0);
        const dgVector p1 = matrix1.transformVector(point.localPoint1);
        point.point = (p0 + p1) * 0.5f;
        const dgVector drift = p1 - p0;
        if (drift.dot(drift) > kDriftDist2) {
            return 0;
        }
    }
    // Points on one line hold no patch the bodies can rest on, nor do points
    // in a band much narrower than the bodies.
    const float width = kPatchWidthShare * smallerSize(a, b);
    const float lineDist2 = dgMax(kLineDist2, width * width);
    return collinear(list.getFirst(), count, lineDist2) ? 0 : count;
}

void dgWorldPrefetchContacts(const dgContact* joint) {
    if (joint) {
        dgPrefetchObject(joint->m_points.getLast());
    }
}

void dgWorldRefreshContacts(dgWorld* world, dgContact* joint, dgMaterialPair* material, int32_t count) {
    DG_ASSERT(joint && material && (count <= joint->m_points.getCount()));
    if (count > joint->m_points.getCount()) {
        count = joint->m_points.getCount();
    }
    joint->m_pointCount = count;
    joint->m_refreshStamp = world->m_stepStamp;
    // The copy would write what the points already hold (and no accelerations
    // are left to forget, there being no callback to give them).
    if (!material->m_process && (count <= joint->m_materialPoints) &&
        sameMaterialCopy(joint->m_materialCopy, materialCopyOf(*material))) {
        return;
    }
    dgContactNode* node = joint->m_points.getFirst();
    for (int32_t i = 0; i < count; ++i, node = node->getNext()) {
        dgMaterialPair& point = node->getValue();
        copyMaterialValues(point, *material);
        if (material->m_process) {
            // These points were accepted before: they stay whatever the
            // callback answers.
            material->m_process(&point, joint);
        }
    }
    noteMaterialCopy(joint, *material, count);
}

void dgWorldProcessContacts(dgWorld* world, dgContact* joint, dgBody* a, dgBody* b, dgMaterialPair* material,
                            int32_t count, const dgContactPoint* points) {
    DG_ASSERT(world && a && b && material && (a != b));
    if (count < 1) {
        return;
    }
    dgBody* body0 = a;
    dgBody* body1 = b;
    // The joint keeps the moving body as body0 when one is static.
    if (a->m_invMass.w == 0.0f) {
        body0 = b;
        body1 = a;
    }
    if (!joint) {
        joint = newPairContact(world, body0, body1);
        if (!joint) {
            return;
        }
    }
    DG_ASSERT(((joint->m_body0 == a) && (joint->m_body1 == b)) || ((joint->m_body0 == b) && (joint->m_body1 == a)));
    // Everything stored follows the joint's order; the points come in the
    // order of a and b with normals from b towards a.
    body0 = joint->m_body0;
    body1 = joint->m_body1;
    const bool swapped = (body0 != a);

    dgContactPointList& list = joint->m_points;
    int32_t active = 0;
    joint->m_pointCount = 0;
    joint->m_refreshStamp = world->m_stepStamp;

    for (int32_t i = 0; i < count; ++i) {
        const dgContactPoint& source = points[i];
        dgContactNode* node;
        if (active == list.getCount()) {
            // A new node joins the inactive tail until it is accepted.
            node = list.append();
            if (!node) {
                break;
            }
        } else {
            node = nearestInactive(list, list.getCount() - active, source.point);
        }

        dgMaterialPair& point = node->getValue();
        point.point = source.point;
        point.normal = source.normal;
        if (swapped) {
            point.normal.x = -source.normal.x;
            point.normal.y = -source.normal.y;
            point.normal.z = -source.normal.z;
            point.collision0 = source.collision1;
            point.collision1 = source.collision0;
        } else {
            point.collision0 = source.collision0;
            point.collision1 = source.collision1;
        }
        point.body0 = body0;
        point.body1 = body1;
        point.userId = source.userId;
        point.penetration = source.penetration;
        copyMaterialValues(point, *material);

        const dgVector r0 = point.point - body0->m_matrix.position;
        const dgVector r1 = point.point - body1->m_matrix.position;
        point.m_tangentDir0 = frictionDirection(point.normal, body0, body1, r0, r1);
        point.m_tangentDir1 = point.normal.cross(point.m_tangentDir0);
        point.m_tangentDir1.w = 0.0f;

        // The callback sees the point in place; clearing the collidable bit
        // refuses it as well as answering 0.
        const bool accepted = (!material->m_process || material->m_process(&point, joint)) &&
                              (point.m_flags & dgMaterialFlagCollidable);
        if (!accepted) {
            // Left among the inactive nodes, where the next point may take it.
            continue;
        }
        point.localPoint0 = body0->m_matrix.inverseRotateVector(r0);
        point.localPoint1 = body1->m_matrix.inverseRotateVector(r1);
        list.moveToFront(node);
        ++active;
        joint->m_pointCount = active;
    }
    joint->m_maxRows = uint16_t(dgContactRowsPerPoint * active);
    noteMaterialCopy(joint, *material, active);
}

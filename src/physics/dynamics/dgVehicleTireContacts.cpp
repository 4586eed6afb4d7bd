// The tire contacts of a vehicle's sub-step: taken out of the chassis's
// contact joints into the tire shapes, so that the vehicle solves them and
// the ordinary contact solver does not. On the tread a contact pushes
// straight towards the axle; each tire keeps its six contacts lowest along
// up.
#include <cmath>

#include "dgBody.h"
#include "dgCollisionTire.h"
#include "dgContact.h"
#include "dgVehicleJoint.h"
#include "dgVehicleSolve.h"
#include "dgWorld.h"

namespace {

// Candidates one gathering takes (the contact pass keeps at most 16 points
// a pair; a chassis touches few bodies at once).
constexpr int32_t kMaxCandidates = 512;
constexpr int32_t kMaxContacts = dgCollisionTire::kMaxContacts;

bool isChassis(const dgBody* body) {
    return body->m_collision && (body->m_collision->getFlags() & dgShapeFlagVehicle);
}

}  // namespace

void dgVehicleJoint::gatherTireContacts() {
    dgBody* const chassis = m_body0;
    struct Candidate {
        dgContact* contact;
        dgContactPointList::Node* node;
        dgCollisionTire* shape;
        dgVector direction;
        float key;
    };
    Candidate candidates[kMaxCandidates];
    int32_t count = 0;

    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgCollisionTire* shape = node->getValue().m_shape;
        shape->m_contactCount = 0;
        shape->m_candidateCount = 0;
        shape->m_pairCount = 0;
    }
    if (const dgJointLink* head = chassis->m_jointRing) {
        const dgJointLink* link = head;
        do {
            if (link->m_joint->m_typeId == dgJointTypeContact) {
                dgContact* const contact = static_cast<dgContact*>(link->m_joint);
                const bool chassisFirst = (contact->m_body0 == chassis);
                dgBody* const other = chassisFirst ? contact->m_body1 : contact->m_body0;
                // Vehicle against vehicle stays with the ordinary solver.
                const bool skip = other && (other->m_invMass.w != 0.0f) && isChassis(other);
                dgContactPointList::Node* point = contact->m_points.getFirst();
                for (int32_t i = 0; !skip && point && (i < contact->m_pointCount) && (count < kMaxCandidates);
                     ++i, point = point->getNext()) {
                    const dgMaterialPair& record = point->getValue();
                    dgCollision* const own = chassisFirst ? record.collision0 : record.collision1;
                    if (own && (own->getFlags() & dgShapeFlagTire)) {
                        candidates[count].contact = contact;
                        candidates[count].node = point;
                        candidates[count].shape = static_cast<dgCollisionTire*>(own);
                        // Normals point from body1 towards body0: into the
                        // ground when the chassis is body1.
                        candidates[count].direction =
                            chassisFirst ? dgVehicleAxis(record.normal).scale(-1.0f) : dgVehicleAxis(record.normal);
                        ++count;
                    }
                }
            }
            link = link->m_next;
        } while (link != head);
    }

    const dgVector globalUp = dgVehicleAxis(chassis->m_matrix.rotateVector(m_up));
    for (dgVehicleTireList::Node* node = m_tires.getFirst(); node; node = node->getNext()) {
        dgVehicleTire& tire = node->getValue();
        dgCollisionTire* const shape = tire.m_shape;
        // The shape's placed pose is the tire's pose as of its last refresh,
        // the one these contacts were found at; rebuilding it would cost the
        // spin's trigonometry again.
        const dgMatrix frame = shape->getOffsetMatrix().multiply(chassis->m_matrix);
        const dgVector pin = dgVehicleAxis(tire.m_pin);
        Candidate* mine[kMaxCandidates];
        int32_t mineCount = 0;
        for (int32_t c = 0; c < count; ++c) {
            Candidate& candidate = candidates[c];
            if (candidate.shape != shape) {
                continue;
            }
            const dgVector local = dgVehicleAxis(frame.inverseTransformVector(candidate.node->getValue().point));
            const dgVector radial = local - pin.scale(local.dot(pin));
            const float radial2 = radial.dot(radial) + 1.0e-12f;
            if (radial2 > shape->m_contactDistanceLimit) {
                // On the tread the contact pushes straight towards the axle,
                // whatever the face's own normal says.
                candidate.direction = dgVehicleAxis(frame.rotateVector(radial.scale(1.0f / std::sqrt(radial2))));
            }
            candidate.key = -candidate.direction.dot(globalUp);
            // Largest key first, equal keys in the order found.
            int32_t at = mineCount++;
            while ((at > 0) && (mine[at - 1]->key < candidate.key)) {
                mine[at] = mine[at - 1];
                --at;
            }
            mine[at] = &candidate;
        }
        shape->m_candidateCount = mineCount;
        for (int32_t k = 0; (k < mineCount) && (k < kMaxContacts); ++k) {
            const Candidate& candidate = *mine[k];
            const dgMaterialPair& record = candidate.node->getValue();
            dgCollisionTire::Contact& kept = shape->m_contacts[shape->m_contactCount++];
            const bool chassisFirst = (candidate.contact->m_body0 == chassis);
            kept.body0 = chassis;
            kept.body1 = chassisFirst ? candidate.contact->m_body1 : candidate.contact->m_body0;
            kept.point = record.point;
            kept.normal = candidate.direction;
            kept.normal.w = candidate.key;
            kept.penetration = record.penetration;
            bool known = false;
            for (int32_t p = 0; p < shape->m_pairCount; ++p) {
                known = known || (shape->m_pairs[p][1] == kept.body1);
            }
            if (!known) {
                shape->m_pairs[shape->m_pairCount][0] = chassis;
                shape->m_pairs[shape->m_pairCount][1] = kept.body1;
                ++shape->m_pairCount;
            }
        }
    }

    // Every candidate leaves its joint's active points, so that the ordinary
    // solver does not see it; the joint's rows shrink with its points.
    for (int32_t c = 0; c < count; ++c) {
        dgContact* const contact = candidates[c].contact;
        dgContactPointList::Node* last = contact->m_points.getFirst();
        for (int32_t i = 1; i < contact->m_pointCount; ++i) {
            last = last->getNext();
        }
        if (last != candidates[c].node) {
            contact->m_points.moveAfter(candidates[c].node, last);
        }
        --contact->m_pointCount;
        contact->m_maxRows = uint16_t(3 * contact->m_pointCount);
    }
}

void dgVehicleUpdatePending(dgWorld* world) {
    for (dgBodyTree::Node* node = world->m_vehicleWorkList.getFirst(); node; node = node->getNext()) {
        if (dgVehicleJoint* vehicle = dgVehicleOfChassis(node->getPayload())) {
            vehicle->gatherTireContacts();
        }
    }
    world->m_vehicleWorkList.removeAll();
}

// The world's joint rings: attaching joints to their bodies, finding the
// links between two bodies, and the walk over jointed bodies.
#include <new>

#include "dgApiWorld.h"
#include "dgBody.h"
#include "dgConstraint.h"
#include "dgWorkStack.h"
#include "dgWorld.h"

namespace {

// Puts link at the end of its body's ring (an empty ring takes it as head).
void ringInsert(dgBody* body, dgJointLink* link) {
    link->m_body = body;
    if (link->m_joint->m_typeId != dgJointTypeContact) {
        ++body->m_tieCount;
    }
    dgJointLink* head = body->m_jointRing;
    if (!head) {
        link->m_next = link;
        link->m_prev = link;
        body->m_jointRing = link;
        return;
    }
    link->m_next = head;
    link->m_prev = head->m_prev;
    head->m_prev->m_next = link;
    head->m_prev = link;
}

void setEquilibrium(dgBody* body) {
    if (body->m_invMass.w == 0.0f) {
        body->m_flags |= dgBodyFlagEquilibrium;
    } else {
        body->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);
    }
}

bool isMarked(const dgBody* body) {
    return (body->m_refreshStamp & dgBody::kJointWalkMark) != 0;
}

}  // namespace

bool dgWorldAttachConstraint(dgWorld* world, dgConstraint* joint, dgBody* body0, dgBody* body1) {
    if (!body0 || (body0 == body1)) {
        return false;
    }
    void* storage0 = world->m_linkPages.take();
    if (!storage0) {
        return false;
    }
    void* storage1 = world->m_linkPages.take();
    if (!storage1) {
        world->m_linkPages.give(storage0);
        return false;
    }
    dgJointLink* link0 = ::new (storage0) dgJointLink();
    dgJointLink* link1 = ::new (storage1) dgJointLink();
    link0->m_partner = link1;
    link1->m_partner = link0;
    link0->m_joint = joint;
    link1->m_joint = joint;
    link0->m_body = body0;
    link1->m_body = body1;
    link0->m_next = link0->m_prev = nullptr;
    link1->m_next = link1->m_prev = nullptr;

    joint->m_body0 = body0;
    joint->m_body1 = body1;
    joint->m_link = link0;
    joint->m_islandStamp = 0;
    joint->m_serial = ++world->m_jointSerial;

    setEquilibrium(body0);
    ringInsert(body0, link0);
    if (body1) {
        setEquilibrium(body1);
        ringInsert(body1, link1);
    }
    ++world->m_jointCount;
    return true;
}

dgJointLink* dgWorldFindJointLink(dgBody* body0, dgBody* body1) {
    dgJointLink* head = body0->m_jointRing;
    if (!head) {
        return nullptr;
    }
    dgJointLink* link = head;
    do {
        if (link->getOtherBody() == body1) {
            return link;
        }
        link = link->m_next;
    } while (link != head);
    return nullptr;
}

dgJointLink* dgWorldFindBodyLink(dgJointLink* link, dgBody* body) {
    const dgJointLink* head = link->m_body->m_jointRing;
    for (dgJointLink* next = link->m_next; next != head; next = next->m_next) {
        if (next->getOtherBody() == body) {
            return next;
        }
    }
    return nullptr;
}

int32_t dgWorldGetJointedBodies(dgBody* body, dgBody** out, int32_t maxCount) {
    if (!out || (maxCount < 1) || !body->m_tieCount) {
        return 0;
    }
    // Every marked body, so that each mark is cleared again; the walk's own
    // stack grows with the group.
    dgBody* visitedStorage[64];
    dgWorkStack<dgBody*> visited(visitedStorage, 64);
    dgBody* pendingStorage[64];
    dgWorkStack<dgBody*> pending(pendingStorage, 64);

    int32_t count = 0;
    body->m_refreshStamp |= dgBody::kJointWalkMark;
    bool complete = visited.push(body) && pending.push(body);
    while (complete && pending.getCount()) {
        const dgBody* current = pending.pop();
        const dgJointLink* head = current->m_jointRing;
        if (!head) {
            continue;
        }
        const dgJointLink* link = head;
        do {
            dgBody* other = link->getOtherBody();
            // Contacts neither list nor mark: a body touching this one may
            // still be tied to it by a joint further round the ring.
            if (other && link->m_joint->isBilateral() && !isMarked(other)) {
                other->m_refreshStamp |= dgBody::kJointWalkMark;
                if (!visited.push(other) || !pending.push(other)) {
                    other->m_refreshStamp &= ~dgBody::kJointWalkMark;
                    complete = false;
                    break;
                }
                if (count < maxCount) {
                    out[count++] = other;
                }
            }
            link = link->m_next;
        } while (link != head);
    }
    for (int32_t i = 0; i < visited.getCount(); ++i) {
        visited[i]->m_refreshStamp &= ~dgBody::kJointWalkMark;
    }
    return count;
}

namespace {

// Takes link out of its body's ring; a ring whose head it was moves its head
// to the next link, or empties when the link was alone.
void ringRemove(dgJointLink* link) {
    dgBody* body = link->m_body;
    if (!body || !link->m_next) {
        return;
    }
    if (link->m_joint->m_typeId != dgJointTypeContact) {
        --body->m_tieCount;
    }
    if (link->m_next == link) {
        body->m_jointRing = nullptr;
    } else {
        link->m_prev->m_next = link->m_next;
        link->m_next->m_prev = link->m_prev;
        if (body->m_jointRing == link) {
            body->m_jointRing = link->m_next;
        }
    }
    link->m_next = nullptr;
    link->m_prev = nullptr;
}

void wakeAfterJointChange(dgWorld* world, dgBody* body) {
    if (!body) {
        return;
    }
    setEquilibrium(body);
    if ((body->m_flags & dgBodyFlagAutoFreeze) && !body->m_activeNode) {
        dgWorldUnfreezeBody(world, body);
    }
}

}  // namespace

void dgWorldDestroyConstraint(dgWorld* world, dgConstraint* joint) {
    --world->m_jointCount;
    wakeAfterJointChange(world, joint->m_body0);
    wakeAfterJointChange(world, joint->m_body1);
    if (dgJointLink* link0 = joint->m_link) {
        dgJointLink* link1 = link0->m_partner;
        ringRemove(link0);
        ringRemove(link1);
        link0->~dgJointLink();
        link1->~dgJointLink();
        world->m_linkPages.give(link0);
        world->m_linkPages.give(link1);
        joint->m_link = nullptr;
    }
    const uint16_t type = joint->m_typeId;
    joint->release();
    // Contacts go back to their pages here; the pooled joint classes give
    // themselves back in their release.
    if (type == dgJointTypeContact) {
        dgContact* contact = static_cast<dgContact*>(joint);
        contact->~dgContact();
        world->m_contactPages.give(contact);
    }
}

void dgWorldQueueStaleContact(dgWorld* world, dgContact* contact) {
    world->m_staleContacts.append(contact);
}

void dgWorldDestroyStaleContacts(dgWorld* world) {
    while (dgContactList::Node* node = world->m_staleContacts.getFirst()) {
        dgContact* contact = node->getValue();
        world->m_staleContacts.remove(node);
        // A request to destroy it at the end of the sub-step goes with it:
        // its storage may hold another contact by then.
        dgApiWorldOf(world)->m_deferredJoints.removeKey(dgJointKey(contact));
        dgWorldDestroyConstraint(world, contact);
    }
}

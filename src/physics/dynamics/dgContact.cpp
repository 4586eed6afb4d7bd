#include "dgContact.h"

#include "dgBody.h"
#include "dgWorld.h"

dgContact::dgContact() : m_points(), m_worldEntry(nullptr), m_refreshStamp(0), m_pointCount(0) {}

dgContact::~dgContact() {
    m_points.removeAll();
}

void dgContact::setDestructorCallback(dgConstraintDestructorCallback) {}

void dgContact::release() {
    m_points.removeAll();
    m_pointCount = 0;
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
    return contact;
}

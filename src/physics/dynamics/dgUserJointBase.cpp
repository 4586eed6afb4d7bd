#include "dgUserJointBase.h"

#include "dgWorld.h"

dgUserJointBase::dgUserJointBase(dgWorld* world, dgBody* body0, dgBody* body1, int32_t typeOffset) {
    reset();
    m_typeId = uint16_t(int32_t(dgJointTypeDefault) + typeOffset);
    m_body0 = body0;
    m_body1 = body1;
    m_islandStamp = 0;
    m_maxRows = 6;
    m_collisionState = 0;
    m_userData = nullptr;
    m_destructor = nullptr;
    m_link = nullptr;
    dgWorldAttachConstraint(world, this, body0, body1);
}

dgUserJointBase::~dgUserJointBase() = default;

void dgUserJointBase::release() {
    if (m_destructor) {
        m_destructor(this);
    }
    delete this;
}

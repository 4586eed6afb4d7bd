#include "dgConstraint.h"

dgConstraint::dgConstraint() : m_islandStamp(0) {
    resetHeader();
    m_serial = 0;
}

dgConstraint::~dgConstraint() = default;

float dgConstraint::getStiffness() const {
    return 1.0f;
}

void dgConstraint::setStiffness(float) {}

void dgConstraint::reset() {
    resetHeader();
}

bool dgConstraint::isBilateral() const {
    return false;
}

float dgConstraint::queryValue() const {
    return 0.0f;
}

void dgConstraint::resetHeader() {
    m_body0 = nullptr;
    m_body1 = nullptr;
    m_userData = nullptr;
    m_link = nullptr;
    m_maxRows = 6;
    m_collisionState = 0;
    m_staleFlag = 0;
    m_typeId = dgJointTypeDefault;
}

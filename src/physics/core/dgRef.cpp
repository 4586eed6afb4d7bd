#include "dgRef.h"

DG_IMPLEMENT_CLASS(dgRef, dgRef, "dgRef");

dgRef::~dgRef() {}

dgRef* dgRef::clone() const {
    return nullptr;
}

uint32_t dgRef::getClassId() const {
    return kClassId;
}

bool dgRef::isClass(uint32_t id) const {
    return id == kClassId;
}

void dgRef::clearLiveFlag() {
    m_refWord &= ~kLiveFlag;
}

void dgRef::setLiveFlag() {
    m_refWord |= kLiveFlag;
}

void dgRef::setName(const char* name) {
    m_nameId = name ? dgHashName(name) : 0;
}

void dgRef::deleteThis() {
    delete this;
}

#include "client/object.h"

Object::Object(int32_t type, const std::string& name, const irr::core::vector3df& size)
    : type(type), name(name), size(size), radius(0.0f) {}

Object::~Object() = default;

void Object::setPosition(const irr::core::vector3df& p) { position = p; }
void Object::setRotation(const irr::core::vector3df& r) { rotation = r; }
bool Object::contains(const irr::core::vector3df&) const { return false; }
void Object::applyGravity(const dgWorld*, dgBody*) {}

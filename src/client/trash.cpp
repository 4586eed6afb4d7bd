#include "client/trash.h"

Trash::Trash(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
             const irr::core::vector3df& size, irr::s32)
    : Object(OBJECT_TRASH, name, size) {
    this->position = position;
    this->rotation = rotation;
}

Trash::~Trash() = default;

void Trash::hit() { dead = true; }

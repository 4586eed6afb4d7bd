#include "client/station.h"

Station::Station(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                 const irr::core::vector3df& size, irr::s32)
    : Object(OBJECT_STATION, name, size) {
    this->position = position;
    this->rotation = rotation;
}

Station::~Station() = default;

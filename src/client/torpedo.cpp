#include "client/torpedo.h"

Torpedo::Torpedo(const irr::core::vector3df& position, const irr::core::vector3df& velocity, int32_t lifetimeMs,
                 irr::s32, const irr::core::vector3df& size, Ship* target, int32_t engineChannel)
    : Object(OBJECT_TORPEDO, "", irr::core::vector3df(1.0f, 1.0f, 1.0f)),
      bodySize(size),
      lifetimeMs(lifetimeMs),
      target(target),
      velocity(velocity),
      engineChannel(engineChannel) {
    this->position = position;
}

Torpedo::~Torpedo() = default;

void Torpedo::update(uint32_t) {}
void Torpedo::applyForces(const dgWorld*, dgBody*) {}
void Torpedo::explode(bool) { dead = true; }
irr::core::vector3df Torpedo::steerToTarget(const irr::core::vector3df&, const irr::core::vector3df&,
                                            const irr::core::vector3df&) {
    return irr::core::vector3df();
}

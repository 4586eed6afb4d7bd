#include "client/bullet.h"

Bullet::Bullet(const irr::core::vector3df& position, int32_t lifetimeMs, irr::video::ITexture* texture,
               int32_t speed, const irr::core::vector3df& direction, float probeLength)
    : position(position),
      lifetimeMs(lifetimeMs),
      texture(texture),
      speed(speed),
      direction(direction),
      probeLength(probeLength) {}

Bullet::~Bullet() = default;

void Bullet::update(uint32_t) {}
bool Bullet::checkShipHits() { return false; }
bool Bullet::checkStationHits() { return false; }
bool Bullet::checkTorpedoHits() { return false; }
bool Bullet::checkTrashHits() { return false; }

#include "client/weapon.h"

#include "client/bullet.h"
#include "client/ship.h"

Weapon::Weapon(Ship* owner, const irr::core::vector3df& offset, int32_t kind, uint32_t reloadMs,
               uint32_t secondDuration, int32_t lifetimeMs, int32_t projectileSpeed)
    : Object(OBJECT_WEAPON, "", irr::core::vector3df(1.0f, 1.0f, 1.0f)),
      kind(kind),
      locked(kind == WEAPON_GUN),
      reloadMs(reloadMs),
      secondDuration(secondDuration),
      lifetimeMs(lifetimeMs),
      projectileSpeed(projectileSpeed),
      owner(owner) {
    position = offset;
}

Weapon::~Weapon() {
    for (Bullet* bullet : bullets) {
        delete bullet;
    }
}

void Weapon::fire() {}
void Weapon::update() {}
void Weapon::setTarget(Ship* value) {
    locked = false;
    target = value;
}

// A weapon mounted on a ship: a gun (kind 0) firing bullets, or a torpedo
// launcher (kind 1) firing homing torpedoes at its target. The controls
// decide when to fire; the ship's update updates its weapons each frame. A
// gun owns its bullets; the launcher updates and deletes the torpedoes of
// globals.torpedoList.
#pragma once

#include "client/object.h"

#include <irrlicht.h>

#include <cstdint>
#include <list>

class Bullet;
class Ship;

constexpr int32_t WEAPON_GUN = 0;
constexpr int32_t WEAPON_TORPEDO_LAUNCHER = 1;

class Weapon : public Object {
public:
    // offset: the mount on the owner's node. A launcher starts unlocked.
    Weapon(Ship* owner, const irr::core::vector3df& offset, int32_t kind, uint32_t reloadMs,
           uint32_t secondDuration, int32_t lifetimeMs, int32_t projectileSpeed);
    // Deletes the bullets and removes the weapon's nodes.
    ~Weapon() override;

    void fire();
    void update();
    // Unlocks the launcher until its next update; null for no target.
    void setTarget(Ship* target);
    Ship* getTarget() const { return target; }
    bool isLocked() const { return locked; }
    // 0 gun, 1 torpedo launcher (the kind, not the Object type).
    int32_t getType() const { return kind; }
    Ship* getOwner() const { return owner; }
    const std::list<Bullet*>& getBullets() const { return bullets; }

private:
    std::list<Bullet*> bullets;  // owned
    int32_t kind;
    irr::scene::IBillboardSceneNode* muzzleFlash = nullptr;
    bool locked;
    uint32_t reloadMs;
    uint32_t secondDuration;  // kept; nothing consults it
    uint32_t lockStartTime = 0;
    int32_t lifetimeMs;
    int32_t projectileSpeed;
    uint32_t lastFireTime = 0;
    uint32_t lastUpdateTime = 0;
    Ship* owner;
    Ship* target = nullptr;
    irr::core::vector3df direction{0.0f, 0.0f, 1.0f};
};

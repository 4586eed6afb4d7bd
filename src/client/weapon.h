// A weapon mounted on a ship: a gun (kind 0) firing bullets, or a torpedo
// launcher (kind 1) firing homing torpedoes at its target. The controls
// decide when to fire; the ship's update updates its weapons each frame. A
// gun owns its bullets; the launcher updates and deletes the torpedoes of
// globals.torpedoList.
//
// Times are globals.clock's real time in ms, compared as unsigned
// differences (the launch pacing arithmetic is in weaponmath.h).
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
    // offset: the mount on the owner's node. A launcher starts unlocked. The
    // weapon node and the muzzle flash hang on the owner's node; an owner
    // without a node gets neither.
    Weapon(Ship* owner, const irr::core::vector3df& offset, int32_t kind, uint32_t reloadMs,
           uint32_t secondDuration, int32_t lifetimeMs, int32_t projectileSpeed);
    // Deletes the bullets and removes the weapon's nodes.
    ~Weapon() override;

    // A gun fires one bullet from its muzzle; a launcher launches a torpedo
    // at its target when it is locked and has never launched or launched
    // reloadMs ago or more.
    void fire();
    // Once a frame: the flight direction from the owner's rotation; a gun
    // hides its muzzle flash 50 ms after the last shot (globals.lastShotTime)
    // and updates its bullets; a launcher locks, updates globals.torpedoList
    // and sets globals.trackedTorpedo to its newest torpedo. Dead bullets and
    // torpedoes are deleted and erased.
    void update();
    // Unlocks the launcher until its next update; null for no target (and the
    // one way to drop a ship that is going away).
    void setTarget(Ship* target);
    Ship* getTarget() const { return target; }
    bool isLocked() const { return locked; }
    // 0 gun, 1 torpedo launcher (the kind, not the Object type).
    int32_t getType() const { return kind; }
    Ship* getOwner() const { return owner; }
    const std::list<Bullet*>& getBullets() const { return bullets; }
    // The owner's rotation applied to (0, 0, 1) at the last update.
    irr::core::vector3df getDirection() const { return direction; }
    // Null when the owner has no node; the weapon holds a reference.
    irr::scene::IBillboardSceneNode* getMuzzleFlash() const { return muzzleFlash; }

private:
    // The weapon node's absolute position, or the mount turned by the
    // owner's rotation when there is no node.
    irr::core::vector3df muzzlePosition();

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
    bool hasFired = false;  // a launch has happened: lastFireTime is a real reading
    uint32_t lastUpdateTime = 0;
    Ship* owner;
    Ship* target = nullptr;
    irr::core::vector3df direction{0.0f, 0.0f, 1.0f};
};

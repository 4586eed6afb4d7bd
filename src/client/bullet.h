// A gun's projectile: a spinning billboard that flies straight at a fixed
// speed for its lifetime, tests itself against the terrain once at launch
// and against ships, the station, torpedoes and debris every frame, and
// deals 50 damage to a ship it hits. Not an Object: its gun owns it.
#pragma once

#include <irrlicht.h>

#include <cstdint>

class Bullet {
public:
    // direction: unit flight direction; speed units per second; probeLength
    // the length of the probe toward a target's centre.
    Bullet(const irr::core::vector3df& position, int32_t lifetimeMs, irr::video::ITexture* texture, int32_t speed,
           const irr::core::vector3df& direction, float probeLength);
    // Removes the billboard.
    virtual ~Bullet();
    Bullet(const Bullet&) = delete;
    Bullet& operator=(const Bullet&) = delete;

    // elapsed: ms since the gun's previous update.
    void update(uint32_t elapsed);
    bool isDead() const { return dead; }
    irr::core::vector3df getPosition() const { return position; }

    // Each true on a hit (the bullet is then dead).
    bool checkShipHits();
    bool checkStationHits();
    bool checkTorpedoHits();
    bool checkTrashHits();

private:
    irr::scene::IBillboardSceneNode* node = nullptr;
    irr::core::vector3df position;
    bool terrainHit = false;
    irr::core::vector3df terrainHitPoint;
    float lastTerrainDistance = 0.0f;
    float terrainDistance = 0.0f;
    int32_t lifetimeMs;
    irr::video::ITexture* texture;
    int32_t speed;
    float spin = 0.0f;
    irr::core::vector3df direction;
    bool dead = false;
    float damage = 50.0f;
    float probeLength;
};

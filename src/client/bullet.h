// A gun's projectile: a spinning billboard that flies straight at a fixed
// speed for its lifetime, tests itself against the terrain once at launch
// and against ships, the station, torpedoes and debris every frame, and
// deals 50 damage to a ship it hits. Not an Object: its gun owns it.
#pragma once

#include <irrlicht.h>

#include <cstdint>

namespace tarnwell {
namespace scene {
class COrientedBillboardSceneNode;
}
}  // namespace tarnwell

class Bullet {
public:
    // direction: unit flight direction; speed units per second; probeLength
    // the length of the probe toward a target's centre. The launch ray is
    // tested against globals.terrainNode's triangle selector once, here. A
    // position, direction or probe length that is not finite gives a bullet
    // that is dead at once, without a sprite.
    Bullet(const irr::core::vector3df& position, int32_t lifetimeMs, irr::video::ITexture* texture,
           int32_t speed, const irr::core::vector3df& direction, float probeLength);
    // Removes the billboard.
    virtual ~Bullet();
    Bullet(const Bullet&) = delete;
    Bullet& operator=(const Bullet&) = delete;

    // elapsed: ms since the gun's previous update. Ages, spins and moves the
    // bullet, then runs the terrain pass and the hit tests; a flight that
    // would leave the finite numbers ends the bullet where it was.
    void update(uint32_t elapsed);
    bool isDead() const { return dead; }
    irr::core::vector3df getPosition() const { return position; }
    irr::core::vector3df getDirection() const { return direction; }
    int32_t getLifetime() const { return lifetimeMs; }
    float getSpin() const { return spin; }
    // Whether the launch ray met the terrain, and where.
    bool hasTerrainHit() const { return terrainHit; }
    irr::core::vector3df getTerrainHitPoint() const { return terrainHitPoint; }
    // Null for a bullet born dead; the scene owns it, the bullet holds a
    // reference until it is deleted.
    tarnwell::scene::COrientedBillboardSceneNode* getNode() const { return node; }

    // Each true on a hit (the bullet is then dead): against the triangle
    // selectors of the nodes of ships other than the player's, the stations
    // with their doors, torpedoes and debris near the bullet.
    bool checkShipHits();
    bool checkStationHits();
    bool checkTorpedoHits();
    bool checkTrashHits();

private:
    // The sprite turned by `spin` against the player's ship's rotation.
    void turnSprite();
    // True when the segment meets the triangle selector of `target`.
    static bool meets(irr::scene::ISceneNode* target, const irr::core::line3df& segment);
    // Probe A (toward `centre`, probeLength long) and probe B (5 along the
    // flight).
    irr::core::line3df probeToward(const irr::core::vector3df& centre) const;
    irr::core::line3df probeAhead() const;
    // The end of a hit: the fire impact at `impact`, the small explosion
    // sound at the bullet, dead.
    void strike(const irr::core::vector3df& impact);

    tarnwell::scene::COrientedBillboardSceneNode* node = nullptr;
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
    float damage = 50.0f;  // dealt to a ship it hits
    float probeLength;
};

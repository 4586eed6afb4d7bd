// A homing torpedo: launched with its ship's velocity, it runs straight for
// one second, then rolls until its target's intercept point lies above its
// nose and pitches toward it. It carries a bubble trail, an engine sound and
// a camera the HUD shows, and explodes at the end of its life, above
// y = -30, when a bullet hits it or on contact (the physics glue's rules).
// Lives in globals.torpedoList; the launcher's update deletes dead ones.
//
// Times are globals.clock's real time in ms, compared as unsigned
// differences. The steering and step arithmetic is in torpedomath.h.
#pragma once

#include "client/object.h"

#include <irrlicht.h>

#include <cstdint>

class Camera;
class Ship;

class Torpedo : public Object {
public:
    // mesh: a resource id; size: the body's box; engineChannel: the engine
    // sound the launcher started (-1 for none). target may be null. The
    // stored rotation is the player's ship's. Without a node (no mesh, no
    // scene) there is no body, trail or camera either. A position that is
    // not finite gives a torpedo that is dead at once, with its engine sound
    // stopped and nothing made; a velocity that is not finite is taken as 0.
    Torpedo(const irr::core::vector3df& position, const irr::core::vector3df& velocity, int32_t lifetimeMs,
            irr::s32 mesh, const irr::core::vector3df& size, Ship* target, int32_t engineChannel);
    // Deletes the camera (the main camera becomes active again if it was),
    // removes the trail, destroys the body, removes the node.
    ~Torpedo() override;

    // elapsed ms since the launcher's previous update: explodes (no static
    // hit) when the lifetime runs out or above y = -30.
    void update(uint32_t elapsed);
    // The force callback's work, once per physics step: thrust along the
    // nose; after the first second the steering toward a living target; the
    // engine sound and the camera follow. A target whose hull is at 0 or
    // below is dropped, in the boost as well. Nothing that is not finite is
    // written to the body.
    void applyForces(const dgWorld* world, dgBody* body);
    // First call only: sound, explosion (and the blue impact on a static
    // hit). Every call marks it dead.
    void explode(bool staticHit);
    // (-angle between nose and intercept direction, 0, roll error), degrees,
    // for the target's intercept point at this torpedo's speed; always
    // finite (torpedoAim).
    irr::core::vector3df steerToTarget(const irr::core::vector3df& position,
                                       const irr::core::vector3df& rotation,
                                       const irr::core::vector3df& targetPosition);

    Ship* getTarget() const { return target; }
    // Null lets it run on straight (and drops a ship that is going away).
    void setTarget(Ship* value) { target = value; }
    // Null for a torpedo without a node.
    Camera* getCamera() const { return camera; }
    // The last steering angles (steerToTarget), for the HUD; finite.
    irr::core::vector3df getAim() const { return aim; }
    irr::core::vector3df getVelocityVector() const { return velocity; }
    int32_t getLifetime() const { return lifetimeMs; }
    bool hasExploded() const { return exploded != 0; }
    int32_t getTrailEffect() const { return trail; }
    int32_t getEngineChannel() const { return engineChannel; }

private:
    irr::core::vector3df bodySize;
    irr::scene::IAnimatedMesh* mesh = nullptr;
    int32_t lifetimeMs;
    uint32_t launchTime = 0;
    Ship* target;
    float thrust = 450.0f;
    float pitchGain = 1500.0f;
    float rollGain = 3000.0f;
    irr::core::vector3df velocity;  // units per second, world axes
    irr::core::vector3df aim;       // degrees
    int32_t exploded = 0;
    int32_t trail = -1;
    int32_t engineChannel;     // -1 once stopped
    Camera* camera = nullptr;  // owned; the torpedo also holds its node
};

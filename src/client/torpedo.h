// A homing torpedo: launched with its ship's velocity, it runs straight for
// one second, then rolls until its target's intercept point lies above its
// nose and pitches toward it. It carries a bubble trail, an engine sound and
// a camera the HUD shows, and explodes at the end of its life, above
// y = -30, when a bullet hits it or on contact (the physics glue's rules).
// Lives in globals.torpedoList; the launcher's update deletes dead ones.
#pragma once

#include "client/object.h"

#include <irrlicht.h>

#include <cstdint>

class Camera;
class Ship;

class Torpedo : public Object {
public:
    // mesh: a resource id; size: the body's box; engineChannel: the engine
    // sound the launcher started (-1 for none). target may be null.
    Torpedo(const irr::core::vector3df& position, const irr::core::vector3df& velocity, int32_t lifetimeMs,
            irr::s32 mesh, const irr::core::vector3df& size, Ship* target, int32_t engineChannel);
    // Deletes the camera (the main camera becomes active again if it was),
    // removes the trail, destroys the body, removes the node.
    ~Torpedo() override;

    // elapsed ms since the launcher's previous update.
    void update(uint32_t elapsed);
    // The force callback's work, once per physics step.
    void applyForces(const dgWorld* world, dgBody* body);
    // First call only: sound, explosion (and the blue impact on a static
    // hit). Every call marks it dead.
    void explode(bool staticHit);
    // (-angle between nose and intercept direction, 0, roll error), degrees.
    irr::core::vector3df steerToTarget(const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                                       const irr::core::vector3df& targetPosition);

    Ship* getTarget() const { return target; }
    void setTarget(Ship* value) { target = value; }
    Camera* getCamera() const { return camera; }
    irr::core::vector3df getAim() const { return aim; }
    irr::core::vector3df getVelocityVector() const { return velocity; }

private:
    irr::core::vector3df bodySize;
    irr::scene::IAnimatedMesh* mesh = nullptr;
    int32_t lifetimeMs;
    uint32_t launchTime = 0;
    Ship* target;
    float thrust = 450.0f;
    float pitchGain = 1500.0f;
    float rollGain = 3000.0f;
    irr::core::vector3df velocity;
    irr::core::vector3df aim;
    int32_t exploded = 0;
    int32_t trail = -1;
    int32_t engineChannel;
    Camera* camera = nullptr;  // owned
};

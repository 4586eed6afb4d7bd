// The torpedo's arithmetic, free of the scene, the physics world and the
// globals: where it aims, the turn it asks for, and one physics step of its
// spin and velocity.
//
// Rotations are degrees about x, y and z as the engine's rotation matrix
// takes them; "own axes" are the torpedo's: x right, y up, z the nose.
#pragma once

#include <vector3d.h>

#include <cstdint>

// The first second of a run is the boost: straight, no steering torque.
constexpr uint32_t TORPEDO_BOOST_MS = 1000;
// Above this height (the sea surface is y = 0) a torpedo explodes.
constexpr float TORPEDO_CEILING_Y = -30.0f;

// True during the boost, from the launch time on (unsigned difference).
bool torpedoBoosting(uint32_t now, uint32_t launchTime);

// The steering angles toward the intercept point of a target (position,
// velocity) for a torpedo at `position` turned by `rotation` flying at
// `speed` units per second, in degrees:
//   x = minus the angle between the nose and the aim direction, in [-180, 0];
//   y = 0;
//   z = the roll that brings the aim to the torpedo's upper side, (-180, 180].
// A speed of 0 is fine (the intercept is then the target itself). Always
// finite: (0, 0, 0) when an input is not finite or the aim point is where
// the torpedo is.
irr::core::vector3df torpedoAim(const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                                const irr::core::vector3df& targetPosition,
                                const irr::core::vector3df& targetVelocity, float speed);

// The change of spin a homing torpedo asks for in one step, in its own axes
// (x pitch, z roll, y 0), for the steering angles `aim`: each axis acts only
// beyond 3 degrees, pitch only while the roll error is under 30 degrees,
// each scaled by mass × dt × gain and by min(|angle| / 10, 1).
irr::core::vector3df torpedoSteering(const irr::core::vector3df& aim, float mass, float dt, float pitchGain,
                                     float rollGain);

// A torpedo body's velocity and spin, world axes.
struct TorpedoMotion {
    irr::core::vector3df velocity;  // units per second
    irr::core::vector3df omega;     // radians per second
};

// One step: the thrust mass × thrust × dt along the nose and the steering
// (own axes) are turned into world axes by `rotation`; then
//   omega    = (omega + steering) × (1 - angularDamping), per component;
//   velocity = (velocity + thrust) × linearDamping.
// With a damping of 0.9 the speed settles at 9 times the thrust of one step.
TorpedoMotion torpedoMotionStep(const irr::core::vector3df& rotation, float mass, float dt, float thrust,
                                const irr::core::vector3df& steering, const TorpedoMotion& now,
                                const irr::core::vector3df& angularDamping, float linearDamping);

// One particle as emitters build it, affectors change it and the particle
// node moves and draws it: thirteen four-byte words, no padding.
#pragma once

#include <SColor.h>
#include <irrTypes.h>
#include <vector3d.h>

namespace tarnwell {
namespace scene {

struct SParticle {
    // Position: world space when the node's particles are global, else node
    // space. Written by the emitter, moved by the node each run.
    irr::core::vector3df pos;
    // Velocity, units per millisecond. Written by the emitter; the gravity
    // affector rewrites it.
    irr::core::vector3df vector;
    // Device time (ms) of emission.
    irr::u32 startTime;
    // Device time (ms) after which the node removes the particle.
    irr::u32 endTime;
    // Colour of all four corners of the quad; the fade-out affector rewrites it.
    irr::video::SColor color;
    // Colour at emission.
    irr::video::SColor startColor;
    // Velocity at emission; the node turns it by its absolute rotation when it
    // takes the particle over.
    irr::core::vector3df startVector;
};
static_assert(sizeof(SParticle) == 13 * sizeof(irr::u32), "thirteen four-byte words");

}  // namespace scene
}  // namespace tarnwell

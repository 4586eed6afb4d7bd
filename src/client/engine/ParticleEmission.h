// The emission rule every particle emitter shares and the start positions of
// the box, sphere and ring emitters. Pure arithmetic: every draw comes from
// the random source in force (RandomSource.h), so a test pins the results
// with a scripted source and needs no device.
#pragma once

#include "client/engine/SParticle.h"

#include <SColor.h>
#include <aabbox3d.h>
#include <irrTypes.h>
#include <vector3d.h>

namespace tarnwell {
namespace scene {

// What every emitter kind holds besides its kind's own settings.
struct ParticleEmissionSettings {
    // Velocity of a new particle, units per millisecond.
    irr::core::vector3df direction;
    // Rates, particles per second. The rate of a call is drawn from the lower
    // up to (not including) the upper of the two; equal values fix it; the
    // two may come in either order.
    irr::u32 minParticlesPerSecond = 0;
    irr::u32 maxParticlesPerSecond = 0;
    // A particle's colour is drawn between these two, channel by channel.
    irr::video::SColor minStartColor{0u};
    irr::video::SColor maxStartColor{0u};
    // Lives, milliseconds, drawn like the rates.
    irr::u32 minLifeTime = 0;
    irr::u32 maxLifeTime = 0;
    // Largest turn of a particle's velocity about each axis, degrees; 0 keeps
    // the direction.
    irr::u32 maxAngleDegrees = 0;
};

// How many particles one call of an emitter builds, from the time that call
// adds. The emitter's accumulated time (starts at 0) gathers elapsed time;
// a rate is drawn at every call, and once the accumulated time exceeds the
// interval 1000 / rate (float milliseconds) the batch is the accumulated
// time in intervals rounded half up, at most twice the upper rate, and the
// accumulated time starts again from 0. Returns 0, leaving the accumulated
// time gathered, while it is not above one interval; a rate of 0 never
// emits. Draws once when the two rates differ.
irr::u32 emissionBatch(irr::u32& accumulatedMs, irr::u32 elapsedMs, irr::u32 minPerSecond,
                       irr::u32 maxPerSecond);

// Makes `particle` a particle emitted at `nowMs` at `pos` with velocity
// `vector`. When `spread` is set and the maximum angle m is above 0 the
// velocity is first turned about the Z, then the X, then the Y axis, each by
// a drawn whole angle in [-m, m) degrees. Then a life is drawn (when the two
// differ) and a colour weight in hundredths, where weight 0 gives the maximum
// colour and 0.99 nearly the minimum. startColor and startVector repeat
// colour and velocity.
void emitParticle(SParticle& particle, irr::u32 nowMs, const irr::core::vector3df& pos,
                  irr::core::vector3df vector, bool spread, const ParticleEmissionSettings& settings);

// A point of the box: per axis (X, Y, Z) the minimum plus fmod(r, extent)
// for a fresh draw r; a flat axis gives its minimum.
irr::core::vector3df boxStartPosition(const irr::core::aabbox3df& box);

// A point at (s, s, s) from the centre, s drawn in [0, radius) in steps of
// 0.001, turned about the centre by drawn whole angles about the Z,
// the X and the Y axis in turn: within radius x sqrt(3) of the centre. A
// radius of 0 gives the centre.
irr::core::vector3df sphereStartPosition(const irr::core::vector3df& center, irr::f32 radius);

// A point at (s, 0, s) from the centre with s = radius plus or minus a drawn
// offset below half the thickness, turned about the centre's Y axis by a
// drawn angle in tenths of a degree: a band around the centre in its
// horizontal plane, sqrt(2) x s out. A thickness of 0 gives the band's middle.
irr::core::vector3df ringStartPosition(const irr::core::vector3df& center, irr::f32 radius,
                                       irr::f32 thickness);

}  // namespace scene
}  // namespace tarnwell

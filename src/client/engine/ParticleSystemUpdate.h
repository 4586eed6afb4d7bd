// The per-frame rule of the particle node (CParticleSystemSceneNode.h) as a
// pure function over the node's particles, its emitter and affectors and its
// placement, so that tests run it without a device.
#pragma once

#include "client/engine/IParticleAffector.h"
#include "client/engine/IParticleEmitter.h"
#include "client/engine/SParticle.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

// The most particles one node holds: four vertices each keep a node's quads
// within 16-bit indices.
constexpr irr::u32 MAX_PARTICLES_PER_SYSTEM = 16250;

// What the rule keeps between runs.
struct ParticleSystemState {
    // Live particles, in order of emission.
    irr::core::array<SParticle> particles;
    // Bounds of the particles after the last run, node space, widened by half
    // the larger particle dimension.
    irr::core::aabbox3df box{irr::core::vector3df()};
    // Whether a first run has noted a time in lastTimeMs.
    bool started = false;
    // Device time (ms) of the last run that did its work.
    irr::u32 lastTimeMs = 0;
};

// One run at device time `nowMs`. The first run only notes the time. Later
// runs take elapsed = nowMs - the last working run's time; a run with
// elapsed 0 does nothing, so a frame that draws the scene several times at
// one time emits and moves its particles once. A working run:
// 1. takes over the emitter's batch (emitter null: none) while the node holds
//    fewer than MAX_PARTICLES_PER_SYSTEM: each start velocity is turned by
//    the rotation of `absolute` (the node's absolute transformation), and
//    with `global` set each position is carried into world space by it;
// 2. hands every particle to the affectors in order;
// 3. removes the particles past their end time (the rest keep their order),
//    moves the others by velocity x elapsed and rebuilds the box.
// Returns whether the run did its work.
bool updateParticleSystem(ParticleSystemState& state, irr::u32 nowMs, IParticleEmitter* emitter,
                          IParticleAffector* const* affectors, irr::u32 affectorCount,
                          const irr::core::matrix4& absolute, bool global,
                          const irr::core::dimension2df& particleSize);

}  // namespace scene
}  // namespace tarnwell

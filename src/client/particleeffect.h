// One effect of the particle system: its node and emitter, its ring, and the
// times that decide when emission stops and the record is retired.
#pragma once

#include <irrlicht.h>

#include <cstdint>

namespace tarnwell {
namespace scene {
class IParticleEmitter;
class IParticleSystemSceneNode;
}  // namespace scene
}  // namespace tarnwell

struct ParticleEffect {
    int32_t id = 0;
    // Grabbed by the record and dropped when it retires, so an effect whose
    // parent entity went (a ship explosion on a deleted ship) never leaves
    // the record pointing at a freed node.
    tarnwell::scene::IParticleSystemSceneNode* node = nullptr;
    // The factory's reference, kept so the emitter can be detached and
    // attached again; dropped when the record retires.
    tarnwell::scene::IParticleEmitter* emitter = nullptr;
    // The ring, or null; grabbed by the record, removed from the scene and
    // dropped when the record retires.
    irr::scene::IMeshSceneNode* shockWaveNode = nullptr;
    // The ring's own mesh copy, whose vertex colours fade it (the record
    // holds the copy's creating reference), or null.
    irr::scene::IMesh* shockWaveMesh = nullptr;
    // Engine virtual time (ms, globals.clock->getTime(), the clock of the
    // engine's delete animators) when the effect was made or last stopped.
    uint32_t startTime = 0;
    // ms; 0: emits until stopped.
    uint32_t duration = 0;
    // ms after startTime when the record retires: the longest particle life.
    uint32_t lifetime = 0;
    bool shockWave = false;
    // Set by removeEffectsOf: the effect never emits again (an entity that
    // goes on switching its trail on while it breaks apart cannot restart
    // it), and a second stop changes nothing.
    bool stopped = false;
};

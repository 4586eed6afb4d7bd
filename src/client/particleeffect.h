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
    irr::scene::IMeshSceneNode* shockWaveNode = nullptr;  // the ring, or null
    irr::scene::IMesh* shockWaveMesh = nullptr;           // the ring's own mesh copy (owned), or null
    // Engine virtual time (ms) when the effect was made or last stopped.
    uint32_t startTime = 0;
    // ms; 0: emits until stopped.
    uint32_t duration = 0;
    // ms after startTime when the record retires: the longest particle life.
    uint32_t lifetime = 0;
    bool shockWave = false;
};

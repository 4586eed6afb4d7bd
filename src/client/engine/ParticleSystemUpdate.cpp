#include "client/engine/ParticleSystemUpdate.h"

#include <algorithm>

using namespace irr;

namespace tarnwell {
namespace scene {

namespace {

// The rotation of a transformation: the images of its three axes (the
// first three elements of M[0..3], M[4..7], M[8..11]) with the scale taken
// out. A zero-scaled axis stays zero rather than dividing by its length.
core::matrix4 rotationOf(const core::matrix4& transformation) {
    core::matrix4 rotation = transformation;
    for (s32 axis = 0; axis < 3; ++axis) {
        f32* image = rotation.pointer() + 4 * axis;
        core::vector3df v(image[0], image[1], image[2]);
        v.normalize();
        image[0] = v.X;
        image[1] = v.Y;
        image[2] = v.Z;
    }
    rotation.setTranslation(core::vector3df());
    return rotation;
}

void takeOver(core::array<SParticle>& particles, const SParticle* batch, s32 count,
              const core::matrix4& absolute, bool global) {
    if (batch == nullptr || count <= 0 || particles.size() >= MAX_PARTICLES_PER_SYSTEM) {
        return;
    }
    const core::matrix4 rotation = rotationOf(absolute);
    const u32 taken = std::min(static_cast<u32>(count), MAX_PARTICLES_PER_SYSTEM - particles.size());
    for (u32 i = 0; i < taken; ++i) {
        SParticle particle = batch[i];
        rotation.rotateVect(particle.startVector);
        if (global) {
            absolute.transformVect(particle.pos);
        }
        particles.push_back(particle);
    }
}

}  // namespace

bool updateParticleSystem(ParticleSystemState& state, u32 nowMs, IParticleEmitter* emitter,
                          IParticleAffector* const* affectors, u32 affectorCount,
                          const core::matrix4& absolute, bool global,
                          const core::dimension2df& particleSize) {
    if (!state.started) {
        state.started = true;
        state.lastTimeMs = nowMs;
        return false;
    }
    // The game draws the scene four times a frame at one device time: only
    // the first of them may emit, or every call would draw a fresh rate and
    // emit more often than the rate says.
    const u32 elapsed = nowMs - state.lastTimeMs;
    if (elapsed == 0) {
        return false;
    }
    state.lastTimeMs = nowMs;

    core::array<SParticle>& particles = state.particles;
    if (emitter != nullptr) {
        SParticle* batch = nullptr;
        const s32 count = emitter->emitt(nowMs, elapsed, batch);
        takeOver(particles, batch, count, absolute, global);
    }
    for (u32 i = 0; i < affectorCount; ++i) {
        affectors[i]->affect(nowMs, particles.pointer(), particles.size());
    }

    // Removal keeps the order of the survivors in one pass.
    state.box.reset(global ? absolute.getTranslation() : core::vector3df());
    const f32 step = static_cast<f32>(elapsed);
    u32 kept = 0;
    for (u32 i = 0; i < particles.size(); ++i) {
        SParticle& particle = particles[i];
        if (nowMs > particle.endTime) {
            continue;
        }
        particle.pos += particle.vector * step;
        state.box.addInternalPoint(particle.pos);
        if (kept != i) {
            particles[kept] = particle;
        }
        ++kept;
    }
    particles.set_used(kept);

    const f32 margin = std::max(particleSize.Width, particleSize.Height) * 0.5f;
    state.box.MinEdge -= core::vector3df(margin, margin, margin);
    state.box.MaxEdge += core::vector3df(margin, margin, margin);
    core::matrix4 toNode;
    if (global && absolute.getInverse(toNode)) {
        toNode.transformBoxEx(state.box);
    }
    return true;
}

}  // namespace scene
}  // namespace tarnwell

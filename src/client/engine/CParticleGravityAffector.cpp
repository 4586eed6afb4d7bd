#include "client/engine/CParticleGravityAffector.h"

#include "client/engine/ParticleMath.h"

using namespace irr;

namespace tarnwell {
namespace scene {

CParticleGravityAffector::CParticleGravityAffector(const core::vector3df& gravity, u32 timeForceLostMs)
    : timeForceLost(static_cast<f32>(timeForceLostMs)) {
    setGravity(gravity);
}

void CParticleGravityAffector::affect(u32 nowMs, SParticle* particles, u32 count) {
    if (!Enabled) {
        return;
    }
    for (u32 i = 0; i < count; ++i) {
        SParticle& particle = particles[i];
        // Without a time (0 or below) the gravity has taken over from the
        // start; a negative quotient would otherwise keep the start velocity
        // for ever.
        f32 d = 1.0f;
        if (timeForceLost > 0.0f) {
            d = core::clamp(static_cast<f32>(nowMs - particle.startTime) / timeForceLost, 0.0f, 1.0f);
        }
        particle.vector = gravity * d + particle.startVector * (1.0f - d);
    }
}

void CParticleGravityAffector::setTimeForceLost(f32 timeMs) {
    if (isFinite(timeMs)) {
        timeForceLost = timeMs;
    }
}

void CParticleGravityAffector::setGravity(const core::vector3df& newGravity) {
    if (isFinite(newGravity)) {
        gravity = newGravity;
    }
}

const f32& CParticleGravityAffector::getTimeForceLost() const {
    return timeForceLost;
}

const core::vector3df& CParticleGravityAffector::getGravity() const {
    return gravity;
}

}  // namespace scene
}  // namespace tarnwell

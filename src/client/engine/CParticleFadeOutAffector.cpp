#include "client/engine/CParticleFadeOutAffector.h"

#include "client/engine/ParticleMath.h"

using namespace irr;

namespace tarnwell {
namespace scene {

CParticleFadeOutAffector::CParticleFadeOutAffector(const video::SColor& targetColor, u32 fadeOutTimeMs)
    : targetColor(targetColor), fadeOutTime(fadeOutTimeMs == 0 ? 1.0f : static_cast<f32>(fadeOutTimeMs)) {}

void CParticleFadeOutAffector::affect(u32 nowMs, SParticle* particles, u32 count) {
    if (!Enabled) {
        return;
    }
    for (u32 i = 0; i < count; ++i) {
        SParticle& particle = particles[i];
        // An expired particle wraps to a huge time left and keeps its colour
        // for the moment before the node removes it.
        const f32 left = static_cast<f32>(particle.endTime - nowMs);
        // Also false for a fade-out time of 0 or below: no division by it.
        if (left < fadeOutTime) {
            particle.color = blendColor(particle.startColor, targetColor, left / fadeOutTime);
        }
    }
}

void CParticleFadeOutAffector::setTargetColor(const video::SColor& color) {
    targetColor = color;
}

void CParticleFadeOutAffector::setFadeOutTime(f32 fadeOutTimeMs) {
    if (isFinite(fadeOutTimeMs)) {
        fadeOutTime = fadeOutTimeMs;
    }
}

const video::SColor& CParticleFadeOutAffector::getTargetColor() const {
    return targetColor;
}

const f32& CParticleFadeOutAffector::getFadeOutTime() const {
    return fadeOutTime;
}

}  // namespace scene
}  // namespace tarnwell

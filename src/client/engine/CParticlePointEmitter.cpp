#include "client/engine/CParticlePointEmitter.h"

namespace tarnwell {
namespace scene {

CParticlePointEmitter::CParticlePointEmitter(const ParticleEmissionSettings& settings)
    : ParticleEmitterBase(settings) {}

void CParticlePointEmitter::buildParticles(irr::u32 nowMs, irr::u32 amount) {
    for (irr::u32 i = 0; i < amount; ++i) {
        addParticle(nowMs, irr::core::vector3df(), settings.direction, true);
    }
}

}  // namespace scene
}  // namespace tarnwell

#include "client/engine/CParticleBoxEmitter.h"
#include "client/engine/Finite.h"

namespace tarnwell {
namespace scene {

CParticleBoxEmitter::CParticleBoxEmitter(const irr::core::aabbox3df& box,
                                         const ParticleEmissionSettings& settings)
    : ParticleEmitterBase(settings) {
    setBox(box);
}

void CParticleBoxEmitter::setBox(const irr::core::aabbox3df& newBox) {
    if (isFinite(newBox)) {
        box = newBox;
    }
}

const irr::core::aabbox3df& CParticleBoxEmitter::getBox() const {
    return box;
}

void CParticleBoxEmitter::buildParticles(irr::u32 nowMs, irr::u32 amount) {
    for (irr::u32 i = 0; i < amount; ++i) {
        addParticle(nowMs, boxStartPosition(box), settings.direction, true);
    }
}

}  // namespace scene
}  // namespace tarnwell

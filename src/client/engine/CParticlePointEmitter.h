// Emits every particle at the node's origin, its velocity spread by the
// maximum angle.
#pragma once

#include "client/engine/ParticleEmitterBase.h"

namespace tarnwell {
namespace scene {

class CParticlePointEmitter : public ParticleEmitterBase<IParticleEmitter> {
public:
    explicit CParticlePointEmitter(const ParticleEmissionSettings& settings);

protected:
    void buildParticles(irr::u32 nowMs, irr::u32 amount) override;
};

}  // namespace scene
}  // namespace tarnwell

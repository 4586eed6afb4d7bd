// Emits from drawn points of a box, velocities spread by the maximum angle.
#pragma once

#include "client/engine/IParticleBoxEmitter.h"
#include "client/engine/ParticleEmitterBase.h"

namespace tarnwell {
namespace scene {

class CParticleBoxEmitter : public ParticleEmitterBase<IParticleBoxEmitter> {
public:
    // A non-finite box starts as the point box at the origin.
    CParticleBoxEmitter(const irr::core::aabbox3df& box, const ParticleEmissionSettings& settings);

    void setBox(const irr::core::aabbox3df& box) override;
    const irr::core::aabbox3df& getBox() const override;

protected:
    void buildParticles(irr::u32 nowMs, irr::u32 amount) override;

private:
    irr::core::aabbox3df box{irr::core::vector3df()};
};

}  // namespace scene
}  // namespace tarnwell

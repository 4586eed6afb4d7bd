// Emits from drawn points around a centre; velocities keep the direction
// (the maximum angle is stored, not applied).
#pragma once

#include "client/engine/IParticleSphereEmitter.h"
#include "client/engine/ParticleEmitterBase.h"

namespace tarnwell {
namespace scene {

class CParticleSphereEmitter : public ParticleEmitterBase<IParticleSphereEmitter> {
public:
    // Non-finite values start as 0.
    CParticleSphereEmitter(const irr::core::vector3df& center, irr::f32 radius,
                           const ParticleEmissionSettings& settings);

    void setCenter(const irr::core::vector3df& center) override;
    void setRadius(irr::f32 radius) override;
    const irr::core::vector3df& getCenter() const override;
    const irr::f32& getRadius() const override;

protected:
    void buildParticles(irr::u32 nowMs, irr::u32 amount) override;

private:
    irr::core::vector3df center;
    irr::f32 radius = 0.0f;
};

}  // namespace scene
}  // namespace tarnwell

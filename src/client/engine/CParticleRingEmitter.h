// Emits from drawn points of a band around a centre, velocities spread by
// the maximum angle.
#pragma once

#include "client/engine/IParticleRingEmitter.h"
#include "client/engine/ParticleEmitterBase.h"

namespace tarnwell {
namespace scene {

class CParticleRingEmitter : public ParticleEmitterBase<IParticleRingEmitter> {
public:
    // Non-finite values start as 0.
    CParticleRingEmitter(const irr::core::vector3df& center, irr::f32 radius, irr::f32 ringThickness,
                         const ParticleEmissionSettings& settings);

    void setCenter(const irr::core::vector3df& center) override;
    void setRadius(irr::f32 radius) override;
    void setRingThickness(irr::f32 thickness) override;
    const irr::core::vector3df& getCenter() const override;
    const irr::f32& getRadius() const override;
    const irr::f32& getRingThickness() const override;

protected:
    void buildParticles(irr::u32 nowMs, irr::u32 amount) override;

private:
    irr::core::vector3df center;
    irr::f32 radius = 0.0f;
    irr::f32 ringThickness = 0.0f;
};

}  // namespace scene
}  // namespace tarnwell

// Sets each particle's velocity to gravity x d + start velocity x (1 - d),
// d = age / time force lost clamped to [0, 1]: after that time a particle
// moves with the gravity alone.
#pragma once

#include "client/engine/IParticleGravityAffector.h"

namespace tarnwell {
namespace scene {

class CParticleGravityAffector : public IParticleGravityAffector {
public:
    // A non-finite gravity starts as (0, 0, 0).
    CParticleGravityAffector(const irr::core::vector3df& gravity, irr::u32 timeForceLostMs);

    void affect(irr::u32 nowMs, SParticle* particles, irr::u32 count) override;
    void setTimeForceLost(irr::f32 timeMs) override;
    void setGravity(const irr::core::vector3df& gravity) override;
    const irr::f32& getTimeForceLost() const override;
    const irr::core::vector3df& getGravity() const override;

private:
    irr::f32 timeForceLost;  // ms
    irr::core::vector3df gravity;
};

}  // namespace scene
}  // namespace tarnwell

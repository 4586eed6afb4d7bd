// Emits from a band around a centre in its horizontal plane (node space).
#pragma once

#include "client/engine/IParticleEmitter.h"

namespace tarnwell {
namespace scene {

class IParticleRingEmitter : public IParticleEmitter {
public:
    // Non-finite values are refused.
    virtual void setCenter(const irr::core::vector3df& center) = 0;
    virtual void setRadius(irr::f32 radius) = 0;
    // Width of the band, world units.
    virtual void setRingThickness(irr::f32 thickness) = 0;
    virtual const irr::core::vector3df& getCenter() const = 0;
    virtual const irr::f32& getRadius() const = 0;
    virtual const irr::f32& getRingThickness() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

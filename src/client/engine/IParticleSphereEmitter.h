// Emits from points within radius x sqrt(3) of a centre (node space); the
// particles keep the direction unturned.
#pragma once

#include "client/engine/IParticleEmitter.h"

namespace tarnwell {
namespace scene {

class IParticleSphereEmitter : public IParticleEmitter {
public:
    // Non-finite values are refused.
    virtual void setCenter(const irr::core::vector3df& center) = 0;
    virtual void setRadius(irr::f32 radius) = 0;
    virtual const irr::core::vector3df& getCenter() const = 0;
    virtual const irr::f32& getRadius() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

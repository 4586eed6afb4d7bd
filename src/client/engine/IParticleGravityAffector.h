// Turns a particle's velocity from its start velocity to a gravity vector,
// linearly over a time from the particle's birth.
#pragma once

#include "client/engine/IParticleAffector.h"

namespace tarnwell {
namespace scene {

class IParticleGravityAffector : public IParticleAffector {
public:
    // Time after birth when the gravity has fully taken over, ms; 0 and below
    // give the gravity at once. Non-finite values are refused.
    virtual void setTimeForceLost(irr::f32 timeMs) = 0;
    // Velocity the particles end with, units per millisecond; non-finite
    // values are refused.
    virtual void setGravity(const irr::core::vector3df& gravity) = 0;
    virtual const irr::f32& getTimeForceLost() const = 0;
    virtual const irr::core::vector3df& getGravity() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

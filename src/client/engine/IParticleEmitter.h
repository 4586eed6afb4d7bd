// A source of new particles for the particle node (IParticleSystemSceneNode.h).
// Emitters are reference counted (count 1 after creation); the node holds
// one reference per attached emitter.
#pragma once

#include "client/engine/SParticle.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class IParticleEmitter : public irr::IReferenceCounted {
public:
    // Builds the particles due at `nowMs`, `timeSinceLastCallMs` after the
    // previous call, points `outArray` at them and returns how many. The
    // array belongs to the emitter and stays valid until the next call; a
    // call that builds none may leave `outArray` as it was.
    virtual irr::s32 emitt(irr::u32 nowMs, irr::u32 timeSinceLastCallMs, SParticle*& outArray) = 0;

    // Velocity of a new particle, units per millisecond. Non-finite values
    // are refused (the previous direction stays).
    virtual void setDirection(const irr::core::vector3df& direction) = 0;
    // Rates, particles per second: each call draws one from the lower up to
    // (not including) the upper of the two; 0 and 0 never emit.
    virtual void setMinParticlesPerSecond(irr::u32 perSecond) = 0;
    virtual void setMaxParticlesPerSecond(irr::u32 perSecond) = 0;
    // A new particle's colour lies between these two, channel by channel.
    virtual void setMinStartColor(const irr::video::SColor& color) = 0;
    virtual void setMaxStartColor(const irr::video::SColor& color) = 0;

    virtual const irr::core::vector3df& getDirection() const = 0;
    virtual const irr::u32& getMinParticlesPerSecond() const = 0;
    virtual const irr::u32& getMaxParticlesPerSecond() const = 0;
    virtual const irr::video::SColor& getMinStartColor() const = 0;
    virtual const irr::video::SColor& getMaxStartColor() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

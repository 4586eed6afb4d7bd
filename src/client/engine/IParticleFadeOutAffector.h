// Fades a particle's colour from its start colour to a target colour over
// the last milliseconds of its life.
#pragma once

#include "client/engine/IParticleAffector.h"

namespace tarnwell {
namespace scene {

class IParticleFadeOutAffector : public IParticleAffector {
public:
    virtual void setTargetColor(const irr::video::SColor& color) = 0;
    // Length of the fade before the particle's end, ms; non-finite values are
    // refused.
    virtual void setFadeOutTime(irr::f32 fadeOutTimeMs) = 0;
    virtual const irr::video::SColor& getTargetColor() const = 0;
    virtual const irr::f32& getFadeOutTime() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

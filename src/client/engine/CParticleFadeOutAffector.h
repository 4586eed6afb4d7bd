// Fades each particle with less than the fade-out time to live: its colour
// is the start colour x d + the target colour x (1 - d), channel by channel,
// truncated, where d = time left / fade-out time. Particles with more time
// left keep their colour.
#pragma once

#include "client/engine/IParticleFadeOutAffector.h"

namespace tarnwell {
namespace scene {

class CParticleFadeOutAffector : public IParticleFadeOutAffector {
public:
    // A fade-out time of 0 becomes 1 ms.
    CParticleFadeOutAffector(const irr::video::SColor& targetColor, irr::u32 fadeOutTimeMs);

    void affect(irr::u32 nowMs, SParticle* particles, irr::u32 count) override;
    void setTargetColor(const irr::video::SColor& color) override;
    void setFadeOutTime(irr::f32 fadeOutTimeMs) override;
    const irr::video::SColor& getTargetColor() const override;
    const irr::f32& getFadeOutTime() const override;

private:
    irr::video::SColor targetColor;
    irr::f32 fadeOutTime;  // ms
};

}  // namespace scene
}  // namespace tarnwell

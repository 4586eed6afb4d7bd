// Changes the live particles of the particle node (IParticleSystemSceneNode.h)
// once per run of the node, in the order the affectors were added.
// Affectors are reference counted (count 1 after creation); the node holds
// one reference per added affector.
#pragma once

#include "client/engine/SParticle.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class IParticleAffector : public irr::IReferenceCounted {
public:
    // Changes `count` particles at device time `nowMs`. The node calls it
    // before it removes expired particles, so a particle may already be past
    // its end time.
    virtual void affect(irr::u32 nowMs, SParticle* particles, irr::u32 count) = 0;

    // While off, affect changes no particle (the attraction and rotation
    // affectors still note the time of the call). On after creation.
    virtual void setEnabled(bool enabled) { Enabled = enabled; }
    virtual const bool& getEnabled() const { return Enabled; }

protected:
    bool Enabled = true;
};

}  // namespace scene
}  // namespace tarnwell

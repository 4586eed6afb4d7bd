// Moves particles towards a point (or away from it at a negative speed) on
// chosen axes; the class adds the speed and the axes.
#pragma once

#include "client/engine/IParticleAffector.h"

namespace tarnwell {
namespace scene {

class IParticleAttractionAffector : public IParticleAffector {
public:
    // The point, in the particles' space; non-finite values are refused.
    virtual void setPoint(const irr::core::vector3df& point) = 0;
    virtual const irr::core::vector3df& getPoint() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

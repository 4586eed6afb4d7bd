// Emits from the points of an axis-aligned box (node space).
#pragma once

#include "client/engine/IParticleEmitter.h"

namespace tarnwell {
namespace scene {

class IParticleBoxEmitter : public IParticleEmitter {
public:
    // Non-finite corners are refused.
    virtual void setBox(const irr::core::aabbox3df& box) = 0;
    virtual const irr::core::aabbox3df& getBox() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

// Turns particle positions about a pivot at constant angular speeds about
// the X, then the Y, then the Z axis.
#pragma once

#include "client/engine/IParticleAffector.h"

namespace tarnwell {
namespace scene {

class IParticleRotationAffector : public IParticleAffector {
public:
    // The pivot, in the particles' space; non-finite values are refused.
    virtual void setPivotPoint(const irr::core::vector3df& point) = 0;
    // Degrees per second; non-finite values are refused.
    virtual void setSpeedX(irr::f32 degreesPerSecond) = 0;
    virtual void setSpeedY(irr::f32 degreesPerSecond) = 0;
    virtual void setSpeedZ(irr::f32 degreesPerSecond) = 0;
    virtual const irr::core::vector3df& getPivotPoint() const = 0;
    virtual const irr::f32& getSpeedX() const = 0;
    virtual const irr::f32& getSpeedY() const = 0;
    virtual const irr::f32& getSpeedZ() const = 0;
};

}  // namespace scene
}  // namespace tarnwell

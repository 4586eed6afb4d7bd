// Moves each particle towards the point by speed x the time since the
// previous call, along the unit vector to the point, on the axes whose flag
// is set (a negative speed pushes away). The first call only notes the time;
// later calls move by the time since the one before, enabled or not.
#pragma once

#include "client/engine/IParticleAttractionAffector.h"

namespace tarnwell {
namespace scene {

class CParticleAttractionAffector : public IParticleAttractionAffector {
public:
    // A non-finite point or speed starts as 0.
    CParticleAttractionAffector(const irr::core::vector3df& point, irr::f32 speed, bool affectX, bool affectY,
                                bool affectZ);

    void affect(irr::u32 nowMs, SParticle* particles, irr::u32 count) override;
    void setPoint(const irr::core::vector3df& point) override;
    const irr::core::vector3df& getPoint() const override;
    // Units per second; non-finite values are refused.
    void setSpeed(irr::f32 speed);
    void setAffectX(bool affect);
    void setAffectY(bool affect);
    void setAffectZ(bool affect);
    const irr::f32& getSpeed() const;
    const bool& getAffectX() const;
    const bool& getAffectY() const;
    const bool& getAffectZ() const;

private:
    irr::core::vector3df point;
    irr::f32 speed = 0.0f;
    bool affectX;
    bool affectY;
    bool affectZ;
    irr::u32 lastTimeMs = 0;  // 0 until the first call
};

}  // namespace scene
}  // namespace tarnwell

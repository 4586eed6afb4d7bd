// Turns each particle's position about the pivot by speed x the time since
// the previous call: about the X axis, then Y, then Z, skipping axes of speed
// 0. The first call only notes the time; later calls turn by the time since
// the one before, enabled or not.
#pragma once

#include "client/engine/IParticleRotationAffector.h"

namespace tarnwell {
namespace scene {

class CParticleRotationAffector : public IParticleRotationAffector {
public:
    // speed: degrees per second about X, Y and Z. Non-finite values start
    // as 0.
    CParticleRotationAffector(const irr::core::vector3df& speed, const irr::core::vector3df& pivotPoint);

    void affect(irr::u32 nowMs, SParticle* particles, irr::u32 count) override;
    void setPivotPoint(const irr::core::vector3df& point) override;
    void setSpeedX(irr::f32 degreesPerSecond) override;
    void setSpeedY(irr::f32 degreesPerSecond) override;
    void setSpeedZ(irr::f32 degreesPerSecond) override;
    const irr::core::vector3df& getPivotPoint() const override;
    const irr::f32& getSpeedX() const override;
    const irr::f32& getSpeedY() const override;
    const irr::f32& getSpeedZ() const override;

private:
    irr::core::vector3df pivotPoint;
    irr::core::vector3df speed;  // degrees per second about X, Y, Z
    irr::u32 lastTimeMs = 0;     // 0 until the first call
};

}  // namespace scene
}  // namespace tarnwell

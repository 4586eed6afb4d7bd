#include "client/engine/CParticleRotationAffector.h"

#include "client/engine/ParticleMath.h"

using namespace irr;

namespace tarnwell {
namespace scene {

CParticleRotationAffector::CParticleRotationAffector(const core::vector3df& speed,
                                                     const core::vector3df& pivotPoint) {
    setSpeedX(speed.X);
    setSpeedY(speed.Y);
    setSpeedZ(speed.Z);
    setPivotPoint(pivotPoint);
}

void CParticleRotationAffector::affect(u32 nowMs, SParticle* particles, u32 count) {
    if (lastTimeMs == 0) {
        lastTimeMs = nowMs;
        return;
    }
    const f64 seconds = static_cast<f64>(nowMs - lastTimeMs) / 1000.0;
    lastTimeMs = nowMs;
    if (!Enabled) {
        return;
    }
    for (u32 i = 0; i < count; ++i) {
        core::vector3df& pos = particles[i].pos;
        if (speed.X != 0.0f) {
            pos.rotateYZBy(speed.X * seconds, pivotPoint);
        }
        if (speed.Y != 0.0f) {
            pos.rotateXZBy(speed.Y * seconds, pivotPoint);
        }
        if (speed.Z != 0.0f) {
            pos.rotateXYBy(speed.Z * seconds, pivotPoint);
        }
    }
}

void CParticleRotationAffector::setPivotPoint(const core::vector3df& point) {
    if (isFinite(point)) {
        pivotPoint = point;
    }
}

void CParticleRotationAffector::setSpeedX(f32 degreesPerSecond) {
    if (isFinite(degreesPerSecond)) {
        speed.X = degreesPerSecond;
    }
}

void CParticleRotationAffector::setSpeedY(f32 degreesPerSecond) {
    if (isFinite(degreesPerSecond)) {
        speed.Y = degreesPerSecond;
    }
}

void CParticleRotationAffector::setSpeedZ(f32 degreesPerSecond) {
    if (isFinite(degreesPerSecond)) {
        speed.Z = degreesPerSecond;
    }
}

const core::vector3df& CParticleRotationAffector::getPivotPoint() const {
    return pivotPoint;
}

const f32& CParticleRotationAffector::getSpeedX() const {
    return speed.X;
}

const f32& CParticleRotationAffector::getSpeedY() const {
    return speed.Y;
}

const f32& CParticleRotationAffector::getSpeedZ() const {
    return speed.Z;
}

}  // namespace scene
}  // namespace tarnwell

#include "client/engine/CParticleAttractionAffector.h"

#include "client/engine/ParticleMath.h"

using namespace irr;

namespace tarnwell {
namespace scene {

CParticleAttractionAffector::CParticleAttractionAffector(const core::vector3df& point, f32 speed,
                                                         bool affectX, bool affectY, bool affectZ)
    : affectX(affectX), affectY(affectY), affectZ(affectZ) {
    setPoint(point);
    setSpeed(speed);
}

void CParticleAttractionAffector::affect(u32 nowMs, SParticle* particles, u32 count) {
    if (lastTimeMs == 0) {
        lastTimeMs = nowMs;
        return;
    }
    const f32 step = speed * static_cast<f32>(nowMs - lastTimeMs) / 1000.0f;
    lastTimeMs = nowMs;
    if (!Enabled) {
        return;
    }
    for (u32 i = 0; i < count; ++i) {
        SParticle& particle = particles[i];
        // A particle on the point has no direction to it and stays; the
        // length is taken in double so that a tiny offset still normalises.
        const core::vector3df offset = point - particle.pos;
        const f64 length = core::vector3d<f64>(offset.X, offset.Y, offset.Z).getLength();
        if (!(length > 0.0)) {
            continue;
        }
        const core::vector3df direction(static_cast<f32>(offset.X / length),
                                        static_cast<f32>(offset.Y / length),
                                        static_cast<f32>(offset.Z / length));
        if (affectX) {
            particle.pos.X += direction.X * step;
        }
        if (affectY) {
            particle.pos.Y += direction.Y * step;
        }
        if (affectZ) {
            particle.pos.Z += direction.Z * step;
        }
    }
}

void CParticleAttractionAffector::setPoint(const core::vector3df& newPoint) {
    if (isFinite(newPoint)) {
        point = newPoint;
    }
}

const core::vector3df& CParticleAttractionAffector::getPoint() const {
    return point;
}

void CParticleAttractionAffector::setSpeed(f32 newSpeed) {
    if (isFinite(newSpeed)) {
        speed = newSpeed;
    }
}

void CParticleAttractionAffector::setAffectX(bool affect) {
    affectX = affect;
}

void CParticleAttractionAffector::setAffectY(bool affect) {
    affectY = affect;
}

void CParticleAttractionAffector::setAffectZ(bool affect) {
    affectZ = affect;
}

const f32& CParticleAttractionAffector::getSpeed() const {
    return speed;
}

const bool& CParticleAttractionAffector::getAffectX() const {
    return affectX;
}

const bool& CParticleAttractionAffector::getAffectY() const {
    return affectY;
}

const bool& CParticleAttractionAffector::getAffectZ() const {
    return affectZ;
}

}  // namespace scene
}  // namespace tarnwell

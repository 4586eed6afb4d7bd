#include "client/engine/CParticleSphereEmitter.h"
#include "client/engine/Finite.h"

namespace tarnwell {
namespace scene {

CParticleSphereEmitter::CParticleSphereEmitter(const irr::core::vector3df& center, irr::f32 radius,
                                               const ParticleEmissionSettings& settings)
    : ParticleEmitterBase(settings) {
    setCenter(center);
    setRadius(radius);
}

void CParticleSphereEmitter::setCenter(const irr::core::vector3df& newCenter) {
    if (isFinite(newCenter)) {
        center = newCenter;
    }
}

void CParticleSphereEmitter::setRadius(irr::f32 newRadius) {
    if (isFinite(newRadius)) {
        radius = newRadius;
    }
}

const irr::core::vector3df& CParticleSphereEmitter::getCenter() const {
    return center;
}

const irr::f32& CParticleSphereEmitter::getRadius() const {
    return radius;
}

void CParticleSphereEmitter::buildParticles(irr::u32 nowMs, irr::u32 amount) {
    for (irr::u32 i = 0; i < amount; ++i) {
        addParticle(nowMs, sphereStartPosition(center, radius), settings.direction, false);
    }
}

}  // namespace scene
}  // namespace tarnwell

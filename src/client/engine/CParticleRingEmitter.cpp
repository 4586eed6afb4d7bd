#include "client/engine/CParticleRingEmitter.h"
#include "client/engine/Finite.h"

namespace tarnwell {
namespace scene {

CParticleRingEmitter::CParticleRingEmitter(const irr::core::vector3df& center, irr::f32 radius,
                                           irr::f32 ringThickness, const ParticleEmissionSettings& settings)
    : ParticleEmitterBase(settings) {
    setCenter(center);
    setRadius(radius);
    setRingThickness(ringThickness);
}

void CParticleRingEmitter::setCenter(const irr::core::vector3df& newCenter) {
    if (isFinite(newCenter)) {
        center = newCenter;
    }
}

void CParticleRingEmitter::setRadius(irr::f32 newRadius) {
    if (isFinite(newRadius)) {
        radius = newRadius;
    }
}

void CParticleRingEmitter::setRingThickness(irr::f32 thickness) {
    if (isFinite(thickness)) {
        ringThickness = thickness;
    }
}

const irr::core::vector3df& CParticleRingEmitter::getCenter() const {
    return center;
}

const irr::f32& CParticleRingEmitter::getRadius() const {
    return radius;
}

const irr::f32& CParticleRingEmitter::getRingThickness() const {
    return ringThickness;
}

void CParticleRingEmitter::buildParticles(irr::u32 nowMs, irr::u32 amount) {
    for (irr::u32 i = 0; i < amount; ++i) {
        addParticle(nowMs, ringStartPosition(center, radius, ringThickness), settings.direction, true);
    }
}

}  // namespace scene
}  // namespace tarnwell

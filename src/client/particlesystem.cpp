#include "client/particlesystem.h"

ParticleSystem::ParticleSystem(ResourceHandler* resources) : resources(resources) {}
ParticleSystem::ParticleSystem(NoScene) {}
ParticleSystem::~ParticleSystem() = default;

int32_t ParticleSystem::addEffect(const irr::core::vector3df&, const irr::core::dimension2df&,
                                  const irr::core::vector3df&, float, const irr::core::vector3df&, uint32_t,
                                  const irr::core::vector3df&, uint32_t, uint32_t, irr::video::SColor,
                                  irr::video::SColor, uint32_t, uint32_t, int32_t, uint32_t, uint32_t,
                                  irr::video::ITexture*, irr::scene::ISceneNode*, bool, bool) {
    return nextEffectId++;
}
int32_t ParticleSystem::addBoxEffect(const irr::core::vector3df&, const irr::core::dimension2df&,
                                     const irr::core::aabbox3df&, const irr::core::vector3df&, uint32_t,
                                     const irr::core::vector3df&, uint32_t, uint32_t, irr::video::SColor,
                                     irr::video::SColor, uint32_t, uint32_t, int32_t, uint32_t, uint32_t,
                                     irr::video::ITexture*, irr::scene::ISceneNode*) {
    return nextEffectId++;
}
void ParticleSystem::addPointEffect(const irr::core::vector3df&, const irr::core::dimension2df&,
                                    const irr::core::vector3df&, uint32_t, uint32_t, irr::video::SColor,
                                    irr::video::SColor, uint32_t, uint32_t, int32_t, uint32_t, uint32_t,
                                    irr::video::ITexture*) {}
void ParticleSystem::addBlueImpact(const irr::core::vector3df&) {}
void ParticleSystem::addFireImpact(const irr::core::vector3df&) {}
void ParticleSystem::addShipExplosion(irr::scene::ISceneNode*) {}
void ParticleSystem::addDebrisBurst(const irr::core::vector3df&) {}
void ParticleSystem::addExplosion(const irr::core::vector3df&) {}
int32_t ParticleSystem::addShipBubbleTrail(const irr::core::vector3df&, irr::scene::ISceneNode*) { return -1; }
int32_t ParticleSystem::addTorpedoBubbleTrail(const irr::core::vector3df&, irr::scene::ISceneNode*) {
    return -1;
}
void ParticleSystem::addBubbleBurst(const irr::core::vector3df&, irr::scene::ISceneNode*) {}
int32_t ParticleSystem::addDebrisTrail(const irr::core::vector3df&, irr::scene::ISceneNode*) { return -1; }
void ParticleSystem::addAmbientBubbles(const irr::core::vector3df&, irr::scene::ISceneNode*) {}
void ParticleSystem::addCameraParticles() {}
void ParticleSystem::removeEffectsOf(int32_t) {}
void ParticleSystem::enableEmitters(int32_t) {}
void ParticleSystem::disableEmitters(int32_t) {}
void ParticleSystem::setEffectVisible(int32_t, bool) {}
void ParticleSystem::update(float) {}
void ParticleSystem::spawnDebris(irr::s32, const irr::core::vector3df&) {}

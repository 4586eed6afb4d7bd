// The particle node: keeps up to MAX_PARTICLES_PER_SYSTEM particles, runs
// the per-frame rule of ParticleSystemUpdate.h from OnAnimate and draws each
// particle as a quad facing the active camera, with the node's one material,
// registered for the pass its material asks for (transparent for the
// blending materials particles use). Its box bounds the particles, so the
// node keeps the engine's automatic culling.
#pragma once

#include "client/engine/IParticleSystemSceneNode.h"
#include "client/engine/ParticleSystemUpdate.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class CParticleSystemSceneNode : public IParticleSystemSceneNode {
public:
    // createDefaultEmitter: see addParticleSystemSceneNode.
    CParticleSystemSceneNode(bool createDefaultEmitter, irr::scene::ISceneNode* parent,
                             irr::scene::ISceneManager* manager, irr::s32 id,
                             const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                             const irr::core::vector3df& scale);
    // Drops the emitter and the affectors.
    ~CParticleSystemSceneNode() override;

    // Animators and children first, so that the rule sees this frame's
    // absolute transformation.
    void OnAnimate(irr::u32 timeMs) override;
    void OnRegisterSceneNode() override;
    void render() override;
    const irr::core::aabbox3df& getBoundingBox() const override;
    // The one material, whatever the index.
    irr::video::SMaterial& getMaterial(irr::u32 index) override;
    irr::u32 getMaterialCount() const override;

    void setParticleSize(const irr::core::dimension2df& size) override;
    void setParticlesAreGlobal(bool global) override;
    void setEmitter(IParticleEmitter* emitter) override;
    void addAffector(IParticleAffector* affector) override;
    void removeAllAffectors() override;

    IParticleEmitter* createPointEmitter(const irr::core::vector3df& direction,
                                         irr::u32 minParticlesPerSecond, irr::u32 maxParticlesPerSecond,
                                         const irr::video::SColor& minStartColor,
                                         const irr::video::SColor& maxStartColor, irr::u32 lifeTimeMin,
                                         irr::u32 lifeTimeMax, irr::u32 maxAngleDegrees) override;
    IParticleBoxEmitter* createBoxEmitter(const irr::core::aabbox3df& box,
                                          const irr::core::vector3df& direction,
                                          irr::u32 minParticlesPerSecond, irr::u32 maxParticlesPerSecond,
                                          const irr::video::SColor& minStartColor,
                                          const irr::video::SColor& maxStartColor, irr::u32 lifeTimeMin,
                                          irr::u32 lifeTimeMax, irr::u32 maxAngleDegrees) override;
    IParticleSphereEmitter* createSphereEmitter(const irr::core::vector3df& center, irr::f32 radius,
                                                const irr::core::vector3df& direction,
                                                irr::u32 minParticlesPerSecond,
                                                irr::u32 maxParticlesPerSecond,
                                                const irr::video::SColor& minStartColor,
                                                const irr::video::SColor& maxStartColor, irr::u32 lifeTimeMin,
                                                irr::u32 lifeTimeMax, irr::u32 maxAngleDegrees) override;
    IParticleRingEmitter* createRingEmitter(const irr::core::vector3df& center, irr::f32 radius,
                                            irr::f32 ringThickness, const irr::core::vector3df& direction,
                                            irr::u32 minParticlesPerSecond, irr::u32 maxParticlesPerSecond,
                                            const irr::video::SColor& minStartColor,
                                            const irr::video::SColor& maxStartColor, irr::u32 lifeTimeMin,
                                            irr::u32 lifeTimeMax, irr::u32 maxAngleDegrees) override;
    IParticleMeshEmitter* createMeshEmitter(irr::scene::IMesh* mesh, bool useNormalDirection,
                                            const irr::core::vector3df& direction,
                                            irr::f32 normalDirectionModifier, irr::s32 meshBufferNumber,
                                            bool everyMeshVertex, irr::u32 minParticlesPerSecond,
                                            irr::u32 maxParticlesPerSecond,
                                            const irr::video::SColor& minStartColor,
                                            const irr::video::SColor& maxStartColor, irr::u32 lifeTimeMin,
                                            irr::u32 lifeTimeMax, irr::u32 maxAngleDegrees) override;
    IParticleFadeOutAffector* createFadeOutParticleAffector(const irr::video::SColor& targetColor,
                                                            irr::u32 timeNeededToFadeOut) override;
    IParticleGravityAffector* createGravityAffector(const irr::core::vector3df& gravity,
                                                    irr::u32 timeForceLost) override;
    IParticleAttractionAffector* createAttractionAffector(const irr::core::vector3df& point, irr::f32 speed,
                                                          bool affectX, bool affectY, bool affectZ) override;
    IParticleRotationAffector* createRotationAffector(const irr::core::vector3df& speed,
                                                      const irr::core::vector3df& pivotPoint) override;

    // The live particles after the last run, for inspection.
    const irr::core::array<SParticle>& getParticles() const { return state.particles; }

private:
    ParticleSystemState state;
    IParticleEmitter* emitter = nullptr;             // one reference held
    irr::core::array<IParticleAffector*> affectors;  // one reference each, in order of addition
    irr::core::dimension2df particleSize{5.0f, 5.0f};
    bool particlesAreGlobal = true;
    irr::video::SMaterial material;
    // Quads of the last render, kept to reuse their memory; the indices grow
    // with the most particles drawn and never change.
    irr::core::array<irr::video::S3DVertex> vertices;
    irr::core::array<irr::u16> indices;
};

}  // namespace scene
}  // namespace tarnwell

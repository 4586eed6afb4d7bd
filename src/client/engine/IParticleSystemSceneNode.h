// A scene node of particles drawn as camera-facing quads, with factories for
// five emitter kinds (point, box, sphere, ring, mesh) and four affector kinds
// (fade-out, gravity, attraction, rotation).
//
// Per frame the node runs its rule (ParticleSystemUpdate.h) from OnAnimate,
// which the scene manager calls at the start of every drawAll with the
// device's virtual time: emission (only while the node is visible), the
// affectors, then ageing and movement by the time since the last run. A
// frame that draws the scene several times (the game draws it four times)
// runs the rule once, as the later calls see no time pass.
#pragma once

#include "client/engine/IParticleAffector.h"
#include "client/engine/IParticleAttractionAffector.h"
#include "client/engine/IParticleBoxEmitter.h"
#include "client/engine/IParticleEmitter.h"
#include "client/engine/IParticleFadeOutAffector.h"
#include "client/engine/IParticleGravityAffector.h"
#include "client/engine/IParticleMeshEmitter.h"
#include "client/engine/IParticleRingEmitter.h"
#include "client/engine/IParticleRotationAffector.h"
#include "client/engine/IParticleSphereEmitter.h"

#include <irrlicht.h>

namespace tarnwell {
namespace scene {

class IParticleSystemSceneNode : public irr::scene::ISceneNode {
public:
    IParticleSystemSceneNode(irr::scene::ISceneNode* parent, irr::scene::ISceneManager* manager, irr::s32 id,
                             const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                             const irr::core::vector3df& scale)
        : irr::scene::ISceneNode(parent, manager, id, position, rotation, scale) {}

    // Width and height of every particle's quad, world units (node units for
    // local particles). Non-finite sizes are refused. 5 x 5 at creation.
    virtual void setParticleSize(const irr::core::dimension2df& size = irr::core::dimension2df(5.0f,
                                                                                               5.0f)) = 0;
    // Global particles (the default) are emitted into world space and stay
    // where they are when the node moves; local ones move with the node.
    virtual void setParticlesAreGlobal(bool global = true) = 0;
    // Attaches `emitter` (grabbed) in place of the previous one (dropped);
    // null stops emission. Setting the attached emitter again keeps it.
    virtual void setEmitter(IParticleEmitter* emitter) = 0;
    // Grabs `affector` and appends it to the affectors; null is ignored.
    virtual void addAffector(IParticleAffector* affector) = 0;
    // Drops and removes every affector.
    virtual void removeAllAffectors() = 0;

    // The factories return a new object with a reference count of 1, which
    // the caller owns and drops, or null when memory runs out. Shared
    // arguments: direction, units per millisecond; particles per second;
    // start colours; lives, ms; the largest turn of the direction, degrees
    // (the sphere and mesh emitters store it without applying it).
    virtual IParticleEmitter* createPointEmitter(
        const irr::core::vector3df& direction = irr::core::vector3df(0.0f, 0.03f, 0.0f),
        irr::u32 minParticlesPerSecond = 5, irr::u32 maxParticlesPerSecond = 10,
        const irr::video::SColor& minStartColor = irr::video::SColor(255, 0, 0, 0),
        const irr::video::SColor& maxStartColor = irr::video::SColor(255, 255, 255, 255),
        irr::u32 lifeTimeMin = 2000, irr::u32 lifeTimeMax = 4000, irr::u32 maxAngleDegrees = 0) = 0;

    virtual IParticleBoxEmitter* createBoxEmitter(
        const irr::core::aabbox3df& box = irr::core::aabbox3df(-10.0f, 28.0f, -10.0f, 10.0f, 30.0f, 10.0f),
        const irr::core::vector3df& direction = irr::core::vector3df(0.0f, 0.03f, 0.0f),
        irr::u32 minParticlesPerSecond = 5, irr::u32 maxParticlesPerSecond = 10,
        const irr::video::SColor& minStartColor = irr::video::SColor(255, 0, 0, 0),
        const irr::video::SColor& maxStartColor = irr::video::SColor(255, 255, 255, 255),
        irr::u32 lifeTimeMin = 2000, irr::u32 lifeTimeMax = 4000, irr::u32 maxAngleDegrees = 0) = 0;

    virtual IParticleSphereEmitter* createSphereEmitter(
        const irr::core::vector3df& center = irr::core::vector3df(), irr::f32 radius = 10.0f,
        const irr::core::vector3df& direction = irr::core::vector3df(0.0f, 0.03f, 0.0f),
        irr::u32 minParticlesPerSecond = 5, irr::u32 maxParticlesPerSecond = 10,
        const irr::video::SColor& minStartColor = irr::video::SColor(255, 0, 0, 0),
        const irr::video::SColor& maxStartColor = irr::video::SColor(255, 255, 255, 255),
        irr::u32 lifeTimeMin = 2000, irr::u32 lifeTimeMax = 4000, irr::u32 maxAngleDegrees = 0) = 0;

    virtual IParticleRingEmitter* createRingEmitter(
        const irr::core::vector3df& center = irr::core::vector3df(), irr::f32 radius = 10.0f,
        irr::f32 ringThickness = 1.0f,
        const irr::core::vector3df& direction = irr::core::vector3df(0.0f, 0.03f, 0.0f),
        irr::u32 minParticlesPerSecond = 5, irr::u32 maxParticlesPerSecond = 10,
        const irr::video::SColor& minStartColor = irr::video::SColor(255, 0, 0, 0),
        const irr::video::SColor& maxStartColor = irr::video::SColor(255, 255, 255, 255),
        irr::u32 lifeTimeMin = 2000, irr::u32 lifeTimeMax = 4000, irr::u32 maxAngleDegrees = 0) = 0;

    // mesh: borrowed (see IParticleMeshEmitter.h). meshBufferNumber: the one
    // buffer to emit from, negative for any.
    virtual IParticleMeshEmitter* createMeshEmitter(
        irr::scene::IMesh* mesh, bool useNormalDirection = true,
        const irr::core::vector3df& direction = irr::core::vector3df(0.0f, 0.03f, 0.0f),
        irr::f32 normalDirectionModifier = 100.0f, irr::s32 meshBufferNumber = -1,
        bool everyMeshVertex = false, irr::u32 minParticlesPerSecond = 5, irr::u32 maxParticlesPerSecond = 10,
        const irr::video::SColor& minStartColor = irr::video::SColor(255, 0, 0, 0),
        const irr::video::SColor& maxStartColor = irr::video::SColor(255, 255, 255, 255),
        irr::u32 lifeTimeMin = 2000, irr::u32 lifeTimeMax = 4000, irr::u32 maxAngleDegrees = 0) = 0;

    virtual IParticleFadeOutAffector* createFadeOutParticleAffector(
        const irr::video::SColor& targetColor = irr::video::SColor(0, 0, 0, 0),
        irr::u32 timeNeededToFadeOut = 1000) = 0;

    virtual IParticleGravityAffector* createGravityAffector(
        const irr::core::vector3df& gravity = irr::core::vector3df(0.0f, -0.03f, 0.0f),
        irr::u32 timeForceLost = 1000) = 0;

    // speed: units per second.
    virtual IParticleAttractionAffector* createAttractionAffector(const irr::core::vector3df& point,
                                                                  irr::f32 speed = 1.0f, bool affectX = true,
                                                                  bool affectY = true,
                                                                  bool affectZ = true) = 0;

    // speed: degrees per second about X, Y and Z.
    virtual IParticleRotationAffector* createRotationAffector(
        const irr::core::vector3df& speed = irr::core::vector3df(5.0f, 5.0f, 5.0f),
        const irr::core::vector3df& pivotPoint = irr::core::vector3df()) = 0;
};

// Adds a particle node to the scene, below `parent` (null: the scene root),
// and returns it; the scene owns it (do not drop it), null when `manager` is
// null or memory runs out. With `withDefaultEmitter` the node starts with a
// point emitter: direction (0, 0.03, 0), 5 to 10 per second, colours
// (255, 0, 0, 0) to (255, 255, 255, 255), lives 2000 to 4000 ms, no spread.
// The engine's own ISceneManager::addParticleSystemSceneNode makes the
// engine's node, not this one.
IParticleSystemSceneNode* addParticleSystemSceneNode(
    irr::scene::ISceneManager* manager, bool withDefaultEmitter = true,
    irr::scene::ISceneNode* parent = nullptr, irr::s32 id = -1,
    const irr::core::vector3df& position = irr::core::vector3df(),
    const irr::core::vector3df& rotation = irr::core::vector3df(),
    const irr::core::vector3df& scale = irr::core::vector3df(1.0f, 1.0f, 1.0f));

}  // namespace scene
}  // namespace tarnwell

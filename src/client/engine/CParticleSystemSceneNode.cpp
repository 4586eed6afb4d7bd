#include "client/engine/CParticleSystemSceneNode.h"

#include "client/engine/CParticleAttractionAffector.h"
#include "client/engine/CParticleBoxEmitter.h"
#include "client/engine/CParticleFadeOutAffector.h"
#include "client/engine/CParticleGravityAffector.h"
#include "client/engine/CParticleMeshEmitter.h"
#include "client/engine/CParticlePointEmitter.h"
#include "client/engine/CParticleRingEmitter.h"
#include "client/engine/CParticleRotationAffector.h"
#include "client/engine/CParticleSphereEmitter.h"
#include "client/engine/ParticleMath.h"

#include <new>

using namespace irr;

namespace tarnwell {
namespace scene {

namespace {

ParticleEmissionSettings emission(const core::vector3df& direction, u32 minPerSecond, u32 maxPerSecond,
                                  const video::SColor& minColor, const video::SColor& maxColor, u32 lifeMin,
                                  u32 lifeMax, u32 maxAngle) {
    ParticleEmissionSettings settings;
    settings.direction = direction;
    settings.minParticlesPerSecond = minPerSecond;
    settings.maxParticlesPerSecond = maxPerSecond;
    settings.minStartColor = minColor;
    settings.maxStartColor = maxColor;
    settings.minLifeTime = lifeMin;
    settings.maxLifeTime = lifeMax;
    settings.maxAngleDegrees = maxAngle;
    return settings;
}

}  // namespace

CParticleSystemSceneNode::CParticleSystemSceneNode(bool createDefaultEmitter, irr::scene::ISceneNode* parent,
                                                   irr::scene::ISceneManager* manager, s32 id,
                                                   const core::vector3df& position,
                                                   const core::vector3df& rotation,
                                                   const core::vector3df& scale)
    : IParticleSystemSceneNode(parent, manager, id, position, rotation, scale) {
    if (createDefaultEmitter) {
        IParticleEmitter* point =
            createPointEmitter(core::vector3df(0.0f, 0.03f, 0.0f), 5, 10, video::SColor(255, 0, 0, 0),
                               video::SColor(255, 255, 255, 255), 2000, 4000, 0);
        setEmitter(point);
        if (point != nullptr) {
            point->drop();
        }
    }
}

CParticleSystemSceneNode::~CParticleSystemSceneNode() {
    setEmitter(nullptr);
    removeAllAffectors();
}

void CParticleSystemSceneNode::OnAnimate(u32 timeMs) {
    ISceneNode::OnAnimate(timeMs);
    updateParticleSystem(state, timeMs, IsVisible ? emitter : nullptr, affectors.const_pointer(),
                         affectors.size(), AbsoluteTransformation, particlesAreGlobal, particleSize);
}

void CParticleSystemSceneNode::OnRegisterSceneNode() {
    if (!IsVisible) {
        return;
    }
    if (!state.particles.empty()) {
        SceneManager->registerNodeForRendering(this, irr::scene::ESNRP_AUTOMATIC);
    }
    ISceneNode::OnRegisterSceneNode();
}

void CParticleSystemSceneNode::render() {
    video::IVideoDriver* driver = SceneManager->getVideoDriver();
    const irr::scene::ICameraSceneNode* camera = SceneManager->getActiveCamera();
    const u32 count = state.particles.size();
    if (driver == nullptr || camera == nullptr || count == 0) {
        return;
    }
    // The view matrix holds the camera's right, up and forward axes in
    // (M[0], M[4], M[8]), (M[1], M[5], M[9]) and (M[2], M[6], M[10]).
    const core::matrix4& view = camera->getViewMatrix();
    core::vector3df right(view[0], view[4], view[8]);
    core::vector3df up(view[1], view[5], view[9]);
    core::vector3df toCamera(-view[2], -view[6], -view[10]);
    // Local particles are drawn through the node's transformation: the axes
    // go into node space with it, so that the quads still face the camera at
    // their size in world units.
    core::matrix4 toNode;
    if (!particlesAreGlobal && AbsoluteTransformation.getInverse(toNode)) {
        toNode.rotateVect(right);
        toNode.rotateVect(up);
        toNode.rotateVect(toCamera);
        toCamera.normalize();
    }
    const core::vector3df across = right * (particleSize.Width * 0.5f);
    const core::vector3df upward = up * (particleSize.Height * 0.5f);

    vertices.set_used(4 * count);
    for (u32 i = 0; i < count; ++i) {
        const SParticle& particle = state.particles[i];
        video::S3DVertex* quad = &vertices[4 * i];
        quad[0] =
            video::S3DVertex(particle.pos - across + upward, toCamera, particle.color, core::vector2df(0, 0));
        quad[1] =
            video::S3DVertex(particle.pos + across + upward, toCamera, particle.color, core::vector2df(1, 0));
        quad[2] =
            video::S3DVertex(particle.pos + across - upward, toCamera, particle.color, core::vector2df(1, 1));
        quad[3] =
            video::S3DVertex(particle.pos - across - upward, toCamera, particle.color, core::vector2df(0, 1));
    }
    // Clockwise on screen (top left, top right, bottom right), the engine's
    // front face.
    for (u32 quad = indices.size() / 6; quad < count; ++quad) {
        const u16 first = static_cast<u16>(4 * quad);
        const u16 corners[6] = {first, static_cast<u16>(first + 1), static_cast<u16>(first + 2),
                                first, static_cast<u16>(first + 2), static_cast<u16>(first + 3)};
        for (u16 corner : corners) {
            indices.push_back(corner);
        }
    }

    driver->setTransform(video::ETS_WORLD,
                         particlesAreGlobal ? core::IdentityMatrix : AbsoluteTransformation);
    driver->setMaterial(material);
    driver->drawIndexedTriangleList(vertices.const_pointer(), 4 * count, indices.const_pointer(), 2 * count);
}

const core::aabbox3df& CParticleSystemSceneNode::getBoundingBox() const {
    return state.box;
}

video::SMaterial& CParticleSystemSceneNode::getMaterial(u32) {
    return material;
}

u32 CParticleSystemSceneNode::getMaterialCount() const {
    return 1;
}

void CParticleSystemSceneNode::setParticleSize(const core::dimension2df& size) {
    if (isFinite(size.Width) && isFinite(size.Height)) {
        particleSize = size;
    }
}

void CParticleSystemSceneNode::setParticlesAreGlobal(bool global) {
    particlesAreGlobal = global;
}

void CParticleSystemSceneNode::setEmitter(IParticleEmitter* newEmitter) {
    // Grabbed before the old one is dropped: when both are the same object
    // and the node holds its last reference, dropping first would free it.
    if (newEmitter != nullptr) {
        newEmitter->grab();
    }
    if (emitter != nullptr) {
        emitter->drop();
    }
    emitter = newEmitter;
}

void CParticleSystemSceneNode::addAffector(IParticleAffector* affector) {
    if (affector == nullptr) {
        return;
    }
    affector->grab();
    affectors.push_back(affector);
}

void CParticleSystemSceneNode::removeAllAffectors() {
    for (u32 i = 0; i < affectors.size(); ++i) {
        affectors[i]->drop();
    }
    affectors.clear();
}

IParticleEmitter* CParticleSystemSceneNode::createPointEmitter(const core::vector3df& direction,
                                                               u32 minPerSecond, u32 maxPerSecond,
                                                               const video::SColor& minColor,
                                                               const video::SColor& maxColor, u32 lifeMin,
                                                               u32 lifeMax, u32 maxAngle) {
    return new (std::nothrow) CParticlePointEmitter(
        emission(direction, minPerSecond, maxPerSecond, minColor, maxColor, lifeMin, lifeMax, maxAngle));
}

IParticleBoxEmitter* CParticleSystemSceneNode::createBoxEmitter(
    const core::aabbox3df& box, const core::vector3df& direction, u32 minPerSecond, u32 maxPerSecond,
    const video::SColor& minColor, const video::SColor& maxColor, u32 lifeMin, u32 lifeMax, u32 maxAngle) {
    return new (std::nothrow) CParticleBoxEmitter(
        box, emission(direction, minPerSecond, maxPerSecond, minColor, maxColor, lifeMin, lifeMax, maxAngle));
}

IParticleSphereEmitter* CParticleSystemSceneNode::createSphereEmitter(
    const core::vector3df& center, f32 radius, const core::vector3df& direction, u32 minPerSecond,
    u32 maxPerSecond, const video::SColor& minColor, const video::SColor& maxColor, u32 lifeMin, u32 lifeMax,
    u32 maxAngle) {
    return new (std::nothrow) CParticleSphereEmitter(
        center, radius,
        emission(direction, minPerSecond, maxPerSecond, minColor, maxColor, lifeMin, lifeMax, maxAngle));
}

IParticleRingEmitter* CParticleSystemSceneNode::createRingEmitter(
    const core::vector3df& center, f32 radius, f32 ringThickness, const core::vector3df& direction,
    u32 minPerSecond, u32 maxPerSecond, const video::SColor& minColor, const video::SColor& maxColor,
    u32 lifeMin, u32 lifeMax, u32 maxAngle) {
    return new (std::nothrow) CParticleRingEmitter(
        center, radius, ringThickness,
        emission(direction, minPerSecond, maxPerSecond, minColor, maxColor, lifeMin, lifeMax, maxAngle));
}

IParticleMeshEmitter* CParticleSystemSceneNode::createMeshEmitter(
    irr::scene::IMesh* mesh, bool useNormalDirection, const core::vector3df& direction,
    f32 normalDirectionModifier, s32 meshBufferNumber, bool everyMeshVertex, u32 minPerSecond,
    u32 maxPerSecond, const video::SColor& minColor, const video::SColor& maxColor, u32 lifeMin, u32 lifeMax,
    u32 maxAngle) {
    return new (std::nothrow) CParticleMeshEmitter(
        mesh, useNormalDirection, normalDirectionModifier, meshBufferNumber, everyMeshVertex,
        emission(direction, minPerSecond, maxPerSecond, minColor, maxColor, lifeMin, lifeMax, maxAngle));
}

IParticleFadeOutAffector* CParticleSystemSceneNode::createFadeOutParticleAffector(
    const video::SColor& targetColor, u32 timeNeededToFadeOut) {
    return new (std::nothrow) CParticleFadeOutAffector(targetColor, timeNeededToFadeOut);
}

IParticleGravityAffector* CParticleSystemSceneNode::createGravityAffector(const core::vector3df& gravity,
                                                                          u32 timeForceLost) {
    return new (std::nothrow) CParticleGravityAffector(gravity, timeForceLost);
}

IParticleAttractionAffector* CParticleSystemSceneNode::createAttractionAffector(const core::vector3df& point,
                                                                                f32 speed, bool affectX,
                                                                                bool affectY, bool affectZ) {
    return new (std::nothrow) CParticleAttractionAffector(point, speed, affectX, affectY, affectZ);
}

IParticleRotationAffector* CParticleSystemSceneNode::createRotationAffector(
    const core::vector3df& speed, const core::vector3df& pivotPoint) {
    return new (std::nothrow) CParticleRotationAffector(speed, pivotPoint);
}

IParticleSystemSceneNode* addParticleSystemSceneNode(irr::scene::ISceneManager* manager,
                                                     bool withDefaultEmitter, irr::scene::ISceneNode* parent,
                                                     s32 id, const core::vector3df& position,
                                                     const core::vector3df& rotation,
                                                     const core::vector3df& scale) {
    if (manager == nullptr) {
        return nullptr;
    }
    if (parent == nullptr) {
        parent = manager->getRootSceneNode();
    }
    CParticleSystemSceneNode* node = new (std::nothrow)
        CParticleSystemSceneNode(withDefaultEmitter, parent, manager, id, position, rotation, scale);
    // The parent holds the node from here on.
    if (node != nullptr) {
        node->drop();
    }
    return node;
}

}  // namespace scene
}  // namespace tarnwell

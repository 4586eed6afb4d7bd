#include "client/particlesystem.h"

#include "client/engine/COrientedBillboardSceneNode.h"
#include "client/engine/IParticleSystemSceneNode.h"
#include "client/engine/ParticleMath.h"
#include "client/engine/RandomSource.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/trash.h"
#include "physics/dynamics/dgPhysics.h"

#include <cstdlib>
#include <limits>

using tarnwell::isFinite;

using namespace irr;

namespace {

// One draw of the engine additions' random source (rand() in a game).
u32 draw() {
    return tarnwell::scene::random();
}

const core::vector3df kZero(0.0f, 0.0f, 0.0f);
const core::vector3df kOne(1.0f, 1.0f, 1.0f);

uint32_t now() {
    return globals.clock != nullptr ? globals.clock->getTime() : 0;
}

// With shaders the additive renderer the game registered, else the engine's
// additive blend, which looks the same on the fixed-function path.
video::E_MATERIAL_TYPE additiveMaterial() {
    return globals.shadersEnabled ? static_cast<video::E_MATERIAL_TYPE>(globals.additiveMaterial)
                                  : video::EMT_TRANSPARENT_ADD_COLOR;
}

uint32_t saturatingSum(uint32_t a, uint32_t b) {
    return b > std::numeric_limits<uint32_t>::max() - a ? std::numeric_limits<uint32_t>::max() : a + b;
}

// The engine removes the node `afterMs` from now (its virtual time).
void deleteLater(scene::ISceneManager* scene, scene::ISceneNode* node, uint32_t afterMs) {
    scene::ISceneNodeAnimator* deleter = scene->createDeleteAnimator(afterMs);
    if (deleter != nullptr) {
        node->addAnimator(deleter);
        deleter->drop();
    }
}

void addFadeOut(tarnwell::scene::IParticleSystemSceneNode* node, uint32_t fadeOutTime) {
    tarnwell::scene::IParticleAffector* fade =
        node->createFadeOutParticleAffector(video::SColor(0, 0, 0, 0), fadeOutTime);
    if (fade != nullptr) {
        node->addAffector(fade);
        fade->drop();
    }
}

void addGravity(tarnwell::scene::IParticleSystemSceneNode* node, const core::vector3df& gravity,
                uint32_t gravityTime) {
    tarnwell::scene::IParticleAffector* pull = node->createGravityAffector(gravity, gravityTime);
    if (pull != nullptr) {
        node->addAffector(pull);
        pull->drop();
    }
}

// What both builders give a node after its emitter: removal a life after
// the emission ends, the fade-out and the gravity, each when asked for.
void finishNode(tarnwell::scene::IParticleSystemSceneNode* node, uint32_t duration, uint32_t maxLife,
                uint32_t fadeOutTime, const core::vector3df& gravity, uint32_t gravityTime) {
    if (duration > 0) {
        deleteLater(globals.sceneManager, node, saturatingSum(duration, maxLife));
    }
    if (fadeOutTime > 0) {
        addFadeOut(node, fadeOutTime);
    }
    if (gravityTime > 0) {
        addGravity(node, gravity, gravityTime);
    }
}

tarnwell::scene::IParticleSystemSceneNode* makeNode(scene::ISceneNode* parent,
                                                    const core::vector3df& position,
                                                    const core::dimension2df& size) {
    tarnwell::scene::IParticleSystemSceneNode* node = tarnwell::scene::addParticleSystemSceneNode(
        globals.sceneManager, false, parent, -1, kZero, kZero, kOne);
    if (node != nullptr) {
        node->setPosition(position);
        node->setParticleSize(size);
    }
    return node;
}

// The record of a new effect; it holds its own references to the node and
// the emitter (the factory's), so neither can go while it lives.
ParticleEffect* newRecord(int32_t id, tarnwell::scene::IParticleSystemSceneNode* node,
                          tarnwell::scene::IParticleEmitter* emitter, uint32_t duration, uint32_t lifetime,
                          bool shockWave) {
    node->grab();
    ParticleEffect* effect = new ParticleEffect;
    effect->id = id;
    effect->node = node;
    effect->emitter = emitter;
    effect->startTime = now();
    effect->duration = duration;
    effect->lifetime = lifetime;
    effect->shockWave = shockWave;
    return effect;
}

video::SColor color(const uint8_t argb[4]) {
    return video::SColor(argb[0], argb[1], argb[2], argb[3]);
}

core::vector3df vector(const float xyz[3]) {
    return core::vector3df(xyz[0], xyz[1], xyz[2]);
}

core::vector3df playerRotation() {
    return globals.playerShip != nullptr ? globals.playerShip->getRotation() : kZero;
}

}  // namespace

ParticleSystem::ParticleSystem(ResourceHandler* resources) : resources(resources) {
    scene::IAnimatedMesh* ring = resources != nullptr ? resources->getMesh(MESH_SHOCKWAVE) : nullptr;
    if (globals.sceneManager != nullptr && ring != nullptr) {
        shockWavePreload =
            globals.sceneManager->addAnimatedMeshSceneNode(ring, nullptr, -1, kZero, kZero, kOne);
        if (shockWavePreload != nullptr) {
            shockWavePreload->grab();
        }
    }
}

ParticleSystem::ParticleSystem(NoScene) {}

ParticleSystem::~ParticleSystem() {
    for (ParticleEffect* effect : effects) {
        release(effect, false);
    }
    effects.clear();
    for (tarnwell::scene::COrientedBillboardSceneNode* particle : cameraParticles) {
        particle->drop();
    }
    cameraParticles.clear();
    if (shockWavePreload != nullptr) {
        shockWavePreload->remove();
        shockWavePreload->drop();
    }
}

void ParticleSystem::release(ParticleEffect* effect, bool removeRing) {
    if (effect->shockWaveNode != nullptr) {
        if (removeRing) {
            effect->shockWaveNode->remove();
        }
        effect->shockWaveNode->drop();
    }
    if (effect->shockWaveMesh != nullptr) {
        effect->shockWaveMesh->drop();
    }
    if (effect->emitter != nullptr) {
        effect->emitter->drop();
    }
    if (effect->node != nullptr) {
        effect->node->drop();
    }
    delete effect;
}

video::ITexture* ParticleSystem::texture(s32 id) const {
    return resources != nullptr ? resources->getTexture(id) : nullptr;
}

int32_t ParticleSystem::addEffect(const core::vector3df& position, const core::dimension2df& particleSize,
                                  const core::vector3df& emitterCenter, float emitterRadius,
                                  const core::vector3df& gravity, uint32_t gravityTime,
                                  const core::vector3df& direction, uint32_t minParticlesPerSecond,
                                  uint32_t maxParticlesPerSecond, video::SColor minStartColor,
                                  video::SColor maxStartColor, uint32_t minLife, uint32_t maxLife,
                                  int32_t maxAngle, uint32_t fadeOutTime, uint32_t duration,
                                  video::ITexture* texture, scene::ISceneNode* parent, bool lighting,
                                  bool shockWave) {
    if (!isFinite(position) || !isFinite(particleSize) || !isFinite(emitterCenter) ||
        !isFinite(emitterRadius) || !isFinite(gravity) || !isFinite(direction)) {
        return -1;
    }
    tarnwell::scene::IParticleSystemSceneNode* node = makeNode(parent, position, particleSize);
    if (node == nullptr) {
        return -1;
    }
    node->setMaterialFlag(video::EMF_LIGHTING, lighting);
    node->setMaterialFlag(video::EMF_FOG_ENABLE, false);
    node->setMaterialFlag(video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
    node->setMaterialTexture(0, texture);
    node->setMaterialType(additiveMaterial());

    tarnwell::scene::IParticleEmitter* emitter = node->createSphereEmitter(
        emitterCenter, emitterRadius, direction, minParticlesPerSecond, maxParticlesPerSecond, minStartColor,
        maxStartColor, minLife, maxLife, maxAngle > 0 ? u32(maxAngle) : 0u);
    node->setEmitter(emitter);
    finishNode(node, duration, maxLife, fadeOutTime, gravity, gravityTime);
    return finishEffect(newRecord(nextEffectId++, node, emitter, duration, maxLife, shockWave), position);
}

int32_t ParticleSystem::finishEffect(ParticleEffect* effect, const core::vector3df& position) {
    const int32_t id = effect->id;
    if (effect->shockWave) {
        scene::ISceneManager* scene = globals.sceneManager;
        scene::IAnimatedMesh* source = resources != nullptr ? resources->getMesh(MESH_SHOCKWAVE) : nullptr;
        scene::IMesh* frame = source != nullptr ? source->getMesh(0, 255) : nullptr;
        effect->shockWaveMesh =
            frame != nullptr ? scene->getMeshManipulator()->createMeshCopy(frame) : nullptr;
        if (effect->shockWaveMesh != nullptr) {
            effect->shockWaveNode =
                scene->addMeshSceneNode(effect->shockWaveMesh, nullptr, -1, kZero, kZero, kOne);
        }
        if (effect->shockWaveNode == nullptr) {
            // The particles still show; only the ring and its record are missing.
            release(effect, false);
            return id;
        }
        scene::IMeshSceneNode* ring = effect->shockWaveNode;
        ring->grab();
        ring->setMaterialFlag(video::EMF_LIGHTING, false);
        ring->setMaterialFlag(video::EMF_FOG_ENABLE, true);
        ring->setMaterialType(video::EMT_TRANSPARENT_ADD_COLOR);
        ring->setMaterialFlag(video::EMF_BACK_FACE_CULLING, false);
        ring->setMaterialFlag(video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
        // The game has always reseeded here; the tilt is drawn after it.
        std::srand(now());
        const u32 pitchDraw = draw();
        const u32 yawDraw = draw();
        ring->setRotation(playerRotation() + ringTilt(pitchDraw, yawDraw));
        ring->setPosition(position);
        ring->setScale(core::vector3df(2.0f, 2.0f, 2.0f));
        ring->setVisible(true);
    }
    effects.push_back(effect);
    return id;
}

int32_t ParticleSystem::addBoxEffect(const core::vector3df& position, const core::dimension2df& particleSize,
                                     const core::aabbox3df& emitterBox, const core::vector3df& gravity,
                                     uint32_t gravityTime, const core::vector3df& direction,
                                     uint32_t minParticlesPerSecond, uint32_t maxParticlesPerSecond,
                                     video::SColor minStartColor, video::SColor maxStartColor,
                                     uint32_t minLife, uint32_t maxLife, int32_t maxAngle,
                                     uint32_t fadeOutTime, uint32_t duration, video::ITexture* texture,
                                     scene::ISceneNode* parent) {
    if (!isFinite(position) || !isFinite(particleSize) || !isFinite(emitterBox) || !isFinite(gravity) ||
        !isFinite(direction)) {
        return -1;
    }
    tarnwell::scene::IParticleSystemSceneNode* node = makeNode(parent, position, particleSize);
    if (node == nullptr) {
        return -1;
    }
    tarnwell::scene::IParticleEmitter* emitter = node->createBoxEmitter(
        emitterBox, direction, minParticlesPerSecond, maxParticlesPerSecond, minStartColor, maxStartColor,
        minLife, maxLife, maxAngle > 0 ? u32(maxAngle) : 0u);
    node->setEmitter(emitter);
    finishNode(node, duration, maxLife, fadeOutTime, gravity, gravityTime);
    node->setMaterialFlag(video::EMF_LIGHTING, false);
    node->setMaterialTexture(0, texture);
    node->setMaterialType(video::EMT_TRANSPARENT_ADD_COLOR);
    return finishEffect(newRecord(nextEffectId++, node, emitter, duration, maxLife, false), position);
}

void ParticleSystem::addPointEffect(const core::vector3df& position, const core::dimension2df& particleSize,
                                    const core::vector3df& direction, uint32_t minParticlesPerSecond,
                                    uint32_t maxParticlesPerSecond, video::SColor minStartColor,
                                    video::SColor maxStartColor, uint32_t minLife, uint32_t maxLife,
                                    int32_t maxAngle, uint32_t fadeOutTime, uint32_t duration,
                                    video::ITexture* texture) {
    if (!isFinite(position) || !isFinite(particleSize) || !isFinite(direction)) {
        return;
    }
    tarnwell::scene::IParticleSystemSceneNode* node = makeNode(nullptr, position, particleSize);
    if (node == nullptr) {
        return;
    }
    tarnwell::scene::IParticleEmitter* emitter =
        node->createPointEmitter(direction, minParticlesPerSecond, maxParticlesPerSecond, minStartColor,
                                 maxStartColor, minLife, maxLife, maxAngle > 0 ? u32(maxAngle) : 0u);
    node->setEmitter(emitter);
    if (duration > 0) {
        deleteLater(globals.sceneManager, node, saturatingSum(duration, maxLife));
    }
    addFadeOut(node, fadeOutTime);
    node->setMaterialFlag(video::EMF_LIGHTING, true);
    node->setMaterialTexture(0, texture);
    node->setMaterialType(video::EMT_TRANSPARENT_ADD_COLOR);
    finishEffect(newRecord(nextEffectId++, node, emitter, duration, maxLife, false), position);
}

int32_t ParticleSystem::addPreset(EffectPresetId id, const core::vector3df& position,
                                  scene::ISceneNode* parent) {
    const EffectPreset& p = effectPreset(id);
    const core::dimension2df size(p.width, p.height);
    if (p.box) {
        return addBoxEffect(position, size, core::aabbox3df(vector(p.boxMin), vector(p.boxMax)), kZero, 0,
                            vector(p.direction), p.minRate, p.maxRate, color(p.minColor), color(p.maxColor),
                            p.minLife, p.maxLife, 0, p.fadeOut, p.duration, texture(p.texture), parent);
    }
    return addEffect(position, size, kZero, p.radius, kZero, 0, vector(p.direction), p.minRate, p.maxRate,
                     color(p.minColor), color(p.maxColor), p.minLife, p.maxLife, 0, p.fadeOut, p.duration,
                     texture(p.texture), parent, p.lighting, p.ring);
}

void ParticleSystem::addBlueImpact(const core::vector3df& at) {
    addPreset(PRESET_BLUE_IMPACT, at, nullptr);
}

void ParticleSystem::addFireImpact(const core::vector3df& at) {
    addPreset(PRESET_FIRE_IMPACT, at, nullptr);
}

void ParticleSystem::addShipExplosion(scene::ISceneNode* parent) {
    addPreset(PRESET_SHIP_EXPLOSION, kZero, parent);
}

void ParticleSystem::addDebrisBurst(const core::vector3df& at) {
    if (!isFinite(at)) {
        return;
    }
    addPreset(PRESET_DEBRIS_BURST, at, nullptr);
    const u32 ra = draw();
    const u32 rb = draw();
    const u32 rc = draw();
    const DebrisCounts counts = debrisCounts(ra, rb, rc);
    const struct {
        s32 mesh;
        int32_t count;
    } kinds[] = {{MESH_TRASH1, counts.first}, {MESH_TRASH2, counts.second}, {MESH_TRASH3, counts.third}};
    for (const auto& kind : kinds) {
        for (int32_t i = 0; i < kind.count; ++i) {
            const u32 rx = draw();
            const u32 ry = draw();
            const u32 rz = draw();
            spawnDebris(kind.mesh, at + debrisOffset(rx, ry, rz));
        }
    }
}

void ParticleSystem::addExplosion(const core::vector3df& at) {
    addPreset(PRESET_EXPLOSION, at, nullptr);
}

int32_t ParticleSystem::addShipBubbleTrail(const core::vector3df& on, scene::ISceneNode* parent) {
    return addPreset(PRESET_SHIP_BUBBLE_TRAIL, on, parent);
}

int32_t ParticleSystem::addTorpedoBubbleTrail(const core::vector3df& on, scene::ISceneNode* parent) {
    return addPreset(PRESET_TORPEDO_BUBBLE_TRAIL, on, parent);
}

void ParticleSystem::addBubbleBurst(const core::vector3df& on, scene::ISceneNode* parent) {
    addPreset(PRESET_BUBBLE_BURST, on, parent);
}

int32_t ParticleSystem::addDebrisTrail(const core::vector3df& on, scene::ISceneNode* parent) {
    return addPreset(PRESET_DEBRIS_TRAIL, on, parent);
}

void ParticleSystem::addAmbientBubbles(const core::vector3df& on, scene::ISceneNode* parent) {
    addPreset(PRESET_AMBIENT_BUBBLES, on, parent);
}

void ParticleSystem::addCameraParticles() {
    const Ship* player = globals.playerShip;
    if (player == nullptr || globals.sceneManager == nullptr) {
        return;
    }
    core::matrix4 turn;
    turn.setRotationDegrees(player->getRotation());
    for (int32_t i = 0; i < CAMERA_PARTICLE_COUNT; ++i) {
        const u32 rx = draw();
        const u32 ry = draw();
        const u32 rz = draw();
        tarnwell::scene::COrientedBillboardSceneNode* particle =
            tarnwell::scene::addOrientedBillboardSceneNode(
                globals.sceneManager, nullptr, core::dimension2df(0.4f, 0.4f),
                player->getPosition() + cameraParticleStart(rx, ry, rz), -1);
        if (particle == nullptr) {
            continue;
        }
        particle->setMaterialFlag(video::EMF_LIGHTING, true);
        particle->setMaterialTexture(0, texture(draw() % 2 == 0 ? TEXTURE_PARTICLE2 : TEXTURE_PARTICLE1));
        particle->setMaterialFlag(video::EMF_FOG_ENABLE, true);
        particle->setMaterialFlag(video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
        particle->setMaterialType(additiveMaterial());
        particle->setRollAngle(cameraParticleRoll(draw()));
        particle->setOrientation(turn);
        particle->setOwnUp(true);
        particle->grab();
        cameraParticles.push_back(particle);
    }
}

ParticleEffect* ParticleSystem::find(int32_t id) {
    for (ParticleEffect* effect : effects) {
        if (effect->id == id) {
            return effect;
        }
    }
    return nullptr;
}

const ParticleEffect* ParticleSystem::findEffect(int32_t id) const {
    return const_cast<ParticleSystem*>(this)->find(id);
}

void ParticleSystem::removeEffectsOf(int32_t id) {
    ParticleEffect* effect = find(id);
    if (effect == nullptr || effect->stopped) {
        return;
    }
    effect->stopped = true;
    effect->startTime = now();
    effect->duration = STOPPED_DURATION_MS;
    tarnwell::scene::IParticleSystemSceneNode* node = effect->node;
    node->setEmitter(nullptr);
    // A node that already left the scene (its carrier went first) stays out:
    // the record's reference is its last.
    if (node->getParent() == nullptr) {
        return;
    }
    scene::ISceneNode* root = node->getSceneManager()->getRootSceneNode();
    if (node->getParent() != root) {
        // Keeps the world place, so the scene still sorts the node among the
        // transparent ones by where its particles are.
        node->updateAbsolutePosition();
        const core::vector3df place = node->getAbsolutePosition();
        root->addChild(node);
        node->setPosition(place);
    }
    // The last particles are dead one lifetime on; an endless effect has no
    // other way out of the scene.
    deleteLater(node->getSceneManager(), node, effect->lifetime);
}

void ParticleSystem::enableEmitters(int32_t id) {
    ParticleEffect* effect = find(id);
    if (effect != nullptr && !effect->stopped) {
        effect->node->setEmitter(effect->emitter);
    }
}

void ParticleSystem::disableEmitters(int32_t id) {
    ParticleEffect* effect = find(id);
    if (effect != nullptr) {
        effect->node->setEmitter(nullptr);
    }
}

void ParticleSystem::setEffectVisible(int32_t id, bool visible) {
    ParticleEffect* effect = find(id);
    if (effect != nullptr) {
        effect->node->setVisible(visible);
    }
}

void ParticleSystem::update(float dt) {
    if (!isFinite(dt)) {
        dt = 0.0f;
    }
    const uint32_t time = now();
    for (auto it = effects.begin(); it != effects.end();) {
        ParticleEffect* effect = *it;
        effect->node->updateAbsolutePosition();
        const EffectFrame frame =
            effectFrame(effect->startTime, effect->duration, effect->lifetime, effect->shockWave, time);
        if (frame.endless) {
            ++it;
            continue;
        }
        scene::IMeshSceneNode* ring = effect->shockWaveNode;
        if (frame.growRing && ring != nullptr) {
            const float growth = RING_GROWTH_PER_SECOND * dt;
            ring->setScale(ring->getScale() + core::vector3df(growth, growth, growth));
        }
        if (frame.fadeRing && ring != nullptr) {
            const u32 c = frame.ringShade;
            ring->getSceneManager()->getMeshManipulator()->setVertexColors(effect->shockWaveMesh,
                                                                           video::SColor(c, c, c, c));
            effect->shockWaveMesh->setDirty(scene::EBT_VERTEX);
        }
        if (frame.detachEmitter) {
            effect->node->setEmitter(nullptr);
        }
        if (frame.hideRing && ring != nullptr) {
            ring->setVisible(false);
        }
        if (frame.retire) {
            release(effect, true);
            it = effects.erase(it);
            continue;
        }
        ++it;
    }

    const Ship* player = globals.playerShip;
    if (player == nullptr) {
        return;
    }
    const core::vector3df center = player->getPosition();
    core::matrix4 turn;
    turn.setRotationDegrees(player->getRotation());
    for (tarnwell::scene::COrientedBillboardSceneNode* particle : cameraParticles) {
        const u32 dx = draw();
        const u32 dy = draw();
        const u32 dz = draw();
        const core::vector3df drift = cameraParticleDrift(dx, dy, dz, dt);
        const core::vector3df place = particle->getPosition();
        if (cameraParticleStaysNear(place, center)) {
            particle->setPosition(place + drift);
            continue;
        }
        const u32 rx = draw();
        const u32 ry = draw();
        const u32 rz = draw();
        core::vector3df ahead = cameraParticleAhead(rx, ry, rz);
        turn.rotateVect(ahead);
        particle->setPosition(ahead + center + drift);
    }
}

void ParticleSystem::spawnDebris(s32 mesh, const core::vector3df& position) {
    if (!isFinite(position)) {
        return;
    }
    Trash* piece = new Trash("trash", position, kZero, core::vector3df(2.5f, 2.5f, 2.5f), mesh);
    globals.trashList.push_back(piece);
    // A piece without a node has nothing to carry its trail; on the scene
    // root the trail would bubble at the world's origin.
    if (piece->getNode() != nullptr) {
        piece->setTrailEffect(addDebrisTrail(kZero, piece->getNode()));
    }
    const u32 ix = draw();
    const u32 iy = draw();
    const u32 iz = draw();
    const u32 px = draw();
    const u32 py = draw();
    const u32 pz = draw();
    const core::vector3df impulse = debrisImpulse(ix, iy, iz);
    const core::vector3df point = position + debrisImpulseOffset(px, py, pz);
    if (piece->getBody() != nullptr) {
        const float push[3] = {impulse.X, impulse.Y, impulse.Z};
        const float at[3] = {point.X, point.Y, point.Z};
        dgBodyAddImpulse(piece->getBody(), push, at);
    }
}

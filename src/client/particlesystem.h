// The game's effects manager: named effects (impacts, fire, explosions with a
// shock-wave ring, debris bursts, bubble trails, ambient bubbles, floating
// particles around the player) built as particle nodes of the engine
// additions, one record per effect aged once a frame; it also spawns the
// debris pieces of a destroyed ship. One per game state (game or menu),
// published in globals.particleSystem.
//
// The presets and the control by effect id are virtual so that a test can
// record what the entities ask for instead of building particle nodes.
#pragma once

#include "client/effectmath.h"
#include "client/particleeffect.h"

#include <irrlicht.h>

#include <cstdint>
#include <list>

class ResourceHandler;
namespace tarnwell {
namespace scene {
class COrientedBillboardSceneNode;
}  // namespace scene
}  // namespace tarnwell

class ParticleSystem {
public:
    // Creates the shock-wave preload node (mesh 20 at the origin).
    explicit ParticleSystem(ResourceHandler* resources);
    // Frees every record (dropping its node and emitter references) and
    // removes the preload node; particle nodes, rings and billboards stay in
    // the scene for the state's clean-up.
    virtual ~ParticleSystem();
    ParticleSystem(const ParticleSystem&) = delete;
    ParticleSystem& operator=(const ParticleSystem&) = delete;

    // General builders: a particle node (no default emitter) at `position`
    // under `parent` (null: the scene root). Times ms, colours ARGB. Return
    // the new effect id (ids count from 0 per instance, never reused), or -1
    // and nothing built when the scene cannot make the node or a position,
    // size or vector is not finite. The record starts at the engine's
    // virtual time; an effect with a duration also gets the engine's delete
    // animator for duration + maxLife. A ring that cannot be made leaves the
    // effect in the scene without a record (its id is still returned).
    int32_t addEffect(const irr::core::vector3df& position, const irr::core::dimension2df& particleSize,
                      const irr::core::vector3df& emitterCenter, float emitterRadius,
                      const irr::core::vector3df& gravity, uint32_t gravityTime,
                      const irr::core::vector3df& direction, uint32_t minParticlesPerSecond,
                      uint32_t maxParticlesPerSecond, irr::video::SColor minStartColor,
                      irr::video::SColor maxStartColor, uint32_t minLife, uint32_t maxLife, int32_t maxAngle,
                      uint32_t fadeOutTime, uint32_t duration, irr::video::ITexture* texture,
                      irr::scene::ISceneNode* parent, bool lighting, bool shockWave);
    int32_t addBoxEffect(const irr::core::vector3df& position, const irr::core::dimension2df& particleSize,
                         const irr::core::aabbox3df& emitterBox, const irr::core::vector3df& gravity,
                         uint32_t gravityTime, const irr::core::vector3df& direction,
                         uint32_t minParticlesPerSecond, uint32_t maxParticlesPerSecond,
                         irr::video::SColor minStartColor, irr::video::SColor maxStartColor, uint32_t minLife,
                         uint32_t maxLife, int32_t maxAngle, uint32_t fadeOutTime, uint32_t duration,
                         irr::video::ITexture* texture, irr::scene::ISceneNode* parent);
    void addPointEffect(const irr::core::vector3df& position, const irr::core::dimension2df& particleSize,
                        const irr::core::vector3df& direction, uint32_t minParticlesPerSecond,
                        uint32_t maxParticlesPerSecond, irr::video::SColor minStartColor,
                        irr::video::SColor maxStartColor, uint32_t minLife, uint32_t maxLife,
                        int32_t maxAngle, uint32_t fadeOutTime, uint32_t duration,
                        irr::video::ITexture* texture);

    // Presets, with the constants of effectPreset (effectmath.h): "at" a
    // world position, or "on" an offset on a parent node. The trails return
    // their id for the entity to keep; the debris burst also throws debris.
    virtual void addBlueImpact(const irr::core::vector3df& at);
    virtual void addFireImpact(const irr::core::vector3df& at);
    virtual void addShipExplosion(irr::scene::ISceneNode* parent);
    virtual void addDebrisBurst(const irr::core::vector3df& at);
    virtual void addExplosion(const irr::core::vector3df& at);
    virtual int32_t addShipBubbleTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent);
    virtual int32_t addTorpedoBubbleTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent);
    virtual void addBubbleBurst(const irr::core::vector3df& on, irr::scene::ISceneNode* parent);
    virtual int32_t addDebrisTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent);
    virtual void addAmbientBubbles(const irr::core::vector3df& on, irr::scene::ISceneNode* parent);
    // 300 floating billboards around globals.playerShip.
    virtual void addCameraParticles();

    // Control by effect id; an id that matches no record does nothing.
    // Stops emission for good, moves the node to the scene root at the same
    // world place (so it outlives the entity that carried it), and lets the
    // record retire and the engine delete the node one lifetime on. A
    // stopped effect ignores enableEmitters and a second stop.
    virtual void removeEffectsOf(int32_t id);
    virtual void enableEmitters(int32_t id);
    virtual void disableEmitters(int32_t id);
    virtual void setEffectVisible(int32_t id, bool visible);

    // Once a frame in a game (never in the menu), dt seconds: ages the
    // records, grows and fades the rings, keeps the floating particles near
    // the player.
    virtual void update(float dt);

    // One Trash piece of `mesh` (a resource id) with a trail (when the piece
    // has a node to carry it) and a random push (when it has a body),
    // appended to globals.trashList. A non-finite position makes nothing.
    virtual void spawnDebris(irr::s32 mesh, const irr::core::vector3df& position);

    // The live records, front to back (tests read the timeline).
    const std::list<ParticleEffect*>& getEffects() const { return effects; }
    // The record of `id`, or null.
    const ParticleEffect* findEffect(int32_t id) const;
    // The floating particles around the player, in creation order.
    const std::list<tarnwell::scene::COrientedBillboardSceneNode*>& getCameraParticles() const {
        return cameraParticles;
    }

protected:
    // For a recording twin: no preload node, no resources.
    struct NoScene {};
    explicit ParticleSystem(NoScene);

private:
    int32_t addPreset(EffectPresetId preset, const irr::core::vector3df& position,
                      irr::scene::ISceneNode* parent);
    ParticleEffect* find(int32_t id);
    // Appends the record, or, when the ring cannot be made, releases it.
    int32_t finishEffect(ParticleEffect* effect, const irr::core::vector3df& position);
    // Drops what the record holds (and removes its ring from the scene
    // when `removeRing`), then frees it.
    static void release(ParticleEffect* effect, bool removeRing);
    irr::video::ITexture* texture(irr::s32 id) const;

    std::list<ParticleEffect*> effects;  // owned
    // In the scene; one reference each, dropped by the destructor.
    std::list<tarnwell::scene::COrientedBillboardSceneNode*> cameraParticles;
    // In the scene while this lives; one reference.
    irr::scene::IAnimatedMeshSceneNode* shockWavePreload = nullptr;
    int32_t nextEffectId = 0;
    ResourceHandler* resources = nullptr;  // borrowed
};

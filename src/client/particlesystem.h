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

#include "client/particleeffect.h"

#include <irrlicht.h>

#include <cstdint>
#include <list>

class ResourceHandler;

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
    // the new effect id (ids count from 0 per instance, never reused).
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
                        irr::video::SColor maxStartColor, uint32_t minLife, uint32_t maxLife, int32_t maxAngle,
                        uint32_t fadeOutTime, uint32_t duration, irr::video::ITexture* texture);

    // Presets: "at" a world position, or "on" an offset on a parent node.
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
    // Stops emission, moves the node to the scene root (so it outlives the
    // entity that carried it) and retires the record 10 s plus a lifetime on.
    virtual void removeEffectsOf(int32_t id);
    virtual void enableEmitters(int32_t id);
    virtual void disableEmitters(int32_t id);
    virtual void setEffectVisible(int32_t id, bool visible);

    // Once a frame in a game (never in the menu), dt seconds: ages the
    // records, grows and fades the rings, keeps the floating particles near
    // the player.
    virtual void update(float dt);

    // One Trash piece of `mesh` (a resource id) with a trail and a random
    // push, appended to globals.trashList.
    virtual void spawnDebris(irr::s32 mesh, const irr::core::vector3df& position);

    // The live records, front to back (tests read the timeline).
    const std::list<ParticleEffect*>& getEffects() const { return effects; }

protected:
    // For a recording twin: no preload node, no resources.
    struct NoScene {};
    explicit ParticleSystem(NoScene);

private:
    std::list<ParticleEffect*> effects;                    // owned
    std::list<irr::scene::IBillboardSceneNode*> cameraParticles;  // the scene owns them
    irr::scene::IAnimatedMeshSceneNode* shockWavePreload = nullptr;
    int32_t nextEffectId = 0;
    ResourceHandler* resources = nullptr;  // borrowed
};

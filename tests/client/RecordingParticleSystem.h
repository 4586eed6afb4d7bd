// The particle system of entity tests: it builds nothing and records every
// preset, control call, update and debris spawn in order, so a test checks
// which effects an entity asks for, where and on which node. The trail
// presets hand out ids from 0 up, as the real system does.
#pragma once

#include "client/particlesystem.h"

#include <irrlicht.h>

#include <cstdint>
#include <string>
#include <vector>

class RecordingParticleSystem : public ParticleSystem {
public:
    struct Call {
        std::string what;         // the method's name, "addBlueImpact", "update", ...
        irr::core::vector3df at;  // position ("at"/"on"), spawnDebris position
        irr::scene::ISceneNode* parent = nullptr;
        int32_t id = -1;    // the id handed out or acted on
        bool flag = false;  // setEffectVisible
        float dt = 0.0f;    // update
        irr::s32 mesh = 0;  // spawnDebris
    };

    RecordingParticleSystem() : ParticleSystem(NoScene{}) {}

    void addBlueImpact(const irr::core::vector3df& at) override { record("addBlueImpact", at); }
    void addFireImpact(const irr::core::vector3df& at) override { record("addFireImpact", at); }
    void addShipExplosion(irr::scene::ISceneNode* parent) override {
        record("addShipExplosion", irr::core::vector3df(), parent);
    }
    void addDebrisBurst(const irr::core::vector3df& at) override { record("addDebrisBurst", at); }
    void addExplosion(const irr::core::vector3df& at) override { record("addExplosion", at); }
    int32_t addShipBubbleTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent) override {
        return record("addShipBubbleTrail", on, parent, nextId++).id;
    }
    int32_t addTorpedoBubbleTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent) override {
        return record("addTorpedoBubbleTrail", on, parent, nextId++).id;
    }
    void addBubbleBurst(const irr::core::vector3df& on, irr::scene::ISceneNode* parent) override {
        record("addBubbleBurst", on, parent);
    }
    int32_t addDebrisTrail(const irr::core::vector3df& on, irr::scene::ISceneNode* parent) override {
        return record("addDebrisTrail", on, parent, nextId++).id;
    }
    void addAmbientBubbles(const irr::core::vector3df& on, irr::scene::ISceneNode* parent) override {
        record("addAmbientBubbles", on, parent);
    }
    void addCameraParticles() override { record("addCameraParticles", irr::core::vector3df()); }
    void removeEffectsOf(int32_t id) override {
        record("removeEffectsOf", irr::core::vector3df(), nullptr, id);
    }
    void enableEmitters(int32_t id) override {
        record("enableEmitters", irr::core::vector3df(), nullptr, id);
    }
    void disableEmitters(int32_t id) override {
        record("disableEmitters", irr::core::vector3df(), nullptr, id);
    }
    void setEffectVisible(int32_t id, bool visible) override {
        record("setEffectVisible", irr::core::vector3df(), nullptr, id).flag = visible;
    }
    void update(float dt) override { record("update", irr::core::vector3df()).dt = dt; }
    void spawnDebris(irr::s32 mesh, const irr::core::vector3df& position) override {
        record("spawnDebris", position).mesh = mesh;
    }

    // The calls named `what`, in order.
    std::vector<Call> named(const std::string& what) const {
        std::vector<Call> found;
        for (const Call& call : calls) {
            if (call.what == what) {
                found.push_back(call);
            }
        }
        return found;
    }

    // How many calls named `what` there were (on effect `id`, if one is given).
    int32_t count(const std::string& what, int32_t id = -2) const {
        int32_t found = 0;
        for (const Call& call : calls) {
            found += call.what == what && (id == -2 || call.id == id) ? 1 : 0;
        }
        return found;
    }

    std::vector<Call> calls;
    int32_t nextId = 0;

private:
    Call& record(const char* what, const irr::core::vector3df& at, irr::scene::ISceneNode* parent = nullptr,
                 int32_t id = -1) {
        Call call;
        call.what = what;
        call.at = at;
        call.parent = parent;
        call.id = id;
        calls.push_back(call);
        return calls.back();
    }
};

// A game scene for the entity tests on the null driver: the harness with
// the generated media's meshes and textures, the seven sound samples loaded
// in resource-id order (so that the recording's "sample N" is sound id N),
// the particle system that records the presets the entities ask for, and
// entities with a box-shaped node to be hit.
#pragma once

#include "GameLoopHarness.h"
#include "RecordingParticleSystem.h"

#include "client/engine/Finite.h"
#include "client/entitysound.h"
#include "client/globals.h"
#include "client/object.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "platform/sound/fsound.h"
#include "platform/sound/fsound_recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using tarnwell::isFinite;

namespace entitytest {

// The samples of sound ids 1 to 7, loaded by the scene.
inline FSOUND_SAMPLE*& sampleSlot(irr::s32 id) {
    static FSOUND_SAMPLE* samples[8] = {};
    return samples[id >= 1 && id <= 7 ? id : 0];
}
inline FSOUND_SAMPLE* lookUpSample(irr::s32 id) {
    return id >= 1 && id <= 7 ? sampleSlot(id) : nullptr;
}

// Plays of sound `id` and where each was first placed (nowhere: not placed).
struct Play {
    int32_t channel;
    bool placed;
    irr::core::vector3df at;
};
inline std::vector<Play> playsOf(irr::s32 id) {
    const std::vector<fsound::RecordedCall>& calls = fsound::recording();
    std::vector<Play> plays;
    for (auto call = calls.begin(); call != calls.end(); ++call) {
        if (call->op == fsound::Op::PlaySound && call->sample == id) {
            const auto placing = std::find_if(call, calls.end(), [&](const fsound::RecordedCall& c) {
                return c.op == fsound::Op::SetAttributes && c.channel == call->result;
            });
            const bool placed = placing != calls.end();
            plays.push_back({call->result, placed,
                             placed ? irr::core::vector3df(placing->position[0], placing->position[1],
                                                           placing->position[2])
                                    : irr::core::vector3df()});
        }
    }
    return plays;
}

// An entity with a triangle selector to be hit through: its own, when its
// constructor made a node with one, else a box of `side` around its
// position (the box node goes with the entity).
template <typename T>
class WithBox : public T {
public:
    template <typename... Args>
    explicit WithBox(float side, Args&&... args) : T(std::forward<Args>(args)...) {
        if (this->node != nullptr && this->node->getTriangleSelector() != nullptr) {
            return;
        }
        irr::scene::ISceneManager* scene = globals.sceneManager;
        box = scene->addCubeSceneNode(side, nullptr, -1, this->getPosition(), this->getRotation());
        box->setVisible(false);
        box->updateAbsolutePosition();
        irr::scene::ITriangleSelector* selector = scene->createTriangleSelectorFromBoundingBox(box);
        if (this->node == nullptr) {
            this->node = box;
        }
        this->node->setTriangleSelector(selector);
        selector->drop();
    }
    ~WithBox() override {
        if (box == nullptr) {
            return;
        }
        if (this->node == box) {
            this->node = nullptr;
        }
        box->remove();
    }

private:
    irr::scene::ISceneNode* box = nullptr;
};

// The harness, resources, samples and recording effects, published; the
// entity lists are emptied (torpedoes deleted) and the block restored at the
// end. Entities handed to `own` are deleted after that.
class Scene {
public:
    explicit Scene(uint32_t start = 100000) : harness(irr::video::EDT_NULL, nullptr, start) {
        harness.loadResources();  // false on the null driver: no render targets, fonts or sounds
        const char* const files[] = {
            "media/audio/sound/3d_gen_engine_scout.wav", "media/audio/sound/3d_gun_plasmagatlin_p.wav",
            "media/audio/sound/2d_tor_launch.wav",       "media/audio/sound/3d_tor_engine.wav",
            "media/audio/sound/3d_exp_sml.wav",          "media/audio/sound/3d_exp_med.wav",
            "media/audio/sound/3d_collision.wav"};
        for (irr::s32 id = 1; id <= 7; ++id) {
            const unsigned mode = id == 3 ? FSOUND_2D : FSOUND_HW3D;
            sampleSlot(id) = FSOUND_Sample_Load(FSOUND_FREE, files[id - 1], mode, 0, 0);
        }
        previousLookup = setSoundLookup(&lookUpSample);
        effects.nextId = 100;  // an id no default could be mistaken for
        globals.particleSystem = &effects;
    }
    ~Scene() {
        for (Torpedo* torpedo : globals.torpedoList) {
            delete torpedo;
        }
        globals.torpedoList.clear();
        globals.shipList.clear();
        globals.stationList.clear();
        globals.trashList.clear();
        globals.playerShip = nullptr;
        globals.particleSystem = nullptr;
        owned.clear();
        setSoundLookup(previousLookup);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    ScriptedClock& clock() { return harness.clock(); }

    // A ship of size (6, 3, 10) in globals.shipList (the player's also in
    // globals.playerShip), with a box of side 4 to be hit.
    Ship* addShip(bool player, const irr::core::vector3df& position,
                  const irr::core::vector3df& rotation = irr::core::vector3df()) {
        Ship* ship = own(std::make_unique<WithBox<Ship>>(
            4.0f, player, player ? "Scout" : "Enemy", L"SX271", L"Scout", position, rotation,
            irr::core::vector3df(6, 3, 10), 10.0f, 0.5f, irr::core::vector3df(0.05f, 0.05f, 0.05f),
            ShipTuning{}, irr::s32(10)));
        globals.shipList.push_back(ship);
        if (player) {
            globals.playerShip = ship;
        }
        return ship;
    }
    template <typename T>
    T* own(std::unique_ptr<T> entity) {
        owned.push_back(std::move(entity));
        return static_cast<T*>(owned.back().get());
    }

    GameLoopHarness harness;
    RecordingParticleSystem effects;
    std::vector<std::unique_ptr<Object>> owned;

private:
    SoundLookup previousLookup = nullptr;
};

}  // namespace entitytest

// The physics glue's test world, shared by the glue's and the entities'
// tests: the null device with the generated media and resources, the glue,
// the game's terrain node with its level body, a recording particle system.
#pragma once

#include "GameLoopHarness.h"
#include "RecordingParticleSystem.h"

#include "client/constants.h"
#include "client/globals.h"
#include "client/object.h"
#include "client/physics.h"
#include "client/engine/RawTerrain.h"

#include "physics/dynamics/dgPhysics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace gluetest {

// An entity that takes a body the test made through the glue, so that the
// glue's destroy calls and the entity's own destructor find it.
template <class T>
struct Adopting : T {
    using T::T;
    void adopt(dgBody* made) { this->body = made; }
};

// A plain object carrying a scene node, to watch the transform callbacks.
struct Marker : Object {
    explicit Marker(irr::scene::ISceneNode* carried) : Object(OBJECT_TRASH, "marker", irr::core::vector3df(1, 1, 1)) {
        node = carried;
    }
};

// A force callback that adds nothing: the body coasts.
inline void coast(dgBody*) {}

inline int32_t g_bodies = 0;
inline void countBody(dgBody*) { ++g_bodies; }
// Bodies in physicsWorld.
inline int32_t bodyCount() {
    g_bodies = 0;
    dgWorldForEachBodyDo(physicsWorld, countBody);
    return g_bodies;
}

inline irr::core::vector3df bodyPosition(const dgBody* body) {
    float m[16];
    dgBodyGetMatrix(body, m);
    return irr::core::vector3df(m[12], m[13], m[14]);
}

// The largest difference between the axes of the engine's rotation set-up
// for `degrees` and those of a physics matrix.
inline float rotationGap(const irr::core::vector3df& degrees, const float* matrix) {
    irr::core::matrix4 engine;
    engine.setRotationDegrees(degrees);
    float gap = 0.0f;
    for (int32_t k = 0; k < 12; ++k) {
        gap = std::max(gap, std::fabs(engine[k] - matrix[k]));
    }
    return gap;
}

// A world as a game builds it: the glue, the terrain node and its level body,
// the resources and a recording particle system.
class GlueWorld : public ::testing::Test {
protected:
    GlueWorld() {
        harness.loadResources();  // the meshes: the null driver renders to no texture
        EXPECT_TRUE(physics.init());
        globals.physics = &physics;
        globals.particleSystem = &particles;
        globals.terrainNode = tarnwell::scene::addRawTerrainSceneNode(
            globals.sceneManager, "media/terrain/map257x257.raw", nullptr, -1, TERRAIN_POSITION,
            irr::core::vector3df(0.0f, 0.0f, 0.0f), irr::core::vector3df(TERRAIN_SCALE_XZ, TERRAIN_SCALE_Y, TERRAIN_SCALE_XZ),
            irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
        level = physics.createLevelBody(&terrain);
    }
    ~GlueWorld() override {
        globals.physics = nullptr;
        globals.particleSystem = nullptr;
        globals.terrainNode = nullptr;
        globals.debugDrawMode = 0;
    }

    void step(int32_t steps) {
        for (int32_t k = 0; k < steps; ++k) {
            physics.update(1.0f / 60.0f);
        }
    }

    GameLoopHarness harness;
    RecordingParticleSystem particles;
    Object terrain{OBJECT_LEVEL, "Terrain", irr::core::vector3df(1.0f, 1.0f, 1.0f)};
    Physics physics;
    dgBody* level = nullptr;
};

}  // namespace gluetest

// The game's one adapter to the physics world: creates the world with the
// game's memory hooks and materials, turns the terrain's mesh into a static
// level body, makes a box body per ship, torpedo, station and debris piece,
// takes the world's callbacks (forces, transforms, contacts) and applies the
// game's contact rules by entity type, steps the world once a frame and draws
// the bodies' shapes in the two debug modes. Everything runs on the game
// thread; the world calls back from inside dgWorldUpdate.
#pragma once

#include "physics/dynamics/dgPhysics.h"

#include <irrlicht.h>

#include <cstdint>
#include <vector>

class Object;
class PhysicsMaterialPairHandler;

// The game's one physics world: written by Physics::init, null outside a
// game; every body operation and callback reads it.
extern dgWorld* physicsWorld;

class Physics {
public:
    // Every field zero; init fills them.
    Physics();
    // Destroys every body, then the world this instance made (physicsWorld
    // becomes null), then the pair handler.
    virtual ~Physics();
    Physics(const Physics&) = delete;
    Physics& operator=(const Physics&) = delete;

    // Creates the world, its materials and the group pairs' callbacks, and
    // publishes the world in physicsWorld; false when the world cannot be
    // created (nothing else is made then). Once per instance: a second call
    // changes nothing and answers whether the first made the world.
    bool init();

    // The static level body from globals.terrainNode's level-0 mesh (a copy
    // the glue owns while it builds), user data `terrain`; also sets the
    // world box to the terrain's extent up to the sea surface (y = 0). Null
    // without a world or a terrain node.
    //
    // The world freezes a body whose box has left the world box. A ship the
    // world finds outside this box (past the terrain's edge, or above the
    // surface) is put back so that its box lies just inside, its outward
    // velocity removed, and flies on: the player is never frozen in place.
    // Torpedoes and debris keep the world's default.
    dgBody* createLevelBody(Object* terrain);
    // Box bodies. Position and rotation (degrees) as the engine sets up a
    // node's matrix; size full extents; angular damping per body axis.
    // Non-finite arguments give no body (null).
    dgBody* createShipBody(Object* owner, const irr::core::vector3df& position,
                           const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
                           float linearDamping, const irr::core::vector3df& angularDamping);
    dgBody* createTorpedoBody(Object* owner, const irr::core::vector3df& position,
                              const irr::core::vector3df& rotation, const irr::core::vector3df& size);
    dgBody* createStaticBody(Object* owner, const irr::core::vector3df& position,
                             const irr::core::vector3df& rotation, const irr::core::vector3df& size);
    dgBody* createTrashBody(Object* owner, const irr::core::vector3df& position,
                            const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
                            float linearDamping, const irr::core::vector3df& angularDamping);
    // Destroy the object's body and clear the object's handle; nothing for a
    // null object or body. The body's user data is cleared first, so a
    // destruction the world defers to the end of its step calls nothing
    // back for the object.
    void destroyShipBody(Object* object);
    void destroyTorpedoBody(Object* object);
    void destroyTrashBody(Object* object);

    // One world step of dt seconds (the world clamps it to [0.001, 1/60]),
    // then the debug drawing when globals.debugDrawMode is above 0.
    //
    // The outlines are drawn as line lists, one call for the bodies that
    // move and one for the level: a call per edge made the sea floor's
    // 400,000 edges cost most of a frame. The level never moves, so its
    // list is made the first time it is shown and kept for the game.
    void update(float dt);

    // Where the debug drawing's line lists go: null (the default) draws
    // them with globals.driver's drawVertexPrimitiveList; a test puts a
    // recorder in. Each list holds two indices a line. Whole program.
    using DebugLineSink = void (*)(const irr::video::S3DVertex* vertices, irr::u32 vertexCount,
                                   const irr::u32* indices, irr::u32 lineCount);
    static void setDebugLineSink(DebugLineSink sink);

    int32_t getDefaultGroup() const { return defaultGroup; }
    int32_t getShipGroup() const { return shipGroup; }
    int32_t getTorpedoGroup() const { return torpedoGroup; }
    int32_t getLevelGroup() const { return levelGroup; }

    // The callbacks handed to the world.
    static void* allocMemory(uint32_t size);
    static void freeMemory(void* block, uint32_t size);
    static void shipTransformCallback(dgBody* body, const float* matrix);
    static void torpedoTransformCallback(dgBody* body, const float* matrix);
    static void trashTransformCallback(dgBody* body, const float* matrix);
    static void shipForceCallback(dgBody* body);
    static void torpedoForceCallback(dgBody* body);
    static void trashForceCallback(dgBody* body);
    static void debugDrawBody(dgBody* body);
    static void debugDrawPolygon(const dgBody* body, int32_t vertexCount, const float* vertices, int32_t faceId);
    static int32_t contactBegin(dgMaterialPair* pair, dgBody* body0, dgBody* body1);
    static int32_t contactProcess(dgMaterialPair* material, dgContact* contact);
    static void contactEnd(dgMaterialPair* pair);

private:
    // Outlines as the driver draws a line list: each polygon's corners, and
    // two indices per edge.
    struct DebugLines {
        std::vector<irr::video::S3DVertex> vertices;
        std::vector<irr::u32> indices;
        void clear();
        void addOutline(int32_t vertexCount, const float* corners);
        void draw() const;
    };

    // The world's out-of-bounds callback: puts a ship back inside the level
    // body's world box.
    static void keepShipInside(dgBody* body);

    int32_t defaultGroup;
    int32_t shipGroup;
    int32_t torpedoGroup;
    int32_t levelGroup;
    PhysicsMaterialPairHandler* pairHandler;  // owned
    dgWorld* world;                           // the world init made; owned
    irr::core::aabbox3df worldBox;            // valid when hasLevelBox
    bool hasLevelBox;                         // createLevelBody set the world box
    DebugLines movingLines;                   // this frame's outlines but the level's
    DebugLines levelLines;                    // valid when levelLinesMade
    bool levelLinesMade;
    bool levelShown;                          // this frame's drawing shows the level
    DebugLines* outlineTarget;                // where the polygon callback adds, while drawing
};

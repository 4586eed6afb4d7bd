// The object base, the station and debris as the game makes them from the
// generated meshes, in the glue's world: their nodes, bodies, sinking, hits
// and removal.
#include "GlueWorld.h"

#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/station.h"
#include "client/trash.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using irr::core::vector3df;
using namespace gluetest;

namespace {

// The radius is the largest full extent, and a point exactly that far from
// the position is inside.
TEST(ObjectBase, ContainsPointsUpToTheRadiusInclusive) {
    Object object(OBJECT_SHIP, "Scout", vector3df(6, 3, 10));
    EXPECT_EQ(object.getRadius(), 10.0f);
    object.setPosition(vector3df(2560, -3780, 3760));
    const struct {
        vector3df offset;
        bool inside;
    } rows[] = {{{0, 0, 10}, true}, {{6, -8, 0}, true}, {{0, -10, 0}, true}, {{0, 10.001f, 0}, false},
                {{6, 8, 0.01f}, false}, {{0, 0, 0}, true}};
    for (const auto& row : rows) {
        EXPECT_EQ(object.contains(object.getPosition() + row.offset), row.inside) << row.offset.Z;
    }
}

// Finite values are stored and, with a node, shown at once; a non-finite
// component leaves both as they were.
TEST(ObjectBase, SettersMoveTheNodeAndRefuseNonFiniteValues) {
    GameLoopHarness harness;
    irr::scene::ISceneNode* node = globals.sceneManager->addEmptySceneNode();
    Marker withNode(node);
    Object without(OBJECT_TRASH, "trash", vector3df(2.5f, 2.5f, 2.5f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const vector3df values[] = {{1, 2, 3}, {nan, 0, 0}, {0, inf, 0}, {0, 0, -inf}, {-4, 5, 1e30f}};
    vector3df last(0, 0, 0);
    for (const vector3df& value : values) {
        last = (std::isfinite(value.X) && std::isfinite(value.Y) && std::isfinite(value.Z)) ? value : last;
        for (Object* object : {static_cast<Object*>(&withNode), &without}) {
            object->setPosition(value);
            object->setRotation(value);
            EXPECT_EQ(object->getPosition(), last);
            EXPECT_EQ(object->getRotation(), last);
        }
        EXPECT_EQ(node->getPosition(), last);
        EXPECT_EQ(node->getAbsolutePosition(), last);
        EXPECT_EQ(node->getRotation(), last);
    }
    EXPECT_EQ(without.getNode(), nullptr);
}

// The station: mesh 17 with the doors 18 and 19 as children, each with its
// own triangle selector, lit and fogged; a static box in the level group.
// Deleting it removes the nodes and leaves the body to the glue.
TEST_F(GlueWorld, StationStandsWithItsDoorsAndKeepsItsBody) {
    const int32_t bodies = bodyCount();
    irr::scene::ISceneNode* root = globals.sceneManager->getRootSceneNode();
    const size_t children = root->getChildren().size();
    auto* station = new Station("X10", vector3df(2710, -3830, 3910), vector3df(10, 70, 0), vector3df(60, 115, 80),
                                MESH_STATION);
    ASSERT_NE(station->getNode(), nullptr);
    EXPECT_EQ(station->getName(), "X10");
    EXPECT_EQ(station->getRadius(), 115.0f);
    EXPECT_EQ(station->getNode()->getPosition(), vector3df(2710, -3830, 3910));
    EXPECT_EQ(station->getNode()->getRotation(), vector3df(10, 70, 0));
    const struct {
        irr::scene::IAnimatedMeshSceneNode* node;
        irr::s32 mesh;
        irr::scene::ISceneNode* parent;
    } parts[] = {{static_cast<irr::scene::IAnimatedMeshSceneNode*>(station->getNode()), MESH_STATION, root},
                 {station->getDoorNode1(), MESH_STATION_DOOR1, station->getNode()},
                 {station->getDoorNode2(), MESH_STATION_DOOR2, station->getNode()}};
    for (const auto& part : parts) {
        ASSERT_NE(part.node, nullptr);
        EXPECT_EQ(part.node->getMesh(), globals.resources->getMesh(part.mesh));
        EXPECT_EQ(part.node->getParent(), part.parent);
        EXPECT_NE(part.node->getTriangleSelector(), nullptr);
        const irr::video::SMaterial& material = part.node->getMaterial(0);
        EXPECT_TRUE(material.Lighting && material.FogEnable && material.getFlag(irr::video::EMF_ANISOTROPIC_FILTER));
    }
    dgBody* body = station->getBody();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(dgBodyGetMaterialGroupId(body), uint32_t(physics.getLevelGroup()));
    EXPECT_EQ(dgBodyGetForceAndTorqueCallback(body), nullptr);
    EXPECT_EQ(bodyPosition(body), vector3df(2710, -3830, 3910));
    EXPECT_EQ(bodyCount(), bodies + 1);
    delete station;
    EXPECT_EQ(root->getChildren().size(), children);
    EXPECT_EQ(bodyCount(), bodies + 1);
    EXPECT_EQ(dgBodyGetUserData(body), nullptr);

    Station missing("X10", vector3df(2710, -3830, 3910), vector3df(), vector3df(60, 115, 80), -1);
    EXPECT_EQ(missing.getNode(), nullptr);
    EXPECT_EQ(missing.getBody(), nullptr);
    EXPECT_EQ(missing.getDoorNode1(), nullptr);
}

// Debris of each mesh: a node of it with its selector, a box of mass 1 that
// sinks with a force of (0, -5, 0) and carries the node down; deleting it
// takes the body and the node.
TEST_F(GlueWorld, DebrisSinksUnderFiveUnitsPerSecondSquaredAndGoesWithItsBody) {
    const int32_t bodies = bodyCount();
    for (irr::s32 mesh : {MESH_TRASH1, MESH_TRASH2, MESH_TRASH3}) {
        SCOPED_TRACE(mesh);
        auto* trash = new Trash("trash", vector3df(2560, -3000, 3760), vector3df(), vector3df(2.5f, 2.5f, 2.5f), mesh);
        auto* node = static_cast<irr::scene::IAnimatedMeshSceneNode*>(trash->getNode());
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->getMesh(), globals.resources->getMesh(mesh));
        EXPECT_NE(node->getTriangleSelector(), nullptr);
        dgBody* body = trash->getBody();
        ASSERT_NE(body, nullptr);
        EXPECT_NEAR(dgBodyGetLinearDamping(body), 0.7f, 1e-6f);
        step(20);
        float force[3];
        dgBodyGetForce(body, force);
        EXPECT_EQ(vector3df(force[0], force[1], force[2]), vector3df(0, -5, 0));
        EXPECT_LT(trash->getPosition().Y, -3000.0f);
        EXPECT_EQ(node->getPosition(), bodyPosition(body));
        EXPECT_EQ(bodyCount(), bodies + 1);
        delete trash;
        EXPECT_EQ(bodyCount(), bodies);
    }
    // The gravity scales with the mass.
    Object heavy(OBJECT_TRASH, "trash", vector3df(1, 1, 1));
    dgBody* body = physics.createTrashBody(&heavy, vector3df(2560, -3000, 3760), vector3df(), vector3df(1, 1, 1),
                                           2.5f, 0.7f, vector3df(0.25f, 0.25f, 0.25f));
    step(1);
    float force[3];
    dgBodyGetForce(body, force);
    EXPECT_EQ(force[1], -12.5f);
}

// A piece hit twice in one frame (a bullet and a torpedo) bursts once: one
// small explosion sound at it and one explosion effect; dead from the first.
TEST_F(GlueWorld, DebrisHitTwiceBurstsOnce) {
    Trash trash("trash", vector3df(2560, -3000, 3760), vector3df(), vector3df(2.5f, 2.5f, 2.5f), MESH_TRASH1);
    const size_t calls = harness.soundCalls().size();
    trash.hit();
    EXPECT_TRUE(trash.isDead());
    trash.hit();
    EXPECT_TRUE(trash.isDead());
    // The null driver's start-up loads no samples: nothing reaches the sound
    // layer (the OpenGL test below hears the bang).
    EXPECT_EQ(harness.soundCalls().size(), calls);
    const std::vector<RecordingParticleSystem::Call> explosions = particles.named("addExplosion");
    ASSERT_EQ(explosions.size(), 1u);
    EXPECT_EQ(explosions[0].at, vector3df(2560, -3000, 3760));
}

// With a driver that renders to textures the sounds are loaded: the hit plays
// the small explosion.
TEST(DebrisHit, PlaysTheSmallExplosionUnderOpenGl) {
    REQUIRE_OPENGL();
    GameLoopHarness harness(irr::video::EDT_OPENGL);
    ASSERT_TRUE(harness.loadResources());
    Trash trash("trash", vector3df(1, 2, 3), vector3df(), vector3df(2.5f, 2.5f, 2.5f), MESH_TRASH2);
    trash.hit();
    const std::vector<std::string> sounds = harness.soundCalls();
    ASSERT_GE(sounds.size(), 2u);
    EXPECT_EQ(sounds[sounds.size() - 2], "FSOUND_PlaySound(-1, sample " + std::to_string(SOUND_EXPLOSION_SMALL) + ") = 1");
    EXPECT_EQ(sounds.back(), "FSOUND_3D_SetAttributes(1, (1, 2, 3), null) = 1");
}

}  // namespace

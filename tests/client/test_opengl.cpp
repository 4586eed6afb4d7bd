// What needs a real driver: the whole resource load, render targets, the
// colour key, the shader materials and the additive renderer, on Mesa's
// software OpenGL (under Xvfb in CI).
#include "ClientTestSupport.h"

#include "client/engine/MyMaterialD3D9.h"
#include "client/exception.h"
#include "client/game.h"
#include "client/globals.h"
#include "client/lightingshadercallback.h"
#include "client/log.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "platform/sound/fsound.h"

#include <cstdio>
#include <set>
#include <string>

#include "FileTestUtils.h"

using clienttest::LogCollector;
using clienttest::MediaCopy;
using clienttest::ScopedDevice;

namespace {

// The sound library is started for the test's life (on the null back end).
struct ScopedSound {
    ScopedSound() { FSOUND_Init(44100, 32, 0); }
    ~ScopedSound() { FSOUND_Close(); }
};

}  // namespace

TEST(OpenGl, LoadAllLoadsEveryResource) {
    REQUIRE_OPENGL();
    MediaCopy media;
    ScopedSound sound;
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    ResourceHandler resources;
    ASSERT_TRUE(resources.loadAll());

    for (irr::s32 id = MESH_COCKPIT; id <= MESH_SPOTLIGHT; ++id) {
        ASSERT_NE(resources.getMesh(id), nullptr) << id;
        // Only the cockpit and its guns are textured without mip-maps.
        const irr::video::ITexture* skin =
            resources.getMesh(id)->getMesh(0)->getMeshBuffer(0)->getMaterial().getTexture(0);
        ASSERT_NE(skin, nullptr) << id;
        EXPECT_EQ(skin->hasMipMaps(), id > MESH_GUN_RIGHT) << id;
    }
    std::set<irr::video::ITexture*> distinct;
    for (irr::s32 id : {TEXTURE_BULLET, TEXTURE_GUN_MUZZLE, TEXTURE_FIRE, TEXTURE_BUBBLE, TEXTURE_PARTICLE1,
                        TEXTURE_PARTICLE2, TEXTURE_HUD_ATLAS, TEXTURE_TORPEDO_CAM, TEXTURE_SONAR_CAM,
                        TEXTURE_TARGET_CAM, TEXTURE_SONAR_LEFT, TEXTURE_SONAR_RIGHT, TEXTURE_MENU_BUTTON}) {
        ASSERT_NE(resources.getTexture(id), nullptr) << id;
        distinct.insert(resources.getTexture(id));
    }
    EXPECT_EQ(distinct.size(), 13u);  // render targets do not share one name
    EXPECT_EQ(resources.getTexture(TEXTURE_TORPEDO_CAM)->getSize(),
              irr::core::dimension2d<irr::u32>(128, 128));
    EXPECT_EQ(resources.getTexture(TEXTURE_SONAR_CAM)->getSize(), irr::core::dimension2d<irr::u32>(256, 256));
    for (irr::s32 id : {TEXTURE_SONAR_LEFT, TEXTURE_SONAR_RIGHT}) {
        EXPECT_EQ(resources.getTexture(id)->getColorFormat(), irr::video::ECF_A8R8G8B8);
        EXPECT_FALSE(resources.getTexture(id)->hasMipMaps()) << id;
    }
    EXPECT_TRUE(globals.driver->getTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS));
    EXPECT_NE(resources.getFont(FONT_HUD), nullptr);
    EXPECT_NE(resources.getFont(FONT_MENU), nullptr);
    for (irr::s32 id = SOUND_SHIP_ENGINE; id <= SOUND_COLLISION; ++id) {
        EXPECT_NE(resources.getSound(id), nullptr) << id;
    }

    // The sprites' background, the colour of texel (0, 0), is keyed out.
    for (irr::s32 id : {TEXTURE_BULLET, TEXTURE_GUN_MUZZLE}) {
        irr::video::ITexture* texture = resources.getTexture(id);
        const irr::u32* texels = static_cast<const irr::u32*>(texture->lock(irr::video::ETLM_READ_ONLY));
        ASSERT_NE(texels, nullptr);
        const irr::core::dimension2d<irr::u32> size = texture->getSize();
        EXPECT_EQ(irr::video::SColor(texels[0]).getAlpha(), 0u) << id;
        const irr::video::SColor centre(texels[(size.Height / 2) * size.Width + size.Width / 2]);
        EXPECT_EQ(centre.getAlpha(), 255u) << id;
        texture->unlock();
    }
}

TEST(OpenGl, MissingSoundStopsAtItAndKeepsTheSoundsBefore) {
    REQUIRE_OPENGL();
    MediaCopy media;
    ASSERT_EQ(std::remove("media/audio/sound/3d_collision.wav"), 0);
    ScopedSound sound;
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    ResourceHandler resources;
    try {
        resources.loadAll();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.message, "Can't load sound: 'media/audio/sound/3d_collision.wav'!");
    }
    for (irr::s32 id = SOUND_SHIP_ENGINE; id < SOUND_COLLISION; ++id) {
        EXPECT_NE(resources.getSound(id), nullptr) << id;
    }
    EXPECT_EQ(resources.getSound(SOUND_COLLISION), nullptr);
}

TEST(OpenGl, ShadersCompileIntoFiveMaterialsAndStayOff) {
    REQUIRE_OPENGL();
    MediaCopy media;
    LogCollector engineLog;
    ScopedDevice device(irr::video::EDT_OPENGL, &engineLog);
    ASSERT_NE(device.get(), nullptr);
    const irr::u32 renderersBefore = globals.driver->getMaterialRendererCount();
    Game game;
    device.publish();  // the game object resets the block

    engineLog.texts.clear();  // the device's own banner names the GLSL version
    ASSERT_TRUE(game.initShaders());
    EXPECT_FALSE(globals.shadersEnabled);
    EXPECT_EQ(globals.driver->getMaterialRendererCount(), renderersBefore + 5);
    EXPECT_GE(globals.solidShaderMaterial, static_cast<irr::s32>(renderersBefore));
    EXPECT_GT(globals.detailShaderMaterial, globals.solidShaderMaterial);
    EXPECT_GT(globals.alphaShaderMaterial, globals.detailShaderMaterial);
    for (const std::string& line : engineLog.texts) {
        EXPECT_EQ(line.find("GLSL"), std::string::npos) << line;
        EXPECT_EQ(line.find("rror"), std::string::npos) << line;
        EXPECT_EQ(line.find("fail"), std::string::npos) << line;
    }

    // A second game replaces the callback; the block holds one reference.
    irr::video::IShaderConstantSetCallBack* first = globals.lightingCallback;
    first->grab();
    ASSERT_TRUE(game.initShaders());
    EXPECT_NE(globals.lightingCallback, first);
    EXPECT_EQ(first->getReferenceCount(), 1 + 5);  // ours and the five materials'
    first->drop();
    globals.lightingCallback->drop();
    globals.lightingCallback = nullptr;
}

TEST(OpenGl, MissingShaderFilesGiveNoMaterials) {
    REQUIRE_OPENGL();
    MediaCopy media;
    ASSERT_EQ(std::remove("media/shader/lights-vertex.hlsl"), 0);
    ASSERT_EQ(std::remove("media/shader/lights-pixel.hlsl"), 0);
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    Game game;
    device.publish();
    ASSERT_TRUE(game.initShaders());
    EXPECT_EQ(globals.solidShaderMaterial, -1);
    EXPECT_EQ(globals.detailShaderMaterial, -1);
    EXPECT_EQ(globals.alphaShaderMaterial, -1);
    EXPECT_FALSE(globals.shadersEnabled);
    EXPECT_EQ(globals.lightingCallback, nullptr);
}

TEST(NullDriver, ShadersAreSkippedWithBothWarnings) {
    LogCollector engineLog;
    ScopedDevice device(irr::video::EDT_NULL, &engineLog);
    ASSERT_NE(device.get(), nullptr);
    const irr::u32 renderersBefore = globals.driver->getMaterialRendererCount();
    Game game;
    device.publish();
    ASSERT_TRUE(game.initShaders());
    EXPECT_EQ(globals.driver->getMaterialRendererCount(), renderersBefore);
    EXPECT_EQ(globals.lightingCallback, nullptr);
    std::string all;
    for (const std::string& line : engineLog.texts) {
        all += line + "\n";
    }
    EXPECT_NE(all.find("WARNING: Pixel shaders (V2.0) disabled because of missing driver/hardware support."),
              std::string::npos);
    EXPECT_NE(all.find("WARNING: Vertex shaders (V2.0) disabled because of missing driver/hardware support."),
              std::string::npos);
}

TEST(NullDriver, ShaderSetUpNeedsOnlyTheDeviceAndLogsItsSteps) {
    MediaCopy media;  // a folder of its own for the log
    LogCollector engineLog;
    ScopedDevice device(irr::video::EDT_NULL, &engineLog);
    ASSERT_NE(device.get(), nullptr);
    Game game;
    globals.device = device.get();  // the driver is not published
    Log log;
    ASSERT_TRUE(log.open("shaders.log"));
    log.setClock(clienttest::fixedClock);
    globals.log = &log;
    engineLog.texts.clear();
    EXPECT_TRUE(game.initShaders());
    globals.log = nullptr;
    log.close();
    EXPECT_EQ(testsupport::readFile("shaders.log"),
              "03.02.2007 09:05:00: Initialize shader...\n"
              "03.02.2007 09:05:00: ...shader initialization done\n");
    EXPECT_EQ(engineLog.texts.size(), 2u);  // the two warnings
}

TEST(OpenGl, AdditiveRendererSetsItsBlendOncePerRunOfNodes) {
    REQUIRE_OPENGL();
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    const irr::s32 id = registerAdditiveMaterial(globals.driver);
    ASSERT_GE(id, 0);
    auto* renderer = dynamic_cast<MyMaterialD3D9_ALPHA*>(globals.driver->getMaterialRenderer(id));
    ASSERT_NE(renderer, nullptr);
    EXPECT_FALSE(renderer->isTransparent());

    irr::scene::ISceneManager* scene = globals.sceneManager;
    scene->addCameraSceneNode(nullptr, irr::core::vector3df(0, 0, -20), irr::core::vector3df(0, 0, 0));
    for (float x : {-3.0f, 3.0f}) {
        irr::scene::IMeshSceneNode* cube =
            scene->addCubeSceneNode(2.0f, nullptr, -1, irr::core::vector3df(x, 0, 0));
        cube->setMaterialType(static_cast<irr::video::E_MATERIAL_TYPE>(id));
        cube->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    }
    globals.driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    scene->drawAll();
    globals.driver->endScene();
    EXPECT_EQ(renderer->getBlendSetCount(), 1u);
}

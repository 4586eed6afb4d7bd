// What needs a real driver: the whole resource load, render targets, the
// colour key, the shader materials and the additive renderer, on Mesa's
// software OpenGL (under Xvfb in CI).
#include "ClientTestSupport.h"

#include "client/engine/CGrassPatchSceneNode.h"
#include "client/engine/MyMaterialD3D9.h"
#include "client/exception.h"
#include "client/game.h"
#include "client/globals.h"
#include "client/lightingshadercallback.h"
#include "client/log.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/startup.h"
#include "platform/sound/fsound.h"

#include <GL/gl.h>
#include <dirent.h>

#include <cstdio>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FileDamage.h"
#include "FileTestUtils.h"
#include "GlCallLog.h"

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

// The test display's renderer is Mesa's llvmpipe: the game leaves the
// anisotropic filter off there and says so in the log.
TEST(OpenGl, TheSoftwareRendererGetsNoAnisotropicFilter) {
    REQUIRE_OPENGL();
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    ASSERT_NE(renderer.find("llvmpipe"), std::string::npos) << renderer;
    const char* name = "anisotropic.log";
    Log log;
    log.setClock(clienttest::fixedClock);
    ASSERT_TRUE(log.open(name));
    globals.log = &log;
    chooseAnisotropicFilter(globals.driver);
    globals.log = nullptr;
    log.close();
    EXPECT_FALSE(globals.anisotropicFilter);
    globals.anisotropicFilter = true;
    EXPECT_EQ(testsupport::readFile(name),
              "03.02.2007 09:05:00: Anisotropic filtering off on the software renderer " + renderer + "\n");
    std::remove(name);
}

#if defined(__SANITIZE_ADDRESS__)
// The leak checker's tracer stops every thread of the binary at its end;
// under it an OpenGL device starts none of Mesa's.
TEST(OpenGl, UnderTheLeakCheckerMesaStartsNoThread) {
    REQUIRE_OPENGL();
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    device.get()->getVideoDriver()->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    device.get()->getVideoDriver()->endScene();
    size_t threads = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            threads += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(tasks);
    }
    EXPECT_EQ(threads, 1u);
}
#endif

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

    // A second game on the same driver finds the five materials by their
    // names: no more renderers, the same ids, the same callback.
    const irr::s32 ids[] = {globals.solidShaderMaterial, globals.detailShaderMaterial, globals.alphaShaderMaterial};
    irr::video::IShaderConstantSetCallBack* first = globals.lightingCallback;
    ASSERT_TRUE(game.initShaders());
    EXPECT_EQ(globals.driver->getMaterialRendererCount(), renderersBefore + 5);
    EXPECT_EQ(globals.solidShaderMaterial, ids[0]);
    EXPECT_EQ(globals.detailShaderMaterial, ids[1]);
    EXPECT_EQ(globals.alphaShaderMaterial, ids[2]);
    EXPECT_EQ(first->getReferenceCount(), 1 + 5);  // the block's and the five materials'
    globals.lightingCallback->drop();
    globals.lightingCallback = nullptr;
}

// The programs are checked against the manifest like every other medium: a
// missing one, or a folder (which had the engine ask for 2^63 bytes) or
// /dev/zero in its place, ends the game with its message and makes no
// material.
TEST(OpenGl, DamagedShaderFilesEndTheGameWithTheirMessage) {
    REQUIRE_OPENGL();
    using testsupport::FileDamage;
    const std::pair<const char*, FileDamage> kCases[] = {{"media/shader/lights-vertex.hlsl", FileDamage::Folder},
                                                         {"media/shader/lights-pixel.hlsl", FileDamage::Missing},
                                                         {"media/shader/lights-pixel.hlsl", FileDamage::DevZero}};
    for (const auto& [path, damage] : kCases) {
        SCOPED_TRACE(std::string(path) + " " + testsupport::damageName(damage));
        MediaCopy media;
        testsupport::damageFile(path, testsupport::readFile(path), damage);
        ScopedDevice device(irr::video::EDT_OPENGL);
        ASSERT_NE(device.get(), nullptr);
        const irr::u32 renderersBefore = globals.driver->getMaterialRendererCount();
        Game game;
        device.publish();
        try {
            game.initShaders();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message, std::string("Can't load shader: '") + path + "'!");
        }
        EXPECT_EQ(globals.driver->getMaterialRendererCount(), renderersBefore);
        EXPECT_EQ(globals.lightingCallback, nullptr);
    }
}

// Published whole, or only the device as at start-up: the shaders are
// skipped with both warnings, no renderer is added and the steps are logged.
TEST(NullDriver, ShadersAreSkippedWithBothWarningsAndTheStepsLogged) {
    MediaCopy media;  // a folder of its own for the log
    for (const bool published : {true, false}) {
        SCOPED_TRACE(published);
        LogCollector engineLog;
        ScopedDevice device(irr::video::EDT_NULL, &engineLog);
        ASSERT_NE(device.get(), nullptr);
        const irr::u32 renderersBefore = device.get()->getVideoDriver()->getMaterialRendererCount();
        Game game;
        if (published) {
            device.publish();
        } else {
            globals.device = device.get();  // the driver is not published
        }
        Log log;
        ASSERT_TRUE(log.open("shaders.log"));
        log.setClock(clienttest::fixedClock);
        globals.log = &log;
        engineLog.texts.clear();
        EXPECT_TRUE(game.initShaders());
        globals.log = nullptr;
        log.close();
        EXPECT_EQ(device.get()->getVideoDriver()->getMaterialRendererCount(), renderersBefore);
        EXPECT_EQ(globals.lightingCallback, nullptr);
        EXPECT_EQ(engineLog.texts,
                  (std::vector<std::string>{
                      "WARNING: Pixel shaders (V2.0) disabled because of missing driver/hardware support.",
                      "WARNING: Vertex shaders (V2.0) disabled because of missing driver/hardware support."}));
        EXPECT_EQ(testsupport::readFile("shaders.log"),
                  "03.02.2007 09:05:00: Initialize shader...\n"
                  "03.02.2007 09:05:00: ...shader initialization done\n");
    }
}

namespace {

// A run of draws, each a cube with the additive material ('A') or a solid
// one ('S'); 'T' switches the render target, to a texture or back to the
// frame buffer, after which the driver asks the next material to reset every
// state. Every cube's material differs from the one before in a field the
// renderers ignore, so the driver hands each to its renderer.
struct AdditiveRun {
    const char* name;
    const char* draws;
    size_t blendSets;  // glBlendFunc(GL_ONE, GL_ONE) calls over the run
};

void PrintTo(const AdditiveRun& run, std::ostream* out) {
    *out << run.draws;
}

}  // namespace

class AdditiveRenderer : public testing::TestWithParam<AdditiveRun> {};

TEST_P(AdditiveRenderer, BlendsOneOneWithoutZWritesAndSetsTheBlendOncePerRun) {
    REQUIRE_OPENGL();
    const AdditiveRun& run = GetParam();
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    irr::video::IVideoDriver* driver = globals.driver;
    const irr::s32 id = registerAdditiveMaterial(driver);
    ASSERT_GE(id, 0);
    EXPECT_FALSE(driver->getMaterialRenderer(id)->isTransparent());
    irr::scene::IMesh* cube = globals.sceneManager->getGeometryCreator()->createCubeMesh();
    irr::video::ITexture* target = driver->addRenderTargetTexture(irr::core::dimension2d<irr::u32>(64, 64));
    ASSERT_NE(target, nullptr);
    bool onTexture = false;

    driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    clienttest::GlCallLog gl;
    const std::string draws = run.draws;
    std::string cubes;  // the kinds of the cubes, in order
    for (size_t i = 0; i < draws.size(); ++i) {
        if (draws[i] == 'T') {
            onTexture = !onTexture;
            ASSERT_TRUE(driver->setRenderTarget(onTexture ? target : nullptr, true, true));
            continue;
        }
        irr::video::SMaterial material;
        material.Lighting = false;
        material.Shininess = static_cast<irr::f32>(i + 1);
        if (draws[i] == 'A') {
            material.MaterialType = static_cast<irr::video::E_MATERIAL_TYPE>(id);
        }
        driver->setMaterial(material);
        driver->setTransform(irr::video::ETS_WORLD, irr::core::IdentityMatrix);
        driver->drawMeshBuffer(cube->getMeshBuffer(0));
        cubes += draws[i];
    }
    driver->endScene();
    cube->drop();

    ASSERT_EQ(gl.draws.size(), cubes.size());
    for (size_t i = 0; i < cubes.size(); ++i) {
        const clienttest::GlDrawState& state = gl.draws[i];
        if (cubes[i] == 'A') {
            EXPECT_TRUE(state.blend) << i;
            EXPECT_EQ(state.source, static_cast<uint32_t>(GL_ONE)) << i;
            EXPECT_EQ(state.destination, static_cast<uint32_t>(GL_ONE)) << i;
            EXPECT_FALSE(state.depthWrite) << i;
        } else {
            // The blend state is given back; the solid material writes z.
            EXPECT_FALSE(state.blend) << i;
            EXPECT_TRUE(state.depthWrite) << i;
        }
    }
    size_t blendSets = 0;
    for (const clienttest::GlBlendFunc& set : gl.blendFuncs) {
        blendSets += set.source == GL_ONE && set.destination == GL_ONE;
    }
    EXPECT_EQ(blendSets, run.blendSets);
}

INSTANTIATE_TEST_SUITE_P(Runs, AdditiveRenderer,
                         testing::Values(AdditiveRun{"TwoInARow", "AA", 1},
                                         AdditiveRun{"FourInARowAfterSolid", "SAAAA", 1},
                                         AdditiveRun{"BrokenBySolid", "ASA", 2},
                                         AdditiveRun{"TwoRunsBetweenSolids", "SAASAAS", 2},
                                         AdditiveRun{"AcrossRenderTargets", "ATATA", 3}),
                         [](const testing::TestParamInfo<AdditiveRun>& info) { return info.param.name; });

// A patch past 16384 blades holds vertices beyond 16-bit indices: flat
// green squares on the left for the first 16384 blades, red ones on the
// right for the rest. Drawn from above, red shows only when the indices
// reach past 65535.
TEST(OpenGl, GrassPatchDrawsBladesBeyondSixteenBitIndices) {
    REQUIRE_OPENGL();
    MediaCopy scratch;  // the working directory, for the grass file
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    irr::core::array<tarnwell::scene::GrassElement> blades;
    std::mt19937 random(65536);
    std::uniform_real_distribution<irr::f32> along(10.0f, 490.0f);
    for (irr::u32 i = 0; i < 20000; ++i) {
        tarnwell::scene::GrassElement blade;
        const bool far = i >= 16384;
        blade.topColor = far ? irr::video::SColor(255, 255, 0, 0) : irr::video::SColor(255, 0, 255, 0);
        blade.position.set(far ? along(random) : -along(random), 0.0f, along(random) - 250.0f);
        blade.atlasRow = 1;  // not thinned
        const irr::core::vector3df offsets[4] = {{-3, 0, -3}, {-3, 0, 3}, {3, 0, 3}, {3, 0, -3}};
        for (int k = 0; k < 4; ++k) {
            blade.corners[k] = blade.position + offsets[k];
        }
        blades.push_back(blade);
    }
    ASSERT_EQ(system("mkdir grass"), 0);
    std::FILE* file = std::fopen("grass/0.0.grass", "wb");
    ASSERT_TRUE(tarnwell::scene::writeGrassFile(file, blades));
    std::fclose(file);

    irr::video::IVideoDriver* driver = globals.driver;
    irr::scene::ISceneManager* scene = globals.sceneManager;
    scene->addCameraSceneNode(nullptr, irr::core::vector3df(0, 700, -300), irr::core::vector3df(0, 0, 0));
    tarnwell::scene::CGrassPatchSceneNode* patch = new tarnwell::scene::CGrassPatchSceneNode(
        false, scene->getRootSceneNode(), scene, -1, irr::core::vector3d<irr::s32>(0, 0, 0), "grass",
        static_cast<tarnwell::scene::IHeightSource*>(nullptr), nullptr, nullptr, nullptr, 0.0f, nullptr);
    patch->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    ASSERT_EQ(patch->getBlades().size(), 20000u);
    irr::video::ITexture* target = driver->addRenderTargetTexture(irr::core::dimension2d<irr::u32>(128, 128));
    ASSERT_NE(target, nullptr);
    driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0));
    driver->setRenderTarget(target, true, true, irr::video::SColor(255, 0, 0, 0));
    scene->drawAll();
    driver->setRenderTarget(nullptr);
    driver->endScene();
    EXPECT_EQ(patch->getDrawnCount(), 20000);

    const irr::u32* texels = static_cast<const irr::u32*>(target->lock(irr::video::ETLM_READ_ONLY));
    ASSERT_NE(texels, nullptr);
    irr::u32 counts[2][2] = {};  // [right half][red]
    for (irr::u32 y = 0; y < 128; ++y) {
        for (irr::u32 x = 0; x < 128; ++x) {
            const irr::video::SColor texel(texels[y * 128 + x]);
            if (texel.getRed() > 128 || texel.getGreen() > 128) {
                ++counts[x >= 64][texel.getRed() > 128];
            }
        }
    }
    target->unlock();
    EXPECT_GT(counts[0][0], 1000u);
    EXPECT_GT(counts[1][1], 300u);
    EXPECT_EQ(counts[0][1] + counts[1][0], 0u);
    patch->drop();
}

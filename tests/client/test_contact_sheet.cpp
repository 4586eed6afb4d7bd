// Not a check but a picture: every mesh with its texture, the HUD atlas, the
// radar terrain, a burst of fire particles, a grass patch on the menu
// terrain and the HUD over the game's opening scene at 800 x 600 and
// 1024 x 768, rendered on OpenGL into contact_sheet.png in the test folder,
// for a person to look at. It fails only when something cannot be loaded or
// drawn at all.
#include "ClientTestSupport.h"
#include "HudScene.h"

#include "client/engine/CGrassPatchSceneNode.h"
#include "client/engine/IParticleSystemSceneNode.h"
#include "client/globals.h"
#include "client/resourcehandler.h"
#include "platform/sound/fsound.h"

#include <string>
#include <vector>

using clienttest::MediaCopy;
using clienttest::ScopedDevice;

namespace {

const char* const kMeshes[] = {
    "media/mesh/cockpit/cockpit_spielerschiff01.x",
    "media/mesh/cockpit/cockpit_spielerschiff01_gun_left.x",
    "media/mesh/cockpit/cockpit_spielerschiff01_gun_right.x",
    "media/mesh/mantis1/mantis_scout01.X",
    "media/mesh/bomber1/bomber.x",
    "media/mesh/bomber2/bomber_02.x",
    "media/mesh/trash/trash_small_01.x",
    "media/mesh/trash/trash_small_02.x",
    "media/mesh/trash/trash_small_03.x",
    "media/mesh/torpedo/torp_hellshark.x",
    "media/mesh/station1/station_01.x",
    "media/mesh/station1/station_01_door_01.x",
    "media/mesh/station1/station_01_door_02.x",
    "media/mesh/shockwave/shockwave01.x",
    "media/mesh/spotlight/spotlight_01.x",
};

constexpr irr::s32 kCellWidth = 256;
constexpr irr::s32 kCellHeight = 192;
constexpr irr::s32 kColumns = 4;

irr::core::rect<irr::s32> cell(irr::s32 index) {
    const irr::s32 x = (index % kColumns) * kCellWidth;
    const irr::s32 y = (index / kColumns) * kCellHeight;
    return irr::core::rect<irr::s32>(x, y, x + kCellWidth, y + kCellHeight);
}

// Draws one node alone into its cell, seen from the front-left and above.
void drawInCell(irr::scene::ISceneNode* node, irr::scene::ICameraSceneNode* camera, irr::s32 index) {
    irr::video::IVideoDriver* driver = globals.driver;
    // A terrain's own box is already in world coordinates.
    const irr::core::aabbox3d<irr::f32> box = node->getType() == irr::scene::ESNT_TERRAIN
                                                  ? node->getBoundingBox()
                                                  : node->getTransformedBoundingBox();
    const irr::core::vector3df centre = box.getCenter();
    const irr::f32 radius = (box.MaxEdge - box.MinEdge).getLength() * 0.5f;
    camera->setPosition(centre + irr::core::vector3df(-0.9f, 0.7f, -1.2f).normalize() * radius * 1.8f);
    camera->setTarget(centre);
    camera->setFarValue(radius * 10.0f + 100.0f);
    camera->setNearValue(radius * 0.01f + 0.01f);
    camera->setAspectRatio(static_cast<irr::f32>(kCellWidth) / kCellHeight);
    driver->setViewPort(cell(index));
    node->setVisible(true);
    globals.sceneManager->drawAll();
    node->setVisible(false);
}

// Stops the engine's virtual time for a scope. It is one per process:
// later devices must find it running again.
class StoppedTime {
public:
    explicit StoppedTime(irr::ITimer* timer) : timer(timer) { timer->stop(); }
    ~StoppedTime() { timer->start(); }
    StoppedTime(const StoppedTime&) = delete;
    StoppedTime& operator=(const StoppedTime&) = delete;

private:
    irr::ITimer* timer;
};

// A debris burst's fire, denser and in smaller sprites, half a second after
// it began.
irr::scene::ISceneNode* addFireBurst(irr::IrrlichtDevice* device) {
    tarnwell::scene::IParticleSystemSceneNode* burst =
        tarnwell::scene::addParticleSystemSceneNode(globals.sceneManager, false);
    if (burst == nullptr) {
        return nullptr;
    }
    burst->setParticleSize(irr::core::dimension2df(2.5f, 2.5f));
    burst->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    burst->setMaterialFlag(irr::video::EMF_FOG_ENABLE, false);
    burst->setMaterialTexture(0, globals.driver->getTexture("media/graphics/particles/fire.png"));
    burst->setMaterialType(irr::video::EMT_TRANSPARENT_ADD_COLOR);
    tarnwell::scene::IParticleEmitter* emitter = burst->createSphereEmitter(
        irr::core::vector3df(), 3.5f, irr::core::vector3df(), 100, 200, irr::video::SColor(0, 200, 100, 20),
        irr::video::SColor(0, 255, 200, 100), 300, 1000);
    burst->setEmitter(emitter);
    emitter->drop();
    tarnwell::scene::IParticleAffector* fade =
        burst->createFadeOutParticleAffector(irr::video::SColor(0, 0, 0, 0), 500);
    burst->addAffector(fade);
    fade->drop();
    // The engine's time stands still (StoppedTime), so that every drawing of
    // the sheet shows the burst as it is at 500 ms.
    irr::ITimer* timer = device->getTimer();
    for (irr::u32 now = 0; now <= 500; now += 20) {
        timer->setTime(now);
        burst->OnAnimate(now);
    }
    return burst;
}

// The grass close up, standing on the menu's terrain as in the menu, with
// the menu's material.
void drawGrassInCell(irr::scene::ISceneNode* grass, irr::scene::ISceneNode* ground,
                     irr::scene::ICameraSceneNode* camera, irr::s32 index) {
    const irr::core::vector3df spot = grass->getPosition() + irr::core::vector3df(-150.0f, 0.0f, -150.0f);
    const irr::f32 floor = static_cast<irr::scene::ITerrainSceneNode*>(ground)->getHeight(spot.X, spot.Z);
    camera->setPosition(spot + irr::core::vector3df(-60.0f, floor + 45.0f, -60.0f));
    camera->setTarget(spot + irr::core::vector3df(0.0f, floor, 0.0f));
    camera->setFarValue(3000.0f);
    camera->setNearValue(1.0f);
    camera->setAspectRatio(static_cast<irr::f32>(kCellWidth) / kCellHeight);
    globals.driver->setViewPort(cell(index));
    grass->setVisible(true);
    ground->setVisible(true);
    globals.sceneManager->drawAll();
    grass->setVisible(false);
    ground->setVisible(false);
}

// The HUD's pictures at both layouts, made with the game's resources before
// anything else is loaded: the resource handler removes every texture when
// it goes, so the meshes it loaded are dropped from the cache with it.
std::vector<irr::video::IImage*> shootHud() {
    std::vector<irr::video::IImage*> shots;
    FSOUND_Init(44100, 32, 0);
    {
        ResourceHandler resources;
        globals.resources = &resources;
        if (resources.loadAll()) {
            for (const irr::core::dimension2d<irr::u32> size :
                 {irr::core::dimension2d<irr::u32>(800, 600), irr::core::dimension2d<irr::u32>(1024, 768)}) {
                clienttest::HudScene scene(size);
                scene.enemies[1]->setTargeted(true);
                scene.launchTorpedo(scene.enemies[0]);
                scene.frame();
                shots.push_back(scene.shoot());
            }
        }
        globals.resources = nullptr;
    }
    globals.sceneManager->getMeshCache()->clear();
    FSOUND_Close();
    return shots;
}

}  // namespace

TEST(ContactSheet, EveryMeshTheAtlasTheTerrainAndAParticleBurst) {
    REQUIRE_OPENGL();
    MediaCopy media;
    ScopedDevice device(irr::video::EDT_OPENGL);
    ASSERT_NE(device.get(), nullptr);
    irr::video::IVideoDriver* driver = globals.driver;
    irr::scene::ISceneManager* scene = globals.sceneManager;
    const std::vector<irr::video::IImage*> hudShots = shootHud();
    ASSERT_EQ(hudShots.size(), 2u);
    std::vector<irr::video::ITexture*> hudPictures;
    for (irr::video::IImage* shot : hudShots) {
        ASSERT_NE(shot, nullptr);
        hudPictures.push_back(
            driver->addTexture(("HudShot" + std::to_string(hudPictures.size())).c_str(), shot));
        shot->drop();
    }
    scene->setAmbientLight(irr::video::SColorf(0.35f, 0.35f, 0.4f));
    scene->addLightSceneNode(nullptr, irr::core::vector3df(-500, 800, -700), irr::video::SColorf(1, 1, 1),
                             5000.0f);
    irr::scene::ICameraSceneNode* camera = scene->addCameraSceneNode();

    std::vector<irr::scene::ISceneNode*> nodes;
    for (const char* path : kMeshes) {
        irr::scene::IAnimatedMesh* mesh = scene->getMesh(path);
        ASSERT_NE(mesh, nullptr) << path;
        irr::scene::ISceneNode* node = scene->addMeshSceneNode(mesh->getMesh(0));
        // Flat and open meshes (the shock wave, the light cone) show both sides.
        node->setMaterialFlag(irr::video::EMF_BACK_FACE_CULLING, false);
        node->setVisible(false);
        nodes.push_back(node);
    }
    irr::scene::ITerrainSceneNode* terrain = scene->addTerrainSceneNode(
        "media/terrain/t65x65.jpg", nullptr, -1, irr::core::vector3df(0, 0, 0), irr::core::vector3df(0, 0, 0),
        irr::core::vector3df(8, 0.6f, 8), irr::video::SColor(255, 255, 255, 255), 1, irr::scene::ETPS_9);
    ASSERT_NE(terrain, nullptr);
    terrain->setMaterialTexture(0, driver->getTexture("media/terrain/rockground.jpg"));
    terrain->setMaterialTexture(1, driver->getTexture("media/terrain/detailmap3.jpg"));
    terrain->setMaterialType(irr::video::EMT_DETAIL_MAP);
    terrain->scaleTexture(4.0f, 20.0f);
    terrain->setVisible(false);
    nodes.push_back(terrain);
    StoppedTime stopped(device.get()->getTimer());
    irr::scene::ISceneNode* burst = addFireBurst(device.get());
    ASSERT_NE(burst, nullptr);
    burst->setVisible(false);
    nodes.push_back(burst);
    irr::scene::ITerrainSceneNode* menuTerrain = scene->addTerrainSceneNode(
        "media/terrain/t33x33.jpg", nullptr, -1, irr::core::vector3df(0, 0, 0), irr::core::vector3df(0, 0, 0),
        irr::core::vector3df(80, 5, 80), irr::video::SColor(255, 255, 255, 255), 3, irr::scene::ETPS_9);
    irr::video::IImage* menuImage = driver->createImageFromFile("media/terrain/t33x33.jpg");
    ASSERT_TRUE(menuTerrain != nullptr && menuImage != nullptr);
    menuTerrain->setMaterialTexture(0, driver->getTexture("media/terrain/rockground.jpg"));
    menuTerrain->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    menuTerrain->scaleTexture(8.0f);
    menuTerrain->setVisible(false);
    tarnwell::scene::CGrassPatchSceneNode* grass = new tarnwell::scene::CGrassPatchSceneNode(
        false, scene->getRootSceneNode(), scene, -1, irr::core::vector3d<irr::s32>(1, 0, 1), "grass",
        menuImage, menuImage, menuImage, menuTerrain, 0.0f, nullptr);
    menuImage->drop();
    grass->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    grass->setMaterialType(irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
    grass->setMaterialTexture(0, driver->getTexture("media/terrain/grass.png"));
    grass->setVisible(false);
    grass->drop();
    irr::video::ITexture* atlas = driver->getTexture("media/graphics/hud/hud.png");
    ASSERT_NE(atlas, nullptr);

    // Drawn into a texture: reading the window back gives nothing on every
    // driver.
    // Five rows of cells, then the two HUD pictures at half the width each.
    const irr::core::dimension2d<irr::u32> sheetSize(kColumns * kCellWidth, 5 * kCellHeight + 384);
    irr::video::ITexture* sheet = driver->addRenderTargetTexture(sheetSize, "ContactSheet");
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(driver->beginScene(true, true, irr::video::SColor(255, 0, 0, 0)));
    driver->setRenderTarget(sheet, true, true, irr::video::SColor(255, 20, 40, 70));
    for (size_t i = 0; i < nodes.size(); ++i) {
        drawInCell(nodes[i], camera, static_cast<irr::s32>(i));
    }
    // The grass rebuilds its blades when its 50 ms interval has passed since
    // the last animation; the earlier cells animated it at this same stopped
    // time, so move the time on for its own cell.
    irr::ITimer* timer = device.get()->getTimer();
    timer->setTime(timer->getTime() + 100);
    drawGrassInCell(grass, menuTerrain, camera, static_cast<irr::s32>(nodes.size()));
    driver->setViewPort(irr::core::rect<irr::s32>(0, 0, sheetSize.Width, sheetSize.Height));
    const irr::core::rect<irr::s32> atlasCell = cell(static_cast<irr::s32>(nodes.size()) + 1);
    driver->draw2DImage(atlas, atlasCell, irr::core::rect<irr::s32>(0, 0, 512, 512), nullptr, nullptr, true);
    for (size_t i = 0; i < hudPictures.size(); ++i) {
        ASSERT_NE(hudPictures[i], nullptr);
        const irr::core::dimension2d<irr::u32> size = hudPictures[i]->getOriginalSize();
        const irr::s32 x = static_cast<irr::s32>(i) * 512;
        driver->draw2DImage(hudPictures[i],
                            irr::core::rect<irr::s32>(x, 5 * kCellHeight, x + 512, 5 * kCellHeight + 384),
                            irr::core::rect<irr::s32>(0, 0, static_cast<irr::s32>(size.Width),
                                                      static_cast<irr::s32>(size.Height)));
    }
    driver->setRenderTarget(nullptr);
    driver->endScene();

    void* texels = sheet->lock(irr::video::ETLM_READ_ONLY);
    ASSERT_NE(texels, nullptr);
    irr::video::IImage* shot =
        driver->createImageFromData(sheet->getColorFormat(), sheet->getSize(), texels, false);
    sheet->unlock();
    ASSERT_NE(shot, nullptr);
    const std::string out = std::string(TARNWELL_BINARY_DIR) + "/contact_sheet.png";
    EXPECT_TRUE(driver->writeImageToFile(shot, out.c_str()));
    shot->drop();
}

#include "HudScene.h"

#include "client/camera.h"
#include "client/constants.h"
#include "client/engine/RawTerrain.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/station.h"
#include "client/torpedo.h"

#include <cstring>

namespace clienttest {

SceneShip::SceneShip(bool isPlayer, const std::string& name, const std::wstring& registration,
                     const std::wstring& className, const irr::core::vector3df& position,
                     const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
                     irr::s32 mesh)
    : Ship(isPlayer, name, registration, className, position, rotation, size, mass, 0.5f,
           SCOUT_ANGULAR_DAMPING, ShipTuning{}, mesh) {
    irr::scene::IAnimatedMesh* model = globals.resources->getMesh(mesh);
    if (node == nullptr && model != nullptr) {
        node = globals.sceneManager->addAnimatedMeshSceneNode(model, nullptr, -1, position, rotation);
        ownNode = node != nullptr;
    }
    if (isPlayer) {
        addWeapon(0, irr::core::vector3df(-1.5f, -1.0f, 3.0f));
        addWeapon(0, irr::core::vector3df(1.5f, -1.0f, 3.0f));
        addWeapon(1, irr::core::vector3df(0.0f, -4.0f, 3.0f));
    }
}

SceneShip::~SceneShip() {
    if (ownNode) {
        node->remove();
        node = nullptr;
    }
}

void SceneShip::place(const irr::core::vector3df& p, const irr::core::vector3df& r) {
    setPosition(p);
    setRotation(r);
    if (node != nullptr) {
        node->setPosition(p);
        node->setRotation(r);
        node->updateAbsolutePosition();
    }
}

HudScene::HudScene(const irr::core::dimension2d<irr::u32>& screen, HudCanvas* canvas) : saved(globals) {
    irr::video::IVideoDriver* driver = globals.driver;
    irr::scene::ISceneManager* scene = globals.sceneManager;
    previousScreen = driver->getScreenSize();
    driver->OnResize(screen);
    scene->setAmbientLight(irr::video::SColorf(0.6f, 0.6f, 0.7f));
    globals.clearColor = irr::video::SColor(255, 0, 8, 16);

    globals.mainCamera = new Camera(-1, 250.0f, 0.75f);
    globals.sonarCamera = new Camera(2, 2000.0f, 1.0f);
    globals.targetCamera = new Camera(3, 300.0f, 1.0f);
    globals.closeCamera = new Camera(4, 10.0f, 0.75f);
    scene->setActiveCamera(globals.mainCamera->getNode());

    globals.terrainNode = tarnwell::scene::addRawTerrainSceneNode(
        scene, "media/terrain/map257x257.raw", nullptr, -1, TERRAIN_POSITION, irr::core::vector3df(),
        irr::core::vector3df(TERRAIN_SCALE_XZ, TERRAIN_SCALE_Y, TERRAIN_SCALE_XZ),
        irr::video::SColor(255, 255, 255, 255), 4, irr::scene::ETPS_17);
    if (globals.terrainNode != nullptr) {
        globals.terrainNode->setMaterialTexture(0, driver->getTexture("media/terrain/rockground.jpg"));
        globals.terrainNode->scaleTexture(40.0f);
        irr::scene::ITriangleSelector* selector =
            scene->createTerrainTriangleSelector(globals.terrainNode, 0);
        globals.terrainNode->setTriangleSelector(selector);
        selector->drop();
    }
    globals.radarTerrainNode = scene->addTerrainSceneNode(
        "media/terrain/t65x65.jpg", nullptr, -1, irr::core::vector3df(0.0f, -6000.0f, 0.0f),
        irr::core::vector3df(), irr::core::vector3df(80.0f, 5.0f, 80.0f),
        irr::video::SColor(255, 255, 255, 255), 1, irr::scene::ETPS_9);
    if (globals.radarTerrainNode != nullptr) {
        globals.radarTerrainNode->setMaterialTexture(0, driver->getTexture("media/terrain/rockground.jpg"));
        globals.radarTerrainNode->setMaterialFlag(irr::video::EMF_WIREFRAME, true);
        globals.radarTerrainNode->setMaterialFlag(irr::video::EMF_LIGHTING, false);
        globals.radarTerrainNode->setMaterialFlag(irr::video::EMF_FOG_ENABLE, false);
    }
    globals.heightMap = new HeightMap("media/terrain/map257x257.raw", 16);

    player = new SceneShip(true, "Scout", L"SX271", L"Scout", irr::core::vector3df(2560, -3780, 3760),
                           irr::core::vector3df(0, 0, 0), irr::core::vector3df(6, 3, 10), 10.0f, MESH_SCOUT);
    enemies = {
        new SceneShip(false, "Enemy 1", L"SB373", L"Bomber1", irr::core::vector3df(2560, -3790, 3830),
                      irr::core::vector3df(10, 80, 0), irr::core::vector3df(8, 3, 10), 30.0f, MESH_BOMBER1),
        new SceneShip(false, "Enemy 2", L"SX271", L"Scout", irr::core::vector3df(2585, -3750, 3835),
                      irr::core::vector3df(0, 0, 0), irr::core::vector3df(8, 3, 10), 10.0f, MESH_SCOUT),
        new SceneShip(false, "Enemy 3", L"TA575", L"Bomber2", irr::core::vector3df(2590, -3800, 3820),
                      irr::core::vector3df(0, 0, 0), irr::core::vector3df(36, 10, 16), 100.0f, MESH_BOMBER2),
    };
    globals.playerShip = player;
    globals.shipList.push_back(player);
    globals.shipList.insert(globals.shipList.end(), enemies.begin(), enemies.end());
    station = new Station("X10", irr::core::vector3df(2710, -3830, 3910), irr::core::vector3df(10, 70, 0),
                          irr::core::vector3df(60, 115, 80), MESH_STATION);
    globals.stationList.push_back(station);

    display = std::make_unique<Hud>(canvas);
    globals.hud = display.get();
}

HudScene::~HudScene() {
    display.reset();
    for (Torpedo* torpedo : globals.torpedoList) {
        delete torpedo;
    }
    delete station;
    for (Ship* ship : globals.shipList) {
        delete ship;
    }
    for (Camera* camera :
         {globals.mainCamera, globals.sonarCamera, globals.targetCamera, globals.closeCamera}) {
        camera->getNode()->remove();
        delete camera;
    }
    for (irr::scene::ISceneNode* terrain : {globals.terrainNode, globals.radarTerrainNode}) {
        if (terrain != nullptr) {
            terrain->remove();
        }
    }
    delete globals.heightMap;
    globals.driver->OnResize(previousScreen);
    globals = saved;
}

Torpedo* HudScene::launchTorpedo(Ship* target) {
    Torpedo* torpedo =
        new Torpedo(player->getPosition() + irr::core::vector3df(0, 0, 40), irr::core::vector3df(), 15000,
                    MESH_TORPEDO, irr::core::vector3df(0.5f, 0.5f, 3.0f), target, -1);
    globals.torpedoList.push_back(torpedo);
    globals.trackedTorpedo = torpedo;
    return torpedo;
}

void HudScene::views() {
    globals.mainCamera->update(irr::core::vector3df(0, 0, 3), player->getPosition(), player->getRotation());
    display->renderTorpedoView();
    display->update3D();
    display->renderTargetView();
}

void HudScene::frame() {
    globals.driver->beginScene(true, true, globals.clearColor);
    views();
    globals.sceneManager->drawAll();
    display->draw();
    display->drawTargetAndRadar();
    globals.driver->endScene();
}

irr::video::IImage* HudScene::shoot() {
    irr::video::IVideoDriver* driver = globals.driver;
    const irr::core::dimension2d<irr::u32> size = driver->getScreenSize();
    irr::video::ITexture* shot = driver->addRenderTargetTexture(size, "HudShot");
    if (shot == nullptr) {
        return nullptr;
    }
    driver->beginScene(true, true, globals.clearColor);
    views();
    driver->setRenderTarget(shot, true, true, globals.clearColor);
    globals.sceneManager->drawAll();
    display->draw();
    display->drawTargetAndRadar();
    driver->setRenderTarget(nullptr);
    driver->endScene();
    void* texels = shot->lock(irr::video::ETLM_READ_ONLY);
    irr::video::IImage* picture =
        texels != nullptr ? driver->createImage(shot->getColorFormat(), shot->getSize()) : nullptr;
    if (picture != nullptr) {
        std::memcpy(picture->lock(), texels, picture->getImageDataSizeInBytes());
        picture->unlock();
        // The window shows no alpha: the blends' destination alpha is not
        // part of the picture.
        for (irr::u32 y = 0; y < size.Height; ++y) {
            for (irr::u32 x = 0; x < size.Width; ++x) {
                irr::video::SColor c = picture->getPixel(x, y);
                c.setAlpha(255);
                picture->setPixel(x, y, c);
            }
        }
    }
    shot->unlock();
    driver->removeTexture(shot);
    return picture;
}

}  // namespace clienttest

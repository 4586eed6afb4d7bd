#include "client/game.h"

#include "client/camera.h"
#include "client/constants.h"
#include "client/control.h"
#include "client/engine/ITideGenerator.h"
#include "client/engine/MyMaterialD3D9.h"
#include "client/gameclock.h"
#include "client/gamemedia.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/hud.h"
#include "client/inifile.h"
#include "client/lightingshadercallback.h"
#include "client/log.h"
#include "client/networkconnection.h"
#include "client/object.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/resourceids.h"
#include "client/settings.h"
#include "client/ship.h"
#include "client/station.h"
#include "client/torpedo.h"
#include "client/trash.h"
#include "client/utilities.h"
#include "client/weapon.h"
#include "platform/sound/fsound.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using irr::core::vector3df;

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

const char* const kVertexShader = "media/shader/lights-vertex.hlsl";
const char* const kPixelShader = "media/shader/lights-pixel.hlsl";

// The five lighting materials by their engine base material, named so that a
// later game on the same driver finds them instead of adding five more.
struct ShaderMaterial {
    irr::video::E_MATERIAL_TYPE base;
    const char* name;
};
const ShaderMaterial kShaderMaterials[] = {
    {irr::video::EMT_SOLID, "tarnwell lighting solid"},
    {irr::video::EMT_DETAIL_MAP, "tarnwell lighting detail map"},
    {irr::video::EMT_TRANSPARENT_ADD_COLOR, "tarnwell lighting add colour"},
    {irr::video::EMT_TRANSPARENT_VERTEX_ALPHA, "tarnwell lighting vertex alpha"},
    {irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL, "tarnwell lighting alpha channel"},
};
// The name registerAdditiveMaterial gives its renderer.
const char* const kAdditiveMaterialName = "MyMaterialD3D9_ALPHA";

irr::s32 findMaterialRenderer(irr::video::IVideoDriver* driver, const char* name) {
    for (irr::u32 i = 0; i < driver->getMaterialRendererCount(); ++i) {
        const char* found = driver->getMaterialRendererName(i);
        if (found != nullptr && std::strcmp(found, name) == 0) {
            return static_cast<irr::s32>(i);
        }
    }
    return -1;
}

// One ship of the game's opening, as the table gives it.
struct ShipEntry {
    bool player;
    const char* name;
    const wchar_t* registration;
    const wchar_t* className;
    irr::s32 mesh;
    vector3df position;
    vector3df rotation;
    vector3df size;
    float mass;
    const vector3df& angularDamping;
};

const ShipEntry kShips[] = {
    {true, "Scout", L"SX271", L"Scout", MESH_SCOUT, {2560, -3780, 3760}, {0, 0, 0}, {6, 3, 10}, 10.0f,
     SCOUT_ANGULAR_DAMPING},
    {false, "Enemy 1", L"SB373", L"Bomber1", MESH_BOMBER1, {2560, -3790, 3830}, {10, 80, 0}, {8, 3, 10}, 30.0f,
     BOMBER1_ANGULAR_DAMPING},
    {false, "Enemy 2", L"SX271", L"Scout", MESH_SCOUT, {2585, -3750, 3835}, {0, 0, 0}, {8, 3, 10}, 10.0f,
     SCOUT_ANGULAR_DAMPING},
    {false, "Enemy 3", L"TA575", L"Bomber2", MESH_BOMBER2, {2590, -3800, 3820}, {0, 0, 0}, {36, 10, 16}, 100.0f,
     BOMBER2_ANGULAR_DAMPING},
};

constexpr float kShipLinearDamping = 0.5f;
constexpr int32_t kLightCount = 6;

ShipTuning gameTuning() {
    ShipTuning tuning;
    tuning.maxReverseThrust = -500.0f;
    tuning.maxForwardThrust = 1000.0f;
    tuning.pitchRate = 4000.0f;
    tuning.yawRate = 3000.0f;
    tuning.rollRate = 8000.0f;
    tuning.verticalThrust = 50.0f;
    tuning.lateralThrust = 50.0f;
    tuning.pitchLimit = 90.0f;
    tuning.rollLimit = 60.0f;
    tuning.rollLevelFactor = 0.25f;
    tuning.pitchLevelFactor = 0.0f;
    tuning.rollDeadBand = 3.0f;
    tuning.pitchDeadBand = 10.0f;
    return tuning;
}

template <typename T>
void deleteAll(std::list<T*>& list) {
    for (T* entry : list) {
        delete entry;
    }
    list.clear();
}

template <typename T>
void deleteAndClear(T*& pointer) {
    delete pointer;
    pointer = nullptr;
}

}  // namespace

Game::Game() {
    // The crash handler is installed before the game object exists and must
    // stay reachable for shutdown.
    CrashHandler* crashHandler = globals.crashHandler;
    globals = GameGlobals{};
    globals.crashHandler = crashHandler;
    globals.drawCockpit = true;
}

Game::~Game() = default;

void Game::showLoading(const wchar_t* title) {
    showLoadingText(loading.begin(title).c_str());
}

void Game::endLoading() {
    showLoadingText(loading.end().c_str());
}

bool Game::init(const wchar_t* text) {
    initialized = false;
    loginSent = false;
    loading = gamemath::LoadingText();
    caption = text;
    globals.infoText = globals.gui->addStaticText(L"", irr::core::recti(10, 10, 300, 400), false, true, nullptr, -1,
                                                  false);
    globals.infoText->setOverrideColor(irr::video::SColor(255, 255, 192, 0));
    if (!initGame()) {
        // Whatever stands of a half-built game goes; the menu comes back.
        cleanup();
        globals.gameState = GS_MENU;
        return false;
    }
    applyGraphicsSettings();
    initialized = true;
    return true;
}

bool Game::initGame() {
    const auto fail = [](const char* step) {
        char line[128];
        std::snprintf(line, sizeof(line), "Game initialization failed: %s; back to the menu", step);
        logLine(line);
        return false;
    };
    irr::scene::ISceneManager* scene = globals.sceneManager;

    showLoading(L"Initialize Irrlicht...");
    logLine("Initialize Irrlicht...");
    if (!initShaders()) {
        return fail("shaders");
    }
    logLine("...Irrlicht initialization done");

    showLoading(L"Initialize cameras...");
    logLine("Initialize cameras...");
    globals.mainCamera = new Camera(-1, 250.0f, 0.75f);
    globals.sonarCamera = new Camera(2, 2000.0f, 1.0f);
    globals.targetCamera = new Camera(3, 300.0f, 1.0f);
    globals.closeCamera = new Camera(4, 10.0f, 0.75f);
    for (Camera* camera : {globals.mainCamera, globals.sonarCamera, globals.targetCamera, globals.closeCamera}) {
        if (camera->getNode() == nullptr) {
            return fail("cameras");
        }
    }
    scene->setActiveCamera(globals.mainCamera->getNode());
    logLine("...cameras initialization done");

    showLoading(L"Initialize particle system...");
    logLine("Initialize particle system...");
    globals.particleSystem = new ParticleSystem(globals.resources);
    logLine("...particle system initialization done");

    showLoading(L"Initialize physics...");
    logLine("Initialize physics...");
    if (!initPhysics()) {
        return fail("physics");
    }
    logLine("...physics initialization done");

    if (!initTerrain()) {
        return fail("terrain");
    }

    const ShipTuning tuning = gameTuning();
    for (const ShipEntry& entry : kShips) {
        Ship* ship = new Ship(entry.player, entry.name, entry.registration, entry.className, entry.position,
                              entry.rotation, entry.size, entry.mass, kShipLinearDamping, entry.angularDamping,
                              tuning, entry.mesh);
        globals.shipList.push_back(ship);
        if (entry.player) {
            globals.playerShip = ship;
            ship->addWeapon(WEAPON_GUN, vector3df(-1.5f, -1.0f, 3.0f));
            ship->addWeapon(WEAPON_GUN, vector3df(1.5f, -1.0f, 3.0f));
            ship->addWeapon(WEAPON_TORPEDO_LAUNCHER, vector3df(0.0f, -4.0f, 3.0f));
        }
    }
    globals.stationList.push_back(
        new Station("X10", vector3df(2710, -3830, 3910), vector3df(10, 70, 0), vector3df(60, 115, 80), MESH_STATION));

    globals.control = new Control(globals.iniFile != nullptr && Control::readMouseInverted(*globals.iniFile));
    globals.hud = new Hud();

    // The renderer stays with the driver for good: one per driver, found by
    // its name in later games.
    globals.additiveMaterial = findMaterialRenderer(globals.driver, kAdditiveMaterialName);
    if (globals.additiveMaterial < 0) {
        globals.additiveMaterial = registerAdditiveMaterial(globals.driver);
    }
    if (globals.additiveMaterial < 0) {
        return fail("additive material");
    }

    globals.particleSystem->addAmbientBubbles(vector3df(0.0f, 0.0f, 0.0f), globals.playerShip->getNode());
    globals.particleSystem->addCameraParticles();

    irr::video::SLight light;
    light.Type = irr::video::ELT_SPOT;
    light.AmbientColor = irr::video::SColorf(0.0f, 0.0f, 0.0f, 0.0f);
    light.SpecularColor = irr::video::SColorf(0.0f, 0.0f, 0.0f, 0.0f);
    light.DiffuseColor = irr::video::SColorf(0.625f, 0.75f, 1.0f, 1.0f);
    light.Radius = 150.0f;
    light.Attenuation = vector3df(0.0f, 1.0f / 150.0f, 0.0f);  // what the engine's radius implies
    // The engine takes the cone angles in degrees.
    light.InnerCone = 30.0f;
    light.OuterCone = 60.0f;
    light.Falloff = 1.0f;
    light.CastShadows = true;
    for (int32_t i = 0; i < kLightCount; ++i) {
        irr::scene::ILightSceneNode* node =
            scene->addLightSceneNode(nullptr, vector3df(0.0f, 0.0f, 0.0f), light.DiffuseColor, light.Radius, -1);
        if (node == nullptr) {
            return fail("lights");
        }
        node->setLightData(light);
        globals.lightNodes.push_back(node);
    }

    uint32_t total = 0;
    uint32_t available = 0;
    getMemoryStatus(total, available);
    char line[96];
    std::snprintf(line, sizeof(line), "Available system memory after game initialization: %d",
                  static_cast<int32_t>(available));
    logLine(line);
    std::snprintf(line, sizeof(line), "Available video memory after game initialization: %d", getVideoMemory());
    logLine(line);

    globals.device->getCursorControl()->setPosition(globals.resolutionX / 2, globals.resolutionY / 2);

    // The connection comes last: its attempt moves on only while the frame
    // loop polls it, and gives up 2 s after it began. Made first, it would
    // fail whenever the rest of the start took longer than that.
    globals.network = new NetworkConnection(globals.serverAddress.c_str(), globals.serverPort.c_str());
    return true;
}

bool Game::initPhysics() {
    globals.physics = new Physics();
    return globals.physics->init();
}

bool Game::initShaders() {
    irr::IrrlichtDevice* device = globals.device;
    if (device == nullptr) {
        return false;
    }
    irr::video::IVideoDriver* driver = globals.driver != nullptr ? globals.driver : device->getVideoDriver();
    logLine("Initialize shader...");
    // A driver without programming services has no shader support at all.
    irr::video::IGPUProgrammingServices* gpu = driver->getGPUProgrammingServices();
    const char* pixelProgram = kPixelShader;
    const char* vertexProgram = kVertexShader;

    globals.shadersEnabled = true;
    if (gpu == nullptr || (!driver->queryFeature(irr::video::EVDF_PIXEL_SHADER_2_0) &&
                           !driver->queryFeature(irr::video::EVDF_ARB_FRAGMENT_PROGRAM_1))) {
        globals.shadersEnabled = false;
        device->getLogger()->log(
            "WARNING: Pixel shaders (V2.0) disabled because of missing driver/hardware support.",
            irr::ELL_INFORMATION);
        pixelProgram = nullptr;
    }
    if (gpu == nullptr || (!driver->queryFeature(irr::video::EVDF_VERTEX_SHADER_2_0) &&
                           !driver->queryFeature(irr::video::EVDF_ARB_VERTEX_PROGRAM_1))) {
        globals.shadersEnabled = false;
        device->getLogger()->log(
            "WARNING: Vertex shaders (V2.0) disabled because of missing driver/hardware support.",
            irr::ELL_INFORMATION);
        vertexProgram = nullptr;
    }
    // The programs are media like any other: checked against the manifest
    // before the engine reads them (it would ask for 2^63 bytes of a folder
    // in a program's place), and a missing or damaged one ends the game.
    if (globals.shadersEnabled) {
        const GameMedia media;
        media.require("shader", vertexProgram);
        media.require("shader", pixelProgram);
    }
    if (globals.shadersEnabled && findMaterialRenderer(driver, kShaderMaterials[0].name) >= 0) {
        // An earlier game made them; the driver keeps them (and their
        // callback) for good.
        globals.solidShaderMaterial = findMaterialRenderer(driver, kShaderMaterials[0].name);
        globals.detailShaderMaterial = findMaterialRenderer(driver, kShaderMaterials[1].name);
        globals.alphaShaderMaterial = findMaterialRenderer(driver, kShaderMaterials[4].name);
    } else if (globals.shadersEnabled) {
        // One callback per game: the block holds its reference, the cleanup
        // drops it; a leftover from a game that never cleaned up goes first.
        if (globals.lightingCallback != nullptr) {
            globals.lightingCallback->drop();
        }
        globals.lightingCallback = new LightingShaderCallback();
        irr::s32 ids[5];
        for (size_t k = 0; k < 5; ++k) {
            ids[k] = gpu->addHighLevelShaderMaterialFromFiles(
                vertexProgram, "vertexMain", irr::video::EVST_VS_2_0, pixelProgram, "pixelMain",
                irr::video::EPST_PS_2_0, globals.lightingCallback, kShaderMaterials[k].base, 0);
            if (ids[k] >= 0) {
                driver->setMaterialRendererName(ids[k], kShaderMaterials[k].name);
            }
        }
        globals.solidShaderMaterial = ids[0];
        globals.detailShaderMaterial = ids[1];
        globals.alphaShaderMaterial = ids[4];
    }
    // The game runs on fixed-function lighting and its six light nodes.
    globals.shadersEnabled = false;
    logLine("...shader initialization done");
    return true;
}

void Game::applyGraphicsSettings() {
    IniFile* ini = globals.iniFile;
    if (ini == nullptr || globals.driver == nullptr) {
        globals.reapplySettings = false;
        return;
    }
    const GraphicsSettings settings = readGraphicsSettings(*ini, GAME_CLEAR_COLOR);
    globals.driver->setFog(settings.fogColor,
                           settings.fogIsLinear ? irr::video::EFT_FOG_LINEAR : irr::video::EFT_FOG_EXP,
                           settings.fogStart, settings.fogEnd, settings.fogDensity, true, true);
    globals.clearColor = settings.clearColor;
    if (globals.terrainNode != nullptr) {
        globals.terrainNode->scaleTexture(settings.terrainTextureScale1, settings.terrainTextureScale2);
    }
    globals.reapplySettings = false;
}

void Game::run() {
    if (!initialized) {
        return;
    }
    GameClock& clock = *globals.clock;
    irr::IrrlichtDevice* device = globals.device;
    clock.restartTime();
    // The first frame's "previous frame" starts and ends now: its step is 0.
    uint32_t previousStart = clock.getRealTime();
    uint32_t previousEnd = previousStart;
    gamemath::FpsCounter fps;
    while (device->run() && globals.gameState == GS_GAME_RUN && device->isWindowActive()) {
        globals.driver->beginScene(true, true, globals.clearColor);
        if (globals.reapplySettings) {
            applyGraphicsSettings();
        }
        const float step = gamemath::frameStep(previousStart, previousEnd);
        const uint32_t frameStart = clock.getRealTime();
        frame(step);
        const uint32_t work = clock.getRealTime() - frameStart;
        const uint32_t rest = gamemath::frameSleep(frameStart, clock.getRealTime(), FRAME_TIME_MS);
        if (rest > 0) {
            clock.sleep(rest);
        }
        previousStart = frameStart;
        previousEnd = clock.getRealTime();
        fps.addFrame(work);
        if (globals.infoText != nullptr) {
            const irr::s32 triangles = static_cast<irr::s32>(globals.driver->getPrimitiveCountDrawn());
            globals.infoText->setText(gamemath::infoText(caption, triangles, fps.fps()).c_str());
        }
    }
    cleanup();
}

void Game::frame(float dt) {
    frameEntities(dt);
    frameViews();
    frameParticles(dt);
    frameScene();
    frameHud();
    framePhysics(dt);
    frameFinish();
}

void Game::frameEntities(float dt) {
    std::vector<bool> livingIsPlayer;
    std::vector<Ship*> living;
    for (auto it = globals.shipList.begin(); it != globals.shipList.end();) {
        Ship* ship = *it;
        ship->update(dt);
        if (ship->isDead()) {
            forgetShip(ship);
            delete ship;
            it = globals.shipList.erase(it);
        } else {
            living.push_back(ship);
            livingIsPlayer.push_back(ship == globals.playerShip);
            ++it;
        }
    }
    const std::vector<gamemath::LightAction> actions = gamemath::assignLights(livingIsPlayer, kLightCount);
    for (size_t i = 0; i < actions.size() && i < globals.lightNodes.size(); ++i) {
        irr::scene::ILightSceneNode* light = globals.lightNodes[i];
        if (actions[i].kind == gamemath::LightAction::HIDE) {
            light->setVisible(false);
        } else if (actions[i].kind == gamemath::LightAction::FOLLOW) {
            const Ship* ship = living[static_cast<size_t>(actions[i].ship)];
            light->setPosition(ship->getPosition());
            // The engine turns (0, 0, 1) by the node's rotation into the
            // light's direction.
            light->setRotation(ship->getDirection().getHorizontalAngle());
            light->updateAbsolutePosition();
            light->setVisible(true);
        }
    }
    for (auto it = globals.trashList.begin(); it != globals.trashList.end();) {
        Trash* trash = *it;
        if (trash->isDead()) {
            if (globals.particleSystem != nullptr) {
                globals.particleSystem->removeEffectsOf(trash->getTrailEffect());
            }
            delete trash;
            it = globals.trashList.erase(it);
        } else {
            ++it;
        }
    }
    globals.control->update();
    if (Ship* player = globals.playerShip) {
        globals.mainCamera->update(vector3df(0.0f, 0.0f, 3.0f), player->getPosition(), player->getRotation());
    }
}

void Game::frameViews() {
    globals.hud->renderTorpedoView();
    globals.hud->update3D();
    globals.hud->renderTargetView();
}

void Game::frameParticles(float dt) {
    globals.particleSystem->update(dt);
}

void Game::frameScene() {
    if (globals.playerShip != nullptr) {
        globals.playerShip->hideCockpit();
    }
    globals.sceneManager->drawAll();
}

void Game::frameHud() {
    globals.hud->draw();
    if (globals.drawCockpit && globals.playerShip != nullptr) {
        globals.playerShip->drawCockpit();
    }
    globals.hud->drawTargetAndRadar();
}

void Game::framePhysics(float dt) {
    globals.physics->update(dt);
}

void Game::frameFinish() {
    globals.gui->drawAll();
    globals.driver->endScene();
    updateListener();
    FSOUND_Update();
    serviceNetwork();
}

void Game::updateListener() {
    Ship* player = globals.playerShip;
    if (player == nullptr || globals.mainCamera == nullptr) {
        return;
    }
    const vector3df position = globals.mainCamera->getNode()->getPosition();
    const vector3df velocity = player->getVelocity();
    irr::core::matrix4 turn;
    turn.setRotationDegrees(player->getRotation());
    vector3df forward(0.0f, 0.0f, 1.0f);
    vector3df top(0.0f, 1.0f, 0.0f);
    turn.rotateVect(forward);
    turn.rotateVect(top);
    const float p[3] = {position.X, position.Y, position.Z};
    const float v[3] = {velocity.X, velocity.Y, velocity.Z};
    FSOUND_3D_Listener_SetAttributes(p, v, forward.X, forward.Y, forward.Z, top.X, top.Y, top.Z);
}

void Game::serviceNetwork() {
    NetworkConnection* network = globals.network;
    if (network == nullptr) {
        return;
    }
    network->poll();
    if (!loginSent && network->isConnected()) {
        network->sendLogin(globals.loginName.c_str(), globals.loginPassword.c_str());
        loginSent = true;
    }
}

void Game::cleanup() {
    if (globals.terrainNode != nullptr) {
        globals.terrainNode->remove();
        globals.terrainNode = nullptr;
    }
    deleteAndClear(globals.terrainObject);
    for (irr::scene::ILightSceneNode* light : globals.lightNodes) {
        light->remove();
    }
    globals.lightNodes.clear();
    deleteAll(globals.trashList);
    deleteAll(globals.stationList);
    deleteAll(globals.shipList);
    deleteAll(globals.torpedoList);
    // Nothing may point at the entities just deleted.
    globals.playerShip = nullptr;
    globals.trackedTorpedo = nullptr;
    globals.lastGunFired = nullptr;
    globals.lastShotTime = 0;
    deleteAndClear(globals.mainCamera);
    deleteAndClear(globals.sonarCamera);
    deleteAndClear(globals.targetCamera);
    deleteAndClear(globals.closeCamera);
    deleteAndClear(globals.particleSystem);
    deleteAndClear(globals.physics);
    deleteAndClear(globals.hud);
    deleteAndClear(globals.control);
    if (globals.infoText != nullptr) {
        globals.infoText->remove();
        globals.infoText = nullptr;
    }
    if (globals.sceneManager != nullptr) {
        globals.sceneManager->getRootSceneNode()->removeAll();
    }
    globals.radarTerrainNode = nullptr;
    deleteAndClear(globals.heightMap);
    // The grass went with the scene: its images and tide can go too.
    for (irr::video::IImage*& image : grassImages) {
        if (image != nullptr) {
            image->drop();
            image = nullptr;
        }
    }
    if (tide != nullptr) {
        tide->drop();
        tide = nullptr;
    }
    if (globals.lightingCallback != nullptr) {
        globals.lightingCallback->drop();
        globals.lightingCallback = nullptr;
    }
    FSOUND_StopSound(FSOUND_ALL);
    deleteAndClear(globals.network);
    initialized = false;
    loginSent = false;
}

// The sea floor of a game: the main terrain from the raw height map at the
// samples' own heights, its level object, static body and triangle selector,
// the small wireframe terrain of the 3-D radar (the HUD moves it into its
// shadow world when it is made), the height map, and 5 x 5 grass patches
// swaying in one tide.
#include "client/game.h"

#include "client/constants.h"
#include "client/engine/CGrassPatchSceneNode.h"
#include "client/engine/ITideGenerator.h"
#include "client/engine/RawTerrain.h"
#include "client/exception.h"
#include "client/gamemedia.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/log.h"
#include "client/object.h"
#include "client/physics.h"
#include "client/utilities.h"

namespace {

using irr::core::vector3df;

const char* const kHeightFile = "media/terrain/map257x257.raw";
const char* const kRadarImage = "media/terrain/t65x65.jpg";
const char* const kColourImage = "media/terrain/t257x257.jpg";
const char* const kGrassMapImage = "media/terrain/g257x257.jpg";

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

}  // namespace

bool Game::initTerrain() {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    const GameMedia media;
    const irr::video::SColor white(255, 255, 255, 255);

    logLine("Initialize Terrain...");
    showLoading(L"Load main terrain...");
    logLine("Load main heightmap");
    if (media.intact(kHeightFile)) {
        globals.terrainNode = tarnwell::scene::addRawTerrainSceneNode(
            scene, kHeightFile, nullptr, -1, TERRAIN_POSITION, vector3df(0.0f, 0.0f, 0.0f),
            vector3df(TERRAIN_SCALE_XZ, TERRAIN_SCALE_Y, TERRAIN_SCALE_XZ), white, 4, irr::scene::ETPS_17);
    }
    if (globals.terrainNode == nullptr) {
        THROW_EXCEPTION("Can't load terrain: 'media/terrain/map257x257.raw'!");
    }
    irr::scene::ITerrainSceneNode* terrain = globals.terrainNode;
    const double distances[] = {1000.0, 1500.0, 2000.0, 3000.0};
    for (int32_t level = 1; level <= 4; ++level) {
        terrain->overrideLODDistance(gamemath::lodIndexOfLevel(level), distances[level - 1]);
    }

    globals.terrainObject = new Object(OBJECT_LEVEL, "Terrain", vector3df(1.0f, 1.0f, 1.0f));
    logLine("Create physics object for main heightmap");
    showLoading(L"Create collision object for terrain...");
    globals.physics->createLevelBody(globals.terrainObject);

    terrain->setMaterialTexture(0, media.texture("terrain texture", kRockTexture));
    terrain->setMaterialTexture(1, media.texture("terrain texture", kDetailTexture));
    terrain->setMaterialFlag(irr::video::EMF_LIGHTING, true);
    terrain->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
    terrain->setMaterialType(irr::video::EMT_DETAIL_MAP);
    terrain->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, true);

    logLine("Create triangle selector for main heightmap");
    irr::scene::ITriangleSelector* selector = scene->createTerrainTriangleSelector(terrain, 0);
    if (selector != nullptr) {
        terrain->setTriangleSelector(selector);
        selector->drop();
    }

    showLoading(L"Load radar terrain...");
    logLine("Load radar heightmap");
    if (media.intact(kRadarImage)) {
        globals.radarTerrainNode = scene->addTerrainSceneNode(
            kRadarImage, nullptr, -1, vector3df(TERRAIN_POSITION.X, -6000.0f, TERRAIN_POSITION.Z),
            vector3df(0.0f, 0.0f, 0.0f), vector3df(80.0f, 5.0f, 80.0f), white, 1, irr::scene::ETPS_9);
    }
    if (globals.radarTerrainNode == nullptr) {
        THROW_EXCEPTION("Can't load terrain: 'media/terrain/t65x65.jpg'!");
    }
    irr::scene::ITerrainSceneNode* radar = globals.radarTerrainNode;
    radar->setMaterialTexture(0, media.texture("terrain texture", kRockTexture));
    radar->setMaterialFlag(irr::video::EMF_WIREFRAME, true);
    radar->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    radar->setMaterialFlag(irr::video::EMF_FOG_ENABLE, false);
    radar->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, true);
    endLoading();
    logLine("...terrain initialization done");

    tide = tarnwell::scene::createTideGenerator(8.0f, 10.0f);
    showLoading(L"Create vegetation...");
    globals.heightMap = new HeightMap(kHeightFile, 16);
    grassImages[0] = media.image("grass image", kColourImage);
    grassImages[1] = media.image("grass image", kGrassMapImage);
    irr::video::ITexture* grass = media.texture("grass texture", kGrassTexture);
    for (irr::s32 i = 0; i < 5; ++i) {
        for (irr::s32 j = 0; j < 5; ++j) {
            auto* patch = new tarnwell::scene::CGrassPatchSceneNode(
                false, scene->getRootSceneNode(), scene, -1, irr::core::vector3d<irr::s32>(i, 0, j), "grass",
                globals.heightMap, grassImages[0], grassImages[1], terrain, 0.0f, tide);
            finishGrassPatch(patch, grass, true);
        }
    }
    endLoading();
    return true;
}

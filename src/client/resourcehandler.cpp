#include "client/resourcehandler.h"

#include "client/exception.h"
#include "client/globals.h"
#include "client/log.h"
#include "client/mediamanifest.h"
#include "client/resourceids.h"
#include "client/scopedenginestate.h"
#include "client/utilities.h"
#include "platform/sound/fsound.h"

#include <string>

using namespace irr;

namespace {

// The folder the tables' paths start in; it holds the media's manifest.
constexpr const char* kMediaRoot = "media";

template <typename Table>
typename Table::mapped_type lookup(const Table& table, s32 id) {
    const auto found = table.find(id);
    return found != table.end() ? found->second : nullptr;
}

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

struct CreatedMesh {
    s32 id;
    video::SColor color;
    const char* failure;
};

struct LoadedMesh {
    s32 id;
    const char* path;
    const char* failure;
};

struct LoadedTexture {
    s32 id;
    const char* path;
    const char* kind;
    bool colorKey;  // texels of the colour of texel (0, 0) become transparent
};

struct RenderTarget {
    s32 id;
    u32 size;
    const char* name;
    const char* failure;
};

struct SonarTexture {
    s32 id;
    const char* name;
    const char* failure;
    const char* wrongFormat;
};

struct Font {
    s32 id;
    const char* path;
};

struct Sound {
    s32 id;
    const char* path;
    u32 mode;
    s32 volume;
    s32 priority;
    bool distances;
};

const CreatedMesh kCreatedMeshes[] = {
    {CREATED_MESH_RADAR_WHITE, video::SColor(255, 255, 255, 255), "Can't create white radar mesh!"},
    {CREATED_MESH_RADAR_YELLOW, video::SColor(255, 255, 255, 0), "Can't create yellow radar mesh!"},
    {CREATED_MESH_RADAR_RED, video::SColor(255, 255, 0, 0), "Can't create red radar mesh!"},
    {CREATED_MESH_RADAR_GREEN, video::SColor(255, 0, 255, 0), "Can't create green radar mesh!"},
    {CREATED_MESH_RADAR_BLUE, video::SColor(255, 0, 0, 255), "Can't create blue radar mesh!"},
    {CREATED_MESH_RADAR_ORANGE, video::SColor(255, 255, 128, 0), "Can't create orange radar mesh!"},
};

// The cockpit and its guns get textures without mip-maps, the others with.
const LoadedMesh kMeshesWithoutMipMaps[] = {
    {MESH_COCKPIT, "media/mesh/cockpit/cockpit_spielerschiff01.x",
     "Can't load cockpit mesh: 'media/mesh/cockpit/cockpit_spielerschiff01.X'!"},
    {MESH_GUN_LEFT, "media/mesh/cockpit/cockpit_spielerschiff01_gun_left.x",
     "Can't load weapon mesh: 'media/mesh/cockpit/cockpit_spielerschiff01_gun_left.x'!"},
    {MESH_GUN_RIGHT, "media/mesh/cockpit/cockpit_spielerschiff01_gun_right.x",
     "Can't load weapon mesh: 'media/mesh/cockpit/cockpit_spielerschiff01_gun_right.x'!"},
};

const LoadedMesh kMeshes[] = {
    {MESH_SCOUT, "media/mesh/mantis1/mantis_scout01.X",
     "Can't load ship mesh: 'media/mesh/mantis1/mantis_scout01.X'!"},
    {MESH_BOMBER1, "media/mesh/bomber1/bomber.x", "Can't load ship mesh: 'media/mesh/bomber1/bomber.x'!"},
    {MESH_BOMBER2, "media/mesh/bomber2/bomber_02.x",
     "Can't load ship mesh: 'media/mesh/bomber2/bomber_02.x'!"},
    {MESH_TRASH1, "media/mesh/trash/trash_small_01.x",
     "Can't load trash mesh: 'media/mesh/trash/trash_small_01.x'!"},
    {MESH_TRASH2, "media/mesh/trash/trash_small_02.x",
     "Can't load trash mesh: 'media/mesh/trash/trash_small_02.x'!"},
    {MESH_TRASH3, "media/mesh/trash/trash_small_03.x",
     "Can't load trash mesh: 'media/mesh/trash/trash_small_03.x'!"},
    {MESH_TORPEDO, "media/mesh/torpedo/torp_hellshark.x",
     "Can't load torpedo mesh: 'media/mesh/torpedo/torp_hellshark.x'!"},
    {MESH_STATION, "media/mesh/station1/station_01.x",
     "Can't load station mesh: 'media/mesh/station1/station_01.x'!"},
    {MESH_STATION_DOOR1, "media/mesh/station1/station_01_door_01.x",
     "Can't load station's door mesh: 'media/mesh/station1/station_01_door_01.x'!"},
    {MESH_STATION_DOOR2, "media/mesh/station1/station_01_door_02.x",
     "Can't load station's door mesh: 'media/mesh/station1/station_01_door_02.x'!"},
    {MESH_SHOCKWAVE, "media/mesh/shockwave/shockwave01.x",
     "Can't load shockwave mesh: 'media/mesh/shockwave/shockwave01.X'!"},
    {MESH_SPOTLIGHT, "media/mesh/spotlight/spotlight_01.x",
     "Can't load spotlight mesh: 'media/mesh/spotlight/spotlight_01.x'!"},
};

// In load order.
const LoadedTexture kTextures[] = {
    {TEXTURE_MENU_BUTTON, "media/graphics/gui/menubutton.jpg", "button texture", false},
    {TEXTURE_BULLET, "media/graphics/sprites/shot1.png", "bullet sprite", true},
    {TEXTURE_GUN_MUZZLE, "media/graphics/sprites/gun_muzzle.jpg", "gun muzzle sprite", true},
    {TEXTURE_FIRE, "media/graphics/particles/fire.png", "particle texture", false},
    {TEXTURE_BUBBLE, "media/graphics/particles/bubble.png", "particle texture", false},
    {TEXTURE_PARTICLE1, "media/graphics/particles/particle1.png", "particle texture", false},
    {TEXTURE_PARTICLE2, "media/graphics/particles/particle2.png", "particle texture", false},
    {TEXTURE_HUD_ATLAS, "media/graphics/hud/hud.png", "Hud image", false},
};

// Each render target gets a name of its own: the engine's default name is
// shared, and a second target of that name would replace the first.
const RenderTarget kRenderTargets[] = {
    {TEXTURE_TORPEDO_CAM, 128, "TorpedoCamTarget", "Can't create render to target texture for torpedo cam!"},
    {TEXTURE_SONAR_CAM, 256, "SonarCamTarget", "Can't create render to target texture for 3d sonar cam!"},
    {TEXTURE_TARGET_CAM, 128, "TargetCamTarget",
     "Can't create render to target texture for current target cam!"},
};

const SonarTexture kSonarTextures[] = {
    {TEXTURE_SONAR_LEFT, "LeftSonarTexture", "Can't create render to target texture for left sonar!",
     "Game: Can't create left sonar texture using 32bit!"},
    {TEXTURE_SONAR_RIGHT, "RightSonarTexture", "Can't create render to target texture for right sonar!",
     "Game: Can't create right sonar texture using 32bit!"},
};

const Font kFonts[] = {
    {FONT_HUD, "media/fonts/font8.png"},
    {FONT_MENU, "media/fonts/font10.png"},
};

const Sound kSounds[] = {
    {SOUND_SHIP_ENGINE, "media/audio/sound/3d_gen_engine_scout.wav", FSOUND_HW3D | FSOUND_LOOP_NORMAL, 128,
     255, false},
    {SOUND_GUN_SHOT, "media/audio/sound/3d_gun_plasmagatlin_p.wav", FSOUND_HW3D, 255, 255, false},
    {SOUND_TORPEDO_LAUNCH, "media/audio/sound/2d_tor_launch.wav", FSOUND_2D, 20, 255, false},
    {SOUND_TORPEDO_ENGINE, "media/audio/sound/3d_tor_engine.wav", FSOUND_HW3D | FSOUND_LOOP_NORMAL, 255, -1,
     true},
    {SOUND_EXPLOSION_SMALL, "media/audio/sound/3d_exp_sml.wav", FSOUND_HW3D, 255, -1, true},
    {SOUND_EXPLOSION_LARGE, "media/audio/sound/3d_exp_med.wav", FSOUND_HW3D, 255, -1, true},
    {SOUND_COLLISION, "media/audio/sound/3d_collision.wav", FSOUND_HW3D, 255, 255, false},
};

}  // namespace

ResourceHandler::ResourceHandler() = default;

ResourceHandler::~ResourceHandler() {
    if (globals.driver != nullptr) {
        globals.driver->removeAllTextures();
    }
    meshes.clear();
    for (auto& entry : createdMeshes) {
        entry.second->drop();
    }
    createdMeshes.clear();
    textures.clear();
    fonts.clear();
    sounds.clear();
}

bool ResourceHandler::loadAll() {
    if (globals.driver == nullptr || globals.sceneManager == nullptr || globals.gui == nullptr) {
        return false;
    }
    globals.driver->setTextureCreationFlag(video::ETCF_ALWAYS_32_BIT, true);
    MediaManifest manifest;
    manifest.read(kMediaRoot);
    return loadMeshes(manifest) && loadTextures(manifest) && createRenderTargets() && loadFonts(manifest) &&
           loadSounds(manifest);
}

void ResourceHandler::loadMesh(const MediaManifest& manifest, s32 id, const char* path, const char* failure) {
    scene::IAnimatedMesh* mesh = manifest.meshIntact(path) ? globals.sceneManager->getMesh(path) : nullptr;
    if (mesh == nullptr) {
        THROW_EXCEPTION(failure);
    }
    meshes[id] = mesh;
}

bool ResourceHandler::loadMeshes(const MediaManifest& manifest) {
    logLine("Load meshes");
    for (const CreatedMesh& entry : kCreatedMeshes) {
        scene::IMesh* mesh = createCylinderMesh(entry.color, 13, 2, 1.0f);
        if (mesh == nullptr) {
            THROW_EXCEPTION(entry.failure);
        }
        createdMeshes[entry.id] = mesh;
    }
    {
        const ScopedTextureCreationFlag noMipMaps(globals.driver, video::ETCF_CREATE_MIP_MAPS, false);
        for (const LoadedMesh& entry : kMeshesWithoutMipMaps) {
            loadMesh(manifest, entry.id, entry.path, entry.failure);
        }
    }
    for (const LoadedMesh& entry : kMeshes) {
        loadMesh(manifest, entry.id, entry.path, entry.failure);
    }
    return true;
}

bool ResourceHandler::loadTextures(const MediaManifest& manifest) {
    logLine("Load textures");
    video::IVideoDriver* driver = globals.driver;
    for (const LoadedTexture& entry : kTextures) {
        video::ITexture* texture = manifest.fileIntact(entry.path) ? driver->getTexture(entry.path) : nullptr;
        if (texture == nullptr) {
            const std::string message = std::string("Can't load ") + entry.kind + ": '" + entry.path + "'!";
            THROW_EXCEPTION(message.c_str());
        }
        textures[entry.id] = texture;
        if (entry.colorKey) {
            driver->makeColorKeyTexture(texture, core::position2d<s32>(0, 0));
        }
    }
    return true;
}

bool ResourceHandler::createRenderTargets() {
    logLine("Create render to target textures");
    video::IVideoDriver* driver = globals.driver;
    if (!driver->queryFeature(video::EVDF_RENDER_TO_TARGET)) {
        return false;
    }
    const ScopedTextureCreationFlag noMipMaps(driver, video::ETCF_CREATE_MIP_MAPS, false);
    for (const RenderTarget& entry : kRenderTargets) {
        video::ITexture* target =
            driver->addRenderTargetTexture(core::dimension2d<u32>(entry.size, entry.size), entry.name);
        if (target == nullptr) {
            THROW_EXCEPTION(entry.failure);
        }
        textures[entry.id] = target;
    }
    for (const SonarTexture& entry : kSonarTextures) {
        video::ITexture* texture =
            driver->addTexture(core::dimension2d<u32>(256, 256), entry.name, video::ECF_A8R8G8B8);
        if (texture == nullptr) {
            THROW_EXCEPTION(entry.failure);
        }
        textures[entry.id] = texture;
        if (texture->getColorFormat() != video::ECF_A8R8G8B8) {
            THROW_EXCEPTION(entry.wrongFormat);
        }
    }
    return true;
}

bool ResourceHandler::loadFonts(const MediaManifest& manifest) {
    logLine("Load fonts");
    for (const Font& entry : kFonts) {
        gui::IGUIFont* font = manifest.fileIntact(entry.path) ? globals.gui->getFont(entry.path) : nullptr;
        if (font == nullptr) {
            const std::string message = std::string("Can't load font: '") + entry.path + "'!";
            THROW_EXCEPTION(message.c_str());
        }
        fonts[entry.id] = font;
    }
    return true;
}

bool ResourceHandler::loadSounds(const MediaManifest& manifest) {
    logLine("Load sounds");
    for (const Sound& entry : kSounds) {
        FSOUND_SAMPLE* sample = manifest.fileIntact(entry.path)
                                    ? FSOUND_Sample_Load(FSOUND_FREE, entry.path, entry.mode, 0, 0)
                                    : nullptr;
        if (sample == nullptr) {
            const std::string message = std::string("Can't load sound: '") + entry.path + "'!";
            THROW_EXCEPTION(message.c_str());
        }
        sounds[entry.id] = sample;
        FSOUND_Sample_SetDefaults(sample, -1, entry.volume, -1, entry.priority);
        if (entry.distances) {
            FSOUND_Sample_SetMinMaxDistance(sample, 4.0f, 10000.0f);
        }
    }
    return true;
}

scene::IAnimatedMesh* ResourceHandler::getMesh(s32 id) const {
    return lookup(meshes, id);
}

scene::IMesh* ResourceHandler::getCreatedMesh(s32 id) const {
    return lookup(createdMeshes, id);
}

video::ITexture* ResourceHandler::getTexture(s32 id) const {
    return lookup(textures, id);
}

gui::IGUIFont* ResourceHandler::getFont(s32 id) const {
    return lookup(fonts, id);
}

FSOUND_SAMPLE* ResourceHandler::getSound(s32 id) const {
    return lookup(sounds, id);
}

std::string ResourceHandler::getText(s32 id) const {
    const auto found = texts.find(id);
    return found != texts.end() ? found->second : std::string("Missing!");
}

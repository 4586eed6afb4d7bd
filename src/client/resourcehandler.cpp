#include "client/resourcehandler.h"

#include "client/exception.h"
#include "client/globals.h"
#include "client/log.h"
#include "client/utilities.h"
#include "platform/sound/fsound.h"

#include <string>

using namespace irr;

namespace {

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
    {1, video::SColor(255, 255, 255, 255), "Can't create white radar mesh!"},
    {2, video::SColor(255, 255, 255, 0), "Can't create yellow radar mesh!"},
    {3, video::SColor(255, 255, 0, 0), "Can't create red radar mesh!"},
    {4, video::SColor(255, 0, 255, 0), "Can't create green radar mesh!"},
    {5, video::SColor(255, 0, 0, 255), "Can't create blue radar mesh!"},
    {6, video::SColor(255, 255, 128, 0), "Can't create orange radar mesh!"},
};

// Ids 7-9 (the cockpit and its guns) load without mip-maps, the rest with.
const LoadedMesh kMeshes[] = {
    {7, "media/mesh/cockpit/cockpit_spielerschiff01.x",
     "Can't load cockpit mesh: 'media/mesh/cockpit/cockpit_spielerschiff01.X'!"},
    {8, "media/mesh/cockpit/cockpit_spielerschiff01_gun_left.x",
     "Can't load weapon mesh: 'media/mesh/cockpit/cockpit_spielerschiff01_gun_left.x'!"},
    {9, "media/mesh/cockpit/cockpit_spielerschiff01_gun_right.x",
     "Can't load weapon mesh: 'media/mesh/cockpit/cockpit_spielerschiff01_gun_right.x'!"},
    {10, "media/mesh/mantis1/mantis_scout01.X",
     "Can't load ship mesh: 'media/mesh/mantis1/mantis_scout01.X'!"},
    {11, "media/mesh/bomber1/bomber.x", "Can't load ship mesh: 'media/mesh/bomber1/bomber.x'!"},
    {12, "media/mesh/bomber2/bomber_02.x", "Can't load ship mesh: 'media/mesh/bomber2/bomber_02.x'!"},
    {13, "media/mesh/trash/trash_small_01.x", "Can't load trash mesh: 'media/mesh/trash/trash_small_01.x'!"},
    {14, "media/mesh/trash/trash_small_02.x", "Can't load trash mesh: 'media/mesh/trash/trash_small_02.x'!"},
    {15, "media/mesh/trash/trash_small_03.x", "Can't load trash mesh: 'media/mesh/trash/trash_small_03.x'!"},
    {16, "media/mesh/torpedo/torp_hellshark.x",
     "Can't load torpedo mesh: 'media/mesh/torpedo/torp_hellshark.x'!"},
    {17, "media/mesh/station1/station_01.x", "Can't load station mesh: 'media/mesh/station1/station_01.x'!"},
    {18, "media/mesh/station1/station_01_door_01.x",
     "Can't load station's door mesh: 'media/mesh/station1/station_01_door_01.x'!"},
    {19, "media/mesh/station1/station_01_door_02.x",
     "Can't load station's door mesh: 'media/mesh/station1/station_01_door_02.x'!"},
    {20, "media/mesh/shockwave/shockwave01.x",
     "Can't load shockwave mesh: 'media/mesh/shockwave/shockwave01.X'!"},
    {21, "media/mesh/spotlight/spotlight_01.x",
     "Can't load spotlight mesh: 'media/mesh/spotlight/spotlight_01.x'!"},
};
constexpr s32 kLastMeshWithoutMipMaps = 9;

// In load order; 1 and 2 are colour-keyed from their texel (0, 0).
const LoadedTexture kTextures[] = {
    {15, "media/graphics/gui/menubutton.jpg", "button texture"},
    {1, "media/graphics/sprites/shot1.png", "bullet sprite"},
    {2, "media/graphics/sprites/gun_muzzle.jpg", "gun muzzle sprite"},
    {3, "media/graphics/particles/fire.png", "particle texture"},
    {4, "media/graphics/particles/bubble.png", "particle texture"},
    {5, "media/graphics/particles/particle1.png", "particle texture"},
    {6, "media/graphics/particles/particle2.png", "particle texture"},
    {7, "media/graphics/hud/hud.png", "Hud image"},
};

// Each render target gets a name of its own: the engine's default name is
// shared, and a second target of that name would replace the first.
const RenderTarget kRenderTargets[] = {
    {10, 128, "TorpedoCamTarget", "Can't create render to target texture for torpedo cam!"},
    {11, 256, "SonarCamTarget", "Can't create render to target texture for 3d sonar cam!"},
    {12, 128, "TargetCamTarget", "Can't create render to target texture for current target cam!"},
};

const SonarTexture kSonarTextures[] = {
    {13, "LeftSonarTexture", "Can't create render to target texture for left sonar!",
     "Game: Can't create left sonar texture using 32bit!"},
    {14, "RightSonarTexture", "Can't create render to target texture for right sonar!",
     "Game: Can't create right sonar texture using 32bit!"},
};

const Font kFonts[] = {
    {1, "media/fonts/font8.png"},
    {2, "media/fonts/font10.png"},
};

const Sound kSounds[] = {
    {1, "media/audio/sound/3d_gen_engine_scout.wav", FSOUND_HW3D | FSOUND_LOOP_NORMAL, 128, 255, false},
    {2, "media/audio/sound/3d_gun_plasmagatlin_p.wav", FSOUND_HW3D, 255, 255, false},
    {3, "media/audio/sound/2d_tor_launch.wav", FSOUND_2D, 20, 255, false},
    {4, "media/audio/sound/3d_tor_engine.wav", FSOUND_HW3D | FSOUND_LOOP_NORMAL, 255, -1, true},
    {5, "media/audio/sound/3d_exp_sml.wav", FSOUND_HW3D, 255, -1, true},
    {6, "media/audio/sound/3d_exp_med.wav", FSOUND_HW3D, 255, -1, true},
    {7, "media/audio/sound/3d_collision.wav", FSOUND_HW3D, 255, 255, false},
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
    return loadMeshes() && loadTextures() && createRenderTargets() && loadFonts() && loadSounds();
}

bool ResourceHandler::loadMeshes() {
    logLine("Load meshes");
    for (const CreatedMesh& entry : kCreatedMeshes) {
        scene::IMesh* mesh = createCylinderMesh(entry.color, 13, 2, 1.0f);
        if (mesh == nullptr) {
            THROW_EXCEPTION(entry.failure);
        }
        createdMeshes[entry.id] = mesh;
    }
    video::IVideoDriver* driver = globals.driver;
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);
    for (const LoadedMesh& entry : kMeshes) {
        scene::IAnimatedMesh* mesh = globals.sceneManager->getMesh(entry.path);
        if (mesh == nullptr) {
            driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
            THROW_EXCEPTION(entry.failure);
        }
        meshes[entry.id] = mesh;
        if (entry.id == kLastMeshWithoutMipMaps) {
            driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
        }
    }
    return true;
}

bool ResourceHandler::loadTextures() {
    logLine("Load textures");
    video::IVideoDriver* driver = globals.driver;
    for (const LoadedTexture& entry : kTextures) {
        video::ITexture* texture = driver->getTexture(entry.path);
        if (texture == nullptr) {
            const std::string message = std::string("Can't load ") + entry.kind + ": '" + entry.path + "'!";
            THROW_EXCEPTION(message.c_str());
        }
        textures[entry.id] = texture;
        if (entry.id == 1 || entry.id == 2) {
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
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);
    for (const RenderTarget& entry : kRenderTargets) {
        video::ITexture* target =
            driver->addRenderTargetTexture(core::dimension2d<u32>(entry.size, entry.size), entry.name);
        if (target == nullptr) {
            driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
            THROW_EXCEPTION(entry.failure);
        }
        textures[entry.id] = target;
    }
    for (const SonarTexture& entry : kSonarTextures) {
        video::ITexture* texture =
            driver->addTexture(core::dimension2d<u32>(256, 256), entry.name, video::ECF_A8R8G8B8);
        if (texture == nullptr) {
            driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
            THROW_EXCEPTION(entry.failure);
        }
        textures[entry.id] = texture;
        if (texture->getColorFormat() != video::ECF_A8R8G8B8) {
            driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
            THROW_EXCEPTION(entry.wrongFormat);
        }
    }
    driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, true);
    return true;
}

bool ResourceHandler::loadFonts() {
    logLine("Load fonts");
    for (const Font& entry : kFonts) {
        gui::IGUIFont* font = globals.gui->getFont(entry.path);
        if (font == nullptr) {
            const std::string message = std::string("Can't load font: '") + entry.path + "'!";
            THROW_EXCEPTION(message.c_str());
        }
        fonts[entry.id] = font;
    }
    return true;
}

bool ResourceHandler::loadSounds() {
    logLine("Load sounds");
    for (const Sound& entry : kSounds) {
        FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, entry.path, entry.mode, 0, 0);
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

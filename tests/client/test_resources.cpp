// The resource handler on the engine's null device (which cannot render to
// a texture, so loading stops there by design).
#include "ClientTestSupport.h"

#include "client/exception.h"
#include "client/globals.h"
#include "client/log.h"
#include "client/mediamanifest.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/scopedenginestate.h"
#include "platform/sound/fsound.h"

#include "MediaDamage.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "FileDamage.h"
#include "FileTestUtils.h"

using testsupport::readFile;

using clienttest::MediaCopy;
using clienttest::ScopedDevice;

TEST(ResourceHandler, NullDriverLoadsMeshesAndTexturesThenStopsAtRenderTargets) {
    MediaCopy media;
    ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    Log log;
    ASSERT_TRUE(log.open("resources.log"));
    globals.log = &log;

    ResourceHandler resources;
    EXPECT_FALSE(resources.loadAll());
    for (irr::s32 id = CREATED_MESH_RADAR_WHITE; id <= CREATED_MESH_RADAR_ORANGE; ++id) {
        EXPECT_NE(resources.getCreatedMesh(id), nullptr) << id;
    }
    for (irr::s32 id = MESH_COCKPIT; id <= MESH_SPOTLIGHT; ++id) {
        EXPECT_NE(resources.getMesh(id), nullptr) << id;
    }
    for (irr::s32 id : {TEXTURE_BULLET, TEXTURE_GUN_MUZZLE, TEXTURE_FIRE, TEXTURE_BUBBLE, TEXTURE_PARTICLE1,
                        TEXTURE_PARTICLE2, TEXTURE_HUD_ATLAS, TEXTURE_MENU_BUTTON}) {
        EXPECT_NE(resources.getTexture(id), nullptr) << id;
    }
    for (irr::s32 id = TEXTURE_TORPEDO_CAM; id <= TEXTURE_SONAR_RIGHT; ++id) {
        EXPECT_EQ(resources.getTexture(id), nullptr) << id;
    }
    EXPECT_EQ(resources.getFont(FONT_HUD), nullptr);
    EXPECT_EQ(resources.getSound(SOUND_SHIP_ENGINE), nullptr);
    // Ids outside the tables: before the first and after the last mesh, the
    // created meshes' ids in the loaded table and back, and the two texture
    // ids between the atlas and the first render target.
    EXPECT_EQ(resources.getMesh(0), nullptr);
    EXPECT_EQ(resources.getMesh(MESH_SPOTLIGHT + 1), nullptr);
    EXPECT_EQ(resources.getMesh(CREATED_MESH_RADAR_WHITE), nullptr);
    EXPECT_EQ(resources.getCreatedMesh(MESH_COCKPIT), nullptr);
    EXPECT_EQ(resources.getTexture(TEXTURE_HUD_ATLAS + 1), nullptr);
    EXPECT_EQ(resources.getTexture(TEXTURE_TORPEDO_CAM - 1), nullptr);
    EXPECT_EQ(resources.getText(1), "Missing!");
    EXPECT_TRUE(globals.driver->getTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS));

    globals.log = nullptr;
    log.close();
    const std::string text = readFile("resources.log");
    EXPECT_NE(text.find(": Load meshes\n"), std::string::npos);
    EXPECT_NE(text.find(": Load textures\n"), std::string::npos);
    EXPECT_NE(text.find(": Create render to target textures\n"), std::string::npos);
    EXPECT_EQ(text.find("Load fonts"), std::string::npos);
}

// The flag gets back the value it had, whatever it was and however the scope
// is left.
TEST(ScopedTextureCreationFlag, RestoresThePreviousValueOnEveryWayOut) {
    ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    irr::video::IVideoDriver* driver = globals.driver;
    const irr::video::E_TEXTURE_CREATION_FLAG flag = irr::video::ETCF_CREATE_MIP_MAPS;
    for (const bool before : {false, true}) {
        for (const bool inside : {false, true}) {
            for (const bool throws : {false, true}) {
                driver->setTextureCreationFlag(flag, before);
                try {
                    const ScopedTextureCreationFlag scoped(driver, flag, inside);
                    EXPECT_EQ(driver->getTextureCreationFlag(flag), inside);
                    if (throws) {
                        THROW_EXCEPTION("thrown inside the scope");
                    }
                } catch (const Exception&) {
                    EXPECT_TRUE(throws);
                }
                EXPECT_EQ(driver->getTextureCreationFlag(flag), before) << before << inside << throws;
            }
        }
    }
}

namespace {

// Damage to one file of a media copy. The engine's loaders hang on a JPEG
// without its last byte, read past a truncated one, overflow their buffer on
// an image header that claims a huge size, crash on a one-character edit of
// a .x file and make an empty mesh of a .x cut to its header; each must give
// the file's load failure instead.
struct BrokenFile {
    const char* file;
    const char* damage;                 // for the test's name
    void (*apply)(std::string& bytes);  // null: `replaced` takes the file's place
    const char* message;
    irr::s32 meshesBefore;  // loaded meshes that must stay (ids MESH_COCKPIT..)
    bool resealed = false;  // the manifest is rewritten over the damage: the header check alone must hold
    bool opengl = false;    // fonts load after the render targets, which need a real driver
    testsupport::FileDamage replaced = testsupport::FileDamage::Missing;
};

class ResourceHandlerBrokenFile : public testing::TestWithParam<BrokenFile> {};

void garbage(std::string& bytes) {
    bytes.assign(4096, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7919) & 0xFF);
    }
}
void empty(std::string& bytes) {
    bytes.clear();
}
void cutLastByte(std::string& bytes) {
    bytes.pop_back();
}
void cutHalf(std::string& bytes) {
    bytes.resize(bytes.size() / 2);
}
void cutToHeader(std::string& bytes) {
    bytes.resize(bytes.find('\n') + 1);
}
// Sides within the decoders' own limits whose pixel buffer, in 32 bits, comes
// out at next to nothing: width * height * 4 (PNG) or width * 3 * height
// (JPEG) just above 2^32.
void hugePng(std::string& bytes) {
    clienttest::setImageSides(bytes, true, 2048, 524288);
}
void hugeJpeg(std::string& bytes) {
    clienttest::setImageSides(bytes, false, 43691, 32768);
}
// The first `from` after `anchor` becomes `to`.
void editAfter(std::string& bytes, const char* anchor, const char* from, const char* to) {
    bytes.replace(bytes.find(from, bytes.find(anchor)), std::string(from).size(), to);
}

}  // namespace

TEST_P(ResourceHandlerBrokenFile, ThrowsTheTabledMessageAndKeepsWhatWasLoaded) {
    const BrokenFile& broken = GetParam();
    if (broken.opengl) {
        REQUIRE_OPENGL();
    }
    MediaCopy media;
    std::string bytes = readFile(broken.file);
    ASSERT_FALSE(bytes.empty());
    if (broken.apply == nullptr) {
        testsupport::damageFile(broken.file, bytes, broken.replaced);
    } else {
        broken.apply(bytes);
        testsupport::writeFile(broken.file, bytes);
    }
    if (broken.resealed) {
        testsupport::writeFile(std::string("media/") + MEDIA_MANIFEST_FILE, mediaManifestOf("media"));
    }
    ScopedDevice device(broken.opengl ? irr::video::EDT_OPENGL : irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    ResourceHandler resources;
    alarm(60);  // a loader that hangs fails the test instead of the whole run
    try {
        resources.loadAll();
        ADD_FAILURE() << "no exception for " << broken.file;
    } catch (const Exception& e) {
        EXPECT_EQ(e.message, broken.message);
        EXPECT_EQ(e.file, "src/client/resourcehandler");
    }
    alarm(0);
    for (irr::s32 id = MESH_COCKPIT; id < MESH_COCKPIT + broken.meshesBefore; ++id) {
        EXPECT_NE(resources.getMesh(id), nullptr) << id;
    }
    EXPECT_EQ(resources.getMesh(MESH_COCKPIT + broken.meshesBefore), nullptr);
    // The sounds load last; the table's damaged sound is the last of them.
    const bool atSound = std::string(broken.message).rfind("Can't load sound", 0) == 0;
    for (irr::s32 id = SOUND_SHIP_ENGINE; id <= SOUND_COLLISION; ++id) {
        EXPECT_EQ(resources.getSound(id) != nullptr, atSound && id < SOUND_COLLISION) << id;
    }
    EXPECT_TRUE(globals.driver->getTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS));
}

namespace {

const char kCockpit[] = "Can't load cockpit mesh: 'media/mesh/cockpit/cockpit_spielerschiff01.X'!";
const char kScout[] = "Can't load ship mesh: 'media/mesh/mantis1/mantis_scout01.X'!";
const char kStation[] = "Can't load station mesh: 'media/mesh/station1/station_01.x'!";
const char kButton[] = "Can't load button texture: 'media/graphics/gui/menubutton.jpg'!";
const char kMuzzle[] = "Can't load gun muzzle sprite: 'media/graphics/sprites/gun_muzzle.jpg'!";
const char kHud[] = "Can't load Hud image: 'media/graphics/hud/hud.png'!";
const char kCollision[] = "Can't load sound: 'media/audio/sound/3d_collision.wav'!";

const BrokenFile kBrokenFiles[] = {
    {"media/mesh/spotlight/spotlight_01.x", "Removed", nullptr,
     "Can't load spotlight mesh: 'media/mesh/spotlight/spotlight_01.x'!", 14},
    {"media/mesh/cockpit/cockpit_spielerschiff01.x", "Emptied", empty, kCockpit, 0},
    {"media/mesh/station1/station_01.x", "Garbage", garbage, kStation, 10},
    {"media/graphics/gui/menubutton.jpg", "Removed", nullptr, kButton, 15},
    {"media/graphics/hud/hud.png", "Garbage", garbage, kHud, 15},
    {"media/graphics/sprites/gun_muzzle.jpg", "Emptied", empty, kMuzzle, 15},
    {"media/manifest.txt", "Removed", nullptr, kCockpit, 0},
    // What the engine's loaders cannot take.
    {"media/graphics/sprites/gun_muzzle.jpg", "LastByteCut", cutLastByte, kMuzzle, 15, true},
    {"media/mesh/mantis1/mantis_scout01.jpg", "LastByteCut", cutLastByte, kScout, 3},
    {"media/graphics/sprites/gun_muzzle.jpg", "HalfCut", cutHalf, kMuzzle, 15, true},
    {"media/mesh/station1/station_01.jpg", "HalfCut", cutHalf, kStation, 10},
    {"media/graphics/sprites/gun_muzzle.jpg", "Huge", hugeJpeg, kMuzzle, 15, true},
    {"media/graphics/hud/hud.png", "Huge", hugePng, kHud, 15, true},
    {"media/mesh/shockwave/shockwave01.png", "Huge", hugePng,
     "Can't load shockwave mesh: 'media/mesh/shockwave/shockwave01.X'!", 13, true},
    {"media/fonts/font8.png", "Huge", hugePng, "Can't load font: 'media/fonts/font8.png'!", 15, true, true},
    {"media/mesh/trash/trash_small_01.x", "MaterialIndex",
     [](std::string& bytes) { editAfter(bytes, "MeshMaterialList", "0,", "7,"); },
     "Can't load trash mesh: 'media/mesh/trash/trash_small_01.x'!", 6},
    {"media/mesh/bomber1/bomber.x", "VertexCount",
     [](std::string& bytes) { editAfter(bytes, "Mesh ", " 670;", " 070;"); },
     "Can't load ship mesh: 'media/mesh/bomber1/bomber.x'!", 4},
    {"media/mesh/mantis1/mantis_scout01.X", "Inf",
     [](std::string& bytes) { editAfter(bytes, "Mesh ", "0.0000;", "inf;"); }, kScout, 3},
    {"media/mesh/torpedo/torp_hellshark.x", "CutToHeader", cutToHeader,
     "Can't load torpedo mesh: 'media/mesh/torpedo/torp_hellshark.x'!", 9},
    // What must not be opened or read whole: it would stop the game or grow
    // it without end.
    {"media/manifest.txt", "Fifo", nullptr, kCockpit, 0, false, false, testsupport::FileDamage::Fifo},
    {"media/manifest.txt", "DevZero", nullptr, kCockpit, 0, false, false, testsupport::FileDamage::DevZero},
    {"media/mesh/mantis1/mantis_scout01.jpg", "DevZero", nullptr, kScout, 3, false, false,
     testsupport::FileDamage::DevZero},
    {"media/mesh/station1/station_01.x", "Folder", nullptr, kStation, 10, false, false,
     testsupport::FileDamage::Folder},
    {"media/graphics/gui/menubutton.jpg", "Fifo", nullptr, kButton, 15, false, false,
     testsupport::FileDamage::Fifo},
    {"media/graphics/hud/hud.png", "Grown", nullptr, kHud, 15, false, false, testsupport::FileDamage::Grown},
    {"media/audio/sound/3d_collision.wav", "Removed", nullptr, kCollision, 15, false, true},
    {"media/audio/sound/3d_collision.wav", "Fifo", nullptr, kCollision, 15, false, true,
     testsupport::FileDamage::Fifo},
};

std::string brokenFileName(const testing::TestParamInfo<BrokenFile>& info) {
    std::string name = info.param.file;
    name =
        name.substr(name.rfind('/') + 1) + "_" + info.param.damage + (info.param.resealed ? "_Resealed" : "");
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Files, ResourceHandlerBrokenFile, testing::ValuesIn(kBrokenFiles), brokenFileName);


// The resource handler on the engine's null device (which cannot render to
// a texture, so loading stops there by design).
#include "ClientTestSupport.h"

#include "client/exception.h"
#include "client/globals.h"
#include "client/log.h"
#include "client/resourcehandler.h"
#include "platform/sound/fsound.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

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
    for (irr::s32 id = 1; id <= 6; ++id) {
        EXPECT_NE(resources.getCreatedMesh(id), nullptr) << id;
    }
    for (irr::s32 id = 7; id <= 21; ++id) {
        EXPECT_NE(resources.getMesh(id), nullptr) << id;
    }
    for (irr::s32 id : {1, 2, 3, 4, 5, 6, 7, 15}) {
        EXPECT_NE(resources.getTexture(id), nullptr) << id;
    }
    for (irr::s32 id = 10; id <= 14; ++id) {
        EXPECT_EQ(resources.getTexture(id), nullptr) << id;
    }
    EXPECT_EQ(resources.getFont(1), nullptr);
    EXPECT_EQ(resources.getSound(1), nullptr);
    // Unknown ids.
    EXPECT_EQ(resources.getMesh(0), nullptr);
    EXPECT_EQ(resources.getMesh(22), nullptr);
    EXPECT_EQ(resources.getMesh(1), nullptr);
    EXPECT_EQ(resources.getCreatedMesh(7), nullptr);
    EXPECT_EQ(resources.getTexture(8), nullptr);
    EXPECT_EQ(resources.getTexture(9), nullptr);
    EXPECT_EQ(resources.getText(1), "Missing!");

    globals.log = nullptr;
    log.close();
    const std::string text = readFile("resources.log");
    EXPECT_NE(text.find(": Load meshes\n"), std::string::npos);
    EXPECT_NE(text.find(": Load textures\n"), std::string::npos);
    EXPECT_NE(text.find(": Create render to target textures\n"), std::string::npos);
    EXPECT_EQ(text.find("Load fonts"), std::string::npos);
}

struct BrokenFile {
    const char* file;
    enum { Removed, Emptied, Garbage } damage;
    const char* message;
    irr::s32 meshesBefore;  // loaded meshes that must stay (ids 7..)
};

class ResourceHandlerBrokenFile : public testing::TestWithParam<BrokenFile> {};

TEST_P(ResourceHandlerBrokenFile, ThrowsTheTabledMessageAndKeepsWhatWasLoaded) {
    const BrokenFile& broken = GetParam();
    MediaCopy media;
    if (broken.damage == BrokenFile::Removed) {
        ASSERT_EQ(std::remove(broken.file), 0);
    } else {
        std::ofstream out(broken.file, std::ios::trunc | std::ios::binary);
        if (broken.damage == BrokenFile::Garbage) {
            for (int i = 0; i < 4096; ++i) {
                out.put(static_cast<char>((i * 7919) & 0xFF));
            }
        }
    }
    ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    ResourceHandler resources;
    try {
        resources.loadAll();
        FAIL() << "no exception for " << broken.file;
    } catch (const Exception& e) {
        EXPECT_EQ(e.message, broken.message);
        EXPECT_EQ(e.file, "src/client/resourcehandler");
    }
    for (irr::s32 id = 7; id < 7 + broken.meshesBefore; ++id) {
        EXPECT_NE(resources.getMesh(id), nullptr) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ResourceHandlerBrokenFile,
    testing::Values(BrokenFile{"media/mesh/spotlight/spotlight_01.x", BrokenFile::Removed,
                               "Can't load spotlight mesh: 'media/mesh/spotlight/spotlight_01.x'!", 14},
                    BrokenFile{"media/mesh/cockpit/cockpit_spielerschiff01.x", BrokenFile::Emptied,
                               "Can't load cockpit mesh: 'media/mesh/cockpit/cockpit_spielerschiff01.X'!", 0},
                    BrokenFile{"media/mesh/station1/station_01.x", BrokenFile::Garbage,
                               "Can't load station mesh: 'media/mesh/station1/station_01.x'!", 10},
                    BrokenFile{"media/graphics/gui/menubutton.jpg", BrokenFile::Removed,
                               "Can't load button texture: 'media/graphics/gui/menubutton.jpg'!", 15},
                    BrokenFile{"media/graphics/hud/hud.png", BrokenFile::Garbage,
                               "Can't load Hud image: 'media/graphics/hud/hud.png'!", 15},
                    BrokenFile{"media/graphics/sprites/gun_muzzle.jpg", BrokenFile::Emptied,
                               "Can't load gun muzzle sprite: 'media/graphics/sprites/gun_muzzle.jpg'!", 15}),
    [](const testing::TestParamInfo<BrokenFile>& info) {
        std::string name = info.param.file;
        name = name.substr(name.rfind('/') + 1);
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return name;
    });

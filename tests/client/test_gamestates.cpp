// The menu and the game state on the null driver: the login column as laid
// out at both window sizes, the menu's scene and music, the terrains' detail
// levels and heights, a whole game's start, frames and clean-up, twenty
// entries into both states at flat memory and reference counts, and the
// login against a loopback server. Entity behaviour is the entity tests'.
#include "FileDamage.h"
#include "FileTestUtils.h"
#include "GameStateRig.h"

#include "client/camera.h"
#include "client/engine/CGrassPatchSceneNode.h"
#include "client/constants.h"
#include "client/exception.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/networkconnection.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "platform/net/LoopbackServer.h"
#include "platform/sound/fsound_recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

using clienttest::StateRig;
using irr::core::recti;

namespace {

struct MenuScreen {
    const char* name;
    int32_t width;
    int32_t height;
    // The login column's rectangles in table order, then the caption's.
    recti rects[8];
};

class MenuScreens : public testing::TestWithParam<MenuScreen> {};

irr::gui::IGUIElement* guiAt(size_t index) {
    const irr::core::list<irr::gui::IGUIElement*>& children = globals.gui->getRootGUIElement()->getChildren();
    auto it = children.begin();
    for (size_t i = 0; i < index && it != children.end(); ++i) {
        ++it;
    }
    return it != children.end() ? *it : nullptr;
}

int32_t count(const std::vector<std::string>& calls, const std::string& prefix) {
    return static_cast<int32_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
        return call.rfind(prefix, 0) == 0;
    }));
}

// The detail level the engine must give a patch whose centre is `distance`
// from the camera, with a game's "level k at D" on the engine's threshold
// k - 1 (threshold 0 is never consulted: a patch nearer than threshold 1 is
// at full detail).
int32_t expectedDetail(double distance, const std::vector<double>& levelDistances) {
    int32_t detail = 0;
    for (size_t index = 1; index < levelDistances.size(); ++index) {
        if (distance >= levelDistances[index]) {
            detail = static_cast<int32_t>(index);
        }
    }
    return detail;
}

// Every patch in view of a far-seeing camera placed at `eye` is at the
// detail its distance calls for; at least `levels` different details seen.
void expectDetailLevels(irr::scene::ITerrainSceneNode* terrain, const irr::core::vector3df& eye,
                        const std::vector<double>& levelDistances) {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    irr::scene::ICameraSceneNode* previous = scene->getActiveCamera();
    irr::scene::ICameraSceneNode* camera = scene->addCameraSceneNode(nullptr, eye, terrain->getTerrainCenter());
    camera->setFarValue(100000.0f);
    camera->updateAbsolutePosition();
    scene->setActiveCamera(camera);
    camera->render();  // its view frustum
    terrain->OnRegisterSceneNode();
    irr::core::array<irr::s32> details;
    const irr::s32 patches = terrain->getCurrentLODOfPatches(details);
    const irr::s32 side = static_cast<irr::s32>(std::lround(std::sqrt(static_cast<double>(patches))));
    std::set<irr::s32> seen;
    for (irr::s32 x = 0; x < side; ++x) {
        for (irr::s32 z = 0; z < side; ++z) {
            const irr::s32 detail = details[static_cast<irr::u32>(x * side + z)];
            if (detail < 0) {
                continue;  // out of view
            }
            const double distance = eye.getDistanceFrom(terrain->getBoundingBox(x, z).getCenter());
            EXPECT_EQ(detail, expectedDetail(distance, levelDistances)) << x << "," << z << " at " << distance;
            seen.insert(detail);
        }
    }
    EXPECT_EQ(seen.size(), levelDistances.size());
    scene->setActiveCamera(previous);
    camera->remove();
}

}  // namespace

TEST_P(MenuScreens, LoginColumnAndCaptionAsLaidOutWithTheFocusOnTheName) {
    const MenuScreen& screen = GetParam();
    StateRig rig(screen.width, screen.height);
    ASSERT_TRUE(rig.menu.init(L"Tarnwell V0.2 $Rev: 8 $"));

    struct Expected {
        irr::gui::EGUI_ELEMENT_TYPE type;
        const wchar_t* text;
        irr::s32 id;
    };
    const Expected expected[8] = {
        {irr::gui::EGUIET_STATIC_TEXT, L"Tarnwell V0.2 $Rev: 8 $", -1},  // added first
        {irr::gui::EGUIET_STATIC_TEXT, L"Login name:", -1},
        {irr::gui::EGUIET_EDIT_BOX, L"", -1},
        {irr::gui::EGUIET_STATIC_TEXT, L"Password:", -1},
        {irr::gui::EGUIET_EDIT_BOX, L"", -1},
        {irr::gui::EGUIET_BUTTON, L"Login", 103},
        {irr::gui::EGUIET_BUTTON, L"Options", 102},
        {irr::gui::EGUIET_BUTTON, L"Exit Tarnwell", 101},
    };
    ASSERT_EQ(globals.gui->getRootGUIElement()->getChildren().size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        irr::gui::IGUIElement* element = guiAt(i);
        const recti& rect = i == 0 ? screen.rects[7] : screen.rects[i - 1];
        EXPECT_EQ(element->getType(), expected[i].type) << i;
        EXPECT_EQ(std::wstring(element->getText()), expected[i].text) << i;
        EXPECT_EQ(element->getID(), expected[i].id) << i;
        EXPECT_EQ(element->getRelativePosition(), rect) << i;
        // The controls move the focus on Tab: no element is a tab stop.
        EXPECT_FALSE(element->isTabStop()) << i;
    }
    EXPECT_EQ(globals.menuStatusText->getOverrideColor(), irr::video::SColor(255, 255, 192, 0));
    EXPECT_EQ(globals.loginNameLabel->getOverrideColor(), irr::video::SColor(255, 0, 192, 0));
    EXPECT_EQ(globals.passwordLabel->getOverrideColor(), irr::video::SColor(255, 0, 192, 0));
    EXPECT_FALSE(globals.loginNameBox->isPasswordBox());
    EXPECT_TRUE(globals.passwordBox->isPasswordBox());
    EXPECT_TRUE(globals.gui->hasFocus(globals.loginNameBox));

    // Typing 25 characters keeps 20; Tab leaves the focus to the controls.
    for (int i = 0; i < 25; ++i) {
        rig.key(irr::KEY_KEY_A, true, L'a' + static_cast<wchar_t>(i % 26));
        rig.key(irr::KEY_KEY_A, false, L'a' + static_cast<wchar_t>(i % 26));
    }
    EXPECT_EQ(std::wstring(globals.loginNameBox->getText()), L"abcdefghijklmnopqrst");
    rig.key(irr::KEY_TAB, true);
    rig.key(irr::KEY_TAB, false);
    EXPECT_TRUE(globals.gui->hasFocus(globals.loginNameBox));
    globals.gui->setFocus(globals.passwordBox);
    for (const wchar_t c : std::wstring(L"secret")) {
        rig.key(irr::KEY_KEY_S, true, c);
    }
    rig.harness.allowFrames(1);
    rig.menu.run();
    EXPECT_EQ(globals.loginName, "abcdefghijklmnopqrst");
    EXPECT_EQ(globals.loginPassword, "secret");
    rig.expectNothingPerState();
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, MenuScreens,
    testing::Values(MenuScreen{"w800",
                               800,
                               600,
                               {recti(340, 244, 460, 260), recti(340, 261, 460, 286), recti(340, 289, 460, 305),
                                recti(340, 306, 460, 331), recti(340, 336, 460, 361), recti(340, 386, 460, 411),
                                recti(340, 416, 460, 441), recti(10, 570, 400, 600)}},
                    MenuScreen{"w1024",
                               1024,
                               768,
                               {recti(452, 328, 572, 344), recti(452, 345, 572, 370), recti(452, 373, 572, 389),
                                recti(452, 390, 572, 415), recti(452, 420, 572, 445), recti(452, 470, 572, 495),
                                recti(452, 500, 572, 525), recti(10, 738, 400, 768)}}),
    [](const testing::TestParamInfo<MenuScreen>& info) { return std::string(info.param.name); });

TEST(MenuScene, CameraFogTerrainGrassLightAndOneMusicStreamPerEntry) {
    StateRig rig;
    ASSERT_TRUE(rig.menu.init(L"caption"));
    irr::scene::ISceneManager* scene = globals.sceneManager;
    EXPECT_EQ(scene->getActiveCamera(), globals.menuCamera->getNode());
    EXPECT_EQ(globals.menuCamera->getNode()->getFarValue(), 250.0f);
    // (1342, 634, 1307) with (0, 0, -40) turned 40 degrees about x.
    const irr::core::vector3df eye = globals.menuCamera->getNode()->getAbsolutePosition();
    EXPECT_NEAR(eye.X, 1342.0f, 1e-3f);
    EXPECT_NEAR(eye.Y, 634.0f + 40.0f * std::sin(40.0f * irr::core::DEGTORAD), 1e-3f);
    EXPECT_NEAR(eye.Z, 1307.0f - 40.0f * std::cos(40.0f * irr::core::DEGTORAD), 1e-3f);
    EXPECT_EQ(globals.clearColor, irr::video::SColor(255, 0, 24, 64));
    irr::video::SColor fog;
    irr::video::E_FOG_TYPE fogType;
    irr::f32 start, end, density;
    bool pixel, range;
    globals.driver->getFog(fog, fogType, start, end, density, pixel, range);
    EXPECT_EQ(fog, irr::video::SColor(255, 0, 8, 16));
    EXPECT_EQ(fogType, irr::video::EFT_FOG_LINEAR);
    EXPECT_EQ(start, 1.0f);
    EXPECT_EQ(end, 200.0f);
    EXPECT_TRUE(pixel && range);

    int32_t grass = 0;
    int32_t lights = 0;
    for (irr::scene::ISceneNode* node : scene->getRootSceneNode()->getChildren()) {
        if (auto* patch = dynamic_cast<tarnwell::scene::CGrassPatchSceneNode*>(node)) {
            ++grass;
            EXPECT_EQ(patch->getMaterial(0).MaterialType, irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
            EXPECT_FALSE(patch->getMaterial(0).Lighting);
        }
        if (node->getType() == irr::scene::ESNT_LIGHT) {
            ++lights;
            const irr::video::SLight& light = static_cast<irr::scene::ILightSceneNode*>(node)->getLightData();
            EXPECT_EQ(light.Type, irr::video::ELT_POINT);
            EXPECT_EQ(light.Radius, 1000.0f);
            EXPECT_EQ(light.DiffuseColor.toSColor(), irr::video::SColor(255, 255, 255, 255));
        }
    }
    EXPECT_EQ(grass, 25);
    EXPECT_EQ(lights, 1);
    // Terrain and grass take the filter where the renderer affords it.
    EXPECT_EQ(clienttest::nodesWithAnisotropicFilter(), 26u);
    expectDetailLevels(globals.menuTerrainNode, irr::core::vector3df(0.0f, 300.0f, 0.0f), {1000.0, 1500.0, 2000.0});

    rig.harness.allowFrames(2);
    rig.menu.run();
    ASSERT_TRUE(rig.menu.init(L"caption"));
    rig.harness.allowFrames(2);
    rig.menu.run();
    // Each entry opens its stream, plays and stops it, and closes it.
    std::string music;
    for (const std::string& call : rig.harness.soundCalls()) {
        music += call.rfind("FSOUND_Stream", 0) == 0 ? call.substr(14, call.find('(') - 14) + " " : "";
    }
    EXPECT_EQ(music, "Open Play Stop Close Open Play Stop Close ");
    EXPECT_EQ(rig.harness.framesRun(), 4);
    rig.expectNothingPerState();
}

TEST(GameState, StartFramesAndCleanupLeaveTheBlockEmpty) {
    StateRig rig;
    globals.gameState = GS_GAME_RUN;
    ASSERT_TRUE(rig.game.init(L"Tarnwell V0.2 $Rev: 8 $"));
    irr::scene::ISceneManager* scene = globals.sceneManager;

    // What the game's table and steps put in place.
    ASSERT_EQ(globals.shipList.size(), 4u);
    EXPECT_EQ(globals.shipList.front(), globals.playerShip);
    EXPECT_EQ(globals.stationList.size(), 1u);
    ASSERT_NE(globals.control, nullptr);
    ASSERT_NE(globals.hud, nullptr);
    ASSERT_NE(globals.network, nullptr);
    const Camera* cameras[] = {globals.mainCamera, globals.sonarCamera, globals.targetCamera, globals.closeCamera};
    const irr::s32 ids[] = {-1, 2, 3, 4};
    const float farValues[] = {250.0f, 2000.0f, 300.0f, 10.0f};
    const float aspects[] = {0.75f, 1.0f, 1.0f, 0.75f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(cameras[i]->getNode()->getID(), ids[i]);
        EXPECT_EQ(cameras[i]->getNode()->getFarValue(), farValues[i]);
        EXPECT_EQ(cameras[i]->getNode()->getAspectRatio(), aspects[i]);
    }
    EXPECT_EQ(scene->getActiveCamera(), globals.mainCamera->getNode());
    ASSERT_EQ(globals.lightNodes.size(), 6u);
    for (irr::scene::ILightSceneNode* light : globals.lightNodes) {
        const irr::video::SLight& data = light->getLightData();
        EXPECT_EQ(data.Type, irr::video::ELT_SPOT);
        EXPECT_EQ(data.Radius, 150.0f);
        EXPECT_EQ(data.InnerCone, 30.0f);
        EXPECT_EQ(data.OuterCone, 60.0f);
        EXPECT_EQ(data.Falloff, 1.0f);
        EXPECT_EQ(data.DiffuseColor.toSColor(), irr::video::SColor(255, 159, 191, 255));
    }
    EXPECT_GE(globals.additiveMaterial, 0);
    EXPECT_EQ(std::string(globals.driver->getMaterialRendererName(static_cast<irr::u32>(globals.additiveMaterial))),
              "MyMaterialD3D9_ALPHA");
    EXPECT_FALSE(globals.shadersEnabled);
    EXPECT_EQ(globals.infoText->getRelativePosition(), recti(10, 10, 300, 400));
    const std::wstring loading = globals.infoText->getText();
    EXPECT_EQ(loading.substr(0, 25), L"Initialize Irrlicht...don");
    EXPECT_EQ(loading.substr(loading.size() - 24), L"Create vegetation...done");
    EXPECT_EQ(globals.clearColor, irr::video::SColor(255, 0, 8, 16));
    const std::string log = rig.harness.logText();
    EXPECT_NE(log.find("Available video memory after game initialization: 0"), std::string::npos);

    // The main terrain stands at the height map's heights, with the game's
    // detail levels; the radar terrain went to the HUD's shadow world.
    irr::scene::ITerrainSceneNode* terrain = globals.terrainNode;
    std::mt19937 random(3);
    for (int i = 0; i < 200; ++i) {
        const float x = TERRAIN_SCALE_XZ * static_cast<float>(random() % 256);
        const float z = TERRAIN_SCALE_XZ * static_cast<float>(random() % 256);
        EXPECT_NEAR(terrain->getHeight(x, z), globals.heightMap->getHeight(irr::core::vector3df(x, 0.0f, z)), 1e-2f);
    }
    // From a corner, 300 above the ground, over the whole floor.
    expectDetailLevels(terrain, irr::core::vector3df(10.0f, terrain->getHeight(10.0f, 10.0f) + 300.0f, 10.0f),
                       {1000.0, 1500.0, 2000.0, 3000.0});
    EXPECT_LT(globals.radarTerrainNode->getPosition().Y, -20000.0f);
    EXPECT_EQ(globals.radarTerrainNode->getScale().X, 80.0f);

    // Frames that take no time are paced to 20 ms each; the lights follow
    // the living ships after the player's.
    ScriptedClock& clock = rig.harness.clock();
    rig.harness.allowFrames(30);
    const int32_t before = rig.harness.framesRun();
    rig.harness.onFrame([&](int32_t frame) {
        if (frame == before + 29) {
            // The last frame's lights, against the ships as they stand now
            // (a frame moves no ship far).
            std::vector<Ship*> ships(globals.shipList.begin(), globals.shipList.end());
            for (size_t i = 0; i < globals.lightNodes.size(); ++i) {
                irr::scene::ILightSceneNode* light = globals.lightNodes[i];
                if (i == 0) {
                    EXPECT_EQ(light->getPosition(), irr::core::vector3df(0.0f, 0.0f, 0.0f));
                } else if (i < ships.size()) {
                    EXPECT_TRUE(light->isVisible()) << i;
                    EXPECT_LT(light->getPosition().getDistanceFrom(ships[i]->getPosition()), 5.0f) << i;
                } else {
                    EXPECT_FALSE(light->isVisible()) << i;
                }
            }
            globals.gameState = GS_MENU;
        }
    });
    rig.game.run();
    // The 30th run of the device found the state changed: 29 whole frames.
    EXPECT_EQ(rig.harness.framesRun() - before, 30);
    EXPECT_EQ(clock.sleeps(), std::vector<uint32_t>(29, 20u));
    rig.expectNothingPerState();
    // A game that is not built runs no frame.
    rig.harness.allowFrames(5);
    rig.game.run();
    EXPECT_EQ(rig.harness.framesRun() - before, 30);
}

TEST(GameState, SlowFramesAreNotPacedAndGiveTheFpsFigure) {
    StateRig rig;
    globals.gameState = GS_GAME_RUN;
    ASSERT_TRUE(rig.game.init(L"caption"));
    // Every reading of the clock finds 25 ms more: each frame works longer
    // than a frame's 20 ms.
    rig.harness.clock().advanceOnRead(25);
    rig.harness.allowFrames(40);
    std::wstring info;
    rig.harness.onFrame([&](int32_t) {
        if (globals.infoText != nullptr) {
            info = globals.infoText->getText();
        }
    });
    rig.game.run();
    rig.harness.clock().advanceOnRead(0);
    EXPECT_TRUE(rig.harness.clock().sleeps().empty());
    const size_t at = info.find(L"FPS: ");
    ASSERT_NE(at, std::wstring::npos) << std::string(info.begin(), info.end());
    const int fps = std::stoi(info.substr(at + 5));
    EXPECT_GT(fps, 0);
    EXPECT_LE(fps, 40);  // at least 25 ms of work a frame
    EXPECT_EQ(info.substr(0, 8), L"caption\n");
}

TEST(GameState, TwentyEntriesOfMenuAndGameKeepMemoryAndReferenceCountsFlat) {
    StateRig rig;
    irr::video::IVideoDriver* driver = globals.driver;
    // Textures, cached meshes, material renderers, and the references held
    // to the terrain's and the grass's textures, the HUD atlas and a ship.
    const auto counts = [&] {
        const auto references = [](irr::IReferenceCounted* object) {
            return object != nullptr ? object->getReferenceCount() : 0;
        };
        return std::vector<irr::s32>{static_cast<irr::s32>(driver->getTextureCount()),
                                     static_cast<irr::s32>(globals.sceneManager->getMeshCache()->getMeshCount()),
                                     static_cast<irr::s32>(driver->getMaterialRendererCount()),
                                     references(driver->findTexture("media/terrain/rockground.jpg")),
                                     references(driver->findTexture("media/terrain/grass.png")),
                                     references(globals.resources->getTexture(TEXTURE_HUD_ATLAS)),
                                     references(globals.resources->getMesh(MESH_SCOUT))};
    };
    std::vector<irr::s32> warm;
    size_t warmHeap = 0;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's own leak check at exit sees what an entry leaves
    // behind; six entries (four seconds each there) show any growth.
    constexpr int kEntries = 6;
#else
    constexpr int kEntries = 20;
#endif
    for (int entry = 1; entry <= kEntries; ++entry) {
        globals.gameState = GS_MENU;
        ASSERT_TRUE(rig.menu.init(L"caption"));
        rig.harness.allowFrames(2);
        rig.menu.run();
        globals.gameState = GS_GAME_RUN;
        ASSERT_TRUE(rig.game.init(L"caption"));
        rig.harness.allowFrames(2);
        rig.game.run();
        rig.expectNothingPerState();
        if (entry == 3) {
            warm = counts();
            warmHeap = clienttest::heapInUse();
        }
    }
    EXPECT_EQ(counts(), warm);
    // A game's grass images alone are 2 x 257 x 257 x 4 bytes: one left
    // behind per entry would add at least 1.5 MB here.
    const size_t heap = clienttest::heapInUse();
    EXPECT_LT(heap, warmHeap + 256 * 1024) << "grew by " << (heap - warmHeap) << " bytes";
    const std::vector<std::string> calls = rig.harness.soundCalls();
    EXPECT_EQ(count(calls, "FSOUND_Stream_Open"), kEntries);
    EXPECT_EQ(count(calls, "FSOUND_Stream_Close"), kEntries);
}

TEST(GameLogin, SentOnceAcceptedAndTheAnswersPrintedWhateverTheServerDoes) {
    nettest::LoopbackServer server;
    ASSERT_NE(server.port, 0);
    StateRig rig;
    globals.serverPort = std::to_string(server.port);
    globals.loginName = "pilot";
    globals.loginPassword = "secret";
    globals.gameState = GS_GAME_RUN;
    ASSERT_TRUE(rig.game.init(L"caption"));

    // The server answers the login, then sends garbage and drops the
    // client; the game runs on and ends when the test says so.
    int32_t stage = 0;
    int32_t framesSince = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    rig.harness.onFrame([&](int32_t) {
        server.service();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++framesSince;
        if (stage == 0 && !server.messages.empty()) {
            server.send({static_cast<unsigned char>(ID_LOGIN), 1});
            stage = 1;
            framesSince = 0;
        } else if (stage == 1 && framesSince == 20) {
            server.send({200, 1, 2});
            stage = 2;
        } else if (stage == 2 && framesSince == 40) {
            if (server.peer != nullptr) {
                enet_peer_disconnect(server.peer, 0);
            }
            stage = 3;
        } else if ((stage == 3 && framesSince == 300) || std::chrono::steady_clock::now() > deadline) {
            globals.gameState = GS_MENU;
        }
    });
    rig.harness.allowFrames(100000);
    testing::internal::CaptureStdout();
    rig.game.run();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(stage, 3);
    ASSERT_EQ(server.messages.size(), 1u);
    const std::string login(server.messages[0].bytes.begin(), server.messages[0].bytes.end());
    EXPECT_EQ(login, std::string("\x50\0\0\0pilot\0secret\0", 17));
    const size_t accepted = out.find("Unhandled packet (not a problem): 16\n");
    const size_t result = out.find("\nIncoming Login result: 1\nLogin successful!\n");
    const size_t garbage = out.find("Unhandled packet (not a problem): 200\n");
    const size_t dropped = out.find("Unhandled packet (not a problem): 19\n");
    EXPECT_LT(accepted, result) << out;
    EXPECT_LT(result, garbage) << out;
    EXPECT_LT(garbage, dropped) << out;
    EXPECT_NE(dropped, std::string::npos) << out;
    rig.expectNothingPerState();
}

namespace {

using testsupport::FileDamage;

enum Edit { REPLACED, CUT, CHANGED };  // CUT: the last byte (a cut JPEG hangs the engine's decoder)

struct BadFile {
    const char* name;
    const char* file;     // in media/terrain/
    Edit edit;
    FileDamage replaced;  // for REPLACED
    bool inMenu;          // read by the menu, else by the game
    const char* source;
    const char* kind;  // of the message
};

class BadTerrainFiles : public testing::TestWithParam<BadFile> {};

const char kMenu[] = "src/client/gamemenu";
const char kTerrain[] = "src/client/gameterrain";
const char kMedia[] = "src/client/gamemedia";

const BadFile kBadFiles[] = {
    {"MenuImageCut", "t33x33.jpg", CUT, FileDamage::Missing, true, kMenu, "terrain"},
    {"MenuImageFifo", "t33x33.jpg", REPLACED, FileDamage::Fifo, true, kMenu, "terrain"},
    {"RawMapMissing", "map257x257.raw", REPLACED, FileDamage::Missing, false, kTerrain, "terrain"},
    {"RawMapDevZero", "map257x257.raw", REPLACED, FileDamage::DevZero, false, kTerrain, "terrain"},
    {"RadarImageChanged", "t65x65.jpg", CHANGED, FileDamage::Missing, false, kTerrain, "terrain"},
    {"MenuRockMissing", "rockground.jpg", REPLACED, FileDamage::Missing, true, kMedia, "terrain texture"},
    {"MenuDetailDevZero", "detailmap3.jpg", REPLACED, FileDamage::DevZero, true, kMedia, "terrain texture"},
    {"MenuGrassTextureFifo", "grass.png", REPLACED, FileDamage::Fifo, true, kMedia, "grass texture"},
    {"GameRockCut", "rockground.jpg", CUT, FileDamage::Missing, false, kMedia, "terrain texture"},
    {"GameGrassTextureChanged", "grass.png", CHANGED, FileDamage::Missing, false, kMedia, "grass texture"},
    {"GameColourImageFolder", "t257x257.jpg", REPLACED, FileDamage::Folder, false, kMedia, "grass image"},
    {"GameGrassMapTruncated", "g257x257.jpg", REPLACED, FileDamage::Truncated, false, kMedia, "grass image"},
    {"GameGrassMapGrown", "g257x257.jpg", REPLACED, FileDamage::Grown, false, kMedia, "grass image"},
};

}  // namespace

// A terrain file that is missing or damaged, or something else in its place,
// ends the state with the exception naming the file, at once.
TEST_P(BadTerrainFiles, EndTheStateWithTheExceptionNamingTheFile) {
    const BadFile& bad = GetParam();
    const std::string path = std::string("media/terrain/") + bad.file;
    StateRig rig;
    std::string bytes = testsupport::readFile(path);
    ASSERT_FALSE(bytes.empty());
    if (bad.edit == REPLACED) {
        testsupport::damageFile(path, bytes, bad.replaced);
    } else {
        if (bad.edit == CUT) {
            bytes.pop_back();
        } else {
            bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
        }
        testsupport::writeFile(path, bytes);
    }
    globals.gameState = bad.inMenu ? GS_MENU : GS_GAME_RUN;
    alarm(60);  // a read that hangs fails the test instead of the whole run
    try {
        if (bad.inMenu) {
            rig.menu.init(L"caption");
        } else {
            rig.game.init(L"caption");
        }
        ADD_FAILURE() << "no exception";
    } catch (const Exception& exception) {
        EXPECT_EQ(exception.message, std::string("Can't load ") + bad.kind + ": '" + path + "'!");
        EXPECT_EQ(exception.file, bad.source);
    }
    alarm(0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadTerrainFiles, testing::ValuesIn(kBadFiles),
    [](const testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

// The music passes the manifest check like every medium: whatever stands in
// its place, the menu comes up at once without music and the sound layer is
// never asked to open it. A symbolic link to an intact copy plays.
TEST(MenuMusic, ADamagedFileIsLeftOutAtOnceAndNeverOpened) {
    const char* const path = "media/audio/music/intro.ogg";
    for (const FileDamage damage : testsupport::kEveryFileDamage) {
        SCOPED_TRACE(testsupport::damageName(damage));
        StateRig rig;
        const std::string bytes = testsupport::readFile(path);
        testsupport::damageFile(path, bytes, damage);
        const size_t mark = fsound::recording().size();
        alarm(60);  // a read that hangs fails the test instead of the whole run
        EXPECT_TRUE(rig.menu.init(L"caption"));
        alarm(0);
        const bool linked = damage == FileDamage::Linked;
        EXPECT_EQ(globals.menuMusic != nullptr, linked);
        EXPECT_EQ(std::count_if(fsound::recording().begin() + static_cast<std::ptrdiff_t>(mark),
                                fsound::recording().end(),
                                [](const fsound::RecordedCall& call) { return call.op == fsound::Op::StreamOpen; }),
                  linked ? 1 : 0);
        rig.menu.cleanup();
        testsupport::restoreFile(path, bytes);
    }
}

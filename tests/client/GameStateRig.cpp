#include "GameStateRig.h"

#include "client/globals.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's allocator keeps its own count (its header is not always
// installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace clienttest {

bool TestGame::initPhysics() {
    physicsWorld = Game::initPhysics();
    return true;
}

bool TestGame::initTerrain() {
    return Game::initTerrain() && !failTerrain;
}

bool TestMenu::initScene() {
    return GameMenu::initScene() && !failScene;
}

StateRig::StateRig(int32_t resolutionX, int32_t resolutionY, irr::video::E_DRIVER_TYPE driver)
    : harness(driver, &receiver), iniPath("tarnwell.ini"), ini(iniPath.c_str()) {
    // The Game constructor reset the block.
    harness.publish();
    harness.loadResources();
    globals.iniFile = &ini;
    globals.eventReceiver = &receiver;
    globals.resolutionX = resolutionX;
    globals.resolutionY = resolutionY;
    // No server: a port the connection refuses at once.
    globals.serverAddress = "127.0.0.1";
    globals.serverPort = "0";
    globals.gameState = GS_MENU;
}

StateRig::~StateRig() {
    // Whatever a failed test left built; each clean-up clears the whole
    // scene, so only the state that stands.
    if (globals.menuStatusText != nullptr || globals.menuCamera != nullptr) {
        menu.cleanup();
    } else {
        game.cleanup();
    }
}

void StateRig::clickButton(irr::s32 id) {
    irr::gui::IGUIElement* button = globals.gui->getRootGUIElement()->getElementFromId(id, true);
    irr::SEvent event{};
    event.EventType = irr::EET_GUI_EVENT;
    event.GUIEvent.Caller = button;
    event.GUIEvent.Element = nullptr;
    event.GUIEvent.EventType = irr::gui::EGET_BUTTON_CLICKED;
    receiver.OnEvent(event);
}

void StateRig::key(irr::EKEY_CODE code, bool down, wchar_t character) {
    irr::SEvent event{};
    event.EventType = irr::EET_KEY_INPUT_EVENT;
    event.KeyInput.Key = code;
    event.KeyInput.PressedDown = down;
    event.KeyInput.Char = character;
    globals.device->postEventFromUser(event);
}

void StateRig::expectNothingPerState() const {
    EXPECT_EQ(globals.network, nullptr);
    EXPECT_EQ(globals.physics, nullptr);
    EXPECT_EQ(globals.particleSystem, nullptr);
    EXPECT_EQ(globals.infoText, nullptr);
    EXPECT_EQ(globals.control, nullptr);
    EXPECT_EQ(globals.hud, nullptr);
    EXPECT_EQ(globals.heightMap, nullptr);
    EXPECT_EQ(globals.mainCamera, nullptr);
    EXPECT_EQ(globals.sonarCamera, nullptr);
    EXPECT_EQ(globals.targetCamera, nullptr);
    EXPECT_EQ(globals.closeCamera, nullptr);
    EXPECT_EQ(globals.menuCamera, nullptr);
    EXPECT_EQ(globals.terrainObject, nullptr);
    EXPECT_EQ(globals.terrainNode, nullptr);
    EXPECT_EQ(globals.radarTerrainNode, nullptr);
    EXPECT_EQ(globals.menuTerrainNode, nullptr);
    EXPECT_EQ(globals.menuGrassImage, nullptr);
    EXPECT_EQ(globals.menuMusic, nullptr);
    EXPECT_EQ(globals.menuStatusText, nullptr);
    EXPECT_EQ(globals.loginNameBox, nullptr);
    EXPECT_EQ(globals.passwordBox, nullptr);
    EXPECT_EQ(globals.loginNameLabel, nullptr);
    EXPECT_EQ(globals.passwordLabel, nullptr);
    EXPECT_EQ(globals.loginButton, nullptr);
    EXPECT_EQ(globals.optionsButton, nullptr);
    EXPECT_EQ(globals.exitButton, nullptr);
    EXPECT_EQ(globals.playerShip, nullptr);
    EXPECT_EQ(globals.trackedTorpedo, nullptr);
    EXPECT_EQ(globals.lastGunFired, nullptr);
    EXPECT_EQ(globals.lightingCallback, nullptr);
    EXPECT_TRUE(globals.lightNodes.empty());
    EXPECT_TRUE(globals.shipList.empty());
    EXPECT_TRUE(globals.stationList.empty());
    EXPECT_TRUE(globals.trashList.empty());
    EXPECT_TRUE(globals.torpedoList.empty());
    EXPECT_TRUE(globals.sceneManager->getRootSceneNode()->getChildren().empty());
    EXPECT_TRUE(globals.gui->getRootGUIElement()->getChildren().empty());
}

size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace clienttest

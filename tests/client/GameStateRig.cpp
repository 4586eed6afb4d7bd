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
    const GameGlobals& g = globals;
    const void* perState[] = {
        g.network, g.physics, g.particleSystem, g.infoText, g.control, g.hud, g.heightMap, g.mainCamera,
        g.sonarCamera, g.targetCamera, g.closeCamera, g.menuCamera, g.terrainObject, g.terrainNode,
        g.radarTerrainNode, g.menuTerrainNode, g.menuGrassImage, g.menuMusic, g.menuStatusText, g.loginNameBox,
        g.passwordBox, g.loginNameLabel, g.passwordLabel, g.loginButton, g.optionsButton, g.exitButton,
        g.playerShip, g.trackedTorpedo, g.lastGunFired, g.lightingCallback};
    for (size_t i = 0; i < sizeof(perState) / sizeof(perState[0]); ++i) {
        EXPECT_EQ(perState[i], nullptr) << "field " << i << " of the list";
    }
    EXPECT_TRUE(g.lightNodes.empty() && g.shipList.empty() && g.stationList.empty() && g.trashList.empty() &&
                g.torpedoList.empty());
    EXPECT_TRUE(g.sceneManager->getRootSceneNode()->getChildren().empty());
    EXPECT_TRUE(g.gui->getRootGUIElement()->getChildren().empty());
}

size_t heapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

size_t nodesWithAnisotropicFilter(irr::scene::ISceneNode* node) {
    node = node != nullptr ? node : globals.sceneManager->getRootSceneNode();
    bool on = false;
    for (irr::u32 m = 0; m < node->getMaterialCount(); ++m) {
        for (const irr::video::SMaterialLayer& layer : node->getMaterial(m).TextureLayer) {
            on = on || layer.AnisotropicFilter != 0;
        }
    }
    size_t found = on ? 1 : 0;
    for (irr::scene::ISceneNode* child : node->getChildren()) {
        found += nodesWithAnisotropicFilter(child);
    }
    return found;
}

}  // namespace clienttest

// The program's single instances as start-up makes them, over the game-loop
// harness: the input receiver as the device's receiver, an ini file in the
// media copy, the resources, the window size, and one Game and one GameMenu,
// so that a test runs menu and game states (or the whole state loop) frame
// by frame on the scripted device and clock.
#pragma once

#include "GameLoopHarness.h"

#include "client/eventreceiver.h"
#include "client/game.h"
#include "client/gamemenu.h"
#include "client/inifile.h"

#include <irrlicht.h>

#include <cstdint>
#include <string>

namespace clienttest {

// A game whose terrain step can be failed: `failTerrain` builds the terrain
// and then fails the step, leaving the game half-built.
class TestGame : public Game {
public:
    bool initTerrain() override;

    bool failTerrain = false;
};

// A menu whose scene is built and then reported failed, when asked to.
class TestMenu : public GameMenu {
public:
    bool initScene() override;

    bool failScene = false;
};

class StateRig {
public:
    explicit StateRig(int32_t resolutionX = 800, int32_t resolutionY = 600,
                      irr::video::E_DRIVER_TYPE driver = irr::video::EDT_NULL);
    ~StateRig();
    StateRig(const StateRig&) = delete;
    StateRig& operator=(const StateRig&) = delete;

    // Posts a click of the GUI button with this id to the receiver.
    void clickButton(irr::s32 id);
    // Posts a key event through the device (GUI first, then the receiver).
    void key(irr::EKEY_CODE code, bool down, wchar_t character = 0);
    // Every field of the block that a game or a menu fills is back at its
    // empty value, and the scene holds no node.
    void expectNothingPerState() const;

    EventReceiver receiver;
    GameLoopHarness harness;
    TestGame game;
    TestMenu menu;
    std::string iniPath;
    IniFile ini;
};

// The scene nodes from `node` down (the scene's root when null) with a
// texture layer whose anisotropic filter is on.
size_t nodesWithAnisotropicFilter(irr::scene::ISceneNode* node = nullptr);

// Bytes the heap holds in use (the sanitizer's count in its builds).
size_t heapInUse();

}  // namespace clienttest

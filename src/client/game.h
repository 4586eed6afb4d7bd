// The game-run state: builds one game (network connection, shaders, cameras,
// particles, physics, terrain, ships, station, controls, HUD, lights), runs
// its frame loop at no more than 50 frames a second and tears it down so
// that the state can be entered again. Everything else lives in globals.
//
// The frame loop reads the time and sleeps only through globals.clock; its
// arithmetic (step, rest of the frame, FPS, lights, texts) is in gamemath.h.
// Once the server has accepted the connection the game sends the login
// form's name and password (globals.loginName, loginPassword) once; it takes
// one received packet a frame. Without a server it runs the same.
#pragma once

#include "client/gamemath.h"

namespace irr {
namespace video {
class IImage;
}
}  // namespace irr

namespace tarnwell {
namespace scene {
class ITideGenerator;
}
}  // namespace tarnwell

class Game {
public:
    // Sets drawCockpit and leaves every other field of the global block null,
    // false or empty (the crash handler stays).
    Game();
    virtual ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // Builds the game; true when it stands. On failure it logs which step
    // failed, tears down what was built and sets the state to the menu, so
    // that run returns at once. The caption is shown in the info text (not
    // copied). A missing terrain file throws Exception.
    bool init(const wchar_t* caption);
    // The frame loop, then cleanup; returns at once unless init succeeded.
    void run();
    // Reads the graphics settings of the ini file and applies them.
    void applyGraphicsSettings();

    // The steps of init and run. The terrain step is virtual so that a test
    // can fail the game half-built.
    bool initGame();
    // Creates the physics glue (globals.physics) and its world.
    bool initPhysics();
    virtual bool initTerrain();
    // Prepares the lighting shader materials (and leaves the shader switch
    // off); true whenever the device exists. The materials are made once per
    // driver and found again by name in later games.
    bool initShaders();
    // Tears the game down; safe after a partial init and when nothing was
    // built. Nothing per game outlives it: the block's per-game fields are
    // null or empty afterwards, playerShip included.
    void cleanup();

    // One frame's work after the scene began, dt seconds, in the frame's
    // order (the benchmarks time them one by one): the ships' updates with
    // the dead ones deleted, the lights, dead debris deleted, the controls
    // and the cockpit camera; the HUD's three rendered views; the particles;
    // the scene; the HUD with the cockpit models; the physics step; the GUI,
    // the end of the scene, the sound listener and update, and the network.
    void frame(float dt);
    void frameEntities(float dt);
    void frameViews();
    void frameParticles(float dt);
    void frameScene();
    void frameHud();
    void framePhysics(float dt);
    void frameFinish();

private:
    void serviceNetwork();
    void updateListener();
    void showLoading(const wchar_t* title);
    void endLoading();

    bool initialized = false;
    const wchar_t* caption = nullptr;
    bool loginSent = false;              // this game's login went out
    gamemath::LoadingText loading;
    // Held until the grass that uses them is gone.
    tarnwell::scene::ITideGenerator* tide = nullptr;
    irr::video::IImage* grassImages[2] = {nullptr, nullptr};
};

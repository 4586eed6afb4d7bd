// The game-run state: builds one game (network connection, shaders, cameras,
// particles, physics, terrain, ships, station, controls, HUD, lights), runs
// its frame loop at no more than 50 frames a second and tears it down so
// that the state can be entered again. Everything else lives in globals.
#pragma once

class Game {
public:
    // Sets drawCockpit and leaves every other field of the global block null,
    // false or empty.
    Game();
    virtual ~Game();

    // Builds the game; true when it stands. The caption is shown in the info
    // text (not copied).
    bool init(const wchar_t* caption);
    // The frame loop, then cleanup; returns at once when init failed.
    void run();
    // Reads the graphics settings of the ini file and applies them.
    void applyGraphicsSettings();

    // The steps of init and run.
    bool initGame();
    bool initTerrain();
    // Prepares the lighting shader materials (and leaves the shader switch
    // off); true whenever the device exists.
    bool initShaders();
    void cleanup();

private:
    bool initialized;
    const wchar_t* caption;
};

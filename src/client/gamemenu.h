// The menu state: a small lit underwater scene (terrain, swaying grass,
// ambient bubbles, a fixed camera), the login column in the middle of the
// screen, looping music and the caption in the lower left corner. "Login" or
// Return start a game, "Exit Tarnwell" or Escape end the program (the input
// receiver and the controls change the state). Each entry builds the scene,
// the GUI and the music anew; each exit removes all of it.
//
// The menu keeps its GUI elements, camera, terrain, music and particle
// system in globals; the login form's texts are left in globals.loginName
// and loginPassword when the menu ends, for the game's login.
#pragma once

namespace irr {
namespace scene {
class ILightSceneNode;
}
namespace video {
class IImage;
}
}  // namespace irr

namespace tarnwell {
namespace scene {
class ITideGenerator;
}
}  // namespace tarnwell

class GameMenu {
public:
    GameMenu();
    virtual ~GameMenu();
    GameMenu(const GameMenu&) = delete;
    GameMenu& operator=(const GameMenu&) = delete;

    // Builds the scene, the GUI and the music; false when the light node or
    // the particle system could not be made (run must not follow; cleanup
    // removes what was built). The caption is shown, not copied.
    bool init(const wchar_t* caption);
    // The menu loop while the device runs, the state is the menu and the
    // window is active; then the music stops and cleanup runs. Without a
    // built scene it only cleans up. Always true.
    bool run();
    // One pass of the menu loop: the scene begun, the controls' menu
    // handling, camera and light placed, scene and GUI drawn, the scene
    // ended. Needs an init that returned true.
    void frame();
    // Builds the scene and the GUI; init's first part. Virtual so that a
    // test can make it fail.
    virtual bool initScene();
    // Removes the scene, the GUI elements and the particle system, closes the
    // music stream and releases the images and the tide generator. Safe after
    // a partial init and when nothing was built.
    void cleanup();

private:
    const wchar_t* caption = nullptr;                 // not owned
    irr::scene::ILightSceneNode* lightNode = nullptr;  // the scene owns it
    // Held until the grass that uses them is gone.
    tarnwell::scene::ITideGenerator* tide = nullptr;
    irr::video::IImage* grassImages[2] = {nullptr, nullptr};
};

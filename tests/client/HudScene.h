// The game's opening scene for the HUD, built as the game state builds it:
// the four cameras, the sea floor from the raw height map with its triangle
// selector, the radar terrain, the height map, the four ships and the
// station of the game's table, published in globals, and the HUD over them.
// The screen size the HUD lays out for is set on the driver for the scene's
// life. Needs a published device and the resources in globals; the global
// block comes back as it was at the end.
#pragma once

#include "client/globals.h"
#include "client/hud.h"
#include "client/ship.h"

#include <irrlicht.h>

#include <memory>
#include <vector>

class Camera;
class HeightMap;
class HudCanvas;
class Station;
class Torpedo;

namespace clienttest {

// A ship as the game makes it, with a mesh node of its own for as long as
// the ship class makes none, placed and turned with the ship.
class SceneShip : public Ship {
public:
    SceneShip(bool isPlayer, const std::string& name, const std::wstring& registration,
              const std::wstring& className, const irr::core::vector3df& position,
              const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
              irr::s32 mesh);
    ~SceneShip() override;
    // Moves the ship and its node.
    void place(const irr::core::vector3df& position, const irr::core::vector3df& rotation);

private:
    bool ownNode = false;
};

class HudScene {
public:
    HudScene(const irr::core::dimension2d<irr::u32>& screen, HudCanvas* canvas = nullptr);
    ~HudScene();
    HudScene(const HudScene&) = delete;
    HudScene& operator=(const HudScene&) = delete;

    // The HUD's part of one frame of the game loop: the main camera follows
    // the player, the three views, the scene, Hud::draw and
    // Hud::drawTargetAndRadar, between the driver's begin and end of a scene.
    void frame();
    // The same frame drawn into a texture of the screen size; the picture
    // (the caller drops it), or null when the driver cannot render to one.
    irr::video::IImage* shoot();
    // A torpedo in the torpedo list, tracked, 40 units ahead of the player,
    // homing on `target`.
    Torpedo* launchTorpedo(Ship* target);

    Hud& hud() { return *display; }
    SceneShip* player = nullptr;
    std::vector<SceneShip*> enemies;  // ships 2, 3 and 4 of the game's table
    Station* station = nullptr;

private:
    void views();

    GameGlobals saved;
    irr::core::dimension2d<irr::u32> previousScreen;
    std::unique_ptr<Hud> display;
};

}  // namespace clienttest

// The head-up display: everything over the rendered world while a game runs.
// Before the scene is drawn it renders three pictures into textures (the
// newest torpedo's camera, the 3-D radar in a shadow world 20,000 units below
// the real one, the current target alone); after it, it draws the centre
// cross, compass strip, pitch ladder, horizon, contact brackets with the
// target's lock, hull bar, lead indicator or off-screen arrow, six gauges,
// and then the lower panel with the three pictures, the target's data and the
// 2-D radar at 360 and 180 units.
//
// It reads the game through globals (the player's ship, the entity lists,
// the cameras, the height map, the terrain, the resources) and keeps the
// pixel arithmetic in hudmath.h. Screens of 800 and 1024 pixels' width have
// their own layouts; at any other width every element sits at its anchor.
//
// One per game: the game state creates it after the ships, station and
// controls and deletes it in its clean-up, before the scene is cleared.
// Only the game thread calls it, between the begin and end of a scene.
#pragma once

#include "client/constants.h"
#include "client/hudmath.h"

#include <irrlicht.h>

#include <cstdint>
#include <list>
#include <memory>

class HudCanvas;
class Object;
class Ship;
class Weapon;

class Hud {
public:
    // Colour-keys the atlas (texture 7), creates the player's radar column
    // from created mesh 2 and places the radar terrain (globals'
    // radarTerrainNode, when it and the height map exist) in the shadow
    // world. Throws Exception "Can't create radar cylinder node!" when the
    // column cannot be made. `canvas` receives the 2-D drawing and must
    // outlive the HUD; null draws through globals.driver.
    explicit Hud(HudCanvas* canvas = nullptr);
    // Removes the radar column from the scene.
    virtual ~Hud();
    Hud(const Hud&) = delete;
    Hud& operator=(const Hud&) = delete;

    // Per frame, in this order, after the cockpit camera has moved and
    // before the particles: each renders its picture into its texture and
    // leaves the back buffer as the render target and globals.mainCamera as
    // the active camera on every path, even when it renders nothing.
    void renderTorpedoView();  // texture 10, from the tracked torpedo's camera
    void update3D();           // texture 11, the 3-D radar
    void renderTargetView();   // texture 12, the current target alone

    // Right after the scene is drawn: orientation, centre cross, compass,
    // pitch ladder, horizon, contact markers, gauges. Writes currentTarget
    // and every other ship's on-radar flag it reaches.
    void draw();
    // After the cockpit models: the lower panel, then the 2-D radar.
    void drawTargetAndRadar();

    // Called before `ship` is deleted: the HUD keeps no pointer to it.
    void forgetShip(Ship* ship);

    // The target the contact markers found last frame; null when none.
    Ship* getCurrentTarget() const { return currentTarget; }
    // Attitude of the player as of the last draw (degrees).
    float getHeading() const { return heading; }
    float getPitch() const { return pitch; }
    float getRoll() const { return roll; }

    // The first torpedo launcher of `weapons` in list order; a null entry
    // ends the walk (complete false).
    static hudmath::LauncherState launcherState(const std::list<Weapon*>& weapons);

private:
    void readScreen();
    void drawCompass();
    void drawPitchLadder();
    void drawHorizon();
    void drawContactMarkers();
    void drawGauges();
    void drawTargetPanel();
    void drawRadar();
    // Places one radar marker for `object` in the shadow world and appends
    // it to `markers`; nothing for a null node.
    void updateRadarMarker(const Object& object, irr::scene::ISceneNode* node,
                           std::list<irr::scene::ISceneNode*>& markers, float extraHeight);
    void placeRadarTerrain();

    // Atlas sprites and font 1 texts; skipped when the atlas or font is missing.
    void sprite(const hudmath::Sprite& sprite, irr::video::SColor colour = hudmath::kWhite);
    void text(const hudmath::HudText& text);
    // A rendered picture scaled into its panel rectangle; skipped when the
    // texture is missing.
    void view(irr::s32 textureId, const hudmath::PanelRect& rect, int32_t textureSize);
    static irr::video::ITexture* texture(irr::s32 id);
    static irr::scene::ICameraSceneNode* mainCameraNode();
    // The engine's virtual time in ms.
    static uint32_t deviceTime();
    irr::core::position2di centre() const { return {screenHalfWidth, screenHalfHeight}; }
    irr::core::position2di bottom() const { return {screenHalfWidth, screenHeight}; }
    const hudmath::HudLayout& layout() const { return hudmath::layoutForWidth(screenWidth); }

    irr::core::matrix4 playerRotation;  // identity until the first draw
    irr::core::matrix4 playerRotationInverse;
    float heading = 0.0f;  // [0, 360)
    float pitch = 0.0f;    // positive with the nose down
    float roll = 0.0f;
    const std::list<Weapon*>* playerWeapons = nullptr;  // the player's weapons, refreshed by draw
    Ship* currentTarget = nullptr;                      // cleared by forgetShip before the ship goes
    float radarRange = 360.0f;
    float radarRangeSquared = RADAR_RANGE_SQUARED;
    int32_t screenWidth = 0;  // pixels, read by each draw
    int32_t screenHeight = 0;
    int32_t screenHalfWidth = 0;
    int32_t screenHalfHeight = 0;
    int32_t leftSonarCentre = 0;                          // centre texel of texture 13 (128)
    int32_t rightSonarCentre = 0;                         // centre texel of texture 14
    irr::video::SColor viewColours[4];                    // the pictures' corner tints: half opacity
    irr::scene::IMeshSceneNode* radarCylinder = nullptr;  // the scene owns it; removed by the destructor

    std::unique_ptr<HudCanvas> ownCanvas;  // the driver's, when none was given
    HudCanvas* canvas;
};

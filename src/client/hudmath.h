// The HUD's arithmetic, free of the scene, the driver and the globals: the
// per-width layout table, the atlas's sprite rectangles, and every rule that
// turns the player's attitude, the contacts and the panel's data into
// sprites, lines and texts at pixel positions. Hud (hud.h) reads the game and
// draws what these functions return.
//
// Screen coordinates are pixels, x to the right and y down; a rectangle's
// second corner is exclusive. Angles are degrees unless a name says
// otherwise; degrees become radians with the game's own factor
// (GAME_DEGTORAD, constants.h). Every float that becomes a pixel goes through
// truncToInt, so a non-finite value never reaches an integer conversion.
#pragma once

#include <SColor.h>
#include <dimension2d.h>
#include <irrTypes.h>
#include <matrix4.h>
#include <position2d.h>
#include <rect.h>
#include <vector3d.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hudmath {

using irr::core::position2di;
using irr::core::recti;
using irr::core::vector3df;
using irr::video::SColor;

// Truncation towards zero, defined for every float: NaN gives 0 and values
// beyond ±2^24 are clamped there, far outside any screen or texture.
int32_t truncToInt(float value);

// ---------------------------------------------------------------------------
// Layout

// An element's place relative to its anchor: offset and size in pixels.
struct PanelRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct Offset {
    int32_t x;
    int32_t y;
};

// The pixel offsets of every 2-D element for one screen width. The
// instruments' offsets are added to the screen centre, the panel's and the
// radars' to the bottom centre.
struct HudLayout {
    int32_t compassY;
    Offset pitchLadder;
    Offset gauges;
    PanelRect panelFrame;
    PanelRect radarImage;  // the 3-D radar's picture
    PanelRect torpedoView;
    PanelRect targetView;
    PanelRect leftRadar;   // 360 units
    PanelRect rightRadar;  // 180 units
};

// The layout for 800 or 1024 pixels; at any other width every offset and
// size is 0, so each element sits at its anchor (the panel's pictures and
// the radars' windows are then empty).
const HudLayout& layoutForWidth(int32_t screenWidth);

// ---------------------------------------------------------------------------
// Atlas and colours

// Source rectangles in the HUD atlas (texture 7).
namespace atlas {
const recti kCentreCross(168, 99, 201, 132);
const recti kCompassIndex(482, 0, 497, 8);
const recti kPitchIndex(486, 14, 494, 29);
const recti kContactBracket(385, 66, 417, 98);
const recti kTargetLocked(202, 100, 248, 146);
const recti kTargetNotLocked(249, 100, 295, 146);
const recti kLeadIndicator(482, 40, 498, 56);
const recti kTorpedoCrosshair(482, 56, 493, 67);
const recti kSteeringDot(494, 58, 501, 65);
const recti kCornerTopLeft(482, 68, 488, 74);
const recti kCornerTopRight(489, 68, 495, 74);
const recti kCornerBottomLeft(482, 75, 488, 81);
const recti kCornerBottomRight(489, 75, 495, 81);
}  // namespace atlas

const SColor kGreen(255, 0, 255, 0);
const SColor kYellow(255, 255, 255, 0);
const SColor kRed(255, 255, 0, 0);
const SColor kWhite(255, 255, 255, 255);
const SColor kBlack(255, 0, 0, 0);
const SColor kPanelShade(128, 0, 0, 0);
// The tint of the picture-in-picture images and radar windows: half opacity.
const SColor kViewColour(128, 255, 255, 255);
const SColor kSteeringLine(128, 255, 255, 0);

// An atlas (or texture) part drawn at its own size, top-left corner at `at`.
struct Sprite {
    position2di at;
    recti source;
};

struct Line {
    position2di from;
    position2di to;
};

struct HudText {
    position2di at;
    std::wstring text;
    SColor colour;
};

// The text as swprintf writes it into a buffer of 100 wide characters
// (longer output is cut there). Wide arguments take %ls.
std::wstring formatText(const wchar_t* format, ...);

// ---------------------------------------------------------------------------
// Player orientation and the instruments

// The strips hold 96 pixels per 45 degrees: 32/15 in single precision.
constexpr float kStripPixelsPerDegree = 2.1333334f;

struct Attitude {
    irr::core::matrix4 rotation;  // of the player's rotation in degrees
    irr::core::matrix4 inverse;
    float heading = 0.0f;  // [0, 360), 0 facing +z, 90 facing +x
    float pitch = 0.0f;    // positive with the nose down
    float roll = 0.0f;
};

// A non-finite angle comes out as 0; the sine of the pitch is held within
// [-1, 1] so that a nose straight up or down gives ±90, never NaN.
Attitude attitudeFromRotation(const vector3df& rotationDegrees);

Sprite centreCross(position2di centre);
Sprite compassStrip(float heading, position2di centre, const HudLayout& layout);
Sprite compassIndex(position2di centre, const HudLayout& layout);
Sprite pitchLadder(float pitch, position2di centre, const HudLayout& layout);
Sprite pitchIndex(position2di centre, const HudLayout& layout);
// The two halves of the horizon bar and the two wings, in drawing order.
std::array<Line, 10> horizonLines(float roll, float pitch, position2di centre);

// What the gauges read of the player's ship.
struct GaugeInput {
    vector3df position;
    std::optional<float> groundHeight;  // the height map's height under the ship, when there is a map
    vector3df velocity;
    vector3df direction;  // the ship's nose, unit length
    float mass = 0.0f;
    vector3df thrustInput;
    bool engineOn = false;
    float maxForwardThrust = 0.0f;  // the second tuning value
};

// The six gauge texts top to bottom; without a ground height the second
// (height above ground) is left out and the others keep their rows.
std::vector<HudText> gaugeTexts(const GaugeInput& input, position2di centre, const HudLayout& layout);

// ---------------------------------------------------------------------------
// Contact markers

// Where getScreenCoordinatesFrom3DPosition puts a point it cannot project.
constexpr int32_t kNotOnScreen = -10000;

// The screen position of a world point as the engine's
// getScreenCoordinatesFrom3DPosition computes it for a view-projection
// matrix (projection × view) and screen size: (-10000, -10000) behind the
// camera. Unlike the engine it is defined everywhere: a non-finite point
// cannot be projected, and a point just off the camera's plane, whose
// quotient would overflow the engine's rounding, is clamped far off the
// screen.
position2di projectToScreen(const irr::core::matrix4& viewProjection, const vector3df& point,
                            const irr::core::dimension2d<irr::u32>& screen);

// What the markers know of the player's first torpedo launcher
// (Hud::launcherState walks the weapons).
struct LauncherState {
    bool hasLauncher = false;
    bool locked = false;   // the first launcher's lock flag
    bool complete = true;  // false when a null entry ended the walk
};

enum class ContactMark {
    None,           // behind the camera and not the target: nothing, flag kept
    Arrow,          // the off-screen arrow, flag kept
    OffRadar,       // out of range or hidden: flag off, the target moves on
    Bracket,        // flag on, the 32 x 32 bracket
    TargetBracket,  // flag on, the 46 x 46 bracket, hull bar and lead indicator
};

// The decision for one other ship. `visible` (no terrain between the player
// and the ship) is asked only when the ship is not skipped for lying behind
// the camera, since it costs a collision query.
template <typename VisibleTest>
ContactMark contactMark(position2di screen, bool targeted, float distanceSquared, float rangeSquared,
                        int32_t screenWidth, int32_t screenHeight, bool hasLauncher, VisibleTest&& visible) {
    if (screen.X == kNotOnScreen && !targeted) {
        return ContactMark::None;
    }
    const bool seen = visible();
    const bool onScreen = screen.X != kNotOnScreen && screen.X >= 0 && screen.X <= screenWidth &&
                          screen.Y >= 0 && screen.Y <= screenHeight;
    const bool inRange = distanceSquared < rangeSquared;  // NaN: out of range
    if (!onScreen && targeted && inRange && seen) {
        return ContactMark::Arrow;
    }
    if (!inRange || !seen) {
        return ContactMark::OffRadar;
    }
    return targeted && hasLauncher ? ContactMark::TargetBracket : ContactMark::Bracket;
}

Sprite contactBracket(position2di screen);
Sprite targetBracket(position2di screen, bool locked);
// Ten steps of 4 pixels growing upwards from sy + 19. A full hull (whose
// rule gives 11 steps, reaching above the atlas) shows 10; a hull whose rule
// gives less than 1 step (a negative hull, a maximum of 0, NaN) shows none.
std::optional<Sprite> hullBar(position2di screen, float hull, float maxHull);
Sprite leadIndicator(position2di aimScreen);
// The hollow triangle pointing from the centre towards a target off the
// screen, its tip 100 pixels out: tip to right corner, tip to left corner,
// right to left corner. `inverseRotation` turns the world direction into the
// ship's frame.
std::array<Line, 3> offScreenArrow(const irr::core::matrix4& inverseRotation, const vector3df& player,
                                   const vector3df& target, position2di centre);

// ---------------------------------------------------------------------------
// 3-D radar

// The radar's shadow world lies this far below the real one.
constexpr float kShadowDepth = 20000.0f;

// A column of a created mesh (height 2, radius 1, centred on its node).
struct Column {
    vector3df position;
    vector3df scale;
};

// The player's yellow column: from the shadow of the ground under the player
// to the shadow of the player, radius 15.
Column playerColumn(const vector3df& player, float groundHeight);
// A contact's column, `extraHeight` taller in half-height; it narrows
// linearly to 0.02 as the contact lies up to 750 units towards -z of the
// player (world z, whatever the heading).
Column contactColumn(const vector3df& contact, float groundHeight, float extraHeight, float playerZ);

// Camera::update's arguments for the sonar camera: 750 behind and 50 above a
// point 150 above the shadow ground under the player, level, along the
// heading.
struct CameraPose {
    vector3df offset;
    vector3df position;
    vector3df rotation;
};
CameraPose sonarCameraPose(const vector3df& player, float groundHeight, float heading);

// Torpedo markers and dots are shown in odd 200 ms periods of the device time.
bool torpedoBlinkOn(uint32_t deviceTimeMs);

// Position y and height scale of the radar terrain so that each of its
// points lies kShadowDepth below the real terrain's point. Its image holds
// every fourth height sample of the map, stretched so that the lowest of
// them is grey 0 and the highest grey 255; `lowest` and `highest` are those
// samples' world heights.
struct ShadowTerrain {
    float positionY;
    float heightScale;
};
ShadowTerrain shadowTerrain(float lowest, float highest);

// The target camera's distance behind the target: 1.5 × its largest extent.
float targetCameraDistance(const vector3df& targetSize);

// ---------------------------------------------------------------------------
// Lower panel and 2-D radar
//
// Halves of widths and heights that place a sprite, a line or a rectangle
// (w/2, wo/2 ...) are integer divisions; a product divided by 2 (the
// steering's sin × wo / 2, the plot's w × q.x / 2 / 360) is evaluated in
// float and truncated once.

// A rectangle of the layout placed at the bottom centre.
recti panelArea(const PanelRect& rect, position2di bottom);
// The four corner sprites of a framed element: top left, top right, bottom
// left, bottom right.
std::array<Sprite, 4> frameCorners(const PanelRect& rect, position2di bottom);

// The crosshair, steering line and steering dot over the torpedo view;
// `aimDegrees` is the torpedo's steering (Torpedo::getAim).
struct TorpedoViewMarks {
    Sprite crosshair;
    Line steering;
    Sprite dot;
};
TorpedoViewMarks torpedoViewMarks(const HudLayout& layout, position2di bottom, const vector3df& aimDegrees);
// "Dist:" and the distance to the torpedo's target, above the torpedo view.
std::array<HudText, 2> torpedoDistanceTexts(const HudLayout& layout, position2di bottom, float distance);

// The target's data around the panel, in drawing order.
struct TargetData {
    std::wstring className;
    std::wstring registration;
    float distance = 0.0f;  // from the player
    float y = 0.0f;         // the target's position y
    float speed = 0.0f;     // length of its velocity
};
std::vector<HudText> targetTexts(const HudLayout& layout, position2di bottom, const TargetData& data);

// A contact's offsets from a radar's centre, in pixels (x right, y ahead),
// on the left (360 units) and the right (180 units) radar; empty when
// outside that radar's square.
struct RadarPlot {
    std::optional<Offset> left;
    std::optional<Offset> right;
};
RadarPlot plotContact(const vector3df& player, float heading, const vector3df& contact, int32_t windowWidth,
                      int32_t windowHeight, float radarRange);
// The 2 x 2 texels of a dot `offset` from a texture's centre texel; some
// may lie outside the texture (texelInside tells).
std::array<position2di, 4> radarDot(int32_t centre, Offset offset);
// Whether setPixel may write `texel` of a buffer of `size`: inside it, and
// within the 16-bit coordinates setPixel takes.
bool texelInside(position2di texel, const irr::core::dimension2d<irr::u32>& size);
// A radar texture's window: the part about its centre, drawn at the
// element's place.
Sprite radarWindow(const PanelRect& rect, position2di bottom, int32_t centre);
// "360m" or "180m" under a radar window.
HudText radarLabel(const PanelRect& rect, position2di bottom, const wchar_t* label);

}  // namespace hudmath

// The game's constants, shared by every client source file.
#pragma once

#include <vector3d.h>

#include <cstdint>

// Frame pacing: at most 50 frames a second.
constexpr int32_t FRAME_TIME_MS = static_cast<int32_t>(1000 / 50.0);

// Terrain node scale along x and z, its height scale, and its position; the
// physics level body and the height map follow the same figures.
constexpr float TERRAIN_SCALE_XZ = 20.0f;
constexpr float TERRAIN_SCALE_Y = 0.25f;
const irr::core::vector3df TERRAIN_POSITION(0.0f, -12000.0f, 0.0f);

// 2-D radar range, squared (360 units).
constexpr float RADAR_RANGE_SQUARED = 129600.0f;

// Angular damping of the ship classes and of the torpedo body.
const irr::core::vector3df SCOUT_ANGULAR_DAMPING(0.05f, 0.05f, 0.05f);
const irr::core::vector3df BOMBER1_ANGULAR_DAMPING(0.05f, 0.05f, 0.05f);
const irr::core::vector3df BOMBER2_ANGULAR_DAMPING(0.05f, 0.05f, 0.05f);
const irr::core::vector3df TORPEDO_ANGULAR_DAMPING(0.95f, 0.95f, 0.95f);

// The game's own degree and radian factors, from a single-precision pi of
// 3.14159 (0.017453279 and 57.295826), not the engine's.
constexpr float GAME_PI = 3.14159f;
constexpr float GAME_DEGTORAD = GAME_PI / 180.0f;
constexpr float GAME_RADTODEG = 180.0f / GAME_PI;

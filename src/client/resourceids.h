// The resource handler's ids, by table. Ids are unique within a table and
// independent between tables: CREATED_MESH_RADAR_WHITE and TEXTURE_BULLET are
// both 1 and unrelated. Every caller names a resource by one of these; the
// handler's tables in resourcehandler.cpp are the one place that ties an id to
// a file and its load settings.
#pragma once

#include <irrTypes.h>

// Created meshes (ResourceHandler::getCreatedMesh): the coloured cylinders
// that stand for contacts on the HUD's 3-D radar.
constexpr irr::s32 CREATED_MESH_RADAR_WHITE = 1;
constexpr irr::s32 CREATED_MESH_RADAR_YELLOW = 2;  // the radar's own cylinder
constexpr irr::s32 CREATED_MESH_RADAR_RED = 3;
constexpr irr::s32 CREATED_MESH_RADAR_GREEN = 4;
constexpr irr::s32 CREATED_MESH_RADAR_BLUE = 5;  // made, but nothing draws it
constexpr irr::s32 CREATED_MESH_RADAR_ORANGE = 6;

// Loaded meshes (ResourceHandler::getMesh), in load order. The cockpit and
// its two guns get textures without mip-maps, the others with.
constexpr irr::s32 MESH_COCKPIT = 7;
constexpr irr::s32 MESH_GUN_LEFT = 8;
constexpr irr::s32 MESH_GUN_RIGHT = 9;
constexpr irr::s32 MESH_SCOUT = 10;
constexpr irr::s32 MESH_BOMBER1 = 11;
constexpr irr::s32 MESH_BOMBER2 = 12;
constexpr irr::s32 MESH_TRASH1 = 13;  // debris, three shapes
constexpr irr::s32 MESH_TRASH2 = 14;
constexpr irr::s32 MESH_TRASH3 = 15;
constexpr irr::s32 MESH_TORPEDO = 16;
constexpr irr::s32 MESH_STATION = 17;
constexpr irr::s32 MESH_STATION_DOOR1 = 18;
constexpr irr::s32 MESH_STATION_DOOR2 = 19;
constexpr irr::s32 MESH_SHOCKWAVE = 20;  // explosion shock wave of the particle effects
constexpr irr::s32 MESH_SPOTLIGHT = 21;  // a ship's light beam

// Textures (ResourceHandler::getTexture). 8 and 9 hold nothing.
constexpr irr::s32 TEXTURE_BULLET = 1;      // bullet sprite, colour-keyed
constexpr irr::s32 TEXTURE_GUN_MUZZLE = 2;  // muzzle flash sprite, colour-keyed
constexpr irr::s32 TEXTURE_FIRE = 3;        // fire, impact and explosion particles
constexpr irr::s32 TEXTURE_BUBBLE = 4;      // bubble particles and trails
constexpr irr::s32 TEXTURE_PARTICLE1 = 5;   // particles around the camera
constexpr irr::s32 TEXTURE_PARTICLE2 = 6;
constexpr irr::s32 TEXTURE_HUD_ATLAS = 7;     // every HUD image, cut by source rectangles
constexpr irr::s32 TEXTURE_TORPEDO_CAM = 10;  // render target, 128 x 128
constexpr irr::s32 TEXTURE_SONAR_CAM = 11;    // render target of the 3-D sonar view, 256 x 256
constexpr irr::s32 TEXTURE_TARGET_CAM = 12;   // render target of the current target, 128 x 128
constexpr irr::s32 TEXTURE_SONAR_LEFT = 13;   // 2-D sonar image, left half, 256 x 256 ARGB
constexpr irr::s32 TEXTURE_SONAR_RIGHT = 14;  // 2-D sonar image, right half, 256 x 256 ARGB
constexpr irr::s32 TEXTURE_MENU_BUTTON = 15;  // loaded first, read by nothing

// Fonts (ResourceHandler::getFont).
constexpr irr::s32 FONT_HUD = 1;   // 8 pixels: gauges, target panel, 2-D radar
constexpr irr::s32 FONT_MENU = 2;  // 10 pixels: the menu's login form

// Sound samples (ResourceHandler::getSound).
constexpr irr::s32 SOUND_SHIP_ENGINE = 1;  // 3-D, looping
constexpr irr::s32 SOUND_GUN_SHOT = 2;
constexpr irr::s32 SOUND_TORPEDO_LAUNCH = 3;  // 2-D
constexpr irr::s32 SOUND_TORPEDO_ENGINE = 4;  // 3-D, looping
constexpr irr::s32 SOUND_EXPLOSION_SMALL = 5;
constexpr irr::s32 SOUND_EXPLOSION_LARGE = 6;
constexpr irr::s32 SOUND_COLLISION = 7;

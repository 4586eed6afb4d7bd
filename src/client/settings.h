// The ini file's [GeneralGraphics] settings beyond the window's (those are
// start-up's, startup.h): fog, clear colour and the terrain's texture
// scales, as the game applies them and start-up writes them before the menu.
#pragma once

#include <SColor.h>

class IniFile;

// The clear colour when the file has none: the menu's, which the menu writes
// before any game can read the value, and the game's own.
const irr::video::SColor MENU_CLEAR_COLOR(255, 0, 24, 64);
const irr::video::SColor GAME_CLEAR_COLOR(255, 0, 8, 16);

struct GraphicsSettings {
    irr::video::SColor fogColor;
    bool fogIsLinear;  // "FogIsLinear" is exactly "True"; otherwise exponential fog
    float fogStart;
    float fogEnd;
    float fogDensity;
    irr::video::SColor clearColor;
    float terrainTextureScale1;
    float terrainTextureScale2;
};

// Reads, in this order, "FogColor" (0,8,16,255), "FogIsLinear" ("True"),
// "FogStart" (10), "FogEnd" (250), "FogDensity" (1), "ClsColor"
// (clearDefault), "TerrainTextureScale1" (40) and "TerrainTextureScale2"
// (80); a missing or unusable value is written with its default.
GraphicsSettings readGraphicsSettings(IniFile& ini, irr::video::SColor clearDefault);

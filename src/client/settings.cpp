#include "client/settings.h"

#include "client/inifile.h"

namespace {

const char* const kSection = "GeneralGraphics";

}  // namespace

GraphicsSettings readGraphicsSettings(IniFile& ini, irr::video::SColor clearDefault) {
    GraphicsSettings settings;
    settings.fogColor = ini.getColor(kSection, "FogColor", irr::video::SColor(255, 0, 8, 16));
    settings.fogIsLinear = ini.getString(kSection, "FogIsLinear", "True") == "True";
    settings.fogStart = ini.getFloat(kSection, "FogStart", 10.0f);
    settings.fogEnd = ini.getFloat(kSection, "FogEnd", 250.0f);
    settings.fogDensity = ini.getFloat(kSection, "FogDensity", 1.0f);
    settings.clearColor = ini.getColor(kSection, "ClsColor", clearDefault);
    settings.terrainTextureScale1 = ini.getFloat(kSection, "TerrainTextureScale1", 40.0f);
    settings.terrainTextureScale2 = ini.getFloat(kSection, "TerrainTextureScale2", 80.0f);
    return settings;
}

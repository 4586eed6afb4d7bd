// The media files the menu and the game hand to the engine themselves: the
// terrains' height images and raw map, their textures and the grass images.
// The engine's loaders trust their input (a cut JPEG hangs the decoder), so
// each file must match the media's manifest first; one that does not is
// treated as missing.
#pragma once

#include "client/mediamanifest.h"

#include <irrlicht.h>

// Terrain textures both the menu's and the game's terrain wear.
inline const char* const kRockTexture = "media/terrain/rockground.jpg";
inline const char* const kDetailTexture = "media/terrain/detailmap3.jpg";
inline const char* const kGrassTexture = "media/terrain/grass.png";

class GameMedia {
public:
    // Reads media/manifest.txt of the working directory.
    GameMedia();

    // The file ("media/terrain/t33x33.jpg") matches its manifest line.
    bool intact(const char* path) const;
    // The driver's texture of an intact file (loaded once, then found by
    // name); null otherwise. The driver owns it.
    irr::video::ITexture* texture(const char* path) const;
    // A new image of an intact file, one reference for the caller; null
    // otherwise.
    irr::video::IImage* image(const char* path) const;

private:
    MediaManifest manifest;
};

// The media files the menu and the game hand to the engine themselves: the
// terrains' height images and raw map, their textures, the grass images, the
// lighting shader's programs and the menu music. The engine's loaders trust
// their input (a cut JPEG hangs the decoder, a folder in a shader's place
// makes it ask for 2^63 bytes), so each file must match the media's manifest
// first; one that does not ends the game as a file the engine cannot load
// does, with an Exception "Can't load <kind>: '<path>'!".
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
    // Throws the Exception of `kind` ("shader") unless the file is intact.
    void require(const char* kind, const char* path) const;
    // The driver's texture of an intact file (loaded once, then found by
    // name); the driver owns it. Throws the Exception of `kind` when the file
    // is not intact or the driver cannot load it.
    irr::video::ITexture* texture(const char* kind, const char* path) const;
    // A new image of an intact file, one reference for the caller. Throws as
    // texture() does.
    irr::video::IImage* image(const char* kind, const char* path) const;

private:
    MediaManifest manifest;
};

// The terrain's raw height file, read once per game, answering height
// queries at world positions: the HUD's height above ground and radar
// contacts, and the grass growth (through IHeightSource).
//
// File: no header; side x side samples, row i the grid's x index (world
// x = 20 i), sample j within it the z index (world z = 20 j); each sample one
// unsigned byte or two bytes low byte first. The side follows from the
// sample width alone: 257 for two-byte samples, 363 for one-byte ones.
#pragma once

#include "client/engine/IHeightSource.h"

#include <irrlicht.h>

#include <cstdint>
#include <vector>

class HeightMap : public tarnwell::scene::IHeightSource {
public:
    // Reads `path` with bitsPerSample / 8 bytes per sample (the division
    // truncating): 8 to 15 bits read one byte, 16 to 23 two. A file that
    // cannot be opened or read, or any other width, leaves an empty map
    // (side 0). A short file reads as far as it goes; the missing samples
    // are 0.
    HeightMap(const char* path, int32_t bitsPerSample);
    ~HeightMap() override;

    // World height under position.X, position.Z (Y is not read): the samples
    // x 0.25, blended bilinearly, minus 12000; exactly sample(i, j) x 0.25 -
    // 12000 at (20 i, y, 20 j). Off the map, infinities included, the nearest
    // point of the map's edge answers; a NaN coordinate reads as 0. An empty
    // map answers -12000 everywhere. A query at the x and z of the last
    // computed one returns its height without blending again.
    irr::f32 getHeight(const irr::core::vector3df& position) override;
    // Side of the sample grid; 0 for an empty map.
    irr::s32 getSize() const override;

private:
    std::vector<uint16_t> samples;  // side x side, sample (i, j) at i * side + j
    int32_t bytesPerSample = 0;     // 1 or 2; 0 for an empty map
    int32_t side = 0;
    bool hasCachedHeight = false;   // set by the first computed query
    irr::f32 cachedHeight = 0.0f;   // valid when hasCachedHeight
    irr::core::vector3df lastQuery;  // position of the query cachedHeight answers
};

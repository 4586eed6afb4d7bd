// Free functions shared by the client: projectile lead (computeInterceptPoint,
// pure arithmetic kept in weaponmath.h), the radar's cylinder mesh, a 32-bit
// pixel buffer, the loading text frame, and the memory and processor figures
// of the start-up log, the grass patches' material.
#pragma once

#include "client/weaponmath.h"

#include <irrlicht.h>

#include <cstdint>
#include <type_traits>

// A coloured open cylinder of height 2 (y from +1 to -1) in one mesh buffer;
// the caller owns one reference. Null below 2 segments or rings, or when the
// 16-bit indices would not reach every vertex.
irr::scene::IMesh* createCylinderMesh(irr::video::SColor color, int32_t segments, int32_t rings,
                                      float radius);

// A caller-owned buffer of width × height pixels, 4 bytes each, rows without
// padding; bytes in a pixel are blue, green, red, alpha.
void clearPixelBuffer(void* buffer, irr::core::dimension2d<irr::s32> size);
// No bounds test: the caller keeps x < width and y < height.
void setPixel(void* buffer, irr::core::dimension2d<irr::s32> size, irr::u16 x, irr::u16 y,
              irr::video::SColor color);

// The same with the unsigned size the engine's images and textures report
// (getDimension, getOriginalSize), so a locked texture is passed as it
// stands. Templates, so that a braced {width, height} still means the
// signed form above.
template <typename T, std::enable_if_t<std::is_same_v<T, irr::u32>, int> = 0>
void clearPixelBuffer(void* buffer, const irr::core::dimension2d<T>& size) {
    clearPixelBuffer(buffer, irr::core::dimension2d<irr::s32>(size));
}
template <typename T, std::enable_if_t<std::is_same_v<T, irr::u32>, int> = 0>
void setPixel(void* buffer, const irr::core::dimension2d<T>& size, irr::u16 x, irr::u16 y,
              irr::video::SColor color) {
    setPixel(buffer, irr::core::dimension2d<irr::s32>(size), x, y, color);
}

// One frame cleared to black with the info text set to the text; nothing
// unless the driver, the GUI, the info text and the text are all there.
// Gives a new grass patch its material (alpha-blended blades, fogged, lit only
// where the scene has lights for it) and hands it to the scene, which keeps it.
void finishGrassPatch(irr::scene::ISceneNode* patch, irr::video::ITexture* grass, bool lit);

void showLoadingText(const wchar_t* text);

// Available texture memory in bytes; 0 here (no such figure under OpenGL).
int32_t getVideoMemory();
// Processor clock in MHz, 0 when unknown.
int32_t getCpuMhz();
// Physical memory in bytes, each clamped to 2147483647.
void getMemoryStatus(uint32_t& total, uint32_t& available);
// "Available video memory: %d", "Available system memory: %d",
// "Total system memory: %d" to the game log.
void logMemoryStatus();

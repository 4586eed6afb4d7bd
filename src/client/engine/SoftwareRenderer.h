// Which renderer stands behind the driver. A rasteriser on the processor
// cannot afford everything a graphics card does in passing: its anisotropic
// texture filtering, for one, can spend seconds to minutes on one frame
// (seen with the ships' light beams), so the game leaves that filter off
// there.
#pragma once

#include <irrlicht.h>

#include <string>

namespace tarnwell {
namespace video {

// The OpenGL renderer's name (GL_RENDERER) for an OpenGL driver whose
// context is current; empty for every other driver.
std::string rendererName(irr::video::IVideoDriver* driver);

// True when the name is one of the processor-only renderers: Mesa's
// llvmpipe, softpipe and swrast ("Software Rasterizer"), Windows' "GDI
// Generic" and "Microsoft Basic Render Driver". Case-insensitive.
bool isSoftwareRenderer(const std::string& name);

}  // namespace video
}  // namespace tarnwell

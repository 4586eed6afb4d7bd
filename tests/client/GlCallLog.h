// A recording seam under the engine's OpenGL driver. The test binary defines
// glBlendFunc and glDrawElements itself, so the engine's library calls these
// first; each goes on to the real OpenGL. While a GlCallLog lives, it keeps
// every blend function set and, at every draw, the blend and depth-write
// state the draw runs with: what a material renderer leaves in the driver,
// observed without asking the renderer.
#pragma once

#include <cstdint>
#include <vector>

namespace clienttest {

struct GlBlendFunc {
    uint32_t source;
    uint32_t destination;
};

struct GlDrawState {
    bool blend;            // GL_BLEND enabled
    uint32_t source;       // GL_BLEND_SRC
    uint32_t destination;  // GL_BLEND_DST
    bool depthWrite;       // GL_DEPTH_WRITEMASK
};

// One at a time; needs a current OpenGL context for the draws it records.
class GlCallLog {
public:
    GlCallLog();
    ~GlCallLog();
    GlCallLog(const GlCallLog&) = delete;
    GlCallLog& operator=(const GlCallLog&) = delete;

    std::vector<GlBlendFunc> blendFuncs;
    std::vector<GlDrawState> draws;
};

}  // namespace clienttest

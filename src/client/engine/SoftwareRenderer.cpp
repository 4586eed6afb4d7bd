#include "client/engine/SoftwareRenderer.h"

#include <GL/gl.h>

#include <algorithm>
#include <cctype>

namespace tarnwell {
namespace video {

std::string rendererName(irr::video::IVideoDriver* driver) {
    if (driver == nullptr || driver->getDriverType() != irr::video::EDT_OPENGL) {
        return std::string();
    }
    const GLubyte* name = glGetString(GL_RENDERER);
    return name != nullptr ? std::string(reinterpret_cast<const char*>(name)) : std::string();
}

bool isSoftwareRenderer(const std::string& name) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* software :
         {"llvmpipe", "softpipe", "software rasterizer", "swrast", "gdi generic", "microsoft basic render"}) {
        if (lower.find(software) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace video
}  // namespace tarnwell

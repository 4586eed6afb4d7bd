// Finiteness of the engine's value types. The game and its engine additions
// check values with these before they reach a scene node, a physics body or
// the sound layer: one NaN there spreads through everything it touches.
#pragma once

#include <aabbox3d.h>
#include <dimension2d.h>
#include <irrTypes.h>
#include <matrix4.h>
#include <vector2d.h>
#include <vector3d.h>

#include <cmath>

namespace tarnwell {

inline bool isFinite(irr::f32 value) {
    return std::isfinite(value);
}

inline bool isFinite(const irr::core::vector3df& v) {
    return std::isfinite(v.X) && std::isfinite(v.Y) && std::isfinite(v.Z);
}

inline bool isFinite(const irr::core::vector2df& v) {
    return std::isfinite(v.X) && std::isfinite(v.Y);
}

inline bool isFinite(const irr::core::dimension2df& size) {
    return std::isfinite(size.Width) && std::isfinite(size.Height);
}

inline bool isFinite(const irr::core::aabbox3df& box) {
    return isFinite(box.MinEdge) && isFinite(box.MaxEdge);
}

inline bool isFinite(const irr::core::matrix4& m) {
    for (irr::u32 i = 0; i < 16; ++i) {
        if (!std::isfinite(m[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnwell

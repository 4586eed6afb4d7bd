// Small value helpers shared by the particle emitters and affectors.
#pragma once

#include "client/engine/Finite.h"

#include <SColor.h>
#include <irrTypes.h>

#include <cmath>

namespace tarnwell {
namespace scene {

// Every channel (alpha, red, green, blue) as a x d + b x (1 - d), truncated,
// for d in [0, 1]. Written as b + (a - b) x d, which is exact at d = 0 and
// for equal channels, where the product form can fall just below the value
// and truncate one step down.
inline irr::video::SColor blendColor(const irr::video::SColor& a, const irr::video::SColor& b, irr::f32 d) {
    const auto channel = [d](irr::u32 from, irr::u32 to) {
        return static_cast<irr::u32>(static_cast<irr::f32>(to) +
                                     (static_cast<irr::f32>(from) - static_cast<irr::f32>(to)) * d);
    };
    return irr::video::SColor(channel(a.getAlpha(), b.getAlpha()), channel(a.getRed(), b.getRed()),
                              channel(a.getGreen(), b.getGreen()), channel(a.getBlue(), b.getBlue()));
}

}  // namespace scene
}  // namespace tarnwell

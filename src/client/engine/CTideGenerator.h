// The only tide generator: one-dimensional value noise over a coordinate
// that mixes the time with a slowly turning projection of the position,
// giving a sway direction from four octaves of noise and a sway length that
// swings with the same coordinate.
#pragma once

#include "client/engine/ITideGenerator.h"

namespace tarnwell {
namespace scene {

class CTideGenerator : public ITideGenerator {
public:
    // Both values 0 (no sway) until set; createTideGenerator sets them.
    CTideGenerator();

    void setAmplitude(irr::f32 amplitude) override;
    void setWaveLength(irr::f32 waveLength) override;
    // A pure function of the two values and the arguments. A non-finite
    // position gives (0, 0); a wave length of 0 leaves the noise at 0, so the
    // sway runs along X only.
    irr::core::vector2df getOffset(const irr::core::vector3df& position, irr::u32 timeMs) override;

    // The noise the offset is built from, public for the tests.
    // Hash of n to (-1, 1], with 32-bit wrap-around arithmetic.
    irr::f32 noise(irr::s32 n) const;
    // Cosine blend: a at t = 0, b at t = 1.
    irr::f32 interpolate(irr::f32 a, irr::f32 b, irr::f32 t) const;
    // noise(n) weighted 1/2 with its two neighbours weighted 1/4 each.
    irr::f32 smoothedNoise(irr::s32 n) const;
    // smoothedNoise blended between the integers around x, the integer part
    // truncated toward zero (so the fraction is negative for negative x); 0
    // for a non-finite x.
    irr::f32 interpolatedNoise(irr::f32 x) const;
    // Four octaves of interpolatedNoise, frequency doubling and weight
    // halving each time.
    irr::f32 perlinNoise(irr::f32 x) const;

private:
    irr::f32 amplitude;   // largest sway distance, world units
    irr::f32 waveLength;  // divides the coordinate before the noise
};

}  // namespace scene
}  // namespace tarnwell

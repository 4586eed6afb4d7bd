#include "client/engine/CTideGenerator.h"

#include <cmath>
#include <cstdint>

namespace tarnwell {
namespace scene {

namespace {

// The hash wraps around by design; unsigned arithmetic makes that defined.
irr::s32 wrapAdd(irr::s32 n, int32_t d) {
    return static_cast<irr::s32>(static_cast<uint32_t>(n) + static_cast<uint32_t>(d));
}

// Truncation toward zero, wrapped into 32 bits like the hash's arithmetic:
// a float beyond the int32 range is a whole number whose low 32 bits still
// select a lattice point, where a plain conversion would be undefined.
irr::s32 truncateWrapped(irr::f32 x) {
    return static_cast<irr::s32>(static_cast<uint32_t>(static_cast<int64_t>(std::fmod(x, 4294967296.0f))));
}

}  // namespace

CTideGenerator::CTideGenerator() : amplitude(0.0f), waveLength(0.0f) {}

void CTideGenerator::setAmplitude(irr::f32 value) {
    amplitude = value;
}

void CTideGenerator::setWaveLength(irr::f32 value) {
    waveLength = value;
}

irr::f32 CTideGenerator::noise(irr::s32 n) const {
    uint32_t u = static_cast<uint32_t>(n);
    u = (u << 13) ^ u;
    const uint32_t h = (u * (u * u * 15731u + 789221u) + 1376312589u) & 0x7fffffffu;
    return static_cast<irr::f32>(1.0 - h / 1073741824.0);
}

irr::f32 CTideGenerator::interpolate(irr::f32 a, irr::f32 b, irr::f32 t) const {
    const irr::f32 ft = t * 3.1415927f;
    const irr::f32 f = (1.0f - std::cos(ft)) * 0.5f;
    return a * (1.0f - f) + b * f;
}

irr::f32 CTideGenerator::smoothedNoise(irr::s32 n) const {
    return noise(n) / 2.0f + noise(wrapAdd(n, -1)) / 4.0f + noise(wrapAdd(n, 1)) / 4.0f;
}

irr::f32 CTideGenerator::interpolatedNoise(irr::f32 x) const {
    if (!std::isfinite(x)) {
        return 0.0f;
    }
    const irr::f32 whole = std::trunc(x);
    const irr::s32 i = truncateWrapped(whole);
    const irr::f32 fraction = x - whole;
    return interpolate(smoothedNoise(i), smoothedNoise(wrapAdd(i, 1)), fraction);
}

irr::f32 CTideGenerator::perlinNoise(irr::f32 x) const {
    irr::f32 total = 0.0f;
    irr::f32 frequency = 1.0f;
    irr::f32 weight = 1.0f;
    for (int32_t octave = 0; octave < 4; ++octave) {
        total += interpolatedNoise(x * frequency) * weight;
        frequency *= 2.0f;
        weight *= 0.5f;
    }
    return total;
}

irr::core::vector2df CTideGenerator::getOffset(const irr::core::vector3df& position, irr::u32 timeMs) {
    const irr::f32 time = static_cast<irr::f32>(timeMs);
    // The projection turns once every 2 pi x 120000 ms, so the fronts of the
    // sway sweep the ground from a slowly changing direction.
    const irr::f32 q = time / 120000.0f;
    const irr::f32 s = (time + std::cos(q) * (position.X * 7.0f) + std::sin(q) * (position.Z * 7.0f)) / 1000.0f;
    if (!std::isfinite(s)) {
        return irr::core::vector2df(0.0f, 0.0f);
    }
    const irr::f32 angle = perlinNoise(s / waveLength) * (2.0f * 3.14159f);
    const irr::f32 r = std::sin(s) * amplitude;
    return irr::core::vector2df(std::cos(angle) * r, std::sin(angle) * r);
}

ITideGenerator* createTideGenerator(irr::f32 amplitude, irr::f32 waveLength) {
    ITideGenerator* generator = new CTideGenerator();
    generator->setAmplitude(amplitude);
    generator->setWaveLength(waveLength);
    return generator;
}

}  // namespace scene
}  // namespace tarnwell

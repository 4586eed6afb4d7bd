// Random sources and settings shared by the particle tests.
#pragma once

#include "client/engine/ParticleEmission.h"
#include "client/engine/RandomSource.h"

#include <irrlicht.h>

#include <vector>

namespace particletest {

using irr::f32;
using irr::u32;
using tarnwell::scene::ParticleEmissionSettings;
using tarnwell::scene::SParticle;

// Gives the listed values in order, then repeats the last; counts the draws.
class ScriptedRandom : public tarnwell::scene::RandomSource {
public:
    explicit ScriptedRandom(std::vector<u32> values) : values(std::move(values)) {}
    u32 next() override {
        const u32 value = values.empty() ? 0 : values[draws < values.size() ? draws : values.size() - 1];
        ++draws;
        return value;
    }
    std::vector<u32> values;
    size_t draws = 0;
};

// Many varied, repeatable 31-bit draws; counts them.
class SequenceRandom : public tarnwell::scene::RandomSource {
public:
    explicit SequenceRandom(u32 seed = 1) : state(seed) {}
    u32 next() override {
        ++draws;
        state = state * 1103515245u + 12345u;
        return (state >> 1) & 0x7fffffffu;
    }
    u32 state;
    size_t draws = 0;
};

inline ParticleEmissionSettings settings(u32 minPerSecond, u32 maxPerSecond, u32 lifeMin, u32 lifeMax,
                                         irr::core::vector3df direction = irr::core::vector3df(),
                                         u32 maxAngle = 0) {
    ParticleEmissionSettings s;
    s.direction = direction;
    s.minParticlesPerSecond = minPerSecond;
    s.maxParticlesPerSecond = maxPerSecond;
    s.minStartColor = irr::video::SColor(10, 200, 30, 0);
    s.maxStartColor = irr::video::SColor(250, 20, 90, 255);
    s.minLifeTime = lifeMin;
    s.maxLifeTime = lifeMax;
    s.maxAngleDegrees = maxAngle;
    return s;
}

}  // namespace particletest

#include "client/engine/ParticleEmission.h"

#include "client/engine/ParticleMath.h"
#include "client/engine/RandomSource.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

using namespace irr;

namespace tarnwell {
namespace scene {

namespace {

// A draw from [low, high) of the two values in either order; equal values
// need no draw. Taking the order from the values keeps a reversed pair from
// wrapping the unsigned difference into a huge range.
u32 drawBetween(u32 a, u32 b) {
    const u32 low = std::min(a, b);
    const u32 high = std::max(a, b);
    return low == high ? low : low + random() % (high - low);
}

// fmod(r, extent) for a fresh draw r; an extent of 0 (a flat box, a point
// sphere, a thin ring) would make it NaN, so it gives 0. The draw is made
// either way, so the draws after it stay where they are.
f32 drawWrapped(f32 extent) {
    const f32 r = static_cast<f32>(random());
    return extent == 0.0f ? 0.0f : std::fmod(r, extent);
}

}  // namespace

u32 emissionBatch(u32& accumulatedMs, u32 elapsedMs, u32 minPerSecond, u32 maxPerSecond) {
    accumulatedMs += elapsedMs;
    const u32 rate = drawBetween(minPerSecond, maxPerSecond);
    // A rate of 0 has an infinite interval: nothing is ever due.
    if (rate == 0) {
        return 0;
    }
    const f32 interval = 1000.0f / static_cast<f32>(rate);
    const f32 time = static_cast<f32>(accumulatedMs);
    if (!(time > interval)) {
        return 0;
    }
    accumulatedMs = 0;
    // Bounded in double before the conversion: the quotient can exceed any
    // integer type when the rate and the gathered time are both large, and
    // twice the upper rate can exceed 32 bits. The count goes back as an s32.
    const f64 amount = std::floor(static_cast<f64>(time / interval + 0.5f));
    const f64 cap = 2.0 * static_cast<f64>(std::max(minPerSecond, maxPerSecond));
    return static_cast<u32>(std::min({amount, cap, static_cast<f64>(INT32_MAX)}));
}

void emitParticle(SParticle& particle, u32 nowMs, const core::vector3df& pos, core::vector3df vector,
                  bool spread, const ParticleEmissionSettings& settings) {
    const u32 maxAngle = settings.maxAngleDegrees;
    if (spread && maxAngle > 0) {
        // 64 bits: twice a large maximum angle overflows 32.
        const auto angle = [maxAngle]() {
            return static_cast<f64>(static_cast<int64_t>(random() % (2 * static_cast<uint64_t>(maxAngle))) -
                                    static_cast<int64_t>(maxAngle));
        };
        vector.rotateXYBy(angle());
        vector.rotateYZBy(angle());
        vector.rotateXZBy(angle());
    }
    const u32 life = drawBetween(settings.minLifeTime, settings.maxLifeTime);
    const f32 weight = static_cast<f32>(random() % 100) / 100.0f;

    particle.pos = pos;
    particle.vector = vector;
    particle.startTime = nowMs;
    particle.endTime = nowMs + life;
    particle.color = blendColor(settings.minStartColor, settings.maxStartColor, weight);
    particle.startColor = particle.color;
    particle.startVector = vector;
}

core::vector3df boxStartPosition(const core::aabbox3df& box) {
    const core::vector3df extent = box.MaxEdge - box.MinEdge;
    const f32 x = drawWrapped(extent.X);
    const f32 y = drawWrapped(extent.Y);
    const f32 z = drawWrapped(extent.Z);
    return box.MinEdge + core::vector3df(x, y, z);
}

core::vector3df sphereStartPosition(const core::vector3df& center, f32 radius) {
    const f32 s = drawWrapped(radius * 1000.0f) / 1000.0f;
    core::vector3df pos = center + core::vector3df(s, s, s);
    pos.rotateXYBy(random() % 360, center);
    pos.rotateYZBy(random() % 360, center);
    pos.rotateXZBy(random() % 360, center);
    return pos;
}

core::vector3df ringStartPosition(const core::vector3df& center, f32 radius, f32 thickness) {
    f32 s = drawWrapped(thickness * 0.5f);
    if (random() % 2 == 1) {
        s = -s;
    }
    s += radius;
    core::vector3df pos(center.X + s, center.Y, center.Z + s);
    pos.rotateXZBy(static_cast<f64>(random() % 3600) / 10.0, center);
    return pos;
}

}  // namespace scene
}  // namespace tarnwell

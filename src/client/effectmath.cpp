#include "client/effectmath.h"

#include "client/resourceids.h"

namespace {

// clang-format off
const EffectPreset kPresets[PRESET_COUNT] = {
    // name, box, width, height, radius, box min, box max, direction, rates, colours, lives, fade, duration,
    // texture, lighting, ring
    {"blue impact", false, 4, 4, 2.0f, {}, {}, {0, 0, 0}, 50, 100, {0, 0, 100, 200}, {0, 50, 100, 255}, 300, 600,
     500, 200, TEXTURE_FIRE, false, false},
    {"fire impact", false, 4, 4, 2.0f, {}, {}, {0, 0, 0}, 50, 100, {0, 200, 100, 0}, {0, 255, 200, 0}, 300, 600,
     500, 250, TEXTURE_FIRE, false, false},
    {"ship explosion", false, 4, 4, 2.5f, {}, {}, {0, 0, 0}, 100, 200, {0, 200, 100, 20}, {0, 255, 200, 100}, 500,
     2000, 1000, 1000, TEXTURE_FIRE, false, false},
    {"debris burst", false, 8, 8, 3.5f, {}, {}, {0, 0, 0}, 20, 50, {0, 200, 100, 20}, {0, 255, 200, 100}, 300,
     1000, 500, 500, TEXTURE_FIRE, false, true},
    {"explosion", false, 2, 2, 1.0f, {}, {}, {0, 0, 0}, 20, 50, {0, 200, 100, 0}, {0, 255, 200, 0}, 600, 1000, 500,
     500, TEXTURE_FIRE, false, false},
    {"ship bubble trail", false, 0.1f, 0.1f, 0.5f, {}, {}, {0, 0, 0}, 50, 100, {0, 0, 10, 50}, {0, 0, 30, 150},
     2000, 4000, 1000, 0, TEXTURE_BUBBLE, true, false},
    {"torpedo bubble trail", false, 0.1f, 0.1f, 0.2f, {}, {}, {0, 0, 0}, 100, 200, {0, 0, 10, 50},
     {0, 0, 30, 150}, 2000, 4000, 1000, 0, TEXTURE_BUBBLE, true, false},
    {"bubble burst", false, 0.25f, 0.25f, 2.0f, {}, {}, {0, 0.0025f, 0}, 2000, 4000, {0, 0, 10, 50},
     {0, 0, 30, 150}, 6000, 12000, 1000, 200, TEXTURE_BUBBLE, true, false},
    {"debris trail", false, 0.2f, 0.2f, 1.0f, {}, {}, {0, 0, 0}, 50, 100, {0, 0, 10, 50}, {0, 0, 30, 150}, 3000,
     8000, 3000, 5000, TEXTURE_BUBBLE, true, false},
    {"ambient bubbles", true, 0.2f, 0.2f, 0.0f, {-20, -50, 10}, {20, 0, 150}, {0, 0.005f, 0}, 10, 20,
     {0, 0, 10, 50}, {0, 0, 30, 150}, 3000, 6000, 1000, 0, TEXTURE_BUBBLE, false, false},
};
// clang-format on

// r mod `modulus` as a float over `divisor`, less `shift`: the effects'
// one form of a random spread.
float spread(irr::u32 r, irr::u32 modulus, float divisor, float shift) {
    return static_cast<float>(r % modulus) / divisor - shift;
}

}  // namespace

const EffectPreset& effectPreset(EffectPresetId id) {
    return kPresets[id >= 0 && id < PRESET_COUNT ? id : 0];
}

EffectFrame effectFrame(uint32_t startTime, uint32_t duration, uint32_t lifetime, bool shockWave,
                        uint32_t now) {
    EffectFrame frame;
    if (duration == 0) {
        frame.endless = true;
        return frame;
    }
    const uint32_t e = now - startTime;
    // Sums in 64 bits: a duration near 2^32 must not wrap its window shut.
    const uint64_t age = e;
    const uint64_t ringEnd = uint64_t(duration) + RING_AFTERGLOW_MS;
    if (shockWave) {
        frame.growRing = age < ringEnd;
        // The fade window opens RING_FADE_LEAD_MS before the end of emission;
        // a duration shorter than the lead opens it at once instead of
        // wrapping below 0 and never fading.
        if (age + RING_FADE_LEAD_MS > duration && age < ringEnd) {
            const uint64_t t = age + RING_FADE_LEAD_MS - duration;
            frame.fadeRing = true;
            frame.ringShade = static_cast<uint32_t>(static_cast<float>(RING_FADE_MS - t) /
                                                    static_cast<float>(RING_FADE_MS) * 255.0f);
        }
        frame.hideRing = age > ringEnd;
    }
    frame.detachEmitter = e > duration;
    frame.retire = e > lifetime;
    return frame;
}

bool cameraParticleStaysNear(const irr::core::vector3df& particle, const irr::core::vector3df& player) {
    return particle.getDistanceFromSQ(player) <= CAMERA_PARTICLE_RANGE * CAMERA_PARTICLE_RANGE;
}

irr::core::vector3df cameraParticleStart(irr::u32 rx, irr::u32 ry, irr::u32 rz) {
    return {spread(rx, 2000, 10.0f, 100.0f), spread(ry, 2000, 10.0f, 100.0f),
            spread(rz, 2000, 10.0f, 100.0f)};
}

irr::core::vector3df cameraParticleAhead(irr::u32 rx, irr::u32 ry, irr::u32 rz) {
    return {spread(rx, 1000, 10.0f, 50.0f), spread(ry, 1000, 10.0f, 50.0f), spread(rz, 500, 10.0f, -100.0f)};
}

irr::core::vector3df cameraParticleDrift(irr::u32 rx, irr::u32 ry, irr::u32 rz, float dt) {
    return irr::core::vector3df(spread(rx, 30, 100.0f, 0.15f), spread(ry, 30, 100.0f, 0.15f),
                                spread(rz, 30, 100.0f, 0.15f)) *
           dt;
}

float cameraParticleRoll(irr::u32 r) {
    return spread(r, 3600, 10.0f, 0.0f);
}

irr::core::vector3df debrisOffset(irr::u32 rx, irr::u32 ry, irr::u32 rz) {
    return {spread(rx, 10, 10.0f, 0.5f), spread(ry, 10, 10.0f, 0.5f), spread(rz, 10, 10.0f, 0.5f)};
}

irr::core::vector3df debrisImpulse(irr::u32 rx, irr::u32 ry, irr::u32 rz) {
    return {spread(rx, 1000, 10.0f, 50.0f), spread(ry, 1000, 10.0f, 50.0f), spread(rz, 1000, 10.0f, 50.0f)};
}

irr::core::vector3df debrisImpulseOffset(irr::u32 rx, irr::u32 ry, irr::u32 rz) {
    return {spread(rx, 40, 10.0f, 2.0f), spread(ry, 40, 10.0f, 2.0f), spread(rz, 40, 10.0f, 2.0f)};
}

DebrisCounts debrisCounts(irr::u32 ra, irr::u32 rb, irr::u32 rc) {
    return {int32_t(ra % 2) + 1, int32_t(rb % 2) + 1, int32_t(rc % 3) + 2};
}

irr::core::vector3df ringTilt(irr::u32 rPitch, irr::u32 rYaw) {
    return {-static_cast<float>(rPitch % 40 + 20), static_cast<float>(rYaw % 120) - 60.0f, 0.0f};
}

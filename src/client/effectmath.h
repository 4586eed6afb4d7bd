// The effects manager's arithmetic, free of the scene and of the globals: the
// preset table, what an effect record's age asks for in a frame, the rule that
// keeps the floating particles near the player, and the random spreads of the
// effects, each from fresh draws r of a source of non-negative integers.
#pragma once

#include <irrTypes.h>
#include <vector3d.h>

#include <cstdint>

// The game's named effects, in the order of the preset table.
enum EffectPresetId : int32_t {
    PRESET_BLUE_IMPACT = 0,
    PRESET_FIRE_IMPACT,
    PRESET_SHIP_EXPLOSION,
    PRESET_DEBRIS_BURST,
    PRESET_EXPLOSION,
    PRESET_SHIP_BUBBLE_TRAIL,
    PRESET_TORPEDO_BUBBLE_TRAIL,
    PRESET_BUBBLE_BURST,
    PRESET_DEBRIS_TRAIL,
    PRESET_AMBIENT_BUBBLES,
    PRESET_COUNT
};

// One row of the preset table. The sphere presets go through
// ParticleSystem::addEffect (emitter centre at the node, no gravity, no
// spread), the box preset through addBoxEffect.
struct EffectPreset {
    const char* name;
    bool box;             // box emitter (boxMin .. boxMax) instead of a sphere of `radius`
    float width, height;  // particle quad, world units
    float radius;         // sphere emitter
    float boxMin[3];      // box emitter, node units
    float boxMax[3];
    float direction[3];         // units per ms
    uint32_t minRate, maxRate;  // particles per second
    uint8_t minColor[4];        // start colours, alpha, red, green, blue
    uint8_t maxColor[4];
    uint32_t minLife, maxLife;  // ms
    uint32_t fadeOut;           // ms of the fade to (0, 0, 0, 0) before death
    uint32_t duration;          // ms of emission; 0 emits until stopped
    irr::s32 texture;           // resource id
    bool lighting;
    bool ring;  // with the shock-wave ring
};

const EffectPreset& effectPreset(EffectPresetId id);

// The ring grows by this much scale per second while it lasts.
constexpr float RING_GROWTH_PER_SECOND = 40.0f;
// The ring fades from full to nothing over RING_FADE_MS, starting
// RING_FADE_LEAD_MS before the end of emission; it is hidden
// RING_AFTERGLOW_MS after the end of emission.
constexpr uint32_t RING_FADE_MS = 800;
constexpr uint32_t RING_FADE_LEAD_MS = 200;
constexpr uint32_t RING_AFTERGLOW_MS = 600;
// removeEffectsOf gives a stopped effect this emission duration, which only
// keeps the update from treating it as endless: the record retires one
// lifetime after the stop, long before.
constexpr uint32_t STOPPED_DURATION_MS = 10000;
// Floating particles farther from the player than this are placed again.
constexpr float CAMERA_PARTICLE_RANGE = 150.0f;
constexpr int32_t CAMERA_PARTICLE_COUNT = 300;

// What one record asks for in a frame, at `now` (the clock its start time was
// read from, ms). e = now - startTime as an unsigned difference, so a start
// just before the clock wraps still ages right.
struct EffectFrame {
    bool endless = false;        // duration 0: nothing below applies
    bool growRing = false;       // ring scale += RING_GROWTH_PER_SECOND x dt on each axis
    bool fadeRing = false;       // ring vertex colours = (shade, shade, shade, shade)
    uint32_t ringShade = 0;      // 0..255, valid with fadeRing
    bool detachEmitter = false;  // emission is over
    bool hideRing = false;
    bool retire = false;  // the longest particle life has passed: the record goes
};
EffectFrame effectFrame(uint32_t startTime, uint32_t duration, uint32_t lifetime, bool shockWave,
                        uint32_t now);

// True while `particle` is within CAMERA_PARTICLE_RANGE of `player`, the
// boundary included: such a particle only drifts.
bool cameraParticleStaysNear(const irr::core::vector3df& particle, const irr::core::vector3df& player);

// The random spreads; each takes its draws in x, y, z order.
// Start of a floating particle around the player: each axis in [-100, 99.9].
irr::core::vector3df cameraParticleStart(irr::u32 rx, irr::u32 ry, irr::u32 rz);
// Where a particle that strayed is placed again, in the player's frame (turn
// it by the player's rotation): x and y in [-50, 49.9], z (ahead) in
// [100, 149.9].
irr::core::vector3df cameraParticleAhead(irr::u32 rx, irr::u32 ry, irr::u32 rz);
// A floating particle's drift over a step of dt seconds: each axis in
// [-0.15, 0.14] x dt.
irr::core::vector3df cameraParticleDrift(irr::u32 rx, irr::u32 ry, irr::u32 rz, float dt);
// Roll of a floating particle's quad, degrees in [0, 359.9].
float cameraParticleRoll(irr::u32 r);
// A debris piece's place around the burst: each axis in [-0.5, 0.4].
irr::core::vector3df debrisOffset(irr::u32 rx, irr::u32 ry, irr::u32 rz);
// A debris piece's push, a change of velocity: each axis in [-50, 49.9].
irr::core::vector3df debrisImpulse(irr::u32 rx, irr::u32 ry, irr::u32 rz);
// Where the push acts, around the piece: each axis in [-2, 1.9].
irr::core::vector3df debrisImpulseOffset(irr::u32 rx, irr::u32 ry, irr::u32 rz);
// How many pieces of each debris mesh a burst throws: 1-2, 1-2, 2-4.
struct DebrisCounts {
    int32_t first, second, third;
};
DebrisCounts debrisCounts(irr::u32 ra, irr::u32 rb, irr::u32 rc);
// The ring's tilt against the player's rotation, degrees: pitch (about x) in
// [-59, -20], yaw (about y) in [-60, 59].
irr::core::vector3df ringTilt(irr::u32 rPitch, irr::u32 rYaw);

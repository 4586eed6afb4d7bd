// The ship's arithmetic, free of the engine's scene and of the globals: the
// tuning values, the steering and force step of a physics step, the engine
// pitch, the gun recoil, the light fade, the destruction timeline and the
// target selection over plain records. Ship (ship.h) reads its nodes, body
// and globals and hands these functions plain values.
//
// Frames: rotations are the engine's Euler degrees (x, then y, then z);
// "R" is the engine's rotation matrix of them, turning ship axes into world
// axes. Ship axes: x right, y up, z forward. Steering inputs are spins about
// the ship axes: x positive pitches the nose down, y positive yaws right,
// z positive rolls left (the right side up).
#pragma once

#include <SColor.h>
#include <vector3d.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwell {
namespace scene {
class RandomSource;
}
}  // namespace tarnwell

// The thirteen tuning values every ship of the game gets, in constructor
// order. Thrusts in the controls' units, rates the steering inputs'
// magnitudes, limits, bands in degrees.
struct ShipTuning {
    float maxReverseThrust = -500.0f;
    float maxForwardThrust = 1000.0f;
    float pitchRate = 4000.0f;
    float yawRate = 3000.0f;
    float rollRate = 8000.0f;
    float verticalThrust = 50.0f;
    float lateralThrust = 50.0f;
    float pitchLimit = 90.0f;
    float rollLimit = 60.0f;
    float rollLevelFactor = 0.25f;
    float pitchLevelFactor = 0.0f;  // pitch levelling off
    float rollDeadBand = 3.0f;
    float pitchDeadBand = 10.0f;
};

// ---- Steering and forces -----------------------------------------------------

// How a ship steers in the force step: the player by its inputs; the enemies
// by their name ("Enemy 2" flies a steady loop, "Enemy 1" turns on the spot,
// any other drifts).
enum class ShipSteering : int32_t {
    PLAYER,
    LOOP,
    TURN,
    IDLE,
};
ShipSteering shipSteeringOf(bool isPlayer, const std::string& name);

// Roll and pitch of a rotation, degrees. Roll: the angle of the right wing
// above the horizon, positive when banked left, in (-180, 180]. Pitch: the
// nose's angle below the horizon, in [-90, 90].
struct ShipAttitude {
    float roll = 0.0f;
    float pitch = 0.0f;
};
ShipAttitude shipAttitude(const irr::core::vector3df& rotationDegrees);

// What one physics step of a ship reads.
struct ShipForceInput {
    ShipSteering steering = ShipSteering::IDLE;
    irr::core::vector3df rotation;       // degrees, the ship's stored rotation
    irr::core::vector3df thrustInput;    // player: x lateral, y vertical, z main
    irr::core::vector3df steeringInput;  // player: x pitch, y yaw, z roll
    float mass = 0.0f;                   // the body's mass
    float dt = 0.0f;                     // the world's current step, seconds
    ShipTuning tuning;
    irr::core::vector3df omega;    // the body's angular velocity, rad/s, world axes
    irr::core::vector3df damping;  // the body's angular damping per axis, 0..1
    bool surfaced = false;
    irr::core::vector3df bobbing;  // spin jitter while surfaced, rad/s
};

// What the step gives back. Every value is finite whatever the input: a
// force or spin that is not is replaced by zero (the force) or the damped
// previous spin (the spin), and a non-finite previous spin by zero.
struct ShipForceOutput {
    irr::core::vector3df force;  // world axes: the body's force for this step
    irr::core::vector3df omega;  // world axes: the body's new angular velocity
    // Player: the steering input after the input cancellation and the
    // levelling (ship axes); the others: zero.
    irr::core::vector3df steering;
    ShipAttitude attitude;  // player only; zero for the others
    // The force is exactly zero: the bubble trails pause.
    bool idle = true;
};

// The force step: thrust into force, steering into spin. The player's ship
// cancels input that would push pitch or roll past their limits (and
// reverses roll input beyond the roll limit), levels its roll when there is
// no pitch or roll input, and yaws toward its bank. The steering change is
// (spin × mass × dt) / 10000 added to the body's spin, which then loses the
// body's angular damping share. A surfaced ship loses its thrust, sinks
// with 5 × mass, takes an eighth of its steering and bobs.
ShipForceOutput shipForceStep(const ShipForceInput& in);

// ---- Engine pitch ------------------------------------------------------------

// Lowest engine frequency, Hz: the idle pitch.
constexpr int32_t ENGINE_IDLE_FREQUENCY = 11000;

// The engine sound's next frequency from its current one: it rises by
// r × 4000 Hz per second (r = |thrust| / maxForwardThrust) up to about
// r × 4000 above idle, and falls by 4000 Hz per second without thrust, never
// below idle. A non-finite ratio or step counts as none; the result is
// always within [idle, 2^31 - 1].
int32_t engineFrequency(int32_t current, float thrustZ, float maxForwardThrust, float dt);

// ---- Cockpit -----------------------------------------------------------------

// A cockpit gun's resting depth and the depth a recoil pushes it to.
constexpr float GUN_REST_Z = 3.0f;
constexpr float GUN_RECOIL_Z = 2.95f;
// One frame (dt seconds) of a cockpit gun's way back from recoil: it closes
// 10 × dt of its distance to rest, never passing it. A non-finite z or dt
// gives the rest depth.
float gunRecoilStep(float z, float dt);

// The two player lights' diffuse colours and the time since the last switch.
struct ShipLights {
    irr::video::SColorf head{0.625f, 0.75f, 1.0f, 1.0f};
    irr::video::SColorf cockpit{160.0f / 255.0f, 192.0f / 255.0f, 1.0f, 1.0f};
};
// How long a light switch fades, ms, and the least time between switches.
constexpr uint32_t LIGHT_FADE_MS = 1500;
// One frame of the fade, `sinceToggle` ms after the switch: off, the head
// light dims toward black (blue last) and the cockpit light flickers; on,
// the head light brightens back to its colour and the cockpit light
// flickers to white. Per frame, not per second. From 1500 ms on nothing
// changes.
void fadeLights(ShipLights& lights, bool lightsOn, uint32_t sinceToggle);
// The light beam's vertex colour for a head light colour: alpha 64, each
// colour channel 128 × the head light's.
irr::video::SColor beamColor(const irr::video::SColorf& head);

// ---- Destruction -------------------------------------------------------------

// An enemy's destruction state. Phases: 0 idle, 1 burning, 2 about to
// break, 3 broken (dead).
struct ShipDestruction {
    int32_t started = 0;
    int32_t phase = 0;
    uint32_t startTime = 0;          // ms, real time of the first step
    uint32_t nextExplosionTime = 0;  // ms after startTime
};
// What one step asks of the ship, as bits.
enum ShipDestructionEvent : uint32_t {
    DESTROY_BEGIN = 1u,            // first step: remove the trails, retarget
    DESTROY_SHIP_EXPLOSION = 2u,   // fire on the ship's node
    DESTROY_SMALL_EXPLOSION = 4u,  // a small explosion sound at the ship
    DESTROY_BREAK = 8u,            // debris burst, large explosion sound, dead
};
// One frame's step at real time `now` (ms). Small explosions follow each
// other 200 to 599 ms apart (one draw of `random` each) while the ship has
// a body; the ship breaks 2100 ms after the first step, or 2500 ms when a
// stalled frame skipped the 1900 to 2100 ms window. Returns the events.
uint32_t destructionStep(ShipDestruction& state, uint32_t now, bool hasBody,
                         tarnwell::scene::RandomSource& random);

// ---- Target selection --------------------------------------------------------

// One entry of the ship list as the selection sees it.
struct TargetRecord {
    bool present = true;  // false: a null entry, which ends the selection
    bool targeted = false;
    float hull = 0.0f;
    bool onRadar = true;
};
// The outcome, as indexes into the list (-1 for none): `cleared` lost its
// flag and the launchers lost their target; then `chosen` got the flag and
// became the launchers' target.
struct TargetChoice {
    int32_t cleared = -1;
    int32_t chosen = -1;
};
// The next target after the flagged ship (the front when none is flagged):
// the first other ship in list order, wrapping, with hull above 0 and on the
// radar. Fewer than two entries change nothing; a null entry met on the way
// stops the walk where it is.
TargetChoice chooseNextTarget(const std::vector<TargetRecord>& ships);

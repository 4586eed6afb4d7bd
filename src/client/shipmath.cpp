#include "client/engine/Finite.h"
#include "client/shipmath.h"

#include "client/constants.h"
#include "client/engine/RandomSource.h"

#include <algorithm>
#include <cmath>
#include <limits>

using tarnwell::isFinite;

using irr::core::matrix4;
using irr::core::vector3df;

namespace {

matrix4 rotationMatrix(const vector3df& degrees) {
    matrix4 turn;
    turn.setRotationDegrees(degrees);
    return turn;
}

vector3df turned(const matrix4& turn, const vector3df& v) {
    vector3df out;
    turn.rotateVect(out, v);
    return out;
}

ShipAttitude attitudeOf(const matrix4& turn) {
    const vector3df right = turned(turn, vector3df(1.0f, 0.0f, 0.0f));
    const vector3df up = turned(turn, vector3df(0.0f, 1.0f, 0.0f));
    const vector3df forward = turned(turn, vector3df(0.0f, 0.0f, 1.0f));
    ShipAttitude attitude;
    attitude.roll = std::atan2(right.Y, up.Y) * GAME_RADTODEG;
    // A unit vector's y can round a hair past 1 straight up or down.
    attitude.pitch = -std::asin(std::clamp(forward.Y, -1.0f, 1.0f)) * GAME_RADTODEG;
    return attitude;
}

// The share of a limit an angle has reached; no limit, no share.
float limitRatio(float angle, float limit, float bound) {
    return limit > 0.0f ? std::clamp(angle / limit, -bound, bound) : 0.0f;
}

// Input that drives an angle further toward its limit shrinks with the share
// already reached; past the limit (a share above 1) it turns round.
float cancelTowardLimit(float input, float ratio) {
    if ((input < 0.0f && ratio < 0.0f) || (input > 0.0f && ratio > 0.0f)) {
        return input * (1.0f - std::fabs(ratio));
    }
    return input;
}

struct ForceAndSpin {
    vector3df force;
    vector3df spin;  // world axes, before the / 10000 scale
};

ForceAndSpin playerStep(const ShipForceInput& in, const matrix4& turn, ShipForceOutput& out) {
    const ShipTuning& tuning = in.tuning;
    ForceAndSpin step;
    step.force = turned(turn, in.thrustInput) * in.mass * in.dt;

    const ShipAttitude attitude = attitudeOf(turn);
    float rollRatio = limitRatio(attitude.roll, tuning.rollLimit, 1.5f);
    const float pitchRatio = limitRatio(attitude.pitch, tuning.pitchLimit, 1.0f);

    vector3df steering = in.steeringInput;
    steering.X = cancelTowardLimit(steering.X, pitchRatio);
    steering.Z = cancelTowardLimit(steering.Z, rollRatio);
    rollRatio = std::clamp(rollRatio, -1.0f, 1.0f);

    // Hands off pitch and roll: the ship rights its roll (and its pitch, when
    // the tuning asks for it), leaving a small dead band alone.
    if (steering.X == 0.0f && steering.Z == 0.0f) {
        if (std::fabs(attitude.roll) > tuning.rollDeadBand) {
            steering.Z += -tuning.rollRate * rollRatio * tuning.rollLevelFactor;
        }
        if (std::fabs(attitude.pitch) > tuning.pitchDeadBand) {
            steering.X += -tuning.pitchRate * pitchRatio * tuning.pitchLevelFactor;
        }
    }

    // A banked ship turns toward the lower wing, like an aircraft.
    vector3df spin = turned(turn, steering);
    const float bankYaw = std::sin(attitude.roll * GAME_DEGTORAD) * rollRatio * tuning.yawRate;
    if (attitude.roll > 3.0f) {
        spin.Y -= bankYaw;
    } else if (attitude.roll < -3.0f) {
        spin.Y += bankYaw;
    }
    step.spin = spin * in.mass * in.dt;

    out.steering = steering;
    out.attitude = attitude;
    return step;
}

}  // namespace

ShipSteering shipSteeringOf(bool isPlayer, const std::string& name) {
    if (isPlayer) {
        return ShipSteering::PLAYER;
    }
    if (name == "Enemy 2") {
        return ShipSteering::LOOP;
    }
    if (name == "Enemy 1") {
        return ShipSteering::TURN;
    }
    return ShipSteering::IDLE;
}

ShipAttitude shipAttitude(const vector3df& rotationDegrees) {
    return attitudeOf(rotationMatrix(rotationDegrees));
}

ShipForceOutput shipForceStep(const ShipForceInput& in) {
    ShipForceOutput out;
    const matrix4 turn = rotationMatrix(in.rotation);
    const ShipTuning& tuning = in.tuning;
    const float m = in.mass;
    const float dt = in.dt;

    ForceAndSpin step;
    switch (in.steering) {
        case ShipSteering::PLAYER:
            step = playerStep(in, turn, out);
            break;
        case ShipSteering::LOOP: {
            step.force = turned(turn, vector3df(0.0f, 0.0f, m * tuning.maxForwardThrust / 1.5f * dt));
            const float torque = -tuning.rollRate * m / 10.0f * dt;
            step.spin = turned(turn, vector3df(torque, 0.0f, torque));
            break;
        }
        case ShipSteering::TURN:
            step.spin = vector3df(0.0f, m * tuning.yawRate / 10.0f * dt, 0.0f);
            break;
        case ShipSteering::IDLE:
            break;
    }
    step.spin /= 10000.0f;

    const vector3df keep(1.0f - in.damping.X, 1.0f - in.damping.Y, 1.0f - in.damping.Z);
    const vector3df previous = isFinite(in.omega) ? in.omega : vector3df();
    vector3df omega = previous;
    if (in.surfaced) {
        // Out of the water the engine has nothing to push against: the ship
        // falls back and rocks.
        step.force = vector3df(0.0f, -5.0f * m, 0.0f);
        omega += in.bobbing;
        omega += step.spin / 8.0f;
    } else {
        omega += step.spin;
    }
    omega *= keep;
    if (in.surfaced) {
        omega += in.bobbing;
    }

    if (!isFinite(step.force)) {
        step.force = vector3df();
    }
    if (!isFinite(omega)) {
        const vector3df damped = previous * keep;
        omega = isFinite(damped) ? damped : vector3df();
    }
    out.force = step.force;
    out.omega = omega;
    out.idle = step.force.X == 0.0f && step.force.Y == 0.0f && step.force.Z == 0.0f;
    if (!isFinite(out.steering)) {
        out.steering = vector3df();
    }
    return out;
}

namespace {

// Toward zero like a cast, saturating instead of undefined beyond the range.
int64_t truncated(float value) {
    constexpr float kLimit = 1e15f;
    return static_cast<int64_t>(std::clamp(value, -kLimit, kLimit));
}

}  // namespace

int32_t engineFrequency(int32_t current, float thrustZ, float maxForwardThrust, float dt) {
    float ratio = std::fabs(thrustZ) / maxForwardThrust;
    if (!std::isfinite(ratio)) {
        ratio = 0.0f;
    }
    if (!std::isfinite(dt)) {
        dt = 0.0f;
    }
    int64_t frequency = current;
    if (ratio > 0.0f) {
        frequency += truncated(ratio * 4000.0f * dt);
        if (frequency > truncated(ratio * 4000.0f) + ENGINE_IDLE_FREQUENCY) {
            frequency -= truncated(dt * 4000.0f);
        }
    } else {
        frequency -= truncated(dt * 4000.0f);
    }
    return static_cast<int32_t>(
        std::clamp<int64_t>(frequency, ENGINE_IDLE_FREQUENCY, std::numeric_limits<int32_t>::max()));
}

float gunRecoilStep(float z, float dt) {
    const float next = z + dt * (GUN_REST_Z - z) * 10.0f;
    return std::isfinite(next) ? std::min(next, GUN_REST_Z) : GUN_REST_Z;
}

void fadeLights(ShipLights& lights, bool lightsOn, uint32_t sinceToggle) {
    if (sinceToggle >= LIGHT_FADE_MS) {
        return;
    }
    const float t = static_cast<float>(sinceToggle);
    irr::video::SColorf& head = lights.head;
    irr::video::SColorf& cockpit = lights.cockpit;
    // The cockpit light flickers: it dims for 300 ms, then comes back in
    // ever smaller steps until 800 ms.
    const float flicker = 0.3f * (1.0f - (t - 300.0f) / 500.0f);
    const bool dimming = t < 300.0f;
    const bool returning = t > 300.0f && t < 800.0f;
    if (dimming) {
        cockpit.r *= 0.8f;
        cockpit.g *= 0.8f;
        cockpit.b *= 0.8f;
    }
    if (!lightsOn) {
        head.r *= 0.95f;
        head.g *= 0.925f;
        head.b *= 0.9f;
        if (returning) {
            cockpit.r = std::min(cockpit.r + flicker, 1.0f);
        }
        return;
    }
    const float rise = 0.2f * (1.0f - t / static_cast<float>(LIGHT_FADE_MS));
    head.r = std::min(head.r + rise, 0.625f);
    head.g = std::min(head.g + rise, 0.75f);
    head.b = std::min(head.b + rise, 1.0f);
    if (returning) {
        cockpit.r = std::min(cockpit.r + flicker, 1.0f);
        cockpit.g = std::min(cockpit.g + flicker, 1.0f);
        cockpit.b = std::min(cockpit.b + flicker, 1.0f);
    }
}

irr::video::SColor beamColor(const irr::video::SColorf& head) {
    const auto channel = [](float value) {
        return static_cast<irr::u32>(std::isfinite(value) ? std::clamp(value * 128.0f, 0.0f, 255.0f) : 0.0f);
    };
    return irr::video::SColor(64, channel(head.r), channel(head.g), channel(head.b));
}

uint32_t destructionStep(ShipDestruction& state, uint32_t now, bool hasBody,
                         tarnwell::scene::RandomSource& random) {
    uint32_t events = 0;
    if (state.started == 0) {
        state.started = 1;
        state.startTime = now;
        events |= DESTROY_BEGIN;
    }
    const uint32_t elapsed = now - state.startTime;
    if (elapsed <= 2100 && state.phase == 0) {
        state.phase = 1;
        state.nextExplosionTime = 0;
        events |= DESTROY_SHIP_EXPLOSION;
    }
    if (elapsed <= 1900 && state.phase == 1 && hasBody && elapsed > state.nextExplosionTime) {
        state.nextExplosionTime += random.next() % 400 + 200;
        events |= DESTROY_SMALL_EXPLOSION;
    }
    if (elapsed > 1900 && elapsed < 2100) {
        state.phase = 2;
    }
    if ((elapsed > 2100 && state.phase == 2) || (elapsed > 2500 && state.phase != 3)) {
        state.phase = 3;
        events |= DESTROY_BREAK;
    }
    return events;
}

TargetChoice chooseNextTarget(const std::vector<TargetRecord>& ships) {
    TargetChoice choice;
    const int32_t count = static_cast<int32_t>(ships.size());
    if (count < 2) {
        return choice;
    }
    int32_t start = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!ships[i].present) {
            return choice;
        }
        if (ships[i].targeted) {
            start = i;
            choice.cleared = i;
            break;
        }
    }
    for (int32_t step = 1; step < count; ++step) {
        const TargetRecord& ship = ships[(start + step) % count];
        if (!ship.present) {
            return choice;
        }
        // A ship at hull 0 is already being destroyed: never a new target.
        if (ship.hull > 0.0f && ship.onRadar) {
            choice.chosen = (start + step) % count;
            return choice;
        }
    }
    return choice;
}

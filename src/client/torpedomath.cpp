#include "client/engine/Finite.h"
#include "client/torpedomath.h"

#include "client/constants.h"
#include "client/weaponmath.h"

#include <algorithm>
#include <cmath>

using tarnwell::isFinite;

namespace {

// Full effect from 10 degrees on, fading linearly to nothing at 0.
float steeringScale(float degrees) {
    const float magnitude = std::fabs(degrees);
    return magnitude < 10.0f ? magnitude / 10.0f : 1.0f;
}

}  // namespace

bool torpedoBoosting(uint32_t now, uint32_t launchTime) {
    return now - launchTime < TORPEDO_BOOST_MS;
}

irr::core::vector3df torpedoAim(const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                                const irr::core::vector3df& targetPosition,
                                const irr::core::vector3df& targetVelocity, float speed) {
    if (!isFinite(position) || !isFinite(rotation) || !isFinite(targetPosition) ||
        !isFinite(targetVelocity)) {
        return irr::core::vector3df();
    }
    const irr::core::vector3df intercept =
        computeInterceptPoint(position, targetPosition, targetVelocity, std::isfinite(speed) ? speed : 0.0f);

    // The direction in doubles: far points would overflow the float
    // difference or its squared length and leave no direction at all.
    const double dx = double(intercept.X) - double(position.X);
    const double dy = double(intercept.Y) - double(position.Y);
    const double dz = double(intercept.Z) - double(position.Z);
    const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(length > 0.0) || !std::isfinite(length)) {
        return irr::core::vector3df();
    }
    irr::core::vector3df n(float(dx / length), float(dy / length), float(dz / length));
    irr::core::matrix4 turn;
    turn.setRotationDegrees(rotation);
    turn.inverseRotateVect(n);

    float roll = std::atan2(n.Y, n.X) * GAME_RADTODEG - 90.0f;
    if (roll < 0.0f) {
        roll += 360.0f;
    }
    if (roll >= 360.0f) {
        roll -= 360.0f;
    }
    if (roll > 180.0f) {
        roll -= 360.0f;
    }
    // A unit vector's z may round to just beyond 1, where acos has no value.
    const float offNose = std::acos(std::clamp(n.Z, -1.0f, 1.0f)) * GAME_RADTODEG;
    return irr::core::vector3df(-offNose, 0.0f, roll);
}

irr::core::vector3df torpedoSteering(const irr::core::vector3df& aim, float mass, float dt, float pitchGain,
                                     float rollGain) {
    irr::core::vector3df turn;
    const float pitch = mass * dt * pitchGain * steeringScale(aim.X);
    if (std::fabs(aim.Z) < 30.0f) {
        if (aim.X > 3.0f) {
            turn.X = pitch;
        } else if (aim.X < -3.0f) {
            turn.X = -pitch;
        }
    }
    const float roll = mass * dt * rollGain * steeringScale(aim.Z);
    if (aim.Z > 3.0f) {
        turn.Z = roll;
    } else if (aim.Z < -3.0f) {
        turn.Z = -roll;
    }
    return turn;
}

TorpedoMotion torpedoMotionStep(const irr::core::vector3df& rotation, float mass, float dt, float thrust,
                                const irr::core::vector3df& steering, const TorpedoMotion& now,
                                const irr::core::vector3df& angularDamping, float linearDamping) {
    irr::core::matrix4 turn;
    turn.setRotationDegrees(rotation);
    irr::core::vector3df push(0.0f, 0.0f, mass * thrust * dt);
    irr::core::vector3df spin = steering;
    turn.rotateVect(push);
    turn.rotateVect(spin);

    TorpedoMotion next;
    next.omega = (now.omega + spin) * (irr::core::vector3df(1.0f, 1.0f, 1.0f) - angularDamping);
    // The thrust goes straight into the velocity, not through a force.
    next.velocity = (now.velocity + push) * linearDamping;
    return next;
}

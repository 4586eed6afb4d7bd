#include "client/weaponmath.h"

#include "client/engine/Finite.h"

#include <cmath>
#include <limits>

using tarnwell::isFinite;

irr::core::vector3df computeInterceptPoint(const irr::core::vector3df& shooter,
                                           const irr::core::vector3df& target,
                                           const irr::core::vector3df& targetVelocity,
                                           float projectileSpeed) {
    const irr::core::vector3df d = target - shooter;
    const float s = projectileSpeed;
    const irr::core::vector3df& v = targetVelocity;
    const float s2 = s * s;

    const float disc = d.getLengthSQ() * s2 - d.crossProduct(v).getLengthSQ();
    if (disc < 0.0f) {
        return target;
    }
    // Equal speeds have no finite root: aim at the target itself rather than
    // hand the callers a point at infinity.
    const float divisor = s2 - v.getLengthSQ();
    if (divisor == 0.0f) {
        return target;
    }
    const float t = (d.dotProduct(v) + std::sqrt(disc)) / divisor;
    const irr::core::vector3df aim = target + v * t;
    if (!std::isfinite(t) || !isFinite(aim)) {
        return target;
    }
    return aim;
}

int32_t remainingLifetime(int32_t lifetimeMs, uint32_t elapsedMs) {
    const int64_t left = int64_t(lifetimeMs) - int64_t(elapsedMs);
    constexpr int64_t lowest = std::numeric_limits<int32_t>::min();
    return int32_t(left < lowest ? lowest : left);
}

irr::core::vector3df bulletAdvance(const irr::core::vector3df& position,
                                   const irr::core::vector3df& direction, int32_t speed, uint32_t elapsedMs) {
    // Integer arithmetic would move 3 instead of 3.2 per 20 ms frame and
    // nothing at all on frames shorter than 7 ms.
    const float distance = float(speed) * float(elapsedMs) / 1000.0f;
    return position + direction * distance;
}

float bulletSpin(float spinDegrees, uint32_t elapsedMs) {
    const float spin = spinDegrees + float(elapsedMs) / 10.0f;
    // fmod rather than one subtraction: a long stalled frame would otherwise
    // leave the angle above a full turn.
    return spin > 360.0f ? std::fmod(spin, 360.0f) : spin;
}

TerrainPass bulletTerrainPass(const irr::core::vector3df& hitPoint, const irr::core::vector3df& position,
                              float lastDistance) {
    const float distance = (hitPoint - position).getLength();
    return TerrainPass{lastDistance < distance, distance};
}

bool launcherMayFire(bool locked, bool hasFired, uint32_t now, uint32_t lastFireTime, uint32_t reloadMs) {
    return locked && (!hasFired || now - lastFireTime >= reloadMs);
}

bool muzzleFlashExpired(uint32_t now, uint32_t lastShotTime) {
    return now - lastShotTime >= MUZZLE_FLASH_MS;
}

irr::core::vector3df muzzleFlashOffset(const irr::core::vector3df& mount) {
    const float inward = mount.X < 0.0f ? 0.1f : -0.1f;
    return mount + irr::core::vector3df(inward, 0.0f, 2.1f);
}


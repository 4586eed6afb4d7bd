// The arithmetic of guns, bullets and the torpedo launcher, free of the
// scene, the sound layer and the globals: the projectile lead, a bullet's
// flight, spin, lifetime and terrain pass, the launcher's reload rule and the
// muzzle flash's time.
//
// Times are the device's real time in milliseconds, wrapping at 2^32, and
// are only ever compared as unsigned differences.
#pragma once

#include <vector3d.h>

#include <cstdint>

// The point to aim at so that a projectile of the given speed meets a target
// moving at a constant velocity: the positive root of |d + v t| = s t. The
// target itself when there is no real root, no finite one, or the divisor
// s² - |v|² is zero.
irr::core::vector3df computeInterceptPoint(const irr::core::vector3df& shooter,
                                           const irr::core::vector3df& target,
                                           const irr::core::vector3df& targetVelocity, float projectileSpeed);

// How long the muzzle flash stays visible after the last shot, ms.
constexpr uint32_t MUZZLE_FLASH_MS = 50;

// lifetimeMs less elapsedMs, saturating at the smallest int32 instead of
// wrapping, so that a huge step can never bring a spent lifetime back.
int32_t remainingLifetime(int32_t lifetimeMs, uint32_t elapsedMs);

// Where a bullet is after elapsedMs at `speed` units per second along
// `direction`: position + direction × (speed × elapsed / 1000), in floats,
// so that 160 u/s over 20 ms moves 3.2 units and a 5 ms step still moves.
irr::core::vector3df bulletAdvance(const irr::core::vector3df& position,
                                   const irr::core::vector3df& direction, int32_t speed, uint32_t elapsedMs);

// The sprite's roll in degrees after elapsedMs: one degree per 10 ms, in
// floats; a value past 360 comes back into [0, 360) whatever the step.
float bulletSpin(float spinDegrees, uint32_t elapsedMs);

// The terrain pass of one update. `distance` is |hitPoint - position|;
// `passed` is true once it grows past lastDistance, the distance of the
// previous update (the bullet has gone through the point).
struct TerrainPass {
    bool passed;
    float distance;
};
TerrainPass bulletTerrainPass(const irr::core::vector3df& hitPoint, const irr::core::vector3df& position,
                              float lastDistance);

// True when a launcher may launch now: it is locked, and it has never
// launched or at least reloadMs have passed since lastFireTime. The first
// launch never waits, whatever the clock's reading.
bool launcherMayFire(bool locked, bool hasFired, uint32_t now, uint32_t lastFireTime, uint32_t reloadMs);

// True when the muzzle flash is to be hidden: MUZZLE_FLASH_MS or more since
// the last shot.
bool muzzleFlashExpired(uint32_t now, uint32_t lastShotTime);

// The muzzle flash's place on the ship: 2.1 ahead of the mount and 0.1 toward
// the ship's centre line (a mount at x = 0 counts as the right-hand one).
irr::core::vector3df muzzleFlashOffset(const irr::core::vector3df& mount);


// The flat-floor property of the convex-against-soup contacts: a convex
// shape resting at a given depth anywhere on a level grid of 20 m cells (two
// triangles a cell, as the game adds its sea floor) gets every contact along
// the floor's normal, and the deepest one at the depth of its lowest point.
// Shared by the shape tests and the tire's, a shape of the dynamics layer.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "GridSoup.h"

namespace flatfloor {

constexpr float kCell = 20.0f;
constexpr int32_t kCells = 12;
constexpr float kOrigin = -120.0f;

// The level grid, each cell split from (x + 20, z) to (x, z + 20); the
// caller releases it.
inline dgCollision* buildFloor(dgWorld* world) {
    return gridsoup::gridSoup(
        world, kCells,
        [](int32_t i, int32_t j, float* out) {
            out[0] = kOrigin + kCell * float(kCells - j);
            out[1] = 0.0f;
            out[2] = kOrigin + kCell * float(i);
        },
        0, 1);
}

// How to place the shape: tilted by at most `tilt` (radians) about level
// axes and turned about the vertical, or turned at random when `anyTurn`;
// every second placement within `cornerReach` of a cell corner when that is
// above 0 (where the most faces meet), the others anywhere over the middle
// of the grid.
struct Placement {
    float depth;
    float tilt = 0.0f;
    bool anyTurn = false;
    float cornerReach = 0.0f;
};

// Placements of `trials` whose contacts are missing, leave the floor's normal
// (by more than 1e-6 across it) or reach deeper than the shape's lowest
// point, or whose deepest contact is not that deep; worstCos gets the lowest
// cosine of a contact normal to the floor's.
inline int32_t badPlacements(dgWorld* world, dgCollision* floor, dgConvexCollision* shape,
                             const Placement& place, int32_t trials, uint32_t seed, float& worstCos) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const float skinned = place.depth - 1.0f / 128.0f;
    worstCos = 1.0f;
    int32_t bad = 0;
    for (int32_t trial = 0; trial < trials; trial++) {
        dgMatrix pose = place.anyTurn ? shapetest::randomPose(rng, 0.0f)
                                      : shapetest::turned(place.tilt * u(rng), 3.1415927f * u(rng),
                                                          place.tilt * u(rng), dgVector(0, 0, 0, 1));
        pose.position = dgVector(60.0f * u(rng), 0.0f, 60.0f * u(rng), 1.0f);
        if ((place.cornerReach > 0.0f) && (trial % 2 == 1)) {
            pose.position.x = kCell * std::round(pose.position.x / kCell) + place.cornerReach * u(rng);
            pose.position.z = kCell * std::round(pose.position.z / kCell) + place.cornerReach * u(rng);
        }
        pose.position.y -= gridsoup::lowestPoint(*shape, pose, dgVector(0, 1, 0, 0)).y + place.depth;
        dgContactPoint contacts[dgMaxSoupContacts];
        const int32_t n = gridsoup::soupContacts(world, shape, pose, floor, contacts);
        bool off = (n == 0);
        float deepest = 0.0f;
        for (int32_t i = 0; i < n; i++) {
            const dgContactPoint& c = contacts[i];
            worstCos = std::min(worstCos, c.normal.y);
            off = off || (std::hypot(c.normal.x, c.normal.z) > 1e-6f) || !(c.normal.y > 0.0f) ||
                  !(c.penetration < skinned + 5e-5f);
            deepest = std::max(deepest, c.penetration);
        }
        off = off || !(std::fabs(deepest - skinned) < 5e-5f);
        bad += off ? 1 : 0;
    }
    return bad;
}

}  // namespace flatfloor

// The resting scenes of the world-level benchmarks, built as the benchmark
// scenes define them, less what needs a solver: nothing falls, so every body
// is placed where it would rest.
//
// S1: a 20 x 20 grid of stacks of 10 unit cubes of mass 1, 1 m gaps, the
// bottom cubes exactly on a static ground box whose top face is at y = 0.
// Boxes that only touch do not overlap, so placed exactly the stacks give the
// contact pass nothing; settled, each cube sinks kRestingSink into the one
// below (the bottom one into the ground), as a solver leaves a resting stack
// within its penetration allowance.
//
// S4: 1764 bodies of mass 1 on a 20,000-triangle terrain of 101 x 101
// vertices (x = 3i, z = 3j, y = 5 sin(0.5 i) cos(0.5 j)), on the 21 x 4 x 21
// lattice around the terrain's centre (150, 0, 150) with a 7.5 m pitch,
// cycling box 1 x 1.5 x 2, sphere of radius 0.5, capsule of radius 0.5 with a
// 1.5 m cylinder, and the hull of (0,1,0), (+-1,0,0), (0,0,+-1). The lattice
// is taken x outermost, then the layer, then z, so the kinds mix within each
// column. The lattice starts 15 m up; here each column of 4 is lowered as a
// whole onto the terrain instead: its x and z stay, its bottom body sinks
// at least kRestingSink into the terrain under it and each body above sinks
// kRestingSink into the one below, so every body touches something, as after
// the fall if no column toppled.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>

#include "BenchWorld.h"
#include "GridTree.h"
#include "dgTreeCollision.h"

namespace benchscenes {

using benchworld::BenchWorld;

// ---- S1 ----

constexpr int32_t kStackGrid = 20;
constexpr int32_t kStackHeight = 10;
constexpr int32_t kStackCubes = kStackGrid * kStackGrid * kStackHeight;
// Depth a resting body sinks into its support.
constexpr float kRestingSink = 0.005f;

// Centre of stack i (x or z): unit cubes on a 2 m pitch, centred on 0.
inline float stackCentre(int32_t i) {
    return 2.0f * (float(i) - 0.5f * float(kStackGrid - 1));
}

// extra: room for bodies a benchmark adds. awake: whether the cubes are in
// the awake set (freezing off) or rest as frozen bodies. settled: each cube
// sunk into its support, else placed exactly.
inline std::unique_ptr<BenchWorld> buildStacks(bool awake, bool settled, size_t extra) {
    std::unique_ptr<BenchWorld> scene(new BenchWorld(size_t(kStackCubes) + 1 + extra,
                                                     dgVector(-64.0f, -16.0f, -64.0f, 0.0f),
                                                     dgVector(64.0f, 48.0f, 64.0f, 0.0f)));
    dgWorld* world = scene->world();
    benchworld::setDefaultMaterial(world, 0.0f, 0.5f);
    const uint32_t group = world->m_defaultMaterialGroup;

    dgCollision* ground = dgCreateBox(world, 80.0f, 2.0f, 80.0f, nullptr);
    dgMatrix pose(dgGetIdentityMatrix());
    pose.position = dgVector(0.0f, -1.0f, 0.0f, 1.0f);
    scene->add(ground, 0.0f, pose, group, true);
    dgReleaseCollision(world, ground);

    dgCollision* cube = dgCreateBox(world, 1.0f, 1.0f, 1.0f, nullptr);
    for (int32_t ix = 0; ix < kStackGrid; ix++) {
        for (int32_t iz = 0; iz < kStackGrid; iz++) {
            for (int32_t k = 0; k < kStackHeight; k++) {
                const float sink = settled ? kRestingSink * float(k + 1) : 0.0f;
                pose.position = dgVector(stackCentre(ix), 0.5f + float(k) - sink, stackCentre(iz), 1.0f);
                scene->add(cube, 1.0f, pose, group, awake);
            }
        }
    }
    dgReleaseCollision(world, cube);
    return scene;
}

// ---- S4 ----

constexpr int32_t kTerrainCells = 100;
constexpr float kTerrainSpacing = 3.0f;
constexpr int32_t kLatticeSide = 21;
constexpr int32_t kLatticeLayers = 4;
constexpr int32_t kLatticeBodies = kLatticeSide * kLatticeLayers * kLatticeSide;
constexpr float kLatticePitch = 7.5f;
constexpr float kTerrainCentre = 150.0f;

inline float terrainVertexY(int32_t i, int32_t j) {
    const float n = float(kTerrainCells);
    return 5.0f * std::sin(50.0f * float(i) / n) * std::cos(50.0f * float(j) / n);
}

inline float terrainHeight(float x, float z) {
    return benchworld::gridHeight(x, z, kTerrainSpacing, kTerrainCells, terrainVertexY);
}

inline dgCollision* buildLatticeTerrain(dgWorld* world) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    addGridFaces(tree, kTerrainCells, kTerrainSpacing, 0.0f, 0.0f, 0.0f, terrainVertexY);
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

// The four kinds, each about its body's origin with the identity pose.
enum class LatticeKind : int32_t { box, sphere, capsule, hull };

// Depth of the kind's underside below the origin at horizontal offset
// (dx, dz); negative where the offset misses the body.
inline float undersideDepth(LatticeKind kind, float dx, float dz) {
    switch (kind) {
        case LatticeKind::box:
            return (std::fabs(dx) <= 0.5f && std::fabs(dz) <= 1.0f) ? 0.75f : -1.0f;
        case LatticeKind::sphere: {
            const float r2 = 0.25f - dx * dx - dz * dz;
            return (r2 >= 0.0f) ? std::sqrt(r2) : -1.0f;
        }
        case LatticeKind::capsule: {
            const float along = std::max(std::fabs(dx) - 0.75f, 0.0f);
            const float r2 = 0.25f - along * along - dz * dz;
            return (r2 >= 0.0f) ? std::sqrt(r2) : -1.0f;
        }
        case LatticeKind::hull:
            return (std::fabs(dx) + std::fabs(dz) <= 1.0f) ? 0.0f : -1.0f;
    }
    return -1.0f;
}

// Height of the kind's top, and depth of its bottom, on the vertical through
// its origin.
inline float topHeight(LatticeKind kind) {
    return (kind == LatticeKind::box) ? 0.75f : ((kind == LatticeKind::hull) ? 1.0f : 0.5f);
}
inline float bottomDepth(LatticeKind kind) {
    return undersideDepth(kind, 0.0f, 0.0f);
}

// Origin height at which the kind at (x, z) touches the terrain from above:
// the highest terrain point under its underside, sampled on a fine grid
// (sampling can only place it lower, so it never hovers).
inline float restingHeight(LatticeKind kind, float x, float z) {
    constexpr int32_t kSamples = 24;
    const float reach = 1.25f;
    float best = -1.0e10f;
    for (int32_t a = 0; a <= kSamples; a++) {
        for (int32_t b = 0; b <= kSamples; b++) {
            const float dx = reach * (2.0f * float(a) / float(kSamples) - 1.0f);
            const float dz = reach * (2.0f * float(b) / float(kSamples) - 1.0f);
            const float depth = undersideDepth(kind, dx, dz);
            if (depth >= 0.0f) {
                best = std::max(best, terrainHeight(x + dx, z + dz) + depth);
            }
        }
    }
    return best;
}

// extra: room for bodies a benchmark adds. awake: as for the stacks.
inline std::unique_ptr<BenchWorld> buildLattice(bool awake, size_t extra) {
    std::unique_ptr<BenchWorld> scene(new BenchWorld(size_t(kLatticeBodies) + 1 + extra,
                                                     dgVector(-16.0f, -32.0f, -16.0f, 0.0f),
                                                     dgVector(316.0f, 96.0f, 316.0f, 0.0f)));
    dgWorld* world = scene->world();
    benchworld::setDefaultMaterial(world, 0.6f, 0.5f);
    const uint32_t group = world->m_defaultMaterialGroup;

    dgCollision* terrain = buildLatticeTerrain(world);
    scene->add(terrain, 0.0f, dgGetIdentityMatrix(), group, true);
    dgReleaseCollision(world, terrain);

    const float hullPoints[5][3] = {{0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f},
                                    {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
    dgCollision* shapes[4] = {
        dgCreateBox(world, 1.0f, 1.5f, 2.0f, nullptr),
        dgCreateSphere(world, 0.5f, 0.5f, 0.5f, nullptr),
        // The capsule's height is its whole length: the cylinder and both caps.
        dgCreateCapsule(world, 0.5f, 2.5f, nullptr),
        dgCreateConvexHull(world, 5, &hullPoints[0][0], int32_t(3 * sizeof(float)), nullptr),
    };

    // Origin heights of each column, filled layer by layer as the lattice
    // order visits them.
    float columnTop[kLatticeSide][kLatticeSide];
    int32_t serial = 0;
    dgMatrix pose(dgGetIdentityMatrix());
    for (int32_t ix = 0; ix < kLatticeSide; ix++) {
        for (int32_t k = 0; k < kLatticeLayers; k++) {
            for (int32_t iz = 0; iz < kLatticeSide; iz++) {
                const LatticeKind kind = LatticeKind(serial % 4);
                const float x = kTerrainCentre + kLatticePitch * float(ix - kLatticeSide / 2);
                const float z = kTerrainCentre + kLatticePitch * float(iz - kLatticeSide / 2);
                float y;
                if (k == 0) {
                    y = restingHeight(kind, x, z) - kRestingSink;
                } else {
                    y = columnTop[ix][iz] + bottomDepth(kind) - kRestingSink;
                }
                columnTop[ix][iz] = y + topHeight(kind);
                pose.position = dgVector(x, y, z, 1.0f);
                scene->add(shapes[int32_t(kind)], 1.0f, pose, group, awake);
                serial++;
            }
        }
    }
    for (dgCollision* shape : shapes) {
        dgReleaseCollision(world, shape);
    }
    return scene;
}

}  // namespace benchscenes

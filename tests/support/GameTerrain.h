// The game's sea floor as its level body will be built: the generated raw
// height map (build/media/terrain/map257x257.raw), one tree collision of
// 256 x 256 cells, two triangles a cell in the order and winding the 3D
// engine's terrain node hands out for level of detail 0, scaled by 20 / 0.25
// and placed at (0, -12000, 0): the ground over grid point (i, j) at
// raw(i, j) * 0.25 - 12000, where the game's height map has it. Only the
// public header, so the tests and the programs in bench/ share it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dgPhysics.h"

namespace gameterrain {

constexpr int32_t kSide = 257;
constexpr int32_t kPatchCells = 16;
constexpr float kScaleXZ = 20.0f;
constexpr float kScaleY = 0.25f;
constexpr float kOffsetY = -12000.0f;

// Samples of the raw map, sample (i, j) at i * kSide + j (world x = 20 i,
// z = 20 j), 16 bits little-endian; empty when the file is missing or short.
inline std::vector<uint16_t> loadHeightMap(const std::string& path) {
    std::vector<uint16_t> samples;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return samples;
    }
    std::vector<unsigned char> bytes(size_t(kSide) * kSide * 2);
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (got != bytes.size()) {
        return samples;
    }
    samples.resize(size_t(kSide) * kSide);
    for (size_t k = 0; k < samples.size(); k++) {
        samples[k] = uint16_t(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    }
    return samples;
}

// The level body's vertex (i, j) in the tree's own frame: the terrain node's
// unscaled vertex (i, sample, j) taken through the glue's scaling.
inline void vertex(const std::vector<uint16_t>& map, int32_t i, int32_t j, float* out) {
    out[0] = float(i) * kScaleXZ;
    out[1] = float(map[size_t(i) * kSide + size_t(j)]) * kScaleY;
    out[2] = float(j) * kScaleXZ;
}

// Patches of 16 x 16 cells, x-major; inside a patch cells x-major; a cell
// (x, z) gives (x+1, z), (x, z), (x+1, z+1) and (x+1, z+1), (x, z), (x, z+1):
// split along (x, z)-(x+1, z+1), walkable side up.
inline dgCollision* buildTree(dgWorld* world, const std::vector<uint16_t>& map) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const int32_t patches = (kSide - 1) / kPatchCells;
    for (int32_t px = 0; px < patches; px++) {
        for (int32_t pz = 0; pz < patches; pz++) {
            for (int32_t cx = 0; cx < kPatchCells; cx++) {
                for (int32_t cz = 0; cz < kPatchCells; cz++) {
                    const int32_t x = px * kPatchCells + cx;
                    const int32_t z = pz * kPatchCells + cz;
                    float face[9];
                    vertex(map, x + 1, z, face);
                    vertex(map, x, z, face + 3);
                    vertex(map, x + 1, z + 1, face + 6);
                    dgTreeCollisionAddFace(tree, 3, face, 12, 1);
                    vertex(map, x + 1, z + 1, face);
                    vertex(map, x, z, face + 3);
                    vertex(map, x, z + 1, face + 6);
                    dgTreeCollisionAddFace(tree, 3, face, 12, 1);
                }
            }
        }
    }
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

// The game's world values: a minimum frame rate of 30, and the default pair's friction 0.8 / 0.4,
// elasticity 0.3 and softness 0.05.
inline void applyGameWorldValues(dgWorld* world) {
    dgWorldSetMinimumFrameRate(world, 30.0f);
    const uint32_t group = dgMaterialGetDefaultGroupId(world);
    dgMaterialSetDefaultFriction(world, group, group, 0.8f, 0.4f);
    dgMaterialSetDefaultElasticity(world, group, group, 0.3f);
    dgMaterialSetDefaultSoftness(world, group, group, 0.05f);
}

// A box body of the given full sizes and mass, its inertia mass (b^2 + c^2)
// about each axis, as the ship- and torpedo-sized scenes give it.
inline dgBody* createBoxBody(dgWorld* world, const float* size, float mass) {
    dgCollision* box = dgCreateBox(world, size[0], size[1], size[2], nullptr);
    dgBody* body = dgCreateBody(world, box);
    dgReleaseCollision(world, box);
    const float xx = size[0] * size[0], yy = size[1] * size[1], zz = size[2] * size[2];
    dgBodySetMassMatrix(body, mass, mass * (yy + zz), mass * (xx + zz), mass * (xx + yy));
    return body;
}

// The level body as the glue makes it: the tree at (0, -12000, 0), and the
// world box over the terrain up to the sea surface at y = 0.
inline dgBody* createLevelBody(dgWorld* world, const std::vector<uint16_t>& map) {
    dgCollision* tree = buildTree(world, map);
    dgBody* body = dgCreateBody(world, tree);
    float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, kOffsetY, 0, 1};
    dgBodySetMatrix(body, matrix);
    dgReleaseCollision(world, tree);
    dgBodyGetMatrix(body, matrix);
    float minimum[3];
    float maximum[3];
    dgCollisionCalculateAABB(tree, matrix, minimum, maximum);
    maximum[1] = 0.0f;
    dgWorldSetSize(world, minimum, maximum);
    return body;
}

// World height of the level body's surface at (x, z), exactly as its two
// triangles a cell interpolate it; points off the map take the border cell.
inline float surfaceHeight(const std::vector<uint16_t>& map, float x, float z) {
    const double u = double(x) / kScaleXZ;
    const double v = double(z) / kScaleXZ;
    const int32_t i = std::clamp(int32_t(std::floor(u)), 0, kSide - 2);
    const int32_t j = std::clamp(int32_t(std::floor(v)), 0, kSide - 2);
    const double fx = u - i;
    const double fz = v - j;
    auto h = [&](int32_t a, int32_t b) {
        return double(map[size_t(a) * kSide + size_t(b)]) * kScaleY;
    };
    const double h00 = h(i, j);
    const double h11 = h(i + 1, j + 1);
    // Below the diagonal (fx >= fz) the triangle (i+1, j), (i, j), (i+1, j+1).
    const double y = (fx >= fz) ? h00 + fx * (h(i + 1, j) - h00) + fz * (h11 - h(i + 1, j))
                                : h00 + fz * (h(i, j + 1) - h00) + fx * (h11 - h(i, j + 1));
    return float(y + kOffsetY);
}

}  // namespace gameterrain

// The game's sea floor for the benchmarks: a deterministic 257 x 257 height
// map of 16-bit samples, built into a tree collision two triangles a cell as
// the game adds them. Queries run in the soup's own frame.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "dgCollisionPolygonalSoup.h"
#include "dgMemory.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace benchterrain {

constexpr int32_t kSide = 257;
constexpr float kHorizontalScale = 20.0f;
constexpr float kHeightScale = 0.25f;

// Smooth rolling floor: a few octaves of value noise on integer lattices,
// hashed without any library random source so every run sees the same map.
inline uint32_t latticeHash(int32_t x, int32_t z, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(z) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

inline float valueNoise(float x, float z, uint32_t seed) {
    const int32_t x0 = int32_t(x);
    const int32_t z0 = int32_t(z);
    const float fx = x - float(x0);
    const float fz = z - float(z0);
    auto at = [&](int32_t i, int32_t j) {
        return float(latticeHash(x0 + i, z0 + j, seed) & 0xffffu) / 65535.0f;
    };
    const float sx = fx * fx * (3.0f - 2.0f * fx);
    const float sz = fz * fz * (3.0f - 2.0f * fz);
    const float a = at(0, 0) + (at(1, 0) - at(0, 0)) * sx;
    const float b = at(0, 1) + (at(1, 1) - at(0, 1)) * sx;
    return a + (b - a) * sz;
}

inline std::vector<uint16_t> heightMap() {
    std::vector<uint16_t> samples(size_t(kSide) * kSide);
    for (int32_t j = 0; j < kSide; j++) {
        for (int32_t i = 0; i < kSide; i++) {
            float h = 0.0f;
            float amplitude = 0.5f;
            float frequency = 1.0f / 64.0f;
            for (uint32_t octave = 0; octave < 4; octave++) {
                h += amplitude * valueNoise(float(i) * frequency, float(j) * frequency, octave + 1);
                amplitude *= 0.5f;
                frequency *= 2.0f;
            }
            samples[size_t(j) * kSide + size_t(i)] = uint16_t(h * 4000.0f);
        }
    }
    return samples;
}

inline float vertexHeight(const std::vector<uint16_t>& map, int32_t i, int32_t j) {
    return (float(map[size_t(j) * kSide + size_t(i)]) + 1.0f) * kHeightScale;
}

// The terrain as the game builds it: two triangles a cell, walkable side up.
inline dgCollision* buildTerrain(dgWorld* world, const std::vector<uint16_t>& map) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    for (int32_t j = 0; j + 1 < kSide; j++) {
        for (int32_t i = 0; i + 1 < kSide; i++) {
            auto vertex = [&](int32_t a, int32_t b, float* out) {
                out[0] = kHorizontalScale * float(a);
                out[1] = vertexHeight(map, a, b);
                out[2] = kHorizontalScale * float(b);
            };
            float face[9];
            vertex(i, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 12, 1);
            vertex(i + 1, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j + 1, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 12, 1);
        }
    }
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

struct Terrain {
    dgWorld* world;
    dgCollision* shape;
    std::vector<uint16_t> map;

    explicit Terrain(dgAllocMemoryCallback allocate = nullptr, dgFreeMemoryCallback release = nullptr)
        : world(dgWorldCreate(allocate, release)), shape(nullptr), map(heightMap()) {
        shape = buildTerrain(world, map);
    }
    ~Terrain() {
        dgReleaseCollision(world, shape);
        dgWorldDestroy(world);
    }
    const dgTreeCollision* tree() const {
        return static_cast<const dgTreeCollision*>(
            static_cast<const dgCollisionPolygonalSoup*>(shape)->getUserData());
    }
    // A point on the surface inside the map's interior (soup frame).
    dgVector surfacePoint(std::mt19937& rng) const {
        std::uniform_int_distribution<int32_t> cell(8, kSide - 9);
        const int32_t i = cell(rng);
        const int32_t j = cell(rng);
        return dgVector(kHorizontalScale * float(i), vertexHeight(map, i, j), kHorizontalScale * float(j),
                        1.0f);
    }
};

// One terrain for every benchmark of the run, built on first use.
inline Terrain& terrain() {
    static Terrain* shared = new Terrain();
    return *shared;
}

}  // namespace benchterrain

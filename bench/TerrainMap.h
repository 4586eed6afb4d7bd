// The game's sea-floor height map and the height of a triangulated grid,
// free of the engine so that programs using only the public header share
// them with the internal benchmarks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

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

// Height of a grid terrain of `cells` x `cells` square cells of side
// `spacing`, two triangles a cell split along the (i + 1, j)-(i, j + 1)
// diagonal as the benchmark terrains are built; vertexY(i, j) the vertex
// heights. Points off the grid take the nearest border cell.
template <class VertexY>
float gridHeight(float x, float z, float spacing, int32_t cells, const VertexY& vertexY) {
    const float u = x / spacing;
    const float v = z / spacing;
    const int32_t i = std::clamp(int32_t(std::floor(u)), 0, cells - 1);
    const int32_t j = std::clamp(int32_t(std::floor(v)), 0, cells - 1);
    const float fx = u - float(i);
    const float fz = v - float(j);
    if (fx + fz <= 1.0f) {
        const float h00 = vertexY(i, j);
        return h00 + fx * (vertexY(i + 1, j) - h00) + fz * (vertexY(i, j + 1) - h00);
    }
    const float h11 = vertexY(i + 1, j + 1);
    return h11 + (1.0f - fx) * (vertexY(i, j + 1) - h11) + (1.0f - fz) * (vertexY(i + 1, j) - h11);
}

}  // namespace benchterrain

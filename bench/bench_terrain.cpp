// The game's sea floor through the tree collision: a deterministic 257 x 257
// height map of 16-bit samples, 131,072 triangles added one at a time as the
// game adds them, then box gathering for ship-sized boxes, rays, and a save
// and load of the soup. Queries run in the soup's own frame: the game's
// body at (0, -12000, 0) only moves them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <vector>

#include "dgCollisionPolygonalSoup.h"
#include "dgMemory.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace {

constexpr int32_t kSide = 257;
constexpr float kHorizontalScale = 20.0f;
constexpr float kHeightScale = 0.25f;

// Smooth rolling floor: a few octaves of value noise on integer lattices,
// hashed without any library random source so every run sees the same map.
uint32_t latticeHash(int32_t x, int32_t z, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(z) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

float valueNoise(float x, float z, uint32_t seed) {
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

std::vector<uint16_t> heightMap() {
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

float vertexHeight(const std::vector<uint16_t>& map, int32_t i, int32_t j) {
    return (float(map[size_t(j) * kSide + size_t(i)]) + 1.0f) * kHeightScale;
}

// Bytes the engine holds, through counting hooks (the release hook is told
// the size).
size_t g_liveBytes = 0;
void* countingAlloc(uint32_t size) {
    g_liveBytes += size;
    return std::malloc(size);
}
void countingFree(void* ptr, uint32_t size) {
    if (ptr) {
        g_liveBytes -= size;
        std::free(ptr);
    }
}

// The terrain as the game builds it: two triangles a cell, walkable side up.
dgCollision* buildTerrain(dgWorld* world, const std::vector<uint16_t>& map) {
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

    Terrain() : world(dgWorldCreate(countingAlloc, countingFree)), shape(nullptr), map(heightMap()) {
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

Terrain& terrain() {
    static Terrain* shared = new Terrain();
    return *shared;
}

void BM_TerrainBuild(benchmark::State& state) {
    const std::vector<uint16_t> map(heightMap());
    dgWorld* world = dgWorldCreate(countingAlloc, countingFree);
    size_t bytes = 0;
    int32_t depth = 0;
    for (auto _ : state) {
        const size_t before = g_liveBytes;
        dgCollision* tree = buildTerrain(world, map);
        bytes = g_liveBytes - before;
        depth = static_cast<const dgTreeCollision*>(
                    static_cast<const dgCollisionPolygonalSoup*>(tree)->getUserData())
                    ->getTreeDepth();
        dgReleaseCollision(world, tree);
    }
    dgWorldDestroy(world);
    state.counters["bytes"] = double(bytes);
    state.counters["treeDepth"] = double(depth);
    state.counters["faces"] = double(2 * (kSide - 1) * (kSide - 1));
}
BENCHMARK(BM_TerrainBuild)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_TerrainGatherShipBox(benchmark::State& state) {
    Terrain& t = terrain();
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> sx(6.0f, 36.0f), sy(3.0f, 10.0f), sz(10.0f, 16.0f);
    std::vector<dgVector> lows, highs;
    for (int32_t k = 0; k < 1024; k++) {
        const dgVector c(t.surfacePoint(rng));
        const dgVector h(sx(rng) * 0.5f, sy(rng) * 0.5f, sz(rng) * 0.5f, 0.0f);
        lows.push_back(dgVector(c.x - h.x, c.y - h.y, c.z - h.z, 1.0f));
        highs.push_back(dgVector(c.x + h.x, c.y + h.y, c.z + h.z, 1.0f));
    }
    static dgPolygonSoupCollideDesc desc;
    const dgCollisionPolygonalSoup* soup = static_cast<const dgCollisionPolygonalSoup*>(t.shape);
    int64_t faces = 0;
    size_t k = 0;
    for (auto _ : state) {
        desc.m_boxMin = lows[k];
        desc.m_boxMax = highs[k];
        desc.m_soupBody = nullptr;
        desc.m_otherBody = nullptr;
        faces += soup->gatherFaces(desc);
        k = (k + 1) % lows.size();
    }
    state.counters["facesPerBox"] = double(faces) / double(state.iterations());
}
BENCHMARK(BM_TerrainGatherShipBox);

void rayBench(benchmark::State& state, float slant) {
    Terrain& t = terrain();
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> side(-1.0f, 1.0f);
    std::vector<dgVector> starts, ends;
    for (int32_t k = 0; k < 1024; k++) {
        const dgVector p(t.surfacePoint(rng));
        const dgVector drift(slant * side(rng), 0.0f, slant * side(rng), 0.0f);
        starts.push_back(dgVector(p.x - drift.x, p.y + 500.0f, p.z - drift.z, 1.0f));
        ends.push_back(dgVector(p.x + drift.x, p.y - 500.0f, p.z + drift.z, 1.0f));
    }
    int64_t hits = 0;
    size_t k = 0;
    for (auto _ : state) {
        dgContactPoint contact;
        hits += (t.shape->rayCast(starts[k], ends[k], contact, nullptr, nullptr, nullptr) <= 1.0f) ? 1 : 0;
        k = (k + 1) % starts.size();
    }
    state.counters["hitRatio"] = double(hits) / double(state.iterations());
}

void BM_TerrainVerticalRay(benchmark::State& state) {
    rayBench(state, 0.0f);
}
BENCHMARK(BM_TerrainVerticalRay);

void BM_TerrainSlantedRay(benchmark::State& state) {
    rayBench(state, 400.0f);
}
BENCHMARK(BM_TerrainSlantedRay);

void BM_TerrainSaveLoad(benchmark::State& state) {
    Terrain& t = terrain();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        bytes.clear();
        t.tree()->serialize(
            [](void* user, const void* buffer, size_t count) {
                std::vector<uint8_t>& out = *static_cast<std::vector<uint8_t>*>(user);
                const uint8_t* b = static_cast<const uint8_t*>(buffer);
                out.insert(out.end(), b, b + count);
            },
            &bytes);
        struct Reader {
            const std::vector<uint8_t>* bytes;
            size_t at;
        } reader{&bytes, 0};
        dgTreeCollision loaded(t.world, nullptr);
        const bool ok = loaded.deserialize(
            [](void* user, void* buffer, size_t count) -> size_t {
                Reader& r = *static_cast<Reader*>(user);
                const size_t n = std::min(count, r.bytes->size() - r.at);
                std::memcpy(buffer, r.bytes->data() + r.at, n);
                r.at += n;
                return n;
            },
            &reader);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_TerrainSaveLoad)->Unit(benchmark::kMillisecond);

}  // namespace

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

#include "BenchTerrain.h"

namespace {

using namespace benchterrain;

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
        dgSetDescVector(desc.m_boxMin, lows[k]);
        dgSetDescVector(desc.m_boxMax, highs[k]);
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
            [](void* user, const void* buffer, uint32_t count) {
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
            [](void* user, void* buffer, uint32_t count) -> uint32_t {
                Reader& r = *static_cast<Reader*>(user);
                const size_t n = std::min(size_t(count), r.bytes->size() - r.at);
                std::memcpy(buffer, r.bytes->data() + r.at, n);
                r.at += n;
                return uint32_t(n);
            },
            &reader);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_TerrainSaveLoad)->Unit(benchmark::kMillisecond);

}  // namespace

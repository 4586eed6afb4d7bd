// The game's sea floor for the benchmarks: a deterministic 257 x 257 height
// map of 16-bit samples, built into a tree collision two triangles a cell as
// the game adds them. Queries run in the soup's own frame.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "GridTree.h"
#include "TerrainMap.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgMemory.h"
#include "dgTreeCollision.h"
#include "dgWorld.h"

namespace benchterrain {

// The terrain as the game builds it: two triangles a cell, walkable side up.
inline dgCollision* buildTerrain(dgWorld* world, const std::vector<uint16_t>& map) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    addGridFaces(tree, kSide - 1, kHorizontalScale, 0.0f, 0.0f, 0.0f,
                 [&](int32_t i, int32_t j) { return vertexHeight(map, i, j); });
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

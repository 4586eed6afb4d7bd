#include "client/engine/RawTerrain.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace tarnwell {
namespace scene {

namespace {

// The engine takes a memory file of at most 2^31 - 1 bytes of floats.
constexpr int64_t kLargestSide = 23170;

// Side of the square grid that `bytes` bytes of 16-bit samples make, or 0.
int64_t gridSide(long bytes) {
    if (bytes < 8 || bytes % 2 != 0) {
        return 0;
    }
    const int64_t samples = bytes / 2;
    int64_t side = static_cast<int64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
    return (side * side == samples && side <= kLargestSide) ? side : 0;
}

// The whole file, or nothing when it cannot be read in full.
std::vector<uint8_t> readAll(irr::io::IFileSystem* files, const irr::io::path& path) {
    std::vector<uint8_t> bytes;
    irr::io::IReadFile* file = files->createAndOpenFile(path);
    if (file == nullptr) {
        return bytes;
    }
    const long size = file->getSize();
    if (gridSide(size) != 0) {
        bytes.resize(static_cast<size_t>(size));
        if (file->read(bytes.data(), static_cast<irr::u32>(size)) != static_cast<irr::s32>(size)) {
            bytes.clear();
        }
    }
    file->drop();
    return bytes;
}

}  // namespace

irr::scene::ITerrainSceneNode* addRawTerrainSceneNode(irr::scene::ISceneManager* manager,
                                                      const irr::io::path& path,
                                                      irr::scene::ISceneNode* parent, irr::s32 id,
                                                      const irr::core::vector3df& position,
                                                      const irr::core::vector3df& rotation,
                                                      const irr::core::vector3df& scale,
                                                      irr::video::SColor vertexColor, irr::s32 maxLOD,
                                                      irr::scene::E_TERRAIN_PATCH_SIZE patchSize) {
    if (manager == nullptr) {
        return nullptr;
    }
    irr::io::IFileSystem* files = manager->getFileSystem();
    const std::vector<uint8_t> bytes = readAll(files, path);
    const int64_t side = gridSide(static_cast<long>(bytes.size()));
    if (side == 0) {
        return nullptr;
    }
    // Every 16-bit value is exact in a float.
    std::vector<irr::f32> heights(bytes.size() / 2);
    for (size_t k = 0; k < heights.size(); ++k) {
        heights[k] = static_cast<irr::f32>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    }
    irr::io::IReadFile* floats = files->createMemoryReadFile(
        heights.data(), static_cast<irr::s32>(heights.size() * sizeof(irr::f32)), path, false);
    if (floats == nullptr) {
        return nullptr;
    }
    // An empty node first: the engine's own file overload reads images only.
    irr::scene::ITerrainSceneNode* node =
        manager->addTerrainSceneNode(static_cast<irr::io::IReadFile*>(nullptr), parent, id, position, rotation,
                                     scale, vertexColor, maxLOD, patchSize, 0, true);
    const bool loaded =
        (node != nullptr) &&
        node->loadHeightMapRAW(floats, 32, false, true, static_cast<irr::s32>(side), vertexColor, 0);
    floats->drop();
    if (!loaded) {
        if (node != nullptr) {
            node->remove();
        }
        return nullptr;
    }
    return node;
}

}  // namespace scene
}  // namespace tarnwell

#include "client/heightmap.h"

#include "client/constants.h"

#include <cmath>
#include <cstdio>

namespace {

// Bytes of a 257 x 257 grid of 16-bit samples: the side depends on the
// sample width only, never on the file's length.
constexpr int32_t kGridBytes = 132098;

// Cell index in [0, cells - 1] and fraction in [0, 1] of grid coordinate g
// on a grid of `cells` cells: a point off the grid (or not a number) takes
// the nearest point of its edge.
void locate(double g, int32_t cells, int32_t& cell, double& fraction) {
    if (!(g > 0.0)) {
        cell = 0;
        fraction = 0.0;
    } else if (g >= cells) {
        cell = cells - 1;
        fraction = 1.0;
    } else {
        cell = static_cast<int32_t>(std::floor(g));
        fraction = g - cell;
    }
}

}  // namespace

HeightMap::HeightMap(const char* path, int32_t bitsPerSample) {
    FILE* file = (path != nullptr) ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        return;
    }
    const int32_t width = bitsPerSample / 8;
    if (width == 1 || width == 2) {
        const int32_t grid = static_cast<int32_t>(std::sqrt(static_cast<float>(kGridBytes / width)));
        const size_t count = static_cast<size_t>(grid) * static_cast<size_t>(grid);
        // Zero-filled, so whatever a short file leaves out reads as 0.
        std::vector<uint8_t> bytes(count * static_cast<size_t>(width), 0);
        (void)std::fread(bytes.data(), 1, bytes.size(), file);
        // A read that fails (a folder opens, but reads nothing) is no map.
        if (std::ferror(file) == 0) {
            bytesPerSample = width;
            side = grid;
            samples.resize(count);
            for (size_t k = 0; k < count; ++k) {
                samples[k] =
                    (width == 1) ? bytes[k] : static_cast<uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
            }
        }
    }
    std::fclose(file);
}

HeightMap::~HeightMap() = default;

irr::f32 HeightMap::getHeight(const irr::core::vector3df& position) {
    if (side < 2) {
        return TERRAIN_POSITION.Y;
    }
    if (hasCachedHeight && position.X == lastQuery.X && position.Z == lastQuery.Z) {
        return cachedHeight;
    }
    int32_t ix = 0;
    int32_t iz = 0;
    double fx = 0.0;
    double fz = 0.0;
    locate(static_cast<double>(position.X) / TERRAIN_SCALE_XZ, side - 1, ix, fx);
    locate(static_cast<double>(position.Z) / TERRAIN_SCALE_XZ, side - 1, iz, fz);
    const size_t row = static_cast<size_t>(ix) * static_cast<size_t>(side) + static_cast<size_t>(iz);
    const size_t next = row + static_cast<size_t>(side);
    // In double, so that the blend of four samples never leaves their range
    // once rounded back to float.
    const double height = TERRAIN_SCALE_Y * (samples[row] * (1.0 - fx) * (1.0 - fz) +
                                             samples[row + 1] * (1.0 - fx) * fz +
                                             samples[next] * fx * (1.0 - fz) + samples[next + 1] * fx * fz) +
                          TERRAIN_POSITION.Y;
    lastQuery = position;
    cachedHeight = static_cast<irr::f32>(height);
    hasCachedHeight = true;
    return cachedHeight;
}

irr::s32 HeightMap::getSize() const {
    return side;
}

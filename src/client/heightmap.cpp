#include "client/heightmap.h"

#include "client/constants.h"
#include "platform/regularfile.h"

#include <algorithm>
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
    FILE* file = fopenRegularFile(path);
    if (file == nullptr) {
        return;
    }
    const int32_t width = bitsPerSample / 8;
    if (width == 1 || width == 2) {
        const int32_t grid = static_cast<int32_t>(std::sqrt(static_cast<float>(kGridBytes / width)));
        const size_t count = static_cast<size_t>(grid) * static_cast<size_t>(grid);
        // Whatever a short file leaves out stays 0, half a last sample included.
        std::vector<uint16_t> read(count);
        const size_t bytes = static_cast<size_t>(width);
        uint8_t chunk[4096];  // whole samples of either width
        size_t k = 0;
        while (k < count) {
            const size_t wanted = std::min(sizeof(chunk), (count - k) * bytes);
            const size_t got = std::fread(chunk, 1, wanted, file);
            for (size_t b = 0; b < got; ++b) {
                read[k + b / bytes] |= static_cast<uint16_t>(chunk[b] << (8 * (b % bytes)));
            }
            k += got / bytes;
            if (got < wanted) {
                break;
            }
        }
        // A read that fails (a folder opens, but reads nothing) is no map.
        if (std::ferror(file) == 0) {
            bytesPerSample = width;
            side = grid;
            samples.swap(read);
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

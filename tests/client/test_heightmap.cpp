// The height map against a brute-force bilinear reference in double, on
// full, short, long and empty files of one- and two-byte samples (a width in
// bits rounded down to whole bytes), and the game's terrain node against the
// height map on the generated sea floor.
#include "client/heightmap.h"

#include "client/constants.h"
#include "client/engine/RawTerrain.h"

#include "FileTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using irr::core::vector3df;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

// A scratch folder for the test's files, removed at the end.
struct Scratch {
    Scratch() {
        char pattern[] = "/tmp/tarnwell-heightmap-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    ~Scratch() { std::filesystem::remove_all(folder); }
    std::string write(const std::string& bytes) const {
        testsupport::writeFile(folder + "/map.raw", bytes);
        return folder + "/map.raw";
    }
    std::string folder;
};

// World height at (x, z) from samples read as the file format says (missing
// ones 0): the point clamped onto the map (NaN to 0), then every sample
// weighted by the tent functions around it.
double referenceHeight(const std::vector<double>& samples, int32_t side, float x, float z) {
    const auto grid = [side](float c) {
        return std::clamp(std::isnan(c) ? 0.0 : static_cast<double>(c) / 20.0, 0.0, side - 1.0);
    };
    const double u = grid(x);
    const double v = grid(z);
    double sum = 0.0;
    for (int32_t i = std::max(0, static_cast<int32_t>(u) - 1); i <= std::min(side - 1, static_cast<int32_t>(u) + 1); ++i) {
        for (int32_t j = std::max(0, static_cast<int32_t>(v) - 1); j <= std::min(side - 1, static_cast<int32_t>(v) + 1);
             ++j) {
            const double weight = std::max(0.0, 1.0 - std::abs(u - i)) * std::max(0.0, 1.0 - std::abs(v - j));
            sum += weight * samples[static_cast<size_t>(i) * side + j];
        }
    }
    return sum * 0.25 - 12000.0;
}

struct MapFile {
    const char* name;
    int32_t bits;
    int32_t side;  // as the sample width sets it
    size_t length;  // of the file, bytes
};

class HeightMapFiles : public testing::TestWithParam<MapFile> {};

// Queries on the map, off it, at grid points (exact), non-finite, and
// repeated at the last x and z with another y (the cache), starting at
// (0, 0), which the cache must not answer before anything was computed, and
// at the last sample the file reaches (half of it, for an odd length).
TEST_P(HeightMapFiles, AnswerTheBilinearBlendOfTheSamplesRead) {
    const MapFile& file = GetParam();
    const int32_t width = file.bits / 8;
    std::mt19937 random(146 + file.bits + static_cast<uint32_t>(file.length));
    std::string bytes(file.length, '\0');
    for (char& b : bytes) {
        b = static_cast<char>(random());
    }
    std::vector<double> samples(static_cast<size_t>(file.side) * file.side, 0.0);
    for (size_t at = 0; at < std::min(bytes.size(), samples.size() * width); ++at) {
        samples[at / width] += static_cast<uint8_t>(bytes[at]) * (at % width == 0 ? 1.0 : 256.0);
    }
    const Scratch scratch;
    HeightMap map(scratch.write(bytes).c_str(), file.bits);
    ASSERT_EQ(map.getSize(), file.side);

    const float edge = 20.0f * (file.side - 1);
    std::uniform_real_distribution<float> onMap(0.0f, edge);
    std::uniform_real_distribution<float> anywhere(-0.5f * edge, 1.5f * edge);
    std::uniform_int_distribution<int32_t> index(0, file.side - 1);
    const float wild[] = {NaN, Inf, -Inf, 3e38f, -3e38f, -0.0f, edge, std::nextafter(edge, 0.0f)};
    vector3df p(0.0f, 0.0f, 0.0f);
    for (int32_t n = 0; n < 6000; ++n) {
        const int32_t kind = n == 0 ? -1 : static_cast<int32_t>(random() % 6);
        bool gridPoint = n == 1;
        if (n == 1) {
            const int32_t last = std::min(static_cast<int32_t>(samples.size()) - 1,
                                          static_cast<int32_t>(file.length / width));
            p = vector3df(20.0f * (last / file.side), 0.0f, 20.0f * (last % file.side));
        } else if (kind == 0) {
            p = vector3df(onMap(random), onMap(random), onMap(random));
        } else if (kind == 1) {
            p = vector3df(anywhere(random), anywhere(random), anywhere(random));
        } else if (kind == 2) {
            p = vector3df(20.0f * index(random), anywhere(random), 20.0f * index(random));
            gridPoint = true;
        } else if (kind == 3) {
            p.Y = anywhere(random);
        } else if (kind == 4) {
            p = vector3df(wild[random() % 8], 0.0f, (random() % 2) ? anywhere(random) : wild[random() % 8]);
        } else if (kind == 5) {
            p = vector3df(20.0f * index(random) + 10.0f, 0.0f, 20.0f * index(random) + 10.0f);
        }
        const float height = map.getHeight(p);
        const double expected = referenceHeight(samples, file.side, p.X, p.Z);
        ASSERT_NEAR(height, expected, 2e-3) << n << ": " << p.X << ", " << p.Z;
        if (gridPoint) {
            ASSERT_EQ(height, static_cast<float>(expected)) << n << ": " << p.X << ", " << p.Z;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(HeightMap, HeightMapFiles,
                         testing::Values(MapFile{"Full16", 16, 257, 132098}, MapFile{"Short16", 16, 257, 40001},
                                         MapFile{"Long16", 16, 257, 132198}, MapFile{"Zero16", 16, 257, 0},
                                         MapFile{"Full8", 8, 363, 131769}, MapFile{"Short8", 8, 363, 999},
                                         // A width is whole bytes, rounded down.
                                         MapFile{"Full12", 12, 363, 131769}, MapFile{"Short15", 15, 363, 5000},
                                         MapFile{"Full23", 23, 257, 132098}),
                         [](const testing::TestParamInfo<MapFile>& info) { return std::string(info.param.name); });

TEST(HeightMap, NoFileOrAnotherSampleWidthLeavesAnEmptyMapAt12000Below) {
    const Scratch scratch;
    const std::string path = scratch.write(std::string(132098, '\x7f'));
    struct Case {
        std::string path;
        int32_t bits;
    };
    const Case cases[] = {{scratch.folder + "/missing.raw", 16}, {path, 24}, {path, 32}, {path, 0},
                          {path, 7}, {path, -8}, {path, -16}, {scratch.folder, 16}};
    for (const Case& c : cases) {
        HeightMap map(c.path.c_str(), c.bits);
        EXPECT_EQ(map.getSize(), 0) << c.path << " " << c.bits;
        for (float x : {0.0f, 100.0f, -1e9f, NaN, Inf}) {
            EXPECT_EQ(map.getHeight(vector3df(x, 5.0f, 40.0f)), -12000.0f) << c.bits << " " << x;
        }
    }
    HeightMap none(nullptr, 16);
    EXPECT_EQ(none.getSize(), 0);
}

// One height for the terrain: the engine's node, made from the generated
// sea floor with the game's arguments, stands where the height map says at
// every grid point, the valley floor included (-4000; the engine's own raw
// loader would put it near -11969). Its mesh, which the level body is built
// from, holds vertex (i, j) at (i, raw(i, j), j): no mirror, no swap, no
// smoothing (the valley is off-centre in x and z).
TEST(HeightMap, GameTerrainNodeStandsAtTheHeightMapsHeights) {
    const std::string path = TARNWELL_MEDIA_DIR "/terrain/map257x257.raw";
    HeightMap map(path.c_str(), 16);
    ASSERT_EQ(map.getSize(), 257);
    EXPECT_EQ(map.getHeight(vector3df(20.0f * 130, 0.0f, 20.0f * 190)), -4000.0f);
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    irr::scene::ITerrainSceneNode* node = tarnwell::scene::addRawTerrainSceneNode(
        device->getSceneManager(), path.c_str(), nullptr, -1, TERRAIN_POSITION, vector3df(0.0f, 0.0f, 0.0f),
        vector3df(TERRAIN_SCALE_XZ, TERRAIN_SCALE_Y, TERRAIN_SCALE_XZ), irr::video::SColor(255, 255, 255, 255), 4,
        irr::scene::ETPS_17);
    ASSERT_NE(node, nullptr);
    irr::scene::IMeshBuffer* mesh = node->getMesh()->getMeshBuffer(0);
    ASSERT_EQ(mesh->getVertexCount(), 257u * 257u);
    int32_t differing = 0;
    for (int32_t i = 0; i < 257; ++i) {
        for (int32_t j = 0; j < 257; ++j) {
            const float x = TERRAIN_SCALE_XZ * i;
            const float z = TERRAIN_SCALE_XZ * j;
            const float height = map.getHeight(vector3df(x, 0.0f, z));
            const vector3df vertex = mesh->getPosition(i * 257 + j);
            differing += (vertex.X != i || vertex.Z != j ||
                          vertex.Y * TERRAIN_SCALE_Y + TERRAIN_POSITION.Y != height) ? 1 : 0;
            // The engine answers inside the grid only, without its last row and column.
            differing += (i < 256 && j < 256 && node->getHeight(x, z) != height) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    device->drop();
}

}  // namespace

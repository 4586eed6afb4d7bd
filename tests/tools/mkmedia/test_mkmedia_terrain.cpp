// The generated sea floor read back: the raw height map's floor, limits and
// smoothness; the menu terrain image as both the engine's terrain (lightness,
// mirrored) and the grass (blue) read it; the radar terrain's orientation;
// tiling textures; the grass blades.
#include "TextureTestUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

using texturetest::loadPixels;
using texturetest::Pixels;

namespace {

constexpr int32_t kSide = 257;

// Sample (i, j): row i is the grid's x index, j the z index.
class MkmediaRawMap : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::vector<uint8_t> bytes =
            texturetest::readFile(texturetest::mediaPath("terrain/map257x257.raw"));
        samples = new std::vector<uint16_t>();
        for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
            samples->push_back(static_cast<uint16_t>(bytes[k] | (bytes[k + 1] << 8)));
        }
        byteCount = bytes.size();
    }
    static void TearDownTestSuite() {
        delete samples;
        samples = nullptr;
    }
    static int32_t at(int32_t x, int32_t z) { return (*samples)[static_cast<size_t>(x) * kSide + z]; }
    static bool inValley(int32_t x, int32_t z) { return x >= 120 && x <= 145 && z >= 180 && z <= 205; }

    static std::vector<uint16_t>* samples;
    static size_t byteCount;
};

std::vector<uint16_t>* MkmediaRawMap::samples = nullptr;
size_t MkmediaRawMap::byteCount = 0;

TEST_F(MkmediaRawMap, ValleyFloorIsFlatAt32000AndLowerThanItsRim) {
    ASSERT_EQ(byteCount, static_cast<size_t>(kSide) * kSide * sizeof(uint16_t));
    for (int32_t x = 120; x <= 145; ++x) {
        for (int32_t z = 180; z <= 205; ++z) {
            ASSERT_EQ(at(x, z), 32000) << x << ", " << z;
        }
    }
    // A basin: the ground just around the floor is not below it.
    for (int32_t x = 115; x <= 150; ++x) {
        for (int32_t z = 175; z <= 210; ++z) {
            EXPECT_GE(at(x, z), 32000) << x << ", " << z;
        }
    }
    // The valley is where the floor lies: x 2400-2900, z 3600-4100 in world
    // units; the transposed spot is ordinary hill country.
    int32_t flat = 0;
    for (int32_t x = 180; x <= 205; ++x) {
        for (int32_t z = 120; z <= 145; ++z) {
            flat += at(x, z) == 32000 ? 1 : 0;
        }
    }
    EXPECT_LT(flat, 26 * 26 / 2);
}

TEST_F(MkmediaRawMap, HillsStayWithinTheirBandAndAreSmooth) {
    ASSERT_EQ(samples->size(), static_cast<size_t>(kSide) * kSide);
    int32_t lowest = 65535;
    int32_t highest = 0;
    int32_t steepest = 0;
    for (int32_t x = 0; x < kSide; ++x) {
        for (int32_t z = 0; z < kSide; ++z) {
            lowest = std::min(lowest, at(x, z));
            highest = std::max(highest, at(x, z));
            if (x + 1 < kSide) {
                steepest = std::max(steepest, std::abs(at(x + 1, z) - at(x, z)));
            }
            if (z + 1 < kSide) {
                steepest = std::max(steepest, std::abs(at(x, z + 1) - at(x, z)));
            }
        }
    }
    EXPECT_GE(lowest, 28000);
    EXPECT_LE(highest, 40000);
    EXPECT_LE(highest, 44000);
    EXPECT_GT(highest - lowest, 8000);  // hills, not a plain
    // 300 raw is 75 units of height over 20 units of ground.
    EXPECT_LE(steepest, 300);
}

// ---- Images made from heights ----------------------------------------------

int32_t lightness(const irr::video::SColor& c) {
    const int32_t high = std::max({c.getRed(), c.getGreen(), c.getBlue()});
    const int32_t low = std::min({c.getRed(), c.getGreen(), c.getBlue()});
    return (high + low) / 2;
}

TEST(MkmediaMenuTerrain, TerrainAndGrassReadTheSameHeights) {
    const Pixels image = loadPixels("terrain/t33x33.jpg");
    ASSERT_EQ(image.width, 33);
    for (int32_t z = 0; z < 33; ++z) {
        for (int32_t x = 0; x < 33; ++x) {
            const irr::video::SColor c = image.at(x, z);
            const irr::video::SColor mirror = image.at(32 - x, z);
            EXPECT_LE(std::abs(lightness(c) - static_cast<int32_t>(c.getBlue())), 1) << x << ", " << z;
            EXPECT_LE(std::abs(static_cast<int32_t>(c.getBlue()) - static_cast<int32_t>(mirror.getBlue())), 1)
                << x << ", " << z;
            // So the terrain (lightness of pixel (32 - x, z) at vertex (x, z)) and
            // the grass (blue of pixel (x, z)) meet within both allowances.
            EXPECT_LE(std::abs(lightness(mirror) - static_cast<int32_t>(c.getBlue())), 2) << x << ", " << z;
        }
    }
}

TEST(MkmediaMenuTerrain, DomeHighInTheMiddleLowAtTheRim) {
    const Pixels image = loadPixels("terrain/t33x33.jpg");
    ASSERT_EQ(image.width, 33);
    EXPECT_NEAR(static_cast<double>(image.at(16, 16).getBlue()), 110.0, 5.0);
    for (int32_t k = 0; k < 33; ++k) {
        for (const auto& p :
             {std::make_pair(k, 0), std::make_pair(k, 32), std::make_pair(0, k), std::make_pair(32, k)}) {
            const int32_t h = lightness(image.at(p.first, p.second));
            EXPECT_GE(h, 40) << p.first << ", " << p.second;
            EXPECT_LE(h, 80) << p.first << ", " << p.second;
        }
    }
}

TEST(MkmediaRadarTerrain, EveryFourthSampleNormalisedAndMirrored) {
    const Pixels image = loadPixels("terrain/t65x65.jpg");
    ASSERT_EQ(image.width, 65);
    const std::vector<uint8_t> bytes =
        texturetest::readFile(texturetest::mediaPath("terrain/map257x257.raw"));
    ASSERT_EQ(bytes.size(), static_cast<size_t>(kSide) * kSide * 2);
    auto sample = [&](int32_t x, int32_t z) {
        const size_t k = (static_cast<size_t>(x) * kSide + z) * 2;
        return static_cast<double>(bytes[k] | (bytes[k + 1] << 8));
    };
    double low = 1e9;
    double high = -1e9;
    for (int32_t x = 0; x < 65; ++x) {
        for (int32_t z = 0; z < 65; ++z) {
            low = std::min(low, sample(4 * x, 4 * z));
            high = std::max(high, sample(4 * x, 4 * z));
        }
    }
    double worst = 0.0;
    double total = 0.0;
    double worstUnmirrored = 0.0;
    for (int32_t x = 0; x < 65; ++x) {
        for (int32_t z = 0; z < 65; ++z) {
            const double expected = 255.0 * (sample(4 * x, 4 * z) - low) / (high - low);
            // Vertex (x, z) of an image terrain takes pixel (64 - x, z).
            const double error = std::abs(lightness(image.at(64 - x, z)) - expected);
            worst = std::max(worst, error);
            total += error;
            worstUnmirrored = std::max(worstUnmirrored, std::abs(lightness(image.at(x, z)) - expected));
        }
    }
    // Within the encoder's noise.
    EXPECT_LE(worst, 8.0);
    EXPECT_LE(total / (65.0 * 65.0), 1.5);
    EXPECT_GT(worstUnmirrored, 20.0);
}

// ---- Tiling textures -------------------------------------------------------

double channelGap(const Pixels& image, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const irr::video::SColor a = image.at(x1, y1);
    const irr::video::SColor b = image.at(x2, y2);
    return std::abs(static_cast<double>(a.getRed()) - b.getRed()) +
           std::abs(static_cast<double>(a.getGreen()) - b.getGreen()) +
           std::abs(static_cast<double>(a.getBlue()) - b.getBlue());
}

class MkmediaTiling : public testing::TestWithParam<const char*> {};

TEST_P(MkmediaTiling, WrapEdgesMatchLikeNeighbours) {
    const Pixels image = loadPixels(GetParam());
    ASSERT_GT(image.width, 0);
    const int32_t w = image.width;
    const int32_t h = image.height;
    double seamX = 0.0;
    double seamY = 0.0;
    double inside = 0.0;
    for (int32_t k = 0; k < h; ++k) {
        seamX += channelGap(image, w - 1, k, 0, k);
        for (int32_t x = 0; x + 1 < w; ++x) {
            inside += channelGap(image, x, k, x + 1, k);
        }
    }
    for (int32_t k = 0; k < w; ++k) {
        seamY += channelGap(image, k, h - 1, k, 0);
    }
    seamX /= h;
    seamY /= w;
    inside /= static_cast<double>(h) * (w - 1);
    EXPECT_LE(seamX, 1.5 * inside + 1.0);
    EXPECT_LE(seamY, 1.5 * inside + 1.0);
}

INSTANTIATE_TEST_SUITE_P(All, MkmediaTiling,
                         testing::Values("terrain/rockground.jpg", "terrain/detailmap3.jpg"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return texturetest::testName(info.param);
                         });

TEST(MkmediaDetailMap, GreyCentredOn128) {
    const Pixels image = loadPixels("terrain/detailmap3.jpg");
    ASSERT_GT(image.width, 0);
    double sum = 0.0;
    for (const irr::video::SColor& c : image.data) {
        sum += c.getRed();
        EXPECT_LE(std::abs(static_cast<int32_t>(c.getRed()) - static_cast<int32_t>(c.getBlue())), 2);
    }
    EXPECT_NEAR(sum / image.data.size(), 128.0, 1.0);
}

// ---- Grass -----------------------------------------------------------------

TEST(MkmediaGrass, BladeCellHoldsATuftRootedOnItsBottomEdge) {
    const Pixels image = loadPixels("terrain/grass.png");
    ASSERT_EQ(image.width, 256);
    // Cell (1, 0): x 64-127, y 0-63; blades use its full height, roots on y 63.
    int32_t rooted = 0;
    int32_t tallest = 64;
    int32_t onCellEdge = 0;
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 64; x < 128; ++x) {
            if (!image.painted(x, y)) {
                continue;
            }
            tallest = std::min(tallest, y);
            rooted += y == 63 ? 1 : 0;
            onCellEdge += (x == 64 || x == 127 || y == 0) ? 1 : 0;
        }
    }
    EXPECT_GT(rooted, 3);
    EXPECT_LT(tallest, 32);    // reaches over half the cell
    EXPECT_EQ(onCellEdge, 0);  // filtering does not pull it into a neighbour
    // Every lit column of the tuft's crown grows from a lit root below it.
    for (int32_t x = 64; x < 128; ++x) {
        if (image.painted(x, 40)) {
            bool grounded = false;
            for (int32_t dx = -12; dx <= 12 && !grounded; ++dx) {
                grounded = x + dx >= 64 && x + dx < 128 && image.painted(x + dx, 63);
            }
            EXPECT_TRUE(grounded) << x;
        }
    }
}

}  // namespace

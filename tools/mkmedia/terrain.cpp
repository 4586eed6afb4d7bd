// The sea floor: the game's raw height map and the images made from it, the
// menu's small terrain, the rock and detail textures and the grass blades.
//
// Raw map orientation: the file holds 257 rows of 257 samples; row i is the
// grid's x index (world x = 20 i) and sample j within it the z index (world
// z = 20 j), so sample (i, j) sits at offset 2 (257 i + j).
//
// Image terrains are mirrored in x by the engine: vertex (x, z) takes pixel
// (size - 1 - x, z). Images that build a terrain are written pre-mirrored (or
// symmetric); images that only feed the grass are read at pixel (x, z).
#include "paint.h"
#include "platform/assertion.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace mkmedia {

namespace {

constexpr int32_t kSide = 257;
constexpr double kFloor = 32000.0;  // y = 32000 / 4 - 12000 = -4000
// The flat valley under the ships and the station, inclusive grid bounds.
constexpr int32_t kValleyX1 = 120;
constexpr int32_t kValleyX2 = 145;
constexpr int32_t kValleyZ1 = 180;
constexpr int32_t kValleyZ2 = 205;
constexpr double kHillLow = 28800.0;
constexpr double kHillHigh = 39000.0;
constexpr double kValleyRim = 34000.0;

class HeightField {
public:
    HeightField() : samples(static_cast<size_t>(kSide) * kSide) {}
    uint16_t at(int32_t x, int32_t z) const { return samples[static_cast<size_t>(x) * kSide + z]; }
    uint16_t& at(int32_t x, int32_t z) { return samples[static_cast<size_t>(x) * kSide + z]; }
    uint16_t lowest() const { return *std::min_element(samples.begin(), samples.end()); }
    uint16_t highest() const { return *std::max_element(samples.begin(), samples.end()); }

    std::vector<uint16_t> samples;
};

double distanceToValley(int32_t x, int32_t z) {
    const double dx = std::max({kValleyX1 - x, 0, x - kValleyX2});
    const double dz = std::max({kValleyZ1 - z, 0, z - kValleyZ2});
    return std::sqrt(dx * dx + dz * dz);
}

// Rolling hills of fractal noise; around the valley the ground rises to a
// rim and then falls smoothly to the flat floor, so the valley is a basin.
HeightField makeHeights() {
    Random random(0x5EAF100Bull);
    const TileNoise noise(random, 2, 4, 0.45);
    std::vector<double> raw(static_cast<size_t>(kSide) * kSide);
    for (int32_t x = 0; x < kSide; ++x) {
        for (int32_t z = 0; z < kSide; ++z) {
            raw[static_cast<size_t>(x) * kSide + z] = noise.at(x / 256.0, z / 256.0);
        }
    }
    const auto range = std::minmax_element(raw.begin(), raw.end());
    const double low = *range.first;
    const double span = *range.second - low;
    HeightField field;
    for (int32_t x = 0; x < kSide; ++x) {
        for (int32_t z = 0; z < kSide; ++z) {
            const double n = (raw[static_cast<size_t>(x) * kSide + z] - low) / span;
            double hill = kHillLow + n * (kHillHigh - kHillLow);
            const double d = distanceToValley(x, z);
            hill += smoothstep(50.0, 20.0, d) * std::max(0.0, kValleyRim - hill);
            const double floorWeight = smoothstep(30.0, 0.0, d);
            const double height = floorWeight * kFloor + (1.0 - floorWeight) * hill;
            field.at(x, z) = static_cast<uint16_t>(std::lround(height));
        }
    }
    TW_ASSERT(field.at(kValleyX1, kValleyZ1) == 32000 && field.at(kValleyX2, kValleyZ2) == 32000);
    TW_ASSERT(field.lowest() >= 28000 && field.highest() <= 40000);
    return field;
}

void writeRawMap(const MediaOut& out, const HeightField& field) {
    std::vector<uint8_t> bytes;
    bytes.reserve(field.samples.size() * sizeof(uint16_t));
    for (uint16_t sample : field.samples) {
        bytes.push_back(static_cast<uint8_t>(sample & 0xFF));
        bytes.push_back(static_cast<uint8_t>(sample >> 8));
    }
    out.writeBytes("terrain/map257x257.raw", bytes);
}

// The radar terrain: every 4th sample, normalised, pre-mirrored.
void writeRadarTerrain(const MediaOut& out, const HeightField& field) {
    constexpr int32_t kSize = 65;
    std::vector<double> values(static_cast<size_t>(kSize) * kSize);
    double low = 1e9;
    double high = -1e9;
    for (int32_t x = 0; x < kSize; ++x) {
        for (int32_t z = 0; z < kSize; ++z) {
            const double v = field.at(4 * x, 4 * z);
            values[static_cast<size_t>(x) * kSize + z] = v;
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    Image image(kSize, kSize);
    for (int32_t x = 0; x < kSize; ++x) {
        for (int32_t z = 0; z < kSize; ++z) {
            const uint8_t grey =
                toByte(255.0 * (values[static_cast<size_t>(x) * kSize + z] - low) / (high - low));
            image.set(kSize - 1 - x, z, grey, grey, grey);
        }
    }
    out.writeImage("terrain/t65x65.jpg", image);
}

// Tinted (h - 20, h + 20, h): the lightness of the colour is h, which the
// terrain reads, and its blue is h, which the grass reads.
void setTinted(Image& image, int32_t x, int32_t y, int32_t h) {
    TW_ASSERT(h >= 20 && h <= 235);
    image.set(x, y, static_cast<uint8_t>(h - 20), static_cast<uint8_t>(h + 20), static_cast<uint8_t>(h));
}

// The game grass's colour image and grass map, read at pixel (x, z): the
// colours follow the height, the grass grows thickest on low, flat ground.
void writeGrassImages(const MediaOut& out, const HeightField& field) {
    const double low = field.lowest();
    const double span = field.highest() - low;
    Image colours(kSide, kSide);
    Image density(kSide, kSide);
    for (int32_t x = 0; x < kSide; ++x) {
        for (int32_t z = 0; z < kSide; ++z) {
            const double n = (field.at(x, z) - low) / span;
            setTinted(colours, x, z, static_cast<int32_t>(std::lround(50.0 + 140.0 * n)));
            const int32_t x1 = std::min(x + 1, kSide - 1);
            const int32_t z1 = std::min(z + 1, kSide - 1);
            const double slope =
                std::abs(field.at(x1, z) - field.at(x, z)) + std::abs(field.at(x, z1) - field.at(x, z));
            const uint8_t grey = toByte(255.0 * (1.0 - n) * smoothstep(400.0, 0.0, slope));
            density.set(x, z, grey, grey, grey);
        }
    }
    out.writeImage("terrain/t257x257.jpg", colours);
    out.writeImage("terrain/g257x257.jpg", density);
}

// The menu's terrain: a low dome, about 110 in the middle and 40-80 at the
// rim, symmetric about column 16 so that the engine's mirror changes nothing.
void writeMenuTerrain(const MediaOut& out) {
    constexpr int32_t kSize = 33;
    constexpr int32_t kMiddle = 16;
    Random random(0x3E4Dull);
    const TileNoise noise(random, 2, 3, 0.5);
    Image image(kSize, kSize);
    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 0; x < kSize; ++x) {
            const double u = std::abs(x - kMiddle) / 16.0;
            const double v = std::abs(y - kMiddle) / 16.0;
            const double s = 0.5 * std::max(u, v) + 0.25 * (u * u + v * v);
            const double bumps = (noise.at(u * 0.5, y / 33.0) - 0.5) * 16.0 * s;
            setTinted(image, x, y, static_cast<int32_t>(std::lround(110.0 - 50.0 * s + bumps)));
        }
    }
    out.writeImage("terrain/t33x33.jpg", image);
}

// Rock ground: tiling sand and stone.
void writeRockGround(const MediaOut& out) {
    Random random(0x20C4ull);
    const TileNoise tone(random, 4, 6, 0.55);
    const TileNoise grit(random, 32, 2, 0.5);
    const TileNoise stones(random, 8, 2, 0.4);
    Image image(256, 256);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            const double u = x / 256.0;
            const double v = y / 256.0;
            const double t = tone.at(u, v);
            const double g = grit.at(u, v);
            const double stone = smoothstep(0.6, 0.7, stones.at(u, v));
            const double light = 0.55 + 0.7 * t + 0.25 * (g - 0.5) + 0.2 * stone;
            image.set(x, y, toByte(150.0 * light), toByte(140.0 * light), toByte(118.0 * light));
        }
    }
    out.writeImage("terrain/rockground.jpg", image);
}

// Detail map: tiling grey grain centred on 128, which the detail blend
// treats as no change.
void writeDetailMap(const MediaOut& out) {
    Random random(0xDE7A11ull);
    const TileNoise grain(random, 16, 4, 0.6);
    constexpr int32_t kSize = 256;
    std::vector<double> values(static_cast<size_t>(kSize) * kSize);
    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 0; x < kSize; ++x) {
            values[static_cast<size_t>(y) * kSize + x] = grain.at(x / 256.0, y / 256.0);
        }
    }
    double mean = 0.0;
    for (double v : values) {
        mean += v;
    }
    mean /= static_cast<double>(values.size());
    double reach = 0.0;
    for (double v : values) {
        reach = std::max(reach, std::abs(v - mean));
    }
    Image image(kSize, kSize);
    for (int32_t y = 0; y < kSize; ++y) {
        for (int32_t x = 0; x < kSize; ++x) {
            const uint8_t grey =
                toByte(128.0 + 60.0 * (values[static_cast<size_t>(y) * kSize + x] - mean) / reach);
            image.set(x, y, grey, grey, grey);
        }
    }
    out.writeImage("terrain/detailmap3.jpg", image);
}

// Grass atlas, 4 x 2 cells of 64 x 64. The blades use cell (1, 0); the other
// cells hold variants. Blades are light so the blades' vertex colours tint
// them; the clear texels carry the blade colour so filtering adds no halo.
struct TuftStyle {
    int32_t blades;
    double minHeight;
    double maxHeight;
    double spread;  // of the roots about the cell's middle
    double lean;    // largest sideways drift of a tip
    double width;   // at the root
};

void paintTuft(Image& image, int32_t cellX, int32_t cellY, const TuftStyle& style, Random& random) {
    const int32_t left = cellX * 64;
    const int32_t bottom = cellY * 64 + 63;
    for (int32_t b = 0; b < style.blades; ++b) {
        const double root = left + 32.0 + random.range(-style.spread, style.spread);
        const double height = random.range(style.minHeight, style.maxHeight);
        const double lean = random.range(-style.lean, style.lean);
        const double shade = random.range(0.85, 1.0);
        for (int32_t y = bottom; y > bottom - static_cast<int32_t>(height); --y) {
            const double t = (bottom - y) / height;
            const double centre = root + lean * t * t;
            const double half = 0.5 * style.width * (1.0 - t) + 0.35;
            // One pixel of margin keeps the blades off the neighbouring cells.
            for (int32_t x = std::max(left + 1, static_cast<int32_t>(centre - half));
                 x <= std::min(left + 62, static_cast<int32_t>(centre + half)); ++x) {
                if (std::abs(x + 0.5 - centre) <= half) {
                    const double light = shade * (0.72 + 0.28 * t);
                    image.set(x, y, toByte(200.0 * light), toByte(255.0 * light), toByte(170.0 * light), 255);
                }
            }
        }
    }
}

void writeGrassTexture(const MediaOut& out) {
    Image image(256, 128);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            image.set(x, y, 170, 220, 140, 0);
        }
    }
    Random random(0x62A55ull);
    const TuftStyle styles[8] = {
        {12, 16.0, 30.0, 14.0, 6.0, 3.0}, {9, 34.0, 60.0, 10.0, 12.0, 4.0}, {3, 50.0, 62.0, 4.0, 16.0, 5.0},
        {5, 24.0, 44.0, 8.0, 10.0, 3.0},  {14, 20.0, 40.0, 20.0, 8.0, 2.5}, {6, 40.0, 58.0, 12.0, 20.0, 3.5},
        {2, 54.0, 62.0, 3.0, 6.0, 7.0},   {8, 28.0, 52.0, 16.0, 14.0, 3.0},
    };
    for (int32_t cell = 0; cell < 8; ++cell) {
        paintTuft(image, cell % 4, cell / 4, styles[cell], random);
    }
    out.writeImage("terrain/grass.png", image);
}

}  // namespace

void writeTerrain(const MediaOut& out) {
    const HeightField field = makeHeights();
    writeRawMap(out, field);
    writeRadarTerrain(out, field);
    writeGrassImages(out, field);
    writeMenuTerrain(out);
    writeRockGround(out);
    writeDetailMap(out);
    writeGrassTexture(out);
}

}  // namespace mkmedia

// The tide generator against a reference of its noise computed in 64-bit
// integers masked to 32 bits and in double, and its offset's properties.
#include "client/engine/CTideGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using tarnwell::scene::CTideGenerator;
using irr::core::vector2df;
using irr::core::vector3df;

const double kPi = 3.14159265358979323846;

bool same(const vector2df& a, const vector2df& b) {
    return a.X == b.X && a.Y == b.Y;
}

// The hash in 64-bit unsigned arithmetic, cut to 32 bits after every step:
// each product of two 32-bit values fits in 64 bits.
double referenceNoise(int64_t n) {
    const uint64_t mask = 0xffffffffull;
    uint64_t x = static_cast<uint64_t>(n) & mask;
    x = ((x << 13) & mask) ^ x;
    const uint64_t inner = (((x * x) & mask) * 15731 + 789221) & mask;
    const uint64_t h = ((x * inner) & mask) + 1376312589;
    return 1.0 - static_cast<double>(h & 0x7fffffff) / 1073741824.0;
}

double referenceSmoothed(int64_t n) {
    return referenceNoise(n) / 2 + referenceNoise(n - 1) / 4 + referenceNoise(n + 1) / 4;
}

double referenceInterpolated(double x) {
    const double i = std::trunc(x);
    const double f = (1 - std::cos((x - i) * kPi)) / 2;
    return referenceSmoothed(static_cast<int64_t>(i)) * (1 - f) + referenceSmoothed(static_cast<int64_t>(i) + 1) * f;
}

double referencePerlin(double x) {
    double total = 0;
    for (int32_t octave = 0; octave < 4; ++octave) {
        total += referenceInterpolated(x * std::ldexp(1.0, octave)) * std::ldexp(1.0, -octave);
    }
    return total;
}

TEST(TideNoise, IsThe32BitWrapAroundHashEverywhere) {
    const CTideGenerator tide;
    EXPECT_NEAR(tide.noise(0), -0.2818, 1e-4);
    const int32_t edges[] = {0, 1, -1, 2, 46341, -46341, 524287, std::numeric_limits<int32_t>::max(),
                             std::numeric_limits<int32_t>::min()};
    for (int32_t n : edges) {
        EXPECT_EQ(tide.noise(n), static_cast<float>(referenceNoise(n))) << n;
        EXPECT_NEAR(tide.smoothedNoise(n), referenceSmoothed(n), 1e-6) << n;
    }
    std::mt19937 random(171);
    for (int32_t k = 0; k < 20000; ++k) {
        const int32_t n = static_cast<int32_t>(random());
        const float value = tide.noise(n);
        ASSERT_EQ(value, static_cast<float>(referenceNoise(n))) << n;
        ASSERT_TRUE(value > -1.0f && value <= 1.0f) << n;
    }
}

TEST(TideNoise, CosineBlendHitsItsEndsAndMiddle) {
    const CTideGenerator tide;
    const float ab[][2] = {{0.0f, 1.0f}, {-0.5f, 0.25f}, {3.0f, -7.0f}};
    for (const auto& p : ab) {
        EXPECT_NEAR(tide.interpolate(p[0], p[1], 0.0f), p[0], 1e-6);
        EXPECT_NEAR(tide.interpolate(p[0], p[1], 1.0f), p[1], 1e-6);
        EXPECT_NEAR(tide.interpolate(p[0], p[1], 0.5f), (p[0] + p[1]) / 2, 1e-6);
        // Below zero the blend leans the other way, as the negative fractions use it.
        EXPECT_NEAR(tide.interpolate(p[0], p[1], -0.25f), tide.interpolate(p[0], p[1], 0.25f), 1e-6);
    }
}

// Negative coordinates truncate toward zero and blend with a negative
// fraction; whole coordinates give the smoothed noise itself.
TEST(TideNoise, InterpolatedAndOctavesMatchTheReference) {
    const CTideGenerator tide;
    for (int32_t i = -50; i <= 50; ++i) {
        EXPECT_NEAR(tide.interpolatedNoise(static_cast<float>(i)), referenceSmoothed(i), 1e-6) << i;
    }
    std::mt19937 random(4171);
    std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f);
    for (int32_t k = 0; k < 5000; ++k) {
        const float x = coordinate(random);
        ASSERT_NEAR(tide.interpolatedNoise(x), referenceInterpolated(x), 1e-5) << x;
        ASSERT_NEAR(tide.perlinNoise(x), referencePerlin(x), 1e-4) << x;
    }
}

// Coordinates past the 32-bit range wrap like the hash; non-finite ones give 0.
TEST(TideNoise, CoordinatesOutsideTheIntegerRangeStayDefined) {
    const CTideGenerator tide;
    EXPECT_EQ(tide.interpolatedNoise(4294967296.0f + 512.0f), tide.interpolatedNoise(512.0f));
    EXPECT_EQ(tide.interpolatedNoise(-4294967296.0f - 512.0f), tide.interpolatedNoise(-512.0f));
    EXPECT_EQ(tide.interpolatedNoise(2147483648.0f), tide.interpolatedNoise(-2147483648.0f));
    EXPECT_TRUE(std::isfinite(tide.perlinNoise(3e38f)));
    for (float x : {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(tide.interpolatedNoise(x), 0.0f);
    }
}

// The offset of the Part's formula in double: a sway of length
// amplitude sin(s) in the direction 2 pi perlin(s / wave length).
vector2df referenceOffset(const vector3df& p, uint32_t timeMs, double amplitude, double waveLength) {
    const double q = timeMs / 120000.0;
    const double s = (timeMs + std::cos(q) * p.X * 7 + std::sin(q) * p.Z * 7) / 1000;
    const double angle = referencePerlin(s / waveLength) * 2 * 3.14159;
    const double r = std::sin(s) * amplitude;
    return vector2df(static_cast<float>(std::cos(angle) * r), static_cast<float>(std::sin(angle) * r));
}

TEST(TideOffset, FollowsTheFormulaWithinItsAmplitude) {
    const vector2df zero(0.0f, 0.0f);
    tarnwell::scene::ITideGenerator* tide = tarnwell::scene::createTideGenerator(8.0f, 10.0f);
    EXPECT_EQ(tide->getReferenceCount(), 1);
    tarnwell::scene::ITideGenerator* twice = tarnwell::scene::createTideGenerator(16.0f, 10.0f);
    std::mt19937 random(8010);
    std::uniform_real_distribution<float> coordinate(-6000.0f, 6000.0f);
    for (int32_t k = 0; k < 20000; ++k) {
        const vector3df p(coordinate(random), coordinate(random), coordinate(random));
        // Early times (where negative s arises) and the timer's whole range.
        const uint32_t timeMs = (k % 2 == 0) ? random() % 60000 : static_cast<uint32_t>(random());
        const vector2df offset = tide->getOffset(p, timeMs);
        ASSERT_LE(offset.getLength(), 8.0f * (1.0f + 1e-6f)) << k;
        ASSERT_TRUE(same(offset, tide->getOffset(p, timeMs))) << k;
        const vector2df doubled = twice->getOffset(vector3df(p.X, -p.Y, p.Z), timeMs);
        ASSERT_NEAR(doubled.X, 2 * offset.X, 1e-5) << k;
        ASSERT_NEAR(doubled.Y, 2 * offset.Y, 1e-5) << k;
        // Single precision drifts from the reference as s grows; early times
        // keep s small enough to compare.
        if (timeMs < 60000) {
            const vector2df expected = referenceOffset(p, timeMs, 8.0, 10.0);
            ASSERT_NEAR(offset.X, expected.X, 0.02) << k;
            ASSERT_NEAR(offset.Y, expected.Y, 0.02) << k;
        }
    }
    EXPECT_TRUE(same(tide->getOffset(vector3df(0.0f, 50.0f, 0.0f), 0), zero));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(same(tide->getOffset(vector3df(nan, 0.0f, 0.0f), 5000), zero));
    EXPECT_TRUE(same(tide->getOffset(vector3df(0.0f, 0.0f, inf), 5000), zero));
    EXPECT_TRUE(twice->drop());
    EXPECT_TRUE(tide->drop());
}

// Until its values are set the generator does not sway; a wave length of
// 0 points every sway along X.
TEST(TideOffset, UnsetAndZeroWaveLengthStayFinite) {
    CTideGenerator tide;
    EXPECT_TRUE(same(tide.getOffset(vector3df(123.0f, 0.0f, -77.0f), 98765), vector2df(0.0f, 0.0f)));
    tide.setAmplitude(8.0f);
    const vector2df offset = tide.getOffset(vector3df(123.0f, 0.0f, -77.0f), 98765);
    EXPECT_EQ(offset.Y, 0.0f);
    EXPECT_NEAR(offset.X, 8.0 * std::sin((98765.0 + std::cos(98765.0 / 120000) * 861 -
                                          std::sin(98765.0 / 120000) * 539) / 1000), 1e-3);
}

}  // namespace

// The tide generator against a reference of its noise computed in 64-bit
// integers masked to 32 bits and in double, and its offset's properties.
#include "client/engine/CTideGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using irr::core::vector2df;
using irr::core::vector3df;
using tarnwell::scene::CTideGenerator;

const double kPi = 3.14159265358979323846;
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

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

// Four octaves of the smoothed noise blended by a cosine between the
// integers around x, truncated toward zero.
double referencePerlin(double x, int32_t octaves = 4) {
    double total = 0;
    for (int32_t octave = 0; octave < octaves; ++octave) {
        const double y = x * std::ldexp(1.0, octave);
        const int64_t i = static_cast<int64_t>(std::trunc(y));
        const double f = (1 - std::cos((y - i) * kPi)) / 2;
        total += (referenceSmoothed(i) * (1 - f) + referenceSmoothed(i + 1) * f) * std::ldexp(1.0, -octave);
    }
    return total;
}

TEST(TideNoise, IsThe32BitWrapAroundHashEverywhere) {
    const CTideGenerator tide;
    EXPECT_NEAR(tide.noise(0), -0.2818, 1e-4);
    std::mt19937 random(171);
    for (int32_t k = 0; k < 20000; ++k) {
        const int32_t edges[] = {0, 1, -1, 46341, std::numeric_limits<int32_t>::max(),
                                 std::numeric_limits<int32_t>::min()};
        const int32_t n = k < 6 ? edges[k] : static_cast<int32_t>(random());
        ASSERT_EQ(tide.noise(n), static_cast<float>(referenceNoise(n))) << n;
        ASSERT_NEAR(tide.smoothedNoise(n), referenceSmoothed(n), 1e-6) << n;
        ASSERT_TRUE(tide.noise(n) > -1.0f && tide.noise(n) <= 1.0f) << n;
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
        ASSERT_NEAR(tide.interpolatedNoise(x), referencePerlin(x, 1), 1e-5) << x;
        ASSERT_NEAR(tide.perlinNoise(x), referencePerlin(x), 1e-4) << x;
    }
    // Past the 32-bit range the lattice wraps like the hash; non-finite gives 0.
    EXPECT_EQ(tide.interpolatedNoise(4294967296.0f + 512.0f), tide.interpolatedNoise(512.0f));
    EXPECT_EQ(tide.interpolatedNoise(-4294967296.0f - 512.0f), tide.interpolatedNoise(-512.0f));
    EXPECT_EQ(tide.interpolatedNoise(2147483648.0f), tide.interpolatedNoise(-2147483648.0f));
    EXPECT_TRUE(std::isfinite(tide.perlinNoise(3e38f)));
    for (float x : {Inf, -Inf, NaN}) {
        EXPECT_EQ(tide.interpolatedNoise(x), 0.0f);
    }
}

// The offset in double: a sway of length amplitude sin(s) in the direction
// 2 pi perlin(s / wave length).
vector2df referenceOffset(const vector3df& p, uint32_t timeMs, double amplitude, double waveLength) {
    const double q = timeMs / 120000.0;
    const double s = (timeMs + std::cos(q) * p.X * 7 + std::sin(q) * p.Z * 7) / 1000;
    const double angle = referencePerlin(s / waveLength) * 2 * 3.14159;
    const double r = std::sin(s) * amplitude;
    return vector2df(static_cast<float>(std::cos(angle) * r), static_cast<float>(std::sin(angle) * r));
}

// Early times (where s can be negative) and the timer's whole range; the
// sway scales with the amplitude and ignores y.
TEST(TideOffset, FollowsTheFormulaWithinItsAmplitude) {
    tarnwell::scene::ITideGenerator* tide = tarnwell::scene::createTideGenerator(8.0f, 10.0f);
    tarnwell::scene::ITideGenerator* twice = tarnwell::scene::createTideGenerator(16.0f, 10.0f);
    EXPECT_EQ(tide->getReferenceCount(), 1);
    std::mt19937 random(8010);
    std::uniform_real_distribution<float> coordinate(-6000.0f, 6000.0f);
    for (int32_t k = 0; k < 20000; ++k) {
        const vector3df p(coordinate(random), coordinate(random), coordinate(random));
        const uint32_t timeMs = (k % 2 == 0) ? random() % 60000 : static_cast<uint32_t>(random());
        const vector2df offset = tide->getOffset(p, timeMs);
        ASSERT_LE(offset.getLength(), 8.0f * (1.0f + 1e-6f)) << k;
        ASSERT_TRUE(same(offset, tide->getOffset(p, timeMs))) << k;
        const vector2df doubled = twice->getOffset(vector3df(p.X, -p.Y, p.Z), timeMs);
        ASSERT_TRUE(same(doubled, offset * 2.0f)) << k;
        // Single precision drifts from the reference as s grows.
        if (timeMs < 60000) {
            const vector2df expected = referenceOffset(p, timeMs, 8.0, 10.0);
            ASSERT_NEAR(offset.X, expected.X, 0.02) << k;
            ASSERT_NEAR(offset.Y, expected.Y, 0.02) << k;
        }
    }
    const vector2df zero(0.0f, 0.0f);
    EXPECT_TRUE(same(tide->getOffset(vector3df(0.0f, 50.0f, 0.0f), 0), zero));
    EXPECT_TRUE(same(tide->getOffset(vector3df(NaN, 0.0f, 0.0f), 5000), zero));
    EXPECT_TRUE(same(tide->getOffset(vector3df(0.0f, 0.0f, Inf), 5000), zero));
    EXPECT_TRUE(twice->drop());
    EXPECT_TRUE(tide->drop());
}

// Unset, the generator does not sway; a wave length of 0 sways along X only.
TEST(TideOffset, UnsetAndZeroWaveLengthStayFinite) {
    CTideGenerator tide;
    const vector3df p(123.0f, 0.0f, -77.0f);
    EXPECT_TRUE(same(tide.getOffset(p, 98765), vector2df(0.0f, 0.0f)));
    tide.setAmplitude(8.0f);
    const vector2df offset = tide.getOffset(p, 98765);
    const double q = 98765.0 / 120000;
    EXPECT_EQ(offset.Y, 0.0f);
    EXPECT_NEAR(offset.X, 8 * std::sin((98765 + std::cos(q) * 861 - std::sin(q) * 539) / 1000), 1e-3);
}

}  // namespace

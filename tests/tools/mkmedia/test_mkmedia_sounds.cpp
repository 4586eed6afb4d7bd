// The generated sounds and the menu music read back through libsndfile:
// formats and rates as the game plays them, loops without a click at the
// seam, one-shots that start and stop at rest.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const std::string kMedia = TARNWELL_MEDIA_DIR;

struct Decoded {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved, -1..1
    bool ok = false;
};

Decoded decode(const std::string& path) {
    Decoded out;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &out.info);
    if (file == nullptr) {
        return out;
    }
    out.samples.resize(static_cast<size_t>(out.info.frames) * static_cast<size_t>(out.info.channels));
    const sf_count_t read = sf_readf_float(file, out.samples.data(), out.info.frames);
    sf_close(file);
    out.ok = read == out.info.frames;
    return out;
}

// The jump from the last frame to the first, against the signal's own steps:
// a seamless loop jumps no more than its busiest ordinary sample steps.
struct Seam {
    double jump;
    double typicalStep;  // 99.5th percentile of |s[i+1] - s[i]|
};

Seam seamOf(const Decoded& d, int channel) {
    const size_t channels = static_cast<size_t>(d.info.channels), frames = static_cast<size_t>(d.info.frames);
    std::vector<double> steps;
    for (size_t i = 0; i + 1 < frames; ++i) {
        steps.push_back(
            std::fabs(d.samples[(i + 1) * channels + channel] - d.samples[i * channels + channel]));
    }
    std::sort(steps.begin(), steps.end());
    const double jump = std::fabs(d.samples[channel] - d.samples[(frames - 1) * channels + channel]);
    return {jump, steps[steps.size() * 995 / 1000]};
}

struct SoundCase {
    const char* path;
    int rate;
    bool loop;
    double minSeconds, maxSeconds;
};

// Engine samples are played at 11,000-15,000 Hz, the collision at
// 10,000-13,999 Hz; the others at their own rate.
const SoundCase kSounds[] = {
    {"audio/sound/3d_gen_engine_scout.wav", 11025, true, 0.5, 3.0},
    {"audio/sound/3d_gun_plasmagatlin_p.wav", 22050, false, 0.1, 1.0},
    {"audio/sound/2d_tor_launch.wav", 22050, false, 0.5, 3.0},
    {"audio/sound/3d_tor_engine.wav", 22050, true, 0.5, 3.0},
    {"audio/sound/3d_exp_sml.wav", 22050, false, 0.5, 3.0},
    {"audio/sound/3d_exp_med.wav", 22050, false, 1.0, 4.0},
    {"audio/sound/3d_collision.wav", 12000, false, 0.2, 1.5},
};

void PrintTo(const SoundCase& c, std::ostream* os) {
    *os << c.path;
}

class EverySound : public ::testing::TestWithParam<SoundCase> {};

TEST_P(EverySound, FormatRateAndLength) {
    const SoundCase& c = GetParam();
    const Decoded d = decode(kMedia + "/" + c.path);
    ASSERT_TRUE(d.ok) << c.path;
    EXPECT_EQ(d.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16) << c.path;
    EXPECT_EQ(d.info.channels, 1) << c.path << ": a 3-D sample must be mono";
    EXPECT_EQ(d.info.samplerate, c.rate) << c.path;
    const double seconds = static_cast<double>(d.info.frames) / d.info.samplerate;
    EXPECT_GE(seconds, c.minSeconds) << c.path;
    EXPECT_LE(seconds, c.maxSeconds) << c.path;
    // Audible, not clipped.
    double peak = 0.0, energy = 0.0;
    for (float s : d.samples) {
        peak = std::max(peak, static_cast<double>(std::fabs(s)));
        energy += static_cast<double>(s) * s;
    }
    EXPECT_LT(peak, 0.999) << c.path;
    EXPECT_GT(std::sqrt(energy / d.samples.size()), 0.03) << c.path;
}

TEST_P(EverySound, SeamlessLoopOrQuietEnds) {
    const SoundCase& c = GetParam();
    const Decoded d = decode(kMedia + "/" + c.path);
    ASSERT_TRUE(d.ok) << c.path;
    if (c.loop) {
        const Seam seam = seamOf(d, 0);
        EXPECT_LE(seam.jump, seam.typicalStep) << c.path;
    } else {
        EXPECT_LT(std::fabs(d.samples.front()), 0.01) << c.path << " starts with a click";
        EXPECT_LT(std::fabs(d.samples.back()), 0.01) << c.path << " stops with a click";
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, EverySound, ::testing::ValuesIn(kSounds),
                         [](const ::testing::TestParamInfo<SoundCase>& info) {
                             std::string name = info.param.path;
                             name = name.substr(name.rfind('/') + 1);
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
                             }
                             return name;
                         });

TEST(MenuMusic, StereoLoopOfTwentyToThirtySeconds) {
    const std::string path = kMedia + "/audio/music/intro.ogg";
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_LT(info.st_size, 500 * 1024);
    const Decoded d = decode(path);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_OGG);
    EXPECT_EQ(d.info.samplerate, 44100);
    EXPECT_EQ(d.info.channels, 2);
    const double seconds = static_cast<double>(d.info.frames) / d.info.samplerate;
    EXPECT_GE(seconds, 20.0);
    EXPECT_LE(seconds, 30.0);
    // The codec blurs the stream's two ends a little: twice the step allowed.
    for (int channel = 0; channel < 2; ++channel) {
        const Seam seam = seamOf(d, channel);
        EXPECT_LE(seam.jump, 2.0 * seam.typicalStep) << "channel " << channel;
    }
    // The two channels differ (a stereo image, not mono twice).
    double difference = 0.0;
    for (size_t i = 0; i + 1 < d.samples.size(); i += 2) {
        difference = std::max(difference, static_cast<double>(std::fabs(d.samples[i] - d.samples[i + 1])));
    }
    EXPECT_GT(difference, 0.01);
}

}  // namespace

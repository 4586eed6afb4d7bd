// The sound layer on OpenAL Soft's null back end (ctest sets
// ALSOFT_DRIVERS=null), checked against the OpenAL sources behind the channels.
#include "platform/sound/decode.h"
#include "platform/sound/fsound.h"
#include "platform/sound/fsound_source.h"

#include "FileDamage.h"
#include "SoundFiles.h"

#include <AL/al.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <set>

// The Vorbis decoder's set-up, counted wherever it is made or cleared, in
// libsndfile as in the sound layer: these take the place of libvorbis's own
// for the whole test program and hand on to them. A set-up is live from its
// init until a clear finds it still allocated (libvorbis also clears on some
// errors itself).
namespace {
int32_t vorbisSetUpsLive = 0;
int32_t vorbisSetUpsMade = 0;

template <typename Function>
Function* libvorbis(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}
}  // namespace

extern "C" void vorbis_info_init(vorbis_info* info) {
    static auto* const real = libvorbis<void(vorbis_info*)>("vorbis_info_init");
    real(info);
    vorbisSetUpsLive += 1;
    vorbisSetUpsMade += 1;
}

extern "C" void vorbis_info_clear(vorbis_info* info) {
    static auto* const real = libvorbis<void(vorbis_info*)>("vorbis_info_clear");
    vorbisSetUpsLive -= info->codec_setup != nullptr ? 1 : 0;
    real(info);
}

namespace {

constexpr int32_t kRate = 22050;

class Sound : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(soundtest::writeTone(mono, 1, kRate, 2205));
        ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << "the null back end must open";
    }
    void TearDown() override { FSOUND_Close(); }

    static ALint sourceInt(int channel, ALenum what) {
        ALint value = -1;
        alGetSourcei(fsoundChannelSource(channel), what, &value);
        return value;
    }
    static float sourceFloat(int channel, ALenum what) {
        float value = -1.0f;
        alGetSourcef(fsoundChannelSource(channel), what, &value);
        return value;
    }

    soundtest::TempFolder folder;
    const std::string mono = folder.file("mono.wav");
};

// Random plays, stops, frequency changes and placements on live, stale and
// junk handles, against a model of the live handles and their frequencies.
TEST_F(Sound, HandlesFollowTheModelOverRandomRuns) {
    FSOUND_SAMPLE* loop =
        FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0);
    ASSERT_NE(loop, nullptr);
    std::mt19937 rng(20261209);
    std::map<int, int> live;  // handle -> frequency
    std::vector<int> issued;
    std::set<int> seen;
    const int junk[] = {0, -1, -2, 1, 31, 4095, (1 << 12) | 32, INT_MAX, INT_MIN};
    const float where[3] = {1.0f, 2.0f, 3.0f};
    for (int op = 0; op < 6000; ++op) {
        const uint32_t kind = rng() % 100;
        const int target =
            (issued.empty() || rng() % 8 == 0) ? junk[rng() % 9] : issued[rng() % issued.size()];
        const int isLive = int(live.count(target));
        if (kind < 45) {
            const int handle = FSOUND_PlaySound(FSOUND_FREE, loop);
            if (live.size() == 32) {
                ASSERT_EQ(handle, -1) << "op " << op;
                continue;
            }
            ASSERT_GT(handle, 0) << "op " << op;
            ASSERT_TRUE(seen.insert(handle).second) << "handle " << handle << " issued twice";
            live[handle] = kRate;
            issued.push_back(handle);
        } else if (kind < 75) {
            ASSERT_EQ(FSOUND_StopSound(target), isLive) << "op " << op << " handle " << target;
            live.erase(target);
        } else if (kind < 99) {
            const int frequency = 1 + int(rng() % 200000);
            ASSERT_EQ(FSOUND_SetFrequency(target, frequency), isLive) << "op " << op;
            ASSERT_EQ(FSOUND_3D_SetAttributes(target, where, nullptr), isLive);
            ASSERT_EQ(FSOUND_GetFrequency(target), isLive ? frequency : 0);
            if (isLive) {
                live[target] = frequency;
                ASSERT_NEAR(sourceFloat(target, AL_PITCH) * kRate, frequency, frequency * 1e-6)
                    << "Hz over file rate";
            }
        } else {
            ASSERT_EQ(FSOUND_StopSound(FSOUND_ALL), 1);
            live.clear();
        }
        for (const auto& entry : live) {
            ASSERT_EQ(FSOUND_GetFrequency(entry.first), entry.second)
                << "op " << op << " handle " << entry.first;
            ASSERT_EQ(sourceInt(entry.first, AL_SOURCE_STATE), AL_PLAYING);
        }
    }
}

// What a sample's mode and defaults make of its OpenAL source.
struct SourceCase {
    unsigned int mode;
    int frequency, volume;
    float minimum, maximum;  // 0: library default
};

void PrintTo(const SourceCase& c, std::ostream* out) {
    *out << "mode 0x" << std::hex << c.mode << std::dec << " Hz " << c.frequency << " volume " << c.volume
         << " distances " << c.minimum << "-" << c.maximum;
}

class SoundSource : public Sound, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SoundSource, ModeAndDefaultsReachTheSource) {
    const SourceCase& c = GetParam();
    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), c.mode, 0, 0);
    ASSERT_EQ(FSOUND_Sample_SetDefaults(sample, c.frequency, c.volume, -1, 255), 1);
    if (c.minimum > 0.0f) {
        ASSERT_EQ(FSOUND_Sample_SetMinMaxDistance(sample, c.minimum, c.maximum), 1);
    }
    const int channel = FSOUND_PlaySound(FSOUND_FREE, sample);
    ASSERT_GT(channel, 0);
    const int hz = c.frequency > 0 ? c.frequency : kRate;
    EXPECT_EQ(FSOUND_GetFrequency(channel), hz);
    EXPECT_FLOAT_EQ(sourceFloat(channel, AL_PITCH), float(hz) / kRate);
    EXPECT_FLOAT_EQ(sourceFloat(channel, AL_GAIN), c.volume / 255.0f);
    EXPECT_EQ(sourceInt(channel, AL_LOOPING) == AL_TRUE, (c.mode & FSOUND_LOOP_NORMAL) != 0);

    const bool placed = (c.mode & FSOUND_HW3D) != 0;
    const float where[3] = {1.0f, 2.0f, 3.0f}, nowhere[3] = {NAN, 0.0f, 0.0f};
    EXPECT_EQ(FSOUND_3D_SetAttributes(channel, where, nullptr), placed ? 1 : 0);
    FSOUND_3D_SetAttributes(channel, nowhere, nullptr);
    float position[3] = {};
    alGetSourcefv(fsoundChannelSource(channel), AL_POSITION, position);
    EXPECT_EQ(sourceInt(channel, AL_SOURCE_RELATIVE), placed ? AL_FALSE : AL_TRUE)
        << "2-D plays at the listener";
    EXPECT_EQ(position[0], placed ? 1.0f : 0.0f);
    EXPECT_EQ(position[2], placed ? -3.0f : 0.0f) << "z is negated into OpenAL's right-handed frame";
    if (placed) {
        EXPECT_EQ(sourceFloat(channel, AL_REFERENCE_DISTANCE), c.minimum > 0.0f ? c.minimum : 1.0f);
        EXPECT_EQ(sourceFloat(channel, AL_MAX_DISTANCE), c.minimum > 0.0f ? c.maximum : 1.0e9f);
    }
    EXPECT_EQ(alGetInteger(AL_DISTANCE_MODEL), AL_INVERSE_DISTANCE_CLAMPED);
    EXPECT_EQ(alGetFloat(AL_DOPPLER_FACTOR), 0.0f);
}

// The game's engine, gun, torpedo launch and explosion, and a set frequency.
INSTANTIATE_TEST_SUITE_P(GameSamples, SoundSource,
                         ::testing::Values(SourceCase{0x1002, -1, 128, 0.0f, 0.0f},
                                           SourceCase{0x1000, -1, 255, 0.0f, 0.0f},
                                           SourceCase{0x2000, -1, 20, 0.0f, 0.0f},
                                           SourceCase{0x1000, -1, 255, 4.0f, 10000.0f},
                                           SourceCase{0x2002, 11025, 0, 0.0f, 0.0f}));

// 3-D files become mono at load; 2-D ones keep up to two channels.
struct MixCase {
    int32_t fileChannels;
    unsigned int mode;
    int32_t bufferChannels;
};

void PrintTo(const MixCase& c, std::ostream* out) {
    *out << c.fileChannels << " channels, mode 0x" << std::hex << c.mode;
}

class SoundMix : public Sound, public ::testing::WithParamInterface<MixCase> {};

TEST_P(SoundMix, ChannelsAreMixedWhereOpenALNeedsIt) {
    const MixCase& c = GetParam();
    const std::string path = folder.file("mix.wav");
    // Channel 1 cancels channel 0; any further channel repeats the signal.
    auto signal = [](int32_t f) { return int16_t((f * 37) % 20000 - 10000); };
    ASSERT_TRUE(soundtest::writeWav(path, c.fileChannels, kRate, 500, [&](int32_t f, int32_t ch) {
        return int16_t(ch == 1 ? -signal(f) : signal(f));
    }));
    const ALuint buffer = ALuint(
        sourceInt(FSOUND_PlaySound(FSOUND_FREE, FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), c.mode, 0, 0)),
                  AL_BUFFER));
    ALint channels = 0, size = 0;
    alGetBufferi(buffer, AL_CHANNELS, &channels);
    alGetBufferi(buffer, AL_SIZE, &size);
    EXPECT_EQ(channels, c.bufferChannels);
    EXPECT_EQ(size, 500 * c.bufferChannels * 2);

    fsound::Pcm pcm;
    ASSERT_TRUE(fsound::decodeFile(path.c_str(), (c.mode & FSOUND_HW3D) != 0, pcm));
    ASSERT_EQ(pcm.samples.size(), size_t(500 * c.bufferChannels));
    for (int32_t f = 0; f < 500; ++f) {
        if (c.bufferChannels == 2) {
            ASSERT_EQ(pcm.samples[size_t(2 * f)], signal(f));
            ASSERT_EQ(pcm.samples[size_t(2 * f + 1)], -signal(f));
        } else {
            ASSERT_EQ(pcm.samples[size_t(f)], int16_t((c.fileChannels - 2) * signal(f) / c.fileChannels))
                << f;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SoundMix,
                         ::testing::Values(MixCase{2, FSOUND_HW3D, 1}, MixCase{2, FSOUND_2D, 2},
                                           MixCase{4, FSOUND_2D, 1}, MixCase{4, FSOUND_HW3D | 2, 1}));

TEST_F(Sound, StreamsShareOneDecodedCopyAndStopOnlyTheirOwnChannel) {
    const std::string music = folder.file("music.wav");
    ASSERT_TRUE(soundtest::writeTone(music, 2, kRate, 4410));
    FSOUND_STREAM* first = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    std::filesystem::remove(music);
    FSOUND_STREAM* second = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    ASSERT_NE(second, nullptr) << "the second open must not read the file again";
    const int one = FSOUND_Stream_Play(FSOUND_FREE, first);
    const int two = FSOUND_Stream_Play(FSOUND_FREE, second);
    EXPECT_EQ(sourceInt(one, AL_BUFFER), sourceInt(two, AL_BUFFER));
    EXPECT_EQ(sourceInt(one, AL_LOOPING), AL_TRUE) << "the menu never updates the library: OpenAL loops";
    const int again = FSOUND_Stream_Play(FSOUND_FREE, first);
    EXPECT_EQ(fsoundChannelSource(one), 0u) << "a stream plays once at a time";
    EXPECT_EQ(FSOUND_Stream_Stop(first), 1);
    EXPECT_EQ(fsoundChannelSource(again), 0u);
    EXPECT_EQ(sourceInt(two, AL_SOURCE_STATE), AL_PLAYING);
    EXPECT_EQ(FSOUND_Stream_Close(second), 1);
    EXPECT_EQ(fsoundChannelSource(two), 0u);

    // One channel: once the stream is stopped a sample takes the channel, and
    // stopping the stream again must leave the sample playing.
    ASSERT_TRUE(soundtest::writeTone(music, 2, kRate, 4410));
    ASSERT_EQ(FSOUND_Init(44100, 1, 0), 1);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    FSOUND_SAMPLE* sample =
        FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_2D | FSOUND_LOOP_NORMAL, 0, 0);
    ASSERT_GT(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    EXPECT_EQ(FSOUND_PlaySound(FSOUND_FREE, sample), -1) << "the only channel is busy";
    ASSERT_EQ(FSOUND_StopSound(FSOUND_ALL), 1);
    const int taken = FSOUND_PlaySound(FSOUND_FREE, sample);
    EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
    EXPECT_EQ(sourceInt(taken, AL_SOURCE_STATE), AL_PLAYING);
    FSOUND_Sample_Free(sample);
    EXPECT_EQ(fsoundChannelSource(taken), 0u) << "freeing a sample stops its channels";
}

TEST_F(Sound, BadInputDoesNothing) {
    const std::string garbage = folder.file("garbage.wav"), empty = folder.file("empty.wav");
    const std::string noFrames = folder.file("noframes.wav"), cut = folder.file("cut.wav");
    std::ofstream(garbage) << "RIFF, but not really a wave file at all";
    std::ofstream(empty).close();
    ASSERT_TRUE(soundtest::writeWav(noFrames, 1, kRate, 0, [](int32_t, int32_t) { return int16_t(0); }));
    std::filesystem::copy_file(mono, cut);
    std::filesystem::resize_file(cut, 30);
    for (const char* name : {(const char*)nullptr, "missing/none.wav", garbage.c_str(), empty.c_str(),
                             noFrames.c_str(), cut.c_str(), folder.path.c_str()}) {
        for (const unsigned int mode : {0x1000u, 0x1002u, 0x2000u, 0x2u}) {
            EXPECT_EQ(FSOUND_Sample_Load(FSOUND_FREE, name, mode, 0, 0), nullptr) << (name ? name : "null");
            EXPECT_EQ(FSOUND_Stream_Open(name, mode, 0, 0), nullptr) << (name ? name : "null");
        }
    }
    EXPECT_EQ(FSOUND_Sample_SetDefaults(nullptr, 1000, 1, 1, 1), 0);
    EXPECT_EQ(FSOUND_Sample_SetMinMaxDistance(nullptr, 1.0f, 2.0f), 0);
    EXPECT_EQ(FSOUND_PlaySound(FSOUND_FREE, nullptr), -1);
    FSOUND_Sample_Free(nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
    EXPECT_EQ(FSOUND_Stream_Close(nullptr), 0);

    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_HW3D, 0, 0);
    EXPECT_EQ(FSOUND_PlaySound(0, sample), -1) << "only free-channel plays";
    const float distances[][2] = {{0.0f, 1.0f}, {-1.0f, 1.0f}, {5.0f, 4.0f}, {NAN, 1.0f}, {1.0f, INFINITY}};
    for (const auto& d : distances) {
        EXPECT_EQ(FSOUND_Sample_SetMinMaxDistance(sample, d[0], d[1]), 0) << d[0] << " " << d[1];
    }
    const int live = FSOUND_PlaySound(FSOUND_FREE, sample);
    EXPECT_EQ(sourceFloat(live, AL_REFERENCE_DISTANCE), 1.0f);
    for (const int bad : {0, -1, INT_MIN}) {
        EXPECT_EQ(FSOUND_SetFrequency(live, bad), 0);
    }
    EXPECT_EQ(FSOUND_GetFrequency(live), kRate);

    // The listener mirrored in z; a non-finite or degenerate frame is ignored.
    const float at[3] = {1.0f, 2.0f, 3.0f};
    FSOUND_3D_Listener_SetAttributes(at, nullptr, 0.6f, 0.0f, 0.8f, 0.0f, 1.0f, 0.0f);
    FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, NAN, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, 0.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f);
    float position[3] = {}, orientation[6] = {};
    alGetListenerfv(AL_POSITION, position);
    alGetListenerfv(AL_ORIENTATION, orientation);
    EXPECT_EQ(position[2], -3.0f);
    EXPECT_EQ(orientation[2], -0.8f);
    EXPECT_EQ(orientation[4], 1.0f);

    // A closed library forgets its samples and handles.
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
    EXPECT_EQ(FSOUND_PlaySound(FSOUND_FREE, sample), -1);
    EXPECT_EQ(FSOUND_StopSound(live), 0);
}

std::vector<unsigned char> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// A new file each time: ext4 flushes a file truncated and written again when
// it is closed, which made a thousand rewrites take seconds.
void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes, size_t length) {
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(length));
}

// Offset and length of each Ogg page of a well-formed file.
std::vector<std::pair<size_t, size_t>> oggPages(const std::vector<unsigned char>& bytes) {
    std::vector<std::pair<size_t, size_t>> pages;
    for (size_t at = 0; at + 27 <= bytes.size();) {
        const size_t segments = bytes[at + 26];
        size_t length = 27 + segments;
        for (size_t i = 0; i < segments; ++i) {
            length += bytes[at + 27 + i];
        }
        pages.emplace_back(at, length);
        at += length;
    }
    return pages;
}

// Edits one byte of a page's body and makes its checksum right again, so the
// edit reaches the decoder instead of being skipped as a damaged page.
void editPageBody(std::vector<unsigned char>& bytes, std::pair<size_t, size_t> page, size_t offset,
                  unsigned char value) {
    const size_t headerLength = 27 + bytes[page.first + 26];
    bytes[page.first + headerLength + offset % (page.second - headerLength)] = value;
    ogg_page view{&bytes[page.first], long(headerLength), &bytes[page.first + headerLength],
                  long(page.second - headerLength)};
    ogg_page_checksum_set(&view);
}

// Damaged Ogg Vorbis files, cut anywhere or with one byte of their header
// pages changed, must leave no decoder set-up behind (libsndfile loses one
// when a stream's headers end early or its first is refused).
TEST(OggVorbisDecode, DamagedFilesLeaveNoDecoderSetUpAndTheFirstPageAloneFails) {
    soundtest::TempFolder folder;
    const std::string good = folder.file("good.ogg"), damaged = folder.file("damaged.ogg");
    ASSERT_TRUE(soundtest::writeTone(good, 2, kRate, 4410, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
    const std::vector<unsigned char> bytes = readBytes(good);
    const auto pages = oggPages(bytes);
    ASSERT_GE(pages.size(), 3u) << "identification page, comment and set-up page, audio";
    fsound::Pcm pcm;
    ASSERT_TRUE(fsound::decodeFile(good.c_str(), false, pcm));
    ASSERT_GT(vorbisSetUpsMade, 0) << "the counting stands in for libvorbis";
    writeBytes(damaged, bytes, pages[0].second);
    EXPECT_FALSE(fsound::decodeFile(damaged.c_str(), false, pcm)) << "only the first page";
    EXPECT_EQ(vorbisSetUpsLive, 0);

    std::mt19937 rng(5784);
    for (int i = 0; i < 1000; ++i) {
        std::vector<unsigned char> variant = bytes;
        size_t length = bytes.size();
        if (i % 2 == 0) {
            length = rng() % (pages[1].first + pages[1].second + 64);
        } else {
            editPageBody(variant, pages[rng() % 2], rng(), static_cast<unsigned char>(rng()));
        }
        writeBytes(damaged, variant, length);
        fsound::decodeFile(damaged.c_str(), i % 4 == 1, pcm);
        ASSERT_EQ(vorbisSetUpsLive, 0) << "variant " << i << ", " << length << " bytes";
    }
}

TEST_F(Sound, AStreamThatFailedIsNotDecodedAgainUntilClose) {
    const std::string cut = folder.file("cut.ogg");
    ASSERT_TRUE(soundtest::writeTone(cut, 2, kRate, 4410, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
    const std::vector<unsigned char> bytes = readBytes(cut);
    writeBytes(cut, bytes, oggPages(bytes)[0].second);
    const int32_t before = vorbisSetUpsMade;
    EXPECT_EQ(FSOUND_Stream_Open(cut.c_str(), FSOUND_LOOP_NORMAL, 0, 0), nullptr);
    const int32_t once = vorbisSetUpsMade - before;
    EXPECT_GT(once, 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(FSOUND_Stream_Open(cut.c_str(), FSOUND_LOOP_NORMAL, 0, 0), nullptr);
    }
    EXPECT_EQ(vorbisSetUpsMade - before, once) << "the decoder was entered again";
    // Close forgets; the file, whole again by now, opens.
    writeBytes(cut, bytes, bytes.size());
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
    EXPECT_NE(FSOUND_Stream_Open(cut.c_str(), FSOUND_LOOP_NORMAL, 0, 0), nullptr);
}

// The layer opens nothing but a regular file, and its Ogg header check reads
// no more than the first megabyte: a FIFO, /dev/zero or a folder fails at
// once, and so does an Ogg file whose first page is followed by a gigabyte
// hole where its other headers should be. A symbolic link to a whole file
// decodes.
TEST(SoundFileDecode, AnythingButARegularFileFailsAtOnceAndTheHeaderCheckStopsEarly) {
    using testsupport::FileDamage;
    soundtest::TempFolder folder;
    const std::string good = folder.file("good.ogg"), path = folder.file("sound.ogg");
    ASSERT_TRUE(soundtest::writeTone(good, 2, kRate, 4410, SF_FORMAT_OGG | SF_FORMAT_VORBIS));
    const std::vector<unsigned char> bytes = readBytes(good);
    const std::string whole(bytes.begin(), bytes.end());
    for (const FileDamage damage : {FileDamage::Missing, FileDamage::DevZero, FileDamage::Fifo,
                                    FileDamage::Folder, FileDamage::Grown, FileDamage::Linked}) {
        SCOPED_TRACE(testsupport::damageName(damage));
        testsupport::damageFile(
            path, damage == FileDamage::Grown ? whole.substr(0, oggPages(bytes)[0].second) : whole, damage);
        const int result = testsupport::runBounded(10, [&] {
            const uint64_t before = testsupport::bytesReadSoFar();
            fsound::Pcm pcm;
            const bool decoded = fsound::decodeFile(path.c_str(), false, pcm);
            return (decoded ? 1 : 0) | (testsupport::bytesReadSoFar() - before > (uint64_t(2) << 20) ? 2 : 0);
        });
        EXPECT_EQ(result, damage == FileDamage::Linked ? 1 : 0);
        testsupport::restoreFile(path, "");
    }
}

}  // namespace

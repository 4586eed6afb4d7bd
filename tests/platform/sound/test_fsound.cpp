// The sound layer on OpenAL Soft's null back end (ctest sets
// ALSOFT_DRIVERS=null): channel handles, pitch, what reaches the OpenAL
// sources, mixing to mono, shared stream copies and bad input.
#include "platform/sound/decode.h"
#include "platform/sound/fsound.h"
#include "platform/sound/fsound_source.h"

#include "SoundFiles.h"

#include <AL/al.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <set>

namespace {

constexpr int32_t kRate = 22050;

class Sound : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(soundtest::writeTone(mono, 1, kRate, 2205));
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << "the null back end must open";
  }
  void TearDown() override { FSOUND_Close(); }

  ALuint bufferOf(int channel) const {
    ALint buffer = 0;
    alGetSourcei(fsoundChannelSource(channel), AL_BUFFER, &buffer);
    return ALuint(buffer);
  }
  ALint playState(int channel) const {
    ALint playing = AL_STOPPED;
    alGetSourcei(fsoundChannelSource(channel), AL_SOURCE_STATE, &playing);
    return playing;
  }

  soundtest::TempFolder folder;
  const std::string mono = folder.file("mono.wav");
};

// Random plays, stops and frequency changes on handles both live and stale,
// against a model of the live handles and their frequencies.
TEST_F(Sound, HandlesFollowTheModelOverRandomRuns) {
  FSOUND_SAMPLE* loop = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0);
  ASSERT_NE(loop, nullptr);
  std::mt19937 rng(20261209);
  std::map<int, int> live;  // handle -> frequency
  std::vector<int> issued;
  std::set<int> seen;
  auto pickTarget = [&]() {
    const uint32_t kind = rng() % 8;
    if (kind == 0 || issued.empty()) {
      const int junk[] = {0, -1, -2, 1, 31, 4095, (1 << 12) | 32, INT_MAX, INT_MIN, int(rng())};
      return junk[rng() % 10];
    }
    return issued[rng() % issued.size()];
  };
  for (int op = 0; op < 6000; ++op) {
    const uint32_t kind = rng() % 100;
    if (kind < 45) {
      const int handle = FSOUND_PlaySound(FSOUND_FREE, loop);
      if (live.size() == 32) {
        ASSERT_EQ(handle, -1) << "op " << op;
        continue;
      }
      ASSERT_GT(handle, 0) << "op " << op;
      ASSERT_LT(handle & 0xFFF, 32);
      ASSERT_TRUE(seen.insert(handle).second) << "handle " << handle << " issued twice";
      live[handle] = kRate;
      issued.push_back(handle);
    } else if (kind < 75) {
      const int target = pickTarget();
      ASSERT_EQ(FSOUND_StopSound(target), live.count(target) ? 1 : 0) << "op " << op << " handle " << target;
      live.erase(target);
    } else if (kind < 99) {
      const int target = pickTarget();
      const int frequency = 1000 + int(rng() % 60000);
      const float where[3] = {1.0f, 2.0f, 3.0f};
      ASSERT_EQ(FSOUND_SetFrequency(target, frequency), live.count(target) ? 1 : 0) << "op " << op;
      ASSERT_EQ(FSOUND_3D_SetAttributes(target, where, nullptr), live.count(target) ? 1 : 0);
      if (live.count(target)) {
        live[target] = frequency;
      } else {
        ASSERT_EQ(FSOUND_GetFrequency(target), 0);
      }
    } else {
      ASSERT_EQ(FSOUND_StopSound(FSOUND_ALL), 1);
      live.clear();
    }
    for (const auto& entry : live) {
      ASSERT_EQ(FSOUND_GetFrequency(entry.first), entry.second) << "op " << op << " handle " << entry.first;
      ASSERT_EQ(playState(entry.first), AL_PLAYING);
    }
  }
}

TEST_F(Sound, FrequencyRoundTripsAndSetsThePitch) {
  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0);
  ASSERT_NE(sample, nullptr);
  int channel = FSOUND_PlaySound(FSOUND_FREE, sample);
  EXPECT_EQ(FSOUND_GetFrequency(channel), kRate) << "the file's rate by default";
  ASSERT_EQ(FSOUND_Sample_SetDefaults(sample, 11025, -1, -1, -1), 1);
  channel = FSOUND_PlaySound(FSOUND_FREE, sample);
  EXPECT_EQ(FSOUND_GetFrequency(channel), 11025);

  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    const int frequency = 1 + int(rng() % 200000);
    ASSERT_EQ(FSOUND_SetFrequency(channel, frequency), 1);
    ASSERT_EQ(FSOUND_GetFrequency(channel), frequency);
    float pitch = 0.0f;
    alGetSourcef(fsoundChannelSource(channel), AL_PITCH, &pitch);
    ASSERT_NEAR(pitch * kRate, frequency, frequency * 1e-6) << "pitch is Hz over the file's rate";
  }
  const int kept = FSOUND_GetFrequency(channel);
  for (const int bad : {0, -1, -11025, INT_MIN}) {
    EXPECT_EQ(FSOUND_SetFrequency(channel, bad), 0);
    EXPECT_EQ(FSOUND_GetFrequency(channel), kept);
  }
}

// What a sample's mode and defaults make of the OpenAL source.
struct SourceCase {
  unsigned int mode;
  int volume;
  float minimum, maximum;  // 0: library default
  bool loop, placed;
};

void PrintTo(const SourceCase& c, std::ostream* out) {
  *out << "mode 0x" << std::hex << c.mode << std::dec << " volume " << c.volume << " distances " << c.minimum
       << "-" << c.maximum;
}

class SoundSource : public Sound, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SoundSource, ModeAndDefaultsReachTheSource) {
  const SourceCase& c = GetParam();
  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), c.mode, 0, 0);
  ASSERT_NE(sample, nullptr);
  ASSERT_EQ(FSOUND_Sample_SetDefaults(sample, -1, c.volume, -1, 255), 1);
  if (c.minimum > 0.0f) {
    ASSERT_EQ(FSOUND_Sample_SetMinMaxDistance(sample, c.minimum, c.maximum), 1);
  }
  const int channel = FSOUND_PlaySound(FSOUND_FREE, sample);
  const ALuint source = fsoundChannelSource(channel);
  ASSERT_NE(source, 0u);
  float gain = 0, reference = 0, maximum = 0;
  ALint looping = 0, relative = 0;
  alGetSourcef(source, AL_GAIN, &gain);
  alGetSourcei(source, AL_LOOPING, &looping);
  EXPECT_FLOAT_EQ(gain, c.volume / 255.0f);
  EXPECT_EQ(looping != 0, c.loop);

  const float where[3] = {1.0f, 2.0f, 3.0f};
  EXPECT_EQ(FSOUND_3D_SetAttributes(channel, where, nullptr), c.placed ? 1 : 0);
  const float nowhere[3] = {NAN, 0.0f, 0.0f};
  FSOUND_3D_SetAttributes(channel, nowhere, nullptr);
  float position[3] = {};
  alGetSourcefv(source, AL_POSITION, position);
  alGetSourcei(source, AL_SOURCE_RELATIVE, &relative);
  alGetSourcef(source, AL_REFERENCE_DISTANCE, &reference);
  alGetSourcef(source, AL_MAX_DISTANCE, &maximum);
  if (c.placed) {
    EXPECT_EQ(relative, AL_FALSE);
    EXPECT_EQ(position[0], 1.0f);
    EXPECT_EQ(position[1], 2.0f);
    EXPECT_EQ(position[2], -3.0f) << "z is negated into OpenAL's right-handed frame";
    EXPECT_EQ(reference, c.minimum > 0.0f ? c.minimum : 1.0f);
    EXPECT_EQ(maximum, c.minimum > 0.0f ? c.maximum : 1.0e9f);
  } else {
    EXPECT_EQ(relative, AL_TRUE) << "2-D sounds play at the listener";
    EXPECT_EQ(position[0] * position[0] + position[1] * position[1] + position[2] * position[2], 0.0f);
  }
  EXPECT_EQ(alGetInteger(AL_DISTANCE_MODEL), AL_INVERSE_DISTANCE_CLAMPED);
  EXPECT_EQ(alGetFloat(AL_DOPPLER_FACTOR), 0.0f);
}

// The game's samples: engine, gun, torpedo launch, explosion.
INSTANTIATE_TEST_SUITE_P(GameSamples, SoundSource,
                         ::testing::Values(SourceCase{0x1002, 128, 0.0f, 0.0f, true, true},
                                           SourceCase{0x1000, 255, 0.0f, 0.0f, false, true},
                                           SourceCase{0x2000, 20, 0.0f, 0.0f, false, false},
                                           SourceCase{0x1000, 255, 4.0f, 10000.0f, false, true}));

TEST_F(Sound, ListenerVectorsAreMirroredInZ) {
  const float position[3] = {1.0f, 2.0f, 3.0f};
  FSOUND_3D_Listener_SetAttributes(position, nullptr, 0.6f, 0.0f, 0.8f, 0.0f, 1.0f, 0.0f);
  // Ignored: non-finite, and a forward along the top.
  FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, NAN, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
  FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, 0.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f);
  float at[3] = {}, orientation[6] = {};
  alGetListenerfv(AL_POSITION, at);
  alGetListenerfv(AL_ORIENTATION, orientation);
  EXPECT_EQ(at[2], -3.0f);
  const float expected[6] = {0.6f, 0.0f, -0.8f, 0.0f, 1.0f, 0.0f};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(orientation[i], expected[i]) << i;
  }
}

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
  // Channel 0 carries the signal, channel 1 its negation, the rest the signal
  // again: a sum over all channels is known without restating the mix.
  auto signal = [](int32_t f) { return int16_t((f * 37) % 20000 - 10000); };
  ASSERT_TRUE(soundtest::writeWav(path, c.fileChannels, kRate, 500, [&](int32_t f, int32_t ch) {
    return int16_t(ch == 1 ? -signal(f) : signal(f));
  }));
  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), c.mode, 0, 0);
  ASSERT_NE(sample, nullptr);
  ALint channels = 0, size = 0;
  const ALuint buffer = bufferOf(FSOUND_PlaySound(FSOUND_FREE, sample));
  alGetBufferi(buffer, AL_CHANNELS, &channels);
  alGetBufferi(buffer, AL_SIZE, &size);
  EXPECT_EQ(channels, c.bufferChannels);
  EXPECT_EQ(size, 500 * c.bufferChannels * 2);

  fsound::Pcm pcm;
  ASSERT_TRUE(fsound::decodeFile(path.c_str(), (c.mode & FSOUND_HW3D) != 0, pcm));
  ASSERT_EQ(pcm.samples.size(), size_t(500 * c.bufferChannels));
  const int32_t rest = c.fileChannels - 2;  // channels beyond the cancelling pair
  for (int32_t f = 0; f < 500; ++f) {
    if (c.bufferChannels == 2) {
      ASSERT_EQ(pcm.samples[size_t(2 * f)], signal(f));
      ASSERT_EQ(pcm.samples[size_t(2 * f + 1)], -signal(f));
    } else {
      ASSERT_EQ(pcm.samples[size_t(f)], int16_t(rest * signal(f) / c.fileChannels)) << f;
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
  ASSERT_NE(first, nullptr);
  std::filesystem::remove(music);
  FSOUND_STREAM* second = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
  ASSERT_NE(second, nullptr) << "the second open must not read the file again";
  EXPECT_NE(first, second);
  const int one = FSOUND_Stream_Play(FSOUND_FREE, first);
  const int two = FSOUND_Stream_Play(FSOUND_FREE, second);
  ASSERT_GT(one, 0);
  ASSERT_GT(two, 0);
  EXPECT_EQ(bufferOf(one), bufferOf(two));
  ALint looping = 0;
  alGetSourcei(fsoundChannelSource(one), AL_LOOPING, &looping);
  EXPECT_EQ(looping, AL_TRUE) << "the menu never updates the library: OpenAL loops";
  const int again = FSOUND_Stream_Play(FSOUND_FREE, first);
  EXPECT_EQ(fsoundChannelSource(one), 0u) << "a stream plays once at a time";
  EXPECT_EQ(FSOUND_Stream_Stop(first), 1);
  EXPECT_EQ(fsoundChannelSource(again), 0u);
  EXPECT_EQ(playState(two), AL_PLAYING);
  EXPECT_EQ(FSOUND_Stream_Close(second), 1);
  EXPECT_EQ(fsoundChannelSource(two), 0u);

  // One channel only: a stopped stream's channel is taken by a sample, and
  // stopping the stream again must leave the sample playing.
  FSOUND_Close();
  ASSERT_TRUE(soundtest::writeTone(music, 2, kRate, 4410));
  ASSERT_EQ(FSOUND_Init(44100, 1, 0), 1);
  FSOUND_STREAM* stream = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_2D | FSOUND_LOOP_NORMAL, 0, 0);
  ASSERT_GT(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
  EXPECT_EQ(FSOUND_PlaySound(FSOUND_FREE, sample), -1) << "the only channel is busy";
  ASSERT_EQ(FSOUND_StopSound(FSOUND_ALL), 1);
  const int taken = FSOUND_PlaySound(FSOUND_FREE, sample);
  ASSERT_GT(taken, 0);
  EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
  EXPECT_EQ(playState(taken), AL_PLAYING);
  FSOUND_Sample_Free(sample);
  EXPECT_EQ(fsoundChannelSource(taken), 0u) << "freeing a sample stops its channels";
}

TEST_F(Sound, BadInputDoesNothing) {
  const std::string garbage = folder.file("garbage.wav");
  const std::string empty = folder.file("empty.wav");
  const std::string noFrames = folder.file("noframes.wav");
  const std::string cut = folder.file("cut.wav");
  std::ofstream(garbage) << "RIFF, but not really a wave file at all";
  std::ofstream(empty).close();
  ASSERT_TRUE(soundtest::writeWav(noFrames, 1, kRate, 0, [](int32_t, int32_t) { return int16_t(0); }));
  {
    std::ifstream whole(mono, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, 30);
  }
  const char* names[] = {nullptr, "missing/none.wav", garbage.c_str(), empty.c_str(), noFrames.c_str(),
                         cut.c_str(), folder.path.c_str()};
  for (const char* name : names) {
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
  EXPECT_EQ(FSOUND_Stream_Stop(nullptr), 0);
  EXPECT_EQ(FSOUND_Stream_Close(nullptr), 0);

  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, mono.c_str(), FSOUND_HW3D, 0, 0);
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(FSOUND_PlaySound(0, sample), -1) << "only free-channel plays";
  const float distances[][2] = {{0.0f, 1.0f}, {-1.0f, 1.0f}, {5.0f, 4.0f}, {NAN, 1.0f}, {1.0f, INFINITY}};
  for (const auto& d : distances) {
    EXPECT_EQ(FSOUND_Sample_SetMinMaxDistance(sample, d[0], d[1]), 0) << d[0] << " " << d[1];
  }
  const int live = FSOUND_PlaySound(FSOUND_FREE, sample);
  float reference = 0.0f;
  alGetSourcef(fsoundChannelSource(live), AL_REFERENCE_DISTANCE, &reference);
  EXPECT_EQ(reference, 1.0f);

  // A closed library forgets its samples and handles.
  FSOUND_Close();
  ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
  EXPECT_EQ(FSOUND_PlaySound(FSOUND_FREE, sample), -1);
  EXPECT_EQ(FSOUND_GetFrequency(live), 0);
  EXPECT_EQ(FSOUND_StopSound(live), 0);
}

}  // namespace

// Small sound files for the sound tests, written with libsndfile into a
// folder of this test process (ctest runs the tests in parallel in one
// directory), and read back.
#pragma once

#include <sndfile.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace soundtest {

// Removed with everything in it when the test ends.
class TempFolder {
public:
  TempFolder() : path("sound_files_" + std::to_string(getpid())) { std::filesystem::create_directories(path); }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }

  const std::string path;
};

// 16-bit WAV; `value` gives each sample by frame and channel.
inline bool writeWav(const std::string& path, int32_t channels, int32_t rate, int32_t frames,
                     const std::function<int16_t(int32_t, int32_t)>& value) {
  SF_INFO info{};
  info.channels = channels;
  info.samplerate = rate;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) {
    return false;
  }
  std::vector<int16_t> data(size_t(frames) * size_t(channels));
  for (int32_t f = 0; f < frames; ++f) {
    for (int32_t c = 0; c < channels; ++c) {
      data[size_t(f) * size_t(channels) + size_t(c)] = value(f, c);
    }
  }
  const bool complete = sf_writef_short(file, data.data(), frames) == frames;
  sf_close(file);
  return complete;
}

// A 440 Hz tone at half scale on every channel.
inline bool writeTone(const std::string& path, int32_t channels, int32_t rate, int32_t frames) {
  return writeWav(path, channels, rate, frames, [rate](int32_t f, int32_t) {
    return int16_t(std::lround(16000.0 * std::sin(2.0 * 3.14159265358979 * 440.0 * f / rate)));
  });
}

// Sum of squares per channel of a file, empty when it cannot be read.
inline std::vector<double> channelEnergy(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    return {};
  }
  std::vector<double> energy(size_t(info.channels), 0.0);
  std::vector<float> frame(size_t(info.channels));
  while (sf_readf_float(file, frame.data(), 1) == 1) {
    for (size_t c = 0; c < frame.size(); ++c) {
      energy[c] += double(frame[c]) * double(frame[c]);
    }
  }
  sf_close(file);
  return energy;
}

}  // namespace soundtest

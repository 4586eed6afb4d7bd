// Sound files for the sound tests, written and read with libsndfile in a
// folder of this test process (ctest runs tests in parallel in one folder).
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

class TempFolder {
public:
    TempFolder() { std::filesystem::create_directories(path); }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }

    const std::string path = "sound_files_" + std::to_string(getpid());
};

// 16-bit WAV unless another libsndfile format is given; `value` (frame,
// channel) gives each sample.
inline bool writeWav(const std::string& path, int32_t channels, int32_t rate, int32_t frames,
                     const std::function<int16_t(int32_t, int32_t)>& value,
                     int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    std::vector<int16_t> data;
    for (int32_t f = 0; f < frames * channels; ++f) {
        data.push_back(value(f / channels, f % channels));
    }
    const bool complete = file != nullptr && sf_writef_short(file, data.data(), frames) == frames;
    sf_close(file);
    return complete;
}

// 440 Hz at half scale on every channel.
inline bool writeTone(const std::string& path, int32_t channels, int32_t rate, int32_t frames,
                      int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16) {
    return writeWav(
        path, channels, rate, frames,
        [rate](int32_t f, int32_t) {
            return int16_t(std::lround(16000.0 * std::sin(2.0 * 3.14159265358979 * 440.0 * f / rate)));
        },
        format);
}

// Sum of squares per channel; empty for an unreadable file.
inline std::vector<double> channelEnergy(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<double> energy(file != nullptr ? size_t(info.channels) : 0u, 0.0);
    std::vector<float> frame(energy.size());
    while (file != nullptr && sf_readf_float(file, frame.data(), 1) == 1) {
        for (size_t c = 0; c < frame.size(); ++c) {
            energy[c] += double(frame[c]) * double(frame[c]);
        }
    }
    sf_close(file);
    return energy;
}

}  // namespace soundtest

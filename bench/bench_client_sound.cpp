// A one-shot positional sound as the game fires it: play on a free channel,
// place it, stop it; on OpenAL Soft's null back end.
#include "platform/sound/fsound.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A short 22050 Hz tone, removed after the benchmark.
std::string writeTone() {
    const std::string path = "bench_sound_" + std::to_string(getpid()) + ".wav";
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 22050;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<int16_t> tone(2205);
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] =
            int16_t(std::lround(16000.0 * std::sin(2.0 * 3.14159265358979 * 440.0 * double(i) / 22050.0)));
    }
    sf_writef_short(file, tone.data(), sf_count_t(tone.size()));
    sf_close(file);
    return path;
}

void BM_SoundPlayPlaceStop(benchmark::State& state) {
    setenv("ALSOFT_DRIVERS", "null", 1);
    const std::string path = writeTone();
    FSOUND_SAMPLE* sample = nullptr;
    if (FSOUND_Init(44100, 32, 0) != 0) {
        sample = FSOUND_Sample_Load(FSOUND_FREE, path.c_str(), FSOUND_HW3D, 0, 0);
    }
    std::remove(path.c_str());
    if (sample == nullptr) {
        FSOUND_Close();
        state.SkipWithError("no null sound device or no sample");
        return;
    }
    const float position[3] = {10.0f, -40.0f, 25.0f};
    for (auto _ : state) {
        const int channel = FSOUND_PlaySound(FSOUND_FREE, sample);
        FSOUND_3D_SetAttributes(channel, position, nullptr);
        FSOUND_StopSound(channel);
        benchmark::DoNotOptimize(channel);
    }
    FSOUND_Close();
}
BENCHMARK(BM_SoundPlayPlaceStop);

}  // namespace

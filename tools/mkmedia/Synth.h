// Small synthesis pieces shared by the sound effects and the menu music.
#pragma once

#include "MediaOut.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace mkmedia {

constexpr double kTwoPi = 6.28318530717958647692;

// One-pole low-pass; cutoff may change per sample.
class LowPass {
public:
    double run(double x, double cutoffHz, double rate) {
        const double a = 1.0 - std::exp(-kTwoPi * cutoffHz / rate);
        state += a * (x - state);
        return state;
    }

private:
    double state = 0.0;
};

// Scales the signal so that its peak is `peak` of full scale, then rounds to
// 16 bits.
std::vector<int16_t> toPcm16(const std::vector<double>& signal, double peak);

// Makes a loop of `length` samples out of `length + fade` samples: the tail
// past the loop end is crossfaded into the head, so the loop's last sample
// runs on into its first as the signal did.
std::vector<double> crossfadeLoop(const std::vector<double>& signal, size_t length, size_t fade);

// audio/music/intro.ogg.
void writeMusic(const MediaOut& out);

}  // namespace mkmedia

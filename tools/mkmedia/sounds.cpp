// The game's sound effects, synthesised: engine hums (seamless loops), the
// plasma gun, the torpedo launch, two explosions and a metallic collision.
// Rates follow the pitches the game plays them at: the engine is played at
// 11,000-15,000 Hz and the collision at 10,000-13,999 Hz, so those two are
// made for 11025 and 12000 Hz; the rest play at their own 22050 Hz.
#include "MediaOut.h"
#include "Synth.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace mkmedia {

std::vector<int16_t> toPcm16(const std::vector<double>& signal, double peak) {
    double top = 1e-9;
    for (double s : signal) {
        top = std::max(top, std::fabs(s));
    }
    std::vector<int16_t> pcm;
    pcm.reserve(signal.size());
    for (double s : signal) {
        const double v = std::round(s / top * peak * 32767.0);
        pcm.push_back(static_cast<int16_t>(std::max(-32767.0, std::min(32767.0, v))));
    }
    return pcm;
}

std::vector<double> crossfadeLoop(const std::vector<double>& signal, size_t length, size_t fade) {
    std::vector<double> loop(signal.begin(), signal.begin() + static_cast<std::ptrdiff_t>(length));
    for (size_t i = 0; i < fade; ++i) {
        const double w =
            0.5 - 0.5 * std::cos(3.14159265358979 * static_cast<double>(i) / static_cast<double>(fade));
        loop[i] = signal[i] * w + signal[length + i] * (1.0 - w);
    }
    return loop;
}

namespace {

// Short fades at both ends of a one-shot, so that it starts and stops at rest.
void fadeEnds(std::vector<double>& s, size_t in, size_t out) {
    for (size_t i = 0; i < in && i < s.size(); ++i) {
        s[i] *= static_cast<double>(i) / static_cast<double>(in);
    }
    for (size_t i = 0; i < out && i < s.size(); ++i) {
        s[s.size() - 1 - i] *= static_cast<double>(i) / static_cast<double>(out);
    }
}

double noise(Random& random) {
    return random.range(-1.0, 1.0);
}

// Ship engine: a 50 Hz hum with its overtones, a slow throb and a low rumble;
// every tone is a whole number of periods in the one-second loop.
std::vector<double> engine(double rate) {
    const size_t length = static_cast<size_t>(rate), fade = length / 4;
    Random random(801);
    LowPass rumble, rumble2;
    std::vector<double> noiseBed(length + fade);
    for (double& s : noiseBed) {
        s = rumble2.run(rumble.run(noise(random), 300.0, rate), 300.0, rate);
    }
    std::vector<double> loop = crossfadeLoop(noiseBed, length, fade);
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / rate;
        double hum = 0.0;
        for (int k = 1; k <= 8; ++k) {
            hum += std::sin(kTwoPi * 50.0 * k * t + 0.7 * k) / k;
        }
        const double throb = 1.0 + 0.25 * std::sin(kTwoPi * 5.0 * t);
        loop[i] = hum * throb * 0.6 + 0.35 * std::sin(kTwoPi * 100.0 * t) + loop[i] * 2.5;
    }
    return loop;
}

// Torpedo engine: a propeller whine with a 40 Hz blade beat over hissing
// bubbles, one second, seamless.
std::vector<double> torpedoEngine(double rate) {
    const size_t length = static_cast<size_t>(rate), fade = length / 4;
    Random random(802);
    LowPass hiss;
    std::vector<double> bubbles(length + fade);
    for (double& s : bubbles) {
        s = hiss.run(noise(random), 2500.0, rate);
    }
    std::vector<double> loop = crossfadeLoop(bubbles, length, fade);
    for (size_t i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double beat = std::pow(0.5 + 0.5 * std::cos(kTwoPi * 40.0 * t), 3.0);
        const double whine = std::sin(kTwoPi * 330.0 * t) + 0.4 * std::sin(kTwoPi * 660.0 * t + 1.0) +
                             0.15 * std::sin(kTwoPi * 990.0 * t + 2.0);
        loop[i] = whine * (0.35 + 0.25 * beat) + loop[i] * (0.6 + 0.9 * beat);
    }
    return loop;
}

// Plasma gun: a falling, slightly overdriven tone with a crackle at the start.
std::vector<double> plasmaGun(double rate) {
    const size_t n = static_cast<size_t>(0.35 * rate);
    Random random(803);
    std::vector<double> s(n);
    double phase = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = 2200.0 * std::exp(-t * 14.0) + 160.0;
        phase += kTwoPi * f / rate;
        const double tone = std::tanh(3.0 * std::sin(phase)) + 0.3 * std::sin(phase * 0.5);
        const double crackle = t < 0.03 ? noise(random) * (1.0 - t / 0.03) : 0.0;
        s[i] = tone * std::exp(-t * 9.0) + crackle * 0.8;
    }
    fadeEnds(s, static_cast<size_t>(0.002 * rate), static_cast<size_t>(0.02 * rate));
    return s;
}

// Torpedo launch: a hull clunk, a rushing whoosh and a trail of bubbles.
std::vector<double> launch(double rate) {
    const size_t n = static_cast<size_t>(1.4 * rate);
    Random random(804);
    std::vector<double> s(n, 0.0);
    LowPass whoosh, whoosh2;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double clunk = std::sin(kTwoPi * (70.0 * t - 40.0 * t * t)) * std::exp(-t * 18.0);
        const double rise = t < 0.25 ? t / 0.25 : std::exp(-(t - 0.25) * 3.0);
        const double cutoff = 300.0 + 2500.0 * rise;
        const double air = whoosh2.run(whoosh.run(noise(random), cutoff, rate), cutoff, rate);
        s[i] = clunk * 0.9 + air * rise * 2.2;
    }
    for (int b = 0; b < 24; ++b) {
        const double start = random.range(0.15, 1.2), length = random.range(0.02, 0.05);
        const double f0 = random.range(400.0, 900.0);
        const size_t i0 = static_cast<size_t>(start * rate), count = static_cast<size_t>(length * rate);
        double phase = 0.0;
        for (size_t i = 0; i < count && i0 + i < n; ++i) {
            const double u = static_cast<double>(i) / static_cast<double>(count);
            phase += kTwoPi * f0 * (1.0 + 1.5 * u) / rate;
            s[i0 + i] += 0.18 * std::sin(phase) * std::sin(3.14159265 * u) * (1.3 - start);
        }
    }
    fadeEnds(s, static_cast<size_t>(0.002 * rate), static_cast<size_t>(0.05 * rate));
    return s;
}

// Explosion: blasts of darkening noise over a falling thump; `blasts` start
// times in seconds, `seconds` long in all, `depth` lowers the colour.
std::vector<double> explosion(double rate, uint64_t seed, double seconds, const std::vector<double>& blasts,
                              double depth) {
    const size_t n = static_cast<size_t>(seconds * rate);
    Random random(seed);
    std::vector<double> s(n, 0.0);
    for (size_t b = 0; b < blasts.size(); ++b) {
        LowPass body, body2;
        const double gain = 1.0 / (1.0 + 0.6 * b);
        for (size_t i = static_cast<size_t>(blasts[b] * rate); i < n; ++i) {
            const double t = static_cast<double>(i) / rate - blasts[b];
            const double decay = std::exp(-t * 3.2 / depth);
            const double attack = std::min(1.0, t / 0.004);
            const double cutoff = (3000.0 * std::exp(-t * 5.0) + 150.0) / depth;
            const double rumble = body2.run(body.run(noise(random), cutoff, rate), cutoff, rate);
            const double thump = std::sin(kTwoPi * (60.0 / depth) * t * (1.0 - 0.3 * t)) * std::exp(-t * 5.0);
            s[i] += gain * attack * (rumble * 3.0 * decay + thump * 0.8);
        }
    }
    // Scattered crackles of debris.
    for (int c = 0; c < 30; ++c) {
        const double at = random.range(0.05, seconds * 0.6);
        const size_t i0 = static_cast<size_t>(at * rate);
        for (size_t i = 0; i < 60 && i0 + i < n; ++i) {
            s[i0 + i] +=
                noise(random) * 0.25 * std::exp(-static_cast<double>(i) / 12.0) * std::exp(-at * 2.0);
        }
    }
    fadeEnds(s, static_cast<size_t>(0.001 * rate), static_cast<size_t>(0.1 * rate));
    return s;
}

// Collision: a struck steel plate, inharmonic partials ringing out.
std::vector<double> collision(double rate) {
    const size_t n = static_cast<size_t>(0.7 * rate);
    Random random(806);
    const double partials[][3] = {{310.0, 1.0, 5.0},    {847.0, 0.7, 7.0},    {1377.0, 0.5, 9.0},
                                  {2109.0, 0.35, 12.0}, {2830.0, 0.25, 16.0}, {3950.0, 0.15, 22.0}};
    std::vector<double> s(n, 0.0);
    LowPass knock;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double ring = 0.0;
        for (const auto& p : partials) {
            ring += p[1] * std::sin(kTwoPi * p[0] * t * (1.0 + 0.002 * std::sin(kTwoPi * 6.0 * t))) *
                    std::exp(-t * p[2]);
        }
        const double hit = t < 0.015 ? knock.run(noise(random), 1800.0, rate) * (1.0 - t / 0.015) : 0.0;
        s[i] = ring + hit * 3.0;
    }
    fadeEnds(s, static_cast<size_t>(0.001 * rate), static_cast<size_t>(0.03 * rate));
    return s;
}

}  // namespace

void writeSounds(const MediaOut& out) {
    out.writeWav("audio/sound/3d_gen_engine_scout.wav", 11025, 1, toPcm16(engine(11025.0), 0.7));
    out.writeWav("audio/sound/3d_gun_plasmagatlin_p.wav", 22050, 1, toPcm16(plasmaGun(22050.0), 0.85));
    out.writeWav("audio/sound/2d_tor_launch.wav", 22050, 1, toPcm16(launch(22050.0), 0.85));
    out.writeWav("audio/sound/3d_tor_engine.wav", 22050, 1, toPcm16(torpedoEngine(22050.0), 0.7));
    out.writeWav("audio/sound/3d_exp_sml.wav", 22050, 1,
                 toPcm16(explosion(22050.0, 805, 1.3, {0.0, 0.12}, 1.0), 0.9));
    out.writeWav("audio/sound/3d_exp_med.wav", 22050, 1,
                 toPcm16(explosion(22050.0, 807, 2.6, {0.0, 0.35, 0.8}, 1.6), 0.9));
    out.writeWav("audio/sound/3d_collision.wav", 12000, 1, toPcm16(collision(12000.0), 0.85));
    writeMusic(out);
}

}  // namespace mkmedia

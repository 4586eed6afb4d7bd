// The menu music: a slow pad of four chords, a soft bell melody over it and a
// deep drone, 24 seconds at 44.1 kHz stereo, looping without a seam. The
// loop is rendered into a circular buffer (what rings past the end sounds
// again at the start), its echo runs round the loop twice, so that the last
// sample leads into the first. The Ogg stream is written with a fixed serial
// number and fixed encoder settings, so the bytes repeat run after run.
#include "MediaOut.h"
#include "Synth.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace mkmedia {

namespace {

const int kRate = 44100;
const double kSeconds = 24.0;
const long kSerial = 0x5457314C;

double midiHz(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// One period of a soft pad tone and of a bell tone, read with linear
// interpolation: far cheaper than summing sines per sample.
class WaveTable {
public:
    explicit WaveTable(const std::vector<double>& harmonics) : table(kSize + 1) {
        for (int i = 0; i <= kSize; ++i) {
            double v = 0.0;
            for (size_t h = 0; h < harmonics.size(); ++h) {
                v += harmonics[h] * std::sin(kTwoPi * static_cast<double>(h + 1) * i / kSize);
            }
            table[i] = v;
        }
    }
    // phase in periods
    double at(double phase) const {
        const double p = (phase - std::floor(phase)) * kSize;
        const int i = static_cast<int>(p);
        return table[i] + (table[i + 1] - table[i]) * (p - i);
    }

private:
    static const int kSize = 4096;
    std::vector<double> table;
};

struct Stereo {
    std::vector<double> left, right;
    explicit Stereo(size_t n) : left(n, 0.0), right(n, 0.0) {}
};

// Adds a note to the circular buffer; times in seconds (may run past the
// loop end or start before 0: they wrap).
void addNote(Stereo& out, const WaveTable& wave, double hz, double start, double length, double attack,
             double release, double gain, double pan, double detune) {
    const size_t n = out.left.size();
    const long first = std::lround(start * kRate);
    const long count = std::lround(length * kRate);
    const double leftGain = gain * std::cos(pan * 1.5707963), rightGain = gain * std::sin(pan * 1.5707963);
    for (long i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double env = 1.0;
        if (t < attack) {
            env = 0.5 - 0.5 * std::cos(3.14159265358979 * t / attack);
        } else if (t > length - release) {
            env = 0.5 + 0.5 * std::cos(3.14159265358979 * (t - (length - release)) / release);
        }
        const double a = wave.at(hz * t * (1.0 + detune)), b = wave.at(hz * t * (1.0 - detune) + 0.31);
        const size_t at = static_cast<size_t>(((first + i) % static_cast<long>(n) + static_cast<long>(n)) %
                                              static_cast<long>(n));
        out.left[at] += env * leftGain * (0.6 * a + 0.4 * b);
        out.right[at] += env * rightGain * (0.4 * a + 0.6 * b);
    }
}

void addBell(Stereo& out, const WaveTable& wave, double hz, double start, double gain, double pan) {
    const size_t n = out.left.size();
    const long first = std::lround(start * kRate);
    const long count = static_cast<long>(3.5 * kRate);
    const double leftGain = gain * std::cos(pan * 1.5707963), rightGain = gain * std::sin(pan * 1.5707963);
    for (long i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double env = std::min(1.0, t / 0.01) * std::exp(-t * 1.6) * (1.0 - t / 3.5);
        const double v = wave.at(hz * t) + 0.25 * wave.at(hz * 2.76 * t) * std::exp(-t * 4.0);
        const size_t at = static_cast<size_t>((first + i) % static_cast<long>(n));
        out.left[at] += env * leftGain * v;
        out.right[at] += env * rightGain * v;
    }
}

Stereo compose() {
    const size_t n = static_cast<size_t>(kSeconds * kRate);
    Stereo music(n);
    const WaveTable pad({1.0, 0.35, 0.15, 0.08, 0.04});
    const WaveTable bell({1.0});
    // Am9, Fmaj7, Cmaj7, G6 - six seconds each, each fading into the next.
    const std::vector<std::vector<int>> chords = {
        {45, 52, 55, 59, 60}, {41, 48, 52, 57, 64}, {48, 55, 59, 62, 64}, {43, 50, 52, 59, 62}};
    for (size_t c = 0; c < chords.size(); ++c) {
        for (size_t v = 0; v < chords[c].size(); ++v) {
            const double pan = 0.2 + 0.6 * static_cast<double>(v) / static_cast<double>(chords[c].size() - 1);
            addNote(music, pad, midiHz(chords[c][v]), 6.0 * c - 1.5, 9.0, 2.5, 2.5, 0.16, pan, 0.0025);
        }
    }
    // A bell melody on the A minor pentatonic scale, a step at a time.
    Random random(901);
    const int scale[] = {69, 72, 74, 76, 79, 81, 84};
    int degree = 3;
    for (int step = 0; step < 32; ++step) {
        if (random.uniform() < 0.45) {
            continue;
        }
        degree = std::max(0, std::min(6, degree + static_cast<int>(random.range(-2.0, 3.0))));
        addBell(music, bell, midiHz(scale[degree]), step * 0.75, 0.12, random.range(0.25, 0.75));
    }
    // Drone on A1: 55 Hz is a whole number of periods in 24 s, with a slow swell.
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double swell = 0.75 + 0.25 * std::sin(kTwoPi * t / 12.0);
        const double d = 0.12 * swell * std::sin(kTwoPi * 55.0 * t);
        music.left[i] += d;
        music.right[i] += d;
    }
    // Ping-pong echo, run twice round the loop so that its state is periodic.
    const size_t delay = static_cast<size_t>(0.43 * kRate);
    std::vector<double> dl(delay, 0.0), dr(delay, 0.0);
    Stereo wet(n);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < n; ++i) {
            const size_t k = (static_cast<size_t>(pass) * n + i) % delay;
            const double l = dl[k], r = dr[k];
            dl[k] = music.left[i] * 0.5 + r * 0.4;
            dr[k] = music.right[i] * 0.5 + l * 0.4;
            wet.left[i] = music.left[i] + 0.5 * l;
            wet.right[i] = music.right[i] + 0.5 * r;
        }
    }
    double peak = 1e-9;
    for (size_t i = 0; i < n; ++i) {
        peak = std::max(peak, std::max(std::fabs(wet.left[i]), std::fabs(wet.right[i])));
    }
    for (size_t i = 0; i < n; ++i) {
        wet.left[i] *= 0.6 / peak;
        wet.right[i] *= 0.6 / peak;
    }
    return wet;
}

void appendPage(std::vector<uint8_t>& bytes, const ogg_page& page) {
    bytes.insert(bytes.end(), page.header, page.header + page.header_len);
    bytes.insert(bytes.end(), page.body, page.body + page.body_len);
}

std::vector<uint8_t> encodeVorbis(const Stereo& music) {
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, kRate, 0.1f) != 0) {
        vorbis_info_clear(&info);
        throw std::runtime_error("cannot set up the Vorbis encoder");
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, static_cast<int>(kSerial));

    std::vector<uint8_t> bytes;
    ogg_packet header, commentHeader, codeHeader;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
    ogg_stream_packetin(&stream, &header);
    ogg_stream_packetin(&stream, &commentHeader);
    ogg_stream_packetin(&stream, &codeHeader);
    ogg_page page;
    while (ogg_stream_flush(&stream, &page) != 0) {
        appendPage(bytes, page);
    }

    const size_t n = music.left.size();
    const size_t chunk = 1024;
    bool ended = false;
    for (size_t at = 0; !ended;) {
        if (at < n) {
            const size_t count = std::min(chunk, n - at);
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(count));
            for (size_t i = 0; i < count; ++i) {
                buffer[0][i] = static_cast<float>(music.left[at + i]);
                buffer[1][i] = static_cast<float>(music.right[at + i]);
            }
            vorbis_analysis_wrote(&dsp, static_cast<int>(count));
            at += count;
        } else {
            vorbis_analysis_wrote(&dsp, 0);
            at = n + 1;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page) != 0) {
                    appendPage(bytes, page);
                    if (ogg_page_eos(&page) != 0) {
                        ended = true;
                    }
                }
            }
        }
        if (at > n && !ended) {
            while (ogg_stream_flush(&stream, &page) != 0) {
                appendPage(bytes, page);
            }
            ended = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return bytes;
}

}  // namespace

void writeMusic(const MediaOut& out) {
    out.writeBytes("audio/music/intro.ogg", encodeVorbis(compose()));
}

}  // namespace mkmedia

#include "platform/sound/decode.h"

#include "platform/assertion.h"

#include <sndfile.h>

#include <climits>
#include <cstddef>

namespace fsound {

namespace {

// Frames per read; also what a file's own frame count may reserve up front
// before the data proves it is there.
constexpr sf_count_t kChunkFrames = 4096;
constexpr sf_count_t kReserveFramesCap = sf_count_t(1) << 24;
// OpenAL takes the byte count of a buffer as a signed 32-bit size.
constexpr size_t kMaxBytes = size_t(INT_MAX);
// Above this the file is taken as damaged rather than as exotic.
constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 768000;

class SoundFile {
public:
    explicit SoundFile(const char* name) : file(sf_open(name, SFM_READ, &info)) {}
    ~SoundFile() {
        if (file != nullptr) {
            sf_close(file);
        }
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    SF_INFO info{};
    SNDFILE* file;
};

}  // namespace

bool decodeFile(const char* name, bool mono, Pcm& out) {
    out = Pcm{};
    if (name == nullptr) {
        return false;
    }
    SoundFile in(name);
    if (in.file == nullptr) {
        return false;
    }
    const int fileChannels = in.info.channels;
    if (fileChannels < 1 || fileChannels > kMaxChannels || in.info.samplerate < 1 ||
        in.info.samplerate > kMaxRate) {
        return false;
    }
    const int outChannels = (mono || fileChannels > 2) ? 1 : fileChannels;
    const size_t maxSamples = kMaxBytes / sizeof(int16_t);
    if (in.info.frames > 0) {
        const sf_count_t reserveFrames =
            in.info.frames < kReserveFramesCap ? in.info.frames : kReserveFramesCap;
        out.samples.reserve(size_t(reserveFrames) * size_t(outChannels));
    }

    // The file's frame count is not trusted: a truncated file yields what it
    // holds, a lying header cannot make us read past the end.
    std::vector<int16_t> chunk(size_t(kChunkFrames) * size_t(fileChannels));
    for (;;) {
        const sf_count_t got = sf_readf_short(in.file, chunk.data(), kChunkFrames);
        if (got <= 0) {
            break;
        }
        TW_ASSERT(got <= kChunkFrames);
        if (out.samples.size() + size_t(got) * size_t(outChannels) > maxSamples) {
            out = Pcm{};
            return false;
        }
        if (outChannels == fileChannels) {
            out.samples.insert(out.samples.end(), chunk.begin(), chunk.begin() + got * fileChannels);
            continue;
        }
        for (sf_count_t frame = 0; frame < got; ++frame) {
            const int16_t* first = chunk.data() + frame * fileChannels;
            int32_t sum = 0;
            for (int c = 0; c < fileChannels; ++c) {
                sum += first[c];
            }
            out.samples.push_back(int16_t(sum / fileChannels));
        }
    }
    if (out.samples.empty()) {
        out = Pcm{};
        return false;
    }
    out.channels = outChannels;
    out.rate = in.info.samplerate;
    return true;
}

}  // namespace fsound

#include "platform/sound/decode.h"

#include "platform/assertion.h"
#include "platform/regularfile.h"

#include <sndfile.h>
#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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

// The Ogg header check reads no more than this. The three headers come
// first, the identification alone on the first page and the other two on the
// pages after it, and even the set-up header (the codebooks) takes a few
// kilobytes; a stream whose headers have not ended by here is taken as
// damaged, and a file without a page by here is no Ogg file.
constexpr size_t kHeaderBytesCap = size_t(1) << 20;

// A regular file (a FIFO, a device or a folder is refused before any read,
// see regularfile.h) and libsndfile's view of it, released on every path.
class SoundFile {
public:
    explicit SoundFile(const char* name) : fd(openRegularFile(name)) {}
    ~SoundFile() {
        if (file != nullptr) {
            sf_close(file);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Hands the file from its start to libsndfile; false when it cannot
    // read it.
    bool open() {
        if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) {
            return false;
        }
        file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
        return file != nullptr;
    }

    int fd;
    SF_INFO info{};
    SNDFILE* file = nullptr;
};

// The Ogg Vorbis header check's state, released on every path.
struct VorbisHeaderCheck {
    VorbisHeaderCheck() {
        ogg_sync_init(&sync);
        vorbis_info_init(&info);
        vorbis_comment_init(&comment);
    }
    ~VorbisHeaderCheck() {
        vorbis_comment_clear(&comment);
        vorbis_info_clear(&info);
        if (streamStarted) {
            ogg_stream_clear(&stream);
        }
        ogg_sync_clear(&sync);
    }
    VorbisHeaderCheck(const VorbisHeaderCheck&) = delete;
    VorbisHeaderCheck& operator=(const VorbisHeaderCheck&) = delete;

    // The next page of the file; false at its end or at kHeaderBytesCap.
    bool nextPage(ogg_page& page) {
        for (;;) {
            const int found = ogg_sync_pageout(&sync, &page);
            if (found > 0) {
                return true;
            }
            if (found < 0) {
                continue;  // bytes skipped up to the next page
            }
            const size_t wanted = std::min<size_t>(4096, kHeaderBytesCap - taken);
            char* buffer = wanted > 0 ? ogg_sync_buffer(&sync, long(wanted)) : nullptr;
            ssize_t got = -1;
            while (buffer != nullptr && got < 0) {
                got = read(fd, buffer, wanted);
                if (got < 0 && errno != EINTR) {
                    return false;
                }
            }
            if (got <= 0) {
                return false;
            }
            taken += size_t(got);
            ogg_sync_wrote(&sync, long(got));
        }
    }

    int fd = -1;
    size_t taken = 0;  // bytes read so far
    ogg_sync_state sync{};
    ogg_stream_state stream{};
    bool streamStarted = false;
    vorbis_info info{};
    vorbis_comment comment{};
};

// libsndfile loses the Vorbis decoder's set-up (5,784 bytes a time) when a
// stream's first header is refused or its other two never complete, as in a
// file that holds only its first page. So the three headers are read here
// first, through the same libraries and in the same way (the first page's
// stream, other streams' pages skipped), and a stream whose headers fail never
// reaches libsndfile. True only for such a stream: any other file, Ogg or
// not, is left to libsndfile, which then frees what it takes.
bool vorbisHeadersFail(int fd) {
    VorbisHeaderCheck check;
    check.fd = fd;
    ogg_page page;
    if (!check.nextPage(page)) {
        return false;
    }
    ogg_stream_init(&check.stream, ogg_page_serialno(&page));
    check.streamStarted = true;
    ogg_stream_pagein(&check.stream, &page);
    ogg_packet packet;
    static const unsigned char kIdentification[] = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    if (ogg_stream_packetout(&check.stream, &packet) != 1 || packet.bytes < long(sizeof(kIdentification)) ||
        std::memcmp(packet.packet, kIdentification, sizeof(kIdentification)) != 0) {
        return false;  // not Vorbis
    }
    if (vorbis_synthesis_headerin(&check.info, &check.comment, &packet) != 0) {
        return true;
    }
    for (int headers = 1; headers < 3;) {
        const int result = ogg_stream_packetout(&check.stream, &packet);
        if (result < 0) {
            return true;  // a page missing in between
        }
        if (result > 0) {
            if (vorbis_synthesis_headerin(&check.info, &check.comment, &packet) != 0) {
                return true;
            }
            headers += 1;
            continue;
        }
        // Another stream's pages are refused by this stream and skipped.
        if (!check.nextPage(page)) {
            return true;
        }
        ogg_stream_pagein(&check.stream, &page);
    }
    return false;
}

}  // namespace

bool decodeFile(const char* name, bool mono, Pcm& out) {
    out = Pcm{};
    SoundFile in(name);
    if (in.fd < 0 || vorbisHeadersFail(in.fd) || !in.open()) {
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

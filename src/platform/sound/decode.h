// Whole-file decoding for the sound layer: any file libsndfile reads (WAV,
// Ogg Vorbis, ...) becomes 16-bit interleaved PCM, ready for one OpenAL
// buffer.
#pragma once

#include <cstdint>
#include <vector>

namespace fsound {

struct Pcm {
    std::vector<int16_t> samples;  // interleaved, frames × channels
    int32_t channels = 0;          // 1 or 2
    int32_t rate = 0;              // frames per second of the file
};

// False for a null name, anything but a regular file (never opened, so a FIFO
// or /dev/zero cannot stall or grow the caller), an unreadable or corrupt file
// (an Ogg Vorbis stream whose three headers do not all read within their first
// megabyte is refused before libsndfile sees it),
// a file without frames and one too large for a buffer. With `mono`, or with
// more than two channels (OpenAL plays only mono and stereo), the channels
// are averaged into one.
bool decodeFile(const char* name, bool mono, Pcm& out);

}  // namespace fsound

#include "platform/sound/fsound.h"

#include "platform/assertion.h"
#include "platform/sound/decode.h"
#include "platform/sound/fsound_source.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr signed char kTrue = 1;
constexpr signed char kFalse = 0;

constexpr int32_t kMaxChannels = 32;
constexpr uint32_t kIndexBits = 12;
constexpr uint32_t kIndexMask = (1u << kIndexBits) - 1u;
// Reuse counts run 1 .. kMaxReuse so that a handle stays a positive int32.
constexpr uint32_t kMaxReuse = (1u << (31 - kIndexBits)) - 1u;
static_assert(kMaxChannels <= int32_t(kIndexMask) + 1, "source index must fit the handle's index bits");

constexpr int32_t kMaxVolume = 255;
constexpr float kDefaultMinDistance = 1.0f;
constexpr float kDefaultMaxDistance = 1.0e9f;

// One decoded file in OpenAL. `buffer` is 0 when it was decoded without a
// device: it then only proves the file readable.
struct Clip {
    ALuint buffer = 0;
    int32_t rate = 0;
};

// What a play needs to know about the sound it starts.
struct Voice {
    ALuint buffer;
    int32_t rate;
    int32_t frequency;
    int32_t volume;
    float minDistance;
    float maxDistance;
    bool positional;
    bool loop;
};

struct Channel {
    ALuint source = 0;
    // Set by a play, cleared by a stop: a handle is live only while claimed.
    // A sound that ended on its own stays claimed until the source is reused.
    bool claimed = false;
    bool positional = false;
    int32_t rate = 0;
    int32_t frequency = 0;
    ALuint buffer = 0;
};

}  // namespace

struct FSOUND_SAMPLE {
    Clip clip;
    unsigned int mode = 0;
    int32_t frequency = 0;
    int32_t volume = kMaxVolume;
    float minDistance = kDefaultMinDistance;
    float maxDistance = kDefaultMaxDistance;
};

struct FSOUND_STREAM {
    const Clip* clip = nullptr;  // owned by the per-file cache
    unsigned int mode = 0;
    int channel = -1;
};

namespace {

struct State {
    ALCdevice* device = nullptr;
    ALCcontext* context = nullptr;
    std::vector<Channel> channels;
    // Where the search for a free channel starts: just after the last one
    // taken, so a stopped channel is the last to be taken again and a handle
    // stays recognisably stale for as long as possible.
    size_t cursor = 0;
    // Kept across Close and Init, so a handle from an earlier session stays
    // stale.
    std::array<uint32_t, kMaxChannels> reuse{};
    std::vector<std::unique_ptr<FSOUND_SAMPLE>> samples;
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;
    // One decoded copy per file and channel layout, for streams.
    std::map<std::string, std::unique_ptr<Clip>> clips;
    // The same keys for files a stream could not be made of: the menu opens
    // its music on every entry, and a damaged file is read once.
    std::set<std::string> failedClips;
};

State state;

bool finite3(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool loops(unsigned int mode) {
    return (mode & FSOUND_LOOP_NORMAL) != 0;
}

bool positional(unsigned int mode) {
    return (mode & FSOUND_HW3D) != 0;
}

template <typename T>
bool known(const std::vector<std::unique_ptr<T>>& list, const T* item) {
    if (item == nullptr) {
        return false;
    }
    for (const std::unique_ptr<T>& entry : list) {
        if (entry.get() == item) {
            return true;
        }
    }
    return false;
}

// Decodes the file and, with a device, puts it into a new buffer.
bool loadClip(const char* name, bool mono, Clip& clip) {
    fsound::Pcm pcm;
    if (!fsound::decodeFile(name, mono, pcm)) {
        return false;
    }
    clip = Clip{};
    clip.rate = pcm.rate;
    if (state.context == nullptr) {
        return true;
    }
    alGetError();
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (alGetError() != AL_NO_ERROR) {
        return false;
    }
    const ALenum format = pcm.channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
    // The decoder keeps the byte count within ALsizei.
    const ALsizei bytes = ALsizei(pcm.samples.size() * sizeof(int16_t));
    alBufferData(buffer, format, pcm.samples.data(), bytes, pcm.rate);
    if (alGetError() != AL_NO_ERROR) {
        alDeleteBuffers(1, &buffer);
        return false;
    }
    clip.buffer = buffer;
    return true;
}

void releaseClip(Clip& clip) {
    if (clip.buffer != 0 && state.context != nullptr) {
        alDeleteBuffers(1, &clip.buffer);
    }
    clip.buffer = 0;
}

int32_t handleOf(size_t index) {
    TW_ASSERT(index < state.channels.size());
    const uint32_t reuse = state.reuse[index];
    TW_ASSERT(reuse >= 1 && reuse <= kMaxReuse);
    return int32_t((reuse << kIndexBits) | uint32_t(index));
}

// The live channel of a handle, or null.
Channel* channelOf(int handle) {
    if (handle <= 0) {
        return nullptr;
    }
    const size_t index = size_t(uint32_t(handle) & kIndexMask);
    if (index >= state.channels.size()) {
        return nullptr;
    }
    Channel& channel = state.channels[index];
    if (!channel.claimed || state.reuse[index] != (uint32_t(handle) >> kIndexBits)) {
        return nullptr;
    }
    return &channel;
}

bool busy(const Channel& channel) {
    if (!channel.claimed) {
        return false;
    }
    ALint sourceState = AL_STOPPED;
    alGetSourcei(channel.source, AL_SOURCE_STATE, &sourceState);
    return sourceState == AL_PLAYING || sourceState == AL_PAUSED;
}

void stop(Channel& channel) {
    alSourceStop(channel.source);
    channel.claimed = false;
}

// Stops and empties every source holding the buffer, so that it can be deleted.
void detach(ALuint buffer) {
    for (Channel& channel : state.channels) {
        if (channel.buffer == buffer) {
            stop(channel);
            alSourcei(channel.source, AL_BUFFER, 0);
            channel.buffer = 0;
        }
    }
}

int play(int channelArgument, const Voice& voice) {
    if (channelArgument != FSOUND_FREE || state.context == nullptr || voice.buffer == 0) {
        return -1;
    }
    const size_t count = state.channels.size();
    size_t index = count;
    for (size_t step = 0; step < count; ++step) {
        const size_t candidate = (state.cursor + step) % count;
        if (!busy(state.channels[candidate])) {
            index = candidate;
            break;
        }
    }
    if (index == count) {
        return -1;
    }
    state.cursor = (index + 1) % count;
    state.reuse[index] = state.reuse[index] % kMaxReuse + 1u;

    Channel& channel = state.channels[index];
    const ALuint source = channel.source;
    alSourceStop(source);
    alSourcei(source, AL_BUFFER, ALint(voice.buffer));
    alSourcei(source, AL_LOOPING, voice.loop ? AL_TRUE : AL_FALSE);
    alSourcef(source, AL_GAIN, float(voice.volume) / float(kMaxVolume));
    alSourcef(source, AL_PITCH, float(double(voice.frequency) / double(voice.rate)));
    // Every play starts at the listener; a 3-D channel leaves it when placed.
    alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(source, AL_POSITION, 0.0f, 0.0f, 0.0f);
    alSource3f(source, AL_VELOCITY, 0.0f, 0.0f, 0.0f);
    alSourcef(source, AL_REFERENCE_DISTANCE, voice.minDistance);
    alSourcef(source, AL_MAX_DISTANCE, voice.maxDistance);
    alSourcePlay(source);

    channel.claimed = true;
    channel.positional = voice.positional;
    channel.rate = voice.rate;
    channel.frequency = voice.frequency;
    channel.buffer = voice.buffer;
    return handleOf(index);
}

}  // namespace

signed char FSOUND_Init(int mixrate, int maxchannels, unsigned int /*flags*/) {
    FSOUND_Close();
    state.device = alcOpenDevice(nullptr);
    if (state.device == nullptr) {
        return kFalse;
    }
    const ALCint attributes[] = {ALC_FREQUENCY, mixrate, 0};
    state.context = alcCreateContext(state.device, mixrate > 0 ? attributes : nullptr);
    if (state.context == nullptr || alcMakeContextCurrent(state.context) == ALC_FALSE) {
        FSOUND_Close();
        return kFalse;
    }
    alGetError();
    const int32_t wanted = std::clamp(maxchannels, 1, kMaxChannels);
    for (int32_t i = 0; i < wanted; ++i) {
        Channel channel;
        alGenSources(1, &channel.source);
        if (alGetError() != AL_NO_ERROR) {
            break;
        }
        state.channels.push_back(channel);
    }
    if (state.channels.empty()) {
        FSOUND_Close();
        return kFalse;
    }
    alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
    alDopplerFactor(0.0f);
    return kTrue;
}

void FSOUND_Close() {
    if (state.context != nullptr) {
        for (Channel& channel : state.channels) {
            alSourceStop(channel.source);
            alSourcei(channel.source, AL_BUFFER, 0);
            alDeleteSources(1, &channel.source);
        }
        for (std::unique_ptr<FSOUND_SAMPLE>& sample : state.samples) {
            releaseClip(sample->clip);
        }
        for (auto& entry : state.clips) {
            releaseClip(*entry.second);
        }
        alcMakeContextCurrent(nullptr);
        alcDestroyContext(state.context);
        state.context = nullptr;
    }
    if (state.device != nullptr) {
        alcCloseDevice(state.device);
        state.device = nullptr;
    }
    state.channels.clear();
    state.cursor = 0;
    state.samples.clear();
    state.streams.clear();
    state.clips.clear();
    state.failedClips.clear();
}

FSOUND_SAMPLE* FSOUND_Sample_Load(int /*index*/, const char* name, unsigned int mode, int /*offset*/,
                                  int /*length*/) {
    auto sample = std::make_unique<FSOUND_SAMPLE>();
    if (!loadClip(name, positional(mode), sample->clip)) {
        return nullptr;
    }
    sample->mode = mode;
    sample->frequency = sample->clip.rate;
    state.samples.push_back(std::move(sample));
    return state.samples.back().get();
}

void FSOUND_Sample_Free(FSOUND_SAMPLE* sample) {
    if (!known(state.samples, sample)) {
        return;
    }
    if (sample->clip.buffer != 0) {
        detach(sample->clip.buffer);
    }
    releaseClip(sample->clip);
    state.samples.erase(std::find_if(
        state.samples.begin(), state.samples.end(),
        [sample](const std::unique_ptr<FSOUND_SAMPLE>& entry) { return entry.get() == sample; }));
}

signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE* sample, int frequency, int volume, int /*pan*/,
                                      int /*priority*/) {
    if (!known(state.samples, sample)) {
        return kFalse;
    }
    if (frequency > 0) {
        sample->frequency = frequency;
    }
    if (volume >= 0) {
        sample->volume = std::min(volume, kMaxVolume);
    }
    return kTrue;
}

signed char FSOUND_Sample_SetMinMaxDistance(FSOUND_SAMPLE* sample, float minimum, float maximum) {
    if (!known(state.samples, sample) || !std::isfinite(minimum) || !std::isfinite(maximum) ||
        !(minimum > 0.0f) || !(maximum >= minimum)) {
        return kFalse;
    }
    sample->minDistance = minimum;
    sample->maxDistance = maximum;
    return kTrue;
}

int FSOUND_PlaySound(int channel, FSOUND_SAMPLE* sample) {
    if (!known(state.samples, sample)) {
        return -1;
    }
    const Voice voice{sample->clip.buffer,      sample->clip.rate,   sample->frequency,
                      sample->volume,           sample->minDistance, sample->maxDistance,
                      positional(sample->mode), loops(sample->mode)};
    return play(channel, voice);
}

signed char FSOUND_3D_SetAttributes(int channel, const float* position, const float* velocity) {
    Channel* live = channelOf(channel);
    if (live == nullptr || !live->positional) {
        return kFalse;
    }
    if (position != nullptr && finite3(position)) {
        alSourcei(live->source, AL_SOURCE_RELATIVE, AL_FALSE);
        alSource3f(live->source, AL_POSITION, position[0], position[1], -position[2]);
    }
    if (velocity != nullptr && finite3(velocity)) {
        alSource3f(live->source, AL_VELOCITY, velocity[0], velocity[1], -velocity[2]);
    }
    return kTrue;
}

signed char FSOUND_StopSound(int channel) {
    if (channel == FSOUND_ALL) {
        for (Channel& each : state.channels) {
            if (each.claimed) {
                stop(each);
            }
        }
        return kTrue;
    }
    Channel* live = channelOf(channel);
    if (live == nullptr) {
        return kFalse;
    }
    stop(*live);
    return kTrue;
}

int FSOUND_GetFrequency(int channel) {
    const Channel* live = channelOf(channel);
    return live == nullptr ? 0 : live->frequency;
}

signed char FSOUND_SetFrequency(int channel, int frequency) {
    Channel* live = channelOf(channel);
    if (live == nullptr || frequency <= 0) {
        return kFalse;
    }
    const float pitch = float(double(frequency) / double(live->rate));
    if (!std::isfinite(pitch) || !(pitch > 0.0f)) {
        return kFalse;
    }
    alSourcef(live->source, AL_PITCH, pitch);
    live->frequency = frequency;
    return kTrue;
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int /*offset*/, int /*length*/) {
    if (name == nullptr) {
        return nullptr;
    }
    const bool mono = positional(mode);
    const std::string key = std::string(mono ? "mono:" : "file:") + name;
    if (state.failedClips.count(key) != 0) {
        return nullptr;
    }
    auto found = state.clips.find(key);
    if (found == state.clips.end()) {
        auto clip = std::make_unique<Clip>();
        if (!loadClip(name, mono, *clip)) {
            state.failedClips.insert(key);
            return nullptr;
        }
        found = state.clips.emplace(key, std::move(clip)).first;
    }
    auto stream = std::make_unique<FSOUND_STREAM>();
    stream->clip = found->second.get();
    stream->mode = mode;
    state.streams.push_back(std::move(stream));
    return state.streams.back().get();
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    if (!known(state.streams, stream)) {
        return -1;
    }
    // One playback per stream: a second play restarts it.
    Channel* playing = channelOf(stream->channel);
    if (playing != nullptr) {
        stop(*playing);
    }
    const Clip& clip = *stream->clip;
    const Voice voice{clip.buffer,
                      clip.rate,
                      clip.rate,
                      kMaxVolume,
                      kDefaultMinDistance,
                      kDefaultMaxDistance,
                      positional(stream->mode),
                      loops(stream->mode)};
    stream->channel = play(channel, voice);
    return stream->channel;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    if (!known(state.streams, stream)) {
        return kFalse;
    }
    // Stale once the channel was stopped, so another sound on it is safe.
    Channel* live = channelOf(stream->channel);
    if (live != nullptr) {
        stop(*live);
    }
    stream->channel = -1;
    return kTrue;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    if (FSOUND_Stream_Stop(stream) == kFalse) {
        return kFalse;
    }
    state.streams.erase(std::find_if(
        state.streams.begin(), state.streams.end(),
        [stream](const std::unique_ptr<FSOUND_STREAM>& entry) { return entry.get() == stream; }));
    return kTrue;
}

void FSOUND_3D_Listener_SetAttributes(const float* position, const float* velocity, float forwardX,
                                      float forwardY, float forwardZ, float topX, float topY, float topZ) {
    if (state.context == nullptr) {
        return;
    }
    if (position != nullptr && finite3(position)) {
        alListener3f(AL_POSITION, position[0], position[1], -position[2]);
    }
    if (velocity != nullptr && finite3(velocity)) {
        alListener3f(AL_VELOCITY, velocity[0], velocity[1], -velocity[2]);
    }
    const float orientation[6] = {forwardX, forwardY, -forwardZ, topX, topY, -topZ};
    const float* forward = orientation;
    const float* top = orientation + 3;
    if (!finite3(forward) || !finite3(top)) {
        return;
    }
    // OpenAL needs the two to span the listener's frame.
    const double cx = double(forward[1]) * top[2] - double(forward[2]) * top[1];
    const double cy = double(forward[2]) * top[0] - double(forward[0]) * top[2];
    const double cz = double(forward[0]) * top[1] - double(forward[1]) * top[0];
    if (!(cx * cx + cy * cy + cz * cz > 1e-12)) {
        return;
    }
    alListenerfv(AL_ORIENTATION, orientation);
}

void FSOUND_Update() {}

unsigned int fsoundChannelSource(int channel) {
    const Channel* live = channelOf(channel);
    return live == nullptr ? 0u : live->source;
}

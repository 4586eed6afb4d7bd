#include "platform/sound/fsound_recording.h"

#include "platform/regularfile.h"
#include "platform/sound/fsound.h"

#include <sndfile.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr signed char kTrue = 1;
constexpr signed char kFalse = 0;

}  // namespace

struct FSOUND_SAMPLE {
    int32_t number = 0;
    unsigned int mode = 0;
    int32_t rate = 0;
    int32_t frequency = 0;
};

struct FSOUND_STREAM {
    int32_t number = 0;
    unsigned int mode = 0;
    int32_t rate = 0;
    int channel = -1;
};

namespace {

struct Channel {
    const FSOUND_SAMPLE* sample = nullptr;  // null for a stream's channel
    int32_t frequency = 0;
    bool positional = false;
};

struct State {
    std::vector<fsound::RecordedCall> calls;
    bool initialized = false;
    // Numbers are not given twice (until resetRecording), so a handle kept
    // across Close and Init stays dead.
    int32_t lastSample = 0;
    int32_t lastStream = 0;
    int32_t lastChannel = 0;
    std::vector<std::unique_ptr<FSOUND_SAMPLE>> samples;
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;
    std::map<int, Channel> channels;  // the live ones
};

State state;

fsound::RecordedCall& record(fsound::Op op) {
    state.calls.emplace_back();
    state.calls.back().op = op;
    return state.calls.back();
}

// A load or an open: the file and how much of it, as asked.
fsound::RecordedCall& recordOpen(fsound::Op op, const char* name, unsigned int mode, int offset, int length) {
    fsound::RecordedCall& call = record(op);
    call.name = name != nullptr ? name : "";
    call.mode = mode;
    call.offset = offset;
    call.length = length;
    return call;
}

template <typename T>
T* find(const std::vector<std::unique_ptr<T>>& list, const T* item) {
    for (const std::unique_ptr<T>& entry : list) {
        if (entry.get() == item && item != nullptr) {
            return entry.get();
        }
    }
    return nullptr;
}

template <typename T>
void erase(std::vector<std::unique_ptr<T>>& list, const T* item) {
    list.erase(std::find_if(list.begin(), list.end(),
                            [item](const std::unique_ptr<T>& entry) { return entry.get() == item; }));
}

template <typename T>
int32_t numberOf(const std::vector<std::unique_ptr<T>>& list, const T* item) {
    const T* known = find(list, item);
    return known == nullptr ? 0 : known->number;
}

// The file's frame rate when it is a regular file whose header libsndfile
// reads and it has frames, else 0: the real layer refuses the same files.
int32_t readableRate(const char* name) {
    const int fd = openRegularFile(name);
    if (fd < 0) {
        return 0;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    const bool read = file != nullptr;
    if (read) {
        sf_close(file);
    }
    close(fd);
    return read && info.frames > 0 && info.channels > 0 ? info.samplerate : 0;
}

Channel* live(int channel) {
    auto found = state.channels.find(channel);
    return found == state.channels.end() ? nullptr : &found->second;
}

int play(const Channel& channel) {
    state.channels[++state.lastChannel] = channel;
    return state.lastChannel;
}

void stopStream(FSOUND_STREAM& stream) {
    state.channels.erase(stream.channel);
    stream.channel = -1;
}

std::array<float, 3> vector3(const float* v) {
    return v == nullptr ? std::array<float, 3>{} : std::array<float, 3>{v[0], v[1], v[2]};
}

void releaseAll() {
    state.initialized = false;
    state.channels.clear();
    state.samples.clear();
    state.streams.clear();
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%" PRIx32, value);
    return text;
}

std::string vectorText(bool present, const std::array<float, 3>& v) {
    return present ? "(" + number(v[0]) + ", " + number(v[1]) + ", " + number(v[2]) + ")" : "null";
}

std::string handleText(const char* kind, int32_t handle) {
    return std::string(kind) + " " + std::to_string(handle);
}

std::string fileText(const fsound::RecordedCall& call) {
    return "\"" + call.name + "\", " + hex(call.mode) + ", ";
}

}  // namespace

namespace fsound {

const std::vector<RecordedCall>& recording() {
    return state.calls;
}

void resetRecording() {
    state = State{};
}

std::string describe(const RecordedCall& call) {
    const std::string sample = handleText("sample", call.sample);
    const std::string stream = handleText("stream", call.sample);
    const std::string result = " = " + std::to_string(call.result);
    const std::string channel = std::to_string(call.channel);
    switch (call.op) {
        case Op::Init:
            return "FSOUND_Init(" + std::to_string(call.mixRate) + ", " + std::to_string(call.maxChannels) + ", " +
                   std::to_string(call.mode) + ")" + result;
        case Op::Close:
            return "FSOUND_Close()";
        case Op::SampleLoad:
            return "FSOUND_Sample_Load(" + std::to_string(call.index) + ", " + fileText(call) +
                   std::to_string(call.offset) + ", " + std::to_string(call.length) + ") = " +
                   (call.result == 0 ? "null" : sample);
        case Op::SampleFree:
            return "FSOUND_Sample_Free(" + sample + ")";
        case Op::SampleSetDefaults:
            return "FSOUND_Sample_SetDefaults(" + sample + ", " + std::to_string(call.frequency) + ", " +
                   std::to_string(call.volume) + ", " + std::to_string(call.pan) + ", " +
                   std::to_string(call.priority) + ")" + result;
        case Op::SampleSetMinMaxDistance:
            return "FSOUND_Sample_SetMinMaxDistance(" + sample + ", " + number(call.minimum) + ", " +
                   number(call.maximum) + ")" + result;
        case Op::PlaySound:
            return "FSOUND_PlaySound(" + channel + ", " + sample + ")" + result;
        case Op::SetAttributes:
            return "FSOUND_3D_SetAttributes(" + channel + ", " + vectorText(call.hasPosition, call.position) + ", " +
                   vectorText(call.hasVelocity, call.velocity) + ")" + result;
        case Op::StopSound:
            return "FSOUND_StopSound(" + channel + ")" + result;
        case Op::GetFrequency:
            return "FSOUND_GetFrequency(" + channel + ")" + result;
        case Op::SetFrequency:
            return "FSOUND_SetFrequency(" + channel + ", " + std::to_string(call.frequency) + ")" + result;
        case Op::StreamOpen:
            return "FSOUND_Stream_Open(" + fileText(call) + std::to_string(call.offset) + ", " +
                   std::to_string(call.length) + ") = " + (call.result == 0 ? "null" : stream);
        case Op::StreamPlay:
            return "FSOUND_Stream_Play(" + channel + ", " + stream + ")" + result;
        case Op::StreamStop:
            return "FSOUND_Stream_Stop(" + stream + ")" + result;
        case Op::StreamClose:
            return "FSOUND_Stream_Close(" + stream + ")" + result;
        case Op::ListenerSetAttributes:
            return "FSOUND_3D_Listener_SetAttributes(" + vectorText(call.hasPosition, call.position) + ", " +
                   vectorText(call.hasVelocity, call.velocity) + ", " + number(call.forward[0]) + ", " +
                   number(call.forward[1]) + ", " + number(call.forward[2]) + ", " + number(call.top[0]) + ", " +
                   number(call.top[1]) + ", " + number(call.top[2]) + ")";
        case Op::Update:
            return "FSOUND_Update()";
    }
    return "?";
}

}  // namespace fsound

signed char FSOUND_Init(int mixrate, int maxchannels, unsigned int flags) {
    releaseAll();
    fsound::RecordedCall& call = record(fsound::Op::Init);
    call.mixRate = mixrate;
    call.maxChannels = maxchannels;
    call.mode = flags;
    state.initialized = true;
    call.result = kTrue;
    return kTrue;
}

void FSOUND_Close() {
    record(fsound::Op::Close);
    releaseAll();
}

FSOUND_SAMPLE* FSOUND_Sample_Load(int index, const char* name, unsigned int mode, int offset, int length) {
    fsound::RecordedCall& call = recordOpen(fsound::Op::SampleLoad, name, mode, offset, length);
    call.index = index;
    const int32_t rate = readableRate(name);
    if (rate == 0) {
        return nullptr;
    }
    auto sample = std::make_unique<FSOUND_SAMPLE>();
    sample->number = ++state.lastSample;
    sample->mode = mode;
    sample->rate = rate;
    sample->frequency = rate;
    call.sample = call.result = sample->number;
    state.samples.push_back(std::move(sample));
    return state.samples.back().get();
}

void FSOUND_Sample_Free(FSOUND_SAMPLE* sample) {
    record(fsound::Op::SampleFree).sample = numberOf(state.samples, sample);
    if (find(state.samples, sample) == nullptr) {
        return;
    }
    for (auto each = state.channels.begin(); each != state.channels.end();) {
        each = each->second.sample == sample ? state.channels.erase(each) : std::next(each);
    }
    erase(state.samples, sample);
}

signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE* sample, int frequency, int volume, int pan,
                                      int priority) {
    fsound::RecordedCall& call = record(fsound::Op::SampleSetDefaults);
    call.sample = numberOf(state.samples, sample);
    call.frequency = frequency;
    call.volume = volume;
    call.pan = pan;
    call.priority = priority;
    if (call.sample == 0) {
        return kFalse;
    }
    if (frequency > 0) {
        sample->frequency = frequency;
    }
    call.result = kTrue;
    return kTrue;
}

signed char FSOUND_Sample_SetMinMaxDistance(FSOUND_SAMPLE* sample, float minimum, float maximum) {
    fsound::RecordedCall& call = record(fsound::Op::SampleSetMinMaxDistance);
    call.sample = numberOf(state.samples, sample);
    call.minimum = minimum;
    call.maximum = maximum;
    const bool valid = std::isfinite(minimum) && std::isfinite(maximum) && minimum > 0.0f && maximum >= minimum;
    call.result = call.sample != 0 && valid ? kTrue : kFalse;
    return static_cast<signed char>(call.result);
}

int FSOUND_PlaySound(int channel, FSOUND_SAMPLE* sample) {
    fsound::RecordedCall& call = record(fsound::Op::PlaySound);
    call.channel = channel;
    call.sample = numberOf(state.samples, sample);
    if (channel != FSOUND_FREE || !state.initialized || call.sample == 0) {
        call.result = -1;
        return -1;
    }
    call.result = play(Channel{sample, sample->frequency, (sample->mode & FSOUND_HW3D) != 0});
    return call.result;
}

signed char FSOUND_3D_SetAttributes(int channel, const float* position, const float* velocity) {
    fsound::RecordedCall& call = record(fsound::Op::SetAttributes);
    call.channel = channel;
    call.hasPosition = position != nullptr;
    call.hasVelocity = velocity != nullptr;
    call.position = vector3(position);
    call.velocity = vector3(velocity);
    const Channel* target = live(channel);
    call.result = target != nullptr && target->positional ? kTrue : kFalse;
    return static_cast<signed char>(call.result);
}

signed char FSOUND_StopSound(int channel) {
    fsound::RecordedCall& call = record(fsound::Op::StopSound);
    call.channel = channel;
    if (channel == FSOUND_ALL) {
        state.channels.clear();
    } else if (state.channels.erase(channel) == 0) {
        return kFalse;
    }
    call.result = kTrue;
    return kTrue;
}

int FSOUND_GetFrequency(int channel) {
    fsound::RecordedCall& call = record(fsound::Op::GetFrequency);
    call.channel = channel;
    const Channel* target = live(channel);
    call.result = target == nullptr ? 0 : target->frequency;
    return call.result;
}

signed char FSOUND_SetFrequency(int channel, int frequency) {
    fsound::RecordedCall& call = record(fsound::Op::SetFrequency);
    call.channel = channel;
    call.frequency = frequency;
    Channel* target = live(channel);
    if (target == nullptr || frequency <= 0) {
        return kFalse;
    }
    target->frequency = frequency;
    call.result = kTrue;
    return kTrue;
}

FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int offset, int length) {
    fsound::RecordedCall& call = recordOpen(fsound::Op::StreamOpen, name, mode, offset, length);
    const int32_t rate = readableRate(name);
    if (rate == 0) {
        return nullptr;
    }
    auto stream = std::make_unique<FSOUND_STREAM>();
    stream->number = ++state.lastStream;
    stream->mode = mode;
    stream->rate = rate;
    call.sample = call.result = stream->number;
    state.streams.push_back(std::move(stream));
    return state.streams.back().get();
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    fsound::RecordedCall& call = record(fsound::Op::StreamPlay);
    call.channel = channel;
    call.sample = numberOf(state.streams, stream);
    if (call.sample == 0) {
        call.result = -1;
        return -1;
    }
    stopStream(*stream);
    if (channel != FSOUND_FREE || !state.initialized) {
        call.result = -1;
        return -1;
    }
    stream->channel = play(Channel{nullptr, stream->rate, (stream->mode & FSOUND_HW3D) != 0});
    call.result = stream->channel;
    return call.result;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    fsound::RecordedCall& call = record(fsound::Op::StreamStop);
    call.sample = numberOf(state.streams, stream);
    if (call.sample == 0) {
        return kFalse;
    }
    stopStream(*stream);
    call.result = kTrue;
    return kTrue;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    fsound::RecordedCall& call = record(fsound::Op::StreamClose);
    call.sample = numberOf(state.streams, stream);
    if (call.sample == 0) {
        return kFalse;
    }
    stopStream(*stream);
    erase(state.streams, stream);
    call.result = kTrue;
    return kTrue;
}

void FSOUND_3D_Listener_SetAttributes(const float* position, const float* velocity, float forwardX,
                                      float forwardY, float forwardZ, float topX, float topY, float topZ) {
    fsound::RecordedCall& call = record(fsound::Op::ListenerSetAttributes);
    call.hasPosition = position != nullptr;
    call.hasVelocity = velocity != nullptr;
    call.position = vector3(position);
    call.velocity = vector3(velocity);
    call.forward = {forwardX, forwardY, forwardZ};
    call.top = {topX, topY, topZ};
}

void FSOUND_Update() {
    record(fsound::Op::Update);
}

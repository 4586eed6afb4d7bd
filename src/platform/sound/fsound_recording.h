// The recording twin of the sound layer: the same operations (fsound.h),
// linked by test binaries in place of the OpenAL one, that play nothing and
// write every call, with its arguments and its result, into a log the test
// reads. The game links the real layer.
//
// What the twin answers follows the real layer's contract, without a device
// and without time:
// - A load or an open succeeds when libsndfile can read the file's header and
//   the file has frames: a missing, foreign or empty file gives null. Samples
//   and streams are numbered in the order they were made, from 1; the log
//   names them by that number, 0 for null or a handle the layer does not know.
// - Init always succeeds; before it (and after Close) plays return -1.
// - Sounds never end on their own and channels never run out: each play gets
//   the next channel number, 1, 2, 3, ..., not given again. A channel stays
//   live until it is stopped, its sample is freed or its stream is played
//   again, stopped or closed; calls on a dead channel return FALSE (0 for
//   FSOUND_GetFrequency), as on the real layer.
// - A channel's frequency starts at its sample's default frequency, or the
//   file's rate when none was set.
// Main thread only, like the real layer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace fsound {

enum class Op : uint8_t {
    Init,
    Close,
    SampleLoad,
    SampleFree,
    SampleSetDefaults,
    SampleSetMinMaxDistance,
    PlaySound,
    SetAttributes,  // FSOUND_3D_SetAttributes
    StopSound,
    GetFrequency,
    SetFrequency,
    StreamOpen,
    StreamPlay,
    StreamStop,
    StreamClose,
    ListenerSetAttributes,  // FSOUND_3D_Listener_SetAttributes
    Update,
};

// One call as the game made it. Each operation fills the fields it takes
// (the order of describe()'s text); the others keep these defaults.
struct RecordedCall {
    Op op = Op::Update;
    // Number of the sample or stream the call names, or that a load or an
    // open returned; 0 for null or unknown.
    int32_t sample = 0;
    // Channel argument: FSOUND_FREE, FSOUND_ALL or a channel number.
    int32_t channel = 0;
    // Returned value: the channel of a play, TRUE 1 / FALSE 0, the Hz of
    // FSOUND_GetFrequency; for a load or an open the same number as `sample`.
    int32_t result = 0;
    std::string name;  // file of a load or an open
    uint32_t mode = 0;  // load, open; the flags of Init
    int32_t index = 0;  // sample slot of a load
    int32_t offset = 0;  // load, open
    int32_t length = 0;
    int32_t mixRate = 0;  // Init
    int32_t maxChannels = 0;
    int32_t frequency = 0;  // SetDefaults, SetFrequency
    int32_t volume = 0;  // SetDefaults
    int32_t pan = 0;
    int32_t priority = 0;
    float minimum = 0.0f;  // SetMinMaxDistance
    float maximum = 0.0f;
    // 3-D placements: the vectors passed; a null pointer leaves its flag
    // false and its vector zero.
    bool hasPosition = false;
    bool hasVelocity = false;
    std::array<float, 3> position{};
    std::array<float, 3> velocity{};
    std::array<float, 3> forward{};  // listener
    std::array<float, 3> top{};
};

// Every call since the program started or the last resetRecording, in order.
const std::vector<RecordedCall>& recording();
// Back to the state of a fresh process: no calls, no samples, streams or
// live channels, and the numbers start at 1 again. Handles the caller still
// holds become unknown.
void resetRecording();

// The call as text, its arguments in the order the operation takes them,
// then " = " and the result, e.g.
//   FSOUND_Sample_Load(-1, "media/audio/sound/3d_collision.wav", 0x1000, 0, 0) = sample 7
//   FSOUND_Sample_SetDefaults(sample 7, -1, 255, -1, 255) = 1
//   FSOUND_3D_SetAttributes(3, (1, 2, 3), null) = 1
// Floats are written as printf's %g writes them.
std::string describe(const RecordedCall& call);

}  // namespace fsound

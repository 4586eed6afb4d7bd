// The sound operations the game uses, under the names the game uses, on
// OpenAL Soft with files decoded by libsndfile. Main thread only.
//
// Channels: a play returns a channel handle, (reuse count << 12) | source
// index with a reuse count of at least 1, so a handle is never 0 (the game
// reads 0 as "no channel") and never negative; -1 means the play failed. A
// handle goes stale when its sound is stopped or its source is reused; a
// stale handle, -1 or any other bad value makes every operation do nothing.
//
// Space: the game's frame is left-handed (x right, y up, z forward); z is
// negated on the way to OpenAL, whose frame is right-handed. Distances fall
// off inverse-clamped between a sample's minimum (default 1) and maximum
// (default 1e9); there is no Doppler shift.
//
// Booleans are returned as signed char, TRUE 1 and FALSE 0.
#pragma once

struct FSOUND_SAMPLE;
struct FSOUND_STREAM;

constexpr int FSOUND_FREE = -1;  // play on any free channel; load into any slot
constexpr int FSOUND_ALL = -3;   // every channel, for FSOUND_StopSound

// Modes of samples and streams.
constexpr unsigned int FSOUND_LOOP_NORMAL = 0x2;
// Positional: the file is mixed to mono at load, as OpenAL places only mono.
constexpr unsigned int FSOUND_HW3D = 0x1000;
// Plays at the listener, unplaced; stereo files stay stereo.
constexpr unsigned int FSOUND_2D = 0x2000;

// Opens the default device with `mixrate` Hz and min(maxchannels, 32)
// channels (at least 1); `flags` are unused. Starts from nothing: whatever an
// earlier Init or load left is released first. FALSE without a device; loads
// then still decode and return handles, plays return -1.
signed char FSOUND_Init(int mixrate, int maxchannels, unsigned int flags);
// Stops every channel and releases every sample, stream and the device.
void FSOUND_Close();

// Decodes the whole file. `index` is unused (every sample gets its own slot),
// `offset` and `length` are unused. Null for a null name, a missing, corrupt
// or empty file.
FSOUND_SAMPLE* FSOUND_Sample_Load(int index, const char* name, unsigned int mode, int offset, int length);
// Stops the channels playing the sample, then releases it.
void FSOUND_Sample_Free(FSOUND_SAMPLE* sample);
// Frequency in Hz (default: the file's rate), volume 0-255 (default 255),
// pan and priority (unused); -1 keeps a value. Used by the next plays.
signed char FSOUND_Sample_SetDefaults(FSOUND_SAMPLE* sample, int frequency, int volume, int pan,
                                      int priority);
// Inside `minimum` the sound is at full volume, beyond `maximum` it fades no
// further. Needs 0 < minimum <= maximum. Used by the next plays.
signed char FSOUND_Sample_SetMinMaxDistance(FSOUND_SAMPLE* sample, float minimum, float maximum);

// `channel` must be FSOUND_FREE. A 3-D sample starts at the listener until
// FSOUND_3D_SetAttributes places it. -1 when every channel is busy, without
// a device, or for a null sample.
int FSOUND_PlaySound(int channel, FSOUND_SAMPLE* sample);
// Position and velocity of a 3-D channel (3 floats each, either may be null).
// FALSE for a 2-D channel and a stale handle.
signed char FSOUND_3D_SetAttributes(int channel, const float* position, const float* velocity);
// A handle, or FSOUND_ALL for every channel.
signed char FSOUND_StopSound(int channel);
// Hz; 0 for a stale handle.
int FSOUND_GetFrequency(int channel);
// Hz, above 0; the pitch is the frequency over the file's rate.
signed char FSOUND_SetFrequency(int channel, int frequency);

// A stream is decoded whole once per file and played like a 2-D sample (3-D
// with FSOUND_HW3D); every open of the same file shares that one decoded copy,
// so a file is read only on its first open. A file that fails is remembered
// too: later opens of it return null without reading it, until FSOUND_Close.
// `offset` and `length` are unused.
FSOUND_STREAM* FSOUND_Stream_Open(const char* name, unsigned int mode, int offset, int length);
// `channel` must be FSOUND_FREE. Returns the channel handle or -1. A stream
// plays once at a time: playing it again restarts it.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream);
signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream);
// Stops the stream and releases the handle; the decoded copy stays until
// FSOUND_Close.
signed char FSOUND_Stream_Close(FSOUND_STREAM* stream);

// Position and velocity (either may be null), the forward and top vectors.
// A non-finite vector, or a forward and top that do not span a plane, is
// ignored.
void FSOUND_3D_Listener_SetAttributes(const float* position, const float* velocity, float forwardX,
                                      float forwardY, float forwardZ, float topX, float topY, float topZ);
// OpenAL applies every change as it is made; kept for the game's frame.
void FSOUND_Update();

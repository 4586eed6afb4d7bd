// The entities' one-shot and looping sounds by resource id (resourceids.h),
// through the sound layer. A point that is not finite never reaches the
// layer: such a sound is not played or not moved.
#pragma once

#include <irrlicht.h>

#include <cstdint>

struct FSOUND_SAMPLE;

// Where the samples come from: the resource handler's table unless a test
// installs its own lookup (the null driver's start-up loads no sounds).
using SoundLookup = FSOUND_SAMPLE* (*)(irr::s32 sound);
// Installs `lookup` (null: the resource handler again); returns the one
// installed before, null for the resource handler.
SoundLookup setSoundLookup(SoundLookup lookup);

// Plays the sample on a free channel, unplaced; the channel, or -1 when
// there is no such sample (or no resources) or the play failed.
int32_t playSound(irr::s32 sound);
// Plays the sample and places it at `at`; -1 without playing for a point
// that is not finite.
int32_t playSoundAt(irr::s32 sound, const irr::core::vector3df& at);
// Moves a playing channel to `at`; nothing for a channel of -1 or below and
// for a point that is not finite.
void placeSound(int32_t channel, const irr::core::vector3df& at);

// The OpenAL source behind a channel, for tests that read the source's state
// back from OpenAL. Not for the game.
#pragma once

// 0 for a stale or bad handle and without a device.
unsigned int fsoundChannelSource(int channel);

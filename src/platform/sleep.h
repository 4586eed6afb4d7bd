// Frame pacing: hand the rest of a frame back to the system.
#pragma once

#include <cstdint>

// Sleeps at least the given time; a signal arriving meanwhile does not cut
// it short.
void sleepMilliseconds(uint32_t milliseconds);

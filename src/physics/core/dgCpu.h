// Processor feature probe used when a world picks its solver.
#pragma once

#include <cstdint>

// 1 when the processor executes SSE instructions (and the system enables
// them), 0 otherwise. Cheap, but meant to be called once per world creation or
// hardware-mode change.
int32_t dgProbeSimd();

// The same answer as a 0/1 integer; what a world sets its SIMD flag from.
int32_t dgCpuHasSimd();

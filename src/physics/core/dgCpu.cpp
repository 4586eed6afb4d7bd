#include "dgCpu.h"

int32_t dgProbeSimd() {
#if defined(__x86_64__) || defined(__i386__)
    // x86-64 systems always enable SSE (it is part of the calling convention),
    // so the feature bit is the whole answer there; no trial instruction or
    // fault handling is needed.
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse") ? 1 : 0;
#else
    return 0;
#endif
}

int32_t dgCpuHasSimd() {
    return dgProbeSimd() ? 1 : 0;
}

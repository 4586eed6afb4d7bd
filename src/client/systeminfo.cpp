#include "client/globals.h"
#include "client/log.h"
#include "client/utilities.h"
#include "platform/systemfigures.h"

#include <cstdio>

int32_t getVideoMemory() {
    return 0;
}

int32_t getCpuMhz() {
    return getProcessorMhz();
}

void getMemoryStatus(uint32_t& total, uint32_t& available) {
    uint64_t totalBytes = 0;
    uint64_t availableBytes = 0;
    getPhysicalMemory(totalBytes, availableBytes);
    total = clampMemoryFigure(totalBytes);
    available = clampMemoryFigure(availableBytes);
}

void logMemoryStatus() {
    if (globals.log == nullptr) {
        return;
    }
    uint32_t total = 0;
    uint32_t available = 0;
    getMemoryStatus(total, available);
    char line[64];
    std::snprintf(line, sizeof(line), "Available video memory: %d", getVideoMemory());
    globals.log->write(line);
    // Clamped to 2^31 - 1, so the signed format stays honest.
    std::snprintf(line, sizeof(line), "Available system memory: %d", static_cast<int32_t>(available));
    globals.log->write(line);
    std::snprintf(line, sizeof(line), "Total system memory: %d", static_cast<int32_t>(total));
    globals.log->write(line);
}

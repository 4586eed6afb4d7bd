// The processor and memory figures the start-up log reports.
#pragma once

#include <cstdint>

// Processor clock in MHz, rounded: the first "cpu MHz" line of the given
// processor table; 0 when there is none (some architectures do not say).
int32_t getProcessorMhz(const char* cpuinfoPath = "/proc/cpuinfo");

// Physical memory in bytes: the total and what is available to new work
// without swapping (the page cache counts as available). From the given
// memory table, else from sysinfo. False, with both 0, when neither tells.
bool getPhysicalMemory(uint64_t& total, uint64_t& available, const char* meminfoPath = "/proc/meminfo");

// A byte count as the 32-bit figures carry it: above 2147483647 it is
// clamped there, so that it neither wraps nor prints as a negative "%d".
uint32_t clampMemoryFigure(uint64_t bytes);

// Local calendar time, as the log and the crash dump name print it.
#pragma once

#include <cstdint>

struct LocalTime {
    uint16_t year = 0;
    uint16_t month = 0;  // 1..12
    uint16_t day = 0;    // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// The current local time (time zone from the environment).
void getLocalTime(LocalTime* out);

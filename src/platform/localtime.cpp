#include "platform/localtime.h"

#include <ctime>

void getLocalTime(LocalTime* out) {
    if (out == nullptr) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    localtime_r(&now.tv_sec, &parts);
    out->year = static_cast<uint16_t>(parts.tm_year + 1900);
    out->month = static_cast<uint16_t>(parts.tm_mon + 1);
    out->day = static_cast<uint16_t>(parts.tm_mday);
    out->hour = static_cast<uint16_t>(parts.tm_hour);
    out->minute = static_cast<uint16_t>(parts.tm_min);
    out->second = static_cast<uint16_t>(parts.tm_sec);
    out->milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
}

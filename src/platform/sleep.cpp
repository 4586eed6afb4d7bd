#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

void sleepMilliseconds(uint32_t milliseconds) {
    timespec rest{};
    rest.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    rest.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

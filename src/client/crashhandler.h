// The crash handler: when the process dies of a fault, an abort or an
// uncaught exception, a dump file is written to the current directory and
// the user told where it is.
#pragma once

#include <cstddef>
#include <cstdint>

struct LocalTime;

class CrashHandler {
public:
    // Installs the crash filter for the application; it stays in force after
    // the object is gone.
    explicit CrashHandler(const char* applicationName);
};

// Keeps a copy of the name ("Application" when none is given; cut to 255
// characters) and the local time's offset from UTC, and installs
// writeCrashDump as the filter of the fatal signals and of std::terminate.
void installCrashHandler(const char* applicationName);

// The filter. Writes "<name>_DD-MM-YYYY_hh-mm-ss-ms.dmp" in the current
// directory (the signal, the fault address and the memory map of the
// process), reports the outcome on standard error as a message box titled
// with the application name, and only then appends the call stack to the
// dump, so that a fault while unwinding still leaves the message. 1 when the
// dump was written (the call stack aside), else 0. Async-signal-safe: it
// runs inside the signal handler.
int32_t writeCrashDump(int signalNumber, void* faultAddress);

// The dump file name of an application at a local time. False when it does
// not fit the capacity; out then holds what fits, terminated.
bool formatCrashDumpName(const char* applicationName, const LocalTime& time, char* out, size_t capacity);

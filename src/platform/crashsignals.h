// Last words of a dying process. The fatal signals (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGABRT) and std::terminate lead to one filter function; after it
// the signal's default action is restored and the signal raised again, so
// the process still ends by that signal (and its parent sees which). While
// the filter runs, SIGPIPE and SIGXFSZ are blocked: a write to a pipe nobody
// reads or beyond the file size limit fails (EPIPE, EFBIG) instead of ending
// the process by another signal.
//
// The filter runs inside a signal handler, possibly on a damaged heap: it
// and everything it calls must be async-signal-safe. The helpers below are:
// no allocation, no stdio, no locale, no locks.
#pragma once

#include <cstddef>
#include <cstdint>

struct LocalTime;

// The signal and the address that faulted; null when the signal was sent
// rather than caused by an instruction (abort, raise, kill, terminate).
using CrashFilter = void (*)(int signalNumber, void* faultAddress);

// Installs the filter (replacing an earlier one) and the handlers. The
// handlers run on an alternate stack, so that a stack overflow still reaches
// the filter; that stack is set up for the calling thread only. A fault
// inside the handler, or in another thread while it runs, ends the process
// at once with exit code 128 + the signal being handled. Returns false when a handler could not be set.
bool installCrashSignals(CrashFilter filter);

// The name of a handled signal ("SIGSEGV", ...), "signal" for any other.
const char* crashSignalName(int signalNumber);

// Writes all bytes, resuming after interruptions and short writes. False on
// an error; errno tells which.
bool writeAll(int fd, const void* data, size_t size);

// The current call stack, one symbolised frame a line.
void writeBacktrace(int fd);

// Copies a file's content (e.g. /proc/self/maps) to fd. After writeFailed,
// errno tells why.
enum class CopyResult { copied, unreadable, writeFailed };
CopyResult copyFileTo(const char* path, int fd);

// "title: text" and a line feed on standard error, the crash path's message
// box.
void writeCrashMessage(const char* title, const char* text);

// Calendar fields of a time given in seconds since 1970-01-01 00:00, for the
// zone whose offset is already added, without the C library's time zone
// code (which locks and allocates).
void calendarTime(int64_t seconds, uint32_t nanoseconds, LocalTime* out);

// Text built into a caller's fixed buffer. What does not fit is cut; the
// text stays terminated.
class SafeText {
public:
    SafeText(char* buffer, size_t capacity);

    SafeText& text(const char* s);
    // Decimal, padded with zeros to at least minDigits digits.
    SafeText& number(uint64_t value, uint32_t minDigits = 1);
    SafeText& signedNumber(int64_t value);
    // "0x" and all the hexadecimal digits of a pointer-sized word.
    SafeText& address(const void* value);

    const char* c_str() const { return buffer; }
    size_t size() const { return length; }
    bool cut() const { return overflowed; }

private:
    void put(char c);

    char* buffer;
    size_t capacity;
    size_t length = 0;
    bool overflowed = false;
};

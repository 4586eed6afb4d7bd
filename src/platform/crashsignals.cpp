#include "platform/crashsignals.h"

#include "platform/localtime.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

std::atomic<CrashFilter> installedFilter{nullptr};
// The signal whose filter runs; 0 while none does.
std::atomic<int> signalBeingHandled{0};
static_assert(std::atomic<CrashFilter>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

// Static, so a crash never needs an allocation; large enough for the
// unwinder and the sanitizers' bigger frames.
alignas(64) char alternateStack[128 * 1024];

[[noreturn]] void endBySignal(int signalNumber) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signalNumber, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);  // not deliverable after all
}

[[noreturn]] void handleCrash(int signalNumber, void* faultAddress) {
    // Blocked to the end, so one raised by a write stays pending and the
    // process still ends by its own signal.
    sigset_t outputSignals;
    sigemptyset(&outputSignals);
    sigaddset(&outputSignals, SIGPIPE);
    sigaddset(&outputSignals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &outputSignals, nullptr);

    int idle = 0;
    if (!signalBeingHandled.compare_exchange_strong(idle, signalNumber)) {
        // The filter itself (or another thread) failed meanwhile: the state is
        // beyond reporting.
        _exit(128 + idle);
    }
    const CrashFilter filter = installedFilter.load();
    if (filter != nullptr) {
        filter(signalNumber, faultAddress);
    }
    endBySignal(signalNumber);
}

void onCrashSignal(int signalNumber, siginfo_t* info, void* /*context*/) {
    // Codes above 0 come from the kernel for a faulting instruction; sent
    // signals carry no address.
    void* faultAddress = info != nullptr && info->si_code > 0 ? info->si_addr : nullptr;
    handleCrash(signalNumber, faultAddress);
}

[[noreturn]] void onTerminate() {
    handleCrash(SIGABRT, nullptr);
}

}  // namespace

bool installCrashSignals(CrashFilter filter) {
    installedFilter.store(filter);

    // The first backtrace loads the unwinder, which allocates: do it now, not
    // inside a handler.
    void* frames[4];
    backtrace(frames, 4);

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    stack.ss_flags = 0;
    bool ok = sigaltstack(&stack, nullptr) == 0;

    struct sigaction action {};
    action.sa_sigaction = onCrashSignal;
    // Nothing blocked and no deferral: a fault inside the filter must reach
    // the handler again (and end there) instead of killing the process with
    // no word.
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (const int signalNumber : kCrashSignals) {
        ok = sigaction(signalNumber, &action, nullptr) == 0 && ok;
    }
    std::set_terminate(onTerminate);
    return ok;
}

const char* crashSignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "signal";
    }
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, next, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void writeBacktrace(int fd) {
    void* frames[64];
    const int count = backtrace(frames, static_cast<int>(sizeof(frames) / sizeof(frames[0])));
    backtrace_symbols_fd(frames, count, fd);
}

CopyResult copyFileTo(const char* path, int fd) {
    const int source = open(path, O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return CopyResult::unreadable;
    }
    CopyResult result = CopyResult::copied;
    char block[4096];
    for (;;) {
        const ssize_t got = read(source, block, sizeof(block));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result = CopyResult::unreadable;
            break;
        }
        if (got == 0) {
            break;
        }
        if (!writeAll(fd, block, static_cast<size_t>(got))) {
            result = CopyResult::writeFailed;
            break;
        }
    }
    const int writeError = errno;
    close(source);
    errno = writeError;
    return result;
}

void writeCrashMessage(const char* title, const char* text) {
    title = title != nullptr ? title : "";
    text = text != nullptr ? text : "";
    writeAll(STDERR_FILENO, title, std::strlen(title));
    writeAll(STDERR_FILENO, ": ", 2);
    writeAll(STDERR_FILENO, text, std::strlen(text));
    writeAll(STDERR_FILENO, "\n", 1);
}

void calendarTime(int64_t seconds, uint32_t nanoseconds, LocalTime* out) {
    if (out == nullptr) {
        return;
    }
    constexpr int64_t kDay = 86400;
    int64_t days = seconds / kDay;
    int64_t secondOfDay = seconds % kDay;
    if (secondOfDay < 0) {
        secondOfDay += kDay;
        days -= 1;
    }
    // Days since 1970 to a proleptic Gregorian date, counted in 400-year eras
    // that start on 1 March so that the leap day ends each year.
    const int64_t shifted = days + 719468;
    const int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const int64_t dayOfEra = shifted - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    out->year = static_cast<uint16_t>(year);
    out->month = static_cast<uint16_t>(month);
    out->day = static_cast<uint16_t>(day);
    out->hour = static_cast<uint16_t>(secondOfDay / 3600);
    out->minute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->second = static_cast<uint16_t>(secondOfDay % 60);
    out->milliseconds = static_cast<uint16_t>(nanoseconds / 1000000u % 1000u);
}

SafeText::SafeText(char* buffer_, size_t capacity_)
    : buffer(buffer_), capacity(buffer_ != nullptr ? capacity_ : 0) {
    if (capacity > 0) {
        buffer[0] = '\0';
    }
}

void SafeText::put(char c) {
    if (length + 1 < capacity) {
        buffer[length] = c;
        length += 1;
        buffer[length] = '\0';
    } else {
        overflowed = true;
    }
}

SafeText& SafeText::text(const char* s) {
    if (s != nullptr) {
        for (; *s != '\0'; ++s) {
            put(*s);
        }
    }
    return *this;
}

SafeText& SafeText::number(uint64_t value, uint32_t minDigits) {
    char digits[20];  // 2^64 has 20 decimal digits
    uint32_t count = 0;
    do {
        digits[count] = static_cast<char>('0' + value % 10u);
        count += 1;
        value /= 10u;
    } while (value != 0);
    for (uint32_t pad = count; pad < minDigits; ++pad) {
        put('0');
    }
    while (count > 0) {
        count -= 1;
        put(digits[count]);
    }
    return *this;
}

SafeText& SafeText::signedNumber(int64_t value) {
    if (value < 0) {
        put('-');
        // Unsigned negation also holds the most negative value.
        return number(0u - static_cast<uint64_t>(value));
    }
    return number(static_cast<uint64_t>(value));
}

SafeText& SafeText::address(const void* value) {
    const uintptr_t word = reinterpret_cast<uintptr_t>(value);
    put('0');
    put('x');
    for (int shift = static_cast<int>(sizeof(word) * 8) - 4; shift >= 0; shift -= 4) {
        put("0123456789abcdef"[(word >> shift) & 0xfu]);
    }
    return *this;
}

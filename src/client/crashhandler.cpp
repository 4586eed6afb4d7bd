#include "client/crashhandler.h"

#include "platform/crashsignals.h"
#include "platform/localtime.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Outlive the handler object; read by the filter only, so no allocation
// happens at crash time.
char applicationName[256] = "Application";
long utcOffsetSeconds = 0;
char dumpName[sizeof(applicationName) + 64];
char messageText[sizeof(dumpName) + 128];

void crashFilter(int signalNumber, void* faultAddress) {
    writeCrashDump(signalNumber, faultAddress);
}

// The part of the dump that needs no unwinding. False as soon as a write
// fails (errno tells why); a map that cannot be read is noted, but the dump
// still stands.
bool writeDumpHead(int fd, int signalNumber, void* faultAddress) {
    char head[sizeof(applicationName) + 256];
    SafeText text(head, sizeof(head));
    text.text(applicationName)
        .text(" crash dump\nProcess: ")
        .signedNumber(getpid())
        .text("\nSignal: ")
        .signedNumber(signalNumber)
        .text(" (")
        .text(crashSignalName(signalNumber))
        .text(")\nAddress: ")
        .address(faultAddress)
        .text("\n");
    if (!writeAll(fd, text.c_str(), text.size())) {
        return false;
    }
    static const char kMapTitle[] = "\nMemory map:\n";
    if (!writeAll(fd, kMapTitle, sizeof(kMapTitle) - 1)) {
        return false;
    }
    switch (copyFileTo("/proc/self/maps", fd)) {
        case CopyResult::copied:
            return true;
        case CopyResult::writeFailed:
            return false;
        case CopyResult::unreadable:
            break;
    }
    static const char kNoMap[] = "(unreadable)\n";
    return writeAll(fd, kNoMap, sizeof(kNoMap) - 1);
}

}  // namespace

CrashHandler::CrashHandler(const char* name) {
    installCrashHandler(name);
}

void installCrashHandler(const char* name) {
    SafeText(applicationName, sizeof(applicationName))
        .text(name != nullptr && name[0] != '\0' ? name : "Application");
    // The handler may not ask the C library for the zone; a change of summer
    // time after this point is not followed.
    const time_t now = time(nullptr);
    std::tm parts{};
    if (localtime_r(&now, &parts) != nullptr) {
        utcOffsetSeconds = parts.tm_gmtoff;
    }
    installCrashSignals(crashFilter);
}

int32_t writeCrashDump(int signalNumber, void* faultAddress) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    LocalTime local;
    calendarTime(static_cast<int64_t>(now.tv_sec) + utcOffsetSeconds, static_cast<uint32_t>(now.tv_nsec),
                 &local);
    formatCrashDumpName(applicationName, local, dumpName, sizeof(dumpName));

    int32_t result = 0;
    SafeText message(messageText, sizeof(messageText));
    const int fd = open(dumpName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        message.text("Failed to create dump file '")
            .text(dumpName)
            .text("' (error ")
            .signedNumber(errno)
            .text(")");
    } else if (writeDumpHead(fd, signalNumber, faultAddress)) {
        message.text("There was a critical error in Tarnwell!\nSaved dump file to '")
            .text(dumpName)
            .text("'");
        result = 1;
    } else {
        message.text("Failed to save dump file to '")
            .text(dumpName)
            .text("' (error ")
            .signedNumber(errno)
            .text(")");
    }
    writeCrashMessage(applicationName, message.c_str());
    // Unwinding a damaged stack may fault again, which ends the process at
    // once: so the call stack comes last, after the message is out.
    if (fd >= 0) {
        static const char kStackTitle[] = "\nBacktrace:\n";
        if (result == 1 && writeAll(fd, kStackTitle, sizeof(kStackTitle) - 1)) {
            writeBacktrace(fd);
        }
        close(fd);
    }
    return result;
}

bool formatCrashDumpName(const char* name, const LocalTime& time, char* out, size_t capacity) {
    SafeText text(out, capacity);
    text.text(name)
        .text("_")
        .number(time.day, 2)
        .text("-")
        .number(time.month, 2)
        .text("-")
        .number(time.year, 4)
        .text("_")
        .number(time.hour, 2)
        .text("-")
        .number(time.minute, 2)
        .text("-")
        .number(time.second, 2)
        .text("-")
        .number(time.milliseconds, 2)
        .text(".dmp");
    return !text.cut();
}

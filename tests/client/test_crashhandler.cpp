// The crash handler in child processes that really die: the signal they end
// by, the one dump each leaves, and the message on standard error.
#include "client/crashhandler.h"
#include "platform/crashsignals.h"
#include "platform/localtime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileTestUtils.h"

using testsupport::readFile;

namespace fs = std::filesystem;

namespace {

struct ChildEnd {
    int signal = 0;     // the signal it died of, else 0
    int exitCode = -1;  // its exit code, else -1
    std::string errorText;
    std::vector<fs::path> dumps;
};

// What the child's output may not take: standard error a pipe nobody reads
// (writes fail with EPIPE, or SIGPIPE), and a file size limit (EFBIG, or
// SIGXFSZ).
struct Hostility {
    bool stderrClosedPipe = false;
    rlim_t fileSizeLimit = RLIM_INFINITY;
};

// A fresh directory per test; the child works in it with its standard error
// sent to a file there.
class CrashChild : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnwell_crash_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    ChildEnd run(const std::function<void()>& body, const Hostility& hostility = {}) {
        int pipeEnds[2] = {-1, -1};
        if (hostility.stderrClosedPipe) {
            EXPECT_EQ(pipe(pipeEnds), 0);
            close(pipeEnds[0]);
        }
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            const int err = hostility.stderrClosedPipe
                                ? pipeEnds[1]
                                : open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err < 0 || dup2(err, STDERR_FILENO) < 0 || chdir(dir.c_str()) != 0) {
                _exit(99);
            }
            const rlimit fileSize{hostility.fileSizeLimit, hostility.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &fileSize);
            body();
            _exit(0);
        }
        if (hostility.stderrClosedPipe) {
            close(pipeEnds[1]);
        }
        ChildEnd end;
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        end.errorText = readFile(dir / "stderr.txt");
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".dmp") {
                end.dumps.push_back(entry.path());
            }
        }
        return end;
    }

    fs::path dir;
};

// A page that faults on any access.
void* protectedPage() {
    void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(page, MAP_FAILED);
    mprotect(page, 4096, PROT_NONE);
    return page;
}

std::string addressText(const void* address) {
    char text[32];
    std::snprintf(text, sizeof(text), "Address: 0x%016llx\n",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
    return text;
}

// The local time a dump name of the application carries, in seconds since
// 1970 of its zone; -1 when the name has any other form.
int64_t dumpNameSeconds(const std::string& name, const std::string& application) {
    unsigned f[7] = {};
    const std::string prefix = application + "_";
    if (name.compare(0, prefix.size(), prefix) != 0 ||
        std::sscanf(name.c_str() + prefix.size(), "%2u-%2u-%4u_%2u-%2u-%2u-%3u", &f[0], &f[1], &f[2], &f[3],
                    &f[4], &f[5], &f[6]) != 7) {
        return -1;
    }
    const LocalTime t{uint16_t(f[2]), uint16_t(f[1]), uint16_t(f[0]), uint16_t(f[3]),
                      uint16_t(f[4]), uint16_t(f[5]), uint16_t(f[6])};
    char again[512];
    if (!formatCrashDumpName(application.c_str(), t, again, sizeof(again)) || name != again) {
        return -1;
    }
    std::tm parts{};
    parts.tm_mday = int(f[0]), parts.tm_mon = int(f[1]) - 1, parts.tm_year = int(f[2]) - 1900;
    parts.tm_hour = int(f[3]), parts.tm_min = int(f[4]), parts.tm_sec = int(f[5]);
    return static_cast<int64_t>(timegm(&parts));
}

[[noreturn]] __attribute__((noinline)) void throwUnhandled() {
    throw std::runtime_error("nobody catches this");
}

void throwThroughNoexcept() noexcept {
    throwUnhandled();
}

volatile int neverReached = -1;

// The processor's fault, not the sanitizer's check before it.
__attribute__((noinline, no_sanitize_undefined)) int divideByZero(int value) {
    volatile int zero = 0;
    return value / zero;
}

__attribute__((noinline)) int overflowStack(int depth) {
    if (depth == neverReached) {
        return 0;
    }
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return overflowStack(depth + 1) + frame[0];
}

// The stack and frame pointers wrecked before the fault: unwinding the
// interrupted frame reads unmapped memory, a second fault inside the handler.
[[noreturn]] void faultOnWreckedStack(void* page) {
#if defined(__x86_64__)
    asm volatile("xor %%ebp, %%ebp\n\tmov $64, %%rsp\n\tmovl $1, (%0)\n" : : "r"(page) : "memory");
#endif
    *static_cast<volatile int*>(page) = 1;
    __builtin_unreachable();
}

enum class Where { page, somewhere, nowhere };

struct Crash {
    const char* name;
    int signal;
    Where address;
    void (*act)(void* page);
};

const Crash kCrashes[] = {
    {"WriteToProtectedPage", SIGSEGV, Where::page, [](void* page) { *static_cast<volatile int*>(page) = 1; }},
    // Only the alternate stack lets the handler run here.
    {"StackOverflow", SIGSEGV, Where::somewhere, [](void*) { std::exit(overflowStack(0)); }},
    {"DivideByZero", SIGFPE, Where::somewhere, [](void*) { std::exit(divideByZero(7)); }},
    {"IllegalInstruction", SIGILL, Where::somewhere, [](void*) { __builtin_trap(); }},
    {"BusError", SIGBUS, Where::somewhere,
     [](void*) {
         // A mapping past the end of an empty file.
         const int fd = open("empty", O_RDWR | O_CREAT | O_TRUNC, 0644);
         auto* past = static_cast<volatile char*>(mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
         std::exit(past[0]);
     }},
    {"Abort", SIGABRT, Where::nowhere, [](void*) { std::abort(); }},
    {"UncaughtException", SIGABRT, Where::nowhere, [](void*) { throwThroughNoexcept(); }},
};

void PrintTo(const Crash& crash, std::ostream* out) {
    *out << crash.name;
}

class CrashKinds : public CrashChild, public ::testing::WithParamInterface<Crash> {};

}  // namespace

TEST(CrashDumpName, DayMonthYearThenTimeToTheMillisecond) {
    LocalTime t{2007, 3, 1, 14, 3, 9, 45};
    char name[64];
    ASSERT_TRUE(formatCrashDumpName("Tarnwell", t, name, sizeof(name)));
    EXPECT_STREQ(name, "Tarnwell_01-03-2007_14-03-09-45.dmp");
    // Too small: cut, terminated, and said so.
    EXPECT_FALSE(formatCrashDumpName("Tarnwell", t, name, 12));
    EXPECT_STREQ(name, "Tarnwell_01");

    std::mt19937 rng(106);
    for (int i = 0; i < 5000; ++i) {
        // Braced lists evaluate in order: year, month, day, hour, minute, second, milliseconds.
        t = LocalTime{uint16_t(rng() % 10000), uint16_t(1 + rng() % 12), uint16_t(1 + rng() % 31),
                      uint16_t(rng() % 24),    uint16_t(rng() % 60),     uint16_t(rng() % 61),
                      uint16_t(rng() % 1000)};
        char expected[64];
        std::snprintf(expected, sizeof(expected), "%s_%02u-%02u-%04u_%02u-%02u-%02u-%02u.dmp", "App", t.day,
                      t.month, t.year, t.hour, t.minute, t.second, t.milliseconds);
        ASSERT_TRUE(formatCrashDumpName("App", t, name, sizeof(name)));
        ASSERT_STREQ(name, expected);
    }
}

TEST_P(CrashKinds, EndsByItsSignalWithOneDumpAndTheMessage) {
    const Crash& crash = GetParam();
    void* page = protectedPage();
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const ChildEnd end = run([&] {
        // A zone 5:30 ahead of UTC: the name must carry the local time.
        setenv("TZ", "XYZ-05:30", 1);
        tzset();
        const CrashHandler handler("Tarnwell");
        crash.act(page);
    });
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    munmap(page, 4096);

    EXPECT_EQ(end.signal, crash.signal);
    ASSERT_EQ(end.dumps.size(), 1u);
    const std::string name = end.dumps[0].filename().string();
    const int64_t stamp = dumpNameSeconds(name, "Tarnwell") - (5 * 3600 + 30 * 60);
    EXPECT_GE(stamp, before - 1);
    EXPECT_LE(stamp, after + 1);
    EXPECT_EQ(end.errorText,
              "Tarnwell: There was a critical error in Tarnwell!\nSaved dump file to '" + name + "'\n");

    const std::string dump = readFile(end.dumps[0]);
    EXPECT_NE(
        dump.find("Signal: " + std::to_string(crash.signal) + " (" + crashSignalName(crash.signal) + ")\n"),
        std::string::npos);
    if (crash.address == Where::page) {
        EXPECT_NE(dump.find(addressText(page)), std::string::npos) << dump.substr(0, 200);
    } else {
        const bool noAddress = dump.find(addressText(nullptr)) != std::string::npos;
        EXPECT_EQ(noAddress, crash.address == Where::nowhere);
    }
    const size_t stack = dump.find("\nBacktrace:\n");
    const size_t map = dump.find("\nMemory map:\n");
    ASSERT_NE(stack, std::string::npos);
    ASSERT_NE(map, std::string::npos);
    EXPECT_NE(dump.find("[0x", stack), std::string::npos);
    EXPECT_NE(dump.find("[stack]", map), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashKinds, ::testing::ValuesIn(kCrashes),
                         [](const ::testing::TestParamInfo<Crash>& info) {
                             return std::string(info.param.name);
                         });

// The filter called directly, for names that make a file and names that
// cannot.
TEST_F(CrashChild, FilterReportsTheDumpOrWhyThereIsNone) {
    const std::string longName(300, 'a');
    const struct {
        const char* given;
        std::string title;
        bool written;
        int error;
    } cases[] = {
        {"Tarnwell", "Tarnwell", true, 0},
        {nullptr, "Application", true, 0},
        {"", "Application", true, 0},
        {"no-such-dir/Tarnwell", "no-such-dir/Tarnwell", false, ENOENT},
        {longName.c_str(), longName.substr(0, 255), false, ENAMETOOLONG},  // kept cut to 255
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.substr(0, 20));
        const ChildEnd end = run([&] {
            installCrashHandler(c.given);
            _exit(writeCrashDump(SIGSEGV, reinterpret_cast<void*>(0x1234)));
        });
        EXPECT_EQ(end.exitCode, c.written ? 1 : 0);
        ASSERT_EQ(end.dumps.size(), c.written ? 1u : 0u);
        // The name is the one quoted in the message.
        const size_t open = end.errorText.find('\'');
        const size_t close = end.errorText.rfind('\'');
        ASSERT_LT(open, close) << end.errorText;
        const std::string name = end.errorText.substr(open + 1, close - open - 1);
        EXPECT_GE(dumpNameSeconds(name, c.title), 0) << name;
        EXPECT_EQ(end.errorText,
                  c.written ? c.title + ": There was a critical error in Tarnwell!\nSaved dump file to '" +
                                  name + "'\n"
                            : c.title + ": Failed to create dump file '" + name + "' (error " +
                                  std::to_string(c.error) + ")\n");
        if (c.written) {
            EXPECT_EQ(end.dumps[0].filename().string(), name);
            const std::string dump = readFile(end.dumps[0]);
            EXPECT_NE(dump.find("Signal: 11 (SIGSEGV)\nAddress: 0x0000000000001234\n"), std::string::npos);
            fs::remove(end.dumps[0]);
        }
    }
}

TEST_F(CrashChild, FaultInsideTheFilterEndsTheProcessAtOnce) {
    static void* page = nullptr;
    page = protectedPage();
    const ChildEnd end = run([] {
        installCrashSignals([](int, void*) { *static_cast<volatile int*>(page) = 2; });
        *static_cast<volatile int*>(page) = 1;
    });
    munmap(page, 4096);
    EXPECT_EQ(end.signal, 0);
    EXPECT_EQ(end.exitCode, 128 + SIGSEGV);
}

// Output that fails must neither kill the process by another signal nor keep
// the message back; a second fault while the stack is unwound still leaves
// the message and the memory map.
TEST_F(CrashChild, HostileOutputOrASecondFaultStillEndsByTheSignalWithWhatCouldBeWritten) {
    const auto writeToPage = kCrashes[0].act;
    const struct {
        const char* name;
        Hostility hostility;
        void (*act)(void* page);
        int signal, exitCode;       // how the child ends
        std::string before, after;  // the message around the dump's name; none if both empty
        bool backtrace;             // the call stack follows the map
    } cases[] = {
        {"closed pipe", {true, RLIM_INFINITY}, writeToPage, SIGSEGV, -1, "", "", true},
        {"file size limit",
         {false, 1024},
         writeToPage,
         SIGSEGV,
         -1,
         "Tarnwell: Failed to save dump file to '",
         "' (error " + std::to_string(EFBIG) + ")\n",
         false},
        {"second fault",
         {},
         faultOnWreckedStack,
         0,
         128 + SIGSEGV,
         "Tarnwell: There was a critical error in Tarnwell!\nSaved dump file to '",
         "'\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
#if !defined(__x86_64__)
        if (c.act == faultOnWreckedStack) {
            continue;
        }
#endif
        void* page = protectedPage();
        const ChildEnd end = run(
            [&] {
                const CrashHandler handler("Tarnwell");
                c.act(page);
            },
            c.hostility);
        munmap(page, 4096);
        EXPECT_EQ(end.signal, c.signal);
        EXPECT_EQ(end.exitCode, c.exitCode);
        ASSERT_EQ(end.dumps.size(), 1u);
        const std::string name = end.dumps[0].filename().string();
        EXPECT_EQ(end.errorText, c.before.empty() ? "" : c.before + name + c.after);
        const std::string dump = readFile(end.dumps[0]);
        if (c.hostility.fileSizeLimit != RLIM_INFINITY) {
            EXPECT_EQ(dump.size(), c.hostility.fileSizeLimit);
        } else {
            EXPECT_NE(dump.find("[stack]", dump.find("\nMemory map:\n")), std::string::npos);
        }
        const size_t stack = dump.find("\nBacktrace:\n");
        EXPECT_EQ(stack != std::string::npos && dump.find("[0x", stack) != std::string::npos, c.backtrace);
        fs::remove(end.dumps[0]);
    }
}

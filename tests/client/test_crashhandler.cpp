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
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARNWELL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWELL_SANITIZED 1
#endif
#endif

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct ChildEnd {
  int signal = 0;     // the signal it died of, else 0
  int exitCode = -1;  // its exit code, else -1
  std::string errorText;
  std::vector<fs::path> dumps;
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

  ChildEnd run(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      const int err = open((dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err < 0 || dup2(err, STDERR_FILENO) < 0 || chdir(dir.c_str()) != 0) {
        _exit(99);
      }
      body();
      _exit(0);
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

// The local time a dump name carries, as seconds since 1970 in that zone.
int64_t secondsOfDumpName(const std::string& name) {
  static const std::regex pattern(R"(^Tarnwell_(\d\d)-(\d\d)-(\d{4})_(\d\d)-(\d\d)-(\d\d)-\d{2,3}\.dmp$)");
  std::smatch m;
  if (!std::regex_match(name, m, pattern)) {
    ADD_FAILURE() << "dump name " << name;
    return 0;
  }
  std::tm parts{};
  parts.tm_mday = std::stoi(m[1]);
  parts.tm_mon = std::stoi(m[2]) - 1;
  parts.tm_year = std::stoi(m[3]) - 1900;
  parts.tm_hour = std::stoi(m[4]);
  parts.tm_min = std::stoi(m[5]);
  parts.tm_sec = std::stoi(m[6]);
  return static_cast<int64_t>(timegm(&parts));
}

[[noreturn]] __attribute__((noinline)) void throwUnhandled() {
  throw std::runtime_error("nobody catches this");
}

void throwThroughNoexcept() noexcept {
  throwUnhandled();
}

volatile int neverReached = -1;

__attribute__((noinline)) int overflowStack(int depth) {
  if (depth == neverReached) {
    return 0;
  }
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  return overflowStack(depth + 1) + frame[0];
}

// Whether the memory map lists the page as a mapping with no access.
bool mapsInaccessible(const std::string& map, const void* page) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(page);
  std::istringstream lines(map);
  std::string line;
  while (std::getline(lines, line)) {
    unsigned long long first = 0;
    unsigned long long last = 0;
    char access[5] = {};
    if (std::sscanf(line.c_str(), "%llx-%llx %4s", &first, &last, access) == 3 && first <= address &&
        address < last) {
      return std::string(access) == "---p";
    }
  }
  return false;
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
    {"DivideByZero", SIGFPE, Where::somewhere,
     [](void*) {
       volatile int zero = 0;
       std::exit(7 / zero);
     }},
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
  LocalTime t;
  t.year = 2007;
  t.month = 3;
  t.day = 1;
  t.hour = 14;
  t.minute = 3;
  t.second = 9;
  t.milliseconds = 45;
  char name[64];
  ASSERT_TRUE(formatCrashDumpName("Tarnwell", t, name, sizeof(name)));
  EXPECT_STREQ(name, "Tarnwell_01-03-2007_14-03-09-45.dmp");
  // Too small: cut, terminated, and said so.
  EXPECT_FALSE(formatCrashDumpName("Tarnwell", t, name, 12));
  EXPECT_STREQ(name, "Tarnwell_01");

  std::mt19937 rng(106);
  for (int i = 0; i < 5000; ++i) {
    t.year = static_cast<uint16_t>(rng() % 10000);
    t.month = static_cast<uint16_t>(1 + rng() % 12);
    t.day = static_cast<uint16_t>(1 + rng() % 31);
    t.hour = static_cast<uint16_t>(rng() % 24);
    t.minute = static_cast<uint16_t>(rng() % 60);
    t.second = static_cast<uint16_t>(rng() % 61);
    t.milliseconds = static_cast<uint16_t>(rng() % 1000);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "%s_%02u-%02u-%04u_%02u-%02u-%02u-%02u.dmp", "App", t.day, t.month,
                  t.year, t.hour, t.minute, t.second, t.milliseconds);
    ASSERT_TRUE(formatCrashDumpName("App", t, name, sizeof(name)));
    ASSERT_STREQ(name, expected);
  }
}

TEST_P(CrashKinds, EndsByItsSignalWithOneDumpAndTheMessage) {
#ifdef TARNWELL_SANITIZED
  GTEST_SKIP() << "the sanitizers take the fault before the crash handler sees it";
#endif
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
  const int64_t stamp = secondsOfDumpName(name) - (5 * 3600 + 30 * 60);
  EXPECT_GE(stamp, before - 1);
  EXPECT_LE(stamp, after + 1);
  EXPECT_EQ(end.errorText, "Tarnwell: There was a critical error in Tarnwell!\nSaved dump file to '" + name + "'\n");

  const std::string dump = readFile(end.dumps[0]);
  EXPECT_NE(dump.find("Signal: " + std::to_string(crash.signal) + " (" + crashSignalName(crash.signal) + ")\n"),
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
  EXPECT_TRUE(mapsInaccessible(dump.substr(map), page));
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashKinds, ::testing::ValuesIn(kCrashes),
                         [](const ::testing::TestParamInfo<Crash>& info) { return std::string(info.param.name); });

// The filter called directly: what it writes and reports, without a crash
// (so the sanitizer build runs it too).
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
    const std::regex message(c.written ? c.title + ": There was a critical error in Tarnwell!\nSaved dump file to '" +
                                             c.title + "_[-_0-9]+\\.dmp'\n"
                                       : c.title + ": Failed to create dump file '" + c.title +
                                             "_[-_0-9]+\\.dmp' \\(error " + std::to_string(c.error) + "\\)\n");
    EXPECT_TRUE(std::regex_match(end.errorText, message)) << end.errorText;
    if (c.written) {
      EXPECT_EQ(end.dumps[0].filename().string().rfind(c.title + "_", 0), 0u);
      const std::string dump = readFile(end.dumps[0]);
      EXPECT_NE(dump.find("Signal: 11 (SIGSEGV)\nAddress: 0x0000000000001234\n"), std::string::npos);
      fs::remove(end.dumps[0]);
    }
  }
}

TEST_F(CrashChild, FaultInsideTheFilterEndsTheProcessAtOnce) {
#ifdef TARNWELL_SANITIZED
  GTEST_SKIP() << "the sanitizers take the fault before the crash handler sees it";
#endif
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

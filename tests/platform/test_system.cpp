// The crash path's signal-safe text and calendar against the C library, the
// system figures from given tables, and the frame sleep.
#include "platform/crashsignals.h"
#include "platform/localtime.h"
#include "platform/sleep.h"
#include "platform/systemfigures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>

#include <sys/time.h>

namespace {

std::string writeTable(const char* name, const std::string& content) {
    const std::string path = std::string(::testing::TempDir()) + name;
    std::ofstream(path) << content;
    return path;
}

}  // namespace

TEST(SafeText, FormatsAsPrintfDoesAndCutsCleanly) {
    std::mt19937_64 rng(14);
    for (int i = 0; i < 20000; ++i) {
        // Values of every magnitude, not just huge ones.
        const uint64_t value = rng() >> (rng() % 64);
        const uint32_t digits = static_cast<uint32_t>(rng() % 24);
        const int64_t signedValue = i == 0 ? INT64_MIN : static_cast<int64_t>(rng()) >> (rng() % 64);
        char expected[160];
        std::snprintf(expected, sizeof(expected), "%0*llu|%lld|0x%016llx", int(digits),
                      (unsigned long long)value, (long long)signedValue, (unsigned long long)value);
        char buffer[160];
        SafeText text(buffer, sizeof(buffer));
        text.number(value, digits)
            .text("|")
            .signedNumber(signedValue)
            .text("|")
            .address(reinterpret_cast<void*>(value));
        ASSERT_STREQ(buffer, expected);
        ASSERT_FALSE(text.cut());

        // A short buffer holds the terminated prefix and says so.
        const size_t capacity = rng() % 48;
        char shortBuffer[48];
        SafeText cut(shortBuffer, capacity);
        cut.text(expected);
        const std::string full(expected);
        ASSERT_EQ(cut.cut(), full.size() >= capacity);
        if (capacity > 0) {
            ASSERT_EQ(std::string(shortBuffer), full.substr(0, capacity - 1));
        }
    }
}

TEST(CalendarTime, AgreesWithGmtimeOverTenThousandYears) {
    std::mt19937_64 rng(1407);
    const int64_t first = -62135596800;  // 0001-01-01
    const int64_t last = 253402300799;   // 9999-12-31 23:59:59
    std::uniform_int_distribution<int64_t> anySecond(first, last);
    for (int i = 0; i < 50000; ++i) {
        const int64_t edges[] = {0, -1, first, last, 951782400 /* 2000-02-29 */, 4107542400 /* 2100-03-01 */};
        const int64_t seconds = i < 6 ? edges[i] : anySecond(rng);
        const uint32_t nanoseconds = static_cast<uint32_t>(rng() % 1000000000u);
        const time_t t = static_cast<time_t>(seconds);
        std::tm expected{};
        ASSERT_NE(gmtime_r(&t, &expected), nullptr);
        LocalTime got;
        calendarTime(seconds, nanoseconds, &got);
        ASSERT_EQ(got.year, expected.tm_year + 1900) << seconds;
        ASSERT_EQ(got.month, expected.tm_mon + 1) << seconds;
        ASSERT_EQ(got.day, expected.tm_mday) << seconds;
        ASSERT_EQ(got.hour, expected.tm_hour) << seconds;
        ASSERT_EQ(got.minute, expected.tm_min) << seconds;
        ASSERT_EQ(got.second, expected.tm_sec) << seconds;
        ASSERT_EQ(got.milliseconds, nanoseconds / 1000000u);
    }
}

TEST(SystemFigures, ProcessorClockIsTheFirstCpuMhzLine) {
    const struct {
        const char* table;
        int32_t mhz;
    } cases[] = {
        {"processor\t: 0\ncpu MHz\t\t: 2596.138\ncpu MHz\t\t: 800.000\n", 2596},
        {"cpu MHz : 799.5\n", 800},
        {"cpu MHz:\n", 0},
        {"cpu MHz : fast\n", 0},
        {"cpu MHz : -5\n", 0},
        {"cpu MHz dynamic : 900\nBogoMIPS : 50.00\n", 0},  // another key, not "cpu MHz"
        {"", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(getProcessorMhz(writeTable("cpuinfo", c.table).c_str()), c.mhz) << c.table;
    }
    EXPECT_EQ(getProcessorMhz("/no/such/cpuinfo"), 0);
    const int32_t here = getProcessorMhz();
    EXPECT_GE(here, 0);
    EXPECT_LT(here, 100000);
}

TEST(SystemFigures, MemoryFromTableElseSysinfoAndTheClamp) {
    uint64_t total = 0;
    uint64_t available = 0;
    const std::string table =
        writeTable("meminfo", "MemTotal:       24682380 kB\nMemFree:  1 kB\nMemAvailable:   17716180 kB\n");
    ASSERT_TRUE(getPhysicalMemory(total, available, table.c_str()));
    EXPECT_EQ(total, 24682380ull * 1024u);
    EXPECT_EQ(available, 17716180ull * 1024u);

    // No table: sysinfo still knows.
    ASSERT_TRUE(getPhysicalMemory(total, available, "/no/such/meminfo"));
    EXPECT_GT(total, 0u);
    EXPECT_GT(available, 0u);
    ASSERT_TRUE(getPhysicalMemory(total, available));
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, total);

    // Above 2^31 - 1 the 32-bit figures would wrap or print negative.
    EXPECT_EQ(clampMemoryFigure(0), 0u);
    EXPECT_EQ(clampMemoryFigure(2147483647u), 2147483647u);
    EXPECT_EQ(clampMemoryFigure(2147483648u), 2147483647u);
    EXPECT_EQ(clampMemoryFigure(4294967296u + 5u), 2147483647u);
    EXPECT_EQ(clampMemoryFigure(UINT64_MAX), 2147483647u);
}

TEST(Sleep, LastsTheWholeTimeThroughSignals) {
    struct sigaction ignore {};
    ignore.sa_handler = [](int) {};
    sigemptyset(&ignore.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &ignore, &previous), 0);
    // An alarm every 2 ms interrupts the sleep several times.
    itimerval every{{0, 2000}, {0, 2000}};
    itimerval stop{};
    setitimer(ITIMER_REAL, &every, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sleepMilliseconds(25);
    const auto slept = std::chrono::steady_clock::now() - start;
    setitimer(ITIMER_REAL, &stop, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(25));
}

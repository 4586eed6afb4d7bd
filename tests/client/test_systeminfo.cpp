#include "ClientTestSupport.h"
// The start-up log's memory and processor figures.
#include "client/globals.h"
#include "client/log.h"
#include "client/utilities.h"
#include "platform/localtime.h"
#include "platform/systemfigures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "FileTestUtils.h"

using clienttest::fixedClock;

TEST(SystemInfo, FiguresAndTheirThreeLogLinesStayWithin31Bits) {
    EXPECT_EQ(getVideoMemory(), 0);
    EXPECT_EQ(getCpuMhz(), getProcessorMhz());

    const char* name = "memory_status.log";
    Log log;
    log.setClock(fixedClock);
    ASSERT_TRUE(log.open(name));
    globals.log = &log;
    logMemoryStatus();
    globals.log = nullptr;
    logMemoryStatus();  // no log: nothing, no crash
    log.close();

    std::ifstream in(name);
    std::string lines[4];
    for (std::string& line : lines) {
        std::getline(in, line);
    }
    EXPECT_EQ(lines[0], "03.02.2007 09:05:00: Available video memory: 0");
    long long available = -1;
    long long total = -1;
    EXPECT_EQ(std::sscanf(lines[1].c_str(), "03.02.2007 09:05:00: Available system memory: %lld", &available),
              1);
    EXPECT_EQ(std::sscanf(lines[2].c_str(), "03.02.2007 09:05:00: Total system memory: %lld", &total), 1);
    EXPECT_EQ(lines[3], "");

    // On a machine with 2 GiB or more an unclamped figure wraps or prints
    // negative; clamped it is 2147483647.
    uint64_t rawTotal = 0;
    uint64_t rawAvailable = 0;
    ASSERT_TRUE(getPhysicalMemory(rawTotal, rawAvailable));
    uint32_t expectedTotal = 0;
    uint32_t expectedAvailable = 0;
    getMemoryStatus(expectedTotal, expectedAvailable);
    EXPECT_EQ(expectedTotal, clampMemoryFigure(rawTotal));
    EXPECT_EQ(total, static_cast<long long>(expectedTotal));
    EXPECT_GT(total, 0);
    EXPECT_GE(available, 0);
    EXPECT_LE(available, total);
}

// The start-up log's memory and processor figures.
#include "client/globals.h"
#include "client/log.h"
#include "client/utilities.h"
#include "platform/localtime.h"
#include "platform/systemfigures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void fixedClock(LocalTime* out) {
  *out = LocalTime{};
  out->year = 2007;
  out->month = 2;
  out->day = 3;
  out->hour = 9;
  out->minute = 5;
}

}  // namespace

TEST(SystemInfo, FiguresAreThePlatformsWithin32Bits) {
  EXPECT_EQ(getVideoMemory(), 0);
  EXPECT_EQ(getCpuMhz(), getProcessorMhz());

  uint32_t total = 0;
  uint32_t available = 0;
  getMemoryStatus(total, available);
  uint64_t rawTotal = 0;
  uint64_t rawAvailable = 0;
  ASSERT_TRUE(getPhysicalMemory(rawTotal, rawAvailable));
  EXPECT_EQ(total, clampMemoryFigure(rawTotal));
  EXPECT_GT(total, 0u);
  EXPECT_LE(total, 2147483647u);
  EXPECT_LE(available, total);
}

TEST(SystemInfo, MemoryReportIsThreeLinesInOrderNeverNegative) {
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
  EXPECT_EQ(std::sscanf(lines[1].c_str(), "03.02.2007 09:05:00: Available system memory: %lld", &available), 1);
  EXPECT_EQ(std::sscanf(lines[2].c_str(), "03.02.2007 09:05:00: Total system memory: %lld", &total), 1);
  EXPECT_EQ(lines[3], "");
  uint32_t expectedTotal = 0;
  uint32_t expectedAvailable = 0;
  getMemoryStatus(expectedTotal, expectedAvailable);
  // On a machine with 2 GiB or more an unclamped figure prints negative or
  // wrapped; clamped it is 2147483647.
  EXPECT_EQ(total, static_cast<long long>(expectedTotal));
  EXPECT_GE(available, 0);
  EXPECT_LE(available, total);
}

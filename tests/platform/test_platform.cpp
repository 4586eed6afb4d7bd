#include "platform/localtime.h"

#include <gtest/gtest.h>

TEST(LocalTime, FieldsAreInCalendarRange) {
    LocalTime now;
    getLocalTime(&now);
    EXPECT_GE(now.year, 2000);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 60);
    EXPECT_LE(now.milliseconds, 999);
}

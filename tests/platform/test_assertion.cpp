// TW_ASSERT stops the program in the builds that run the tests with it, and
// does not evaluate its condition where it is compiled out.
#include "platform/assertion.h"

#include <gtest/gtest.h>

namespace {

int g_evaluations = 0;

bool counted(bool value) {
    g_evaluations++;
    return value;
}

TEST(ClientAssert, StopsOnBrokenInvariantOnlyWhenCompiledIn) {
    g_evaluations = 0;
    TW_ASSERT(counted(true));
#if defined(TW_ENABLE_ASSERT) && TW_ENABLE_ASSERT
    EXPECT_EQ(g_evaluations, 1);
    EXPECT_DEATH(TW_ASSERT(counted(false)),
                 "tests/platform/test_assertion.cpp:[0-9]+: assertion failed: counted\\(false\\)");
#else
    TW_ASSERT(counted(false));
    EXPECT_EQ(g_evaluations, 0);
#endif
}

}  // namespace

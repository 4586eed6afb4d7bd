// DG_ASSERT must stop the program in the builds that run the tests with it,
// and must not evaluate its condition where it is compiled out.
#include <gtest/gtest.h>

#include "dgAssert.h"
#include "dgWorkStack.h"

namespace {

int32_t g_evaluations = 0;

bool counted(bool value) {
    g_evaluations++;
    return value;
}

TEST(Assert, StopsOnBrokenInvariantOnlyWhenCompiledIn) {
    g_evaluations = 0;
    DG_ASSERT(counted(true));
#if defined(DG_ENABLE_ASSERT) && DG_ENABLE_ASSERT
    EXPECT_EQ(g_evaluations, 1);
    EXPECT_DEATH(DG_ASSERT(counted(false)), "assertion failed: counted\\(false\\)");
    dgWorkStack<int32_t> empty(nullptr, 0);
    EXPECT_DEATH(empty.pop(), "assertion failed");
#else
    EXPECT_EQ(g_evaluations, 0);
    DG_ASSERT(counted(false));
    EXPECT_EQ(g_evaluations, 0);
#endif
}

TEST(WorkStack, GrowsFromLentStorageAndKeepsOrder) {
    int32_t lent[3];
    dgWorkStack<int32_t> stack(lent, 3);
    for (int32_t i = 0; i < 1000; i++) {
        ASSERT_TRUE(stack.push(i));
    }
    EXPECT_EQ(lent[2], 2);
    ASSERT_EQ(stack.getCount(), 1000);
    for (int32_t i = 999; i >= 0; i--) {
        ASSERT_EQ(stack.pop(), i);
    }
}

}  // namespace

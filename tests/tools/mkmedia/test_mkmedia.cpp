#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(Mkmedia, TreeExists) {
    struct stat info {};
    ASSERT_EQ(stat(TARNWELL_MEDIA_DIR, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

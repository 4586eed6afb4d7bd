#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

TEST(Mkmedia, TreeExists) {
    struct stat info {};
    ASSERT_EQ(stat(TARNWELL_MEDIA_DIR, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// A target that cannot be made (its parent is a file) fails the run, and
// neither the target nor its temporary tree appears.
TEST(Mkmedia, UnwritableTargetExitsNonZeroAndLeavesNothing) {
    const std::string blocker = "mkmedia_blocker";
    std::FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const std::string target = blocker + "/media";
    const std::string command = std::string(MKMEDIA_PATH) + " " + target + " 2>/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    struct stat info {};
    EXPECT_NE(stat(target.c_str(), &info), 0);
    EXPECT_NE(stat((target + ".tmp").c_str(), &info), 0);
    std::remove(blocker.c_str());
}

// A target named with a trailing slash gets the tree itself, with no
// temporary tree left inside or beside it.
TEST(Mkmedia, TrailingSlashTargetGetsTheTree) {
    char folder[] = "/tmp/mkmedia_slash_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string target = std::string(folder) + "/media";
    const std::string command = std::string("'") + MKMEDIA_PATH + "' '" + target + "/'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    struct stat info {};
    EXPECT_EQ(stat((target + "/mesh/mantis1/mantis_scout01.X").c_str(), &info), 0);
    EXPECT_NE(stat((target + "/.tmp").c_str(), &info), 0);
    EXPECT_NE(stat((target + ".tmp").c_str(), &info), 0);
    const std::string clean = std::string("rm -rf '") + folder + "'";
    EXPECT_EQ(std::system(clean.c_str()), 0);
}

#include "client/mediamanifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "FileTestUtils.h"

namespace {

namespace fs = std::filesystem;

// Starts the generator on a target from a working folder, without a shell in
// between.
pid_t startGenerator(const std::string& folder, const std::string& target) {
    const pid_t child = fork();
    if (child == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet < 0 || dup2(quiet, STDERR_FILENO) < 0 || chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        execl(MKMEDIA_PATH, "mkmedia", target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

// The run's exit status; -1 when it did not exit.
int finish(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Every file below root with its bytes, by path relative to it.
std::map<std::string, std::string> treeOf(const std::string& root) {
    std::map<std::string, std::string> files;
    std::error_code missing;
    for (fs::recursive_directory_iterator it(root, missing), end; !missing && it != end;
         it.increment(missing)) {
        if (it->is_regular_file()) {
            files[it->path().lexically_relative(root).generic_string()] = testsupport::readFile(it->path());
        }
    }
    return files;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Mkmedia, TreeExists) {
    struct stat info {};
    ASSERT_EQ(stat(TARNWELL_MEDIA_DIR, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// The manifest lists every other file of the tree with its size and checksum.
TEST(Mkmedia, ManifestListsEveryOtherFile) {
    std::map<std::string, std::string> tree = treeOf(TARNWELL_MEDIA_DIR);
    const std::string manifest = tree[MEDIA_MANIFEST_FILE];
    tree.erase(MEDIA_MANIFEST_FILE);
    std::vector<MediaFile> files;
    for (const auto& [path, bytes] : tree) {
        files.push_back({path, bytes.size(), mediaChecksum(bytes)});
    }
    EXPECT_GE(files.size(), 53u);
    EXPECT_EQ(manifest, formatMediaManifest(files));
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
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"media"});
    EXPECT_EQ(namesIn(target), namesIn(TARNWELL_MEDIA_DIR));
    const std::string clean = std::string("rm -rf '") + folder + "'";
    EXPECT_EQ(std::system(clean.c_str()), 0);
}

namespace {

class MkmediaTargetName : public testing::TestWithParam<const char*> {};

std::string targetCaseName(const testing::TestParamInfo<const char*>& info) {
    static const char* const kNames[] = {"Apostrophe", "QuotedCommand", "CommandSubstitution"};
    return kNames[info.index];
}

}  // namespace

// Whatever the target's name holds, it is only a name: two runs on it both
// make the tree there, nothing is left beside it, and nothing in it runs.
TEST_P(MkmediaTargetName, IsOnlyAName) {
    char pattern[] = "/tmp/mkmedia_name_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const fs::path target = GetParam();
    fs::create_directories(folder / target.parent_path());
    const std::map<std::string, std::string> built = treeOf(TARNWELL_MEDIA_DIR);
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(finish(startGenerator(folder, target.string())), 0) << "run " << run;
        EXPECT_TRUE(treeOf((folder / target).string()) == built) << "run " << run;
        EXPECT_EQ(namesIn((folder / target.parent_path()).string()),
                  std::vector<std::string>{target.filename().string()});
    }
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename(), "INJECTED") << entry.path();
    }
    fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Names, MkmediaTargetName,
                         testing::Values("it's/media", "x';touch INJECTED;'",
                                         "$(touch INJECTED)/\"m\" `touch INJECTED`"),
                         targetCaseName);

// Runs racing on one target, the second started at a different point of the
// first in each round: whichever reports success leaves the whole tree (the
// same bytes as the build's), and no temporary tree stays beside it.
TEST(Mkmedia, ConcurrentRunsLeaveAWholeTree) {
    const std::map<std::string, std::string> built = treeOf(TARNWELL_MEDIA_DIR);
    for (int round = 0; round < 6; ++round) {
        char pattern[] = "/tmp/mkmedia_race_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const pid_t first = startGenerator(pattern, "media");
        usleep(static_cast<useconds_t>(round) * 100000);
        const pid_t second = startGenerator(pattern, "media");
        const int statuses[] = {finish(first), finish(second)};
        const bool succeeded = statuses[0] == 0 || statuses[1] == 0;
        EXPECT_TRUE(succeeded) << "round " << round;
        for (const int status : statuses) {
            EXPECT_TRUE(status == 0 || status == 1) << "round " << round << ": " << status;
        }
        if (succeeded) {
            const std::map<std::string, std::string> made = treeOf(std::string(pattern) + "/media");
            EXPECT_EQ(made.size(), built.size()) << "round " << round;
            EXPECT_TRUE(made == built) << "round " << round;
        }
        EXPECT_EQ(namesIn(pattern), std::vector<std::string>{"media"}) << "round " << round;
        fs::remove_all(pattern);
    }
}

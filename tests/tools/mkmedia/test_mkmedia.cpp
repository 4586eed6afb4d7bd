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
// between, as the user `user` (this process's own by default).
pid_t startGenerator(const std::string& folder, const std::string& target, uid_t user = getuid()) {
    const pid_t child = fork();
    if (child == 0) {
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet < 0 || dup2(quiet, STDERR_FILENO) < 0 || chdir(folder.c_str()) != 0 ||
            (user != getuid() && (setgid(user) != 0 || setuid(user) != 0))) {
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

// The manifest lists every other file of the tree, and each matches its line.
TEST(Mkmedia, ManifestListsEveryOtherFile) {
    const std::map<std::string, std::string> tree = treeOf(TARNWELL_MEDIA_DIR);
    MediaManifest manifest;
    manifest.read(TARNWELL_MEDIA_DIR);
    for (const auto& [path, bytes] : tree) {
        EXPECT_EQ(manifest.fileIntact(std::string(TARNWELL_MEDIA_DIR) + "/" + path),
                  path != MEDIA_MANIFEST_FILE)
            << path;
    }
    const std::string& text = tree.at(MEDIA_MANIFEST_FILE);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), tree.size() - 1);
}

// Models, sounds and shaders take at most half of the 3 MB the whole tree
// may use; the other half is the textures' and the terrain's.
TEST(Mkmedia, TreeStaysSmall) {
    size_t whole = 0, modelsSoundsShaders = 0;
    for (const auto& [path, bytes] : treeOf(TARNWELL_MEDIA_DIR)) {
        whole += bytes.size();
        for (const char* folder : {"mesh/", "audio/", "shader/"}) {
            modelsSoundsShaders += path.rfind(folder, 0) == 0 ? bytes.size() : 0;
        }
    }
    EXPECT_LT(modelsSoundsShaders, 1536u * 1024);
    EXPECT_LT(whole, 3u * 1024 * 1024);
}

// A target that cannot be made (its parent is a file) fails the run, and
// neither the target nor its temporary tree appears.
TEST(Mkmedia, UnwritableTargetExitsNonZeroAndLeavesNothing) {
    testsupport::writeFile("mkmedia_blocker", "");
    EXPECT_EQ(finish(startGenerator(".", "mkmedia_blocker/media")), 1);
    EXPECT_FALSE(fs::exists("mkmedia_blocker/media"));
    fs::remove("mkmedia_blocker");
}

// An old tree that cannot be removed (a folder in it that the run may not
// write) fails the run before the swap: status 1, the old tree whole in the
// target, and no temporary tree beside it. Run as root, the generator drops
// to an unprivileged user, for whom the folder's mode holds.
TEST(Mkmedia, AnOldTreeThatCannotGoFailsTheRunAndLeavesNoTemporaryTree) {
    char pattern[] = "/tmp/mkmedia_stuck_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    fs::copy(TARNWELL_MEDIA_DIR, folder + "/media", fs::copy_options::recursive);
    const std::string stuck = folder + "/media/mesh/cockpit";
    testsupport::writeFile(stuck + "/old.txt", "of the old tree");
    const uid_t user = getuid() == 0 ? 65534 : getuid();  // nobody
    ASSERT_EQ(lchown(folder.c_str(), user, user), 0);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        ASSERT_EQ(lchown(entry.path().c_str(), user, user), 0) << entry.path();
    }
    ASSERT_EQ(chmod(stuck.c_str(), 0555), 0);
    const std::map<std::string, std::string> before = treeOf(folder + "/media");
    EXPECT_EQ(finish(startGenerator(folder, "media", user)), 1);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"media"});
    EXPECT_TRUE(treeOf(folder + "/media") == before);
    chmod(stuck.c_str(), 0755);
    fs::remove_all(folder);
}

namespace {

class MkmediaTargetName : public testing::TestWithParam<const char*> {};

std::string targetCaseName(const testing::TestParamInfo<const char*>& info) {
    static const char* const kNames[] = {"TrailingSlash", "Apostrophe", "QuotedCommand",
                                         "CommandSubstitution"};
    return kNames[info.index];
}

}  // namespace

// Whatever the target's name holds, it is only a name: each of two runs
// makes there the same bytes as the build's run, nothing is left beside or
// inside it, and nothing in the name runs.
TEST_P(MkmediaTargetName, GetsTheBuildsBytesOnEveryRun) {
    char pattern[] = "/tmp/mkmedia_name_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    std::string name = GetParam();
    while (name.back() == '/') {
        name.pop_back();
    }
    const fs::path target = name;
    fs::create_directories(folder / target.parent_path());
    const std::map<std::string, std::string> built = treeOf(TARNWELL_MEDIA_DIR);
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(finish(startGenerator(folder, GetParam())), 0) << "run " << run;
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
                         testing::Values("media/", "it's/media", "x';touch INJECTED;'",
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

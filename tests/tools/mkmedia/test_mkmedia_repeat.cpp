// The generator makes the same bytes every run (the build's own run and a
// fresh one here), and its tree stays small.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "FileTestUtils.h"

using testsupport::readFile;

namespace {

const std::string kMedia = TARNWELL_MEDIA_DIR;

void listFiles(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    DIR* dir = opendir((root + "/" + relative).c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat info {};
        stat((root + "/" + path).c_str(), &info);
        if (S_ISDIR(info.st_mode)) {
            listFiles(root, path, out);
        } else {
            out.push_back(path);
        }
    }
}

off_t treeSize(const std::string& root, const std::string& part) {
    std::vector<std::string> files;
    listFiles(root, part, files);
    off_t total = 0;
    for (const std::string& f : files) {
        struct stat info {};
        stat((root + "/" + part + "/" + f).c_str(), &info);
        total += info.st_size;
    }
    return total;
}

TEST(MediaGenerator, SameBytesEveryRun) {
    char folder[] = "/tmp/mkmedia_repeat_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string target = std::string(folder) + "/media";
    const std::string command = std::string("'") + MKMEDIA_PATH + "' '" + target + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const char* part : {"mesh", "audio", "shader"}) {
        std::vector<std::string> built, fresh;
        listFiles(kMedia + "/" + part, "", built);
        listFiles(target + "/" + part, "", fresh);
        std::sort(built.begin(), built.end());
        std::sort(fresh.begin(), fresh.end());
        EXPECT_FALSE(fresh.empty()) << part;
        EXPECT_EQ(built, fresh) << part;
        for (const std::string& file : fresh) {
            const std::string a = readFile(kMedia + "/" + part + "/" + file);
            const std::string b = readFile(target + "/" + part + "/" + file);
            EXPECT_FALSE(b.empty()) << file;
            EXPECT_TRUE(a == b) << part << "/" << file << " differs between runs";
        }
    }
    const std::string clean = std::string("rm -rf '") + folder + "'";
    EXPECT_EQ(std::system(clean.c_str()), 0);
}

TEST(MediaGenerator, TreeStaysSmall) {
    // Models, sounds and shaders take at most half of the 3 MB the whole tree
    // may use; the other half is the textures' and the terrain's.
    EXPECT_LT(treeSize(kMedia, "mesh") + treeSize(kMedia, "audio") + treeSize(kMedia, "shader"), 1536 * 1024);
    EXPECT_LT(treeSize(kMedia, ""), 3 * 1024 * 1024);
}

}  // namespace

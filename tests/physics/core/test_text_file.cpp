#include "dgTextFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Every test works in a fresh directory of its own: <root>/work is the current
// directory, <root>/data stands in for the data directory (outside the tree
// searched from the current directory).
class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(m_savedCwd, sizeof(m_savedCwd)), nullptr);
        char pattern[] = "/tmp/dgTextFileXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_work = m_root + "/work";
        m_data = m_root + "/data";
        fs::create_directories(m_work);
        fs::create_directories(m_data);
        ASSERT_EQ(chdir(m_work.c_str()), 0);
    }

    void TearDown() override {
        EXPECT_EQ(chdir(m_savedCwd), 0);
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    static void writeFile(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path().empty() ? fs::path(".")
                                                                    : fs::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        out << text;
    }

    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::string readAll(dgTextFile& file) {
        std::string text;
        for (int ch = file.getChar(); ch != EOF; ch = file.getChar()) {
            text.push_back(char(ch));
        }
        return text;
    }

    char m_savedCwd[PATH_MAX];
    std::string m_root;
    std::string m_work;
    std::string m_data;
};

// A key scan reads whitespace- and '='-separated tokens until one equals
// the key ignoring case, whole (neither cut at a NUL nor at the token
// buffer's size), then scans the value after it; 0 when the file ends first.
struct KeyCase {
    const char* name;
    std::string text;
    std::string key;
    int found;
    int value;  // -1: the key alone, no value scanned
    bool endOfFile;
};

class TextFileKey : public TextFileTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(TextFileKey, FindsTheWholeKeyIgnoringCase) {
    const KeyCase& c = GetParam();
    writeFile("keys.txt", c.text);
    dgTextFile file("keys.txt", "r");
    ASSERT_NE(file.getStream(), nullptr);
    int value = -7;
    if (c.value < 0) {
        EXPECT_EQ(dgTextFileScanKey(file, c.key.c_str()), c.found);
    } else {
        EXPECT_EQ(file.scanKeyedValue(c.key.c_str(), " = %d", &value), c.found);
        EXPECT_EQ(value, c.found ? c.value : -7);
    }
    EXPECT_EQ(file.isEof() != 0, c.endOfFile);
}

const char kNulInToken[] = "key\0tail = 1\nkeys = 2\nkey = 3\n";

INSTANTIATE_TEST_SUITE_P(
    Scans, TextFileKey,
    ::testing::Values(KeyCase{"IgnoringCase", "Friction 0.5\nGravity = 9\n", "gravity", 1, 9, false},
                      KeyCase{"MissingAtEndOfFile", "Gravity = 9\nFriction = 5\n", "restitution", 0, 0, true},
                      // The first token read is empty: nothing may be compared before it.
                      KeyCase{"StartingOnDelimiters", "\n\n = \t= mass = 12\n", "MASS", 1, 12, false},
                      // Cut at the buffer size, the tail of the first token would read "key".
                      KeyCase{"OverlongToken", std::string(dgTextFileTokenSize, 'A') + "key\nkey = 3\n",
                              "key", 1, 3, false},
                      KeyCase{"EndingTheFile", "mass 12\nfriction", "Friction", 1, -1, true},
                      KeyCase{"NulInsideAToken", std::string(kNulInToken, sizeof(kNulInToken) - 1), "key", 1,
                              3, false},
                      // Nor may a key longer than any token match an overlong one's head.
                      KeyCase{"KeyLongerThanAnyToken", std::string(dgTextFileTokenSize + 8, 'k') + "\n",
                              std::string(dgTextFileTokenSize + 8, 'k'), 0, -1, true}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(TextFileTest, SectionValueSearchesOnFromTheSection) {
    writeFile("cfg.txt", "[world]\nGravity = 9.8\n[moon]\ngravity=1.6\n");
    dgTextFile file("cfg.txt", "r");
    ASSERT_NE(file.getStream(), nullptr);
    float gravity = 0.0f;
    EXPECT_EQ(file.scanSectionValue("[moon]", "Gravity", " = %f", &gravity), 1);
    EXPECT_FLOAT_EQ(gravity, 1.6f);
    // The section scan rewinds, so an earlier section is still reachable.
    EXPECT_EQ(file.scanSectionValue("[world]", "gravity", " = %f", &gravity), 1);
    EXPECT_FLOAT_EQ(gravity, 9.8f);
    EXPECT_EQ(file.scanSectionValue("[sun]", "gravity", " = %f", &gravity), 0);
}

TEST_F(TextFileTest, KeyScanEndsOnUnreadableStream) {
    dgTextFile file("written.txt", "w");
    ASSERT_NE(file.getStream(), nullptr);
    // Reading a write-only stream fails without reaching end of file.
    EXPECT_EQ(dgTextFileScanKey(file, "anything"), 0);
}

TEST_F(TextFileTest, OpenFindsFileInSubdirectory) {
    writeFile("levels/ocean/waves.txt", "depth 40\n");
    dgTextFile file("waves.txt", "r");
    ASSERT_NE(file.getStream(), nullptr);
    EXPECT_STREQ(file.getName(), "waves.txt");
    EXPECT_EQ(readAll(file), "depth 40\n");
    // Nothing was copied into the current directory.
    EXPECT_FALSE(fs::exists("waves.txt"));
}

TEST_F(TextFileTest, OpenCopiesFromDataDirectoryOnce) {
    writeFile(m_data + "/ships/hull.txt", "armour 7\n");
    dgTextFile first(nullptr, "r");
    ASSERT_TRUE(dgTextFileOpen(first, "hull.txt", "r", m_data.c_str()));
    EXPECT_EQ(readAll(first), "armour 7\n");
    EXPECT_EQ(readFile(m_work + "/hull.txt"), "armour 7\n");

    // The second open finds the copy, not the (now changed) original.
    writeFile(m_data + "/ships/hull.txt", "armour 9\n");
    dgTextFile second(nullptr, "r");
    ASSERT_TRUE(dgTextFileOpen(second, "hull.txt", "r", m_data.c_str()));
    EXPECT_EQ(readAll(second), "armour 7\n");
}

TEST_F(TextFileTest, FailedCopyLeavesNothingBehind) {
    writeFile(m_data + "/hull.txt", "armour 7\n");
    dgTextFile file(nullptr, "r");
    EXPECT_FALSE(dgTextFileOpen(file, "missingdir/hull.txt", "r", m_data.c_str()));
    EXPECT_EQ(file.getStream(), nullptr);
    EXPECT_FALSE(fs::exists("missingdir"));
}

// The copy from the data directory lands where the name points, which must stay
// below the current directory.
struct CopyTargetCase {
    const char* name;
    bool staysInside;
};

void PrintTo(const CopyTargetCase& param, std::ostream* out) {
    *out << param.name;
}

class TextFileCopyTargetTest : public TextFileTest, public ::testing::WithParamInterface<CopyTargetCase> {};

TEST_P(TextFileCopyTargetTest, CopyNeverLeavesWorkingDirectory) {
    const CopyTargetCase& param = GetParam();
    writeFile(m_data + "/escaped.txt", "template\n");
    fs::create_directories("sub");
    dgTextFile file(nullptr, "r");
    EXPECT_EQ(dgTextFileOpen(file, param.name, "r", m_data.c_str()), param.staysInside) << param.name;
    // Outside the working directory nothing appears, wherever the name pointed.
    EXPECT_FALSE(fs::exists(m_root + "/escaped.txt"));
    EXPECT_FALSE(fs::exists("/escaped.txt"));
    EXPECT_EQ(fs::exists("escaped.txt"), param.staysInside);
}

INSTANTIATE_TEST_SUITE_P(Names, TextFileCopyTargetTest,
                         ::testing::Values(CopyTargetCase{"../escaped.txt", false},
                                           CopyTargetCase{"sub/../../escaped.txt", false},
                                           CopyTargetCase{"./sub/.//../../escaped.txt", false},
                                           CopyTargetCase{"/escaped.txt", false},
                                           CopyTargetCase{"sub/../escaped.txt", true},
                                           CopyTargetCase{"./escaped.txt", true}));

TEST_F(TextFileTest, WritingOpenNeverTouchesSameNamedFileElsewhere) {
    writeFile("saves/slot.txt", "precious\n");
    writeFile(m_data + "/slot.txt", "template\n");
    const char* const writingModes[] = {"w", "wb", "a", "w+", "a+"};
    for (const char* mode : writingModes) {
        dgTextFile file(nullptr, "r");
        EXPECT_FALSE(dgTextFileOpen(file, "nodir/slot.txt", mode, m_data.c_str())) << mode;
    }
    // An update mode writes too, even though it starts like a read.
    dgTextFile update(nullptr, "r");
    EXPECT_FALSE(dgTextFileOpen(update, "slot.txt", "r+", m_data.c_str()));
    EXPECT_EQ(readFile("saves/slot.txt"), "precious\n");
    EXPECT_FALSE(fs::exists("slot.txt"));
}

TEST_F(TextFileTest, OverlongNameIsRefused) {
    const std::string name(dgTextFileNameSize, 'n');
    dgTextFile file(name.c_str(), "w");
    EXPECT_EQ(file.getStream(), nullptr);
    EXPECT_STREQ(file.getName(), "");
    // Operations on the closed object fail instead of crashing.
    EXPECT_EQ(file.print("%d", 1), -1);
    EXPECT_EQ(file.getChar(), EOF);
    EXPECT_NE(file.isEof(), 0);

    const std::string longest(dgTextFileNameSize - 1, 'n');
    dgTextFile fits(longest.c_str(), "w");
    EXPECT_NE(fits.getStream(), nullptr);
}

TEST_F(TextFileTest, BufferedHeapFileWritesThroughCallerBuffer) {
    static char buffer[4096];
    dgTextFile* file = new dgTextFile("out.txt", "w", buffer, sizeof(buffer));
    ASSERT_NE(file, nullptr);
    ASSERT_NE(file->getStream(), nullptr);
    file->print("%s %d\n", "count", 3);
    // Fully buffered: nothing reaches the file before the flush.
    EXPECT_EQ(readFile("out.txt"), "");
    EXPECT_EQ(file->flush(), 0);
    EXPECT_EQ(readFile("out.txt"), "count 3\n");
    delete file;
}

TEST_F(TextFileTest, FindFileInTreeReportsPathAndRespectsBufferSize) {
    writeFile("a/b/c/target.dat", "t");
    char path[PATH_MAX];
    ASSERT_TRUE(dgFindFileInTree("elsewhere/target.dat", m_work.c_str(), path, sizeof(path)));
    EXPECT_EQ(std::string(path), m_work + "/a/b/c/target.dat");

    char small[16];
    EXPECT_FALSE(dgFindFileInTree("target.dat", m_work.c_str(), small, sizeof(small)));
    EXPECT_FALSE(dgFindFileInTree("absent.dat", m_work.c_str(), path, sizeof(path)));
    // A directory of the searched name is not a file.
    fs::create_directories("a/folder.dat");
    EXPECT_FALSE(dgFindFileInTree("folder.dat", m_work.c_str(), path, sizeof(path)));
    // Hidden directories are skipped.
    writeFile(".hidden/secret.dat", "s");
    EXPECT_FALSE(dgFindFileInTree("secret.dat", m_work.c_str(), path, sizeof(path)));
}

TEST_F(TextFileTest, FindFileInTreeDoesNotFollowDirectoryLinks) {
    fs::create_directories("a");
    fs::create_directory_symlink("..", "a/up");
    char path[PATH_MAX];
    EXPECT_FALSE(dgFindFileInTree("absent.dat", m_work.c_str(), path, sizeof(path)));
}

TEST_F(TextFileTest, FileIsNewerComparesModificationTimes) {
    writeFile("a.txt", "a");
    writeFile("b.txt", "b");
    auto setTime = [](const char* path, time_t seconds, long nanoseconds) {
        const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0);
    };
    setTime("a.txt", 1000000, 500);
    setTime("b.txt", 1000000, 500);
    EXPECT_FALSE(dgFileIsNewer("a.txt", "b.txt"));

    setTime("b.txt", 1000000, 501);
    EXPECT_TRUE(dgFileIsNewer("a.txt", "b.txt"));
    EXPECT_FALSE(dgFileIsNewer("b.txt", "a.txt"));

    setTime("b.txt", 999999, 999999999);
    EXPECT_FALSE(dgFileIsNewer("a.txt", "b.txt"));
    EXPECT_TRUE(dgFileIsNewer("b.txt", "a.txt"));

    EXPECT_FALSE(dgFileIsNewer("a.txt", "missing.txt"));
    EXPECT_FALSE(dgFileIsNewer("missing.txt", "a.txt"));
}

}  // namespace

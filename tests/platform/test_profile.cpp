#include "platform/profile.h"

#include <glob.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FileTestUtils.h"

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// One file name per test (and per parameter), so parallel runs never meet.
std::string testFile() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("profile_") + info->test_suite_name() + "_" + info->name() + ".ini";
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

// The random runs write hundreds of times, and on a disk each rename over the
// old file waits for the new data to reach it; they run in memory when there
// is a tmpfs, under a name no other build's run can share.
std::string scratchFile() {
    if (access("/dev/shm", W_OK) == 0) {
        return "/dev/shm/" + std::to_string(getpid()) + "_" + testFile();
    }
    return testFile();
}

// Temporaries the writer left beside `name`.
bool hasLeftovers(const std::string& name) {
    glob_t found{};
    const bool any = glob((name + ".tmp*").c_str(), 0, nullptr, &found) == 0;
    globfree(&found);
    return any;
}

std::string readValue(const char* section, const char* key, const std::string& path,
                      const char* defaultValue = "<default>") {
    char buffer[4096];
    const uint32_t count =
        readProfileString(section, key, defaultValue, buffer, sizeof(buffer), path.c_str());
    EXPECT_EQ(count, std::strlen(buffer));
    return std::string(buffer, count);
}

// ---------------------------------------------------------------------------
// What the lines of a file mean, where a write puts its line.

struct FileCase {
    const char* name;
    const char* before;  // null: no file
    const char* section;
    const char* key;
    const char* value;  // written first, unless null
    const char* read;   // then read back; "<default>" when not found
    const char* after;  // the file at the end; null: as before
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileFile : public testing::TestWithParam<FileCase> {};

TEST_P(ProfileFile, ReadsAndWrites) {
    const FileCase& c = GetParam();
    const std::string path = testFile();
    unlink(path.c_str());
    if (c.before != nullptr) {
        writeFile(path, c.before);
    }
    if (c.value != nullptr) {
        EXPECT_TRUE(writeProfileString(c.section, c.key, c.value, path.c_str()));
    }
    EXPECT_EQ(readValue(c.section, c.key, path), c.read);
    EXPECT_EQ(readFile(path), c.after != nullptr ? c.after : c.before);
    EXPECT_FALSE(hasLeftovers(path));
}

const FileCase kFileCases[] = {
    {"NamesIgnoreCaseAndAreTrimmed", "  [ General ]  \n \t Device  =  Open GL \t\n", "gEnErAl ", " DEVICE",
     nullptr, "Open GL", nullptr},
    // Every letter of the alphabet folds, its ends included.
    {"EveryLetterIgnoresCase", "[AZaz]\nZoomAlpha=near\n", "azAZ", "zOOMaLPHA", nullptr, "near", nullptr},
    {"OnePairOfQuotesGoes", "[S]\nK=  \"\"x\" y\"  \n", "S", "K", nullptr, "\"x\" y", nullptr},
    {"MismatchedQuotesStay", "[S]\nK='x\"\n", "S", "K", nullptr, "'x\"", nullptr},
    {"EmptyValueIsFoundEmpty", "[S]\nK=\n", "S", "K", nullptr, "", nullptr},
    {"CommentsAndLinesWithoutEqualsSkipped", "[S]\n ;K=commented\nK\nK=a=b ; kept\n", "S", "K", nullptr,
     "a=b ; kept", nullptr},
    {"FirstDuplicateKeyWins", "[S]\r\nK=first\r\nk=second\r\n", "s", "k", nullptr, "first", nullptr},
    {"OnlyTheFirstSectionIsSearched", "[S]\nA=1\n[s]\nK=2\n", "S", "K", nullptr, "<default>", nullptr},
    {"KeysBeforeAnyHeaderBelongNowhere", "K=orphan\n[S]\n", "S", "K", nullptr, "<default>", nullptr},
    {"NamesAreNotPrefixes", "[Section]\nKeys=v\n", "Sect", "Key", nullptr, "<default>", nullptr},
    {"ByteOrderMarkAndOpenHeader", "\xEF\xBB\xBF[S\nK=v", "S", "K", nullptr, "v", nullptr},
    {"MissingFileIsCreated", nullptr, "S", "K", "v", "v", "[S]\nK=v\n"},
    {"ReplacedInPlaceKeepingTheSpelling", "[S]\n  FogStart = 1 \nfogstart=2\nX=3\n", "s", "FOGSTART", "5",
     "5", "[S]\nFogStart=5\nfogstart=2\nX=3\n"},
    {"NewKeyAfterTheSectionsLastKey", "[A]\nX=1\n; note\n\n[B]\nY=2\n", "a", "Z", "3", "3",
     "[A]\nX=1\nZ=3\n; note\n\n[B]\nY=2\n"},
    {"NewKeyGoesToTheFirstSection", "[A]\n[B]\n[a]\nY=2\n", "A", "Y", "3", "3", "[A]\nY=3\n[B]\n[a]\nY=2\n"},
    {"NewKeyWhenTheLastLineHasNoEnd", "[A]\nX=1", "A", "Z", "3", "3", "[A]\nX=1\nZ=3\n"},
    {"NewSectionAtTheEnd", "K=0\n[A]\nX=1", " B ", " K ", "2", "2", "K=0\n[A]\nX=1\n[B]\nK=2\n"},
    {"CarriageReturnsKeptOnReplace", "\xEF\xBB\xBF[A]\r\nX=1\r\nY=2\r\n", "A", "X", "22", "22",
     "\xEF\xBB\xBF[A]\r\nX=22\r\nY=2\r\n"},
    {"CarriageReturnsOnNewLines", "[A]\r\nX=1\r\n", "B", "Y", "2", "2", "[A]\r\nX=1\r\n[B]\r\nY=2\r\n"},
    {"ValueWrittenAsGivenReadTrimmed", "", "S", "K", "  'q'  ", "q", "[S]\nK=  'q'  \n"},
};

INSTANTIATE_TEST_SUITE_P(Lines, ProfileFile, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<FileCase>& info) { return info.param.name; });

// Refused, read-only, failing and impossible writes leave the file as it was.
TEST(ProfileFile, FailuresLeaveTheFileAsItWas) {
    const std::string path = testFile();
    const std::string before = "[S]\nK=1\n" + std::string(200, ';') + "\n";
    writeFile(path, before);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const char* refused[][3] = {
        {nullptr, "K", "v"}, {"S", nullptr, "v"}, {"S", "K", nullptr}, {"", "K", "v"},   {"S", "  ", "v"},
        {"a]b", "K", "v"},   {"a\nb", "K", "v"},  {"S", "a=b", "v"},   {"S", ";K", "v"}, {"S", "[K", "v"},
        {"S", "K\rX", "v"},  {"S", "K", "a\nb"},  {"S", "K", "a\r"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(writeProfileString(r[0], r[1], r[2], path.c_str()))
            << (r[0] ? r[0] : "") << "/" << (r[1] ? r[1] : "");
    }
    EXPECT_FALSE(writeProfileString("S", "K", "v", nullptr));

    // Read-only by its permissions, even for a user who could write anyway.
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(readValue("S", "K", path), "1");
    EXPECT_FALSE(writeProfileString("S", "K", "2", path.c_str()));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    // A file size limit makes the temporary's write fail half way.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeProfileString("S", "K", "2", path.c_str());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(readFile(path), before);
    EXPECT_FALSE(hasLeftovers(path));

    // A good write keeps the permissions.
    EXPECT_TRUE(writeProfileString("S", "K", "2", path.c_str()));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A folder is neither read nor replaced; a missing folder gets no file.
    EXPECT_EQ(readValue("S", "K", ".", "dflt  "), "dflt");
    EXPECT_FALSE(writeProfileString("S", "K", "v", "."));
    EXPECT_FALSE(writeProfileString("S", "K", "v", "no-such-folder/profile.ini"));
    EXPECT_EQ(readValue("S", "K", "no-such-folder/profile.ini", nullptr), "");
    char untouched = '#';
    EXPECT_EQ(readProfileString("S", "K", "", &untouched, 0, path.c_str()), 0u);
    EXPECT_EQ(untouched, '#');
}

// ---------------------------------------------------------------------------
// Random runs against an in-memory model: three sections and five keys in
// random case, values with blanks and quotes around them, reads into small
// buffers with a guard behind them. The seed also picks the starting file.
std::string lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

class ProfileModel : public testing::TestWithParam<uint32_t> {};

TEST_P(ProfileModel, ReadsGiveTheLastWrite) {
    const uint32_t seed = GetParam();
    const char* starts[] = {nullptr, "; settings\n[Other]\nKeep=me\n\n",
                            "; settings\r\n[Other]\r\nKeep=me\r\n\r\n"};
    const char* start = starts[seed % 3];
    const std::string startText = start != nullptr ? start : "";
    const std::string path = scratchFile();
    unlink(path.c_str());
    if (start != nullptr) {
        writeFile(path, startText);
    }
    std::mt19937 random(seed);
    auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
    auto mixCase = [&](std::string name) {
        for (char& c : name) {
            c = pick(2) != 0 ? static_cast<char>(std::toupper(c)) : static_cast<char>(std::tolower(c));
        }
        return name;
    };
    const char* sections[] = {"Alpha", "Beta", "Gamma"};
    const char* keys[] = {"One", "Two", "Three", "Four", "Five"};
    const std::string alphabet = "abXY09.,;=[]\"'-#";
    struct Entry {
        std::string spelling;  // as first written
        std::string raw;       // the last value written
        std::string value;     // what reads give for it
    };
    std::map<std::string, std::string> headers;  // by lower-case section
    std::map<std::string, Entry> entries;        // by "section/key" in lower case

    for (int step = 0; step < 3000; ++step) {
        const std::string section = mixCase(sections[pick(3)]);
        const std::string key = mixCase(keys[pick(5)]);
        const std::string id = lower(section) + "/" + lower(key);
        if (pick(2) == 0) {
            std::string value;
            const size_t length = pick(8);
            for (size_t i = 0; i < length; ++i) {
                value.push_back(i > 0 && i + 1 < length && pick(5) == 0 ? ' '
                                                                        : alphabet[pick(alphabet.size())]);
            }
            const bool quoted = pick(4) == 0;
            if (!quoted && !value.empty() && (value[0] == '"' || value[0] == '\'')) {
                value[0] = 'a';
            }
            const std::string raw = std::string(pick(3), ' ') + (quoted ? "\"" + value + "\"" : value) +
                                    std::string(pick(3), ' ');
            ASSERT_TRUE(writeProfileString(section.c_str(), key.c_str(), raw.c_str(), path.c_str()));
            headers.emplace(lower(section), "[" + section + "]");
            Entry& entry = entries.try_emplace(id, Entry{key, "", ""}).first->second;
            entry.raw = raw;
            entry.value = value;
        } else {
            const auto found = entries.find(id);
            std::string expected = found != entries.end() ? found->second.value : "dflt";
            const uint32_t size = 1 + static_cast<uint32_t>(pick(12));
            std::vector<char> buffer(size + 8, '#');
            const uint32_t count =
                readProfileString(section.c_str(), key.c_str(), "dflt", buffer.data(), size, path.c_str());
            expected.resize(std::min<size_t>(expected.size(), size - 1));
            ASSERT_EQ(std::string(buffer.data(), count), expected) << "step " << step;
            ASSERT_EQ(buffer[count], '\0') << "step " << step;
            ASSERT_EQ(std::count(buffer.begin() + size, buffer.end(), '#'), 8) << "step " << step;
        }
    }

    // The start text untouched, then one header per section and one line per
    // key, spelled as first written, all in the start's line ends.
    const std::string file = readFile(path);
    EXPECT_EQ(file.compare(0, startText.size(), startText), 0);
    const std::string lineEnd = startText.find('\r') != std::string::npos ? "\r\n" : "\n";
    std::vector<std::string> lines;
    for (size_t pos = 0, end; (end = file.find(lineEnd, pos)) != std::string::npos;
         pos = end + lineEnd.size()) {
        lines.push_back(file.substr(pos, end - pos));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
    }
    EXPECT_EQ(lines.size(),
              std::count(startText.begin(), startText.end(), '\n') + headers.size() + entries.size());
    for (const auto& [name, header] : headers) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), header), 1) << name;
    }
    for (const auto& [id, entry] : entries) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), entry.spelling + "=" + entry.raw), 1) << id;
    }
    EXPECT_EQ(readValue("Other", "Keep", path), start != nullptr ? "me" : "<default>");
    unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Seeds, ProfileModel, testing::Range(1u, 7u));

// Any bytes at all: reads stay inside the buffer and agree with their count;
// a write then reads back and leaves every other key as it read before.
// The bytes are fragments of lines mixed with random ones; every fiftieth
// file starts with a line far longer than any buffer.
TEST(ProfileGarbage, AnyBytesReadSafelyAndTakeAWrite) {
    const std::string path = scratchFile();
    std::mt19937 random(7);
    auto pick = [&random](int count) { return static_cast<int>(random() % static_cast<uint32_t>(count)); };
    const char* fragments[] = {
        "[a]", "[ab]", "[A B]", "[b", "\n", "\r\n", "\n", "a=", "b =", "AB=", "=", ";", "\"", "'", " ", "\t"};
    const char* names[] = {"a", "b", "ab", "A B"};
    for (int round = 0; round < 300; ++round) {
        std::string bytes = round % 50 == 0 ? "[a]\nb=" + std::string(100000, 'x') + "\n" : "";
        for (int n = pick(600); n > 0; --n) {
            if (pick(3) == 0) {
                bytes.push_back(static_cast<char>(pick(256)));
            } else {
                bytes += fragments[pick(sizeof(fragments) / sizeof(fragments[0]))];
            }
        }
        writeFile(path, bytes);

        std::vector<std::string> before;
        for (const char* section : names) {
            for (const char* key : names) {
                const uint32_t size = 1 + static_cast<uint32_t>(pick(64));
                std::vector<char> buffer(size + 8, '#');
                const uint32_t count = readProfileString(section, key, "", buffer.data(), size, path.c_str());
                ASSERT_LT(count, size);
                ASSERT_EQ(count, std::strlen(buffer.data()));
                ASSERT_EQ(std::count(buffer.begin() + size, buffer.end(), '#'), 8);
                before.push_back(readValue(section, key, path));
            }
        }
        const char* section = names[pick(4)];
        const char* key = names[pick(4)];
        ASSERT_TRUE(writeProfileString(section, key, "v123", path.c_str())) << "round " << round;
        size_t probe = 0;
        for (const char* s : names) {
            for (const char* k : names) {
                const std::string expected = (s == section && k == key) ? "v123" : before[probe];
                ASSERT_EQ(readValue(s, k, path), expected) << "round " << round << " [" << s << "] " << k;
                ++probe;
            }
        }
    }
    unlink(path.c_str());
}

}  // namespace

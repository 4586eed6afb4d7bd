// The media manifest and the image header check, without a device: published
// checksum vectors, a random tree whose every damage is caught, and a table of
// headers that lie.
#include "client/mediamanifest.h"

#include "MediaDamage.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "FileDamage.h"
#include "FileTestUtils.h"

using testsupport::readFile;
using testsupport::writeFile;

TEST(MediaManifest, ChecksumIsFnv1a64AndOneLineAFile) {
    EXPECT_EQ(mediaChecksum(""), 0xCBF29CE484222325ull);
    EXPECT_EQ(mediaChecksum("a"), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(mediaChecksum("foobar"), 0x85944171F73967E8ull);
    char pattern[] = "/tmp/tarnwell-manifest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    writeFile(std::string(pattern) + "/b c.wav", "foobar");
    writeFile(std::string(pattern) + "/a.x", "a");
    EXPECT_EQ(mediaManifestOf(pattern), "af63dc4c8601ec8c 1 a.x\n85944171f73967e8 6 b c.wav\n");
    std::filesystem::remove_all(pattern);
}

// A tree of random files and its manifest: every file passes, and each of
// thousands of random damages (a byte changed, bytes cut or added, the file
// gone, its manifest line cut short) fails that file and only that file.
TEST(MediaManifest, EveryDamageOfARandomTreeFailsItsFileOnly) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tarnwell-manifest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = std::string(pattern) + "/media";
    std::mt19937 random(21);
    std::vector<std::string> paths, contents;
    for (int i = 0; i < 40; ++i) {
        std::string bytes(random() % 300, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        paths.push_back(root + "/d" + std::to_string(i % 4) + "/s" + std::to_string(i % 3) + "/f" +
                        std::to_string(i) + (i % 2 ? ".wav" : ".x"));
        fs::create_directories(fs::path(paths.back()).parent_path());
        writeFile(paths.back(), bytes);
        contents.push_back(bytes);
    }
    const std::string text = mediaManifestOf(root);
    writeFile(root + "/" + MEDIA_MANIFEST_FILE, text);
    MediaManifest manifest;
    manifest.read(root);
    const auto intactBut = [&](size_t damaged) {
        for (size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(manifest.fileIntact(paths[i]), i != damaged) << paths[i];
        }
    };
    intactBut(paths.size());
    EXPECT_FALSE(manifest.fileIntact(root + "/" + MEDIA_MANIFEST_FILE));  // lists every file but itself
    EXPECT_FALSE(manifest.fileIntact(paths[0].substr(root.size() + 1)));  // not below the root

    for (int round = 0; round < 3000; ++round) {
        const size_t which = random() % paths.size();
        std::string bad = contents[which];
        const int kind = static_cast<int>(random() % 5);
        if (kind == 0 && !bad.empty()) {
            bad[random() % bad.size()] ^= static_cast<char>(1 + random() % 255);
        } else if (kind <= 1) {
            bad += static_cast<char>(random());
        } else if (kind == 2) {
            bad.resize(bad.empty() ? 1 : random() % bad.size());
        }
        if (kind == 3) {
            fs::remove(paths[which]);
        } else if (kind == 4) {
            // The file's line loses one character of its checksum, its size or
            // the spaces between them.
            const size_t line = text.find(" " + paths[which].substr(root.size() + 1) + "\n") + 1;
            const size_t start = text.rfind('\n', line) == std::string::npos ? 0 : text.rfind('\n', line) + 1;
            manifest.parse(root, std::string(text).erase(start + random() % (line - start), 1));
        } else {
            writeFile(paths[which], bad);
        }
        EXPECT_FALSE(manifest.fileIntact(paths[which]))
            << paths[which] << " round " << round << " kind " << kind;
        writeFile(paths[which], contents[which]);
        manifest.parse(root, text);
        if (round % 500 == 0) {
            intactBut(paths.size());
        }
    }
    fs::remove(root + "/" + MEDIA_MANIFEST_FILE);
    manifest.read(root);
    EXPECT_FALSE(manifest.fileIntact(paths[0]));
    fs::remove_all(pattern);
}

namespace {

struct HeaderCase {
    const char* file;  // in the generated media
    const char* path;  // the name the check sees
    enum { Sides, CutEnd, FirstByte, NoFrame } edit;
    uint32_t width, height;  // Sides; CutEnd: `width` bytes
    bool fits;
};

class MediaImageHeader : public testing::TestWithParam<HeaderCase> {};

}  // namespace

TEST_P(MediaImageHeader, FitsOnlyWithinTheMediaSizes) {
    const HeaderCase& c = GetParam();
    std::string bytes = readFile(std::string(TARNWELL_MEDIA_DIR) + "/" + c.file);
    ASSERT_GT(bytes.size(), 100u);
    const std::string jpegFrame("\xFF\xC0\x00\x11", 4);
    switch (c.edit) {
        case HeaderCase::Sides:
            clienttest::setImageSides(bytes, std::string(c.file).find(".png") != std::string::npos, c.width,
                                      c.height);
            break;
        case HeaderCase::CutEnd:
            bytes.resize(bytes.size() - c.width);
            break;
        case HeaderCase::FirstByte:
            bytes[0] ^= 0x40;
            break;
        case HeaderCase::NoFrame:
            bytes[bytes.find(jpegFrame) + 1] = '\xC4';  // a Huffman table where the frame was
            break;
    }
    EXPECT_EQ(mediaImageHeaderFits(c.path, bytes), c.fits);
}

constexpr uint32_t kMax = MEDIA_MAX_IMAGE_SIDE;

INSTANTIATE_TEST_SUITE_P(
    Edits, MediaImageHeader,
    testing::Values(
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, kMax, 1, true},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 1, kMax + 1, false},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 0, 512, false},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::CutEnd, 20, 0, true},  // header only
        HeaderCase{"graphics/sprites/shot1.png", "A.PNG", HeaderCase::FirstByte, 0, 0, false},
        HeaderCase{"graphics/sprites/shot1.png", "a.jpg", HeaderCase::CutEnd, 0, 0, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.JPG", HeaderCase::Sides, kMax, kMax, true},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, kMax + 1, 32, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, 128, 0, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::CutEnd, 1, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.jpg", HeaderCase::NoFrame, 0, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.jpg", HeaderCase::FirstByte, 0, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.wav", HeaderCase::CutEnd, 2000, 0, true}));

namespace {

// Every file of the generated media, the manifest first, met by every kind
// of damage in a copy of the tree.
struct DamagedFile {
    std::string file;  // below the media root
    testsupport::FileDamage damage;
};

void PrintTo(const DamagedFile& c, std::ostream* out) {
    *out << c.file << " " << testsupport::damageName(c.damage);
}

std::vector<std::string> mediaFiles() {
    std::vector<std::string> files{MEDIA_MANIFEST_FILE};
    std::istringstream lines(readFile(std::string(TARNWELL_MEDIA_DIR) + "/" + MEDIA_MANIFEST_FILE));
    for (std::string line; std::getline(lines, line);) {
        files.push_back(line.substr(line.find(' ', 17) + 1));
    }
    return files;
}

std::vector<DamagedFile> everyDamagedFile() {
    std::vector<DamagedFile> cases;
    for (const std::string& file : mediaFiles()) {
        for (const testsupport::FileDamage damage : testsupport::kEveryFileDamage) {
            cases.push_back(DamagedFile{file, damage});
        }
    }
    return cases;
}

class MediaFileDamage : public testing::TestWithParam<DamagedFile> {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/tarnwell-damage-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::copy(TARNWELL_MEDIA_DIR, folder + "/media", std::filesystem::copy_options::recursive);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder); }

    static std::string folder;
};

std::string MediaFileDamage::folder;

}  // namespace

// The check opens nothing but a regular file and reads no more than the
// listed size (the manifest no more than its own bound), so no damage stalls
// or grows it: each fails its file at once, in a child that has seconds to
// answer. A symbolic link to an intact copy passes. Damage to the manifest
// fails the files it lists (its last line stands for them).
TEST_P(MediaFileDamage, FailsAtOnceReadingNoMoreThanTheListedSize) {
    const DamagedFile& c = GetParam();
    const std::string root = folder + "/media";
    const std::string path = root + "/" + c.file;
    const bool ofManifest = c.file == MEDIA_MANIFEST_FILE;
    const std::string probe = ofManifest ? root + "/" + mediaFiles().back() : path;
    const std::string bytes = readFile(path);
    const uint64_t probeBytes = readFile(probe).size();
    MediaManifest manifest;
    manifest.read(root);
    testsupport::damageFile(path, bytes, c.damage);
    const int result = testsupport::runBounded(10, [&] {
        const uint64_t before = testsupport::bytesReadSoFar();
        if (ofManifest) {
            manifest.read(root);
        }
        const bool intact = manifest.fileIntact(probe);
        const uint64_t read = testsupport::bytesReadSoFar() - before;
        return (intact ? 1 : 0) | (read > (ofManifest ? bytes.size() : 0) + probeBytes + 4096 ? 2 : 0);
    });
    testsupport::restoreFile(path, bytes);
    EXPECT_NE(result, -1) << "the check hung";
    EXPECT_EQ(result & 1, c.damage == testsupport::FileDamage::Linked ? 1 : 0);
    EXPECT_EQ(result & 2, 0) << "read more than the listed size";
}

INSTANTIATE_TEST_SUITE_P(Media, MediaFileDamage, testing::ValuesIn(everyDamagedFile()),
                         [](const testing::TestParamInfo<DamagedFile>& info) {
                             std::string name = info.param.file + "_" + damageName(info.param.damage);
                             for (char& c : name) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

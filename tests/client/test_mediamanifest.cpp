// The media manifest and the image header check, without a device: published
// checksum vectors, a random tree whose every damage is caught, and a table of
// headers that lie.
#include "client/mediamanifest.h"

#include "MediaDamage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "FileTestUtils.h"

using testsupport::readFile;
using testsupport::writeFile;

TEST(MediaManifest, ChecksumIsFnv1a64) {
    EXPECT_EQ(mediaChecksum(""), 0xCBF29CE484222325ull);
    EXPECT_EQ(mediaChecksum("a"), 0xAF63DC4C8601EC8Cull);
    EXPECT_EQ(mediaChecksum("foobar"), 0x85944171F73967E8ull);
}

// A tree of random files and its manifest: every file passes, and every one
// of thousands of random damages (a byte changed, bytes cut or added, the
// file gone) fails that file and only that file.
TEST(MediaManifest, EveryDamageOfARandomTreeFailsItsFileOnly) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/tarnwell-manifest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = std::string(pattern) + "/media";
    std::mt19937 random(21);
    std::vector<MediaFile> files;
    std::vector<std::string> contents;
    for (int i = 0; i < 40; ++i) {
        std::string bytes(random() % 300, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        const std::string path = "d" + std::to_string(i % 4) + "/s" + std::to_string(i % 3) + "/f " +
                                 std::to_string(i) + (i % 2 ? ".wav" : ".x");
        fs::create_directories(fs::path(root + "/" + path).parent_path());
        writeFile(root + "/" + path, bytes);
        files.push_back({path, bytes.size(), mediaChecksum(bytes)});
        contents.push_back(bytes);
    }
    writeFile(root + "/" + MEDIA_MANIFEST_FILE, formatMediaManifest(files));
    MediaManifest manifest;
    manifest.read(root);
    const auto allIntactBut = [&](size_t damaged) {
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(manifest.fileIntact(root + "/" + files[i].path), i != damaged) << files[i].path;
        }
    };
    allIntactBut(files.size());
    EXPECT_FALSE(manifest.fileIntact(root + "/" + MEDIA_MANIFEST_FILE));  // lists every file but itself
    EXPECT_FALSE(manifest.fileIntact(files[0].path));                     // not below the root

    for (int round = 0; round < 3000; ++round) {
        const size_t which = random() % files.size();
        const std::string& good = contents[which];
        std::string bad = good;
        switch (random() % 4) {
            case 0:
                if (!good.empty()) {
                    bad[random() % good.size()] ^= static_cast<char>(1 + random() % 255);
                    break;
                }
                [[fallthrough]];
            case 1:
                bad += static_cast<char>(random());
                break;
            case 2:
                bad.resize(good.empty() ? 1 : random() % good.size());
                break;
            default:
                bad.clear();
                break;
        }
        const std::string full = root + "/" + files[which].path;
        if (bad.empty() && random() % 2 == 0) {
            fs::remove(full);
        } else {
            writeFile(full, bad);
        }
        EXPECT_FALSE(manifest.fileIntact(full)) << files[which].path << " round " << round;
        writeFile(full, good);
        if (round % 500 == 0) {
            allIntactBut(files.size());
        }
    }
    allIntactBut(files.size());
    fs::remove_all(pattern);
}

// An unreadable or missing manifest lists nothing; a line that does not
// parse drops its file only.
TEST(MediaManifest, MissingManifestOrItsBrokenLineFailsTheFiles) {
    char pattern[] = "/tmp/tarnwell-manifest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    writeFile(root + "/a.x", "mesh");
    writeFile(root + "/b.x", "other");
    MediaManifest manifest;
    manifest.read(root);
    EXPECT_FALSE(manifest.fileIntact(root + "/a.x"));
    std::string text =
        formatMediaManifest({{"a.x", 4, mediaChecksum("mesh")}, {"b.x", 5, mediaChecksum("other")}});
    manifest.parse(root, text);
    EXPECT_TRUE(manifest.fileIntact(root + "/a.x"));
    EXPECT_TRUE(manifest.fileIntact(root + "/b.x"));
    for (const size_t cut : {size_t{3}, size_t{16}, size_t{17}, size_t{19}, size_t{20}}) {
        std::string broken = text;
        broken.erase(cut, 1);  // inside the first line: the checksum, its space, the size, the path
        manifest.parse(root, broken);
        EXPECT_FALSE(manifest.fileIntact(root + "/a.x")) << cut;
        EXPECT_TRUE(manifest.fileIntact(root + "/b.x")) << cut;
    }
    std::filesystem::remove_all(root);
}

namespace {

struct HeaderCase {
    const char* file;  // in the generated media
    const char* path;  // the name the check sees
    enum { Sides, CutEnd, CutHalf, FirstByte, NoFrame } edit;
    uint32_t width, height;  // Sides; CutEnd: width bytes
    bool fits;
};

class MediaImageHeader : public testing::TestWithParam<HeaderCase> {};

}  // namespace

TEST_P(MediaImageHeader, FitsOnlyWithinTheMediaSizes) {
    const HeaderCase& c = GetParam();
    std::string bytes = readFile(std::string(TARNWELL_MEDIA_DIR) + "/" + c.file);
    ASSERT_GT(bytes.size(), 100u);
    const bool png = std::string(c.file).find(".png") != std::string::npos;
    switch (c.edit) {
        case HeaderCase::Sides:
            if (c.width != 0 || c.height != 0) {
                clienttest::setImageSides(bytes, png, c.width, c.height);
            }
            break;
        case HeaderCase::CutEnd:
            bytes.resize(bytes.size() - c.width);
            break;
        case HeaderCase::CutHalf:
            bytes.resize(bytes.size() / 2);
            break;
        case HeaderCase::FirstByte:
            bytes[0] ^= 0x40;
            break;
        case HeaderCase::NoFrame:
            bytes[bytes.find(std::string("\xFF\xC0\x00\x11", 4)) + 1] = '\xC4';
            break;
    }
    EXPECT_EQ(mediaImageHeaderFits(c.path, bytes), c.fits);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, MediaImageHeader,
    testing::Values(
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 0, 0, true},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, MEDIA_MAX_IMAGE_SIDE, 1, true},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 1, MEDIA_MAX_IMAGE_SIDE + 1, false},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 0, 512, false},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::Sides, 65536, 65536, false},
        HeaderCase{"graphics/hud/hud.png", "a.png", HeaderCase::CutEnd, 20, 0,
                   true},  // only the header counts
        HeaderCase{"graphics/sprites/shot1.png", "A.PNG", HeaderCase::FirstByte, 0, 0, false},
        HeaderCase{"graphics/sprites/shot1.png", "a.jpg", HeaderCase::Sides, 0, 0, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, 0, 0, true},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.JPG", HeaderCase::Sides, MEDIA_MAX_IMAGE_SIDE,
                   MEDIA_MAX_IMAGE_SIDE, true},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, MEDIA_MAX_IMAGE_SIDE + 1, 32,
                   false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, 128, 0, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::Sides, 65535, 65535, false},
        HeaderCase{"graphics/gui/menubutton.jpg", "a.jpg", HeaderCase::CutEnd, 1, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.jpg", HeaderCase::CutHalf, 0, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.jpg", HeaderCase::NoFrame, 0, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.jpg", HeaderCase::FirstByte, 0, 0, false},
        HeaderCase{"mesh/cockpit/cockpit.jpg", "a.wav", HeaderCase::CutHalf, 0, 0, true}));

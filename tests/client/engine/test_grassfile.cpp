// Grass files: what is written reads back bit for bit; what is broken reads
// as far as it is whole and sane, never more.
#include "GrassTestSupport.h"

#include <cstring>

using grasstest::vector3df;
using tarnwell::scene::GrassElement;
using tarnwell::scene::GrassFileReport;

namespace {

std::vector<irr::u8> bytesOf(std::FILE* file) {
    std::vector<irr::u8> bytes;
    std::rewind(file);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<irr::u8>(c));
    }
    return bytes;
}

std::FILE* fileWith(const std::vector<irr::u8>& bytes) {
    std::FILE* file = std::tmpfile();
    if (!bytes.empty()) {
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    }
    std::rewind(file);
    return file;
}

// Any finite float, denormals, zeros of both signs and the largest included.
irr::f32 anyFinite(std::mt19937& random) {
    for (;;) {
        const irr::u32 bits = random();
        irr::f32 value;
        std::memcpy(&value, &bits, sizeof(value));
        if (std::isfinite(value)) {
            return value;
        }
    }
}

GrassElement anyBlade(std::mt19937& random) {
    GrassElement blade;
    blade.topColor.color = random();
    blade.bottomColor.color = random();
    blade.position.set(anyFinite(random), anyFinite(random), anyFinite(random));
    blade.atlasColumn = static_cast<irr::s32>(random() % 4);
    blade.atlasRow = static_cast<irr::s32>(random() % 2);
    for (vector3df& corner : blade.corners) {
        corner.set(anyFinite(random), anyFinite(random), anyFinite(random));
    }
    blade.phase = anyFinite(random);
    return blade;
}

std::vector<irr::u8> countBytes(irr::u32 count) {
    return {static_cast<irr::u8>(count), static_cast<irr::u8>(count >> 8), static_cast<irr::u8>(count >> 16),
            static_cast<irr::u8>(count >> 24)};
}

// A sane blade whose record has one 32-bit field (at `offset`) replaced.
std::vector<irr::u8> recordWith(size_t offset, irr::u32 value) {
    std::mt19937 random(static_cast<unsigned>(offset));
    GrassElement blade = anyBlade(random);
    blade.atlasColumn = 0;
    blade.atlasRow = 0;
    std::vector<irr::u8> record = grasstest::recordOf(blade);
    const std::vector<irr::u8> field = countBytes(value);
    std::copy(field.begin(), field.end(), record.begin() + static_cast<long>(offset));
    return record;
}

constexpr irr::u32 kNaN = 0x7fc00000u;
constexpr irr::u32 kInfinity = 0x7f800000u;

}  // namespace

TEST(GrassFile, RoundTripsBitForBitInTheRecordLayout) {
    std::mt19937 random(1701);
    irr::core::array<GrassElement> blades;
    for (int i = 0; i < 500; ++i) {
        blades.push_back(anyBlade(random));
    }
    // The record is the struct's memory on this little-endian host.
    EXPECT_EQ(std::memcmp(grasstest::recordOf(blades[7]).data(), &blades[7], sizeof(GrassElement)), 0);

    std::FILE* file = std::tmpfile();
    ASSERT_TRUE(tarnwell::scene::writeGrassFile(file, blades));
    const std::vector<irr::u8> written = bytesOf(file);
    ASSERT_EQ(written.size(), 4u + 80u * 500u);
    EXPECT_EQ(std::vector<irr::u8>(written.begin(), written.begin() + 4), countBytes(500));

    std::rewind(file);
    irr::core::array<GrassElement> read;
    GrassFileReport report;
    ASSERT_TRUE(tarnwell::scene::readGrassFile(file, 4, 2, read, &report));
    std::fclose(file);
    EXPECT_EQ(report.declared, 500u);
    EXPECT_EQ(report.whole, 500u);
    EXPECT_EQ(report.refused, 0u);
    std::FILE* again = std::tmpfile();
    ASSERT_TRUE(tarnwell::scene::writeGrassFile(again, read));
    EXPECT_EQ(bytesOf(again), written);
    std::fclose(again);
    // A full disk is a failure, not a saved file.
    const irr::core::array<GrassElement>& many = read;
    const irr::core::array<GrassElement> none;  // all of it still in the stream's buffer
    for (const irr::core::array<GrassElement>* some : {&many, &none}) {
        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        EXPECT_FALSE(tarnwell::scene::writeGrassFile(full, *some));
        std::fclose(full);
    }
}

struct BrokenFile {
    const char* name;
    std::vector<std::vector<irr::u8>> pieces;         // concatenated
    bool read;                                        // a count could be read
    std::vector<std::pair<irr::s32, irr::s32>> kept;  // atlas cells of the kept blades
    irr::u32 refused;
};

class BrokenGrassFiles : public testing::TestWithParam<BrokenFile> {};

TEST_P(BrokenGrassFiles, GiveTheWholeSaneRecordsOnly) {
    std::vector<irr::u8> bytes;
    for (const std::vector<irr::u8>& piece : GetParam().pieces) {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    std::FILE* file = fileWith(bytes);
    irr::core::array<GrassElement> blades;
    blades.push_back(GrassElement{});
    GrassFileReport report;
    EXPECT_EQ(tarnwell::scene::readGrassFile(file, 4, 2, blades, &report), GetParam().read);
    std::fclose(file);
    ASSERT_EQ(blades.size(), GetParam().kept.size());
    // Room for the records present, not for the count claimed.
    EXPECT_LE(blades.allocated_size(), bytes.size() / 80 + 1);
    for (irr::u32 i = 0; i < blades.size(); ++i) {
        EXPECT_EQ(blades[i].atlasColumn, GetParam().kept[i].first) << i;
        EXPECT_EQ(blades[i].atlasRow, GetParam().kept[i].second) << i;
    }
    EXPECT_EQ(report.refused, GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenGrassFiles,
    testing::Values(
        BrokenFile{"Empty", {}, false, {}, 0}, BrokenFile{"HalfACount", {{1, 0}}, false, {}, 0},
        BrokenFile{"CountZero", {countBytes(0)}, true, {}, 0},
        BrokenFile{"CountFarBeyondTheBytes",
                   {countBytes(0xffffffffu), recordWith(20, 1), recordWith(20, 2)},
                   true,
                   {{1, 0}, {2, 0}},
                   0},
        BrokenFile{"TruncatedRecord",
                   {countBytes(3), recordWith(20, 3), recordWith(24, 1), std::vector<irr::u8>(40, 0)},
                   true,
                   {{3, 0}, {0, 1}},
                   0},
        BrokenFile{"TrailingBytes", {countBytes(1), recordWith(20, 2), recordWith(20, 3)}, true, {{2, 0}}, 0},
        BrokenFile{"NonFiniteFields",
                   {countBytes(5), recordWith(8, kNaN), recordWith(44, kInfinity), recordWith(76, kNaN),
                    recordWith(64, kInfinity | 0x80000000u), recordWith(20, 1)},
                   true,
                   {{1, 0}},
                   4},
        BrokenFile{"AtlasCellsOutOfTheAtlas",
                   {countBytes(3), recordWith(20, 0xffffffffu), recordWith(24, 9), recordWith(20, 99)},
                   true,
                   {{0, 0}, {0, 1}, {3, 0}},
                   0}),
    [](const testing::TestParamInfo<BrokenFile>& info) { return std::string(info.param.name); });

#include "client/inifile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "FileTestUtils.h"

using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::string testFile() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("inifile_") + info->test_suite_name() + "_" + info->name() + ".ini";
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

// Values as text, so that one table holds every type.
std::string show(int32_t value) {
    return std::to_string(value);
}

std::string show(float value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%f", static_cast<double>(value));
    return text;
}

std::string show(const irr::core::vector3df& value) {
    char text[128];
    std::snprintf(text, sizeof(text), "%g,%g,%g", static_cast<double>(value.X), static_cast<double>(value.Y),
                  static_cast<double>(value.Z));
    return text;
}

std::string show(irr::video::SColor value) {
    return std::to_string(value.getRed()) + "," + std::to_string(value.getGreen()) + "," +
           std::to_string(value.getBlue()) + "," + std::to_string(value.getAlpha());
}

constexpr const char* G = "GeneralGraphics";
using Getter = std::function<std::string(IniFile&)>;

const Getter device = [](IniFile& ini) { return ini.getString(G, "Device", "DirectX9"); };
const Getter resolutionX = [](IniFile& ini) { return show(ini.getInt(G, "ResolutionX", 1024)); };
const Getter fogStart = [](IniFile& ini) { return show(ini.getFloat(G, "FogStart", 10.0f)); };
const Getter offset = [](IniFile& ini) {
    return show(ini.getVector3(G, "Offset", irr::core::vector3df(1.0f, 2.0f, 3.0f)));
};
const Getter fogColor = [](IniFile& ini) {
    return show(ini.getColor(G, "FogColor", irr::video::SColor(255, 0, 8, 16)));
};

// A getter on a file holding one line of [GeneralGraphics]: what it returns
// and what the file holds after.
struct RepairCase {
    const char* name;
    std::string line;  // empty: no file
    Getter get;
    std::string value;
    std::string after;  // the line after the call; empty: as before
};

void PrintTo(const RepairCase& c, std::ostream* os) {
    *os << c.name;
}

class IniFileRepair : public testing::TestWithParam<RepairCase> {};

TEST_P(IniFileRepair, ReturnsAndRepairs) {
    const RepairCase& c = GetParam();
    const std::string path = testFile();
    unlink(path.c_str());
    if (!c.line.empty()) {
        writeFile(path, "[GeneralGraphics]\n" + c.line + "\n");
    }
    const std::string after = "[GeneralGraphics]\n" + (c.after.empty() ? c.line : c.after) + "\n";
    IniFile ini(path.c_str());
    EXPECT_EQ(c.get(ini), c.value);
    EXPECT_EQ(readFile(path), after);
    // Once repaired, the value is usable and the file stays.
    EXPECT_EQ(c.get(ini), c.value);
    EXPECT_EQ(readFile(path), after);
}

const RepairCase kRepairCases[] = {
    {"TextMissingFileGetsTheDefault", "", device, "DirectX9", "Device=DirectX9"},
    {"TextKeptAsItIs", "Device = \"OpenGL\" ", device, "OpenGL", ""},
    {"TextEmptyQuotesRepaired", "Device=\"\"", device, "DirectX9", "Device=DirectX9"},
    {"TextCutToItsBuffer", "Device=" + std::string(3000, 'x'), device, std::string(2079, 'x'), ""},
    {"IntMissingKeyAdded", "Device=OpenGL", resolutionX, "1024", "Device=OpenGL\nResolutionX=1024"},
    {"IntEmptyRepaired", "ResolutionX=", resolutionX, "1024", "ResolutionX=1024"},
    {"IntLeadingNumber", "ResolutionX= -800x600", resolutionX, "-800", ""},
    {"IntNotANumberIsZeroAndKept", "ResolutionX=abc", resolutionX, "0", ""},
    {"IntBeyond32BitsClamped", "ResolutionX=99999999999", resolutionX, "2147483647", ""},
    {"IntCutToItsBuffer", "ResolutionX=0000000000000000000012", resolutionX, "0", ""},
    {"FloatNotANumberIsZeroAndKept", "FogStart=abc", fogStart, "0.000000", ""},
    {"FloatEmptyGetsSixDecimals", "FogStart=", fogStart, "10.000000", "FogStart=10.000000"},
    {"FloatBeyondRangeIsInfinite", "FogStart=1e999", fogStart, "inf", ""},
    {"FloatCutToItsBuffer", "FogStart=" + std::string(99, '0') + "7", fogStart, "0.000000", ""},
    {"VectorTrailingTextIgnored", "Offset=1.5, -2,3xyz", offset, "1.5,-2,3", ""},
    {"VectorOnlyAboveTheLimitIsInvalid", "Offset=1e15,0,-2e16", offset, "1e+15,0,-2e+16", ""},
    {"VectorThirdAboveTheLimitReplaced", "Offset=1,2,2e16", offset, "1,2,3",
     "Offset=1.000000,2.000000,3.000000"},
    {"VectorOverflowReplaced", "Offset=1,2,1e999", offset, "1,2,3", "Offset=1.000000,2.000000,3.000000"},
    {"VectorTwoNumbersReplaced", "Offset=7,8", offset, "1,2,3", "Offset=1.000000,2.000000,3.000000"},
    {"ColorTrailingTextAccepted", "FogColor=1, 2, 3, 4 and more", fogColor, "1,2,3,4", ""},
    {"ColorThreeNumbersReplaced", "FogColor=0,8,16", fogColor, "0,8,16,255", "FogColor=0,8,16,255"},
    {"ColorChannelsOf255Kept", "FogColor=255,255,255,255", fogColor, "255,255,255,255", ""},
    {"Color256Replaced", "FogColor=0,8,256,255", fogColor, "0,8,16,255", "FogColor=0,8,16,255"},
    {"ColorAbove255Replaced", "FogColor=0,8,300,255", fogColor, "0,8,16,255", "FogColor=0,8,16,255"},
    {"ColorNegativeReplaced", "FogColor=-1,8,16,255", fogColor, "0,8,16,255", "FogColor=0,8,16,255"},
    {"ColorPast32BitsDoesNotWrap", "FogColor=0,8,16,4294967551", fogColor, "0,8,16,255",
     "FogColor=0,8,16,255"},
    {"ColorSpaceBeforeCommaReplaced", "FogColor=1 ,2,3,4", fogColor, "0,8,16,255", "FogColor=0,8,16,255"},
};

INSTANTIATE_TEST_SUITE_P(Values, IniFileRepair, testing::ValuesIn(kRepairCases),
                         [](const testing::TestParamInfo<RepairCase>& info) { return info.param.name; });

TEST(IniFile, SettersWriteTheirFormatsAndGettersReadThemBack) {
    const std::string path = testFile();
    writeFile(path, "; settings\n[GeneralGraphics]\nDevice=x\n");
    IniFile ini(path.c_str());
    ini.setString(G, "device", "OpenGL");
    ini.setInt(G, "ResolutionX", -800);
    ini.setFloat(G, "FogStart", 10.0f);
    ini.setVector3(G, "Offset", irr::core::vector3df(1.0f, 2.5f, -3.0f));
    ini.setColor(G, "FogColor", irr::video::SColor(0, 1, 2, 3));
    EXPECT_EQ(readFile(path),
              "; settings\n[GeneralGraphics]\nDevice=OpenGL\nResolutionX=-800\nFogStart=10.000000\n"
              "Offset=1.000000,2.500000,-3.000000\nFogColor=1,2,3,0\n");
    EXPECT_EQ(
        device(ini) + " " + resolutionX(ini) + " " + fogStart(ini) + " " + offset(ini) + " " + fogColor(ini),
        "OpenGL -800 10.000000 1,2.5,-3 1,2,3,0");
    // Nothing is cached: a change to the file shows in the next read.
    writeFile(path, "[GeneralGraphics]\nResolutionX=1280\n");
    EXPECT_EQ(ini.getInt(G, "ResolutionX", 1024), 1280);
}

TEST(IniFile, FailuresGiveDefaultsQuietly) {
    const std::string path = testFile();
    writeFile(path, "[GeneralGraphics]\nResolutionX=800\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    IniFile readOnly(path.c_str());
    EXPECT_EQ(resolutionX(readOnly), "800");
    EXPECT_EQ(readOnly.getInt(G, "ResolutionY", 768), 768);
    EXPECT_EQ(fogColor(readOnly), "0,8,16,255");
    readOnly.setInt(G, "ResolutionX", 1);
    EXPECT_EQ(readFile(path), "[GeneralGraphics]\nResolutionX=800\n");
    chmod(path.c_str(), 0644);

    IniFile nowhere(nullptr);
    EXPECT_EQ(device(nowhere), "DirectX9");
    EXPECT_EQ(nowhere.getString(G, "Device", nullptr), "");
    EXPECT_EQ(offset(nowhere), "1,2,3");
}

}  // namespace

// Start-up's ini handling and the game-state loop on the scripted device:
// the window modes and devices an ini file can ask for, the defaults written,
// and the loop's ways out (END, a closed window), its pause while the window
// is inactive, a game that cannot start and a menu that cannot start.
#include "FileTestUtils.h"
#include "GameStateRig.h"

#include "client/globals.h"
#include "client/startup.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

using clienttest::StateRig;

namespace {

// The log's state lines in order, without stamps.
std::vector<std::string> stateLines(const std::string& log) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < log.size()) {
        const size_t end = log.find('\n', at);
        std::string line = log.substr(at, end - at);
        at = end == std::string::npos ? log.size() : end + 1;
        const size_t text = line.find(": ");
        line = text == std::string::npos ? line : line.substr(text + 2);
        if (line.rfind("Enter gamestate", 0) == 0 || line.rfind("Game initialization failed", 0) == 0 ||
            line == "The window was closed" || line == "The game menu could not start") {
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace

TEST(StartupIni, ModesDevicesAndDefaultsAsTheFileAsks) {
    struct Case {
        const char* ini;  // the [GeneralGraphics] lines
        int32_t width;
        int32_t height;
        bool fullscreen;
        const char* keptLine;  // a line the file still holds afterwards
    };
    const Case cases[] = {
        {"ResolutionX=800\nResolutionY=768\nWindowedMode=1\n", 800, 600, false, "ResolutionY=768"},
        {"ResolutionX=1280\nResolutionY=1024\n", 1024, 768, true, "ResolutionX=1280"},
        {"ResolutionX=1024\nResolutionY=600\nWindowedMode=0\n", 1024, 768, true, "ResolutionY=600"},
        {"ResolutionX=abc\nWindowedMode=2\nDevice=opengl\n", 1024, 768, false, "Device=opengl"},
        {"Device=OpenGL\n", 1024, 768, true, "Device=OpenGL"},
        {"", 1024, 768, true, "Device=DirectX9"},
    };
    char name[] = "/tmp/tarnwell-startup-XXXXXX";
    close(mkstemp(name));
    const std::string path = name;
    for (const Case& c : cases) {
        testsupport::writeFile(path, std::string("[GeneralGraphics]\n") + c.ini);
        IniFile ini(path.c_str());
        const StartupSettings settings = readStartupSettings(ini);
        EXPECT_EQ(settings.driver, irr::video::EDT_OPENGL) << c.ini;
        EXPECT_EQ(settings.resolutionX, c.width) << c.ini;
        EXPECT_EQ(settings.resolutionY, c.height) << c.ini;
        EXPECT_EQ(globals.resolutionX, c.width) << c.ini;
        EXPECT_EQ(globals.resolutionY, c.height) << c.ini;
        EXPECT_EQ(settings.fullscreen, c.fullscreen) << c.ini;
        const std::string written = testsupport::readFile(path);
        EXPECT_NE(written.find(c.keptLine), std::string::npos) << written;
        // Every value start-up reads is there afterwards, the defaults for
        // those the file lacked.
        for (const char* key : {"Device=", "ResolutionX=", "ResolutionY=", "WindowedMode=", "IP=", "Port="}) {
            EXPECT_NE(written.find(key), std::string::npos) << key << " in\n" << written;
        }
    }
    std::remove(path.c_str());
    IniFile fresh(path.c_str());
    readStartupSettings(fresh);
    EXPECT_EQ(globals.serverAddress, "127.0.0.1");
    EXPECT_EQ(globals.serverPort, "7988");
    EXPECT_EQ(testsupport::readFile(path),
              "[GeneralGraphics]\nDevice=DirectX9\nResolutionX=1024\nResolutionY=768\nWindowedMode=0\n"
              "[Server]\nIP=127.0.0.1\nPort=7988\n");
    std::remove(path.c_str());
    globals = GameGlobals{};
}

namespace {

struct Setting {
    std::string section;
    std::string key;
    std::string value;
    bool operator==(const Setting& other) const {
        return section == other.section && key == other.key && value == other.value;
    }
};

std::ostream& operator<<(std::ostream& out, const Setting& s) {
    return out << "[" << s.section << "] " << s.key << "=" << s.value;
}

// The file's key lines in order, each with its section.
std::vector<Setting> settingsIn(const std::string& text) {
    std::vector<Setting> settings;
    std::string section;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t equals = line.find('=');
        if (!line.empty() && line.front() == '[') {
            section = line.substr(1, line.find(']') - 1);
        } else if (equals != std::string::npos) {
            settings.push_back({section, line.substr(0, equals), line.substr(equals + 1)});
        }
    }
    return settings;
}

// Every setting the README lists, with its default as the file holds it
// after the first start, in start-up's order.
const std::vector<Setting> kDefaults = {
    {"GeneralGraphics", "Device", "DirectX9"},
    {"GeneralGraphics", "ResolutionX", "1024"},
    {"GeneralGraphics", "ResolutionY", "768"},
    {"GeneralGraphics", "WindowedMode", "0"},
    {"GeneralGraphics", "FogColor", "0,8,16,255"},
    {"GeneralGraphics", "FogIsLinear", "True"},
    {"GeneralGraphics", "FogStart", "10.000000"},
    {"GeneralGraphics", "FogEnd", "250.000000"},
    {"GeneralGraphics", "FogDensity", "1.000000"},
    {"GeneralGraphics", "ClsColor", "0,24,64,255"},  // the menu's, shown first
    {"GeneralGraphics", "TerrainTextureScale1", "40.000000"},
    {"GeneralGraphics", "TerrainTextureScale2", "80.000000"},
    {"Server", "IP", "127.0.0.1"},
    {"Server", "Port", "7988"},
    {"Controls", "KeyMaxThrustForward", "A"},
    {"Controls", "KeyMaxThrustBackward", "Y"},
    {"Controls", "KeyIncreaseMainThrust", "PLUS"},
    {"Controls", "KeyDecreaseMainThrust", "MINUS"},
    {"Controls", "KeyResetMainThrust", "BACK"},
    {"Controls", "KeyEngineSwitch", "GRAVE"},
    {"Controls", "KeyRollLeft", "LEFT"},
    {"Controls", "KeyRollRight", "RIGHT"},
    {"Controls", "KeyPitchUp", "UP"},
    {"Controls", "KeyPitchDown", "DOWN"},
    {"Controls", "KeyYawLeft", "Q"},
    {"Controls", "KeyYawRight", "E"},
    {"Controls", "KeySteeringLeft", "S"},
    {"Controls", "KeySteeringRight", "D"},
    {"Controls", "KeySteeringUp", "R"},
    {"Controls", "KeySteeringDown", "F"},
    {"Controls", "KeySelectNextTarget", "T"},
    {"Controls", "KeyFireMainWeapon", "SPACE"},
    {"Controls", "KeyFireTorpedoWeapon", "TAB"},
    {"Controls", "KeyLightSwitch", "L"},
    {"Controls", "MouseInverted", "0"},
};

}  // namespace

// Start-up writes every setting before the menu, not only those it reads
// itself: a first run that never enters a game leaves them all. What the
// user set stays, unusable text included; only an unusable colour goes.
TEST(StartupIni, FirstStartWritesEverySettingAndKeepsTheUsersValues) {
    char name[] = "/tmp/tarnwell-startup-XXXXXX";
    close(mkstemp(name));
    const std::string path = name;
    std::vector<Setting> userSet = {{"GeneralGraphics", "FogStart", "abc"},
                                    {"GeneralGraphics", "ClsColor", "1,2,3,4"},
                                    {"Controls", "KeyFireMainWeapon", "F"},
                                    {"Controls", "MouseInverted", "1"}};
    for (const bool fresh : {true, false}) {
        std::remove(path.c_str());
        if (!fresh) {
            testsupport::writeFile(path, "[GeneralGraphics]\nFogStart=abc\nClsColor=1,2,3,4\nFogColor=0,8,300,255\n"
                                         "[Controls]\nKeyFireMainWeapon=F\nMouseInverted=1\n");
        }
        IniFile ini(path.c_str());
        readStartupSettings(ini);
        writeSettingDefaults(ini);
        std::vector<Setting> written = settingsIn(testsupport::readFile(path));
        ASSERT_EQ(written.size(), kDefaults.size()) << testsupport::readFile(path);
        for (const Setting& expected : kDefaults) {
            Setting wanted = expected;
            for (const Setting& user : userSet) {
                if (!fresh && user.section == wanted.section && user.key == wanted.key) {
                    wanted = user;
                }
            }
            EXPECT_NE(std::find(written.begin(), written.end(), wanted), written.end()) << wanted;
        }
        if (fresh) {
            EXPECT_EQ(written, kDefaults);
        }
    }
    std::remove(path.c_str());
    globals = GameGlobals{};
}

TEST(StartupIni, PathIsTheWorkingDirectoryOrDotWhenItDoesNotFit) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    EXPECT_EQ(iniFilePath(), std::string(cwd) + "/tarnwell.ini");
    const size_t fits = std::string(cwd).size() + 1 + std::string("/tarnwell.ini").size();
    EXPECT_EQ(iniFilePath(fits), std::string(cwd) + "/tarnwell.ini");
    EXPECT_EQ(iniFilePath(fits - 1), "./tarnwell.ini");
    EXPECT_EQ(iniFilePath(0), "./tarnwell.ini");
}

TEST(StateLoop, ClosedWindowEndsAsEndDoesFromEitherState) {
    for (const bool inGame : {false, true}) {
        StateRig rig;
        // Three menu frames (then into the game when asked), five game
        // frames, then the window is gone.
        rig.harness.onFrame([&](int32_t frame) {
            if (inGame && frame == 2) {
                rig.clickButton(EventReceiver::LOGIN_BUTTON_ID);
            }
        });
        rig.harness.allowFrames(inGame ? 8 : 3);
        runStateLoop(rig.game, rig.menu, L"caption");
        EXPECT_EQ(globals.gameState, GS_END);
        const std::vector<std::string> expected =
            inGame ? std::vector<std::string>{"Enter gamestate: MENU", "Enter gamestate: GAME RUN",
                                              "The window was closed"}
                   : std::vector<std::string>{"Enter gamestate: MENU", "The window was closed"};
        EXPECT_EQ(stateLines(rig.harness.logText()), expected);
        rig.expectNothingPerState();
    }
}

TEST(StateLoop, InactiveWindowReentersAfterAPauseUntilActiveAndExitEndsIt) {
    StateRig rig;
    // Each inactive entry reads the window's state twice: its loop ends on
    // the first, the state loop pauses on the second.
    rig.harness.deactivateWindow(6);
    rig.harness.onFrame([&](int32_t frame) {
        if (frame == 9) {
            rig.clickButton(EventReceiver::EXIT_BUTTON_ID);
        }
    });
    rig.harness.allowFrames(100);
    runStateLoop(rig.game, rig.menu, L"caption");
    // Each inactive entry ends at once and the next waits 100 ms; then the
    // menu runs until its exit button ends the program (no window closed).
    EXPECT_EQ(stateLines(rig.harness.logText()),
              std::vector<std::string>(4, "Enter gamestate: MENU"));
    EXPECT_EQ(rig.harness.clock().sleeps(), std::vector<uint32_t>(3, INACTIVE_WINDOW_PAUSE_MS));
    // Two device runs per inactive entry (its loop's and the state loop's
    // check for a closed window), three menu frames, and the run that saw
    // the click.
    EXPECT_EQ(rig.harness.framesRun(), 2 * 3 + 3 + 1);
    rig.expectNothingPerState();
}

TEST(StateLoop, GameThatCannotStartIsTornDownAndTheMenuComesBack) {
    StateRig rig;
    rig.game.failTerrain = true;
    rig.harness.onFrame([&](int32_t frame) {
        if (frame == 1) {
            rig.clickButton(EventReceiver::LOGIN_BUTTON_ID);
        }
        if (frame == 4) {
            rig.clickButton(EventReceiver::EXIT_BUTTON_ID);
        }
    });
    rig.harness.allowFrames(100);
    runStateLoop(rig.game, rig.menu, L"caption");
    const std::string failure = "Game initialization failed: terrain; back to the menu";
    EXPECT_EQ(stateLines(rig.harness.logText()),
              (std::vector<std::string>{"Enter gamestate: MENU", "Enter gamestate: GAME RUN", failure,
                                        "Enter gamestate: MENU"}));
    // The failed game ran no frame: the menu's two, then the second menu's.
    EXPECT_EQ(rig.harness.framesRun(), 5);
    rig.expectNothingPerState();
}

TEST(StateLoop, MenuThatCannotStartEndsTheProgram) {
    StateRig rig;
    rig.menu.failScene = true;
    rig.harness.allowFrames(100);
    runStateLoop(rig.game, rig.menu, L"caption");
    EXPECT_EQ(globals.gameState, GS_END);
    EXPECT_EQ(stateLines(rig.harness.logText()),
              (std::vector<std::string>{"Enter gamestate: MENU", "The game menu could not start"}));
    EXPECT_EQ(rig.harness.framesRun(), 0);
    rig.expectNothingPerState();
}

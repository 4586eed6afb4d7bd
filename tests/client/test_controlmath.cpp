// The controls' arithmetic without a device: the key-name table against the
// codes the bindings are documented with, the dead zone, the mouse terms in
// integers, the thrust rules and the guns' turns.
#include "client/controlmath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

struct NamedCode {
    std::string name;
    int32_t code;
};

// Every key name with its virtual-key code, written out from the bindings'
// documentation.
std::vector<NamedCode> documentedKeys() {
    std::vector<NamedCode> keys = {
        {"BACK", 0x08},        {"TAB", 0x09},         {"CLEAR", 0x0C},       {"RETURN", 0x0D},
        {"SHIFT", 0x10},       {"CONTROL", 0x11},     {"PAUSE", 0x13},       {"SPACE", 0x20},
        {"PAGEUP", 0x21},      {"PAGEDOWN", 0x22},    {"END", 0x23},         {"HOME", 0x24},
        {"LEFT", 0x25},        {"UP", 0x26},          {"RIGHT", 0x27},       {"DOWN", 0x28},
        {"INSERT", 0x2D},      {"DELETE", 0x2E},      {"LEFTWINDOWS", 0x5B}, {"RIGHTWINDOWS", 0x5C},
        {"MULTIPLY", 0x6A},    {"ADD", 0x6B},         {"SEPARATOR", 0x6C},   {"SUBTRACT", 0x6D},
        {"DECIMAL", 0x6E},     {"DIVIDE", 0x6F},      {"NUMLOCK", 0x90},     {"SCROLL", 0x91},
        {"SHIFTLEFT", 0xA0},   {"SHIFTRIGHT", 0xA1},  {"CONTROLLEFT", 0xA2}, {"CONTROLRIGHT", 0xA3},
        {"MENULEFT", 0xA4},    {"MENURIGHT", 0xA5},   {"PLUS", 0xBB},        {"COMMA", 0xBC},
        {"MINUS", 0xBD},       {"PERIOD", 0xBE},      {"GRAVE", 0xDC},
    };
    for (int i = 0; i < 26; ++i) keys.push_back({std::string(1, char('A' + i)), 0x41 + i});
    for (int i = 0; i < 10; ++i) {
        keys.push_back({std::string(1, char('0' + i)), 0x30 + i});
        keys.push_back({"NUMPAD" + std::to_string(i), 0x60 + i});
    }
    for (int i = 1; i <= 12; ++i) keys.push_back({"F" + std::to_string(i), 0x6F + i});
    return keys;
}

}  // namespace

TEST(KeyNames, NinetySevenNamesGiveTheirCodesAndNothingElseDoes) {
    const std::vector<NamedCode> keys = documentedKeys();
    std::set<std::string> names;
    for (const NamedCode& key : keys) {
        EXPECT_EQ(keyNameToKeyCode(key.name), key.code) << key.name;
        names.insert(key.name);
    }
    EXPECT_EQ(names.size(), 97u);

    // Exact matches only: case, blanks, neighbours of the ranges.
    for (const char* other : {"", "a", "grave", " A", "A ", "TAB\n", "F0", "F13", "F01", "NUMPAD10",
                              "NUMPAD", "ESCAPE", "AB", "0x41", "SHIFT_L"}) {
        EXPECT_EQ(keyNameToKeyCode(other), 0) << '"' << other << '"';
    }
    // Every one-letter and two-letter text outside the table gives 0.
    for (int a = 1; a < 128; ++a) {
        for (int b = 0; b < 128; ++b) {
            std::string text(1, char(a));
            if (b > 0) text += char(b);
            if (names.count(text) == 0) {
                ASSERT_EQ(keyNameToKeyCode(text), 0) << text;
            }
        }
    }
}

TEST(JoystickDeadZone, BelowATenthIsZero) {
    struct Case {
        float in, out;
    };
    const Case cases[] = {{0.09f, 0},    {-0.09f, 0},  {0.0999f, 0}, {0.1f, 0.1f}, {-0.1f, -0.1f},
                          {0.5f, 0.5f},  {-1, -1},     {1, 1},       {0, 0},
                          {std::numeric_limits<float>::quiet_NaN(), 0}, {std::numeric_limits<float>::infinity(), 0}};
    for (const Case& c : cases) EXPECT_EQ(applyDeadZone(c.in), c.out) << c.in;
}

// At 800 × 600 the roll reaches full scale 360 pixels from the centre line,
// the pitch 270; beyond that the mouse is clamped. Integer halves: at 1023
// pixels h = 511 and r = 460.
TEST(MouseSteering, FullScaleAtNineTenthsOfTheHalfWindowAndIntegerHalves) {
    struct Case {
        int32_t extent, position;
        bool towardCentre;
        float expected;  // in units of the scale 8000
    };
    const Case cases[] = {
        {800, 400, true, 0},         {800, 40, true, 1},         {800, 0, true, 1},
        {800, 799, true, -1},        {800, 580, true, -0.5f},    {800, 401, true, -1 / 360.0f},
        {600, 570, false, 1},        {600, 570, true, -1},       {600, 300 - 135, false, -0.5f},
        {1023, 512, false, 1 / 460.0f}, {1, 0, true, 0},         {0, 5, true, 0},
        {800, std::numeric_limits<int32_t>::min(), true, 1},   {800, std::numeric_limits<int32_t>::max(), false, 1},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(mouseSteering(c.extent, c.position, c.towardCentre, 8000.0f), c.expected * 8000.0f)
            << c.extent << " " << c.position;
    }
}

// With the game's limits -500 and 1000 (the key sequences run over the real
// receiver in the control tests).
TEST(ThrustRules, KeptLevelStepsAndStaysWithinTheLimits) {
    ThrustControls frame;
    for (const bool up : {true, false}) {  // ten steps reach each limit
        float level = 0;
        frame.increase = up;
        frame.decrease = !up;
        for (int i = 1; i <= 11; ++i) {
            const ThrustResult r = thrustStep(level, frame, -500.0f, 1000.0f);
            EXPECT_FLOAT_EQ(r.thrust, up ? std::min(100.0f * i, 1000.0f) : std::max(-50.0f * i, -500.0f));
            level = r.mainThrust;
        }
    }
    struct Case {
        float level, throttle, thrust;
    };
    const Case cases[] = {{0, -0.5f, -250}, {-400, -1, -500}, {500, 1, 1000}, {200, 0.5f, 700}};
    for (const Case& c : cases) {
        frame = ThrustControls{};
        frame.throttle = c.throttle;
        const ThrustResult r = thrustStep(c.level, frame, -500.0f, 1000.0f);
        EXPECT_FLOAT_EQ(r.thrust, c.thrust) << c.level << " " << c.throttle;
        EXPECT_FLOAT_EQ(r.mainThrust, c.level);
    }
}

TEST(GunTurns, EightyMillisecondsApartAcrossTheWrapAndGunsInTurn) {
    EXPECT_FALSE(gunReady(1079, 1000));
    EXPECT_TRUE(gunReady(1080, 1000));
    EXPECT_FALSE(gunReady(10, 0xFFFFFFC0u));  // 74 ms across the wrap
    EXPECT_TRUE(gunReady(16, 0xFFFFFFC0u));
    EXPECT_TRUE(gunReady(100000, 0));  // the first shot of a game

    struct Case {
        std::vector<int32_t> kinds;
        int32_t last, next;
    };
    const Case cases[] = {
        {{0, 0, 1}, -1, 0}, {{0, 0, 1}, 0, 1}, {{0, 0, 1}, 1, 0}, {{0, 0, 1}, 2, 0},
        {{1, 0, 0}, 1, 2},  {{0, 1}, 0, -1},   {{1}, -1, -1},     {{}, -1, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(nextGunInTurn(c.kinds, c.last), c.next) << c.last;
}

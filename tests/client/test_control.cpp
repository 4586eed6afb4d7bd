// The controls over the real input receiver with synthetic engine events,
// the game's four ships and the scripted clock: thrust levels, the engine
// switch, mouse and joystick terms, the guns' turns every 80 ms, the one-shot
// keys, the menu and the bindings read from the ini file.
#include "GameLoopHarness.h"
#include "ShipTestSupport.h"

#include "FileTestUtils.h"
#include "client/control.h"
#include "client/eventreceiver.h"
#include "client/inifile.h"
#include "client/weapon.h"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <memory>
#include <vector>

using irr::core::vector3df;
using shiptest::Fleet;

namespace {

// Helpers are public: the tables' lambdas drive them through a reference.
class Controls : public testing::Test {
public:
    void SetUp() override {
        harness.loadResources();
        globals.eventReceiver = input.get();
        globals.resolutionX = 800;
        globals.resolutionY = 600;
        globals.gameState = GS_GAME_RUN;
        fleet = std::make_unique<Fleet>();
        player = globals.playerShip;
    }
    void TearDown() override {
        fleet.reset();
        globals.eventReceiver = nullptr;
    }

    void key(int32_t code, bool down) { input->OnEvent(clienttest::keyEvent(code, down)); }
    void mouse(irr::EMOUSE_INPUT_EVENT kind, int32_t x = 0, int32_t y = 0) {
        input->OnEvent(clienttest::mouseEvent(kind, x, y));
    }
    // Raw positions: 32767 is the centre, 49151 gives +0.5, 16383 -0.5.
    void stick(uint32_t x, uint32_t y, uint32_t throttle, uint32_t rudder) {
        JoystickEvent e;
        e.kind = JoystickEvent::MOVED;
        e.X = x;
        e.Y = y;
        e.Z = throttle;
        e.R = rudder;
        input->onJoystickEvent(e);
    }
    void button(uint8_t number, bool down) {
        JoystickEvent e;
        e.kind = down ? JoystickEvent::PRESSED : JoystickEvent::RELEASED;
        e.button = number;
        input->onJoystickEvent(e);
    }
    void frame(uint32_t ms = 20) {
        harness.clock().advance(ms);
        control->update();
    }

    GameLoopHarness harness;
    std::unique_ptr<EventReceiver> input = std::make_unique<EventReceiver>();
    std::unique_ptr<Fleet> fleet;
    std::unique_ptr<Control> control = std::make_unique<Control>(false);
    Ship* player = nullptr;
};

using C = Controls;
constexpr uint32_t kCentre = 32767;

}  // namespace

// Frame by frame with the default keys: each row's events, then one frame.
TEST_F(Controls, ThrustLevelsTheEngineSwitchAndTheThrottle) {
    struct Step {
        const char* what;
        std::vector<std::pair<int32_t, bool>> keys;
        uint32_t throttle;
        float thrust, kept;
        bool engineOn;
    };
    const int32_t plus = irr::KEY_PLUS, minus = irr::KEY_MINUS, back = irr::KEY_BACK, grave = irr::KEY_OEM_5;
    const Step steps[] = {
        {"plus", {{plus, true}}, kCentre, 100, 100, true},
        {"held without a new event", {}, kCentre, 100, 100, true},
        {"auto-repeat", {{plus, true}}, kCentre, 200, 200, true},
        {"reset wins over plus", {{plus, true}, {back, true}}, kCentre, 0, 0, true},
        {"reset held", {{back, true}, {plus, false}}, kCentre, 0, 0, true},
        {"minus", {{back, false}, {minus, true}}, kCentre, -50, -50, true},
        {"forward held", {{minus, false}, {'A', true}}, kCentre, 1000, -50, true},
        {"backward wins", {{'Y', true}}, kCentre, -500, -50, true},
        {"both released", {{'A', false}, {'Y', false}}, kCentre, -50, -50, true},
        {"half throttle", {}, 49151, 450, -50, true},
        {"plus on half throttle keeps it", {{plus, true}, {plus, false}, {plus, true}}, 49151, 550, 550, true},
        {"throttle 0.09 is dead", {{plus, false}}, kCentre + 2949, 550, 550, true},
        {"engine off: this frame the old level", {{grave, true}, {'A', true}}, kCentre, 550, 0, false},
        {"then nothing moves it", {{plus, true}}, 65535, 0, 0, false},
        {"engine on: a pending plus acts", {{grave, false}, {grave, true}, {'A', false}}, kCentre, 100, 100, true},
        {"held switch: no toggle", {}, kCentre, 100, 100, true},
    };
    for (const Step& step : steps) {
        for (const auto& [code, down] : step.keys) key(code, down);
        stick(kCentre, kCentre, step.throttle, kCentre);
        frame();
        EXPECT_FLOAT_EQ(player->getThrustInput().Z, step.thrust) << step.what;
        EXPECT_FLOAT_EQ(control->getMainThrust(), step.kept) << step.what;
        EXPECT_EQ(player->isEngineOn(), step.engineOn) << step.what;
    }
}

// Each row on a fresh receiver at 800 × 600: steering (pitch, yaw, roll) and
// the lateral and vertical thrust.
TEST_F(Controls, MouseJoystickAndKeysSteerEachAxis) {
    struct Row {
        const char* what;
        bool inverted;
        std::function<void(Controls&)> events;
        vector3df steering;
        vector3df thrust;  // x and y
    };
    const auto rightAt = [](int x, int y) {
        return [x, y](C& c) {
            c.mouse(irr::EMIE_RMOUSE_PRESSED_DOWN);
            c.mouse(irr::EMIE_MOUSE_MOVED, x, y);
        };
    };
    const Row rows[] = {
        {"mouse at full scale", false, rightAt(40, 570), {4000, 0, 8000}, {}},
        {"mouse in the centre", false, rightAt(400, 300), {}, {}},
        {"mouse halfway", false, rightAt(580, 165), {-2000, 0, -4000}, {}},
        {"mouse halfway, inverted", true, rightAt(580, 165), {2000, 0, -4000}, {}},
        {"mouse beyond the reach", false, rightAt(-500, 5000), {4000, 0, 8000}, {}},
        {"mouse moved without the button", false,
         [](C& c) { c.mouse(irr::EMIE_MOUSE_MOVED, 40, 570); }, {}, {}},
        {"joystick halfway", false, [](C& c) { c.stick(49151, 16383, kCentre, 49151); }, {2000, 1500, -4000}, {}},
        {"joystick in the dead zone", false, [](C& c) { c.stick(kCentre + 2949, kCentre - 2949, kCentre, kCentre + 2949); }, {}, {}},
        {"roll key over the joystick", false,
         [](C& c) {
             c.stick(49151, 16383, kCentre, kCentre);
             c.key(irr::KEY_LEFT, true);
         },
         {2000, 0, 8000}, {}},
        {"roll key over the mouse", false,
         [&](C& c) {
             rightAt(40, 570)(c);
             c.key(irr::KEY_RIGHT, true);
         },
         {4000, 0, -8000}, {}},
        {"both pitch keys, yaw left", false,
         [](C& c) {
             c.key(irr::KEY_UP, true);
             c.key(irr::KEY_DOWN, true);
             c.key('Q', true);
         },
         {0, -3000, 0}, {}},
        {"steer up and right", false, [](C& c) { c.key('R', true), c.key('D', true); }, {}, {50, 50, 0}},
        {"steer down and left", false, [](C& c) { c.key('F', true), c.key('S', true); }, {}, {-50, -50, 0}},
    };
    for (const Row& row : rows) {
        input = std::make_unique<EventReceiver>();
        globals.eventReceiver = input.get();
        control = std::make_unique<Control>(row.inverted);
        row.events(*this);
        frame();
        EXPECT_EQ(player->getSteeringInput(), row.steering) << row.what;
        EXPECT_EQ(player->getThrustInput(), row.thrust) << row.what;
    }
}

// Held fire: one shot per 80 ms or more, the two guns in turn; from the
// keyboard, the left mouse button (while the right one steers) or joystick
// button 0. All guns at once when asked, at the same rate.
TEST_F(Controls, GunsTakeTurnsEveryEightyMilliseconds) {
    Weapon* left = player->getWeapons().front();
    Weapon* right = *std::next(player->getWeapons().begin());
    struct Source {
        const char* what;
        std::function<void(Controls&, bool)> hold;
        uint32_t frameMs;
        int framesPerShot;
    };
    const Source sources[] = {
        {"space", [](C& c, bool down) { c.key(irr::KEY_SPACE, down); }, 20, 4},
        {"left mouse", [](C& c, bool down) {
             c.mouse(irr::EMIE_RMOUSE_PRESSED_DOWN);
             c.mouse(down ? irr::EMIE_LMOUSE_PRESSED_DOWN : irr::EMIE_LMOUSE_LEFT_UP);
         }, 30, 3},
        {"joystick button 0", [](C& c, bool down) { c.button(0, down); }, 50, 2},
    };
    for (const Source& source : sources) {
        globals.lastGunFired = nullptr;
        globals.lastShotTime = 0;
        source.hold(*this, true);
        std::vector<Weapon*> shots;
        for (int f = 0; f < 24; ++f) {
            const uint32_t before = globals.lastShotTime;
            frame(source.frameMs);
            if (globals.lastShotTime != before) {
                EXPECT_EQ(f % source.framesPerShot, 0) << source.what << " frame " << f;
                EXPECT_EQ(globals.lastShotTime, harness.clock().getRealTime());
                shots.push_back(globals.lastGunFired);
            }
        }
        source.hold(*this, false);
        frame(100);
        EXPECT_EQ(shots.size(), size_t(24 / source.framesPerShot)) << source.what;
        for (size_t i = 0; i < shots.size(); ++i) EXPECT_EQ(shots[i], i % 2 ? right : left) << source.what;
    }
    globals.fireAllGuns = true;
    globals.lastGunFired = nullptr;
    key(irr::KEY_SPACE, true);
    frame(100);
    EXPECT_EQ(globals.lastShotTime, harness.clock().getRealTime());
    EXPECT_EQ(globals.lastGunFired, nullptr);  // every gun fired, none in turn
    globals.fireAllGuns = false;
}

TEST_F(Controls, OneShotKeysActOncePerPressOrRelease) {
    Ship* enemy1 = Fleet::find("Enemy 1");
    Ship* enemy2 = Fleet::find("Enemy 2");
    // Target: on the key's release, then cleared; joystick button 2 alike.
    key('T', true);
    frame();
    EXPECT_TRUE(player->isTargeted());
    key('T', false);
    frame();
    frame();
    EXPECT_TRUE(enemy1->isTargeted());
    button(2, true);
    button(2, false);
    frame();
    frame();
    EXPECT_TRUE(enemy2->isTargeted());
    // "P" on release: 2000 to every flagged ship, once.
    key('P', true);
    key('P', false);
    frame();
    frame();
    EXPECT_FLOAT_EQ(enemy2->getHull(), -1000);
    EXPECT_FLOAT_EQ(enemy1->getHull(), 1000);
    EXPECT_FLOAT_EQ(player->getHull(), 1000);
    // Lights: one toggle per key-down, and the ship takes one per 1500 ms.
    key('L', true);
    frame();
    frame();
    EXPECT_FALSE(player->isLightsOn());
    key('L', true);  // auto-repeat, 40 ms on
    frame();
    EXPECT_FALSE(player->isLightsOn());
    harness.clock().advance(1500);
    key('L', true);
    frame();
    EXPECT_TRUE(player->isLightsOn());
    // The torpedo key is cleared after firing; the joystick button is not.
    key(irr::KEY_TAB, true);
    button(1, true);
    frame();
    EXPECT_FALSE(input->isKeyDown(irr::KEY_TAB));
    EXPECT_TRUE(input->isJoystickButtonDown(1));
    // "O" cycles the debug drawing on releases; F1 toggles the cockpit.
    globals.debugDrawMode = 0;
    for (int expected : {1, 2, 0}) {
        key('O', true);
        key('O', false);
        frame();
        EXPECT_EQ(globals.debugDrawMode, expected);
    }
    const bool cockpit = globals.drawCockpit;
    key(irr::KEY_F1, true);
    frame();
    frame();
    EXPECT_EQ(globals.drawCockpit, !cockpit);
    // Escape returns to the menu and stays down.
    key(irr::KEY_ESCAPE, true);
    frame();
    EXPECT_EQ(globals.gameState, GS_MENU);
    EXPECT_TRUE(input->isKeyDown(irr::KEY_ESCAPE));
    // Without a player's ship the fixed keys still act.
    globals.gameState = GS_GAME_RUN;
    globals.playerShip = nullptr;
    frame();
    EXPECT_EQ(globals.gameState, GS_MENU);
    globals.playerShip = player;
}

// The keys the player taps, each pressed and released between two frames:
// the next frame acts on it once, and the frame after it sees nothing.
TEST_F(Controls, ATapBetweenTwoFramesActsOnceInTheNextFrame) {
    const auto tap = [&](int32_t code) {
        key(code, true);
        key(code, false);
    };
    harness.clock().advance(1500);
    const bool lights = player->isLightsOn();
    tap('L');
    frame();
    EXPECT_NE(player->isLightsOn(), lights);
    frame(1500);
    EXPECT_NE(player->isLightsOn(), lights);

    tap(irr::KEY_SPACE);
    frame();
    const uint32_t shot = globals.lastShotTime;
    EXPECT_NE(shot, 0u);
    frame(100);
    EXPECT_EQ(globals.lastShotTime, shot);

    tap(irr::KEY_ESCAPE);
    frame();
    EXPECT_EQ(globals.gameState, GS_MENU);
    // Spent: the menu's first frame does not take it for its own Escape.
    Control::updateMenu();
    EXPECT_EQ(globals.gameState, GS_MENU);

    irr::gui::IGUIEnvironment* gui = globals.gui;
    globals.loginNameBox = gui->addEditBox(L"", irr::core::rect<irr::s32>(0, 0, 100, 20));
    globals.passwordBox = gui->addEditBox(L"", irr::core::rect<irr::s32>(0, 30, 100, 50));
    gui->setFocus(globals.loginNameBox);
    tap(irr::KEY_TAB);
    Control::updateMenu();
    EXPECT_TRUE(gui->hasFocus(globals.passwordBox));
    Control::updateMenu();
    EXPECT_TRUE(gui->hasFocus(globals.passwordBox));
    tap(irr::KEY_RETURN);
    Control::updateMenu();
    EXPECT_EQ(globals.gameState, GS_GAME_RUN);
    globals.gameState = GS_MENU;
    Control::updateMenu();
    EXPECT_EQ(globals.gameState, GS_MENU);
    gui->clear();
    globals.loginNameBox = globals.passwordBox = nullptr;
}

// The menu handling runs without any Control and reads none of its fields.
TEST_F(Controls, MenuMovesTheFocusStartsTheGameOrEndsIt) {
    irr::gui::IGUIEnvironment* gui = globals.gui;
    globals.loginNameBox = gui->addEditBox(L"", irr::core::rect<irr::s32>(0, 0, 100, 20));
    globals.passwordBox = gui->addEditBox(L"", irr::core::rect<irr::s32>(0, 30, 100, 50));
    globals.gameState = GS_MENU;
    gui->setFocus(nullptr);
    for (irr::gui::IGUIElement* expected : {globals.loginNameBox, globals.passwordBox, globals.loginNameBox}) {
        key(irr::KEY_TAB, true);
        Control::updateMenu();
        EXPECT_TRUE(gui->hasFocus(expected));
        EXPECT_FALSE(input->isKeyDown(irr::KEY_TAB));
    }
    key(irr::KEY_ESCAPE, true);
    key(irr::KEY_RETURN, true);
    Control::updateMenu();
    EXPECT_EQ(globals.gameState, GS_GAME_RUN);  // Return is read last
    globals.gameState = GS_MENU;
    control->update();
    EXPECT_EQ(globals.gameState, GS_END);  // Escape still held
    EXPECT_TRUE(input->isKeyDown(irr::KEY_ESCAPE));
    globals.gameState = GS_END;
    control->update();
    EXPECT_EQ(globals.gameState, GS_END);
    gui->clear();
    globals.loginNameBox = globals.passwordBox = nullptr;
}

// Bindings come from [Controls]; an unknown name leaves its action without
// a key, and the missing entries are written back with their defaults.
TEST_F(Controls, BindingsAreReadFromTheIniFile) {
    const std::string path = "controls.ini";
    IniFile ini(path.c_str());
    ini.setString("Controls", "KeyFireMainWeapon", "GRAVE");
    ini.setString("Controls", "KeyLightSwitch", "l");
    globals.iniFile = &ini;
    control = std::make_unique<Control>(false);
    globals.iniFile = nullptr;
    EXPECT_EQ(control->getKeyCode(Control::FIRE_MAIN_WEAPON), 0xDC);
    EXPECT_EQ(control->getKeyCode(Control::LIGHT_SWITCH), 0);
    EXPECT_EQ(control->getKeyCode(Control::MAX_THRUST_FORWARD), 'A');
    EXPECT_EQ(control->getKeyCode(Control::ENGINE_SWITCH), 0xDC);
    EXPECT_EQ(control->getKeyCode(Control::BINDING_COUNT), 0);
    const std::string text = testsupport::readFile(path);
    for (const char* line : {"KeyMaxThrustForward=A", "KeyEngineSwitch=GRAVE", "KeySelectNextTarget=T"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    key('L', true);
    frame();
    EXPECT_TRUE(player->isLightsOn());
}

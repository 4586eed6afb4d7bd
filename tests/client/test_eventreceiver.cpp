#include "ClientTestSupport.h"
#include "client/eventreceiver.h"
#include "client/globals.h"
#include "client/log.h"
#include "platform/localtime.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FileTestUtils.h"

using clienttest::fixedClock;
using clienttest::keyEvent;
using clienttest::mouseEvent;
using testsupport::readFile;

namespace {

// ---- Synthetic engine events ------------------------------------------------

irr::SEvent joystickEvent(irr::u8 joystick, irr::u32 buttons, irr::s16 x = 0, irr::s16 y = 0, irr::s16 z = 0,
                          irr::s16 r = 0) {
    irr::SEvent e{};
    e.EventType = irr::EET_JOYSTICK_INPUT_EVENT;
    e.JoystickEvent.Joystick = joystick;
    e.JoystickEvent.ButtonStates = buttons;
    e.JoystickEvent.Axis[irr::SEvent::SJoystickEvent::AXIS_X] = x;
    e.JoystickEvent.Axis[irr::SEvent::SJoystickEvent::AXIS_Y] = y;
    e.JoystickEvent.Axis[irr::SEvent::SJoystickEvent::AXIS_Z] = z;
    e.JoystickEvent.Axis[irr::SEvent::SJoystickEvent::AXIS_R] = r;
    e.JoystickEvent.POV = 65535;
    return e;
}

irr::SEvent guiEvent(irr::gui::EGUI_EVENT_TYPE type, irr::gui::IGUIElement* caller) {
    irr::SEvent e{};
    e.EventType = irr::EET_GUI_EVENT;
    e.GUIEvent.EventType = type;
    e.GUIEvent.Caller = caller;
    return e;
}

irr::SEvent logEvent(const char* text) {
    irr::SEvent e{};
    e.EventType = irr::EET_LOG_TEXT_EVENT;
    e.LogEvent.Text = text;
    e.LogEvent.Level = irr::ELL_INFORMATION;
    return e;
}

// The engine's null device stands in for the 3D device and its GUI.
class ReceiverTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(scoped.get(), nullptr);
        device = scoped.get();
        globals.resolutionX = 1024;
        globals.resolutionY = 768;
        globals.gameState = GS_MENU;
        globals.log = nullptr;
    }

    void post(const irr::SEvent& event) { EXPECT_FALSE(receiver.OnEvent(event)); }

    clienttest::ScopedDevice scoped{irr::video::EDT_NULL};
    irr::IrrlichtDevice* device = nullptr;
    EventReceiver receiver;
};

// ---- Keys -------------------------------------------------------------------

enum class KeyStep { Down, Up, Clear, ResetAll, EndFrame };

// One step on a key, then the flags of the watched key.
struct KeyScriptLine {
    KeyStep step;
    int32_t key;
    int32_t watched;
    bool down;
    bool pressed;
    bool released;
};

// A press reads as down until the frame that read it ends (EndFrame), so a
// tap between two frames counts once; a held key's auto-repeat latches
// nothing, and a release after the frame shows at once.
TEST_F(ReceiverTest, KeysAreEdgeTriggeredPerKeyAndAPressLastsUntilTheFrameEnds) {
    constexpr int32_t A = 0x41;
    constexpr int32_t B = 0x42;
    const std::vector<KeyScriptLine> script = {
        {KeyStep::Down, A, A, true, true, false},
        // Auto-repeat: still down, no longer newly pressed.
        {KeyStep::Down, A, A, true, false, false},
        {KeyStep::EndFrame, 0, A, true, false, false},
        {KeyStep::Up, A, A, false, false, true},
        // Another key's events leave A's release standing.
        {KeyStep::Down, B, A, false, false, true},
        // B tapped twice between two frames: down for the next frame only,
        // as one press.
        {KeyStep::Up, B, B, true, false, true},
        {KeyStep::Down, B, B, true, true, false},
        {KeyStep::Up, B, B, true, false, true},
        {KeyStep::EndFrame, 0, B, false, false, true},
        {KeyStep::Down, A, A, true, true, false},
        {KeyStep::Clear, A, A, false, false, false},
        {KeyStep::Up, A, A, false, false, false},
        {KeyStep::Down, A, A, true, true, false},
        {KeyStep::Down, 254, 254, true, true, false},
        {KeyStep::Up, 0, 0, false, false, false},
        {KeyStep::ResetAll, 0, A, false, false, false},
        {KeyStep::ResetAll, 0, 254, false, false, false},
        // Held over a frame: newly pressed until its auto-repeat.
        {KeyStep::Down, A, A, true, true, false},
        {KeyStep::EndFrame, 0, A, true, true, false},
        {KeyStep::Down, A, A, true, false, false},
    };
    int32_t line = 0;
    for (const KeyScriptLine& l : script) {
        SCOPED_TRACE(line++);
        switch (l.step) {
            case KeyStep::Down:
                post(keyEvent(l.key, true));
                break;
            case KeyStep::Up:
                post(keyEvent(l.key, false));
                break;
            case KeyStep::Clear:
                receiver.clearKey(l.key);
                break;
            case KeyStep::ResetAll:
                receiver.resetAll();
                break;
            case KeyStep::EndFrame:
                receiver.endFrame();
                break;
        }
        EXPECT_EQ(receiver.isKeyDown(l.watched), l.down);
        EXPECT_EQ(receiver.wasKeyPressed(l.watched), l.pressed);
        EXPECT_EQ(receiver.wasKeyReleased(l.watched), l.released);
    }
}

TEST_F(ReceiverTest, ResetAllLeavesMouseAndJoystick) {
    post(mouseEvent(irr::EMIE_LMOUSE_PRESSED_DOWN));
    post(joystickEvent(0, 0x1, 100));
    post(keyEvent(0x20, true));
    receiver.resetAll();
    EXPECT_FALSE(receiver.isKeyDown(0x20));
    EXPECT_TRUE(receiver.isLeftMouseDown());
    EXPECT_TRUE(receiver.isJoystickButtonDown(0));
    EXPECT_NE(receiver.getJoystickAxis0(), 0.0f);
}

// X11 passes keys it cannot map as 255; they must not touch any key's state.
TEST_F(ReceiverTest, KeyCodesOutsideTheTableAreIgnored) {
    post(keyEvent(255, true));
    for (int32_t key = 0; key < 255; ++key) {
        ASSERT_FALSE(receiver.isKeyDown(key)) << key;
    }
    EXPECT_FALSE(receiver.isKeyDown(255));
    EXPECT_FALSE(receiver.wasKeyPressed(-1));
    receiver.clearKey(255);
    receiver.clearKey(-1);
}

// ---- Mouse ------------------------------------------------------------------

struct MouseLine {
    irr::SEvent event;
    bool left;
    bool middle;
    bool right;
    int32_t x;
    int32_t y;
};

TEST_F(ReceiverTest, MouseButtonsAndPosition) {
    const std::vector<MouseLine> script = {
        {mouseEvent(irr::EMIE_LMOUSE_PRESSED_DOWN, 9, 9), true, false, false, 0, 0},
        {mouseEvent(irr::EMIE_MMOUSE_PRESSED_DOWN), true, true, false, 0, 0},
        {mouseEvent(irr::EMIE_RMOUSE_PRESSED_DOWN), true, true, true, 0, 0},
        {mouseEvent(irr::EMIE_MOUSE_MOVED, 320, -7), true, true, true, 320, -7},
        // The wheel and the engine's extra click kinds change nothing.
        {mouseEvent(irr::EMIE_MOUSE_WHEEL, 1, 1, 1.0f), true, true, true, 320, -7},
        {mouseEvent(irr::EMIE_LMOUSE_DOUBLE_CLICK, 2, 2), true, true, true, 320, -7},
        {mouseEvent(irr::EMIE_LMOUSE_LEFT_UP), false, true, true, 320, -7},
        {mouseEvent(irr::EMIE_MMOUSE_LEFT_UP), false, false, true, 320, -7},
        {mouseEvent(irr::EMIE_RMOUSE_LEFT_UP), false, false, false, 320, -7},
    };
    int32_t line = 0;
    for (const MouseLine& l : script) {
        SCOPED_TRACE(line++);
        post(l.event);
        EXPECT_EQ(receiver.isLeftMouseDown(), l.left);
        EXPECT_EQ(receiver.isMiddleMouseDown(), l.middle);
        EXPECT_EQ(receiver.isRightMouseDown(), l.right);
        EXPECT_EQ(receiver.getMouseX(), l.x);
        EXPECT_EQ(receiver.getMouseY(), l.y);
    }
}

// ---- Joystick ---------------------------------------------------------------

TEST_F(ReceiverTest, SimultaneousJoystickButtonsCountOnlyTheHighest) {
    post(joystickEvent(0, 0x5));
    EXPECT_FALSE(receiver.isJoystickButtonDown(0));
    EXPECT_TRUE(receiver.isJoystickButtonDown(2));
    // The same snapshot on the next run changes nothing.
    post(joystickEvent(0, 0x5));
    EXPECT_FALSE(receiver.isJoystickButtonDown(0));
    // Releasing both reports button 2 only.
    post(joystickEvent(0, 0x0));
    EXPECT_FALSE(receiver.isJoystickButtonDown(2));
    EXPECT_TRUE(receiver.wasJoystickButtonReleased(2));
    EXPECT_FALSE(receiver.wasJoystickButtonReleased(0));
}

TEST_F(ReceiverTest, JoystickReleaseStaysUntilTheButtonsNextEventOrAClear) {
    post(joystickEvent(0, 0x2));
    post(joystickEvent(0, 0x8));
    EXPECT_TRUE(receiver.wasJoystickButtonReleased(1));
    EXPECT_TRUE(receiver.isJoystickButtonDown(3));
    post(joystickEvent(0, 0x8));
    post(joystickEvent(0, 0x0));
    EXPECT_TRUE(receiver.wasJoystickButtonReleased(1));
    receiver.clearJoystickButton(1);
    EXPECT_FALSE(receiver.wasJoystickButtonReleased(1));
    EXPECT_TRUE(receiver.wasJoystickButtonReleased(3));
}

TEST_F(ReceiverTest, SecondJoystickDrivesTheSameButtonsButNotTheAxes) {
    post(joystickEvent(0, 0x0, 1000, 2000, 3000, 4000));
    const float axes[4] = {receiver.getJoystickAxis0(), receiver.getJoystickAxis1(),
                           receiver.getJoystickAxis2(), receiver.getJoystickAxis3()};
    post(joystickEvent(1, 0x2, -30000, -30000, -30000, -30000));
    EXPECT_TRUE(receiver.isJoystickButtonDown(1));
    EXPECT_EQ(receiver.getJoystickAxis0(), axes[0]);
    EXPECT_EQ(receiver.getJoystickAxis1(), axes[1]);
    EXPECT_EQ(receiver.getJoystickAxis2(), axes[2]);
    EXPECT_EQ(receiver.getJoystickAxis3(), axes[3]);
}

TEST_F(ReceiverTest, JoystickAxesScaleRawPositions) {
    // Raw 0, 32767 and 65535 are the engine's -32768, -1 and 32767.
    post(joystickEvent(0, 0, -32768, -1, 32767, -32768));
    EXPECT_EQ(receiver.getJoystickAxis0(), static_cast<float>(-32767.0 / 32768.0));
    EXPECT_EQ(receiver.getJoystickAxis1(), 0.0f);
    // Axis 2 follows the rudder (R), axis 3 the throttle (Z).
    EXPECT_EQ(receiver.getJoystickAxis2(), static_cast<float>(-32767.0 / 32768.0));
    EXPECT_EQ(receiver.getJoystickAxis3(), 1.0f);
}

TEST_F(ReceiverTest, JoystickButtonsOutsideZeroToThreeAreIgnored) {
    JoystickEvent record;
    record.kind = JoystickEvent::PRESSED;
    for (int32_t button : {4, 7, 255}) {
        record.button = static_cast<uint8_t>(button);
        receiver.onJoystickEvent(record);
    }
    for (int32_t button = 0; button < 4; ++button) {
        EXPECT_FALSE(receiver.isJoystickButtonDown(button));
    }
    EXPECT_FALSE(receiver.isJoystickButtonDown(4));
    EXPECT_FALSE(receiver.isJoystickButtonDown(-1));
}

// ---- GUI --------------------------------------------------------------------

struct GuiCase {
    const char* name;
    irr::gui::EGUI_EVENT_TYPE type;
    irr::s32 callerId;  // 0: no caller
    GameState state;
    bool optionsWindow;
};

class ReceiverGui : public ReceiverTest, public testing::WithParamInterface<GuiCase> {};

// The number of the modal screens and windows under the GUI's root.
irr::u32 rootChildren() {
    return globals.gui->getRootGUIElement()->getChildren().size();
}

irr::gui::IGUIElement* findOptionsWindow(irr::gui::IGUIElement* element) {
    if (element->getType() == irr::gui::EGUIET_WINDOW && std::wstring(element->getText()) == L"Options") {
        return element;
    }
    for (irr::gui::IGUIElement* child : element->getChildren()) {
        if (irr::gui::IGUIElement* found = findOptionsWindow(child)) {
            return found;
        }
    }
    return nullptr;
}

TEST_P(ReceiverGui, OnlyClicksOfTheMenuButtonsAct) {
    const GuiCase& c = GetParam();
    irr::gui::IGUIButton* button =
        c.callerId ? globals.gui->addButton(irr::core::rect<irr::s32>(0, 0, 10, 10), nullptr, c.callerId)
                   : nullptr;
    const irr::u32 before = rootChildren();
    post(guiEvent(c.type, button));
    EXPECT_EQ(globals.gameState, c.state);
    EXPECT_EQ(rootChildren(), before + (c.optionsWindow ? 1 : 0));
    irr::gui::IGUIElement* window = findOptionsWindow(globals.gui->getRootGUIElement());
    ASSERT_EQ(window != nullptr, c.optionsWindow);
    if (window) {
        EXPECT_EQ(window->getAbsolutePosition(), irr::core::rect<irr::s32>(312, 184, 712, 584));
        EXPECT_EQ(window->getID(), -1);
        // Modal: the engine puts it in a screen-wide modal frame under the root.
        EXPECT_EQ(window->getParent()->getType(), irr::gui::EGUIET_MODAL_SCREEN);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Receiver, ReceiverGui,
    testing::Values(GuiCase{"ExitClicked", irr::gui::EGET_BUTTON_CLICKED, 101, GS_END, false},
                    // 1.8's value 3 is the mouse leaving an element, not a click.
                    GuiCase{"ExitLeft", irr::gui::EGET_ELEMENT_LEFT, 101, GS_MENU, false},
                    GuiCase{"ExitHovered", irr::gui::EGET_ELEMENT_HOVERED, 101, GS_MENU, false},
                    GuiCase{"LoginClicked", irr::gui::EGET_BUTTON_CLICKED, 103, GS_GAME_RUN, false},
                    GuiCase{"LoginLeft", irr::gui::EGET_ELEMENT_LEFT, 103, GS_MENU, false},
                    GuiCase{"OptionsClicked", irr::gui::EGET_BUTTON_CLICKED, 102, GS_MENU, true},
                    GuiCase{"OptionsFocused", irr::gui::EGET_ELEMENT_FOCUSED, 102, GS_MENU, false},
                    GuiCase{"OtherButtonClicked", irr::gui::EGET_BUTTON_CLICKED, 104, GS_MENU, false},
                    GuiCase{"NoCaller", irr::gui::EGET_BUTTON_CLICKED, 0, GS_MENU, false}),
    [](const testing::TestParamInfo<GuiCase>& info) { return std::string(info.param.name); });

// The engine's own GUI: the pointer passing over the exit button and leaving
// it must not end the program; a click on it must.
TEST_F(ReceiverTest, PointerLeavingTheExitButtonThroughTheEngineKeepsTheMenu) {
    device->setEventReceiver(&receiver);
    globals.gui->addButton(irr::core::rect<irr::s32>(100, 100, 200, 140), nullptr,
                           EventReceiver::EXIT_BUTTON_ID, L"Exit Tarnwell");
    device->postEventFromUser(mouseEvent(irr::EMIE_MOUSE_MOVED, 150, 120));
    device->postEventFromUser(mouseEvent(irr::EMIE_MOUSE_MOVED, 500, 500));
    EXPECT_EQ(globals.gameState, GS_MENU);
    device->postEventFromUser(mouseEvent(irr::EMIE_MOUSE_MOVED, 150, 120));
    device->postEventFromUser(mouseEvent(irr::EMIE_LMOUSE_PRESSED_DOWN, 150, 120));
    device->postEventFromUser(mouseEvent(irr::EMIE_LMOUSE_LEFT_UP, 150, 120));
    EXPECT_EQ(globals.gameState, GS_END);
}

// ---- Log text ---------------------------------------------------------------

TEST_F(ReceiverTest, EngineLogTextsGoToTheGameLog) {
    const char* name = "receiver_log.log";
    post(logEvent("dropped without a log"));
    Log log;
    log.setClock(fixedClock);
    ASSERT_TRUE(log.open(name));
    globals.log = &log;

    // Through the engine's own logger, as the device reports.
    device->setEventReceiver(&receiver);
    device->getLogger()->setLogLevel(irr::ELL_INFORMATION);
    device->getLogger()->log("Using renderer: NULL", irr::ELL_INFORMATION);
    post(logEvent(nullptr));
    const std::string longText(2000, 'x');
    post(logEvent(longText.c_str()));
    globals.log = nullptr;
    log.close();

    const std::string stamp = "03.02.2007 09:05:00: ";
    EXPECT_EQ(readFile(name), stamp + "->Irrlicht: Using renderer: NULL\n" + stamp +
                                  "->Irrlicht: " + std::string(1023 - 12, 'x') + "\n");
}

}  // namespace

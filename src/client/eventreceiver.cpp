#include "client/eventreceiver.h"

#include "client/globals.h"
#include "client/log.h"

#include <cstdio>

namespace {

bool validKey(int32_t key) {
    return key >= 0 && key < EventReceiver::KEY_COUNT;
}

bool validButton(int32_t button) {
    return button >= 0 && button < EventReceiver::JOYSTICK_BUTTONS;
}

// (raw - 32767) / 32768 with the difference in signed 32 bits and the
// division in double.
float axisValue(uint32_t raw) {
    const int32_t centred = static_cast<int32_t>(raw - 32767u);
    return static_cast<float>(static_cast<double>(centred) / 32768.0);
}

}  // namespace

EventReceiver::EventReceiver()
    : keyDown{},
      keyDownBefore{},
      keyPressedSinceFrame{},
      leftMouseDown(false),
      middleMouseDown(false),
      rightMouseDown(false),
      mouseX(0),
      mouseY(0),
      joystickButtonDown{},
      joystickButtonDownBefore{},
      joystickAxes{},
      joystickSnapshots{} {}

EventReceiver::~EventReceiver() = default;

bool EventReceiver::OnEvent(const irr::SEvent& event) {
    switch (event.EventType) {
        case irr::EET_KEY_INPUT_EVENT:
            onKey(event.KeyInput);
            break;
        case irr::EET_MOUSE_INPUT_EVENT:
            onMouse(event.MouseInput);
            break;
        case irr::EET_JOYSTICK_INPUT_EVENT: {
            JoystickEvent records[MAX_JOYSTICK_EVENTS_PER_SNAPSHOT];
            const int32_t count = translateJoystickSnapshot(joystickSnapshots, event.JoystickEvent, records);
            for (int32_t i = 0; i < count; ++i) {
                onJoystickEvent(records[i]);
            }
            break;
        }
        case irr::EET_GUI_EVENT:
            onGui(event.GUIEvent);
            break;
        case irr::EET_LOG_TEXT_EVENT:
            onLogText(event.LogEvent);
            break;
        default:
            break;
    }
    return false;
}

void EventReceiver::onKey(const irr::SEvent::SKeyInput& input) {
    // The X11 device passes keys it has no code for up to 255.
    const int32_t key = static_cast<int32_t>(input.Key);
    if (!validKey(key)) {
        return;
    }
    if (input.PressedDown && !keyDown[key]) {
        keyPressedSinceFrame[key] = true;
    }
    keyDownBefore[key] = keyDown[key];
    keyDown[key] = input.PressedDown;
}

void EventReceiver::onMouse(const irr::SEvent::SMouseInput& mouse) {
    switch (mouse.Event) {
        case irr::EMIE_LMOUSE_PRESSED_DOWN:
            leftMouseDown = true;
            break;
        case irr::EMIE_LMOUSE_LEFT_UP:
            leftMouseDown = false;
            break;
        case irr::EMIE_MMOUSE_PRESSED_DOWN:
            middleMouseDown = true;
            break;
        case irr::EMIE_MMOUSE_LEFT_UP:
            middleMouseDown = false;
            break;
        case irr::EMIE_RMOUSE_PRESSED_DOWN:
            rightMouseDown = true;
            break;
        case irr::EMIE_RMOUSE_LEFT_UP:
            rightMouseDown = false;
            break;
        case irr::EMIE_MOUSE_MOVED:
            mouseX = mouse.X;
            mouseY = mouse.Y;
            break;
        default:
            // The wheel and the engine's double and triple clicks change nothing.
            break;
    }
}

void EventReceiver::onJoystickEvent(const JoystickEvent& event) {
    const int32_t button = event.button;
    switch (event.kind) {
        case JoystickEvent::PRESSED:
        case JoystickEvent::RELEASED:
            if (!validButton(button)) {
                return;
            }
            joystickButtonDownBefore[button] = joystickButtonDown[button];
            joystickButtonDown[button] = event.kind == JoystickEvent::PRESSED;
            break;
        case JoystickEvent::MOVED:
            joystickAxes[0] = axisValue(event.X);
            joystickAxes[1] = axisValue(event.Y);
            joystickAxes[2] = axisValue(event.R);
            joystickAxes[3] = axisValue(event.Z);
            break;
        default:
            break;
    }
}

void EventReceiver::onGui(const irr::SEvent::SGUIEvent& gui) {
    // Only clicks count; the hover and leave events of the same buttons must
    // not act.
    if (gui.EventType != irr::gui::EGET_BUTTON_CLICKED || !gui.Caller) {
        return;
    }
    switch (gui.Caller->getID()) {
        case EXIT_BUTTON_ID:
            globals.gameState = GS_END;
            break;
        case OPTIONS_BUTTON_ID:
            if (globals.gui) {
                const irr::s32 cx = globals.resolutionX / 2;
                const irr::s32 cy = globals.resolutionY / 2;
                globals.gui->addWindow(irr::core::rect<irr::s32>(cx - 200, cy - 200, cx + 200, cy + 200),
                                       true, L"Options", nullptr, -1);
            }
            break;
        case LOGIN_BUTTON_ID:
            globals.gameState = GS_GAME_RUN;
            break;
        default:
            break;
    }
}

void EventReceiver::onLogText(const irr::SEvent::SLogEvent& text) {
    if (!globals.log || !text.Text) {
        return;
    }
    // Longer texts are cut to the buffer.
    char line[1024];
    std::snprintf(line, sizeof(line), "->Irrlicht: %s", text.Text);
    globals.log->write(line);
}

bool EventReceiver::isKeyDown(int32_t key) const {
    return validKey(key) && (keyDown[key] || keyPressedSinceFrame[key]);
}

bool EventReceiver::wasKeyPressed(int32_t key) const {
    return validKey(key) && keyDown[key] && !keyDownBefore[key];
}

bool EventReceiver::wasKeyReleased(int32_t key) const {
    return validKey(key) && !keyDown[key] && keyDownBefore[key];
}

void EventReceiver::clearKey(int32_t key) {
    if (validKey(key)) {
        keyDown[key] = false;
        keyDownBefore[key] = false;
        keyPressedSinceFrame[key] = false;
    }
}

void EventReceiver::resetAll() {
    for (int32_t key = 0; key < KEY_COUNT; ++key) {
        clearKey(key);
    }
}

void EventReceiver::endFrame() {
    for (bool& pressed : keyPressedSinceFrame) {
        pressed = false;
    }
}

bool EventReceiver::isLeftMouseDown() const {
    return leftMouseDown;
}

bool EventReceiver::isMiddleMouseDown() const {
    return middleMouseDown;
}

bool EventReceiver::isRightMouseDown() const {
    return rightMouseDown;
}

int32_t EventReceiver::getMouseX() const {
    return mouseX;
}

int32_t EventReceiver::getMouseY() const {
    return mouseY;
}

bool EventReceiver::isJoystickButtonDown(int32_t button) const {
    return validButton(button) && joystickButtonDown[button];
}

bool EventReceiver::wasJoystickButtonReleased(int32_t button) const {
    return validButton(button) && !joystickButtonDown[button] && joystickButtonDownBefore[button];
}

void EventReceiver::clearJoystickButton(int32_t button) {
    if (validButton(button)) {
        joystickButtonDown[button] = false;
        joystickButtonDownBefore[button] = false;
    }
}

float EventReceiver::getJoystickAxis0() const {
    return joystickAxes[0];
}

float EventReceiver::getJoystickAxis1() const {
    return joystickAxes[1];
}

float EventReceiver::getJoystickAxis2() const {
    return joystickAxes[2];
}

float EventReceiver::getJoystickAxis3() const {
    return joystickAxes[3];
}

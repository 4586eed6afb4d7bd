// The game's receiver of every engine event. It keeps the state of keys,
// mouse buttons and position, joystick buttons and axes for the controls to
// poll once a frame, acts on the menu's three buttons and forwards the
// engine's log texts to the game log. It never absorbs an event, so the GUI
// and the scene manager still see all of them.
#pragma once

#include "client/engine/JoystickEvent.h"
#include "client/gamemenumath.h"

#include <irrlicht.h>

#include <cstdint>

class EventReceiver : public irr::IEventReceiver {
public:
    static constexpr int32_t KEY_COUNT = 255;
    static constexpr int32_t JOYSTICK_BUTTONS = 4;

    // Ids of the menu's buttons.
    static constexpr irr::s32 EXIT_BUTTON_ID = menumath::kExitButtonId;
    static constexpr irr::s32 OPTIONS_BUTTON_ID = menumath::kOptionsButtonId;
    static constexpr irr::s32 LOGIN_BUTTON_ID = menumath::kLoginButtonId;

    EventReceiver();
    ~EventReceiver() override;

    // Always false.
    bool OnEvent(const irr::SEvent& event) override;

    // The path of one joystick record into the state; the engine's snapshots
    // arrive here through the adapter. Both joysticks' buttons drive the same
    // four flags; buttons outside 0 to 3 are ignored.
    void onJoystickEvent(const JoystickEvent& event);

    // Keys are edge-triggered: the "before" flag changes only with that key's
    // events, so a key counts as newly pressed from its first key-down until
    // its next event or clearKey. Codes outside 0 to 254 read as up.
    bool isKeyDown(int32_t key) const;
    bool wasKeyPressed(int32_t key) const;
    bool wasKeyReleased(int32_t key) const;
    void clearKey(int32_t key);
    // Every key flag; mouse and joystick state stay.
    void resetAll();

    bool isLeftMouseDown() const;
    bool isMiddleMouseDown() const;
    bool isRightMouseDown() const;
    int32_t getMouseX() const;
    int32_t getMouseY() const;

    bool isJoystickButtonDown(int32_t button) const;
    bool wasJoystickButtonReleased(int32_t button) const;
    void clearJoystickButton(int32_t button);
    // Each (raw - 32767) / 32768: X, Y, rudder, throttle (Z).
    float getJoystickAxis0() const;
    float getJoystickAxis1() const;
    float getJoystickAxis2() const;
    float getJoystickAxis3() const;

private:
    void onKey(const irr::SEvent::SKeyInput& key);
    void onMouse(const irr::SEvent::SMouseInput& mouse);
    void onGui(const irr::SEvent::SGUIEvent& gui);
    void onLogText(const irr::SEvent::SLogEvent& text);

    bool keyDown[KEY_COUNT];
    bool keyDownBefore[KEY_COUNT];
    bool leftMouseDown;
    bool middleMouseDown;
    bool rightMouseDown;
    int32_t mouseX;
    int32_t mouseY;
    bool joystickButtonDown[JOYSTICK_BUTTONS];
    bool joystickButtonDownBefore[JOYSTICK_BUTTONS];
    float joystickAxes[4];
    // The adapter's memory of the engine's previous snapshots.
    JoystickSnapshotState joystickSnapshots;
};

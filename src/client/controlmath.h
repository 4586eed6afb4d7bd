// The controls' arithmetic, free of the engine's device and of the globals:
// key names, the joystick dead zone, the mouse steering terms, the thrust
// rules and the guns' turn-taking. Control (control.h) reads the input
// receiver and the player's ship and hands these functions plain values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The virtual-key code of one of the 97 key names of the [Controls] section:
// "A".."Z", "0".."9", "BACK", "TAB", "CLEAR", "RETURN", "SHIFT", "CONTROL",
// "PAUSE", "SPACE", "PAGEUP", "PAGEDOWN", "END", "HOME", "LEFT", "UP",
// "RIGHT", "DOWN", "INSERT", "DELETE", "LEFTWINDOWS", "RIGHTWINDOWS",
// "NUMPAD0".."NUMPAD9", "MULTIPLY", "ADD", "SEPARATOR", "SUBTRACT",
// "DECIMAL", "DIVIDE", "F1".."F12", "NUMLOCK", "SCROLL", "SHIFTLEFT",
// "SHIFTRIGHT", "CONTROLLEFT", "CONTROLRIGHT", "MENULEFT", "MENURIGHT",
// "PLUS", "COMMA", "MINUS", "PERIOD" and "GRAVE" (0xDC, the key the engine
// reports for backslash on a US layout). Compared exactly (case-sensitive,
// no trimming); any other text gives 0, a code no key ever sends.
int32_t keyNameToKeyCode(const std::string& name);

// A joystick axis value with its dead zone: below 0.1 in size (strictly) it
// is 0. A non-finite value is 0 too.
float applyDeadZone(float axis);

// One mouse steering term: with h = extent / 2 and r = h - h / 10 (integer
// divisions), d = h - position when `towardCentre` (roll; pitch with the
// mouse inverted), else position - h, clamped to [-r, r]; the term is
// d × scale / r. Integers until that final multiply and divide, which are
// float. 0 when r is not positive (a window under 2 pixels).
float mouseSteering(int32_t extent, int32_t position, bool towardCentre, float scale);

// The thrust keys and throttle of one frame, as the controls see them.
struct ThrustControls {
    bool engineOn = true;
    float throttle = 0.0f;  // joystick axis 3, dead zone applied; + forward
    bool maxForward = false;
    bool maxBackward = false;
    bool increase = false;
    bool decrease = false;
    bool reset = false;
};
// The frame's main thrust input and the level the ship keeps.
struct ThrustResult {
    float thrust = 0.0f;      // the thrust input's z
    float mainThrust = 0.0f;  // kept for the next frame
};
// The thrust rules: the kept level, moved by the throttle within the limits;
// the max keys replace it (backward winning); increase and decrease step the
// kept level by a tenth of the forward or reverse limit within the limits;
// reset zeroes it (winning over both). With the engine off the kept level
// drops to 0 and this frame's thrust is still the old level.
ThrustResult thrustStep(float mainThrust, const ThrustControls& controls, float maxReverseThrust,
                        float maxForwardThrust);

// Least time between two shots of the main weapon, ms.
constexpr uint32_t GUN_INTERVAL_MS = 80;
// Whether the main weapon may fire at `now`, compared as an unsigned
// difference so that the clock's wrap changes nothing.
bool gunReady(uint32_t now, uint32_t lastShotTime);
// Which weapon fires next when the guns take turns: the index of the first
// gun (kind 0) in `kinds` that is not `lastFired` (an index, -1 for none),
// or -1 when there is none.
int32_t nextGunInTurn(const std::vector<int32_t>& kinds, int32_t lastFired);

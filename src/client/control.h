// Turns the input receiver's state into actions once a frame: in the menu it
// moves the focus between the login boxes, starts the game or ends the
// program; in a game it sets the player's thrust and steering from keys,
// mouse and joystick, switches engine and lights, selects targets, fires
// guns and torpedoes and serves the fixed keys. Twenty bindings come from
// the ini file's [Controls] section as key names. The arithmetic (key
// names, dead zone, mouse terms, thrust rules) is in controlmath.h.
#pragma once

#include <cstdint>
#include <string>

class Control {
public:
    // Reads the bindings; main thrust starts at 0.
    explicit Control(bool mouseInverted);
    virtual ~Control();

    // Reads the twenty bindings from the ini file (defaults written back).
    void loadKeyBindings();
    // One frame for the current state: the menu handling in the menu, the
    // game handling in a game, nothing otherwise.
    void update();
    // The menu handling needs no Control: the menu runs it before any game
    // made one.
    static void updateMenu();

    float getMainThrust() const { return mainThrust; }
    int32_t getKeyCode(int32_t binding) const;

private:
    void updateGame();

    int32_t keyCodes[20];
    bool mouseInverted;
    float mainThrust = 0.0f;
};

// The Windows virtual-key code of one of the 97 key names ("A".."Z", "0".."9",
// "BACK", ..., "GRAVE" = 0xDC), compared exactly; 0 for any other text.
int32_t keyNameToKeyCode(const std::string& name);

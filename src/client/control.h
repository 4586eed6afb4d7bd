// Turns the input receiver's state into actions once a frame: in the menu it
// moves the focus between the login boxes, starts the game or ends the
// program; in a game it sets the player's thrust and steering from keys,
// mouse and joystick, switches engine and lights, selects targets, fires
// guns and torpedoes and serves the fixed keys. Twenty bindings come from
// the ini file's [Controls] section as key names. The arithmetic (key
// names, dead zone, mouse terms, thrust rules) is in controlmath.h.
//
// Reads globals.eventReceiver, globals.playerShip, globals.clock (real time)
// and the resolution; writes the game state and the shot globals. Without
// a receiver nothing happens; without a player's ship only the fixed keys
// (Escape, "O", "P", F1) act.
#pragma once

#include "client/controlmath.h"

#include <cstdint>
#include <string>
#include <vector>

class IniFile;

class Control {
public:
    // The bindings, in the order of the [Controls] section.
    enum Binding : int32_t {
        MAX_THRUST_FORWARD = 0,
        MAX_THRUST_BACKWARD,
        INCREASE_MAIN_THRUST,
        DECREASE_MAIN_THRUST,
        RESET_MAIN_THRUST,
        ENGINE_SWITCH,
        ROLL_LEFT,
        ROLL_RIGHT,
        PITCH_UP,
        PITCH_DOWN,
        YAW_LEFT,
        YAW_RIGHT,
        STEERING_LEFT,
        STEERING_RIGHT,
        STEERING_UP,
        STEERING_DOWN,
        SELECT_NEXT_TARGET,
        FIRE_MAIN_WEAPON,
        FIRE_TORPEDO_WEAPON,
        LIGHT_SWITCH,
        BINDING_COUNT,
    };

    // Reads the bindings; main thrust starts at 0.
    explicit Control(bool mouseInverted);
    virtual ~Control();

    // Reads the twenty bindings from globals.iniFile (defaults written back);
    // without an ini file the defaults stand.
    void loadKeyBindings();
    // The [Controls] key names of the twenty bindings in binding order, as
    // the file holds them; missing ones are written with their defaults.
    static std::vector<std::string> readKeyNames(IniFile& ini);
    // [Controls] "MouseInverted" (default 0, written when missing) is exactly 1.
    static bool readMouseInverted(IniFile& ini);
    // One frame for the current state: the menu handling in the menu, the
    // game handling in a game, nothing otherwise.
    void update();
    // The menu handling needs no Control: the menu runs it before any game
    // made one.
    static void updateMenu();

    float getMainThrust() const { return mainThrust; }
    // The key code of a binding; 0 for an unknown name or binding.
    int32_t getKeyCode(int32_t binding) const;

private:
    void updateGame();

    int32_t keyCodes[BINDING_COUNT];
    bool mouseInverted;
    float mainThrust = 0.0f;  // the thrust level kept between frames
};

// Joystick input as the game takes it: one record per button change or
// move, with raw positions 0 to 65535 (centre 32767/32768). The engine reads
// the joystick devices itself and reports a snapshot of every activated
// joystick on each run() of the device; the adapter below turns those
// snapshots into the game's records.
#pragma once

#include <irrlicht.h>

#include <cstdint>

struct JoystickEvent {
    enum Kind : int32_t {
        PRESSED = 0,
        RELEASED = 1,
        MOVED = 2,
    };

    int32_t joystick = 0;  // 0 first joystick, 1 second
    uint8_t button = 0;    // 0 to 3: the button that changed (button events only); the low byte of a word
    uint32_t X = 0;        // raw positions
    uint32_t Y = 0;
    uint32_t Z = 0;  // Z, R, U, V: move events only
    uint32_t R = 0;
    uint32_t U = 0;
    uint32_t V = 0;
    int32_t kind = PRESSED;
};
static_assert(sizeof(JoystickEvent) == 9 * sizeof(uint32_t), "one 32-bit word per field");

// Asks the device to read its joysticks from now on and returns how many it
// found; none is a normal outcome (no device, no joystick, no support).
uint32_t captureJoysticks(irr::IrrlichtDevice* device);

// What the adapter remembers between snapshots: buttons 0 to 3 of each of
// the two joysticks the game takes. Zero is "nothing held".
struct JoystickSnapshotState {
    static constexpr int32_t JOYSTICKS = 2;
    static constexpr uint32_t BUTTON_MASK = 0xFu;

    uint32_t buttons[JOYSTICKS] = {0, 0};
};

// The most records one snapshot gives: a release, a press and a move.
constexpr int32_t MAX_JOYSTICK_EVENTS_PER_SNAPSHOT = 3;

// Turns one snapshot into records, in this order: a release of the highest
// newly released of buttons 0 to 3, a press of the highest newly pressed
// (simultaneous changes below it are not reported, and count as taken), then
// for the first joystick a move with every axis as raw = axis + 32768.
// Snapshots of joysticks beyond the second give nothing. Returns the number
// of records written to out.
int32_t translateJoystickSnapshot(JoystickSnapshotState& state, const irr::SEvent::SJoystickEvent& snapshot,
                                  JoystickEvent out[MAX_JOYSTICK_EVENTS_PER_SNAPSHOT]);

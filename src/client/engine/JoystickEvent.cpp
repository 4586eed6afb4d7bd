#include "client/engine/JoystickEvent.h"

namespace {

// Index of the highest set bit of a non-zero mask of buttons 0 to 3.
uint8_t highestButton(uint32_t mask) {
    uint8_t button = 0;
    for (uint8_t bit = 0; bit < 4; ++bit) {
        if (mask & (1u << bit)) {
            button = bit;
        }
    }
    return button;
}

uint32_t rawAxis(irr::s16 axis) {
    return static_cast<uint32_t>(static_cast<int32_t>(axis) + 32768);
}

}  // namespace

uint32_t captureJoysticks(irr::IrrlichtDevice* device) {
    if (!device) {
        return 0;
    }
    irr::core::array<irr::SJoystickInfo> found;
    if (!device->activateJoysticks(found)) {
        return 0;
    }
    return found.size();
}

int32_t translateJoystickSnapshot(JoystickSnapshotState& state, const irr::SEvent::SJoystickEvent& snapshot,
                                  JoystickEvent out[MAX_JOYSTICK_EVENTS_PER_SNAPSHOT]) {
    const int32_t joystick = snapshot.Joystick;
    if (joystick >= JoystickSnapshotState::JOYSTICKS) {
        return 0;
    }
    const uint32_t before = state.buttons[joystick];
    const uint32_t now = snapshot.ButtonStates & JoystickSnapshotState::BUTTON_MASK;
    state.buttons[joystick] = now;

    const uint32_t x = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_X]);
    const uint32_t y = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_Y]);
    int32_t count = 0;
    // Button records carry the stick position, as the platform's button
    // messages do.
    const auto buttonEvent = [&](uint32_t changed, int32_t kind) {
        if (changed == 0) {
            return;
        }
        JoystickEvent& e = out[count++];
        e = JoystickEvent{};
        e.joystick = joystick;
        e.button = highestButton(changed);
        e.X = x;
        e.Y = y;
        e.kind = kind;
    };
    buttonEvent(before & ~now, JoystickEvent::RELEASED);
    buttonEvent(now & ~before, JoystickEvent::PRESSED);

    // Only the first joystick's axes are taken.
    if (joystick == 0) {
        JoystickEvent& e = out[count++];
        e = JoystickEvent{};
        e.joystick = 0;
        e.X = x;
        e.Y = y;
        e.Z = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_Z]);
        e.R = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_R]);
        e.U = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_U]);
        e.V = rawAxis(snapshot.Axis[irr::SEvent::SJoystickEvent::AXIS_V]);
        e.kind = JoystickEvent::MOVED;
    }
    return count;
}

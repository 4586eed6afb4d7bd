#include "client/engine/JoystickEvent.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Snapshot = irr::SEvent::SJoystickEvent;

Snapshot snapshot(irr::u8 joystick, irr::u32 buttons, std::vector<irr::s16> axes = {}) {
    Snapshot s{};
    s.Joystick = joystick;
    s.ButtonStates = buttons;
    for (size_t i = 0; i < axes.size() && i < Snapshot::NUMBER_OF_AXES; ++i) {
        s.Axis[i] = axes[i];
    }
    s.POV = 65535;
    return s;
}

// A button record as (kind, joystick, button).
struct ButtonRecord {
    int32_t kind;
    int32_t joystick;
    int32_t button;
};

struct SnapshotStep {
    Snapshot in;
    std::vector<ButtonRecord> buttons;  // in order
    bool moves;
};

struct SnapshotRun {
    const char* name;
    std::vector<SnapshotStep> steps;
};

constexpr int32_t P = JoystickEvent::PRESSED;
constexpr int32_t R = JoystickEvent::RELEASED;

class JoystickSnapshotRuns : public testing::TestWithParam<SnapshotRun> {};

TEST_P(JoystickSnapshotRuns, GiveTheRecordsInOrder) {
    JoystickSnapshotState state;
    int32_t stepIndex = 0;
    for (const SnapshotStep& step : GetParam().steps) {
        SCOPED_TRACE(stepIndex++);
        JoystickEvent out[MAX_JOYSTICK_EVENTS_PER_SNAPSHOT];
        const int32_t count = translateJoystickSnapshot(state, step.in, out);
        ASSERT_EQ(count, static_cast<int32_t>(step.buttons.size()) + (step.moves ? 1 : 0));
        for (size_t i = 0; i < step.buttons.size(); ++i) {
            EXPECT_EQ(out[i].kind, step.buttons[i].kind);
            EXPECT_EQ(out[i].joystick, step.buttons[i].joystick);
            EXPECT_EQ(out[i].button, step.buttons[i].button);
        }
        if (step.moves) {
            EXPECT_EQ(out[count - 1].kind, JoystickEvent::MOVED);
            EXPECT_EQ(out[count - 1].joystick, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Adapter, JoystickSnapshotRuns,
    testing::Values(
        SnapshotRun{"UnchangedButtonsOnlyMove", {{snapshot(0, 0), {}, true}, {snapshot(0, 0), {}, true}}},
        // Buttons 0 and 2 in one poll: one record, for button 2; button 0
        // counts as taken and gives nothing later either.
        SnapshotRun{"SimultaneousPressesNameTheHighest",
                    {{snapshot(0, 0x5), {{P, 0, 2}}, true}, {snapshot(0, 0x5), {}, true}}},
        SnapshotRun{"SimultaneousReleasesNameTheHighest",
                    {{snapshot(0, 0xF), {{P, 0, 3}}, true}, {snapshot(0, 0x2), {{R, 0, 3}}, true}}},
        SnapshotRun{
            "ReleaseComesBeforePress",
            {{snapshot(0, 0x2), {{P, 0, 1}}, true}, {snapshot(0, 0x8), {{R, 0, 1}, {P, 0, 3}}, true}}},
        SnapshotRun{"ButtonsAboveThreeAreNotTaken",
                    {{snapshot(0, 0xFFFFFFF0u), {}, true}, {snapshot(0, 0x10), {}, true}}},
        SnapshotRun{"SecondJoystickButtonsWithoutMoves",
                    {{snapshot(1, 0x1), {{P, 1, 0}}, false}, {snapshot(1, 0x0), {{R, 1, 0}}, false}}},
        // Each joystick keeps its own previous buttons.
        SnapshotRun{"JoysticksAreTrackedApart",
                    {{snapshot(0, 0x2), {{P, 0, 1}}, true},
                     {snapshot(1, 0x0), {}, false},
                     {snapshot(1, 0x2), {{P, 1, 1}}, false},
                     {snapshot(0, 0x2), {}, true}}},
        SnapshotRun{"ThirdJoystickGivesNothing", {{snapshot(2, 0x1, {100, 100}), {}, false}}}),
    [](const testing::TestParamInfo<SnapshotRun>& info) { return std::string(info.param.name); });

TEST(JoystickAdapter, AxesBecomeRawPositionsFromZeroTo65535) {
    JoystickSnapshotState state;
    JoystickEvent out[MAX_JOYSTICK_EVENTS_PER_SNAPSHOT];
    const Snapshot s = snapshot(0, 0x1, {-32768, 32767, -1, 0, 100, -100});
    ASSERT_EQ(translateJoystickSnapshot(state, s, out), 2);
    // The button record carries the stick position too.
    EXPECT_EQ(out[0].X, 0u);
    EXPECT_EQ(out[0].Y, 65535u);
    const JoystickEvent& move = out[1];
    EXPECT_EQ(move.X, 0u);
    EXPECT_EQ(move.Y, 65535u);
    EXPECT_EQ(move.Z, 32767u);
    EXPECT_EQ(move.R, 32768u);
    EXPECT_EQ(move.U, 32868u);
    EXPECT_EQ(move.V, 32668u);
    EXPECT_EQ(move.button, 0);
}

TEST(JoystickCapture, NoDeviceOrNoSupportFindsNone) {
    EXPECT_EQ(captureJoysticks(nullptr), 0u);
    irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(captureJoysticks(device), 0u);
    device->drop();
}

}  // namespace

// The engine hands the receiver one snapshot per joystick on every run() of
// the device, whether or not anything changed.
#include "client/eventreceiver.h"

#include <benchmark/benchmark.h>

namespace {

irr::SEvent snapshot(irr::u32 buttons, irr::s16 axis) {
    irr::SEvent e{};
    e.EventType = irr::EET_JOYSTICK_INPUT_EVENT;
    e.JoystickEvent.Joystick = 0;
    e.JoystickEvent.ButtonStates = buttons;
    for (irr::s16& a : e.JoystickEvent.Axis) {
        a = axis;
    }
    e.JoystickEvent.POV = 65535;
    return e;
}

// Alternating snapshots: a press, a release and a move in each.
void BM_OnEventJoystickSnapshot(benchmark::State& state) {
    EventReceiver receiver;
    const irr::SEvent snapshots[2] = {snapshot(0x1, -12000), snapshot(0x4, 9000)};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(receiver.OnEvent(snapshots[i++ & 1]));
    }
    benchmark::DoNotOptimize(receiver.getJoystickAxis0());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OnEventJoystickSnapshot);

}  // namespace

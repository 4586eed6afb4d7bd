#include "ScriptedClock.h"

#include <irrlicht.h>

ScriptedClock::ScriptedClock(uint32_t start) : real(start), virtualStart(start) {}

ScriptedClock::~ScriptedClock() {
    if (timer != nullptr) {
        // The engine's virtual time is one per process: later devices must
        // find it running again.
        timer->start();
        timer->drop();
    }
}

void ScriptedClock::drive(irr::ITimer* engineTimer) {
    if (timer != nullptr || engineTimer == nullptr) {
        return;
    }
    timer = engineTimer;
    timer->grab();
    timer->stop();
    show();
}

uint32_t ScriptedClock::getRealTime() const {
    if (perRead != 0) {
        real += perRead;
        show();
    }
    return real;
}

void ScriptedClock::restartTime() {
    virtualStart = real;
    show();
}

void ScriptedClock::sleep(uint32_t milliseconds) {
    slept.push_back(milliseconds);
    advance(milliseconds);
}

void ScriptedClock::advance(uint32_t milliseconds) {
    real += milliseconds;
    show();
}

void ScriptedClock::show() const {
    if (timer != nullptr) {
        timer->setTime(getTime());
    }
}

#include "client/gameclock.h"

#include "platform/sleep.h"

#include <irrlicht.h>

GameClock::~GameClock() = default;

EngineClock::EngineClock(irr::ITimer* timer) : timer(timer) {
    timer->grab();
}

EngineClock::~EngineClock() {
    timer->drop();
}

uint32_t EngineClock::getRealTime() const {
    return timer->getRealTime();
}

uint32_t EngineClock::getTime() const {
    return timer->getTime();
}

void EngineClock::restartTime() {
    timer->stop();
    timer->setTime(0);
    timer->start();
}

void EngineClock::sleep(uint32_t milliseconds) {
    sleepMilliseconds(milliseconds);
}

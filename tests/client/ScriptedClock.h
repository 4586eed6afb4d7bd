// The game clock of tests: time moves only when the test says so or the game
// sleeps, and a sleep returns at once. Frames, intervals and blinks of any
// length run in no real time and give the same readings on every run.
#pragma once

#include "client/gameclock.h"

#include <cstdint>
#include <vector>

class ScriptedClock : public GameClock {
public:
    // Real time starts at `start`; a value just below 2^32 lets a test cross
    // the wrap.
    explicit ScriptedClock(uint32_t start = 100000);
    // Gives the engine's virtual timer back to real time if it was driven.
    ~ScriptedClock() override;
    ScriptedClock(const ScriptedClock&) = delete;
    ScriptedClock& operator=(const ScriptedClock&) = delete;

    // From now on the engine's virtual timer (the scene's animators, the
    // particle emitters) shows this clock's virtual time: it is stopped and
    // set on every change. At most one timer, for the clock's whole life.
    void drive(irr::ITimer* timer);

    // Each reading first moves the time on by the amount advanceOnRead set.
    uint32_t getRealTime() const override;
    uint32_t getTime() const override { return real - virtualStart; }
    void restartTime() override;
    // Advances the time by `milliseconds` and notes the sleep.
    void sleep(uint32_t milliseconds) override;

    // Time the game spends working: passes without a sleep.
    void advance(uint32_t milliseconds);
    // From now on every getRealTime reading finds `milliseconds` more: work
    // that takes time wherever the game looks at the clock (0 stops it).
    void advanceOnRead(uint32_t milliseconds) { perRead = milliseconds; }
    // Every sleep asked for, in order.
    const std::vector<uint32_t>& sleeps() const { return slept; }

private:
    void show() const;

    mutable uint32_t real;
    uint32_t virtualStart;
    uint32_t perRead = 0;
    irr::ITimer* timer = nullptr;
    std::vector<uint32_t> slept;
};

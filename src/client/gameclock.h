// The game's time and its frame sleep. Every class of the game reads the
// time and gives a frame's rest back through `globals.clock`, never through
// the device's timer or the platform sleep directly, so that a test can put a
// scripted clock in and run frames, intervals and blinks without waiting.
#pragma once

#include <cstdint>

namespace irr {
class ITimer;
}

class GameClock {
public:
    virtual ~GameClock();

    // Real time in milliseconds, wrapping at 2^32: compare readings only as
    // unsigned differences. Frame steps, shot intervals and every other game
    // timing read this.
    virtual uint32_t getRealTime() const = 0;
    // The engine's virtual time in milliseconds: what the scene's animators
    // and particle emitters see. It runs at real speed from the last
    // restartTime.
    virtual uint32_t getTime() const = 0;
    // Stops the virtual time, sets it to 0 and starts it again (each game
    // and each menu entry).
    virtual void restartTime() = 0;
    // At least `milliseconds` of real time pass before it returns.
    virtual void sleep(uint32_t milliseconds) = 0;
};

// The clock of every real run: the device's timer and the platform sleep.
class EngineClock : public GameClock {
public:
    // Holds a reference to the timer for its own life.
    explicit EngineClock(irr::ITimer* timer);
    ~EngineClock() override;
    EngineClock(const EngineClock&) = delete;
    EngineClock& operator=(const EngineClock&) = delete;

    uint32_t getRealTime() const override;
    uint32_t getTime() const override;
    void restartTime() override;
    void sleep(uint32_t milliseconds) override;

private:
    irr::ITimer* timer;
};

// Runs the game's code frame by frame without a window, real time or a sound
// card: a private copy of the generated media as the working directory, a
// device of the chosen driver (the null one by default) whose window is
// always active and which runs exactly the frames a test allows, the scripted
// clock driving the engine's virtual timer too, the session log with fixed
// stamps, and the recording sound layer, all published in the global block.
// A test binary that uses it links tarnwell_sound_recording.
#pragma once

#include "ClientTestSupport.h"
#include "ScriptedClock.h"

#include "client/log.h"
#include "client/resourcehandler.h"

#include <irrlicht.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class GameLoopHarness {
public:
    // Also starts the sound layer as start-up does (44100 Hz, 32 channels,
    // no flags) on a fresh recording, so the recording begins with that
    // call. The clock starts at `start`.
    explicit GameLoopHarness(irr::video::E_DRIVER_TYPE driver = irr::video::EDT_NULL,
                             irr::IEventReceiver* receiver = nullptr, uint32_t start = 100000);
    // Closes the sound layer; the global block comes back as it was.
    ~GameLoopHarness();
    GameLoopHarness(const GameLoopHarness&) = delete;
    GameLoopHarness& operator=(const GameLoopHarness&) = delete;

    // Null when the driver could not be created (no display for OpenGL).
    irr::IrrlichtDevice* device() const;
    ScriptedClock& clock() { return scripted; }

    // Publishes the device, driver, scene manager, GUI, clock, log and the
    // resources (once loaded) again, after something (the Game constructor)
    // reset the block.
    void publish();

    // The device's run() answers true for the next `frames` calls and false
    // from then on, so a loop over it runs exactly that many frames; until
    // the first call, run() is false.
    void allowFrames(int32_t frames);
    // Calls of run() that answered true.
    int32_t framesRun() const;
    // Called by each run() that answers true, with the count of such calls
    // before it (0 for the first): a test's script acts between frames
    // (posts events, moves the clock, changes the state).
    void onFrame(std::function<void(int32_t frame)> script);
    // The window reads as inactive for the next `checks` calls of
    // isWindowActive, then active again.
    void deactivateWindow(int32_t checks);

    // Start-up's resource step: creates the resource handler, publishes it
    // and runs loadAll, whose result it returns (its exception passes).
    bool loadResources();

    // The sound layer's recorded calls as fsound::describe lines.
    std::vector<std::string> soundCalls() const;
    // What the session log holds so far.
    std::string logText() const;

private:
    class Device;

    clienttest::MediaCopy media;
    clienttest::ScopedDevice inner;
    ScriptedClock scripted;
    Device* proxy = nullptr;
    Log log;
    std::unique_ptr<ResourceHandler> resources;
};

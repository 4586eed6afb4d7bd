// Shared pieces of the client tests: an engine device published in the
// global block for the test's life, a private copy of the generated media
// to run in, and the display rules of the OpenGL tests.
#pragma once

#include "client/globals.h"
#include "platform/localtime.h"

#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace clienttest {

// A clock stopped at 3 February 2007, 09:05:00, for the log's stamps.
void fixedClock(LocalTime* out);

// Synthetic engine input events, as the device hands them to a receiver.
inline irr::SEvent keyEvent(int32_t key, bool down) {
    irr::SEvent e{};
    e.EventType = irr::EET_KEY_INPUT_EVENT;
    e.KeyInput.Key = static_cast<irr::EKEY_CODE>(key);
    e.KeyInput.PressedDown = down;
    return e;
}
inline irr::SEvent mouseEvent(irr::EMOUSE_INPUT_EVENT kind, int32_t x = 0, int32_t y = 0, float wheel = 0.0f) {
    irr::SEvent e{};
    e.EventType = irr::EET_MOUSE_INPUT_EVENT;
    e.MouseInput.Event = kind;
    e.MouseInput.X = x;
    e.MouseInput.Y = y;
    e.MouseInput.Wheel = wheel;
    return e;
}

// Collects the engine's log texts; forwards nothing.
class LogCollector : public irr::IEventReceiver {
public:
    bool OnEvent(const irr::SEvent& event) override {
        if (event.EventType == irr::EET_LOG_TEXT_EVENT && event.LogEvent.Text != nullptr) {
            texts.emplace_back(event.LogEvent.Text);
        }
        return false;
    }
    std::vector<std::string> texts;
};

// Creates a device and publishes it in globals (device, driver, scene
// manager, GUI); the previous block comes back at the end.
class ScopedDevice {
public:
    explicit ScopedDevice(irr::video::E_DRIVER_TYPE type, irr::IEventReceiver* receiver = nullptr);
    ~ScopedDevice();
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;

    irr::IrrlichtDevice* get() const { return device; }
    // Publishes the device again, after something (the Game constructor)
    // reset the block.
    void publish() const;

private:
    irr::IrrlichtDevice* device = nullptr;
    GameGlobals saved;
};

// True when an OpenGL window can be opened. Without one, the OpenGL tests
// skip, unless TARNWELL_REQUIRE_DISPLAY=1 (set by scripts/test.sh) makes
// them fail.
bool openGlAvailable();

#define REQUIRE_OPENGL()                                                                  \
    do {                                                                                  \
        if (!clienttest::openGlAvailable()) {                                             \
            const char* required = std::getenv("TARNWELL_REQUIRE_DISPLAY");               \
            if (required != nullptr && std::string(required) == "1") {                    \
                FAIL() << "no display for the OpenGL tests (TARNWELL_REQUIRE_DISPLAY=1)"; \
            }                                                                             \
            GTEST_SKIP() << "no display";                                                 \
        }                                                                                 \
    } while (0)

// Copies the generated media tree into a fresh folder and makes it the
// working directory (the game reads "media/..." relative to it); the old
// working directory comes back at the end. Tests may break files freely.
class MediaCopy {
public:
    MediaCopy();
    ~MediaCopy();
    MediaCopy(const MediaCopy&) = delete;
    MediaCopy& operator=(const MediaCopy&) = delete;

    std::string path(const std::string& relative) const { return folder + "/" + relative; }

private:
    std::string folder;
    std::string previous;
};

}  // namespace clienttest

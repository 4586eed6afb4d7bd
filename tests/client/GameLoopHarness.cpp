#include "GameLoopHarness.h"

#include "FileTestUtils.h"

#include "platform/sound/fsound.h"
#include "platform/sound/fsound_recording.h"

namespace {

const char* const kLogFile = "Session.log";

}  // namespace

// The engine's device with a window that is always active and a frame
// budget; everything else is the wrapped device's. Its sleep is the clock's,
// so nothing in the harness waits.
class GameLoopHarness::Device : public irr::IrrlichtDevice {
public:
    Device(irr::IrrlichtDevice* device, GameClock& clock) : device(device), clock(clock) { device->grab(); }
    ~Device() override { device->drop(); }

    bool run() override {
        if (allowed <= 0 || !device->run()) {
            return false;
        }
        --allowed;
        if (script) {
            script(frames);
        }
        ++frames;
        return true;
    }
    void yield() override { device->yield(); }
    void sleep(irr::u32 timeMs, bool) override { clock.sleep(timeMs); }
    irr::video::IVideoDriver* getVideoDriver() override { return device->getVideoDriver(); }
    irr::io::IFileSystem* getFileSystem() override { return device->getFileSystem(); }
    irr::gui::IGUIEnvironment* getGUIEnvironment() override { return device->getGUIEnvironment(); }
    irr::scene::ISceneManager* getSceneManager() override { return device->getSceneManager(); }
    irr::gui::ICursorControl* getCursorControl() override { return device->getCursorControl(); }
    irr::ILogger* getLogger() override { return device->getLogger(); }
    irr::video::IVideoModeList* getVideoModeList() override { return device->getVideoModeList(); }
    irr::IOSOperator* getOSOperator() override { return device->getOSOperator(); }
    irr::ITimer* getTimer() override { return device->getTimer(); }
    irr::IRandomizer* getRandomizer() const override { return device->getRandomizer(); }
    void setRandomizer(irr::IRandomizer* r) override { device->setRandomizer(r); }
    irr::IRandomizer* createDefaultRandomizer() const override { return device->createDefaultRandomizer(); }
    void setWindowCaption(const wchar_t* text) override { device->setWindowCaption(text); }
    bool isWindowActive() const override {
        if (inactiveChecks > 0) {
            --inactiveChecks;
            return false;
        }
        return true;
    }
    bool isWindowFocused() const override { return true; }
    bool isWindowMinimized() const override { return false; }
    bool isFullscreen() const override { return device->isFullscreen(); }
    irr::video::ECOLOR_FORMAT getColorFormat() const override { return device->getColorFormat(); }
    void closeDevice() override { device->closeDevice(); }
    const irr::c8* getVersion() const override { return device->getVersion(); }
    void setEventReceiver(irr::IEventReceiver* receiver) override { device->setEventReceiver(receiver); }
    irr::IEventReceiver* getEventReceiver() override { return device->getEventReceiver(); }
    bool postEventFromUser(const irr::SEvent& event) override { return device->postEventFromUser(event); }
    void setInputReceivingSceneManager(irr::scene::ISceneManager* manager) override {
        device->setInputReceivingSceneManager(manager);
    }
    void setResizable(bool resize) override { device->setResizable(resize); }
    void minimizeWindow() override { device->minimizeWindow(); }
    void maximizeWindow() override { device->maximizeWindow(); }
    void restoreWindow() override { device->restoreWindow(); }
    bool activateJoysticks(irr::core::array<irr::SJoystickInfo>& info) override {
        return device->activateJoysticks(info);
    }
    bool setGammaRamp(irr::f32 red, irr::f32 green, irr::f32 blue, irr::f32 brightness,
                      irr::f32 contrast) override {
        return device->setGammaRamp(red, green, blue, brightness, contrast);
    }
    bool getGammaRamp(irr::f32& red, irr::f32& green, irr::f32& blue, irr::f32& brightness,
                      irr::f32& contrast) override {
        return device->getGammaRamp(red, green, blue, brightness, contrast);
    }
    void clearSystemMessages() override { device->clearSystemMessages(); }
    irr::E_DEVICE_TYPE getType() const override { return device->getType(); }

    int32_t allowed = 0;
    int32_t frames = 0;
    std::function<void(int32_t)> script;
    mutable int32_t inactiveChecks = 0;

private:
    irr::IrrlichtDevice* device;
    GameClock& clock;
};

GameLoopHarness::GameLoopHarness(irr::video::E_DRIVER_TYPE driver, irr::IEventReceiver* receiver,
                                 uint32_t start)
    : inner(driver, receiver), scripted(start) {
    fsound::resetRecording();
    FSOUND_Init(44100, 32, 0);
    log.setClock(clienttest::fixedClock);
    log.open(kLogFile);
    if (inner.get() != nullptr) {
        proxy = new Device(inner.get(), scripted);
        scripted.drive(inner.get()->getTimer());
    }
    publish();
}

GameLoopHarness::~GameLoopHarness() {
    // The handler's destructor removes the driver's textures: before the
    // device goes.
    resources.reset();
    FSOUND_Close();
    if (proxy != nullptr) {
        proxy->drop();
    }
    log.close();
}

irr::IrrlichtDevice* GameLoopHarness::device() const {
    return proxy;
}

void GameLoopHarness::publish() {
    inner.publish();
    if (proxy != nullptr) {
        globals.device = proxy;
    }
    globals.clock = &scripted;
    globals.log = &log;
    globals.resources = resources.get();
}

void GameLoopHarness::allowFrames(int32_t frames) {
    if (proxy != nullptr) {
        proxy->allowed = frames;
    }
}

int32_t GameLoopHarness::framesRun() const {
    return proxy != nullptr ? proxy->frames : 0;
}

void GameLoopHarness::onFrame(std::function<void(int32_t frame)> script) {
    if (proxy != nullptr) {
        proxy->script = std::move(script);
    }
}

void GameLoopHarness::deactivateWindow(int32_t checks) {
    if (proxy != nullptr) {
        proxy->inactiveChecks = checks;
    }
}

bool GameLoopHarness::loadResources() {
    resources = std::make_unique<ResourceHandler>();
    globals.resources = resources.get();
    return resources->loadAll();
}

std::vector<std::string> GameLoopHarness::soundCalls() const {
    std::vector<std::string> lines;
    for (const fsound::RecordedCall& call : fsound::recording()) {
        lines.push_back(fsound::describe(call));
    }
    return lines;
}

std::string GameLoopHarness::logText() const {
    return testsupport::readFile(kLogFile);
}

#include "client/startup.h"

#include "client/control.h"
#include "client/game.h"
#include "client/gameclock.h"
#include "client/gamemenu.h"
#include "client/globals.h"
#include "client/inifile.h"
#include "client/log.h"
#include "client/settings.h"
#include "client/utilities.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <vector>

namespace {

const char* const kIniFileName = "/tarnwell.ini";

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

}  // namespace

void ignoreBrokenOutput() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

std::string iniFilePath(size_t bufferSize) {
    const size_t nameLength = std::strlen(kIniFileName);
    if (bufferSize > nameLength + 1) {
        std::vector<char> directory(bufferSize - nameLength);
        if (getcwd(directory.data(), directory.size()) != nullptr) {
            return std::string(directory.data()) + kIniFileName;
        }
    }
    return std::string(".") + kIniFileName;
}

irr::core::dimension2di correctResolution(int32_t resolutionX, int32_t /*resolutionY*/) {
    if (resolutionX == 800) {
        return irr::core::dimension2di(800, 600);
    }
    return irr::core::dimension2di(1024, 768);
}

irr::video::E_DRIVER_TYPE driverForDevice(const std::string& /*device*/) {
    return irr::video::EDT_OPENGL;
}

StartupSettings readStartupSettings(IniFile& ini) {
    StartupSettings settings;
    settings.driver = driverForDevice(ini.getString("GeneralGraphics", "Device", "DirectX9"));
    globals.serverAddress = ini.getString("Server", "IP", "127.0.0.1");
    globals.serverPort = ini.getString("Server", "Port", "7988");
    const int32_t x = ini.getInt("GeneralGraphics", "ResolutionX", 1024);
    const int32_t y = ini.getInt("GeneralGraphics", "ResolutionY", 768);
    const irr::core::dimension2di mode = correctResolution(x, y);
    globals.resolutionX = mode.Width;
    globals.resolutionY = mode.Height;
    settings.resolutionX = mode.Width;
    settings.resolutionY = mode.Height;
    settings.fullscreen = ini.getInt("GeneralGraphics", "WindowedMode", 0) == 0;
    return settings;
}

void writeSettingDefaults(IniFile& ini) {
    readGraphicsSettings(ini, MENU_CLEAR_COLOR);
    Control::readKeyNames(ini);
    Control::readMouseInverted(ini);
}

irr::IrrlichtDevice* createGameDevice(const StartupSettings& settings, irr::IEventReceiver* receiver) {
    irr::SIrrlichtCreationParameters params;
    params.DriverType = settings.driver;
    params.WindowSize = irr::core::dimension2d<irr::u32>(static_cast<irr::u32>(settings.resolutionX),
                                                          static_cast<irr::u32>(settings.resolutionY));
    params.Bits = 32;
    params.Fullscreen = settings.fullscreen;
    params.Stencilbuffer = false;
    params.Vsync = false;
    params.EventReceiver = receiver;
    params.LoggingLevel = irr::ELL_INFORMATION;
    irr::IrrlichtDevice* device = irr::createDeviceEx(params);
    if (device != nullptr) {
        irr::core::array<irr::SJoystickInfo> joysticks;
        device->activateJoysticks(joysticks);
    }
    return device;
}

void runStateLoop(Game& game, GameMenu& menu, const wchar_t* caption) {
    while (globals.gameState != GS_END) {
        const GameState entered = globals.gameState;
        if (entered == GS_GAME_RUN) {
            logLine("Enter gamestate: GAME RUN");
            logLine("Initialize game...");
            logMemoryStatus();
            game.init(caption);
            logLine("...game initialization done");
            logMemoryStatus();
            game.run();
        } else if (entered == GS_MENU) {
            logLine("Enter gamestate: MENU");
            logLine("Initialize game menu...");
            logMemoryStatus();
            const bool started = menu.init(caption);
            logLine("...game menu initialization done");
            logMemoryStatus();
            if (!started) {
                // Nothing can be shown without the menu: end as the menu's
                // exit button would.
                logLine("The game menu could not start");
                menu.cleanup();
                globals.gameState = GS_END;
                break;
            }
            menu.run();
        } else {
            globals.gameState = GS_END;
            break;
        }
        if (globals.gameState != entered) {
            continue;
        }
        // The state ended by itself: the window was closed, or it lost the
        // focus. A closed window never comes back.
        if (!globals.device->run()) {
            logLine("The window was closed");
            globals.gameState = GS_END;
        } else if (!globals.device->isWindowActive() && globals.clock != nullptr) {
            globals.clock->sleep(INACTIVE_WINDOW_PAUSE_MS);
        }
    }
}

// The program: brings up the single instances every state uses, alternates
// menu and game until the state is END, and shuts down. It reads no
// command-line argument. Exit status: 0 after END, 1 after a failed start or
// a fatal Exception (its message on standard error, then in the log).
#include "client/crashhandler.h"
#include "client/eventreceiver.h"
#include "client/exception.h"
#include "client/game.h"
#include "client/gameclock.h"
#include "client/gamemenu.h"
#include "client/globals.h"
#include "client/inifile.h"
#include "client/log.h"
#include "client/resourcehandler.h"
#include "client/startup.h"
#include "client/utilities.h"
#include "platform/sound/fsound.h"

#include <irrlicht.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

// The single instances main makes, released in reverse order whichever way
// main leaves (the device last but for the log).
struct ProgramObjects {
    std::unique_ptr<Log> log;
    std::unique_ptr<IniFile> iniFile;
    std::string iniPath;  // the ini file keeps a pointer to it
    std::unique_ptr<EventReceiver> eventReceiver;
    irr::IrrlichtDevice* device = nullptr;
    std::unique_ptr<EngineClock> clock;
    std::unique_ptr<ResourceHandler> resources;
    bool soundStarted = false;

    ~ProgramObjects() {
        // The handler removes the driver's textures: before the device.
        resources.reset();
        globals.resources = nullptr;
        if (soundStarted) {
            FSOUND_Close();
        }
        clock.reset();
        globals.clock = nullptr;
        if (device != nullptr) {
            device->drop();
        }
        globals.device = nullptr;
        globals.driver = nullptr;
        globals.sceneManager = nullptr;
        globals.gui = nullptr;
        eventReceiver.reset();
        globals.eventReceiver = nullptr;
        if (log != nullptr) {
            log->close();
        }
        iniFile.reset();
        globals.iniFile = nullptr;
        log.reset();
        globals.log = nullptr;
    }
};

int32_t startAndRun(ProgramObjects& program, Game& game, GameMenu& menu) {
    program.iniPath = iniFilePath();
    program.iniFile = std::make_unique<IniFile>(program.iniPath.c_str());
    globals.iniFile = program.iniFile.get();
    const StartupSettings settings = readStartupSettings(*program.iniFile);
    writeSettingDefaults(*program.iniFile);

    program.eventReceiver = std::make_unique<EventReceiver>();
    globals.eventReceiver = program.eventReceiver.get();
    program.device = createGameDevice(settings, program.eventReceiver.get());
    if (program.device == nullptr) {
        std::fputs("Tarnwell: the window could not be opened (see Session.log)\n", stderr);
        return EXIT_FAILURE_STATUS;
    }
    globals.device = program.device;
    program.device->setWindowCaption(WINDOW_CAPTION);
    globals.driver = program.device->getVideoDriver();
    globals.sceneManager = program.device->getSceneManager();
    globals.gui = program.device->getGUIEnvironment();
    if (globals.driver == nullptr || globals.sceneManager == nullptr || globals.gui == nullptr) {
        return EXIT_FAILURE_STATUS;
    }
    program.clock = std::make_unique<EngineClock>(program.device->getTimer());
    globals.clock = program.clock.get();
    std::srand(globals.clock->getRealTime());

    logMemoryStatus();
    char line[64];
    std::snprintf(line, sizeof(line), "Processor speed: %d", getCpuMhz());
    logLine(line);

    logLine("Initialize FMod...");
    FSOUND_Init(44100, 32, 0);
    program.soundStarted = true;
    logLine("...FMod initialization done");

    program.resources = std::make_unique<ResourceHandler>();
    globals.resources = program.resources.get();
    logLine("Load resources...");
    if (!program.resources->loadAll()) {
        std::fputs("Tarnwell: the driver cannot render to a texture\n", stderr);
        return EXIT_FAILURE_STATUS;
    }
    logLine("...resource loading done");

    globals.gameState = GS_MENU;
    runStateLoop(game, menu, WINDOW_CAPTION);
    logLine("Enter gamestate: END");
    return EXIT_NORMAL;
}

}  // namespace

int main() {
    ignoreBrokenOutput();
    globals.crashHandler = new CrashHandler("Tarnwell");
    int32_t status = EXIT_FAILURE_STATUS;
    {
        Game game;
        GameMenu menu;
        ProgramObjects program;
        program.log = std::make_unique<Log>();
        globals.log = program.log.get();
        program.log->open("Session.log");
        program.log->writeWide(WINDOW_CAPTION);
        try {
            status = startAndRun(program, game, menu);
        } catch (const Exception& exception) {
            exception.showMessageBox();
            exception.log();
            status = EXIT_FAILURE_STATUS;
        }
        // The state an Exception interrupted is torn down before the engine
        // goes (only that one: each clean-up clears the whole scene).
        if (status != EXIT_NORMAL && globals.gameState == GS_GAME_RUN) {
            game.cleanup();
        } else if (status != EXIT_NORMAL) {
            menu.cleanup();
        }
    }
    delete globals.crashHandler;
    globals.crashHandler = nullptr;
    return status;
}

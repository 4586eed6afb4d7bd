// The pieces of the program's start-up and its game-state loop that main
// strings together (main.cpp): the ini file's place, the window settings read
// from it, the device, and the loop that alternates menu and game until the
// state is END.
#pragma once

#include <irrlicht.h>

#include <cstddef>
#include <cstdint>
#include <string>

class Game;
class GameMenu;
class IniFile;

// The window caption; also the log's first line.
constexpr const wchar_t* WINDOW_CAPTION = L"Tarnwell V0.2 $Rev: 8 $";

// Exit status of the process: 0 after the END state, 1 after a failed start
// or a fatal Exception.
constexpr int32_t EXIT_NORMAL = 0;
constexpr int32_t EXIT_FAILURE_STATUS = 1;

// How long the state loop waits before it enters a state again while the
// window is inactive (each such entry ends at once), ms.
constexpr uint32_t INACTIVE_WINDOW_PAUSE_MS = 100;

// Makes a write to standard output or error that nobody can take (a pipe
// whose reader has gone, as in `tarnwell | head`, or a file at its size
// limit) fail, to be dropped, instead of ending the program by SIGPIPE or
// SIGXFSZ. The first step of start-up.
void ignoreBrokenOutput();

// What the window is made with.
struct StartupSettings {
    irr::video::E_DRIVER_TYPE driver = irr::video::EDT_OPENGL;
    int32_t resolutionX = 1024;  // one of the two supported modes
    int32_t resolutionY = 768;
    bool fullscreen = true;
};

// The working directory followed by "/tarnwell.ini". The directory is
// fetched into a buffer of `bufferSize` bytes less the file name's length;
// one that does not fit there gives "./tarnwell.ini".
std::string iniFilePath(size_t bufferSize = 4096);

// The two supported modes: a width of 800 gives 800 x 600, any other width
// 1024 x 768; the height read is not consulted.
irr::core::dimension2di correctResolution(int32_t resolutionX, int32_t resolutionY);

// The driver for a [GeneralGraphics] "Device" text: OpenGL whatever it says,
// there being no Direct3D here ("DirectX9", the default, included).
irr::video::E_DRIVER_TYPE driverForDevice(const std::string& device);

// Reads, in start-up's order, [GeneralGraphics] "Device", [Server] "IP" and
// "Port" (into globals.serverAddress and serverPort), [GeneralGraphics]
// "ResolutionX" and "ResolutionY" (corrected into globals.resolutionX and
// resolutionY; the correction is not written back) and "WindowedMode"
// (fullscreen exactly when 0). Missing values are written with their
// defaults.
StartupSettings readStartupSettings(IniFile& ini);

// Writes every other setting the program reads, so that the file lists
// them all before the menu shows: the graphics settings (settings.h) with the
// menu's clear colour, then [Controls]' twenty key bindings and
// "MouseInverted". Values the file holds are kept; only a missing or
// unusable one is written with its default.
void writeSettingDefaults(IniFile& ini);

// The device for the settings, 32 bits per pixel, no stencil buffer, no
// vertical sync, with the receiver; its joysticks are captured at once.
// Null when the engine cannot make it. Where the X server cannot switch
// modes the engine opens a window instead of a full screen (it logs why).
irr::IrrlichtDevice* createGameDevice(const StartupSettings& settings, irr::IEventReceiver* receiver);

// The game-state loop: enters the state globals.gameState names, runs it and
// cleans it up, until the state is END. Logs each entry. A menu that cannot
// start, or a window that was closed, ends the loop as END does; while the
// window is inactive every entry ends at once, and the loop pauses
// INACTIVE_WINDOW_PAUSE_MS (through globals.clock) before the next.
void runStateLoop(Game& game, GameMenu& menu, const wchar_t* caption);

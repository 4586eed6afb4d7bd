// The game's fatal loading error: thrown by value, caught by main, shown in a
// message box and logged.
#pragma once

#include <cstdint>
#include <string>

class Exception {
public:
    Exception(const char* file, int32_t line, const char* message);
    Exception(const Exception& other);
    ~Exception();

    // "Critical error!\n<file>: line <line>\n<message>", titled "Exception";
    // cut to 256 characters.
    void showMessageBox() const;
    // "EXCEPTION in <file>: line <line> - <message>" to the game log; cut to
    // 1000 characters.
    void log() const;

    std::string file;  // source of the throwing code, e.g. "src/client/hud"
    int32_t line;
    std::string message;
};

// The repository-relative source path without its extension:
// ".../src/client/hud.cpp" gives "src/client/hud".
std::string exceptionSourceName(const char* path);

#define THROW_EXCEPTION(message) throw Exception(exceptionSourceName(__FILE__).c_str(), __LINE__, (message))

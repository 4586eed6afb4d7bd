// The session log: one file, one time-stamped line per write, flushed at
// once so that nothing is lost when the program dies.
#pragma once

#include <cstdio>

struct LocalTime;

class Log {
public:
    // Where the line stamps come from; tests put a fixed clock in.
    using Clock = void (*)(LocalTime* out);

    Log();
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens the file for writing, discarding what it held. True when the
    // stream exists: a file that cannot be opened leaves a stream that writes
    // nowhere.
    bool open(const char* fileName);
    bool close();

    // "DD.MM.YYYY hh:mm:ss: text" and a line feed. Dropped before open, after
    // close and for a null text.
    void write(const char* text);
    // Characters outside ASCII are written as "?".
    void writeWide(const wchar_t* text);

    void setClock(Clock clock);

private:
    struct Stream;
    Stream* stream;
    Clock clock;
};

#include "client/log.h"

#include "platform/localtime.h"

#include <string>

struct Log::Stream {
    std::FILE* file = nullptr;  // null: the stream writes nowhere
};

Log::Log() : stream(nullptr), clock(getLocalTime) {}

Log::~Log() {
    close();
    delete stream;
}

bool Log::open(const char* fileName) {
    close();
    delete stream;
    stream = new Stream;
    if (fileName != nullptr) {
        stream->file = std::fopen(fileName, "w");
    }
    return stream != nullptr;
}

bool Log::close() {
    if (stream != nullptr && stream->file != nullptr) {
        std::fclose(stream->file);
        stream->file = nullptr;
    }
    return true;
}

void Log::write(const char* text) {
    if (stream == nullptr || stream->file == nullptr || text == nullptr) {
        return;
    }
    LocalTime now;
    clock(&now);
    std::fprintf(stream->file, "%02u.%02u.%04u %02u:%02u:%02u: %s\n", unsigned(now.day), unsigned(now.month),
                 unsigned(now.year), unsigned(now.hour), unsigned(now.minute), unsigned(now.second), text);
    std::fflush(stream->file);
}

void Log::writeWide(const wchar_t* text) {
    if (text == nullptr) {
        return;
    }
    std::string narrow;
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        narrow.push_back(*c > 0 && *c < 128 ? static_cast<char>(*c) : '?');
    }
    write(narrow.c_str());
}

void Log::setClock(Clock newClock) {
    clock = newClock != nullptr ? newClock : getLocalTime;
}

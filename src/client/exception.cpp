#include "client/exception.h"

#include "client/globals.h"
#include "client/log.h"
#include "platform/messagebox.h"

#include <cstdio>
#include <cstring>

Exception::Exception(const char* file_, int32_t line_, const char* message_)
    : file(file_ != nullptr ? file_ : ""), line(line_), message(message_ != nullptr ? message_ : "") {}

Exception::Exception(const Exception& other) = default;

Exception::~Exception() = default;

void Exception::showMessageBox() const {
    static char text[256];
    std::snprintf(text, sizeof(text), "Critical error!\n%s: line %d\n%s", file.c_str(), line,
                  message.c_str());
    ::showMessageBox("Exception", text);
}

void Exception::log() const {
    static char text[1000];
    std::snprintf(text, sizeof(text), "EXCEPTION in %s: line %d - %s", file.c_str(), line, message.c_str());
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

std::string exceptionSourceName(const char* path) {
    std::string name = path != nullptr ? path : "";
    // The build maps the source root away; an absolute path still loses it.
    const size_t src = name.rfind("/src/");
    if (src != std::string::npos) {
        name.erase(0, src + 1);
    }
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        name.erase(dot);
    }
    return name;
}

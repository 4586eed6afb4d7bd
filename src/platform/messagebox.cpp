#include "platform/messagebox.h"

#include <cstdio>

void showMessageBox(const char* title, const char* text) {
    std::fprintf(stderr, "%s: %s\n", title != nullptr ? title : "", text != nullptr ? text : "");
    std::fflush(stderr);
}

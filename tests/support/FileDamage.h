// What can stand where a program expects a data file, and a bound on the
// check that meets it: a check that would block on a FIFO or read /dev/zero
// for ever must fail its test, not stop the whole run. Header-only, POSIX.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

enum class FileDamage {
    Missing,
    Truncated,  // the first half of the bytes
    DevZero,    // a symbolic link to /dev/zero, which never ends
    Fifo,       // a FIFO without a writer: opening or reading it waits for ever
    Folder,
    Grown,      // the bytes, then a 1 GiB hole: reading it whole takes a gigabyte
    Linked,     // no damage: a symbolic link to an intact copy
};

constexpr FileDamage kEveryFileDamage[] = {FileDamage::Missing, FileDamage::Truncated, FileDamage::DevZero,
                                           FileDamage::Fifo,    FileDamage::Folder,    FileDamage::Grown,
                                           FileDamage::Linked};

inline const char* damageName(FileDamage damage) {
    static const char* const kNames[] = {"Missing", "Truncated", "DevZero", "Fifo", "Folder", "Grown", "Linked"};
    return kNames[static_cast<int>(damage)];
}

// Puts `damage` where `path` held `bytes`; a Linked copy goes to path + ".copy".
inline void damageFile(const std::string& path, const std::string& bytes, FileDamage damage) {
    namespace fs = std::filesystem;
    fs::remove_all(path);
    const auto write = [](const std::string& to, const std::string& text) {
        std::ofstream(to, std::ios::binary | std::ios::trunc) << text;
    };
    switch (damage) {
        case FileDamage::Missing:
            break;
        case FileDamage::Truncated:
            write(path, bytes.substr(0, bytes.size() / 2));
            break;
        case FileDamage::DevZero:
            fs::create_symlink("/dev/zero", path);
            break;
        case FileDamage::Fifo:
            mkfifo(path.c_str(), 0644);
            break;
        case FileDamage::Folder:
            fs::create_directory(path);
            break;
        case FileDamage::Grown:
            write(path, bytes);
            fs::resize_file(path, bytes.size() + (uint64_t(1) << 30));
            break;
        case FileDamage::Linked:
            write(path + ".copy", bytes);
            fs::create_symlink(fs::absolute(path + ".copy"), path);
            break;
    }
}

// `bytes` back at `path`, whatever damageFile left there.
inline void restoreFile(const std::string& path, const std::string& bytes) {
    std::filesystem::remove_all(path);
    std::filesystem::remove(path + ".copy");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Bytes this process has taken through read() and its kin (rchar of
// /proc/self/io); the reading of that file itself adds about a hundred.
inline uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

// Runs `check` in a child process that has `seconds` to end: the child's
// exit status (what `check` returned, 0 to 255), or -1 when it hung (the
// alarm ended it) or died otherwise.
inline int runBounded(unsigned seconds, const std::function<int()>& check) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        _exit(check());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace testsupport

#include "platform/regularfile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int openRegularFile(const char* path, uint64_t* size) {
    if (path == nullptr) {
        return -1;
    }
    // O_NONBLOCK: opening a FIFO without a writer would wait for one. The
    // type is then read from the descriptor itself, not from the name, so
    // nothing can be swapped in between.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    if (size != nullptr) {
        *size = static_cast<uint64_t>(info.st_size);
    }
    return fd;
}

std::FILE* fopenRegularFile(const char* path) {
    const int fd = openRegularFile(path);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

bool readRegularFile(const char* path, uint64_t maxBytes, std::string& bytes) {
    bytes.clear();
    uint64_t size = 0;
    const int fd = openRegularFile(path, &size);
    if (fd < 0) {
        return false;
    }
    bool ok = size <= maxBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(size));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, &bytes[got], bytes.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;  // cut meanwhile, or failed
            }
            got += static_cast<size_t>(n);
        }
        ok = got == bytes.size();
    }
    close(fd);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}

#include "dgTextFile.h"

#include "dgAssert.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const dgTextFileDataDirectory = "/usr/local/share/3dlibdata";

namespace {

// directory + '/' + name into out; false (out unusable) when it does not fit.
bool dgJoinPath(char* out, size_t outSize, const char* directory, const char* name) {
    DG_ASSERT(out && directory && name);
    if (outSize == 0) {
        return false;
    }
    const int written = snprintf(out, outSize, "%s/%s", directory, name);
    return (written >= 0) && (size_t(written) < outSize);
}

// O_NONBLOCK keeps a FIFO of the searched name from stalling the caller.
bool dgOpenStat(const char* path, struct stat& info) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = (fstat(fd, &info) == 0);
    close(fd);
    return ok;
}

bool dgIsReadableFile(const char* path) {
    struct stat info;
    return dgOpenStat(path, info) && S_ISREG(info.st_mode);
}

bool dgFindBaseInTree(const char* base, const std::string& directory, char* outPath, size_t outPathSize) {
    if (!dgJoinPath(outPath, outPathSize, directory.c_str(), base)) {
        // Every path below this directory is longer still.
        return false;
    }
    if (dgIsReadableFile(outPath)) {
        return true;
    }

    DIR* listing = opendir(directory.c_str());
    if (!listing) {
        return false;
    }
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(listing);
        if (!entry) {
            break;
        }
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string subdirectory = directory + "/" + entry->d_name;
        bool isDirectory = (entry->d_type == DT_DIR);
        if (entry->d_type == DT_UNKNOWN) {
            // lstat, not stat: a link back up the tree would recurse forever.
            struct stat info;
            isDirectory = (lstat(subdirectory.c_str(), &info) == 0) && S_ISDIR(info.st_mode);
        }
        if (isDirectory) {
            found = dgFindBaseInTree(base, subdirectory, outPath, outPathSize);
        }
    }
    closedir(listing);
    return found;
}

// Only a pure read may fall back to another file: a writing open of a copy found
// elsewhere would truncate or modify an unrelated file of the same name.
bool dgIsReadingMode(const char* mode) {
    DG_ASSERT(mode);
    return (mode[0] == 'r') && !strchr(mode, '+');
}

bool dgWriteAll(int fd, const char* data, size_t size) {
    while (size) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        DG_ASSERT(size_t(written) <= size);
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Copies source to target, failing when target exists. A partial copy is removed.
// The modification time travels with the data so newer-file tests see the source's age.
bool dgCopyFileExclusive(const char* source, const char* target) {
    const int in = open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat info;
    if ((fstat(in, &info) != 0) || !S_ISREG(info.st_mode)) {
        close(in);
        return false;
    }
    const int out = open(target, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        close(in);
        return false;
    }

    bool ok = true;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        if (!dgWriteAll(out, buffer, size_t(got))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        futimens(out, times);
    }
    close(in);
    if (close(out) != 0) {
        ok = false;
    }
    if (!ok) {
        unlink(target);
    }
    return ok;
}

bool dgIsKeyDelimiter(int ch) {
    return (ch == '\t') || (ch == '\r') || (ch == '\n') || (ch == '=') || (ch == ' ');
}

// Reads one key token (possibly empty) and leaves the stream on the delimiter
// that ended it, or at end of file. Returns the token's full length in
// characters, NUL bytes included; token keeps its first dgTextFileTokenSize - 1
// characters, terminated. Every character read goes through the length, so a
// NUL or an overlong tail can never pass for the end of the token.
size_t dgReadKeyToken(FILE* stream, char* token) {
    size_t length = 0;
    for (int ch = fgetc(stream); ch != EOF; ch = fgetc(stream)) {
        if (dgIsKeyDelimiter(ch)) {
            ungetc(ch, stream);
            break;
        }
        if (length < dgTextFileTokenSize - 1) {
            token[length] = char(ch);
        }
        ++length;
    }
    token[(length < dgTextFileTokenSize) ? length : dgTextFileTokenSize - 1] = 0;
    return length;
}

// True when the whole token equals key ignoring case. A key that fits no token
// buffer never matches, so a token is never judged by its head alone.
bool dgIsKeyToken(const char* token, size_t tokenLength, const char* key, size_t keyLength) {
    if ((tokenLength != keyLength) || (keyLength == 0) || (keyLength >= dgTextFileTokenSize)) {
        return false;
    }
    // The length check above is what makes an embedded NUL a mismatch: the
    // comparison stops at the token's NUL where the key still has characters.
    return strncasecmp(token, key, keyLength) == 0;
}

// True when name, taken relative to the current directory, stays below it: not
// absolute, and no ".." climbs above the level where the name started.
bool dgStaysBelowWorkingDirectory(const char* name) {
    if (name[0] == '/') {
        return false;
    }
    int32_t depth = 0;
    const char* component = name;
    while (*component) {
        const size_t length = strcspn(component, "/");
        const char* const end = component + length;
        if ((length == 2) && (component[0] == '.') && (component[1] == '.')) {
            if (--depth < 0) {
                return false;
            }
        } else if ((length > 1) || ((length == 1) && (component[0] != '.'))) {
            ++depth;
        }
        component = *end ? end + 1 : end;
    }
    return true;
}

}  // namespace

dgTextFile::dgTextFile(const char* fileName, const char* mode) : m_stream(nullptr) {
    m_name[0] = 0;
    ::dgTextFileOpen(*this, fileName, mode);
}

dgTextFile::dgTextFile(const char* fileName, const char* mode, char* buffer, size_t bufferSize)
    : m_stream(nullptr) {
    m_name[0] = 0;
    if (::dgTextFileOpen(*this, fileName, mode)) {
        setvbuf(m_stream, buffer, _IOFBF, bufferSize);
    }
}

dgTextFile::~dgTextFile() {
    close();
}

void* dgTextFile::operator new(size_t size) noexcept {
    return malloc(size);
}

void dgTextFile::operator delete(void* ptr) noexcept {
    free(ptr);
}

void dgTextFile::close() {
    if (m_stream) {
        fclose(m_stream);
        m_stream = nullptr;
    }
}

int dgTextFile::print(const char* format, ...) {
    if (!m_stream) {
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int result = vfprintf(m_stream, format, args);
    va_end(args);
    return result;
}

int dgTextFile::scan(const char* format, ...) {
    if (!m_stream) {
        return EOF;
    }
    va_list args;
    va_start(args, format);
    const int result = vfscanf(m_stream, format, args);
    va_end(args);
    return result;
}

int dgTextFile::scanKeyedValue(const char* key, const char* format, ...) {
    if (!::dgTextFileScanKey(*this, key)) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int result = vfscanf(m_stream, format, args);
    va_end(args);
    return result;
}

int dgTextFile::scanSectionValue(const char* section, const char* key, const char* format, ...) {
    if (!m_stream) {
        return 0;
    }
    ::rewind(m_stream);
    if (!::dgTextFileScanKey(*this, section) || !::dgTextFileScanKey(*this, key)) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int result = vfscanf(m_stream, format, args);
    va_end(args);
    return result;
}

int dgTextFile::seek(long offset, int origin) {
    return m_stream ? fseek(m_stream, offset, origin) : -1;
}

long dgTextFile::tell() {
    return m_stream ? ftell(m_stream) : -1L;
}

void dgTextFile::rewind() {
    if (m_stream) {
        ::rewind(m_stream);
    }
}

int dgTextFile::flush() {
    // fflush(nullptr) would flush every stream of the process.
    return m_stream ? fflush(m_stream) : EOF;
}

int dgTextFile::getChar() {
    return m_stream ? fgetc(m_stream) : EOF;
}

int dgTextFile::putChar(int ch) {
    return m_stream ? fputc(ch, m_stream) : EOF;
}

int dgTextFile::ungetChar(int ch) {
    return m_stream ? ungetc(ch, m_stream) : EOF;
}

char* dgTextFile::readLine(char* buffer, int bufferSize) {
    return m_stream ? fgets(buffer, bufferSize, m_stream) : nullptr;
}

size_t dgTextFile::read(void* buffer, size_t size, size_t count) {
    return m_stream ? fread(buffer, size, count, m_stream) : 0;
}

size_t dgTextFile::write(const void* buffer, size_t size, size_t count) {
    return m_stream ? fwrite(buffer, size, count, m_stream) : 0;
}

int dgTextFile::isEof() {
    return m_stream ? feof(m_stream) : 1;
}

bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode, const char* dataDirectory) {
    // A null name is allowed: it leaves a closed object to be opened later.
    DG_ASSERT(mode);
    file.close();
    file.m_name[0] = 0;
    if (!fileName || !mode) {
        return false;
    }
    const size_t nameLength = strlen(fileName);
    if (nameLength >= dgTextFileNameSize) {
        return false;
    }
    memcpy(file.m_name, fileName, nameLength + 1);

    file.m_stream = fopen(fileName, mode);
    if (file.m_stream) {
        return true;
    }
    if (!dgIsReadingMode(mode)) {
        return false;
    }

    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) {
        return false;
    }
    char found[PATH_MAX];
    if (dgFindFileInTree(fileName, cwd, found, sizeof(found))) {
        file.m_stream = fopen(found, mode);
    } else if (dataDirectory && dgStaysBelowWorkingDirectory(fileName) &&
               dgFindFileInTree(fileName, dataDirectory, found, sizeof(found))) {
        // The copy goes where the name as given points; a name leading out of
        // the current directory would let a data file be planted anywhere.
        char target[PATH_MAX];
        if (!dgJoinPath(target, sizeof(target), cwd, fileName)) {
            return false;
        }
        // A failed copy (existing target, missing directory) is not an error by
        // itself: the open below then fails or finds the existing target.
        dgCopyFileExclusive(found, target);
        file.m_stream = fopen(target, mode);
    }
    return file.m_stream != nullptr;
}

bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode) {
    return dgTextFileOpen(file, fileName, mode, dgTextFileDataDirectory);
}

int dgTextFileScanKey(dgTextFile& file, const char* key) {
    DG_ASSERT(key);
    FILE* const stream = file.getStream();
    if (!stream || !key) {
        return 0;
    }
    const size_t keyLength = strlen(key);
    char token[dgTextFileTokenSize];
    for (;;) {
        // A token ended by the end of the file still counts: the last key of a
        // file without a final line break is found.
        const size_t length = dgReadKeyToken(stream, token);
        if (dgIsKeyToken(token, length, key, keyLength)) {
            return 1;
        }
        // Steps over the delimiter the token stopped at; every round consumes at
        // least this character, so the scan always reaches the end. A read error
        // also ends it (fgetc fails without setting the end-of-file indicator).
        if (fgetc(stream) == EOF) {
            return 0;
        }
    }
}

bool dgFileIsNewer(const char* fileA, const char* fileB) {
    struct stat infoA;
    struct stat infoB;
    if (!fileA || !fileB || !dgOpenStat(fileA, infoA) || !dgOpenStat(fileB, infoB)) {
        return false;
    }
    if (infoB.st_mtim.tv_sec != infoA.st_mtim.tv_sec) {
        return infoB.st_mtim.tv_sec > infoA.st_mtim.tv_sec;
    }
    return infoB.st_mtim.tv_nsec > infoA.st_mtim.tv_nsec;
}

bool dgFindFileInTree(const char* fileName, const char* directory, char* outPath, size_t outPathSize) {
    DG_ASSERT(fileName && directory && outPath && (outPathSize > 0));
    if (!fileName || !directory || !outPath || (outPathSize == 0)) {
        return false;
    }
    const char* const slash = strrchr(fileName, '/');
    const char* const base = slash ? slash + 1 : fileName;
    if (!base[0]) {
        return false;
    }
    return dgFindBaseInTree(base, directory, outPath, outPathSize);
}

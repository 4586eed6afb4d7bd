// Text file over a C standard I/O stream, with keyed-value scanning and an
// open that falls back to searching the working tree and the data directory.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Directory searched last by a reading open; a file found there is copied into
// the current directory and the copy is opened.
extern const char* const dgTextFileDataDirectory;

// Capacity of the name kept by a text file, terminator included: names of more
// than dgTextFileNameSize - 1 characters are refused by the open.
constexpr size_t dgTextFileNameSize = 256;

// Capacity of the key token buffer of the keyed scans, terminator included.
// A token longer than dgTextFileTokenSize - 1 characters never matches a key.
constexpr size_t dgTextFileTokenSize = 512;

// A text file. The stream is null when the object was closed or the open failed;
// test getStream() to learn whether the open succeeded (operations on a closed
// object fail without touching any stream). Not copyable: the object owns its
// stream and closes it on destruction.
// Heap instances come from the C library's malloc and go back with free (class
// operators new/delete); instances on the stack are fine as well. The keyed
// scans are not re-entrant across threads: one thread uses text files at a time.
class dgTextFile;
bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode);
int dgTextFileScanKey(dgTextFile& file, const char* key);

class dgTextFile {
public:
    // Opens with dgTextFileOpen (fileName, mode).
    dgTextFile(const char* fileName, const char* mode);

    // Opens as above and, when a stream was obtained, gives it the caller's
    // buffer with full buffering (setvbuf). The buffer must outlive the stream.
    dgTextFile(const char* fileName, const char* mode, char* buffer, size_t bufferSize);

    // Closes the stream when there is one.
    virtual ~dgTextFile();

    dgTextFile(const dgTextFile&) = delete;
    dgTextFile& operator=(const dgTextFile&) = delete;

    // Allocation through the C library, as the rest of the engine expects of
    // this class. Returns null (and the new-expression yields null) when malloc fails.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* ptr) noexcept;

    // The stream; null when closed or when opening failed.
    FILE* getStream() const { return m_stream; }

    // The file name as given to the last open (empty when it was refused).
    const char* getName() const { return m_name; }

    // Closes the stream (if any); the object may then be opened again.
    void close();

    // Member forms of the free functions below, on this file.
    bool dgTextFileOpen(const char* fileName, const char* mode) {
        return ::dgTextFileOpen(*this, fileName, mode);
    }
    int dgTextFileScanKey(const char* key) { return ::dgTextFileScanKey(*this, key); }

    // vfprintf / vfscanf on the stream; the C library's results are passed
    // through (-1 / EOF on a closed object).
    int print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int scan(const char* format, ...) __attribute__((format(scanf, 2, 3)));

    // Finds key with dgTextFileScanKey, then scans format from right after it.
    // Returns 0 when the key is not found, otherwise the result of fscanf.
    int scanKeyedValue(const char* key, const char* format, ...) __attribute__((format(scanf, 3, 4)));

    // Rewinds, finds section, then key after it, then scans format from there.
    // Returns 0 as soon as either key is not found, otherwise the result of fscanf.
    int scanSectionValue(const char* section, const char* key, const char* format, ...)
        __attribute__((format(scanf, 4, 5)));

    // The C library operations of the same names, results passed through. On a
    // closed object they return the library's failure value (-1, EOF, null, 0)
    // instead of touching a null stream; isEof then reports end of file.
    int seek(long offset, int origin);
    long tell();
    void rewind();
    int flush();
    int getChar();
    int putChar(int ch);
    int ungetChar(int ch);
    char* readLine(char* buffer, int bufferSize);
    size_t read(void* buffer, size_t size, size_t count);
    size_t write(const void* buffer, size_t size, size_t count);

    // Non-zero when the stream's end-of-file indicator is set.
    int isEof();

private:
    friend bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode,
                               const char* dataDirectory);

    FILE* m_stream;
    char m_name[dgTextFileNameSize];
};

// Opens file (closing a stream it may hold) on fileName with the fopen mode.
// When fileName cannot be opened as named and the mode only reads ("r", "rb",
// "rt"), a file of the same base name is searched for below the current
// directory, then below dataDirectory; one found under dataDirectory is copied
// to the current directory + '/' + fileName (never over an existing file) and
// the copy is opened. That copy is refused for a name that would leave the
// current directory (absolute, or with ".." climbing above its start).
// Writing, appending and update modes never search: they must not open an
// unrelated file of the same name elsewhere.
// Names of dgTextFileNameSize characters or more are refused. Returns true when
// a stream was obtained; failure leaves the stream null.
bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode, const char* dataDirectory);

// As above with dgTextFileDataDirectory.
bool dgTextFileOpen(dgTextFile& file, const char* fileName, const char* mode);

// Reads tokens (runs of characters other than tab, CR, LF, '=' and space) until
// one equals key ignoring case, as a whole: a token with a NUL byte or more
// characters after the key's does not match. Returns 1 with the stream just
// after that token (at end of file for a key ending the file), or 0 when end of
// file (or a read error) comes first. key must not be null.
int dgTextFileScanKey(dgTextFile& file, const char* key);

// True when fileB was last modified after fileA (nanosecond resolution); false
// when the times are equal or either file cannot be opened for reading.
bool dgFileIsNewer(const char* fileA, const char* fileB);

// Searches directory and the directories below it (entries not starting with
// '.'; symbolic links to directories are not followed) for a readable regular
// file named like fileName's base name (the part after its last '/').
// On success returns true with the path in outPath (outPathSize bytes, at least
// 1). Returns false when nothing is found or every candidate path would exceed
// outPathSize; outPath then holds no meaningful path.
bool dgFindFileInTree(const char* fileName, const char* directory, char* outPath, size_t outPathSize);

// Fuzzes the text file: the key scan on arbitrary text, checked against a
// plain tokenizer, and the reading open's fallback on names built from path
// pieces, checked to leave no file outside the working directory.
//
// Input: byte 0 = key length k; k bytes of key (used up to its first NUL);
// byte n: bits 0-2 = count of name pieces, bit 3 = absolute name, bit 4 = no
// "data.txt" at the end; one byte per piece choosing it; the rest is the text.
#include "dgTextFile.h"
#include "FuzzCheck.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A scratch tree of its own: the working directory sits seven levels below the
// root, deeper than any name built here can climb, so a faulty open can only
// write inside the root, where the check below looks.
struct Scratch {
    std::string root;
    std::string data;
    std::string work;
    std::string text;
    int home = -1;

    Scratch() {
        // Memory-backed when there is such a place: a disk-backed directory
        // costs most of the time of a run in file-system journaling.
        const char* const base = (access("/dev/shm", W_OK) == 0) ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/dgFuzzTextFileXXXXXX";
        FUZZ_CHECK(mkdtemp(&pattern[0]));
        root = pattern;
        data = root + "/data";
        work = root + "/1/2/3/4/5/6/7/work";
        text = root + "/input.txt";
        fs::create_directories(data);
        fs::create_directories(work + "/sub");
        FILE* file = fopen((data + "/data.txt").c_str(), "w");
        FUZZ_CHECK(file);
        fputs("depth 40\n", file);
        fclose(file);
        home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FUZZ_CHECK(home >= 0);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
        close(home);
    }
};

Scratch& scratch() {
    static Scratch instance;
    return instance;
}

bool isDelimiter(uint8_t ch) {
    return (ch == '\t') || (ch == '\r') || (ch == '\n') || (ch == '=') || (ch == ' ');
}

// End offsets of the tokens equal to key ignoring case, as the scan should find them.
std::vector<long> expectedKeyEnds(const uint8_t* text, size_t size, const char* key) {
    const size_t keyLength = strlen(key);
    std::vector<long> ends;
    size_t i = 0;
    while (i < size) {
        const size_t start = i;
        while ((i < size) && !isDelimiter(text[i])) {
            ++i;
        }
        bool equal = (i - start == keyLength) && (keyLength > 0) && (keyLength < dgTextFileTokenSize);
        for (size_t j = 0; equal && (j < keyLength); ++j) {
            equal = tolower(text[start + j]) == tolower(uint8_t(key[j]));
        }
        if (equal) {
            ends.push_back(long(i));
        }
        ++i;
    }
    return ends;
}

void fuzzKeyScan(const Scratch& s, const char* key, const uint8_t* text, size_t size) {
    FILE* out = fopen(s.text.c_str(), "wb");
    FUZZ_CHECK(out);
    FUZZ_CHECK(fwrite(text, 1, size, out) == size);
    fclose(out);

    dgTextFile file(s.text.c_str(), "r");
    FUZZ_CHECK(file.getStream());
    const std::vector<long> ends = expectedKeyEnds(text, size, key);
    size_t found = 0;
    while (dgTextFileScanKey(file, key)) {
        FUZZ_CHECK(found < ends.size());
        FUZZ_CHECK(file.tell() == ends[found]);
        ++found;
    }
    FUZZ_CHECK(found == ends.size());

    int value = 0;
    file.rewind();
    file.scanKeyedValue(key, " = %d", &value);
    file.scanSectionValue(key, key, " = %d", &value);
    file.rewind();
    char line[16];
    while (file.readLine(line, int(sizeof(line)))) {
    }
}

size_t countStrayFiles(const Scratch& s) {
    size_t stray = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(s.root)) {
        const std::string path = entry.path().string();
        const bool allowed = (path == s.text) || (path == s.data + "/data.txt") ||
                             (path.compare(0, s.work.size(), s.work) == 0);
        if (entry.is_regular_file() && !allowed) {
            ++stray;
        }
    }
    return stray;
}

void fuzzOpen(const Scratch& s, const uint8_t* pieces, size_t count, uint8_t flags) {
    static const char* const kPieces[8] = {"..", ".", "sub", "", "x", "data.txt", "..", "sub"};
    std::string name = (flags & 8) ? "/" : "";
    for (size_t i = 0; i < count; ++i) {
        name += kPieces[pieces[i] & 7];
        name += '/';
    }
    if (!(flags & 16)) {
        name += "data.txt";
    }

    FUZZ_CHECK(chdir(s.work.c_str()) == 0);
    {
        dgTextFile file(nullptr, "r");
        dgTextFileOpen(file, name.c_str(), "r", s.data.c_str());
    }
    FUZZ_CHECK(fchdir(s.home) == 0);
    FUZZ_CHECK(countStrayFiles(s) == 0);
    // The only folders below the working directory are the two made above, and
    // the open makes files only, so these are all the copies there can be.
    unlink((s.work + "/data.txt").c_str());
    unlink((s.work + "/sub/data.txt").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = scratch();
    size_t at = 0;
    if (size < 1) {
        return 0;
    }
    const size_t keyLength = data[at++];
    if (size - at < keyLength + 1) {
        return 0;
    }
    const std::string key(reinterpret_cast<const char*>(data + at), keyLength);
    at += keyLength;
    const uint8_t flags = data[at++];
    const size_t pieces = flags & 7;
    if (size - at < pieces) {
        return 0;
    }
    fuzzOpen(s, data + at, pieces, flags);
    at += pieces;
    fuzzKeyScan(s, key.c_str(), data + at, size - at);
    return 0;
}

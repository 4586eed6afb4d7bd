#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Byte tests of our own: the <cctype> ones follow the locale and take no
// negative chars, and a profile holds whatever bytes it was given.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    return trimRight(text);
}

std::string_view unquote(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        return text.substr(1, text.size() - 2);
    }
    return text;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key, trimmed
    std::string_view value;  // trimmed and unquoted
};

ParsedLine parseLine(std::string_view line) {
    ParsedLine parsed;
    const std::string_view text = trim(line);
    if (text.empty() || text.front() == ';') {
        return parsed;
    }
    if (text.front() == '[') {
        // A header without its "]" still names a section: the rest of the line.
        const size_t close = text.find(']');
        parsed.kind = LineKind::Section;
        parsed.name =
            trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return parsed;
    }
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return parsed;
    }
    parsed.kind = LineKind::Key;
    parsed.name = trim(text.substr(0, equals));
    parsed.value = unquote(trim(text.substr(equals + 1)));
    return parsed;
}

// What a read or a write needs to know about one key of the text.
struct Location {
    bool sectionFound = false;
    bool keyFound = false;
    size_t keyBegin = 0;  // the key's line, without its line end
    size_t keyEnd = 0;
    std::string_view keyName;  // as spelled in the file
    std::string_view value;
    size_t insertAt = 0;            // just after the section's last key line, else after its header
    bool insertNeedsBreak = false;  // that line is the file's last and has no line end
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Location locate(std::string_view text, std::string_view section, std::string_view key) {
    Location at;
    bool inSection = false;
    size_t pos = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
    while (pos < text.size()) {
        const size_t lineFeed = text.find('\n', pos);
        const size_t end = lineFeed == std::string_view::npos ? text.size() : lineFeed;
        const size_t next = lineFeed == std::string_view::npos ? text.size() : lineFeed + 1;
        const ParsedLine line = parseLine(text.substr(pos, end - pos));
        if (line.kind == LineKind::Section) {
            if (inSection) {
                break;  // only the first section of that name counts
            }
            if (sameName(line.name, section)) {
                inSection = true;
                at.sectionFound = true;
                at.insertAt = next;
                at.insertNeedsBreak = lineFeed == std::string_view::npos;
            }
        } else if (line.kind == LineKind::Key && inSection) {
            if (sameName(line.name, key)) {
                at.keyFound = true;
                at.keyBegin = pos;
                // A "\r" before the line feed stays, so the line keeps its ending.
                at.keyEnd = (end > pos && text[end - 1] == '\r' && lineFeed != std::string_view::npos)
                                ? end - 1
                                : end;
                at.keyName = line.name;
                at.value = line.value;
                return at;
            }
            at.insertAt = next;
            at.insertNeedsBreak = lineFeed == std::string_view::npos;
        }
        pos = next;
    }
    return at;
}

// New lines follow the file's first line end; "\n" for a file without one.
std::string_view lineBreakOf(std::string_view text) {
    const size_t lineFeed = text.find('\n');
    return (lineFeed != std::string_view::npos && lineFeed > 0 && text[lineFeed - 1] == '\r') ? "\r\n" : "\n";
}

enum class LoadResult { Loaded, Missing, Failed };

// Reads the whole file. Anything but a regular file fails (a FIFO would
// block, a folder cannot be read).
LoadResult loadFile(const char* path, std::string& text, struct stat& info) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    }
    LoadResult result = LoadResult::Failed;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.clear();
        text.reserve(static_cast<size_t>(std::max<off_t>(info.st_size, 0)));
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(fd, chunk, sizeof(chunk));
            if (got > 0) {
                text.append(chunk, static_cast<size_t>(got));
            } else if (got == 0) {
                result = LoadResult::Loaded;
                break;
            } else if (errno != EINTR) {
                break;
            }
        }
    }
    close(fd);
    return result;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = write(fd, text.data(), text.size());
        if (put > 0) {
            text.remove_prefix(static_cast<size_t>(put));
        } else if (put == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Writes `text` beside `target` and renames it over the target, so readers
// see the old file or the new one, never a part. `mode` is the old file's
// permissions (0: a new file, made with the umask's).
bool replaceFile(const char* target, std::string_view text, mode_t mode) {
    static std::atomic<uint32_t> serial{0};
    const std::string temporary =
        std::string(target) + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    bool written = writeAll(fd, text);
    if (written && mode != 0) {
        written = fchmod(fd, mode) == 0;
    }
    written = (close(fd) == 0) && written;
    if (written && rename(temporary.c_str(), target) == 0) {
        return true;
    }
    unlink(temporary.c_str());
    return false;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool isWritableSection(std::string_view name) {
    return !name.empty() && !hasLineBreak(name) && name.find(']') == std::string_view::npos;
}

bool isWritableKey(std::string_view name) {
    return !name.empty() && !hasLineBreak(name) && name.find('=') == std::string_view::npos &&
           name.front() != ';' && name.front() != '[';
}

}  // namespace

uint32_t readProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                           uint32_t size, const char* path) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::string_view result = trimRight(defaultValue != nullptr ? defaultValue : "");
    std::string text;
    struct stat info {};
    if (section != nullptr && key != nullptr && path != nullptr &&
        loadFile(path, text, info) == LoadResult::Loaded) {
        const Location at = locate(text, trim(section), trim(key));
        if (at.keyFound) {
            result = at.value;
        }
    }
    result = result.substr(0, result.find('\0'));
    const size_t count = std::min(result.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, result.data(), count);
    buffer[count] = '\0';
    return static_cast<uint32_t>(count);
}

bool writeProfileString(const char* section, const char* key, const char* value, const char* path) {
    if (section == nullptr || key == nullptr || value == nullptr || path == nullptr || path[0] == '\0') {
        return false;
    }
    const std::string_view sectionName = trim(section);
    const std::string_view keyName = trim(key);
    const std::string_view newValue = value;
    if (!isWritableSection(sectionName) || !isWritableKey(keyName) || hasLineBreak(newValue)) {
        return false;
    }

    std::string text;
    struct stat info {};
    mode_t mode = 0;
    switch (loadFile(path, text, info)) {
        case LoadResult::Missing:
            break;
        case LoadResult::Failed:
            return false;
        case LoadResult::Loaded:
            // Read-only by its permission bits refuses even a user who could
            // write anyway, as a read-only attribute does.
            if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path, W_OK) != 0) {
                return false;
            }
            mode = info.st_mode & 07777;
            break;
    }

    const Location at = locate(text, sectionName, keyName);
    const std::string_view lineBreak = lineBreakOf(text);
    std::string updated;
    updated.reserve(text.size() + sectionName.size() + keyName.size() + newValue.size() + 8);
    if (at.keyFound) {
        updated.append(text, 0, at.keyBegin);
        updated.append(at.keyName).append("=").append(newValue);
        updated.append(text, at.keyEnd, std::string::npos);
    } else if (at.sectionFound) {
        updated.append(text, 0, at.insertAt);
        if (at.insertNeedsBreak) {
            updated.append(lineBreak);
        }
        updated.append(keyName).append("=").append(newValue).append(lineBreak);
        updated.append(text, at.insertAt, std::string::npos);
    } else {
        updated = text;
        if (!updated.empty() && updated.back() != '\n') {
            updated.append(lineBreak);
        }
        updated.append("[").append(sectionName).append("]").append(lineBreak);
        updated.append(keyName).append("=").append(newValue).append(lineBreak);
    }
    return replaceFile(path, updated, mode);
}

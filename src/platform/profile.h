// Private profile strings: one value of one key of one section of an ini
// file, read or written per call, nothing cached.
//
// The file is lines of "[Section]" headers, "key=value" pairs and ";"
// comments, with "\n" or "\r\n" line ends. Section and key names ignore case
// (ASCII only); names and values are trimmed of blanks, and a value loses one
// pair of matching surrounding quotes (" or '). The first matching section,
// and in it the first matching key, is the one read and written; key lines
// before the first header belong to no section.
#pragma once

#include <cstdint>

// Copies the value of `key` in `section` of the file at `path` into `buffer`
// (`size` characters including the terminator), or `defaultValue` (null:
// empty; trailing blanks dropped) when the file, the section or the key is
// missing or unreadable. A longer value is cut to fit; the buffer is always
// terminated when size > 0, and a value stops at an embedded NUL. Returns the
// number of characters copied, without the terminator.
uint32_t readProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                           uint32_t size, const char* path);

// Sets `key` in `section` to `value`. An existing key is rewritten in place,
// keeping the spelling of its name in the file; a new key goes after the last
// key of its section, a new section at the end of the file, and a missing
// file is created. The new text is written to a temporary file in the same
// folder which then replaces the old one, so a failed write leaves the file
// as it was. False, with nothing changed, for a read-only file (no write
// permission bit, or no write access), an unwritable folder, a null
// argument, or a name or value that the file could not hold (a line break,
// "=" or a leading ";" or "[" in a key, "]" in a section name, an empty name).
bool writeProfileString(const char* section, const char* key, const char* value, const char* path);

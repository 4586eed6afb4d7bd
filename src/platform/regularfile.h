// Opening a file the program reads as data (media, grass files, sounds) only
// when it is a regular file. Anything else in its place would stop or grow
// the game: a FIFO blocks the open and every read for ever, a device such
// as /dev/zero never ends, a folder opens but reads as a size of 2^63 - 1.
// A symbolic link is followed: what counts is the file it names. The open
// never blocks, so a FIFO is refused as quickly as a missing file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A read-only, close-on-exec descriptor of the regular file `path` names,
// blocking again for its reads; -1 for a null or missing path and for
// anything that is not a regular file. `size` (when given) gets the file's
// size at the open. The caller closes the descriptor.
int openRegularFile(const char* path, uint64_t* size = nullptr);

// The same as a binary stdio stream ("rb"); null where openRegularFile gives
// -1. The caller closes it.
std::FILE* fopenRegularFile(const char* path);

// The whole regular file into `bytes`, when it holds at most `maxBytes`;
// nothing beyond the size it had at the open is read, so a file that grows
// meanwhile cannot grow the reader. False (and `bytes` empty) when it is not
// a regular file, is larger than `maxBytes` (then no byte is read) or a read
// fails.
bool readRegularFile(const char* path, uint64_t maxBytes, std::string& bytes);

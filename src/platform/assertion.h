// TW_ASSERT(condition): stops the program when an invariant of the client,
// its platform layers or its tools does not hold. The client reaches the
// physics engine only through its public header, so it keeps this check of
// its own. Compiled in when TW_ENABLE_ASSERT is set (debug and sanitizer
// builds, like the engine's); compiled out otherwise, where the condition is
// not evaluated. Header only, so a tool can use it without linking the
// client.
#pragma once

#if defined(TW_ENABLE_ASSERT) && TW_ENABLE_ASSERT
#include <cstdio>
#include <cstdlib>

// Prints "file:line: assertion failed: condition" to stderr and aborts.
[[noreturn]] inline void twAssertFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}
#define TW_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : twAssertFailed(#condition, __FILE__, __LINE__))
#else
// sizeof keeps names used only in assertions referenced without evaluating them.
#define TW_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif

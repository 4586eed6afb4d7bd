// DG_ASSERT(condition): stops the program when an invariant of the engine
// does not hold. Compiled in when DG_ENABLE_ASSERT is set (debug and
// sanitizer builds, so the tests run with it); compiled out otherwise, where
// the condition is not evaluated. Use it for preconditions and at every bound
// that only a damaged structure can reach, so that a broken invariant stops
// the tests instead of quietly returning.
#pragma once

#if defined(DG_ENABLE_ASSERT) && DG_ENABLE_ASSERT
// Prints "file:line: assertion failed: condition" to stderr and aborts.
[[noreturn]] void dgAssertFailed(const char* condition, const char* file, int line);
#define DG_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : dgAssertFailed(#condition, __FILE__, __LINE__))
#else
// sizeof keeps names used only in assertions referenced without evaluating them.
#define DG_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif

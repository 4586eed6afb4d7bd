#include "dgAssert.h"

#include <cstdio>
#include <cstdlib>

#if defined(DG_ENABLE_ASSERT) && DG_ENABLE_ASSERT
void dgAssertFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, condition);
    std::fflush(stderr);
    std::abort();
}
#endif

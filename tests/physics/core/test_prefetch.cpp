#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dgPrefetch.h"

// The walks ask for ranges without knowing where the object ends: asking
// must not fault, even into a page that may not be read, nor change a byte.
TEST(Prefetch, AsksForAnyRangeWithoutFaultingOrWriting) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    char* const bytes = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(bytes, MAP_FAILED);
    ASSERT_EQ(mprotect(bytes + page, page, PROT_NONE), 0);
    std::mt19937 random(20261211u);
    std::generate(bytes, bytes + page, [&random] { return char(random()); });
    const std::vector<char> before(bytes, bytes + page);
    dgPrefetch(nullptr, 0, 4096);
    dgPrefetch(bytes, page - 200, 200 + 3 * dgCacheLine);
    for (int32_t k = 0; k < 5000; k++) {
        dgPrefetch(bytes, random() % page, random() % (4 * dgCacheLine));
    }
    EXPECT_EQ(std::memcmp(before.data(), bytes, page), 0);
    munmap(bytes, 2 * page);
}

#include <gtest/gtest.h>

#include "dgPrefetch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The walks ask for a contact's size of any joint and for a body's ranges
// without knowing where the object ends: whatever the range, asking must
// neither fault, even where it reaches a page that may not be read, nor
// change a byte.
TEST(Prefetch, AsksForAnyRangeWithoutFaultingOrWriting) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    void* const mapped = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    char* const bytes = static_cast<char*>(mapped);
    ASSERT_EQ(mprotect(bytes + page, page, PROT_NONE), 0);

    std::mt19937 random(20261211u);
    for (size_t i = 0; i < page; i++) {
        bytes[i] = char(random());
    }
    const std::vector<char> before(bytes, bytes + page);

    dgPrefetch(nullptr, 0, 4096);
    dgPrefetch(bytes, 0, 0);
    // Up to the last readable byte, and on into the guarded page.
    dgPrefetch(bytes, page - 1, 1);
    dgPrefetch(bytes, page - 200, 200 + 3 * dgCacheLine);
    std::uniform_int_distribution<size_t> offset(0, page - 1);
    std::uniform_int_distribution<size_t> length(0, 4 * dgCacheLine);
    for (int32_t k = 0; k < 5000; k++) {
        dgPrefetch(bytes, offset(random), length(random));
    }
    dgPrefetchObject(reinterpret_cast<const uint64_t*>(bytes + page - sizeof(uint64_t)));

    EXPECT_EQ(std::memcmp(before.data(), bytes, page), 0);
    munmap(mapped, 2 * page);
}

}  // namespace

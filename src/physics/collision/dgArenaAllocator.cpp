#include "dgArenaAllocator.h"

#include "dgAssert.h"

dgArenaAllocator::dgArenaAllocator()
    : m_usedBytes(0),
      m_heapBlocks(0),
      m_base(
          reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(m_buffer) + 32) & ~uintptr_t(15))) {}

dgArenaAllocator::~dgArenaAllocator() {
    // Heap blocks still out belong to a mesh that outlived the arena.
    DG_ASSERT(m_heapBlocks == 0);
}

bool dgArenaAllocator::ownsBlock(const void* block) const {
    const unsigned char* const ptr = static_cast<const unsigned char*>(block);
    return (ptr >= m_buffer) && (ptr < m_buffer + kBufferBytes);
}

void* dgArenaAllocator::alloc(size_t size) {
    const size_t reserve = (size + 16) & ~size_t(15);
    const size_t used = size_t(m_usedBytes) + reserve;
    // The block starts at the end of its reservation, so it needs size more
    // bytes before the end of the buffer.
    const size_t room = size_t((m_buffer + kBufferBytes) - m_base);
    if ((reserve > room) || (used > room - size)) {
        void* const block = dgMalloc(size);
        if (block) {
            ++m_heapBlocks;
        }
        return block;
    }
    m_usedBytes = uint32_t(used);
    return m_base + used;
}

void dgArenaAllocator::free(void* block) {
    if (block && !ownsBlock(block)) {
        DG_ASSERT(m_heapBlocks > 0);
        --m_heapBlocks;
        dgFree(block);
    }
}

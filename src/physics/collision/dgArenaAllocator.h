// Stack arena handing out the edge nodes of the scratch meshes that clean one
// face at a time, so cleaning a face costs no heap allocation. Frees nothing:
// everything goes when the arena leaves scope. When the buffer is full the
// arena hands out heap blocks instead and frees those one by one, so a face
// with more edges than the buffer holds never writes past it.
//
// The arena must outlive every block taken from it (declare it before the
// mesh that uses it).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgMemory.h"

class dgArenaAllocator : public dgAllocator {
public:
    static constexpr uint32_t kBufferBytes = 32768;

    dgArenaAllocator();
    ~dgArenaAllocator() override;

    // Reserves the smallest multiple of 16 above size and returns the address
    // just past the reservation; a heap block once that would not fit.
    void* alloc(size_t size) override;
    // Heap blocks go back to the hooks; arena blocks stay until the end.
    void free(void* block) override;

    uint32_t getUsedBytes() const { return m_usedBytes; }
    // Blocks handed out from the heap and not yet freed.
    int32_t getHeapBlocks() const { return m_heapBlocks; }
    bool ownsBlock(const void* block) const;

private:
    uint32_t m_usedBytes;
    int32_t m_heapBlocks;
    unsigned char m_buffer[kBufferBytes];
    // 16-byte aligned start inside the buffer.
    unsigned char* m_base;
};

// A growing byte buffer that messages are written into before sending.
// Integers go out least significant byte first whatever the host order, so
// the server reads the same bytes from every client.
#pragma once

#include <cstdint>
#include <vector>

namespace RakNet {

class BitStream {
public:
    BitStream() = default;

    // Four bytes, least significant first.
    void Write(int32_t value);
    // The bytes as they are; a null input or a count below 1 writes nothing.
    void Write(const char* input, int32_t numberOfBytes);

    // Null while nothing has been written.
    unsigned char* GetData();
    const unsigned char* GetData() const;
    int32_t GetNumberOfBytesUsed() const;
    int32_t GetNumberOfBitsUsed() const;

    void Reset();

private:
    std::vector<unsigned char> bytes;
};

}  // namespace RakNet

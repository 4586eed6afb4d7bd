#include "platform/net/BitStream.h"

#include <cstddef>

namespace RakNet {

void BitStream::Write(int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    for (std::size_t i = 0; i < sizeof(bits); ++i) {
        bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    }
}

void BitStream::Write(const char* input, int32_t numberOfBytes) {
    if (input == nullptr || numberOfBytes < 1) {
        return;
    }
    bytes.insert(bytes.end(), input, input + numberOfBytes);
}

unsigned char* BitStream::GetData() {
    return bytes.empty() ? nullptr : bytes.data();
}

const unsigned char* BitStream::GetData() const {
    return bytes.empty() ? nullptr : bytes.data();
}

int32_t BitStream::GetNumberOfBytesUsed() const {
    return static_cast<int32_t>(bytes.size());
}

int32_t BitStream::GetNumberOfBitsUsed() const {
    return static_cast<int32_t>(bytes.size() * 8);
}

void BitStream::Reset() {
    bytes.clear();
}

}  // namespace RakNet

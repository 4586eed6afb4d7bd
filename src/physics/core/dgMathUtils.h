// Free helpers over vertex arrays and scalars.
#pragma once

#include "dgVector.h"

#include <cmath>
#include <cstdint>
#include <cstring>

// Axis-aligned bounds of count >= 1 vertices whose first three floats are
// x, y, z, strideInBytes apart (rounded down to a multiple of 4). Both outputs
// get w = 1.
void dgComputeAabb(dgVector& outMin, dgVector& outMax, const float* vertices, int32_t vertexCount,
                   int32_t strideInBytes);

// True when x, y and z are all finite (w is not looked at).
inline bool dgIsFinite3(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// True when all `count` floats are finite; false for a null array.
inline bool dgIsFiniteArray(const float* v, int32_t count) {
    if (!v) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

// Approximate 1/sqrt(x) for finite x > 0 (relative error around 1e-7) from
// the float's bit pattern and three refinement steps.
inline float dgFastInvSqrt(float x) {
    uint32_t i;
    std::memcpy(&i, &x, sizeof(i));

    const uint32_t guessBits = (0xBE6EB508u - i) >> 1;
    // Decrementing the exponent halves x without a multiply.
    const uint32_t halfBits = i - 0x00800000u;
    float y;
    float half;
    std::memcpy(&y, &guessBits, sizeof(y));
    std::memcpy(&half, &halfBits, sizeof(half));

    // Three steps of y = y*(1.5 - half*y*y), folded so y is only rescaled once.
    const float e = half * y * y;
    const float f1 = 1.5f - e;
    const float e2 = e * f1 * f1;
    const float f2 = 1.5f - e2;
    return y * f1 * f2 * (1.5f - e2 * f2 * f2);
}

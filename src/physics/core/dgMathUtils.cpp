#include "dgMathUtils.h"

namespace {

inline void growBounds(dgVector& lo, dgVector& hi, const float* p) {
    for (int j = 0; j < 3; j++) {
        if (p[j] < lo[j]) {
            lo[j] = p[j];
        }
        if (p[j] > hi[j]) {
            hi[j] = p[j];
        }
    }
}

}  // namespace

void dgComputeAabb(dgVector& outMin, dgVector& outMax, const float* vertices, int32_t vertexCount,
                   int32_t strideInBytes) {
    const intptr_t stride = strideInBytes / int32_t(sizeof(float));
    dgVector lo(vertices[0], vertices[1], vertices[2], 1.0f);
    dgVector hi(lo);

    const float* p = vertices + stride;
    int32_t i = 1;
    for (; i + 4 <= vertexCount; i += 4) {
        growBounds(lo, hi, p);
        growBounds(lo, hi, p + stride);
        growBounds(lo, hi, p + 2 * stride);
        growBounds(lo, hi, p + 3 * stride);
        p += 4 * stride;
    }
    for (; i < vertexCount; i++) {
        growBounds(lo, hi, p);
        p += stride;
    }
    outMin = lo;
    outMax = hi;
}

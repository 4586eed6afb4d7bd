#include "dgFlatInput.h"

#include <algorithm>
#include <cmath>

#include "dgMathUtils.h"

namespace {

// A matrix row shorter than this (squared) has no direction.
constexpr float kMinRowLength2 = 1.0e-12f;
// front x row 1 must keep at least this share of row 1's squared length.
constexpr float kMinCrossRatio2 = 1.0e-10f;

dgVector load3(const float* v, float w) {
    return dgVector(v[0], v[1], v[2], w);
}

}  // namespace

bool dgFlatOrthonormalMatrix(const float* matrix, dgMatrix& out) {
    if (!matrix || !dgIsFiniteArray(matrix, 3) || !dgIsFiniteArray(matrix + 4, 3) || !dgIsFiniteArray(matrix + 12, 3)) {
        return false;
    }
    const dgVector row0 = load3(matrix, 0.0f);
    const dgVector row1 = load3(matrix + 4, 0.0f);
    const float front2 = row0.dot(row0);
    const float row12 = row1.dot(row1);
    // Also refuses rows whose squares overflow.
    if (!(front2 > kMinRowLength2) || !(row12 > kMinRowLength2) || !std::isfinite(front2) ||
        !std::isfinite(row12)) {
        return false;
    }
    const dgVector front = row0.scale(1.0f / std::sqrt(front2));
    const dgVector side = front.cross(row1);
    const float side2 = side.dot(side);
    if (!(side2 > kMinCrossRatio2 * row12)) {
        return false;
    }
    out.front = front;
    out.right = side.scale(1.0f / std::sqrt(side2));
    out.up = out.right.cross(front);
    out.front.w = out.up.w = out.right.w = 0.0f;
    out.position = load3(matrix + 12, 1.0f);
    return true;
}

bool dgFlatWithinScale(const float* v, int32_t count) {
    if (!dgIsFiniteArray(v, count)) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (std::fabs(v[i]) > dgFlatMaxCoordinate) {
            return false;
        }
    }
    return true;
}

float dgFlatClampAcceleration(float acceleration) {
    return std::min(std::max(acceleration, -dgFlatMaxAcceleration), dgFlatMaxAcceleration);
}

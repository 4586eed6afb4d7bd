#include "dgProbeDirections.h"

namespace {
constexpr float kCorner = 0.57735f;
}  // namespace

const dgVector dgProbeDirections[dgProbeDirectionCount] = {
    dgVector(kCorner, -kCorner, kCorner, 0.0f),
    dgVector(-kCorner, -kCorner, -kCorner, 0.0f),
    dgVector(kCorner, -kCorner, -kCorner, 0.0f),
    dgVector(-kCorner, kCorner, kCorner, 0.0f),
    dgVector(kCorner, kCorner, -kCorner, 0.0f),
    dgVector(-kCorner, kCorner, -kCorner, 0.0f),
    dgVector(-kCorner, -kCorner, kCorner, 0.0f),
    dgVector(kCorner, kCorner, kCorner, 0.0f),
    dgVector(0.0f, -1.0f, 0.0f, 0.0f),
    dgVector(0.0f, 1.0f, 0.0f, 0.0f),
    dgVector(1.0f, 0.0f, 0.0f, 0.0f),
    dgVector(-1.0f, 0.0f, 0.0f, 0.0f),
    dgVector(0.0f, 0.0f, 1.0f, 0.0f),
    dgVector(0.0f, 0.0f, -1.0f, 0.0f),
};

#include "dgSeparationTests.h"

#include <cfloat>
#include <cmath>

#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionSphere.h"

namespace {

constexpr float kAbsoluteMargin = 1.0e-3f;
// The solver's placement of one shape in the other's frame is worked out
// from world matrices: its rounding grows with the coordinates, a few
// epsilons of them; this is many times that.
constexpr float kRelativeMargin = 64.0f * FLT_EPSILON;
// Hulls above this many vertices cost more to bound than a search saves.
constexpr int32_t kMaxBoundedVertices = 64;

float largestCoordinate(const dgVector& v) {
    return std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
}

float length(const dgVector& v) {
    return std::sqrt(v % v);
}

}  // namespace

float dgSeparationMargin(float reach) {
    return kAbsoluteMargin + kRelativeMargin * reach;
}

bool dgConvexSupportBound(const dgConvexCollision& shape, const dgVector& direction, float& bound) {
    switch (shape.getShapeType()) {
        case dgShapeBox: {
            const dgCollisionBox* box = dgRefCast<dgCollisionBox>(&shape);
            if (!box) {
                return false;
            }
            const dgVector& h = box->getHalfExtents();
            bound = std::fabs(direction.x) * h.x + std::fabs(direction.y) * h.y + std::fabs(direction.z) * h.z;
            return true;
        }
        case dgShapeSphere: {
            // Grid points lie on the sphere (to rounding).
            const dgCollisionSphere* sphere = dgRefCast<dgCollisionSphere>(&shape);
            if (!sphere) {
                return false;
            }
            bound = sphere->getRadius() * length(direction);
            return true;
        }
        case dgShapeCapsule: {
            // A grid point of the end sphere moved along x by the half length.
            const dgCollisionCapsule* capsule = dgRefCast<dgCollisionCapsule>(&shape);
            if (!capsule) {
                return false;
            }
            bound = std::fabs(direction.x) * capsule->getHalfLength() + capsule->getRadius() * length(direction);
            return true;
        }
        case dgShapeConvexHull: {
            // The support walk stops at one of these vertices; the highest
            // of all bounds it wherever the walk stops.
            const int32_t count = shape.getVertexCount();
            const dgVector* vertices = shape.getVertices();
            if (!dgRefCast<dgCollisionConvexHull>(&shape) || !vertices || (count < 1) ||
                (count > kMaxBoundedVertices)) {
                return false;
            }
            float highest = -FLT_MAX;
            for (int32_t i = 0; i < count; i++) {
                highest = std::fmax(highest, direction.x * vertices[i].x + direction.y * vertices[i].y +
                                                 direction.z * vertices[i].z);
            }
            bound = highest;
            return true;
        }
        default:
            return false;
    }
}

bool dgConvexPairApart(const dgConvexCollision& a, const dgMatrix& matrixA, const dgConvexCollision& b,
                       const dgMatrix& matrixB) {
    dgVector axis(matrixB.position - matrixA.position);
    axis.w = 0.0f;
    const float distance = length(axis);
    if (!(distance > 0.0f)) {
        return false;
    }
    axis = axis.scale(1.0f / distance);
    float highA;
    float highB;
    dgVector towardsB(matrixA.inverseRotateVector(axis));
    dgVector towardsA(matrixB.inverseRotateVector(axis.scale(-1.0f)));
    if (!dgConvexSupportBound(a, towardsB, highA) || !dgConvexSupportBound(b, towardsA, highB)) {
        return false;
    }
    // Along the axis A reaches distance(A) + highA at most and B starts at
    // distance(B) - highB at least; the centres are `distance` apart.
    const float gap = distance - highA - highB;
    const float reach = largestCoordinate(matrixA.position) + largestCoordinate(matrixB.position) +
                        std::fabs(highA) + std::fabs(highB);
    // False for a NaN anywhere.
    return gap > dgSeparationMargin(reach);
}

bool dgConvexAboveFace(const dgConvexCollision& convex, const dgMatrix& placement, const dgVector* vertices,
                       int32_t count, const dgVector& normal) {
    if (!vertices || (count < 1)) {
        return false;
    }
    dgVector down(placement.inverseRotateVector(normal.scale(-1.0f)));
    down.w = 0.0f;
    float deepest;
    if (!dgConvexSupportBound(convex, down, deepest)) {
        return false;
    }
    // The convex reaches no lower along the normal than this; the face no
    // higher than its highest vertex.
    const float lowest = (normal % placement.position) - deepest;
    float highest = -FLT_MAX;
    float reach = largestCoordinate(placement.position) + std::fabs(deepest);
    for (int32_t i = 0; i < count; i++) {
        highest = std::fmax(highest, normal.x * vertices[i].x + normal.y * vertices[i].y + normal.z * vertices[i].z);
        reach = std::fmax(reach, largestCoordinate(vertices[i]));
    }
    return (lowest - highest) > dgSeparationMargin(reach);
}

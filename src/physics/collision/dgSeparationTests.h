// Cheap tests that prove two shapes apart before the convex-convex solver
// searches their Minkowski difference. Most searches the contact pass starts
// end "separated" (boxes that overlap while their shapes do not, terrain
// faces gathered around a body resting on one of them); one separating axis
// found with a few dot products answers those at a fraction of the cost.
//
// A test answers true only when the solver could not find an overlap: the
// shapes must be apart along the axis by more than dgSeparationMargin, which
// lies far beyond the rounding of both the test and the solver (an absolute
// millimetre plus a relative allowance for coordinates far from the origin).
// Every point bounded here is one the solver's support functions can give,
// so a pair the tests call apart makes the same (empty) contacts as a full
// search. Shapes the tests cannot bound (see dgConvexSupportBound) are never
// called apart.
#pragma once

#include <cstdint>

#include "dgConvexCollision.h"
#include "dgMatrix.h"
#include "dgVector.h"

// Gap an axis must show: 1 mm plus 64 float epsilons of `reach`, the largest
// coordinate magnitude the two computations work with.
float dgSeparationMargin(float reach);

// Upper bound, in the shape's own frame, of direction . p over every point
// its supportVertex can return: exact for the box and a convex hull of at
// most 64 vertices (their vertices), the true surface for the sphere and the
// capsule (whose grid points lie on it). False for every other kind.
bool dgConvexSupportBound(const dgConvexCollision& shape, const dgVector& direction, float& bound);

// True when shapes a and b, placed by their collision matrices (world), are
// apart by more than the margin along the line through their centres.
bool dgConvexPairApart(const dgConvexCollision& a, const dgMatrix& matrixA, const dgConvexCollision& b,
                       const dgMatrix& matrixB);

// True when the convex shape, placed in a soup's frame by placement, lies
// wholly on the front of a face (count vertices in the soup's frame, unit
// normal) by more than the margin.
bool dgConvexAboveFace(const dgConvexCollision& convex, const dgMatrix& placement, const dgVector* vertices,
                       int32_t count, const dgVector& normal);

// The fixed directions probed, in order, when a search needs support points
// that span a volume: the first tetrahedron of a convex hull and the first
// simplex of the support-function ray cast. The eight corner directions come
// first, then the six axes; unit vectors (1/sqrt(3) as the float 0.57735),
// w = 0.
#pragma once

#include <cstdint>

#include "dgVector.h"

constexpr int32_t dgProbeDirectionCount = 14;
extern const dgVector dgProbeDirections[dgProbeDirectionCount];

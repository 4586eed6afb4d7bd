// The rules the flat interface (dgPhysics.h) applies to what a caller hands
// it, shared by every family of its functions: how a matrix is made rigid or
// refused, and the magnitudes float rows can carry. The limits are stated to
// callers in dgPhysics.h.
#pragma once

#include "dgMatrix.h"
#include "dgVector.h"

// Positions and pivots (m) farther than this from the origin on any axis are
// refused: a lever arm of that length squared, times a mass, is still well
// within a float, and no world of the game is a hundredth of it.
constexpr float dgFlatMaxCoordinate = 1.0e6f;
// Wanted row accelerations (m/s^2 or rad/s^2) are held within +- this: the
// largest a stop or a drive asks for at the shortest sub-step is some 1e6;
// squared and divided by the smallest row diagonal a solve meets it still
// fits a float, where 1e20 turns every force of the island non-finite.
constexpr float dgFlatMaxAcceleration = 1.0e7f;

// The one rule for a matrix handed in, whichever setter takes it: rows 0, 1
// and 3 finite; front = normalize(row 0), right = normalize(front x row 1),
// up = right x front, the position row 3 with w = 1. False, to refuse it,
// when row 0 or row 1 has no direction or row 1 runs along row 0. Row 2 is
// not read: what comes out is rigid and right-handed, however scaled, sheared
// or mirrored the input.
bool dgFlatOrthonormalMatrix(const float* matrix, dgMatrix& out);
// True for count finite floats, each at most dgFlatMaxCoordinate in size.
bool dgFlatWithinScale(const float* v, int32_t count);
// The acceleration held within +- dgFlatMaxAcceleration (finite input).
float dgFlatClampAcceleration(float acceleration);

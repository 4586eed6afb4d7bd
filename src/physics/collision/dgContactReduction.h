// Thinning of contact sets in place. Generators can return many nearly
// coincident points (a box resting on several soup triangles that share an
// edge); the filter removes near-duplicates from every set before it is used,
// the reduction removes nearest neighbours first until a set fits a maximum.
//
// Only the position (x, y, z of `point`) is examined. Whole records move; the
// records removed leave stale copies behind the returned count, and nothing
// at or past the input count is ever written. Both sweeps run along x over
// two min-heaps of (x, record index); which of two records with equal x pops
// first is not defined, so neither is which of two coincident points stays.
#pragma once

#include <cstdint>

#include "dgContactPoint.h"

// The tolerance every caller starts the reduction with.
constexpr float dgContactReduceTolerance = 0.01f;

// Removes near-duplicates (points nearer than 0.005) and caps the set at
// maxCount; returns the new count, at most maxCount. Fewer than nine records
// are compared pairwise and a removed record is replaced by the last one (the
// order changes); larger sets are first reduced to maxCount and then swept
// along x, the survivors keeping their order. A maxCount below 1 (or a count
// below 1) returns 0 and writes nothing.
int32_t dgWorldFilterContacts(int32_t count, dgContactPoint* contacts, int32_t maxCount);

// Removes records until maxCount remain and returns that count; a count at or
// below maxCount comes back unchanged with nothing written, and a maxCount
// below 1 counts as 1. Passes sweep along x with the tolerance doubling from
// `tolerance` (a value that is not positive is taken as 0.01): a point nearer
// than the tolerance to a point kept before it in x order goes, so of two
// close points the one with the larger x goes. The survivors keep their
// order. Points with a non-finite coordinate are never near anything and go
// first; sets spread too wide for the bounded number of passes lose their
// largest-x points.
int32_t dgWorldReduceContacts(int32_t count, dgContactPoint* contacts, int32_t maxCount, float tolerance);

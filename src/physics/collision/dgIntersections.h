// Stateless geometric tests shared by the polygon-soup collision, the broad
// phase and the convex solver: segment against an indexed face, segment
// clipping and box overlap, and closest points between points, segments,
// triangles and polygons.
//
// Indexed vertex data is a float array plus a stride in bytes (a multiple of
// 4); vertex i starts at float i * stride / 4 and only its x, y, z are read,
// so points built from it carry w = 1. Index arrays hold int32_t entries.
// Nothing here allocates; every routine is safe to call from any context.
#pragma once

#include "dgMath.h"

#include <cstdint>

// One segment cast through a polygon soup's face walk. t < 1 means a face
// was hit at p0 + t (p1 - p0); any value of 1 or more means no hit so far.
struct dgRayHitRecord {
    dgVector p0;
    dgVector p1;
    // Unnormalised normal of the nearest face hit, w = 1; (0, 1, 0, 1) until
    // something is hit.
    dgVector normal;
    float t;

    // Copies both points whole (w included).
    dgRayHitRecord(const dgVector& p0_, const dgVector& p1_);
};

// One-sided segment test against the convex planar face i0 ... i(n-1), wound
// so that (v1 - v0) x (v2 - v0) points to its front. Only a segment running
// against the front side hits (0 <= t <= 1, both ends included). On a hit
// writes t and the first fan triangle's unnormalised normal with w = 1, and
// returns true; otherwise leaves both outputs alone. A point within 1e-5 of
// the barycentric range outside any edge of a fan triangle counts as inside,
// so a segment along an edge hits. Faces of fewer than three indices are
// never hit.
bool dgRayFaceTest(const dgVector& p0, const dgVector& p1, const float* vertices, int32_t strideBytes,
                   const int32_t* indices, int32_t indexCount, float& t, dgVector& normal);

// Face callbacks for a polygon soup's ray walk; context is a dgRayHitRecord.
// Closest: keeps the nearest hit (t and normal) and always returns 1 so the
// walk goes on. Any: on a hit nearer than the record's t stores t only (the
// normal stays as it was) and returns 0 to stop the walk; otherwise 1.
int32_t dgRayHitClosestCallback(void* context, const float* vertices, int32_t strideBytes,
                                const int32_t* indices, int32_t indexCount);
int32_t dgRayHitAnyCallback(void* context, const float* vertices, int32_t strideBytes, const int32_t* indices,
                            int32_t indexCount);

// Clips segment p0 p1 to the box [boxMin, boxMax] in place, one face plane at
// a time (x max, x min, z max, z min, y max, y min). A point lying exactly on
// a plane counts as outside it. Returns false as soon as both ends are outside
// one plane; the ends may already have been moved by earlier planes then.
// Each end keeps its own w.
bool dgClipSegmentToBox(dgVector& p0, dgVector& p1, const dgVector& boxMin, const dgVector& boxMax);

// True when the open boxes overlap; boxes that only touch do not. Corners are
// anything indexed [0], [1], [2] for x, y, z (a vector or a float triple);
// inline, as the broad phase asks it of every candidate pair.
template <class Corner>
inline bool dgBoxOverlap(const Corner& minA, const Corner& maxA, const Corner& minB, const Corner& maxB) {
    if ((minA[0] >= maxB[0]) || (maxA[0] <= minB[0])) {
        return false;
    }
    if ((minA[2] >= maxB[2]) || (maxA[2] <= minB[2])) {
        return false;
    }
    if ((minA[1] >= maxB[1]) || (maxA[1] <= minB[1])) {
        return false;
    }
    return true;
}

// Point of segment ab nearest to p, with a's w. A segment of zero length
// answers a.
dgVector dgClosestPointOnSegment(const dgVector& p, const dgVector& a, const dgVector& b);

// A closest pair between segments p0 p1 and q0 q1: outP on the first with
// p0's w, outQ on the second with q0's w. When many pairs are equally close
// (parallel overlapping segments) the pair in the middle of the overlap is
// given, so equal centred parallel segments answer their two midpoints.
void dgClosestPointsOfSegments(const dgVector& p0, const dgVector& p1, const dgVector& q0, const dgVector& q1,
                               dgVector& outP, dgVector& outQ);

// Point of the solid triangle abc nearest to p; takes the w of the vertex the
// answer is built from (a for interior points). Degenerate triangles (a line
// or a point) answer the nearest point of their edges.
dgVector dgClosestPointOnTriangle(const dgVector& p, const dgVector& a, const dgVector& b, const dgVector& c);

// Point of the indexed convex polygon nearest to p, over its fan triangles
// (i0, i(k-1), ik). Returns true and writes it to out when its distance is at
// most radius; returns false (out untouched) otherwise. With fewer than three
// indices there is no face: false unless radius >= 1e10, when out becomes p.
bool dgClosestPointOnPolygon(const dgVector& p, const float* vertices, int32_t strideBytes,
                             const int32_t* indices, int32_t indexCount, float radius, dgVector& out);

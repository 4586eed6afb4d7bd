#include "dgIntersections.h"

#include <cstddef>

namespace {

inline dgVector dgReadVertex(const float* vertices, int32_t strideBytes, int32_t index) {
    // Index and stride are 32-bit, their product may not be.
    const float* v = vertices + static_cast<ptrdiff_t>(index) * static_cast<ptrdiff_t>(strideBytes / 4);
    return dgVector(v[0], v[1], v[2], 1.0f);
}

inline float dgClampUnit(float t) {
    return (t < 0.0f) ? 0.0f : ((t > 1.0f) ? 1.0f : t);
}

// The end points are returned exactly rather than through a + d * 1, which
// need not round back to b.
inline dgVector dgPointAt(const dgVector& a, const dgVector& b, const dgVector& d, float t) {
    if (t <= 0.0f) {
        return a;
    }
    if (t >= 1.0f) {
        return dgVector(b.x, b.y, b.z, a.w);
    }
    return a + d * t;
}

// Sine squared of the angle between two directions below which they count as
// parallel. The determinant is taken as a squared cross product, good to a
// few float ulps of the sine, so this is well above its noise.
const float kParallelSin2 = 1.0e-10f;

// Sine squared of the angle at a triangle's first vertex below which the
// triangle counts as collapsed onto a line or a point and is answered by its
// edges alone, and below which it counts as a sliver whose region walk is
// checked against its edges.
const float kCollapsedTriangleSin2 = 1.0e-12f;
const float kThinTriangleSin2 = 1.0e-4f;

// Moves the segment's ends onto one face plane of a box. Returns false when
// both ends lie outside the plane (on it counts as outside).
bool dgClipToPlane(dgVector& p0, dgVector& p1, int axis, float value, bool maxPlane) {
    const float diff0 = value - p0[axis];
    const float diff1 = value - p1[axis];
    const bool out0 = maxPlane ? (diff0 <= 0.0f) : (diff0 >= 0.0f);
    const bool out1 = maxPlane ? (diff1 <= 0.0f) : (diff1 >= 0.0f);
    if (out0 && out1) {
        return false;
    }
    const bool p1Beyond = maxPlane ? (diff1 < 0.0f) : (diff1 > 0.0f);
    if (out0 || p1Beyond) {
        // The ends straddle the plane here, so the denominator is not zero.
        const float param = diff0 / (p1[axis] - p0[axis]);
        dgVector& moved = out0 ? p0 : p1;
        const float w = moved.w;
        dgVector onPlane(p0 + (p1 - p0) * param);
        onPlane[axis] = value;
        onPlane.w = w;
        moved = onPlane;
    }
    return true;
}

// Fan triangle test on the barycentric numerators. The tolerance holds on all
// three sides, so a point on any edge counts as inside whichever way the
// rounding goes: a segment along a seam between two faces hits one of them.
// The numerators and the determinant are taken in double: for the long thin
// fan triangles of a face with many corners they cancel, and in floats their
// rounding outgrows the tolerance and opens gaps along the fan's inner edges.
inline bool dgInsideFanTriangle(double re1, double re2, double dot11, double dot12, double dot22, double det) {
    const double tol = -1.0e-5 * det;
    const double u = re1 * dot22 - re2 * dot12;
    const double v = re2 * dot11 - re1 * dot12;
    return (u >= tol) && (v >= tol) && (u + v <= det - tol);
}

// Dot product of the xyz parts in double (float products are exact there).
inline double dgDot64(const dgVector& a, const dgVector& b) {
    return double(a.x) * double(b.x) + double(a.y) * double(b.y) + double(a.z) * double(b.z);
}

dgVector dgClosestPointOnTriangleEdges(const dgVector& p, const dgVector& a, const dgVector& b,
                                       const dgVector& c) {
    const dgVector candidates[3] = {dgClosestPointOnSegment(p, a, b), dgClosestPointOnSegment(p, b, c),
                                    dgClosestPointOnSegment(p, c, a)};
    int best = 0;
    float bestDist2 = (candidates[0] - p) % (candidates[0] - p);
    for (int i = 1; i < 3; ++i) {
        const float dist2 = (candidates[i] - p) % (candidates[i] - p);
        if (dist2 < bestDist2) {
            bestDist2 = dist2;
            best = i;
        }
    }
    return candidates[best];
}

// The Voronoi-region walk. onTriangle is false only when the interior
// weights come out negative or vanish, which rounding can cause on a sliver.
dgVector dgClosestPointOnTriangleRegions(const dgVector& p, const dgVector& a, const dgVector& b,
                                         const dgVector& c, const dgVector& ab, const dgVector& ac,
                                         bool& onTriangle) {
    onTriangle = true;
    const dgVector ap(p - a);
    const float d1 = ab % ap;
    const float d2 = ac % ap;
    if ((d1 <= 0.0f) && (d2 <= 0.0f)) {
        return a;
    }

    const dgVector bp(p - b);
    const float d3 = ab % bp;
    const float d4 = ac % bp;
    if ((d3 >= 0.0f) && (d4 <= d3)) {
        return b;
    }

    // The ratios below lie in [0, 1] by their sign tests; their
    // denominators are squared edge lengths, not zero on a triangle that
    // passed the collapse test.
    const float vc = d1 * d4 - d3 * d2;
    if ((vc <= 0.0f) && (d1 >= 0.0f) && (d3 <= 0.0f)) {
        return a + ab * (d1 / (d1 - d3));
    }

    const dgVector cp(p - c);
    const float d5 = ab % cp;
    const float d6 = ac % cp;
    if ((d6 >= 0.0f) && (d5 <= d6)) {
        return c;
    }

    const float vb = d5 * d2 - d1 * d6;
    if ((vb <= 0.0f) && (d2 >= 0.0f) && (d6 <= 0.0f)) {
        return a + ac * (d2 / (d2 - d6));
    }

    const float va = d3 * d6 - d5 * d4;
    if ((va <= 0.0f) && ((d4 - d3) >= 0.0f) && ((d5 - d6) >= 0.0f)) {
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    }

    const float sum = va + vb + vc;
    if (!(sum > 0.0f) || (va < 0.0f) || (vb < 0.0f) || (vc < 0.0f)) {
        onTriangle = false;
        return a;
    }
    const float k = 1.0f / sum;
    return a + ab * (vb * k) + ac * (vc * k);
}

}  // namespace

dgRayHitRecord::dgRayHitRecord(const dgVector& p0_, const dgVector& p1_)
    : p0(p0_), p1(p1_), normal(0.0f, 1.0f, 0.0f, 1.0f), t(1.1f) {}

bool dgRayFaceTest(const dgVector& p0, const dgVector& p1, const float* vertices, int32_t strideBytes,
                   const int32_t* indices, int32_t indexCount, float& t, dgVector& normal) {
    if (indexCount < 3) {
        return false;
    }
    const dgVector a(dgReadVertex(vertices, strideBytes, indices[0]));
    const dgVector b(dgReadVertex(vertices, strideBytes, indices[1]));
    const dgVector c(dgReadVertex(vertices, strideBytes, indices[2]));
    dgVector e1(b - a);
    dgVector e2(c - a);
    const dgVector n(e1.cross(e2));

    const dgVector d(p1 - p0);
    const float den = d % n;
    // Also rejects NaN.
    if (!(den < 0.0f)) {
        return false;
    }
    const float hitT = ((a - p0) % n) / den;
    if ((hitT < 0.0f) || (hitT > 1.0f)) {
        return false;
    }

    const dgVector r(p0 + d * hitT - a);
    double dot11 = dgDot64(e1, e1);
    double dot12 = dgDot64(e1, e2);
    double dot22 = dgDot64(e2, e2);
    double re1 = dgDot64(r, e1);
    double re2 = dgDot64(r, e2);
    bool hit = dgInsideFanTriangle(re1, re2, dot11, dot12, dot22, dot22 * dot11 - dot12 * dot12);

    for (int32_t k = 3; !hit && (k < indexCount); ++k) {
        // The fan shares its edge a -> v(k-1) with the previous triangle.
        e1 = e2;
        dot11 = dot22;
        re1 = re2;
        e2 = dgReadVertex(vertices, strideBytes, indices[k]) - a;
        dot12 = dgDot64(e1, e2);
        dot22 = dgDot64(e2, e2);
        re2 = dgDot64(r, e2);
        const double det = dot22 * dot11 - dot12 * dot12;
        if (det > 0.0) {
            hit = dgInsideFanTriangle(re1, re2, dot11, dot12, dot22, det);
        }
    }
    if (!hit) {
        return false;
    }
    t = hitT;
    normal = dgVector(n.x, n.y, n.z, 1.0f);
    return true;
}

int32_t dgRayHitClosestCallback(void* context, const float* vertices, int32_t strideBytes,
                                const int32_t* indices, int32_t indexCount) {
    dgRayHitRecord& record = *static_cast<dgRayHitRecord*>(context);
    float t;
    dgVector normal;
    if (dgRayFaceTest(record.p0, record.p1, vertices, strideBytes, indices, indexCount, t, normal) &&
        (t < record.t)) {
        record.t = t;
        record.normal = normal;
    }
    return 1;
}

int32_t dgRayHitAnyCallback(void* context, const float* vertices, int32_t strideBytes, const int32_t* indices,
                            int32_t indexCount) {
    dgRayHitRecord& record = *static_cast<dgRayHitRecord*>(context);
    float t;
    dgVector normal;
    if (dgRayFaceTest(record.p0, record.p1, vertices, strideBytes, indices, indexCount, t, normal) &&
        (t < record.t)) {
        record.t = t;
        return 0;
    }
    return 1;
}

bool dgClipSegmentToBox(dgVector& p0, dgVector& p1, const dgVector& boxMin, const dgVector& boxMax) {
    return dgClipToPlane(p0, p1, 0, boxMax.x, true) && dgClipToPlane(p0, p1, 0, boxMin.x, false) &&
           dgClipToPlane(p0, p1, 2, boxMax.z, true) && dgClipToPlane(p0, p1, 2, boxMin.z, false) &&
           dgClipToPlane(p0, p1, 1, boxMax.y, true) && dgClipToPlane(p0, p1, 1, boxMin.y, false);
}

dgVector dgClosestPointOnSegment(const dgVector& p, const dgVector& a, const dgVector& b) {
    const dgVector d(b - a);
    const float dd = d % d;
    if (!(dd > 0.0f)) {
        return a;
    }
    return dgPointAt(a, b, d, dgClampUnit(((p - a) % d) / dd));
}

void dgClosestPointsOfSegments(const dgVector& p0, const dgVector& p1, const dgVector& q0, const dgVector& q1,
                               dgVector& outP, dgVector& outQ) {
    const dgVector d1(p1 - p0);
    const dgVector d2(q1 - q0);
    const float A = d1 % d1;
    const float E = d2 % d2;
    if (!(A > 0.0f)) {
        outP = p0;
        outQ = dgClosestPointOnSegment(p0, q0, q1);
        return;
    }
    if (!(E > 0.0f)) {
        outQ = q0;
        outP = dgClosestPointOnSegment(q0, p0, p1);
        return;
    }

    // The squared distance |p0 + s d1 - q0 - t d2|^2 is least where
    // A s + B t = C and B s + E t = F.
    const dgVector pq(q0 - p0);
    const float B = -(d1 % d2);
    const float C = pq % d1;
    const float F = -(pq % d2);

    // D = A E - B^2 as a squared cross product: the difference form cancels
    // catastrophically for nearly parallel segments.
    const dgVector n(d1.cross(d2));
    const float D = n % n;

    // s comes from the two lines (or the overlap when parallel) and is
    // clamped; t is then the best for that s rather than solved from the
    // lines too, which keeps nearly parallel pairs accurate. When t must be
    // clamped the pair lies on that end of q and s is solved again for it.
    float s;
    if (D <= kParallelSin2 * A * E) {
        // Every pair across the common stretch is equally close; take the
        // middle of that stretch, or the facing ends when there is none.
        const float sa = C / A;
        const float sb = (C - B) / A;
        const float lo = dgMax(0.0f, dgMin(sa, sb));
        const float hi = dgMin(1.0f, dgMax(sa, sb));
        s = dgClampUnit(0.5f * (lo + hi));
    } else {
        s = dgClampUnit((pq.cross(d2) % n) / D);
    }
    const float tRaw = (F - B * s) / E;
    const float t = dgClampUnit(tRaw);
    if (t != tRaw) {
        s = dgClampUnit((C - B * t) / A);
    }
    outP = dgPointAt(p0, p1, d1, s);
    outQ = dgPointAt(q0, q1, d2, t);
}

dgVector dgClosestPointOnTriangle(const dgVector& p, const dgVector& a, const dgVector& b,
                                  const dgVector& c) {
    const dgVector ab(b - a);
    const dgVector ac(c - a);
    const dgVector n(ab.cross(ac));
    const float area2 = n % n;
    const float scale = (ab % ab) * (ac % ac);
    if (area2 <= kCollapsedTriangleSin2 * scale) {
        return dgClosestPointOnTriangleEdges(p, a, b, c);
    }
    bool onTriangle;
    const dgVector r(dgClosestPointOnTriangleRegions(p, a, b, c, ab, ac, onTriangle));
    if (area2 > kThinTriangleSin2 * scale) {
        return onTriangle ? r : dgClosestPointOnTriangleEdges(p, a, b, c);
    }
    // On a sliver the region numerators are mostly rounding: the answer
    // still lies on the triangle but may have slid along it. The edges are
    // within the sliver's width of the truth; keep whichever is nearer.
    const dgVector e(dgClosestPointOnTriangleEdges(p, a, b, c));
    if (!onTriangle || (((e - p) % (e - p)) <= ((r - p) % (r - p)))) {
        return e;
    }
    return r;
}

bool dgClosestPointOnPolygon(const dgVector& p, const float* vertices, int32_t strideBytes,
                             const int32_t* indices, int32_t indexCount, float radius, dgVector& out) {
    float best = 1.0e20f;
    dgVector kept(p);
    if (indexCount >= 3) {
        const dgVector a(dgReadVertex(vertices, strideBytes, indices[0]));
        dgVector prev(dgReadVertex(vertices, strideBytes, indices[1]));
        for (int32_t k = 2; k < indexCount; ++k) {
            const dgVector next(dgReadVertex(vertices, strideBytes, indices[k]));
            const dgVector q(dgClosestPointOnTriangle(p, a, prev, next));
            const float dist2 = (q - p) % (q - p);
            if (dist2 < best) {
                best = dist2;
                kept = q;
            }
            prev = next;
        }
    }
    if (radius * radius < best) {
        return false;
    }
    out = kept;
    return true;
}

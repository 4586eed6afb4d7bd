// Queries every convex shape inherits: the support-function ray cast, the
// volume below a fluid plane and the contour of a plane cut.

#include <cmath>
#include <cstring>

#include "dgAssert.h"
#include "dgConvexCollision.h"
#include "dgHeap.h"
#include "dgMemory.h"
#include "dgProbeDirections.h"

namespace {

// Faces (a, b, c) of the ray simplex and the vertex d opposite each. With
// (V3 - V0) . ((V1 - V0) x (V2 - V0)) < 0 every (Vb - Va) x (Vc - Va) points
// out of the simplex.
struct dgRaySimplexFace {
    int32_t a;
    int32_t b;
    int32_t c;
    int32_t d;
};
const dgRaySimplexFace kRaySimplexFaces[4] = {{0, 1, 2, 3}, {0, 2, 3, 1}, {2, 1, 3, 0}, {1, 0, 3, 2}};

constexpr int32_t kRayIterations = 128;
constexpr int32_t kExpandIterations = 128;
// A simplex face within this of the support plane along its normal lies on
// the shape's surface.
constexpr float kSurfaceTolerance = 1.0e-6f;
// The ray has reached the surface when the point left on it is this close.
constexpr float kRayHitDistance = 1.0e-5f;

// Growth of the local box a ray is clipped to, relative to its largest half
// size and absolute.
constexpr double kRayBoxMargin = 1.0 / 16.0;
constexpr double kRayBoxMarginFloor = 1.0 / 1024.0;

// A point this close to the simplex (squared) has reached the shape.
constexpr float kOverFaceDistance2 = 4.0f * kRayHitDistance * kRayHitDistance;
// Support steps spent deciding whether a point off the simplex's face is
// near the shape or separated from it.
constexpr int32_t kSeparationSteps = 32;

// Plane values this close to zero put a vertex on the fluid plane.
constexpr float kSubmergedPlaneTolerance = 1.0e-5f;

constexpr int32_t kContourSteps = 512;
constexpr float kContourWeldDist2 = 1.0e-8f;
constexpr int32_t kContourMaxReturned = 12;
constexpr int32_t kReduceHeapCapacity = 256;

inline dgVector direction3(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 0.0f);
}

inline dgVector point3(const dgVector& v) {
    return dgVector(v.x, v.y, v.z, 1.0f);
}

// (Vb - Va) x (Vc - Va) of a simplex face, evaluated at the corner opposite
// the longest edge (the same vector from any corner), and that corner as the
// face's reference point. Near convergence a face often has two corners close
// together and one far away; crossing the two long, nearly parallel edges
// from the far corner loses most of the normal's digits in float and can put
// a point on the wrong side of the face, after which the search cycles.
struct dgSimplexFacePlane {
    dgVector normal;
    dgVector corner;
};

inline dgSimplexFacePlane facePlane(const dgVector* simplex, const dgRaySimplexFace& face) {
    const dgVector& a = simplex[face.a];
    const dgVector& b = simplex[face.b];
    const dgVector& c = simplex[face.c];
    const float lab = (b - a) % (b - a);
    const float lbc = (c - b) % (c - b);
    const float lca = (a - c) % (a - c);
    dgSimplexFacePlane plane;
    if ((lab >= lbc) && (lab >= lca)) {
        plane.normal = (a - c).cross(b - c);
        plane.corner = c;
    } else if (lbc >= lca) {
        plane.normal = (b - a).cross(c - a);
        plane.corner = a;
    } else {
        plane.normal = (c - b).cross(a - b);
        plane.corner = b;
    }
    plane.normal.w = 0.0f;
    return plane;
}

// (V3 - V0) . ((V1 - V0) x (V2 - V0)), negative when the faces point out,
// evaluated as the opposite corner against the face with the best-conditioned
// normal. Taken from V0 it is a triple product of three long, nearly parallel
// edges whenever V0 is far from the other three, and its sign is noise.
inline float simplexOrientation(const dgVector* simplex) {
    float best = -1.0f;
    float value = 0.0f;
    for (int32_t f = 0; f < 4; f++) {
        const dgRaySimplexFace& face = kRaySimplexFaces[f];
        const dgSimplexFacePlane plane(facePlane(simplex, face));
        const float mag2 = plane.normal % plane.normal;
        if (mag2 > best) {
            best = mag2;
            value = plane.normal % (simplex[face.d] - plane.corner);
        }
    }
    return value;
}

// The face of the ray simplex whose plane lies nearest above p (the largest
// signed distance), for a point the simplex search found inside.
int32_t nearestFace(const dgVector* simplex, const dgVector& p) {
    int32_t best = 0;
    float bestDist = -1.0e30f;
    for (int32_t f = 0; f < 4; f++) {
        const dgSimplexFacePlane plane(facePlane(simplex, kRaySimplexFaces[f]));
        const float mag2 = plane.normal % plane.normal;
        if (mag2 <= 1.0e-24f) {
            continue;
        }
        const float dist = (plane.normal % (p - plane.corner)) / std::sqrt(mag2);
        if (dist > bestDist) {
            bestDist = dist;
            best = f;
        }
    }
    return best;
}

// The separation judgement below works in double. Close to the shape, the
// point and its nearest point on the support simplex agree in most of their
// digits; in float their difference, the direction of the next support
// query, keeps only a few, and judged against support points a shape's size
// away it can turn a point on the surface into one neither on it nor
// separated from it (near a cone's apex, where the simplex is a sliver).
inline dgVector64 wide(const dgVector& v) {
    return dgVector64(v.x, v.y, v.z, 0.0);
}

dgVector64 closestPointOnSegment(const dgVector64& p, const dgVector64& a, const dgVector64& b) {
    const dgVector64 ab(b - a);
    const double length2 = ab % ab;
    if (!(length2 > 0.0)) {
        return a;
    }
    double t = ((p - a) % ab) / length2;
    t = (t < 0.0) ? 0.0 : ((t > 1.0) ? 1.0 : t);
    return a + ab.scale(t);
}

// The Voronoi-region walk over a triangle with area; one without area is
// its edges.
dgVector64 closestPointOnTriangle(const dgVector64& p, const dgVector64& a, const dgVector64& b,
                                  const dgVector64& c) {
    const dgVector64 ab(b - a);
    const dgVector64 ac(c - a);
    const dgVector64 n(ab.cross(ac));
    if ((n % n) > 0.0) {
        const dgVector64 ap(p - a);
        const double d1 = ab % ap;
        const double d2 = ac % ap;
        if ((d1 <= 0.0) && (d2 <= 0.0)) {
            return a;
        }
        const dgVector64 bp(p - b);
        const double d3 = ab % bp;
        const double d4 = ac % bp;
        if ((d3 >= 0.0) && (d4 <= d3)) {
            return b;
        }
        // Every denominator below is a squared edge length of a triangle
        // with area.
        const double vc = d1 * d4 - d3 * d2;
        if ((vc <= 0.0) && (d1 >= 0.0) && (d3 <= 0.0)) {
            return a + ab.scale(d1 / (d1 - d3));
        }
        const dgVector64 cp(p - c);
        const double d5 = ab % cp;
        const double d6 = ac % cp;
        if ((d6 >= 0.0) && (d5 <= d6)) {
            return c;
        }
        const double vb = d5 * d2 - d1 * d6;
        if ((vb <= 0.0) && (d2 >= 0.0) && (d6 <= 0.0)) {
            return a + ac.scale(d2 / (d2 - d6));
        }
        const double va = d3 * d6 - d5 * d4;
        if ((va <= 0.0) && ((d4 - d3) >= 0.0) && ((d5 - d6) >= 0.0)) {
            return b + (c - b).scale((d4 - d3) / ((d4 - d3) + (d5 - d6)));
        }
        const double sum = va + vb + vc;
        if ((sum > 0.0) && (va >= 0.0) && (vb >= 0.0) && (vc >= 0.0)) {
            return a + ab.scale(vb / sum) + ac.scale(vc / sum);
        }
    }
    const dgVector64 candidates[3] = {closestPointOnSegment(p, a, b), closestPointOnSegment(p, b, c),
                                      closestPointOnSegment(p, c, a)};
    int32_t best = 0;
    for (int32_t i = 1; i < 3; i++) {
        if (((candidates[i] - p) % (candidates[i] - p)) < ((candidates[best] - p) % (candidates[best] - p))) {
            best = i;
        }
    }
    return candidates[best];
}

// The point closest to p of the tetrahedron corners[0 .. 4) whose first
// three corners form a triangle; the corners are reduced to the face holding
// that point (count 3). False when p lies inside the tetrahedron. A flat
// tetrahedron has no inside: every face is tried.
bool closestPointOnSimplex(const dgVector64& p, dgVector64* corners, int32_t& count, dgVector64& closest) {
    DG_ASSERT(count == 4);
    double best = 0.0;
    int32_t bestFace = -1;
    for (int32_t f = 0; f < 4; f++) {
        const dgRaySimplexFace& face = kRaySimplexFaces[f];
        const dgVector64& a = corners[face.a];
        const dgVector64 n((corners[face.b] - a).cross(corners[face.c] - a));
        if (((n % (p - a)) * (n % (corners[face.d] - a))) > 0.0) {
            continue;
        }
        const dgVector64 point(closestPointOnTriangle(p, a, corners[face.b], corners[face.c]));
        const dgVector64 offset(p - point);
        const double dist2 = offset % offset;
        if ((bestFace < 0) || (dist2 < best)) {
            best = dist2;
            bestFace = f;
            closest = point;
        }
    }
    if (bestFace < 0) {
        return false;
    }
    const dgRaySimplexFace& face = kRaySimplexFaces[bestFace];
    const dgVector64 kept[3] = {corners[face.a], corners[face.b], corners[face.c]};
    corners[0] = kept[0];
    corners[1] = kept[1];
    corners[2] = kept[2];
    count = 3;
    return true;
}

template <class T>
inline void swapValues(T& a, T& b) {
    const T t(a);
    a = b;
    b = t;
}

// Per-vertex plane values, on the stack for every table the shapes build and
// from a scratch block past that.
class dgVertexValues {
public:
    explicit dgVertexValues(int32_t count)
        : m_large(count > dgConvexMaxEdges ? count : 0),
          m_values(m_large.getData() ? m_large.getData() : m_local) {}
    float& operator[](int32_t i) { return m_values[i]; }
    float operator[](int32_t i) const { return m_values[i]; }

private:
    float m_local[dgConvexMaxEdges];
    dgScratchArray<float> m_large;
    float* m_values;
};

// Removal marks of reducePolygon: fixed for contours, scratch for larger input.
class dgReduceScratch {
public:
    explicit dgReduceScratch(int32_t count)
        : m_largeHeap(count > kReduceHeapCapacity ? count : 0),
          m_largeMarks(count > kReduceHeapCapacity ? count : 0),
          m_heapStorage(m_largeHeap.getData() ? m_largeHeap.getData() : m_localHeap),
          m_marks(m_largeMarks.getData() ? m_largeMarks.getData() : m_localMarks),
          m_capacity(m_largeHeap.getData() ? count : kReduceHeapCapacity) {}

    typedef dgHeap<int32_t, float, dgHeapOrder::max> Heap;

    Heap::Entry* heapStorage() { return m_heapStorage; }
    uint8_t* marks() { return m_marks; }
    int32_t capacity() const { return m_capacity; }

private:
    Heap::Entry m_localHeap[kReduceHeapCapacity];
    uint8_t m_localMarks[kReduceHeapCapacity];
    dgScratchArray<Heap::Entry> m_largeHeap;
    dgScratchArray<uint8_t> m_largeMarks;
    Heap::Entry* m_heapStorage;
    uint8_t* m_marks;
    int32_t m_capacity;
};

}  // namespace

bool dgConvexCollision::segmentHitsLocalBox(const dgVector& p0, const dgVector& p1) const {
    float tmin = 0.0f;
    float tmax = 1.0f;
    const dgVector start(p0 - m_boxCentre);
    const dgVector delta(p1 - p0);
    for (int32_t i = 0; i < 3; i++) {
        const float h = m_boxHalfSize[i];
        const float d = delta[i];
        if (std::fabs(d) < 1.0e-8f) {
            if ((start[i] < -h) || (start[i] > h)) {
                return false;
            }
            continue;
        }
        const float inv = 1.0f / d;
        const float tPlus = (h - start[i]) * inv;
        if (d < 0.0f) {
            tmin = (tPlus > tmin) ? tPlus : tmin;
        } else {
            tmax = (tPlus < tmax) ? tPlus : tmax;
        }
        if (tmin > tmax) {
            return false;
        }
        const float tMinus = (-h - start[i]) * inv;
        if (d > 0.0f) {
            tmin = (tMinus > tmin) ? tMinus : tmin;
        } else {
            tmax = (tMinus < tmax) ? tMinus : tmax;
        }
        if (tmin > tmax) {
            return false;
        }
    }
    return true;
}

int32_t dgConvexCollision::expandRaySimplex(dgVector* simplex, const dgVector& point, float& distance) const {
    for (int32_t iteration = 0; iteration < kExpandIterations; iteration++) {
        int32_t bestFace = -1;
        float bestDist = 0.0f;
        dgVector bestNormal(0.0f, 0.0f, 0.0f, 0.0f);
        dgVector bestCorner(0.0f, 0.0f, 0.0f, 0.0f);
        for (int32_t f = 0; f < 4; f++) {
            const dgSimplexFacePlane plane(facePlane(simplex, kRaySimplexFaces[f]));
            const float mag2 = plane.normal % plane.normal;
            if (mag2 <= 1.0e-24f) {
                continue;
            }
            const dgVector n(plane.normal.scale(1.0f / std::sqrt(mag2)));
            const float dist = n % (point - plane.corner);
            if (dist > bestDist) {
                bestFace = f;
                bestDist = dist;
                bestNormal = n;
                bestCorner = plane.corner;
            }
        }
        if (bestFace < 0) {
            distance = bestDist;
            return -1;
        }

        const dgRaySimplexFace& face = kRaySimplexFaces[bestFace];
        const dgVector support(point3(supportVertex(bestNormal)));
        if ((bestNormal % (support - bestCorner)) < kSurfaceTolerance) {
            distance = bestDist;
            return bestFace;
        }
        if (iteration == kExpandIterations - 1) {
            // Out of budget (rare, on curved surfaces). The best face is handed
            // back unchanged: the ray cast advances to its plane and still
            // reports a hit only once a later search encloses the point or
            // reaches the surface. Giving up here instead would let a ray pass
            // through the shape; advancing costs at most a hit parameter late
            // by the face's depth below the surface.
            distance = 1.0e10f;
            return bestFace;
        }

        // Grow past the face: the new corner lies beyond it, which flips the
        // orientation, restored by one transposition (and checked after).
        simplex[face.d] = support;
        swapValues(simplex[face.a], simplex[face.b]);
        if (simplexOrientation(simplex) >= 0.0f) {
            swapValues(simplex[1], simplex[2]);
        }
    }
    distance = 1.0e10f;
    return -1;
}

bool dgConvexCollision::clipRayToLocalBox(const dgVector& p0, const dgVector& p1, dgClippedRay& ray) const {
    double fromStart[3];
    double fromEnd[3];
    double delta[3];
    double half[3];
    double largest = 0.0;
    for (int32_t i = 0; i < 3; i++) {
        if (!std::isfinite(p0[i]) || !std::isfinite(p1[i])) {
            return false;
        }
        fromStart[i] = double(p0[i]) - double(m_boxCentre[i]);
        fromEnd[i] = double(p1[i]) - double(m_boxCentre[i]);
        delta[i] = double(p1[i]) - double(p0[i]);
        half[i] = double(m_boxHalfSize[i]);
        largest = (half[i] > largest) ? half[i] : largest;
    }
    const double margin = largest * kRayBoxMargin + kRayBoxMarginFloor;
    // Slab clipping, remembering the planes that cut the segment.
    double tmin = 0.0;
    double tmax = 1.0;
    int32_t enterAxis = -1;
    int32_t leaveAxis = -1;
    double enterPlane = 0.0;
    double leavePlane = 0.0;
    for (int32_t i = 0; i < 3; i++) {
        const double h = half[i] + margin;
        if (delta[i] == 0.0) {
            if (std::fabs(fromStart[i]) > h) {
                return false;
            }
            continue;
        }
        const double inv = 1.0 / delta[i];
        const double near = (delta[i] > 0.0) ? -h : h;
        const double enter = (near - fromStart[i]) * inv;
        const double leave = (-near - fromStart[i]) * inv;
        if (enter > tmin) {
            tmin = enter;
            enterAxis = i;
            enterPlane = near;
        }
        if (leave < tmax) {
            tmax = leave;
            leaveAxis = i;
            leavePlane = -near;
        }
        if (tmin > tmax) {
            return false;
        }
    }
    // A clipped end is measured from the nearer of the caller's ends: from a
    // start millions of units away, p0 + t (p1 - p0) would keep none of the
    // digits that matter near the shape, while the same point as p1 + (t - 1)
    // (p1 - p0) keeps them all.
    ray.p0 = p0;
    ray.p1 = p1;
    ray.t0 = tmin;
    ray.span = tmax - tmin;
    const bool nearEnd = (tmin > 0.5);
    const double enterFromEnd =
        (enterAxis >= 0) ? (enterPlane - fromEnd[enterAxis]) / delta[enterAxis] : -1.0;
    const double leaveFromEnd = (leaveAxis >= 0) ? (leavePlane - fromEnd[leaveAxis]) / delta[leaveAxis] : 0.0;
    if (nearEnd) {
        ray.span = leaveFromEnd - enterFromEnd;
    }
    for (int32_t i = 0; i < 3; i++) {
        if (enterAxis >= 0) {
            ray.p0[i] = nearEnd ? float(double(p1[i]) + delta[i] * enterFromEnd)
                                : float(double(p0[i]) + delta[i] * tmin);
        }
        if (leaveAxis >= 0) {
            ray.p1[i] = (tmax > 0.5) ? float(double(p1[i]) + delta[i] * leaveFromEnd)
                                     : float(double(p0[i]) + delta[i] * tmax);
        }
    }
    if (enterAxis >= 0) {
        ray.p0[enterAxis] = float(double(m_boxCentre[enterAxis]) + enterPlane);
    }
    if (leaveAxis >= 0) {
        ray.p1[leaveAxis] = float(double(m_boxCentre[leaveAxis]) + leavePlane);
    }
    return true;
}

float dgConvexCollision::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                 dgCollisionRayPrefilter prefilter, const dgBody* body,
                                 void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(
        p0, p1, [&](const dgVector& q0, const dgVector& q1) { return castSupportRay(q0, q1, contact); });
}

dgVector dgConvexCollision::widestSupport(const dgVector& direction, const dgVector& origin) const {
    const dgVector plus(point3(supportVertex(direction)));
    const dgVector minus(point3(supportVertex(direction.scale(-1.0f))));
    const float reachPlus = std::fabs((plus - origin) % direction);
    const float reachMinus = std::fabs((minus - origin) % direction);
    return (reachPlus >= reachMinus) ? plus : minus;
}

float dgConvexCollision::castSupportRay(const dgVector& p0, const dgVector& p1,
                                        dgContactPoint& contact) const {
    if ((m_edgeCount == 0) || !segmentHitsLocalBox(p0, p1)) {
        return kRayMiss;
    }

    const dgVector origin(point3(p0));
    const dgVector end(point3(p1));
    const dgVector delta(direction3(end - origin));
    const dgVector dir(delta.scale(1.0f / std::sqrt((delta % delta) + 1.0e-24f)));

    // First simplex: the shape's extremes along the ray, widened by the probe
    // directions until it spans a volume.
    dgVector s0(point3(supportVertex(dir.scale(-1.0f))));
    dgVector s1(point3(supportVertex(dir)));
    int32_t probe = 0;
    if (((s1 - s0) % (s1 - s0)) < 0.01f) {
        for (probe = 0; probe < dgProbeDirectionCount; probe++) {
            s1 = point3(supportVertex(dgProbeDirections[probe]));
            if (((s1 - s0) % (s1 - s0)) > 1.0e-4f) {
                break;
            }
        }
    }
    probe++;
    if (probe >= dgProbeDirectionCount) {
        return kRayMiss;
    }
    // The probes are few: a long or flat shape can keep answering with points
    // on the line or plane found so far. The extremes across it settle that
    // case; only a shape without volume still misses.
    dgVector s2;
    dgVector n;
    bool spans = false;
    for (; probe < dgProbeDirectionCount; probe++) {
        s2 = point3(supportVertex(dgProbeDirections[probe]));
        n = (s1 - s0).cross(s2 - s0);
        if ((n % n) > 1.0e-4f) {
            spans = true;
            break;
        }
    }
    if (!spans) {
        const dgVector line(s1 - s0);
        const dgVector across(line.cross(std::fabs(line.x) < std::fabs(line.y)
                                             ? dgVector(1.0f, 0.0f, 0.0f, 0.0f)
                                             : dgVector(0.0f, 1.0f, 0.0f, 0.0f)));
        s2 = widestSupport(across, s0);
        n = line.cross(s2 - s0);
        if (!((n % n) > 1.0e-4f)) {
            return kRayMiss;
        }
    }
    probe++;
    dgVector s3;
    spans = false;
    for (; probe < dgProbeDirectionCount; probe++) {
        s3 = point3(supportVertex(dgProbeDirections[probe]));
        if (std::fabs((s3 - s0) % n) > 1.0e-4f) {
            spans = true;
            break;
        }
    }
    if (!spans) {
        s3 = widestSupport(n, s0);
        if (!(std::fabs((s3 - s0) % n) > 1.0e-4f)) {
            return kRayMiss;
        }
    }
    // Faces out of the simplex: the fourth corner behind the first face.
    if (((s3 - s0) % n) > 0.0f) {
        swapValues(s0, s1);
    }
    dgVector simplex[4] = {s0, s1, s2, s3};

    float tLow = 0.0f;
    float dist = 0.0f;
    int32_t face = -1;
    dgVector normal(0.0f, 0.0f, 0.0f, 0.0f);

    // Moves the ray's point to t and searches from there. A face within reach
    // of the point proves a hit only when the point lies over that face: near
    // a sharp vertex the simplex is a thin wedge whose face planes nearly
    // coincide, and a point past the vertex lies close to all of them. Off the
    // face (and when the search runs out of steps on such slivers) the point
    // is judged by the support function from the face on: close to the shape
    // is a hit; a support plane that separates it from the shape moves the
    // ray on to that plane (or ends it as a miss when the ray moves away from
    // the plane), and the search starts again from there.
    auto settle = [&](float t) {
        for (int32_t step = 0; step < kRayIterations; step++) {
            const dgVector q(origin + delta.scale(t));
            face = expandRaySimplex(simplex, q, dist);
            tLow = t;
            int32_t judged = face;
            if (face < 0) {
                // Inside the simplex by its face planes; a flat simplex has
                // planes that all pass close to points well off it.
                judged = nearestFace(simplex, q);
            } else if ((dist >= kRayHitDistance) && (dist < 1.0e10f)) {
                return;
            }
            const dgRaySimplexFace& f = kRaySimplexFaces[judged];
            const dgVector64 point(wide(q));
            dgVector64 corners[4] = {wide(simplex[f.a]), wide(simplex[f.b]), wide(simplex[f.c]),
                                     wide(simplex[f.c])};
            int32_t count = 3;
            dgVector64 closest(closestPointOnTriangle(point, corners[0], corners[1], corners[2]));
            dgVector away;
            float gap = 0.0f;
            bool reached = false;
            bool separated = false;
            for (int32_t k = 0; (k < kSeparationSteps) && !reached && !separated; k++) {
                const dgVector64 offset(point - closest);
                const double offset2 = offset % offset;
                if (!(offset2 > double(kOverFaceDistance2))) {
                    reached = true;
                    break;
                }
                const dgVector64 unit(offset.scale(1.0 / std::sqrt(offset2)));
                away = dgVector(float(unit.x), float(unit.y), float(unit.z), 0.0f);
                const dgVector64 support(wide(supportVertex(away)));
                gap = float((point - support) % unit);
                separated = (gap > kRayHitDistance);
                corners[count++] = support;
                reached = !separated && !closestPointOnSimplex(point, corners, count, closest);
            }
            if (reached) {
                if (face >= 0) {
                    dist = 0.0f;
                }
                return;
            }
            if (!separated) {
                return;
            }
            normal = away;
            const float approach = delta % away;
            t = (approach < 0.0f) ? t + gap / -approach : 2.0f;
            if (!(t <= 1.0f)) {
                face = -1;
                dist = 1.0e10f;
                return;
            }
        }
        face = -1;
        dist = 1.0e10f;
    };

    // From the start: inside the shape is no hit, and a face near the start is
    // not yet one; a start found clear of the shape may already have moved on.
    settle(0.0f);
    if (tLow == 0.0f) {
        dist = 1.0e10f;
    }
    for (int32_t iteration = 0; (iteration < kRayIterations) && (face != -1) && (dist > kRayHitDistance);
         iteration++) {
        dist = 1.0e10f;
        const dgSimplexFacePlane plane(facePlane(simplex, kRaySimplexFaces[face]));
        const dgVector& a = plane.corner;
        normal = plane.normal;
        const float den = delta % normal;
        // The current point lies outside this face, so the segment reaches its
        // plane only while approaching it, and within the segment only when
        // the end point is not in front of it. Deciding by these signs rather
        // than by the rounded quotient keeps an end point exactly on the
        // surface a hit at t = 1.
        if (den < 0.0f) {
            float t = ((a - origin) % normal) / den;
            t = (t < tLow) ? tLow : t;
            if (((end - a) % normal) <= 0.0f) {
                t = (t > 1.0f) ? 1.0f : t;
                settle(t);
            } else {
                face = -1;
            }
        } else {
            face = -1;
        }
    }

    if (dist < kRayHitDistance) {
        // The plane just crossed has a normal of non-zero length: the simplex
        // search only returns faces that do, and a separating plane's is a
        // unit vector.
        const float mag2 = normal % normal;
        contact.normal = normal.scale(1.0f / std::sqrt(mag2));
        contact.normal.w = 0.0f;
        contact.userId = dgContactUserId(m_userId);
        return tLow;
    }
    return kRayMiss;
}

dgVector dgConvexCollision::calcSubmergedVolume(const dgMatrix& matrix,
                                                dgCollisionFluidPlaneCallback callback, void* context) const {
    dgPlane plane(0.0f, 1.0f, 0.0f, -1.0e8f);
    if (callback) {
        dgPlane globalPlane(0.0f, 1.0f, 0.0f, -1.0e8f);
        if (callback(m_userId, context, matrix, globalPlane)) {
            plane = matrix.untransformPlane(globalPlane);
        }
    }
    const dgVector result(calcSubmergedVolumeLocal(plane));
    const dgVector centroid(matrix.transformVector(dgVector(result.x, result.y, result.z, 1.0f)));
    return dgVector(centroid.x, centroid.y, centroid.z, result.w);
}

// The part below the plane is closed by clipping every face and adding the
// cap. The cap is not traced as a contour: each clipped face contributes the
// piece of its boundary that lies on the plane, and the cap is the fan of
// those pieces, reversed, about one point of it. That needs no crossing edge
// to start from and no walk that a vertex on the plane could stall, so planes
// through vertices and edges are handled like any other.
dgVector dgConvexCollision::calcSubmergedVolumeLocal(const dgPlane& plane) const {
    const dgVector zero(0.0f, 0.0f, 0.0f, 0.0f);
    const int32_t edgeCount = m_edgeCount;
    const int32_t vertexCount = m_vertexCount;
    if ((edgeCount == 0) || (vertexCount == 0)) {
        return zero;
    }

    dgVertexValues values(vertexCount);
    bool anyAbove = false;
    bool anyBelow = false;
    for (int32_t i = 0; i < vertexCount; i++) {
        float s = plane.evaluate(m_vertices[i]);
        if (s > kSubmergedPlaneTolerance) {
            anyAbove = true;
        } else if (s < -kSubmergedPlaneTolerance) {
            anyBelow = true;
        } else {
            s = 0.0f;
        }
        values[i] = s;
    }
    if (!anyBelow) {
        return zero;
    }
    if (!anyAbove) {
        return m_centreOfMass;
    }

    // A clipped convex face has at most one point more than the face; the
    // capacity check only guards a damaged table.
    constexpr int32_t kFacePointCapacity = dgConvexMaxEdges + 2;
    dgVector clipped[kFacePointCapacity];
    uint8_t onPlane[kFacePointCapacity];
    // Hulls may have more half-edges than the fixed flags cover.
    uint8_t localVisited[dgConvexMaxEdges];
    dgScratchArray<uint8_t> largeVisited(edgeCount > dgConvexMaxEdges ? edgeCount : 0);
    uint8_t* const visited = (edgeCount > dgConvexMaxEdges) ? largeVisited.getData() : localVisited;
    if (!visited) {
        return zero;
    }
    std::memset(visited, 0, size_t(edgeCount));

    const dgPlane capPlane(direction3(plane), plane.w);
    bool haveCapOrigin = false;
    dgVector capOrigin(0.0f, 0.0f, 0.0f, 1.0f);

    dgVolumeIntegrals integrals;
    for (int32_t i = 0; i < edgeCount; i++) {
        if (visited[i]) {
            continue;
        }
        const dgConvexEdge* const first = &m_edges[i];
        const dgVector& anchor = m_vertices[first->m_vertex];
        // In double: the squared area of a face some 1e10 across leaves the
        // float range, and the face would be dropped as one without area.
        dgVector64 areaNormal(0.0, 0.0, 0.0, 0.0);
        dgVector faceSum(0.0f, 0.0f, 0.0f, 0.0f);
        int32_t faceCount = 0;
        int32_t count = 0;
        bool hasBelow = false;

        const dgConvexEdge* edge = first;
        do {
            const int32_t index = int32_t(edge - m_edges);
            if ((index >= 0) && (index < edgeCount)) {
                visited[index] = 1;
            }
            const uint32_t prevVertex = edge->m_prev->m_vertex;
            const uint32_t curVertex = edge->m_vertex;
            const dgVector& p = m_vertices[prevVertex];
            const dgVector& q = m_vertices[curVertex];
            const float sp = values[int32_t(prevVertex)];
            const float sc = values[int32_t(curVertex)];

            // Area-weighted normal of the whole face, fanned from its first vertex.
            areaNormal += dgVector64(p - anchor).cross(dgVector64(q - anchor));
            faceSum += q;
            faceCount++;

            if (sp <= 0.0f) {
                hasBelow = hasBelow || (sp < 0.0f);
                if (count < kFacePointCapacity) {
                    clipped[count] = point3(p);
                    onPlane[count] = (sp == 0.0f) ? 1 : 0;
                    count++;
                }
            }
            if (((sp < 0.0f) && (sc > 0.0f)) || ((sp > 0.0f) && (sc < 0.0f))) {
                // Strictly opposite signs: the quotient lies in (0, 1).
                const float t = sp / (sp - sc);
                if (count < kFacePointCapacity) {
                    clipped[count] = point3(p + (q - p).scale(t));
                    onPlane[count] = 1;
                    count++;
                }
            }
            edge = edge->m_next;
        } while ((edge != first) && (faceCount < edgeCount));

        // A face that only touches the plane (no vertex strictly below) adds
        // neither area nor cap boundary.
        if (!hasBelow || (count < 3)) {
            continue;
        }

        const double area2 = areaNormal % areaNormal;
        if (area2 > 0.0) {
            const dgVector unit(areaNormal.scale(1.0 / std::sqrt(area2)).toVector());
            const dgVector centre(faceSum.scale(1.0f / float(faceCount)));
            const dgPlane faceEquation(direction3(unit), -(unit % centre));
            integrals.addFace(count, faceEquation, clipped);
        }

        // The face's boundary on the plane runs u -> v; the cap, seen from
        // above the plane, runs the other way.
        for (int32_t j = 0; j < count; j++) {
            const int32_t k = (j + 1 < count) ? j + 1 : 0;
            if (!onPlane[j] || !onPlane[k]) {
                continue;
            }
            if (!haveCapOrigin) {
                capOrigin = clipped[j];
                haveCapOrigin = true;
                continue;
            }
            const dgVector triangle[3] = {capOrigin, clipped[k], clipped[j]};
            integrals.addFace(3, capPlane, triangle);
        }
    }

    // The first moments of a large part leave the float range long before
    // its centroid does: the centroid is formed here, in double.
    double centre[3];
    integrals.centroid(centre);
    return dgVector(float(centre[0]), float(centre[1]), float(centre[2]), float(integrals.T0));
}

// The contour is traced on the half-edge table. Vertices on the plane are
// classed with the side above it (below means s < 0), which is the table's
// topology for a plane moved down by an infinitesimal: every face then has
// one edge in and one edge out of the region below, and a vertex on the plane
// comes out as a point of the contour like any crossing. When nothing lies
// strictly below but the shape touches the plane from above, the class of
// points on the plane flips (below means s <= 0) so that the touching vertex,
// edge or face comes back instead of nothing.
int32_t dgConvexCollision::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                 dgVector* points) const {
    if ((m_edgeCount == 0) || !m_startEdges[0]) {
        return 0;
    }
    const dgVector n(direction3(normal));
    const float offset = n % point;
    const dgVector* const vertices = m_vertices;
    auto value = [&](const dgConvexEdge* e) { return (n % vertices[e->m_vertex]) - offset; };

    // Start on the side of the dominant axis the plane passes nearer to.
    int32_t axis = -1;
    float best = 0.0f;
    for (int32_t i = 0; i < 3; i++) {
        if (n[i] > best) {
            axis = i;
            best = n[i];
        }
        if (-n[i] > best) {
            axis = i;
            best = -n[i];
        }
    }
    const dgConvexEdge* current = m_edges;
    if (axis >= 0) {
        const dgConvexEdge* plus = m_startEdges[2 * axis];
        const dgConvexEdge* minus = m_startEdges[2 * axis + 1];
        current = (std::fabs(value(plus)) < std::fabs(value(minus))) ? plus : minus;
    }

    // Climb to an edge from a vertex not below the plane to one below it.
    // Every move strictly improves the value, so each vertex is left at most
    // once and each of its edges tried at most once: the budget only guards a
    // damaged table.
    const int32_t edgeCount = m_edgeCount;
    bool strict = false;
    auto below = [&strict](float s) { return strict ? (s <= 0.0f) : (s < 0.0f); };
    const dgConvexEdge* crossing = nullptr;
    float v = value(current);
    int32_t budget = 2 * edgeCount + 8;
    while (!crossing) {
        const bool climbUp = below(v);
        const dgConvexEdge* turnStart = current;
        const dgConvexEdge* e = current;
        bool moved = false;
        do {
            if (--budget < 0) {
                DG_ASSERT(!"plane walk ran past its budget");
                return 0;
            }
            const dgConvexEdge* twin = e->m_twin;
            const float s = value(twin);
            if (climbUp) {
                if (!below(s)) {
                    crossing = twin;
                    break;
                }
                if (s > v) {
                    current = twin;
                    v = s;
                    moved = true;
                    break;
                }
            } else {
                if (below(s)) {
                    crossing = e;
                    break;
                }
                if (s < v) {
                    current = twin;
                    v = s;
                    moved = true;
                    break;
                }
            }
            e = twin->m_next;
        } while (e != turnStart);
        if (crossing || moved) {
            continue;
        }
        // A full turn without progress: this vertex is the shape's extreme.
        if (!climbUp && !strict && (v == 0.0f)) {
            // Lowest point on the plane: take the touching part from above.
            strict = true;
            continue;
        }
        return 0;
    }

    int32_t count = 0;
    const dgConvexEdge* e = crossing;
    for (int32_t step = 0; step < kContourSteps; step++) {
        const dgVector& o = vertices[e->m_vertex];
        const dgVector& target = vertices[e->m_twin->m_vertex];
        const float so = value(e);
        const float st = value(e->m_twin);
        // so is not below and st is, so the quotient lies in [0, 1).
        const float t = so / (so - st);
        const dgVector p(o + (target - o).scale(t));
        if (count == 0) {
            points[count++] = p;
        } else {
            const dgVector gap(p - points[count - 1]);
            if ((gap % gap) >= kContourWeldDist2) {
                points[count++] = p;
            }
        }
        if (count == dgPlaneIntersectionMaxPoints) {
            for (int32_t j = 0; j < dgPlaneIntersectionMaxPoints / 2; j++) {
                points[j] = points[2 * j];
            }
            count = dgPlaneIntersectionMaxPoints / 2;
        }

        // Along the face, out of the region below.
        const dgConvexEdge* f = e->m_next;
        for (int32_t guard = 0; (f != e) && (guard < edgeCount); guard++) {
            if (!below(value(f->m_twin))) {
                break;
            }
            f = f->m_next;
        }
        e = f->m_twin;
        if (e == crossing) {
            break;
        }
    }

    if (count >= 2) {
        const dgVector gap(points[count - 1] - points[0]);
        if ((gap % gap) < kContourWeldDist2) {
            count--;
        }
    }
    if (count <= kContourMaxReturned) {
        return count;
    }
    return reducePolygon(count, n, points, kContourMaxReturned);
}

int32_t dgConvexCollision::reducePolygon(int32_t count, const dgVector& normal, dgVector* points,
                                         int32_t maximum) {
    if (maximum < 0) {
        maximum = 0;
    }
    if (count <= maximum) {
        return count;
    }
    dgReduceScratch scratch(count);
    uint8_t* removed = scratch.marks();
    while (count > maximum) {
        dgReduceScratch::Heap heap(scratch.heapStorage(), scratch.capacity());
        for (int32_t j = 0; j < count; j++) {
            const int32_t prev = (j > 0) ? j - 1 : count - 1;
            const int32_t next = (j + 1 < count) ? j + 1 : 0;
            const dgVector& p0 = points[prev];
            const float area = std::fabs(((points[j] - p0).cross(points[next] - p0)) % normal);
            heap.push(j, -area);
            removed[j] = 0;
        }
        int32_t toRemove = count - maximum;
        while ((toRemove > 0) && !heap.isEmpty()) {
            const int32_t j = heap.getTopValue();
            heap.pop();
            const int32_t prev = (j > 0) ? j - 1 : count - 1;
            const int32_t next = (j + 1 < count) ? j + 1 : 0;
            if (!removed[prev] && !removed[next]) {
                removed[j] = 1;
                toRemove--;
            }
        }
        int32_t kept = 0;
        for (int32_t j = 0; j < count; j++) {
            if (!removed[j]) {
                points[kept++] = points[j];
            }
        }
        count = kept;
    }
    return count;
}

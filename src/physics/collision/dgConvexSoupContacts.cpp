#include "dgConvexSoupContacts.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "dgAssert.h"
#include "dgCollisionPolygonalSoup.h"
#include "dgCollisionSphere.h"
#include "dgContactReduction.h"
#include "dgConvexCollision.h"
#include "dgDynamicsServices.h"
#include "dgIntersections.h"
#include "dgMathUtils.h"
#include "dgMinkowskiSolver.h"
#include "dgSeparationTests.h"

namespace {

typedef dgCollisionPolygonalSoup::dgCollisionConvexPolygon dgSoupFace;

// A contact must overlap by more than this to count (sphere path).
constexpr float kContactGap = 1.0f / 256.0f;
// Reported penetration is the overlap less this.
constexpr float kPenetrationSkin = 1.0f / 128.0f;
// Squared reach within which a face contact hides an edge contact.
constexpr float kEdgeContactReach2 = 0.04f;
// Continuous path: the share of its own length a body must travel in one
// step to be swept, the spin damping of a swept body, and the share of the
// box size the sweep leaves to the box.
constexpr float kFastShare = 0.25f;
constexpr float kFastSpeed2 = 0.5f;
constexpr float kSpinDamp = 0.9f;
constexpr float kSweepSlack = 0.3f;
// A contact normal whose part across its face normal is below this (the
// squared sine of the angle between them) is the face normal up to rounding.
constexpr float kSameNormalSine2 = 1.0e-8f;
// Points of a face, and of its neighbours, within this share of the face's
// span of each other along a normal are level with each other along it.
constexpr float kLevelShare = 4.0e-6f;

// The two sides of a convex-soup pair, checked, and the convex-to-soup
// placement.
struct dgSoupPair {
    dgBody* m_convexBody;
    dgBody* m_soupBody;
    dgConvexCollision* m_convex;
    dgCollisionPolygonalSoup* m_soup;
    dgSoupFace* m_face;
    dgMatrix m_placement;

    bool set(dgBody* convexBody, dgBody* soupBody) {
        if (!convexBody || !soupBody) {
            return false;
        }
        m_convexBody = convexBody;
        m_soupBody = soupBody;
        m_convex = dgRefCast<dgConvexCollision>(convexBody->m_collision);
        m_soup = dgRefCast<dgCollisionPolygonalSoup>(soupBody->m_collision);
        if (!m_convex || !m_soup || !m_soup->getFace()) {
            return false;
        }
        m_face = m_soup->getFace();
        m_placement = convexBody->m_collisionMatrix.multiply(soupBody->m_collisionMatrix.inverse());
        return true;
    }

    // Gathers the faces in the box (soup frame); their count.
    int32_t gather(dgPolygonSoupCollideDesc& desc, const dgVector& boxMin, const dgVector& boxMax) const {
        dgSetDescVector(desc.m_boxMin, boxMin);
        dgSetDescVector(desc.m_boxMax, boxMax);
        desc.m_otherBody = m_convexBody;
        desc.m_soupBody = m_soupBody;
        desc.m_polygonCallback = nullptr;
        const int32_t count = m_soup->gatherFaces(desc);
        if ((count <= 0) || !desc.m_vertexArray) {
            return 0;
        }
        return count;
    }
};

// Walks the gathered faces, loading each into the face object.
class dgFaceWalk {
public:
    dgFaceWalk(const dgPolygonSoupCollideDesc& desc, dgSoupFace* face)
        : m_desc(desc), m_face(face), m_next(0), m_offset(0) {}

    // Loads the next face; false after the last. A face the gathering
    // holds twice in a row (a soup of one face files it in both leaves) is
    // loaded once: the second pass could only give the first one's contacts
    // again.
    bool next(int32_t& attribute) {
        while ((m_next > 0) && (m_next < m_desc.m_faceCount) && sameAsPrevious()) {
            m_current = m_offset;
            m_offset += m_desc.m_faceIndexCounts[m_next];
            m_next++;
        }
        if (m_next >= m_desc.m_faceCount) {
            return false;
        }
        const int32_t count = m_desc.m_faceIndexCounts[m_next];
        attribute = m_desc.m_faceAttributes[m_next];
        m_current = m_offset;
        m_face->setFace(m_desc.m_vertexArray, m_desc.m_vertexStrideInBytes / int32_t(sizeof(float)),
                        m_desc.m_faceIndices + m_offset, count);
        m_offset += count;
        m_next++;
        return true;
    }

    // The face loaded last: its place in the gathering and its indices.
    int32_t face() const { return m_next - 1; }
    const int32_t* indices() const { return m_desc.m_faceIndices + m_current; }

private:
    // Face m_next against the one before it, whose indices start at
    // m_current.
    bool sameAsPrevious() const {
        const int32_t count = m_desc.m_faceIndexCounts[m_next];
        if ((count != m_desc.m_faceIndexCounts[m_next - 1]) ||
            (m_desc.m_faceAttributes[m_next] != m_desc.m_faceAttributes[m_next - 1])) {
            return false;
        }
        const int32_t* const a = m_desc.m_faceIndices + m_current;
        const int32_t* const b = m_desc.m_faceIndices + m_offset;
        for (int32_t i = 0; i < count; i++) {
            if (a[i] != b[i]) {
                return false;
            }
        }
        return true;
    }

    const dgPolygonSoupCollideDesc& m_desc;
    dgSoupFace* m_face;
    int32_t m_next;
    int32_t m_offset;
    int32_t m_current = 0;
};

inline dgVector gatheredVertex(const dgPolygonSoupCollideDesc& desc, int32_t index) {
    const float* v = reinterpret_cast<const float*>(reinterpret_cast<const char*>(desc.m_vertexArray) +
                                                    ptrdiff_t(index) * ptrdiff_t(desc.m_vertexStrideInBytes));
    return dgVector(v[0], v[1], v[2], 0.0f);
}

// Whether the segment p0-p1 meets the box lo..hi (a slab test).
bool segmentMeetsBox(const dgVector& p0, const dgVector& p1, const dgVector& lo, const dgVector& hi) {
    float t0 = 0.0f;
    float t1 = 1.0f;
    for (int32_t axis = 0; axis < 3; axis++) {
        const float d = p1[axis] - p0[axis];
        if (std::fabs(d) < 1.0e-12f) {
            if ((p0[axis] < lo[axis]) || (p0[axis] > hi[axis])) {
                return false;
            }
            continue;
        }
        float a = (lo[axis] - p0[axis]) / d;
        float b = (hi[axis] - p0[axis]) / d;
        if (a > b) {
            const float c = a;
            a = b;
            b = c;
        }
        t0 = dgMax(t0, a);
        t1 = dgMin(t1, b);
        if (t0 > t1) {
            return false;
        }
    }
    return true;
}

// Whether a contact normal the solver found for one gathered face (soup
// frame, like the face's normal) is a normal of the soup's surface there.
// A face alone is a thin plate, and the solver pushes out of it the shortest
// way: across an edge, a corner or its back. That is right only where the
// surface itself turns: the part of the face the normal leaves by (its
// points highest along the normal) must stay highest along it over every
// gathered face touching those points, and the normal must lean outwards
// over them (towards the sum of their face normals). Across a seam to a face
// that continues level, or rises, that face holds the body and the face's
// own normal is the answer. A face whose every point is level along the
// normal was left by its back.
//
// The part must also reach the query box: only then are the faces around it
// gathered. Where the face and the body are nearly parallel the solver may
// settle, within its tolerance, on a part far from the body; that is no
// turn of the surface the body meets.
bool isSurfaceNormal(const dgPolygonSoupCollideDesc& desc, int32_t face, const int32_t* indices,
                     int32_t count, const dgVector& faceNormal, const dgVector& normal,
                     const dgVector& boxMin, const dgVector& boxMax) {
    const dgVector across(normal - faceNormal.scale(normal % faceNormal));
    if ((across % across) < kSameNormalSine2) {
        return false;
    }
    constexpr int32_t kMaxCorners = dgSoupFace::kMaxVertices;
    if ((count < 3) || (count > kMaxCorners)) {
        return true;
    }
    const dgVector origin(gatheredVertex(desc, indices[0]));
    float height[kMaxCorners];
    float span2 = 0.0f;
    float highest = -1.0e30f;
    int32_t apex = 0;
    for (int32_t i = 0; i < count; i++) {
        const dgVector d(gatheredVertex(desc, indices[i]) - origin);
        span2 = dgMax(span2, d % d);
        height[i] = normal % d;
        if (height[i] > highest) {
            highest = height[i];
            apex = i;
        }
    }
    const float level = kLevelShare * std::sqrt(span2);
    int32_t feature[kMaxCorners];
    int32_t featureCount = 0;
    dgVector lo(gatheredVertex(desc, indices[apex]));
    dgVector hi(lo);
    for (int32_t i = 0; i < count; i++) {
        if (height[i] >= highest - level) {
            feature[featureCount++] = indices[i];
            const dgVector p(gatheredVertex(desc, indices[i]));
            for (int32_t axis = 0; axis < 3; axis++) {
                lo[axis] = dgMin(lo[axis], p[axis]);
                hi[axis] = dgMax(hi[axis], p[axis]);
            }
        }
    }
    if (featureCount == count) {
        return false;
    }
    const dgVector pad(level, level, level, 0.0f);
    const dgVector reachMin(boxMin - pad);
    const dgVector reachMax(boxMax + pad);
    const bool reaches = (featureCount == 2)
                             ? segmentMeetsBox(gatheredVertex(desc, feature[0]),
                                               gatheredVertex(desc, feature[1]), reachMin, reachMax)
                             : dgBoxOverlap(lo, hi, reachMin, reachMax);
    if (!reaches) {
        return false;
    }

    const dgVector top(gatheredVertex(desc, indices[apex]));
    dgVector outwards(faceNormal);
    int32_t offset = 0;
    for (int32_t g = 0; g < desc.m_faceCount; g++) {
        const int32_t* other = desc.m_faceIndices + offset;
        const int32_t otherCount = desc.m_faceIndexCounts[g];
        offset += otherCount;
        if ((g == face) || (otherCount < 3)) {
            continue;
        }
        bool touches = false;
        for (int32_t i = 0; (i < otherCount) && !touches; i++) {
            for (int32_t j = 0; (j < featureCount) && !touches; j++) {
                touches = other[i] == feature[j];
            }
        }
        if (!touches) {
            continue;
        }
        for (int32_t i = 0; i < otherCount; i++) {
            if ((normal % (gatheredVertex(desc, other[i]) - top)) > level) {
                return false;
            }
        }
        const dgVector p0(gatheredVertex(desc, other[0]));
        const dgVector p1(gatheredVertex(desc, other[1]));
        const dgVector p2(gatheredVertex(desc, other[2]));
        const dgVector n((p1 - p0).cross(p2 - p1));
        const float mag2 = n % n;
        if (mag2 > 0.0f) {
            outwards += n.scale(1.0f / std::sqrt(mag2));
        }
    }
    return (normal % outwards) > 0.0f;
}

// Whether a gathered face's corners leave the plane of its first three by
// more than rounding: the soup's merge joins faces whose corners lie within
// centimetres of each other's planes.
bool isBowed(const dgPolygonSoupCollideDesc& desc, const int32_t* indices, int32_t count) {
    if (count < 4) {
        return false;
    }
    const dgVector origin(gatheredVertex(desc, indices[0]));
    const dgVector cross((gatheredVertex(desc, indices[1]) - origin)
                             .cross(gatheredVertex(desc, indices[2]) - gatheredVertex(desc, indices[1])));
    const float area = std::sqrt(cross % cross);
    float span2 = 0.0f;
    float off = 0.0f;
    for (int32_t i = 1; i < count; i++) {
        const dgVector d(gatheredVertex(desc, indices[i]) - origin);
        span2 = dgMax(span2, d % d);
        off = dgMax(off, std::fabs(cross % d));
    }
    return off > kLevelShare * std::sqrt(span2) * area;
}

// The contacts of the solver's current face shape across the plane of the
// difference whose outward normal is -normal (A's frame): the convex shape
// cut where it is deepest along the face's normal, with that depth.
int32_t faceNormalContacts(dgMinkowskiSolver& solver, const dgVector& normal, int32_t userId,
                           dgContactPoint* contacts, int32_t maxCount) {
    dgVector out(normal.scale(-1.0f));
    out.w = 0.0f;
    solver.calcSupportVertex(out, 0);
    solver.m_planes[0] = dgPlane(out, -(out % solver.m_diff[0]));
    solver.m_planeCount = dgMax(solver.m_planeCount, int32_t(1));
    // A face of one vertex: the plane is all there is of it.
    dgMinkowskiEdge& edge = solver.m_edges[0];
    edge.m_face = 0;
    edge.m_vertex = 0;
    edge.m_next = &edge;
    edge.m_prev = &edge;
    return solver.calcFaceContacts(&edge, userId, contacts, maxCount);
}

// Shapes whose surface curves where it meets a floor: a push along the
// floor's normal at a point beside their lowest part turns them.
inline bool isRound(const dgConvexCollision& convex) {
    switch (convex.getShapeType()) {
        case dgShapeSphere:
        case dgShapeEllipse:
        case dgShapeCapsule:
        case dgShapeChamferCylinder:
            return true;
        default:
            return false;
    }
}

// The k records a round shape's face keeps along the face's normal, moved
// to the shape's section just inside its deepest point along that normal
// (the points a level floor would give), all at the deepest of the k
// depths. The solver's points lie where the shape meets the face's rim,
// beside that section: a push there rolled a resting capsule off a seam.
// Keeps the k records when the section is empty.
int32_t atDeepestSection(const dgConvexCollision& convex, const dgMatrix& convexToWorld,
                         const dgVector& localNormal, const dgVector& worldNormal, float depth,
                         dgContactPoint* contacts, int32_t k, int32_t maxCount) {
    dgVector down(localNormal.scale(-1.0f));
    down.w = 0.0f;
    dgVector inside(convex.supportVertex(down) + localNormal.scale(kContactGap));
    inside.w = 1.0f;
    dgVector section[dgPlaneIntersectionMaxPoints];
    const int32_t count = convex.calcPlaneIntersection(localNormal, inside, section);
    if ((count <= 0) || (k <= 0)) {
        return k;
    }
    const dgContactPoint first = contacts[0];
    const int32_t n = dgMin(count, maxCount);
    for (int32_t i = 0; i < n; i++) {
        contacts[i] = first;
        section[i].w = 1.0f;
        contacts[i].point = convexToWorld.transformVector(section[i]);
        contacts[i].normal = worldNormal;
        contacts[i].penetration = depth;
    }
    return n;
}

// The solver's answer for one face: its penetration face and, when the cut
// is sure to give records, what each of them carries; the cut itself is then
// deferred (deferred true) until its points are wanted, which on a face the
// surface does not turn at they seldom are.
struct dgSolvedFace {
    dgMinkowskiContactFace face;
    dgVector normal;
    float penetration;
    bool deferred;
};

// The face-normal pass for a face the solver found k records for (at
// contacts, or deferred in solved), or, when its cut meets nothing of the
// face, those records turned to the face's normal (worldNormal). On a
// curved floor the part of the convex deepest along a face's normal can lie
// beside the face, over a neighbour below which the floor falls away (across
// a ridge): the cut is made there and misses the face, which still reaches
// into the convex, and dropping its records lets the body sink onto the
// ridge unopposed. The face's overlap along its own normal is then taken as
// the most it can be: the solver's overlap over the cosine between the two
// normals (the solver's plane bounds the difference), and no more than the
// plane's depth.
//
// A bowed face's cut takes that bound too: its depth along the normal runs
// to the face's highest corner, which may lie metres from the body and
// centimetres above the face where the body presses it. Taken as it is, a
// tire resting there was pushed by centimetres on the one pass and found
// clear on the next.
int32_t alongFaceNormal(dgMinkowskiSolver& solver, const dgConvexCollision& convex,
                        const dgVector& localNormal, const dgVector& worldNormal, bool bowed, int32_t userId,
                        const dgSolvedFace& solved, dgContactPoint* contacts, int32_t k, int32_t maxCount) {
    dgContactPoint found[dgMaxSoupContacts];
    float bound = 1.0e30f;
    if (solved.deferred) {
        // Every record of the cut carries the same normal and penetration.
        const float cosine = worldNormal % solved.normal;
        if (cosine > 0.0f) {
            bound = dgMin(bound, (solved.penetration + kPenetrationSkin) / cosine - kPenetrationSkin);
        }
    } else {
        for (int32_t i = 0; i < k; i++) {
            found[i] = contacts[i];
            const float cosine = worldNormal % found[i].normal;
            if (cosine > 0.0f) {
                bound = dgMin(bound, (found[i].penetration + kPenetrationSkin) / cosine - kPenetrationSkin);
            }
        }
    }
    const int32_t cut = faceNormalContacts(solver, localNormal, userId, contacts, maxCount);
    if (cut > 0) {
        if (bowed) {
            for (int32_t i = 0; i < cut; i++) {
                contacts[i].penetration = dgClamp(contacts[i].penetration, 0.0f, dgMax(bound, 0.0f));
            }
        }
        return cut;
    }
    if (solved.deferred) {
        // Only now are the solver's own points wanted.
        k = solver.calcFaceContacts(solved.face, userId, found, maxCount);
    }
    const float planeDepth = dgMax(-solver.m_planes[0].w - kPenetrationSkin, 0.0f);
    float deepest = 0.0f;
    for (int32_t i = 0; i < k; i++) {
        const float cosine = worldNormal % found[i].normal;
        const float overlap = found[i].penetration + kPenetrationSkin;
        float depth = planeDepth;
        if ((cosine > 0.0f) && (overlap < planeDepth * cosine)) {
            depth = dgMax(overlap / cosine - kPenetrationSkin, 0.0f);
        }
        contacts[i] = found[i];
        contacts[i].normal = worldNormal;
        contacts[i].penetration = depth;
        deepest = dgMax(deepest, depth);
    }
    return isRound(convex) ? atDeepestSection(convex, solver.m_body0->m_collisionMatrix, localNormal,
                                              worldNormal, deepest, contacts, k, maxCount)
                           : k;
}

// The overlap along a face's own normal of a sphere whose nearest point on
// the face lies on its rim, across a seam the surface does not turn at: at
// most the depth of the sphere under the face's plane, and, as on the
// general path, no more than the overlap towards that point over the cosine
// between the two normals. The record lies where the line from the centre
// along the face's normal meets the face's plane: its push passes through
// the centre and turns the sphere no more than a flat floor's does.
float sphereDepthAlong(const dgVector& faceNormal, const dgVector& normal, float planeDepth, float overlap) {
    const float cosine = faceNormal % normal;
    if ((cosine > 0.0f) && (overlap < planeDepth * cosine)) {
        return overlap / cosine;
    }
    return planeDepth;
}

inline bool sameRecord(const dgContactPoint& a, const dgContactPoint& b) {
    return (std::memcmp(&a.point, &b.point, sizeof(dgVector)) == 0) &&
           (std::memcmp(&a.normal, &b.normal, sizeof(dgVector)) == 0) && (a.userId == b.userId) &&
           (std::memcmp(&a.penetration, &b.penetration, sizeof(float)) == 0);
}

// The reduction with the edge flags kept beside their records: the
// survivors are input records in input order, so each is found again by a
// forward scan over a copy taken before.
int32_t reduceWithFlags(int32_t count, dgContactPoint* contacts, uint8_t* flags, int32_t maxCount) {
    if (maxCount < 1) {
        maxCount = 1;
    }
    if (count <= maxCount) {
        return count;
    }
    DG_ASSERT(count <= dgMaxSoupContacts);
    dgContactPoint before[dgMaxSoupContacts];
    uint8_t flagsBefore[dgMaxSoupContacts];
    for (int32_t i = 0; i < count; i++) {
        before[i] = contacts[i];
        flagsBefore[i] = flags[i];
    }
    const int32_t kept = dgWorldReduceContacts(count, contacts, maxCount, dgContactReduceTolerance);
    int32_t j = 0;
    for (int32_t i = 0; i < kept; i++) {
        while ((j < count) && !sameRecord(before[j], contacts[i])) {
            j++;
        }
        DG_ASSERT(j < count);
        flags[i] = (j < count) ? flagsBefore[j] : 1;
        j++;
    }
    return kept;
}

inline int32_t clampMaxCount(int32_t maxCount) {
    return (maxCount > dgMaxSoupContacts) ? dgMaxSoupContacts : maxCount;
}

// The solver's records (at most remaining, at contacts) for the face the
// walk is at, with the face-normal pass where the surface does not turn;
// the face loaded, its records not yet filtered.
int32_t solvedFaceContacts(const dgSoupPair& pair, dgMinkowskiSolver& solver,
                           const dgPolygonSoupCollideDesc& desc, const dgFaceWalk& walk, int32_t attribute,
                           const dgVector& boxMin, const dgVector& boxMax, dgContactPoint* contacts,
                           int32_t remaining) {
    if (!pair.m_face->quickTest(*pair.m_convex, solver.m_matrix)) {
        return 0;
    }
    // A face the convex clears along its normal can give no contact.
    int32_t k = 0;
    dgSolvedFace solved;
    solved.deferred = false;
    if (!dgConvexAboveFace(*pair.m_convex, pair.m_placement, pair.m_face->getStoredVertices(),
                           pair.m_face->getStoredCount(), pair.m_face->getFaceNormal()) &&
        (remaining >= 1) && solver.calcContactFace(solved.face)) {
        solved.deferred = solver.faceRecordShape(solved.face, solved.normal, solved.penetration);
        if (solved.deferred) {
            k = 1;
        } else {
            k = solver.calcFaceContacts(solved.face, attribute, contacts, remaining);
            if (k > 0) {
                solved.normal = contacts[0].normal;
            }
        }
    }
    DG_ASSERT(k <= remaining);
    if (k > 0) {
        const dgMatrix& soupToWorld = pair.m_soupBody->m_collisionMatrix;
        const dgVector& faceNormal = pair.m_face->getFaceNormal();
        const int32_t count = desc.m_faceIndexCounts[walk.face()];
        dgVector normal(soupToWorld.inverseRotateVector(solved.normal));
        normal.w = 0.0f;
        if (!isSurfaceNormal(desc, walk.face(), walk.indices(), count, faceNormal, normal, boxMin, boxMax)) {
            dgVector local(solver.m_matrix.rotateVector(faceNormal));
            local.w = 0.0f;
            dgVector world(soupToWorld.rotateVector(faceNormal));
            world.w = 0.0f;
            k = alongFaceNormal(solver, *pair.m_convex, local, world, isBowed(desc, walk.indices(), count),
                                attribute, solved, contacts, k, remaining);
        } else if (solved.deferred) {
            k = solver.calcFaceContacts(solved.face, attribute, contacts, remaining);
        }
    }
    return k;
}

// The general discrete procedure over a checked pair.
int32_t generalContacts(const dgSoupPair& pair, dgContactPoint* contacts, int32_t maxCount) {
    dgVector boxMin;
    dgVector boxMax;
    pair.m_convex->calcAABB(pair.m_placement, boxMin, boxMax);
    dgPolygonSoupCollideDesc desc;
    if (pair.gather(desc, boxMin, boxMax) == 0) {
        return 0;
    }
    dgMinkowskiSolver solver(pair.m_convexBody, pair.m_soupBody, pair.m_face, pair.m_placement);
    // The face normal goes to world space to meet the world-space contact
    // normals; the set-up test wants soup directions in the convex's frame.
    const dgMatrix& soupToWorld = pair.m_soupBody->m_collisionMatrix;
    uint8_t flags[dgMaxSoupContacts];
    // Never 0: a maximum of 0 would keep nothing and free no room.
    const int32_t reduceTo = (maxCount / 4 > 0) ? maxCount / 4 : 1;
    int32_t remaining = maxCount;
    int32_t n = 0;
    int32_t attribute = 0;
    dgFaceWalk walk(desc, pair.m_face);
    while (walk.next(attribute)) {
        int32_t k =
            solvedFaceContacts(pair, solver, desc, walk, attribute, boxMin, boxMax, contacts + n, remaining);
        if (k > 0) {
            k = pair.m_face->filterContacts(k, contacts + n, soupToWorld, flags + n);
            remaining -= k;
            n += k;
        }
        if (remaining < 2) {
            n = reduceWithFlags(n, contacts, flags, reduceTo);
            remaining = maxCount - n;
        }
    }
    return (n < 2) ? n : dgFilterEdgeContacts(n, contacts, flags);
}

// The closed form's record of a sphere (centre c, radius r, soup frame)
// against the face the walk is at; false when the face gives none.
bool sphereRecord(const dgSoupPair& pair, const dgPolygonSoupCollideDesc& desc, const dgFaceWalk& walk,
                  const dgVector& c, float r, int32_t attribute, dgContactPoint& record) {
    const dgMatrix& soupToWorld = pair.m_soupBody->m_collisionMatrix;
    const dgVector reach(r, r, r, 0.0f);
    dgVector q;
    if (!pair.m_face->closestPointToPoint(c, r, q)) {
        return false;
    }
    const dgVector delta(c - q);
    const float dist = std::sqrt(delta % delta);
    float gap = dist - r;
    if (!(gap < -kContactGap)) {
        return false;
    }
    // A centre on the face has no direction of its own: the face's.
    const dgVector& faceNormal = pair.m_face->getFaceNormal();
    dgVector normal((dist > 1.0e-6f) ? delta.scale(1.0f / dist) : faceNormal);
    normal.w = 0.0f;
    dgVector point(c - normal.scale(r + gap * 0.5f));
    const dgVector across(normal - faceNormal.scale(normal % faceNormal));
    if ((across % across) < kSameNormalSine2) {
        // The face's own normal up to the rounding of a far centre.
        normal = faceNormal;
        normal.w = 0.0f;
    } else if (!isSurfaceNormal(desc, walk.face(), walk.indices(), desc.m_faceIndexCounts[walk.face()],
                                faceNormal, normal, c - reach, c + reach)) {
        const float height = faceNormal % (c - pair.m_face->getStoredVertices()[0]);
        gap = -sphereDepthAlong(faceNormal, normal, r - height, -gap);
        normal = faceNormal;
        normal.w = 0.0f;
        point = c - normal.scale(height);
    }
    point.w = 1.0f;
    record.point = soupToWorld.transformVector(point);
    record.normal = soupToWorld.rotateVector(normal);
    record.normal.w = 0.0f;
    record.userId = dgContactUserId(uint32_t(attribute));
    const float penetration = -gap - kPenetrationSkin;
    record.penetration = (penetration > 0.0f) ? penetration : 0.0f;
    return true;
}

}  // namespace

int32_t dgFilterEdgeContacts(int32_t count, dgContactPoint* contacts, uint8_t* edgeFlags) {
    if ((count < 2) || !contacts || !edgeFlags) {
        return (count > 0) ? count : 0;
    }
    auto swapRecords = [&](int32_t a, int32_t b) {
        const dgContactPoint c = contacts[a];
        contacts[a] = contacts[b];
        contacts[b] = c;
        const uint8_t f = edgeFlags[a];
        edgeFlags[a] = edgeFlags[b];
        edgeFlags[b] = f;
    };
    int32_t front = 0;
    int32_t back = count - 1;
    while (true) {
        while ((front < count) && !edgeFlags[front]) {
            front++;
        }
        while ((back >= 0) && edgeFlags[back]) {
            back--;
        }
        if (front >= back) {
            break;
        }
        swapRecords(front, back);
    }
    const int32_t unflagged = front;
    if ((unflagged == 0) || (unflagged == count)) {
        return count;
    }
    for (int32_t i = 0; i < unflagged; i++) {
        const dgVector& p = contacts[i].point;
        int32_t j = unflagged;
        while (j < count) {
            const dgVector d(contacts[j].point - p);
            if ((d % d) < kEdgeContactReach2) {
                count--;
                contacts[j] = contacts[count];
                edgeFlags[j] = edgeFlags[count];
                continue;
            }
            j++;
        }
    }
    return count;
}

int32_t dgConvexSoupContactsGeneral(dgWorld*, dgBody* soupBody, dgBody* convexBody, dgContactPoint* contacts,
                                    int32_t maxCount) {
    maxCount = clampMaxCount(maxCount);
    dgSoupPair pair;
    if ((maxCount < 1) || !contacts || !pair.set(convexBody, soupBody)) {
        return 0;
    }
    return generalContacts(pair, contacts, maxCount);
}

int32_t dgSphereSoupContacts(dgWorld*, dgBody* soupBody, dgBody* sphereBody, dgContactPoint* contacts,
                             int32_t maxCount) {
    maxCount = clampMaxCount(maxCount);
    dgSoupPair pair;
    if ((maxCount < 1) || !contacts || !pair.set(sphereBody, soupBody) ||
        (pair.m_convex->getShapeType() != dgShapeSphere)) {
        return 0;
    }
    const float r = static_cast<const dgCollisionSphere*>(pair.m_convex)->getRadius();
    dgVector c(pair.m_placement.position);
    c.w = 1.0f;
    if (!dgIsFinite3(c) || !std::isfinite(r)) {
        return 0;
    }
    const dgVector reach(r, r, r, 0.0f);
    dgPolygonSoupCollideDesc desc;
    if (pair.gather(desc, c - reach, c + reach) == 0) {
        return 0;
    }
    const dgMatrix& soupToWorld = pair.m_soupBody->m_collisionMatrix;
    dgMinkowskiSolver solver(pair.m_convexBody, pair.m_soupBody, pair.m_face, pair.m_placement);
    uint8_t flags[dgMaxSoupContacts];
    int32_t n = 0;
    int32_t attribute = 0;
    dgFaceWalk walk(desc, pair.m_face);
    while (walk.next(attribute)) {
        // Made aside: the array may have no room left for it.
        dgContactPoint fresh[2];
        uint8_t freshFlags[2];
        dgContactPoint& record = fresh[1];
        if (isBowed(desc, walk.indices(), desc.m_faceIndexCounts[walk.face()])) {
            // The closed form meets a face's plane, which a bowed face's top
            // leaves by centimetres: a sphere pressed into that top found
            // nothing. The solver meets the top; its deepest record stands
            // for the face.
            dgContactPoint found[dgMaxSoupContacts];
            const int32_t k = solvedFaceContacts(pair, solver, desc, walk, attribute, c - reach, c + reach,
                                                 found, dgMaxSoupContacts);
            if (k <= 0) {
                continue;
            }
            record = found[0];
            for (int32_t i = 1; i < k; i++) {
                if (found[i].penetration > record.penetration) {
                    record = found[i];
                }
            }
        } else if (!sphereRecord(pair, desc, walk, c, r, attribute, record)) {
            continue;
        }
        if (pair.m_face->filterContacts(1, &record, soupToWorld, &freshFlags[1]) == 0) {
            continue;
        }
        if (n < maxCount) {
            contacts[n] = record;
            flags[n] = freshFlags[1];
            n++;
            if (n >= maxCount) {
                n = reduceWithFlags(n, contacts, flags, 1);
            }
        } else {
            // Full at one point (a maximum of 1): the kept point and the new
            // one are reduced to one.
            DG_ASSERT(n == 1);
            fresh[0] = contacts[0];
            freshFlags[0] = flags[0];
            n = reduceWithFlags(2, fresh, freshFlags, 1);
            contacts[0] = fresh[0];
            flags[0] = freshFlags[0];
        }
    }
    return (n < 2) ? n : dgFilterEdgeContacts(n, contacts, flags);
}

int32_t dgConvexSoupContactsDiscrete(dgWorld* world, dgBody* convexBody, dgBody* soupBody,
                                     dgContactPoint* contacts, int32_t maxCount) {
    if (!convexBody || !convexBody->m_collision) {
        return 0;
    }
    switch (convexBody->m_collision->getShapeType()) {
        case dgShapeSphere:
            return dgSphereSoupContacts(world, soupBody, convexBody, contacts, maxCount);
        case dgShapeNull:
            return 0;
        default:
            return dgConvexSoupContactsGeneral(world, soupBody, convexBody, contacts, maxCount);
    }
}

int32_t dgConvexSoupContactsContinuous(dgWorld* world, float& timeStep, dgBody* convexBody, dgBody* soupBody,
                                       dgContactPoint* contacts, int32_t maxCount) {
    float dt = (timeStep < 1.0f) ? timeStep : 1.0f;
    if (!(dt > 0.0f)) {
        dt = 0.0f;
    }
    timeStep = dt;
    maxCount = clampMaxCount(maxCount);
    dgSoupPair pair;
    if ((maxCount < 1) || !contacts || !pair.set(convexBody, soupBody)) {
        return 0;
    }

    dgVector v;
    dgVector omega;
    dgBodyCalculateNextVelocities(convexBody, dt, v, omega);
    v.w = 0.0f;
    const float speed2 = v % v;
    bool fast = false;
    if ((speed2 > kFastSpeed2) && std::isfinite(speed2)) {
        const float speed = std::sqrt(speed2);
        dgVector d(convexBody->m_collisionMatrix.inverseRotateVector(v.scale(1.0f / speed)));
        d.w = 0.0f;
        const dgVector back(d.scale(-1.0f));
        const float extent = (pair.m_convex->supportVertex(d) - pair.m_convex->supportVertex(back)) % d;
        fast = (extent * kFastShare) < (speed * dt);
    }
    if (!fast) {
        timeStep = 0.0f;
        return dgConvexSoupContactsGeneral(world, soupBody, convexBody, contacts, maxCount);
    }

    convexBody->m_omega.x *= kSpinDamp;
    convexBody->m_omega.y *= kSpinDamp;
    convexBody->m_omega.z *= kSpinDamp;
    convexBody->m_flags &= ~uint32_t(dgBodyFlagEquilibrium);

    dgVector boxMin;
    dgVector boxMax;
    pair.m_convex->calcAABB(pair.m_placement, boxMin, boxMax);
    // The box is in the soup's frame: so must the motion be.
    const dgVector e(soupBody->m_collisionMatrix.inverseRotateVector(v.scale(dt)));
    for (int32_t axis = 0; axis < 3; axis++) {
        const float slack = kSweepSlack * (boxMax[axis] - boxMin[axis]);
        const float step = e[axis];
        if (std::fabs(step) > slack) {
            if (step > 0.0f) {
                boxMax[axis] += step - slack;
            } else {
                boxMin[axis] += step + slack;
            }
        }
    }
    dgPolygonSoupCollideDesc desc;
    if (pair.gather(desc, boxMin, boxMax) == 0) {
        return 0;
    }
    dgMinkowskiSolver solver(convexBody, soupBody, pair.m_face, pair.m_placement);
    const int32_t reduceTo = (maxCount / 4 > 0) ? maxCount / 4 : 1;
    float tmin = dt;
    int32_t remaining = maxCount;
    int32_t n = 0;
    int32_t attribute = 0;
    dgFaceWalk walk(desc, pair.m_face);
    while (walk.next(attribute)) {
        // Swept: a face the body only reaches during the step counts.
        if (!pair.m_face->quickTestSlab(*pair.m_convex, solver.m_matrix, e)) {
            continue;
        }
        // Not reset between faces: each face looks only for an earlier impact.
        const float earliest = timeStep;
        int32_t k = solver.calcContactsContinuous(timeStep, contacts + n, attribute, remaining);
        // Overlapping already: the face is met where the body is now, as on
        // the discrete path (the set-up test left the face's normal turned
        // over). A face that then gives no contact claims no impact.
        if ((k > 0) && (timeStep == 0.0f)) {
            const dgVector faceNormal(pair.m_face->getFaceNormal().scale(-1.0f));
            dgVector normal(soupBody->m_collisionMatrix.inverseRotateVector(contacts[n].normal));
            normal.w = 0.0f;
            if (!isSurfaceNormal(desc, walk.face(), walk.indices(), desc.m_faceIndexCounts[walk.face()],
                                 faceNormal, normal, boxMin, boxMax)) {
                dgVector local(solver.m_matrix.rotateVector(faceNormal));
                local.w = 0.0f;
                k = faceNormalContacts(solver, local, attribute, contacts + n, remaining);
                if (k == 0) {
                    timeStep = earliest;
                }
            }
        }
        DG_ASSERT((k >= 0) && (k <= remaining));
        tmin = (timeStep < tmin) ? timeStep : tmin;
        remaining -= k;
        n += k;
        if (remaining < 2) {
            n = dgWorldReduceContacts(n, contacts, reduceTo, dgContactReduceTolerance);
            remaining = maxCount - n;
        }
    }
    timeStep = tmin;
    return n;
}

int32_t dgConvexSoupContacts(dgWorld* world, float& timeStep, dgBody* convexBody, dgBody* soupBody,
                             dgContactPoint* contacts, int32_t maxCount) {
    if (!convexBody || !soupBody || !convexBody->m_collision || !soupBody->m_collision || !contacts ||
        (maxCount < 1)) {
        return 0;
    }
    maxCount = clampMaxCount(maxCount);
    int32_t count = 0;
    if (((convexBody->m_flags | soupBody->m_flags) & dgBodyFlagContinuous) != 0) {
        if (convexBody->m_collision->getShapeType() == dgShapeNull) {
            return 0;
        }
        count = dgConvexSoupContactsContinuous(world, timeStep, convexBody, soupBody, contacts, maxCount);
    } else {
        count = dgConvexSoupContactsDiscrete(world, convexBody, soupBody, contacts, maxCount);
        if (count > 0) {
            timeStep = 0.0f;
        }
    }
    // The deepest record first: a caller that keeps only the first point of
    // a pass (the game does) keeps the one that pushes hardest. The records
    // come in no order of their own otherwise.
    int32_t deepest = 0;
    for (int32_t i = 1; i < count; i++) {
        if (contacts[i].penetration > contacts[deepest].penetration) {
            deepest = i;
        }
    }
    if (deepest > 0) {
        const dgContactPoint first = contacts[0];
        contacts[0] = contacts[deepest];
        contacts[deepest] = first;
    }
    for (int32_t i = 0; i < count; i++) {
        contacts[i].body0 = convexBody;
        contacts[i].body1 = soupBody;
        contacts[i].collision0 = convexBody->m_collision;
        contacts[i].collision1 = soupBody->m_collision;
    }
    return count;
}

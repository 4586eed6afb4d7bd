// The contact manifold of the convex solver: the two shapes cut by the plane
// midway across the penetration face, the two cross-sections intersected in
// world space, and the continuous form that makes them at the time of impact.
#include "dgMinkowskiSolver.h"

#include <cmath>

#include "dgAssert.h"
#include "dgDynamicsServices.h"
#include "dgIntersections.h"
#include "dgMath.h"

namespace {

// Contact points are made this far past the touching position, and the
// reported penetration is the overlap less this allowance.
constexpr float kContactSkin = 1.0f / 256.0f;
constexpr float kPenetrationAllowance = 1.0f / 128.0f;
constexpr float kMergeDist2 = 0.002f;
constexpr float kMinDenominator = 1e-10f;
constexpr int32_t kTimeOfImpactIterations = 32;
// Points of one clip list: a convex n-gon clipped by m half-planes keeps at
// most n + m corners, and contours come with at most 12.
constexpr int32_t kClipRoom = 64;

bool isFinite(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

void writeRecord(dgContactPoint& contact, const dgVector& point, const dgVector& normal, int32_t userId,
                 float penetration) {
    contact.point = point;
    contact.normal = normal;
    contact.userId = dgContactUserId(uint32_t(userId));
    contact.penetration = penetration;
}

// Where the segment prev -> cur crosses a clip plane, from prev's side value
// and the plane normal's dot with the segment. A denominator too small to
// divide by keeps its sign, so the crossing stays between the two ends.
dgVector crossing(const dgVector& prev, const dgVector& cur, float sidePrev, float den) {
    if (std::fabs(den) < kMinDenominator) {
        den = (den < 0.0f) ? -kMinDenominator : kMinDenominator;
    }
    dgVector p(prev - (cur - prev).scale(sidePrev / den));
    p.w = prev.w;
    return p;
}

// The clip planes of a counter-clockwise polygon: edge i runs from point
// i - 1 to point i (edge 0 from the last point).
struct dgClipEdge {
    dgVector origin;
    dgVector normal;
    float side(const dgVector& q) const { return normal % (q - origin); }
};

dgClipEdge clipEdge(const dgVector& normal, const dgVector* poly, int32_t count, int32_t i) {
    const dgVector& p0 = poly[(i > 0) ? i - 1 : count - 1];
    return dgClipEdge{p0, normal.cross(poly[i] - p0)};
}

// Weights of the point of triangle (a, b, c) under the origin's foot on its
// plane; a foot outside the triangle is pulled onto it by dropping the
// negative weights. False for a triangle without area.
bool footWeights(const dgVector& a, const dgVector& b, const dgVector& c, float* weights) {
    const dgVector n((b - a).cross(c - a));
    const float n2 = n % n;
    if (!(n2 > 1e-24f) || !std::isfinite(n2)) {
        return false;
    }
    const dgVector foot(n.scale((n % a) / n2));
    weights[0] = ((c - b).cross(foot - b)) % n;
    weights[1] = ((a - c).cross(foot - c)) % n;
    weights[2] = ((b - a).cross(foot - a)) % n;
    float total = 0.0f;
    for (int32_t i = 0; i < 3; i++) {
        weights[i] = dgMax(weights[i], 0.0f);
        total += weights[i];
    }
    if (!(total > 0.0f) || !std::isfinite(total)) {
        return false;
    }
    for (int32_t i = 0; i < 3; i++) {
        weights[i] /= total;
    }
    return true;
}

}  // namespace

int32_t dgClipContactPolygons(const dgVector& normal, int32_t userId, float penetration, int32_t countA,
                              const dgVector* pointsA, int32_t countB, const dgVector* pointsB,
                              dgContactPoint* contacts, int32_t maxCount) {
    if ((maxCount < 1) || ((countA < 3) && (countB < 3))) {
        return 0;
    }
    const dgVector* clip = pointsA;
    int32_t clipCount = countA;
    dgVector lists[2][kClipRoom];
    const dgVector* result = nullptr;
    int32_t resultCount = 0;

    if ((countA >= 3) && (countB >= 3)) {
        // Each pass writes into the list the previous pass did not: two
        // lists bound the scratch whatever the number of clip edges.
        const dgVector* subject = pointsB;
        int32_t subjectCount = countB;
        for (int32_t i = 0; i < clipCount; i++) {
            const dgClipEdge edge = clipEdge(normal, clip, clipCount, i);
            dgVector* out = lists[i & 1];
            int32_t outCount = 0;
            auto emit = [&](const dgVector& p) {
                // Dropping a corner of a convex list keeps it inside both
                // polygons; only a damaged input gets here.
                if (outCount < kClipRoom) {
                    out[outCount++] = p;
                }
            };
            dgVector prev(subject[subjectCount - 1]);
            float sidePrev = edge.side(prev);
            for (int32_t j = 0; j < subjectCount; j++) {
                const dgVector& cur = subject[j];
                const float sideCur = edge.side(cur);
                const bool prevIn = sidePrev >= 0.0f;
                const bool curIn = sideCur >= 0.0f;
                if (prevIn && curIn) {
                    emit(cur);
                } else if (prevIn || curIn) {
                    emit(crossing(prev, cur, sidePrev, edge.normal % (cur - prev)));
                    if (curIn) {
                        emit(cur);
                    }
                }
                prev = cur;
                sidePrev = sideCur;
            }
            if (outCount == 0) {
                return 0;
            }
            subject = out;
            subjectCount = outCount;
        }
        result = subject;
        resultCount = subjectCount;
    } else {
        const dgVector* segment = pointsA;
        if (countA >= 3) {
            if (countB != 2) {
                return 0;
            }
            segment = pointsB;
        } else {
            if (countA != 2) {
                return 0;
            }
            clip = pointsB;
            clipCount = countB;
        }
        dgVector e0(segment[0]);
        dgVector e1(segment[1]);
        for (int32_t i = 0; i < clipCount; i++) {
            const dgClipEdge edge = clipEdge(normal, clip, clipCount, i);
            const float s0 = edge.side(e0);
            const float s1 = edge.side(e1);
            if ((s0 < 0.0f) && (s1 < 0.0f)) {
                return 0;
            }
            if ((s0 < 0.0f) || (s1 < 0.0f)) {
                const dgVector p(crossing(e0, e1, s0, edge.normal % (e1 - e0)));
                if (s0 < 0.0f) {
                    e0 = p;
                } else {
                    e1 = p;
                }
            }
        }
        lists[0][0] = e0;
        lists[0][1] = e1;
        result = lists[0];
        resultCount = 2;
    }

    int32_t count = 0;
    for (int32_t i = 0; (i < resultCount) && (count < maxCount); i++) {
        bool near = false;
        for (int32_t j = 0; (j < count) && !near; j++) {
            const dgVector d(result[i] - contacts[j].point);
            near = (d % d) < kMergeDist2;
        }
        if (!near) {
            writeRecord(contacts[count++], result[i], normal, userId, penetration);
        }
    }
    return count;
}

int32_t dgMinkowskiSolver::calcFaceContacts(const dgMinkowskiEdge* face, int32_t userId, dgContactPoint* contacts,
                                            int32_t maxCount) {
    if ((maxCount < 1) || !face || (face->m_face < 0) || (face->m_face >= m_planeCount)) {
        return 0;
    }
    return cutFace(m_planes[face->m_face], m_diff[face->m_vertex], m_diff[face->m_next->m_vertex],
                   m_diff[face->m_prev->m_vertex], m_sum[face->m_vertex], m_sum[face->m_next->m_vertex],
                   m_sum[face->m_prev->m_vertex], userId, contacts, maxCount);
}

int32_t dgMinkowskiSolver::calcFaceContacts(const dgMinkowskiContactFace& face, int32_t userId,
                                            dgContactPoint* contacts, int32_t maxCount) {
    if (maxCount < 1) {
        return 0;
    }
    return cutFace(face.plane, face.diff[0], face.diff[1], face.diff[2], face.sum[0], face.sum[1],
                   face.sum[2], userId, contacts, maxCount);
}

bool dgMinkowskiSolver::calcContactFace(dgMinkowskiContactFace& face) {
    dgMinkowskiEdge* separating = nullptr;
    if (calcSeparatingFace(separating, dgVector(0.0f, 0.0f, 0.0f, 1.0f)) != 2) {
        return false;
    }
    const dgMinkowskiEdge* penetration = calcPenetrationFace();
    if (!penetration || (penetration->m_face < 0) || (penetration->m_face >= m_planeCount)) {
        return false;
    }
    face.plane = m_planes[penetration->m_face];
    const int32_t corners[3] = {penetration->m_vertex, penetration->m_next->m_vertex,
                                penetration->m_prev->m_vertex};
    for (int32_t i = 0; i < 3; i++) {
        face.diff[i] = m_diff[corners[i]];
        face.sum[i] = m_sum[corners[i]];
    }
    return true;
}

bool dgMinkowskiSolver::faceRecordShape(const dgMinkowskiContactFace& face, dgVector& normal,
                                        float& penetration) const {
    // The cut's own tests: a usable plane, and a witness, which every way
    // through the cut falls back on when it finds nothing else.
    const dgPlane& plane = face.plane;
    const dgVector n(plane.x, plane.y, plane.z, 0.0f);
    if (!((n % n) > 0.5f) || !std::isfinite(plane.w)) {
        return false;
    }
    float weights[3];
    if (!footWeights(face.diff[0], face.diff[1], face.diff[2], weights)) {
        return false;
    }
    const dgVector m(-n.x, -n.y, -n.z, 0.0f);
    normal = m_body0->m_collisionMatrix.rotateVector(m);
    penetration = dgMax(-plane.w - kPenetrationAllowance, 0.0f);
    return true;
}

int32_t dgMinkowskiSolver::cutFace(const dgPlane& facePlane, const dgVector& diff0, const dgVector& diff1,
                                   const dgVector& diff2, const dgVector& sum0, const dgVector& sum1,
                                   const dgVector& sum2, int32_t userId, dgContactPoint* contacts,
                                   int32_t maxCount) {
    const dgPlane plane(facePlane);
    const dgVector n(plane.x, plane.y, plane.z, 0.0f);
    if (!((n % n) > 0.5f) || !std::isfinite(plane.w)) {
        return 0;
    }
    const float h = (sum0 % n) * 0.5f;
    const dgVector m(-n.x, -n.y, -n.z, 0.0f);

    // The middle plane can pass beside the common part of the two shapes: a
    // section of a rounded shape that holds only its flat core, or a deep
    // overlap of a thin shape whose middle plane leaves the other's section
    // elsewhere. The shapes still overlap through this face, so that case
    // keeps one record midway between the deepest points, which the face's
    // vertices give (the point on A is (sum + diff) / 2, on B (sum - diff) /
    // 2) at the weights of the point of the face nearest the origin. The
    // contours below overwrite diff, so it is found first.
    float weights[3];
    const bool hasWitness = footWeights(diff0, diff1, diff2, weights);
    dgVector witness(0.0f, 0.0f, 0.0f, 1.0f);
    if (hasWitness) {
        const dgVector* const sums[3] = {&sum0, &sum1, &sum2};
        for (int32_t i = 0; i < 3; i++) {
            witness += sums[i]->scale(0.5f * weights[i]);
        }
        witness.w = 1.0f;
    }
    const float penetration = dgMax(-plane.w - kPenetrationAllowance, 0.0f);
    const dgMatrix& matrixA = m_body0->m_collisionMatrix;
    const dgVector normal(matrixA.rotateVector(m));
    auto atWitness = [&]() {
        if (!hasWitness) {
            return 0;
        }
        writeRecord(contacts[0], matrixA.transformVector(witness), normal, userId, penetration);
        return 1;
    };

    // Contour of A on the middle plane; a shape that does not reach it gives
    // the section just inside its side facing B, moved onto the plane.
    dgVector pointA(n.scale(h));
    pointA.w = 1.0f;
    dgVector* const contourA = &m_diff[0];
    int32_t countA = m_collision0->calcPlaneIntersection(m, pointA, contourA);
    if (countA == 0) {
        dgVector s(m_collision0->supportVertex(n) + m.scale(kContactSkin));
        s.w = 1.0f;
        countA = m_collision0->calcPlaneIntersection(m, s, contourA);
        const dgVector shift(m.scale((pointA - s) % m));
        for (int32_t i = 0; i < countA; i++) {
            contourA[i] += shift;
        }
    }
    if (countA <= 0) {
        return atWitness();
    }
    DG_ASSERT(countA <= kContourRoom);

    // The same plane in B's frame, and B's contour on it.
    dgVector mB(m_matrix.inverseRotateVector(m));
    mB.w = 0.0f;
    const float dB = (m % m_matrix.position) + h;
    dgVector pointB(mB.scale(-dB));
    pointB.w = 1.0f;
    dgVector* const contourB = &m_diff[kContourRoom];
    int32_t countB = m_collision1->calcPlaneIntersection(mB, pointB, contourB);
    if (countB == 0) {
        // B's side facing A, just inside B.
        dgVector s(m_collision1->supportVertex(mB) - mB.scale(kContactSkin));
        s.w = 1.0f;
        countB = m_collision1->calcPlaneIntersection(mB, s, contourB);
        const dgVector shift(mB.scale((pointB - s) % mB));
        for (int32_t i = 0; i < countB; i++) {
            contourB[i] += shift;
        }
    }
    if (countB <= 0) {
        return atWitness();
    }
    DG_ASSERT(countB <= kContourRoom);

    const dgMatrix& matrixB = m_body1->m_collisionMatrix;

    if (countA == 1) {
        writeRecord(contacts[0], matrixA.transformVector(contourA[0]), normal, userId, penetration);
        return 1;
    }
    if (countB == 1) {
        writeRecord(contacts[0], matrixB.transformVector(contourB[0]), normal, userId, penetration);
        return 1;
    }
    for (int32_t i = 0; i < countA; i++) {
        contourA[i] = matrixA.transformVector(contourA[i]);
    }
    for (int32_t i = 0; i < countB; i++) {
        contourB[i] = matrixB.transformVector(contourB[i]);
    }
    if ((countA == 2) && (countB == 2)) {
        dgVector pA;
        dgVector pB;
        dgClosestPointsOfSegments(contourA[0], contourA[1], contourB[0], contourB[1], pA, pB);
        writeRecord(contacts[0], (pA + pB).scale(0.5f), normal, userId, penetration);
        return 1;
    }
    const int32_t count = dgClipContactPolygons(normal, userId, penetration, countA, contourA, countB,
                                                contourB, contacts, maxCount);
    return (count > 0) ? count : atWitness();
}

int32_t dgMinkowskiSolver::calcContacts(dgContactPoint* contacts, int32_t userId, int32_t maxCount) {
    if (maxCount < 1) {
        return 0;
    }
    dgMinkowskiEdge* face = nullptr;
    if (calcSeparatingFace(face, dgVector(0.0f, 0.0f, 0.0f, 1.0f)) != 2) {
        return 0;
    }
    const dgMinkowskiEdge* penetration = calcPenetrationFace();
    if (!penetration) {
        return 0;
    }
    return calcFaceContacts(penetration, userId, contacts, maxCount);
}

int32_t dgMinkowskiSolver::calcContactsContinuous(float& timeStep, dgContactPoint* contacts, int32_t userId,
                                                  int32_t maxCount) {
    if ((maxCount < 1) || !(timeStep > 0.0f) || !std::isfinite(timeStep)) {
        return 0;
    }
    dgMinkowskiEdge* face = nullptr;
    const int32_t separation = calcSeparatingFace(face, dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    if (separation == 2) {
        const dgMinkowskiEdge* penetration = calcPenetrationFace();
        if (!penetration) {
            return 0;
        }
        const int32_t count = calcFaceContacts(penetration, userId, contacts, maxCount);
        if (count > 0) {
            timeStep = 0.0f;
        }
        return count;
    }
    if (separation != 1) {
        return 0;
    }

    dgVector velocity0;
    dgVector velocity1;
    dgVector omega;
    dgBodyCalculateNextVelocities(m_body0, timeStep, velocity0, omega);
    dgBodyCalculateNextVelocities(m_body1, timeStep, velocity1, omega);
    dgVector u(m_body0->m_collisionMatrix.inverseRotateVector(velocity1 - velocity0));
    u.w = 0.0f;
    if (!isFinite(u)) {
        return 0;
    }

    const float speed2 = u % u;
    if (!(speed2 > 0.0f) || !std::isfinite(speed2)) {
        return 0;
    }
    // Time B takes to move one contact skin.
    const float skinTime = kContactSkin / std::sqrt(speed2);

    // B sweeps the point q = u t through the difference A - B; the time of
    // impact is when q enters it. Every separating face bounds the difference
    // by its plane, moved out by as far as the difference still reaches
    // beyond it (the refinement accepts a face within a tolerance), so the
    // time q reaches that plane is a lower bound of the time of impact: the
    // search advances to it and refines the face there. A face the motion
    // does not close on, or reaches only after the step, proves a miss. A
    // refinement moves vertex contents even when it finds no new face, so
    // each face is copied out at once.
    dgVector faceDiff[3];
    dgVector faceSum[3];
    auto copyFace = [&](const dgMinkowskiEdge* f) {
        const int32_t corners[3] = {f->m_vertex, f->m_next->m_vertex, f->m_prev->m_vertex};
        for (int32_t j = 0; j < 3; j++) {
            faceDiff[j] = m_diff[corners[j]];
            faceSum[j] = m_sum[corners[j]];
        }
    };
    enum dgBound { kApart, kReached, kUnknown };
    auto planeTime = [&](const dgMinkowskiEdge* f, float& time) {
        copyFace(f);
        const dgVector cross((faceDiff[1] - faceDiff[0]).cross(faceDiff[2] - faceDiff[0]));
        const float n2 = cross % cross;
        if (!(n2 > 1e-24f) || !std::isfinite(n2)) {
            return kUnknown;
        }
        dgVector n(cross.scale(1.0f / std::sqrt(n2)));
        n.w = 0.0f;
        const float closing = -(n % u);
        if (!(closing > 0.0f)) {
            return kApart;
        }
        calcSupportVertex(n, 4);
        const float reach = dgMax(n % (m_diff[4] - faceDiff[0]), 0.0f);
        time = -((n % faceDiff[0]) + reach) / closing;
        return std::isfinite(time) ? kReached : kUnknown;
    };
    auto pointAt = [&](float time) {
        dgVector q(u.scale(time));
        q.w = 1.0f;
        return q;
    };

    float t = 0.0f;
    bool touching = false;
    for (int32_t i = 0; (i < kTimeOfImpactIterations) && !touching; i++) {
        float next = 0.0f;
        const dgBound bound = planeTime(face, next);
        if (bound == kApart) {
            return 0;
        }
        if (bound == kUnknown) {
            break;
        }
        if (next >= timeStep) {
            return 0;
        }
        if (next > t + skinTime * (1.0f / 16.0f)) {
            t = next;
            const int32_t r = refineSeparatingFace(face, pointAt(t));
            touching = (r == 2);
            if (r == 0) {
                break;
            }
            continue;
        }
        // q has come to the plane of a face that bounds the difference: it
        // touches the difference there, or it passes beside it. One skin
        // further decides; passing by, the search goes on from there (what
        // it steps over is thinner than the skin).
        t = dgMax(t, next);
        const float ahead = t + skinTime;
        if (ahead >= timeStep) {
            break;
        }
        const int32_t r = calcSeparatingFace(face, pointAt(ahead));
        touching = (r == 2);
        if (r == 1) {
            t = ahead;
        } else if (r == 0) {
            break;
        }
    }
    if (!touching) {
        // Undecided within the iterations: a pair that overlaps at the end of
        // the step has met in it, and halving the interval from the last
        // lower bound finds when, to half a skin.
        if (calcSeparatingFace(face, pointAt(timeStep)) != 2) {
            return 0;
        }
        float lo = t;
        float hi = timeStep;
        if (calcSeparatingFace(face, pointAt(lo)) == 1) {
            copyFace(face);
        }
        for (int32_t i = 0; (i < kTimeOfImpactIterations) && ((hi - lo) > skinTime * 0.5f); i++) {
            const float mid = 0.5f * (lo + hi);
            if (calcSeparatingFace(face, pointAt(mid)) == 1) {
                lo = mid;
                copyFace(face);
            } else {
                hi = mid;
            }
        }
        t = lo;
    }
    if (!((t >= 0.0f) && (t < timeStep))) {
        return 0;
    }

    const int32_t count = calcContactsAtTime(userId, contacts, maxCount, faceDiff, faceSum, u, t);
    if (count > 0) {
        timeStep = t;
    }
    return count;
}

namespace {

// Moves a translation row for the life of the object.
class dgTranslationGuard {
public:
    dgTranslationGuard(dgVector& row, const dgVector& displacement) : m_row(row), m_saved(row) {
        m_row.x += displacement.x;
        m_row.y += displacement.y;
        m_row.z += displacement.z;
    }
    ~dgTranslationGuard() { m_row = m_saved; }
    dgTranslationGuard(const dgTranslationGuard&) = delete;
    dgTranslationGuard& operator=(const dgTranslationGuard&) = delete;

private:
    dgVector& m_row;
    dgVector m_saved;
};

}  // namespace

int32_t dgMinkowskiSolver::calcContactsAtTime(int32_t userId, dgContactPoint* contacts, int32_t maxCount,
                                              const dgVector* faceDiff, const dgVector* faceSum,
                                              const dgVector& velocity, float time) {
    const float speed2 = velocity % velocity;
    if ((maxCount < 1) || !(speed2 > 0.0f) || !std::isfinite(speed2) || !std::isfinite(time)) {
        return 0;
    }
    m_planeCount = 0;
    m_freePlanes = nullptr;
    m_freePlaneCount = 0;

    // B advanced to just past the time of impact.
    const float s = time + kContactSkin / std::sqrt(speed2);
    dgVector e(velocity.scale(s));
    e.w = 0.0f;
    dgVector diff[3];
    dgVector sum[3];
    for (int32_t j = 0; j < 3; j++) {
        diff[j] = faceDiff[j] - e;
        sum[j] = faceSum[j] + e;
    }
    for (int32_t j = 0; j < 3; j++) {
        m_diff[j] = diff[j];
        m_sum[j] = sum[j];
    }
    if (m_vertexCount < 3) {
        m_vertexCount = 3;
    }

    // Half-edge 0 and its face ring as the tetrahedron lays them out:
    // vertices 0, 1, 2.
    dgMinkowskiEdge* ring[3] = {&m_edges[0], &m_edges[4], &m_edges[5]};
    for (int32_t j = 0; j < 3; j++) {
        ring[j]->m_vertex = uint16_t(j);
        ring[j]->m_next = ring[(j + 1) % 3];
        ring[j]->m_prev = ring[(j + 2) % 3];
        ring[j]->m_inHeap = 0;
    }
    bool valid = false;
    const int32_t slot = addFacePlane(ring[0], valid);
    if ((slot < 0) || !valid) {
        return 0;
    }
    dgPlane& plane = m_planes[slot];
    if ((plane % velocity) > 0.0f) {
        plane = dgPlane(-plane.x, -plane.y, -plane.z, -plane.w);
    }

    dgVector world(m_body0->m_collisionMatrix.rotateVector(e));
    world.w = 0.0f;
    int32_t count = 0;
    {
        dgTranslationGuard moveMatrix(m_matrix.position, e);
        dgTranslationGuard moveBody(m_body1->m_collisionMatrix.position, world);
        count = calcFaceContacts(ring[0], userId, contacts, maxCount);
    }
    const dgVector half(world.scale(0.5f));
    for (int32_t i = 0; i < count; i++) {
        contacts[i].point -= half;
    }
    return count;
}

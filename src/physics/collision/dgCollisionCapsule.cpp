#include "dgCollisionCapsule.h"

#include <cmath>

#include "dgCollisionSphere.h"
#include "dgVolumeIntegrals.h"

DG_IMPLEMENT_CLASS(dgCollisionCapsule, dgConvexCollision, "dgCollisionCapsule");

dgShapeTables<dgCapsuleTables> dgCollisionCapsule::s_sharedTables;

namespace {

constexpr int32_t kRings = dgCollisionCapsule::kRings;
constexpr int32_t kRingPoints = dgCollisionCapsule::kRingPoints;
// Below this a ray's quadratic has no usable crossing: tangent, or parallel
// to the axis for the cylinder.
constexpr float kMinDiscriminant = 1.0e-8f;
// Normals at least this far along the axis cut the capsule across it, where
// an end sphere's cut stands for the whole section.
constexpr float kAcrossAxis = 0.5f;
// Below this the normal has no usable direction about x to turn into.
constexpr float kMinRadialNormal2 = 1.0e-6f;
// Below this the plane runs along the axis: every axis point lies at one
// distance from it.
constexpr float kMinAxisSlope = 1.0e-6f;

// Smaller root of a t^2 + b t + c = 0 for a > 0 and disc = b^2 - 4ac > 0,
// without the cancellation of (-b - sqrt(disc)) / 2a that loses the near
// root of a long segment.
float smallerRoot(float a, float b, float c, float disc) {
    const float root = std::sqrt(disc);
    const float q = -0.5f * (b + ((b < 0.0f) ? -root : root));
    const float t0 = q / a;
    const float t1 = c / q;
    return (t0 < t1) ? t0 : t1;
}

// v normalised, w = 0; `fallback` (a unit vector) when v is zero.
dgVector unitOr(const dgVector& v, const dgVector& fallback) {
    const float length2 = v % v;
    if (!(length2 > 0.0f)) {
        return fallback;
    }
    const dgVector n(v.scale(1.0f / std::sqrt(length2)));
    return dgVector(n.x, n.y, n.z, 0.0f);
}

}  // namespace

bool dgCapsuleTables::build() {
    // Quads per band between consecutive rings, then the two tip caps, all
    // outward (the rings advance along +x).
    return dgBuildRingEdgeTable(kRings, kRingPoints, false, m_edges, kEdgeCount) == kEdgeCount;
}

int32_t dgCollisionCapsule::dgCapsuleLiveCount() {
    return s_sharedTables.getLiveCount();
}

const dgConvexEdge* dgCollisionCapsule::dgCapsuleEdgeTable() {
    const dgCapsuleTables* tables = s_sharedTables.getTables();
    return tables ? tables->m_edges : nullptr;
}

dgCollisionCapsule::dgCollisionCapsule(uint32_t signature, float radius, float height,
                                       const dgMatrix& offsetMatrix)
    : dgConvexCollision(signature, offsetMatrix, dgShapeCapsule),
      m_height(kMinHalfLength),
      m_radius(std::fabs(radius)),
      m_angleStep(std::fabs(radius)),
      m_halfHeight(std::fabs(height) * 0.5f) {
    const float halfLength = m_halfHeight - m_radius;
    if (halfLength > kMinHalfLength) {
        m_height = halfLength;
    }
    const float hc = m_height;
    const float r = m_radius;
    m_sectionCorners[0] = dgVector(hc, r, 0.0f, 0.0f);
    m_sectionCorners[1] = dgVector(-hc, r, 0.0f, 0.0f);
    m_sectionCorners[2] = dgVector(hc, -r, 0.0f, 0.0f);
    m_sectionCorners[3] = dgVector(-hc, -r, 0.0f, 0.0f);

    // Ring k (0 to 3) lies k r / 4 beyond an end; the -x end is listed from
    // its tip (k = 3) inward, the +x end from the middle outward, so x grows
    // with the vertex index.
    constexpr int32_t kHalfRings = kRings / 2;
    for (int32_t ring = 0; ring < kHalfRings; ring++) {
        const int32_t k = kHalfRings - 1 - ring;
        const float a = float(k) * r * 0.25f;
        const float rho = std::sqrt(r * r - a * a);
        for (int32_t j = 0; j < kRingPoints; j++) {
            const float phi = float(j) * (6.28318f / float(kRingPoints));
            const float y = rho * std::cos(phi);
            const float z = rho * std::sin(phi);
            m_capsuleVertices[ring * kRingPoints + j] = dgVector(-(hc + a), y, z, 1.0f);
            m_capsuleVertices[(kRings - 1 - ring) * kRingPoints + j] = dgVector(hc + a, y, z, 1.0f);
        }
    }

    dgCapsuleTables* tables = s_sharedTables.acquire();
    if (tables) {
        lendPolyhedron(m_capsuleVertices, kVertexCount, tables->m_edges, kEdgeCount);
    }
    initMassAndBox();
}

dgCollisionCapsule::~dgCollisionCapsule() {
    returnPolyhedron();
    s_sharedTables.release();
}

void dgCollisionCapsule::setCollisionBBox(const dgVector&, const dgVector&) {}

uint32_t dgCollisionCapsule::calcSignature() const {
    // The factory files the capsule under |height| / 2, not under hc: the
    // signature the shape keeps must be the one it recomputes.
    const float dimensions[2] = {m_radius, m_halfHeight};
    return dgShapeSignature(dgShapeCapsule, dimensions, 2, m_offsetMatrix);
}

dgVector dgCollisionCapsule::supportVertex(const dgVector& direction) const {
    dgVector p(dgCollisionSphere::gridSupport(direction, m_radius, m_angleStep));
    p.x += (direction.x >= 0.0f) ? m_height : -m_height;
    p.w = 1.0f;
    return p;
}

float dgCollisionCapsule::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                  dgCollisionRayPrefilter prefilter, const dgBody* body,
                                  void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    return castClipped(p0, p1,
                       [&](const dgVector& q0, const dgVector& q1) { return castSegment(q0, q1, contact); });
}

float dgCollisionCapsule::castSegment(const dgVector& p0, const dgVector& p1, dgContactPoint& contact) const {
    const dgVector d(p1 - p0);
    const float r2 = m_radius * m_radius;
    const float c = p0.y * p0.y + p0.z * p0.z - r2;
    float endCentre;
    if (c > 0.0f) {
        // Outside the infinite cylinder about x, which holds the capsule:
        // where the segment enters it decides what it can hit first.
        const float a = d.y * d.y + d.z * d.z;
        const float b = 2.0f * (p0.y * d.y + p0.z * d.z);
        const float disc = b * b - 4.0f * a * c;
        if (!(disc > kMinDiscriminant)) {
            return kRayMiss;
        }
        const float t = smallerRoot(a, b, c, disc);
        if (!(t >= 0.0f && t <= 1.0f)) {
            return kRayMiss;
        }
        const float x = p0.x + d.x * t;
        if (x > m_sectionCorners[0].x) {
            endCentre = m_sectionCorners[0].x;
        } else if (x < m_sectionCorners[1].x) {
            endCentre = m_sectionCorners[1].x;
        } else {
            const dgVector radial(0.0f, p0.y + d.y * t, p0.z + d.z * t, 0.0f);
            contact.normal = unitOr(radial, dgVector(0.0f, 1.0f, 0.0f, 0.0f));
            contact.userId = dgContactUserId(m_userId);
            return t;
        }
    } else if (p0.x > m_height) {
        // Within the cylinder's radius beyond an end: only that end's sphere
        // can be met.
        endCentre = m_height;
    } else if (p0.x < -m_height) {
        endCentre = -m_height;
    } else {
        // Inside the capsule, or on its side.
        return kRayMiss;
    }

    const dgVector q(p0.x - endCentre, p0.y, p0.z, 0.0f);
    const float a = d % d;
    const float b = 2.0f * (q % d);
    const float cs = (q % q) - r2;
    if (!(cs > 0.0f)) {
        return kRayMiss;
    }
    const float disc = b * b - 4.0f * a * cs;
    if (!(disc > kMinDiscriminant)) {
        return kRayMiss;
    }
    const float t = smallerRoot(a, b, cs, disc);
    if (!(t >= 0.0f && t <= 1.0f)) {
        return kRayMiss;
    }
    contact.normal = unitOr(q + d.scale(t), dgVector((endCentre > 0.0f) ? 1.0f : -1.0f, 0.0f, 0.0f, 0.0f));
    contact.userId = dgContactUserId(m_userId);
    return t;
}

int32_t dgCollisionCapsule::calcPlaneIntersection(const dgVector& normal, const dgVector& point,
                                                  dgVector* points) const {
    if (std::fabs(normal.x) < kAcrossAxis) {
        return coreSection(normal, point, points);
    }
    // Turn about x so that the normal has no z component and a positive y:
    // the coarse rings are then cut with one of their vertices facing the
    // tilt, the same for every azimuth of the plane.
    dgMatrix turn(dgGetIdentityMatrix());
    const float radial2 = normal.y * normal.y + normal.z * normal.z;
    if (radial2 > kMinRadialNormal2) {
        const float radial = std::sqrt(radial2);
        const float c = normal.y / radial;
        const float s = normal.z / radial;
        turn = dgMatrix(dgVector(1.0f, 0.0f, 0.0f, 0.0f), dgVector(0.0f, c, s, 0.0f),
                        dgVector(0.0f, -s, c, 0.0f), dgVector(0.0f, 0.0f, 0.0f, 1.0f));
    }
    const dgVector turnedNormal(turn.inverseRotateVector(normal));
    const dgVector turnedPoint(turn.inverseRotateVector(point));

    int32_t count = 0;
    {
        for (int32_t end = 0; (end < 2) && (count == 0); end++) {
            const dgVector centre(m_sectionCorners[end].x, 0.0f, 0.0f, 1.0f);
            const float delta = -(turnedNormal % (centre - turnedPoint));
            if (std::fabs(delta) < m_radius) {
                points[0] = centre + turnedNormal.scale(delta);
                count = 1;
            }
        }
    }
    // A plane across the axis that meets neither end sphere can still cut
    // the cylindrical part; its section then comes from the coarse contour
    // like that of any other plane, and a plane that misses gives 0.
    if (count == 0) {
        count = dgConvexCollision::calcPlaneIntersection(turnedNormal, turnedPoint, points);
    }
    turn.transformPoints(&points[0].x, int32_t(sizeof(dgVector)), &points[0].x, int32_t(sizeof(dgVector)),
                         count);
    return count;
}

int32_t dgCollisionCapsule::coreSection(const dgVector& normal, const dgVector& point,
                                        dgVector* points) const {
    // Signed distance of the axis point (x, 0, 0) from the plane: a x + b.
    const float a = normal.x;
    const float b = -(normal % dgVector(point.x, point.y, point.z, 0.0f));
    float lo = -m_height;
    float hi = m_height;
    if (std::fabs(a) > kMinAxisSlope) {
        float x0 = (-m_radius - b) / a;
        float x1 = (m_radius - b) / a;
        if (x0 > x1) {
            const float t = x0;
            x0 = x1;
            x1 = t;
        }
        lo = (x0 > lo) ? x0 : lo;
        hi = (x1 < hi) ? x1 : hi;
    } else if (!(std::fabs(b) < m_radius)) {
        return 0;
    }
    if (!(lo <= hi)) {
        return 0;
    }
    const float ends[2] = {lo, hi};
    const int32_t count = (hi > lo) ? 2 : 1;
    for (int32_t i = 0; i < count; i++) {
        const float x = ends[i];
        const float s = a * x + b;
        points[i] = dgVector(x - normal.x * s, -normal.y * s, -normal.z * s, 1.0f);
    }
    return count;
}

void dgCollisionCapsule::subdivideCapTriangle(int32_t level, float shift, const dgVector& p0,
                                              const dgVector& p1, const dgVector& p2, int32_t& count,
                                              dgVector* out) const {
    const int32_t first = count;
    dgCollisionSphere::subdivideTriangle(level, p0, p1, p2, count, out);
    for (int32_t i = first; i < count; i++) {
        const dgVector& u = out[i];
        out[i] = dgVector(m_radius * u.x + shift, m_radius * u.y, m_radius * u.z, u.w);
    }
}

void dgCollisionCapsule::walkPoints(const dgMatrix& matrix, float* placed) const {
    // Rings at -hc (0 .. kWalkSegments-1) and +hc, then the end triangles.
    // The octahedron subdivided twice has kWalkSegments points on its
    // equator, at the rings' angles, so the ends meet the rings.
    dgVector local[kWalkCorners];
    for (int32_t k = 0; k < kWalkSegments; k++) {
        const float angle = float(k) * (6.28318f / float(kWalkSegments));
        const float y = m_radius * std::cos(angle);
        const float z = m_radius * std::sin(angle);
        local[k] = dgVector(-m_height, y, z, 1.0f);
        local[kWalkSegments + k] = dgVector(m_height, y, z, 1.0f);
    }
    int32_t count = kWalkRingCorners;
    for (int32_t face = 0; face < 8; face++) {
        dgVector a, b, c;
        dgCollisionSphere::octahedronFace(face, a, b, c);
        subdivideCapTriangle(kWalkCapLevel, capShift(face), a, b, c, count, local);
    }
    matrix.transformPoints(placed, 3 * int32_t(sizeof(float)), &local[0].x, int32_t(sizeof(dgVector)), count);
}

float dgCollisionCapsule::capShift(int32_t face) const {
    dgVector a, b, c;
    dgCollisionSphere::octahedronFace(face, a, b, c);
    return ((a.x + b.x + c.x) > 0.0f) ? m_height : -m_height;
}

void dgCollisionCapsule::sideQuad(const float* placed, int32_t k, float* face) {
    const int32_t prev = (k == 0) ? kWalkSegments - 1 : k - 1;
    const int32_t corners[4] = {prev, k, kWalkSegments + k, kWalkSegments + prev};
    for (int32_t i = 0; i < 4; i++) {
        face[3 * i + 0] = placed[3 * corners[i] + 0];
        face[3 * i + 1] = placed[3 * corners[i] + 1];
        face[3 * i + 2] = placed[3 * corners[i] + 2];
    }
}

int32_t dgCollisionCapsule::forEachPolygon(const dgBody* body, dgCollisionPolygonCallback callback) const {
    float placed[3 * kWalkCorners];
    walkPoints(m_offsetMatrix.multiply(dgPolygonWalkMatrix(body)), placed);
    const int32_t count = kWalkCorners;
    constexpr int32_t kRingCorners = kWalkRingCorners;

    for (int32_t k = 0; k < kWalkSegments; k++) {
        float face[12];
        sideQuad(placed, k, face);
        callback(body, 4, face, 0);
    }
    for (int32_t i = kRingCorners; i < count; i += 3) {
        callback(body, 3, &placed[3 * i], 0);
    }
    return 4 * kWalkSegments + (count - kRingCorners);
}

void dgCollisionCapsule::calcInertia(dgVector& inertia, dgVector& origin) const {
    // The walked polyhedron in three closed parts, the prism between the
    // rings and each end closed by its ring, each integrated about a point
    // of its own. Integrated whole about one point, the faces of the far end
    // lie hc / r of their own size away, and the cube of that ratio (past
    // 1e17 for a thin capsule) is lost to cancellation in double: a capsule
    // of radius 1e-6 and length 1 weighed a negative moment about its axis.
    float placed[3 * kWalkCorners];
    walkPoints(m_offsetMatrix, placed);
    auto point = [&placed](int32_t i) {
        return dgVector(placed[3 * i], placed[3 * i + 1], placed[3 * i + 2], 1.0f);
    };
    // A ring as one face: ends of the prism face outwards along -x then +x;
    // a ring closing an end faces the other way.
    auto addRing = [&](dgVolumeIntegrals& part, int32_t first, bool reversed) {
        float ring[3 * kWalkSegments];
        for (int32_t k = 0; k < kWalkSegments; k++) {
            const int32_t i = first + (reversed ? kWalkSegments - 1 - k : k);
            ring[3 * k + 0] = placed[3 * i + 0];
            ring[3 * k + 1] = placed[3 * i + 1];
            ring[3 * k + 2] = placed[3 * i + 2];
        }
        part.addFaceWithInertia(kWalkSegments, ring);
    };
    dgVolumeIntegrals whole(point(0));
    for (int32_t k = 0; k < kWalkSegments; k++) {
        float face[12];
        sideQuad(placed, k, face);
        whole.addFaceWithInertia(4, face);
    }
    addRing(whole, 0, true);
    addRing(whole, kWalkSegments, false);
    for (const float side : {-1.0f, 1.0f}) {
        dgVolumeIntegrals end(m_offsetMatrix.transformVector(dgVector(side * m_height, 0.0f, 0.0f, 1.0f)));
        constexpr int32_t kFaceCorners = 3 * (kWalkCapTriangles / 8);
        for (int32_t face = 0; face < 8; face++) {
            if ((capShift(face) > 0.0f) != (side > 0.0f)) {
                continue;
            }
            for (int32_t t = 0; t < kFaceCorners; t += 3) {
                end.addFaceWithInertia(3, &placed[3 * (kWalkRingCorners + face * kFaceCorners + t)]);
            }
        }
        addRing(end, (side > 0.0f) ? kWalkSegments : 0, side > 0.0f);
        whole.addPart(end);
    }
    whole.massProperties(inertia, origin);
}

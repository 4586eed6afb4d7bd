#include "dgCollisionPolygonalSoup.h"

#include <cmath>
#include <cstddef>

#include "dgAssert.h"
#include "dgIntersections.h"
#include "dgMemory.h"

DG_IMPLEMENT_CLASS(dgCollisionPolygonalSoup, dgCollision, "dgCollisionPolygonalSoup");
DG_IMPLEMENT_CLASS(dgCollisionPolygonalSoup::dgCollisionConvexPolygon, dgConvexCollision,
                   "dgCollisionPolygonalSoup::dgCollisionConvexPolygon");

namespace {

typedef dgCollisionPolygonalSoup::dgCollisionConvexPolygon dgFace;

// A face normal closer than this to the cutting plane's counts as parallel.
constexpr float kParallelCosine = 0.9999f;
// Contour points closer than this (squared) are one.
constexpr float kContourWeldDist2 = 1.0e-8f;
// Smallest magnitude of an edge's rise across the cutting plane.
constexpr float kMinCrossingDenominator = 1.0e-8f;
// Cosines of filterContacts: below the first a contact is off the face's
// normal (flagged), below the second it points away from the face (dropped).
constexpr float kFaceNormalCosine = 0.999f;
constexpr float kAwayFromFaceCosine = 0.1f;
// Faces a polygon walk places on the stack; larger user faces take a
// scratch block.
constexpr int32_t kWalkLocalVertices = 128;

// The storage's own index list, for the shared face routines.
struct dgIdentityIndices {
    int32_t m_index[dgFace::kMaxVertices];
    constexpr dgIdentityIndices() : m_index{} {
        for (int32_t i = 0; i < dgFace::kMaxVertices; i++) {
            m_index[i] = i;
        }
    }
};
constexpr dgIdentityIndices kStorageIndices;

inline const float* sourceVertex(const float* vertices, int32_t strideInFloats, int32_t index) {
    // Index and stride are 32-bit, their product may not be.
    return vertices + ptrdiff_t(index) * ptrdiff_t(strideInFloats);
}

inline bool isFinite3(const dgVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Where edge prev -> next crosses the plane of normal m on which prev has
// value sPrev; the denominator is kept off zero with its sign, so an edge
// lying along the plane answers a point near prev rather than a division by
// zero. Takes prev's w.
inline dgVector crossingPoint(const dgVector& prev, const dgVector& next, const dgVector& m, float sPrev) {
    const dgVector edge(next - prev);
    float den = m % edge;
    if (std::fabs(den) < kMinCrossingDenominator) {
        den = dgSign(den) * kMinCrossingDenominator;
    }
    return prev - edge.scale(sPrev / den);
}

// Appends p unless it repeats the point appended before it.
inline void appendContourPoint(dgVector* points, int32_t& count, const dgVector& p) {
    if (count > 0) {
        const dgVector delta(p - points[count - 1]);
        if ((delta % delta) < kContourWeldDist2) {
            return;
        }
    }
    points[count++] = p;
}

}  // namespace

// ---- records ----

void dgCollideDescReset(dgPolygonSoupCollideDesc& desc) {
    desc.m_faceCount = 0;
    desc.m_indexCount = 0;
    desc.m_vertexArray = nullptr;
    desc.m_vertexStrideInBytes = 0;
    desc.m_faceAttributes = desc.m_attributeStorage;
    desc.m_faceIndexCounts = desc.m_indexCountStorage;
    desc.m_faceIndices = desc.m_indexStorage;
}

int32_t dgCollideDescAddFace(dgPolygonSoupCollideDesc& desc, const float* vertices, int32_t strideInBytes,
                             const int32_t* indices, int32_t indexCount, int32_t attribute) {
    constexpr int32_t kMaxFaces = dgPolygonSoupCollideDesc::kMaxFaces;
    constexpr int32_t kMaxIndices = dgPolygonSoupCollideDesc::kMaxIndices;
    int32_t& m_faceCount = desc.m_faceCount;
    int32_t& m_indexCount = desc.m_indexCount;
    if (!vertices || !indices || (indexCount <= 0)) {
        return 1;
    }
    DG_ASSERT((m_faceCount >= 0) && (m_faceCount <= kMaxFaces));
    DG_ASSERT((m_indexCount >= 0) && (m_indexCount < kMaxIndices));
    if ((m_faceCount >= kMaxFaces) || ((int64_t(m_indexCount) + int64_t(indexCount)) >= kMaxIndices)) {
        return 0;
    }
    if (m_faceCount == 0) {
        desc.m_vertexArray = vertices;
        desc.m_vertexStrideInBytes = strideInBytes;
    }
    desc.m_attributeStorage[m_faceCount] = attribute;
    desc.m_indexCountStorage[m_faceCount] = indexCount;
    for (int32_t i = 0; i < indexCount; i++) {
        desc.m_indexStorage[m_indexCount + i] = indices[i];
    }
    m_faceCount++;
    m_indexCount += indexCount;
    return 1;
}

int32_t dgCollideDescWalkFace(dgPolygonSoupCollideDesc& desc, const float* vertices, int32_t strideInBytes,
                              const int32_t* indices, int32_t indexCount, int32_t attribute) {
    if (!desc.m_polygonCallback || !desc.m_soupBody) {
        return 0;
    }
    if (!vertices || !indices || (indexCount < 3) || (strideInBytes < int32_t(3 * sizeof(float)))) {
        return 1;
    }
    float local[3 * kWalkLocalVertices];
    dgScratchArray<float> large(indexCount > kWalkLocalVertices ? 3 * indexCount : 0);
    float* const placed = (indexCount > kWalkLocalVertices) ? large.getData() : local;
    if (!placed) {
        return 1;
    }
    const dgMatrix& matrix = dgPolygonWalkMatrix(desc.m_soupBody);
    const int32_t strideInFloats = strideInBytes / int32_t(sizeof(float));
    for (int32_t i = 0; i < indexCount; i++) {
        const float* v = sourceVertex(vertices, strideInFloats, indices[i]);
        const dgVector p(matrix.transformVector(dgVector(v[0], v[1], v[2], 1.0f)));
        placed[3 * i + 0] = p.x;
        placed[3 * i + 1] = p.y;
        placed[3 * i + 2] = p.z;
    }
    desc.m_polygonCallback(desc.m_soupBody, indexCount, placed, attribute);
    desc.m_faceCount++;
    return 1;
}

// ---- helpers ----

dgVector dgTriangleClosestPoint(const dgVector& p, const dgVector& a, const dgVector& b, const dgVector& c) {
    dgVector q(dgClosestPointOnTriangle(p, a, b, c));
    q.w = a.w;
    return q;
}

int32_t dgPolygonPlaneCrossings(const float* vertices, const int32_t* indices, int32_t indexCount,
                                int32_t strideInFloats, const dgPlane& plane, dgVector* points) {
    if (!vertices || !indices || !points || (indexCount < 2)) {
        return 0;
    }
    const dgVector m(plane.x, plane.y, plane.z, 0.0f);
    const float* v = sourceVertex(vertices, strideInFloats, indices[indexCount - 1]);
    dgVector prev(v[0], v[1], v[2], 1.0f);
    float sPrev = plane.evaluate(prev);
    int32_t count = 0;
    for (int32_t i = 0; i < indexCount; i++) {
        v = sourceVertex(vertices, strideInFloats, indices[i]);
        const dgVector next(v[0], v[1], v[2], 1.0f);
        const float sNext = plane.evaluate(next);
        if (((sPrev >= 0.0f) && (sNext <= 0.0f)) || ((sPrev < 0.0f) && (sNext >= 0.0f))) {
            points[count++] = crossingPoint(prev, next, m, sPrev);
        }
        prev = next;
        sPrev = sNext;
    }
    return count;
}

// ---- the soup shape ----

dgCollisionPolygonalSoup::dgCollisionPolygonalSoup(void* userData, dgPolygonSoupCollideCallback collide,
                                                   dgPolygonSoupRayCastCallback rayCast,
                                                   dgPolygonSoupDestroyCallback destroy)
    : dgCollision(0u, dgGetIdentityMatrix(), dgShapePolygonSoup),
      m_userData(userData),
      m_collideCallback(collide),
      m_destroyCallback(destroy),
      m_rayCastCallback(rayCast),
      m_face(new dgCollisionConvexPolygon()) {
    DG_ASSERT(collide);
    const dgVector origin(0.0f, 0.0f, 0.0f, 1.0f);
    setCollisionBBox(origin, origin);
}

dgCollisionPolygonalSoup::~dgCollisionPolygonalSoup() {
    if (m_face) {
        m_face->release();
        m_face = nullptr;
    }
    if (m_destroyCallback) {
        m_destroyCallback(m_userData);
    }
}

void dgCollisionPolygonalSoup::setCollisionBBox(const dgVector& p0, const dgVector& p1) {
    m_boxMin = dgVector(dgMin(p0.x, p1.x), dgMin(p0.y, p1.y), dgMin(p0.z, p1.z), 1.0f);
    m_boxMax = dgVector(dgMax(p0.x, p1.x), dgMax(p0.y, p1.y), dgMax(p0.z, p1.z), 1.0f);
    m_halfSize = (m_boxMax - m_boxMin).scale(0.5f);
    m_halfSize.w = 1.0f;
    m_centre = (m_boxMax + m_boxMin).scale(0.5f);
    m_centre.w = 1.0f;
}

uint32_t dgCollisionPolygonalSoup::getUserId() const {
    return uint32_t(uintptr_t(m_userData));
}

void dgCollisionPolygonalSoup::setUserId(uint32_t) {}

void dgCollisionPolygonalSoup::calcAABB(const dgMatrix& matrix, dgVector& boxMin, dgVector& boxMax) const {
    const dgVector centre(matrix.transformVector(m_centre));
    const dgVector& h = m_halfSize;
    float extent[3];
    for (int32_t j = 0; j < 3; j++) {
        extent[j] =
            std::fabs(matrix[0][j]) * h.x + std::fabs(matrix[1][j]) * h.y + std::fabs(matrix[2][j]) * h.z;
    }
    boxMin = dgVector(centre.x - extent[0], centre.y - extent[1], centre.z - extent[2], 1.0f);
    boxMax = dgVector(centre.x + extent[0], centre.y + extent[1], centre.z + extent[2], 1.0f);
}

int32_t dgCollisionPolygonalSoup::forEachPolygon(const dgBody* body,
                                                 dgCollisionPolygonCallback callback) const {
    DG_ASSERT(body);
    if (!body || !callback) {
        return 0;
    }
    dgPolygonSoupCollideDesc desc;
    dgSetDescVector(desc.m_boxMin, m_boxMin);
    dgSetDescVector(desc.m_boxMax, m_boxMax);
    desc.m_otherBody = nullptr;
    desc.m_soupBody = body;
    desc.m_polygonCallback = callback;
    return gatherFaces(desc);
}

int32_t dgCollisionPolygonalSoup::gatherFaces(dgPolygonSoupCollideDesc& desc) const {
    dgCollideDescReset(desc);
    desc.m_userData = m_userData;
    const dgVector lo(dgDescVector(desc.m_boxMin));
    const dgVector hi(dgDescVector(desc.m_boxMax));
    // Written to fail on NaN as well as on an inverted box.
    if (!((lo.x <= hi.x) && (lo.y <= hi.y) && (lo.z <= hi.z))) {
        return 0;
    }
    if (!m_collideCallback) {
        return 0;
    }
    m_collideCallback(&desc);
    // A polygon walk only counts the faces it hands out, all of them; a
    // gathering stores at most kMaxFaces.
    DG_ASSERT((desc.m_faceCount >= 0) &&
              (desc.m_polygonCallback || desc.m_faceCount <= dgPolygonSoupCollideDesc::kMaxFaces));
    DG_ASSERT((desc.m_indexCount >= 0) && (desc.m_indexCount < dgPolygonSoupCollideDesc::kMaxIndices));
    return desc.m_faceCount;
}

float dgCollisionPolygonalSoup::rayCast(const dgVector& p0, const dgVector& p1, dgContactPoint& contact,
                                        dgCollisionRayPrefilter prefilter, const dgBody* body,
                                        void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    if (!m_rayCastCallback || !isFinite3(p0) || !isFinite3(p1)) {
        return kRayMiss;
    }
    dgPolygonSoupRayDesc desc;
    dgSetDescVector(desc.m_p0, p0);
    dgSetDescVector(desc.m_p1, p1);
    dgSetDescVector(desc.m_normal, dgVector(0.0f, 0.0f, 0.0f, 0.0f));
    desc.m_attribute = 0;
    desc.m_userData = m_userData;
    const float t = m_rayCastCallback(&desc);
    // Every shape answers hits in [0, 1] and kRayMiss for the rest, so a
    // callback's own miss value (and t exactly 1, a hit) reach the caller in
    // that one form, with the normal and attribute of this hit.
    if (!((t >= 0.0f) && (t <= 1.0f))) {
        return kRayMiss;
    }
    const dgVector n(dgDescVector(desc.m_normal));
    const float mag2 = n % n;
    if (!((mag2 > 0.0f) && std::isfinite(mag2))) {
        return kRayMiss;
    }
    const float scale = 1.0f / std::sqrt(mag2);
    contact.normal = dgVector(n.x * scale, n.y * scale, n.z * scale, 0.0f);
    contact.userId = dgContactUserId(uint32_t(desc.m_attribute));
    return t;
}

float dgCollisionPolygonalSoup::getVolume() const {
    return 0.0f;
}

void dgCollisionPolygonalSoup::calcInertia(dgVector& inertia, dgVector& origin) const {
    inertia.x = 0.0f;
    inertia.y = 0.0f;
    inertia.z = 0.0f;
    origin.x = 0.0f;
    origin.y = 0.0f;
    origin.z = 0.0f;
}

dgVector dgCollisionPolygonalSoup::calcSubmergedVolume(const dgMatrix&, dgCollisionFluidPlaneCallback,
                                                       void*) const {
    return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

uint32_t dgCollisionPolygonalSoup::calcSignature() const {
    return 0u;
}

// ---- the face object ----

dgCollisionPolygonalSoup::dgCollisionConvexPolygon::dgCollisionConvexPolygon()
    : dgConvexCollision(kFaceSignature, dgGetIdentityMatrix(), dgShapeSoupFace),
      m_normal(0.0f, 0.0f, 0.0f, 0.0f),
      m_count(0),
      m_stride(0),
      m_index(nullptr),
      m_vertex(nullptr),
      m_storedCount(0) {
    for (int32_t i = 0; i < kMaxVertices; i++) {
        m_localPoly[i] = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
}

dgCollisionPolygonalSoup::dgCollisionConvexPolygon::~dgCollisionConvexPolygon() {}

void dgCollisionPolygonalSoup::dgCollisionConvexPolygon::setCollisionBBox(const dgVector&, const dgVector&) {}

void dgCollisionPolygonalSoup::dgCollisionConvexPolygon::calcAABB(const dgMatrix& matrix, dgVector& boxMin,
                                                                  dgVector& boxMax) const {
    if (m_storedCount == 0) {
        const dgVector& origin = matrix.position;
        boxMin = dgVector(origin.x, origin.y, origin.z, 1.0f);
        boxMax = boxMin;
        return;
    }
    supportBox(matrix, boxMin, boxMax);
    boxMin.w = 1.0f;
    boxMax.w = 1.0f;
}

float dgCollisionPolygonalSoup::dgCollisionConvexPolygon::rayCast(const dgVector& p0, const dgVector& p1,
                                                                  dgContactPoint& contact,
                                                                  dgCollisionRayPrefilter prefilter,
                                                                  const dgBody* body, void* userData) const {
    if (prefilter && !prefilter(body, this, userData)) {
        return kRayMiss;
    }
    float t = kRayMiss;
    dgVector n(0.0f, 0.0f, 0.0f, 0.0f);
    if (!dgRayFaceTest(p0, p1, &m_localPoly[0].x, int32_t(sizeof(dgVector)), kStorageIndices.m_index,
                       m_storedCount, t, n)) {
        return kRayMiss;
    }
    const float mag2 = n % n;
    if (!((mag2 > 0.0f) && std::isfinite(mag2))) {
        return kRayMiss;
    }
    const float scale = 1.0f / std::sqrt(mag2);
    contact.normal = dgVector(n.x * scale, n.y * scale, n.z * scale, 0.0f);
    contact.userId = dgContactUserId(m_userId);
    return t;
}

float dgCollisionPolygonalSoup::dgCollisionConvexPolygon::getVolume() const {
    return 0.0f;
}

void dgCollisionPolygonalSoup::dgCollisionConvexPolygon::calcInertia(dgVector& inertia,
                                                                     dgVector& origin) const {
    inertia.x = 0.0f;
    inertia.y = 0.0f;
    inertia.z = 0.0f;
    origin.x = 0.0f;
    origin.y = 0.0f;
    origin.z = 0.0f;
}

uint32_t dgCollisionPolygonalSoup::dgCollisionConvexPolygon::calcSignature() const {
    return kFaceSignature;
}

dgVector dgCollisionPolygonalSoup::dgCollisionConvexPolygon::supportVertex(const dgVector& direction) const {
    if (m_storedCount == 0) {
        return dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    }
    int32_t best = 0;
    float bestDist = m_localPoly[0] % direction;
    for (int32_t i = 1; i < m_storedCount; i++) {
        const float dist = m_localPoly[i] % direction;
        if (dist > bestDist) {
            bestDist = dist;
            best = i;
        }
    }
    return m_localPoly[best];
}

int32_t dgCollisionPolygonalSoup::dgCollisionConvexPolygon::calcPlaneIntersection(const dgVector& normal,
                                                                                  const dgVector& point,
                                                                                  dgVector* points) const {
    const int32_t n = m_storedCount;
    if (n == 0) {
        return 0;
    }
    const dgVector m(normal.x, normal.y, normal.z, 0.0f);
    if (std::fabs(m_normal % m) > kParallelCosine) {
        for (int32_t i = 0; i < n; i++) {
            points[i] = m_localPoly[i];
        }
        return n;
    }

    // Each vertex gives at most its projection and one crossing.
    dgVector contour[2 * kMaxVertices];
    int32_t count = 0;
    const float d = -(m % point);
    dgVector prev(m_localPoly[n - 1]);
    float sPrev = (m % prev) + d;
    for (int32_t i = 0; i < n; i++) {
        const dgVector& next = m_localPoly[i];
        const float sNext = (m % next) + d;
        if (sPrev <= 0.0f) {
            if (sNext > 0.0f) {
                appendContourPoint(contour, count, crossingPoint(prev, next, m, sPrev));
            }
        } else if (sPrev > 0.0f) {
            appendContourPoint(contour, count, prev - m.scale(sPrev));
            if (sNext <= 0.0f) {
                appendContourPoint(contour, count, crossingPoint(prev, next, m, sPrev));
            }
        }
        prev = next;
        sPrev = sNext;
    }
    if (count > 1) {
        const dgVector delta(contour[count - 1] - contour[0]);
        if ((delta % delta) < kContourWeldDist2) {
            count--;
        }
    }
    // A face of nearly kMaxVertices vertices cut near one corner can pass the
    // caller's capacity by a point or two.
    if (count > dgPlaneIntersectionMaxPoints) {
        count = reducePolygon(count, m, contour, dgPlaneIntersectionMaxPoints);
    }
    for (int32_t i = 0; i < count; i++) {
        points[i] = contour[i];
    }
    return count;
}

void dgCollisionPolygonalSoup::dgCollisionConvexPolygon::setFace(const float* vertices,
                                                                 int32_t strideInFloats,
                                                                 const int32_t* indices,
                                                                 int32_t vertexCount) {
    m_vertex = vertices;
    m_stride = strideInFloats;
    m_index = indices;
    m_count = vertexCount;
}

bool dgCollisionPolygonalSoup::dgCollisionConvexPolygon::loadFace() {
    m_storedCount = 0;
    m_normal = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    // Faces of user meshes may be larger than the storage: they are skipped,
    // not cut short.
    if (!m_vertex || !m_index || (m_count < 3) || (m_count > kMaxVertices) || (m_stride < 3)) {
        return false;
    }
    for (int32_t i = 0; i < m_count; i++) {
        DG_ASSERT(m_index[i] >= 0);
        if (m_index[i] < 0) {
            return false;
        }
        const float* v = sourceVertex(m_vertex, m_stride, m_index[i]);
        m_localPoly[i] = dgVector(v[0], v[1], v[2], 1.0f);
    }
    const dgVector n((m_localPoly[1] - m_localPoly[0]).cross(m_localPoly[2] - m_localPoly[1]));
    const float scale = 1.0f / std::sqrt((n % n) + 1.0e-24f);
    m_normal = dgVector(n.x * scale, n.y * scale, n.z * scale, 0.0f);
    m_storedCount = m_count;
    return true;
}

dgVector dgCollisionPolygonalSoup::dgCollisionConvexPolygon::convexSupport(const dgConvexCollision& convex,
                                                                           const dgMatrix& matrix,
                                                                           const dgVector& direction) {
    dgVector local(matrix.rotateVector(direction));
    local.w = 0.0f;
    return matrix.inverseTransformVector(convex.supportVertex(local));
}

bool dgCollisionPolygonalSoup::dgCollisionConvexPolygon::closestPointToPoint(const dgVector& p, float radius,
                                                                             dgVector& out) {
    // A face out of reach writes nothing: the normal stays that of the last
    // face the contact code accepted.
    const dgVector kept(m_normal);
    if (!loadFace()) {
        return false;
    }
    if (!dgClosestPointOnPolygon(p, &m_localPoly[0].x, int32_t(sizeof(dgVector)), kStorageIndices.m_index,
                                 m_storedCount, radius, out)) {
        m_normal = kept;
        return false;
    }
    return true;
}

int32_t dgCollisionPolygonalSoup::dgCollisionConvexPolygon::quickTest(const dgConvexCollision& convex,
                                                                      const dgMatrix& matrix) {
    if (!loadFace()) {
        return 0;
    }
    const dgVector support(convexSupport(convex, matrix, m_normal));
    const float reach = m_normal % (support - m_localPoly[0]);
    // Also refuses a face or a placement that is not a number.
    return (reach >= 0.0f) ? 1 : 0;
}

int32_t dgCollisionPolygonalSoup::dgCollisionConvexPolygon::quickTestSlab(const dgConvexCollision& convex,
                                                                          const dgMatrix& matrix,
                                                                          const dgVector& sweep) {
    if (!loadFace()) {
        return 0;
    }
    const dgVector n(m_normal);
    m_normal = n.scale(-1.0f);
    const float highest = n % (convexSupport(convex, matrix, n) - m_localPoly[0]);
    float lowest = n % (convexSupport(convex, matrix, m_normal) - m_localPoly[0]);
    // Towards the front the sweep lowers the convex's nearest value; the
    // other way it adds nothing.
    const float approach = n % sweep;
    if (approach < 0.0f) {
        lowest += approach;
    }
    return (((highest + kSlabHalfWidth) * (lowest - kSlabHalfWidth)) < 0.0f) ? 1 : 0;
}

int32_t dgCollisionPolygonalSoup::dgCollisionConvexPolygon::filterContacts(int32_t count,
                                                                           dgContactPoint* contacts,
                                                                           const dgMatrix& matrix,
                                                                           uint8_t* flags) const {
    const dgVector normal(matrix.rotateVector(m_normal));
    int32_t i = 0;
    while (i < count) {
        const float c = normal % contacts[i].normal;
        flags[i] = (c >= kFaceNormalCosine) ? 0 : 1;
        if (!(c >= kAwayFromFaceCosine)) {
            contacts[i] = contacts[count - 1];
            count--;
            continue;
        }
        i++;
    }
    return count;
}

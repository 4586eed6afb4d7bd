#include "dgCollisionCache.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "dgAssert.h"
#include "dgCollision.h"
#include "dgCollisionBox.h"
#include "dgCollisionCapsule.h"
#include "dgCollisionChamferCylinder.h"
#include "dgCollisionCone.h"
#include "dgCollisionConvexHull.h"
#include "dgCollisionCylinder.h"
#include "dgCollisionEllipse.h"
#include "dgCollisionNull.h"
#include "dgCollisionSphere.h"
#include "dgDynamicsServices.h"
#include "dgMemory.h"

namespace {

// A size compared below zero is negated; -0.0 passes unchanged (it quantises
// to the same word as +0.0). Non-finite sizes are refused before this.
float dgAbsSize(float value) {
    return (value < 0.0f) ? -value : value;
}

bool dgAllFinite(const float* values, int32_t count) {
    for (int32_t i = 0; i < count; i++) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

bool dgFiniteMatrix(const dgMatrix& matrix) {
    return dgAllFinite(&matrix[0][0], int32_t(sizeof(dgMatrix) / sizeof(float)));
}

// Two sizes are one for the cache when value x 1024 truncates toward zero to
// the same integer: the key's quantisation without its 32-bit wrap (in
// double, where value x 1024 is exact for every finite float).
bool dgSameQuantum(float a, float b) {
    return std::trunc(double(a) * 1024.0) == std::trunc(double(b) * 1024.0);
}

// True when cached is a convex hull built exactly as candidate: the same
// placement and bit-identical vertices. A hull keeps only its vertices, not
// the points it was built from, and equal points build equal hulls, so this
// tells a request apart from a cached hull whose key it merely shares.
bool dgSameHull(const dgCollision* cached, const dgCollisionConvexHull* candidate) {
    if (cached->getClassId() != dgCollisionConvexHull::kClassId) {
        return false;
    }
    const dgCollisionConvexHull* hull = static_cast<const dgCollisionConvexHull*>(cached);
    return (hull->getVertexCount() == candidate->getVertexCount()) &&
           (hull->getEdgeCount() == candidate->getEdgeCount()) &&
           (std::memcmp(&hull->getOffsetMatrix(), &candidate->getOffsetMatrix(), sizeof(dgMatrix)) == 0) &&
           ((hull->getVertexCount() == 0) ||
            (std::memcmp(hull->getVertices(), candidate->getVertices(),
                         size_t(hull->getVertexCount()) * sizeof(dgVector)) == 0));
}

// The key sizes a cached primitive was built from, in key order, written to
// sizes (room for 3); returns their count, or -1 for a shape the primitive
// factory does not build. The exact class is asked for: a shape derived from
// a primitive (the world's point shape, a tire) is not that primitive.
int32_t dgCachedShapeSizes(const dgCollision* shape, float* sizes) {
    switch (shape->getClassId()) {
        case dgCollisionNull::kClassId:
            return 0;
        case dgCollisionBox::kClassId: {
            const dgVector& half = static_cast<const dgCollisionBox*>(shape)->getHalfExtents();
            sizes[0] = half.x;
            sizes[1] = half.y;
            sizes[2] = half.z;
            return 3;
        }
        case dgCollisionSphere::kClassId:
            sizes[0] = static_cast<const dgCollisionSphere*>(shape)->getRadius();
            return 1;
        case dgCollisionEllipse::kClassId: {
            const dgVector radii(static_cast<const dgCollisionEllipse*>(shape)->getRadii());
            sizes[0] = radii.x;
            sizes[1] = radii.y;
            sizes[2] = radii.z;
            return 3;
        }
        case dgCollisionCone::kClassId: {
            const dgCollisionCone* cone = static_cast<const dgCollisionCone*>(shape);
            sizes[0] = cone->getRadius();
            sizes[1] = cone->getHalfHeight();
            return 2;
        }
        case dgCollisionCapsule::kClassId: {
            const dgCollisionCapsule* capsule = static_cast<const dgCollisionCapsule*>(shape);
            sizes[0] = capsule->getRadius();
            sizes[1] = capsule->getGivenHalfHeight();
            return 2;
        }
        case dgCollisionCylinder::kClassId: {
            const dgCollisionCylinder* cylinder = static_cast<const dgCollisionCylinder*>(shape);
            sizes[0] = cylinder->getRadius();
            sizes[1] = cylinder->getHalfHeight();
            return 2;
        }
        case dgCollisionChamferCylinder::kClassId: {
            const dgCollisionChamferCylinder* chamfer = static_cast<const dgCollisionChamferCylinder*>(shape);
            sizes[0] = chamfer->getGivenRadius();
            sizes[1] = chamfer->getHalfHeight();
            return 2;
        }
        default:
            return -1;
    }
}

// What a primitive factory call asks for: the class, the key sizes in key
// order (absolute values) and the offset matrix.
struct dgPrimitiveRequest {
    uint32_t classId;
    int32_t sizeCount;
    float sizes[3];
    const dgMatrix* offsetMatrix;

    // True when the cached shape is exactly what is asked for: same class,
    // sizes equal to the key's 1/1024, bit-identical offset matrix. Equal
    // signatures alone do not say so: the key is a 32-bit hash of sizes that
    // wrap at 2^22.
    bool matches(const dgCollision* shape) const {
        if (shape->getClassId() != classId) {
            return false;
        }
        if (std::memcmp(&shape->getOffsetMatrix(), offsetMatrix, sizeof(dgMatrix)) != 0) {
            return false;
        }
        float own[3];
        if (dgCachedShapeSizes(shape, own) != sizeCount) {
            return false;
        }
        DG_ASSERT(sizeCount <= 3);
        for (int32_t i = 0; i < sizeCount; i++) {
            if (!dgSameQuantum(own[i], sizes[i])) {
                return false;
            }
        }
        return true;
    }
};

// The shape cached under the signature with one more reference when it is
// the one asked for (matches), or the one `build` makes (null when it cannot
// be allocated). A new shape enters the cache and gets a second reference
// for the caller, unless the signature is already taken by a different shape
// (the key collided): the cache keeps one shape per key, so the newcomer is
// handed out uncached with its one reference. It is still correct, only not
// shared, and the release leaves the entry alone because it finds an entry
// by the shape itself. Should the cache node fail to allocate, the new shape
// is likewise handed out uncached. Without a world there is no cache to
// share through, and nothing is built.
template <class Matches, class Build>
dgCollision* dgFindOrBuild(dgWorld* world, uint32_t signature, Matches matches, Build build) {
    if (!world) {
        return nullptr;
    }
    dgCollisionCache& cache = world->m_collisionCache;
    dgCollisionCache::Node* node = cache.find(signature);
    if (node) {
        dgCollision* cached = node->getPayload();
        DG_ASSERT(cached && (cached->getSignature() == signature));
        if (matches(cached)) {
            cached->addRef();
            return cached;
        }
    }
    dgCollision* shape = build();
    if (!shape) {
        return nullptr;
    }
    DG_ASSERT(shape->getSignature() == signature);
    if (!node && dgCollisionCacheInsert(&cache, signature, shape, nullptr)) {
        shape->addRef();
    }
    return shape;
}

// Factory path of every primitive: refuses non-finite sizes or placement,
// then keys the request and looks it up. keySizes are the key's sizes in key
// order, already made absolute by the caller (which hands the same absolute
// values to the constructor).
template <class Build>
dgCollision* dgCreatePrimitive(dgWorld* world, uint32_t typeId, uint32_t classId, const float* keySizes,
                               int32_t sizeCount, const dgMatrix& offsetMatrix, Build build) {
    DG_ASSERT((sizeCount >= 1) && (sizeCount <= 3));
    if (!dgAllFinite(keySizes, sizeCount) || !dgFiniteMatrix(offsetMatrix)) {
        return nullptr;
    }
    dgPrimitiveRequest request;
    request.classId = classId;
    request.sizeCount = sizeCount;
    for (int32_t i = 0; i < sizeCount; i++) {
        request.sizes[i] = keySizes[i];
    }
    request.offsetMatrix = &offsetMatrix;
    const uint32_t signature = dgShapeSignature(typeId, request.sizes, sizeCount, offsetMatrix);
    return dgFindOrBuild(
        world, signature, [&](const dgCollision* shape) { return request.matches(shape); },
        [&]() { return build(signature); });
}

// The cache node holding this very shape, or null. A signature alone is not
// enough: a shape built outside the factory (or one whose key collided) can
// share the key of a cached shape it has nothing to do with.
dgCollisionCache::Node* dgFindCachedShape(dgWorld* world, const dgCollision* shape) {
    dgCollisionCache::Node* node = world->m_collisionCache.find(shape->getSignature());
    return (node && (node->getPayload() == shape)) ? node : nullptr;
}

}  // namespace

dgCollisionCache::Node* dgCollisionCacheInsert(dgCollisionCache* cache, uint32_t key, dgCollision* shape,
                                               int32_t* existed) {
    DG_ASSERT(cache && shape);
    bool alreadyPresent = false;
    dgCollisionCache::Node* node = cache->insert(shape, key, alreadyPresent);
    if (existed) {
        *existed = alreadyPresent ? 1 : 0;
    }
    return node;
}

dgCollision* dgWorldCreateNull(dgWorld* world) {
    constexpr uint32_t key = dgCollisionNull::kClassId;
    return dgFindOrBuild(
        world, key, [](const dgCollision* shape) { return shape->getClassId() == dgCollisionNull::kClassId; },
        [&]() -> dgCollision* { return new dgCollisionNull(key); });
}

dgCollision* dgWorldCreateBox(dgWorld* world, float dx, float dy, float dz, const dgMatrix& offsetMatrix) {
    dx = dgAbsSize(dx);
    dy = dgAbsSize(dy);
    dz = dgAbsSize(dz);
    const float halfSizes[3] = {dx * 0.5f, dy * 0.5f, dz * 0.5f};
    return dgCreatePrimitive(world, dgShapeBox, dgCollisionBox::kClassId, halfSizes, 3, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionBox(signature, dx, dy, dz, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateSphere(dgWorld* world, float radius, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    return dgCreatePrimitive(world, dgShapeSphere, dgCollisionSphere::kClassId, &radius, 1, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionSphere(signature, radius, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateCone(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    return dgCreatePrimitive(world, dgShapeCone, dgCollisionCone::kClassId, key, 2, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionCone(signature, radius, height, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateEllipse(dgWorld* world, float rx, float ry, float rz,
                                  const dgMatrix& offsetMatrix) {
    rx = dgAbsSize(rx);
    ry = dgAbsSize(ry);
    rz = dgAbsSize(rz);
    const float key[3] = {rx, ry, rz};
    return dgCreatePrimitive(world, dgShapeEllipse, dgCollisionEllipse::kClassId, key, 3, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionEllipse(signature, rx, ry, rz, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateCapsule(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    return dgCreatePrimitive(world, dgShapeCapsule, dgCollisionCapsule::kClassId, key, 2, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionCapsule(signature, radius, height, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateCylinder(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    return dgCreatePrimitive(world, dgShapeCylinder, dgCollisionCylinder::kClassId, key, 2, offsetMatrix,
                             [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionCylinder(signature, radius, height, offsetMatrix);
                             });
}

dgCollision* dgWorldCreateChamferCylinder(dgWorld* world, float radius, float height,
                                          const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    return dgCreatePrimitive(world, dgShapeChamferCylinder, dgCollisionChamferCylinder::kClassId, key, 2,
                             offsetMatrix, [&](uint32_t signature) -> dgCollision* {
                                 return new dgCollisionChamferCylinder(signature, radius, height,
                                                                       offsetMatrix);
                             });
}

bool dgConvexHullSignature(int32_t count, const float* points, int32_t strideInBytes,
                           const dgMatrix& offsetMatrix, uint32_t* signature) {
    constexpr int32_t kMatrixWords = int32_t(sizeof(dgMatrix) / sizeof(uint32_t));
    // The record's byte length must fit the hash's 32-bit length.
    constexpr int32_t kMaxCount = (INT32_MAX / int32_t(sizeof(uint32_t)) - 1 - kMatrixWords) / 3;
    if ((count < 0) || (count > kMaxCount) || ((count > 0) && !points) || (strideInBytes < 0)) {
        return false;
    }
    const int32_t words = 3 * count + 1 + kMatrixWords;
    dgScratchArray<uint32_t> record(words);
    if (!record.getData()) {
        return false;
    }

    // The hull reads its points at the stride rounded down to whole floats;
    // the key must describe exactly the points the hull is built from.
    const ptrdiff_t stride = ptrdiff_t(strideInBytes & ~3);
    const char* bytes = reinterpret_cast<const char*>(points);
    int32_t word = 0;
    record[word++] = dgShapeConvexHull;
    for (int32_t i = 0; i < count; i++) {
        float p[3];
        std::memcpy(p, bytes + ptrdiff_t(i) * stride, sizeof(p));
        record[word++] = uint32_t(dgQuantize(p[0]));
        record[word++] = uint32_t(dgQuantize(p[1]));
        record[word++] = uint32_t(dgQuantize(p[2]));
    }
    std::memcpy(&record[word], &offsetMatrix, sizeof(dgMatrix));
    *signature = dgSignatureHash(record.getData(), words * int32_t(sizeof(uint32_t)));
    return true;
}

void dgWorldReleaseCollision(dgWorld* world, dgCollision* shape) {
    if (!shape) {
        return;
    }
    if ((shape->release() != 1) || !world) {
        return;
    }
    // One reference left: when it is the cache's, nobody else can ask for the
    // shape any more except through the factory, so it goes now. The entry
    // leaves the cache before the shape dies, so that the cache never holds
    // a dead shape, not even while destructors run.
    if (dgCollisionCache::Node* node = dgFindCachedShape(world, shape)) {
        world->m_collisionCache.remove(node);
        shape->release();
    }
}

void dgWorldRemoveCollisionFromCache(dgWorld* world, dgCollision* shape) {
    if (!world || !shape) {
        return;
    }
    if (dgCollisionCache::Node* node = dgFindCachedShape(world, shape)) {
        world->m_collisionCache.remove(node);
        shape->release();
    }
}

dgCollision* dgWorldCreateConvexHull(dgWorld* world, int32_t count, const float* points,
                                     int32_t strideInBytes, const dgMatrix& offsetMatrix) {
    uint32_t signature;
    if (!world || !dgConvexHullSignature(count, points, strideInBytes, offsetMatrix, &signature) ||
        !dgFiniteMatrix(offsetMatrix)) {
        return nullptr;
    }
    const ptrdiff_t stride = ptrdiff_t(strideInBytes & ~3);
    const char* bytes = reinterpret_cast<const char*>(points);
    for (int32_t i = 0; i < count; i++) {
        if (!dgAllFinite(reinterpret_cast<const float*>(bytes + ptrdiff_t(i) * stride), 3)) {
            return nullptr;
        }
    }
    // The request is built first and compared with what the cache holds
    // under its key (see dgSameHull); an equal cached hull is handed out and
    // the new one dropped.
    dgCollisionConvexHull* const built =
        new dgCollisionConvexHull(signature, count, strideInBytes, points, offsetMatrix);
    if (!built) {
        return nullptr;
    }
    // A construction cut short by memory is not the hull of these points:
    // neither handed out nor cached.
    if (built->isOutOfMemory()) {
        built->release();
        return nullptr;
    }
    dgCollision* const shape = dgFindOrBuild(
        world, signature, [&](const dgCollision* cached) { return dgSameHull(cached, built); },
        [&]() -> dgCollision* { return built; });
    if (shape != built) {
        built->release();
    }
    return shape;
}

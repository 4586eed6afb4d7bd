#include "dgCollisionCache.h"

#include <cstddef>
#include <cstring>

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

// A size compared below zero is negated; -0.0 and NaN pass unchanged (both
// quantise to the same word as their positive twins anyway).
float dgAbsSize(float value) {
    return (value < 0.0f) ? -value : value;
}

// The shape cached under the signature with one more reference, or the one
// `build` makes (null when it cannot be allocated), entered in the cache and
// given a second reference for the caller. Should the cache node itself fail
// to allocate, the new shape is handed out uncached with its one reference:
// still correct, only not shared.
template <class Build>
dgCollision* dgFindOrBuild(dgWorld* world, uint32_t signature, Build build) {
    dgCollisionCache& cache = world->m_collisionCache;
    if (dgCollisionCache::Node* node = cache.find(signature)) {
        dgCollision* shape = node->getPayload();
        shape->addRef();
        return shape;
    }
    dgCollision* shape = build();
    if (!shape) return nullptr;
    if (dgCollisionCacheInsert(&cache, signature, shape, nullptr)) {
        shape->addRef();
    }
    return shape;
}

// The cache node holding this very shape, or null. A signature alone is not
// enough: a shape built outside the factory (or a hash collision) can share
// the key of a cached shape it has nothing to do with.
dgCollisionCache::Node* dgFindCachedShape(dgWorld* world, const dgCollision* shape) {
    dgCollisionCache::Node* node = world->m_collisionCache.find(shape->getSignature());
    return (node && node->getPayload() == shape) ? node : nullptr;
}

}  // namespace

dgCollisionCache::Node* dgCollisionCacheInsert(dgCollisionCache* cache, uint32_t key, dgCollision* shape,
                                               int32_t* existed) {
    bool alreadyPresent = false;
    dgCollisionCache::Node* node = cache->insert(shape, key, alreadyPresent);
    if (existed) *existed = alreadyPresent ? 1 : 0;
    return node;
}

dgCollision* dgWorldCreateNull(dgWorld* world) {
    constexpr uint32_t key = dgCollisionNull::kClassId;
    return dgFindOrBuild(world, key, [&]() -> dgCollision* { return new dgCollisionNull(key); });
}

dgCollision* dgWorldCreateBox(dgWorld* world, float dx, float dy, float dz, const dgMatrix& offsetMatrix) {
    dx = dgAbsSize(dx);
    dy = dgAbsSize(dy);
    dz = dgAbsSize(dz);
    const float halfSizes[3] = {dx * 0.5f, dy * 0.5f, dz * 0.5f};
    const uint32_t signature = dgShapeSignature(dgShapeBox, halfSizes, 3, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionBox(signature, dx, dy, dz, offsetMatrix);
    });
}

dgCollision* dgWorldCreateSphere(dgWorld* world, float radius, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    const uint32_t signature = dgShapeSignature(dgShapeSphere, &radius, 1, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionSphere(signature, radius, offsetMatrix);
    });
}

dgCollision* dgWorldCreateCone(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    const uint32_t signature = dgShapeSignature(dgShapeCone, key, 2, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionCone(signature, radius, height, offsetMatrix);
    });
}

dgCollision* dgWorldCreateEllipse(dgWorld* world, float rx, float ry, float rz,
                                  const dgMatrix& offsetMatrix) {
    rx = dgAbsSize(rx);
    ry = dgAbsSize(ry);
    rz = dgAbsSize(rz);
    const float key[3] = {rx, ry, rz};
    const uint32_t signature = dgShapeSignature(dgShapeEllipse, key, 3, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionEllipse(signature, rx, ry, rz, offsetMatrix);
    });
}

dgCollision* dgWorldCreateCapsule(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    const uint32_t signature = dgShapeSignature(dgShapeCapsule, key, 2, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionCapsule(signature, radius, height, offsetMatrix);
    });
}

dgCollision* dgWorldCreateCylinder(dgWorld* world, float radius, float height, const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    const uint32_t signature = dgShapeSignature(dgShapeCylinder, key, 2, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionCylinder(signature, radius, height, offsetMatrix);
    });
}

dgCollision* dgWorldCreateChamferCylinder(dgWorld* world, float radius, float height,
                                          const dgMatrix& offsetMatrix) {
    radius = dgAbsSize(radius);
    height = dgAbsSize(height);
    const float key[2] = {radius, height * 0.5f};
    const uint32_t signature = dgShapeSignature(dgShapeChamferCylinder, key, 2, offsetMatrix);
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionChamferCylinder(signature, radius, height, offsetMatrix);
    });
}

bool dgConvexHullSignature(int32_t count, const float* points, int32_t strideInBytes,
                           const dgMatrix& offsetMatrix, uint32_t* signature) {
    constexpr int32_t kMatrixWords = int32_t(sizeof(dgMatrix) / sizeof(uint32_t));
    // The record's byte length must fit the hash's 32-bit length.
    constexpr int32_t kMaxCount = (INT32_MAX / int32_t(sizeof(uint32_t)) - 1 - kMatrixWords) / 3;
    if (count < 0 || count > kMaxCount || (count > 0 && !points) || strideInBytes < 0) return false;
    const int32_t words = 3 * count + 1 + kMatrixWords;
    dgScratchArray<uint32_t> record(words);
    if (!record.getData()) return false;

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
    if (!shape) return;
    if (shape->release() != 1 || !world) return;
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
    if (!world || !shape) return;
    if (dgCollisionCache::Node* node = dgFindCachedShape(world, shape)) {
        world->m_collisionCache.remove(node);
        shape->release();
    }
}

dgCollision* dgWorldCreateConvexHull(dgWorld* world, int32_t count, const float* points,
                                     int32_t strideInBytes, const dgMatrix& offsetMatrix) {
    uint32_t signature;
    if (!dgConvexHullSignature(count, points, strideInBytes, offsetMatrix, &signature)) return nullptr;
    return dgFindOrBuild(world, signature, [&]() -> dgCollision* {
        return new dgCollisionConvexHull(signature, count, strideInBytes, points, offsetMatrix);
    });
}

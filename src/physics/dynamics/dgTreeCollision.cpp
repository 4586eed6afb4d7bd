#include "dgTreeCollision.h"

#include <cmath>

#include "dgAssert.h"
#include "dgIntersections.h"
#include "dgPolygonSoupBuilder.h"

namespace {

// The nearest hit of a ray over the faces the soup offers.
struct dgTreeRayHit {
    dgVector p0;
    dgVector p1;
    float t;
    dgVector normal;
    int32_t attribute;
};

int32_t dgTreeRayFace(void* context, const float* vertices, int32_t strideInBytes, const int32_t* indices,
                      int32_t vertexCount) {
    dgTreeRayHit& hit = *static_cast<dgTreeRayHit*>(context);
    float t = 0.0f;
    dgVector normal(0.0f, 0.0f, 0.0f, 0.0f);
    if (dgRayFaceTest(hit.p0, hit.p1, vertices, strideInBytes, indices, vertexCount, t, normal) &&
        (t < hit.t)) {
        hit.t = t;
        hit.normal = normal;
        hit.attribute = indices[-1];
    }
    return 1;
}

int32_t dgTreeWalkFace(void* context, const float* vertices, int32_t strideInBytes, const int32_t* indices,
                       int32_t vertexCount) {
    return dgCollideDescWalkFace(*static_cast<dgPolygonSoupCollideDesc*>(context), vertices, strideInBytes,
                                 indices, vertexCount, 0);
}

}  // namespace

dgTreeCollision* dgTreeCollisionObject(const dgCollision* shape) {
    if (!shape || !shape->isClass(dgCollisionPolygonalSoup::kClassId)) {
        return nullptr;
    }
    const dgCollisionPolygonalSoup* soup = static_cast<const dgCollisionPolygonalSoup*>(shape);
    const dgPolygonSoupCollideCallback collide = soup->getCollideCallback();
    if ((collide != dgTreeCollisionCollide) && (collide != dgTreeCollisionPolygonWalk)) {
        return nullptr;
    }
    return static_cast<dgTreeCollision*>(soup->getUserData());
}

dgTreeCollision::dgTreeCollision(dgWorld* world, dgTreeCollisionCallback callback)
    : m_world(world), m_builder(nullptr), m_callback(callback) {}

dgTreeCollision::~dgTreeCollision() {
    delete m_builder;
}

dgCollision* dgWorldCreatePolygonSoupCollision(void* userData, dgPolygonSoupCollideCallback collide,
                                               dgPolygonSoupRayCastCallback rayCast,
                                               dgPolygonSoupDestroyCallback destroy) {
    return new dgCollisionPolygonalSoup(userData, collide, rayCast, destroy);
}

void dgTreeCollisionCollide(dgPolygonSoupCollideDesc* desc) {
    DG_ASSERT(desc && desc->m_userData);
    dgCollideDescReset(*desc);
    const dgTreeCollision* tree = static_cast<const dgTreeCollision*>(desc->m_userData);
    tree->getFacesInAABB(dgDescVector(desc->m_boxMin), dgDescVector(desc->m_boxMax),
                         dgTreeCollisionGatherFace, desc);
}

int32_t dgTreeCollisionGatherFace(void* context, const float* vertices, int32_t strideInBytes,
                                  const int32_t* indices, int32_t vertexCount) {
    dgPolygonSoupCollideDesc* desc = static_cast<dgPolygonSoupCollideDesc*>(context);
    if ((desc->m_faceCount >= dgPolygonSoupCollideDesc::kMaxFaces) ||
        ((int64_t(desc->m_indexCount) + vertexCount) >= dgPolygonSoupCollideDesc::kMaxIndices)) {
        return 0;
    }
    const dgTreeCollision* tree = static_cast<const dgTreeCollision*>(desc->m_userData);
    if (tree->m_callback) {
        tree->m_callback(desc->m_soupBody, desc->m_otherBody, vertices, strideInBytes, vertexCount, indices);
    }
    return dgCollideDescAddFace(*desc, vertices, strideInBytes, indices, vertexCount, indices[-1]);
}

float dgTreeCollisionRayCast(dgPolygonSoupRayDesc* desc) {
    DG_ASSERT(desc && desc->m_userData);
    const dgTreeCollision* tree = static_cast<const dgTreeCollision*>(desc->m_userData);
    dgTreeRayHit hit;
    hit.p0 = dgDescVector(desc->m_p0);
    hit.p1 = dgDescVector(desc->m_p1);
    hit.t = 2.0f;
    hit.normal = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
    hit.attribute = 0;
    tree->getFacesOnRay(hit.p0, hit.p1, dgTreeRayFace, &hit);
    if (hit.t <= 1.0f) {
        const float scale = 1.0f / std::sqrt((hit.normal % hit.normal) + 1.0e-8f);
        dgSetDescVector(desc->m_normal,
                        dgVector(hit.normal.x * scale, hit.normal.y * scale, hit.normal.z * scale, 0.0f));
        desc->m_attribute = hit.attribute;
    }
    return hit.t;
}

void dgTreeCollisionDestroy(void* tree) {
    DG_ASSERT(tree);
    static_cast<dgTreeCollision*>(tree)->release();
}

void dgTreeCollisionPolygonWalk(dgPolygonSoupCollideDesc* desc) {
    DG_ASSERT(desc && desc->m_userData);
    const dgTreeCollision* tree = static_cast<const dgTreeCollision*>(desc->m_userData);
    dgVector boxMin(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector boxMax(0.0f, 0.0f, 0.0f, 0.0f);
    tree->getAABB(boxMin, boxMax);
    tree->getFacesInAABB(boxMin, boxMax, dgTreeWalkFace, desc);
}

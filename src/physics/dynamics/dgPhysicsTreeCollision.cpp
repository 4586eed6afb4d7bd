// The flat interface's tree collision: a static polygon mesh built face by
// face, saved and loaded, and the attribute words of its faces. The tree
// object and the callbacks of the shape that wraps it are dgTreeCollision's.
#include <cmath>
#include <cstdint>

#include "dgBuildBspPolygonSoup.h"
#include "dgMemory.h"
#include "dgPhysics.h"
#include "dgPolygonSoupBuilder.h"
#include "dgTreeCollision.h"

namespace {

// Faces of up to this many vertices are indexed from a local list.
constexpr int32_t kLocalFaceIndices = 64;

bool dgFiniteFace(int32_t vertexCount, const float* vertices, int32_t strideInBytes) {
    const char* bytes = reinterpret_cast<const char*>(vertices);
    for (int32_t i = 0; i < vertexCount; i++) {
        const float* v = reinterpret_cast<const float*>(bytes + ptrdiff_t(i) * strideInBytes);
        if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) {
            return false;
        }
    }
    return true;
}

// The attribute word of the face whose index list starts at faceIndices, or
// null when that word or the list's first entry is not inside the tree's
// index array: the accessors write through it, so a pointer from anywhere
// else would reach memory the tree does not own.
int32_t* dgFaceAttributeWord(const dgCollision* shape, const int32_t* faceIndices) {
    dgTreeCollision* tree = dgTreeCollisionObject(shape);
    if (!tree || !faceIndices) {
        return nullptr;
    }
    const int32_t* array = tree->getIndexArray();
    const int32_t count = tree->getIndexCount();
    if (!array || (count < 2)) {
        return nullptr;
    }
    // Addresses compared as integers: the pointer may belong to another
    // object entirely.
    const uintptr_t first = reinterpret_cast<uintptr_t>(array);
    const uintptr_t at = reinterpret_cast<uintptr_t>(faceIndices);
    const uintptr_t end = first + uintptr_t(count) * sizeof(int32_t);
    if ((at < first + sizeof(int32_t)) || (at >= end) || (((at - first) % sizeof(int32_t)) != 0)) {
        return nullptr;
    }
    return const_cast<int32_t*>(array) + ((at - first) / sizeof(int32_t)) - 1;
}

}  // namespace

dgCollision* dgCreateTreeCollision(dgWorld* world, dgTreeCollisionCallback callback) {
    if (!world) {
        return nullptr;
    }
    dgTreeCollision* tree = new dgTreeCollision(world, callback);
    if (!tree) {
        return nullptr;
    }
    dgCollision* shape = dgWorldCreatePolygonSoupCollision(tree, dgTreeCollisionCollide,
                                                           dgTreeCollisionRayCast, dgTreeCollisionDestroy);
    if (!shape) {
        tree->release();
    }
    return shape;
}

void dgTreeCollisionBeginBuild(dgCollision* shape) {
    dgTreeCollision* tree = dgTreeCollisionObject(shape);
    if (!tree) {
        return;
    }
    delete tree->m_builder;
    tree->m_builder = new dgPolygonSoupBuilder();
    if (tree->m_builder) {
        tree->m_builder->begin();
    }
}

void dgTreeCollisionAddFace(dgCollision* shape, int32_t vertexCount, const float* vertices,
                            int32_t strideInBytes, int32_t faceAttribute) {
    dgTreeCollision* tree = dgTreeCollisionObject(shape);
    if (!tree || !tree->m_builder || !vertices || (vertexCount < 3) ||
        (strideInBytes < int32_t(3 * sizeof(float))) || (strideInBytes % int32_t(sizeof(float)))) {
        return;
    }
    if (!dgFiniteFace(vertexCount, vertices, strideInBytes)) {
        return;
    }
    int32_t local[kLocalFaceIndices];
    dgScratchArray<int32_t> large(vertexCount > kLocalFaceIndices ? vertexCount : 0);
    int32_t* const indices = (vertexCount > kLocalFaceIndices) ? large.getData() : local;
    if (!indices) {
        return;
    }
    for (int32_t i = 0; i < vertexCount; i++) {
        indices[i] = i;
    }
    tree->m_builder->addMesh(vertices, vertexCount, strideInBytes, 1, &vertexCount, indices, &faceAttribute,
                             dgGetIdentityMatrix());
}

void dgTreeCollisionEndBuild(dgCollision* shape, int32_t optimise) {
    dgTreeCollision* tree = dgTreeCollisionObject(shape);
    if (!tree || !tree->m_builder) {
        return;
    }
    dgPolygonSoupBuilder* builder = tree->m_builder;
    builder->end(optimise != 0);
    builder->duplicateSingleFace();
    // A second build replaces the soup of the first.
    tree->clear();
    dgBuildBspPolygonSoup(tree, *builder);
    dgVector boxMin(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector boxMax(0.0f, 0.0f, 0.0f, 0.0f);
    tree->getAABB(boxMin, boxMax);
    shape->setCollisionBBox(boxMin, boxMax);
    delete builder;
    tree->m_builder = nullptr;
}

void dgTreeCollisionSerialize(const dgCollision* tree, dgSerializeCallback write, void* userData) {
    const dgTreeCollision* object = dgTreeCollisionObject(tree);
    if (!object || !write) {
        return;
    }
    object->serialize(write, userData);
}

dgCollision* dgCreateTreeCollisionFromSerialization(dgWorld* world, dgTreeCollisionCallback callback,
                                                    dgDeserializeCallback read, void* userData) {
    if (!world || !read) {
        return nullptr;
    }
    dgCollision* shape = dgCreateTreeCollision(world, callback);
    dgTreeCollision* object = dgTreeCollisionObject(shape);
    if (!object) {
        dgReleaseCollision(world, shape);
        return nullptr;
    }
    // A refused stream leaves the soup cleared; the shape's release takes the
    // tree object with it.
    if (!object->deserialize(read, userData)) {
        dgReleaseCollision(world, shape);
        return nullptr;
    }
    dgVector boxMin(0.0f, 0.0f, 0.0f, 0.0f);
    dgVector boxMax(0.0f, 0.0f, 0.0f, 0.0f);
    object->getAABB(boxMin, boxMax);
    shape->setCollisionBBox(boxMin, boxMax);
    return shape;
}

int32_t dgTreeCollisionGetFaceAttribute(const dgCollision* tree, const int32_t* faceIndices) {
    const int32_t* word = dgFaceAttributeWord(tree, faceIndices);
    return word ? *word : 0;
}

void dgTreeCollisionSetFaceAttribute(dgCollision* tree, const int32_t* faceIndices, int32_t attribute) {
    int32_t* word = dgFaceAttributeWord(tree, faceIndices);
    if (word) {
        *word = attribute;
    }
}

// Test soups of two triangles a cell, and a convex shape placed against
// them: gridSoup builds one over n x n cells, vertex(i, j, xyz) placing the
// grid's vertices (the vehicle rig's grounds, the flat-floor and the
// pressed-face checks'); lowestPoint and soupContacts place a shape by the
// point the contacts find deepest and collide it with a soup (both checks).
#pragma once

#include <cstdint>

#include "ShapeTestUtils.h"
#include "dgConvexSoupContacts.h"
#include "dgPhysics.h"

namespace gridsoup {

// The caller releases the soup; optimise as dgTreeCollisionEndBuild takes it,
// every face given the attribute.
template <class Vertex>
dgCollision* gridSoup(dgWorld* world, int32_t n, Vertex&& vertex, int32_t optimise, int32_t attribute = 0) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            float a[9], b[9];
            vertex(i, j, a);
            vertex(i, j + 1, a + 3);
            vertex(i + 1, j + 1, a + 6);
            vertex(i, j, b);
            vertex(i + 1, j + 1, b + 3);
            vertex(i + 1, j, b + 6);
            dgTreeCollisionAddFace(tree, 3, a, 12, attribute);
            dgTreeCollisionAddFace(tree, 3, b, 12, attribute);
        }
    }
    dgTreeCollisionEndBuild(tree, optimise);
    return tree;
}

// The point of the shape placed at pose that lies deepest along -n (unit,
// world frame): its support, the lowest point as the contacts see it.
inline dgVector lowestPoint(const dgConvexCollision& shape, const dgMatrix& pose, const dgVector& n) {
    const dgMatrix placed(shape.getOffsetMatrix().multiply(pose));
    dgVector down(placed.inverseRotateVector(n.scale(-1.0f)));
    down.w = 0.0f;
    return placed.transformVector(shape.supportVertex(down));
}

// The contacts of the shape at pose against the soup at the identity, at
// most dgMaxSoupContacts of them.
inline int32_t soupContacts(dgWorld* world, dgConvexCollision* shape, const dgMatrix& pose, dgCollision* soup,
                            dgContactPoint* contacts) {
    dgBody convex = shapetest::bodyOf(shape, pose), soupBody = shapetest::bodyOf(soup, dgGetIdentityMatrix());
    float timeStep = 0.0f;
    return dgConvexSoupContacts(world, timeStep, &convex, &soupBody, contacts, dgMaxSoupContacts);
}

}  // namespace gridsoup

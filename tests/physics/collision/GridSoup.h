// A soup of two triangles a cell over n x n cells, built through the public
// header: vertex(i, j, xyz) places the grid's vertices. Shared by the
// collision tests and the vehicle rig.
#pragma once

#include <cstdint>

#include "dgPhysics.h"

namespace gridsoup {

// The caller releases the soup; optimise as dgTreeCollisionEndBuild takes it.
template <class Vertex>
dgCollision* gridSoup(dgWorld* world, int32_t n, Vertex&& vertex, int32_t optimise) {
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
            dgTreeCollisionAddFace(tree, 3, a, 12, 0);
            dgTreeCollisionAddFace(tree, 3, b, 12, 0);
        }
    }
    dgTreeCollisionEndBuild(tree, optimise);
    return tree;
}

}  // namespace gridsoup

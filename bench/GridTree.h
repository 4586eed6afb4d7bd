// A grid of square cells added to a tree collision in its build, two
// triangles a cell as the game adds its sea floor. Only the public header.
#pragma once

#include <cstdint>

#include "dgPhysics.h"

// Adds a grid of cells x cells square cells of side `spacing` from (ox, oz)
// to a tree in its build: two triangles a cell, walkable side up, split
// along (i + 1, j)-(i, j + 1); vertexY(i, j) the heights over oy.
template <class VertexY>
void addGridFaces(dgCollision* tree, int32_t cells, float spacing, float ox, float oy, float oz,
                  const VertexY& vertexY) {
    auto vertex = [&](int32_t i, int32_t j, float* out) {
        out[0] = ox + spacing * float(i);
        out[1] = oy + vertexY(i, j);
        out[2] = oz + spacing * float(j);
    };
    for (int32_t j = 0; j < cells; j++) {
        for (int32_t i = 0; i < cells; i++) {
            float face[9];
            vertex(i, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 12, 1);
            vertex(i + 1, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j + 1, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 12, 1);
        }
    }
}

// Double-precision geometry and pointer-walk helpers shared by the half-edge
// mesh tests. They read the mesh through its links only, never through its
// own queries, so they stay independent of the code under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "dgEdgeMesh.h"

namespace edgemeshtest {

using testsupport::cross;
using testsupport::D3;
using testsupport::dot;
using testsupport::sub;

// Vertex array of packed x, y, z floats (stride 12 bytes).
struct Cloud {
    Cloud() = default;
    Cloud(std::initializer_list<D3> points) {
        for (const D3& p : points) {
            add(p.x, p.y, p.z);
        }
    }
    std::vector<float> xyz;
    int32_t add(double x, double y, double z) {
        xyz.push_back(float(x));
        xyz.push_back(float(y));
        xyz.push_back(float(z));
        return count() - 1;
    }
    int32_t count() const { return int32_t(xyz.size() / 3); }
    D3 at(int32_t i) const { return {xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]}; }
    const float* data() const { return xyz.data(); }
};

typedef std::vector<const dgEdge*> Loop;

// Loops of the mesh with face id >= 0 (or all loops), found by pointer walks
// that leave the stamps alone.
inline std::vector<Loop> loops(const dgEdgeMesh& mesh, bool facesOnly) {
    std::set<const dgEdge*> seen;
    std::vector<Loop> result;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge* edge = &node->getPayload();
        if (seen.count(edge) || (facesOnly && edge->m_faceId < 0)) {
            continue;
        }
        Loop loop;
        const dgEdge* ptr = edge;
        do {
            seen.insert(ptr);
            loop.push_back(ptr);
            ptr = ptr->m_next;
        } while (ptr != edge);
        result.push_back(loop);
    }
    return result;
}

// Newell area vector of a loop: its length is twice the area.
inline D3 areaVector(const Loop& loop, const Cloud& cloud) {
    D3 n = {0, 0, 0};
    const D3 p0 = cloud.at(loop[0]->m_vertex);
    for (size_t i = 1; i + 1 < loop.size(); ++i) {
        const D3 c = cross(sub(cloud.at(loop[i]->m_vertex), p0), sub(cloud.at(loop[i + 1]->m_vertex), p0));
        n = {n.x + c.x, n.y + c.y, n.z + c.z};
    }
    return n;
}

// Volume enclosed by the faces (divergence theorem over fan triangles).
inline double enclosedVolume(const dgEdgeMesh& mesh, const Cloud& cloud) {
    double volume = 0.0;
    for (const Loop& loop : loops(mesh, true)) {
        const D3 a = cloud.at(loop[0]->m_vertex);
        for (size_t i = 1; i + 1 < loop.size(); ++i) {
            volume += dot(a, cross(cloud.at(loop[i]->m_vertex), cloud.at(loop[i + 1]->m_vertex))) / 6.0;
        }
    }
    return volume;
}

inline int32_t openHalfEdges(const dgEdgeMesh& mesh) {
    int32_t count = 0;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_faceId < 0) {
            ++count;
        }
    }
    return count;
}

inline std::set<int32_t> usedVertices(const dgEdgeMesh& mesh) {
    std::set<int32_t> used;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        used.insert(node->getPayload().m_vertex);
    }
    return used;
}

// n x n cells over [0, size]^2 at height z, offset by (ox, oy), two
// counter-clockwise triangles per cell (one quad when quads is set).
inline void addGrid(dgEdgeMesh& mesh, Cloud& cloud, int32_t n, double size, double ox = 0, double oy = 0,
                    double z = 0, bool quads = false) {
    const int32_t base = cloud.count();
    for (int32_t j = 0; j <= n; ++j) {
        for (int32_t i = 0; i <= n; ++i) {
            cloud.add(ox + size * i / n, oy + size * j / n, z);
        }
    }
    auto id = [&](int32_t i, int32_t j) { return base + j * (n + 1) + i; };
    for (int32_t j = 0; j < n; ++j) {
        for (int32_t i = 0; i < n; ++i) {
            const int32_t quad[4] = {id(i, j), id(i + 1, j), id(i + 1, j + 1), id(i, j + 1)};
            if (quads) {
                mesh.dgEdgeMeshAddFace(4, quad);
            } else {
                mesh.dgEdgeMeshAddTriangle(quad[0], quad[1], quad[2]);
                mesh.dgEdgeMeshAddTriangle(quad[0], quad[2], quad[3]);
            }
        }
    }
}

// What is wrong with the links (empty when nothing): twins, next and prev
// inverse, one face id per loop, no pair bordering no face, keys and tree
// nodes that match the half-edges, a count that matches the tree. Checked
// without the mesh's own check.
inline std::string structureFault(const dgEdgeMesh& mesh) {
    if (!mesh.getEdgeTree().sanityCheck()) {
        return "tree";
    }
    int32_t visited = 0;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext(), ++visited) {
        const dgEdge* e = &node->getPayload();
        const std::string at = " at " + std::to_string(e->m_vertex);
        if (!e->m_twin || !e->m_next || !e->m_prev) {
            return "null link" + at;
        }
        if (e->m_twin->m_twin != e || e->m_next->m_prev != e || e->m_prev->m_next != e) {
            return "links" + at;
        }
        if (e->m_next->m_faceId != e->m_faceId) {
            return "mixed face ids in a loop" + at;
        }
        if (e->m_faceId < 0 && e->m_twin->m_faceId < 0) {
            return "pair bordering no face" + at;
        }
        if (node->getKey() != dgEdgeMesh::dgEdgeMeshKey(e->m_vertex, e->m_twin->m_vertex) ||
            dgEdgeMesh::dgEdgeMeshNodeOf(e) != node) {
            return "key" + at;
        }
        if (e->m_next->m_vertex != e->m_twin->m_vertex) {
            return "destination" + at;
        }
    }
    return (visited == mesh.getEdgeCount()) ? std::string() : "count";
}

inline bool linksAgree(const dgEdgeMesh& mesh) {
    return structureFault(mesh).empty();
}

inline int32_t loopLength(const dgEdge* e) {
    int32_t n = 0;
    const dgEdge* x = e;
    do {
        ++n;
        x = x->m_next;
    } while (x != e);
    return n;
}

// Every loop with a positive id has an id no other loop has.
inline bool faceIdsUnique(const dgEdgeMesh& mesh) {
    std::set<int32_t> ids;
    for (const Loop& loop : loops(mesh, false)) {
        if (loop[0]->m_faceId > 0 && !ids.insert(loop[0]->m_faceId).second) {
            return false;
        }
    }
    return true;
}

// V - E + F over faces with id >= 0, a vertex counted once per fan around it.
inline int32_t euler(const dgEdgeMesh& mesh) {
    std::set<const dgEdge*> seen;
    int32_t fans = 0;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge* e = &node->getPayload();
        if (seen.insert(e).second) {
            ++fans;
            for (const dgEdge* x = e->m_twin->m_next; x != e; x = x->m_twin->m_next) {
                seen.insert(x);
            }
        }
    }
    return fans - mesh.getEdgeCount() / 2 + int32_t(loops(mesh, true).size());
}

// Cube [0, size]^3 shifted by offset, sides cut into k x k quads or
// triangles, outward. `sides` selects sides by bit (z0, z1, y0, y1, x0, x1).
// Vertices are shared within one call only, so two calls over
// complementary sides give two open halves with duplicated seams.
inline void addCube(dgEdgeMesh& mesh, Cloud& cloud, int32_t k, double size, bool triangles,
                    uint32_t sides = 63, D3 offset = {0, 0, 0}) {
    std::map<std::tuple<int, int, int>, int32_t> index;
    // Per side: origin corner and two in-plane steps whose cross product points out.
    const int all[6][3][3] = {{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
                              {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
                              {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    for (int side = 0; side < 6; ++side) {
        if (!(sides & (1u << side))) {
            continue;
        }
        const auto& s = all[side];
        auto at = [&](int i, int j) {
            int c[3];
            for (int d = 0; d < 3; ++d) {
                c[d] = s[0][d] * k + s[1][d] * i + s[2][d] * j;
            }
            const auto key = std::make_tuple(c[0], c[1], c[2]);
            auto it = index.find(key);
            if (it == index.end()) {
                it = index
                         .emplace(key, cloud.add(offset.x + size * c[0] / k, offset.y + size * c[1] / k,
                                                 offset.z + size * c[2] / k))
                         .first;
            }
            return it->second;
        };
        for (int j = 0; j < k; ++j) {
            for (int i = 0; i < k; ++i) {
                const int32_t q[4] = {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)};
                if (triangles) {
                    mesh.dgEdgeMeshAddTriangle(q[0], q[1], q[2]);
                    mesh.dgEdgeMeshAddTriangle(q[0], q[2], q[3]);
                } else {
                    mesh.dgEdgeMeshAddFace(4, q);
                }
            }
        }
    }
}

}  // namespace edgemeshtest

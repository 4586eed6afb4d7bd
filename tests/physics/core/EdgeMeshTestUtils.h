// Double-precision geometry and pointer-walk helpers shared by the half-edge
// mesh tests. They read the mesh through its links only, never through its
// own queries, so they stay independent of the code under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
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

// Links, twins and face ids that agree, and no edge with a hole on both
// sides: the structure checked without the mesh's own check.
inline bool linksAgree(const dgEdgeMesh& mesh) {
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge* e = &node->getPayload();
        if (!e->m_twin || !e->m_next || !e->m_prev) {
            return false;
        }
        if (e->m_twin->m_twin != e || e->m_next->m_prev != e || e->m_prev->m_next != e) {
            return false;
        }
        if (e->m_next->m_faceId != e->m_faceId) {
            return false;
        }
        if (e->m_faceId < 0 && e->m_twin->m_faceId < 0) {
            return false;
        }
        if (node->getKey() != dgEdgeMesh::dgEdgeMeshKey(e->m_vertex, e->m_twin->m_vertex)) {
            return false;
        }
        if (e->m_next->m_vertex != e->m_twin->m_vertex) {
            return false;
        }
    }
    return true;
}

}  // namespace edgemeshtest

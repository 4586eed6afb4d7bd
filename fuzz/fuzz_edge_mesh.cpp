// Fuzzes the half-edge mesh: builds a mesh from faces over a small vertex set,
// then runs a sequence of passes on it, checking the mesh's consistency after
// each one and sizing every output array exactly as documented, so that the
// sanitizers see any write past it.
//
// Input: byte 0: bits 0-3 + 3 = vertex count (3..18), bit 7 = 16-byte stride;
// byte 1: tolerance in 1/64 units; byte 2: face count (up to 31);
// 3 bytes per vertex (x, y, z as signed bytes in quarter units: coincident
// and coplanar points are common); per face a byte (count 3..8) and that many
// vertex indices (mod the vertex count); the remaining bytes are passes, one
// each (at most 16).
#include "dgEdgeMesh.h"
#include "dgEdgeMeshCensus.h"
#include "dgRefList.h"
#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool has(size_t count) const { return m_size - m_at >= count; }
    uint8_t next() { return m_at < m_size ? m_data[m_at++] : 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// Corners of the faces (half-edges with a face id of 1 or more).
int32_t faceCorners(const dgEdgeMesh& mesh) {
    int32_t corners = 0;
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_faceId > 0) {
            ++corners;
        }
    }
    return corners;
}

// True when some face has only two sides.
bool hasTwoSidedFace(const dgEdgeMesh& mesh) {
    for (const dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        const dgEdge* edge = &node->getPayload();
        if ((edge->m_faceId > 0) && (edge->m_next->m_next == edge)) {
            return true;
        }
    }
    return false;
}

// The mesh is consistent and every face has an area to bound: three sides at least.
void checkMesh(const dgEdgeMesh& mesh) {
    FUZZ_CHECK(mesh.dgEdgeMeshSanityCheck());
    FUZZ_CHECK(!hasTwoSidedFace(mesh));
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // FUZZ_TRACE=1 prints the faces and passes of an input, to read a reproducer.
    static const bool trace = getenv("FUZZ_TRACE") != nullptr;
    Reader in(data, size);
    if (!in.has(3)) {
        return 0;
    }
    const uint8_t shape = in.next();
    const int32_t vertexCount = 3 + (shape & 15);
    const int32_t strideFloats = (shape & 0x80) ? 4 : 3;
    const int32_t strideBytes = strideFloats * int32_t(sizeof(float));
    const float tolerance = float(in.next()) / 64.0f;
    const int32_t faceCount = in.next() & 31;
    if (!in.has(size_t(3 * vertexCount))) {
        return 0;
    }

    std::vector<float> vertices(size_t(vertexCount) * size_t(strideFloats), 0.0f);
    for (int32_t v = 0; v < vertexCount; ++v) {
        for (int32_t k = 0; k < 3; ++k) {
            vertices[size_t(v) * size_t(strideFloats) + size_t(k)] = float(int8_t(in.next())) * 0.25f;
        }
    }

    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    for (int32_t f = 0; f < faceCount; ++f) {
        if (!in.has(1)) {
            break;
        }
        const int32_t count = 3 + in.next() % 6;
        int32_t indices[8];
        for (int32_t i = 0; i < count; ++i) {
            indices[i] = in.next() % vertexCount;
        }
        const dgEdge* added = mesh.dgEdgeMeshAddFace(count, indices);
        if (trace) {
            fprintf(stderr, "face%s:", added ? "" : " (refused)");
            for (int32_t i = 0; i < count; ++i) {
                fprintf(stderr, " %d", indices[i]);
            }
            fprintf(stderr, "\n");
        }
    }
    mesh.dgEdgeMeshEndFace();
    checkMesh(mesh);

    for (int32_t pass = 0; (pass < 16) && in.has(1); ++pass) {
        const float* v = vertices.data();
        const int32_t op = in.next() % 10;
        if (trace) {
            fprintf(stderr, "pass %d on %d half-edges\n", op, mesh.getEdgeCount());
        }
        switch (op) {
            case 0: {
                const dgEdgeMesh copy(mesh);
                checkMesh(copy);
                break;
            }
            case 1: {
                dgEdgeMesh leftover;
                mesh.dgEdgeMeshTriangulate(v, strideBytes, &leftover);
                // The leftover faces are only added; closing them is the caller's part.
                leftover.dgEdgeMeshEndFace();
                checkMesh(leftover);
                break;
            }
            case 2:
                mesh.dgEdgeMeshStitch(v, strideBytes, tolerance);
                break;
            case 3: {
                // One record per vertex index in use, as the vertex count reports.
                const int32_t records = mesh.dgEdgeMeshVertexCount();
                std::vector<float> packed(size_t(records) * size_t(strideFloats));
                const int32_t packedCount = mesh.dgEdgeMeshPackVertices(packed.data(), v, strideBytes);
                if (packedCount > 0) {
                    FUZZ_CHECK(size_t(packedCount) * size_t(strideFloats) <= packed.size());
                    FUZZ_CHECK(mesh.dgEdgeMeshVertexCount() == packedCount);
                    vertices.swap(packed);
                }
                break;
            }
            case 4:
                mesh.dgEdgeMeshRemoveDegenerateFaces(v, strideBytes, tolerance);
                break;
            case 5:
                mesh.dgEdgeMeshOptimize(v, strideBytes, nullptr);
                break;
            case 6:
                mesh.dgEdgeMeshReverseFaces();
                break;
            case 7: {
                // Each call of a series hands out one region, so there are no
                // more calls than faces.
                const int32_t faces = mesh.dgEdgeMeshFaceCount();
                int32_t regions = 0;
                dgEdgeMesh region;
                while (mesh.dgEdgeMeshExtractRegion(region)) {
                    checkMesh(region);
                    FUZZ_CHECK(++regions <= faces);
                    region.dgEdgeMeshClear();
                }
                break;
            }
            case 8: {
                dgEdgeMeshCensus census(mesh);
                mesh.dgEdgeMeshRemoveSmallTriangles(census, v, strideBytes, tolerance);
                break;
            }
            default: {
                const int32_t corners = faceCorners(mesh);
                std::vector<int32_t> indices(static_cast<size_t>(corners));
                FUZZ_CHECK(mesh.dgEdgeMeshGetCacheOrderedIndices(indices.data(), corners) == corners);
                dgRefList<dgEdge*> faces;
                mesh.dgEdgeMeshGetNonTriangulableFaces(faces, v, strideBytes);
                break;
            }
        }
        checkMesh(mesh);
        FUZZ_CHECK(mesh.dgEdgeMeshVertexCount() <= int32_t(vertices.size()) / strideFloats);
    }
    mesh.dgEdgeMeshFaceCount();
    mesh.dgEdgeMeshOpenLoopCount();
    return 0;
}

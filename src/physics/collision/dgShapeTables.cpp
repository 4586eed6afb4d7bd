#include "dgShapeTables.h"

#include <cmath>

#include "dgEdgeMesh.h"

dgAngleStep::dgAngleStep(float radius) {
    m_step = dgCalcAngleStep(radius);
    m_invStep = 1.0f / m_step;
    m_cos = std::cos(m_step);
    m_sin = std::sin(m_step);
}

int32_t dgBuildShapeEdgeTable(int32_t faceCount, const int32_t* faceIndexCount, const int32_t* indices,
                              dgConvexEdge* table, int32_t capacity) {
    dgEdgeMesh mesh;
    mesh.dgEdgeMeshBeginFace();
    const int32_t* face = indices;
    for (int32_t i = 0; i < faceCount; i++) {
        if (!mesh.dgEdgeMeshAddFace(faceIndexCount[i], face)) {
            return 0;
        }
        face += faceIndexCount[i];
    }
    mesh.dgEdgeMeshEndFace();

    // Closing the mesh turns open edges into border loops (face id -1); a
    // table with such loops would make the support walk and the face walk
    // treat a hole as a face.
    for (dgEdgeMesh::dgEdgeNode* node = mesh.getFirst(); node; node = node->getNext()) {
        if (node->getPayload().m_faceId < 0) {
            return 0;
        }
    }
    return dgConvexCollision::fillEdgeTable(mesh, table, capacity);
}

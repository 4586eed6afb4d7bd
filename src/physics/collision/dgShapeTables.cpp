#include "dgShapeTables.h"

#include <cmath>

#include "dgEdgeMesh.h"
#include "dgMemory.h"

dgAngleStep::dgAngleStep(float radius) : m_table(nullptr), m_tableHalf(0) {
    m_step = dgCalcAngleStep(radius);
    m_invStep = 1.0f / m_step;
    m_cos = std::cos(m_step);
    m_sin = std::sin(m_step);
    // atan2 and asin stay within [-pi, pi]; two cells spare cover the
    // rounding of the angle times the inverse step.
    const int32_t half = int32_t(std::ceil(3.14159265f * m_invStep)) + 2;
    m_table = static_cast<float*>(dgMalloc(size_t(2 * (2 * half + 1)) * sizeof(float)));
    if (!m_table) {
        return;
    }
    m_tableHalf = half;
    for (int32_t k = -half; k <= half; k++) {
        // The expression the snapped angle is made by: a whole float times
        // the step.
        const float angle = float(k) * m_step;
        m_table[2 * (k + half)] = std::sin(angle);
        m_table[2 * (k + half) + 1] = std::cos(angle);
    }
}

dgAngleStep::~dgAngleStep() {
    dgFree(m_table);
}

void dgAngleStep::gridCell(const dgVector& direction, float sinElevation, dgVector* corners) const {
    float sinA0;
    float cosA0;
    float sinB0;
    float cosB0;
    cellSinCos(snappedCell(std::atan2(direction.y, direction.z)), sinA0, cosA0);
    cellSinCos(snappedCell(std::asin(sinElevation)), sinB0, cosB0);
    const float sinA1 = sinA0 * m_cos + cosA0 * m_sin;
    const float cosA1 = cosA0 * m_cos - sinA0 * m_sin;
    const float sinB1 = sinB0 * m_cos + cosB0 * m_sin;
    const float cosB1 = cosB0 * m_cos - sinB0 * m_sin;
    corners[0] = dgVector(sinB0, cosB0 * sinA0, cosB0 * cosA0, 0.0f);
    corners[1] = dgVector(sinB1, cosB1 * sinA0, cosB1 * cosA0, 0.0f);
    corners[2] = dgVector(sinB0, cosB0 * sinA1, cosB0 * cosA1, 0.0f);
    corners[3] = dgVector(sinB1, cosB1 * sinA1, cosB1 * cosA1, 0.0f);
}

int32_t dgBuildRingEdgeTable(int32_t rings, int32_t ringPoints, bool reversed, dgConvexEdge* table,
                             int32_t capacity) {
    if (rings < 2 || ringPoints < 3) {
        return 0;
    }
    const int32_t faces = (rings - 1) * ringPoints + 2;
    dgScratchArray<int32_t> counts(faces);
    dgScratchArray<int32_t> indices(4 * (rings - 1) * ringPoints + 2 * ringPoints);
    if (!counts.getData() || !indices.getData()) {
        return 0;
    }
    const int32_t last = (rings - 1) * ringPoints;
    int32_t n = 0;
    int32_t f = 0;
    for (int32_t ring = 0; ring + 1 < rings; ring++) {
        for (int32_t k = 0; k < ringPoints; k++) {
            const int32_t c = ring * ringPoints + k;
            const int32_t p = ring * ringPoints + ((k == 0) ? ringPoints - 1 : k - 1);
            const int32_t quad[4] = {p, c, c + ringPoints, p + ringPoints};
            counts[f++] = 4;
            for (int32_t i = 0; i < 4; i++) {
                // Reversed, the quad starts at c: (c, p, p + ringPoints, c + ringPoints).
                indices[n++] = reversed ? quad[(5 - i) % 4] : quad[i];
            }
        }
    }
    counts[f++] = ringPoints;
    for (int32_t k = 0; k < ringPoints; k++) {
        indices[n++] = reversed ? k : ringPoints - 1 - k;
    }
    counts[f++] = ringPoints;
    for (int32_t k = 0; k < ringPoints; k++) {
        indices[n++] = reversed ? last + ringPoints - 1 - k : last + k;
    }
    return dgBuildShapeEdgeTable(faces, counts.getData(), indices.getData(), table, capacity);
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

// Counts of a half-edge mesh and one half-edge of each open loop, taken by
// the simplification and kept up to date by the repair passes that get one.
#pragma once

#include <cstdint>

#include "dgEdgeMesh.h"
#include "dgRefList.h"

struct dgEdgeMeshCensus {
    // Loops of any face id.
    int32_t loopCount;
    // Half-edges.
    int32_t edgeCount;
    // Vertex fans (a vertex whose half-edges form several fans counts once
    // per fan).
    int32_t fanCount;
    // Largest vertex index + 1.
    int32_t vertexCount;
    // One half-edge of each loop with a negative face id. The pointers are
    // valid until the mesh is edited.
    dgRefList<dgEdge*> openLoops;

    // Empty census: all counts 0.
    dgEdgeMeshCensus();
    // Census of mesh (see take).
    explicit dgEdgeMeshCensus(dgEdgeMesh& mesh);
    // Recounts mesh from scratch. Uses the stamps as flags: every stamp is
    // reset to a value below 8 and the mesh's stamp counter is left at 8 or
    // more, so later passes still get fresh stamps.
    void take(dgEdgeMesh& mesh);
};

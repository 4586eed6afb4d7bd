#include "dgWorld.h"

#include <cstring>
#include <new>

#include "dgAssert.h"
#include "dgBody.h"
#include "dgCollision.h"
#include "dgCollisionPoint.h"
#include "dgConstraintSolver.h"
#include "dgCpu.h"
#include "dgHash.h"
#include "dgMemory.h"
#include "dgMinkowskiSolver.h"

dgWorld::dgWorld()
    : m_linkPages(),
      m_broadPhase(),
      m_bodyTree(),
      m_activeBodyTree(),
      m_materialTree(),
      m_collisionCache(),
      m_bodyPages(),
      m_contactPages(),
      m_contactList(),
      m_staleContacts(),
      m_vehicleWorkList(),
      m_vehicleSet(),
      m_stepStamp(2),
      m_busy(0),
      m_solverIterationMode(0),
      m_solverOption(0),
      // The shape classes are identified by the hashes of their names; the
      // contact paths test shapes against these copies.
      m_boxClassId(dgHashConstText("dgCollisionBox")),
      m_nullClassId(dgHashConstText("dgCollisionNull")),
      m_coneClassId(dgHashConstText("dgCollisionCone")),
      m_sphereClassId(dgHashConstText("dgCollisionSphere")),
      m_convexClassId(dgHashConstText("dgConvexCollision")),
      m_ellipseClassId(dgHashConstText("dgCollisionEllipse")),
      m_capsuleClassId(dgHashConstText("dgCollisionCapsule")),
      m_cylinderClassId(dgHashConstText("dgCollisionCylinder")),
      m_convexHullClassId(dgHashConstText("dgCollisionConvexHull")),
      m_chamferCylinderClassId(dgHashConstText("dgCollisionChamferCylinder")),
      m_convexModifierClassId(dgHashConstText("dgCollisionConvexModifier")),
      m_compoundClassId(dgHashConstText("dgCompoundCollision")),
      m_polygonSoupClassId(dgHashConstText("dgCollisionPolygonalSoup")),
      m_materialGroupCount(0),
      m_jointCount(0),
      m_bodyCount(0),
      m_stepCounter(0),
      m_defaultMaterialGroup(0),
      m_bodySerial(0),
      m_jointSerial(0),
      m_timeStep(0.0f),
      m_invTimeStep(0.0f),
      m_defaultFreezeThresholds{0.01f, 0.01f, 0.001f, 0.001f},
      m_solverTolerance(0.25f),
      m_userData(nullptr),
      m_simdFlag(dgCpuHasSimd()),
      m_outOfBounds(nullptr),
      m_solverWorkspace(nullptr),
      m_solver(nullptr),
      m_pointCollision(nullptr) {
    m_defaultMaterialGroup = dgWorldCreateMaterialGroup(this);
    // The solver sizes the workspace for itself; until then it is the pair
    // exclusion's scratch and the start of the refresh stack.
    m_solverWorkspace = dgMalloc(kMinWorkspaceBodies * sizeof(dgBody*));
    m_solver = dgConstraintSolverCreate();
    dgBroadPhaseSetWorld(&m_broadPhase, this);

    // Before any collision query can run.
    dgInitSearchDirections();

    // Without memory for it the world simply has no point shape.
    m_pointCollision = new dgCollisionPoint(dgCollisionPoint::kPointSignature, 1.0f, dgGetIdentityMatrix());
}

dgWorld::~dgWorld() {
    if (m_pointCollision) {
        m_pointCollision->release();
        m_pointCollision = nullptr;
    }
    // The interface world destroyed every body before.
    DG_ASSERT(m_bodyTree.getCount() == 0);
    dgMaterialTableReset(this);
    dgFree(m_solverWorkspace);
    m_solverWorkspace = nullptr;
    dgConstraintSolverDestroy(m_solver);
    m_solver = nullptr;

    // Page lists in the reverse order of construction. The joints' links
    // go with their pages.
    m_staleContacts.removeAll();
    while (dgContactList::Node* node = m_contactList.getFirst()) {
        dgContact* contact = node->getValue();
        contact->release();
        contact->~dgContact();
        m_contactPages.give(contact);
    }
    m_vehicleWorkList.removeAll();
    m_vehicleSet.m_entries.removeAll();
    // The cache owns one reference of every shape it holds.
    for (dgCollisionCache::Node* node : m_collisionCache) {
        node->getPayload()->release();
    }
    m_collisionCache.removeAll();
    m_materialTree.removeAll();
    m_activeBodyTree.removeAll();
    m_bodyTree.removeAll();
}

namespace {

// The interface's offset: 16 floats, or null for the identity. Copied so that
// the caller's floats need no particular alignment.
dgMatrix dgOffsetFromFloats(const float* offsetMatrix) {
    if (!offsetMatrix) {
        return dgGetIdentityMatrix();
    }
    dgMatrix matrix;
    static_assert(sizeof(dgMatrix) == 16 * sizeof(float), "a matrix is 16 packed floats");
    std::memcpy(&matrix, offsetMatrix, sizeof(dgMatrix));
    return matrix;
}

float dgAbs(float value) {
    return (value < 0.0f) ? -value : value;
}

}  // namespace

dgCollision* dgCreateNull(dgWorld* world) {
    return dgWorldCreateNull(world);
}

dgCollision* dgCreateBox(dgWorld* world, float dx, float dy, float dz, const float* offsetMatrix) {
    return dgWorldCreateBox(world, dx, dy, dz, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateSphere(dgWorld* world, float rx, float ry, float rz, const float* offsetMatrix) {
    rx = dgAbs(rx);
    ry = dgAbs(ry);
    rz = dgAbs(rz);
    const dgMatrix matrix = dgOffsetFromFloats(offsetMatrix);
    if (dgAbs(rx - ry) < 1e-5f && dgAbs(rx - rz) < 1e-5f) {
        return dgWorldCreateSphere(world, rx, matrix);
    }
    return dgWorldCreateEllipse(world, rx, ry, rz, matrix);
}

dgCollision* dgCreateCone(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCone(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateCapsule(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCapsule(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateCylinder(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateChamferCylinder(dgWorld* world, float radius, float height, const float* offsetMatrix) {
    return dgWorldCreateChamferCylinder(world, radius, height, dgOffsetFromFloats(offsetMatrix));
}

dgCollision* dgCreateConvexHull(dgWorld* world, int32_t pointCount, const float* points,
                                int32_t strideInBytes, const float* offsetMatrix) {
    return dgWorldCreateConvexHull(world, pointCount, points, strideInBytes,
                                   dgOffsetFromFloats(offsetMatrix));
}

void dgCollisionRemoveFromCache(dgWorld* world, dgCollision* shape) {
    dgWorldRemoveCollisionFromCache(world, shape);
}

void dgReleaseCollision(dgWorld* world, dgCollision* shape) {
    dgWorldReleaseCollision(world, shape);
}

dgBodyTree::Node* dgTreeNodeInsertByKey(dgBodyTree* tree, dgBody* value, uintptr_t key, int32_t* existed) {
    bool alreadyPresent = false;
    dgBodyTree::Node* node = tree->insert(value, key, alreadyPresent);
    if (existed) {
        *existed = alreadyPresent ? 1 : 0;
    }
    return node;
}

#include "dgWorld.h"

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
      m_nonFiniteIslands(0),
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
    dgVehicleSetRelease(m_vehicleSet);
    // The cache owns one reference of every shape it holds.
    for (dgCollisionCache::Node* node : m_collisionCache) {
        node->getPayload()->release();
    }
    m_collisionCache.removeAll();
    m_materialTree.removeAll();
    m_activeBodyTree.removeAll();
    m_bodyTree.removeAll();
}

dgBodyTree::Node* dgTreeNodeInsertByKey(dgBodyTree* tree, dgBody* value, uintptr_t key, int32_t* existed) {
    bool alreadyPresent = false;
    dgBodyTree::Node* node = tree->insert(value, key, alreadyPresent);
    if (existed) {
        *existed = alreadyPresent ? 1 : 0;
    }
    return node;
}

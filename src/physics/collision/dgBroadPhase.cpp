#include "dgBroadPhase.h"

#include "dgDynamicsServices.h"

// Construction, binding and the world size stand; filing, the update and the
// queries follow.

dgBroadPhase::dgBroadPhase()
    : m_worldMin(-1000.0f, -1000.0f, -1000.0f, 0.0f),
      m_worldMax(1000.0f, 1000.0f, 1000.0f, 0.0f),
      m_nullClassId(0),
      m_rootSize(1000.0f),
      m_gridScale(1.0f),
      m_invGridScale(1.0f),
      m_world(nullptr),
      m_root(nullptr),
      m_cellPool(nullptr),
      m_stamp(1),
      m_queueThreshold(1),
      m_queue() {}

dgBroadPhase::~dgBroadPhase() {
    m_queue.removeAll();
}

void dgBroadPhaseSetWorld(dgBroadPhase* broadPhase, dgWorld* world) {
    broadPhase->m_world = world;
    broadPhase->m_nullClassId = world->m_nullClassId;
    broadPhase->m_stamp = 1;
    broadPhase->m_queueThreshold = 1;
    const dgVector minimum = broadPhase->m_worldMin;
    const dgVector maximum = broadPhase->m_worldMax;
    dgBroadPhaseSetWorldSize(broadPhase, minimum, maximum);
}

void dgBroadPhaseSetWorldSize(dgBroadPhase* broadPhase, const dgVector& minimum, const dgVector& maximum) {
    broadPhase->m_worldMin = minimum;
    broadPhase->m_worldMax = maximum;
}

void dgBroadPhaseGetWorldSize(const dgBroadPhase* broadPhase, dgVector& minimum, dgVector& maximum) {
    minimum = broadPhase->m_worldMin;
    maximum = broadPhase->m_worldMax;
}

void dgBroadPhaseAddBody(dgBroadPhase*, dgBody*) {}
void dgBroadPhaseRemoveBody(dgBroadPhase*, dgBody*) {}
void dgBroadPhaseMoveBody(dgBroadPhase*, dgBody*) {}
void dgBroadPhaseUpdate(dgBroadPhase*) {}
void dgBroadPhaseForEachBodyInBox(dgBroadPhase*, const float*, const float*, dgBodyIteratorCallback) {}
void dgBroadPhaseRayCast(dgBroadPhase*, const dgVector&, const dgVector&, dgWorldRayFilterCallback,
                         dgWorldRayPrefilterCallback, void*) {}

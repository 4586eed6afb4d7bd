#include "dgMaterialPair.h"

#include "dgDynamicsServices.h"

namespace {

// Group ids above this would alias other pairs' keys.
constexpr uint32_t kMaxGroupCount = 0x10000u;

}  // namespace

dgMaterialPair::dgMaterialPair()
    : m_softness(0.1f),
      m_elasticity(0.4f),
      m_staticFriction0(0.9f),
      m_staticFriction1(0.9f),
      m_kineticFriction0(0.5f),
      m_kineticFriction1(0.5f),
      m_normalAcceleration(0.0f),
      m_tangentAcceleration0(0.0f),
      m_tangentAcceleration1(0.0f),
      m_flags(dgMaterialDefaultFlags) {
    point.x = 0.0f;
    point.y = 0.0f;
    point.z = 0.0f;
}

dgMaterialPairTree::Node* dgMaterialPairInsert(dgMaterialPairTree* table, uint32_t key,
                                               const dgMaterialPair& record, int32_t* existed) {
    bool present = false;
    dgMaterialPairTree::Node* node = table->insert(record, key, present);
    if (existed) {
        *existed = present ? 1 : 0;
    }
    return node;
}

uint32_t dgWorldCreateMaterialGroup(dgWorld* world) {
    const uint32_t group = world->m_materialGroupCount;
    if (group >= kMaxGroupCount) {
        return world->m_defaultMaterialGroup;
    }
    dgMaterialPair record;
    record.m_userData = nullptr;
    record.m_end = nullptr;
    record.m_begin = nullptr;
    record.m_process = nullptr;
    record.m_compound = nullptr;
    record.m_flags = dgMaterialDefaultFlags;
    // The contact members mean nothing in a pair record; zero, a contact
    // accessor called from a begin or end callback reads nothing stale.
    const dgVector zero(0.0f, 0.0f, 0.0f, 0.0f);
    record.normal = zero;
    record.localPoint0 = zero;
    record.localPoint1 = zero;
    record.body0 = nullptr;
    record.body1 = nullptr;
    record.collision0 = nullptr;
    record.collision1 = nullptr;
    record.userId = 0;
    record.penetration = 0.0f;
    record.m_tangentDir0 = zero;
    record.m_tangentDir1 = zero;
    record.m_normalAcceleration = 0.0f;
    record.m_tangentAcceleration0 = 0.0f;
    record.m_tangentAcceleration1 = 0.0f;

    world->m_materialGroupCount = group + 1;
    for (uint32_t other = 0; other <= group; ++other) {
        dgMaterialPairInsert(&world->m_materialTree, (group << 16) + other, record, nullptr);
    }
    return group;
}

dgMaterialPair* dgWorldGetMaterialPair(dgWorld* world, uint32_t group0, uint32_t group1) {
    // An id past the last group would alias another pair's key.
    if ((group0 >= world->m_materialGroupCount) || (group1 >= world->m_materialGroupCount)) {
        return nullptr;
    }
    dgMaterialPairTree::Node* node = world->m_materialTree.find(dgMaterialPairKey(group0, group1));
    return node ? &node->getPayload() : nullptr;
}

void dgMaterialTableReset(dgWorld* world) {
    world->m_materialTree.removeAll();
    world->m_materialGroupCount = 0;
    world->m_defaultMaterialGroup = dgWorldCreateMaterialGroup(world);
}

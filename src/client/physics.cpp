#include "client/physics.h"

#include "client/physicsmaterialpairhandler.h"

dgWorld* physicsWorld = nullptr;

Physics::Physics() : defaultGroup(0), shipGroup(0), torpedoGroup(0), levelGroup(0), pairHandler(nullptr) {}
Physics::~Physics() = default;
bool Physics::init() { return false; }
dgBody* Physics::createLevelBody(Object*) { return nullptr; }
dgBody* Physics::createShipBody(Object*, const irr::core::vector3df&, const irr::core::vector3df&,
                                const irr::core::vector3df&, float, float, const irr::core::vector3df&) {
    return nullptr;
}
dgBody* Physics::createTorpedoBody(Object*, const irr::core::vector3df&, const irr::core::vector3df&,
                                   const irr::core::vector3df&) {
    return nullptr;
}
dgBody* Physics::createStaticBody(Object*, const irr::core::vector3df&, const irr::core::vector3df&,
                                  const irr::core::vector3df&) {
    return nullptr;
}
dgBody* Physics::createTrashBody(Object*, const irr::core::vector3df&, const irr::core::vector3df&,
                                 const irr::core::vector3df&, float, float, const irr::core::vector3df&) {
    return nullptr;
}
void Physics::destroyShipBody(Object*) {}
void Physics::destroyTorpedoBody(Object*) {}
void Physics::destroyTrashBody(Object*) {}
void Physics::update(float) {}
void* Physics::allocMemory(uint32_t) { return nullptr; }
void Physics::freeMemory(void*, uint32_t) {}
void Physics::shipTransformCallback(dgBody*, const float*) {}
void Physics::torpedoTransformCallback(dgBody*, const float*) {}
void Physics::trashTransformCallback(dgBody*, const float*) {}
void Physics::shipForceCallback(dgBody*) {}
void Physics::torpedoForceCallback(dgBody*) {}
void Physics::trashForceCallback(dgBody*) {}
void Physics::debugDrawBody(dgBody*) {}
void Physics::debugDrawPolygon(const dgBody*, int32_t, const float*, int32_t) {}
int32_t Physics::contactBegin(dgMaterialPair*, dgBody*, dgBody*) { return 0; }
int32_t Physics::contactProcess(dgMaterialPair*, dgContact*) { return 0; }
void Physics::contactEnd(dgMaterialPair*) {}

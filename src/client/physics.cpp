#include "client/engine/Finite.h"
#include "client/physics.h"

#include "client/constants.h"
#include "client/globals.h"
#include "client/object.h"
#include "client/physicsmaterialpairhandler.h"
#include "client/physicsrules.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/trash.h"

#include <cmath>
#include <new>

using tarnwell::isFinite;

dgWorld* physicsWorld = nullptr;

namespace {

// Every engine block is 16-byte aligned.
constexpr std::align_val_t kBlockAlignment{16};

// Friction, elasticity and softness of the default pair; the game's groups
// start from them.
constexpr float kStaticFriction = 0.8f;
constexpr float kKineticFriction = 0.4f;
constexpr float kElasticity = 0.3f;
constexpr float kSoftness = 0.05f;
constexpr float kMinimumFrameRate = 30.0f;

// How far inside the world box a ship that left it is put back, units.
constexpr float kInsideMargin = 0.5f;

constexpr float kTorpedoMass = 1.0f;
constexpr float kTorpedoLinearDamping = 0.9f;

const irr::video::SColor kDebugLineColour(255, 255, 255, 0);

Physics::DebugLineSink debugLineSink = nullptr;

Object* objectOf(const dgBody* body) { return static_cast<Object*>(dgBodyGetUserData(body)); }

PhysicsMaterialPairHandler* handlerOf(const dgMaterialPair* material) {
    return static_cast<PhysicsMaterialPairHandler*>(dgMaterialGetPairUserData(material));
}

// The box bodies' common set-up. A dynamic kind (one with callbacks) gets its
// mass, inertia and callbacks and never freezes; the static one keeps the
// infinite mass of a new body. Non-finite input makes nothing: the world must
// never see it.
dgBody* createBox(Object* owner, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                  const irr::core::vector3df& size, uint32_t group, float mass, float linearDamping,
                  const irr::core::vector3df& angularDamping, dgBodyTransformCallback transform,
                  dgBodyForceAndTorqueCallback force) {
    if (physicsWorld == nullptr || !isFinite(position) || !isFinite(rotation) ||
        !isFinite(size) || !std::isfinite(mass) || !std::isfinite(linearDamping) ||
        !isFinite(angularDamping)) {
        return nullptr;
    }
    dgCollision* box = dgCreateBox(physicsWorld, size.X, size.Y, size.Z, nullptr);
    dgBody* body = dgCreateBody(physicsWorld, box);
    dgBodySetMaterialGroupId(body, group);
    dgReleaseCollision(physicsWorld, box);
    const bool dynamic = transform != nullptr;
    if (dynamic) {
        const irr::core::vector3df inertia = boxInertia(mass, size);
        dgBodySetMassMatrix(body, mass, inertia.X, inertia.Y, inertia.Z);
    }
    irr::core::matrix4 matrix;
    matrix.setRotationDegrees(rotation);
    matrix.setTranslation(position);
    dgBodySetMatrix(body, matrix.pointer());
    dgBodySetLinearDamping(body, linearDamping);
    const float damping[3] = {angularDamping.X, angularDamping.Y, angularDamping.Z};
    dgBodySetAngularDamping(body, damping);
    dgBodySetUserData(body, owner);
    if (dynamic) {
        dgBodySetTransformCallback(body, transform);
        dgBodySetForceAndTorqueCallback(body, force);
        dgBodySetAutoFreeze(body, 0);
        dgWorldUnfreezeBody(physicsWorld, body);
    }
    return body;
}

void destroyBody(Object* object) {
    if (object == nullptr || object->getBody() == nullptr || physicsWorld == nullptr) {
        return;
    }
    dgBodySetUserData(object->getBody(), nullptr);
    dgDestroyBody(physicsWorld, object->getBody());
}

// The entity follows its body: position, and the Euler angles in degrees
// that the engine's rotation set-up turns back into the body's rotation.
void followBody(dgBody* body, const float* matrix) {
    Object* object = objectOf(body);
    if (object == nullptr || matrix == nullptr) {
        return;
    }
    object->setPosition(irr::core::vector3df(matrix[12], matrix[13], matrix[14]));
    object->setRotation(bodyRotationDegrees(matrix));
}

void applyContactRules(Object* a, Object* b) {
    const ContactActions rules = contactRules(a->getType(), b->getType());
    for (int32_t k = 0; k < rules.count; ++k) {
        Object* target = rules.actions[k].object == 0 ? a : b;
        switch (rules.actions[k].effect) {
            case ContactEffect::TorpedoExplodesOnStatic:
                static_cast<Torpedo*>(target)->explode(true);
                break;
            case ContactEffect::TorpedoExplodes:
                static_cast<Torpedo*>(target)->explode(false);
                break;
            case ContactEffect::TrashHit:
                static_cast<Trash*>(target)->hit();
                break;
            case ContactEffect::ShipDamaged:
                static_cast<Ship*>(target)->damage(TORPEDO_HIT_DAMAGE);
                break;
            case ContactEffect::ShipCollisionSound:
                static_cast<Ship*>(target)->playCollisionSound();
                break;
        }
    }
}

}  // namespace

Physics::Physics()
    : defaultGroup(0),
      shipGroup(0),
      torpedoGroup(0),
      levelGroup(0),
      pairHandler(nullptr),
      world(nullptr),
      hasLevelBox(false),
      levelLinesMade(false),
      levelShown(false),
      outlineTarget(nullptr) {}

Physics::~Physics() {
    if (world != nullptr) {
        dgWorldDestroyAllBodies(world);
        dgWorldDestroy(world);
        if (physicsWorld == world) {
            physicsWorld = nullptr;
        }
    }
    delete pairHandler;
}

bool Physics::init() {
    if (world != nullptr) {
        return true;
    }
    world = dgWorldCreate(allocMemory, freeMemory);
    physicsWorld = world;
    if (world == nullptr) {
        return false;
    }
    dgWorldSetUserData(world, this);
    dgWorldSetOutOfBoundsCallback(world, keepShipInside);
    dgWorldSetMinimumFrameRate(world, kMinimumFrameRate);
    defaultGroup = static_cast<int32_t>(dgMaterialGetDefaultGroupId(world));
    const uint32_t group = static_cast<uint32_t>(defaultGroup);
    dgMaterialSetDefaultFriction(world, group, group, kStaticFriction, kKineticFriction);
    dgMaterialSetDefaultElasticity(world, group, group, kElasticity);
    dgMaterialSetDefaultSoftness(world, group, group, kSoftness);
    shipGroup = static_cast<int32_t>(dgMaterialCreateGroupId(world));
    torpedoGroup = static_cast<int32_t>(dgMaterialCreateGroupId(world));
    levelGroup = static_cast<int32_t>(dgMaterialCreateGroupId(world));
    pairHandler = new PhysicsMaterialPairHandler();
    const int32_t pairs[4][2] = {
        {torpedoGroup, shipGroup}, {torpedoGroup, levelGroup}, {shipGroup, shipGroup}, {shipGroup, levelGroup}};
    for (const auto& pair : pairs) {
        dgMaterialSetCollisionCallback(world, static_cast<uint32_t>(pair[0]), static_cast<uint32_t>(pair[1]),
                                       pairHandler, contactBegin, contactProcess, contactEnd);
    }
    return true;
}

dgBody* Physics::createLevelBody(Object* terrain) {
    irr::scene::ITerrainSceneNode* terrainNode = globals.terrainNode;
    if (physicsWorld == nullptr || terrainNode == nullptr) {
        return nullptr;
    }
    // The terrain fills a buffer of our own: its arrays stay the terrain's.
    irr::scene::CDynamicMeshBuffer* buffer =
        new irr::scene::CDynamicMeshBuffer(irr::video::EVT_2TCOORDS, irr::video::EIT_32BIT);
    terrainNode->getMeshBufferForLOD(*buffer, 0);
    dgCollision* tree = dgCreateTreeCollision(physicsWorld, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const irr::u32 vertexCount = buffer->getVertexCount();
    const irr::u32 indexCount = buffer->getIndexCount();
    const irr::scene::IIndexBuffer& indices = buffer->getIndexBuffer();
    for (irr::u32 first = 0; first + 2 < indexCount; first += 3) {
        float face[9];
        bool valid = true;
        for (irr::u32 corner = 0; corner < 3; ++corner) {
            const irr::u32 index = indices[first + corner];
            valid = valid && index < vertexCount;
            if (valid) {
                const irr::core::vector3df p = levelVertex(buffer->getPosition(index));
                face[3 * corner] = p.X;
                face[3 * corner + 1] = p.Y;
                face[3 * corner + 2] = p.Z;
            }
        }
        if (valid) {
            dgTreeCollisionAddFace(tree, 3, face, 3 * sizeof(float), 1);
        }
    }
    buffer->drop();
    dgTreeCollisionEndBuild(tree, 0);

    dgBody* body = dgCreateBody(physicsWorld, tree);
    irr::core::matrix4 placement;
    placement.setTranslation(TERRAIN_POSITION);
    dgBodySetMatrix(body, placement.pointer());
    dgReleaseCollision(physicsWorld, tree);

    // The world box spans the terrain and reaches up to the sea surface.
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    float minimum[3] = {0.0f, 0.0f, 0.0f};
    float maximum[3] = {0.0f, 0.0f, 0.0f};
    dgCollisionCalculateAABB(tree, matrix, minimum, maximum);
    maximum[1] = 0.0f;
    dgWorldSetSize(physicsWorld, minimum, maximum);
    // A terrain without faces, or one wholly above the surface, leaves the
    // world box as it was (the world refuses a degenerate one).
    if (minimum[0] < maximum[0] && minimum[1] < maximum[1] && minimum[2] < maximum[2]) {
        worldBox = irr::core::aabbox3df(minimum[0], minimum[1], minimum[2], maximum[0], maximum[1], maximum[2]);
        hasLevelBox = true;
    }
    dgBodySetMaterialGroupId(body, static_cast<uint32_t>(levelGroup));
    dgBodySetUserData(body, terrain);
    return body;
}

dgBody* Physics::createShipBody(Object* owner, const irr::core::vector3df& position,
                                const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
                                float linearDamping, const irr::core::vector3df& angularDamping) {
    return createBox(owner, position, rotation, size, static_cast<uint32_t>(shipGroup), mass, linearDamping,
                     angularDamping, shipTransformCallback, shipForceCallback);
}

dgBody* Physics::createTorpedoBody(Object* owner, const irr::core::vector3df& position,
                                   const irr::core::vector3df& rotation, const irr::core::vector3df& size) {
    return createBox(owner, position, rotation, size, static_cast<uint32_t>(torpedoGroup), kTorpedoMass,
                     kTorpedoLinearDamping, TORPEDO_ANGULAR_DAMPING, torpedoTransformCallback,
                     torpedoForceCallback);
}

dgBody* Physics::createStaticBody(Object* owner, const irr::core::vector3df& position,
                                  const irr::core::vector3df& rotation, const irr::core::vector3df& size) {
    return createBox(owner, position, rotation, size, static_cast<uint32_t>(levelGroup), 0.0f, 0.0f,
                     irr::core::vector3df(0.0f, 0.0f, 0.0f), nullptr, nullptr);
}

dgBody* Physics::createTrashBody(Object* owner, const irr::core::vector3df& position,
                                 const irr::core::vector3df& rotation, const irr::core::vector3df& size, float mass,
                                 float linearDamping, const irr::core::vector3df& angularDamping) {
    return createBox(owner, position, rotation, size, static_cast<uint32_t>(levelGroup), mass, linearDamping,
                     angularDamping, trashTransformCallback, trashForceCallback);
}

void Physics::destroyShipBody(Object* object) {
    destroyBody(object);
    if (object != nullptr) {
        object->body = nullptr;
    }
}

void Physics::destroyTorpedoBody(Object* object) { destroyShipBody(object); }

void Physics::destroyTrashBody(Object* object) { destroyShipBody(object); }

void Physics::update(float dt) {
    if (physicsWorld == nullptr) {
        return;
    }
    // A non-finite step never reaches the world: it takes its shortest step.
    dgWorldUpdate(physicsWorld, std::isfinite(dt) ? dt : 0.0f);
    if (globals.debugDrawMode > 0) {
        movingLines.clear();
        levelShown = false;
        dgWorldForEachBodyDo(physicsWorld, debugDrawBody);
        outlineTarget = nullptr;
        if (levelShown) {
            levelLines.draw();
        }
        movingLines.draw();
    }
}

void Physics::DebugLines::clear() {
    vertices.clear();
    indices.clear();
}

void Physics::DebugLines::addOutline(int32_t vertexCount, const float* corners) {
    const irr::u32 first = static_cast<irr::u32>(vertices.size());
    const irr::u32 count = static_cast<irr::u32>(vertexCount);
    for (irr::u32 k = 0; k < count; ++k) {
        vertices.emplace_back(corners[3 * k], corners[3 * k + 1], corners[3 * k + 2], 0.0f, 0.0f, 0.0f,
                              kDebugLineColour, 0.0f, 0.0f);
    }
    // From the last corner to the first, then on around: a closed outline.
    irr::u32 previous = first + count - 1;
    for (irr::u32 k = 0; k < count; ++k) {
        indices.push_back(previous);
        indices.push_back(first + k);
        previous = first + k;
    }
}

void Physics::DebugLines::draw() const {
    const irr::u32 lines = static_cast<irr::u32>(indices.size() / 2);
    if (lines == 0) {
        return;
    }
    const irr::u32 vertexCount = static_cast<irr::u32>(vertices.size());
    if (debugLineSink != nullptr) {
        debugLineSink(vertices.data(), vertexCount, indices.data(), lines);
        return;
    }
    irr::video::IVideoDriver* driver = globals.driver;
    if (driver == nullptr) {
        return;
    }
    driver->setTransform(irr::video::ETS_WORLD, irr::core::IdentityMatrix);
    irr::video::SMaterial material;
    material.Lighting = false;
    driver->setMaterial(material);
    driver->drawVertexPrimitiveList(vertices.data(), vertexCount, indices.data(), lines, irr::video::EVT_STANDARD,
                                    irr::scene::EPT_LINES, irr::video::EIT_32BIT);
}

// The ship goes back so that its whole box lies kInsideMargin inside the
// world box, and loses the velocity that carried it out; the world wakes it
// again once its box is back inside. The move happens from inside the world's
// force pass, where the world allows a body to be put back.
void Physics::keepShipInside(dgBody* body) {
    const Object* object = objectOf(body);
    const Physics* self = static_cast<const Physics*>(dgWorldGetUserData(dgBodyGetWorld(body)));
    if (object == nullptr || object->getType() != OBJECT_SHIP || self == nullptr || !self->hasLevelBox) {
        return;
    }
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    float boxMin[3];
    float boxMax[3];
    dgBodyGetAABB(body, boxMin, boxMax);
    const irr::core::vector3df centre(matrix[12], matrix[13], matrix[14]);
    const irr::core::vector3df inside =
        placeInsideBox(centre, irr::core::vector3df(boxMin[0], boxMin[1], boxMin[2]),
                       irr::core::vector3df(boxMax[0], boxMax[1], boxMax[2]), self->worldBox.MinEdge,
                       self->worldBox.MaxEdge, kInsideMargin);
    float velocity[3];
    dgBodyGetVelocity(body, velocity);
    const float moved[3] = {inside.X - centre.X, inside.Y - centre.Y, inside.Z - centre.Z};
    for (int32_t axis = 0; axis < 3; ++axis) {
        // Moved back against the velocity: that part of it carried the ship out.
        if (moved[axis] * velocity[axis] < 0.0f) {
            velocity[axis] = 0.0f;
        }
    }
    matrix[12] = inside.X;
    matrix[13] = inside.Y;
    matrix[14] = inside.Z;
    dgBodySetVelocity(body, velocity);
    dgBodySetMatrix(body, matrix);
    followBody(body, matrix);
}

void Physics::setDebugLineSink(DebugLineSink sink) { debugLineSink = sink; }

void* Physics::allocMemory(uint32_t size) { return ::operator new(size, kBlockAlignment, std::nothrow); }

void Physics::freeMemory(void* block, uint32_t) { ::operator delete(block, kBlockAlignment); }

void Physics::shipTransformCallback(dgBody* body, const float* matrix) { followBody(body, matrix); }

void Physics::torpedoTransformCallback(dgBody* body, const float* matrix) { followBody(body, matrix); }

void Physics::trashTransformCallback(dgBody* body, const float* matrix) { followBody(body, matrix); }

void Physics::shipForceCallback(dgBody* body) {
    Object* object = objectOf(body);
    if (object != nullptr && object->getType() == OBJECT_SHIP) {
        static_cast<Ship*>(object)->applyForces(dgBodyGetWorld(body), body);
    }
}

void Physics::torpedoForceCallback(dgBody* body) {
    Object* object = objectOf(body);
    if (object != nullptr && object->getType() == OBJECT_TORPEDO) {
        static_cast<Torpedo*>(object)->applyForces(dgBodyGetWorld(body), body);
    }
}

void Physics::trashForceCallback(dgBody* body) {
    Object* object = objectOf(body);
    if (object != nullptr) {
        object->applyGravity(dgBodyGetWorld(body), body);
    }
}

// The driver's transform and material are set where the lists are drawn,
// once a frame.
void Physics::debugDrawBody(dgBody* body) {
    Physics* self = static_cast<Physics*>(dgWorldGetUserData(dgBodyGetWorld(body)));
    const Object* object = objectOf(body);
    if (self == nullptr || object == nullptr || !debugDrawShows(globals.debugDrawMode, object->getType())) {
        return;
    }
    if (object->getType() == OBJECT_LEVEL) {
        self->levelShown = true;
        if (self->levelLinesMade) {
            return;
        }
        self->levelLinesMade = true;
        self->outlineTarget = &self->levelLines;
    } else {
        self->outlineTarget = &self->movingLines;
    }
    dgBodyForEachPolygonDo(body, debugDrawPolygon);
}

void Physics::debugDrawPolygon(const dgBody* body, int32_t vertexCount, const float* vertices, int32_t) {
    Physics* self = static_cast<Physics*>(dgWorldGetUserData(dgBodyGetWorld(body)));
    if (self == nullptr || self->outlineTarget == nullptr || vertices == nullptr || vertexCount < 1) {
        return;
    }
    self->outlineTarget->addOutline(vertexCount, vertices);
}

int32_t Physics::contactBegin(dgMaterialPair* pair, dgBody* body0, dgBody* body1) {
    PhysicsMaterialPairHandler* handler = handlerOf(pair);
    if (handler == nullptr) {
        return 0;
    }
    handler->clear();
    handler->objectA = objectOf(body0);
    handler->objectB = objectOf(body1);
    return (handler->objectA != nullptr && handler->objectB != nullptr) ? 1 : 0;
}

// Every point of the pair is kept, so that a body is held by all its
// contacts; the rules still run once per pair and pass, at its first point.
int32_t Physics::contactProcess(dgMaterialPair* material, dgContact*) {
    PhysicsMaterialPairHandler* handler = handlerOf(material);
    if (handler == nullptr || handler->objectA == nullptr || handler->objectB == nullptr) {
        return 0;
    }
    if (!handler->rulesApplied) {
        handler->rulesApplied = true;
        applyContactRules(handler->objectA, handler->objectB);
    }
    return 1;
}

void Physics::contactEnd(dgMaterialPair* pair) {
    PhysicsMaterialPairHandler* handler = handlerOf(pair);
    if (handler != nullptr) {
        handler->clear();
    }
}

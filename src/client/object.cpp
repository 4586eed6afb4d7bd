#include "client/engine/Finite.h"
#include "client/object.h"

#include "client/globals.h"
#include "client/physicsrules.h"
#include "client/resourcehandler.h"

#include "physics/dynamics/dgPhysics.h"

#include <algorithm>

using tarnwell::isFinite;

namespace {

// The game's sinking acceleration, units per second squared.
constexpr float kSinkAcceleration = 5.0f;

}  // namespace

Object::Object(int32_t type, const std::string& name, const irr::core::vector3df& size)
    : type(type), name(name), size(size), radius(std::max({size.X, size.Y, size.Z})) {}

Object::~Object() = default;

void Object::setPosition(const irr::core::vector3df& p) {
    if (!isFinite(p)) {
        return;
    }
    position = p;
    if (node != nullptr) {
        node->setPosition(p);
        node->updateAbsolutePosition();
    }
}

void Object::setRotation(const irr::core::vector3df& r) {
    if (!isFinite(r)) {
        return;
    }
    rotation = r;
    if (node != nullptr) {
        node->setRotation(r);
    }
}

bool Object::contains(const irr::core::vector3df& point) const {
    // In double, so that a point exactly at the radius counts as inside
    // whatever the rounding of the squares in float would say.
    const double dx = double(point.X) - double(position.X);
    const double dy = double(point.Y) - double(position.Y);
    const double dz = double(point.Z) - double(position.Z);
    return dx * dx + dy * dy + dz * dz <= double(radius) * double(radius);
}

void Object::applyGravity(const dgWorld*, dgBody* body) {
    float mass = 0.0f;
    float ixx = 0.0f;
    float iyy = 0.0f;
    float izz = 0.0f;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kSinkAcceleration * mass, 0.0f};
    dgBodyAddForce(body, force);
}

irr::scene::IAnimatedMeshSceneNode* Object::addMeshNode(irr::s32 mesh, irr::scene::ISceneNode* parent,
                                                        const irr::core::vector3df& offset) {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    if (scene == nullptr || globals.resources == nullptr) {
        return nullptr;
    }
    irr::scene::IAnimatedMesh* animated = globals.resources->getMesh(mesh);
    if (animated == nullptr) {
        return nullptr;
    }
    irr::scene::IAnimatedMeshSceneNode* meshNode = scene->addAnimatedMeshSceneNode(
        animated, parent, -1, offset, irr::core::vector3df(0.0f, 0.0f, 0.0f), irr::core::vector3df(1.0f, 1.0f, 1.0f));
    if (meshNode == nullptr) {
        return nullptr;
    }
    irr::scene::ITriangleSelector* selector = scene->createTriangleSelector(animated->getMesh(0), meshNode);
    if (selector != nullptr) {
        meshNode->setTriangleSelector(selector);
        selector->drop();
    }
    meshNode->setMaterialFlag(irr::video::EMF_LIGHTING, true);
    meshNode->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
    meshNode->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
    if (globals.shadersEnabled && globals.solidShaderMaterial >= 0) {
        meshNode->setMaterialType(static_cast<irr::video::E_MATERIAL_TYPE>(globals.solidShaderMaterial));
    }
    return meshNode;
}

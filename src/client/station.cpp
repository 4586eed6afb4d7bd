#include "client/station.h"

#include "client/globals.h"
#include "client/physics.h"
#include "client/resourceids.h"

#include "physics/dynamics/dgPhysics.h"

Station::Station(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
                 const irr::core::vector3df& size, irr::s32 mesh)
    : Object(OBJECT_STATION, name, size) {
    irr::scene::IAnimatedMeshSceneNode* hull = addMeshNode(mesh, nullptr, irr::core::vector3df(0.0f, 0.0f, 0.0f));
    if (hull == nullptr) {
        return;
    }
    node = hull;
    setRotation(rotation);
    setPosition(position);
    if (globals.physics != nullptr) {
        body = globals.physics->createStaticBody(this, position, rotation, size);
    }
    door1 = addMeshNode(MESH_STATION_DOOR1, hull, irr::core::vector3df(0.0f, 0.0f, 0.0f));
    door2 = addMeshNode(MESH_STATION_DOOR2, hull, irr::core::vector3df(0.0f, 0.0f, 0.0f));
}

// The body stays in the world until the glue goes, but without its user
// data: a contact with it would otherwise hand the deleted station to the
// contact rules. (The world then lets bodies pass through it: a pair with a
// body without user data is not collided.)
Station::~Station() {
    if (body != nullptr && globals.physics != nullptr) {
        dgBodySetUserData(body, nullptr);
    }
    if (node != nullptr) {
        node->remove();
    }
}

#include "client/trash.h"

#include "client/entitysound.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/resourceids.h"

namespace {

constexpr float kTrashMass = 1.0f;
constexpr float kTrashLinearDamping = 0.7f;
const irr::core::vector3df kTrashAngularDamping(0.25f, 0.25f, 0.25f);

}  // namespace

Trash::Trash(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
             const irr::core::vector3df& size, irr::s32 mesh)
    : Object(OBJECT_TRASH, name, size) {
    node = addMeshNode(mesh, nullptr, irr::core::vector3df(0.0f, 0.0f, 0.0f));
    // Stored even without a node, so a piece whose mesh is missing still
    // stands where it was thrown.
    setRotation(rotation);
    setPosition(position);
    if (node == nullptr) {
        return;
    }
    if (globals.physics != nullptr) {
        body = globals.physics->createTrashBody(this, position, rotation, size, kTrashMass, kTrashLinearDamping,
                                                kTrashAngularDamping);
    }
}

Trash::~Trash() {
    if (globals.physics != nullptr) {
        globals.physics->destroyTrashBody(this);
    }
    if (node != nullptr) {
        node->remove();
    }
}

void Trash::hit() {
    if (hitOnce == 0) {
        hitOnce = 1;
        playSoundAt(SOUND_EXPLOSION_SMALL, position);
        if (globals.particleSystem != nullptr) {
            globals.particleSystem->addExplosion(position);
        }
    }
    dead = true;
}

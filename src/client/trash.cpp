#include "client/trash.h"

#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "platform/sound/fsound.h"

namespace {

constexpr float kTrashMass = 1.0f;
constexpr float kTrashLinearDamping = 0.7f;
const irr::core::vector3df kTrashAngularDamping(0.25f, 0.25f, 0.25f);

}  // namespace

Trash::Trash(const std::string& name, const irr::core::vector3df& position, const irr::core::vector3df& rotation,
             const irr::core::vector3df& size, irr::s32 mesh)
    : Object(OBJECT_TRASH, name, size) {
    node = addMeshNode(mesh, nullptr, irr::core::vector3df(0.0f, 0.0f, 0.0f));
    if (node == nullptr) {
        return;
    }
    setRotation(rotation);
    setPosition(position);
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
        if (globals.resources != nullptr) {
            const int channel = FSOUND_PlaySound(FSOUND_FREE, globals.resources->getSound(SOUND_EXPLOSION_SMALL));
            const float at[3] = {position.X, position.Y, position.Z};
            FSOUND_3D_SetAttributes(channel, at, nullptr);
        }
        if (globals.particleSystem != nullptr) {
            globals.particleSystem->addExplosion(position);
        }
    }
    dead = true;
}

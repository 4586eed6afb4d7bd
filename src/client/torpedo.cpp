#include "client/engine/Finite.h"
#include "client/torpedo.h"

#include "client/camera.h"
#include "client/entitysound.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/torpedomath.h"
#include "client/weaponmath.h"
#include "platform/sound/fsound.h"

#include <cmath>

using tarnwell::isFinite;

namespace {

// The torpedo camera: the view the HUD shows, 2 ahead of the torpedo's
// centre along its nose.
constexpr irr::s32 TORPEDO_CAMERA_ID = 1;
constexpr float TORPEDO_CAMERA_FAR = 250.0f;
const irr::core::vector3df TORPEDO_CAMERA_OFFSET(0.0f, 0.0f, 2.0f);
// The bubble trail leaves from the tail.
const irr::core::vector3df TRAIL_OFFSET(0.0f, 0.0f, -1.5f);

uint32_t realTime() {
    return globals.clock != nullptr ? globals.clock->getRealTime() : 0;
}

irr::core::vector3df fromFloats(const float* v) {
    return irr::core::vector3df(v[0], v[1], v[2]);
}

}  // namespace

Torpedo::Torpedo(const irr::core::vector3df& position, const irr::core::vector3df& velocity,
                 int32_t lifetimeMs, irr::s32 meshId, const irr::core::vector3df& size, Ship* target,
                 int32_t engineChannel)
    : Object(OBJECT_TORPEDO, "", irr::core::vector3df(1.0f, 1.0f, 1.0f)),
      bodySize(size),
      lifetimeMs(lifetimeMs),
      launchTime(realTime()),
      target(target),
      velocity(isFinite(velocity) ? velocity : irr::core::vector3df()),
      engineChannel(engineChannel) {
    if (!isFinite(position)) {
        // Nowhere to fly from: the launcher's next update deletes it.
        if (engineChannel > 0) {
            FSOUND_StopSound(engineChannel);
        }
        this->engineChannel = -1;
        exploded = 1;
        dead = true;
        return;
    }
    this->position = position;
    if (globals.playerShip != nullptr && isFinite(globals.playerShip->getRotation())) {
        rotation = globals.playerShip->getRotation();
    }

    mesh = globals.resources != nullptr ? globals.resources->getMesh(meshId) : nullptr;
    irr::scene::IAnimatedMeshSceneNode* shape =
        mesh != nullptr && globals.sceneManager != nullptr
            ? globals.sceneManager->addAnimatedMeshSceneNode(mesh, nullptr, -1)
            : nullptr;
    if (shape == nullptr) {
        return;
    }
    node = shape;
    node->grab();
    irr::scene::ITriangleSelector* selector =
        globals.sceneManager->createTriangleSelector(mesh->getMesh(0), shape);
    if (selector != nullptr) {
        shape->setTriangleSelector(selector);
        selector->drop();
    }
    shape->setMaterialFlag(irr::video::EMF_LIGHTING, true);
    shape->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
    shape->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
    if (globals.shadersEnabled && globals.solidShaderMaterial >= 0) {
        shape->setMaterialType(irr::video::E_MATERIAL_TYPE(globals.solidShaderMaterial));
    }
    shape->setScale(irr::core::vector3df(1.0f, 1.0f, 1.0f));
    shape->setPosition(position);
    // The body starts turned like the launching ship; the node follows at
    // once rather than after the first step.
    shape->setRotation(rotation);
    shape->updateAbsolutePosition();

    body = globals.physics != nullptr ? globals.physics->createTorpedoBody(this, position, rotation, bodySize)
                                      : nullptr;
    if (body != nullptr) {
        const float launch[3] = {this->velocity.X, this->velocity.Y, this->velocity.Z};
        dgBodySetVelocity(body, launch);
    }
    if (globals.particleSystem != nullptr) {
        trail = globals.particleSystem->addTorpedoBubbleTrail(TRAIL_OFFSET, node);
    }
    camera = new Camera(TORPEDO_CAMERA_ID, TORPEDO_CAMERA_FAR, 1.0f);
    if (irr::scene::ICameraSceneNode* eye = camera->getNode()) {
        // The torpedo removes the node when it goes; its reference keeps the
        // pointer good even if the scene let go first.
        eye->grab();
        globals.sceneManager->setActiveCamera(eye);
    }
}

Torpedo::~Torpedo() {
    if (camera != nullptr) {
        irr::scene::ICameraSceneNode* eye = camera->getNode();
        delete camera;
        camera = nullptr;
        if (eye != nullptr) {
            // The scene holds its active camera: left active, the removed node
            // would go on showing the world from where the torpedo died.
            irr::scene::ISceneManager* scene = eye->getSceneManager();
            if (scene != nullptr && scene->getActiveCamera() == eye) {
                scene->setActiveCamera(globals.mainCamera != nullptr ? globals.mainCamera->getNode()
                                                                     : nullptr);
            }
            eye->remove();
            eye->drop();
        }
    }
    if (globals.particleSystem != nullptr && trail != -1) {
        globals.particleSystem->removeEffectsOf(trail);
    }
    if (globals.physics != nullptr) {
        globals.physics->destroyTorpedoBody(this);
    }
    body = nullptr;
    if (node != nullptr) {
        node->remove();
        node->drop();
        node = nullptr;
    }
    if (globals.trackedTorpedo == this) {
        globals.trackedTorpedo = nullptr;
    }
}

void Torpedo::update(uint32_t elapsed) {
    lifetimeMs = remainingLifetime(lifetimeMs, elapsed);
    if (lifetimeMs < 1 || position.Y > TORPEDO_CEILING_Y) {
        explode(false);
        dead = true;
    }
}

void Torpedo::applyForces(const dgWorld* world, dgBody* forceBody) {
    if (world == nullptr || forceBody == nullptr) {
        return;
    }
    float mass = 0.0f;
    float inertia[3];
    dgBodyGetMassMatrix(forceBody, &mass, &inertia[0], &inertia[1], &inertia[2]);
    const float dt = dgWorldGetTimeStep(world);

    // A ship at hull 0 or below is being destroyed and will be deleted: let
    // it go at once, whether boosting or homing.
    if (target != nullptr && !(target->getHull() > 0.0f)) {
        target = nullptr;
    }
    irr::core::vector3df steering;
    if (target != nullptr) {
        aim = steerToTarget(position, rotation, target->getPosition());
        if (!torpedoBoosting(realTime(), launchTime)) {
            steering = torpedoSteering(aim, mass, dt, pitchGain, rollGain);
        }
    }

    float omega[3];
    float angularDamping[3];
    float linear[3];
    dgBodyGetOmega(forceBody, omega);
    dgBodyGetAngularDamping(forceBody, angularDamping);
    dgBodyGetVelocity(forceBody, linear);
    const TorpedoMotion next = torpedoMotionStep(
        rotation, mass, dt, thrust, steering, TorpedoMotion{fromFloats(linear), fromFloats(omega)},
        fromFloats(angularDamping), dgBodyGetLinearDamping(forceBody));
    // Finite in, finite out: the body hands out finite values and the aim is
    // finite by construction (and the world refuses anything else).
    const float spin[3] = {next.omega.X, next.omega.Y, next.omega.Z};
    const float run[3] = {next.velocity.X, next.velocity.Y, next.velocity.Z};
    dgBodySetOmega(forceBody, spin);
    dgBodySetVelocity(forceBody, run);

    dgBodyGetVelocity(forceBody, linear);
    velocity = fromFloats(linear);
    placeSound(engineChannel, position);
    if (camera != nullptr && isFinite(position) && isFinite(rotation)) {
        camera->update(TORPEDO_CAMERA_OFFSET, position, rotation);
    }
}

void Torpedo::explode(bool staticHit) {
    if (exploded == 0) {
        exploded = 1;
        if (engineChannel > 0) {
            FSOUND_StopSound(engineChannel);
        }
        engineChannel = -1;
        playSoundAt(SOUND_EXPLOSION_SMALL, position);
        if (globals.particleSystem != nullptr && isFinite(position)) {
            globals.particleSystem->addExplosion(position);
            if (staticHit) {
                globals.particleSystem->addBlueImpact(position);
            }
        }
    }
    dead = true;
}

irr::core::vector3df Torpedo::steerToTarget(const irr::core::vector3df& from,
                                            const irr::core::vector3df& turn,
                                            const irr::core::vector3df& targetPosition) {
    const irr::core::vector3df targetVelocity =
        target != nullptr ? target->getVelocity() : irr::core::vector3df();
    return torpedoAim(from, turn, targetPosition, targetVelocity, velocity.getLength());
}

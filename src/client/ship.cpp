#include "client/engine/Finite.h"
#include "client/ship.h"

#include "client/hud.h"

#include "client/engine/RandomSource.h"
#include "client/entitysound.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/physics.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/torpedo.h"
#include "client/weapon.h"
#include "platform/sound/fsound.h"

#include <cmath>
#include <vector>

using tarnwell::isFinite;

using irr::core::vector3df;

namespace {

constexpr int32_t NO_CHANNEL = -1;
constexpr uint32_t COLLISION_SOUND_GAP_MS = 500;

vector3df finiteOrZero(const vector3df& v) {
    return vector3df(std::isfinite(v.X) ? v.X : 0.0f, std::isfinite(v.Y) ? v.Y : 0.0f,
                     std::isfinite(v.Z) ? v.Z : 0.0f);
}

uint32_t now() {
    return globals.clock != nullptr ? globals.clock->getRealTime() : 0;
}

irr::scene::IAnimatedMesh* meshOf(irr::s32 id) {
    return globals.resources != nullptr ? globals.resources->getMesh(id) : nullptr;
}

irr::core::matrix4 rotationMatrix(const vector3df& degrees) {
    irr::core::matrix4 turn;
    turn.setRotationDegrees(degrees);
    return turn;
}

vector3df turned(const irr::core::matrix4& turn, const vector3df& v) {
    vector3df out;
    turn.rotateVect(out, v);
    return out;
}

// Lights point along their node's z axis.
void pointLight(irr::scene::ILightSceneNode* light, const vector3df& position, const vector3df& direction) {
    if (isFinite(position) && isFinite(direction)) {
        light->setPosition(position);
        light->setRotation(direction.getHorizontalAngle());
    }
}

}  // namespace

Ship::Ship(bool isPlayer, const std::string& name, const std::wstring& registration, const std::wstring& className,
           const vector3df& startPosition, const vector3df& startRotation, const vector3df& size, float mass,
           float linearDamping, const vector3df& angularDamping, const ShipTuning& tuning, irr::s32 mesh)
    : Object(OBJECT_SHIP, name, size),
      player(isPlayer),
      tuning(tuning),
      mass(mass),
      linearDamping(linearDamping),
      angularDamping(angularDamping),
      targeted(isPlayer),
      className(className),
      registration(registration) {
    // A ship is never put anywhere non-finite: the nodes, the body and the
    // sound would carry it on.
    this->position = isFinite(startPosition) ? startPosition : vector3df();
    this->rotation = isFinite(startRotation) ? startRotation : vector3df();

    irr::scene::ISceneManager* scene = globals.sceneManager;
    node = addMeshNode(mesh, nullptr, vector3df());
    if (node == nullptr) {
        return;
    }
    // Placed at once (Object keeps the node current): a bullet may test
    // against the ship's triangles before the scene is next drawn.
    node->setRotation(rotation);
    node->setPosition(position);
    node->updateAbsolutePosition();
    if (globals.physics != nullptr) {
        body = globals.physics->createShipBody(this, position, rotation, size, mass, linearDamping, angularDamping);
    }
    setName(name);

    if (player) {
        const vector3df mount(0.0f, 0.0f, 3.0f);
        const struct {
            irr::s32 mesh;
            irr::scene::IAnimatedMeshSceneNode** node;
            bool lighting;
        } parts[] = {{MESH_COCKPIT, &cockpitNode, true},
                     {MESH_GUN_LEFT, &leftGunNode, false},
                     {MESH_GUN_RIGHT, &rightGunNode, false}};
        for (const auto& part : parts) {
            *part.node = scene->addAnimatedMeshSceneNode(meshOf(part.mesh), node, -1, mount);
            if (*part.node != nullptr) {
                (*part.node)->setVisible(true);
                (*part.node)->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
                (*part.node)->setMaterialFlag(irr::video::EMF_LIGHTING, part.lighting);
            }
        }
        cockpitLight = scene->addLightSceneNode(node, mount, lightColors.cockpit, 3.0f);
        if (cockpitLight != nullptr) {
            cockpitLight->getLightData().AmbientColor = irr::video::SColorf(0.0f, 0.0f, 0.0f, 1.0f);
        }
        headLight = scene->addLightSceneNode(nullptr, position, lightColors.head, 250.0f);
        if (headLight != nullptr) {
            headLight->setLightType(irr::video::ELT_SPOT);
            irr::video::SLight& light = headLight->getLightData();
            light.Falloff = 0.5f;
            light.InnerCone = 30.0f;
            light.OuterCone = 50.0f;
            light.CastShadows = true;
            pointLight(headLight, position, vector3df(0.0f, 0.0f, 1.0f));
        }
    }

    if (globals.particleSystem != nullptr) {
        leftTrail = globals.particleSystem->addShipBubbleTrail(vector3df(-1.5f, 0.0f, -4.0f), node);
        rightTrail = globals.particleSystem->addShipBubbleTrail(vector3df(1.5f, 0.0f, -4.0f), node);
    }

    engineChannel = playSoundAt(SOUND_SHIP_ENGINE, position + vector3df(0.0f, 0.0f, -3.0f));

    irr::scene::IAnimatedMesh* beam = meshOf(MESH_SPOTLIGHT);
    irr::scene::IMeshManipulator* manipulator = scene->getMeshManipulator();
    if (beam != nullptr && beam->getMesh(0) != nullptr && manipulator != nullptr) {
        beamMesh = manipulator->createMeshCopy(beam->getMesh(0));
    }
    if (beamMesh != nullptr) {
        beamNode = scene->addMeshSceneNode(beamMesh, node);
        if (beamNode != nullptr) {
            beamNode->setMaterialFlag(irr::video::EMF_LIGHTING, false);
            beamNode->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
            beamNode->setMaterialFlag(irr::video::EMF_BACK_FACE_CULLING, false);
            beamNode->setMaterialType(irr::video::EMT_TRANSPARENT_ADD_COLOR);
            beamNode->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
            if (player) {
                beamNode->setPosition(vector3df(0.0f, -2.0f, 5.0f));
                beamNode->setScale(vector3df(5.0f, 4.0f, 3.0f));
                beamNode->setRotation(vector3df(20.0f, 0.0f, 0.0f));
            } else {
                beamNode->setPosition(vector3df(0.0f, -1.5f, 5.0f));
                beamNode->setScale(vector3df(4.0f, 3.0f, 2.0f));
                beamNode->setRotation(vector3df(10.0f, 0.0f, 0.0f));
            }
            beamNode->setVisible(true);
        }
        manipulator->setVertexColors(beamMesh, irr::video::SColor(64, 80, 96, 96));
    }
}

Ship::~Ship() {
    if (globals.particleSystem != nullptr) {
        if (leftTrail >= 0) {
            globals.particleSystem->removeEffectsOf(leftTrail);
        }
        if (rightTrail >= 0) {
            globals.particleSystem->removeEffectsOf(rightTrail);
        }
    }
    // A looping sound would otherwise go on where the ship was.
    if (engineChannel != NO_CHANNEL) {
        FSOUND_StopSound(engineChannel);
    }
    if (beamMesh != nullptr) {
        beamMesh->drop();
    }
    if (globals.physics != nullptr && body != nullptr) {
        globals.physics->destroyShipBody(this);
    }
    body = nullptr;
    // Weapons remove nodes that hang on the ship's node: they go while it
    // still stands.
    for (Weapon* weapon : weapons) {
        delete weapon;
    }
    weapons.clear();
    if (headLight != nullptr) {
        headLight->remove();
    }
    if (node != nullptr) {
        node->remove();
    }
}

void Ship::addWeapon(int32_t kind, const vector3df& offset) {
    if (kind == WEAPON_GUN) {
        gunSpeed = 160;
        weapons.push_back(new Weapon(this, offset, WEAPON_GUN, 0, 0, 5000, 160));
    } else if (kind == WEAPON_TORPEDO_LAUNCHER) {
        weapons.push_back(new Weapon(this, offset, WEAPON_TORPEDO_LAUNCHER, 5000, 2000, 30000, 0));
    }
}

void Ship::setThrustInput(const vector3df& value) { thrustInput = finiteOrZero(value); }
void Ship::setSteeringInput(const vector3df& value) { steeringInput = finiteOrZero(value); }

void Ship::getTuning(float& maxReverseThrust, float& maxForwardThrust, float& pitchRate, float& yawRate,
                     float& rollRate, float& verticalThrust, float& lateralThrust, float& pitchLimit,
                     float& rollLimit) const {
    maxReverseThrust = tuning.maxReverseThrust;
    maxForwardThrust = tuning.maxForwardThrust;
    pitchRate = tuning.pitchRate;
    yawRate = tuning.yawRate;
    rollRate = tuning.rollRate;
    verticalThrust = tuning.verticalThrust;
    lateralThrust = tuning.lateralThrust;
    pitchLimit = tuning.pitchLimit;
    rollLimit = tuning.rollLimit;
}

void Ship::damage(float amount) {
    if (std::isfinite(amount)) {
        hull -= amount;
    }
}

void Ship::recoilLeftGun() {
    if (leftGunNode != nullptr) {
        leftGunNode->setPosition(vector3df(0.0f, 0.0f, GUN_RECOIL_Z));
    }
}

void Ship::recoilRightGun() {
    if (rightGunNode != nullptr) {
        rightGunNode->setPosition(vector3df(0.0f, 0.0f, GUN_RECOIL_Z));
    }
}

void Ship::setEngineOn(bool on) {
    // A channel still playing is stopped first: playing over it would leave
    // a looping sound no one can stop.
    if (engineChannel != NO_CHANNEL) {
        FSOUND_StopSound(engineChannel);
        engineChannel = NO_CHANNEL;
    }
    engineOn = on ? 1 : 0;
    if (on) {
        engineChannel = playSound(SOUND_SHIP_ENGINE);
    }
}

void Ship::setLightsOn(bool on) {
    const uint32_t time = now();
    if (time - lastLightToggle > LIGHT_FADE_MS) {
        lastLightToggle = time;
        lightsOn = on;
    }
}

void Ship::hideCockpit() {
    for (irr::scene::ISceneNode* part : {static_cast<irr::scene::ISceneNode*>(leftGunNode),
                                         static_cast<irr::scene::ISceneNode*>(rightGunNode),
                                         static_cast<irr::scene::ISceneNode*>(cockpitNode)}) {
        if (part != nullptr) {
            part->setVisible(false);
        }
    }
}

void Ship::drawCockpit() {
    if (!player) {
        return;
    }
    for (irr::scene::ISceneNode* part : {static_cast<irr::scene::ISceneNode*>(cockpitNode),
                                         static_cast<irr::scene::ISceneNode*>(leftGunNode),
                                         static_cast<irr::scene::ISceneNode*>(rightGunNode)}) {
        if (part != nullptr) {
            part->setVisible(true);
            part->render();
        }
    }
}

void Ship::playCollisionSound() {
    const uint32_t time = now();
    if (time - lastCollisionSound <= COLLISION_SOUND_GAP_MS) {
        return;
    }
    const int32_t channel = playSound(SOUND_COLLISION);
    if (channel != NO_CHANNEL) {
        FSOUND_SetFrequency(channel, 10000 + static_cast<int32_t>(tarnwell::scene::random() % 4000));
        placeSound(channel, position);
    }
    lastCollisionSound = time;
}

void Ship::setTarget(Ship* target) {
    Ship* aim = target != nullptr && target->isPlayer() ? nullptr : target;
    for (Weapon* weapon : weapons) {
        if (weapon == nullptr) {
            break;
        }
        if (weapon->getType() == WEAPON_TORPEDO_LAUNCHER) {
            weapon->setTarget(aim);
        }
    }
}

void Ship::selectNextTarget() {
    const std::vector<Ship*> ships(globals.shipList.begin(), globals.shipList.end());
    std::vector<TargetRecord> records(ships.size());
    for (size_t i = 0; i < ships.size(); ++i) {
        if (ships[i] == nullptr) {
            records[i].present = false;
            continue;
        }
        records[i].targeted = ships[i]->isTargeted();
        records[i].hull = ships[i]->getHull();
        records[i].onRadar = ships[i]->isOnRadar();
    }
    const TargetChoice choice = chooseNextTarget(records);
    if (choice.cleared >= 0) {
        ships[choice.cleared]->setTargeted(false);
        setTarget(nullptr);
    }
    if (choice.chosen >= 0) {
        ships[choice.chosen]->setTargeted(true);
        setTarget(ships[choice.chosen]);
    }
}

void Ship::destroy() {
    const uint32_t events =
        destructionStep(destruction, now(), body != nullptr, tarnwell::scene::randomSource());
    ParticleSystem* effects = globals.particleSystem;
    if ((events & DESTROY_BEGIN) != 0) {
        // Forgotten once removed, so that neither the force step switches the
        // emitters back on nor the destructor restarts their retirement.
        if (effects != nullptr) {
            if (leftTrail >= 0) {
                effects->removeEffectsOf(leftTrail);
            }
            if (rightTrail >= 0) {
                effects->removeEffectsOf(rightTrail);
            }
        }
        leftTrail = -1;
        rightTrail = -1;
        if (targeted && globals.playerShip != nullptr) {
            globals.playerShip->selectNextTarget();
        }
    }
    if ((events & DESTROY_SHIP_EXPLOSION) != 0 && effects != nullptr && node != nullptr) {
        effects->addShipExplosion(node);
    }
    if ((events & DESTROY_SMALL_EXPLOSION) != 0) {
        playSoundAt(SOUND_EXPLOSION_SMALL, position);
    }
    if ((events & DESTROY_BREAK) != 0) {
        if (effects != nullptr) {
            effects->addDebrisBurst(position);
        }
        playSoundAt(SOUND_EXPLOSION_LARGE, position);
        dead = true;
    }
}

void Ship::update(float dt) {
    const irr::core::matrix4 turn = rotationMatrix(rotation);
    direction = turned(turn, vector3df(0.0f, 0.0f, 1.0f));

    if (!player) {
        if (node != nullptr && isFinite(position) && isFinite(rotation)) {
            node->setPosition(position);
            node->setRotation(rotation);
        }
        if (hull <= 0.0f) {
            destroy();
        }
        return;
    }

    for (irr::scene::ISceneNode* gun : {static_cast<irr::scene::ISceneNode*>(leftGunNode),
                                        static_cast<irr::scene::ISceneNode*>(rightGunNode)}) {
        if (gun != nullptr) {
            gun->setPosition(vector3df(0.0f, 0.0f, gunRecoilStep(gun->getPosition().Z, dt)));
        }
    }

    const uint32_t sinceToggle = now() - lastLightToggle;
    if (sinceToggle < LIGHT_FADE_MS) {
        fadeLights(lightColors, lightsOn, sinceToggle);
        if (headLight != nullptr) {
            headLight->getLightData().DiffuseColor = lightColors.head;
        }
        if (cockpitLight != nullptr) {
            cockpitLight->getLightData().DiffuseColor = lightColors.cockpit;
        }
        if (beamMesh != nullptr && globals.sceneManager != nullptr) {
            globals.sceneManager->getMeshManipulator()->setVertexColors(beamMesh, beamColor(lightColors.head));
        }
    }

    if (headLight != nullptr) {
        pointLight(headLight, position + turned(turn, vector3df(0.0f, -2.0f, 5.0f)), direction);
    }

    for (Weapon* weapon : weapons) {
        if (weapon == nullptr) {
            break;
        }
        weapon->update();
    }

    if (position.Y > -60.0f && !surfaced) {
        onSurfaced();
    } else if (position.Y < -70.0f && surfaced) {
        onSubmerged();
    }
}

void Ship::applyForces(const dgWorld* world, dgBody* physicsBody) {
    if (physicsBody == nullptr) {
        return;
    }
    float bodyMass = 0.0f;
    float inertia[3] = {};
    dgBodyGetMassMatrix(physicsBody, &bodyMass, &inertia[0], &inertia[1], &inertia[2]);
    const float dt = dgWorldGetTimeStep(world);

    if (player && engineChannel != NO_CHANNEL) {
        const int32_t frequency = FSOUND_GetFrequency(engineChannel);
        FSOUND_SetFrequency(engineChannel,
                            engineFrequency(frequency, thrustInput.Z, tuning.maxForwardThrust, dt));
    }

    ShipForceInput in;
    in.steering = shipSteeringOf(player, name);
    in.rotation = rotation;
    in.thrustInput = thrustInput;
    in.steeringInput = steeringInput;
    in.mass = bodyMass;
    in.dt = dt;
    in.tuning = tuning;
    float omega[3] = {};
    float damping[3] = {};
    dgBodyGetOmega(physicsBody, omega);
    dgBodyGetAngularDamping(physicsBody, damping);
    in.omega = vector3df(omega[0], omega[1], omega[2]);
    in.damping = vector3df(damping[0], damping[1], damping[2]);
    in.surfaced = surfaced;
    in.bobbing = bobbing;
    const ShipForceOutput out = shipForceStep(in);

    const float force[3] = {out.force.X, out.force.Y, out.force.Z};
    const float spin[3] = {out.omega.X, out.omega.Y, out.omega.Z};
    dgBodySetForce(physicsBody, force);
    dgBodySetOmega(physicsBody, spin);
    float speed[3] = {};
    dgBodyGetVelocity(physicsBody, speed);
    velocity = vector3df(speed[0], speed[1], speed[2]);

    placeSound(engineChannel, position + turned(rotationMatrix(rotation), vector3df(0.0f, 0.0f, -3.0f)));

    if (globals.particleSystem != nullptr) {
        for (int32_t trail : {leftTrail, rightTrail}) {
            if (trail < 0) {
                continue;
            }
            if (out.idle) {
                globals.particleSystem->disableEmitters(trail);
            } else {
                globals.particleSystem->enableEmitters(trail);
            }
        }
    }
}

void Ship::onSurfaced() {
    surfaced = true;
    savedEngineOn = isEngineOn();
    setEngineOn(false);
    const auto jitter = [] { return static_cast<float>(tarnwell::scene::random() % 30) / 1000.0f - 0.015f; };
    bobbing.Z = jitter();
    bobbing.Y = jitter();
    bobbing.X = jitter();
}

void Ship::onSubmerged() {
    surfaced = false;
    setEngineOn(savedEngineOn);
}

void forgetShip(Ship* ship) {
    if (ship == nullptr) {
        return;
    }
    for (Ship* other : globals.shipList) {
        if (other == nullptr) {
            continue;
        }
        for (Weapon* weapon : other->getWeapons()) {
            if (weapon != nullptr && weapon->getTarget() == ship) {
                weapon->setTarget(nullptr);
            }
        }
    }
    for (Torpedo* torpedo : globals.torpedoList) {
        if (torpedo != nullptr && torpedo->getTarget() == ship) {
            torpedo->setTarget(nullptr);
        }
    }
    for (Weapon* weapon : ship->getWeapons()) {
        if (weapon != nullptr && globals.lastGunFired == weapon) {
            globals.lastGunFired = nullptr;
        }
    }
    if (globals.playerShip == ship) {
        globals.playerShip = nullptr;
    }
    if (globals.hud != nullptr) {
        globals.hud->forgetShip(ship);
    }
}

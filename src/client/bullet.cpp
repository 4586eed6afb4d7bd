#include "client/bullet.h"

#include "client/engine/COrientedBillboardSceneNode.h"
#include "client/engine/Finite.h"
#include "client/entitysound.h"
#include "client/globals.h"
#include "client/particlesystem.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/station.h"
#include "client/torpedo.h"
#include "client/trash.h"
#include "client/weaponmath.h"

#include <cmath>

using tarnwell::isFinite;

namespace {

// How far ahead the launch ray looks for the terrain.
constexpr float TERRAIN_RAY_LENGTH = 1000.0f;
// Probe B's length along the flight.
constexpr float PROBE_AHEAD = 5.0f;

}  // namespace

Bullet::Bullet(const irr::core::vector3df& position, int32_t lifetimeMs, irr::video::ITexture* texture,
               int32_t speed, const irr::core::vector3df& direction, float probeLength)
    : position(position),
      lifetimeMs(lifetimeMs),
      texture(texture),
      speed(speed),
      direction(direction),
      probeLength(probeLength) {
    if (!isFinite(position) || !isFinite(direction) || !std::isfinite(probeLength)) {
        dead = true;
        return;
    }
    node = tarnwell::scene::addOrientedBillboardSceneNode(globals.sceneManager, nullptr,
                                                          irr::core::dimension2df(1.5f, 1.5f), position);
    if (node != nullptr) {
        // The gun may outlive the scene's own hold on the sprite (a cleared
        // scene); the bullet's reference keeps the pointer good until it goes.
        node->grab();
        node->setMaterialFlag(irr::video::EMF_LIGHTING, false);
        node->setMaterialTexture(0, texture);
        node->setMaterialType(irr::video::EMT_TRANSPARENT_ADD_COLOR);
        node->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
        node->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
        node->setOwnUp(true);
        turnSprite();
    }

    irr::scene::ITriangleSelector* ground =
        globals.terrainNode != nullptr ? globals.terrainNode->getTriangleSelector() : nullptr;
    if (ground == nullptr || globals.sceneManager == nullptr) {
        return;
    }
    const irr::core::line3df ray(position, position + direction * TERRAIN_RAY_LENGTH);
    irr::core::vector3df point;
    irr::core::triangle3df triangle;
    irr::scene::ISceneNode* hitNode = nullptr;
    if (globals.sceneManager->getSceneCollisionManager()->getCollisionPoint(ray, ground, point, triangle,
                                                                            hitNode)) {
        terrainHit = true;
        terrainHitPoint = point;
        lastTerrainDistance = (point - position).getLength();
    }
}

Bullet::~Bullet() {
    if (node != nullptr) {
        node->remove();
        node->drop();
    }
}

void Bullet::update(uint32_t elapsed) {
    if (dead) {
        return;
    }
    lifetimeMs = remainingLifetime(lifetimeMs, elapsed);
    if (lifetimeMs < 1) {
        dead = true;
        return;
    }

    spin = bulletSpin(spin, elapsed);
    turnSprite();

    const irr::core::vector3df next = bulletAdvance(position, direction, speed, elapsed);
    if (!isFinite(next)) {
        dead = true;
        return;
    }
    position = next;
    if (node != nullptr) {
        node->setPosition(position);
    }

    if (terrainHit) {
        const TerrainPass pass = bulletTerrainPass(terrainHitPoint, position, lastTerrainDistance);
        terrainDistance = pass.distance;
        if (pass.passed) {
            if (globals.particleSystem != nullptr) {
                globals.particleSystem->addBlueImpact(position - direction * 5.0f +
                                                      irr::core::vector3df(0.0f, 2.0f, 0.0f));
            }
            dead = true;
            playSoundAt(SOUND_EXPLOSION_SMALL, position);
            return;
        }
        lastTerrainDistance = terrainDistance;
    }

    if (checkShipHits() || checkStationHits() || checkTorpedoHits()) {
        return;
    }
    checkTrashHits();
}

void Bullet::turnSprite() {
    if (node == nullptr) {
        return;
    }
    // The sprite's up follows the player's view, so the spin reads as a turn
    // on the screen whatever the ship's attitude.
    irr::core::matrix4 view;
    if (globals.playerShip != nullptr) {
        view.setRotationDegrees(globals.playerShip->getRotation());
    }
    node->setRollAngle(spin);
    node->setOrientation(view);
}

bool Bullet::meets(irr::scene::ISceneNode* target, const irr::core::line3df& segment) {
    if (target == nullptr || globals.sceneManager == nullptr) {
        return false;
    }
    irr::scene::ITriangleSelector* selector = target->getTriangleSelector();
    if (selector == nullptr) {
        return false;
    }
    irr::core::vector3df point;
    irr::core::triangle3df triangle;
    irr::scene::ISceneNode* hitNode = nullptr;
    return globals.sceneManager->getSceneCollisionManager()->getCollisionPoint(segment, selector, point,
                                                                               triangle, hitNode);
}

irr::core::line3df Bullet::probeToward(const irr::core::vector3df& centre) const {
    irr::core::vector3df toward = centre - position;
    toward.normalize();
    return irr::core::line3df(position, position + toward * probeLength);
}

irr::core::line3df Bullet::probeAhead() const {
    return irr::core::line3df(position, position + direction * PROBE_AHEAD);
}

void Bullet::strike(const irr::core::vector3df& impact) {
    if (globals.particleSystem != nullptr) {
        globals.particleSystem->addFireImpact(impact);
    }
    dead = true;
    playSoundAt(SOUND_EXPLOSION_SMALL, position);
}

bool Bullet::checkShipHits() {
    for (Ship* ship : globals.shipList) {
        if (ship == nullptr) {
            break;
        }
        if (ship == globals.playerShip || !ship->isWithinRadius(position)) {
            continue;
        }
        if (meets(ship->getNode(), probeToward(ship->getPosition())) ||
            meets(ship->getNode(), probeAhead())) {
            strike(position);
            ship->damage(damage);
            return true;
        }
    }
    return false;
}

bool Bullet::checkStationHits() {
    for (Station* station : globals.stationList) {
        if (station == nullptr) {
            break;
        }
        if (!station->contains(position)) {
            continue;
        }
        const irr::core::line3df toward = probeToward(station->getPosition());
        const irr::core::line3df ahead = probeAhead();
        irr::scene::ISceneNode* const parts[] = {station->getNode(), station->getDoorNode1(),
                                                 station->getDoorNode2()};
        for (irr::scene::ISceneNode* part : parts) {
            if (meets(part, toward) || meets(part, ahead)) {
                strike(position - direction);
                return true;
            }
        }
    }
    return false;
}

bool Bullet::checkTorpedoHits() {
    for (Torpedo* torpedo : globals.torpedoList) {
        if (torpedo == nullptr) {
            break;
        }
        if (torpedo->contains(position) && meets(torpedo->getNode(), probeToward(torpedo->getPosition()))) {
            strike(position - direction);
            torpedo->explode(false);
            return true;
        }
    }
    return false;
}

bool Bullet::checkTrashHits() {
    for (Trash* piece : globals.trashList) {
        if (piece == nullptr) {
            break;
        }
        if (piece->contains(position) && meets(piece->getNode(), probeToward(piece->getPosition()))) {
            strike(position - direction);
            piece->hit();
            return true;
        }
    }
    return false;
}

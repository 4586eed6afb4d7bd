#include "client/engine/Finite.h"
#include "client/weapon.h"

#include "client/bullet.h"
#include "client/entitysound.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/weaponmath.h"

using tarnwell::isFinite;

namespace {

// A bullet starts this far ahead of the muzzle, clear of the ship's hull.
constexpr float BULLET_START_AHEAD = 3.1f;
// The torpedo's body box as launched.
const irr::core::vector3df TORPEDO_BODY_SIZE(0.5f, 0.5f, 2.0f);

uint32_t realTime() {
    return globals.clock != nullptr ? globals.clock->getRealTime() : 0;
}

irr::video::ITexture* texture(irr::s32 id) {
    return globals.resources != nullptr ? globals.resources->getTexture(id) : nullptr;
}

// Deletes every dead entry after its update and erases it, walking on from
// the erased place; a null entry ends the walk.
template <typename T>
void updateAndReap(std::list<T*>& entries, uint32_t elapsed) {
    for (auto it = entries.begin(); it != entries.end();) {
        T* entry = *it;
        if (entry == nullptr) {
            return;
        }
        entry->update(elapsed);
        if (entry->isDead()) {
            it = entries.erase(it);
            delete entry;
        } else {
            ++it;
        }
    }
}

}  // namespace

Weapon::Weapon(Ship* owner, const irr::core::vector3df& offset, int32_t kind, uint32_t reloadMs,
               uint32_t secondDuration, int32_t lifetimeMs, int32_t projectileSpeed)
    : Object(OBJECT_WEAPON, "", irr::core::vector3df(1.0f, 1.0f, 1.0f)),
      kind(kind),
      locked(kind == WEAPON_GUN),
      reloadMs(reloadMs),
      secondDuration(secondDuration),
      lifetimeMs(lifetimeMs),
      projectileSpeed(projectileSpeed),
      owner(owner) {
    position = offset;
    lastUpdateTime = realTime();

    irr::scene::ISceneNode* hull = owner != nullptr ? owner->getNode() : nullptr;
    if (hull == nullptr || globals.sceneManager == nullptr || !isFinite(offset)) {
        return;
    }
    // Both nodes hang on the ship's node, which the ship removes before it
    // deletes its weapons: the weapon's own references keep them valid.
    node = globals.sceneManager->addEmptySceneNode(hull);
    if (node != nullptr) {
        node->grab();
        node->setPosition(offset);
        node->setVisible(false);
    }
    muzzleFlash = globals.sceneManager->addBillboardSceneNode(hull, irr::core::dimension2df(1.0f, 1.0f),
                                                              muzzleFlashOffset(offset));
    if (muzzleFlash != nullptr) {
        muzzleFlash->grab();
        muzzleFlash->setMaterialTexture(0, texture(TEXTURE_GUN_MUZZLE));
        muzzleFlash->setMaterialFlag(irr::video::EMF_LIGHTING, false);
        muzzleFlash->setMaterialType(irr::video::EMT_TRANSPARENT_ADD_COLOR);
        muzzleFlash->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
        muzzleFlash->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, globals.anisotropicFilter);
        muzzleFlash->setVisible(false);
    }
}

Weapon::~Weapon() {
    for (Bullet* bullet : bullets) {
        delete bullet;
    }
    bullets.clear();
    if (node != nullptr) {
        node->remove();
        node->drop();
        node = nullptr;
    }
    if (muzzleFlash != nullptr) {
        muzzleFlash->remove();
        muzzleFlash->drop();
    }
}

irr::core::vector3df Weapon::muzzlePosition() {
    if (node != nullptr) {
        // The ship's node may have turned since the scene last placed it.
        if (node->getParent() != nullptr) {
            node->getParent()->updateAbsolutePosition();
        }
        node->updateAbsolutePosition();
        return node->getAbsolutePosition();
    }
    if (owner == nullptr) {
        return position;
    }
    irr::core::matrix4 turn;
    turn.setRotationDegrees(owner->getRotation());
    irr::core::vector3df mount = position;
    turn.rotateVect(mount);
    return owner->getPosition() + mount;
}

void Weapon::fire() {
    const irr::core::vector3df muzzle = muzzlePosition();
    if (!isFinite(muzzle)) {
        return;
    }
    if (kind == WEAPON_GUN) {
        const irr::core::vector3df start = muzzle + direction * BULLET_START_AHEAD;
        bullets.push_back(
            new Bullet(start, lifetimeMs, texture(TEXTURE_BULLET), projectileSpeed, direction, 1.0f));
        playSoundAt(SOUND_GUN_SHOT, start);
        if (owner != nullptr) {
            if (position.X >= 0.0f) {
                owner->recoilRightGun();
            } else {
                owner->recoilLeftGun();
            }
        }
        if (muzzleFlash != nullptr) {
            muzzleFlash->setVisible(true);
        }
    } else if (kind == WEAPON_TORPEDO_LAUNCHER) {
        const uint32_t now = realTime();
        if (!launcherMayFire(locked, hasFired, now, lastFireTime, reloadMs)) {
            return;
        }
        lastFireTime = now;
        hasFired = true;
        playSound(SOUND_TORPEDO_LAUNCH);
        const int32_t engine = playSound(SOUND_TORPEDO_ENGINE);
        const irr::core::vector3df launchVelocity =
            owner != nullptr ? owner->getVelocity() : irr::core::vector3df();
        globals.torpedoList.push_back(
            new Torpedo(muzzle, launchVelocity, lifetimeMs, MESH_TORPEDO, TORPEDO_BODY_SIZE, target, engine));
    }
}

void Weapon::update() {
    const uint32_t now = realTime();
    const uint32_t elapsed = now - lastUpdateTime;
    lastUpdateTime = now;

    if (owner != nullptr) {
        irr::core::matrix4 turn;
        turn.setRotationDegrees(owner->getRotation());
        irr::core::vector3df forward(0.0f, 0.0f, 1.0f);
        turn.rotateVect(forward);
        // A rotation that is not finite keeps the last good direction.
        if (isFinite(forward)) {
            direction = forward;
        }
    }

    if (kind == WEAPON_GUN) {
        if (muzzleFlash != nullptr && muzzleFlashExpired(lastUpdateTime, globals.lastShotTime)) {
            muzzleFlash->setVisible(false);
        }
        updateAndReap(bullets, elapsed);
    } else if (kind == WEAPON_TORPEDO_LAUNCHER) {
        locked = true;
        updateAndReap(globals.torpedoList, elapsed);
        globals.trackedTorpedo = globals.torpedoList.empty() ? nullptr : globals.torpedoList.back();
    }
}

void Weapon::setTarget(Ship* value) {
    locked = false;
    target = value;
    lockStartTime = realTime();
}

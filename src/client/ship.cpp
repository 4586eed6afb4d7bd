#include "client/ship.h"

#include "client/weapon.h"

Ship::Ship(bool isPlayer, const std::string& name, const std::wstring& registration, const std::wstring& className,
           const irr::core::vector3df& position, const irr::core::vector3df& rotation,
           const irr::core::vector3df& size, float mass, float linearDamping,
           const irr::core::vector3df& angularDamping, const ShipTuning& tuning, irr::s32)
    : Object(OBJECT_SHIP, name, size),
      player(isPlayer),
      tuning(tuning),
      mass(mass),
      linearDamping(linearDamping),
      angularDamping(angularDamping),
      targeted(isPlayer),
      className(className),
      registration(registration) {
    this->position = position;
    this->rotation = rotation;
}

Ship::~Ship() {
    for (Weapon* weapon : weapons) {
        delete weapon;
    }
}

void Ship::addWeapon(int32_t, const irr::core::vector3df&) {}
void Ship::setThrustInput(const irr::core::vector3df& value) { thrustInput = value; }
void Ship::setSteeringInput(const irr::core::vector3df& value) { steeringInput = value; }
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
void Ship::damage(float amount) { hull -= amount; }
void Ship::recoilLeftGun() {}
void Ship::recoilRightGun() {}
void Ship::setEngineOn(bool on) { engineOn = on ? 1 : 0; }
void Ship::setLightsOn(bool on) { lightsOn = on; }
void Ship::hideCockpit() {}
void Ship::drawCockpit() {}
void Ship::playCollisionSound() {}
void Ship::setTarget(Ship*) {}
void Ship::selectNextTarget() {}
void Ship::destroy() {}
void Ship::update(float) {}
void Ship::applyForces(const dgWorld*, dgBody*) {}
void Ship::onSurfaced() {}
void Ship::onSubmerged() {}

void forgetShip(Ship*) {}

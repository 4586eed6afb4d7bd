// A piloted craft: the player's ship and the enemies. It owns its scene
// nodes (hull, light beam; the player's cockpit, guns and lights), its box
// body, its weapons, two bubble trails and its engine sound. Each physics step
// it turns the controls' inputs into a force and a change of spin (the
// arithmetic is in shipmath.h), levels itself, turns when banked, sinks when
// surfaced and sets its engine pitch; each frame it animates the cockpit and
// lights, updates its weapons and runs an enemy's timed destruction. It also
// keeps the target selection.
//
// Times are globals.clock's real time in ms, compared as unsigned
// differences; random draws come from tarnwell::scene::random(); sound goes
// through the FSOUND layer and effects through globals.particleSystem. A
// ship without a node (its mesh could not be made) touches no node.
#pragma once

#include "client/object.h"
#include "client/shipmath.h"

#include <irrlicht.h>

#include <cstdint>
#include <list>
#include <string>

class Weapon;

class Ship : public Object {
public:
    // mesh: a resource id. A ship whose mesh node cannot be made has no node,
    // no body, no trails and no sound; it still updates. The stored position
    // and rotation are the given ones either way.
    Ship(bool isPlayer, const std::string& name, const std::wstring& registration, const std::wstring& className,
         const irr::core::vector3df& position, const irr::core::vector3df& rotation,
         const irr::core::vector3df& size, float mass, float linearDamping,
         const irr::core::vector3df& angularDamping, const ShipTuning& tuning, irr::s32 mesh);
    // Removes both trails, stops the engine sound, drops the beam mesh,
    // destroys the body, deletes the weapons (whose nodes hang on the ship's
    // node), then removes the head light and the node. Pointers others keep
    // to the ship are forgetShip's.
    ~Ship() override;

    // Kind 0: a gun (gunSpeed becomes 160); kind 1: a torpedo launcher;
    // other kinds add nothing. offset: the mount on the ship.
    void addWeapon(int32_t kind, const irr::core::vector3df& offset);
    const std::list<Weapon*>& getWeapons() const { return weapons; }

    const std::wstring& getRegistration() const { return registration; }
    const std::wstring& getClassName() const { return className; }
    // Controls write these each frame: thrust x lateral, y vertical, z main;
    // steering x pitch, y yaw, z roll. Non-finite inputs are taken as zero.
    void setThrustInput(const irr::core::vector3df& value);
    irr::core::vector3df getThrustInput() const { return thrustInput; }
    void setSteeringInput(const irr::core::vector3df& value);
    irr::core::vector3df getSteeringInput() const { return steeringInput; }
    // The first nine tuning values.
    void getTuning(float& maxReverseThrust, float& maxForwardThrust, float& pitchRate, float& yawRate,
                   float& rollRate, float& verticalThrust, float& lateralThrust, float& pitchLimit,
                   float& rollLimit) const;
    const ShipTuning& getShipTuning() const { return tuning; }
    float getMass() const { return mass; }
    bool isPlayer() const { return player; }
    bool isTargeted() const { return targeted; }
    void setTargeted(bool value) { targeted = value; }
    irr::core::vector3df getVelocity() const { return velocity; }
    irr::core::vector3df getDirection() const { return direction; }
    float getHull() const { return hull; }
    float getMaxHull() const { return maxHull; }
    bool isEngineOn() const { return engineOn == 1; }
    bool isLightsOn() const { return lightsOn; }
    int32_t getGunSpeed() const { return gunSpeed; }
    void setOnRadar(bool value) { onRadar = value; }
    bool isOnRadar() const { return onRadar; }
    bool isSurfaced() const { return surfaced; }
    int32_t getDestroyPhase() const { return destruction.phase; }
    // The engine sound's channel, -1 while none plays.
    int32_t getEngineChannel() const { return engineChannel; }
    // The two trails' effect ids, -1 when none (or removed).
    int32_t getLeftTrail() const { return leftTrail; }
    int32_t getRightTrail() const { return rightTrail; }
    // The player's head and cockpit light colours as the fade left them.
    const ShipLights& getLightColors() const { return lightColors; }
    irr::scene::ILightSceneNode* getHeadLight() const { return headLight; }
    irr::scene::ILightSceneNode* getCockpitLight() const { return cockpitLight; }
    irr::scene::IMesh* getBeamMesh() const { return beamMesh; }
    irr::scene::ISceneNode* getLeftGunNode() const { return leftGunNode; }
    irr::scene::ISceneNode* getRightGunNode() const { return rightGunNode; }
    irr::scene::ISceneNode* getCockpitNode() const { return cockpitNode; }

    bool isWithinRadius(const irr::core::vector3df& point) const { return contains(point); }
    // hull -= amount, no floor; a non-finite amount is refused.
    void damage(float amount);
    void recoilLeftGun();
    void recoilRightGun();
    // On starts the looping engine sound (a running one is stopped first, so
    // no channel is lost); off stops it.
    void setEngineOn(bool on);
    // Ignored within 1500 ms of the previous switch.
    void setLightsOn(bool on);
    void hideCockpit();
    void drawCockpit();
    // At most one per 500 ms.
    void playCollisionSound();

    // The launchers' target; null (or the player's own ship) means none.
    void setTarget(Ship* target);
    // Called on the player's ship: the next ship of globals.shipList on the
    // radar with hull above 0 becomes the target (the player's own ship
    // meaning none).
    void selectNextTarget();
    // An enemy's timed destruction, called by update while hull <= 0.
    void destroy();
    // Once a frame, dt seconds.
    void update(float dt);
    // The force callback's work, once per physics step: the body's force and
    // spin from shipForceStep, the engine pitch and sound position, the
    // trails paused without force. The inputs stay as the controls set them.
    // Nothing for a null body; nothing non-finite reaches the body or the
    // sound layer.
    void applyForces(const dgWorld* world, dgBody* body);
    void onSurfaced();
    void onSubmerged();

private:
    bool player;
    float hull = 1000.0f;
    float maxHull = 1000.0f;
    irr::scene::IAnimatedMeshSceneNode* cockpitNode = nullptr;
    irr::scene::IAnimatedMeshSceneNode* leftGunNode = nullptr;
    irr::scene::IAnimatedMeshSceneNode* rightGunNode = nullptr;
    irr::scene::IMeshSceneNode* beamNode = nullptr;
    irr::scene::IMesh* beamMesh = nullptr;  // owned copy of mesh 21
    irr::scene::ILightSceneNode* cockpitLight = nullptr;
    irr::scene::ILightSceneNode* headLight = nullptr;
    ShipTuning tuning;
    irr::core::vector3df thrustInput;
    irr::core::vector3df steeringInput;
    float mass;
    float linearDamping;
    irr::core::vector3df angularDamping;
    int32_t gunSpeed = 0;
    int32_t engineChannel = -1;
    irr::core::vector3df direction{0.0f, 0.0f, 1.0f};
    irr::core::vector3df velocity;
    bool targeted;
    std::list<Weapon*> weapons;  // owned
    std::wstring className;
    std::wstring registration;
    ShipDestruction destruction;
    int32_t leftTrail = -1;
    int32_t rightTrail = -1;
    int32_t engineOn = 1;
    bool savedEngineOn = false;
    bool lightsOn = true;
    uint32_t lastLightToggle = 0;
    uint32_t lastCollisionSound = 0;
    bool surfaced = false;
    irr::core::vector3df bobbing;
    bool onRadar = true;
    ShipLights lightColors;  // the player's lights, as last faded
};

// Clears every pointer the game keeps to `ship`: the launchers aimed at it
// (Weapon::setTarget(nullptr)), the torpedoes' targets, globals.lastGunFired
// when it is one of its guns, globals.playerShip when it is the player's
// (and the HUD's current target, once the HUD keeps one). The one place that
// does it: whoever deletes a ship calls it first, while globals.shipList
// and globals.torpedoList still hold only live entries. Null does nothing.
void forgetShip(Ship* ship);

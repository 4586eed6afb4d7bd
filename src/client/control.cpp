#include "client/control.h"

#include "client/eventreceiver.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/inifile.h"
#include "client/ship.h"
#include "client/weapon.h"

#include <irrlicht.h>

#include <vector>

namespace {

struct BindingDefault {
    const char* key;
    const char* name;
};

// [Controls] keys and their default key names, in binding order.
constexpr BindingDefault kBindings[Control::BINDING_COUNT] = {
    {"KeyMaxThrustForward", "A"},    {"KeyMaxThrustBackward", "Y"},  {"KeyIncreaseMainThrust", "PLUS"},
    {"KeyDecreaseMainThrust", "MINUS"}, {"KeyResetMainThrust", "BACK"}, {"KeyEngineSwitch", "GRAVE"},
    {"KeyRollLeft", "LEFT"},         {"KeyRollRight", "RIGHT"},      {"KeyPitchUp", "UP"},
    {"KeyPitchDown", "DOWN"},        {"KeyYawLeft", "Q"},            {"KeyYawRight", "E"},
    {"KeySteeringLeft", "S"},        {"KeySteeringRight", "D"},      {"KeySteeringUp", "R"},
    {"KeySteeringDown", "F"},        {"KeySelectNextTarget", "T"},   {"KeyFireMainWeapon", "SPACE"},
    {"KeyFireTorpedoWeapon", "TAB"}, {"KeyLightSwitch", "L"},
};

constexpr int32_t JOYSTICK_FIRE_GUNS = 0;
constexpr int32_t JOYSTICK_FIRE_TORPEDOES = 1;
constexpr int32_t JOYSTICK_NEXT_TARGET = 2;
// The "P" key's damage to every targeted ship.
constexpr float DAMAGE_KEY_AMOUNT = 2000.0f;

void fireGuns(Ship& ship) {
    const uint32_t now = globals.clock != nullptr ? globals.clock->getRealTime() : 0;
    if (!gunReady(now, globals.lastShotTime)) {
        return;
    }
    std::vector<Weapon*> weapons;
    std::vector<int32_t> kinds;
    int32_t lastFired = -1;
    for (Weapon* weapon : ship.getWeapons()) {
        if (weapon == nullptr) {
            break;
        }
        if (weapon == globals.lastGunFired) {
            lastFired = static_cast<int32_t>(weapons.size());
        }
        weapons.push_back(weapon);
        kinds.push_back(weapon->getType());
    }
    if (globals.fireAllGuns) {
        for (Weapon* weapon : weapons) {
            if (weapon->getType() == WEAPON_GUN) {
                weapon->fire();
            }
        }
    } else {
        const int32_t next = nextGunInTurn(kinds, lastFired);
        if (next >= 0) {
            globals.lastGunFired = weapons[next];
            weapons[next]->fire();
        }
    }
    globals.lastShotTime = now;
}

}  // namespace

Control::Control(bool mouseInverted) : keyCodes{}, mouseInverted(mouseInverted) {
    loadKeyBindings();
}

Control::~Control() = default;

void Control::loadKeyBindings() {
    std::vector<std::string> names;
    if (globals.iniFile != nullptr) {
        names = readKeyNames(*globals.iniFile);
    } else {
        for (const BindingDefault& binding : kBindings) {
            names.emplace_back(binding.name);
        }
    }
    for (int32_t i = 0; i < BINDING_COUNT; ++i) {
        keyCodes[i] = keyNameToKeyCode(names[static_cast<size_t>(i)]);
    }
}

std::vector<std::string> Control::readKeyNames(IniFile& ini) {
    std::vector<std::string> names;
    for (const BindingDefault& binding : kBindings) {
        names.push_back(ini.getString("Controls", binding.key, binding.name));
    }
    return names;
}

bool Control::readMouseInverted(IniFile& ini) {
    return ini.getInt("Controls", "MouseInverted", 0) == 1;
}

int32_t Control::getKeyCode(int32_t binding) const {
    return binding >= 0 && binding < BINDING_COUNT ? keyCodes[binding] : 0;
}

void Control::update() {
    if (globals.gameState == GS_MENU) {
        updateMenu();
    } else if (globals.gameState == GS_GAME_RUN) {
        updateGame();
    }
}

void Control::updateMenu() {
    EventReceiver* input = globals.eventReceiver;
    if (input == nullptr) {
        return;
    }
    if (input->isKeyDown(irr::KEY_ESCAPE)) {
        globals.gameState = GS_END;
    }
    if (input->isKeyDown(irr::KEY_TAB)) {
        irr::gui::IGUIEnvironment* gui = globals.gui;
        if (gui != nullptr) {
            if (globals.loginNameBox != nullptr && gui->hasFocus(globals.loginNameBox)) {
                gui->setFocus(globals.passwordBox);
            } else {
                gui->setFocus(globals.loginNameBox);
            }
        }
        input->clearKey(irr::KEY_TAB);
    }
    if (input->isKeyDown(irr::KEY_RETURN)) {
        globals.gameState = GS_GAME_RUN;
        input->clearKey(irr::KEY_RETURN);
    }
}

void Control::updateGame() {
    EventReceiver* input = globals.eventReceiver;
    if (input == nullptr) {
        return;
    }
    Ship* ship = globals.playerShip;
    const auto down = [&](Binding binding) { return input->isKeyDown(keyCodes[binding]); };

    ShipTuning tuning;
    float pitchLimit = 0.0f;
    float rollLimit = 0.0f;
    if (ship != nullptr) {
        ship->getTuning(tuning.maxReverseThrust, tuning.maxForwardThrust, tuning.pitchRate, tuning.yawRate,
                        tuning.rollRate, tuning.verticalThrust, tuning.lateralThrust, pitchLimit, rollLimit);
    }

    if (input->isKeyDown(irr::KEY_ESCAPE)) {
        globals.gameState = GS_MENU;
    }
    if (input->wasKeyReleased(irr::KEY_KEY_O)) {
        globals.debugDrawMode = (globals.debugDrawMode + 1) % 3;
        input->clearKey(irr::KEY_KEY_O);
    }

    irr::core::vector3df thrust(0.0f, 0.0f, mainThrust);
    irr::core::vector3df steering;
    if (ship != nullptr) {
        if (down(LIGHT_SWITCH)) {
            ship->setLightsOn(!ship->isLightsOn());
            input->clearKey(keyCodes[LIGHT_SWITCH]);
        }
        if (down(ENGINE_SWITCH)) {
            ship->setEngineOn(!ship->isEngineOn());
            input->clearKey(keyCodes[ENGINE_SWITCH]);
        }

        ThrustControls controls;
        controls.engineOn = ship->isEngineOn();
        if (controls.engineOn) {
            controls.throttle = applyDeadZone(input->getJoystickAxis3());
            controls.maxForward = down(MAX_THRUST_FORWARD);
            controls.maxBackward = down(MAX_THRUST_BACKWARD);
            controls.increase = down(INCREASE_MAIN_THRUST);
            controls.decrease = down(DECREASE_MAIN_THRUST);
            controls.reset = down(RESET_MAIN_THRUST);
            // One step per key-down event: auto-repeat sets the key again.
            if (controls.increase) {
                input->clearKey(keyCodes[INCREASE_MAIN_THRUST]);
            }
            if (controls.decrease) {
                input->clearKey(keyCodes[DECREASE_MAIN_THRUST]);
            }
        }
        const ThrustResult level =
            thrustStep(mainThrust, controls, tuning.maxReverseThrust, tuning.maxForwardThrust);
        thrust.Z = level.thrust;
        mainThrust = level.mainThrust;

        // The mouse steers an axis only while the right button is held, in
        // place of the joystick; keys add to either.
        const bool mouseSteers = input->isRightMouseDown();
        if (!down(ROLL_LEFT) && !down(ROLL_RIGHT)) {
            steering.Z += mouseSteers ? mouseSteering(globals.resolutionX, input->getMouseX(), true, tuning.rollRate)
                                      : -tuning.rollRate * applyDeadZone(input->getJoystickAxis0());
        }
        if (down(ROLL_LEFT)) {
            steering.Z += tuning.rollRate;
        }
        if (down(ROLL_RIGHT)) {
            steering.Z -= tuning.rollRate;
        }
        if (!down(PITCH_UP) && !down(PITCH_DOWN)) {
            steering.X += mouseSteers ? mouseSteering(globals.resolutionY, input->getMouseY(), mouseInverted,
                                                      tuning.pitchRate)
                                      : -tuning.pitchRate * applyDeadZone(input->getJoystickAxis1());
        }
        if (down(PITCH_UP)) {
            steering.X += tuning.pitchRate;
        }
        if (down(PITCH_DOWN)) {
            steering.X -= tuning.pitchRate;
        }
        if (!down(YAW_LEFT) && !down(YAW_RIGHT)) {
            steering.Y += tuning.yawRate * applyDeadZone(input->getJoystickAxis2());
        }
        if (down(YAW_LEFT)) {
            steering.Y -= tuning.yawRate;
        }
        if (down(YAW_RIGHT)) {
            steering.Y += tuning.yawRate;
        }
        if (down(STEERING_UP)) {
            thrust.Y += tuning.verticalThrust;
        }
        if (down(STEERING_DOWN)) {
            thrust.Y -= tuning.verticalThrust;
        }
        if (down(STEERING_LEFT)) {
            thrust.X -= tuning.lateralThrust;
        }
        if (down(STEERING_RIGHT)) {
            thrust.X += tuning.lateralThrust;
        }

        if (input->wasKeyReleased(keyCodes[SELECT_NEXT_TARGET]) ||
            input->wasJoystickButtonReleased(JOYSTICK_NEXT_TARGET)) {
            ship->selectNextTarget();
            input->clearKey(keyCodes[SELECT_NEXT_TARGET]);
            input->clearJoystickButton(JOYSTICK_NEXT_TARGET);
        }
        if (down(FIRE_MAIN_WEAPON) || input->isJoystickButtonDown(JOYSTICK_FIRE_GUNS) ||
            input->isLeftMouseDown()) {
            fireGuns(*ship);
        }
        if (down(FIRE_TORPEDO_WEAPON) || input->isJoystickButtonDown(JOYSTICK_FIRE_TORPEDOES)) {
            for (Weapon* weapon : ship->getWeapons()) {
                if (weapon == nullptr) {
                    break;
                }
                if (weapon->getType() == WEAPON_TORPEDO_LAUNCHER) {
                    weapon->fire();
                }
            }
            input->clearKey(keyCodes[FIRE_TORPEDO_WEAPON]);
        }
    }

    if (input->wasKeyReleased(irr::KEY_KEY_P)) {
        for (Ship* other : globals.shipList) {
            if (other != nullptr && other->isTargeted()) {
                other->damage(DAMAGE_KEY_AMOUNT);
            }
        }
        input->clearKey(irr::KEY_KEY_P);
    }
    if (input->isKeyDown(irr::KEY_F1)) {
        globals.drawCockpit = !globals.drawCockpit;
        input->clearKey(irr::KEY_F1);
    }
    if (ship != nullptr) {
        ship->setThrustInput(thrust);
        ship->setSteeringInput(steering);
    }
}

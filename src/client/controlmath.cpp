#include "client/controlmath.h"

#include <Keycodes.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace {

struct KeyName {
    const char* name;
    irr::EKEY_CODE code;
};

// The names that are not a letter, a digit, a keypad digit or a function key.
constexpr KeyName kNamedKeys[] = {
    {"BACK", irr::KEY_BACK},
    {"TAB", irr::KEY_TAB},
    {"CLEAR", irr::KEY_CLEAR},
    {"RETURN", irr::KEY_RETURN},
    {"SHIFT", irr::KEY_SHIFT},
    {"CONTROL", irr::KEY_CONTROL},
    {"PAUSE", irr::KEY_PAUSE},
    {"SPACE", irr::KEY_SPACE},
    {"PAGEUP", irr::KEY_PRIOR},
    {"PAGEDOWN", irr::KEY_NEXT},
    {"END", irr::KEY_END},
    {"HOME", irr::KEY_HOME},
    {"LEFT", irr::KEY_LEFT},
    {"UP", irr::KEY_UP},
    {"RIGHT", irr::KEY_RIGHT},
    {"DOWN", irr::KEY_DOWN},
    {"INSERT", irr::KEY_INSERT},
    {"DELETE", irr::KEY_DELETE},
    {"LEFTWINDOWS", irr::KEY_LWIN},
    {"RIGHTWINDOWS", irr::KEY_RWIN},
    {"MULTIPLY", irr::KEY_MULTIPLY},
    {"ADD", irr::KEY_ADD},
    {"SEPARATOR", irr::KEY_SEPARATOR},
    {"SUBTRACT", irr::KEY_SUBTRACT},
    {"DECIMAL", irr::KEY_DECIMAL},
    {"DIVIDE", irr::KEY_DIVIDE},
    {"NUMLOCK", irr::KEY_NUMLOCK},
    {"SCROLL", irr::KEY_SCROLL},
    {"SHIFTLEFT", irr::KEY_LSHIFT},
    {"SHIFTRIGHT", irr::KEY_RSHIFT},
    {"CONTROLLEFT", irr::KEY_LCONTROL},
    {"CONTROLRIGHT", irr::KEY_RCONTROL},
    {"MENULEFT", irr::KEY_LMENU},
    {"MENURIGHT", irr::KEY_RMENU},
    {"PLUS", irr::KEY_PLUS},
    {"COMMA", irr::KEY_COMMA},
    {"MINUS", irr::KEY_MINUS},
    {"PERIOD", irr::KEY_PERIOD},
    // The US layout's backslash key, not the grave accent's (KEY_OEM_3).
    {"GRAVE", irr::KEY_OEM_5},
};

std::unordered_map<std::string, int32_t> buildKeyTable() {
    std::unordered_map<std::string, int32_t> table;
    for (int32_t i = 0; i < 26; ++i) {
        table[std::string(1, static_cast<char>('A' + i))] = irr::KEY_KEY_A + i;
    }
    for (int32_t i = 0; i < 10; ++i) {
        table[std::string(1, static_cast<char>('0' + i))] = irr::KEY_KEY_0 + i;
        table["NUMPAD" + std::to_string(i)] = irr::KEY_NUMPAD0 + i;
    }
    for (int32_t i = 0; i < 12; ++i) {
        table["F" + std::to_string(i + 1)] = irr::KEY_F1 + i;
    }
    for (const KeyName& key : kNamedKeys) {
        table[key.name] = key.code;
    }
    return table;
}

}  // namespace

int32_t keyNameToKeyCode(const std::string& name) {
    static const std::unordered_map<std::string, int32_t> table = buildKeyTable();
    const auto found = table.find(name);
    return found != table.end() ? found->second : 0;
}

float applyDeadZone(float axis) {
    return std::isfinite(axis) && std::fabs(axis) >= 0.1f ? axis : 0.0f;
}

float mouseSteering(int32_t extent, int32_t position, bool towardCentre, float scale) {
    const int32_t half = extent / 2;
    const int32_t reach = half - half / 10;
    if (reach <= 0) {
        return 0.0f;
    }
    // In 64 bits: a position near the int range's ends must not overflow.
    const int64_t offset = towardCentre ? int64_t(half) - position : int64_t(position) - half;
    const int64_t clamped = std::clamp<int64_t>(offset, -reach, reach);
    return static_cast<float>(clamped) * scale / static_cast<float>(reach);
}

ThrustResult thrustStep(float mainThrust, const ThrustControls& controls, float maxReverseThrust,
                        float maxForwardThrust) {
    ThrustResult result;
    result.thrust = mainThrust;
    result.mainThrust = mainThrust;
    if (!controls.engineOn) {
        result.mainThrust = 0.0f;
        return result;
    }
    const float throttle = controls.throttle;
    if (throttle > 0.0f) {
        result.thrust = std::min(mainThrust + maxForwardThrust * throttle, maxForwardThrust);
    } else {
        result.thrust = std::max(mainThrust - maxReverseThrust * throttle, maxReverseThrust);
    }
    if (controls.maxForward) {
        result.thrust = maxForwardThrust;
    }
    if (controls.maxBackward) {
        result.thrust = maxReverseThrust;
    }
    if (controls.increase) {
        result.thrust = std::min(result.thrust + maxForwardThrust / 10.0f, maxForwardThrust);
        result.mainThrust = result.thrust;
    }
    if (controls.decrease) {
        result.thrust = std::max(result.thrust + maxReverseThrust / 10.0f, maxReverseThrust);
        result.mainThrust = result.thrust;
    }
    if (controls.reset) {
        result.thrust = 0.0f;
        result.mainThrust = 0.0f;
    }
    return result;
}

bool gunReady(uint32_t now, uint32_t lastShotTime) {
    return now - lastShotTime >= GUN_INTERVAL_MS;
}

int32_t nextGunInTurn(const std::vector<int32_t>& kinds, int32_t lastFired) {
    for (int32_t i = 0; i < static_cast<int32_t>(kinds.size()); ++i) {
        if (kinds[i] == 0 && i != lastFired) {
            return i;
        }
    }
    return -1;
}

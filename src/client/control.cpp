#include "client/control.h"

Control::Control(bool mouseInverted) : keyCodes{}, mouseInverted(mouseInverted) {}
Control::~Control() = default;
void Control::loadKeyBindings() {}
void Control::update() {}
void Control::updateMenu() {}
void Control::updateGame() {}
int32_t Control::getKeyCode(int32_t binding) const {
    return binding >= 0 && binding < 20 ? keyCodes[binding] : 0;
}
int32_t keyNameToKeyCode(const std::string&) { return 0; }

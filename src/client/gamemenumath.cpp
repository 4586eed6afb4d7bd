#include "client/gamemenumath.h"

namespace menumath {

std::array<MenuElement, 8> loginColumn(int32_t resolutionX, int32_t resolutionY) {
    const int32_t cx = resolutionX / 2;
    const int32_t cy = resolutionY / 2;
    const auto row = [&](int32_t top, int32_t bottom) { return irr::core::recti(cx - 60, cy + top, cx + 60, cy + bottom); };
    return {{
        {ElementKind::LABEL, L"Login name:", row(-56, -40), -1},
        {ElementKind::NAME_BOX, L"", row(-39, -14), -1},
        {ElementKind::LABEL, L"Password:", row(-11, 5), -1},
        {ElementKind::PASSWORD, L"", row(6, 31), -1},
        {ElementKind::BUTTON, L"Login", row(36, 61), kLoginButtonId},
        {ElementKind::BUTTON, L"Options", row(86, 111), kOptionsButtonId},
        {ElementKind::BUTTON, L"Exit Tarnwell", row(116, 141), kExitButtonId},
        {ElementKind::CAPTION, nullptr, irr::core::recti(10, resolutionY - 30, 400, resolutionY), -1},
    }};
}

}  // namespace menumath

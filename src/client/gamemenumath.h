// The main menu's fixed figures and its login column, free of the engine's
// GUI: what each element is, its text, its rectangle for a screen size and
// its id. The menu builds its GUI from this table.
#pragma once

#include <irrTypes.h>
#include <rect.h>

#include <array>
#include <cstdint>

namespace menumath {

enum class ElementKind : int32_t {
    LABEL,     // static text, no border, word wrap
    NAME_BOX,  // edit box with border, 20 characters at most, gets the focus
    PASSWORD,  // the same, each character shown as '*'
    BUTTON,
    CAPTION,   // the window caption, lower left
};

struct MenuElement {
    ElementKind kind;
    const wchar_t* text;       // null for the caption: the window caption
    irr::core::recti rect;     // (left, top, right, bottom) in window pixels
    irr::s32 id;               // -1 unless a button
};

// The login column (label, box, label, box, the three buttons) centred on
// the integer halves of the screen, then the caption; in creation order.
std::array<MenuElement, 8> loginColumn(int32_t resolutionX, int32_t resolutionY);

// Ids of the menu's buttons (the input receiver acts on them).
constexpr irr::s32 kExitButtonId = 101;
constexpr irr::s32 kOptionsButtonId = 102;
constexpr irr::s32 kLoginButtonId = 103;

// Characters the two boxes take.
constexpr irr::s32 kMaxLoginCharacters = 20;

}  // namespace menumath

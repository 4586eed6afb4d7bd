#include "client/gamemath.h"

#include <algorithm>
#include <cwchar>

namespace gamemath {

float frameStep(uint32_t previousStart, uint32_t previousEnd) {
    const uint32_t elapsed = previousEnd - previousStart;
    return std::min(static_cast<float>(elapsed / 1000.0), kMaxStep);
}

uint32_t frameSleep(uint32_t frameStart, uint32_t now, int32_t frameMs) {
    // Signed: a frame that overran gives a negative rest, not 49 days.
    const int64_t rest = static_cast<int64_t>(frameMs) - static_cast<int64_t>(now - frameStart);
    return rest > 0 ? static_cast<uint32_t>(rest) : 0u;
}

void FpsCounter::addFrame(uint32_t workMs) {
    accumulated += workMs;
    ++frames;
    if (accumulated > 500.0) {
        figure = static_cast<float>(1.0 / ((accumulated / frames) / 1000.0));
        accumulated = 0.0;
        frames = 0;
    }
}

std::vector<LightAction> assignLights(const std::vector<bool>& isPlayer, int32_t lightCount) {
    std::vector<LightAction> actions;
    for (int32_t i = 0; i < lightCount; ++i) {
        if (static_cast<size_t>(i) >= isPlayer.size()) {
            actions.push_back({LightAction::HIDE, -1});
        } else if (isPlayer[static_cast<size_t>(i)]) {
            actions.push_back({LightAction::KEEP, -1});
        } else {
            actions.push_back({LightAction::FOLLOW, i});
        }
    }
    return actions;
}

std::wstring infoText(const wchar_t* caption, int32_t triangles, float fps) {
    wchar_t buffer[1024];
    // swprintf cuts at the buffer and then reports failure; the cut text is
    // still terminated, which is what the info text shows.
    std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"%ls\ntriangles: %d\nFPS: %d",
                  caption != nullptr ? caption : L"", triangles, static_cast<int32_t>(fps));
    buffer[1023] = L'\0';
    return buffer;
}

const std::wstring& LoadingText::begin(const wchar_t* title) {
    end();
    if (!whole.empty()) {
        whole += L"\n";
    }
    whole += title;
    open = true;
    return whole;
}

const std::wstring& LoadingText::end() {
    if (open) {
        whole += L"done";
        open = false;
    }
    return whole;
}

std::string utf8(const wchar_t* text) {
    std::string out;
    for (const wchar_t* c = text; c != nullptr && *c != L'\0'; ++c) {
        uint32_t code = static_cast<uint32_t>(*c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace gamemath

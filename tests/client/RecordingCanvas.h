// A HUD canvas that draws nothing and keeps every call, so a test compares
// the HUD's rectangles, lines and texts with the layout without pixels.
#pragma once

#include "client/hudcanvas.h"

#include <irrlicht.h>

#include <ostream>
#include <string>
#include <vector>

namespace clienttest {

struct CanvasCall {
    enum Kind { Image, ScaledImage, Line, Rectangle, Text };
    explicit CanvasCall(Kind kind) : kind(kind) {}
    Kind kind;
    irr::video::ITexture* texture = nullptr;  // images
    irr::core::recti area;    // image: (at, at + source size); scaled: target; line: (from, to); rectangle
    irr::core::recti source;  // images
    irr::video::SColor colour;  // image tint (scaled: top-left corner), line, rectangle, text
    bool useAlpha = false;
    std::wstring text;
};

inline std::ostream& operator<<(std::ostream& out, const CanvasCall& call) {
    static const char* const kinds[] = {"image", "scaled", "line", "rect", "text"};
    out << kinds[call.kind] << " (" << call.area.UpperLeftCorner.X << ", " << call.area.UpperLeftCorner.Y << ")-("
        << call.area.LowerRightCorner.X << ", " << call.area.LowerRightCorner.Y << ")";
    if (call.kind == CanvasCall::Image || call.kind == CanvasCall::ScaledImage) {
        out << " src (" << call.source.UpperLeftCorner.X << ", " << call.source.UpperLeftCorner.Y << ")-("
            << call.source.LowerRightCorner.X << ", " << call.source.LowerRightCorner.Y << ")";
    }
    if (call.kind == CanvasCall::Text) {
        out << " \"" << std::string(call.text.begin(), call.text.end()) << "\"";
    }
    return out << " colour " << std::hex << call.colour.color << std::dec;
}

class RecordingCanvas : public HudCanvas {
public:
    void image(irr::video::ITexture* texture, const irr::core::position2di& at, const irr::core::recti& source,
               irr::video::SColor colour, bool useAlpha) override {
        CanvasCall call(CanvasCall::Image);
        call.texture = texture;
        call.area = irr::core::recti(at, at + source.getSize());
        call.source = source;
        call.colour = colour;
        call.useAlpha = useAlpha;
        calls.push_back(call);
    }
    void scaledImage(irr::video::ITexture* texture, const irr::core::recti& target, const irr::core::recti& source,
                     const irr::video::SColor* colours, bool useAlpha) override {
        CanvasCall call(CanvasCall::ScaledImage);
        call.texture = texture;
        call.area = target;
        call.source = source;
        call.colour = colours != nullptr ? colours[0] : irr::video::SColor(0);
        call.useAlpha = useAlpha;
        calls.push_back(call);
    }
    void line(const irr::core::position2di& from, const irr::core::position2di& to,
              irr::video::SColor colour) override {
        CanvasCall call(CanvasCall::Line);
        call.area = irr::core::recti(from, to);
        call.colour = colour;
        calls.push_back(call);
    }
    void rectangle(const irr::core::recti& area, irr::video::SColor colour) override {
        CanvasCall call(CanvasCall::Rectangle);
        call.area = area;
        call.colour = colour;
        calls.push_back(call);
    }
    void text(irr::gui::IGUIFont*, const wchar_t* text, const irr::core::position2di& at,
              irr::video::SColor colour) override {
        CanvasCall call(CanvasCall::Text);
        call.area = irr::core::recti(at, at);
        call.colour = colour;
        call.text = text;
        calls.push_back(call);
    }

    std::vector<CanvasCall> calls;
};

}  // namespace clienttest

// A HUD canvas that draws nothing and keeps every call, so a test compares
// the HUD's rectangles, lines and texts with the layout without pixels.
#pragma once

#include "client/hudcanvas.h"

#include <irrlicht.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace clienttest {

struct CanvasCall {
    enum Kind { Image, ScaledImage, Line, Rectangle, Text };
    Kind kind;
    irr::video::ITexture* texture;  // images
    // Image: (at, at + source size); scaled image: the target; line: (from,
    // to); rectangle; text: (at, at).
    irr::core::recti area;
    irr::core::recti source;    // images
    irr::video::SColor colour;  // tint (a scaled image's top-left one), line, rectangle, text
    bool useAlpha;
    std::wstring text;
    bool flag = false;  // what RecordingCanvas::flagOf answered at the call
};

class RecordingCanvas : public HudCanvas {
public:
    void image(irr::video::ITexture* texture, const irr::core::position2di& at,
               const irr::core::recti& source, irr::video::SColor colour, bool useAlpha) override {
        push({CanvasCall::Image, texture, {at, at + source.getSize()}, source, colour, useAlpha, L""});
    }
    void scaledImage(irr::video::ITexture* texture, const irr::core::recti& target,
                     const irr::core::recti& source, const irr::video::SColor* colours,
                     bool useAlpha) override {
        push({CanvasCall::ScaledImage, texture, target, source, colours[0], useAlpha, L""});
    }
    void line(const irr::core::position2di& from, const irr::core::position2di& to,
              irr::video::SColor colour) override {
        push({CanvasCall::Line, nullptr, {from, to}, {}, colour, false, L""});
    }
    void rectangle(const irr::core::recti& area, irr::video::SColor colour) override {
        push({CanvasCall::Rectangle, nullptr, area, {}, colour, false, L""});
    }
    void text(irr::gui::IGUIFont*, const wchar_t* text, const irr::core::position2di& at,
              irr::video::SColor colour) override {
        push({CanvasCall::Text, nullptr, {at, at}, {}, colour, false, text});
    }

    std::vector<CanvasCall> calls;
    // Asked at every call, when set: a state of the world to keep beside it.
    std::function<bool()> flagOf;

private:
    void push(CanvasCall call) {
        call.flag = flagOf ? flagOf() : false;
        calls.push_back(std::move(call));
    }
};

}  // namespace clienttest

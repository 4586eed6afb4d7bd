// What the HUD draws with: an image part at its own size, an image part
// scaled into a rectangle, a line, a filled rectangle and a text. The game
// draws through the video driver (EngineHudCanvas); a test puts a recording
// canvas in and checks the rectangles without pixels.
#pragma once

#include <irrlicht.h>

class HudCanvas {
public:
    virtual ~HudCanvas();

    // `source` of `texture` with its top-left corner at `at`, tinted by
    // `colour` (white: as it is), the texture's alpha used or not. No clip.
    virtual void image(irr::video::ITexture* texture, const irr::core::position2di& at,
                       const irr::core::recti& source, irr::video::SColor colour, bool useAlpha) = 0;
    // `source` of `texture` scaled into `target`; `colours` are the four
    // corner tints in the engine's order. A render target's picture comes out
    // upright. No clip.
    virtual void scaledImage(irr::video::ITexture* texture, const irr::core::recti& target,
                             const irr::core::recti& source, const irr::video::SColor* colours,
                             bool useAlpha) = 0;
    // Both ends included.
    virtual void line(const irr::core::position2di& from, const irr::core::position2di& to,
                      irr::video::SColor colour) = 0;
    virtual void rectangle(const irr::core::recti& area, irr::video::SColor colour) = 0;
    // `text` in `font` with its top-left corner at `at`, not centred, no clip.
    virtual void text(irr::gui::IGUIFont* font, const wchar_t* text, const irr::core::position2di& at,
                      irr::video::SColor colour) = 0;
};

// Draws through a video driver (not owned; it must outlive the canvas).
class EngineHudCanvas : public HudCanvas {
public:
    explicit EngineHudCanvas(irr::video::IVideoDriver* driver);

    void image(irr::video::ITexture* texture, const irr::core::position2di& at,
               const irr::core::recti& source, irr::video::SColor colour, bool useAlpha) override;
    void scaledImage(irr::video::ITexture* texture, const irr::core::recti& target,
                     const irr::core::recti& source, const irr::video::SColor* colours,
                     bool useAlpha) override;
    void line(const irr::core::position2di& from, const irr::core::position2di& to,
              irr::video::SColor colour) override;
    void rectangle(const irr::core::recti& area, irr::video::SColor colour) override;
    void text(irr::gui::IGUIFont* font, const wchar_t* text, const irr::core::position2di& at,
              irr::video::SColor colour) override;

private:
    irr::video::IVideoDriver* driver;
};

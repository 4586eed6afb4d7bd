#include "client/hudcanvas.h"

HudCanvas::~HudCanvas() = default;

EngineHudCanvas::EngineHudCanvas(irr::video::IVideoDriver* driver) : driver(driver) {}

void EngineHudCanvas::image(irr::video::ITexture* texture, const irr::core::position2di& at,
                            const irr::core::recti& source, irr::video::SColor colour, bool useAlpha) {
    driver->draw2DImage(texture, at, source, nullptr, colour, useAlpha);
}

void EngineHudCanvas::scaledImage(irr::video::ITexture* texture, const irr::core::recti& target,
                                  const irr::core::recti& source, const irr::video::SColor* colours,
                                  bool useAlpha) {
    driver->draw2DImage(texture, target, source, nullptr, colours, useAlpha);
}

void EngineHudCanvas::line(const irr::core::position2di& from, const irr::core::position2di& to,
                           irr::video::SColor colour) {
    driver->draw2DLine(from, to, colour);
}

void EngineHudCanvas::rectangle(const irr::core::recti& area, irr::video::SColor colour) {
    driver->draw2DRectangle(colour, area);
}

void EngineHudCanvas::text(irr::gui::IGUIFont* font, const wchar_t* text, const irr::core::position2di& at,
                           irr::video::SColor colour) {
    // The rectangle's far corner plays no part without centring or clip.
    font->draw(text, irr::core::recti(at.X, at.Y, 50, 10), colour, false, false, nullptr);
}

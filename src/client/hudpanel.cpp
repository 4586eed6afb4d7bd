// The lower panel with its three pictures and the target's data, and the
// 2-D radar painted into textures 13 and 14.
#include "client/globals.h"
#include "client/hud.h"
#include "client/hudcanvas.h"
#include "client/resourceids.h"
#include "client/scopedenginestate.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/utilities.h"

namespace {

// A locked sonar texture, painted only when its pixels are the unpadded
// 32-bit buffer setPixel writes.
class SonarImage {
public:
    explicit SonarImage(irr::video::ITexture* texture)
        : lock(texture, irr::video::ETLM_WRITE_ONLY), size(texture->getSize()) {
        usable = lock.get() != nullptr && texture->getColorFormat() == irr::video::ECF_A8R8G8B8 &&
                 texture->getPitch() == size.Width * 4;
        if (usable) {
            clearPixelBuffer(lock.get(), size);
        }
    }

    // The 2 x 2 dot about `centre`, clipped to the texture.
    void dot(int32_t centre, hudmath::Offset offset, irr::video::SColor colour) {
        if (!usable) {
            return;
        }
        for (const irr::core::position2di& texel : hudmath::radarDot(centre, offset)) {
            if (hudmath::texelInside(texel, size)) {
                setPixel(lock.get(), size, static_cast<irr::u16>(texel.X), static_cast<irr::u16>(texel.Y),
                         colour);
            }
        }
    }

private:
    ScopedTextureLock lock;
    irr::core::dimension2d<irr::u32> size;
    bool usable = false;
};

}  // namespace

void Hud::drawTargetAndRadar() {
    if (globals.playerShip == nullptr || globals.driver == nullptr) {
        return;
    }
    readScreen();
    drawTargetPanel();
    drawRadar();
}

void Hud::drawTargetPanel() {
    const hudmath::HudLayout& l = layout();
    const irr::core::position2di b = bottom();
    canvas->rectangle(hudmath::panelArea(l.panelFrame, b), hudmath::kPanelShade);
    view(TEXTURE_SONAR_CAM, l.radarImage, 256);

    const Torpedo* torpedo = globals.trackedTorpedo;
    if (torpedo == nullptr) {
        canvas->rectangle(hudmath::panelArea(l.torpedoView, b), hudmath::kPanelShade);
    } else {
        view(TEXTURE_TORPEDO_CAM, l.torpedoView, 128);
        if (const Ship* target = torpedo->getTarget()) {
            const float distance = (torpedo->getPosition() - target->getPosition()).getLength();
            for (const hudmath::HudText& line : hudmath::torpedoDistanceTexts(l, b, distance)) {
                text(line);
            }
        }
        const hudmath::TorpedoViewMarks marks = hudmath::torpedoViewMarks(l, b, torpedo->getAim());
        sprite(marks.crosshair);
        canvas->line(marks.steering.from, marks.steering.to, hudmath::kSteeringLine);
        sprite(marks.dot, hudmath::kViewColour);
    }

    if (currentTarget == nullptr) {
        canvas->rectangle(hudmath::panelArea(l.targetView, b), hudmath::kPanelShade);
    } else {
        view(TEXTURE_TARGET_CAM, l.targetView, 128);
        hudmath::TargetData data;
        data.className = currentTarget->getClassName();
        data.registration = currentTarget->getRegistration();
        data.distance = (globals.playerShip->getPosition() - currentTarget->getPosition()).getLength();
        data.y = currentTarget->getPosition().Y;
        data.speed = currentTarget->getVelocity().getLength();
        for (const hudmath::HudText& line : hudmath::targetTexts(l, b, data)) {
            text(line);
        }
    }
    for (const hudmath::Sprite& corner : hudmath::frameCorners(l.panelFrame, b)) {
        sprite(corner);
    }
}

void Hud::drawRadar() {
    irr::video::ITexture* leftTexture = texture(TEXTURE_SONAR_LEFT);
    irr::video::ITexture* rightTexture = texture(TEXTURE_SONAR_RIGHT);
    if (leftTexture == nullptr || rightTexture == nullptr) {
        return;
    }
    const hudmath::HudLayout& l = layout();
    {
        // A null list entry ends the call here too; the locks end with it.
        SonarImage left(leftTexture);
        SonarImage right(rightTexture);
        left.dot(leftSonarCentre, {0, 0}, hudmath::kYellow);
        right.dot(rightSonarCentre, {0, 0}, hudmath::kYellow);
        const Ship* player = globals.playerShip;
        const irr::core::vector3df p = player->getPosition();
        const auto plot = [&](const irr::core::vector3df& q, irr::video::SColor colour) {
            const hudmath::RadarPlot at =
                hudmath::plotContact(p, heading, q, l.leftRadar.width, l.leftRadar.height, radarRange);
            if (at.left) {
                left.dot(leftSonarCentre, *at.left, colour);
            }
            if (at.right) {
                right.dot(rightSonarCentre, *at.right, colour);
            }
        };
        for (const Ship* ship : globals.shipList) {
            if (ship == nullptr) {
                return;
            }
            if (ship != player && !ship->isPlayer()) {
                plot(ship->getPosition(), ship->isTargeted() ? hudmath::kWhite : hudmath::kRed);
            }
        }
        const bool blinkOn = hudmath::torpedoBlinkOn(deviceTime());
        for (const Torpedo* torpedo : globals.torpedoList) {
            if (torpedo == nullptr) {
                return;
            }
            if (blinkOn) {
                plot(torpedo->getPosition(), hudmath::kGreen);
            }
        }
    }

    const irr::core::position2di b = bottom();
    const hudmath::Sprite leftWindow = hudmath::radarWindow(l.leftRadar, b, leftSonarCentre);
    canvas->image(leftTexture, leftWindow.at, leftWindow.source, hudmath::kViewColour, false);
    for (const hudmath::Sprite& corner : hudmath::frameCorners(l.leftRadar, b)) {
        sprite(corner);
    }
    const hudmath::Sprite rightWindow = hudmath::radarWindow(l.rightRadar, b, rightSonarCentre);
    canvas->image(rightTexture, rightWindow.at, rightWindow.source, hudmath::kViewColour, false);
    for (const hudmath::Sprite& corner : hudmath::frameCorners(l.rightRadar, b)) {
        sprite(corner);
    }
    text(hudmath::radarLabel(l.leftRadar, b, L"360m"));
    text(hudmath::radarLabel(l.rightRadar, b, L"180m"));
}

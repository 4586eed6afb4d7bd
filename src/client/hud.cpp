#include "client/hud.h"

#include "client/camera.h"
#include "client/exception.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/hudcanvas.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/scopedenginestate.h"
#include "client/ship.h"
#include "client/torpedo.h"

#include <algorithm>
#include <limits>

namespace {

// The failure keeps the line number it has always been reported with, so
// logs and message boxes stay comparable across edits of this file.
constexpr int32_t kRadarCylinderFailureLine = 47;

// The target is drawn alone this far below everything else; the target
// camera's far value of 300 sees nothing of the world from there.
const irr::core::vector3df kTargetViewPlace(0.0f, -30000.0f, 0.0f);

int32_t toSigned(irr::u32 value) {
    return static_cast<int32_t>(std::min<irr::u32>(value, std::numeric_limits<int32_t>::max()));
}

}  // namespace

Hud::Hud(HudCanvas* given) : canvas(given) {
    for (irr::video::SColor& colour : viewColours) {
        colour = hudmath::kViewColour;
    }
    if (canvas == nullptr) {
        ownCanvas = std::make_unique<EngineHudCanvas>(globals.driver);
        canvas = ownCanvas.get();
    }
    irr::video::ITexture* atlas = texture(TEXTURE_HUD_ATLAS);
    if (atlas != nullptr && globals.driver != nullptr) {
        globals.driver->makeColorKeyTexture(atlas, irr::video::SColor(0, 0, 0, 0));
    }
    irr::scene::IMesh* mesh =
        globals.resources != nullptr ? globals.resources->getCreatedMesh(CREATED_MESH_RADAR_YELLOW) : nullptr;
    if (globals.sceneManager != nullptr && mesh != nullptr) {
        radarCylinder = globals.sceneManager->addMeshSceneNode(
            mesh, nullptr, -1, irr::core::vector3df(0.0f, 0.0f, 0.0f), irr::core::vector3df(0.0f, 0.0f, 0.0f),
            irr::core::vector3df(1.0f, 1.0f, 1.0f));
    }
    if (radarCylinder == nullptr) {
        throw Exception(exceptionSourceName(__FILE__).c_str(), kRadarCylinderFailureLine,
                        "Can't create radar cylinder node!");
    }
    radarCylinder->setMaterialFlag(irr::video::EMF_LIGHTING, false);
    radarCylinder->setMaterialFlag(irr::video::EMF_BACK_FACE_CULLING, false);
    if (irr::video::ITexture* left = texture(TEXTURE_SONAR_LEFT)) {
        leftSonarCentre = toSigned(left->getOriginalSize().Width / 2);
    }
    if (irr::video::ITexture* right = texture(TEXTURE_SONAR_RIGHT)) {
        rightSonarCentre = toSigned(right->getOriginalSize().Width / 2);
    }
    placeRadarTerrain();
}

Hud::~Hud() {
    if (radarCylinder != nullptr) {
        radarCylinder->remove();
    }
}

void Hud::forgetShip(Ship* ship) {
    if (currentTarget == ship) {
        currentTarget = nullptr;
    }
}

irr::video::ITexture* Hud::texture(irr::s32 id) {
    return globals.resources != nullptr ? globals.resources->getTexture(id) : nullptr;
}

irr::scene::ICameraSceneNode* Hud::mainCameraNode() {
    return globals.mainCamera != nullptr ? globals.mainCamera->getNode() : nullptr;
}

uint32_t Hud::deviceTime() {
    if (globals.clock != nullptr) {
        return globals.clock->getTime();
    }
    return globals.device != nullptr ? globals.device->getTimer()->getTime() : 0;
}

void Hud::readScreen() {
    const irr::core::dimension2d<irr::u32>& size = globals.driver->getScreenSize();
    screenWidth = toSigned(size.Width);
    screenHeight = toSigned(size.Height);
    screenHalfWidth = screenWidth / 2;
    screenHalfHeight = screenHeight / 2;
}

void Hud::sprite(const hudmath::Sprite& sprite, irr::video::SColor colour) {
    if (irr::video::ITexture* atlas = texture(TEXTURE_HUD_ATLAS)) {
        canvas->image(atlas, sprite.at, sprite.source, colour, true);
    }
}

void Hud::text(const hudmath::HudText& text) {
    irr::gui::IGUIFont* font = globals.resources != nullptr ? globals.resources->getFont(FONT_HUD) : nullptr;
    if (font != nullptr) {
        canvas->text(font, text.text.c_str(), text.at, text.colour);
    }
}

void Hud::view(irr::s32 textureId, const hudmath::PanelRect& rect, int32_t textureSize) {
    if (irr::video::ITexture* picture = texture(textureId)) {
        canvas->scaledImage(picture, hudmath::panelArea(rect, bottom()),
                            irr::core::recti(0, 0, textureSize, textureSize), viewColours, false);
    }
}

void Hud::draw() {
    Ship* player = globals.playerShip;
    if (player == nullptr || globals.driver == nullptr) {
        return;
    }
    playerWeapons = &player->getWeapons();
    readScreen();
    const hudmath::Attitude attitude = hudmath::attitudeFromRotation(player->getRotation());
    playerRotation = attitude.rotation;
    playerRotationInverse = attitude.inverse;
    heading = attitude.heading;
    pitch = attitude.pitch;
    roll = attitude.roll;
    sprite(hudmath::centreCross(centre()));

    drawCompass();
    drawPitchLadder();
    drawHorizon();
    drawContactMarkers();
    drawGauges();
}

void Hud::renderTorpedoView() {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    // The torpedo's camera became the active one when it was made.
    const ScopedActiveCamera restore(scene, mainCameraNode());
    const Torpedo* torpedo = globals.trackedTorpedo;
    irr::video::ITexture* target = texture(TEXTURE_TORPEDO_CAM);
    if (torpedo == nullptr || torpedo->getCamera() == nullptr || torpedo->getCamera()->getNode() == nullptr ||
        target == nullptr || scene == nullptr || globals.driver == nullptr) {
        return;
    }
    const ScopedRenderTarget into(globals.driver, target, globals.clearColor, globals.clearColor);
    if (!into.ok()) {
        return;
    }
    scene->setActiveCamera(torpedo->getCamera()->getNode());
    scene->drawAll();
}

void Hud::renderTargetView() {
    irr::scene::ISceneManager* scene = globals.sceneManager;
    const ScopedActiveCamera restore(scene, mainCameraNode());
    Camera* camera = globals.targetCamera;
    irr::video::ITexture* target = texture(TEXTURE_TARGET_CAM);
    if (camera == nullptr || camera->getNode() == nullptr || target == nullptr || currentTarget == nullptr ||
        currentTarget->getNode() == nullptr || globals.playerShip == nullptr || scene == nullptr ||
        globals.driver == nullptr) {
        return;
    }
    irr::scene::ISceneNode* node = currentTarget->getNode();
    const irr::core::vector3df remembered = node->getPosition();
    node->setPosition(kTargetViewPlace);
    const float back = hudmath::targetCameraDistance(currentTarget->getSize());
    camera->update(irr::core::vector3df(0.0f, 0.0f, -back), node->getPosition(),
                   globals.playerShip->getRotation());
    node->updateAbsolutePosition();
    {
        const ScopedRenderTarget into(globals.driver, target, hudmath::kBlack, globals.clearColor);
        if (into.ok()) {
            scene->setActiveCamera(camera->getNode());
            scene->drawAll();
        }
        node->setPosition(remembered);
        node->updateAbsolutePosition();
    }
}

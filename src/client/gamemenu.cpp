#include "client/gamemenu.h"

#include "client/camera.h"
#include "client/control.h"
#include "client/engine/CGrassPatchSceneNode.h"
#include "client/engine/ITideGenerator.h"
#include "client/exception.h"
#include "client/gameclock.h"
#include "client/gamemath.h"
#include "client/gamemedia.h"
#include "client/gamemenumath.h"
#include "client/globals.h"
#include "client/inifile.h"
#include "client/log.h"
#include "client/particlesystem.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/settings.h"
#include "client/utilities.h"
#include "platform/sound/fsound.h"

namespace {

using irr::core::vector3df;

const char* const kTerrainImage = "media/terrain/t33x33.jpg";
const char* const kMusic = "media/audio/music/intro.ogg";

const vector3df kCameraOffset(0.0f, 0.0f, -40.0f);
const vector3df kCameraPosition(1342.0f, 634.0f, 1307.0f);
const vector3df kCameraRotation(40.0f, 0.0f, 0.0f);
const vector3df kLightPosition(1302.0f, 634.0f, 1307.0f);

void logLine(const char* text) {
    if (globals.log != nullptr) {
        globals.log->write(text);
    }
}

template <typename Element>
void removeElement(Element*& element) {
    if (element != nullptr) {
        element->remove();
        element = nullptr;
    }
}

void dropImage(irr::video::IImage*& image) {
    if (image != nullptr) {
        image->drop();
        image = nullptr;
    }
}

}  // namespace

GameMenu::GameMenu() = default;

GameMenu::~GameMenu() = default;

bool GameMenu::init(const wchar_t* text) {
    caption = text;
    const std::array<menumath::MenuElement, 8> column = menumath::loginColumn(globals.resolutionX, globals.resolutionY);
    globals.menuStatusText = globals.gui->addStaticText(caption, column[7].rect, false, true, nullptr, -1);
    globals.menuStatusText->setOverrideColor(irr::video::SColor(255, 255, 192, 0));
    globals.driver->setTextureCreationFlag(irr::video::ETCF_ALWAYS_32_BIT, true);
    if (!initScene()) {
        return false;
    }
    globals.particleSystem = new ParticleSystem(globals.resources);
    globals.particleSystem->addAmbientBubbles(vector3df(0.0f, 0.0f, 0.0f), globals.menuCamera->getNode());
    globals.playerShip = nullptr;
    globals.device->getCursorControl()->setVisible(true);
    return true;
}

bool GameMenu::initScene() {
    irr::video::IVideoDriver* driver = globals.driver;
    irr::scene::ISceneManager* scene = globals.sceneManager;
    const GameMedia media;
    logLine("Initialize Menu...");

    globals.menuCamera = new Camera(-1, 250.0f, 0.75f);
    globals.menuCamera->update(kCameraOffset, kCameraPosition, kCameraRotation);

    driver->setFog(irr::video::SColor(255, 0, 8, 16), irr::video::EFT_FOG_LINEAR, 1.0f, 200.0f, 1.0f, true, true);

    logLine("Load menu heightmap");
    if (media.intact(kTerrainImage)) {
        globals.menuTerrainNode =
            scene->addTerrainSceneNode(kTerrainImage, nullptr, -1, vector3df(0.0f, 0.0f, 0.0f),
                                       vector3df(0.0f, 0.0f, 0.0f), vector3df(80.0f, 5.0f, 80.0f),
                                       irr::video::SColor(255, 255, 255, 255), 3, irr::scene::ETPS_9);
    }
    if (globals.menuTerrainNode == nullptr) {
        THROW_EXCEPTION("Can't load terrain: 'media/terrain/t33x33.jpg'!");
    }
    irr::scene::ITerrainSceneNode* terrain = globals.menuTerrainNode;
    const double distances[] = {1000.0, 1500.0, 2000.0};
    for (int32_t level = 1; level <= 3; ++level) {
        terrain->overrideLODDistance(gamemath::lodIndexOfLevel(level), distances[level - 1]);
    }
    terrain->setMaterialTexture(0, media.texture("terrain texture", kRockTexture));
    terrain->setMaterialTexture(1, media.texture("terrain texture", kDetailTexture));
    terrain->setMaterialFlag(irr::video::EMF_LIGHTING, true);
    terrain->setMaterialFlag(irr::video::EMF_FOG_ENABLE, true);
    terrain->setMaterialType(irr::video::EMT_DETAIL_MAP);
    terrain->setMaterialFlag(irr::video::EMF_ANISOTROPIC_FILTER, true);
    const float scale1 = globals.iniFile->getFloat("GeneralGraphics", "TerrainTextureScale1", 40.0f);
    const float scale2 = globals.iniFile->getFloat("GeneralGraphics", "TerrainTextureScale2", 80.0f);
    terrain->scaleTexture(scale1, scale2);

    tide = tarnwell::scene::createTideGenerator(8.0f, 10.0f);
    globals.menuGrassImage = media.image("grass image", kTerrainImage);
    grassImages[0] = media.image("grass image", kTerrainImage);
    grassImages[1] = media.image("grass image", kTerrainImage);
    irr::video::ITexture* grass = media.texture("grass texture", kGrassTexture);
    for (irr::s32 i = 0; i < 5; ++i) {
        for (irr::s32 j = 0; j < 5; ++j) {
            auto* patch = new tarnwell::scene::CGrassPatchSceneNode(
                false, scene->getRootSceneNode(), scene, -1, irr::core::vector3d<irr::s32>(i, 0, j), "grass",
                globals.menuGrassImage, grassImages[0], grassImages[1], terrain, 0.0f, tide);
            finishGrassPatch(patch, grass, false);
        }
    }

    irr::video::SLight light;
    light.Type = irr::video::ELT_POINT;
    light.AmbientColor = irr::video::SColorf(0.0f, 0.0f, 0.0f, 0.0f);
    light.DiffuseColor = irr::video::SColorf(1.0f, 1.0f, 1.0f, 1.0f);
    light.SpecularColor = irr::video::SColorf(0.0f, 0.0f, 0.0f, 0.0f);
    lightNode = scene->addLightSceneNode(nullptr, globals.menuCamera->getNode()->getPosition(),
                                         light.DiffuseColor, 1000.0f, -1);
    if (lightNode == nullptr) {
        return false;
    }
    // The engine's radius also sets the attenuation that goes with it.
    light.Radius = 1000.0f;
    light.Attenuation = lightNode->getLightData().Attenuation;
    lightNode->setLightData(light);

    globals.clearColor = globals.iniFile->getColor("GeneralGraphics", "ClsColor", MENU_CLEAR_COLOR);

    irr::gui::IGUIEnvironment* gui = globals.gui;
    irr::gui::IGUISkin* skin = gui->createSkin(irr::gui::EGST_WINDOWS_METALLIC);
    gui->setSkin(skin);
    skin->drop();
    if (irr::gui::IGUIFont* font = globals.resources != nullptr ? globals.resources->getFont(FONT_MENU) : nullptr) {
        skin->setFont(font);
    }

    // The controls move the focus between the two boxes on Tab; the GUI's
    // own tab stops would move it a second time.
    const std::array<menumath::MenuElement, 8> column = menumath::loginColumn(globals.resolutionX, globals.resolutionY);
    const irr::video::SColor labelColour(255, 0, 192, 0);
    globals.loginNameLabel = gui->addStaticText(column[0].text, column[0].rect, false, true, nullptr, -1);
    globals.loginNameLabel->setOverrideColor(labelColour);
    globals.loginNameBox = gui->addEditBox(column[1].text, column[1].rect, true, nullptr, -1);
    globals.passwordLabel = gui->addStaticText(column[2].text, column[2].rect, false, true, nullptr, -1);
    globals.passwordLabel->setOverrideColor(labelColour);
    globals.passwordBox = gui->addEditBox(column[3].text, column[3].rect, true, nullptr, -1);
    globals.passwordBox->setPasswordBox(true);
    globals.loginButton = gui->addButton(column[4].rect, nullptr, column[4].id, column[4].text);
    globals.optionsButton = gui->addButton(column[5].rect, nullptr, column[5].id, column[5].text);
    globals.exitButton = gui->addButton(column[6].rect, nullptr, column[6].id, column[6].text);
    for (irr::gui::IGUIElement* element : {static_cast<irr::gui::IGUIElement*>(globals.loginNameBox),
                                           static_cast<irr::gui::IGUIElement*>(globals.passwordBox),
                                           static_cast<irr::gui::IGUIElement*>(globals.loginButton),
                                           static_cast<irr::gui::IGUIElement*>(globals.optionsButton),
                                           static_cast<irr::gui::IGUIElement*>(globals.exitButton)}) {
        element->setTabStop(false);
    }
    gui->setFocus(globals.loginNameBox);
    globals.loginNameBox->setMax(menumath::kMaxLoginCharacters);
    globals.passwordBox->setMax(menumath::kMaxLoginCharacters);

    // Music that does not match the manifest is left out as missing music
    // is: the menu runs without it.
    globals.menuMusic = media.intact(kMusic) ? FSOUND_Stream_Open(kMusic, FSOUND_LOOP_NORMAL, 0, 0) : nullptr;
    return true;
}

bool GameMenu::run() {
    if (lightNode != nullptr) {
        globals.clock->restartTime();
        if (globals.menuMusic != nullptr) {
            FSOUND_Stream_Play(FSOUND_FREE, globals.menuMusic);
        }
        irr::IrrlichtDevice* device = globals.device;
        while (device->run() && globals.gameState == GS_MENU && device->isWindowActive()) {
            frame();
        }
        if (globals.menuMusic != nullptr) {
            FSOUND_Stream_Stop(globals.menuMusic);
        }
    }
    // The game logs in with what the form holds as the menu ends.
    if (globals.loginNameBox != nullptr && globals.passwordBox != nullptr) {
        globals.loginName = gamemath::utf8(globals.loginNameBox->getText());
        globals.loginPassword = gamemath::utf8(globals.passwordBox->getText());
    }
    cleanup();
    return true;
}

void GameMenu::frame() {
    globals.driver->beginScene(true, true, globals.clearColor);
    Control::updateMenu();
    globals.menuCamera->update(kCameraOffset, kCameraPosition, kCameraRotation);
    lightNode->setPosition(kLightPosition);
    globals.sceneManager->drawAll();
    globals.gui->drawAll();
    globals.driver->endScene();
}

void GameMenu::cleanup() {
    delete globals.menuCamera;
    globals.menuCamera = nullptr;
    if (globals.menuTerrainNode != nullptr) {
        globals.menuTerrainNode->remove();
        globals.menuTerrainNode = nullptr;
    }
    if (lightNode != nullptr) {
        lightNode->remove();
        lightNode = nullptr;
    }
    delete globals.particleSystem;
    globals.particleSystem = nullptr;
    removeElement(globals.menuStatusText);
    removeElement(globals.loginNameLabel);
    removeElement(globals.passwordLabel);
    removeElement(globals.loginNameBox);
    removeElement(globals.passwordBox);
    removeElement(globals.loginButton);
    removeElement(globals.optionsButton);
    removeElement(globals.exitButton);
    if (globals.sceneManager != nullptr) {
        globals.sceneManager->getRootSceneNode()->removeAll();
    }
    // A new stream opens on every entry: this one goes for good.
    if (globals.menuMusic != nullptr) {
        FSOUND_Stream_Close(globals.menuMusic);
        globals.menuMusic = nullptr;
    }
    // The grass is gone with the scene: its images and tide can go too.
    dropImage(globals.menuGrassImage);
    dropImage(grassImages[0]);
    dropImage(grassImages[1]);
    if (tide != nullptr) {
        tide->drop();
        tide = nullptr;
    }
    caption = nullptr;
}

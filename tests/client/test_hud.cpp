// The HUD over the game's opening scene: what it draws through a recording
// canvas at each layout, its views' engine state on every path, the radar
// terrain in the shadow world, missing resources; and under a virtual display
// the pictures themselves, checked at the layout's pixel positions.
#include "GameLoopHarness.h"
#include "HudScene.h"
#include "RecordingCanvas.h"

#include "client/camera.h"
#include "client/exception.h"
#include "client/game.h"
#include "client/globals.h"
#include "client/heightmap.h"
#include "client/hud.h"
#include "client/resourceids.h"
#include "client/torpedo.h"
#include "client/weapon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

using clienttest::CanvasCall;
using clienttest::HudScene;
using clienttest::RecordingCanvas;
using irr::core::dimension2d;
using irr::core::position2di;
using irr::core::recti;
using irr::core::vector3df;

namespace {

struct Screen {
    const char* name;
    irr::u32 width, height;
};

dimension2d<irr::u32> sizeOf(const Screen& s) {
    return {s.width, s.height};
}

irr::video::ITexture* texture(irr::s32 id) {
    return globals.resources->getTexture(id);
}

// Where the engine puts a point on the screen for the main camera.
position2di onScreen(const vector3df& point) {
    return globals.sceneManager->getSceneCollisionManager()->getScreenCoordinatesFrom3DPosition(
        point, globals.mainCamera->getNode());
}

size_t countOf(const std::vector<CanvasCall>& calls, CanvasCall::Kind kind) {
    return size_t(
        std::count_if(calls.begin(), calls.end(), [&](const CanvasCall& c) { return c.kind == kind; }));
}

// The first call of a kind with that area (and source, for images), or with
// that text.
const CanvasCall* find(const std::vector<CanvasCall>& calls, CanvasCall::Kind kind, const recti& area,
                       const recti* source = nullptr, const wchar_t* text = nullptr) {
    const auto match = [&](const CanvasCall& call) {
        return call.kind == kind &&
               (text != nullptr ? call.text == text
                                : call.area == area && (!source || call.source == *source));
    };
    const auto found = std::find_if(calls.begin(), calls.end(), match);
    return found != calls.end() ? &*found : nullptr;
}

recti imageArea(position2di at, const recti& source) {
    return recti(at, at + source.getSize());
}

class HudLayouts : public testing::TestWithParam<Screen> {};

}  // namespace

// The null driver loads the atlas but no fonts, render targets or sonar
// textures: sprites, lines and shaded boxes are drawn, the rest is skipped.
TEST_P(HudLayouts, InstrumentsBracketsAndPanelOnTheNullDriver) {
    const Screen screen = GetParam();
    GameLoopHarness harness;
    ASSERT_FALSE(harness.loadResources());  // stops at the render targets
    RecordingCanvas canvas;
    HudScene scene(sizeOf(screen), &canvas);
    scene.frame();

    const hudmath::HudLayout& l = hudmath::layoutForWidth(int32_t(screen.width));
    const position2di c(int32_t(screen.width / 2), int32_t(screen.height / 2));
    const position2di b(c.X, int32_t(screen.height));
    irr::video::ITexture* atlas = texture(TEXTURE_HUD_ATLAS);
    const std::vector<CanvasCall>& calls = canvas.calls;
    ASSERT_EQ(calls.size(), 25u);
    const recti sources[] = {
        {168, 99, 201, 132}, {96, 66, 289, 99}, {482, 0, 497, 8}, {0, 196, 42, 389}, {486, 14, 494, 29}};
    const position2di places[] = {c + position2di(-16, -16), c + position2di(-96, l.compassY),
                                  c + position2di(-7, 35 + l.compassY),
                                  c + position2di(l.pitchLadder.x, l.pitchLadder.y),
                                  c + position2di(l.pitchLadder.x - 11, l.pitchLadder.y + 89)};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(calls[i].kind, CanvasCall::Image) << i;
        EXPECT_EQ(calls[i].texture, atlas) << i;
        EXPECT_TRUE(calls[i].useAlpha && calls[i].colour == hudmath::kWhite) << i;
        EXPECT_EQ(calls[i].area, imageArea(places[i], sources[i])) << i;
    }
    EXPECT_EQ(calls[5].area, recti(c + position2di(-20, 0), c + position2di(-35, 0)));
    EXPECT_EQ(calls[10].area, recti(c + position2di(20, 0), c + position2di(35, 0)));
    EXPECT_EQ(calls[7].area.LowerRightCorner, c + position2di(45, 8));
    for (int i = 5; i < 15; ++i) {
        EXPECT_TRUE(calls[i].kind == CanvasCall::Line && calls[i].colour == hudmath::kGreen) << i;
    }
    // The three enemies ahead, in range and in sight, where the engine
    // projects them.
    const recti bracket(385, 66, 417, 98);
    for (int i = 0; i < 3; ++i) {
        const position2di at = onScreen(scene.enemies[i]->getPosition());
        EXPECT_EQ(calls[15 + i].area, imageArea(at - position2di(16, 16), bracket)) << i;
        EXPECT_EQ(calls[15 + i].source, bracket) << i;
        EXPECT_TRUE(scene.enemies[i]->isOnRadar());
    }
    // The panel, the two empty pictures in shade, the frame's corners.
    const recti shadedAreas[] = {hudmath::panelArea(l.panelFrame, b), hudmath::panelArea(l.torpedoView, b),
                                 hudmath::panelArea(l.targetView, b)};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[18 + i].kind, CanvasCall::Rectangle) << i;
        EXPECT_EQ(calls[18 + i].area, shadedAreas[i]) << i;
        EXPECT_EQ(calls[18 + i].colour, hudmath::kPanelShade) << i;
    }
    const position2di corner = b + position2di(l.panelFrame.x, l.panelFrame.y);
    EXPECT_EQ(calls[21].area, imageArea(corner, hudmath::atlas::kCornerTopLeft));
    EXPECT_EQ(calls[24].area, imageArea(corner + position2di(l.panelFrame.width - 6, l.panelFrame.height - 6),
                                        hudmath::atlas::kCornerBottomRight));
}

INSTANTIATE_TEST_SUITE_P(Screens, HudLayouts,
                         testing::Values(Screen{"w800", 800, 600}, Screen{"w1024", 1024, 768},
                                         Screen{"w640", 640, 480}),
                         [](const testing::TestParamInfo<Screen>& info) {
                             return std::string(info.param.name);
                         });

namespace {

class HudOverlaps : public testing::TestWithParam<Screen> {};

bool overlaps(const recti& a, const recti& b) {
    return a.UpperLeftCorner.X < b.LowerRightCorner.X && b.UpperLeftCorner.X < a.LowerRightCorner.X &&
           a.UpperLeftCorner.Y < b.LowerRightCorner.Y && b.UpperLeftCorner.Y < a.LowerRightCorner.Y;
}

bool inside(const recti& a, const recti& box) {
    return a.UpperLeftCorner.X >= box.UpperLeftCorner.X && a.UpperLeftCorner.Y >= box.UpperLeftCorner.Y &&
           a.LowerRightCorner.X <= box.LowerRightCorner.X && a.LowerRightCorner.Y <= box.LowerRightCorner.Y;
}

}  // namespace

// The panel's texts in the HUD's font, with every value the panel shows
// (the game's classes, distances and torpedo runs under 1000 units, depths
// down to the deepest floor, speeds under 1000 km/h): inside the panel, off
// its corners and its three pictures and clear of each other (a label ends
// before its value begins); the radars' labels inside their windows, off
// their corners.
TEST_P(HudOverlaps, PanelTextsInsideTheirFramesClearOfPicturesCornersAndEachOther) {
    const Screen screen = GetParam();
    GameLoopHarness harness;
    irr::gui::IGUIFont* font = globals.gui->getFont("media/fonts/font8.png");
    ASSERT_NE(font, nullptr);
    const hudmath::HudLayout& l = hudmath::layoutForWidth(int32_t(screen.width));
    const position2di b(int32_t(screen.width / 2), int32_t(screen.height));
    const auto area = [&](const hudmath::HudText& text) {
        const dimension2d<irr::u32> size = font->getDimension(text.text.c_str());
        return recti(text.at, text.at + position2di(int32_t(size.Width), int32_t(size.Height)));
    };
    const auto corners = [&](const hudmath::PanelRect& frame) {
        std::vector<recti> areas;
        for (const hudmath::Sprite& corner : hudmath::frameCorners(frame, b)) {
            areas.push_back(imageArea(corner.at, corner.source));
        }
        return areas;
    };
    const auto describe = [](const hudmath::HudText& text, const recti& a) {
        return testing::Message() << '"' << std::string(text.text.begin(), text.text.end()) << "\" at ("
                                  << a.UpperLeftCorner.X << ", " << a.UpperLeftCorner.Y << ")-("
                                  << a.LowerRightCorner.X << ", " << a.LowerRightCorner.Y << ")";
    };

    for (const auto& [rect, label] : {std::pair{l.leftRadar, L"360m"}, std::pair{l.rightRadar, L"180m"}}) {
        const hudmath::HudText text = hudmath::radarLabel(rect, b, label);
        const recti a = area(text);
        EXPECT_TRUE(inside(a, hudmath::panelArea(rect, b))) << describe(text, a);
        for (const recti& corner : corners(rect)) {
            EXPECT_FALSE(overlaps(a, corner)) << describe(text, a);
        }
    }

    std::vector<recti> blocked = corners(l.panelFrame);
    for (const hudmath::PanelRect& picture : {l.radarImage, l.torpedoView, l.targetView}) {
        blocked.push_back(hudmath::panelArea(picture, b));
    }
    const recti panel = hudmath::panelArea(l.panelFrame, b);
    const std::pair<const wchar_t*, const wchar_t*> classes[] = {
        {L"Scout", L"SX271"}, {L"Bomber1", L"SB373"}, {L"Bomber2", L"TA575"}};
    std::mt19937 rng(130);
    std::uniform_real_distribution<float> distance(0.0f, 999.9f), depth(0.0f, 12000.0f), speed(0.0f, 277.0f);
    for (int i = 0; i < 3000; ++i) {
        hudmath::TargetData data;
        data.className = classes[i % 3].first;
        data.registration = classes[i % 3].second;
        data.distance = distance(rng);
        data.y = -depth(rng);
        data.speed = speed(rng);
        std::vector<hudmath::HudText> texts = hudmath::targetTexts(l, b, data);
        for (const hudmath::HudText& text : hudmath::torpedoDistanceTexts(l, b, distance(rng))) {
            texts.push_back(text);
        }
        std::vector<recti> areas;
        for (const hudmath::HudText& text : texts) {
            areas.push_back(area(text));
        }
        for (size_t k = 0; k < texts.size(); ++k) {
            bool clear = inside(areas[k], panel);
            for (const recti& other : blocked) {
                clear = clear && !overlaps(areas[k], other);
            }
            for (size_t m = k + 1; m < texts.size(); ++m) {
                clear = clear && !overlaps(areas[k], areas[m]);
            }
            ASSERT_TRUE(clear) << describe(texts[k], areas[k]) << " in text set " << i;
        }
    }
}

// The cockpit's frame, as the main camera sees it from the player's eye,
// leaves the compass strip and its index mark clear at both layouts, though
// it is drawn over them.
TEST_P(HudOverlaps, CockpitFrameLeavesTheCompassClear) {
    const Screen screen = GetParam();
    GameLoopHarness harness;
    harness.loadResources();
    HudScene scene(sizeOf(screen));
    scene.frame();  // the camera at the eye, its matrices brought up to date
    const position2di c(int32_t(screen.width / 2), int32_t(screen.height / 2));
    const hudmath::HudLayout& l = hudmath::layoutForWidth(int32_t(screen.width));
    const hudmath::Sprite strip = hudmath::compassStrip(scene.hud().getHeading(), c, l);
    const hudmath::Sprite index = hudmath::compassIndex(c, l);
    recti compass = imageArea(strip.at, strip.source);
    compass.addInternalPoint(index.at + index.source.getSize());
    irr::scene::ICameraSceneNode* camera = globals.mainCamera->getNode();
    irr::core::matrix4 viewProjection = camera->getProjectionMatrix();
    viewProjection *= camera->getViewMatrix();
    auto* cockpit = static_cast<irr::scene::IAnimatedMeshSceneNode*>(scene.player->getCockpitNode());
    ASSERT_NE(cockpit, nullptr);
    const irr::core::matrix4& place = cockpit->getAbsoluteTransformation();
    irr::scene::IMesh* mesh = cockpit->getMesh()->getMesh(0);
    int triangles = 0;
    for (irr::u32 b = 0; b < mesh->getMeshBufferCount(); ++b) {
        const irr::scene::IMeshBuffer* buffer = mesh->getMeshBuffer(b);
        for (irr::u32 i = 0; i + 2 < buffer->getIndexCount(); i += 3) {
            recti covered;
            for (irr::u32 k = 0; k < 3; ++k) {
                vector3df corner = buffer->getPosition(buffer->getIndices()[i + k]);
                place.transformVect(corner);
                const position2di at = hudmath::projectToScreen(viewProjection, corner, sizeOf(screen));
                ASSERT_NE(at.X, hudmath::kNotOnScreen);
                if (k == 0) {
                    covered = recti(at, at);
                } else {
                    covered.addInternalPoint(at);
                }
            }
            ++triangles;
            EXPECT_FALSE(overlaps(covered, compass))
                << "triangle " << i / 3 << " of buffer " << b << " covers (" << covered.UpperLeftCorner.X
                << ", " << covered.UpperLeftCorner.Y << ")-(" << covered.LowerRightCorner.X << ", "
                << covered.LowerRightCorner.Y << ")";
        }
    }
    EXPECT_GT(triangles, 0);
}

INSTANTIATE_TEST_SUITE_P(Screens, HudOverlaps,
                         testing::Values(Screen{"w800", 800, 600}, Screen{"w1024", 1024, 768}),
                         [](const testing::TestParamInfo<Screen>& info) {
                             return std::string(info.param.name);
                         });

TEST(HudContacts, TargetBehindOutOfRangeAndHiddenShips) {
    GameLoopHarness harness;
    harness.loadResources();
    RecordingCanvas canvas;
    HudScene scene({800, 600}, &canvas);
    clienttest::SceneShip* front = scene.enemies[0];
    clienttest::SceneShip* target = scene.enemies[1];
    clienttest::SceneShip* far = scene.enemies[2];
    const vector3df p = scene.player->getPosition();
    scene.player->place(p, {0, 0, 40});             // rolled, so the arrow turns with the ship
    target->place(p + vector3df(30, 0, -200), {});  // behind, in sight
    target->setTargeted(true);
    far->place(p + vector3df(0, 0, 400), {});
    front->setOnRadar(false);
    scene.frame();

    EXPECT_EQ(scene.hud().getCurrentTarget(), target);
    EXPECT_TRUE(front->isOnRadar());
    EXPECT_TRUE(target->isOnRadar());  // the arrow keeps the flag as it was
    EXPECT_FALSE(far->isOnRadar());
    // Past the ten horizon lines, the arrow's three.
    std::vector<CanvasCall> arrow;
    for (size_t i = 15; i < canvas.calls.size(); ++i) {
        if (canvas.calls[i].kind == CanvasCall::Line) {
            arrow.push_back(canvas.calls[i]);
        }
    }
    ASSERT_EQ(arrow.size(), 3u);
    const std::array<hudmath::Line, 3> expected = hudmath::offScreenArrow(
        hudmath::attitudeFromRotation({0, 0, 40}).inverse, p, target->getPosition(), {400, 300});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(arrow[i].area, recti(expected[i].from, expected[i].to)) << i;
    }
    EXPECT_EQ(countOf(canvas.calls, CanvasCall::Image), 5u + 1u + 4u);  // instruments, one bracket, corners

    // The target sinks into the ground ahead: hidden, it leaves the radar;
    // a ship behind the player that is not the target keeps its flag.
    canvas.calls.clear();
    target->place(p + vector3df(0, -600, 100), {});
    front->place(p + vector3df(0, 0, -100), {});
    front->setOnRadar(true);
    scene.frame();
    EXPECT_FALSE(target->isOnRadar());
    EXPECT_TRUE(front->isOnRadar());
    EXPECT_EQ(countOf(canvas.calls, CanvasCall::Line), 10u);

    // The game forgets a ship before deleting it; the target view then has
    // nothing to show.
    scene.hud().forgetShip(target);
    EXPECT_EQ(scene.hud().getCurrentTarget(), nullptr);
    scene.hud().forgetShip(nullptr);
}

// Each view makes the main camera active again on every path: the
// torpedo's camera is the active one from its launch.
TEST(HudViews, GiveTheMainCameraBackEvenWithoutAPicture) {
    GameLoopHarness harness;
    harness.loadResources();
    HudScene scene({800, 600});
    irr::scene::ISceneManager* manager = globals.sceneManager;
    irr::scene::ICameraSceneNode* main = globals.mainCamera->getNode();
    for (void (Hud::*view)() : {&Hud::renderTorpedoView, &Hud::update3D, &Hud::renderTargetView}) {
        manager->setActiveCamera(globals.closeCamera->getNode());
        (scene.hud().*view)();
        EXPECT_EQ(manager->getActiveCamera(), main);
    }
}

// The radar terrain lies 20,000 units under the real one, so the sonar
// camera sees it below the columns.
TEST(HudRadarTerrain, LiesInTheShadowWorldUnderEveryPointOfTheFloor) {
    GameLoopHarness harness;
    harness.loadResources();
    HudScene scene({800, 600});
    irr::scene::ITerrainSceneNode* radar = globals.radarTerrainNode;
    HeightMap& heights = *globals.heightMap;
    const vector3df p = scene.player->getPosition();
    EXPECT_NEAR(radar->getHeight(p.X, p.Z), heights.getHeight(p) - 20000.0f, 3.0f);
    // At every grid point of the radar terrain the picture's grey levels
    // cost at most a step of (highest - lowest) / 255 or two.
    float worst = 0.0f;
    for (int i = 1; i < 64; ++i) {
        for (int j = 1; j < 64; ++j) {
            const vector3df at(80.0f * i, 0.0f, 80.0f * j);
            worst =
                std::max(worst, std::fabs(radar->getHeight(at.X, at.Z) - (heights.getHeight(at) - 20000.0f)));
        }
    }
    EXPECT_LT(worst, 2.5f * radar->getScale().Y) << radar->getScale().Y;
}

TEST(HudConstruction, WithoutTheYellowRadarMeshThrowsAndWithoutResourcesDrawsNoSprite) {
    GameLoopHarness harness;
    try {
        Hud hud;
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.file, "src/client/hud");
        EXPECT_EQ(e.line, 47);
        EXPECT_EQ(e.message, "Can't create radar cylinder node!");
    }
    harness.loadResources();
    RecordingCanvas canvas;
    HudScene scene({1024, 768}, &canvas);
    ResourceHandler* resources = globals.resources;
    globals.resources = nullptr;
    scene.frame();
    globals.resources = resources;
    EXPECT_EQ(canvas.calls.size(),
              countOf(canvas.calls, CanvasCall::Line) + countOf(canvas.calls, CanvasCall::Rectangle));
    EXPECT_EQ(countOf(canvas.calls, CanvasCall::Rectangle), 3u);
}

// ---------------------------------------------------------------------------
// Under a virtual display: every resource, real pictures.

namespace {

class HudPictures : public testing::TestWithParam<Screen> {};

// Bytes of a picture's pixel as (red, green, blue).
struct Rgb {
    int r, g, b;
};
Rgb pixel(irr::video::IImage* image, position2di at) {
    const irr::video::SColor c = image->getPixel(irr::u32(at.X), irr::u32(at.Y));
    return {int(c.getRed()), int(c.getGreen()), int(c.getBlue())};
}

void expectColour(irr::video::IImage* image, position2di at, Rgb expected, int tolerance, const char* what) {
    const Rgb got = pixel(image, at);
    EXPECT_TRUE(std::abs(got.r - expected.r) <= tolerance && std::abs(got.g - expected.g) <= tolerance &&
                std::abs(got.b - expected.b) <= tolerance)
        << what << " at (" << at.X << ", " << at.Y << "): " << got.r << ", " << got.g << ", " << got.b;
}

}  // namespace

// The texts, the three pictures and the radar windows with every resource;
// then the picture itself at the layout's pixel positions.
TEST_P(HudPictures, PanelTextsViewsAndRadarsThenThePicture) {
    REQUIRE_OPENGL();
    const Screen screen = GetParam();
    GameLoopHarness harness(irr::video::EDT_OPENGL);
    ASSERT_NE(harness.device(), nullptr);
    ASSERT_TRUE(harness.loadResources());
    const hudmath::HudLayout& l = hudmath::layoutForWidth(int32_t(screen.width));
    const position2di c(int32_t(screen.width / 2), int32_t(screen.height / 2));
    const position2di b(c.X, int32_t(screen.height));
    {
        RecordingCanvas canvas;
        HudScene scene(sizeOf(screen), &canvas);
        scene.enemies[1]->setTargeted(true);
        scene.launchTorpedo(scene.enemies[0]);
        scene.frame();
        const std::vector<CanvasCall>& calls = canvas.calls;
        const std::pair<const wchar_t*, position2di> texts[] = {
            {L"3780.0 m", c + position2di(l.gauges.x, l.gauges.y)},
            {L"Class: Scout - SX271", b + position2di(l.radarImage.x + 2, l.radarImage.y - 15)},
            {L"Dpt:", b + position2di(l.targetView.x + 2, l.panelFrame.y + 12)},
            {L"180m", hudmath::radarLabel(l.rightRadar, b, L"").at},
        };
        for (const auto& [text, at] : texts) {
            const CanvasCall* found = find(calls, CanvasCall::Text, {}, nullptr, text);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->area.UpperLeftCorner, at);
        }
        for (const auto& [id, rect, size] : {std::tuple{TEXTURE_SONAR_CAM, l.radarImage, 256},
                                             std::tuple{TEXTURE_TORPEDO_CAM, l.torpedoView, 128},
                                             std::tuple{TEXTURE_TARGET_CAM, l.targetView, 128}}) {
            const recti source(0, 0, size, size);
            const CanvasCall* picture =
                find(calls, CanvasCall::ScaledImage, hudmath::panelArea(rect, b), &source);
            ASSERT_NE(picture, nullptr) << id;
            EXPECT_EQ(picture->texture, texture(id));
            EXPECT_TRUE(picture->colour == hudmath::kViewColour && !picture->useAlpha);
        }
        const hudmath::Sprite window = hudmath::radarWindow(l.leftRadar, b, 128);
        const CanvasCall* left =
            find(calls, CanvasCall::Image, imageArea(window.at, window.source), &window.source);
        ASSERT_NE(left, nullptr);
        EXPECT_EQ(left->texture, texture(TEXTURE_SONAR_LEFT));
        EXPECT_TRUE(left->colour == hudmath::kViewColour && !left->useAlpha);
        // After every view the back buffer is the target again.
        EXPECT_EQ(globals.driver->getCurrentRenderTargetSize(), sizeOf(screen));
    }

    HudScene scene(sizeOf(screen));
    scene.enemies[1]->setTargeted(true);
    scene.launchTorpedo(scene.enemies[0]);
    scene.frame();  // the second frame's radar and target view show the first frame's contacts
    irr::video::IImage* shot = scene.shoot();
    ASSERT_NE(shot, nullptr);
    const std::string name = std::string("hud_") + screen.name + ".png";
    EXPECT_TRUE(
        globals.driver->writeImageToFile(shot, (std::string(TARNWELL_BINARY_DIR) + "/" + name).c_str()));

    // Sprites at their places, in the atlas's colours: the cross's middle,
    // the compass mark's lowest row, a bracket's corner, the panel's corner.
    expectColour(shot, c, {72, 255, 72}, 2, "centre cross");
    expectColour(shot, c + position2di(0, 35 + l.compassY + 7), {255, 228, 48}, 2, "compass mark");
    const position2di enemy = onScreen(scene.enemies[0]->getPosition());
    expectColour(shot, enemy - position2di(16, 16), {255, 64, 40}, 2, "contact bracket");
    expectColour(shot, b + position2di(l.panelFrame.x, l.panelFrame.y), {170, 255, 170}, 2, "panel corner");
    // The radars are drawn at half opacity with their texture's alpha
    // ignored: a dot's pixel less its clear neighbour is half the dot's
    // colour. The player is yellow at the middle, enemy 1 red 70.7 units
    // ahead.
    const position2di middle =
        b + position2di(l.leftRadar.x + l.leftRadar.width / 2, l.leftRadar.y + l.leftRadar.height / 2);
    const auto half = [&](position2di at, Rgb colour, const char* what) {
        const Rgb beside = pixel(shot, at - position2di(4, 0));
        expectColour(shot, at, {beside.r + colour.r / 2, beside.g + colour.g / 2, beside.b + colour.b / 2}, 6,
                     what);
    };
    half(middle, {255, 255, 0}, "player's dot");
    const int32_t ahead = int32_t(float(l.leftRadar.height) * 70.71068f / 720.0f);
    half(middle - position2di(0, ahead), {255, 0, 0}, "enemy's dot");
    shot->drop();

    // The 3-D radar's picture: the wire terrain, the player's yellow column,
    // red columns of the contacts.
    irr::video::ITexture* radar = texture(TEXTURE_SONAR_CAM);
    const irr::video::SColor* texels =
        static_cast<const irr::video::SColor*>(radar->lock(irr::video::ETLM_READ_ONLY));
    ASSERT_NE(texels, nullptr);
    int yellow = 0, red = 0, ground = 0;
    for (irr::u32 i = 0; i < 256u * 256u; ++i) {
        const irr::video::SColor t = texels[i];
        yellow += t.getRed() > 200 && t.getGreen() > 200 && t.getBlue() < 60;
        red += t.getRed() > 200 && t.getGreen() < 60 && t.getBlue() < 60;
        ground += t.getRed() + t.getGreen() + t.getBlue() > 60 && !(t.getRed() > 200 && t.getBlue() < 60);
    }
    irr::video::IImage* picture = globals.driver->createImageFromData(
        radar->getColorFormat(), radar->getSize(), const_cast<irr::video::SColor*>(texels), false);
    radar->unlock();
    globals.driver->writeImageToFile(
        picture, (std::string(TARNWELL_BINARY_DIR) + "/hud_radar3d_" + screen.name + ".png").c_str());
    picture->drop();
    EXPECT_GT(yellow, 20);
    EXPECT_GT(red, 5);
    EXPECT_GT(ground, 500);
}

INSTANTIATE_TEST_SUITE_P(Screens, HudPictures,
                         testing::Values(Screen{"w800", 800, 600}, Screen{"w1024", 1024, 768}),
                         [](const testing::TestParamInfo<Screen>& info) {
                             return std::string(info.param.name);
                         });

// A null entry in the ship list ends the 3-D radar's call before it renders:
// the markers made so far leave the scene and the state comes back.
TEST(HudViews, NullShipEntryLeavesNoMarkersAndTheTargetGoesBack) {
    REQUIRE_OPENGL();
    GameLoopHarness harness(irr::video::EDT_OPENGL);
    ASSERT_NE(harness.device(), nullptr);
    ASSERT_TRUE(harness.loadResources());
    HudScene scene({800, 600});
    scene.enemies[1]->setTargeted(true);
    scene.frame();
    irr::scene::ISceneNode* root = globals.sceneManager->getRootSceneNode();
    const irr::u32 children = root->getChildren().size();
    globals.shipList.push_back(nullptr);
    globals.driver->beginScene(true, true, globals.clearColor);
    scene.hud().update3D();
    EXPECT_EQ(root->getChildren().size(), children);
    EXPECT_EQ(globals.sceneManager->getActiveCamera(), globals.mainCamera->getNode());
    globals.shipList.pop_back();

    // The target view draws the target alone far below and puts it back;
    // the camera stands 1.5 x its largest extent behind it along the
    // player's view.
    const vector3df place = scene.enemies[1]->getNode()->getPosition();
    scene.hud().renderTargetView();
    globals.driver->endScene();
    EXPECT_EQ(scene.enemies[1]->getNode()->getPosition(), place);
    EXPECT_EQ(globals.targetCamera->getNode()->getPosition(), vector3df(0, -30000, -15));
    EXPECT_EQ(globals.driver->getCurrentRenderTargetSize(), dimension2d<irr::u32>(800, 600));
}

// What the entities of the game decide: a locked launcher's target.
TEST(HudEntities, LockedLauncherGivesTheLockBracketHullBarAndLead) {
    GameLoopHarness harness;
    harness.loadResources();
    RecordingCanvas canvas;
    HudScene scene({800, 600}, &canvas);
    EXPECT_FALSE(Hud::launcherState({}).hasLauncher);
    EXPECT_FALSE(Hud::launcherState({nullptr}).complete);
    ASSERT_TRUE(Hud::launcherState(scene.player->getWeapons()).hasLauncher);
    Ship* target = scene.enemies[0];
    target->setTargeted(true);
    scene.player->setTarget(target);
    harness.clock().advance(100);
    scene.player->update(0.1f);
    ASSERT_TRUE(Hud::launcherState(scene.player->getWeapons()).locked);
    target->damage(500.0f);
    scene.frame();
    const position2di at = onScreen(target->getPosition());
    const recti locked(202, 100, 248, 146);
    EXPECT_NE(find(canvas.calls, CanvasCall::Image, imageArea(at - position2di(23, 23), locked), &locked),
              nullptr);
    const recti bar(498, 16, 500, 39);
    EXPECT_NE(find(canvas.calls, CanvasCall::Image, imageArea(at + position2di(27, -4), bar), &bar), nullptr);
}

// The game's frame draws the HUD's instruments and markers, then the
// cockpit models over them, then the lower panel and the radars over the
// cockpit: a marker low on the screen goes under the cockpit, the panel never
// does. Each canvas call keeps whether the cockpit has been drawn yet (it is
// hidden for the scene and shown as it is drawn).
TEST(HudDrawOrder, CockpitOverTheMarkersAndUnderThePanel) {
    GameLoopHarness harness;
    harness.loadResources();
    Game game;  // its frame's steps, with the cockpit's drawing on
    harness.publish();
    for (const bool cockpitOn : {true, false}) {
        RecordingCanvas canvas;
        HudScene scene({800, 600}, &canvas);
        globals.drawCockpit = cockpitOn;
        irr::scene::ISceneNode* cockpit = scene.player->getCockpitNode();
        ASSERT_NE(cockpit, nullptr);
        canvas.flagOf = [&] { return cockpit->isVisible(); };
        globals.driver->beginScene(true, true, globals.clearColor);
        game.frameScene();
        game.frameHud();
        globals.driver->endScene();

        const hudmath::HudLayout& l = hudmath::layoutForWidth(800);
        const recti bracket(385, 66, 417, 98);
        const recti panel = hudmath::panelArea(l.panelFrame, {400, 600});
        const auto first = [&](const std::function<bool(const CanvasCall&)>& is) {
            return std::find_if(canvas.calls.begin(), canvas.calls.end(), is);
        };
        const auto markers = first([&](const CanvasCall& c) { return c.source == bracket; });
        const auto lowerPanel =
            first([&](const CanvasCall& c) { return c.kind == CanvasCall::Rectangle && c.area == panel; });
        ASSERT_TRUE(markers != canvas.calls.end() && lowerPanel != canvas.calls.end()) << cockpitOn;
        // Everything before the panel (the instruments, markers, gauges) is
        // drawn before the cockpit, everything from it on after.
        EXPECT_TRUE(
            std::none_of(canvas.calls.begin(), lowerPanel, [](const CanvasCall& c) { return c.flag; }));
        EXPECT_TRUE(std::all_of(lowerPanel, canvas.calls.end(),
                                [&](const CanvasCall& c) { return c.flag == cockpitOn; }));
        EXPECT_LT(markers - canvas.calls.begin(), lowerPanel - canvas.calls.begin());
    }
}

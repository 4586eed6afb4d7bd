// The HUD's pixel rules against the layout tables and the worked values of
// its design, and against what the atlas painting implies: the strip pixel
// under an index mark shows the angle, the horizon's wings lie on their
// radii, the arrow and the radar point where the target is.
#include "ClientTestSupport.h"

#include "client/constants.h"
#include "client/hudmath.h"
#include "client/scopedenginestate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace hudmath;
using irr::core::dimension2d;

namespace hudmath {
bool operator==(const PanelRect& a, const PanelRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
bool operator==(const Offset& a, const Offset& b) {
    return a.x == b.x && a.y == b.y;
}
}  // namespace hudmath

namespace {

const position2di kCentre800(400, 300);
const position2di kBottom800(400, 600);
const position2di kBottom1024(512, 768);

double distance(position2di a, double x, double y) {
    return std::hypot(a.X - x, a.Y - y);
}

}  // namespace

TEST(HudLayoutTable, OffsetsAndRectanglesPerScreenWidth) {
    struct Row {
        int32_t width;
        HudLayout expected;
    };
    const HudLayout zero{};
    const Row rows[] = {
        {800,
         {-192,
          {116, -120},
          {116, -192},
          {-138, -118, 279, 116},
          {-48, -102, 97, 84},
          {55, -93, 78, 66},
          {-132, -93, 78, 66},
          {-243, -106, 95, 95},
          {148, -106, 95, 95}}},
        {1024,
         {-192,
          {160, -96},
          {140, -192},
          {-176, -153, 356, 148},
          {-63, -134, 127, 107},
          {74, -128, 95, 95},
          {-169, -128, 95, 95},
          {-313, -133, 124, 124},
          {190, -133, 124, 124}}},
        {640, zero},
        {1280, zero},
        {0, zero},
    };
    for (const Row& row : rows) {
        const HudLayout& l = layoutForWidth(row.width);
        const HudLayout& e = row.expected;
        EXPECT_EQ(l.compassY, e.compassY) << row.width;
        EXPECT_TRUE(l.pitchLadder == e.pitchLadder && l.gauges == e.gauges) << row.width;
        EXPECT_TRUE(l.panelFrame == e.panelFrame && l.radarImage == e.radarImage &&
                    l.torpedoView == e.torpedoView && l.targetView == e.targetView &&
                    l.leftRadar == e.leftRadar && l.rightRadar == e.rightRadar)
            << row.width;
    }
}

TEST(HudAttitude, HeadingPitchAndRollFollowTheShip) {
    struct Row {
        vector3df rotation;
        float heading, pitch, roll;
    };
    const Row rows[] = {
        {{0, 0, 0}, 0, 0, 0},     {{0, 90, 0}, 90, 0, 0},
        {{0, -90, 0}, 270, 0, 0}, {{0, 180, 0}, 180, 0, 0},
        {{30, 0, 0}, 0, 30, 0},   {{-30, 0, 0}, 0, -30, 0},
        {{0, 0, 20}, 0, 0, 20},   {{0, 0, -120}, 0, 0, -120},
        {{0, 10, 0}, 10, 0, 0},   {{0, 359.99f, 0}, 359.99f, 0, 0},
    };
    for (const Row& row : rows) {
        const Attitude a = attitudeFromRotation(row.rotation);
        EXPECT_NEAR(a.heading, row.heading, 0.01) << row.rotation.Y;
        EXPECT_NEAR(a.pitch, row.pitch, 0.01) << row.rotation.X;
        EXPECT_NEAR(a.roll, row.roll, 0.01) << row.rotation.Z;
    }
    // Every attitude, the nose straight up or down included, gives finite
    // angles in range; a non-finite rotation gives zeros.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    for (int i = 0; i < 20000; ++i) {
        const float x = i % 2 == 0 ? angle(random) : (i % 4 == 1 ? 90.0f : -90.0f);
        const Attitude a = attitudeFromRotation({x, angle(random), angle(random)});
        ASSERT_TRUE(a.heading >= 0.0f && a.heading < 360.0f) << a.heading;
        ASSERT_TRUE(std::fabs(a.pitch) <= 90.01f && std::isfinite(a.roll)) << a.pitch << " " << a.roll;
    }
    const Attitude broken = attitudeFromRotation({NAN, 0, 0});
    EXPECT_TRUE(broken.heading == 0.0f && broken.pitch == 0.0f && broken.roll == 0.0f);
}

TEST(HudCompass, StripAndIndexAtWorkedHeadings) {
    struct Row {
        float heading;
        recti source;
    };
    const Row rows[] = {
        {0.0f, {96, 66, 289, 99}},   {10.0f, {117, 66, 310, 99}}, {45.0f, {96, 66, 289, 99}},
        {45.01f, {0, 0, 193, 33}},   {90.0f, {0, 0, 193, 33}},    {100.0f, {117, 0, 310, 33}},
        {200.0f, {42, 33, 235, 66}}, {359.9f, {95, 66, 288, 99}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(compassStrip(row.heading, kCentre800, layoutForWidth(800)).source, row.source)
            << row.heading;
    }
    EXPECT_EQ(compassStrip(10.0f, kCentre800, layoutForWidth(800)).at, position2di(304, 108));
    EXPECT_EQ(compassIndex(kCentre800, layoutForWidth(800)).at, position2di(393, 143));
    EXPECT_EQ(compassStrip(10.0f, {320, 240}, layoutForWidth(640)).at, position2di(224, 240));
    EXPECT_EQ(compassIndex({320, 240}, layoutForWidth(640)).at, position2di(313, 275));
    EXPECT_EQ(compassIndex({0, 0}, layoutForWidth(800)).source, recti(482, 0, 497, 8));
}

// The atlas's compass rows start at 0, 135 and -90 degrees, 96 pixels per 45;
// the index mark's middle pixel sees strip pixel 96 of the 193.
TEST(HudCompass, PixelUnderTheIndexShowsTheHeading) {
    const double origin[] = {0.0, 135.0, -90.0};
    const auto shown = [&](float heading) {
        const recti s = compassStrip(heading, kCentre800, layoutForWidth(800)).source;
        return origin[s.UpperLeftCorner.Y / 33] + (s.UpperLeftCorner.X + 96) * 45.0 / 96.0;
    };
    for (int32_t step = 0; step < 36000; ++step) {
        const float heading = step * 0.01f;
        if (step % 4500 == 0 && step != 0) {
            // An exact multiple of 45 belongs to the sector below it, whose
            // strip the wrapped column then reads from its start.
            EXPECT_NEAR(shown(heading), heading - 45.0, 1e-9) << heading;
            continue;
        }
        const double error = std::fmod(shown(heading) - heading + 540.0, 360.0) - 180.0;
        ASSERT_LT(std::fabs(error), 45.0 / 96.0 + 1e-3) << heading;
    }
}

// The window reads only the painted part of its row (rows 0 and 1 to x 480,
// row 2 to 384), so the only labels it cuts are those scrolling out of its
// two ends; the index mark stands under the window's middle column at both
// layouts.
TEST(HudCompass, WindowInsideItsPaintedRowWithTheIndexUnderItsMiddle) {
    const int32_t paintedEnd[] = {480, 480, 384};
    for (const position2di& centre : {position2di(400, 300), position2di(512, 384)}) {
        const HudLayout& l = layoutForWidth(2 * centre.X);
        const Sprite index = compassIndex(centre, l);
        for (int32_t step = 0; step < 36000; ++step) {
            const Sprite strip = compassStrip(step * 0.01f, centre, l);
            const recti& s = strip.source;
            ASSERT_TRUE(s.UpperLeftCorner.X >= 0 &&
                        s.LowerRightCorner.X <= paintedEnd[s.UpperLeftCorner.Y / 33] && s.getWidth() == 193 &&
                        s.getHeight() == 33)
                << step;
            ASSERT_EQ(index.at.X + index.source.getWidth() / 2, strip.at.X + s.getWidth() / 2) << step;
            ASSERT_EQ(index.at.Y, strip.at.Y + s.getHeight() + 2) << step;
        }
    }
}

TEST(HudPitchLadder, ColumnAndRowsAtWorkedPitches) {
    struct Row {
        float pitch;
        recti source;
    };
    const Row rows[] = {
        {-10.0f, {0, 175, 42, 368}},  {10.0f, {42, 121, 84, 314}},    {0.0f, {0, 196, 42, 389}},
        {50.0f, {84, 110, 126, 303}}, {-50.0f, {126, 186, 168, 379}}, {45.0f, {42, 100, 84, 293}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(pitchLadder(row.pitch, kCentre800, layoutForWidth(800)).source, row.source) << row.pitch;
    }
    EXPECT_EQ(pitchLadder(0.0f, kCentre800, layoutForWidth(800)).at, position2di(516, 180));
    EXPECT_EQ(pitchIndex(kCentre800, layoutForWidth(800)).at, position2di(505, 269));
    EXPECT_EQ(pitchLadder(0.0f, {512, 384}, layoutForWidth(1024)).at, position2di(672, 288));
    EXPECT_EQ(pitchIndex({512, 384}, layoutForWidth(1024)).at, position2di(661, 377));
}

// The atlas's pitch columns show 0 at rows 292, 196, 100 and 388, 96 pixels
// per 45; the index mark's middle row sees strip row 96.
TEST(HudPitchLadder, RowBesideTheIndexShowsThePitch) {
    const double origin[] = {292.0, 196.0, 100.0, 388.0};
    for (int32_t step = -8999; step <= 9000; ++step) {
        if (step % 4500 == 0 && step > 0) {
            continue;  // 45 and 90 read the sector below, as the compass does
        }
        const float pitch = step * 0.01f;
        const recti s = pitchLadder(pitch, kCentre800, layoutForWidth(800)).source;
        const double shown = (s.UpperLeftCorner.Y + 96 - origin[s.UpperLeftCorner.X / 42]) * 45.0 / 96.0;
        ASSERT_LT(std::fabs(shown - pitch), 45.0 / 96.0 + 1e-3) << pitch;
    }
}

TEST(HudHorizon, LinesAtWorkedAttitudes) {
    const std::array<Line, 10> level = horizonLines(0.0f, 0.0f, kCentre800);
    EXPECT_EQ(level[0].from, position2di(380, 300));
    EXPECT_EQ(level[0].to, position2di(365, 300));
    EXPECT_EQ(level[5].from, position2di(420, 300));
    EXPECT_EQ(level[5].to, position2di(435, 300));
    EXPECT_EQ(level[2].to, position2di(445, 308));  // the notches, below with the nose level or down
    EXPECT_EQ(level[7].to, position2di(355, 308));
    const std::array<Line, 10> up = horizonLines(0.0f, -5.0f, kCentre800);
    EXPECT_EQ(up[2].to, position2di(445, 292));
    EXPECT_EQ(up[7].to, position2di(355, 292));
    const std::array<Line, 10> down = horizonLines(0.0f, 20.0f, kCentre800);
    EXPECT_EQ(down[5].from, position2di(420, 303));
    EXPECT_EQ(down[5].to, position2di(435, 303));
}

TEST(HudHorizon, WingsLieOnTheirRadiiAndMirrorAcrossTheCentre) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> roll(-180.0f, 180.0f);
    std::uniform_real_distribution<float> pitch(-90.0f, 90.0f);
    const position2di c = kCentre800;
    for (int i = 0; i < 5000; ++i) {
        const std::array<Line, 10> l = horizonLines(roll(random), pitch(random), c);
        for (int side : {1, 6}) {
            ASSERT_EQ(l[side].to, l[side + 1].from);
            ASSERT_EQ(l[side + 1].to, l[side + 2].from);
            ASSERT_EQ(l[side + 2].to, l[side + 3].from);
            const double radii[] = {35, 40, 50, 65};
            const position2di points[] = {l[side].from, l[side].to, l[side + 2].to, l[side + 3].to};
            for (int k = 0; k < 4; ++k) {
                ASSERT_NEAR(distance(points[k], c.X, c.Y), radii[k], 1.5);
            }
            ASSERT_NEAR(distance(l[side + 1].to, c.X, c.Y), std::hypot(45.0, 8.0), 1.5);
            ASSERT_NEAR(distance(l[side - 1].from, l[side - 1].to.X, l[side - 1].to.Y), 15.0, 1.5);
        }
        for (int k : {1, 2, 4}) {
            ASSERT_EQ(l[k].from + l[k + 5].from, c + c);
        }
    }
}

TEST(HudGauges, TextsAndColoursOfTheSixRows) {
    struct Row {
        const char* name;
        vector3df velocity;
        float thrust;
        bool engineOn;
        const wchar_t* speed;
        SColor speedColour;
        const wchar_t* kilonewtons;
        const wchar_t* level;
        SColor levelColour;
    };
    const Row rows[] = {
        {"at rest", {0, 0, 0}, 0, true, L"  0.0 km/h", kGreen, L"  0.0 kN", L"NL 1", kGreen},
        {"ahead", {0, 0, 10}, 96, true, L" 36.0 km/h", kGreen, L"  1.0 kN", L"NL 1", kGreen},
        {"sideways", {10, 0, 0}, 125, true, L" 36.0 km/h", kGreen, L"  1.2 kN", L"NL 2", kYellow},
        {"backwards", {0, 0, -10}, 375, true, L"-36.0 km/h", kRed, L"  3.8 kN", L"NL 2", kYellow},
        {"half thrust", {0, 0, 10}, 500, true, L" 36.0 km/h", kGreen, L"  5.0 kN", L"NL 3", kYellow},
        {"reverse", {0, 0, 10}, -500, true, L" 36.0 km/h", kGreen, L" -5.0 kN", L"NL 3", kYellow},
        {"three quarters", {0, 0, 10}, 625, true, L" 36.0 km/h", kGreen, L"  6.2 kN", L"NL 4", kRed},
        {"full", {0, 0, 10}, 1000, true, L" 36.0 km/h", kGreen, L" 10.0 kN", L"NL 5", kRed},
        {"engine off", {0, 0, 10}, 1000, false, L" 36.0 km/h", kGreen, L" 10.0 kN", L"NL 0", kGreen},
    };
    for (const Row& row : rows) {
        GaugeInput input;
        input.position = {2560, -3780, 3760};
        input.groundHeight = -4000.0f;
        input.velocity = row.velocity;
        input.direction = {0, 0, 1};
        input.mass = 10.0f;
        input.thrustInput = {0, 0, row.thrust};
        input.engineOn = row.engineOn;
        input.maxForwardThrust = 1000.0f;
        const std::vector<HudText> t = gaugeTexts(input, kCentre800, layoutForWidth(800));
        ASSERT_EQ(t.size(), 6u) << row.name;
        const std::wstring expected[] = {L"3780.0 m",     L"220.0 m", row.speed,
                                         row.kilonewtons, row.level,  L"BUZ 0"};
        const SColor colours[] = {kGreen, kGreen, row.speedColour, kGreen, row.levelColour, kGreen};
        for (int32_t i = 0; i < 6; ++i) {
            EXPECT_EQ(t[i].text, expected[i]) << row.name << " row " << i;
            EXPECT_EQ(t[i].colour, colours[i]) << row.name << " row " << i;
            EXPECT_EQ(t[i].at, position2di(516, 108 + 10 * i)) << row.name;
        }
    }
    // Without a height map the height above ground is left out; the rows
    // below keep their places (1024 layout).
    GaugeInput input;
    const std::vector<HudText> t = gaugeTexts(input, {512, 384}, layoutForWidth(1024));
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].at, position2di(652, 192));
    EXPECT_EQ(t[1].at, position2di(652, 212));
    EXPECT_EQ(t[4].at, position2di(652, 242));
}

TEST(HudText, FormattedAsTheCLibraryPrintsIntoAHundredCharacters) {
    EXPECT_EQ(formatText(L"NL %1.0f", 2.5), L"NL 2");  // halves round to even
    EXPECT_EQ(formatText(L"NL %1.0f", 3.5), L"NL 4");
    EXPECT_EQ(formatText(L"Class: %ls - %ls", L"Bomber1", L"SB373"), L"Class: Bomber1 - SB373");
    const std::wstring longName(300, L'x');
    EXPECT_EQ(formatText(L"%ls", longName.c_str()).size(), 99u);
}

// The engine's projection (getScreenCoordinatesFrom3DPosition) over random
// cameras and points in front of and behind them.
TEST(HudProjection, MatchesTheEnginesScreenCoordinatesAndIsDefinedEverywhere) {
    clienttest::ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    irr::scene::ISceneManager* scene = globals.sceneManager;
    irr::scene::ICameraSceneNode* camera = scene->addCameraSceneNode();
    camera->setAspectRatio(0.75f);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> spread(-300.0f, 300.0f);
    int behind = 0;
    for (const dimension2d<irr::u32> screen :
         {dimension2d<irr::u32>(800, 600), dimension2d<irr::u32>(1024, 768)}) {
        globals.driver->OnResize(screen);
        for (int view = 0; view < 50; ++view) {
            camera->setPosition({spread(random), spread(random), spread(random)});
            camera->setTarget({spread(random), spread(random), spread(random)});
            scene->drawAll();
            irr::core::matrix4 viewProjection = camera->getProjectionMatrix();
            viewProjection *= camera->getViewMatrix();
            for (int i = 0; i < 200; ++i) {
                const vector3df p(spread(random), spread(random), spread(random));
                const position2di engine =
                    scene->getSceneCollisionManager()->getScreenCoordinatesFrom3DPosition(p, camera);
                // Points within a unit of the camera's plane overflow the
                // engine's own rounding; ours is compared where it is defined.
                const bool nearPlane =
                    std::fabs(
                        (p - camera->getAbsolutePosition())
                            .dotProduct((camera->getTarget() - camera->getAbsolutePosition()).normalize())) <
                    1.0f;
                if (!nearPlane) {
                    ASSERT_EQ(projectToScreen(viewProjection, p, screen), engine);
                    behind += engine.X == kNotOnScreen;
                }
            }
            // On the camera's plane itself, beside the eye, and at NaN.
            const vector3df eye = camera->getAbsolutePosition();
            const vector3df side = (camera->getTarget() - eye).crossProduct({0, 1, 0}).normalize();
            const position2di edge = projectToScreen(viewProjection, eye + side * 5.0f, screen);
            EXPECT_LE(std::abs(edge.X), (1 << 24) + 1024);
            EXPECT_EQ(projectToScreen(viewProjection, {NAN, 0, 0}, screen),
                      position2di(kNotOnScreen, kNotOnScreen));
        }
    }
    EXPECT_GT(behind, 1000);
}

TEST(HudContactMarkers, DecisionForEachKindOfContact) {
    struct Row {
        const char* name;
        position2di at;
        bool targeted;
        float distanceSquared;
        bool visible;
        bool launcher;
        ContactMark mark;
        bool asked;  // the terrain query ran
    };
    const position2di behind(kNotOnScreen, kNotOnScreen);
    const float near = 200.0f * 200.0f;
    const Row rows[] = {
        {"ahead", {400, 300}, false, near, true, true, ContactMark::Bracket, true},
        {"target, launcher", {400, 300}, true, near, true, true, ContactMark::TargetBracket, true},
        {"target, no launcher", {400, 300}, true, near, true, false, ContactMark::Bracket, true},
        {"exactly 360 away", {400, 300}, false, 129600.0f, true, true, ContactMark::OffRadar, true},
        {"hidden", {400, 300}, true, near, false, true, ContactMark::OffRadar, true},
        {"on the right edge", {800, 600}, false, near, true, true, ContactMark::Bracket, true},
        {"past the right edge", {801, 300}, false, near, true, true, ContactMark::Bracket, true},
        {"target past the edge", {801, 300}, true, near, true, true, ContactMark::Arrow, true},
        {"target above", {400, -1}, true, near, true, false, ContactMark::Arrow, true},
        {"behind", behind, false, near, true, true, ContactMark::None, false},
        {"target behind", behind, true, near, true, true, ContactMark::Arrow, true},
        {"target behind, hidden", behind, true, near, false, true, ContactMark::OffRadar, true},
        {"target behind, far", behind, true, 400.0f * 400.0f, true, true, ContactMark::OffRadar, true},
        {"NaN distance", {400, 300}, false, NAN, true, true, ContactMark::OffRadar, true},
    };
    for (const Row& row : rows) {
        bool asked = false;
        const ContactMark mark = contactMark(row.at, row.targeted, row.distanceSquared, RADAR_RANGE_SQUARED,
                                             800, 600, row.launcher, [&] {
                                                 asked = true;
                                                 return row.visible;
                                             });
        EXPECT_EQ(mark, row.mark) << row.name;
        EXPECT_EQ(asked, row.asked) << row.name;
    }
    EXPECT_EQ(contactBracket({400, 300}).at, position2di(384, 284));
    EXPECT_EQ(targetBracket({400, 300}, true).source, recti(202, 100, 248, 146));
    EXPECT_EQ(targetBracket({400, 300}, false).source, recti(249, 100, 295, 146));
    EXPECT_EQ(targetBracket({400, 300}, false).at, position2di(377, 277));
    EXPECT_EQ(leadIndicator({400, 300}).at, position2di(392, 292));
}

TEST(HudContactMarkers, HullBarGrowsInStepsAndStaysInsideTheAtlas) {
    struct Row {
        float hull, maxHull;
        int32_t height;  // 0: no bar
    };
    const Row rows[] = {
        {500, 1000, 23}, {1, 1000, 3},     {0, 1000, 3}, {999, 1000, 39}, {1000, 1000, 39},
        {-50, 1000, 0},  {-1000, 1000, 0}, {500, 0, 39}, {0, 0, 0},       {NAN, 1000, 0},
    };
    for (const Row& row : rows) {
        const std::optional<Sprite> bar = hullBar({400, 300}, row.hull, row.maxHull);
        ASSERT_EQ(bar.has_value(), row.height > 0) << row.hull << " of " << row.maxHull;
        if (bar) {
            EXPECT_EQ(bar->source, recti(498, 39 - row.height, 500, 39)) << row.hull;
            EXPECT_EQ(bar->at, position2di(427, 319 - row.height)) << row.hull;
        }
    }
}

TEST(HudContactMarkers, ArrowPointsAtTheTargetAHundredPixelsOut) {
    const Attitude level = attitudeFromRotation({0, 0, 0});
    const std::array<Line, 3> right = offScreenArrow(level.inverse, {0, 0, 0}, {10, 0, 0}, kCentre800);
    EXPECT_EQ(right[0].from, position2di(500, 300));
    EXPECT_EQ(right[0].to, right[2].from);
    EXPECT_EQ(right[1].to, right[2].to);
    // The corners at (85, -15) and (85, 15) within the pixel that truncation
    // of the game's single-precision angle costs.
    EXPECT_LE(distance(right[2].from, 485, 285), 1.0);
    EXPECT_LE(distance(right[2].to, 485, 315), 1.0);

    std::mt19937 random(3);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f);
    std::uniform_real_distribution<float> spread(-1.0f, 1.0f);
    for (int i = 0; i < 20000; ++i) {
        const Attitude a = attitudeFromRotation({angle(random), angle(random), angle(random)});
        const vector3df player(spread(random) * 1000, spread(random) * 1000, spread(random) * 1000);
        const vector3df target = player + vector3df(spread(random), spread(random), spread(random)) * 300.0f;
        // The target's direction in the ship's frame, right and up, as a
        // screen direction (y down).
        vector3df local = target - player;
        a.inverse.rotateVect(local);
        const double length = std::hypot(local.X, local.Y);
        if (length < 1e-3) {
            continue;
        }
        const double ux = local.X / length;
        const double uy = -local.Y / length;
        const std::array<Line, 3> arrow = offScreenArrow(a.inverse, player, target, kCentre800);
        ASSERT_LE(distance(arrow[0].from, 400 + 100 * ux, 300 + 100 * uy), 1.5);
        ASSERT_LE(distance(arrow[0].to, 400 + 85 * ux + 15 * uy, 300 + 85 * uy - 15 * ux), 1.5);
        ASSERT_LE(distance(arrow[1].to, 400 + 85 * ux - 15 * uy, 300 + 85 * uy + 15 * ux), 1.5);
    }
}

TEST(HudRadar3D, ColumnsCameraBlinkAndTargetDistance) {
    const Column player = playerColumn({2560, -3780, 3760}, -4000.0f);
    EXPECT_EQ(player.position, vector3df(2560, -23890, 3760));
    EXPECT_EQ(player.scale, vector3df(15, 110, 15));
    // The column reaches from the ground's shadow to the ship's.
    EXPECT_FLOAT_EQ(player.position.Y - player.scale.Y, -24000.0f);
    EXPECT_FLOAT_EQ(player.position.Y + player.scale.Y, -23780.0f);
    struct Row {
        float contactZ;
        float extra;
        float width;
        float halfHeight;
    };
    const Row rows[] = {{3760, 0, 15, 110},    {4000, 0, 15, 110},    {3385, 0, 7.5f, 110},
                        {3010, 0, 0.02f, 110}, {2000, 0, 0.02f, 110}, {3760, 20, 15, 130}};
    for (const Row& row : rows) {
        const Column c = contactColumn({100, -3780, row.contactZ}, -4000.0f, row.extra, 3760.0f);
        EXPECT_FLOAT_EQ(c.scale.X, row.width) << row.contactZ;
        EXPECT_FLOAT_EQ(c.scale.Z, row.width) << row.contactZ;
        EXPECT_FLOAT_EQ(c.scale.Y, row.halfHeight) << row.contactZ;
        EXPECT_FLOAT_EQ(c.position.Y, -4000.0f + row.halfHeight - 20000.0f) << row.contactZ;
    }
    EXPECT_FLOAT_EQ(contactColumn({0, -4000, 0}, -4000.0f, 0.0f, 0.0f).scale.Y,
                    0.0f);  // resting on the ground

    const CameraPose pose = sonarCameraPose({2560, -3780, 3760}, -4000.0f, 30.0f);
    EXPECT_EQ(pose.offset, vector3df(0, 50, -750));
    EXPECT_EQ(pose.position, vector3df(2560, -23850, 3760));
    EXPECT_EQ(pose.rotation, vector3df(0, 30, 0));
    for (uint32_t t : {0u, 199u, 400u, 599u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(torpedoBlinkOn(t)) << t;
    }
    for (uint32_t t : {200u, 399u, 600u, 0xFFFFFF00u}) {
        EXPECT_TRUE(torpedoBlinkOn(t)) << t;
    }
    EXPECT_FLOAT_EQ(targetCameraDistance({2, 6, 4}), 9.0f);
    EXPECT_FLOAT_EQ(targetCameraDistance({-2, -6, -4}), 0.0f);
    const ShadowTerrain shadow = shadowTerrain(-5000.0f, -2450.0f);
    EXPECT_FLOAT_EQ(shadow.positionY, -25000.0f);
    EXPECT_FLOAT_EQ(shadow.positionY + 255.0f * shadow.heightScale, -22450.0f);
}

TEST(HudPanel, RectanglesCornersMarksAndTextsPerLayout) {
    const HudLayout& l800 = layoutForWidth(800);
    const HudLayout& l1024 = layoutForWidth(1024);
    EXPECT_EQ(panelArea(l800.panelFrame, kBottom800), recti(262, 482, 541, 598));
    EXPECT_EQ(panelArea(l800.radarImage, kBottom800), recti(352, 498, 449, 582));
    EXPECT_EQ(panelArea(l1024.torpedoView, kBottom1024), recti(586, 640, 681, 735));
    EXPECT_EQ(panelArea(layoutForWidth(640).targetView, {320, 480}), recti(320, 480, 320, 480));
    const std::array<Sprite, 4> corners = frameCorners(l800.panelFrame, kBottom800);
    const position2di cornerPlaces[] = {{262, 482}, {535, 482}, {262, 592}, {535, 592}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(corners[i].at, cornerPlaces[i]) << i;
    }
    EXPECT_EQ(corners[3].source, recti(489, 75, 495, 81));

    // Steering straight ahead, then 90 degrees of roll error and 30 of pitch:
    // at 1024 the half of the width 95 is 47, and sin x 95 / 2 = 47.5 truncates
    // to 47 as well.
    struct Marks {
        const HudLayout& layout;
        position2di bottom;
        vector3df aim;
        position2di crosshair, from, to, dot;
    };
    const Marks marks[] = {
        {l800, kBottom800, {0, 0, 0}, {488, 534}, {493, 539}, {493, 539}, {490, 536}},
        {l800, kBottom800, {NAN, 0, NAN}, {488, 534}, {493, 539}, {493, 539}, {490, 536}},
        {l800, kBottom800, {30, 0, -90}, {488, 534}, {493, 539}, {532, 555}, {529, 552}},
        {l1024, kBottom1024, {30, 0, -90}, {627, 681}, {632, 686}, {679, 709}, {676, 706}},
    };
    for (const Marks& m : marks) {
        const TorpedoViewMarks got = torpedoViewMarks(m.layout, m.bottom, m.aim);
        EXPECT_TRUE(got.crosshair.at == m.crosshair && got.steering.from == m.from &&
                    got.steering.to == m.to && got.dot.at == m.dot)
            << m.aim.X << " " << got.steering.to.X << " " << got.steering.to.Y;
    }

    const std::array<HudText, 2> dist = torpedoDistanceTexts(l800, kBottom800, 12.34f);
    EXPECT_EQ(dist[0].at, position2di(457, 493));
    EXPECT_EQ(dist[1].at, position2di(481, 493));
    EXPECT_EQ(dist[1].text, L" 12.3 m");

    TargetData data{L"Scout", L"SX271", 76.4f, -3750.0f, 10.0f};
    const std::vector<HudText> t = targetTexts(l800, kBottom800, data);
    const std::pair<position2di, std::wstring> expected[] = {
        {{354, 483}, L"Class: Scout - SX271"},
        {{354, 582}, L"Cargo: empty"},
        {{270, 484}, L"Dist:"},
        {{294, 484}, L" 76.4 m"},
        {{270, 494}, L"Dpt:"},
        {{294, 494}, L"3750.0 m"},
        {{270, 573}, L"Vel:"},
        {{288, 573}, L" 36.0 km/h"},
        {{270, 583}, L"NL:"},
    };
    ASSERT_EQ(t.size(), 9u);
    for (size_t i = 0; i < t.size(); ++i) {
        EXPECT_EQ(t[i].at, expected[i].first) << i;
        EXPECT_EQ(t[i].text, expected[i].second) << i;
        EXPECT_EQ(t[i].colour, kGreen);
    }
}

TEST(HudRadar2D, PlotsAtWorkedDistancesAndBearings) {
    struct Row {
        const char* name;
        float heading;
        vector3df contact;
        int32_t window;
        std::optional<Offset> left, right;
    };
    const Row rows[] = {
        {"100 ahead", 0, {0, 0, 100}, 95, Offset{0, 13}, Offset{0, 26}},
        {"100 ahead, 1024", 0, {0, 0, 100}, 124, Offset{0, 17}, Offset{0, 34}},
        {"100 behind", 0, {0, 0, -100}, 95, Offset{0, -13}, Offset{0, -26}},
        {"100 right", 0, {100, 0, 0}, 95, Offset{13, 0}, Offset{26, 0}},
        {"100 ahead facing +x", 90, {100, 0, 0}, 95, Offset{0, 13}, Offset{0, 26}},
        {"200 ahead", 0, {0, 0, 200}, 95, Offset{0, 26}, std::nullopt},
        {"400 ahead", 0, {0, 0, 400}, 95, std::nullopt, std::nullopt},
        {"other widths", 0, {0, 0, 100}, 0, Offset{0, 0}, Offset{0, 0}},
        {"NaN", 0, {NAN, 0, 0}, 95, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        const RadarPlot plot =
            plotContact({0, 0, 0}, row.heading, row.contact, row.window, row.window, 360.0f);
        EXPECT_EQ(plot.left, row.left) << row.name;
        EXPECT_EQ(plot.right, row.right) << row.name;
    }
    // Ahead is up and right is right whatever the heading: a contact at a
    // bearing b relative to the nose, distance r, lies at (r sin b, r cos b).
    std::mt19937 random(13);
    std::uniform_real_distribution<float> angle(0.0f, 360.0f);
    std::uniform_real_distribution<float> range(0.0f, 350.0f);
    for (int i = 0; i < 20000; ++i) {
        const float heading = angle(random);
        const double bearing = angle(random) * M_PI / 180.0;
        const double r = range(random);
        const double world = heading * M_PI / 180.0 + bearing;
        const vector3df player(2560, -3780, 3760);
        const vector3df contact =
            player + vector3df(float(r * std::sin(world)), 0.0f, float(r * std::cos(world)));
        const RadarPlot plot = plotContact(player, heading, contact, 124, 124, 360.0f);
        const double x = 124.0 * r * std::sin(bearing) / 720.0;
        const double y = 124.0 * r * std::cos(bearing) / 720.0;
        if (std::fabs(x) < 61.5 && std::fabs(y) < 61.5) {
            ASSERT_TRUE(plot.left.has_value()) << heading << " " << bearing;
            ASSERT_LE(std::hypot(plot.left->x - x, plot.left->y - y), 1.5) << heading << " " << bearing;
        }
    }

    const std::array<position2di, 4> dot = radarDot(128, {0, 13});
    EXPECT_EQ(dot[0], position2di(127, 114));
    EXPECT_EQ(dot[3], position2di(128, 115));
    const dimension2d<irr::u32> texture(256, 256);
    EXPECT_TRUE(texelInside({0, 0}, texture) && texelInside({255, 255}, texture));
    EXPECT_FALSE(texelInside({-1, 0}, texture) || texelInside({256, 0}, texture) ||
                 texelInside({0, 256}, texture));
    EXPECT_FALSE(texelInside({70000, 0}, dimension2d<irr::u32>(100000, 1)));

    const Sprite window800 = radarWindow(layoutForWidth(800).leftRadar, kBottom800, 128);
    EXPECT_EQ(window800.at, position2di(157, 494));
    EXPECT_EQ(window800.source, recti(81, 81, 175, 175));  // 94 texels into a 95-pixel frame
    const Sprite window1024 = radarWindow(layoutForWidth(1024).rightRadar, kBottom1024, 128);
    EXPECT_EQ(window1024.at, position2di(702, 635));
    EXPECT_EQ(window1024.source, recti(66, 66, 190, 190));
    EXPECT_EQ(radarWindow(layoutForWidth(640).leftRadar, {320, 480}, 128).source, recti(128, 128, 128, 128));
    EXPECT_EQ(radarLabel(layoutForWidth(800).leftRadar, kBottom800, L"360m").at, position2di(192, 575));
    EXPECT_EQ(radarLabel(layoutForWidth(800).rightRadar, kBottom800, L"180m").at, position2di(583, 575));
}

namespace {

// A texture that counts its locks and unlocks.
class CountingTexture : public irr::video::ITexture {
public:
    explicit CountingTexture(bool lockable) : ITexture("counting"), lockable(lockable) {}
    void* lock(irr::video::E_TEXTURE_LOCK_MODE, irr::u32) override {
        ++locks;
        return lockable ? pixels : nullptr;
    }
    void unlock() override { ++unlocks; }
    const dimension2d<irr::u32>& getOriginalSize() const override { return size; }
    const dimension2d<irr::u32>& getSize() const override { return size; }
    irr::video::E_DRIVER_TYPE getDriverType() const override { return irr::video::EDT_NULL; }
    irr::video::ECOLOR_FORMAT getColorFormat() const override { return irr::video::ECF_A8R8G8B8; }
    irr::u32 getPitch() const override { return 8; }
    void regenerateMipMapLevels(void*) override {}

    bool lockable;
    int locks = 0;
    int unlocks = 0;
    irr::u32 pixels[4] = {};
    dimension2d<irr::u32> size{2, 2};
};

}  // namespace

TEST(HudTextureLock, UnlocksOnEveryPathOutOfTheScope) {
    CountingTexture texture(true);
    const auto paintUntilNull = [&](bool stopEarly) {
        ScopedTextureLock lock(&texture, irr::video::ETLM_WRITE_ONLY);
        if (stopEarly) {
            return;
        }
        static_cast<irr::u32*>(lock.get())[0] = 1;
    };
    paintUntilNull(true);
    paintUntilNull(false);
    EXPECT_EQ(texture.locks, 2);
    EXPECT_EQ(texture.unlocks, 2);
    CountingTexture refusing(false);
    { ScopedTextureLock lock(&refusing, irr::video::ETLM_WRITE_ONLY); }
    EXPECT_EQ(refusing.unlocks, 0);
    ScopedTextureLock none(nullptr, irr::video::ETLM_WRITE_ONLY);
    EXPECT_EQ(none.get(), nullptr);
}

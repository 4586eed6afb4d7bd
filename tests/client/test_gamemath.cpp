// The game state's arithmetic against the game's worked cases and closed
// forms: frame steps and rests across the clock's wrap, the FPS figure of
// sub-millisecond frames, the lights over living ships, the texts.
#include "client/constants.h"
#include "client/gamemath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace gamemath;

TEST(GameFrameTiming, StepIsThePreviousFrameCappedAndTheRestNeverWrapsIntoALongSleep) {
    struct Case {
        uint32_t start;
        uint32_t end;
        float step;
    };
    const Case cases[] = {
        {5000, 5000, 0.0f},              // the first frame of a game
        {5000, 5020, 0.02f},             // a paced frame
        {5000, 5400, 0.25f},             // a 400 ms frame: capped
        {0xFFFFFFF0u, 4, 0.02f},         // across the wrap
        {10, 0xFFFFFFFFu, 0.25f},        // an end "before" the start is 49 days late
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(frameStep(c.start, c.end), c.step) << c.start << ".." << c.end;
    }
    // Rest of the frame for any work w from any start: 20 - w while
    // positive, else nothing (a slow frame is not paced).
    std::mt19937 random(7);
    for (int i = 0; i < 5000; ++i) {
        const uint32_t start = random();
        const uint32_t work = i < 100 ? static_cast<uint32_t>(i) : random() % 100000;
        const uint32_t expected = work < 20 ? 20 - work : 0;
        ASSERT_EQ(frameSleep(start, start + work, FRAME_TIME_MS), expected) << start << " + " << work;
    }
}

TEST(GameFrameTiming, FpsAveragesTheWorkOfHalfASecondAndStaysFiniteForInstantFrames) {
    FpsCounter paced;
    for (int i = 0; i < 50; ++i) {
        paced.addFrame(10);  // 500 ms: not yet more than half a second
    }
    EXPECT_EQ(paced.fps(), 0.0f);
    paced.addFrame(10);
    EXPECT_FLOAT_EQ(paced.fps(), 100.0f);

    // A thousand frames of no measurable work, then one-millisecond frames:
    // the average is below a millisecond, the figure finite and above 1000.
    FpsCounter fast;
    for (int i = 0; i < 1000; ++i) {
        fast.addFrame(0);
    }
    for (int i = 0; i < 501; ++i) {
        fast.addFrame(1);
    }
    EXPECT_TRUE(std::isfinite(fast.fps()));
    EXPECT_NEAR(fast.fps(), 1501.0 / 501.0 * 1000.0, 0.01);

    // One slow frame alone makes a figure.
    FpsCounter slow;
    slow.addFrame(2000);
    EXPECT_FLOAT_EQ(slow.fps(), 0.5f);
}

TEST(GameLights, EachLightFollowsItsLivingShipButThePlayersAndTheRestAreHidden) {
    using A = LightAction;
    struct Case {
        std::vector<bool> isPlayer;
        std::vector<LightAction> expected;
    };
    const LightAction hide{A::HIDE, -1};
    const LightAction keep{A::KEEP, -1};
    const Case cases[] = {
        // Five living ships, the player's first: lights 1-4 follow ships
        // 2-5, light 5 is hidden and light 0 keeps its state.
        {{true, false, false, false, false},
         {keep, {A::FOLLOW, 1}, {A::FOLLOW, 2}, {A::FOLLOW, 3}, {A::FOLLOW, 4}, hide}},
        {{}, {hide, hide, hide, hide, hide, hide}},
        {{false, true}, {{A::FOLLOW, 0}, keep, hide, hide, hide, hide}},
        {{false, false, false, false, false, false, false, true},
         {{A::FOLLOW, 0}, {A::FOLLOW, 1}, {A::FOLLOW, 2}, {A::FOLLOW, 3}, {A::FOLLOW, 4}, {A::FOLLOW, 5}}},
    };
    for (const Case& c : cases) {
        const std::vector<LightAction> got = assignLights(c.isPlayer, 6);
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, c.expected[i].kind) << "light " << i << " of " << c.isPlayer.size();
            EXPECT_EQ(got[i].ship, c.expected[i].ship) << "light " << i << " of " << c.isPlayer.size();
        }
    }
}

TEST(GameTexts, InfoLoadingAndLoginTexts) {
    EXPECT_EQ(infoText(L"Tarnwell V0.2 $Rev: 8 $", 11480, 43.9f), L"Tarnwell V0.2 $Rev: 8 $\ntriangles: 11480\nFPS: 43");
    const std::wstring longCaption(3000, L'x');
    EXPECT_EQ(infoText(longCaption.c_str(), 1, 1.0f), std::wstring(1023, L'x'));

    LoadingText loading;
    const wchar_t* titles[] = {L"Initialize Irrlicht...", L"Initialize cameras...", L"Initialize particle system...",
                               L"Initialize physics...", L"Load main terrain...",
                               L"Create collision object for terrain...", L"Load radar terrain..."};
    std::wstring expected;
    for (const wchar_t* title : titles) {
        EXPECT_EQ(loading.begin(title), expected + (expected.empty() ? L"" : L"\n") + title);
        expected = loading.text() + L"done";
    }
    EXPECT_EQ(loading.end(), expected);   // the radar's "done" on its own
    EXPECT_EQ(loading.begin(L"Create vegetation..."), expected + L"\nCreate vegetation...");
    EXPECT_EQ(loading.end(), expected + L"\nCreate vegetation...done");
    EXPECT_EQ(loading.end(), expected + L"\nCreate vegetation...done");  // nothing open: nothing added

    EXPECT_EQ(utf8(L"pilot"), "pilot");
    EXPECT_EQ(utf8(L"Zo\u00EB \u20AC\U0001F600"), "Zo\xC3\xAB \xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8(nullptr), "");
}

// The game-loop harness on what the client has today: frames under the
// scripted clock, and a start-up-like run (resources, shader set-up) followed
// by a menu's music and a game's sounds, against the sound calls and log
// lines the game's tables give.
#include "GameLoopHarness.h"

#include "client/constants.h"
#include "client/game.h"
#include "client/globals.h"
#include "client/lightingshadercallback.h"
#include "client/resourceids.h"
#include "platform/sound/fsound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using clienttest::ScopedDevice;

// A loop of the frame loop's shape (run while the device runs and the window
// is active; sleep the rest of the frame) over scripted work that varies per
// frame, starting just before the clock's 32-bit wrap.
TEST(GameLoopHarness, FramesAdvanceAsTheClockSaysAndSleepAdvancesTime) {
    constexpr uint32_t kStart = 0xFFFFFF00u;  // 256 ms before the wrap
    constexpr int32_t kFrames = 30;
    {
        GameLoopHarness harness(irr::video::EDT_NULL, nullptr, kStart);
        irr::IrrlichtDevice* device = harness.device();
        ASSERT_NE(device, nullptr);
        ScriptedClock& clock = harness.clock();
        GameClock* game = globals.clock;
        ASSERT_EQ(game, &clock);
        EXPECT_FALSE(device->run());  // no frame allowed yet

        // A node flying 1 unit per ms along x from virtual time 0.
        game->restartTime();
        irr::scene::ISceneManager* scene = globals.sceneManager;
        irr::scene::ISceneNode* node = scene->addEmptySceneNode();
        irr::scene::ISceneNodeAnimator* flight = scene->createFlyStraightAnimator(
            irr::core::vector3df(0, 0, 0), irr::core::vector3df(10000, 0, 0), 10000);
        node->addAnimator(flight);
        flight->drop();

        harness.allowFrames(kFrames);
        std::vector<uint32_t> work;
        std::vector<float> seen;
        std::vector<uint32_t> engineTime;
        uint32_t frameStart = game->getRealTime();
        while (device->run() && device->isWindowActive()) {
            globals.driver->beginScene(true, true, globals.clearColor);
            scene->drawAll();
            globals.driver->endScene();
            seen.push_back(node->getPosition().X);
            engineTime.push_back(device->getTimer()->getTime());
            work.push_back(uint32_t(work.size() * 7 % 31));  // 0 .. 30 ms
            clock.advance(work.back());
            const uint32_t spent = game->getRealTime() - frameStart;
            if (spent < uint32_t(FRAME_TIME_MS)) {
                game->sleep(uint32_t(FRAME_TIME_MS) - spent);
            }
            frameStart = game->getRealTime();
        }
        EXPECT_EQ(harness.framesRun(), kFrames);
        EXPECT_FALSE(device->run());

        // Frame k starts at the sum of the earlier frames' lengths, each
        // max(work, 20); the animator saw exactly that virtual time.
        ASSERT_EQ(work.size(), size_t(kFrames));
        uint32_t elapsed = 0;
        std::vector<uint32_t> expectedSleeps;
        for (int32_t k = 0; k < kFrames; ++k) {
            EXPECT_EQ(engineTime[k], elapsed) << k;
            EXPECT_FLOAT_EQ(seen[k], float(elapsed)) << k;
            if (work[k] < 20u) {
                expectedSleeps.push_back(20u - work[k]);
            }
            elapsed += std::max(work[k], 20u);
        }
        EXPECT_EQ(clock.sleeps(), expectedSleeps);
        EXPECT_EQ(game->getRealTime() - kStart, elapsed);
        EXPECT_LT(game->getRealTime(), kStart);  // it wrapped
        EXPECT_EQ(game->getTime(), elapsed);
        device->sleep(40, false);  // the device's own sleep is the clock's too
        EXPECT_EQ(game->getTime(), elapsed + 40);
    }
    // The engine's virtual time is one per process: it runs again for the
    // next device.
    ScopedDevice after(irr::video::EDT_NULL);
    ASSERT_NE(after.get(), nullptr);
    EXPECT_FALSE(after.get()->getTimer()->isStopped());
}

namespace {

struct StartUp {
    const char* name;
    irr::video::E_DRIVER_TYPE driver;
    bool rendersToTexture;  // the resources load to the end
    irr::u32 shaderMaterials;
};

class GameLoopStartUp : public testing::TestWithParam<StartUp> {};

const std::string kStamp = "03.02.2007 09:05:00: ";

// The sound table of the resources: path, mode, volume, priority, and
// whether the sample gets the distances 4 and 10000.
struct SoundRow {
    const char* path;
    const char* mode;
    int volume;
    int priority;
    bool distances;
};
const SoundRow kSoundTable[] = {
    {"media/audio/sound/3d_gen_engine_scout.wav", "0x1002", 128, 255, false},
    {"media/audio/sound/3d_gun_plasmagatlin_p.wav", "0x1000", 255, 255, false},
    {"media/audio/sound/2d_tor_launch.wav", "0x2000", 20, 255, false},
    {"media/audio/sound/3d_tor_engine.wav", "0x1002", 255, -1, true},
    {"media/audio/sound/3d_exp_sml.wav", "0x1000", 255, -1, true},
    {"media/audio/sound/3d_exp_med.wav", "0x1000", 255, -1, true},
    {"media/audio/sound/3d_collision.wav", "0x1000", 255, 255, false},
};

}  // namespace

TEST_P(GameLoopStartUp, ResourcesShadersMusicAndSoundsMakeTheTabledCalls) {
    const StartUp& run = GetParam();
    if (run.driver == irr::video::EDT_OPENGL) {
        REQUIRE_OPENGL();
    }
    GameLoopHarness harness(run.driver);
    ASSERT_NE(harness.device(), nullptr);

    EXPECT_EQ(harness.loadResources(), run.rendersToTexture);
    const irr::u32 renderers = globals.driver->getMaterialRendererCount();
    Game game;
    harness.publish();  // the game object resets the block
    ASSERT_TRUE(game.initShaders());
    EXPECT_EQ(globals.driver->getMaterialRendererCount(), renderers + run.shaderMaterials);
    EXPECT_FALSE(globals.shadersEnabled);
    if (globals.lightingCallback != nullptr) {
        globals.lightingCallback->drop();
        globals.lightingCallback = nullptr;
    }

    // The menu's music, then every sample once by its id, then leaving.
    FSOUND_STREAM* music = FSOUND_Stream_Open("media/audio/music/intro.ogg", FSOUND_LOOP_NORMAL, 0, 0);
    ASSERT_NE(music, nullptr);
    FSOUND_Stream_Play(FSOUND_FREE, music);
    FSOUND_Stream_Stop(music);
    for (irr::s32 id = SOUND_SHIP_ENGINE; id <= SOUND_COLLISION; ++id) {
        FSOUND_PlaySound(FSOUND_FREE, globals.resources->getSound(id));
    }
    FSOUND_StopSound(FSOUND_ALL);

    std::vector<std::string> expected = {"FSOUND_Init(44100, 32, 0) = 1"};
    std::string log = kStamp + "Load meshes\n" + kStamp + "Load textures\n" + kStamp +
                      "Create render to target textures\n";
    if (run.rendersToTexture) {
        log += kStamp + "Load fonts\n" + kStamp + "Load sounds\n";
        int sample = 0;
        for (const SoundRow& row : kSoundTable) {
            const std::string number = "sample " + std::to_string(++sample);
            expected.push_back(std::string("FSOUND_Sample_Load(-1, \"") + row.path + "\", " + row.mode +
                               ", 0, 0) = " + number);
            expected.push_back("FSOUND_Sample_SetDefaults(" + number + ", -1, " + std::to_string(row.volume) +
                               ", -1, " + std::to_string(row.priority) + ") = 1");
            if (row.distances) {
                expected.push_back("FSOUND_Sample_SetMinMaxDistance(" + number + ", 4, 10000) = 1");
            }
        }
    }
    log += kStamp + "Initialize shader...\n" + kStamp + "...shader initialization done\n";
    expected.push_back("FSOUND_Stream_Open(\"media/audio/music/intro.ogg\", 0x2, 0, 0) = stream 1");
    expected.push_back("FSOUND_Stream_Play(-1, stream 1) = 1");
    expected.push_back("FSOUND_Stream_Stop(stream 1) = 1");
    // Without the sounds, every play names no sample and fails.
    for (int id = SOUND_SHIP_ENGINE; id <= SOUND_COLLISION; ++id) {
        expected.push_back(run.rendersToTexture ? "FSOUND_PlaySound(-1, sample " + std::to_string(id) +
                                                      ") = " + std::to_string(id + 1)
                                                : "FSOUND_PlaySound(-1, sample 0) = -1");
    }
    expected.push_back("FSOUND_StopSound(-3) = 1");
    EXPECT_EQ(harness.soundCalls(), expected);
    EXPECT_EQ(harness.logText(), log);
}

INSTANTIATE_TEST_SUITE_P(Drivers, GameLoopStartUp,
                         testing::Values(StartUp{"Null", irr::video::EDT_NULL, false, 0},
                                         StartUp{"OpenGl", irr::video::EDT_OPENGL, true, 5}),
                         [](const testing::TestParamInfo<StartUp>& info) { return std::string(info.param.name); });

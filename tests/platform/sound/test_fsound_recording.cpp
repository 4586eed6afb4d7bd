// The recording twin of the sound layer: what it writes down and what it
// answers, against the real layer's contract (fsound.h) written out by hand.
#include "platform/sound/fsound.h"
#include "platform/sound/fsound_recording.h"

#include "SoundFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <vector>

namespace {

class SoundRecording : public ::testing::Test {
protected:
    void SetUp() override {
        fsound::resetRecording();
        ASSERT_TRUE(soundtest::writeTone(tone, 1, 22050, 2205));
        ASSERT_TRUE(soundtest::writeTone(music, 2, 44100, 4410));
        { std::ofstream touch(empty); }
        std::ofstream garbage(junk.c_str());
        garbage << std::string(4096, 'x');
    }
    void TearDown() override { fsound::resetRecording(); }

    static std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const fsound::RecordedCall& call : fsound::recording()) {
            out.push_back(fsound::describe(call));
        }
        return out;
    }

    soundtest::TempFolder folder;
    const std::string tone = folder.file("tone.wav");
    const std::string music = folder.file("music.wav");
    const std::string empty = folder.file("empty.wav");
    const std::string junk = folder.file("junk.wav");
};

}  // namespace

// One session through every operation, on live, dead and unknown handles.
TEST_F(SoundRecording, WritesEveryCallAndAnswersAsTheRealLayer) {
    const float where[3] = {1.5f, -2.0f, 300.0f};
    const float speed[3] = {0.0f, 0.25f, -1.0f};
    FSOUND_SAMPLE* before = FSOUND_Sample_Load(FSOUND_FREE, tone.c_str(), FSOUND_2D, 0, 0);
    const int early = FSOUND_PlaySound(FSOUND_FREE, before);  // no Init yet: -1
    FSOUND_Init(44100, 32, 0);
    FSOUND_PlaySound(FSOUND_FREE, before);  // Init released it
    FSOUND_SAMPLE* engine = FSOUND_Sample_Load(FSOUND_FREE, tone.c_str(), FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0);
    FSOUND_SAMPLE* flat = FSOUND_Sample_Load(7, tone.c_str(), FSOUND_2D, 3, 4);
    for (const std::string& refused : {folder.file("missing.wav"), empty, junk}) {
        FSOUND_Sample_Load(FSOUND_FREE, refused.c_str(), FSOUND_HW3D, 0, 0);
    }
    FSOUND_Sample_Load(FSOUND_FREE, nullptr, FSOUND_HW3D, 0, 0);
    FSOUND_Sample_SetDefaults(engine, 30000, 128, -1, 255);
    FSOUND_Sample_SetDefaults(flat, -1, 20, -1, -1);
    FSOUND_Sample_SetMinMaxDistance(engine, 4.0f, 10000.0f);
    FSOUND_Sample_SetMinMaxDistance(engine, 5.0f, 4.0f);
    const int loop = FSOUND_PlaySound(FSOUND_FREE, engine);
    const int shot = FSOUND_PlaySound(FSOUND_FREE, flat);
    FSOUND_PlaySound(2, engine);
    FSOUND_3D_SetAttributes(loop, where, nullptr);
    FSOUND_3D_SetAttributes(shot, where, speed);  // 2-D: FALSE
    FSOUND_GetFrequency(loop);
    FSOUND_GetFrequency(shot);  // the file's rate
    FSOUND_SetFrequency(loop, 11000);
    FSOUND_SetFrequency(loop, 0);
    FSOUND_GetFrequency(loop);
    FSOUND_StopSound(shot);
    FSOUND_StopSound(shot);
    FSOUND_GetFrequency(shot);
    FSOUND_Sample_Free(engine);  // stops its channel
    FSOUND_3D_SetAttributes(loop, where, nullptr);
    FSOUND_StopSound(0);
    FSOUND_STREAM* intro = FSOUND_Stream_Open(music.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    FSOUND_Stream_Open(junk.c_str(), FSOUND_LOOP_NORMAL, 0, 0);
    const int first = FSOUND_Stream_Play(FSOUND_FREE, intro);
    FSOUND_Stream_Play(FSOUND_FREE, intro);  // restarts: the first channel dies
    FSOUND_GetFrequency(first);
    FSOUND_3D_Listener_SetAttributes(where, nullptr, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    FSOUND_Update();
    FSOUND_PlaySound(FSOUND_FREE, flat);
    FSOUND_StopSound(FSOUND_ALL);
    FSOUND_GetFrequency(6);
    FSOUND_Stream_Stop(intro);
    FSOUND_Stream_Close(intro);
    FSOUND_Stream_Stop(intro);
    FSOUND_Close();
    FSOUND_PlaySound(FSOUND_FREE, flat);

    EXPECT_EQ(early, -1);
    const std::string q = "\"";
    const std::vector<std::string> expected = {
        "FSOUND_Sample_Load(-1, " + q + tone + q + ", 0x2000, 0, 0) = sample 1",
        "FSOUND_PlaySound(-1, sample 1) = -1",
        "FSOUND_Init(44100, 32, 0) = 1",
        "FSOUND_PlaySound(-1, sample 0) = -1",
        "FSOUND_Sample_Load(-1, " + q + tone + q + ", 0x1002, 0, 0) = sample 2",
        "FSOUND_Sample_Load(7, " + q + tone + q + ", 0x2000, 3, 4) = sample 3",
        "FSOUND_Sample_Load(-1, " + q + folder.file("missing.wav") + q + ", 0x1000, 0, 0) = null",
        "FSOUND_Sample_Load(-1, " + q + empty + q + ", 0x1000, 0, 0) = null",
        "FSOUND_Sample_Load(-1, " + q + junk + q + ", 0x1000, 0, 0) = null",
        "FSOUND_Sample_Load(-1, \"\", 0x1000, 0, 0) = null",
        "FSOUND_Sample_SetDefaults(sample 2, 30000, 128, -1, 255) = 1",
        "FSOUND_Sample_SetDefaults(sample 3, -1, 20, -1, -1) = 1",
        "FSOUND_Sample_SetMinMaxDistance(sample 2, 4, 10000) = 1",
        "FSOUND_Sample_SetMinMaxDistance(sample 2, 5, 4) = 0",
        "FSOUND_PlaySound(-1, sample 2) = 1",
        "FSOUND_PlaySound(-1, sample 3) = 2",
        "FSOUND_PlaySound(2, sample 2) = -1",
        "FSOUND_3D_SetAttributes(1, (1.5, -2, 300), null) = 1",
        "FSOUND_3D_SetAttributes(2, (1.5, -2, 300), (0, 0.25, -1)) = 0",
        "FSOUND_GetFrequency(1) = 30000",
        "FSOUND_GetFrequency(2) = 22050",
        "FSOUND_SetFrequency(1, 11000) = 1",
        "FSOUND_SetFrequency(1, 0) = 0",
        "FSOUND_GetFrequency(1) = 11000",
        "FSOUND_StopSound(2) = 1",
        "FSOUND_StopSound(2) = 0",
        "FSOUND_GetFrequency(2) = 0",
        "FSOUND_Sample_Free(sample 2)",
        "FSOUND_3D_SetAttributes(1, (1.5, -2, 300), null) = 0",
        "FSOUND_StopSound(0) = 0",
        "FSOUND_Stream_Open(" + q + music + q + ", 0x2, 0, 0) = stream 1",
        "FSOUND_Stream_Open(" + q + junk + q + ", 0x2, 0, 0) = null",
        "FSOUND_Stream_Play(-1, stream 1) = 3",
        "FSOUND_Stream_Play(-1, stream 1) = 4",
        "FSOUND_GetFrequency(3) = 0",
        "FSOUND_3D_Listener_SetAttributes((1.5, -2, 300), null, 0, 0, 1, 0, 1, 0)",
        "FSOUND_Update()",
        "FSOUND_PlaySound(-1, sample 3) = 5",
        "FSOUND_StopSound(-3) = 1",
        "FSOUND_GetFrequency(6) = 0",
        "FSOUND_Stream_Stop(stream 1) = 1",
        "FSOUND_Stream_Close(stream 1) = 1",
        "FSOUND_Stream_Stop(stream 0) = 0",
        "FSOUND_Close()",
        "FSOUND_PlaySound(-1, sample 0) = -1",
    };
    EXPECT_EQ(lines(), expected);

    // The fields hold the values passed, not their text.
    const fsound::RecordedCall& placed = fsound::recording()[18];
    ASSERT_EQ(placed.op, fsound::Op::SetAttributes);
    EXPECT_TRUE(placed.hasPosition && placed.hasVelocity);
    EXPECT_EQ(placed.position, (std::array<float, 3>{where[0], where[1], where[2]}));
    EXPECT_EQ(placed.velocity, (std::array<float, 3>{speed[0], speed[1], speed[2]}));
}

TEST_F(SoundRecording, ResetStartsTheNumbersAgain) {
    FSOUND_Init(44100, 32, 0);
    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, tone.c_str(), FSOUND_2D, 0, 0);
    FSOUND_PlaySound(FSOUND_FREE, sample);
    fsound::resetRecording();
    EXPECT_TRUE(fsound::recording().empty());
    FSOUND_Init(44100, 32, 0);
    FSOUND_PlaySound(FSOUND_FREE, sample);  // unknown now
    FSOUND_PlaySound(FSOUND_FREE, FSOUND_Sample_Load(FSOUND_FREE, tone.c_str(), FSOUND_2D, 0, 0));
    EXPECT_EQ(lines(), (std::vector<std::string>{
                           "FSOUND_Init(44100, 32, 0) = 1",
                           "FSOUND_PlaySound(-1, sample 0) = -1",
                           "FSOUND_Sample_Load(-1, \"" + tone + "\", 0x2000, 0, 0) = sample 1",
                           "FSOUND_PlaySound(-1, sample 1) = 1",
                       }));
}

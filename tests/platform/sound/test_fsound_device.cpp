// The sound layer on other back ends, each in a child process, since OpenAL
// Soft reads its drivers and configuration once per process: left and right
// in the `wave` back end's file, and no device at all. Holds the tests' main.
#include "platform/sound/fsound.h"

#include "SoundFiles.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <thread>

extern char** environ;

namespace {

// This program with "--sound-child" and `args`, OpenAL's variables replaced by
// `variables`; its exit status, -1 when it did not exit.
int runChild(std::vector<std::string> args, const std::vector<std::string>& variables) {
    std::vector<std::string> environment(variables);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "ALSOFT_", 7) != 0) {
            environment.emplace_back(*entry);
        }
    }
    args.insert(args.begin(), {"/proc/self/exe", "--sound-child"});
    std::vector<char*> argv, envp;
    for (std::string& text : args) {
        argv.push_back(text.data());
    }
    for (std::string& text : environment) {
        envp.push_back(text.data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

int fail(int code, const char* what) {
    std::fprintf(stderr, "sound child: %s\n", what);
    return code;
}

// wave <tone> fx fz x z: a looping mono tone at (x, 0, z) for a quarter of a
// second, the listener at the origin looking along (fx, 0, fz), top +y.
int waveChild(char** arg) {
    if (FSOUND_Init(44100, 32, 0) == 0) {
        return fail(2, "the wave back end did not open");
    }
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    const float where[3] = {std::strtof(arg[3], nullptr), 0.0f, std::strtof(arg[4], nullptr)};
    FSOUND_3D_Listener_SetAttributes(origin, nullptr, std::strtof(arg[1], nullptr), 0.0f,
                                     std::strtof(arg[2], nullptr), 0.0f, 1.0f, 0.0f);
    const int channel = FSOUND_PlaySound(
        FSOUND_FREE, FSOUND_Sample_Load(FSOUND_FREE, arg[0], FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0));
    if (FSOUND_3D_SetAttributes(channel, where, nullptr) == 0) {
        return fail(3, "the tone did not play");
    }
    FSOUND_Update();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    FSOUND_Close();
    return 0;
}

// none <file>: no device, yet loads decode; plays fail.
int noDeviceChild(char** arg) {
    if (FSOUND_Init(44100, 32, 0) != 0) {
        return fail(2, "Init succeeded without a device");
    }
    FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, arg[0], FSOUND_HW3D, 0, 0);
    FSOUND_STREAM* stream = FSOUND_Stream_Open(arg[0], FSOUND_LOOP_NORMAL, 0, 0);
    if (sample == nullptr || stream == nullptr ||
        FSOUND_Sample_Load(FSOUND_FREE, "none.wav", 0, 0, 0) != nullptr) {
        return fail(3, "loads do not decode without a device");
    }
    if (FSOUND_PlaySound(FSOUND_FREE, sample) != -1 || FSOUND_Stream_Play(FSOUND_FREE, stream) != -1) {
        return fail(4, "a play succeeded without a device");
    }
    FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
    FSOUND_StopSound(FSOUND_ALL);
    FSOUND_Close();
    return 0;
}

struct SideCase {
    float forwardX, forwardZ, x, z;
    bool right;
};

void PrintTo(const SideCase& c, std::ostream* out) {
    *out << "looking (" << c.forwardX << ", 0, " << c.forwardZ << "), sound at (" << c.x << ", 0, " << c.z
         << ")";
}

class SoundSide : public ::testing::TestWithParam<SideCase> {};

TEST_P(SoundSide, WaveFileIsLouderOnTheSoundsSide) {
    const SideCase& c = GetParam();
    soundtest::TempFolder folder;
    const std::string tone = folder.file("tone.wav"), out = folder.file("out.wav"),
                      conf = folder.file("al.conf");
    ASSERT_TRUE(soundtest::writeTone(tone, 1, 22050, 2205));
    std::ofstream(conf) << "drivers=wave\n[wave]\nfile=" << out << "\n";
    auto text = [](float v) { return std::to_string(v); };
    ASSERT_EQ(runChild({"wave", tone, text(c.forwardX), text(c.forwardZ), text(c.x), text(c.z)},
                       {"ALSOFT_CONF=" + conf}),
              0);
    const std::vector<double> energy = soundtest::channelEnergy(out);
    ASSERT_EQ(energy.size(), 2u);
    EXPECT_GT(energy[c.right ? 1 : 0], 1.0) << "the tone must reach the file";
    EXPECT_GT(energy[c.right ? 1 : 0], 4.0 * energy[c.right ? 0 : 1])
        << "left " << energy[0] << " right " << energy[1];
}

// The game's frame is left-handed: looking along +z, +x is to the right;
// looking along +x, -z is.
INSTANTIATE_TEST_SUITE_P(Listener, SoundSide,
                         ::testing::Values(SideCase{0.0f, 1.0f, 1.0f, 0.0f, true},
                                           SideCase{0.0f, 1.0f, -1.0f, 0.0f, false},
                                           SideCase{1.0f, 0.0f, 0.0f, -1.0f, true}));

TEST(SoundNoDevice, InitFailsLoadsDecodeAndPlaysFail) {
    soundtest::TempFolder folder;
    ASSERT_TRUE(soundtest::writeTone(folder.file("tone.wav"), 2, 22050, 2205));
    EXPECT_EQ(runChild({"none", folder.file("tone.wav")}, {"ALSOFT_DRIVERS=none"}), 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--sound-child") == 0) {
        if (std::strcmp(argv[2], "wave") == 0 && argc == 8) {
            return waveChild(argv + 3);
        }
        return std::strcmp(argv[2], "none") == 0 && argc == 4 ? noDeviceChild(argv + 3)
                                                              : fail(1, "unknown child");
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The sound layer on real back ends, each in a child process of its own, as
// OpenAL Soft reads its drivers and configuration once per process: the
// `wave` back end's file for left and right, and no device at all. Also the
// tests' main, which runs those children.
#include "platform/sound/fsound.h"

#include "SoundFiles.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kChildFlag = "--sound-child";

// Runs this program as a child with `args` after the child flag, with
// OpenAL's variables replaced by `variables`; returns its exit status.
int runChild(const std::vector<std::string>& args, const std::vector<std::string>& variables) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "ALSOFT_", 7) != 0) {
      environment.emplace_back(*entry);
    }
  }
  environment.insert(environment.end(), variables.begin(), variables.end());
  std::vector<std::string> argv{"/proc/self/exe", kChildFlag};
  argv.insert(argv.end(), args.begin(), args.end());
  auto pointers = [](std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) {
      list.push_back(text.data());
    }
    list.push_back(nullptr);
    return list;
  };
  std::vector<char*> childArgv = pointers(argv);
  std::vector<char*> childEnvironment = pointers(environment);
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, childArgv.data(), childEnvironment.data()) != 0) {
    return -1;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

int fail(int code, const char* what) {
  std::fprintf(stderr, "sound child: %s\n", what);
  return code;
}

// wave <sample> fx fz px pz: the listener at the origin looks along
// (fx, 0, fz) with top +y; a mono tone plays at (px, 0, pz) for a while.
int waveChild(char** args) {
  if (FSOUND_Init(44100, 32, 0) == 0) {
    return fail(2, "the wave back end did not open");
  }
  FSOUND_SAMPLE* tone = FSOUND_Sample_Load(FSOUND_FREE, args[0], FSOUND_HW3D | FSOUND_LOOP_NORMAL, 0, 0);
  if (tone == nullptr) {
    return fail(3, "no sample");
  }
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  FSOUND_3D_Listener_SetAttributes(origin, nullptr, std::strtof(args[1], nullptr), 0.0f,
                                   std::strtof(args[2], nullptr), 0.0f, 1.0f, 0.0f);
  const int channel = FSOUND_PlaySound(FSOUND_FREE, tone);
  const float where[3] = {std::strtof(args[3], nullptr), 0.0f, std::strtof(args[4], nullptr)};
  if (channel <= 0 || FSOUND_3D_SetAttributes(channel, where, nullptr) == 0) {
    return fail(4, "no channel");
  }
  FSOUND_Update();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  FSOUND_Close();
  return 0;
}

// none <sample>: with no device, loads decode and plays fail.
int noDeviceChild(char** args) {
  if (FSOUND_Init(44100, 32, 0) != 0) {
    return fail(2, "Init succeeded without a device");
  }
  FSOUND_SAMPLE* sample = FSOUND_Sample_Load(FSOUND_FREE, args[0], FSOUND_HW3D, 0, 0);
  FSOUND_STREAM* stream = FSOUND_Stream_Open(args[0], FSOUND_LOOP_NORMAL, 0, 0);
  if (sample == nullptr || stream == nullptr) {
    return fail(3, "a load failed without a device");
  }
  if (FSOUND_Sample_Load(FSOUND_FREE, "missing.wav", FSOUND_2D, 0, 0) != nullptr) {
    return fail(4, "a missing file loaded");
  }
  if (FSOUND_PlaySound(FSOUND_FREE, sample) != -1 || FSOUND_Stream_Play(FSOUND_FREE, stream) != -1) {
    return fail(5, "a play succeeded without a device");
  }
  FSOUND_3D_Listener_SetAttributes(nullptr, nullptr, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f);
  FSOUND_StopSound(FSOUND_ALL);
  FSOUND_Update();
  FSOUND_Close();
  return 0;
}

struct SideCase {
  float forwardX, forwardZ;  // the listener's view, top +y
  float x, z;                // the sound
  bool right;                // heard on the right
};

void PrintTo(const SideCase& c, std::ostream* out) {
  *out << "looking (" << c.forwardX << ", 0, " << c.forwardZ << "), sound at (" << c.x << ", 0, " << c.z << ")";
}

class SoundSide : public ::testing::TestWithParam<SideCase> {};

// Left-handed game frame: looking along +z, +x is to the right; looking
// along +x, -z is.
TEST_P(SoundSide, WaveFileIsLouderOnTheSoundsSide) {
  const SideCase& c = GetParam();
  soundtest::TempFolder folder;
  const std::string tone = folder.file("tone.wav");
  const std::string out = folder.file("out.wav");
  const std::string config = folder.file("alsoft.conf");
  ASSERT_TRUE(soundtest::writeTone(tone, 1, 22050, 2205));
  std::ofstream(config) << "drivers=wave\n[wave]\nfile=" << out << "\n";
  auto text = [](float v) { return std::to_string(v); };
  ASSERT_EQ(runChild({"wave", tone, text(c.forwardX), text(c.forwardZ), text(c.x), text(c.z)},
                     {"ALSOFT_CONF=" + config}),
            0);
  const std::vector<double> energy = soundtest::channelEnergy(out);
  ASSERT_EQ(energy.size(), 2u);
  const double heard = c.right ? energy[1] : energy[0];
  const double other = c.right ? energy[0] : energy[1];
  EXPECT_GT(heard, 1.0) << "the tone must reach the file";
  EXPECT_GT(heard, 4.0 * other) << "left " << energy[0] << " right " << energy[1];
}

INSTANTIATE_TEST_SUITE_P(Listener, SoundSide,
                         ::testing::Values(SideCase{0.0f, 1.0f, 1.0f, 0.0f, true},
                                           SideCase{0.0f, 1.0f, -1.0f, 0.0f, false},
                                           SideCase{1.0f, 0.0f, 0.0f, -1.0f, true}));

TEST(SoundNoDevice, InitFailsLoadsDecodeAndPlaysFail) {
  soundtest::TempFolder folder;
  const std::string tone = folder.file("tone.wav");
  ASSERT_TRUE(soundtest::writeTone(tone, 2, 22050, 2205));
  EXPECT_EQ(runChild({"none", tone}, {"ALSOFT_DRIVERS=none"}), 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], kChildFlag) == 0) {
    if (std::strcmp(argv[2], "wave") == 0 && argc == 8) {
      return waveChild(argv + 3);
    }
    if (std::strcmp(argv[2], "none") == 0 && argc == 4) {
      return noDeviceChild(argv + 3);
    }
    return fail(1, "unknown child");
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

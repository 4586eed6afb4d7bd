#include "client/inifile.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <fstream>
#include <string>

namespace {

// A configuration as one run of the game leaves it: 36 keys in three
// sections, written with carriage returns as an editor on Windows would.
const char kIniText[] =
    "; Tarnwell settings\r\n"
    "[GeneralGraphics]\r\n"
    "Device=OpenGL\r\n"
    "ResolutionX=1024\r\n"
    "ResolutionY=768\r\n"
    "WindowedMode=1\r\n"
    "FogColor=0,8,16,255\r\n"
    "FogIsLinear=True\r\n"
    "FogStart=10.000000\r\n"
    "FogEnd=250.000000\r\n"
    "FogDensity=1.000000\r\n"
    "ClsColor=0,24,64,255\r\n"
    "TerrainTextureScale1=40.000000\r\n"
    "TerrainTextureScale2=80.000000\r\n"
    "\r\n"
    "[Server]\r\n"
    "IP=127.0.0.1\r\n"
    "Port=7988\r\n"
    "LoginName=player\r\n"
    "\r\n"
    "[Controls]\r\n"
    "KeyMaxThrustForward=A\r\n"
    "KeyMaxThrustBackward=Y\r\n"
    "KeyIncreaseMainThrust=PLUS\r\n"
    "KeyDecreaseMainThrust=MINUS\r\n"
    "KeyResetMainThrust=BACK\r\n"
    "KeyEngineSwitch=GRAVE\r\n"
    "KeyRollLeft=LEFT\r\n"
    "KeyRollRight=RIGHT\r\n"
    "KeyPitchUp=UP\r\n"
    "KeyPitchDown=DOWN\r\n"
    "KeyYawLeft=Q\r\n"
    "KeyYawRight=E\r\n"
    "KeySteeringLeft=S\r\n"
    "KeySteeringRight=D\r\n"
    "KeySteeringUp=R\r\n"
    "KeySteeringDown=F\r\n"
    "KeySelectNextTarget=T\r\n"
    "KeyFireMainWeapon=SPACE\r\n"
    "KeyFireTorpedoWeapon=TAB\r\n"
    "KeyLightSwitch=L\r\n"
    "MouseInverted=0\r\n";

class IniFixture : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        path = "/tmp/tarnwell_bench_ini_" + std::to_string(getpid()) + ".ini";
        std::ofstream(path, std::ios::binary) << kIniText;
    }
    void TearDown(const benchmark::State&) override { unlink(path.c_str()); }

    std::string path;
};

// A key near the top, and the file's last key, which is read past all others.
BENCHMARK_F(IniFixture, GetIntFirstSection)(benchmark::State& state) {
    IniFile ini(path.c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ini.getInt("GeneralGraphics", "ResolutionX", 1024));
    }
}

BENCHMARK_F(IniFixture, GetIntLastKey)(benchmark::State& state) {
    IniFile ini(path.c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(ini.getInt("controls", "mouseinverted", 0));
    }
}

}  // namespace

// The game program's own frames on OpenGL under a virtual display (skipped
// without one): a game frame at 800 x 600 and at 1024 x 768 with the game's
// opening content, split into its phases (entities with lights and
// controls, the HUD's three rendered views, particles, the scene, the HUD's
// drawing with the cockpit, the physics step, and the finish: GUI, end of
// the scene, sound, network); the menu's frame; and a game's entry (terrain,
// level body, 25 grass patches, ships, HUD). Each frame's phases are timed
// with the steady clock; the counters give the mean of each phase and the
// worst whole frame, in ms. "own" is the game's work without the software
// rasteriser: entities, particles and physics. The aims are under 5 ms for
// "own" and under 5 s for the entry.
#include "client/eventreceiver.h"
#include "client/game.h"
#include "client/gameclock.h"
#include "client/gamemenu.h"
#include "client/globals.h"
#include "client/inifile.h"
#include "client/particlesystem.h"
#include "client/resourcehandler.h"
#include "client/resourceids.h"
#include "client/ship.h"
#include "client/torpedo.h"
#include "client/weapon.h"
#include "platform/sound/fsound.h"

#include <benchmark/benchmark.h>
#include <irrlicht.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The program's single instances as start-up makes them, in a scratch folder
// that holds the build's media and an ini file of its own.
class GameBench {
public:
    GameBench(irr::u32 width, irr::u32 height, irr::video::E_DRIVER_TYPE driver = irr::video::EDT_OPENGL) {
        char pattern[] = "/tmp/tarnwell-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0 ||
            symlink(TARNWELL_BINARY_DIR "/media", "media") != 0) {
            std::abort();
        }
        folder = pattern;
        globals.device = nullptr;
        irr::SIrrlichtCreationParameters params;
        params.DriverType = driver;
        params.WindowSize = irr::core::dimension2d<irr::u32>(width, height);
        params.LoggingLevel = irr::ELL_NONE;
        params.EventReceiver = &receiver;
        device = irr::createDeviceEx(params);
        for (int attempt = 1; device == nullptr && attempt < 10; ++attempt) {
            usleep(100000);
            device = irr::createDeviceEx(params);
        }
        if (device == nullptr) {
            return;
        }
        globals.device = device;
        globals.driver = device->getVideoDriver();
        globals.sceneManager = device->getSceneManager();
        globals.gui = device->getGUIEnvironment();
        clock = std::make_unique<EngineClock>(device->getTimer());
        globals.clock = clock.get();
        globals.eventReceiver = &receiver;
        globals.iniFile = &ini;
        globals.resolutionX = static_cast<int32_t>(width);
        globals.resolutionY = static_cast<int32_t>(height);
        globals.serverAddress = "127.0.0.1";
        globals.serverPort = "0";  // no server
        FSOUND_Init(44100, 32, 0);
        resources = std::make_unique<ResourceHandler>();
        globals.resources = resources.get();
        resources->loadAll();
    }
    ~GameBench() {
        if (device != nullptr) {
            // Each clean-up clears the whole scene: only the state entered.
            if (globals.gameState == GS_GAME_RUN) {
                game.cleanup();
            } else {
                menu.cleanup();
            }
            resources.reset();
            FSOUND_Close();
            clock.reset();
            device->closeDevice();
            device->run();
            device->drop();
        }
        globals = GameGlobals{};
        if (chdir("/tmp") == 0) {
            std::system(("rm -rf '" + folder + "'").c_str());
        }
    }
    bool ok(benchmark::State& state) const {
        if (device == nullptr) {
            state.SkipWithError("no device (OpenGL needs a display)");
        }
        return device != nullptr;
    }

    Game game;  // first: its constructor resets the global block
    GameMenu menu;
    EventReceiver receiver;
    IniFile ini{"tarnwell.ini"};
    irr::IrrlichtDevice* device = nullptr;
    std::unique_ptr<EngineClock> clock;
    std::unique_ptr<ResourceHandler> resources;
    std::string folder;
};

void BM_GameFrame(benchmark::State& state) {
    GameBench bench(static_cast<irr::u32>(state.range(0)), static_cast<irr::u32>(state.range(1)));
    if (!bench.ok(state)) {
        return;
    }
    globals.gameState = GS_GAME_RUN;
    if (!bench.game.init(L"Tarnwell V0.2 $Rev: 8 $")) {
        state.SkipWithError("the game did not start");
        return;
    }
    // Settle: the grass builds its blades and the first views render.
    constexpr float kStep = 0.02f;
    for (int i = 0; i < 10; ++i) {
        globals.driver->beginScene(true, true, globals.clearColor);
        bench.game.frame(kStep);
    }
    double phases[7] = {};
    double worst = 0.0;
    int64_t frames = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        globals.driver->beginScene(true, true, globals.clearColor);
        Clock::time_point at = Clock::now();
        const auto lap = [&](int phase) {
            const Clock::time_point now = Clock::now();
            phases[phase] += std::chrono::duration<double, std::milli>(now - at).count();
            at = now;
        };
        bench.game.frameEntities(kStep);
        lap(0);
        bench.game.frameViews();
        lap(1);
        bench.game.frameParticles(kStep);
        lap(2);
        bench.game.frameScene();
        lap(3);
        bench.game.frameHud();
        lap(4);
        bench.game.framePhysics(kStep);
        lap(5);
        bench.game.frameFinish();
        lap(6);
        worst = std::max(worst, msSince(start));
        ++frames;
    }
    const char* names[7] = {"entities_ms", "views_ms", "particles_ms", "scene_ms", "hud_ms", "physics_ms",
                            "finish_ms"};
    for (int i = 0; i < 7; ++i) {
        state.counters[names[i]] = phases[i] / static_cast<double>(frames);
    }
    state.counters["own_ms"] = (phases[0] + phases[2] + phases[5]) / static_cast<double>(frames);
    state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_GameFrame)->Args({800, 600})->Args({1024, 768})->Iterations(300)->Unit(benchmark::kMillisecond);

void BM_MenuFrame(benchmark::State& state) {
    GameBench bench(800, 600);
    if (!bench.ok(state)) {
        return;
    }
    globals.gameState = GS_MENU;
    if (!bench.menu.init(L"Tarnwell V0.2 $Rev: 8 $")) {
        state.SkipWithError("the menu did not start");
        return;
    }
    for (auto _ : state) {
        bench.menu.frame();
    }
}
BENCHMARK(BM_MenuFrame)->Iterations(200)->Unit(benchmark::kMillisecond);

// The game's entity work in a frame of a fight, on the null driver: the four
// ships, 20 bullets in flight, 3 torpedoes homing on the enemies and 8
// pieces of debris sinking; the ships', weapons' and torpedoes' updates, the
// physics step with every callback and contact rule, and the effects.
void BM_FightEntityFrame(benchmark::State& state) {
    GameBench bench(800, 600, irr::video::EDT_NULL);
    if (!bench.ok(state)) {
        return;
    }
    globals.gameState = GS_GAME_RUN;
    if (!bench.game.init(L"Tarnwell V0.2 $Rev: 8 $")) {
        state.SkipWithError("the game did not start");
        return;
    }
    constexpr float kStep = 0.02f;
    Ship* player = globals.playerShip;
    std::vector<Ship*> enemies(std::next(globals.shipList.begin()), globals.shipList.end());
    Weapon* gun = nullptr;
    for (Weapon* weapon : player->getWeapons()) {
        if (weapon->getType() == WEAPON_GUN) {
            gun = weapon;
        }
    }
    for (int shot = 0; shot < 20; ++shot) {
        gun->fire();
    }
    for (Ship* enemy : enemies) {
        globals.torpedoList.push_back(new Torpedo(player->getPosition() + irr::core::vector3df(0, -4, 3),
                                                  irr::core::vector3df(), 1 << 30, MESH_TORPEDO,
                                                  irr::core::vector3df(0.5f, 0.5f, 2.0f), enemy, -1));
    }
    for (int piece = 0; piece < 8; ++piece) {
        globals.particleSystem->spawnDebris(MESH_TRASH1 + piece % 3,
                                            enemies[0]->getPosition() + irr::core::vector3df(0, 20, 0));
    }
    double own = 0.0;
    int64_t frames = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        bench.game.frameEntities(kStep);
        bench.game.frameParticles(kStep);
        bench.game.framePhysics(kStep);
        own += msSince(start);
        ++frames;
    }
    state.counters["own_ms"] = own / static_cast<double>(frames);
    state.counters["bullets"] = static_cast<double>(gun->getBullets().size());
    state.counters["torpedoes"] = static_cast<double>(globals.torpedoList.size());
    state.counters["debris"] = static_cast<double>(globals.trashList.size());
}
BENCHMARK(BM_FightEntityFrame)->Iterations(200)->Unit(benchmark::kMillisecond);

// A game's start, the loading frames included; its clean-up is not timed.
void BM_GameEntry(benchmark::State& state) {
    GameBench bench(800, 600);
    if (!bench.ok(state)) {
        return;
    }
    for (auto _ : state) {
        globals.gameState = GS_GAME_RUN;
        if (!bench.game.init(L"Tarnwell V0.2 $Rev: 8 $")) {
            state.SkipWithError("the game did not start");
            return;
        }
        state.PauseTiming();
        bench.game.cleanup();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_GameEntry)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

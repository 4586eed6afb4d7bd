// One frame's weapon work on the null driver: a gun with 20 bullets in
// flight among the game's four ships and its station, and three homing
// torpedoes stepped by a physics world and aged by their launcher.
#include "client/bullet.h"
#include "client/gameclock.h"
#include "client/globals.h"
#include "client/ship.h"
#include "client/station.h"
#include "client/torpedo.h"
#include "client/weapon.h"
#include "physics/dynamics/dgPhysics.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using irr::core::vector3df;

class BenchClock : public GameClock {
public:
    uint32_t getRealTime() const override { return now; }
    uint32_t getTime() const override { return now; }
    void restartTime() override {}
    void sleep(uint32_t milliseconds) override { now += milliseconds; }
    uint32_t now = 100000;
};

// The game's four ships and station where the game puts them; the player
// carries a gun and a launcher. Lifetimes long enough that nothing expires
// while the benchmark runs.
class WeaponScene {
public:
    WeaponScene() {
        device = irr::createDevice(irr::video::EDT_NULL);
        globals.device = device;
        globals.driver = device->getVideoDriver();
        globals.sceneManager = device->getSceneManager();
        globals.clock = &clock;
        const vector3df at[] = {
            {2560, -3780, 3760}, {2560, -3790, 3830}, {2585, -3750, 3835}, {2590, -3800, 3820}};
        for (int k = 0; k < 4; ++k) {
            ships.push_back(std::make_unique<Ship>(k == 0, k == 0 ? "Scout" : "Enemy", L"SX271", L"Scout",
                                                   at[k], vector3df(), vector3df(8, 3, 10), 10.0f, 0.5f,
                                                   vector3df(0.05f, 0.05f, 0.05f), ShipTuning{},
                                                   irr::s32(10)));
            globals.shipList.push_back(ships.back().get());
        }
        globals.playerShip = ships[0].get();
        station = std::make_unique<Station>("X10", vector3df(2710, -3830, 3910), vector3df(10, 70, 0),
                                            vector3df(60, 115, 80), irr::s32(17));
        globals.stationList.push_back(station.get());
        gun =
            std::make_unique<Weapon>(ships[0].get(), vector3df(1.5f, -1, 3), WEAPON_GUN, 0, 0, 1 << 30, 160);
        launcher = std::make_unique<Weapon>(ships[0].get(), vector3df(0, -4, 3), WEAPON_TORPEDO_LAUNCHER,
                                            5000, 2000, 30000, 0);
        gun->update();
        for (int k = 0; k < 20; ++k) {
            gun->fire();
            clock.now += 80;
            gun->update();
        }
        launcher->update();
    }
    ~WeaponScene() {
        launcher.reset();
        gun.reset();
        for (Torpedo* torpedo : globals.torpedoList) {
            delete torpedo;
        }
        globals.torpedoList.clear();
        globals.shipList.clear();
        globals.stationList.clear();
        globals.playerShip = nullptr;
        globals.trackedTorpedo = nullptr;
        station.reset();
        ships.clear();
        globals = GameGlobals();
        device->drop();
    }

    BenchClock clock;
    irr::IrrlichtDevice* device;
    std::vector<std::unique_ptr<Ship>> ships;
    std::unique_ptr<Station> station;
    std::unique_ptr<Weapon> gun;
    std::unique_ptr<Weapon> launcher;
};

void BM_GunWithTwentyBulletsFrame(benchmark::State& state) {
    WeaponScene scene;
    for (auto _ : state) {
        scene.clock.now += 20;
        scene.gun->update();
    }
    state.counters["bullets"] = double(scene.gun->getBullets().size());
}
BENCHMARK(BM_GunWithTwentyBulletsFrame)->Unit(benchmark::kMicrosecond);

// Three torpedoes on Enemy 1, 2 and 3 with bodies as the glue makes them:
// a physics step (their force callbacks) and the launcher's update a frame.
void BM_ThreeTorpedoesFrame(benchmark::State& state) {
    WeaponScene scene;
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    const float low[3] = {0, -12000, 0};
    const float high[3] = {5200, 0, 5200};
    dgWorldSetSize(world, low, high);
    for (int k = 1; k <= 3; ++k) {
        auto* torpedo = new Torpedo(vector3df(2560, -3784, 3763), vector3df(), 1 << 30, irr::s32(16),
                                    vector3df(0.5f, 0.5f, 2.0f), scene.ships[k].get(), -1);
        globals.torpedoList.push_back(torpedo);
        dgCollision* box = dgCreateBox(world, 0.5f, 0.5f, 2.0f, nullptr);
        dgBody* body = dgCreateBody(world, box);
        dgReleaseCollision(world, box);
        dgBodySetMassMatrix(body, 1.0f, 4.25f, 4.25f, 0.5f);
        irr::core::matrix4 place;
        place.setTranslation(torpedo->getPosition());
        dgBodySetMatrix(body, place.pointer());
        dgBodySetLinearDamping(body, 0.9f);
        const float angular[3] = {0.95f, 0.95f, 0.95f};
        dgBodySetAngularDamping(body, angular);
        dgBodySetUserData(body, torpedo);
        dgBodySetForceAndTorqueCallback(body, [](dgBody* b) {
            static_cast<Torpedo*>(dgBodyGetUserData(b))->applyForces(dgBodyGetWorld(b), b);
        });
        dgBodySetTransformCallback(body, [](dgBody* b, const float* m) {
            auto* t = static_cast<Torpedo*>(dgBodyGetUserData(b));
            float angles[3];
            dgGetEulerAngles(m, angles);
            t->setPosition(vector3df(m[12], m[13], m[14]));
            t->setRotation(vector3df(angles[0], angles[1], angles[2]) * 57.295776f);
        });
        dgBodySetAutoFreeze(body, 0);
        dgWorldUnfreezeBody(world, body);
    }
    for (auto _ : state) {
        scene.clock.now += 20;
        dgWorldUpdate(world, 0.02f);
        scene.launcher->update();
    }
    state.counters["torpedoes"] = double(globals.torpedoList.size());
    dgWorldDestroy(world);
}
BENCHMARK(BM_ThreeTorpedoesFrame)->Unit(benchmark::kMicrosecond);

}  // namespace

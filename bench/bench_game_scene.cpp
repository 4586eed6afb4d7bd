// The game-shaped scene: the game's sea floor (257 x 257 height map at
// (0, -12000, 0)) and 30 ship-sized boxes (6 x 3 x 10 m) in 3 material
// groups whose pairs, among themselves and with the floor, have begin,
// process and end callbacks. Without a solver the ships fly by script: pairs
// of ships circle the same centre in opposite directions (so they pass
// through each other twice a turn), the circles of different pairs overlap,
// and each ship bobs about 5 m above the floor under it by 4 m, so ships
// touch the floor and each other now and then. The force callback gives
// each ship its thrust, as the game's does. Per step: the script moves the
// ships, then the broad-phase update with its contact pass. Figures are the
// minimum over 3 runs; the benchmark's own time is the mean step.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "BenchTerrain.h"
#include "BenchWorld.h"

namespace {

using namespace benchworld;

constexpr int32_t kShips = 30;
constexpr int32_t kGroups = 3;
constexpr int32_t kSteps = 3000;
constexpr float kSeaFloorY = -12000.0f;
constexpr float kPi = 3.14159265f;

struct CallbackCounts {
    int64_t begin = 0;
    int64_t process = 0;
    int64_t end = 0;
};
CallbackCounts g_counts;
// Contact joints that saw a process call during the current step.
std::vector<dgContact*> g_touched;

int32_t countBegin(dgMaterialPair*, dgBody*, dgBody*) {
    g_counts.begin++;
    return 1;
}
int32_t countProcess(dgMaterialPair*, dgContact* contact) {
    g_counts.process++;
    g_touched.push_back(contact);
    return 1;
}

// Pairs given new points this step: with the floor and between ships.
struct TouchCount {
    int32_t floor = 0;
    int32_t ships = 0;
};

TouchCount takeTouched() {
    std::sort(g_touched.begin(), g_touched.end());
    g_touched.erase(std::unique(g_touched.begin(), g_touched.end()), g_touched.end());
    TouchCount count;
    for (dgContact* contact : g_touched) {
        const bool floor = (contact->m_body0->m_invMass.w == 0.0f) || (contact->m_body1->m_invMass.w == 0.0f);
        (floor ? count.floor : count.ships)++;
    }
    g_touched.clear();
    return count;
}
void countEnd(dgMaterialPair*) {
    g_counts.end++;
}

// Thrust along the ship's length and buoyancy holding its weight.
void shipThrust(dgBody* body) {
    const float thrust = 2.0e4f;
    const dgVector forward(body->m_matrix.right);
    body->m_force = dgVector(forward.x * thrust, body->m_mass.w * 10.0f, forward.z * thrust, 0.0f);
    body->m_torque = dgVector(0.0f, 0.0f, 0.0f, 0.0f);
}

struct ShipPath {
    float centreX;
    float centreZ;
    float radius;
    // Angle at time 0, turn rate (sign gives the direction), bob phase and rate.
    float angle;
    float turnRate;
    float bobPhase;
    float bobRate;
};

std::vector<ShipPath> shipPaths() {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> offset(-250.0f, 250.0f), radius(40.0f, 90.0f), speed(10.0f, 20.0f),
        angle(0.0f, 2.0f * kPi), bobRate(0.3f, 0.8f);
    const float middle = 0.5f * benchterrain::kHorizontalScale * float(benchterrain::kSide - 1);
    std::vector<ShipPath> paths;
    for (int32_t pair = 0; pair < kShips / 2; pair++) {
        ShipPath path;
        path.centreX = middle + offset(rng);
        path.centreZ = middle + offset(rng);
        path.radius = radius(rng);
        const float rate = speed(rng) / path.radius;
        const float start = angle(rng);
        for (int32_t side = 0; side < 2; side++) {
            path.angle = start + (side ? 0.5f * kPi : 0.0f);
            path.turnRate = side ? -rate : rate;
            path.bobPhase = angle(rng);
            path.bobRate = bobRate(rng);
            paths.push_back(path);
        }
    }
    return paths;
}

float floorHeight(const std::vector<uint16_t>& map, float x, float z) {
    return kSeaFloorY + gridHeight(x, z, benchterrain::kHorizontalScale, benchterrain::kSide - 1,
                                   [&map](int32_t i, int32_t j) { return benchterrain::vertexHeight(map, i, j); });
}

// Heading along the path (length on the body's z axis), y up.
dgMatrix shipPose(const ShipPath& path, const std::vector<uint16_t>& map, int32_t stepIndex) {
    const float t = kTimeStep * float(stepIndex);
    const float angle = path.angle + path.turnRate * t;
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float x = path.centreX + path.radius * c;
    const float z = path.centreZ + path.radius * s;
    const float direction = (path.turnRate > 0.0f) ? 1.0f : -1.0f;
    const dgVector forward(-s * direction, 0.0f, c * direction, 0.0f);
    const float y = floorHeight(map, x, z) + 1.5f + 5.0f + 4.0f * std::sin(path.bobRate * t + path.bobPhase);
    return dgMatrix(dgVector(forward.z, 0.0f, -forward.x, 0.0f), dgVector(0.0f, 1.0f, 0.0f, 0.0f), forward,
                    dgVector(x, y, z, 1.0f));
}

void BM_GameSceneShips(benchmark::State& state) {
    const std::vector<uint16_t> map(benchterrain::heightMap());
    const std::vector<ShipPath> paths(shipPaths());
    const float side = benchterrain::kHorizontalScale * float(benchterrain::kSide - 1);
    StepStats best;
    CallbackCounts counts;
    int64_t maxProcessPerStep = 0;
    int64_t floorTouches = 0;
    int64_t shipTouches = 0;
    int32_t maxShipsOnFloor = 0;
    for (auto _ : state) {
        for (int32_t run = 0; run < kRuns; run++) {
            BenchWorld scene(kShips + 1, dgVector(-64.0f, kSeaFloorY - 100.0f, -64.0f, 0.0f),
                             dgVector(side + 64.0f, kSeaFloorY + 2000.0f, side + 64.0f, 0.0f));
            dgWorld* world = scene.world();
            uint32_t groups[kGroups];
            for (uint32_t& group : groups) {
                group = dgWorldCreateMaterialGroup(world);
            }
            const uint32_t floorGroup = world->m_defaultMaterialGroup;
            for (int32_t a = 0; a < kGroups; a++) {
                for (int32_t b = a; b <= kGroups; b++) {
                    dgMaterialPair* pair = dgWorldGetMaterialPair(world, groups[a], (b < kGroups) ? groups[b] : floorGroup);
                    pair->m_begin = countBegin;
                    pair->m_process = countProcess;
                    pair->m_end = countEnd;
                }
            }

            dgCollision* floor = benchterrain::buildTerrain(world, map);
            dgMatrix floorPose(dgGetIdentityMatrix());
            floorPose.position = dgVector(0.0f, kSeaFloorY, 0.0f, 1.0f);
            scene.add(floor, 0.0f, floorPose, floorGroup, true);
            dgReleaseCollision(world, floor);

            dgCollision* hull = dgCreateBox(world, 6.0f, 3.0f, 10.0f, nullptr);
            std::vector<dgBody*> ships;
            for (int32_t i = 0; i < kShips; i++) {
                dgBody* ship = scene.add(hull, 1000.0f, shipPose(paths[size_t(i)], map, 0), groups[i % kGroups], true);
                ship->m_forceAndTorque = shipThrust;
                ships.push_back(ship);
            }
            dgReleaseCollision(world, hull);

            g_counts = CallbackCounts();
            g_touched.clear();
            g_touched.reserve(1024);
            CallbackCounts afterFirst;
            int64_t processBefore = 0;
            int64_t maxProcess = 0;
            floorTouches = 0;
            shipTouches = 0;
            maxShipsOnFloor = 0;
            StepTimer timer(kSteps);
            for (int32_t s = 0; s < kSteps; s++) {
                timer.start();
                for (int32_t i = 0; i < kShips; i++) {
                    dgBodySetMatrixInternal(ships[size_t(i)], shipPose(paths[size_t(i)], map, s));
                }
                step(world);
                timer.stop();
                const TouchCount touched = takeTouched();
                if (s == 0) {
                    afterFirst = g_counts;
                } else {
                    maxProcess = std::max(maxProcess, g_counts.process - processBefore);
                    floorTouches += touched.floor;
                    shipTouches += touched.ships;
                    maxShipsOnFloor = std::max(maxShipsOnFloor, touched.floor);
                }
                processBefore = g_counts.process;
            }
            counts.begin = g_counts.begin - afterFirst.begin;
            counts.process = g_counts.process - afterFirst.process;
            counts.end = g_counts.end - afterFirst.end;
            maxProcessPerStep = maxProcess;
            best.keepMinimum(StepStats::of(timer.times()), run == 0);
        }
        reportStepStats(best, state);
    }
    const double steps = double(kSteps - 1);
    state.counters["steps"] = kSteps;
    state.counters["beginPerStep"] = double(counts.begin) / steps;
    state.counters["processPerStep"] = double(counts.process) / steps;
    state.counters["endPerStep"] = double(counts.end) / steps;
    state.counters["maxProcessInAStep"] = double(maxProcessPerStep);
    state.counters["floorPairsPerStep"] = double(floorTouches) / steps;
    state.counters["shipPairsPerStep"] = double(shipTouches) / steps;
    state.counters["maxFloorPairsInAStep"] = maxShipsOnFloor;
}
BENCHMARK(BM_GameSceneShips)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

}  // namespace

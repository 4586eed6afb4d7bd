// Runs the benchmark scenes of Scenes.h through the public header and prints,
// per scene, mean, p50, p95 and maximum milliseconds per step over every step
// after the first (each run's, and the minimum of each over the runs) and the
// scene's quality figures, which must repeat exactly from run to run.
//
// Step times are the thread's CPU time, so that other work on a shared
// machine does not count in them; each scene also prints the wall time it
// took in all.
//
// Usage: tarnwell_scenes [--scenes S1,S4,...] [--max-steps N] [--runs N] [--quick] [--single-stack]
//   --max-steps caps every scene's step count (default: the definitions);
//   --runs sets the runs of each scene (default 3);
//   --quick runs each scene once (the full definitions; all of them take
//   under three minutes);
//   --single-stack runs S1 as its quick form, one 10-high stack.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "Scenes.h"
#include "StepStats.h"
#include "TerrainMap.h"
#include "dgPhysics.h"

namespace {

using namespace scenes;

struct Options {
    std::vector<std::string> scenes;
    int32_t maxSteps = 0x7fffffff;
    int32_t runs = 3;
    bool singleStack = false;

    bool wants(const char* name) const {
        return scenes.empty() || (std::find(scenes.begin(), scenes.end(), name) != scenes.end());
    }
    int32_t steps(int32_t defined) const { return std::min(defined, maxSteps); }
};

void printStats(const char* label, const StepStats& s) {
    std::printf("  %-8s mean %9.4f  p50 %9.4f  p95 %9.4f  max %9.4f ms/step\n", label, s.mean, s.p50, s.p95,
                s.max);
}

double threadMilliseconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1.0e3 * double(t.tv_sec) + 1.0e-6 * double(t.tv_nsec);
}

// One update of 1/60 s, timed in the thread's CPU time.
double timedUpdate(dgWorld* world) {
    const double start = threadMilliseconds();
    dgWorldUpdate(world, kTimeStep);
    return threadMilliseconds() - start;
}

// Runs a scene `runs` times: run(times) builds it, steps it (appending each
// step's time to times) and returns its quality text. Prints the timings,
// the quality of the first run and whether every run gave the same.
void runScene(const char* title, int32_t runs, const std::function<std::string(std::vector<double>&)>& run) {
    std::printf("%s\n", title);
    std::fflush(stdout);
    const auto started = std::chrono::steady_clock::now();
    const double startedCpu = threadMilliseconds();
    StepStats best;
    std::string firstQuality;
    bool same = true;
    for (int32_t r = 0; r < runs; r++) {
        std::vector<double> times;
        const std::string quality = run(times);
        const StepStats stats = StepStats::of(times);
        char label[16];
        std::snprintf(label, sizeof(label), "run %d", int(r + 1));
        printStats(label, stats);
        best.keepMinimum(stats, r == 0);
        if (r == 0) {
            firstQuality = quality;
        } else {
            same = same && (quality == firstQuality);
        }
        std::fflush(stdout);
    }
    printStats("minimum", best);
    std::printf("%s", firstQuality.c_str());
    std::printf("  quality identical over %d runs: %s\n", int(runs), same ? "yes" : "NO");
    std::printf("  scene time %.1f s wall, %.1f s CPU (building included)\n\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                1.0e-3 * (threadMilliseconds() - startedCpu));
    std::fflush(stdout);
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof(buffer), fmt, args);
    va_end(args);
    return buffer;
}

// ---- S1 and S9 ----

struct StackFigures {
    int32_t within = 0;  // within 0.1 m of the start
    int32_t fallen = 0;  // centre lower by more than 0.5 m
    double meanDrift = 0.0;
    double maxDrift = 0.0;
    double rmsSpeed = 0.0;        // over the last 60 steps
    std::vector<float> relative;  // settled positions less the scene's base
    uint32_t hash = 0;            // of every matrix at the end
};

StackFigures runStacks(int32_t side, float ox, float oy, float oz, int32_t steps,
                       std::vector<double>& times) {
    Scene scene;
    buildStacks(scene, side, kStackHeight, ox, oy, oz);
    std::vector<float> start;
    for (dgBody* body : scene.bodies) {
        float p[3];
        position(body, p);
        start.insert(start.end(), p, p + 3);
    }
    double speedSquares = 0.0;
    int64_t speedSamples = 0;
    for (int32_t s = 0; s < steps; s++) {
        times.push_back(timedUpdate(scene.world));
        if (s >= steps - 60) {
            for (dgBody* body : scene.bodies) {
                float v[3];
                dgBodyGetVelocity(body, v);
                speedSquares += double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2];
                speedSamples++;
            }
        }
    }
    StackFigures figures;
    for (size_t b = 0; b < scene.bodies.size(); b++) {
        float p[3];
        position(scene.bodies[b], p);
        const float* s0 = &start[3 * b];
        const double dx = double(p[0]) - s0[0];
        const double dy = double(p[1]) - s0[1];
        const double dz = double(p[2]) - s0[2];
        const double drift = std::sqrt(dx * dx + dz * dz);
        if (std::sqrt(dx * dx + dy * dy + dz * dz) <= 0.1) {
            figures.within++;
        }
        if (dy < -0.5) {
            figures.fallen++;
        }
        figures.meanDrift += drift;
        figures.maxDrift = std::max(figures.maxDrift, drift);
        figures.relative.push_back(p[0] - ox);
        figures.relative.push_back(p[1] - oy);
        figures.relative.push_back(p[2] - oz);
    }
    figures.meanDrift /= double(scene.bodies.size());
    figures.rmsSpeed = speedSamples ? std::sqrt(speedSquares / double(speedSamples)) : 0.0;
    figures.hash = hashMatrices(scene);
    return figures;
}

std::string stackQuality(const StackFigures& f, size_t cubes) {
    return format(
        "  cubes within 0.1 m of start %d / %zu, fallen %d, horizontal drift mean %.6f max %.6f m, "
        "RMS speed last 60 steps %.6f m/s, end hash %08x\n",
        int(f.within), cubes, int(f.fallen), f.meanDrift, f.maxDrift, f.rmsSpeed, f.hash);
}

void sceneS1(const Options& o) {
    const int32_t side = o.singleStack ? 1 : kStacksSide;
    const int32_t steps = o.steps(kStacksSteps);
    const std::string title =
        format("S1 resting stacks: %d x %d stacks of %d, %d steps%s", int(side), int(side), int(kStackHeight),
               int(steps), o.singleStack ? " (quick form)" : "");
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        const StackFigures f = runStacks(side, 0.0f, 0.0f, 0.0f, steps, times);
        return stackQuality(f, size_t(side * side * kStackHeight));
    });
}

void sceneS9(const Options& o) {
    const int32_t steps = o.steps(kStacksSteps);
    const float bases[3][3] = {{0.0f, 0.0f, 0.0f}, {0.0f, -12000.0f, 0.0f}, {20000.0f, -12000.0f, 20000.0f}};
    const char* names[3] = {"origin", "(0, -12000, 0)", "(20000, -12000, 20000)"};
    const std::string title = format(
        "S9 far from the origin: 3 x 3 stacks of %d, %d steps, at the origin, "
        "(0, -12000, 0), (20000, -12000, 20000)",
        int(kStackHeight), int(steps));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        std::string quality;
        std::vector<float> reference;
        for (int32_t b = 0; b < 3; b++) {
            const StackFigures f =
                runStacks(kFarStacksSide, bases[b][0], bases[b][1], bases[b][2], steps, times);
            quality += format("  %-24s", names[b]) + stackQuality(f, size_t(9 * kStackHeight)).substr(1);
            if (b == 0) {
                reference = f.relative;
            } else {
                double largest = 0.0;
                for (size_t i = 0; i < reference.size(); i++) {
                    largest = std::max(largest, std::fabs(double(f.relative[i]) - reference[i]));
                }
                quality += format("  %-24s largest settled-position difference from the origin run %.6f m\n",
                                  names[b], largest);
            }
        }
        return quality;
    });
}

// ---- S2 ----

void trackFrozen(dgBody* body, uint32_t state) {
    *static_cast<int32_t*>(dgBodyGetUserData(body)) = state ? 0 : 1;
}

void sceneS2(const Options& o) {
    const int32_t steps = o.steps(kPileSteps);
    for (int32_t pass = 0; pass < 2; pass++) {
        const bool freezing = (pass == 0);
        const std::string title =
            format("S2 falling pile: %d cubes, %d steps, freezing %s",
                   int(kPileSide * kPileSide * kPileLayers), int(steps), freezing ? "on" : "off");
        runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
            // Outlives the scene: the world's destruction still reports
            // bodies leaving the awake set.
            std::vector<int32_t> frozen(size_t(kPileSide * kPileSide * kPileLayers), 0);
            Scene scene;
            buildPile(scene, freezing);
            for (size_t b = 0; b < scene.bodies.size(); b++) {
                dgBodySetUserData(scene.bodies[b], &frozen[b]);
                dgBodySetActivationCallback(scene.bodies[b], trackFrozen);
            }
            for (int32_t s = 0; s < steps; s++) {
                times.push_back(timedUpdate(scene.world));
            }
            int32_t below = 0;
            int32_t frozenCount = 0;
            for (size_t b = 0; b < scene.bodies.size(); b++) {
                float p[3];
                position(scene.bodies[b], p);
                below += (p[1] < 0.0f) ? 1 : 0;
                frozenCount += frozen[b];
            }
            return format("  cubes below the ground %d, frozen %d, end hash %08x\n", int(below), int(frozenCount),
                          hashMatrices(scene));
        });
    }
}

// ---- S3 ----

void sceneS3(const Options& o) {
    const int32_t steps = o.steps(kPyramidSteps);
    const std::string title = format("S3 pyramid: %d levels, %d steps", int(kPyramidLevels), int(steps));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        Scene scene;
        std::vector<int32_t> levels;
        buildPyramid(scene, levels);
        for (int32_t s = 0; s < steps; s++) {
            times.push_back(timedUpdate(scene.world));
        }
        int32_t sunk = 0;
        for (size_t b = 0; b < scene.bodies.size(); b++) {
            float p[3];
            position(scene.bodies[b], p);
            sunk += (p[1] < pyramidRestHeight(levels[b]) - 0.5f) ? 1 : 0;
        }
        return format("  cubes more than 0.5 m below their rest height %d / %zu, end hash %08x\n", int(sunk),
                      scene.bodies.size(), hashMatrices(scene));
    });
}

// ---- S4 and S10 ----

struct LatticeRun {
    int32_t fellThrough = 0;
    std::vector<uint32_t> hashes;  // every 60 steps and at the end
    std::vector<float> positions;
};

LatticeRun runLattice(int32_t simd, int32_t steps, std::vector<double>& times) {
    Scene scene;
    buildLattice(scene, simd);
    LatticeRun run;
    for (int32_t s = 0; s < steps; s++) {
        times.push_back(timedUpdate(scene.world));
        if ((s + 1) % 60 == 0) {
            run.hashes.push_back(hashMatrices(scene));
        }
    }
    run.hashes.push_back(hashMatrices(scene));
    const float lowest = latticeTerrainLowest();
    for (dgBody* body : scene.bodies) {
        float p[3];
        position(body, p);
        run.fellThrough += (p[1] < lowest) ? 1 : 0;
        run.positions.insert(run.positions.end(), p, p + 3);
    }
    return run;
}

void sceneS4(const Options& o) {
    const int32_t steps = o.steps(kLatticeSteps);
    const std::string title = format("S4 convex bodies on terrain: %d bodies, %d steps",
                                     int(kLatticeSide * kLatticeLayers * kLatticeSide), int(steps));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        const LatticeRun run = runLattice(1, steps, times);
        return format("  bodies below the terrain's lowest point (fell through) %d, end hash %08x\n",
                      int(run.fellThrough), run.hashes.back());
    });
}

void sceneS10(const Options& o) {
    const int32_t steps = o.steps(kLatticeSteps);
    const std::string title =
        format("S10 determinism: S4 (%d steps) twice with the SIMD solver, once scalar", int(steps));
    runScene(title.c_str(), 1, [&](std::vector<double>& times) {
        const LatticeRun first = runLattice(1, steps, times);
        std::vector<double> more;
        const LatticeRun second = runLattice(1, steps, more);
        const LatticeRun scalar = runLattice(0, steps, more);
        uint32_t chain = 2166136261u;
        for (uint32_t h : first.hashes) {
            chain = (chain ^ h) * 16777619u;
        }
        int32_t equal = 0;
        for (size_t i = 0; i < first.hashes.size(); i++) {
            equal += (first.hashes[i] == second.hashes[i]) ? 1 : 0;
        }
        auto largestDifference = [&first](const LatticeRun& other) {
            double largest = 0.0;
            for (size_t i = 0; i < first.positions.size(); i++) {
                largest = std::max(largest, std::fabs(double(first.positions[i]) - other.positions[i]));
            }
            return largest;
        };
        // The second SIMD run's difference is the yardstick for the scalar
        // one: where the runs of one solver part, chaos grows any difference.
        return format(
            "  end hash %08x, hash of all %zu checkpoints %08x (compare with another process)\n"
            "  second run in this process: %d / %zu checkpoints equal, largest position difference "
            "%.3e m\n"
            "  SIMD against scalar solver: largest position difference %.3e m\n",
            first.hashes.back(), first.hashes.size(), chain, int(equal), first.hashes.size(),
            largestDifference(second), largestDifference(scalar));
    });
}

// ---- S5 ----

void sceneS5(const Options& o) {
    const int32_t steps = o.steps(kSweepSteps);
    for (int32_t variant = 0; variant < 2; variant++) {
        const bool soupWall = (variant == 1);
        const std::string title = format(
            "S5 tunnelling sweep, %s wall: 6 speeds x 16 starts x continuous off/on, "
            "%d steps each (timing over all runs' steps)",
            soupWall ? "one-quad tree" : "0.2 m box", int(steps));
        runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
            std::string quality;
            for (int32_t continuous = 0; continuous < 2; continuous++) {
                quality += format("  continuous %-3s tunnelled of 16:", continuous ? "on" : "off");
                for (float speed : kSweepSpeeds) {
                    int32_t tunnelled = 0;
                    for (int32_t k = 0; k < kSweepOffsets; k++) {
                        Scene scene;
                        buildSweep(scene, speed, k, continuous != 0, soupWall);
                        for (int32_t s = 0; s < steps; s++) {
                            times.push_back(timedUpdate(scene.world));
                        }
                        float p[3];
                        position(scene.bodies[0], p);
                        tunnelled += (p[0] > sweepWallBack(soupWall)) ? 1 : 0;
                    }
                    quality += format("  %g m/s: %d", double(speed), int(tunnelled));
                }
                quality += "\n";
            }
            return quality;
        });
    }
}

// ---- S6 ----

void sceneS6(const Options& o) {
    const int32_t steps = o.steps(kBounceSteps);
    const std::string title = format("S6 bounce energy: restitution 1 from 10 m, %d steps", int(steps));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        Scene scene;
        buildBounce(scene);
        std::vector<float> apexes;
        float previousY = 1.0e30f;
        float previousVy = 0.0f;
        bool bounced = false;
        for (int32_t s = 0; s < steps && int32_t(apexes.size()) < kBounces; s++) {
            times.push_back(timedUpdate(scene.world));
            float p[3];
            float v[3];
            position(scene.bodies[0], p);
            dgBodyGetVelocity(scene.bodies[0], v);
            if ((previousVy <= 0.0f) && (v[1] > 0.0f)) {
                bounced = true;
            }
            // The apex is the highest step between going up and coming down.
            if (bounced && (previousVy > 0.0f) && (v[1] <= 0.0f)) {
                apexes.push_back(std::max(p[1], previousY) - 0.5f);
                bounced = false;
            }
            previousY = p[1];
            previousVy = v[1];
        }
        std::string quality = "  apex heights above the ground (ideal 10 m):";
        for (float apex : apexes) {
            quality += format(" %.4f", double(apex));
        }
        return quality + "\n";
    });
}

// ---- S7 ----

void sceneS7(const Options& o) {
    const int32_t steps = o.steps(kChainSteps);
    const ChainJoint types[4] = {ChainJoint::Ball, ChainJoint::Hinge, ChainJoint::Slider,
                                 ChainJoint::Universal};
    for (ChainJoint type : types) {
        for (float lastMass : {1.0f, kHeavyLinkMass}) {
            const std::string title =
                format("S7 joint chain: %d %s-jointed links, last link %.0f kg, %d steps", int(kChainLinks),
                       chainJointName(type), double(lastMass), int(steps));
            runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
                Chain chain;
                buildChain(chain, type, lastMass);
                for (int32_t s = 0; s < steps; s++) {
                    times.push_back(timedUpdate(chain.scene.world));
                }
                const ChainFigures f = chainFigures(chain);
                // The same chain with each update split in two sub-steps: a
                // light link between heavy loads vibrates about its joints
                // too fast for one sub-step of 1/60 s, and how much of a
                // figure is that shows here.
                Chain halved;
                buildChain(halved, type, lastMass);
                dgWorldSetMinimumFrameRate(halved.scene.world, 2.0f / kTimeStep);
                for (int32_t s = 0; s < steps; s++) {
                    dgWorldUpdate(halved.scene.world, kTimeStep);
                }
                const ChainFigures h = chainFigures(halved);
                return format(
                    "  largest joint separation %.6f m, chain length change %+.6f m\n"
                    "  with 2 sub-steps an update: separation %.6f m, length change %+.6f m\n",
                    f.separation, f.lengthChange, h.separation, h.lengthChange);
            });
        }
    }
    std::printf("  (aims: under 0.1 ms a step; the 100 kg chains' separation under 0.01 m)\n\n");
}

// ---- S8 ----

void sceneS8(const Options& o) {
    const int32_t rest = o.steps(kCarRestSteps);
    const int32_t braking = o.steps(kCarBrakeSteps);
    const std::string title = format("S8 vehicle: 4 tires on flat soup, %d steps at rest, then braking from %.0f m/s",
                                     int(rest), double(kCarBrakeSpeed));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        Car car;
        carControls() = CarControls();
        buildCar(car);
        // Vertical speed over the second half of the rest, in two quarters:
        // a growing oscillation shows as a larger later quarter.
        double quarter[2] = {0.0, 0.0};
        int32_t counted[2] = {0, 0};
        for (int32_t s = 0; s < rest; s++) {
            times.push_back(timedUpdate(car.scene.world));
            float v[3];
            dgBodyGetVelocity(car.chassis, v);
            if (2 * s >= rest) {
                const int32_t k = (4 * s >= 3 * rest) ? 1 : 0;
                quarter[k] += double(v[1]) * v[1];
                counted[k]++;
            }
        }
        const double early = std::sqrt(quarter[0] / std::max(counted[0], 1));
        const double late = std::sqrt(quarter[1] / std::max(counted[1], 1));
        const double rms = std::sqrt((quarter[0] + quarter[1]) / std::max(counted[0] + counted[1], 1));

        float start[3];
        position(car.chassis, start);
        const float veloc[3] = {kCarBrakeSpeed, 0.0f, 0.0f};
        dgBodySetVelocity(car.chassis, veloc);
        int32_t stopStep = -1;
        float stop[3] = {start[0], start[1], start[2]};
        for (int32_t s = 0; s < braking; s++) {
            times.push_back(timedUpdate(car.scene.world));
            float v[3];
            dgBodyGetVelocity(car.chassis, v);
            if ((stopStep < 0) && (std::sqrt(v[0] * v[0] + v[2] * v[2]) < 0.05f)) {
                stopStep = s + 1;
                position(car.chassis, stop);
            }
        }
        std::string quality =
            format("  at rest: chassis height %.4f m, RMS vertical speed %.6f m/s (5-7.5 s %.6f, 7.5-10 s %.6f: %s)\n",
                   double(start[1]), rms, early, late, (late > 1.5 * early + 1e-4) ? "growing" : "not growing");
        if (stopStep < 0) {
            quality += format("  braking from %.0f m/s: not stopped within %d steps\n", double(kCarBrakeSpeed),
                              int(braking));
        } else {
            quality += format("  braking from %.0f m/s: stopped after %.3f m in %.2f s (sideways drift %.3f m)\n",
                              double(kCarBrakeSpeed), double(stop[0] - start[0]), double(stopStep) * kTimeStep,
                              double(stop[2] - start[2]));
        }
        return quality;
    });
    std::printf("  (aims: under 0.05 ms a step; at rest RMS vertical speed under 0.01 m/s)\n\n");
}

// ---- S11 ----

void sceneS11(const Options& o) {
    const int32_t steps = o.steps(kGameSteps);
    const std::vector<uint16_t> map(benchterrain::heightMap());
    const std::string title =
        format("S11 game-shaped scene: 257 x 257 sea floor, %d ships of %.0f kg, %d steps", int(kShips),
               double(kShipMass), int(steps));
    runScene(title.c_str(), o.runs, [&](std::vector<double>& times) {
        Scene scene;
        std::vector<Ship> ships;
        CallbackCounts counts;
        buildGameScene(scene, map, ships, counts);
        CallbackCounts before;
        uint64_t maxBegin = 0;
        uint64_t maxProcess = 0;
        uint64_t maxEnd = 0;
        int32_t stepsWithContacts = 0;
        for (int32_t s = 0; s < steps; s++) {
            times.push_back(timedUpdate(scene.world));
            maxBegin = std::max(maxBegin, counts.begin - before.begin);
            maxProcess = std::max(maxProcess, counts.process - before.process);
            maxEnd = std::max(maxEnd, counts.end - before.end);
            stepsWithContacts += (counts.process != before.process) ? 1 : 0;
            before = counts;
        }
        float lowestClearance = 1.0e30f;
        for (dgBody* body : scene.bodies) {
            float p[3];
            position(body, p);
            lowestClearance = std::min(lowestClearance, p[1] - seaFloorHeight(map, p[0], p[2]));
        }
        const double n = double(steps);
        return format(
            "  callbacks per step: begin mean %.3f max %llu, process mean %.3f max %llu, end mean %.3f "
            "max %llu; steps with contact points %d\n"
            "  lowest ship centre over the floor at the end %.3f m (half height 1.5), end hash %08x\n",
            double(counts.begin) / n, (unsigned long long)maxBegin, double(counts.process) / n,
            (unsigned long long)maxProcess, double(counts.end) / n, (unsigned long long)maxEnd,
            int(stepsWithContacts), double(lowestClearance), hashMatrices(scene));
    });
    std::printf("  (frame budget of the game: 20 ms a step)\n\n");
}

std::string cpuModel() {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            return (colon == std::string::npos) ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string compiler() {
#if defined(__clang__)
    return std::string("clang ") + __clang_version__;
#elif defined(__GNUC__)
    return std::string("gcc ") + __VERSION__;
#else
    return "unknown";
#endif
}

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [--scenes S1,S2,...] [--max-steps N] [--runs N] [--quick] [--single-stack]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if ((arg == "--scenes") && (i + 1 < argc)) {
            std::string list = argv[++i];
            size_t startAt = 0;
            while (startAt <= list.size()) {
                const size_t comma = list.find(',', startAt);
                const size_t endAt = (comma == std::string::npos) ? list.size() : comma;
                if (endAt > startAt) {
                    o.scenes.push_back(list.substr(startAt, endAt - startAt));
                }
                startAt = endAt + 1;
            }
        } else if ((arg == "--max-steps") && (i + 1 < argc)) {
            o.maxSteps = std::max(2, std::atoi(argv[++i]));
        } else if ((arg == "--runs") && (i + 1 < argc)) {
            o.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--quick") {
            o.runs = 1;
        } else if (arg == "--single-stack") {
            o.singleStack = true;
        } else {
            return usage(argv[0]);
        }
    }
    std::printf(
        "CPU: %s\ncompiler: %s\none thread, updates of 1/60 s; times in the thread's CPU ms per step after the first\n\n",
        cpuModel().c_str(), compiler().c_str());
    const struct {
        const char* name;
        void (*run)(const Options&);
    } all[] = {{"S1", sceneS1}, {"S2", sceneS2},   {"S3", sceneS3},  {"S4", sceneS4},
               {"S5", sceneS5}, {"S6", sceneS6},   {"S7", sceneS7},  {"S8", sceneS8},
               {"S9", sceneS9}, {"S10", sceneS10}, {"S11", sceneS11}};
    const auto started = std::chrono::steady_clock::now();
    const double startedCpu = threadMilliseconds();
    for (const auto& scene : all) {
        if (o.wants(scene.name)) {
            scene.run(o);
        }
    }
    std::printf("all scenes: %.1f s wall, %.1f s CPU\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                1.0e-3 * (threadMilliseconds() - startedCpu));
    return 0;
}

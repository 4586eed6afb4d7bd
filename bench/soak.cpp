// Soak run over the public header alone: 20 bodies in a walled bowl of tree
// collision, relaunched from seeded positions and velocities every 10,000
// updates of 1/60 s. It stops with a report, and exit status 1, on a
// non-finite body state, on energy above the launch's plus a margin, or on
// the engine's live memory (counted through the world's allocation hooks)
// still growing after the first cycle. Not a test (half a minute or more).
//
// Usage: tarnwell_soak [updates]   (default 1,000,000)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "Scenes.h"
#include "SoakSupport.h"
#include "dgPhysics.h"

namespace {

using namespace scenes;
using namespace soak;

constexpr int32_t kBodies = 20;
constexpr int64_t kCycle = 10000;
constexpr int64_t kDefaultUpdates = 1000000;
// Cycles per window of the memory check, and windows in a row whose lowest
// live block count rose that make it stop.
constexpr int64_t kFloorWindow = 10;
constexpr int32_t kRisingWindows = 4;
// Bowl: y = kBowlCurve (x^2 + z^2) over a square of kBowlHalf m each side of
// the origin, walls from the rim kWallHeight m up.
constexpr float kBowlHalf = 20.0f;
constexpr int32_t kBowlCells = 20;
constexpr float kBowlCurve = 0.02f;
constexpr float kWallHeight = 30.0f;

// ---- the bowl ----

float bowlY(float x, float z) {
    return kBowlCurve * (x * x + z * z);
}

dgCollision* buildBowl(dgWorld* world) {
    const float spacing = 2.0f * kBowlHalf / float(kBowlCells);
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    auto height = [spacing](int32_t i, int32_t j) {
        return bowlY(-kBowlHalf + spacing * float(i), -kBowlHalf + spacing * float(j));
    };
    addGridFaces(tree, kBowlCells, spacing, -kBowlHalf, 0.0f, -kBowlHalf, height);
    auto vertex = [&](int32_t i, int32_t j, float* out) {
        out[0] = -kBowlHalf + spacing * float(i);
        out[1] = height(i, j);
        out[2] = -kBowlHalf + spacing * float(j);
    };
    // Each border segment (a, b) walked counter-clockwise seen from above,
    // so the quad a, b, b + up, a + up faces inwards.
    auto wall = [&](int32_t ia, int32_t ja, int32_t ib, int32_t jb) {
        float quad[12];
        vertex(ia, ja, quad);
        vertex(ib, jb, quad + 3);
        vertex(ib, jb, quad + 6);
        quad[7] += kWallHeight;
        vertex(ia, ja, quad + 9);
        quad[10] += kWallHeight;
        dgTreeCollisionAddFace(tree, 4, quad, 12, 2);
    };
    for (int32_t k = 0; k < kBowlCells; k++) {
        wall(k, 0, k + 1, 0);
        wall(kBowlCells, k, kBowlCells, k + 1);
        wall(kBowlCells - k, kBowlCells, kBowlCells - k - 1, kBowlCells);
        wall(0, kBowlCells - k, 0, kBowlCells - k - 1);
    }
    dgTreeCollisionEndBuild(tree, 1);
    return tree;
}

// ---- energy ----

// Kinetic, rotational (omega taken into the body's axes, the rows of its
// matrix) and potential energy, height measured from the bowl's bottom.
double energy(dgBody* body) {
    float mass;
    float inertia[3];
    dgBodyGetMassMatrix(body, &mass, &inertia[0], &inertia[1], &inertia[2]);
    float matrix[16];
    float v[3];
    float w[3];
    dgBodyGetMatrix(body, matrix);
    dgBodyGetVelocity(body, v);
    dgBodyGetOmega(body, w);
    double e = 0.5 * mass * (double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    for (int32_t axis = 0; axis < 3; axis++) {
        const double local = double(matrix[4 * axis]) * w[0] + double(matrix[4 * axis + 1]) * w[1] +
                             double(matrix[4 * axis + 2]) * w[2];
        e += 0.5 * inertia[axis] * local * local;
    }
    return e + double(mass) * kGravity * matrix[13];
}

// Launch: every body on a ring above the bowl, seeded velocity and omega,
// woken.
void launch(dgWorld* world, const std::vector<dgBody*>& bodies, std::mt19937& rng) {
    std::uniform_real_distribution<float> horizontal(-12.0f, 12.0f);
    std::uniform_real_distribution<float> vertical(-5.0f, 12.0f);
    std::uniform_real_distribution<float> spin(-6.0f, 6.0f);
    for (size_t b = 0; b < bodies.size(); b++) {
        const float angle = 6.2831853f * float(b) / float(bodies.size());
        float matrix[16];
        translation(9.0f * std::cos(angle), 12.0f + 1.5f * float(b % 4), 9.0f * std::sin(angle), matrix);
        dgBodySetMatrix(bodies[b], matrix);
        const float v[3] = {horizontal(rng), vertical(rng), horizontal(rng)};
        const float w[3] = {spin(rng), spin(rng), spin(rng)};
        dgBodySetVelocity(bodies[b], v);
        dgBodySetOmega(bodies[b], w);
        dgWorldUnfreezeBody(world, bodies[b]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int64_t updates = kDefaultUpdates;
    if (argc > 1) {
        updates = std::atoll(argv[1]);
        if (updates <= 0) {
            std::fprintf(stderr, "usage: %s [updates]  (default %lld)\n", argv[0],
                         (long long)kDefaultUpdates);
            return 2;
        }
    }
    const float lo[3] = {-60.0f, -30.0f, -60.0f};
    const float hi[3] = {60.0f, 100.0f, 60.0f};
    dgWorld* world = newWorld(lo, hi, 0.0f, kFriction, countingAllocate, countingRelease);
    dgCollision* bowl = buildBowl(world);
    addBody(world, bowl, 0.0f, 0.0f, 0.0f, 0.0f);
    dgReleaseCollision(world, bowl);

    const float hullPoints[5][3] = {
        {0.0f, 1.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, -1.0f}};
    dgCollision* shapes[4] = {
        dgCreateBox(world, 1.0f, 1.5f, 2.0f, nullptr),
        dgCreateSphere(world, 0.5f, 0.5f, 0.5f, nullptr),
        dgCreateCapsule(world, 0.5f, 2.5f, nullptr),
        dgCreateConvexHull(world, 5, &hullPoints[0][0], int32_t(3 * sizeof(float)), nullptr),
    };
    std::vector<dgBody*> bodies;
    for (int32_t b = 0; b < kBodies; b++) {
        bodies.push_back(addBody(world, shapes[b % 4], 1.0f + float(b % 3), 0.0f, 10.0f, 0.0f));
    }
    for (dgCollision* shape : shapes) {
        dgReleaseCollision(world, shape);
    }

    std::mt19937 rng(20261209u);
    std::printf("soak: %d bodies in a walled bowl, relaunched every %lld updates, %lld updates\n",
                int(kBodies), (long long)kCycle, (long long)updates);
    std::printf("%8s %12s %12s %12s %10s %12s %10s\n", "cycle", "launch J", "peak J", "end J", "live blk",
                "live bytes", "allocs");
    const auto started = std::chrono::steady_clock::now();
    double launchEnergy = 0.0;
    double peakEnergy = 0.0;
    double margin = 0.0;
    int64_t highWaterBytes = -1;
    int64_t highWaterBlocks = -1;
    int64_t allocationsAtLaunch = 0;
    MemoryFloorWatch memoryWatch(kFloorWindow, kRisingWindows);
    const char* failure = nullptr;
    int64_t failedAt = -1;
    int64_t step = 0;
    for (; step < updates; step++) {
        if (step % kCycle == 0) {
            launch(world, bodies, rng);
            launchEnergy = 0.0;
            for (dgBody* body : bodies) {
                launchEnergy += energy(body);
            }
            peakEnergy = launchEnergy;
            // Room for the contact solver's position correction, which may
            // lift a body out of a penetration.
            margin = 0.05 * std::fabs(launchEnergy) + 50.0;
            allocationsAtLaunch = g_memory.allocations;
        }
        dgWorldUpdate(world, kTimeStep);
        double total = 0.0;
        for (dgBody* body : bodies) {
            if (!finiteState(body)) {
                failure = "non-finite body state";
                break;
            }
            total += energy(body);
        }
        if (failure) {
            failedAt = step;
            break;
        }
        peakEnergy = std::max(peakEnergy, total);
        if (total > launchEnergy + margin) {
            failure = "energy above the launch's plus the margin";
            failedAt = step;
            break;
        }
        if ((step + 1) % kCycle == 0) {
            const int64_t cycle = (step + 1) / kCycle;
            std::printf("%8lld %12.2f %12.2f %12.2f %10lld %12lld %10lld\n", (long long)cycle, launchEnergy,
                        peakEnergy, total, (long long)g_memory.liveBlocks, (long long)g_memory.liveBytes,
                        (long long)(g_memory.allocations - allocationsAtLaunch));
            std::fflush(stdout);
            highWaterBytes = std::max(highWaterBytes, g_memory.liveBytes);
            highWaterBlocks = std::max(highWaterBlocks, g_memory.liveBlocks);
            if (memoryWatch.endCycle(cycle, g_memory.liveBlocks)) {
                std::printf("%8s lowest live blocks of cycles %lld-%lld: %lld\n", "",
                            (long long)(cycle - kFloorWindow + 1), (long long)cycle,
                            (long long)memoryWatch.windowFloor());
                if (memoryWatch.growing()) {
                    failure = "engine memory still growing after the first cycle";
                    failedAt = step;
                    break;
                }
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (failure) {
        double total = 0.0;
        for (dgBody* body : bodies) {
            total += energy(body);
        }
        std::printf("STOPPED at update %lld (cycle %lld, update %lld of it): %s\n", (long long)failedAt,
                    (long long)(failedAt / kCycle + 1), (long long)(failedAt % kCycle), failure);
        std::printf(
            "  launch energy %.3f J, margin %.3f J, energy now %.3f J, live blocks %lld, live bytes %lld\n",
            launchEnergy, margin, total, (long long)g_memory.liveBlocks, (long long)g_memory.liveBytes);
        for (size_t b = 0; b < bodies.size(); b++) {
            float p[3];
            float v[3];
            position(bodies[b], p);
            dgBodyGetVelocity(bodies[b], v);
            std::printf("  body %2zu at (%.3f, %.3f, %.3f) velocity (%.3f, %.3f, %.3f)\n", b, double(p[0]),
                        double(p[1]), double(p[2]), double(v[0]), double(v[1]), double(v[2]));
        }
    } else {
        std::printf("completed %lld updates in %.1f s without fault\n", (long long)step, seconds);
    }
    dgWorldDestroy(world);
    std::printf("highest engine memory at a cycle's end: %lld blocks, %lld bytes\n",
                (long long)highWaterBlocks, (long long)highWaterBytes);
    // The block cache and the shared pools keep their blocks for the process.
    std::printf(
        "after the world's destruction (block cache and pools keep theirs): live blocks %lld, bytes %lld\n",
        (long long)g_memory.liveBlocks, (long long)g_memory.liveBytes);
    return failure ? 1 : 0;
}

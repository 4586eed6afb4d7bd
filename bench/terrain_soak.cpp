// Soak run of the game's sea floor over the public header alone: the level
// body built as the game builds it (tests/support/GameTerrain.h), in the
// game's world set-up, and 48 boxes of a ship's and a torpedo's size thrown
// at it and driven into it by constant thrust, relaunched from seeded poses
// every 600 updates of 1/60 s. It stops with a report, and exit status 1,
// when a body stays under the surface, when a body state goes non-finite, or
// when the engine's live memory (counted through the world's allocation
// hooks) still grows after the first cycle. Not a test; scripts/test.sh runs
// it briefly.
//
// Usage: tarnwell_terrain_soak [updates] [seed]   (default 100,000 updates)

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "GameTerrain.h"
#include "SoakSupport.h"
#include "dgPhysics.h"

namespace {

using namespace soak;

constexpr float kTimeStep = 1.0f / 60.0f;
constexpr int64_t kCycle = 600;
constexpr int64_t kDefaultUpdates = 100000;
constexpr uint32_t kDefaultSeed = 20261210u;
// Launch groups (one in each quarter of the map, so groups never meet at
// launch) of kGroupColumns x kGroupRows bodies kGroupPitch m apart, more than
// the largest box's diagonal.
constexpr int32_t kGroups = 4;
constexpr int32_t kGroupColumns = 4;
constexpr int32_t kGroupRows = 3;
constexpr float kGroupPitch = 45.0f;
constexpr int32_t kBodies = kGroups * kGroupColumns * kGroupRows;
// Bodies are under the surface when a point of theirs lies deeper than this;
// a faulty body is one that stays under through kUnderUpdates updates in a
// row, or is under at a cycle's end. A discrete body at 30 m/s moves 0.5 m an
// update, so single updates under by about that much come with every hard
// landing and are reported, not failed.
constexpr double kTolerance = 0.5;
constexpr int32_t kUnderUpdates = 30;
// Memory watch: cycles per window, and windows in a row whose floor rose.
// Over the first twenty-odd relaunches the pools grow in steps as bodies
// meet the floor in new ways, and the floor of windows of five cycles has
// been seen to rise four windows in a row before it settles; so six.
constexpr int64_t kFloorWindow = 5;
constexpr int32_t kRisingWindows = 6;

// ---- bodies ----

struct Kind {
    const char* name;
    float size[3];
    float mass;
    float linearDamping;
    float angularDamping;
};

// Two ship sizes and a torpedo; the torpedo damping is the game's, the
// ships' what the game's ship table gives a hull.
const Kind kKinds[3] = {
    {"ship", {6.0f, 3.0f, 10.0f}, 10.0f, 0.5f, 0.05f},
    {"large ship", {36.0f, 10.0f, 16.0f}, 100.0f, 0.5f, 0.05f},
    {"torpedo", {0.5f, 0.5f, 3.0f}, 1.0f, 0.9f, 0.95f},
};

struct Body {
    dgBody* body = nullptr;
    const Kind* kind = nullptr;
    bool continuous = false;
    float thrust[3] = {0.0f, 0.0f, 0.0f};  // force, N, world axes
    int32_t underFor = 0;                  // updates in a row under the surface
};

void applyThrust(dgBody* body) {
    dgBodySetForce(body, static_cast<const Body*>(dgBodyGetUserData(body))->thrust);
}

// ---- depth under the surface ----

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec operator*(double s, Vec a) {
    return {s * a.x, s * a.y, s * a.z};
}
double dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// A box placed by a body matrix: centre, axes (the matrix rows) and half
// extents.
struct Box {
    Vec centre;
    Vec axis[3];
    double half[3];
};

Box placedBox(const float* m, const float* size) {
    Box box;
    box.centre = {m[12], m[13], m[14]};
    for (int32_t a = 0; a < 3; a++) {
        box.axis[a] = {m[4 * a], m[4 * a + 1], m[4 * a + 2]};
        box.half[a] = 0.5 * double(size[a]);
    }
    return box;
}

constexpr double kCell = gameterrain::kScaleXZ;
constexpr double kMapEnd = kCell * (gameterrain::kSide - 1);

double sample(const std::vector<uint16_t>& map, int32_t i, int32_t j) {
    return double(map[size_t(i) * gameterrain::kSide + size_t(j)]) * gameterrain::kScaleY + gameterrain::kOffsetY;
}

// Closest point of the triangle abc to p (the region walk over its
// vertices, edges and face), as a distance.
double triangleDistance(Vec p, Vec a, Vec b, Vec c) {
    const Vec ab = b - a;
    const Vec ac = c - a;
    const Vec ap = p - a;
    const double d1 = dot(ab, ap);
    const double d2 = dot(ac, ap);
    Vec q;
    if (d1 <= 0.0 && d2 <= 0.0) {
        q = a;
    } else {
        const Vec bp = p - b;
        const double d3 = dot(ab, bp);
        const double d4 = dot(ac, bp);
        const Vec cp = p - c;
        const double d5 = dot(ab, cp);
        const double d6 = dot(ac, cp);
        const double vc = d1 * d4 - d3 * d2;
        const double vb = d5 * d2 - d1 * d6;
        const double va = d3 * d6 - d5 * d4;
        if (d3 >= 0.0 && d4 <= d3) {
            q = b;
        } else if (d6 >= 0.0 && d5 <= d6) {
            q = c;
        } else if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) {
            q = a + (d1 / (d1 - d3)) * ab;
        } else if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) {
            q = a + (d2 / (d2 - d6)) * ac;
        } else if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0) {
            q = b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b);
        } else {
            const double denominator = 1.0 / (va + vb + vc);
            q = a + (vb * denominator) * ab + (vc * denominator) * ac;
        }
    }
    const Vec d = p - q;
    return std::sqrt(dot(d, d));
}

// Distance from a point under the surface, `vertical` m under it, to the
// surface: the nearest point lies no farther than the one straight above,
// so only the cells within that reach count. Reaches beyond two cells are
// cut: such a point is deep under in any measure.
double distanceToSurface(const std::vector<uint16_t>& map, Vec p, double vertical) {
    const double reach = std::min(vertical, 2.0 * kCell);
    const int32_t last = gameterrain::kSide - 2;
    const int32_t i0 = std::clamp(int32_t(std::floor((p.x - reach) / kCell)), 0, last);
    const int32_t i1 = std::clamp(int32_t(std::floor((p.x + reach) / kCell)), 0, last);
    const int32_t j0 = std::clamp(int32_t(std::floor((p.z - reach) / kCell)), 0, last);
    const int32_t j1 = std::clamp(int32_t(std::floor((p.z + reach) / kCell)), 0, last);
    double best = vertical;
    for (int32_t i = i0; i <= i1; i++) {
        for (int32_t j = j0; j <= j1; j++) {
            const Vec v00 = {kCell * i, sample(map, i, j), kCell * j};
            const Vec v10 = {kCell * (i + 1), sample(map, i + 1, j), kCell * j};
            const Vec v01 = {kCell * i, sample(map, i, j + 1), kCell * (j + 1)};
            const Vec v11 = {kCell * (i + 1), sample(map, i + 1, j + 1), kCell * (j + 1)};
            best = std::min({best, triangleDistance(p, v10, v00, v11), triangleDistance(p, v11, v00, v01)});
        }
    }
    return best;
}

struct Depth {
    double vertical = -1.0e30;  // most by which a point lies under the surface straight above it
    double distance = 0.0;      // most by which a point under the surface lies from it
};

// How far the box reaches under the surface. Over the box's footprint the
// surface height less the box's underside is linear on each piece of the
// overlay of the terrain's triangles and the box's projected underside, so
// its largest value lies on a corner of a piece: a box corner, a box edge
// crossing a terrain edge (the lines x = 20 i, z = 20 j and the diagonals
// x - z = 20 k), or a terrain vertex under the box. The vertical figure is
// exact (also when negative: the clearance), the distance is taken at those
// points and so a lower bound, exact where a corner is the deepest point.
// The distance is the one that counts: on the map's steepest slopes (76
// degrees) a point a few centimetres into the face lies decimetres under it
// straight down.
Depth boxDepth(const std::vector<uint16_t>& map, const Box& box) {
    Depth depth;
    auto consider = [&](Vec p) {
        const double vertical = double(gameterrain::surfaceHeight(map, float(p.x), float(p.z))) - p.y;
        depth.vertical = std::max(depth.vertical, vertical);
        if (vertical > 0.0) {
            depth.distance = std::max(depth.distance, distanceToSurface(map, p, vertical));
        }
    };
    Vec corner[8];
    for (int32_t k = 0; k < 8; k++) {
        corner[k] = box.centre;
        for (int32_t a = 0; a < 3; a++) {
            corner[k] = corner[k] + (((k >> a) & 1) ? box.half[a] : -box.half[a]) * box.axis[a];
        }
        consider(corner[k]);
    }
    // Edges join corners differing in one bit.
    std::vector<double> crossings;
    for (int32_t k = 0; k < 8; k++) {
        for (int32_t a = 0; a < 3; a++) {
            if ((k >> a) & 1) {
                continue;
            }
            const Vec p = corner[k];
            const Vec d = corner[k | (1 << a)] - p;
            crossings.clear();
            auto lines = [&](double from, double delta) {
                if (std::fabs(delta) < 1.0e-12) {
                    return;
                }
                const double lo = std::min(from, from + delta) / kCell;
                const double hi = std::max(from, from + delta) / kCell;
                for (double n = std::ceil(lo); n <= hi; n += 1.0) {
                    crossings.push_back((n * kCell - from) / delta);
                }
            };
            lines(p.x, d.x);
            lines(p.z, d.z);
            lines(p.x - p.z, d.x - d.z);
            for (double t : crossings) {
                if (t > 0.0 && t < 1.0) {
                    consider(p + t * d);
                }
            }
        }
    }
    // Terrain vertices under the box: the vertical line's entry into the box
    // (its slab interval in each of the box's axes) is the underside there.
    double lo[2] = {1.0e30, 1.0e30};
    double hi[2] = {-1.0e30, -1.0e30};
    for (const Vec& c : corner) {
        lo[0] = std::min(lo[0], c.x);
        hi[0] = std::max(hi[0], c.x);
        lo[1] = std::min(lo[1], c.z);
        hi[1] = std::max(hi[1], c.z);
    }
    const int32_t last = gameterrain::kSide - 1;
    for (int32_t i = std::max(0, int32_t(std::ceil(lo[0] / kCell)));
         i <= std::min(last, int32_t(std::floor(hi[0] / kCell))); i++) {
        for (int32_t j = std::max(0, int32_t(std::ceil(lo[1] / kCell)));
             j <= std::min(last, int32_t(std::floor(hi[1] / kCell))); j++) {
            const Vec base = {kCell * i, 0.0, kCell * j};
            double enter = -1.0e30;
            double leave = 1.0e30;
            for (int32_t a = 0; a < 3; a++) {
                const double offset = dot(base - box.centre, box.axis[a]);
                const double rate = box.axis[a].y;
                if (std::fabs(rate) < 1.0e-12) {
                    if (std::fabs(offset) > box.half[a]) {
                        leave = -1.0e30;
                    }
                    continue;
                }
                const double t0 = (-box.half[a] - offset) / rate;
                const double t1 = (box.half[a] - offset) / rate;
                enter = std::max(enter, std::min(t0, t1));
                leave = std::min(leave, std::max(t0, t1));
            }
            if (enter <= leave) {
                consider({base.x, enter, base.z});
            }
        }
    }
    return depth;
}

bool onMap(const Box& box) {
    double reach = 0.0;
    for (int32_t a = 0; a < 3; a++) {
        reach += box.half[a];
    }
    return box.centre.x - reach >= 0.0 && box.centre.x + reach <= kMapEnd && box.centre.z - reach >= 0.0 &&
           box.centre.z + reach <= kMapEnd;
}

Box boxOf(const Body& b) {
    float m[16];
    dgBodyGetMatrix(b.body, m);
    return placedBox(m, b.kind->size);
}

// ---- launch ----

// Every body from a seeded pose over its group's part of the map, 0.5 to 20
// m clear of the surface everywhere under it, thrown at the terrain (down by
// 0.2 to 1 of its speed) spinning, with a thrust of 5 to 20 m/s^2 in a random
// direction that pushes at least a little into the sea floor.
void launch(dgWorld* world, std::vector<Body>& bodies, const std::vector<uint16_t>& map, std::mt19937& rng) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const float quarter = 0.5f * float(kMapEnd);
    const float span = float(kGroupColumns - 1) * kGroupPitch;
    for (int32_t g = 0; g < kGroups; g++) {
        // Room at the map's edges and between quarters for ten seconds'
        // drift.
        const float cx = quarter * float(g % 2) + 700.0f + (quarter - 1400.0f - span) * u(rng);
        const float cz = quarter * float(g / 2) + 700.0f + (quarter - 1400.0f - span) * u(rng);
        for (int32_t s = 0; s < kGroupColumns * kGroupRows; s++) {
            Body& b = bodies[size_t(g * kGroupColumns * kGroupRows + s)];
            const float angles[3] = {6.2831853f * u(rng), 6.2831853f * u(rng), 6.2831853f * u(rng)};
            float m[16];
            dgSetEulerAngles(angles, m);
            m[12] = cx + kGroupPitch * float(s % kGroupColumns) + 10.0f * (u(rng) - 0.5f);
            m[14] = cz + kGroupPitch * float(s / kGroupColumns) + 10.0f * (u(rng) - 0.5f);
            m[13] = 0.0f;
            const Depth at = boxDepth(map, placedBox(m, b.kind->size));
            m[13] = float(at.vertical + 0.5 + 19.5 * double(u(rng)));
            dgBodySetMatrix(b.body, m);

            const float speed = (b.continuous ? 150.0f : 30.0f) * u(rng);
            const float down = 0.2f + 0.8f * u(rng);
            const float heading = 6.2831853f * u(rng);
            const float across = std::sqrt(1.0f - down * down);
            const float v[3] = {speed * across * std::cos(heading), -speed * down,
                                speed * across * std::sin(heading)};
            dgBodySetVelocity(b.body, v);
            const float w[3] = {4.0f * u(rng) - 2.0f, 4.0f * u(rng) - 2.0f, 4.0f * u(rng) - 2.0f};
            dgBodySetOmega(b.body, w);

            const float push = b.kind->mass * (5.0f + 15.0f * u(rng));
            const float pushDown = 0.1f + 0.9f * u(rng);
            const float pushHeading = 6.2831853f * u(rng);
            const float pushAcross = std::sqrt(1.0f - pushDown * pushDown);
            b.thrust[0] = push * pushAcross * std::cos(pushHeading);
            b.thrust[1] = -push * pushDown;
            b.thrust[2] = push * pushAcross * std::sin(pushHeading);
            b.underFor = 0;
            dgWorldUnfreezeBody(world, b.body);
        }
    }
}

struct Deepest {
    double distance = 0.0;
    double vertical = 0.0;
    int32_t body = -1;
    int64_t update = -1;

    void take(const Depth& d, int32_t b, int64_t at) {
        if (d.distance > distance) {
            distance = d.distance;
            body = b;
            update = at;
        }
        vertical = std::max(vertical, d.vertical);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int64_t updates = kDefaultUpdates;
    uint32_t seed = kDefaultSeed;
    if (argc > 1) {
        updates = std::atoll(argv[1]);
    }
    if (argc > 2) {
        seed = uint32_t(std::strtoul(argv[2], nullptr, 10));
    }
    if (updates <= 0 || argc > 3) {
        std::fprintf(stderr, "usage: %s [updates] [seed]  (default %lld, %u)\n", argv[0],
                     (long long)kDefaultUpdates, kDefaultSeed);
        return 2;
    }
    const char* mapPath = TARNWELL_MEDIA_DIR "/terrain/map257x257.raw";
    const std::vector<uint16_t> map = gameterrain::loadHeightMap(mapPath);
    if (map.empty()) {
        std::fprintf(stderr, "%s: cannot read the height map %s (built by the media target)\n", argv[0],
                     mapPath);
        return 2;
    }

    // The game's world: sub-steps of at most 1/60 s and its pair values. The
    // game keeps only the first contact point of a pair in each pass; here
    // every point stands, so that what is measured is the engine's.
    dgWorld* world = dgWorldCreate(countingAllocate, countingRelease);
    gameterrain::applyGameWorldValues(world);
    gameterrain::createLevelBody(world, map);

    std::vector<Body> bodies(kBodies);
    for (int32_t k = 0; k < kBodies; k++) {
        Body& b = bodies[size_t(k)];
        b.kind = &kKinds[k % 3];
        b.continuous = (k % 4 == 3);
        b.body = gameterrain::createBoxBody(world, b.kind->size, b.kind->mass);
        dgBodySetLinearDamping(b.body, b.kind->linearDamping);
        const float damping[3] = {b.kind->angularDamping, b.kind->angularDamping, b.kind->angularDamping};
        dgBodySetAngularDamping(b.body, damping);
        dgBodySetUserData(b.body, &b);
        dgBodySetForceAndTorqueCallback(b.body, applyThrust);
        dgBodySetAutoFreeze(b.body, 0);
        dgBodySetContinuousCollisionMode(b.body, b.continuous ? 1 : 0);
    }

    std::mt19937 rng(seed);
    std::printf("terrain soak: %d boxes on the game's sea floor, relaunched every %lld updates, %lld updates, "
                "seed %u\n",
                int(kBodies), (long long)kCycle, (long long)updates, seed);
    std::printf("%8s %10s %10s %10s %12s %12s\n", "update", "deepest m", "at ends m", "live blk", "live bytes",
                "lowest blk");
    const auto started = std::chrono::steady_clock::now();
    MemoryFloorWatch memoryWatch(kFloorWindow, kRisingWindows);
    // Over the run, over the run's cycle ends, and over the current window
    // of the memory watch (all updates, and its cycle ends).
    Deepest deepest;
    Deepest deepestAtEnd;
    Deepest windowDeepest;
    Deepest windowAtEnd;
    int64_t offMap = 0;
    const char* failure = nullptr;
    int32_t failedBody = -1;
    int64_t step = 0;
    for (; (step < updates) && !failure; step++) {
        if (step % kCycle == 0) {
            launch(world, bodies, map, rng);
        }
        dgWorldUpdate(world, kTimeStep);
        const bool cycleEnd = ((step + 1) % kCycle == 0);
        for (int32_t k = 0; (k < kBodies) && !failure; k++) {
            Body& b = bodies[size_t(k)];
            if (!finiteState(b.body)) {
                failure = "non-finite body state";
                failedBody = k;
                break;
            }
            const Box box = boxOf(b);
            if (!onMap(box)) {
                offMap += cycleEnd ? 1 : 0;
                b.underFor = 0;
                continue;
            }
            const Depth d = boxDepth(map, box);
            deepest.take(d, k, step);
            windowDeepest.take(d, k, step);
            b.underFor = (d.distance > kTolerance) ? b.underFor + 1 : 0;
            if (b.underFor >= kUnderUpdates) {
                failure = "a body stayed under the surface";
                failedBody = k;
            }
            if (cycleEnd) {
                deepestAtEnd.take(d, k, step);
                windowAtEnd.take(d, k, step);
                if (d.distance > kTolerance) {
                    failure = "a body under the surface at its cycle's end";
                    failedBody = k;
                }
            }
        }
        if (cycleEnd && !failure && memoryWatch.endCycle((step + 1) / kCycle, g_memory.liveBlocks)) {
            std::printf("%8lld %10.3f %10.3f %10lld %12lld %12lld\n", (long long)(step + 1),
                        windowDeepest.distance, windowAtEnd.distance, (long long)g_memory.liveBlocks,
                        (long long)g_memory.liveBytes, (long long)memoryWatch.windowFloor());
            std::fflush(stdout);
            windowDeepest = Deepest();
            windowAtEnd = Deepest();
            if (memoryWatch.growing()) {
                failure = "engine memory still growing after the first cycle";
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (failure) {
        const int64_t at = step - 1;
        std::printf("STOPPED at update %lld (cycle %lld, update %lld of it): %s\n", (long long)at,
                    (long long)(at / kCycle + 1), (long long)(at % kCycle), failure);
    }
    if (failedBody >= 0) {
        // Its pose in full, to be set up again in a test.
        const Body& b = bodies[size_t(failedBody)];
        float m[16];
        float v[3];
        dgBodyGetMatrix(b.body, m);
        dgBodyGetVelocity(b.body, v);
        const Box box = boxOf(b);
        const Depth d = onMap(box) ? boxDepth(map, box) : Depth();
        std::printf("  body %d (%s%s), velocity (%.3f, %.3f, %.3f), under by %.3f m (%.3f m straight down) "
                    "for %d updates, matrix",
                    int(failedBody), b.kind->name, b.continuous ? ", continuous" : "", double(v[0]),
                    double(v[1]), double(v[2]), d.distance, d.vertical, int(b.underFor));
        for (float f : m) {
            std::printf(" %.9g", double(f));
        }
        std::printf("\n");
    }
    std::printf("%lld updates, %lld relaunches, %.1f s; bodies off the map at a cycle's end: %lld\n",
                (long long)step, (long long)((step - 1) / kCycle), seconds, (long long)offMap);
    std::printf("deepest under the surface: %.3f m (body %d at update %lld; %.3f m straight down at most), "
                "at a cycle's end %.3f m\n",
                deepest.distance, int(deepest.body), (long long)deepest.update, deepest.vertical,
                deepestAtEnd.distance);
    std::printf("engine memory at the end: %lld live blocks, %lld bytes\n", (long long)g_memory.liveBlocks,
                (long long)g_memory.liveBytes);
    dgWorldDestroy(world);
    std::printf("%s\n", failure ? "FAILED" : "passed");
    return failure ? 1 : 0;
}

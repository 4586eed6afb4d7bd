// Whole worlds built and stepped through the public header alone: a perfectly
// elastic bounce, one scene run twice in one process, fast bodies with
// continuous collision against a one-face tree wall, and frozen stacks that
// one woken body must not shake.
#include <gtest/gtest.h>

#include <fenv.h>
#include <xmmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "Scenes.h"
#include "ShapeTestUtils.h"
#include "dgPhysics.h"

namespace {

constexpr float kGravity = 10.0f;

void gravity(dgBody* body) {
    float mass, ixx, iyy, izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kGravity * mass, 0.0f};
    dgBodySetForce(body, force);
}

void placeAt(dgBody* body, float x, float y, float z) {
    float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
    dgBodySetMatrix(body, matrix);
}

float height(const dgBody* body) {
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    return matrix[13];
}

// A world of the default material with the given restitution and friction.
class World {
public:
    World(float restitution, float friction, dgAllocMemoryCallback allocate = nullptr,
          dgFreeMemoryCallback release = nullptr)
        : m_world(dgWorldCreate(allocate, release)) {
        const uint32_t group = dgMaterialGetDefaultGroupId(m_world);
        dgMaterialSetDefaultElasticity(m_world, group, group, restitution);
        dgMaterialSetDefaultFriction(m_world, group, group, friction, friction);
    }
    ~World() { dgWorldDestroy(m_world); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    dgWorld* get() const { return m_world; }

    // Takes over the caller's reference to shape. Mass 0 leaves it static.
    dgBody* add(dgCollision* shape, float mass, float x, float y, float z) {
        dgBody* body = dgCreateBody(m_world, shape);
        placeAt(body, x, y, z);
        if (mass > 0.0f) {
            float inertia[3], origin[3];
            dgConvexCollisionCalculateInertialMatrix(shape, inertia, origin);
            dgBodySetMassMatrix(body, mass, mass * inertia[0], mass * inertia[1], mass * inertia[2]);
            dgBodySetForceAndTorqueCallback(body, gravity);
            dgWorldUnfreezeBody(m_world, body);
        }
        dgReleaseCollision(m_world, shape);
        return body;
    }
    // A static box floor whose top face is y = 0.
    void floor() { add(dgCreateBox(m_world, 100.0f, 2.0f, 100.0f, nullptr), 0.0f, 0.0f, -1.0f, 0.0f); }

private:
    shapetest::HookGuard m_guard;
    dgWorld* m_world;
};

// ---- a perfectly elastic bounce ----

struct BounceCase {
    float drop;  // height of the sphere's lowest point above the floor
    int32_t stepsPerFrame;
};

void PrintTo(const BounceCase& c, std::ostream* os) {
    *os << c.drop << " m, " << c.stepsPerFrame << " steps a frame";
}

class ElasticBounce : public ::testing::TestWithParam<BounceCase> {};

// At restitution 1 without damping or friction nothing should add energy:
// each apex may fall a little short of the drop height but never climb past
// it. The tolerance is far below what a push out of the floor adds to a
// rebound (centimetres at these heights).
TEST_P(ElasticBounce, ApexesNeverClimbAboveTheDropHeight) {
    const BounceCase& c = GetParam();
    World world(1.0f, 0.0f);
    world.floor();
    const float radius = 0.5f;
    dgBody* ball = world.add(dgCreateSphere(world.get(), radius, radius, radius, nullptr), 1.0f, 0.0f,
                             c.drop + radius, 0.0f);
    dgBodySetLinearDamping(ball, 0.0f);
    const float none[3] = {0.0f, 0.0f, 0.0f};
    dgBodySetAngularDamping(ball, none);
    dgBodySetAutoFreeze(ball, 0);
    dgWorldSetMinimumFrameRate(world.get(), 60.0f * float(c.stepsPerFrame));

    std::vector<float> apexes;
    float highest = -1.0f;
    float previousVy = 0.0f;
    const float flight = 2.0f * std::sqrt(2.0f * c.drop / kGravity);
    const int32_t frames = int32_t(std::ceil(3.5f * flight * 60.0f));
    for (int32_t i = 0; (i < frames) && (apexes.size() < 3); ++i) {
        dgWorldUpdate(world.get(), 1.0f / 60.0f);
        float v[3];
        dgBodyGetVelocity(ball, v);
        if (v[1] > 0.0f) {
            highest = std::max(highest, height(ball) - radius);
        } else if (previousVy > 0.0f) {
            apexes.push_back(highest);
            highest = -1.0f;
        }
        previousVy = v[1];
    }
    ASSERT_EQ(apexes.size(), 3u) << "fewer than three bounces";
    for (size_t i = 0; i < apexes.size(); ++i) {
        EXPECT_LE(apexes[i], c.drop + 0.002f) << "apex " << i;
        EXPECT_GE(apexes[i], 0.95f * c.drop) << "apex " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(PhysicsScenes, ElasticBounce,
                         ::testing::Values(BounceCase{1.0f, 1}, BounceCase{4.0f, 1}, BounceCase{10.0f, 1},
                                           BounceCase{4.0f, 2}, BounceCase{10.0f, 2}),
                         [](const ::testing::TestParamInfo<BounceCase>& info) {
                             return "Drop" + std::to_string(int(info.param.drop)) + "mSteps" +
                                    std::to_string(int(info.param.stepsPerFrame));
                         });

// ---- the same scene twice in one process ----

// Allocation hooks that hand out the blocks of each size in rising (or
// falling) address order: every request takes the lowest (highest) block of
// a batch malloc'd for its size. Each block is a malloc block of the size
// asked, so the C library pair may free it as well.
template <bool kRising>
struct OrderedBlocks {
    static std::map<uint32_t, std::vector<void*>>& spare() {
        static std::map<uint32_t, std::vector<void*>> blocks;
        return blocks;
    }
    static void* allocate(uint32_t size) {
        std::vector<void*>& batch = spare()[size];
        if (batch.empty()) {
            for (int32_t i = 0; i < 8; ++i) {
                batch.push_back(std::malloc(size));
            }
            std::sort(batch.begin(), batch.end(), [](void* a, void* b) {
                return kRising ? (uintptr_t(a) > uintptr_t(b)) : (uintptr_t(a) < uintptr_t(b));
            });
        }
        void* block = batch.back();
        batch.pop_back();
        return block;
    }
    static void release(void* block, uint32_t) { std::free(block); }
    static void releaseSpare() {
        for (auto& entry : spare()) {
            for (void* block : entry.second) {
                std::free(block);
            }
        }
        spare().clear();
    }
};

// What another part of the program may leave on the thread between two
// updates: rounding upwards, denormals flushed and read as zero. Put back
// on the way out.
class OddCallerMode {
public:
    OddCallerMode() : m_rounding(fegetround()), m_csr(_mm_getcsr()) {
        fesetround(FE_UPWARD);
        _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero);
    }
    ~OddCallerMode() {
        fesetround(m_rounding);
        _mm_setcsr(m_csr);
    }
    OddCallerMode(const OddCallerMode&) = delete;
    OddCallerMode& operator=(const OddCallerMode&) = delete;

private:
    static constexpr unsigned int kFlushToZero = 0x8000u;
    static constexpr unsigned int kDenormalsAreZero = 0x0040u;
    int m_rounding;
    unsigned int m_csr;
};

// 80 boxes, spheres and capsules, turned and staggered, tumbling into a heap
// on the floor, each update called in the caller's mode or in an odd one.
// Returns the hash of every body's matrix every 20 steps.
std::vector<uint32_t> runHeap(World& world, bool oddCallerMode = false) {
    world.floor();
    dgWorld* w = world.get();
    std::vector<dgBody*> bodies;
    for (int32_t i = 0; i < 80; ++i) {
        const int32_t layer = i / 16;
        const float x = 1.1f * float(i % 4) + 0.3f * float(layer % 2);
        const float z = 1.1f * float((i / 4) % 4) - 0.2f * float(layer % 3);
        const float y = 1.0f + 1.3f * float(layer);
        dgCollision* shape = (i % 3 == 0)   ? dgCreateBox(w, 0.9f, 0.6f, 1.0f, nullptr)
                             : (i % 3 == 1) ? dgCreateSphere(w, 0.45f, 0.45f, 0.45f, nullptr)
                                            : dgCreateCapsule(w, 0.3f, 1.0f, nullptr);
        dgBody* body = world.add(shape, 1.0f, x, y, z);
        const float omega[3] = {0.3f * float(i % 5) - 0.6f, 0.1f * float(i % 7), 0.2f * float(i % 3) - 0.2f};
        dgBodySetOmega(body, omega);
        bodies.push_back(body);
    }
    std::vector<uint32_t> hashes;
    for (int32_t step = 1; step <= 120; ++step) {
        if (oddCallerMode) {
            OddCallerMode mode;
            dgWorldUpdate(w, 1.0f / 60.0f);
        } else {
            dgWorldUpdate(w, 1.0f / 60.0f);
        }
        if (step % 20 == 0) {
            hashes.push_back(scenes::hashMatrices(bodies));
        }
    }
    return hashes;
}

enum class Second {
    WhileTheFirstLives,  // the second world made while the first still exists
    AfterChurn,          // after blocks of many sizes were taken and freed
    OppositeBlockOrder,  // the first world's blocks at rising addresses, the second's at falling ones
    OddCallerMode,       // the second world updated with the caller rounding up and flushing denormals
};

std::string secondName(Second second) {
    switch (second) {
        case Second::WhileTheFirstLives:
            return "WhileTheFirstLives";
        case Second::AfterChurn:
            return "AfterChurn";
        case Second::OppositeBlockOrder:
            return "OppositeBlockOrder";
        case Second::OddCallerMode:
            break;
    }
    return "OddCallerMode";
}

void PrintTo(Second second, std::ostream* os) {
    *os << secondName(second);
}

class SameSceneTwice : public ::testing::TestWithParam<Second> {};

// A world must not depend on where its bodies, joints and contacts happen to
// lie in memory, nor on the floating-point mode its caller left: the same
// scene gives the same matrices bit for bit.
TEST_P(SameSceneTwice, GivesTheSameMatricesBitForBit) {
    std::vector<uint32_t> first;
    std::vector<uint32_t> second;
    switch (GetParam()) {
        case Second::WhileTheFirstLives: {
            World a(0.4f, 0.6f);
            first = runHeap(a);
            World b(0.4f, 0.6f);
            second = runHeap(b);
            break;
        }
        case Second::AfterChurn: {
            {
                World a(0.4f, 0.6f);
                first = runHeap(a);
            }
            std::vector<void*> held;
            for (uint32_t i = 0; i < 400; ++i) {
                held.push_back(std::malloc(64 + (i * 7919u) % 40000u));
            }
            for (size_t i = 0; i < held.size(); i += 2) {
                std::free(held[i]);
            }
            {
                World b(0.4f, 0.6f);
                second = runHeap(b);
            }
            for (size_t i = 1; i < held.size(); i += 2) {
                std::free(held[i]);
            }
            break;
        }
        case Second::OppositeBlockOrder: {
            {
                World a(0.4f, 0.6f, OrderedBlocks<true>::allocate, OrderedBlocks<true>::release);
                first = runHeap(a);
            }
            {
                World b(0.4f, 0.6f, OrderedBlocks<false>::allocate, OrderedBlocks<false>::release);
                second = runHeap(b);
            }
            OrderedBlocks<true>::releaseSpare();
            OrderedBlocks<false>::releaseSpare();
            break;
        }
        case Second::OddCallerMode: {
            World a(0.4f, 0.6f);
            first = runHeap(a);
            World b(0.4f, 0.6f);
            second = runHeap(b, true);
            break;
        }
    }
    ASSERT_EQ(first.size(), second.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i], second[i]) << "after " << 20 * (i + 1) << " steps";
    }
}

INSTANTIATE_TEST_SUITE_P(PhysicsScenes, SameSceneTwice,
                         ::testing::Values(Second::WhileTheFirstLives, Second::AfterChurn,
                                           Second::OppositeBlockOrder, Second::OddCallerMode),
                         [](const ::testing::TestParamInfo<Second>& info) { return secondName(info.param); });

// ---- continuous collision against a tree wall ----

// A sphere of radius 0.1 fired at speed along the wall's local x from the
// origin, start moved back by a share of one step's travel, at a one-quad
// tree wall facing it 4.9 m ahead; the wall's body turned by rotation (rows:
// the local x, y and z axes in world space). Returns the largest local x the
// sphere's centre reached.
float fireAtTreeWall(float speed, float share, const float (&rotation)[3][3]) {
    World world(0.0f, 0.5f);
    dgWorld* w = world.get();
    dgCollision* tree = dgCreateTreeCollision(w, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const float quad[12] = {4.9f, -5.0f, -5.0f, 4.9f, -5.0f, 5.0f, 4.9f, 5.0f, 5.0f, 4.9f, 5.0f, -5.0f};
    dgTreeCollisionAddFace(tree, 4, quad, 12, 1);
    dgTreeCollisionEndBuild(tree, 0);
    dgBody* wall = world.add(tree, 0.0f, 0.0f, 0.0f, 0.0f);
    float matrix[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (int32_t row = 0; row < 3; ++row) {
        for (int32_t col = 0; col < 3; ++col) {
            matrix[4 * row + col] = rotation[row][col];
        }
    }
    dgBodySetMatrix(wall, matrix);

    const float* along = rotation[0];
    const float back = -share * speed / 60.0f;
    dgBody* ball = world.add(dgCreateSphere(w, 0.1f, 0.1f, 0.1f, nullptr), 1.0f, back * along[0],
                             back * along[1], back * along[2]);
    dgBodySetForceAndTorqueCallback(ball, [](dgBody*) {});
    dgBodySetContinuousCollisionMode(ball, 1);
    const float velocity[3] = {speed * along[0], speed * along[1], speed * along[2]};
    dgBodySetVelocity(ball, velocity);

    float reached = back;
    for (int32_t step = 0; step < 60; ++step) {
        dgWorldUpdate(w, 1.0f / 60.0f);
        float m[16];
        dgBodyGetMatrix(ball, m);
        reached = std::max(reached, m[12] * along[0] + m[13] * along[1] + m[14] * along[2]);
    }
    return reached;
}

class ContinuousTreeWall : public ::testing::TestWithParam<float> {};

// Whatever the speed, the start within a step's travel and the wall's turn,
// a sphere in continuous mode never gets its centre past the face.
TEST_P(ContinuousTreeWall, FastSphereNeverPassesTheFace) {
    const float speed = GetParam();
    const float c = std::cos(0.5f);
    const float s = std::sin(0.5f);
    const float turns[3][3][3] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},   // facing -x
        {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}},  // facing -z
        {{c, s, 0}, {-s, c, 0}, {0, 0, 1}},  // facing down and back, along a slope
    };
    for (int32_t t = 0; t < 3; ++t) {
        for (int32_t k = 0; k < 8; ++k) {
            const float reached = fireAtTreeWall(speed, float(k) / 8.0f, turns[t]);
            EXPECT_LT(reached, 4.9f) << "wall " << t << ", start moved back " << k << "/8 of a step";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PhysicsScenes, ContinuousTreeWall,
                         ::testing::Values(10.0f, 20.0f, 30.0f, 50.0f, 100.0f, 200.0f, 400.0f),
                         [](const ::testing::TestParamInfo<float>& info) {
                             return "Speed" + std::to_string(int(info.param));
                         });

// ---- waking one body of a frozen stack ----

struct StackCase {
    const char* name;
    float lightest;
    float heaviest;  // masses log-uniform between the two
};

class FrozenStack : public ::testing::TestWithParam<StackCase> {};

// The activation callback keeps each body's state in the int its user data
// points at.
void recordActivation(dgBody* body, uint32_t state) {
    *static_cast<int32_t*>(dgBodyGetUserData(body)) = int32_t(state);
}

// Random columns of boxes, some with a sphere on top, settle on the floor
// until every body is frozen; then one body is woken and the scene stepped
// on. Nothing touched it: no body may start to move.
TEST_P(FrozenStack, WakingOneBodyMovesNone) {
    const StackCase& c = GetParam();
    int32_t frozenScenes = 0;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        auto uniform = [&rng](float lo, float hi) {
            return std::uniform_real_distribution<float>(lo, hi)(rng);
        };
        // Outlives the world, whose destruction still reports to it.
        std::vector<int32_t> states(16, 1);
        World world(0.4f, 0.5f);
        world.floor();
        std::vector<dgBody*> bodies;
        for (int32_t column = 0; column < 2; ++column) {
            const int32_t height = 3 + int32_t(rng() % 2);
            float y = 0.0f;
            for (int32_t level = 0; level < height; ++level) {
                const bool sphere = (level == height - 1) && (rng() % 2);
                const float size = uniform(0.6f, 1.2f);
                const float mass = c.lightest * std::pow(c.heaviest / c.lightest, uniform(0.0f, 1.0f));
                dgCollision* shape =
                    sphere ? dgCreateSphere(world.get(), 0.5f * size, 0.5f * size, 0.5f * size, nullptr)
                           : dgCreateBox(world.get(), size, size, size, nullptr);
                dgBody* body = world.add(shape, mass, 3.0f * float(column) + uniform(-0.05f, 0.05f),
                                         y + 0.5f * size + 0.002f, uniform(-0.05f, 0.05f));
                y += size + 0.002f;
                dgBodySetUserData(body, &states[bodies.size()]);
                dgBodySetActivationCallback(body, recordActivation);
                bodies.push_back(body);
            }
        }
        auto allFrozen = [&]() {
            return std::all_of(states.begin(), states.begin() + std::ptrdiff_t(bodies.size()),
                               [](int32_t state) { return state == 0; });
        };
        for (int32_t frame = 0; (frame < 900) && !allFrozen(); ++frame) {
            dgWorldUpdate(world.get(), 1.0f / 60.0f);
        }
        if (!allFrozen()) {
            continue;
        }
        ++frozenScenes;
        dgWorldUnfreezeBody(world.get(), bodies[rng() % bodies.size()]);
        float fastest = 0.0f;
        for (int32_t frame = 0; frame < 90; ++frame) {
            dgWorldUpdate(world.get(), 1.0f / 60.0f);
            for (dgBody* body : bodies) {
                float v[3];
                dgBodyGetVelocity(body, v);
                fastest = std::max(fastest, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
            }
        }
        EXPECT_LT(fastest, 0.05f) << "scene " << seed;
    }
    EXPECT_GE(frozenScenes, 6);
}

// A frozen body put elsewhere without waking it is not held by the contact it
// had with another frozen one: when the bottom of the stack wakes, the top
// falls back onto the stack.
TEST(FrozenStackMoved, FallsFreelyOnceTheStackWakes) {
    std::vector<int32_t> states(3, 1);
    World world(0.4f, 0.5f);
    world.floor();
    std::vector<dgBody*> column;
    for (int32_t level = 0; level < 3; ++level) {
        dgBody* body = world.add(dgCreateBox(world.get(), 1.0f, 1.0f, 1.0f, nullptr), 10.0f, 0.0f,
                                 0.502f + 1.002f * float(level), 0.0f);
        dgBodySetUserData(body, &states[size_t(level)]);
        dgBodySetActivationCallback(body, recordActivation);
        column.push_back(body);
    }
    auto frozen = [&states]() { return !(states[0] || states[1] || states[2]); };
    for (int32_t frame = 0; (frame < 600) && !frozen(); ++frame) {
        dgWorldUpdate(world.get(), 1.0f / 60.0f);
    }
    ASSERT_TRUE(frozen()) << "the stack never froze";
    const float rest = height(column[2]);
    placeAt(column[2], 0.0f, rest + 1.0f, 0.0f);
    dgWorldUnfreezeBody(world.get(), column[0]);
    for (int32_t frame = 0; frame < 90; ++frame) {
        dgWorldUpdate(world.get(), 1.0f / 60.0f);
    }
    EXPECT_NEAR(height(column[2]), rest, 0.05f);
}

INSTANTIATE_TEST_SUITE_P(PhysicsScenes, FrozenStack,
                         ::testing::Values(StackCase{"Masses1To100", 1.0f, 100.0f},
                                           StackCase{"MassRatiosTo1e6", 1.0f, 1.0e6f}),
                         [](const ::testing::TestParamInfo<StackCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- round bodies resting on a grid of 1 m cells ----

struct RestingCase {
    const char* name;
    dgCollision* (*make)(dgWorld* world);
    float lowest;  // of the resting shape below its centre
};

void PrintTo(const RestingCase& c, std::ostream* os) {
    *os << c.name;
}

class RoundBodiesResting : public ::testing::TestWithParam<RestingCase> {};

// Twenty bodies dropped 1 cm onto the floor, here and there over its seams,
// rest for 10 s without moving off: a round body rolls at the least push, so
// any contact beside its lowest part, or off the floor's normal, shows as
// drift. At rest nothing should move at all; the bound, 1 mm in 10 s, is a
// few hundred times the rounding of positions near 20 m, and well below the
// tenths of a metre that spheres and capsules rolled off the seams.
TEST_P(RoundBodiesResting, StayWhereTheyLanded) {
    const RestingCase& c = GetParam();
    scenes::Scene scene;
    const float lo[3] = {-10.0f, -10.0f, -10.0f};
    const float hi[3] = {40.0f, 20.0f, 40.0f};
    scene.world = scenes::newWorld(lo, hi, 0.0f, scenes::kFriction);
    dgCollision* floor =
        scenes::buildGridTree(scene.world, 24, 1.0f, 0.0f, 0.0f, 0.0f, [](int32_t, int32_t) { return 0.0f; });
    scenes::addBody(scene.world, floor, 0.0f, 0.0f, 0.0f, 0.0f);
    dgReleaseCollision(scene.world, floor);
    dgCollision* shape = c.make(scene.world);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 2.0f);
    std::vector<std::array<float, 2>> start;
    for (int32_t k = 0; k < 20; k++) {
        const float x = 2.0f + 4.0f * float(k % 5) + u(rng), z = 2.0f + 4.0f * float(k / 5) + u(rng);
        dgBody* body = scenes::addBody(scene.world, shape, 1.0f, x, c.lowest + 0.01f, z);
        dgBodySetAutoFreeze(body, 0);
        scene.bodies.push_back(body);
        start.push_back({x, z});
    }
    dgReleaseCollision(scene.world, shape);
    for (int32_t s = 0; s < 600; s++) {
        dgWorldUpdate(scene.world, scenes::kTimeStep);
    }
    for (size_t k = 0; k < scene.bodies.size(); k++) {
        float p[3];
        scenes::position(scene.bodies[k], p);
        EXPECT_LT(std::hypot(p[0] - start[k][0], p[2] - start[k][1]), 1e-3f) << "body " << k;
        EXPECT_NEAR(p[1], c.lowest, 0.01f) << "body " << k;
    }
}

// The capsule lies along x, the chamfer cylinder stands on its rim like a
// wheel (its axis along x) or lies on a flat face.
const float kAxisUp[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

INSTANTIATE_TEST_SUITE_P(
    Shapes, RoundBodiesResting,
    ::testing::Values(
        RestingCase{"Sphere", [](dgWorld* w) { return dgCreateSphere(w, 0.5f, 0.5f, 0.5f, nullptr); }, 0.5f},
        RestingCase{"SmallSphere", [](dgWorld* w) { return dgCreateSphere(w, 0.3f, 0.3f, 0.3f, nullptr); },
                    0.3f},
        RestingCase{"Capsule", [](dgWorld* w) { return dgCreateCapsule(w, 0.3f, 1.5f, nullptr); }, 0.3f},
        RestingCase{"Ellipse", [](dgWorld* w) { return dgCreateSphere(w, 0.5f, 0.3f, 0.4f, nullptr); }, 0.3f},
        RestingCase{"Wheel", [](dgWorld* w) { return dgCreateChamferCylinder(w, 0.5f, 0.3f, nullptr); },
                    0.5f},
        RestingCase{"ChamferOnItsFace",
                    [](dgWorld* w) { return dgCreateChamferCylinder(w, 0.5f, 0.3f, kAxisUp); }, 0.15f}),
    [](const ::testing::TestParamInfo<RestingCase>& info) { return std::string(info.param.name); });

}  // namespace

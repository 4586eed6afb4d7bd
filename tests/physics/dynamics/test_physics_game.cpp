// The game's use of the engine, through the public header alone: a tree
// floor, boxes in three material groups with begin, process and end
// callbacks and force callbacks, stepped 1,000 times by 0.02 s.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "GameTerrain.h"
#include "dgPhysics.h"

namespace {

constexpr float kGravity = 10.0f;
constexpr int32_t kSide = 8;
constexpr float kCell = 5.0f;

void applyGravity(dgBody* body) {
    float mass;
    float ixx;
    float iyy;
    float izz;
    dgBodyGetMassMatrix(body, &mass, &ixx, &iyy, &izz);
    const float force[3] = {0.0f, -kGravity * mass, 0.0f};
    dgBodySetForce(body, force);
}

// The order of callbacks of one pair within a step: begin, processes, end.
struct CallbackLog {
    int32_t begins = 0;
    int32_t processes = 0;
    int32_t ends = 0;
    int32_t open = 0;
    int32_t outOfOrder = 0;
    int32_t badNormals = 0;
};
CallbackLog g_log;

int32_t onBegin(dgMaterialPair* material, dgBody*, dgBody*) {
    ++g_log.begins;
    if (g_log.open != 0 || dgMaterialGetPairUserData(material) != &g_log) {
        ++g_log.outOfOrder;
    }
    g_log.open = 1;
    return 1;
}

int32_t onProcess(dgMaterialPair* material, dgContact*) {
    ++g_log.processes;
    if (g_log.open != 1) {
        ++g_log.outOfOrder;
    }
    float position[3];
    float normal[3];
    dgMaterialGetContactPositionAndNormal(material, position, normal);
    const float length2 = normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2];
    if (!(std::fabs(length2 - 1.0f) < 1e-3f)) {
        ++g_log.badNormals;
    }
    return 1;
}

void onEnd(dgMaterialPair*) {
    ++g_log.ends;
    if (g_log.open != 1) {
        ++g_log.outOfOrder;
    }
    g_log.open = 0;
}

// A gently rolling floor of two triangles a cell, centred on the origin.
float floorHeight(float x, float z) {
    return 0.5f * std::sin(0.2f * x) * std::cos(0.15f * z);
}

dgCollision* buildFloor(dgWorld* world) {
    dgCollision* tree = dgCreateTreeCollision(world, nullptr);
    dgTreeCollisionBeginBuild(tree);
    const float origin = -0.5f * kSide * kCell;
    auto vertex = [origin](int32_t i, int32_t j, float* out) {
        out[0] = origin + kCell * float(i);
        out[2] = origin + kCell * float(j);
        out[1] = floorHeight(out[0], out[2]);
    };
    for (int32_t j = 0; j < kSide; ++j) {
        for (int32_t i = 0; i < kSide; ++i) {
            float face[9];
            vertex(i, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 3 * sizeof(float), 1);
            vertex(i + 1, j, face);
            vertex(i, j + 1, face + 3);
            vertex(i + 1, j + 1, face + 6);
            dgTreeCollisionAddFace(tree, 3, face, 3 * sizeof(float), 1);
        }
    }
    dgTreeCollisionEndBuild(tree, 0);
    return tree;
}

bool finite3(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

TEST(GameScene, DebrisFallsSettlesAboveTheFloorAndCallbacksComeInOrder) {
    g_log = CallbackLog();
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    ASSERT_NE(world, nullptr);
    dgWorldSetMinimumFrameRate(world, 30.0f);
    const uint32_t ground = dgMaterialGetDefaultGroupId(world);
    dgMaterialSetDefaultFriction(world, ground, ground, 0.8f, 0.4f);
    dgMaterialSetDefaultElasticity(world, ground, ground, 0.3f);
    dgMaterialSetDefaultSoftness(world, ground, ground, 0.05f);
    uint32_t groups[3];
    for (uint32_t& group : groups) {
        group = dgMaterialCreateGroupId(world);
    }
    for (uint32_t a : groups) {
        dgMaterialSetCollisionCallback(world, a, ground, &g_log, onBegin, onProcess, onEnd);
        for (uint32_t b : groups) {
            dgMaterialSetCollisionCallback(world, a, b, &g_log, onBegin, onProcess, onEnd);
        }
    }

    dgCollision* floorShape = buildFloor(world);
    dgBody* floor = dgCreateBody(world, floorShape);
    dgReleaseCollision(world, floorShape);
    ASSERT_NE(floor, nullptr);

    std::vector<dgBody*> debris;
    dgCollision* box = dgCreateBox(world, 1.0f, 0.6f, 1.4f, nullptr);
    for (int32_t i = 0; i < 24; ++i) {
        dgBody* body = dgCreateBody(world, box);
        dgBodySetMassMatrix(body, 2.0f, 0.4f, 0.5f, 0.25f);
        dgBodySetMaterialGroupId(body, groups[i % 3]);
        dgBodySetForceAndTorqueCallback(body, applyGravity);
        const float x = -6.0f + 3.0f * float(i % 5);
        const float z = -6.0f + 3.0f * float((i / 5) % 5);
        const float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, 3.0f + 1.5f * float(i % 4), z, 1};
        dgBodySetMatrix(body, matrix);
        const float spin[3] = {0.3f * float(i % 3), 0.0f, 0.2f};
        dgBodySetOmega(body, spin);
        debris.push_back(body);
    }
    dgReleaseCollision(world, box);

    for (int32_t step = 0; step < 1000; ++step) {
        dgWorldUpdate(world, 0.02f);
        ASSERT_EQ(g_log.open, 0) << "a pair's end callback is missing in step " << step;
    }

    EXPECT_GT(g_log.begins, 0);
    EXPECT_GT(g_log.processes, 0);
    EXPECT_EQ(g_log.begins, g_log.ends);
    EXPECT_EQ(g_log.outOfOrder, 0);
    EXPECT_EQ(g_log.badNormals, 0);
    for (dgBody* body : debris) {
        float matrix[16];
        float velocity[3];
        dgBodyGetMatrix(body, matrix);
        dgBodyGetVelocity(body, velocity);
        ASSERT_TRUE(finite3(matrix + 12) && finite3(velocity));
        // Resting on the floor: the centre above the surface by at most the
        // box's half diagonal, and below it by nothing.
        const float surface = floorHeight(matrix[12], matrix[14]);
        EXPECT_GT(matrix[13], surface + 0.2f);
        EXPECT_LT(matrix[13], surface + 3.0f);
        EXPECT_LT(velocity[0] * velocity[0] + velocity[1] * velocity[1] + velocity[2] * velocity[2], 0.01f);
    }
    dgWorldDestroy(world);
}

// ---- ships and torpedoes driven and thrown at the game's sea floor ----

namespace {

// The game keeps the first contact point of a pair in each pass: its
// process callback drops the others until the next begin.
bool g_firstPointOnly = false;
bool g_pointTaken = false;

int32_t onSwarmBegin(dgMaterialPair*, dgBody*, dgBody*) {
    g_pointTaken = false;
    return 1;
}

int32_t onSwarmProcess(dgMaterialPair*, dgContact*) {
    const bool keep = !(g_firstPointOnly && g_pointTaken);
    g_pointTaken = true;
    return keep ? 1 : 0;
}

// Thrust (m/s^2, the user data) along the box's own z axis, and the spin
// damped each step as a ship steers.
void driveBox(dgBody* body) {
    float mass;
    float inertia[3];
    dgBodyGetMassMatrix(body, &mass, &inertia[0], &inertia[1], &inertia[2]);
    float matrix[16];
    dgBodyGetMatrix(body, matrix);
    const float push = *static_cast<const float*>(dgBodyGetUserData(body)) * mass;
    const float force[3] = {matrix[8] * push, matrix[9] * push, matrix[10] * push};
    dgBodySetForce(body, force);
    float omega[3];
    dgBodyGetOmega(body, omega);
    const float spin[3] = {omega[0] * 0.95f, omega[1] * 0.95f, omega[2] * 0.95f};
    dgBodySetOmega(body, spin);
}

// Highest point of the floor over x0..x1, z0..z1: its corners there and
// samples a metre apart.
float highestSurface(const std::vector<uint16_t>& map, float x0, float z0, float x1, float z1) {
    const float cell = gameterrain::kScaleXZ;
    float top = -1.0e30f;
    for (float x = x0; x < x1 + 1.0f; x += 1.0f) {
        for (float z = z0; z < z1 + 1.0f; z += 1.0f) {
            top = std::max(top, gameterrain::surfaceHeight(map, std::min(x, x1), std::min(z, z1)));
        }
    }
    for (float x = cell * std::ceil(x0 / cell); x <= x1; x += cell) {
        for (float z = cell * std::ceil(z0 / cell); z <= z1; z += cell) {
            top = std::max(top, gameterrain::surfaceHeight(map, x, z));
        }
    }
    return top;
}

}  // namespace

// Boxes of a ship's and a torpedo's size, thrown (spinning, no thrust) or
// driven along their own axis, from random poses just clear of the floor, in
// the game's set-up (ship and level groups, friction 0.8 / 0.4, elasticity
// 0.3, softness 0.05, steps of 1/60 s), for eight seconds. None may end under
// the floor: under means the centre lies below the surface height at its
// x, z by more than the box's smallest half extent (a box resting or pressed
// on any slope keeps its centre above the surface).
TEST(GameScene, NoShipOrTorpedoEndsUnderTheSeaFloor) {
    const std::vector<uint16_t> map =
        gameterrain::loadHeightMap(TARNWELL_MEDIA_DIR "/terrain/map257x257.raw");
    ASSERT_FALSE(map.empty());
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgWorldSetMinimumFrameRate(world, 30.0f);
    const uint32_t ground = dgMaterialGetDefaultGroupId(world);
    dgMaterialSetDefaultFriction(world, ground, ground, 0.8f, 0.4f);
    dgMaterialSetDefaultElasticity(world, ground, ground, 0.3f);
    dgMaterialSetDefaultSoftness(world, ground, ground, 0.05f);
    const uint32_t ships = dgMaterialCreateGroupId(world);
    dgMaterialCreateGroupId(world);
    const uint32_t level = dgMaterialCreateGroupId(world);
    dgMaterialSetDefaultCollidable(world, ships, ships, 0);
    dgMaterialSetCollisionCallback(world, ships, level, nullptr, onSwarmBegin, onSwarmProcess, nullptr);
    dgBodySetMaterialGroupId(gameterrain::createLevelBody(world, map), level);

    const struct {
        bool continuous;
        float maxSpeed;
        bool firstPointOnly;
    } settings[] = {{false, 30.0f, true}, {false, 30.0f, false}, {true, 150.0f, true}, {true, 150.0f, false}};
    const float sizes[3][4] = {{6, 3, 10, 10}, {36, 10, 16, 100}, {0.5f, 0.5f, 2, 1}};
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (const auto& setting : settings) {
        g_firstPointOnly = setting.firstPointOnly;
        std::mt19937 rng(setting.continuous ? 5 : 6);
        std::vector<dgBody*> bodies;
        std::vector<float> thrust(360);
        for (size_t k = 0; k < thrust.size(); k++) {
            const float* s = sizes[k % 3];
            dgCollision* box = dgCreateBox(world, s[0], s[1], s[2], nullptr);
            dgBody* body = dgCreateBody(world, box);
            dgReleaseCollision(world, box);
            bodies.push_back(body);
            dgBodySetMaterialGroupId(body, ships);
            dgBodySetMassMatrix(body, s[3], s[3] * (s[1] * s[1] + s[2] * s[2]),
                                s[3] * (s[0] * s[0] + s[2] * s[2]), s[3] * (s[0] * s[0] + s[1] * s[1]));
            const float angles[3] = {6.2831853f * u(rng), 6.2831853f * u(rng), 6.2831853f * u(rng)};
            float m[16];
            dgSetEulerAngles(angles, m);
            float e[3];
            for (int32_t a = 0; a < 3; a++) {
                e[a] =
                    0.5f * (std::fabs(m[a]) * s[0] + std::fabs(m[4 + a]) * s[1] + std::fabs(m[8 + a]) * s[2]);
            }
            m[12] = 400.0f + 4300.0f * u(rng);
            m[14] = 400.0f + 4300.0f * u(rng);
            m[13] = highestSurface(map, m[12] - e[0], m[14] - e[2], m[12] + e[0], m[14] + e[2]) + e[1] +
                    0.1f + 2.0f * u(rng);
            dgBodySetMatrix(body, m);
            thrust[k] = (k % 2 == 0) ? 5.0f + 15.0f * u(rng) : 0.0f;
            dgBodySetUserData(body, &thrust[k]);
            dgBodySetForceAndTorqueCallback(body, driveBox);
            dgBodySetLinearDamping(body, 0.5f);
            const float damping[3] = {0.05f, 0.05f, 0.05f};
            dgBodySetAngularDamping(body, damping);
            dgBodySetAutoFreeze(body, 0);
            dgWorldUnfreezeBody(world, body);
            dgBodySetContinuousCollisionMode(body, setting.continuous ? 1 : 0);
            // Driven boxes start along their axis, thrown ones spinning at
            // the floor.
            const float speed = setting.maxSpeed * u(rng);
            const float down = 0.2f + 0.8f * u(rng);
            const float heading = 6.2831853f * u(rng);
            const float across = std::sqrt(1.0f - down * down);
            const float thrown[3] = {across * std::cos(heading), -down, across * std::sin(heading)};
            const float* dir = (thrust[k] > 0.0f) ? m + 8 : thrown;
            const float velocity[3] = {dir[0] * speed, dir[1] * speed, dir[2] * speed};
            dgBodySetVelocity(body, velocity);
            if (thrust[k] == 0.0f) {
                const float spin[3] = {4.0f * u(rng) - 2.0f, 4.0f * u(rng) - 2.0f, 4.0f * u(rng) - 2.0f};
                dgBodySetOmega(body, spin);
            }
        }
        for (int32_t step = 0; step < 480; step++) {
            dgWorldUpdate(world, 1.0f / 60.0f);
        }
        int32_t under = 0;
        for (size_t k = 0; k < bodies.size(); k++) {
            float m[16];
            dgBodyGetMatrix(bodies[k], m);
            const float* s = sizes[k % 3];
            const float margin = 0.5f * std::min({s[0], s[1], s[2]});
            under += (m[13] < gameterrain::surfaceHeight(map, m[12], m[14]) - margin) ? 1 : 0;
            dgDestroyBody(world, bodies[k]);
        }
        EXPECT_EQ(under, 0) << "continuous " << setting.continuous << ", first point only "
                            << setting.firstPointOnly;
    }
    dgWorldDestroy(world);
}

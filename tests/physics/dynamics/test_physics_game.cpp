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
    gameterrain::applyGameWorldValues(world);
    const uint32_t ground = dgMaterialGetDefaultGroupId(world);
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
    gameterrain::applyGameWorldValues(world);
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
            dgBody* body = gameterrain::createBoxBody(world, s, s[3]);
            bodies.push_back(body);
            dgBodySetMaterialGroupId(body, ships);
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

// ---- what the sea floor's contacts say against how far it reaches in ----

namespace {

struct Vec3 {
    double x, y, z;
};

Vec3 minus(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// How far a triangle reaches into a box, as the shortest move that parts
// them (separating axes in double: the face normal, the box's axes and the
// products of those with the triangle's edges); 0 or less when apart.
double triangleOverlap(const float* m, const float* size, const Vec3* t) {
    const Vec3 centre = {m[12], m[13], m[14]};
    const Vec3 axis[3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
    const Vec3 edge[3] = {minus(t[1], t[0]), minus(t[2], t[1]), minus(t[0], t[2])};
    std::vector<Vec3> tests = {cross(edge[0], edge[1]), axis[0], axis[1], axis[2]};
    for (const Vec3& a : axis) {
        for (const Vec3& e : edge) {
            tests.push_back(cross(a, e));
        }
    }
    double least = 1.0e30;
    for (const Vec3& candidate : tests) {
        const double length = std::sqrt(dot(candidate, candidate));
        if (length < 1.0e-9) {
            continue;
        }
        const Vec3 n = {candidate.x / length, candidate.y / length, candidate.z / length};
        double reach = 0.0;
        for (int32_t a = 0; a < 3; a++) {
            reach += 0.5 * double(size[a]) * std::fabs(dot(axis[a], n));
        }
        const double c = dot(centre, n);
        double lo = 1.0e30;
        double hi = -1.0e30;
        for (int32_t i = 0; i < 3; i++) {
            lo = std::min(lo, dot(t[i], n));
            hi = std::max(hi, dot(t[i], n));
        }
        least = std::min(least, std::min(hi - (c - reach), (c + reach) - lo));
    }
    return least;
}

// The most any face of the level body reaches into the box.
double deepestFaceOverlap(const std::vector<uint16_t>& map, const float* m, const float* size) {
    const double reach = 0.5 * double(size[0] + size[1] + size[2]);
    const double cell = gameterrain::kScaleXZ;
    auto corner = [&](int32_t i, int32_t j) {
        float v[3];
        gameterrain::vertex(map, i, j, v);
        return Vec3{v[0], double(v[1]) + gameterrain::kOffsetY, v[2]};
    };
    double deepest = 0.0;
    for (int32_t i = int32_t((m[12] - reach) / cell); i <= int32_t((m[12] + reach) / cell); i++) {
        for (int32_t j = int32_t((m[14] - reach) / cell); j <= int32_t((m[14] + reach) / cell); j++) {
            const Vec3 first[3] = {corner(i + 1, j), corner(i, j), corner(i + 1, j + 1)};
            const Vec3 second[3] = {corner(i + 1, j + 1), corner(i, j), corner(i, j + 1)};
            deepest = std::max({deepest, triangleOverlap(m, size, first), triangleOverlap(m, size, second)});
        }
    }
    return deepest;
}

}  // namespace

// Ship- and torpedo-sized boxes settled into the game's sea floor as a
// resting body may be (along the surface's normal under them, tilted a
// little, any heading, up to 1.5 m in): the deepest contact must push at
// least as far as the face that reaches deepest into the box would need to
// be moved to part from it, less the contact skin. The first pose is one a
// soak run left 0.6 m in, across a ridge of two faces whose neighbours rise.
TEST(GameScene, SeaFloorContactsReachAsDeepAsTheFloorReachesIntoABox) {
    const std::vector<uint16_t> map =
        gameterrain::loadHeightMap(TARNWELL_MEDIA_DIR "/terrain/map257x257.raw");
    ASSERT_FALSE(map.empty());
    dgWorld* world = dgWorldCreate(nullptr, nullptr);
    dgCollision* tree = gameterrain::buildTree(world, map);
    const float treeMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, gameterrain::kOffsetY, 0, 1};
    const float sizes[3][3] = {{6, 3, 10}, {36, 10, 16}, {0.5f, 0.5f, 3}};
    dgCollision* boxes[3];
    for (int32_t k = 0; k < 3; k++) {
        boxes[k] = dgCreateBox(world, sizes[k][0], sizes[k][1], sizes[k][2], nullptr);
    }
    const float recorded[16] = {0.390600324f, 0.439428836f, -0.808909118f, 0,
                                -0.596849799f, 0.789886117f, 0.140892282f, 0,
                                0.700858057f, 0.427764654f, 0.570802689f, 0,
                                1193.40027f, -3772.04053f, 1819.25879f, 1};
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    int32_t checked = 0;
    int32_t shallow = 0;
    double worst = 0.0;
    for (int32_t trial = 0; trial < 4000; trial++) {
        const int32_t kind = (trial == 0) ? 1 : trial % 3;
        const float* s = sizes[kind];
        float m[16];
        if (trial == 0) {
            std::copy(recorded, recorded + 16, m);
        } else {
            const float x = 400.0f + 4300.0f * u(rng);
            const float z = 400.0f + 4300.0f * u(rng);
            const double hx =
                0.5 * (gameterrain::surfaceHeight(map, x + 1, z) - gameterrain::surfaceHeight(map, x - 1, z));
            const double hz =
                0.5 * (gameterrain::surfaceHeight(map, x, z + 1) - gameterrain::surfaceHeight(map, x, z - 1));
            const double length = std::sqrt(hx * hx + 1.0 + hz * hz);
            const Vec3 up = {-hx / length, 1.0 / length, -hz / length};
            const Vec3 side = (std::fabs(up.x) > 0.9) ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
            Vec3 back = cross(side, up);
            const double backLength = std::sqrt(dot(back, back));
            back = {back.x / backLength, back.y / backLength, back.z / backLength};
            const Vec3 frame[3] = {cross(up, back), up, back};
            const float angles[3] = {0.1f * (u(rng) - 0.5f), 6.2831853f * u(rng), 0.1f * (u(rng) - 0.5f)};
            float turn[16];
            dgSetEulerAngles(angles, turn);
            for (int32_t row = 0; row < 3; row++) {
                m[4 * row] = float(turn[4 * row] * frame[0].x + turn[4 * row + 1] * frame[1].x +
                                   turn[4 * row + 2] * frame[2].x);
                m[4 * row + 1] = float(turn[4 * row] * frame[0].y + turn[4 * row + 1] * frame[1].y +
                                       turn[4 * row + 2] * frame[2].y);
                m[4 * row + 2] = float(turn[4 * row] * frame[0].z + turn[4 * row + 1] * frame[1].z +
                                       turn[4 * row + 2] * frame[2].z);
                m[4 * row + 3] = 0.0f;
            }
            const float halfHeight =
                0.5f * (std::fabs(m[1]) * s[0] + std::fabs(m[5]) * s[1] + std::fabs(m[9]) * s[2]);
            m[12] = x;
            m[13] = gameterrain::surfaceHeight(map, x, z) + halfHeight - 1.5f * u(rng);
            m[14] = z;
            m[15] = 1.0f;
        }
        const double overlap = deepestFaceOverlap(map, m, s);
        if (overlap < 0.02 || overlap > 1.0) {
            continue;
        }
        checked++;
        float points[3 * 128];
        float normals[3 * 128];
        float depths[128];
        const int32_t n =
            dgCollisionCollide(world, 128, boxes[kind], m, tree, treeMatrix, points, normals, depths);
        double deepest = 0.0;
        for (int32_t i = 0; i < n; i++) {
            deepest = std::max(deepest, double(depths[i]));
        }
        const double shortfall = overlap - 1.0 / 128.0 - deepest;
        if (shortfall > 0.01) {
            shallow++;
            worst = std::max(worst, shortfall);
        }
    }
    EXPECT_GT(checked, 1000);
    EXPECT_EQ(shallow, 0) << "of " << checked << " poses; worst by " << worst << " m";
    for (dgCollision* box : boxes) {
        dgReleaseCollision(world, box);
    }
    dgReleaseCollision(world, tree);
    dgWorldDestroy(world);
}
